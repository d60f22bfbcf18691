// The short paths of the string utilities against their slow forms: the
// block kernels against plain loops and the case tables, number reading
// against the C library, and 16-bit formatting against the converter.
#include "base/strutil.h"
#include "base/strutil_detail.h"
#include "base/textenc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// The unit the lower-case table gives, looked up by bisection in the pairs.
unsigned short tableLower(unsigned short c) {
    int lo = 0, hi = kCaseMapPairs - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        if (__acp_lowermap[mid][0] == c) return __acp_lowermap[mid][1];
        if (__acp_lowermap[mid][0] < c) lo = mid + 1; else hi = mid - 1;
    }
    return c;
}

}  // namespace

TEST(CaseMapKernels, EveryUnitLowersAsTheTableSaysAloneAndInBlocks) {
    // Every unit but 0, each between ASCII neighbours, so that the eight-unit
    // vector step and the per-unit step both meet it at every offset.
    std::vector<unsigned short> text;
    for (unsigned c = 1; c < 0x10000; ++c) {
        const unsigned short u = static_cast<unsigned short>(c);
        ASSERT_EQ(__acp_lower(u), tableLower(u)) << std::hex << c;
        text.push_back(u);
        for (unsigned k = 0; k < c % 11; ++k) text.push_back(static_cast<unsigned short>("A@Z[a`z{q"[(c + k) % 9]));
    }
    const long long n = static_cast<long long>(text.size());
    _guardchar<unsigned short> src(text.data(), n), lowered;
    ASSERT_TRUE(__acp_lower_w(src, lowered));
    for (long long k = 0; k < n; ++k) ASSERT_EQ(lowered.c_str()[k], tableLower(text[static_cast<std::size_t>(k)])) << k;
    EXPECT_EQ(lowered.c_str()[n], 0);
}

TEST(CaseMapKernels, BytesLowerAndAsciiRunsAgreeWithPlainLoopsAtEveryLength) {
    std::mt19937 rng(5);
    for (int len = 0; len < 70; ++len) {
        for (int round = 0; round < 40; ++round) {
            std::string s(static_cast<std::size_t>(len), ' ');
            for (auto& c : s) c = static_cast<char>(rng() % 3 ? 0x20 + rng() % 0x60 : rng() % 256);
            std::string want = s;
            for (auto& c : want) c = __acp_lower(c);
            std::string got = s;
            strutil_detail::lowerAscii(&got[0], len);
            ASSERT_EQ(got, want);
            long long run = 0;
            while (run < len && static_cast<unsigned char>(s[run]) < 0x80) ++run;
            ASSERT_EQ(strutil_detail::asciiRun(s.data(), len), run);
        }
    }
    // Eight-bit lowering through UTF-16: ASCII text takes the short path,
    // text with other letters the converter, and both agree with it.
    for (const char* t : {"Content-LENGTH: 42 \x7F", "\xC3\x89t\xC3\xA9 ABC", "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`@"}) {
        _guardchar<char> src(t), dst;
        ASSERT_TRUE(__acp_lower(src, dst));
        _guardchar<unsigned short> wide, lowered;
        __a2w(t, -1, wide, 65001);
        __acp_lower_w(wide, lowered);
        _guardchar<char> back;
        __w2a(lowered.c_str(), -1, back, 65001);
        EXPECT_STREQ(dst.c_str(), back.c_str()) << t;
    }
}

TEST(CaseMapKernels, FoldedSearchAgreesWithEveryStartTriedAtEveryWidth) {
    // Hays long enough for the widest form's two-vector rounds and its
    // tails, needles long enough that the last byte's loads reach far; each
    // hay is copied into a buffer of exactly its size, so that a load past
    // its end is an AddressSanitizer report.
    std::vector<int> widths = {0, 16};
    for (int w : {32, 64}) {
        if (w <= strutil_detail::foldedSearchWidth()) widths.push_back(w);
    }
    std::mt19937 rng(9);
    const char alphabet[] = "aAbB@[`{zZ\x80\xC1-";
    for (int round = 0; round < 6000; ++round) {
        const int hayLen = 1 + static_cast<int>(rng() % (round % 2 ? 90 : 400));
        std::string hay(static_cast<std::size_t>(hayLen), ' ');
        for (auto& c : hay) c = alphabet[rng() % (sizeof alphabet - 1)];
        const int needleLen = 1 + static_cast<int>(rng() % std::min(hayLen, round % 3 ? 4 : 24));
        std::string needle;
        if (rng() % 2) {
            const int at = static_cast<int>(rng() % static_cast<unsigned>(hayLen - needleLen + 1));
            needle = hay.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(needleLen));
            for (auto& c : needle) c = rng() % 2 ? __acp_upper(c) : __acp_lower(c);
        } else {
            needle.assign(static_cast<std::size_t>(needleLen), ' ');
            for (auto& c : needle) c = alphabet[rng() % (sizeof alphabet - 1)];
        }
        std::unique_ptr<char[]> exact(new char[static_cast<std::size_t>(hayLen)]);
        std::memcpy(exact.get(), hay.data(), hay.size());
        // A naive oracle: every start tried with the library's own folding.
        const char* naive = nullptr;
        for (int i = 0; i + needleLen <= hayLen && !naive; ++i) {
            int j = 0;
            while (j < needleLen && __acp_lower(hay[static_cast<std::size_t>(i + j)]) ==
                                        __acp_lower(needle[static_cast<std::size_t>(j)]))
                ++j;
            if (j == needleLen) naive = exact.get() + i;
        }
        for (int w : widths) {
            ASSERT_EQ(strutil_detail::findFoldedWidth(w, exact.get(), hayLen, needle.data(), needleLen), naive)
                << "width " << w << ": " << hay << " / " << needle;
        }
        ASSERT_EQ(_stristr(exact.get(), needle.data(), hayLen, needleLen), naive);
    }
}

