// Pointer and key routing, hover, capture, the focus path and its traversal
// by Tab and the arrow keys.
#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {
constexpr int kKeyTab = 0x109;
constexpr int kKeyLeft = 0x151;
constexpr int kKeyUp = 0x152;
constexpr int kKeyRight = 0x153;
constexpr int kKeyDown = 0x154;
constexpr int kKeyMenu = 0x167;
constexpr int kKeyF10 = 0x1C7;
// A second press of the primary button within this time and distance of the
// first is a double click.
constexpr unsigned int kDoubleClickMs = 499;
constexpr int kDoubleClickDistance = 2;
}  // namespace

unsigned int elementClockNow();
tHintMaker currentHintMaker();

// ---------------------------------------------------------------------------
// Pointer

void cChildElement::processMouseBtn(int x, int y, int button, bool down, bool m1, bool m2) {
    if (!enabled()) return;
    if (mCaptureChild) {
        toChild(mCaptureChild, x, y);
        mCaptureChild->processMouseBtn(x, y, button, down, m1, m2);
        return;
    }
    int cx = x, cy = y;
    if (cChildElement* c = hitChild(cx, cy, true)) {
        c->processMouseBtn(cx, cy, button, down, m1, m2);
        return;
    }
    if (!visible()) return;
    if (button == 2 && !down) notifyAction(new cCtxRequestAction(x, y, m1, m2, false));
    onMouseButton(x, y, button, down);
    if (button == 1 && down) {
        unsigned int now = elementClockNow();
        if (now > mLastClickTime && now - mLastClickTime <= kDoubleClickMs && mLastClickTime != 0 &&
            std::abs(x - mLastClickX) <= kDoubleClickDistance && std::abs(y - mLastClickY) <= kDoubleClickDistance) {
            onMouseDoubleClick(x, y);
        } else {
            mLastClickTime = now;
            mLastClickX = x;
            mLastClickY = y;
        }
    }
}

void cChildElement::processMouseMove(int x, int y) {
    if (mCaptureChild) {
        toChild(mCaptureChild, x, y);
        mCaptureChild->processMouseMove(x, y);
        return;
    }
    int cx = x, cy = y;
    if (cChildElement* c = hitChild(cx, cy, false)) {
        c->processMouseMove(cx, cy);
        return;
    }
    if (!visible()) return;
    changePointerReq(mPointer);
    notifyHover(this);
    onMouseMoving(x, y);
}

bool cChildElement::processMouseWheel(int x, int y, bool up, bool horizontal, int amount) {
    if (mCaptureChild) {
        toChild(mCaptureChild, x, y);
        return mCaptureChild->processMouseWheel(x, y, up, horizontal, amount);
    }
    cChildElement* after = nullptr;
    for (;;) {
        int cx = x, cy = y;
        cChildElement* c = hitChild(cx, cy, true, after);
        if (!c) break;
        if (c->processMouseWheel(cx, cy, up, horizontal, amount)) return true;
        after = c;
    }
    if (!visible()) return false;
    return onMouseWheel(x, y, up, horizontal, amount);
}

void cChildElement::notifyHover(cChildElement* e) {
    if (mParent) {
        mParent->notifyHover(e);
        return;
    }
    if (e == mHover) return;
    cChildElement* old = mHover;
    mHover = e;
    if (old) old->onMouseLeft();
    if (e) e->onMouseOver();
}

bool cChildElement::changePointerReq(eMousePointerTypes type) {
    if (mParent) return mParent->changePointerReq(type);
    return mTarget ? mTarget->_rt_setpointer(type) : false;
}

bool cChildElement::pointerCaptureReq(cChildElement* child, bool capture) {
    mCaptureChild = nullptr;
    bool ok;
    if (mParent) ok = mParent->pointerCaptureReq(this, capture);
    else ok = mTarget ? mTarget->_rt_capturepointer(capture) : false;
    if (ok && capture) mCaptureChild = child;
    return ok;
}

bool cChildElement::capturePointer(bool keepChildren) {
    if (keepChildren) mExclusiveCapture = false;
    bool ok = pointerCaptureReq(nullptr, true);
    if (!keepChildren) mExclusiveCapture = ok;
    return ok;
}

bool cChildElement::releasePointer() {
    mExclusiveCapture = false;
    return pointerCaptureReq(nullptr, false);
}

void cChildElement::onMouseMoving(int, int) {
    if (!mShownHint) onMouseOver();
}

