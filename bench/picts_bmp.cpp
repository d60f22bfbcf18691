// BMP decoding: cPictBMP against ImageMagick's MagickCore reading the same
// 24-bit 12-megapixel file from memory into the same 32-bit pixels.  The
// input is written by Pillow (see picts_png.cpp, which shares the cache).
#include "picts_bench.h"
#include "picts/pictdib.h"

namespace {

std::vector<unsigned char> load(const char* name) {
    // The PNG benchmark writes the shared inputs and the program that makes them.
    return picts_bench::load(name, nullptr, std::string(picts_bench::kDir) + ".py");
}

void BM_OursBmp24(benchmark::State& state) {
    std::vector<unsigned char> file = load("photo24.bmp");
    picts_bench::timeOurs<cPictBMP>(state, file);
}
BENCHMARK(BM_OursBmp24)->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_MAGICKCORE
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
    if (!picts_bench::magickDecode(file, "BMP", &ref, w, h)) {
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
    picts_bench::timeMagick(state, file, "BMP", state.range(0) != 0);
}
BENCHMARK(BM_MagickCoreBmp24)->Arg(0)->Arg(1)->ArgName("reused")->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
