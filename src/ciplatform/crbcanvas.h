// cCrbCanvas: the toolkit's canvas on a platform bitmap context (a window's
// or an offscreen one), with a drawable region kept as a list of
// rectangles; cCrbOffscreenCanvas: the same over a 32-bit bitmap of its
// own, for double buffering and snapshots.
//
// The toolkit's coordinates have y downwards from the top left; the
// context's have y upwards from the bottom left, so every operation flips y
// against the full height of the context.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "macshim/cgshim.h"
#include "uitoolkit/canvas.h"

class cCrbCanvas : public cCanvas {
public:
    // One rectangle of the drawable region, in context coordinates with the
    // top left origin, right and bottom exclusive.
    class cClippingItem : public cListItem {
    public:
        int left = 0, top = 0, right = 0, bottom = 0;
        cClippingItem() = default;
        explicit cClippingItem(const sArea& a) : left(a.left), top(a.top), right(a.right), bottom(a.bottom) {}
        bool contains(const sArea& a) const;
        bool isIn(const sArea& a) const;
        bool intersects(const sArea& a) const;
        sArea area() const { return sArea{left, top, right, bottom}; }
    };

    cCrbCanvas() = default;
    ~cCrbCanvas() override;

    bool create(CGContextRef ctx, int w, int h);

    // With a scale object, the fonts the canvas makes itself (the standard
    // font it starts with, setTextMode and createFont by description) are
    // made at the scaled sizes, and the current one is made again.
    void setScale(cWindowRequestTargetScale* scale) override;
    int width() override { return mArea.right - mArea.left; }
    int height() override { return mArea.bottom - mArea.top; }
    bool drawText(int x, int y, bool transparent, const char* utf8, long long n) override;
    bool drawText(int x, int y, bool transparent, const unsigned short* text, long long n) override;
    bool drawRect(sRect* r, unsigned int fill, unsigned int border) override;
    using cCanvas::drawBitmap;
    bool drawBitmap(sPoint* p, cPicture* pic, sSize* s) override;
    bool drawBitmap(int x, int y, cPicture* pic, int w, int h) override;
    bool drawTransparent(sPoint* p, cPicture* pic, sSize* s) override;
    bool drawLine(sPoint* a, sPoint* b) override;
    bool draw(int x, int y, cCanvas* src, int sx, int sy, int sw, int sh) override;
    bool clip(sRect* r) override;
    bool unclip(sRect* r) override;
    void setLineMode(unsigned int colour, int width) override;
    bool setTextMode(int i, int size, const char* face, bool bold, bool underline, bool italic) override;
    bool setTextMode(cFontObject* font) override;
    cFontObject* createFont(int i, int size, const char* face, bool bold, bool underline, bool italic) override;
    void setTextColors(unsigned int text, unsigned int background) override;
    unsigned int bgColor() override { return mBackColour; }
    bool textSize(const char* text, long long n, sSize& out) override;
    bool textSize(const unsigned short* text, long long n, sSize& out) override;
    bool textRuler(const char* text, long long n, int* out) override;
    bool textRuler(const unsigned short* text, long long n, int* out) override;
    bool canDrawAt(sRect* r) override;
    bool snapshot(cPicture*, sRect*) override { return false; }
    cCanvas* subCanvas(sRect* r) override;
    cCanvas* offscreen(int w, int h, int, int) override;
    bool select() override;
    // Restores the graphics state saved at creation (once: the destructor
    // does not restore it again).
    virtual void close();

    CGContextRef context() const { return mContext; }
    const cList& region() const { return mRegion; }
    cFontObject* font() const { return mFont; }
    const sArea& area() const { return mArea; }
    const sArea& bounds() const { return mBounds; }

protected:
    bool convertToLocalArea(sRect* r, sArea& out) const;
    void iClip(const sArea& a);
    void iUnclip(sArea a);
    void doSelect();
    // The graphics state saved at creation, restored once by close.
    void restoreSaved();

    cWindowRequestTargetScale* mScaleObject = nullptr;
    sArea mArea;
    sArea mBounds;
    CGContextRef mContext = nullptr;
    int mContextHeight = 0;
    unsigned int mLineColour = 0;
    int mLineWidth = 1;
    unsigned int mBackColour = 0xFFFFFF;
    unsigned int mTextColour = 0;
    cFontObject* mFont = nullptr;
    // What the current font was made from, in toolkit sizes; no face when
    // it was handed in as an object.
    struct sFontAsked {
        int width = 0, size = 0;
        _guardchar<char> face;
        bool bold = false, underline = false, italic = false;
    } mFontAsked;
    cCrbCanvas* mParent = nullptr;
    cList mRegion;
    bool mStateSaved = false;
};

class cCrbOffscreenCanvas : public cCrbCanvas {
public:
    cCrbOffscreenCanvas() = default;
    ~cCrbOffscreenCanvas() override;

    // False for a size below 1 or beyond what a bitmap may have on a side
    // (kCGMaxBitmapSide), or when the memory cannot be had.
    bool create(int w, int h);
    bool snapshot(cPicture* out, sRect* r) override;
    void close() override;

    // Premultiplied 0xAARRGGBB words, rows top first.
    const unsigned int* pixels() const { return mPixels.data(); }

private:
    _typebuf<unsigned int> mPixels;
};

// The process's device colour spaces, made on first use.
CGColorSpaceRef getGRGBColorSpace();
CGColorSpaceRef getGrayColorSpace();
