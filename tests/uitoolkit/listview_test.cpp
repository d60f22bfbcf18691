// The list view: tables of synthetic clicks, keys and typed characters with
// the change reports they must produce, column clicks that sort, and the
// texts a paint draws compared with the order std::stable_sort gives.
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

class cRecRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        std::string s = std::to_string(a->code());
        if (auto* c = dynamic_cast<cListViewChild::cListViewItemChangeAction*>(a))
            s += ":" + std::to_string(c->row) + "<" + std::to_string(c->previous) + (c->add ? "a" : "") +
                 (c->range ? "r" : "");
        else if (auto* i = dynamic_cast<cListViewChild::cListViewItemAction*>(a))
            s += ":" + std::to_string(i->row);
        log += s + " ";
        return true;
    }
    std::string log;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 800, 600);
        root.attach(&lv, 0, 0, 300, 200);
        lv.setColumn(0, "Name", 120, cCanvas::taLeft);
        lv.setColumn(1, "Size", 60, cCanvas::taRight);
        const char* names[] = {"delta", "Alpha", "charlie", "bravo", "alpine", "echo"};
        for (int i = 0; i < 6; ++i) {
            lv.setItem(i, 0, names[i], -1, nullptr);
            lv.setItem(i, 1, std::to_string(10 * (6 - i)).c_str(), -1, nullptr);
        }
    }
    // Content y of the middle of a row, in element coordinates.
    int yOf(int row) {
        int top, bottom;
        EXPECT_TRUE(lv.itemRange(row, top, bottom));
        return (top + bottom) / 2;
    }
    std::string take() {
        win.drain();
        std::string s = root.log;
        root.log.clear();
        return s;
    }
    std::string selection() {
        std::string s;
        for (int r = lv.nextSelected(-1); r >= 0; r = lv.nextSelected(r)) s += std::to_string(r);
        return s + "@" + std::to_string(lv.selected());
    }
    cTestWindowTarget win;
    cRecRoot root;
    cListViewChild lv;
    qortest::cManualClock clock;
};

// kDouble: a double click on row a (in the check zone when add is set);
// kSet: setSelected(a, add).
enum eKind { kClick, kKey, kChar, kMs, kDouble, kSet };
struct sStep {
    eKind kind;
    int a;          // row to click, key code, character, or milliseconds to advance
    bool add, range;
    const char* reports;
    const char* selection;
};

void runSteps(sFixture& f, const std::vector<sStep>& steps) {
    int n = 0;
    for (const sStep& s : steps) {
        switch (s.kind) {
            case kClick:
                f.lv.processMouseBtn(f.lv.width() / 2 - 100, f.yOf(s.a), 1, true, s.add, s.range);
                f.lv.processMouseBtn(f.lv.width() / 2 - 100, f.yOf(s.a), 1, false, s.add, s.range);
                qortest::cManualClock::now += 1000;
                break;
            case kKey: f.lv.processKey(s.a, s.range, s.add, false); break;
            case kChar: f.lv.processChar(static_cast<unsigned short>(s.a), false, false, false); break;
            case kMs: qortest::cManualClock::now += s.a; break;
            case kDouble: f.lv.onMouseDoubleClick(s.add ? 5 : 150, f.yOf(s.a)); break;
            case kSet: f.lv.setSelected(s.a, s.add); break;
        }
        EXPECT_EQ(f.take(), s.reports) << "step " << n;
        EXPECT_EQ(f.selection(), s.selection) << "step " << n;
        ++n;
    }
}

