#include "base/strutil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
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
};

std::vector<unsigned short> terminated(const unsigned short* s) {
    std::vector<unsigned short> v;
    for (; s && *s; ++s) v.push_back(*s);
    v.push_back(0);
    return v;
}
#define EXPECT_UNITS(got, want) EXPECT_EQ(terminated(got), W(want).units)

// Python's unicodedata is the oracle: every mapping we make must be Python's
// (for the Greek letters with ypogegrammeni, whose full upper case is two
// characters, the title case stands in for the simple mapping), and every
// one-to-one pair between characters Unicode 3.2 already had must be there.
TEST(CaseTables, MappingsAgreeWithPythonAcrossTheWholePlane) {
    int status = -1;
    const std::string out = qortest::runPython(R"PY(
import unicodedata
old = unicodedata.ucd_3_2_0
for u in range(0x10000):
    if 0xD800 <= u < 0xE000:
        continue
    ch = chr(u)
    lo, up = ch.lower(), ch.upper()
    if len(up) != 1:
        up = ch.title()
    lo = lo if len(lo) == 1 else ch
    up = up if len(up) == 1 else ch
    if lo != ch or up != ch:
        print("%04X %04X %04X %d" % (u, ord(lo), ord(up), old.category(ch) != "Cn"))
)PY", "", &status);
    ASSERT_EQ(status, 0) << out;
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
        const unsigned short l = __acp_lower(unit), h = __acp_upper(unit);
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
    EXPECT_EQ(lowered, kCaseMapPairs);
    EXPECT_EQ(raised, kCaseMapPairs);
    EXPECT_GT(oldPairs, 600);
    // Pairs formed after Unicode 5.1 (Georgian Mtavruli, Cherokee, U+A78D,
    // U+2C2F, U+A660, U+0524, U+2CEB) and titlecase digraphs stay out.
    for (unsigned short c : {0x01C5, 0x01F2, 0x0130, 0x1E9E, 0x1C90, 0x13A0, 0xA78D, 0x2C2F, 0xA660, 0x0524, 0x2CEB})
        EXPECT_EQ(__acp_lower(c), c) << std::hex << c;

    // Eight-bit mapping and blanks against the C library in the "C" locale.
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        EXPECT_EQ(__acp_lower(c), static_cast<char>(b < 128 ? std::tolower(b) : b)) << b;
        EXPECT_EQ(__acp_upper(c), static_cast<char>(b < 128 ? std::toupper(b) : b)) << b;
        const bool blank = b == 9 || b == 10 || b == 13 || b == 32;
        EXPECT_EQ(__acp_isspace(c), blank) << b;
        EXPECT_EQ(__acp_isspace(static_cast<unsigned short>(b | (blank ? 0 : 0x100))), blank) << b;
    }
}

TEST(CaseFolding, LowerCasesUtf8ThroughUtf16AndSixteenBitTextUnitByUnit) {
    _guardchar<char> src(u8"ÀÉÎ ΣΑΣ ЖЁ ABC xyz 😀 İ ẞ");
    _guardchar<char> dst("old"), again;
    EXPECT_TRUE(__acp_lower(src, dst));
    EXPECT_STREQ(dst.c_str(), u8"àéî σασ жё abc xyz 😀 İ ẞ");
    EXPECT_TRUE(__acp_lower_a(src, again));
    EXPECT_STREQ(again.c_str(), dst.c_str());
    EXPECT_TRUE(__acp_lower(src, src));  // in place
    EXPECT_STREQ(src.c_str(), dst.c_str());
    _guardchar<char> empty;
    EXPECT_TRUE(__acp_lower(empty, dst));  // no text leaves the destination alone
    EXPECT_STREQ(dst.c_str(), u8"àéî σασ жё abc xyz 😀 İ ẞ");

    _guardchar<unsigned short> wsrc(W(u"ÀΩЖ Ⰰ ⒶⅠＡ 😀").p()), wdst, none;
    EXPECT_TRUE(__acp_lower_w(wsrc, wdst));
    EXPECT_UNITS(wdst.get(), u"àωж ⰰ ⓐⅰａ 😀");
    EXPECT_TRUE(__acp_lower_w(none, wdst));
    EXPECT_EQ(wdst.get(), nullptr);
}

