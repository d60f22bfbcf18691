#include "mactext/ctshim.h"

#include "mactext/ctengine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

// The installed fonts.conf as seen from the installed programs' folder.
#ifndef QOR_FONTS_CONF_FROM_BIN
#define QOR_FONTS_CONF_FROM_BIN "../share/qor/fonts.conf"
#endif

// The project's fonts.conf, built into the library (fontsconf.cpp.in).
extern const char kQorBuiltInFontsConf[];

namespace {

// HarfBuzz positions are integers: the font is scaled this many times finer
// than a point so advances keep 1/1024 of a point.
constexpr double kSubUnits = 1024.0;

// Faces tried, in order, for characters the line's own font lacks; a bold
// font tries their bold faces first (or their regular ones emboldened).
const char* const kCascade[] = {"DejaVu Sans", "Noto Sans CJK JP", "Noto Sans CJK SC", "Noto Sans CJK KR",
                                "AR PL UMing TW"};

typedef sCTFace sFace;

// One process-wide engine: the font configuration, FreeType and every face
// opened so far (faces live for the process, as the fonts made on them).
struct sEngine {
    FcConfig* config = nullptr;
    FT_Library ft = nullptr;
    // By file, index in the file and emboldening.
    std::map<std::tuple<std::string, int, bool>, std::unique_ptr<sFace>> faces;
    bool ready = false;
    std::string source;

    sEngine() {
        if (FT_Init_FreeType(&ft) != 0) return;
        config = FcConfigCreate();
        if (!config) return;
        if (!load()) return;
        if (!FcConfigBuildFonts(config)) return;
        ready = true;
    }

    // The configuration named by FONTCONFIG_FILE; else the fonts.conf
    // installed with the package, found from the running program's folder;
    // else the copy built into the library, which needs no file at all, so
    // that a moved install or a program copied on its own (an installer
    // bundle) still finds its faces.
    bool load() {
        const char* named = std::getenv("FONTCONFIG_FILE");
        if (named && *named) {
            source = named;
            return FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(named), FcTrue);
        }
        const std::string installed = besideProgram();
        if (!installed.empty() && access(installed.c_str(), R_OK) == 0) {
            source = installed;
            return FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(installed.c_str()), FcTrue);
        }
        source = "built-in";
        return FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kQorBuiltInFontsConf),
                                              FcTrue);
    }

    static std::string besideProgram() {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return std::string();
        std::string dir(self, static_cast<std::size_t>(n));
        const std::size_t slash = dir.rfind('/');
        if (slash == std::string::npos) return std::string();
        return dir.substr(0, slash + 1) + QOR_FONTS_CONF_FROM_BIN;
    }
    // Faces, fonts and the configuration stay until the process ends: the
    // fonts made on them are kept that long by the toolkit's font store.
};

sEngine& engine() {
    static sEngine* e = new sEngine;  // never destroyed: fonts may outlive static destruction
    return *e;
}

sFace* openFace(const std::string& path, int index, const char* family, bool embolden, bool bold) {
    sEngine& e = engine();
    auto key = std::make_tuple(path, index, embolden);
    auto it = e.faces.find(key);
    if (it != e.faces.end()) return it->second.get();
    std::unique_ptr<sFace> f(new sFace);
    f->path = path;
    f->index = index;
    f->family = family ? family : "";
    f->embolden = embolden;
    f->bold = bold || embolden;
    if (FT_New_Face(e.ft, path.c_str(), index, &f->ft) != 0) return nullptr;
    hb_blob_t* blob = hb_blob_create_from_file(path.c_str());
    f->hb = hb_face_create(blob, static_cast<unsigned>(index));
    hb_blob_destroy(blob);
    f->upem = f->ft->units_per_EM ? f->ft->units_per_EM : hb_face_get_upem(f->hb);
    f->ascender = f->ft->ascender;
    f->descender = -static_cast<double>(f->ft->descender);
    f->lineGap = f->ft->height - (f->ft->ascender - f->ft->descender);
    if (f->lineGap < 0) f->lineGap = 0;
    sFace* raw = f.get();
    e.faces[key] = std::move(f);
    return raw;
}

bool sameName(const FcChar8* a, const std::string& b) {
    return a && FcStrCmpIgnoreCase(a, reinterpret_cast<const FcChar8*>(b.c_str())) == 0;
}

bool patternHasName(FcPattern* p, const char* object, const std::string& name) {
    FcChar8* v = nullptr;
    for (int i = 0; FcPatternGetString(p, object, i, &v) == FcResultMatch; ++i)
        if (sameName(v, name)) return true;
    return false;
}