TEST(ListView, MultiselectClicksKeysAndRangesReportTheCurrentRow) {
    sFixture f;
    f.lv.setMultiselect(true);
    qortest::cManualClock::now = 5000;
    runSteps(f, {
        {kClick, 1, false, false, "7:1<-1 ", "1@1"},
        {kClick, 3, true, false, "7:3<1a ", "13@3"},
        // A plain click on a selected row that is not current.
        {kClick, 1, false, false, "7:1<3 ", "1@1"},
        {kClick, 4, false, true, "7:4<1r ", "1234@4"},
        // Ctrl-click on a selected row that is not current: only deselected.
        {kClick, 2, true, false, "", "134@4"},
        {kKey, 0x154, false, false, "7:5<4 ", "5@5"},
        {kKey, 0x152, false, true, "7:4<5r ", "45@4"},
        {kKey, 0x154, false, false, "7:5<4 ", "5@5"},
        {kKey, 0x154, false, false, "", "5@5"},
        {kKey, 0x150, false, false, "7:0<5 ", "0@0"},
        {kKey, 'A', true, false, "7:5<0r ", "012345@5"},
        {kKey, 0x11B, false, false, "7:-1<5 ", "@-1"},
        {kKey, 0x11B, false, false, "", "@-1"},
        {kKey, 0x18D, false, false, "6:-1 ", "@-1"},
        {kKey, 0x1C2, false, false, "8 ", "@-1"},
        {kKey, 0x108, false, false, "9 ", "@-1"},
    });
}

TEST(ListView, SingleSelectionKeepsOneRowAndTypeAheadSearches) {
    sFixture f;
    qortest::cManualClock::now = 5000;
    runSteps(f, {
        {kClick, 2, false, false, "7:2<-1 ", "2@2"},
        {kClick, 4, true, false, "7:4<2a ", "4@4"},
        // "a" after "alpine": a new search starts at the row after it and
        // does not wrap round.
        {kChar, 'a', false, false, "", "4@4"},
        {kMs, 500, false, false, "", "4@4"},
        {kClick, 0, false, false, "7:0<4 ", "0@0"},
        {kChar, 'a', false, false, "7:1<0 ", "1@1"},
        // Within 400 ms the current row is tried first: "al" still matches "Alpha".
        {kMs, 100, false, false, "", "1@1"},
        {kChar, 'L', false, false, "", "1@1"},
        {kChar, 'P', false, false, "", "1@1"},
        {kChar, 'I', false, false, "7:4<1 ", "4@4"},
        {kMs, 500, false, false, "", "4@4"},
        {kChar, 'e', false, false, "7:5<4 ", "5@5"},
        {kChar, 'z', false, false, "", "5@5"},
        {kKey, 0x152, false, false, "7:4<5 ", "4@4"},
        {kKey, 0x157, false, false, "7:5<4 ", "5@5"},
    });
}

TEST(ListView, CheckZoneTogglesWithoutSelectingAndBelowRowsDeselects) {
    sFixture f;
    f.lv.setCheckMode(true);
    f.lv.setChbSpacing(6, false);
    qortest::cManualClock::now = 5000;
    // Content x 3 .. 16 is the box; the element starts one border pixel left.
    for (int x : {3, 16}) {
        f.lv.processMouseBtn(x, f.yOf(2), 1, true, false, false);
        qortest::cManualClock::now += 1000;
    }
    EXPECT_EQ(f.take(), "10:2 10:2 ");
    EXPECT_FALSE(f.lv.checked(2));
    EXPECT_EQ(f.selection(), "@-1");
    f.lv.processMouseBtn(17, f.yOf(2), 1, true, false, false);
    EXPECT_EQ(f.take(), "7:2<-1 ");
    f.lv.processKey(32, false, false, false);
    EXPECT_EQ(f.take(), "10:2 ");
    EXPECT_TRUE(f.lv.checked(2));
    qortest::cManualClock::now += 1000;
    f.lv.processMouseBtn(50, 190, 1, true, false, true);
    EXPECT_EQ(f.take(), "7:-1<2r ");
    EXPECT_EQ(f.selection(), "@-1");
}

std::vector<std::string> paintedNames(sFixture& f) {
    qortest::cRecordingCanvas c(300, 200);
    f.lv.onPaintArea(&c);
    std::vector<std::pair<int, std::string>> rows;
    for (auto& k : c.calls)
        if (k.op == "text" && k.x < 100) rows.push_back({k.y, k.text});
    std::stable_sort(rows.begin(), rows.end());
    std::vector<std::string> out;
    for (auto& r : rows) out.push_back(r.second);
    return out;
}