void cChildElement::onMouseOver() {
    tHintMaker maker = currentHintMaker();
    if (mHint.empty() || !maker) return;
    delete mShownHint;
    mShownHint = maker(this, mHint.get(), mHintMode);
}

void cChildElement::onMouseLeft() {
    delete mShownHint;
    mShownHint = nullptr;
}

void cChildElement::onMouseDoubleClick(int x, int y) {
    if (mNotifyDoubleClick) notifyAction(new cDoubleClickAction(x, y));
}

bool cChildElement::onMenuActivate() {
    for (auto& kv : mOrder)
        if (kv.second->onMenuActivate()) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Focus

cChildElement* cChildElement::getFocused() {
    cChildElement* e = this;
    while (e->mFocusedChild) e = e->mFocusedChild;
    return e->mOwnFocus ? e : nullptr;
}

void cChildElement::processFocus(int x, int y, int button, bool m1, bool m2) {
    bool gotoOwn = false;
    if (button != -1 && (x < 0 || y < 0 || x > mRect.w || y > mRect.h)) {
        if (mOwnFocus) return;
        gotoOwn = true;
    }
    if (!gotoOwn) {
        sRect client;
        sPoint off;
        clientRect(&client);
        virtualOffset(&off);
        cChildElement* taken = nullptr;
        std::vector<cChildElement*> kids;
        for (auto& kv : mOrder) kids.push_back(kv.second);
        for (cChildElement* c : kids) {
            if (!c->visible()) continue;
            int px = x, py = y;
            bool skip = false;
            if (!c->fixedH()) {
                if (button != -1 && (px < client.x || px > client.x + client.w)) skip = true;
                px -= off.x;
            }
            if (!c->fixedV()) {
                if (button != -1 && (py < client.y || py > client.y + client.h)) skip = true;
                py -= off.y;
            }
            if (skip) continue;
            px -= c->mRect.x;
            py -= c->mRect.y;
            bool hit = c->inme(px, py);
            if (!taken && hit && c->mAcceptsFocus && c->enabled()) {
                taken = c;
                mFocusedChild = c;
                c->processFocus(px, py, button, m1, m2);
            } else if (hit && !c->enabled()) {
                // A disabled child under the point is left alone.
            } else {
                c->processFocusLost(m1, m2);
            }
        }
        if (taken) {
            if (mOwnFocus) {
                mOwnFocus = false;
                onLooseFocus(m1, m2);
            }
            return;
        }
        if (mOwnFocus) return;
    }
    if (!visible()) return;
    int origin = button >= 1 ? eoPointer : eoOther;
    mOwnFocus = true;
    mFocusedChild = nullptr;
    onSetFocusEvent(static_cast<eEventOrigin>(origin), m1, m2);
    notifyAction(new cFocusAction(origin));
}

void cChildElement::processFocusDirect(cChildElement* target) {
    mFocusedChild = nullptr;
    if (target == this) {
        mOwnFocus = true;
        for (auto& kv : mOrder) kv.second->processFocusLost(false, false);
        onSetFocusEvent(eoDirect, false, false);
        notifyAction(new cFocusAction(eoDirect));
        return;
    }
    mOwnFocus = false;
    if (!isChild(target)) return;
    bool found = false;
    for (auto& kv : mOrder) {
        cChildElement* c = kv.second;
        if (!found && (c == target || c->isChild(target))) {
            found = true;
            mFocusedChild = c;
            c->processFocusDirect(target);
        } else {
            c->processFocusLost(false, false);
        }
    }
}

void cChildElement::processFocusLost(bool a, bool b) {
    if (cChildElement* f = mFocusedChild) {
        onLooseFocusChild(f, a, b);
        f->processFocusLost(a, b);
        mFocusedChild = nullptr;
    } else if (mOwnFocus) {
        mOwnFocus = false;
        onLooseFocus(a, b);
    }
    mOwnFocus = false;
}

void cChildElement::processOSFocusLost() {
    if (!mSavedFocus) {
        cChildElement* f = getFocused();
        mSavedFocus = f;
    }
    processFocusLost(false, false);
}

void cChildElement::processOSFocus() {
    // A focus path that is still there (the window never lost the focus
    // since, or a control asked for it before the window got it) stays: the
    // window taking it over would drop the keys meant for that control.
    if (mFocusedChild || mOwnFocus) {
        mSavedFocus = nullptr;
        return;
    }
    if (mSavedFocus) {
        cChildElement* s = mSavedFocus;
        mSavedFocus = nullptr;
        processFocusDirect(s);
    } else {
        processFocusDirect(this);
    }
}

void cChildElement::focus() {
    if (mAcceptsFocus) focusReq(this, 0, 0);
    else if (mParent) mParent->focus();
}

void cChildElement::focusReq(cChildElement* e, int, int) {
    if (e) e->notifyAction(4);
    requestOSWinFocus();
}

bool cChildElement::requestOSWinFocus() {
    if (mParent) return mParent->requestOSWinFocus();
    return mTarget ? mTarget->_rt_focus() : false;
}

// ---------------------------------------------------------------------------
// Keys

bool cChildElement::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (!ctrl && !alt) {
        if (key == kKeyLeft || key == kKeyUp) {
            if (processArrowTab(false, false, shift)) return true;
        } else if (key == kKeyRight || key == kKeyDown) {
            if (processArrowTab(true, false, shift)) return true;
        }
    }
    if (key == kKeyTab && !ctrl) {
        // The second call starts over from the first (last) stop: Tab wraps.
        if (processTab(!shift) || processTab(!shift)) return true;
    }
    if (mFocusedChild) {
        if (!mFocusedChild->enabled() || !mFocusedChild->visible()) return true;
        return mFocusedChild->processKey(key, shift, ctrl, alt);
    }
    if (!mOwnFocus) return false;
    if (!enabled() || !visible()) return true;
    if (key == kKeyMenu || (key == kKeyF10 && shift && !ctrl && !alt))
        notifyAction(new cCtxRequestAction(0, 0, ctrl, shift, alt));
    onKey(key, shift, ctrl, alt);
    return true;
}

