// The decoded picture: the 16-bit rule, buffers and the size cap,
// properties, stretching and turns, and the plain in-memory picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "picts/pictbase.h"
#include "testsupport.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

unsigned long long pix16(unsigned b, unsigned g, unsigned r, unsigned a) {
    return static_cast<unsigned long long>(b) | static_cast<unsigned long long>(g) << 16 |
           static_cast<unsigned long long>(r) << 32 | static_cast<unsigned long long>(a) << 48;
}

}  // namespace

TEST(PictBase, SixteenBitRuleTakesHighBytesRaisedByBaseAndDividedByScale) {
    struct Case {
        double scale;
        int base;
        unsigned long long in;
        unsigned int out;
    } cases[] = {
        {256.0, 0, pix16(0x00FF, 0x8000, 0xFFFF, 0xFFFF), 0xFFFF8000u},
        {256.0, 65535, pix16(0, 1, 2, 3), 0xFFFFFFFFu},
        {256.0, 0x80, pix16(0x0080, 0x017F, 0, 0xFF80), 0xFF000101u},
        {4.0, 0, pix16(0x0100, 0x0004, 0x0003, 0x0400), 0xFF000140u},
        {16.0, 0, pix16(0x0FF0, 0x1000, 0x000F, 0x0010), 0x0100FFFFu},
    };
    for (const Case& c : cases) {
        cPictDummy p;
        p.setScale16Bpp(c.scale);
        p.setBase16Bpp(c.base);
        unsigned long long in = c.in;
        _typebuf<unsigned int> out;
        ASSERT_TRUE(p.mk8BppFrom16Bpp(&in, 1, out));
        EXPECT_EQ(out[0], c.out) << std::hex << c.in << " scale " << c.scale << " base " << c.base;
        EXPECT_EQ(p.to8Bpp(c.in), c.out);
    }
    cPictDummy p;
    _typebuf<unsigned int> out;
    EXPECT_FALSE(p.mk8BppFrom16Bpp(nullptr, 1, out));
    unsigned long long one = 0;
    EXPECT_FALSE(p.mk8BppFrom16Bpp(&one, 0, out));
}

TEST(PictBase, ScaleAndBaseSettersKeepTheirRanges) {
    cPictDummy p;
    EXPECT_EQ(p.scale16Bpp(), 256.0);
    p.setScale16Bpp(0.0);
    EXPECT_EQ(p.scale16Bpp(), 256.0);
    p.setScale16Bpp(3.5);
    EXPECT_EQ(p.scale16Bpp(), 3.5);
    p.setBase16Bpp(-5);
    EXPECT_EQ(p.base16Bpp(), 0);
    p.setBase16Bpp(70000);
    EXPECT_EQ(p.base16Bpp(), 65535);
}

TEST(PictBase, PixelCountCapRefusesHugeAndOverflowingSizes) {
    long long n = 0;
    EXPECT_TRUE(cPictBase::checkPixelCount(1LL << 14, 1LL << 14, &n));
    EXPECT_EQ(n, kMaxPictPixels);
    EXPECT_FALSE(cPictBase::checkPixelCount((1LL << 14) + 1, 1LL << 14));
    EXPECT_FALSE(cPictBase::checkPixelCount(0, 5));
    EXPECT_FALSE(cPictBase::checkPixelCount(5, -1));
    EXPECT_FALSE(cPictBase::checkPixelCount(1LL << 40, 1LL << 40));
    EXPECT_FALSE(cPictBase::checkPixelCount(kMaxPictSide + 1, 1));
    cPictDummy p;
    ASSERT_TRUE(p.create(4, 4, 7));
    EXPECT_FALSE(p.allocPixels8(70000, 70000));
    EXPECT_EQ(p.width(), 0);
    EXPECT_EQ(p.raw8Bpp(), nullptr);
    EXPECT_FALSE(p.create_und(0x7FFFFFFF, 0x7FFFFFFF));
}

TEST(PictBase, PixelBufferOfTheSameCountIsKeptAndAnyOtherIsNew) {
    cPictDummy p;
    ASSERT_TRUE(p.allocPixels8(40, 30));
    unsigned int* first = p.raw8Bpp();
    first[0] = 0x12345678u;
    first[40 * 30 - 1] = 0x9ABCDEF0u;
    // 30 x 40 is as many pixels: the same memory, written over by the caller.
    ASSERT_TRUE(p.allocPixels8(30, 40));
    EXPECT_EQ(p.raw8Bpp(), first);
    EXPECT_EQ(p.raw8Bpp()[0], 0x12345678u);
    EXPECT_EQ(p.raw8Bpp()[40 * 30 - 1], 0x9ABCDEF0u);
    EXPECT_EQ(p.width(), 30);
    EXPECT_EQ(p.height(), 40);
    // Another count, and the other depth, free it.
    ASSERT_TRUE(p.allocPixels8(41, 30));
    EXPECT_EQ(p.width(), 41);
    ASSERT_TRUE(p.allocPixels16(41, 30));
    EXPECT_EQ(p.raw8Bpp(), nullptr);
    unsigned long long* wide = p.raw16Bpp();
    ASSERT_NE(wide, nullptr);
    ASSERT_TRUE(p.allocPixels16(30, 41));
    EXPECT_EQ(p.raw16Bpp(), wide);
    EXPECT_TRUE(p.is16Bpp());
}

