#include "uitoolkit/listview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
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

// Rows with random names (many equal, some agreeing on their first 16
// bytes and more) and numbers (many equal, some past 2^32), and some rows
// without a cell in the sorted column; std::stable_sort over the previous
// order is the oracle.  Short runs take the comparison sort, long ones the
// counting sort.
TEST(ListViewData, SortsStablyByNameAndNumberBothWaysAgainstStableSort) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 6; ++round) {
        const int rows = round < 2 ? 500 : 5000;
        cListViewData d;
        auto* names = new cListViewChild::cListViewNameSortProvider;
        auto* nums = new cListViewChild::cListViewU64PramSortProvider;
        nums->setTransformProc(numberOf);
        ASSERT_TRUE(d.setSortType(1, names));
        ASSERT_TRUE(d.setSortType(2, nums));
        std::vector<std::string> name(rows), num(rows);
        std::vector<bool> hasName(rows);
        const char* abc[] = {"b", "a", "ab", "B", "", "ba", "a\xC3\xA9", "\xFF", "sixteen-bytes-ab",
                             "sixteen-bytes-abc", "sixteen-bytes-ab\x01", "sixteen-bytes-abz"};
        for (int r = 0; r < rows; ++r) {
            name[r] = abc[rng() % 12];
            if (rng() % 3 == 0) name[r] += std::to_string(rng() % 40);
            unsigned long long n = rng() % 4 == 0 ? rng() : rng() % (round % 2 ? 50 : 70000);
            num[r] = std::to_string(n);
            hasName[r] = rng() % 5 != 0;
            ASSERT_EQ(d.setItem(r, 2, num[r].c_str(), -1, nullptr), cListViewData::srRelayout);
            if (hasName[r]) d.setItem(r, 1, name[r].c_str(), -1, nullptr);
        }
        std::vector<int> prev(rows);
        for (int r = 0; r < rows; ++r) prev[r] = r;
        for (int pass = 0; pass < 4; ++pass) {
            int col = pass % 2 ? 2 : 1;
            bool asc = round % 2 == 0 || pass < 2;
            ASSERT_TRUE(d.setSortDirection(col, asc));
            ASSERT_TRUE(d.sort(col));
            std::vector<int> want = prev;
            auto has = [&](int r) { return col == 2 || hasName[r]; };
            auto less = [&](int a, int b) {
                if (col == 2) return std::stoull(num[a]) < std::stoull(num[b]);
                return std::lexicographical_compare(name[a].begin(), name[a].end(), name[b].begin(), name[b].end(),
                                                    [](char x, char y) {
                                                        return static_cast<unsigned char>(x) <
                                                               static_cast<unsigned char>(y);
                                                    });
            };
            // Rows without a key: before the keyed rows ascending, after them
            // descending; equal keys come reversed descending (a backward walk).
            std::vector<int> keyed, aside;
            for (int r : want) (has(r) ? keyed : aside).push_back(r);
            std::stable_sort(keyed.begin(), keyed.end(), less);
            if (asc) {
                want = aside;
                want.insert(want.end(), keyed.begin(), keyed.end());
            } else {
                want.assign(keyed.rbegin(), keyed.rend());
                want.insert(want.end(), aside.begin(), aside.end());
            }
            ASSERT_EQ(displayOrder(d), want) << "round " << round << " pass " << pass;
            ASSERT_EQ(d.sortedColumn(), col);
            prev = want;
        }
    }
}

// A number provider that counts its pushes: being of a derived class, it
// must be handed every cell through push().
class cCountingNumberProvider : public cListViewChild::cListViewU64PramSortProvider {
public:
    bool push(sListViewDataItem* item) override {
        ++pushes;
        return cListViewU64PramSortProvider::push(item);
    }
    std::size_t pushes = 0;
};

