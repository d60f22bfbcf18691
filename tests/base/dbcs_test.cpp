// Double-byte, ISO-2022 and EUC decoders.  Oracles: Python's codecs (cp932,
// gbk, cp949, cp950, euc_jp, gb2312, iso2022_jp_1) in a child process and
// glibc iconv (EUC-TW, ISO-2022-CN) in this one.
#include "base/dbcs.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/textenc.h"
#include "testsupport.h"
#include "textenc_support.h"

namespace {

using namespace textenc_support;

// The lead bytes that have a row, page by page.
bool hasRow(int cp, int lead) {
    auto in = [lead](int lo, int hi) { return lead >= lo && lead <= hi; };
    switch (cp) {
    case 932: return in(0x81, 0x84) || in(0x87, 0x9F) || in(0xE0, 0xEA) || in(0xED, 0xEE) || in(0xFA, 0xFC);
    case 936: return in(0x81, 0xFE);
    case 949: return in(0x81, 0xC8) || in(0xCA, 0xFD);
    case 950: return in(0xA1, 0xC6) || in(0xC9, 0xF9);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Double-byte pages.

TEST(DoubleBytePages, EveryPairMatchesPythonCodecsBarTheUserDefinedBlocks) {
    std::string script =
        "for cp, name in ((932, 'cp932'), (936, 'gbk'), (949, 'cp949'), (950, 'cp950')):\n"
        "    for lead in range(0x81, 0xFF):\n"
        "        vals = []\n"
        "        for t in range(0x40, 0xFF):\n"
        "            try:\n"
        "                s = bytes([lead, t]).decode(name)\n"
        "                vals.append(ord(s) if len(s) == 1 else -1)\n"
        "            except UnicodeDecodeError: vals.append(-1)\n"
        "        print(cp, lead, *vals)\n";
    std::istringstream lines(python(script));
    int cp, lead, rows = 0;
    while (lines >> cp >> lead) {
        ++rows;
        for (int t = 0x40; t < 0xFF; ++t) {
            int oracle;
            lines >> oracle;
            const Units ours = decode(B({static_cast<unsigned>(lead), static_cast<unsigned>(t)}), cp);
            const unsigned short* base = cp == 932 ? __symtab_JIS932_base : cp == 936 ? __symtab_JIS936_base : __symtab_JIS950_base;
            if (base[lead] != kDbcsLeadByte) {  // 932's half-width katakana stand alone
                Units expect = U({base[lead]});
                for (u16 u : decode(std::string(1, static_cast<char>(t)), cp)) expect.push_back(u);
                EXPECT_EQ(ours, expect);
                continue;
            }
            if (!hasRow(cp, lead)) {
                // '?' for the lead, then the trail byte on its own.
                ASSERT_FALSE(ours.empty());
                EXPECT_EQ(ours[0], '?') << cp << " " << lead << " " << t;
                EXPECT_EQ(Units(ours.begin() + 1, ours.end()), decode(std::string(1, static_cast<char>(t)), cp));
                continue;
            }
            u16 expect = oracle < 0 ? u16('?') : static_cast<u16>(oracle);
            // Big5's user-defined block C6A1-C6FE: Windows gives it private-use
            // units, Python's cp950 kana and Cyrillic of the ETEN extension.
            if (cp == 950 && lead == 0xC6 && t >= 0xA1) expect = static_cast<u16>(0xF6B1 + (t - 0xA1));
            ASSERT_EQ(ours.size(), 1u) << cp << " " << lead << " " << t;
            EXPECT_EQ(ours[0], expect) << cp << std::hex << " " << lead << " " << t;
        }
    }
    EXPECT_EQ(rows, 4 * 126);
}

TEST(DoubleBytePages, SingleBytesFollowEachPagesBaseTable) {
    EXPECT_EQ(decode(B({'A', 0xA1, 0xB1, 0xDF}), 932), U({'A', 0xFF61, 0xFF71, 0xFF9F}));
    EXPECT_EQ(decode(B({0x80, 'z'}), 936), U({0x20AC, 'z'}));
    // 0x80, 0xA0 and 0xFD-0xFF are lead bytes without a row in 932.
    EXPECT_EQ(decode(B({0x80, 'a', 0xA0, 'b', 0xFD, 'c'}), 932), U({'?', 'a', '?', 'b', '?', 'c'}));
    EXPECT_EQ(decode(B({0x80, 'a', 0xC9, 'b'}), 949), U({'?', 'a', '?', 'b'}));
}

TEST(DoubleBytePages, TrailBytesBelowTheRowDecodeOnTheirOwn) {
    for (int cp : {932, 936, 949, 950}) {
        const int lead = cp == 950 ? 0xA4 : 0x82;
        EXPECT_EQ(decode(B({static_cast<unsigned>(lead), '1', 'x'}), cp), U({'?', '1', 'x'})) << cp;
        EXPECT_EQ(decode(B({static_cast<unsigned>(lead), 0x0A}), cp), U({'?', 0x0A})) << cp;
    }
}

TEST(DoubleBytePages, ALeadBeforeTheTerminatorKeepsIt) {
    for (int cp : {932, 936, 949, 950}) {
        const char text[] = {static_cast<char>(cp == 950 ? 0xA4 : 0x82), 0, 'X', 'Y'};
        u16 out[4] = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
        EXPECT_EQ(__a2w(text, -1, out, 4, cp), 1) << cp;
        EXPECT_EQ(out[0], '?') << cp;
        EXPECT_EQ(out[1], 0) << cp;
        EXPECT_EQ(out[2], 0xBEEF) << cp;
        EXPECT_EQ(__a2w_require(text, -1, cp), 2) << cp;
    }
}

TEST(DoubleBytePages, ALeadThatEndsACountedInputIsLeftForTheNextCall) {
    u16 out[4];
    EXPECT_EQ(__a2w("a\x82", 2, out, 4, 932), 1);
    EXPECT_EQ(__a2w_require("a\x82", 2, 932), 1);
    EXPECT_EQ(__a2w("a\x82\xA0", 3, out, 1, 932), 1);  // cap reached first
}

TEST(DoubleBytePages, RequireCountsAreNeverShortOnArbitraryBytes) {
    std::mt19937 rng(99);
    for (int round = 0; round < 400; ++round) {
        std::string bytes(1 + rng() % 24, '\0');
        for (char& c : bytes) {
            unsigned r = rng() % 4;
            c = static_cast<char>(r == 0 ? 0x80 + rng() % 0x80 : r == 1 ? 0x30 + rng() % 0x20 : rng());
        }
        const long long n = static_cast<long long>(bytes.size());
        for (int cp : {932, 936, 949, 950}) {
            long long need = intrnl_JIS_a2w_require(bytes.data(), n, cp);
            // Exactly sized, so AddressSanitizer sees any unit written beyond it.
            std::vector<u16> exact(static_cast<size_t>(need > 0 ? need : 1));
            EXPECT_EQ(intrnl_JIS_a2w(exact.data(), need, bytes.data(), n, cp), need) << cp;
            // n = -1: decoding up to the first zero, the terminator fits too.
            long long needZ = intrnl_JIS_a2w_require(bytes.c_str(), -1, cp);
            std::vector<u16> z(static_cast<size_t>(needZ));
            EXPECT_EQ(intrnl_JIS_a2w(z.data(), needZ, bytes.c_str(), -1, cp), needZ - 1) << cp;
            EXPECT_EQ(z.back(), 0) << cp;
            if (cp == 932) EXPECT_EQ(JIS932_require(bytes.data(), n), need);
            else EXPECT_GE(JIS936_949_950_require(bytes.data(), n), need) << cp;
        }
    }
}

// ---------------------------------------------------------------------------
// The 94 x 94 sets, EUC-JP and EUC-CN.

TEST(EucJp, EveryJisCodeMatchesPython) {
    std::string script =
        "for pre in (b'', b'\\x8f'):\n"
        "    for c1 in range(0xA1, 0xF5):\n"
        "        vals = []\n"
        "        for c2 in range(0xA1, 0xFF):\n"
        "            try:\n"
        "                s = (pre + bytes([c1, c2])).decode('euc_jp')\n"
        "                vals.append(ord(s) if len(s) == 1 else 0)\n"
        "            except UnicodeDecodeError: vals.append(0)\n"
        "        print(len(pre), c1, *vals)\n";
    std::istringstream lines(python(script));
    int plane, c1, mapped0208 = 0, mapped0212 = 0, rows = 0;
    std::vector<std::string> differences;
    while (lines >> plane >> c1) {
        ++rows;
        for (int c2 = 0xA1; c2 < 0xFF; ++c2) {
            int oracle;
            lines >> oracle;
            std::string bytes = plane ? B({0x8F}) : std::string();
            bytes += B({static_cast<unsigned>(c1), static_cast<unsigned>(c2)});
            Units ours = decode(bytes, 51932);
            int got = ours.empty() ? 0 : ours[0];
            if (got) ++(plane ? mapped0212 : mapped0208);
            if (got != oracle) {
                std::ostringstream d;
                d << std::hex << (plane ? "8f" : "") << c1 << c2 << ":" << got << "/" << oracle;
                differences.push_back(d.str());
            }
        }
    }
    EXPECT_EQ(rows, 2 * 84);
    EXPECT_EQ(mapped0208, 6879);  // the whole of JIS X 0208
    EXPECT_EQ(mapped0212, 6067);  // and of JIS X 0212
    // JIS X 0212's tilde 0x2237: U+FF5E here (as in glibc and libiconv, which
    // keep it apart from ASCII's '~'), U+007E in Python; nothing else may differ.
    for (const auto& d : differences) EXPECT_EQ(d, "8fa2b7:ff5e/7e");
    EXPECT_LE(differences.size(), 1u);
}

TEST(EucJp, UserDefinedRowsAndHalfWidthKatakana) {
    EXPECT_EQ(decode(B({0xF5, 0xA1}), 51932), U({0xE000}));
    EXPECT_EQ(decode(B({0xFE, 0xFE}), 51932), U({0xE3AB}));
    EXPECT_EQ(decode(B({0x8F, 0xF5, 0xA1}), 51932), U({0xE3AC}));
    EXPECT_EQ(decode(B({0x8F, 0xFE, 0xFE}), 51932), U({0xE757}));
    EXPECT_EQ(decode(B({0x8E, 0xB1, 0x8E, 0xDF}), 51932), U({0xFF71, 0xFF9F}));
    EXPECT_EQ(decode(B({'a', 0x8E, 0xE0, 'b'}), 51932), U({'a'}));  // not katakana: ends
    EXPECT_EQ(decode(B({'a', 0xA1, 'b'}), 51932), U({'a'}));
    EXPECT_EQ(decode(B({'a', 0xA1}), 51932), U({'a'}));  // cut pair
    EXPECT_EQ(decode(B({'a', 0x8F, 0xA2}), 51932), U({'a'}));
    EXPECT_EQ(decode(B({'a', 0x80}), 51932), U({'a'}));
}

TEST(EucCn, EveryGb2312CodeMatchesPython) {
    std::string script =
        "for c1 in range(0xA1, 0xF8):\n"
        "    vals = []\n"
        "    for c2 in range(0xA1, 0xFF):\n"
        "        try: vals.append(ord(bytes([c1, c2]).decode('gb2312')))\n"
        "        except UnicodeDecodeError: vals.append(0)\n"
        "    print(c1, *vals)\n";
    std::istringstream lines(python(script));
    int c1, rows = 0, mapped = 0;
    while (lines >> c1) {
        ++rows;
        for (int c2 = 0xA1; c2 < 0xFF; ++c2) {
            int oracle;
            lines >> oracle;
            Units ours = decode(B({static_cast<unsigned>(c1), static_cast<unsigned>(c2)}), 51936);
            int got = ours.empty() ? 0 : ours[0];
            mapped += got != 0;
            EXPECT_EQ(got, oracle) << std::hex << c1 << " " << c2;
        }
    }
    EXPECT_EQ(rows, 0xF7 - 0xA1 + 1);
    EXPECT_EQ(mapped, 7445);
}

TEST(Cns11643, BothPlanesMatchGlibcEucTw) {
    int mapped[2] = {0, 0};
    for (int plane = 0; plane < 2; ++plane)
        for (int c1 = 0x21; c1 < 0x7F; ++c1)
            for (int c2 = 0x21; c2 < 0x7F; ++c2) {
                std::string bytes = plane ? B({0x8E, 0xA2}) : std::string();
                bytes += B({static_cast<unsigned>(c1 | 0x80), static_cast<unsigned>(c2 | 0x80)});
                Units oracle;
                u16 expect = iconvToUtf16("EUC-TW", bytes, oracle) && oracle.size() == 1 ? oracle[0] : 0;
                u16 ours = plane ? cns11643_2_mbtowc(static_cast<unsigned char>(c1), static_cast<unsigned char>(c2))
                                 : cns11643_1_mbtowc(static_cast<unsigned char>(c1), static_cast<unsigned char>(c2));
                mapped[plane] += ours != 0;
                ASSERT_EQ(ours, expect) << plane << std::hex << " " << c1 << " " << c2;
            }
    EXPECT_EQ(mapped[0], 5867);
    EXPECT_EQ(mapped[1], 7650);
    EXPECT_EQ(cns11643_1_mbtowc(0x20, 0x21), 0);
    EXPECT_EQ(jisx0208_mbtowc(0x7F, 0x21), 0);
    EXPECT_EQ(gb2312_mbtowc(0x30, 0x7F), 0);
}

TEST(EucFamily, TerminatorIsWrittenAndCounted) {
    u16 out[4] = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
    for (int cp : {50221, 50227, 51932, 51936}) {
        EXPECT_EQ(__a2w("", -1, out, 4, cp), 1) << cp;
        EXPECT_EQ(out[0], 0) << cp;
        EXPECT_EQ(__a2w("Ab", -1, out, 4, cp), 3) << cp;
        EXPECT_EQ(Units(out, out + 3), U({'A', 'b', 0})) << cp;
        EXPECT_EQ(__a2w_require("Ab", -1, cp), 3) << cp;
        EXPECT_EQ(__a2w("Ab", -1, out, 2, cp), 2) << cp;  // full: no terminator
    }
}

// ---------------------------------------------------------------------------
// ISO-2022-JP and ISO-2022-CN.

TEST(Iso2022Jp, SwitchesSetsByEscapeSequences) {
    const std::string text = B({0x1B, '$', 'B', 0x30, 0x22, 0x1B, '(', 'B', 'A'});
    EXPECT_EQ(decode(text, 50221), U({0x5516, 'A'}));
    EXPECT_EQ(decode(B({'a', 0x1B, '(', 'Z', 'b'}), 50221), U({'a'}));
    EXPECT_EQ(decode(B({0x1B, '(', 'J', 0x5C, 0x7E, 'x'}), 50221), U({0xA5, 0x203E, 'x'}));
    EXPECT_EQ(decode(B({0x1B, '(', 'I', 0x31, 0x5F}), 50221), U({0xFF71, 0xFF9F}));
    EXPECT_EQ(decode(B({0x1B, '(', 'I', 0x31, 0x60}), 50221), U({0xFF71}));  // outside katakana
    EXPECT_EQ(decode(B({0x1B, '$', '(', 'D', 0x22, 0x2F}), 50221), U({0x02D8}));
    // Sequences may follow each other; one with nothing after it ends the text.
    EXPECT_EQ(decode(B({0x1B, '$', 'B', 0x1B, '(', 'B', 'q'}), 50221), U({'q'}));
    EXPECT_EQ(decode(B({'q', 0x1B, '(', 'B'}), 50221), U({'q'}));
    EXPECT_EQ(decode(B({'q', 0x1B, '$'}), 50221), U({'q'}));
    // A pair cut by the end, a byte of 0x80 or more, an unmapped code.
    EXPECT_EQ(decode(B({0x1B, '$', 'B', 0x30, 0x22, 0x30}), 50221), U({0x5516}));
    EXPECT_EQ(decode(B({'a', 0xA4}), 50221), U({'a'}));
    EXPECT_EQ(decode(B({0x1B, '$', 'B', 0x22, 0x2F}), 50221), Units());
}

TEST(Iso2022Jp, MixedTextMatchesPython) {
    std::istringstream in(python(
        "s = 'Mail: \\u65e5\\u672c\\u8a9e\\u306e\\u30c6\\u30ad\\u30b9\\u30c8 (\\u4e02\\u4e04) ok'\n"
        "print(s.encode('iso2022_jp_1').hex(), *[ord(c) for c in s])\n"));
    std::string hex, bytes;
    in >> hex;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    ASSERT_NE(bytes.find("\x1B$(D"), std::string::npos);  // JIS X 0212 in use
    Units expect;
    for (unsigned v; in >> v;) expect.push_back(static_cast<u16>(v));
    EXPECT_EQ(decode(bytes, 50221), expect);
}

TEST(Iso2022Cn, MixedTextMatchesGlibc) {
    // Simplified (GB 2312), traditional-only (CNS plane 1) and a plane-2 character.
    const std::string utf8 = "GB: \xE4\xB8\xAD\xE5\x9B\xBD, CNS1: \xE9\xBE\x9C\xE5\x8F\xB0, CNS2: \xE4\xB9\x82 end";
    std::string iso;
    ASSERT_TRUE(iconvConvert("ISO-2022-CN", "UTF-8", utf8, iso));
    ASSERT_NE(iso.find("\x1BN"), std::string::npos);  // the plane-2 character uses the single shift
    Units expect;
    ASSERT_TRUE(iconvToUtf16("ISO-2022-CN", iso, expect));
    EXPECT_EQ(decode(iso, 50227), expect);
}

TEST(Iso2022Cn, StopsAtWhatItCannotDecode) {
    EXPECT_EQ(decode(B({'a', 0x0E, 'b'}), 50227), U({'a'}));  // SO before a designation
    EXPECT_EQ(decode(B({'a', 0x1B, 'N', 0x21, 0x21}), 50227), U({'a'}));  // no plane 2 designated
    EXPECT_EQ(decode(B({'a', 0x1B, '$', ')', 'Z'}), 50227), U({'a'}));
    EXPECT_EQ(decode(B({0x1B, '$', ')', 'A', 0x0E, 0x56, 0x50, 0x0F, 'x'}), 50227), U({0x4E2D, 'x'}));
    EXPECT_EQ(decode(B({0x1B, '$', ')', 'A', 0x0E, 0x56}), 50227), Units());  // cut pair
    EXPECT_EQ(decode(B({'a', 0x1B, '$', ')'}), 50227), U({'a'}));               // cut sequence
    // With n = -1 a zero inside a sequence ends it without reading past it.
    const char text[] = {0x1B, '$', ')', 0, 'A', 0};
    u16 out[4];
    EXPECT_EQ(__a2w(text, -1, out, 4, 50227), 0);
}

TEST(Iso2022Family, ArbitraryBytesNeverOverrunExactBuffers) {
    std::mt19937 rng(5);
    const unsigned char alphabet[] = {0x1B, '$', '(', ')', '*', 'A', 'B', 'D', 'G', 'H', 'I', 'J', 'N',
                                      0x0E, 0x0F, 0x21, 0x30, 0x56, 0x7E, 0x8E, 0x8F, 0xA1, 0xB0, 0xF5};
    for (int round = 0; round < 500; ++round) {
        std::string bytes(1 + rng() % 16, '\0');
        for (char& c : bytes) c = static_cast<char>(alphabet[rng() % sizeof alphabet]);
        for (int cp : {50221, 50227, 51932, 51936}) {
            const long long n = static_cast<long long>(bytes.size());
            long long need = intrnl_2022_a2w_require(bytes.data(), n, cp);
            std::vector<u16> exact(static_cast<size_t>(need > 0 ? need : 1));
            EXPECT_EQ(intrnl_2022_a2w(exact.data(), need, bytes.data(), n, cp), need) << cp;
            long long needZ = intrnl_2022_a2w_require(bytes.c_str(), -1, cp);
            std::vector<u16> z(static_cast<size_t>(needZ > 0 ? needZ : 1));
            EXPECT_EQ(intrnl_2022_a2w(z.data(), needZ, bytes.c_str(), -1, cp), needZ) << cp;
        }
    }
    EXPECT_EQ(intrnl_2022_a2w_require("abc", -1, 932), 0);
}

}  // namespace
