#include "base/strutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

// UTF-16 text built by the compiler from a u"" literal: an oracle that owes
// nothing to our converters.  Kept as unsigned short units with a terminator.
struct W {
    std::vector<unsigned short> units;
    W(const char16_t* s) {  // NOLINT: implicit on purpose
        for (; *s; ++s) units.push_back(static_cast<unsigned short>(*s));
        units.push_back(0);
    }
    const unsigned short* p() const { return units.data(); }
    unsigned short* p() { return units.data(); }
    long long size() const { return static_cast<long long>(units.size()) - 1; }
};

std::vector<unsigned short> terminated(const unsigned short* s) {
    std::vector<unsigned short> v;
    for (; *s; ++s) v.push_back(*s);
    v.push_back(0);
    return v;
}

::testing::AssertionResult SameUnits(const unsigned short* got, const W& want) {
    if (!got) return ::testing::AssertionFailure() << "null";
    std::vector<unsigned short> g = terminated(got);
    if (g == want.units) return ::testing::AssertionSuccess();
    std::ostringstream o;
    o << "got";
    for (unsigned short u : g) o << ' ' << std::hex << u;
    o << ", want";
    for (unsigned short u : want.units) o << ' ' << std::hex << u;
    return ::testing::AssertionFailure() << o.str();
}

// ---------------------------------------------------------------------------
// Case tables

TEST(CaseTables, PairsAreSortedTerminatedAndExactInverses) {
    std::map<unsigned short, unsigned short> lower, upperBackwards;
    for (int i = 0; i < kCaseMapPairs + 3; ++i) {
        const unsigned short* lo = __acp_lowermap[i];
        const unsigned short* up = __acp_uppermap[i];
        if (i >= kCaseMapPairs) {
            EXPECT_EQ(lo[0] | lo[1] | up[0] | up[1], 0) << i;  // the terminating pairs
            continue;
        }
        if (i > 0) {
            EXPECT_LT(__acp_lowermap[i - 1][0], lo[0]) << i;
            EXPECT_LT(__acp_uppermap[i - 1][0], up[0]) << i;
        }
        lower[lo[0]] = lo[1];
        upperBackwards[up[1]] = up[0];
    }
    EXPECT_EQ(lower.size(), static_cast<size_t>(kCaseMapPairs));
    EXPECT_EQ(lower, upperBackwards);
}

// Python's unicodedata is the oracle: every mapping we make must be Python's
// (for the upper case of the Greek letters with ypogegrammeni, whose full
// upper case is two characters, the single-character title case stands in
// for the simple mapping), and every one-to-one pair between characters that
// Unicode 3.2 already had must be there.
TEST(CaseTables, MappingsAgreeWithPythonAcrossTheWholePlane) {
    qortest::TempDir dir;
    const std::string script = dir.file("oracle.py");
    std::ofstream(script) << R"PY(
import unicodedata
old = unicodedata.ucd_3_2_0
for u in range(0x10000):
    if 0xD800 <= u < 0xE000:
        continue
    ch = chr(u)
    lo = ch.lower()
    up = ch.upper()
    if len(up) != 1:
        up = ch.title()
    lo = lo if len(lo) == 1 else ch
    up = up if len(up) == 1 else ch
    if lo != ch or up != ch:
        print("%04X %04X %04X %d" % (u, ord(lo), ord(up), old.category(ch) != "Cn"))
)PY";
    int status = -1;
    const std::string out = qortest::runCommand(qortest::python3() + " '" + script + "'", &status);
    ASSERT_EQ(status, 0);
    struct Row {
        unsigned short lower, upper;
        bool in32;
    };
    std::map<unsigned, Row> py;
    std::istringstream in(out);
    unsigned u, lo, up, old;
    while (in >> std::hex >> u >> lo >> up >> old) py[u] = {static_cast<unsigned short>(lo), static_cast<unsigned short>(up), old != 0};
    ASSERT_GT(py.size(), 2000u);

    int lowered = 0, raised = 0, oldPairs = 0;
    for (unsigned c = 0; c < 0x10000; ++c) {
        const auto unit = static_cast<unsigned short>(c);
        const unsigned short l = __acp_lower(unit);
        const unsigned short h = __acp_upper(unit);
        const auto it = py.find(c);
        if (l != unit) {
            ++lowered;
            ASSERT_TRUE(it != py.end()) << std::hex << c;
            EXPECT_EQ(l, it->second.lower) << std::hex << c;
            EXPECT_EQ(__acp_upper(l), unit) << std::hex << c;
        }
        if (h != unit) {
            ++raised;
            ASSERT_TRUE(it != py.end()) << std::hex << c;
            EXPECT_EQ(h, it->second.upper) << std::hex << c;
            EXPECT_EQ(__acp_lower(h), unit) << std::hex << c;
        }
        if (it != py.end() && it->second.lower != unit && it->second.in32) {
            const auto small = py.find(it->second.lower);
            if (small != py.end() && small->second.in32 && small->second.upper == unit) {
                ++oldPairs;
                EXPECT_EQ(l, it->second.lower) << "missing pair " << std::hex << c;
            }
        }
    }
    EXPECT_EQ(lowered, 973);
    EXPECT_EQ(raised, 973);
    EXPECT_GT(oldPairs, 600);
}

