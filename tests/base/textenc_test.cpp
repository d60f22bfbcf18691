// qor-test-labels: tsan
// Text encodings: the registry, UTF-8 <-> UTF-16, the single-byte pages, the
// platform-text helpers and precomposition.  Oracles: glibc iconv in this
// process and Python's codecs and unicodedata in a child process.
#include "base/textenc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "textenc_support.h"

namespace {

using namespace textenc_support;

// ---------------------------------------------------------------------------
// Registry.

const int kSimplePages[] = {37,    437,   500,   737,   850,   852,   855,   857,   858,   862,
                            866,   870,   1250,  1251,  1252,  1254,  1255,  10007, 10029, 20866,
                            21866, 28591, 28592, 28593, 28595, 28596, 28597, 28598, 28599, 28605};

TEST(CodePageRegistry, ListsThirtyNinePagesInOrderWithTheirExactNames) {
    ASSERT_EQ(__text_encodings_count, 39);
    const int order[] = {65001, 1250,  1251,  1252,  1254,  1255,  850,   858,   852,   866,
                         855,   437,   862,   737,   857,   20866, 21866, 28591, 28592, 28593,
                         28595, 28596, 28597, 28598, 28599, 28605, 10007, 10029, 37,    500,
                         870,   932,   936,   949,   950,   50221, 50227, 51932, 51936};
    for (int k = 0; k < 39; ++k) EXPECT_EQ(__text_encodings[k].cp, order[k]) << k;
    EXPECT_STREQ(__text_encoding_name(932), "ANSI/OEM - Japanese, Shift-JIS ");
    EXPECT_STREQ(__text_encoding_name(1253), "Unknown");
    EXPECT_EQ(__sysDefaultCP(), 65001);
    std::set<int> simple(std::begin(kSimplePages), std::end(kSimplePages));
    for (const auto& e : __text_encodings) {
        EXPECT_EQ(isSimpleCP(e.cp), simple.count(e.cp) == 1) << e.cp;
        EXPECT_EQ(isJIS(e.cp), e.cp == 932 || e.cp == 936 || e.cp == 949 || e.cp == 950) << e.cp;
        EXPECT_EQ(isISO2022(e.cp), e.cp == 50221 || e.cp == 50227 || e.cp == 51932 || e.cp == 51936) << e.cp;
    }
    EXPECT_EQ(intrnl_ACP_symtab(1253), __symtab_dft);
}

TEST(CodePageRegistry, UnsupportedPagesConvertNothing) {
    const char* text = "abc";
    const u16 wide[] = {'a', 'b', 'c', 0};
    u16 w[8] = {0x1111};
    char a[8] = {0x11};
    EXPECT_EQ(__a2w(text, -1, w, 8, 1253), 0);
    EXPECT_EQ(w[0], 0x1111);
    EXPECT_EQ(__a2w_require(text, -1, 1253), 0);
    for (int cp : {932, 50221, 1253}) {
        EXPECT_EQ(__w2a(wide, -1, a, 8, cp), 0) << cp;
        EXPECT_EQ(a[0], 0x11) << cp;
        EXPECT_EQ(__w2a_require(wide, -1, cp), 0) << cp;
        _guardchar<char> owned;
        __w2a(wide, -1, owned, cp);
        EXPECT_TRUE(owned.empty()) << cp;
    }
}

// ---------------------------------------------------------------------------
// UTF-8.

TEST(Utf8, MixedTextMatchesIconvBothWays) {
    // Code points from every range the encodings care about: ASCII, two-,
    // three- and four-byte forms, the edges of each, private use, U+FFFF.
    std::mt19937 rng(12345);
    std::vector<unsigned> cps = {0x41, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
    std::uniform_int_distribution<unsigned> any(1, 0x10FFFF);
    for (int k = 0; k < 4000; ++k) {
        unsigned cp = any(rng) >> (rng() % 16);
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
        cps.push_back(cp);
    }
    std::string utf32;
    for (unsigned cp : cps)
        for (int b = 0; b < 4; ++b) utf32.push_back(static_cast<char>(cp >> (8 * b)));
    std::string utf8, utf16;
    ASSERT_TRUE(iconvConvert("UTF-8", "UTF-32LE", utf32, utf8));
    ASSERT_TRUE(iconvConvert("UTF-16LE", "UTF-32LE", utf32, utf16));
    EXPECT_EQ(decode(utf8, 65001), fromUtf16le(utf16));
    EXPECT_EQ(encode(fromUtf16le(utf16), 65001), utf8);
    EXPECT_EQ(decode(utf8, 0), fromUtf16le(utf16));  // 0 is UTF-8
}

TEST(Utf8, SurrogatesWrittenOneByOneStillDecodeToTheSamePair) {
    // The form earlier versions stored for U+1F600.
    EXPECT_EQ(decode(B({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), 65001), U({0xD83D, 0xDE00}));
    // A surrogate without its partner travels in three bytes and comes back.
    Units lone = U({'a', 0xDC00, 'b', 0xD800});
    std::string bytes = encode(lone, 65001);
    EXPECT_EQ(bytes, B({'a', 0xED, 0xB0, 0x80, 'b', 0xED, 0xA0, 0x80}));
    EXPECT_EQ(decode(bytes, 65001), lone);
}

TEST(Utf8, MalformedAndOverlongBytesDecodeToUnitsOfTheirOwnValue) {
    const std::string own[] = {
        B({0xC3, 0x28}), B({0x80, 'a', 0xBF}), B({0xF5, 0xFF, 0xFE}), B({0xE2, 'A', 0x82}),
        B({0xF4, 0x90, 0x80, 0x80}),  // beyond U+10FFFF
        // Overlong forms never become ASCII ('/', NUL) or anything else.
        B({0xC0, 0xAF}), B({0xC0, 0x80}), B({0xC1, 0xBF}), B({0xE0, 0x80, 0xAF}), B({0xE0, 0x9F, 0xBF}),
        B({0xF0, 0x80, 0x80, 0xAF}), B({0xF0, 0x8F, 0xBF, 0xBF}),
    };
    for (const std::string& bytes : own) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        EXPECT_EQ(decode(bytes, 65001), Units(b, b + bytes.size()));
    }
    // The shortest forms right above the overlong ones are characters.
    EXPECT_EQ(decode(B({0xC2, 0x80}), 65001), U({0x80}));
    EXPECT_EQ(decode(B({0xE0, 0xA0, 0x80}), 65001), U({0x800}));
    EXPECT_EQ(decode(B({0xF0, 0x90, 0x80, 0x80}), 65001), U({0xD800, 0xDC00}));
}

TEST(Utf8, TerminatorIsWrittenOnlyWithinCapacityAndNeverCounted) {
    u16 out[5] = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
    EXPECT_EQ(__a2w("abc", -1, out, 3, 65001), 3);
    EXPECT_EQ(out[3], 0xBEEF);
    EXPECT_EQ(__a2w("a\0b", 3, out, 5, 65001), 3);  // counted: a zero byte is U+0000
    EXPECT_EQ(out[3], 0xBEEF);
    EXPECT_EQ(__a2w("abc", -1, nullptr, 0, 65001), 4);  // no buffer: the require count
    EXPECT_EQ(__a2w(nullptr, -1, out, 5, 65001), 0);
    char a[5] = {0x7F, 0x7F, 0x7F, 0x7F, 0x7F};
    const u16 wide[] = {'a', 'b', 'c', 0};
    EXPECT_EQ(__w2a(wide, -1, a, 3, 65001), 3);
    EXPECT_EQ(a[3], 0x7F);
    EXPECT_EQ(__w2a(wide, -1, a, 4, 65001), 3);
    EXPECT_EQ(a[3], 0);
}

TEST(Utf8, CountedInputCutInsideASequenceStopsBeforeIt) {
    const std::string cut = B({'a', 'b', 0xE2, 0x82});
    u16 out[8];
    EXPECT_EQ(__a2w(cut.data(), 4, out, 8, 65001), 2);
    EXPECT_EQ(__a2w_require(cut.data(), 4, 65001), 2);
    const std::string cutPair = B({'a', 0xF0, 0x9F, 0x98});
    EXPECT_EQ(__a2w(cutPair.data(), 4, out, 8, 65001), 1);
    // The whole-text forms keep the bytes of a cut end instead of losing them.
    _guardchar<u16> owned;
    EXPECT_EQ(__a2w(cut.data(), 4, owned, 65001), 4);
    EXPECT_EQ(Units(owned.get(), owned.get() + 5), U({'a', 'b', 0xE2, 0x82, 0}));
    const char tail[] = "name\xC3";
    _pc2w(tail, -1, owned);
    EXPECT_EQ(owned.length(), 5u);
    EXPECT_EQ(owned.get()[4], 0xC3);
}

// Random byte strings: valid sequences of every length mixed with malformed
// bytes (encoded surrogates aside, which Python refuses and we accept).
std::vector<std::string> randomUtf8Texts(unsigned seed, int count) {
    std::mt19937 gen(seed);
    auto rng = [&gen] { return static_cast<unsigned>(gen()); };
    std::vector<std::string> texts;
    for (int t = 0; t < count; ++t) {
        std::string s;
        size_t target = rng() % 300;
        while (s.size() < target) {
            switch (rng() % 8) {
            case 0:
            case 1: s += static_cast<char>('a' + rng() % 26); break;
            case 2: s += B({0xC2 + rng() % 30, 0x80 + rng() % 64}); break;
            case 3: s += B({0xE1 + rng() % 12, 0x80 + rng() % 64, 0x80 + rng() % 64}); break;
            case 4: s += B({0xF0, 0x90 + rng() % 48, 0x80 + rng() % 64, 0x80 + rng() % 64}); break;
            case 5: s += std::string(20, static_cast<char>('A' + rng() % 26)); break;
            default: {
                unsigned b = rng() % 256;
                if (b == 0xED) b = 0xEE;
                s += static_cast<char>(b ? b : 1);
            }
            }
        }
        s += 'z';  // never ends in a cut sequence, which a counted decode leaves for later
        texts.push_back(s);
    }
    return texts;
}

std::string hex(const std::string& s) { return qortest::hex(s.data(), s.size()); }

TEST(Utf8, ArbitraryBytesDecodeLikePythonWithTheByteValueFallback) {
    const std::vector<std::string> texts = randomUtf8Texts(2024, 150);
    std::string script =
        "import codecs, sys\n"
        "codecs.register_error('byte', lambda e: (chr(e.object[e.start]), e.start + 1))\n"
        "for line in sys.stdin.read().split():\n"
        "    s = bytes.fromhex(line[1:]).decode('utf-8', 'byte')\n"
        "    w = s.encode('utf-16-le', 'surrogatepass')\n"
        "    print(len(w) // 2, *[w[i] | w[i + 1] << 8 for i in range(0, len(w), 2)])\n";
    std::string input;
    for (const auto& t : texts) input += "x" + hex(t) + "\n";
    std::istringstream lines(python(script, input));
    for (const auto& t : texts) {
        size_t count = 0;
        ASSERT_TRUE(lines >> count);
        Units expect(count);
        for (auto& u : expect) lines >> u;
        _guardchar<u16> whole;
        long long got = __a2w(t.data(), static_cast<long long>(t.size()), whole, 65001);
        ASSERT_EQ(Units(whole.get(), whole.get() + got), expect) << hex(t);
        // Any capacity gives a prefix of whole characters and writes nothing beyond it.
        for (long long cap : {1LL, 15LL, 16LL, 17LL, 31LL, got / 2, got - 1}) {
            if (cap <= 0 || cap >= got) continue;
            Units out(static_cast<size_t>(cap) + 1, 0xBEEF);
            long long part = __a2w(t.data(), static_cast<long long>(t.size()), out.data(), cap, 65001);
            ASSERT_LE(part, cap);
            EXPECT_GE(part, cap - 1);
            EXPECT_EQ(out[static_cast<size_t>(cap)], 0xBEEF);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + part, expect.begin())) << cap;
            // Never half a pair.
            const u16 last = part > 0 ? out[static_cast<size_t>(part) - 1] : 0;
            EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF);
        }
    }
}

