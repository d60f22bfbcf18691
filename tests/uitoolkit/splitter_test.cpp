// Splitters and the column header: where the items land in both modes, how
// dragging moves the bars (tables of presses and moves), what the bars
// paint, and the column clicks and resize requests the header reports.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/header.h"
#include "uitoolkit/splitter.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

class cRecRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* r = dynamic_cast<cSplitterBase::cResizeRequestAction*>(a)) resizes.push_back(r->length);
        else if (auto* c = dynamic_cast<cHeaderChild::cColumnClickAction*>(a)) clicks.push_back(c->column);
        else if (a->code() == 7) ++layouts;
        return true;
    }
    std::vector<int> resizes, clicks;
    int layouts = 0;
};

class cBox : public cChildElement {};

template <typename S>
struct sFixture {
    sFixture(int w, int h) {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 1000, 600);
        root.attach(&sp, 0, 0, w, h);
    }
    sRect at(cChildElement* c) {
        sRect r;
        c->childRect(&r);
        return r;
    }
    cTestWindowTarget win;
    cRecRoot root;
    S sp;
};

// The scalable layout as the rule states it, computed from the stored fractions.
std::vector<int> scalableOracle(int W, int sw, const std::vector<double>& f) {
    double S = 0;
    for (double v : f) S += v;
    double scale = (W - (static_cast<int>(f.size()) - 1) * sw) / S;
    std::vector<int> xs;
    int x = 0;
    for (double v : f) {
        xs.push_back(x);
        x += static_cast<int>(v * scale) + sw;
    }
    return xs;
}

TEST(Splitter, FixedModeFollowsItsItemsAndFillsUpToTheMinimum) {
    sFixture<cSplitterChild> f(50, 20);
    cBox a, b, filler;
    f.sp.setScalable(false);
    f.sp.cChildElement::attach(&filler, 0, 0, 1, 1);
    f.sp.setMinSplittingSize(200, &filler);
    ASSERT_TRUE(f.sp.attach(1, &b, 60));
    ASSERT_TRUE(f.sp.attach(0, &a, 40));
    EXPECT_FALSE(f.sp.attach(-1, &a, 40));
    EXPECT_FALSE(f.sp.attach(2, nullptr, 40));
    f.win.drain();
    EXPECT_EQ(f.at(&a).x, 0);
    EXPECT_EQ(f.at(&b).x, 43);
    EXPECT_EQ(f.at(&b).w, 60);
    EXPECT_EQ(f.at(&filler).x, 106);
    EXPECT_EQ(f.at(&filler).w, 94);
    EXPECT_EQ(f.sp.width(), 200);
    EXPECT_EQ(f.root.resizes, (std::vector<int>{200}));
    EXPECT_EQ(f.root.layouts, 2);
    // Past the minimum the splitter grows with its items and the filler folds.
    ASSERT_TRUE(f.sp.resizeItem(1, 160));
    f.win.drain();
    EXPECT_EQ(f.sp.width(), 206);
    EXPECT_EQ(f.at(&filler).w, 0);
    EXPECT_EQ(f.root.resizes.back(), 206);
    EXPECT_EQ(f.sp.itemSize(1), 160);
    const size_t before = f.root.resizes.size();
    EXPECT_TRUE(f.sp.resizeItem(1, 160));  // unchanged: true, nothing moves
    EXPECT_FALSE(f.sp.resizeItem(1, -1));
    EXPECT_FALSE(f.sp.resizeItem(7, 10));
    f.win.drain();
    EXPECT_EQ(f.root.resizes.size(), before);
}

TEST(Splitter, ScalableModeSharesTheLengthAndRaisesItemsToTheirMinimum) {
    sFixture<cSplitterChild> f(403, 20);
    cBox a, b, c;
    ASSERT_TRUE(f.sp.attach(0, &a, 100));
    ASSERT_TRUE(f.sp.attach(1, &b, 100));
    b.setMinSize(150, 0);  // attaching resets an element's limits
    ASSERT_TRUE(f.sp.attach(2, &c, 100));
    const double third = 100.0 / 403;
    std::vector<int> xs = scalableOracle(403, 3, {third, third, third});
    double scale = (403 - 6) / (3 * third);
    // b is held at its minimum and its fraction raised; c is not shrunk.
    int bw = 150;
    EXPECT_EQ(f.at(&a).x, xs[0]);
    EXPECT_EQ(f.at(&b).x, xs[1]);
    EXPECT_EQ(f.at(&b).w, bw);
    EXPECT_EQ(f.at(&c).x, xs[1] + bw + 3);
    EXPECT_EQ(f.at(&c).w, static_cast<int>(third * scale));
    EXPECT_GT(f.at(&c).x + f.at(&c).w, 403);
    EXPECT_EQ(f.sp.itemSize(1), static_cast<int>(403 * (150 / scale)));
}

