#include "base/strutil.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

#include "base/checked.h"
#include "base/cpufeatures.h"
#include "base/strutil_detail.h"
#include "base/textenc.h"
#include "base/treelist.h"

// ---------------------------------------------------------------------------
// Block kernels

namespace strutil_detail {

namespace {

inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

#if defined(__SSE2__)
// Bytes of v that are A-Z as 0xFF, others 0: signed compares, and every byte
// from 0x80 up is negative, so it is never taken for a capital.
inline __m128i capitals(__m128i v) {
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
}
#endif

}  // namespace

long long asciiRun(const char* s, long long n) {
    long long i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
        if (high) return i + __builtin_ctz(static_cast<unsigned>(high));
    }
#endif
    while (i < n && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    return i;
}

void lowerAscii(char* s, long long n) {
    long long i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        __m128i* at = reinterpret_cast<__m128i*>(s + i);
        const __m128i v = _mm_loadu_si128(at);
        _mm_storeu_si128(at, _mm_add_epi8(v, _mm_and_si128(capitals(v), _mm_set1_epi8(32))));
    }
#endif
    for (; i < n; ++i) s[i] = foldAscii(s[i]);
}

long long lowerAsciiUnits(unsigned short* w, long long n) {
    long long i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        __m128i* at = reinterpret_cast<__m128i*>(w + i);
        const __m128i v = _mm_loadu_si128(at);
        // Units from 0x80 up end the run; below it a unit is a byte, and the
        // 16-bit compares keep the high byte's 0 out of the capitals' range.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi16(v, 7), _mm_setzero_si128())) != 0xFFFF) break;
        const __m128i caps = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16('A' - 1)),
                                           _mm_cmplt_epi16(v, _mm_set1_epi16('Z' + 1)));
        _mm_storeu_si128(at, _mm_add_epi16(v, _mm_and_si128(caps, _mm_set1_epi16(32))));
    }
#endif
    for (; i < n && w[i] < 0x80; ++i) {
        if (w[i] >= 'A' && w[i] <= 'Z') w[i] = static_cast<unsigned short>(w[i] + 32);
    }
    return i;
}

namespace {

// Whether the needle matches at `at`, every byte folded.
inline bool matchesAt(const char* at, const char* needle, long long n) {
    for (long long j = 0; j < n; ++j) {
        if (foldAscii(at[j]) != foldAscii(needle[j])) return false;
    }
    return true;
}

// The same past the first bytes, which are known to match.
inline bool restMatches(const char* hay, const char* needle, long long n) {
    return matchesAt(hay + 1, needle + 1, n - 1);
}

}  // namespace

const char* findFoldedPlain(const char* hay, long long hayLen, const char* needle, long long needleLen) {
    const char first = foldAscii(needle[0]);
    for (long long i = 0; i + needleLen <= hayLen; ++i) {
        if (foldAscii(hay[i]) == first && restMatches(hay + i, needle, needleLen)) return hay + i;
    }
    return nullptr;
}

namespace {

// A byte equals a folded needle byte t when (byte | m) == t, where m is 0x20
// for a letter (both cases of it then pass) and 0 for anything else.
inline char letterBit(char c) { return static_cast<char>((c >= 'a' && c <= 'z') ? 0x20 : 0); }

const char* findFoldedSse2(const char* hay, long long hayLen, const char* needle, long long needleLen) {
    const long long last = hayLen - needleLen;  // the last possible start
    long long i = 0;
#if defined(__SSE2__)
    // Candidates are the starts where the first two bytes pass; the loads of
    // the second byte reach start + 16, which lies inside hay as long as
    // start + 15 is a possible start and the needle is two bytes or longer.
    const char f0 = foldAscii(needle[0]);
    const char f1 = needleLen > 1 ? foldAscii(needle[1]) : 0;
    const __m128i t0 = _mm_set1_epi8(f0), m0 = _mm_set1_epi8(letterBit(f0));
    const __m128i t1 = _mm_set1_epi8(f1), m1 = _mm_set1_epi8(letterBit(f1));
    for (; i + 15 <= last; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
        __m128i hit = _mm_cmpeq_epi8(_mm_or_si128(a, m0), t0);
        if (needleLen > 1) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + 1));
            hit = _mm_and_si128(hit, _mm_cmpeq_epi8(_mm_or_si128(b, m1), t1));
        }
        unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
        while (bits) {
            const long long at = i + __builtin_ctz(bits);
            if (restMatches(hay + at, needle, needleLen)) return hay + at;
            bits &= bits - 1;
        }
    }
#endif
    return findFoldedPlain(hay + i, hayLen - i, needle, needleLen);
}


#if defined(__x86_64__)

// The needle's first, second and last bytes folded; a start is a candidate
// when all three pass.  Three bytes, two of them far apart, leave few false
// candidates on text, and each costs a call and a mispredicted branch.  A
// one-byte needle has no second byte: its first is probed twice.  A byte
// passes when it differs from the needle's in bit 0x20 at most: both cases
// of a letter pass, and so does a byte 0x20 away from a needle byte that is
// no letter ('\r' for '-'), which verification, comparing every byte of the
// needle exactly, turns away.  Differences of the three combine with
// bitwise or, and one compare then serves them all.
struct sProbe256 {
    __m256i t0, t1, tl;
    long long second;
};

__attribute__((target("avx2"))) sProbe256 probe256(const char* needle, long long lastOffset) {
    return {_mm256_set1_epi8(foldAscii(needle[0])), _mm256_set1_epi8(foldAscii(needle[lastOffset ? 1 : 0])),
            _mm256_set1_epi8(foldAscii(needle[lastOffset])), lastOffset ? 1 : 0};
}

// The three bytes' differences for the 32 starts from at, bit 0x20 cleared;
// the loads reach at + 31 + lastOffset.
__attribute__((target("avx2"), always_inline)) inline __m256i difference32(const char* at, long long lastOffset,
                                                                          const sProbe256& p) {
    const __m256i a = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), p.t0);
    const __m256i b = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.second)), p.t1);
    const __m256i c = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + lastOffset)), p.tl);
    return _mm256_and_si256(_mm256_or_si256(_mm256_or_si256(a, b), c), _mm256_set1_epi8(static_cast<char>(0xDF)));
}

__attribute__((target("avx2"), always_inline)) inline unsigned zeroBytes32(__m256i x) {
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_setzero_si256())));
}

template <typename Bits>
const char* firstMatch(const char* at, Bits bits, const char* needle, long long needleLen) {
    for (; bits; bits &= bits - 1) {
        if (matchesAt(at + __builtin_ctzll(bits), needle, needleLen)) return at + __builtin_ctzll(bits);
    }
    return nullptr;
}

// 64 starts a round, as two vectors whose zero bytes one compare finds: the
// lesser of two bytes is 0 when either is.  The rounds start on a multiple
// of 64, where the first byte's loads touch one cache line each.
__attribute__((target("avx2"), always_inline)) inline const char* round64(const char* at, const char* needle,
                                                                          long long needleLen, const sProbe256& p) {
    const __m256i lo = difference32(at, needleLen - 1, p), hi = difference32(at + 32, needleLen - 1, p);
    if (zeroBytes32(_mm256_min_epu8(lo, hi)) == 0) return nullptr;
    const unsigned long long bits = zeroBytes32(lo) | static_cast<unsigned long long>(zeroBytes32(hi)) << 32;
    return firstMatch(at, bits, needle, needleLen);
}

