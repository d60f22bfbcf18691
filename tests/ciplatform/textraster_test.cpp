// Text on the platform canvas against a reference drawn without any of our
// code: HarfBuzz's hb-shape places the glyphs (at the same 1/1024 pixel
// scale), FreeType renders each one from its outline with grey coverage
// (python3-freetype), NumPy lays them over a white page.  Lines in Tahoma
// (whose file also carries bitmap strikes, which must not be used), DejaVu
// Sans and a CJK face must match within a few levels; the widths the canvas
// measures are where the reference's pen ends; bold carries more ink.  In
// every face the toolkit names, regular, bold and emboldened, each glyph
// is drawn where the reference puts it and the line measures as far as the
// reference's pen goes.
#include "base/textenc.h"
#include "ciplatform/crbcanvas.h"
#include "ciplatform/ctfont.h"
#include "macshim/ctshim.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// argv: face file, face index, size in pixels, text, x, top y, width,
// height, our pixels (0xAARRGGBB words), 1 when the outlines are
// emboldened (FreeType's own emboldening, as a bold face without heavier
// outlines is drawn; each advance that is not zero grows by what it adds to
// the glyph's).  Glyph masks add up where they overlap.  Prints the pen's end, the number
// of pixels further apart than the tolerance, the largest difference, the
// number of grey (neither white nor black) pixels in the reference, and
// the first few differences.
const char* kReference = R"PY(
import json, math, subprocess, sys, numpy as np, freetype, freetype.raw
path, index, size, text = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
x0, top, W, H = int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7]), int(sys.argv[8])
embolden = sys.argv[10] == '1'
SUB = 1024
out = subprocess.run(['hb-shape', '--font-size=%d' % round(size * SUB), '--face-index=%d' % index,
                      '--no-glyph-names', '--output-format=json', path, text],
                     capture_output=True, text=True, check=True).stdout
face = freetype.Face(path, index)
face.set_char_size(int(size * 64 + 0.5))
base = top + face.ascender * size / face.units_per_EM - 0.5
cover = np.zeros((H, W))
pen = float(x0)
for g in json.loads(out.strip()):
    face.load_glyph(g['g'], freetype.FT_LOAD_NO_BITMAP | freetype.FT_LOAD_NO_HINTING)
    s = face.glyph
    grow = 0
    if embolden:
        before = s.advance.x
        freetype.raw.FT_GlyphSlot_Embolden(s._FT_GlyphSlot)
        grow = (s.advance.x - before) / 64.0 if g['ax'] else 0
    s.render(freetype.FT_RENDER_MODE_NORMAL)
    bm = s.bitmap
    if bm.rows and bm.width:
        a = np.array(bm.buffer, dtype=np.float64).reshape(bm.rows, bm.pitch)[:, :bm.width] / 255.0
        X = math.floor(pen + g['dx'] / SUB + 0.5) + s.bitmap_left
        Y = math.floor(base - g['dy'] / SUB + 0.5) - s.bitmap_top
        cover[Y:Y + bm.rows, X:X + bm.width] = np.minimum(cover[Y:Y + bm.rows, X:X + bm.width] + a, 1.0)
    pen += g['ax'] / SUB + grow
ref = np.round(255 * (1 - cover))
got = (np.fromfile(sys.argv[9], dtype='<u4').reshape(H, W) & 255).astype(np.float64)
diff = np.abs(got - ref)
bad = diff > 6
print(repr(pen - x0), int(bad.sum()), int(diff.max()), int(((ref > 8) & (ref < 247)).sum()))
for y, x in list(zip(*np.nonzero(bad)))[:5]:
    print('at %d,%d: got %d want %d' % (x, y, got[y, x], ref[y, x]))
)PY";