// The C library's 8-bit result is the oracle for both formatters.
TEST(Formatting, BothFormattersAgreeWithSnprintfAndCutOnlyBetweenCharacters) {
    unsigned short out[128];
    char want[128], buf[8];
#define SAME_AS_SNPRINTF(fmt, ...)                                                                  \
    do {                                                                                            \
        const int n = std::snprintf(want, sizeof want, fmt, __VA_ARGS__);                           \
        EXPECT_EQ(_swprintf_s(out, 128, W(u"" fmt).p(), __VA_ARGS__), n) << fmt;                    \
        EXPECT_EQ(terminated(out), terminated(std::vector<unsigned short>(want, want + n + 1).data())); \
        std::memset(buf, 'x', sizeof buf);                                                          \
        EXPECT_EQ(_sprintf_s(buf, 6, fmt, __VA_ARGS__), n) << fmt;                                  \
        EXPECT_EQ(std::string(buf), std::string(want).substr(0, 5));                                \
        EXPECT_EQ(buf[6], 'x');                                                                     \
    } while (0)
    SAME_AS_SNPRINTF("%d|%5d|%-5d|%05d", -42, 42, 42, 42);
    SAME_AS_SNPRINTF("%x %X %#o", 0xBEEFu, 0xBEEFu, 8u);
    SAME_AS_SNPRINTF("%.3f %e %g", 3.14159, 12345.678, 0.0001);
    SAME_AS_SNPRINTF("[%s] [%10s] [%-6s]", "abc", "right", "left");
    SAME_AS_SNPRINTF("%lld %llu %%", -9000000000LL, 18000000000ULL);
#undef SAME_AS_SNPRINTF
    EXPECT_EQ(_sprintf_s(nullptr, 0, "%d", 12345), 5);

    // UTF-8 arguments and wide format text; the count is of UTF-8 bytes.
    EXPECT_EQ(_swprintf_s(out, 64, W(u"Größe: %s – %d €").p(), u8"日本 😀", 5), static_cast<int>(std::strlen(u8"Größe: 日本 😀 – 5 €")));
    EXPECT_UNITS(out, u"Größe: 日本 😀 – 5 €");
    const W s(u"%s");
    const struct {
        const char* arg;
        int size;
        const char16_t* kept;
    } cuts[] = {{"abcdef", 4, u"abc"}, {"abcdef", 1, u""}, {u8"ab😀", 4, u"ab"}, {u8"😀😀😀", 3, u"😀"}, {u8"€€€", 2, u"€"}};
    for (const auto& c : cuts) {
        for (unsigned short& u : out) u = 0xAAAA;
        EXPECT_EQ(_swprintf_s(out, c.size, s.p(), c.arg), static_cast<int>(std::strlen(c.arg)));
        EXPECT_UNITS(out, c.kept);
        EXPECT_EQ(out[c.size], 0xAAAA) << c.arg;
    }
    // Long results go through the heap.
    std::vector<unsigned short> big(2000);
    const std::string arg(1500, 'z');
    EXPECT_EQ(_swprintf_s(big.data(), 2000, W(u"%s%d").p(), arg.c_str(), 7), 1501);
    EXPECT_EQ(big[1500], '7');
    EXPECT_EQ(_swprintf_s(big.data(), 600, W(u"%s%d").p(), arg.c_str(), 7), 1501);
    EXPECT_EQ(_wcslen(big.data()), 599);
    out[0] = 7;
    EXPECT_EQ(_swprintf_s(nullptr, 4, s.p()), 0);
    EXPECT_EQ(_swprintf_s(out, 4, nullptr), 0);
    EXPECT_EQ(_swprintf_s(out, 0, s.p()), 0);
    EXPECT_EQ(out[0], 7);
}

