// The secure hash functions SHA-1, SHA-256, SHA-384 and SHA-512, and HMAC
// over SHA-1, SHA-256 and SHA-512.
//
// Streaming, one family per context (each context is a plain structure the
// caller owns; nothing is allocated):
//   sSHA256Ctx   sha256_starts, sha256_update, sha256_finish       SHA-256
//   SHA1_CTX     sha1_init, sha1_update, sha1_final                SHA-1
//   SHA_CTX      sha_init, sha_update, sha_final, sha_digest,      SHA-1
//                sha_copy
//   sSHA512Ctx   sha512_starts / sha384_starts, sha512_update,     SHA-512, SHA-384
//                sha512_finish / sha384_finish
//   sSHA512_Ctx  _SHA512_Init, _SHA512_Update, _SHA512_Finalize    SHA-512
// One-shot: SHA1Hash, SHA2Hash, SHA512Hash, _SHA1Hash, _SHA2Hash,
// _SHA512Hash, _SHA512; and the same digests of a whole stream.
// HMAC: hmac_sha1, hmac_sha256, hmac_sha512.
//
// Digests are the standard's byte strings: the hash words in order, each most
// significant byte first.  A null pointer for the bytes is no bytes.  Any
// number of threads may hash at once, each with its own context.
//
// SHA-256 and SHA-1 use the x86 SHA instructions when the CPU has them,
// else a message schedule computed with AVX2 where there is AVX2 and BMI2,
// else one in 128-bit registers with AVX or SSSE3; SHA-512 (with SHA-384)
// the same but the SHA instructions; and elsewhere portable code with the
// same results.  Each choice is made once, at first use;
// qor_sha::useSha512Engine and its siblings pick another engine the CPU can
// run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class cFileIOTarget;

struct sSHA256Ctx {
    std::uint32_t total[2];   // bytes hashed so far: low word, high word
    std::uint32_t state[8];   // H0 to H7
    std::uint8_t buffer[64];  // the pending partial block
};

struct SHA1_CTX {
    std::uint64_t count;      // bytes hashed so far
    std::uint8_t buffer[64];  // the pending partial block
    std::uint32_t state[5];   // H0 to H4
};

// The block-counting SHA-1 context: count_lo and count_hi together are a
// 64-bit count of the whole blocks compressed, local the bytes pending.
struct SHA_CTX {
    std::uint32_t digest[5];  // H0 to H4
    std::uint32_t count_lo;
    std::uint32_t count_hi;
    std::uint8_t data[64];
    std::int32_t local;  // 0 to 63
};

struct sSHA512Ctx {
    std::uint64_t state[8];
    std::uint8_t buffer[128];  // the pending partial block
    std::uint32_t index;       // pending bytes, 0 to 127
    std::uint32_t count[4];    // bytes hashed, a 128-bit count, least significant word first
};

struct sSHA512_Ctx {
    std::uint64_t state[8];
    std::uint8_t buffer[128];  // the pending partial block
    std::int64_t count;        // bytes hashed so far
};

// 0x80 followed by 63 zeros: the start of every SHA-256 padding.
extern const std::uint8_t sha256_padding[64];

// Streaming.  An update with a length of 0 or null bytes does nothing; a
// finish writes the digest (a null out writes nothing).  A context is
// started again before it is reused.
void sha256_starts(sSHA256Ctx* ctx);
void sha256_update(sSHA256Ctx* ctx, const void* input, std::uint32_t length);
void sha256_finish(sSHA256Ctx* ctx, std::uint8_t digest[32]);
// Two updates at once, each of its own context (distinct) with its own
// bytes: as sha256_update(a, ia, na) and sha256_update(b, ib, nb), with the
// whole blocks both have hashed side by side where the CPU has the SHA
// instructions (nearly twice as fast as one after the other).
void sha256_update_pair(sSHA256Ctx* a, const void* ia, std::uint32_t na, sSHA256Ctx* b, const void* ib,
                        std::uint32_t nb);