// argv: a table file, one line per text: face file, family (which face of
// a collection), size in pixels as the toolkit asks for it, horizontal and
// vertical stretch, 1 when drawn emboldened, text (tab-separated, UTF-8);
// then the level from which a pixel counts as ink.  The toolkit's size rule
// gives the points; hb-shape places the glyphs at that size, each advance
// that is not zero grown by what FreeType's emboldening adds to the glyph's
// own; FreeType renders each glyph from its outline.  Prints per text: the
// face's index in its file, the pen's end, the ink (full coverage = 1 per
// pixel) and, per glyph with ink, "character:left edge" (the first column
// holding a pixel of at least the level, the pen rounded to whole pixels as
// glyphs are placed).
const char* kGlyphEdges = R"PY(
import json, math, os, subprocess, sys, numpy as np, freetype, freetype.raw
level = int(sys.argv[2])
FLAGS = freetype.FT_LOAD_NO_BITMAP | freetype.FT_LOAD_NO_HINTING
def find(name):
    for root in ('/usr/share/fonts', '/usr/share/wine/fonts'):
        for folder, _, files in os.walk(root):
            if name in files:
                return os.path.join(folder, name)
    sys.exit('no installed file ' + name)
def index_of(path, family):
    for i in range(freetype.Face(path).num_faces):
        if freetype.Face(path, i).family_name.decode() == family:
            return i
    sys.exit('no face %s in %s' % (family, path))
for row in open(sys.argv[1], encoding='utf-8'):
    name, family, size, hs, vs, embolden, text = row.rstrip('\n').split('\t')
    path = find(name)
    index = index_of(path, family)
    size = int(size)
    points = size - ((size - 11) * 0.25 + 1.5)
    px, py = points * float(hs), points * float(vs)
    out = subprocess.run(['hb-shape', '--font-size=%d %d' % (math.floor(px * 1024 + 0.5), math.floor(py * 1024 + 0.5)),
                          '--face-index=%d' % index, '--no-glyph-names', '--output-format=json', path, text],
                         capture_output=True, text=True, check=True).stdout
    face = freetype.Face(path, index)
    face.set_char_size(int(px * 64 + 0.5), int(py * 64 + 0.5))
    pen, ink, edges = 0.0, 0.0, []
    for g in json.loads(out.strip()):
        if g['g'] == 0:
            sys.exit('%s has no glyph for character %d of %s' % (name, g['cl'], text))
        face.load_glyph(g['g'], FLAGS)
        slot = face.glyph
        grow = 0.0
        if embolden == '1':
            before = slot.advance.x
            freetype.raw.FT_GlyphSlot_Embolden(slot._FT_GlyphSlot)
            grow = (slot.advance.x - before) / 64.0 if g['ax'] else 0.0
        slot.render(freetype.FT_RENDER_MODE_NORMAL)
        bm = slot.bitmap
        if bm.rows and bm.width:
            a = np.array(bm.buffer, dtype=np.int64).reshape(bm.rows, bm.pitch)[:, :bm.width]
            ink += a.sum() / 255.0
            cols = np.nonzero((a >= level).any(axis=0))[0]
            if len(cols):
                x = math.floor(pen + g['dx'] / 1024.0 + 0.5) + slot.bitmap_left + int(cols[0])
                edges.append('%d:%d' % (g['cl'], x))
        pen += g['ax'] / 1024.0 + grow
    print(index, repr(pen), repr(ink), ' '.join(edges))
)PY";

struct sRendered {
    std::vector<unsigned int> shot;  // 0xAARRGGBB, rows top first
    sSize measured{0, 0};
    int rulerEnd = 0;
    double lineWidth = 0;
    std::string file;
    int index = 0;
    double points = 0;
};

constexpr int kW = 360, kH = 48, kX = 6, kTop = 8;

