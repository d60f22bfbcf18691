// Property sheets driven by tables of synthetic events: the actions a click,
// a key or a drop-down choice produces, the layout painted into pixels and
// compared with the geometry the sheet promises, the value accessors by type,
// batches, collapsing, and the display area beside a sheet.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/propsheet.h"
#include "uitoolkit/propsheetex.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/themevalues.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

using qortest::cPixelImage;
using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

unsigned int col(int i) { return currentThemeValues()->color(i); }
int dim(int i) {
    int v = 0, lo = 0, hi = 0;
    currentThemeValues()->dimension(i, v, lo, hi);
    return v;
}

// Writes down the sheet's actions ("code section id") and any other code 6
// that reaches it.
class cRecorder : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (auto* p = dynamic_cast<cPropSheetChild::cPropSheetAction*>(a))
            seen.push_back(std::to_string(p->code()) + " " + std::to_string(p->section) + " " + std::to_string(p->id));
        else if (auto* r = dynamic_cast<cPropDispAreaChild::cPropDispResizeAction*>(a))
            heights.push_back(r->height);
        else if (a->code() == 6)
            others.push_back(src);
        return true;
    }
    std::string take() {
        std::string out;
        for (auto& s : seen) out += (out.empty() ? "" : ", ") + s;
        seen.clear();
        return out;
    }
    std::vector<std::string> seen;
    std::vector<int> heights;
    std::vector<cChildElement*> others;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        EXPECT_TRUE(cLibLang::applyLang(lngENG));
        win.bind(&root, 400, 300);
    }
    // Paints the whole window into pixels.
    void paint(cRecordingCanvas& c) {
        c.paintPixels(0x123456);
        root.processPaint(&c);
    }
    cCIOMLang toolkit;
    cTestWindowTarget win;
    cRecorder root;
};

}  // namespace

TEST(PropSheet, PaintsSectionsAndRowsInIdOrderWithACollapsedSection) {
    sFixture f;
    cPropSheetChild sheet;
    f.root.attach(&sheet, 0, 0, 300, 200);
    ASSERT_TRUE(sheet.setSection(2, "Beta"));
    ASSERT_TRUE(sheet.setSection(1, "Alpha"));
    ASSERT_TRUE(sheet.setProperty(1, 5, "five", "5th", "v5", cPropSheetChild::ptText));
    ASSERT_TRUE(sheet.setProperty(1, 1, "one", "1st", "v1", cPropSheetChild::ptText));
    ASSERT_TRUE(sheet.setProperty(1, 3, "three", "3rd", "v3", cPropSheetChild::ptTextAction));
    ASSERT_TRUE(sheet.setProperty(2, 1, "hidden", nullptr, "x", cPropSheetChild::ptText));
    // The collapse button of Beta, pressed as the user would.
    qortest::clickAt(f.win, sheet.section(2)->header.button(), 8, 8);
    EXPECT_TRUE(sheet.section(2)->collapsed);
    EXPECT_EQ(f.root.take(), "");
    // The pointer leaves: a hovered button shows its frame.
    f.root.processMouseMove(299, 199);

    // Lines are painted as the platform strokes them, whose frames leave a
    // corner pixel half covered.
    cRecordingCanvas canvas(300, 200, 13);
    canvas.platformLineEnds = true;
    f.paint(canvas);

    // What the sheet promises: headers of theme height H in the section
    // colours with the name in bold at H + 2; rows of the 13-pixel font
    // (15 + 4 high) one pixel apart in id order; both columns half of the
    // width less the three-pixel splitter; the action button in the last 19
    // pixels; a collapsed section keeps its header line only; the collapse
    // button at rest is its arrow (the theme's picture, centred) on the
    // section colour and nothing else.
    const int H = dim(24), W = 300, half = (W - 3) / 2, row = 19, at = (H - 16) / 2;
    cPixelImage want(300, 200, col(48));
    auto header = [&](int y, const char* name, int arrow) {
        want.rect(0, y, W, H, col(47), col(46));
        want.fill(H + 2, y + 1, W - H - 2, H - 2, col(47));
        want.text(H + 2 + 3, y + 1 + 1 + (H - 2 - 2 - 13) / 2, name, 13, col(49));
        cPicture* p = currentThemeValues()->picture(arrow);
        want.ignore(at + (16 - p->width()) / 2, y + at + (16 - p->height()) / 2, p->width(), p->height());
        int shown = 0;
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i) shown += canvas.pixel(at + i, y + at + j) != col(47);
        EXPECT_GT(shown, 3) << name << ": no arrow";
    };
    header(0, "Alpha", 67);
    const char* names[] = {"one", "three", "five"};
    const char* values[] = {"v1", "v3", "v5"};
    for (int k = 0; k < 3; ++k) {
        const int y = H + k * (row + 1);
        want.rect(0, y, half, row, col(51), col(20));
        want.text(3, y + 3, names[k], 13, col(50));
        const int vw = k == 1 ? half - 19 : half;
        want.rect(half + 3, y, vw, row, col(51), col(20));
        want.text(half + 3 + 3, y + 3, values[k], 13, col(50));
        if (k == 1) want.ignore(half + 3 + vw, y, 19, row);
    }
    want.ignore(half, H, 3, 3 * (row + 1));   // the splitter's bar
    want.ignore(W - 1, H, 1, 3 * (row + 1));  // and the pixel its rounding leaves
    header(H + 3 * (row + 1), "Beta", 66);
    want.fill(300, 0, 100, 200, 0x123456);
    EXPECT_EQ(want.compare(canvas), "");
    EXPECT_EQ(sheet.minVisualHeight(), 2 * H + 3 * (row + 1));
}

