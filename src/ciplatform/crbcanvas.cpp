#include "ciplatform/crbcanvas.h"

#include "base/strutil.h"
#include "base/textenc.h"
#include "ciplatform/ctfont.h"
#include "ciplatform/platform.h"
#include "ciplatform/translator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kUtf8 = 65001;
constexpr uint32_t kPremultipliedFirst = kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Host;

void rgbOf(unsigned int c, double out[4]) {
    out[0] = (c & 0xFF) / 255.0;
    out[1] = ((c >> 8) & 0xFF) / 255.0;
    out[2] = ((c >> 16) & 0xFF) / 255.0;
    out[3] = 1.0;
}

void setFill(CGContextRef ctx, unsigned int c) {
    double v[4];
    rgbOf(c, v);
    CGContextSetRGBFillColor(ctx, v[0], v[1], v[2], v[3]);
}

void setStroke(CGContextRef ctx, unsigned int c) {
    double v[4];
    rgbOf(c, v);
    CGContextSetRGBStrokeColor(ctx, v[0], v[1], v[2], v[3]);
}

long long unitsOf(const unsigned short* text, long long n) {
    if (n >= 0) {
        long long k = 0;
        while (k < n && text[k]) ++k;
        return k;
    }
    return _wcslen(text);
}

bool emptyArea(const sArea& a) { return a.right <= a.left || a.bottom <= a.top; }

// A toolkit size in native units, rounded as the window rounds.
int scaledBy(cWindowRequestTargetScale* s, int v) {
    return s ? static_cast<int>(std::trunc(v * s->factor() + 0.5)) : v;
}

}  // namespace

CGColorSpaceRef getGRGBColorSpace() {
    static CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    return space;
}

CGColorSpaceRef getGrayColorSpace() {
    static CGColorSpaceRef space = CGColorSpaceCreateDeviceGray();
    return space;
}

// ---------------------------------------------------------------------------
// Region rectangles

bool cCrbCanvas::cClippingItem::contains(const sArea& a) const {
    return left <= a.left && top <= a.top && right >= a.right && bottom >= a.bottom;
}

bool cCrbCanvas::cClippingItem::isIn(const sArea& a) const {
    return left >= a.left && top >= a.top && right <= a.right && bottom <= a.bottom;
}

bool cCrbCanvas::cClippingItem::intersects(const sArea& a) const {
    return left < a.right && a.left < right && top < a.bottom && a.top < bottom;
}

// ---------------------------------------------------------------------------
// Canvas

cCrbCanvas::~cCrbCanvas() {
    restoreSaved();
    mRegion.destroy();
}

void cCrbCanvas::restoreSaved() {
    if (mContext && mStateSaved) CGContextRestoreGState(mContext);
    mStateSaved = false;
}

void cCrbCanvas::close() { restoreSaved(); }

bool cCrbCanvas::create(CGContextRef ctx, int w, int h) {
    if (!ctx || w < 0 || h < 0) return false;
    mContext = ctx;
    mArea = mBounds = sArea{0, 0, w, h};
    mContextHeight = h;
    mParent = nullptr;
    setTextMode(5, 13, _glbalStdFont(), false, false, false);
    CGContextSaveGState(ctx);
    mStateSaved = true;
    mRegion.destroy();
    mRegion.add(new cClippingItem(mBounds));
    return true;
}

void cCrbCanvas::setScale(cWindowRequestTargetScale* scale) {
    mScaleObject = scale;
    cCanvas::setScale(scale);
    // A font the canvas made from a description is made again at the
    // sizes of the new scale; one handed in as an object stays.
    if (mFontAsked.face.get()) {
        cFontObject* f = createFont(mFontAsked.width, mFontAsked.size, mFontAsked.face.get(), mFontAsked.bold,
                                    mFontAsked.underline, mFontAsked.italic);
        if (f) mFont = f;
    }
}

bool cCrbCanvas::drawText(int x, int y, bool transparent, const char* utf8, long long n) {
    if (!utf8) return false;
    _guardchar<unsigned short> wide;
    const long long units = __a2w(utf8, n, wide, kUtf8);
    static const unsigned short kEmpty[1] = {0};
    return drawText(x, y, transparent, wide.get() ? wide.get() : kEmpty, units);
}

