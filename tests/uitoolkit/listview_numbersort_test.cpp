// The number sort of the list store against std::stable_sort, case by case:
// each case makes the cells of a column, the test keeps the values it wrote
// into them and orders the rows by those values with its own comparator.
// The sizes lie around the point where the counting sort takes over from
// the comparison sort, and the key ranges around the widths that take one
// to four counting passes.
#include "uitoolkit/listview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// The list's rule for a number column: the caller's transform gives each
// cell a 64-bit unsigned key.  The plain transform reads the text as
// strtoull does (a leading minus wraps around, text without digits is 0);
// the signed one reads it as strtoll and flips the sign bit, so that the
// unsigned keys come in the order of the signed numbers.
unsigned long long plainKey(sListViewDataItem* it) { return std::strtoull(it->text.get(), nullptr, 10); }
unsigned long long signedKey(sListViewDataItem* it) {
    return static_cast<unsigned long long>(std::strtoll(it->text.get(), nullptr, 10)) ^ (1ULL << 63);
}

// One cell as the case made it: no cell at all, a text without a number,
// or a number, kept as the value the test wrote.
struct sCell {
    enum eKind { kMissing, kText, kNumber } kind = kNumber;
    long long s = 0;           // the value of a signed case
    unsigned long long u = 0;  // the value of an unsigned case
};

enum eRule {
    kUnsigned,      // plain transform, non-negative numbers
    kSigned,        // signed transform, numbers of either sign
    kWrapNegatives  // plain transform over numbers of either sign
};

struct sCase {
    const char* name;
    eRule rule;
    std::function<sCell(std::mt19937_64&, int r, int n)> make;
};

sCell number(unsigned long long u) {
    sCell c;
    c.u = u;
    return c;
}
sCell signedNumber(long long s) {
    sCell c;
    c.s = s;
    return c;
}

std::string textOf(const sCell& c, eRule rule) {
    if (c.kind == sCell::kText) return "n/a";
    return rule == kUnsigned ? std::to_string(c.u) : std::to_string(c.s);
}

// True when a orders before b, written from the values, not the keys.
bool before(const sCell& a, const sCell& b, eRule rule) {
    // A text without a number reads as 0 under either transform.
    const long long as = a.kind == sCell::kText ? 0 : a.s, bs = b.kind == sCell::kText ? 0 : b.s;
    const unsigned long long au = a.kind == sCell::kText ? 0 : a.u, bu = b.kind == sCell::kText ? 0 : b.u;
    switch (rule) {
    case kUnsigned: return au < bu;
    case kSigned: return as < bs;
    case kWrapNegatives:
        // Wrapped around, every negative number lies above every other
        // one, and among themselves they keep their order.
        if ((as < 0) != (bs < 0)) return bs < 0;
        return as < bs;
    }
    return false;
}

std::vector<int> displayOrder(cListViewData& d) {
    std::vector<int> out;
    for (int r = d.firstBySort(); r >= 0; r = d.nextBySort(r)) out.push_back(r);
    return out;
}

// The rows of `from` (the order they are pushed in) as the list shows them
// sorted: the rows without a cell before the others ascending and after
// them descending, each in push order; the others stable-sorted, and
// descending the whole sorted run backwards, equal keys included.
std::vector<int> expected(const std::vector<int>& from, const std::vector<sCell>& cells, eRule rule, bool asc) {
    std::vector<int> keyed, aside;
    for (int r : from) (cells[r].kind == sCell::kMissing ? aside : keyed).push_back(r);
    std::stable_sort(keyed.begin(), keyed.end(), [&](int a, int b) { return before(cells[a], cells[b], rule); });
    std::vector<int> want;
    if (asc) {
        want = aside;
        want.insert(want.end(), keyed.begin(), keyed.end());
    } else {
        want.assign(keyed.rbegin(), keyed.rend());
        want.insert(want.end(), aside.begin(), aside.end());
    }
    return want;
}

const std::vector<sCase>& cases() {
    static const std::vector<sCase> table = {
        {"random 64-bit", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g()); }},
        {"random, many equal", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() % 7); }},
        {"all equal", kUnsigned, [](std::mt19937_64&, int, int) { return number(123456789); }},
        {"ascending", kUnsigned, [](std::mt19937_64&, int r, int) { return number(static_cast<unsigned>(r)); }},
        {"descending", kUnsigned,
         [](std::mt19937_64&, int r, int n) { return number(static_cast<unsigned long long>(n - r) * 3); }},
        {"dense scrambled", kUnsigned,
         [](std::mt19937_64&, int r, int n) { return number(static_cast<unsigned long long>(r) * 7919 % n); }},
        {"below 2^8", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0xFFULL); }},
        {"below 2^9", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0x1FFULL); }},
        {"below 2^16", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0xFFFFULL); }},
        {"below 2^17", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0x1FFFFULL); }},
        {"below 2^24", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0xFFFFFFULL); }},
        {"below 2^25", kUnsigned, [](std::mt19937_64& g, int, int) { return number(g() & 0x1FFFFFFULL); }},
        {"only above bit 32", kUnsigned,
         [](std::mt19937_64& g, int, int) { return number((g() % 5000) << 33 | 0x1234); }},
        {"huge", kUnsigned,
         [](std::mt19937_64& g, int, int) {
             const unsigned long long edge[] = {~0ULL, ~0ULL - 1, 1ULL << 63, (1ULL << 63) - 1, 1ULL << 32,
                                                0xFFFFFFFFULL, 0};
             return number(g() % 2 ? edge[g() % 7] : ~0ULL - g() % 100000);
         }},
        {"negative and positive, signed", kSigned,
         [](std::mt19937_64& g, int, int) { return signedNumber(static_cast<long long>(g() % 20001) - 10000); }},
        {"negative extremes, signed", kSigned,
         [](std::mt19937_64& g, int, int) {
             const long long edge[] = {LLONG_MIN, LLONG_MIN + 1, -1, 0, 1, LLONG_MAX};
             return signedNumber(g() % 2 ? edge[g() % 6] : static_cast<long long>(g()));
         }},
        {"negative, read unsigned", kWrapNegatives,
         [](std::mt19937_64& g, int, int) { return signedNumber(static_cast<long long>(g() % 2001) - 1000); }},
        {"missing and non-numeric", kUnsigned,
         [](std::mt19937_64& g, int, int) {
             sCell c = number(g() % 50);
             if (g() % 6 == 0) c.kind = sCell::kMissing;
             else if (g() % 6 == 0) c.kind = sCell::kText;
             return c;
         }},
        {"missing, signed", kSigned,
         [](std::mt19937_64& g, int, int) {
             sCell c = signedNumber(static_cast<long long>(g() % 401) - 200);
             if (g() % 4 == 0) c.kind = sCell::kMissing;
             else if (g() % 9 == 0) c.kind = sCell::kText;
             return c;
         }},
    };
    return table;
}

