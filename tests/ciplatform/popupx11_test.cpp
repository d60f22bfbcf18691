// Popups on a real X display: a private Xvfb, once bare and once under the
// twm window manager, the pointer and the keyboard driven through the X test
// extension as a user drives them.  A drop-down list that opens below its
// combo box stays open through the window-system events its own appearance
// causes, follows the pointer and picks with a click; so do a list that
// opens upwards and a context menu.  A click elsewhere in the window and
// Escape close a list without a pick, and so do another client taking the
// keyboard and the window being moved away under the list.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ciplatform/translator.h"
#include "macshim/appkit.h"
#include "macshim/x11desktop.h"
#include "nslib/nscocoa.h"
#include "childprocess.h"
#include "testsupport.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/form.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/window.h"

// Last: Xlib's macros (None, Bool, Status, ...) would clash with names above.
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None
#undef Bool
#undef Status
#undef True
#undef False

// The system libraries SDL loads under X11 keep buffers to the end.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

qortest::sPrivateXServer& xserver() {
    static qortest::sPrivateXServer s;
    return s;
}

// The test's own connection to the server: the X test extension drives the
// pointer and keyboard through it, and it plays the other clients.
struct sXClient {
    Display* dpy = nullptr;
    ~sXClient() {
        if (dpy) XCloseDisplay(dpy);
    }
    bool open(const std::string& display) {
        dpy = XOpenDisplay(display.c_str());
        int ev, err, major, minor;
        return dpy && XTestQueryExtension(dpy, &ev, &err, &major, &minor);
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(dpy, -1, x, y, 0);
        XSync(dpy, 0);
    }
    void button(int b, bool down) {
        XTestFakeButtonEvent(dpy, unsigned(b), down, 0);
        XSync(dpy, 0);
    }
    void click(int x, int y, int b = 1) {
        moveTo(x, y);
        button(b, true);
        button(b, false);
    }
    void key(KeySym sym) {
        const KeyCode code = XKeysymToKeycode(dpy, sym);
        XTestFakeKeyEvent(dpy, code, 1, 0);
        XTestFakeKeyEvent(dpy, code, 0, 0);
        XSync(dpy, 0);
    }
    // The top-level window that holds w (w itself without a window manager,
    // else the frame the manager put around it).
    Window topLevel(Window w) {
        for (;;) {
            Window root, parent, *kids = nullptr;
            unsigned n = 0;
            if (!XQueryTree(dpy, w, &root, &parent, &kids, &n)) return w;
            if (kids) XFree(kids);
            if (parent == root) return w;
            w = parent;
        }
    }
};

// twm with a configuration that places every window at once, started for one
// test; ready once it manages a window (reparents it into its frame).
struct sWindowManager {
    pid_t pid = -1;

    bool start(sXClient& x) {
        pid = qortest::spawnChild({"twm", "-display", xserver().display, "-f", qortest::dataPath("x11/twmrc")});
        Display* d = x.dpy;
        const Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
        XSelectInput(d, probe, StructureNotifyMask);
        XMapWindow(d, probe);
        XFlush(d);
        bool managed = false;
        // A guard against a manager that never comes: some ten seconds.
        for (int waits = 0; !managed && waits < 100;) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            if (!XPending(d)) {
                pollfd p{ConnectionNumber(d), POLLIN, 0};
                if (poll(&p, 1, 100) == 0) ++waits;
                continue;
            }
            XEvent e;
            XNextEvent(d, &e);
            managed = e.type == ReparentNotify && e.xreparent.window == probe;
        }
        XDestroyWindow(d, probe);
        XSync(d, 0);
        return managed;
    }
    ~sWindowManager() { qortest::stopChild(pid); }
};

MSWindow* windowOf(cChildElement* root) {
    cWindowRequestTarget* t = root ? root->winTarget() : nullptr;
    return t ? static_cast<MSWindow*>(t->_rt_rawhandle()) : nullptr;
}

SDL_Window* sdlOf(MSWindow* w) { return w ? static_cast<SDL_Window*>(w->sdlWindow()) : nullptr; }

