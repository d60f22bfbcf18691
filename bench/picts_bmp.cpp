// BMP decoding: cPictBMP against ImageMagick's MagickCore reading the same
// 24-bit 12-megapixel file from memory into the same 32-bit pixels.  The
// input is written by Pillow (see picts_png.cpp, which shares the cache).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdib.h"

#ifdef QOR_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

namespace {

std::vector<unsigned char> load(const char* name) {
    const std::string path = std::string("/tmp/qor_picts_bench/") + name;
    std::ifstream probe(path);
    if (!probe) {
        // The PNG benchmark writes the shared inputs.
        const std::string cmd = "/usr/bin/python3 /tmp/qor_picts_bench.py /tmp/qor_picts_bench";
        if (std::system(cmd.c_str()) != 0) return {};
    }
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_OursBmp24(benchmark::State& state) {
    std::vector<unsigned char> file = load("photo24.bmp");
    if (file.empty()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    long long pixels = 0;
    for (auto _ : state) {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        cPictBMP bmp;
        benchmark::DoNotOptimize(bmp.decode(&io));
        pixels = bmp.width() * bmp.height();
    }
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OursBmp24)->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_MAGICKCORE
// into: a buffer of w x h pixels to reuse; null for a fresh one per picture.
bool magickDecode(const std::vector<unsigned char>& file, std::vector<unsigned int>* keep, long long& w, long long& h,
                  unsigned int* into = nullptr) {
    ExceptionInfo* ex = AcquireExceptionInfo();
    ImageInfo* info = CloneImageInfo(nullptr);
    std::strcpy(info->magick, "BMP");
    Image* im = BlobToImage(info, file.data(), file.size(), ex);
    bool ok = im != nullptr;
    if (ok) {
        w = static_cast<long long>(im->columns);
        h = static_cast<long long>(im->rows);
        unsigned int* px = into ? into : new unsigned int[static_cast<std::size_t>(w * h)];
        ok = ExportImagePixels(im, 0, 0, im->columns, im->rows, "BGRA", CharPixel, px, ex) == MagickTrue;
        if (keep) keep->assign(px, px + w * h);
        if (!into) delete[] px;
        DestroyImage(im);
    }
    DestroyImageInfo(info);
    DestroyExceptionInfo(ex);
    return ok;
}

void BM_MagickCoreBmp24(benchmark::State& state) {
    std::vector<unsigned char> file = load("photo24.bmp");
    if (file.empty()) {
        state.SkipWithError("no input");
        return;
    }
    MagickCoreGenesis("bench_picts_bmp", MagickFalse);
    // The same pixels first: ImageMagick's rows run from the top.
    std::vector<unsigned int> ref;
    long long w = 0, h = 0;
    if (!magickDecode(file, &ref, w, h)) {
        state.SkipWithError("ImageMagick failed");
        return;
    }
    {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        cPictBMP bmp;
        if (!bmp.decode(&io) || bmp.width() != w || bmp.height() != h) {
            state.SkipWithError("sizes differ");
            return;
        }
        for (long long y = 0; y < h; ++y)
            if (std::memcmp(bmp.raw8Bpp() + (h - 1 - y) * w, &ref[static_cast<std::size_t>(y * w)], static_cast<std::size_t>(w) * 4)) {
                state.SkipWithError("pixels differ from ImageMagick");
                return;
            }
    }
    // Fresh (arg 0): a new buffer per picture, as ours decodes; reused (arg
    // 1): one buffer kept from picture to picture.
    unsigned int* into = state.range(0) ? ref.data() : nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(magickDecode(file, nullptr, w, h, into));
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(w * h) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MagickCoreBmp24)->Arg(0)->Arg(1)->ArgName("reused")->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
