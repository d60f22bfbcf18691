// The desktop stand-in on SDL's offscreen driver: screens, posted events,
// backing stores, resizing, sheets, cursor rectangles, power assertions, and
// what the window system's happenings become: moves, focus, the keyboard.
#include "macshim/appkit.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

class AppKitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        MSApplication::install(new MSApplication);
    }
    void SetUp() override {
        alarm(30);
        ASSERT_NE(MSApplication::shared(), nullptr);
    }
    void TearDown() override {
        alarm(0);
        mstest::setIdleHook(nullptr);
    }
    static bool next(MSEvent& e, double secs = 1) { return MSApplication::shared()->nextEvent(MSEventMaskAny, secs, e); }
};

// A view that fills its dirty rectangle with one colour and counts its draws.
struct FillView : MSView {
    uint32_t colour = 0;
    int draws = 0;
    MSRect last;
    void drawRect(MSRect dirty) override {
        ++draws;
        last = dirty;
        MSBitmapContext* c = MSGraphicsContextCurrent();
        ASSERT_NE(c, nullptr);
        int top = c->height - int(dirty.origin.y + dirty.size.height);
        for (int y = top; y < top + int(dirty.size.height); ++y)
            for (int x = int(dirty.origin.x); x < int(dirty.origin.x + dirty.size.width); ++x)
                c->pixels[y * c->stride + x] = colour;
    }
};

struct SizeWindow : MSWindow {
    using MSWindow::MSWindow;
    std::vector<MSSize> asked;
    MSSize windowWillResize(MSSize s) override {
        asked.push_back(s);
        return s;
    }
};

TEST_F(AppKitTest, ScreenFramesComeFromTheDisplay) {
    SDL_Rect full, usable;
    ASSERT_EQ(SDL_GetDisplayBounds(0, &full), 0);
    ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &usable), 0);
    MSRect f, v;
    ASSERT_TRUE(MSScreenMainFrame(f));
    ASSERT_TRUE(MSScreenMainVisibleFrame(v));
    EXPECT_EQ(f.size.width, full.w);
    EXPECT_EQ(f.size.height, full.h);
    EXPECT_EQ(v.size.width, usable.w);
    EXPECT_EQ(v.origin.y, (full.y + full.h) - (usable.y + usable.h));
}

TEST_F(AppKitTest, PostedEventsKeepTheirOrderAcrossThreads) {
    MSApplication* app = MSApplication::shared();
    constexpr int kThreads = 3, kEach = 200;
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
        ts.emplace_back([=] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(app->postEvent(MSEvent::otherEvent(MSEventTypeApplicationDefined, {}, 0, 0, 0, short(t), i, 0),
                                           false));
        });
    for (auto& t : ts) t.join();
    EXPECT_TRUE(app->postEvent(MSEvent::otherEvent(MSEventTypeApplicationDefined, {}, 0, 0, 0, 99, 0, 0), true));
    MSEvent e;
    ASSERT_TRUE(next(e));
    EXPECT_EQ(e.subtype, 99);  // posted at the start: first out
    long last[kThreads] = {-1, -1, -1};
    for (int n = 0; n < kThreads * kEach; ++n) {
        ASSERT_TRUE(next(e));
        ASSERT_EQ(e.type, MSEventTypeApplicationDefined);
        ASSERT_LT(e.subtype, kThreads);
        EXPECT_EQ(e.data1, last[e.subtype] + 1);
        last[e.subtype] = e.data1;
    }
    EXPECT_FALSE(next(e, 0.05));
    EXPECT_EQ(mstest::pendingPosted(), 0);
}

