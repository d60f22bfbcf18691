// Icon families made by png2icns (packed 24-bit elements with masks, JPEG
// 2000 elements), PNG elements, and classic 1-, 4- and 8-bit bitmaps packed
// by the generator: every page compared with Pillow's decode (or, for the
// classic bitmaps, with the palettes applied in Python); element lengths
// that wrap, short masks and damaged families are refused.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "allocmeter.h"
#include "icontest.h"
#include "picts/picticns.h"
#include "picts/pictjp2.h"

using picttest::Bytes;

namespace {

class IcnsFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        index_ = new std::vector<icontest::sPage>(icontest::generate("icns", dir_->path()));
    }
    static void TearDownTestSuite() {
        delete index_;
        delete dir_;
    }
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name)); }
    static qortest::TempDir* dir_;
    static std::vector<icontest::sPage>* index_;
};
qortest::TempDir* IcnsFiles::dir_ = nullptr;
std::vector<icontest::sPage>* IcnsFiles::index_ = nullptr;

void putBe32(Bytes& b, std::size_t at, unsigned long v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<unsigned char>(v >> (24 - 8 * i));
}

void append(Bytes& b, const char* type, const Bytes& data, long long lengthOverride = -1) {
    b.insert(b.end(), type, type + 4);
    const unsigned long n = lengthOverride >= 0 ? static_cast<unsigned long>(lengthOverride) : data.size() + 8;
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(n >> (24 - 8 * i)));
    b.insert(b.end(), data.begin(), data.end());
}

Bytes family(const Bytes& body) {
    Bytes b(8 + body.size());
    const char magic[] = "icns";
    std::copy(magic, magic + 4, b.begin());
    std::copy(body.begin(), body.end(), b.begin() + 8);
    putBe32(b, 4, b.size());
    return b;
}

// The element offsets of a family, by walking it here.
std::map<std::string, std::size_t> elements(const Bytes& b) {
    std::map<std::string, std::size_t> at;
    for (std::size_t pos = 8; pos + 8 <= b.size();) {
        const unsigned long len = static_cast<unsigned long>(b[pos + 4]) << 24 | b[pos + 5] << 16 | b[pos + 6] << 8 | b[pos + 7];
        at[std::string(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos) + 4)] = pos;
        if (len < 8) break;
        pos += len;
    }
    return at;
}

}  // namespace

TEST_F(IcnsFiles, EveryPageDecodesLikeItsReferenceAndTheProbeReportsTheLargest) {
    icontest::everyPageLikeReference<cPictICNS>(dir_->path(), *index_);
}

TEST_F(IcnsFiles, DecodeTakesTheLargestImage) {
    const Bytes b = file("icns_tool.icns");
    cPictICNS pict;
    ASSERT_TRUE(adaptertest::decodes<cPictICNS>(b, &pict));
    EXPECT_TRUE(picttest::samePixels(pict, picttest::readReference(dir_->file("icns_tool_4.ref"))));
    cPictICNS png;
    ASSERT_TRUE(adaptertest::decodes<cPictICNS>(file("icns_png.icns"), &png));
    EXPECT_TRUE(picttest::samePixels(png, picttest::readReference(dir_->file("icns_png_2.ref"))));
}

TEST_F(IcnsFiles, PreviewsPickTheLargestWithinTheLimitsOrScaleIntoThem) {
    const Bytes b = file("icns_tool.icns");
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictICNS icns;
    cPictDummy out;
    long long w = 48, h = 48;
    ASSERT_TRUE(icns.getPreview(&io, out, &w, &h));
    EXPECT_TRUE(picttest::samePixels(out, picttest::readReference(dir_->file("icns_tool_2.ref"))));
    w = 47;
    ASSERT_TRUE(icns.getPreview(&io, out, &w, &h));
    EXPECT_EQ(out.width(), 32);
    w = 15;
    EXPECT_FALSE(icns.getPreview(&io, out, &w, &h));
    int fw = 0, fh = 0;
    unsigned off = 0, len = 0;
    EXPECT_FALSE(icns.findMaxPage(&io, fw, fh, off, len, 15, 100));
    ASSERT_TRUE(icns.findMaxPage(&io, fw, fh, off, len, 100, 100));
    EXPECT_EQ(fw, 48);

    // Page 3 is 128 x 128: scaled into 48 x 48, whole into 200 x 200.
    cPictDummy small, whole;
    ASSERT_TRUE(icns.decodePagePreview(&io, small, 48, 48, 3, false, 0));
    EXPECT_EQ(small.width(), 48);
    EXPECT_EQ(small.height(), 48);
    ASSERT_TRUE(icns.decodePagePreview(&io, whole, 200, 200, 3, false, 0));
    EXPECT_TRUE(picttest::samePixels(whole, picttest::readReference(dir_->file("icns_tool_3.ref"))));
}

