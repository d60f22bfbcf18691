// The portable block engines of SHA-256, SHA-1 and SHA-512: what a
// processor without the vector or SHA extensions the other engines need
// runs, and where those engines are not built.
//
// These are leaves that own nothing to clean up, so this file is built
// without non-call exceptions (src/CMakeLists.txt): a fault in one still
// unwinds through it by its unwind tables, and the compiler is free to move
// and combine the loads, which it otherwise keeps in place as possible
// throws (SHA-256 took some 15% longer that way on an Intel Golden Cove
// core).
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/prefetch.h"
#include "base/sha.h"

namespace qor_sha {
namespace {

inline std::uint32_t rotr32(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline std::uint32_t rotl32(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline std::uint64_t rotr64(std::uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline std::uint32_t load32be(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
inline std::uint64_t load64be(const std::uint8_t* p) {
    return (std::uint64_t(load32be(p)) << 32) | load32be(p + 4);
}

}  // namespace

// Portable compression functions.  The message schedule lives in a ring of
// 16 words; the eight (or five) working variables rotate through the
// arguments of the rounds instead of being moved.

// Keeps the compiler from reassociating a partial sum with the terms that
// are added to it afterwards: the round adds what is ready early (h, K and
// W) first and the functions of e, the end of the chain from e to e that
// sets the pace, last.
#if defined(__GNUC__) || defined(__clang__)
#define QOR_SHA_SUM_SO_FAR(x) __asm__("" : "+r"(x))
#else
#define QOR_SHA_SUM_SO_FAR(x) ((void)0)
#endif

namespace {

// SHA-256 and SHA-512 share their round; the two differ in word, rotations
// and number of rounds.  The message's small sigmas nest their rotations:
// each works on the one before's result, which takes one instruction and
// one temporary fewer than rotations side by side where a rotation
// overwrites its operand (no BMI2).  So do the big ones: for SHA-512, S0(a)
// = ror28(a ^ ror6(a) ^ ror11(a)) is taken as ror28(ror6(ror5(a) ^ a) ^ a)
// and S1(e) = ror14(e ^ ror4(e) ^ ror27(e)) as ror14(ror4(ror23(e) ^ e) ^ e).
struct sSha256Shape {
    using Word = std::uint32_t;
    static constexpr int kBlockBytes = 64;
    static constexpr int kRounds = 64;
    static const Word* constants() { return sha256RoundConstants.data(); }
    static Word load(const std::uint8_t* p) { return load32be(p); }
    static Word sigma0(Word x) { return rotr32(rotr32(x, 11) ^ x, 7) ^ (x >> 3); }
    static Word sigma1(Word x) { return rotr32(rotr32(x, 2) ^ x, 17) ^ (x >> 10); }
    static Word bigSigma0(Word a) { return rotr32(rotr32(rotr32(a, 9) ^ a, 11) ^ a, 2); }
    static Word bigSigma1(Word e) { return rotr32(rotr32(rotr32(e, 14) ^ e, 5) ^ e, 6); }
};

struct sSha512Shape {
    using Word = std::uint64_t;
    static constexpr int kBlockBytes = 128;
    static constexpr int kRounds = 80;
    static const Word* constants() { return sha512RoundConstants.data(); }
    static Word load(const std::uint8_t* p) { return load64be(p); }
    static Word sigma0(Word x) { return rotr64(rotr64(x, 7) ^ x, 1) ^ (x >> 7); }
    static Word sigma1(Word x) { return rotr64(rotr64(x, 42) ^ x, 19) ^ (x >> 6); }
    static Word bigSigma0(Word a) { return rotr64(rotr64(rotr64(a, 5) ^ a, 6) ^ a, 28); }
    static Word bigSigma1(Word e) { return rotr64(rotr64(rotr64(e, 23) ^ e, 4) ^ e, 14); }
};

// One round.  Maj(a, b, c) is ((a ^ b) & (b ^ c)) ^ b, and b ^ c is the
// a ^ b of the round before: each round leaves its a ^ b in `ab` for the
// next one, which reads it as `bc` (two names taking turns).  c is not read.
// The round constant comes from the table `k` points into; from round 16
// on (kExpand) the message word is made in the ring of sixteen.
template <class S, bool kExpand>
[[gnu::always_inline]] inline void sha2Round(typename S::Word a, typename S::Word b, typename S::Word& d,
                                             typename S::Word e, typename S::Word f, typename S::Word g,
                                             typename S::Word& h, typename S::Word bc, typename S::Word& ab,
                                             typename S::Word* w, const typename S::Word* k, int i) {
    if (kExpand) w[i & 15] += S::sigma1(w[(i - 2) & 15]) + w[(i - 7) & 15] + S::sigma0(w[(i - 15) & 15]);
    typename S::Word t1 = h + k[i] + w[i & 15];
    QOR_SHA_SUM_SO_FAR(t1);
    t1 += g ^ (e & (f ^ g));
    t1 += S::bigSigma1(e);
    d += t1;
    ab = a ^ b;
    h = t1 + S::bigSigma0(a) + ((ab & bc) ^ b);
}

// Eight rounds: the working variables rotate through the arguments instead
// of being moved.
template <class S, bool kExpand, class Word = typename S::Word>
[[gnu::always_inline]] inline void sha2Eight(Word& a, Word& b, Word& c, Word& d, Word& e, Word& f, Word& g, Word& h,
                                             Word& x, Word& y, Word* w, const Word* k, int i) {
    sha2Round<S, kExpand>(a, b, d, e, f, g, h, x, y, w, k, i + 0);
    sha2Round<S, kExpand>(h, a, c, d, e, f, g, y, x, w, k, i + 1);
    sha2Round<S, kExpand>(g, h, b, c, d, e, f, x, y, w, k, i + 2);
    sha2Round<S, kExpand>(f, g, a, b, c, d, e, y, x, w, k, i + 3);
    sha2Round<S, kExpand>(e, f, h, a, b, c, d, x, y, w, k, i + 4);
    sha2Round<S, kExpand>(d, e, g, h, a, b, c, y, x, w, k, i + 5);
    sha2Round<S, kExpand>(c, d, f, g, h, a, b, x, y, w, k, i + 6);
    sha2Round<S, kExpand>(b, c, e, f, g, h, a, y, x, w, k, i + 7);
}

// Rounds 16 on run as a loop of sixteen, the round constants read from the
// table: SHA-512's eighty in straight code, each with its 64-bit constant as
// an immediate, are too long to stay in the decoded-instruction cache.
template <class S>
void sha2Blocks(typename S::Word* state, const std::uint8_t* blocks, std::size_t count) {
    using Word = typename S::Word;
    for (; count; --count, blocks += S::kBlockBytes) {
        qor_detail::prefetchAhead(blocks, QOR_SHA_PREFETCH_AHEAD, S::kBlockBytes / 64);
        Word w[16];
        for (int i = 0; i < 16; ++i) w[i] = S::load(blocks + sizeof(Word) * i);
        Word a = state[0], b = state[1], c = state[2], d = state[3];
        Word e = state[4], f = state[5], g = state[6], h = state[7];
        Word x = b ^ c, y = 0;
        const Word* k = S::constants();
        sha2Eight<S, false>(a, b, c, d, e, f, g, h, x, y, w, k, 0);
        sha2Eight<S, false>(a, b, c, d, e, f, g, h, x, y, w, k, 8);
        for (k += 16; k != S::constants() + S::kRounds; k += 16) {
            sha2Eight<S, true>(a, b, c, d, e, f, g, h, x, y, w, k, 0);
            sha2Eight<S, true>(a, b, c, d, e, f, g, h, x, y, w, k, 8);
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
}

}  // namespace

void sha256BlocksPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    sha2Blocks<sSha256Shape>(state, blocks, count);
}

void sha512BlocksPortable(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    sha2Blocks<sSha512Shape>(state, blocks, count);
}

// Words 16 on are stored to the ring and kept in memory from there (the
// empty asm says the word may have changed, so that it is read again where
// a later word needs it): the compiler then takes three of the four terms
// as memory operands instead of holding sixteen words in registers, which
// it cannot, and shuffling them.  The newest of the four, W[t-3], made three
// rounds before, stays in a register (`recent`, three taking turns).
inline std::uint32_t sha1Next(std::uint32_t* w, std::uint32_t* recent, int i) {
    const std::uint32_t x = rotl32(recent[i % 3] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1);
    w[i & 15] = x;
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+m"(w[i & 15]));
#endif
    recent[i % 3] = x;
    return x;
}

#define QOR_SHA1_W(i) ((i) < 16 ? w[(i)] : sha1Next(w, recent, (i)))

#define QOR_SHA1_F(i, b, c, d) \
    ((i) < 20 ? (d ^ (b & (c ^ d))) : (i) < 40 ? (b ^ c ^ d) : (i) < 60 ? ((b & c) | (d & (b | c))) : (b ^ c ^ d))

// rol5(a) is added last: the chain from a to the next a is that rotation
// and one add, while W + K and the function of b, c and d (older words) are
// in e before.
#define QOR_SHA1_ROUND(a, b, c, d, e, i) \
    do { \
        std::uint32_t t = e + k[(i) / 20] + QOR_SHA1_W(i); \
        QOR_SHA_SUM_SO_FAR(t); \
        t += QOR_SHA1_F(i, b, c, d); \
        e = t + rotl32(a, 5); \
        b = rotl32(b, 30); \
    } while (0)

#define QOR_SHA1_5(i) \
    QOR_SHA1_ROUND(a, b, c, d, e, (i) + 0); \
    QOR_SHA1_ROUND(e, a, b, c, d, (i) + 1); \
    QOR_SHA1_ROUND(d, e, a, b, c, (i) + 2); \
    QOR_SHA1_ROUND(c, d, e, a, b, (i) + 3); \
    QOR_SHA1_ROUND(b, c, d, e, a, (i) + 4)

void sha1BlocksPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    constexpr const std::array<std::uint32_t, 4>& k = sha1RoundConstants;
    for (; count; --count, blocks += 64) {
        qor_detail::prefetchAhead(blocks, QOR_SHA_PREFETCH_AHEAD);
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load32be(blocks + 4 * i);
        std::uint32_t recent[3] = {w[15], w[13], w[14]};
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        QOR_SHA1_5(0);
        QOR_SHA1_5(5);
        QOR_SHA1_5(10);
        QOR_SHA1_5(15);
        QOR_SHA1_5(20);
        QOR_SHA1_5(25);
        QOR_SHA1_5(30);
        QOR_SHA1_5(35);
        QOR_SHA1_5(40);
        QOR_SHA1_5(45);
        QOR_SHA1_5(50);
        QOR_SHA1_5(55);
        QOR_SHA1_5(60);
        QOR_SHA1_5(65);
        QOR_SHA1_5(70);
        QOR_SHA1_5(75);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

}  // namespace qor_sha