// The popup element of an open popup window, or null.
cPopupMaster* popupOf(MSWindow* w) {
    auto* n = dynamic_cast<cNSWndWrapper*>(w);
    if (!n || !n->fixedPos() || !n->isVisible()) return nullptr;
    auto* t = dynamic_cast<cNSWTranslator*>(static_cast<cNSWindow*>(n->eventParam()));
    return t ? dynamic_cast<cPopupMaster*>(t->root()) : nullptr;
}

Window xWindowOf(MSWindow* w) { return msx11::xWindow(sdlOf(w)); }

// Whether SDL's keyboard focus has caught up with the server's: SDL hands
// on a focus change only a while after the server made it, so until then
// some of the events that a window's appearance causes are still to come.
bool focusSettled(sXClient& x, std::initializer_list<MSWindow*> ours) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(x.dpy, &focus, &revert);
    SDL_Window* expected = nullptr;
    for (MSWindow* w : ours)
        if (w && xWindowOf(w) == focus) expected = sdlOf(w);
    return SDL_GetKeyboardFocus() == expected;
}

// A point inside an element in screen coordinates (top-left origin).
sPoint screenPoint(cChildElement* e, int dx, int dy) {
    sPoint p{0, 0};
    e->absPos(p);
    return {p.x + dx, p.y + dy};
}

// Eight entries: more than the 100 pixels a combo box's list shows, so the
// lower one cannot open below its box.
const char* const kColours[] = {"Red", "Green", "Blue", "Yellow", "Cyan", "Magenta", "Black", "White"};

// A window with a combo box at its top, whose list opens downwards, one at
// its bottom near the screen's lower edge, whose list opens upwards, and a
// context menu anywhere else.
class cListsForm : public cCustomForm {
public:
    cComboBoxChild down, up;
    int menuAnswer = -2;  // what the last context menu answered

    void onConstruct() override {
        cCustomForm::onConstruct();
        cPanelChild* c = clientArea();
        c->attach(&down, 20, 20, 200, 22);
        c->attach(&up, 0, 0, 1, 1);
        c->anchor(&up, 20, -40, 200, 22);
        for (cComboBoxChild* b : {&down, &up}) {
            b->allowEdit(false);
            for (int i = 0; i < 8; ++i) b->setItem(i, kColours[i], nullptr, -1);
            b->select(1, false);
        }
        mMenu.insert(1)->text = "Open";
        mMenu.insert(2)->text = "Rename";
        mMenu.insert(3)->text = "Remove";
    }
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a && a->code() == 2 && src) {
            auto* ctx = static_cast<cCtxRequestAction*>(a);
            sPoint at{0, 0};
            src->absPos(at);
            menuAnswer = cPopupMaster::simplePopup(this, mMenu, at.x + ctx->x, at.y + ctx->y, nullptr);
            return true;
        }
        return cCustomForm::onAction(src, a);
    }
    bool onFormCancel() override { return end_modal(0); }

private:
    tActiveElementItems mMenu;
};

// How a case ends its popup.
enum eEnd { endPick, endClickOutside, endEscape, endFocusTaken, endWindowMoved };

struct sCase {
    const char* name;
    int opener;  // 0 the upper combo, 1 the lower combo, 2 a right click on the form
    eEnd end;
    int pick;    // the entry picked or pointed at (its place in the list)
};

class PopupOnX : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        qortest::sPrivateXServer& s = xserver();
        if (s.display.empty() && s.failure.empty()) s.start("1024x768x24");
        if (!s.display.empty()) {
            setenv("DISPLAY", s.display.c_str(), 1);
            setenv("SDL_VIDEODRIVER", "x11", 1);
        }
    }
    void SetUp() override {
        if (!xserver().failure.empty()) GTEST_SKIP() << xserver().failure;
        ASSERT_TRUE(mX.open(xserver().display));
        if (GetParam()) {
            ASSERT_TRUE(mWm.start(mX)) << "twm did not manage a window";
        }
        alarm(120);
    }
    void TearDown() override { alarm(0); }

    sXClient mX;
    sWindowManager mWm;
};