// Presses on the bar after item 0 and moves along; each row is the pointer
// x and the widths of the two neighbours that must result.
TEST(Splitter, ScalableDragKeepsBothNeighboursAboveTheirMinimums) {
    sFixture<cSplitterChild> f(303, 20);
    cBox a, b;
    f.sp.attach(0, &a, 150);
    f.sp.attach(1, &b, 150);
    a.setMinSize(30, 0);
    b.setMinSize(50, 0);
    f.win.drain();
    const int bar = f.at(&a).w;
    const int span = f.at(&a).w + f.at(&b).w;
    f.root.processMouseBtn(bar + 1, 5, 1, true, false, false);
    EXPECT_EQ(f.sp.draggedIndex(), 0);
    struct { int x; int wantA; } moves[] = {
        {100, 100}, {10, 30}, {290, span - 50}, {200, 200},
    };
    for (auto& m : moves) {
        f.root.processMouseMove(m.x, 5);
        EXPECT_NEAR(f.at(&a).w, m.wantA, 1) << m.x;
        EXPECT_GE(f.at(&b).w, 50 - 1) << m.x;
        EXPECT_NEAR(f.at(&a).w + f.at(&b).w, span, 1) << m.x;
    }
    f.root.processMouseBtn(200, 5, 1, false, false, false);
    EXPECT_EQ(f.sp.draggedIndex(), -1);
    f.win.drain();
    EXPECT_EQ(f.root.layouts, 2 + 4);
    // Locked: presses do not start a drag.
    f.sp.fix(true);
    f.root.processMouseBtn(f.at(&a).w + 1, 5, 1, true, false, false);
    EXPECT_EQ(f.sp.draggedIndex(), -1);
}

// Two neighbours whose minimums together exceed the pair's span: the bar
// must stay put instead of jumping past one of them.
TEST(Splitter, DragWhoseMinimumsExceedTheSpanLeavesTheBar) {
    sFixture<cSplitterChild> f(203, 20);
    cBox a, b;
    f.sp.attach(0, &a, 100);
    f.sp.attach(1, &b, 100);
    a.setMinSize(150, 0);
    b.setMinSize(150, 0);
    f.root.processMouseBtn(f.at(&a).w + 1, 5, 1, true, false, false);
    ASSERT_EQ(f.sp.draggedIndex(), 0);
    const int aw = f.at(&a).w, bw = f.at(&b).w;
    f.root.processMouseMove(f.at(&a).w + 40, 5);
    EXPECT_EQ(f.at(&a).w, aw);
    EXPECT_EQ(f.at(&b).w, bw);
}

TEST(Splitter, VerticalAttachBeforeItHasAHeightStoresAFiniteFraction) {
    sFixture<cVSplitterChild> f(100, 0);
    cBox a, b;
    ASSERT_TRUE(f.sp.attach(0, &a, 30));
    ASSERT_TRUE(f.sp.attach(1, &b, 30));
    f.sp.move(0, 0, 100, 203);
    const double fr = 30.0 / 100;
    std::vector<int> ys = scalableOracle(203, 3, {fr, fr});
    EXPECT_EQ(f.at(&a).y, ys[0]);
    EXPECT_EQ(f.at(&b).y, ys[1]);
    EXPECT_EQ(f.at(&a).h, 100);
    EXPECT_EQ(f.at(&a).w, 100);
    EXPECT_EQ(f.sp.itemSize(0), static_cast<int>(203 * fr));
}

