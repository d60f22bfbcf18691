// The native window object on the headless desktop: injected input reaches
// the handlers with the right codes and records, queued requests arrive in
// order, modal loops nest and end with their results, popups close on a
// press outside, and coordinates flip between the two origins.
#include <SDL2/SDL.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>

#include "nslib/nscocoa.h"
#include "nstestutil.h"

namespace {

class NSWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startHeadless(); }
    Watchdog dog{30};
};

int screenH() {
    int w = 0, h = 0;
    cNSWindow::desktopSize(w, h);
    return h;
}

// The toolkit key of every native key code, written from the keyboard
// layout and the X11 keysym definitions.
std::map<int, int> expectedKeys() {
    std::map<int, int> k;
    auto row = [&](int first, const char* chars) {
        for (int i = 0; chars[i]; ++i) k[first + i] = chars[i];
    };
    auto xk = [](int sym) { return sym - 0xFE00; };
    row(0, "ASDFHGZXCV`BQWERYT123465=97-8");
    row(30, "]OU[IP");
    row(37, "LJ'K;\\,/NM.");
    k[36] = xk(XK_KP_Enter);
    k[48] = xk(XK_Tab);
    k[49] = ' ';
    k[50] = '<';
    k[51] = xk(XK_BackSpace);
    k[53] = xk(XK_Escape);
    k[65] = xk(XK_KP_Delete);  // the keypad's '.' in its navigation meaning
    k[67] = xk(XK_KP_Multiply);
    k[69] = xk(XK_KP_Add);
    k[71] = xk(XK_Num_Lock);
    k[75] = xk(XK_KP_Divide);
    k[76] = xk(XK_KP_Enter);
    k[78] = xk(XK_KP_Subtract);
    const int pad[] = {XK_KP_Insert, XK_KP_End, XK_KP_Down, XK_KP_Page_Down, XK_KP_Left,
                       XK_KP_Begin,  XK_KP_Right, XK_KP_Home};
    for (int i = 0; i < 8; ++i) k[82 + i] = xk(pad[i]);
    k[91] = xk(XK_KP_Up);
    k[92] = xk(XK_KP_Page_Up);
    k[96] = xk(XK_F5);
    k[97] = xk(XK_F6);
    k[98] = xk(XK_F7);
    k[99] = xk(XK_F3);
    k[118] = xk(XK_F4);
    k[120] = xk(XK_F2);
    k[122] = xk(XK_F1);
    // The rest of the function keys (Apple's kVK_F8 ... kVK_F20).
    const std::pair<int, int> fkeys[] = {{100, XK_F8},  {101, XK_F9},  {109, XK_F10}, {103, XK_F11},
                                         {111, XK_F12}, {105, XK_F13}, {106, XK_F16}, {64, XK_F17},
                                         {79, XK_F18},  {80, XK_F19},  {90, XK_F20}};
    for (const auto& f : fkeys) k[f.first] = xk(f.second);
    k[107] = xk(XK_Scroll_Lock);
    k[110] = xk(XK_Menu);
    k[113] = xk(XK_Pause);
    k[114] = xk(XK_Insert);
    k[115] = xk(XK_Home);
    k[116] = xk(XK_Page_Up);
    k[117] = xk(XK_Delete);
    k[119] = xk(XK_End);
    k[121] = xk(XK_Page_Down);
    k[123] = xk(XK_Left);
    k[124] = xk(XK_Right);
    k[125] = xk(XK_Down);
    k[126] = xk(XK_Up);
    return k;
}

TEST_F(NSWindowTest, KeyRecordsTranslateOnlyCodesZeroTo129) {
    RecWindow w;
    auto want = expectedKeys();
    std::vector<int> codes = {INT_MIN, -1000, -1, 130, 131, 0xFFFF, INT_MAX};
    for (int c = 0; c < 130; ++c) codes.push_back(c);
    for (int code : codes) {
        w.log.clear();
        sNSKeyRec r{code, true, false, false, false, false};
        EXPECT_EQ(w.wndProc(kNSEvKey, &r), 0);
        if (code < 0 || code >= 130) {
            EXPECT_TRUE(w.log.empty()) << "code " << code;
            continue;
        }
        auto it = want.find(code);
        ASSERT_EQ(w.log.size(), 1u) << "code " << code;
        EXPECT_EQ(w.log[0], RecWindow::fmt("key %lx 1 o0 c0 s0 m0", it == want.end() ? 0 : it->second))
            << "code " << code;
    }
    // The close request answers "refuse" exactly when the handler says no.
    w.allowClose = false;
    EXPECT_EQ(w.wndProc(kNSEvClose, nullptr), 1);
    w.allowClose = true;
    EXPECT_EQ(w.wndProc(kNSEvClose, nullptr), 0);
}

