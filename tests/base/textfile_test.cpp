// Text files read and written line by line, checked against files that
// Python's codecs write in every encoding and line ending, and against what
// Python decodes from the files we write.
#include "base/textfile.h"

#include <gtest/gtest.h>
#include "steppedstream.h"
#include "testsupport.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using qortest::TempDir;

std::string text(const _typebuf<char>& line) { return std::string(line.data() ? line.data() : "", line.bytes()); }

// Every line of an open text, and whether the reading ended cleanly.
std::vector<std::string> readAll(cTextFileIO& tf, bool* clean = nullptr) {
    std::vector<std::string> lines;
    _typebuf<char> line;
    while (tf.gets(line)) lines.push_back(text(line));
    if (clean) *clean = tf.lastError() == cTextFileIO::teNone;
    return lines;
}

std::vector<std::string> readFile(const std::string& path, cTextFileIO::eTextContentType type, bool* clean = nullptr) {
    cTextFileIO tf;
    if (!tf.open(path.c_str(), true, type)) return {"<open failed>"};
    return readAll(tf, clean);
}

std::vector<std::string> readLent(const std::string& bytes, cTextFileIO::eTextContentType type, unsigned chunk,
                                  bool* clean = nullptr) {
    SteppedStream s(bytes, chunk);
    cTextFileIO tf;
    if (!tf.open(&s, type)) return {"<open failed>"};
    return readAll(tf, clean);
}

// ASCII text in the byte order of a type.
std::string encodeAscii(const std::string& ascii, cTextFileIO::eTextContentType type) {
    std::string out;
    for (char c : ascii) {
        if (type == cTextFileIO::tctUTF16LE)
            out += {c, '\0'};
        else if (type == cTextFileIO::tctUTF16BE)
            out += {'\0', c};
        else
            out += c;
    }
    return out;
}

// Lines of varied length and script: ASCII, Latin, CJK, characters beyond
// the 16-bit plane (surrogate pairs in UTF-16), tabs and empty lines.  Many
// of them straddle a 4096-byte block.
std::vector<std::string> sampleLines(int count) {
    static const char* pieces[] = {"a", "b", "Z", " ", "\t", "\xc3\xbc", "\xc3\x9f", "\xe2\x82\xac",
                                   "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80", "\xf0\x90\x8d\x88", "~", "0"};
    unsigned long long seed = 12345;
    auto next = [&seed](unsigned mod) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>((seed >> 33) % mod);
    };
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::string line;
        const unsigned len = next(7) == 0 ? 0 : next(11) == 0 ? 900 + next(600) : next(120);
        for (unsigned k = 0; k < len; ++k) line += pieces[next(sizeof pieces / sizeof *pieces)];
        lines.push_back(line);
    }
    lines.push_back("last line");
    return lines;
}

// ---------------------------------------------------------------------------
// Reading what Python wrote

