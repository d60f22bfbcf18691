// TIFF decoding: cPictTIFF on the kinds of file it meets most, each against
// libtiff's own reader of 32-bit pixels (TIFFReadRGBAImageOriented) on the
// same bytes from memory, and Pillow: a 12-megapixel photograph in deflate
// strips as Pillow writes them, the same picture as palette indices in
// PackBits strips, a grey scan in LZW strips of one row each block as
// tiffcp writes them, and a text page of 600 dpi in one Group 4 strip.  The
// inputs are written by Pillow and tiffcp into the shared cache; the last
// benchmark fits the photograph into a 24 x 16 box through the factory.
#include "picts_bench.h"

#include <tiffio.h>

#include "picts/picttiff.h"

namespace {

const char kMaker[] = R"PY(
import os, random, subprocess, sys
from PIL import Image, ImageDraw
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
w, h = 4000, 3000
grad = Image.linear_gradient('L').resize((w, h))
photo = Image.merge('RGB', (grad, grad.transpose(Image.Transpose.ROTATE_90).resize((w, h)),
                            Image.effect_noise((w, h), 48).convert('L')))
photo.save(out + '/photo_deflate.tif', compression='tiff_adobe_deflate')
photo.quantize(256).save(out + '/photo_palette.tif', compression='packbits')
grey = Image.blend(grad, Image.effect_noise((w, h), 32).convert('L'), 0.2)
grey.save(out + '/grey_plain.tif')
subprocess.run(['tiffcp', '-c', 'lzw', out + '/grey_plain.tif', out + '/grey_lzw.tif'], check=True)
os.remove(out + '/grey_plain.tif')
rng = random.Random(600)
page = Image.new('1', (4960, 7016), 1)
d = ImageDraw.Draw(page)
for line in range(300, 6700, 90):
    x = 400
    while x < 4500:
        n = rng.randrange(40, 400)
        d.rectangle((x, line, x + n, line + 50), fill=0)
        x += n + rng.randrange(30, 90)
from PIL import TiffImagePlugin
TiffImagePlugin.STRIP_SIZE = 4960 * 7016
page.save(out + '/page_g4.tif', compression='group4')
)PY";

std::vector<unsigned char> load(const std::string& name) {
    return picts_bench::load(name, kMaker, std::string(picts_bench::kDir) + "_tiff.py");
}

const picts_bench::sInput& input(const std::string& name) { return picts_bench::input<cPictTIFF>(name, load); }
using picts_bench::ready;

// libtiff over the same bytes in memory, into 32-bit pixels of its own
// layout (bottom row first, R in the low byte), swapped into ours.
struct sMem {
    const std::vector<unsigned char>* file;
    toff_t at = 0;
};
tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
    sMem* m = static_cast<sMem*>(h);
    const toff_t left = m->file->size() - m->at;
    const tmsize_t take = static_cast<tmsize_t>(left < static_cast<toff_t>(n) ? left : n);
    std::memcpy(buf, m->file->data() + m->at, static_cast<std::size_t>(take));
    m->at += take;
    return take;
}
tmsize_t memWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t memSeek(thandle_t h, toff_t off, int whence) {
    sMem* m = static_cast<sMem*>(h);
    m->at = whence == SEEK_SET ? off : whence == SEEK_CUR ? m->at + off : m->file->size() + off;
    return m->at;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<sMem*>(h)->file->size(); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

void BM_Ours(benchmark::State& state, const char* name) {
    if (ready(state, input(name))) picts_bench::timeOurs<cPictTIFF>(state, input(name).file);
}

void BM_Libtiff(benchmark::State& state, const char* name) {
    const picts_bench::sInput& in = input(name);
    if (!ready(state, in)) return;
    TIFFSetWarningHandler(nullptr);
    std::vector<unsigned int> px;
    for (auto _ : state) {
        sMem m{&in.file};
        TIFF* t = TIFFClientOpen("mem", "rm", &m, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
        uint32_t w = 0, h = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        px.assign(static_cast<std::size_t>(w) * h, 0);
        if (!TIFFReadRGBAImageOriented(t, w, h, px.data(), ORIENTATION_BOTLEFT, 1)) state.SkipWithError("libtiff failed");
        for (unsigned int& p : px) p = (p & 0xFF00FF00u) | (p & 0xFF) << 16 | (p >> 16 & 0xFF);
        TIFFClose(t);
        benchmark::DoNotOptimize(px.data());
    }
    picts_bench::sPixels got;
    got.w = in.pixels.w;
    got.h = in.pixels.h;
    got.px = px;
    if (!picts_bench::samePixels(got, in.pixels)) state.SkipWithError("libtiff's pixels differ from ours");
    picts_bench::countPixels(state, in.pixels.w * in.pixels.h);
}

void BM_Pillow(benchmark::State& state, const char* name) {
    if (ready(state, input(name))) picts_bench::timePillow(state, name, input(name).pixels);
}

void BM_OursFit(benchmark::State& state, const char* name) {
    const picts_bench::sInput& in = input(name);
    if (!ready(state, in)) return;
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(in.file.data()), static_cast<long long>(in.file.size()), false);
        cPictDummy out;
        if (cPictBase::getImage(&io, out, 24, 16, 0) != cPictBase::frOk) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(out.raw8Bpp());
    }
    picts_bench::countPixels(state, in.pixels.w * in.pixels.h);
}

#define TIFF_FILE(id, file)                                                                                   \
    BENCHMARK_CAPTURE(BM_Ours, id, file)->Unit(benchmark::kMillisecond);                                      \
    BENCHMARK_CAPTURE(BM_Libtiff, id, file)->Unit(benchmark::kMillisecond);                                   \
    BENCHMARK_CAPTURE(BM_Pillow, id, file)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
TIFF_FILE(photo_deflate, "photo_deflate.tif")
TIFF_FILE(photo_palette, "photo_palette.tif")
TIFF_FILE(grey_lzw, "grey_lzw.tif")
TIFF_FILE(page_g4, "page_g4.tif")
BENCHMARK_CAPTURE(BM_OursFit, photo_deflate, "photo_deflate.tif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OursFit, page_g4, "page_g4.tif")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
