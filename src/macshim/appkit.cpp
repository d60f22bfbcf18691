// The stand-in desktop interfaces on SDL2: SDL windows carry the windows,
// SDL's event queue carries the events, and a registered SDL event type
// wakes the loop for events posted from any thread.
#include "macshim/appkit.h"

#include "base/buffers.h"
#include "base/textenc.h"
#include "macshim/x11desktop.h"

#include <SDL2/SDL.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

struct Monitor {
    uint64_t mask;
    std::function<void(const MSEvent&)> handler;
};

struct State {
    MSApplication* app = nullptr;
    uint32_t wakeType = 0;              // the registered SDL event type
    int wakeFd = -1;                    // readable while posted events wait
    std::map<long, MSWindow*> windows;  // by window number
    long nextNumber = 1;
    MSWindow* key = nullptr;
    // The windows that were key, the latest last: when the key window goes,
    // the latest one still shown takes the keyboard back.
    std::vector<MSWindow*> keyOrder;
    std::vector<std::unique_ptr<Monitor>> monitors;
    std::function<void()> idleHook;
    MSPoint pointer;
    MSCursor* cursor = nullptr;
    MSBitmapContext* drawing = nullptr;
    std::set<uint32_t> assertions;
    uint32_t nextAssertion = 1;
    bool saverInhibited = false;
};

State& st() {
    static State s;
    return s;
}

// Events posted through postEvent; the SDL queue only carries a token that
// wakes the loop.  Guarded by its own mutex: any thread appends.
std::mutex gPostedLock;
std::deque<MSEvent> gPosted;

const auto gStart = std::chrono::steady_clock::now();