TEST(CaseTables, HoldTheScriptsOfUnicode51AndNothingNewer) {
    const std::pair<unsigned short, unsigned short> in[] = {
        {0x0041, 0x0061}, {0x00C3, 0x00E3}, {0x0391, 0x03B1}, {0x0410, 0x0430}, {0x0531, 0x0561},
        {0x10A0, 0x2D00}, {0x2C00, 0x2C30}, {0x2C80, 0x2C81}, {0x24B6, 0x24D0}, {0x2160, 0x2170},
        {0xFF21, 0xFF41}, {0x01C4, 0x01C6}, {0x1F88, 0x1F80}, {0xA640, 0xA641}, {0x2C6F, 0x0250},
        {0xA77D, 0x1D79}, {0x0522, 0x0523}, {0x2183, 0x2184},
    };
    for (const auto& [capital, small] : in) {
        EXPECT_EQ(__acp_lower(capital), small) << std::hex << capital;
        EXPECT_EQ(__acp_upper(small), capital) << std::hex << small;
    }
    // Titlecase digraphs and capitals whose small letter belongs to another
    // capital, then pairs formed after 5.1 (Georgian Mtavruli, Cherokee small
    // letters, U+A78D, U+2C2F, U+A660, U+0524, U+2CEB).
    const unsigned short out[] = {0x01C5, 0x01C8, 0x01CB, 0x01F2, 0x0130, 0x03F4, 0x1E9E, 0x2126, 0x212A,
                                  0x212B, 0x1C90, 0x13A0, 0xA78D, 0x2C2F, 0xA660, 0x0524, 0x2CEB};
    for (unsigned short c : out) EXPECT_EQ(__acp_lower(c), c) << std::hex << c;
    const unsigned short outSmall[] = {0x10D0, 0xAB70, 0x0265, 0x2C5F, 0xA661, 0x0525, 0x2CEC, 0x00DF};
    for (unsigned short c : outSmall) EXPECT_EQ(__acp_upper(c), c) << std::hex << c;
    EXPECT_EQ(__acp_upper(static_cast<unsigned short>('i')), 'I');  // not U+0130
    EXPECT_EQ(__acp_upper(static_cast<unsigned short>(0x03C9)), 0x03A9);  // not U+2126
}

TEST(CaseMapping, EightBitMappingChangesOnlyAsciiLetters) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const char lower = (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : c;
        const char upper = (b >= 'a' && b <= 'z') ? static_cast<char>(b - 32) : c;
        EXPECT_EQ(__acp_lower(c), lower) << b;
        EXPECT_EQ(__acp_upper(c), upper) << b;
    }
}

TEST(CaseMapping, OnlyTabLineFeedReturnAndSpaceAreBlank) {
    for (int b = 0; b < 256; ++b) {
        const bool blank = b == 9 || b == 10 || b == 13 || b == 32;
        EXPECT_EQ(__acp_isspace(static_cast<char>(b)), blank) << b;
        EXPECT_EQ(__acp_isspace(static_cast<unsigned short>(b)), blank) << b;
    }
    EXPECT_FALSE(__acp_isspace(static_cast<unsigned short>(0x3000)));  // ideographic space
    EXPECT_FALSE(__acp_isspace(static_cast<unsigned short>(0x0120)));  // 0x20 in the low byte only
}

TEST(CaseFolding, LowerCasesUtf8ThroughUtf16AndKeepsOtherPlanes) {
    _guardchar<char> src(u8"ÀÉÎ ΣΑΣ ЖЁ ABC xyz 😀 İ ẞ");
    _guardchar<char> dst("old");
    EXPECT_TRUE(__acp_lower(src, dst));
    EXPECT_STREQ(dst.c_str(), u8"àéî σασ жё abc xyz 😀 İ ẞ");
    _guardchar<char> again;
    EXPECT_TRUE(__acp_lower_a(src, again));
    EXPECT_STREQ(again.c_str(), dst.c_str());
    EXPECT_TRUE(__acp_lower(src, src));  // in place
    EXPECT_STREQ(src.c_str(), dst.c_str());
    // No text leaves the destination alone.
    _guardchar<char> empty, blank("");
    EXPECT_TRUE(__acp_lower(empty, dst));
    EXPECT_TRUE(__acp_lower(blank, dst));
    EXPECT_STREQ(dst.c_str(), u8"àéî σασ жё abc xyz 😀 İ ẞ");
}

TEST(CaseFolding, SixteenBitCopyMapsEveryUnit) {
    W text(u"ÀΩЖ Glagolitic Ⰰ ⒶⅠＡ 😀");
    _guardchar<unsigned short> src(text.p());
    _guardchar<unsigned short> dst;
    EXPECT_TRUE(__acp_lower_w(src, dst));
    EXPECT_TRUE(SameUnits(dst.get(), u"àωж glagolitic ⰰ ⓐⅰａ 😀"));
    EXPECT_TRUE(__acp_lower_w(src, src));
    EXPECT_TRUE(SameUnits(src.get(), u"àωж glagolitic ⰰ ⓐⅰａ 😀"));
    _guardchar<unsigned short> none;
    EXPECT_TRUE(__acp_lower_w(none, dst));
    EXPECT_EQ(dst.get(), nullptr);
}

// ---------------------------------------------------------------------------
// Formatting

TEST(BoundedSprintf, CutsLongResultsAndReportsTheWholeLength) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(_sprintf_s(buf, 6, "%s-%d", "hello", 2024), 10);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(buf[6], 'x');  // nothing past size
    EXPECT_EQ(_sprintf_s(buf, 8, "%02d.%02d", 3, 7), 5);
    EXPECT_STREQ(buf, "03.07");
    EXPECT_EQ(_sprintf_s(nullptr, 0, "%d", 12345), 5);
    buf[0] = 'q';
    EXPECT_EQ(_sprintf_s(buf, 0, "%d", 12345), 5);
    EXPECT_EQ(buf[0], 'q');
}

