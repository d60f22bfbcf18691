// qor-test-labels: tsan
// The checksums against their published check values, against Python's zlib
// and coreutils' cksum and sum on the same bytes, and their stream forms
// against their buffer forms.
#include "base/checksum.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/fileio.h"
#include "base/sha.h"
#include "steppedstream.h"
#include "testsupport.h"

namespace {

std::string bytesOf(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

using qortest::pattern;

// Each checksum of the uniform form: its buffer form, its stream form and
// what it gives for no bytes.
template <typename T>
struct Way {
    const char* name;
    T (*buffer)(const void*, long long);
    bool (*stream)(cFileIOTarget*, T&);
    T empty;
};
const Way<std::uint32_t> kWays32[] = {
    {"pcrc32", pcrc32, pcrc32, 0xFFFFFFFFu}, {"adler32", adler32, adler32, 1u}, {"crc32w", crc32w, crc32w, 0u},
    {"crc32", crc32, crc32, 0u},             {"crc32n", crc32n, crc32n, 0u},    {"sum32_8", sum32_8, sum32_8, 0u},
    {"sum32_16", sum32_16, sum32_16, 0u},    {"sum32_32", sum32_32, sum32_32, 0u}};
const Way<std::uint64_t> kWays64[] = {{"crc64", crc64, crc64, 0u}, {"crc64n", crc64n, crc64n, 0u}};

template <typename F>
void forEachWay(F&& f) {
    for (const auto& w : kWays32) f(w);
    for (const auto& w : kWays64) f(w);
}

// One line per (offset, length) slice of the file, computed by Python:
// zlib's CRC-32 and Adler-32, the raw CRC-32 register, CRC-32/BZIP2 (zlib's
// CRC over bit-reversed bytes, reversed back), and for short slices the
// CRC-64 pair bit by bit from the polynomial.
const char kOracleScript[] = R"PY(
import sys, zlib
data = open(sys.argv[1], 'rb').read()
rev8 = bytes(int('{:08b}'.format(i)[::-1], 2) for i in range(256))
def rev32(v): return int('{:032b}'.format(v)[::-1], 2)
def crc64(d, init):
    r = init
    for b in d:
        r ^= b
        for _ in range(8):
            r = (r >> 1) ^ 0xA17870F5D4F51B49 if r & 1 else r >> 1
    return r
M = (1 << 64) - 1
for line in sys.stdin:
    off, n = map(int, line.split())
    d = data[off:off + n]
    raw = ~zlib.crc32(d, 0xFFFFFFFF) & 0xFFFFFFFF
    bz = rev32(zlib.crc32(d.translate(rev8)))
    c64 = crc64(d, 0) if n <= 4096 else 0
    c64n = crc64(d, M) ^ M if n <= 4096 else 0
    print(off, n, zlib.crc32(d), zlib.adler32(d), raw, bz, c64, c64n, sum(d) & 0xFFFFFFFF)
)PY";

struct OracleRow {
    std::size_t off = 0, n = 0;
    unsigned long long crc32n = 0, adler = 0, crc32raw = 0, bzip2 = 0, crc64 = 0, crc64n = 0, sum8 = 0;
};

std::vector<OracleRow> pythonOracle(const qortest::TempDir& dir, const std::vector<unsigned char>& data,
                                    const std::vector<std::pair<std::size_t, std::size_t>>& slices) {
    std::ostringstream in;
    for (auto& s : slices) in << s.first << ' ' << s.second << '\n';
    EXPECT_TRUE(qortest::writeFile(dir.file("data.bin"), bytesOf(data)));
    EXPECT_TRUE(qortest::writeFile(dir.file("slices.txt"), in.str()));
    std::istringstream lines(qortest::runPython(kOracleScript, dir.file("data.bin") + " < " + dir.file("slices.txt")));
    std::vector<OracleRow> rows;
    OracleRow r;
    while (lines >> r.off >> r.n >> r.crc32n >> r.adler >> r.crc32raw >> r.bzip2 >> r.crc64 >> r.crc64n >> r.sum8)
        rows.push_back(r);
    EXPECT_EQ(rows.size(), slices.size());
    return rows;
}

// The first word of what a coreutils program prints for the file.
unsigned long long tool(const std::string& command, const std::string& path) {
    int status = -1;
    const std::string out = qortest::runCommand(command + " < '" + path + "'", &status);
    EXPECT_EQ(status, 0) << command;
    return std::strtoull(out.c_str(), nullptr, 10);
}

}  // namespace

