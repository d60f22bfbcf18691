// XPM decoding compared with ImageMagick over one to four characters per
// pixel and the three colour forms; the text rules, and texts the reader
// cannot take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picts/pictxpm.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

struct XpmFilesKind {
    static const char* kind() { return "xpm"; }
};
class XpmFiles : public picttest::GeneratedFiles<XpmFilesKind> {};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool decodes(const Bytes& b, cPictXPM& d) { return picttest::decodeBytes(b, d); }
bool decodes(const std::string& s) {
    cPictXPM d;
    return decodes(text(s), d);
}
bool probes(const std::string& s, cPictBase::sPictInfo* info = nullptr) {
    const Bytes b = text(s);
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return cPictXPM::validFor(&io, info);
}

// A picture of the given colour strings and rows.
std::string xpm(const std::string& values, const std::vector<std::string>& colours, const std::vector<std::string>& rows) {
    std::string s = "/* XPM */\nstatic char *x[] = {\n\"" + values + "\",\n";
    for (const std::string& c : colours) s += "\"" + c + "\",\n";
    for (std::size_t i = 0; i < rows.size(); ++i) s += "\"" + rows[i] + "\"" + (i + 1 < rows.size() ? ",\n" : "\n");
    return s + "};\n";
}

}  // namespace

TEST_F(XpmFiles, EveryCodeLengthAndColourFormDecodesLikeImageMagick) { expectEveryFileMatches<cPictXPM>(12u); }

TEST_F(XpmFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"xpm_c1_20x6.xpm", "xpm_c4_20x6.xpm"})
        picttest::expectTargetsMatchPlainDecode<cPictXPM>(file(name), name);
}

TEST(Xpm, ColourFormsAndCodes) {
    cPictXPM d;
    ASSERT_TRUE(decodes(text(xpm("3 1 3 2", {"ab c #FFFF00000000", "cd c None", "ef\tc\t#0a0B0c"}, {"abcdef"})), d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFFFF0000u);
    EXPECT_EQ(d.raw8Bpp()[1], 0x00000000u);
    EXPECT_EQ(d.raw8Bpp()[2], 0xFF0A0B0Cu);
    // Names, other keys, a bad digit, a repeated or an unknown code fail.
    EXPECT_FALSE(decodes(xpm("1 1 1 1", {"a c white"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("1 1 1 1", {"a s #000000"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("1 1 1 1", {"a m #000000"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("1 1 1 1", {"a c #00g000"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("1 1 1 1", {"a c #0000000"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("1 1 2 1", {"a c #000000", "a c #FFFFFF"}, {"a"})));
    EXPECT_FALSE(decodes(xpm("2 1 1 1", {"a c #000000"}, {"ab"})));
    EXPECT_FALSE(decodes(xpm("2 1 1 1", {"a c #000000"}, {"a"})));  // a row of the wrong length
    EXPECT_TRUE(decodes(xpm("2 1 1 1", {"a c #000000"}, {"aa"})));
}

TEST(Xpm, TextRules) {
    cPictBase::sPictInfo info;
    ASSERT_TRUE(probes(xpm("5 7 1 1", {"a c None"}, {}), &info));
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 7);
    EXPECT_FALSE(probes(xpm("5 7 1 5", {}, {})));
    EXPECT_FALSE(probes(xpm("0 7 1 1", {}, {})));
    EXPECT_FALSE(probes("static char *x[] = {\"1 1 1 1\"};"));
    // The text ends before the last row.
    EXPECT_FALSE(decodes(xpm("1 2 1 1", {"a c #000000"}, {"a"})));
    // A comma is due between strings; a string ends on its line.
    EXPECT_FALSE(decodes("/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\"\n\"a c #000000\",\n\"a\"};\n"));
    EXPECT_FALSE(decodes("/* XPM */\nstatic char *x[] = {\n\"1 1 1 1,\n\"a c #000000\",\n\"a\"};\n"));
    EXPECT_FALSE(decodes("/* XPM */\nchar *x[] = {\n\"1 1 1 1\",\n\"a c #000000\",\n\"a\"};\n"));
    EXPECT_FALSE(decodes("/* XPM */\nstatic char *x[] =\n{\"1 1 1 1\",\n\"a c #000000\",\n\"a\"};\n"));
    // Comments anywhere between tokens, spanning lines.
    EXPECT_TRUE(decodes("\n  /* XPM */\n/* a\nb */ static char *x[] = { /* c */ \"1 1 1 1\" /* d */ ,\n"
                        "/* e */ \"a c #000000\", /* f\n*/ \"a\"\n"));
}

TEST(Xpm, RowsLongerThanTheReadersDefaultLineDecode) {
    // 3000 pixels of 2 characters: 6000-character lines.
    const std::string row(6000, 'a');
    cPictXPM d;
    ASSERT_TRUE(decodes(text(xpm("3000 2 1 2", {"aa c #102030"}, {row, row})), d));
    EXPECT_EQ(d.raw8Bpp()[2999], 0xFF102030u);
    // A line longer than any row can be (here blanks before the one row)
    // stops the reader with an error.
    const std::string head = "/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n\"a c #102030\",\n";
    EXPECT_TRUE(decodes(head + std::string(4000, ' ') + "\"a\"\n"));
    EXPECT_FALSE(decodes(head + std::string(64 * 1024, ' ') + "\"a\"\n"));
}

TEST(XpmMalformed, SavedCrashInputsFailCleanly) { picttest::replayMalformed<cPictXPM>("xpm", {}); }

TEST(Xpm, RowsTheTextCannotHoldAreRefusedBeforeAllocating) {
    cPictXPM d;
    EXPECT_FALSE(decodes(text(xpm("16000 16000 1 1", {"a c #000000"}, {std::string(16000, 'a')})), d));
    EXPECT_EQ(d.raw8Bpp(), nullptr);
}
