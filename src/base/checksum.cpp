#include "base/checksum.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/cpufeatures.h"
#include "base/fileio.h"
#include "base/prefetch.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QOR_CHECKSUM_X86 1
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// ---------------------------------------------------------------------------
// Tables.  Slice 0 of each reflected set is the byte table itself; slice k
// holds the register contribution of a byte followed by k zero bytes, which
// lets the engines below take eight bytes per step (slicing-by-8) with the
// same result as eight single-byte steps.

template <typename T>
struct Slices {
    T t[8][256];
};

template <typename T>
constexpr Slices<T> makeReflectedSlices(T poly) {
    Slices<T> s{};
    for (unsigned n = 0; n < 256; ++n) {
        T r = static_cast<T>(n);
        for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? static_cast<T>((r >> 1) ^ poly) : static_cast<T>(r >> 1);
        s.t[0][n] = r;
    }
    for (int k = 1; k < 8; ++k)
        for (unsigned n = 0; n < 256; ++n) {
            const T prev = s.t[k - 1][n];
            s.t[k][n] = static_cast<T>((prev >> 8) ^ s.t[0][prev & 0xFF]);
        }
    return s;
}

template <typename T>
constexpr std::array<T, 256> firstSlice(const Slices<T>& s) {
    std::array<T, 256> a{};
    for (unsigned n = 0; n < 256; ++n) a[n] = s.t[0][n];
    return a;
}

constexpr std::array<std::uint32_t, 256> makeMsbFirstTable(std::uint32_t poly) {
    std::array<std::uint32_t, 256> a{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint32_t r = static_cast<std::uint32_t>(n) << 24;
        for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ poly : r << 1;
        a[n] = r;
    }
    return a;
}

constexpr Slices<std::uint32_t> kCrc32Slices = makeReflectedSlices<std::uint32_t>(0xEDB88320u);
constexpr Slices<std::uint32_t> kCrc32CSlices = makeReflectedSlices<std::uint32_t>(0x82F63B78u);
constexpr Slices<std::uint64_t> kCrc64Slices = makeReflectedSlices<std::uint64_t>(0xA17870F5D4F51B49ull);

inline std::uint64_t load64le(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The reflected table step, eight bytes at a time, then byte by byte.
template <typename T>
T reflectedUpdate(const Slices<T>& s, T reg, const unsigned char* p, std::uint64_t n) {
    while (n >= 8) {
        const std::uint64_t v = load64le(p) ^ static_cast<std::uint64_t>(reg);
        reg = s.t[7][v & 0xFF] ^ s.t[6][(v >> 8) & 0xFF] ^ s.t[5][(v >> 16) & 0xFF] ^ s.t[4][(v >> 24) & 0xFF] ^
              s.t[3][(v >> 32) & 0xFF] ^ s.t[2][(v >> 40) & 0xFF] ^ s.t[1][(v >> 48) & 0xFF] ^ s.t[0][v >> 56];
        p += 8;
        n -= 8;
    }
    while (n--) reg = static_cast<T>((reg >> 8) ^ s.t[0][(reg ^ *p++) & 0xFF]);
    return reg;
}

// A length below zero and a null pointer are both empty input.
inline std::uint64_t usableLength(const void* buf, long long len) {
    return (buf && len > 0) ? static_cast<std::uint64_t>(len) : 0;
}

inline const unsigned char* bytes(const void* buf) { return static_cast<const unsigned char*>(buf); }

// ---------------------------------------------------------------------------
// The running states behind the functions that need more than a register, so
// that the buffer and stream forms share one computation.

constexpr std::uint32_t kAdlerBase = 65521;
// The most bytes that can be summed before b may overflow 32 bits (RFC 1950's
// NMAX): 255 n (n + 1) / 2 + (n + 1) (BASE - 1) <= 2^32 - 1.
constexpr std::uint64_t kAdlerMaxRun = 5552;

#ifdef __SSE2__
// One run of whole 16-byte chunks with SSE2 (part of every x86-64 CPU).  For
// k chunks of sums S_j the byte at offset t of the run is counted in b
// (16 k - t) times, which splits into 16 (k - 1 - j) S_j, gathered as the
// running sum before each chunk, and (16 - i) for byte i of its chunk.
inline void adlerChunks(std::uint32_t& a, std::uint32_t& b, const unsigned char* p, std::size_t chunks) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsLo = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsHi = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i sum = zero, before = zero, weighted = zero;
    for (std::size_t j = 0; j < chunks; ++j, p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        before = _mm_add_epi32(before, sum);
        sum = _mm_add_epi32(sum, _mm_sad_epu8(v, zero));
        weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsLo));
        weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsHi));
    }
    alignas(16) std::uint32_t s[4], bf[4], w[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), sum);
    _mm_store_si128(reinterpret_cast<__m128i*>(bf), before);
    _mm_store_si128(reinterpret_cast<__m128i*>(w), weighted);
    const std::uint64_t bytes = std::uint64_t(s[0]) + s[2];
    const std::uint64_t nb = std::uint64_t(b) + 16 * chunks * std::uint64_t(a) + 16 * (std::uint64_t(bf[0]) + bf[2]) +
                             w[0] + w[1] + w[2] + w[3];
    a = static_cast<std::uint32_t>((a + bytes) % kAdlerBase);
    b = static_cast<std::uint32_t>(nb % kAdlerBase);
}
#endif

