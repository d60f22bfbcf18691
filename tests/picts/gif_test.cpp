// GIF decoding compared frame by frame with ImageMagick over colour table
// sizes, interlaced heights, local and global tables, graphic controls and
// other writers' files; the page walk, previews, and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picts/pictgif.h"
#include "picttest.h"

using picttest::Bytes;

namespace {

struct GifKind {
    static const char* kind() { return "gif"; }
};
// Frame N of NAME.gif has its reference in NAME.N.ref.
class GifFiles : public picttest::GeneratedFiles<GifKind> {
protected:
    static picttest::Reference ref(const std::string& stem, int frame) {
        return picttest::readReference(dir_->file(stem + "." + std::to_string(frame) + ".ref"));
    }
};

struct Stream {
    explicit Stream(const Bytes& b) : io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false) {}
    cBufWrapperIO io;
};

bool decodesPage(const Bytes& b, int page, cPictGIF& d) {
    Stream s(b);
    return d.decodePage(&s.io, page);
}

bool probes(const Bytes& b, cPictBase::sPictInfo* info = nullptr) { return picttest::probeBytes<cPictGIF>(b, info); }

// The offset of the LZW code-size byte of a one-image file whose first
// block is the image.
std::size_t codeSizeOffset(const Bytes& b) {
    const std::size_t table = (b[10] & 0x80) ? 3u << ((b[10] & 7) + 1) : 0;
    return 13 + table + 10;
}

unsigned int transparentCount(cPictGIF& d) {
    unsigned int n = 0;
    for (long long i = 0; i < d.width() * d.height(); ++i) n += (d.raw8Bpp()[i] >> 24) == 0;
    return n;
}

}  // namespace

TEST_F(GifFiles, EveryFrameDecodesLikeImageMagick) {
    ASSERT_GE(index_->size(), 20u);
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const Bytes b = file(entry.first);
        cPictBase::sPictInfo info;
        ASSERT_TRUE(probes(b, &info));
        EXPECT_EQ(info.width, b[6] | b[7] << 8);
        EXPECT_EQ(info.height, b[8] | b[9] << 8);
        cPictGIF d;
        Stream s(b);
        ASSERT_EQ(d.getNumPages(&s.io), entry.second);
        for (int f = 0; f < entry.second; ++f) {
            SCOPED_TRACE(f);
            const picttest::Reference r = ref(stem(entry.first), f);
            int w = 0, h = 0;
            ASSERT_TRUE(d.getPageSize(&s.io, f, w, h));
            EXPECT_EQ(w, r.width);
            EXPECT_EQ(h, r.height);
            ASSERT_TRUE(d.decodePage(&s.io, f));
            EXPECT_EQ(d.typeOf(), cPictBase::ptGIF);
            EXPECT_TRUE(picttest::samePixels(d, r, true));
        }
        EXPECT_FALSE(d.decodePage(&s.io, entry.second));
    }
}

TEST_F(GifFiles, PagesDecodedOutOfOrderOrFromAnotherStreamMatch) {
    const Bytes anim = file("g_anim.gif"), other = file("g_localonly.gif");
    cPictGIF d;
    for (int f : {4, 0, 3, 1, 2, 4}) {
        ASSERT_TRUE(decodesPage(anim, f, d)) << f;
        EXPECT_TRUE(picttest::samePixels(d, ref("g_anim", f), true)) << f;
        // The same decoder on another file in between.
        ASSERT_TRUE(decodesPage(other, f % 2, d));
        EXPECT_TRUE(picttest::samePixels(d, ref("g_localonly", f % 2), true)) << f;
    }
    // The same memory rewritten with another file of the same size and
    // header: the images are found anew.
    Bytes buffer = anim;
    Bytes moved = anim;
    moved.insert(moved.begin() + 13 + 3 * 32, {0x21, 0xFE, 0x01, 'x', 0x00});
    moved.erase(moved.end() - 6, moved.end() - 1);  // the last image loses its last bytes, not its place
    cBufWrapperIO same(buffer.data(), static_cast<long long>(buffer.size()), false);
    cPictGIF f;
    ASSERT_TRUE(f.decodePage(&same, 3));
    buffer = moved;
    ASSERT_TRUE(f.decodePage(&same, 3));
    EXPECT_TRUE(picttest::samePixels(f, ref("g_anim", 3), true));
    // A file of another size whose images moved is walked anew.
    Bytes shifted = anim;
    const std::size_t at = 13 + 3 * 32;  // the first block after the global table
    shifted.insert(shifted.begin() + static_cast<long>(at), {0x21, 0xFE, 0x01, 'x', 0x00});
    cPictGIF e;
    ASSERT_TRUE(decodesPage(anim, 3, e));
    ASSERT_TRUE(decodesPage(shifted, 3, e));
    EXPECT_TRUE(picttest::samePixels(e, ref("g_anim", 3), true));
}

