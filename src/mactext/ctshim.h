// A text engine in the manner of CoreText, built on fontconfig (finding
// faces by name), HarfBuzz (shaping) and FreeType (outlines and metrics):
// fonts made by name at a size with a glyph transform, and single lines of
// UTF-16 text laid out in glyph runs, each run in the first font of a
// fallback cascade that has the run's characters.  Lines are drawn by the
// drawing model's side of it, CTLineDraw in macshim/ctshim.h (cairo), so
// that a program that only measures text loads no raster engine.
//
// Faces are looked up in the project's fonts.conf, which also maps the face
// names the toolkit uses to the faces installed: the FONTCONFIG_FILE
// variable names another one; else a fonts.conf installed with the package
// (share/qor beside the program's bin folder) is read; else the copy built
// into the library.
#pragma once

#include "mactext/cgtransform.h"

#include <cstddef>
#include <cstdint>

struct CTFont;
struct CTLine;
typedef CTFont* CTFontRef;
typedef CTLine* CTLineRef;

// The font with that family, full or PostScript name ("Tahoma", "Tahoma
// Bold", "Courier New Bold"), at size points with the glyph transform
// (null: identity); null when no such face is installed.  A name ending in
// " Bold" or " Italic" also finds that style of the family before it.
CTFontRef CTFontCreateWithName(const char* name, double size, const CGAffineTransform* matrix);
void CTFontRelease(CTFontRef font);
CTFontRef CTFontRetain(CTFontRef font);
double CTFontGetSize(CTFontRef font);
double CTFontGetAscent(CTFontRef font);
double CTFontGetDescent(CTFontRef font);
double CTFontGetLeading(CTFontRef font);
// The face's file and its index in a collection, for diagnostics and tests.
const char* CTFontGetFilePath(CTFontRef font, int* faceIndex);
// The family name of the face found.
const char* CTFontGetFamilyName(CTFontRef font);
// Where the font configuration came from: the file read, or "built-in";
// null when none could be loaded.
const char* CTFontConfigurationSource();

// A line of n UTF-16 units in font, drawn in colour (r, g, b, a from 0 to
// 1).  Null for a null font; n may be 0.
CTLineRef CTLineCreateWithText(const uint16_t* text, std::size_t n, CTFontRef font, const double colour[4]);
void CTLineRelease(CTLineRef line);
// Width of the line; ascent, descent and leading of its tallest fonts.
double CTLineGetTypographicBounds(CTLineRef line, double* ascent, double* descent, double* leading);

// The glyph runs in order: their font, glyph advances and the index of the
// first UTF-16 unit of each glyph's cluster.
std::size_t CTLineGetGlyphRunCount(CTLineRef line);
CTFontRef CTRunGetFont(CTLineRef line, std::size_t run);
std::size_t CTRunGetGlyphCount(CTLineRef line, std::size_t run);
void CTRunGetAdvances(CTLineRef line, std::size_t run, double* out);
void CTRunGetStringIndices(CTLineRef line, std::size_t run, long* out);
