// The clock of benchmarks that time one piece of an iteration themselves
// (manual time): the process's CPU time, so that work on other threads and
// in the kernel (page faults) counts.
#pragma once

#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace bench_clock {

// The process's CPU time in seconds (all threads, kernel time included).
inline double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The sizes a benchmark runs: the comma-separated numbers of the
// environment variable `name` (to try other sizes without a rebuild), read
// up to the first that is not one; the defaults when it is unset or starts
// with none.
inline std::vector<std::int64_t> sizesFromEnv(const char* name, std::vector<std::int64_t> defaults) {
    const char* asked = std::getenv(name);
    if (!asked) return defaults;
    std::vector<std::int64_t> sizes;
    for (const char* p = asked; *p;) {
        char* end = nullptr;
        const long long n = std::strtoll(p, &end, 10);
        if (end == p) break;
        if (n > 0 && n <= 4096) sizes.push_back(n);
        p = *end == ',' ? end + 1 : end;
    }
    return sizes.empty() ? defaults : sizes;
}

}  // namespace bench_clock
