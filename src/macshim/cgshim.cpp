#include "macshim/cgshim.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

struct CGColorSpace {
    bool gray = false;
};

namespace {

// What cairo's own state does not hold: CoreGraphics keeps separate fill
// and stroke colours and a text position in the graphics state.
struct sState {
    double fill[4] = {0, 0, 0, 1};
    double stroke[4] = {0, 0, 0, 1};
    CGAffineTransform text;
    CGPoint textPos;
};

bool layoutKnown(uint32_t info, cairo_format_t& format) {
    const uint32_t alpha = info & 0x1F;
    const uint32_t order = info & 0x7000;
    if (order != 0 && order != kCGBitmapByteOrder32Host) return false;
    if (alpha == kCGImageAlphaPremultipliedFirst) {
        format = CAIRO_FORMAT_ARGB32;
        return true;
    }
    if (alpha == kCGImageAlphaNoneSkipFirst) {
        format = CAIRO_FORMAT_RGB24;
        return true;
    }
    return false;
}

bool rowsFit(std::size_t w, std::size_t h, std::size_t bytesPerRow) {
    return w >= 1 && h >= 1 && w <= 0x7FFFFFFF / 4 && h <= 0x7FFFFFFF && bytesPerRow >= 4 * w &&
           bytesPerRow % 4 == 0 && bytesPerRow <= 0x7FFFFFFF && h <= SIZE_MAX / bytesPerRow;
}

// Contexts are raster surfaces, which the raster engine limits per side.
bool sizeFits(std::size_t w, std::size_t h, std::size_t bytesPerRow) {
    return rowsFit(w, h, bytesPerRow) && w <= static_cast<std::size_t>(kCGMaxBitmapSide) &&
           h <= static_cast<std::size_t>(kCGMaxBitmapSide);
}

// The side of the bands an image is drawn in.  The raster engine takes
// surfaces of up to kCGMaxBitmapSide, but samples a source only while its
// extents, filter reach included, stay within 16-bit coordinates: at full
// width a band draws nothing.  Half of it leaves room for any filter.
constexpr std::size_t kImageBand = 16384;

// Where the band boundary at image column (or row) c lies in the image's
// own units once moved to a whole device pixel: bands drawn side by side
// then cover every pixel of their seam fully, so scaled images show no seam.
double snapped(std::size_t c, std::size_t total, double origin, double extent) {
    const double device = std::floor(origin + extent * double(c) / double(total) + 0.5);
    return (device - origin) * double(total) / extent;
}

}  // namespace

struct CGContext {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    unsigned char* owned = nullptr;
    std::size_t width = 0, height = 0, stride = 0;
    std::vector<sState> saved;
    sState state;
};

// An image is its pixels; it is handed to the raster engine in bands of at
// most kCGMaxBitmapSide on a side when drawn, so it may be larger.
struct CGImage {
    const unsigned char* pixels = nullptr;
    std::size_t width = 0, height = 0, stride = 0;
    cairo_format_t format = CAIRO_FORMAT_ARGB32;
    unsigned char* owned = nullptr;
};

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return new (std::nothrow) CGColorSpace{false}; }
CGColorSpaceRef CGColorSpaceCreateDeviceGray() { return new (std::nothrow) CGColorSpace{true}; }
void CGColorSpaceRelease(CGColorSpaceRef space) { delete space; }

CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                                   std::size_t bytesPerRow, CGColorSpaceRef space, uint32_t bitmapInfo) {
    cairo_format_t format;
    if (bitsPerComponent != 8 || (space && space->gray) || !layoutKnown(bitmapInfo, format)) return nullptr;
    if (bytesPerRow == 0) bytesPerRow = 4 * width;
    if (!sizeFits(width, height, bytesPerRow)) return nullptr;
    CGContext* ctx = new (std::nothrow) CGContext;
    if (!ctx) return nullptr;
    if (!data) {
        ctx->owned = static_cast<unsigned char*>(std::calloc(height, bytesPerRow));
        if (!ctx->owned) {
            delete ctx;
            return nullptr;
        }
        data = ctx->owned;
    }
    ctx->surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(data), format,
                                                       static_cast<int>(width), static_cast<int>(height),
                                                       static_cast<int>(bytesPerRow));
    ctx->cr = cairo_create(ctx->surface);
    if (cairo_surface_status(ctx->surface) != CAIRO_STATUS_SUCCESS ||
        cairo_status(ctx->cr) != CAIRO_STATUS_SUCCESS) {
        CGContextRelease(ctx);
        return nullptr;
    }
    ctx->width = width;
    ctx->height = height;
    ctx->stride = bytesPerRow;
    // CoreGraphics' user space: origin at the bottom left, y upwards.
    cairo_translate(ctx->cr, 0, static_cast<double>(height));
    cairo_scale(ctx->cr, 1, -1);
    cairo_set_line_cap(ctx->cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(ctx->cr, CAIRO_LINE_JOIN_MITER);
    return ctx;
}

