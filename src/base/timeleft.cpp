#include "base/timeleft.h"

#include <algorithm>

namespace {

// Samples closer than this to the one before are merged into it: the caller
// may report thousands of times a second.
constexpr double kSampleGap = 0.05;
constexpr double kFirstEstimate = 0.5;
// The least time the work must have been moving to give a rate.
constexpr double kFirstMove = 0.25;

double windowAt(double elapsed) {
    return std::min(cTimeLeftEstimator::kMaxWindow, std::max(cTimeLeftEstimator::kMinWindow, elapsed / 3));
}

}  // namespace

void cTimeLeftEstimator::add(double seconds, double share) {
    share = std::min(1.0, std::max(0.0, share));
    if (samples_.empty()) {
        // The work began at 0 with nothing done.
        samples_.push_back({0.0, 0.0});
    }
    if (seconds < samples_.back().t) return;
    share = std::max(share, samples_.back().share);
    if (share <= 0) idleUntil_ = seconds;
    if (samples_.size() > 1 && seconds - samples_[samples_.size() - 2].t < kSampleGap)
        samples_.back() = {seconds, share};
    else
        samples_.push_back({seconds, share});
    // Keep one sample at or before the start of the widest window the next
    // estimates can ask for.
    const double keepFrom = seconds - kMaxWindow;
    while (samples_.size() > 2 && samples_[1].t <= keepFrom) samples_.pop_front();
}

double cTimeLeftEstimator::shareAt(double t) const {
    if (t <= samples_.front().t) return samples_.front().share;
    for (std::size_t i = 1; i < samples_.size(); ++i) {
        const sSample& b = samples_[i];
        if (t > b.t) continue;
        const sSample& a = samples_[i - 1];
        const double span = b.t - a.t;
        return span > 0 ? a.share + (b.share - a.share) * (t - a.t) / span : b.share;
    }
    return samples_.back().share;
}

double cTimeLeftEstimator::secondsLeft() const {
    if (samples_.empty()) return -1;
    const sSample& now = samples_.back();
    if (now.share >= 1.0) return 0;
    if (now.t < kFirstEstimate || now.share <= 0) return -1;
    // The window reaches back no further than the moment the work began
    // to move: a wait before it (files hashed before the first byte is
    // packed) is no part of the rate.
    const double from = std::max(now.t - windowAt(now.t), idleUntil_);
    if (now.t - from < kFirstMove) return -1;
    const double window = now.t - from;
    double rate = (now.share - shareAt(from)) / window;
    // Nothing moved within the window (a stall): the run's average is all
    // there is to go by.
    if (rate <= 0) rate = now.share / now.t;
    return (1.0 - now.share) / rate;
}
