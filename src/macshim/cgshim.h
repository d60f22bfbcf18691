// A small 2-D drawing model in the manner of CoreGraphics, drawn by cairo:
// bitmap contexts over 32-bit premultiplied pixels with the origin at the
// bottom left and y growing upwards, a saved/restored graphics state (fill
// and stroke colours, line width, clip, text position), rectangles, line
// paths, clipping to rectangles and images.  Only what the platform layer
// draws with is here.
//
// Pixels are host-order 32-bit words 0xAARRGGBB with the colour channels
// premultiplied by alpha, rows top first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mactext/cgtransform.h"

struct CGContext;
struct CGImage;
struct CGColorSpace;
typedef CGContext* CGContextRef;
typedef CGImage* CGImageRef;
typedef CGColorSpace* CGColorSpaceRef;

struct CGPoint {
    double x = 0;
    double y = 0;
};
struct CGSize {
    double width = 0;
    double height = 0;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
};
inline CGRect CGRectMake(double x, double y, double w, double h) { return CGRect{{x, y}, {w, h}}; }

// Bitmap layouts this model knows: premultiplied alpha first in a host-order
// word (0xAARRGGBB), or the same with the alpha byte ignored (opaque).
enum : uint32_t {
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGBitmapByteOrder32Host = 0x2000,
};

// The largest side a bitmap context may have; the raster engine refuses
// larger ones.  Images may be larger: they are drawn in bands.
constexpr int kCGMaxBitmapSide = 32767;

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
void CGColorSpaceRelease(CGColorSpaceRef space);

// A context drawing into data (width x height pixels, bytesPerRow bytes a
// row, at least 4 x width and a multiple of 4).  Null data: the context
// owns a zeroed buffer.  Null for a size of 0 or over kCGMaxBitmapSide, a
// component size other than 8, an unknown layout or a gray colour space.
CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                                   std::size_t bytesPerRow, CGColorSpaceRef space, uint32_t bitmapInfo);
void CGContextRelease(CGContextRef ctx);
void* CGBitmapContextGetData(CGContextRef ctx);
std::size_t CGBitmapContextGetWidth(CGContextRef ctx);
std::size_t CGBitmapContextGetHeight(CGContextRef ctx);
std::size_t CGBitmapContextGetBytesPerRow(CGContextRef ctx);
// Drawing is finished in the pixels (the raster engine may batch).
void CGContextFlush(CGContextRef ctx);

void CGContextSaveGState(CGContextRef ctx);
// Restores the last saved state; a restore without a matching save changes
// nothing and answers false.
bool CGContextRestoreGState(CGContextRef ctx);
// Saves minus restores so far.
int CGContextGetGStateDepth(CGContextRef ctx);

void CGContextSetShouldAntialias(CGContextRef ctx, bool on);
void CGContextSetRGBFillColor(CGContextRef ctx, double r, double g, double b, double a);
void CGContextSetRGBStrokeColor(CGContextRef ctx, double r, double g, double b, double a);
void CGContextSetLineWidth(CGContextRef ctx, double width);
void CGContextFillRect(CGContextRef ctx, CGRect r);
void CGContextBeginPath(CGContextRef ctx);
void CGContextMoveToPoint(CGContextRef ctx, double x, double y);
void CGContextAddLineToPoint(CGContextRef ctx, double x, double y);
void CGContextClosePath(CGContextRef ctx);
void CGContextStrokePath(CGContextRef ctx);
// Intersects the clip with the union of the rectangles.
void CGContextClipToRects(CGContextRef ctx, const CGRect* rects, std::size_t count);
void CGContextClipToRect(CGContextRef ctx, CGRect r);

void CGContextSetTextMatrix(CGContextRef ctx, CGAffineTransform m);
CGAffineTransform CGContextGetTextMatrix(CGContextRef ctx);
void CGContextSetTextPosition(CGContextRef ctx, double x, double y);
CGPoint CGContextGetTextPosition(CGContextRef ctx);

// An image over width x height pixels in the layouts above, of any size
// whose rows the memory can hold.  The pixels are copied when copy is set,
// else they must outlive the image.  Null on a bad size, row length or
// layout.
CGImageRef CGImageCreateWithPixels(const void* data, std::size_t width, std::size_t height,
                                   std::size_t bytesPerRow, uint32_t bitmapInfo, bool copy);
void CGImageRelease(CGImageRef image);
std::size_t CGImageGetWidth(CGImageRef image);
std::size_t CGImageGetHeight(CGImageRef image);
// The image scaled into r, its first row at the top of r.
void CGContextDrawImage(CGContextRef ctx, CGRect r, CGImageRef image);

// The raster engine's own handle of the context (a cairo_t*), for the
// text engine beside this one.
void* CGContextGetRasterHandle(CGContextRef ctx);
// The fill colour of the current state as r, g, b, a.
void CGContextGetFillColor(CGContextRef ctx, double rgba[4]);