TEST(PictBase, OnlyAFreshPixelBufferIsMarkedForHugePages) {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
        GTEST_SKIP() << "no transparent huge pages on this kernel";
    // 4 MiB of pixels hold at least one whole 2 MiB page.
    constexpr long long kSide = 1024;
    constexpr std::uintptr_t kHuge = 2u << 20;
    cPictDummy p;
    ASSERT_TRUE(p.allocPixels8(kSide, kSide));
    const std::uintptr_t page = (reinterpret_cast<std::uintptr_t>(p.raw8Bpp()) + kHuge - 1) & ~(kHuge - 1);
    void* inner = reinterpret_cast<void*>(page);
    const std::vector<std::string> fresh = qortest::mappingFlags(inner);
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(qortest::hasFlag(fresh, "hg"));
    // Marked against huge pages by hand: a kept buffer is not marked again.
    ASSERT_EQ(madvise(inner, kHuge, MADV_NOHUGEPAGE), 0);
    ASSERT_TRUE(qortest::hasFlag(qortest::mappingFlags(inner), "nh"));
    const unsigned int* before = p.raw8Bpp();
    ASSERT_TRUE(p.allocPixels8(kSide, kSide));
    ASSERT_EQ(p.raw8Bpp(), before);
    const std::vector<std::string> kept = qortest::mappingFlags(inner);
    EXPECT_TRUE(qortest::hasFlag(kept, "nh"));
    EXPECT_FALSE(qortest::hasFlag(kept, "hg"));
#else
    GTEST_SKIP() << "no huge-page hint on this system";
#endif
}

TEST(PictBase, PropertiesAreCreatedOnceWithTheKindOfTheirId) {
    cPictDummy p;
    EXPECT_EQ(p.getProp(static_cast<cPictBase::eExProps>(22), true), nullptr);
    EXPECT_EQ(p.getProp(cPictBase::epMake, false), nullptr);
    cPictProp* a = p.getProp(cPictBase::epMake, true);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, p.getProp(cPictBase::epMake, true));
    EXPECT_EQ(p.getPropInt(cPictBase::epMake), nullptr);
    ASSERT_NE(p.getPropString(cPictBase::epMake), nullptr);
    const int kinds[] = {3, 2, 2, 3, 3, 1, 1, 0, 1, 1, 0, 0, 0, 4, 4, 1, 1, 1, 0, 0, 0, 5};
    for (int id = 0; id <= 21; ++id) {
        cPictProp* q = p.getProp(static_cast<cPictBase::eExProps>(id), true);
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(q->typeOf(), kinds[id]) << id;
    }
    // An image property owns its picture.
    auto* img = p.getPropImage(cPictBase::epPreview);
    ASSERT_NE(img, nullptr);
    img->value = new cPictDummy;
    static_cast<cPictDummy*>(img->value)->create(3, 3, 1);
    p.removeProp(cPictBase::epPreview);
    EXPECT_EQ(p.getProp(cPictBase::epPreview, false), nullptr);
    p.removeProp(cPictBase::epPreview);
}

TEST(PictBase, PasswordRequestGoesThroughTheProviderInUse) {
    struct Provider : cSecurityProviderRequestTarget {
        bool answer = true;
        std::string seen;
        bool request(int kind, void* rec) override {
            auto* r = static_cast<sSecurityRequest*>(rec);
            seen = r->prompt.c_str() ? r->prompt.c_str() : "";
            r->answer.set("secret");
            return kind == 0 && answer;
        }
    };
    cPictDummy p;
    _guardchar<char> out;
    char text[] = "file.pdf";
    EXPECT_FALSE(p.getBasicEncryptionPassword(out, text));
    Provider prov;
    p.refSecurityProvider(&prov);
    ASSERT_TRUE(p.getBasicEncryptionPassword(out, text));
    EXPECT_STREQ(out.c_str(), "secret");
    EXPECT_EQ(prov.seen, "file.pdf");
    prov.answer = false;
    _guardchar<char> none;
    EXPECT_FALSE(p.getBasicEncryptionPassword(none, text));
    p.setSecurityProvider(new Provider);  // owned, deleted with the picture (leak check)
}

