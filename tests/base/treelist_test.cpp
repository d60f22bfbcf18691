#include "base/treelist.h"

#include "base/buffers.h"
#include "base/serializedkey.h"
#include "base/strkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using IntMap = cFasterTreeList<int, int>;
using IntItem = IntMap::cTreeItem;

// ---- helpers ---------------------------------------------------------------

template <typename K, typename V>
int height(const typename cFasterTreeList<K, V>::cTreeItem* n) {
    if (!n) return 0;
    return 1 + std::max(height<K, V>(n->lesser), height<K, V>(n->greater));
}
template <typename K, typename V>
int height(const cFasterTreeList<K, V>& m) {
    return height<K, V>(m.root());
}

// The weight balance promises at most log(n + 1) / log(4/3) levels.
int heightBound(std::size_t n) { return static_cast<int>(std::floor(std::log(n + 1.0) / std::log(4.0 / 3.0))) + 1; }

// Every child names its parent, the root has none, and the nodes reachable
// from the root are as many as count() says.
template <typename K, typename V>
::testing::AssertionResult linksAreSound(const cFasterTreeList<K, V>& m) {
    using Item = typename cFasterTreeList<K, V>::cTreeItem;
    if (!m.root()) {
        if (m.count() != 0) return ::testing::AssertionFailure() << "empty tree with count " << m.count();
        return ::testing::AssertionSuccess();
    }
    if (m.root()->parent) return ::testing::AssertionFailure() << "the root has a parent";
    std::vector<const Item*> todo{m.root()};
    std::size_t seen = 0;
    while (!todo.empty()) {
        const Item* n = todo.back();
        todo.pop_back();
        ++seen;
        for (const Item* c : {n->lesser, n->greater}) {
            if (!c) continue;
            if (c->parent != n) return ::testing::AssertionFailure() << "a child names another parent";
            todo.push_back(c);
        }
    }
    if (seen != m.count()) return ::testing::AssertionFailure() << seen << " nodes, count() says " << m.count();
    return ::testing::AssertionSuccess();
}

template <typename K, typename V>
std::vector<K> keysInOrder(const cFasterTreeList<K, V>& m) {
    std::vector<K> out;
    for (auto* n = m.first(); n; n = m.next(n)) out.push_back(n->key);
    return out;
}
template <typename K, typename V>
std::vector<K> keysInReverse(const cFasterTreeList<K, V>& m) {
    std::vector<K> out;
    for (auto* n = m.last(); n; n = m.prev(n)) out.push_back(n->key);
    return out;
}

std::vector<int> range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

IntItem* nodeOf(IntMap& m, int key) { return m.ifind_rec(m.root(), key); }

// A value that counts the live instances, so that tests can prove every
// value is destroyed exactly once.
struct Counted {
    static int live;
    Counted() { ++live; }
    ~Counted() { --live; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    int payload = 7;
};
int Counted::live = 0;

// ---- the insertion rule's shapes ----------------------------------------------

TEST(TreeMapShape, KeysOneToSevenAscendingGiveAPerfectTreeRootedAtFour) {
    IntMap m;
    for (int k : range(1, 7)) *m.insert(k) = k * 10;
    IntItem* r = m.root();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->key, 4);
    ASSERT_NE(r->lesser, nullptr);
    ASSERT_NE(r->greater, nullptr);
    EXPECT_EQ(r->lesser->key, 2);
    EXPECT_EQ(r->greater->key, 6);
    EXPECT_EQ(r->lesser->lesser->key, 1);
    EXPECT_EQ(r->lesser->greater->key, 3);
    EXPECT_EQ(r->greater->lesser->key, 5);
    EXPECT_EQ(r->greater->greater->key, 7);
    EXPECT_EQ(height(m), 3);
    EXPECT_TRUE(linksAreSound(m));
}

TEST(TreeMapShape, KeysSevenDownToOneGiveTheSameShapeAsOneToSeven) {
    IntMap up, down;
    for (int k : range(1, 7)) up.insert(k);
    for (int k = 7; k >= 1; --k) down.insert(k);
    // Same keys at the same places: compare the trees level by level.
    std::vector<std::pair<const IntItem*, const IntItem*> > todo{{up.root(), down.root()}};
    while (!todo.empty()) {
        auto [a, b] = todo.back();
        todo.pop_back();
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (!a) continue;
        EXPECT_EQ(a->key, b->key);
        todo.push_back({a->lesser, b->lesser});
        todo.push_back({a->greater, b->greater});
    }
}

TEST(TreeMapShape, KeysOneToFifteenGiveHeightFourRootedAtEight) {
    IntMap m;
    for (int k : range(1, 15)) m.insert(k);
    EXPECT_EQ(m.root()->key, 8);
    EXPECT_EQ(height(m), 4);
    EXPECT_EQ(m.root()->lesser->key, 4);
    EXPECT_EQ(m.root()->greater->key, 12);
}

TEST(TreeMapShape, KeysOneToFourLeaveTheFlagOnThree) {
    IntMap m;
    for (int k : range(1, 4)) m.insert(k);
    IntItem* r = m.root();
    EXPECT_EQ(r->key, 2);
    EXPECT_EQ(r->lesser->key, 1);
    ASSERT_EQ(r->greater->key, 3);
    EXPECT_EQ(r->greater->lesser, nullptr);
    ASSERT_NE(r->greater->greater, nullptr);
    EXPECT_EQ(r->greater->greater->key, 4);
    EXPECT_EQ(r->greater->flag, 1);
    EXPECT_EQ(r->flag, 0);
    EXPECT_EQ(r->lesser->flag, 0);
    EXPECT_EQ(r->greater->greater->flag, 0);
}

