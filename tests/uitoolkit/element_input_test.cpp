// Input routing and focus: sequences of synthetic events fed to a root, with
// the focus, hover, capture and actions that must result.
#include "testwindow.h"

#include <gtest/gtest.h>

#include <sstream>

using qortest::cManualClock;
using qortest::cTestWindowTarget;

namespace {

constexpr int kTab = 0x109, kLeft = 0x151, kRight = 0x153, kDown = 0x154, kMenu = 0x167, kF10 = 0x1C7;

class cProbe : public cChildElement {
public:
    cProbe(const char* name, std::string* log, bool tabStop = true) : mName(name), mLog(log), mStop(tabStop) {}
    bool wantTabStop() override { return mStop; }
    bool wantCaptureArrows() override { return captureArrows; }
    bool wantCyclicArrowTabStop() override { return cyclic; }
    void add(const std::string& what) { *mLog += (mLog->empty() ? "" : " ") + mName + ":" + what; }
    void onMouseOver() override { add("over"); }
    void onMouseLeft() override { add("left"); }
    bool onMouseButton(int x, int y, int b, bool down) override {
        add("btn" + std::to_string(b) + (down ? "d" : "u") + "@" + std::to_string(x) + "," + std::to_string(y));
        return true;
    }
    void onMouseMoving(int x, int y) override { add("move@" + std::to_string(x) + "," + std::to_string(y)); }
    void onMouseDoubleClick(int x, int y) override { add("dbl@" + std::to_string(x) + "," + std::to_string(y)); }
    void onKey(int k, bool, bool, bool) override { add("key" + std::to_string(k)); }
    void onChar(unsigned short c, bool, bool, bool) override { add(std::string("char") + char(c)); }
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a->code() == 2) {
            auto* ctx = static_cast<cCtxRequestAction*>(a);
            add("ctx@" + std::to_string(ctx->x) + "," + std::to_string(ctx->y) + (ctx->flag2 ? "s" : ""));
            return true;
        }
        return cChildElement::onAction(src, a);
    }
    bool captureArrows = false;
    bool cyclic = false;

private:
    std::string mName;
    std::string* mLog;
    bool mStop;
};

std::string focusName(cChildElement& root, std::vector<std::pair<cChildElement*, const char*>> names) {
    cChildElement* f = root.getFocused();
    for (auto& n : names)
        if (n.first == f) return n.second;
    return f ? "?" : "-";
}

}  // namespace

TEST(ElementInput, TabAndArrowsMoveTheFocusInAttachOrder) {
    struct sStep {
        int key;
        bool shift;
        const char* focus;
    };
    struct sCase {
        bool cyclic;
        bool bCapturesArrows;
        std::vector<sStep> steps;
    };
    // Attached in the order b, a, c; d is hidden, so never reached.
    const sCase cases[] = {
        {false, false, {{kTab, false, "b"}, {kTab, false, "a"}, {kTab, false, "c"}, {kTab, false, "b"},
                        {kTab, true, "c"}, {kTab, true, "a"}}},
        {false, false, {{kRight, false, "b"}, {kDown, false, "a"}, {kRight, false, "c"}, {kRight, false, "c"},
                        {kLeft, false, "a"}}},
        {true, false, {{kRight, false, "b"}, {kRight, false, "a"}, {kRight, false, "c"}, {kRight, false, "b"},
                       {kLeft, false, "c"}}},
        {false, true, {{kTab, false, "b"}, {kRight, false, "b"}, {kDown, false, "b"}, {kTab, false, "a"},
                       {kRight, false, "c"}}},
    };
    for (const sCase& c : cases) {
        std::string log;
        cTestWindowTarget win;
        cProbe root("root", &log, false), a("a", &log), b("b", &log), cc("c", &log), d("d", &log);
        root.cyclic = c.cyclic;
        b.captureArrows = c.bCapturesArrows;
        root.onInitData();  // the root's own hooks (cyclic arrows)
        win.bind(&root, 200, 50);
        root.attach(&b, 0, 0, 10, 10);
        root.attach(&a, 20, 0, 10, 10);
        root.attach(&cc, 40, 0, 10, 10);
        root.attach(&d, 60, 0, 10, 10);
        d.hide(false);
        int n = 0;
        for (const sStep& s : c.steps) {
            EXPECT_TRUE(root.processKey(s.key, s.shift, false, false));
            EXPECT_EQ(focusName(root, {{&a, "a"}, {&b, "b"}, {&cc, "c"}, {&d, "d"}}), s.focus)
                << "case cyclic=" << c.cyclic << " step " << n;
            ++n;
        }
        for (cChildElement* e : {&a, &b, &cc, &d}) root.dettach(e);
    }
}