TEST_F(NSWindowTest, InjectedInputReachesTheHandlers) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("input", 300, 200, false, 50, 60));
    MSWindow* n = w.native();
    pumpIdle();
    w.log.clear();

    // A left press runs the press loop, which takes its release.
    mstest::injectMouseButton(n, 1, true, 10, 20, KMOD_LSHIFT);
    mstest::injectMouseButton(n, 1, false, 11, 21, KMOD_LSHIFT);
    ASSERT_TRUE(pumpUntil([&] { return w.log.size() >= 2; }));
    EXPECT_EQ(w.log[0], "button 10 20 1 1 o0 c0 s1 m0");
    EXPECT_EQ(w.log[1], "button 11 21 1 0 o0 c0 s1 m0");
    w.log.clear();

    // Ctrl stands for Command, Alt for Option.
    // Events take the modifiers held when they are dispatched.
    mstest::injectMouseButton(n, 2, true, 299, 0, KMOD_LCTRL | KMOD_LALT);
    ASSERT_TRUE(pumpUntil([&] { return w.log.size() >= 1; }));
    mstest::injectMouseButton(n, 2, false, 0, 199, 0);
    mstest::injectMouseMove(n, 5, 6, 1);
    mstest::injectMouseMove(n, 7, 8, 2);
    mstest::injectMouseMove(n, 9, 10, 0);
    mstest::injectWheel(n, 0, 0);
    mstest::injectWheel(n, 1, -3);
    ASSERT_TRUE(pumpUntil([&] { return w.log.size() >= 6; }));
    pumpIdle();
    std::vector<std::string> want = {
        "button 299 0 2 1 o1 c0 s0 m1", "button 0 199 2 0 o0 c0 s0 m0", "move 5 6 1 o0 c0 s0 m0",
        "move 7 8 2 o0 c0 s0 m0",       "move 9 10 0 o0 c0 s0 m0",       "wheel 9 10 1 -3 0 o0 c0 s0 m0"};
    EXPECT_EQ(w.log, want);
    w.log.clear();

    // Keys: characters follow a plain press, not one with Command held nor
    // a function key; releases carry down = 0.
    mstest::injectKey(n, SDL_SCANCODE_A, true, KMOD_LSHIFT, "A");
    mstest::injectKey(n, SDL_SCANCODE_A, false, KMOD_LSHIFT);
    mstest::injectKey(n, SDL_SCANCODE_C, true, KMOD_LCTRL, "c");
    mstest::injectKey(n, SDL_SCANCODE_LEFT, true, 0, "x");
    mstest::injectKey(n, SDL_SCANCODE_RETURN, true, 0, "\r");
    mstest::injectKey(n, SDL_SCANCODE_KP_ENTER, true, 0);
    mstest::injectKey(n, SDL_SCANCODE_DELETE, true, KMOD_LALT);
    mstest::injectKey(n, SDL_SCANCODE_E, true, 0, "\xC3\xA9\xF0\x9F\x98\x80");
    mstest::injectKey(n, SDL_SCANCODE_SCROLLLOCK, true, 0);  // no native code: dropped
    ASSERT_TRUE(pumpUntil([&] { return w.log.size() >= 13; }));
    pumpIdle();
    auto k = [](int sym) { return RecWindow::fmt("%lx", sym - 0xFE00); };
    want = {"key 41 1 o0 c0 s1 m0",
            "char 41 s1 o0",
            "key 41 0 o0 c0 s1 m0",
            "key 43 1 o0 c0 s0 m1",
            "key " + k(XK_Left) + " 1 o0 c0 s0 m0",
            "key " + k(XK_KP_Enter) + " 1 o0 c0 s0 m0",
            "char d s0 o0",
            "key " + k(XK_KP_Enter) + " 1 o0 c0 s0 m0",
            "key " + k(XK_Delete) + " 1 o1 c0 s0 m0",
            "key 45 1 o0 c0 s0 m0",
            "char e9 s0 o0",
            "char d83d s0 o0",
            "char de00 s0 o0"};
    EXPECT_EQ(w.log, want);
}

