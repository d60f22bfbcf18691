// What a decode may cost: work and memory in proportion to the input, or
// to the thumbnail asked for.  Every allocation of the process is counted
// (allocmeter.h), the libraries' own included; nothing is timed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "adaptertest.h"
#include "allocmeter.h"
#include "picts/pictdib.h"
#include "picts/pictdicom.h"
#include "picts/pictgif.h"
#include "picts/picticns.h"
#include "picts/pictico.h"
#include "picts/pictjbig2.h"
#include "picts/pictjp2.h"
#include "picts/pictjpeg.h"
#include "picts/pictpcx.h"
#include "picts/pictpng.h"
#include "picts/pictppm.h"
#include "picts/pictraw.h"
#include "picts/picttga.h"
#include "picts/picttiff.h"
#include "picts/pictxpm.h"

using picttest::Bytes;

namespace {

constexpr long long kMiB = 1LL << 20;
// The most a small hostile input may make the library hold at once.
constexpr long long kSmallInputCost = 64 * kMiB;

// One decoder class behind a type id: its probe and its plain decode.
struct sDecoder {
    std::function<bool(cFileIOTarget*, cPictBase::sPictInfo*)> probe;
    std::function<bool(cFileIOTarget*, long long&, long long&)> decode;
};

template <typename T>
sDecoder decoderOf() {
    return {[](cFileIOTarget* io, cPictBase::sPictInfo* info) { return T::validFor(io, info); },
            [](cFileIOTarget* io, long long& w, long long& h) {
                T d;
                const bool ok = d.decode(io);
                w = d.width();
                h = d.height();
                return ok;
            }};
}

const std::map<int, sDecoder>& decoders() {
    static const std::map<int, sDecoder> all = {
        {cPictBase::ptJPEG, decoderOf<cPictJPEG>()},   {cPictBase::ptPNG, decoderOf<cPictPNG>()},
        {cPictBase::ptGIF, decoderOf<cPictGIF>()},     {cPictBase::ptBMP, decoderOf<cPictBMP>()},
        {cPictBase::ptDIB, decoderOf<cPictDIB>()},     {cPictBase::ptICO, decoderOf<cPictICO>()},
        {cPictBase::ptJP2, decoderOf<cPictJP2>()},     {cPictBase::ptJ2K, decoderOf<cPictJ2K>()},
        {cPictBase::ptICNS, decoderOf<cPictICNS>()},   {cPictBase::ptTGA, decoderOf<cPictTGA>()},
        {cPictBase::ptMRW, decoderOf<cPictMRW>()},     {cPictBase::ptRWL, decoderOf<cPictRWL>()},
        {cPictBase::ptORF, decoderOf<cPictORF>()},     {cPictBase::ptX3F, decoderOf<cPictX3F>()},
        {cPictBase::ptPEF, decoderOf<cPictPEF>()},     {cPictBase::ptARW, decoderOf<cPictARW>()},
        {cPictBase::ptSRW, decoderOf<cPictSRW>()},     {cPictBase::ptIIQ, decoderOf<cPictIIQ>()},
        {cPictBase::ptRAF, decoderOf<cPictRAF>()},     {cPictBase::ptCRW, decoderOf<cPictCRW>()},
        {cPictBase::ptMOS, decoderOf<cPictMOS>()},     {cPictBase::ptCR2, decoderOf<cPictCR2>()},
        {cPictBase::ptCR3, decoderOf<cPictCR3>()},     {cPictBase::ptNEF, decoderOf<cPictNEF>()},
        {cPictBase::pt3FR, decoderOf<cPict3FR>()},     {cPictBase::ptDNG, decoderOf<cPictDNG>()},
        {cPictBase::ptTIFF_EP, decoderOf<cPictTIFF_EP>()}, {cPictBase::ptTIFF, decoderOf<cPictTIFF>()},
        {cPictBase::ptPPM, decoderOf<cPictPPM>()},     {cPictBase::ptPCX, decoderOf<cPictPCX>()},
        {cPictBase::ptDICOM, decoderOf<cPictDICOM>()}, {cPictBase::ptDICOMLegacy, decoderOf<cPictDICOMLegacy>()},
        {cPictBase::ptJBIG2, decoderOf<cPictJBIG2>()}, {cPictBase::ptXPM, decoderOf<cPictXPM>()},
    };
    return all;
}

// The most pixels n bytes of any coding may describe.
long long describable(long long n) { return kFreeBilevelPixels + n * kMaxBilevelPixelsPerInputByte; }

// What one input cost through every way in: the most held at once by the
// probe, the plain decode, the factory's decode, its 24 x 16 fit and its
// 24 x 16 preview, and the sizes they produced.
struct sCosts {
    long long probe = 0, decode = 0, factory = 0, image = 0, preview = 0;
    bool probed = false, decoded = false;
    cPictBase::sPictInfo info;
    long long w = 0, h = 0;         // the plain decode's picture
    long long fw = 0, fh = 0;       // the factory's picture
    int imageResult = -1, previewResult = -1;
    long long iw = 0, ih = 0, pw = 0, ph = 0;
};

sCosts measure(const Bytes& b, const sDecoder& d) {
    sCosts c;
    auto stream = [&]() { return cBufWrapperIO(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false); };
    {
        cBufWrapperIO io = stream();
        qortest::AllocMeter m;
        c.probed = d.probe(&io, &c.info);
        c.probe = m.peak();
    }
    {
        cBufWrapperIO io = stream();
        qortest::AllocMeter m;
        c.decoded = d.decode(&io, c.w, c.h);
        c.decode = m.peak();
    }
    {
        cBufWrapperIO io = stream();
        qortest::AllocMeter m;
        cPictBase* p = cPictBase::mkPicture(&io, nullptr);
        if (p) {
            c.fw = p->width();
            c.fh = p->height();
        }
        delete p;
        c.factory = m.peak();
    }
    {
        cBufWrapperIO io = stream();
        cPictDummy out;
        qortest::AllocMeter m;
        c.imageResult = cPictBase::getImage(&io, out, 24, 16, 0);
        c.image = m.peak();
        c.iw = out.width();
        c.ih = out.height();
    }
    {
        cBufWrapperIO io = stream();
        cPictDummy out;
        qortest::AllocMeter m;
        c.previewResult = cPictBase::getPreview(&io, out, 24, 16, true, 0);
        c.preview = m.peak();
        c.pw = out.width();
        c.ph = out.height();
    }
    return c;
}

void expectBounded(const std::string& name, long long n, const sCosts& c) {
    SCOPED_TRACE(name + ", " + std::to_string(n) + " bytes");
    EXPECT_LT(c.probe, kSmallInputCost);
    EXPECT_LT(c.decode, kSmallInputCost);
    EXPECT_LT(c.factory, kSmallInputCost);
    EXPECT_LT(c.image, kSmallInputCost);
    EXPECT_LT(c.preview, kSmallInputCost);
    // No more pixels than the data can describe, or the box asks for.
    if (c.decoded) {
        EXPECT_LE(c.w * c.h, describable(n));
    }
    EXPECT_LE(c.fw * c.fh, describable(n));
    if (c.imageResult == cPictBase::frOk) {
        EXPECT_LE(c.iw, 24);
        EXPECT_LE(c.ih, 16);
    }
    if (c.previewResult == cPictBase::frOk) {
        EXPECT_LE(c.pw, 24);
        EXPECT_LE(c.ph, 16);
    }
}

}  // namespace

