// The SHA-256 block engine for x86 processors with AVX2 and BMI2 but without
// the SHA extensions, built like the SHA-512 one (sha512_x86.cpp): the
// rounds stay scalar, with BMI2's rorx and BMI's andn, and AVX2 expands the
// message of two blocks at a time, four words of each in one 256-bit
// register (block x in the low lane, block y in the high one), while the
// rounds of the two blocks before run.
//
// A step makes words t to t + 3 (t a multiple of 4) of both blocks:
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]
//
// W[t-16], W[t-15], W[t-7] are whole words of earlier steps, joined by
// alignr; s1 needs W[t-2] and W[t-1] for the first two words and the step's
// own first two words for the last two, so it is taken twice, on two words
// each time.
#include "base/sha.h"

#if defined(__x86_64__)

// Built optimised even in debug builds, as the other hash kernels.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2", "no-tree-reassoc")
#endif

#include <immintrin.h>

#define QOR_SHA256_TARGET __attribute__((target("avx2,bmi,bmi2")))

namespace {

// s0(x) = (x ror 7) ^ (x ror 18) ^ (x >> 3) and s1(x) = (x ror 17) ^
// (x ror 19) ^ (x >> 10) on eight words: a rotation is two shifts whose
// bits do not meet, so every term is one shift and all are xor-ed.
QOR_SHA256_TARGET inline __m256i smallSigma0(__m256i x) {
    const __m256i r = _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi32(x, 7), _mm256_slli_epi32(x, 25)),
                                       _mm256_xor_si256(_mm256_srli_epi32(x, 18), _mm256_slli_epi32(x, 14)));
    return _mm256_xor_si256(r, _mm256_srli_epi32(x, 3));
}

QOR_SHA256_TARGET inline __m256i smallSigma1(__m256i x) {
    const __m256i r = _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi32(x, 17), _mm256_slli_epi32(x, 15)),
                                       _mm256_xor_si256(_mm256_srli_epi32(x, 19), _mm256_slli_epi32(x, 13)));
    return _mm256_xor_si256(r, _mm256_srli_epi32(x, 10));
}

// Words 4j to 4j + 3 of block x in the low lane and of block y in the high
// lane, each turned from big-endian bytes into a number.
QOR_SHA256_TARGET inline __m256i loadGroup(const std::uint8_t* x, const std::uint8_t* y, int j) {
    const __m256i swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,  //
                                          3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 16 * j));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 16 * j));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
}

// The expansion of a pair of blocks, one step at a time, so that it can run
// between the rounds of the pair before.  Step j stores group j plus the
// round constants: block x's W[t] + K[t] at wk[8 (t / 4) + t % 4], block y's
// four places further.
struct sSchedule {
    const std::uint8_t* x;
    const std::uint8_t* y;
    std::uint32_t* wk;
    __m256i* w;  // the groups made so far, without the constants (16)
};

QOR_SHA256_TARGET inline void storeWithConstants(const sSchedule& s, int j, __m256i v) {
    s.w[j] = v;
    const __m256i k = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(qor_sha::sha256RoundConstants.data() + 4 * j)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(s.wk + 8 * j), _mm256_add_epi32(v, k));
}

// Steps 0 to 3: the sixteen words of each block as they are.
QOR_SHA256_TARGET inline void scheduleLoads(const sSchedule& s) {
    for (int j = 0; j < 4; ++j) storeWithConstants(s, j, loadGroup(s.x, s.y, j));
}

// Step j, 4 to 15.
QOR_SHA256_TARGET inline void scheduleStep(const sSchedule& s, int j) {
    const __m256i w15 = _mm256_alignr_epi8(s.w[j - 3], s.w[j - 4], 4);
    const __m256i w7 = _mm256_alignr_epi8(s.w[j - 1], s.w[j - 2], 4);
    const __m256i base = _mm256_add_epi32(_mm256_add_epi32(s.w[j - 4], smallSigma0(w15)), w7);
    // W[t-2], W[t-1] into places 0 and 1: the step's first two words.
    const __m256i first = _mm256_add_epi32(base, smallSigma1(_mm256_shuffle_epi32(s.w[j - 1], 0xEE)));
    // Those two into places 2 and 3: the last two.
    const __m256i last = _mm256_add_epi32(base, smallSigma1(_mm256_shuffle_epi32(first, 0x44)));
    storeWithConstants(s, j, _mm256_blend_epi32(first, last, 0xCC));
}

