// The platform's fonts: faces found by the toolkit's names (and none for a
// name not installed), text measured against HarfBuzz's own shaper
// (hb-shape) and FreeType's metrics (python3-freetype) on the same face, and
// lines that mix scripts falling back to a face that has the characters.
#include "ciplatform/ctfont.h"
#include "base/textenc.h"
#include "ciplatform/platform.h"
#include "macshim/ctshim.h"
#include "uitoolkit/lang.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Per face file: the advances HarfBuzz gives for the text, summed per
// cluster and scaled to the size, and the face's ascent and descent, both
// from the font file itself.  For a face drawn emboldened every advance
// that is not zero grows by what FreeType's emboldening adds to a glyph's
// advance at that size (argv[6] 1; vertical scale argv[7]).
const char* kOracle = R"PY(
import json, subprocess, sys, freetype, freetype.raw
path, index, size, text = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
hs = float(sys.argv[5]) if len(sys.argv) > 5 else 1.0
embolden = len(sys.argv) > 6 and sys.argv[6] == '1'
vs = float(sys.argv[7]) if len(sys.argv) > 7 else 1.0
face = freetype.Face(path, index)
upem = face.units_per_EM
out = subprocess.run(['hb-shape', '--font-size=upem', '--face-index=%d' % index,
                      '--no-glyph-names', '--output-format=json', path, text],
                     capture_output=True, text=True, check=True).stdout
glyphs = json.loads(out.strip())
scale = size * hs / upem
grow = 0.0
if embolden:
    face.set_char_size(int(size * hs * 64 + 0.5), int(size * vs * 64 + 0.5))
    face.load_glyph(next(g['g'] for g in glyphs if g['ax']), freetype.FT_LOAD_NO_BITMAP | freetype.FT_LOAD_NO_HINTING)
    before = face.glyph.advance.x
    freetype.raw.FT_GlyphSlot_Embolden(face.glyph._FT_GlyphSlot)
    grow = (face.glyph.advance.x - before) / 64.0 / scale
clusters = {}
for g in glyphs:
    clusters[g['cl']] = clusters.get(g['cl'], 0) + g['ax'] + (grow if g['ax'] else 0)
print(repr(sum(g['ax'] + (grow if g['ax'] else 0) for g in glyphs) * scale))
print(repr(face.ascender * size / upem), repr(-face.descender * size / upem))
print(' '.join('%d:%r' % (c, clusters[c] * scale) for c in sorted(clusters)))
)PY";

struct sOracle {
    double width = 0, ascent = 0, descent = 0;
    std::vector<std::pair<int, double>> clusters;  // code point index, advance
};

sOracle shapeWith(CTFontRef font, const std::string& utf8, double hscale = 1.0, bool embolden = false,
                  double vscale = 1.0) {
    int index = 0;
    const char* path = CTFontGetFilePath(font, &index);
    char size[64], hs[64], vs[64];
    std::snprintf(size, sizeof size, "%.17g", CTFontGetSize(font));
    std::snprintf(hs, sizeof hs, "%.17g", hscale);
    std::snprintf(vs, sizeof vs, "%.17g", vscale);
    int rc = -1;
    const std::string out = qortest::runPython(kOracle, std::string("'") + path + "' " + std::to_string(index) + " " +
                                                            size + " '" + utf8 + "' " + hs + (embolden ? " 1 " : " 0 ") +
                                                            vs,
                                               &rc);
    EXPECT_EQ(rc, 0) << out;
    sOracle o;
    std::istringstream in(out);
    in >> o.width >> o.ascent >> o.descent;
    std::string item;
    while (in >> item) {
        const auto colon = item.find(':');
        o.clusters.emplace_back(std::stoi(item.substr(0, colon)), std::stod(item.substr(colon + 1)));
    }
    return o;
}

std::vector<unsigned short> utf16(const std::u16string& s) { return std::vector<unsigned short>(s.begin(), s.end()); }