// Every format the factory knows, in a file of at most 512 bytes that
// declares 16384 x 16384 (make_factory_images.py claims).
TEST(Costs, EveryFormatClaimingAHugePictureInFewBytesCostsLittle) {
    qortest::TempDir dir;
    const auto index = picttest::generate("claims", dir.path(), "make_factory_images.py");
    ASSERT_GE(index.size(), 34u);
    std::map<int, int> seen;
    for (const auto& entry : index) {
        const std::string& name = entry.first;
        const int type = entry.second;
        ASSERT_TRUE(decoders().count(type)) << name;
        ++seen[type];
        const Bytes b = picttest::readBytes(dir.file(name));
        ASSERT_LE(b.size(), 512u) << name;
        const sCosts c = measure(b, decoders().at(type));
        expectBounded(name, static_cast<long long>(b.size()), c);
        // The claim is real: the decoder it is meant for takes the file
        // and reads the huge size, or (JBIG2, whose pages are capped)
        // refuses it at once.
        if (type == cPictBase::ptJBIG2) {
            EXPECT_FALSE(c.probed) << name;
        } else {
            EXPECT_TRUE(c.probed) << name;
        }
        if (c.probed && c.info.width > 0) {
            EXPECT_EQ(c.info.width, 16384) << name;
            EXPECT_EQ(c.info.height, 16384) << name;
        }
    }
    EXPECT_EQ(seen.size(), decoders().size());
}

// Inputs that once cost seconds and gigabytes (make_hostile_inputs.py):
// each is refused before the library fills a pixel, plainly and when the
// factory fits it into 24 x 16.
TEST(Costs, FoundInputsAreRefusedBeforeTheLibraryFillsThem) {
    const struct {
        const char* path;
        int type;
    } found[] = {
        {"jbig2/malformed/slow-100-refinement-regions-of-2048x2048-in-3565-bytes.jb2", cPictBase::ptJBIG2},
        {"jbig2/malformed/slow-10-refinement-regions-of-2048x2048-in-415-bytes.jb2", cPictBase::ptJBIG2},
        {"jbig2/malformed/slow-refinement-region-of-8192x8534-in-8098-bytes.jb2", cPictBase::ptJBIG2},
        {"jp2/malformed/huge-empty-packets-16384x16384-in-82-bytes.j2k", cPictBase::ptJ2K},
        {"jp2/malformed/huge-empty-packets-16384x16384-in-167-bytes.jp2", cPictBase::ptJP2},
        {"jp2/malformed/huge-64-components-of-2048x2048-in-334-bytes.j2k", cPictBase::ptJ2K},
        {"jp2/malformed/subsampled-grid-18x4235577-in-94-bytes.j2k", cPictBase::ptJ2K},
        {"dicom/malformed/huge-j2k-frame-16384x16384-in-382-bytes.dcm", cPictBase::ptDICOM},
        {"icns/malformed/huge-ic10-j2k-16384x16384-in-98-bytes.icns", cPictBase::ptICNS},
        {"tiff/malformed/huge-group4-page-16384x16384-in-2185-bytes.tif", cPictBase::ptTIFF},
        {"tiff/malformed/huge-jpeg-strips-cut-after-their-scan-header-in-407-bytes.tif", cPictBase::ptTIFF},
    };
    for (const auto& f : found) {
        SCOPED_TRACE(f.path);
        const Bytes b = picttest::readBytes(qortest::dataPath(f.path));
        ASSERT_FALSE(b.empty());
        cPictBase::largestPixelBuffer(true);
        const sCosts c = measure(b, decoders().at(f.type));
        expectBounded(f.path, static_cast<long long>(b.size()), c);
        EXPECT_TRUE(c.probed);
        EXPECT_FALSE(c.decoded);
        EXPECT_EQ(c.fw, 0);
        EXPECT_NE(c.imageResult, cPictBase::frOk);
        // Not a pixel buffer reserved, and the libraries' own layouts
        // (OpenJPEG's sample buffers, libtiff's strips, jbig2dec's regions)
        // never made: a few hundred kilobytes for the codecs themselves.
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
        EXPECT_LT(std::max({c.decode, c.factory, c.image, c.preview}), 4 * kMiB);
    }
}

