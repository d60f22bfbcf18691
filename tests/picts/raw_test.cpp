// Camera raw: small DNGs developed through the stream and compared with
// LibRaw's own dcraw_emu (16-bit with its default rendering, and linear),
// their thumbnail with simple_dcraw's extraction;
// a table of crafted headers, each taken by exactly one raw probe; damaged
// and oversized files fail quietly.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "adaptertest.h"
#include "allocmeter.h"
#include "picts/pictraw.h"

// The raw fuzz entry, built in: every kept input goes through it too.
#define LLVMFuzzerTestOneInput fuzzRaw
#include "../../fuzz/FuzzRaw.cpp"
#undef LLVMFuzzerTestOneInput

using picttest::Bytes;

namespace {

// The most the walk holds at once: one table (at most 512 entries of 12
// bytes), the list of tables to come and the entries hidden from LibRaw.
constexpr long long kWalkHolds = 16 << 10;

std::vector<std::string> generate(const std::string& kind, const std::string& dir) {
    int status = -1;
    const std::string out = qortest::runCommand(
        qortest::python3() + " " + QOR_SOURCE_DIR "/tests/picts/make_raw_images.py " + kind + " " + dir + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::string> lines;
    std::ifstream f(dir + "/index.txt");
    std::string line;
    while (std::getline(f, line))
        if (!line.empty()) lines.push_back(line);
    EXPECT_FALSE(lines.empty());
    return lines;
}

// Every raw probe by its format name.
using tProbe = bool (*)(cFileIOTarget*, cPictBase::sPictInfo*);
const std::map<std::string, tProbe>& probes() {
    static const std::map<std::string, tProbe> all = {
        {"MRW", cPictMRW::validFor}, {"RWL", cPictRWL::validFor}, {"ORF", cPictORF::validFor},
        {"X3F", cPictX3F::validFor}, {"PEF", cPictPEF::validFor}, {"ARW", cPictARW::validFor},
        {"SRW", cPictSRW::validFor}, {"IIQ", cPictIIQ::validFor}, {"RAF", cPictRAF::validFor},
        {"CRW", cPictCRW::validFor}, {"MOS", cPictMOS::validFor}, {"CR2", cPictCR2::validFor},
        {"CR3", cPictCR3::validFor}, {"NEF", cPictNEF::validFor}, {"3FR", cPict3FR::validFor},
        {"DNG", cPictDNG::validFor}, {"TIFF_EP", cPictTIFF_EP::validFor}};
    return all;
}

class RawFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        index_ = new std::vector<std::string>(generate("dng", dir_->path()));
    }
    static void TearDownTestSuite() {
        delete index_;
        delete dir_;
    }
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name)); }
    static qortest::TempDir* dir_;
    static std::vector<std::string>* index_;
};
qortest::TempDir* RawFiles::dir_ = nullptr;
std::vector<std::string>* RawFiles::index_ = nullptr;

void putLe32(Bytes& b, std::size_t at, unsigned long v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<unsigned char>(v >> (8 * i));
}

// The offset of the value of a tag in IFD 0 of a little-endian TIFF.
std::size_t tagValueAt(const Bytes& b, unsigned tag) {
    const std::size_t ifd = b[4] | b[5] << 8;
    const unsigned n = static_cast<unsigned>(b[ifd] | b[ifd + 1] << 8);
    for (unsigned i = 0; i < n; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (static_cast<unsigned>(b[e] | b[e + 1] << 8) == tag) return e + 8;
    }
    return 0;
}

}  // namespace