TEST(TreeMapShape, OneTwoThreeRotatesAndClearsFlagsWhileTwoOneThreeKeepsTheRootFlag) {
    IntMap rotated, direct;
    for (int k : {1, 2, 3}) rotated.insert(k);
    for (int k : {2, 1, 3}) direct.insert(k);
    for (IntMap* m : {&rotated, &direct}) {
        EXPECT_EQ(m->root()->key, 2);
        EXPECT_EQ(m->root()->lesser->key, 1);
        EXPECT_EQ(m->root()->greater->key, 3);
        EXPECT_EQ(m->root()->lesser->flag, 0);
        EXPECT_EQ(m->root()->greater->flag, 0);
    }
    EXPECT_EQ(rotated.root()->flag, 0);
    EXPECT_EQ(direct.root()->flag, 1);
}

TEST(TreeMapShape, OneToThousandAscendingReachesHeightFifteenWithoutRebuilding) {
    IntMap m;
    for (int k : range(1, 1000)) m.insert(k);
    EXPECT_EQ(height(m), 15);
    EXPECT_EQ(m.rebuiltNodes(), 0u);
    EXPECT_EQ(keysInOrder(m), range(1, 1000));
}

TEST(TreeMapShape, SortedInputOfTwoToTheKMinusOneKeysIsPerfectAndNeverRebuilt) {
    for (int k = 1; k <= 14; ++k) {
        IntMap up, down;
        const int n = (1 << k) - 1;
        for (int i = 1; i <= n; ++i) up.insert(i);
        for (int i = n; i >= 1; --i) down.insert(i);
        EXPECT_EQ(height(up), k) << n << " ascending";
        EXPECT_EQ(height(down), k) << n << " descending";
        EXPECT_EQ(up.rebuiltNodes() + down.rebuiltNodes(), 0u) << n;
        EXPECT_EQ(up.root()->key, 1 << (k - 1));
    }
}

// ---- insert and find ----------------------------------------------------------

TEST(TreeMapInsert, AnExistingKeyGivesTheSameSlotAndKeepsItsValue) {
    Counted::live = 0;
    {
        cFasterTreeList<int, Counted> m;
        Counted* first = m.insert(5);
        first->payload = 42;
        EXPECT_EQ(Counted::live, 1);
        Counted* again = m.insert(5);
        EXPECT_EQ(again, first);
        EXPECT_EQ(again->payload, 42);
        EXPECT_EQ(m.count(), 1u);
        EXPECT_EQ(Counted::live, 1);  // the second node's value was destroyed
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(TreeMapInsert, PlainValuesStartZeroed) {
    struct sRecord {
        int a;
        double b;
        void* p;
        char text[13];
    };
    cFasterTreeList<int, sRecord> m;
    for (int k = 0; k < 100; ++k) {
        sRecord* r = m.insert(k);
        EXPECT_EQ(r->a, 0);
        EXPECT_EQ(r->b, 0.0);
        EXPECT_EQ(r->p, nullptr);
        EXPECT_EQ(std::string(r->text, 13), std::string(13, '\0'));
        r->a = -1;
        r->p = r;
    }
    // Slots of removed entries come back for new ones: still zeroed.
    for (int k = 0; k < 100; k += 2) m.dettach(k);
    for (int k = 100; k < 150; ++k) EXPECT_EQ(m.insert(k)->a, 0);
}

TEST(TreeMapInsert, OverAlignedValuesGetAlignedSlots) {
    struct alignas(64) sWide {
        unsigned char bytes[64];
    };
    cFasterTreeList<int, sWide> m;
    for (int k = 0; k < 300; ++k) {
        sWide* w = m.insert(k * 7 % 301);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w) % 64, 0u);
        w->bytes[63] = 1;
    }
}

TEST(TreeMapInsert, TheInsertionStepLeavesTheRootLevelRotationToItsCaller) {
    IntMap m;
    m.insert(1);
    m.insert(2);  // 1 is flagged: it got a child and has no parent
    EXPECT_EQ(m.root()->flag, 1);
    char signal = 7;
    IntItem* three = m.insert_itm(m.root(), m.makeItem(3), signal);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->key, 3);
    // 3 hangs under 2, whose parent is flagged: the level above the root
    // has to rotate, which insert_itm leaves undone.
    EXPECT_EQ(signal, 1);
    EXPECT_EQ(m.root()->key, 1);
    EXPECT_EQ(m.root()->greater->greater, three);
    EXPECT_EQ(m.count(), 3u);
    EXPECT_TRUE(linksAreSound(m));
    IntItem* again = m.insert_itm(m.root(), m.makeItem(2), signal);
    EXPECT_EQ(again, m.root()->greater);
    EXPECT_EQ(signal, 0);
    EXPECT_EQ(m.count(), 3u);
    EXPECT_EQ(m.insert_itm(nullptr, nullptr, signal), nullptr);
}

TEST(TreeMapFind, FindGivesTheSlotOrNull) {
    IntMap m;
    for (int k : {10, 20, 30}) *m.insert(k) = k + 1;
    ASSERT_NE(m.find(20), nullptr);
    EXPECT_EQ(*m.find(20), 21);
    EXPECT_EQ(m.find(25), nullptr);
    EXPECT_EQ(m.ifind_rec(nullptr, 20), nullptr);
    IntItem* thirty = nodeOf(m, 30);
    ASSERT_NE(thirty, nullptr);
    EXPECT_EQ(m.ifind_rec(thirty, 10), nullptr);  // only below `from`
    const IntMap& cm = m;
    EXPECT_EQ(*cm.find(10), 11);
    EXPECT_EQ(IntMap().find(1), nullptr);
}