TEST(PictBase, TurnsAndFlipMovePixelsAsQuarterTurns) {
    cPictDummy p;
    ASSERT_TRUE(p.create_und(3, 2));
    for (int i = 0; i < 6; ++i) p.raw8Bpp()[i] = 0x100u + static_cast<unsigned>(i);
    EXPECT_FALSE(p.rotate(static_cast<cPictBase::eRotateDegrees>(45)));
    ASSERT_TRUE(p.rotate(cPictBase::rd90));
    EXPECT_EQ(p.width(), 2);
    EXPECT_EQ(p.height(), 3);
    EXPECT_EQ(p.raw8Bpp()[0], 0x102u);  // old row 0, column 2
    // Three more quarter turns bring the picture back; 180 twice too.
    ASSERT_TRUE(p.rotate(cPictBase::rd270));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.raw8Bpp()[i], 0x100u + static_cast<unsigned>(i));
    ASSERT_TRUE(p.rotate(cPictBase::rd180));
    EXPECT_EQ(p.raw8Bpp()[0], 0x105u);
    ASSERT_TRUE(p.rotate(cPictBase::rd90));
    ASSERT_TRUE(p.rotate(cPictBase::rd90));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.raw8Bpp()[i], 0x100u + static_cast<unsigned>(i));
    // Mirrored and flipped at the same size is the half turn; flipped alone
    // is flip().
    unsigned int turned[6], flipped[6];
    ASSERT_TRUE(cPictBase::transform(p.raw8Bpp(), 3, 2, turned, 3, 2, true, true));
    ASSERT_TRUE(cPictBase::transform(p.raw8Bpp(), 3, 2, flipped, 3, 2, false, true));
    ASSERT_TRUE(p.flip());
    EXPECT_EQ(p.raw8Bpp()[0], 0x103u);
    EXPECT_EQ(p.raw8Bpp()[5], 0x102u);
    EXPECT_EQ(std::vector<unsigned>(flipped, flipped + 6), std::vector<unsigned>(p.raw8Bpp(), p.raw8Bpp() + 6));
    ASSERT_TRUE(p.flip());
    ASSERT_TRUE(p.rotate(cPictBase::rd180));
    EXPECT_EQ(std::vector<unsigned>(turned, turned + 6), std::vector<unsigned>(p.raw8Bpp(), p.raw8Bpp() + 6));
    EXPECT_FALSE(cPictBase::transform(static_cast<const unsigned int*>(nullptr), 3, 2, turned, 3, 2, false, false));
    cPictDummy one;
    ASSERT_TRUE(one.create(4, 1, 9));
    EXPECT_TRUE(one.flip());
    cPictDummy empty;
    EXPECT_TRUE(empty.rotate(cPictBase::rd0));
    EXPECT_FALSE(empty.rotate(cPictBase::rd90));
    EXPECT_FALSE(empty.flip());
}

TEST(PictBase, RowStretchEnlargesLinearlyAndShrinksByBoxAverage) {
    cPictDummy p;
    ASSERT_TRUE(p.create_und(2, 1));
    p.raw8Bpp()[0] = 0x10101010u;
    p.raw8Bpp()[1] = 0x30303030u;
    _typebuf<unsigned int> out;
    ASSERT_TRUE(p.hStretchTo(4, out));
    ASSERT_EQ(out.count(), 4);
    EXPECT_EQ(out[0], 0x10101010u);
    EXPECT_EQ(out[1], 0x10101010u);
    EXPECT_EQ(out[2], 0x20202020u);
    EXPECT_EQ(out[3], 0x30303030u);

    ASSERT_TRUE(p.create_und(3, 1));
    p.raw8Bpp()[0] = 10;
    p.raw8Bpp()[1] = 20;
    p.raw8Bpp()[2] = 31;
    ASSERT_TRUE(p.hStretchTo(2, out));
    EXPECT_EQ(out[0], static_cast<unsigned>((10 + 0.5 * 20) / 1.5));
    EXPECT_EQ(out[1], static_cast<unsigned>((0.5 * 20 + 31) / 1.5));
    _typebuf<unsigned long long> wide;
    EXPECT_FALSE(p.hStretchTo(2, wide));
    EXPECT_FALSE(p.hStretchTo(0, out));
}