// Sizes 500 and 100 in a 400-pixel stack keep their 5:1 proportion: the
// fractions are size / height, not capped at the height.
TEST(Splitter, VerticalAttachKeepsProportionsOfSizesBeyondItsHeight) {
    sFixture<cVSplitterChild> f(100, 400);
    cBox a, b;
    ASSERT_TRUE(f.sp.attach(0, &a, 500));
    ASSERT_TRUE(f.sp.attach(1, &b, 100));
    std::vector<int> ys = scalableOracle(400, 3, {500.0 / 400, 100.0 / 400});
    EXPECT_EQ(f.at(&a).y, ys[0]);
    EXPECT_EQ(f.at(&b).y, ys[1]);
    EXPECT_EQ(f.at(&a).h, ys[1] - 3);
    EXPECT_EQ(f.at(&b).h, static_cast<int>(100.0 / 400 * (397 / 1.5)));
    EXPECT_EQ(f.at(&a).h, 5 * f.at(&b).h);
}

TEST(Splitter, BarsPaintTrimmedCentreLines) {
    sFixture<cSplitterChild> f(100, 20);
    cBox a, b;
    f.sp.setScalable(false);
    f.sp.attach(0, &a, 30);
    f.sp.attach(1, &b, 40);
    f.sp.setSplitWidth(4);
    f.sp.setColors(0x111111, 0x222222);
    f.sp.setLineTrims(2, -5);
    qortest::cRecordingCanvas c;
    f.sp.onPaint(&c);
    std::string got;
    for (auto& k : c.calls)
        got += std::to_string(k.x) + "," + std::to_string(k.y) + "-" + std::to_string(k.w) + "," +
               std::to_string(k.h) + (k.color == 0x111111 ? "F " : "S ");
    // Bar after a at 30 (width 4: one column left of the centre, two right);
    // the bar after b at 74 lies inside the 78-pixel splitter as well.
    EXPECT_EQ(got,
              "30,0-30,20S 31,0-31,2S 31,2-31,20F 32,0-32,20S 33,0-33,20S "
              "74,0-74,20S 75,0-75,2S 75,2-75,20F 76,0-76,20S 77,0-77,20S ");
    f.sp.setLineTrims(10, 10);
    c.calls.clear();
    f.sp.onPaint(&c);
    EXPECT_TRUE(c.calls.empty());
}

TEST(Header, ColumnsLineUpByIdReportClicksAndWidenTheHeader) {
    sFixture<cHeaderChild> f(100, 20);
    f.sp.setMinButtonsWidth(300);
    ASSERT_TRUE(f.sp.setColumn(5, "Size", 80, cCanvas::taRight));
    ASSERT_TRUE(f.sp.setColumn(2, "Name", 120, cCanvas::taLeft));
    ASSERT_TRUE(f.sp.setColumn(2, nullptr, 150, cCanvas::taCenter));
    EXPECT_STREQ(f.sp.column(2)->text(), "Name");
    EXPECT_EQ(f.sp.columnAlign(2), cCanvas::taCenter);
    EXPECT_EQ(f.sp.columnWidth(2), 150);
    EXPECT_EQ(f.at(f.sp.column(2)).x, 0);
    EXPECT_EQ(f.at(f.sp.column(5)).x, 153);
    EXPECT_EQ(f.at(f.sp.filler()).x, 236);
    EXPECT_EQ(f.at(f.sp.filler()).w, 64);
    EXPECT_FALSE(f.sp.filler()->enabled_child());
    EXPECT_EQ(f.sp.width(), 300);
    EXPECT_EQ(f.sp.columnWidth(9), 0);
    ASSERT_TRUE(f.sp.setColumn(7, "Date", 200, cCanvas::taLeft));
    f.win.drain();
    EXPECT_EQ(f.sp.width(), 236 + 203);
    EXPECT_EQ(f.root.resizes.back(), 439);
    // A click on "Size" (press and release on the button).
    sRect r = f.at(f.sp.column(5));
    f.root.processMouseBtn(r.x + 5, 5, 1, true, false, false);
    f.root.processMouseBtn(r.x + 5, 5, 1, false, false, false);
    f.win.drain();
    EXPECT_EQ(f.root.clicks, (std::vector<int>{5}));
    // Dragging the bar after "Name" resizes it (fixed mode).
    f.root.processMouseBtn(151, 5, 1, true, false, false);
    f.root.processMouseMove(100, 5);
    f.root.processMouseBtn(100, 5, 1, false, false, false);
    EXPECT_EQ(f.sp.columnWidth(2), 100);
    EXPECT_EQ(f.at(f.sp.column(5)).x, 103);
}

}  // namespace