// The portable Adler-32 (SSE2 on every x86-64), continuing from a and b.
void adlerPortable(std::uint32_t& a, std::uint32_t& b, const unsigned char* p, std::uint64_t n) {
    while (n) {
        std::uint64_t run = n < kAdlerMaxRun ? n : kAdlerMaxRun;
        n -= run;
#ifdef __SSE2__
        const std::size_t chunks = static_cast<std::size_t>(run / 16);
        if (chunks) {
            adlerChunks(a, b, p, chunks);
            p += 16 * chunks;
            run -= 16 * chunks;
        }
#endif
        while (run >= 8) {
            a += p[0]; b += a;
            a += p[1]; b += a;
            a += p[2]; b += a;
            a += p[3]; b += a;
            a += p[4]; b += a;
            a += p[5]; b += a;
            a += p[6]; b += a;
            a += p[7]; b += a;
            p += 8;
            run -= 8;
        }
        while (run--) {
            a += *p++;
            b += a;
        }
        a %= kAdlerBase;
        b %= kAdlerBase;
    }
}

// Folds what a vector engine summed over k chunks of `width` bytes into a
// and b.  bytes: the sum of all bytes; before: the sum, over the chunks, of
// the bytes of the chunks before each; weighted: each byte times (width -
// its place in its chunk).  A byte is counted in b once for every byte from
// it to the end, and a once for every byte.
inline void adlerFold(std::uint32_t& a, std::uint32_t& b, std::uint64_t width, std::uint64_t k, std::uint64_t bytes,
                      std::uint64_t before, std::uint64_t weighted) {
    const std::uint64_t nb = b + width * k * a + width * before + weighted;
    a = static_cast<std::uint32_t>((a + bytes) % kAdlerBase);
    b = static_cast<std::uint32_t>(nb % kAdlerBase);
}

// The vector engines take runs of at most this many chunks: their 32-bit
// lanes then cannot overflow (a lane of the running sums holds at most
// 8 * 255 per chunk, the sums before each chunk at most the square of that
// over the run, under 2^32), and a and b are reduced once per run.
constexpr std::size_t kAdlerVectorRun = 1024;

struct AdlerState {
    std::uint32_t a = 1, b = 0;
    void update(const unsigned char* p, std::uint64_t n) {
        const std::uint32_t v = qor_checksum::adler32Update(value(), p, n);
        a = v & 0xFFFF;
        b = v >> 16;
    }
    std::uint32_t value() const { return (b << 16) | a; }
};

struct CksumState {
    std::uint32_t reg = 0;
    std::uint64_t length = 0;
    void step(unsigned char c) { reg = (reg << 8) ^ p_crctab[((reg >> 24) ^ c) & 0xFF]; }
    void update(const unsigned char* p, std::uint64_t n) {
        length += n;
        while (n--) step(*p++);
    }
    // cksum appends the length, least significant byte first, and at least
    // one byte of it even when the length is 0.
    std::uint32_t value() {
        std::uint64_t l = length;
        do {
            step(static_cast<unsigned char>(l & 0xFF));
            l >>= 8;
        } while (l);
        return ~reg;
    }
};

