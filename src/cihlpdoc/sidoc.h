// The document model: a tree of boxes that measure themselves (wantsSize)
// and draw themselves (draw) on the abstract canvas.  A container lays out
// its children in lines, left to right, breaking where a child does not fit
// or asks for a new line, and aligns each line left, right, centred or
// justified.  Links report their drawn rectangles to an active-target sink.
//
// Colours are canvas colours (0x00BBGGRR); 0xFFFFFFFF means "not set".
#pragma once

#include <memory>
#include <vector>

#include "base/buffers.h"
#include "uitoolkit/canvas.h"

class cSiDocActiveTarget {
public:
    virtual void resetActive() = 0;
    virtual void setActive(char* ref, int x, int y, int w, int h) = 0;
    virtual ~cSiDocActiveTarget() = default;
};

class cSiDocFontProvider {
public:
    // Null for an id without a font.
    virtual cFontObject* font(unsigned int id) = 0;
    virtual ~cSiDocFontProvider() = default;
};

// The face names of font faces 0 to 6 (0 the standard face, 1 the
// fixed-pitch face); null for any other face.  The platform installs the
// readers of its standard and fixed-pitch faces; until then they are
// "Tahoma" and "Courier New".
typedef const char* (*tSiDocFaceName)();
void __setSiDocFaceHooks(tSiDocFaceName stdFace, tSiDocFaceName fixedFace);
const char* siDocFaceName(int face);

struct sSiDocDrawProps {
    cFontObject* font = nullptr;
    unsigned int bgColor = 0xFFFFFF;
    unsigned int fgColor = 0;
    int x = 0;
    int y = 0;
    // Right and bottom edges the box must not pass; -1: no limit.
    int widthLimit = -1;
    int heightLimit = -1;
    cSiDocActiveTarget* sink = nullptr;

    sSiDocDrawProps() = default;
    sSiDocDrawProps(const sSiDocDrawProps&) = default;
    sSiDocDrawProps& operator=(const sSiDocDrawProps&) = default;
};

class cSiDocBox {
public:
    cSiDocBox() = default;
    cSiDocBox(const cSiDocBox&) = delete;
    cSiDocBox& operator=(const cSiDocBox&) = delete;
    virtual ~cSiDocBox() = default;
    virtual bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) = 0;
    virtual bool wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) = 0;
    // A text box holding a word: two of them side by side get a word gap.
    virtual bool isWord() const { return false; }

    // A negative argument leaves its margin unchanged.
    void setMargins(int left, int top, int right, int bottom);
    // -1 resets to natural; 0 and other negatives are ignored.
    void setWidth(int w);
    void setHeight(int h);
    void setBgColor(unsigned int c) { mBg = c; }
    void setBreak(bool b) { mBreak = b ? 1 : 0; }

    int marginLeft() const { return mLeft; }
    int marginRight() const { return mRight; }
    int marginTop() const { return mTop; }
    int marginBottom() const { return mBottom; }
    int boxWidth() const { return mWidth; }
    int boxHeight() const { return mHeight; }
    unsigned int bgColor() const { return mBg; }
    bool breaks() const { return mBreak != 0; }
    sSize& measured() { return mMeasured; }

protected:
    bool fixedSize() const { return mWidth > 0 && mHeight > 0; }
    unsigned int bgFor(sSiDocDrawProps const& props) const { return mBg != 0xFFFFFFFFu ? mBg : props.bgColor; }

    int mLeft = 0, mRight = 0, mTop = 0, mBottom = 0;
    int mWidth = -1, mHeight = -1;
    unsigned int mBg = 0xFFFFFFFFu;
    unsigned char mBreak = 0;
    sSize mMeasured;
};

class cSiDocText : public cSiDocBox {
public:
    bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    bool wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    bool isWord() const override { return !mText.empty(); }

    void refFont(cSiDocFontProvider* provider, unsigned int id) {
        mProvider = provider;
        mFontId = id;
    }
    void setColor(unsigned int c) { mColor = c; }
    void setText(const char* text) { mText.set(text); }
    void setText(const char* text, long long n) { mText.set(text, n); }
    const char* text() const { return mText.get(); }
    unsigned int color() const { return mColor; }
    unsigned int fontId() const { return mFontId; }

protected:
    // Selects the box's font and gives the line height of a space.
    int selectFont(cCanvas* canvas, sSiDocDrawProps const& props);

    cSiDocFontProvider* mProvider = nullptr;
    unsigned int mFontId = 0xFFFFFFFFu;
    unsigned int mColor = 0xFFFFFFFFu;
    _guardchar<char> mText;
};

class cSiDocLink : public cSiDocText {
public:
    bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    void refRef(char* ref) { mRef = ref; }
    const char* ref() const { return mRef; }

private:
    char* mRef = nullptr;
};

class cSiDocImage : public cSiDocBox {
public:
    enum eImagePlacement : unsigned int { ipNatural = 0, ipStretch = 1 };

    bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    bool wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    void refImage(cPicture* p) { mPicture = p; }
    void setPlacement(eImagePlacement p) { mPlacement = static_cast<unsigned int>(p); }
    cPicture* picture() const { return mPicture; }
    // The size of the whole picture when the one referred to holds only the
    // part of it that is ever drawn (its top-left corner, as the natural
    // placement clips it): the box measures by the whole.  0: the
    // picture's own size.
    void setNaturalSize(int w, int h) {
        mNaturalW = w;
        mNaturalH = h;
    }

private:
    cPicture* mPicture = nullptr;
    unsigned int mPlacement = ipNatural;
    int mNaturalW = 0, mNaturalH = 0;
};

class cSiDocImageLink : public cSiDocImage {
public:
    bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    void refRef(char* ref) { mRef = ref; }
    const char* ref() const { return mRef; }

private:
    char* mRef = nullptr;
};

// A container with neither a width of its own nor a width limit from its
// parent lays centred and right-aligned lines out as left-aligned ones.
class cSiDocContainer : public cSiDocBox {
public:
    enum eAlign : unsigned int { alLeft = 0, alRight = 1, alCenter = 2, alJustify = 3 };

    bool draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;
    bool wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) override;

    // Takes ownership; false for null.
    bool addChild(cSiDocBox* box);
    void setAlign(eAlign a) { mAlign = static_cast<unsigned int>(a); }
    void refFont(cSiDocFontProvider* provider, unsigned int id) {
        mProvider = provider;
        mFontId = id;
    }
    void setColor(unsigned int c) { mColor = c; }

    std::size_t count() const { return mChildren.size(); }
    cSiDocBox* child(std::size_t i) const { return i < mChildren.size() ? mChildren[i].get() : nullptr; }
    unsigned int align() const { return mAlign; }
    unsigned int color() const { return mColor; }
    unsigned int fontId() const { return mFontId; }

private:
    bool layout(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size, bool drawing);

    cSiDocFontProvider* mProvider = nullptr;
    unsigned int mFontId = 0xFFFFFFFFu;
    unsigned int mColor = 0xFFFFFFFFu;
    std::vector<std::unique_ptr<cSiDocBox> > mChildren;
    unsigned int mAlign = alLeft;
};