TEST(NumberReading, PlainDigitsReadAsTheCLibraryReadsThem) {
    // Texts around the short path's limits: 18 and 19 digits, 16 and 17 hex
    // digits, signs, prefixes twice, blanks the C library skips and we do not.
    const char* const texts[] = {"0", "7", "-7", "+7", "123456789012345678", "1234567890123456789",
                                 "9999999999999999999", "99999999999999999999", "-123456789012345678",
                                 "-1234567890123456789", "0x0", "0xFFFFFFFFFFFFFFFF", "0x1FFFFFFFFFFFFFFFF",
                                 "0xfedcba9876543210", "0x0x1F", "0X0X", "0x", "0x-1", "0x 5", "0x+5", "12ab", "0x12g",
                                 "\v5", "\f-5", " \t 42", "-", "--5", "- 5", "-0", "-0x10", "x", "0xABCDEFabcdef", "007"};
    for (const char* t : texts) {
        unsigned long long want;
        const char* s = t;
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r') ++s;
        char* end = nullptr;
        if (!*s) {
            want = 0;
        } else if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            want = std::strtoull(s + 2, &end, 16);
            if (end == s + 2) want = ~0ULL;
        } else {
            want = static_cast<unsigned long long>(std::strtoll(s, &end, 10));
            if (end == s) want = ~0ULL;
        }
        EXPECT_EQ(strToU64(t), want) << t;
        const std::string narrowText(t);
        std::basic_string<unsigned short> wide(narrowText.begin(), narrowText.end());
        EXPECT_EQ(strToU64(wide.c_str()), want) << t;
        if (t[0] == '-' && t[1] >= '0' && t[1] <= '9' && t[2] != 'x') {
            long long scanned = 0;
            ASSERT_EQ(std::sscanf(t, "%lld", &scanned), 1) << t;
            EXPECT_EQ(strToInt64(t), scanned) << t;
            EXPECT_EQ(strToInt64(wide.c_str()), scanned) << t;
        }
    }
    // A wide text longer than the stack copy and one with a non-ASCII unit
    // take the converter.
    std::basic_string<unsigned short> longText(70, ' ');
    longText += {'4', '2'};
    EXPECT_EQ(strToU64(longText.c_str()), 42u);
    const unsigned short withE9[] = {'1', '2', 0xE9, 0};
    EXPECT_EQ(strToU64(withE9), 12u);
}

TEST(WideFormatting, AsciiAndOtherFormatsAndResultsMatchTheConverter) {
    const unsigned short ascii[] = {'%', 's', ' ', '%', '0', '8', 'x', ' ', '%', 'd', 0};
    unsigned short out[64];
    EXPECT_EQ(_swprintf_s(out, 64, ascii, "name", 0xBEEFu, -42), 17);
    const std::string want = "name 0000beef -42";
    EXPECT_EQ(std::basic_string<unsigned short>(out), std::basic_string<unsigned short>(want.begin(), want.end()));
    // Cut to the capacity, always terminated.
    EXPECT_EQ(_swprintf_s(out, 5, ascii, "name", 1u, 2), 15);
    EXPECT_EQ(std::basic_string<unsigned short>(out), (std::basic_string<unsigned short>{'n', 'a', 'm', 'e'}));
    // A format with a Cyrillic letter and a result with a two-byte character.
    const unsigned short cyr[] = {0x0416, '%', 's', 0};
    EXPECT_EQ(_swprintf_s(out, 64, cyr, "\xC3\xA9x"), 5);
    EXPECT_EQ(std::basic_string<unsigned short>(out), (std::basic_string<unsigned short>{0x0416, 0xE9, 'x'}));
    // A format longer than the stack copy.
    std::basic_string<unsigned short> longFormat(300, 'a');
    longFormat += {'%', 'd'};
    std::vector<unsigned short> big(400);
    EXPECT_EQ(_swprintf_s(big.data(), 400, longFormat.c_str(), 7), 301);
    EXPECT_EQ(big[299], 'a');
    EXPECT_EQ(big[300], '7');
    EXPECT_EQ(big[301], 0);
}
