// Painting a tree onto a recording canvas, compared call by call with the
// drawing a tree of that shape must produce, and the child found under a
// point.
#include "recordingcanvas.h"
#include "testwindow.h"

#include <gtest/gtest.h>

#include <sstream>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cBox : public cChildElement {
public:
    explicit cBox(unsigned int colour, bool buffered = false) : mColour(colour), mBuffered(buffered) {}
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, width(), height()};
        c->drawRect(&r, mColour, mColour);
    }
    bool wantDoubleBuffer() override { return mBuffered; }
    bool onBackgroundRequest(cCanvas* c, sRect* r) override {
        if (!mPaintsBackground) return false;
        asked = *r;
        sRect all{0, 0, c->width(), c->height()};
        c->drawRect(&all, mColour, mColour);
        return true;
    }
    bool onMouseButton(int x, int y, int, bool down) override {
        if (down) {
            std::ostringstream o;
            o << mColour << "@" << x << "," << y;
            *hits += (hits->empty() ? "" : " ") + o.str();
        }
        return true;
    }
    unsigned int mColour;
    bool mBuffered;
    bool mPaintsBackground = false;
    sRect asked{-1, -1, -1, -1};
    std::string* hits = nullptr;
};

// A content area scrolled by (-sx, -sy) inside a border of 5 pixels.
class cScroller : public cBox {
public:
    cScroller(int sx, int sy) : cBox(9), mSx(sx), mSy(sy) {}
    void virtualOffset(sPoint* p) override { *p = {-mSx, -mSy}; }
    void clientRect(sRect* r) override { *r = {5, 5, width() - 10, height() - 10}; }
    int mSx, mSy;
};


}  // namespace

TEST(ElementPaint, ChildrenPaintInAttachOrderOnTheirOwnSubCanvases) {
    cTestWindowTarget win;
    cBox root(1), a(2), b(3), c(4);
    win.bind(&root, 100, 80);
    root.attach(&b, 50, 10, 40, 40);  // attached first, so painted first
    root.attach(&a, 10, 10, 30, 20);
    b.attach(&c, 5, 5, 10, 10);
    cRecordingCanvas canvas(100, 80);
    canvas.recordRegions = true;
    root.processPaint(&canvas);
    const char* want =
        "clip 50,10,40,40\n"
        "clip 10,10,30,20\n"
        "select\n"
        "rect 0,0,100,80 #1\n"
        "select\n"
        "unclip 50,10,40,40\n"
        "select\n"
        "clip 55,15,10,10\n"
        "select\n"
        "rect 50,10,40,40 #3\n"
        "select\n"
        "unclip 55,15,10,10\n"
        "select\n"
        "select\n"
        "rect 55,15,10,10 #4\n"
        "select\n"
        "clip 55,15,10,10\n"
        "clip 50,10,40,40\n"
        "unclip 10,10,30,20\n"
        "select\n"
        "select\n"
        "rect 10,10,30,20 #2\n"
        "select\n"
        "clip 10,10,30,20\n";
    EXPECT_EQ(qortest::dumpCalls(canvas.calls), want);
    b.dettach(&c);
    root.dettach(&a);
    root.dettach(&b);
}

TEST(ElementPaint, ScrolledContentIsCutToTheClientArea) {
    cTestWindowTarget win;
    cBox root(1);
    cScroller s(20, 0);
    cBox inView(2), cut(3), gone(4), fixed(5);
    win.bind(&root, 200, 200);
    root.attach(&s, 0, 0, 100, 100);
    s.attach(&inView, 30, 10, 20, 20);  // shows at 10
    s.attach(&cut, 0, 40, 30, 20);      // shows at -20: cut at the client edge 5
    s.attach(&gone, 0, 70, 10, 10);     // entirely left of the client area
    s.attach(&fixed, 90, 0, 10, 100, cptFixed);
    cRecordingCanvas canvas(200, 200);
    root.processPaint(&canvas);
    EXPECT_EQ(qortest::dumpCalls(canvas.calls),
              "rect 0,0,200,200 #1\n"
              "rect 0,0,100,100 #9\n"
              "rect 10,10,20,20 #2\n"
              "rect -20,40,30,20 #3\n"
              "rect 90,0,10,100 #5\n");
    // A child scrolled wholly out of view asks for no repaint.
    win.repaints.clear();
    gone.repaint(nullptr);
    EXPECT_TRUE(win.repaints.empty());
    inView.repaint(nullptr);
    ASSERT_EQ(win.repaints.size(), 1u);
    EXPECT_EQ(win.repaints[0].left, 10);
    EXPECT_EQ(win.repaints[0].right, 30);
    root.dettach(&s);
}