// Inputs whose work had no bytes behind it (make_jp2_cost_inputs.py): a
// codestream of 65,535 layers of 4,096 precincts (12 s and 532 MB in
// Release), the same as an icon family's element (9.9 s), 4,900 code-blocks
// given 88 coding passes each (3.6 s), 998 packets each visiting 65,536
// code-blocks (1.5 s), and position steps over crossed precincts (2.8 s into
// a 64 x 64 thumbnail).  Through every door each is refused before the
// library lays it out, holding little; run in a child held to a minute of
// processor time, so that the cost, come back, fails instead of hanging.
TEST(Costs, JpegTwoThousandWorkWithoutBytesIsRefusedThroughEveryDoor) {
    const struct {
        const char* path;
        int type;
    } found[] = {
        {"jp2/malformed/slow-65535-layers-of-4096-precincts-in-90-bytes.j2k", cPictBase::ptJ2K},
        {"icns/malformed/slow-ic10-of-65535-layers-in-106-bytes.icns", cPictBase::ptICNS},
        {"jp2/malformed/slow-4900-code-blocks-of-88-passes-in-37888-bytes.j2k", cPictBase::ptJ2K},
        {"jp2/malformed/slow-998-packets-visiting-65536-code-blocks-in-5175-bytes.j2k", cPictBase::ptJ2K},
        {"jp2/malformed/slow-rpcl-steps-over-11000x11000-in-173-bytes.j2k", cPictBase::ptJ2K},
    };
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [&] {
        for (const auto& f : found) {
            SCOPED_TRACE(f.path);
            const Bytes b = picttest::readBytes(qortest::dataPath(f.path));
            ASSERT_FALSE(b.empty());
            cPictBase::largestPixelBuffer(true);
            const sCosts c = measure(b, decoders().at(f.type));
            EXPECT_TRUE(c.probed);
            EXPECT_FALSE(c.decoded);
            EXPECT_EQ(c.fw, 0);
            EXPECT_NE(c.imageResult, cPictBase::frOk);
            EXPECT_NE(c.previewResult, cPictBase::frOk);
            EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
            EXPECT_LT(std::max({c.probe, c.decode, c.factory, c.image, c.preview}), 2 * kMiB);
        }
    }));
}

// Camera raw data is stored at several bits a pixel: a DNG whose sensor of
// 4096 x 2048 has 16 KB of data is refused before LibRaw lays the sensor
// out (its 2-byte raw and 8-byte image buffers: 80 MB), which the general
// rule of 1024 pixels a byte would have let through.
TEST(Costs, RawSensorsAreHeldToTheirBytes) {
    qortest::TempDir dir;
    const std::string script = std::string("import sys; sys.path.insert(0, '") + QOR_SOURCE_DIR +
                               "/tests/picts')\nimport make_raw_images as m\n"
                               "m.write_tiff(sys.argv[1], m.dng_entries(4096, 2048, 16384), bytes(16384))\n";
    int status = -1;
    const std::string out = qortest::runPython(script, dir.file("wide.dng"), &status);
    ASSERT_EQ(status, 0) << out;
    const Bytes b = picttest::readBytes(dir.file("wide.dng"));
    ASSERT_GT(b.size(), 16384u);
    ASSERT_TRUE(cPictBase::inputCanDescribe(4096LL * 2048, static_cast<long long>(b.size())));
    ASSERT_FALSE(cPictBase::rawCanDescribe(4096LL * 2048, static_cast<long long>(b.size())));
    const sCosts c = measure(b, decoders().at(cPictBase::ptDNG));
    EXPECT_TRUE(c.probed);
    EXPECT_FALSE(c.decoded);
    EXPECT_LT(std::max({c.decode, c.factory, c.image, c.preview}), 16 * kMiB);
}

