// Choosing the SHA engines by name: each engine the processor can run is
// taken by the public one-shots and contexts, which then give hashlib's
// digests for every length up to 1024 bytes and around later block
// boundaries, from aligned and unaligned starts; names the processor cannot
// run, and unknown names, change nothing.
#include "base/sha.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

struct sFamily {
    const char* label;
    bool (*use)(const char*);
    const char* (*name)();
    // The engine names, and whether this processor has each.
    std::vector<std::pair<const char*, bool> > engines;
};

std::vector<sFamily> families() {
    return {
        {"sha512", qor_sha::useSha512Engine, qor_sha::sha512EngineName,
         {{"generic", true}, {"ssse3", qor_sha::sha512Ssse3Engine() != nullptr},
          {"avx", qor_sha::sha512AvxEngine() != nullptr},
          {"avx2", qor_sha::sha512VectorEngine() != nullptr}}},
        {"sha256", qor_sha::useSha256Engine, qor_sha::sha256EngineName,
         {{"generic", true}, {"ssse3", qor_sha::sha256Ssse3Engine() != nullptr},
          {"avx", qor_sha::sha256AvxEngine() != nullptr},
          {"avx2", qor_sha::sha256VectorEngine() != nullptr},
          {"shani", qor_sha::sha256HardwareEngine() != nullptr}}},
        {"sha1", qor_sha::useSha1Engine, qor_sha::sha1EngineName,
         {{"generic", true}, {"ssse3", qor_sha::sha1Ssse3Engine() != nullptr},
          {"avx", qor_sha::sha1AvxEngine() != nullptr},
          {"avx2", qor_sha::sha1VectorEngine() != nullptr},
          {"shani", qor_sha::sha1HardwareEngine() != nullptr}}},
    };
}

// Puts every family back on the processor's own choice when a test ends.
struct sBackToBest {
    ~sBackToBest() {
        for (const sFamily& f : families()) f.use(nullptr);
    }
};

std::vector<std::size_t> lengths() {
    std::vector<std::size_t> v;
    for (std::size_t n = 0; n <= 1024; ++n) v.push_back(n);
    for (std::size_t base : {2048u, 4096u, 65536u})
        for (std::size_t d : {base - 129, base - 128, base - 113, base - 112, base - 111, base - 65, base - 64,
                              base - 56, base - 55, base - 1, base, base + 1})
            v.push_back(d);
    return v;
}

struct sWant {
    std::string sha1, sha256, sha384, sha512;
};

