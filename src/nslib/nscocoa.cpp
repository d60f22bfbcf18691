#include "nslib/nscocoa.h"

#include <cmath>

#include "nslib/nswnd.h"

namespace {

struct Mods {
    bool shift, command, control, option;
};

Mods modsOf(uint32_t flags) {
    return Mods{(flags & MSEventModifierFlagShift) != 0, (flags & MSEventModifierFlagCommand) != 0,
                (flags & MSEventModifierFlagControl) != 0, (flags & MSEventModifierFlagOption) != 0};
}

// The event's location in this window's content: events of another window
// (a release after a drag across windows) are carried over through the screen.
MSPoint localPoint(const MSEvent& e, const MSWindow* w) {
    MSApplication* app = MSApplication::shared();
    MSWindow* src = app && e.windowNumber && e.windowNumber != w->windowNumber() ? app->windowWithNumber(e.windowNumber)
                                                                                 : nullptr;
    if (!src) return e.locationInWindow;
    MSRect a = src->contentRect(), b = w->contentRect();
    return MSPoint{e.locationInWindow.x + a.origin.x - b.origin.x, e.locationInWindow.y + a.origin.y - b.origin.y};
}

}  // namespace

cNSWndWrapper::cNSWndWrapper(MSRect contentRect, unsigned styleMask) : MSWindow(contentRect, styleMask, true) {}

cNSWndWrapper::~cNSWndWrapper() = default;

void cNSWndWrapper::release() {
    if (--myRefs == 0) delete this;
}

void cNSWndWrapper::setEventCallback(tNSEventCallback proc, void* param) {
    myEventCbProc = proc;
    myEventCbParam = param;
}

void cNSWndWrapper::initVars() {
    myEventCbProc = nullptr;
    myEventCbParam = nullptr;
    myHdrHeight = 0;
    myModalRC = kNSModalRunning;
    myModalChildren.clear();
    myCaption.clear();
    myHasCaption = false;
}

void cNSWndWrapper::pushModalChild(cNSWndWrapper* child) {
    if (child) myModalChildren.push_back(child);
}

void cNSWndWrapper::removeModalChild(cNSWndWrapper* child) {
    for (size_t i = myModalChildren.size(); i-- > 0;)
        if (myModalChildren[i] == child) {
            myModalChildren.erase(myModalChildren.begin() + long(i));
            return;
        }
}

void cNSWndWrapper::setCaption(const std::string& caption) {
    setTitle(caption);
    myCaption = caption;
    myHasCaption = true;
}

void cNSWndWrapper::setUTF8Caption(const char* utf8) { setCaption(utf8 ? std::string(utf8) : std::string()); }

void cNSWndWrapper::resetCaption() { setTitle(myHasCaption ? myCaption : std::string()); }

void cNSWndWrapper::setCursor(MSCursor* cursor) {
    if (auto* v = dynamic_cast<cNSViewWrap*>(contentView())) {
        v->setCursor(cursor);
        invalidateCursorRectsForView(v);
    }
}

int cNSWndWrapper::call(int code, void* record) {
    return myEventCbProc ? myEventCbProc(code, record, myEventCbParam) : 0;
}

int32_t cNSWndWrapper::xOf(const MSEvent& e) const { return int32_t(std::trunc(localPoint(e, this).x)); }

int32_t cNSWndWrapper::yOf(const MSEvent& e) const {
    double h = contentView() ? contentView()->frame().size.height : contentRect().size.height;
    return int32_t(std::trunc(h - localPoint(e, this).y));
}

void cNSWndWrapper::button(const MSEvent& e, bool down, int btn) {
    Mods m = modsOf(e.modifierFlags);
    sNSMouseButtonRec r{down ? 1 : 0, btn, xOf(e), yOf(e), m.shift, m.command, m.control, m.option};
    call(kNSEvMouseButton, &r);
}

void cNSWndWrapper::move(const MSEvent& e, bool left, bool right) {
    Mods m = modsOf(e.modifierFlags);
    sNSMouseMoveRec r{xOf(e), yOf(e), left, right, m.shift, m.command, m.control, m.option};
    call(kNSEvMouseMove, &r);
}

bool cNSWndWrapper::windowShouldClose() {
    if (cNSWndWrapper* child = modalChild()) {
        // A window under a modal sheet stays: its loop waits under the
        // sheet's, and a result stored now would end the program once the
        // sheet ended.  The sheet comes to the front instead, with the
        // keyboard.
        cNSWndWrapper* inner = child;
        for (cNSWndWrapper* c = child; c; c = c->modalChild()) {
            c->orderFront();
            inner = c;
        }
        inner->makeKeyWindow();
        return false;
    }
    if (myEventCbProc && call(kNSEvClose, nullptr) != 0) return false;
    // A form that ended itself on the way (its cancel) keeps its result.
    if (myModalRC == kNSModalRunning) myModalRC = 0;
    return true;
}