TEST(Utf8, ArbitraryUnitsEncodeLikePythonWithSurrogatesPassed) {
    std::mt19937 rng(77);
    std::vector<Units> texts;
    for (int t = 0; t < 150; ++t) {
        Units u(rng() % 200);
        for (auto& v : u) {
            unsigned r = rng() % 6;
            v = static_cast<u16>(r < 2 ? 'a' + rng() % 26 : r == 2 ? 0x80 + rng() % 0x780 : r == 3 ? 0xD800 + rng() % 0x800 : 1 + rng() % 0xFFFF);
        }
        texts.push_back(u);
    }
    std::string input;
    for (const auto& u : texts) {
        std::string le;
        for (u16 v : u) le += B({v & 0xFFu, static_cast<unsigned>(v) >> 8});
        input += "x" + hex(le) + "\n";
    }
    std::istringstream lines(python("import sys\n"
                                    "for line in sys.stdin.read().split():\n"
                                    "    s = bytes.fromhex(line[1:]).decode('utf-16-le', 'surrogatepass')\n"
                                    "    print('x' + s.encode('utf-8', 'surrogatepass').hex())\n",
                                    input));
    for (const auto& u : texts) {
        std::string line;
        ASSERT_TRUE(lines >> line);
        std::string bytes = encode(u, 65001);
        EXPECT_EQ("x" + hex(bytes), line);
        for (long long cap : {8LL, 9LL, 10LL, 11LL, static_cast<long long>(bytes.size()) - 1}) {
            if (cap <= 0 || cap >= static_cast<long long>(bytes.size())) continue;
            std::string out(static_cast<size_t>(cap) + 1, '\x7F');
            long long part = __w2a(u.data(), static_cast<long long>(u.size()), out.data(), cap, 65001);
            ASSERT_LE(part, cap);
            EXPECT_GE(part, cap - 3);
            EXPECT_EQ(out[static_cast<size_t>(cap)], '\x7F');
            EXPECT_EQ(out.substr(0, static_cast<size_t>(part)), bytes.substr(0, static_cast<size_t>(part)));
            // A cut only ever falls before a lead or ASCII byte.
            EXPECT_NE(static_cast<unsigned char>(bytes[static_cast<size_t>(part)]) & 0xC0, 0x80u);
        }
    }
}