TEST_F(IcnsFiles, RenderTargetsGetWhatThePlainDecodeGives) {
    for (const char* name : {"icns_tool.icns", "icns_png.icns", "icns_classic.icns"})
        picttest::expectTargetsMatchPlainDecode<cPictICNS>(file(name), name);
}

TEST(Icns, UnpackedTwentyFourBitElementsAndMissingMasks) {
    // il32 of exactly 32 x 32 x 3 bytes is taken as it is; ics8 followed by
    // something other than its mask stays opaque.
    Bytes raw(3072);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(i * 7 + (i / 3));
    Bytes body;
    append(body, "il32", raw);
    append(body, "ics8", Bytes(256, 215));
    append(body, "l8mk", Bytes(1024, 9));
    const Bytes b = family(body);
    cPictICNS pict;
    ASSERT_TRUE(icontest::decodePage<cPictICNS>(b, 0, pict));
    ASSERT_EQ(pict.width(), 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * 32 + x) * 3;
            const unsigned want = 0xFF000000u | raw[i] << 16 | raw[i + 1] << 8 | raw[i + 2];
            ASSERT_EQ(pict.raw8Bpp()[(31 - y) * 32 + x], want) << x << "," << y;
        }
    cPictICNS grey;
    ASSERT_TRUE(icontest::decodePage<cPictICNS>(b, 1, grey));
    // Index 215 is the first step of the red ramp.
    EXPECT_EQ(grey.raw8Bpp()[0], 0xFFEE0000u);

    // Packed elements are covered by png2icns's files; empty input fails.
    unsigned char out[3];
    EXPECT_FALSE(cPictICNS::unpackRLE24(out, 0, out, sizeof out));
}

TEST_F(IcnsFiles, ElementLengthsThatWrapOrRunPastTheFamilyAreRefused) {
    const Bytes good = file("icns_tool.icns");
    ASSERT_TRUE(adaptertest::probes<cPictICNS>(good));
    const auto at = elements(good);
    struct {
        const char* what;
        std::size_t where;
        unsigned long value;
    } cases[] = {
        {"element length 0", at.at("il32") + 4, 0},
        {"element length 4 (wraps below the head)", at.at("il32") + 4, 4},
        {"element length 7", at.at("is32") + 4, 7},
        {"element past the family", at.at("ic08") + 4, 0xFFFFFFF0u},
        {"family length below 16", 4, 15},
        {"magic", 0, 0x69636e74},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        putBe32(b, c.where, c.value);
        EXPECT_FALSE(adaptertest::probes<cPictICNS>(b));
        EXPECT_FALSE(adaptertest::decodes<cPictICNS>(b));
        cBufWrapperIO io(b.data(), static_cast<long long>(b.size()), false);
        cPictICNS pict;
        EXPECT_EQ(pict.getNumPages(&io), 0);
    }
    // A fixed-size bitmap of the wrong length fails.
    Bytes body;
    append(body, "icl8", Bytes(1000, 1));
    EXPECT_FALSE(adaptertest::decodes<cPictICNS>(family(body)));
}

TEST(Icns, ShortIchMaskIsNotReadAndTheImageStaysOpaque) {
    // An "ich#" mask of the wrong size (here only its image half) is not
    // read past its end: the 48 x 48 image stays opaque.
    Bytes body;
    append(body, "ich8", Bytes(2304, 0));
    append(body, "ich#", Bytes(288, 0));
    append(body, "ICON", Bytes(128, 0));
    const Bytes b = family(body);
    cPictICNS pict;
    ASSERT_TRUE(icontest::decodePage<cPictICNS>(b, 0, pict));
    ASSERT_EQ(pict.width(), 48);
    for (long long i = 0; i < 48 * 48; ++i) ASSERT_EQ(pict.raw8Bpp()[i] >> 24, 0xFFu);
    // A whole "ich#" mask of zeros clears every pixel.
    Bytes whole;
    append(whole, "ich8", Bytes(2304, 0));
    append(whole, "ich#", Bytes(576, 0));
    ASSERT_TRUE(icontest::decodePage<cPictICNS>(family(whole), 0, pict));
    for (long long i = 0; i < 48 * 48; ++i) ASSERT_EQ(pict.raw8Bpp()[i] >> 24, 0u);
}

