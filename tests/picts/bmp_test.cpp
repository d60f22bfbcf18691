// BMP and DIB decoding compared with Pillow over every depth, compression
// and header form; RLE endings as writers emit them, icon masks, the 32-bit
// writer read back by Pillow, and damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "picts/pictdib.h"
#include "picttest.h"

using picttest::Bytes;
using picttest::le;

namespace {

// A 40-byte information header.
Bytes infoHeader(long w, long h, int bpp, unsigned comp, unsigned long imageSize = 0, unsigned long used = 0) {
    Bytes b;
    le(b, 40, 4);
    le(b, static_cast<unsigned long>(w), 4);
    le(b, static_cast<unsigned long>(h), 4);
    le(b, 1, 2);
    le(b, static_cast<unsigned long>(bpp), 2);
    le(b, comp, 4);
    le(b, imageSize, 4);
    le(b, 2835, 4);
    le(b, 2835, 4);
    le(b, used, 4);
    le(b, 0, 4);
    return b;
}

Bytes bmpFile(const Bytes& info, const Bytes& palette, const Bytes& bits) {
    Bytes b = {'B', 'M'};
    const unsigned long off = 14 + info.size() + palette.size();
    le(b, off + bits.size(), 4);
    le(b, 0, 4);
    le(b, off, 4);
    b.insert(b.end(), info.begin(), info.end());
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), bits.begin(), bits.end());
    return b;
}

template <typename D>
bool decodes(const Bytes& b, D& d) { return picttest::decodeBytes(b, d); }
bool bmpDecodes(const Bytes& b) { return picttest::decodeBytes<cPictBMP>(b); }
bool bmpProbes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictBMP>(b, info); }

// Four palette entries: black, red, green, blue (B, G, R, 0).
Bytes palette4() { return {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}; }

struct BmpKind {
    static const char* kind() { return "bmp"; }
};
class BmpFiles : public picttest::GeneratedFiles<BmpKind, picttest::ImagesScript> {};

}  // namespace

TEST_F(BmpFiles, EveryDepthCompressionAndHeaderDecodesLikePillow) {
    ASSERT_GE(index_->size(), 50u);
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        const picttest::Reference ref = BmpFiles::ref(stem(entry.first));
        cPictBase::sPictInfo info;
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        if (entry.first.find(".dib") != std::string::npos) {
            ASSERT_TRUE(cPictDIB::validFor(&io, &info));
            cPictDIB dib;
            dib.setForcedPalletteLoad(true);
            ASSERT_TRUE(decodes(b, dib));
            EXPECT_EQ(dib.typeOf(), cPictBase::ptDIB);
            EXPECT_TRUE(picttest::samePixels(dib, ref));
        } else {
            ASSERT_TRUE(cPictBMP::validFor(&io, &info));
            cPictBMP bmp;
            ASSERT_TRUE(decodes(b, bmp));
            EXPECT_EQ(bmp.typeOf(), cPictBase::ptBMP);
            EXPECT_TRUE(picttest::samePixels(bmp, ref));
        }
        EXPECT_EQ(info.width, ref.width);
        EXPECT_EQ(info.height, ref.height);
    }
}

TEST_F(BmpFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"bmp_24_31x9.bmp", "bmp_rle8_33x4.bmp", "bmp_4_9x6.bmp", "bmp_v4_33x4.bmp", "bmp_24td_9x6.bmp"})
        picttest::expectTargetsMatchPlainDecode<cPictBMP>(file(name), name);
}

TEST_F(BmpFiles, TruncationAtEveryByteFails) {
    for (const char* name : {"bmp_rle8_9x6.bmp", "bmp_rle4_9x6.bmp", "bmp_24_7x5.bmp", "bmp_8_7x5.bmp", "bmp_v5_9x6.bmp"})
        picttest::expectEveryCutFails<cPictBMP>(file(name), name);
}

