// The SHA-512 block engines, the portable one, the generic one (assembly on
// x86-64) and the AVX2, AVX and SSSE3 ones the contexts pick where the
// processor has them, each on its own:
// against Python's hashlib on messages padded here, of every length up to
// eleven blocks, and against each other on random states and block runs of
// every parity and alignment.
#include "base/sha.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

// The engines to test: the portable one always, the others when the
// processor has them.
std::vector<std::pair<const char*, qor_sha::BlockEngine64> > engines() {
    std::vector<std::pair<const char*, qor_sha::BlockEngine64> > all{{"portable", &qor_sha::sha512BlocksPortable}};
    // The generic engine: the assembly one on x86-64, the portable one
    // (already above) elsewhere.
    if (qor_sha::sha512GenericEngine() != &qor_sha::sha512BlocksPortable)
        all.push_back({"generic", qor_sha::sha512GenericEngine()});
    if (qor_sha::sha512VectorEngine())
        all.push_back({"vector", qor_sha::sha512VectorEngine()});
    else
        std::printf("no AVX2 and BMI2 here: the vector engine is not tested\n");
    if (qor_sha::sha512AvxEngine())
        all.push_back({"avx", qor_sha::sha512AvxEngine()});
    else
        std::printf("no AVX here: the AVX engine is not tested\n");
    if (qor_sha::sha512Ssse3Engine())
        all.push_back({"ssse3", qor_sha::sha512Ssse3Engine()});
    else
        std::printf("no SSSE3 here: the SSSE3 engine is not tested\n");
    return all;
}

// SHA-512 or SHA-384 of a message through one engine: the message padded
// with 0x80, zeros and its length in bits as a 128-bit big-endian number to
// whole 128-byte blocks, compressed from the initial words sha512_starts and
// sha384_starts set.
std::string digestWith(qor_sha::BlockEngine64 engine, const std::vector<std::uint8_t>& msg, bool sha384) {
    std::vector<std::uint8_t> padded(msg);
    padded.push_back(0x80);
    while (padded.size() % 128 != 112) padded.push_back(0);
    const unsigned long long bits = static_cast<unsigned long long>(msg.size()) * 8;
    for (int i = 0; i < 8; ++i) padded.push_back(0);
    for (int i = 7; i >= 0; --i) padded.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    sSHA512Ctx ctx;
    if (sha384)
        sha384_starts(&ctx);
    else
        sha512_starts(&ctx);
    engine(ctx.state, padded.data(), padded.size() / 128);
    std::string hex;
    char two[3];
    for (int i = 0; i < (sha384 ? 6 : 8); ++i)
        for (int b = 7; b >= 0; --b) {
            std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(ctx.state[i] >> (8 * b)) & 0xFF);
            hex += two;
        }
    return hex;
}

TEST(Sha512Engines, EachEngineGivesHashlibsDigests) {
    // Every length up to eleven blocks (so both padding edges, 111 and 112
    // bytes past a block, of runs of 1 to 11 blocks, odd and even: the
    // engines that take blocks by pairs end on a lone block or a pair) and
    // one of 20 blocks.
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 11 * 128; ++n) lengths.push_back(n);
    lengths.push_back(2559);
    const auto data = randomBytes(2559, 3);
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("data.bin"), std::string(data.begin(), data.end())));
    std::string lines;
    for (auto n : lengths) lines += std::to_string(n) + "\n";
    ASSERT_TRUE(qortest::writeFile(dir.file("lengths.txt"), lines));
    std::istringstream out(qortest::runPython(R"(
import sys, hashlib
data = open(sys.argv[1], 'rb').read()
for line in sys.stdin:
    d = data[:int(line)]
    print(hashlib.sha512(d).hexdigest(), hashlib.sha384(d).hexdigest())
)", dir.file("data.bin") + " < " + dir.file("lengths.txt")));
    for (std::size_t n : lengths) {
        std::string want512, want384;
        ASSERT_TRUE(out >> want512 >> want384) << "hashlib gave no digest for " << n << " bytes";
        const std::vector<std::uint8_t> msg(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        for (const auto& [name, engine] : engines()) {
            EXPECT_EQ(digestWith(engine, msg, false), want512) << name << ", " << n << " bytes";
            EXPECT_EQ(digestWith(engine, msg, true), want384) << name << ", " << n << " bytes";
        }
    }
}

TEST(Sha512Engines, EveryEngineAgreesWithThePortableOneOnRandomStatesAndBlocks) {
    const auto all = engines();
    if (all.size() == 1) GTEST_SKIP() << "this processor has only the portable engine";
    const auto data = randomBytes(128 * 41 + 7, 5);
    std::mt19937_64 rng(8);
    for (std::size_t blocks : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 17u, 40u, 41u}) {
        for (std::size_t off : {0u, 1u, 7u}) {
            if (off + 128 * blocks > data.size()) continue;
            std::uint64_t start[8], want[8];
            for (int i = 0; i < 8; ++i) start[i] = want[i] = rng();
            qor_sha::sha512BlocksPortable(want, data.data() + off, blocks);
            for (std::size_t e = 1; e < all.size(); ++e) {
                std::uint64_t got[8];
                std::memcpy(got, start, sizeof got);
                all[e].second(got, data.data() + off, blocks);
                EXPECT_EQ(0, std::memcmp(want, got, sizeof got))
                    << all[e].first << ", " << blocks << " blocks at offset " << off;
            }
        }
    }
}

}  // namespace
