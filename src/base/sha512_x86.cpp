// The SHA-512 block engine for x86 processors with AVX2 and BMI2.
//
// There are no SHA-512 instructions to lean on, so the rounds stay scalar;
// what AVX2 takes over is the message schedule.  A quarter of the portable
// engine's work is expanding the 16 words of a block to 80,
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16],
//
// and each pair W[t], W[t+1] depends only on words at least two places back,
// so a 128-bit lane computes a pair in one step.  A 256-bit register holds the
// same pair of two blocks, one in each lane: 40 vector steps expand two
// blocks and add the round constants, leaving the rounds of both blocks a
// single memory operand per round, and they run interleaved with the rounds
// of the two blocks before.  The rounds themselves use BMI2's rorx
// (rotations that leave their source alone) and BMI's andn.
//
// The function carries its own target attribute, so the rest of the library
// is built for the generic architecture; the engine is handed out only after
// the processor said it has both extensions.
#include "base/sha.h"

#if defined(__x86_64__)

// Built optimised even in debug builds, as the other hash kernels: the test
// suites hash gibibytes, and unoptimised vector code is many times slower.
// The compiler's reassociation of additions is off: it would put the round's
// additions back into one chain behind S1(e) (see the round below).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2", "no-tree-reassoc")
#endif

#include <immintrin.h>

#define QOR_SHA512_TARGET __attribute__((target("avx2,bmi,bmi2")))

namespace {

// s0(x) = (x ror 1) ^ (x ror 8) ^ (x >> 7) and s1(x) = (x ror 19) ^
// (x ror 61) ^ (x >> 6) on four words at once.  AVX2 has no 64-bit
// rotation: each is two shifts, except the rotation by a whole byte, which
// is one byte shuffle.
QOR_SHA512_TARGET inline __m256i smallSigma0(__m256i x) {
    const __m256i rotateByte = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8,  //
                                                1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
    const __m256i ror1 = _mm256_or_si256(_mm256_srli_epi64(x, 1), _mm256_slli_epi64(x, 63));
    return _mm256_xor_si256(_mm256_xor_si256(ror1, _mm256_shuffle_epi8(x, rotateByte)), _mm256_srli_epi64(x, 7));
}

QOR_SHA512_TARGET inline __m256i smallSigma1(__m256i x) {
    const __m256i right = _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi64(x, 19), _mm256_srli_epi64(x, 61)),
                                           _mm256_srli_epi64(x, 6));
    return _mm256_xor_si256(right, _mm256_xor_si256(_mm256_slli_epi64(x, 45), _mm256_slli_epi64(x, 3)));
}

// Words 2j and 2j + 1 of block a in the low lane and of block b in the high
// lane, each turned from big-endian bytes into a number.
QOR_SHA512_TARGET inline __m256i loadPair(const std::uint8_t* a, const std::uint8_t* b, int j) {
    const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                          7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * j));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * j));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
}

// The expansion of a pair of blocks, one step at a time, so that it can run
// between the rounds of the pair before: the vector unit then works while
// the scalar rounds wait on their own chain.  Step j makes pair j (words 2j
// and 2j + 1 of both blocks) and stores it plus the round constants: block
// a's W[t] + K[t] at wk[4 (t / 2) + t % 2], block b's two places further.
struct sSchedule {
    const std::uint8_t* a;
    const std::uint8_t* b;
    std::uint64_t* wk;
    __m256i* w;  // the pairs made so far, without the constants (40)
};

// Stores pair j plus its round constants.
QOR_SHA512_TARGET inline void storeWithConstants(const sSchedule& s, int j, __m256i x) {
    s.w[j] = x;
    const std::uint64_t* k = qor_sha::sha512RoundConstants.data() + 2 * j;
    const __m256i kk = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(k)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(s.wk + 4 * j), _mm256_add_epi64(x, kk));
}

// Steps 0 to 7: the sixteen words of each block as they are.
QOR_SHA512_TARGET inline void scheduleLoads(const sSchedule& s) {
    for (int j = 0; j < 8; ++j) storeWithConstants(s, j, loadPair(s.a, s.b, j));
}

// Step j, 8 to 39.  alignr joins the high word of one pair with the low word
// of the next, lane by lane: words t - 15, t - 14 and t - 7, t - 6.
QOR_SHA512_TARGET inline void scheduleStep(const sSchedule& s, int j) {
    const __m256i w15 = _mm256_alignr_epi8(s.w[j - 7], s.w[j - 8], 8);
    const __m256i w7 = _mm256_alignr_epi8(s.w[j - 3], s.w[j - 4], 8);
    storeWithConstants(s, j, _mm256_add_epi64(_mm256_add_epi64(s.w[j - 8], smallSigma0(w15)),
                                              _mm256_add_epi64(w7, smallSigma1(s.w[j - 1]))));
}

