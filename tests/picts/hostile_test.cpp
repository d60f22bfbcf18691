// Small hostile inputs: each once cost a stack overflow, minutes
// or gigabytes.  Every one is refused or decoded with work and memory in
// proportion to its bytes; the tests count what was reserved and what the
// libraries were given, never time.  The inputs are kept under
// tests/data/<format>/malformed (tests/picts/make_hostile_inputs.py).
#include <gtest/gtest.h>

#include <algorithm>

#include "adaptertest.h"
#include "picts/pictdib.h"
#include "picts/pictjbig2.h"
#include "picts/pictjpeg.h"
#include "picts/pictpng.h"
#include "picts/pictraw.h"
#include "picts/picttiff.h"

using picttest::Bytes;

namespace {

Bytes kept(const std::string& path) {
    const Bytes b = picttest::readBytes(qortest::dataPath(path));
    EXPECT_FALSE(b.empty()) << path;
    return b;
}

// A memory stream that cannot tell its size, as a pipe cannot.
class cUnsizedIO : public cBufWrapperIO {
public:
    explicit cUnsizedIO(const Bytes& b)
        : cBufWrapperIO(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false) {}
    long long size() override { return -1; }
};

// Decodes b with T from a stream of known size (or none): whether it
// succeeded, and the largest pixel buffer it reserved.
template <typename T>
bool decodeCounting(const Bytes& b, long long& reserved, bool unsized = false) {
    cPictBase::largestPixelBuffer(true);
    T pict;
    bool ok;
    if (unsized) {
        cUnsizedIO io(b);
        ok = pict.decode(&io);
    } else {
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        ok = pict.decode(&io);
    }
    reserved = cPictBase::largestPixelBuffer(true);
    return ok;
}

template <typename T>
bool decodeSized(const Bytes& b, long long& reserved) {
    return decodeCounting<T>(b, reserved);
}

constexpr long long kMiB = 1LL << 20;

}  // namespace

// SubIFDs entries past the four offsets the raw probe once kept overflowed
// its array; the factory asks the raw probes first, so opening the file was
// enough.
TEST(Hostile, RawSubIfdEntriesPastTheKeptFourAreIgnored) {
    for (const char* name : {"raw/malformed/stack-overflow-five-subifds-entries.tif",
                             "raw/malformed/stack-overflow-200-subifds-entries.tif"}) {
        SCOPED_TRACE(name);
        const Bytes b = kept(name);
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictRawBase::sHeader h;
        ASSERT_TRUE(cPictRawBase::readHeader(&io, h));
        // Every sub-IFD is IFD 0 again: a loop, which the walk before
        // LibRaw refuses.
        EXPECT_FALSE(h.tiff);
        EXPECT_FALSE(h.cfa);
        cPictBase::sPictInfo info;
        io.set_fp(0);
        cPictBase* d = cPictBase::mkPicture(&io, &info);
        // A TIFF without a picture: whatever takes it must fail to decode.
        if (d) {
            io.set_fp(0);
            EXPECT_FALSE(d->decode(&io));
        }
        delete d;
        EXPECT_FALSE(adaptertest::probes<cPictDNG>(b));
        EXPECT_FALSE(adaptertest::probes<cPictTIFF_EP>(b));
    }
}