// The meter sees what the libraries allocate, not only our own code.
TEST(Costs, TheMeterSeesEveryAllocationOfTheProcess) {
    qortest::AllocMeter m;
    {
        std::vector<char> ours(10 * kMiB);
        EXPECT_GE(m.peak(), 10 * kMiB);
    }
    const long long afterOurs = m.peak();
    m.restart();
    // A TIFF of 4000 x 1000 of 4-bit grey in one uncompressed strip: our
    // picture is 16 MB, and libtiff's reader holds the strip, 2 MB, in a
    // buffer of its own while it fills it.
    Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    const unsigned long entries[][3] = {{256, 4, 4000}, {257, 4, 1000}, {258, 3, 4}, {259, 3, 1}, {262, 3, 1},
                                        {273, 4, 8 + 2 + 9 * 12 + 4}, {277, 3, 1}, {278, 4, 1000}, {279, 4, 2000000}};
    for (const auto& e : entries) {
        picttest::le(t, e[0], 2);
        picttest::le(t, e[1], 2);
        picttest::le(t, 1, 4);
        picttest::le(t, e[2], 4);
    }
    picttest::le(t, 0, 4);
    t.resize(t.size() + 2000000, 0x5A);
    cPictBase::largestPixelBuffer(true);
    EXPECT_TRUE(adaptertest::decodes<cPictTIFF>(t));
    EXPECT_EQ(cPictBase::largestPixelBuffer(true), 16000000);
    EXPECT_GE(m.peak(), 16000000 + 2000000);
    EXPECT_GE(afterOurs, 10 * kMiB);
    EXPECT_GT(m.count(), 10);
}

// Files of under 64 KB at the edge of each coding's allowance
// (make_allowance_inputs.py): TIFF strips that all point at one deflate
// stream, a valid one-bit PNG of 2^28 pixels (bare, with its rows cut into
// an ancillary chunk, in a BMP, an icon and an icon family), GIFs of zero
// data bytes and of the longest LZW strings, a valid Group 4 page of
// 16384 x 16384.  Each once held a gigabyte or more; each describes more
// than a small input may, and is refused before a pixel is reserved.
TEST(Costs, SmallInputsAtTheEdgeOfEachAllowanceAreRefusedAtOnce) {
    qortest::TempDir dir;
    const auto index = picttest::generate("bombs", dir.path(), "make_allowance_inputs.py");
    ASSERT_EQ(index.size(), 11u);
    for (const auto& entry : index) {
        const std::string& name = entry.first;
        const Bytes b = picttest::readBytes(dir.file(name));
        ASSERT_LT(static_cast<long long>(b.size()), kSmallInputBytes) << name;
        cPictBase::largestPixelBuffer(true);
        const sCosts c = measure(b, decoders().at(entry.second));
        SCOPED_TRACE(name);
        EXPECT_TRUE(c.probed);
        EXPECT_GE(c.info.width * c.info.height, 20000000);  // the claim is there
        EXPECT_FALSE(c.decoded);
        EXPECT_EQ(c.fw, 0);
        EXPECT_NE(c.imageResult, cPictBase::frOk);
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
        EXPECT_LT(std::max({c.probe, c.decode, c.factory, c.image, c.preview}), 4 * kMiB);
    }
}

// The pixel ceiling: a picture past it is refused whole, before its pixels
// or a library's buffers are laid out, and still drawn into a smaller
// target; the default comes back with 0.
TEST(Costs, PicturesPastThePixelCeilingAreRefusedWholeAndStillFitted) {
    EXPECT_EQ(cPictBase::pixelCeiling(), kDefaultPixelCeiling);
    qortest::TempDir dir;
    const std::string script =
        "import sys\nfrom PIL import Image\nim = Image.radial_gradient('L').resize((1200, 1000)).convert('RGB')\n"
        "for ext in ('png', 'gif', 'bmp', 'tif', 'jpg', 'jp2'):\n"
        "    im.save(sys.argv[1] + '/ceiling.' + ext)\n";
    int status = -1;
    const std::string out = qortest::runPython(script, dir.path(), &status);
    ASSERT_EQ(status, 0) << out;
    for (const char* ext : {"png", "gif", "bmp", "tif", "jpg", "jp2"}) {
        SCOPED_TRACE(ext);
        const Bytes b = picttest::readBytes(dir.file(std::string("ceiling.") + ext));
        auto fit = [&](cPictDummy& into) {
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            return cPictBase::getImage(&io, into, 24, 20, 0);
        };
        cPictDummy before;
        ASSERT_EQ(fit(before), cPictBase::frOk);
        cPictBase::setPixelCeiling(1200 * 1000 - 1);
        EXPECT_EQ(cPictBase::pixelCeiling(), 1200 * 1000 - 1);
        cPictBase::largestPixelBuffer(true);
        qortest::AllocMeter m;
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictBase* whole = cPictBase::mkPicture(&io, nullptr);
        const long long held = m.peak();
        EXPECT_EQ(whole, nullptr);
        delete whole;
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
        EXPECT_LT(held, 1200 * 1000);  // a quarter of the picture
        cPictDummy after;
        EXPECT_EQ(fit(after), cPictBase::frOk);
        cPictBase::setPixelCeiling(0);
        EXPECT_EQ(cPictBase::pixelCeiling(), kDefaultPixelCeiling);
        ASSERT_EQ(after.width(), before.width());
        ASSERT_EQ(after.height(), before.height());
        EXPECT_TRUE(std::equal(before.raw8Bpp(), before.raw8Bpp() + before.width() * before.height(), after.raw8Bpp()));
    }
    cPictBase::setPixelCeiling(kMaxPictPixels + 1);
    EXPECT_EQ(cPictBase::pixelCeiling(), kDefaultPixelCeiling);
}