TEST(Scanning, WideTextScansLikeItsUtf8FormThroughTheCLibrary) {
    int a = 0, b = 0, ea = 0, eb = 0;
    double d = 0, ed = 0;
    char s1[32] = {}, s2[32] = {}, e1[32] = {}, e2[32] = {};
    EXPECT_EQ(_swscanf_s(W(u"  -17 0x1f Grüße 😀 2.5").p(), W(u"%d %i %31s %31s %lf").p(), &a, &b, s1, s2, &d), 5);
    EXPECT_EQ(_sscanf_s(u8"  -17 0x1f Grüße 😀 2.5", "%d %i %31s %31s %lf", &ea, &eb, e1, e2, &ed), 5);
    EXPECT_EQ(std::string(s1) + s2 + std::to_string(a) + std::to_string(b) + std::to_string(d),
              std::string(e1) + e2 + std::to_string(ea) + std::to_string(eb) + std::to_string(ed));
    EXPECT_STREQ(s1, u8"Grüße");
    int v = 3;
    EXPECT_EQ(_swscanf_s(static_cast<const unsigned short*>(nullptr), W(u"%d").p(), &v), EOF);
    EXPECT_EQ(_sscanf_s(nullptr, "%d", &v), EOF);
    EXPECT_EQ(v, 3);
}

TEST(BoundedCopy, CopiesAndAppendsStayInsideTheBufferAndTerminate) {
    auto narrow = std::make_unique<char[]>(4);  // exact size: AddressSanitizer sees any overrun
    auto wide = std::make_unique<unsigned short[]>(4);
    EXPECT_EQ(_strcpy_s(narrow.get(), 4, "abcd"), 0);
    EXPECT_STREQ(narrow.get(), "abc");
    EXPECT_EQ(_strcpy_s(narrow.get(), 4, nullptr), 0);
    EXPECT_STREQ(narrow.get(), "abc");
    EXPECT_EQ(_wcscpy_s(wide.get(), 4, W(u"abcd").p()), 0);
    EXPECT_UNITS(wide.get(), u"abc");
    const struct {
        int size;
        const char* src;
        long long n;
        const char* want;
    } counted[] = {{4, "abcdef", 3, "abc"}, {4, "abcdef", 6, "abc"}, {4, "ab", 6, "ab"}, {4, "abcdef", 0, ""}, {4, "abcdef", -1, "abc"}};
    for (const auto& c : counted) {
        _strncpy_s(narrow.get(), c.size, c.src, c.n);
        EXPECT_STREQ(narrow.get(), c.want) << c.src << " " << c.n;
    }
    _wcsncpy_s(wide.get(), 4, W(u"ЖЖЖЖЖ").p(), 2);
    EXPECT_UNITS(wide.get(), u"ЖЖ");
    _wcsncpy_s(wide.get(), 3, W(u"ЖЖЖЖЖ").p(), 5);
    EXPECT_UNITS(wide.get(), u"ЖЖ");
    unsigned short buf[8];
    _wcscpy_s(buf, 8, W(u"ab").p());
    _wcscat_s(buf, 8, W(u"cdefghij").p());
    EXPECT_UNITS(buf, u"abcdefg");
    // A destination without a terminator in its size is cut, not overrun.
    for (int i = 0; i < 4; ++i) wide[i] = 'q';
    _wcscat_s(wide.get(), 4, W(u"xy").p());
    EXPECT_UNITS(wide.get(), u"qqq");
}

