// JPEG 2000 decoding compared with the source pictures opj_compress coded
// losslessly (JP2 files and bare codestreams; resolutions, tiles,
// progression orders, grey, alpha, 12- and 16-bit grey); damaged and
// hostile files fail quietly.
#include <gtest/gtest.h>

#include "adaptertest.h"
#include "picts/pictjp2.h"

using adaptertest::Bytes;

namespace {

struct Jp2Kind {
    static const char* kind() { return "jp2"; }
};
class Jp2Files : public picttest::GeneratedFiles<Jp2Kind, picttest::AdapterScript> {};

// The offset of the SIZ marker segment in a codestream or JP2 file.
std::size_t sizOffset(const Bytes& b) {
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0x51) return i;
    return 0;
}

void putBe32(Bytes& b, std::size_t at, unsigned long v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

}  // namespace

TEST_F(Jp2Files, FilesDecodeLikeTheirSources) { adaptertest::decodeAllLikeReferences<cPictJP2>(dir_->path(), *index_, "jp2_"); }

TEST_F(Jp2Files, CodestreamsDecodeLikeTheirSources) {
    adaptertest::decodeAllLikeReferences<cPictJ2K>(dir_->path(), *index_, "j2k_");
}

TEST_F(Jp2Files, EachProbeTakesOnlyItsOwnForm) {
    const Bytes jp2 = file("jp2_rgb.jp2"), j2k = file("j2k_rgb.j2k");
    EXPECT_TRUE(adaptertest::probes<cPictJP2>(jp2));
    EXPECT_FALSE(adaptertest::probes<cPictJ2K>(jp2));
    EXPECT_TRUE(adaptertest::probes<cPictJ2K>(j2k));
    EXPECT_FALSE(adaptertest::probes<cPictJP2>(j2k));
}

TEST_F(Jp2Files, DamagedFilesFailQuietly) {
    for (const char* name : {"jp2_rgb_tiles.jp2", "jp2_grey16.jp2"}) {
        SCOPED_TRACE(name);
        adaptertest::damagedFormsFail<cPictJP2>(file(name));
    }
    const Bytes good = file("j2k_rgb_rpcl.j2k");
    adaptertest::damagedFormsFail<cPictJ2K>(good, 33, 44);
}

TEST_F(Jp2Files, OversizedPictureIsRefusedBeforeDecoding) {
    // SIZ: marker, Lsiz, Rsiz, then Xsiz and Ysiz (big-endian u32).
    for (const char* name : {"j2k_grey.j2k", "jp2_grey.jp2"}) {
        SCOPED_TRACE(name);
        Bytes b = file(name);
        const std::size_t siz = sizOffset(b);
        ASSERT_NE(siz, 0u);
        putBe32(b, siz + 6, 60000);
        putBe32(b, siz + 10, 60000);
        const bool jp2 = std::string(name).find(".jp2") != std::string::npos;
        const std::string said = adaptertest::stderrDuring([&] {
            EXPECT_FALSE(jp2 ? adaptertest::probes<cPictJP2>(b) : adaptertest::probes<cPictJ2K>(b));
            EXPECT_FALSE(jp2 ? adaptertest::decodes<cPictJP2>(b) : adaptertest::decodes<cPictJ2K>(b));
        });
        EXPECT_EQ(said, "");
    }
}

// Every tile needs a tile-part of at least 14 bytes: a grid of more tiles
// than the input could hold is refused before the library lays it out,
// while a real tiled file passes.
TEST_F(Jp2Files, TileGridPastTheInputIsRefusedBeforeDecoding) {
    EXPECT_TRUE(adaptertest::decodes<cPictJP2>(file("jp2_rgb_tiles.jp2")));
    for (unsigned long tile : {1ul, 2ul}) {
        SCOPED_TRACE(tile);
        Bytes b = file("j2k_grey.j2k");
        const std::size_t siz = sizOffset(b);
        ASSERT_NE(siz, 0u);
        putBe32(b, siz + 22, tile);  // XTsiz
        putBe32(b, siz + 26, tile);  // YTsiz
        cPictBase::largestPixelBuffer(true);
        EXPECT_FALSE(adaptertest::probes<cPictJ2K>(b));
        EXPECT_FALSE(adaptertest::decodes<cPictJ2K>(b));
        EXPECT_EQ(cPictBase::largestPixelBuffer(true), 0);
    }
}

TEST(Jp2Malformed, SavedInputsReplay) {
    adaptertest::replayMalformed<cPictJP2>("jp2");
    adaptertest::replayMalformed<cPictJ2K>("jp2");
}
