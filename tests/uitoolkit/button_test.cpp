// Push buttons driven by tables of pointer and key events: the clicks they
// report, the looks they take, the frames and fills they paint and the size
// they ask for.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/button.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cClickRoot : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a->code() == 0) clicks.push_back(src);
        return true;
    }
    std::vector<cChildElement*> clicks;
};

struct sEvent {
    char kind;   // 'd' down, 'u' up, 'm' move, 'k' key, 'x' disable, 'e' enable
    int x, y;    // window coordinates; for 'k' x is the key; for d/u y may carry button in b
    int button;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 200, 100);
        root.attach(&button, 10, 10, 60, 20);
        root.attach(&other, 100, 10, 60, 20);
    }
    void run(const std::vector<sEvent>& events, cChildElement* target) {
        for (const sEvent& e : events) {
            switch (e.kind) {
                case 'd': root.processMouseBtn(e.x, e.y, e.button, true, false, false); break;
                case 'u': root.processMouseBtn(e.x, e.y, e.button, false, false, false); break;
                case 'm': root.processMouseMove(e.x, e.y); break;
                case 'k': target->onKey(e.x, false, false, false); break;
                case 'x': target->disable(false); break;
                case 'e': target->enable(); break;
            }
        }
        win.drain();
    }
    cTestWindowTarget win;
    cClickRoot root;
    cButtonChild button;
    cGenButtonChild other;
};

}  // namespace

TEST(PushButton, ClicksFromPointerAndKeys) {
    struct sCase {
        const char* name;
        std::vector<sEvent> events;
        int clicks;
        bool pressedAfter;
    };
    const sCase cases[] = {
        {"click inside", {{'d', 20, 15, 1}, {'u', 25, 18, 1}}, 1, false},
        {"release outside cancels", {{'d', 20, 15, 1}, {'m', 90, 50, 0}, {'u', 90, 50, 1}}, 0, false},
        {"right button", {{'d', 20, 15, 2}, {'u', 20, 15, 2}}, 0, false},
        {"pressed only", {{'d', 20, 15, 1}}, 0, true},
        {"disabled", {{'x', 0, 0, 0}, {'d', 20, 15, 1}, {'u', 20, 15, 1}}, 0, false},
        {"space", {{'k', 0x20, 0, 0}}, 1, false},
        {"keypad enter", {{'k', 0x18D, 0, 0}}, 1, false},
        {"main enter is not a click", {{'k', 0x10D, 0, 0}}, 0, false},
        {"two clicks", {{'d', 20, 15, 1}, {'u', 20, 15, 1}, {'d', 69, 29, 1}, {'u', 69, 29, 1}}, 2, false},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.run(c.events, &f.button);
        EXPECT_EQ(static_cast<int>(f.root.clicks.size()), c.clicks) << c.name;
        for (auto* s : f.root.clicks) EXPECT_EQ(s, &f.button) << c.name;
        EXPECT_EQ(f.button.pressed(), c.pressedAfter) << c.name;
    }
}

TEST(PushButton, DisabledDuringAPressGivesThePointerBack) {
    for (bool gen : {false, true}) {
        sFixture f;
        cChildElement* b = gen ? static_cast<cChildElement*>(&f.other) : &f.button;
        const int x = gen ? 110 : 20;
        f.root.processMouseBtn(x, 15, 1, true, false, false);
        ASSERT_FALSE(f.win.captures.empty());
        ASSERT_TRUE(f.win.captures.back());
        b->disable(false);
        EXPECT_FALSE(f.win.captures.back()) << gen;
        EXPECT_EQ(f.root.captureChild(), nullptr) << gen;
        // The other control now gets its own click.
        cChildElement* target = gen ? static_cast<cChildElement*>(&f.button) : &f.other;
        const int tx = gen ? 20 : 110;
        f.root.processMouseBtn(x, 15, 1, false, false, false);
        f.root.processMouseBtn(tx, 15, 1, true, false, false);
        f.root.processMouseBtn(tx, 15, 1, false, false, false);
        f.win.drain();
        ASSERT_EQ(f.root.clicks.size(), 1u) << gen;
        EXPECT_EQ(f.root.clicks[0], target);
    }
}

TEST(PushButton, StatesAndGenericActivation) {
    sFixture f;
    EXPECT_EQ(f.button.state(), cButtonChild::bsNormal);
    f.root.processMouseMove(20, 15);
    EXPECT_EQ(f.button.state(), cButtonChild::bsHover);
    f.root.processMouseBtn(20, 15, 1, true, false, false);
    EXPECT_EQ(f.button.state(), cButtonChild::bsPressed);
    f.root.processMouseBtn(20, 15, 1, false, false, false);
    f.root.processMouseMove(190, 90);
    f.button.focus();
    f.win.drain();
    EXPECT_EQ(f.button.state(), cButtonChild::bsFocused);
    f.button.disable(false);
    EXPECT_EQ(f.button.state(), cButtonChild::bsDisabled);

    f.other.setActivated(true, false);
    f.run({{'d', 110, 15, 1}, {'u', 110, 15, 1}, {'k', 0x20, 0, 0}, {'k', 0x18D, 0, 0}}, &f.other);
    EXPECT_TRUE(f.root.clicks.size() == 1u);  // the button's own click above
    f.other.setActivated(false, false);
    f.run({{'d', 110, 15, 1}, {'u', 110, 15, 1}, {'k', 0x20, 0, 0}}, &f.other);
    EXPECT_EQ(f.root.clicks.size(), 3u);
}