TEST(ListView, ColumnClicksSortAndPaintInTheNewOrder) {
    sFixture f;
    f.lv.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    std::vector<std::string> names = {"delta", "Alpha", "charlie", "bravo", "alpine", "echo"};
    EXPECT_EQ(paintedNames(f), names);
    auto click = [&](int col) {
        sRect r;
        f.lv.header()->column(col)->childRect(&r);
        f.lv.processMouseBtn(r.x + 10, 5, 1, true, false, false);
        f.lv.processMouseBtn(r.x + 10, 5, 1, false, false, false);
        qortest::cManualClock::now += 1000;
    };
    click(0);
    EXPECT_EQ(f.take(), "11:0 ");
    std::vector<std::string> want = names;
    std::stable_sort(want.begin(), want.end());
    EXPECT_EQ(paintedNames(f), want);
    click(0);  // again: descending
    EXPECT_EQ(f.take(), "11:0 ");
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(paintedNames(f), want);
    click(1);  // no provider: swallowed
    EXPECT_EQ(f.take(), "");
    // Removing a middle row leaves the others painted and counted.
    ASSERT_TRUE(f.lv.remove(2));
    EXPECT_EQ(f.lv.getRowCount(), 5);
    want.erase(std::find(want.begin(), want.end(), "charlie"));
    EXPECT_EQ(paintedNames(f), want);
}

// A cell's picture is drawn with its alpha: its transparent pixels show the
// cell's fill, its opaque ones their own colour, half-transparent ones the
// blend, as a picture with transparent corners must look.
TEST(ListView, CellPicturesKeepTheirTransparentParts) {
    sFixture f;
    // 4 x 4: a red square inside transparent corners, one pixel half blue.
    std::vector<unsigned int> px(16, 0xFFFF0000u);
    px[0] = px[3] = px[12] = px[15] = 0x00000000u;
    px[5] = 0x800000FFu;
    cPicturesList pics;
    pics.storeImage(0, px.data(), 4, 4, false);
    f.lv.setImageLists(&pics, nullptr, nullptr);
    f.lv.setItem(0, 0, "delta", 0, nullptr);
    f.win.drain();
    int top = 0, bottom = 0;
    ASSERT_TRUE(f.lv.itemRange(0, top, bottom));
    qortest::cRecordingCanvas canvas(300, 200);
    canvas.paintPixels(0x123456);
    f.root.processPaint(&canvas);
    const int x0 = 1 + 2, y0 = top + (bottom - top - 4) / 2;
    const unsigned int bg = canvas.pixel(x0 - 1, y0);
    ASSERT_NE(bg, 0x000000u);
    EXPECT_EQ(canvas.pixel(x0, y0), bg);
    EXPECT_EQ(canvas.pixel(x0 + 3, y0 + 3), bg);
    EXPECT_EQ(canvas.pixel(x0 + 1, y0), 0x0000FFu);  // red, as a canvas colour
    const unsigned int half = canvas.pixel(x0 + 1, y0 + 1);
    EXPECT_EQ(half >> 16, (0xFFu * 0x80 + ((bg >> 16) & 0xFF) * 0x7F + 127) / 255);
}

TEST(ListView, EmptyListShowsItsTextAndRowsWithoutColumnsAreThirteenApart) {
    cTestWindowTarget win;
    cRecRoot root;
    cListViewChild lv;
    qortest::cFixedFont::install();
    win.bind(&root, 800, 600);
    root.attach(&lv, 0, 0, 300, 200);
    lv.setText("Nothing here", -1, false);
    qortest::cRecordingCanvas c(300, 200);
    lv.onPaintArea(&c);
    bool shown = false;
    for (auto& k : c.calls) shown |= k.op == "text" && k.text == "Nothing here";
    EXPECT_TRUE(shown);
    lv.setItem(0, 0, "a", -1, nullptr);
    lv.setItem(1, 0, "b", -1, nullptr);
    // Two rows of 13 between the top border and the header and the bottom
    // border.
    EXPECT_EQ(lv.minVisualHeight() - lv.header()->height(), 1 + 26 + 1);
    int top, bottom;
    EXPECT_FALSE(lv.itemRange(0, top, bottom));
}