TEST(ElementPaint, TransparentChildrenGetWhatLiesBehindThem) {
    cTestWindowTarget win;
    cBox root(1), panel(7), mid(0), leaf(0), bare(0);
    win.bind(&root, 200, 200);
    root.attach(&panel, 0, 0, 100, 100);
    panel.mPaintsBackground = true;
    panel.attach(&mid, 10, 10, 50, 50);
    mid.attach(&leaf, 5, 5, 20, 20);
    mid.setTransparent(true);
    leaf.setTransparent(true);
    root.attach(&bare, 150, 150, 10, 10);
    bare.setTransparent(true);
    root.setDefaultBackgroundColor(0xABCDEF12);
    cRecordingCanvas canvas(200, 200);
    leaf.processPaint(&canvas);
    EXPECT_EQ(panel.asked.x, 15);
    EXPECT_EQ(panel.asked.y, 15);
    EXPECT_EQ(panel.asked.w, 20);
    EXPECT_EQ(qortest::dumpCalls(canvas.calls), "rect 0,0,200,200 #7\nrect 0,0,20,20 #0\n");
    canvas.calls.clear();
    cRecordingCanvas small(10, 10);
    bare.processPaint(&small);
    // The low 24 bits of the colour are kept.
    EXPECT_EQ(qortest::dumpCalls(small.calls), "rect 0,0,10,10 #" + std::to_string(0xCDEF12) + "\nrect 0,0,10,10 #0\n");
    root.dettach(&panel);
    root.dettach(&bare);
}

TEST(ElementPaint, DoubleBufferedElementsPaintOffscreenOrDirectly) {
    for (bool allow : {true, false}) {
        cTestWindowTarget win;
        cBox root(1), buffered(2, true);
        win.bind(&root, 50, 50);
        root.attach(&buffered, 5, 5, 10, 10);
        cRecordingCanvas canvas(50, 50);
        canvas.allowOffscreen = allow;
        root.processPaint(&canvas);
        EXPECT_EQ(qortest::dumpCalls(canvas.calls), allow ? "rect 0,0,50,50 #1\noffscreen 5,5,10,10\nrect 5,5,10,10 #2\nblit 5,5,10,10\n"
                                            : "rect 0,0,50,50 #1\nrect 5,5,10,10 #2\n");
        root.dettach(&buffered);
    }
}

TEST(ElementPaint, ClicksGoToTheChildUnderThePoint) {
    cTestWindowTarget win;
    std::string hits;
    cBox root(1), a(2), under(3), disabled(4);
    cScroller s(20, 0);
    cBox scrolled(5);
    win.bind(&root, 100, 100);
    for (cBox* b : {&root, &a, &under, &disabled, static_cast<cBox*>(&s), &scrolled}) b->hits = &hits;
    root.attach(&a, 0, 0, 10, 10);
    root.attach(&disabled, 20, 0, 20, 20);
    root.attach(&under, 20, 0, 20, 20);  // below the disabled one
    root.attach(&s, 50, 50, 50, 50);
    s.attach(&scrolled, 30, 10, 10, 10);
    disabled.disable(false);
    struct sCase {
        int x, y;
        const char* want;
    };
    const sCase cases[] = {
        {0, 0, "2@0,0"},
        {9, 9, "2@9,9"},
        {10, 5, "1@10,5"},      // just past a's right edge
        {25, 5, "3@5,5"},       // the disabled child is passed over
        {61, 61, "5@1,1"},      // content x = 11 + 20 = 31
        {52, 61, "9@2,11"},     // in the scroller's border: no child
        {100, 100, "1@100,100"},  // the scroller's far corner is not inside it
        {101, 50, "1@101,50"},    // no child outside the root; the root still hears it
    };
    for (const sCase& c : cases) {
        hits.clear();
        root.processMouseBtn(c.x, c.y, 1, true, false, false);
        EXPECT_EQ(hits, c.want) << c.x << "," << c.y;
    }
    root.dettach(&a);
    root.dettach(&under);
    root.dettach(&disabled);
    root.dettach(&s);
}