// A GIF's indices become rows as the LZW decoder hands them on, a window at
// a time: a picture of 6 M pixels (rows of an odd width, so that rows
// straddle the windows), plain and interlaced, decodes like Pillow reads
// it holding the picture and about a megabyte besides, and a fit into a
// small box holds only that megabyte and the data.
TEST(Costs, GifRowsAreMadeAsTheCodesAreDecoded) {
    qortest::TempDir dir;
    const std::string script = R"PY(
import sys
from PIL import Image
w, h = 3001, 2001
v = Image.blend(Image.linear_gradient('L').resize((w, h)), Image.effect_noise((w, h), 64), 0.1).point(lambda x: x // 4)
v.putpalette(bytes((i * 4, 255 - i * 4, (i * 37) & 255)[k] for i in range(64) for k in range(3)))
for name, inter in (('plain', False), ('interlaced', True)):
    v.save('%s/%s.gif' % (sys.argv[1], name), interlace=inter)
with open('%s/gif.rgba' % sys.argv[1], 'wb') as f:
    f.write(Image.open('%s/plain.gif' % sys.argv[1]).convert('RGBA').tobytes())
)PY";
    int status = -1;
    const std::string out = qortest::runPython(script, dir.path(), &status);
    ASSERT_EQ(status, 0) << out;
    constexpr long long kW = 3001, kH = 2001, kPicture = kW * kH * 4;
    const Bytes ref = picttest::readBytes(dir.file("gif.rgba"));
    ASSERT_EQ(static_cast<long long>(ref.size()), kPicture);
    for (const char* name : {"plain.gif", "interlaced.gif"}) {
        SCOPED_TRACE(name);
        const Bytes b = picttest::readBytes(dir.file(name));
        const long long data = static_cast<long long>(b.size());
        ASSERT_GT(data, 100000);
        cPictGIF d;
        {
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), data, false);
            qortest::AllocMeter m;
            ASSERT_TRUE(d.decode(&io));
            EXPECT_LT(m.peak(), kPicture + 2 * data + 2 * kMiB);
        }
        ASSERT_EQ(d.width(), kW);
        ASSERT_EQ(d.height(), kH);
        long long wrong = 0;
        for (long long y = 0; y < kH; ++y)
            for (long long x = 0; x < kW; ++x) {
                const unsigned char* p = &ref[static_cast<std::size_t>((y * kW + x) * 4)];
                wrong += d.raw8Bpp()[(kH - 1 - y) * kW + x] !=
                         (static_cast<unsigned int>(p[3]) << 24 | p[0] << 16 | p[1] << 8 | p[2]);
            }
        EXPECT_EQ(wrong, 0);
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), data, false);
        cPictDummy fitted;
        qortest::AllocMeter m;
        ASSERT_EQ(cPictBase::getImage(&io, fitted, 30, 20, 0), cPictBase::frOk);
        EXPECT_LT(m.peak(), 2 * data + 2 * kMiB);
        EXPECT_EQ(fitted.width(), 30);
    }
}

// The largest pictures a file just under 64 KB may describe (224 MB of
// 8-bit pixels: 8192 x 7168), one-bit PNG (bare and inside a BMP, which
// takes the PNG's pixels over instead of copying them), GIF of the longest
// LZW strings and Group 4: each decodes whole within 256 MB, with its
// pixels where the generator put them, and fits into a small box holding a
// few megabytes; a row more is refused at once.
TEST(Costs, TheLargestPicturesASmallInputDescribesStayUnder256MB) {
    constexpr long long kW = 8192, kPixels = kSmallInputPictureBytes / 4, kH = kPixels / kW;
    for (long long rows : {kH, kH + 1}) {
        SCOPED_TRACE(rows);
        qortest::TempDir dir;
        const auto index = picttest::generate("largest " + std::to_string(kW * rows) + " 63488", dir.path(),
                                              "make_allowance_inputs.py");
        ASSERT_EQ(index.size(), 4u);
        for (const auto& entry : index) {
            SCOPED_TRACE(entry.first);
            const Bytes b = picttest::readBytes(dir.file(entry.first));
            ASSERT_LT(static_cast<long long>(b.size()), kSmallInputBytes);
            std::unique_ptr<cPictBase> whole;
            long long peak = 0;
            {
                cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
                qortest::AllocMeter m;
                whole.reset(cPictBase::mkPicture(&io, nullptr));
                peak = m.peak();
            }
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            cPictDummy fitted;
            qortest::AllocMeter m;
            const int fit = cPictBase::getImage(&io, fitted, 24, 16, 0);
            const long long fitPeak = m.peak();
            if (rows > kH) {
                EXPECT_EQ(whole, nullptr);
                EXPECT_NE(fit, cPictBase::frOk);
                EXPECT_LT(std::max(peak, fitPeak), 4 * kMiB);
                continue;
            }
            ASSERT_NE(whole, nullptr);
            EXPECT_EQ(whole->typeOf(), entry.second);
            ASSERT_EQ(whole->width(), kW);
            ASSERT_EQ(whole->height(), kH);
            EXPECT_GE(peak, kSmallInputPictureBytes);
            EXPECT_LE(peak, 256 * kMiB);
            const unsigned int* top = whole->raw8Bpp() + (kH - 1) * kW;
            const unsigned int* second = top - kW;
            if (entry.second == cPictBase::ptTIFF) {
                EXPECT_EQ(top[0], 0xFF000000u);
                EXPECT_EQ(top[2], 0xFFFFFFFFu);
                EXPECT_EQ(second[0], 0xFFFFFFFFu);
            } else {
                EXPECT_EQ(top[0], 0xFFFFFFFFu);
                EXPECT_EQ(top[1], 0xFF000000u);
                EXPECT_EQ(second[0], 0xFF000000u);
            }
            // The bottom row: the last of an even count for the page.
            EXPECT_EQ(whole->raw8Bpp()[0], entry.second == cPictBase::ptTIFF ? 0xFFFFFFFFu : 0xFF000000u);
            EXPECT_EQ(fit, cPictBase::frOk);
            EXPECT_LT(fitPeak, 16 * kMiB);
        }
    }
}

