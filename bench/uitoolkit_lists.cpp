// Filling and sorting the rows of a list against what a user would otherwise
// pick: a std::vector of records ordered with std::stable_sort.
#include "uitoolkit/listview.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 1000000;

std::string nameOf(int r) { return "package-" + std::to_string((static_cast<long long>(r) * 7919) % kRows); }
unsigned long long sizeOf(sListViewDataItem* it) { return std::stoull(it->text.get() + 8); }

void fill(cListViewData& d) {
    for (int r = 0; r < kRows; ++r) d.setItem(r, 0, nameOf(r).c_str(), -1, nullptr);
}

void BM_Fill_cListViewData(benchmark::State& state) {
    for (auto _ : state) {
        cListViewData d;
        fill(d);
        benchmark::DoNotOptimize(d.getRowCount());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByName_cListViewData(benchmark::State& state) {
    cListViewData d;
    fill(d);
    d.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    bool asc = true;
    for (auto _ : state) {
        d.setSortDirection(0, asc);
        asc = !asc;
        benchmark::DoNotOptimize(d.sort(0));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByNumber_cListViewData(benchmark::State& state) {
    cListViewData d;
    fill(d);
    auto* p = new cListViewChild::cListViewU64PramSortProvider;
    p->setTransformProc(sizeOf);
    d.setSortType(0, p);
    bool asc = true;
    for (auto _ : state) {
        d.setSortDirection(0, asc);
        asc = !asc;
        benchmark::DoNotOptimize(d.sort(0));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

struct sRec {
    int row;
    std::string name;
    unsigned long long size;
};

void BM_SortByName_StdStableSort(benchmark::State& state) {
    std::vector<sRec> v;
    for (int r = 0; r < kRows; ++r) v.push_back({r, nameOf(r), 0});
    bool asc = true;
    for (auto _ : state) {
        if (asc) std::stable_sort(v.begin(), v.end(), [](const sRec& a, const sRec& b) { return a.name < b.name; });
        else std::stable_sort(v.begin(), v.end(), [](const sRec& a, const sRec& b) { return b.name < a.name; });
        asc = !asc;
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByNumber_StdStableSort(benchmark::State& state) {
    std::vector<sRec> v;
    for (int r = 0; r < kRows; ++r) v.push_back({r, nameOf(r), std::stoull(nameOf(r).c_str() + 8)});
    bool asc = true;
    for (auto _ : state) {
        if (asc) std::stable_sort(v.begin(), v.end(), [](const sRec& a, const sRec& b) { return a.size < b.size; });
        else std::stable_sort(v.begin(), v.end(), [](const sRec& a, const sRec& b) { return b.size < a.size; });
        asc = !asc;
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

BENCHMARK(BM_Fill_cListViewData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByName_cListViewData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByName_StdStableSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByNumber_cListViewData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByNumber_StdStableSort)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
