// Deflating as the payload writer does: 512 KiB pieces, each with the
// 32 KiB before it as history, ended by a sync flush (the last by the
// stream's end), one output buffer reused.  Ours (cBlockDeflater) and the
// writer's engines as it chooses them block by block (stored, ours, or
// libdeflate at level 6 or 9 on the piece whole without history, made
// joinable: cJoinedDeflater) against zlib at level 9 given the same pieces and
// dictionaries, and libdeflate at level 9 on the same pieces, on three
// texts:
//  - words of a vocabulary of a few dozen, the files of the many-small-files
//    trees of bench/pkgmake_payload.py, where a hash chain search spends the
//    most;
//  - a mix of words and runs of noise;
//  - text of 3,000 words of three to ten letters, a richer vocabulary.
// The counters give each side's output bytes, so that the sizes can be held
// against each other too.
//
// With --blocks FILE... it measures instead how the payload writer's choice
// of engine fares block by block: each file is cut as the writer cuts a
// body (kDeflateBlock bytes after 32 KiB of history), each block deflated
// by zlib at level 9, by ours and by libdeflate's joinable pieces (the
// fastest of three runs each, this thread's CPU time), and the table gives,
// for each file, the blocks stored, those the choice (chooseBlockEngine)
// gives ours and libdeflate, the blocks on which the engine chosen was
// slower than zlib by more than 3%, and the seconds and bytes of zlib alone
// and of the engines as chosen (the choice and the test for stored blocks
// included).  --csv adds a line per block: the engine (0 stored, 1 ours, 2
// libdeflate at level 6, 3 at level 9), the choice's time and each
// engine's (microseconds: zlib, ours, level 6), and each engine's output
// bytes.
//   bench_deflate --blocks [--csv] FILE...
#include "compression/blockdeflate.h"
#include "compression/joindeflate.h"
#include "pakvane/pkgstream.h"
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
constexpr std::size_t kPiece = kDeflateBlock;
constexpr std::size_t kHistory = kDeflateDictionary;
// libdeflate's levels in the payload writer (src/pakvane/pkgstream.cpp).
constexpr int kPieceLevel = 6, kDeepPieceLevel = 9;

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

// Text of 3,000 words of three to ten letters, each as likely.
std::vector<unsigned char> proseData(std::size_t n) {
    std::uint64_t x = 777;
    std::vector<std::string> vocabulary;
    for (int k = 0; k < 3000; ++k) {
        std::string w;
        for (std::size_t len = 3 + next(x) % 8; w.size() < len;) w += static_cast<char>('a' + next(x) % 26);
        vocabulary.push_back(w);
    }
    std::vector<unsigned char> v;
    v.reserve(n + 16);
    while (v.size() < n) {
        const std::uint64_t r = next(x);
        const std::string& w = vocabulary[(r >> 8) % 3000];
        v.insert(v.end(), w.begin(), w.end());
        v.push_back(r % 12 ? ' ' : '\n');
    }
    v.resize(n);
    return v;
}

