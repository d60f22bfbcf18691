// SHA-256 updates of two contexts at once: runs of updates of every length
// around the block size, each context starting from its own partial block,
// give the digests Python's hashlib gives of the whole messages, on the
// hardware engine (side by side) and on the portable one (one by one).
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "base/sha.h"
#include "testsupport.h"

namespace {

using qortest::hex;
using qortest::pattern;
using qortest::runPython;

// The lengths of the updates of each run, for the two contexts; a run of a
// context's updates in turn, from its first byte on.
struct sRun {
    std::vector<std::uint32_t> a, b;
};

std::vector<sRun> runs() {
    std::vector<sRun> r;
    r.push_back({{0}, {0}});
    r.push_back({{64}, {64}});
    r.push_back({{1, 64, 127}, {65, 0, 64}});
    r.push_back({{63, 1, 4096, 5}, {7, 4096, 100, 1}});
    r.push_back({{10000}, {3}});
    r.push_back({{3}, {10000}});
    r.push_back({{30, 30, 30, 30}, {64, 64, 64, 64}});
    r.push_back({{4096 + 17, 8192, 55, 56}, {4096 + 50, 8192 + 13, 0, 9}});
    std::vector<std::uint32_t> a, b;
    std::uint32_t x = 7;
    for (int i = 0; i < 40; ++i) {
        x = x * 1103515245u + 12345u;
        a.push_back((x >> 8) % 700);
        b.push_back((x >> 20) % 300);
    }
    r.push_back({a, b});
    return r;
}

TEST(ShaPair, TwoContextsUpdatedTogetherGiveEachMessagesOwnDigest) {
    const auto bytesA = pattern(70000, 1), bytesB = pattern(70000, 2);
    const std::vector<sRun> all = runs();
    std::ostringstream totals;
    for (const sRun& run : all) {
        std::uint64_t na = 0, nb = 0;
        for (std::uint32_t n : run.a) na += n;
        for (std::uint32_t n : run.b) nb += n;
        totals << na << "," << nb << " ";
    }
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("a"), std::string(bytesA.begin(), bytesA.end())));
    ASSERT_TRUE(qortest::writeFile(dir.file("b"), std::string(bytesB.begin(), bytesB.end())));
    const std::string want = runPython(R"PY(
import hashlib, sys
a, b = open(sys.argv[1] + '/a', 'rb').read(), open(sys.argv[1] + '/b', 'rb').read()
print(' '.join(hashlib.sha256(a[:int(p.split(',')[0])]).hexdigest() + ',' +
               hashlib.sha256(b[:int(p.split(',')[1])]).hexdigest() for p in sys.argv[2:]))
)PY", dir.path() + " " + totals.str());

    int engines = 0;
    for (const char* engine : {"shani", "generic"}) {
        if (!qor_sha::useSha256Engine(engine)) continue;
        ++engines;
        std::ostringstream got;
        for (const sRun& run : all) {
            sSHA256Ctx a, b;
            sha256_starts(&a);
            sha256_starts(&b);
            std::size_t at = 0, bt = 0;
            for (std::size_t k = 0; k < std::max(run.a.size(), run.b.size()); ++k) {
                const std::uint32_t la = k < run.a.size() ? run.a[k] : 0, lb = k < run.b.size() ? run.b[k] : 0;
                sha256_update_pair(&a, bytesA.data() + at, la, &b, bytesB.data() + bt, lb);
                at += la;
                bt += lb;
            }
            std::uint8_t da[32], db[32];
            sha256_finish(&a, da);
            sha256_finish(&b, db);
            got << (got.tellp() ? " " : "") << hex(da, 32) << "," << hex(db, 32);
        }
        EXPECT_EQ(got.str() + "\n", want) << engine;
    }
    qor_sha::useSha256Engine(nullptr);
    EXPECT_GE(engines, 1);
}

}  // namespace
