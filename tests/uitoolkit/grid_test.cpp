// Grids of equal cells on the flat theme (bars 15 thick): layout of columns,
// gaps and lines, hit tests, selection by keys and pointer with the actions
// they report, and the cells and background drawn.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/grid.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qortest::cManualClock;
using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cCells : public cSimpleGridChild {
public:
    void paintElement(cCanvas* canvas, int cell, bool selected) override {
        sRect r{0, 0, cw, ch};
        const unsigned int fill = static_cast<unsigned int>(cell) | (selected ? 0x1000u : 0u);
        canvas->drawRect(&r, fill, fill);
    }
    int cellWidth() override { return cw; }
    int cellHeight() override { return ch; }
    int numCells() override { return n; }
    int cellSpacing() override { return spacing; }
    int maxSpacing() override { return maxGap; }
    bool lrChangesLine() override { return lr; }
    int cw = 20, ch = 10, n = 10, spacing = 4, maxGap = 10;
    bool lr = false;
};

// Keeps the cell actions that reach the root.
class cRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* c = dynamic_cast<cSimpleGridChild::cCellAction*>(a))
            log += (log.empty() ? "" : " ") + std::to_string(c->code()) + ":" + std::to_string(c->cell);
        return true;
    }
    std::string take() {
        std::string s = log;
        log.clear();
        return s;
    }
    std::string log;
};

struct sFixture {
    explicit sFixture(int w = 100, int h = 50) {
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 300, 200);
        root.attach(&grid, 0, 0, w, h);
    }
    std::string run() {
        win.drain();
        return root.take();
    }
    cTestWindowTarget win;
    cRoot root;
    cCells grid;
};

}  // namespace

TEST(Grid, LaysOutColumnsGapsAndLines) {
    struct sCase {
        int w, cw, n, spacing, maxGap;
        int columns, gap, lines;
    };
    const sCase cases[] = {
        // 100 / 24 = 4 columns; the gap (100 - 80) / 3 = 6.
        {100, 20, 10, 4, 10, 4, 6, 3},
        // The gap is capped by the largest spacing.
        {100, 20, 10, 4, 2, 4, 2, 3},
        // 200 / 24 = 8 columns (17 widths do not fit); the gap 40 / 7 = 5.
        {200, 20, 7, 4, 10, 8, 5, 1},
        // Exactly one cell wide: one column though the spacing does not fit.
        {20, 20, 3, 4, 10, 1, 0, 3},
        // No cells: nothing laid out.
        {100, 20, 0, 4, 10, 0, 0, 0},
    };
    for (const sCase& c : cases) {
        sFixture f(c.w, 300);
        f.grid.cw = c.cw;
        f.grid.n = c.n;
        f.grid.spacing = c.spacing;
        f.grid.maxGap = c.maxGap;
        f.grid.onInitData();
        const std::string name = std::to_string(c.w) + "/" + std::to_string(c.n);
        EXPECT_EQ(f.grid.columns(), c.columns) << name;
        EXPECT_EQ(f.grid.lines(), c.lines) << name;
        if (c.columns > 1) {
            EXPECT_EQ(f.grid.gap(), c.gap) << name;
        }
        EXPECT_EQ(f.grid.minVisualHeight(), c.lines * (c.spacing + 10)) << name;
    }
}

TEST(Grid, HitsCellsButNotGapsOrCellsBeyondTheCount) {
    sFixture f;
    f.grid.onInitData();
    ASSERT_EQ(f.grid.columns(), 4);
    ASSERT_EQ(f.grid.gap(), 6);
    struct sCase {
        int x, y, cell;
    };
    const sCase cases[] = {
        {3, 2, 0},    {22, 11, 0}, {23, 2, -1}, {2, 2, -1},  {3, 1, -1}, {3, 12, -1},
        {29, 16, 5},  {48, 25, 5}, {49, 16, -1}, {28, 16, -1}, {29, 15, -1},
        {29, 30, 9},  {55, 30, -1},  // cell 10 would be there
        {81, 2, 3},   {100, 2, 3},  {80, 2, -1}, {3, 44, -1},
    };
    for (const sCase& c : cases) EXPECT_EQ(f.grid.hitCell(c.x, c.y), c.cell) << c.x << "," << c.y;
    sRect r;
    ASSERT_TRUE(f.grid.cellRect(5, r));
    EXPECT_EQ(r.x, 29);
    EXPECT_EQ(r.y, 16);
    EXPECT_EQ(r.w, 20);
    EXPECT_EQ(r.h, 10);
    EXPECT_FALSE(f.grid.cellRect(10, r));
    EXPECT_FALSE(f.grid.cellRect(-1, r));
    EXPECT_FALSE(f.grid.scrollToCell(10));
}

