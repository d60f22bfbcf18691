// TGA decoding: cPictTGA against ImageMagick's MagickCore reading the same
// 12-megapixel picture from memory into the same 32-bit pixels, once stored
// plainly (24-bit) and once run-length encoded (32-bit).  The inputs are
// written by Pillow from the PNG benchmark's photo (see picts_png.cpp).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <memory>
#include <vector>

#include "base/memio.h"
#include "picts/picttga.h"

#ifdef QOR_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

namespace {

const char* kMaker = R"(
import sys
from PIL import Image
d = sys.argv[1]
im = Image.open(d + '/photo.png')
im.save(d + '/photo24.tga')
im.convert('RGBA').save(d + '/photo32rle.tga', rle=True)
)";

std::vector<unsigned char> load(const char* name) {
    const std::string dir = "/tmp/qor_picts_bench";
    const std::string path = dir + "/" + name;
    std::ifstream probe(path);
    if (!probe) {
        // The PNG benchmark writes the photo; this one converts it.
        const std::string script = dir + "-tga.py";
        if (std::FILE* f = std::fopen(script.c_str(), "w")) {
            std::fputs(kMaker, f);
            std::fclose(f);
        }
        if (std::system(("/usr/bin/python3 " + script + " " + dir).c_str()) != 0) return {};
    }
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_OursTga(benchmark::State& state, const char* name) {
    std::vector<unsigned char> file = load(name);
    if (file.empty()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    long long pixels = 0;
    for (auto _ : state) {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        cPictTGA tga;
        benchmark::DoNotOptimize(tga.decode(&io));
        pixels = tga.width() * tga.height();
    }
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_OursTga, plain24, "photo24.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OursTga, rle32, "photo32rle.tga")->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_MAGICKCORE
// into: a buffer of w x h pixels to reuse; null for a fresh one per picture.
bool magickDecode(const std::vector<unsigned char>& file, long long& w, long long& h, unsigned int* into = nullptr) {
    ExceptionInfo* ex = AcquireExceptionInfo();
    ImageInfo* info = CloneImageInfo(nullptr);
    std::strcpy(info->magick, "TGA");
    Image* im = BlobToImage(info, file.data(), file.size(), ex);
    bool ok = im != nullptr;
    if (ok) {
        w = static_cast<long long>(im->columns);
        h = static_cast<long long>(im->rows);
        std::unique_ptr<unsigned int[]> fresh(into ? nullptr : new unsigned int[static_cast<std::size_t>(w * h)]);
        ok = ExportImagePixels(im, 0, 0, im->columns, im->rows, "BGRA", CharPixel, into ? into : fresh.get(), ex) == MagickTrue;
        DestroyImage(im);
    }
    DestroyImageInfo(info);
    DestroyExceptionInfo(ex);
    return ok;
}

// Twice: into a fresh buffer per picture, as ours decodes, and into one
// buffer reused from picture to picture.
void BM_MagickCoreTga(benchmark::State& state, const char* name, bool reuse) {
    std::vector<unsigned char> file = load(name);
    if (file.empty()) {
        state.SkipWithError("no input");
        return;
    }
    MagickCoreGenesis("bench_picts_tga", MagickFalse);
    long long w = 0, h = 0;
    if (!magickDecode(file, w, h)) {
        state.SkipWithError("ImageMagick failed");
        return;
    }
    std::vector<unsigned int> kept(reuse ? static_cast<std::size_t>(w * h) : 0);
    for (auto _ : state) benchmark::DoNotOptimize(magickDecode(file, w, h, reuse ? kept.data() : nullptr));
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(w * h) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_MagickCoreTga, plain24_fresh, "photo24.tga", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, plain24_reused, "photo24.tga", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, rle32_fresh, "photo32rle.tga", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, rle32_reused, "photo32rle.tga", true)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
