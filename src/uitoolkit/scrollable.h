// cScrollableElement: an element whose content is larger than itself.  It
// declares a minimum visual size; when its own size is smaller it shows a
// horizontal and a vertical scroll bar and shifts its scrolled children and
// its own drawing by the bars' positions.  The bars are fixed children.
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/scrollbar.h"

#include <map>
#include <utility>

class cScrollableElement : public cChildElement {
public:
    cScrollableElement();
    ~cScrollableElement() override;

    // Draws the content; it applies shiftX() and shiftY() itself.
    virtual void onPaintArea(cCanvas*) {}

    // The size the whole content needs to show without bars, the border on
    // both sides included.
    void setMinVisualWidth(int w);
    void setMinVisualHeight(int h);
    int minVisualWidth() const { return mMinVW; }
    int minVisualHeight() const { return mMinVH; }
    int shiftX() const { return mShiftX; }
    int shiftY() const { return mShiftY; }
    void setPageSize(int x, int y);
    void setQuantumSize(int x, int y);
    int getHScrollRes() const;
    int getVScrollRes() const;
    void scrollMinX();
    void scrollMaxX();
    void scrollMinY();
    void scrollMaxY();
    void pinChild(cChildElement* c, bool keepX, bool keepY);
    bool scrollToChild(cChildElement* c);
    bool adjustScrollTo(sRect& r, bool keepX, bool keepY);
    void rebuild();
    cHScroll* hbar() { return &mH; }
    cVScroll* vbar() { return &mV; }

    void virtualSize(sSize* s) override;
    void virtualOffset(sPoint* p) override;
    void clientRect(sRect* r) override;
    void onPaint(cCanvas* canvas) override;
    void onSizeChanged() override;
    bool onMouseWheel(int x, int y, bool up, bool horizontal, int amount) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    void onInitData() override;
    bool wantFullRepaint() override { return true; }

private:
    int barThickness() const;

    cHScroll mH;
    cVScroll mV;
    int mMinVW = 0, mMinVH = 0;
    int mShiftX = 0, mShiftY = 0;
    std::map<cChildElement*, std::pair<bool, bool>> mPinned;
};