TEST(ElementInput, PointerEventsHoverCaptureAndContextRequests) {
    std::string log;
    cTestWindowTarget win;
    cProbe root("root", &log, false), a("a", &log), b("b", &log);
    win.bind(&root, 100, 100);
    root.attach(&a, 0, 0, 40, 40);
    root.attach(&b, 50, 0, 40, 40);
    a.setPointer(cChildElement::mptHand);
    struct sEvent {
        char kind;  // m move, d/u button 1, r button 2 release, k key, c char, w wheel
        int x, y;
        const char* want;
    };
    const sEvent events[] = {
        {'m', 5, 5, "a:over a:move@5,5"},
        {'m', 6, 5, "a:move@6,5"},
        {'m', 55, 5, "a:left b:over b:move@5,5"},
        {'m', 45, 5, "b:left root:over root:move@45,5"},
        {'r', 10, 10, "a:btn2u@10,10 a:ctx@10,10"},  // the action arrives on the drain
        {'d', 52, 3, "b:btn1d@2,3"},
        {'k', kMenu, 0, ""},                           // nobody has the focus yet
    };
    for (const sEvent& e : events) {
        log.clear();
        switch (e.kind) {
            case 'm': root.processMouseMove(e.x, e.y); break;
            case 'd': root.processMouseBtn(e.x, e.y, 1, true, false, false); break;
            case 'r': root.processMouseBtn(e.x, e.y, 2, false, false, false); break;
            case 'k': root.processKey(e.x, false, false, false); break;
        }
        win.drain();
        EXPECT_EQ(log, e.want) << e.kind << " " << e.x << "," << e.y;
    }
    EXPECT_EQ(win.pointers.front(), cChildElement::mptHand);
    // b captures the pointer: moves far outside still reach it, in its own
    // coordinates; after the release they go by position again.
    ASSERT_TRUE(b.capturePointer(false));
    log.clear();
    root.processMouseMove(5, 5);
    EXPECT_EQ(log, "root:left b:over b:move@-45,5");
    b.releasePointer();
    EXPECT_EQ(win.captures, (std::vector<bool>{true, false}));
    log.clear();
    root.processMouseMove(5, 5);
    EXPECT_EQ(log, "b:left a:over a:move@5,5");
    // Keys and characters go to the end of the focus path.
    root.processFocus(60, 10, 1, false, false);
    win.drain();
    EXPECT_EQ(root.getFocused(), &b);
    log.clear();
    root.processKey(kF10, false, false, false);
    root.processKey(kF10, true, false, false);
    root.processKey(kMenu, false, false, false);
    root.processChar('x', false, false, false);
    win.drain();
    EXPECT_EQ(log, "b:key455 b:key455 b:key359 b:charx b:ctx@0,0s b:ctx@0,0");
    // A disabled focused element swallows keys.
    b.disable(false);
    log.clear();
    EXPECT_TRUE(root.processKey('q', false, false, false));
    EXPECT_EQ(log, "");
    root.dettach(&a);
    root.dettach(&b);
}

TEST(ElementInput, DoubleClicksAreTimedAndPlaced) {
    struct sPress {
        unsigned int t;
        int x, y;
    };
    struct sCase {
        std::vector<sPress> presses;
        const char* want;
    };
    const sCase cases[] = {
        {{{1000, 5, 5}, {1499, 7, 7}}, "dbl@7,7"},
        {{{1000, 5, 5}, {1500, 5, 5}}, ""},
        {{{1000, 5, 5}, {1100, 8, 5}}, ""},
        {{{1000, 5, 5}, {1100, 5, 2}}, ""},
        {{{1000, 5, 5}, {1000, 5, 5}}, ""},  // no time passed
        // A third press is compared with the first of the pair.
        {{{1000, 5, 5}, {1200, 5, 5}, {1400, 6, 6}}, "dbl@5,5 dbl@6,6"},
        {{{1000, 5, 5}, {1200, 5, 5}, {1600, 5, 5}, {1700, 5, 5}}, "dbl@5,5 dbl@5,5"},
    };
    cManualClock clock;
    for (const sCase& c : cases) {
        std::string log;
        cTestWindowTarget win;
        cProbe root("r", &log, false);
        win.bind(&root, 50, 50);
        for (const sPress& p : c.presses) {
            cManualClock::now = p.t;
            root.processMouseBtn(p.x, p.y, 1, true, false, false);
        }
        std::string dbl;
        std::istringstream in(log);
        for (std::string w; in >> w;)
            if (w.rfind("r:dbl", 0) == 0) dbl += (dbl.empty() ? "" : " ") + w.substr(2);
        EXPECT_EQ(dbl, c.want);
    }
}

TEST(ElementInput, FocusFollowsClicksAndSurvivesTheWindowLosingIt) {
    std::string log;
    cTestWindowTarget win;
    cProbe root("root", &log, false), panel("panel", &log, false), a("a", &log), off("off", &log);
    win.bind(&root, 100, 100);
    root.attach(&panel, 0, 0, 100, 100);
    panel.attach(&off, 0, 0, 20, 20);
    panel.attach(&a, 0, 0, 20, 20);  // under the disabled one
    off.disable(false);
    root.processFocus(5, 5, 1, false, false);
    EXPECT_EQ(root.getFocused(), &a);
    EXPECT_EQ(panel.focusedChild(), &a);
    root.processOSFocusLost();
    EXPECT_EQ(root.getFocused(), nullptr);
    root.processOSFocus();
    EXPECT_EQ(root.getFocused(), &a);
    // The window getting the system focus while a control holds the focus
    // (it asked before the window had it) leaves it there.
    root.processOSFocus();
    EXPECT_EQ(root.getFocused(), &a);
    // A click on empty space focuses the container itself.
    root.processFocus(50, 50, 1, false, false);
    EXPECT_EQ(root.getFocused(), &panel);
    EXPECT_FALSE(a.hasFocus());
    panel.dettach(&a);
    panel.dettach(&off);
    root.dettach(&panel);
}