// The number provider by itself and inside the store, over key sets that
// take each of its ways: all keys equal (no counting pass), keys agreeing
// above their low 32 bits (one-word entries) with high bits of 0 or all
// ones, keys differing only in bit 32 or bit 63, and keys anywhere in 64
// bits with the extremes; many keys equal throughout.  Dense ranges of
// numbers in a scrambled order, each once or twice, low or above bit 40,
// fill the buckets of the last pass in step from places a power of two
// apart, which that pass spreads out first.  Read through push numbers, tags
// and a walk, and as the store's display order both ways; std::stable_sort
// of the push order is the oracle.
TEST(ListViewData, NumberSortMatchesStableSortOverEveryKeyShape) {
    std::mt19937_64 rng(13);
    auto shaped = [&rng](int shape, int r, int rows) -> unsigned long long {
        const unsigned long long dense = static_cast<unsigned long long>(r) * 7919 % static_cast<unsigned int>(rows);
        const unsigned long long pick[] = {0, 1, 0x7FF, 0x800, 0xFFFFFFFFULL, 0x100000000ULL, ~0ULL, ~0ULL - 1,
                                           1ULL << 63};
        switch (shape) {
        case 0: return 42;
        case 1: return rng() % 1000;
        case 2: return rng() % 1000000;
        case 3: return rng() & 0xFFFFFFFFULL;
        case 4: return 0xFFFFFFFF00000000ULL | (rng() & 0xC0000000ULL) | (rng() % 5000);
        case 5: return (rng() & 1) << 32 | (rng() % 3);
        case 6: return (rng() & 1) << 63 | 7;
        case 8: return dense;
        case 9: return dense / 2;
        case 10: return dense << 40 | 7;
        default: return rng() % 3 == 0 ? pick[rng() % 9] : (rng() % 4 == 0 ? rng() % 100 : rng());
        }
    };
    for (int shape = 0; shape < 11; ++shape) {
        for (int rows : shape < 8 ? std::vector<int>{700, 3000} : std::vector<int>{16384}) {
            SCOPED_TRACE("shape " + std::to_string(shape) + ", " + std::to_string(rows) + " rows");
            std::vector<unsigned long long> key(rows);
            std::vector<sListViewDataItem> cells(rows);
            for (int r = 0; r < rows; ++r) {
                key[r] = shaped(shape, r, rows);
                cells[r].text.set(std::to_string(key[r]).c_str());
            }
            std::vector<unsigned int> want(rows);
            for (int r = 0; r < rows; ++r) want[r] = static_cast<unsigned int>(r);
            std::stable_sort(want.begin(), want.end(), [&](unsigned int a, unsigned int b) { return key[a] < key[b]; });

            cListViewChild::cListViewU64PramSortProvider p;
            p.setTransformProc(numberOf);
            for (int run = 0; run < 2; ++run) {  // the second run reuses the room of the first
                ASSERT_TRUE(p.init());
                for (int r = 0; r < rows; ++r) {
                    p.setTag(static_cast<unsigned int>(r) * 7 + 3);
                    ASSERT_TRUE(p.push(&cells[r]));
                }
                ASSERT_EQ(p.sorted(), want);
                const std::vector<unsigned int>& tags = p.sortedTags();
                ASSERT_EQ(tags.size(), want.size());
                for (int i = 0; i < rows; ++i) ASSERT_EQ(tags[i], want[i] * 7 + 3) << i;
                sListViewDataItem* it = nullptr;
                int i = 0;
                for (void* pos = p.next(nullptr, it); pos; pos = p.next(pos, it), ++i)
                    ASSERT_EQ(it, &cells[want[i]]) << i;
                ASSERT_EQ(i, rows);
            }
            // More keys pushed after a sort are sorted with the others, by
            // this provider and by the name provider (the texts as bytes).
            cListViewChild::cListViewNameSortProvider names;
            ASSERT_TRUE(p.init());
            ASSERT_TRUE(names.init());
            for (int r = 0; r < rows; ++r) {
                if (r == rows - rows / 8) {
                    ASSERT_EQ(p.sorted().size(), static_cast<std::size_t>(r));
                    ASSERT_EQ(names.sorted().size(), static_cast<std::size_t>(r));
                }
                ASSERT_TRUE(p.push(&cells[r]));
                ASSERT_TRUE(names.push(&cells[r]));
            }
            ASSERT_EQ(p.sorted(), want);
            std::vector<unsigned int> byText(want);
            std::sort(byText.begin(), byText.end());
            std::stable_sort(byText.begin(), byText.end(), [&](unsigned int a, unsigned int b) {
                return std::strcmp(cells[a].text.get(), cells[b].text.get()) < 0;
            });
            ASSERT_EQ(names.sorted(), byText);

            // In the store every eleventh row has no number: those rows go
            // before the others ascending, after them descending.  Column 1
            // has a provider of a derived class, pushed cell by cell.
            cListViewData d;
            auto* nums = new cListViewChild::cListViewU64PramSortProvider;
            nums->setTransformProc(numberOf);
            auto* counting = new cCountingNumberProvider;
            counting->setTransformProc(numberOf);
            ASSERT_TRUE(d.setSortType(0, nums));
            ASSERT_TRUE(d.setSortType(1, counting));
            std::vector<int> keyed, aside;
            for (int r = 0; r < rows; ++r) {
                if (r % 11 == 5) {
                    d.setItem(r, 2, "no number", -1, nullptr);
                } else {
                    for (int col : {0, 1}) d.setItem(r, col, cells[r].text.get(), -1, nullptr);
                }
            }
            for (unsigned int r : want)
                if (r % 11 != 5) keyed.push_back(static_cast<int>(r));
            for (int r = 5; r < rows; r += 11) aside.push_back(r);
            for (int col : {0, 1}) {
                for (bool asc : {true, false}) {
                    d.reorderByID();
                    counting->pushes = 0;
                    ASSERT_TRUE(d.setSortDirection(col, asc));
                    ASSERT_TRUE(d.sort(col));
                    std::vector<int> order = asc ? aside : std::vector<int>(keyed.rbegin(), keyed.rend());
                    order.insert(order.end(), asc ? keyed.begin() : aside.begin(), asc ? keyed.end() : aside.end());
                    ASSERT_EQ(displayOrder(d), order) << "column " << col;
                    if (col == 1) {
                        ASSERT_EQ(counting->pushes, keyed.size());
                    }
                }
            }
        }
    }
}

