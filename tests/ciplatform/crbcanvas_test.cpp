// The platform canvas on an offscreen bitmap: rectangles, lines, pictures
// and clipped areas compared pixel by pixel with an independent rendering
// of the same scene (NumPy), region arithmetic against a plain pixel mask,
// blits, snapshots and the graphics-state bookkeeping of the context.
#include "ciplatform/crbcanvas.h"
#include "ciplatform/ctfont.h"
#include "ciplatform/translator.h"
#include "macshim/cgshim.h"
#include "macshim/ctshim.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Draws the scene described on the lines of the first file (toolkit
// coordinates, colours 0x00BBGGRR) and compares it with the snapshot in
// the second (0xAARRGGBB little-endian words): prints the number of
// channels further apart than the tolerance, then the first few.
const char* kSceneOracle = R"PY(
import sys, numpy as np
ops = [l.split() for l in open(sys.argv[1]) if l.strip()]
W, H = int(ops[0][1]), int(ops[0][2])
img = np.zeros((H, W, 3), dtype=np.float64)
tol = np.full((H, W), 1.0)
def rgb(c):
    c = int(c); return np.array([c & 255, (c >> 8) & 255, (c >> 16) & 255], dtype=np.float64)
def box(x, y, w, h, colour, clip):
    cl, ct, cr, cb = clip
    x0, y0, x1, y1 = max(x, cl), max(y, ct), min(x + w, cr), min(y + h, cb)
    if x1 > x0 and y1 > y0: img[y0:y1, x0:x1] = colour
def pixels(path, w, h):
    v = np.fromfile(path, dtype='<u4').reshape(h, w).astype(np.int64)
    return (v >> 24) & 255, np.stack([(v >> 16) & 255, (v >> 8) & 255, v & 255], axis=-1)
clip = (0, 0, W, H)
for op in ops[1:]:
    k, a = op[0], op[1:]
    if k == 'clip': clip = tuple(int(v) for v in a)
    elif k == 'fill':
        x, y, w, h = map(int, a[:4]); box(x, y, w, h, rgb(a[4]), clip)
    elif k == 'frame':
        x, y, w, h = map(int, a[:4]); f, b = rgb(a[4]), rgb(a[5])
        box(x, y, w, h, b, clip); box(x + 1, y + 1, w - 2, h - 2, f, clip)
    elif k == 'hline':
        x0, x1, y = map(int, a[:3]); c = rgb(a[3])
        box(x0, y, x1 - x0, 1, c, clip)
        if clip[0] <= x1 < clip[2] and clip[1] <= y < clip[3]:
            img[y, x1] = (img[y, x1] + c) / 2; tol[y, x1] = 2.0
    elif k == 'vline':
        x, y0, y1 = map(int, a[:3]); box(x, y0, 1, y1 - y0, rgb(a[3]), clip)
    elif k == 'pic' or k == 'alpha':
        x, y, w, h = map(int, a[:4]); al, px = pixels(a[4], w, h)
        cl, ct, cr, cb = clip
        for r in range(h):
            for c in range(w):
                X, Y = x + c, y + r
                if not (cl <= X < cr and ct <= Y < cb): continue
                if k == 'pic': img[Y, X] = px[r, c]
                else:
                    pre = np.floor(px[r, c] * al[r, c] * 0.00392157)
                    img[Y, X] = pre + img[Y, X] * (255 - al[r, c]) / 255.0
                    tol[Y, X] = 1.0
got = pixels(sys.argv[2], W, H)[1].astype(np.float64)
bad = np.abs(got - img) > tol[..., None] + 1e-9
print(int(bad.sum()))
for y, x, ch in list(zip(*np.nonzero(bad)))[:5]:
    print('at %d,%d: got %s want %s' % (x, y, got[y, x], img[y, x]))
)PY";

