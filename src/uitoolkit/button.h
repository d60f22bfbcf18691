// Push buttons.  cButtonChild is the toolkit's complete push button: a
// caption and an optional image, one look per interaction state, seven
// border styles, two display styles, and a click reported to its parents as
// an action of code 0.  cGenButtonChild keeps only the hover, pressed and
// activated flags and the click; the classes derived from it paint.
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/picture.h"

#include <map>

class cButtonChild : public cChildElement {
public:
    enum eButtonStates { bsNormal = 0, bsFocused = 1, bsHover = 2, bsPressed = 3, bsDisabled = 4 };
    enum eBorderStyle {
        bdRaised = 0, bdPicture = 1, bdFlat = 2, bdSingle = 3, bdSingleFilled = 4, bdFlatUntilTouched = 5,
        bdPlainFill = 6
    };
    enum eDispStyle { dsImageLeft = 0, dsImageAbove = 1 };

    cButtonChild();
    ~cButtonChild() override;

    cChildPicture& image(int state);
    void refStateBackImage(int state, cPicture* p);
    cPicture* stateBackImage(int state);
    cPicture* forDraw(int state);

    const char* text() const override { return mCaption.get(); }
    // The copying form stays in reach; it copies the caption.
    using cChildElement::text;
    void setText(const char* text);
    void setText(const char* text, long long len, bool repaint) override;
    int align() const { return mAlign; }
    void setAlign(cCanvas::eTextAlign a, bool repaint);
    int border() const { return mBorder; }
    void setBorder(eBorderStyle b, bool repaint);
    int style() const { return mStyle; }
    void setStyle(eDispStyle s, bool repaint);
    void setFont(cFontObject* f);
    void setTextColor(unsigned int c, bool repaint);
    void setTextColor(int state, unsigned int c, bool repaint);
    void setDsbTextColor(unsigned int c, bool repaint);
    void setBgColor(unsigned int c, bool repaint);
    void setDsbBgColor(unsigned int c, bool repaint);
    void setBorderColors(int state, unsigned int first, unsigned int second);
    int requiredWidth();
    int requiredHeight();
    static int requiredWidth(cChildElement* e, const char* text, cPicture* p, eDispStyle s, cFontObject* f);
    static int requiredHeight(cChildElement* e, const char* text, cPicture* p, eDispStyle s, cFontObject* f);
    int state() const;
    bool hovered() const { return mHover; }
    bool pressed() const { return mPressed; }

    void onPaint(cCanvas* canvas) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocus(bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    void onEnableChanged(bool enabled) override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return true; }
    bool wantFullRepaint() override { return true; }
    void onInitData() override;

private:
    void rp();
    void sizeChanged() { mReqW = mReqH = -1; }

    cChildPicture mImages[4];
    cFontObject* mFont = nullptr;
    int mAlign = 0;
    _guardchar<char> mCaption;
    bool mHover = false;
    bool mPressed = false;
    unsigned int mBg = 0xFFFFFF;
    unsigned int mDsbBg = 0xFFFFFFFFu;
    unsigned int mTextColors[4] = {0, 0, 0, 0};
    unsigned int mDsbText = 0;
    unsigned int mBorder1[5] = {0, 0, 0, 0, 0};
    unsigned int mBorder2[5] = {0, 0, 0, 0, 0};
    int mBorder = bdRaised;
    int mStyle = dsImageLeft;
    int mReqW = -1, mReqH = -1;
    std::map<int, cPicture*> mStateBack;
};

class cGenButtonChild : public cChildElement {
public:
    cGenButtonChild();
    ~cGenButtonChild() override;
    void setActivated(bool a, bool repaint);
    bool hovered() const { return mHover; }
    bool pressed() const { return mPressed; }
    bool activated() const { return mActivated; }

    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocus(bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    void onEnableChanged(bool enabled) override;
    bool wantTabStop() override { return true; }
    bool wantFullRepaint() override { return true; }
    void onInitData() override;

private:
    bool mHover = false;
    bool mPressed = false;
    bool mActivated = false;
};
