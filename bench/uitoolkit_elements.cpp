// A tree of 10,000 elements (a root, 100 anchored panels, 99 anchored
// leaves in each): laying it out after a resize, and painting it onto a
// canvas that records every call.  The baseline draws the same 10,000
// rectangles straight onto the same canvas, the least any painter must do;
// items per second is elements per second.
#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kPanels = 100, kLeaves = 99;

struct sCall {
    int op, x, y, w, h;
};

class cRecorder : public cCanvas {
public:
    cRecorder(std::vector<sCall>* log, int w, int h, int ox, int oy) : mLog(log), mW(w), mH(h), mOx(ox), mOy(oy) {}
    int width() override { return mW; }
    int height() override { return mH; }
    bool drawRect(sRect* r, unsigned int, unsigned int) override { return add(0, r); }
    bool clip(sRect* r) override { return add(1, r); }
    bool unclip(sRect* r) override { return add(2, r); }
    bool select() override { return true; }
    bool canDrawAt(sRect* r) override { return r->x < mW && r->y < mH && r->x + r->w > 0 && r->y + r->h > 0; }
    cCanvas* subCanvas(sRect* r) override { return new cRecorder(mLog, r->w, r->h, mOx + r->x, mOy + r->y); }

private:
    bool add(int op, sRect* r) {
        mLog->push_back({op, r->x + mOx, r->y + mOy, r->w, r->h});
        return true;
    }
    std::vector<sCall>* mLog;
    int mW, mH, mOx, mOy;
};

class cBox : public cChildElement {
public:
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, width(), height()};
        c->drawRect(&r, 0xFFFFFF, 0);
    }
};

class cWin : public cWindowRequestTarget {
public:
    void _rt_destroy() override {}
    void _rt_modalresult(int) override {}
    void _rt_repaint(sArea*) override { ++repaints; }
    bool _rt_send_action(void*) override { return false; }
    bool _rt_receive_action(void*) override { return false; }
    long repaints = 0;
};

struct sTree {
    cWin win;
    cBox root;
    std::vector<std::unique_ptr<cBox>> boxes;
    sTree() {
        root.setWinTarget(&win, 0, 0, 2000, 1000);
        root.processConstruct();
        for (int p = 0; p < kPanels; ++p) {
            auto* panel = new cBox();
            boxes.emplace_back(panel);
            root.anchor(panel, (p % 10) * 200, (p / 10) * 100, 190, 90);
            for (int l = 0; l < kLeaves; ++l) {
                auto* leaf = new cBox();
                boxes.emplace_back(leaf);
                // Eleven columns of nine rows, each a share of the panel.
                panel->anchor(leaf, (l % 11) * 17, (l / 11) * 10, 15, -(90 - 8 - (l / 11) * 10) - 1);
            }
        }
    }
    ~sTree() {
        for (auto& b : boxes)
            if (b->parent()) b->parent()->dettach(b.get());
    }
    long elements() const { return static_cast<long>(boxes.size()) + 1; }
};

void BM_Layout(benchmark::State& state) {
    sTree tree;
    int flip = 0;
    for (auto _ : state) {
        // Panels keep their place; every leaf's height follows the panel.
        for (auto& b : tree.boxes)
            if (b->parent() == &tree.root) b->processSizeChanges(190, 90 - (flip & 1), false);
        tree.root.processSizeChanges(2000, 1000 + (flip & 1), true);
        ++flip;
    }
    state.SetItemsProcessed(state.iterations() * tree.elements());
}
BENCHMARK(BM_Layout);

void BM_Paint(benchmark::State& state) {
    sTree tree;
    std::vector<sCall> log;
    log.reserve(100000);
    for (auto _ : state) {
        log.clear();
        cRecorder canvas(&log, 2000, 1000, 0, 0);
        tree.root.processPaint(&canvas);
        benchmark::DoNotOptimize(log.data());
    }
    state.SetItemsProcessed(state.iterations() * tree.elements());
    state.counters["calls"] = static_cast<double>(log.size());
}
BENCHMARK(BM_Paint);

// The same rectangles drawn directly: no tree, no clipping, no sub-canvases.
void BM_PaintBaselineFlatRects(benchmark::State& state) {
    sTree tree;
    std::vector<sRect> rects;
    rects.push_back({0, 0, 2000, 1000});
    for (auto& b : tree.boxes) {
        sRect r;
        tree.root.childRect(b.get(), &r);
        rects.push_back(r);
    }
    std::vector<sCall> log;
    log.reserve(100000);
    for (auto _ : state) {
        log.clear();
        cRecorder canvas(&log, 2000, 1000, 0, 0);
        for (sRect& r : rects) canvas.drawRect(&r, 0xFFFFFF, 0);
        benchmark::DoNotOptimize(log.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(rects.size()));
}
BENCHMARK(BM_PaintBaselineFlatRects);

}  // namespace

BENCHMARK_MAIN();
