// cPanelChild: the plain container, a filled rectangle with an optional
// border colour and an optional one-line caption placed by alignment and
// margins.  Forms use one as their client area.
#pragma once

#include "uitoolkit/element.h"

class cPanelChild : public cChildElement {
public:
    // Caption placement: left (top), right (bottom), centre; any other value
    // puts the caption at 0 on that axis.
    enum eXAlign { xaLeft = 0, xaRight = 1, xaCenter = 2 };
    enum eYAlign { yaTop = 0, yaBottom = 1, yaCenter = 2 };
    static constexpr unsigned int kNoBorder = 0xFFFFFFFF;

    cPanelChild();
    ~cPanelChild() override = default;

    void setBgColor(unsigned int c) { mBg = c; }
    void setBorderColor(unsigned int c) { mBorder = c; }
    void setColorSchema(unsigned int bg, unsigned int border) {
        mBg = bg;
        mBorder = border;
    }
    unsigned int bgColor() const { return mBg; }
    void setXAlign(eXAlign a, bool repaint);
    void setYAlign(eYAlign a, bool repaint);
    void setXMargin(int m, bool repaint);
    void setYMargin(int m, bool repaint);

    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    void onInitData() override;

private:
    unsigned int mBg;
    unsigned int mBorder = kNoBorder;
    int mYMargin = 0;
    int mXMargin = 0;
    int mXAlign = xaCenter;
    int mYAlign = yaCenter;
};
