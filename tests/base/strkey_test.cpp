#include "base/strkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

std::vector<unsigned int> wordsOf(const cStringKey& k) {
    return std::vector<unsigned int>(k.words.data(), k.words.data() + k.words.count());
}

std::vector<unsigned short> utf16(const char16_t* s) {
    std::vector<unsigned short> v;
    for (; *s; ++s) v.push_back(static_cast<unsigned short>(*s));
    v.push_back(0);
    return v;
}

TEST(StringKeyPacking, BytesGoBigEndianIntoZeroPaddedWords) {
    cStringKey k("abcde", -1);
    EXPECT_EQ(wordsOf(k), (std::vector<unsigned int>{0x61626364u, 0x65000000u}));
    EXPECT_EQ(k.num_chars(), 8u);
    EXPECT_EQ(k.as_chars(), k.words.data());
    cStringKey high("\xC3\xA9\xFF", -1);
    EXPECT_EQ(wordsOf(high), (std::vector<unsigned int>{0xC3A9FF00u}));
}

TEST(StringKeyPacking, WordCountIsTheByteCountRoundedUp) {
    const std::string text = "0123456789abcdefghij";
    for (size_t len = 0; len <= text.size(); ++len) {
        cStringKey k(text.c_str(), static_cast<long long>(len));
        EXPECT_EQ(k.words.count(), static_cast<long long>((len + 3) / 4)) << len;
    }
    EXPECT_EQ(cStringKey("abc", -1).words.count(), 1);
    EXPECT_EQ(cStringKey("abcd", -1).words.count(), 1);
    EXPECT_EQ(cStringKey("abcde", -1).words.count(), 2);
}

TEST(StringKeyPacking, ACountNoTextCouldHaveFailsInsteadOfWrapping) {
    // LLONG_MAX + 3 would wrap to a negative word count and a write before
    // the buffer; the count must fail as the allocation it asks for.
    EXPECT_THROW(cStringKey("abc", LLONG_MAX), std::bad_alloc);
    EXPECT_THROW(cStringKey("abc", LLONG_MAX - 2), std::bad_alloc);
}

TEST(StringKeyPacking, EmptyAndNullTextsGiveNoWords) {
    cStringKey empty("", -1);
    EXPECT_EQ(empty.words.count(), 0);
    EXPECT_EQ(empty.words.data(), nullptr);
    EXPECT_EQ(empty.num_chars(), 0u);
    cStringKey null(static_cast<const char*>(nullptr), 5);
    EXPECT_EQ(null.words.count(), 0);
    EXPECT_TRUE(empty == null);
    EXPECT_TRUE(empty == cStringKey());
}

TEST(StringKeyPacking, ZeroBytesInsideTheCountArePartOfTheKey) {
    cStringKey inner("a\0b", 3);
    EXPECT_EQ(wordsOf(inner), (std::vector<unsigned int>{0x61006200u}));
    EXPECT_TRUE(inner != cStringKey("a", -1));
    EXPECT_TRUE(inner > cStringKey("a", -1));
}

TEST(StringKeyPacking, Utf8GivesTheBytesInTextOrderWithPadding) {
    cStringKey k("hello", -1);
    _typebuf<char> out;
    k.utf8(out);
    ASSERT_EQ(out.count(), 8);
    EXPECT_EQ(std::string(out.data(), 8), std::string("hello\0\0\0", 8));
    cStringKey().utf8(out);
    EXPECT_EQ(out.count(), 0);
}

TEST(StringKeyOrder, TrailingPaddingIsNotSignificantButAWholeZeroWordIs) {
    EXPECT_TRUE(cStringKey("ab", -1) == cStringKey("ab\0", 3));
    cStringKey abcd("abcd", -1);
    cStringKey abcdZeros("abcd\0\0\0\0", 8);
    EXPECT_EQ(abcdZeros.words.count(), 2);
    EXPECT_TRUE(abcd < abcdZeros);
    EXPECT_TRUE(abcd != abcdZeros);
}

TEST(StringKeyOrder, PrefixSortsFirstAndOperatorsAgree) {
    const cStringKey a("abcd", -1), b("abcde", -1);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a <= b);
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(a >= b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a != b);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a <= a);
    EXPECT_TRUE(a >= a);
    EXPECT_EQ(a.cmp(a.words, b.words), -1);
    EXPECT_EQ(a.cmp(b.words, a.words), 1);
    EXPECT_EQ(cStringKey().cmp(b.words, b.words), 0);  // the key called on plays no part
    EXPECT_EQ(a.cmp(cStringKey("abce", -1).words, cStringKey("abcd", -1).words), 1);
}