TEST_F(AppKitTest, DisplayCopiesTheBackingStoreToTheWindow) {
    MSWindow w(MSMakeRect(10, 10, 64, 48), MSWindowStyleTitled);
    ASSERT_TRUE(w.valid());
    auto* v = new FillView;
    v->colour = 0xFF336699;
    w.setContentView(v);
    w.makeKeyAndOrderFront();
    EXPECT_EQ(MSApplication::shared()->keyWindow(), &w);
    MSEvent e;
    EXPECT_FALSE(next(e, 0.05));  // the loop draws what waits before it waits
    EXPECT_EQ(v->draws, 1);
    // A part: bottom-left origin in the view, rows counted from the top in the store.
    v->colour = 0xFFFF0000;
    v->setNeedsDisplayInRect(MSMakeRect(4, 0, 8, 6));
    w.displayIfNeeded();
    SDL_Surface* s = SDL_GetWindowSurface(static_cast<SDL_Window*>(w.sdlWindow()));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(SDL_LockSurface(s), 0);
    auto px = [&](int x, int y) {
        uint32_t p = static_cast<uint32_t*>(s->pixels)[y * (s->pitch / 4) + x];
        Uint8 r, g, b;
        SDL_GetRGB(p, s->format, &r, &g, &b);
        return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
    };
    EXPECT_EQ(px(0, 0), 0x336699u);
    EXPECT_EQ(px(4, 47), 0xFF0000u);
    EXPECT_EQ(px(11, 42), 0xFF0000u);
    EXPECT_EQ(px(12, 47), 0x336699u);
    EXPECT_EQ(px(4, 41), 0x336699u);
    SDL_UnlockSurface(s);
    EXPECT_EQ(w.backingStore()->pixels[47 * 64 + 4], 0xFFFF0000u);
}

TEST_F(AppKitTest, ResizeKeepsTheTopEdge) {
    SizeWindow w(MSMakeRect(100, 200, 50, 40), MSWindowStyleTitled | MSWindowStyleResizable);
    w.setContentView(new MSView);
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(w.sdlWindow()));
    ev.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    ev.window.data1 = 70;
    ev.window.data2 = 30;
    SDL_PushEvent(&ev);
    MSEvent e;
    do {
        ASSERT_TRUE(next(e));
    } while (e.type != MSEventTypeAppKitDefined || e.subtype != MSAppKitResized);
    MSApplication::shared()->sendEvent(e);
    ASSERT_EQ(w.asked.size(), 1u);
    EXPECT_EQ(w.asked[0].width, 70);
    EXPECT_EQ(w.asked[0].height, 30 + w.titleBarHeight());
    EXPECT_EQ(w.contentRect().size.width, 70);
    EXPECT_EQ(w.contentRect().origin.y + w.contentRect().size.height, 240);
    EXPECT_EQ(w.backingStore()->width, 70);
    EXPECT_EQ(w.backingStore()->height, 30);
}

TEST_F(AppKitTest, AWindowMadeSmallerThanItsMinimumGrowsBack) {
    SizeWindow w(MSMakeRect(100, 200, 120, 90), MSWindowStyleTitled | MSWindowStyleResizable);
    w.setContentView(new MSView);
    w.setContentMinSize(MSSize{100, 80});
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(w.sdlWindow()));
    ev.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    ev.window.data1 = 60;  // narrower and lower than the minimum
    ev.window.data2 = 50;
    SDL_PushEvent(&ev);
    MSEvent e;
    while (next(e, 0.05)) MSApplication::shared()->sendEvent(e);
    EXPECT_EQ(w.contentRect().size.width, 100);
    EXPECT_EQ(w.contentRect().size.height, 80);
    EXPECT_EQ(w.backingStore()->width, 100);
    EXPECT_EQ(w.backingStore()->height, 80);
}

TEST_F(AppKitTest, TheWindowThatHadTheKeyboardTakesItBackWhenTheKeyWindowGoes) {
    MSWindow a(MSMakeRect(0, 0, 60, 40), MSWindowStyleTitled);
    MSWindow b(MSMakeRect(100, 0, 60, 40), MSWindowStyleTitled);
    MSWindow list(MSMakeRect(100, 50, 30, 20), MSWindowStyleBorderless);
    for (MSWindow* w : {&a, &b, &list}) w->makeKeyAndOrderFront();
    a.makeKeyWindow();  // a again: the latest before the list
    list.makeKeyWindow();
    list.orderOut();
    EXPECT_TRUE(a.isKeyWindow());
    a.orderOut();
    EXPECT_TRUE(b.isKeyWindow());
    b.orderOut();
    EXPECT_EQ(MSApplication::shared()->keyWindow(), nullptr);
}