QOR_SHA512_TARGET inline std::uint64_t ror(std::uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

// One round; the working variables rotate through the macro arguments.  The
// round's speed is the chain from e to the next e: everything that does not
// need e (h + W + K, and Ch's half without it) is summed first, so that only
// S1(e) and one addition stand between e and d + t1.  Ch(e, f, g) is
// (e & f) ^ (~e & g), the second an andn; Maj(a, b, c) is
// ((a ^ b) & (b ^ c)) ^ b, whose b ^ c is the round before's a ^ b.
#define QOR_SHA512_AVX2_ROUND(a, b, c, d, e, f, g, h, wkt) \
    do { \
        const std::uint64_t hk = h + (wkt); \
        const std::uint64_t ch = (e & f) + _andn_u64(e, g); \
        const std::uint64_t s1 = ror(e, 14) ^ ror(e, 18) ^ ror(e, 41); \
        const std::uint64_t t1 = s1 + (ch + hk); \
        d += t1; \
        const std::uint64_t s0 = ror(a, 28) ^ ror(a, 34) ^ ror(a, 39); \
        const std::uint64_t maj = ((a ^ b) & (b ^ c)) ^ b; \
        h = t1 + (s0 + maj); \
    } while (0)

// Rounds t to t + 3 and t + 4 to t + 7 (t a multiple of 8).
#define QOR_SHA512_AVX2_4A(t) \
    QOR_SHA512_AVX2_ROUND(a, b, c, d, e, f, g, h, wk[2 * (t) + 0]); \
    QOR_SHA512_AVX2_ROUND(h, a, b, c, d, e, f, g, wk[2 * (t) + 1]); \
    QOR_SHA512_AVX2_ROUND(g, h, a, b, c, d, e, f, wk[2 * (t) + 4]); \
    QOR_SHA512_AVX2_ROUND(f, g, h, a, b, c, d, e, wk[2 * (t) + 5])
#define QOR_SHA512_AVX2_4B(t) \
    QOR_SHA512_AVX2_ROUND(e, f, g, h, a, b, c, d, wk[2 * (t) + 8]); \
    QOR_SHA512_AVX2_ROUND(d, e, f, g, h, a, b, c, wk[2 * (t) + 9]); \
    QOR_SHA512_AVX2_ROUND(c, d, e, f, g, h, a, b, wk[2 * (t) + 12]); \
    QOR_SHA512_AVX2_ROUND(b, c, d, e, f, g, h, a, wk[2 * (t) + 13])

// The 80 rounds of one block on its scheduled words (wk at the block's own
// first word: pairs four words apart), with one step of the next pair's
// expansion after each four rounds, from step `step` up to `end`.  The loop
// is left rolled on purpose: unrolled, the two blocks' 160 rounds are too
// large for the processor's cache of decoded instructions, and decoding
// them again costs more than the loop.
QOR_SHA512_TARGET void rounds(std::uint64_t* state, const std::uint64_t* wk, const sSchedule& next, int step,
                              int end) {
    std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 1
    for (int t = 0; t < 80; t += 8) {
        QOR_SHA512_AVX2_4A(t);
        if (step < end) scheduleStep(next, step++);
        QOR_SHA512_AVX2_4B(t);
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
// half of wk: its words as they are first, then 20 steps during the first
// block's rounds and the last 12 during the second's.
QOR_SHA512_TARGET void sha512BlocksAvx2(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    if (!count) return;
    alignas(32) std::uint64_t wk[2][160];
    __m256i w[40];
    sSchedule sched{blocks, count >= 2 ? blocks + 128 : blocks, wk[0], w};
    scheduleLoads(sched);
    for (int j = 8; j < 40; ++j) scheduleStep(sched, j);
    for (int cur = 0; count;) {
        const std::size_t now = count >= 2 ? 2 : 1;
        blocks += 128 * now;
        count -= now;
        if (now == 1) {
            // A last single block: nothing follows it to expand.
            rounds(state, wk[cur], sched, 0, 0);
        } else if (!count) {
            rounds(state, wk[cur], sched, 0, 0);
            rounds(state, wk[cur] + 2, sched, 0, 0);
        } else {
            sched = sSchedule{blocks, count >= 2 ? blocks + 128 : blocks, wk[cur ^ 1], w};
            scheduleLoads(sched);
            rounds(state, wk[cur], sched, 8, 28);
            rounds(state, wk[cur] + 2, sched, 28, 40);
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

BlockEngine64 sha512VectorEngine() {
    static const BlockEngine64 engine = cpuHasAvx2AndBmi() ? &sha512BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine64 sha512VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
