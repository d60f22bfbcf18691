// Deflating as the payload writer does: 128 KiB pieces, each with the
// 32 KiB before it as history, ended by a sync flush (the last by the
// stream's end), one output buffer reused.  Ours (cBlockDeflater) against
// zlib at level 9 given the same pieces and dictionaries, and libdeflate at
// level 9 on the same pieces (it takes no dictionary), on two texts:
//  - words of a vocabulary of a few dozen, the files of the many-small-files
//    trees of bench/pkgmake_payload.py, where a hash chain search spends the
//    most;
//  - a mix of words and runs of noise.
// The counters give each side's output bytes, so that the sizes can be held
// against each other too.
#include "compression/blockdeflate.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kBytes = 8u << 20;
constexpr std::size_t kPiece = 128 * 1024;
constexpr std::size_t kHistory = 32 * 1024;

std::uint64_t next(std::uint64_t& x) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    return x * 0x2545F4914F6CDD1Dull;
}

std::vector<unsigned char> wordsData(std::size_t n, bool noise) {
    static const char* const kWords[] = {
        "the",  "package", "installs", "registers", "updates", "removes", "software", "for",     "its",
        "user", "version", "install",  "folder",    "file",    "data",    "system",   "memory",  "thread",
        "stream", "scenario", "document", "licence", "readme", "welcome", "0",        "1",       "2",
        "3",    "4",       "5",        "qor",       "manager", "update",  "check",    "release", "notes"};
    std::vector<unsigned char> v;
    v.reserve(n);
    std::uint64_t x = noise ? 0x9E3779B97F4A7C15ull : 12345;
    while (v.size() < n) {
        const std::uint64_t r = next(x);
        if (noise && (r & 15) == 0) {
            for (int i = 0; i < 7; ++i) v.push_back(static_cast<unsigned char>(next(x) >> 56));
            continue;
        }
        for (const char* w = kWords[(r >> 8) % 36]; *w; ++w) v.push_back(static_cast<unsigned char>(*w));
        v.push_back((r & 0x70) == 0 ? '\n' : ' ');
    }
    v.resize(n);
    return v;
}

const std::vector<unsigned char>& input(int which) {
    static const std::vector<unsigned char> words = wordsData(kBytes, false);
    static const std::vector<unsigned char> mixed = wordsData(kBytes, true);
    return which == 0 ? words : mixed;
}

void BM_PiecesDeflate_Qor(benchmark::State& state) {
    const std::vector<unsigned char>& in = input(static_cast<int>(state.range(0)));
    cBlockDeflater d;
    std::vector<unsigned char> out(cBlockDeflater::bound(kPiece));
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, in.size() - at);
            const std::size_t got =
                d.deflate(in.data() + at, n, std::min(at, kHistory), at + n == in.size(), out.data(), out.size());
            if (!got) std::abort();
            total += got;
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["out_bytes"] = static_cast<double>(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PiecesDeflate_Qor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PiecesDeflate_Zlib9(benchmark::State& state) {
    const std::vector<unsigned char>& in = input(static_cast<int>(state.range(0)));
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    std::vector<unsigned char> out(deflateBound(&z, kPiece) + 64);
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, in.size() - at);
            const bool last = at + n == in.size();
            const std::size_t dict = std::min(at, kHistory);
            if (deflateReset(&z) != Z_OK) std::abort();
            if (dict && deflateSetDictionary(&z, in.data() + at - dict, static_cast<uInt>(dict)) != Z_OK) std::abort();
            z.next_in = const_cast<unsigned char*>(in.data() + at);
            z.avail_in = static_cast<uInt>(n);
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
            if (rc != (last ? Z_STREAM_END : Z_OK)) std::abort();
            total += out.size() - z.avail_out;
            benchmark::DoNotOptimize(out.data());
        }
    }
    deflateEnd(&z);
    state.counters["out_bytes"] = static_cast<double>(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PiecesDeflate_Zlib9)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PiecesDeflate_Libdeflate9(benchmark::State& state) {
    const std::vector<unsigned char>& in = input(static_cast<int>(state.range(0)));
    libdeflate_compressor* c = libdeflate_alloc_compressor(9);
    if (!c) std::abort();
    std::vector<unsigned char> out(libdeflate_deflate_compress_bound(c, kPiece));
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, in.size() - at);
            const std::size_t got = libdeflate_deflate_compress(c, in.data() + at, n, out.data(), out.size());
            if (!got) std::abort();
            total += got;
            benchmark::DoNotOptimize(out.data());
        }
    }
    libdeflate_free_compressor(c);
    state.counters["out_bytes"] = static_cast<double>(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PiecesDeflate_Libdeflate9)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