TEST_F(RawFiles, DngDevelopsLikeDcrawEmuWithDefaultAndLinearRendering) {
    for (const std::string& name : *index_) {
        SCOPED_TRACE(name);
        const Bytes b = file(name);
        const std::string stem = adaptertest::stem(name);
        const picttest::Reference gamma = picttest::readReference(dir_->file(stem + ".gamma.ref"));
        const picttest::Reference linear = picttest::readReference(dir_->file(stem + ".linear.ref"));
        cPictBase::sPictInfo info;
        ASSERT_TRUE(adaptertest::probes<cPictDNG>(b, &info));
        EXPECT_EQ(info.width, gamma.width);
        EXPECT_EQ(info.height, gamma.height);
        std::ifstream thumbRef(dir_->file(stem + ".thumb.ref"));
        const bool hasThumb = thumbRef.good();
        EXPECT_EQ(info.hasPreview, hasThumb);
        cPictDNG dng;
        cPictRawBase::largestStreamWork(true);
        ASSERT_TRUE(adaptertest::decodes<cPictDNG>(b, &dng));
        // Far inside the stream budget of its size: LibRaw reads a real file
        // less than once over, in calls and bytes.
        EXPECT_GT(cPictRawBase::largestStreamWork(false), 0);
        EXPECT_LT(cPictRawBase::largestStreamWork(true), static_cast<long long>(b.size()));
        EXPECT_EQ(dng.typeOf(), cPictBase::ptDNG);
        EXPECT_TRUE(dng.is16Bpp());
        EXPECT_TRUE(picttest::samePixels(dng, gamma));
        cPictDNG lin;
        lin.setLinearOutput(true);
        ASSERT_TRUE(adaptertest::decodes<cPictDNG>(b, &lin));
        EXPECT_TRUE(picttest::samePixels(lin, linear));
        ASSERT_NE(dng.getPropString(cPictBase::epMake), nullptr);
        EXPECT_STREQ(dng.getPropString(cPictBase::epMake)->value.c_str(), "Qortest");
        // The embedded thumbnail, against simple_dcraw's extraction.
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictDummy out;
        ASSERT_EQ(dng.getPreview(&io, out, nullptr, nullptr), hasThumb);
        if (hasThumb) {
            EXPECT_TRUE(picttest::samePixels(out, picttest::readReference(dir_->file(stem + ".thumb.ref"))));
        }
    }
}

