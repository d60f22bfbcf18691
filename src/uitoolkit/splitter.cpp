#include "uitoolkit/splitter.h"

#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <cmath>

namespace {
int toPixels(double v) {
    if (!(v > -2147483648.0 && v < 2147483647.0)) return 0;
    return static_cast<int>(v);
}
}  // namespace

int cSplitterBase::lenOf(cChildElement* c) const {
    sRect r;
    c->childRect(&r);
    return mVertical ? r.h : r.w;
}

void cSplitterBase::place(cChildElement* c, int at, int len) {
    len = std::max(len, 0);
    if (mVertical) c->move(0, at, breadth(), len);
    else c->move(at, 0, len, breadth());
}

// Fixed mode: the splitter takes the length of its items and tells the parent.
void cSplitterBase::resizeSelf(int len) {
    if (len == length()) return;
    sRect r;
    childRect(&r);
    if (mVertical) move(r.x, r.y, r.w, len);
    else move(r.x, r.y, len, r.h);
    notifyAction(new cResizeRequestAction(len));
}

void cSplitterBase::onInitData() {
    cChildElement::onInitData();
    mDrag = -1;
    mFixed = false;
    mMinSplit = 0;
    mFiller = nullptr;
    mLocked = false;
    mSecond = currentThemeValues()->color(42);
    mFirst = currentThemeValues()->color(43);
    mTrimTop = mTrimBottom = 0;
    mSplitWidth = 3;
    setPointer(defaultPointer());
}

bool cSplitterBase::attach(int index, cChildElement* child, int size) {
    if (index < 0 || !child) return false;
    cChildElement** slot = mItems.find(index);
    if (slot && *slot != child) cChildElement::dettach(*slot);
    if (!cChildElement::attach(child, 0, 0, 0, 0, cptScrolled)) {
        mItems.dettach(index);
        mSizes.dettach(index);
        return false;
    }
    *mItems.insert(index) = child;
    double v;
    if (mFixed) {
        v = size;
    } else if (!mVertical) {
        // While the splitter has no length yet the fraction is taken of a
        // nominal 100 pixels, so it is never a division by zero.
        int l = std::max(length(), 100);
        v = static_cast<double>(std::min(size, l - 1)) / l;
    } else {
        // The stacked twin keeps the size against its height as given, so
        // items keep the proportions of their sizes even when these add up
        // to more than the height; with no height yet, against a nominal
        // 100 pixels.
        v = static_cast<double>(size) / (length() > 0 ? length() : 100);
    }
    *mSizes.insert(index) = v;
    rebuild(0);
    notifyAction(7);
    return true;
}

bool cSplitterBase::dettach(cChildElement* child) {
    for (auto* n = mItems.first(); n; n = mItems.next(n)) {
        if (n->value == child) {
            int k = n->key;
            mItems.dettach(n);
            mSizes.dettach(k);
            break;
        }
    }
    if (child && child == mFiller) mFiller = nullptr;
    return cChildElement::dettach(child);
}

cChildElement* cSplitterBase::item(int index) {
    cChildElement** c = mItems.find(index);
    return c ? *c : nullptr;
}

bool cSplitterBase::resizeItem(int index, int size) {
    if (size < 0) return false;
    return setStoredSize(index, mFixed ? size : static_cast<double>(size) / std::max(length(), 100));
}

double cSplitterBase::storedSize(int index) {
    double* s = mSizes.find(index);
    return s && mItems.find(index) ? *s : 0;
}

bool cSplitterBase::setStoredSize(int index, double v) {
    if (index < 0 || !(v >= 0) || !mItems.find(index)) return false;
    double* s = mSizes.find(index);
    if (!s) return false;
    if (v == *s) return true;
    *s = v;
    rebuild(mFixed ? index : 0);
    return true;
}

int cSplitterBase::itemSize(int index) {
    double* s = mSizes.find(index);
    if (!s || !mItems.find(index)) return 0;
    return mFixed ? toPixels(*s) : toPixels(length() * *s);
}

