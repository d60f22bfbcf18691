// qor-test-narrow-cpu: CaseMapKernels.FoldedSearch*
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

#include "testsupport.h"

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

namespace {

// The reference the kernels are held against: every start tried, A-Z folded
// to a-z and nothing else.
const char* referenceFind(const char* hay, long long hayLen, const char* needle, long long needleLen) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (long long i = 0; i + needleLen <= hayLen; ++i) {
        long long j = 0;
        while (j < needleLen && fold(hay[i + j]) == fold(needle[j])) ++j;
        if (j == needleLen) return hay + i;
    }
    return nullptr;
}

}  // namespace

TEST(CaseMapKernels, FoldedSearchFindsMatchesAtBlockEdgesAndSkipsBytesThatFoldOnlyByOneBit) {
    // Needles whose bytes have neighbours 0x20 away that are not their other
    // case ('-' and '\r', '@' and '`', '[' and '{', ' ' and 0, 0xC1 and 0xE1),
    // and lengths around one and two vectors.  Each hay is filled with those
    // neighbours and with copies of the needle that differ in one byte by
    // such a neighbour; a real match, in mixed case, is planted at the block
    // edges and at the end.  Hays start at every offset from a 64-byte line
    // and end where their buffer ends, for AddressSanitizer to see any load
    // past the end.
    std::string n63, n64, n65, n100;
    for (int k = 0; k < 100; ++k) {
        const char c = "aB-@[ q\r"[k % 8];
        if (k < 63) n63 += c;
        if (k < 64) n64 += c;
        if (k < 65) n65 += c;
        n100 += c;
    }
    const std::string needles[] = {"content-length", "a", "-", "ab", "a-b", "x\r", "@z`", "Q[q{",
                                   std::string("\xC1" "b\xE1"), " ", "a b", std::string("a\0b", 3),
                                   n63, n64, n65, n100};
    const long long hayLens[] = {1, 2, 13, 62, 63, 64, 65, 76, 77, 78, 127, 128, 129, 140, 141, 191, 192, 193, 255,
                                 256, 257, 300};
    std::vector<int> widths = {0, 16};
    for (int w : {32, 64}) {
        if (w <= strutil_detail::foldedSearchWidth()) widths.push_back(w);
    }
    std::mt19937 rng(17);
    long long searches = 0, found = 0;
    for (const std::string& needle : needles) {
        const long long needleLen = static_cast<long long>(needle.size());
        // The needle's bytes and their one-bit neighbours.
        std::string alphabet;
        for (char c : needle) {
            alphabet += c;
            alphabet += static_cast<char>(c ^ 0x20);
        }
        // The needle with one byte changed to its neighbour; where that byte
        // is a letter the neighbour is its other case and it still matches,
        // so only the others are decoys.
        std::vector<std::string> decoys;
        for (std::size_t k = 0; k < needle.size(); ++k) {
            const char c = needle[k];
            if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') continue;
            std::string d = needle;
            d[k] = static_cast<char>(c ^ 0x20);
            decoys.push_back(d);
        }
        for (long long hayLen : hayLens) {
            if (hayLen < needleLen) continue;
            std::string base(static_cast<std::size_t>(hayLen), ' ');
            for (auto& c : base) c = alphabet[rng() % alphabet.size()];
            for (long long at = 0; !decoys.empty() && at + needleLen <= hayLen; at += needleLen + rng() % 5) {
                const std::string& d = decoys[rng() % decoys.size()];
                base.replace(static_cast<std::size_t>(at), d.size(), d);
            }
            const long long lastStart = hayLen - needleLen;
            const long long plants[] = {-1, 0, 1, 62, 63, 64, 65, 127, 128, 129, lastStart - 1, lastStart};
            for (long long plant : plants) {
                if (plant > lastStart || (plant < 0 && plant != -1)) continue;
                std::string hay = base;
                for (long long k = 0; plant >= 0 && k < needleLen; ++k) {
                    char c = needle[static_cast<std::size_t>(k)];
                    if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
                    if (rng() % 2 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
                    hay[static_cast<std::size_t>(plant + k)] = c;
                }
                for (int offset = 0; offset < 64; ++offset) {
                    std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(offset + hayLen)]);
                    char* const h = buffer.get() + offset;
                    std::memcpy(h, hay.data(), hay.size());
                    const char* want = referenceFind(h, hayLen, needle.data(), needleLen);
                    if (plant >= 0) {
                        ASSERT_LE(want, h + plant);
                    }
                    for (int w : widths) {
                        ASSERT_EQ(strutil_detail::findFoldedWidth(w, h, hayLen, needle.data(), needleLen), want)
                            << "width " << w << ", offset " << offset << ", needle of " << needleLen
                            << ", hay of " << hayLen << ", planted at " << plant;
                    }
                    ASSERT_EQ(_stristr(h, needle.data(), hayLen, needleLen), want);
                    ++searches;
                    if (want) ++found;
                }
            }
        }
    }
    // Both outcomes were tried many times over.
    EXPECT_GT(found, 10000);
    EXPECT_GT(searches - found, 1000);
}

