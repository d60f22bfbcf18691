// The list view's painting, pixel for pixel, against images drawn here from
// the painting rules alone: theme colours by number, row heights, cell
// boxes, check boxes, images, indent, padding, selection frames and the
// empty-list text, in every state of a table of scenes, in both themes.
// The canvas and the expected image draw text as the same glyph boxes.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

constexpr int W = 240, H = 150, kFont = 13, kAdvance = kFont / 2;
constexpr unsigned int kUntouched = 0x3C1E5A;  // never a theme colour
constexpr unsigned int kNone = 0xFFFFFFFF;

struct sCellSpec {
    const char* text;  // null: no cell
    int image;
    int indent;
    unsigned int color;
};
struct sRowSpec {
    sCellSpec cells[2];  // columns 0 and 2
    bool selected, checked;
};
struct sScene {
    const char* name;
    std::vector<sRowSpec> rows;
    bool focus, multi, fullRow, checkMode;
    int chbSpacing, padding;
    bool images, customColors;
    const char* emptyText;
};

const sCellSpec kNo = {nullptr, -1, 0, kNone};
sCellSpec t(const char* s, int image = -1, int indent = 0, unsigned int color = kNone) {
    return {s, image, indent, color};
}

// Custom colours, all different from each other and from the themes'.
struct sColors {
    unsigned int bg, border, text, selBg, selText, selBorder, selBgU, selTextU, selBorderU, fullF, fullU, empty;
};
sColors themeColors(const unsigned int* c) {
    return {c[14], c[21], c[4], c[16], c[9], c[25], c[18], c[4], c[26], c[16], c[18], c[5]};
}
const sColors kCustom = {0x102030, 0x112233, 0x203040, 0x304050, 0x405060, 0x506070,
                         0x607080, 0x708090, 0x8090A0, 0x90A0B0, 0xA0B0C0, 0};

// Pictures of the image lists: a frame of one colour around another, so a
// misplaced or mirrored picture shows.
void makePicture(cPicture& p, int w, int h, unsigned int edge, unsigned int inside) {
    p.create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.raw()[y * w + x] = (x == 0 || y == 0 || x == 1 ? edge : inside) | 0xFF000000u;
    // A clear corner and a half-clear one: pictures are laid over the cell.
    p.raw()[w - 1] = inside;
    p.raw()[h * w - 1] = inside | 0x80000000u;
}

// The expected image; everything the list paints stays inside its 1-pixel
// border, so every fill is cut to that first.
class cExpected {
public:
    cExpected() : img(W, H, kUntouched) {}
    void fill(int x, int y, int w, int h, unsigned int c) {
        const int x0 = std::max(x, 1), y0 = std::max(y, 1);
        const int x1 = std::min(x + w, W - 1), y1 = std::min(y + h, H - 1);
        if (x1 > x0 && y1 > y0) img.fill(x0, y0, x1 - x0, y1 - y0, c & 0xFFFFFF);
    }
    // Pictures are laid over the cell by their alpha.
    void picture(int x, int y, const cPicture* p) {
        if (!p) return;
        for (int yy = 0; yy < p->height(); ++yy)
            for (int xx = 0; xx < p->width(); ++xx) {
                const int px = x + xx, py = y + yy;
                if (px < 1 || py < 1 || px >= W - 1 || py >= H - 1) continue;
                const unsigned int v = p->raw()[yy * p->width() + xx], a = v >> 24, under = img.at(px, py);
                unsigned int out = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const unsigned int src = (v >> (16 - 8 * ch)) & 0xFF, dst = (under >> (8 * ch)) & 0xFF;
                    out |= ((src * a + dst * (255 - a) + 127) / 255) << (8 * ch);
                }
                fill(px, py, 1, 1, out);
            }
    }
    void text(const std::string& s, int x, int y, unsigned int c) { img.text(x, y, s, kFont, c & 0xFFFFFF); }
    qortest::cPixelImage img;
};

struct sColumn {
    int id, width;
    bool right;
};
const sColumn kColumns[2] = {{0, 110, false}, {2, 70, true}};

