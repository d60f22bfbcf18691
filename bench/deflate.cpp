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
//
// With --blocks FILE... it measures instead how the payload writer's choice
// of engine fares block by block: each file is cut as the writer cuts a
// body (128 KiB blocks after 32 KiB of history), each block deflated by zlib
// at level 9 and by ours (the fastest of three runs each, this thread's CPU
// time), and the table gives, for each file, the blocks stored, those the
// choice (blockDeflaterQuicker) gives ours, those of them on which zlib was
// quicker by more than 3% and the worst, and the seconds taken by zlib
// alone, by the engines as chosen (the choice's own time included) and by
// the quicker of the two on every block, each with the test for stored
// blocks.  --csv adds a line per block: the choice, its time and each
// engine's (microseconds), and each engine's output bytes.
//   bench_deflate --blocks [--csv] FILE...
#include "compression/blockdeflate.h"
#include "pakvane/storedblocks.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool readFile(const char* path, std::vector<unsigned char>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char buf[1 << 16];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + got);
    std::fclose(f);
    return true;
}

int blockTable(int argc, char** argv) {
    bool csv = false;
    std::printf("| file | MB | blocks | stored | ours | ours slower by >3%% | worst | zlib alone s | as chosen s | "
                "quicker each s |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (int a = 0; a < argc; ++a) {
        if (std::strcmp(argv[a], "--csv") == 0) {
            csv = true;
            continue;
        }
        std::vector<unsigned char> in;
        if (!readFile(argv[a], in)) {
            std::fprintf(stderr, "cannot read %s\n", argv[a]);
            return 2;
        }
        cBlockDeflater ours;
        z_stream z{};
        if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 2;
        std::vector<unsigned char> out(std::max<std::size_t>(cBlockDeflater::bound(kPiece), deflateBound(&z, kPiece) + 64));
        sStoredScratch scratch;
        std::size_t blocks = 0, stored = 0, chosen = 0, slower = 0;
        double worst = 0, zlibAlone = 0, asChosen = 0, quicker = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece, ++blocks) {
            const std::size_t n = std::min(kPiece, in.size() - at), dict = std::min(at, kHistory);
            const unsigned char* d = in.data() + at;
            const bool last = at + n == in.size();
            // The test for stored blocks runs whichever engines there are;
            // the choice between them is the cost of having two.
            double t0 = threadSeconds();
            const bool isStored = deflateCannotShrink(d, n, dict, scratch);
            const double storedTest = threadSeconds() - t0;
            zlibAlone += storedTest;
            asChosen += storedTest;
            quicker += storedTest;
            if (isStored) {
                ++stored;
                continue;
            }
            t0 = threadSeconds();
            const bool pick = blockDeflaterQuicker(d, n, dict, scratch);
            const double choice = threadSeconds() - t0;
            double tz = 1e9, to = 1e9;
            std::size_t zb = 0, ob = 0;
            for (int r = 0; r < 3; ++r) {
                t0 = threadSeconds();
                if (deflateReset(&z) != Z_OK || (dict && deflateSetDictionary(&z, d - dict, static_cast<uInt>(dict)) != Z_OK))
                    return 2;
                z.next_in = const_cast<unsigned char*>(d);
                z.avail_in = static_cast<uInt>(n);
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                if (deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH) != (last ? Z_STREAM_END : Z_OK)) return 2;
                tz = std::min(tz, threadSeconds() - t0);
                zb = out.size() - z.avail_out;
                t0 = threadSeconds();
                ob = ours.deflate(d, n, dict, last, out.data(), out.size());
                to = std::min(to, threadSeconds() - t0);
                if (!ob) return 2;
            }
            zlibAlone += tz;
            asChosen += choice + (pick ? to : tz);
            quicker += std::min(tz, to);
            if (pick) {
                ++chosen;
                slower += to > 1.03 * tz;
                worst = std::max(worst, to / tz);
            }
            if (csv)
                std::printf("csv,%s,%zu,%d,%.1f,%.1f,%.1f,%zu,%zu\n", argv[a], blocks, pick, choice * 1e6, tz * 1e6, to * 1e6,
                            zb, ob);
        }
        deflateEnd(&z);
        std::printf("| %s | %.1f | %zu | %zu | %zu | %zu | %.2f | %.2f | %.2f | %.2f |\n", argv[a],
                    static_cast<double>(in.size()) / 1e6, blocks, stored, chosen, slower, worst, zlibAlone, asChosen,
                    quicker);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--blocks") == 0) return blockTable(argc - 2, argv + 2);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
