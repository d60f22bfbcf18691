// The intrusive lists, the tree and the value list against the standard
// containers a user would otherwise pick for the same job.
#include "base/lists.h"

#include <benchmark/benchmark.h>

#include <deque>
#include <forward_list>
#include <list>
#include <memory>
#include <queue>
#include <vector>

namespace {

constexpr int kItems = 1 << 20;

// A polymorphic queued object, as the action queues hold.
struct Action : cListItem {
    explicit Action(int c) : code(c) {}
    int code;
};
struct StdAction {
    explicit StdAction(int c) : code(c) {}
    virtual ~StdAction() = default;
    int code;
};

// Fill a queue at the tail, drain it from the head.
void BM_Queue_cStackList(benchmark::State& state) {
    for (auto _ : state) {
        cStackList q;
        for (int i = 0; i < kItems; ++i) q.add(new Action(i));
        long long sum = 0;
        while (cListItem* it = q.pop()) {
            sum += static_cast<Action*>(it)->code;
            delete it;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_Queue_cStackList)->Unit(benchmark::kMillisecond);

void BM_Queue_StdQueueOfUniquePtr(benchmark::State& state) {
    for (auto _ : state) {
        std::queue<std::unique_ptr<StdAction>> q;
        for (int i = 0; i < kItems; ++i) q.push(std::make_unique<StdAction>(i));
        long long sum = 0;
        while (!q.empty()) {
            sum += q.front()->code;
            q.pop();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_Queue_StdQueueOfUniquePtr)->Unit(benchmark::kMillisecond);

// Append, walk, destroy.
struct BiAction : cBiListItem {
    explicit BiAction(int c) : code(c) {}
    int code;
};

void BM_AppendWalkDestroy_cBiList(benchmark::State& state) {
    for (auto _ : state) {
        cBiList l;
        for (int i = 0; i < kItems; ++i) l.add(new BiAction(i));
        long long sum = 0;
        for (cBiListItem* it = l.start(); it; it = l.next(it)) sum += static_cast<BiAction*>(it)->code;
        benchmark::DoNotOptimize(sum);
        l.destroy();
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_AppendWalkDestroy_cBiList)->Unit(benchmark::kMillisecond);

void BM_AppendWalkDestroy_StdListOfUniquePtr(benchmark::State& state) {
    for (auto _ : state) {
        std::list<std::unique_ptr<StdAction>> l;
        for (int i = 0; i < kItems; ++i) l.push_back(std::make_unique<StdAction>(i));
        long long sum = 0;
        for (const auto& a : l) sum += a->code;
        benchmark::DoNotOptimize(sum);
        l.clear();
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_AppendWalkDestroy_StdListOfUniquePtr)->Unit(benchmark::kMillisecond);

// The value list: append records, walk them, free them.
struct Record {
    int id = 0;
    long long size = 0;
};

void BM_ValueList_List(benchmark::State& state) {
    for (auto _ : state) {
        _List<Record> l;
        for (int i = 0; i < kItems; ++i) {
            auto* n = l.add();
            n->value.id = i;
            n->value.size = i * 3LL;
        }
        long long sum = 0;
        for (const Record& r : l) sum += r.size;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ValueList_List)->Unit(benchmark::kMillisecond);

void BM_ValueList_StdForwardList(benchmark::State& state) {
    for (auto _ : state) {
        std::forward_list<Record> l;
        auto tail = l.before_begin();
        for (int i = 0; i < kItems; ++i) tail = l.insert_after(tail, Record{i, i * 3LL});
        long long sum = 0;
        for (const Record& r : l) sum += r.size;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ValueList_StdForwardList)->Unit(benchmark::kMillisecond);

void BM_ValueList_StdList(benchmark::State& state) {
    for (auto _ : state) {
        std::list<Record> l;
        for (int i = 0; i < kItems; ++i) l.push_back(Record{i, i * 3LL});
        long long sum = 0;
        for (const Record& r : l) sum += r.size;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_ValueList_StdList)->Unit(benchmark::kMillisecond);

// A folder-like tree: 16 children per node, four levels deep (69904 nodes),
// built in order and destroyed.
constexpr int kFanout = 16;
constexpr int kDepth = 4;

struct Folder : cTreeItem {
    explicit Folder(int i) : id(i) {}
    int id;
};

void buildTree(cTree& t, cTreeItem* parent, int depth, int& made) {
    for (int i = 0; i < kFanout; ++i) {
        cTreeItem* n = t.add(parent, new Folder(made++), nullptr);
        if (depth > 1) buildTree(t, n, depth - 1, made);
    }
}

void BM_Tree_cTree(benchmark::State& state) {
    int made = 0;
    for (auto _ : state) {
        made = 0;
        cTree t;
        buildTree(t, nullptr, kDepth, made);
        t.destroy();
    }
    state.SetItemsProcessed(state.iterations() * made);
}
BENCHMARK(BM_Tree_cTree)->Unit(benchmark::kMillisecond);

struct StdFolder {
    explicit StdFolder(int i, StdFolder* p) : id(i), parent(p) {}
    virtual ~StdFolder() = default;
    int id;
    StdFolder* parent;
    std::vector<std::unique_ptr<StdFolder>> children;
};

void buildStdTree(std::vector<std::unique_ptr<StdFolder>>& level, StdFolder* parent, int depth, int& made) {
    for (int i = 0; i < kFanout; ++i) {
        level.push_back(std::make_unique<StdFolder>(made++, parent));
        if (depth > 1) buildStdTree(level.back()->children, level.back().get(), depth - 1, made);
    }
}

void BM_Tree_VectorOfUniquePtrChildren(benchmark::State& state) {
    int made = 0;
    for (auto _ : state) {
        made = 0;
        std::vector<std::unique_ptr<StdFolder>> roots;
        buildStdTree(roots, nullptr, kDepth, made);
        roots.clear();
    }
    state.SetItemsProcessed(state.iterations() * made);
}
BENCHMARK(BM_Tree_VectorOfUniquePtrChildren)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
