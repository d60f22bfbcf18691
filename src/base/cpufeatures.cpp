#include "base/cpufeatures.h"

#include <cstdlib>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif
#include <cstring>

namespace qor_cpu {
namespace {

struct sFeatures {
    bool avx2 = false;
    bool avx512bw = false;
    bool avx512vl = false;
    bool avx512vnni = false;
    bool fastStringMove = false;
};

// Whether the comma-separated list names `word`.
bool names(const char* list, const char* word) {
    const std::size_t n = std::strlen(word);
    for (const char* p = list; p && *p;) {
        const char* end = std::strchr(p, ',');
        const std::size_t len = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (len == n && std::strncmp(p, word, n) == 0) return true;
        p = end ? end + 1 : nullptr;
    }
    return false;
}

#if defined(__x86_64__) || defined(__i386__)
// ERMS (leaf 7, EBX bit 9) and FSRM (leaf 7, EDX bit 4).
bool fastShortRepMove() {
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 9)) != 0 && (d & (1u << 4)) != 0;
}
#endif

sFeatures detect() {
    sFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    f.avx2 = __builtin_cpu_supports("avx2");
    f.avx512bw = f.avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    f.avx512vl = f.avx512bw && __builtin_cpu_supports("avx512vl");
    f.avx512vnni = f.avx512bw && __builtin_cpu_supports("avx512vnni");
    f.fastStringMove = __builtin_cpu_is("intel") && fastShortRepMove();
#endif
    const char* off = std::getenv("QOR_CPU_DISABLE");
    if (names(off, "avx2")) f.avx2 = f.avx512bw = f.avx512vl = f.avx512vnni = false;
    if (names(off, "avx512")) f.avx512bw = f.avx512vl = f.avx512vnni = false;
    if (names(off, "fsrm")) f.fastStringMove = false;
    return f;
}

const sFeatures& features() {
    static const sFeatures f = detect();
    return f;
}

}  // namespace

bool hasAvx2() { return features().avx2; }
bool hasAvx512bw() { return features().avx512bw; }
bool hasAvx512vl() { return features().avx512vl; }
bool hasAvx512Vnni() { return features().avx512vnni; }
bool hasFastStringMove() { return features().fastStringMove; }

}  // namespace qor_cpu