QOR_SHA256_TARGET inline std::uint32_t ror(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// One round; the working variables rotate through the macro arguments.  As
// in the SHA-512 engine, what does not need e is summed first; Maj(a, b, c)
// is ((a ^ b) & (b ^ c)) ^ b with b ^ c the a ^ b of the round before
// (bc, ab: two names taking turns).
#define QOR_SHA256_AVX2_ROUND(a, b, c, d, e, f, g, h, wkt, bc, ab) \
    do { \
        const std::uint32_t hk = h + (wkt); \
        const std::uint32_t ch = (e & f) + _andn_u32(e, g); \
        const std::uint32_t s1 = ror(e, 6) ^ ror(e, 11) ^ ror(e, 25); \
        const std::uint32_t t1 = s1 + (ch + hk); \
        d += t1; \
        const std::uint32_t s0 = ror(a, 2) ^ ror(a, 13) ^ ror(a, 22); \
        ab = a ^ b; \
        h = t1 + (s0 + ((ab & bc) ^ b)); \
    } while (0)

#define QOR_SHA256_AVX2_8(t) \
    QOR_SHA256_AVX2_ROUND(a, b, c, d, e, f, g, h, wk[2 * (t) + 0], x, y); \
    QOR_SHA256_AVX2_ROUND(h, a, b, c, d, e, f, g, wk[2 * (t) + 1], y, x); \
    QOR_SHA256_AVX2_ROUND(g, h, a, b, c, d, e, f, wk[2 * (t) + 2], x, y); \
    QOR_SHA256_AVX2_ROUND(f, g, h, a, b, c, d, e, wk[2 * (t) + 3], y, x); \
    QOR_SHA256_AVX2_ROUND(e, f, g, h, a, b, c, d, wk[2 * (t) + 8], x, y); \
    QOR_SHA256_AVX2_ROUND(d, e, f, g, h, a, b, c, wk[2 * (t) + 9], y, x); \
    QOR_SHA256_AVX2_ROUND(c, d, e, f, g, h, a, b, wk[2 * (t) + 10], x, y); \
    QOR_SHA256_AVX2_ROUND(b, c, d, e, f, g, h, a, wk[2 * (t) + 11], y, x)

// The 64 rounds of one block on its scheduled words (wk at the block's own
// first word: groups of four, eight words apart), with one step of the next
// pair's expansion after each eight rounds, from step `step` up to `end`.
QOR_SHA256_TARGET void rounds(std::uint32_t* state, const std::uint32_t* wk, const sSchedule& next, int step,
                              int end) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    std::uint32_t x = b ^ c, y = 0;
#pragma GCC unroll 1
    for (int t = 0; t < 64; t += 8) {
        QOR_SHA256_AVX2_8(t);
        if (step < end) scheduleStep(next, step++);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

// Blocks go by pairs (a last odd block pairs with itself, its copy unused).
// While one pair's rounds run, the next pair is expanded into the other
// half of wk: its words as they are first, then 8 steps during the first
// block's rounds and the last 4 during the second's.
QOR_SHA256_TARGET void sha256BlocksAvx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    if (!count) return;
    alignas(32) std::uint32_t wk[2][128];
    __m256i w[16];
    sSchedule sched{blocks, count >= 2 ? blocks + 64 : blocks, wk[0], w};
    scheduleLoads(sched);
    for (int j = 4; j < 16; ++j) scheduleStep(sched, j);
    for (int cur = 0; count;) {
        const std::size_t now = count >= 2 ? 2 : 1;
        blocks += 64 * now;
        count -= now;
        if (now == 1) {
            rounds(state, wk[cur], sched, 0, 0);
        } else if (!count) {
            rounds(state, wk[cur], sched, 0, 0);
            rounds(state, wk[cur] + 4, sched, 0, 0);
        } else {
            sched = sSchedule{blocks, count >= 2 ? blocks + 64 : blocks, wk[cur ^ 1], w};
            scheduleLoads(sched);
            rounds(state, wk[cur], sched, 4, 12);
            rounds(state, wk[cur] + 4, sched, 12, 16);
        }
        cur ^= 1;
    }
}

bool cpuHasAvx2AndBmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha256VectorEngine() {
    static const BlockEngine32 engine = cpuHasAvx2AndBmi() ? &sha256BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha256VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
