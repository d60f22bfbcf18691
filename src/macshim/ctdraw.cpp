// The text engine's lines drawn on the drawing model's contexts through
// cairo: the raster forms of faces and fonts are made here on first draw.
#include "macshim/ctshim.h"

#include "mactext/ctengine.h"

#include <cairo-ft.h>
#include <cairo.h>

#include <vector>

namespace {

cairo_font_face_t* cairoFaceOf(sCTFace* face) {
    if (!face->drawn) {
        // Glyphs come from their outlines, unhinted: some faces carry bitmap
        // strikes for small sizes whose widths differ from the outline
        // advances the shaper places them by (and that are black and white
        // only).
        cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face->ft, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
        if (face->embolden) cairo_ft_font_face_set_synthesize(cf, CAIRO_FT_SYNTHESIZE_BOLD);
        face->drawn = cf;
    }
    return static_cast<cairo_font_face_t*>(face->drawn);
}

void releaseScaled(void* drawn) { cairo_scaled_font_destroy(static_cast<cairo_scaled_font_t*>(drawn)); }

cairo_scaled_font_t* scaledFontOf(CTFont* f) {
    if (f->drawn) return static_cast<cairo_scaled_font_t*>(f->drawn);
    // The transform is given for y upwards (a slant leans right as y
    // grows); glyph and device space both have y downwards, so the terms
    // that mix x and y change sign.
    cairo_matrix_t fm, ctm;
    cairo_matrix_init(&fm, f->size * f->m.a, -f->size * f->m.b, -f->size * f->m.c, f->size * f->m.d, 0, 0);
    cairo_matrix_init_identity(&ctm);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    // Outlines stay unhinted; whole-pixel glyph metrics let cairo bound its
    // composite by the glyphs (off, it composites through a mask of the
    // whole bitmap, three times slower).  Advances come from the shaper.
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_scaled_font_t* sf = cairo_scaled_font_create(cairoFaceOf(f->face), &fm, &ctm, options);
    cairo_font_options_destroy(options);
    if (cairo_scaled_font_status(sf) != CAIRO_STATUS_SUCCESS) {
        cairo_scaled_font_destroy(sf);
        return nullptr;
    }
    ctDrawnFontRelease = &releaseScaled;
    f->drawn = sf;
    return sf;
}

}  // namespace

void CTLineDraw(CTLineRef line, CGContextRef ctx) {
    cairo_t* cr = static_cast<cairo_t*>(CGContextGetRasterHandle(ctx));
    if (!line || !cr) return;
    const CGPoint origin = CGContextGetTextPosition(ctx);
    // Glyphs are placed in device space (y downwards), where the font's
    // rasterised form was made.
    cairo_matrix_t toDevice;
    cairo_get_matrix(cr, &toDevice);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_rgba(cr, line->colour[0], line->colour[1], line->colour[2], line->colour[3]);
    double pen = origin.x;
    std::vector<cairo_glyph_t> glyphs;
    for (const auto& run : line->runs) {
        cairo_scaled_font_t* scaled = scaledFontOf(run.font);
        if (!scaled) continue;
        cairo_set_scaled_font(cr, scaled);
        glyphs.clear();
        for (std::size_t g = 0; g < run.glyphs.size(); ++g) {
            double x = pen + run.dx[g], y = origin.y + run.dy[g];
            cairo_matrix_transform_point(&toDevice, &x, &y);
            glyphs.push_back(cairo_glyph_t{run.glyphs[g], x, y});
            pen += run.advances[g];
        }
        cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    }
    cairo_restore(cr);
    CGContextSetTextPosition(ctx, pen, origin.y);
}
