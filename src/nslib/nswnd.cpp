#include "nslib/nswnd.h"

#include <unistd.h>

#include <cmath>

#include "nslib/nscocoa.h"

namespace {

cAppWrapper* gApp = nullptr;
MSAutoreleasePool* gPool = nullptr;
void* gGlobalEventFlag = nullptr;
cNSWndWrapper* gMouseCapture = nullptr;
uint32_t pmAssertionID = 0;
int gQuitRequests = 0;

cNSWndWrapper* wnd(void* h) { return static_cast<cNSWndWrapper*>(h); }

// The height of the main screen's frame, the axis every conversion flips on.
double screenH() {
    MSRect f;
    return MSScreenMainFrame(f) ? f.size.height : 0;
}

int headerOf(cNSWndWrapper* w) { return int(w->frame().size.height - w->contentRect().size.height); }

// Dispatches events until the window's modal result leaves the sentinel, or
// until the window is destroyed under its own loop (nothing could end it
// after that).
void runUntilResult(cNSWndWrapper* w) {
    MSApplication* app = MSApplication::shared();
    // Quit requests this loop has offered its window; one pending before
    // the loop started is offered at once.
    int offered = 0;
    while (w->modalRC() == kNSModalRunning && w->isValid()) {
        if (offered != gQuitRequests) {
            offered = gQuitRequests;
            if (w->offerQuit()) continue;
        }
        MSEvent ev;
        if (!app->nextEvent(MSEventMaskAny, MSApplication::distantFuture(), ev, true)) continue;
        app->sendEvent(ev);
    }
}

}  // namespace

void nswnd_init() {
    if (gApp) return;
    auto* app = new cAppWrapper;
    if (MSApplication::install(app) != app) return;
    gApp = app;
    static MSAutoreleasePool pool;
    gPool = &pool;
    gGlobalEventFlag = MSEvent::addGlobalMonitor(30, [](const MSEvent& e) { processGlobalMouseEvent(e); });
    gApp->activateIgnoringOtherApps(true);
}

cNSWndWrapper* captured() { return gMouseCapture; }

void nswnd_msgloop() {
    nswnd_init();
    if (!gApp) return;
    while (!gQuitRequests) {
        MSEvent ev;
        if (!gApp->nextEvent(MSEventMaskAny, MSApplication::distantFuture(), ev, true)) break;
        gApp->sendEvent(ev);
    }
}

void nswnd_request_quit() { ++gQuitRequests; }
int nswnd_quit_requests() { return gQuitRequests; }

bool nswnd_desktop_size(int& w, int& h) {
    MSRect f;
    MSScreenMainFrame(f);
    w = int(f.size.width);
    h = int(f.size.height);
    return true;
}

bool nswnd_main_optimal(int& x, int& y, int& w, int& h) {
    MSRect f;
    MSScreenMainVisibleFrame(f);
    x = y = -1;
    w = int(f.size.width * 0.7);
    h = int(f.size.height * 0.7);
    return true;
}

void* nswnd_create_wnd(tNSEventCallback callback, void* param, const char* caption, int w, int h, bool resizable,
                       int x, int y) {
    nswnd_init();
    bool centre = x == -1 && y == -1;
    MSRect r = MSMakeRect(centre ? 0 : x, centre ? 0 : screenH() - y - h, w, h);
    unsigned style = resizable ? 15u : 3u;
    auto* win = new cNSWndWrapper(r, style);
    if (!win->valid()) {
        win->release();
        return nullptr;
    }
    win->initVars();
    win->setShowsResizeIndicator(true);
    win->setResizeIncrements(MSSize{5, 5});
    win->setHidesOnDeactivate(false);
    win->setContentView(new cNSViewWrap);
    win->setBackgroundColor(MSColor{0.8745, 0.898, 0.953, 0.8});
    if (centre) win->center();
    win->setAcceptsMouseMovedEvents(true);
    win->setReleasedWhenClosed(false);
    win->setFixedPos(false);
    if (caption) win->setUTF8Caption(caption);
    win->setEventCallback(callback, param);
    return win;
}