TEST(StringKeyOrder, HighBytesSortAfterAscii) {
    EXPECT_TRUE(cStringKey("z", -1) < cStringKey("\x80", -1));
    EXPECT_TRUE(cStringKey("\x7F", -1) < cStringKey("\xC3\xA9", -1));
    EXPECT_TRUE(cStringKey("abc\xFF", -1) > cStringKey("abcz", -1));
}

// Python sorts the same texts by their UTF-8 bytes; the keys must give the
// same order.
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
    {
        std::ofstream f(dir.file("texts"));
        for (const std::string& s : texts) {
            for (unsigned char c : s) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", c);
                f << hex;
            }
            f << "-\n";  // the dash keeps empty texts on their own line
        }
    }
    int status = -1;
    const std::string sorted = qortest::runCommand(
        qortest::python3() + " -c \"import sys; rows=[l.rstrip('\\n')[:-1] for l in open(sys.argv[1])]; "
        "print('\\n'.join(sorted(rows, key=bytes.fromhex)))\" '" + dir.file("texts") + "'",
        &status);
    ASSERT_EQ(status, 0);
    std::vector<std::string> expected;
    std::istringstream in(sorted);
    std::string line;
    while (std::getline(in, line)) {
        std::string bytes;
        for (size_t i = 0; i + 1 < line.size(); i += 2) bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        expected.push_back(bytes);
    }
    ASSERT_EQ(expected.size(), texts.size());

    std::vector<std::string> byKey = texts;
    std::stable_sort(byKey.begin(), byKey.end(), [](const std::string& x, const std::string& y) {
        return cStringKey(x.c_str(), static_cast<long long>(x.size())) < cStringKey(y.c_str(), static_cast<long long>(y.size()));
    });
    EXPECT_EQ(byKey, expected);
}

TEST(StringKeyAssign, CopiesAndTextAssignmentReplaceTheWords) {
    cStringKey k("first key", -1);
    cStringKey copy(k);
    EXPECT_TRUE(copy == k);
    EXPECT_NE(copy.words.data(), k.words.data());
    copy = "other";
    EXPECT_TRUE(copy == cStringKey("other", -1));
    copy = static_cast<const char*>(nullptr);
    EXPECT_EQ(copy.words.count(), 0);
    copy = k;
    EXPECT_TRUE(copy == k);
    cStringKey& self = copy;
    copy = self;
    EXPECT_TRUE(copy == k);
}

TEST(StringKeyWide, TerminatedUtf16GivesTheKeyOfItsUtf8Form) {
    const auto abcd = utf16(u"abcd");
    cStringKey wide(abcd.data(), -1);
    EXPECT_EQ(wide.words.count(), 1);
    EXPECT_TRUE(wide == cStringKey("abcd", -1));
    const auto abc = utf16(u"abc");
    EXPECT_EQ(cStringKey(abc.data(), -1).words.count(), 1);
    EXPECT_TRUE(cStringKey(abc.data(), -1) == cStringKey("abc", -1));
    const auto empty = utf16(u"");
    EXPECT_EQ(cStringKey(empty.data(), -1).words.count(), 0);
    EXPECT_EQ(cStringKey(static_cast<const unsigned short*>(nullptr), -1).words.count(), 0);
    const auto mixed = utf16(u"Grüße, 日本 😀");
    EXPECT_TRUE(cStringKey(mixed.data(), -1) == cStringKey(u8"Grüße, 日本 😀", -1));
}

TEST(StringKeyWide, CountedUtf16ConvertsExactlyThoseUnits) {
    const auto text = utf16(u"abcdef");
    EXPECT_TRUE(cStringKey(text.data(), 4) == cStringKey("abcd", -1));
    EXPECT_TRUE(cStringKey(text.data(), 5) == cStringKey("abcde", -1));
    const auto withZero = utf16(u"abcd");
    // The terminator counted in: its zero byte lands in a word of its own,
    // which is dropped.
    EXPECT_TRUE(cStringKey(withZero.data(), 5) == cStringKey("abcd", -1));
}

TEST(StringKeyWide, AssignmentMatchesTheConstructor) {
    const auto text = utf16(u"Ключ");
    cStringKey k("old", -1);
    k = text.data();
    EXPECT_TRUE(k == cStringKey(u8"Ключ", -1));
    k = static_cast<const unsigned short*>(nullptr);
    EXPECT_EQ(k.words.count(), 0);
    const auto empty = utf16(u"");
    k = "x";
    k = empty.data();
    EXPECT_EQ(k.words.count(), 0);
}

}  // namespace