// A CR3 box with a 64-bit length of zero: LibRaw's box walk, inside its
// open, never moved on.  LibRaw's stream work is bounded by the input's
// size; and since nothing of ours walks a CR3's boxes, the file is named a
// CR3 by its probe but never handed to LibRaw at all, in the probe, the
// decode and the factory alike.
TEST(Hostile, RawBoxWalkThatNeverMovesOnStopsAtTheStreamBudget) {
    const Bytes b = kept("raw/malformed/hang-cr3-box-of-64-bit-length-zero.cr3");
    ASSERT_EQ(b.size(), 90u);
    const long long budget = cPictRawBase::streamWorkBudget(90);
    EXPECT_EQ(budget, kFreeRawStreamWork + 90 * kRawStreamWorkPerInputByte);
    cPictRawBase::largestStreamWork(true);
    cPictBase::sPictInfo info;
    EXPECT_TRUE(adaptertest::probes<cPictCR3>(b, &info));  // the header is a CR3's
    EXPECT_EQ(info.width, 0);
    EXPECT_EQ(cPictRawBase::largestStreamWork(true), 0);
    cPictCR3 pict;
    EXPECT_FALSE(adaptertest::decodes<cPictCR3>(b, &pict));
    EXPECT_EQ(pict.width(), 0);
    EXPECT_EQ(cPictRawBase::largestStreamWork(true), 0);
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictDummy out;
    EXPECT_NE(cPictBase::getImage(&io, out, 64, 64, 0), cPictBase::frOk);
    EXPECT_EQ(cPictRawBase::largestStreamWork(true), 0);
}

// The pixel cap is a byte cap too: 16-bit pictures get half the pixels.
TEST(Hostile, SixteenBitPicturesGetHalfThePixels) {
    EXPECT_TRUE(cPictBase::checkPixelCount(16384, 16384, nullptr, 4));
    EXPECT_FALSE(cPictBase::checkPixelCount(16384, 16384, nullptr, 8));
    EXPECT_TRUE(cPictBase::checkPixelCount(16384, 8192, nullptr, 8));
    EXPECT_FALSE(cPictBase::checkPixelCount(16384, 8193, nullptr, 8));
    EXPECT_FALSE(cPictBase::checkPixelCount(4, 4, nullptr, 0));
    cPictDummy p;
    EXPECT_FALSE(p.allocPixels16(16384, 16384));
    EXPECT_FALSE(p.create16_und(16384, 16384));
    EXPECT_EQ(p.width(), 0);
}

TEST(Hostile, InputBudgetGrowsWithTheInput) {
    EXPECT_TRUE(cPictBase::inputCanDescribe(kFreePictPixels, 0));
    EXPECT_FALSE(cPictBase::inputCanDescribe(kFreePictPixels + 1, 0));
    EXPECT_TRUE(cPictBase::inputCanDescribe(kFreePictPixels + 1000 * kMaxPixelsPerInputByte, 1000));
    EXPECT_FALSE(cPictBase::inputCanDescribe(kFreePictPixels + 1000 * kMaxPixelsPerInputByte + 1, 1000));
    EXPECT_TRUE(cPictBase::inputCanDescribe(1LL << 40, -1));  // unknown size
    EXPECT_TRUE(cPictBase::inputCanDescribe(1LL << 40, 1LL << 60));
}

// A text region declaring 2^32 - 1 instances in 16 bytes kept the JBIG2
// library busy for minutes; it is refused before the library sees its header.
TEST(Hostile, Jbig2TextRegionOutOfProportionNeverReachesTheLibrary) {
    const Bytes b = kept("jbig2/malformed/slow-text-region-of-2-32-instances.jb2");
    cPictJBIG2 pict;
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(b, &pict));
    // The whole file's work is weighed first: not a byte reaches the
    // library.
    EXPECT_EQ(pict.bytesFedToLibrary(), 0u);
    EXPECT_EQ(pict.width(), 0);
}