void* nswnd_create_popup(tNSEventCallback callback, void* param, int x, int y, int w, int h) {
    nswnd_init();
    auto* win = new cNSWndWrapper(MSMakeRect(x, screenH() - y - h, w, h), MSWindowStyleBorderless);
    if (!win->valid()) {
        win->release();
        return nullptr;
    }
    win->initVars();
    win->setContentView(new cNSViewWrap);
    win->setAcceptsMouseMovedEvents(true);
    win->setReleasedWhenClosed(false);
    win->setHasShadow(true);
    win->setLevel(MSWindowLevelForKey(11));
    win->setBackgroundColor(MSColor{0, 0, 0, 0});
    win->setHidesOnDeactivate(false);
    win->setFixedPos(true);
    win->setEventCallback(callback, param);
    return win;
}

void nswnd_destroy(void* handle) {
    cNSWndWrapper* w = wnd(handle);
    if (!w) return;
    if (gMouseCapture == w) gMouseCapture = nullptr;
    w->setEventCallback(nullptr, nullptr);
    w->close();
    w->release();
}

void nswnd_cancel_capture(void* handle) {
    if (handle && gMouseCapture == wnd(handle)) gMouseCapture = nullptr;
}

bool nswnd_capture_mouse(void* handle) {
    if (!handle || !gGlobalEventFlag) return false;
    gMouseCapture = wnd(handle);
    return true;
}

int nswnd_modal(void* handle, void* parentHandle) {
    cNSWndWrapper* w = wnd(handle);
    if (!w || !w->isValid()) return 0;
    nswnd_init();
    if (!gApp) return 0;
    w->retain();
    int result;
    if (cNSWndWrapper* parent = wnd(parentHandle)) {
        parent->retain();
        if (w->fixedPos()) {
            w->makeKeyAndOrderFront();
            if (w->contentView()) w->contentView()->setNeedsDisplay(true);
            w->display();
        }
        if (gMouseCapture == parent) gMouseCapture = nullptr;
        // The sheet is a window of its own with its own title bar here: the
        // parent keeps its title.
        if (!gApp->isActive()) gApp->activateIgnoringOtherApps(true);
        if (!parent->isKeyWindow()) parent->makeKeyWindow();
        gApp->beginSheet(w, parent);
        w->setHeaderHeight(headerOf(w));
        parent->pushModalChild(w);
        runUntilResult(w);
        parent->removeModalChild(w);
        bool wasKey = w->isKeyWindow();
        w->orderOut();
        usleep(100000);
        if (wasKey && gApp->isActive()) parent->makeKeyWindow();
        result = w->modalRC() == kNSModalRunning ? 0 : w->modalRC();
        w->setModalRC(kNSModalRunning);
        gApp->endSheet(w);
        parent->release();
    } else {
        w->makeKeyAndOrderFront();
        if (w->contentView()) w->contentView()->setNeedsDisplay(true);
        w->display();
        w->setHeaderHeight(headerOf(w));
        runUntilResult(w);
        result = w->modalRC() == kNSModalRunning ? 0 : w->modalRC();
        w->setModalRC(kNSModalRunning);
    }
    w->release();
    return result;
}

void nswnd_modal_result(void* handle, int result) {
    if (handle) wnd(handle)->setModalRC(result);
}

bool nswnd_show_floating(void* handle) {
    cNSWndWrapper* w = wnd(handle);
    if (!w || !w->isValid()) return false;
    w->orderFront();
    if (w->contentView()) w->contentView()->setNeedsDisplay(true);
    w->setHeaderHeight(headerOf(w));
    w->display();
    return true;
}

bool nswnd_notify_action(void* handle) {
    cNSWndWrapper* w = wnd(handle);
    if (!w) return false;
    MSEvent e = MSEvent::otherEvent(MSEventTypeApplicationDefined, MSPoint{0, 0}, 0, MSTimeNow(), w->windowNumber(),
                                    kNSWakeUpSubtype, 0, 0);
    return w->postEvent(e, false);
}

bool nswnd_minimize(void* handle) {
    if (!handle) return false;
    wnd(handle)->miniaturize();
    return true;
}

