// cCanvas: the abstract drawing surface every element paints through, and
// cFontObject, a font made once per description and kept for the whole
// process.  The platform layer supplies the real canvas and fonts; the
// operations built on the abstract ones (text cut to a box with an
// ellipsis, text wrapped into a box, the visibility test and drawing a
// picture at another size) live here once for every implementation.
//
// Coordinates are toolkit pixels, origin at the top left, y downwards.
// Canvas colours are 0x00BBGGRR (red in the lowest byte); picture pixels are
// 0xAARRGGBB.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "base/treelist.h"
#include "uitoolkit/geometry.h"
#include "uitoolkit/picture.h"

class cCanvas;
class cWindowRequestTargetScale;

// ---------------------------------------------------------------------------
// Fonts

class cFontObject : public cListItem {
public:
    // The six values a font is looked up by (face compared byte for byte).
    struct sKey {
        int width = 0;
        int size = 0;
        const char* face = nullptr;
        bool bold = false;
        bool underline = false;
        bool italic = false;
    };

    cFontObject() = default;
    ~cFontObject() override = default;
    cFontObject(const cFontObject&) = delete;
    cFontObject& operator=(const cFontObject&) = delete;

    // key is an sKey*: true when every value matches and both faces are set.
    bool eq(void* key) override;
    // The platform makes its native font; false when it cannot.
    virtual bool define(int width, int size, const char* face, bool bold, bool underline, bool italic) = 0;
    // Makes this font current on the canvas.
    virtual bool apply(cCanvas* canvas) = 0;
    virtual bool getTextDim(cCanvas*, const char*, long long, sSize&) { return false; }
    virtual bool getTextDim(cCanvas*, const unsigned short*, long long, sSize&) { return false; }

    // The shared font of this description, made through the platform hook on
    // first request; null when the platform cannot make it.  Owned by the
    // store.
    static cFontObject* get(int width, int size, const char* face, bool bold, bool underline, bool italic);

    int charWidth() const { return mWidth; }
    int size() const { return mSize; }
    const char* face() const { return mFace.get(); }
    bool bold() const { return mBold; }
    bool underline() const { return mUnderline; }
    bool italic() const { return mItalic; }

    // Every font made so far; deleted at exit.
    static cList myFontsStore;

private:
    int mWidth = 0;
    int mSize = 0;
    _guardchar<char> mFace;
    bool mBold = false;
    bool mUnderline = false;
    bool mItalic = false;
};

// The platform's maker of new, undefined fonts.  Until a maker is installed
// no font can be made and cFontObject::get answers null.
typedef cFontObject* (*tNewPlatformCPFont)();
cFontObject* __newPlatformCPFont();
// Installs the maker; returns the one installed before.
tNewPlatformCPFont __setNewPlatformCPFont(tNewPlatformCPFont maker);

// The line-spacing factor wrapped text uses when its caller passes 0.  The
// platform settings install their reader; without one the factor is 1.2.
typedef double (*tTextWrapYFactor)();
tTextWrapYFactor __setTextWrapYFactorHook(tTextWrapYFactor hook);
double __canvasTextWrapYFactor();

// ---------------------------------------------------------------------------
// Canvas

class cCanvas {
public:
    enum eTextAlign { taLeft = 0, taCenter = 1, taRight = 2, taJustify = 3 };

    // A width at or above this (or a negative one) given to drawTextWrapped
    // means no limit: lines break only at line feeds and are laid out left.
    static constexpr int kNoWidthLimit = 0x7FFFFFFF;

    // One token of a text to wrap: a word (text and width in pixels), a
    // whitespace run (null text and its space units) or a line break (null
    // text, 0).
    struct cTokenizedA {
        _guardchar<char> text;
        int value = 0;
    };
    struct cTokenizedW {
        _guardchar<unsigned short> text;
        int value = 0;
    };

    cCanvas() = default;
    cCanvas(const cCanvas&) = delete;
    cCanvas& operator=(const cCanvas&) = delete;