bool videoUp() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    // Without a display the offscreen driver still gives windows and surfaces.
    if (!std::getenv("SDL_VIDEODRIVER") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Backing stores are copied into the driver's own framebuffer: no GL
    // renderer (and no GL driver loaded) just to show a window's pixels.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Closing the last window is the application's business, not a
    // request to quit: only signals (and the session) ask for that.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // Views take the first click on a window that is not active (the one
    // that activates it) like any other: SDL would drop a press that comes
    // within a few milliseconds of the window's focus.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

double screenHeight() {
    MSRect f;
    return MSScreenMainFrame(f) ? f.size.height : 0;
}

uint32_t sdlModsToFlags(unsigned mods) {
    uint32_t f = 0;
    if (mods & KMOD_SHIFT) f |= MSEventModifierFlagShift;
    // The Ctrl key stands for Command; the Super key for Control.
    if (mods & KMOD_CTRL) f |= MSEventModifierFlagCommand;
    if (mods & KMOD_GUI) f |= MSEventModifierFlagControl;
    if (mods & KMOD_ALT) f |= MSEventModifierFlagOption;
    return f;
}

// SDL scancodes to desktop virtual key codes (ANSI layout positions).
struct KeyPair { SDL_Scancode sc; uint16_t code; bool function; };
const KeyPair kKeys[] = {
    {SDL_SCANCODE_A, 0, false}, {SDL_SCANCODE_S, 1, false}, {SDL_SCANCODE_D, 2, false},
    {SDL_SCANCODE_F, 3, false}, {SDL_SCANCODE_H, 4, false}, {SDL_SCANCODE_G, 5, false},
    {SDL_SCANCODE_Z, 6, false}, {SDL_SCANCODE_X, 7, false}, {SDL_SCANCODE_C, 8, false},
    {SDL_SCANCODE_V, 9, false}, {SDL_SCANCODE_NONUSBACKSLASH, 10, false},
    {SDL_SCANCODE_B, 11, false}, {SDL_SCANCODE_Q, 12, false}, {SDL_SCANCODE_W, 13, false},
    {SDL_SCANCODE_E, 14, false}, {SDL_SCANCODE_R, 15, false}, {SDL_SCANCODE_Y, 16, false},
    {SDL_SCANCODE_T, 17, false}, {SDL_SCANCODE_1, 18, false}, {SDL_SCANCODE_2, 19, false},
    {SDL_SCANCODE_3, 20, false}, {SDL_SCANCODE_4, 21, false}, {SDL_SCANCODE_6, 22, false},
    {SDL_SCANCODE_5, 23, false}, {SDL_SCANCODE_EQUALS, 24, false}, {SDL_SCANCODE_9, 25, false},
    {SDL_SCANCODE_7, 26, false}, {SDL_SCANCODE_MINUS, 27, false}, {SDL_SCANCODE_8, 28, false},
    {SDL_SCANCODE_0, 29, false}, {SDL_SCANCODE_RIGHTBRACKET, 30, false}, {SDL_SCANCODE_O, 31, false},
    {SDL_SCANCODE_U, 32, false}, {SDL_SCANCODE_LEFTBRACKET, 33, false}, {SDL_SCANCODE_I, 34, false},
    {SDL_SCANCODE_P, 35, false}, {SDL_SCANCODE_RETURN, 36, false}, {SDL_SCANCODE_L, 37, false},
    {SDL_SCANCODE_J, 38, false}, {SDL_SCANCODE_APOSTROPHE, 39, false}, {SDL_SCANCODE_K, 40, false},
    {SDL_SCANCODE_SEMICOLON, 41, false}, {SDL_SCANCODE_BACKSLASH, 42, false},
    {SDL_SCANCODE_COMMA, 43, false}, {SDL_SCANCODE_SLASH, 44, false}, {SDL_SCANCODE_N, 45, false},
    {SDL_SCANCODE_M, 46, false}, {SDL_SCANCODE_PERIOD, 47, false}, {SDL_SCANCODE_TAB, 48, false},
    {SDL_SCANCODE_SPACE, 49, false}, {SDL_SCANCODE_GRAVE, 50, false},
    {SDL_SCANCODE_BACKSPACE, 51, false}, {SDL_SCANCODE_ESCAPE, 53, false},
    {SDL_SCANCODE_KP_PERIOD, 65, false}, {SDL_SCANCODE_KP_MULTIPLY, 67, false},
    {SDL_SCANCODE_KP_PLUS, 69, false}, {SDL_SCANCODE_NUMLOCKCLEAR, 71, true},
    {SDL_SCANCODE_KP_DIVIDE, 75, false}, {SDL_SCANCODE_KP_ENTER, 76, false},
    {SDL_SCANCODE_KP_MINUS, 78, false}, {SDL_SCANCODE_KP_EQUALS, 81, false},
    {SDL_SCANCODE_KP_0, 82, false}, {SDL_SCANCODE_KP_1, 83, false}, {SDL_SCANCODE_KP_2, 84, false},
    {SDL_SCANCODE_KP_3, 85, false}, {SDL_SCANCODE_KP_4, 86, false}, {SDL_SCANCODE_KP_5, 87, false},
    {SDL_SCANCODE_KP_6, 88, false}, {SDL_SCANCODE_KP_7, 89, false}, {SDL_SCANCODE_KP_8, 91, false},
    {SDL_SCANCODE_KP_9, 92, false}, {SDL_SCANCODE_F5, 96, true}, {SDL_SCANCODE_F6, 97, true},
    {SDL_SCANCODE_F7, 98, true}, {SDL_SCANCODE_F3, 99, true}, {SDL_SCANCODE_F8, 100, true},
    {SDL_SCANCODE_F9, 101, true}, {SDL_SCANCODE_F11, 103, true}, {SDL_SCANCODE_F13, 105, true},
    {SDL_SCANCODE_F14, 107, true}, {SDL_SCANCODE_F10, 109, true}, {SDL_SCANCODE_APPLICATION, 110, true},
    {SDL_SCANCODE_F12, 111, true}, {SDL_SCANCODE_F15, 113, true}, {SDL_SCANCODE_INSERT, 114, true},
    {SDL_SCANCODE_HOME, 115, true}, {SDL_SCANCODE_PAGEUP, 116, true}, {SDL_SCANCODE_DELETE, 117, true},
    {SDL_SCANCODE_F4, 118, true}, {SDL_SCANCODE_END, 119, true}, {SDL_SCANCODE_F2, 120, true},
    {SDL_SCANCODE_PAGEDOWN, 121, true}, {SDL_SCANCODE_F1, 122, true}, {SDL_SCANCODE_LEFT, 123, true},
    {SDL_SCANCODE_RIGHT, 124, true}, {SDL_SCANCODE_DOWN, 125, true}, {SDL_SCANCODE_UP, 126, true},
    {SDL_SCANCODE_F16, 106, true}, {SDL_SCANCODE_F17, 64, true}, {SDL_SCANCODE_F18, 79, true},
    {SDL_SCANCODE_F19, 80, true}, {SDL_SCANCODE_F20, 90, true},
};
// Keys without a desktop code.
constexpr uint16_t kNoKey = 0xFFFF;

std::u16string utf8To16(const char* s) {
    _typebuf<unsigned short> w;
    _pc2w(s, (long long)std::strlen(s), w);
    return std::u16string(w.data(), w.data() + w.count());
}

MSWindow* windowForSdl(uint32_t id) {
    SDL_Window* w = SDL_GetWindowFromID(id);
    if (!w) return nullptr;
    return static_cast<MSWindow*>(SDL_GetWindowData(w, "msw"));
}

// A view point (bottom-left origin) from SDL's window point (top-left).
MSPoint fromSdl(MSWindow* w, int x, int y) {
    return MSPoint{double(x), w->contentRect().size.height - y};
}

void notePointer(MSWindow* w, MSPoint p) {
    MSRect c = w->contentRect();
    st().pointer = MSPoint{c.origin.x + p.x, c.origin.y + p.y};
}

// The window that takes a key: the key window, as on the desktop we stand
// in for.  The window system may leave the keyboard elsewhere among our
// windows: no manager focuses a popup, and a focus-follows-pointer manager
// hands it to whatever lies under the pointer.
MSWindow* keyTarget(uint32_t sdlId) {
    MSWindow* k = st().key;
    if (k && k->isVisible()) return k;
    return windowForSdl(sdlId);
}

// Whether the user went to another application (or to the desktop): none of
// our windows has the keyboard, and the pointer is over none of them.
// Focus moving between our own windows (a popup taking it from its owner)
// leaves one of them with the keyboard.
bool userLeft() { return !SDL_GetKeyboardFocus() && !SDL_GetMouseFocus(); }

// Tells the application it is no longer the active one, with the pointer
// where it is now.
void postDeactivation(MSApplication* app) {
    int gx = 0, gy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    const MSPoint at{double(gx), screenHeight() - gy};
    app->postEvent(MSEvent::otherEvent(MSEventTypeAppKitDefined, at, 0, MSTimeNow(), 0, MSAppKitDeactivated, 0, 0),
                   false);
}

// Turns one SDL event into an event of ours; false when it carries nothing.
bool convert(const SDL_Event& ev, MSEvent& out) {
    State& s = st();
    out = MSEvent{};
    out.timestamp = MSTimeNow();
    if (ev.type == s.wakeType) {
        std::lock_guard<std::mutex> g(gPostedLock);
        if (gPosted.empty()) return false;
        out = gPosted.front();
        gPosted.pop_front();
        if (out.type == MSEventTypeAppKitDefined && out.subtype == MSAppKitDeactivated) {
            // We are no longer the active application; a press in another
            // application (data1 its type) is seen by the monitors at its
            // screen point.
            MSEvent foreign = out;
            foreign.type = int(out.data1);
            foreign.windowNumber = 0;
            s.pointer = out.locationInWindow;
            s.app->activateIgnoringOtherApps(false);
            std::vector<Monitor*> mons;
            for (auto& m : s.monitors) mons.push_back(m.get());
            for (Monitor* m : mons)
                if (foreign.type > 0 && foreign.type < 64 && (m->mask & (uint64_t(1) << foreign.type)))
                    m->handler(foreign);
        }
        return true;
    }
    switch (ev.type) {
    case SDL_QUIT:
        // SIGINT or SIGTERM (SDL's handlers turn them into this), or the
        // session ending: the application is asked to quit.
        out.type = MSEventTypeAppKitDefined;
        out.subtype = MSAppKitQuitRequest;
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        MSWindow* w = windowForSdl(ev.button.windowID);
        if (!w || (ev.button.button != SDL_BUTTON_LEFT && ev.button.button != SDL_BUTTON_RIGHT)) return false;
        bool down = ev.type == SDL_MOUSEBUTTONDOWN;
        bool right = ev.button.button == SDL_BUTTON_RIGHT;
        out.type = right ? (down ? MSEventTypeRightMouseDown : MSEventTypeRightMouseUp)
                         : (down ? MSEventTypeLeftMouseDown : MSEventTypeLeftMouseUp);
        out.windowNumber = w->windowNumber();
        out.locationInWindow = fromSdl(w, ev.button.x, ev.button.y);
        out.modifierFlags = sdlModsToFlags(SDL_GetModState());
        notePointer(w, out.locationInWindow);
        return true;
    }
    case SDL_MOUSEMOTION: {
        MSWindow* w = windowForSdl(ev.motion.windowID);
        if (!w) return false;
        out.locationInWindow = fromSdl(w, ev.motion.x, ev.motion.y);
        notePointer(w, out.locationInWindow);
        if (w->contentView()) {
            if (MSCursor* c = w->contentView()->cursorAt(out.locationInWindow)) c->set();
        }
        if (ev.motion.state & SDL_BUTTON_LMASK) out.type = MSEventTypeLeftMouseDragged;
        else if (ev.motion.state & SDL_BUTTON_RMASK) out.type = MSEventTypeRightMouseDragged;
        else if (w->acceptsMouseMovedEvents()) out.type = MSEventTypeMouseMoved;
        else return false;
        out.windowNumber = w->windowNumber();
        out.modifierFlags = sdlModsToFlags(SDL_GetModState());
        return true;
    }
    case SDL_MOUSEWHEEL: {
        MSWindow* w = windowForSdl(ev.wheel.windowID);
        if (!w) return false;
        out.type = MSEventTypeScrollWheel;
        out.windowNumber = w->windowNumber();
        MSRect c = w->contentRect();
        out.locationInWindow = MSPoint{s.pointer.x - c.origin.x, s.pointer.y - c.origin.y};
        double dir = ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
        out.deltaX = ev.wheel.preciseX * dir;
        out.deltaY = ev.wheel.preciseY * dir;
        out.modifierFlags = sdlModsToFlags(SDL_GetModState());
        return true;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        MSWindow* w = keyTarget(ev.key.windowID);
        if (!w) return false;
        out.type = ev.type == SDL_KEYDOWN ? MSEventTypeKeyDown : MSEventTypeKeyUp;
        out.windowNumber = w->windowNumber();
        out.keyCode = kNoKey;
        bool function = false;
        for (const KeyPair& k : kKeys)
            if (k.sc == ev.key.keysym.scancode) { out.keyCode = k.code; function = k.function; break; }
        out.modifierFlags = sdlModsToFlags(ev.key.keysym.mod) | (function ? uint32_t(MSEventModifierFlagFunction) : 0u);
        if (ev.type == SDL_KEYDOWN) {
            // The typed text follows the key press; it becomes the press's characters.
            SDL_Event text;
            SDL_PumpEvents();
            if (SDL_PeepEvents(&text, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 &&
                text.type == SDL_TEXTINPUT) {
                SDL_PeepEvents(&text, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
                out.characters = utf8To16(text.text.text);
            }
        }
        return true;
    }
    case SDL_TEXTINPUT: {
        // Text without a key of its own (an input method): a press of no key.
        MSWindow* w = keyTarget(ev.text.windowID);
        if (!w) return false;
        out.type = MSEventTypeKeyDown;
        out.windowNumber = w->windowNumber();
        out.keyCode = kNoKey;
        out.modifierFlags = sdlModsToFlags(SDL_GetModState());
        out.characters = utf8To16(ev.text.text);
        return true;
    }
    case SDL_WINDOWEVENT: {
        MSWindow* w = windowForSdl(ev.window.windowID);
        if (!w) return false;
        out.windowNumber = w->windowNumber();
        out.type = MSEventTypeAppKitDefined;
        switch (ev.window.event) {
        case SDL_WINDOWEVENT_CLOSE: out.subtype = MSAppKitCloseRequest; return true;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            s.app->activateIgnoringOtherApps(true);
            out.subtype = MSAppKitFocusGained;
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            // Only the keyboard leaving all our windows is news: when it
            // moves between them, the window that takes it says so; when
            // the manager parks it on the pointer (focus follows the
            // pointer), the keys still come to us.
            if (!userLeft()) return false;
            out.subtype = MSAppKitFocusLost;
            if (s.app->isActive()) postDeactivation(s.app);
            return true;
        case SDL_WINDOWEVENT_MOVED: {
            // Our own placements come back as moves too: only a place we did
            // not ask for is news.
            const MSRect c = w->contentRect();
            const int top = int(screenHeight() - c.origin.y - c.size.height);
            if (ev.window.data1 == int(c.origin.x) && ev.window.data2 == top) return false;
            out.subtype = MSAppKitMoved;
            out.data1 = ev.window.data1;
            out.data2 = ev.window.data2;
            return true;
        }
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            out.subtype = MSAppKitResized;
            out.data1 = ev.window.data1;
            out.data2 = ev.window.data2;
            return true;
        case SDL_WINDOWEVENT_EXPOSED: out.subtype = MSAppKitExposed; return true;
        case SDL_WINDOWEVENT_ENTER: out.type = MSEventTypeMouseEntered; return true;
        case SDL_WINDOWEVENT_LEAVE:
            // With a focus-follows-pointer manager the pointer leaving our
            // windows for another application's is all that happens.
            if (s.app->isActive() && userLeft()) postDeactivation(s.app);
            out.type = MSEventTypeMouseExited;
            return true;
        default: return false;
        }
    }
    default:
        return false;
    }
}

bool pushWake() {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = st().wakeType;
    if (SDL_PushEvent(&e) != 1) return false;
    const uint64_t one = 1;
    if (st().wakeFd >= 0 && write(st().wakeFd, &one, sizeof one) < 0) {
        // Only a full counter refuses, and then a wake-up is pending anyway.
    }
    return true;
}

// Waits for the window system or for an event posted by another thread;
// false when ms milliseconds passed first (ms < 0: no limit).  On X11 the
// wait is our own, on the server's connection and on the wake-up counter:
// SDL's own wait is woken from another thread by a message sent to its
// newest window, which is lost (or ends the program through Xlib's error
// handler) when that window goes at the same time, as popups and dialogs
// do.
bool waitForEvents(int ms) {
    State& s = st();
    // Without the counter our wait would not hear another thread's posts.
    if (s.wakeFd >= 0) {
        for (auto& kv : s.windows) {
            if (!kv.second->sdlWindow()) continue;
            const int got = msx11::wait(kv.second->sdlWindow(), s.wakeFd, ms);
            if (got < 0) break;
            uint64_t n = 0;
            while (read(s.wakeFd, &n, sizeof n) > 0) {
            }
            return got > 0;
        }
    }
    return (ms < 0 ? SDL_WaitEvent(nullptr) : SDL_WaitEventTimeout(nullptr, ms)) != 0;
}

}  // namespace

double MSTimeNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count();
}

