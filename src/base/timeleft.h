// How long a piece of work has left, from how fast its share done grew over
// the last few seconds.  The average over the whole run would carry a slow
// start (files hashed before the first byte is packed, threads starting,
// caches cold) into every later estimate; a window that trails the present
// by a third of the time so far, between one and four seconds, forgets the
// start by the time a fifth of the work is done and still smooths the lumps
// in which progress arrives.  Nor does the window reach back past the moment
// the work first moved: a wait before that says nothing of its rate.
//
// The clock is the caller's: times are seconds since the work began, so the
// estimator can be fed by a real clock or a made-up one alike.
#pragma once

#include <deque>

class cTimeLeftEstimator {
public:
    // The share done (0 to 1) at `seconds`.  Times must not go backwards;
    // a sample from the past is ignored.
    void add(double seconds, double share);
    // Seconds left after the latest sample; -1 while there is nothing to go
    // by (less than half a second of work, or nothing done at all).
    double secondsLeft() const;
    // How long the work has been moving: from the last sample with nothing
    // done to the latest sample (0 before any).  A display that wants a few
    // seconds of rate behind its first estimate asks this.
    double secondsMoving() const { return samples_.empty() ? 0 : samples_.back().t - idleUntil_; }
    // Starts again with no samples.
    void reset() {
        samples_.clear();
        idleUntil_ = 0;
    }

    static constexpr double kMinWindow = 1.0;
    static constexpr double kMaxWindow = 4.0;

private:
    struct sSample {
        double t;
        double share;
    };
    // The share done at time t, by linear interpolation between samples.
    double shareAt(double t) const;

    std::deque<sSample> samples_;
    // The last time nothing at all was done yet.
    double idleUntil_ = 0;
};