TEST(CaseMapKernels, FoldedSearchOfAStringFindsItsEndBeforeAnUnreadablePage) {
    // Every length from 0 to 200 at every offset from a 64-byte line, the
    // NUL as close to the page's end as that offset allows (on its last
    // byte once for every length), and again a block further from it.  The bytes before the hay and after its
    // NUL hold the needle, for a search that looked there to find it; a
    // match straddling the NUL must not be found.  Needles around the
    // one-pass search's limit of 65 bytes, longer ones measured first.
    qortest::GuardedPage page;
    ASSERT_NE(page.begin(), nullptr);
    std::string n14 = "Content-Length", n64, n65, n100;
    for (int k = 0; k < 100; ++k) {
        const char c = "aB-@[ q\r"[k % 8];
        if (k < 64) n64 += c;
        if (k < 65) n65 += c;
        n100 += c;
    }
    const std::string needles[] = {"q", "-a", n14, n64, n65, n100};
    std::vector<int> widths = {0, 16};
    for (int w : {32, 64}) {
        if (w <= strutil_detail::foldedSearchWidth()) widths.push_back(w);
    }
    enum eCase { kAtStart, kAtEnd, kAbsent, kAcrossNul };
    std::mt19937 rng(23);
    long long found = 0, searches = 0;
    for (const std::string& needle : needles) {
        const long long needleLen = static_cast<long long>(needle.size());
        // The needle in mixed case, repeated: what lies around the hay.
        std::string around;
        while (around.size() < 400) {
            for (char c : needle) around += static_cast<char>(rng() % 2 ? __acp_upper(c) : c);
        }
        for (long long hayLen = 0; hayLen <= 200; ++hayLen) {
            for (int align = 0; align < 128; ++align) {
                // Offsets from 64 on take the NUL a block further from the
                // page's end.
                const unsigned long long lastFit = reinterpret_cast<unsigned long long>(page.end() - 1 - hayLen);
                char* const hay =
                    page.end() - 1 - hayLen - ((lastFit - static_cast<unsigned>(align % 64)) & 63) - (align / 64) * 64;
                char* const nul = hay + hayLen;
                ASSERT_EQ(reinterpret_cast<unsigned long long>(hay) & 63, static_cast<unsigned>(align % 64));
                for (eCase c : {kAtStart, kAtEnd, kAbsent, kAcrossNul}) {
                    // Around the hay, then the hay itself from bytes none of
                    // the needles holds.
                    std::memcpy(hay - 128, around.data(), 128);
                    std::memcpy(nul, around.data() + 128, static_cast<std::size_t>(page.end() - nul));
                    for (long long k = 0; k < hayLen; ++k) hay[k] = "xYz.,~"[rng() % 6];
                    *nul = 0;
                    long long plant = -1;
                    if (c == kAtStart && needleLen <= hayLen) plant = 0;
                    if (c == kAtEnd && needleLen <= hayLen) plant = hayLen - needleLen;
                    for (long long k = 0; plant >= 0 && k < needleLen; ++k) hay[plant + k] = around[k];
                    if (c == kAcrossNul) {
                        // The needle's head ends the hay, its tail follows the NUL.
                        const long long head = std::min(needleLen - 1, hayLen);
                        std::memcpy(nul - head, needle.data(), static_cast<std::size_t>(head));
                        const long long tail = std::min<long long>(needleLen - head - 1, page.end() - nul - 1);
                        std::memcpy(nul + 1, needle.data() + head + 1, static_cast<std::size_t>(std::max(tail, 0LL)));
                    }
                    const char* want = referenceFind(hay, hayLen, needle.data(), needleLen);
                    if (plant >= 0) {
                        ASSERT_EQ(want, hay + plant) << hayLen << " " << needleLen;
                    } else {
                        ASSERT_EQ(want, nullptr);
                    }
                    for (int w : widths) {
                        ASSERT_EQ(strutil_detail::findFoldedTerminatedWidth(w, hay, needle.data(), needleLen), want)
                            << "width " << w << ", offset " << align % 64 << ", needle of " << needleLen << ", hay of "
                            << hayLen << ", case " << c;
                    }
                    ASSERT_EQ(_stristr(hay, needle.c_str()), want);
                    ++searches;
                    if (want) ++found;
                }
            }
        }
    }
    EXPECT_GT(found, 50000);
    EXPECT_GT(searches - found, 100000);
}

