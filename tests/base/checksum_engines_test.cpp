// Every CRC-32 and Adler-32 engine this processor has (the table, the 128-bit
// and the 256-bit carry-less folding; the portable, AVX2 and VNNI Adler-32),
// each on its own, against Python's zlib: every length up to 1024 bytes and
// lengths around the engines' strides and the Adler-32 runs, from aligned and
// unaligned starts, in one call and continued across two; and over long runs
// of 0xFF, the bytes that push the Adler-32 sums highest.
// qor-test-narrow-cpu: ChecksumEngines.*
#include "base/checksum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testsupport.h"

namespace {

struct sRow {
    std::size_t off = 0, n = 0;
    unsigned long long crc = 0, adler = 0;
};

// zlib's values of data[off, off + n) for each case (off, n).
std::vector<sRow> zlibRows(const std::vector<unsigned char>& data,
                           const std::vector<std::pair<std::size_t, std::size_t> >& cases) {
    qortest::TempDir dir;
    EXPECT_TRUE(qortest::writeFile(dir.file("data.bin"), std::string(data.begin(), data.end())));
    std::string list;
    for (const auto& [off, n] : cases) list += std::to_string(off) + " " + std::to_string(n) + "\n";
    EXPECT_TRUE(qortest::writeFile(dir.file("cases.txt"), list));
    std::istringstream out(qortest::runPython(R"(
import sys, zlib
data = open(sys.argv[1], 'rb').read()
for line in sys.stdin:
    off, n = map(int, line.split())
    d = data[off:off + n]
    print(off, n, zlib.crc32(d), zlib.adler32(d))
)", dir.file("data.bin") + " < " + dir.file("cases.txt")));
    std::vector<sRow> rows;
    sRow r;
    while (out >> r.off >> r.n >> r.crc >> r.adler) rows.push_back(r);
    EXPECT_EQ(rows.size(), cases.size());
    return rows;
}

// ... for every length from every offset.
std::vector<sRow> zlibRows(const std::vector<unsigned char>& data, const std::vector<std::size_t>& offsets,
                           const std::vector<std::size_t>& lengths) {
    std::vector<std::pair<std::size_t, std::size_t> > cases;
    for (std::size_t off : offsets)
        for (std::size_t n : lengths) cases.emplace_back(off, n);
    return zlibRows(data, cases);
}

template <typename Engine>
std::vector<std::pair<const char*, Engine> > present(std::vector<std::pair<const char*, Engine> > all) {
    std::vector<std::pair<const char*, Engine> > here;
    for (const auto& e : all) {
        if (e.second)
            here.push_back(e);
        else
            std::printf("no %s engine on this processor\n", e.first);
    }
    return here;
}

std::vector<std::pair<const char*, qor_checksum::Crc32Engine> > crcEngines() {
    return present<qor_checksum::Crc32Engine>({{"table", &qor_checksum::crc32UpdateTable},
                                               {"folding", qor_checksum::crc32FoldingEngine()},
                                               {"wide folding", qor_checksum::crc32WideFoldingEngine()}});
}

std::vector<std::pair<const char*, qor_checksum::AdlerEngine> > adlerEngines() {
    return present<qor_checksum::AdlerEngine>({{"portable", &qor_checksum::adler32UpdatePortable},
                                               {"avx2", qor_checksum::adler32Avx2Engine()},
                                               {"vnni", qor_checksum::adler32Avx512Engine()}});
}

void checkEngines(const std::vector<unsigned char>& data, const std::vector<sRow>& rows) {
    const auto crcs = crcEngines();
    const auto adlers = adlerEngines();
    for (const sRow& r : rows) {
        const unsigned char* p = data.data() + r.off;
        const std::size_t cut = r.n / 3 + (r.n & 1);
        for (const auto& [name, engine] : crcs) {
            ASSERT_EQ(~engine(~0u, p, r.n), r.crc) << name << ", " << r.n << " bytes at " << r.off;
            ASSERT_EQ(~engine(engine(~0u, p, cut), p + cut, r.n - cut), r.crc)
                << name << ", " << r.n << " bytes at " << r.off << " cut at " << cut;
        }
        for (const auto& [name, engine] : adlers) {
            ASSERT_EQ(engine(1, p, r.n), r.adler) << name << ", " << r.n << " bytes at " << r.off;
            ASSERT_EQ(engine(engine(1, p, cut), p + cut, r.n - cut), r.adler)
                << name << ", " << r.n << " bytes at " << r.off << " cut at " << cut;
        }
        ASSERT_EQ(crc32n(p, static_cast<long long>(r.n)), r.crc);
    }
}

TEST(ChecksumEngines, EveryEngineGivesZlibsValuesForEveryShortLengthAndAroundItsStrides) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1024; ++n) lengths.push_back(n);
    // Strides of 64, 128 and 256 bytes; the vector Adler-32 runs of 64 KiB
    // and 32 KiB; zlib's 5552-byte run.
    for (std::size_t base : {2048u, 5552u, 32768u, 65536u, 131072u})
        for (std::size_t n : {base - 129, base - 64, base - 1, base, base + 1, base + 63, base + 200})
            lengths.push_back(n);
    lengths.push_back((1u << 20) + 77);
    const std::vector<unsigned char> data = qortest::pattern((1u << 20) + 77 + 16, 41);
    checkEngines(data, zlibRows(data, {0, 1, 7, 13}, lengths));
}