TEST(PictBase, StretchToOwnSizeCopiesAndColumnsStretchLikeRows) {
    cPictDummy p, q;
    std::mt19937 rng(7);
    ASSERT_TRUE(p.create_und(5, 4));
    for (int i = 0; i < 20; ++i) p.raw8Bpp()[i] = static_cast<unsigned>(rng());
    ASSERT_TRUE(p.stretchTo(5, 4, q));
    EXPECT_EQ(std::vector<unsigned>(q.raw8Bpp(), q.raw8Bpp() + 20), std::vector<unsigned>(p.raw8Bpp(), p.raw8Bpp() + 20));
    // A vertical stretch is the row stretch of the turned picture.
    cPictDummy v, turned, th;
    ASSERT_TRUE(p.stretchTo(5, 9, v));
    ASSERT_TRUE(turned.create_und(5, 4));
    std::copy(p.raw8Bpp(), p.raw8Bpp() + 20, turned.raw8Bpp());
    ASSERT_TRUE(turned.rotate(cPictBase::rd90));
    ASSERT_TRUE(turned.stretchTo(9, 5, th));
    ASSERT_TRUE(th.rotate(cPictBase::rd270));
    ASSERT_EQ(th.width(), 5);
    ASSERT_EQ(th.height(), 9);
    EXPECT_EQ(std::vector<unsigned>(v.raw8Bpp(), v.raw8Bpp() + 45), std::vector<unsigned>(th.raw8Bpp(), th.raw8Bpp() + 45));
    // Both sides: rows first, then columns.
    cPictDummy both, rowsOnly, cols;
    ASSERT_TRUE(p.stretchTo(3, 7, both));
    ASSERT_TRUE(p.stretchTo(3, 4, rowsOnly));
    ASSERT_TRUE(rowsOnly.stretchTo(3, 7, cols));
    EXPECT_EQ(std::vector<unsigned>(both.raw8Bpp(), both.raw8Bpp() + 21), std::vector<unsigned>(cols.raw8Bpp(), cols.raw8Bpp() + 21));
    EXPECT_FALSE(p.stretchTo(0, 3, q));
}

TEST(PictBase, ContrastStretchSpreadsBgrOverTheFullRange) {
    unsigned int flat[4] = {0x00404040u, 0x00404040u, 0x12404040u, 0x00404040u};
    cPictDummy p;
    ASSERT_TRUE(p.autoScaleFrom(flat, 2, 2));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.raw8Bpp()[i], 0xFF404040u);
    unsigned int ramp[2] = {0x00102030u, 0x00405060u};
    ASSERT_TRUE(p.autoScaleFrom(ramp, 2, 1));
    const double f = 255.0 / (0x60 - 0x10);
    auto c = [&](unsigned v) { return static_cast<unsigned>((v - 0x10) * f); };
    EXPECT_EQ(p.raw8Bpp()[0], 0xFF000000u | c(0x10) << 16 | c(0x20) << 8 | c(0x30));
    EXPECT_EQ(p.raw8Bpp()[1], 0xFF000000u | c(0x40) << 16 | c(0x50) << 8 | c(0x60));
    unsigned long long w[2] = {pix16(100, 101, 102, 0), pix16(105, 100, 100, 0)};
    ASSERT_TRUE(p.autoScaleFrom(w, 2, 1));
    EXPECT_TRUE(p.is16Bpp());
    EXPECT_EQ(p.raw16Bpp()[0], pix16(0, 13107, 26214, 65535));
    EXPECT_EQ(p.raw16Bpp()[1], pix16(65535, 0, 0, 65535));
    EXPECT_FALSE(p.autoScaleFrom(static_cast<unsigned int*>(nullptr), 2, 2));
}

TEST(PictBase, MovingAndCopyingColourData) {
    cPictDummy a, b;
    ASSERT_TRUE(a.create16(2, 2, pix16(0x1234, 0xFF00, 0x0100, 0xFFFF)));
    a.setScale16Bpp(512.0);
    _typebuf<unsigned int> px;
    ASSERT_TRUE(a.getColorData(px));
    EXPECT_EQ(px[3], 0x7F007F09u);
    a.moveTo(b);
    EXPECT_TRUE(b.is16Bpp());
    EXPECT_EQ(b.scale16Bpp(), 512.0);
    EXPECT_EQ(b.width(), 2);
    EXPECT_EQ(a.raw16Bpp(), nullptr);
    EXPECT_EQ(a.width(), 2);  // the size stays with the emptied source
    ASSERT_TRUE(b.moveToColorData(px));
    EXPECT_EQ(px.count(), 4);
    EXPECT_EQ(b.width(), 0);
    EXPECT_FALSE(b.moveToColorData(px));

    _typebuf<unsigned int> three(3);
    cPictDummy c;
    ASSERT_TRUE(c.create(1, 1, 5));
    EXPECT_FALSE(c.create(three, 2, 2));
    EXPECT_EQ(three.count(), 3);
    EXPECT_EQ(c.width(), 1);
    _typebuf<unsigned int> four(4);
    unsigned int* arr = four.data();
    ASSERT_TRUE(c.create(four, 2, 2));
    EXPECT_EQ(c.raw8Bpp(), arr);
    EXPECT_EQ(four.count(), 1);  // the previous array comes back
}