struct BitwiseState {
    std::uint32_t reg = 0xFFFFFFFFu;
    void update(const unsigned char* p, std::uint64_t n) {
        while (n--) {
            const unsigned c = *p++;
            for (int bit = 7; bit >= 0; --bit) {
                const bool in = (c >> bit) & 1;
                const bool top = reg >> 31;
                reg <<= 1;
                if (in != top) reg ^= 0x04C11DB7u;
            }
        }
    }
    std::uint32_t value() const { return ~reg; }
};

// Word sums keep the bytes of a word that a piece boundary cut in two.
template <typename W>
struct WordSum {
    std::uint32_t sum = 0;
    unsigned char part[sizeof(W)] = {};
    unsigned held = 0;
    void update(const unsigned char* p, std::uint64_t n) {
        if (held) {
            const std::size_t take = n < sizeof(W) - held ? static_cast<std::size_t>(n) : sizeof(W) - held;
            std::memcpy(part + held, p, take);
            held += static_cast<unsigned>(take);
            p += take;
            n -= take;
            if (held < sizeof(W)) return;
            add(part);
            held = 0;
        }
        for (; n >= sizeof(W); n -= sizeof(W), p += sizeof(W)) add(p);
        held = static_cast<unsigned>(n);
        if (held) std::memcpy(part, p, held);
    }
    void add(const unsigned char* p) {
        W w;
        std::memcpy(&w, p, sizeof(W));
        sum += w;
    }
};

struct ByteSum {
    std::uint32_t sum = 0;
    void update(const unsigned char* p, std::uint64_t n) {
        while (n--) sum += *p++;
    }
};

// ---------------------------------------------------------------------------
// Engines for the x86 instructions.  Each carries its own target attribute so
// the rest of the library stays generic; they are only called after CPUID said
// the instructions are there.

#ifdef QOR_CHECKSUM_X86

// x^e modulo the CRC-32 polynomial, bit-reflected and shifted left by one: the
// form in which a carry-less product of reflected data lands in the same bit
// order as the data it is folded onto.
constexpr std::uint64_t foldConstant(unsigned e) {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < e; ++i) {
        r <<= 1;
        if (r >> 32) r ^= 0x104C11DB7ull;
    }
    std::uint64_t reflected = 0;
    for (int i = 0; i < 32; ++i)
        if (r & (1ull << i)) reflected |= 1ull << (31 - i);
    return reflected << 1;
}

// Folding a 128-bit lane forward by F bits multiplies its first eight bytes
// (the higher-degree half) by x^(F+32) and its second eight by x^(F-32).
constexpr std::uint64_t kFold512Lo = foldConstant(512 + 32);
constexpr std::uint64_t kFold512Hi = foldConstant(512 - 32);
constexpr std::uint64_t kFold1024Lo = foldConstant(1024 + 32);
constexpr std::uint64_t kFold1024Hi = foldConstant(1024 - 32);
constexpr std::uint64_t kFold128Lo = foldConstant(128 + 32);
constexpr std::uint64_t kFold128Hi = foldConstant(128 - 32);

// How far ahead of where the vector engines read they ask for their input
// (qor_detail::prefetchAhead).  The processor's own prefetchers left their
// loops waiting on the next lines from L3 and memory: 4 KiB ahead took an
// eighth to a quarter off Adler-32 of 8 MiB to 256 MiB, and a quarter off
// CRC-32 of 256 MiB, and left what stays in L2 as it was; 512 bytes ahead
// did next to nothing for Adler-32.
constexpr std::size_t kPrefetchAhead = 4096;

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the 16-byte blocks left onto the lane x, which is congruent to
// everything before them, and finishes over the lane (from register 0, the
// running value having been folded into the first bytes) and the tail with
// the table engine.
__attribute__((target("pclmul,sse2"))) std::uint32_t crc32FoldTail(__m128i x, const unsigned char* p, std::uint64_t n) {
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
    while (n >= 16) {
        x = fold(x, k128, load128(p));
        p += 16;
        n -= 16;
    }
    alignas(16) unsigned char lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x);
    const std::uint32_t reg = reflectedUpdate(kCrc32Slices, 0u, lane, 16);
    return reflectedUpdate(kCrc32Slices, reg, p, n);
}