    virtual void setScale(cWindowRequestTargetScale* scale) { mScale = scale; }
    virtual int width() { return 0; }
    virtual int height() { return 0; }
    // One line of text with its top-left at (x, y); len -1: up to the NUL.
    virtual bool drawText(int, int, bool, const char*, long long) { return false; }
    virtual bool drawText(int, int, bool, const unsigned short*, long long) { return false; }
    // One line inside the box (x, y, w, h) between the margins, cut with
    // "..." when too wide.  Returns the x the text was drawn at, or -1.
    virtual int drawTextLimited(int x, int y, int w, int h, int align, bool transparent, int marginLeft,
                                int marginRight, const char* text, long long len, long long* drawnWidth,
                                bool fillMargins);
    virtual int drawTextLimited(int x, int y, int w, int h, int align, bool transparent, int marginLeft,
                                int marginRight, const unsigned short* text, long long len,
                                long long* drawnWidth, bool fillMargins);
    // Text wrapped into the box at word boundaries; used receives the widest
    // line and the height of the lines drawn.  lineSpacing 0: the platform's
    // factor.
    virtual bool drawTextWrapped(int x, int y, int w, int h, int align, const char* text, sSize& used,
                                 bool transparent, double lineSpacing);
    virtual bool drawTextWrapped(int x, int y, int w, int h, int align, const unsigned short* text,
                                 sSize& used, bool transparent, double lineSpacing);
    virtual bool drawRect(sRect*, unsigned int, unsigned int) { return false; }
    // Forwards to the next operation with the point and the size (null size:
    // the picture's own).
    virtual bool drawBitmap(sPoint* at, cPicture* picture, sSize* size);
    virtual bool drawBitmap(int, int, cPicture*, int, int) { return false; }
    virtual bool drawTransparent(sPoint*, cPicture*, sSize*) { return false; }
    virtual bool drawLine(sPoint*, sPoint*) { return false; }
    virtual bool draw(int, int, cCanvas*, int, int, int, int) { return false; }
    // The picture scaled to w x h at (x, y); only the part on the canvas is
    // resampled.
    virtual bool drawBitmapResized(cPicture* picture, int w, int h, int x, int y,
                                   cPicture::eResizeMethod method);
    virtual bool clip(sRect*) { return false; }
    virtual bool unclip(sRect*) { return false; }
    virtual void setLineMode(unsigned int, int) {}
    virtual bool setTextMode(int, int, const char*, bool, bool, bool) { return false; }
    virtual bool setTextMode(cFontObject*) { return false; }
    virtual cFontObject* createFont(int, int, const char*, bool, bool, bool) { return nullptr; }
    virtual void setTextColors(unsigned int, unsigned int) {}
    virtual unsigned int bgColor() { return 0; }
    virtual bool textSize(const char*, long long, sSize&) { return false; }
    virtual bool textSize(const unsigned short*, long long, sSize&) { return false; }
    // For each character (UTF-16 unit), the advance from the start of the
    // text to its end.
    virtual bool textRuler(const char*, long long, int*) { return false; }
    virtual bool textRuler(const unsigned short*, long long, int*) { return false; }
    virtual bool canDrawAt(sRect*) { return false; }
    // False when the rectangle lies wholly outside the canvas; touching edges
    // count as inside.
    virtual bool inDrawArea(sRect* r);
    virtual bool snapshot(cPicture*, sRect*) { return false; }
    virtual cCanvas* subCanvas(sRect*) { return nullptr; }
    virtual cCanvas* offscreen(int, int, int, int) { return nullptr; }
    virtual bool select() { return true; }
    virtual ~cCanvas() = default;

    // The text split into words, whitespace runs and line breaks, keyed 0,
    // 1, 2 ... in text order; words carry their measured width.  The UTF-16
    // form also ends a word after U+3001 and U+3002.  len -1: up to the NUL.
    bool tokenizeString(const unsigned short* text, long long len, cFasterTreeList<int, cTokenizedW>& out);
    bool tokenizeString(const char* text, long long len, cFasterTreeList<int, cTokenizedA>& out);

    cWindowRequestTargetScale* scale() const { return mScale; }

private:
    cWindowRequestTargetScale* mScale = nullptr;
};