// The C library's 8-bit result is the oracle for the 16-bit formatter.
TEST(WideSprintf, MatchesTheCLibraryOnAsciiResults) {
    unsigned short out[128];
    char want[128];
    auto check = [&](const char* fmt, int got, int expect) {
        EXPECT_EQ(got, expect) << fmt;
        std::vector<unsigned short> wide(want, want + std::strlen(want));
        wide.push_back(0);
        EXPECT_EQ(terminated(out), wide) << fmt << " -> " << want;
    };
#define SAME_AS_SNPRINTF(fmt, ...) \
    check(fmt, _swprintf_s(out, 128, W(u"" fmt).p(), __VA_ARGS__), std::snprintf(want, sizeof want, fmt, __VA_ARGS__))
    SAME_AS_SNPRINTF("%d|%5d|%-5d|%05d", -42, 42, 42, 42);
    SAME_AS_SNPRINTF("%x %X %#o", 0xBEEFu, 0xBEEFu, 8u);
    SAME_AS_SNPRINTF("%.3f %e %g", 3.14159, 12345.678, 0.0001);
    SAME_AS_SNPRINTF("[%s] [%10s] [%-6s]", "abc", "right", "left");
    SAME_AS_SNPRINTF("%lld %llu %%", -9000000000LL, 18000000000ULL);
#undef SAME_AS_SNPRINTF
}

TEST(WideSprintf, FormatsUtf8ArgumentsAndWideFormatText) {
    unsigned short out[64];
    W fmt(u"Größe: %s – %d €");
    const char* arg = u8"日本 😀";
    const int n = _swprintf_s(out, 64, fmt.p(), arg, 5);
    EXPECT_EQ(n, static_cast<int>(std::strlen(u8"Größe: 日本 😀 – 5 €")));
    EXPECT_TRUE(SameUnits(out, u"Größe: 日本 😀 – 5 €"));
}

TEST(WideSprintf, CutResultIsAlwaysTerminated) {
    unsigned short out[8];
    for (unsigned short& u : out) u = 0xAAAA;
    W fmt(u"%s");
    EXPECT_EQ(_swprintf_s(out, 4, fmt.p(), "abcdef"), 6);
    EXPECT_TRUE(SameUnits(out, u"abc"));
    EXPECT_EQ(out[4], 0xAAAA);
    for (unsigned short& u : out) u = 0xAAAA;
    EXPECT_EQ(_swprintf_s(out, 1, fmt.p(), "abcdef"), 6);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0xAAAA);
}

TEST(WideSprintf, NeverCutsASurrogatePairOrAUtf8Sequence) {
    unsigned short out[8];
    W fmt(u"%s");
    // "ab" and the pair would need 4 units and the terminator a fifth.
    EXPECT_EQ(_swprintf_s(out, 4, fmt.p(), u8"ab😀"), 6);
    EXPECT_TRUE(SameUnits(out, u"ab"));
    // size 3: the temporary of 10 bytes cuts the third emoji after one byte.
    EXPECT_EQ(_swprintf_s(out, 3, fmt.p(), u8"😀😀😀"), 12);
    EXPECT_TRUE(SameUnits(out, u"😀"));
    // size 2: the temporary of 7 bytes holds one emoji; dst holds one unit.
    EXPECT_EQ(_swprintf_s(out, 2, fmt.p(), u8"€€€"), 9);
    EXPECT_TRUE(SameUnits(out, u"€"));
}

TEST(WideSprintf, LongResultsGoThroughTheHeap) {
    std::vector<unsigned short> out(2000);
    W fmt(u"%s%d");
    const std::string arg(1500, 'z');
    EXPECT_EQ(_swprintf_s(out.data(), 2000, fmt.p(), arg.c_str(), 7), 1501);
    EXPECT_EQ(_wcslen(out.data()), 1501);
    EXPECT_EQ(out[1499], 'z');
    EXPECT_EQ(out[1500], '7');
    EXPECT_EQ(_swprintf_s(out.data(), 600, fmt.p(), arg.c_str(), 7), 1501);
    EXPECT_EQ(_wcslen(out.data()), 599);
}

TEST(WideSprintf, RejectsNullArgumentsWithoutWriting) {
    unsigned short out[4] = {7, 7, 7, 7};
    W fmt(u"x");
    EXPECT_EQ(_swprintf_s(nullptr, 4, fmt.p()), 0);
    EXPECT_EQ(_swprintf_s(out, 4, nullptr), 0);
    EXPECT_EQ(_swprintf_s(out, 0, fmt.p()), 0);
    EXPECT_EQ(out[0], 7);
}

// ---------------------------------------------------------------------------
// Scanning

TEST(BoundedSscanf, ReturnsTheCLibrarysResult) {
    int a = 0;
    unsigned b = 0;
    char word[16] = {};
    EXPECT_EQ(_sscanf_s("12 ff word", "%d %x %15s", &a, &b, word), 3);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 0xFFu);
    EXPECT_STREQ(word, "word");
    EXPECT_EQ(_sscanf_s("", "%d", &a), EOF);
    EXPECT_EQ(_sscanf_s(nullptr, "%d", &a), EOF);
}