// Eight lanes of 16 bytes are folded across 128-byte strides (enough chains
// to keep the multiplier busy), then four across 64-byte strides, then into
// one lane, then along the remaining 16-byte blocks.  The lane left over is
// congruent to everything before it, so the table engine finishes over its
// 16 bytes (from register 0, the running value having been folded into the
// first bytes) and the tail.
__attribute__((target("pclmul,sse2"))) std::uint32_t crc32Folding(std::uint32_t reg, const unsigned char* p,
                                                                  std::uint64_t n) {
    if (n < 64) return reflectedUpdate(kCrc32Slices, reg, p, n);
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512Hi), static_cast<long long>(kFold512Lo));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
    __m128i x0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = load128(p + 16);
    __m128i x2 = load128(p + 32);
    __m128i x3 = load128(p + 48);
    p += 64;
    n -= 64;
    if (n >= 192) {
        const __m128i k1024 =
            _mm_set_epi64x(static_cast<long long>(kFold1024Hi), static_cast<long long>(kFold1024Lo));
        __m128i x4 = load128(p), x5 = load128(p + 16), x6 = load128(p + 32), x7 = load128(p + 48);
        p += 64;
        n -= 64;
        while (n >= 128) {
            qor_detail::prefetchAhead(p, kPrefetchAhead, 2);
            x0 = fold(x0, k1024, load128(p));
            x1 = fold(x1, k1024, load128(p + 16));
            x2 = fold(x2, k1024, load128(p + 32));
            x3 = fold(x3, k1024, load128(p + 48));
            x4 = fold(x4, k1024, load128(p + 64));
            x5 = fold(x5, k1024, load128(p + 80));
            x6 = fold(x6, k1024, load128(p + 96));
            x7 = fold(x7, k1024, load128(p + 112));
            p += 128;
            n -= 128;
        }
        // Lanes 0 to 3 lie 64 bytes before lanes 4 to 7.
        x0 = fold(x0, k512, x4);
        x1 = fold(x1, k512, x5);
        x2 = fold(x2, k512, x6);
        x3 = fold(x3, k512, x7);
    }
    while (n >= 64) {
        x0 = fold(x0, k512, load128(p));
        x1 = fold(x1, k512, load128(p + 16));
        x2 = fold(x2, k512, load128(p + 32));
        x3 = fold(x3, k512, load128(p + 48));
        p += 64;
        n -= 64;
    }
    __m128i x = fold(x0, k128, x1);
    x = fold(x, k128, x2);
    x = fold(x, k128, x3);
    return crc32FoldTail(x, p, n);
}

// Takes the bytes before the next `width`-byte boundary (a vector's width)
// the portable way, so that no vector load of the engines below straddles
// two cache lines: streaming from memory, split loads cost a few percent.
inline void alignHead(std::uint32_t& a, std::uint32_t& b, const unsigned char*& p, std::uint64_t& n,
                      std::uintptr_t width) {
    const std::uint64_t head =
        std::min<std::uint64_t>(n, (width - reinterpret_cast<std::uintptr_t>(p) % width) % width);
    if (head >= n || head == 0) return;
    adlerPortable(a, b, p, head);
    p += head;
    n -= head;
}

// Clears the upper halves of the vector registers before code in the older
// 128-bit encoding runs (the tails here, and whatever the caller runs next:
// SHA instructions come only in that encoding).  With those halves left
// dirty every such instruction waits on them; GCC does not always insert
// this itself for functions given a wider target, and the hash that follows
// a checksum ran a tenth slower for it.
__attribute__((target("avx"))) inline void leaveWideRegisters() { _mm256_zeroupper(); }

// Adler-32 over 32-byte chunks.  vpsadbw sums each chunk's bytes in four
// lanes of eight (bytes 0-7, 8-15, 16-23, 24-31), and the weight of byte i,
// 32 - i, is split into 8 - i % 8, taken by vpmaddubsw, and 8 (3 - i / 8),
// taken from those lane sums when a run is folded.  The small weights let
// eight chunks' products (at most 8 (8 + 7) 255 = 30600 a 16-bit lane) add
// up in 16 bits before one vpmaddwd widens them: per 64 bytes two vpsadbw,
// two vpmaddubsw, two 16-bit and four 32-bit additions and a quarter of a
// widening, where weighing each chunk in full takes two more multiplies.
__attribute__((target("avx2"))) inline std::uint64_t hsum256(__m256i v) {
    alignas(32) std::uint32_t w[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(w), v);
    std::uint64_t t = 0;
    for (std::uint32_t x : w) t += x;
    return t;
}

