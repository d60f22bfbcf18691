#include "macshim/x11desktop.h"

#include <poll.h>

#include <algorithm>

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
// Last: Xlib's macros (None, Bool, Status, ...) would clash with names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "macshim/x11quiet.h"

namespace {

using msx11::cQuietErrors;

struct sXWindow {
    Display* dpy = nullptr;
    Window win = 0;
};

bool xOf(void* sdlWindow, sXWindow& out) {
    if (!sdlWindow) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(static_cast<SDL_Window*>(sdlWindow), &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    out.dpy = info.info.x11.display;
    out.win = info.info.x11.window;
    return out.dpy && out.win;
}

Window focusOf(Display* dpy) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    return focus;
}

}  // namespace

namespace msx11 {

void settle(void* sdlWindow, bool popup) {
    sXWindow x;
    if (!xOf(sdlWindow, x)) return;
    // Transient for the root, a manager treats the window as a dialog of
    // nobody and gives it no title bar; the window a titled window belongs
    // to is named when it opens as a sheet.
    Window owner = 0;
    if (XGetTransientForHint(x.dpy, x.win, &owner) && owner == DefaultRootWindow(x.dpy))
        XDeleteProperty(x.dpy, x.win, XA_WM_TRANSIENT_FOR);
    if (popup) {
        XWMHints* hints = XGetWMHints(x.dpy, x.win);
        if (!hints) hints = XAllocWMHints();
        if (hints) {
            hints->flags |= InputHint;
            hints->input = False;
            XSetWMHints(x.dpy, x.win, hints);
            XFree(hints);
        }
    }
    XFlush(x.dpy);
}

void markModal(void* sdlWindow, void* parentSdlWindow) {
    sXWindow x, p;
    if (!xOf(sdlWindow, x) || !xOf(parentSdlWindow, p)) return;
    cQuietErrors quiet(x.dpy);
    XSetTransientForHint(x.dpy, x.win, p.win);
    const Atom state = XInternAtom(x.dpy, "_NET_WM_STATE", False);
    const Atom modal = XInternAtom(x.dpy, "_NET_WM_STATE_MODAL", False);
    // The states set already (SDL's) stay.
    std::vector<Atom> states;
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x.dpy, x.win, state, 0, 64, False, XA_ATOM, &type, &format, &n, &after, &data) ==
            Success &&
        data && format == 32) {
        const long* atoms = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i < n; ++i) states.push_back(Atom(atoms[i]));
    }
    if (data) XFree(data);
    if (std::find(states.begin(), states.end(), modal) == states.end()) states.push_back(modal);
    XChangeProperty(x.dpy, x.win, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(states.data()),
                    int(states.size()));
    XWindowAttributes a;
    if (XGetWindowAttributes(x.dpy, x.win, &a) && a.map_state != IsUnmapped) {
        // A manager owns the state of a mapped window: it is asked.
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = x.win;
        e.xclient.message_type = state;
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1;  // add
        e.xclient.data.l[1] = long(modal);
        e.xclient.data.l[3] = 1;  // asked by an application
        XSendEvent(x.dpy, DefaultRootWindow(x.dpy), False, SubstructureNotifyMask | SubstructureRedirectMask, &e);
    } else {
        const Atom kind = XInternAtom(x.dpy, "_NET_WM_WINDOW_TYPE", False);
        const Atom dialog = XInternAtom(x.dpy, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        XChangeProperty(x.dpy, x.win, kind, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&dialog), 1);
    }
}

bool mapPopup(void* sdlWindow, bool shown) {
    sXWindow x;
    if (!xOf(sdlWindow, x)) return false;
    // Popups are override-redirect: mapped at once, and no manager hands
    // them the focus.  SDL's own show would give it to them.
    if (shown) XMapRaised(x.dpy, x.win);
    else XUnmapWindow(x.dpy, x.win);
    XFlush(x.dpy);
    return true;
}

bool focusIsOursOrNobody(void* anySdlWindow, const std::vector<void*>& ours) {
    sXWindow x;
    if (!xOf(anySdlWindow, x)) return false;
    const Window focus = focusOf(x.dpy);
    if (focus == None || focus == PointerRoot || focus == DefaultRootWindow(x.dpy)) return true;
    for (void* w : ours) {
        sXWindow o;
        if (xOf(w, o) && o.win == focus) return true;
    }
    return false;
}

unsigned long xWindow(void* sdlWindow) {
    sXWindow x;
    return xOf(sdlWindow, x) ? static_cast<unsigned long>(x.win) : 0;
}

bool hasFocus(void* sdlWindow) {
    sXWindow x;
    return xOf(sdlWindow, x) && focusOf(x.dpy) == x.win;
}

int wait(void* sdlWindow, int wakeFd, int ms) {
    sXWindow x;
    if (!xOf(sdlWindow, x)) return -1;
    // What the server sent may already be read into Xlib's queue (by a
    // request that waited for its reply): the socket would not show it.
    XFlush(x.dpy);
    if (XEventsQueued(x.dpy, QueuedAlready) > 0) return 1;
    pollfd p[2] = {{ConnectionNumber(x.dpy), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int got = poll(p, wakeFd >= 0 ? 2 : 1, ms);
    return got > 0 ? 1 : 0;
}

void giveFocus(void* sdlWindow) {
    sXWindow x;
    if (!xOf(sdlWindow, x)) return;
    cQuietErrors quiet(x.dpy);
    XWindowAttributes a;
    if (!XGetWindowAttributes(x.dpy, x.win, &a) || a.map_state != IsViewable) return;
    XSetInputFocus(x.dpy, x.win, RevertToParent, CurrentTime);
}

}  // namespace msx11