TEST(PushButton, FramesFillsAndPictures) {
    sFixture f;
    cButtonChild& b = f.button;
    const cCITheme* t = cCITheme::theme();
    // Raised frame: outer lines in the state's first and second colours,
    // inner lines in colour 52, then the state's background picture.
    {
        cRecordingCanvas canvas(60, 20);
        b.onPaint(&canvas);
        std::vector<qortest::sDrawCall> lines;
        for (auto& c : canvas.calls)
            if (c.op == "line") lines.push_back(c);
        ASSERT_EQ(lines.size(), 8u);
        const unsigned int want[8] = {t->getColor(53), t->getColor(53), t->getColor(54), t->getColor(54),
                                      t->getColor(52), t->getColor(52), t->getColor(52), t->getColor(52)};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(lines[i].color, want[i]) << i;
        EXPECT_EQ(lines[2].x, 59);
        EXPECT_EQ(lines[2].y, 19);
    }
    // Second colour only: the first stays; a state of 5 changes nothing.
    b.setBorderColors(0, 0xFFFFFFFFu, 0x123456);
    b.setBorderColors(5, 0x111111, 0x222222);
    {
        cRecordingCanvas canvas(60, 20);
        b.onPaint(&canvas);
        EXPECT_EQ(canvas.calls[0].color, t->getColor(53));
        EXPECT_EQ(canvas.calls[2].color, 0x123456u);
    }
    // Style 4, disabled, no disabled background: halfway towards grey.
    b.setBorder(cButtonChild::bdSingleFilled, false);
    struct sFill {
        unsigned int bg, want;
    };
    for (sFill s : {sFill{0x000000, 0x404040}, sFill{0xFFFFFF, 0xBFBFBF}, sFill{0x80FF01, 0x80BF41}}) {
        b.setBgColor(s.bg, false);
        b.disable(false);
        cRecordingCanvas canvas(60, 20);
        b.onPaint(&canvas);
        bool found = false;
        for (auto& c : canvas.calls)
            if (c.op == "rect") {
                EXPECT_EQ(c.fill, s.want) << std::hex << s.bg;
                EXPECT_EQ(c.x, 1);
                EXPECT_EQ(c.w, 58);
                found = true;
            }
        EXPECT_TRUE(found);
        b.enable();
    }
    // A transparent button draws no frame until hovered.
    b.setBorder(cButtonChild::bdSingle, false);
    b.setTransparent(true);
    {
        cRecordingCanvas canvas(60, 20);
        b.onPaint(&canvas);
        for (auto& c : canvas.calls) EXPECT_NE(c.op, "line");
        f.root.processMouseMove(20, 15);
        cRecordingCanvas hovered(60, 20);
        b.onPaint(&hovered);
        int lines = 0;
        for (auto& c : hovered.calls) lines += c.op == "line";
        EXPECT_EQ(lines, 4);
    }
    // A null stored background picture falls back to the theme's.
    b.refStateBackImage(0, nullptr);
    EXPECT_EQ(b.stateBackImage(0), cCITheme::theme()->getPict(23));
    EXPECT_EQ(b.stateBackImage(5), nullptr);
}

TEST(PushButton, RequiredSize) {
    sFixture f;
    cPicture pic;
    ASSERT_TRUE(pic.create(0xFF000000u, 20, 16));
    // The standard font: 6 pixels a character, 13 high.
    struct sCase {
        const char* text;
        bool withPic;
        cButtonChild::eDispStyle style;
        int w, h;
    };
    const sCase cases[] = {
        {nullptr, false, cButtonChild::dsImageLeft, 10, 6},
        {"ab", false, cButtonChild::dsImageLeft, 22, 19},
        {nullptr, true, cButtonChild::dsImageLeft, 31, 22},
        {"ab", true, cButtonChild::dsImageLeft, 48, 22},
        {nullptr, true, cButtonChild::dsImageAbove, 26, 22},
        {"ab", true, cButtonChild::dsImageAbove, 26, 37},
        {"abcdefgh", true, cButtonChild::dsImageAbove, 58, 37},
    };
    for (const sCase& c : cases) {
        cButtonChild b;
        f.root.attach(&b, 0, 50, 10, 10);
        if (c.text) b.setText(c.text);
        if (c.withPic) b.image(0).refImage(&pic);
        b.setStyle(c.style, false);
        EXPECT_EQ(b.requiredWidth(), c.w) << (c.text ? c.text : "-") << " " << c.style;
        EXPECT_EQ(b.requiredHeight(), c.h) << (c.text ? c.text : "-") << " " << c.style;
        f.root.dettach(&b);
    }
}
