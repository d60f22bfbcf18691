#include "uitoolkit/scrollbar.h"

#include "uitoolkit/themevalues.h"

namespace {

const int kStrip = 5;           // the strips beside the arrows
const int kDragAllowance = 35;  // caps and arrows, taken off the length while dragging

enum { kKeyHome = 0x150, kKeyLeft = 0x151, kKeyUp = 0x152, kKeyRight = 0x153, kKeyDown = 0x154,
       kKeyPageUp = 0x155, kKeyPageDown = 0x156, kKeyEnd = 0x157 };

// Horizontal theme pictures per part: normal, hover, pressed (the vertical
// bar's are 29 further on).
const int kPictures[12][3] = {
    {87, 87, 87},    {88, 89, 90},    {94, 95, 96},    {97, 98, 99},    {91, 92, 93},    {100, 101, 102},
    {103, 104, 105}, {106, 107, 108}, {106, 107, 108}, {109, 109, 109}, {110, 111, 112}, {113, 114, 115},
};

// Normal, hover and pressed lists of each orientation, filled once.
cPicturesList gLists[2][3];

}  // namespace

cScrollBarBase::cScrollBarBase(bool vertical) : mVertical(vertical) {}

cPicturesList* cScrollBarBase::lists() { return gLists[mVertical ? 1 : 0]; }

void cScrollBarBase::onInitData() {
    cChildElement::onInitData();
    cPicturesList* l = lists();
    if (!l[0].image(0) && l[0].count() == 0) {
        const int shift = mVertical ? 29 : 0;
        for (int part = 0; part < 12; ++part)
            for (int s = 0; s < 3; ++s) l[s].refImage(part, currentThemeValues()->picture(kPictures[part][s] + shift));
    }
    mPos = 0;
    mMax = 100;
    mVisQ = mValQ = 1;
    mPageQ = 10;
    mDragStart = 0;
    mDragStartPos = 0;
    mDragging = mBackPressed = mFwdPressed = mPageBackPressed = mPageFwdPressed = mHeld = false;
    mTrackState = mThumbState = mBackState = mFwdState = 0;
    const int d19 = themeDimension(19), d22 = themeDimension(22);
    if (mVertical) {
        setMinSize(d19, d22);
        setMaxSize(d19, 0x7FFFFFFF);
    } else {
        setMinSize(d22, d19);
        setMaxSize(0x7FFFFFFF, d19);
    }
}

void cScrollBarBase::movePos(unsigned long long p, bool notify) {
    if (p > mMax) p = mMax;
    if (p == mPos) return;
    mPos = p;
    if (notify) notifyAction(new cScrollAction(mPos));
    if (visible()) repaint(nullptr);
}

void cScrollBarBase::setMax(unsigned long long m) {
    if (m == mMax || (m == 0 && !mVertical)) return;
    mMax = m;
    if (mPos > m) {
        mPos = m;
        notifyAction(new cScrollAction(mPos));
    }
    if (visible()) repaint(nullptr);
}

void cScrollBarBase::setVisQuantum(unsigned int q) {
    if (q == 0 || q == mVisQ) return;
    mVisQ = q;
    if (visible()) repaint(nullptr);
}

void cScrollBarBase::setValQuantum(unsigned int q) {
    if (q != 0) mValQ = q;
}

void cScrollBarBase::setPageQuantum(unsigned int q) {
    if (q != 0) mPageQ = q;
}

namespace {
unsigned long long back(unsigned long long pos, unsigned int step) { return pos > step ? pos - step : 0; }
unsigned long long forward(unsigned long long pos, unsigned int step, unsigned long long max) {
    return pos >= max || max - pos < step ? max : pos + step;
}
}  // namespace

void cScrollBarBase::valUp() {
    unsigned long long p = back(mPos, mValQ);
    if (p != mPos) mPos = p, notifyAction(new cScrollAction(mPos));
}

void cScrollBarBase::valDown() {
    unsigned long long p = forward(mPos, mValQ, mMax);
    if (p != mPos) mPos = p, notifyAction(new cScrollAction(mPos));
}

void cScrollBarBase::pageUp() {
    unsigned long long p = back(mPos, mPageQ);
    if (p != mPos) mPos = p, notifyAction(new cScrollAction(mPos));
}

void cScrollBarBase::pageDown() {
    unsigned long long p = forward(mPos, mPageQ, mMax);
    if (p != mPos) mPos = p, notifyAction(new cScrollAction(mPos));
}