MSEvent MSEvent::otherEvent(int type, MSPoint location, uint32_t flags, double timestamp, long windowNumber,
                            short subtype, long data1, long data2) {
    MSEvent e;
    e.type = type;
    e.locationInWindow = location;
    e.modifierFlags = flags;
    e.timestamp = timestamp;
    e.windowNumber = windowNumber;
    e.subtype = subtype;
    e.data1 = data1;
    e.data2 = data2;
    return e;
}

MSPoint MSEvent::mouseLocation() { return st().pointer; }

void* MSEvent::addGlobalMonitor(uint64_t mask, std::function<void(const MSEvent&)> handler) {
    if (!handler) return nullptr;
    st().monitors.push_back(std::make_unique<Monitor>(Monitor{mask, std::move(handler)}));
    return st().monitors.back().get();
}

void MSEvent::removeMonitor(void* monitor) {
    auto& m = st().monitors;
    m.erase(std::remove_if(m.begin(), m.end(), [&](const std::unique_ptr<Monitor>& p) { return p.get() == monitor; }),
            m.end());
}

// ---------------------------------------------------------------------------
// Cursors

MSCursor* MSCursor::arrowCursor() { static MSCursor c("arrow", SDL_SYSTEM_CURSOR_ARROW, false); return &c; }
MSCursor* MSCursor::IBeamCursor() { static MSCursor c("IBeam", SDL_SYSTEM_CURSOR_IBEAM, false); return &c; }
MSCursor* MSCursor::crosshairCursor() { static MSCursor c("crosshair", SDL_SYSTEM_CURSOR_CROSSHAIR, false); return &c; }
MSCursor* MSCursor::pointingHandCursor() { static MSCursor c("pointingHand", SDL_SYSTEM_CURSOR_HAND, false); return &c; }
MSCursor* MSCursor::resizeLeftRightCursor() { static MSCursor c("resizeLeftRight", SDL_SYSTEM_CURSOR_SIZEWE, false); return &c; }
MSCursor* MSCursor::resizeUpDownCursor() { static MSCursor c("resizeUpDown", SDL_SYSTEM_CURSOR_SIZENS, false); return &c; }
MSCursor* MSCursor::closedHandCursor() { static MSCursor c("closedHand", -1, true); return &c; }