void sha1_init(SHA1_CTX* ctx);
void sha1_update(SHA1_CTX* ctx, const void* input, std::uint32_t length);
void sha1_final(SHA1_CTX* ctx, std::uint8_t digest[20]);

void sha_init(SHA_CTX* ctx);
void sha_update(SHA_CTX* ctx, const void* input, std::uint32_t length);
// Completes the hash inside the context; sha_digest then writes it.
void sha_final(SHA_CTX* ctx);
void sha_digest(const SHA_CTX* ctx, std::uint8_t digest[20]);
// Copies the state of a hash under way, so that a hash of a common prefix
// can be continued two ways.
void sha_copy(SHA_CTX* dst, const SHA_CTX* src);

void sha512_starts(sSHA512Ctx* ctx);
void sha384_starts(sSHA512Ctx* ctx);
void sha512_update(sSHA512Ctx* ctx, const void* input, std::uint32_t length);
inline void sha384_update(sSHA512Ctx* ctx, const void* input, std::uint32_t length) {
    sha512_update(ctx, input, length);
}
void sha512_finish(sSHA512Ctx* ctx, std::uint8_t digest[64]);
// Writes 48 bytes and nothing beyond them.
void sha384_finish(sSHA512Ctx* ctx, std::uint8_t digest[48]);

void _SHA512_Init(sSHA512_Ctx* ctx);
// A negative length is no bytes.
void _SHA512_Update(sSHA512_Ctx* ctx, const void* input, std::int64_t length);
void _SHA512_Finalize(sSHA512_Ctx* ctx, std::uint8_t digest[64]);

// One-shot digests of len bytes, of any size.  For SHA1Hash and SHA2Hash a
// len of -1 hashes the NUL-terminated string at bytes up to its terminator;
// every other negative len hashes no bytes.
void SHA1Hash(const void* bytes, std::uint8_t (&out)[20], long long len);
void SHA2Hash(const void* bytes, std::uint8_t (&out)[32], long long len);
void SHA512Hash(const void* bytes, std::uint8_t (&out)[64], long long len);
void _SHA1Hash(const void* bytes, std::uint8_t (&out)[20], long long len);
void _SHA2Hash(const void* bytes, std::uint8_t (&out)[32], long long len);
void _SHA512Hash(const void* bytes, std::uint8_t (&out)[64], long long len);
void _SHA512(const void* bytes, long long len, std::uint8_t (&out)[64]);
// The SHA-256 digests of two buffers (negative lengths are empty), each
// the one _SHA2Hash gives.  With the x86 SHA instructions the two are hashed
// side by side, nearly twice as fast as one after the other.
void SHA2HashPair(const void* a, long long alen, std::uint8_t (&outA)[32], const void* b, long long blen,
                  std::uint8_t (&outB)[32]);

// The digest of everything a stream yields from its current position to its
// end (it is not rewound first).  False, with out left alone, for a null
// stream or a failed read.
bool SHA1Hash(cFileIOTarget* src, std::uint8_t (&out)[20]);
bool SHA2Hash(cFileIOTarget* src, std::uint8_t (&out)[32]);
bool SHA512Hash(cFileIOTarget* src, std::uint8_t (&out)[64]);

// HMAC (RFC 2104) of a message under a key; negative lengths are empty.
void hmac_sha1(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[20]);
void hmac_sha256(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[32]);
void hmac_sha512(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[64]);

namespace qor_sha {

// The block engines behind the contexts: each compresses `count` whole
// 64-byte blocks into the hash words.  The contexts pick the hardware engine
// when there is one; tests and benchmarks hold the two against each other.
using BlockEngine32 = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count);

