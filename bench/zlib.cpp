// Inflating through our classes against a bare zlib inflate loop on the same
// data, in the same run:
//  - cZStream reading 256 MiB of plain data in 1 MiB reads (the long-read
//    path) and in 64 KiB reads with the package reader's 4 KiB buffers,
//    against inflate() into a 1 MiB buffer that is then handed on;
//  - cZDecompress::decompress of a 32 MiB item against uncompress() into a
//    buffer of the known size, fresh and reused, and against inflate() into
//    a growing buffer when the size is not known;
//  - the same whole-buffer decode against libdeflate's zlib decompressor
//    into a buffer of the known size, fresh and reused (one decompressor
//    for all runs, as ours keeps one per thread).
#include "base/memio.h"
#include "compression/zstream.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kPlainBytes = 256u << 20;
constexpr std::size_t kWholeBytes = 32u << 20;

// Text-like data: words from a small vocabulary with runs of noise between,
// so that deflate finds both matches and literals.
std::vector<unsigned char> mixedData(std::size_t n) {
    static const char* const kWords[] = {"package ", "install ", "qor ",   "registry ", "update ",
                                         "version ", "\n",       "files ", "0123456789", "scenario "};
    std::vector<unsigned char> v;
    v.reserve(n);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&x] {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        return x * 0x2545F4914F6CDD1Dull;
    };
    while (v.size() < n) {
        const std::uint64_t r = next();
        if ((r & 15) == 0) {
            for (int i = 0; i < 7 && v.size() < n; ++i) v.push_back(static_cast<unsigned char>(next() >> 56));
        } else {
            for (const char* w = kWords[(r >> 8) % 10]; *w && v.size() < n; ++w) v.push_back(static_cast<unsigned char>(*w));
        }
    }
    return v;
}

std::vector<unsigned char> compressed(std::size_t plainBytes) {
    const std::vector<unsigned char> plain = mixedData(plainBytes);
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::vector<unsigned char> z(size);
    if (compress2(z.data(), &size, plain.data(), static_cast<uLong>(plain.size()), 6) != Z_OK) std::abort();
    z.resize(size);
    return z;
}

const std::vector<unsigned char>& bigItem() {
    static const std::vector<unsigned char> z = compressed(kPlainBytes);
    return z;
}

const std::vector<unsigned char>& wholeItem() {
    static const std::vector<unsigned char> z = compressed(kWholeBytes);
    return z;
}

// One pass of the bare loop: inflate() into a 1 MiB buffer that is handed on.
void bareInflate(const std::vector<unsigned char>& z, std::vector<unsigned char>& out) {
    z_stream s{};
    if (inflateInit(&s) != Z_OK) std::abort();
    s.next_in = const_cast<Bytef*>(z.data());
    s.avail_in = static_cast<uInt>(z.size());
    std::size_t total = 0;
    int ret = Z_OK;
    while (ret == Z_OK) {
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        ret = inflate(&s, Z_NO_FLUSH);
        total += out.size() - s.avail_out;
        benchmark::DoNotOptimize(out.data());
    }
    inflateEnd(&s);
    if (ret != Z_STREAM_END || total != kPlainBytes) std::abort();
}

// One pass through cZStream over the compressed bytes in memory, with
// buffers of n bytes, in reads of out.size() bytes.
void streamInflate(const std::vector<unsigned char>& z, long long n, std::vector<unsigned char>& out) {
    auto* source = new cBufWrapperIO(const_cast<unsigned char*>(z.data()), static_cast<long long>(z.size()), false);
    cZStream s;
    if (!s.create(source, kPlainBytes, n, true)) std::abort();
    std::size_t total = 0;
    for (;;) {
        const unsigned int got = s.read(out.data(), static_cast<unsigned int>(out.size()));
        if (got == 0 || !cFileIOTarget::transferred(got)) break;
        total += got;
        benchmark::DoNotOptimize(out.data());
    }
    if (total != kPlainBytes) std::abort();
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void BM_BareZlibInflateLoop(benchmark::State& state) {
    const std::vector<unsigned char>& z = bigItem();
    std::vector<unsigned char> out(1 << 20);
    for (auto _ : state) bareInflate(z, out);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_BareZlibInflateLoop)->Unit(benchmark::kMillisecond);

// arg 0 is n (the stream's buffer size), arg 1 the size of each read.
void BM_ZStreamRead(benchmark::State& state) {
    const std::vector<unsigned char>& z = bigItem();
    std::vector<unsigned char> out(static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) streamInflate(z, state.range(0), out);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPlainBytes));
}
BENCHMARK(BM_ZStreamRead)->Args({262144, 1 << 20})->Args({65536, 1 << 20})->Args({4096, 65536})
    ->Unit(benchmark::kMillisecond);

// The machine may be shared: each iteration runs the bare loop and then
// cZStream on the same data, and the counters give the best time of each and
// their ratio (ours / bare).
void BM_ZStreamAgainstBareLoop(benchmark::State& state) {
    const std::vector<unsigned char>& z = bigItem();
    std::vector<unsigned char> bareOut(1 << 20), ourOut(static_cast<std::size_t>(state.range(1)));
    double bestBare = 1e9, bestOurs = 1e9;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        bareInflate(z, bareOut);
        const auto t1 = std::chrono::steady_clock::now();
        streamInflate(z, state.range(0), ourOut);
        const auto t2 = std::chrono::steady_clock::now();
        bestBare = std::min(bestBare, seconds(t0, t1));
        bestOurs = std::min(bestOurs, seconds(t1, t2));
        state.SetIterationTime(seconds(t1, t2));
    }
    state.counters["bare_ms"] = bestBare * 1e3;
    state.counters["ours_ms"] = bestOurs * 1e3;
    state.counters["ratio"] = bestOurs / bestBare;
}
BENCHMARK(BM_ZStreamAgainstBareLoop)->Args({262144, 1 << 20})->Args({65536, 1 << 20})->Args({4096, 65536})
    ->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);