__attribute__((target("avx2"))) inline __m256i load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The lane part of the weights: 8 (3 - g) for the byte sums of lane g.
__attribute__((target("avx2"))) inline std::uint64_t laneWeighted256(__m256i sums) {
    alignas(32) std::uint64_t q[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(q), sums);
    return 24 * q[0] + 16 * q[1] + 8 * q[2];
}

__attribute__((target("avx2"))) std::uint32_t adler32Avx2(std::uint32_t adler, const unsigned char* p,
                                                          std::uint64_t n) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    alignHead(a, b, p, n, 32);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i weights = _mm256_setr_epi8(8, 7, 6, 5, 4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1,
                                             8, 7, 6, 5, 4, 3, 2, 1);
    while (n >= 32) {
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n / 32, kAdlerVectorRun));
        // sum: the byte sums so far, by lane; before: the sums before each
        // chunk, summed; weighted: the products, widened.
        __m256i sum = zero, before = zero, weighted = zero;
        std::size_t j = 0;
        for (; j + 8 <= k; j += 8, p += 256) {
            qor_detail::prefetchAhead(p, kPrefetchAhead);
            const __m256i v0 = load(p), v1 = load(p + 32), v2 = load(p + 64), v3 = load(p + 96);
            const __m256i v4 = load(p + 128), v5 = load(p + 160), v6 = load(p + 192), v7 = load(p + 224);
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v0, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v1, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v2, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v3, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v4, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v5, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v6, zero));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v7, zero));
            const __m256i m01 =
                _mm256_add_epi16(_mm256_maddubs_epi16(v0, weights), _mm256_maddubs_epi16(v1, weights));
            const __m256i m23 =
                _mm256_add_epi16(_mm256_maddubs_epi16(v2, weights), _mm256_maddubs_epi16(v3, weights));
            const __m256i m45 =
                _mm256_add_epi16(_mm256_maddubs_epi16(v4, weights), _mm256_maddubs_epi16(v5, weights));
            const __m256i m67 =
                _mm256_add_epi16(_mm256_maddubs_epi16(v6, weights), _mm256_maddubs_epi16(v7, weights));
            const __m256i m = _mm256_add_epi16(_mm256_add_epi16(m01, m23), _mm256_add_epi16(m45, m67));
            weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(m, ones));
        }
        for (; j < k; ++j, p += 32) {
            const __m256i v = load(p);
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(v, zero));
            weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(v, weights), ones));
        }
        n -= 32 * k;
        adlerFold(a, b, 32, k, hsum256(sum), hsum256(before), hsum256(weighted) + laneWeighted256(sum));
    }
    leaveWideRegisters();
    adlerPortable(a, b, p, n);
    return (b << 16) | a;
}

// The sum of the sixteen 32-bit lanes, without overflow.
__attribute__((target("avx512f"))) inline std::uint64_t hsum512(__m512i v) {
    alignas(64) std::uint32_t w[16];
    _mm512_store_si512(w, v);
    std::uint64_t t = 0;
    for (std::uint32_t x : w) t += x;
    return t;
}

