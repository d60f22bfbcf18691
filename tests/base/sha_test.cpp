// The SHA family against the FIPS 180-4 examples, the HMAC vectors of RFC 2202
// and RFC 4231, Python's hashlib and hmac and coreutils on the same bytes;
// the hardware engines against the portable ones; inputs beyond 4 GiB.
#include "base/sha.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "steppedstream.h"
#include "testsupport.h"

namespace {

std::string hexOf(const std::uint8_t* d, std::size_t n) { return qortest::hex(d, n); }
template <std::size_t N>
std::string hex(const std::uint8_t (&d)[N]) {
    return hexOf(d, N);
}
using qortest::pattern;

struct Digests {
    std::string sha1, sha256, sha384, sha512;
    std::string all() const { return sha1 + " " + sha256 + " " + sha384 + " " + sha512; }
};

// Every digest of each prefix length of `data`, from Python's hashlib.
std::vector<Digests> hashlibPrefixes(const std::vector<std::uint8_t>& data, const std::vector<std::size_t>& lengths) {
    qortest::TempDir dir;
    std::string lines;
    for (auto n : lengths) lines += std::to_string(n) + "\n";
    EXPECT_TRUE(qortest::writeFile(dir.file("data.bin"), std::string(data.begin(), data.end())));
    EXPECT_TRUE(qortest::writeFile(dir.file("lengths.txt"), lines));
    const std::string out = qortest::runPython(R"(
import sys, hashlib
data = open(sys.argv[1], 'rb').read()
for line in sys.stdin:
    d = data[:int(line)]
    print(*(hashlib.new(h, d).hexdigest() for h in ('sha1', 'sha256', 'sha384', 'sha512')))
)", dir.file("data.bin") + " < " + dir.file("lengths.txt"));
    std::vector<Digests> rows;
    std::istringstream in(out);
    Digests d;
    while (in >> d.sha1 >> d.sha256 >> d.sha384 >> d.sha512) rows.push_back(d);
    EXPECT_EQ(rows.size(), lengths.size());
    return rows;
}

// Every way the library offers each digest, over one buffer.
Digests allWays(const std::uint8_t* p, std::size_t n, std::string* mismatch) {
    Digests d;
    const long long len = static_cast<long long>(n);
    std::uint8_t s1[20], s1b[20], s256[32], s256b[32], s384[48], s512[64], s512b[64], s512c[64], s512d[64];

    SHA1Hash(p, s1, len);
    _SHA1Hash(p, s1b, len);
    SHA2Hash(p, s256, len);
    _SHA2Hash(p, s256b, len);
    SHA512Hash(p, s512, len);
    _SHA512Hash(p, s512b, len);
    _SHA512(p, len, s512c);
    sSHA512Ctx c;
    sha512_starts(&c);
    sha512_update(&c, p, static_cast<std::uint32_t>(n));
    sha512_finish(&c, s512d);
    sha384_starts(&c);
    sha384_update(&c, p, static_cast<std::uint32_t>(n));
    sha384_finish(&c, s384);

    d.sha1 = hex(s1);
    d.sha256 = hex(s256);
    d.sha384 = hex(s384);
    d.sha512 = hex(s512);
    if (hex(s1b) != d.sha1) *mismatch += " _SHA1Hash";
    if (hex(s256b) != d.sha256) *mismatch += " _SHA2Hash";
    if (hex(s512b) != d.sha512) *mismatch += " _SHA512Hash";
    if (hex(s512c) != d.sha512) *mismatch += " _SHA512";
    if (hex(s512d) != d.sha512) *mismatch += " sha512_finish";
    return d;
}

const char kAbc56[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

}  // namespace

TEST(ShaDigests, EveryInterfaceAgreesWithHashlibAcrossThePaddingBoundaries) {
    // Lengths 0 to 300 cover 55/56 and 119/120 (one or two padding blocks
    // for 64-byte blocks) and 111/112 for 128-byte blocks.
    const auto data = pattern(70000);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n : {1000, 4095, 4096, 4097, 65536, 70000}) lengths.push_back(n);
    const auto rows = hashlibPrefixes(data, lengths);
    ASSERT_EQ(rows.size(), lengths.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("length " + std::to_string(lengths[i]));
        std::string mismatch;
        const Digests d = allWays(data.data(), lengths[i], &mismatch);
        EXPECT_EQ(mismatch, "");
        EXPECT_EQ(d.all(), rows[i].all());
    }
}