TEST_F(NSWindowTest, QueuedRequestsArriveInOrderWithOneRepaint) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("queue", 200, 100, false, 0, 0));
    pumpIdle();
    w.log.clear();
    int before = mstest::pendingPosted();
    EXPECT_TRUE(w.notifyAction(tag(1)));
    EXPECT_TRUE(w.requestRepaint(1, 2, 3, 4));
    EXPECT_TRUE(w.requestRepaint(5, 6, 7, 8));
    EXPECT_TRUE(w.requestRepaint(9, 9, 9, 9));
    EXPECT_TRUE(w.notifyPostAction(tag(2)));
    EXPECT_TRUE(w.asyncOnFocus());
    EXPECT_TRUE(w.asyncOnFocusLost());
    // One wake-up per item, and a single one for the three repaints.
    EXPECT_EQ(mstest::pendingPosted() - before, 5);
    ASSERT_TRUE(pumpUntil([&] { return w.has("paint 0 0 200 100"); }));
    std::vector<std::string> want = {"action 1", "post 2", "focus", "focuslost", "paint 0 0 200 100"};
    EXPECT_EQ(w.log, want);

    // A single request repaints just its area (top-left origin).
    w.log.clear();
    EXPECT_TRUE(w.requestRepaint(10, 20, 30, 40));
    ASSERT_TRUE(pumpUntil([&] { return !w.log.empty(); }));
    EXPECT_EQ(w.log, std::vector<std::string>{"paint 10 20 30 40"});
}

TEST_F(NSWindowTest, SizeChangesAndTheMainLoop) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("size", 120, 80, true, 0, 0));
    ASSERT_TRUE(w.show());
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(w.native()->sdlWindow()));
    ev.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    ev.window.data1 = 150;
    ev.window.data2 = 90;
    SDL_PushEvent(&ev);
    ASSERT_TRUE(pumpUntil([&] { return w.has("size 150 90"); }));
    int cw, ch;
    ASSERT_TRUE(w.clientArea(cw, ch));
    EXPECT_EQ(cw, 150);
    EXPECT_EQ(ch, 90);

    // The main loop delivers until the application yields no event.
    w.log.clear();
    int idle = 0;
    mstest::setIdleHook([&] {
        if (idle++ == 0) w.notifyPostAction(tag(5));
    });
    cNSWindow::msgloop();
    EXPECT_TRUE(w.has("post 5"));
    EXPECT_EQ(idle, 2);
}

TEST_F(NSWindowTest, PaintDoesNotDeliverQueuedRequests) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("paint", 120, 80, false, 0, 0));
    pumpIdle();
    w.log.clear();
    w.notifyAction(tag(9));
    sNSPaintRec p{w.cgctx(), 1, 2, 3, 4};
    w.wndProc(kNSEvPaint, &p);
    EXPECT_EQ(w.log, std::vector<std::string>{"paint 1 2 3 4"});
    w.wndProc(kNSEvEnter, nullptr);
    EXPECT_EQ(w.log, (std::vector<std::string>{"paint 1 2 3 4", "action 9"}));
    pumpIdle();
    EXPECT_EQ(w.log.size(), 2u);
}

TEST_F(NSWindowTest, CloseBoxAsksTheHandler) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("close", 120, 80, true, 0, 0));
    auto* n = static_cast<cNSWndWrapper*>(w.handle());
    w.allowClose = false;
    mstest::injectCloseRequest(n);
    ASSERT_TRUE(pumpUntil([&] { return w.has("close"); }));
    EXPECT_FALSE(n->isClosed());
    EXPECT_EQ(n->modalRC(), kNSModalRunning);

    // Refused first, then allowed: the modal loop ends with 0.
    int asked = 0;
    mstest::setIdleHook([&] {
        if (asked++ < 2) {
            w.allowClose = asked == 2;
            mstest::injectCloseRequest(n);
        }
    });
    w.log.clear();
    EXPECT_EQ(w.modal(nullptr), 0);
    EXPECT_EQ(std::count(w.log.begin(), w.log.end(), "close"), 2);
    EXPECT_TRUE(n->isClosed());
    EXPECT_EQ(n->modalRC(), kNSModalRunning);

    // A window destroyed under its own modal loop ends the loop with 0.
    RecWindow gone;
    ASSERT_TRUE(gone.create_wnd("gone", 100, 60, false, 0, 0));
    gone.action = [&](void*) { gone.close(); };
    bool asked2 = false;
    mstest::setIdleHook([&] {
        if (!asked2) gone.notifyAction(tag(1));
        asked2 = true;
    });
    EXPECT_EQ(gone.modal(nullptr), 0);
    EXPECT_EQ(gone.handle(), nullptr);
}

