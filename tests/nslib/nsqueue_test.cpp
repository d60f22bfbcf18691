// qor-test-labels: tsan
// The window's cross-thread queue under real worker threads: every sent and
// posted action arrives once, each thread's in its own order, repaints fold
// into one pending request, and actions still queued when the window goes
// away are reported as cancelled, never lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "nstestutil.h"

namespace {

class NSQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startHeadless(); }
    Watchdog dog{60};
};

constexpr int kThreads = 4;
constexpr int kPerThread = 300;

long code(int thread, int seq, bool post) { return (post ? 1000000 : 0) + thread * 10000 + seq + 1; }

TEST_F(NSQueueTest, WorkersReachTheUIThreadInOrder) {
    RecWindow w;
    ASSERT_TRUE(w.create_wnd("workers", 160, 120, false, 0, 0));
    pumpIdle();
    w.log.clear();
    std::atomic<int> failedWakes{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                if (!w.notifyAction(tag(code(t, i, false)))) ++failedWakes;
                if (!w.notifyPostAction(tag(code(t, i, true)))) ++failedWakes;
                w.requestRepaint(t, i, 5, 5);
                if (i % 100 == 0) (t & 1 ? w.asyncOnFocusLost() : w.asyncOnFocus());
            }
        });
    const size_t want = size_t(kThreads) * kPerThread * 2;
    size_t seen = 0;
    ASSERT_TRUE(pumpUntil(
        [&] {
            seen = 0;
            for (auto& l : w.log)
                if (l.compare(0, 7, "action ") == 0 || l.compare(0, 5, "post ") == 0) ++seen;
            return seen == want;
        },
        30));
    for (auto& th : workers) th.join();
    pumpIdle();
    EXPECT_EQ(failedWakes.load(), 0);

    std::map<long, long> last;  // per thread and kind, the last sequence seen
    size_t focus = 0, paints = 0;
    for (auto& l : w.log) {
        long v;
        if (sscanf(l.c_str(), "action %ld", &v) == 1 || sscanf(l.c_str(), "post %ld", &v) == 1) {
            long key = v / 10000, seq = v % 10000;
            EXPECT_EQ(seq, last[key] + 1) << l;
            last[key] = seq;
        } else if (l == "focus" || l == "focuslost") {
            ++focus;
        } else if (l.compare(0, 6, "paint ") == 0) {
            ++paints;
        }
    }
    EXPECT_EQ(last.size(), size_t(kThreads * 2));
    for (auto& kv : last) EXPECT_EQ(kv.second, kPerThread);
    EXPECT_EQ(focus, size_t(kThreads * ((kPerThread + 99) / 100)));
    EXPECT_GE(paints, 1u);
    EXPECT_LT(paints, size_t(kThreads * kPerThread));
}

struct Sink {
    std::mutex m;
    std::vector<long> cancelled;
    static void take(void* e, void* p) {
        auto* s = static_cast<Sink*>(p);
        std::lock_guard<std::mutex> g(s->m);
        s->cancelled.push_back(long(reinterpret_cast<intptr_t>(e)));
    }
};

TEST_F(NSQueueTest, ClosingWhileWorkersSendCancelsWhatIsLeft) {
    Sink sink;
    std::atomic<int> sent{0};
    std::vector<long> delivered;
    {
        RecWindow w;
        w.setCancelProc(&Sink::take, &sink);
        ASSERT_TRUE(w.create_wnd("closing", 100, 100, false, 0, 0));
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    w.notifyAction(tag(code(t, i, false)));
                    ++sent;
                    w.requestRepaint(0, 0, 1, 1);
                }
            });
        // Deliver a while, then close the window under the workers' feet.
        pumpUntil([&] { return w.log.size() > 50; }, 10);
        w.close();
        for (auto& th : workers) th.join();
        for (auto& l : w.log) {
            long v;
            if (sscanf(l.c_str(), "action %ld", &v) == 1) delivered.push_back(v);
        }
        EXPECT_TRUE(sink.cancelled.empty());
    }
    pumpIdle();  // wake-ups posted before the close reach nobody
    EXPECT_EQ(sent.load(), kThreads * kPerThread);
    EXPECT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.size() + sink.cancelled.size(), size_t(sent.load()));
    // Nothing arrives twice.
    std::vector<long> all = delivered;
    all.insert(all.end(), sink.cancelled.begin(), sink.cancelled.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