TEST(WideSscanf, ScansUtf16TextLikeItsUtf8Form) {
    W text(u"  -17 0x1f Grüße 😀 2.5");
    W fmt(u"%d %i %31s %31s %lf");
    int a = 0, b = 0, ea = 0, eb = 0;
    double d = 0, ed = 0;
    char s1[32] = {}, s2[32] = {}, e1[32] = {}, e2[32] = {};
    EXPECT_EQ(_swscanf_s(text.p(), fmt.p(), &a, &b, s1, s2, &d), 5);
    EXPECT_EQ(std::sscanf(u8"  -17 0x1f Grüße 😀 2.5", "%d %i %31s %31s %lf", &ea, &eb, e1, e2, &ed), 5);
    EXPECT_EQ(a, ea);
    EXPECT_EQ(b, eb);
    EXPECT_STREQ(s1, e1);
    EXPECT_STREQ(s2, e2);
    EXPECT_EQ(d, ed);
    EXPECT_STREQ(s1, u8"Grüße");
    // Null or empty text scans an empty string.
    W num(u"%d"), empty(u"");
    int v = 3;
    EXPECT_EQ(_swscanf_s(static_cast<const unsigned short*>(nullptr), num.p(), &v), EOF);
    EXPECT_EQ(_swscanf_s(empty.p(), num.p(), &v), EOF);
    EXPECT_EQ(v, 3);
}

// ---------------------------------------------------------------------------
// Copying

TEST(BoundedCopy, SourceAsLongAsTheBufferKeepsSizeMinusOne) {
    auto buf = std::make_unique<unsigned short[]>(4);
    W src(u"abcd");
    EXPECT_EQ(_wcscpy_s(buf.get(), 4, src.p()), 0);
    EXPECT_TRUE(SameUnits(buf.get(), u"abc"));
    auto narrow = std::make_unique<char[]>(4);
    EXPECT_EQ(_strcpy_s(narrow.get(), 4, "abcd"), 0);
    EXPECT_STREQ(narrow.get(), "abc");
    EXPECT_EQ(_strcpy_s(narrow.get(), 4, "ab"), 0);
    EXPECT_STREQ(narrow.get(), "ab");
    EXPECT_EQ(_strcpy_s(narrow.get(), 4, nullptr), 0);
    EXPECT_STREQ(narrow.get(), "ab");
}

TEST(BoundedCopy, CountedCopyTerminatesAtNOrAtTheEnd) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    _strncpy_s(buf, 8, "abcdef", 3);
    EXPECT_STREQ(buf, "abc");
    _strncpy_s(buf, 4, "abcdef", 6);
    EXPECT_STREQ(buf, "abc");
    _strncpy_s(buf, 8, "ab", 6);
    EXPECT_STREQ(buf, "ab");
    _strncpy_s(buf, 8, "abcdef", 0);
    EXPECT_STREQ(buf, "");
    _strncpy_s(buf, 4, "abcdef", -1);  // no count: the buffer is the limit
    EXPECT_STREQ(buf, "abc");
    unsigned short wide[8];
    W src(u"ЖЖЖЖЖ");
    _wcsncpy_s(wide, 8, src.p(), 2);
    EXPECT_TRUE(SameUnits(wide, u"ЖЖ"));
    _wcsncpy_s(wide, 3, src.p(), 5);
    EXPECT_TRUE(SameUnits(wide, u"ЖЖ"));
}

TEST(BoundedCopy, AppendStaysInsideTheBuffer) {
    unsigned short buf[8];
    W start(u"ab");
    _wcscpy_s(buf, 8, start.p());
    W more(u"cdefghij");
    _wcscat_s(buf, 8, more.p());
    EXPECT_TRUE(SameUnits(buf, u"abcdefg"));
    W two(u"xy");
    _wcscpy_s(buf, 8, start.p());
    _wcscat_s(buf, 8, two.p());
    EXPECT_TRUE(SameUnits(buf, u"abxy"));
    // A destination without a terminator in its size is cut, not overrun.
    auto full = std::make_unique<unsigned short[]>(4);
    for (int i = 0; i < 4; ++i) full[i] = 'q';
    _wcscat_s(full.get(), 4, two.p());
    EXPECT_TRUE(SameUnits(full.get(), u"qqq"));
}

// ---------------------------------------------------------------------------
// Searching and comparing

TEST(TextSearch, CharacterFindersHandleTheTerminator) {
    W s(u"a€b€c");
    EXPECT_EQ(_wcslen(s.p()), 5);
    EXPECT_EQ(_wcslen(nullptr), 0);
    EXPECT_EQ(_wcschr(s.p(), 0x20AC), s.p() + 1);
    EXPECT_EQ(_wcschr(s.p(), 0), nullptr);
    EXPECT_EQ(_wcschr(s.p(), 'z'), nullptr);
    EXPECT_EQ(_wcsrchr(s.p(), 0x20AC), s.p() + 3);
    EXPECT_EQ(_wcsrchr(s.p(), 0), s.p() + 5);
    EXPECT_EQ(_wcsrchr(s.p(), 'a'), s.p());
    EXPECT_EQ(_wcsrchr(s.p(), 'z'), nullptr);
    EXPECT_EQ(_wcsrchr(static_cast<const unsigned short*>(nullptr), 'a'), nullptr);
}

TEST(TextCompare, WideComparisonIsUnsigned) {
    W a(u"abc"), b(u"abd"), hi(u"\xFFFF"), lo(u"a");
    EXPECT_EQ(_wcscmp(a.p(), b.p()), -1);
    EXPECT_EQ(_wcscmp(b.p(), a.p()), 1);
    EXPECT_EQ(_wcscmp(a.p(), a.p()), 0);
    EXPECT_EQ(_wcscmp(hi.p(), lo.p()), 1);
    EXPECT_EQ(_wcscmp(nullptr, a.p()), 1);
    EXPECT_EQ(_wcscmp(a.p(), nullptr), 1);
}

