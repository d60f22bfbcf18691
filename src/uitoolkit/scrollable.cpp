#include "uitoolkit/scrollable.h"

#include "uitoolkit/themevalues.h"

#include <algorithm>

cScrollableElement::cScrollableElement() = default;

cScrollableElement::~cScrollableElement() {
    // The bars are members: take them out of the tree before they go.
    if (isDirectChild(&mH)) dettach(&mH);
    if (isDirectChild(&mV)) dettach(&mV);
}

int cScrollableElement::barThickness() const {
    int v, lo, hi;
    currentThemeValues()->dimension(19, v, lo, hi);
    return v;
}

void cScrollableElement::onInitData() {
    cChildElement::onInitData();
    if (!isDirectChild(&mH)) attach(&mH, 0, 0, 1, 1, cptFixed);
    if (!isDirectChild(&mV)) attach(&mV, 0, 0, 1, 1, cptFixed);
    mH.hide(false);
    mV.hide(false);
    mShiftX = mShiftY = 0;
    mMinVW = mMinVH = 0;
}

void cScrollableElement::virtualSize(sSize* s) {
    if (!s) return;
    s->w = width() - (mV.visible_child() ? mV.width() : 0);
    s->h = height() - (mH.visible_child() ? mH.height() : 0);
    if (s->w < mMinVW) s->w = mMinVW;
    if (s->h < mMinVH) s->h = mMinVH;
}

void cScrollableElement::virtualOffset(sPoint* p) {
    if (!p) return;
    p->x = -mShiftX;
    p->y = -mShiftY;
}

void cScrollableElement::clientRect(sRect* r) {
    if (!r) return;
    r->x = 0;
    r->y = 0;
    r->w = width() - (mV.visible_child() ? mV.width() : 0);
    r->h = height() - (mH.visible_child() ? mH.height() : 0);
}

void cScrollableElement::setMinVisualWidth(int w) {
    if (w < 0 || w == mMinVW) return;
    mMinVW = w;
    rebuild();
    processSizeChanges(width(), height(), true);
}

void cScrollableElement::setMinVisualHeight(int h) {
    if (h < 0 || h == mMinVH) return;
    mMinVH = h;
    rebuild();
    processSizeChanges(width(), height(), true);
}

void cScrollableElement::setPageSize(int x, int y) {
    if (x > 0) mH.setPageQuantum(static_cast<unsigned int>(x));
    if (y > 0) mV.setPageQuantum(static_cast<unsigned int>(y));
}

void cScrollableElement::setQuantumSize(int x, int y) {
    if (x > 0) {
        mH.setValQuantum(static_cast<unsigned int>(x));
        mH.setVisQuantum(static_cast<unsigned int>(x));
    }
    if (y > 0) {
        mV.setValQuantum(static_cast<unsigned int>(y));
        mV.setVisQuantum(static_cast<unsigned int>(y));
    }
}

int cScrollableElement::getHScrollRes() const { return mH.visible_child() ? mH.height() : 0; }
int cScrollableElement::getVScrollRes() const { return mV.visible_child() ? mV.width() : 0; }

void cScrollableElement::scrollMinX() {
    if (mH.visible_child()) mH.setPos(0);
}
void cScrollableElement::scrollMaxX() {
    if (mH.visible_child()) mH.setPos(mH.maxval());
}
void cScrollableElement::scrollMinY() {
    if (mV.visible_child()) mV.setPos(0, true);
}
void cScrollableElement::scrollMaxY() {
    if (mV.visible_child()) mV.setPos(mV.maxval(), true);
}

void cScrollableElement::pinChild(cChildElement* c, bool keepX, bool keepY) {
    if (c) mPinned[c] = {keepX, keepY};
}

void cScrollableElement::rebuild() {
    const int W = width(), H = height();
    if (W >= mMinVW && H >= mMinVH) {
        mShiftX = mShiftY = 0;
        bool wasShown = false;
        if (mH.visible_child()) {
            mH.setPos(0);
            mH.hide(false);
            wasShown = true;
        }
        if (mV.visible_child()) {
            mV.setPos(0, false);
            mV.hide(false);
            wasShown = true;
        }
        if (wasShown) {
            processSizeChanges(W, H, true);
            if (visible()) repaint(nullptr);
        }
        return;
    }
    const int T = barThickness(), b = mBorderWidth;
    // A bar not yet shown still has its first size.
    const int vw = mV.width(), hh = mH.height();
    bool needH = W < mMinVW, needV = H < mMinVH;
    if (!needH && needV && W - vw < mMinVW) needH = true;
    if (!needV && needH && H - hh < mMinVH) needV = true;
    if (!needH && needV && W - vw < mMinVW) needH = true;
    bool toggled = false;
    if (needH) {
        anchor(&mH, b, H - T - b, needV ? W - T - 2 * b : W - 2 * b, T);
        if (!mH.visible_child()) {
            mH.show(false);
            mH.setPos(0);
            toggled = true;
        }
    } else if (mH.visible_child()) {
        mH.hide(false);
        mH.setPos(0);
        mShiftX = 0;
        toggled = true;
    }
    if (needV) {
        anchor(&mV, W - T - b, b, T, needH ? H - T - 2 * b : H - 2 * b);
        if (!mV.visible_child()) {
            mV.show(false);
            mV.setPos(0, true);
            toggled = true;
        }
    } else if (mV.visible_child()) {
        mV.hide(false);
        mV.setPos(0, true);
        mShiftY = 0;
        toggled = true;
    }
    const int viewW = W - (needV ? mV.width() : 0), viewH = H - (needH ? mH.height() : 0);
    if (needH) {
        mH.setMax(static_cast<unsigned long long>(mMinVW - viewW > 0 ? mMinVW - viewW : 0));
        if (viewW > 0) mH.setPageQuantum(static_cast<unsigned int>(viewW));
    }
    if (needV) {
        mV.setMax(static_cast<unsigned long long>(mMinVH - viewH > 0 ? mMinVH - viewH : 0));
        if (viewH > 0) mV.setPageQuantum(static_cast<unsigned int>(viewH));
    }
    // Shifts never point past the range the bars now allow.
    if (mShiftX > static_cast<long long>(mH.maxval())) mShiftX = static_cast<int>(mH.maxval());
    if (mShiftY > static_cast<long long>(mV.maxval())) mShiftY = static_cast<int>(mV.maxval());
    if (toggled) processSizeChanges(W, H, true);
    if (visible()) repaint(nullptr);
}