// The order of a provider as the sorting tree keeps it: a cUUSorterList of
// serialized keys, walked through the interface like any foreign provider.
class cTreeNameProvider : public cListViewSortProvider {
public:
    bool init() override {
        mList.clear();
        return true;
    }
    bool push(sListViewDataItem* item) override {
        if (!item || !item->text.get()) return false;
        sListViewDataItem** slot = mList.insert_nonunique(cStringKey(item->text.get(), -1));
        if (!slot) return false;
        *slot = item;
        return true;
    }
    void* next(void* pos, sListViewDataItem*& item) override { return step(pos, item, true); }
    void* prev(void* pos, sListViewDataItem*& item) override { return step(pos, item, false); }

private:
    using Tree = cUUSorterList<cStringKey, sListViewDataItem*>::Tree;
    void* step(void* pos, sListViewDataItem*& item, bool forward) {
        Tree& t = mList.tree();
        auto* n = static_cast<Tree::cTreeItem*>(pos);
        n = n ? (forward ? t.next(n) : t.prev(n)) : (forward ? t.first() : t.last());
        if (n) item = n->value;
        return n;
    }
    cUUSorterList<cStringKey, sListViewDataItem*> mList{3072};
};

// A provider that pushes each cell twice: its tags cannot name each row
// once, so the store walks it and still keeps every row exactly once.
class cTwiceNameProvider : public cListViewChild::cListViewNameSortProvider {
public:
    bool push(sListViewDataItem* item) override {
        return cListViewNameSortProvider::push(item) && cListViewNameSortProvider::push(item);
    }
};

// A provider whose sorted tags name one row twice, halfway through: the
// store finds out only after it began to write the new order, and must
// still end with the walk's order and every row's place right.
class cDuplicateTagProvider : public cListViewChild::cListViewNameSortProvider {
protected:
    void order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) override {
        cListViewNameSortProvider::order(out, tags);
        if (tags.size() > 2) tags[tags.size() / 2] = tags.front();
    }
};