TEST(TreeMapFind, FindLeAndFindGeOnTwoFourEight) {
    IntMap m;
    for (int k : {2, 4, 8}) m.insert(k);
    auto key = [](IntItem* n) { return n ? n->key : -1; };
    EXPECT_EQ(key(m.find_le(5)), 4);
    EXPECT_EQ(key(m.find_ge(5)), 8);
    EXPECT_EQ(m.find_le(1), nullptr);
    EXPECT_EQ(m.find_ge(9), nullptr);
    EXPECT_EQ(key(m.find_le(4)), 4);
    EXPECT_EQ(key(m.find_ge(4)), 4);
    EXPECT_EQ(key(m.find_le(100)), 8);
    EXPECT_EQ(key(m.find_ge(-100)), 2);
    EXPECT_EQ(IntMap().find_le(1), nullptr);
    EXPECT_EQ(IntMap().find_ge(1), nullptr);
}

TEST(TreeMapWalk, NextOfTheLastAndPrevOfTheFirstAreNull) {
    IntMap m;
    for (int k : {3, 1, 2}) m.insert(k);
    EXPECT_EQ(m.first()->key, 1);
    EXPECT_EQ(m.last()->key, 3);
    EXPECT_EQ(m.next(m.last()), nullptr);
    EXPECT_EQ(m.prev(m.first()), nullptr);
    EXPECT_EQ(m.next(nullptr), nullptr);
    EXPECT_EQ(m.prev(nullptr), nullptr);
    EXPECT_EQ(keysInReverse(m), (std::vector<int>{3, 2, 1}));
}

TEST(TreeMapWalk, AWalkGoesOnFromItsNodeAfterOtherEntriesChange) {
    IntMap m;
    for (int k = 0; k < 200; k += 2) m.insert(k);
    IntItem* at = nodeOf(m, 40);
    m.dettach(42);
    m.insert(41);
    m.insert(43);
    for (int k = 100; k < 140; k += 2) m.dettach(k);  // rebalances elsewhere
    for (int k = 1001; k < 1400; k += 3) m.insert(k);
    std::vector<int> seen;
    for (IntItem* n = at; n && n->key < 50; n = m.next(n)) seen.push_back(n->key);
    EXPECT_EQ(seen, (std::vector<int>{40, 41, 43, 44, 46, 48}));
}

// ---- removal ---------------------------------------------------------------

