#include "uitoolkit/listview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

unsigned long long numberOf(sListViewDataItem* it) { return std::stoull(it->text.get()); }

std::vector<int> displayOrder(cListViewData& d) {
    std::vector<int> out;
    for (int r = d.firstBySort(); r >= 0; r = d.nextBySort(r)) out.push_back(r);
    return out;
}

// Rows with random short names (many equal) and some rows without a cell in
// the sorted column; std::stable_sort over the previous order is the oracle.
TEST(ListViewData, SortsStablyByNameAndNumberBothWaysAgainstStableSort) {
    std::mt19937 rng(7);
    for (int round = 0; round < 4; ++round) {
        cListViewData d;
        auto* names = new cListViewChild::cListViewNameSortProvider;
        auto* nums = new cListViewChild::cListViewU64PramSortProvider;
        nums->setTransformProc(numberOf);
        ASSERT_TRUE(d.setSortType(1, names));
        ASSERT_TRUE(d.setSortType(2, nums));
        std::vector<std::string> name(500), num(500);
        std::vector<bool> hasName(500);
        for (int r = 0; r < 500; ++r) {
            const char* abc[] = {"b", "a", "ab", "B", "", "ba", "a\xC3\xA9"};
            name[r] = abc[rng() % 7];
            num[r] = std::to_string(rng() % 50);
            hasName[r] = rng() % 5 != 0;
            ASSERT_EQ(d.setItem(r, 2, num[r].c_str(), -1, nullptr), cListViewData::srRelayout);
            if (hasName[r]) d.setItem(r, 1, name[r].c_str(), -1, nullptr);
        }
        std::vector<int> prev(500);
        for (int r = 0; r < 500; ++r) prev[r] = r;
        for (int pass = 0; pass < 4; ++pass) {
            int col = pass % 2 ? 2 : 1;
            bool asc = round % 2 == 0 || pass < 2;
            ASSERT_TRUE(d.setSortDirection(col, asc));
            ASSERT_TRUE(d.sort(col));
            std::vector<int> want = prev;
            auto key = [&](int r) { return col == 1 ? name[r] : std::string(); };
            auto n = [&](int r) { return std::stoull(num[r]); };
            auto has = [&](int r) { return col == 2 || hasName[r]; };
            // Rows without a key: before the keyed rows ascending, after them descending.
            std::stable_sort(want.begin(), want.end(), [&](int a, int b) {
                if (has(a) != has(b)) return asc ? !has(a) : has(a);
                if (!has(a)) return false;
                bool less = col == 1 ? key(a) < key(b) : n(a) < n(b);
                bool more = col == 1 ? key(b) < key(a) : n(b) < n(a);
                return asc ? less : more;
            });
            // Descending walks the tree backwards, so equal keys come reversed.
            if (!asc) {
                for (size_t i = 0; i < want.size();) {
                    size_t j = i;
                    while (j < want.size() && has(want[i]) && has(want[j]) &&
                           (col == 1 ? key(want[j]) == key(want[i]) : n(want[j]) == n(want[i])))
                        ++j;
                    if (j > i + 1) std::reverse(want.begin() + i, want.begin() + j);
                    i = std::max(j, i + 1);
                }
            }
            ASSERT_EQ(displayOrder(d), want) << "round " << round << " pass " << pass;
            ASSERT_EQ(d.sortedColumn(), col);
            prev = want;
        }
    }
}

TEST(ListViewData, CountsOrdersAndWalksAfterRemovingMiddleRows) {
    cListViewData d;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(d.addItem(0, "x", -1, nullptr), i);
    ASSERT_TRUE(d.remove(2));
    EXPECT_FALSE(d.remove(2));
    EXPECT_EQ(d.getRowCount(), 4);
    EXPECT_EQ(displayOrder(d), (std::vector<int>{0, 1, 3, 4}));
    EXPECT_EQ(d.prevBySort(3), 1);
    EXPECT_EQ(d.next(1), 3);
    EXPECT_EQ(d.addItem(0, "y", -1, nullptr), 5);
    EXPECT_EQ(d.getRowCount(), 5);
    EXPECT_EQ(d.lastBySort(), 5);
    d.reorderByID();
    EXPECT_EQ(d.rowBySortIdx(2), 3);
    EXPECT_EQ(d.getRowCount(), 5);
    d.clear();
    EXPECT_EQ(d.getRowCount(), 0);
    EXPECT_EQ(d.firstBySort(), -1);
    EXPECT_EQ(d.setItem(-1, 0, "z", -1, nullptr), cListViewData::srFailed);
}

