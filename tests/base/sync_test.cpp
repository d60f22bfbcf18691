// qor-test-labels: tsan
// Recursive locks, scoped guards and events, exercised from real threads.
#include "base/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(CriticalSection, IsRecursiveAndTryEnterSeesOtherOwners) {
    cCriticalSection cs;
    cs.enter();
    EXPECT_TRUE(cs.try_enter());  // same thread: taken again
    std::atomic<int> otherGot{-1};
    std::thread([&] { otherGot = cs.try_enter() ? 1 : 0; }).join();
    EXPECT_EQ(otherGot, 0);
    cs.exit();
    std::thread([&] { otherGot = cs.try_enter() ? 1 : 0; }).join();
    EXPECT_EQ(otherGot, 0);  // still held once
    cs.exit();
    std::thread([&] {
        otherGot = cs.try_enter() ? 1 : 0;
        if (otherGot) cs.exit();
    }).join();
    EXPECT_EQ(otherGot, 1);
}

TEST(CriticalSection, GuardsSerialiseCounters) {
    cCriticalSection cs;
    long long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                cSafeCriticalSectionAccess outer(&cs);
                cSafeCriticalSectionAccess inner(&cs);  // re-entry on the same thread
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(Event, OperationsFailBeforeCreateAndAfterCloseAndAZeroWaitReportsTheState) {
    cEvent e;
    EXPECT_FALSE(e.valid());
    EXPECT_FALSE(e.set());
    EXPECT_FALSE(e.wait());
    EXPECT_FALSE(e.reset());
    EXPECT_FALSE(e.try_wait());
    EXPECT_EQ(e.wait_ms(10), 0);
    ASSERT_TRUE(e.create(nullptr, true, false));
    EXPECT_TRUE(e.valid());
    e.close();
    EXPECT_FALSE(e.set());
    EXPECT_EQ(e.wait_ms(0), 0);
    ASSERT_TRUE(e.create(nullptr, false, false));  // a zero wait reports the state
    EXPECT_EQ(e.wait_ms(0), 1);
    EXPECT_TRUE(e.set());
    EXPECT_EQ(e.wait_ms(0), 2);
    EXPECT_EQ(e.wait_ms(0), 1);  // cleared by the successful wait
    cEvent initially;
    ASSERT_TRUE(initially.create(nullptr, true, false));
    EXPECT_TRUE(initially.try_wait());
    EXPECT_FALSE(initially.try_wait());
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
    cEvent e;
    ASSERT_TRUE(e.create(nullptr, false, true));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 5; ++i)
        waiters.emplace_back([&] {
            if (e.wait_ms(10000) == 2) ++released;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(e.set());
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released, 5);
    EXPECT_TRUE(e.wait());
    EXPECT_EQ(e.wait_ms(0), 2);
    ASSERT_TRUE(e.reset());
    EXPECT_EQ(e.wait_ms(0), 1);
}

TEST(Event, AutoResetSetReleasesExactlyOneOfTwoWaiters) {
    cEvent e;
    ASSERT_TRUE(e.create(nullptr, false, false));
    std::atomic<int> released{0}, timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            int r = e.wait_ms(400);
            if (r == 2) ++released;
            if (r == 1) ++timedOut;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(e.set());
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(timedOut, 1);
}

TEST(Event, TimedWaitWaitsTheFullTimeAcrossASecondBoundary) {
    cEvent e;
    ASSERT_TRUE(e.create(nullptr, false, false));
    // 1,950 ms: the fraction added to the current time passes a whole second
    // for almost every starting point.
    for (unsigned int ms : {950u, 1950u}) {
        auto t0 = Clock::now();
        EXPECT_EQ(e.wait_ms(ms), 1);
        long long waited = msSince(t0);
        EXPECT_GE(waited, static_cast<long long>(ms));
        EXPECT_LT(waited, static_cast<long long>(ms) + 1000);
    }
}

}  // namespace