TEST_F(NSWindowTest, ModalLoopsNestAndEndWithTheirResults) {
    RecWindow parent, a, b, c;
    ASSERT_TRUE(parent.create_wnd("Parent", 400, 300, true, 10, 10));
    ASSERT_TRUE(a.create_wnd("Child", 200, 100, false, 20, 20));
    ASSERT_TRUE(b.create_wnd(nullptr, 150, 80, false, 30, 30));
    ASSERT_TRUE(c.create_wnd("Question", 150, 80, false, 40, 40));
    auto* pn = static_cast<cNSWndWrapper*>(parent.handle());
    int ra = -5, rb = -5, rc = -5;
    std::vector<std::string> titles;
    parent.action = [&](void* t) {
        if (t == tag(1)) ra = a.modal(&parent);
        if (t == tag(3)) rc = c.modal(&parent);  // a second sheet on the same parent
    };
    a.action = [&](void* t) {
        if (t == tag(2)) rb = b.modal(&a);
    };
    int stage = 0;
    mstest::setIdleHook([&] {
        switch (stage++) {
        case 0: parent.captureMouse(); parent.notifyAction(tag(1)); break;
        case 1:
            // A's sheet is up: the capture was dropped, the parent kept its
            // own title (the sheet has a title bar of its own), and a left
            // press on the parent is swallowed, a right one not.
            EXPECT_EQ(captured(), nullptr);
            titles.push_back(pn->title());
            parent.log.clear();
            mstest::injectMouseButton(parent.native(), 1, true, 5, 5);
            mstest::injectMouseButton(parent.native(), 2, true, 6, 6);
            break;
        case 2:
            EXPECT_EQ(parent.log, std::vector<std::string>{"button 6 6 2 1 o0 c0 s0 m0"});
            a.notifyAction(tag(2));
            break;
        case 3:
            titles.push_back(static_cast<cNSWndWrapper*>(a.handle())->title());
            b.endModal(kNSModalRunning);  // the sentinel keeps the loop running
            break;
        case 4: EXPECT_EQ(rb, -5); b.endModal(7); break;
        case 5: EXPECT_EQ(rb, 7); parent.notifyAction(tag(3)); break;
        case 6: titles.push_back(pn->title()); c.endModal(0); break;
        case 7:
            // C ended; A is still open on the parent and still filters it.
            EXPECT_EQ(rc, 0);
            parent.log.clear();
            mstest::injectMouseButton(parent.native(), 1, true, 5, 5);
            break;
        case 8:
            // The press itself is swallowed; it brings A to the front with
            // the keyboard, which the parent had got back when C ended.
            for (const std::string& l : parent.log) EXPECT_EQ(l.rfind("button", 0), std::string::npos) << l;
            EXPECT_TRUE(static_cast<cNSWndWrapper*>(a.handle())->isKeyWindow());
            a.endModal(-3);
            break;
        case 9: EXPECT_EQ(ra, -3); parent.endModal(42); break;
        default: break;
        }
    });
    EXPECT_EQ(parent.modal(nullptr), 42);
    EXPECT_EQ(stage, 10);
    EXPECT_EQ(titles, (std::vector<std::string>{"Parent", "Child", "Parent"}));
    EXPECT_EQ(pn->title(), "Parent");
    EXPECT_EQ(pn->modalChild(), nullptr);
    // Every window can run again.
    EXPECT_EQ(static_cast<cNSWndWrapper*>(a.handle())->modalRC(), kNSModalRunning);
}

