// Forms read their frame from the process-wide theme unless a reader of
// their own is installed: the default theme's eight frame pictures, and the
// flat theme's gap colours where it has no pictures.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/form.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/themevalues.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

std::vector<unsigned int> pixelsOf(cPicture* p) {
    std::vector<unsigned int> v;
    if (!p) return v;
    v.assign(p->raw(), p->raw() + p->count());
    return v;
}

}  // namespace

TEST(ThemeValues, FormsPaintTheDefaultThemesFramePictures) {
    ASSERT_TRUE(cCITheme::setTheme(nullptr));
    ASSERT_EQ(setThemeValues(nullptr), nullptr);
    cThemeValues* values = currentThemeValues();
    int v, lo, hi;
    ASSERT_TRUE(values->dimension(0, v, lo, hi));
    EXPECT_EQ(v, 30);
    EXPECT_EQ(lo, 16);
    EXPECT_EQ(hi, 100);
    EXPECT_FALSE(values->dimension(25, v, lo, hi));
    EXPECT_EQ(values->color(0), 0xF3E5DFu);

    cTestWindowTarget win;
    cCustomForm form;
    win.bind(&form, 200, 150);
    cRecordingCanvas canvas(200, 150);
    form.processPaint(&canvas);
    // Frame picture sizes of the default theme: corners 5 x 30 above, 8 x 40
    // below; the top band is 30 high, the sides 5 wide, the bottom band 40.
    struct sPiece {
        int index;
        int x, y, w, h;
    };
    const sPiece want[] = {
        {0, 0, 0, 5, 30}, {2, 195, 0, 5, 30}, {1, 5, 0, 190, 30}, {5, 0, 110, 8, 40},
        {3, 0, 30, 5, 80}, {7, 192, 110, 8, 40}, {4, 195, 30, 5, 80}, {6, 8, 110, 184, 40},
    };
    std::vector<qortest::sDrawCall> bitmaps;
    for (const auto& c : canvas.calls)
        if (c.op == "bitmap") bitmaps.push_back(c);
    ASSERT_EQ(bitmaps.size(), 8u) << qortest::dumpCalls(canvas.calls);
    for (size_t i = 0; i < 8; ++i) {
        const sPiece& p = want[i];
        EXPECT_EQ(bitmaps[i].x, p.x) << i;
        EXPECT_EQ(bitmaps[i].y, p.y) << i;
        EXPECT_EQ(bitmaps[i].w, p.w) << i;
        EXPECT_EQ(bitmaps[i].h, p.h) << i;
        cPicture* pic = cCITheme::theme()->getPict(p.index);
        ASSERT_NE(pic, nullptr);
        EXPECT_EQ(bitmaps[i].pixels, pixelsOf(pic)) << "piece " << p.index;
    }
}

TEST(ThemeValues, FlatThemeFramesAreGapColoursAndAReplacedReaderWins) {
    ASSERT_TRUE(cCITheme::setTheme(gCI_Flat_Theme));
    setThemeValues(nullptr);
    {
        cTestWindowTarget win;
        cCustomForm form;
        win.bind(&form, 100, 90);
        cRecordingCanvas canvas(100, 90);
        form.drawSkin(&canvas, 0, 0);
        // Flat: top 31, sides 2, bottom 40; gap colours 1 and 3 white, 2 0xF3F3F3.
        EXPECT_EQ(qortest::dumpCalls(canvas.calls),
                  "rect 0,0,100,31 #16777215\nrect 0,31,2,19 #16777215\nrect 98,31,2,19 #16777215\n"
                  "rect 0,50,100,40 #15987699\n");
        sRect r;
        form.clientArea()->childRect(&r);
        EXPECT_EQ(r.x, 2);
        EXPECT_EQ(r.y, 31);
        EXPECT_EQ(r.w, 96);
        EXPECT_EQ(r.h, 19);
    }
    class cRed : public cThemeValues {
    public:
        unsigned int color(int) override { return 0x0000FF; }
    } red;
    EXPECT_EQ(setThemeValues(&red), nullptr);
    EXPECT_EQ(currentThemeValues()->color(1), 0x0000FFu);
    EXPECT_EQ(setThemeValues(nullptr), &red);
    EXPECT_EQ(currentThemeValues()->color(2), 0xF3F3F3u);
    cCITheme::setTheme(nullptr);
}