MSCursor* MSCursor::current() { return st().cursor ? st().cursor : arrowCursor(); }

void MSCursor::set() {
    st().cursor = this;
    if (!tried_ && SDL_WasInit(SDL_INIT_VIDEO)) {
        tried_ = true;
        if (system_ >= 0) {
            sdl_ = SDL_CreateSystemCursor(SDL_SystemCursor(system_));
        } else {
            // A closed hand: a filled fist with a dark outline, 16 by 16.
            SDL_Surface* surf = SDL_CreateRGBSurfaceWithFormat(0, 16, 16, 32, SDL_PIXELFORMAT_ARGB8888);
            if (surf) {
                uint32_t* px = static_cast<uint32_t*>(surf->pixels);
                int pitch = surf->pitch / 4;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x) {
                        bool inside = x >= 3 && x <= 12 && y >= 4 && y <= 13;
                        bool edge = inside && (x == 3 || x == 12 || y == 4 || y == 13 || (y == 6 && (x % 3) == 0));
                        px[y * pitch + x] = edge ? 0xFF000000u : inside ? 0xFFFFFFFFu : 0;
                    }
                sdl_ = SDL_CreateColorCursor(surf, 8, 8);
                SDL_FreeSurface(surf);
            }
        }
    }
    if (sdl_) SDL_SetCursor(static_cast<SDL_Cursor*>(sdl_));
}

// ---------------------------------------------------------------------------
// Views

MSView::MSView() = default;
MSView::~MSView() = default;

MSRect MSView::frame() const {
    if (!window_) return MSRect{};
    return MSRect{{0, 0}, window_->contentRect().size};
}

void MSView::setNeedsDisplay(bool flag) {
    dirty_ = flag;
    dirtyRect_ = flag ? bounds() : MSRect{};
}

