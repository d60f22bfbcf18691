// Reading the properties of 1,000 mixed files (Windows executables of both
// widths, PNG, BMP, GIF and ICO pictures) from disk, as the manager does for
// package icons: the reader chooser alone, then the chooser and a load
// without preview, then with a 32 x 32 preview.  The split shows where the
// time per file goes (probing, headers and resources, decoding the preview);
// the argument picks every file or one kind of them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "propreader/fileprops.h"

namespace {

std::vector<std::string> mixedFiles() {
    const std::string src = QOR_SOURCE_DIR;
    std::vector<std::string> files = {
        src + "/tests/data/winexe/full64.exe",      src + "/tests/data/winexe/full32.dll",
        src + "/tests/data/winexe/descr32.exe",     src + "/tests/data/winexe/descr64.dll",
        src + "/fuzz/corpus/ImageProps/small.png",  src + "/fuzz/corpus/ImageProps/small.bmp",
        src + "/fuzz/corpus/ImageProps/a.gif",      src + "/fuzz/corpus/ImageProps/a.ico"};
    // One larger picture: a 640 x 480 32-bit bitmap.
    static std::string big;
    if (big.empty()) {
        char name[] = "/tmp/qor_bench_props_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            const unsigned w = 640, h = 480, pixels = w * h * 4;
            std::vector<unsigned char> b(54 + pixels, 0x7F);
            auto put = [&](std::size_t at, unsigned v) { for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i)); };
            b[0] = 'B'; b[1] = 'M'; put(2, 54 + pixels); put(6, 0); put(10, 54); put(14, 40); put(18, w); put(22, h);
            b[26] = 1; b[27] = 0; b[28] = 32; b[29] = 0; put(30, 0); put(34, pixels); put(38, 2835); put(42, 2835); put(46, 0); put(50, 0);
            FILE* f = fdopen(fd, "wb");
            fwrite(b.data(), 1, b.size(), f);
            fclose(f);
            big = name;
        }
    }
    if (!big.empty()) files.push_back(big);
    return files;
}

// kind: 0 every file, 1 the executables, 2 the small pictures, 3 the bitmap.
void readProps(benchmark::State& state, int mode) {
    std::vector<std::string> all = mixedFiles(), files;
    const long kind = state.range(0);
    for (std::size_t i = 0; i < all.size(); ++i)
        if (kind == 0 || (kind == 1 && i < 4) || (kind == 2 && i >= 4 && i < 8) || (kind == 3 && i >= 8))
            files.push_back(all[i]);
    if (files.empty()) {
        state.SkipWithError("no files");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            cFileIO io;
            if (!io.open(files[i % files.size()].c_str(), fmRead)) state.SkipWithError("cannot open");
            std::unique_ptr<cFileObjectProps> props(cFileObjectProps::guessObj(&io));
            if (!props) state.SkipWithError("no reader");
            if (mode > 0) {
                props->setPreviewPreferrences(mode == 2 ? 32 : 0, mode == 2 ? 32 : 0);
                io.set_fp(0);
                benchmark::DoNotOptimize(props->load(&io, 0, mode == 2));
            }
        }
    }
    state.counters["us_per_file"] =
        benchmark::Counter(1000.0 * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ChooserOnly(benchmark::State& s) { readProps(s, 0); }
void BM_LoadWithoutPreview(benchmark::State& s) { readProps(s, 1); }
void BM_LoadWithPreview32(benchmark::State& s) { readProps(s, 2); }

}  // namespace

BENCHMARK(BM_ChooserOnly)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWithoutPreview)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWithPreview32)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