TEST(TextCompare, WideCaseInsensitiveFoldsTheWholeTable) {
    W a(u"ÀΣЖⰀ-Text"), b(u"àσжⰰ-tEXT"), shorter(u"àσж");
    EXPECT_EQ(__wcsicmp(a.p(), b.p()), 0);
    EXPECT_EQ(__wcsicmp(shorter.p(), a.p()), -1);
    EXPECT_EQ(__wcsicmp(a.p(), shorter.p()), 1);
    EXPECT_EQ(__wcsicmp(nullptr, a.p()), -1);
    EXPECT_EQ(__wcsicmp(a.p(), shorter.p(), 3), 0);
    EXPECT_EQ(__wcsicmp(a.p(), shorter.p(), 4), 1);
    EXPECT_EQ(__wcsnicmp(a.p(), shorter.p(), 3), 0);
    EXPECT_EQ(__wcsnicmp(a.p(), shorter.p(), 4), 1);
    EXPECT_EQ(__wcsicmp(a.p(), b.p(), 100), 0);
    EXPECT_EQ(__wcsicmp(nullptr, b.p(), 3), -1);
    EXPECT_EQ(__wcsnicmp(a.p(), nullptr, 3), -1);
    // Comparing no units or bytes finds them equal.
    W x(u"x"), y(u"y");
    for (long long n : {0LL, -1LL, -5LL}) {
        EXPECT_EQ(__wcsnicmp(x.p(), y.p(), n), 0) << n;
        EXPECT_EQ(__wcsicmp(x.p(), y.p(), n), 0) << n;
        EXPECT_EQ(__stricmp("x", "y", n), 0) << n;
    }
    EXPECT_EQ(__wcsnicmp(x.p(), y.p(), 1), -1);
}

TEST(TextCompare, HighBytesSortSignedUncountedAndUnsignedCounted) {
    EXPECT_EQ(__stricmp("\x80", "a"), -1);
    EXPECT_EQ(__stricmp("\x80", "a", 1), 1);
    EXPECT_EQ(__stricmp("Content-Length", "content-length"), 0);
    EXPECT_EQ(__stricmp("abc", "ABD"), -1);
    EXPECT_EQ(__stricmp("abc", "ab"), 1);
    EXPECT_EQ(__stricmp("ÀB", "àb"), -1);  // only A-Z fold: C3 80 vs C3 A0
    EXPECT_EQ(__stricmp(nullptr, "a"), -1);
    EXPECT_EQ(__stricmp("abcX", "ABCy", 3), 0);
    EXPECT_EQ(__stricmp("abcX", "ABCy", 4), -1);
    EXPECT_EQ(__stricmp("ab", "abc", 10), -1);
}

TEST(TextCompare, MemoryComparisonPassesZeroBytes) {
    EXPECT_EQ(__memicmp("A\0B", "a\0b", 3), 0);
    EXPECT_EQ(__memicmp("A\0B", "a\0c", 3), -1);
    EXPECT_EQ(__memicmp("\x90", "a", 1), -1);  // signed
    EXPECT_EQ(__memicmp("x", "y", 0), 0);
    EXPECT_EQ(__memicmp(nullptr, "y", 1), 1);
}

TEST(TextSearch, SubstringFindersRespectLengthsAndFolding) {
    W hay(u"one Two THREE two"), two(u"two"), empty(u""), toolong(u"one Two THREE two!");
    EXPECT_EQ(_wcsstr(hay.p(), two.p()), hay.p() + 14);
    EXPECT_EQ(_wcsistr(hay.p(), two.p()), hay.p() + 4);
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), 16), nullptr);  // the match would end past hayLen
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), 17), hay.p() + 14);
    EXPECT_EQ(_wcsstr(hay.p(), empty.p()), hay.p());
    EXPECT_EQ(_wcsstr(hay.p(), toolong.p()), nullptr);
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), -1, 2), hay.p() + 14);  // "tw"
    EXPECT_EQ(_wcsstr(static_cast<const unsigned short*>(nullptr), two.p()), nullptr);

    W cyr(u"Привет, МИР"), mir(u"мир");
    EXPECT_EQ(_wcsistr(cyr.p(), mir.p()), cyr.p() + 8);

    const char* text = "Header: Content-TYPE";
    EXPECT_EQ(_stristr(text, "content-type"), text + 8);
    EXPECT_EQ(_stristr(text, "content-type", 19), nullptr);
    EXPECT_EQ(_stristr(u8"XÀB", u8"àb"), nullptr);  // UTF-8 letters do not fold
    EXPECT_EQ(_stristr(text, ""), text);
}