// The divider between captions and values is one for the whole sheet: a
// drag in any section moves it in every section, to the pixel, and it stays
// where it was dragged when the sheet is laid out again, when a section
// collapses, and when the bar above the display area takes so much height
// that the sheet needs a scroll bar and its sections get narrower.
TEST(PropSheet, OneColumnSplitForEverySectionThatOutlivesLayouts) {
    sFixture f;
    cPropSheetExChild ex;
    f.root.attach(&ex, 0, 0, 300, 283);
    cPropSheetChild* sheet = ex.sheet();
    for (int s = 1; s <= 3; ++s) {
        sheet->setSection(s, ("S" + std::to_string(s)).c_str());
        for (int p = 1; p <= 2; ++p) sheet->setProperty(s, p, "name", "descr", "value", cPropSheetChild::ptText);
    }
    // Each section's divider: its captions column's width and where its
    // values column starts.
    auto split = [&](int s) {
        sRect c, v;
        sheet->section(s)->captions.childRect(&c);
        sheet->section(s)->values.childRect(&v);
        return std::make_pair(c.w, v.x);
    };
    auto allAlike = [&](const char* what) {
        for (int s = 2; s <= 3; ++s) EXPECT_EQ(split(s), split(1)) << what << ", section " << s;
    };
    allAlike("at first");
    const int W = sheet->section(1)->width();
    ASSERT_EQ(W, 300);
    // The pointer's x; the divider follows it within a pixel, never letting
    // a column below a tenth of the width.
    struct sDrag {
        int section, to, lo, hi;
    };
    const sDrag drags[] = {{2, 100, 99, 101}, {3, 10, 30, 31}, {1, 299, 264, 267}, {2, 250, 249, 251}};
    for (const sDrag& d : drags) {
        const int c = split(d.section).first;
        qortest::dragAt(f.win, &sheet->section(d.section)->split, c + 1, 2, d.to, 2);
        const std::string what = "drag in " + std::to_string(d.section) + " to " + std::to_string(d.to);
        EXPECT_GE(split(d.section).first, d.lo) << what;
        EXPECT_LE(split(d.section).first, d.hi) << what;
        EXPECT_EQ(split(d.section).second, split(d.section).first + 3) << what;
        allAlike(what.c_str());
    }
    const std::pair<int, int> dragged = split(1);
    sheet->setProperty(1, 3, "more", nullptr, "v", cPropSheetChild::ptText);
    EXPECT_EQ(split(1), dragged) << "after a layout";
    allAlike("after a layout");
    qortest::clickAt(f.win, sheet->section(2)->header.button(), 8, 8);
    ASSERT_TRUE(sheet->section(2)->collapsed);
    EXPECT_EQ(split(1), dragged) << "after a collapse";
    allAlike("after a collapse");

    // The bar between sheet and display area, dragged up to leave the sheet
    // about 80 pixels: its sections no longer fit and a scroll bar takes
    // width.
    sRect r;
    ex.sheet()->childRect(&r);
    qortest::dragAt(f.win, &ex, 10, r.h + 1, 10, 80);
    ex.sheet()->childRect(&r);
    ASSERT_NEAR(r.h, 80, 1);
    const int narrow = sheet->section(1)->width();
    ASSERT_LT(narrow, W);
    // Both columns share what they shared before, in the same proportion.
    const double share = static_cast<double>(dragged.first) / (dragged.first + (W - 3 - dragged.first));
    const int expect = static_cast<int>(share * (narrow - 3) + 0.5);
    EXPECT_NEAR(split(1).first, expect, 1);
    allAlike("after the sheet got narrower");
}