void cSplitterBase::setMinSplittingSize(int size, cChildElement* filler) {
    bool both = !mFiller && !filler;
    mMinSplit = std::max(size, 0);
    mFiller = filler;
    if (!both) rebuild(0);
}

void cSplitterBase::fix(bool locked) {
    mLocked = locked;
    if (locked) {
        if (mDrag >= 0) releasePointer();
        mDrag = -1;
        setPointer(mptArrow);
        changePointerReq(mptArrow);
    } else {
        setPointer(defaultPointer());
    }
}

void cSplitterBase::onSizeChanged() {
    cChildElement::onSizeChanged();
    rebuild(0);
}

void cSplitterBase::rebuild(int from) {
    if (length() == 0 || mInRebuild) return;
    mInRebuild = true;
    int W = length();
    const int sw = split();
    if (!mVertical) {
        long long sumMin = 0;
        int maxMinH = 0;
        for (auto* n = mItems.first(); n; n = mItems.next(n)) {
            sumMin += n->value->minWidth();
            maxMinH = std::max(maxMinH, n->value->minHeight());
        }
        sumMin = std::min<long long>(sumMin, 0x7FFFFFFF);
        if (sumMin || maxMinH) setMinSize(static_cast<int>(sumMin), maxMinH);
        W = std::max<long long>(W, sumMin);
    }
    if (!mFixed) from = 0;
    long long x = 0;
    for (auto* n = mItems.first(); n && n->key < from; n = mItems.next(n)) {
        double* s = mSizes.find(n->key);
        x += (s ? toPixels(*s) : lenOf(n->value)) + sw;
    }
    if (!mFixed) {
        double S = 0;
        int count = 0;
        for (auto* n = mItems.first(); n; n = mItems.next(n), ++count) {
            double* s = mSizes.find(n->key);
            S += s ? *s : static_cast<double>(lenOf(n->value)) / W;
        }
        double scale = S > 0 ? (W - (count - 1) * static_cast<double>(sw)) / S : 0;
        if (scale > 0) {
            for (auto* n = mItems.first(); n; n = mItems.next(n)) {
                double* s = mSizes.find(n->key);
                double f = s ? *s : static_cast<double>(lenOf(n->value)) / W;
                int size = toPixels(f * scale);
                if (!mVertical && size < n->value->minWidth()) {
                    size = n->value->minWidth();
                    if (s) *s = size / scale;
                }
                place(n->value, static_cast<int>(x), size);
                x += size + sw;
            }
        }
    } else {
        for (auto* n = mItems.find_ge(from); n; n = mItems.next(n)) {
            double* s = mSizes.find(n->key);
            int size = s ? toPixels(*s) : lenOf(n->value);
            if (!mVertical) size = std::max(size, n->value->minWidth());
            place(n->value, static_cast<int>(x), size);
            x += static_cast<long long>(size) + sw;
        }
        int T = static_cast<int>(std::min<long long>(x, 0x7FFFFFFF));
        if (mFiller && mItems.empty() && length() >= mMinSplit) {
            place(mFiller, 0, length());
        } else if (mFiller && T < mMinSplit) {
            place(mFiller, T, mMinSplit - T);
            resizeSelf(mMinSplit);
        } else {
            if (mFiller) place(mFiller, W, 0);
            resizeSelf(T);
        }
    }
    mInRebuild = false;
    repaint();
}

bool cSplitterBase::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1 || mLocked) return false;
    int pos = mVertical ? y : x;
    if (!down) {
        if (mDrag >= 0) releasePointer();
        mDrag = -1;
        return true;
    }
    capturePointer(false);
    mPressPos = pos;
    mDrag = -1;
    int acc = 0;
    const int sw = split();
    for (auto* n = mItems.first(); n; n = mItems.next(n)) {
        int right = acc + lenOf(n->value);
        auto* nx = mItems.next(n);
        if ((nx || mFixed) && pos >= right && pos < right + sw) {
            mDrag = n->key;
            mDragLeft = acc;
            mRightLimit = right + (nx ? lenOf(nx->value) : 0);
            break;
        }
        acc = right + sw;
    }
    return true;
}