MSSize cNSWndWrapper::windowWillResize(MSSize proposed) {
    sNSSizeRec r{int32_t(std::trunc(proposed.width)), int32_t(std::trunc(proposed.height)) - myHdrHeight};
    call(kNSEvSize, &r);
    return proposed;
}

void cNSWndWrapper::mouseDown(const MSEvent& e) {
    if (!myEventCbProc) return;
    button(e, true, 1);
    // The press loop: this window receives the release of every left press
    // it received, wherever it happens; other events go their usual way.
    MSApplication* app = MSApplication::shared();
    if (!app) return;
    retain();
    const int quits = nswnd_quit_requests();
    while (isValid() && myModalRC == kNSModalRunning && nswnd_quit_requests() == quits) {
        MSEvent ev;
        if (!app->nextEvent(MSEventMaskAny, MSApplication::distantFuture(), ev, true)) continue;
        if (ev.type == MSEventTypeLeftMouseUp) {
            mouseUp(ev);
            break;
        }
        app->sendEvent(ev);
    }
    release();
}

void cNSWndWrapper::rightMouseDown(const MSEvent& e) { button(e, true, 2); }
void cNSWndWrapper::mouseUp(const MSEvent& e) { button(e, false, 1); }
void cNSWndWrapper::rightMouseUp(const MSEvent& e) { button(e, false, 2); }
void cNSWndWrapper::mouseMoved(const MSEvent& e) { move(e, false, false); }
void cNSWndWrapper::mouseDragged(const MSEvent& e) { move(e, true, false); }
void cNSWndWrapper::rightMouseDragged(const MSEvent& e) { move(e, false, true); }

void cNSWndWrapper::scrollWheel(const MSEvent& e) {
    int32_t dx = int32_t(std::trunc(e.deltaX)), dy = int32_t(std::trunc(e.deltaY)), dz = int32_t(std::trunc(e.deltaZ));
    if (!dx && !dy && !dz) return;
    Mods m = modsOf(e.modifierFlags);
    sNSWheelRec r{xOf(e), yOf(e), dx, dy, dz, m.shift, m.command, m.control, m.option};
    call(kNSEvWheel, &r);
}

void cNSWndWrapper::mouseEntered(const MSEvent&) { call(kNSEvEnter, nullptr); }
void cNSWndWrapper::mouseExited(const MSEvent&) { call(kNSEvLeave, nullptr); }

void cNSWndWrapper::keyDown(const MSEvent& e) {
    Mods m = modsOf(e.modifierFlags);
    sNSKeyRec r{int32_t(e.keyCode), true, m.shift, m.command, m.control, m.option};
    call(kNSEvKey, &r);
    // Characters only for plain typing: no shortcut modifier, no function key.
    if (m.command || m.control || (e.modifierFlags & MSEventModifierFlagFunction)) return;
    for (char16_t u : e.characters) {
        if (!u || !myEventCbProc) break;
        sNSCharRec c{uint16_t(u), m.shift, m.option};
        call(kNSEvChar, &c);
    }
}

void cNSWndWrapper::keyUp(const MSEvent& e) {
    Mods m = modsOf(e.modifierFlags);
    sNSKeyRec r{int32_t(e.keyCode), false, m.shift, m.command, m.control, m.option};
    call(kNSEvKey, &r);
}

void cNSWndWrapper::becomeKeyWindow() { call(kNSEvBecameKey, nullptr); }
void cNSWndWrapper::resignKeyWindow() { call(kNSEvResignedKey, nullptr); }

void cNSWndWrapper::processPaint(void* context, MSRect rect) {
    sNSPaintRec r{context, int32_t(std::trunc(rect.origin.x)), int32_t(std::trunc(rect.origin.y)),
                  int32_t(std::trunc(rect.size.width)), int32_t(std::trunc(rect.size.height))};
    call(kNSEvPaint, &r);
}

bool cNSWndWrapper::processParentEvent(const MSEvent& e, cNSWndWrapper*) {
    if (cNSWndWrapper* inner = modalChild()) return inner->processParentEvent(e, this);
    switch (e.type) {
    case MSEventTypeLeftMouseDown:
    case MSEventTypeLeftMouseUp:
    case MSEventTypeMouseMoved:
    case MSEventTypeLeftMouseDragged:
    case MSEventTypeRightMouseDragged:
        return true;
    default:
        return false;
    }
}

void cNSWndWrapper::simClickOut() {
    sNSMouseButtonRec r{1, 1, -1, -1, false, false, false, false};
    call(kNSEvMouseButton, &r);
}

bool cNSWndWrapper::offerQuit() {
    if (myEventCbProc && call(kNSEvQuit, nullptr) != 0) return false;
    if (myModalRC == kNSModalRunning) myModalRC = 0;
    return true;
}