TEST(TextSearch, CaseInsensitiveSearchTriesBothCasesOfTheFirstLetter) {
    // Many near misses of one case before the match in the other.
    std::string hay(3000, 'a');
    hay += "Ab";
    EXPECT_EQ(_stristr(hay.c_str(), "ab"), hay.c_str() + 3000);
    EXPECT_EQ(_stristr(hay.c_str(), "AB"), hay.c_str() + 3000);
    EXPECT_EQ(_stristr(hay.c_str(), "aab"), hay.c_str() + 2999);
    EXPECT_EQ(_stristr(hay.c_str(), "bb"), nullptr);
    const char* mixed = "xxKEY=1 key=2";
    EXPECT_EQ(_stristr(mixed, "key="), mixed + 2);
    EXPECT_EQ(_stristr(mixed + 3, "key="), mixed + 8);
    EXPECT_EQ(_stristr(mixed, "=2"), mixed + 11);  // a first byte that does not fold
    EXPECT_EQ(_stristr(mixed, "Y=1 KEY=2"), mixed + 4);
    EXPECT_EQ(_stristr(mixed, "y=2", 12), nullptr);  // would end past hayLen
    EXPECT_EQ(_stristr(mixed, "y=2", 13), mixed + 10);
    const char withZero[] = {'a', 0, 'B', 'c'};
    EXPECT_EQ(_stristr(withZero, "bc", 4, 2), withZero + 2);  // counted: zero bytes are text
}

TEST(TextSearch, BoundedFindersStopAtTheirLimits) {
    const char* hay = "abcabc";
    EXPECT_EQ(_strnstr(hay, "bc", 3), hay + 1);
    EXPECT_EQ(_strnstr(hay, "ca", 3), nullptr);  // would start at 2, end at 4
    EXPECT_EQ(_strnstr(hay, "ca", 4), hay + 2);
    EXPECT_EQ(_strnstr(hay, "", 6), nullptr);
    EXPECT_EQ(_strnstr(hay, "abcabcx", 6), nullptr);
    EXPECT_EQ(_strnstr(static_cast<const char*>(nullptr), "a", 6), nullptr);
    const char zeroed[] = {'a', 'b', 0, 'c', 'd', 0};
    EXPECT_EQ(_strnstr(zeroed, "cd", 5), nullptr);  // the zero byte ends the search

    EXPECT_EQ(_strnchr(zeroed, 'd', 5), zeroed + 4);  // past the zero byte
    EXPECT_EQ(_strnchr(zeroed, 'd', 4), nullptr);
    EXPECT_EQ(_strnchr(zeroed, 'a', 0), nullptr);
    EXPECT_EQ(_strnchr(static_cast<const char*>(nullptr), 'a', 3), nullptr);
}

// ---------------------------------------------------------------------------
// cCompactStr

TEST(CompactStr, SixteenBitTextIsStoredAsUtf8WithItsUnitCount) {
    cCompactStr s;
    EXPECT_EQ(s.len(), 0);
    W text(u"Grüße 😀");
    EXPECT_TRUE(s.set(text.p(), -1));
    EXPECT_EQ(s.len(), 8);  // units, the emoji counting two
    EXPECT_STREQ(s.c_str(), u8"Grüße 😀");
    unsigned short out[16];
    EXPECT_EQ(s.str(out, 16), out);
    EXPECT_TRUE(SameUnits(out, u"Grüße 😀"));
    EXPECT_TRUE(s.set(text.p(), 3));
    EXPECT_EQ(s.len(), 3);
    EXPECT_STREQ(s.c_str(), u8"Grü");
}

TEST(CompactStr, EightBitTextKeepsItsByteCount) {
    cCompactStr s;
    EXPECT_TRUE(s.set(u8"Grüße", -1));
    EXPECT_EQ(s.len(), 7);
    EXPECT_TRUE(s.set("abcdef", 4));
    EXPECT_EQ(s.len(), 4);
    EXPECT_STREQ(s.c_str(), "abcd");
    cCompactStr copy(s);
    EXPECT_STREQ(copy.c_str(), "abcd");
    cCompactStr moved(std::move(copy));
    EXPECT_STREQ(moved.c_str(), "abcd");
    EXPECT_EQ(copy.c_str(), nullptr);
    s.destroy();
    EXPECT_EQ(s.len(), 0);
    EXPECT_EQ(s.c_str(), nullptr);
}

TEST(CompactStr, NullShortAndOverlongTextsLeaveItEmpty) {
    cCompactStr s;
    s.set("abc", -1);
    EXPECT_TRUE(s.set(static_cast<const char*>(nullptr), 5));
    EXPECT_EQ(s.c_str(), nullptr);
    s.set("abc", -1);
    EXPECT_TRUE(s.set("abc", 0));
    EXPECT_EQ(s.c_str(), nullptr);
    const std::string big(40000, 'a');
    EXPECT_FALSE(s.set(big.c_str(), -1));
    EXPECT_EQ(s.c_str(), nullptr);
    EXPECT_EQ(s.len(), 0);
    std::vector<unsigned short> terminatedWide(40001, 'w');
    terminatedWide.back() = 0;
    EXPECT_FALSE(s.set(terminatedWide.data(), -1));
    EXPECT_EQ(s.c_str(), nullptr);
    const std::string edge(32767, 'e');
    EXPECT_TRUE(s.set(edge.c_str(), -1));
    EXPECT_EQ(s.len(), 32767);
}

TEST(CompactStr, SettingFromItsOwnTextCopiesBeforeFreeing) {
    cCompactStr s;
    ASSERT_TRUE(s.set("hello world", -1));
    EXPECT_TRUE(s.set(s.c_str() + 6, -1));  // the source lies inside the old text
    EXPECT_STREQ(s.c_str(), "world");
    EXPECT_EQ(s.len(), 5);
    EXPECT_TRUE(s.set(s.c_str(), 3));
    EXPECT_STREQ(s.c_str(), "wor");
    EXPECT_EQ(s.len(), 3);
}