// Thumbnails in proportion to the target: a picture of 2400 x 1600 (15 MB
// of pixels) in every format whose decoder draws its rows into a render
// target as they come, fitted into 24 x 16, holds at most a block of rows
// besides the file; the fit is exactly what the sink makes of the pixels
// Pillow decodes, and close to Pillow's box average (the bins start half
// a bin before the boxes).
TEST(Costs, ThumbnailsHoldTheTargetNotThePicture) {
    qortest::TempDir dir;
    const auto index = picttest::generate("thumbnails", dir.path(), "make_allowance_inputs.py");
    ASSERT_EQ(index.size(), 14u);
    for (const auto& entry : index) {
        SCOPED_TRACE(entry.first);
        const Bytes b = picttest::readBytes(dir.file(entry.first));
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> probed(cPictBase::mkPicture(&io, &info));
        ASSERT_NE(probed, nullptr);
        EXPECT_EQ(probed->typeOf(), entry.second);
        cPictBase::largestPixelBuffer(true);
        cPictDummy fitted;
        qortest::AllocMeter m;
        ASSERT_EQ(cPictBase::getImage(&io, fitted, 24, 16, 0), cPictBase::frOk);
        EXPECT_LT(m.peak(), 3 * kMiB);
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
        EXPECT_TRUE(picttest::samePixels(fitted, picttest::readReference(dir.file(entry.first + ".sink.ref"))));
        picttest::expectWithin(fitted, picttest::readReference(dir.file(entry.first + ".box.ref")), 3.0, 24);
    }
}

// JPEGs whose EXIF thumbnail is a JPEG whose EXIF thumbnail is a JPEG...,
// every level a grey 2048 x 2048 frame that libjpeg fills in
// (make_thumbnail_inputs.py), alone and as a DICOM frame: a picture's
// thumbnail is charged to the picture's own budget and a thumbnail's
// thumbnail is never decoded, through every way in.  Each runs under a
// decode meter that refuses any scan past the ones expected, so a decoder
// that nests again fails here a level or two down instead of holding
// gigabytes.
TEST(Costs, ThumbnailsAreDecodedOneLevelDeepOnTheirPicturesBudget) {
    constexpr unsigned long long kLevel = 2048ULL * 2048;  // one level's samples
    const struct {
        const char* path;
        int type;
        unsigned long long scans;         // of a decode
        unsigned long long previewScans;  // of the factory's preview
        bool thumbnail;                   // the decode keeps a preview
    } files[] = {
        {"jpeg/malformed/huge-thumbnails-nested-50-deep-2048x2048.jpg", cPictBase::ptJPEG, 2, 1, true},
        {"jpeg/malformed/huge-thumbnails-nested-300-deep-2048x2048.jpg", cPictBase::ptJPEG, 2, 1, true},
        // Each of its two levels alone is a picture its 334 bytes may
        // describe, both together are not: the picture decodes, its
        // thumbnail's frame is refused; the thumbnail alone is the preview.
        {"jpeg/malformed/huge-thumbnail-2048x2048-of-a-2048x2048-picture.jpg", cPictBase::ptJPEG, 1, 1, false},
        // A DICOM frame has no preview of its own: the picture decoded into
        // the box is.
        {"dicom/malformed/huge-jpeg-frame-of-nested-thumbnails-300-deep-2048x2048.dcm", cPictBase::ptDICOM, 2, 2,
         false},
    };
    struct sMetered {
        cPictBase::sDecodeMeter meter;
        cPictBase::sDecodeMeter* before;
        explicit sMetered(unsigned long long levels) : before(nullptr) {
            meter.workLimit = levels * kLevel;
            before = cPictBase::setDecodeMeter(&meter);
        }
        ~sMetered() { cPictBase::setDecodeMeter(before); }
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.path);
        const Bytes b = picttest::readBytes(qortest::dataPath(f.path));
        ASSERT_FALSE(b.empty());
        {
            sMetered m(f.scans);
            long long w = 0, h = 0;
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            EXPECT_TRUE(decoders().at(f.type).decode(&io, w, h));
            EXPECT_EQ(w, 2048);
            EXPECT_EQ(h, 2048);
            EXPECT_EQ(m.meter.scans, f.scans);
            EXPECT_EQ(m.meter.work, f.scans * kLevel);
            EXPECT_FALSE(m.meter.refusedWork);
        }
        if (f.type == cPictBase::ptJPEG) {
            // One budget: both frames, their pixels together.
            sMetered m(f.scans);
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            cPictJPEG pict;
            ASSERT_TRUE(pict.decode(&io));
            EXPECT_EQ(pict.parser().budget().frames(), 2);
            EXPECT_EQ(pict.parser().budget().pixels(), 2 * kLevel);
            const cPictPropImage* preview = pict.getPropImage(cPictBase::epPreview);
            ASSERT_EQ(preview != nullptr, f.thumbnail);
            if (preview) {
                EXPECT_EQ(preview->value->width(), 2048);
                EXPECT_EQ(preview->value->height(), 2048);
                EXPECT_EQ(preview->value->getPropImage(cPictBase::epPreview), nullptr);
            }
        }
        // The factory's ways: a decode and a fitted image cost the picture
        // and one thumbnail, a preview one level (the thumbnail, or the
        // picture decoded into the box).
        sMetered m(3 * f.scans + f.previewScans);
        const sCosts c = measure(b, decoders().at(f.type));
        EXPECT_FALSE(m.meter.refusedWork);
        EXPECT_EQ(c.fw, 2048);
        EXPECT_EQ(c.imageResult, cPictBase::frOk);
        EXPECT_EQ(c.previewResult, cPictBase::frOk);
        EXPECT_EQ(m.meter.scans, 3 * f.scans + f.previewScans);
        // Two pictures of 16 MB at most, however deep the levels go.
        EXPECT_LT(std::max({c.decode, c.factory, c.image, c.preview}), 36 * kMiB);
    }
}

