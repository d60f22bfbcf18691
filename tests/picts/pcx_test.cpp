// PCX decoding compared with Pillow over palette, grey and RGB files and
// files whose only palette is the header's; header rules, runs, damaged
// files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picts/pictpcx.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

bool decodes(const Bytes& b, cPictPCX& d) { return picttest::decodeBytes(b, d); }
bool decodes(const Bytes& b) { return picttest::decodeBytes<cPictPCX>(b); }
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictPCX>(b, info); }

struct PcxFilesKind {
    static const char* kind() { return "pcx"; }
};
class PcxFiles : public picttest::GeneratedFiles<PcxFilesKind> {};

// A 128-byte header; palette16: the 48 bytes at 16 (or zeros).
Bytes header(int xmax, int ymax, int planes, int bpl, const Bytes& palette16 = {}) {
    Bytes h(128, 0);
    h[0] = 10, h[1] = 5, h[2] = 1, h[3] = 8;
    h[8] = static_cast<unsigned char>(xmax), h[9] = static_cast<unsigned char>(xmax >> 8);
    h[10] = static_cast<unsigned char>(ymax), h[11] = static_cast<unsigned char>(ymax >> 8);
    h[12] = 72, h[14] = 72;
    for (std::size_t i = 0; i < palette16.size() && i < 48; ++i) h[16 + i] = palette16[i];
    h[65] = static_cast<unsigned char>(planes);
    h[66] = static_cast<unsigned char>(bpl), h[67] = static_cast<unsigned char>(bpl >> 8);
    h[68] = 1;
    return h;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A header palette of 16 grey levels 0, 17, ..., 255.
Bytes greys16() {
    Bytes p;
    for (int i = 0; i < 16; ++i) p.insert(p.end(), 3, static_cast<unsigned char>(i * 17));
    return p;
}

}  // namespace

TEST_F(PcxFiles, EveryPlaneLayoutAndPaletteDecodesLikePillow) { expectEveryFileMatches<cPictPCX>(12u); }

TEST_F(PcxFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"pcx_rgb_17x6.pcx", "pcx_p_64x5.pcx", "pcx_hdrpal_17x6.pcx"})
        picttest::expectTargetsMatchPlainDecode<cPictPCX>(file(name), name);
}

TEST_F(PcxFiles, TruncationAtEveryByteFails) {
    for (const char* name : {"pcx_rgb_8x3.pcx", "pcx_hdrpal_8x3.pcx"})
        picttest::expectEveryCutFails<cPictPCX>(file(name), name);
}

TEST(Pcx, HeaderRules) {
    const Bytes data(10 * 5, 0x01);
    const Bytes ok = header(9, 4, 1, 10, greys16()) + data;
    cPictBase::sPictInfo info;
    ASSERT_TRUE(probes(ok, &info));
    EXPECT_EQ(info.width, 10);
    EXPECT_EQ(info.height, 5);
    cPictPCX d;
    ASSERT_TRUE(decodes(ok, d));
    EXPECT_EQ(d.width(), 10);
    EXPECT_EQ(d.height(), 5);
    EXPECT_EQ(d.raw8Bpp()[0], 0xFF111111u);
    Bytes v3 = ok;
    v3[1] = 3;
    EXPECT_FALSE(probes(v3));
    Bytes four = ok;
    four[65] = 4;
    EXPECT_FALSE(probes(four));
    Bytes xmin = ok;
    xmin[4] = 1;
    EXPECT_FALSE(probes(xmin));
    EXPECT_FALSE(probes(header(9, 4, 1, 9, greys16()) + data));  // lines shorter than the width
    Bytes noRes = ok;
    noRes[12] = 0;
    EXPECT_FALSE(probes(noRes));
}

TEST(Pcx, HeaderPaletteRulesAndShortFiles) {
    // No trailer and an all-zero header palette: nothing to draw with.
    EXPECT_FALSE(decodes(header(1, 0, 1, 2) + Bytes{1, 2}));
    // A file shorter than the trailer takes the header palette; indices 16
    // and up fail.
    cPictPCX d;
    ASSERT_TRUE(decodes(header(1, 0, 1, 2, greys16()) + Bytes{15, 3}, d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFFFFFFFFu);
    EXPECT_EQ(d.raw8Bpp()[1], 0xFF333333u);
    EXPECT_FALSE(decodes(header(1, 0, 1, 2, greys16()) + Bytes{16, 3}));
    // A long file with the trailer uses its 256 colours.
    Bytes trailer(769, 0);
    trailer[0] = 12;
    trailer[1 + 3 * 200] = 0xAB;
    cPictPCX t;
    ASSERT_TRUE(decodes(header(1, 0, 1, 2, greys16()) + Bytes{0xC1, 200, 0xC1, 200} + trailer, t));
    EXPECT_EQ(t.raw8Bpp()[0], 0xFFAB0000u);
}

TEST(Pcx, RunsAcrossPlanesAndTheRowEnd) {
    // 2 x 2, three planes, 2 bytes a line: one run of 6 paints the whole
    // first row (red, green and blue 9); a run byte 0xC0 gives its value
    // once.  A run longer than the second row stops at the row's end.
    const Bytes body = {0xC6, 9, 0xC0, 1, 2, 3, 4, 0xFF, 5};
    cPictPCX d;
    ASSERT_TRUE(decodes(header(1, 1, 3, 2) + body, d));
    EXPECT_EQ(d.raw8Bpp()[2], 0xFF090909u);  // top row
    EXPECT_EQ(d.raw8Bpp()[3], 0xFF090909u);
    EXPECT_EQ(d.raw8Bpp()[0], 0xFF010305u);
    EXPECT_EQ(d.raw8Bpp()[1], 0xFF020405u);
}

TEST(PcxMalformed, SavedCrashInputsFailCleanly) { picttest::replayMalformed<cPictPCX>("pcx", {}); }

TEST(Pcx, RowsTheStreamCannotHoldAreRefusedBeforeAllocating) {
    cPictPCX d;
    EXPECT_FALSE(decodes(header(9999, 9999, 3, 10000) + Bytes(2000, 0xFF), d));
    EXPECT_EQ(d.raw8Bpp(), nullptr);
    // 64 values a line: a run of 63 and one lone value, three bytes a row.
    Bytes rows;
    for (int r = 0; r < 200 * 3; ++r) rows.push_back(r % 3 ? 7 : 0xFF);
    EXPECT_TRUE(decodes(header(63, 199, 1, 64, greys16()) + rows));
}