// The expected image of a scene, from the painting rules.
qortest::cPixelImage expectedImage(const sScene& s, const sColors& c, int head, cPicture* pics[3],
                                        cPicture* boxes[2]) {
    cExpected e;
    const unsigned int selBg = s.focus ? c.selBg : c.selBgU, selText = s.focus ? c.selText : c.selTextU;
    const unsigned int full = s.focus ? c.fullF : c.fullU, frame = s.focus ? c.selBorder : c.selBorderU;
    // The rows start below the top border and the header.
    int y = 1 + head;
    bool aboveSelected = false;
    for (const sRowSpec& r : s.rows) {
        // Height: text 13 high (none when empty), pictures of all three
        // lists, plus 4, at least 13.
        int h = 13;
        for (const sCellSpec& cell : r.cells) {
            if (!cell.text) continue;
            int ph = 0;
            if (s.images && cell.image >= 0)
                for (int l = 0; l < 3; ++l) ph = std::max(ph, pics[l]->height());
            h = std::max(h, std::max(*cell.text ? kFont : 0, ph) + 4);
        }
        const int firstCol = r.cells[0].text ? 0 : 1;
        const bool fullRow = s.fullRow && r.selected;
        const unsigned int rowBg = fullRow ? full : c.bg;
        int x = 1;
        for (int k = 0; k < 2; ++k) {
            const sCellSpec& cell = r.cells[k];
            const int w = kColumns[k].width, right = x + w;
            if (!cell.text) {
                e.fill(x, y, w, h, c.bg);
            } else {
                const bool first = k == firstCol, sel = fullRow || (r.selected && first);
                const unsigned int bg = fullRow ? full : sel ? selBg : c.bg;
                const unsigned int fg = sel ? selText : c.text;
                int cx = x;
                if (cell.indent) {
                    e.fill(cx, y, cell.indent, h, c.bg);
                    cx += cell.indent;
                }
                if (s.checkMode && first) {
                    const int bw = s.chbSpacing + 14;
                    e.fill(cx, y, bw, h, c.bg);
                    cPicture* b = boxes[r.checked ? 1 : 0];
                    if (b) e.picture(cx + (bw - b->width()) / 2, y + (h - b->height()) / 2, b);
                    cx += bw;
                }
                if (s.images && cell.image >= 0) {
                    cPicture* p = sel ? pics[2] : pics[0];
                    e.fill(cx, y, p->width() + 4, h, bg);
                    e.picture(cx + 2, y + (h - p->height()) / 2, p);
                    cx += p->width() + 4;
                }
                e.fill(cx, y, right - cx, h, bg);
                const unsigned int color = cell.color != kNone ? cell.color : k == 1 && s.customColors ? 0x0000FF : fg;
                const int x0 = cx + s.padding, a = right - cx - s.padding;
                const int tw = kAdvance * static_cast<int>(std::string(cell.text).size());
                e.text(cell.text, kColumns[k].right ? x0 + a - 1 - tw : x0, y + (h - kFont) / 2, color);
                if (sel && !s.fullRow) {
                    e.fill(x, y + h - 1, w, 1, frame);
                    e.fill(x, y, 1, h, frame);
                    e.fill(right - 1, y, 1, h, frame);
                    if (!aboveSelected) e.fill(x, y, w, 1, frame);
                }
            }
            e.fill(right, y, 3, h, rowBg);
            x = right + 3;
        }
        e.fill(x, y, W - 1 - x, h, rowBg);
        aboveSelected = r.selected;
        y += h;
    }
    e.fill(1, y, W - 2, H - 1 - y, c.bg);
    if (s.rows.empty() && s.emptyText) {
        const int tw = kAdvance * static_cast<int>(std::string(s.emptyText).size());
        e.text(s.emptyText, 5 + (W - 11 - tw) / 2, 10 + head + (20 - kFont) / 2, c.empty);
    }
    e.img.fill(0, 0, W, 1, c.border);
    e.img.fill(0, H - 1, W, 1, c.border);
    e.img.fill(0, 0, 1, H, c.border);
    e.img.fill(W - 1, 0, 1, H, c.border);
    return e.img;
}

const std::vector<sScene>& scenes() {
    static const std::vector<sScene> all = {
        {"plain rows, one cell missing",
         {{{t("alpha"), t("12")}, false, false}, {{t("bravo"), kNo}, false, false}, {{kNo, t("7")}, false, false}},
         false, false, false, false, 0, 0, false, false, nullptr},
        {"selected row with the focus",
         {{{t("alpha"), t("12")}, false, false}, {{t("bravo"), t("3")}, true, false}}, true, false, false, false, 0,
         0, false, false, nullptr},
        {"two selected rows without the focus: no top edge under the first",
         {{{t("alpha"), t("1")}, true, false}, {{t("bravo"), t("2")}, true, false}, {{t("c"), t("3")}, false, false}},
         false, true, false, false, 0, 0, false, false, nullptr},
        {"full row selected with the focus",
         {{{t("alpha"), t("1")}, false, false}, {{t("bravo"), t("2")}, true, false}}, true, false, true, false, 0, 0,
         false, false, nullptr},
        {"full row selected without the focus",
         {{{t("alpha"), t("1")}, true, false}, {{t("bravo"), kNo}, false, false}}, false, false, true, false, 0, 0,
         false, false, nullptr},
        {"check boxes with spacing",
         {{{t("on"), t("1")}, false, true}, {{t("off"), t("2")}, true, false}, {{kNo, t("3")}, false, true}}, true,
         false, false, true, 6, 0, false, false, nullptr},
        {"normal and selected image lists, indent and padding",
         {{{t("pic", 0, 5), t("9")}, false, false},
          {{t("sel", 0), t("8")}, true, false},
          {{t("", -1, 12), t("")}, false, false}},
         true, false, false, false, 0, 4, true, false, nullptr},
        {"custom colours, cell and column text colours",
         {{{t("alpha", -1, 0, 0x00FF00), t("1")}, false, false},
          {{t("bravo"), t("2", -1, 0, 0xFF0000)}, true, false},
          {{t("c"), t("3")}, false, false}},
         true, false, false, false, 0, 0, false, true, nullptr},
        {"custom colours, full row without the focus",
         {{{t("alpha"), t("1")}, true, false}, {{t("bravo"), t("2")}, false, false}}, false, false, true, false, 0, 0,
         false, true, nullptr},
        {"empty list text", {}, true, false, false, false, 0, 0, false, false, "Nothing here"},
    };
    return all;
}