TEST(CompactStr, WideOutputIsCutAndTerminated) {
    cCompactStr s;
    W text(u"Grüße");
    s.set(text.p(), -1);
    unsigned short out[8];
    for (unsigned short& u : out) u = 0xAAAA;
    s.str(out, 3);
    EXPECT_TRUE(SameUnits(out, u"Gr"));
    EXPECT_EQ(out[3], 0xAAAA);
    s.str(out, 1);
    EXPECT_EQ(out[0], 0);
    W pair(u"a😀");
    s.set(pair.p(), -1);
    s.str(out, 3);  // the pair needs two units and the terminator a third
    EXPECT_TRUE(SameUnits(out, u"a"));
    cCompactStr empty;
    out[0] = 'x';
    empty.str(out, 8);
    EXPECT_EQ(out[0], 0);
}

TEST(CompactStr, NarrowOutputKeepsCapMinusTwoBytes) {
    cCompactStr s;
    s.set("hello", -1);
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(s.str(out, 4), out);
    EXPECT_STREQ(out, "he");
    EXPECT_EQ(out[4], 'x');
    s.str(out, 8);
    EXPECT_STREQ(out, "hello");
    s.str(out, 1);
    EXPECT_STREQ(out, "");
    out[0] = 'x';
    s.str(out, 0);
    EXPECT_EQ(out[0], 'x');
}

// ---------------------------------------------------------------------------
// Hexadecimal and GUID

TEST(HexParsing, PairsOfDigitsInEitherCase) {
    EXPECT_EQ(getHexb("ff"), 255);
    EXPECT_EQ(getHexb("0A"), 10);
    EXPECT_EQ(getHexb("a0"), 160);
    EXPECT_EQ(getHexb("g0"), -1);
    EXPECT_EQ(getHexb("0g"), -1);
    EXPECT_EQ(getHexb(static_cast<const char*>(nullptr)), -1);
    W wide(u"7e"), bad(u"\x0130" u"0");
    EXPECT_EQ(getHexb(wide.p()), 0x7E);
    EXPECT_EQ(getHexb(bad.p()), -1);
    // A lone terminator or bad first digit: the second byte is never read
    // (the exact-size heap buffers let AddressSanitizer check that).
    auto one = std::make_unique<char[]>(1);
    one[0] = 0;
    EXPECT_EQ(getHexb(one.get()), -1);
    one[0] = 'z';
    EXPECT_EQ(getHexb(one.get()), -1);
}

TEST(HexParsing, TextToBytesKeepsWhatConvertedBeforeABadPair) {
    _typebuf<unsigned char> out;
    auto bytes = [&out] { return std::vector<int>(out.data(), out.data() + out.count()); };
    ASSERT_TRUE(hexToBytes("00ff10A5", out));
    EXPECT_EQ(bytes(), (std::vector<int>{0x00, 0xFF, 0x10, 0xA5}));
    EXPECT_FALSE(hexToBytes("abc", out));
    EXPECT_FALSE(hexToBytes("", out));
    EXPECT_FALSE(hexToBytes(static_cast<const char*>(nullptr), out));
    EXPECT_FALSE(hexToBytes("12zz34", out));
    ASSERT_EQ(out.count(), 3);  // sized for the whole text, filled up to the bad pair
    EXPECT_EQ(out[0], 0x12);
    W wide(u"c0ffee");
    ASSERT_TRUE(hexToBytes(wide.p(), out));
    EXPECT_EQ(bytes(), (std::vector<int>{0xC0, 0xFF, 0xEE}));
}

TEST(GuidParsing, BytesKeepTextOrder) {
    const char* text = "00112233-4455-6677-8899-AABBCCDDEEFF}trailing";
    unsigned char out[16] = {};
    ASSERT_EQ(parseGUID(reinterpret_cast<const unsigned char*>(text), out), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], i * 0x11) << i;
}

TEST(GuidParsing, RejectsShortTextWithoutReadingPastIt) {
    unsigned char out[16] = {};
    const std::string shortText = "00112233-4455";
    auto heap = std::make_unique<unsigned char[]>(shortText.size() + 1);
    std::memcpy(heap.get(), shortText.c_str(), shortText.size() + 1);
    EXPECT_EQ(parseGUID(heap.get(), out), 0);
    EXPECT_EQ(parseGUID(nullptr, out), 0);
    const char* misplaced = "0011223-34455-6677-8899-AABBCCDDEEFF";
    EXPECT_EQ(parseGUID(reinterpret_cast<const unsigned char*>(misplaced), out), 0);
    const char* badDigit = "00112233-4455-66x7-8899-AABBCCDDEEFF";
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(parseGUID(reinterpret_cast<const unsigned char*>(badDigit), out), 0);
    EXPECT_EQ(out[6], 0x66);  // bytes before the bad digit are kept
    EXPECT_EQ(out[7], 0xEE);
}

// ---------------------------------------------------------------------------
// Bits and numbers

TEST(BitCounting, AgreeWithABitByBitCount) {
    EXPECT_EQ(highestBit(0), 0);
    EXPECT_EQ(highestBit(1), 0);
    EXPECT_EQ(lowestBit(0), 64);
    EXPECT_EQ(bitsCount(0), 0);
    std::mt19937_64 rng(104);
    for (int i = 0; i < 2000; ++i) {
        const unsigned long long v = rng() >> (i % 64);
        int count = 0, high = -1, low = -1;
        for (int b = 0; b < 64; ++b) {
            if (v >> b & 1) {
                ++count;
                high = b;
                if (low < 0) low = b;
            }
        }
        if (v == 0) continue;
        EXPECT_EQ(bitsCount(v), count);
        EXPECT_EQ(highestBit(v), high);
        EXPECT_EQ(lowestBit(v), low);
    }
    EXPECT_EQ(highestBit(1ULL << 63), 63);
    EXPECT_EQ(lowestBit(1ULL << 63), 63);
    EXPECT_EQ(bitsCount(~0ULL), 64);
}

