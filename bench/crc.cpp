// CRC-32 and Adler-32: ours against zlib's and libdeflate's crc32 and adler32
// on the same buffer in the same run.  The table engine behind the carry-less
// folding one, CRC-32C and CRC-64 are timed too, without a reference.
//
// CRC-32 runs over 256 MiB.  Adler-32 runs over 64 KiB, 1 MiB and 256 MiB,
// and the pairs compare it at 64 KiB: this system takes Adler-32 over data
// it has just inflated, a stream's output piece by piece (64 KiB reads, the
// pieces readToEnd hands on) while the piece is still in the caches.  Over
// 256 MiB both sides wait on memory and measure its bandwidth, not the
// checksum.
#include "base/checksum.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kBytes = 256u << 20;

const std::vector<unsigned char>& input() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> v(kBytes);
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& b : v) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<unsigned char>(x);
        }
        return v;
    }();
    return data;
}

template <typename F>
void run(benchmark::State& state, F&& f) {
    const auto& in = input();
    for (auto _ : state) benchmark::DoNotOptimize(f(in.data(), in.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

// The first range(0) bytes of the input, again and again: in the caches
// when that is small enough.
template <typename F>
void runSized(benchmark::State& state, F&& f) {
    const auto& in = input();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(f(in.data(), n));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

// zlib takes at most 4 GiB - 1 per call; 256 MiB fits in one.
void BM_Crc32_Qor(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return crc32n(p, static_cast<long long>(n)); });
}
void BM_Crc32_Zlib(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return ::crc32(0L, p, static_cast<uInt>(n)); });
}
void BM_Crc32_Libdeflate(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return libdeflate_crc32(0, p, n); });
}
void BM_Crc32_QorTableEngine(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return qor_checksum::crc32UpdateTable(~0u, p, n); });
}
void BM_Adler32_Qor(benchmark::State& s) {
    runSized(s, [](const unsigned char* p, std::size_t n) { return adler32(p, static_cast<long long>(n)); });
}
void BM_Adler32_Zlib(benchmark::State& s) {
    runSized(s, [](const unsigned char* p, std::size_t n) { return ::adler32(1L, p, static_cast<uInt>(n)); });
}
void BM_Adler32_Libdeflate(benchmark::State& s) {
    runSized(s, [](const unsigned char* p, std::size_t n) { return libdeflate_adler32(1, p, n); });
}
// Each CRC-32 folding engine the CPU has, on its own.
void BM_Crc32_QorFoldingEngine(benchmark::State& s) {
    const qor_checksum::Crc32Engine engine =
        s.range(0) ? qor_checksum::crc32WideFoldingEngine() : qor_checksum::crc32FoldingEngine();
    if (!engine) {
        s.SkipWithError("not on this CPU");
        return;
    }
    run(s, [engine](const unsigned char* p, std::size_t n) { return engine(~0u, p, n); });
}

// Each Adler-32 engine the CPU has, on its own.
void BM_Adler32_QorEngine(benchmark::State& s) {
    const qor_checksum::AdlerEngine engines[] = {&qor_checksum::adler32UpdatePortable,
                                                 qor_checksum::adler32Avx2Engine(),
                                                 qor_checksum::adler32Avx512Engine()};
    const qor_checksum::AdlerEngine engine = engines[s.range(1)];
    if (!engine) {
        s.SkipWithError("not on this CPU");
        return;
    }
    runSized(s, [engine](const unsigned char* p, std::size_t n) { return engine(1, p, n); });
}
void BM_Crc32c_Qor(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return crc32c(~0u, p, static_cast<long long>(n)); });
}
void BM_Crc64n_Qor(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return crc64n(p, static_cast<long long>(n)); });
}

}  // namespace

BENCHMARK(BM_Crc32_Qor)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Crc32_Zlib)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Crc32_Libdeflate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Crc32_QorTableEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32_Qor)->Arg(65536)->Arg(1 << 20)->Arg(kBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Adler32_Zlib)->Arg(65536)->Arg(1 << 20)->Arg(kBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Adler32_Libdeflate)->Arg(65536)->Arg(1 << 20)->Arg(8 << 20)->Arg(32 << 20)->Arg(kBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32_QorFoldingEngine)->ArgName("wide")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32_QorEngine)
    ->ArgNames({"bytes", "portable_avx2_avx512"})
    ->ArgsProduct({{65536, 1 << 20, 8 << 20, 32 << 20, kBytes}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc32c_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc64n_Qor)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