TEST(PropSheet, EventsBecomeSheetActions) {
    sFixture f;
    qortest::cManualClock clock;
    cPropSheetChild sheet;
    f.root.attach(&sheet, 0, 0, 300, 280);
    sheet.setSection(1, "First");
    sheet.setProperty(1, 1, "plain", "d1", "text", cPropSheetChild::ptText);
    sheet.setProperty(1, 2, "link", "d2", "http", cPropSheetChild::ptLink);
    sheet.setProperty(1, 4, "choice", "d4", "", cPropSheetChild::ptDropDown);
    sheet.setSection(3, "Empty");
    sheet.setSection(5, "Second");
    sheet.setProperty(5, 7, "path", "d7", "/tmp", cPropSheetChild::ptEditAction);
    sheet.setProperty(5, 9, "name", "d9", "abc", cPropSheetChild::ptEdit);
    sheet.setPropertyVal(1, 4, 0, nullptr, "red", false);
    sheet.setPropertyVal(1, 4, 1, &f, "green", false);
    // The drop-down's list: the user picks its second entry.
    f.win.onModalPopup = [](cChildElement* r, cTestWindowTarget& w) {
        auto* p = dynamic_cast<cPopupMaster*>(r);
        ASSERT_TRUE(p && p->buttonCount() == 2);
        qortest::clickAt(w, p->button(1));
    };
    auto* combo = static_cast<cComboBoxChild*>(sheet.valueControl(1, 4));
    struct sStep {
        const char* what;
        std::function<void()> act;
        const char* actions;
        int focusedSection, focusedId;  // the caption holding the focus, or 0
    };
    const sStep steps[] = {
        {"click a caption", [&] { qortest::clickAt(f.win, sheet.caption(1, 1)); }, "6 1 1", 1, 1},
        {"down", [&] { qortest::pressKey(f.win, 0x154); }, "6 1 2", 1, 2},
        {"down", [&] { qortest::pressKey(f.win, 0x154); }, "6 1 4", 1, 4},
        {"down skips the empty section", [&] { qortest::pressKey(f.win, 0x154); }, "6 5 7", 5, 7},
        {"down", [&] { qortest::pressKey(f.win, 0x154); }, "6 5 9", 5, 9},
        {"down at the end stays", [&] { qortest::pressKey(f.win, 0x154); }, "", 5, 9},
        {"up", [&] { qortest::pressKey(f.win, 0x152); }, "6 5 7", 5, 7},
        {"space activates", [&] { qortest::pressKey(f.win, 0x20); }, "9 5 7", 5, 7},
        {"keypad enter activates", [&] { qortest::pressKey(f.win, 0x18D); }, "9 5 7", 5, 7},
        {"up across sections", [&] { qortest::pressKey(f.win, 0x152); }, "6 1 4", 1, 4},
        {"double click", [&] { qortest::doubleClickAt(f.win, sheet.caption(1, 2)); }, "6 1 2, 9 1 2", 1, 2},
        {"the link", [&] { qortest::clickAt(f.win, sheet.valueControl(1, 2)); }, "8 1 2", 0, 0},
        {"the action button", [&] { qortest::clickAt(f.win, sheet.actionButton(5, 7)); }, "7 5 7", 0, 0},
        {"the drop-down", [&] { qortest::clickAt(f.win, combo->dropButton()); }, "10 1 4", 0, 0},
    };
    for (const sStep& s : steps) {
        s.act();
        EXPECT_EQ(f.root.take(), s.actions) << s.what;
        cChildElement* focused = f.root.getFocused();
        EXPECT_EQ(focused, s.focusedSection ? sheet.caption(s.focusedSection, s.focusedId) : focused) << s.what;
    }
    EXPECT_EQ(sheet.value_id(1, 4), 1);
    EXPECT_EQ(sheet.value_assoc(1, 4), &f);
    EXPECT_STREQ(sheet.value(1, 4), "green");
    EXPECT_TRUE(f.root.others.empty());
}