// Comparisons: results are -1, 0 or 1; a null text sorts after (exact) or
// before (folded) any text; no units compared means equal.
TEST(TextCompare, ExactFoldedAndCountedComparisons) {
    const W a(u"abc"), b(u"abd"), hi(u"\xFFFF"), lo(u"a"), fa(u"ÀΣЖⰀ-Text"), fb(u"àσжⰰ-tEXT"), fs(u"àσж");
    EXPECT_EQ(_wcscmp(a.p(), b.p()), -1);
    EXPECT_EQ(_wcscmp(hi.p(), lo.p()), 1);  // unsigned
    EXPECT_EQ(_wcscmp(nullptr, a.p()), 1);
    EXPECT_EQ(_wcscmp(a.p(), nullptr), 1);
    EXPECT_EQ(__wcsicmp(fa.p(), fb.p()), 0);
    EXPECT_EQ(__wcsicmp(fs.p(), fa.p()), -1);
    EXPECT_EQ(__wcsicmp(nullptr, fa.p()), -1);
    EXPECT_EQ(__wcsicmp(fa.p(), fs.p(), 3), 0);
    EXPECT_EQ(__wcsicmp(fa.p(), fs.p(), 4), 1);
    EXPECT_EQ(__wcsnicmp(fa.p(), fs.p(), 4), 1);
    EXPECT_EQ(__wcsnicmp(fa.p(), nullptr, 3), -1);
    for (long long n : {0LL, -1LL}) {
        EXPECT_EQ(__wcsnicmp(a.p(), b.p(), n), 0) << n;
        EXPECT_EQ(__wcsicmp(a.p(), b.p(), n), 0) << n;
        EXPECT_EQ(__stricmp("x", "y", n), 0) << n;
    }
    EXPECT_EQ(__stricmp("\x80", "a"), -1);    // signed uncounted
    EXPECT_EQ(__stricmp("\x80", "a", 1), 1);  // unsigned counted
    EXPECT_EQ(__stricmp("Content-Length", "content-length"), 0);
    EXPECT_EQ(__stricmp("abc", "ab"), 1);
    EXPECT_EQ(__stricmp("ÀB", "àb"), -1);  // only A-Z fold
    EXPECT_EQ(__stricmp(nullptr, "a"), -1);
    EXPECT_EQ(__stricmp("abcX", "ABCy", 3), 0);
    EXPECT_EQ(__stricmp("ab", "abc", 10), -1);
    EXPECT_EQ(__memicmp("A\0B", "a\0b", 3), 0);
    EXPECT_EQ(__memicmp("A\0B", "a\0c", 3), -1);
    EXPECT_EQ(__memicmp("\x90", "a", 1), -1);
    EXPECT_EQ(__memicmp(nullptr, "y", 1), 1);
}

TEST(TextSearch, FindersRespectTheirLengthsFoldingAndTerminators) {
    const W s(u"a€b€c"), hay(u"one Two THREE two"), two(u"two"), empty(u""), cyr(u"Привет, МИР"), mir(u"мир");
    EXPECT_EQ(_wcslen(nullptr), 0);
    EXPECT_EQ(_wcschr(s.p(), 0x20AC), s.p() + 1);
    EXPECT_EQ(_wcschr(s.p(), 0), nullptr);
    EXPECT_EQ(_wcsrchr(s.p(), 0x20AC), s.p() + 3);
    EXPECT_EQ(_wcsrchr(s.p(), 0), s.p() + 5);
    EXPECT_EQ(_wcsrchr(s.p(), 'z'), nullptr);
    EXPECT_EQ(_wcsstr(hay.p(), two.p()), hay.p() + 14);
    EXPECT_EQ(_wcsistr(hay.p(), two.p()), hay.p() + 4);
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), 16), nullptr);  // the match would end past hayLen
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), 17), hay.p() + 14);
    EXPECT_EQ(_wcsstr(hay.p(), empty.p()), hay.p());
    EXPECT_EQ(_wcsstr(hay.p(), two.p(), -1, 2), hay.p() + 14);
    EXPECT_EQ(_wcsistr(cyr.p(), mir.p()), cyr.p() + 8);

    // Many near misses of one case before the match in the other.
    const std::string a = std::string(3000, 'a') + "Ab";
    EXPECT_EQ(_stristr(a.c_str(), "AB"), a.c_str() + 3000);
    EXPECT_EQ(_stristr(a.c_str(), "aab"), a.c_str() + 2999);
    EXPECT_EQ(_stristr(a.c_str(), "bb"), nullptr);
    const char* mixed = "xxKEY=1 key=2";
    EXPECT_EQ(_stristr(mixed + 3, "key="), mixed + 8);
    EXPECT_EQ(_stristr(mixed, "=2"), mixed + 11);
    EXPECT_EQ(_stristr(mixed, "y=2", 12), nullptr);
    EXPECT_EQ(_stristr(u8"XÀB", u8"àb"), nullptr);  // UTF-8 letters do not fold
    const char withZero[] = {'a', 0, 'B', 'c', 'd', 0};
    EXPECT_EQ(_stristr(withZero, "bc", 4, 2), withZero + 2);  // counted: zero bytes are text
    EXPECT_EQ(_strnstr("abcabc", "ca", 3), nullptr);           // would end past n
    EXPECT_EQ(_strnstr("abcabc", "", 6), nullptr);
    EXPECT_EQ(_strnstr(withZero, "cd", 5), nullptr);  // the zero byte ends the search
    EXPECT_EQ(_strnchr(withZero, 'd', 5), withZero + 4);  // but not this one
    EXPECT_EQ(_strnchr(withZero, 'd', 4), nullptr);
}