void runThemeScenes(const cStaticCIThemeDef* theme, const unsigned int* table) {
    qortest::cFixedFont::install();
    cCITheme::setTheme(theme);
    cPicture normal, alternate, selected;
    makePicture(normal, 9, 7, 0x00112233, 0x00FFEE00);
    makePicture(alternate, 5, 15, 0x00000000, 0x00000000);
    makePicture(selected, 9, 7, 0x00AA0055, 0x0000CCDD);
    cPicturesList lists[3];
    lists[0].refImage(0, &normal);
    lists[1].refImage(0, &alternate);
    lists[2].refImage(0, &selected);
    cPicture* pics[3] = {&normal, &alternate, &selected};
    cPicture* boxes[2] = {cCITheme::theme()->getPict(30), cCITheme::theme()->getPict(31)};
    for (const sScene& s : scenes()) {
        SCOPED_TRACE(s.name);
        cTestWindowTarget win;
        cChildElement root;
        cListViewChild lv;
        win.bind(&root, 800, 600);
        root.attach(&lv, 0, 0, W, H);
        for (const sColumn& col : kColumns)
            lv.setColumn(col.id, "C", col.width, col.right ? cCanvas::taRight : cCanvas::taLeft);
        lv.setMultiselect(s.multi);
        lv.setFullLineSelect(s.fullRow, false);
        lv.setCheckMode(s.checkMode);
        lv.setChbSpacing(s.chbSpacing, false);
        lv.setTextPadding(s.padding, false);
        if (s.images) lv.setImageLists(&lists[0], &lists[1], &lists[2]);
        sColors c = themeColors(table);
        if (s.customColors) {
            c = kCustom;
            c.empty = table[5];
            lv.setColorSchema(c.text, c.bg, c.border, false);
            lv.setColorSchemaFocusedActive(c.selText, c.selBg, c.selBorder, false);
            lv.setColorSchemaFocusedInactive(c.selTextU, c.selBgU, c.selBorderU, false);
            lv.setFullLineSelectColors(c.fullF, c.fullU, false);
            lv.setColumnTextColor(2, 0x0000FF, false);
        }
        if (s.emptyText) lv.setText(s.emptyText, -1, false);
        for (std::size_t r = 0; r < s.rows.size(); ++r) {
            for (int k = 0; k < 2; ++k) {
                const sCellSpec& cell = s.rows[r].cells[k];
                if (!cell.text) continue;
                const int col = kColumns[k].id, row = static_cast<int>(r);
                ASSERT_TRUE(lv.setItem(row, col, cell.text, cell.image, nullptr));
                if (cell.indent) lv.setItemIdent(row, col, cell.indent);
                if (cell.color != kNone) lv.setItemTextColor(row, col, cell.color);
            }
            if (s.rows[r].checked) lv.setChecked(static_cast<int>(r), true, false);
        }
        for (std::size_t r = 0; r < s.rows.size(); ++r)
            if (s.rows[r].selected) lv.setSelected(static_cast<int>(r), true);
        if (s.focus) lv.focus();
        win.drain();
        ASSERT_EQ(lv.hasFocus(), s.focus);
        qortest::cRecordingCanvas canvas(W, H);
        canvas.paintPixels(kUntouched);
        lv.onPaint(&canvas);
        EXPECT_EQ(expectedImage(s, c, lv.header()->height(), pics, boxes).compare(canvas), "");
    }
}

TEST(ListViewPaint, EveryStateMatchesTheRulesInTheDefaultTheme) {
    runThemeScenes(gCI_Default_Theme, __dft_CI_Colors);
}

TEST(ListViewPaint, EveryStateMatchesTheRulesInTheFlatTheme) { runThemeScenes(gCI_Flat_Theme, __dft_CI_Colors_flat); }

}  // namespace