TEST(Grid, CellsOfNoSizeLayOutNothingAndNeverDivideByZero) {
    for (int cw : {0, -3}) {
        sFixture f;
        f.grid.cw = cw;
        f.grid.spacing = 0;
        f.grid.maxGap = 0;
        f.grid.onInitData();
        EXPECT_EQ(f.grid.columns(), 0);
        EXPECT_EQ(f.grid.lines(), 0);
        EXPECT_EQ(f.grid.hitCell(0, 0), -1);
        f.root.processMouseBtn(1, 1, 1, true, false, false);
        f.root.processMouseBtn(1, 1, 1, false, false, false);
        f.root.processKey(0x154, false, false, false);
        EXPECT_EQ(f.grid.selected(), -1);
        cRecordingCanvas canvas(300, 200);
        f.root.processPaint(&canvas);
        bool filled = false;
        for (const auto& c : canvas.calls)
            filled = filled || (c.op == "rect" && c.x == 0 && c.y == 0 && c.w == 100 && c.h == 50 && c.fill == 0xFFFFFF);
        EXPECT_TRUE(filled);
    }
    sFixture f;
    f.grid.ch = 0;
    f.grid.spacing = 0;
    f.grid.onInitData();
    EXPECT_EQ(f.grid.hitCell(5, 0), -1);
}

TEST(Grid, KeysMoveTheSelectionWithinLines) {
    struct sStep {
        int key;
        bool shift;
        int selected;
        const char* actions;
    };
    const sStep stepsStop[] = {
        {0x151, false, -1, ""},      // Left with nothing selected
        {0x152, false, -1, ""},      // Up with nothing selected
        {0x153, false, 0, "6:0"},    // Right selects the first cell
        {0x153, false, 1, "6:1"},
        {0x153, false, 2, "6:2"},
        {0x153, false, 3, "6:3"},
        {0x153, false, 3, ""},       // line end
        {0x154, false, 7, "6:7"},
        {0x154, false, 7, ""},       // no cell one line down
        {0x151, false, 6, "6:6"},
        {0x151, false, 5, "6:5"},
        {0x151, false, 4, "6:4"},
        {0x151, false, 4, ""},       // line start
        {0x152, false, 0, "6:0"},
        {0x152, false, 0, ""},       // first line
        {0x157, true, 0, ""},        // modifiers are ignored
        {0x157, false, 9, "6:9"},
        {0x153, false, 9, ""},       // last cell
        {0x156, false, 9, ""},
        {0x18D, false, 9, "7:9"},
        {0x155, false, 0, "6:0"},
        {0x150, false, 0, ""},
        {32, false, 0, "7:0"},
    };
    const sStep stepsWrap[] = {
        {0x154, false, 0, "6:0"},    // Down selects the first cell
        {0x151, false, 0, ""},       // cell 0
        {0x153, false, 1, "6:1"},
        {0x156, false, 9, "6:9"},
        {0x151, false, 8, "6:8"},
        {0x152, false, 4, "6:4"},
        {0x151, false, 3, "6:3"},    // across the line start
        {0x153, false, 4, "6:4"},    // and back across the line end
    };
    for (bool lr : {false, true}) {
        sFixture f;
        f.grid.lr = lr;
        f.grid.onInitData();
        f.grid.focus();
        f.win.drain();
        const sStep* steps = lr ? stepsWrap : stepsStop;
        const size_t n = lr ? sizeof stepsWrap / sizeof *stepsWrap : sizeof stepsStop / sizeof *stepsStop;
        for (size_t i = 0; i < n; ++i) {
            f.root.processKey(steps[i].key, steps[i].shift, false, false);
            EXPECT_EQ(f.grid.selected(), steps[i].selected) << "step " << i << " lr " << lr;
            EXPECT_EQ(f.run(), steps[i].actions) << "step " << i << " lr " << lr;
        }
    }
}