// Removes `key` from the keys 1..15 (a perfect tree) and checks that the
// others stay in order, reachable, and each at its old address.
void removeFromFifteen(int key, bool byItem) {
    IntMap m;
    for (int k : range(1, 15)) *m.insert(k) = k * 100;
    std::map<int, const int*> slots;
    for (int k : range(1, 15)) slots[k] = m.find(k);
    if (byItem)
        EXPECT_TRUE(m.dettach(nodeOf(m, key)));
    else
        EXPECT_TRUE(m.dettach(key));
    slots.erase(key);
    EXPECT_EQ(m.find(key), nullptr);
    EXPECT_TRUE(linksAreSound(m));
    std::vector<int> expected;
    for (auto& [k, slot] : slots) {
        expected.push_back(k);
        EXPECT_EQ(m.find(k), slot) << "key " << k << " moved";
        EXPECT_EQ(*slot, k * 100);
    }
    EXPECT_EQ(keysInOrder(m), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(keysInReverse(m), expected);
    EXPECT_EQ(m.rebuiltNodes(), 0u);  // nothing was rebuilt to remove it
}

TEST(TreeMapRemove, ALeafGoesAndTheRestStayInPlace) {
    removeFromFifteen(1, false);
    removeFromFifteen(15, true);
}

TEST(TreeMapRemove, ANodeWithOneChildGoesAndTheRestStayInPlace) {
    IntMap m;
    for (int k : range(1, 4)) *m.insert(k) = k;
    IntItem* three = nodeOf(m, 3);
    ASSERT_EQ(three->lesser, nullptr);  // 3 has only the child 4
    ASSERT_NE(three->greater, nullptr);
    const int* slot4 = m.find(4);
    const int* slot1 = m.find(1);
    EXPECT_TRUE(m.dettach(three));
    EXPECT_EQ(m.find(4), slot4);
    EXPECT_EQ(m.find(1), slot1);
    EXPECT_EQ(m.root()->greater->key, 4);
    EXPECT_EQ(keysInOrder(m), (std::vector<int>{1, 2, 4}));
    EXPECT_TRUE(linksAreSound(m));
}

TEST(TreeMapRemove, ANodeWithTwoChildrenGoesAndTheRestStayInPlace) {
    removeFromFifteen(4, false);   // its successor 5 is a leaf below 6
    removeFromFifteen(12, true);   // successor 13
    removeFromFifteen(14, false);  // successor 15 is its own greater child
}

TEST(TreeMapRemove, TheRootGoesAndTheRestStayInPlace) {
    removeFromFifteen(8, false);
    removeFromFifteen(8, true);
}

TEST(TreeMapRemove, RemovingTheRootOfALargeTreeRelinksWithoutRebuilding) {
    IntMap m;
    const int n = (1 << 14) - 1;
    for (int k = 1; k <= n; ++k) *m.insert(k) = k;
    std::vector<const int*> slots(n + 1);
    for (int k = 1; k <= n; ++k) slots[k] = m.find(k);
    unsigned long long before = m.rebuiltNodes();
    for (int round = 0; round < 8; ++round) {
        int key = m.root()->key;
        ASSERT_TRUE(m.dettach(m.root()));
        slots[key] = nullptr;
    }
    // Each removal relinks the root's successor; at most a few nodes near
    // where it was taken get rebalanced, never the root's 16,383-node subtree.
    EXPECT_LT(m.rebuiltNodes() - before, 64u);
    EXPECT_TRUE(linksAreSound(m));
    for (int k = 1; k <= n; ++k) {
        if (slots[k]) {
            ASSERT_EQ(m.find(k), slots[k]) << k;
        }
    }
    EXPECT_EQ(m.count(), static_cast<std::size_t>(n - 8));
}

TEST(TreeMapRemove, AnAbsentKeyOrANullItemIsRefused) {
    IntMap m;
    EXPECT_FALSE(m.dettach(1));
    m.insert(1);
    EXPECT_FALSE(m.dettach(2));
    EXPECT_FALSE(m.dettach(static_cast<IntItem*>(nullptr)));
    EXPECT_EQ(m.count(), 1u);
}

TEST(TreeMapRemove, RemovingTheOnlyEntryEmptiesTheMap) {
    IntMap m;
    m.insert(9);
    EXPECT_TRUE(m.dettach(9));
    EXPECT_EQ(m.root(), nullptr);
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(m.first(), nullptr);
    *m.insert(3) = 4;  // still usable
    EXPECT_EQ(*m.find(3), 4);
}

TEST(TreeMapRemove, ValuesAreDestroyedWithTheirEntries) {
    Counted::live = 0;
    {
        cFasterTreeList<int, Counted> m;
        for (int k = 0; k < 500; ++k) m.insert(k * 37 % 500);
        EXPECT_EQ(Counted::live, 500);
        for (int k = 0; k < 500; k += 3) m.dettach(k);
        EXPECT_EQ(Counted::live, 500 - 167);
        m.destroy();
        EXPECT_EQ(Counted::live, 0);
        for (int k = 0; k < 10; ++k) m.insert(k);
        EXPECT_EQ(Counted::live, 10);
    }
    EXPECT_EQ(Counted::live, 0);
}

// ---- destroy, rebuild, move -----------------------------------------------------

TEST(TreeMapDestroy, EmptyMapDoesNothingAndADestroyedMapTakesNewEntries) {
    IntMap m;
    m.destroy();
    EXPECT_EQ(m.root(), nullptr);
    for (int k = 0; k < 1000; ++k) m.insert(k);
    m.destroy();
    EXPECT_EQ(m.root(), nullptr);
    EXPECT_EQ(m.count(), 0u);
    EXPECT_EQ(m.depthLimit(), 512u);
    for (int k : {5, 3, 8}) *m.insert(k) = -k;
    EXPECT_EQ(keysInOrder(m), (std::vector<int>{3, 5, 8}));
    EXPECT_EQ(*m.find(8), -8);
}

TEST(TreeMapRebuild, RebuildTreeBalancesPerfectlyAndMovesNoNode) {
    IntMap m;
    std::mt19937 rng(3);
    std::vector<int> keys;
    for (int i = 0; i < 5000; ++i) keys.push_back(static_cast<int>(rng() % 100000));
    for (int k : keys) *m.insert(k) = k;
    std::map<int, const int*> slots;
    for (int k : keys) slots[k] = m.find(k);
    m.rebuild_tree();
    EXPECT_EQ(height(m), static_cast<int>(std::ceil(std::log2(m.count() + 1.0))));
    EXPECT_TRUE(linksAreSound(m));
    std::vector<int> expected;
    for (auto& [k, slot] : slots) {
        expected.push_back(k);
        ASSERT_EQ(m.find(k), slot);
    }
    EXPECT_EQ(keysInOrder(m), expected);
}

TEST(TreeMapRebuild, AVeryLowDepthLimitRebuildsButKeepsEveryKeyInOrder) {
    IntMap m(3);
    EXPECT_EQ(m.depthLimit(), 3u);
    std::map<int, const int*> slots;
    std::mt19937 rng(11);
    for (int i = 0; i < 400; ++i) {
        int k = static_cast<int>(rng() % 1000);
        int* v = m.insert(k);
        *v = k;
        slots.emplace(k, v);
        ASSERT_EQ(m.find(k), slots[k]);
    }
    EXPECT_GT(m.rebuiltNodes(), 0u);
    EXPECT_TRUE(linksAreSound(m));
    std::vector<int> expected;
    for (auto& [k, slot] : slots) {
        expected.push_back(k);
        ASSERT_EQ(m.find(k), slot);
    }
    EXPECT_EQ(keysInOrder(m), expected);
}

TEST(TreeMapRebuild, AnExistingKeyFoundDeeperThanTheLimitRebuildsToo) {
    IntMap m;
    for (int k : range(1, 100)) *m.insert(k) = k;
    const int* slot = m.find(1);
    m.setDepthLimit(2);
    EXPECT_EQ(m.insert(1), slot);  // 1 sits at depth 7
    EXPECT_EQ(m.rebuiltNodes(), 100u);
    EXPECT_EQ(*slot, 1);
    EXPECT_EQ(height(m), 7);
    EXPECT_EQ(keysInOrder(m), range(1, 100));
}

TEST(TreeMapMove, MovingTheMapKeepsEveryValueAtItsAddress) {
    IntMap a;
    for (int k = 0; k < 100; ++k) *a.insert(k) = k;
    const int* slot = a.find(50);
    IntMap b(std::move(a));
    EXPECT_EQ(a.root(), nullptr);
    EXPECT_EQ(b.find(50), slot);
    IntMap c;
    c.insert(-1);
    c = std::move(b);
    EXPECT_EQ(c.find(50), slot);
    EXPECT_EQ(c.find(-1), nullptr);
    EXPECT_EQ(c.count(), 100u);
    a.insert(1);  // the moved-from map is usable
    EXPECT_EQ(a.count(), 1u);
}

// ---- key types -----------------------------------------------------------------

enum eShade { kDark = -2, kMid = 0, kLight = 3 };

TEST(TreeMapKeys, DefaultDepthLimitsFollowTheKeySize) {
    EXPECT_EQ((cFasterTreeList<unsigned short, int>().depthLimit()), 256u);
    EXPECT_EQ((cFasterTreeList<int, int>().depthLimit()), 512u);
    EXPECT_EQ((cFasterTreeList<eShade, int>().depthLimit()), 512u);
    EXPECT_EQ((cFasterTreeList<unsigned int, int>().depthLimit()), 512u);
    EXPECT_EQ((cFasterTreeList<long long, int>().depthLimit()), 1024u);
    EXPECT_EQ((cFasterTreeList<unsigned long long, int>().depthLimit()), 1024u);
    EXPECT_EQ((cFasterTreeList<char*, int>().depthLimit()), 1024u);
    EXPECT_EQ((cFasterTreeList<IntMap*, int>().depthLimit()), 1024u);
    EXPECT_EQ((cFasterTreeList<cStringKey, int>().depthLimit()), 2048u);
    EXPECT_EQ((cFasterTreeList<cSerializedKey<unsigned long long>, int>().depthLimit()), 2048u);
    EXPECT_EQ((cFasterTreeList<cSerializedKey<cStringKey>, int>().depthLimit()), 3072u);
}

TEST(TreeMapKeys, SignedAndUnsignedKeysSortByTheirOwnArithmetic) {
    cFasterTreeList<int, int> s;
    for (int k : {5, -1, 0, -2147483647 - 1, 2147483647}) s.insert(k);
    EXPECT_EQ(keysInOrder(s), (std::vector<int>{-2147483647 - 1, -1, 0, 5, 2147483647}));

    cFasterTreeList<unsigned short, int> us;
    for (unsigned short k : {0xFFFF, 1, 0x8000, 0}) us.insert(k);
    EXPECT_EQ(keysInOrder(us), (std::vector<unsigned short>{0, 1, 0x8000, 0xFFFF}));

    cFasterTreeList<unsigned int, int> u;
    for (unsigned int k : {0x80000000u, 7u, 0xFFFFFFFFu}) u.insert(k);
    EXPECT_EQ(keysInOrder(u), (std::vector<unsigned int>{7u, 0x80000000u, 0xFFFFFFFFu}));

    cFasterTreeList<long long, int> ll;
    for (long long k : {1LL << 40, -(1LL << 40), 0LL}) ll.insert(k);
    EXPECT_EQ(keysInOrder(ll), (std::vector<long long>{-(1LL << 40), 0, 1LL << 40}));

    cFasterTreeList<unsigned long long, int> ull;
    for (unsigned long long k : {~0ULL, 3ULL, 1ULL << 63}) ull.insert(k);
    EXPECT_EQ(keysInOrder(ull), (std::vector<unsigned long long>{3ULL, 1ULL << 63, ~0ULL}));

    cFasterTreeList<eShade, int> e;
    for (eShade k : {kLight, kDark, kMid}) e.insert(k);
    EXPECT_EQ(keysInOrder(e), (std::vector<eShade>{kDark, kMid, kLight}));
}

TEST(TreeMapKeys, CharPointersAreComparedAsAddressesNeverAsText) {
    char first[] = "same";
    char second[] = "same";
    cFasterTreeList<char*, int> m;
    *m.insert(first) = 1;
    *m.insert(second) = 2;
    EXPECT_EQ(m.count(), 2u);
    EXPECT_EQ(*m.find(first), 1);
    EXPECT_EQ(*m.find(second), 2);
    std::vector<char*> expected{first, second};
    std::sort(expected.begin(), expected.end(), std::less<char*>());
    EXPECT_EQ(keysInOrder(m), expected);
}

TEST(TreeMapKeys, PointerKeysFollowAddressOrder) {
    std::vector<IntMap> maps(50);
    cFasterTreeList<IntMap*, int> m;
    std::vector<IntMap*> expected;
    for (std::size_t i = 0; i < maps.size(); ++i) {
        IntMap* p = &maps[(i * 17) % maps.size()];
        *m.insert(p) = static_cast<int>(i);
        expected.push_back(p);
    }
    std::sort(expected.begin(), expected.end(), std::less<IntMap*>());
    EXPECT_EQ(keysInOrder(m), expected);
}

std::string keyText(const cStringKey& k) {
    _typebuf<char> bytes;
    k.utf8(bytes);
    std::string s(bytes.data() ? bytes.data() : "", static_cast<std::size_t>(bytes.count()));
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

// std::string compares its bytes as unsigned char, a shorter prefix first:
// the order the string key promises.
TEST(TreeMapKeys, StringKeysIterateInByteOrderWithPrefixesFirst) {
    const char* fixed[] = {"b", "ab", "abc", "a", "", "abcd", "abcde", "\xC3\xA9t\xC3\xA9", "z", "Z", "\x7F", "\x80"};
    std::mt19937 rng(5);
    std::vector<std::string> texts(std::begin(fixed), std::end(fixed));
    const char alphabet[] = "aAbz09~\x01\x7F\x80\xC3\xA9\xFF";
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        std::size_t len = rng() % 11;
        for (std::size_t j = 0; j < len; ++j) s += alphabet[rng() % (sizeof(alphabet) - 1)];
        texts.push_back(s);
    }
    cFasterTreeList<cStringKey, _guardchar<char> > m;
    std::map<std::string, std::string> oracle;
    for (const std::string& t : texts) {
        m.insert(cStringKey(t.c_str(), static_cast<long long>(t.size())))->set(t.c_str());
        oracle[t] = t;
    }
    ASSERT_EQ(m.count(), oracle.size());
    auto* n = m.first();
    for (auto& [text, value] : oracle) {
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(keyText(n->key), text);
        EXPECT_STREQ(n->value.c_str(), value.c_str());
        n = m.next(n);
    }
    EXPECT_EQ(n, nullptr);
    EXPECT_STREQ(m.find(cStringKey("abc", -1))->c_str(), "abc");
    EXPECT_EQ(m.find(cStringKey("abcdef", -1)), nullptr);
}

TEST(TreeMapKeys, SerializedKeysOrderByKeyThenSignedSerial) {
    cFasterTreeList<cSerializedKey<cStringKey>, int> m;
    std::map<std::pair<std::string, int>, int> oracle;
    std::mt19937 rng(9);
    const char* words[] = {"row", "rows", "a", "", "\xE2\x82\xAC"};
    for (int i = 0; i < 2000; ++i) {
        std::string w = words[rng() % 5];
        int serial = static_cast<int>(rng() % 41) - 20;
        int* slot = m.insert(cSerializedKey<cStringKey>(cStringKey(w.c_str(), -1), serial));
        if (oracle.emplace(std::make_pair(w, serial), i).second) *slot = i;
    }
    ASSERT_EQ(m.count(), oracle.size());
    auto* n = m.first();
    for (auto& [key, value] : oracle) {
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(keyText(n->key.key), key.first);
        EXPECT_EQ(n->key.serial, key.second);
        EXPECT_EQ(n->value, value);
        n = m.next(n);
    }

    cFasterTreeList<cSerializedKey<unsigned long long>, int> u;
    for (int serial : {3, -3, 0}) u.insert(cSerializedKey<unsigned long long>(7ULL, serial));
    u.insert(cSerializedKey<unsigned long long>(~0ULL, -100));
    u.insert(cSerializedKey<unsigned long long>(1ULL, 100));
    std::vector<std::pair<unsigned long long, int> > got;
    for (auto* i = u.first(); i; i = u.next(i)) got.push_back({i->key.key, i->key.serial});
    EXPECT_EQ(got, (std::vector<std::pair<unsigned long long, int> >{{1, 100}, {7, -3}, {7, 0}, {7, 3}, {~0ULL, -100}}));
}

TEST(TreeMapValues, MapsOfMapsFreeEverythingTheyHold) {
    cFasterTreeList<int, cFasterTreeList<cStringKey, _guardchar<char> > > outer;
    for (int lang = 0; lang < 11; ++lang) {
        auto* table = outer.insert(lang);
        EXPECT_EQ(table->depthLimit(), 2048u);
        for (int i = 0; i < 50; ++i) {
            std::string id = "id" + std::to_string(i);
            table->insert(cStringKey(id.c_str(), -1))->set(("text " + std::to_string(lang)).c_str());
        }
    }
    EXPECT_STREQ(outer.find(3)->find(cStringKey("id7", -1))->c_str(), "text 3");
    EXPECT_TRUE(outer.dettach(3));
    EXPECT_EQ(outer.find(3), nullptr);
    EXPECT_EQ(outer.find(4)->count(), 50u);
    // The rest is freed by the destructor; the leak checker proves it.
}

// ---- failures ----------------------------------------------------------------

struct FragileKey {
    static bool failCopies;
    int v = 0;
    explicit FragileKey(int x) : v(x) {}
    FragileKey(const FragileKey& o) : v(o.v) {
        if (failCopies) throw std::bad_alloc();
    }
    FragileKey& operator=(const FragileKey&) = default;
    bool operator==(const FragileKey& o) const { return v == o.v; }
    bool operator<(const FragileKey& o) const { return v < o.v; }
    bool operator>(const FragileKey& o) const { return v > o.v; }
    bool operator<=(const FragileKey& o) const { return v <= o.v; }
};
bool FragileKey::failCopies = false;

struct FragileValue {
    static bool failNext;
    static int live;
    FragileValue() {
        if (failNext) {
            failNext = false;
            throw std::runtime_error("no value");
        }
        ++live;
    }
    ~FragileValue() { --live; }
};
bool FragileValue::failNext = false;
int FragileValue::live = 0;

TEST(TreeMapFailure, AKeyCopyThatThrowsLeavesTheMapUnchanged) {
    cFasterTreeList<FragileKey, int> m;
    for (int k = 0; k < 20; ++k) *m.insert(FragileKey(k)) = k;
    const int* slot = m.find(FragileKey(10));
    FragileKey::failCopies = true;
    EXPECT_THROW(m.insert(FragileKey(100)), std::bad_alloc);
    // An existing key is found before any node or key copy is made.
    EXPECT_EQ(m.insert(FragileKey(10)), slot);
    FragileKey::failCopies = false;
    EXPECT_EQ(m.count(), 20u);
    EXPECT_EQ(m.find(FragileKey(100)), nullptr);
    EXPECT_EQ(m.find(FragileKey(10)), slot);
    EXPECT_TRUE(linksAreSound(m));
    *m.insert(FragileKey(100)) = 100;
    EXPECT_EQ(m.count(), 21u);
}

TEST(TreeMapFailure, AValueConstructorThatThrowsLeavesTheMapUnchanged) {
    FragileValue::live = 0;
    {
        cFasterTreeList<int, FragileValue> m;
        for (int k = 0; k < 20; ++k) m.insert(k);
        FragileValue::failNext = true;
        EXPECT_THROW(m.insert(50), std::runtime_error);
        EXPECT_EQ(m.count(), 20u);
        EXPECT_EQ(FragileValue::live, 20);
        EXPECT_EQ(m.find(50), nullptr);
        EXPECT_TRUE(linksAreSound(m));
    }
    EXPECT_EQ(FragileValue::live, 0);
}

TEST(TreeMapFailure, LinkingAPreparedNodeWithAKnownKeyFreesTheNode) {
    Counted::live = 0;
    {
        cFasterTreeList<int, Counted> m;
        m.insert(1)->payload = 11;
        auto* fresh = m.makeItem(1);
        EXPECT_EQ(Counted::live, 2);
        auto* got = m.insert_id(fresh);
        EXPECT_EQ(got, m.ifind_rec(m.root(), 1));
        EXPECT_EQ(got->value.payload, 11);
        EXPECT_EQ(Counted::live, 1);
        auto* two = m.insert_id(m.makeItem(2));
        EXPECT_EQ(two->key, 2);
        EXPECT_EQ(m.count(), 2u);
        EXPECT_EQ(m.insert_id(nullptr), nullptr);
    }
    EXPECT_EQ(Counted::live, 0);
}

// ---- cost on adversarial orders --------------------------------------------------
//
// The work of an insertion is its insertion depth: the nodes its descent
// visited plus the nodes any rebuild relinked.  Summed over n insertions it
// must stay within a small multiple of n log2 n for every order, and the
// tree's height within the weight-balance bound.

std::vector<int> order(const std::string& name, int n) {
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) {
        if (name == "ascending") v[i] = i;
        if (name == "descending") v[i] = n - i;
        if (name == "low-high") v[i] = i % 2 ? i / 2 : 2000000000 - i / 2;
        if (name == "zig-zag") v[i] = i ^ 1;  // 1 0 3 2 5 4 ...
        if (name == "triples") v[i] = i / 3 * 3 + 2 - i % 3;  // 2 1 0 5 4 3 ...
        if (name == "middle-out") v[i] = n / 2 + (i + 1) / 2 * (i % 2 ? 1 : -1);
        if (name == "sawtooth") v[i] = i % 100 * 100000 + i / 100;
        if (name == "bit-reversed") {
            unsigned r = 0;
            for (unsigned x = static_cast<unsigned>(i), b = 1; b < static_cast<unsigned>(n); b <<= 1, x >>= 1)
                r = r << 1 | (x & 1);
            v[i] = static_cast<int>(r);
        }
        if (name == "random") v[i] = i;
    }
    if (name == "random") std::shuffle(v.begin(), v.end(), std::mt19937(1));
    return v;
}

