// A canvas that draws nothing and records every drawing call, and a font
// with fixed metrics, for the toolkit's tests of painting code.
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
    unsigned int color = 0;   // texts: the text colour; lines: the line colour
};

// The glyph model of the canvas's pixels: a unit of advance a draws a block
// from 1 pixel inside its left edge to 1 pixel inside its right one, from 2
// pixels below the line's top to 2 pixels above its bottom; spaces and
// units narrower than 3 pixels draw nothing.  Rectangles in canvas
// coordinates for a text whose top left is at (x, y).
std::vector<sRect> glyphBoxes(const std::u16string& text, int x, int y, int size);

class cRecordingCanvas : public cCanvas {
public:
    cRecordingCanvas(int w = 800, int h = 600, int fontSize = 10);

    // From now on every drawing call is also drawn into pixels (canvas
    // colours 0x00BBGGRR, w x h, rows top first, all `background` at first),
    // limited to the drawable region as clip, unclip and select leave it.
    // Rectangles fill (and stroke a 1-pixel outline when the border colour
    // differs); texts draw the glyph blocks above (an opaque text fills its
    // box first); pictures are drawn at their size, nearest pixel when
    // scaled, opaque or blended by alpha; lines include both end points.
    // Sub-canvases draw into the same pixels at their origin, and so do
    // offscreen canvases (their blit then adds nothing).
    void enablePixels(unsigned int background);
    // 0xFFFFFFFF outside the canvas or without pixels.
    unsigned int pixel(int x, int y) const;
    std::vector<unsigned int> pixels;

    int width() override { return mW; }
    int height() override { return mH; }
    bool drawText(int x, int y, bool transparent, const char* text, long long len) override;
    bool drawText(int x, int y, bool transparent, const unsigned short* text, long long len) override;
    bool drawRect(sRect* r, unsigned int fill, unsigned int border) override;
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
    bool allowOffscreen = true;
    // Makes drawText fail, to test callers' failure paths.
    bool failText = false;
    cFontObject* font() const { return mFont; }

private:
    void record(sDrawCall c);
    void recordRegion(const char* op, const sRect* r);
    cRecordingCanvas* sink() { return mSink ? mSink : this; }
    // Pixel drawing in this canvas's coordinates, cut to its own size and
    // to the root's active region.
    void plot(int x, int y, unsigned int colour);
    void fill(int x, int y, int w, int h, unsigned int colour);
    void regionSet(const sRect* r, unsigned char on);

    std::vector<unsigned char> mPending, mActive;  // root only: drawable pixels

    cRecordingCanvas* mSink = nullptr;
    int mOriginX = 0, mOriginY = 0;
    int mW, mH;
    cFontObject* mFont = nullptr;
    unsigned int mLine = 0;
    unsigned int mText = 0, mBackground = 0xFFFFFF;
};

// One line per call: "op x,y,w,h", rectangles with " #fill" (and "!" when
// the border differs), texts with their text; "select" alone.
std::string dumpCalls(const std::vector<sDrawCall>& calls);

// UTF-8 <-> UTF-16 for test texts.
std::u16string utf16(const std::string& s);
std::string utf8(const std::u16string& s);

}  // namespace qortest