std::string baseName(const char* path) {
    const std::string p = path ? path : "";
    return p.substr(p.rfind('/') + 1);
}

class PlatformFonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installPlatformFonts(); }
};

}  // namespace

TEST_F(PlatformFonts, ToolkitFaceNamesFindTheInstalledStandInsAndMissingNamesFindNothing) {
    struct {
        const char* name;
        const char* file;
    } table[] = {
        {"Tahoma", "tahoma.ttf"},
        // Wine's bold file has the regular outlines: the regular file is
        // drawn emboldened in its place.
        {"Tahoma Bold", "tahoma.ttf"},
        {"Courier New", "LiberationMono-Regular.ttf"},
        {"Courier New Bold", "LiberationMono-Bold.ttf"},
        {"Verdana", "DejaVuSans.ttf"},
        {"Lucida Sans", "DejaVuSans.ttf"},
        {"Malgun Gothic", "NotoSansCJK-Regular.ttc"},
        {"Microsoft YaHei", "NotoSansCJK-Regular.ttc"},
        {"Microsoft JhengHei", "NotoSansCJK-Regular.ttc"},
        {"Meiryo", "NotoSansCJK-Regular.ttc"},
        {"PMingLiU", "uming.ttc"},
        {"WineTahomaBold", "tahoma.ttf"},
    };
    for (const auto& row : table) {
        CTFontRef f = CTFontCreateWithName(row.name, 11, nullptr);
        ASSERT_NE(f, nullptr) << row.name;
        EXPECT_EQ(baseName(CTFontGetFilePath(f, nullptr)), row.file) << row.name;
        CTFontRelease(f);
    }
    // The four CJK names reach four different faces of the collection.
    std::vector<std::string> families;
    for (const char* n : {"Malgun Gothic", "Microsoft YaHei", "Microsoft JhengHei", "Meiryo"}) {
        CTFontRef f = CTFontCreateWithName(n, 11, nullptr);
        families.push_back(CTFontGetFamilyName(f));
        CTFontRelease(f);
    }
    EXPECT_EQ(families, (std::vector<std::string>{"Noto Sans CJK KR", "Noto Sans CJK SC", "Noto Sans CJK TC",
                                                  "Noto Sans CJK JP"}));

    for (const char* missing : {"No Such Face", "Tahomax", "Bold", "", "Tahoma Black"})
        EXPECT_EQ(CTFontCreateWithName(missing, 11, nullptr), nullptr) << missing;
    EXPECT_EQ(cFontObject::get(5, 13, "No Such Face", false, false, false), nullptr);
    cFontObject* tahoma = cFontObject::get(5, 13, "Tahoma", true, false, false);
    ASSERT_NE(tahoma, nullptr);
    EXPECT_EQ(baseName(CTFontGetFilePath(static_cast<cMacCTFont*>(tahoma)->ctFont(), nullptr)), "tahoma.ttf");
}

TEST_F(PlatformFonts, SizeRuleSlantAndStretchOfTheRequest) {
    cMacCTFont::sRequest r;
    cMacCTFont::request(13, "Tahoma", true, false, r);
    EXPECT_STREQ(r.name, "Tahoma Bold");
    EXPECT_EQ(r.points, 11.0f);
    cMacCTFont::request(11, "Tahoma", false, false, r);
    EXPECT_STREQ(r.name, "Tahoma");
    EXPECT_EQ(r.points, 9.5f);
    cMacCTFont::request(16, "Meiryo", false, false, r);
    EXPECT_EQ(r.points, 13.25f);
    EXPECT_EQ(r.matrix.a, 1.08);
    EXPECT_EQ(r.matrix.d, 1.13);
    EXPECT_EQ(r.matrix.c, 0.0);
    cMacCTFont::request(17, "Meiryo", false, true, r);
    EXPECT_EQ(r.matrix.a, 1.0);
    EXPECT_EQ(r.matrix.d, 1.0);
    EXPECT_EQ(r.matrix.c, 0.3);
    cMacCTFont::request(12, "Microsoft JhengHei", false, true, r);
    EXPECT_EQ(r.matrix.a, 1.12);
    EXPECT_EQ(r.matrix.d, 1.19);
    EXPECT_EQ(r.matrix.c, 0.3);
    // Exact face comparison: another case gets no stretch.
    cMacCTFont::request(12, "meiryo", false, false, r);
    EXPECT_EQ(r.matrix.a, 1.0);
    // A long face name is cut, never overrun.
    const std::string longName(400, 'x');
    cMacCTFont::request(12, longName.c_str(), true, false, r);
    EXPECT_EQ(std::string(r.name), std::string(254, 'x'));
}

