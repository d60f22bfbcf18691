#include "base/sha.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "base/fileio.h"

// ---------------------------------------------------------------------------
// Constants.  FIPS 180-4 defines them as the leading bits of the fractional
// parts of square and cube roots of the first primes; they are computed here
// from that definition, at compile time, with exact integer roots.

namespace qor_sha {
namespace {

// A 256-bit unsigned number, least significant limb first: enough for
// (root x 2^64)^3 of the primes used.
struct U256 {
    std::uint64_t w[4] = {0, 0, 0, 0};
};

constexpr U256 mul(const U256& a, const U256& b) {
    U256 r;
    for (int i = 0; i < 4; ++i) {
        unsigned __int128 carry = 0;
        for (int j = 0; i + j < 4; ++j) {
            const unsigned __int128 t =
                static_cast<unsigned __int128>(a.w[i]) * b.w[j] + r.w[i + j] + carry;
            r.w[i + j] = static_cast<std::uint64_t>(t);
            carry = t >> 64;
        }
    }
    return r;
}

constexpr bool lessOrEqual(const U256& a, const U256& b) {
    for (int i = 3; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
    return true;
}

// floor(n^(1/k) x 2^64) for k = 2 or 3, built bit by bit: the largest x with
// x^k <= n x 2^(64 k).
constexpr U256 rootTimes2To64(std::uint64_t n, int k) {
    U256 target;
    target.w[k] = n;
    U256 x;
    for (int bit = 70; bit >= 0; --bit) {
        U256 candidate = x;
        candidate.w[bit / 64] |= 1ull << (bit % 64);
        U256 power = candidate;
        for (int i = 1; i < k; ++i) power = mul(power, candidate);
        if (lessOrEqual(power, target)) x = candidate;
    }
    return x;
}

constexpr std::uint64_t fractionBits(std::uint64_t n, int k) { return rootTimes2To64(n, k).w[0]; }

constexpr std::array<std::uint64_t, 80> firstPrimes() {
    std::array<std::uint64_t, 80> p{};
    std::size_t found = 0;
    for (std::uint64_t c = 2; found < p.size(); ++c) {
        bool prime = true;
        for (std::uint64_t d = 2; d * d <= c; ++d)
            if (c % d == 0) prime = false;
        if (prime) p[found++] = c;
    }
    return p;
}

constexpr auto kPrimes = firstPrimes();

constexpr std::array<std::uint64_t, 80> makeK512() {
    std::array<std::uint64_t, 80> k{};
    for (std::size_t i = 0; i < k.size(); ++i) k[i] = fractionBits(kPrimes[i], 3);
    return k;
}

// Square roots of the first eight primes for SHA-512 (and SHA-256, whose
// words are the upper halves), of the ninth to sixteenth for SHA-384.
constexpr std::array<std::uint64_t, 8> makeH512(std::size_t firstPrime) {
    std::array<std::uint64_t, 8> h{};
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = fractionBits(kPrimes[firstPrime + i], 2);
    return h;
}

constexpr std::array<std::uint64_t, 80> kK512 = makeK512();
constexpr std::array<std::uint64_t, 8> kH512 = makeH512(0);
constexpr std::array<std::uint64_t, 8> kH384 = makeH512(8);

constexpr std::array<std::uint32_t, 64> makeK256() {
    std::array<std::uint32_t, 64> k{};
    for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint32_t>(kK512[i] >> 32);
    return k;
}
constexpr std::array<std::uint32_t, 64> kK256 = makeK256();

constexpr std::array<std::uint32_t, 8> makeH256() {
    std::array<std::uint32_t, 8> h{};
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = static_cast<std::uint32_t>(kH512[i] >> 32);
    return h;
}
constexpr std::array<std::uint32_t, 8> kH256 = makeH256();

// SHA-1's round constants are floor(2^30 x sqrt(n)) for n = 2, 3, 5, 10.
constexpr std::uint32_t sha1Constant(std::uint64_t n) {
    const U256 x = rootTimes2To64(n, 2);
    return static_cast<std::uint32_t>((x.w[1] << 30) | (x.w[0] >> 34));
}
constexpr std::uint32_t kK1[4] = {sha1Constant(2), sha1Constant(3), sha1Constant(5), sha1Constant(10)};
// SHA-1's initial value is given by the standard as it is, not derived.
constexpr std::uint32_t kH1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

// ---------------------------------------------------------------------------

inline void store32be(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}
inline void store64be(std::uint8_t* p, std::uint64_t v) {
    store32be(p, std::uint32_t(v >> 32));
    store32be(p + 4, std::uint32_t(v));
}

}  // namespace

alignas(16) const std::array<std::uint32_t, 64> sha256RoundConstants = kK256;
alignas(32) const std::array<std::uint64_t, 80> sha512RoundConstants = kK512;
static_assert(sha1RoundConstants[0] == kK1[0] && sha1RoundConstants[1] == kK1[1] &&
                  sha1RoundConstants[2] == kK1[2] && sha1RoundConstants[3] == kK1[3],
              "SHA-1's round constants are floor(2^30 x sqrt(n)) for n = 2, 3, 5, 10");

namespace {

// One engine slot per family: null until the first use picks the CPU's best,
// or until a caller names one.  Relaxed loads suffice: every engine gives the
// same digests, and the pointer is read once per run of blocks.
template <typename Engine>
struct sEngineChoice {
    const char* name;
    Engine engine;
};

template <typename Engine>
class cEngineSlot {
public:
    // The engines from the best down; the last one is portable and always
    // there.
    template <std::size_t N>
    explicit cEngineSlot(const std::array<sEngineChoice<Engine>, N>& choices)
        : choices_(choices.data()), count_(N) {}

