// The tree map against std::map: insertion, lookup and in-order walk of
// 1,000,000 int keys, in random order, ascending, descending, and (insertion
// only) alternating low and high: the smallest key left, then the greatest,
// closing in on the middle, which sends every insertion to the deepest spot.
//
//   tools/bench treemap
//
// Each pair of results (TreeMap_* and StdMap_*) runs the same keys in the
// same order in the same program.  A user filling a std::map from sorted keys
// hands it the place of each insertion (emplace_hint at the end for
// ascending keys, at the beginning for descending ones), which makes each
// insertion amortised O(1); StdMapHinted does that, and is the reference of
// the sorted pairs.  The tree map takes no hint: it finds the place itself.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <malloc.h>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "base/treelist.h"

namespace {

constexpr int kKeys = 1000000;

using TreeMap = cFasterTreeList<int, int>;
using StdMap = std::map<int, int>;

// Distinct keys spread over the whole int range (a multiplicative hash of
// 0..n-1 is a permutation), in random order or ascending.
enum eOrder { kRandom = 0, kAscending = 1, kAlternating = 2, kDescending = 3 };

const std::vector<int>& keys(bool sorted) {
    static const std::vector<int> random = [] {
        std::vector<int> v(kKeys);
        for (int i = 0; i < kKeys; ++i) v[i] = static_cast<int>(static_cast<unsigned>(i) * 2654435761u);
        std::shuffle(v.begin(), v.end(), std::mt19937(20240501));
        return v;
    }();
    static const std::vector<int> ascending = [] {
        std::vector<int> v = random;
        std::sort(v.begin(), v.end());
        return v;
    }();
    return sorted ? ascending : random;
}

const std::vector<int>& keys(eOrder order) {
    static const std::vector<int> alternating = [] {
        const std::vector<int>& up = keys(true);
        std::vector<int> v;
        v.reserve(up.size());
        for (std::size_t lo = 0, hi = up.size(); lo < hi;) {
            v.push_back(up[lo++]);
            if (lo < hi) v.push_back(up[--hi]);
        }
        return v;
    }();
    static const std::vector<int> descending = [] {
        std::vector<int> v = keys(true);
        std::reverse(v.begin(), v.end());
        return v;
    }();
    if (order == kAlternating) return alternating;
    if (order == kDescending) return descending;
    return keys(order == kAscending);
}

// The lookups of the random case come in another random order than the
// insertions, so that the map's insertion order does not help the cache;
// sorted keys are looked up in the order they were inserted.
const std::vector<int>& lookups(eOrder order) {
    static const std::vector<int> random = [] {
        std::vector<int> v = keys(false);
        std::shuffle(v.begin(), v.end(), std::mt19937(77));
        return v;
    }();
    return order == kRandom ? random : keys(order);
}

// std::map told where each sorted key goes.
struct StdMapHinted : std::map<int, int> {};

void fill(TreeMap& m, const std::vector<int>& ks) {
    for (int k : ks) *m.insert(k) = k;
}
void fill(StdMap& m, const std::vector<int>& ks) {
    for (int k : ks) m.emplace(k, k);
}
void fill(StdMapHinted& m, const std::vector<int>& ks) {
    if (ks.size() > 1 && ks[0] > ks[1]) {
        for (int k : ks) m.emplace_hint(m.begin(), k, k);
    } else {
        for (int k : ks) m.emplace_hint(m.end(), k, k);
    }
}

const int* lookup(TreeMap& m, int k) { return m.find(k); }
template <typename M>
const int* lookup(M& m, int k) {
    auto it = m.find(k);
    return it == m.end() ? nullptr : &it->second;
}

long long walk(const TreeMap& m) {
    long long sum = 0;
    for (TreeMap::cTreeItem* n = m.first(); n; n = m.next(n)) sum += n->value;
    return sum;
}
template <typename M>
long long walk(const M& m) {
    long long sum = 0;
    for (const auto& kv : m) sum += kv.second;
    return sum;
}

// How a std::map's nodes come out of the C library's heap depends on what
// the program freed before: nodes a map of random keys gave back come out
// scattered, and every allocation then misses the caches, where a heap with
// nothing freed (or with the map's own nodes, freed in key order) hands
// them out one after another.  The insertions set the heap before every
// iteration, untimed, so that no iteration inherits what the one before it
// freed: argument 1 is 0 for the heap given back whole (malloc_trim: every
// node then comes from memory the system has yet to hand over, on both
// sides), 1 for a heap where a map of a million random keys was just freed
// (a second each, so those run a few iterations only).  Lookups and walks
// run on maps filled from a heap given back whole.  The tree map takes its
// nodes in blocks of its own.
void settleHeap(bool churned) {
    malloc_trim(0);
    if (churned) {
        StdMap m;
        for (int k : keys(false)) m.emplace(k, k);
    }
}

template <typename Map>
void BM_Insert(benchmark::State& state) {
    const auto& ks = keys(static_cast<eOrder>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        settleHeap(state.range(1) != 0);
        state.ResumeTiming();
        auto m = std::make_unique<Map>();
        fill(*m, ks);
        benchmark::DoNotOptimize(m.get());
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

template <typename Map>
void BM_Find(benchmark::State& state) {
    const auto order = static_cast<eOrder>(state.range(0));
    const auto& ls = lookups(order);
    settleHeap(false);
    Map m;
    fill(m, keys(order));
    for (auto _ : state) {
        long long found = 0;
        for (int k : ls) found += lookup(m, k) != nullptr;
        if (found != kKeys) state.SkipWithError("a key went missing");
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

template <typename Map>
void BM_Walk(benchmark::State& state) {
    const auto& ks = keys(static_cast<eOrder>(state.range(0)));
    settleHeap(false);
    Map m;
    fill(m, ks);
    for (auto _ : state) benchmark::DoNotOptimize(walk(m));
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// Argument 0: keys in random order; 1: ascending; 2: alternating low and
// high; 3: descending.  Inserts: argument 1, the heap (settleHeap).
BENCHMARK_TEMPLATE(BM_Insert, TreeMap)->ArgsProduct({{0, 1, 2, 3}, {0}})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Insert, StdMap)->ArgsProduct({{0, 1, 2, 3}, {0}})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Insert, StdMapHinted)->ArgsProduct({{1, 3}, {0}})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Insert, TreeMap)->ArgsProduct({{0, 1, 2, 3}, {1}})->MinTime(0.1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Insert, StdMap)->ArgsProduct({{0, 1, 2, 3}, {1}})->MinTime(0.1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Insert, StdMapHinted)->ArgsProduct({{1, 3}, {1}})->MinTime(0.1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Find, TreeMap)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Find, StdMap)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Walk, TreeMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Walk, StdMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