sRendered render(const char* face, int size, bool bold, const char* text) {
    sRendered r;
    cCrbOffscreenCanvas canvas;
    EXPECT_TRUE(canvas.create(kW, kH));
    sRect all{0, 0, kW, kH};
    canvas.drawRect(&all, 0xFFFFFF, 0xFFFFFF);
    EXPECT_TRUE(canvas.setTextMode(5, size, face, bold, false, false)) << face;
    canvas.setTextColors(0x000000, 0xFFFFFF);
    EXPECT_TRUE(canvas.drawText(kX, kTop, true, text, -1));
    EXPECT_TRUE(canvas.textSize(text, -1, r.measured));
    _guardchar<unsigned short> wide;
    const long long n = __a2w(text, -1, wide, 65001);
    std::vector<int> ruler(static_cast<std::size_t>(n));
    EXPECT_TRUE(canvas.textRuler(wide.get(), n, ruler.data()));
    r.rulerEnd = ruler.back();
    auto* mac = dynamic_cast<cMacCTFont*>(canvas.font());
    CTLineRef line = CTLineCreateWithText(wide.get(), static_cast<std::size_t>(n), mac->ctFont(), nullptr);
    r.lineWidth = CTLineGetTypographicBounds(line, nullptr, nullptr, nullptr);
    CTLineRelease(line);
    r.file = CTFontGetFilePath(mac->ctFont(), &r.index);
    r.points = CTFontGetSize(mac->ctFont());
    cPicture shot;
    EXPECT_TRUE(canvas.snapshot(&shot, nullptr));
    r.shot.assign(shot.raw(), shot.raw() + kW * kH);
    return r;
}

int inkOf(const std::vector<unsigned int>& p) {
    int ink = 0;
    for (unsigned int v : p) ink += 255 - static_cast<int>(v & 0xFF);
    return ink;
}

constexpr int kLineW = 480, kLineH = 48;
// A pixel at least this many levels darker belongs to a glyph (0.3 of ink).
constexpr int kEdgeLevel = 77;

// The first n units of text drawn alone in black on white; the pixels'
// blue levels.
std::vector<int> drawPrefix(const char* face, int size, bool bold, const std::vector<unsigned short>& text,
                            std::size_t n) {
    cCrbOffscreenCanvas canvas;
    EXPECT_TRUE(canvas.create(kLineW, kLineH));
    sRect all{0, 0, kLineW, kLineH};
    canvas.drawRect(&all, 0xFFFFFF, 0xFFFFFF);
    EXPECT_TRUE(canvas.setTextMode(5, size, face, bold, false, false));
    canvas.setTextColors(0x000000, 0xFFFFFF);
    if (n > 0) {
        EXPECT_TRUE(canvas.drawText(kX, kTop, true, text.data(), static_cast<long long>(n)));
    }
    cPicture shot;
    EXPECT_TRUE(canvas.snapshot(&shot, nullptr));
    std::vector<int> levels(static_cast<std::size_t>(kLineW) * kLineH);
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<int>(shot.raw()[i] & 0xFF);
    return levels;
}

// Where each character's glyph was drawn, found from the drawing alone: the
// text is drawn one character longer at a time, and the pixels a character
// darkens by kEdgeLevel or more are its glyph's; its left edge is the first
// column holding one (-1: no ink).  The last drawing, the whole line, is
// left in whole.
std::vector<int> drawnLeftEdges(const char* face, int size, bool bold, const std::vector<unsigned short>& text,
                                std::vector<int>& whole) {
    std::vector<int> edges(text.size(), -1);
    std::vector<int> before = drawPrefix(face, size, bold, text, 0);
    for (std::size_t k = 0; k < text.size(); ++k) {
        std::vector<int> after = drawPrefix(face, size, bold, text, k + 1);
        for (int x = 0; x < kLineW && edges[k] < 0; ++x)
            for (int y = 0; y < kLineH; ++y) {
                const std::size_t i = static_cast<std::size_t>(y) * kLineW + static_cast<std::size_t>(x);
                if (before[i] - after[i] >= kEdgeLevel) {
                    edges[k] = x;
                    break;
                }
            }
        before = std::move(after);
    }
    whole = std::move(before);
    return edges;
}

class PlatformText : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installPlatformFonts(); }
};

}  // namespace