    Engine get() {
        Engine e = current_.load(std::memory_order_relaxed);
        return e ? e : pickBest();
    }
    bool use(const char* name) {
        if (!name || !*name) {
            pickBest();
            return true;
        }
        for (std::size_t i = 0; i < count_; ++i)
            if (std::strcmp(choices_[i].name, name) == 0) {
                if (!choices_[i].engine) return false;
                current_.store(choices_[i].engine, std::memory_order_relaxed);
                return true;
            }
        return false;
    }
    const char* name() {
        const Engine e = get();
        for (std::size_t i = 0; i < count_; ++i)
            if (choices_[i].engine == e) return choices_[i].name;
        return "?";
    }

private:
    Engine pickBest() {
        for (std::size_t i = 0; i < count_; ++i)
            if (choices_[i].engine) {
                current_.store(choices_[i].engine, std::memory_order_relaxed);
                return choices_[i].engine;
            }
        return nullptr;  // not reached: the portable engine is last
    }
    const sEngineChoice<Engine>* choices_;
    std::size_t count_;
    std::atomic<Engine> current_{nullptr};
};

cEngineSlot<BlockEngine64>& sha512Slot() {
    static const std::array<sEngineChoice<BlockEngine64>, 4> choices{{{"avx2", sha512VectorEngine()},
                                                                       {"avx", sha512AvxEngine()},
                                                                       {"ssse3", sha512Ssse3Engine()},
                                                                       {"generic", sha512GenericEngine()}}};
    static cEngineSlot<BlockEngine64> slot(choices);
    return slot;
}

cEngineSlot<BlockEngine32>& sha256Slot() {
    static const std::array<sEngineChoice<BlockEngine32>, 5> choices{{{"shani", sha256HardwareEngine()},
                                                                       {"avx2", sha256VectorEngine()},
                                                                       {"avx", sha256AvxEngine()},
                                                                       {"ssse3", sha256Ssse3Engine()},
                                                                       {"generic", sha256GenericEngine()}}};
    static cEngineSlot<BlockEngine32> slot(choices);
    return slot;
}

cEngineSlot<BlockEngine32>& sha1Slot() {
    static const std::array<sEngineChoice<BlockEngine32>, 5> choices{{{"shani", sha1HardwareEngine()},
                                                                       {"avx2", sha1VectorEngine()},
                                                                       {"avx", sha1AvxEngine()},
                                                                       {"ssse3", sha1Ssse3Engine()},
                                                                       {"generic", sha1GenericEngine()}}};
    static cEngineSlot<BlockEngine32> slot(choices);
    return slot;
}

BlockEngine64 sha512Engine() { return sha512Slot().get(); }
BlockEngine32 sha256Engine() { return sha256Slot().get(); }
BlockEngine32 sha1Engine() { return sha1Slot().get(); }

}  // namespace

bool useSha512Engine(const char* name) { return sha512Slot().use(name); }
bool useSha256Engine(const char* name) { return sha256Slot().use(name); }
bool useSha1Engine(const char* name) { return sha1Slot().use(name); }
const char* sha512EngineName() { return sha512Slot().name(); }
const char* sha256EngineName() { return sha256Slot().name(); }
const char* sha1EngineName() { return sha1Slot().name(); }

}  // namespace qor_sha

using namespace qor_sha;

namespace {

const std::uint8_t* bytesOf(const void* p) { return static_cast<const std::uint8_t*>(p); }

// The streaming updates take 32-bit lengths; one-shots and HMACs of any
// 64-bit length are fed through them in pieces.  A piece is a multiple of
// the block size, so the pieces after the first are compressed straight from
// the caller's memory.
constexpr std::uint64_t kPiece = 1u << 30;

template <typename Update>
void inPieces(const void* input, std::uint64_t length, Update&& update) {
    const std::uint8_t* p = bytesOf(input);
    while (length) {
        const std::uint64_t n = std::min(length, kPiece);
        update(p, static_cast<std::uint32_t>(n));
        p += n;
        length -= n;
    }
}

// The length a one-shot with the string convention hashes.
std::uint64_t oneShotLength(const void* bytes, long long len, bool minusOneIsString) {
    if (!bytes) return 0;
    if (len == -1 && minusOneIsString) return std::strlen(static_cast<const char*>(bytes));
    return len > 0 ? static_cast<std::uint64_t>(len) : 0;
}

// The shared buffering of the block hashes: top up the pending block, then
// compress whole blocks straight from the input, then keep the rest.
// Returns the new number of pending bytes.
template <std::size_t Block, typename Compress>
std::size_t absorb(std::uint8_t* buffer, std::size_t pending, const std::uint8_t* p, std::uint64_t n,
                   Compress&& compress) {
    if (pending) {
        const std::size_t fill = Block - pending;
        if (n < fill) {
            std::memcpy(buffer + pending, p, static_cast<std::size_t>(n));
            return pending + static_cast<std::size_t>(n);
        }
        std::memcpy(buffer + pending, p, fill);
        compress(buffer, 1);
        p += fill;
        n -= fill;
    }
    const std::uint64_t blocks = n / Block;
    if (blocks) {
        compress(p, static_cast<std::size_t>(blocks));
        p += blocks * Block;
        n -= blocks * Block;
    }
    if (n) std::memcpy(buffer, p, static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
}

// Appends 0x80, zeros and the big-endian bit length (lengthBytes long, already
// encoded) to a pending block, compressing one or two blocks.  Returns how
// many bytes it appended, the length included.
template <std::size_t Block, typename Compress>
std::size_t pad(std::uint8_t* buffer, std::size_t pending, const std::uint8_t* bitLength, std::size_t lengthBytes,
                Compress&& compress) {
    const std::size_t appended = (pending < Block - lengthBytes ? Block : 2 * Block) - pending;
    buffer[pending++] = 0x80;
    if (pending > Block - lengthBytes) {
        std::memset(buffer + pending, 0, Block - pending);
        compress(buffer, 1);
        pending = 0;
    }
    std::memset(buffer + pending, 0, Block - lengthBytes - pending);
    std::memcpy(buffer + Block - lengthBytes, bitLength, lengthBytes);
    compress(buffer, 1);
    return appended;
}

}  // namespace

const std::uint8_t sha256_padding[64] = {0x80};

// ---------------------------------------------------------------------------
// SHA-256 on sSHA256Ctx.

static void sha256_process(sSHA256Ctx* ctx, const std::uint8_t* blocks, std::size_t count) {
    sha256Engine()(ctx->state, blocks, count);
}

void sha256_starts(sSHA256Ctx* ctx) {
    if (!ctx) return;
    ctx->total[0] = ctx->total[1] = 0;
    std::copy(kH256.begin(), kH256.end(), ctx->state);
}

void sha256_update(sSHA256Ctx* ctx, const void* input, std::uint32_t length) {
    if (!ctx || !input || !length) return;
    const std::size_t pending = ctx->total[0] & 63;
    ctx->total[0] += length;
    if (ctx->total[0] < length) ++ctx->total[1];
    absorb<64>(ctx->buffer, pending, bytesOf(input), length,
               [ctx](const std::uint8_t* p, std::size_t n) { sha256_process(ctx, p, n); });
}

void sha256_update_pair(sSHA256Ctx* a, const void* ia, std::uint32_t na, sSHA256Ctx* b, const void* ib,
                        std::uint32_t nb) {
    const qor_sha::PairEngine32 pair = qor_sha::sha256HardwarePairEngine();
    const std::uint8_t* pa = ia ? bytesOf(ia) : nullptr;
    const std::uint8_t* pb = ib ? bytesOf(ib) : nullptr;
    if (a && b && a != b && pa && pb && pair && sha256Engine() == qor_sha::sha256HardwareEngine()) {
        // Each context fills its pending block alone; the whole blocks after
        // go side by side as long as both have them.
        auto fill = [](sSHA256Ctx* c, const std::uint8_t*& p, std::uint32_t& n) {
            const std::uint32_t pending = c->total[0] & 63;
            if (!pending) return;
            const std::uint32_t take = std::min<std::uint32_t>(n, 64 - pending);
            sha256_update(c, p, take);
            p += take;
            n -= take;
        };
        fill(a, pa, na);
        fill(b, pb, nb);
        const std::uint32_t blocks = std::min(na, nb) / 64;
        if (blocks && (a->total[0] & 63) == 0 && (b->total[0] & 63) == 0) {
            pair(a->state, pa, b->state, pb, blocks);
            const std::uint32_t bytes = blocks * 64;
            for (sSHA256Ctx* c : {a, b}) {
                c->total[0] += bytes;
                if (c->total[0] < bytes) ++c->total[1];
            }
            pa += bytes;
            pb += bytes;
            na -= bytes;
            nb -= bytes;
        }
    }
    sha256_update(a, pa, na);
    sha256_update(b, pb, nb);
}

void sha256_finish(sSHA256Ctx* ctx, std::uint8_t digest[32]) {
    if (!ctx) return;
    const std::uint64_t bytes = (std::uint64_t(ctx->total[1]) << 32) | ctx->total[0];
    std::uint8_t bits[8];
    store64be(bits, bytes << 3);
    // The count takes in the padding and the length, as if they had been
    // fed as bytes of the message.
    const auto padded = static_cast<std::uint32_t>(pad<64>(
        ctx->buffer, ctx->total[0] & 63, bits, 8, [ctx](const std::uint8_t* p, std::size_t n) { sha256_process(ctx, p, n); }));
    ctx->total[0] += padded;
    if (ctx->total[0] < padded) ++ctx->total[1];
    if (!digest) return;
    for (int i = 0; i < 8; ++i) store32be(digest + 4 * i, ctx->state[i]);
}

// ---------------------------------------------------------------------------
// SHA-1 on SHA1_CTX (a byte count).

void sha1_init(SHA1_CTX* ctx) {
    if (!ctx) return;
    ctx->count = 0;
    std::copy(std::begin(kH1), std::end(kH1), ctx->state);
}

void sha1_update(SHA1_CTX* ctx, const void* input, std::uint32_t length) {
    if (!ctx || !input || !length) return;
    const std::size_t pending = ctx->count & 63;
    ctx->count += length;
    absorb<64>(ctx->buffer, pending, bytesOf(input), length,
               [ctx](const std::uint8_t* p, std::size_t n) { sha1Engine()(ctx->state, p, n); });
}

void sha1_final(SHA1_CTX* ctx, std::uint8_t digest[20]) {
    if (!ctx) return;
    std::uint8_t bits[8];
    store64be(bits, ctx->count << 3);
    pad<64>(ctx->buffer, ctx->count & 63, bits, 8,
            [ctx](const std::uint8_t* p, std::size_t n) { sha1Engine()(ctx->state, p, n); });
    if (!digest) return;
    for (int i = 0; i < 5; ++i) store32be(digest + 4 * i, ctx->state[i]);
}

// ---------------------------------------------------------------------------
// SHA-1 on SHA_CTX (a block count).

namespace {

// A context whose pending count was damaged is kept inside its buffer.
std::size_t pendingOf(const SHA_CTX* ctx) { return static_cast<std::uint32_t>(ctx->local) & 63; }

}  // namespace

// Compresses `count` blocks into the hash words.
static void sha_transform(SHA_CTX* ctx, const std::uint8_t* blocks, std::size_t count) {
    sha1Engine()(ctx->digest, blocks, count);
}

// Compresses blocks of the message and advances the block count; the high
// word grows only when the low word wraps.
static void sha_block(SHA_CTX* ctx, const std::uint8_t* blocks, std::size_t count) {
    sha_transform(ctx, blocks, count);
    const std::uint64_t total = ((std::uint64_t(ctx->count_hi) << 32) | ctx->count_lo) + count;
    ctx->count_lo = static_cast<std::uint32_t>(total);
    ctx->count_hi = static_cast<std::uint32_t>(total >> 32);
}

void sha_init(SHA_CTX* ctx) {
    if (!ctx) return;
    std::copy(std::begin(kH1), std::end(kH1), ctx->digest);
    ctx->count_lo = ctx->count_hi = 0;
    ctx->local = 0;
}

void sha_update(SHA_CTX* ctx, const void* input, std::uint32_t length) {
    if (!ctx || !input || !length) return;
    ctx->local = static_cast<std::int32_t>(
        absorb<64>(ctx->data, pendingOf(ctx), bytesOf(input), length,
                   [ctx](const std::uint8_t* p, std::size_t n) { sha_block(ctx, p, n); }));
}

void sha_final(SHA_CTX* ctx) {
    if (!ctx) return;
    const std::size_t pending = pendingOf(ctx);
    const std::uint64_t blocks = (std::uint64_t(ctx->count_hi) << 32) | ctx->count_lo;
    std::uint8_t bits[8];
    store64be(bits, (blocks << 9) + (std::uint64_t(pending) << 3));
    pad<64>(ctx->data, pending, bits, 8, [ctx](const std::uint8_t* p, std::size_t n) { sha_transform(ctx, p, n); });
    ctx->local = 0;
}

void sha_digest(const SHA_CTX* ctx, std::uint8_t digest[20]) {
    if (!ctx || !digest) return;
    for (int i = 0; i < 5; ++i) store32be(digest + 4 * i, ctx->digest[i]);
}

void sha_copy(SHA_CTX* dst, const SHA_CTX* src) {
    if (!dst || !src || dst == src) return;
    std::copy(std::begin(src->digest), std::end(src->digest), dst->digest);
    dst->count_lo = src->count_lo;
    dst->count_hi = src->count_hi;
    const std::size_t pending = pendingOf(src);
    std::memcpy(dst->data, src->data, pending);
    dst->local = static_cast<std::int32_t>(pending);
}

// ---------------------------------------------------------------------------
// SHA-512 and SHA-384 on sSHA512Ctx (a 128-bit byte count).

static void _Transform(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    sha512Engine()(state, blocks, count);
}

void sha512_starts(sSHA512Ctx* ctx) {
    if (!ctx) return;
    std::copy(kH512.begin(), kH512.end(), ctx->state);
    ctx->index = 0;
    std::fill(std::begin(ctx->count), std::end(ctx->count), 0u);
}

void sha384_starts(sSHA512Ctx* ctx) {
    if (!ctx) return;
    sha512_starts(ctx);
    std::copy(kH384.begin(), kH384.end(), ctx->state);
}

void sha512_update(sSHA512Ctx* ctx, const void* input, std::uint32_t length) {
    if (!ctx || !input || !length) return;
    std::uint64_t carry = length;
    for (auto& word : ctx->count) {
        const std::uint64_t sum = std::uint64_t(word) + carry;
        word = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
        if (!carry) break;
    }
    ctx->index = static_cast<std::uint32_t>(
        absorb<128>(ctx->buffer, ctx->index & 127, bytesOf(input), length,
                    [ctx](const std::uint8_t* p, std::size_t n) { _Transform(ctx->state, p, n); }));
}

static void sha512_pad(sSHA512Ctx* ctx) {
    // The bit count is the 128-bit byte count shifted left by three.
    std::uint8_t bits[16];
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t lower = i > 0 ? ctx->count[i - 1] : 0;
        store32be(bits + 12 - 4 * i, (ctx->count[i] << 3) | (lower >> 29));
    }
    pad<128>(ctx->buffer, ctx->index & 127, bits, 16,
             [ctx](const std::uint8_t* p, std::size_t n) { _Transform(ctx->state, p, n); });
    ctx->index = 0;
}

void sha512_finish(sSHA512Ctx* ctx, std::uint8_t digest[64]) {
    if (!ctx) return;
    sha512_pad(ctx);
    if (!digest) return;
    for (int i = 0; i < 8; ++i) store64be(digest + 8 * i, ctx->state[i]);
}

void sha384_finish(sSHA512Ctx* ctx, std::uint8_t digest[48]) {
    if (!ctx) return;
    sha512_pad(ctx);
    if (!digest) return;
    for (int i = 0; i < 6; ++i) store64be(digest + 8 * i, ctx->state[i]);
}

// ---------------------------------------------------------------------------
// SHA-512 on sSHA512_Ctx (a 64-bit byte count).

void _SHA512_Init(sSHA512_Ctx* ctx) {
    if (!ctx) return;
    std::copy(kH512.begin(), kH512.end(), ctx->state);
    ctx->count = 0;
}

void _SHA512_Update(sSHA512_Ctx* ctx, const void* input, std::int64_t length) {
    if (!ctx || !input || length <= 0) return;
    const std::size_t pending = static_cast<std::uint64_t>(ctx->count) & 127;
    ctx->count = static_cast<std::int64_t>(static_cast<std::uint64_t>(ctx->count) + static_cast<std::uint64_t>(length));
    absorb<128>(ctx->buffer, pending, bytesOf(input), static_cast<std::uint64_t>(length),
                [ctx](const std::uint8_t* p, std::size_t n) { _Transform(ctx->state, p, n); });
}

void _SHA512_Finalize(sSHA512_Ctx* ctx, std::uint8_t digest[64]) {
    if (!ctx) return;
    const std::uint64_t count = static_cast<std::uint64_t>(ctx->count);
    std::uint8_t bits[16];
    store64be(bits, count >> 61);
    store64be(bits + 8, count << 3);
    pad<128>(ctx->buffer, count & 127, bits, 16,
             [ctx](const std::uint8_t* p, std::size_t n) { _Transform(ctx->state, p, n); });
    if (!digest) return;
    for (int i = 0; i < 8; ++i) store64be(digest + 8 * i, ctx->state[i]);
}

// ---------------------------------------------------------------------------
// One-shot digests.

void SHA1Hash(const void* bytes, std::uint8_t (&out)[20], long long len) {
    SHA_CTX ctx;
    sha_init(&ctx);
    inPieces(bytes, oneShotLength(bytes, len, true),
             [&](const std::uint8_t* p, std::uint32_t n) { sha_update(&ctx, p, n); });
    sha_final(&ctx);
    sha_digest(&ctx, out);
}

void SHA2Hash(const void* bytes, std::uint8_t (&out)[32], long long len) {
    _SHA2Hash(bytes, out, static_cast<long long>(oneShotLength(bytes, len, true)));
}

void SHA512Hash(const void* bytes, std::uint8_t (&out)[64], long long len) {
    _SHA512(bytes, static_cast<long long>(oneShotLength(bytes, len, false)), out);
}

void _SHA1Hash(const void* bytes, std::uint8_t (&out)[20], long long len) {
    SHA1_CTX ctx;
    sha1_init(&ctx);
    inPieces(bytes, oneShotLength(bytes, len, false),
             [&](const std::uint8_t* p, std::uint32_t n) { sha1_update(&ctx, p, n); });
    sha1_final(&ctx, out);
}

void _SHA2Hash(const void* bytes, std::uint8_t (&out)[32], long long len) {
    sSHA256Ctx ctx;
    sha256_starts(&ctx);
    inPieces(bytes, oneShotLength(bytes, len, false),
             [&](const std::uint8_t* p, std::uint32_t n) { sha256_update(&ctx, p, n); });
    sha256_finish(&ctx, out);
}

void SHA2HashPair(const void* a, long long alen, std::uint8_t (&outA)[32], const void* b, long long blen,
                  std::uint8_t (&outB)[32]) {
    const std::uint8_t* pa = bytesOf(a);
    const std::uint8_t* pb = bytesOf(b);
    std::uint64_t na = oneShotLength(a, alen, false), nb = oneShotLength(b, blen, false);
    sSHA256Ctx ca, cb;
    sha256_starts(&ca);
    sha256_starts(&cb);
    const qor_sha::PairEngine32 pair = qor_sha::sha256HardwarePairEngine();
    if (pair && sha256Engine() == qor_sha::sha256HardwareEngine()) {
        // The whole blocks both have, side by side; nothing is pending yet,
        // so the contexts need only their byte counts.
        const std::uint64_t blocks = std::min(na, nb) / 64, bytes = blocks * 64;
        if (blocks) pair(ca.state, pa, cb.state, pb, static_cast<std::size_t>(blocks));
        for (sSHA256Ctx* c : {&ca, &cb}) {
            c->total[0] = static_cast<std::uint32_t>(bytes);
            c->total[1] = static_cast<std::uint32_t>(bytes >> 32);
        }
        pa += bytes;
        pb += bytes;
        na -= bytes;
        nb -= bytes;
    }
    inPieces(pa, na, [&](const std::uint8_t* p, std::uint32_t n) { sha256_update(&ca, p, n); });
    inPieces(pb, nb, [&](const std::uint8_t* p, std::uint32_t n) { sha256_update(&cb, p, n); });
    sha256_finish(&ca, outA);
    sha256_finish(&cb, outB);
}

void _SHA512Hash(const void* bytes, std::uint8_t (&out)[64], long long len) { _SHA512(bytes, len, out); }

void _SHA512(const void* bytes, long long len, std::uint8_t (&out)[64]) {
    sSHA512_Ctx ctx;
    _SHA512_Init(&ctx);
    _SHA512_Update(&ctx, bytes, len);
    _SHA512_Finalize(&ctx, out);
}

// ---------------------------------------------------------------------------
// Digests of streams.

bool SHA1Hash(cFileIOTarget* src, std::uint8_t (&out)[20]) {
    SHA_CTX ctx;
    sha_init(&ctx);
    if (!readToEnd(src, [&](const std::uint8_t* p, unsigned n) { sha_update(&ctx, p, n); })) return false;
    sha_final(&ctx);
    sha_digest(&ctx, out);
    return true;
}

bool SHA2Hash(cFileIOTarget* src, std::uint8_t (&out)[32]) {
    sSHA256Ctx ctx;
    sha256_starts(&ctx);
    if (!readToEnd(src, [&](const std::uint8_t* p, unsigned n) { sha256_update(&ctx, p, n); })) return false;
    sha256_finish(&ctx, out);
    return true;
}

bool SHA512Hash(cFileIOTarget* src, std::uint8_t (&out)[64]) {
    sSHA512_Ctx ctx;
    _SHA512_Init(&ctx);
    if (!readToEnd(src, [&](const std::uint8_t* p, unsigned n) { _SHA512_Update(&ctx, p, n); })) return false;
    _SHA512_Finalize(&ctx, out);
    return true;
}

// ---------------------------------------------------------------------------
// HMAC (RFC 2104).

namespace {

struct Sha1Hmac {
    static constexpr std::size_t kBlock = 64, kDigest = 20;
    SHA1_CTX ctx;
    void init() { sha1_init(&ctx); }
    void update(const void* p, std::uint64_t n) {
        inPieces(p, n, [&](const std::uint8_t* q, std::uint32_t m) { sha1_update(&ctx, q, m); });
    }
    void final(std::uint8_t* out) { sha1_final(&ctx, out); }
};

struct Sha256Hmac {
    static constexpr std::size_t kBlock = 64, kDigest = 32;
    sSHA256Ctx ctx;
    void init() { sha256_starts(&ctx); }
    void update(const void* p, std::uint64_t n) {
        inPieces(p, n, [&](const std::uint8_t* q, std::uint32_t m) { sha256_update(&ctx, q, m); });
    }
    void final(std::uint8_t* out) { sha256_finish(&ctx, out); }
};

struct Sha512Hmac {
    static constexpr std::size_t kBlock = 128, kDigest = 64;
    sSHA512_Ctx ctx;
    void init() { _SHA512_Init(&ctx); }
    void update(const void* p, std::uint64_t n) { _SHA512_Update(&ctx, p, static_cast<std::int64_t>(n)); }
    void final(std::uint8_t* out) { _SHA512_Finalize(&ctx, out); }
};

template <typename H>
void hmac(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t* out) {
    const std::uint64_t mlen = (msg && msglen > 0) ? static_cast<std::uint64_t>(msglen) : 0;
    std::uint64_t klen = (key && keylen > 0) ? static_cast<std::uint64_t>(keylen) : 0;
    H h;
    // A key longer than a block is replaced by its digest.
    std::uint8_t hashedKey[H::kDigest];
    if (klen > H::kBlock) {
        h.init();
        h.update(key, klen);
        h.final(hashedKey);
        key = hashedKey;
        klen = H::kDigest;
    }
    std::uint8_t keyPad[H::kBlock] = {};
    if (klen) std::memcpy(keyPad, key, static_cast<std::size_t>(klen));
    for (auto& b : keyPad) b ^= 0x36;
    h.init();
    h.update(keyPad, H::kBlock);
    h.update(msg, mlen);
    h.final(out);
    // 0x36 ^ 0x5C turns the inner pad into the outer one.
    for (auto& b : keyPad) b ^= 0x36 ^ 0x5C;
    h.init();
    h.update(keyPad, H::kBlock);
    h.update(out, H::kDigest);
    h.final(out);
}

}  // namespace

void hmac_sha1(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[20]) {
    hmac<Sha1Hmac>(msg, msglen, key, keylen, out);
}

void hmac_sha256(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[32]) {
    hmac<Sha256Hmac>(msg, msglen, key, keylen, out);
}

void hmac_sha512(const void* msg, long long msglen, const void* key, long long keylen, std::uint8_t (&out)[64]) {
    hmac<Sha512Hmac>(msg, msglen, key, keylen, out);
}