// The JPEG streams LibRaw decodes are charged before it decodes them, to
// the caller's decode meter too: every sample of every stream, the pixels
// copied out of each of its rows, and for every stream started (once for
// each tile that points at it) kRawJpegStartWork and its header's bytes at
// kRawStreamBytesPerCall a unit (under 64 units here).  The lossless sensor
// of 64 x 48 is 32 two-sample pixels by 48 rows in one strip, 24 by 32 in
// each of its four tiles of 48 x 32; the lossy one is four tiles of 32 x 32
// in three components.  A lossy frame of more than one scan (progressive),
// which libjpeg would read whole inside LibRaw, is refused uncharged.
TEST_F(RawFiles, JpegStreamsAreChargedForEveryTileBeforeTheyAreDecoded) {
    auto charged = [](const Bytes& b, unsigned long long limit, bool& decoded) {
        cPictBase::sDecodeMeter meter;
        meter.workLimit = limit;
        cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
        cPictDNG dng;
        decoded = adaptertest::decodes<cPictDNG>(b, &dng);
        cPictBase::setDecodeMeter(before);
        EXPECT_EQ(meter.refusedWork, !decoded);
        return meter.work;
    };
    // Charged `least` for `streams` streams, and their headers.
    auto within = [](unsigned long long work, unsigned long long least, unsigned streams) {
        return work >= least + streams * kRawJpegStartWork && work < least + streams * (kRawJpegStartWork + 64);
    };
    const unsigned long long strip = 48 * (32 * 2 + 64);
    const unsigned long long tiles = 4 * 32 * (24 * 2 + 48);
    const unsigned long long lossyTiles = 4 * 32 * 32 * 3;
    bool decoded = false;
    EXPECT_TRUE(within(charged(file("raw_rggb_lj.dng"), ~0ULL, decoded), strip, 1));
    EXPECT_TRUE(decoded);
    const unsigned long long tiled = charged(file("raw_rggb_ljtiles.dng"), ~0ULL, decoded);
    EXPECT_TRUE(within(tiled, tiles, 4));
    EXPECT_TRUE(decoded);
    EXPECT_TRUE(within(charged(file("raw_lossy.dng"), ~0ULL, decoded), lossyTiles, 4));
    EXPECT_TRUE(decoded);
    cPictBase::sDecodeMeter meter;
    cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
    EXPECT_FALSE(adaptertest::decodes<cPictDNG>(file("lossy_progressive.dng")));
    cPictBase::setDecodeMeter(before);
    EXPECT_EQ(meter.work, 0u);
    EXPECT_FALSE(meter.refusedWork);
    // A meter that cannot pay for the tiles refuses the decode before LibRaw
    // reads a tile: nothing is charged.
    EXPECT_EQ(charged(file("raw_rggb_ljtiles.dng"), tiled - 1, decoded), 0u);
    EXPECT_FALSE(decoded);
    // Uncompressed data has no stream to charge.
    EXPECT_EQ(charged(file("raw_rggb.dng"), ~0ULL, decoded), 0u);
    EXPECT_TRUE(decoded);
    // The four tiles pointing at one stream (the first tile's) cost as much
    // as four streams, and develop: the first tile four times over.
    qortest::TempDir dir;
    const std::string script = std::string("import sys, struct; sys.path.insert(0, '") + QOR_SOURCE_DIR +
                               "/tests/picts')\nimport make_raw_images as m\n"
                               "plain = open(sys.argv[1], 'rb').read()\n"
                               "v = struct.unpack_from('<3072H', plain, len(plain) - 6144)\n"
                               "tile = [v[min(y, 47) * 64 + min(x, 63)] for y in range(32) for x in range(48)]\n"
                               "open(sys.argv[2], 'wb').write(m.dng_of_jpegs(64, 48, [m.ljpeg(tile, 24, 32, 2)], "
                               "(48, 32), offsets=[0] * 4))\n";
    int status = -1;
    const std::string out =
        qortest::runPython(script, dir_->file("raw_rggb.dng") + " " + dir.file("shared.dng"), &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_TRUE(within(charged(picttest::readBytes(dir.file("shared.dng")), ~0ULL, decoded), tiles, 4));
    EXPECT_TRUE(decoded);
}

TEST(RawProbes, EachCraftedHeaderIsTakenByItsOwnProbeAlone) {
    qortest::TempDir dir;
    const std::vector<std::string> index = generate("probes", dir.path());
    for (const std::string& line : index) {
        std::istringstream in(line);
        std::string name, want;
        in >> name >> want;
        SCOPED_TRACE(name);
        const Bytes b = picttest::readBytes(dir.file(name));
        std::string taken;
        for (const auto& p : probes()) {
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            if (p.second(&io, nullptr)) taken += (taken.empty() ? "" : ",") + p.first;
        }
        EXPECT_EQ(taken, want == "none" ? "" : want);
    }
    // The X3F header's own size stands when LibRaw has nothing to say.
    const Bytes x3f = picttest::readBytes(dir.file("x3f.bin"));
    cPictBase::sPictInfo info;
    ASSERT_TRUE(adaptertest::probes<cPictX3F>(x3f, &info));
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    // A header alone does not decode.
    EXPECT_FALSE(adaptertest::decodes<cPictX3F>(x3f));
    EXPECT_FALSE(adaptertest::decodes<cPictNEF>(picttest::readBytes(dir.file("nef.tif"))));
}

TEST_F(RawFiles, DecodersRefuseOtherFormats) {
    const Bytes b = file("raw_rggb.dng");
    EXPECT_FALSE(adaptertest::decodes<cPictNEF>(b));
    EXPECT_FALSE(adaptertest::decodes<cPictTIFF_EP>(b));
    EXPECT_FALSE(adaptertest::probes<cPictTIFF_EP>(b));
}

TEST_F(RawFiles, OversizedAndDamagedFilesFailQuietly) {
    const Bytes good = file("raw_rggb.dng");
    // Claimed sizes far past the pixel cap: refused before unpacking.
    for (unsigned long side : {70000ul, 0x40000000ul, 0xFFFFFFFFul}) {
        SCOPED_TRACE(side);
        Bytes b = good;
        putLe32(b, tagValueAt(b, 256), side);
        putLe32(b, tagValueAt(b, 257), side);
        putLe32(b, tagValueAt(b, 278), side);
        const std::string said = adaptertest::stderrDuring([&] { EXPECT_FALSE(adaptertest::decodes<cPictDNG>(b)); });
        EXPECT_EQ(said, "");
    }
    // A strip offset past the end.
    Bytes past = good;
    putLe32(past, tagValueAt(past, 273), 0xFFFFFF00ul);
    cPictDNG pict;
    if (adaptertest::decodes<cPictDNG>(past, &pict)) {
        EXPECT_EQ(pict.width(), 64);
    }
    adaptertest::damagedFormsFail<cPictDNG>(good, 64, 48);
}

// The inputs of make_raw_hostile_inputs.py: DNGs whose JPEG streams LibRaw
// would decode at their declared size, files of other makers' decoders, and
// DNGs whose thumbnail LibRaw's readers would lay out or overrun; and what
// the raw fuzz entry found since.
struct sHostileRaw {
    const char* name;
    long long width, height;  // the size the DNG probe reports; 0: it refuses the file
    bool develops;            // the sensor data is whole (a DNG whose thumbnail is hostile)
};
const sHostileRaw kHostileRaw[] = {
    {"slow-lossless-jpeg-strip-16384x16384x4-in-473-bytes.dng", 64, 64, false},
    {"slow-lossless-jpeg-strip-65535x65535x6-in-483-bytes.dng", 64, 64, false},
    {"slow-16-lossless-jpeg-tiles-of-4096x4096-in-598-bytes.dng", 64, 64, false},
    {"slow-64-lossless-jpeg-tiles-of-4096x4096-in-982-bytes.dng", 64, 64, false},
    {"slow-4096-lossless-jpeg-tiles-of-1x65535-over-4096x32-in-33238-bytes.dng", 4096, 32, false},
    {"slow-lossless-jpeg-frame-segment-of-4-bytes-4096x65535x6-in-465-bytes.dng", 64, 64, false},
    {"slow-lossless-jpeg-frame-after-1000-segments-16384x16384x4-in-4473-bytes.dng", 64, 64, false},
    {"huge-lossy-jpeg-strip-2-scans-16384x16384-in-548-bytes.dng", 64, 64, false},
    {"slow-lossy-jpeg-strip-1000-scans-3816x3816-in-10528-bytes.dng", 64, 64, false},
    {"huge-kodak-dc120-jpeg-2-scans-16384x16384-in-362-bytes.tif", 0, 0, false},
    {"crash-canon-sraw-jpeg-one-sample-wide-in-273-bytes.tif", 0, 0, false},
    {"huge-layer-thumbnail-16384x16384-in-3018-bytes.dng", 40, 30, true},
    {"crash-layer-thumbnail-longer-than-its-planes-in-7050-bytes.dng", 40, 30, true},
    {"crash-thumbnail-strip-byte-counts-wrap-in-7150-bytes.dng", 40, 30, true},
    // Found by the raw fuzz entry: a lossy DNG whose first tile's frame
    // libjpeg fails on while LibRaw reads its header, leaking the decoder.
    {"leak-ecd2fd91705875416c3efefd401d1b5d0e2a6b93", 64, 48, false},
};

// Every one is screened out before LibRaw sees it, or before it decodes what
// it must not.  Each input once cost seconds to minutes: the replay runs in a
// process of its own held to a processor time far above what they cost now.
TEST(RawMalformed, SavedInputsReplayWithoutHarm) {
    std::vector<adaptertest::KeptInput> table;
    for (const char* name : {"crash-214caa625a5a06924b00a1f77d330bba09cc0966", "crash-8d0dd049fe9346acdf7e650c4f88bbda1f6e3229",
                             "crash-cfa-pattern-in-fuji-table.dng", "crash-cfa-pattern-in-jpeg-exif-tiff.dng",
                             "hang-cr3-box-of-64-bit-length-zero.cr3", "stack-overflow-200-subifds-entries.tif",
                             "stack-overflow-five-subifds-entries.tif"})
        table.push_back(adaptertest::refusedByProbe(name));
    for (const sHostileRaw& h : kHostileRaw)
        table.push_back(h.develops  ? adaptertest::decodedAt(h.name, h.width, h.height)
                        : h.width ? adaptertest::refusedAfterProbe(h.name, h.width, h.height)
                                  : adaptertest::refusedByProbe(h.name));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qortest::limitProcessorTime(30);
            adaptertest::replayMalformed<cPictDNG>("raw", table);
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

// What each costs through every door a previewer opens (the factory's
// decode, a 64 x 64 fit, a preview that may decode) and through the fuzz
// entry: refused, or the sensor developed without the thumbnail, within a
// few seconds of processor time (they took 2 to 200 s each, or crashed) and
// 64 MB of heap (they held 520 to 770 MB), counting LibRaw's and libjpeg's
// allocations.  Each runs in a process of its own held to that time.
TEST(RawMalformed, JpegStreamsAndThumbnailsCostWhatTheirBytesMayDescribe) {
    constexpr long long kMostHeld = 64LL << 20;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const sHostileRaw& h : kHostileRaw) {
        const Bytes b = picttest::readBytes(qortest::dataPath(std::string("raw/malformed/") + h.name));
        ASSERT_FALSE(b.empty()) << h.name;
        const auto everyDoor = [&] {
            SCOPED_TRACE(h.name);
            qortest::AllocMeter meter;
            const auto io = [&] {
                return cBufWrapperIO(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            };
            cBufWrapperIO factory = io();
            std::unique_ptr<cPictBase> p(cPictBase::mkPicture(&factory, nullptr));
            ASSERT_EQ(p != nullptr, h.develops);
            if (p) {
                EXPECT_EQ(p->width(), h.width);
                EXPECT_EQ(p->height(), h.height);
            }
            cBufWrapperIO fit = io();
            cPictDummy fitted;
            EXPECT_EQ(cPictBase::getImage(&fit, fitted, 64, 64, 0) == cPictBase::frOk, h.develops);
            cBufWrapperIO preview = io();
            cPictDummy shown;
            EXPECT_EQ(cPictBase::getPreview(&preview, shown, 64, 64, true, 0) == cPictBase::frOk, h.develops);
            // The thumbnail itself is refused: only a decode makes a preview.
            cBufWrapperIO thumb = io();
            cPictDummy thumbnail;
            EXPECT_FALSE(cPictDNG().getPreview(&thumb, thumbnail, nullptr, nullptr));
            fuzzRaw(b.data(), b.size());
            EXPECT_LE(meter.peak(), kMostHeld);
        };
        EXPECT_EXIT(
            {
                qortest::limitProcessorTime(5);
                everyDoor();
                std::exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "")
            << h.name;
    }
}

namespace {
// Counts LibRaw's reports and stops at the first.
class cStopRaw : public cPictDrawProfressNotifyTarget {
public:
    bool notifyDraw(double percent) override {
        ++calls;
        EXPECT_GE(percent, 0.0);
        EXPECT_LE(percent, 100.0);
        return false;
    }
    int calls = 0;
};
}  // namespace

// LibRaw cannot be bounded from outside: its stages report to the caller's
// progress target, which can stop the decode.
TEST_F(RawFiles, DecodeStopsWhenTheCallerSaysSo) {
    ASSERT_FALSE(index_->empty());
    const Bytes b = file(index_->front());
    cStopRaw stop;
    cPictDNG dng;
    dng.refPictDrawProgress(&stop);
    EXPECT_FALSE(adaptertest::decodes<cPictDNG>(b, &dng));
    EXPECT_EQ(stop.calls, 1);
    EXPECT_EQ(dng.width(), 0);
}

// A TIFF whose 36-entry CFA pattern (an X-Trans one) has no 6 x 6 repeat
// dimensions before it: LibRaw 0.20 read far outside its tables while it
// identified the file (found by the raw fuzz entry).  Such files are
// screened out before LibRaw sees them, wherever the pattern lies in the
// IFD chain or its sub-IFDs; with the dimensions before it, the pattern
// is LibRaw's to read.
TEST(RawMalformed, CfaPatternsLibRawCannotTakeAreScreenedOut) {
    const Bytes kept = picttest::readBytes(qortest::dataPath("raw/malformed/crash-8d0dd049fe9346acdf7e650c4f88bbda1f6e3229"));
    ASSERT_EQ(kept.size(), 1066u);
    // IFD 0 at 8: entry 14 is CFARepeatPatternDim (2, 2), entry 15 the
    // 36-entry CFAPattern.
    const std::size_t dims = 10 + 14 * 12, pattern = dims + 12;
    ASSERT_EQ(kept[dims] | kept[dims + 1] << 8, 0x828D);
    ASSERT_EQ(kept[pattern] | kept[pattern + 1] << 8, 0x828E);
    auto screened = [](const Bytes& b) {
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictRawBase::sHeader h;
        EXPECT_TRUE(cPictRawBase::readHeader(&io, h));
        return h.crashesLibRaw;
    };
    EXPECT_TRUE(screened(kept));
    Bytes sixBySix = kept;
    sixBySix[dims + 8] = sixBySix[dims + 10] = 6;
    EXPECT_FALSE(screened(sixBySix));
    Bytes kodak = sixBySix;  // Kodak's tag takes 36 entries as X-Trans whatever came before
    kodak[pattern] = 0x09;
    kodak[pattern + 1] = 0xFD;
    EXPECT_TRUE(screened(kodak));
    // The same IFD as the second of the chain, and as a sub-IFD of a
    // first one of a single entry.
    for (bool sub : {false, true}) {
        Bytes chained = kept;
        const std::size_t first = chained.size();
        picttest::le(chained, 1, 2);
        picttest::le(chained, sub ? 0x014A : 0x0131, 2);
        picttest::le(chained, sub ? 4 : 2, 2);
        picttest::le(chained, 1, 4);
        picttest::le(chained, sub ? 8 : 0, 4);
        picttest::le(chained, sub ? 0 : 8, 4);
        picttest::putLe(chained, 4, first, 4);
        // IFD 0's own next pointer leads back to itself: walked once.
        EXPECT_TRUE(screened(chained)) << (sub ? "sub-IFD" : "chain");
    }
    // Every raw probe, the factory's probe, decode and fit: no decoder of
    // ours hands the file to LibRaw.
    cBufWrapperIO io(const_cast<unsigned char*>(kept.data()), static_cast<long long>(kept.size()), false);
    cPictBase::sPictInfo info;
    delete cPictBase::mkPicture(&io, &info);
    delete cPictBase::mkPicture(&io, nullptr);
    cPictDummy out;
    EXPECT_NE(cPictBase::getImage(&io, out, 24, 16, 0), cPictBase::frOk);
    EXPECT_FALSE(adaptertest::probes<cPictTIFF_EP>(kept, &info));
}

// The same pattern (2 x 2 dimensions, 36 entries) in a sub-IFD that
// declares 42 entries where the file holds 16 and a half: LibRaw parsed the
// entries it had and crashed as above (found by the raw fuzz entry); the
// screen read none of them, since it wanted the whole IFD.  A list of
// sub-IFD offsets cut by the end of the file is read the same way.
TEST(RawMalformed, IfdsCutByTheEndOfTheFileAreScreenedToo) {
    const Bytes kept = picttest::readBytes(qortest::dataPath("raw/malformed/crash-214caa625a5a06924b00a1f77d330bba09cc0966"));
    ASSERT_EQ(kept.size(), 588u);
    const std::size_t sub = 0x188, dims = sub + 2 + 7 * 12, pattern = sub + 2 + 8 * 12;
    ASSERT_EQ(kept[sub] | kept[sub + 1] << 8, 42);
    ASSERT_EQ(kept[dims] | kept[dims + 1] << 8, 0x828D);
    ASSERT_EQ(kept[pattern] | kept[pattern + 1] << 8, 0x828E);
    ASSERT_EQ(kept[pattern + 4], 36);
    auto screened = [](const Bytes& b) {
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictRawBase::sHeader h;
        EXPECT_TRUE(cPictRawBase::readHeader(&io, h));
        return h.crashesLibRaw;
    };
    Bytes whole = kept;  // the sub-IFD's 42 entries all in the file
    whole.resize(sub + 2 + 42 * 12 + 4, 0);
    Bytes square = kept;  // a 4-entry pattern, LibRaw's to read
    square[pattern + 4] = 4;
    Bytes cutInside = kept;  // the file ends inside the pattern's entry
    cutInside.resize(pattern + 8);
    // IFD 0 names the sub-IFD in its entry 14; made a list of two offsets
    // at the end of the file, of which the file holds the first.
    Bytes cutList = whole;
    const std::size_t subs = 8 + 2 + 14 * 12;
    ASSERT_EQ(cutList[subs] | cutList[subs + 1] << 8, 0x014A);
    cutList[subs + 4] = 2;
    picttest::putLe(cutList, subs + 8, cutList.size(), 4);
    picttest::le(cutList, sub, 4);
    EXPECT_TRUE(screened(kept));
    EXPECT_TRUE(screened(whole));
    EXPECT_TRUE(screened(cutInside));
    EXPECT_TRUE(screened(cutList));
    EXPECT_FALSE(screened(square));
    cBufWrapperIO io(const_cast<unsigned char*>(kept.data()), static_cast<long long>(kept.size()), false);
    cPictBase::sPictInfo info;
    delete cPictBase::mkPicture(&io, &info);
    cPictDummy out;
    EXPECT_NE(cPictBase::getImage(&io, out, 24, 16, 0), cPictBase::frOk);
}

// The walk that comes before LibRaw: a DNG and variants of its structure
// (make_raw_images.py walk), each with the verdict the walk must give.  A
// file that walks is LibRaw's and develops like dcraw_emu's development of
// the plain file (the sensor data is the same in all); one that does not is
// no raw picture, and LibRaw never reads a byte of it.  The entries LibRaw is
// to pass over lie where the generator put them, and it does pass over them:
// on its own it calls the file with Leaf's tag a Leaf.
TEST(RawWalk, EveryStructureIsWalkedWholeBeforeLibRawSeesIt) {
    qortest::TempDir dir;
    const std::vector<std::string> index = generate("walk", dir.path());
    const picttest::Reference ref = picttest::readReference(dir.file("walk_plain.gamma.ref"));
    int walked = 0, refused = 0;
    for (const std::string& line : index) {
        std::istringstream in(line);
        std::string name, verdict;
        in >> name >> verdict;
        std::vector<unsigned long long> hidden;
        for (unsigned long long at = 0; in >> at;) hidden.push_back(at);
        SCOPED_TRACE(name);
        const Bytes b = picttest::readBytes(dir.file(name));
        cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
        cPictRawBase::sHeader h;
        qortest::AllocMeter meter;
        ASSERT_TRUE(cPictRawBase::readHeader(&io, h));
        EXPECT_LE(meter.peak(), kWalkHolds);
        EXPECT_EQ(h.tiff, verdict == "walks");
        std::vector<unsigned long long> found;
        for (const sRawTiffWalk::sHidden& x : h.hidden) found.push_back(x.at);
        if (h.tiff) {
            EXPECT_EQ(found, hidden);
        }
        const bool dng = name.size() > 4 && name.compare(name.size() - 4, 4, ".dng") == 0;
        cPictRawBase::largestStreamWork(true);
        cPictBase::sPictInfo info;
        EXPECT_EQ(adaptertest::probes<cPictDNG>(b, &info), h.tiff && dng);
        cPictDNG pict;
        EXPECT_EQ(adaptertest::decodes<cPictDNG>(b, &pict), h.tiff && dng);
        if (!h.tiff) {
            ++refused;
            EXPECT_EQ(cPictRawBase::largestStreamWork(true), 0) << "LibRaw read the file";
            continue;
        }
        ++walked;
        if (!dng) continue;
        EXPECT_GT(cPictRawBase::largestStreamWork(true), 0);
        EXPECT_EQ(info.width, ref.width);
        EXPECT_EQ(info.height, ref.height);
        EXPECT_TRUE(picttest::samePixels(pict, ref));
        ASSERT_NE(pict.getPropString(cPictBase::epMake), nullptr);
        EXPECT_STREQ(pict.getPropString(cPictBase::epMake)->value.c_str(), "Qortest");
    }
    EXPECT_EQ(walked, 9);
    EXPECT_EQ(refused, 18);
}

// The 36-entry pattern with 2 x 2 dimensions in tables the old screen
// never read, Fuji's table and the TIFF of a JPEG strip's EXIF block: LibRaw
// died in parse_tiff_ifd on both (make_raw_images.py crashes).  The walk
// follows both routes; with 6 x 6 dimensions the pattern is LibRaw's to read.
TEST(RawMalformed, PatternsInEveryTableLibRawReadsAreScreened) {
    for (const char* name : {"crash-cfa-pattern-in-fuji-table.dng", "crash-cfa-pattern-in-jpeg-exif-tiff.dng"}) {
        SCOPED_TRACE(name);
        const Bytes kept = picttest::readBytes(qortest::dataPath(std::string("raw/malformed/") + name));
        ASSERT_FALSE(kept.empty());
        auto header = [](const Bytes& b) {
            cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
            cPictRawBase::sHeader h;
            EXPECT_TRUE(cPictRawBase::readHeader(&io, h));
            return h;
        };
        const cPictRawBase::sHeader h = header(kept);
        EXPECT_TRUE(h.tiff);
        EXPECT_TRUE(h.dng);
        EXPECT_TRUE(h.crashesLibRaw);
        cPictRawBase::largestStreamWork(true);
        qortest::AllocMeter meter;
        for (const auto& p : probes()) {
            cBufWrapperIO io(const_cast<unsigned char*>(kept.data()), static_cast<long long>(kept.size()), false);
            cPictBase::sPictInfo info;
            EXPECT_FALSE(p.second(&io, &info)) << p.first;
        }
        EXPECT_LE(meter.peak(), kWalkHolds);
        cBufWrapperIO io(const_cast<unsigned char*>(kept.data()), static_cast<long long>(kept.size()), false);
        cPictDummy out;
        EXPECT_NE(cPictBase::getImage(&io, out, 24, 16, 0), cPictBase::frOk);
        EXPECT_EQ(cPictRawBase::largestStreamWork(true), 0);
        // The dimensions made 6 x 6, where the generator wrote 2, 2.
        Bytes six = kept;
        std::size_t dims = 0;
        for (std::size_t i = 0; i + 12 <= six.size(); ++i)
            if (six[i] == 0x8D && six[i + 1] == 0x82 && six[i + 2] == 3 && six[i + 4] == 2) dims = i;
        ASSERT_NE(dims, 0u);
        ASSERT_EQ(six[dims + 8], 2);
        six[dims + 8] = six[dims + 10] = 6;
        EXPECT_FALSE(header(six).crashesLibRaw);
        EXPECT_TRUE(header(six).tiff);
    }
}