// The same over 64-byte chunks, four a step, on 512-bit registers: vpsadbw
// sums each chunk's bytes in eight lanes, vpdpbusd weighs them by 64 down to
// 1 and adds them up in one instruction.  Each of the four chunks has a
// chain of weighted sums of its own.
__attribute__((target("avx2,avx512f,avx512bw,avx512vnni"))) std::uint32_t adler32Avx512(std::uint32_t adler,
                                                                                       const unsigned char* p,
                                                                                       std::uint64_t n) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    alignHead(a, b, p, n, 64);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i weights =
        _mm512_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                        27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,
                        51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
    while (n >= 256) {
        // The same bound on the lanes as the 32-byte chunks: each lane of
        // the byte sums still takes eight bytes of a chunk.
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n / 256, kAdlerVectorRun / 4));
        // prefix: the sums before each step, summed; inSteps: what each
        // chunk sees of the chunks of its own step, summed.
        __m512i sum = zero, prefix = zero, inSteps = zero, w0 = zero, w1 = zero, w2 = zero, w3 = zero;
        for (std::size_t j = 0; j < k; ++j, p += 256) {
            qor_detail::prefetchAhead(p, kPrefetchAhead);
            const __m512i v0 = _mm512_loadu_si512(p);
            const __m512i v1 = _mm512_loadu_si512(p + 64);
            const __m512i v2 = _mm512_loadu_si512(p + 128);
            const __m512i v3 = _mm512_loadu_si512(p + 192);
            const __m512i s0 = _mm512_sad_epu8(v0, zero);
            const __m512i s1 = _mm512_sad_epu8(v1, zero);
            const __m512i s2 = _mm512_sad_epu8(v2, zero);
            // Chunk i of the step sees the sums before the step and those of
            // the chunks of the step before it: 4 sum + 3 s0 + 2 s1 + s2.
            const __m512i r01 = _mm512_add_epi32(s0, s1);
            const __m512i inStep = _mm512_add_epi32(_mm512_add_epi32(s0, r01), _mm512_add_epi32(r01, s2));
            prefix = _mm512_add_epi32(prefix, sum);
            inSteps = _mm512_add_epi32(inSteps, inStep);
            sum = _mm512_add_epi32(sum, _mm512_add_epi32(_mm512_add_epi32(r01, s2), _mm512_sad_epu8(v3, zero)));
            w0 = _mm512_dpbusd_epi32(w0, v0, weights);
            w1 = _mm512_dpbusd_epi32(w1, v1, weights);
            w2 = _mm512_dpbusd_epi32(w2, v2, weights);
            w3 = _mm512_dpbusd_epi32(w3, v3, weights);
        }
        n -= 256 * k;
        adlerFold(a, b, 64, 4 * k, hsum512(sum), 4 * hsum512(prefix) + hsum512(inSteps),
                  hsum512(_mm512_add_epi32(_mm512_add_epi32(w0, w1), _mm512_add_epi32(w2, w3))));
    }
    leaveWideRegisters();
    adlerPortable(a, b, p, n);
    return (b << 16) | a;
}

// The same folding on 256-bit registers with VPCLMULQDQ: four registers of
// two lanes each are folded across 128-byte strides, then into one register,
// its two lanes into one, and that lane along the 16-byte blocks left.
constexpr std::uint64_t kFold256Lo = foldConstant(256 + 32);
constexpr std::uint64_t kFold256Hi = foldConstant(256 - 32);

__attribute__((target("avx2,pclmul,vpclmulqdq"))) inline __m256i fold256(__m256i x, __m256i k, __m256i next) {
    const __m256i lo = _mm256_clmulepi64_epi128(x, k, 0x00);
    const __m256i hi = _mm256_clmulepi64_epi128(x, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(lo, hi), next);
}

__attribute__((target("avx2"))) inline __m256i load256(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2,pclmul,vpclmulqdq"))) std::uint32_t crc32FoldingWide(std::uint32_t reg,
                                                                                 const unsigned char* p,
                                                                                 std::uint64_t n) {
    if (n < 256) return crc32Folding(reg, p, n);
    const __m256i k1024 = _mm256_set_epi64x(static_cast<long long>(kFold1024Hi), static_cast<long long>(kFold1024Lo),
                                            static_cast<long long>(kFold1024Hi), static_cast<long long>(kFold1024Lo));
    const __m256i k256 = _mm256_set_epi64x(static_cast<long long>(kFold256Hi), static_cast<long long>(kFold256Lo),
                                           static_cast<long long>(kFold256Hi), static_cast<long long>(kFold256Lo));
    __m256i x0 = _mm256_xor_si256(load256(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m256i x1 = load256(p + 32);
    __m256i x2 = load256(p + 64);
    __m256i x3 = load256(p + 96);
    p += 128;
    n -= 128;
    while (n >= 128) {
        qor_detail::prefetchAhead(p, kPrefetchAhead, 2);
        x0 = fold256(x0, k1024, load256(p));
        x1 = fold256(x1, k1024, load256(p + 32));
        x2 = fold256(x2, k1024, load256(p + 64));
        x3 = fold256(x3, k1024, load256(p + 96));
        p += 128;
        n -= 128;
    }
    __m256i x = fold256(x0, k256, x1);
    x = fold256(x, k256, x2);
    x = fold256(x, k256, x3);
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
    const __m128i folded = fold(_mm256_castsi256_si128(x), k128, _mm256_extracti128_si256(x, 1));
    leaveWideRegisters();
    return crc32FoldTail(folded, p, n);
}

__attribute__((target("sse4.2"))) std::uint32_t crc32cInstruction(std::uint32_t reg, const unsigned char* p,
                                                                  std::uint64_t n) {
#ifdef __x86_64__
    std::uint64_t r = reg;
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        r = _mm_crc32_u64(r, v);
        p += 8;
        n -= 8;
    }
    reg = static_cast<std::uint32_t>(r);
#endif
    while (n--) reg = _mm_crc32_u8(reg, *p++);
    return reg;
}

bool cpuHas(unsigned leaf1EcxBit) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c >> leaf1EcxBit) & 1;
}