TEST_F(IcnsFiles, DamagedFilesFailQuietly) {
    adaptertest::damagedFormsFail<cPictICNS>(file("icns_classic.icns"), 48, 48);
    adaptertest::damagedFormsFail<cPictICNS>(file("icns_png.icns"), 128, 128);
}

// The families' one element is a codestream of 16384 x 16384, or one of 64
// x 64 in 65,535 layers of 4,096 precincts (make_jp2_cost_inputs.py:
// 9.9 s and 532 MB in the library), replayed in a child held to a minute
// of processor time.
TEST(IcnsMalformed, SavedInputsReplayWithoutHarm) {
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [] {
        adaptertest::replayMalformed<cPictICNS>(
            "icns", {adaptertest::refusedAfterProbe("huge-ic10-j2k-16384x16384-in-98-bytes.icns", 16384, 16384),
                     adaptertest::refusedAfterProbe("slow-ic10-of-65535-layers-in-106-bytes.icns", 64, 64)});
    }));
}

// A codestream inside a family is held to the budget of the codestream
// alone: decoded directly, as the family's page, and fitted into a preview,
// it charges the thread's meter the same work, and a meter short of a unit
// refuses it through every door.
TEST(IcnsCosts, EmbeddedCodestreamsChargeWhatTheyChargeAlone) {
    int status = -1;
    const std::string out = qortest::runCommand(
        qortest::python3() + " -c \"import sys; sys.path.insert(0, '" QOR_SOURCE_DIR "/tests/picts'); "
                             "import make_jp2_cost_inputs as m; "
                             "sys.stdout.buffer.write(m.shape(seed=5, **m.SHAPES['precincts'])[0])\"",
        &status);
    ASSERT_EQ(status, 0);
    const Bytes codestream(out.begin(), out.end());
    Bytes body;
    append(body, "ic10", codestream);
    const Bytes b = family(body);
    // Each door with a meter of `limit` units: whether it decoded, and the
    // work charged.
    auto metered = [&](unsigned long long limit, const std::function<bool()>& door, unsigned long long& work) {
        cPictBase::sDecodeMeter meter;
        meter.workLimit = limit;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        const bool ok = door();
        cPictBase::setDecodeMeter(before);
        work = meter.work;
        return ok;
    };
    auto alone = [&] { return adaptertest::decodes<cPictJ2K>(codestream); };
    auto page = [&] { return adaptertest::decodes<cPictICNS>(b); };
    auto preview = [&] {
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictDummy fitted;
        return cPictBase::getImage(&io, fitted, 70, 50, 0) == cPictBase::frOk;
    };
    unsigned long long work = 0, seen = 0;
    ASSERT_TRUE(metered(~0ULL, alone, work));
    ASSERT_GT(work, 70ull * 50 * 2);
    for (const auto& door : {std::function<bool()>(page), std::function<bool()>(preview)}) {
        EXPECT_TRUE(metered(work, door, seen));
        EXPECT_EQ(seen, work);
        EXPECT_FALSE(metered(work - 1, door, seen));
        EXPECT_EQ(seen, 0u);
    }
}

// A packed 24-bit element is read only as far as its runs can reach (six
// bytes a pixel at most): an it32 element whose runs fill its 128 x 128
// pixels in 768 bytes, followed by 8 MB the unpacker never needs, decodes
// holding a small part of that.
TEST(IcnsCosts, PackedElementsAreReadOnlyAsFarAsTheirRunsReach) {
    Bytes data = {0, 0, 0, 0};
    for (int channel = 0; channel < 3; ++channel)
        for (int done = 0; done < 128 * 128; done += 130) {
            data.push_back(0xFF);  // a run of 130
            data.push_back(static_cast<unsigned char>(40 + 60 * channel));
        }
    data.resize(data.size() + (8 << 20), 0x7F);
    Bytes body;
    append(body, "it32", data);
    const Bytes b = family(body);
    qortest::AllocMeter m;
    cPictICNS pict;
    ASSERT_TRUE(picttest::decodeBytes(b, pict));
    EXPECT_EQ(pict.width(), 128);
    EXPECT_EQ(pict.raw8Bpp()[0], 0xFF2864A0u);
    EXPECT_LT(m.peak(), 1 << 20);
}
