// qor-test-labels: tsan
//
// The case trees are filled on the first mapping of their direction.  This
// program asks for that first mapping from many threads at once, so it must
// not map anything before the threads start.
#include "base/strutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(CaseTreeFirstFill, ManyThreadsAskingAtOnceAllSeeTheWholeTable) {
    constexpr int kThreads = 12;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load()) std::this_thread::yield();
            // Half the threads start with the upper-case tree, half with the
            // lower-case one, so both first fills race.
            for (int pass = 0; pass < 2; ++pass) {
                const bool upperFirst = (t + pass) % 2 == 0;
                for (int i = 0; i < kCaseMapPairs; ++i) {
                    const unsigned short(&pair)[2] = upperFirst ? __acp_uppermap[i] : __acp_lowermap[i];
                    const unsigned short got = upperFirst ? __acp_upper(pair[0]) : __acp_lower(pair[0]);
                    if (got != pair[1]) ++wrong[t];
                }
            }
            // Units outside the tables stay as they are.
            if (__acp_lower(static_cast<unsigned short>(0x0130)) != 0x0130) ++wrong[t];
            if (__acp_upper(static_cast<unsigned short>(0x00DF)) != 0x00DF) ++wrong[t];
        });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    go.store(true);
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST(CaseTreeFirstFill, ComparisonsFromManyThreadsAgree) {
    const unsigned short a[] = {0x0416, 0x00C0, 0x2C00, 'X', 0};  // Ж À Ⰰ X
    const unsigned short b[] = {0x0436, 0x00E0, 0x2C30, 'x', 0};  // ж à ⰰ x
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                if (__wcsicmp(a, b) != 0 || _wcsistr(a, b + 1) != a + 1) failures.fetch_add(1);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