TEST(Grid, PointerSelectsAndDoubleClickActivates) {
    cManualClock clock;
    struct sPress {
        unsigned int t;
        int x, y;
        int selected;
        const char* actions;
    };
    const sPress presses[] = {
        {1000, 29, 16, 5, "6:5"},
        {2000, 30, 17, 5, ""},       // the same cell again
        {3000, 28, 16, -1, "6:-1"},  // a gap clears the selection
        {4000, 55, 30, -1, ""},      // beyond the last cell: still none
        {5000, 3, 2, 0, "6:0"},
        // A double click on a cell that was not selected: selected without
        // a selection action, then activated.
        {6000, 81, 2, 3, "6:3"},
        {6100, 81, 2, 3, "7:3"},
    };
    sFixture f;
    f.grid.onInitData();
    for (const sPress& p : presses) {
        cManualClock::now = p.t;
        f.root.processMouseBtn(p.x, p.y, 1, true, false, false);
        f.root.processMouseBtn(p.x, p.y, 1, false, false, false);
        EXPECT_EQ(f.grid.selected(), p.selected) << p.t;
        EXPECT_EQ(f.run(), p.actions) << p.t;
    }
    f.grid.onMouseDoubleClick(29, 16);
    EXPECT_EQ(f.grid.selected(), 5);
    EXPECT_EQ(f.run(), "7:5");
    f.grid.onMouseDoubleClick(28, 16);
    EXPECT_EQ(f.run(), "");
    // A change of the count clears the selection.
    f.grid.n = 12;
    f.grid.notifyGridChanged(true);
    EXPECT_EQ(f.grid.selected(), -1);
    EXPECT_EQ(f.grid.lines(), 3);
    f.grid.selectCell(11, false);
    EXPECT_EQ(f.grid.selected(), 11);
    EXPECT_EQ(f.run(), "");
    f.grid.selectCell(2, true);
    EXPECT_EQ(f.run(), "6:2");
    f.grid.selectCell(12, true);
    EXPECT_EQ(f.grid.selected(), 2);
}

TEST(Grid, PaintsEachVisibleCellOverTheBackground) {
    sFixture f;
    f.grid.onInitData();
    f.grid.setBgColor(0x123456);
    f.grid.selectCell(5, false);
    cRecordingCanvas canvas(300, 200);
    f.root.processPaint(&canvas);
    std::vector<std::pair<int, int>> blits;
    std::vector<unsigned int> fills;
    bool background = false;
    for (const auto& c : canvas.calls) {
        if (c.op == "blit") {
            EXPECT_EQ(c.w, 20);
            EXPECT_EQ(c.h, 10);
            blits.push_back({c.x, c.y});
        }
        if (c.op == "rect" && c.w == 20 && c.h == 10) fills.push_back(c.fill);
        if (c.op == "rect" && c.w == 100 && c.h == 50 && c.fill == 0x123456) background = true;
    }
    EXPECT_TRUE(background);
    ASSERT_EQ(blits.size(), 10u);
    ASSERT_EQ(fills.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(blits[i].first, 3 + 26 * (i % 4)) << i;
        EXPECT_EQ(blits[i].second, 2 + 14 * (i / 4)) << i;
        EXPECT_EQ(fills[i], static_cast<unsigned int>(i) | (i == 5 ? 0x1000u : 0u)) << i;
    }
}

TEST(Grid, SelectingOffTheViewScrollsTheCellIn) {
    sFixture f(100, 30);
    f.grid.onInitData();
    // The vertical bar takes 15: 85 wide holds 3 columns, 4 lines of 14.
    ASSERT_EQ(f.grid.columns(), 3);
    ASSERT_EQ(f.grid.lines(), 4);
    ASSERT_TRUE(f.grid.vbar()->visible_child());
    f.grid.focus();
    f.run();
    f.root.processKey(0x157, false, false, false);
    EXPECT_EQ(f.run(), "6:9");
    sRect r, client;
    ASSERT_TRUE(f.grid.cellRect(9, r));
    f.grid.clientRect(&client);
    EXPECT_GT(f.grid.shiftY(), 0);
    EXPECT_GE(r.y - f.grid.shiftY(), 0);
    EXPECT_LE(r.y + r.h - f.grid.shiftY(), client.h);
    // Only the lines that reach into the view are painted.
    cRecordingCanvas canvas(300, 200);
    f.root.processPaint(&canvas);
    int blits = 0;
    for (const auto& c : canvas.calls)
        if (c.op == "blit") {
            ++blits;
            EXPECT_LT(c.y, 30);
            EXPECT_GT(c.y + c.h, 0);
        }
    EXPECT_GT(blits, 0);
    EXPECT_LT(blits, 10);
}