bool cCrbCanvas::drawText(int x, int y, bool transparent, const unsigned short* text, long long n) {
    cMacCTFont* font = dynamic_cast<cMacCTFont*>(mFont);
    if (!text || !font || !font->ctFont() || !mContext) return false;
    n = unitsOf(text, n);
    double colour[4];
    rgbOf(mTextColour, colour);
    CTLineRef line = CTLineCreateWithText(text, static_cast<std::size_t>(n), font->ctFont(), colour);
    if (!line) return false;
    double ascent = 0, descent = 0;
    const double width = CTLineGetTypographicBounds(line, &ascent, &descent, nullptr);
    const double top = static_cast<double>(mContextHeight) - y - mArea.top;
    const double px = static_cast<double>(mArea.left) + x;
    CGContextSetTextMatrix(mContext, CGAffineTransform{});
    CGContextSetTextPosition(mContext, px, top - ascent + 0.5);
    if (!transparent) {
        setFill(mContext, mBackColour);
        CGContextFillRect(mContext,
                          CGRectMake(px, top - ascent - descent - 0.5, width + 1.5, ascent + descent + 0.5));
    }
    CTLineDraw(line, mContext);
    CTLineRelease(line);
    return true;
}

bool cCrbCanvas::drawRect(sRect* r, unsigned int fill, unsigned int border) {
    if (!r || !mContext) return false;
    const double u = 1;
    const double x = static_cast<double>(mArea.left) + r->x;
    const double y = static_cast<double>(mContextHeight) - (static_cast<double>(mArea.top) + r->y) - r->h;
    const double w = r->w, h = r->h;
    if (fill == border) {
        setFill(mContext, fill);
        CGContextFillRect(mContext, CGRectMake(x, y, w, h));
        return true;
    }
    setFill(mContext, fill);
    if (w > 2 * u && h > 2 * u) CGContextFillRect(mContext, CGRectMake(x + u, y + u, w - 2 * u, h - 2 * u));
    setStroke(mContext, border);
    CGContextSetLineWidth(mContext, mLineWidth * u);
    const double l = x + u / 2, b = y + u / 2, rr = x + w - u / 2, t = y + h - u / 2;
    CGContextBeginPath(mContext);
    CGContextMoveToPoint(mContext, l, b);
    CGContextAddLineToPoint(mContext, rr, b);
    CGContextAddLineToPoint(mContext, rr, t);
    CGContextAddLineToPoint(mContext, l, t);
    CGContextClosePath(mContext);
    CGContextStrokePath(mContext);
    return true;
}

bool cCrbCanvas::drawBitmap(sPoint* p, cPicture* pic, sSize* s) {
    if (!p || !pic) return false;
    return drawBitmap(p->x, p->y, pic, s ? s->w : -1, s ? s->h : -1);
}