TEST_F(NSWindowTest, CloseBoxUnderASheetBringsTheSheetForwardAndEndsNothing) {
    RecWindow parent, sheet;
    ASSERT_TRUE(parent.create_wnd("Parent", 400, 300, true, 10, 10));
    ASSERT_TRUE(sheet.create_wnd("Sheet", 200, 100, false, 20, 20));
    auto* pn = static_cast<cNSWndWrapper*>(parent.handle());
    int rs = -5;
    parent.action = [&](void* t) {
        if (t == tag(1)) rs = sheet.modal(&parent);
    };
    int stage = 0;
    mstest::setIdleHook([&] {
        switch (stage++) {
        case 0: parent.notifyAction(tag(1)); break;
        case 1:
            parent.log.clear();
            mstest::injectCloseRequest(pn);
            break;
        case 2:
            // Refused without asking the parent's handler: the sheet is in
            // front with the keyboard, and the parent's loop still runs.
            EXPECT_FALSE(parent.has("close"));
            EXPECT_FALSE(pn->isClosed());
            EXPECT_EQ(pn->modalRC(), kNSModalRunning);
            EXPECT_TRUE(sheet.native()->isKeyWindow());
            sheet.endModal(5);
            break;
        case 3: parent.endModal(42); break;
        default: break;
        }
    });
    EXPECT_EQ(parent.modal(nullptr), 42);
    EXPECT_EQ(rs, 5);
    EXPECT_EQ(stage, 4);
}

TEST_F(NSWindowTest, PopupClosesOnAPressOutside) {
    RecWindow owner, popup;
    ASSERT_TRUE(owner.create_wnd("Owner", 400, 300, false, 100, 100));
    ASSERT_TRUE(popup.create_popup(150, 160, 80, 60));
    popup.button = [&](int x, int y, int, bool down) {
        if (down && (x < 0 || y < 0 || x >= 80 || y >= 60)) popup.endModal(5);
    };
    const int H = screenH();
    // A press in another application at (400, 500) in top-left screen points.
    bool clicked = false;
    mstest::setIdleHook([&] {
        if (clicked) return;
        clicked = true;
        EXPECT_TRUE(popup.captureMouse());
        mstest::injectForeignClick(MSEventTypeLeftMouseDown, 400, H - 500);
    });
    EXPECT_EQ(popup.modal(&owner), 5);
    std::vector<std::string> presses;
    for (auto& l : popup.log)
        if (l.compare(0, 7, "button ") == 0) presses.push_back(l);
    // The monitor's press at the popup's own coordinates, then losing
    // activation with the pointer outside reads as a press at (-1, -1).
    EXPECT_EQ(presses, (std::vector<std::string>{RecWindow::fmt("button %ld %ld 1 1 o0 c0 s0 m0", 400 - 150, 500 - 160),
                                                 "button -1 -1 1 1 o0 c0 s0 m0"}));
    popup.close();
    EXPECT_EQ(captured(), nullptr);
}