TEST(CaseMapKernels, FoldedSearchOfAStringForANeedleHoldingANulFindsNothing) {
    // Past the NUL the hay's buffer goes on with the needle's tail: only
    // the string counts, and a string holds no NUL.
    const char buffer[] = "xxab\0cd";
    const char needle[] = "AB\0CD";
    EXPECT_EQ(_stristr(buffer, needle, -1, 5), nullptr);
    EXPECT_EQ(_stristr(buffer, needle, 7, 5), buffer + 2);
    EXPECT_EQ(_stristr(buffer, needle, -1, 2), buffer + 2);
    EXPECT_EQ(_stristr(buffer, needle), buffer + 2);
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

namespace {

int commonNarrow(char* out, long long cap, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int r = strutil_detail::formatCommon(out, cap, fmt, ap);
    va_end(ap);
    return r;
}

int commonWide(unsigned short* out, long long cap, const unsigned short* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int r = strutil_detail::formatCommon(out, cap, fmt, ap);
    va_end(ap);
    return r;
}

std::basic_string<unsigned short> widened(const std::string& s) { return {s.begin(), s.end()}; }

// Formats `fmt` with one argument through every path at several capacities
// and holds each result to snprintf's.  `common`: whether the short path is
// expected to take the format itself rather than leave it to the C library.
template <typename A>
void expectAsSnprintf(const std::string& fmt, A arg, bool common) {
    SCOPED_TRACE(fmt);
    char want[96];
    const int full = std::snprintf(want, sizeof want, fmt.c_str(), arg);
    ASSERT_GE(full, 0);
    ASSERT_LT(full, static_cast<int>(sizeof want));
    const auto wideFmt = widened(fmt);
    for (const long long cap : {1LL, 4LL, static_cast<long long>(full), static_cast<long long>(full) + 1, 96LL}) {
        if (cap < 1) continue;
        const std::string kept(want, static_cast<std::size_t>(std::min<long long>(full, cap - 1)));
        char narrow[97];  // one past the largest capacity, to see nothing lands there
        unsigned short wide[96];
        if (common) {
            std::memset(narrow, 'x', sizeof narrow);
            ASSERT_EQ(commonNarrow(narrow, cap, fmt.c_str(), arg), full) << cap;
            EXPECT_EQ(std::string(narrow), kept) << cap;
            EXPECT_EQ(commonWide(wide, cap, wideFmt.c_str(), arg), full) << cap;
            EXPECT_EQ(std::basic_string<unsigned short>(wide), widened(kept)) << cap;
        } else {
            EXPECT_EQ(commonNarrow(narrow, cap, fmt.c_str(), arg), -1) << cap;
            EXPECT_EQ(commonWide(wide, cap, wideFmt.c_str(), arg), -1) << cap;
        }
        // The public functions give the C library's result either way.
        std::memset(narrow, 'x', sizeof narrow);
        EXPECT_EQ(_sprintf_s(narrow, cap, fmt.c_str(), arg), full) << cap;
        EXPECT_EQ(std::string(narrow), kept) << cap;
        EXPECT_EQ(narrow[cap], 'x') << cap;
        EXPECT_EQ(_swprintf_s(wide, cap, wideFmt.c_str(), arg), full) << cap;
        EXPECT_EQ(std::basic_string<unsigned short>(wide), widened(kept)) << cap;
    }
}

}  // namespace

// Every flag, width and length the short formatter takes, on edge values,
// against the C library; then forms it must leave to the C library.
TEST(CommonFormatting, EveryFormItTakesMatchesSnprintfAndTheRestFallBack) {
    const char* flags[] = {"", "-", "0", "-0", "0-", "00"};
    const char* widths[] = {"", "1", "3", "12", "25"};
    const int ints[] = {INT_MIN, -12345, -1, 0, 7, 255, INT_MAX};
    const long long longs[] = {LLONG_MIN, -4294967296LL, -1, 0, 4294967296LL, LLONG_MAX};
    const char* texts[] = {"", "a", "name", "a longer piece of text"};
    for (const char* flag : flags) {
        for (const char* width : widths) {
            const std::string head = std::string("<%") + flag + width;
            const bool zero = std::strchr(flag, '0') != nullptr;
            for (const char* conv : {"d", "i", "u", "x", "X"})
                for (const int v : ints) expectAsSnprintf(head + conv + ">", v, true);
            for (const char* conv : {"ld", "lli", "lu", "llx", "lX", "zu", "zx", "jd", "td"})
                for (const long long v : longs) expectAsSnprintf(head + conv + ">", v, true);
            for (const char* conv : {"s", ".0s", ".2s", ".100s"})
                for (const char* t : texts) expectAsSnprintf(head + conv + "|", t, !zero);
            for (const int c : {'A', ' ', '%'}) expectAsSnprintf(head + "c>", c, !zero);
        }
    }
    expectAsSnprintf("100%% of %d%%", 3, true);
    expectAsSnprintf("plain text, no conversion", 0, true);

    // Signs, alternate forms, precisions of numbers, stars, positions, other
    // lengths and conversions, and a null string: the C library's.
    for (const char* fmt : {"%+d", "% d", "%#x", "%5.3d", "%.0d", "%'d", "%hd", "%hhu", "%o", "%1$d", "%Ld"})
        expectAsSnprintf(fmt, 42, false);
    expectAsSnprintf("%f", 2.5, false);
    expectAsSnprintf("%p", static_cast<void*>(nullptr), false);
    expectAsSnprintf("%s", static_cast<const char*>(nullptr), false);
    expectAsSnprintf("%-10.3s", static_cast<const char*>(nullptr), false);

    // Non-ASCII text goes to the converter from the 16-bit form only.
    char narrow[16];
    unsigned short wide[16];
    EXPECT_EQ(commonNarrow(narrow, 16, "\xC3\xA9%s", "\xC3\xA9"), 4);
    EXPECT_STREQ(narrow, "\xC3\xA9\xC3\xA9");
    const unsigned short e9[] = {0xE9, '%', 's', 0}, plain[] = {'%', 's', 0}, charConv[] = {'%', 'c', 0};
    EXPECT_EQ(commonWide(wide, 16, e9, "a"), -1);
    EXPECT_EQ(commonWide(wide, 16, plain, "\xC3\xA9"), -1);
    EXPECT_EQ(commonWide(wide, 16, charConv, 0xE9), -1);
    EXPECT_EQ(commonWide(wide, 16, plain, "ok"), 2);
    EXPECT_EQ(commonNarrow(narrow, 16, "%*d", 5, 42), -1);
    EXPECT_EQ(commonNarrow(narrow, 16, "%5000d", 42), -1);  // wider than the short path takes
    std::vector<char> big(5001);
    EXPECT_EQ(_sprintf_s(big.data(), 5001, "%5000d", 42), 5000);
    EXPECT_STREQ(big.data() + 4998, "42");
}