TEST(Hostile, Jbig2SegmentsAreWeighedAgainstTheirBytes) {
    auto be32 = [](Bytes& d, unsigned long v) {
        for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<unsigned char>(v >> s));
    };
    auto regionInfo = [&](unsigned long w, unsigned long h) {
        Bytes d;
        be32(d, w);
        be32(d, h);
        be32(d, 0);
        be32(d, 0);
        d.push_back(0);
        return d;
    };
    // Text regions: instances against the data and the region's area.
    auto text = [&](unsigned long w, unsigned long h, unsigned flags, unsigned long instances) {
        Bytes d = regionInfo(w, h);
        d.push_back(static_cast<unsigned char>(flags >> 8));
        d.push_back(static_cast<unsigned char>(flags));
        if (flags & 1) d.insert(d.end(), 2, 0);
        if ((flags & 2) && !(flags & 0x8000)) d.insert(d.end(), 4, 0);
        be32(d, instances);
        return d;
    };
    Bytes d = text(64, 64, 0, 4096);
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(6, 40, d.data(), d.size()));
    d = text(64, 64, 0, 0xFFFFFFFF);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(6, 40, d.data(), d.size()));
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(4, 40, d.data(), d.size()));
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(7, 40, d.data(), d.size()));
    // 4096 free, then 32 a byte; never more than the region has pixels.
    d = text(1000, 1000, 1, 4096 + 32 * 1000);
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(6, 1000, d.data(), d.size()));
    d = text(1000, 1000, 1, 4096 + 32 * 1000 + 1);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(6, 1000, d.data(), d.size()));
    d = text(10, 10, 2, 101);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(6, 100000, d.data(), d.size()));
    // Cut before the count: refused.
    d = text(64, 64, 0, 1);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(6, 40, d.data(), d.size() - 1));
    // Generic and refinement regions: area against the data.
    d = regionInfo(4096, 1024);
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(38, 1, d.data(), d.size()));
    d = regionInfo(8192, 8192);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(38, 100, d.data(), d.size()));
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(42, 100, d.data(), d.size()));
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(38, 8192, d.data(), d.size()));
    // Symbol dictionaries: new symbols against the data.
    Bytes sd = {0x00, 0x01};  // Huffman: no AT pixels
    be32(sd, 10);
    be32(sd, 0x00FFFFFF);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(0, 100, sd.data(), sd.size()));
    sd.resize(6);
    be32(sd, 100);
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(0, 100, sd.data(), sd.size()));
    // Pattern dictionaries: GRAYMAX + 1 patterns of 255 x 255.
    Bytes pd = {0, 255, 255};
    be32(pd, 0x10000);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(16, 100, pd.data(), pd.size()));
    // Halftone regions: the grid against the data.
    Bytes hr = regionInfo(64, 64);
    hr.push_back(0);
    be32(hr, 100000);
    be32(hr, 100000);
    EXPECT_FALSE(cPictJBIG2::segmentInProportion(22, 100, hr.data(), hr.size()));
    // Other segments carry no declared work.
    EXPECT_TRUE(cPictJBIG2::segmentInProportion(48, 19, nullptr, 0));
}

// A striped page of unknown height that ends at 8979 x 24577 (220 M pixels,
// past the page cap of 2^26) from 70 bytes: refused before the picture is
// reserved.
TEST(Hostile, Jbig2StripedPageIsHeldToThePageCapAsItEnded) {
    const Bytes b = kept("jbig2/malformed/slow-striped-page-of-220-megapixels-in-70-bytes.jb2");
    ASSERT_EQ(b.size(), 70u);
    cPictBase::sPictInfo info;
    ASSERT_TRUE(adaptertest::probes<cPictJBIG2>(b, &info));
    EXPECT_EQ(info.width, 8979);
    EXPECT_EQ(info.height, 0);  // unknown until the page ends
    long long reserved = -1;
    EXPECT_FALSE(decodeCounting<cPictJBIG2>(b, reserved));
    EXPECT_EQ(reserved, 0);
}

namespace {
// Stops the decode at the first report.
class cStopAtOnce : public cPictDrawProfressNotifyTarget {
public:
    bool notifyDraw(double) override {
        ++calls;
        return false;
    }
    int calls = 0;
};
}  // namespace