TEST_F(PlatformText, LinesMatchAnOutlineRenderingPlacedByHarfBuzz) {
    struct {
        const char* face;
        int size;
        bool bold;
        const char* text;
        const char* file;
        bool embolden;
    } table[] = {
        // Tahoma's file holds bitmap strikes at these sizes: "m" drawn from
        // them is 8 pixels wide against an advance of 9.24.
        {"Tahoma", 13, false, "Sample window: Cancel, Install mmmm", "tahoma.ttf", false},
        {"Tahoma", 11, false, "Installed packages (42) wwww", "tahoma.ttf", false},
        // Wine's bold Tahoma has bold advances but the regular outlines: the
        // regular face is drawn emboldened, placed by its grown advances.
        {"Tahoma", 13, true, "Bold caption Sample", "tahoma.ttf", true},
        {"DejaVu Sans", 14, false, "DejaVu Sans: AVATAR office 1.0", "DejaVuSans.ttf", false},
        {"DejaVu Sans", 12, true, "DejaVu Sans Bold 2.0", "DejaVuSans-Bold.ttf", false},
        {"Meiryo", 17, false, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad"
                              "\xe3\x82\xb9\xe3\x83\x88 Qor", "NotoSansCJK-Regular.ttc", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.face) + " " + std::to_string(row.size) + " " + row.text);
        const sRendered r = render(row.face, row.size, row.bold, row.text);
        ASSERT_EQ(r.file.substr(r.file.rfind('/') + 1), row.file);
        qortest::TempDir dir;
        const std::string raw = dir.file("shot.raw");
        qortest::writeFile(raw, std::string(reinterpret_cast<const char*>(r.shot.data()),
                                            static_cast<std::size_t>(kW) * kH * 4));
        char size[64];
        std::snprintf(size, sizeof size, "%.17g", r.points);
        const std::string out = qortest::runPython(
            kReference, "'" + r.file + "' " + std::to_string(r.index) + " " + size + " '" + row.text + "' " +
                            std::to_string(kX) + " " + std::to_string(kTop) + " " + std::to_string(kW) + " " +
                            std::to_string(kH) + " '" + raw + "' " + (row.embolden ? "1" : "0"));
        std::istringstream in(out);
        double pen = -1;
        int bad = -1, worst = -1, grey = -1;
        in >> pen >> bad >> worst >> grey;
        EXPECT_EQ(bad, 0) << out;
        EXPECT_LE(worst, 6) << out;
        // Antialiased: the edges are grey, not black and white.
        EXPECT_GT(grey, 60) << out;
        // Measured where the glyphs were placed: the line's width is the
        // reference pen's travel; the ruler ends at it and the size adds 1.5.
        EXPECT_NEAR(r.lineWidth, pen, 0.01);
        EXPECT_EQ(r.rulerEnd, static_cast<int>(pen + 1e-6));
        EXPECT_EQ(r.measured.w, static_cast<int>(pen + 1.5));
    }
}

TEST_F(PlatformText, BoldCarriesVisiblyMoreInkThanRegular) {
    for (int size : {11, 13, 15}) {
        const sRendered regular = render("Tahoma", size, false, "Sample window Cancel");
        const sRendered bold = render("Tahoma", size, true, "Sample window Cancel");
        EXPECT_GT(inkOf(bold.shot), inkOf(regular.shot) * 13 / 10) << size;
        EXPECT_GT(bold.measured.w, regular.measured.w) << size;
    }
}