TEST(Utf8, OffsetsAndCountsMapEachInputUnit) {
    // "a" U+00E9 U+1F600 "b"
    const std::string text = B({'a', 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 'b'});
    u16 out[8];
    int offsets[9];
    std::fill(std::begin(offsets), std::end(offsets), -7);
    EXPECT_EQ(utf82w(text.c_str(), -1, out, 8, offsets), 5);
    EXPECT_EQ(std::vector<int>(offsets, offsets + 9), (std::vector<int>{0, 1, 1, 2, 2, 2, 2, 4, 5}));
    // A lead whose continuation bytes are missing ends utf82w ...
    EXPECT_EQ(utf82w(B({'a', 'b', 0xE2, 'x'}).c_str(), -1, out, 8, nullptr), 2);
    // ... a byte that starts nothing is a unit of its own.
    EXPECT_EQ(utf82w(B({'a', 0x80, 'x'}).c_str(), -1, out, 8, nullptr), 3);
    EXPECT_EQ(out[1], 0x80);

    const Units wide = U({'a', 0xE9, 0xD83D, 0xDE00, 'b'});
    char bytes[16];
    int counts[5];
    EXPECT_EQ(w2utf8(wide.data(), 5, bytes, 16, counts), 8);
    EXPECT_EQ(std::vector<int>(counts, counts + 5), (std::vector<int>{1, 3, 7, 7, 8}));
}