TEST_F(GifFiles, AGraphicControlAppliesToTheNextImageOnly) {
    // Frame 0 makes index 1 transparent; frame 4, without a graphic control
    // of its own, uses index 1 and draws it opaque.
    const Bytes b = file("g_anim.gif");
    cPictGIF d;
    ASSERT_TRUE(decodesPage(b, 0, d));
    EXPECT_GT(transparentCount(d), 0u);
    ASSERT_TRUE(decodesPage(b, 4, d));
    EXPECT_EQ(transparentCount(d), 0u);
}

TEST_F(GifFiles, RenderingIntoTargetsMatchesTheDecodedPicture) {
    for (const char* name : {"g_big.gif", "g_interlace_h17.gif", "g_anim.gif", "g_magick.gif"})
        picttest::expectTargetsMatchPlainDecode<cPictGIF>(file(name), name, true);
}

TEST_F(GifFiles, PreviewsFitThePageAndNeverEnlarge) {
    const Bytes b = file("g_big.gif");  // 160 x 120
    cPictGIF d;
    ASSERT_TRUE(decodesPage(b, 0, d));
    Stream s(b);
    cPictGIF p;
    cPictDummy small, same;
    ASSERT_TRUE(p.decodePagePreview(&s.io, small, 40, 40, 0, false, 0));
    EXPECT_EQ(small.width(), 40);
    EXPECT_EQ(small.height(), 30);
    ASSERT_TRUE(p.decodePagePreview(&s.io, same, 1000, 1000, 0, false, 0));
    ASSERT_EQ(same.width(), 160);
    ASSERT_EQ(same.height(), 120);
    EXPECT_EQ(std::vector<unsigned int>(same.raw8Bpp(), same.raw8Bpp() + 160 * 120),
              std::vector<unsigned int>(d.raw8Bpp(), d.raw8Bpp() + 160 * 120));
    EXPECT_FALSE(p.decodePagePreview(&s.io, same, 0, 10, 0, false, 0));
    EXPECT_FALSE(p.decodePagePreview(&s.io, same, 10, 10, 1, false, 0));
}

TEST_F(GifFiles, ProbeAcceptsTheTwoVersionsOnly) {
    Bytes b = file("g_87a.gif");
    EXPECT_TRUE(probes(b));
    b[4] = '9';
    EXPECT_TRUE(probes(b));
    b[4] = '8';
    EXPECT_FALSE(probes(b));
    Bytes noWidth = file("g_87a.gif");
    noWidth[6] = noWidth[7] = 0;
    EXPECT_FALSE(probes(noWidth));
    // The first block after the colour table must be an image or an extension.
    const Bytes small = file("g_87a.gif");
    Bytes empty(small.begin(), small.begin() + 13 + 12);
    empty.push_back(0x3B);
    EXPECT_FALSE(probes(empty));
    cPictGIF d;
    Stream s(empty);
    EXPECT_EQ(d.getNumPages(&s.io), 0);
}

TEST_F(GifFiles, CodeSizesOutsideTwoToEightAreRefused) {
    const Bytes good = file("g_bits2.gif");
    const std::size_t at = codeSizeOffset(good);
    ASSERT_EQ(good[at], 2);
    for (unsigned char size : {0, 1, 9, 12, 255}) {
        Bytes b = good;
        b[at] = size;
        cPictGIF d;
        EXPECT_FALSE(decodesPage(b, 0, d)) << int(size);
    }
    Bytes wide = file("g_wide_codes.gif");
    ASSERT_EQ(wide[codeSizeOffset(wide)], 8);
    cPictGIF d;
    EXPECT_TRUE(decodesPage(wide, 0, d));
}