// The face of a pattern the configuration's font rules were applied to.
sFace* faceOfPattern(FcPattern* p) {
    FcChar8* file = nullptr;
    int index = 0;
    FcChar8* family = nullptr;
    FcBool embolden = FcFalse;
    int weight = FC_WEIGHT_REGULAR;
    if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch) return nullptr;
    FcPatternGetInteger(p, FC_INDEX, 0, &index);
    FcPatternGetString(p, FC_FAMILY, 0, &family);
    FcPatternGetBool(p, FC_EMBOLDEN, 0, &embolden);
    FcPatternGetInteger(p, FC_WEIGHT, 0, &weight);
    return openFace(reinterpret_cast<const char*>(file), index, reinterpret_cast<const char*>(family),
                    embolden == FcTrue, weight >= FC_WEIGHT_DEMIBOLD);
}

// The face of a family (after the configuration's name mapping) at a
// weight and slant; null unless the family found is the one asked for:
// fontconfig always answers with some face.
sFace* findFamily(const std::string& family, int weight, int slant) {
    sEngine& e = engine();
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, weight);
    FcPatternAddInteger(pat, FC_SLANT, slant);
    FcConfigSubstitute(e.config, pat, FcMatchPattern);
    FcChar8* wanted = nullptr;
    std::string want = family;
    if (FcPatternGetString(pat, FC_FAMILY, 0, &wanted) == FcResultMatch) want = reinterpret_cast<char*>(wanted);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* match = FcFontMatch(e.config, pat, &res);
    FcPatternDestroy(pat);
    sFace* face = nullptr;
    if (match) {
        int gotWeight = FC_WEIGHT_REGULAR, gotSlant = FC_SLANT_ROMAN;
        FcPatternGetInteger(match, FC_WEIGHT, 0, &gotWeight);
        FcPatternGetInteger(match, FC_SLANT, 0, &gotSlant);
        const bool styleOk = (weight < FC_WEIGHT_BOLD || gotWeight >= FC_WEIGHT_DEMIBOLD) &&
                             (slant == FC_SLANT_ROMAN || gotSlant != FC_SLANT_ROMAN);
        if (styleOk && patternHasName(match, FC_FAMILY, want)) face = faceOfPattern(match);
        FcPatternDestroy(match);
    }
    return face;
}

// The face whose full or PostScript name is exactly name.
sFace* findExactName(const std::string& name, const char* object) {
    sEngine& e = engine();
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, object, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcObjectSet* os = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FAMILY, object, nullptr);
    FcFontSet* set = FcFontList(e.config, pat, os);
    sFace* face = nullptr;
    for (int i = 0; set && i < set->nfont && !face; ++i)
        if (patternHasName(set->fonts[i], object, name)) {
            // A listed font has not been through the configuration's font
            // rules yet (emboldening among them).
            FcPattern* ready = FcFontRenderPrepare(e.config, pat, set->fonts[i]);
            face = faceOfPattern(ready ? ready : set->fonts[i]);
            if (ready) FcPatternDestroy(ready);
        }
    if (set) FcFontSetDestroy(set);
    FcObjectSetDestroy(os);
    FcPatternDestroy(pat);
    return face;
}

bool endsWith(const std::string& s, const char* tail, std::string& head) {
    const std::size_t n = std::strlen(tail);
    if (s.size() <= n || s.compare(s.size() - n, n, tail) != 0) return false;
    head = s.substr(0, s.size() - n);
    return true;
}

sFace* findFace(const std::string& name) {
    if (!engine().ready || name.empty()) return nullptr;
    if (sFace* f = findFamily(name, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN)) return f;
    if (sFace* f = findExactName(name, FC_FULLNAME)) return f;
    if (sFace* f = findExactName(name, FC_POSTSCRIPT_NAME)) return f;
    std::string family;
    if (endsWith(name, " Bold Italic", family)) return findFamily(family, FC_WEIGHT_BOLD, FC_SLANT_ITALIC);
    if (endsWith(name, " Bold", family)) return findFamily(family, FC_WEIGHT_BOLD, FC_SLANT_ROMAN);
    if (endsWith(name, " Italic", family)) return findFamily(family, FC_WEIGHT_REGULAR, FC_SLANT_ITALIC);
    return nullptr;
}

}  // namespace

void (*ctDrawnFontRelease)(void* drawn) = nullptr;

bool ctDrawnCharSize(const CTFont* f, double& x, double& y) {
    // The transform is given for y upwards; cairo's font matrix has the
    // terms that mix x and y negated, which changes no length.
    const double xx = f->size * f->m.a, yx = -f->size * f->m.b;
    const double xy = -f->size * f->m.c, yy = f->size * f->m.d;
    const double det = std::fabs(xx * yy - yx * xy);
    const double major = std::hypot(xx, yx);
    if (!std::isfinite(det) || det == 0 || major == 0) return false;
    // FreeType takes no character size under a point: cairo sets 1 and
    // leaves the rest to the glyph transform.
    x = std::max(major, 1.0);
    y = std::max(det / major, 1.0);
    return true;
}

