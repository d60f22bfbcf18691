// Installer payloads: saving and loading a scenario that carries 4 MiB of
// package items, beside what a user would otherwise do with the same bytes:
// zlib's compress2 at level 9 plus OpenSSL's SHA-256 of the body, and
// uncompress plus SHA-256 to read it.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "pakvane/scenario.h"

namespace {

// Text-like bytes that deflate about as well as program files.
std::vector<unsigned char> sampleBytes(std::size_t n) {
    std::vector<unsigned char> v(n);
    unsigned x = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = static_cast<unsigned char>("abcdefgh ijklmnop\n"[(x >> 16) % 18]);
    }
    return v;
}

constexpr std::size_t kItemBytes = 1 << 20;
constexpr int kItems = 4;

struct cPayload {
    cSoftPkgScenario scenario;
    std::vector<unsigned char> plain;
    cPayload() {
        scenario.setStr(-1, "codename", "bench");
        for (int i = 0; i < kItems; ++i) {
            std::vector<unsigned char> b = sampleBytes(kItemBytes);
            b[0] = static_cast<unsigned char>(i);
            cBufWrapperIO src(b.data(), static_cast<long long>(b.size()), false);
            scenario.package().addPkgItem(&src, false);
            plain.insert(plain.end(), b.begin(), b.end());
        }
    }
};

void BM_ScenarioSave(benchmark::State& state) {
    cPayload p;
    for (auto _ : state) {
        cMemIOTarget out;
        if (!p.scenario.saveBinConfig(&out)) state.SkipWithError("save failed");
        benchmark::DoNotOptimize(out.size());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ScenarioSave)->Unit(benchmark::kMillisecond);

void BM_ZlibLevel9AndSha256(benchmark::State& state) {
    cPayload p;
    std::vector<unsigned char> out(compressBound(p.plain.size()));
    for (auto _ : state) {
        unsigned char d[32];
        SHA256(p.plain.data(), p.plain.size(), d);
        uLongf n = out.size();
        compress2(out.data(), &n, p.plain.data(), p.plain.size(), 9);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ZlibLevel9AndSha256)->Unit(benchmark::kMillisecond);

void BM_ScenarioLoad(benchmark::State& state) {
    cPayload p;
    cMemIOTarget out;
    p.scenario.saveBinConfig(&out);
    for (auto _ : state) {
        out.set_fp(0);
        cSoftPkgScenario back;
        if (!back.loadBinConfig(&out)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(back.package().count());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ScenarioLoad)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ZlibUncompressAndSha256(benchmark::State& state) {
    cPayload p;
    std::vector<unsigned char> packed(compressBound(p.plain.size()));
    uLongf pn = packed.size();
    compress2(packed.data(), &pn, p.plain.data(), p.plain.size(), 9);
    std::vector<unsigned char> back(p.plain.size());
    for (auto _ : state) {
        uLongf n = back.size();
        uncompress(back.data(), &n, packed.data(), pn);
        unsigned char d[32];
        SHA256(back.data(), n, d);
        benchmark::DoNotOptimize(d[0]);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ZlibUncompressAndSha256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
