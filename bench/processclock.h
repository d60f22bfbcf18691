// The clock of benchmarks that time one piece of an iteration themselves
// (manual time): the process's CPU time, so that work on other threads and
// in the kernel (page faults) counts.
#pragma once

#include <time.h>

namespace bench_clock {

// The process's CPU time in seconds (all threads, kernel time included).
inline double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace bench_clock
