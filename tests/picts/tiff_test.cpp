// TIFF decoding compared with the pictures Pillow wrote and tiffcp re-packed
// (strips and tiles, several compressions, BigTIFF, 16-bit grey kept at its
// depth); damaged and hostile files fail quietly.
#include <gtest/gtest.h>

#include <functional>

#include "adaptertest.h"
#include "allocmeter.h"
#include "base/bytereader.h"
#include "picts/picttiff.h"

using adaptertest::Bytes;

namespace {

struct TiffKind {
    static const char* kind() { return "tiff"; }
};
class TiffFiles : public picttest::GeneratedFiles<TiffKind, picttest::AdapterScript> {};

void put16(Bytes& b, unsigned v) { picttest::le(b, v, 2); }
void put32(Bytes& b, unsigned long v) { picttest::le(b, v, 4); }

// A little-endian TIFF of one uncompressed 8-bit grey strip whose header
// claims width x height; `data` bytes of strip follow the directory.
Bytes greyTiff(unsigned long width, unsigned long height, std::size_t data, unsigned long stripBytes) {
    Bytes b = {'I', 'I', 42, 0};
    put32(b, 8);
    const struct {
        unsigned tag, type;
        unsigned long value;
    } entries[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},         {259, 3, 1},
                   {262, 3, 1},     {273, 4, 0},      {277, 3, 1},         {278, 4, height},
                   {279, 4, stripBytes}};
    const unsigned long dataAt = 8 + 2 + 9 * 12 + 4;
    put16(b, 9);
    for (const auto& e : entries) {
        put16(b, e.tag);
        put16(b, e.type);
        put32(b, 1);
        if (e.type == 3) {
            put16(b, static_cast<unsigned>(e.value));
            put16(b, 0);
        } else {
            put32(b, e.tag == 273 ? dataAt : e.value);
        }
    }
    put32(b, 0);
    for (std::size_t i = 0; i < data; ++i) b.push_back(static_cast<unsigned char>(i * 7));
    return b;
}

}  // namespace

TEST_F(TiffFiles, StripsTilesAndCompressionsDecodeLikeTheirSources) {
    adaptertest::decodeAllLikeReferences<cPictTIFF>(dir_->path(), *index_);
}

TEST_F(TiffFiles, DamagedFilesFailQuietly) {
    for (const char* name : {"tiff_RGB_lzw.tif", "tiff_L_tiles.tif", "tiff_bw_g4.tif", "tiff_RGBA_bigtiff.tif"}) {
        SCOPED_TRACE(name);
        adaptertest::damagedFormsFail<cPictTIFF>(file(name));
    }
}