TEST(TextFileRead, ReadsEveryEncodingAndLineEndingThatPythonWrites) {
    TempDir dir;
    const std::vector<std::string> lines = sampleLines(700);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) joined += (i ? "\n" : "") + lines[i];
    ASSERT_TRUE(qortest::writeFile(dir.file("lines"), joined));
    const std::string out = qortest::runPython(R"(
import sys, os
lines = open(sys.argv[1], 'rb').read().decode('utf-8').split('\n')
encs = {'u8': lambda t: t.encode('utf-8'),
        'u8bom': lambda t: t.encode('utf-8-sig'),
        'le': lambda t: t.encode('utf-16-le'),
        'lebom': lambda t: b'\xff\xfe' + t.encode('utf-16-le'),
        'be': lambda t: t.encode('utf-16-be'),
        'bebom': lambda t: b'\xfe\xff' + t.encode('utf-16-be')}
ends = {'crlf': '\r\n', 'lf': '\n', 'cr': '\r', 'nul': '\0'}
for e, enc in encs.items():
    for n, end in ends.items():
        body = end.join(lines)
        open(os.path.join(sys.argv[2], e + '-' + n + '-final'), 'wb').write(enc(body + end))
        open(os.path.join(sys.argv[2], e + '-' + n + '-open'), 'wb').write(enc(body))
print('ok', end='')
)", "'" + dir.file("lines") + "' '" + dir.path() + "'");
    ASSERT_EQ(out, "ok");

    struct Case {
        const char* name;
        cTextFileIO::eTextContentType open, detected;
    };
    const Case cases[] = {
        {"u8", cTextFileIO::tctAuto, cTextFileIO::tct8Bit},
        {"u8bom", cTextFileIO::tctAuto, cTextFileIO::tctUTF8},
        {"u8bom", cTextFileIO::tctUTF8, cTextFileIO::tctUTF8},
        {"le", cTextFileIO::tctUTF16LE, cTextFileIO::tctUTF16LE},
        {"lebom", cTextFileIO::tctAuto, cTextFileIO::tctUTF16LE},
        {"be", cTextFileIO::tctUTF16BE, cTextFileIO::tctUTF16BE},
        {"bebom", cTextFileIO::tctAuto, cTextFileIO::tctUTF16BE},
        {"bebom", cTextFileIO::tctUTF16BE, cTextFileIO::tctUTF16BE},
    };
    for (const Case& c : cases) {
        for (const char* end : {"crlf", "lf", "cr", "nul"}) {
            for (const char* last : {"final", "open"}) {
                const std::string path = dir.file(std::string(c.name) + "-" + end + "-" + last);
                cTextFileIO tf;
                ASSERT_TRUE(tf.open(path.c_str(), true, c.open)) << path;
                EXPECT_EQ(tf.contentType(), c.detected) << path;
                bool clean = false;
                const std::vector<std::string> got = readAll(tf, &clean);
                EXPECT_TRUE(clean) << path;
                ASSERT_EQ(got.size(), lines.size()) << path;
                for (std::size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(got[i], lines[i]) << path << " line " << i;
            }
        }
    }
}