struct sScene {
    std::ostringstream ops;
    qortest::TempDir dir;
    int files = 0;
    std::string picture(const cPicture& p) {
        const std::string path = dir.file("pic" + std::to_string(files++) + ".raw");
        qortest::writeFile(path, std::string(reinterpret_cast<const char*>(p.raw()),
                                             static_cast<std::size_t>(p.width()) * p.height() * 4));
        return path;
    }
    // Compares the canvas with the oracle's rendering; returns its report.
    std::string compare(cCrbOffscreenCanvas& canvas) {
        cPicture shot;
        EXPECT_TRUE(canvas.snapshot(&shot, nullptr));
        const std::string desc = dir.file("scene.txt"), raw = dir.file("shot.raw");
        qortest::writeFile(desc, "size " + std::to_string(canvas.width()) + " " + std::to_string(canvas.height()) +
                                     "\n" + ops.str());
        qortest::writeFile(raw, std::string(reinterpret_cast<const char*>(shot.raw()),
                                            static_cast<std::size_t>(shot.width()) * shot.height() * 4));
        return qortest::runPython(kSceneOracle, "'" + desc + "' '" + raw + "'");
    }
};

void makePicture(cPicture& p, int w, int h, unsigned seed, bool withAlpha) {
    ASSERT_TRUE(p.create(w, h));
    std::mt19937 rng(seed);
    for (int i = 0; i < w * h; ++i) {
        unsigned v = rng();
        p.raw()[i] = withAlpha ? v : (v | 0xFF000000u);
    }
}

std::unique_ptr<cCrbOffscreenCanvas> newCanvas(int w, int h) {
    std::unique_ptr<cCrbOffscreenCanvas> c(new cCrbOffscreenCanvas);
    EXPECT_TRUE(c->create(w, h));
    return c;
}

class PlatformCanvas : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installPlatformFonts(); }
};

}  // namespace

TEST_F(PlatformCanvas, RectanglesLinesAndPicturesMatchAnIndependentRendering) {
    auto canvas = newCanvas(96, 64);
    sScene s;
    auto fill = [&](int x, int y, int w, int h, unsigned c) {
        sRect r{x, y, w, h};
        ASSERT_TRUE(canvas->drawRect(&r, c, c));
        s.ops << "fill " << x << " " << y << " " << w << " " << h << " " << c << "\n";
    };
    fill(0, 0, 96, 64, 0xFFFFFF);
    fill(3, 4, 20, 9, 0x3366CC);
    fill(-5, 50, 12, 30, 0x00AA00);  // partly off the canvas
    sRect fr{30, 2, 17, 11};
    ASSERT_TRUE(canvas->drawRect(&fr, 0xEEDDCC, 0x102030));
    s.ops << "frame 30 2 17 11 " << 0xEEDDCC << " " << 0x102030 << "\n";

    canvas->setLineMode(0x0000FF, 1);
    sPoint a{50, 20}, b{70, 20};
    ASSERT_TRUE(canvas->drawLine(&a, &b));
    s.ops << "hline 50 70 20 " << 0x0000FF << "\n";
    sPoint c{60, 22}, d{60, 40};
    ASSERT_TRUE(canvas->drawLine(&c, &d));
    s.ops << "vline 60 22 40 " << 0x0000FF << "\n";

    cPicture opaque, translucent;
    makePicture(opaque, 7, 5, 1, false);
    makePicture(translucent, 6, 4, 2, true);
    sPoint at{10, 20};
    ASSERT_TRUE(canvas->drawBitmap(&at, &opaque, nullptr));
    s.ops << "pic 10 20 7 5 " << s.picture(opaque) << "\n";
    ASSERT_TRUE(canvas->drawBitmap(92, 60, &opaque, -1, -1));  // cut by the canvas edge
    s.ops << "pic 92 60 7 5 " << s.picture(opaque) << "\n";
    sPoint at2{40, 30};
    ASSERT_TRUE(canvas->drawTransparent(&at2, &translucent, nullptr));
    s.ops << "alpha 40 30 6 4 " << s.picture(translucent) << "\n";

    // A sub-canvas draws relative to its corner and only inside itself.
    sRect part{70, 40, 20, 15};
    std::unique_ptr<cCanvas> sub(canvas->subCanvas(&part));
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->width(), 20);
    sRect inSub{-4, 5, 40, 4};
    ASSERT_TRUE(sub->drawRect(&inSub, 0x777777, 0x777777));
    s.ops << "clip 70 40 90 55\nfill 66 45 40 4 " << 0x777777 << "\nclip 0 0 96 64\n";
    static_cast<cCrbCanvas*>(sub.get())->close();
    sub.reset();
    // Closing the sub-canvas gave the whole canvas back.
    fill(85, 58, 11, 6, 0x445566);

    const std::string report = s.compare(*canvas);
    EXPECT_EQ(report.substr(0, 2), "0\n") << report;
}

