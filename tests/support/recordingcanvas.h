// A canvas that records every drawing call, and a font with fixed metrics,
// for the toolkit's tests of painting code.  On request (paintPixels) it also
// paints what it records into pixels, so that a test can compare a whole
// painted element tree with an expected image (cPixelImage).
//
// The fixed-metric font (cFixedFont): every UTF-16 unit advances size / 2
// pixels, except units from U+2E80 to U+FFEF (CJK and full-width forms),
// which advance size, and surrogates: a high surrogate advances 0 and a low
// one size, so a pair is one wide character.  A line is `size` pixels high.
#pragma once

#include "uitoolkit/canvas.h"

#include <string>
#include <vector>

namespace qortest {

class cFixedFont : public cFontObject {
public:
    // A face named "missing" cannot be made.
    bool define(int width, int size, const char* face, bool bold, bool underline, bool italic) override;
    bool apply(cCanvas* canvas) override;
    bool getTextDim(cCanvas*, const char* text, long long len, sSize& out) override;
    bool getTextDim(cCanvas*, const unsigned short* text, long long len, sSize& out) override;

    static int advance(unsigned short unit, int size);
    // Installs the maker of cFixedFont as the platform's font maker.
    static void install();
};

struct sDrawCall {
    std::string op;           // "text", "rect", "bitmap", "line", "alpha", "clip", "unclip", "select", "offscreen", "blit"
    int x = 0, y = 0, w = 0, h = 0;
    bool transparent = false;
    std::string text;         // UTF-8
    unsigned int fill = 0, border = 0;
    std::vector<unsigned int> pixels;  // bitmaps: the picture's pixels, rows top first
    int pw = 0, ph = 0;                // bitmaps: the picture's size
    unsigned int color = 0;   // texts: the text colour; lines: the line colour
};

class cRecordingCanvas : public cCanvas {
public:
    cRecordingCanvas(int w = 800, int h = 600, int fontSize = 10);

    int width() override { return mW; }
    int height() override { return mH; }
    bool drawText(int x, int y, bool transparent, const char* text, long long len) override;
    bool drawText(int x, int y, bool transparent, const unsigned short* text, long long len) override;
    bool drawRect(sRect* r, unsigned int fill, unsigned int border) override;
    // The point-and-size form stays in reach; it lands in the one below.
    using cCanvas::drawBitmap;
    bool drawBitmap(int x, int y, cPicture* picture, int w, int h) override;
    // Recorded as "alpha" (a picture drawn with its alpha channel).
    bool drawTransparent(sPoint* at, cPicture* picture, sSize* size) override;
    bool drawLine(sPoint* a, sPoint* b) override;
    void setLineMode(unsigned int color, int) override { mLine = color; }
    bool setTextMode(int width, int size, const char* face, bool bold, bool underline, bool italic) override;
    bool setTextMode(cFontObject* font) override;
    cFontObject* createFont(int width, int size, const char* face, bool bold, bool underline, bool italic) override;
    void setTextColors(unsigned int text, unsigned int background) override;
    unsigned int bgColor() override { return mBackground; }
    bool textSize(const char* text, long long len, sSize& out) override;
    bool textSize(const unsigned short* text, long long len, sSize& out) override;
    bool textRuler(const char* text, long long len, int* advances) override;
    bool textRuler(const unsigned short* text, long long len, int* advances) override;

    // Drawable-region changes ("clip", "unclip", "select") are recorded only
    // when asked; sub-canvases and offscreen canvases record into their
    // root canvas's list in its coordinates.
    bool clip(sRect* r) override;
    bool unclip(sRect* r) override;
    bool select() override;
    bool canDrawAt(sRect* r) override;
    cCanvas* subCanvas(sRect* r) override;
    // Null unless allowOffscreen; records "offscreen" with its size.
    cCanvas* offscreen(int w, int h, int, int) override;
    // Records "blit" with the source's size.
    bool draw(int x, int y, cCanvas* from, int, int, int, int) override;

    std::vector<sDrawCall> calls;
    bool recordRegions = false;

