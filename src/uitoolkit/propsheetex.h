// cPropDispAreaChild: a framed, scrollable area that shows a bold title and
// a wrapped description under it, and asks its parents (code 6) for the
// height it needs whenever what it drew differs from its scroll height.
// cPropSheetExChild: a property sheet over such an area in a vertical
// splitter; selecting a caption shows that property's name and description.
#pragma once

#include "uitoolkit/propsheet.h"
#include "uitoolkit/scrollable.h"
#include "uitoolkit/splitter.h"

class cPropDispAreaChild : public cScrollableElement {
public:
    class cPropDispResizeAction : public cChildAction {
    public:
        explicit cPropDispResizeAction(int h) : cChildAction(6), height(h) {}
        int height;
    };

    cPropDispAreaChild();
    ~cPropDispAreaChild() override;

    void setText(const char* title, const char* descr);
    // A non-negative length copies at most that many bytes, never past the
    // text's end and never half a UTF-8 character; a negative one the whole.
    void setText(const char* title, long long titleLen, const char* descr, long long descrLen);
    using cChildElement::setText;
    void setColorSchema(unsigned int frame, unsigned int background, unsigned int text);
    void setFonts(cFontObject* titleFont, cFontObject* textFont);
    void setExtraTitleSpacing(int pixels);

    const char* title() const { return mTitle.get(); }
    const char* text() const override { return mDescr.get(); }
    using cChildElement::text;
    int extraTitleSpacing() const { return mExtraSpacing; }

    bool wantDoubleBuffer() override { return true; }
    int wantBorderWidth() override { return 1; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;

private:
    _guardchar<char> mTitle;
    _guardchar<char> mDescr;
    unsigned int mFrame = 0, mBg = 0, mTextColor = 0;
    cFontObject* mTitleFont = nullptr;
    cFontObject* mTextFont = nullptr;
    int mExtraSpacing = 0;
};

class cPropSheetExChild : public cVSplitterChild {
public:
    cPropSheetExChild();
    ~cPropSheetExChild() override;

    void clear();
    cPropSheetChild* sheet() { return &mSheet; }
    cPropDispAreaChild* area() { return &mArea; }

    bool onAction(cChildElement* src, cChildAction* a) override;
    void onInitData() override;

private:
    cPropSheetChild mSheet;
    cPropDispAreaChild mArea;
    double mShare = 75;
};
