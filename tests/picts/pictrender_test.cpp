// The external render target: geometry, margins, the sinks, the scaler
// (compared with a block mean computed by Python), and the previews.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "testsupport.h"

namespace {

constexpr unsigned int kBg = 0x00ABCDEFu;

struct Target {
    std::vector<unsigned int> px;
    cPictBase::sExtPictDef def;
    Target(long long w, long long h, unsigned int mode = 0) : px(static_cast<std::size_t>(w * h), 0) {
        def.pixels = px.data();
        def.width = w;
        def.height = h;
        def.background = kBg;
        def.mode = mode;
    }
    unsigned int at(long long x, long long y) const { return px[static_cast<std::size_t>(y * def.width + x)]; }
};

// A picture of w x h whose pixel (x, y) is a function of its position.
unsigned int patternPixel(long long x, long long y) {
    return 0xFF000000u | static_cast<unsigned>((x * 7 + y * 3) & 0xFF) << 16 | static_cast<unsigned>((x * y) & 0xFF) << 8 |
           static_cast<unsigned>((x + 2 * y) & 0xFF);
}

void fillPattern(cPictDummy& p, long long w, long long h) {
    ASSERT_TRUE(p.create_und(w, h));
    for (long long y = 0; y < h; ++y)
        for (long long x = 0; x < w; ++x) p.raw8Bpp()[y * w + x] = patternPixel(x, y);
}

}  // namespace