// ---------------------------------------------------------------------------
// Single-byte pages.

const u16 kPcGlyphs[32] = {0,      0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
                           0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
                           0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

// The rows where the pages follow Windows instead of the published charts:
// true when `ours` is what Windows gives for byte b where the chart says
// `chart` (-1: undefined).
bool windowsDeviation(int cp, int b, u16 ours, int chart) {
    const bool pua = (ours >= 0xF79C && ours <= 0xF7FB) || (ours >= 0xF8BB && ours <= 0xF8BD);
    if (cp == 437 && b < 0x20) return ours == kPcGlyphs[b];
    if (cp == 437 && b == 0x7F) return ours == 0x2302;
    if (cp == 28597 && b == 0xA1) return ours == 0x02BD;
    if (cp == 28597 && b == 0xA2) return ours == 0x02BC;
    if (cp == 28597 && (b == 0xA4 || b == 0xA5 || b == 0xAA)) return pua;
    if (cp == 28598 && b == 0xAF) return ours == 0x203E;
    if (cp == 28598 && (b == 0xFD || b == 0xFE)) return pua;
    if (cp == 21866 && b == 0xAE) return ours == 0x045E;
    if (cp == 21866 && b == 0xBE) return ours == 0x040E;
    if (cp == 10007 && b == 0xA2) return ours == 0x00A2;
    if (cp == 10007 && b == 0xB6) return ours == 0x2202;
    if (cp == 10007 && b == 0xFF) return ours == 0x00A4;
    if (chart >= 0) return false;
    if (cp == 1250 || cp == 1251 || cp == 1255) return ours == '?';
    if (cp == 1252 || cp == 1254) return ours == b;
    if (cp == 28593 || cp == 28596 || cp == 28597 || cp == 28598 || cp == 857) return pua;
    return false;
}

TEST(SingleBytePages, MatchPythonCodecsBarTheWindowsRows) {
    std::string script =
        "import codecs\n"
        "names = {37:'cp037',437:'cp437',500:'cp500',737:'cp737',850:'cp850',852:'cp852',855:'cp855',\n"
        "  857:'cp857',858:'cp858',862:'cp862',866:'cp866',1250:'cp1250',1251:'cp1251',1252:'cp1252',\n"
        "  1254:'cp1254',1255:'cp1255',10007:'mac_cyrillic',10029:'mac_latin2',20866:'koi8_r',\n"
        "  21866:'koi8_u',28591:'latin_1',28592:'iso8859_2',28593:'iso8859_3',28595:'iso8859_5',\n"
        "  28596:'iso8859_6',28597:'iso8859_7',28598:'iso8859_8',28599:'iso8859_9',28605:'iso8859_15'}\n"
        "for cp, name in names.items():\n"
        "    for b in range(1, 256):\n"
        "        try: v = ord(bytes([b]).decode(name))\n"
        "        except UnicodeDecodeError: v = -1\n"
        "        print(cp, b, v)\n";
    std::istringstream lines(python(script));
    int cp, b, v, rows = 0;
    std::map<int, int> differences;
    while (lines >> cp >> b >> v) {
        ++rows;
        u16 ours = __a2w(static_cast<char>(b), cp);
        if (ours == v) continue;
        ++differences[cp];
        EXPECT_TRUE(windowsDeviation(cp, b, ours, v)) << cp << " byte " << b << ": ours " << ours << ", chart " << v;
    }
    EXPECT_EQ(rows, 29 * 255);
    EXPECT_EQ(differences[437], 32);
    EXPECT_EQ(differences[28598], 36 + 3);
}

TEST(SingleBytePages, EveryByteSurvivesARoundTripUnlessAnotherLowerByteSharesItsUnit) {
    for (int cp : kSimplePages) {
        const u16* table = intrnl_ACP_symtab(cp);
        for (int b = 1; b < 256; ++b) {
            int lowest = b;
            for (int c = 1; c < b; ++c)
                if (table[c] == table[b]) {
                    lowest = c;
                    break;
                }
            EXPECT_EQ(static_cast<unsigned char>(__w2a(table[b], cp)), lowest) << cp << " byte " << b;
        }
    }
}

TEST(SingleBytePages, UnknownUnitsBecomeThePagesQuestionMarkAndZeroEndsTheText) {
    EXPECT_EQ(encode(U({0x20AC, 0x0416}), 28591), "??");
    EXPECT_EQ(encode(U({'A', 0x4E00}), 37), B({0xC1, 0x6F}));  // EBCDIC's '?' is 0x6F
    // Where undefined bytes decode to '?', '?' still encodes to itself.
    for (int cp : {1250, 1251, 1255}) EXPECT_EQ(encode(U({'a', '?', 0x4E00}), cp), "a??") << cp;
    EXPECT_EQ(__w2a(u16(0x4E00), 1252), 0);
    u16 out[6] = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
    EXPECT_EQ(__a2w("ab\0cd", 5, out, 6, 1251), 2);
    EXPECT_EQ(out[3], 0xBEEF);
    EXPECT_EQ(__a2w_require("ab\0cd", 5, 1251), 5);
    const u16 wide[] = {'x', 'y', 0, 'z'};
    char a[4] = {1, 1, 1, 1};
    EXPECT_EQ(__w2a(wide, 4, a, 4, 1252), 2);
    EXPECT_EQ(a[3], 1);
    _guardchar<u16> w;
    EXPECT_EQ(__a2w("\xC6", 1, w, 1251), 1);
    EXPECT_EQ(w.get()[0], 0x416);
    _guardchar<char> owned;
    EXPECT_EQ(__w2a(U({0x416, 0}).data(), 1, owned, 1251), 1);
    EXPECT_STREQ(owned.get(), "\xC6");
}

TEST(SingleBytePages, FirstEncodingsFromManyThreadsAgree) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&wrong] {
            for (int cp : kSimplePages) {
                const u16* table = intrnl_ACP_symtab(cp);
                for (int b = 0x41; b < 0x5B; ++b)
                    if (static_cast<unsigned char>(__w2a(table[b], cp)) != b) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

// ---------------------------------------------------------------------------
// Owned buffers and platform text.

TEST(PlatformText, CopiesTypedBuffersAndRequireCounts) {
    char out[8];
    EXPECT_EQ(_a2pc_require("hello", -1), 6);
    EXPECT_EQ(_pc2a("hello", -1, out, 3), 2);
    EXPECT_STREQ(out, "he");
    _typebuf<char> buf, copy;
    _a2pc("abc", -1, buf);
    _a2pc(nullptr, -1, buf);  // null text leaves it as it was
    _pc2a(buf, copy);
    EXPECT_EQ(std::string(copy.data(), static_cast<size_t>(copy.count())), "abc");
    const u16 wide[] = {'a', 0xE9, 0};
    _typebuf<char> utf8, again;
    _w2pc(wide, -1, utf8);  // typed buffers carry no terminator
    EXPECT_EQ(std::string(utf8.data(), static_cast<size_t>(utf8.count())), "a\xC3\xA9");
    _typebuf<u16> back;
    _pc2w(utf8, back);
    EXPECT_EQ(Units(back.begin(), back.end()), U({'a', 0xE9}));
    _w2pc(back, again);
    EXPECT_EQ(again.count(), 3);
    EXPECT_EQ(_w2pc_require(wide, -1), 4);
    EXPECT_EQ(_pc2w_require("a\xC3\xA9", -1), 3);
    EXPECT_EQ(_w2pc(wide, -1, nullptr, 4), 0);
    _guardchar<char> g;
    _a2pc("abcdef", 4, g);
    EXPECT_STREQ(g.get(), "abcd");
    // UTF-8 copies are cut only between characters.
    const char* text = "a\xE2\x82\xAC" "b";
    EXPECT_EQ(_pc2enc(text, -1, out, 3, 65001), 1);
    EXPECT_EQ(_pc2enc(text, -1, out, 8, 65001), 5);
    EXPECT_EQ(_pc2enc_require(text, -1, 65001), 6);
    EXPECT_EQ(_enc2pc(text, 2, out, 8, 0), 2);
}

TEST(PlatformText, PageTextToAndFromUtf8GoesThroughUtf16) {
    const std::string cp1251 = B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2});  // "Привет"
    std::string expect;
    ASSERT_TRUE(iconvConvert("UTF-8", "CP1251", cp1251, expect));
    _guardchar<char> g;
    _enc2pc(cp1251.c_str(), -1, g, 1251);
    EXPECT_EQ(std::string(g.get()), expect);
    EXPECT_EQ(_enc2pc_require(cp1251.c_str(), -1, 1251), static_cast<long long>(expect.size()) + 1);
    std::vector<char> out(expect.size() + 1, '\x7F');
    EXPECT_EQ(_enc2pc(cp1251.c_str(), -1, out.data(), static_cast<long long>(out.size()), 1251),
              static_cast<long long>(expect.size()));
    EXPECT_EQ(std::string(out.data()), expect);

    EXPECT_EQ(_pc2enc_require(expect.c_str(), -1, 1251), 7);
    std::vector<char> back(7, '\x7F');
    EXPECT_EQ(_pc2enc(expect.c_str(), -1, back.data(), 7, 1251), 6);
    EXPECT_EQ(std::string(back.data()), cp1251);
    // Shift-JIS decodes through the double-byte decoder.
    _enc2pc("\x82\xA0", -1, g, 932);
    EXPECT_STREQ(g.get(), "\xE3\x81\x82");  // U+3042
}