TEST(PropSheet, AccessorsByTypeAndMissingIds) {
    sFixture f;
    cPropSheetChild sheet;
    f.root.attach(&sheet, 0, 0, 300, 200);
    sheet.setSection(1, "S");
    const char* texts[] = {"text", "text+", "link", "12", "34", "56", ""};
    for (int t = 0; t <= 6; ++t) ASSERT_TRUE(sheet.setProperty(1, t, "n", "d", texts[t], t));
    EXPECT_FALSE(sheet.setProperty(1, 7, "n", "d", "", 7));
    EXPECT_FALSE(sheet.setProperty(9, 1, "n", "d", "", 0));
    EXPECT_FALSE(sheet.setProperty(1, 0, "again", "d", "other", 0));
    EXPECT_STREQ(sheet.value(1, 0), "text");
    EXPECT_STREQ(sheet.propName(1, 0), "n");
    sheet.setPropertyVal(1, 6, 0, nullptr, "78", true);

    struct sRow {
        int id;
        long long intValue;
        int valueId;
        bool hasEdit, hasButton;
    };
    const sRow rows[] = {
        {0, 0, -1, false, false},  {1, 0, -1, false, true}, {2, 0, -1, false, false}, {3, 12, -1, true, false},
        {4, 34, -1, true, true},   {5, 56, -1, true, false}, {6, 78, 0, true, false},
        {42, -1, -1, false, false},  // missing: -1 for the index too, as 0 names the first item
    };
    for (const sRow& r : rows) {
        EXPECT_EQ(sheet.int_value(1, r.id), r.intValue) << r.id;
        EXPECT_EQ(sheet.value_id(1, r.id), r.valueId) << r.id;
        EXPECT_EQ(sheet.editControl(1, r.id) != nullptr, r.hasEdit) << r.id;
        EXPECT_EQ(sheet.actionButton(1, r.id) != nullptr, r.hasButton) << r.id;
    }
    EXPECT_EQ(sheet.value_id(9, 0), -1);

    // Numbers into texts and edits.
    ASSERT_TRUE(sheet.setPropertyVal(1, 0, 255, true, 0));
    EXPECT_STREQ(sheet.value(1, 0), "0xFF");
    ASSERT_TRUE(sheet.setPropertyVal(1, 0, 255, false, 0));
    EXPECT_STREQ(sheet.value(1, 0), "255");
    ASSERT_TRUE(sheet.setPropertyVal(1, 3, 4096, false, 0));
    EXPECT_EQ(sheet.int_value(1, 3), 4096);
    ASSERT_TRUE(sheet.wipeVal(1, 6));
    EXPECT_STREQ(sheet.value(1, 6), "");
    EXPECT_FALSE(sheet.clearPropertyVals(1, 3));
    EXPECT_FALSE(sheet.select(1, 0, 0));

    // Names follow renames; a property removed takes its focus along.
    sheet.setSection(1, "Renamed");
    EXPECT_STREQ(sheet.sectionName(1), "Renamed");
    sheet.selectCapt(1, 2, true);
    f.win.drain();
    ASSERT_EQ(f.root.getFocused(), sheet.caption(1, 2));
    ASSERT_TRUE(sheet.remove(1, 2));
    EXPECT_EQ(f.root.getFocused(), nullptr);
    EXPECT_FALSE(sheet.hasProp(1, 2));
    EXPECT_EQ(sheet.value(1, 2), nullptr);
    EXPECT_TRUE(sheet.remove(1));
    EXPECT_FALSE(sheet.hasSection(1));
}