TEST_F(NSWindowTest, APopupClosesOnlyWhenTheUserWorksOutsideIt) {
    // Window-system happenings on the popup or its owner, and presses on
    // the owner: what the popup ends with (5: a press outside reached it,
    // 9: it stayed open until the test ended it) and the presses it saw.
    enum eHow { sdlEvent, ownerPress };
    struct sCase {
        const char* what;
        eHow how;
        bool onPopup;
        Uint8 event;  // an SDL window event, or the button pressed on the owner
        int d1, d2;
        int result;
        const char* press;  // the press the popup saw first, "" for none
    };
    const sCase cases[] = {
        // Its own appearance and the focus moving among our windows.
        {"popup shown", sdlEvent, true, SDL_WINDOWEVENT_SHOWN, 0, 0, 9, ""},
        {"popup exposed", sdlEvent, true, SDL_WINDOWEVENT_EXPOSED, 0, 0, 9, ""},
        {"popup focused", sdlEvent, true, SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0, 9, ""},
        {"owner focused", sdlEvent, false, SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0, 9, ""},
        {"owner exposed", sdlEvent, false, SDL_WINDOWEVENT_EXPOSED, 0, 0, 9, ""},
        {"owner at its own place", sdlEvent, false, SDL_WINDOWEVENT_MOVED, 100, 100, 9, ""},
        // The user at work elsewhere.
        {"owner moved", sdlEvent, false, SDL_WINDOWEVENT_MOVED, 140, 100, 5, "button -1 -1 1 1 o0 c0 s0 m0"},
        {"owner asked to close", sdlEvent, false, SDL_WINDOWEVENT_CLOSE, 0, 0, 5, "button -1 -1 1 1 o0 c0 s0 m0"},
        {"left press on the owner", ownerPress, false, 1, 10, 20, 5, "button -40 -40 1 1 o0 c0 s0 m0"},
        {"right press on the owner", ownerPress, false, 2, 390, 290, 5, "button 340 230 2 1 o0 c0 s0 m0"},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecWindow owner, popup;
        ASSERT_TRUE(owner.create_wnd("Owner", 400, 300, false, 100, 100));
        ASSERT_TRUE(popup.create_popup(150, 160, 80, 60));
        popup.button = [&](int x, int y, int, bool down) {
            if (down && (x < 0 || y < 0 || x >= 80 || y >= 60)) popup.endModal(5);
        };
        int round = 0;
        mstest::setIdleHook([&] {
            switch (round++) {
            case 0: {
                EXPECT_TRUE(popup.captureMouse());
                MSWindow* target = c.onPopup ? popup.native() : owner.native();
                if (c.how == ownerPress) {
                    mstest::injectMouseButton(target, c.event, true, c.d1, c.d2);
                    mstest::injectMouseButton(target, c.event, false, c.d1, c.d2);
                    break;
                }
                SDL_Event ev{};
                ev.type = SDL_WINDOWEVENT;
                ev.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(target->sdlWindow()));
                ev.window.event = c.event;
                ev.window.data1 = c.d1;
                ev.window.data2 = c.d2;
                SDL_PushEvent(&ev);
                break;
            }
            case 1: break;
            default: popup.endModal(9); break;
            }
        });
        owner.log.clear();
        EXPECT_EQ(popup.modal(&owner), c.result);
        // What was still queued when the popup ended (a release) is
        // dispatched too.
        mstest::setIdleHook(nullptr);
        pumpIdle();
        std::vector<std::string> presses, ownerPresses;
        for (auto& l : popup.log)
            if (l.compare(0, 7, "button ") == 0) presses.push_back(l);
        for (auto& l : owner.log)
            if (l.compare(0, 7, "button ") == 0) ownerPresses.push_back(l);
        EXPECT_EQ(presses.empty() ? "" : presses[0], c.press);
        // Its release went nowhere; the owner saw neither.
        EXPECT_LE(presses.size(), 1u);
        EXPECT_EQ(ownerPresses, std::vector<std::string>{});
        popup.close();
    }
    pumpIdle();
}

TEST_F(NSWindowTest, CoordinatesFlipBetweenOrigins) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("coords", 100, 100, true, 0, 0));
    const int H = screenH();
    ASSERT_GT(H, 0);
    struct Row { int x, y, w, h; } rows[] = {{0, 0, 100, 50}, {30, 40, 200, 150}, {500, 300, 320, 240}, {7, 600, 64, 100}};
    for (const Row& r : rows) {
        ASSERT_TRUE(w.move(r.x, r.y, r.w, r.h));
        // SDL keeps top-left screen points: the two flips cancel out.
        int sx, sy, sw, sh;
        SDL_GetWindowPosition(static_cast<SDL_Window*>(w.native()->sdlWindow()), &sx, &sy);
        SDL_GetWindowSize(static_cast<SDL_Window*>(w.native()->sdlWindow()), &sw, &sh);
        EXPECT_EQ(sx, r.x);
        EXPECT_EQ(sy, r.y);
        EXPECT_EQ(sw, r.w);
        EXPECT_EQ(sh, r.h);
        MSRect f = w.native()->frame();
        EXPECT_EQ(f.origin.y, H - r.y - r.h);
        int x, y, ww, hh;
        ASSERT_TRUE(w.getPosSize(x, y, ww, hh));
        EXPECT_EQ(x, r.x);
        EXPECT_EQ(y, r.y);
        EXPECT_EQ(ww, r.w);
        EXPECT_EQ(hh, r.h);
        int cw, ch;
        ASSERT_TRUE(w.clientArea(cw, ch));
        EXPECT_EQ(cw, r.w);
        EXPECT_EQ(ch, r.h);
        pumpIdle();
        // An area invalidated in top-left points lies at V - y - h in the view
        // and comes back to the painter as given.
        w.log.clear();
        ASSERT_TRUE(nswnd_invalidate_view(w.handle(), 3, 4, 10, 11));
        MSRect d = w.native()->contentView()->dirtyRect();
        EXPECT_EQ(d.origin.y, r.h - 4 - 11);
        pumpIdle();
        EXPECT_EQ(w.log, std::vector<std::string>{"paint 3 4 10 11"});
    }
    EXPECT_FALSE(w.move(1, 2, 0, 5));  // no width: nothing changes
    int x, y, ww, hh;
    w.getPosSize(x, y, ww, hh);
    EXPECT_EQ(ww, rows[3].w);

    int ox, oy, ow, oh;
    ASSERT_TRUE(cNSWindow::recommendMainWindowSize(ox, oy, ow, oh));
    SDL_Rect usable;
    ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &usable), 0);
    EXPECT_EQ(ox, -1);
    EXPECT_EQ(oy, -1);
    EXPECT_EQ(ow, int(usable.w * 0.7));
    EXPECT_EQ(oh, int(usable.h * 0.7));
}

