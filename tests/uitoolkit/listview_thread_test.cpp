// qor-test-labels: tsan
// A worker fills a list of 100,000 rows (and clears it once midway) while
// the UI thread paints, sorts and drains the worker's layout hand-offs.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

TEST(ListViewThreads, WorkerFillsWhileTheUiThreadPaintsAndSorts) {
    qortest::cFixedFont::install();
    cCITheme::setTheme(gCI_Flat_Theme);
    qortest::cTestWindowTarget win;
    cChildElement root;
    cListViewChild lv;
    win.bind(&root, 800, 600);
    root.attach(&lv, 0, 0, 300, 200);
    lv.setColumn(0, "Name", 150, cCanvas::taLeft);
    lv.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    constexpr int kRows = 100000, kClearAt = 30000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        lv.startChanges();
        for (int r = 0; r < kRows; ++r) {
            std::string s = "row " + std::to_string((r * 7919) % kRows);
            lv.setItem(r, 0, s.c_str(), -1, nullptr);
            if (r == kClearAt) lv.clear();
        }
        lv.endChanges(false);
        done = true;
    });
    int rounds = 0;
    while (!done || rounds < 3) {
        qortest::cRecordingCanvas c(300, 200);
        lv.onPaintArea(&c);
        if (rounds % 16 == 0) lv.sort(0);
        win.drain();
        ++rounds;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    win.drain();
    const int rows = kRows - kClearAt - 1;
    EXPECT_EQ(lv.getRowCount(), rows);
    int top, bottom;
    ASSERT_TRUE(lv.itemRange(lv.data().lastBySort(), top, bottom));
    // The extent runs past the last row by the bottom border, and the rows
    // start below the top border and the header.
    EXPECT_EQ(lv.minVisualHeight(), bottom + 1);
    EXPECT_EQ(lv.minVisualHeight() - lv.header()->height(), 1 + rows * (bottom - top) + 1);
    // The painted texts follow the sorted order.
    ASSERT_TRUE(lv.sort(0));
    qortest::cRecordingCanvas c(300, 200);
    lv.onPaintArea(&c);
    std::string prev;
    int texts = 0;
    for (auto& k : c.calls) {
        if (k.op != "text") continue;
        EXPECT_LE(prev, k.text);
        prev = k.text;
        ++texts;
    }
    EXPECT_GT(texts, 5);
}