TEST(Checksums, Crc32cMatchesTheIscsiVectors) {
    // RFC 3720, B.4: 32 bytes of zeros, of ones, ascending and descending.
    std::vector<unsigned char> zeros(32, 0), ones(32, 0xFF), up(32), down(32);
    for (int i = 0; i < 32; ++i) up[i] = static_cast<unsigned char>(i), down[i] = static_cast<unsigned char>(31 - i);
    EXPECT_EQ(crc32c(0xFFFFFFFFu, zeros.data(), 32), 0x8A9136AAu);
    EXPECT_EQ(crc32c(0xFFFFFFFFu, ones.data(), 32), 0x62A8AB43u);
    EXPECT_EQ(crc32c(0xFFFFFFFFu, up.data(), 32), 0x46DD794Eu);
    EXPECT_EQ(crc32c(0xFFFFFFFFu, down.data(), 32), 0x113FDB5Cu);
}

TEST(Checksums, EmptyInputGivesWhatEachChecksumDefines) {
    // A negative length, or a null pointer with a length, is empty input, not
    // a read of wild memory.
    const std::pair<const void*, long long> empties[] = {{nullptr, 0}, {"x", 0}, {"x", -1}, {"x", -1000}, {nullptr, 10}};
    for (const auto& e : empties) {
        forEachWay([&](const auto& w) { EXPECT_EQ(w.buffer(e.first, e.second), w.empty) << w.name << " " << e.second; });
        EXPECT_EQ(crc32c(0x12345678u, e.first, e.second), 0xEDCBA987u);  // the complement of the running value
    }
    EXPECT_EQ(crc32c(0u, "x", 0), 0xFFFFFFFFu);
    const std::vector<unsigned char> none;
    forEachWay([&](const auto& w) {
        SteppedStream s(none, 100);
        decltype(w.empty) v = 7;
        EXPECT_TRUE(w.stream(&s, v)) << w.name;
        EXPECT_EQ(v, w.empty) << w.name;
    });
    std::uint32_t v = 0;
    SteppedStream s(none, 100);
    ASSERT_TRUE(crc32c(0x12345678u, &s, v));
    EXPECT_EQ(v, 0xEDCBA987u);
}

TEST(Checksums, CksumAndSumMatchCoreutils) {
    qortest::TempDir dir;
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(255), std::size_t(256), std::size_t(65537),
                          std::size_t(1) << 20}) {
        const auto data = pattern(n, n);
        ASSERT_TRUE(qortest::writeFile(dir.file("d"), bytesOf(data)));
        EXPECT_EQ(tool("cksum", dir.file("d")), pcrc32(data.data(), static_cast<long long>(n))) << n << " bytes";
    }
    // sum -s prints the byte sum folded to 16 bits.
    const auto data = pattern(300000);
    ASSERT_TRUE(qortest::writeFile(dir.file("d"), bytesOf(data)));
    const std::uint32_t s = sum32_8(data.data(), static_cast<long long>(data.size()));
    std::uint32_t r = (s & 0xFFFF) + (s >> 16);
    r = (r & 0xFFFF) + (r >> 16);
    EXPECT_EQ(tool("sum -s", dir.file("d")), r);
    EXPECT_GT(s, 0xFFFFu);  // the fold was really exercised
}

