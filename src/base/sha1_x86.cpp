// The SHA-1 block engine for x86 processors with AVX2 and BMI2 but without
// the SHA extensions, built like the SHA-256 one (sha256_x86.cpp): scalar
// rounds with rorx and andn, and the message of two blocks at a time
// expanded with AVX2, four words of each in one 256-bit register, while the
// rounds of the two blocks before run.
//
// A step makes words t to t + 3 (t a multiple of 4) of both blocks:
//
//     W[t] = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16])
//
// W[t+3] needs W[t] of the same step: the step is taken with 0 in its
// place, and rol1(W[t]) (which is rol2 of that word's other terms) xor-ed
// into the last word afterwards.
#include "base/sha.h"

#if defined(__x86_64__)

// Built optimised even in debug builds, as the other hash kernels; the
// compiler's reassociation of additions is off, so that the round's
// additions keep the order that shortens the chain from a to a.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2", "no-tree-reassoc")
#endif

#include <immintrin.h>

#define QOR_SHA1_TARGET __attribute__((target("avx2,bmi,bmi2")))

namespace {

// The round constants of rounds 0-19, 20-39, 40-59 and 60-79.
alignas(16) constexpr std::uint32_t kRoundConstants[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

QOR_SHA1_TARGET inline __m256i rol1(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, 1), _mm256_srli_epi32(x, 31));
}

QOR_SHA1_TARGET inline __m256i loadGroup(const std::uint8_t* x, const std::uint8_t* y, int j) {
    const __m256i swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,  //
                                          3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 16 * j));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 16 * j));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
}

// Step j stores group j (words 4j to 4j + 3) plus the round constant: block
// x's W[t] + K at wk[8 (t / 4) + t % 4], block y's four places further.
struct sSchedule {
    const std::uint8_t* x;
    const std::uint8_t* y;
    std::uint32_t* wk;
    __m256i* w;  // the groups made so far, without the constant (20)
};

QOR_SHA1_TARGET inline void storeWithConstant(const sSchedule& s, int j, __m256i v) {
    s.w[j] = v;
    const __m256i k = _mm256_set1_epi32(static_cast<int>(kRoundConstants[4 * j / 20]));
    _mm256_store_si256(reinterpret_cast<__m256i*>(s.wk + 8 * j), _mm256_add_epi32(v, k));
}

QOR_SHA1_TARGET inline void scheduleLoads(const sSchedule& s) {
    for (int j = 0; j < 4; ++j) storeWithConstant(s, j, loadGroup(s.x, s.y, j));
}

// Step j, 4 to 19.
QOR_SHA1_TARGET inline void scheduleStep(const sSchedule& s, int j) {
    const __m256i w14 = _mm256_alignr_epi8(s.w[j - 3], s.w[j - 4], 8);
    const __m256i w3 = _mm256_srli_si256(s.w[j - 1], 4);
    __m256i r = rol1(_mm256_xor_si256(_mm256_xor_si256(s.w[j - 4], w14), _mm256_xor_si256(s.w[j - 2], w3)));
    r = _mm256_xor_si256(r, rol1(_mm256_slli_si256(r, 12)));
    storeWithConstant(s, j, r);
}

QOR_SHA1_TARGET inline std::uint32_t ror(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Rounds t to t + 4, with f one of the three round functions; the names
// rotate through the arguments, b is rotated left by 30 in place.  The new
// a waits on the last a only through rol5(a) and one addition: W + K and f
// (whose inputs are older) are added to e first.
#define QOR_SHA1_CH(b, c, d) ((b & c) + _andn_u32(b, d))
#define QOR_SHA1_PARITY(b, c, d) (b ^ c ^ d)
#define QOR_SHA1_MAJ(b, c, d) ((b & c) + (d & (b ^ c)))
#define QOR_SHA1_AVX2_ROUND(a, b, c, d, e, t, F) \
    do { \
        e = (e + wk[8 * ((t) / 4) + (t) % 4] + F(b, c, d)) + ror(a, 27); \
        b = ror(b, 2); \
    } while (0)
#define QOR_SHA1_AVX2_5(t, F) \
    QOR_SHA1_AVX2_ROUND(a, b, c, d, e, (t) + 0, F); \
    QOR_SHA1_AVX2_ROUND(e, a, b, c, d, (t) + 1, F); \
    QOR_SHA1_AVX2_ROUND(d, e, a, b, c, (t) + 2, F); \
    QOR_SHA1_AVX2_ROUND(c, d, e, a, b, (t) + 3, F); \
    QOR_SHA1_AVX2_ROUND(b, c, d, e, a, (t) + 4, F); \
    if ((t) % 10 == 5 && step < end) scheduleStep(next, step++)
#define QOR_SHA1_AVX2_20(t, F) \
    QOR_SHA1_AVX2_5((t) + 0, F); \
    QOR_SHA1_AVX2_5((t) + 5, F); \
    QOR_SHA1_AVX2_5((t) + 10, F); \
    QOR_SHA1_AVX2_5((t) + 15, F)

// The 80 rounds of one block on its scheduled words, with one step of the
// next pair's expansion after each ten rounds, from `step` up to `end`: each
// step waits on the one before, so they are spread over both blocks.
QOR_SHA1_TARGET void rounds(std::uint32_t* state, const std::uint32_t* wk, const sSchedule& next, int step, int end) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    QOR_SHA1_AVX2_20(0, QOR_SHA1_CH);
    QOR_SHA1_AVX2_20(20, QOR_SHA1_PARITY);
    QOR_SHA1_AVX2_20(40, QOR_SHA1_MAJ);
    QOR_SHA1_AVX2_20(60, QOR_SHA1_PARITY);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

// Blocks go by pairs (a last odd block pairs with itself, its copy unused);
// the next pair is expanded during the rounds of both.
QOR_SHA1_TARGET void sha1BlocksAvx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    if (!count) return;
    alignas(32) std::uint32_t wk[2][160];
    __m256i w[20];
    sSchedule sched{blocks, count >= 2 ? blocks + 64 : blocks, wk[0], w};
    scheduleLoads(sched);
    for (int j = 4; j < 20; ++j) scheduleStep(sched, j);
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
            rounds(state, wk[cur] + 4, sched, 12, 20);
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

BlockEngine32 sha1VectorEngine() {
    static const BlockEngine32 engine = cpuHasAvx2AndBmi() ? &sha1BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha1VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