const char* const kOrders[] = {"ascending",  "descending", "low-high",     "zig-zag", "triples",
                               "middle-out", "sawtooth",   "bit-reversed", "random"};

unsigned long long insertionWork(IntMap& m, const std::vector<int>& keys) {
    unsigned long long work = 0;
    for (int k : keys) {
        m.insert(k);
        work += m.insertionDepth();
    }
    return work;
}

TEST(TreeMapCost, NoInsertionOrderCostsMoreThanLogarithmicWork) {
    const int n = 1 << 15;
    for (const char* name : kOrders) {
        IntMap m;
        unsigned long long work = insertionWork(m, order(name, n));
        EXPECT_LE(work, 3ULL * n * 15) << name;
        EXPECT_LE(height(m), heightBound(n)) << name;
        EXPECT_EQ(m.count(), static_cast<std::size_t>(n)) << name;
    }
}

TEST(TreeMapCost, AlternatingLowAndHighKeysGrowLikeNLogN) {
    // Before the weight balance every insertion of this order hit the depth
    // limit and rebuilt the whole tree: the work grew with n squared.
    IntMap small, large;
    double perSmall = static_cast<double>(insertionWork(small, order("low-high", 1 << 12))) / (1 << 12);
    double perLarge = static_cast<double>(insertionWork(large, order("low-high", 1 << 17))) / (1 << 17);
    EXPECT_LT(perLarge / perSmall, 17.0 / 12.0 * 1.25);
    EXPECT_LE(height(large), heightBound(1 << 17));
}