TEST_F(GifFiles, RowsTheDataDoesNotReachAreEmpty) {
    const Bytes b = file("g_big.gif");
    cPictGIF full;
    ASSERT_TRUE(decodesPage(b, 0, full));
    const long long w = full.width(), h = full.height();
    // Cut the file a third into the image data: the top rows come out as
    // in the whole file, the bottom rows empty (transparent white).
    const Bytes cut(b.begin(), b.begin() + static_cast<long>(b.size() / 3));
    cPictGIF d;
    ASSERT_TRUE(decodesPage(cut, 0, d));
    for (long long x = 0; x < w; ++x) {
        EXPECT_EQ(d.raw8Bpp()[(h - 1) * w + x], full.raw8Bpp()[(h - 1) * w + x]) << x;
        EXPECT_EQ(d.raw8Bpp()[x], 0x00FFFFFFu) << x;
    }
    // Every cut point either fails or gives a whole picture.
    for (std::size_t n = 0; n < b.size(); n += 97) {
        const Bytes c(b.begin(), b.begin() + static_cast<long>(n));
        cPictGIF e;
        if (decodesPage(c, 0, e)) {
            ASSERT_EQ(e.width(), w);
            ASSERT_EQ(e.height(), h);
        }
    }
    // Without the trailer the walk ends in an error.
    const Bytes anim = file("g_anim.gif");
    const Bytes noTrailer(anim.begin(), anim.end() - 1);
    Stream s(noTrailer);
    cPictGIF e;
    EXPECT_EQ(e.getNumPages(&s.io), -1);
    EXPECT_TRUE(e.decodePage(&s.io, 4));
}

TEST_F(GifFiles, IndicesPastTheColourTableAreEmpty) {
    // A 4-colour image read with a 2-entry global table.
    Bytes b = file("g_bits2.gif");  // 4-entry global table, indices 0..3
    cPictGIF whole;
    ASSERT_TRUE(decodesPage(b, 0, whole));
    // Claim a 2-entry table: the bytes of entries 2 and 3 now stand where
    // the walk expects the first block, so move them out of the way.
    Bytes shrunk(b.begin(), b.begin() + 13 + 6);
    shrunk[10] = static_cast<unsigned char>((shrunk[10] & ~7) | 0);
    shrunk.insert(shrunk.end(), b.begin() + 13 + 12, b.end());
    cPictGIF d;
    ASSERT_TRUE(decodesPage(shrunk, 0, d));
    unsigned int past = 0;
    for (long long i = 0; i < d.width() * d.height(); ++i) {
        const unsigned int want = whole.raw8Bpp()[i];
        const bool inTable = want == (0xFF000000u | b[13] << 16 | b[14] << 8 | b[15]) ||
                             want == (0xFF000000u | b[16] << 16 | b[17] << 8 | b[18]);
        if (!inTable) {
            EXPECT_EQ(d.raw8Bpp()[i], 0x00FFFFFFu) << i;
            ++past;
        }
    }
    EXPECT_GT(past, 0u);
}

TEST(Gif, ImagesTheirDataCouldNeverFillAreRefusedBeforeAllocating) {
    // 65523 x 1529 pixels behind 24 bytes of image data (a fuzzer's find
    // that spent its time filling 100 million empty pixels).
    const Bytes b = picttest::readBytes(qortest::dataPath("gif/malformed/timeout-760ff7d91dfca69af72d6a121c5c719b2f8aacdb"));
    ASSERT_GT(b.size(), 0u);
    cPictGIF d;
    Stream s(b);
    int w = 0, h = 0;
    ASSERT_TRUE(d.getPageSize(&s.io, 0, w, h));
    EXPECT_EQ(static_cast<long long>(w) * h, 65523LL * 1529);
    EXPECT_FALSE(d.decodePage(&s.io, 0));
    EXPECT_EQ(d.raw8Bpp(), nullptr);
}

// Every page of every file, not only the first.  The probe reports the
// logical screen (13 x 7), not the image of 65523 x 1529 on it.
TEST(GifMalformed, SavedCrashInputsFailCleanly) {
    picttest::replayMalformed<cPictGIF>("gif", {picttest::refusedAfterProbe("timeout-760ff7d91dfca69af72d6a121c5c719b2f8aacdb", 13, 7)});
}
