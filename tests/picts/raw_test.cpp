// Camera raw: small DNGs developed through the stream and compared with
// LibRaw's own dcraw_emu (16-bit with its default rendering, and linear),
// their thumbnail with simple_dcraw's extraction;
// a table of crafted headers, each taken by exactly one raw probe; damaged
// and oversized files fail quietly.
#include <gtest/gtest.h>

#include <map>

#include "adaptertest.h"
#include "picts/pictraw.h"

using picttest::Bytes;

namespace {

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

TEST(RawMalformed, SavedInputsReplayWithoutHarm) { adaptertest::replayMalformed<cPictDNG>("raw"); }

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
