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
// 16 words; the eight (or five) working variables rotate through the macro
// arguments instead of being moved.

// Keeps the compiler from reassociating a partial sum with the terms that
// are added to it afterwards: the round adds what is ready early (h, K and
// W) first and the functions of e, the end of the chain from e to e that
// sets the pace, last.
#if defined(__GNUC__) || defined(__clang__)
#define QOR_SHA_SUM_SO_FAR(x) __asm__("" : "+r"(x))
#else
#define QOR_SHA_SUM_SO_FAR(x) ((void)0)
#endif

// The message's small sigmas with the rotations nested, as S0 and S1 below.
inline std::uint32_t sha256Sigma0(std::uint32_t x) { return rotr32(rotr32(x, 11) ^ x, 7) ^ (x >> 3); }
inline std::uint32_t sha256Sigma1(std::uint32_t x) { return rotr32(rotr32(x, 2) ^ x, 17) ^ (x >> 10); }

#define QOR_SHA256_W(i, expand) \
    (!(expand) ? w[(i)] : (w[(i)&15] += sha256Sigma1(w[((i)-2) & 15]) + w[((i)-7) & 15] + sha256Sigma0(w[((i)-15) & 15])))

// Laid out as SHA-512's below: Maj from the round before's a ^ b, S0(a) =
// ror2(ror11(ror9(a) ^ a) ^ a) and S1(e) = ror6(ror5(ror14(e) ^ e) ^ e) as
// nested rotations, and what is ready early added before the functions of e.
#define QOR_SHA256_ROUND(a, b, c, d, e, f, g, h, i, bc, ab, expand) \
    do { \
        std::uint32_t t1 = h + k[i] + QOR_SHA256_W(i, expand); \
        QOR_SHA_SUM_SO_FAR(t1); \
        t1 += g ^ (e & (f ^ g)); \
        t1 += rotr32(rotr32(rotr32(e, 14) ^ e, 5) ^ e, 6); \
        d += t1; \
        ab = a ^ b; \
        h = t1 + rotr32(rotr32(rotr32(a, 9) ^ a, 11) ^ a, 2) + ((ab & bc) ^ b); \
    } while (0)

#define QOR_SHA256_8(i, expand) \
    QOR_SHA256_ROUND(a, b, c, d, e, f, g, h, (i) + 0, x, y, expand); \
    QOR_SHA256_ROUND(h, a, b, c, d, e, f, g, (i) + 1, y, x, expand); \
    QOR_SHA256_ROUND(g, h, a, b, c, d, e, f, (i) + 2, x, y, expand); \
    QOR_SHA256_ROUND(f, g, h, a, b, c, d, e, (i) + 3, y, x, expand); \
    QOR_SHA256_ROUND(e, f, g, h, a, b, c, d, (i) + 4, x, y, expand); \
    QOR_SHA256_ROUND(d, e, f, g, h, a, b, c, (i) + 5, y, x, expand); \
    QOR_SHA256_ROUND(c, d, e, f, g, h, a, b, (i) + 6, x, y, expand); \
    QOR_SHA256_ROUND(b, c, d, e, f, g, h, a, (i) + 7, y, x, expand)

// Rounds 16 to 63 run as a loop of sixteen, as SHA-512's do.
void sha256BlocksPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    for (; count; --count, blocks += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load32be(blocks + 4 * i);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint32_t x = b ^ c, y = 0;
        const std::uint32_t* k = sha256RoundConstants.data();
        QOR_SHA256_8(0, false);
        QOR_SHA256_8(8, false);
        for (k += 16; k != sha256RoundConstants.data() + 64; k += 16) {
            QOR_SHA256_8(0, true);
            QOR_SHA256_8(8, true);
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

// The message's small sigmas with the rotations nested, as S0 below: each
// rotation works on the one before's result, which takes one instruction
// and one temporary fewer than three rotations side by side.
inline std::uint64_t sha512Sigma0(std::uint64_t x) { return rotr64(rotr64(x, 7) ^ x, 1) ^ (x >> 7); }
inline std::uint64_t sha512Sigma1(std::uint64_t x) { return rotr64(rotr64(x, 42) ^ x, 19) ^ (x >> 6); }

#define QOR_SHA512_W(i, expand) \
    (!(expand) ? w[(i)] : (w[(i)&15] += sha512Sigma1(w[((i)-2) & 15]) + w[((i)-7) & 15] + sha512Sigma0(w[((i)-15) & 15])))

// Maj(a, b, c) is ((a ^ b) & (b ^ c)) ^ b, and b ^ c is the a ^ b of the
// round before: each round leaves its a ^ b in `ab` for the next one, which
// reads it as `bc` (two names taking turns).  S0(a) = ror28(a ^ ror6(a) ^
// ror11(a)) is taken as ror28(ror6(ror5(a) ^ a) ^ a), and S1(e) =
// ror14(e ^ ror4(e) ^ ror27(e)) as ror14(ror4(ror23(e) ^ e) ^ e): one
// temporary instead of three where rotations overwrite their operand (no
// BMI2).  The round constants come from the table `k` points into.
#define QOR_SHA512_ROUND(a, b, c, d, e, f, g, h, i, bc, ab, expand) \
    do { \
        std::uint64_t t1 = h + k[i] + QOR_SHA512_W(i, expand); \
        QOR_SHA_SUM_SO_FAR(t1); \
        t1 += g ^ (e & (f ^ g)); \
        t1 += rotr64(rotr64(rotr64(e, 23) ^ e, 4) ^ e, 14); \
        d += t1; \
        ab = a ^ b; \
        h = t1 + rotr64(rotr64(rotr64(a, 5) ^ a, 6) ^ a, 28) + ((ab & bc) ^ b); \
    } while (0)

#define QOR_SHA512_8(i, expand) \
    QOR_SHA512_ROUND(a, b, c, d, e, f, g, h, (i) + 0, x, y, expand); \
    QOR_SHA512_ROUND(h, a, b, c, d, e, f, g, (i) + 1, y, x, expand); \
    QOR_SHA512_ROUND(g, h, a, b, c, d, e, f, (i) + 2, x, y, expand); \
    QOR_SHA512_ROUND(f, g, h, a, b, c, d, e, (i) + 3, y, x, expand); \
    QOR_SHA512_ROUND(e, f, g, h, a, b, c, d, (i) + 4, x, y, expand); \
    QOR_SHA512_ROUND(d, e, f, g, h, a, b, c, (i) + 5, y, x, expand); \
    QOR_SHA512_ROUND(c, d, e, f, g, h, a, b, (i) + 6, x, y, expand); \
    QOR_SHA512_ROUND(b, c, d, e, f, g, h, a, (i) + 7, y, x, expand)

// Rounds 16 to 79 run as a loop of sixteen, the round constants read from
// the table: all eighty in straight code, each with its 64-bit constant as
// an immediate, are too long to stay in the decoded-instruction cache.
void sha512BlocksPortable(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    for (; count; --count, blocks += 128) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load64be(blocks + 8 * i);
        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint64_t x = b ^ c, y = 0;
        const std::uint64_t* k = sha512RoundConstants.data();
        QOR_SHA512_8(0, false);
        QOR_SHA512_8(8, false);
        for (k += 16; k != sha512RoundConstants.data() + 80; k += 16) {
            QOR_SHA512_8(0, true);
            QOR_SHA512_8(8, true);
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

}  // namespace qor_sha