TEST_F(PlatformCanvas, DrawnRegionFollowsClipAndUnclipLikeAPixelMask) {
    const int W = 40, H = 30;
    auto canvas = newCanvas(W, H);
    std::vector<char> mask(W * H, 1);
    std::mt19937 rng(7);
    auto regionMask = [&] {
        std::vector<char> m(W * H, 0);
        for (const cListItem* it = canvas->region().head; it; it = it->next) {
            const auto* c = static_cast<const cCrbCanvas::cClippingItem*>(it);
            for (int y = c->top; y < c->bottom; ++y)
                for (int x = c->left; x < c->right; ++x) m[y * W + x] = 1;
        }
        return m;
    };
    for (int step = 0; step < 300; ++step) {
        sRect r{static_cast<int>(rng() % 50) - 5, static_cast<int>(rng() % 40) - 5, static_cast<int>(rng() % 20),
                static_cast<int>(rng() % 15)};
        const bool cut = rng() % 3 != 0;
        ASSERT_TRUE(cut ? canvas->clip(&r) : canvas->unclip(&r));
        for (int y = std::max(r.y, 0); y < std::min(r.y + r.h, H); ++y)
            for (int x = std::max(r.x, 0); x < std::min(r.x + r.w, W); ++x) mask[y * W + x] = cut ? 0 : 1;
        ASSERT_EQ(regionMask(), mask) << "after step " << step;
    }
    // The region reaches the context through select: a fill of the whole
    // canvas lands only on it.
    ASSERT_TRUE(canvas->select());
    sRect all{0, 0, W, H};
    ASSERT_TRUE(canvas->drawRect(&all, 0x0000FF, 0x0000FF));
    cPicture shot;
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    int wrong = 0;
    for (int i = 0; i < W * H; ++i) wrong += shot.raw()[i] != (mask[i] ? 0xFFFF0000u : 0xFF000000u);
    EXPECT_EQ(wrong, 0);

    // Clip then unclip of the same rectangle gives the whole canvas back.
    auto fresh = newCanvas(W, H);
    sRect hole{5, 6, 10, 7};
    ASSERT_TRUE(fresh->clip(&hole));
    ASSERT_TRUE(fresh->unclip(&hole));
    long long covered = 0;
    for (const cListItem* it = fresh->region().head; it; it = it->next) {
        const auto* c = static_cast<const cCrbCanvas::cClippingItem*>(it);
        covered += static_cast<long long>(c->right - c->left) * (c->bottom - c->top);
    }
    EXPECT_EQ(covered, W * H);
    EXPECT_FALSE(fresh->clip(nullptr));
}

TEST_F(PlatformCanvas, BlitsCopyTheChosenPartOfABitmapCanvas) {
    auto src = newCanvas(8, 6);
    cPicture pattern;
    makePicture(pattern, 8, 6, 3, false);
    ASSERT_TRUE(src->drawBitmap(0, 0, &pattern, -1, -1));
    struct {
        int x, y, sx, sy, sw, sh;
        int cx, cy, cw, ch;  // the part expected: source corner and size
    } table[] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 8, 6},   {3, 2, 2, 1, 3, 2, 2, 1, 3, 2},  {1, 1, -3, 2, 0, 0, 0, 2, 8, 4},
        {5, 0, 6, 0, 50, 50, 6, 0, 2, 6}, {0, 4, 0, 5, 4, 9, 0, 5, 4, 1},
    };
    for (const auto& row : table) {
        auto dst = newCanvas(16, 12);
        ASSERT_TRUE(dst->draw(row.x, row.y, src.get(), row.sx, row.sy, row.sw, row.sh));
        cPicture shot;
        ASSERT_TRUE(dst->snapshot(&shot, nullptr));
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool inside = x >= row.x && x < row.x + row.cw && y >= row.y && y < row.y + row.ch;
                const unsigned want =
                    inside ? pattern.raw()[(row.cy + y - row.y) * 8 + row.cx + x - row.x] : 0xFF000000u;
                ASSERT_EQ(shot.raw()[y * 16 + x], want) << "blit from " << row.sx << "," << row.sy << " at " << x
                                                        << "," << y;
            }
    }
    auto dst = newCanvas(16, 12);
    EXPECT_TRUE(dst->draw(0, 0, src.get(), 10, 0, 0, 0));  // starts right of the source
    EXPECT_FALSE(dst->draw(0, 0, nullptr, 0, 0, 0, 0));
    cPicture shot;
    ASSERT_TRUE(dst->snapshot(&shot, nullptr));
    for (int i = 0; i < 16 * 12; ++i) ASSERT_EQ(shot.raw()[i], 0xFF000000u);
}

