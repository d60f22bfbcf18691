#include "cifonts/ctfont.h"

#include "base/strutil.h"
#include "base/textenc.h"
#include "cifonts/platform.h"
#include "uitoolkit/lang.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int kUtf8 = 65001;

// Faces drawn too small by the platform's size rule at the toolkit's usual
// sizes get stretched.
struct sCorrection {
    const char* face;
    double h, v;
};
constexpr sCorrection kCorrections[] = {
    {"Meiryo", 1.08, 1.13},
    {"Microsoft YaHei", 1.12, 1.19},
    {"Microsoft JhengHei", 1.12, 1.19},
};
constexpr int kCorrectedUpTo = 16;
constexpr double kItalicShear = 0.3;

long long unitsOf(const unsigned short* text, long long n) {
    if (n >= 0) return n;
    return _wcslen(text);
}

bool isHigh(unsigned short u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(unsigned short u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

cMacCTFont::~cMacCTFont() { close(); }

void cMacCTFont::close() {
    CTFontRelease(mFont);
    mFont = nullptr;
}

void cMacCTFont::request(int size, const char* face, bool bold, bool italic, sRequest& out) {
    if (!face) face = "";
    if (bold)
        std::snprintf(out.name, 255, "%s Bold", face);
    else
        std::snprintf(out.name, 255, "%s", face);
    out.matrix = CGAffineTransform{};
    if (italic) out.matrix.c = kItalicShear;
    if (size <= kCorrectedUpTo)
        for (const sCorrection& c : kCorrections)
            if (std::strcmp(face, c.face) == 0) {
                out.matrix.a = c.h;
                out.matrix.d = c.v;
            }
    // The bracket in double precision, rounded to single, then taken from
    // the size in single precision: 13 -> 11.0, 11 -> 9.5, 16 -> 13.25.
    const float bracket = static_cast<float>((size - 11) * 0.25 + 1.5);
    out.points = static_cast<float>(size) - bracket;
}

bool cMacCTFont::define(int, int size, const char* face, bool bold, bool, bool italic) {
    close();
    if (!face) return false;
    sRequest req;
    request(size, face, bold, italic, req);
    mFont = CTFontCreateWithName(req.name, req.points, &req.matrix);
    return mFont != nullptr;
}

bool cMacCTFont::apply(cCanvas* canvas) {
    if (!canvas) return false;
    return canvas->setTextMode(this);
}

bool cMacCTFont::getTextDim(cCanvas* canvas, const char* text, long long n, sSize& out) {
    out = sSize{};
    if (!text) return false;
    _guardchar<unsigned short> wide;
    const long long units = __a2w(text, n, wide, kUtf8);
    static const unsigned short kEmpty[1] = {0};
    return getTextDim(canvas, wide.get() ? wide.get() : kEmpty, units, out);
}

bool cMacCTFont::getTextDim(cCanvas*, const unsigned short* text, long long n, sSize& out) {
    out = sSize{};
    if (!mFont || !text) return false;
    n = unitsOf(text, n);
    if (n == 0) return true;
    CTLineRef line = CTLineCreateWithText(text, static_cast<std::size_t>(n), mFont, nullptr);
    if (!line) return false;
    double ascent = 0, descent = 0;
    const double width = CTLineGetTypographicBounds(line, &ascent, &descent, nullptr);
    CTLineRelease(line);
    out.w = static_cast<int>(width + 1.5);
    out.h = static_cast<int>(ascent + descent + 0.5);
    return true;
}

bool cMacCTFont::textRuler(const unsigned short* text, long long n, int* out) {
    if (!mFont || !text || !out) return false;
    n = unitsOf(text, n);
    if (n == 0) return true;
    CTLineRef line = CTLineCreateWithText(text, static_cast<std::size_t>(n), mFont, nullptr);
    if (!line) return false;
    // Every glyph's advance goes to the cluster it belongs to; a cluster
    // spans the units from its first one to the next cluster's first, so
    // units of surrogate pairs, ligatures and marks get entries too.
    std::map<long, double> clusters;
    std::vector<double> adv;
    std::vector<long> idx;
    for (std::size_t r = 0; r < CTLineGetGlyphRunCount(line); ++r) {
        const std::size_t count = CTRunGetGlyphCount(line, r);
        adv.resize(count);
        idx.resize(count);
        CTRunGetAdvances(line, r, adv.data());
        CTRunGetStringIndices(line, r, idx.data());
        for (std::size_t g = 0; g < count; ++g) clusters[idx[g]] += adv[g];
    }
    CTLineRelease(line);
    double sum = 0;
    long long i = 0;
    while (i < n && (clusters.empty() || i < clusters.begin()->first)) out[i++] = 0;
    for (auto it = clusters.begin(); it != clusters.end() && i < n; ++it) {
        const auto after = std::next(it);
        const long long end = after == clusters.end() ? n : std::min<long long>(after->first, n);
        // The cluster's width is shared by its characters (a surrogate pair
        // is one character: both units end at the same place).
        long long chars = 0;
        for (long long k = it->first; k < end; ++k)
            if (!(isLow(text[k]) && k > it->first && isHigh(text[k - 1]))) ++chars;
        long long seen = 0;
        for (long long k = it->first; k < end; ++k) {
            if (!(isLow(text[k]) && k > it->first && isHigh(text[k - 1]))) ++seen;
            const double at = sum + it->second * static_cast<double>(seen) / static_cast<double>(chars);
            out[k] = static_cast<int>(at);
        }
        sum += it->second;
        i = end;
    }
    return true;
}

cFontObject* newMacCTFont() { return new cMacCTFont; }

void installPlatformFonts() { __setNewPlatformCPFont(newMacCTFont); }

const char* setDefaultPlatformFont(int* align) {
    if (align) *align = 3;
    const char* face = nullptr;
    switch (cLibLang::appliedLang()) {
    case lngJPN: face = "Tahoma"; break;
    case lngKOR: face = "Malgun Gothic"; break;
    case lngCHN: face = "Microsoft YaHei"; break;
    case lngTWN: face = "Microsoft JhengHei"; break;
    default: break;
    }
    if (face) {
        if (align) *align = 0;
        if (cFontObject::get(5, 13, face, false, false, false)) {
            setGlobalStdFont(face);
            setTextWrapYFactor(1.07);
            return _glbalStdFont();
        }
    }
    setGlobalStdFont("Tahoma");
    return _glbalStdFont();
}
