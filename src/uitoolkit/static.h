// cStaticElement: a text with an optional image to its left (labels,
// captions, the base of check boxes and links).  Its text may be replaced
// from a worker thread while the UI thread paints it, so the text is read
// and written only under the element's own lock.
#pragma once

#include "base/sync.h"
#include "uitoolkit/element.h"

class cStaticElement : public cChildElement {
public:
    enum eTextDisplayModes { tdmShortened = 0, tdmCut = 1, tdmWrapped = 2 };

    cStaticElement();
    ~cStaticElement() override;

    virtual void setImage(cPicture* image, bool repaint);

    // Safe from any thread.
    void setText(char* text, cCanvas::eTextAlign align, bool repaint);
    void setText(const char* text, long long len, bool repaint) override;
    // A copy of the text taken under the lock.
    std::string textCopy();
    void setFont(cFontObject* font);
    void setTextColor(unsigned int c);
    void setBgColor(unsigned int c);
    void setFrameColor(unsigned int c);
    void setColorSchema(unsigned int text, unsigned int background, unsigned int frame);
    void setTextDispMode(eTextDisplayModes mode);
    void setTextMargin(int margin);
    void setYWrapAddSpacing(double extra);
    bool wantsSize(sSize* s);

    cPicture* image() const { return mImage; }
    unsigned int textColor() const { return mTextColor; }
    unsigned int bgColor() const { return mBgColor; }
    unsigned int frameColor() const { return mFrameColor; }
    double lineSpacing() const { return mSpacing; }
    eTextDisplayModes textDispMode() const { return mMode; }
    int textAlign() const { return mAlign; }

    void onPaint(cCanvas* canvas) override;
    void onInitData() override;
    bool wantAcceptFoucs() override { return false; }

private:
    void changed();

    cPicture* mImage = nullptr;
    unsigned int mTextColor = 0;
    unsigned int mBgColor = 0xFFFFFF;
    unsigned int mFrameColor = 0xFFFFFF;
    cFontObject* mFont = nullptr;
    eTextDisplayModes mMode = tdmShortened;
    int mAlign = cCanvas::taLeft;
    int mMargin = 0;
    double mSpacing = 1.2;
    cCriticalSection mTextLock;
};