TEST_F(PlatformCanvas, PictureWithOneSizeGivenKeepsThePictureOtherSize) {
    auto canvas = newCanvas(30, 20);
    cPicture red;
    ASSERT_TRUE(red.create(0xFFFF0000u, 4, 3));
    // Width given, height the picture's own; then the other way round.
    ASSERT_TRUE(canvas->drawBitmap(2, 2, &red, 10, -1));
    ASSERT_TRUE(canvas->drawBitmap(20, 2, &red, -1, 8));
    cPicture shot;
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    auto filled = [&](int x0, int y0, int w, int h) {
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x) {
                if (x >= 15 && x0 < 15) continue;
                if (x < 15 && x0 >= 15) continue;
                const bool in = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
                EXPECT_EQ(shot.raw()[y * 30 + x], in ? 0xFFFF0000u : 0xFF000000u) << x << "," << y;
            }
    };
    filled(2, 2, 10, 3);
    filled(20, 2, 4, 8);
    EXPECT_TRUE(canvas->drawBitmap(2, 2, &red, 0, -1));
    EXPECT_FALSE(canvas->drawBitmap(2, 2, nullptr, -1, -1));
}

TEST_F(PlatformCanvas, SnapshotsOfPartsAndRefusedRectangles) {
    auto canvas = newCanvas(10, 8);
    cPicture pattern;
    makePicture(pattern, 10, 8, 4, false);
    ASSERT_TRUE(canvas->drawBitmap(0, 0, &pattern, -1, -1));
    cPicture part;
    sRect r{3, 2, 5, 6};
    ASSERT_TRUE(canvas->snapshot(&part, &r));
    ASSERT_EQ(part.width(), 5);
    ASSERT_EQ(part.height(), 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 5; ++x) ASSERT_EQ(part.raw()[y * 5 + x], pattern.raw()[(y + 2) * 10 + x + 3]);
    const unsigned first = part.raw()[0];
    for (sRect bad : {sRect{6, 0, 5, 2}, sRect{0, 7, 1, 2}, sRect{-1, 0, 2, 2}, sRect{0, 0, 0, 1}, sRect{10, 0, 1, 1}})
        EXPECT_FALSE(canvas->snapshot(&part, &bad));
    EXPECT_EQ(part.width(), 5);
    EXPECT_EQ(part.raw()[0], first);
    EXPECT_FALSE(canvas->snapshot(nullptr, nullptr));
    // Bitmaps beyond what the raster engine takes are refused, not made.
    cCrbOffscreenCanvas huge;
    EXPECT_FALSE(huge.create(40000, 2));
    EXPECT_FALSE(huge.create(0, 2));
}

TEST_F(PlatformCanvas, ClosingRestoresTheSavedStateOnceAndOnlyOnce) {
    CGContextRef ctx = CGBitmapContextCreate(nullptr, 20, 10, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst);
    ASSERT_NE(ctx, nullptr);
    CGContextSaveGState(ctx);  // the caller's own state
    {
        cCrbCanvas canvas;
        ASSERT_TRUE(canvas.create(ctx, 20, 10));
        EXPECT_EQ(CGContextGetGStateDepth(ctx), 2);
        ASSERT_TRUE(canvas.select());
        EXPECT_EQ(CGContextGetGStateDepth(ctx), 2);
        canvas.close();
        EXPECT_EQ(CGContextGetGStateDepth(ctx), 1);
    }
    EXPECT_EQ(CGContextGetGStateDepth(ctx), 1);  // the destructor left the caller's state alone
    EXPECT_TRUE(CGContextRestoreGState(ctx));
    EXPECT_FALSE(CGContextRestoreGState(ctx));  // unmatched: refused
    // The context still draws after the refused restore.
    CGContextSetRGBFillColor(ctx, 0, 0, 1, 1);
    CGContextFillRect(ctx, CGRectMake(0, 0, 20, 10));
    const auto* px = static_cast<const uint32_t*>(CGBitmapContextGetData(ctx));
    EXPECT_EQ(px[0], 0xFF0000FFu);
    EXPECT_EQ(px[199], 0xFF0000FFu);
    CGContextRelease(ctx);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 32768, 1, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst), nullptr);
}

