// TGA decoding compared with Pillow and ImageMagick over every image type,
// plain and run-length, both row orders, pixel and colour-map depths; the
// header rules, clipped packets and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picts/picttga.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

bool decodes(const Bytes& b, cPictTGA& d) { return picttest::decodeBytes(b, d); }
bool decodes(const Bytes& b) { return picttest::decodeBytes<cPictTGA>(b); }
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictTGA>(b, info); }

struct TgaFilesKind {
    static const char* kind() { return "tga"; }
};
class TgaFiles : public picttest::GeneratedFiles<TgaFilesKind> {};

// An 18-byte header.
Bytes header(int type, int w, int h, int depth, int desc = 0, int mapType = 0, int first = 0, int length = 0,
             int entryBits = 0) {
    Bytes b = {0, static_cast<unsigned char>(mapType), static_cast<unsigned char>(type)};
    picttest::le(b, static_cast<unsigned>(first), 2);
    picttest::le(b, static_cast<unsigned>(length), 2);
    picttest::le(b, static_cast<unsigned>(entryBits), 1);
    picttest::le(b, 0, 4);  // origin
    picttest::le(b, static_cast<unsigned>(w), 2);
    picttest::le(b, static_cast<unsigned>(h), 2);
    picttest::le(b, static_cast<unsigned>(depth), 1);
    picttest::le(b, static_cast<unsigned>(desc), 1);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST_F(TgaFiles, EveryTypeDepthAndOrderDecodesLikeTheOracle) { expectEveryFileMatches<cPictTGA>(90u); }

TEST_F(TgaFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"tga_24_rle_t_33x4.tga", "tga_map24_raw_b_33x4.tga", "tga_grey_rle_b_7x5.tga", "tga_32_raw_t_33x4.tga"})
        picttest::expectTargetsMatchPlainDecode<cPictTGA>(file(name), name);
}

TEST_F(TgaFiles, TruncationAtEveryByteFails) {
    for (const char* name : {"tga_24_rle_t_7x5.tga", "tga_map16_rle_b_7x5.tga", "tga_32_raw_b_7x5.tga", "tga_grey_raw_t_7x5.tga"})
        picttest::expectEveryCutFails<cPictTGA>(file(name), name);
}

TEST(Tga, PacketsRunningPastTheLastPixelAreCut) {
    // 3 x 2, 24-bit RLE: one run of 128 pixels fills all six.
    cPictTGA run;
    ASSERT_TRUE(decodes(header(10, 3, 2, 24) + Bytes{0xFF, 10, 20, 30}, run));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(run.raw8Bpp()[i], 0xFF1E140Au) << i;
    // Four raw pixels, then a raw packet of 128 whose first two finish the
    // picture; the rest of its values are never read.
    cPictTGA raw;
    ASSERT_TRUE(decodes(header(11, 3, 2, 8) + Bytes{3, 1, 2, 3, 4, 0x7F, 5, 6}, raw));
    const unsigned int want[6] = {1, 2, 3, 4, 5, 6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(raw.raw8Bpp()[i], 0xFF000000u | want[i] * 0x010101u) << i;
}

TEST(Tga, HeaderRulesOfTheProbeAndTheDecoder) {
    const Bytes px(4 * 3, 0x40);
    EXPECT_TRUE(probes(header(2, 2, 2, 24) + px));
    Bytes origin = header(2, 2, 2, 24) + px;
    origin[8] = 1;
    EXPECT_FALSE(probes(origin));
    EXPECT_FALSE(probes(header(2, 0, 2, 24) + px));
    EXPECT_FALSE(probes(header(2, 2, 2, 15) + px));
    EXPECT_FALSE(probes(header(12, 2, 2, 24) + px));
    EXPECT_FALSE(probes(header(2, 2, 2, 24, 0, 1, 0, 2, 24) + px));  // a map on a true-colour type
    EXPECT_FALSE(probes(header(1, 2, 2, 8)));                        // colour-mapped without a map
    // Interleaved rows (descriptor 0x40): the probe takes it, the decoder not.
    const Bytes interleaved = header(2, 2, 2, 24, 0x40) + px;
    EXPECT_TRUE(probes(interleaved));
    EXPECT_FALSE(decodes(interleaved));
    // Depth must suit the type.
    EXPECT_FALSE(decodes(header(3, 2, 2, 24) + px));
    EXPECT_FALSE(decodes(header(2, 2, 2, 8) + px));
}

TEST(Tga, ColourIndicesCountFromTheFirstMapEntry) {
    // Map entries for values 4 and 5 (first entry 4): red, green.
    const Bytes map = {0, 0, 255, 0, 255, 0};
    cPictTGA d;
    ASSERT_TRUE(decodes(header(1, 2, 1, 8, 0, 1, 4, 2, 24) + map + Bytes{5, 4}, d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFF00FF00u);
    EXPECT_EQ(d.raw8Bpp()[1], 0xFFFF0000u);
    EXPECT_FALSE(decodes(header(1, 2, 1, 8, 0, 1, 4, 2, 24) + map + Bytes{5, 6}));  // past the map
    EXPECT_FALSE(decodes(header(1, 2, 1, 8, 0, 1, 4, 2, 24) + map + Bytes{3, 4}));  // before it
    EXPECT_FALSE(decodes(header(1, 2, 1, 8, 0, 1, 0, 2, 15) + Bytes{1, 2, 3, 4} + Bytes{0, 1}));
}

TEST(TgaMalformed, SavedCrashInputsFailCleanly) { picttest::replayMalformed<cPictTGA>("tga", {}); }

TEST(Tga, PixelDataTheStreamCannotHoldIsRefusedBeforeAllocating) {
    // 16000 x 16000 behind a few bytes, plain and run-length.
    for (int type : {2, 10}) {
        cPictTGA d;
        EXPECT_FALSE(decodes(header(type, 16000, 16000, 24) + Bytes(300, 0xFF), d)) << type;
        EXPECT_EQ(d.raw8Bpp(), nullptr) << type;
    }
    // Exactly enough run-length packets for every pixel.
    const Bytes runs = {0xFF, 1, 2, 3, 0xFF, 1, 2, 3, 0xFF, 1, 2, 3, 0xFF, 1, 2, 3};
    EXPECT_TRUE(decodes(header(10, 32, 16, 24) + runs));
}