namespace {

// FreeType emboldens a glyph by a 24th of the em in 1/64 pixels (truncated)
// at the size the face is set to, and grows its advance by as much.  The
// size is the one the drawing side sets the face to for this font, so the
// glyphs are placed by the advances they are drawn with; it is set on a
// size object of our own, and the face's own size, which the drawing side
// may have set and keeps track of, is left as it was.
double emboldenedGrowth(CTFont* f) {
    double x = 0, y = 0;
    if (!ctDrawnCharSize(f, x, y)) return 0;
    FT_Face ft = f->face->ft;
    FT_Size own = nullptr;
    const FT_Size before = ft->size;
    if (FT_New_Size(ft, &own) != 0) return 0;
    double grow = 0;
    if (FT_Activate_Size(own) == 0 &&
        FT_Set_Char_Size(ft, static_cast<FT_F26Dot6>(x * 64.0 + .5), static_cast<FT_F26Dot6>(y * 64.0 + .5), 0,
                         0) == 0 &&
        ft->size)
        grow = static_cast<double>(FT_MulFix(ft->units_per_EM, ft->size->metrics.y_scale) / 24) / 64.0;
    FT_Activate_Size(before);
    FT_Done_Size(own);
    return grow;
}

CTFontRef makeFont(sFace* face, double size, const CGAffineTransform& m) {
    CTFont* f = new (std::nothrow) CTFont;
    if (!f) return nullptr;
    f->face = face;
    f->size = size;
    f->m = m;
    f->hb = hb_font_create(face->hb);
    hb_ot_font_set_funcs(f->hb);
    hb_font_set_scale(f->hb, static_cast<int>(std::lround(size * m.a * kSubUnits)),
                      static_cast<int>(std::lround(size * m.d * kSubUnits)));
    if (face->embolden) f->grow = emboldenedGrowth(f);
    return f;
}

const std::vector<CTFontRef>& cascadeOf(CTFont* font) {
    if (!font->cascadeMade) {
        font->cascadeMade = true;
        for (const char* name : kCascade) {
            sFace* face = font->face->bold ? findFamily(name, FC_WEIGHT_BOLD, FC_SLANT_ROMAN) : nullptr;
            if (!face) face = findFamily(name, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN);
            if (!face || face == font->face) continue;
            if (CTFontRef f = makeFont(face, font->size, font->m)) font->cascade.push_back(f);
        }
    }
    return font->cascade;
}

bool isHigh(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Characters that belong to the character before them and take its font.
bool clings(hb_codepoint_t cp) {
    if (cp == 0x200D || cp == 0x200C || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xE0100 && cp <= 0xE01EF))
        return true;
    const hb_unicode_general_category_t cat = hb_unicode_general_category(hb_unicode_funcs_get_default(), cp);
    return cat == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           cat == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK || cat == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
}

}  // namespace

CTFontRef CTFontCreateWithName(const char* name, double size, const CGAffineTransform* matrix) {
    if (!name || !(size > 0) || size > 10000) return nullptr;
    sFace* face = findFace(name);
    if (!face) return nullptr;
    return makeFont(face, size, matrix ? *matrix : CGAffineTransform{});
}

CTFontRef CTFontRetain(CTFontRef font) {
    if (font) ++font->refs;
    return font;
}

void CTFontRelease(CTFontRef font) {
    if (!font || --font->refs > 0) return;
    for (CTFontRef f : font->cascade) CTFontRelease(f);
    if (font->drawn && ctDrawnFontRelease) ctDrawnFontRelease(font->drawn);
    hb_font_destroy(font->hb);
    delete font;
}

double CTFontGetSize(CTFontRef font) { return font ? font->size : 0; }
double CTFontGetAscent(CTFontRef font) {
    return font ? font->face->ascender * font->size * font->m.d / font->face->upem : 0;
}
double CTFontGetDescent(CTFontRef font) {
    return font ? font->face->descender * font->size * font->m.d / font->face->upem : 0;
}
double CTFontGetLeading(CTFontRef font) {
    return font ? font->face->lineGap * font->size * font->m.d / font->face->upem : 0;
}
const char* CTFontGetFilePath(CTFontRef font, int* faceIndex) {
    if (!font) return nullptr;
    if (faceIndex) *faceIndex = font->face->index;
    return font->face->path.c_str();
}
const char* CTFontGetFamilyName(CTFontRef font) { return font ? font->face->family.c_str() : nullptr; }