#endif

}  // namespace

// ---------------------------------------------------------------------------

const std::array<std::uint32_t, 256> crc32CTable = firstSlice(kCrc32CSlices);
const std::array<std::uint32_t, 256> p_crctab = makeMsbFirstTable(0x04C11DB7u);
const std::array<std::uint32_t, 256> crc32_tab = firstSlice(kCrc32Slices);
const std::array<std::uint64_t, 256> crc64_tab = firstSlice(kCrc64Slices);

namespace qor_checksum {

std::uint32_t crc32UpdateTable(std::uint32_t reg, const unsigned char* p, std::uint64_t n) {
    return reflectedUpdate(kCrc32Slices, reg, p, n);
}

Crc32Engine crc32FoldingEngine() {
#ifdef QOR_CHECKSUM_X86
    static const Crc32Engine engine = cpuHas(1) /* PCLMULQDQ */ && cpuHas(0) /* SSE3 */ ? &crc32Folding : nullptr;
    return engine;
#else
    return nullptr;
#endif
}

Crc32Engine crc32WideFoldingEngine() {
#ifdef QOR_CHECKSUM_X86
    static const Crc32Engine engine = [] {
        __builtin_cpu_init();
        return crc32FoldingEngine() && qor_cpu::hasAvx2() && __builtin_cpu_supports("vpclmulqdq")
                   ? &crc32FoldingWide
                   : nullptr;
    }();
    return engine;
#else
    return nullptr;
#endif
}

std::uint32_t crc32Update(std::uint32_t reg, const unsigned char* p, std::uint64_t n) {
    static const Crc32Engine engine = crc32WideFoldingEngine() ? crc32WideFoldingEngine()
                                      : crc32FoldingEngine()   ? crc32FoldingEngine()
                                                               : &crc32UpdateTable;
    return engine(reg, p, n);
}

std::uint32_t adler32UpdatePortable(std::uint32_t adler, const unsigned char* p, std::uint64_t n) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    adlerPortable(a, b, p, n);
    return (b << 16) | a;
}

AdlerEngine adler32Avx2Engine() {
#ifdef QOR_CHECKSUM_X86
    static const AdlerEngine engine = qor_cpu::hasAvx2() ? &adler32Avx2 : nullptr;
    return engine;
#else
    return nullptr;
#endif
}

AdlerEngine adler32Avx512Engine() {
#ifdef QOR_CHECKSUM_X86
    static const AdlerEngine engine = qor_cpu::hasAvx512Vnni() ? &adler32Avx512 : nullptr;
    return engine;
#else
    return nullptr;
#endif
}

std::uint32_t adler32Update(std::uint32_t adler, const unsigned char* p, std::uint64_t n) {
    static const AdlerEngine engine = adler32Avx512Engine() ? adler32Avx512Engine()
                                      : adler32Avx2Engine() ? adler32Avx2Engine()
                                                            : &adler32UpdatePortable;
    return engine(adler, p, n);
}

std::uint32_t crc32cUpdateTable(std::uint32_t reg, const unsigned char* p, std::uint64_t n) {
    return reflectedUpdate(kCrc32CSlices, reg, p, n);
}

Crc32Engine crc32cHardwareEngine() {
#ifdef QOR_CHECKSUM_X86
    static const Crc32Engine engine = cpuHas(20) /* SSE4.2 */ ? &crc32cInstruction : nullptr;
    return engine;
#else
    return nullptr;
#endif
}

std::uint32_t crc32cUpdate(std::uint32_t reg, const unsigned char* p, std::uint64_t n) {
    static const Crc32Engine engine = crc32cHardwareEngine() ? crc32cHardwareEngine() : &crc32cUpdateTable;
    return engine(reg, p, n);
}

}  // namespace qor_checksum

// ---------------------------------------------------------------------------
// Buffer forms.

std::uint32_t crc32c(std::uint32_t crc, const void* buf, long long len) {
    return ~qor_checksum::crc32cUpdate(crc, bytes(buf), usableLength(buf, len));
}

