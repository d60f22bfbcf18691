#include "base/treelist.h"

#include "base/buffers.h"
#include "base/serializedkey.h"
#include "base/strkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
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

template <typename K, typename V>
int height(const typename cFasterTreeList<K, V>::cTreeItem* n) {
    return n ? 1 + std::max(height<K, V>(n->lesser), height<K, V>(n->greater)) : 0;
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
    if (m.root() && m.root()->parent) return ::testing::AssertionFailure() << "the root has a parent";
    std::vector<const Item*> todo;
    if (m.root()) todo.push_back(m.root());
    std::size_t seen = 0;
    while (!todo.empty()) {
        const Item* n = todo.back();
        todo.pop_back();
        ++seen;
        for (const Item* c : {n->lesser, n->greater}) {
            if (c && c->parent != n) return ::testing::AssertionFailure() << "a child names another parent";
            if (c) todo.push_back(c);
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

IntItem* nodeOf(IntMap& m, int key) { return m.ifind_rec(m.root(), key); }

// A value that counts the live instances, so that tests can prove every
// value is destroyed exactly once.
struct Counted {
    static int live;
    static bool failNext;  // the next construction throws
    Counted() {
        if (failNext) {
            failNext = false;
            throw std::runtime_error("no value");
        }
        ++live;
    }
    ~Counted() { --live; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    int payload = 7;
};
int Counted::live = 0;
bool Counted::failNext = false;

// Lookups and walks of random maps are compared with std::map below; these
// are what a random run does not reach: empty maps, null nodes, subtree
// lookups, aligned slots, destroy, rebuild, moves and a low depth limit.
TEST(TreeMapLifecycle, SlotsStayPutThroughDestroyRebuildAndMoveAndValuesDieOnce) {
    IntMap m;
    EXPECT_EQ(m.find_le(1), nullptr);
    EXPECT_EQ(m.find_ge(1), nullptr);
    EXPECT_EQ(m.first(), nullptr);
    EXPECT_EQ(m.last(), nullptr);
    EXPECT_FALSE(m.dettach(1));
    EXPECT_FALSE(m.dettach(static_cast<IntItem*>(nullptr)));
    for (int k : {2, 4, 8}) *m.insert(k) = k + 1;
    EXPECT_EQ(*static_cast<const IntMap&>(m).find(2), 3);
    EXPECT_EQ(m.ifind_rec(nullptr, 4), nullptr);
    EXPECT_EQ(m.ifind_rec(nodeOf(m, 8), 2), nullptr);  // only below `from`
    EXPECT_EQ(m.next(nullptr), nullptr);
    EXPECT_EQ(m.prev(nullptr), nullptr);

    std::mt19937 rng(3);
    std::map<int, const int*> slots;
    for (int i = 0; i < 5000; ++i) {
        const int k = static_cast<int>(rng() % 100000);
        *m.insert(k) = k;
        slots[k] = m.find(k);
    }
    slots[2] = m.find(2), slots[4] = m.find(4), slots[8] = m.find(8);
    m.rebuild_tree();
    EXPECT_EQ(height(m), static_cast<int>(std::ceil(std::log2(m.count() + 1.0))));  // perfect
    IntMap moved(std::move(m)), assigned;
    assigned.insert(-1);
    assigned = std::move(moved);
    EXPECT_EQ(m.root(), nullptr);
    EXPECT_TRUE(linksAreSound(assigned));
    std::vector<int> expected;
    for (auto& [k, slot] : slots) {
        expected.push_back(k);
        ASSERT_EQ(assigned.find(k), slot) << k;
    }
    EXPECT_EQ(keysInOrder(assigned), expected);
    m.insert(1);  // the moved-from map is usable
    EXPECT_EQ(m.count(), 1u);

    // An existing key found deeper than the limit rebuilds too.
    IntMap low;
    for (int k = 1; k <= 100; ++k) *low.insert(k) = k;
    const int* slot = low.find(1);
    low.setDepthLimit(2);
    EXPECT_EQ(low.insert(1), slot);  // 1 sits at depth 7
    EXPECT_EQ(low.rebuiltNodes(), 100u);
    EXPECT_EQ(height(low), 7);

    struct alignas(64) sWide {
        unsigned char bytes[64];
    };
    cFasterTreeList<int, sWide> wide;
    for (int k = 0; k < 300; ++k) {
        sWide* w = wide.insert(k * 7 % 301);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w) % 64, 0u);
        w->bytes[63] = 1;
    }

    Counted::live = 0;
    {
        cFasterTreeList<int, Counted> c;
        c.destroy();  // empty: nothing
        for (int k = 0; k < 500; ++k) c.insert(k * 37 % 500);
        for (int k = 0; k < 500; k += 3) c.dettach(k);
        EXPECT_EQ(Counted::live, 500 - 167);
        c.destroy();
        EXPECT_EQ(Counted::live, 0);
        EXPECT_EQ(c.count(), 0u);
        for (int k : {5, 3, 8}) c.insert(k)->payload = -k;
        EXPECT_EQ(c.find(8)->payload, -8);
        EXPECT_EQ(Counted::live, 3);
    }
    EXPECT_EQ(Counted::live, 0);
}

enum eShade { kDark = -2, kMid = 0, kLight = 3 };

// The map walks its keys in std::less order and finds each one's own value.
template <typename K>
void expectStdLessOrder(std::vector<K> keys) {
    cFasterTreeList<K, int> m;
    for (std::size_t i = 0; i < keys.size(); ++i) *m.insert(keys[i]) = static_cast<int>(i);
    for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(*m.find(keys[i]), static_cast<int>(i)) << i;
    std::sort(keys.begin(), keys.end(), std::less<K>());
    EXPECT_EQ(keysInOrder(m), keys);
}

TEST(TreeMapKeys, NumbersEnumsAndPointersSortByTheirOwnArithmetic) {
    expectStdLessOrder<int>({5, -1, 0, INT_MIN, INT_MAX});
    expectStdLessOrder<unsigned short>({0xFFFF, 1, 0x8000, 0});
    expectStdLessOrder<unsigned int>({0x80000000u, 7u, 0xFFFFFFFFu});
    expectStdLessOrder<long long>({1LL << 40, -(1LL << 40), 0LL});
    expectStdLessOrder<unsigned long long>({~0ULL, 3ULL, 1ULL << 63});
    expectStdLessOrder<eShade>({kLight, kDark, kMid});
    // Two char pointers to the same text are two keys: addresses, never text.
    char first[] = "same", second[] = "same";
    expectStdLessOrder<char*>({second, first});
    std::vector<IntMap> maps(50);
    std::vector<IntMap*> pointers;
    for (std::size_t i = 0; i < maps.size(); ++i) pointers.push_back(&maps[(i * 17) % maps.size()]);
    expectStdLessOrder<IntMap*>(pointers);
}

std::string keyText(const cStringKey& k) {
    _typebuf<char> bytes;
    k.utf8(bytes);
    std::string s(bytes.data() ? bytes.data() : "", static_cast<std::size_t>(bytes.count()));
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
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
    using Row = std::pair<std::pair<std::string, int>, int>;
    std::vector<Row> walked;
    for (auto* n = m.first(); n; n = m.next(n)) walked.push_back({{keyText(n->key.key), n->key.serial}, n->value});
    EXPECT_EQ(walked, std::vector<Row>(oracle.begin(), oracle.end()));

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

struct FragileKey {
    static bool failCopies;
    int v = 0;
    explicit FragileKey(int x) : v(x) {}
    FragileKey(const FragileKey& o) : v(o.v) {
        if (failCopies) throw std::bad_alloc();
    }
    FragileKey& operator=(const FragileKey&) = default;
    bool operator==(const FragileKey& o) const { return v == o.v; }
    bool operator>(const FragileKey& o) const { return v > o.v; }
};
bool FragileKey::failCopies = false;

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
    Counted::live = 0;
    {
        cFasterTreeList<int, Counted> m;
        for (int k = 0; k < 20; ++k) m.insert(k);
        Counted::failNext = true;
        EXPECT_THROW(m.insert(50), std::runtime_error);
        EXPECT_EQ(m.count(), 20u);
        EXPECT_EQ(Counted::live, 20);
        EXPECT_EQ(m.find(50), nullptr);
        EXPECT_TRUE(linksAreSound(m));
    }
    EXPECT_EQ(Counted::live, 0);
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

// The levels a lookup of every key walks, summed.
unsigned long long lookupSteps(const IntItem* n, unsigned long long depth = 1) {
    return n ? depth + lookupSteps(n->lesser, depth + 1) + lookupSteps(n->greater, depth + 1) : 0;
}

TEST(TreeMapCost, NoInsertionOrderCostsMoreThanLogarithmicWork) {
    // The bare rotation rule turned zig-zag (1 0 3 2 5 4 ...) into a chain of
    // n / 2 levels that every insertion walked past in three steps: the
    // lookups, not only the height, stay within 1.4 log2 n levels on average.
    const int n = 1 << 15;
    for (const char* name : kOrders) {
        IntMap m;
        unsigned long long work = insertionWork(m, order(name, n));
        EXPECT_LE(work, 3ULL * n * 15) << name;
        EXPECT_LE(height(m), heightBound(n)) << name;
        EXPECT_LE(lookupSteps(m.root()), 21ULL * n) << name;
        EXPECT_EQ(m.count(), static_cast<std::size_t>(n)) << name;
    }
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

// ---- insertions at the ends ------------------------------------------------------
//
// insert() extends a known spine for keys past either end and counts the
// upper levels of that spine lazily.  insert_id() always descends from the
// root, so a twin map filled through it must come out node for node the same:
// the same keys in the same places with the same balance flags, whatever
// other changes came in between.

template <typename K, typename V>
::testing::AssertionResult sameShape(const typename cFasterTreeList<K, V>::cTreeItem* a,
                                     const typename cFasterTreeList<K, V>::cTreeItem* b) {
    using Item = typename cFasterTreeList<K, V>::cTreeItem;
    std::vector<std::pair<const Item*, const Item*> > todo{{a, b}};
    while (!todo.empty()) {
        auto [x, y] = todo.back();
        todo.pop_back();
        if (!x || !y) {
            if (x || y) return ::testing::AssertionFailure() << "a subtree is missing on one side";
            continue;
        }
        if (!(x->key == y->key) || x->flag != y->flag)
            return ::testing::AssertionFailure() << "the trees differ at key " << x->key;
        todo.push_back({x->lesser, y->lesser});
        todo.push_back({x->greater, y->greater});
    }
    return ::testing::AssertionSuccess();
}

TEST(TreeMapEnds, SortedInsertionsBuildTheTreeADescentBuildsThroughEveryOtherChange) {
    // What comes next: a key past the greatest, one below the least, a random
    // one, a removal, or a whole-tree rebuild; each script weights them.
    struct sScript {
        const char* name;
        int up, down, random, removal, rebuild;
    };
    const sScript scripts[] = {
        {"ascending", 1, 0, 0, 0, 0},          {"descending", 0, 1, 0, 0, 0},
        {"mostly up", 60, 0, 2, 1, 0},         {"mostly down", 0, 60, 2, 1, 0},
        {"both ends", 30, 30, 1, 1, 0},        {"up, removals", 20, 0, 0, 6, 0},
        {"up, rebuilds", 200, 0, 1, 1, 1},     {"flipping ends", 1, 1, 0, 0, 0},
    };
    for (const sScript& sc : scripts) {
        SCOPED_TRACE(sc.name);
        IntMap m, twin;
        std::map<int, int*> ref;
        std::mt19937 rng(11);
        int hi = 0, lo = 0;
        const int total = sc.up + sc.down + sc.random + sc.removal + sc.rebuild;
        for (int op = 0; op < 40000; ++op) {
            int pick = static_cast<int>(rng() % total);
            int key;
            if ((pick -= sc.up) < 0) {
                key = hi += 1 + static_cast<int>(rng() % 3);
            } else if ((pick -= sc.down) < 0) {
                key = lo -= 1 + static_cast<int>(rng() % 3);
            } else if ((pick -= sc.random) < 0) {
                key = lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
            } else if ((pick -= sc.removal) < 0) {
                key = lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
                ASSERT_EQ(m.dettach(key), ref.erase(key) == 1);
                twin.dettach(key);
                continue;
            } else {
                m.rebuild_tree();
                twin.rebuild_tree();
                continue;
            }
            // Now and then a known key at an end comes again.
            if (rng() % 50 == 0 && !ref.empty()) key = rng() % 2 ? ref.rbegin()->first : ref.begin()->first;
            int* slot = m.insert(key);
            auto [it, added] = ref.emplace(key, slot);
            ASSERT_EQ(slot, it->second) << key;
            if (added) *slot = key;
            ASSERT_EQ(*slot, key);
            ASSERT_EQ(twin.insert_id(twin.makeItem(key))->key, key);
            ASSERT_EQ(m.count(), ref.size());
            if (op % 1999 == 0 || op < 300) {
                ASSERT_TRUE((sameShape<int, int>(m.root(), twin.root()))) << "after " << op << " changes";
                ASSERT_TRUE(linksAreSound(m));
            }
        }
        ASSERT_TRUE((sameShape<int, int>(m.root(), twin.root())));
        ASSERT_EQ(m.count(), twin.count());
        EXPECT_LE(height(m), heightBound(m.count()));
        std::vector<int> expected;
        for (auto& [k, slot] : ref) {
            expected.push_back(k);
            ASSERT_EQ(m.find(k), slot);
        }
        EXPECT_EQ(keysInOrder(m), expected);
        // A move takes the known spine along, and both maps go on from there.
        IntMap moved(std::move(m));
        for (int k = 1; k <= 3000; ++k) {
            moved.insert(hi + k);
            twin.insert_id(twin.makeItem(hi + k));
            m.insert(k);
        }
        EXPECT_TRUE((sameShape<int, int>(moved.root(), twin.root())));
        EXPECT_EQ(moved.count(), twin.count());
        EXPECT_EQ(m.count(), 3000u);
        EXPECT_TRUE(linksAreSound(m));
    }

    // A tree that insert_itm() (the rule alone) left far out of weight
    // balance, keys alternating low and high: the insertions past its end
    // must go on mending it as descents would.
    IntMap m, twin;
    for (IntMap* t : {&m, &twin}) {
        for (int k = 0; k < 3000; ++k) {
            char signal;
            const int key = k % 2 ? 2999 - k / 2 : k / 2;
            if (!t->root())
                t->insert_id(t->makeItem(key));
            else
                t->insert_itm(t->root(), t->makeItem(key), signal);
        }
    }
    for (int k = 3000; k < 6000; ++k) {
        m.insert(k);
        twin.insert_id(twin.makeItem(k));
        ASSERT_TRUE((sameShape<int, int>(m.root(), twin.root()))) << k;
    }
    EXPECT_EQ(m.count(), 6000u);
}

// Runs `ops` random operations on the map and on std::map and compares every
// answer; every `checkEvery` operations the whole map is walked both ways and
// compared, parent links included, and each value must still be at the
// address its insertion returned.
template <typename K, typename Gen>
void differential(unsigned seed, int ops, Gen makeKey, unsigned depthLimit = 0, int checkEvery = 1000) {
    using Map = cFasterTreeList<K, long long>;
    using Item = typename Map::cTreeItem;
    using Ref = std::map<K, std::pair<long long*, long long> >;
    Map m(depthLimit ? depthLimit : Map::defaultDepthLimit);
    Ref ref;
    std::mt19937_64 rng(seed);
    auto slotOf = [](Item* n) { return n ? &n->value : nullptr; };
    auto refSlot = [&ref](typename Ref::iterator it) { return it == ref.end() ? nullptr : it->second.first; };

    auto fullCheck = [&] {
        ASSERT_TRUE(linksAreSound(m));
        ASSERT_EQ(m.count(), ref.size());
        Item* n = m.first();
        for (auto& [key, slot] : ref) {
            ASSERT_TRUE(n && n->key == key && &n->value == slot.first && n->value == slot.second);
            n = m.next(n);
        }
        ASSERT_EQ(n, nullptr);
        n = m.last();
        for (auto it = ref.rbegin(); it != ref.rend(); ++it, n = m.prev(n)) ASSERT_EQ(slotOf(n), it->second.first);
        ASSERT_EQ(n, nullptr);
        ASSERT_TRUE(depthLimit || height(m) <= heightBound(m.count()));
    };

    for (int op = 0; op < ops; ++op) {
        K key = makeKey(rng);
        unsigned what = static_cast<unsigned>(rng() % 20);
        if (what < 8) {  // insert: a known key keeps its slot and value, a new one starts zeroed
            long long* slot = m.insert(key);
            auto [it, added] = ref.emplace(key, std::make_pair(slot, 0LL));
            ASSERT_EQ(slot, it->second.first);
            ASSERT_EQ(*slot, it->second.second);
            if (added) *slot = it->second.second = static_cast<long long>(rng() >> 1) + 1;
        } else if (what < 10) {  // find
            ASSERT_EQ(m.find(key), refSlot(ref.find(key)));
        } else if (what < 12) {  // find_le, find_ge
            auto up = ref.upper_bound(key);
            ASSERT_EQ(slotOf(m.find_le(key)), up == ref.begin() ? nullptr : std::prev(up)->second.first);
            ASSERT_EQ(slotOf(m.find_ge(key)), refSlot(ref.lower_bound(key)));
        } else if (what < 14) {  // next and prev of an existing node
            auto lo = ref.lower_bound(key);
            if (lo == ref.end()) continue;
            Item* n = m.find_ge(key);
            ASSERT_EQ(slotOf(n), lo->second.first);
            ASSERT_EQ(slotOf(m.next(n)), refSlot(std::next(lo)));
            ASSERT_EQ(slotOf(m.prev(n)), lo == ref.begin() ? nullptr : std::prev(lo)->second.first);
        } else if (what < 17) {  // dettach by key
            ASSERT_EQ(m.dettach(key), ref.erase(key) == 1);
        } else {  // dettach by item
            Item* n = m.find_ge(key);
            K k = n ? n->key : key;
            ASSERT_EQ(m.dettach(n), n != nullptr);
            ASSERT_EQ(n ? ref.erase(k) : 1u, 1u);
        }
        if (op % checkEvery == 0) {
            fullCheck();
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
    fullCheck();
    EXPECT_TRUE(!depthLimit || m.rebuiltNodes() > 0);  // a low limit was reached and rebuilt
}

TEST(TreeMapDifferential, IntKeysAgreeWithStdMap) {
    for (unsigned seed : {1u, 2u, 3u}) {
        differential<int>(seed, 120000, [](std::mt19937_64& r) { return static_cast<int>(r() % 6000) - 3000; });
        if (HasFatalFailure()) return;
    }
    // Runs of ascending keys at shifting places: the rule's rotations and the
    // rebuilds both get their turn.
    int next = 0;
    differential<int>(4, 80000, [&next](std::mt19937_64& r) {
        if (r() % 16 == 0) next = static_cast<int>(r() % 20000);
        return next++;
    });
    if (HasFatalFailure()) return;
    // A depth limit of 3: rebuilds all the time.
    differential<int>(10, 40000, [](std::mt19937_64& r) { return static_cast<int>(r() % 150); }, 3, 200);
}

TEST(TreeMapDifferential, UnsignedKeysOfBothWidthsAgreeWithStdMap) {
    for (unsigned seed : {5u, 6u}) {
        differential<unsigned long long>(seed, 60000, [](std::mt19937_64& r) {
            unsigned long long k = r() % 4000;
            return (k << 52) | (k * 0x9E3779B97F4A7C15ULL >> 12);  // top bit set for half
        });
        if (HasFatalFailure()) return;
    }
    differential<unsigned short>(7, 60000, [](std::mt19937_64& r) { return static_cast<unsigned short>(r() % 3000 * 21); });
}

TEST(TreeMapDifferential, StringAndSerializedKeysAgreeWithStdMap) {
    static const char* const stems[] = {"", "a", "ab", "abcd", "abcde", "z", "\xC3\xA9", "\xFF"};
    differential<cStringKey>(8, 40000, [](std::mt19937_64& r) {
        std::string s = stems[r() % 8];
        s += std::to_string(r() % 400);
        return cStringKey(s.c_str(), static_cast<long long>(s.size()));
    });
    if (HasFatalFailure()) return;
    differential<cSerializedKey<unsigned long long> >(9, 40000, [](std::mt19937_64& r) {
        return cSerializedKey<unsigned long long>(r() % 50, static_cast<int>(r() % 80) - 40);
    });
}

}  // namespace