void cScrollableElement::onSizeChanged() {
    cChildElement::onSizeChanged();
    rebuild();
}

bool cScrollableElement::onMouseWheel(int, int, bool up, bool horizontal, int amount) {
    const long long n = amount < 0 ? 0 : amount;
    if (horizontal && mH.visible_child()) {
        const long long step = static_cast<long long>(mH.valQuantum()) * n;
        const long long p = static_cast<long long>(mH.pos());
        mH.setPos(static_cast<unsigned long long>(up ? (p - step > 0 ? p - step : 0) : p + step));
    } else if (mV.visible_child()) {
        const long long step = static_cast<long long>(mV.valQuantum()) * n;
        const long long p = static_cast<long long>(mV.pos());
        mV.setPos(static_cast<unsigned long long>(up ? (p - step > 0 ? p - step : 0) : p + step), true);
    }
    return true;
}

bool cScrollableElement::onAction(cChildElement* src, cChildAction* a) {
    if (src == &mH || src == &mV) {
        auto* s = dynamic_cast<cScrollBarBase::cScrollAction*>(a);
        cScrollBarBase* bar = src == &mH ? static_cast<cScrollBarBase*>(&mH) : &mV;
        int& shift = src == &mH ? mShiftX : mShiftY;
        if (s && s->position <= bar->maxval() && static_cast<long long>(s->position) != shift) {
            shift = static_cast<int>(s->position);
            if (visible()) repaint(nullptr);
        }
        return true;
    }
    if (a && a->code() == 1 && dynamic_cast<cFocusAction*>(a) && src != this && isChild(src)) {
        scrollToChild(src);
        return false;
    }
    return cChildElement::onAction(src, a);
}

bool cScrollableElement::scrollToChild(cChildElement* c) {
    sRect r;
    if (!c || c == &mH || c == &mV || !childRect(c, &r)) return false;
    bool kx = false, ky = false;
    auto it = mPinned.find(c);
    if (it != mPinned.end()) {
        kx = it->second.first;
        ky = it->second.second;
    }
    return adjustScrollTo(r, kx, ky);
}

bool cScrollableElement::adjustScrollTo(sRect& r, bool keepX, bool keepY) {
    // What shows of the content is the client rectangle less the border on
    // each side: the bars are already left out of the client rectangle, and
    // the border runs around everything, bars included.
    sRect client;
    clientRect(&client);
    const long long b = mBorderWidth;
    const long long left = static_cast<long long>(client.x) + b, top = static_cast<long long>(client.y) + b;
    const long long right = static_cast<long long>(client.x) + client.w - b;
    const long long bottom = static_cast<long long>(client.y) + client.h - b;
    // The bars move at once, the shift only when their action is drained:
    // several calls in a row must build on where the bars already are.
    const long long sx = mH.visible_child() ? static_cast<long long>(mH.pos()) : mShiftX;
    const long long sy = mV.visible_child() ? static_cast<long long>(mV.pos()) : mShiftY;
    const long long x0 = static_cast<long long>(r.x) - sx, x1 = x0 + r.w;
    const long long y0 = static_cast<long long>(r.y) - sy, y1 = y0 + r.h;
    // The far edge is brought in unless that would push the near edge out:
    // a rectangle larger than the view shows from its start.
    long long dy = 0, dx = 0;
    if (y1 > bottom) dy = std::min(y1 - bottom, std::max(y0 - top, 0LL));
    if (y0 < top) dy = y0 - top;
    if (x1 > right) dx = std::min(x1 - right, std::max(x0 - left, 0LL));
    if (x0 < left) dx = x0 - left;
    bool changed = false;
    if (dy != 0 && mV.visible_child() && !keepY) {
        const unsigned long long old = mV.pos();
        long long p = static_cast<long long>(old) + dy;
        mV.setPos(static_cast<unsigned long long>(p > 0 ? p : 0), true);
        changed = changed || mV.pos() != old;
    }
    if (dx != 0 && mH.visible_child() && !keepX) {
        const unsigned long long old = mH.pos();
        long long p = static_cast<long long>(old) + dx;
        mH.setPos(static_cast<unsigned long long>(p > 0 ? p : 0));
        changed = changed || mH.pos() != old;
    }
    return changed;
}

void cScrollableElement::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    if (!(mH.visible_child() && mV.visible_child())) {
        onPaintArea(canvas);
        return;
    }
    const int T = barThickness(), b = mBorderWidth;
    sRect corner{width() - T - b, height() - T - b, T, T};
    canvas->clip(&corner);
    canvas->select();
    onPaintArea(canvas);
    canvas->unclip(&corner);
    canvas->select();
    if (cPicture* p = currentThemeValues()->picture(86)) {
        canvas->drawBitmap(corner.x, corner.y, p, T, T);
    } else {
        const unsigned int c = currentThemeValues()->color(14);
        canvas->drawRect(&corner, c, c);
    }
}