TEST(ListViewData, SetItemRelayoutsOnlyOnLookChangesAndKeepsAssociation) {
    cListViewData d;
    int a = 1, b = 2;
    EXPECT_EQ(d.setItem(4, 1, "t", 3, &a), cListViewData::srRelayout);
    d.rowLocked(4)->find(1)->height = 17;
    EXPECT_EQ(d.setItem(4, 1, nullptr, 3, nullptr), cListViewData::srNone);
    EXPECT_EQ(d.rowLocked(4)->find(1)->height, 17);
    EXPECT_EQ(d.association(4, 1), &a);
    EXPECT_EQ(d.setItem(4, 1, nullptr, 3, &b), cListViewData::srNone);
    EXPECT_EQ(d.find(1, &b), 4);
    EXPECT_EQ(d.find(1, &a), -1);
    EXPECT_EQ(d.setItem(4, 1, nullptr, 2, nullptr), cListViewData::srRelayout);
    EXPECT_EQ(d.rowLocked(4)->find(1)->height, 0);
    _guardchar<char> t;
    ASSERT_TRUE(d.textBySortIdx(0, 1, t));
    EXPECT_STREQ(t.get(), "t");
    EXPECT_FALSE(d.text(4, 9, t));
}

TEST(ListViewData, SortRefusesColumnsWithoutProviderOrTransform) {
    cListViewData d;
    d.setItem(0, 0, "1", -1, nullptr);
    EXPECT_FALSE(d.sort(0));
    EXPECT_TRUE(d.setSortType(0, new cListViewChild::cListViewU64PramSortProvider));
    EXPECT_FALSE(d.sort(0));
    EXPECT_EQ(d.sortedColumn(), -1);
}

TEST(ListViewData, SorterListRefusesSerialOverflow) {
    cUUSorterList<int, int> l;
    *l.insert_nonunique(5) = 1;
    l.tree().insert(cSerializedKey<int>(5, INT_MAX));
    EXPECT_EQ(l.insert_nonunique(5), nullptr);
    EXPECT_NE(l.insert_nonunique(6), nullptr);
    EXPECT_EQ(l.tree().first()->key.serial, 0);
}

}  // namespace

namespace {

// A million rows sorted by name (so display order and row ids differ), then
// removals at random places, each followed by a short walk in display
// order, order-number lookups and layout lookups.  The work counter of the
// store must stay within a bound that grows with log n, not with n, and
// every answer must match a plain vector of the display order.
TEST(ListViewData, RemovalAndWalksInAMillionRowsCostLogarithmicWork) {
    constexpr int kRows = 1 << 20;
    cListViewData d;
    d.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    for (int r = 0; r < kRows; ++r) {
        char name[16];
        std::snprintf(name, sizeof name, "%07lld", (r * 7919LL) % kRows);
        ASSERT_EQ(d.setItem(r, 0, name, -1, nullptr), cListViewData::srRelayout);
    }
    // Heights 13 to 17 by row id.
    d.setAllHeights([](int row, cListViewData::Row&) { return 13 + row % 5; });
    ASSERT_TRUE(d.sort(0));
    std::vector<int> order;
    order.reserve(kRows);
    for (int k = 0; k < kRows; ++k) order.push_back(static_cast<int>((static_cast<long long>(k) * 315407) % kRows));
    // 7919 * 315407 = 1 (mod 2^20): row k * 315407 carries the name k.
    ASSERT_EQ(d.rowBySortIdx(12345), order[12345]);
    std::mt19937 rng(3);
    const double logN = std::log2(static_cast<double>(kRows));
    for (int i = 0; i < 200; ++i) {
        const std::size_t at = rng() % order.size();
        const int row = order[at];
        unsigned long long w0 = d.work();
        ASSERT_TRUE(d.remove(row));
        order.erase(order.begin() + static_cast<long>(at));
        // Walk 20 rows on from the removed row's place, and back again.
        int r = at < order.size() ? order[at] : -1, k = static_cast<int>(at);
        for (int s = 0; s < 20 && r >= 0; ++s, ++k) {
            ASSERT_EQ(r, order[static_cast<std::size_t>(k)]);
            ASSERT_EQ(d.sortIdx(r), k);
            r = d.nextBySort(r);
        }
        if (at > 0) {
            ASSERT_EQ(d.prevBySort(order[at - 1]), at > 1 ? order[at - 2] : -1);
        }
        const unsigned long long used = d.work() - w0;
        ASSERT_LE(used, static_cast<unsigned long long>(25 * 6 * logN)) << "removal " << i;
    }
    // The layout follows: the row under each top is the row with that top.
    long long y = 0;
    for (int k = 0; k < 50; ++k) {
        long long top = -1;
        cListViewData::RowNode* n = d.rowAtY(y, top);
        ASSERT_NE(n, nullptr);
        ASSERT_EQ(n->key, order[static_cast<std::size_t>(k)]);
        ASSERT_EQ(top, y);
        ASSERT_EQ(d.topOf(n->key), y);
        y += 13 + n->key % 5;
    }
    EXPECT_EQ(d.getRowCount(), kRows - 200);
}

}  // namespace
