// String utilities against what a user would otherwise pick: glibc's
// towlower/wcscasecmp/strcasestr in a UTF-8 locale, Vectorscan's caseless
// literal search, strtoull, strtoll, swprintf, and std::string as a sorted
// key.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

#if defined(QOR_HAVE_VECTORSCAN)
#include <dlfcn.h>
#include <hs/hs.h>
#endif

#include "base/cpufeatures.h"
#include "base/strkey.h"
#include "base/strutil.h"

namespace {

// Mixed text: ASCII words with Latin-1, Greek and Cyrillic letters in both
// cases, as file names and configuration keys look.
std::vector<unsigned short> mixedUnits(size_t n) {
    static const unsigned short pool[] = {'a', 'B', 'c', 'D', 'e', ' ', '_', '.', '1', 0x00C9, 0x00E9, 0x0391,
                                          0x03B2, 0x0416, 0x0436, 0x0410, 0x0430, 'x', 'Y', 'z'};
    std::mt19937 rng(7);
    std::vector<unsigned short> v(n);
    for (auto& u : v) u = pool[rng() % (sizeof pool / sizeof pool[0])];
    return v;
}

struct Locale {
    Locale() { std::setlocale(LC_ALL, "C.UTF-8"); }
} locale;

void BM_LowerUnit_Qor(benchmark::State& state) {
    const auto text = mixedUnits(4096);
    for (auto _ : state) {
        unsigned sum = 0;
        for (unsigned short u : text) sum += __acp_lower(u);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(text.size()));
}
BENCHMARK(BM_LowerUnit_Qor);

void BM_LowerUnit_Towlower(benchmark::State& state) {
    const auto units = mixedUnits(4096);
    std::vector<wint_t> text(units.begin(), units.end());
    for (auto _ : state) {
        unsigned sum = 0;
        for (wint_t u : text) sum += static_cast<unsigned>(std::towlower(u));
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(text.size()));
}
BENCHMARK(BM_LowerUnit_Towlower);

void BM_WideICompare_Qor(benchmark::State& state) {
    auto a = mixedUnits(256);
    a.push_back(0);
    std::vector<unsigned short> b(a);
    for (auto& u : b) u = __acp_upper(u);
    for (auto _ : state) benchmark::DoNotOptimize(__wcsicmp(a.data(), b.data()));
    state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_WideICompare_Qor);

void BM_WideICompare_Wcscasecmp(benchmark::State& state) {
    auto units = mixedUnits(256);
    std::wstring a(units.begin(), units.end());
    std::wstring b(a);
    for (auto& c : b) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    for (auto _ : state) benchmark::DoNotOptimize(wcscasecmp(a.c_str(), b.c_str()));
    state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_WideICompare_Wcscasecmp);

std::string asciiHay() {
    std::string hay;
    std::mt19937 rng(3);
    while (hay.size() < 4000) hay += static_cast<char>("abcdefgh ABCDEFGH:-"[rng() % 19]);
    hay += "Content-Length: 42";
    return hay;
}

void BM_Stristr_Qor(benchmark::State& state) {
    const std::string hay = asciiHay();
    for (auto _ : state) benchmark::DoNotOptimize(_stristr(hay.c_str(), "content-length"));
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(hay.size()));
}
BENCHMARK(BM_Stristr_Qor);

void BM_Stristr_Strcasestr(benchmark::State& state) {
    const std::string hay = asciiHay();
    for (auto _ : state) benchmark::DoNotOptimize(strcasestr(hay.c_str(), "content-length"));
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(hay.size()));
}
BENCHMARK(BM_Stristr_Strcasestr);

#if defined(QOR_HAVE_VECTORSCAN)
// Vectorscan picks its code by asking the processor, which a mask such as
// QOR_CPU_DISABLE=avx512 cannot reach.  So where our kernels are told to
// leave AVX-512 (or AVX2) alone, the benchmark calls the variant such a
// processor would get, which the library exports under its own name, with a
// database built for that variant.
struct sVectorscanTarget {
    decltype(&hs_scan) scan = nullptr;
    hs_platform_info_t platform{};
    const hs_platform_info_t* platformOrHost = nullptr;  // nullptr: this processor
};

sVectorscanTarget vectorscanTarget() {
    sVectorscanTarget t;
    if (qor_cpu::hasAvx512bw()) {
        t.scan = &hs_scan;
        return t;
    }
    if (hs_populate_platform(&t.platform) != HS_SUCCESS) return t;
    t.platform.cpu_features &= qor_cpu::hasAvx2() ? HS_CPU_FEATURES_AVX2 : 0;
    t.platformOrHost = &t.platform;
    t.scan = reinterpret_cast<decltype(&hs_scan)>(
        dlsym(RTLD_DEFAULT, qor_cpu::hasAvx2() ? "avx2_hs_scan" : "corei7_hs_scan"));
    return t;
}

