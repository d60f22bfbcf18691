// The text engine's faces, fonts and lines as its drawing side sees them
// (macshim/ctdraw.cpp): the layout is made here, the raster forms of faces
// and fonts there, on first draw.  Not for programs: use mactext/ctshim.h.
#pragma once

#include "mactext/ctshim.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <string>
#include <vector>

struct sCTFace {
    std::string path;
    int index = 0;
    std::string family;
    // The configuration asks for the outlines to be emboldened: a bold
    // face whose file carries no heavier outlines.
    bool embolden = false;
    // Drawn bold, with heavier outlines or emboldened: characters it lacks
    // are taken from bold faces too.
    bool bold = false;
    FT_Face ft = nullptr;
    hb_face_t* hb = nullptr;
    // The drawing side's form of the face, made on first draw; faces live
    // for the process, and so does it.
    void* drawn = nullptr;
    double upem = 1000;
    double ascender = 0, descender = 0, lineGap = 0;  // font units, descender positive
};

struct CTFont {
    int refs = 1;
    sCTFace* face = nullptr;
    double size = 0;
    CGAffineTransform m;
    hb_font_t* hb = nullptr;
    // The cascade's fonts at this size and transform, made on first need.
    bool cascadeMade = false;
    std::vector<CTFontRef> cascade;
    // The drawing side's rasterised form of the font, made on first draw
    // and released with the font through ctDrawnFontRelease.
    void* drawn = nullptr;
    // Pixels an emboldened face adds to every advance that is not zero, as
    // its glyphs grow by them when drawn.
    double grow = 0;

    bool covers(hb_codepoint_t cp) const {
        hb_codepoint_t g = 0;
        return hb_font_get_nominal_glyph(hb, cp, &g) && g != 0;
    }
};

struct CTLine {
    struct sRun {
        CTFontRef font = nullptr;
        std::vector<unsigned> glyphs;
        std::vector<double> advances, dx, dy;
        std::vector<long> indices;
    };
    std::vector<sRun> runs;
    double colour[4] = {0, 0, 0, 1};
    double width = 0, ascent = 0, descent = 0, leading = 0;
};

// Set by the drawing side when it first makes a font's raster form: releases
// CTFont::drawn.  Null while nothing was drawn.
extern void (*ctDrawnFontRelease)(void* drawn);

// The character size, x and y in points, at which the drawing side sets a
// face to draw the font: cairo's, the lengths of the glyph transform's x
// basis vector and of its normal, each at least 1.  False for a transform
// that draws nothing.
bool ctDrawnCharSize(const CTFont* font, double& x, double& y);