TEST(Bmp, ProbeAcceptsTopDownAndChecksTheFileHeader) {
    const Bytes bits(4 * 2, 0x7F);
    Bytes td = bmpFile(infoHeader(2, -2, 24, 0), {}, Bytes{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
    cPictBase::sPictInfo info;
    ASSERT_TRUE(bmpProbes(td, &info));
    EXPECT_EQ(info.height, 2);
    Bytes at53 = td;
    at53[10] = 53;
    EXPECT_FALSE(bmpProbes(at53));
    Bytes reserved = td;
    reserved[7] = 1;
    EXPECT_FALSE(bmpProbes(reserved));
    Bytes tiny = td;
    tiny[2] = 10, tiny[3] = 0;  // file size below the data offset
    EXPECT_FALSE(bmpProbes(tiny));
    for (unsigned long h : {0x80000000ul, 0ul, 0x10001ul}) {
        Bytes bad = bmpFile(infoHeader(2, static_cast<long>(h), 24, 0), {}, bits);
        EXPECT_FALSE(bmpProbes(bad)) << h;
        EXPECT_FALSE(bmpDecodes(bad)) << h;
    }
    EXPECT_FALSE(bmpProbes(bmpFile(infoHeader(2, 2, 7, 0), {}, bits)));
    EXPECT_FALSE(bmpProbes(bmpFile(infoHeader(2, 2, 24, 9), {}, bits)));
}

TEST(Bmp, CoreHeaderFollowedByAGapKeepsItsFields) {
    Bytes core;
    le(core, 12, 4);
    le(core, 1, 2);
    le(core, 1, 2);
    le(core, 1, 2);
    le(core, 24, 2);
    Bytes gap(30, 0xEE);  // pixel data at 14 + 12 + 30 = 56
    cPictBMP d;
    ASSERT_TRUE(decodes(bmpFile(core, gap, Bytes{0x10, 0x20, 0x30, 0}), d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFF302010u);
}

TEST(Bmp, RleEndingsBeforeTheLastPixelLeaveIndexZero) {
    // 4 x 3, RLE8: row 0 "1 1" then end of line; row 1 full; then end of
    // bitmap in the middle of row 2.
    const Bytes codes = {2, 1, 0, 0, 4, 2, 0, 0, 1, 3, 0, 1};
    const Bytes b = bmpFile(infoHeader(4, 3, 8, 1, codes.size(), 4), palette4(), codes);
    cPictBMP d;
    ASSERT_TRUE(decodes(b, d));
    const unsigned int k = 0xFF000000u, r = 0xFFFF0000u, g = 0xFF00FF00u, bl = 0xFF0000FFu;
    const unsigned int want[12] = {r, r, k, k, g, g, g, g, bl, k, k, k};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(d.raw8Bpp()[i], want[i]) << i;
    // End of line after the last row and then end of bitmap is fine too.
    const Bytes full = {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0, 0, 1};
    EXPECT_TRUE(bmpDecodes(bmpFile(infoHeader(4, 3, 8, 1, full.size(), 4), palette4(), full)));
    // No end of bitmap at all: the data simply stops.
    const Bytes open = {4, 1, 0, 0};
    EXPECT_FALSE(bmpDecodes(bmpFile(infoHeader(4, 3, 8, 1, open.size(), 4), palette4(), open)));
    // Runs past the line's end (the row padding some writers encode) are
    // cut at the end of the line.
    const Bytes over = {5, 1, 0, 0, 0, 5, 2, 2, 2, 2, 2, 0, 0, 1};
    cPictBMP eight;
    ASSERT_TRUE(decodes(bmpFile(infoHeader(4, 2, 8, 1, over.size(), 4), palette4(), over), eight));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(eight.raw8Bpp()[i], i < 4 ? r : g) << i;
    const Bytes over4 = {5, 0x12, 0, 1};
    cPictBMP four;
    ASSERT_TRUE(decodes(bmpFile(infoHeader(4, 1, 4, 2, over4.size(), 4), palette4(), over4), four));
    EXPECT_EQ(four.raw8Bpp()[0], r);
    EXPECT_EQ(four.raw8Bpp()[1], g);
    EXPECT_EQ(four.raw8Bpp()[3], g);
    // Delta: two pixels right, one row up.
    const Bytes delta = {1, 1, 0, 2, 2, 1, 1, 3, 0, 1};
    cPictBMP dd;
    ASSERT_TRUE(decodes(bmpFile(infoHeader(4, 2, 8, 1, delta.size(), 4), palette4(), delta), dd));
    const unsigned int wantDelta[8] = {r, k, k, k, k, k, k, bl};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dd.raw8Bpp()[i], wantDelta[i]) << i;
}

TEST(Bmp, ColourCountsAndSizesAreBounded) {
    // A colour count far beyond 2^bpp is capped: the palette the file holds
    // is read and the bitmap decodes.
    Bytes bits = {0x01, 0x02, 0, 0};
    Bytes b = bmpFile(infoHeader(2, 1, 8, 0, 4, 4), palette4(), bits);
    b[14 + 32] = 0xFF, b[14 + 33] = 0xFF, b[14 + 34] = 0xFF, b[14 + 35] = 0xFF;
    // The palette gap must then hold 256 entries: it does not, so this fails
    // cleanly instead of reading four billion entries.
    EXPECT_FALSE(bmpDecodes(b));
    Bytes pal256(1024, 0);
    pal256[4 * 2 + 2] = 0xFF;
    Bytes big = bmpFile(infoHeader(2, 1, 8, 0, 4, 0xFFFFFFFFul), pal256, bits);
    cPictBMP d;
    ASSERT_TRUE(decodes(big, d));
    EXPECT_EQ(d.raw8Bpp()[1], 0xFFFF0000u);
    // Strides and totals past 32 bits fail before anything is allocated.
    for (auto wh : {std::make_pair(0x10000L, 0x10000L), std::make_pair(0x10000L, -0x10000L), std::make_pair(1L, 0x10000L)}) {
        Bytes h = bmpFile(infoHeader(wh.first, wh.second, 32, 0), {}, Bytes(64, 1));
        EXPECT_FALSE(bmpDecodes(h));
    }
    // An index past the palette fails an uncompressed bitmap.
    Bytes outside = bmpFile(infoHeader(2, 1, 8, 0, 4, 4), palette4(), Bytes{0x01, 0x09, 0, 0});
    EXPECT_FALSE(bmpDecodes(outside));
    // Padding that is not zero fails a 24-bit bitmap.
    Bytes pad = bmpFile(infoHeader(1, 1, 24, 0), {}, Bytes{1, 2, 3, 9});
    EXPECT_FALSE(bmpDecodes(pad));
}

TEST(Bmp, SixteenBitMasksScaleEachComponentToFullRange) {
    Bytes plain = bmpFile(infoHeader(1, 1, 16, 0), {}, Bytes{0xFF, 0x7F, 0, 0});
    cPictBMP a;
    ASSERT_TRUE(decodes(plain, a));
    EXPECT_EQ(a.raw8Bpp()[0], 0xFFFFFFFFu);
    Bytes masks;
    le(masks, 0xF800, 4);
    le(masks, 0x07E0, 4);
    le(masks, 0x001F, 4);
    Bytes fields = bmpFile(infoHeader(1, 1, 16, 3), masks, Bytes{0xFF, 0xFF, 0, 0});
    cPictBMP b;
    ASSERT_TRUE(decodes(fields, b));
    EXPECT_EQ(b.raw8Bpp()[0], 0xFFFFFFFFu);
    Bytes mid = bmpFile(infoHeader(1, 1, 16, 3), masks, Bytes{0x20, 0x84, 0, 0});  // 10000 100001 00000
    cPictBMP c;
    ASSERT_TRUE(decodes(mid, c));
    EXPECT_EQ(c.raw8Bpp()[0], 0xFF000000u | (16 * 255 / 31) << 16 | (33 * 255 / 63) << 8);
}

TEST(Bmp, IconMasksApplyAlsoWhenRenderedSmaller) {
    // A 4 x 4 icon entry: 8-bit colour rows, then a 1-bit AND mask whose
    // left half is set (transparent).
    Bytes info = infoHeader(4, 8, 8, 0, 0, 4);
    Bytes entry = info;
    const Bytes pal = palette4();
    entry.insert(entry.end(), pal.begin(), pal.end());
    for (int i = 0; i < 16; ++i) entry.push_back(static_cast<unsigned char>(1 + i % 3));
    for (int r = 0; r < 4; ++r) entry.insert(entry.end(), {0xCC, 0, 0, 0});
    cPictDIB plain;
    plain.setUseAlphaBp(true);
    plain.setForcedPalletteLoad(true);
    ASSERT_TRUE(decodes(entry, plain));
    ASSERT_EQ(plain.height(), 4);
    EXPECT_EQ(plain.raw8Bpp()[0] >> 24, 0u);
    EXPECT_EQ(plain.raw8Bpp()[2] >> 24, 0xFFu);
    EXPECT_EQ(plain.raw8Bpp()[0] & 0xFFFFFF, 0xFF0000u);
    cBufWrapperIO io(entry.data(), static_cast<long long>(entry.size()), false);
    cPictBase::sPictInfo info2;
    ASSERT_TRUE(cPictDIB::validFor(&io, &info2, true));
    EXPECT_EQ(info2.height, 4);
    std::vector<unsigned int> px(4), ref(4);
    cPictBase::sExtPictDef t, u;
    t.pixels = px.data();
    u.pixels = ref.data();
    t.width = t.height = u.width = u.height = 2;
    cPictDIB small;
    small.setUseAlphaBp(true);
    small.setForcedPalletteLoad(true);
    ASSERT_TRUE(small.setExtTarget(&t));
    ASSERT_TRUE(decodes(entry, small));
    ASSERT_TRUE(plain.toExtTarget(&u));
    EXPECT_EQ(px, ref);
    // Columns 0 and 1 are masked, 2 and 3 are not: no fully opaque left
    // pixel, no transparent right one.
    EXPECT_LT(px[0] >> 24, 0x80u);
    EXPECT_EQ(px[1] >> 24, 0xFFu);
}

TEST(Bmp, ThirtyTwoBitWriterIsReadBackByPillowAndByUs) {
    cPictDummy p;
    ASSERT_TRUE(p.create_und(5, 3));
    for (int i = 0; i < 15; ++i) p.raw8Bpp()[i] = 0x10203040u * static_cast<unsigned>(i + 1) | 0x01000000u;
    cMemIOTarget mem;
    ASSERT_TRUE(cPictBMP::save(&p, &mem));
    EXPECT_EQ(mem.size(), 14 + 56 + 15 * 4);
    _typebuf<unsigned char> bytes;
    ASSERT_TRUE(mem.toBuffer(bytes));
    const Bytes b(bytes.begin(), bytes.end());
    cPictBMP back;
    ASSERT_TRUE(decodes(b, back));
    EXPECT_EQ(0, std::memcmp(back.raw8Bpp(), p.raw8Bpp(), 60));
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("out.bmp"), std::string(b.begin(), b.end())));
    const std::string got = qortest::runPython(R"(
import sys, struct, shutil, subprocess
raw = open(sys.argv[1], 'rb').read()
print(struct.unpack('<2sIII', raw[:14]), struct.unpack('<IiiHHIIiiII4I', raw[14:70]))
# Pillow does not read 56-byte headers: ImageMagick decodes the pixels.
magick = shutil.which('convert-im6.q16') or 'convert'
px = subprocess.check_output([magick, sys.argv[1], '-depth', '8', 'rgba:-'])
print(' '.join('%02x%02x%02x%02x' % (px[i + 3], px[i], px[i + 1], px[i + 2]) for i in range(0, len(px), 4)))
)",
                                               dir.file("out.bmp"));
    std::string want = "(b'BM', 130, 0, 70) (56, 5, 3, 1, 32, 3, 60, 2925, 2925, 0, 0, 16711680, 65280, 255, 4278190080)\n";
    char hex[16];
    for (int y = 2; y >= 0; --y)
        for (int x = 0; x < 5; ++x) {
            std::snprintf(hex, sizeof hex, "%08x", p.raw8Bpp()[y * 5 + x]);
            want += hex;
            want += (y == 0 && x == 4) ? "\n" : " ";
        }
    EXPECT_EQ(got, want);
    cPictDummy wide;
    ASSERT_TRUE(wide.create16(2, 1, 0xFFFF800040002000ULL));
    cMemIOTarget m2;
    ASSERT_TRUE(cPictDIB::save(&wide, &m2));
    EXPECT_EQ(m2.size(), 56 + 8);
    cPictDummy empty;
    EXPECT_FALSE(cPictDIB::save(&empty, &m2));
    EXPECT_FALSE(cPictDIB::save(nullptr, &m2));
}

