// TGA decoding: cPictTGA against stb_image, SDL2_image, Pillow and
// ImageMagick reading the same 12-megapixel picture from memory into the
// same 32-bit pixels (see picts_bench.h), once stored plainly (24-bit) and
// once run-length encoded (32-bit).  The inputs are written by Pillow from
// the PNG benchmark's photo (see picts_png.cpp), bottom row first.
#include "picts_bench.h"
#include "picts/picttga.h"

namespace {

const char* kMaker = R"(
import sys
from PIL import Image
d = sys.argv[1]
im = Image.open(d + '/photo.png')
im.save(d + '/photo24.tga')
im.convert('RGBA').save(d + '/photo32rle.tga', rle=True)
)";

std::vector<unsigned char> load(const std::string& name) {
    // The PNG benchmark writes the photo; this one converts it.
    return picts_bench::load(name, kMaker, std::string(picts_bench::kDir) + "-tga.py");
}

const picts_bench::sInput& input(const char* name) { return picts_bench::input<cPictTGA>(name, load); }
using picts_bench::ready;

void BM_OursTga(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOurs<cPictTGA>(state, in.file);
}
void BM_OursTgaReused(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOurs<cPictTGA>(state, in.file, true);
}
void BM_OursTgaCpu(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOursCpu<cPictTGA>(state, in.file);
}
void BM_PillowTga(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timePillow(state, name, in.pixels);
}
#ifdef QOR_HAVE_STB_IMAGE
void BM_StbTga(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeStb(state, in.file, in.pixels);
}
#endif
#ifdef QOR_HAVE_SDL2_IMAGE
void BM_SdlImageTga(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeSdlImage(state, in.file, "TGA", in.pixels);
}
#endif
#ifdef QOR_HAVE_MAGICKCORE
// Twice: into a fresh buffer per picture, as ours decodes, and into one
// buffer reused from picture to picture.
void BM_MagickCoreTga(benchmark::State& state, const char* name, bool reuse) {
    const auto& in = input(name);
    if (!ready(state, in)) return;
    MagickCoreGenesis("bench_picts_tga", MagickFalse);
    // ImageMagick leaves the rows of these bottom-up files in their order.
    picts_bench::timeMagick(state, in.file, "TGA", reuse, &in.pixels, true);
}
#endif

}  // namespace

#define TGA_PAIRS(id, file)                                                                                   \
    BENCHMARK_CAPTURE(BM_OursTga, id, file)->Unit(benchmark::kMillisecond);                                   \
    BENCHMARK_CAPTURE(BM_OursTgaReused, id, file)->Unit(benchmark::kMillisecond);                             \
    BENCHMARK_CAPTURE(BM_OursTgaCpu, id, file)->UseManualTime()->Unit(benchmark::kMillisecond);               \
    BENCHMARK_CAPTURE(BM_PillowTga, id, file)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond); \
    STB_PAIR(id, file) SDL_PAIR(id, file) MAGICK_PAIRS(id, file)
#ifdef QOR_HAVE_STB_IMAGE
#define STB_PAIR(id, file) BENCHMARK_CAPTURE(BM_StbTga, id, file)->Unit(benchmark::kMillisecond);
#else
#define STB_PAIR(id, file)
#endif
#ifdef QOR_HAVE_SDL2_IMAGE
#define SDL_PAIR(id, file) BENCHMARK_CAPTURE(BM_SdlImageTga, id, file)->Unit(benchmark::kMillisecond);
#else
#define SDL_PAIR(id, file)
#endif
#ifdef QOR_HAVE_MAGICKCORE
#define MAGICK_PAIRS(id, file)                                                                   \
    BENCHMARK_CAPTURE(BM_MagickCoreTga, id##_fresh, file, false)->Unit(benchmark::kMillisecond); \
    BENCHMARK_CAPTURE(BM_MagickCoreTga, id##_reused, file, true)->Unit(benchmark::kMillisecond);
#else
#define MAGICK_PAIRS(id, file)
#endif

TGA_PAIRS(plain24, "photo24.tga")
TGA_PAIRS(rle32, "photo32rle.tga")

BENCHMARK_MAIN();