TEST_F(NSWindowTest, PointerTypesAndSleepBlocker) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("pointer", 100, 100, false, 0, 0));
    w.focus();
    struct { int type; MSCursor* c; } table[] = {
        {1, MSCursor::IBeamCursor()},           {2, MSCursor::crosshairCursor()},
        {3, MSCursor::pointingHandCursor()},    {4, MSCursor::resizeLeftRightCursor()},
        {5, MSCursor::resizeUpDownCursor()},    {6, MSCursor::resizeLeftRightCursor()},
        {7, MSCursor::resizeUpDownCursor()},    {8, MSCursor::closedHandCursor()},
        {9, MSCursor::closedHandCursor()},      {0, MSCursor::arrowCursor()}};
    for (auto& row : table) {
        EXPECT_TRUE(w.setPointer(row.type));
        EXPECT_EQ(MSCursor::current(), row.c) << row.type;
    }
    w.setPointer(8);
    EXPECT_TRUE(MSCursor::current()->isColour());
    EXPECT_FALSE(w.setPointer(10));
    EXPECT_FALSE(w.setPointer(-1));
    EXPECT_EQ(MSCursor::current(), MSCursor::closedHandCursor());

    // One assertion at most; the second unblock has nothing to release.
    char reason[] = "Installing";
    EXPECT_TRUE(cNSWindow::blockSleep(reason));
    EXPECT_TRUE(cNSWindow::blockSleep(nullptr));
    EXPECT_EQ(mstest::powerAssertions(), 1);
    EXPECT_FALSE(SDL_IsScreenSaverEnabled());
    EXPECT_TRUE(cNSWindow::unblockSleep());
    EXPECT_EQ(mstest::powerAssertions(), 0);
    EXPECT_TRUE(SDL_IsScreenSaverEnabled());
    EXPECT_FALSE(cNSWindow::unblockSleep());

    // Entry points given no window answer false or nothing.
    int a, b, c, d;
    EXPECT_FALSE(nswnd_getpossize(nullptr, a, b, c, d));
    EXPECT_FALSE(nswnd_notify_action(nullptr));
    EXPECT_FALSE(nswnd_setpointer(nullptr, 0));
    EXPECT_EQ(nswnd_modal(nullptr, nullptr), 0);
    EXPECT_EQ(nswnd_cgctx(nullptr), nullptr);
    RecWindow none;
    EXPECT_FALSE(none.show());
    EXPECT_EQ(none.modal(nullptr), 0);
    EXPECT_FALSE(none.notifyAction(tag(1)));
}

TEST_F(NSWindowTest, SentAndPostedActionsLeftInTheQueueAreCancelled) {
    std::vector<void*> cancelled;
    {
        RecWindow w;
        w.setCancelProc([](void* e, void* p) { static_cast<std::vector<void*>*>(p)->push_back(e); }, &cancelled);
        ASSERT_TRUE(w.create_wnd("gone", 100, 100, false, 0, 0));
        w.notifyAction(tag(1));
        w.notifyPostAction(tag(2));
        w.notifyAction(tag(3));
        w.close();
        EXPECT_TRUE(cancelled.empty());
        EXPECT_FALSE(w.notifyAction(tag(4)));  // queued, though no window can wake
    }
    // Senders wait on both kinds of wake-up: every one is told.
    EXPECT_EQ(cancelled, (std::vector<void*>{tag(1), tag(2), tag(3), tag(4)}));
    pumpIdle();  // the orphaned wake-ups reach nobody
}

}  // namespace