// Whole-buffer decodes of a 32 MiB item.  uncompress() needs the size: it is
// held once against a buffer reused from call to call and once against a
// fresh one, as our decoder returns a fresh buffer every time; ours is told
// the size through its output limit.  Without the size, ours is held against
// inflate() into a buffer that doubles as it fills.
void BM_UncompressWhole_Reused(benchmark::State& state) {
    const std::vector<unsigned char>& z = wholeItem();
    std::vector<unsigned char> out(kWholeBytes);
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &size, z.data(), static_cast<uLong>(z.size())) != Z_OK || size != kWholeBytes) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_UncompressWhole_Reused)->Unit(benchmark::kMillisecond);

void BM_UncompressWhole_Fresh(benchmark::State& state) {
    const std::vector<unsigned char>& z = wholeItem();
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[kWholeBytes]);
        uLongf size = static_cast<uLongf>(kWholeBytes);
        if (uncompress(out.get(), &size, z.data(), static_cast<uLong>(z.size())) != Z_OK || size != kWholeBytes) std::abort();
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_UncompressWhole_Fresh)->Unit(benchmark::kMillisecond);

void BM_LibdeflateWhole_Reused(benchmark::State& state) {
    const std::vector<unsigned char>& z = wholeItem();
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::vector<unsigned char> out(kWholeBytes);
    for (auto _ : state) {
        if (libdeflate_zlib_decompress(d, z.data(), z.size(), out.data(), kWholeBytes, nullptr) != LIBDEFLATE_SUCCESS)
            std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_LibdeflateWhole_Reused)->Unit(benchmark::kMillisecond);

void BM_LibdeflateWhole_Fresh(benchmark::State& state) {
    const std::vector<unsigned char>& z = wholeItem();
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[kWholeBytes]);
        if (libdeflate_zlib_decompress(d, z.data(), z.size(), out.get(), kWholeBytes, nullptr) != LIBDEFLATE_SUCCESS)
            std::abort();
        benchmark::DoNotOptimize(out.get());
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_LibdeflateWhole_Fresh)->Unit(benchmark::kMillisecond);

void BM_ZDecompressWhole_SizeKnown(benchmark::State& state) {
    _typebuf<unsigned char> in;
    in.copyFrom(wholeItem().data(), static_cast<long long>(wholeItem().size()));
    cZDecompress d;
    d.setOutputLimit(kWholeBytes);
    for (auto _ : state) {
        _typebuf<unsigned char> out;
        if (!d.decompress(in, out) || out.count() != static_cast<long long>(kWholeBytes)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_ZDecompressWhole_SizeKnown)->Unit(benchmark::kMillisecond);

// The same decode handed back the buffer of the one before, as
// BM_UncompressWhole_Reused hands uncompress its buffer again.
void BM_ZDecompressWhole_SizeKnown_Reused(benchmark::State& state) {
    _typebuf<unsigned char> in;
    in.copyFrom(wholeItem().data(), static_cast<long long>(wholeItem().size()));
    cZDecompress d;
    d.setOutputLimit(kWholeBytes);
    _typebuf<unsigned char> out;
    for (auto _ : state) {
        if (!d.decompress(in, out) || out.count() != static_cast<long long>(kWholeBytes)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_ZDecompressWhole_SizeKnown_Reused)->Unit(benchmark::kMillisecond);

void BM_InflateGrowing(benchmark::State& state) {
    const std::vector<unsigned char>& z = wholeItem();
    for (auto _ : state) {
        z_stream s = z_stream();
        if (inflateInit(&s) != Z_OK) std::abort();
        std::size_t cap = 65536, used = 0;
        std::unique_ptr<unsigned char[]> out(new unsigned char[cap]);
        s.next_in = const_cast<Bytef*>(z.data());
        s.avail_in = static_cast<uInt>(z.size());
        int ret = Z_OK;
        while (ret == Z_OK) {
            if (used == cap) {
                std::unique_ptr<unsigned char[]> bigger(new unsigned char[2 * cap]);
                std::memcpy(bigger.get(), out.get(), used);
                out.swap(bigger);
                cap *= 2;
            }
            s.next_out = out.get() + used;
            s.avail_out = static_cast<uInt>(cap - used);
            ret = inflate(&s, Z_NO_FLUSH);
            used = cap - s.avail_out;
        }
        inflateEnd(&s);
        if (ret != Z_STREAM_END || used != kWholeBytes) std::abort();
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_InflateGrowing)->Unit(benchmark::kMillisecond);

void BM_ZDecompressWhole_SizeUnknown(benchmark::State& state) {
    _typebuf<unsigned char> in;
    in.copyFrom(wholeItem().data(), static_cast<long long>(wholeItem().size()));
    cZDecompress d;
    for (auto _ : state) {
        _typebuf<unsigned char> out;
        if (!d.decompress(in, out) || out.count() != static_cast<long long>(kWholeBytes)) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kWholeBytes));
}
BENCHMARK(BM_ZDecompressWhole_SizeUnknown)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