TEST_F(PlatformFonts, TextSizesAgreeWithHarfBuzzAndFreeType) {
    struct {
        const char* face;
        int size;
        bool bold;
        const char* text;
        bool embolden;
    } table[] = {
        {"Tahoma", 13, false, "Hello, World", false},
        {"Tahoma", 13, true, "Installed packages: 42", true},
        {"Courier New", 13, false, "fixed width", false},
        {"Verdana", 16, false, "AVATAR Wave office", false},
        {"Lucida Sans", 11, false, "Lucida", false},
        {"Microsoft YaHei", 13, false, "\xe8\xbd\xaf\xe4\xbb\xb6\xe5\x8c\x85", false},
        {"Meiryo", 15, false, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", false},
        // AR PL UMing has no bold face: its regular one is drawn emboldened.
        {"PMingLiU", 13, true, "\xe8\xbb\x9f\xe9\xab\x94 Qor", true},
    };
    for (const auto& row : table) {
        cFontObject* font = cFontObject::get(5, row.size, row.face, row.bold, false, false);
        ASSERT_NE(font, nullptr) << row.face;
        CTFontRef ct = static_cast<cMacCTFont*>(font)->ctFont();
        const double hs = std::string(row.face) == "Meiryo" ? 1.08 : std::string(row.face) == "Microsoft YaHei" ? 1.12 : 1.0;
        const double vs = std::string(row.face) == "Meiryo" ? 1.13 : std::string(row.face) == "Microsoft YaHei" ? 1.19 : 1.0;
        const sOracle o = shapeWith(ct, row.text, hs, row.embolden, vs);
            sSize dim;
        ASSERT_TRUE(font->getTextDim(nullptr, row.text, -1, dim)) << row.face;
        double ascent = 0, descent = 0;
        CTLineRef line = nullptr;
        {
            _guardchar<unsigned short> w;
            const long long n = __a2w(row.text, -1, w, 65001);
            line = CTLineCreateWithText(w.get(), static_cast<std::size_t>(n), ct, nullptr);
        }
        const double width = CTLineGetTypographicBounds(line, &ascent, &descent, nullptr);
        CTLineRelease(line);
        EXPECT_NEAR(width, o.width, 0.01) << row.face << " " << row.text;
        EXPECT_NEAR(ascent, o.ascent * vs, 1e-9) << row.face;
        EXPECT_NEAR(descent, o.descent * vs, 1e-9) << row.face;
        EXPECT_NEAR(dim.w, std::trunc(o.width + 1.5), std::fabs(std::fmod(o.width + 1.5, 1.0)) < 0.02 ? 1 : 0)
            << row.face;
        EXPECT_EQ(dim.h, static_cast<int>(o.ascent * vs + o.descent * vs + 0.5)) << row.face;
    }
    cFontObject* tahoma = cFontObject::get(5, 13, "Tahoma", false, false, false);
    sSize dim{7, 7};
    static const unsigned short kEmpty[] = {0};
    EXPECT_TRUE(tahoma->getTextDim(nullptr, kEmpty, 0, dim));
    EXPECT_EQ(dim.w, 0);
    EXPECT_EQ(dim.h, 0);
    EXPECT_FALSE(tahoma->getTextDim(nullptr, static_cast<const unsigned short*>(nullptr), 3, dim));
    cMacCTFont undefined;
    static const unsigned short kX[] = {'x', 0};
    EXPECT_FALSE(undefined.getTextDim(nullptr, kX, 1, dim));
}

TEST_F(PlatformFonts, LinesMixingScriptsTakeTheCjkFaceForCjkCharacters) {
    cFontObject* font = cFontObject::get(5, 13, "Tahoma", false, false, false);
    ASSERT_NE(font, nullptr);
    CTFontRef ct = static_cast<cMacCTFont*>(font)->ctFont();
    const std::vector<unsigned short> text = utf16(u"Qor \u65e5\u672c\u8a9e pkg");
    CTLineRef line = CTLineCreateWithText(text.data(), text.size(), ct, nullptr);
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(CTLineGetGlyphRunCount(line), 3u);
    std::vector<std::string> files;
    for (std::size_t r = 0; r < 3; ++r) files.push_back(baseName(CTFontGetFilePath(CTRunGetFont(line, r), nullptr)));
    EXPECT_EQ(files, (std::vector<std::string>{"tahoma.ttf", "NotoSansCJK-Regular.ttc", "tahoma.ttf"}));
    // The CJK run measures as the CJK face alone would.
    const sOracle cjk = shapeWith(CTRunGetFont(line, 1), "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e");
    std::vector<double> adv(CTRunGetGlyphCount(line, 1));
    CTRunGetAdvances(line, 1, adv.data());
    double sum = 0;
    for (double a : adv) sum += a;
    EXPECT_NEAR(sum, cjk.width, 0.01);
    // The line is as tall as its tallest face.
    double ascent = 0;
    CTLineGetTypographicBounds(line, &ascent, nullptr, nullptr);
    EXPECT_NEAR(ascent, std::max(CTFontGetAscent(ct), CTFontGetAscent(CTRunGetFont(line, 1))), 1e-12);
    CTLineRelease(line);

    // A bold line takes the characters its face lacks from bold faces.
    // U+2192 is in DejaVu Sans and Liberation Mono, not in Tahoma.
    const std::string cjkBold = "NotoSansCJK-Bold.ttc Noto Sans CJK JP";
    const std::string tahoma = "tahoma.ttf Tahoma", mono = "LiberationMono-Bold.ttf Liberation Mono";
    const struct {
        const char* face;
        std::vector<std::string> runs;
    } boldLines[] = {
        {"Tahoma", {tahoma, cjkBold, tahoma, "DejaVuSans-Bold.ttf DejaVu Sans", tahoma, cjkBold}},
        {"Courier New", {mono, cjkBold, mono, cjkBold}},
    };
    for (const auto& row : boldLines) {
        const char* face = row.face;
        cFontObject* bold = cFontObject::get(5, 13, face, true, false, false);
        ASSERT_NE(bold, nullptr) << face;
        CTFontRef bct = static_cast<cMacCTFont*>(bold)->ctFont();
        const std::vector<unsigned short> mixed = utf16(u"Qor \u65e5\u672c\u8a9e \u2192 \u2EA2");
        line = CTLineCreateWithText(mixed.data(), mixed.size(), bct, nullptr);
        ASSERT_NE(line, nullptr);
        std::vector<std::string> runs;
        for (std::size_t r = 0; r < CTLineGetGlyphRunCount(line); ++r) {
            CTFontRef f = CTRunGetFont(line, r);
            runs.push_back(baseName(CTFontGetFilePath(f, nullptr)) + " " + CTFontGetFamilyName(f));
        }
        EXPECT_EQ(runs, row.runs) << face;
        CTLineRelease(line);
    }
}

TEST_F(PlatformFonts, RulerGivesEveryUnitItsEndThroughLigaturesPairsAndFallbacks) {
    // "office" has an "ffi" ligature in DejaVu Sans; U+2000B is a
    // supplementary-plane character only the CJK face has.
    cFontObject* font = cFontObject::get(5, 16, "Verdana", false, false, false);
    ASSERT_NE(font, nullptr);
    auto* mac = static_cast<cMacCTFont*>(font);
    const std::vector<unsigned short> text = utf16(u"office \U0002000B\u65e5x");
    const long long n = static_cast<long long>(text.size());
    std::vector<int> ruler(text.size() + 1, -7);
    ASSERT_TRUE(mac->textRuler(text.data(), n, ruler.data()));
    EXPECT_EQ(ruler[text.size()], -7);  // nothing past the n entries

    // Expected cluster ends from hb-shape on each face: the Latin part on
    // the line's face, the CJK part on the face the fallback found.
    const sOracle latin = shapeWith(mac->ctFont(), "office ");
    CTLineRef line = CTLineCreateWithText(text.data(), text.size(), mac->ctFont(), nullptr);
    ASSERT_GE(CTLineGetGlyphRunCount(line), 2u);
    const sOracle cjk = shapeWith(CTRunGetFont(line, 1), "\xf0\xa0\x80\x8b\xe6\x97\xa5");
    const double total = CTLineGetTypographicBounds(line, nullptr, nullptr, nullptr);
    CTLineRelease(line);
    ASSERT_EQ(latin.clusters.size(), 5u);  // o, ffi, c, e, space
    double at = 0;
    std::vector<double> ends(text.size(), -1);
    for (std::size_t c = 0; c < latin.clusters.size(); ++c) {
        const int first = latin.clusters[c].first;
        const int last = c + 1 < latin.clusters.size() ? latin.clusters[c + 1].first : 7;
        for (int k = first; k < last; ++k)
            ends[k] = at + latin.clusters[c].second * (k - first + 1) / (last - first);
        at += latin.clusters[c].second;
    }
    ASSERT_EQ(cjk.clusters.size(), 2u);
    ends[7] = ends[8] = at + cjk.clusters[0].second;  // both halves of the pair
    ends[9] = at + cjk.clusters[0].second + cjk.clusters[1].second;
    ends[10] = total;
    for (std::size_t k = 0; k < text.size(); ++k) EXPECT_EQ(ruler[k], static_cast<int>(ends[k] + 1e-9)) << k;
    EXPECT_EQ(ruler[1], static_cast<int>(ends[1]));
    EXPECT_LT(ruler[1], ruler[3]);  // the ligature's width is spread over f, f, i

    EXPECT_TRUE(mac->textRuler(text.data(), 0, ruler.data()));
    EXPECT_FALSE(mac->textRuler(nullptr, 3, ruler.data()));
    EXPECT_FALSE(mac->textRuler(text.data(), 3, nullptr));
}

TEST_F(PlatformFonts, StandardFaceFollowsTheAppliedLanguage) {
    const unsigned int before = cLibLang::glastAppliedLang;
    int align = -1;
    cLibLang::glastAppliedLang = lngKOR;
    EXPECT_STREQ(setDefaultPlatformFont(&align), "Malgun Gothic");
    EXPECT_EQ(align, 0);
    EXPECT_STREQ(_glbalStdFont(), "Malgun Gothic");
    EXPECT_EQ(textWrapYFactor(), 1.07);
    cLibLang::glastAppliedLang = lngDEU;
    EXPECT_STREQ(setDefaultPlatformFont(&align), "Tahoma");
    EXPECT_EQ(align, 3);
    EXPECT_STREQ(_glbalStdFont(), "Tahoma");
    EXPECT_EQ(textWrapYFactor(), 1.07);  // only ever lowered
    cLibLang::glastAppliedLang = lngJPN;
    EXPECT_STREQ(setDefaultPlatformFont(nullptr), "Tahoma");
    cLibLang::glastAppliedLang = before;
    setGlobalStdFont(nullptr);
    setTextWrapYFactor(1.2);
}
