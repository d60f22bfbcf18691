// The clock of benchmarks that time one piece of an iteration themselves
// (manual time): the process's CPU time, so that work on other threads and
// in the kernel (page faults) counts.
#pragma once

#include <malloc.h>
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

// Every large block a fresh mapping, as in the first load of a process.
// The C library maps blocks from 128 KiB up afresh, but once such a block
// is freed it raises that threshold to the block's size (up to 32 MiB) and
// hands the next blocks out of the heap, whose pages the process already
// holds: timed again and again, a 10 MiB buffer would then take no page
// faults while a 100 MiB one takes them all.  Fixing the threshold at the
// library's start value, which also ends the raising, gives every size the
// pages a program that loads one payload or opens one picture gets.
inline void mapLargeBlocksAfresh() { mallopt(M_MMAP_THRESHOLD, 128 << 10); }

}  // namespace bench_clock
