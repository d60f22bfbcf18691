#include "base/strkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

using Words = std::vector<unsigned int>;

Words wordsOf(const cStringKey& k) { return Words(k.words.data(), k.words.data() + k.words.count()); }

// UTF-16 text built by the compiler from a u"" literal, terminated.
std::vector<unsigned short> utf16(const char16_t* s) {
    std::vector<unsigned short> v;
    for (; *s; ++s) v.push_back(static_cast<unsigned short>(*s));
    v.push_back(0);
    return v;
}

TEST(StringKeyPacking, BytesGoBigEndianIntoZeroPaddedWords) {
    const struct {
        const char* text;
        long long n;
        Words words;
    } rows[] = {
        {"abcde", -1, {0x61626364u, 0x65000000u}},
        {"\xC3\xA9\xFF", -1, {0xC3A9FF00u}},
        {"a\0b", 3, {0x61006200u}},  // zero bytes inside the count are part of the key
        {"abcdef", 4, {0x61626364u}},
        {"", -1, {}},
        {nullptr, 5, {}},
    };
    for (const auto& r : rows) {
        cStringKey k(r.text, r.n);
        EXPECT_EQ(wordsOf(k), r.words) << (r.text ? r.text : "null");
        EXPECT_EQ(k.num_chars(), 4 * r.words.size());
    }
    const std::string text = "0123456789abcdefghij";
    for (size_t len = 0; len <= text.size(); ++len)
        EXPECT_EQ(cStringKey(text.c_str(), static_cast<long long>(len)).words.count(), static_cast<long long>((len + 3) / 4));
    EXPECT_EQ(cStringKey("", -1).words.data(), nullptr);
    EXPECT_TRUE(cStringKey("", -1) == cStringKey());
}

TEST(StringKeyPacking, ACountNoTextCouldHaveFailsInsteadOfWrapping) {
    // LLONG_MAX + 3 would wrap to a negative word count and a write before
    // the buffer; the count must fail as the allocation it asks for.
    EXPECT_THROW(cStringKey("abc", LLONG_MAX), std::bad_alloc);
    EXPECT_THROW(cStringKey("abc", LLONG_MAX - 2), std::bad_alloc);
}

TEST(StringKeyOrder, TrailingPaddingIsNotSignificantButAWholeZeroWordIs) {
    EXPECT_TRUE(cStringKey("ab", -1) == cStringKey("ab\0", 3));
    EXPECT_TRUE(cStringKey("a\0b", 3) > cStringKey("a", -1));
    cStringKey abcd("abcd", -1), abcdZeros("abcd\0\0\0\0", 8);
    EXPECT_EQ(abcdZeros.words.count(), 2);
    EXPECT_TRUE(abcd < abcdZeros);
}

// Python sorts the same texts by their bytes; the keys must give the same
// order, high bytes after ASCII and prefixes first.
TEST(StringKeyOrder, MatchesPythonsByteOrder) {
    std::mt19937 rng(1104);
    const std::vector<std::string> alphabet = {"a", "b", "z", "A", "0", " ", "~", "\x7F", "\xC3\xA9", "\xC3\xA8",
                                               "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\x80"};
    std::vector<std::string> texts = {"", "a", "ab", "abc", "abcd", "abcde", "abcdefgh", "abcdefghi", "b"};
    for (int i = 0; i < 400; ++i) {
        std::string s;
        const int len = static_cast<int>(rng() % 11);
        for (int j = 0; j < len; ++j) s += alphabet[rng() % alphabet.size()];
        texts.push_back(s);
        if (!s.empty()) texts.push_back(s.substr(0, rng() % s.size()));  // prefixes
    }
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());

    qortest::TempDir dir;
    std::string hexLines;
    for (const std::string& s : texts) hexLines += qortest::hex(s.data(), s.size()) + "-\n";  // "-" keeps "" a line
    ASSERT_TRUE(qortest::writeFile(dir.file("texts"), hexLines));
    int status = -1;
    std::istringstream in(qortest::runPython("import sys\n"
                                             "rows = [l.rstrip('\\n')[:-1] for l in open(sys.argv[1])]\n"
                                             "print('\\n'.join(sorted(rows, key=bytes.fromhex)))\n",
                                             "'" + dir.file("texts") + "'", &status));
    ASSERT_EQ(status, 0);
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line);) {
        std::string bytes;
        for (size_t i = 0; i + 1 < line.size(); i += 2) bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        expected.push_back(bytes);
    }
    std::vector<std::string> byKey = texts;
    std::stable_sort(byKey.begin(), byKey.end(), [](const std::string& x, const std::string& y) {
        return cStringKey(x.c_str(), static_cast<long long>(x.size())) < cStringKey(y.c_str(), static_cast<long long>(y.size()));
    });
    EXPECT_EQ(byKey, expected);
}

TEST(StringKeyWide, Utf16GivesTheKeyOfItsUtf8Form) {
    const struct {
        std::vector<unsigned short> wide;
        const char* utf8;
    } cases[] = {
        {utf16(u"abc"), "abc"},
        {utf16(u"abcd"), "abcd"},  // the terminator's word is dropped
        {utf16(u"Grüße, 日本 😀"), u8"Grüße, 日本 😀"},
        {utf16(u""), ""},
    };
    for (const auto& c : cases) {
        cStringKey fromWide(c.wide.data(), -1), fromUtf8(c.utf8, -1);
        EXPECT_EQ(wordsOf(fromWide), wordsOf(fromUtf8)) << c.utf8;
        cStringKey assigned("old", -1);
        assigned = c.wide.data();
        EXPECT_EQ(wordsOf(assigned), wordsOf(fromUtf8)) << c.utf8;
    }
    // Counted: exactly those units; "ab" U+0416 is the bytes 61 62 D0 96.
    const auto text = utf16(u"abЖz");
    EXPECT_EQ(wordsOf(cStringKey(text.data(), 3)), Words{0x6162D096u});
    EXPECT_EQ(wordsOf(cStringKey(text.data(), 4)), (Words{0x6162D096u, 0x7A000000u}));
    // The terminator counted in: its zero byte lands in a word of its own, which is dropped.
    const auto abcd = utf16(u"abcd");
    EXPECT_EQ(wordsOf(cStringKey(abcd.data(), 5)), Words{0x61626364u});
    EXPECT_EQ(cStringKey(static_cast<const unsigned short*>(nullptr), -1).words.count(), 0);
    cStringKey k("x", -1);
    k = static_cast<const unsigned short*>(nullptr);
    EXPECT_EQ(k.words.count(), 0);
    // Keys of wide text sort like their UTF-8 bytes: U+00E9 (C3 A9) after 'z'.
    EXPECT_TRUE(cStringKey(utf16(u"z").data(), -1) < cStringKey(utf16(u"é").data(), -1));
}

}  // namespace