__attribute__((target("avx2"))) const char* findFoldedAvx2(const char* hay, long long hayLen, const char* needle,
                                                           long long needleLen) {
    const long long last = hayLen - needleLen;
    const long long lastOffset = needleLen - 1;
    const sProbe256 p = probe256(needle, lastOffset);
    if (last < 63) {
        // Up to 63 starts: 32 at a time, the last 32 overlapping starts
        // already seen to hold no match; fewer than 32 the narrower way.
        if (last < 31) return findFoldedSse2(hay, hayLen, needle, needleLen);
        if (const char* found = firstMatch(hay, zeroBytes32(difference32(hay, lastOffset, p)), needle, needleLen))
            return found;
        return firstMatch(hay + last - 31, zeroBytes32(difference32(hay + last - 31, lastOffset, p)), needle,
                          needleLen);
    }
    // The first round as the hay lies, then on from the next multiple of 64
    // and a last round over the last 64 starts: starts seen twice hold no
    // match the second time.
    if (const char* found = round64(hay, needle, needleLen, p)) return found;
    long long i = 64 - static_cast<long long>(reinterpret_cast<unsigned long long>(hay) & 63);
    for (; i + 63 <= last; i += 64) {
        if (const char* found = round64(hay + i, needle, needleLen, p)) return found;
    }
    return i > last ? nullptr : round64(hay + last - 63, needle, needleLen, p);
}

// The search in a string that ends at its first NUL, in one pass: the loads
// of the first byte are the string's 64-byte blocks, and the same loads tell
// where the string ends.  The round over the starts of block B reads up to
// B + 63 + lastOffset, inside block B + 64 while lastOffset is 64 at most;
// that block holds string bytes, and so lies in a readable page, once B is
// seen to hold no NUL.  So the NUL test runs a block ahead of the round, on
// the next block's aligned loads, which the round after takes as its first
// bytes.  Once the NUL is found, the starts left (those of its block) are
// searched with the length known: as the string's last 64 starts in one
// round where the string is that long, else by the length-known search.
//
// The loads read bytes before hay in its block and after the NUL in the
// NUL's block, never beyond, and so never in another page.  AddressSanitizer
// would take them for reads outside the string, so this function is not
// instrumented.  No result
// depends on those bytes: starts before hay are masked away, the NUL taken
// is the first from hay on, and a candidate whose needle would reach past
// the NUL fails verification at the NUL (the needle holds none), which
// stops there.
// The longest reach of a one-pass round's loads past its block.
constexpr long long kOnePassLastOffset = 64;

__attribute__((target("avx2"), always_inline)) inline __m256i difference32From(__m256i first, const char* at,
                                                                              long long lastOffset,
                                                                              const sProbe256& p) {
    const __m256i a = _mm256_xor_si256(first, p.t0);
    const __m256i b = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + p.second)), p.t1);
    const __m256i c = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + lastOffset)), p.tl);
    return _mm256_and_si256(_mm256_or_si256(_mm256_or_si256(a, b), c), _mm256_set1_epi8(static_cast<char>(0xDF)));
}

__attribute__((target("avx2"), always_inline)) inline unsigned long long zeroBytes64(__m256i lo, __m256i hi) {
    return zeroBytes32(lo) | static_cast<unsigned long long>(zeroBytes32(hi)) << 32;
}

__attribute__((target("avx2"), no_sanitize_address)) const char* findFoldedTerminatedAvx2(const char* hay,
                                                                                          const char* needle,
                                                                                          long long needleLen) {
    const long long lastOffset = needleLen - 1;  // at most kOnePassLastOffset
    const unsigned skip = static_cast<unsigned>(reinterpret_cast<unsigned long long>(hay) & 63);
    const char* block = hay - skip;
    __m256i lo = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
    __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 32));
    const char* rest = hay;  // where the starts not yet tried begin
    unsigned long long end = zeroBytes64(lo, hi) >> skip;
    const sProbe256 p = probe256(needle, lastOffset);
    if (end == 0) {
        unsigned long long starts = ~0ULL << skip;
        for (;;) {
            const __m256i nextLo = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 64));
            const __m256i nextHi = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 96));
            const __m256i dLo = difference32From(lo, block, lastOffset, p);
            const __m256i dHi = difference32From(hi, block + 32, lastOffset, p);
            const __m256i least = _mm256_min_epu8(_mm256_min_epu8(dLo, dHi), _mm256_min_epu8(nextLo, nextHi));
            if (zeroBytes32(least)) {
                if (const char* found = firstMatch(block, zeroBytes64(dLo, dHi) & starts, needle, needleLen))
                    return found;
                end = zeroBytes64(nextLo, nextHi);
                if (end) {
                    rest = block + 64;
                    break;
                }
            }
            starts = ~0ULL;
            lo = nextLo;
            hi = nextHi;
            block += 64;
        }
    }
    const long long restLen = __builtin_ctzll(end);
    if (needleLen > restLen) return nullptr;
    // The last 64 starts in one round where the string holds them; those
    // before rest were tried and hold no match.
    const long long last = (rest - hay) + restLen - needleLen;
    if (last >= 63) return round64(hay + last - 63, needle, needleLen, p);
    return findFoldedAvx2(rest, restLen, needle, needleLen);
}

// The same with 64 starts a vector, where the processor has AVX-512BW, and
// built for Intel's cores, where the 512-bit work has fewer ports: every
// compare into a mask register runs on one of them, and a 64-byte load from an address that is
// not a multiple of 64 touches two cache lines.  So the three bytes are
// compared by difference, x = (a ^ t0) | (b ^ t1) | (c ^ tl), which takes an
// exclusive-or and two three-input logic operations, and a start is a
// candidate when x is 0 but for bit 0x20: one compare per 64 starts.  The
// first byte's loads are aligned.  Both cases of a letter pass the test, and
// so does any byte 0x20 away from a needle byte that is no letter ('\r' for
// '-'); verification compares every byte of the needle exactly.
struct sProbe512 {
    __m512i t0, t1, tl;
    long long second;
};

__attribute__((target("avx512f,avx512bw"))) sProbe512 probe512(const char* needle, long long lastOffset) {
    return {_mm512_set1_epi8(foldAscii(needle[0])), _mm512_set1_epi8(foldAscii(needle[lastOffset ? 1 : 0])),
            _mm512_set1_epi8(foldAscii(needle[lastOffset])), lastOffset ? 1 : 0};
}

// x for the 64 starts from at; the loads reach at + 63 + lastOffset.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i difference64(const char* at,
                                                                                      long long lastOffset,
                                                                                      const sProbe512& p) {
    const __m512i x = _mm512_xor_si512(_mm512_loadu_si512(at), p.t0);
    // 0xF6 is a | (b ^ c).
    const __m512i y = _mm512_ternarylogic_epi32(x, _mm512_loadu_si512(at + p.second), p.t1, 0xF6);
    return _mm512_ternarylogic_epi32(y, _mm512_loadu_si512(at + lastOffset), p.tl, 0xF6);
}

// The same for the starts in a mask, the others neither loaded nor taken.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i difference64(
    const char* at, long long lastOffset, const sProbe512& p, __mmask64 starts) {
    const __m512i x = _mm512_xor_si512(_mm512_maskz_loadu_epi8(starts, at), p.t0);
    const __m512i y = _mm512_ternarylogic_epi32(x, _mm512_maskz_loadu_epi8(starts, at + p.second), p.t1, 0xF6);
    return _mm512_ternarylogic_epi32(y, _mm512_maskz_loadu_epi8(starts, at + lastOffset), p.tl, 0xF6);
}

// The candidates among the 64 starts from at: x is 0 but for bit 0x20.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline unsigned long long candidates64(
    const char* at, long long lastOffset, const sProbe512& p) {
    return _mm512_testn_epi8_mask(difference64(at, lastOffset, p), _mm512_set1_epi8(static_cast<char>(0xDF)));
}