void cSplitterBase::onMouseMoving(int x, int y) {
    if (mDrag < 0 || mLocked) {
        cChildElement::onMouseMoving(x, y);
        return;
    }
    int pos = mVertical ? y : x;
    double* s = mSizes.find(mDrag);
    if (!s) return;
    double* ns = nullptr;
    if (mFixed) {
        int size = std::max(pos, mDragLeft) - mDragLeft;
        if (size == toPixels(*s)) return;
        *s = size;
        rebuild(mDrag);
    } else {
        auto* n = mItems.ifind_rec(mItems.root(), mDrag);
        auto* nx = n ? mItems.next(n) : nullptr;
        ns = nx ? mSizes.find(nx->key) : nullptr;
        if (!nx || !ns) return;
        int span = mRightLimit - mDragLeft;
        int lo = mDragLeft + minOf(n->value);
        int hi = mRightLimit - minOf(nx->value);
        // When the two minimums do not fit in the pair's span, no position
        // keeps both: the bar stays where it is.
        if (span <= 0 || lo > hi) return;
        pos = std::min(std::max(pos, lo), hi);
        double R = *s + *ns;
        double a = static_cast<double>(pos - mDragLeft) * R / span;
        if (a == *s) return;
        *s = a;
        *ns = R - a;
        rebuild(0);
    }
    notifyAction(new cBarDraggedAction(mDrag, *s, ns ? *ns : 0));
}

void cSplitterChild::setSplitWidth(int w) {
    w = std::max(w, 3);
    if (w == mSplitWidth) return;
    mSplitWidth = w;
    rebuild(0);
}

void cSplitterChild::setLineTrims(int top, int bottom) {
    top = std::max(top, 0);
    bottom = std::max(bottom, 0);
    if (top == mTrimTop && bottom == mTrimBottom) return;
    mTrimTop = top;
    mTrimBottom = bottom;
    repaint();
}

void cSplitterChild::setColors(unsigned int first, unsigned int second) {
    if (first == mFirst && second == mSecond) return;
    mFirst = first;
    mSecond = second;
    repaint();
}

namespace {
void vline(cCanvas* c, unsigned int color, int x, int y0, int y1) {
    if (y1 <= y0) return;
    c->setLineMode(color, 1);
    sPoint a{x, y0}, b{x, y1};
    c->drawLine(&a, &b);
}
}  // namespace

void cSplitterChild::onPaint(cCanvas* canvas) {
    const int h = height(), s = mSplitWidth;
    if (mTrimTop + mTrimBottom >= h) return;
    const int l = (s - 1) / 2, r = s - 1 - l;
    for (auto* n = mItems.first(); n; n = mItems.next(n)) {
        sRect rc;
        n->value->childRect(&rc);
        int x = rc.x + rc.w;
        if (x < 0 || x >= width()) continue;
        for (int i = 0; i < l; ++i) vline(canvas, mSecond, x + i, 0, h);
        const int cx = x + l;
        vline(canvas, mSecond, cx, 0, mTrimTop);
        vline(canvas, mFirst, cx, mTrimTop, h - mTrimBottom);
        vline(canvas, mSecond, cx, h - mTrimBottom, h);
        for (int i = 1; i <= r; ++i) vline(canvas, mSecond, cx + i, 0, h);
    }
}

void cVSplitterChild::onPaint(cCanvas* canvas) {
    const int w = width();
    for (auto* n = mItems.first(); n; n = mItems.next(n)) {
        sRect rc;
        n->value->childRect(&rc);
        int y = rc.y + rc.h;
        const unsigned int colors[3] = {mSecond, mFirst, mSecond};
        for (int i = 0; i < 3; ++i) {
            canvas->setLineMode(colors[i], 1);
            sPoint a{0, y + i}, b{w, y + i};
            canvas->drawLine(&a, &b);
        }
    }
}