TEST_F(PlatformCanvas, TextPaintsItsBackgroundBoxAndMeasuresLikeItsFont) {
    auto canvas = newCanvas(120, 40);
    sRect all{0, 0, 120, 40};
    ASSERT_TRUE(canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF));
    ASSERT_NE(canvas->font(), nullptr);
    canvas->setTextColors(0x000000, 0x00FF00);
    ASSERT_TRUE(canvas->drawText(10, 8, false, "Hg Qor", -1));
    sSize size;
    ASSERT_TRUE(canvas->textSize("Hg Qor", -1, size));
    sSize fontSize;
    ASSERT_TRUE(canvas->font()->getTextDim(nullptr, "Hg Qor", -1, fontSize));
    EXPECT_EQ(size.w, fontSize.w);
    EXPECT_EQ(size.h, fontSize.h);
    cPicture shot;
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    auto at = [&](int x, int y) { return shot.raw()[y * 120 + x] & 0xFFFFFF; };
    int ruler[6];
    ASSERT_TRUE(canvas->textRuler("Hg Qor", 6, ruler));
    // The last unit ends at the text's width; the size adds 1.5 to it.
    EXPECT_TRUE(size.w - ruler[5] == 1 || size.w - ruler[5] == 2) << size.w << " " << ruler[5];
    // The box: the column just past the text is background from the top
    // edge down over the text's height; the rows above and the columns past
    // the box are untouched; the ink is dark.
    for (int y = 8; y < 8 + size.h; ++y) EXPECT_EQ(at(10 + ruler[5] + 1, y), 0x00FF00u) << y;
    // Above the box only the glyphs' overshoot may reach (neutral grey);
    // no box colour.
    for (int x = 0; x < 120; ++x) {
        const unsigned p = at(x, 7);
        EXPECT_TRUE((p & 0xFF) == ((p >> 8) & 0xFF) && (p & 0xFF) == (p >> 16)) << x;
    }
    for (int y = 0; y < 40; ++y) EXPECT_EQ(at(10 + size.w + 1, y), 0xFFFFFFu) << y;
    for (int y = 0; y < 40; ++y) EXPECT_EQ(at(9, y), 0xFFFFFFu) << y;
    int ink = 0;
    for (int y = 8; y < 8 + size.h; ++y)
        for (int x = 10; x < 10 + size.w; ++x) ink += (at(x, y) & 0xFF00) < 0x4000;
    EXPECT_GT(ink, 30);
    // Transparent text leaves the background alone.
    ASSERT_TRUE(canvas->drawText(10, 25, true, "Hg Qor", -1));
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    int green = 0;
    for (int y = 22; y < 40; ++y)
        for (int x = 0; x < 120; ++x) green += at(x, y) == 0x00FF00u;
    EXPECT_EQ(green, 0);
    EXPECT_FALSE(canvas->textRuler("x", 0, ruler));
    EXPECT_FALSE(canvas->setTextMode(5, 13, "No Such Face", false, false, false));
}