    // The pixel model (root canvas only): from now on every call is also
    // painted into `pixels` (canvas colours 0x00BBGGRR, rows top first,
    // starting as `background`), limited to the drawable region the way the
    // platform canvas limits it: clip, unclip and select change the region;
    // a sub-canvas draws inside its rectangle and its parent's selected
    // region; an offscreen canvas paints straight into its place (the later
    // "blit" is the identity).  Rectangles fill with a one-pixel border of
    // their own colour, lines cover both ends (see platformLineEnds),
    // pictures are scaled to the nearest pixel and blended by their alpha
    // in "alpha".  Text is drawn as glyph boxes (paintGlyphs).
    void paintPixels(unsigned int background);
    std::vector<unsigned int> pixels;
    unsigned int pixel(int x, int y) const;
    bool allowOffscreen = true;
    // Paint level and upright lines as the platform canvas does instead of
    // covering both ends: a vertical line stops short of its lower end, a
    // horizontal one covers its right-hand end pixel half, blended with
    // what lies under it.  What a frame leaves at its corners then shows.
    bool platformLineEnds = false;
    // Makes drawText fail, to test callers' failure paths.
    bool failText = false;
    cFontObject* font() const { return mFont; }

private:
    void record(sDrawCall c);
    void recordRegion(const char* op, const sRect* r);
    void paint(const sDrawCall& c);
    bool drawable(int x, int y) const;
    void put(int x, int y, unsigned int colour);
    void region(const sRect* r, unsigned char on);

    cRecordingCanvas* mSink = nullptr;
    cRecordingCanvas* mParentCanvas = nullptr;
    // Bounds in root coordinates, and the drawable region: pending (changed
    // by clip and unclip) and selected (what limits drawing); empty masks
    // stand for the whole bounds.
    sArea mBounds{0, 0, 0, 0};
    std::vector<unsigned char> mPending, mSelected;
    bool mPaint = false;
    int mOriginX = 0, mOriginY = 0;
    int mW, mH;
    cFontObject* mFont = nullptr;
    unsigned int mLine = 0;
    unsigned int mText = 0, mBackground = 0xFFFFFF;
};

// Text as the pixel model paints it: each UTF-16 unit of the fixed font's
// advance a (a > 0) at (x, y) is a box of (a - 2, at least 1) by (size - 2)
// one pixel in from its cell, except blanks, which leave the cell alone;
// an opaque text first fills its whole box (width by size) with `background`.
// plot(x, y, colour) receives every pixel.
template <class Plot>
void paintGlyphs(int x, int y, const std::string& utf8Text, int size, unsigned int colour, bool opaque,
                 unsigned int background, Plot plot);

// An expected image: a canvas-colour picture built from the geometry a test
// expects, with a mask of pixels that the comparison ignores.
class cPixelImage {
public:
    cPixelImage(int w, int h, unsigned int background);
    void fill(int x, int y, int w, int h, unsigned int colour);
    // A one-pixel frame of `border` around a `inside` fill (a rectangle of
    // the canvas).
    void rect(int x, int y, int w, int h, unsigned int inside, unsigned int border);
    void text(int x, int y, const std::string& utf8Text, int size, unsigned int colour);
    void ignore(int x, int y, int w, int h);
    int width() const { return mW; }
    int height() const { return mH; }
    unsigned int at(int x, int y) const { return mPixels[static_cast<size_t>(y) * mW + x]; }
    // "" when every pixel not ignored equals the canvas's; else the number
    // of differing pixels, their bounding box and the first few.
    std::string compare(const cRecordingCanvas& canvas, int atX = 0, int atY = 0) const;
    // The image and the canvas side by side as a PPM (for looking at a failure).
    bool savePPM(const std::string& path, const cRecordingCanvas* canvas) const;

private:
    void put(int x, int y, unsigned int c);
    int mW, mH;
    std::vector<unsigned int> mPixels;
    std::vector<unsigned char> mIgnored;
};

// One line per call: "op x,y,w,h", rectangles with " #fill" (and "!" when
// the border differs), texts with their text; "select" alone.
std::string dumpCalls(const std::vector<sDrawCall>& calls);

// UTF-8 <-> UTF-16 for test texts.
std::u16string utf16(const std::string& s);
std::string utf8(const std::u16string& s);

template <class Plot>
void paintGlyphs(int x, int y, const std::string& utf8Text, int size, unsigned int colour, bool opaque,
                 unsigned int background, Plot plot) {
    const std::u16string units = utf16(utf8Text);
    if (opaque) {
        int w = 0;
        for (char16_t u : units) w += cFixedFont::advance(u, size);
        for (int j = 0; j < size; ++j)
            for (int i = 0; i < w; ++i) plot(x + i, y + j, background);
    }
    for (char16_t u : units) {
        const int a = cFixedFont::advance(u, size);
        if (a > 0 && u != u' ' && u != u'\t') {
            const int gw = a > 2 ? a - 2 : 1;
            for (int j = 1; j < size - 1; ++j)
                for (int i = 0; i < gw; ++i) plot(x + 1 + i, y + j, colour);
        }
        x += a;
    }
}

}  // namespace qortest
