// cPicture: the toolkit's image, a plain array of 32-bit pixels 0xAARRGGBB
// (in memory blue, green, red, alpha), rows top to bottom; alpha 0 is
// transparent and 255 opaque.  With it: the packed UI image, the disabled
// and active variants, resampling, and the two holders cPicturesList and
// cChildPicture.
//
// Packed UI image, little-endian:
//   i32 width (1..65536), i32 height (1..65536), then a zlib stream that
//   inflates to width x height u32 pixels, bottom row first.
// Images whose pixel count passes kMaxPackedImagePixels, and images whose
// stream ends early, are refused.
#pragma once

#include "base/buffers.h"
#include "base/treelist.h"
#include "uitoolkit/geometry.h"

// Built-in and packed pixel arrays are stored bottom row first; creators of
// such pixels pass this as their flip argument.  Always true.
extern bool __bmp_res_inversed;

class cPicture {
public:
    enum eResizeMethod { rmStretch = 0, rmScaling = 1 };

    cPicture() = default;
    ~cPicture();
    cPicture(const cPicture&) = delete;
    cPicture& operator=(const cPicture&) = delete;

    // ---- creation and ownership ------------------------------------------

    // w x h pixels; a new array set to 0 unless the pixel count stays the
    // same (then the old pixels stay).  False for a side below 1 or a count
    // above kMaxPicturePixels.
    bool create(int w, int h);
    // Copies w x h pixels; with flip, the last source row becomes row 0.
    bool create(const unsigned int* pixels, int w, int h, bool flip);
    bool create(unsigned int colour, int w, int h);
    // A packed UI image.
    bool create(const void* packed, long long size);
    // Takes over the buffer's array when it holds exactly w x h pixels (the
    // buffer is then left empty); otherwise false and nothing changes.
    bool create_on(_typebuf<unsigned int>& buffer, int w, int h);
    // Hands the pixels over to the buffer and leaves the picture empty.
    bool moveTo(_typebuf<unsigned int>& buffer, int& w, int& h);
    void swap(cPicture& other);
    void destroy();

    unsigned int* raw() const { return mPixels; }
    int width() const { return mWidth; }
    int height() const { return mHeight; }
    long long count() const { return mCount; }
    bool empty() const { return mPixels == nullptr; }

    // ---- editing ------------------------------------------------------------

    void makesolid();
    // Draws src with its top-left corner at (x, y), over at most w x h of its
    // pixels (0: all of its width or height), cut to both pictures; a
    // negative position cuts the source's left or top.  Alpha 0 keeps the
    // destination, 255 copies; otherwise a = alpha / 256 and each colour
    // becomes trunc(dest (1 - a) + src a); alpha becomes the source's
    // (srcAlpha) or trunc((1 - a) dest + a src).
    bool blt(const cPicture* src, int x, int y, int w, int h, bool srcAlpha);
    // Composites this picture onto dst at (x, y) with a = alpha / 255:
    // colours trunc(src a + dst (1 - a)), dst's alpha kept; cut to dst.
    bool blend(int x, int y, cPicture* dst) const;
    // Copies the rectangle r (cut to this picture and written back) into dst.
    bool subPictTo(sRect& r, cPicture* dst) const;
    bool flip();
    // 0, 90, 180 or 270 degrees counter-clockwise.
    bool rotate(int angle);

    // ---- resampling -----------------------------------------------------------

    bool resizing(int method, int w, int h, cPicture* dst) const;
    // Separable resampling: rows to the new width, then columns.
    bool stretch(int w, int h, cPicture* dst) const;
    // Area averaging in two dimensions.
    bool scaling(int w, int h, cPicture* dst) const;
    // The one-dimensional rule of stretch on `rows` rows of width w.
    static bool hStretch(const unsigned int* pixels, int w, int rows, int newW, _typebuf<unsigned int>& out);
    // Transposes; the result is h wide and w high.  flip_left: out pixel
    // (x', y') = in pixel (w - 1 - y', x'); flip_right, its inverse: out
    // pixel (x', y') = in pixel (y', h - 1 - x').
    static bool flip_left(const unsigned int* pixels, int w, int h, _typebuf<unsigned int>& out);
    static bool flip_right(const unsigned int* pixels, int w, int h, _typebuf<unsigned int>& out);

    // ---- variants -------------------------------------------------------------

    static bool mkDisabled(const unsigned int* pixels, long long count, unsigned int* out);
    static bool mkActive(const unsigned int* pixels, long long count, unsigned int* out);
    bool mkDisabled(unsigned int* out) const;
    bool mkActive(unsigned int* out) const;
    // New pictures owned by the caller; null for an empty picture.
    cPicture* mkDisabled() const;
    cPicture* mkActive() const;

private:
    bool consistent() const;
    bool adopt(unsigned int* pixels, long long count, int w, int h);

    unsigned int* mPixels = nullptr;
    long long mCount = 0;
    int mWidth = 0;
    int mHeight = 0;
};

class cPicturesList {
public:
    struct sImageRef {
        cPtr<cPicture> owned;
        cPicture* shown = nullptr;
    };

    cPicturesList() = default;
    ~cPicturesList() { destroy(); }
    cPicturesList(const cPicturesList&) = delete;
    cPicturesList& operator=(const cPicturesList&) = delete;

    bool storeImage(int index, const unsigned int* pixels, int w, int h, bool flip);
    bool storeImage(int index, cPicture* picture);
    bool refImage(int index, cPicture* picture);
    cPicture* image(int index) const;
    void destroy() { mImages.destroy(); }
    void destroy(int index) { mImages.dettach(index); }
    std::size_t count() const { return mImages.count(); }
    bool mkDisabled(cPicturesList& out) const;
    bool mkActive(cPicturesList& out) const;

private:
    cFasterTreeList<int, sImageRef> mImages;
};

class cChildPicture {
public:
    cChildPicture() = default;
    ~cChildPicture() { delete mOwned; }
    cChildPicture(const cChildPicture&) = delete;
    cChildPicture& operator=(const cChildPicture&) = delete;

    bool refImage(cPicturesList* list, int index);
    bool refImage(cPicture* picture);
    bool setImage(cPicture* picture);
    bool setImage(const unsigned int* pixels, int w, int h);
    cPicture* image() const { return mShown; }

private:
    cPicture* mOwned = nullptr;
    cPicture* mShown = nullptr;
};