TEST_F(PlatformCanvas, ItalicsLeanRightAndStretchedFacesDrawWider) {
    // The ink's mean column in the upper half of a run of "I" against the
    // lower half: an upright face keeps it, the slant of 0.3 moves it right
    // by 0.3 of the rows between the halves' centres.
    struct sInk {
        double upper = 0, lower = 0;
        int left = 1 << 30, right = -1;
    };
    auto inkOf = [](bool italic, const char* face, int size) {
        auto canvas = newCanvas(200, 60);
        sRect all{0, 0, 200, 60};
        canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
        EXPECT_TRUE(canvas->setTextMode(5, size, face, false, false, italic));
        canvas->setTextColors(0, 0xFFFFFF);
        EXPECT_TRUE(canvas->drawText(20, 10, true, "IIIIII", -1));
        cPicture shot;
        EXPECT_TRUE(canvas->snapshot(&shot, nullptr));
        int top = 60, bottom = -1;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 200; ++x)
                if ((shot.raw()[y * 200 + x] & 0xFF) < 128) top = std::min(top, y), bottom = std::max(bottom, y);
        sInk ink;
        const int mid = (top + bottom + 1) / 2;
        double wu = 0, wl = 0;
        for (int y = top; y <= bottom; ++y)
            for (int x = 0; x < 200; ++x) {
                const double w = 255 - (shot.raw()[y * 200 + x] & 0xFF);
                if (w <= 0) continue;
                (y < mid ? ink.upper : ink.lower) += w * x;
                (y < mid ? wu : wl) += w;
                if (w > 128) ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
            }
        ink.upper /= wu;
        ink.lower /= wl;
        ink.upper -= ink.lower;                        // the lean
        ink.lower = (bottom - top + 1) / 2.0 * 0.3;    // the lean a slant of 0.3 gives
        return ink;
    };
    const sInk upright = inkOf(false, "Tahoma", 20), slanted = inkOf(true, "Tahoma", 20);
    EXPECT_NEAR(upright.upper, 0, 0.3);
    EXPECT_NEAR(slanted.upper, slanted.lower, 0.2 * slanted.lower + 0.5);
    // Meiryo at 16 is stretched by 1.08 across; at 17 it is not, and the
    // size rule alone makes 17 draw 0.75 points larger than 16.
    const sInk at16 = inkOf(false, "Meiryo", 16), at17 = inkOf(false, "Meiryo", 17);
    const double w16 = at16.right - at16.left, w17 = at17.right - at17.left;
    EXPECT_NEAR(w16 / w17, 1.08 * 13.25 / 14.0, 0.04);
}

TEST_F(PlatformCanvas, SubCanvasDrawsTextAndLinesAsItsParentWouldAtItsCorner) {
    auto draw = [](bool throughSub) {
        auto canvas = newCanvas(90, 50);
        sRect all{0, 0, 90, 50};
        canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
        canvas->setTextColors(0x204080, 0xC0E0FF);
        canvas->setLineMode(0x0000FF, 2);
        cCanvas* target = canvas.get();
        std::unique_ptr<cCanvas> sub;
        int ox = 0, oy = 0;
        if (throughSub) {
            sRect part{13, 9, 70, 38};
            sub.reset(canvas->subCanvas(&part));
            target = sub.get();
            ox = 13, oy = 9;
        }
        target->setTextColors(0x204080, 0xC0E0FF);
        target->setLineMode(0x0000FF, 2);
        EXPECT_TRUE(target->drawText(20 - ox, 15 - oy, false, "Qor 1.0", -1));
        sPoint a{15 - ox, 40 - oy}, b{80 - ox, 40 - oy}, c{16 - ox, 12 - oy}, d{16 - ox, 44 - oy};
        EXPECT_TRUE(target->drawLine(&a, &b));
        EXPECT_TRUE(target->drawLine(&c, &d));
        sub.reset();
        cPicture shot;
        EXPECT_TRUE(canvas->snapshot(&shot, nullptr));
        return std::vector<unsigned>(shot.raw(), shot.raw() + 90 * 50);
    };
    const auto direct = draw(false), viaSub = draw(true);
    int inked = 0;
    for (unsigned p : direct) inked += p != 0xFFFFFFFFu;
    EXPECT_GT(inked, 150);
    EXPECT_EQ(direct, viaSub);
}

