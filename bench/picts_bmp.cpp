// BMP decoding: cPictBMP against stb_image, SDL2_image (SDL_LoadBMP behind
// IMG_Load), Pillow and ImageMagick reading the same 24-bit 12-megapixel
// file from memory into the same 32-bit pixels (see picts_bench.h).  The
// input is written by Pillow (see picts_png.cpp, which shares the cache).
#include "picts_bench.h"
#include "picts/pictdib.h"

namespace {

std::vector<unsigned char> load(const std::string& name) {
    // The PNG benchmark writes the shared inputs and the program that makes them.
    return picts_bench::load(name, nullptr, std::string(picts_bench::kDir) + ".py");
}

const picts_bench::sInput& input() { return picts_bench::input<cPictBMP>("photo24.bmp", load); }
using picts_bench::ready;

void BM_OursBmp24(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timeOurs<cPictBMP>(state, input().file);
}
BENCHMARK(BM_OursBmp24)->Unit(benchmark::kMillisecond);

void BM_OursBmp24Reused(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timeOurs<cPictBMP>(state, input().file, true);
}
BENCHMARK(BM_OursBmp24Reused)->Unit(benchmark::kMillisecond);

void BM_OursBmp24Cpu(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timeOursCpu<cPictBMP>(state, input().file);
}
BENCHMARK(BM_OursBmp24Cpu)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PillowBmp24(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timePillow(state, "photo24.bmp", input().pixels);
}
BENCHMARK(BM_PillowBmp24)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_STB_IMAGE
void BM_StbBmp24(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timeStb(state, input().file, input().pixels);
}
BENCHMARK(BM_StbBmp24)->Unit(benchmark::kMillisecond);
#endif

#ifdef QOR_HAVE_SDL2_IMAGE
void BM_SdlImageBmp24(benchmark::State& state) {
    if (ready(state, input())) picts_bench::timeSdlImage(state, input().file, "BMP", input().pixels);
}
BENCHMARK(BM_SdlImageBmp24)->Unit(benchmark::kMillisecond);
#endif

#ifdef QOR_HAVE_MAGICKCORE
// Fresh (arg 0): a new buffer per picture, as ours decodes; reused (arg 1):
// one buffer kept from picture to picture.
void BM_MagickCoreBmp24(benchmark::State& state) {
    if (!ready(state, input())) return;
    MagickCoreGenesis("bench_picts_bmp", MagickFalse);
    picts_bench::timeMagick(state, input().file, "BMP", state.range(0) != 0, &input().pixels);
}
BENCHMARK(BM_MagickCoreBmp24)->Arg(0)->Arg(1)->ArgName("reused")->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