// A-Z become a-z.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i fold64(__m512i v) {
    const __mmask64 caps = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8('A')), _mm512_set1_epi8(26));
    return _mm512_mask_add_epi8(v, caps, v, _mm512_set1_epi8(32));
}

// Whether the needle matches at `at`, every byte folded, 64 bytes a step.
// The one-pass search of a C string verifies candidates whose needle reaches
// past the string's NUL, into the block after, which it has seen to be
// readable: the masked loads take the needle's length whole, and the
// compare fails at the NUL whatever follows it.  AddressSanitizer would take
// those bytes for reads outside the string, so this is not instrumented.
__attribute__((target("avx512f,avx512bw"), no_sanitize_address)) bool matchesAt64(const char* at,
                                                                                   const char* needle,
                                                                                   long long n) {
    for (long long off = 0; off < n; off += 64) {
        const __mmask64 k = n - off >= 64 ? ~0ULL : (1ULL << (n - off)) - 1;
        const __m512i h = fold64(_mm512_maskz_loadu_epi8(k, at + off));
        const __m512i s = fold64(_mm512_maskz_loadu_epi8(k, needle + off));
        if (_mm512_cmpneq_epi8_mask(h, s)) return false;
    }
    return true;
}

__attribute__((target("avx512f,avx512bw"))) const char* firstMatch64(const char* hay, long long base,
                                                                     unsigned long long bits, const char* needle,
                                                                     long long needleLen) {
    for (; bits; bits &= bits - 1) {
        const char* at = hay + base + __builtin_ctzll(bits);
        if (matchesAt64(at, needle, needleLen)) return at;
    }
    return nullptr;
}

__attribute__((target("avx512f,avx512bw"))) const char* findFoldedAvx512(const char* hay, long long hayLen,
                                                                         const char* needle, long long needleLen) {
    const long long last = hayLen - needleLen;
    const long long lastOffset = needleLen - 1;
    const sProbe512 p = probe512(needle, lastOffset);
    if (last < 63) {
        // Fewer than 64 starts: one block, the loads masked to the hay.
        const __mmask64 starts = (2ULL << last) - 1;
        const unsigned long long bits =
            _mm512_mask_testn_epi8_mask(starts, difference64(hay, lastOffset, p, starts),
                                        _mm512_set1_epi8(static_cast<char>(0xDF)));
        return firstMatch64(hay, 0, bits, needle, needleLen);
    }
    // The first block as it lies, then on from the next multiple of 64:
    // the starts the two have in common hold no match.
    if (const char* found = firstMatch64(hay, 0, candidates64(hay, lastOffset, p), needle, needleLen)) return found;
    long long i = 64 - static_cast<long long>(reinterpret_cast<unsigned long long>(hay) & 63);
    for (; i + 127 <= last; i += 128) {
        const unsigned long long lo = candidates64(hay + i, lastOffset, p);
        const unsigned long long hi = candidates64(hay + i + 64, lastOffset, p);
        if ((lo | hi) == 0) continue;
        if (const char* found = firstMatch64(hay, i, lo, needle, needleLen)) return found;
        if (const char* found = firstMatch64(hay, i + 64, hi, needle, needleLen)) return found;
    }
    // At most 127 starts are left: a block from i, and the last 64 starts,
    // which may overlap starts already seen to hold no match.
    if (i + 63 <= last) {
        if (const char* found = firstMatch64(hay, i, candidates64(hay + i, lastOffset, p), needle, needleLen))
            return found;
        i += 64;
    }
    if (i > last) return nullptr;
    return firstMatch64(hay, last - 63, candidates64(hay + last - 63, lastOffset, p), needle, needleLen);
}

// The one-pass search of a string that ends at its first NUL, as the AVX2
// form does it (the safety of its loads and why they are not instrumented
// are told there), 128 starts a round: the rounds take pairs of blocks from
// a multiple of 128, whose two aligned loads lie in one page, so that the
// one NUL test for a pair ahead costs a minimum and a compare.  Here the
// bytes read after the NUL reach the end of its 128-byte pair.  The starts
// of the pair that holds the NUL go to the length-known search, whose
// masked loads stop at the NUL.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline unsigned long long candidates64From(
    __m512i first, const char* at, long long lastOffset, const sProbe512& p) {
    const __m512i x = _mm512_xor_si512(first, p.t0);
    const __m512i y = _mm512_ternarylogic_epi32(x, _mm512_loadu_si512(at + p.second), p.t1, 0xF6);
    const __m512i d = _mm512_ternarylogic_epi32(y, _mm512_loadu_si512(at + lastOffset), p.tl, 0xF6);
    return _mm512_testn_epi8_mask(d, _mm512_set1_epi8(static_cast<char>(0xDF)));
}

// One round over the starts of the pair from `pair` that are in s0 and s1,
// the pair's bytes in r0 and r1 and seen to hold no NUL among those starts.
// Returns true when the search is over: *found is the match, or null with
// *rest and *restLen the starts left, the pair after this one holding the
// NUL.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline bool terminatedRound128(
    const char* pair, __m512i r0, __m512i r1, __m512i n0, __m512i n1, unsigned long long s0, unsigned long long s1,
    const char* needle, long long needleLen, const sProbe512& p, const char** found, long long* restLen) {
    const long long lastOffset = needleLen - 1;
    const unsigned long long c0 = candidates64From(r0, pair, lastOffset, p) & s0;
    const unsigned long long c1 = candidates64From(r1, pair + 64, lastOffset, p) & s1;
    const __m512i least = _mm512_min_epu8(n0, n1);
    const unsigned long long ends = _mm512_testn_epi8_mask(least, least);
    if ((c0 | c1 | ends) == 0) return false;
    if ((*found = firstMatch64(pair, 0, c0, needle, needleLen)) != nullptr) return true;
    if ((*found = firstMatch64(pair, 64, c1, needle, needleLen)) != nullptr) return true;
    if (ends == 0) return false;
    const unsigned long long z0 = _mm512_testn_epi8_mask(n0, n0);
    *restLen = z0 ? __builtin_ctzll(z0) : 64 + __builtin_ctzll(_mm512_testn_epi8_mask(n1, n1));
    return true;
}

__attribute__((target("avx512f,avx512bw"), no_sanitize_address)) const char* findFoldedTerminatedAvx512(
    const char* hay, const char* needle, long long needleLen) {
    const long long lastOffset = needleLen - 1;  // at most kOnePassLastOffset
    const unsigned skip = static_cast<unsigned>(reinterpret_cast<unsigned long long>(hay) & 127);
    const char* pair = hay - skip;
    __m512i r0 = _mm512_load_si512(pair), r1 = _mm512_load_si512(pair + 64);
    const unsigned long long s0 = skip < 64 ? ~0ULL << skip : 0;
    const unsigned long long s1 = skip < 64 ? ~0ULL : ~0ULL << (skip - 64);
    const unsigned long long z0 = _mm512_testn_epi8_mask(r0, r0) & s0;
    const unsigned long long z1 = _mm512_testn_epi8_mask(r1, r1) & s1;
    const char* rest = hay;
    long long restLen;
    if (z0 | z1) {
        restLen = (z0 ? __builtin_ctzll(z0) : 64 + __builtin_ctzll(z1)) - skip;
    } else {
        const sProbe512 p = probe512(needle, lastOffset);
        const char* found = nullptr;
        __m512i n0 = _mm512_load_si512(pair + 128), n1 = _mm512_load_si512(pair + 192);
        if (!terminatedRound128(pair, r0, r1, n0, n1, s0, s1, needle, needleLen, p, &found, &restLen)) {
            for (;;) {
                pair += 128;
                r0 = n0;
                r1 = n1;
                n0 = _mm512_load_si512(pair + 128);
                n1 = _mm512_load_si512(pair + 192);
                if (terminatedRound128(pair, r0, r1, n0, n1, ~0ULL, ~0ULL, needle, needleLen, p, &found, &restLen))
                    break;
            }
        }
        if (found) return found;
        rest = pair + 128;
    }
    return needleLen > restLen ? nullptr : findFoldedAvx512(rest, restLen, needle, needleLen);
}