TEST(TextFileRead, EdgeCasesOfShortTexts) {
    using L = std::vector<std::string>;
    const auto a = cTextFileIO::tctAuto;
    const struct {
        std::string bytes;
        cTextFileIO::eTextContentType type;
        L lines;
    } cases[] = {
        {"", a, {}},
        {"abc", a, {"abc"}},
        {"abc\n", a, {"abc"}},
        {"a\r\nb\nc\rd", a, {"a", "b", "c", "d"}},
        {std::string("a\0b", 3), a, {"a", "b"}},
        {"a\n\nb\r\n\r\n\r\rc", a, {"a", "", "b", "", "", "", "c"}},
        {"a\n\rb", a, {"a", "", "b"}},  // CR LF is one end; LF CR is two
        // The mark is only taken as one when asked to.
        {"\xef\xbb\xbfx\ny", a, {"x", "y"}},
        {"\xef\xbb\xbfx\ny", cTextFileIO::tct8Bit, {"\xef\xbb\xbfx", "y"}},
        {"x\ny", cTextFileIO::tctUTF8, {"x", "y"}},  // an explicit type needs no mark
        {"\xef\xbb", a, {"\xef\xbb"}},
        // A lone last byte of a wide text ends it.
        {std::string("\xff\xfe" "a\0\n\0b\0c", 9), a, {"a", "b"}},
        {std::string("\xfe\xff\0a\0\n\0", 7), a, {"a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        bool clean = false;
        EXPECT_EQ(readLent(c.bytes, c.type, 64, &clean), c.lines);
        EXPECT_TRUE(clean);
    }
}

TEST(TextFileRead, ShortReadsOfALentStreamGiveTheSameLines) {
    const std::vector<std::string> lines = sampleLines(300);
    std::string bytes = "\xef\xbb\xbf";
    for (const std::string& l : lines) bytes += l + "\r\n";
    for (unsigned chunk : {1u, 7u, 4095u, 4097u}) {
        bool clean = false;
        EXPECT_EQ(readLent(bytes, cTextFileIO::tctAuto, chunk, &clean), lines) << chunk;
        EXPECT_TRUE(clean);
    }
}

TEST(TextFileRead, LentStreamIsReadFromItsStartAndNeverClosed) {
    SteppedStream s(std::string("\xff\xfe" "a\0\n\0b\0", 8), 3);
    ASSERT_TRUE(s.set_fp(4));  // wherever the caller left it
    {
        cTextFileIO tf;
        ASSERT_TRUE(tf.open(&s, cTextFileIO::tctAuto));
        EXPECT_EQ(tf.contentType(), cTextFileIO::tctUTF16LE);
        EXPECT_EQ(tf.markLength(), 2u);
        EXPECT_EQ(readAll(tf), (std::vector<std::string>{"a", "b"}));
        tf.close();
        _typebuf<char> line;
        EXPECT_FALSE(tf.gets(line));
        EXPECT_EQ(tf.lastError(), cTextFileIO::teNotOpen);
    }
    EXPECT_EQ(s.closes, 0);
}

TEST(TextFileRead, LinesUpToTheLimitAndNoLonger) {
    for (auto type : {cTextFileIO::tct8Bit, cTextFileIO::tctUTF16LE, cTextFileIO::tctUTF16BE}) {
        auto encode = [type](const std::string& ascii) { return encodeAscii(ascii, type); };
        const std::string fits(4096, 'x'), over(4097, 'y');
        bool clean = false;
        EXPECT_EQ(readLent(encode(fits + "\n" + "z\n"), type, 100000, &clean), (std::vector<std::string>{fits, "z"}));
        EXPECT_TRUE(clean);
        // Not the end of the text: an error the caller can tell apart.
        std::vector<std::string> got = readLent(encode("a\n" + over + "\nz\n"), type, 100000, &clean);
        EXPECT_EQ(got, (std::vector<std::string>{"a"}));
        EXPECT_FALSE(clean);

        SteppedStream s(encode(over + "\nz\n"));
        cTextFileIO tf;
        ASSERT_TRUE(tf.open(&s, type));
        _typebuf<char> line;
        EXPECT_FALSE(tf.gets(line));
        EXPECT_EQ(tf.lastError(), cTextFileIO::teLineTooLong);
        // It stays so: the line's tail is never handed out as a line.
        EXPECT_FALSE(tf.gets(line));
        EXPECT_EQ(tf.lastError(), cTextFileIO::teLineTooLong);
        tf.setMaxStrLen(5000);
        ASSERT_TRUE(tf.goStart());
        EXPECT_EQ(readAll(tf, &clean), (std::vector<std::string>{over, "z"}));
        EXPECT_TRUE(clean);
    }
}

TEST(TextFileRead, SurrogatePairsCountAsTwoUnitsOfALine) {
    TempDir dir;
    // 4094 units and one pair: 4096 units, the limit; one more unit is over.
    const std::string fits = std::string(4094, 'a') + "\xf0\x9f\x98\x80";
    const std::string over = std::string(4095, 'a') + "\xf0\x9f\x98\x80";
    ASSERT_TRUE(qortest::writeFile(dir.file("lines"), fits + "\n" + over));
    ASSERT_EQ(qortest::runPython(R"(
import sys
a, b = open(sys.argv[1], 'rb').read().decode('utf-8').split('\n')
open(sys.argv[2], 'wb').write(('\r\n'.join([a, a, b, a])).encode('utf-16'))
print('ok', end='')
)", "'" + dir.file("lines") + "' '" + dir.file("wide") + "'"), "ok");
    bool clean = true;
    EXPECT_EQ(readFile(dir.file("wide"), cTextFileIO::tctAuto, &clean), (std::vector<std::string>{fits, fits}));
    EXPECT_FALSE(clean);
}

TEST(TextFileRead, CrLfSplitAcrossBlocksIsOneLineEnd) {
    for (auto type : {cTextFileIO::tct8Bit, cTextFileIO::tctUTF16LE, cTextFileIO::tctUTF16BE}) {
        // CR LF pairs at every even, then at every odd offset: whatever the
        // size of a block, one of them has its CR as the block's last unit.
        constexpr int kPairs = 70000;
        std::string even, odd = "x";
        for (int i = 0; i < kPairs; ++i) {
            even += "\r\n";
            odd += "\r\n";
        }
        std::vector<std::string> evenLines(kPairs), oddLines(kPairs);
        oddLines[0] = "x";
        bool clean = false;
        EXPECT_EQ(readLent(encodeAscii(even, type), type, 0xFFFFFFFFu, &clean), evenLines) << type;
        EXPECT_TRUE(clean);
        EXPECT_EQ(readLent(encodeAscii(odd, type), type, 0xFFFFFFFFu, &clean), oddLines) << type;
        EXPECT_TRUE(clean);
        // A CR as the text's very last unit.
        EXPECT_EQ(readLent(encodeAscii("a\rb\r", type), type, 3), (std::vector<std::string>{"a", "b"}));

        // With the limit at 70000 units a block holds 70000 units.  A line
        // that starts at the first block's last unit fills the second and
        // has its CR there, its LF in the third.
        constexpr long long kBlock = 70000;
        const std::string straddle = std::string(kBlock - 2, 'a') + "\n" + std::string(kBlock, 'b') + "\r\nc";
        SteppedStream s(encodeAscii(straddle, type));
        cTextFileIO tf;
        ASSERT_TRUE(tf.open(&s, type));
        tf.setMaxStrLen(kBlock);
        EXPECT_EQ(readAll(tf, &clean),
                  (std::vector<std::string>{std::string(kBlock - 2, 'a'), std::string(kBlock, 'b'), "c"}))
            << type;
        EXPECT_TRUE(clean);
    }
}

TEST(TextFileRead, ALineEndedByANulIsToldApartWhereverTheNulFalls) {
    // With the limit at 70000 units a block holds 70000 units: lines of 6
    // units up to just before the first block's end, then one that crosses
    // it.  A NUL goes at the start, inside a line, in place of a line end,
    // as a block's last unit, as the next block's first, and near the end.
    constexpr long long kBlock = 70000;
    std::string base;
    for (int i = 0; i < 11666; ++i) base += "abcde\n";
    base += std::string(60, 'L') + "\nxyz\n";
    for (auto type : {cTextFileIO::tct8Bit, cTextFileIO::tctUTF16LE, cTextFileIO::tctUTF16BE}) {
        for (std::size_t at : {std::size_t(0), std::size_t(3), std::size_t(5), std::size_t(kBlock - 5),
                               std::size_t(kBlock - 1), std::size_t(kBlock), std::size_t(kBlock + 1),
                               base.size() - 2}) {
            std::string ascii = base;
            ascii[at] = '\0';
            // Which line (from 0) the NUL ends: the line ends counted before it.
            long long want = 0;
            for (std::size_t i = 0; i < at; ++i) want += ascii[i] == '\n';
            SteppedStream s(encodeAscii(ascii, type));
            cTextFileIO tf;
            ASSERT_TRUE(tf.open(&s, type));
            tf.setMaxStrLen(kBlock);
            _typebuf<char> line;
            long long n = 0, endedAtNul = -1, nulCount = 0;
            while (tf.gets(line)) {
                if (tf.lineEndedAtNul()) {
                    endedAtNul = n;
                    ++nulCount;
                }
                ++n;
            }
            EXPECT_EQ(endedAtNul, want) << type << ", NUL at " << at;
            EXPECT_EQ(nulCount, 1) << type << ", NUL at " << at;
        }
    }
}

TEST(TextFileRead, FailedReadsAndOpensAreReportedAndNotTakenForTheEnd) {
    std::string bytes;
    for (int i = 0; i < 30000; ++i) bytes += "line " + std::to_string(i) + "\n";
    SteppedStream s(bytes);
    s.failAfter = 100000;
    cTextFileIO tf;
    ASSERT_TRUE(tf.open(&s, cTextFileIO::tctAuto));
    bool clean = true;
    const std::vector<std::string> got = readAll(tf, &clean);
    EXPECT_FALSE(clean);
    EXPECT_EQ(tf.lastError(), cTextFileIO::teReadFailed);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "line 0");
    EXPECT_LT(got.size(), 30000u);

    SteppedStream failing("abc");
    failing.failAfter = 0;
    EXPECT_FALSE(tf.open(&failing, cTextFileIO::tctAuto));
    EXPECT_EQ(tf.lastError(), cTextFileIO::teReadFailed);

    cTextFileIO closed;
    _typebuf<char> line;
    EXPECT_FALSE(closed.gets(line));
    EXPECT_EQ(closed.lastError(), cTextFileIO::teNotOpen);
    EXPECT_FALSE(closed.open(static_cast<cFileIOTarget*>(nullptr), cTextFileIO::tctAuto));
    EXPECT_FALSE(closed.open(&s, static_cast<cTextFileIO::eTextContentType>(5)));
    EXPECT_EQ(closed.lastError(), cTextFileIO::teBadType);
    EXPECT_FALSE(closed.open("/nonexistent/qor/text", true, cTextFileIO::tctAuto));
    EXPECT_EQ(closed.lastError(), cTextFileIO::teOpenFailed);
    EXPECT_FALSE(closed.goStart());
    EXPECT_FALSE(closed.putStr("x"));
}

TEST(TextFileRead, AStreamClaimingMoreThanItWasAskedForIsAFailedRead) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += "line " + std::to_string(i) + "\n";
    SteppedStream s(bytes);
    cTextFileIO tf;
    ASSERT_TRUE(tf.open(&s, cTextFileIO::tct8Bit));
    // Far more than the block it is read into.
    s.overclaim = 1u << 20;
    _typebuf<char> line;
    EXPECT_FALSE(tf.gets(line));
    EXPECT_EQ(tf.lastError(), cTextFileIO::teReadFailed);

    // The mark is read through the same check.
    SteppedStream marked("\xef\xbb\xbf" "abc\n");
    marked.overclaim = 1;
    EXPECT_FALSE(tf.open(&marked, cTextFileIO::tctAuto));
    EXPECT_EQ(tf.lastError(), cTextFileIO::teReadFailed);
}

// ---------------------------------------------------------------------------
// Writing, read back by Python

TEST(TextFileWrite, PythonDecodesWhatWeWriteInEachEncoding) {
    TempDir dir;
    const std::vector<std::string> lines = sampleLines(200);
    std::string expected;
    for (const std::string& l : lines) expected += l + "\r\n";
    // Python's utf-16 codec insists on a mark and takes the byte order from it.
    const struct {
        cTextFileIO::eTextContentType type;
        const char *codec, *mark;
    } cases[] = {{cTextFileIO::tct8Bit, "utf-8", ""},         {cTextFileIO::tctAuto, "utf-8-sig", "efbbbf"},
                 {cTextFileIO::tctUTF8, "utf-8-sig", "efbbbf"}, {cTextFileIO::tctUTF16LE, "utf-16", "fffe"},
                 {cTextFileIO::tctUTF16BE, "utf-16", "feff"}};
    for (const auto& c : cases) {
        const std::string path = dir.file("out" + std::to_string(c.type));
        {
            cTextFileIO tf;
            ASSERT_TRUE(tf.create(path.c_str(), c.type));
            for (const std::string& l : lines) ASSERT_TRUE(tf.putStr(l.c_str()) && tf.put_eol());
        }
        const std::string start = qortest::runPython(R"(
import sys
raw = open(sys.argv[1], 'rb').read()
open(sys.argv[3], 'wb').write(raw.decode(sys.argv[2]).encode('utf-8'))
print(raw[:3].hex(), end='')
)", "'" + path + "' " + c.codec + " '" + path + ".u8'");
        EXPECT_EQ(start.compare(0, std::strlen(c.mark), c.mark), 0) << start;
        EXPECT_EQ(qortest::readFile(path + ".u8"), expected) << c.codec;
        EXPECT_EQ(readFile(path, cTextFileIO::tctAuto), lines);
    }
}

TEST(TextFileWrite, CreateWithABadTypeLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.file("precious");
    ASSERT_TRUE(qortest::writeFile(path, "keep me\n"));
    cTextFileIO tf;
    EXPECT_FALSE(tf.create(path.c_str(), static_cast<cTextFileIO::eTextContentType>(5)));
    EXPECT_EQ(tf.lastError(), cTextFileIO::teBadType);
    EXPECT_FALSE(tf.create(path.c_str(), static_cast<cTextFileIO::eTextContentType>(-1)));
    EXPECT_EQ(qortest::readFile(path), "keep me\n");
    EXPECT_FALSE(tf.create(dir.file("no/such/folder").c_str(), cTextFileIO::tctUTF8));
    EXPECT_EQ(tf.lastError(), cTextFileIO::teOpenFailed);
}

TEST(TextFileWrite, PutFmtWritesItsWholeResult) {
    TempDir dir;
    const std::string path = dir.file("fmt");
    const std::string big(20000, 'w');
    cTextFileIO tf;
    ASSERT_TRUE(tf.create(path.c_str(), cTextFileIO::tct8Bit));
    ASSERT_TRUE(tf.put_fmt("%d:%s:%05.1f|", 42, big.c_str(), 2.5));
    ASSERT_TRUE(tf.put_fmt("%s", "short"));
    tf.close();
    EXPECT_EQ(qortest::readFile(path), "42:" + big + ":002.5|short");

    ASSERT_TRUE(tf.create(path.c_str(), cTextFileIO::tctUTF16LE));
    ASSERT_TRUE(tf.put_fmt("%s\xc3\xa9", std::string(16383, 'v').c_str()));
    tf.close();
    const std::string bytes = qortest::readFile(path);
    ASSERT_EQ(bytes.size(), 2u + 2u * 16384u);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("v\0\xe9\0", 4));
}