void MSView::setNeedsDisplayInRect(MSRect r) {
    if (!dirty_) {
        dirty_ = true;
        dirtyRect_ = r;
        return;
    }
    double x0 = std::min(dirtyRect_.origin.x, r.origin.x), y0 = std::min(dirtyRect_.origin.y, r.origin.y);
    double x1 = std::max(dirtyRect_.origin.x + dirtyRect_.size.width, r.origin.x + r.size.width);
    double y1 = std::max(dirtyRect_.origin.y + dirtyRect_.size.height, r.origin.y + r.size.height);
    dirtyRect_ = MSMakeRect(x0, y0, x1 - x0, y1 - y0);
}

void MSView::drawRect(MSRect) {}

MSCursor* MSView::cursorAt(MSPoint p) const {
    for (const CursorRect& c : cursorRects_)
        if (p.x >= c.rect.origin.x && p.x < c.rect.origin.x + c.rect.size.width && p.y >= c.rect.origin.y &&
            p.y < c.rect.origin.y + c.rect.size.height)
            return c.cursor;
    return nullptr;
}

MSBitmapContext* MSGraphicsContextCurrent() { return st().drawing; }

int MSWindowLevelForKey(int key) {
    // Normal windows sit at 0; the pop-up menu level is above floating panels.
    return key == 11 ? 101 : key == 5 ? 3 : 0;
}

// ---------------------------------------------------------------------------
// Windows

MSWindow::MSWindow(MSRect contentRect, unsigned styleMask, bool) : style_(styleMask), content_(contentRect) {
    if (!videoUp()) return;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    // Borderless windows are popups (lists, menus, hints): the window
    // manager leaves them where we put them (override-redirect on X11).
    if (styleMask == MSWindowStyleBorderless)
        flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_POPUP_MENU;
    if (styleMask & MSWindowStyleResizable) flags |= SDL_WINDOW_RESIZABLE;
    int w = std::max(1, int(contentRect.size.width)), h = std::max(1, int(contentRect.size.height));
    double H = screenHeight();
    SDL_Window* win = SDL_CreateWindow("", int(contentRect.origin.x),
                                       int(H - contentRect.origin.y - contentRect.size.height), w, h, flags);
    if (!win) return;
    sdl_ = win;
    number_ = st().nextNumber++;
    st().windows[number_] = this;
    SDL_SetWindowData(win, "msw", this);
    msx11::settle(win, styleMask == MSWindowStyleBorderless);
    int top = 0;
    if (styleMask != MSWindowStyleBorderless && SDL_GetWindowBordersSize(win, &top, nullptr, nullptr, nullptr) == 0)
        titleBar_ = top;
    resizeBacking(w, h);
}

MSWindow::~MSWindow() {
    State& s = st();
    if (s.key == this) s.key = nullptr;
    s.keyOrder.erase(std::remove(s.keyOrder.begin(), s.keyOrder.end(), this), s.keyOrder.end());
    if (sheetParent_) sheetParent_->sheet_ = nullptr;
    if (sheet_) sheet_->sheetParent_ = nullptr;
    if (view_) { view_->window_ = nullptr; delete view_; }
    if (sdl_) {
        s.windows.erase(number_);
        SDL_SetWindowData(static_cast<SDL_Window*>(sdl_), "msw", nullptr);
        SDL_DestroyWindow(static_cast<SDL_Window*>(sdl_));
    }
}

void MSWindow::resizeBacking(int w, int h) {
    pixels_.assign(size_t(std::max(w, 0)) * size_t(std::max(h, 0)), 0);
    backing_.pixels = pixels_.data();
    backing_.width = w;
    backing_.height = h;
    backing_.stride = w;
}

void MSWindow::setContentView(MSView* view) {
    if (view_ == view) return;
    if (view_) { view_->window_ = nullptr; delete view_; }
    view_ = view;
    if (view_) {
        view_->window_ = this;
        view_->setNeedsDisplay(true);
    }
}

void MSWindow::setTitle(const std::string& title) {
    title_ = title;
    if (sdl_) SDL_SetWindowTitle(static_cast<SDL_Window*>(sdl_), title.c_str());
}

MSRect MSWindow::frame() const {
    MSRect f = content_;
    f.size.height += titleBar_;
    return f;
}

void MSWindow::placeSdl() {
    if (!sdl_) return;
    SDL_Window* w = static_cast<SDL_Window*>(sdl_);
    double H = screenHeight();
    SDL_SetWindowPosition(w, int(content_.origin.x), int(H - content_.origin.y - content_.size.height));
    SDL_SetWindowSize(w, std::max(1, int(content_.size.width)), std::max(1, int(content_.size.height)));
}

void MSWindow::setFrame(MSRect f, bool display) {
    MSRect c = f;
    c.size.height = std::max(0.0, f.size.height - titleBar_);
    bool resized = c.size.width != content_.size.width || c.size.height != content_.size.height;
    content_ = c;
    placeSdl();
    if (resized) {
        resizeBacking(int(c.size.width), int(c.size.height));
        if (view_) view_->setNeedsDisplay(true);
    }
    if (display) displayIfNeeded();
}

void MSWindow::center() {
    MSRect scr;
    if (!MSScreenMainVisibleFrame(scr)) return;
    MSRect f = frame();
    f.origin.x = std::trunc(scr.origin.x + (scr.size.width - f.size.width) / 2);
    f.origin.y = std::trunc(scr.origin.y + (scr.size.height - f.size.height) / 2);
    setFrame(f, false);
}

void MSWindow::miniaturize() {
    miniaturized_ = true;
    if (sdl_) SDL_MinimizeWindow(static_cast<SDL_Window*>(sdl_));
}

void MSWindow::zoom() {
    MSRect scr;
    if (zoomed_) {
        zoomed_ = false;
        setFrame(unzoomed_, true);
    } else if (MSScreenMainVisibleFrame(scr)) {
        unzoomed_ = frame();
        zoomed_ = true;
        setFrame(scr, true);
    }
}