bool cChildElement::processChar(unsigned short ch, bool a, bool b, bool c) {
    if (mFocusedChild) {
        if (!mFocusedChild->enabled() || !mFocusedChild->visible()) return true;
        return mFocusedChild->processChar(ch, a, b, c);
    }
    if (!mOwnFocus) return false;
    onChar(ch, a, b, c);
    return true;
}

bool cChildElement::processTab(bool forward) {
    if (!mFocusedChild && !mOwnFocus) {
        if (enabled() && visible() && canTabStop()) {
            processFocusDirect(this);
            return true;
        }
    }
    std::vector<cChildElement*> kids;
    kids.reserve(mOrder.size());
    for (auto& kv : mOrder) kids.push_back(kv.second);
    if (!forward) std::reverse(kids.begin(), kids.end());
    size_t start = 0;
    if (!mFocusedChild) {
        processFocusLost(false, false);
    } else {
        cChildElement* f = mFocusedChild;
        if (f->processTab(forward)) return true;
        f->processFocusLost(false, false);
        start = kids.size();
        for (size_t i = 0; i < kids.size(); ++i)
            if (kids[i] == f) start = i + 1;
    }
    for (size_t i = start; i < kids.size(); ++i) {
        cChildElement* c = kids[i];
        if (!c->visible()) continue;
        if (c->processTab(forward)) {
            mFocusedChild = c;
            return true;
        }
    }
    mFocusedChild = nullptr;
    return false;
}

bool cChildElement::processArrowTab(bool forward, bool a, bool b) {
    if (wantCaptureArrows()) return false;
    std::vector<cChildElement*> kids;
    kids.reserve(mOrder.size());
    for (auto& kv : mOrder) kids.push_back(kv.second);
    if (!forward) std::reverse(kids.begin(), kids.end());
    auto suitable = [](cChildElement* c) {
        return !c->mOwnFocus && c->enabled() && c->visible() && c->mArrowTabStop;
    };
    cChildElement* f = mFocusedChild;
    if (!f) {
        for (cChildElement* c : kids) {
            if (suitable(c)) {
                c->processFocusDirect(c);
                mFocusedChild = c;
                return true;
            }
        }
        return false;
    }
    if (f->wantCaptureArrows()) return false;
    if (f->mFocusedChild) return f->processArrowTab(forward, a, b);
    if (!f->mArrowTabStop && f->processArrowTab(forward, a, b)) return true;
    size_t at = 0;
    for (size_t i = 0; i < kids.size(); ++i)
        if (kids[i] == f) at = i;
    size_t n = kids.size();
    for (size_t step = 1; step <= n; ++step) {
        size_t i = at + step;
        if (i >= n) {
            if (!mCyclicArrows) return true;
            i -= n;
        }
        cChildElement* c = kids[i];
        if (c == f) return true;
        if (!suitable(c)) continue;
        f->processFocusLost(a, b);
        c->processFocusDirect(c);
        mFocusedChild = c;
        return true;
    }
    f->processFocusLost(a, b);
    mFocusedChild = nullptr;
    return false;
}
