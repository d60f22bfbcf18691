// The text reader's line-end scanners, portable and vector, against a plain
// unit-by-unit reading of the line-end rule; and lines read into buffers that
// the caller keeps, moves away or resizes between lines, compared with the
// lines written.
#include "base/textfile.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using qortest::TempDir;

// The rule, one unit at a time: NUL, LF and CR end a line; an LF right after
// a CR belongs to it.
long long referenceScan(const unsigned char* p, long long n, int width, bool bigEndian, long long& consumed) {
    auto unit = [&](long long i) -> unsigned {
        if (width == 1) return p[i];
        return bigEndian ? (p[2 * i] << 8 | p[2 * i + 1]) : (p[2 * i + 1] << 8 | p[2 * i]);
    };
    for (long long i = 0; i < n; ++i) {
        const unsigned u = unit(i);
        if (u == 0 || u == 10) {
            consumed = i + 1;
            return i;
        }
        if (u == 13) {
            consumed = i + 1 < n && unit(i + 1) == 10 ? i + 2 : i + 1;
            return i;
        }
    }
    consumed = n;
    return n;
}

TEST(TextLineScan, PortableAndVectorScannersFollowTheLineEndRule) {
    // Text with line ends and other control units (tab, 11, 12, 14, and
    // for 16-bit text units whose other byte makes them no line end:
    // 0x0A0D, 0x0D0A, 0x0100, 0x0D00) each at odds that vary from buffer to
    // buffer, from every unit to one in a few hundred.
    static const unsigned kText8[] = {'a', ' ', 0xE9, 0xFF};
    static const unsigned kText16[] = {'a', 0x20AC, 0xFF00, 0x4E00};
    static const unsigned kControl8[] = {9, 11, 12, 14};
    static const unsigned kControl16[] = {9, 11, 12, 14, 0x0A0D, 0x0D0A, 0x0100, 0x0D00};
    static const unsigned kEnds[] = {0, 10, 13};
    std::mt19937 rng(11);
    for (int width : {1, 2}) {
        for (bool bigEndian : {false, true}) {
            if (width == 1 && bigEndian) continue;
            SCOPED_TRACE(testing::Message() << "width " << width << (bigEndian ? " big-endian" : ""));
            qor_text::LineScanner scanners[] = {qor_text::portableLineScanner(width, bigEndian),
                                                qor_text::vectorLineScanner(width, bigEndian)};
            ASSERT_NE(scanners[0], nullptr);
            if (!scanners[1]) std::printf("no AVX2 here: the vector scanner is not tested\n");
            for (int round = 0; round < 20000; ++round) {
                const long long n = static_cast<long long>(rng() % 300);
                const int skew = static_cast<int>(rng() % 32);  // the buffer's alignment
                // Exactly the bytes scanned: a read past them is a heap overflow.
                std::vector<unsigned char> bytes(static_cast<std::size_t>(skew + n * width));
                unsigned char* p = bytes.data() + skew;
                const unsigned endOdds = 1 + rng() % 300, controlOdds = 1 + rng() % 300;
                for (long long i = 0; i < n; ++i) {
                    unsigned u;
                    if (rng() % endOdds == 0)
                        u = kEnds[rng() % 3];
                    else if (rng() % controlOdds == 0)
                        u = width == 1 ? kControl8[rng() % 4] : kControl16[rng() % 8];
                    else
                        u = width == 1 ? kText8[rng() % 4] : kText16[rng() % 4];
                    if (width == 1) {
                        p[i] = static_cast<unsigned char>(u);
                    } else if (bigEndian) {
                        p[2 * i] = static_cast<unsigned char>(u >> 8);
                        p[2 * i + 1] = static_cast<unsigned char>(u);
                    } else {
                        p[2 * i] = static_cast<unsigned char>(u);
                        p[2 * i + 1] = static_cast<unsigned char>(u >> 8);
                    }
                }
                long long wantConsumed = -1;
                const long long want = referenceScan(p, n, width, bigEndian, wantConsumed);
                for (qor_text::LineScanner scan : scanners) {
                    if (!scan) continue;
                    long long consumed = -1;
                    ASSERT_EQ(scan(p, n, consumed), want) << "round " << round << " n " << n;
                    ASSERT_EQ(consumed, wantConsumed) << "round " << round << " n " << n;
                }
            }
        }
    }
}

