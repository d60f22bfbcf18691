// Inside the stand-in only: Xlib's errors taken as answers for a while.
#pragma once

#include <X11/Xlib.h>

namespace msx11 {

// Requests about a window that a manager may unmap, another client may take
// the focus from, or a reader of ours may destroy meanwhile: the server's
// refusal is an answer there, not a fault that ends the program, as Xlib's
// default handler would have it.  The requests made before are settled
// first and those made under it are settled before the handler goes back.
class cQuietErrors {
public:
    explicit cQuietErrors(Display* dpy) : mDpy(dpy) {
        XSync(mDpy, False);
        mOld = XSetErrorHandler(&ignore);
    }
    ~cQuietErrors() {
        XSync(mDpy, False);
        XSetErrorHandler(mOld);
    }
    cQuietErrors(const cQuietErrors&) = delete;
    cQuietErrors& operator=(const cQuietErrors&) = delete;

private:
    static int ignore(Display*, XErrorEvent*) { return 0; }
    Display* mDpy;
    int (*mOld)(Display*, XErrorEvent*) = nullptr;
};

}  // namespace msx11
