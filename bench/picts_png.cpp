// PNG decoding: cPictPNG against libpng, both from the same bytes in memory
// to the same pixels (32-bit 0xAARRGGBB, bottom row first).  The inputs are
// written once by Pillow into a cache folder: a 12-megapixel photo-like RGB
// picture, a 4-megapixel RGBA one and a paletted screenshot.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

struct sMemReader {
    const unsigned char* p;
    std::size_t left;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<sMemReader*>(png_get_io_ptr(png));
    if (n > r->left) png_error(png, "short");
    std::memcpy(out, r->p, n);
    r->p += n;
    r->left -= n;
}

// libpng to 0xAARRGGBB words, bottom row first.
bool libpngDecode(const std::vector<unsigned char>& file, std::vector<unsigned int>& out, long long& w, long long& h,
                  bool keep = true, unsigned int* into = nullptr) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    sMemReader r{file.data(), file.size()};
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &r, readFromMemory);
    png_read_info(png, info);
    w = png_get_image_width(png, info);
    h = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    // A fresh, uninitialised buffer per picture, as the decoder under test
    // allocates its own, unless the caller hands one in to reuse.
    unsigned int* px = into ? into : new unsigned int[static_cast<std::size_t>(w * h)];
    rows.resize(static_cast<std::size_t>(h));
    for (long long y = 0; y < h; ++y) rows[static_cast<std::size_t>(y)] = reinterpret_cast<png_bytep>(px + (h - 1 - y) * w);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    if (keep) out.assign(px, px + w * h);
    if (!into) delete[] px;
    return true;
}

void BM_Ours(benchmark::State& state, const char* name) {
    std::vector<unsigned char> file = load(name);
    if (file.empty()) {
        state.SkipWithError("no input (python3-pil missing?)");
        return;
    }
    // Both decoders must give the same pixels before either is timed.
    std::vector<unsigned int> ref;
    long long w = 0, h = 0;
    if (!libpngDecode(file, ref, w, h)) {
        state.SkipWithError("libpng failed");
        return;
    }
    {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        cPictPNG png;
        if (!png.decode(&io) || png.width() != w || std::memcmp(png.raw8Bpp(), ref.data(), ref.size() * 4) != 0) {
            state.SkipWithError("pixels differ from libpng");
            return;
        }
    }
    for (auto _ : state) {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        cPictPNG png;
        benchmark::DoNotOptimize(png.decode(&io));
    }
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(w * h) / 1e6 * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

// libpng twice: into a fresh buffer per picture, as ours decodes, and into
// one buffer reused from picture to picture, which spares it the page faults
// of new memory.
void BM_Libpng(benchmark::State& state, const char* name, bool reuse) {
    std::vector<unsigned char> file = load(name);
    if (file.empty()) {
        state.SkipWithError("no input");
        return;
    }
    std::vector<unsigned int> out, kept;
    long long w = 0, h = 0;
    if (!libpngDecode(file, kept, w, h)) {
        state.SkipWithError("libpng failed");
        return;
    }
    unsigned int* into = reuse ? kept.data() : nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(libpngDecode(file, out, w, h, false, into));
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(w * h) / 1e6 * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Ours, photo_rgb_12mp, "photo.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, photo_rgb_12mp_fresh, "photo.png", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, photo_rgb_12mp_reused, "photo.png", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, rgba_4mp, "rgba.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, rgba_4mp_fresh, "rgba.png", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, rgba_4mp_reused, "rgba.png", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, palette_screen, "screen.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, palette_screen_fresh, "screen.png", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libpng, palette_screen_reused, "screen.png", true)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
