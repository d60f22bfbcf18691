// The time-left estimate, fed by a made-up clock with the progress of runs
// whose true end is known: past a fifth of the work (after a wait before
// the work moves, almost at once) it may say at most a third more than the
// time really left (plus half a second: the line shows
// whole seconds), whatever the start cost; on a steady run it is not far
// under either.
#include "base/timeleft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

struct sRun {
    std::string name;
    double end;                           // seconds the run takes
    std::function<double(double)> share;  // share done at a time
    double step;                          // how often progress is reported
    bool steady;                          // also bounded from below
    double from = 0.2;                    // the share from which it is bounded
};

// The share of a run that does nothing for `wait` seconds and then works at
// a rate that changes linearly from 1 to `factor` times its first rate.
std::function<double(double)> drifting(double wait, double work, double factor) {
    return [=](double t) {
        if (t <= wait) return 0.0;
        const double x = std::min(1.0, (t - wait) / work);
        // The integral of 1 + (factor - 1) x, scaled to reach 1 at x = 1.
        return (x + (factor - 1) * x * x / 2) / (1 + (factor - 1) / 2);
    };
}

TEST(TimeLeft, PastAFifthNeverMoreThanAThirdOverTheTimeReallyLeft) {
    std::mt19937 rng(3);
    // A long run whose rate jitters by up to a third every tenth of a
    // second, as packing small and large files does.
    std::vector<double> jitter(1300);
    double sum = 0;
    for (double& j : jitter) sum += j = 1.0 + (static_cast<double>(rng() % 601) - 300) / 900.0;
    const std::vector<sRun> runs = {
        {"steady", 10, [](double t) { return t / 10; }, 0.01, true},
        // Half a second of threads starting, then steady: the 1 GiB file
        // that is hashed before its first byte is packed waits longer.
        {"slow start", 8.5, drifting(0.5, 8, 1), 0.01, true},
        {"one and a half seconds hashing first", 9.5, drifting(1.5, 8, 1), 0.01, true},
        // A wait before anything moves is no part of the rate: bounded
        // almost from the first move.
        {"four seconds hashing first", 24, drifting(4, 20, 1), 0.01, true, 0.02},
        {"lumps every half second", 20, [](double t) { return std::floor(t * 2) / 40; }, 0.01, true},
        {"speeding up by half", 12, drifting(0.3, 11.7, 1.5), 0.01, false},
        {"slowing to two thirds", 12, drifting(0.3, 11.7, 2.0 / 3), 0.01, false},
        {"jittering for two minutes", 130,
         [&](double t) {
             double done = 0;
             const std::size_t whole = static_cast<std::size_t>(t * 10);
             for (std::size_t i = 0; i < whole && i < jitter.size(); ++i) done += jitter[i];
             if (whole < jitter.size()) done += jitter[whole] * (t * 10 - static_cast<double>(whole));
             return std::min(1.0, done / sum);
         },
         0.02, false},
    };
    for (const sRun& run : runs) {
        cTimeLeftEstimator e;
        int checked = 0;
        double worst = 0;
        for (double t = 0; t < run.end - 0.05; t += run.step) {
            const double share = run.share(t);
            e.add(t, share);
            const double said = e.secondsLeft();
            const double truth = run.end - t;
            if (share < run.from) continue;
            ASSERT_GE(said, 0) << run.name << " at " << t;
            ++checked;
            worst = std::max(worst, said / truth);
            EXPECT_LE(said, truth * 4 / 3 + 0.5) << run.name << " at " << t << " s, " << share * 100 << "%";
            if (run.steady) {
                EXPECT_GE(said, truth * 3 / 4 - 0.5) << run.name << " at " << t << " s";
            }
        }
        EXPECT_GT(checked, 100) << run.name;
        RecordProperty(run.name.c_str(), std::to_string(worst));
    }
}

TEST(TimeLeft, UnknownUntilThereIsARateAndNothingAtTheEnd) {
    cTimeLeftEstimator e;
    EXPECT_EQ(e.secondsLeft(), -1);
    e.add(0.2, 0.1);
    EXPECT_EQ(e.secondsLeft(), -1);  // too early to tell
    cTimeLeftEstimator idle;
    idle.add(3, 0);
    EXPECT_EQ(idle.secondsLeft(), -1);  // nothing done yet
    // A stall longer than the window: the run's average holds until the
    // work moves again.
    cTimeLeftEstimator stalled;
    for (int i = 0; i <= 40; ++i) stalled.add(i / 10.0, i / 100.0);
    for (int i = 41; i <= 200; ++i) stalled.add(i / 10.0, 0.4);
    EXPECT_NEAR(stalled.secondsLeft(), 0.6 / (0.4 / 20), 1e-6);
    // Samples from the past change nothing; a share that falls back is
    // taken as the share already reached; the end is 0 left.
    stalled.add(5, 0.9);
    EXPECT_NEAR(stalled.secondsLeft(), 0.6 / (0.4 / 20), 1e-6);
    stalled.add(21, 0.1);
    EXPECT_NEAR(stalled.secondsLeft(), 0.6 / (0.4 / 21), 1e-6);
    stalled.add(22, 1.0);
    EXPECT_EQ(stalled.secondsLeft(), 0);
    stalled.reset();
    EXPECT_EQ(stalled.secondsLeft(), -1);
}

TEST(TimeLeft, TheTimeMovingCountsFromTheLastSampleWithNothingDone) {
    cTimeLeftEstimator e;
    EXPECT_EQ(e.secondsMoving(), 0);
    // Two and a half seconds of nothing, then work: it moves from 2.5 s.
    for (int i = 0; i <= 60; ++i) e.add(i / 10.0, i <= 25 ? 0.0 : (i - 25) / 100.0);
    EXPECT_NEAR(e.secondsMoving(), 6.0 - 2.5, 1e-9);
    e.reset();
    EXPECT_EQ(e.secondsMoving(), 0);
}

}  // namespace