TEST(Precomposition, TableIsTheCanonicalPairDecompositionsOfUnicode32) {
    std::string script =
        "import unicodedata\n"
        "db = unicodedata.ucd_3_2_0\n"
        "for c in range(0x10000):\n"
        "    d = db.decomposition(chr(c))\n"
        "    if d and not d.startswith('<'):\n"
        "        p = [int(x, 16) for x in d.split()]\n"
        "        if len(p) == 2 and max(p) <= 0xFFFF: print(p[0], p[1], c)\n";
    std::istringstream lines(python(script));
    std::map<unsigned, unsigned> oracle;
    unsigned base, mark, c;
    while (lines >> base >> mark >> c) oracle[base << 16 | mark] = c;
    ASSERT_EQ(oracle.size(), 989u);
    std::map<unsigned, unsigned> ours;
    for (int k = 0; k < __precompositions_count; ++k) {
        ours[precompositions[k].key] = precompositions[k].composed;
        EXPECT_EQ(precompositions[k].reserved, 0);
        if (k > 0) {
            EXPECT_LT(precompositions[k - 1].key, precompositions[k].key);
        }
    }
    EXPECT_EQ(ours, oracle);
    EXPECT_EQ(precompositions[989].key, 0u);
    EXPECT_EQ(precompositions[989].composed, 0);
}

