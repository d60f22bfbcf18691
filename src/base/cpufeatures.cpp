#include "base/cpufeatures.h"

#include <cstdlib>
#include <cstring>

namespace qor_cpu {
namespace {

struct sFeatures {
    bool avx2 = false;
    bool avx512bw = false;
    bool avx512vnni = false;
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

sFeatures detect() {
    sFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    f.avx2 = __builtin_cpu_supports("avx2");
    f.avx512bw = f.avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    f.avx512vnni = f.avx512bw && __builtin_cpu_supports("avx512vnni");
#endif
    const char* off = std::getenv("QOR_CPU_DISABLE");
    if (names(off, "avx2")) f.avx2 = f.avx512bw = f.avx512vnni = false;
    if (names(off, "avx512")) f.avx512bw = f.avx512vnni = false;
    return f;
}

const sFeatures& features() {
    static const sFeatures f = detect();
    return f;
}

}  // namespace

bool hasAvx2() { return features().avx2; }
bool hasAvx512bw() { return features().avx512bw; }
bool hasAvx512Vnni() { return features().avx512vnni; }

}  // namespace qor_cpu