cPicture* cScrollBarBase::image(int part) {
    if (part < 0 || part > 11) return nullptr;
    int s = 0;
    switch (part) {
        case seTrack: s = mTrackState; break;
        case seThumbStart:
        case seThumbEnd:
        case seThumbMiddle: s = mThumbState; break;
        case seBackArrow:
        case seBackStrip:
        case seSmallBack: s = mBackState; break;
        case seForwardArrow:
        case seForwardStrip:
        case seSmallForward: s = mFwdState; break;
        default: break;
    }
    cPicturesList* l = lists();
    return l[s == stPressed ? 2 : s == stHover ? 1 : 0].image(part);
}

int cScrollBarBase::partLen(int part) {
    if (part == seBackStrip || part == seForwardStrip) return kStrip;
    cPicture* p = image(part);
    if (!p) return 0;
    return mVertical ? p->height() : p->width();
}

// Thumb length and the positions per pixel for a track of the given length,
// in 64-bit signed arithmetic: a maximum of 0 with an empty track has no
// ratio, and the thumb then fills the track.
void cScrollBarBase::thumbOf(long long track, long long& len, double& ratio) {
    if (track < 0) track = 0;
    const long long max = mMax > 0x3FFFFFFFFFFFFFFFull ? 0x3FFFFFFFFFFFFFFFll : static_cast<long long>(mMax);
    const long long divisor = max + track;
    len = divisor > 0 ? (track * track) / divisor : track;
    const long long d22 = themeDimension(22);
    if (len < d22) len = d22;
    ratio = track > len ? static_cast<double>(max) / static_cast<double>(track - len) : 1.0;
}

void cScrollBarBase::layout(sLayout& l) {
    const int w = along();
    l.cap = partLen(seBackCap);
    l.arrows = partLen(seForwardArrow) + kStrip + partLen(seDivider) + kStrip + partLen(seBackArrow);
    l.track = w - l.cap - l.arrows;
    if (l.track < 0) l.track = 0;
    long long len;
    double r;
    thumbOf(l.track, len, r);
    l.thumbLen = static_cast<int>(len);
    l.thumbStart = static_cast<int>(static_cast<double>(mPos) / r + 0.5) + l.cap;
}

bool cScrollBarBase::thumb(int& start, int& length) {
    const int w = along();
    if (!(w > themeDimension(20) && w > themeDimension(21))) return false;
    sLayout l;
    layout(l);
    start = l.thumbStart;
    length = l.thumbLen;
    return true;
}

void cScrollBarBase::draw(cCanvas* c, int part, int at, int len) {
    cPicture* p = image(part);
    if (!p || len <= 0) return;
    const int d19 = themeDimension(19);
    if (mVertical) c->drawBitmap(0, at, p, d19, len);
    else c->drawBitmap(at, 0, p, len, d19);
}

void cScrollBarBase::onPaint(cCanvas* c) {
    if (!c) return;
    const int w = along();
    const int d20 = themeDimension(20), d21 = themeDimension(21);
    if (w > d20 && w > d21) {
        sLayout l;
        layout(l);
        draw(c, seBackCap, 0, l.cap);
        int at = w;
        const int fwd = partLen(seForwardArrow), div = partLen(seDivider), bk = partLen(seBackArrow);
        at -= fwd;
        draw(c, seForwardArrow, at, fwd);
        at -= kStrip;
        draw(c, seForwardStrip, at, kStrip);
        at -= div;
        draw(c, seDivider, at, div);
        at -= kStrip;
        draw(c, seBackStrip, at, kStrip);
        at -= bk;
        draw(c, seBackArrow, at, bk);
        draw(c, seTrack, l.cap, l.track);
        const int s = partLen(seThumbStart), e = partLen(seThumbEnd);
        draw(c, seThumbStart, l.thumbStart, s);
        draw(c, seThumbEnd, l.thumbStart + l.thumbLen - e, e);
        draw(c, seThumbMiddle, l.thumbStart + s, l.thumbLen - s - e);
        return;
    }
    const bool small = w <= d20;
    const int bp = small ? seSmallBack : seBackArrow, fp = small ? seSmallForward : seForwardArrow;
    const int bl = partLen(bp), fl = partLen(fp);
    draw(c, bp, 0, bl);
    draw(c, fp, w - fl, fl);
    const int between = w - bl - fl;
    if (between > 0) {
        draw(c, seBackStrip, bl, between / 2);
        draw(c, seForwardStrip, bl + between / 2, between - between / 2);
    }
}

int cScrollBarBase::hit(int x) {
    const int w = along();
    if (w <= themeDimension(21)) return x < w / 2 ? hBackArrow : hForwardArrow;
    sLayout l;
    layout(l);
    if (x < 0 || x >= w) return hNone;
    if (x < l.cap) return hNone;
    int at = w - partLen(seForwardArrow) - kStrip;
    if (x >= at) return hForwardArrow;
    at -= partLen(seDivider);
    if (x >= at) return hNone;
    at -= kStrip + partLen(seBackArrow);
    if (x >= at) return hBackArrow;
    if (x < l.thumbStart) return hPageBack;
    if (x < l.thumbStart + l.thumbLen) return hThumb;
    return hPageForward;
}