// What one case saw.
struct sSeen {
    std::string name;
    bool opened = false;       // a popup window came up
    bool stayed = false;       // still open once the events of its appearance were through
    bool tracked = false;      // the entry under the pointer showed its hover look
    bool below = false;        // the list's top edge at the opener's bottom edge
    bool above = false;        // the list's bottom edge at the opener's top edge
    bool closed = false;       // the popup window went away
    bool tookFocus = false;    // the server's input focus was on the popup
    int selected = -9;         // the opener's selection afterwards
    int menuAnswer = -9;
};

// Runs the cases one after the other in one window; each step of the script
// waits for its condition, acts, and moves on.
std::vector<sSeen> runCases(sXClient& x, const std::vector<sCase>& cases) {
    cNSWMaker maker;
    maker.create(nullptr, nullptr, 0);
    auto* form = new cListsForm;
    std::vector<sSeen> seen(cases.size());
    size_t at = 0;
    int step = 0, patience = 0;
    cComboBoxChild* opener = nullptr;
    sPoint openerTop{0, 0};
    Window otherClient = 0;
    // Windows the server showed: a popup that closes at once is seen here
    // even when the script never runs while it is up.
    int shown = 0, shownBefore = 0;
    SDL_EventFilter countShown = [](void* count, SDL_Event* e) {
        if (e->type == SDL_WINDOWEVENT && e->window.event == SDL_WINDOWEVENT_SHOWN) ++*static_cast<int*>(count);
        return 0;
    };
    SDL_AddEventWatch(countShown, &shown);
    mstest::setIdleHook([&] {
        MSWindow* main = windowOf(form);
        if (!main) return;
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(sdlOf(main), &info) && info.subsystem == SDL_SYSWM_X11)
            XSync(info.info.x11.display, 0);
        usleep(1000);
        if (++patience > 20000) {
            std::fprintf(stderr, "case %zu (%s) step %d did not come about\n", at, cases[at].name, step);
            std::_Exit(1);
        }
        MSWindow* key = MSApplication::shared()->keyWindow();
        cPopupMaster* popup = popupOf(key);
        if (popup && at < cases.size()) {
            // A popup never takes the keyboard from its window.
            Window focus = 0;
            int revert = 0;
            XGetInputFocus(x.dpy, &focus, &revert);
            seen[at].tookFocus = seen[at].tookFocus || focus == xWindowOf(key);
        }
        auto next = [&] {
            ++step;
            patience = 0;
        };
        if (at == cases.size()) {
            form->end_modal(1);
            return;
        }
        const sCase& c = cases[at];
        sSeen& s = seen[at];
        s.name = c.name;
        switch (step) {
        case 0:  // the window is up with the keyboard: open the popup
            if (key != main || !focusSettled(x, {main})) return;
            opener = c.opener == 0 ? &form->down : c.opener == 1 ? &form->up : nullptr;
            shownBefore = shown;
            if (opener) {
                openerTop = screenPoint(opener, 0, 0);
                const sPoint arrow = screenPoint(opener->dropButton(), 9, 11);
                x.click(arrow.x, arrow.y);
            } else {
                const sPoint p = screenPoint(form, 300, 200);
                x.click(p.x, p.y, 3);
            }
            next();
            break;
        case 1:  // the popup came up
            if (popup) {
                s.opened = true;
                next();
            } else if (shown > shownBefore) {
                s.opened = true;  // and went away by itself
                step = 4;
            }
            break;
        case 2: {  // the events of its appearance are through
            if (!popup) {
                step = 4;  // it closed by itself: what it saw is recorded
                return;
            }
            if (!focusSettled(x, {main, key})) return;
            s.stayed = true;
            const MSRect f = key->contentRect();
            MSRect screen;
            MSScreenMainFrame(screen);
            const int top = int(screen.size.height - f.origin.y - f.size.height);
            if (opener) {
                s.below = top == openerTop.y + opener->height();
                s.above = top + int(f.size.height) == openerTop.y;
            }
            const sPoint p = screenPoint(popup->button(size_t(c.pick)), 10, 5);
            x.moveTo(p.x, p.y);
            next();
            break;
        }
        case 3: {  // the entry under the pointer shows it
            if (!popup) {
                step = 4;
                return;
            }
            cButtonChild* b = popup->button(size_t(c.pick));
            if (b->state() != cButtonChild::bsHover) return;
            s.tracked = true;
            const sPoint p = screenPoint(b, 10, 5);
            switch (c.end) {
            case endPick: x.click(p.x, p.y); break;
            case endClickOutside: {
                const sPoint q = screenPoint(form, 300, 200);
                x.click(q.x, q.y);
                break;
            }
            case endEscape: x.key(XK_Escape); break;
            case endFocusTaken: {
                // Another client's window takes the keyboard (and the pointer
                // goes there): ours lost the user.
                Display* d = x.dpy;
                otherClient = XCreateSimpleWindow(d, DefaultRootWindow(d), 700, 600, 100, 100, 0, 0, 0xFFFFFF);
                XSetWindowAttributes a;
                a.override_redirect = 1;
                XChangeWindowAttributes(d, otherClient, CWOverrideRedirect, &a);
                XMapRaised(d, otherClient);
                XSync(d, 0);
                x.moveTo(750, 650);
                XSetInputFocus(d, otherClient, RevertToParent, CurrentTime);
                XSync(d, 0);
                break;
            }
            case endWindowMoved: {
                // The window is moved (as its title bar dragged would move it).
                Display* d = x.dpy;
                if (const Window own = xWindowOf(main)) {
                    const Window top = x.topLevel(own);
                    XWindowAttributes wa;
                    XGetWindowAttributes(d, top, &wa);
                    XMoveWindow(d, top, wa.x + 40, wa.y);
                    XSync(d, 0);
                }
                break;
            }
            }
            next();
            break;
        }
        case 4:  // the popup went away
            if (popup) return;
            s.closed = true;
            s.selected = opener ? opener->selected() : -9;
            s.menuAnswer = form->menuAnswer;
            if (otherClient) {
                XDestroyWindow(x.dpy, otherClient);
                otherClient = 0;
                XSync(x.dpy, 0);
            }
            // Back to where every case starts: the form's selections as
            // they were, the pointer away from the controls, the keyboard
            // with the window.
            form->down.select(1, false);
            form->up.select(1, false);
            form->menuAnswer = -2;
            x.moveTo(screenPoint(form, 300, 250).x, screenPoint(form, 300, 250).y);
            main->makeKeyWindow();
            if (SDL_Window* w = sdlOf(main)) SDL_SetWindowInputFocus(w);
            ++at;
            step = 0;
            patience = 0;
            break;
        default: break;
        }
    });
    char title[] = "Lists";
    const int rc = maker.modal(title, 420, 700, form, nullptr, false);
    mstest::setIdleHook(nullptr);
    SDL_DelEventWatch(countShown, &shown);
    EXPECT_EQ(rc, 1) << "the script stopped at case " << at << " step " << step;
    return seen;
}