std::uint32_t pcrc32(const void* buf, long long len) {
    CksumState s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.value();
}

std::uint32_t adler32(const void* buf, long long len) {
    AdlerState s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.value();
}

std::uint32_t crc32w(const void* buf, long long len) {
    BitwiseState s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.value();
}

std::uint32_t crc32(const void* buf, long long len) {
    return qor_checksum::crc32Update(0, bytes(buf), usableLength(buf, len));
}

std::uint32_t crc32n(const void* buf, long long len) {
    return ~qor_checksum::crc32Update(0xFFFFFFFFu, bytes(buf), usableLength(buf, len));
}

std::uint64_t crc64(const void* buf, long long len) {
    return reflectedUpdate<std::uint64_t>(kCrc64Slices, 0, bytes(buf), usableLength(buf, len));
}

std::uint64_t crc64n(const void* buf, long long len) {
    return ~reflectedUpdate<std::uint64_t>(kCrc64Slices, ~0ull, bytes(buf), usableLength(buf, len));
}

std::uint32_t sum32_8(const void* buf, long long len) {
    ByteSum s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.sum;
}

std::uint32_t sum32_16(const void* buf, long long len) {
    WordSum<std::uint16_t> s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.sum;
}

std::uint32_t sum32_32(const void* buf, long long len) {
    WordSum<std::uint32_t> s;
    s.update(bytes(buf), usableLength(buf, len));
    return s.sum;
}

// ---------------------------------------------------------------------------
// Stream forms.

bool crc32c(std::uint32_t crc, cFileIOTarget* src, std::uint32_t& out) {
    std::uint32_t reg = crc;
    if (!readToEnd(src, [&](const unsigned char* p, unsigned n) { reg = qor_checksum::crc32cUpdate(reg, p, n); }))
        return false;
    out = ~reg;
    return true;
}

template <typename State>
static bool streamState(cFileIOTarget* src, State& s) {
    return readToEnd(src, [&](const unsigned char* p, unsigned n) { s.update(p, n); });
}

bool pcrc32(cFileIOTarget* src, std::uint32_t& out) {
    CksumState s;
    if (!streamState(src, s)) return false;
    out = s.value();
    return true;
}

bool adler32(cFileIOTarget* src, std::uint32_t& out) {
    AdlerState s;
    if (!streamState(src, s)) return false;
    out = s.value();
    return true;
}

bool crc32w(cFileIOTarget* src, std::uint32_t& out) {
    BitwiseState s;
    if (!streamState(src, s)) return false;
    out = s.value();
    return true;
}

bool crc32(cFileIOTarget* src, std::uint32_t& out) {
    std::uint32_t reg = 0;
    if (!readToEnd(src, [&](const unsigned char* p, unsigned n) { reg = qor_checksum::crc32Update(reg, p, n); }))
        return false;
    out = reg;
    return true;
}

bool crc32n(cFileIOTarget* src, std::uint32_t& out) {
    std::uint32_t reg = 0xFFFFFFFFu;
    if (!readToEnd(src, [&](const unsigned char* p, unsigned n) { reg = qor_checksum::crc32Update(reg, p, n); }))
        return false;
    out = ~reg;
    return true;
}

bool crc64(cFileIOTarget* src, std::uint64_t& out) {
    std::uint64_t reg = 0;
    if (!readToEnd(src, [&](const unsigned char* p, unsigned n) { reg = reflectedUpdate(kCrc64Slices, reg, p, n); }))
        return false;
    out = reg;
    return true;
}

bool crc64n(cFileIOTarget* src, std::uint64_t& out) {
    std::uint64_t reg = ~0ull;
    if (!readToEnd(src, [&](const unsigned char* p, unsigned n) { reg = reflectedUpdate(kCrc64Slices, reg, p, n); }))
        return false;
    out = ~reg;
    return true;
}

bool sum32_8(cFileIOTarget* src, std::uint32_t& out) {
    ByteSum s;
    if (!streamState(src, s)) return false;
    out = s.sum;
    return true;
}

bool sum32_16(cFileIOTarget* src, std::uint32_t& out) {
    WordSum<std::uint16_t> s;
    if (!streamState(src, s)) return false;
    out = s.sum;
    return true;
}

bool sum32_32(cFileIOTarget* src, std::uint32_t& out) {
    WordSum<std::uint32_t> s;
    if (!streamState(src, s)) return false;
    out = s.sum;
    return true;
}
