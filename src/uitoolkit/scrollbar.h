// Scroll bars.  cHScroll and cVScroll are one design turned by 90 degrees:
// an end cap, a track with a thumb whose length shows the visible share,
// and two arrows together at the far end, all drawn from theme pictures.
// Every position change is reported as an action of code 6 carrying the
// new position.  Below, "along" is x and the width for the horizontal bar,
// y and the height for the vertical one.
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/picture.h"

class cScrollBarBase : public cChildElement {
public:
    enum eSubElements {
        seBackCap = 0, seTrack = 1, seThumbStart = 2, seThumbEnd = 3, seThumbMiddle = 4, seBackArrow = 5,
        seForwardArrow = 6, seBackStrip = 7, seForwardStrip = 8, seDivider = 9, seSmallBack = 10,
        seSmallForward = 11
    };
    enum eHit { hNone = 0, hPageBack = 1, hPageForward = 2, hThumb = 3, hBackArrow = 4, hForwardArrow = 5 };
    enum eState { stNormal = 0, stHover = 1, stPressed = 2 };

    class cScrollAction : public cChildAction {
    public:
        explicit cScrollAction(unsigned long long p) : cChildAction(6), position(p) {}
        unsigned long long position;
    };

    unsigned long long maxval() const { return mMax; }
    unsigned long long pos() const { return mPos; }
    void setMax(unsigned long long m);
    unsigned int visQuantum() const { return mVisQ; }
    void setVisQuantum(unsigned int q);
    unsigned int valQuantum() const { return mValQ; }
    void setValQuantum(unsigned int q);
    unsigned int pageQuantum() const { return mPageQ; }
    void setPageQuantum(unsigned int q);
    void valUp();
    void valDown();
    void pageUp();
    void pageDown();
    cPicture* image(int part);
    int hit(int along);
    // Thumb start and length on the track of the current size (for tests
    // and owners that draw a marker beside the thumb); false without a
    // full layout.
    bool thumb(int& start, int& length);
    int trackState() const { return mTrackState; }
    int thumbState() const { return mThumbState; }
    int backArrowState() const { return mBackState; }
    int forwardArrowState() const { return mFwdState; }

    void onPaint(cCanvas* canvas) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseLeft() override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return false; }
    bool wantFullRepaint() override { return true; }
    bool wantCaptureArrows() override { return true; }
    void onInitData() override;

protected:
    explicit cScrollBarBase(bool vertical);
    // Stores p (clamped) and repaints when it changed; notifies when asked.
    void movePos(unsigned long long p, bool notify);

private:
    struct sLayout {
        int cap = 0;        // end cap length
        int track = 0;      // track length
        int arrows = 0;     // the parts at the far end
        int thumbStart = 0; // along, absolute
        int thumbLen = 0;
    };
    int along() const { return mVertical ? height() : width(); }
    int partLen(int part);
    void layout(sLayout& l);
    void thumbOf(long long track, long long& len, double& ratio);
    void draw(cCanvas* c, int part, int at, int len);
    void hoverAt(int h);
    void clearStates(bool rp);
    cPicturesList* lists();

    bool mVertical;
    unsigned long long mPos = 0;
    unsigned long long mMax = 100;
    unsigned int mVisQ = 1, mValQ = 1, mPageQ = 10;
    int mDragStart = 0;
    unsigned long long mDragStartPos = 0;
    bool mDragging = false;
    bool mBackPressed = false, mFwdPressed = false, mPageBackPressed = false, mPageFwdPressed = false;
    bool mHeld = false;
    int mTrackState = 0, mThumbState = 0, mBackState = 0, mFwdState = 0;
};

class cHScroll : public cScrollBarBase {
public:
    typedef cScrollAction cHScrollAction;
    cHScroll() : cScrollBarBase(false) {}
    // Always notifies a change.
    void setPos(unsigned long long p) { movePos(p, true); }
};

class cVScroll : public cScrollBarBase {
public:
    typedef cScrollAction cVScrollAction;
    cVScroll() : cScrollBarBase(true) {}
    void setPos(unsigned long long p, bool notify) { movePos(p, notify); }
    void onConstruct() override {}
};