TEST(ShaDigests, PairsGiveEachBufferItsOwnDigest) {
    // Two different buffers, every pairing of lengths around the block and
    // padding boundaries both ways round, so that either lane runs out first
    // and finishes alone; negative lengths and null buffers are empty.
    const auto a = pattern(70000, 1), b = pattern(70000, 2);
    const std::vector<std::size_t> lengths = {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 4096, 65536, 70000};
    const auto ra = hashlibPrefixes(a, lengths), rb = hashlibPrefixes(b, lengths);
    ASSERT_EQ(ra.size(), lengths.size());
    ASSERT_EQ(rb.size(), lengths.size());
    for (std::size_t i = 0; i < lengths.size(); ++i)
        for (std::size_t j = 0; j < lengths.size(); ++j) {
            std::uint8_t da[32], db[32];
            SHA2HashPair(a.data(), static_cast<long long>(lengths[i]), da, b.data(), static_cast<long long>(lengths[j]), db);
            EXPECT_EQ(hex(da), ra[i].sha256) << lengths[i] << " with " << lengths[j];
            EXPECT_EQ(hex(db), rb[j].sha256) << lengths[j] << " beside " << lengths[i];
        }
    std::uint8_t da[32], db[32];
    SHA2HashPair(nullptr, 100, da, b.data(), -5, db);
    EXPECT_EQ(hex(da), ra[0].sha256);
    EXPECT_EQ(hex(db), rb[0].sha256);
}