TEST(Hostile, Jbig2DecodeStopsWhenTheCallerSaysSo) {
    // A page of 64 x 64 and a text region of 4096 instances: within every
    // budget, so the library is fed until the caller stops it.
    Bytes b = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A, 0x01, 0, 0, 0, 1};
    auto be32 = [&](unsigned long v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
    };
    auto header = [&](unsigned long number, unsigned char type, unsigned long length) {
        be32(number);
        b.push_back(type);
        b.push_back(0);
        b.push_back(1);
        be32(length);
    };
    header(0, 48, 19);
    for (unsigned long v : {64UL, 64UL, 0UL, 0UL}) be32(v);
    b.insert(b.end(), 3, 0);
    header(1, 6, 17 + 2 + 4 + 16);
    for (unsigned long v : {64UL, 64UL, 0UL, 0UL}) be32(v);
    b.insert(b.end(), 3, 0);
    be32(4096);
    b.insert(b.end(), 16, 0);
    // The page information segment alone: weighed, reported, stopped.
    cStopAtOnce stop;
    cPictJBIG2 pict;
    pict.refPictDrawProgress(&stop);
    EXPECT_FALSE(adaptertest::decodes<cPictJBIG2>(b, &pict));
    EXPECT_EQ(stop.calls, 1);
    EXPECT_EQ(pict.bytesFedToLibrary(), 13u);  // the file header alone
}

// Tiny inputs that declare huge pictures: refused before anything is reserved,
// or decoded at a cost in proportion to their bytes.
TEST(Hostile, Rle4BitmapOfAQuarterGigapixelIn310BytesIsRefusedBeforeReserving) {
    const Bytes b = kept("bmp/malformed/slow-rle4-ended-early-at-the-pixel-cap.bmp");
    ASSERT_EQ(b.size(), 310u);
    long long reserved = -1;
    EXPECT_FALSE(decodeCounting<cPictBMP>(b, reserved));
    EXPECT_EQ(reserved, 0);
}

