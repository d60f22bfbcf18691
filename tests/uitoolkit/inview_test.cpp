// A tree view line or a list view row scrolled into view shows whole: its
// selection frame is painted on all four edges, inside the border and clear
// of the scroll bars, with either bar, both or none.  Each case is rendered
// with the whole window and the frame is found by its colour alone; the
// visible area comes from the element's size, its 1-pixel border and the
// theme's bar thickness.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/themevalues.h"
#include "uitoolkit/treeview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using qortest::cTestWindowTarget;
typedef cTreeViewChild::cTreeViewItem tItem;

namespace {

// Never a theme colour, and the same read as 0xRRGGBB or as a canvas colour.
constexpr unsigned int kFrame = 0xC000C0;
constexpr int W = 200, H = 120;

struct sBox {
    int x = 0, y = 0, w = 0, h = 0;
};

// The bounding box of the pixels in the frame colour, and whether each of
// its four edges is painted in that colour along its whole length.
bool frameBox(const qortest::cRecordingCanvas& c, sBox& box, std::string& why) {
    int x0 = W, y0 = H, x1 = -1, y1 = -1;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (c.pixel(x, y) == kFrame) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) {
        why = "no frame painted";
        return false;
    }
    box = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    for (int x = x0; x <= x1; ++x)
        if (c.pixel(x, y0) != kFrame || c.pixel(x, y1) != kFrame) {
            why = "top or bottom edge broken at x " + std::to_string(x);
            return false;
        }
    for (int y = y0; y <= y1; ++y)
        if (c.pixel(x0, y) != kFrame || c.pixel(x1, y) != kFrame) {
            why = "left or right edge broken at y " + std::to_string(y);
            return false;
        }
    return true;
}

int barThickness() {
    int v = 0, lo = 0, hi = 0;
    currentThemeValues()->dimension(19, v, lo, hi);
    return v;
}

// Checks the frame against the size it must have and the area that shows:
// inside the 1-pixel border, above a horizontal bar, left of a vertical one
// and below `top` (the header's bottom).
void expectWhole(const qortest::cRecordingCanvas& c, cScrollableElement& e, int w, int h, int top) {
    sBox b;
    std::string why;
    ASSERT_TRUE(frameBox(c, b, why)) << why;
    EXPECT_EQ(b.w, w) << "frame cut at the side";
    EXPECT_EQ(b.h, h) << "frame cut at the top or bottom";
    const int T = barThickness();
    const int right = W - 1 - (e.vbar()->visible_child() ? T : 0);
    const int bottom = H - 1 - (e.hbar()->visible_child() ? T : 0);
    EXPECT_GE(b.x, 1);
    EXPECT_GE(b.y, top);
    EXPECT_LE(b.x + b.w, right);
    EXPECT_LE(b.y + b.h, bottom);
}

struct sCase {
    const char* what;
    int count;       // lines or rows
    bool wide;       // one line long enough (or columns wide enough) for a horizontal bar
    bool header;     // list views: the header shown
    int target;      // the line or row scrolled to
    bool atEnd;      // both bars moved to their ends first
    bool vbar, hbar; // the bars expected
};

const sCase kCases[] = {
    {"no bars, the last", 3, false, true, 2, false, false, false},
    {"no bars, the first", 3, false, true, 0, false, false, false},
    {"no bars and no header, the first", 3, false, false, 0, false, false, false},
    {"vertical bar, the last", 20, false, true, 19, false, true, false},
    {"both bars, the last", 20, true, true, 19, false, true, true},
    {"both bars, the first after the view was at the end", 20, true, true, 0, true, true, true},
    {"both bars, one in the middle after the view was at the end", 20, true, true, 9, true, true, true},
    {"horizontal bar only, the first after the view was scrolled right", 3, true, true, 0, true, false, true},
};

void moveToEnds(cScrollableElement& e, cTestWindowTarget& win) {
    e.scrollMaxX();
    e.scrollMaxY();
    win.drain();
}

class cTree : public cTreeViewChild {
public:
    tItem* add(const char* text) {
        auto* i = new tItem;
        i->text.set(text);
        storeUnder(nullptr, i, nullptr);
        return i;
    }
};

TEST(ScrolledIntoView, TreeViewLinesShowWholeWithTheirFrame) {
    qortest::cFixedFont::install();
    cCITheme::setTheme(gCI_Flat_Theme);
    for (const sCase& k : kCases) {
        if (!k.header) continue;  // tree views have none
        SCOPED_TRACE(k.what);
        cTestWindowTarget win;
        cChildElement root;
        cTree tree;
        win.bind(&root, 800, 600);
        root.attach(&tree, 0, 0, W, H);
        tree.setUnfocusedColors(0x000000, 0xFFFFFF, kFrame);
        std::vector<tItem*> items;
        for (int i = 0; i < k.count; ++i) {
            // A long sibling far from the target makes the horizontal bar.
            const bool longOne = k.wide && i == (k.target ? 0 : k.count - 1);
            items.push_back(tree.add(longOne ? std::string(60, 'w').c_str() : ("line " + std::to_string(i)).c_str()));
        }
        win.drain();
        if (k.atEnd) moveToEnds(tree, win);
        ASSERT_TRUE(tree.select(items[k.target], false));
        win.drain();
        EXPECT_EQ(tree.vbar()->visible_child(), k.vbar);
        EXPECT_EQ(tree.hbar()->visible_child(), k.hbar);
        qortest::cRecordingCanvas canvas(W, H);
        canvas.paintPixels(0x123456);
        win.root->processPaint(&canvas);
        sRect r;
        items[k.target]->element->childRect(&r);
        expectWhole(canvas, tree, r.w, r.h, 1);
    }
}

TEST(ScrolledIntoView, ListViewRowsShowWholeWithTheirFrame) {
    qortest::cFixedFont::install();
    cCITheme::setTheme(gCI_Flat_Theme);
    for (const sCase& k : kCases) {
        SCOPED_TRACE(k.what);
        cTestWindowTarget win;
        cChildElement root;
        cListViewChild lv;
        win.bind(&root, 800, 600);
        root.attach(&lv, 0, 0, W, H);
        const int first = k.wide ? 150 : 80, second = k.wide ? 150 : 60;
        lv.setColumn(1, "Name", first, cCanvas::taLeft);
        lv.setColumn(2, "Size", second, cCanvas::taRight);
        lv.setColorSchemaFocusedActive(0x000000, 0xFFFFFF, kFrame, false);
        lv.setColorSchemaFocusedInactive(0x000000, 0xFFFFFF, kFrame, false);
        if (!k.header) lv.showHeader(false);
        for (int i = 0; i < k.count; ++i) {
            lv.setItem(i, 1, ("row " + std::to_string(i)).c_str(), -1, nullptr);
            lv.setItem(i, 2, std::to_string(i).c_str(), -1, nullptr);
        }
        win.drain();
        if (k.atEnd) moveToEnds(lv, win);
        ASSERT_TRUE(lv.select(k.target));
        win.drain();
        EXPECT_EQ(lv.vbar()->visible_child(), k.vbar);
        EXPECT_EQ(lv.hbar()->visible_child(), k.hbar);
        qortest::cRecordingCanvas canvas(W, H);
        canvas.paintPixels(0x123456);
        win.root->processPaint(&canvas);
        // The frame goes round the first cell: the column's width by the
        // row's height (the 13-pixel font plus 4), below the header.
        expectWhole(canvas, lv, first, 17, 1 + (k.header ? lv.header()->height() : 0));
    }
}

}  // namespace