TEST_F(BmpFiles, EmbeddedPngAndJpegDecodeLikePillow) {
    // A BMP whose data is a PNG (compression 5): the PNG from the PNG set.
    qortest::TempDir pngDir;
    const auto index = picttest::generate("png", pngDir.path());
    const Bytes png = picttest::readBytes(pngDir.file("pil_rgba.png"));
    const picttest::Reference ref = picttest::readReference(pngDir.file("pil_rgba.ref"));
    const Bytes b = bmpFile(infoHeader(ref.width, ref.height, 0, 5, png.size()), {}, png);
    cPictBMP d;
    ASSERT_TRUE(decodes(b, d));
    EXPECT_TRUE(picttest::samePixels(d, ref));
    // JPEG data (compression 4) goes to the library's JPEG decoder and gives
    // Pillow's pixels; bytes that are no JPEG fail; a program's own maker
    // takes its place.
    qortest::TempDir jpegDir;
    picttest::generate("jpeg", jpegDir.path(), "make_adapter_images.py");
    for (const char* name : {"jpeg_base420", "jpeg_progressive"}) {
        SCOPED_TRACE(name);
        const Bytes jpeg = picttest::readBytes(jpegDir.file(std::string(name) + ".jpg"));
        const picttest::Reference jref = picttest::readReference(jpegDir.file(std::string(name) + ".ref"));
        cPictBMP viaJpeg;
        ASSERT_TRUE(decodes(bmpFile(infoHeader(jref.width, jref.height, 0, 4, jpeg.size()), {}, jpeg), viaJpeg));
        EXPECT_TRUE(picttest::samePixels(viaJpeg, jref));
    }
    const Bytes j = bmpFile(infoHeader(3, 2, 0, 4, 4), {}, Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    EXPECT_FALSE(bmpDecodes(j));
    struct cStub : cPictDummy {
        bool decode(cFileIOTarget* s) override {
            unsigned char m[2];
            return s->readf(m, 2) && m[0] == 0xFF && m[1] == 0xD8 && create(3, 2, 0xFF123456u);
        }
    };
    cPictDIB::sEmbeddedJpegMaker = []() -> cPictBase* { return new cStub; };
    cPictBMP viaHook;
    EXPECT_TRUE(decodes(j, viaHook));
    cPictDIB::sEmbeddedJpegMaker = &cPictDIB::makeJpegDecoder;
    EXPECT_EQ(viaHook.width(), 3);
    EXPECT_EQ(viaHook.raw8Bpp()[5], 0xFF123456u);
}

// The RLE4 bitmap declares 64792 x 4102 and ends at once; a DIB has no
// file header, so the DIB probe does not take a file that starts with one.
TEST(BmpMalformed, SavedCrashInputsFailCleanly) {
    const char* const rle4 = "slow-rle4-ended-early-at-the-pixel-cap.bmp";
    picttest::replayMalformed<cPictBMP>("bmp", {picttest::refusedAfterProbe(rle4, 64792, 4102)});
    picttest::replayMalformed<cPictDIB>("bmp", {picttest::refusedByProbe(rle4)});
}