#endif

}  // namespace

int foldedSearchWidth() {
#if defined(__x86_64__)
    return qor_cpu::hasAvx512bw() ? 64 : qor_cpu::hasAvx2() ? 32 : 16;
#else
    return 16;
#endif
}

const char* findFoldedWidth(int width, const char* hay, long long hayLen, const char* needle, long long needleLen) {
#if defined(__x86_64__)
    if (width >= 64) return findFoldedAvx512(hay, hayLen, needle, needleLen);
    if (width >= 32) return findFoldedAvx2(hay, hayLen, needle, needleLen);
#endif
    if (width >= 16) return findFoldedSse2(hay, hayLen, needle, needleLen);
    return findFoldedPlain(hay, hayLen, needle, needleLen);
}

const char* findFolded(const char* hay, long long hayLen, const char* needle, long long needleLen) {
    return findFoldedWidth(foldedSearchWidth(), hay, hayLen, needle, needleLen);
}

const char* findFoldedTerminatedWidth(int width, const char* hay, const char* needle, long long needleLen) {
#if defined(__x86_64__)
    // A round's loads reach the needle's last byte past its own block: one
    // block ahead at most, the block whose NUL test has run.  Longer needles
    // measure the string first.
    if (needleLen - 1 <= kOnePassLastOffset) {
        if (width >= 64) return findFoldedTerminatedAvx512(hay, needle, needleLen);
        if (width >= 32) return findFoldedTerminatedAvx2(hay, needle, needleLen);
    }
#endif
    const long long hayLen = static_cast<long long>(std::strlen(hay));
    return needleLen > hayLen ? nullptr : findFoldedWidth(width, hay, hayLen, needle, needleLen);
}

const char* findFoldedTerminated(const char* hay, const char* needle, long long needleLen) {
    return findFoldedTerminatedWidth(foldedSearchWidth(), hay, needle, needleLen);
}

}  // namespace strutil_detail

namespace {

constexpr int kUtf8 = 65001;

// ---------------------------------------------------------------------------
// Case maps

// One direction's table spread over the 256 blocks of 256 units that a unit's
// high byte selects.  Each block that holds a pair gets a row of 256 offsets
// (the mapped unit minus the unit, modulo 2^16); every other block shares row
// 0, which is all zeros.  A mapping is then two loads and an addition, for
// mapped and unmapped units alike.  The 973 pairs fall into 17 blocks, so a
// direction takes under 10 KiB.
//
// The map is built inside a function-local static, whose initialisation the
// language runs exactly once even when several threads ask for the first
// mapping at the same moment; afterwards it is only read.
class cCaseMap {
public:
    explicit cCaseMap(const unsigned short (*pairs)[2]) {
        std::memset(row_, 0, sizeof row_);
        std::memset(delta_, 0, sizeof delta_);
        int rows = 1;
        for (int i = 0; i < kCaseMapPairs; ++i) {
            const unsigned from = pairs[i][0];
            unsigned char& row = row_[from >> 8];
            if (row == 0) row = static_cast<unsigned char>(rows++);
            delta_[row][from & 0xFF] = static_cast<unsigned short>(pairs[i][1] - from);
        }
    }
    unsigned short map(unsigned short c) const {
        return static_cast<unsigned short>(c + delta_[row_[c >> 8]][c & 0xFF]);
    }

private:
    static constexpr int kMaxRows = 32;  // blocks holding pairs, plus row 0
    unsigned char row_[256];
    unsigned short delta_[kMaxRows][256];
};

// Inlined into every mapping: what remains of the first-use guard is one
// load and a branch.
__attribute__((always_inline)) inline const cCaseMap& lowerMap() {
    static const cCaseMap map(__acp_lowermap);
    return map;
}

__attribute__((always_inline)) inline const cCaseMap& upperMap() {
    static const cCaseMap map(__acp_uppermap);
    return map;
}

// Lowers n units in place: runs of ASCII eight at a time, the rest through
// the map.
void lowerUnits(unsigned short* w, long long n) {
    const cCaseMap& map = lowerMap();
    long long i = 0;
    while (i < n) {
        i += strutil_detail::lowerAsciiUnits(w + i, n - i);
        for (; i < n && w[i] >= 0x80; ++i) w[i] = map.map(w[i]);
    }
}

// In the ASCII range the tables hold exactly A-Z <-> a-z; answering those
// directly keeps the common case off the tree.
inline unsigned short asciiLower(unsigned short c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned short>(c + 32) : c; }
inline unsigned short asciiUpper(unsigned short c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned short>(c - 32) : c; }

template <typename T>
inline long long unitLength(const T* s) {
    return s ? static_cast<long long>(_guardchar<T>::length(s)) : 0;
}

template <typename T>
inline bool isBlank(T c) {
    return c == 0x09 || c == 0x0A || c == 0x0D || c == 0x20;
}

}  // namespace

unsigned short __acp_lower(unsigned short c) { return lowerMap().map(c); }
unsigned short __acp_upper(unsigned short c) { return upperMap().map(c); }

// Widened as a signed byte, every byte from 0x80 up lands on 0xFF80..0xFFFF,
// where neither table has an entry: only ASCII letters can change.
char __acp_lower(char c) { return static_cast<char>(asciiLower(static_cast<unsigned char>(c))); }
char __acp_upper(char c) { return static_cast<char>(asciiUpper(static_cast<unsigned char>(c))); }

bool __acp_isspace(char c) { return isBlank(c); }
bool __acp_isspace(unsigned short c) { return isBlank(c); }

bool __acp_lower(const _guardchar<char>& src, _guardchar<char>& dst) {
    if (src.empty()) return true;
    // Plain ASCII comes back from UTF-16 byte for byte, and only A-Z change
    // on the way: such text is lowered where it lies.
    const char* text = src.c_str();
    const long long bytes = static_cast<long long>(std::strlen(text));
    if (strutil_detail::asciiRun(text, bytes) == bytes) {
        _guardchar<char> lowered(text, bytes);
        strutil_detail::lowerAscii(lowered.get(), bytes);
        dst = std::move(lowered);
        return true;
    }
    _guardchar<unsigned short> wide;
    __a2w(src.c_str(), -1, wide, kUtf8);
    if (unsigned short* w = wide.get()) lowerUnits(w, _wcslen(w));
    _guardchar<char> lowered;
    __w2a(wide.c_str(), -1, lowered, kUtf8);
    dst = std::move(lowered);
    return true;
}

bool __acp_lower_a(const _guardchar<char>& src, _guardchar<char>& dst) { return __acp_lower(src, dst); }

bool __acp_lower_w(const _guardchar<unsigned short>& src, _guardchar<unsigned short>& dst) {
    dst.set(src.get());  // copies before freeing, so src may be dst
    unsigned short* w = dst.get();
    if (!w) return src.empty();
    lowerUnits(w, _wcslen(w));
    return true;
}

// ---------------------------------------------------------------------------
// Formatting and scanning

long long _wcslen(const unsigned short* s) { return unitLength(s); }

namespace strutil_detail {

namespace {

// Reads a run of decimal digits; false when it passes `most`.
template <typename C>
bool readCount(const C*& p, int most, int& value) {
    value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > most) return false;
    }
    return true;
}