void sha256BlocksPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count);
void sha1BlocksPortable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count);
// Null when the CPU lacks the SHA extensions (or is not x86).
BlockEngine32 sha256HardwareEngine();
// The rounds in general registers and the message schedule of two blocks at
// a time with AVX2, for processors without the SHA extensions; null when the
// CPU lacks AVX2, BMI or BMI2 (or is not x86-64).
BlockEngine32 sha256VectorEngine();
// The same for SHA-1.
BlockEngine32 sha1VectorEngine();
// Plain rotations and the message schedule of one block at a time in
// 128-bit registers, for processors without AVX2 and BMI2: with AVX, or in
// the older encoding with SSSE3; null when the CPU lacks AVX or SSSE3 (or
// is not x86-64 ELF).
BlockEngine32 sha256AvxEngine();
BlockEngine32 sha256Ssse3Engine();
// The same for SHA-1.
BlockEngine32 sha1AvxEngine();
BlockEngine32 sha1Ssse3Engine();
BlockEngine32 sha1HardwareEngine();
// The engines for processors without any of the above: on x86-64 ELF the
// rounds in general registers in assembly, elsewhere sha256BlocksPortable
// and sha1BlocksPortable.  Never null.
BlockEngine32 sha256GenericEngine();
BlockEngine32 sha1GenericEngine();
// Two SHA-256 hash states, each fed `count` whole blocks of its own, side
// by side; null when the CPU lacks the SHA extensions (or is not x86).
using PairEngine32 = void (*)(std::uint32_t* stateA, const std::uint8_t* blocksA, std::uint32_t* stateB,
                              const std::uint8_t* blocksB, std::size_t count);
PairEngine32 sha256HardwarePairEngine();

// The same for SHA-512 and SHA-384: `count` whole 128-byte blocks.
using BlockEngine64 = void (*)(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count);
void sha512BlocksPortable(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count);
// Null when the CPU lacks AVX2, BMI or BMI2 (or is not x86-64 ELF).
BlockEngine64 sha512VectorEngine();
// The 128-bit engines, as for SHA-256: null when the CPU lacks AVX or SSSE3.
BlockEngine64 sha512AvxEngine();
BlockEngine64 sha512Ssse3Engine();
// The engine for processors without any of the above: on x86-64 ELF the
// rounds in general registers in assembly, elsewhere sha512BlocksPortable.
// Never null.
BlockEngine64 sha512GenericEngine();

// The engine the contexts and one-shots use is the fastest the CPU has,
// chosen at first use, unless one is chosen by name:
//   SHA-512 and SHA-384   "generic", "ssse3" and "avx" (the 128-bit
//                         engines), "avx2" (sha512VectorEngine)
//   SHA-256, SHA-1        "generic", "ssse3" and "avx" (the 128-bit
//                         engines), "avx2" (the vector engines), "shani"
//                         (the hardware engines)
// An engine is taken only when the CPU has its instructions: the call then
// returns true.  A null or empty name goes back to the CPU's choice (true).
// An unknown name, or an engine the CPU cannot run, changes nothing and
// returns false.  Meant for benchmarks and tests that measure or check each
// engine on one machine; hashes running at the time finish on either engine
// with the same digest.
bool useSha512Engine(const char* name);
bool useSha256Engine(const char* name);
bool useSha1Engine(const char* name);
// The name of the engine in use now.
const char* sha512EngineName();
const char* sha256EngineName();
const char* sha1EngineName();

// How far past the block being hashed every engine asks for its input, in
// bytes.  Left to the processor's prefetchers the rounds waited on lines
// from L3 and memory: SHA-1 with SSSE3 on 64 MiB went from 1.00-1.05 of
// OpenSSL's time to 0.85-0.90 with the lines asked for 512 to 4096 bytes
// ahead (no difference between those), and input that stays in L2 was
// hashed as fast as before.  A macro, since the assembly engines take it
// too (sha_x86_asm.h); the others call qor_detail::prefetchAhead with it.
#define QOR_SHA_PREFETCH_AHEAD 1024

// The 64 SHA-256 and 80 SHA-512 round constants, for the other engines.
extern const std::array<std::uint32_t, 64> sha256RoundConstants;
extern const std::array<std::uint64_t, 80> sha512RoundConstants;
// SHA-1's four, as immediates for the portable engine (sha.cpp holds them
// to their definition at compile time).
constexpr std::array<std::uint32_t, 4> sha1RoundConstants = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

}  // namespace qor_sha