// Columns of the same texts sorted by our provider, by the sorting tree and
// by the misbehaving providers: the display orders must agree.
TEST(ListViewData, ForeignAndMisbehavingProvidersOrderLikeTheSortingTree) {
    for (int rows : {300, 4000}) {
        cListViewData d;
        d.setSortType(0, new cListViewChild::cListViewNameSortProvider(3072));
        d.setSortType(1, new cTreeNameProvider);
        d.setSortType(2, new cTwiceNameProvider);
        d.setSortType(4, new cDuplicateTagProvider);
        const int cols[] = {0, 1, 2, 4};
        std::mt19937 rng(5);
        for (int r = 0; r < rows; ++r) {
            std::string t = std::string(rng() % 2 ? "same-first-sixteen" : "x") + std::to_string(rng() % 60);
            if (rng() % 7 == 0) t = "";
            const bool has = rng() % 9 != 0;
            for (int col : cols) d.setItem(r, col, has ? t.c_str() : nullptr, -1, nullptr);
            if (!has) d.setItem(r, 3, "only elsewhere", -1, nullptr);
        }
        for (bool asc : {true, false}) {
            std::vector<int> orders[4];
            for (int k = 0; k < 4; ++k) {
                d.reorderByID();
                d.setSortDirection(cols[k], asc);
                ASSERT_TRUE(d.sort(cols[k]));
                orders[k] = displayOrder(d);
                ASSERT_EQ(static_cast<int>(orders[k].size()), rows);
                for (int i = 0; i < rows; ++i) ASSERT_EQ(d.sortIdx(orders[k][i]), i) << "column " << cols[k];
            }
            EXPECT_EQ(orders[0], orders[1]) << rows << (asc ? " ascending" : " descending");
            EXPECT_EQ(orders[2], orders[1]) << rows << (asc ? " ascending" : " descending");
            EXPECT_EQ(orders[3], orders[1]) << rows << (asc ? " ascending" : " descending");
        }
    }
}

// The prefix sums against a plain array summed by hand, and a row's cells
// against a std::map, through random changes.
TEST(ListViewData, PrefixSumsAndRowCellsMatchPlainContainers) {
    std::mt19937 rng(9);
    unsigned long long work = 0;
    cPrefixSums<long long> sums(work);
    std::vector<long long> plain;
    for (int step = 0; step < 3000; ++step) {
        const int op = static_cast<int>(rng() % 10);
        if (op < 4 || plain.empty()) {
            long long v = rng() % 20;
            sums.push(v);
            plain.push_back(v);
        } else if (op < 8) {
            std::size_t at = rng() % plain.size();
            long long d = static_cast<long long>(rng() % 9) - std::min<long long>(plain[at], 4);
            sums.add(at, d);
            plain[at] += d;
        } else if (op < 9) {
            plain.resize(rng() % 300);
            for (long long& v : plain) v = rng() % 5;
            sums.prepare(plain.size());
            for (std::size_t i = 0; i < plain.size(); ++i) sums.at(i) = plain[i];
            sums.build();
        } else {
            plain.assign(rng() % 300, 1);
            sums.assignOnes(plain.size());
        }
        long long total = 0;
        for (long long v : plain) total += v;
        ASSERT_EQ(sums.total(), total) << step;
        std::size_t n = plain.empty() ? 0 : rng() % (plain.size() + 1);
        long long want = 0;
        for (std::size_t i = 0; i < n; ++i) want += plain[i];
        ASSERT_EQ(sums.prefix(n), want) << step;
        long long y = total ? static_cast<long long>(rng() % static_cast<unsigned long long>(total + 1)) : 0;
        std::size_t k = 0;
        for (long long run = 0; k < plain.size() && run + plain[k] <= y; ++k) run += plain[k];
        ASSERT_EQ(sums.upper(y), k) << step;
    }
    for (int round = 0; round < 50; ++round) {
        cListViewCells cells;
        std::map<int, int> model;
        for (int i = 0; i < 12; ++i) {
            int col = static_cast<int>(rng() % 16) - 3;
            sListViewDataItem* it = cells.insert(col);
            if (!model.count(col)) {
                EXPECT_EQ(it->indent, 0);
                model[col] = i;
                it->indent = static_cast<unsigned short>(i);
            }
            ASSERT_EQ(cells.count(), model.size());
            auto m = model.begin();
            for (auto* c = cells.first(); c; c = cells.next(c), ++m) {
                ASSERT_EQ(c->key, m->first);
                ASSERT_EQ(c->value.indent, m->second);
                ASSERT_EQ(cells.find(c->key), &c->value);
            }
            ASSERT_EQ(cells.find(99), nullptr);
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