bool cCrbCanvas::drawBitmap(int x, int y, cPicture* pic, int w, int h) {
    if (!pic) return false;
    if (w == 0 || h == 0 || x > width() || y > height()) return true;
    if (pic->width() < 1 || pic->height() < 1 || !pic->raw()) return false;
    // Each negative dimension on its own stands for the picture's.
    if (w < 0) w = pic->width();
    if (h < 0) h = pic->height();
    if (static_cast<long long>(x) + w < 1 || static_cast<long long>(y) + h < 1) return true;
    if (!mContext) return false;
    const int pw = pic->width(), ph = pic->height();
    std::vector<unsigned int> opaque;
    try {
        opaque.resize(static_cast<std::size_t>(pw) * static_cast<std::size_t>(ph));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const unsigned int* src = pic->raw();
    for (std::size_t i = 0; i < opaque.size(); ++i) opaque[i] = src[i] | 0xFF000000u;
    CGImageRef image = CGImageCreateWithPixels(opaque.data(), static_cast<std::size_t>(pw),
                                               static_cast<std::size_t>(ph), 4 * static_cast<std::size_t>(pw),
                                               kPremultipliedFirst, false);
    if (!image) return false;
    const double fx = static_cast<double>(mArea.left) + x;
    const double fy = static_cast<double>(mContextHeight) - (static_cast<double>(mArea.top) + y) - h;
    CGContextDrawImage(mContext, CGRectMake(fx, fy, w, h), image);
    CGImageRelease(image);
    return true;
}

bool cCrbCanvas::drawTransparent(sPoint* p, cPicture* pic, sSize* s) {
    if (!p || !pic) return false;
    const int w = s ? s->w : pic->width();
    const int h = s ? s->h : pic->height();
    if (w == 0 || h == 0 || p->x > width() || p->y > height()) return true;
    if (pic->width() < 1 || pic->height() < 1 || !pic->raw() || !mContext) return false;
    const int pw = pic->width(), ph = pic->height();
    std::vector<unsigned int> pre;
    try {
        pre.resize(static_cast<std::size_t>(pw) * static_cast<std::size_t>(ph));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const unsigned int* src = pic->raw();
    for (std::size_t i = 0; i < pre.size(); ++i) {
        const unsigned int c = src[i];
        const unsigned int a = c >> 24;
        auto mul = [a](unsigned int ch) { return static_cast<unsigned int>(ch * a * 0.00392157); };
        pre[i] = (a << 24) | (mul((c >> 16) & 0xFF) << 16) | (mul((c >> 8) & 0xFF) << 8) | mul(c & 0xFF);
    }
    CGImageRef image = CGImageCreateWithPixels(pre.data(), static_cast<std::size_t>(pw), static_cast<std::size_t>(ph),
                                               4 * static_cast<std::size_t>(pw), kPremultipliedFirst, false);
    if (!image) return false;
    const int dw = (w > 0 && h > 0) ? w : pw;
    const int dh = (w > 0 && h > 0) ? h : ph;
    const double fx = static_cast<double>(mArea.left) + p->x;
    const double fy = static_cast<double>(mContextHeight) - (static_cast<double>(mArea.top) + p->y) - dh;
    CGContextDrawImage(mContext, CGRectMake(fx, fy, dw, dh), image);
    CGImageRelease(image);
    return true;
}

bool cCrbCanvas::drawLine(sPoint* a, sPoint* b) {
    if (!a || !b || !mContext) return false;
    const double u = 1;
    double x0 = static_cast<double>(mArea.left) + a->x, x1 = static_cast<double>(mArea.left) + b->x;
    double y0 = static_cast<double>(mArea.top) + a->y, y1 = static_cast<double>(mArea.top) + b->y;
    if (a->x == b->x) {
        x0 += u / 2;
        x1 += u / 2;
    }
    if (a->y == b->y) {
        y0 += u / 2;
        y1 += u / 2;
        // The right-hand end reaches over its pixel.
        if (x1 >= x0)
            x1 += u / 2;
        else
            x0 += u / 2;
    }
    setStroke(mContext, mLineColour);
    CGContextSetLineWidth(mContext, mLineWidth * u);
    CGContextBeginPath(mContext);
    CGContextMoveToPoint(mContext, x0, mContextHeight - y0);
    CGContextAddLineToPoint(mContext, x1, mContextHeight - y1);
    CGContextStrokePath(mContext);
    return true;
}

bool cCrbCanvas::draw(int x, int y, cCanvas* src, int sx, int sy, int sw, int sh) {
    cCrbOffscreenCanvas* bitmap = dynamic_cast<cCrbOffscreenCanvas*>(src);
    if (!bitmap || !mContext) return false;
    CGContextRef sctx = bitmap->context();
    if (!sctx) return false;
    const int W = static_cast<int>(CGBitmapContextGetWidth(sctx));
    const int H = static_cast<int>(CGBitmapContextGetHeight(sctx));
    int cx = 0, cy = 0, cw = W, ch = H;
    if (!(sx <= 0 && sy <= 0 && sw <= 0 && sh <= 0)) {
        if (W < 1 || H < 1) return false;
        if (sx >= W || sy >= H) return true;
        cx = std::max(sx, 0);
        cy = std::max(sy, 0);
        cw = W - cx;
        if (sw >= 1 && sw < cw) cw = sw;
        ch = H - cy;
        if (sh > 0 && sh < ch) ch = sh;
        if (cw == 0 || ch == 0) return false;
    }
    if (cw < 1 || ch < 1) return true;
    unsigned char* base = static_cast<unsigned char*>(CGBitmapContextGetData(sctx));
    const std::size_t stride = CGBitmapContextGetBytesPerRow(sctx);
    if (!base) return true;
    CGImageRef image = CGImageCreateWithPixels(base + static_cast<std::size_t>(cy) * stride + 4 * static_cast<std::size_t>(cx),
                                               static_cast<std::size_t>(cw), static_cast<std::size_t>(ch), stride,
                                               kPremultipliedFirst, false);
    if (!image) return true;
    const double fx = static_cast<double>(mArea.left) + x;
    const double fy = static_cast<double>(mContextHeight) - (static_cast<double>(mArea.top) + y) - ch;
    CGContextDrawImage(mContext, CGRectMake(fx, fy, cw, ch), image);
    CGImageRelease(image);
    return true;
}

bool cCrbCanvas::convertToLocalArea(sRect* r, sArea& out) const {
    if (!r) return false;
    const long long l = static_cast<long long>(mArea.left) + r->x;
    const long long t = static_cast<long long>(mArea.top) + r->y;
    const long long rr = l + r->w, b = t + r->h;
    out.left = static_cast<int>(std::max<long long>(l, mBounds.left));
    out.top = static_cast<int>(std::max<long long>(t, mBounds.top));
    out.right = static_cast<int>(std::min<long long>(rr, mBounds.right));
    out.bottom = static_cast<int>(std::min<long long>(b, mBounds.bottom));
    return !emptyArea(out);
}

void cCrbCanvas::iClip(const sArea& a) {
    std::vector<sArea> pieces;
    for (cListItem* it = mRegion.head; it;) {
        cListItem* next = it->next;
        cClippingItem* r = static_cast<cClippingItem*>(it);
        if (r->isIn(a)) {
            mRegion.remove(r);
        } else if (r->intersects(a)) {
            // The parts of r outside a: the bands above and below it over
            // r's full width, and the parts left and right of it between.
            const int midTop = std::max(r->top, a.top), midBottom = std::min(r->bottom, a.bottom);
            if (r->top < a.top) pieces.push_back(sArea{r->left, r->top, r->right, a.top});
            if (r->bottom > a.bottom) pieces.push_back(sArea{r->left, a.bottom, r->right, r->bottom});
            if (r->left < a.left) pieces.push_back(sArea{r->left, midTop, a.left, midBottom});
            if (r->right > a.right) pieces.push_back(sArea{a.right, midTop, r->right, midBottom});
            mRegion.remove(r);
        }
        it = next;
    }
    for (const sArea& p : pieces) iUnclip(p);
}

void cCrbCanvas::iUnclip(sArea a) {
    cClippingItem* merged = nullptr;  // the rectangle that now holds a
restart:
    for (cListItem* it = mRegion.head; it;) {
        cListItem* next = it->next;
        cClippingItem* r = static_cast<cClippingItem*>(it);
        if (r == merged) {
            it = next;
            continue;
        }
        if (r->contains(a)) {
            if (merged) mRegion.remove(merged);
            return;
        }
        if (r->isIn(a)) {
            mRegion.remove(r);
            it = next;
            continue;
        }
        const bool sameColumns = r->left == a.left && r->right == a.right && r->top <= a.bottom && a.top <= r->bottom;
        const bool sameRows = r->top == a.top && r->bottom == a.bottom && r->left <= a.right && a.left <= r->right;
        if (sameColumns || sameRows) {
            r->left = std::min(r->left, a.left);
            r->top = std::min(r->top, a.top);
            r->right = std::max(r->right, a.right);
            r->bottom = std::max(r->bottom, a.bottom);
            a = r->area();
            if (merged) mRegion.remove(merged);
            merged = r;
            goto restart;
        }
        it = next;
    }
    if (!merged) mRegion.add(new cClippingItem(a));
}

bool cCrbCanvas::clip(sRect* r) {
    if (!mContext) return false;
    sArea a;
    if (!convertToLocalArea(r, a)) return r != nullptr;
    iClip(a);
    return true;
}

bool cCrbCanvas::unclip(sRect* r) {
    if (!mContext) return false;
    sArea a;
    if (!convertToLocalArea(r, a)) return r != nullptr;
    iUnclip(a);
    return true;
}

void cCrbCanvas::doSelect() {
    std::vector<CGRect> rects;
    for (cListItem* it = mRegion.head; it; it = it->next) {
        const cClippingItem* c = static_cast<cClippingItem*>(it);
        rects.push_back(CGRectMake(c->left, static_cast<double>(mContextHeight) - c->bottom, c->right - c->left,
                                   c->bottom - c->top));
    }
    CGContextClipToRects(mContext, rects.data(), rects.size());
}

bool cCrbCanvas::select() {
    if (!mContext) return false;
    restoreSaved();
    CGContextSaveGState(mContext);
    mStateSaved = true;
    doSelect();
    return true;
}

void cCrbCanvas::setLineMode(unsigned int colour, int width) {
    mLineColour = colour;
    mLineWidth = width;
}

bool cCrbCanvas::setTextMode(int i, int size, const char* face, bool bold, bool underline, bool italic) {
    cFontObject* f = createFont(i, size, face, bold, underline, italic);
    if (!f) return false;
    mFont = f;
    mFontAsked.width = i;
    mFontAsked.size = size;
    mFontAsked.face.set(face);
    mFontAsked.bold = bold;
    mFontAsked.underline = underline;
    mFontAsked.italic = italic;
    return true;
}

bool cCrbCanvas::setTextMode(cFontObject* font) {
    if (!font) return false;
    mFont = font;
    mFontAsked.face.clear();
    return true;
}

cFontObject* cCrbCanvas::createFont(int i, int size, const char* face, bool bold, bool underline, bool italic) {
    // Sizes are the toolkit's; the font is made at the window's own.
    return cFontObject::get(scaledBy(mScaleObject, i), scaledBy(mScaleObject, size), face, bold, underline, italic);
}

void cCrbCanvas::setTextColors(unsigned int text, unsigned int background) {
    mTextColour = text;
    mBackColour = background;
}

bool cCrbCanvas::textSize(const char* text, long long n, sSize& out) {
    if (!mFont) return false;
    return mFont->getTextDim(this, text, n, out);
}

bool cCrbCanvas::textSize(const unsigned short* text, long long n, sSize& out) {
    if (!mFont) return false;
    return mFont->getTextDim(this, text, n, out);
}

bool cCrbCanvas::textRuler(const char* text, long long n, int* out) {
    cMacCTFont* font = dynamic_cast<cMacCTFont*>(mFont);
    if (!font || !text || n == 0) return false;
    _guardchar<unsigned short> wide;
    const long long units = __a2w(text, n, wide, kUtf8);
    if (!wide.get()) return false;
    return font->textRuler(wide.get(), units, out);
}

bool cCrbCanvas::textRuler(const unsigned short* text, long long n, int* out) {
    cMacCTFont* font = dynamic_cast<cMacCTFont*>(mFont);
    if (!font) return false;
    return font->textRuler(text, n, out);
}

bool cCrbCanvas::canDrawAt(sRect* r) {
    if (!r) return false;
    if (r->x > mBounds.right - mBounds.left || r->y > mBounds.bottom - mBounds.top) return false;
    if (static_cast<long long>(r->x) + r->w < 0 || static_cast<long long>(r->y) + r->h < 0) return false;
    return true;
}

cCanvas* cCrbCanvas::subCanvas(sRect* r) {
    if (!r || !mContext) return nullptr;
    if (r->x > width() || r->y > height() || static_cast<long long>(r->x) + r->w < 0 ||
        static_cast<long long>(r->y) + r->h < 0)
        return nullptr;
    cCrbCanvas* sub = new (std::nothrow) cCrbCanvas;
    if (!sub) return nullptr;
    const long long l = static_cast<long long>(mArea.left) + r->x, t = static_cast<long long>(mArea.top) + r->y;
    sub->mArea = sArea{static_cast<int>(l), static_cast<int>(t), static_cast<int>(l + r->w), static_cast<int>(t + r->h)};
    sub->mBounds = sArea{std::max(sub->mArea.left, mArea.left), std::max(sub->mArea.top, mArea.top),
                         std::min(sub->mArea.right, mArea.right), std::min(sub->mArea.bottom, mArea.bottom)};
    if (emptyArea(sub->mBounds)) sub->mBounds.right = sub->mBounds.left, sub->mBounds.bottom = sub->mBounds.top;
    sub->mContext = mContext;
    sub->mContextHeight = mContextHeight;
    sub->mScaleObject = mScaleObject;
    sub->cCanvas::setScale(scale());
    sub->mParent = this;
    sub->mFont = mFont;
    sub->mFontAsked.width = mFontAsked.width;
    sub->mFontAsked.size = mFontAsked.size;
    if (mFontAsked.face.get()) sub->mFontAsked.face.set(mFontAsked.face.get());
    sub->mFontAsked.bold = mFontAsked.bold;
    sub->mFontAsked.underline = mFontAsked.underline;
    sub->mFontAsked.italic = mFontAsked.italic;
    sub->mLineColour = mLineColour;
    sub->mLineWidth = mLineWidth;
    sub->mTextColour = mTextColour;
    sub->mBackColour = mBackColour;
    sub->mRegion.add(new cClippingItem(sub->mBounds));
    // Saved before clipping, so closing the sub-canvas gives the parent its
    // own clip back.
    CGContextSaveGState(mContext);
    sub->mStateSaved = true;
    const sArea& b = sub->mBounds;
    CGContextClipToRect(mContext, CGRectMake(b.left, static_cast<double>(mContextHeight) - b.bottom, b.right - b.left,
                                             b.bottom - b.top));
    return sub;
}

cCanvas* cCrbCanvas::offscreen(int w, int h, int, int) {
    cCrbOffscreenCanvas* c = new (std::nothrow) cCrbOffscreenCanvas;
    if (!c) return nullptr;
    if (!c->create(w, h)) {
        delete c;
        return nullptr;
    }
    c->setScale(scale());
    return c;
}

// ---------------------------------------------------------------------------
// Offscreen canvas

cCrbOffscreenCanvas::~cCrbOffscreenCanvas() { close(); }

bool cCrbOffscreenCanvas::create(int w, int h) {
    close();
    if (w < 1 || h < 1 || w > kCGMaxBitmapSide || h > kCGMaxBitmapSide) return false;
    try {
        mPixels.set(static_cast<long long>(w) * h);
    } catch (...) {
        return false;
    }
    std::memset(mPixels.data(), 0, static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    CGContextRef ctx = CGBitmapContextCreate(mPixels.data(), static_cast<std::size_t>(w), static_cast<std::size_t>(h),
                                             8, 4 * static_cast<std::size_t>(w), getGRGBColorSpace(),
                                             kPremultipliedFirst);
    if (!ctx) {
        mPixels.set(0);
        return false;
    }
    CGContextSetShouldAntialias(ctx, true);
    return cCrbCanvas::create(ctx, w, h);
}

void cCrbOffscreenCanvas::close() {
    restoreSaved();
    if (mContext) CGContextRelease(mContext);
    mContext = nullptr;
    mPixels.set(0);
}

bool cCrbOffscreenCanvas::snapshot(cPicture* out, sRect* r) {
    if (!out || !mContext || !mPixels.data()) return false;
    CGContextFlush(mContext);
    const int w = width(), h = height();
    sRect whole{0, 0, w, h};
    if (r) {
        if (r->x < 0 || r->x >= w || r->y < 0 || r->y >= h || r->w < 1 || r->w > w || r->h < 1 || r->h > h ||
            r->x + r->w > w || r->y + r->h > h)
            return false;
    } else {
        r = &whole;
    }
    if (!out->create(r->w, r->h)) return false;
    unsigned int* dst = out->raw();
    for (int row = 0; row < r->h; ++row) {
        const unsigned int* src = mPixels.data() + static_cast<std::size_t>(r->y + row) * w + r->x;
        for (int col = 0; col < r->w; ++col) dst[static_cast<std::size_t>(row) * r->w + col] = src[col] | 0xFF000000u;
    }
    return true;
}