TEST(CompactStr, StoresUtf8WithItsUnitCountAndCutsOutputWhole) {
    cCompactStr s;
    EXPECT_TRUE(s.set(W(u"Grüße 😀").p(), -1));
    EXPECT_EQ(s.len(), 8);  // units, the emoji counting two
    EXPECT_STREQ(s.c_str(), u8"Grüße 😀");
    unsigned short out[16];
    EXPECT_EQ(s.str(out, 16), out);
    EXPECT_UNITS(out, u"Grüße 😀");
    s.str(out, 8);  // the pair needs two units and the terminator a third
    EXPECT_UNITS(out, u"Grüße ");
    EXPECT_TRUE(s.set(u8"Grüße", -1));
    EXPECT_EQ(s.len(), 7);
    ASSERT_TRUE(s.set("hello world", -1));
    EXPECT_TRUE(s.set(s.c_str() + 6, 3));  // the source lies inside the old text
    EXPECT_STREQ(s.c_str(), "wor");
    char narrow[8];
    std::memset(narrow, 'x', sizeof narrow);
    ASSERT_TRUE(s.set("hello", -1));
    EXPECT_EQ(s.str(narrow, 4), narrow);
    EXPECT_STREQ(narrow, "he");  // cap minus two bytes
    EXPECT_EQ(narrow[4], 'x');
    cCompactStr moved(std::move(s));
    EXPECT_STREQ(moved.c_str(), "hello");
    EXPECT_EQ(s.c_str(), nullptr);
    cCompactStr copy(moved);
    EXPECT_STREQ(copy.c_str(), "hello");

    const std::string big(40000, 'a'), edge(32767, 'e');
    EXPECT_FALSE(copy.set(big.c_str(), -1));  // too long for its count: left empty
    EXPECT_EQ(copy.c_str(), nullptr);
    EXPECT_EQ(copy.len(), 0);
    std::vector<unsigned short> wideBig(40001, 'w');
    wideBig.back() = 0;
    EXPECT_FALSE(copy.set(wideBig.data(), -1));
    EXPECT_TRUE(copy.set(edge.c_str(), -1));
    EXPECT_EQ(copy.len(), 32767);
    EXPECT_TRUE(copy.set("abc", 0));
    EXPECT_EQ(copy.c_str(), nullptr);
    out[0] = 'x';
    copy.str(out, 8);
    EXPECT_EQ(out[0], 0);
}