// Vectorscan's block mode with the needle compiled once as a caseless
// literal, outside the timing, and its scratch space allocated once: what a
// user after the fastest search would set up.  The scan stops at the first
// match, as _stristr does; the haystack's length is counted inside the
// timing, since _stristr is handed a C string and finds its end itself.
void BM_Stristr_Vectorscan(benchmark::State& state) {
    const std::string hay = asciiHay();
    static const char kNeedle[] = "content-length";
    const sVectorscanTarget target = vectorscanTarget();
    if (!target.scan) {
        state.SkipWithError("this Vectorscan has no code for the processor the mask leaves");
        return;
    }
    hs_database_t* db = nullptr;
    hs_compile_error_t* error = nullptr;
    if (hs_compile_lit(kNeedle, HS_FLAG_CASELESS | HS_FLAG_SOM_LEFTMOST, sizeof kNeedle - 1, HS_MODE_BLOCK,
                       target.platformOrHost, &db, &error) != HS_SUCCESS) {
        state.SkipWithError(error ? error->message : "hs_compile_lit failed");
        hs_free_compile_error(error);
        return;
    }
    hs_scratch_t* scratch = nullptr;
    if (hs_alloc_scratch(db, &scratch) != HS_SUCCESS) {
        hs_free_database(db);
        state.SkipWithError("hs_alloc_scratch failed");
        return;
    }
    struct sFirst {
        const char* hay;
        const char* found;
    };
    auto onMatch = [](unsigned int, unsigned long long from, unsigned long long, unsigned int, void* ctx) -> int {
        auto* f = static_cast<sFirst*>(ctx);
        f->found = f->hay + from;
        return 1;  // the first match is all we want
    };
    const char* expected = strcasestr(hay.c_str(), kNeedle);
    for (auto _ : state) {
        const char* h = hay.c_str();
        sFirst first{h, nullptr};
        const hs_error_t status =
            target.scan(db, h, static_cast<unsigned int>(std::strlen(h)), 0, scratch, onMatch, &first);
        if (status != HS_SUCCESS && status != HS_SCAN_TERMINATED) {
            state.SkipWithError("Vectorscan refused the scan");
            break;
        }
        if (first.found != expected) state.SkipWithError("Vectorscan found another place");
        benchmark::DoNotOptimize(first.found);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(hay.size()));
    hs_free_scratch(scratch);
    hs_free_database(db);
}
BENCHMARK(BM_Stristr_Vectorscan);
#endif

void BM_ParseU64_Qor(benchmark::State& state) {
    const char* texts[] = {"  12345", "0x1F2E3D", "18446744073", "-77", " 9"};
    for (auto _ : state) {
        for (const char* t : texts) benchmark::DoNotOptimize(strToU64(t));
    }
    state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(BM_ParseU64_Qor);

void BM_ParseU64_Strtoull(benchmark::State& state) {
    const char* texts[] = {"  12345", "0x1F2E3D", "18446744073", "-77", " 9"};
    for (auto _ : state) {
        for (const char* t : texts) benchmark::DoNotOptimize(std::strtoull(t, nullptr, 0));
    }
    state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(BM_ParseU64_Strtoull);

// Signed decimals as configuration values hold them, against strtoll.
const char* const kDecimals[] = {"12345", "-77", "1700000000", "0", "-9000000000000", "42", "65536", "7"};

void BM_ParseI64_Qor(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* t : kDecimals) benchmark::DoNotOptimize(strToInt64(t));
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_ParseI64_Qor);

void BM_ParseI64_Strtoll(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* t : kDecimals) benchmark::DoNotOptimize(std::strtoll(t, nullptr, 10));
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_ParseI64_Strtoll);

void BM_WideFormat_Qor(benchmark::State& state) {
    const unsigned short fmt[] = {'%', 's', ' ', '%', '0', '8', 'x', ' ', '%', 'd', 0};
    unsigned short out[64];
    for (auto _ : state) benchmark::DoNotOptimize(_swprintf_s(out, 64, fmt, "name", 0xBEEFu, -42));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WideFormat_Qor);

void BM_WideFormat_Swprintf(benchmark::State& state) {
    wchar_t out[64];
    for (auto _ : state) benchmark::DoNotOptimize(std::swprintf(out, 64, L"%s %08x %d", "name", 0xBEEFu, -42));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WideFormat_Swprintf);

// Sorting keys that share long prefixes, as configuration paths do.
std::vector<std::string> keyTexts() {
    std::vector<std::string> v;
    std::mt19937 rng(11);
    for (int i = 0; i < 20000; ++i) v.push_back("install/package-" + std::to_string(rng() % 100000) + "/files/" + std::to_string(i));
    return v;
}

void BM_SortKeys_StringKey(benchmark::State& state) {
    const auto texts = keyTexts();
    std::vector<cStringKey> keys;
    for (const auto& t : texts) keys.emplace_back(t.c_str(), static_cast<long long>(t.size()));
    for (auto _ : state) {
        std::vector<const cStringKey*> order;
        for (const auto& k : keys) order.push_back(&k);
        std::sort(order.begin(), order.end(), [](const cStringKey* a, const cStringKey* b) { return *a < *b; });
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(texts.size()));
}
BENCHMARK(BM_SortKeys_StringKey);

void BM_SortKeys_StdString(benchmark::State& state) {
    const auto texts = keyTexts();
    for (auto _ : state) {
        std::vector<const std::string*> order;
        for (const auto& k : texts) order.push_back(&k);
        std::sort(order.begin(), order.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(texts.size()));
}
BENCHMARK(BM_SortKeys_StdString);

}  // namespace

BENCHMARK_MAIN();