TEST_F(AppKitTest, SheetsHangFromTheParentsTop) {
    MSWindow parent(MSMakeRect(100, 100, 400, 300), MSWindowStyleTitled);
    MSWindow sheet(MSMakeRect(0, 0, 200, 100), MSWindowStyleTitled);
    MSWindow popup(MSMakeRect(7, 9, 30, 20), MSWindowStyleBorderless);
    MSApplication* app = MSApplication::shared();
    app->beginSheet(&sheet, &parent);
    EXPECT_EQ(parent.attachedSheet(), &sheet);
    EXPECT_EQ(sheet.sheetParent(), &parent);
    EXPECT_EQ(sheet.frame().origin.x, 200);
    EXPECT_EQ(sheet.frame().origin.y + sheet.frame().size.height, 400);
    EXPECT_TRUE(sheet.isKeyWindow());
    app->endSheet(&sheet);
    EXPECT_EQ(parent.attachedSheet(), nullptr);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.isKeyWindow());
    app->beginSheet(&popup, &parent);
    EXPECT_EQ(popup.frame().origin.x, 7);
    EXPECT_EQ(popup.frame().origin.y, 9);
    app->endSheet(&popup);
}

TEST_F(AppKitTest, CursorRectsFollowThePointer) {
    struct CursorView : MSView {
        void resetCursorRects() override { addCursorRect(MSMakeRect(0, 0, 10, 10), MSCursor::IBeamCursor()); }
    };
    MSWindow w(MSMakeRect(0, 0, 40, 40), MSWindowStyleTitled);
    auto* v = new CursorView;
    w.setContentView(v);
    MSCursor::arrowCursor()->set();
    w.invalidateCursorRectsForView(v);
    SDL_Event ev{};
    ev.type = SDL_MOUSEMOTION;
    ev.motion.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(w.sdlWindow()));
    ev.motion.x = 5;
    ev.motion.y = 35;  // 5 up from the bottom
    SDL_PushEvent(&ev);
    MSEvent e;
    while (next(e, 0.05)) {}
    EXPECT_EQ(MSCursor::current(), MSCursor::IBeamCursor());
    MSPoint p = MSEvent::mouseLocation();
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 5);
}

// Pushes one SDL window event for w and answers the events it becomes.
std::vector<MSEvent> windowEvent(MSWindow& w, Uint8 what, int d1 = 0, int d2 = 0) {
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(w.sdlWindow()));
    ev.window.event = what;
    ev.window.data1 = d1;
    ev.window.data2 = d2;
    SDL_PushEvent(&ev);
    std::vector<MSEvent> out;
    MSEvent e;
    while (MSApplication::shared()->nextEvent(MSEventMaskAny, 0.05, e)) out.push_back(e);
    return out;
}