TEST(ExtRender, SmallPictureIsCentredWithBackgroundMargins) {
    cPictDummy p;
    fillPattern(p, 10, 10);
    Target t(20, 16);
    ASSERT_TRUE(p.setExtTarget(&t.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_EQ(p.extLeft(), 5);
    EXPECT_EQ(p.extTop(), 3);
    EXPECT_EQ(p.extScale(), 1.0);
    for (long long y = 0; y < 10; ++y)
        for (long long x = 0; x < 10; ++x) EXPECT_TRUE(p.setExtPix(x, y, patternPixel(x, y)));
    EXPECT_TRUE(p.setExtPix(-1, 0, 1));  // outside: dropped
    EXPECT_TRUE(p.setExtPix(100, 100, 1));
    p.endExtRender();
    EXPECT_FALSE(p.isExtRender());
    for (long long y = 0; y < 16; ++y)
        for (long long x = 0; x < 20; ++x) {
            const bool inside = x >= 5 && x < 15 && y >= 3 && y < 13;
            EXPECT_EQ(t.at(x, y), inside ? patternPixel(x - 5, y - 3) : kBg) << x << "," << y;
        }
    // toExtTarget gives the same picture.
    Target u(20, 16);
    ASSERT_TRUE(p.toExtTarget(&u.def));
    EXPECT_EQ(u.px, t.px);
}

TEST(ExtRender, FittingGeometryAndBinsNoPixelReachedShowTheBackground) {
    cPictDummy p;
    fillPattern(p, 400, 200);
    Target t(100, 100);
    ASSERT_TRUE(p.setExtTarget(&t.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_EQ(p.extScale(), 0.25);
    EXPECT_EQ(p.extTop(), 25);
    EXPECT_EQ(p.extLeft(), 0);
    EXPECT_EQ(p.extScaledWidth(), 100);
    EXPECT_EQ(p.extScaledHeight(), 50);
    EXPECT_TRUE(p.canExtRender(0, 9, 5, 5));
    // Only the bottom 40 source rows arrive (a decode that stopped early).
    for (long long y = 0; y < 40; ++y)
        for (long long x = 0; x < 400; ++x) p.setExtPix(x, y, 0xFF102030u);
    p.endExtRender();
    EXPECT_EQ(t.at(50, 25 + 2), 0xFF102030u);
    EXPECT_EQ(t.at(50, 25 + 30), kBg);
    EXPECT_EQ(t.at(0, 74), kBg);
    for (long long x = 0; x < 100; ++x)
        for (long long y : {0, 24, 75, 99}) EXPECT_EQ(t.at(x, y), kBg) << x << "," << y;
}

TEST(ExtRender, ScalingModeLimitsAndRefusals) {
    cPictDummy p;
    fillPattern(p, 50, 40);
    Target t(20, 20, 1);
    t.def.scale = 2.0;
    ASSERT_TRUE(p.setExtTarget(&t.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_EQ(t.def.scale, 1.0);
    EXPECT_EQ(p.extScale(), 1.0);
    p.endExtRender();

    // A zero scale and an unknown mode are refused.
    for (unsigned mode : {1u, 7u}) {
        Target r(20, 20, mode);
        if (mode == 1) r.def.scale = 0.0;
        ASSERT_TRUE(p.setExtTarget(&r.def));
        EXPECT_FALSE(p.startExtRender()) << mode;
        EXPECT_FALSE(p.isExtRender());
        EXPECT_FALSE(p.toExtTarget(&r.def));
    }

    cPictBase::sExtPictDef none;
    EXPECT_FALSE(p.setExtTarget(&none));
    EXPECT_FALSE(p.setExtTarget(nullptr));
    EXPECT_FALSE(p.setExtPix(0, 0, 1));
    cPictDummy empty;
    Target e(4, 4);
    ASSERT_TRUE(empty.setExtTarget(&e.def));
    EXPECT_FALSE(empty.checkNeedExtRender());
    EXPECT_FALSE(empty.isExtRender());
}

TEST(ExtRender, VisibleSpanDecidesWhichRowsAreWanted) {
    cPictDummy p;
    fillPattern(p, 100, 21);
    Target t(100, 30);
    ASSERT_TRUE(p.setExtTarget(&t.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_TRUE(p.canExtRender(0, 9, 5, 5));
    EXPECT_FALSE(p.canExtRender(0, 9, 21, 30));
    EXPECT_FALSE(p.canExtRender(100, 200, 0, 0));
    p.endExtRender();
    // A window of 0..99 x 10..20 visible (mode 1, scrolled).
    cPictDummy tall;
    fillPattern(tall, 100, 40);
    Target s(100, 11, 1);
    s.def.scale = 1.0;
    s.def.originY = 10;
    ASSERT_TRUE(tall.setExtTarget(&s.def));
    ASSERT_TRUE(tall.startExtRender());
    EXPECT_FALSE(tall.canExtRender(0, 9, 5, 5));
    EXPECT_TRUE(tall.canExtRender(0, 9, 15, 15));
    tall.endExtRender();
}

// The area average of an integer ratio is the block mean, truncated.
TEST(ExtRender, AreaAverageMatchesPythonBlockMean) {
    const long long W = 96, H = 64, r = 4;
    std::mt19937 rng(11);
    cPictDummy p;
    ASSERT_TRUE(p.create_und(W, H));
    std::ostringstream hex;
    for (long long i = 0; i < W * H; ++i) {
        p.raw8Bpp()[i] = static_cast<unsigned>(rng());
        hex << std::hex << p.raw8Bpp()[i] << ' ';
    }
    Target t(W / r, H / r);
    ASSERT_TRUE(p.toExtTarget(&t.def));
    const std::string script = R"(
import sys
W, H, r = 96, 64, 4
px = [int(v, 16) for v in sys.stdin.read().split()]
out = []
for by in range(H // r):
    for bx in range(W // r):
        word = 0
        for k in range(4):
            s = sum((px[(by * r + y) * W + bx * r + x] >> (8 * k)) & 255 for y in range(r) for x in range(r))
            word |= (s // (r * r)) << (8 * k)
        out.append('%x' % word)
print(' '.join(out))
)";
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("px.txt"), hex.str()));
    const std::string want = qortest::runPython(script, "< " + dir.file("px.txt"));
    std::ostringstream got;
    for (std::size_t i = 0; i < t.px.size(); ++i) got << (i ? " " : "") << std::hex << t.px[i];
    EXPECT_EQ(got.str() + "\n", want);

    // Decoding through the sinks lands on the same geometry and, with whole
    // bins (scale below 0.5), on nearly the same colours.
    Target u(W / r, H / r);
    ASSERT_TRUE(p.setExtTarget(&u.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_EQ(p.extScaledWidth(), W / r);
    EXPECT_EQ(p.extScaledHeight(), H / r);
    EXPECT_EQ(p.extLeft(), 0);
    EXPECT_EQ(p.extTop(), 0);
    for (long long y = 0; y < H; ++y)
        for (long long x = 0; x < W; ++x) p.setExtPix(x, y, p.raw8Bpp()[y * W + x]);
    p.endExtRender();
    for (unsigned v : u.px) EXPECT_NE(v, kBg);
}

TEST(ExtRender, SixteenBitPicturesGoThroughTheirRule) {
    cPictDummy p;
    ASSERT_TRUE(p.create16(3, 2, 0xFFFF800000FF1234ULL));
    Target t(5, 4);
    ASSERT_TRUE(p.toExtTarget(&t.def));
    EXPECT_EQ(t.at(1, 1), 0xFF800012u);
    p.setBase16Bpp(0x100);
    ASSERT_TRUE(p.toExtTarget(&t.def));
    EXPECT_EQ(t.at(1, 1), 0xFF810113u);
    ASSERT_TRUE(p.setExtTarget(&t.def));
    ASSERT_TRUE(p.startExtRender());
    EXPECT_TRUE(p.setExtPix16(0, 0, 0x0000000000000000ULL));
    EXPECT_TRUE(p.setExtComp16(0, 0, 0x0200, 2));
    p.endExtRender();
    EXPECT_EQ(t.at(1, 1), 0x01030101u);
}

TEST(ExtRender, ComponentsAddUpToWholePixels) {
    cPictDummy p;
    fillPattern(p, 8, 8);
    Target whole(2, 2), parts(2, 2);
    ASSERT_TRUE(p.setExtTarget(&whole.def));
    ASSERT_TRUE(p.startExtRender());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) p.setExtPix(x, y, 0x80402010u);
    p.endExtRender();
    ASSERT_TRUE(p.setExtTarget(&parts.def));
    ASSERT_TRUE(p.startExtRender());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int k = 0; k < 4; ++k) p.setExtComp(x, y, static_cast<unsigned char>(0x10 << k), k);
    EXPECT_TRUE(p.setExtComp(0, 0, 1, 9));
    p.endExtRender();
    EXPECT_EQ(whole.px, parts.px);
    EXPECT_EQ(whole.at(0, 0), 0x80402010u);
}

namespace {

// A decoder whose stream is irrelevant: it "decodes" a pattern and may carry
// an embedded thumbnail.
class cFakeDecoder : public cPictBase {
public:
    long long w = 400, h = 300, thumbW = 0, thumbH = 0;
    bool ext = false, fail = false;
    int decodes = 0;
    bool isPicture(cFileIOTarget*, sPictInfo* info) override {
        if (info) {
            info->width = w;
            info->height = h;
            info->hasPreview = thumbW > 0;
        }
        return true;
    }
    bool supportsExtRendering() override { return ext; }
    bool decode(cFileIOTarget*) override {
        ++decodes;
        if (fail) return false;
        width_ = w;
        height_ = h;
        if (ext && startExtRender()) {
            for (long long y = 0; y < h; ++y)
                for (long long x = 0; x < w; ++x) setExtPix(x, y, 0xFF00FF00u);
            endExtRender();
            return true;
        }
        if (!allocPixels8(w, h)) return false;
        std::fill(pixels8_.begin(), pixels8_.end(), 0xFF00FF00u);
        return true;
    }
    bool getPreview(cFileIOTarget*, cPictBase& dst, const long long*, const long long*) override {
        if (!thumbW) return false;
        return static_cast<cPictDummy&>(dst).create(thumbW, thumbH, 0xFF0000FFu);
    }
};

}  // namespace

TEST(Previews, FitDecodeOrThumbnailWithTheResultCodes) {
    cBufWrapperIO stream;
    unsigned char byte = 0;
    stream.wrap(&byte, 1, false);
    for (bool ext : {false, true}) {
        cFakeDecoder d;
        d.ext = ext;
        cPictBase::sPictInfo info;
        d.isPicture(&stream, &info);
        cPictDummy dst;
        EXPECT_EQ(cPictBase::getPreviewFor(&d, info, &stream, dst, 100, 100, false, kBg), cPictBase::frNoPreview);
        EXPECT_EQ(cPictBase::getPreviewFor(&d, info, &stream, dst, 100, 100, true, kBg), cPictBase::frOk);
        EXPECT_EQ(dst.width(), 100);
        EXPECT_EQ(dst.height(), 75);
        EXPECT_EQ(dst.raw8Bpp()[0], 0xFF00FF00u);
        EXPECT_EQ(cPictBase::getPreviewFor(nullptr, info, &stream, dst, 100, 100, true, kBg), cPictBase::frBadArgument);
        EXPECT_EQ(cPictBase::getPreviewFor(&d, info, &stream, dst, 0, 100, true, kBg), cPictBase::frBadArgument);
        d.fail = true;
        EXPECT_EQ(cPictBase::getPreviewFor(&d, info, &stream, dst, 100, 100, true, kBg), cPictBase::frDecodeFailed);
    }
    // A thumbnail already small enough is delivered at its own size.
    cFakeDecoder t;
    t.thumbW = 40;
    t.thumbH = 30;
    cPictBase::sPictInfo info;
    t.isPicture(&stream, &info);
    cPictDummy dst;
    EXPECT_EQ(cPictBase::getPreviewFor(&t, info, &stream, dst, 100, 100, false, kBg), cPictBase::frOk);
    EXPECT_EQ(dst.width(), 40);
    EXPECT_EQ(dst.height(), 30);
    EXPECT_EQ(t.decodes, 0);
    // A larger one is fitted.
    t.thumbW = 160;
    t.thumbH = 120;
    EXPECT_EQ(cPictBase::getPreviewFor(&t, info, &stream, dst, 100, 100, false, kBg), cPictBase::frOk);
    EXPECT_EQ(dst.width(), 100);
    EXPECT_EQ(dst.height(), 75);
    EXPECT_EQ(dst.raw8Bpp()[50], 0xFF0000FFu);
}

TEST(Previews, ImageToPreviewMovesSmallPicturesAndFitsLargeOnes) {
    cPictDummy big, small, dst;
    fillPattern(big, 400, 300);
    ASSERT_TRUE(cPictBase::imgToPreview(big, dst, 100, 100, kBg));
    EXPECT_EQ(dst.width(), 100);
    EXPECT_EQ(dst.height(), 75);
    EXPECT_EQ(big.width(), 0);
    fillPattern(small, 30, 20);
    unsigned int* arr = small.raw8Bpp();
    ASSERT_TRUE(cPictBase::imgToPreview(small, dst, 100, 100, kBg));
    EXPECT_EQ(dst.raw8Bpp(), arr);
    EXPECT_EQ(dst.width(), 30);
    cPictDummy none;
    EXPECT_FALSE(cPictBase::imgToPreview(none, dst, 100, 100, kBg));
}

// Decoders hand whole rows to the target; that must land exactly where the
// pixels sent one by one land, at every kind of scale.
TEST(ExtRender, RowSinkMatchesPixelSink) {
    cPictDummy p;
    fillPattern(p, 90, 60);
    for (auto size : {std::make_pair(27LL, 18LL), std::make_pair(63LL, 50LL), std::make_pair(100LL, 70LL)}) {
        Target one(size.first, size.second), rows(size.first, size.second);
        ASSERT_TRUE(p.setExtTarget(&one.def));
        ASSERT_TRUE(p.startExtRender());
        // Float sums depend on their order: the pixels go in the order the
        // rows below send them.
        for (long long y = 0; y < 60; ++y)
            for (long long first : {0, 1})
                for (long long x = first; x < 90; x += 2) p.setExtPix(x, y, p.raw8Bpp()[y * 90 + x]);
        p.endExtRender();
        ASSERT_TRUE(p.setExtTarget(&rows.def));
        ASSERT_TRUE(p.startExtRender());
        for (long long y = 0; y < 60; ++y) {
            // Even columns first, then odd ones, as an interlaced decoder does.
            std::vector<unsigned int> even, odd;
            for (long long x = 0; x < 90; ++x) (x % 2 ? odd : even).push_back(p.raw8Bpp()[y * 90 + x]);
            EXPECT_TRUE(p.setExtRow(y, even.data(), static_cast<long long>(even.size()), 0, 2));
            EXPECT_TRUE(p.setExtRow(y, odd.data(), static_cast<long long>(odd.size()), 1, 2));
        }
        p.endExtRender();
        EXPECT_EQ(one.px, rows.px) << size.first << "x" << size.second;
    }
}

// The one fitted-size rounding: never enlarged, rounded to the nearest
// pixel, at least 1 across, a limit of 0 or less not restricting.
TEST(FitSize, RoundsOnceForEveryCaller) {
    long long w = 0, h = 0;
    ASSERT_TRUE(cPictBase::fitSize(400, 300, 100, 100, w, h));
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 75);
    ASSERT_TRUE(cPictBase::fitSize(30, 20, 100, 100, w, h));  // never enlarged
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
    ASSERT_TRUE(cPictBase::fitSize(3, 2, 2, 2, w, h));  // 1.33 -> 1
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 1);
    ASSERT_TRUE(cPictBase::fitSize(5, 3, 2, 100, w, h));  // 1.2 -> 1
    EXPECT_EQ(h, 1);
    ASSERT_TRUE(cPictBase::fitSize(10000, 1, 100, 100, w, h));  // a thin picture keeps a pixel
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 1);
    ASSERT_TRUE(cPictBase::fitSize(400, 300, 200, 0, w, h));  // the width alone
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 150);
    ASSERT_TRUE(cPictBase::fitSize(400, 300, -1, 60, w, h));  // the height alone
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 60);
    ASSERT_TRUE(cPictBase::fitSize(400, 300, -1, -1, w, h));
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
    EXPECT_FALSE(cPictBase::fitSize(0, 300, 100, 100, w, h));
    EXPECT_FALSE(cPictBase::fitSize(400, -1, 100, 100, w, h));
}