void CGContextRelease(CGContextRef ctx) {
    if (!ctx) return;
    if (ctx->cr) cairo_destroy(ctx->cr);
    if (ctx->surface) {
        cairo_surface_flush(ctx->surface);
        cairo_surface_destroy(ctx->surface);
    }
    std::free(ctx->owned);
    delete ctx;
}

void* CGBitmapContextGetData(CGContextRef ctx) {
    if (!ctx) return nullptr;
    cairo_surface_flush(ctx->surface);
    return cairo_image_surface_get_data(ctx->surface);
}
std::size_t CGBitmapContextGetWidth(CGContextRef ctx) { return ctx ? ctx->width : 0; }
std::size_t CGBitmapContextGetHeight(CGContextRef ctx) { return ctx ? ctx->height : 0; }
std::size_t CGBitmapContextGetBytesPerRow(CGContextRef ctx) { return ctx ? ctx->stride : 0; }
void CGContextFlush(CGContextRef ctx) {
    if (ctx) cairo_surface_flush(ctx->surface);
}

void CGContextSaveGState(CGContextRef ctx) {
    if (!ctx) return;
    cairo_save(ctx->cr);
    ctx->saved.push_back(ctx->state);
}

bool CGContextRestoreGState(CGContextRef ctx) {
    // cairo_restore without a save leaves the context in a permanent error
    // state, after which it draws nothing at all.
    if (!ctx || ctx->saved.empty()) return false;
    cairo_restore(ctx->cr);
    ctx->state = ctx->saved.back();
    ctx->saved.pop_back();
    return true;
}

int CGContextGetGStateDepth(CGContextRef ctx) { return ctx ? static_cast<int>(ctx->saved.size()) : 0; }