// A progressive JPEG's coefficients are held whole besides its picture (two
// bytes a sample): a grey one of 7000 x 7000 padded to 60 KB, whose picture
// alone is within what a small input may describe, is refused before
// libjpeg lays them out.
TEST(Costs, ProgressiveJpegsCountTheirCoefficients) {
    const std::string script = R"PY(
import io, struct, sys
from PIL import Image
buf = io.BytesIO()
Image.new('L', (16, 16), 90).save(buf, 'JPEG', progressive=True, quality=60)
j = bytearray(buf.getvalue())
sof = j.find(b'\xff\xc2')
struct.pack_into('>HH', j, sof + 5, 7000, 7000)
pad = 60 * 1024 - len(j) - 4
j[2:2] = b'\xff\xfe' + struct.pack('>H', pad + 2) + bytes(pad)
sys.stdout.buffer.write(bytes(j))
)PY";
    int status = -1;
    const std::string out = qortest::runPython(script, "", &status);
    ASSERT_EQ(status, 0) << out;
    const Bytes b(out.begin(), out.end());
    ASSERT_LT(static_cast<long long>(b.size()), kSmallInputBytes);
    ASSERT_TRUE(cPictBase::inputCanDescribe(7000LL * 7000, static_cast<long long>(b.size())));
    cPictBase::largestPixelBuffer(true);
    const sCosts c = measure(b, decoders().at(cPictBase::ptJPEG));
    EXPECT_TRUE(c.probed);
    EXPECT_EQ(c.info.width, 7000);
    EXPECT_FALSE(c.decoded);
    EXPECT_NE(c.imageResult, cPictBase::frOk);
    EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
    EXPECT_LT(std::max({c.decode, c.factory, c.image, c.preview}), 4 * kMiB);
}

// Sequential JPEGs whose first scan leaves a component out are read in
// libjpeg's multi-scan mode, whatever the door (make_multiscan_inputs.py):
// each scan is charged the blocks it walks before it is read, the picture's
// coefficients before they are laid out, and the data is refused before the
// scans pass what its bytes may describe.  Nothing is timed: the thread's
// decode meter counts the scans, the samples and the bytes held.
TEST(Costs, MultiScanSequentialJpegsAreChargedEveryScanThroughEveryDoor) {
    const long long coefficients3816 = 477LL * 477 * 64 * 2 * 3;
    const struct {
        const char* path;
        int type;
        bool decoded;        // the picture (not its thumbnail) decodes
        unsigned long long held;  // the largest coefficient buffer charged
    } found[] = {
        {"jpeg/malformed/slow-sequential-1000-scans-3816x3816.jpg", cPictBase::ptJPEG, false, coefficients3816},
        // The 8 x 8 picture decodes; its thumbnail is refused.
        {"jpeg/malformed/slow-sequential-thumbnail-1000-scans-3816x3816.jpg", cPictBase::ptJPEG, true,
         coefficients3816},
        {"dicom/malformed/slow-sequential-1000-scans-3816x3816.dcm", cPictBase::ptDICOM, false, coefficients3816},
        // 50 strips of 99 scans: refused by their walk, before libtiff.
        {"tiff/malformed/slow-50-sequential-strips-of-99-scans-2048x12800.tif", cPictBase::ptTIFF, false,
         256LL * 32 * 64 * 2 * 3},
        // Its coefficients and picture are more than 24 KB may describe:
        // refused before a scan.
        {"jpeg/malformed/huge-sequential-2-scans-5300x5300.jpg", cPictBase::ptJPEG, false, 0},
    };
    for (const auto& f : found) {
        SCOPED_TRACE(f.path);
        const Bytes b = picttest::readBytes(qortest::dataPath(f.path));
        ASSERT_FALSE(b.empty());
        const long long n = static_cast<long long>(b.size());
        cPictBase::sDecodeMeter meter;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        long long w = 0, h = 0;
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), n, false);
        const bool decoded = decoders().at(f.type).decode(&io, w, h);
        cPictBase::setDecodeMeter(before);
        EXPECT_EQ(decoded, f.decoded);
        EXPECT_EQ(meter.held, f.held);
        // Every sample every scan decodes is within kJpegScanBudget times
        // what the input describes (the TIFF's walk also counts its bytes).
        const long long describable = kFreePictPixels + n * kMaxPixelsPerInputByte;
        EXPECT_LE(static_cast<long long>(meter.work), kJpegScanBudget * describable + n);
        EXPECT_LE(meter.scans, static_cast<unsigned long long>(kMaxJpegScans));
        if (f.held) {
            EXPECT_GE(meter.scans, 1u);
        }
        // The factory's fitted picture is refused as well, holding little.
        if (!f.decoded) {
            const sCosts c = measure(b, decoders().at(f.type));
            EXPECT_FALSE(c.decoded);
            EXPECT_NE(c.imageResult, cPictBase::frOk);
            // What they hold is the coefficients charged, and little more.
            EXPECT_LT(std::max({c.decode, c.factory, c.image, c.preview}), static_cast<long long>(f.held) + 4 * kMiB);
        }
    }
}