// What the C library does with a buffer: everything is counted, the first
// cap - 1 units are kept.
template <typename C>
class cBoundedText {
public:
    cBoundedText(C* out, long long cap) : out_(out), keep_(cap - 1) {}
    void put(C c) {
        if (n_ < keep_) out_[n_] = c;
        ++n_;
    }
    void fill(C c, long long count) {
        for (long long i = 0; i < count; ++i) put(c);
    }
    long long length() const { return n_; }
    void terminate() { out_[std::min(n_, keep_)] = 0; }

private:
    C* out_;
    long long keep_;
    long long n_ = 0;
};

// 16-bit text takes 8-bit arguments as UTF-8: only ASCII widens unit for
// unit, so anything else is left to the general path.
template <typename C>
constexpr unsigned kUnitLimit = sizeof(C) == 1 ? 0x100 : 0x80;

template <typename C>
int formatCommonAs(C* out, long long cap, const C* fmt, va_list ap) {
    if (!out || !fmt || cap < 1) return -1;
    cBoundedText<C> text(out, cap);
    const C* p = fmt;
    for (;;) {
        for (; *p != 0 && *p != '%'; ++p) {
            if (static_cast<std::make_unsigned_t<C>>(*p) >= kUnitLimit<C>) return -1;
            text.put(*p);
        }
        if (*p == 0) break;
        ++p;

        bool left = false, zero = false;
        for (;; ++p) {
            if (*p == '-') left = true;
            else if (*p == '0') zero = true;
            else break;
        }
        int width = 0, precision = -1;
        if (!readCount(p, 4096, width)) return -1;
        if (*p == '.') {
            ++p;
            if (!readCount(p, 1 << 30, precision)) return -1;
        }
        // long, long long, size_t, intmax_t and ptrdiff_t are all 64 bits here.
        static_assert(sizeof(long) == 8 && sizeof(std::size_t) == 8, "the lengths below are read as 64 bits");
        bool wide = false;
        if (*p == 'l') {
            wide = true;
            if (*++p == 'l') ++p;
        } else if (*p == 'z' || *p == 'j' || *p == 't') {
            wide = true;
            ++p;
        }

        char digits[24];
        const char* body = nullptr;
        long long bodyLen = 0;
        bool negative = false;
        const C conv = *p++;
        switch (conv) {
        case '%':
            if (left || zero || width || precision >= 0 || wide) return -1;
            body = "%";
            bodyLen = 1;
            break;
        case 'd':
        case 'i': {
            if (precision >= 0) return -1;
            const long long v = wide ? va_arg(ap, long long) : va_arg(ap, int);
            negative = v < 0;
            const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            body = digits;
            bodyLen = std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits;
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            if (precision >= 0) return -1;
            const unsigned long long v = wide ? va_arg(ap, unsigned long long) : va_arg(ap, unsigned);
            char* const end = std::to_chars(digits, digits + sizeof digits, v, conv == 'u' ? 10 : 16).ptr;
            if (conv == 'X')
                for (char* d = digits; d < end; ++d)
                    if (*d >= 'a') *d = static_cast<char>(*d - 'a' + 'A');
            body = digits;
            bodyLen = end - digits;
            break;
        }
        case 's': {
            if (wide || zero) return -1;
            body = va_arg(ap, const char*);
            if (!body) return -1;  // the C library's "(null)" and its cuts
            bodyLen = precision >= 0 ? static_cast<long long>(strnlen(body, static_cast<std::size_t>(precision)))
                                     : static_cast<long long>(std::strlen(body));
            break;
        }
        case 'c':
            if (wide || zero || precision >= 0) return -1;
            digits[0] = static_cast<char>(va_arg(ap, int));
            body = digits;
            bodyLen = 1;
            break;
        default:
            return -1;
        }

        const long long pad = width - bodyLen - (negative ? 1 : 0);
        if (!left && !zero) text.fill(' ', pad);
        if (negative) text.put('-');
        if (!left && zero) text.fill('0', pad);
        for (long long i = 0; i < bodyLen; ++i) {
            const unsigned char b = static_cast<unsigned char>(body[i]);
            if (b >= kUnitLimit<C>) return -1;
            text.put(static_cast<C>(b));
        }
        if (left) text.fill(' ', pad);
    }
    if (text.length() > INT_MAX) return -1;
    text.terminate();
    return static_cast<int>(text.length());
}

}  // namespace

int formatCommon(char* out, long long cap, const char* fmt, va_list ap) { return formatCommonAs(out, cap, fmt, ap); }
int formatCommon(unsigned short* out, long long cap, const unsigned short* fmt, va_list ap) {
    return formatCommonAs(out, cap, fmt, ap);
}

}  // namespace strutil_detail

namespace {

// The short path on a copy of the arguments, so that a format it leaves to
// the C library can still be read from the start: -1 then.
template <typename C>
int formatCommonOnCopy(C* dst, long long size, const C* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    const int r = strutil_detail::formatCommon(dst, size, fmt, copy);
    va_end(copy);
    return r;
}

}  // namespace

int _sprintf_s(char* dst, long long size, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = _vsprintf_s(dst, size, fmt, ap);
    va_end(ap);
    return r;
}

int _vsprintf_s(char* dst, long long size, const char* fmt, va_list ap) {
    if (!dst || size < 1) {
        if (!fmt) return 0;
        return std::vsnprintf(nullptr, 0, fmt, ap);
    }
    if (!fmt) {
        dst[0] = 0;
        return 0;
    }
    const int quick = formatCommonOnCopy(dst, size, fmt, ap);
    if (quick >= 0) return quick;
    int r = std::vsnprintf(dst, static_cast<std::size_t>(size), fmt, ap);
    if (r < 0) dst[0] = 0;
    return r;
}

namespace {

// Converts `bytes` of UTF-8 into dst (room for cap units plus a terminator),
// never leaving half a surrogate pair at the end; terminates.  The decoder
// stops before a sequence cut by the end of the bytes and before a character
// that does not fit; a pair written as two three-byte sequences can still be
// split by cap, so a high surrogate left last is dropped.
void utf8ToTerminatedWide(const char* text, long long bytes, unsigned short* dst, long long cap) {
    // ASCII widens unit for unit; the converter takes the rest.
    const long long plain = strutil_detail::asciiRun(text, std::min(bytes, cap));
    if (plain == bytes || plain == cap) {
        for (long long i = 0; i < plain; ++i) dst[i] = static_cast<unsigned char>(text[i]);
        dst[plain] = 0;
        return;
    }
    long long units = bytes > 0 ? __a2w(text, bytes, dst, cap, kUtf8) : 0;
    if (units > 0 && dst[units - 1] >= 0xD800 && dst[units - 1] <= 0xDBFF) --units;
    dst[units] = 0;
}

// 16-bit text as terminated UTF-8; null gives the empty string.
std::string narrow(const unsigned short* text) {
    if (!text || !*text) return std::string();
    _guardchar<char> out;
    __w2a(text, -1, out, kUtf8);
    return out.c_str() ? std::string(out.c_str()) : std::string();
}

}  // namespace

int _swprintf_s(unsigned short* dst, long long size, const unsigned short* fmt, ...) {
    if (!dst || !fmt || size < 1) return 0;
    va_list ap;
    va_start(ap, fmt);
    int r = _vswprintf_s(dst, size, fmt, ap);
    va_end(ap);
    return r;
}