TEST_P(PopupOnX, ListsOpenStayTrackThePointerAndEndAsAsked) {
    const std::vector<sCase> cases = {
        {"downward list, picked", 0, endPick, 3},
        {"downward list, click elsewhere", 0, endClickOutside, 2},
        {"downward list, Escape", 0, endEscape, 0},
        {"upward list, picked", 1, endPick, 0},
        {"context menu, picked", 2, endPick, 1},
        {"context menu, Escape", 2, endEscape, 2},
        {"downward list, another client takes the keyboard", 0, endFocusTaken, 2},
        {"downward list, the window moves", 0, endWindowMoved, 2},
    };
    const std::vector<sSeen> seen = runCases(mX, cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        const sCase& c = cases[i];
        const sSeen& s = seen[i];
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(s.opened);
        EXPECT_TRUE(s.stayed);
        EXPECT_TRUE(s.tracked);
        EXPECT_TRUE(s.closed);
        EXPECT_FALSE(s.tookFocus);
        if (c.opener == 0) {
            EXPECT_TRUE(s.below);
        } else if (c.opener == 1) {
            EXPECT_TRUE(s.above);
        }
        // A pick takes the entry's place in the list (ids follow places
        // here); every other end leaves the selection (1) or answers -1.
        if (c.opener < 2) {
            EXPECT_EQ(s.selected, c.end == endPick ? c.pick : 1);
        } else {
            EXPECT_EQ(s.menuAnswer, c.end == endPick ? c.pick + 1 : -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WindowManager, PopupOnX, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "twm" : "bare"; });

}  // namespace