namespace {
// An RLE8 bitmap of w x h whose data is `runs` full rows of runs and then
// end-of-bitmap.
Bytes rle8(long long w, long long h, long long runs) {
    Bytes data;
    for (long long r = 0; r < runs; ++r) {
        for (long long x = 0; x < w; x += 255) {
            data.push_back(static_cast<unsigned char>(std::min<long long>(255, w - x)));
            data.push_back(1);
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(1);
    Bytes b = {'B', 'M'};
    picttest::le(b, 14 + 40 + 8 + data.size(), 4);
    picttest::le(b, 0, 4);
    picttest::le(b, 14 + 40 + 8, 4);
    picttest::le(b, 40, 4);
    picttest::le(b, static_cast<unsigned long long>(w), 4);
    picttest::le(b, static_cast<unsigned long long>(h), 4);
    picttest::le(b, 1, 2);
    picttest::le(b, 8, 2);
    picttest::le(b, 1, 4);  // RLE8
    picttest::le(b, data.size(), 4);
    picttest::le(b, 0, 4);
    picttest::le(b, 0, 4);
    picttest::le(b, 2, 4);
    picttest::le(b, 0, 4);
    picttest::le(b, 0x000000, 4);
    picttest::le(b, 0xFFFFFF, 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
}  // namespace

TEST(Hostile, RleBudgetFollowsTheBytesConsumed) {
    // 4096 x 2048 (8 M pixels, twice the free budget) ended at once.
    const Bytes empty = rle8(4096, 2048, 0);
    long long reserved = -1;
    EXPECT_FALSE(decodeCounting<cPictBMP>(empty, reserved));
    EXPECT_EQ(reserved, 0);
    // A stream of unknown size cannot be weighed first: the rows filled for
    // free stop at the same budget.
    EXPECT_FALSE(decodeCounting<cPictBMP>(empty, reserved, true));
    // Within budget: 1024 rows of runs pay for the rest.
    const Bytes paid = rle8(4096, 2048, 1024);
    EXPECT_TRUE(decodeCounting<cPictBMP>(paid, reserved));
    EXPECT_EQ(reserved, 4096LL * 2048 * 4);
    EXPECT_TRUE(decodeCounting<cPictBMP>(paid, reserved, true));
    // Small pictures need no data at all.
    EXPECT_TRUE(decodeCounting<cPictBMP>(rle8(1024, 1024, 0), reserved));
}

TEST(Hostile, PngAndTiffClaimingHugePicturesReserveNothing) {
    for (const char* name : {"png/malformed/huge-16bit-claim-in-69-bytes.png", "png/malformed/huge-8bit-claim-in-69-bytes.png"}) {
        SCOPED_TRACE(name);
        const Bytes b = kept(name);
        long long reserved = -1;
        EXPECT_FALSE(decodeCounting<cPictPNG>(b, reserved));
        EXPECT_EQ(reserved, 0);
    }
    for (const char* name : {"tiff/malformed/huge-16bit-claim-in-186-bytes.tif", "tiff/malformed/huge-8bit-claim-in-186-bytes.tif"}) {
        SCOPED_TRACE(name);
        const Bytes b = kept(name);
        long long reserved = -1;
        EXPECT_FALSE(decodeCounting<cPictTIFF>(b, reserved));
        EXPECT_EQ(reserved, 0);
        EXPECT_FALSE(decodeCounting<cPictTIFF>(b, reserved, true));
        EXPECT_EQ(reserved, 0);
    }
    // The 16-bit claims are past the byte cap: the probes refuse them.
    EXPECT_FALSE(adaptertest::probes<cPictTIFF>(kept("tiff/malformed/huge-16bit-claim-in-186-bytes.tif")));
    EXPECT_TRUE(adaptertest::probes<cPictTIFF>(kept("tiff/malformed/huge-8bit-claim-in-186-bytes.tif")));
}

TEST(Hostile, ProgressiveJpegTallerThanItsDataIsRefusedBeforeItsScans) {
    const Bytes b = kept("jpeg/malformed/slow-progressive-231x65299-in-491-bytes.jpg");
    ASSERT_EQ(b.size(), 491u);
    cPictBase::sPictInfo info;
    ASSERT_TRUE(adaptertest::probes<cPictJPEG>(b, &info));
    EXPECT_EQ(info.height, 65299);
    long long reserved = -1;
    EXPECT_FALSE(decodeCounting<cPictJPEG>(b, reserved));
    EXPECT_EQ(reserved, 0);
    // Of unknown size: the scans stop once the data has ended, and the
    // picture is never reserved.
    EXPECT_FALSE(decodeCounting<cPictJPEG>(b, reserved, true));
    EXPECT_EQ(reserved, 0);
    cJPEGParser parser;
    cUnsizedIO io(b);
    ASSERT_TRUE(parser.readHeader(&io));
    EXPECT_FALSE(parser.start());
    EXPECT_LE(parser.bytesConsumed(), b.size());
}

TEST(Hostile, EveryKeptInputFinishesWithinTheMemoryBound) {
    struct Case {
        const char* path;
        bool (*decode)(const Bytes&, long long&);
    };
    const Case cases[] = {
        {"bmp/malformed/slow-rle4-ended-early-at-the-pixel-cap.bmp", decodeSized<cPictBMP>},
        {"png/malformed/huge-16bit-claim-in-69-bytes.png", decodeSized<cPictPNG>},
        {"tiff/malformed/huge-16bit-claim-in-186-bytes.tif", decodeSized<cPictTIFF>},
        {"jpeg/malformed/slow-progressive-231x65299-in-491-bytes.jpg", decodeSized<cPictJPEG>},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Bytes b = kept(c.path);
        long long reserved = -1;
        c.decode(b, reserved);
        EXPECT_LE(reserved, 64 * kMiB);
        // Through the factory too: the same decoder, the same bound.
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictBase::largestPixelBuffer(true);
        cPictDummy out;
        cPictBase::getImage(&io, out, 256, 256, 0);
        EXPECT_LE(cPictBase::largestPixelBuffer(true), 64 * kMiB);
    }
}