int _vswprintf_s(unsigned short* dst, long long size, const unsigned short* fmt, va_list ap) {
    if (!dst || !fmt || size < 1) return 0;
    // The common conversions of ASCII text are formatted here directly.
    const int quick = formatCommonOnCopy(dst, size, fmt, ap);
    if (quick >= 0) return quick;
    dst[0] = 0;
    // Formats are short and plain ASCII nearly always: such a format is
    // narrowed unit by unit on the stack, anything else by the converter.
    char asciiFormat[256];
    std::string longFormat;
    const char* format = asciiFormat;
    long long f = 0;
    for (; f < static_cast<long long>(sizeof asciiFormat) - 1 && fmt[f] != 0 && fmt[f] < 0x80; ++f)
        asciiFormat[f] = static_cast<char>(fmt[f]);
    asciiFormat[f] = 0;
    if (fmt[f] != 0) {
        longFormat = narrow(fmt);
        format = longFormat.c_str();
    }

    // Every UTF-16 unit of the result takes at most 3 UTF-8 bytes, so a
    // temporary of 3 x size + 1 bytes holds all that can fit in dst.
    long long limit = 0;
    if (!checked_mul(size, 3LL, limit) || !checked_add(limit, 1LL, limit)) return 0;

    // Most results are short: format on the stack first and allocate only
    // when the text is longer.
    char small[512];
    va_list again;
    va_copy(again, ap);
    int r = std::vsnprintf(small, sizeof small, format, ap);
    if (r < 0) {
        va_end(again);
        return r;
    }
    if (r < static_cast<int>(sizeof small)) {
        utf8ToTerminatedWide(small, std::min<long long>(r, limit - 1), dst, size - 1);
        va_end(again);
        return r;
    }
    long long tmpSize = std::min<long long>(static_cast<long long>(r) + 1, limit);
    std::string tmp(static_cast<std::size_t>(tmpSize), '\0');
    std::vsnprintf(&tmp[0], tmp.size(), format, again);
    va_end(again);
    utf8ToTerminatedWide(tmp.data(), tmpSize - 1, dst, size - 1);
    return r;
}

int _sscanf_s(const char* s, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = _vsscanf_s(s, fmt, ap);
    va_end(ap);
    return r;
}

int _vsscanf_s(const char* s, const char* fmt, va_list ap) {
    if (!fmt) return 0;
    return std::vsscanf(s ? s : "", fmt, ap);
}

int _swscanf_s(const unsigned short* s, const unsigned short* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = _vswscanf_s(s, fmt, ap);
    va_end(ap);
    return r;
}

int _vswscanf_s(const unsigned short* s, const unsigned short* fmt, va_list ap) {
    if (!fmt) return 0;
    const std::string text = narrow(s);
    const std::string format = narrow(fmt);
    return std::vsscanf(text.c_str(), format.c_str(), ap);
}

// ---------------------------------------------------------------------------
// Copying

namespace {

template <typename T>
int copyBounded(T* dst, long long size, const T* src) {
    if (!dst || !src || size < 1) return 0;
    for (long long i = 0; i < size; ++i) {
        dst[i] = src[i];
        if (src[i] == 0) return 0;
    }
    dst[size - 1] = 0;
    return 0;
}

template <typename T>
int copyCounted(T* dst, long long size, const T* src, long long n) {
    if (!dst || !src || size < 1) return 0;
    if (n == 0) {
        dst[0] = 0;
        return 0;
    }
    const long long limit = n < 0 ? size : std::min(size, n);
    for (long long i = 0; i < limit; ++i) {
        dst[i] = src[i];
        if (src[i] == 0) return 0;
    }
    dst[(n > 0 && n < size) ? n : size - 1] = 0;
    return 0;
}

}  // namespace

int _strcpy_s(char* dst, long long size, const char* src) { return copyBounded(dst, size, src); }
int _wcscpy_s(unsigned short* dst, long long size, const unsigned short* src) { return copyBounded(dst, size, src); }
int _strncpy_s(char* dst, long long size, const char* src, long long n) { return copyCounted(dst, size, src, n); }
int _wcsncpy_s(unsigned short* dst, long long size, const unsigned short* src, long long n) {
    return copyCounted(dst, size, src, n);
}

int _wcscat_s(unsigned short* dst, long long size, const unsigned short* src) {
    if (!dst || !src || size < 1) return 0;
    long long pos = 0;
    while (pos < size && dst[pos] != 0) ++pos;  // never past the buffer
    for (; pos < size; ++pos, ++src) {
        dst[pos] = *src;
        if (*src == 0) return 0;
    }
    dst[size - 1] = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Searching and comparing

const unsigned short* _wcschr(const unsigned short* s, unsigned short c) {
    if (!s) return nullptr;
    for (; *s; ++s) {
        if (*s == c) return s;
    }
    return nullptr;
}

const unsigned short* _wcsrchr(const unsigned short* s, unsigned short c) {
    if (!s) return nullptr;
    const unsigned short* p = s + unitLength(s);
    for (;; --p) {
        if (*p == c) return p;
        if (p == s) return nullptr;
    }
}

int _wcscmp(const unsigned short* a, const unsigned short* b) {
    if (!a || !b) return 1;
    for (;; ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == 0) return 0;
    }
}

