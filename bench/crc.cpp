// CRC-32 and Adler-32 of 256 MiB: ours against zlib's and libdeflate's crc32
// and adler32 on the same buffer in the same run.  The table engine behind the carry-less
// folding one, CRC-32C and CRC-64 are timed too, without a reference.
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
    run(s, [](const unsigned char* p, std::size_t n) { return adler32(p, static_cast<long long>(n)); });
}
void BM_Adler32_Zlib(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return ::adler32(1L, p, static_cast<uInt>(n)); });
}
void BM_Adler32_Libdeflate(benchmark::State& s) {
    run(s, [](const unsigned char* p, std::size_t n) { return libdeflate_adler32(1, p, n); });
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
    const qor_checksum::AdlerEngine engine = engines[s.range(0)];
    if (!engine) {
        s.SkipWithError("not on this CPU");
        return;
    }
    run(s, [engine](const unsigned char* p, std::size_t n) { return engine(1, p, n); });
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
BENCHMARK(BM_Adler32_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32_Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32_Libdeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32_QorFoldingEngine)->ArgName("wide")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32_QorEngine)->ArgName("portable_avx2_avx512")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32c_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc64n_Qor)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