TEST(ListViewNumberSort, MatchesStableSortCaseByCaseBothWays) {
    std::mt19937_64 rng(2024);
    for (const sCase& c : cases()) {
        for (int n : {1, 2, 3, 2047, 2048, 2049, 4097, 40000}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(n) + " rows");
            std::vector<sCell> cells(n);
            std::vector<unsigned long long> coarse(n);
            cListViewData d;
            auto* nums = new cListViewChild::cListViewU64PramSortProvider;
            nums->setTransformProc(c.rule == kSigned ? signedKey : plainKey);
            auto* second = new cListViewChild::cListViewU64PramSortProvider;
            second->setTransformProc(plainKey);
            ASSERT_TRUE(d.setSortType(0, nums));
            ASSERT_TRUE(d.setSortType(1, second));
            for (int r = 0; r < n; ++r) {
                cells[r] = c.make(rng, r, n);
                if (cells[r].kind != sCell::kMissing)
                    d.setItem(r, 0, textOf(cells[r], c.rule).c_str(), -1, nullptr);
                coarse[r] = rng() % 3;
                d.setItem(r, 1, std::to_string(coarse[r]).c_str(), -1, nullptr);
            }
            std::vector<int> byId(n);
            for (int r = 0; r < n; ++r) byId[r] = r;
            for (bool asc : {true, false}) {
                d.reorderByID();
                ASSERT_TRUE(d.setSortDirection(0, asc));
                ASSERT_TRUE(d.sort(0));
                const std::vector<int> want = expected(byId, cells, c.rule, asc);
                ASSERT_EQ(displayOrder(d), want) << (asc ? "ascending" : "descending");
                // Sorted again by a column of few values, the rows are
                // pushed in the order just shown: equal values keep it.
                ASSERT_TRUE(d.sort(1));
                std::vector<int> again = want;
                std::stable_sort(again.begin(), again.end(), [&](int a, int b) { return coarse[a] < coarse[b]; });
                ASSERT_EQ(displayOrder(d), again) << (asc ? "then ascending" : "then descending");
            }
        }
    }
}

// The provider by itself: its push numbers and tags in key order, for the
// same cases read through the transform, every cell pushed.  Sorting twice
// from the same pushes reuses the room of the first sort.
TEST(ListViewNumberSort, ProviderOrdersPushesAndTagsLikeStableSort) {
    std::mt19937_64 rng(99);
    for (const sCase& c : cases()) {
        for (int n : {2, 2047, 2048, 2049, 40000}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(n) + " cells");
            std::vector<sCell> cells(n);
            std::vector<sListViewDataItem> items(n);
            for (int r = 0; r < n; ++r) {
                cells[r] = c.make(rng, r, n);
                if (cells[r].kind == sCell::kMissing) cells[r].kind = sCell::kText;
                items[r].text.set(textOf(cells[r], c.rule).c_str());
            }
            std::vector<unsigned int> want(n);
            for (int r = 0; r < n; ++r) want[r] = static_cast<unsigned int>(r);
            std::stable_sort(want.begin(), want.end(),
                             [&](unsigned int a, unsigned int b) { return before(cells[a], cells[b], c.rule); });
            cListViewChild::cListViewU64PramSortProvider p;
            p.setTransformProc(c.rule == kSigned ? signedKey : plainKey);
            for (int run = 0; run < 2; ++run) {
                ASSERT_TRUE(p.init());
                for (int r = 0; r < n; ++r) {
                    p.setTag(static_cast<unsigned int>(n - r) * 5);
                    ASSERT_TRUE(p.push(&items[r]));
                }
                ASSERT_EQ(p.sorted(), want) << "run " << run;
                const std::vector<unsigned int>& tags = p.sortedTags();
                ASSERT_EQ(tags.size(), want.size());
                for (int i = 0; i < n; ++i) ASSERT_EQ(tags[i], static_cast<unsigned int>(n - want[i]) * 5) << i;
            }
        }
    }
}

}  // namespace