TEST_F(PlatformCanvas, PicturesWiderThanARasterSurfaceAreDrawnInBands) {
    // 40000 by 8: every column its own colour, every row a different blue.
    const int pw = 40000, ph = 8;
    cPicture pic;
    ASSERT_TRUE(pic.create(pw, ph));
    auto colourOf = [](int x, int y) {
        return 0xFF000000u | (static_cast<unsigned>(x & 0xFF) << 16) | (static_cast<unsigned>((x >> 8) & 0xFF) << 8) |
               static_cast<unsigned>(y * 30);
    };
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) pic.raw()[y * pw + x] = colourOf(x, y);
    // Unscaled: the canvas shows the columns from 32700 on, across the
    // seam of two bands at 32768, exactly.
    auto canvas = newCanvas(200, 8);
    ASSERT_TRUE(canvas->drawBitmap(-32700, 0, &pic, -1, -1));
    cPicture shot;
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    int wrong = 0;
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < 200; ++x) wrong += shot.raw()[y * 200 + x] != colourOf(32700 + x, y);
    EXPECT_EQ(wrong, 0);
    // The last columns, and the first ones, land where they belong.
    ASSERT_TRUE(canvas->drawBitmap(200 - pw, 0, &pic, pw, ph));
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    EXPECT_EQ(shot.raw()[199], colourOf(pw - 1, 0));
    EXPECT_EQ(shot.raw()[7 * 200], colourOf(pw - 200, 7));
    ASSERT_TRUE(canvas->drawBitmap(0, 0, &pic, -1, -1));
    ASSERT_TRUE(canvas->snapshot(&shot, nullptr));
    EXPECT_EQ(shot.raw()[5 * 200 + 37], colourOf(37, 5));

    // Scaled down 100 times: two flat halves, and the pixels at the seams
    // of the bands (columns 163.84 and 327.68) are fully covered, with no
    // background showing through.
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) pic.raw()[y * pw + x] = x < 20000 ? 0xFFFF0000u : 0xFF0000FFu;
    auto wide = newCanvas(400, 8);
    ASSERT_TRUE(wide->drawBitmap(0, 0, &pic, 400, 8));
    ASSERT_TRUE(wide->snapshot(&shot, nullptr));
    for (int x : {0, 100, 163, 164, 198, 202, 300, 326, 327, 328, 399})
        EXPECT_EQ(shot.raw()[4 * 400 + x], x < 200 ? 0xFFFF0000u : 0xFF0000FFu) << x;
}

TEST_F(PlatformCanvas, AScaleObjectRemakesTheCanvasFonts) {
    struct sTwice : cWindowRequestTargetScale {
        double factor() override { return 2.0; }
    } twice;
    auto canvas = newCanvas(40, 20);
    ASSERT_NE(canvas->font(), nullptr);
    EXPECT_EQ(canvas->font()->size(), 13);
    canvas->setScale(&twice);
    EXPECT_EQ(canvas->font()->size(), 26);
    EXPECT_EQ(canvas->font()->charWidth(), 10);
    // 26 by the size rule: 26 - ((26 - 11) x 0.25 + 1.5) points.
    EXPECT_EQ(CTFontGetSize(static_cast<cMacCTFont*>(canvas->font())->ctFont()), 20.75);
    ASSERT_TRUE(canvas->setTextMode(5, 11, "Tahoma", true, false, false));
    EXPECT_EQ(canvas->font()->size(), 22);
    EXPECT_TRUE(canvas->font()->bold());
    EXPECT_EQ(canvas->createFont(5, 9, "Tahoma", false, false, false)->size(), 18);
    // Sub-canvases and offscreen canvases follow the same scale.
    sRect part{2, 2, 10, 10};
    std::unique_ptr<cCanvas> sub(canvas->subCanvas(&part));
    std::unique_ptr<cCanvas> off(canvas->offscreen(8, 8, 0, 0));
    ASSERT_TRUE(sub && off);
    EXPECT_EQ(static_cast<cCrbCanvas*>(off.get())->font()->size(), 26);
    sub->setScale(nullptr);
    EXPECT_EQ(static_cast<cCrbCanvas*>(sub.get())->font()->size(), 11);
    // Without the scale the sizes are the toolkit's again; a font handed in
    // as an object is kept as it is.
    canvas->setScale(nullptr);
    EXPECT_EQ(canvas->font()->size(), 11);
    cFontObject* given = cFontObject::get(5, 30, "Tahoma", false, false, false);
    ASSERT_TRUE(canvas->setTextMode(given));
    canvas->setScale(&twice);
    EXPECT_EQ(canvas->font(), given);
}