TEST(HexParsing, DigitsBytesAndGuidsNeverReadPastTheText) {
    EXPECT_EQ(getHexb("ff"), 255);
    EXPECT_EQ(getHexb("0A"), 10);
    EXPECT_EQ(getHexb("0g"), -1);
    EXPECT_EQ(getHexb(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(getHexb(W(u"7e").p()), 0x7E);
    EXPECT_EQ(getHexb(W(u"\x0130" u"0").p()), -1);
    auto one = std::make_unique<char[]>(1);  // exact size: AddressSanitizer sees a read past it
    one[0] = 'z';
    EXPECT_EQ(getHexb(one.get()), -1);

    _typebuf<unsigned char> out;
    ASSERT_TRUE(hexToBytes("00ff10A5", out));
    EXPECT_EQ(std::vector<int>(out.data(), out.data() + out.count()), (std::vector<int>{0x00, 0xFF, 0x10, 0xA5}));
    EXPECT_FALSE(hexToBytes("abc", out));
    EXPECT_FALSE(hexToBytes("", out));
    EXPECT_FALSE(hexToBytes("12zz34", out));
    ASSERT_EQ(out.count(), 3);  // sized for the whole text, filled up to the bad pair
    EXPECT_EQ(out[0], 0x12);
    ASSERT_TRUE(hexToBytes(W(u"c0ffee").p(), out));
    EXPECT_EQ(out[2], 0xEE);

    unsigned char guid[16] = {};
    ASSERT_EQ(parseGUID(reinterpret_cast<const unsigned char*>("00112233-4455-6677-8899-AABBCCDDEEFF}x"), guid), 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(guid[i], i * 0x11) << i;
    const std::string shortText = "00112233-4455";
    auto heap = std::make_unique<unsigned char[]>(shortText.size() + 1);
    std::memcpy(heap.get(), shortText.c_str(), shortText.size() + 1);
    EXPECT_EQ(parseGUID(heap.get(), guid), 0);
    EXPECT_EQ(parseGUID(reinterpret_cast<const unsigned char*>("0011223-34455-6677-8899-AABBCCDDEEFF"), guid), 0);
    std::memset(guid, 0xEE, sizeof guid);
    EXPECT_EQ(parseGUID(reinterpret_cast<const unsigned char*>("00112233-4455-66x7-8899-AABBCCDDEEFF"), guid), 0);
    EXPECT_EQ(guid[6], 0x66);  // bytes before the bad digit are kept
    EXPECT_EQ(guid[7], 0xEE);
}

TEST(Bits, CountsAgreeWithABitByBitCount) {
    EXPECT_EQ(highestBit(0), 0);
    EXPECT_EQ(lowestBit(0), 64);
    EXPECT_EQ(bitsCount(0), 0);
    std::mt19937_64 rng(104);
    for (int i = 0; i < 2000; ++i) {
        const unsigned long long v = (rng() >> (i % 64)) | 1ULL << (i % 64);
        int count = 0, high = -1, low = -1;
        for (int b = 0; b < 64; ++b) {
            if (v >> b & 1) {
                ++count;
                high = b;
                if (low < 0) low = b;
            }
        }
        EXPECT_EQ(bitsCount(v), count);
        EXPECT_EQ(highestBit(v), high);
        EXPECT_EQ(lowestBit(v), low);
    }
}

// The C library's scanning is the oracle, applied as the conversion is
// described: blanks skipped, "0x" then "%llx", else "%lld", nothing read
// gives all ones; the signed form flags a failure with LLONG_MIN.
TEST(NumberParsing, AgreesWithTheCLibrarysScanning) {
    const char* texts[] = {"  0x1F", "\t\r\n0XfF", "abc", "", "   ", "12345678901234", "-1", "+7 apples",
                           "0xFFFFFFFFFFFFFFFF", "0xg", "-", "-0x5", "0x", "  -5", "\v7", "99999999999999999999",
                           "-99999999999999999999", "18446744073709551616", "0x1ffffffffffffffff", " +0x10", "0x-5",
                           "1e5", "0X7fffffffffffffff", "9223372036854775808", "--5", "-a", " -0x10", "0x8000000000000000"};
    for (const char* t : texts) {
        const char* s = t;
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r') ++s;
        unsigned long long want = 0;
        if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            unsigned long long v = 0;
            want = std::sscanf(s + 2, "%llx", &v) == 1 ? v : ~0ULL;
        } else if (*s) {
            long long v = 0;
            want = std::sscanf(s, "%lld", &v) == 1 ? static_cast<unsigned long long>(v) : ~0ULL;
        }
        EXPECT_EQ(strToU64(t), want) << '"' << t << '"';
    }
    EXPECT_EQ(strToInt64("-7"), -7);
    EXPECT_EQ(strToInt64(" -0x10"), -16);
    EXPECT_EQ(strToInt64("--5"), LLONG_MIN);
    EXPECT_EQ(strToInt64("abc"), LLONG_MIN);
    EXPECT_EQ(strToInt64(" \t "), 0);
    EXPECT_EQ(strToInt64("9223372036854775807"), LLONG_MAX);
    EXPECT_EQ(strToInt64(W(u"-42").p()), -42);
    EXPECT_EQ(strToU64(W(u"  0x1F").p()), 31u);
    EXPECT_EQ(strToU64(W(u"Ж1").p()), ~0ULL);
    EXPECT_EQ(strToU64(static_cast<const char*>(nullptr)), 0u);
}

TEST(SmallHelpers, BlankOffsetsZeroTestAndSmallerMagnitude) {
    EXPECT_EQ(str_offset("  x ", -1), 2);
    EXPECT_EQ(str_offset("\vx", -1), 0);  // vertical tab is not blank
    EXPECT_EQ(str_offset("  x", 2), -1);
    EXPECT_EQ(str_offset(nullptr, -1), -1);
    EXPECT_EQ(stre_offset("ab \r\n", -1), 2);
    EXPECT_EQ(stre_offset("ab  cd  ", 4), 2);
    EXPECT_EQ(stre_offset("   ", -1), 0);
    EXPECT_EQ(wcs_offset(W(u"\t Ж Ж \r\n").p(), -1), 2);
    EXPECT_EQ(wcse_offset(W(u"\t Ж Ж \r\n").p(), -1), 5);
    EXPECT_EQ(wcs_offset(W(u" \t").p(), -1), -1);
    unsigned char bytes[13] = {};
    EXPECT_TRUE(iszero(bytes, 13));
    EXPECT_FALSE(iszero(nullptr, 0));
    bytes[12] = 1;
    EXPECT_FALSE(iszero(bytes, 13));
    EXPECT_TRUE(iszero(bytes, 12));
    EXPECT_EQ(minDiff(-3, 3), 3);
    EXPECT_EQ(minDiff(-2, 3), -2);
    EXPECT_EQ(minDiff(LLONG_MIN, LLONG_MAX), LLONG_MAX);
}

// Names shown on one line: the known forms, then random bytes, escaped here
// and checked by Python: the result is UTF-8 without a control, separator
// or direction character, and unescaping gives the bytes back.
TEST(DisplayEscape, OneLineForAnyBytesAndNothingLost) {
    const std::vector<std::pair<std::string, std::string> > known = {
        {"plain name.txt", "plain name.txt"},
        {"Donn\xc3\xa9" "es/\xe6\x97\xa5\xe6\x9c\xac", "Donn\xc3\xa9" "es/\xe6\x97\xa5\xe6\x9c\xac"},
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"del\x7f", "del\\x7f"},
        {"bad\xff\xfe", "bad\\xff\\xfe"},
        {"\xc0\xaf", "\\xc0\\xaf"},                  // overlong '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},         // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
        {"\xc2\x85", "\\xc2\\x85"},                  // NEL, a C1 control
        {"\xe2\x80\xae" "txt.exe", "\\xe2\\x80\\xaetxt.exe"},  // right-to-left override
        {"\xe2\x80\xa8", "\\xe2\\x80\\xa8"},         // line separator
        {"cut\xe6\x97", "cut\\xe6\\x97"},            // a character cut short
        {"\xc2\xa0\xf0\x9f\x98\x80", "\xc2\xa0\xf0\x9f\x98\x80"},
    };
    for (const auto& k : known) EXPECT_EQ(escapeForDisplay(k.first), k.second) << k.second;
    EXPECT_EQ(escapeForDisplay(nullptr, 3), "");

    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\\", "\n", "\x7f",
                                             "\xe2\x80\xae", "\xc2\x85", "x"};
    std::string lines;
    for (int n = 0; n < 400; ++n) {
        std::string raw;
        const int len = static_cast<int>(rng() % 24);
        for (int i = 0; i < len; ++i) {
            if (rng() % 2)
                raw += static_cast<char>(rng() & 0xFF);
            else
                raw += pieces[rng() % pieces.size()];
        }
        const std::string shown = escapeForDisplay(raw);
        lines += qortest::hex(raw.data(), raw.size()) + " " + qortest::hex(shown.data(), shown.size()) + "\n";
    }
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("cases"), lines));
    const std::string verdict = qortest::runPython(R"(
import re, sys, unicodedata
bad = 0
for line in open(sys.argv[1]):
    raw, esc = (bytes.fromhex(h) for h in line.rstrip('\n').split(' '))
    text = esc.decode('utf-8')
    if any(unicodedata.category(c) == 'Cc' or c in '\u2028\u2029\u200e\u200f' or 0x202a <= ord(c) <= 0x202e
           or 0x2066 <= ord(c) <= 0x2069 for c in text):
        bad += 1
        continue
    back = re.sub(rb'\\(x[0-9a-f]{2}|[ntr\\])', lambda m: {b'n': b'\n', b't': b'\t', b'r': b'\r', b'\\': b'\\'}.get(
        m.group(1), bytes.fromhex(m.group(1)[1:].decode()) if m.group(1)[:1] == b'x' else b''), esc)
    bad += back != raw
print(bad)
)", dir.file("cases"));
    EXPECT_EQ(verdict, "0\n");
}

}  // namespace