void cScrollBarBase::clearStates(bool rp) {
    const bool any = mTrackState || mThumbState || mBackState || mFwdState;
    mTrackState = mThumbState = mBackState = mFwdState = 0;
    if (rp && any && visible()) repaint(nullptr);
}

bool cScrollBarBase::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    const int a = mVertical ? y : x, across = mVertical ? x : y;
    if (down) {
        capturePointer(false);
        mHeld = true;
        const int h = hit(a);
        mTrackState = mThumbState = mBackState = mFwdState = 0;
        switch (h) {
            case hPageBack: mTrackState = stPressed, mPageBackPressed = true; break;
            case hPageForward: mTrackState = stPressed, mPageFwdPressed = true; break;
            case hThumb:
                mThumbState = stPressed;
                mDragging = true;
                mDragStart = a;
                mDragStartPos = mPos;
                break;
            case hBackArrow: mBackState = stPressed, mBackPressed = true; break;
            case hForwardArrow: mFwdState = stPressed, mFwdPressed = true; break;
            default: break;
        }
        if (visible()) repaint(nullptr);
        return true;
    }
    mHeld = false;
    releasePointer();
    mDragging = false;
    mTrackState = mThumbState = mBackState = mFwdState = 0;
    if (across >= 0 && across <= themeDimension(19)) {
        const int h = hit(a);
        switch (h) {
            case hPageBack:
                if (mPageBackPressed) pageUp();
                mTrackState = stHover;
                break;
            case hPageForward:
                if (mPageFwdPressed) pageDown();
                mTrackState = stHover;
                break;
            case hThumb: mThumbState = stHover; break;
            case hBackArrow:
                if (mBackPressed) valUp();
                mBackState = stHover;
                break;
            case hForwardArrow:
                if (mFwdPressed) valDown();
                mFwdState = stHover;
                break;
            default: break;
        }
    }
    mBackPressed = mFwdPressed = mPageBackPressed = mPageFwdPressed = false;
    if (visible()) repaint(nullptr);
    return true;
}

void cScrollBarBase::hoverAt(int h) {
    int* s = nullptr;
    switch (h) {
        case hPageBack:
        case hPageForward: s = &mTrackState; break;
        case hThumb: s = &mThumbState; break;
        case hBackArrow: s = &mBackState; break;
        case hForwardArrow: s = &mFwdState; break;
        default: clearStates(true); return;
    }
    if (*s != 0) return;
    mTrackState = mThumbState = mBackState = mFwdState = 0;
    *s = stHover;
    if (visible()) repaint(nullptr);
}

void cScrollBarBase::onMouseMoving(int x, int y) {
    cChildElement::onMouseMoving(x, y);
    const int a = mVertical ? y : x;
    if (!mDragging) {
        hoverAt(hit(a));
        return;
    }
    // Signed throughout: a drag back past the start gives a negative
    // distance, clamped at position 0.
    const long long d = static_cast<long long>(a) - mDragStart;
    long long len;
    double r;
    thumbOf(static_cast<long long>(along()) - kDragAllowance, len, r);
    double np = static_cast<double>(d) * r + 0.5;
    long long target;
    const double start = static_cast<double>(mDragStartPos);
    if (np + start <= 0) target = 0;
    else if (np + start >= static_cast<double>(mMax)) target = -1;
    else target = static_cast<long long>(np) + static_cast<long long>(mDragStartPos);
    unsigned long long p = target < 0 ? mMax : static_cast<unsigned long long>(target);
    if (p > mMax) p = mMax;
    if (p != mPos) {
        mPos = p;
        notifyAction(new cScrollAction(mPos));
        if (visible()) repaint(nullptr);
    }
}

void cScrollBarBase::onMouseLeft() {
    cChildElement::onMouseLeft();
    if (mBackPressed || mFwdPressed || mPageBackPressed || mPageFwdPressed || mDragging) return;
    mTrackState = mThumbState = mBackState = mFwdState = 0;
    if (visible()) repaint(nullptr);
}

void cScrollBarBase::onKey(int key, bool, bool, bool) {
    switch (key) {
        case kKeyHome: movePos(0, true); break;
        case kKeyEnd: movePos(mMax, true); break;
        case kKeyLeft:
        case kKeyUp: valUp(); break;
        case kKeyRight:
        case kKeyDown: valDown(); break;
        case kKeyPageUp: pageUp(); break;
        case kKeyPageDown: pageDown(); break;
        default: return;
    }
    if (key != kKeyHome && key != kKeyEnd && visible()) repaint(nullptr);
}