TEST(Checksums, WordSumsIgnoreTrailingBytesAndReadHostOrder) {
    const unsigned char b[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    const std::uint16_t one = 1;
    const bool little = *reinterpret_cast<const unsigned char*>(&one) == 1;
    EXPECT_EQ(sum32_16(b, 5), little ? 0x0201u + 0x0403u : 0x0102u + 0x0304u);
    EXPECT_EQ(sum32_16(b, 1), 0u);
    EXPECT_EQ(sum32_32(b, 7), little ? 0x04030201u : 0x01020304u);
    EXPECT_EQ(sum32_32(b, 3), 0u);
    // Words at an odd address are read as they are, not from an aligned one.
    EXPECT_EQ(sum32_32(b + 1, 8), little ? 0x05040302u + 0x09080706u : 0x02030405u + 0x06070809u);
    EXPECT_EQ(sum32_16(b + 1, 4), little ? 0x0302u + 0x0504u : 0x0203u + 0x0405u);
}

TEST(Checksums, AgreeWithPythonOverManyLengthsAndAlignments) {
    qortest::TempDir dir;
    const auto data = pattern((1 << 20) + 64);
    std::vector<std::pair<std::size_t, std::size_t>> slices;
    for (std::size_t n : {1, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 79, 80, 127, 128, 129, 191, 255, 256,
                          257, 1000, 4096})
        for (std::size_t off : {0, 1, 3, 5})
            slices.emplace_back(off, n);
    slices.emplace_back(7, 65536 + 5);
    slices.emplace_back(0, 1 << 20);
    slices.emplace_back(3, (1 << 20) + 13);
    const auto rows = pythonOracle(dir, data, slices);
    for (const auto& r : rows) {
        const unsigned char* p = data.data() + r.off;
        const long long n = static_cast<long long>(r.n);
        SCOPED_TRACE("offset " + std::to_string(r.off) + " length " + std::to_string(r.n));
        EXPECT_EQ(crc32n(p, n), r.crc32n);
        EXPECT_EQ(adler32(p, n), r.adler);
        EXPECT_EQ(crc32(p, n), r.crc32raw);
        EXPECT_EQ(crc32w(p, n), r.bzip2);
        EXPECT_EQ(sum32_8(p, n), r.sum8);
        if (r.n <= 4096) {
            EXPECT_EQ(crc64(p, n), r.crc64);
            EXPECT_EQ(crc64n(p, n), r.crc64n);
        }
    }
}

TEST(Checksums, Adler32KeepsItsSumsBelowTheModulusOverLongRunsOfFF) {
    // All-0xFF input drives both sums to their largest values between
    // reductions; Python's zlib gives the expected value.
    qortest::TempDir dir;
    std::vector<unsigned char> ff((1 << 20) + 5553, 0xFF);
    const auto rows = pythonOracle(dir, ff, {{0, ff.size()}, {1, 5552}, {0, 5553}});
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& r : rows)
        EXPECT_EQ(adler32(ff.data() + r.off, static_cast<long long>(r.n)), r.adler) << r.n;
}

TEST(Checksums, CarrylessFoldingAgreesWithTheTableForEveryShortLengthAndOffset) {
    const auto fold = qor_checksum::crc32FoldingEngine();
    if (!fold) GTEST_SKIP() << "this CPU has no PCLMULQDQ";
    const auto data = pattern(4096 + 64);
    for (std::size_t off = 0; off < 16; ++off)
        for (std::size_t n = 0; n <= 600; ++n) {
            const std::uint32_t reg = static_cast<std::uint32_t>(n * 2654435761u);
            ASSERT_EQ(fold(reg, data.data() + off, n), qor_checksum::crc32UpdateTable(reg, data.data() + off, n))
                << "offset " << off << " length " << n;
        }
    ASSERT_EQ(fold(0xFFFFFFFFu, data.data(), 4096 + 64), qor_checksum::crc32UpdateTable(0xFFFFFFFFu, data.data(), 4096 + 64));
}

TEST(Checksums, Crc32cInstructionAgreesWithTheTable) {
    const auto hw = qor_checksum::crc32cHardwareEngine();
    if (!hw) GTEST_SKIP() << "this CPU has no SSE 4.2";
    const auto data = pattern(2048);
    for (std::size_t off = 0; off < 8; ++off)
        for (std::size_t n = 0; n <= 300; ++n)
            ASSERT_EQ(hw(0x5A5A5A5Au, data.data() + off, n),
                      qor_checksum::crc32cUpdateTable(0x5A5A5A5Au, data.data() + off, n))
                << "offset " << off << " length " << n;
}

// ---------------------------------------------------------------------------
// Stream forms.

