// PNG decoding: cPictPNG against libpng, libspng, stb_image and Pillow, all
// from the same bytes in memory to the same pixels (see picts_bench.h for
// what each peer's output and buffer are).  The inputs are written once by
// Pillow into a cache folder: a 12-megapixel photo-like RGB picture, a
// 4-megapixel RGBA one and a paletted screenshot.
#include "picts/pictpng.h"
#include "picts_bench.h"

namespace {

const char* kMaker = R"(
import os, random, sys
from PIL import Image, ImageDraw, ImageFilter
d = sys.argv[1]
os.makedirs(d, exist_ok=True)
def photo(w, h):
    base = Image.effect_mandelbrot((w // 4, h // 4), (-2.2, -1.2, 1.0, 1.2), 60).resize((w, h), Image.BICUBIC)
    noise = Image.effect_noise((w, h), 18)
    r = Image.blend(base, noise, 0.25)
    g = Image.linear_gradient('L').resize((w, h))
    b = Image.blend(base.transpose(Image.FLIP_LEFT_RIGHT), noise, 0.3)
    return Image.merge('RGB', (r, g, b)).filter(ImageFilter.SMOOTH)
if not os.path.exists(d + '/photo.png'):
    photo(4000, 3000).save(d + '/photo.png')
if not os.path.exists(d + '/rgba.png'):
    im = photo(2000, 2000).convert('RGBA')
    im.putalpha(Image.radial_gradient('L').resize((2000, 2000)))
    im.save(d + '/rgba.png')
if not os.path.exists(d + '/screen.png'):
    rng = random.Random(5)
    im = Image.new('RGB', (1920, 1080), (236, 236, 236))
    dr = ImageDraw.Draw(im)
    for i in range(400):
        x, y = rng.randrange(1900), rng.randrange(1060)
        dr.rectangle([x, y, x + rng.randrange(300), y + rng.randrange(120)], fill=tuple(rng.randrange(256) for _ in range(3)))
    for i in range(3000):
        x, y = rng.randrange(1880), rng.randrange(1070)
        dr.text((x, y), 'qor package %d' % i, fill=(rng.randrange(80), rng.randrange(80), rng.randrange(80)))
    im.quantize(256).save(d + '/screen.png', optimize=True)
if not os.path.exists(d + '/photo24.bmp'):
    Image.open(d + '/photo.png').save(d + '/photo24.bmp')
if not os.path.exists(d + '/big24.bmp'):
    photo(6000, 4000).save(d + '/big24.bmp')
)";

std::vector<unsigned char> load(const std::string& name) {
    return picts_bench::load(name, kMaker, std::string(picts_bench::kDir) + ".py");
}

const picts_bench::sInput& input(const std::string& name) { return picts_bench::input<cPictPNG>(name, load); }
using picts_bench::ready;

void BM_Ours(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOurs<cPictPNG>(state, in.file);
}
void BM_OursReused(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOurs<cPictPNG>(state, in.file, true);
}
void BM_OursCpu(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeOursCpu<cPictPNG>(state, in.file);
}
void BM_Libpng(benchmark::State& state, const char* name, bool reuse) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeLibpng(state, in.file, in.pixels, reuse);
}
void BM_Spng(benchmark::State& state, const char* name, bool reuse) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeSpng(state, in.file, in.pixels, reuse);
}
void BM_Stb(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timeStb(state, in.file, in.pixels);
}
void BM_Pillow(benchmark::State& state, const char* name) {
    const auto& in = input(name);
    if (ready(state, in)) picts_bench::timePillow(state, name, in.pixels);
}

}  // namespace

#define PNG_PAIRS(id, file)                                                                          \
    BENCHMARK_CAPTURE(BM_Ours, id, file)->Unit(benchmark::kMillisecond);                             \
    BENCHMARK_CAPTURE(BM_OursReused, id, file)->Unit(benchmark::kMillisecond);                       \
    BENCHMARK_CAPTURE(BM_OursCpu, id, file)->UseManualTime()->Unit(benchmark::kMillisecond);         \
    BENCHMARK_CAPTURE(BM_Libpng, id##_fresh, file, false)->Unit(benchmark::kMillisecond);            \
    BENCHMARK_CAPTURE(BM_Libpng, id##_reused, file, true)->Unit(benchmark::kMillisecond);            \
    BENCHMARK_CAPTURE(BM_Spng, id##_fresh, file, false)->Unit(benchmark::kMillisecond);              \
    BENCHMARK_CAPTURE(BM_Spng, id##_reused, file, true)->Unit(benchmark::kMillisecond);              \
    BENCHMARK_CAPTURE(BM_Stb, id, file)->Unit(benchmark::kMillisecond);                              \
    BENCHMARK_CAPTURE(BM_Pillow, id, file)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

PNG_PAIRS(photo_rgb_12mp, "photo.png")
PNG_PAIRS(rgba_4mp, "rgba.png")
PNG_PAIRS(palette_screen, "screen.png")

BENCHMARK_MAIN();
