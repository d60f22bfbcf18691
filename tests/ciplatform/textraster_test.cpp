// Text on the platform canvas against a reference drawn without any of our
// code: HarfBuzz's hb-shape places the glyphs (at the same 1/1024 pixel
// scale), FreeType renders each one from its outline with grey coverage
// (python3-freetype), NumPy lays them over a white page.  Lines in Tahoma
// (whose file also carries bitmap strikes, which must not be used), DejaVu
// Sans and a CJK face must match within a few levels; the widths the canvas
// measures are where the reference's pen ends; bold carries more ink.
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