// Deselecting hands the current row to the nearest selected row after it
// in row-id order, else before it, else to none; a double click in the
// check zone activates nothing.
TEST(ListView, DeselectingMovesTheCurrentRowAndDoubleClicksSpareTheCheckZone) {
    sFixture f;
    f.lv.setMultiselect(true);
    f.lv.setCheckMode(true);
    f.lv.setChbSpacing(4, false);
    qortest::cManualClock::now = 5000;
    runSteps(f, {
        {kSet, 1, true, false, "7:1<-1 ", "1@1"},
        {kSet, 3, true, false, "7:3<1 ", "13@3"},
        {kSet, 4, true, false, "7:4<3 ", "134@4"},
        // The current row 4 goes: none after it, 3 is the nearest before.
        {kSet, 4, false, false, "7:3<4 ", "13@3"},
        // Row 1 goes: the nearest selected after it is 3, already current.
        {kSet, 1, false, false, "", "3@3"},
        {kSet, 1, true, false, "7:1<3 ", "13@1"},
        // Row 3 goes while 1 is current: 1 is before it, 3 had none after.
        {kSet, 3, false, false, "", "1@1"},
        // The last selected row goes: no row stays current.
        {kSet, 1, false, false, "7:-1<1 ", "@-1"},
        {kSet, 5, false, false, "", "@-1"},
        {kDouble, 2, true, false, "", "@-1"},
        {kDouble, 2, false, false, "6:2 ", "@-1"},
        {kSet, 0, true, false, "7:0<-1 ", "0@0"},
        {kDouble, 5, true, false, "", "0@0"},
    });
}

// Page Up and Page Down walk from the row beside the current one, taking
// each row's height from the client height until what is left is not above
// that row's height; with no current row, or when the walk runs out, the
// first or last row.  Typed characters stop being buffered at 10.
TEST(ListView, PagesWalkByTheClientHeightAndTypeAheadKeepsTenCharacters) {
    sFixture f;
    for (int i = 6; i < 40; ++i) f.lv.setItem(i, 0, ("row " + std::to_string(i)).c_str(), -1, nullptr);
    f.lv.setItem(40, 0, "abcdefghij-first", -1, nullptr);
    f.lv.setItem(41, 0, "abcdefghijk", -1, nullptr);
    f.win.drain();
    sRect client;
    f.lv.clientRect(&client);
    int top, bottom;
    ASSERT_TRUE(f.lv.itemRange(0, top, bottom));
    const int rowH = bottom - top;
    auto page = [&](int from, bool down) {
        int rest = client.h;
        for (int r = down ? from + 1 : from - 1; r >= 0 && r <= 41; r += down ? 1 : -1) {
            if (rest <= rowH) return r;
            rest -= rowH;
        }
        return down ? 41 : 0;
    };
    const int p1 = page(0, true), p2 = page(p1, true), back = page(p2, false);
    ASSERT_GT(p1, 1);
    qortest::cManualClock::now = 5000;
    auto sel = [](int r) { return std::to_string(r) + "@" + std::to_string(r); };
    auto rep = [](int now, int before) { return "7:" + std::to_string(now) + "<" + std::to_string(before) + " "; };
    runSteps(f, {
        {kKey, 0x156, false, false, rep(41, -1).c_str(), sel(41).c_str()},
        {kKey, 0x155, false, false, rep(page(41, false), 41).c_str(), sel(page(41, false)).c_str()},
        {kKey, 0x150, false, false, rep(0, page(41, false)).c_str(), sel(0).c_str()},
        {kKey, 0x156, false, false, rep(p1, 0).c_str(), sel(p1).c_str()},
        {kKey, 0x156, false, false, rep(p2, p1).c_str(), sel(p2).c_str()},
        {kKey, 0x155, false, false, rep(back, p2).c_str(), sel(back).c_str()},
        {kKey, 0x155, false, false, rep(page(back, false), back).c_str(), sel(page(back, false)).c_str()},
    });
    // Eleven characters within the time: the eleventh is not buffered, so
    // the search keeps matching the first ten ("abcdefghij").
    f.lv.deselect();
    f.take();
    const std::string typed = "abcdefghijk";
    for (char ch : typed) {
        qortest::cManualClock::now += 100;
        f.lv.processChar(static_cast<unsigned char>(ch), false, false, false);
    }
    // "a" finds "Alpha" first; "ab" goes on to row 40.
    EXPECT_EQ(f.take(), "7:1<-1 7:40<1 ");
    EXPECT_EQ(f.lv.selected(), 40);
}

}  // namespace
