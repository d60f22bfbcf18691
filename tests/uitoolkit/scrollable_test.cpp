// Scrollable elements on the flat theme (bars 15 thick): which bars a
// minimum visual size brings, where they sit, how bars, wheel, keys and
// focus move the content, and the corner square between two bars.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/scrollable.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cProbe : public cChildElement {
public:
    bool wantTabStop() override { return true; }
    bool onMouseButton(int x, int y, int, bool down) override {
        if (down) hits.push_back({x, y});
        return true;
    }
    std::vector<sPoint> hits;
};

struct sFixture {
    sFixture() {
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 300, 200);
        root.attach(&s, 0, 0, 100, 80);
    }
    cTestWindowTarget win;
    cChildElement root;
    cScrollableElement s;
};

sRect rectOf(cChildElement* parent, cChildElement* c) {
    sRect r{-1, -1, -1, -1};
    parent->childRect(c, &r);
    return r;
}

}  // namespace

TEST(ScrollableElement, BarsFollowTheMinimumVisualSize) {
    struct sCase {
        int minW, minH;
        bool h, v;
        sRect hr, vr;   // bar places when shown
        int clientW, clientH;
        unsigned long long hmax, vmax;
    };
    const sCase cases[] = {
        {0, 0, false, false, {}, {}, 100, 80, 0, 0},
        {100, 80, false, false, {}, {}, 100, 80, 0, 0},
        {101, 0, true, false, {0, 65, 100, 15}, {}, 100, 65, 1, 0},
        {300, 65, true, false, {0, 65, 100, 15}, {}, 100, 65, 200, 0},
        {101, 70, true, true, {0, 65, 85, 15}, {85, 0, 15, 65}, 85, 65, 16, 5},
        {0, 200, false, true, {}, {85, 0, 15, 80}, 85, 80, 0, 120},
        {85, 200, false, true, {}, {85, 0, 15, 80}, 85, 80, 0, 120},
        {90, 200, true, true, {0, 65, 85, 15}, {85, 0, 15, 65}, 85, 65, 5, 135},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.s.setMinVisualWidth(c.minW);
        f.s.setMinVisualHeight(c.minH);
        const std::string name = std::to_string(c.minW) + "x" + std::to_string(c.minH);
        EXPECT_EQ(f.s.hbar()->visible_child(), c.h) << name;
        EXPECT_EQ(f.s.vbar()->visible_child(), c.v) << name;
        if (c.h) {
            sRect r = rectOf(&f.s, f.s.hbar());
            EXPECT_EQ(r.x, c.hr.x) << name;
            EXPECT_EQ(r.y, c.hr.y) << name;
            EXPECT_EQ(r.w, c.hr.w) << name;
            EXPECT_EQ(r.h, c.hr.h) << name;
            EXPECT_EQ(f.s.hbar()->maxval(), c.hmax) << name;
            EXPECT_EQ(f.s.getHScrollRes(), 15);
        }
        if (c.v) {
            sRect r = rectOf(&f.s, f.s.vbar());
            EXPECT_EQ(r.x, c.vr.x) << name;
            EXPECT_EQ(r.y, c.vr.y) << name;
            EXPECT_EQ(r.w, c.vr.w) << name;
            EXPECT_EQ(r.h, c.vr.h) << name;
            EXPECT_EQ(f.s.vbar()->maxval(), c.vmax) << name;
        }
        sRect client;
        f.s.clientRect(&client);
        EXPECT_EQ(client.w, c.clientW) << name;
        EXPECT_EQ(client.h, c.clientH) << name;
        sSize vs;
        f.s.virtualSize(&vs);
        EXPECT_EQ(vs.w, std::max(c.clientW, c.minW)) << name;
        EXPECT_EQ(vs.h, std::max(c.clientH, c.minH)) << name;
        // Growing the element past the minimum hides every bar again.
        f.s.move(0, 0, 400, 300);
        EXPECT_FALSE(f.s.hbar()->visible_child()) << name;
        EXPECT_FALSE(f.s.vbar()->visible_child()) << name;
        EXPECT_EQ(f.s.shiftX(), 0);
    }
}