TEST(PropSheet, BatchesHeadersAndHints) {
    sFixture f;
    cPropSheetChild sheet;
    f.root.attach(&sheet, 0, 0, 300, 400);
    sheet.setSection(1, "S");
    const int before = sheet.layouts();
    sheet.startChanges();
    for (int i = 0; i < 10; ++i) sheet.setProperty(1, i, "n", "d", "v", cPropSheetChild::ptEdit);
    EXPECT_EQ(sheet.layouts(), before);
    sheet.endChanges();
    EXPECT_EQ(sheet.layouts(), before + 1);
    const int H = dim(24);
    EXPECT_EQ(sheet.minVisualHeight(), H + 10 * 19);

    // Without headers the first row starts the section.
    sheet.showSections(false);
    sRect r;
    sheet.section(1)->childRect(&sheet.section(1)->split, &r);
    EXPECT_EQ(r.y, 0);
    EXPECT_FALSE(sheet.section(1)->header.visible_child());
    EXPECT_EQ(sheet.minVisualHeight(), 10 * 19);

    // Hints reach sections made after they were turned on.
    sheet.showHints(true);
    sheet.setSection(2, "T");
    sheet.setProperty(2, 1, "n", "described", "v", cPropSheetChild::ptText);
    sheet.setProperty(1, 99, "n", "not shown", "v", cPropSheetChild::ptText);
    EXPECT_STREQ(sheet.caption(2, 1)->hint(), "described");
    EXPECT_EQ(sheet.caption(1, 99)->hint(), nullptr);
}