bool nswnd_maximize(void* handle) {
    if (!handle) return false;
    wnd(handle)->zoom();
    return true;
}

bool nswnd_focus(void* handle) {
    if (!handle) return false;
    wnd(handle)->makeKeyWindow();
    return true;
}

bool nswnd_set_caption(void* handle, const char* utf8) {
    if (!handle) return false;
    wnd(handle)->setUTF8Caption(utf8);
    return true;
}

bool nswnd_move(void* handle, int x, int y, int w, int h) {
    if (!handle || w == 0) return false;
    wnd(handle)->setFrame(MSMakeRect(x, screenH() - y - h, w, h), true);
    return true;
}

bool nswnd_setpointer(void* handle, int type) {
    if (!handle) return false;
    MSCursor* c = nullptr;
    switch (type) {
    case 0: c = MSCursor::arrowCursor(); break;
    case 1: c = MSCursor::IBeamCursor(); break;
    case 2: c = MSCursor::crosshairCursor(); break;
    case 3: c = MSCursor::pointingHandCursor(); break;
    case 4: case 6: c = MSCursor::resizeLeftRightCursor(); break;
    case 5: case 7: c = MSCursor::resizeUpDownCursor(); break;
    case 8: case 9: c = MSCursor::closedHandCursor(); break;
    default: return false;
    }
    wnd(handle)->setCursor(c);
    return true;
}

bool nswnd_setminsize(void* handle, int w, int h) {
    if (!handle) return false;
    wnd(handle)->setContentMinSize(MSSize{double(w), double(h)});
    return true;
}

bool nswnd_setmaxsize(void* handle, int w, int h) {
    if (!handle) return false;
    wnd(handle)->setContentMaxSize(MSSize{double(w), double(h)});
    return true;
}

bool nswnd_getpossize(void* handle, int& x, int& y, int& w, int& h) {
    cNSWndWrapper* win = wnd(handle);
    if (!win) return false;
    MSRect f = win->frame();
    x = int(f.origin.x);
    w = int(f.size.width);
    h = int(f.size.height);
    y = int(screenH() - f.size.height - f.origin.y) + win->headerHeight();
    return true;
}

bool nswnd_client_area(void* handle, int& w, int& h) {
    cNSWndWrapper* win = wnd(handle);
    if (!win) return false;
    w = h = 0;
    if (MSView* v = win->contentView()) {
        w = int(v->frame().size.width);
        h = int(v->frame().size.height);
    }
    return true;
}

void* nswnd_cgctx(void* handle) { return handle ? wnd(handle)->backingStore() : nullptr; }

bool nswnd_invalidate_view(void* handle, int x, int y, int w, int h) {
    cNSWndWrapper* win = wnd(handle);
    if (!win) return false;
    MSView* v = win->contentView();
    if (!v) return true;
    if (!x && !y && !w && !h)
        v->setNeedsDisplay(true);
    else
        v->setNeedsDisplayInRect(MSMakeRect(x, v->frame().size.height - y - h, w, h));
    return true;
}

bool nswg_block_sleep(const char* reason) {
    if (pmAssertionID) {
        MSPowerAssertionRelease(pmAssertionID);
        pmAssertionID = 0;
    }
    uint32_t id = 0;
    if (MSPowerAssertionCreateWithName("NoDisplaySleepAssertion", 255, reason, &id) != 0) {
        pmAssertionID = 0;
        return false;
    }
    pmAssertionID = id;
    return true;
}

bool nswg_unblock_sleep() {
    if (!pmAssertionID) return false;
    MSPowerAssertionRelease(pmAssertionID);
    pmAssertionID = 0;
    return true;
}

void processGlobalMouseEvent(const MSEvent& e) {
    cNSWndWrapper* w = gMouseCapture;
    if (!w) return;
    MSPoint p = e.locationInWindow;  // a screen point for other applications' events
    MSRect f = w->frame();
    double contentH = w->contentRect().size.height;
    int x = int(p.x - f.origin.x);
    int y = int(f.origin.y + f.size.height - p.y - (f.size.height - contentH));
    w->extMouseEvent(e.type, x, y);
}
