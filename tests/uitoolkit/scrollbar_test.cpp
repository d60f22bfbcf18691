// Scroll bars driven by tables of pointer and key events on the flat theme:
// bar thickness 15, medium layout up to 30, arrow halves up to 48, thumb at
// least 12; arrows 15 long, the divider 1 (2 on the vertical bar), no end cap
// and no thumb end pieces.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/scrollbar.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cActionRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* s = dynamic_cast<cScrollBarBase::cScrollAction*>(a)) positions.push_back(s->position);
        return true;
    }
    std::vector<unsigned long long> positions;
};

struct sEvent {
    char kind;  // d down, u up, m move, k key
    int a, b;   // x, y (or the key)
};

struct sFixture {
    explicit sFixture(int w = 200) {
        // Bars take their pictures from the theme once per process.
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 300, 300);
        root.attach(&h, 0, 0, w, 15);
        root.attach(&v, 280, 20, 15, w);
    }
    void run(const std::vector<sEvent>& events, cChildElement* keysTo) {
        for (const sEvent& e : events) {
            if (e.kind == 'd') root.processMouseBtn(e.a, e.b, 1, true, false, false);
            if (e.kind == 'u') root.processMouseBtn(e.a, e.b, 1, false, false, false);
            if (e.kind == 'm') root.processMouseMove(e.a, e.b);
            if (e.kind == 'k') keysTo->onKey(e.a, false, false, false);
        }
        win.drain();
    }
    cTestWindowTarget win;
    cActionRoot root;
    cHScroll h;
    cVScroll v;
};

}  // namespace

TEST(ScrollBar, PointerAndKeyTables) {
    // Width 200: track 0..158, back arrow 159..178 with its strip, divider
    // 179, forward arrow 180..199.  Maximum 100: thumb 97 long, 1.6129
    // positions a pixel.
    struct sCase {
        const char* name;
        unsigned long long start;
        std::vector<sEvent> events;
        unsigned long long pos;
        std::vector<unsigned long long> actions;
    };
    const sCase cases[] = {
        {"forward arrow", 0, {{'d', 190, 7}, {'u', 190, 7}}, 1, {1}},
        {"forward strip", 0, {{'d', 181, 7}, {'u', 182, 7}}, 1, {1}},
        {"divider does nothing", 5, {{'d', 179, 7}, {'u', 179, 7}}, 5, {}},
        {"back arrow at 0", 0, {{'d', 165, 7}, {'u', 165, 7}}, 0, {}},
        {"back strip", 5, {{'d', 176, 7}, {'u', 176, 7}}, 4, {4}},
        {"forward pressed, released on the track", 0, {{'d', 190, 7}, {'u', 120, 7}}, 0, {}},
        {"released off the bar", 0, {{'d', 190, 7}, {'u', 190, 16}}, 0, {}},
        {"page forward", 0, {{'d', 120, 7}, {'u', 120, 7}}, 10, {10}},
        {"page back", 50, {{'d', 5, 7}, {'u', 5, 7}}, 40, {40}},
        {"page at the end", 95, {{'d', 5, 7}, {'u', 5, 7}, {'k', 0x156, 0}}, 95, {85, 95}},
        {"drag right", 0, {{'d', 50, 7}, {'m', 60, 7}, {'u', 60, 7}}, 16, {16}},
        // Start 50: thumb from 31; 10 pixels back is -15.87 positions.
        {"drag left", 50, {{'d', 40, 7}, {'m', 30, 7}, {'u', 30, 7}}, 35, {35}},
        {"drag far left", 50, {{'d', 40, 7}, {'m', -500, 7}, {'u', -500, 7}}, 0, {0}},
        {"drag far right", 50, {{'d', 40, 7}, {'m', 900, 7}, {'u', 901, 7}}, 100, {100}},
        {"keys", 0, {{'k', 0x157, 0}, {'k', 0x151, 0}, {'k', 0x155, 0}, {'k', 0x150, 0}, {'k', 0x154, 0}},
         1, {100, 99, 89, 0, 1}},
        {"home at 0", 0, {{'k', 0x150, 0}, {'k', 0x152, 0}}, 0, {}},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.h.setPos(c.start);
        f.win.drain();
        f.root.positions.clear();
        f.run(c.events, &f.h);
        EXPECT_EQ(f.h.pos(), c.pos) << c.name;
        EXPECT_EQ(f.root.positions, c.actions) << c.name;
        EXPECT_EQ(f.root.captureChild(), nullptr) << c.name;
    }
}