TEST_F(AppKitTest, WindowSystemHappeningsBecomeEvents) {
    MSApplication* app = MSApplication::shared();
    MSRect screen;
    ASSERT_TRUE(MSScreenMainFrame(screen));
    const double H = screen.size.height;
    MSWindow a(MSMakeRect(100, 200, 50, 40), MSWindowStyleTitled);
    MSWindow b(MSMakeRect(300, 200, 50, 40), MSWindowStyleTitled);
    MSWindow sheet(MSMakeRect(0, 0, 30, 20), MSWindowStyleTitled);
    a.orderFront();
    b.orderFront();

    // A move to where the window already is, as our own placements come
    // back, is no news; a move elsewhere is, and places the window there.
    const int top = int(H - 200 - 40);
    EXPECT_TRUE(windowEvent(a, SDL_WINDOWEVENT_MOVED, 100, top).empty());
    std::vector<MSEvent> ev = windowEvent(a, SDL_WINDOWEVENT_MOVED, 130, top + 20);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].type, MSEventTypeAppKitDefined);
    EXPECT_EQ(ev[0].subtype, MSAppKitMoved);
    EXPECT_EQ(ev[0].windowNumber, a.windowNumber());
    app->sendEvent(ev[0]);
    EXPECT_EQ(a.contentRect().origin.x, 130);
    EXPECT_EQ(a.contentRect().origin.y, 180);
    EXPECT_EQ(a.contentRect().size.height, 40);

    // Gaining the focus activates the application; the focus leaving every
    // window of ours (the offscreen driver has none to keep it) is the user
    // going elsewhere: the window loses it and the application is told.
    app->activateIgnoringOtherApps(false);
    ev = windowEvent(a, SDL_WINDOWEVENT_FOCUS_GAINED);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].subtype, MSAppKitFocusGained);
    EXPECT_TRUE(app->isActive());
    app->sendEvent(ev[0]);
    EXPECT_TRUE(a.isKeyWindow());
    ev = windowEvent(a, SDL_WINDOWEVENT_FOCUS_LOST);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].subtype, MSAppKitFocusLost);
    EXPECT_EQ(ev[1].subtype, MSAppKitDeactivated);
    EXPECT_FALSE(app->isActive());
    app->sendEvent(ev[0]);
    EXPECT_EQ(app->keyWindow(), nullptr);

    // Keys go to the key window, whichever window the system gave them to;
    // with no key window, to that one.  A window under a sheet hands the
    // focus on to the sheet.
    auto keyTo = [&](MSWindow& w) {
        mstest::injectKey(&w, SDL_SCANCODE_A, true);
        MSEvent k;
        EXPECT_TRUE(next(k));
        return k.windowNumber;
    };
    EXPECT_EQ(keyTo(b), b.windowNumber());
    a.makeKeyWindow();
    EXPECT_EQ(keyTo(b), a.windowNumber());
    app->beginSheet(&sheet, &b);
    a.makeKeyWindow();
    ev = windowEvent(b, SDL_WINDOWEVENT_FOCUS_GAINED);
    ASSERT_EQ(ev.size(), 1u);
    app->sendEvent(ev[0]);
    EXPECT_TRUE(sheet.isKeyWindow());
    EXPECT_EQ(keyTo(a), sheet.windowNumber());
    app->endSheet(&sheet);
    EXPECT_EQ(keyTo(a), a.windowNumber());
    app->activateIgnoringOtherApps(true);
}

TEST_F(AppKitTest, PowerAssertionsHoldTheScreenSaverOff) {
    uint32_t a = 0, b = 0;
    EXPECT_NE(MSPowerAssertionCreateWithName("PreventSystemSleep", 255, "x", &a), 0);
    EXPECT_NE(MSPowerAssertionCreateWithName("NoDisplaySleepAssertion", 0, "x", &a), 0);
    ASSERT_EQ(MSPowerAssertionCreateWithName("NoDisplaySleepAssertion", 255, "one", &a), 0);
    ASSERT_EQ(MSPowerAssertionCreateWithName("NoDisplaySleepAssertion", 255, nullptr, &b), 0);
    EXPECT_NE(a, b);
    EXPECT_FALSE(SDL_IsScreenSaverEnabled());
    EXPECT_EQ(MSPowerAssertionRelease(a), 0);
    EXPECT_FALSE(SDL_IsScreenSaverEnabled());  // b still holds it
    EXPECT_NE(MSPowerAssertionRelease(a), 0);
    EXPECT_EQ(MSPowerAssertionRelease(b), 0);
    EXPECT_TRUE(SDL_IsScreenSaverEnabled());
    EXPECT_FALSE(mstest::screenSaverInhibited());
}

}  // namespace