// Hand-made files whose header is the only thing wrong with them.
TEST(TiffHeaders, SizesPastTheCapOrPastTheDataFail) {
    // A sound 5 x 3 file decodes: proof that the writer above is right.
    const Bytes ok = greyTiff(5, 3, 15, 15);
    cPictTIFF pict;
    ASSERT_TRUE(adaptertest::decodes<cPictTIFF>(ok, &pict));
    EXPECT_EQ(pict.width(), 5);
    EXPECT_EQ(pict.raw8Bpp()[(3 - 1) * 5 + 1], 0xFF070707u);  // top row, x 1: sample 7
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        {"a billion pixels", greyTiff(100000, 100000, 15, 15)},
        {"too wide", greyTiff(1UL << 25, 1, 15, 15)},
        {"strip shorter than its rows", greyTiff(5, 3, 10, 10)},
        {"strip running past the end of the file", greyTiff(5, 3, 10, 15)},
        {"no width", greyTiff(0, 3, 15, 15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string said = adaptertest::stderrDuring([&] { EXPECT_FALSE(adaptertest::decodes<cPictTIFF>(c.file)); });
        EXPECT_EQ(said, "");
    }
}

TEST(TiffProbe, KnowsBothByteOrdersAndBigTiff) {
    const Bytes forms[] = {{'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {'I', 'I', 43, 0}, {'M', 'M', 0, 43}};
    for (const Bytes& f : forms) {
        // The magic alone, with no directory behind it, is not a picture.
        EXPECT_FALSE(adaptertest::probes<cPictTIFF>(f));
    }
    EXPECT_FALSE(adaptertest::probes<cPictTIFF>(Bytes{'I', 'I', 44, 0, 8, 0, 0, 0}));
    EXPECT_TRUE(adaptertest::probes<cPictTIFF>(greyTiff(5, 3, 15, 15)));
}

// The first four declare 16384 x 16384; the 16-bit one is past the byte
// cap, so the probe already refuses it.  The JPEG strips of many scans are
// refused by their walk, the two strips whose first was filled in at it
// (make_multiscan_inputs.py).  The JPEG strips, new- and old-style, whose
// EXIF blocks nest thumbnails 300 deep are pictures of 2048 x 2048
// (make_thumbnail_inputs.py).
TEST(TiffMalformed, SavedInputsReplay) {
    adaptertest::replayMalformed<cPictTIFF>(
        "tiff", {adaptertest::refusedByProbe("huge-16bit-claim-in-186-bytes.tif"),
                 adaptertest::refusedAfterProbe("huge-8bit-claim-in-186-bytes.tif", 16384, 16384),
                 adaptertest::refusedAfterProbe("huge-group4-page-16384x16384-in-2185-bytes.tif", 16384, 16384),
                 adaptertest::refusedAfterProbe("huge-jpeg-strips-cut-after-their-scan-header-in-407-bytes.tif", 16384,
                                                16384),
                 adaptertest::refusedAfterProbe("slow-50-sequential-strips-of-99-scans-2048x12800.tif", 2048, 12800),
                 adaptertest::refusedAfterProbe("first-of-two-strips-cut-64x128.tif", 64, 128),
                 adaptertest::decodedAt("jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif", 2048, 2048),
                 adaptertest::decodedAt("old-jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif", 2048, 2048)});
}

// A fax page of 4000 x 5000 with lines of words (14 KB of Group 4) decodes
// like the picture it was made from; the same page blank, 1.4 KB, is more
// than its bytes can describe (the bilevel rule of pictlimits.h) and is
// refused before anything is reserved.
TEST_F(TiffFiles, FaxPagesAreHeldToWhatTheirBytesDescribe) {
    const Bytes pbm = picttest::readBytes(dir_->file("tiff_fax_page.pbm"));
    const std::string head = "P4\n4000 5000\n";
    ASSERT_EQ(pbm.size(), head.size() + 500u * 5000);
    cPictTIFF page;
    ASSERT_TRUE(adaptertest::decodes<cPictTIFF>(file("tiff_fax_page.tif"), &page));
    ASSERT_EQ(page.width(), 4000);
    ASSERT_EQ(page.height(), 5000);
    long long wrong = 0, black = 0;
    for (long long y = 0; y < 5000; ++y)
        for (long long x = 0; x < 4000; ++x) {
            // P4: 1 is black; the page is min-is-white.
            const bool ink = pbm[head.size() + static_cast<std::size_t>(y * 500 + x / 8)] >> (7 - x % 8) & 1;
            black += ink;
            wrong += page.raw8Bpp()[(5000 - 1 - y) * 4000 + x] != (ink ? 0xFF000000u : 0xFFFFFFFFu);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(black, 1000000);
    const Bytes blank = file("tiff_fax_blank.tif");
    EXPECT_FALSE(cPictBase::bilevelCanDescribe(4000LL * 5000, static_cast<long long>(blank.size())));
    qortest::AllocMeter m;
    cPictBase::largestPixelBuffer(true);
    EXPECT_FALSE(adaptertest::decodes<cPictTIFF>(blank));
    EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
    EXPECT_LT(m.peak(), 1 << 20);
}

// A JPEG strip cut halfway through its scan: libjpeg fills in the rows the
// data never reached behind a warning, and the decode fails instead of
// delivering them; the whole strip decodes.
TEST_F(TiffFiles, StripsTheCodecFillsInFail) {
    const Bytes cut = file("tiff_jpeg_cut_in_its_scan.tif");
    cPictTIFF pict;
    const std::string said = adaptertest::stderrDuring([&] { EXPECT_FALSE(adaptertest::decodes<cPictTIFF>(cut, &pict)); });
    EXPECT_EQ(said, "");
    EXPECT_EQ(pict.width(), 0);
    EXPECT_TRUE(adaptertest::probes<cPictTIFF>(cut));
    // The missing half was all that was wrong with it.
    EXPECT_TRUE(adaptertest::decodes<cPictTIFF>(file("tiff_jpeg_whole_scan.tif"), &pict));
    EXPECT_EQ(pict.width(), 256);
}

// Old-style JPEG: libtiff tells of the deprecated mode in a warning each
// time its codec starts, a notice that says nothing of the pixels (the
// sound files decode like their references, above).  A strip cut halfway
// through its scan is filled in by libjpeg behind a warning of its own:
// that one is damage, and the decode fails.  Both are charged to a JPEG
// budget as new-style strips are: one scan of 256 x 256.
TEST_F(TiffFiles, OldStyleJpegNoticesAreNotDamageButFilledInStripsAre) {
    cPictTIFF pict;
    const Bytes cut = file("tiff_ojpeg_cut_in_its_scan.tif");
    const std::string said =
        adaptertest::stderrDuring([&] { EXPECT_FALSE(adaptertest::decodes<cPictTIFF>(cut, &pict)); });
    EXPECT_EQ(said, "");
    EXPECT_EQ(pict.width(), 0);
    EXPECT_TRUE(adaptertest::probes<cPictTIFF>(cut));
    cPictBase::sDecodeMeter meter;
    cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
    EXPECT_TRUE(adaptertest::decodes<cPictTIFF>(file("tiff_ojpeg_whole_scan.tif"), &pict));
    cPictBase::setDecodeMeter(before);
    EXPECT_EQ(pict.width(), 256);
    EXPECT_EQ(meter.scans, 1u);
    EXPECT_EQ(meter.work, 256u * 256);
}

// JPEG strips of 2048 x 2048, new- and old-style, each a JPEG whose EXIF
// block nests thumbnails 300 deep (make_thumbnail_inputs.py): libtiff hands
// the strip to libjpeg, which reads no thumbnail, and the picture is the
// strip's grey frame, one scan.  At 73 KB the strip runs past the window
// libtiff's reads go through, which the walk of the strips' markers had
// moved the stream under: the strip read failed.
TEST(TiffMalformed, JpegStripsAreOnePictureHoweverDeepTheirThumbnailsNest) {
    for (const char* name : {"jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif",
                             "old-jpeg-strip-of-nested-thumbnails-300-deep-2048x2048.tif"}) {
        SCOPED_TRACE(name);
        const Bytes b = picttest::readBytes(qortest::dataPath(std::string("tiff/malformed/") + name));
        ASSERT_GT(b.size(), static_cast<std::size_t>(cByteReader::kStreamWindow));
        cPictBase::sDecodeMeter meter;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        cPictTIFF pict;
        const bool ok = adaptertest::decodes<cPictTIFF>(b, &pict);
        cPictBase::setDecodeMeter(before);
        ASSERT_TRUE(ok);
        EXPECT_EQ(meter.scans, 1u);
        EXPECT_EQ(meter.work, 2048u * 2048);
        ASSERT_EQ(pict.width(), 2048);
        ASSERT_EQ(pict.height(), 2048);
        long long other = 0;
        for (long long i = 0; i < 2048 * 2048; ++i) other += pict.raw8Bpp()[i] != 0xFF808080u;
        EXPECT_EQ(other, 0);
    }
}

// Strips that point at the same bytes describe them once.  A 4096 x 4096
// grey picture needs about 12 KB of data (pictlimits.h); its 16 strips of
// zeros each compress to some 1 KB.  Sixteen copies of the stream decode;
// sixteen strips at one copy (and strips overlapping it) are refused
// before the picture is reserved, as are strips past the end of the file.
TEST(TiffHeaders, StripsSharingTheirBytesCountThemOnce) {
    constexpr unsigned long kSide = 4096, kRows = 256, kStrips = kSide / kRows;
    const std::string z = qortest::runPython(
        "import sys, zlib\nsys.stdout.buffer.write(zlib.compress(bytes(4096 * 256), 9))\n");
    ASSERT_GT(z.size(), 500u);
    ASSERT_LT(z.size(), 2000u);
    // offsets(i) is strip i's offset from the start of its data.
    auto file = [&](const std::function<unsigned long(unsigned long)>& offset, std::size_t dataBytes) {
        Bytes b = {'I', 'I', 42, 0};
        put32(b, 8);
        const unsigned long arrays = 8 + 2 + 10 * 12 + 4, data = arrays + 8 * kStrips;
        const unsigned long entries[][4] = {{256, 4, 1, kSide}, {257, 4, 1, kSide}, {258, 3, 1, 8},
                                            {259, 3, 1, 8},     {262, 3, 1, 1},     {273, 4, kStrips, arrays},
                                            {277, 3, 1, 1},     {278, 4, 1, kRows}, {279, 4, kStrips, arrays + 4 * kStrips},
                                            {284, 3, 1, 1}};
        put16(b, 10);
        for (const auto& e : entries) {
            put16(b, static_cast<unsigned>(e[0]));
            put16(b, static_cast<unsigned>(e[1]));
            put32(b, e[2]);
            put32(b, e[3]);
        }
        put32(b, 0);
        for (unsigned long i = 0; i < kStrips; ++i) put32(b, data + offset(i));
        for (unsigned long i = 0; i < kStrips; ++i) put32(b, static_cast<unsigned long>(z.size()));
        while (b.size() < data + dataBytes) b.insert(b.end(), z.begin(), z.end());
        b.resize(data + dataBytes);
        return b;
    };
    const unsigned long n = static_cast<unsigned long>(z.size());
    cPictTIFF pict;
    ASSERT_TRUE(adaptertest::decodes<cPictTIFF>(file([&](unsigned long i) { return i * n; }, kStrips * n), &pict));
    ASSERT_EQ(pict.width(), 4096);
    EXPECT_EQ(pict.raw8Bpp()[12345], 0xFF000000u);
    struct Case {
        const char* what;
        Bytes file;
    } cases[] = {
        {"one stream for every strip", file([](unsigned long) { return 0UL; }, n)},
        {"two streams, each strip at one of them", file([&](unsigned long i) { return (i % 2) * n; }, 2 * n)},
        {"strips a byte apart over one stream", file([](unsigned long i) { return i; }, n + kStrips)},
        {"strips past the end of the file", file([&](unsigned long i) { return i < 2 ? i * n : 100 * n; }, 2 * n)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cPictBase::largestPixelBuffer(true);
        EXPECT_FALSE(adaptertest::decodes<cPictTIFF>(c.file));
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
    }
}

// Every kind of file, turned by every Orientation: drawn into a target, the
// rows reach it as they are decoded, to the pixels of the plain picture
// sent through the target's sink.
TEST_F(TiffFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    ASSERT_GT(index_->size(), 40u);
    for (const auto& entry : *index_) picttest::expectTargetsMatchPlainDecode<cPictTIFF>(file(entry.first), entry.first, true);
}

// Grey of 1, 2 and 4 bits (min-is-black and min-is-white) and palette
// pictures of 1 to 8 bits (colour maps of 16-bit and of 8-bit entries),
// rows not ending on a byte: every pixel as the sample's value says, in a
// plain decode and through a render target.
TEST(TiffHeaders, PackedSamplesOfEveryDepthDecodeToTheirValues) {
    constexpr unsigned long kW = 13, kH = 5;
    for (unsigned bits : {1u, 2u, 4u, 8u}) {
        for (unsigned photometric : {0u, 1u, 3u}) {
            if (bits == 8 && photometric != 3) continue;  // 8-bit grey is read as samples
            for (bool narrowMap : {false, true}) {
                if (photometric != 3 && narrowMap) continue;
                SCOPED_TRACE(std::to_string(bits) + " bits, photometric " + std::to_string(photometric) +
                             (narrowMap ? ", 8-bit map" : ""));
                const unsigned values = 1u << bits, top = values - 1;
                auto value = [&](unsigned long x, unsigned long y) { return (x * 3 + y * 5 + x * y) % values; };
                auto entry = [&](unsigned i, int c) { return (i * 37 + static_cast<unsigned>(c) * 91) % 256; };
                const unsigned long rowBytes = (kW * bits + 7) / 8;
                Bytes data(rowBytes * kH, 0);
                for (unsigned long y = 0; y < kH; ++y)
                    for (unsigned long x = 0; x < kW; ++x)
                        data[y * rowBytes + x * bits / 8] |=
                            static_cast<unsigned char>(value(x, y) << (8 - bits - (x * bits) % 8));
                Bytes map;
                if (photometric == 3)
                    for (int c = 0; c < 3; ++c)
                        for (unsigned i = 0; i < values; ++i) put16(map, narrowMap ? entry(i, c) : entry(i, c) * 257);
                const unsigned entries = photometric == 3 ? 10 : 9;
                const unsigned long at = 8 + 2 + entries * 12 + 4;
                Bytes b = {'I', 'I', 42, 0};
                put32(b, 8);
                put16(b, entries);
                const unsigned long fields[][4] = {{256, 4, 1, kW},       {257, 4, 1, kH},   {258, 3, 1, bits},
                                                   {259, 3, 1, 1},        {262, 3, 1, photometric},
                                                   {273, 4, 1, at + map.size()},            {277, 3, 1, 1},
                                                   {278, 4, 1, kH},       {279, 4, 1, data.size()},
                                                   {320, 3, 3 * values, at}};
                for (unsigned k = 0; k < entries; ++k) {
                    put16(b, static_cast<unsigned>(fields[k][0]));
                    put16(b, static_cast<unsigned>(fields[k][1]));
                    put32(b, fields[k][2]);
                    if (fields[k][1] == 3 && fields[k][2] == 1) {
                        put16(b, static_cast<unsigned>(fields[k][3]));
                        put16(b, 0);
                    } else {
                        put32(b, fields[k][3]);
                    }
                }
                put32(b, 0);
                b.insert(b.end(), map.begin(), map.end());
                b.insert(b.end(), data.begin(), data.end());
                cPictTIFF pict;
                ASSERT_TRUE(adaptertest::decodes<cPictTIFF>(b, &pict));
                ASSERT_EQ(pict.width(), static_cast<long long>(kW));
                ASSERT_EQ(pict.height(), static_cast<long long>(kH));
                for (unsigned long y = 0; y < kH; ++y)
                    for (unsigned long x = 0; x < kW; ++x) {
                        const unsigned v = value(x, y);
                        unsigned want;
                        if (photometric == 3) {
                            want = 0xFF000000u | entry(v, 0) << 16 | entry(v, 1) << 8 | entry(v, 2);
                        } else {
                            const unsigned g = (photometric == 0 ? top - v : v) * 255 / top;
                            want = 0xFF000000u | g * 0x010101u;
                        }
                        EXPECT_EQ(pict.raw8Bpp()[(kH - 1 - y) * kW + x], want) << x << ", " << y;
                    }
                picttest::expectTargetsMatchPlainDecode<cPictTIFF>(b, "packed", true);
            }
        }
    }
}