TEST(ShaDigests, MinusOneHashesUpToTheTerminatorForSha1AndSha256Only) {
    const char abc[] = {'a', 'b', 'c', '\0', 'x', 'y'};
    const std::string empty256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    std::uint8_t d[32], d1[20], d512[64];
    SHA2Hash(abc, d, -1);
    EXPECT_EQ(hex(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    SHA1Hash(abc, d1, -1);
    EXPECT_EQ(hex(d1), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // The others have no string convention; other negative lengths and a
    // null pointer are no bytes.
    SHA512Hash(abc, d512, -1);
    EXPECT_EQ(hex(d512),
              "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e");
    SHA2Hash(abc, d, -2);
    EXPECT_EQ(hex(d), empty256);
    SHA2Hash(nullptr, d, -1);
    EXPECT_EQ(hex(d), empty256);
    _SHA2Hash(abc, d, -1);
    EXPECT_EQ(hex(d), empty256);
}

TEST(ShaStreaming, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const auto data = pattern(20000);
    std::uint8_t whole256[32], whole1[20], whole512[64];
    SHA2Hash(data.data(), whole256, static_cast<long long>(data.size()));
    SHA1Hash(data.data(), whole1, static_cast<long long>(data.size()));
    SHA512Hash(data.data(), whole512, static_cast<long long>(data.size()));
    const std::vector<std::uint32_t> pieces = {0, 1, 63, 64, 65, 0, 127, 128, 129, 55, 56, 3, 1000, 4096, 7};
    sSHA256Ctx c256;
    SHA1_CTX c1;
    SHA_CTX c;
    sSHA512Ctx c512;
    sSHA512_Ctx c512b;
    sha256_starts(&c256);
    sha1_init(&c1);
    sha_init(&c);
    sha512_starts(&c512);
    _SHA512_Init(&c512b);
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < data.size(); ++i) {
        const std::uint32_t n =
            static_cast<std::uint32_t>(std::min<std::size_t>(pieces[i % pieces.size()], data.size() - pos));
        sha256_update(&c256, data.data() + pos, n);
        sha1_update(&c1, data.data() + pos, n);
        sha_update(&c, data.data() + pos, n);
        sha512_update(&c512, data.data() + pos, n);
        _SHA512_Update(&c512b, data.data() + pos, n);
        pos += n;
    }
    std::uint8_t d256[32], d1[20], d[20], d512[64], d512b[64];
    sha256_finish(&c256, d256);
    sha1_final(&c1, d1);
    sha_final(&c);
    sha_digest(&c, d);
    sha512_finish(&c512, d512);
    _SHA512_Finalize(&c512b, d512b);
    EXPECT_EQ(hex(d256), hex(whole256));
    EXPECT_EQ(hex(d1), hex(whole1));
    EXPECT_EQ(hex(d), hex(whole1));
    EXPECT_EQ(hex(d512), hex(whole512));
    EXPECT_EQ(hex(d512b), hex(whole512));
}

TEST(ShaStreaming, UpdatesWithNoBytesChangeNothing) {
    sSHA256Ctx c;
    sha256_starts(&c);
    sha256_update(&c, "abc", 0);
    sha256_update(&c, nullptr, 10);
    sha256_update(&c, "abc", 3);
    sha256_update(&c, nullptr, 0);
    std::uint8_t d[32];
    sha256_finish(&c, d);
    EXPECT_EQ(hex(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(c.total[0], 64u);  // the message and its padding
    EXPECT_EQ(c.total[1], 0u);
}

TEST(ShaStreaming, ShaCopyContinuesACommonPrefixTwoWays) {
    SHA_CTX prefix, other;
    sha_init(&prefix);
    sha_update(&prefix, kAbc56, 50);  // leaves 50 bytes pending
    std::memset(&other, 0x5A, sizeof other);
    sha_copy(&other, &prefix);
    EXPECT_EQ(other.local, 50);
    sha_update(&prefix, kAbc56 + 50, 6);
    sha_update(&other, "!", 1);
    std::uint8_t a[20], b[20], expectB[20];
    sha_final(&prefix);
    sha_digest(&prefix, a);
    sha_final(&other);
    sha_digest(&other, b);
    EXPECT_EQ(hex(a), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    std::string msg(kAbc56, 50);
    msg += '!';
    SHA1Hash(msg.data(), expectB, static_cast<long long>(msg.size()));
    EXPECT_EQ(hex(b), hex(expectB));
    // A null destination is refused without touching anything.
    sha_digest(&other, nullptr);
}

TEST(ShaStreaming, CountsCarryIntoTheirHighWords) {
    const auto block = pattern(128);
    sSHA256Ctx c256;
    sha256_starts(&c256);
    c256.total[0] = 0xFFFFFFC0u;
    sha256_update(&c256, block.data(), 64);
    EXPECT_EQ(c256.total[0], 0u);
    EXPECT_EQ(c256.total[1], 1u);
    // The padding and the length count as bytes of the message, and carry
    // as well: 0xFFFFFFC3 + 53 + 8 is 2^32.
    sha256_starts(&c256);
    std::memset(c256.buffer, 0, sizeof c256.buffer);
    c256.total[0] = 0xFFFFFFC3u;
    std::uint8_t d[32];
    sha256_finish(&c256, d);
    EXPECT_EQ(c256.total[0], 0u);
    EXPECT_EQ(c256.total[1], 1u);

    SHA_CTX c;
    sha_init(&c);
    c.count_lo = 0xFFFFFFFFu;
    sha_update(&c, block.data(), 64);
    EXPECT_EQ(c.count_lo, 0u);
    EXPECT_EQ(c.count_hi, 1u);

    sSHA512Ctx c512;
    sha512_starts(&c512);
    c512.count[0] = 0xFFFFFF80u;
    c512.count[1] = c512.count[2] = 0xFFFFFFFFu;
    sha512_update(&c512, block.data(), 128);
    EXPECT_EQ(c512.count[0], 0u);
    EXPECT_EQ(c512.count[1], 0u);
    EXPECT_EQ(c512.count[2], 0u);
    EXPECT_EQ(c512.count[3], 1u);
}

TEST(ShaEngines, HardwareAndPortableAgreeOnRandomStatesAndBlocks) {
    const auto hw256 = qor_sha::sha256HardwareEngine();
    const auto hw1 = qor_sha::sha1HardwareEngine();
    if (!hw256 || !hw1) GTEST_SKIP() << "this CPU has no SHA extensions";
    const auto data = pattern(64 * 40 + 3);
    for (std::size_t blocks : {1u, 2u, 3u, 17u, 40u}) {
        for (std::size_t off : {0u, 1u, 3u}) {
            auto seed = pattern(32, blocks * 100 + off + 1);
            std::uint32_t a[8], b[8];
            std::memcpy(a, seed.data(), 32);
            std::memcpy(b, seed.data(), 32);
            qor_sha::sha256BlocksPortable(a, data.data() + off, blocks);
            hw256(b, data.data() + off, blocks);
            EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << "SHA-256, " << blocks << " blocks at offset " << off;
            std::uint32_t c[5], d[5];
            std::memcpy(c, seed.data(), 20);
            std::memcpy(d, seed.data(), 20);
            qor_sha::sha1BlocksPortable(c, data.data() + off, blocks);
            hw1(d, data.data() + off, blocks);
            EXPECT_EQ(0, std::memcmp(c, d, sizeof c)) << "SHA-1, " << blocks << " blocks at offset " << off;
        }
    }
}

// The generic SHA-256 and SHA-1 engines are the assembly ones on x86-64 and
// the portable C++ elsewhere: on x86-64 the two are held against each other
// here (the portable ones against hashlib above, the generic ones through
// the named engine in sha_engine_choice_test.cpp).  Random states make a
// wrong round anywhere show in the result.
TEST(ShaEngines, GenericEnginesAgreeWithThePortableOnesOnRandomStatesAndBlocks) {
    const auto generic256 = qor_sha::sha256GenericEngine();
    const auto generic1 = qor_sha::sha1GenericEngine();
    ASSERT_NE(generic256, nullptr);
    ASSERT_NE(generic1, nullptr);
    const auto data = pattern(64 * 40 + 3);
    for (std::size_t blocks : {0u, 1u, 2u, 3u, 17u, 40u}) {
        for (std::size_t off : {0u, 1u, 3u}) {
            const auto seed = pattern(32, blocks * 100 + off + 7);
            std::uint32_t a[8], b[8];
            std::memcpy(a, seed.data(), 32);
            std::memcpy(b, seed.data(), 32);
            qor_sha::sha256BlocksPortable(a, data.data() + off, blocks);
            generic256(b, data.data() + off, blocks);
            EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << "SHA-256, " << blocks << " blocks at offset " << off;
            std::uint32_t c[5], d[5];
            std::memcpy(c, seed.data(), 20);
            std::memcpy(d, seed.data(), 20);
            qor_sha::sha1BlocksPortable(c, data.data() + off, blocks);
            generic1(d, data.data() + off, blocks);
            EXPECT_EQ(0, std::memcmp(c, d, sizeof c)) << "SHA-1, " << blocks << " blocks at offset " << off;
            if (blocks == 0) {
                EXPECT_EQ(0, std::memcmp(b, seed.data(), 32)) << "no blocks, no change";
                EXPECT_EQ(0, std::memcmp(d, seed.data(), 20)) << "no blocks, no change";
            }
        }
    }
}

TEST(ShaEngines, VectorAndPortableEnginesAgreeOnRandomStatesAndBlocks) {
    struct sEngines {
        const char* name;
        qor_sha::BlockEngine32 sha256, sha1;
    };
    int tested = 0;
    for (const sEngines& e : {sEngines{"avx2", qor_sha::sha256VectorEngine(), qor_sha::sha1VectorEngine()},
                              sEngines{"avx", qor_sha::sha256AvxEngine(), qor_sha::sha1AvxEngine()},
                              sEngines{"ssse3", qor_sha::sha256Ssse3Engine(), qor_sha::sha1Ssse3Engine()}}) {
        if (!e.sha256 || !e.sha1) continue;
        ++tested;
        const auto data = pattern(64 * 40 + 3);
        for (std::size_t blocks : {1u, 2u, 3u, 17u, 40u}) {
            for (std::size_t off : {0u, 1u, 3u}) {
                auto seed = pattern(32, blocks * 100 + off + 1);
                std::uint32_t a[8], b[8];
                std::memcpy(a, seed.data(), 32);
                std::memcpy(b, seed.data(), 32);
                qor_sha::sha256BlocksPortable(a, data.data() + off, blocks);
                e.sha256(b, data.data() + off, blocks);
                EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << e.name << " SHA-256, " << blocks << " blocks at " << off;
                std::uint32_t c[5], d[5];
                std::memcpy(c, seed.data(), 20);
                std::memcpy(d, seed.data(), 20);
                qor_sha::sha1BlocksPortable(c, data.data() + off, blocks);
                e.sha1(d, data.data() + off, blocks);
                EXPECT_EQ(0, std::memcmp(c, d, sizeof c)) << e.name << " SHA-1, " << blocks << " blocks at " << off;
            }
        }
    }
    if (!tested) GTEST_SKIP() << "this CPU has no SSSE3";
}

TEST(ShaEngines, ThePairEngineIsTwoSingleEnginesOnDifferentStates) {
    const auto pair = qor_sha::sha256HardwarePairEngine();
    if (!pair) GTEST_SKIP() << "this CPU has no SHA extensions";
    const auto data = pattern(64 * 40 + 3);
    for (std::size_t blocks : {1u, 2u, 17u, 20u}) {
        auto seed = pattern(64, blocks + 7);
        std::uint32_t a[8], b[8], c[8], d[8];
        std::memcpy(a, seed.data(), 32);
        std::memcpy(c, seed.data(), 32);
        std::memcpy(b, seed.data() + 32, 32);
        std::memcpy(d, seed.data() + 32, 32);
        qor_sha::sha256BlocksPortable(a, data.data() + 1, blocks);
        qor_sha::sha256BlocksPortable(b, data.data() + 64 * 20 + 3, blocks);
        pair(c, data.data() + 1, d, data.data() + 64 * 20 + 3, blocks);
        EXPECT_EQ(0, std::memcmp(a, c, sizeof a)) << "first lane, " << blocks << " blocks";
        EXPECT_EQ(0, std::memcmp(b, d, sizeof b)) << "second lane, " << blocks << " blocks";
    }
}

// ---------------------------------------------------------------------------
// Inputs beyond 2 GiB and 4 GiB.  The bytes are an anonymous mapping of
// 2^32 + 7 bytes, zero but for six marks around the 2^31 and 2^32
// boundaries; untouched pages share the kernel's zero page, so the input
// costs a few pages of memory.  The digests were computed with Python's
// hashlib over the same bytes:
//   marks = {0: 0x61, 2**31 - 1: 0x62, 2**31: 0x63,
//            2**32 - 1: 0x64, 2**32: 0x65, 2**32 + 6: 0x66}
//   feed hashlib.sha256 (all 2**32 + 7 bytes) and hashlib.sha1 (the first
//   2**31 + 7) with 64 MiB chunks of zeros carrying those marks, and print
//   hexdigest().
// SHA2Hash and _SHA2Hash share one path past the string convention, so the
// 4 GiB case covers both; SHA1Hash has its own context and gets the 2 GiB
// case.  Hashing is the cost (about 6 s without the sanitizers' overhead),
// so the test needs the SHA extensions.

TEST(ShaLargeInputs, OneShotsHashBeyondTwoAndFourGibibytes) {
    if (!qor_sha::sha256HardwareEngine())
        GTEST_SKIP() << "without the SHA extensions 6 GiB of hashing does not fit the time budget";
    constexpr std::size_t kSize = (std::size_t(1) << 32) + 7;
    void* p = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    auto* in = static_cast<std::uint8_t*>(p);
    const std::size_t marks[] = {0, (std::size_t(1) << 31) - 1, std::size_t(1) << 31,
                                 (std::size_t(1) << 32) - 1, std::size_t(1) << 32, kSize - 1};
    for (int i = 0; i < 6; ++i) in[marks[i]] = static_cast<std::uint8_t>(0x61 + i);
    std::uint8_t d256[32], d1[20];
    SHA2Hash(in, d256, static_cast<long long>(kSize));
    SHA1Hash(in, d1, (1LL << 31) + 7);
    munmap(p, kSize);
    EXPECT_EQ(hex(d256), "508db2438ce4688704971f2b0a45ab85a90d9faebcee0aa7e6d12c6c640f555a");
    EXPECT_EQ(hex(d1), "6627d270d3ce5d676a8b61ca266fc944c78c59fc");
}

// ---------------------------------------------------------------------------
// HMAC.

namespace {

std::string seq(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += static_cast<char>(i);
    return s;
}

}  // namespace

TEST(Hmac, KeysOfExactlyOneBlockAreUsedAsTheyAreAndLongerOnesHashed) {
    // Python's hmac over key lengths around each block size.
    std::istringstream out(qortest::runPython(R"(
import hmac
msg = bytes(range(200))
for n in (0, 1, 63, 64, 65, 127, 128, 129, 300):
    key = bytes((i * 7 + 3) & 255 for i in range(n))
    print(n, *(hmac.new(key, msg, h).hexdigest() for h in ('sha1', 'sha256', 'sha512')))
)"));
    const std::string msg = seq(0, 199);
    std::size_t n;
    std::string e1, e256, e512;
    int rows = 0;
    while (out >> n >> e1 >> e256 >> e512) {
        std::string key;
        for (std::size_t i = 0; i < n; ++i) key += static_cast<char>((i * 7 + 3) & 255);
        std::uint8_t o1[20], o256[32], o512[64];
        hmac_sha1(msg.data(), 200, key.data(), static_cast<long long>(n), o1);
        hmac_sha256(msg.data(), 200, key.data(), static_cast<long long>(n), o256);
        hmac_sha512(msg.data(), 200, key.data(), static_cast<long long>(n), o512);
        EXPECT_EQ(hex(o1) + " " + hex(o256) + " " + hex(o512), e1 + " " + e256 + " " + e512) << "key of " << n << " bytes";
        ++rows;
    }
    EXPECT_EQ(rows, 9);
}

TEST(Hmac, EmptyAndNegativeLengthsAreEmptyInputs) {
    std::uint8_t a[32], b[32];
    hmac_sha256(nullptr, 0, nullptr, 0, a);
    hmac_sha256("message", -4, "key", -1, b);
    EXPECT_EQ(hex(a), hex(b));
    // hmac.new(b'', b'', 'sha256').hexdigest()
    EXPECT_EQ(hex(a), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

// ---------------------------------------------------------------------------
// Digests of streams.

// The stream forms read from where the stream stands to its end, in pieces
// of any size; their digests are the buffer forms' of the same bytes, which
// hashlib checks above.
TEST(ShaStreams, ShortReadsAndAStartInTheMiddleGiveTheDigestOfTheRest) {
    const auto data = pattern(10000);
    std::uint8_t e256[32], e1[20], e512[64], g256[32], g1[20], g512[64];
    SHA2Hash(data.data() + 100, e256, 9900);
    SHA1Hash(data.data() + 100, e1, 9900);
    SHA512Hash(data.data() + 100, e512, 9900);
    for (unsigned step : {1u, 63u, 64u, 65u, 4096u}) {
        SteppedStream s(data, step);
        ASSERT_TRUE(s.set_fp(100) && SHA2Hash(&s, g256));
        ASSERT_TRUE(s.set_fp(100) && SHA1Hash(&s, g1));
        ASSERT_TRUE(s.set_fp(100) && SHA512Hash(&s, g512));
        EXPECT_EQ(hex(g256) + hex(g1) + hex(g512), hex(e256) + hex(e1) + hex(e512)) << "pieces of " << step;
    }
}

TEST(ShaStreams, AFailedReadOrANullStreamIsAFailureAndLeavesTheDigestAlone) {
    const auto data = pattern(10000);
    std::uint8_t d256[32], d1[20], d512[64];
    std::memset(d256, 0xAB, sizeof d256);
    std::memset(d1, 0xAB, sizeof d1);
    std::memset(d512, 0xAB, sizeof d512);
    EXPECT_FALSE(SHA2Hash(static_cast<cFileIOTarget*>(nullptr), d256));
    SteppedStream s(data, 1000, 5000);
    EXPECT_FALSE(SHA2Hash(&s, d256));
    ASSERT_TRUE(s.set_fp(0));
    EXPECT_FALSE(SHA1Hash(&s, d1));
    ASSERT_TRUE(s.set_fp(0));
    EXPECT_FALSE(SHA512Hash(&s, d512));
    std::string untouched;
    for (int i = 0; i < 32 + 20 + 64; ++i) untouched += "ab";
    EXPECT_EQ(hex(d256) + hex(d1) + hex(d512), untouched);
}