TEST_F(PlatformText, EveryFaceRegularBoldAndEmboldenedDrawsEachGlyphWhereItIsMeasured) {
    // Every face name the toolkit and its documents use, as mapped to the
    // Debian faces: its regular face and what bold gives, a heavier face or
    // the regular one emboldened.  Wine's Tahoma Bold has the regular
    // outlines under bold advances, so the regular file emboldened stands
    // in for it; AR PL UMing has no bold face at all.
    struct {
        const char* face;
        int size;
        bool bold;
        const char* file;
        const char* family;
        bool embolden;
        double hs, vs;  // the stretch of the three CJK faces up to size 16
        const char* text;
    } table[] = {
        {"Tahoma", 13, false, "tahoma.ttf", "Tahoma", false, 1, 1, "Name: sample tool, mmm www"},
        {"Tahoma", 14, true, "tahoma.ttf", "Tahoma", true, 1, 1, "Name: sample tool, mmm www"},
        {"Tahoma", 24, true, "tahoma.ttf", "Tahoma", true, 1, 1, "Name sample tool"},
        {"Courier New", 13, false, "LiberationMono-Regular.ttf", "Liberation Mono", false, 1, 1, "Courier mono 0123 mm"},
        {"Courier New", 14, true, "LiberationMono-Bold.ttf", "Liberation Mono", false, 1, 1, "Courier mono 0123 mm"},
        {"Verdana", 13, false, "DejaVuSans.ttf", "DejaVu Sans", false, 1, 1, "Welcome Name sample tool"},
        {"Verdana", 20, true, "DejaVuSans-Bold.ttf", "DejaVu Sans", false, 1, 1, "Welcome Name sample tool"},
        {"Lucida Sans", 17, false, "DejaVuSans.ttf", "DejaVu Sans", false, 1, 1, "Lucida mmm sample"},
        {"Lucida Sans", 17, true, "DejaVuSans-Bold.ttf", "DejaVu Sans", false, 1, 1, "Lucida mmm sample"},
        {"Malgun Gothic", 13, false, "NotoSansCJK-Regular.ttc", "Noto Sans CJK KR", false, 1, 1,
         "\xed\x8c\xa8\xed\x82\xa4\xec\xa7\x80 \xea\xb4\x80\xeb\xa6\xac Name 42"},
        {"Malgun Gothic", 14, true, "NotoSansCJK-Bold.ttc", "Noto Sans CJK KR", false, 1, 1,
         "\xed\x8c\xa8\xed\x82\xa4\xec\xa7\x80 \xea\xb4\x80\xeb\xa6\xac Name 42"},
        {"Microsoft YaHei", 14, false, "NotoSansCJK-Regular.ttc", "Noto Sans CJK SC", false, 1.12, 1.19,
         "\xe8\xbd\xaf\xe4\xbb\xb6\xe5\x8c\x85\xe7\xae\xa1\xe7\x90\x86 Name 42"},
        {"Microsoft YaHei", 14, true, "NotoSansCJK-Bold.ttc", "Noto Sans CJK SC", false, 1.12, 1.19,
         "\xe8\xbd\xaf\xe4\xbb\xb6\xe5\x8c\x85\xe7\xae\xa1\xe7\x90\x86 Name 42"},
        {"Microsoft JhengHei", 16, false, "NotoSansCJK-Regular.ttc", "Noto Sans CJK TC", false, 1.12, 1.19,
         "\xe8\xbb\x9f\xe9\xab\x94\xe5\xa5\x97\xe4\xbb\xb6 Name 42"},
        {"Microsoft JhengHei", 16, true, "NotoSansCJK-Bold.ttc", "Noto Sans CJK TC", false, 1.12, 1.19,
         "\xe8\xbb\x9f\xe9\xab\x94\xe5\xa5\x97\xe4\xbb\xb6 Name 42"},
        {"Meiryo", 24, false, "NotoSansCJK-Regular.ttc", "Noto Sans CJK JP", false, 1, 1,
         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88 Name"},
        {"Meiryo", 24, true, "NotoSansCJK-Bold.ttc", "Noto Sans CJK JP", false, 1, 1,
         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88 Name"},
        {"PMingLiU", 13, false, "uming.ttc", "AR PL UMing TW", false, 1, 1,
         "\xe8\xbb\x9f\xe9\xab\x94\xe5\xa5\x97\xe4\xbb\xb6 Name 42"},
        {"PMingLiU", 14, true, "uming.ttc", "AR PL UMing TW", true, 1, 1,
         "\xe8\xbb\x9f\xe9\xab\x94\xe5\xa5\x97\xe4\xbb\xb6 Name 42"},
    };
    qortest::TempDir dir;
    std::string rows;
    for (const auto& row : table) {
        char stretch[64];
        std::snprintf(stretch, sizeof stretch, "%.17g\t%.17g", row.hs, row.vs);
        rows += std::string(row.file) + "\t" + row.family + "\t" + std::to_string(row.size) + "\t" + stretch + "\t" +
                (row.embolden ? "1" : "0") + "\t" + row.text + "\n";
    }
    ASSERT_TRUE(qortest::writeFile(dir.file("rows.txt"), rows));
    int rc = -1;
    const std::string out =
        qortest::runPython(kGlyphEdges, "'" + dir.file("rows.txt") + "' " + std::to_string(kEdgeLevel), &rc);
    ASSERT_EQ(rc, 0) << out;
    std::istringstream lines(out);

    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.face) + " " + std::to_string(row.size) + (row.bold ? " bold " : " ") + row.text);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << out;
        std::istringstream in(line);
        int index = -1;
        double pen = -1, refInk = -1;
        in >> index >> pen >> refInk;
        std::vector<int> want;
        std::string item;
        while (in >> item) {
            const auto colon = item.find(':');
            const std::size_t k = std::stoul(item.substr(0, colon));
            if (want.size() <= k) want.resize(k + 1, -1);
            want[k] = kX + std::stoi(item.substr(colon + 1));
        }

        _guardchar<unsigned short> wide;
        const long long n = __a2w(row.text, -1, wide, 65001);
        const std::vector<unsigned short> text(wide.get(), wide.get() + n);
        want.resize(text.size(), -1);

        // The face drawn is the one the reference rendered.
        cFontObject* font = cFontObject::get(5, row.size, row.face, row.bold, false, false);
        ASSERT_NE(font, nullptr);
        CTFontRef ct = static_cast<cMacCTFont*>(font)->ctFont();
        int ourIndex = -1;
        const std::string path = CTFontGetFilePath(ct, &ourIndex);
        EXPECT_EQ(path.substr(path.rfind('/') + 1), row.file);
        EXPECT_STREQ(CTFontGetFamilyName(ct), row.family);
        EXPECT_EQ(ourIndex, index);

        // Each glyph where the reference draws it, within a pixel.
        std::vector<int> whole;
        const std::vector<int> got = drawnLeftEdges(row.face, row.size, row.bold, text, whole);
        int inked = 0;
        for (std::size_t k = 0; k < text.size(); ++k) {
            EXPECT_EQ(got[k] < 0, want[k] < 0) << "character " << k << ": drawn at " << got[k] << ", expected at "
                                               << want[k];
            if (got[k] < 0 || want[k] < 0) continue;
            ++inked;
            EXPECT_LE(std::abs(got[k] - want[k]), 1) << "character " << k << ": drawn at " << got[k]
                                                     << ", expected at " << want[k];
        }
        EXPECT_GE(inked, static_cast<int>(text.size()) - 4);  // only the spaces lack ink
        // Drawn as heavy as the reference: emboldened where it is.
        double ink = 0;
        for (int v : whole) ink += (255 - v) / 255.0;
        EXPECT_NEAR(ink, refInk, refInk * 0.03);

        // Measured as far as the glyphs are placed.
        cCrbOffscreenCanvas canvas;
        ASSERT_TRUE(canvas.create(8, 8));
        ASSERT_TRUE(canvas.setTextMode(font));
        sSize size;
        ASSERT_TRUE(canvas.textSize(text.data(), n, size));
        std::vector<int> ruler(text.size());
        ASSERT_TRUE(canvas.textRuler(text.data(), n, ruler.data()));
        CTLineRef ctLine = CTLineCreateWithText(text.data(), text.size(), ct, nullptr);
        EXPECT_NEAR(CTLineGetTypographicBounds(ctLine, nullptr, nullptr, nullptr), pen, 1e-6);
        CTLineRelease(ctLine);
        EXPECT_EQ(size.w, static_cast<int>(pen + 1.5));
        EXPECT_EQ(ruler.back(), static_cast<int>(pen + 1e-9));
    }
}