// The same shapes, small and whole, decode through every door, each scan
// charged once: 4 scans of 64 x 64, and grey as Pillow decodes them (the
// scans carry one component; the others stay at their midpoint).
TEST(Costs, WholeMultiScanSequentialJpegsDecodeWithEveryScanCounted) {
    const struct {
        const char* path;
        const char* oracle;  // what Pillow decodes the same JPEG data from
        int type;
        unsigned long long scans;
    } files[] = {
        {"jpeg/sequential-4-scans-64x64.jpg", nullptr, cPictBase::ptJPEG, 4},
        {"dicom/sequential-4-scans-64x64.dcm", "jpeg/sequential-4-scans-64x64.jpg", cPictBase::ptDICOM, 4},
        {"tiff/sequential-strips-of-4-scans-64x128.tif", nullptr, cPictBase::ptTIFF, 8},
        // The 8 x 8 picture's one scan, then its thumbnail's four.
        {"jpeg/exif/sequential-thumbnail-4-scans-64x64.jpg", nullptr, cPictBase::ptJPEG, 5},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.path);
        const std::string path = qortest::dataPath(f.path);
        int status = -1;
        const std::string oracle = qortest::runPython(
            "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGB')\n"
            "print(' '.join('%d' % (0xFF000000 | r << 16 | g << 8 | b) for r, g, b in sorted(set(im.getdata()))))\n",
            qortest::dataPath(f.oracle ? f.oracle : f.path), &status);
        ASSERT_EQ(status, 0) << oracle;
        const Bytes b = picttest::readBytes(path);
        cPictBase::sDecodeMeter meter;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        std::unique_ptr<cPictBase> p(cPictBase::mkPicture(&io, nullptr));
        cPictBase::setDecodeMeter(before);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->typeOf(), f.type);
        EXPECT_EQ(meter.scans, f.scans);
        // One frame of 64 x 64 (a strip of the TIFF) held whole at a time.
        EXPECT_EQ(meter.held, 8u * 8 * 64 * 2 * 3);
        std::vector<unsigned int> px;
        for (long long i = 0; i < p->width() * p->height(); ++i) px.push_back(p->raw8Bpp()[i]);
        std::sort(px.begin(), px.end());
        px.erase(std::unique(px.begin(), px.end()), px.end());
        std::string ours;
        for (unsigned int v : px) ours += (ours.empty() ? "" : " ") + std::to_string(v);
        EXPECT_EQ(ours + "\n", oracle);
    }
}

// A caller's meter stops a decode before the scan it cannot pay for: the
// 4-scan picture costs 4 x 4096 samples, and a meter of three scans' worth
// refuses the fourth.
TEST(Costs, DecodeMeterRefusesTheScanPastItsLimit) {
    const Bytes b = picttest::readBytes(qortest::dataPath("jpeg/sequential-4-scans-64x64.jpg"));
    for (unsigned long long limit : {4ULL * 4096, 3ULL * 4096}) {
        cPictBase::sDecodeMeter meter;
        meter.workLimit = limit;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictJPEG jpeg;
        const bool ok = jpeg.decode(&io);
        cPictBase::setDecodeMeter(before);
        EXPECT_EQ(ok, limit == 4 * 4096);
        EXPECT_EQ(meter.refusedWork, limit != 4 * 4096);
        EXPECT_EQ(meter.work, std::min(limit, 4ULL * 4096));
    }
}

// libtiff goes on through the strips after one its codec filled in: the
// first of two strips of 64 x 64 has a scan without data, and the picture
// is refused there, before its pixels are reserved for the second.
TEST(Costs, TiffStopsAtTheStripTheCodecFilledIn) {
    const Bytes b = picttest::readBytes(qortest::dataPath("tiff/malformed/first-of-two-strips-cut-64x128.tif"));
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictBase::largestPixelBuffer(true);
    cPictTIFF tiff;
    EXPECT_FALSE(tiff.decode(&io));
    EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
}
