// The list view's operations against a plain model: a random run of
// insertions, removals, sorts and renumberings on the list and on a
// std::map / std::vector model, every accessor compared after each step;
// and one table of the look setters with the repaints they must ask for.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

struct sCellModel {
    std::string text;
    void* association = nullptr;
    unsigned int color = 0xFFFFFFFF;
    int indent = 0;
};

struct sModel {
    std::map<int, std::map<int, sCellModel>> rows;
    std::vector<int> order;
    bool ascending[2] = {true, true};

    // The list's sort: rows without a key set aside in their order, before
    // the keyed ones ascending and after them descending; equal keys keep
    // their order ascending and come reversed descending (a backward walk).
    void sort(int col) {
        std::vector<int> keyed, aside;
        for (int r : order) (rows[r].count(col) ? keyed : aside).push_back(r);
        auto key = [&](int r) -> const std::string& { return rows[r][col].text; };
        auto less = [&](int a, int b) {
            if (col == 0) return key(a) < key(b);
            return std::stoull(key(a)) < std::stoull(key(b));
        };
        std::stable_sort(keyed.begin(), keyed.end(), less);
        if (ascending[col]) {
            order = aside;
            order.insert(order.end(), keyed.begin(), keyed.end());
        } else {
            std::reverse(keyed.begin(), keyed.end());
            order = keyed;
            order.insert(order.end(), aside.begin(), aside.end());
        }
    }
};

unsigned long long numberOf(sListViewDataItem* it) { return std::stoull(it->text.get()); }

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 800, 600);
        root.attach(&lv, 0, 0, 300, 200);
        lv.setColumn(0, "Name", 120, cCanvas::taLeft);
        lv.setColumn(1, "Size", 60, cCanvas::taRight);
        lv.setSortType(0, new cListViewChild::cListViewNameSortProvider(3072));
        auto* n = new cListViewChild::cListViewU64PramSortProvider;
        n->setTransformProc(numberOf);
        lv.setSortType(1, n);
    }
    cTestWindowTarget win;
    cChildElement root;
    cListViewChild lv;
};

void compare(cListViewChild& lv, sModel& m, int step) {
    SCOPED_TRACE("step " + std::to_string(step));
    ASSERT_EQ(lv.getRowCount(), static_cast<int>(m.order.size()));
    std::vector<int> ids;
    for (int r = lv.first(); r >= 0; r = lv.next(r)) ids.push_back(r);
    std::vector<int> want;
    for (auto& kv : m.rows) want.push_back(kv.first);
    ASSERT_EQ(ids, want);
    std::vector<int> fwd, back;
    for (int r = lv.firstBySort(); r >= 0; r = lv.nextBySort(r)) fwd.push_back(r);
    for (int r = lv.lastBySort(); r >= 0; r = lv.prevBySort(r)) back.push_back(r);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(fwd, m.order);
    ASSERT_EQ(back, m.order);
    // A row is 17 pixels high (the 13-pixel font plus 4) when a cell of a
    // list column holds text, else the minimum of 13.  The rows start below
    // the top border and the header, and the extent ends past the bottom
    // border.
    const int head = lv.header()->height();
    int y = 1 + head;
    for (std::size_t k = 0; k < m.order.size(); ++k) {
        const int row = m.order[k];
        int h = 13;
        for (auto& c : m.rows[row])
            if (c.first < 2 && !c.second.text.empty()) h = 17;
        for (int col = 0; col < 3; ++col) {
            auto cell = m.rows[row].find(col);
            const bool has = cell != m.rows[row].end();
            const char* t = lv.text(row, col);
            const char* tk = lv.textBySortIdx(static_cast<int>(k), col);
            ASSERT_EQ(t != nullptr, has) << row << "," << col;
            ASSERT_EQ(tk, t);
            if (!has) continue;
            ASSERT_EQ(std::string(t), cell->second.text);
            ASSERT_EQ(lv.association(row, col), cell->second.association);
            ASSERT_EQ(lv.associationBySortIdx(static_cast<int>(k), col), cell->second.association);
            const sListViewDataItem* it = lv.data().cell(row, col);
            ASSERT_EQ(it->textColor, cell->second.color);
            ASSERT_EQ(it->indent, cell->second.indent);
        }
        int top = 0, bottom = 0;
        ASSERT_TRUE(lv.itemPos(row, top));
        ASSERT_EQ(top, y - lv.shiftY());
        ASSERT_TRUE(lv.itemRange(row, top, bottom));
        ASSERT_EQ(bottom - top, h);
        ASSERT_EQ(lv.rowAt(y), row);
        cListViewChild::sItemYDs laid;
        ASSERT_TRUE(lv.layoutAt(y + h - 1, top, laid));
        ASSERT_EQ(top, y);
        ASSERT_EQ(laid.rowId, row);
        ASSERT_EQ(laid.height, h);
        y += h;
    }
    ASSERT_EQ(lv.rowAt(y), -1);
    ASSERT_EQ(lv.textBySortIdx(static_cast<int>(m.order.size()), 0), nullptr);
    ASSERT_EQ(lv.associationBySortIdx(-1, 0), nullptr);
    ASSERT_EQ(lv.minVisualHeight(), y + 1);
}

