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

bool decodes(const Bytes& b, cPictPPM& d) { return picttest::decodeBytes(b, d); }
bool decodes(const Bytes& b) { return picttest::decodeBytes<cPictPPM>(b); }
bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictPPM>(b, info); }

struct PpmFilesKind {
    static const char* kind() { return "ppm"; }
};
class PpmFiles : public picttest::GeneratedFiles<PpmFilesKind> {};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }


}  // namespace

TEST_F(PpmFiles, EveryFormAndMaxvalDecodesLikeNetpbm) { expectEveryFileMatches<cPictPPM>(120u); }

TEST_F(PpmFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"p6_m255_s0_31x7.pnm", "p5_m100_s2_31x7.pnm", "p4_s1_31x7.pnm", "p6_m1000_s1_31x7.pnm"})
        picttest::expectTargetsMatchPlainDecode<cPictPPM>(file(name), name);
}

TEST_F(PpmFiles, ARasterOneByteShortFails) {
    for (const char* name : {"p6_m255_s0_9x3.pnm", "p5_m65535_s1_9x3.pnm", "p4_s2_9x3.pnm"})
        picttest::expectEveryCutFails<cPictPPM>(file(name), name);
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

TEST(PpmMalformed, SavedCrashInputsFailCleanly) { picttest::replayMalformed<cPictPPM>("ppm", {}); }