TEST(TreeMapCost, ZigZagInsertionsCannotHideADeepChain) {
    // The bare rotation rule turned 1 0 3 2 5 4 ... into a chain of n / 2
    // levels that every insertion walked past in three steps.
    IntMap m;
    const int n = 20000;
    for (int k : order("zig-zag", n)) m.insert(k);
    EXPECT_LE(height(m), heightBound(n));
    unsigned long long lookupSteps = 0;
    for (int k = 0; k < n; ++k) {
        int depth = 0;
        for (IntItem* x = nodeOf(m, k); x; x = x->parent) ++depth;
        lookupSteps += depth;
    }
    EXPECT_LE(lookupSteps, static_cast<unsigned long long>(n) * 20);
}

TEST(TreeMapCost, RemovalsCostLogarithmicWorkAndKeepTheHeightBound) {
    for (const char* name : {"ascending", "low-high", "random", "middle-out"}) {
        const int n = 1 << 15;
        IntMap m;
        std::vector<int> keys = order(name, n);
        for (int k : keys) m.insert(k);
        unsigned long long before = m.rebuiltNodes();
        // Remove every other key in insertion order, then the rest backwards.
        for (int i = 0; i < n; i += 2) ASSERT_TRUE(m.dettach(keys[i]));
        EXPECT_LE(height(m), heightBound(m.count())) << name;
        for (int i = n - 1; i >= 1; i -= 2) {
            ASSERT_TRUE(m.dettach(keys[i]));
            if (i % 1024 == 1) {
                ASSERT_LE(height(m), heightBound(m.count())) << name;
            }
        }
        EXPECT_TRUE(m.empty());
        EXPECT_LE(m.rebuiltNodes() - before, 2ULL * n * 15) << name;
    }
}