namespace {

// Compares at most `limit` units (limit < 0: no limit) after folding.
int compareWideFolded(const unsigned short* a, const unsigned short* b, long long limit) {
    const cCaseMap& lower = lowerMap();
    for (long long i = 0; limit < 0 || i < limit; ++i) {
        if (a[i] == b[i]) {
            if (a[i] == 0) return 0;
            continue;  // equal units fold alike
        }
        const unsigned short ca = lower.map(a[i]);
        const unsigned short cb = lower.map(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

}  // namespace

int __wcsicmp(const unsigned short* a, const unsigned short* b) {
    if (!a || !b) return -1;
    return compareWideFolded(a, b, -1);
}

int __wcsicmp(const unsigned short* a, const unsigned short* b, long long n) {
    if (!a || !b) return -1;
    if (n <= 0) return 0;  // nothing to compare: equal
    return compareWideFolded(a, b, n);
}

// The counted __wcsicmp under its other name: n <= 0 compares nothing.
int __wcsnicmp(const unsigned short* a, const unsigned short* b, long long n) { return __wcsicmp(a, b, n); }

int __stricmp(const char* a, const char* b) {
    if (!a || !b) return -1;
    // Signed bytes: 0x80..0xFF sort before ASCII here, unlike the counted form.
    for (;; ++a, ++b) {
        const signed char ca = static_cast<signed char>(__acp_lower(*a));
        const signed char cb = static_cast<signed char>(__acp_lower(*b));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

int __stricmp(const char* a, const char* b, long long n) {
    if (!a || !b) return -1;
    for (long long i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(__acp_lower(a[i]));
        const unsigned char cb = static_cast<unsigned char>(__acp_lower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
    return 0;
}

int __memicmp(const void* a, const void* b, long long n) {
    if (n <= 0) return 0;
    if (!a || !b) return 1;
    const char* pa = static_cast<const char*>(a);
    const char* pb = static_cast<const char*>(b);
    for (long long i = 0; i < n; ++i) {
        const signed char ca = static_cast<signed char>(__acp_lower(pa[i]));
        const signed char cb = static_cast<signed char>(__acp_lower(pb[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

namespace {

// The search shared by the three sub-string finders; `fold` maps a unit
// before comparing.
template <typename T, typename Fold>
const T* findUnits(const T* hay, const T* needle, long long hayLen, long long needleLen, Fold fold) {
    if (hayLen < 0) hayLen = unitLength(hay);
    if (needleLen < 0) needleLen = unitLength(needle);
    if (needleLen > hayLen) return nullptr;
    if (needleLen == 0) return hay;
    if (!hay || !needle) return nullptr;
    const T first = fold(needle[0]);
    for (long long i = 0; i + needleLen <= hayLen; ++i) {
        if (fold(hay[i]) != first) continue;
        long long j = 1;
        while (j < needleLen && fold(hay[i + j]) == fold(needle[j])) ++j;
        if (j == needleLen) return hay + i;
    }
    return nullptr;
}

}  // namespace

const unsigned short* _wcsstr(const unsigned short* hay, const unsigned short* needle, long long hayLen,
                              long long needleLen) {
    return findUnits(hay, needle, hayLen, needleLen, [](unsigned short c) { return c; });
}

const char* _stristr(const char* hay, const char* needle, long long hayLen, long long needleLen) {
    const bool needleGiven = needleLen >= 0;
    if (needleLen < 0) needleLen = needle ? static_cast<long long>(std::strlen(needle)) : 0;
    if (hayLen < 0 && hay && needle && needleLen > 0) {
        // The hay's end is found in the same pass as the match.  A string
        // holds no NUL, so a needle with one in it is nowhere; the search
        // relies on that to stop verifying at the hay's NUL.
        if (needleGiven && std::memchr(needle, 0, static_cast<std::size_t>(needleLen))) return nullptr;
        return strutil_detail::findFoldedTerminated(hay, needle, needleLen);
    }
    if (hayLen < 0) hayLen = hay ? static_cast<long long>(std::strlen(hay)) : 0;
    if (needleLen > hayLen) return nullptr;
    if (needleLen == 0) return hay;
    if (!hay || !needle) return nullptr;
    return strutil_detail::findFolded(hay, hayLen, needle, needleLen);
}

const unsigned short* _wcsistr(const unsigned short* hay, const unsigned short* needle, long long hayLen,
                               long long needleLen) {
    const cCaseMap& lower = lowerMap();
    return findUnits(hay, needle, hayLen, needleLen, [&lower](unsigned short c) { return lower.map(c); });
}

const char* _strnstr(const char* hay, const char* needle, long long n) {
    if (!hay || !needle || !*needle) return nullptr;
    const long long len = static_cast<long long>(std::strlen(needle));
    if (len > n) return nullptr;
    for (long long p = 0; p <= n - len; ++p) {
        if (hay[p] == 0) return nullptr;
        // hay's terminator differs from every needle byte, so the compare
        // never runs past the end of hay.
        long long j = 0;
        while (j < len && hay[p + j] == needle[j]) ++j;
        if (j == len) return hay + p;
    }
    return nullptr;
}

const char* _strnchr(const char* s, char c, long long n) {
    if (!s || n < 1) return nullptr;
    return static_cast<const char*>(std::memchr(s, c, static_cast<std::size_t>(n)));
}

// ---------------------------------------------------------------------------
// cCompactStr

cCompactStr::cCompactStr(const cCompactStr& o) : count_(o.count_) {
    if (o.text_) {
        const std::size_t n = std::strlen(o.text_) + 1;
        text_ = new char[n];
        std::memcpy(text_, o.text_, n);
    }
}

cCompactStr::cCompactStr(cCompactStr&& o) noexcept : text_(o.text_), count_(o.count_) {
    o.text_ = nullptr;
    o.count_ = 0;
}

cCompactStr& cCompactStr::operator=(const cCompactStr& o) {
    if (this != &o) {
        cCompactStr copy(o);
        *this = std::move(copy);
    }
    return *this;
}

cCompactStr& cCompactStr::operator=(cCompactStr&& o) noexcept {
    if (this != &o) {
        destroy();
        text_ = o.text_;
        count_ = o.count_;
        o.text_ = nullptr;
        o.count_ = 0;
    }
    return *this;
}

void cCompactStr::destroy() {
    delete[] text_;
    text_ = nullptr;
    count_ = 0;
}

bool cCompactStr::set(const unsigned short* text, short n) {
    destroy();
    if (!text) return true;
    long long units = n;
    if (n == -1) {
        units = _wcslen(text);
        if (units > kMaxLength) return false;
    }
    if (units < 1) return true;
    const long long need = __w2a_require(text, units, kUtf8);
    if (need < 1) return true;
    char* fresh = new char[static_cast<std::size_t>(need) + 1];
    long long written = __w2a(text, units, fresh, need, kUtf8);
    if (written < 0) written = 0;
    fresh[written] = 0;
    text_ = fresh;
    count_ = static_cast<unsigned short>(units);
    return true;
}

bool cCompactStr::set(const char* text, short n) {
    long long bytes = n;
    if (text && n == -1) bytes = static_cast<long long>(std::strlen(text));
    if (!text || bytes < 1 || bytes > kMaxLength) {
        destroy();
        return bytes <= kMaxLength;  // a longer text does not fit the count
    }
    // The copy is made before the old text is freed: text may point into it.
    char* fresh;
    try {
        fresh = new char[static_cast<std::size_t>(bytes) + 1];
    } catch (...) {
        destroy();  // a failed refill leaves it empty
        throw;
    }
    // Stop at an early zero byte: what follows it is not part of the text and
    // may lie beyond the caller's string.
    long long i = 0;
    for (; i < bytes && text[i] != 0; ++i) fresh[i] = text[i];
    std::memset(fresh + i, 0, static_cast<std::size_t>(bytes - i) + 1);
    destroy();
    text_ = fresh;
    count_ = static_cast<unsigned short>(bytes);
    return true;
}

unsigned short* cCompactStr::str(unsigned short* out, unsigned int cap) const {
    if (!out || cap == 0) return out;
    out[0] = 0;
    if (!text_) return out;
    utf8ToTerminatedWide(text_, static_cast<long long>(std::strlen(text_)), out, static_cast<long long>(cap) - 1);
    return out;
}

char* cCompactStr::str(char* out, unsigned int cap) const {
    if (!out || cap == 0) return out;
    out[0] = 0;
    if (!text_ || cap < 2) return out;
    _strcpy_s(out, static_cast<long long>(cap) - 1, text_);
    out[cap - 1] = 0;
    return out;
}

// ---------------------------------------------------------------------------
// Hexadecimal and GUID

namespace {

inline int hexDigit(unsigned int c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

template <typename T>
int hexPair(const T* s) {
    if (!s) return -1;
    const int hi = hexDigit(s[0]);
    if (hi < 0) return -1;  // s[1] may lie past the terminator
    const int lo = hexDigit(s[1]);
    if (lo < 0) return -1;
    return hi * 16 + lo;
}

template <typename T>
bool hexText(const T* s, _typebuf<unsigned char>& out) {
    if (!s) return false;
    const long long len = unitLength(s);
    if (len == 0 || len % 2 != 0) return false;
    out.set(len / 2);
    for (long long i = 0; i < len / 2; ++i) {
        const int b = hexPair(s + 2 * i);
        if (b < 0) return false;
        out.data()[i] = static_cast<unsigned char>(b);
    }
    return true;
}

}  // namespace

int getHexb(const char* s) { return hexPair(reinterpret_cast<const unsigned char*>(s)); }
int getHexb(const unsigned short* s) { return hexPair(s); }

bool hexToBytes(const char* s, _typebuf<unsigned char>& out) {
    return hexText(reinterpret_cast<const unsigned char*>(s), out);
}
bool hexToBytes(const unsigned short* s, _typebuf<unsigned char>& out) { return hexText(s, out); }

int parseGUID(const unsigned char* text, unsigned char* out) {
    constexpr int kTextLength = 36;
    if (!text || !out) return 0;
    // The whole text must be there before any fixed position is looked at.
    for (int i = 0; i < kTextLength; ++i) {
        if (text[i] == 0) return 0;
    }
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return 0;
    // Groups of 4, 2, 2, 2 and 6 bytes, each followed by one separator; the
    // bytes keep text order (no swapping of the first three groups).
    static const int kGroups[] = {4, 2, 2, 2, 6};
    int pos = 0;
    int o = 0;
    for (int group : kGroups) {
        for (int i = 0; i < group; ++i, pos += 2) {
            const int b = hexPair(text + pos);
            if (b < 0) return 0;
            out[o++] = static_cast<unsigned char>(b);
        }
        ++pos;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Bits and numbers

int bitsCount(unsigned long long v) { return __builtin_popcountll(v); }
int highestBit(unsigned long long v) { return v ? 63 - __builtin_clzll(v) : 0; }
int lowestBit(unsigned long long v) { return v ? __builtin_ctzll(v) : 64; }

namespace {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads what strtoll (base 10, negative = false) or strtoull (base 16) would
// read when that is plain: digits only, directly at s, few enough that they
// cannot overflow, and not a "0x" that strtoull would take as a prefix.
// Anything else (a sign, a space, another prefix, a long number) is left to
// the C library: false.
bool readPlainDecimal(const char* s, unsigned long long& v) {
    // 18 digits stay below 2^63.
    v = 0;
    int i = 0;
    for (; i < 18 && isDigit(s[i]); ++i) v = v * 10 + static_cast<unsigned>(s[i] - '0');
    return i > 0 && !isDigit(s[i]);
}

bool readPlainHex(const char* s, unsigned long long& v) {
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return false;
    v = 0;
    int i = 0;
    for (; i < 16; ++i) {
        const int d = hexDigit(static_cast<unsigned char>(s[i]));
        if (d < 0) break;
        v = v << 4 | static_cast<unsigned>(d);
    }
    return i > 0 && hexDigit(static_cast<unsigned char>(s[i])) < 0;
}

}  // namespace

unsigned long long strToU64(const char* s) {
    if (!s) return 0;
    while (isBlank(*s)) ++s;
    if (!*s) return 0;
    // strtoull/strtoll are what the C library's "%llx" and "%lld" scanning
    // converts with; calling them directly skips the format parsing, and an
    // end pointer that did not move is the scan's matching failure.  Plain
    // digits, the common case, are read here with the same result.
    char* end = nullptr;
    unsigned long long plain;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (readPlainHex(s + 2, plain)) return plain;
        const unsigned long long v = std::strtoull(s + 2, &end, 16);
        return end != s + 2 ? v : ~0ULL;
    }
    if (readPlainDecimal(s, plain)) return plain;
    if (s[0] == '-' && readPlainDecimal(s + 1, plain)) return 0ULL - plain;
    const long long v = std::strtoll(s, &end, 10);
    return end != s ? static_cast<unsigned long long>(v) : ~0ULL;
}

namespace {

// Hands s, narrowed to UTF-8, to read: short ASCII text on the stack, the
// rest through the converter.
template <typename Read>
auto readNarrowed(const unsigned short* s, Read read) {
    char small[64];
    int i = 0;
    for (; i < static_cast<int>(sizeof small) - 1 && s[i] != 0 && s[i] < 0x80; ++i) small[i] = static_cast<char>(s[i]);
    small[i] = 0;
    if (s[i] == 0) return read(small);
    return read(narrow(s).c_str());
}

}  // namespace

unsigned long long strToU64(const unsigned short* s) {
    if (!s) return 0;
    return readNarrowed(s, [](const char* t) { return strToU64(t); });
}

long long strToInt64(const char* s) {
    constexpr unsigned long long kTopBit = 1ULL << 63;
    if (!s) return 0;
    while (isBlank(*s)) ++s;
    if (!*s) return 0;
    const bool negative = *s == '-';
    // A minus sign before decimal digits is read with the sign, as "%lld"
    // reads it: the text of the smallest value is that value, and a decimal
    // beyond the range saturates there.  Negating the unsigned reading of
    // the digits alone cannot reach it (the digits saturate one short).
    if (negative && s[1] >= '0' && s[1] <= '9' && !(s[1] == '0' && (s[2] == 'x' || s[2] == 'X'))) {
        unsigned long long plain;
        if (readPlainDecimal(s + 1, plain)) return -static_cast<long long>(plain);
        return std::strtoll(s, nullptr, 10);
    }
    const unsigned long long u = strToU64(negative ? s + 1 : s);
    if (u & kTopBit) return LLONG_MIN;
    return negative ? -static_cast<long long>(u) : static_cast<long long>(u);
}

long long strToInt64(const unsigned short* s) {
    if (!s) return 0;
    return readNarrowed(s, [](const char* t) { return strToInt64(t); });
}

// ---------------------------------------------------------------------------
// Blank offsets

namespace {

template <typename T>
int firstNonBlank(const T* s, int n) {
    if (!s) return -1;
    if (n == -1) n = static_cast<int>(std::min<long long>(unitLength(s), INT_MAX));
    for (int i = 0; i < n; ++i) {
        if (!isBlank(s[i])) return i;
    }
    return -1;
}

template <typename T>
int trimmedLength(const T* s, int n) {
    if (!s) return 0;
    if (n == -1) n = static_cast<int>(std::min<long long>(unitLength(s), INT_MAX));
    while (n > 0 && isBlank(s[n - 1])) --n;
    return n > 0 ? n : 0;
}

}  // namespace

int str_offset(const char* s, int n) { return firstNonBlank(s, n); }
int wcs_offset(const unsigned short* s, int n) { return firstNonBlank(s, n); }
int stre_offset(const char* s, int n) { return trimmedLength(s, n); }
int wcse_offset(const unsigned short* s, int n) { return trimmedLength(s, n); }

bool iszero(const unsigned char* p, long long n) {
    if (!p) return false;
    long long i = 0;
    for (; i + 8 <= n; i += 8) {
        unsigned long long word;
        std::memcpy(&word, p + i, sizeof word);
        if (word) return false;
    }
    for (; i < n; ++i) {
        if (p[i]) return false;
    }
    return true;
}

long long minDiff(long long a, long long b) {
    // Magnitudes as unsigned values, so that LLONG_MIN has one too.
    auto magnitude = [](long long v) {
        return v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    };
    return magnitude(a) < magnitude(b) ? a : b;
}

// ---------------------------------------------------------------------------
// Text for display

namespace {

// The length of the valid UTF-8 sequence at p (at most n bytes) that encodes
// a character from U+00A0 up that may be shown as it is, or 0.  Overlong forms, surrogates and values
// above U+10FFFF are not valid.
std::size_t printableUtf8(const unsigned char* p, std::size_t n) {
    const unsigned c = p[0];
    std::size_t len;
    unsigned v;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (n < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    static const unsigned kLeast[5] = {0, 0, 0xA0, 0x800, 0x10000};
    if (v < kLeast[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    // The line and paragraph separators, and the marks that reorder the
    // text around them, would make a name read as something else.
    if (v == 0x200E || v == 0x200F || v == 0x2028 || v == 0x2029 || (v >= 0x202A && v <= 0x202E) ||
        (v >= 0x2066 && v <= 0x2069))
        return 0;
    return len;
}

}  // namespace

std::string escapeForDisplay(const char* text, std::size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    if (!text) return out;
    out.reserve(n);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            if (c == '\\') out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            const std::size_t len = printableUtf8(p + i, n - i);
            if (len) {
                out.append(text + i, len);
                i += len;
                continue;
            }
        }
        out += '\\';
        if (c == '\t')
            out += 't';
        else if (c == '\n')
            out += 'n';
        else if (c == '\r')
            out += 'r';
        else {
            out += 'x';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        ++i;
    }
    return out;
}