TEST(ChecksumEngines, LongRunsOfFFKeepTheAdlerSumsInRange) {
    const std::vector<unsigned char> ff(600000, 0xFF);
    checkEngines(ff, zlibRows(ff, {0, 3}, {65535, 65536, 65537, 131072 + 5, 599990}));
}

// The AVX2 Adler-32 takes eight 32-byte chunks a step and widens their
// 16-bit products once a step, runs of 1024 chunks (32 KiB) between
// reductions, and the bytes before a 32-byte boundary the portable way: from
// every start within a cache line, lengths around each of those and around
// zlib's 5552-byte run, over mixed bytes and over 0xFF, which fills the
// 16-bit products and the 32-bit sums closest to their limits.
std::vector<std::size_t> blockLengths() {
    std::vector<std::size_t> lengths;
    for (std::size_t base : {32u, 64u, 256u, 288u, 512u, 5552u, 11104u, 32768u, 65536u})
        for (std::size_t n : {base - 1, base, base + 1, base + 31})
            lengths.push_back(n);
    lengths.push_back(32768 + 256 + 224 + 17);
    lengths.push_back(3 * 32768 + 5);
    return lengths;
}

std::vector<std::size_t> everyStartInALine() {
    std::vector<std::size_t> offsets;
    for (std::size_t off = 0; off < 64; ++off) offsets.push_back(off);
    return offsets;
}

TEST(ChecksumEngines, EveryStartInACacheLineAroundTheAdlerStepsAndRuns) {
    const std::vector<unsigned char> data = qortest::pattern(3 * 32768 + 5 + 64, 97);
    checkEngines(data, zlibRows(data, everyStartInALine(), blockLengths()));
}

TEST(ChecksumEngines, EveryStartInACacheLineOverFFAroundTheAdlerStepsAndRuns) {
    const std::vector<unsigned char> ff(3 * 32768 + 5 + 64, 0xFF);
    checkEngines(ff, zlibRows(ff, everyStartInALine(), blockLengths()));
}

// The vector engines read whole registers and ask for lines far ahead of
// where they read: input that ends on the last byte before an unreadable
// page must be read to there and not a byte further (a fault ends the
// test), from every length up to 320 bytes and around the strides up to the
// whole page, with zlib's values.
TEST(ChecksumEngines, EveryEngineStopsAtTheEndOfInputBeforeAnUnreadablePage) {
    qortest::GuardedPage page;
    ASSERT_NE(page.begin(), nullptr);
    const std::size_t size = static_cast<std::size_t>(page.end() - page.begin());
    const std::vector<unsigned char> data = qortest::pattern(size, 23);
    std::copy(data.begin(), data.end(), reinterpret_cast<unsigned char*>(page.begin()));
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 320; ++n) lengths.push_back(n);
    for (std::size_t n : {511u, 512u, 1023u, 1024u, 2047u, 2048u, 3000u}) lengths.push_back(n);
    lengths.push_back(size - 1);
    lengths.push_back(size);
    // Each length as the tail of the page.
    std::vector<std::pair<std::size_t, std::size_t> > cases;
    for (std::size_t n : lengths) cases.emplace_back(size - n, n);
    const std::vector<sRow> rows = zlibRows(data, cases);
    ASSERT_EQ(rows.size(), lengths.size());
    const auto crcs = crcEngines();
    const auto adlers = adlerEngines();
    for (const sRow& r : rows) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(page.end()) - r.n;
        for (const auto& [name, engine] : crcs) EXPECT_EQ(~engine(~0u, p, r.n), r.crc) << name << ", " << r.n;
        for (const auto& [name, engine] : adlers) EXPECT_EQ(engine(1, p, r.n), r.adler) << name << ", " << r.n;
    }
}

}  // namespace

// QOR_CPU_DISABLE (the runs of this program without AVX-512 and without
// AVX2) leaves the checksums only the engines the narrower processor has,
// as it does every other vector kernel.
TEST(ChecksumEngines, TheProcessorMaskWithholdsTheWideEngines) {
    const std::string off = std::getenv("QOR_CPU_DISABLE") ? std::getenv("QOR_CPU_DISABLE") : "";
    if (off.find("avx512") != std::string::npos || off.find("avx2") != std::string::npos) {
        EXPECT_EQ(qor_checksum::adler32Avx512Engine(), nullptr);
    }
    if (off.find("avx2") != std::string::npos) {
        EXPECT_EQ(qor_checksum::adler32Avx2Engine(), nullptr);
        EXPECT_EQ(qor_checksum::crc32WideFoldingEngine(), nullptr);
    }
    // Whatever is withheld, the dispatched checksums keep zlib's values.
    const unsigned char text[] = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(~qor_checksum::crc32Update(~0u, text, sizeof text - 1), 0x414FA339u);
    EXPECT_EQ(qor_checksum::adler32Update(1, text, sizeof text - 1), 0x5BDC0FDAu);
}