void CGContextSetShouldAntialias(CGContextRef ctx, bool on) {
    if (ctx) cairo_set_antialias(ctx->cr, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void CGContextSetRGBFillColor(CGContextRef ctx, double r, double g, double b, double a) {
    if (!ctx) return;
    double* f = ctx->state.fill;
    f[0] = r, f[1] = g, f[2] = b, f[3] = a;
}

void CGContextSetRGBStrokeColor(CGContextRef ctx, double r, double g, double b, double a) {
    if (!ctx) return;
    double* s = ctx->state.stroke;
    s[0] = r, s[1] = g, s[2] = b, s[3] = a;
}

void CGContextGetFillColor(CGContextRef ctx, double rgba[4]) {
    if (ctx) std::memcpy(rgba, ctx->state.fill, sizeof(ctx->state.fill));
}

void CGContextSetLineWidth(CGContextRef ctx, double width) {
    if (ctx) cairo_set_line_width(ctx->cr, width);
}

void CGContextFillRect(CGContextRef ctx, CGRect r) {
    if (!ctx) return;
    const double* f = ctx->state.fill;
    cairo_new_path(ctx->cr);
    cairo_rectangle(ctx->cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    cairo_set_source_rgba(ctx->cr, f[0], f[1], f[2], f[3]);
    cairo_fill(ctx->cr);
}

void CGContextBeginPath(CGContextRef ctx) {
    if (ctx) cairo_new_path(ctx->cr);
}
void CGContextMoveToPoint(CGContextRef ctx, double x, double y) {
    if (ctx) cairo_move_to(ctx->cr, x, y);
}
void CGContextAddLineToPoint(CGContextRef ctx, double x, double y) {
    if (ctx) cairo_line_to(ctx->cr, x, y);
}
void CGContextClosePath(CGContextRef ctx) {
    if (ctx) cairo_close_path(ctx->cr);
}
void CGContextStrokePath(CGContextRef ctx) {
    if (!ctx) return;
    const double* s = ctx->state.stroke;
    cairo_set_source_rgba(ctx->cr, s[0], s[1], s[2], s[3]);
    cairo_stroke(ctx->cr);
}

void CGContextClipToRects(CGContextRef ctx, const CGRect* rects, std::size_t count) {
    if (!ctx) return;
    cairo_new_path(ctx->cr);
    // All rectangles wind the same way, so the non-zero rule makes their
    // union, overlaps included.
    cairo_set_fill_rule(ctx->cr, CAIRO_FILL_RULE_WINDING);
    for (std::size_t i = 0; rects && i < count; ++i) {
        const CGRect& r = rects[i];
        if (r.size.width <= 0 || r.size.height <= 0) continue;
        cairo_rectangle(ctx->cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    }
    // An empty list clips everything away, as an empty union would.
    cairo_clip(ctx->cr);
}

void CGContextClipToRect(CGContextRef ctx, CGRect r) { CGContextClipToRects(ctx, &r, 1); }

void CGContextSetTextMatrix(CGContextRef ctx, CGAffineTransform m) {
    if (ctx) ctx->state.text = m;
}
CGAffineTransform CGContextGetTextMatrix(CGContextRef ctx) { return ctx ? ctx->state.text : CGAffineTransform{}; }
void CGContextSetTextPosition(CGContextRef ctx, double x, double y) {
    if (ctx) ctx->state.textPos = CGPoint{x, y};
}
CGPoint CGContextGetTextPosition(CGContextRef ctx) { return ctx ? ctx->state.textPos : CGPoint{}; }

void* CGContextGetRasterHandle(CGContextRef ctx) { return ctx ? ctx->cr : nullptr; }

CGImageRef CGImageCreateWithPixels(const void* data, std::size_t width, std::size_t height,
                                   std::size_t bytesPerRow, uint32_t bitmapInfo, bool copy) {
    cairo_format_t format;
    if (!data || !layoutKnown(bitmapInfo, format) || !rowsFit(width, height, bytesPerRow)) return nullptr;
    CGImage* image = new (std::nothrow) CGImage;
    if (!image) return nullptr;
    image->pixels = static_cast<const unsigned char*>(data);
    if (copy) {
        image->owned = static_cast<unsigned char*>(std::malloc(height * bytesPerRow));
        if (!image->owned) {
            delete image;
            return nullptr;
        }
        std::memcpy(image->owned, data, height * bytesPerRow);
        image->pixels = image->owned;
    }
    image->width = width;
    image->height = height;
    image->stride = bytesPerRow;
    image->format = format;
    return image;
}

void CGImageRelease(CGImageRef image) {
    if (!image) return;
    std::free(image->owned);
    delete image;
}

std::size_t CGImageGetWidth(CGImageRef image) { return image ? image->width : 0; }
std::size_t CGImageGetHeight(CGImageRef image) { return image ? image->height : 0; }

void CGContextDrawImage(CGContextRef ctx, CGRect r, CGImageRef image) {
    if (!ctx || !image || r.size.width <= 0 || r.size.height <= 0) return;
    const std::size_t iw = image->width, ih = image->height;
    const bool unscaled = r.size.width == double(iw) && r.size.height == double(ih);
    const std::size_t band = kImageBand;
    cairo_t* cr = ctx->cr;
    cairo_save(cr);
    // The image's first row goes to the top of r: its own flip against the
    // y-up user space.  Device rows run downwards from the top of r.
    const double top = double(ctx->height) - (r.origin.y + r.size.height);
    cairo_translate(cr, r.origin.x, r.origin.y + r.size.height);
    cairo_scale(cr, r.size.width / double(iw), -r.size.height / double(ih));
    for (std::size_t r0 = 0; r0 < ih; r0 += band) {
        const std::size_t bh = std::min(band, ih - r0);
        const double y0 = r0 ? snapped(r0, ih, top, r.size.height) : 0;
        const double y1 = r0 + bh < ih ? snapped(r0 + bh, ih, top, r.size.height) : double(ih);
        for (std::size_t c0 = 0; c0 < iw; c0 += band) {
            const std::size_t bw = std::min(band, iw - c0);
            const double x0 = c0 ? snapped(c0, iw, r.origin.x, r.size.width) : 0;
            const double x1 = c0 + bw < iw ? snapped(c0 + bw, iw, r.origin.x, r.size.width) : double(iw);
            // A view on the band's pixels: no copy.
            cairo_surface_t* s = cairo_image_surface_create_for_data(
                const_cast<unsigned char*>(image->pixels) + r0 * image->stride + 4 * c0, image->format,
                static_cast<int>(bw), static_cast<int>(bh), static_cast<int>(image->stride));
            if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
                cairo_set_source_surface(cr, s, double(c0), double(r0));
                // Unscaled images copy pixels exactly; scaled ones are
                // filtered, and the band's edge pixels stand for what lies
                // beyond its seams.
                if (unscaled) cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
                cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
                cairo_new_path(cr);
                cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
                cairo_fill(cr);
            }
            cairo_surface_destroy(s);
        }
    }
    cairo_restore(cr);
}
