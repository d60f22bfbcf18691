// The list view against what a user would otherwise pick.
//
// Sorting: a million rows in fill order (unsorted) sorted once by name and
// once by number, against what a user would write for a table: a vector of
// {key, row} built from the rows' texts and stable-sorted, which gives the
// order of the rows.  Both sides start from the same unsorted state each
// round (restored outside the timing), do the same work inside it (the
// number key is parsed once per row on both sides, by the same function)
// and produce the same thing: the rows in sorted order, which is checked
// once before timing.
//
// Removal: one row out of a million, and a short walk in display order
// from its place, against a sorted vector.
//
// Scroll painting: the list painted page by page while it scrolls through
// its rows, against a plain loop that paints the same rows' rectangles and
// texts from a vector of strings through the same canvas; both report the
// time per painted row and per page.
#include "uitoolkit/listview.h"
#include "uitoolkit/window.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kRows = 1000000;

// Names in a scrambled order ("package-" and a number), as a folder or a
// package list fills a list: the fill order is not the sorted order.
std::string nameOf(int r) { return "package-" + std::to_string((static_cast<long long>(r) * 7919) % kRows); }
unsigned long long numberIn(const char* text) { return std::strtoull(text + 8, nullptr, 10); }
unsigned long long numberOf(sListViewDataItem* it) { return numberIn(it->text.get()); }

const std::vector<std::string>& names() {
    static const std::vector<std::string> v = [] {
        std::vector<std::string> out;
        out.reserve(kRows);
        for (int r = 0; r < kRows; ++r) out.push_back(nameOf(r));
        return out;
    }();
    return v;
}

void fill(cListViewData& d) {
    for (int r = 0; r < kRows; ++r) d.setItem(r, 0, names()[static_cast<std::size_t>(r)].c_str(), -1, nullptr);
}

// The rows in the order the list shows them after sorting.
std::vector<int> sortedRows(cListViewData& d) {
    std::vector<int> rows;
    rows.reserve(kRows);
    for (int r = d.firstBySort(); r >= 0; r = d.nextBySort(r)) rows.push_back(r);
    return rows;
}

struct sNameRow {
    std::string_view name;
    int row;
};

// Byte order of the names (std::string_view compares as unsigned bytes, as
// the list does), ties in fill order.
std::vector<int> sortByName() {
    std::vector<sNameRow> v;
    v.reserve(kRows);
    for (int r = 0; r < kRows; ++r) v.push_back({names()[static_cast<std::size_t>(r)], r});
    std::stable_sort(v.begin(), v.end(), [](const sNameRow& a, const sNameRow& b) { return a.name < b.name; });
    std::vector<int> rows(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) rows[i] = v[i].row;
    return rows;
}

struct sNumberRow {
    unsigned long long key;
    int row;
};

std::vector<int> sortByNumber() {
    std::vector<sNumberRow> v;
    v.reserve(kRows);
    for (int r = 0; r < kRows; ++r) v.push_back({numberIn(names()[static_cast<std::size_t>(r)].c_str()), r});
    std::stable_sort(v.begin(), v.end(), [](const sNumberRow& a, const sNumberRow& b) { return a.key < b.key; });
    std::vector<int> rows(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) rows[i] = v[i].row;
    return rows;
}

// Both sides must give the same rows in the same order, or the pair is not
// comparing like with like.
bool sameOrder(cListViewData& d, std::vector<int> (*reference)()) {
    d.reorderByID();
    return d.sort(0) && sortedRows(d) == reference();
}

