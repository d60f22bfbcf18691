// TGA decoding: cPictTGA against ImageMagick's MagickCore reading the same
// 12-megapixel picture from memory into the same 32-bit pixels, once stored
// plainly (24-bit) and once run-length encoded (32-bit).  The inputs are
// written by Pillow from the PNG benchmark's photo (see picts_png.cpp).
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

std::vector<unsigned char> load(const char* name) {
    // The PNG benchmark writes the photo; this one converts it.
    return picts_bench::load(name, kMaker, std::string(picts_bench::kDir) + "-tga.py");
}

void BM_OursTga(benchmark::State& state, const char* name) {
    std::vector<unsigned char> file = load(name);
    picts_bench::timeOurs<cPictTGA>(state, file);
}
BENCHMARK_CAPTURE(BM_OursTga, plain24, "photo24.tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OursTga, rle32, "photo32rle.tga")->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_MAGICKCORE
// Twice: into a fresh buffer per picture, as ours decodes, and into one
// buffer reused from picture to picture.
void BM_MagickCoreTga(benchmark::State& state, const char* name, bool reuse) {
    std::vector<unsigned char> file = load(name);
    if (file.empty()) {
        state.SkipWithError("no input");
        return;
    }
    MagickCoreGenesis("bench_picts_tga", MagickFalse);
    picts_bench::timeMagick(state, file, "TGA", reuse);
}
BENCHMARK_CAPTURE(BM_MagickCoreTga, plain24_fresh, "photo24.tga", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, plain24_reused, "photo24.tga", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, rle32_fresh, "photo32rle.tga", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MagickCoreTga, rle32_reused, "photo32rle.tga", true)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