void MSWindow::applyLimits() {
    if (!sdl_) return;
    SDL_Window* w = static_cast<SDL_Window*>(sdl_);
    SDL_SetWindowMinimumSize(w, std::max(1, int(minSize_.width)), std::max(1, int(minSize_.height)));
    if (maxSize_.width > 0 && maxSize_.height > 0)
        SDL_SetWindowMaximumSize(w, int(maxSize_.width), int(maxSize_.height));
}

void MSWindow::orderFront() {
    if (!sdl_ || closed_) return;
    visible_ = true;
    // A popup comes up without the keyboard: the window it belongs to keeps
    // the server's focus, and keys reach the popup as the key window's.
    if (isPopup() && msx11::mapPopup(sdl_, true)) return;
    SDL_ShowWindow(static_cast<SDL_Window*>(sdl_));
    SDL_RaiseWindow(static_cast<SDL_Window*>(sdl_));
}

void MSWindow::orderOut() {
    visible_ = false;
    if (sdl_ && !(isPopup() && msx11::mapPopup(sdl_, false))) SDL_HideWindow(static_cast<SDL_Window*>(sdl_));
    State& s = st();
    if (s.key != this) return;
    s.key = nullptr;
    resignKeyWindow();
    // As on the desktop we stand in for, the window that had the keyboard
    // before takes it back: without this nobody would have it once a
    // dialog or a list closed.
    for (auto it = s.keyOrder.rbegin(); it != s.keyOrder.rend(); ++it) {
        MSWindow* w = *it;
        if (w != this && w->visible_ && !w->closed_) {
            w->makeKeyWindow();
            break;
        }
    }
}

bool MSWindow::isKeyWindow() const { return st().key == this; }

void MSWindow::makeKeyWindow() {
    State& s = st();
    if (closed_ || !canBecomeKeyWindow()) return;
    s.keyOrder.erase(std::remove(s.keyOrder.begin(), s.keyOrder.end(), this), s.keyOrder.end());
    s.keyOrder.push_back(this);
    if (s.key != this) {
        MSWindow* old = s.key;
        s.key = this;
        if (old) old->resignKeyWindow();
        becomeKeyWindow();
    }
    takeKeyboard();
}

void MSWindow::takeKeyboard() {
    // Popups never hold the server's focus; a titled window takes it only
    // from ourselves or from nobody, never from another program.
    if (isPopup() || !visible_ || closed_ || !sdl_ || msx11::hasFocus(sdl_)) return;
    std::vector<void*> ours;
    for (auto& kv : st().windows)
        if (kv.second->sdl_) ours.push_back(kv.second->sdl_);
    if (msx11::focusIsOursOrNobody(sdl_, ours)) msx11::giveFocus(sdl_);
}

void MSWindow::makeKeyAndOrderFront() {
    orderFront();
    makeKeyWindow();
}

bool MSWindow::postEvent(const MSEvent& event, bool atStart) {
    MSApplication* app = MSApplication::shared();
    if (!app) return false;
    MSEvent e = event;
    e.windowNumber = number_;
    return app->postEvent(e, atStart);
}

void MSWindow::invalidateCursorRectsForView(MSView* view) {
    if (!view || view != view_) return;
    view->discardCursorRects();
    view->resetCursorRects();
    // The pointer over this window, or the window with the keyboard, shows
    // the cursor at once.
    MSRect c = content_;
    MSPoint p = st().pointer;
    MSPoint local{p.x - c.origin.x, p.y - c.origin.y};
    bool over = local.x >= 0 && local.y >= 0 && local.x < c.size.width && local.y < c.size.height;
    if (over || isKeyWindow()) {
        MSCursor* cur = view->cursorAt(over ? local : MSPoint{0, 0});
        (cur ? cur : MSCursor::arrowCursor())->set();
    }
}

void MSWindow::display() {
    if (view_) view_->setNeedsDisplay(true);
    displayIfNeeded();
}

void MSWindow::displayIfNeeded() {
    if (!view_ || !view_->needsDisplay() || closed_) return;
    MSRect dirty = view_->dirtyRect();
    view_->setNeedsDisplay(false);
    MSBitmapContext* prev = st().drawing;
    st().drawing = &backing_;
    view_->drawRect(dirty);
    st().drawing = prev;
    if (!sdl_ || !visible_) return;
    SDL_Window* w = static_cast<SDL_Window*>(sdl_);
    SDL_Surface* surf = SDL_GetWindowSurface(w);
    if (!surf || surf->format->BytesPerPixel != 4) return;
    if (SDL_LockSurface(surf) != 0) return;
    int rows = std::min(surf->h, backing_.height), cols = std::min(surf->w, backing_.width);
    for (int y = 0; y < rows; ++y)
        std::memcpy(static_cast<char*>(surf->pixels) + size_t(y) * surf->pitch, backing_.pixels + size_t(y) * backing_.stride,
                    size_t(cols) * 4);
    SDL_UnlockSurface(surf);
    SDL_UpdateWindowSurface(w);
}

void MSWindow::performClose() {
    if (closed_) return;
    if (windowShouldClose()) close();
}

void MSWindow::close() {
    if (closed_) return;
    orderOut();
    closed_ = true;
}

void MSWindow::contentResized(int w, int h) {
    // A window is never smaller than its minimum content size, as on the
    // desktop we stand in for: a window manager that ignores the size hints
    // (or another program) may make it so, and it grows back.  The size it
    // gets then arrives as a change of its own.
    const int minW = int(minSize_.width), minH = int(minSize_.height);
    if (sdl_ && (w < minW || h < minH)) {
        SDL_SetWindowSize(static_cast<SDL_Window*>(sdl_), std::max(w, minW), std::max(h, minH));
        return;
    }
    MSSize want = windowWillResize(MSSize{double(w), double(h + titleBar_)});
    (void)want;
    if (w == int(content_.size.width) && h == int(content_.size.height)) return;
    // The top edge stays where it was.
    double top = content_.origin.y + content_.size.height;
    content_.size = MSSize{double(w), double(h)};
    content_.origin.y = top - h;
    resizeBacking(w, h);
    if (view_) view_->setNeedsDisplay(true);
}