// ---- differential test against std::map --------------------------------------------

// Runs `ops` random operations on the map and on std::map and compares every
// answer; every `checkEvery` operations the whole map is walked both ways and
// compared, parent links included, and each value must still be at the
// address its insertion returned.
template <typename K, typename Gen>
void differential(unsigned seed, int ops, Gen makeKey, unsigned depthLimit = 0, int checkEvery = 1000) {
    using Map = cFasterTreeList<K, long long>;
    using Item = typename Map::cTreeItem;
    Map m;
    if (depthLimit) m.setDepthLimit(depthLimit);
    std::map<K, std::pair<long long*, long long> > ref;
    std::mt19937_64 rng(seed);

    auto fullCheck = [&] {
        ASSERT_TRUE(linksAreSound(m));
        ASSERT_EQ(m.count(), ref.size());
        Item* n = m.first();
        for (auto& [key, slot] : ref) {
            ASSERT_NE(n, nullptr);
            ASSERT_TRUE(n->key == key);
            ASSERT_EQ(&n->value, slot.first);
            ASSERT_EQ(n->value, slot.second);
            n = m.next(n);
        }
        ASSERT_EQ(n, nullptr);
        n = m.last();
        for (auto it = ref.rbegin(); it != ref.rend(); ++it) {
            ASSERT_NE(n, nullptr);
            ASSERT_EQ(&n->value, it->second.first);
            n = m.prev(n);
        }
        ASSERT_EQ(n, nullptr);
        if (!depthLimit) {
            ASSERT_LE(height(m), heightBound(m.count()));
        }
    };

    for (int op = 0; op < ops; ++op) {
        K key = makeKey(rng);
        unsigned what = static_cast<unsigned>(rng() % 20);
        if (what < 8) {  // insert
            long long* slot = m.insert(key);
            ASSERT_NE(slot, nullptr);
            auto it = ref.find(key);
            if (it != ref.end()) {
                ASSERT_EQ(slot, it->second.first);
                ASSERT_EQ(*slot, it->second.second);
            } else {
                ASSERT_EQ(*slot, 0);
                long long v = static_cast<long long>(rng() >> 1) + 1;
                *slot = v;
                ref.emplace(key, std::make_pair(slot, v));
            }
        } else if (what < 10) {  // find
            long long* slot = m.find(key);
            auto it = ref.find(key);
            ASSERT_EQ(slot, it == ref.end() ? nullptr : it->second.first);
        } else if (what < 12) {  // find_le, find_ge
            Item* le = m.find_le(key);
            auto up = ref.upper_bound(key);
            if (up == ref.begin()) {
                ASSERT_EQ(le, nullptr);
            } else {
                ASSERT_NE(le, nullptr);
                ASSERT_EQ(&le->value, std::prev(up)->second.first);
            }
            Item* ge = m.find_ge(key);
            auto lo = ref.lower_bound(key);
            if (lo == ref.end()) {
                ASSERT_EQ(ge, nullptr);
            } else {
                ASSERT_NE(ge, nullptr);
                ASSERT_EQ(&ge->value, lo->second.first);
            }
        } else if (what < 14) {  // next and prev of an existing node
            auto lo = ref.lower_bound(key);
            if (lo == ref.end()) continue;
            Item* n = m.find_ge(key);
            ASSERT_NE(n, nullptr);
            Item* nx = m.next(n);
            auto after = std::next(lo);
            ASSERT_EQ(nx ? &nx->value : nullptr, after == ref.end() ? nullptr : after->second.first);
            Item* pv = m.prev(n);
            ASSERT_EQ(pv ? &pv->value : nullptr, lo == ref.begin() ? nullptr : std::prev(lo)->second.first);
        } else if (what < 17) {  // dettach by key
            bool removed = m.dettach(key);
            ASSERT_EQ(removed, ref.erase(key) == 1);
        } else {  // dettach by item
            Item* n = m.find_ge(key);
            if (!n) {
                ASSERT_FALSE(m.dettach(n));
                continue;
            }
            K k = n->key;
            ASSERT_TRUE(m.dettach(n));
            ASSERT_EQ(ref.erase(k), 1u);
        }
        if (op % checkEvery == 0) {
            fullCheck();
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
    fullCheck();
}

TEST(TreeMapDifferential, IntKeysAgreeWithStdMap) {
    for (unsigned seed : {1u, 2u, 3u}) {
        differential<int>(seed, 120000, [](std::mt19937_64& r) { return static_cast<int>(r() % 6000) - 3000; });
        if (HasFatalFailure()) return;
    }
}

TEST(TreeMapDifferential, ClusteredIntKeysAgreeWithStdMap) {
    // Runs of ascending keys at shifting places: the rule's rotations and the
    // rebuilds both get their turn.
    int next = 0;
    differential<int>(4, 80000, [&next](std::mt19937_64& r) {
        if (r() % 16 == 0) next = static_cast<int>(r() % 20000);
        return next++;
    });
}

TEST(TreeMapDifferential, WideUnsignedKeysAgreeWithStdMap) {
    for (unsigned seed : {5u, 6u}) {
        differential<unsigned long long>(seed, 60000, [](std::mt19937_64& r) {
            unsigned long long k = r() % 4000;
            return (k << 52) | (k * 0x9E3779B97F4A7C15ULL >> 12);  // top bit set for half
        });
        if (HasFatalFailure()) return;
    }
}

TEST(TreeMapDifferential, UnsignedShortKeysAgreeWithStdMap) {
    differential<unsigned short>(7, 60000, [](std::mt19937_64& r) { return static_cast<unsigned short>(r() % 3000 * 21); });
}

TEST(TreeMapDifferential, StringKeysAgreeWithStdMap) {
    static const char* const stems[] = {"", "a", "ab", "abcd", "abcde", "z", "\xC3\xA9", "\xFF"};
    differential<cStringKey>(8, 40000, [](std::mt19937_64& r) {
        std::string s = stems[r() % 8];
        s += std::to_string(r() % 400);
        return cStringKey(s.c_str(), static_cast<long long>(s.size()));
    });
}

TEST(TreeMapDifferential, SerializedKeysAgreeWithStdMap) {
    differential<cSerializedKey<unsigned long long> >(9, 40000, [](std::mt19937_64& r) {
        return cSerializedKey<unsigned long long>(r() % 50, static_cast<int>(r() % 80) - 40);
    });
}

TEST(TreeMapDifferential, AVeryLowDepthLimitAgreesWithStdMap) {
    differential<int>(10, 40000, [](std::mt19937_64& r) { return static_cast<int>(r() % 150); }, 3, 200);
}

}  // namespace
