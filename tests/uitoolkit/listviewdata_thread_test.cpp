// qor-test-labels: tsan
#include "uitoolkit/listview.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// A worker fills 100,000 rows and clears once midway while this thread
// reads, walks and sorts: every operation takes the store's lock.
TEST(ListViewDataThreads, WorkerFillsWhileReaderWalksAndSorts) {
    cListViewData d;
    d.setSortType(0, new cListViewChild::cListViewNameSortProvider);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int r = 0; r < 100000; ++r) {
            std::string s = std::to_string((r * 7919) % 100000);
            d.setItem(r, 0, s.c_str(), -1, nullptr);
            if (r == 20000) d.clear();
        }
        done = true;
    });
    int walks = 0;
    while (!done || walks < 3) {
        int n = 0;
        d.forEachInOrder([&](int, cListViewData::Row& row) {
            if (row.find(0)) ++n;
            return n < 2000;
        });
        if (walks % 32 == 0) d.sort(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_LE(d.getRowCount(), 100000);
        ++walks;
    }
    worker.join();
    EXPECT_EQ(d.getRowCount(), 100000 - 20001);
    ASSERT_TRUE(d.sort(0));
    _guardchar<char> a, b;
    int prev = d.firstBySort();
    for (int r = d.nextBySort(prev); r >= 0; prev = r, r = d.nextBySort(r)) {
        d.text(prev, 0, a);
        d.text(r, 0, b);
        ASSERT_LE(std::string(a.get()), std::string(b.get()));
    }
}