TEST(TextFileWrite, AppendAfterGoEofAndOverwriteAtTheReadPosition) {
    TempDir dir;
    const std::string path = dir.file("t");
    ASSERT_TRUE(qortest::writeFile(path, "\xff\xfe" + std::string("o\0n\0e\0\r\0\n\0", 10)));
    cTextFileIO tf;
    ASSERT_TRUE(tf.open(path.c_str(), false, cTextFileIO::tctAuto));
    ASSERT_TRUE(tf.goEof());
    ASSERT_TRUE(tf.putStr("two"));
    ASSERT_TRUE(tf.put_eol());
    ASSERT_TRUE(tf.goStart());
    EXPECT_EQ(readAll(tf), (std::vector<std::string>{"one", "two"}));

    // A write after reading lands where the reading stopped, not past the
    // block the reader cached.
    ASSERT_TRUE(tf.goStart());
    _typebuf<char> line;
    ASSERT_TRUE(tf.gets(line));
    ASSERT_TRUE(tf.putStr("TW"));
    ASSERT_TRUE(tf.goStart());
    EXPECT_EQ(readAll(tf), (std::vector<std::string>{"one", "TWo"}));
    tf.close();
    EXPECT_EQ(qortest::runPython("import sys\nprint(repr(open(sys.argv[1], 'rb').read().decode('utf-16')), end='')",
                     "'" + path + "'"),
              "'one\\r\\nTWo\\r\\n'");
}

TEST(TextFileHelpers, StrHereFindsTheFirstLineEndInEitherUnitSize) {
    cTextFileIO tf;
    EXPECT_EQ(tf.strHere("ab\r\ncd", 6), 2);
    EXPECT_EQ(tf.strHere("abcd", 0), 0);
    const unsigned short wide[] = {'x', 'y', 0x0A, 'z'};
    EXPECT_EQ(tf.strHere(wide, 4), 2);
    EXPECT_EQ(tf.strHere(static_cast<const unsigned short*>(nullptr), 4), 0);
}

}  // namespace