// Lines of every length from 0 to 600 bytes, in a shuffled order, each
// length several times: lines that reuse arrays of earlier lines, lines too
// long for that, and empty ones between them.
std::vector<std::string> shuffledLines() {
    std::vector<std::string> lines;
    std::mt19937 rng(4);
    for (int copy = 0; copy < 3; ++copy)
        for (int len = 0; len <= 600; ++len) {
            std::string line;
            for (int i = 0; i < len; ++i) line += static_cast<char>('!' + rng() % 90);
            lines.push_back(line);
        }
    std::shuffle(lines.begin(), lines.end(), rng);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\r\n";
    return all;
}

TEST(TextLineScan, LinesComeBackWhateverTheCallerDoesWithItsBuffer) {
    TempDir dir;
    const std::vector<std::string> lines = shuffledLines();
    const std::string path = dir.path() + "/lines.txt";
    ASSERT_TRUE(qortest::writeFile(path, joined(lines)));
    // 0: one buffer for every line; 1: each line moved away before the next;
    // 2: the buffer resized by the caller between lines; 3: a buffer of the
    // length of the line to come.
    for (int use = 0; use < 4; ++use) {
        SCOPED_TRACE(use);
        cTextFileIO tf;
        ASSERT_TRUE(tf.open(path.c_str(), true, cTextFileIO::tct8Bit));
        _typebuf<char> line;
        std::vector<_typebuf<char> > kept;
        std::mt19937 rng(9);
        std::size_t i = 0;
        for (; tf.gets(line); ++i) {
            ASSERT_LT(i, lines.size());
            ASSERT_EQ(std::string(line.data() ? line.data() : "", line.bytes()), lines[i]) << "line " << i;
            ASSERT_EQ(line.data() == nullptr, lines[i].empty()) << "line " << i;
            if (use == 1) kept.push_back(std::move(line));
            if (use == 2) line.set(static_cast<long long>(rng() % 400));
            if (use == 3 && i + 1 < lines.size()) line.set(static_cast<long long>(lines[i + 1].size()));
            if (use == 2 || use == 3) std::fill(line.begin(), line.end(), '#');
        }
        EXPECT_EQ(i, lines.size());
        EXPECT_EQ(tf.lastError(), cTextFileIO::teNone);
        // The lines moved away still hold what they held.
        for (std::size_t k = 0; k < kept.size(); ++k)
            ASSERT_EQ(std::string(kept[k].data() ? kept[k].data() : "", kept[k].bytes()), lines[k]) << k;
    }
}

TEST(TextLineScan, BytesTakenFromTheOutputBufferItselfAreCopiedWhole) {
    cTextFileIO tf;
    _typebuf<char> out;
    for (long long n : {40LL, 200LL, 300LL}) {
        out.set(n);
        for (long long i = 0; i < n; ++i) out.data()[i] = static_cast<char>('a' + i % 26);
        const std::string whole(out.data(), out.bytes());
        tf.strToBuf(out.data() + 10, n - 20, out);  // the middle of itself
        ASSERT_EQ(std::string(out.data(), out.bytes()), whole.substr(10, static_cast<std::size_t>(n - 20))) << n;
    }
}

TEST(TextLineScan, Utf16LinesOfEveryLengthComeBackAsUtf8) {
    TempDir dir;
    const std::vector<std::string> lines = shuffledLines();  // ASCII: UTF-8 as it is
    std::string bytes = "\xFF\xFE";
    for (char c : joined(lines)) bytes += {c, '\0'};
    const std::string path = dir.path() + "/lines16.txt";
    ASSERT_TRUE(qortest::writeFile(path, bytes));
    cTextFileIO tf;
    ASSERT_TRUE(tf.open(path.c_str(), true, cTextFileIO::tctAuto));
    ASSERT_EQ(tf.contentType(), cTextFileIO::tctUTF16LE);
    _typebuf<char> line;
    std::size_t i = 0;
    for (; tf.gets(line); ++i) {
        ASSERT_LT(i, lines.size());
        ASSERT_EQ(std::string(line.data() ? line.data() : "", line.bytes()), lines[i]) << "line " << i;
    }
    EXPECT_EQ(i, lines.size());
    EXPECT_EQ(tf.lastError(), cTextFileIO::teNone);
}

}  // namespace