void cNSWndWrapper::extMouseEvent(int type, int x, int y) {
    if (type == MSEventTypeMouseMoved) {
        sNSMouseMoveRec r{x, y, false, false, false, false, false, false};
        call(kNSEvMouseMove, &r);
    } else if (type >= MSEventTypeLeftMouseDown && type <= MSEventTypeRightMouseUp) {
        bool down = type == MSEventTypeLeftMouseDown || type == MSEventTypeRightMouseDown;
        bool right = type == MSEventTypeRightMouseDown || type == MSEventTypeRightMouseUp;
        sNSMouseButtonRec r{down ? 1 : 0, right ? 2 : 1, x, y, false, false, false, false};
        call(kNSEvMouseButton, &r);
    }
}

void cNSWndWrapper::sendEvent(const MSEvent& e) {
    retain();
    bool dropped = false;
    if (cNSWndWrapper* child = modalChild()) {
        // A press on a window that a modal dialog blocks brings the dialog
        // (and the dialogs it opened) to the front, with the keyboard: the
        // window manager may have raised the blocked window over it.
        if (e.type == MSEventTypeLeftMouseDown || e.type == MSEventTypeRightMouseDown) {
            cNSWndWrapper* inner = child;
            for (cNSWndWrapper* c = child; c; c = c->modalChild()) {
                if (c->styleMask() != MSWindowStyleBorderless && c->isVisible()) c->orderFront();
                inner = c;
            }
            if (inner->styleMask() != MSWindowStyleBorderless) inner->makeKeyWindow();
        }
        dropped = child->processParentEvent(e, this);
    }
    if (!dropped) {
        if (e.type == MSEventTypeApplicationDefined && e.subtype == kNSWakeUpSubtype)
            call(kNSEvWakeUp, nullptr);
        else
            MSWindow::sendEvent(e);
    }
    release();
}

void cNSViewWrap::drawRect(MSRect dirty) {
    auto* w = dynamic_cast<cNSWndWrapper*>(window());
    if (!w) return;
    double vh = frame().size.height;
    MSRect r = dirty;
    r.origin.y = vh - dirty.origin.y - dirty.size.height;
    w->processPaint(MSGraphicsContextCurrent(), r);
}

void cNSViewWrap::resetCursorRects() {
    discardCursorRects();
    if (myCursor) addCursorRect(frame(), myCursor);
}

namespace {

bool isPress(int type) { return type == MSEventTypeLeftMouseDown || type == MSEventTypeRightMouseDown; }
bool isRelease(int type) { return type == MSEventTypeLeftMouseUp || type == MSEventTypeRightMouseUp; }

// Whether a window-system happening means the user left the capture
// window's application: another application was activated with the pointer
// outside the capture window, or a window was moved or asked to close.
// Windows showing, hiding, taking or losing the focus among themselves (a
// popup's own appearance among them) do not count.
bool userLeft(const MSEvent& e, cNSWndWrapper* cap) {
    switch (e.subtype) {
    case MSAppKitDeactivated: {
        const MSPoint p = MSEvent::mouseLocation();
        const MSRect f = cap->frame();
        return !(f.origin.x <= p.x && p.x < f.origin.x + f.size.width && f.origin.y <= p.y &&
                 p.y <= f.origin.y + f.size.height);
    }
    case MSAppKitMoved:
    case MSAppKitCloseRequest:
        return true;
    default:
        return false;
    }
}

}  // namespace

void cAppWrapper::sendEvent(const MSEvent& e) {
    cNSWndWrapper* cap = captured();
    // The release of a press that went to the capture window from another
    // window goes no further either.
    if (isRelease(e.type) && e.type == mSwallowRelease) {
        mSwallowRelease = 0;
        return;
    }
    if (cap && isPress(e.type) && e.windowNumber && e.windowNumber != cap->windowNumber()) {
        // A press on another of our windows while a window holds the
        // pointer: the capture window sees it at its own coordinates
        // (outside its area, which closes a popup), and the press does
        // nothing where it happened.
        if (MSWindow* src = windowWithNumber(e.windowNumber)) {
            const MSRect a = src->contentRect(), b = cap->contentRect();
            const double x = e.locationInWindow.x + a.origin.x - b.origin.x;
            const double y = b.size.height - (e.locationInWindow.y + a.origin.y - b.origin.y);
            mSwallowRelease = e.type == MSEventTypeLeftMouseDown ? MSEventTypeLeftMouseUp : MSEventTypeRightMouseUp;
            cap->retain();
            cap->extMouseEvent(e.type, int(std::floor(x)), int(std::floor(y)));
            cap->release();
            return;
        }
    }
    if (e.type == MSEventTypeAppKitDefined && cap && userLeft(e, cap)) cap->simClickOut();
    MSApplication::sendEvent(e);
}

void cAppWrapper::terminateRequested() { nswnd_request_quit(); }