void BM_SortByName_cListViewData(benchmark::State& state) {
    cListViewData d;
    fill(d);
    d.setSortType(0, new cListViewChild::cListViewNameSortProvider(3072));
    if (!sameOrder(d, sortByName)) state.SkipWithError("the list and the reference sort the rows differently");
    for (auto _ : state) {
        state.PauseTiming();
        d.reorderByID();  // back to the fill order
        state.ResumeTiming();
        benchmark::DoNotOptimize(d.sort(0));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByName_StdStableSort(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sortByName().data());
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByNumber_cListViewData(benchmark::State& state) {
    cListViewData d;
    fill(d);
    auto* p = new cListViewChild::cListViewU64PramSortProvider;
    p->setTransformProc(numberOf);
    d.setSortType(0, p);
    if (!sameOrder(d, sortByNumber)) state.SkipWithError("the list and the reference sort the rows differently");
    for (auto _ : state) {
        state.PauseTiming();
        d.reorderByID();
        state.ResumeTiming();
        benchmark::DoNotOptimize(d.sort(0));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByNumber_StdStableSort(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(sortByNumber().data());
    state.SetItemsProcessed(state.iterations() * kRows);
}

// ---- removal ---------------------------------------------------------------

// One row removed from a million in sorted order, then 20 rows walked in
// display order from where it was, against erasing from a sorted vector and
// walking it.  Each side runs until a quarter of the rows are gone; rows
// are refilled outside the timing.
void BM_RemoveAndWalk_cListViewData(benchmark::State& state) {
    cListViewData d;
    fill(d);
    d.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    d.sort(0);
    unsigned int seed = 1;
    long long walked = 0;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        int row = static_cast<int>((seed >> 8) % kRows);
        if (!d.node(row)) row = d.firstBySort();
        int next = d.nextBySort(row);
        d.remove(row);
        for (int k = 0; k < 20 && next >= 0; ++k) {
            walked += next;
            next = d.nextBySort(next);
        }
        if (d.getRowCount() < kRows * 3 / 4) {
            state.PauseTiming();
            fill(d);
            d.sort(0);
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(walked);
}

void BM_RemoveAndWalk_SortedVector(benchmark::State& state) {
    std::vector<std::string> v = names();
    std::sort(v.begin(), v.end());
    unsigned int seed = 1;
    long long walked = 0;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t at = (seed >> 8) % v.size();
        v.erase(v.begin() + static_cast<long>(at));
        for (std::size_t k = at; k < at + 20 && k < v.size(); ++k) walked += static_cast<long long>(v[k].size());
        if (v.size() < kRows * 3 / 4) {
            state.PauseTiming();
            v = names();
            std::sort(v.begin(), v.end());
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(walked);
}

// ---- scroll painting -----------------------------------------------------------

// Every character 7 pixels wide, 13 high.
class cBenchFont : public cFontObject {
public:
    bool define(int, int, const char*, bool, bool, bool) override { return true; }
    bool apply(cCanvas* c) override { return c && c->setTextMode(this); }
    bool getTextDim(cCanvas*, const char* t, long long n, sSize& out) override {
        if (!t) return false;
        out.w = 7 * static_cast<int>(n < 0 ? std::strlen(t) : static_cast<std::size_t>(n));
        out.h = 13;
        return true;
    }
    bool getTextDim(cCanvas*, const unsigned short* t, long long n, sSize& out) override {
        if (!t) return false;
        long long k = 0;
        while ((n < 0 || k < n) && t[k]) ++k;
        out.w = 7 * static_cast<int>(k);
        out.h = 13;
        return true;
    }
};
cFontObject* makeBenchFont() { return new cBenchFont; }

// A canvas that measures like the font and keeps a checksum of what it is
// asked to draw, so no call can be optimised away.
class cSinkCanvas : public cCanvas {
public:
    int width() override { return 400; }
    int height() override { return 600; }
    bool drawText(int x, int y, bool, const char* t, long long) override {
        sum += static_cast<unsigned int>(x * 31 + y) + static_cast<unsigned char>(t[0]);
        return true;
    }
    bool drawText(int x, int y, bool, const unsigned short* t, long long) override {
        sum += static_cast<unsigned int>(x * 31 + y) + t[0];
        return true;
    }
    bool drawRect(sRect* r, unsigned int fill, unsigned int) override {
        sum += static_cast<unsigned int>(r->x + r->y * 7 + r->w) ^ fill;
        return true;
    }
    // The base's other overloads stay in reach (they answer false or land
    // in the ones below).
    using cCanvas::drawBitmap;
    using cCanvas::setTextMode;
    using cCanvas::textRuler;
    bool drawBitmap(int x, int y, cPicture*, int, int) override {
        sum += static_cast<unsigned int>(x + y);
        return true;
    }
    bool setTextMode(cFontObject* f) override {
        font = f;
        return true;
    }
    void setTextColors(unsigned int t, unsigned int b) override { sum += t ^ b; }
    bool textSize(const char* t, long long n, sSize& out) override { return font && font->getTextDim(this, t, n, out); }
    bool textSize(const unsigned short* t, long long n, sSize& out) override {
        return font && font->getTextDim(this, t, n, out);
    }
    bool textRuler(const unsigned short* t, long long n, int* adv) override {
        for (long long i = 0; i < n; ++i) adv[i] = 7 * static_cast<int>(i + 1);
        return t != nullptr;
    }
    bool clip(sRect*) override { return true; }
    bool unclip(sRect*) override { return true; }
    cFontObject* font = nullptr;
    unsigned int sum = 0;
};

// A window that only hands out fonts: the list measures its rows through it.
class cBenchWindow : public cWindowRequestTarget {
public:
    void _rt_destroy() override {}
    void _rt_modalresult(int) override {}
    void _rt_repaint(sArea*) override {}
    bool _rt_send_action(void*) override { return false; }
    bool _rt_receive_action(void*) override { return false; }
};

struct sPaintSetup {
    sPaintSetup() {
        __setNewPlatformCPFont(makeBenchFont);
        root.setWinTarget(&window, 0, 0, 800, 700);
        root.attach(&lv, 0, 0, 400, 600);
        lv.setColumn(0, "Name", 200, cCanvas::taLeft);
        lv.setColumn(1, "Size", 100, cCanvas::taRight);
        lv.startChanges();
        for (int r = 0; r < kRows; ++r) {
            lv.setItem(r, 0, names()[static_cast<std::size_t>(r)].c_str(), -1, nullptr);
            lv.setItem(r, 1, names()[static_cast<std::size_t>(r)].c_str() + 8, -1, nullptr);
        }
        lv.endChanges(false);
        lv.setSortType(0, new cListViewChild::cListViewNameSortProvider);
        lv.sort(0);
    }
    cBenchWindow window;
    cChildElement root;
    cListViewChild lv;
};

// One page: the list's visible rows painted at a scroll position that
// moves by one page per round through the whole list.
void BM_ScrollPaint_cListViewChild(benchmark::State& state) {
    static sPaintSetup s;
    cSinkCanvas c;
    int top, bottom;
    s.lv.itemRange(s.lv.firstBySort(), top, bottom);
    const int rowH = bottom - top;
    sRect client;
    s.lv.clientRect(&client);
    const int perPage = client.h / rowH + 1;
    const int pages = s.lv.minVisualHeight() / client.h;
    long long rows = 0;
    int page = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The bar's report, handed over as the window's queue would.
        cScrollBarBase::cScrollAction moved(static_cast<unsigned long long>(page) * client.h);
        s.lv.vbar()->setPos(moved.position, false);
        s.lv.onAction(s.lv.vbar(), &moved);
        page = (page + 97) % pages;
        state.ResumeTiming();
        s.lv.onPaintArea(&c);
        rows += perPage;
    }
    benchmark::DoNotOptimize(c.sum);
    state.counters["rows/page"] = perPage;
    state.counters["per_row"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["per_page"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The same rows drawn by hand from a vector of strings in sorted order: a
// background rectangle and one limited text per cell, a gap after each
// column and the rest of the row.
void BM_ScrollPaint_PlainVector(benchmark::State& state) {
    static const std::vector<std::string> sorted = [] {
        std::vector<std::string> v = names();
        std::stable_sort(v.begin(), v.end());
        return v;
    }();
    __setNewPlatformCPFont(makeBenchFont);
    cFontObject* font = cFontObject::get(5, 13, "bench", false, false, false);
    cSinkCanvas c;
    const int rowH = 17, pageH = 600 - 2 - 24, perPage = pageH / rowH + 1;
    const int pages = kRows * rowH / pageH;
    long long rows = 0;
    int page = 0;
    for (auto _ : state) {
        const int y0 = page * pageH;
        page = (page + 97) % pages;
        int first = y0 / rowH;
        for (int k = first; k < first + perPage && k < kRows; ++k) {
            const int y = 24 + k * rowH - y0;
            const std::string& n = sorted[static_cast<std::size_t>(k)];
            int x = 1;
            for (int col = 0; col < 2; ++col) {
                const int w = col ? 100 : 200;
                sRect cell{x, y, w, rowH};
                c.drawRect(&cell, 0xFFFFFF, 0xFFFFFF);
                c.setTextMode(font);
                c.setTextColors(0, 0xFFFFFF);
                c.drawTextLimited(x, y, w, rowH, col ? cCanvas::taRight : cCanvas::taLeft, true, 0, 0,
                                  col ? n.c_str() + 8 : n.c_str(), -1, nullptr, false);
                x += w;
                sRect gap{x, y, 3, rowH};
                c.drawRect(&gap, 0xFFFFFF, 0xFFFFFF);
                x += 3;
            }
            sRect rest{x, y, 399 - x, rowH};
            c.drawRect(&rest, 0xFFFFFF, 0xFFFFFF);
        }
        rows += perPage;
    }
    benchmark::DoNotOptimize(c.sum);
    state.counters["rows/page"] = perPage;
    state.counters["per_row"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["per_page"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_SortByName_cListViewData)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SortByName_StdStableSort)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SortByNumber_cListViewData)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SortByNumber_StdStableSort)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RemoveAndWalk_cListViewData)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemoveAndWalk_SortedVector)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollPaint_cListViewChild)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrollPaint_PlainVector)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