TEST(ChecksumStreams, ReadFromTheCurrentPositionToTheEndInAnyPieceSize) {
    const auto data = pattern(200003);
    const std::size_t start = 11;
    const unsigned char* p = data.data() + start;
    const long long n = static_cast<long long>(data.size() - start);
    for (unsigned step : {1u, 3u, 7u, 4096u, 1u << 20}) {
        SCOPED_TRACE("pieces of " + std::to_string(step));
        SteppedStream s(data, step);
        // Word sums must carry a word cut by a piece boundary.
        forEachWay([&](const auto& w) {
            if (step == 1 && std::strcmp(w.name, "crc32w") == 0) return;  // slow bit by bit; other piece sizes suffice
            decltype(w.empty) v = 0;
            ASSERT_TRUE(s.set_fp(start));
            ASSERT_TRUE(w.stream(&s, v)) << w.name;
            EXPECT_EQ(v, w.buffer(p, n)) << w.name;
        });
        std::uint32_t v = 0;
        ASSERT_TRUE(s.set_fp(start));
        ASSERT_TRUE(crc32c(0xFFFFFFFFu, &s, v));
        EXPECT_EQ(v, crc32c(0xFFFFFFFFu, p, n));
    }
}

TEST(ChecksumStreams, AFailedReadOrANullStreamIsAFailureAndLeavesTheResultAlone) {
    const auto data = pattern(10000);
    forEachWay([&](const auto& w) {
        decltype(w.empty) v = 0xC0FFEEu;
        EXPECT_FALSE(w.stream(nullptr, v)) << w.name;
        for (long long failAfter : {0LL, 4096LL}) {
            SteppedStream s(data, 4096, failAfter);
            EXPECT_FALSE(w.stream(&s, v)) << w.name << " failing after " << failAfter;
        }
        EXPECT_EQ(v, 0xC0FFEEu) << w.name;
    });
    std::uint32_t v = 0xC0FFEEu;
    SteppedStream s(data, 4096, 4096);
    EXPECT_FALSE(crc32c(0xFFFFFFFFu, &s, v));
    EXPECT_FALSE(crc32c(0xFFFFFFFFu, static_cast<cFileIOTarget*>(nullptr), v));
    EXPECT_EQ(v, 0xC0FFEEu);
}

// ---------------------------------------------------------------------------
// Threads.  Each test runs in a process of its own, so the engines are chosen
// here, on first use, by several threads at once.

TEST(ChecksumThreads, ManyThreadsMayComputeAtOnceFromFirstUse) {
    constexpr int kThreads = 8;
    std::vector<std::vector<unsigned char>> inputs;
    for (int t = 0; t < kThreads; ++t) inputs.push_back(pattern(20000 + 997 * t, 1000 + t));
    struct Result {
        std::uint32_t crc = 0, crcC = 0, adler = 0;
        std::uint8_t sha256[32] = {}, sha1[20] = {};
    };
    std::vector<Result> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const auto& in = inputs[t];
            const long long n = static_cast<long long>(in.size());
            Result& r = results[t];
            r.crc = crc32n(in.data(), n);
            r.crcC = crc32c(0xFFFFFFFFu, in.data(), n);
            r.adler = adler32(in.data(), n);
            SHA2Hash(in.data(), r.sha256, n);
            SHA1Hash(in.data(), r.sha1, n);
        });
    for (auto& th : threads) th.join();

    // Python's zlib and hashlib on the same bytes.
    qortest::TempDir dir;
    for (int t = 0; t < kThreads; ++t) {
        const std::string path = dir.file("d" + std::to_string(t));
        ASSERT_TRUE(qortest::writeFile(path, bytesOf(inputs[t])));
        std::istringstream out(qortest::runPython(R"(
import sys, zlib, hashlib
d = open(sys.argv[1], 'rb').read()
print(zlib.crc32(d), zlib.adler32(d), hashlib.sha256(d).hexdigest(), hashlib.sha1(d).hexdigest())
)", "'" + path + "'"));
        unsigned long crc = 0, adler = 0;
        std::string sha256, sha1;
        out >> crc >> adler >> sha256 >> sha1;
        const Result& r = results[t];
        EXPECT_EQ(r.crc, crc) << "thread " << t;
        EXPECT_EQ(r.adler, adler) << "thread " << t;
        EXPECT_EQ(r.crcC, crc32c(0xFFFFFFFFu, inputs[t].data(), static_cast<long long>(inputs[t].size())));
        static const char digits[] = "0123456789abcdef";
        std::string h256, h1;
        for (auto b : r.sha256) (h256 += digits[b >> 4]) += digits[b & 15];
        for (auto b : r.sha1) (h1 += digits[b >> 4]) += digits[b & 15];
        EXPECT_EQ(h256, sha256) << "thread " << t;
        EXPECT_EQ(h1, sha1) << "thread " << t;
    }
}