std::vector<sWant> hashlibDigests(const std::vector<unsigned char>& data, const std::vector<std::size_t>& ns) {
    qortest::TempDir dir;
    std::string lines;
    for (auto n : ns) lines += std::to_string(n) + "\n";
    EXPECT_TRUE(qortest::writeFile(dir.file("data.bin"), std::string(data.begin(), data.end())));
    EXPECT_TRUE(qortest::writeFile(dir.file("lengths.txt"), lines));
    std::istringstream out(qortest::runPython(R"(
import sys, hashlib
data = open(sys.argv[1], 'rb').read()
for line in sys.stdin:
    d = data[:int(line)]
    print(*(hashlib.new(h, d).hexdigest() for h in ('sha1', 'sha256', 'sha384', 'sha512')))
)", dir.file("data.bin") + " < " + dir.file("lengths.txt")));
    std::vector<sWant> rows;
    sWant w;
    while (out >> w.sha1 >> w.sha256 >> w.sha384 >> w.sha512) rows.push_back(w);
    EXPECT_EQ(rows.size(), ns.size());
    return rows;
}

template <std::size_t N>
std::string hexOf(const std::uint8_t (&d)[N]) {
    return qortest::hex(d, N);
}

// The family's digest of n bytes at p, one-shot and through a context fed in
// three uneven pieces; both must agree before one is compared.
std::string digestOf(const std::string& family, const unsigned char* p, std::size_t n, std::string* other) {
    const long long len = static_cast<long long>(n);
    const std::uint32_t cut1 = static_cast<std::uint32_t>(n / 3), cut2 = static_cast<std::uint32_t>(n - n / 5);
    if (family == "sha512") {
        std::uint8_t a[64], b[64], c[48], d[48];
        SHA512Hash(p, a, len);
        sSHA512Ctx ctx;
        sha512_starts(&ctx);
        sha512_update(&ctx, p, cut1);
        sha512_update(&ctx, p + cut1, cut2 - cut1);
        sha512_update(&ctx, p + cut2, static_cast<std::uint32_t>(n) - cut2);
        sha512_finish(&ctx, b);
        sha384_starts(&ctx);
        sha384_update(&ctx, p, static_cast<std::uint32_t>(n));
        sha384_finish(&ctx, c);
        sha384_starts(&ctx);
        sha384_update(&ctx, p, cut2);
        sha384_update(&ctx, p + cut2, static_cast<std::uint32_t>(n) - cut2);
        sha384_finish(&ctx, d);
        *other = hexOf(b) + " " + hexOf(d);
        return hexOf(a) + " " + hexOf(c);
    }
    if (family == "sha256") {
        std::uint8_t a[32], b[32], c[32], e[32];
        SHA2Hash(p, a, len);
        sSHA256Ctx ctx;
        sha256_starts(&ctx);
        sha256_update(&ctx, p, cut1);
        sha256_update(&ctx, p + cut1, cut2 - cut1);
        sha256_update(&ctx, p + cut2, static_cast<std::uint32_t>(n) - cut2);
        sha256_finish(&ctx, b);
        // The pair one-shot, which has a side-by-side engine of its own.
        SHA2HashPair(p, len, c, p, len / 2, e);
        *other = hexOf(b) + " " + hexOf(c);
        return hexOf(a) + " " + hexOf(a);
    }
    std::uint8_t a[20], b[20], c[20];
    SHA1Hash(p, a, len);
    _SHA1Hash(p, b, len);
    SHA_CTX ctx;
    sha_init(&ctx);
    sha_update(&ctx, p, cut1);
    sha_update(&ctx, p + cut1, static_cast<std::uint32_t>(n) - cut1);
    sha_final(&ctx);
    sha_digest(&ctx, c);
    *other = hexOf(b) + " " + hexOf(c);
    return hexOf(a) + " " + hexOf(a);
}

TEST(ShaEngineChoice, EachEngineTheProcessorHasGivesHashlibsDigests) {
    sBackToBest restore;
    const std::vector<std::size_t> ns = lengths();
    const std::vector<unsigned char> data = qortest::pattern(65536 + 1 + 8, 21);
    const std::vector<sWant> want = hashlibDigests(data, ns);
    ASSERT_EQ(want.size(), ns.size());
    int engines = 0;
    for (const sFamily& f : families()) {
        for (const auto& [engine, present] : f.engines) {
            if (!present) {
                std::printf("%s: no %s engine on this processor\n", f.label, engine);
                continue;
            }
            ASSERT_TRUE(f.use(engine)) << f.label << " " << engine;
            ASSERT_STREQ(f.name(), engine);
            ++engines;
            for (std::size_t offset : {0u, 1u, 3u}) {
                // The data shifted by the offset, so that the same bytes are
                // hashed from an unaligned start.
                std::vector<unsigned char> shifted(offset);
                shifted.insert(shifted.end(), data.begin(), data.end() - static_cast<std::ptrdiff_t>(offset));
                for (std::size_t i = 0; i < ns.size(); ++i) {
                    const sWant& w = want[i];
                    const std::string family = f.label;
                    const std::string expect = family == "sha512"   ? w.sha512 + " " + w.sha384
                                               : family == "sha256" ? w.sha256 + " " + w.sha256
                                                                    : w.sha1 + " " + w.sha1;
                    std::string other;
                    const std::string got = digestOf(family, shifted.data() + offset, ns[i], &other);
                    ASSERT_EQ(got, expect) << f.label << " " << engine << ", " << ns[i] << " bytes at offset " << offset;
                    ASSERT_EQ(other, expect) << f.label << " " << engine << " in pieces, " << ns[i] << " bytes";
                }
            }
        }
    }
    EXPECT_GE(engines, 3);
}

TEST(ShaEngineChoice, EachEngineReadsNoByteBeyondTheMessage) {
    // Engines load the next block while the rounds of one run, and the
    // wide ones take blocks by pairs: a message of whole blocks that ends
    // on the last byte before an unreadable page must be hashed without a
    // fault, and to the generic engine's digest of the same bytes.
    sBackToBest restore;
    qortest::GuardedPage page;
    ASSERT_NE(page.begin(), nullptr);
    const std::vector<unsigned char> data = qortest::pattern(1024, 5);
    for (const sFamily& f : families()) {
        const std::string family = f.label;
        const std::size_t block = family == "sha512" ? 128 : 64;
        for (std::size_t blocks = 1; blocks <= 5; ++blocks) {
            const std::size_t n = blocks * block;
            unsigned char* at = reinterpret_cast<unsigned char*>(page.end()) - n;
            std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n), at);
            std::string other;
            ASSERT_TRUE(f.use("generic"));
            const std::string want = digestOf(family, data.data(), n, &other);
            for (const auto& [engine, present] : f.engines) {
                if (!present) continue;
                ASSERT_TRUE(f.use(engine));
                EXPECT_EQ(digestOf(family, at, n, &other), want) << f.label << " " << engine << ", " << blocks;
            }
        }
    }
}

TEST(ShaEngineChoice, NamesTheProcessorCannotRunChangeNothing) {
    sBackToBest restore;
    for (const sFamily& f : families()) {
        ASSERT_TRUE(f.use("generic"));
        EXPECT_FALSE(f.use("no-such-engine"));
        EXPECT_STREQ(f.name(), "generic");
        for (const auto& [engine, present] : f.engines) {
            EXPECT_EQ(f.use(engine), present) << f.label << " " << engine;
            EXPECT_STREQ(f.name(), present ? engine : "generic") << f.label << " " << engine;
            f.use("generic");
        }
        // Back to the processor's choice: a vector or hardware engine when
        // there is one.
        EXPECT_TRUE(f.use(""));
        const std::string chosen = f.name();
        bool vectorHere = false, chosenHere = false;
        for (const auto& [engine, present] : f.engines) {
            vectorHere |= present && std::string(engine) != "generic";
            chosenHere |= present && chosen == engine;
        }
        EXPECT_TRUE(chosenHere) << f.label << " " << chosen;
        EXPECT_EQ(chosen != "generic", vectorHere) << f.label << " " << chosen;
    }
}

}  // namespace