void MSWindow::sendEvent(const MSEvent& e) {
    switch (e.type) {
    case MSEventTypeLeftMouseDown: mouseDown(e); break;
    case MSEventTypeLeftMouseUp: mouseUp(e); break;
    case MSEventTypeRightMouseDown: rightMouseDown(e); break;
    case MSEventTypeRightMouseUp: rightMouseUp(e); break;
    case MSEventTypeMouseMoved: mouseMoved(e); break;
    case MSEventTypeLeftMouseDragged: mouseDragged(e); break;
    case MSEventTypeRightMouseDragged: rightMouseDragged(e); break;
    case MSEventTypeMouseEntered: mouseEntered(e); break;
    case MSEventTypeMouseExited: mouseExited(e); break;
    case MSEventTypeKeyDown: keyDown(e); break;
    case MSEventTypeKeyUp: keyUp(e); break;
    case MSEventTypeScrollWheel: scrollWheel(e); break;
    case MSEventTypeAppKitDefined:
        switch (e.subtype) {
        case MSAppKitCloseRequest: performClose(); break;
        case MSAppKitFocusGained: {
            // A window under a sheet hands the keyboard on to its sheet, and
            // the server's focus to the innermost titled one (a window
            // manager that gives the focus to the window under the pointer
            // would leave it on the blocked parent).
            MSWindow* w = this;
            MSWindow* titled = isPopup() ? nullptr : this;
            while (w->sheet_) {
                w = w->sheet_;
                if (!w->isPopup()) titled = w;
            }
            w->makeKeyWindow();
            if (titled && titled != this) titled->takeKeyboard();
            break;
        }
        case MSAppKitFocusLost:
            if (isKeyWindow()) {
                st().key = nullptr;
                resignKeyWindow();
            }
            break;
        case MSAppKitResized: contentResized(int(e.data1), int(e.data2)); break;
        case MSAppKitMoved:
            content_.origin = MSPoint{double(e.data1), screenHeight() - double(e.data2) - content_.size.height};
            break;
        case MSAppKitExposed: if (view_) view_->setNeedsDisplay(true); break;
        default: break;
        }
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// The application

MSApplication* MSApplication::shared() { return st().app; }

MSApplication* MSApplication::install(MSApplication* app) {
    State& s = st();
    if (s.app) {
        if (app != s.app) delete app;
        return s.app;
    }
    if (!app || !videoUp()) {
        delete app;
        return nullptr;
    }
    s.wakeType = SDL_RegisterEvents(1);
    if (s.wakeType == uint32_t(-1)) {
        delete app;
        return nullptr;
    }
    s.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.app = app;
    return app;
}

MSApplication::MSApplication() = default;
MSApplication::~MSApplication() = default;

void MSApplication::activateIgnoringOtherApps(bool flag) { active_ = flag; }

double MSApplication::distantFuture() { return std::numeric_limits<double>::infinity(); }

bool MSApplication::nextEvent(uint64_t, double untilDate, MSEvent& out, bool dequeue) {
    State& s = st();
    const double deadline = MSTimeNow() + untilDate;
    bool hookRan = false;
    for (;;) {
        SDL_Event ev;
        SDL_PumpEvents();
        int got = SDL_PeepEvents(&ev, 1, dequeue ? SDL_GETEVENT : SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
        if (got == 1) {
            if (convert(ev, out)) return true;
            if (!dequeue) SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
            continue;
        }
        // Nothing queued: draw what waits for display, then wait.
        for (auto& kv : std::map<long, MSWindow*>(s.windows))
            if (s.windows.count(kv.first)) kv.second->displayIfNeeded();
        if (s.idleHook) {
            // A test drives the loop: after its hook, an empty queue ends
            // the wait, so that loops look at their state again.
            if (hookRan) return false;
            hookRan = true;
            auto hook = s.idleHook;
            hook();
            continue;
        }
        double left = deadline - MSTimeNow();
        if (left <= 0) return false;
        int ms = std::isinf(left) || left > 1e6 ? -1 : int(std::ceil(left * 1000));
        if (!waitForEvents(ms) && ms >= 0 && MSTimeNow() >= deadline) return false;
    }
}

void MSApplication::sendEvent(const MSEvent& e) {
    if (e.type == MSEventTypeAppKitDefined && e.subtype == MSAppKitQuitRequest) {
        terminateRequested();
        return;
    }
    if (!e.windowNumber) return;
    if (MSWindow* w = windowWithNumber(e.windowNumber)) w->sendEvent(e);
}

bool MSApplication::postEvent(const MSEvent& e, bool atStart) {
    {
        std::lock_guard<std::mutex> g(gPostedLock);
        if (atStart) gPosted.push_front(e);
        else gPosted.push_back(e);
    }
    if (pushWake()) return true;
    std::lock_guard<std::mutex> g(gPostedLock);
    // The token could not be queued: take the event back out.
    for (auto it = gPosted.begin(); it != gPosted.end(); ++it)
        if (it->timestamp == e.timestamp && it->type == e.type && it->windowNumber == e.windowNumber) {
            gPosted.erase(it);
            break;
        }
    return false;
}

MSWindow* MSApplication::keyWindow() const { return st().key; }

MSWindow* MSApplication::windowWithNumber(long number) const {
    auto it = st().windows.find(number);
    return it == st().windows.end() ? nullptr : it->second;
}

void MSApplication::beginSheet(MSWindow* sheet, MSWindow* parent) {
    if (!sheet || !parent) return;
    parent->sheet_ = sheet;
    sheet->sheetParent_ = parent;
    // A sheet hangs from the top edge of its parent, centred; a borderless
    // window (a popup run modally) keeps its place.
    if (sheet->styleMask() != MSWindowStyleBorderless) {
        MSRect p = parent->contentRect(), f = sheet->frame();
        f.origin.x = std::trunc(p.origin.x + (p.size.width - f.size.width) / 2);
        f.origin.y = p.origin.y + p.size.height - f.size.height;
        sheet->setFrame(f, false);
    }
    if (sheet->sdl_ && parent->sdl_) {
        SDL_SetWindowModalFor(static_cast<SDL_Window*>(sheet->sdl_), static_cast<SDL_Window*>(parent->sdl_));
        if (!sheet->isPopup()) msx11::markModal(sheet->sdl_, parent->sdl_);
    }
    sheet->makeKeyAndOrderFront();
}

void MSApplication::endSheet(MSWindow* sheet) {
    if (!sheet) return;
    if (sheet->sheetParent_ && sheet->sheetParent_->sheet_ == sheet) sheet->sheetParent_->sheet_ = nullptr;
    sheet->sheetParent_ = nullptr;
    sheet->orderOut();
}

// ---------------------------------------------------------------------------
// Screens and power

bool MSScreenMainFrame(MSRect& frame) {
    frame = MSRect{};
    SDL_Rect r;
    if (!videoUp() || SDL_GetDisplayBounds(0, &r) != 0) return false;
    frame = MSMakeRect(0, 0, r.w, r.h);
    return true;
}

bool MSScreenMainVisibleFrame(MSRect& frame) {
    frame = MSRect{};
    SDL_Rect full, r;
    if (!videoUp() || SDL_GetDisplayBounds(0, &full) != 0 || SDL_GetDisplayUsableBounds(0, &r) != 0) return false;
    // Bottom-left origin: the usable area's bottom edge measured from the screen's.
    frame = MSMakeRect(r.x - full.x, (full.y + full.h) - (r.y + r.h), r.w, r.h);
    return true;
}

void* MSAnySystemWindow() {
    State& s = st();
    if (s.key && s.key->sdlWindow()) return s.key->sdlWindow();
    for (auto& kv : s.windows)
        if (kv.second->sdlWindow()) return kv.second->sdlWindow();
    return nullptr;
}

int MSPowerAssertionCreateWithName(const char* type, int level, const char* name, uint32_t* id) {
    (void)name;
    if (!id || !type || std::strcmp(type, "NoDisplaySleepAssertion") != 0 || level != 255) return 1;
    if (!videoUp()) return 2;
    State& s = st();
    *id = s.nextAssertion++;
    s.assertions.insert(*id);
    SDL_DisableScreenSaver();
    s.saverInhibited = true;
    return 0;
}

int MSPowerAssertionRelease(uint32_t id) {
    State& s = st();
    if (!s.assertions.erase(id)) return 1;
    if (s.assertions.empty()) {
        SDL_EnableScreenSaver();
        s.saverInhibited = false;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Test hooks

namespace mstest {

void setIdleHook(std::function<void()> fn) { st().idleHook = std::move(fn); }

static uint32_t sdlId(MSWindow* w) {
    return w && w->sdlWindow() ? SDL_GetWindowID(static_cast<SDL_Window*>(w->sdlWindow())) : 0;
}

void injectMouseButton(MSWindow* w, int button, bool down, int x, int y, unsigned mods) {
    SDL_SetModState(SDL_Keymod(mods));
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = sdlId(w);
    e.button.button = button == 2 ? SDL_BUTTON_RIGHT : SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

void injectMouseMove(MSWindow* w, int x, int y, unsigned buttons, unsigned mods) {
    SDL_SetModState(SDL_Keymod(mods));
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = sdlId(w);
    e.motion.state = (buttons & 1 ? SDL_BUTTON_LMASK : 0) | (buttons & 2 ? SDL_BUTTON_RMASK : 0);
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
}

void injectWheel(MSWindow* w, int dx, int dy, unsigned mods) {
    SDL_SetModState(SDL_Keymod(mods));
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = sdlId(w);
    e.wheel.x = dx;
    e.wheel.y = dy;
    e.wheel.preciseX = float(dx);
    e.wheel.preciseY = float(dy);
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_PushEvent(&e);
}

void injectKey(MSWindow* w, int scancode, bool down, unsigned mods, const char* text) {
    SDL_SetModState(SDL_Keymod(mods));
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = sdlId(w);
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = SDL_Scancode(scancode);
    e.key.keysym.sym = SDL_GetKeyFromScancode(SDL_Scancode(scancode));
    e.key.keysym.mod = Uint16(mods);
    SDL_PushEvent(&e);
    if (down && text) {
        SDL_Event t;
        std::memset(&t, 0, sizeof t);
        t.type = SDL_TEXTINPUT;
        t.text.windowID = sdlId(w);
        std::strncpy(t.text.text, text, sizeof t.text.text - 1);
        SDL_PushEvent(&t);
    }
}

void injectForeignClick(int type, double sx, double sy) {
    if (MSApplication* app = MSApplication::shared())
        app->postEvent(MSEvent::otherEvent(MSEventTypeAppKitDefined, MSPoint{sx, sy}, 0, MSTimeNow(), 0,
                                           MSAppKitDeactivated, type, 0),
                       false);
}

void injectQuitRequest() {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}

void injectCloseRequest(MSWindow* w) {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = sdlId(w);
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&e);
}

void setPointer(double sx, double sy) { st().pointer = MSPoint{sx, sy}; }

int pendingPosted() {
    std::lock_guard<std::mutex> g(gPostedLock);
    return int(gPosted.size());
}

int powerAssertions() { return int(st().assertions.size()); }

bool screenSaverInhibited() { return st().saverInhibited && !SDL_IsScreenSaverEnabled(); }

}  // namespace mstest