const char* CTFontConfigurationSource() {
    sEngine& e = engine();
    return e.ready ? e.source.c_str() : nullptr;
}

CTLineRef CTLineCreateWithText(const uint16_t* text, std::size_t n, CTFontRef font, const double colour[4]) {
    if (!font || (!text && n) || n > 0x7FFFFFFF) return nullptr;
    CTLine* line = new (std::nothrow) CTLine;
    if (!line) return nullptr;
    if (colour) std::memcpy(line->colour, colour, sizeof(line->colour));

    // Pick a font for every character: the line's own when it has the
    // character, else the first of the cascade that has it.
    std::vector<CTFontRef> chosen(n, font);
    CTFontRef previous = font;
    for (std::size_t i = 0; i < n;) {
        hb_codepoint_t cp = text[i];
        std::size_t len = 1;
        if (isHigh(text[i]) && i + 1 < n && isLow(text[i + 1])) {
            cp = 0x10000 + ((text[i] - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
            len = 2;
        }
        CTFontRef pick = font;
        if (i > 0 && clings(cp)) {
            pick = previous;
        } else if (cp >= 0x20 && !font->covers(cp)) {
            for (CTFontRef f : cascadeOf(font))
                if (f->covers(cp)) {
                    pick = f;
                    break;
                }
        }
        for (std::size_t k = 0; k < len; ++k) chosen[i + k] = pick;
        previous = pick;
        i += len;
    }

    // One shaping buffer per thread, kept: lines are made for every draw.
    static thread_local struct sBuffer {
        hb_buffer_t* b = hb_buffer_create();
        ~sBuffer() { hb_buffer_destroy(b); }
    } shaping;
    hb_buffer_t* buf = shaping.b;
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start + 1;
        while (end < n && chosen[end] == chosen[start]) ++end;
        CTFontRef f = chosen[start];
        hb_buffer_clear_contents(buf);
        hb_buffer_add_utf16(buf, text, static_cast<int>(n), static_cast<unsigned>(start),
                            static_cast<int>(end - start));
        hb_buffer_guess_segment_properties(buf);
        hb_shape(f->hb, buf, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, &count);
        CTLine::sRun run;
        run.font = f;
        for (unsigned g = 0; g < count; ++g) {
            // Marks keep their zero advance, emboldened or not.
            const double advance = pos[g].x_advance / kSubUnits + (pos[g].x_advance != 0 ? f->grow : 0);
            run.glyphs.push_back(info[g].codepoint);
            run.advances.push_back(advance);
            run.dx.push_back(pos[g].x_offset / kSubUnits);
            run.dy.push_back(pos[g].y_offset / kSubUnits);
            run.indices.push_back(static_cast<long>(info[g].cluster));
            line->width += advance;
        }
        line->runs.push_back(std::move(run));
        start = end;
    }
    hb_buffer_clear_contents(buf);

    // A line is as tall as the tallest of its fonts; an empty one has its
    // own font's height.
    std::vector<CTFontRef> used{font};
    for (const auto& r : line->runs) used.push_back(r.font);
    for (CTFontRef f : used) {
        line->ascent = std::max(line->ascent, CTFontGetAscent(f));
        line->descent = std::max(line->descent, CTFontGetDescent(f));
        line->leading = std::max(line->leading, CTFontGetLeading(f));
    }
    return line;
}

void CTLineRelease(CTLineRef line) { delete line; }

double CTLineGetTypographicBounds(CTLineRef line, double* ascent, double* descent, double* leading) {
    if (ascent) *ascent = line ? line->ascent : 0;
    if (descent) *descent = line ? line->descent : 0;
    if (leading) *leading = line ? line->leading : 0;
    return line ? line->width : 0;
}

std::size_t CTLineGetGlyphRunCount(CTLineRef line) { return line ? line->runs.size() : 0; }
CTFontRef CTRunGetFont(CTLineRef line, std::size_t run) {
    return line && run < line->runs.size() ? line->runs[run].font : nullptr;
}
std::size_t CTRunGetGlyphCount(CTLineRef line, std::size_t run) {
    return line && run < line->runs.size() ? line->runs[run].glyphs.size() : 0;
}
void CTRunGetAdvances(CTLineRef line, std::size_t run, double* out) {
    if (!line || run >= line->runs.size() || !out) return;
    const auto& a = line->runs[run].advances;
    std::copy(a.begin(), a.end(), out);
}
void CTRunGetStringIndices(CTLineRef line, std::size_t run, long* out) {
    if (!line || run >= line->runs.size() || !out) return;
    const auto& a = line->runs[run].indices;
    std::copy(a.begin(), a.end(), out);
}