const std::vector<unsigned char>& input(int which) {
    static const std::vector<unsigned char> words = wordsData(kBytes, false);
    static const std::vector<unsigned char> mixed = wordsData(kBytes, true);
    static const std::vector<unsigned char> prose = proseData(kBytes);
    return which == 0 ? words : which == 1 ? mixed : prose;
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
BENCHMARK(BM_PiecesDeflate_Qor)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_PiecesDeflate_Zlib9)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_PiecesDeflate_Libdeflate9)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The writer's engines as it chooses them for each piece: the choice, the
// test for stored blocks and the joining of libdeflate's pieces included.
void BM_PiecesDeflate_AsChosen(benchmark::State& state) {
    const std::vector<unsigned char>& in = input(static_cast<int>(state.range(0)));
    cBlockDeflater ours;
    cJoinedDeflater whole(kPieceLevel), deep(kDeepPieceLevel);
    sStoredScratch scratch;
    std::vector<unsigned char> out(std::max({cBlockDeflater::bound(kPiece), whole.bound(kPiece), storedBlocksBound(kPiece)}));
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, in.size() - at), dict = std::min(at, kHistory);
            const bool last = at + n == in.size();
            const unsigned char* d = in.data() + at;
            std::size_t got = 0;
            switch (chooseBlockEngine(d, n, dict, scratch)) {
            case eBlockEngine::stored:
                got = putStoredBlocks(d, n, last, out.data());
                break;
            case eBlockEngine::chains:
                got = ours.deflate(d, n, dict, last, out.data(), out.size());
                break;
            case eBlockEngine::whole:
                got = whole.deflate(d, n, last, out.data(), out.size());
                break;
            case eBlockEngine::wholeDeep:
                got = deep.deflate(d, n, last, out.data(), out.size());
                break;
            }
            if (!got) std::abort();
            total += got;
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["out_bytes"] = static_cast<double>(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PiecesDeflate_AsChosen)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
    std::printf("| file | MB | blocks | stored | ours | libdeflate 6 | libdeflate 9 | slower than zlib by >3%% | zlib alone s | "
                "as chosen s | zlib alone MB | as chosen MB |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
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
        cJoinedDeflater whole(kPieceLevel), deep(kDeepPieceLevel);
        z_stream z{};
        if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 2;
        std::vector<unsigned char> out(std::max({cBlockDeflater::bound(kPiece), whole.bound(kPiece),
                                                 storedBlocksBound(kPiece),
                                                 static_cast<std::size_t>(deflateBound(&z, kPiece)) + 64}));
        sStoredScratch scratch;
        std::size_t blocks = 0, stored = 0, toOurs = 0, toWhole = 0, toDeep = 0, slower = 0;
        double zlibAlone = 0, asChosen = 0, zlibBytes = 0, chosenBytes = 0;
        for (std::size_t at = 0; at < in.size(); at += kPiece, ++blocks) {
            const std::size_t n = std::min(kPiece, in.size() - at), dict = std::min(at, kHistory);
            const unsigned char* d = in.data() + at;
            const bool last = at + n == in.size();
            double t0 = threadSeconds();
            const eBlockEngine engine = chooseBlockEngine(d, n, dict, scratch);
            const double choice = threadSeconds() - t0;
            double tz = 1e9, to = 1e9, tw = 1e9, td = 1e9;
            std::size_t zb = 0, ob = 0, wb = 0, db = 0;
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
                t0 = threadSeconds();
                wb = whole.deflate(d, n, last, out.data(), out.size());
                tw = std::min(tw, threadSeconds() - t0);
                if (engine == eBlockEngine::wholeDeep) {
                    t0 = threadSeconds();
                    db = deep.deflate(d, n, last, out.data(), out.size());
                    td = std::min(td, threadSeconds() - t0);
                    if (!db) return 2;
                }
                if (!ob || !wb) return 2;
            }
            double t = choice;
            std::size_t bytes = 0;
            switch (engine) {
            case eBlockEngine::stored:
                ++stored;
                t0 = threadSeconds();
                bytes = putStoredBlocks(d, n, last, out.data());
                t += threadSeconds() - t0;
                break;
            case eBlockEngine::chains:
                ++toOurs;
                t += to;
                bytes = ob;
                break;
            case eBlockEngine::whole:
                ++toWhole;
                t += tw;
                bytes = wb;
                break;
            case eBlockEngine::wholeDeep:
                ++toDeep;
                t += td;
                bytes = db;
                break;
            }
            slower += t > 1.03 * tz;
            zlibAlone += tz;
            asChosen += t;
            zlibBytes += static_cast<double>(zb);
            chosenBytes += static_cast<double>(bytes);
            if (csv)
                std::printf("csv,%s,%zu,%d,%.1f,%.1f,%.1f,%.1f,%zu,%zu,%zu\n", argv[a], blocks, static_cast<int>(engine),
                            choice * 1e6, tz * 1e6, to * 1e6, tw * 1e6, zb, ob, wb);
        }
        deflateEnd(&z);
        std::printf("| %s | %.1f | %zu | %zu | %zu | %zu | %zu | %zu | %.2f | %.2f | %.3f | %.3f |\n", argv[a],
                    static_cast<double>(in.size()) / 1e6, blocks, stored, toOurs, toWhole, toDeep, slower, zlibAlone,
                    asChosen, zlibBytes / 1e6, chosenBytes / 1e6);
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
