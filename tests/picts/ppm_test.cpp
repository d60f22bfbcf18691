// Binary PBM, PGM and PPM decoding compared with netpbm (pamdepth scaling
// each file to maxval 255 or 65535) over maxvals from 1 to 65535 and
// header layouts with comments; header limits and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picts/pictppm.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

class PpmFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        index_ = new std::vector<std::pair<std::string, int> >(picttest::generate("ppm", dir_->path(), "make_formats.py"));
    }
    static void TearDownTestSuite() {
        delete index_;
        delete dir_;
    }
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name)); }
    static qortest::TempDir* dir_;
    static std::vector<std::pair<std::string, int> >* index_;
};
qortest::TempDir* PpmFiles::dir_ = nullptr;
std::vector<std::pair<std::string, int> >* PpmFiles::index_ = nullptr;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool decodes(const Bytes& b, cPictPPM& d) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return d.decode(&io);
}
bool decodes(const Bytes& b) {
    cPictPPM d;
    return decodes(b, d);
}
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) {
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    return cPictPPM::validFor(&io, info);
}

}  // namespace

TEST_F(PpmFiles, EveryFormAndMaxvalDecodesLikeNetpbm) {
    ASSERT_GE(index_->size(), 120u);
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        const picttest::Reference ref = picttest::readReference(dir_->file(entry.first.substr(0, entry.first.size() - 4) + ".ref"));
        cPictBase::sPictInfo info;
        ASSERT_TRUE(probes(b, &info));
        EXPECT_EQ(info.width, ref.width);
        EXPECT_EQ(info.height, ref.height);
        cPictPPM d;
        ASSERT_TRUE(decodes(b, d));
        EXPECT_EQ(d.typeOf(), cPictBase::ptPPM);
        EXPECT_EQ(d.is16Bpp(), entry.second == 16);
        EXPECT_TRUE(picttest::samePixels(d, ref));
    }
}

TEST_F(PpmFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"p6_m255_s0_31x7.pnm", "p5_m100_s2_31x7.pnm", "p4_s1_31x7.pnm", "p6_m1000_s1_31x7.pnm"})
        picttest::expectTargetsMatchPlainDecode<cPictPPM>(file(name), name);
}

TEST_F(PpmFiles, ARasterOneByteShortFails) {
    for (const char* name : {"p6_m255_s0_9x3.pnm", "p5_m65535_s1_9x3.pnm", "p4_s2_9x3.pnm"}) {
        const Bytes b = file(name);
        ASSERT_TRUE(decodes(b)) << name;
        for (std::size_t n = 0; n < b.size(); ++n)
            EXPECT_FALSE(decodes(Bytes(b.begin(), b.begin() + static_cast<long>(n)))) << name << " cut at " << n;
    }
}

TEST(Ppm, HeaderRules) {
    for (const char* magic : {"P1", "P2", "P3", "P7", "Q5"}) EXPECT_FALSE(probes(text(std::string(magic) + "\n1 1\n255\n\x01\x02\x03"))) << magic;
    EXPECT_TRUE(probes(text("P5 1 1 255 x")));
    EXPECT_FALSE(probes(text("P5 0 1 255 x")));
    EXPECT_FALSE(probes(text("P5 1 1 0 x")));
    EXPECT_FALSE(probes(text("P5 1 1 65536 xx")));
    EXPECT_FALSE(probes(text("P5 1 1 255")));        // no byte ends the maxval
    EXPECT_FALSE(probes(text("P5 1x 1 255 x")));     // a number ends in a blank or a comment
    EXPECT_TRUE(probes(text("P5 0000000001 1 255 x")));
    EXPECT_FALSE(probes(text("P5 00000000001 1 255 x")));  // eleven digits
    // A comment that ends a number ends it; its line end is the separator.
    cPictPPM d;
    ASSERT_TRUE(decodes(text("P5\n2#w\n1#h\n255#m\n\x10\x20"), d));
    EXPECT_EQ(d.raw8Bpp()[0], 0xFF101010u);
    EXPECT_EQ(d.raw8Bpp()[1], 0xFF202020u);
}

TEST(Ppm, SidesThatOverflowOrPassTheCapAreRefusedBeforeAllocating) {
    // 9999999999 x 9999999999 x 6 overflows 64 bits; 65536 x 65537 wraps a
    // 32-bit product; 20000 x 20000 passes the pixel cap.  None may
    // allocate (the sanitizer aborts on a request that large).
    for (const char* h : {"P6 9999999999 9999999999 65535\n", "P5 65536 65537 255\n", "P4 4294967296 1\n",
                          "P6 20000 20000 255\n", "P5 1 4294967297 255\n"}) {
        Bytes b = text(h);
        b.resize(b.size() + 64, 0x55);
        EXPECT_FALSE(decodes(b)) << h;
    }
}

TEST(Ppm, SamplesAreScaledToTheMaximumValue) {
    cPictPPM grey;
    Bytes g = text("P5 3 1 100\n");
    g.insert(g.end(), {100, 50, 0});
    ASSERT_TRUE(decodes(g, grey));
    EXPECT_FALSE(grey.is16Bpp());
    EXPECT_EQ(grey.raw8Bpp()[0], 0xFFFFFFFFu);
    EXPECT_EQ(grey.raw8Bpp()[1], 0xFF808080u);  // 50 / 100 of 255, rounded
    EXPECT_EQ(grey.raw8Bpp()[2], 0xFF000000u);
    cPictPPM wide;
    Bytes w = text("P6 1 1 256\n");
    w.insert(w.end(), {0x01, 0x00, 0x00, 0x80, 0x00, 0x01});
    ASSERT_TRUE(decodes(w, wide));
    ASSERT_TRUE(wide.is16Bpp());
    // 256, 128 and 1 of 256: 65535, 32768 and 256 (rounded).
    EXPECT_EQ(wide.raw16Bpp()[0], 0xFFFFULL << 48 | 0xFFFFULL << 32 | 0x8000ULL << 16 | 0x0100ULL);
}

TEST(PpmMalformed, SavedCrashInputsFailCleanly) {
    for (const std::string& path : picttest::filesIn(qortest::dataPath("ppm/malformed"))) {
        const Bytes b = picttest::readBytes(path);
        probes(b);
        decodes(b);
        SUCCEED() << path;
    }
}