// The display area: the table's texts and spacing painted, compared with the
// lines of the fixed 13-pixel font (15 apart: the wrap factor 1.2), and the
// height it asks for.
TEST(PropDispArea, PaintsTitleAndWrappedDescriptionAndAsksForItsHeight) {
    struct sCase {
        const char* name;
        const char* title;
        long long titleLen;
        const char* descr;
        int spacing;
        bool transparent;
        int height;
        // Expected words: x, line y (from the top of the area), text.
        std::vector<std::tuple<int, int, const char*>> words;
    };
    const sCase cases[] = {
        {"empty", nullptr, -1, nullptr, 0, false, 10, {}},
        {"description only", nullptr, -1, "abc", 0, false, 25, {{5, 5, "abc"}}},
        {"spacing without a title", nullptr, -1, "abc", 8, false, 25, {{5, 5, "abc"}}},
        {"title and spacing", "Title", -1, "abc", 8, false, 15 + 8 + 10 + 15, {{5, 5, "Title"}, {5, 28, "abc"}}},
        {"negative spacing ignored", "Title", -1, "abc", -3, false, 48, {{5, 5, "Title"}, {5, 28, "abc"}}},
        {"title cut to 3 bytes", "Title", 3, nullptr, 0, false, 25, {{5, 5, "Tit"}}},
        {"cut inside a character", "\xC3\xA9t\xC3\xA9", 4, nullptr, 0, false, 25, {{5, 5, "\xC3\xA9t"}}},
        {"length past the end", "ab", 40, nullptr, 0, false, 25, {{5, 5, "ab"}}},
        // 95 pixels wide: the first line holds four words and is justified
        // (5 spare pixels over 3 blanks: 7 per blank), the last is not.
        {"justified", nullptr, -1, "aaa bbb ccc ddd eee", 0, false, 40,
         {{5, 5, "aaa"}, {30, 5, "bbb"}, {55, 5, "ccc"}, {80, 5, "ddd"}, {5, 20, "eee"}}},
        {"transparent", "T", -1, "d", 0, true, 40, {{5, 5, "T"}, {5, 20, "d"}}},
    };
    for (const sCase& c : cases) {
        sFixture f;
        cPropDispAreaChild area;
        f.root.attach(&area, 10, 10, 120, 80);
        area.setTransparent(c.transparent);
        area.setExtraTitleSpacing(8);
        area.setExtraTitleSpacing(c.spacing);
        area.setText(c.title, c.titleLen, c.descr, -1);
        cRecordingCanvas canvas(140, 100, 13);
        f.paint(canvas);
        f.win.drain();
        ASSERT_FALSE(f.root.heights.empty()) << c.name;
        EXPECT_EQ(f.root.heights.back(), c.height) << c.name;

        cPixelImage want(120, 80, c.transparent ? col(14) : col(45));
        if (!c.transparent) {
            want.fill(0, 0, 120, 1, col(44));
            want.fill(0, 79, 120, 1, col(44));
            want.fill(0, 0, 1, 80, col(44));
            want.fill(119, 0, 1, 80, col(44));
        }
        for (auto& w : c.words) want.text(std::get<0>(w), std::get<1>(w), std::get<2>(w), 13, col(4));
        EXPECT_EQ(want.compare(canvas, 10, 10), "") << c.name;
    }
}

TEST(PropSheetEx, SelectingACaptionFillsTheAreaAndStaysInside) {
    sFixture f;
    cPropSheetExChild ex;
    f.root.attach(&ex, 0, 0, 300, 403);
    // The splitter gives the sheet three quarters of what the bar leaves.
    sRect s, a;
    ex.childRect(ex.sheet(), &s);
    ex.childRect(ex.area(), &a);
    EXPECT_EQ(s.h, 300);
    EXPECT_EQ(a.y, 303);
    EXPECT_EQ(a.h, 100);

    cPropSheetChild* sheet = ex.sheet();
    sheet->setSection(1, "S");
    sheet->setProperty(1, 1, "Colour", "The colour of the thing", "red", cPropSheetChild::ptText);
    sheet->setProperty(1, 2, "Size", "How big", "3", cPropSheetChild::ptEdit);
    qortest::clickAt(f.win, sheet->caption(1, 2));
    EXPECT_STREQ(ex.area()->title(), "Size");
    EXPECT_STREQ(ex.area()->text(), "How big");
    EXPECT_TRUE(f.root.seen.empty());
    EXPECT_TRUE(f.root.heights.empty());
    // The area's height request stays inside too and sizes its scrolling.
    cRecordingCanvas canvas(300, 403, 13);
    f.paint(canvas);
    f.win.drain();
    EXPECT_TRUE(f.root.heights.empty());
    EXPECT_EQ(ex.area()->minVisualHeight(), 15 + 10 + 15);
    // Other sheet actions go on to the owner.
    qortest::pressKey(f.win, 0x20);
    EXPECT_EQ(f.root.take(), "9 1 2");
    ex.clear();
    EXPECT_EQ(ex.area()->title(), nullptr);
    EXPECT_FALSE(sheet->hasSection(1));
}