TEST(ScrollBar, HitsLookAndPaintOfTheLayouts) {
    sFixture f;
    const int want[][2] = {{0, 3}, {96, 3}, {97, 2}, {158, 2}, {159, 4}, {178, 4}, {179, 0}, {180, 5}, {199, 5}};
    for (auto& w : want) EXPECT_EQ(f.h.hit(w[0]), w[1]) << w[0];
    cRecordingCanvas canvas(200, 15);
    f.h.onPaint(&canvas);
    EXPECT_EQ(qortest::dumpCalls(canvas.calls),
              "bitmap 185,0,15,15\nbitmap 180,0,5,15\nbitmap 179,0,1,15\nbitmap 174,0,5,15\n"
              "bitmap 159,0,15,15\nbitmap 0,0,159,15\nbitmap 0,0,97,15\n");
    EXPECT_EQ(canvas.calls[0].pixels.size(), 15u * 15u);
    // Hover then press change the pictures of the part.
    f.root.processMouseMove(190, 7);
    EXPECT_EQ(f.h.forwardArrowState(), 1);
    EXPECT_EQ(f.h.image(cScrollBarBase::seForwardArrow), cCITheme::theme()->getPict(104));
    f.root.processMouseBtn(190, 7, 1, true, false, false);
    EXPECT_EQ(f.h.image(cScrollBarBase::seForwardArrow), cCITheme::theme()->getPict(105));
    f.root.processMouseBtn(190, 7, 1, false, false, false);
    f.root.processMouseMove(120, 7);
    EXPECT_EQ(f.h.forwardArrowState(), 0);
    EXPECT_EQ(f.h.trackState(), 1);

    // Up to 48 long: two arrow halves.
    sFixture small(40);
    small.h.setPos(5);
    small.run({{'d', 5, 7}, {'u', 5, 7}, {'d', 30, 7}, {'u', 30, 7}, {'d', 30, 7}, {'u', 30, 7}}, &small.h);
    EXPECT_EQ(small.h.pos(), 6u);
    // Vertical: the same along y.
    small.v.setPos(3, false);
    small.run({{'d', 285, 22}, {'u', 285, 22}}, &small.v);
    EXPECT_EQ(small.v.pos(), 2u);
    cRecordingCanvas medium(15, 40);
    small.v.onPaint(&medium);
    // Medium layout (30 < 40 <= 48): arrows at both ends, the strips between.
    EXPECT_EQ(qortest::dumpCalls(medium.calls), "bitmap 0,0,15,15\nbitmap 0,25,15,15\nbitmap 0,15,15,5\nbitmap 0,20,15,5\n");
}

TEST(ScrollBar, MaximumAndPositionRules) {
    sFixture f;
    EXPECT_EQ(f.h.maxval(), 100u);
    EXPECT_EQ(f.h.pos(), 0u);
    EXPECT_EQ(f.h.valQuantum(), 1u);
    EXPECT_EQ(f.h.pageQuantum(), 10u);
    f.h.setPos(80);
    f.h.setMax(50);
    EXPECT_EQ(f.h.pos(), 50u);
    f.h.setMax(0);
    EXPECT_EQ(f.h.maxval(), 50u);
    f.h.setPos(70);
    EXPECT_EQ(f.h.pos(), 50u);
    f.h.setPageQuantum(0);
    f.h.setValQuantum(0);
    EXPECT_EQ(f.h.pageQuantum(), 10u);
    f.v.setPos(5, false);
    f.win.drain();
    EXPECT_EQ(f.root.positions, (std::vector<unsigned long long>{80, 50}));
    f.root.positions.clear();
    f.v.setMax(0);
    EXPECT_EQ(f.v.maxval(), 0u);
    EXPECT_EQ(f.v.pos(), 0u);
    f.win.drain();
    EXPECT_EQ(f.root.positions, std::vector<unsigned long long>{0});
    // A maximum of 0: the thumb fills the track (200 - 42 long) and
    // painting and hitting stay defined.
    int start = -1, len = -1;
    ASSERT_TRUE(f.v.thumb(start, len));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(len, 158);
    cRecordingCanvas canvas(15, 200);
    f.v.onPaint(&canvas);
    EXPECT_EQ(f.v.hit(100), cScrollBarBase::hThumb);
    f.run({{'d', 285, 100}, {'m', 285, 150}, {'u', 285, 150}}, &f.v);
    EXPECT_EQ(f.v.pos(), 0u);
    // Huge maxima: 64-bit positions, no wrap.
    f.h.setMax(0xFFFFFFFFFFull);
    f.h.setPos(0xFFFFFFFFF0ull);
    f.run({{'k', 0x156, 0}, {'k', 0x156, 0}}, &f.h);
    EXPECT_EQ(f.h.pos(), 0xFFFFFFFFFFull);
    f.run({{'d', 150, 7}, {'m', 140, 7}, {'u', 140, 7}}, &f.h);
    EXPECT_LT(f.h.pos(), 0xFFFFFFFFFFull);
    EXPECT_GT(f.h.pos(), 0xE000000000ull);
}