TEST(NumberParsing, UnsignedParsingOfNullAndWideText) {
    EXPECT_EQ(strToU64(static_cast<const char*>(nullptr)), 0u);
    W wide(u"  0x1F"), bad(u"Ж1");
    EXPECT_EQ(strToU64(wide.p()), 31u);
    EXPECT_EQ(strToU64(bad.p()), ~0ULL);
}

// The C library's scanning is the oracle, applied as the conversion is
// described: blanks skipped, "0x" then "%llx", else "%lld", nothing read gives
// all ones.
TEST(NumberParsing, UnsignedParsingAgreesWithTheCLibrarysScanning) {
    const char* texts[] = {"  0x1F", "\t\r\n0XfF", "abc", "", "   ", "12345678901234", "-1", "-2", "+7 apples",
                           "0xFFFFFFFFFFFFFFFF", "0xg", "g", "-", "+", "-0x5", "0x", "x5", "  -5", "\v7", "\f 8",
                           "99999999999999999999", "-99999999999999999999", "18446744073709551615",
                           "18446744073709551616", "0x1ffffffffffffffff", " +0x10", "0x0x5", "0x-5", "-x",
                           ".5", "1e5", "0X7fffffffffffffff", "  \t\n\r12 34", "007", "0x 5", "9223372036854775808"};
    for (const char* t : texts) {
        const char* s = t;
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r') ++s;
        unsigned long long want = 0;
        if (*s == 0) {
            want = 0;
        } else if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            unsigned long long v = 0;
            want = std::sscanf(s + 2, "%llx", &v) == 1 ? v : ~0ULL;
        } else {
            long long v = 0;
            want = std::sscanf(s, "%lld", &v) == 1 ? static_cast<unsigned long long>(v) : ~0ULL;
        }
        EXPECT_EQ(strToU64(t), want) << '"' << t << '"';
    }
}

TEST(NumberParsing, SignedParsingNegatesAndFlagsOverflow) {
    EXPECT_EQ(strToInt64("-7"), -7);
    EXPECT_EQ(strToInt64(" -0x10"), -16);
    EXPECT_EQ(strToInt64("--5"), LLONG_MIN);
    EXPECT_EQ(strToInt64("-a"), LLONG_MIN);
    EXPECT_EQ(strToInt64("abc"), LLONG_MIN);
    EXPECT_EQ(strToInt64("+5"), 5);
    EXPECT_EQ(strToInt64(""), 0);
    EXPECT_EQ(strToInt64(" \t "), 0);
    EXPECT_EQ(strToInt64("9223372036854775807"), LLONG_MAX);
    EXPECT_EQ(strToInt64("0x8000000000000000"), LLONG_MIN);
    W wide(u"-42"), hex(u"0x7fffffffffffffff");
    EXPECT_EQ(strToInt64(wide.p()), -42);
    EXPECT_EQ(strToInt64(hex.p()), LLONG_MAX);
}

// ---------------------------------------------------------------------------
// Offsets and small helpers

TEST(BlankOffsets, FirstAndLastNonBlank) {
    EXPECT_EQ(stre_offset("ab \r\n", -1), 2);
    EXPECT_EQ(str_offset("   ", -1), -1);
    EXPECT_EQ(str_offset("  x ", -1), 2);
    EXPECT_EQ(str_offset("\vx", -1), 0);  // vertical tab is not blank
    EXPECT_EQ(str_offset("  x", 2), -1);
    EXPECT_EQ(str_offset("x", 0), -1);
    EXPECT_EQ(str_offset("", -1), -1);
    EXPECT_EQ(stre_offset("   ", -1), 0);
    EXPECT_EQ(stre_offset("ab  cd  ", 4), 2);
    EXPECT_EQ(stre_offset("ab", 0), 0);
    EXPECT_EQ(stre_offset(nullptr, -1), 0);
    EXPECT_EQ(str_offset(nullptr, -1), -1);
    W wide(u"\t Ж Ж \r\n");
    EXPECT_EQ(wcs_offset(wide.p(), -1), 2);
    EXPECT_EQ(wcse_offset(wide.p(), -1), 5);
    W blank(u" \t");
    EXPECT_EQ(wcs_offset(blank.p(), -1), -1);
    EXPECT_EQ(wcse_offset(blank.p(), -1), 0);
}

TEST(ByteHelpers, ZeroTestAndSmallerMagnitude) {
    unsigned char bytes[13] = {};
    EXPECT_TRUE(iszero(bytes, 13));
    EXPECT_TRUE(iszero(bytes, 0));
    EXPECT_FALSE(iszero(nullptr, 0));
    bytes[12] = 1;
    EXPECT_FALSE(iszero(bytes, 13));
    EXPECT_TRUE(iszero(bytes, 12));
    bytes[3] = 1;
    EXPECT_FALSE(iszero(bytes, 4));
    EXPECT_EQ(minDiff(-3, 3), 3);
    EXPECT_EQ(minDiff(-2, 3), -2);
    EXPECT_EQ(minDiff(5, -4), -4);
    EXPECT_EQ(minDiff(LLONG_MIN, LLONG_MAX), LLONG_MAX);
    EXPECT_EQ(minDiff(LLONG_MAX, LLONG_MIN), LLONG_MAX);
}

}  // namespace