TEST(ScrollableElement, BarsWheelAndKeysShiftTheContent) {
    sFixture f;
    cProbe child;
    f.s.attach(&child, 250, 10, 20, 20);
    f.s.setMinVisualWidth(300);
    f.s.setMinVisualHeight(200);
    ASSERT_TRUE(f.s.hbar()->visible_child());
    // The end key on the horizontal bar: shift 215 (300 - 85).
    f.s.hbar()->onKey(0x157, false, false, false);
    f.win.drain();
    EXPECT_EQ(f.s.shiftX(), 215);
    sPoint off;
    f.s.virtualOffset(&off);
    EXPECT_EQ(off.x, -215);
    // The child (content x 250..269) now shows at 35..54.
    f.root.processMouseBtn(40, 15, 1, true, false, false);
    f.root.processMouseBtn(40, 15, 1, false, false, false);
    ASSERT_EQ(child.hits.size(), 1u);
    EXPECT_EQ(child.hits[0].x, 5);
    EXPECT_EQ(child.hits[0].y, 5);
    // A position above the bar's maximum changes nothing.
    cScrollBarBase::cScrollAction tooFar(9999);
    EXPECT_TRUE(f.s.onAction(f.s.hbar(), &tooFar));
    EXPECT_EQ(f.s.shiftX(), 215);
    // The wheel: 3 steps of 7 down, then 5 up (clamped at 0); horizontal too.
    f.s.setQuantumSize(4, 7);
    struct sWheel {
        bool up, horizontal;
        int amount;
        int sx, sy;
    };
    const sWheel wheel[] = {{false, false, 3, 215, 21}, {true, false, 5, 215, 0}, {true, true, 2, 207, 0},
                            {false, true, 100, 215, 0}};
    for (const sWheel& w : wheel) {
        EXPECT_TRUE(f.s.onMouseWheel(10, 10, w.up, w.horizontal, w.amount));
        f.win.drain();
        EXPECT_EQ(f.s.shiftX(), w.sx);
        EXPECT_EQ(f.s.shiftY(), w.sy);
    }
    f.s.scrollMaxY();
    f.win.drain();
    EXPECT_EQ(f.s.shiftY(), 135);
    f.s.scrollMinX();
    f.win.drain();
    EXPECT_EQ(f.s.shiftX(), 0);
    // Without a vertical bar the wheel is still handled and moves nothing.
    f.s.setMinVisualHeight(0);
    f.s.setMinVisualWidth(0);
    EXPECT_TRUE(f.s.onMouseWheel(10, 10, false, false, 3));
    f.win.drain();
    EXPECT_EQ(f.s.shiftY(), 0);
    f.s.dettach(&child);
}

TEST(ScrollableElement, FocusScrollsAChildIntoViewOnce) {
    // Both bars: the view is 85 x 65.  A child at y 200..229 scrolls by
    // exactly 165 so that its bottom meets the view's bottom.
    struct sCase {
        sRect child;
        bool pinX, pinY;
        int sx, sy;
    };
    const sCase cases[] = {
        {{10, 200, 20, 30}, false, false, 0, 165},
        {{10, 200, 20, 30}, false, true, 0, 0},
        {{150, 10, 40, 20}, false, false, 105, 0},
        {{150, 10, 40, 20}, true, false, 0, 0},
        {{10, 10, 20, 20}, false, false, 0, 0},
        {{150, 250, 40, 40}, false, false, 105, 225},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.s.setMinVisualWidth(200);
        f.s.setMinVisualHeight(300);
        cProbe child;
        f.s.attach(&child, c.child.x, c.child.y, c.child.w, c.child.h);
        if (c.pinX || c.pinY) f.s.pinChild(&child, c.pinX, c.pinY);
        child.focus();
        f.win.drain();
        f.win.drain();
        EXPECT_EQ(f.s.shiftX(), c.sx) << c.child.x << "," << c.child.y;
        EXPECT_EQ(f.s.shiftY(), c.sy) << c.child.x << "," << c.child.y;
        // A second request changes nothing: the child is in view.
        sRect r{c.child.x, c.child.y, c.child.w, c.child.h};
        EXPECT_FALSE(f.s.adjustScrollTo(r, c.pinX, c.pinY));
        f.s.dettach(&child);
    }
}

// Requests in a row, before the bars' actions are drained (as a tree opened
// level by level makes them): each builds on where the bars already are, so
// the last child asked for ends in view, not past it.
TEST(ScrollableElement, ScrollRequestsInARowEndOnTheLastChild) {
    sFixture f;
    f.s.setMinVisualWidth(200);
    f.s.setMinVisualHeight(1000);
    cProbe a, b, c;
    f.s.attach(&a, 10, 300, 20, 20);
    f.s.attach(&b, 10, 600, 20, 20);
    f.s.attach(&c, 10, 620, 20, 20);
    f.s.scrollToChild(&a);
    f.s.scrollToChild(&b);
    f.s.scrollToChild(&c);
    f.win.drain();
    // The view is 65 high: c's bottom (640) meets the view's bottom.
    EXPECT_EQ(f.s.shiftY(), 640 - 65);
    EXPECT_EQ(f.s.vbar()->pos(), 640u - 65u);
}

TEST(ScrollableElement, CornerBetweenTwoBarsIsKeptFromTheContent) {
    class cArea : public cScrollableElement {
    public:
        void onPaintArea(cCanvas* c) override {
            sRect r{0, 0, 1000, 1000};
            c->drawRect(&r, 0x112233, 0x112233);
        }
    };
    cCITheme::setTheme(gCI_Flat_Theme);
    cTestWindowTarget win;
    cChildElement root;
    win.bind(&root, 300, 200);
    cArea a;
    root.attach(&a, 0, 0, 100, 80);
    a.setMinVisualWidth(200);
    cRecordingCanvas one(100, 80);
    one.recordRegions = true;
    a.onPaint(&one);
    EXPECT_EQ(qortest::dumpCalls(one.calls), "rect 0,0,1000,1000 #1122867\n");
    a.setMinVisualHeight(200);
    cRecordingCanvas two(100, 80);
    two.recordRegions = true;
    a.onPaint(&two);
    // The flat theme's corner has no pixels: colour 14 fills it.
    EXPECT_EQ(qortest::dumpCalls(two.calls),
              "clip 85,65,15,15\nselect\nrect 0,0,1000,1000 #1122867\nunclip 85,65,15,15\nselect\n"
              "rect 85,65,15,15 #16777215\n");
    root.dettach(&a);
}