TEST(ListViewOperations, RandomChangesMatchAMapAndVectorModel) {
    sFixture f;
    sModel m;
    std::mt19937 rng(11);
    static int marks[8];
    const char* names[] = {"b", "a", "ab", "B", "", "ba", "a\xC3\xA9", "ab"};
    for (int step = 0; step < 600; ++step) {
        const int op = static_cast<int>(rng() % 100);
        if (op < 45) {
            // A new or existing cell; now and then without a text.
            int row = static_cast<int>(rng() % 60), col = static_cast<int>(rng() % 3);
            std::string text = col == 1 ? std::to_string(rng() % 20) : names[rng() % 8];
            void* a = rng() % 3 ? &marks[rng() % 8] : nullptr;
            bool noText = m.rows.count(row) && m.rows[row].count(col) && rng() % 4 == 0;
            ASSERT_TRUE(f.lv.setItem(row, col, noText ? nullptr : text.c_str(), -1, a));
            if (!m.rows.count(row)) m.order.push_back(row);
            sCellModel& c = m.rows[row][col];
            if (!noText) c.text = text;
            if (a) c.association = a;
        } else if (op < 55) {
            int row = f.lv.addItem(0, "n", -1, nullptr);
            int want = m.rows.empty() ? 0 : m.rows.rbegin()->first + 1;
            ASSERT_EQ(row, want);
            m.rows[row][0].text = "n";
            m.order.push_back(row);
        } else if (op < 75) {
            int row = static_cast<int>(rng() % 70);
            ASSERT_EQ(f.lv.remove(row), m.rows.erase(row) == 1);
            m.order.erase(std::remove(m.order.begin(), m.order.end(), row), m.order.end());
        } else if (op < 88) {
            int col = static_cast<int>(rng() % 2);
            if (rng() % 2) {
                m.ascending[col] = !m.ascending[col];
                ASSERT_TRUE(f.lv.setSortDirection(col, m.ascending[col]));
            }
            ASSERT_TRUE(f.lv.sort(col));
            m.sort(col);
        } else if (op < 92) {
            f.lv.reorderByID();
            m.order.clear();
            for (auto& kv : m.rows) m.order.push_back(kv.first);
        } else if (op < 99 && !m.order.empty()) {
            int row = m.order[rng() % m.order.size()];
            int col = m.rows[row].begin()->first;
            unsigned int color = static_cast<unsigned int>(rng() & 0xFFFFFF);
            int indent = static_cast<int>(rng() % 30);
            ASSERT_TRUE(f.lv.setItemTextColor(row, col, color));
            ASSERT_TRUE(f.lv.setItemIdent(row, col, indent));
            m.rows[row][col].color = color;
            m.rows[row][col].indent = indent;
            ASSERT_FALSE(f.lv.setItemIdent(row, 7, 1));
        } else {
            ASSERT_TRUE(f.lv.clear());
            m.rows.clear();
            m.order.clear();
        }
        f.win.drain();
        compare(f.lv, m, step);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Each look setter with a trailing repaint flag: a change repaints only when
// asked, an unchanged value does nothing, and the getters read back.
TEST(ListViewOperations, LookSettersRepaintOnlyWhenAskedAndChanged) {
    sFixture f;
    using tSet = std::function<void(cListViewChild&, unsigned int, bool)>;
    struct sCase {
        const char* name;
        tSet set;
        std::function<unsigned int(cListViewChild&)> get;  // null: seen only when painted
    };
    const std::vector<sCase> cases = {
        {"bg", [](cListViewChild& l, unsigned v, bool r) { l.setBgColor(v, r); },
         [](cListViewChild& l) { return l.bgColor(); }},
        {"border", [](cListViewChild& l, unsigned v, bool r) { l.setBorderColor(v, r); },
         [](cListViewChild& l) { return l.borderColor(); }},
        {"text", [](cListViewChild& l, unsigned v, bool r) { l.setTextColor(v, r); },
         [](cListViewChild& l) { return l.textColor(); }},
        {"schema", [](cListViewChild& l, unsigned v, bool r) { l.setColorSchema(v, v + 1, v + 2, r); },
         [](cListViewChild& l) {
             return l.bgColor() == l.textColor() + 1 && l.borderColor() == l.textColor() + 2 ? l.textColor() : 0;
         }},
        {"focused", [](cListViewChild& l, unsigned v, bool r) { l.setColorSchemaFocusedActive(v, v, v, r); }, nullptr},
        {"unfocused", [](cListViewChild& l, unsigned v, bool r) { l.setColorSchemaFocusedInactive(v, v, v, r); },
         nullptr},
        {"full row colours", [](cListViewChild& l, unsigned v, bool r) { l.setFullLineSelectColors(v, v, r); },
         nullptr},
        {"full row", [](cListViewChild& l, unsigned v, bool r) { l.setFullLineSelect((v >> 4) & 1, r); }, nullptr},
        {"check spacing", [](cListViewChild& l, unsigned v, bool r) { l.setChbSpacing(static_cast<int>(v % 50), r); },
         nullptr},
        {"padding", [](cListViewChild& l, unsigned v, bool r) { l.setTextPadding(static_cast<int>(v % 50), r); },
         nullptr},
        {"check pictures",
         [](cListViewChild& l, unsigned v, bool r) {
             static cPicture pics[2];
             l.setChkImages(&pics[(v >> 4) & 1], &pics[(v >> 4) & 1], r);
         },
         nullptr},
        {"column colour", [](cListViewChild& l, unsigned v, bool r) { l.setColumnTextColor(1, v, r); }, nullptr},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (unsigned int v : {0x123457u, 0x00FEDCu}) {
            auto count = [&] {
                f.win.drain();
                return f.win.repaints.size() + static_cast<std::size_t>(f.win.wholeRepaints);
            };
            std::size_t before = count();
            c.set(f.lv, v, false);
            EXPECT_EQ(count(), before) << "a change without the flag";
            if (c.get) {
                EXPECT_EQ(c.get(f.lv), v);
            }
            c.set(f.lv, v + 0x10, true);
            EXPECT_GT(count(), before) << "a change with the flag";
            before = count();
            c.set(f.lv, v + 0x10, true);
            EXPECT_EQ(count(), before) << "the same value again";
            if (c.get) {
                EXPECT_EQ(c.get(f.lv), v + 0x10);
            }
        }
    }
}

}  // namespace

namespace {

// The list's own removal, relayout included, does no work per row: the
// store's work counter (which a full layout pass or a renumbering would
// drive up by the row count) grows by a few log n steps only.
TEST(ListViewOperations, RemovingARowWithItsRelayoutCostsLogarithmicWork) {
    sFixture f;
    constexpr int kRows = 1 << 16;
    f.lv.startChanges();
    for (int r = 0; r < kRows; ++r) f.lv.setItem(r, 0, r % 3 ? "row" : "", -1, nullptr);
    f.lv.endChanges(false);
    ASSERT_TRUE(f.lv.sort(0));
    f.win.drain();
    const int head = f.lv.header()->height();
    for (int i = 0; i < 50; ++i) {
        const int row = (i * 7919) % kRows;
        const int after = f.lv.nextBySort(row);
        const unsigned long long w0 = f.lv.data().work();
        ASSERT_TRUE(f.lv.remove(row));
        f.win.drain();
        int top = 0;
        if (after >= 0) {
            ASSERT_TRUE(f.lv.itemPos(after, top));
            ASSERT_EQ(f.lv.rowAt(top + f.lv.shiftY()), after);
        }
        EXPECT_LE(f.lv.data().work() - w0, 6u * 16u * 4u) << "removal " << i;
    }
    // Rows of empty text are 13 high, the others 17: the extent follows.
    int empties = 0;
    for (int r = f.lv.first(); r >= 0; r = f.lv.next(r)) empties += r % 3 == 0;
    EXPECT_EQ(f.lv.minVisualHeight(), 1 + head + 13 * empties + 17 * (kRows - 50 - empties) + 1);
}

// Spacing, header height, column widths and fonts, sort directions, the
// selecting operations and scrolling a row into view, each read back.
TEST(ListViewOperations, LayoutSelectionAndScrollingOperationsReadBack) {
    sFixture f;
    static int marks[30];
    for (int r = 0; r < 30; ++r) f.lv.setItem(r, 0, ("row " + std::to_string(29 - r)).c_str(), -1, &marks[r]);
    f.win.drain();
    auto topOf = [&](int row) {
        int top = 0;
        EXPECT_TRUE(f.lv.itemPos(row, top));
        return top + f.lv.shiftY();
    };
    // Rows start below the top border (1) and the header.
    const int head = f.lv.header()->height();
    EXPECT_EQ(topOf(1), 1 + head + 17);
    f.lv.setSpacing(3);
    f.win.drain();
    EXPECT_EQ(f.lv.spacing(), 3);
    EXPECT_EQ(topOf(1), 1 + head + 20);
    EXPECT_EQ(f.lv.minVisualHeight(), 1 + head + 30 * 20 + 1);
    f.lv.setHeaderHeight(30);
    f.win.drain();
    EXPECT_EQ(f.lv.header()->height(), 30);
    EXPECT_EQ(topOf(0), 31);
    f.lv.showHeader(false);
    f.win.drain();
    EXPECT_EQ(topOf(2), 41);
    sRect client;
    f.lv.clientRect(&client);
    EXPECT_EQ(client.y, 0);
    f.lv.setHeaderHeight(1);  // hides it too
    f.lv.showHeader(true);
    f.win.drain();
    EXPECT_EQ(topOf(0), 31);
    ASSERT_TRUE(f.lv.setColumnWidth(0, 150));
    EXPECT_EQ(f.lv.header()->columnWidth(0), 150);
    EXPECT_FALSE(f.lv.setColumnWidth(5, 10));
    cFontObject* font = cFontObject::get(5, 20, "Fixed", false, false, false);
    EXPECT_TRUE(f.lv.setColumnFont(0, font));
    EXPECT_FALSE(f.lv.setColumnFont(5, font));
    EXPECT_EQ(topOf(1), 31 + 20);  // the column font does not measure rows
    bool asc = true;
    ASSERT_TRUE(f.lv.setSortDirection(0, false));
    ASSERT_TRUE(f.lv.getSortDirection(0, asc));
    EXPECT_FALSE(asc);
    EXPECT_FALSE(f.lv.getSortDirection(5, asc));
    // Descending by name: "row 9" ... "row 0" then "row 29" ... as bytes.
    ASSERT_TRUE(f.lv.sort(0));
    EXPECT_TRUE(f.lv.selectBySortIdx(0));
    EXPECT_EQ(f.lv.selected(), 20);
    EXPECT_EQ(f.lv.find(0, &marks[7]), 7);
    EXPECT_EQ(f.lv.find(1, &marks[7]), -1);
    EXPECT_TRUE(f.lv.select(0, &marks[7]));
    EXPECT_EQ(f.lv.selected(), 7);
    EXPECT_EQ(f.lv.nextSelected(-1), 7);
    EXPECT_FALSE(f.lv.select(0, &marks[29] + 1));
    EXPECT_TRUE(f.lv.select(12));
    EXPECT_FALSE(f.lv.select(40));
    EXPECT_EQ(f.lv.nextSelected(-1), 12);
    EXPECT_FALSE(f.lv.multiselect());
    f.lv.setMultiselect(true);
    EXPECT_TRUE(f.lv.multiselect());
    EXPECT_EQ(f.lv.selected(), -1);  // a change of mode deselects
    // Rows scroll wholly into view, between the header and the bottom
    // border: the last one, then the first again, then two in the middle.
    f.lv.clientRect(&client);
    for (int order : {29, 0, 14, 15}) {
        const int row = f.lv.data().rowBySortIdx(order);
        f.lv.adjustScrollToItem(row);
        f.win.drain();
        int top = 0, bottom = 0;
        ASSERT_TRUE(f.lv.itemRange(row, top, bottom));
        EXPECT_LE(bottom, client.y + client.h - 1) << order;
        EXPECT_GE(top, client.y + 1) << order;
    }
    EXPECT_FALSE(f.lv.adjustScrollToItem(99));
}

}  // namespace
