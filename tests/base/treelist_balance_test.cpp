// The tree map's balance after every single insertion: the weight ratio of
// every node, the height bound it gives, and the depth limit's whole-tree
// rebuild, on the insertion orders that defeat the rotation rule alone.
#include "base/treelist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using IntMap = cFasterTreeList<int, int>;
using IntItem = IntMap::cTreeItem;

std::vector<int> order(const std::string& name, int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) {
        if (name == "low-high") v.push_back(i % 2 ? n - 1 - i / 2 : i / 2);
        if (name == "two-runs") v.push_back(i % 2 ? n / 2 + i / 2 : i / 2);
        if (name == "outward") v.push_back(i % 2 ? n / 2 + i / 2 : n / 2 - 1 - i / 2);
        if (name == "zig-zag") v.push_back(i ^ 1);
        if (name == "random") v.push_back(i);
    }
    if (name == "random") std::shuffle(v.begin(), v.end(), std::mt19937(5));
    return v;
}
const char* const kOrders[] = {"low-high", "two-runs", "outward", "zig-zag", "random"};

struct sShape {
    int height = 0;
    int nodes = 0;
    const IntItem* heavy = nullptr;  // a node beyond the 3:1 weight ratio
};

// Height, node count and weight balance of a subtree, counted from the links
// alone: a subtree of s nodes weighs s + 1, and neither child may weigh more
// than three times the other.
sShape measure(const IntItem* n) {
    sShape r;
    if (!n) return r;
    sShape a = measure(n->lesser), b = measure(n->greater);
    r.height = 1 + std::max(a.height, b.height);
    r.nodes = 1 + a.nodes + b.nodes;
    r.heavy = a.heavy ? a.heavy : b.heavy;
    if (!r.heavy && (a.nodes + 1 > 3 * (b.nodes + 1) || b.nodes + 1 > 3 * (a.nodes + 1))) r.heavy = n;
    return r;
}

int heightBound(int n) { return static_cast<int>(std::floor(std::log(n + 1.0) / std::log(4.0 / 3.0))) + 1; }

TEST(TreeMapBalance, EveryInsertionLeavesEveryNodeWithinTheWeightRatioAndTheHeightBound) {
    const int n = 2500;
    for (const char* name : kOrders) {
        IntMap m;
        int count = 0;
        for (int k : order(name, n)) {
            *m.insert(k) = k;
            ++count;
            sShape s = measure(m.root());
            ASSERT_EQ(s.nodes, count) << name;
            ASSERT_EQ(s.heavy, nullptr) << name << ": key " << s.heavy->key << " after " << count << " keys";
            ASSERT_LE(s.height, heightBound(count)) << name << " after " << count << " keys";
        }
        // Balanced by rotations: the depth limit was never reached.
        EXPECT_EQ(m.rebuiltNodes(), 0u) << name;
        for (int k = 0; k < n; ++k) ASSERT_EQ(*m.find(k), k) << name;
    }
}

TEST(TreeMapBalance, EveryRemovalLeavesEveryNodeWithinTheWeightRatio) {
    const int n = 1500;
    for (const char* name : kOrders) {
        IntMap m;
        for (int k : order(name, n)) *m.insert(k) = k;
        int count = n;
        // Removing in the order of insertion takes the nodes the balancing
        // placed first, the low and high ends of the two-ended orders.
        for (int k : order(name, n)) {
            ASSERT_TRUE(m.dettach(k));
            --count;
            sShape s = measure(m.root());
            ASSERT_EQ(s.nodes, count) << name;
            ASSERT_EQ(s.heavy, nullptr) << name << ": key " << s.heavy->key << " with " << count << " keys left";
        }
        EXPECT_TRUE(m.empty());
    }
}

// An insertion whose search passes more nodes than the depth limit rebuilds
// the whole tree into a perfectly balanced one; any other leaves the
// rebuild count alone.  The search length is counted here, before the
// insertion, by walking the tree.
TEST(TreeMapBalance, OnlyAnInsertionDeeperThanTheDepthLimitRebuildsTheWholeTree) {
    for (const char* name : kOrders) {
        IntMap m(12);
        int rebuilds = 0, count = 0;
        for (int k : order(name, 3000)) {
            unsigned visited = 0;
            for (const IntItem* n = m.root(); n; n = k < n->key ? n->lesser : n->greater) ++visited;
            unsigned long long before = m.rebuiltNodes();
            m.insert(k);
            ++count;
            if (visited > 12) {
                ++rebuilds;
                ASSERT_EQ(m.rebuiltNodes() - before, static_cast<unsigned long long>(count)) << name << " key " << k;
                ASSERT_EQ(measure(m.root()).height, static_cast<int>(std::ceil(std::log2(count + 1.0)))) << name;
            } else {
                ASSERT_EQ(m.rebuiltNodes(), before) << name << " key " << k;
            }
        }
        // 3000 keys need 12 levels; weight balance alone lets them grow
        // past that, so each order reached the limit.
        EXPECT_GT(rebuilds, 0) << name;
        EXPECT_EQ(measure(m.root()).nodes, 3000) << name;
    }
}

}  // namespace