TEST(Precomposition, FoldsOneMarkIntoItsBaseInUnitsAndInUtf8Names) {
    u16 out[8];
    const Units in = U({'A', 0x300, 'e', 0x301, 0x301, 0x5D9, 0x5B4, 0x308, 0x09});
    EXPECT_EQ(Units(out, out + _precompose_glyphs(in.data(), 9, out, 8, false)), U({0xC0, 0xE9, 0x301, 0xFB1D, 0x308, '.'}));
    EXPECT_EQ(_get_precomposed_glyph(U({0x308, 0x301}).data()), 0x344);  // excluded from NFC, folded all the same
    EXPECT_EQ(_get_precomposed_glyph(nullptr), 0);
    const Units big = U({0x4100, 0x0003});  // 'A' U+0300 byte-swapped
    EXPECT_EQ(_precompose_glyphs(big.data(), 2, out, 4, true), 1);
    EXPECT_EQ(out[0], 0xC0);
    EXPECT_EQ(_precompose_glyphs(in.data(), 4, out, 1, false), 1);  // stops when full
    EXPECT_EQ(_precompose_glyphs(nullptr, 4, out, 2, false), 0);
    _guardchar<char> name;
    _precompose_glyphs("Cafe\xCC\x81.txt", -1, name);
    EXPECT_STREQ(name.get(), "Caf\xC3\xA9.txt");
    _precompose_glyphs(U({'u', 0x308, 'e'}).data(), 3, name, false);
    EXPECT_STREQ(name.get(), "\xC3\xBC" "e");
    _guardchar<char> kept("keep");
    _precompose_glyphs("", -1, kept);
    EXPECT_STREQ(kept.get(), "keep");
}

TEST(Precomposition, FirstUseFromManyThreadsLoadsOneTable) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&wrong] {
            checkInitPrecompose();
            const u16 pair[] = {'o', 0x308};
            if (_get_precomposed_glyph(pair) != 0xF6) ++wrong;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
