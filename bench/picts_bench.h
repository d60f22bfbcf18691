// What the picture benchmarks share: their inputs, written once by Pillow
// into one cache folder and read whole into memory; the pixels every side
// must agree on before it is timed; the timing of our decoders; and the
// peers a user after speed would pick instead, each decoding the same bytes
// from memory into 32-bit pixels:
//
//   libpng, libspng   into a fresh buffer per picture, or into one buffer
//                     reused from picture to picture
//   stb_image         a buffer of its own per picture (it cannot decode into
//                     a caller's), 8-bit R, G, B, A
//   SDL2_image        a surface of its own, converted to ARGB8888 (the
//                     pixels a caller of IMG_Load gets as 32-bit words)
//   Pillow            in its own process, timed there by timeit on the
//                     process's CPU clock; the image it holds after load(),
//                     converted to RGBA when load() left fewer than 32 bits
//                     a pixel (palettes, GIF frames)
//   ImageMagick       MagickCore into a fresh or a reused buffer
//
// Our side of a Pillow pair reports its CPU time the same way (manual time),
// so that both ratios' sides count the process's processor time, kernel
// included, and not the wall clock of a shared machine.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "processclock.h"

#ifdef QOR_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif
#ifdef QOR_HAVE_LIBPNG
#include <png.h>
#endif
#ifdef QOR_HAVE_SPNG
#include <spng.h>
#endif
#ifdef QOR_HAVE_SDL2_IMAGE
#include <SDL_image.h>
#endif
#ifdef QOR_HAVE_STB_IMAGE
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop
#endif

namespace picts_bench {

constexpr const char* kDir = "/tmp/qor_picts_bench";

inline std::string path(const std::string& name) { return std::string(kDir) + "/" + name; }

// The cache's file `name`.  When it is missing, the Python program `maker`
// (null: the one already at `script`, which another benchmark wrote) is
// saved as `script` and run with the cache folder.  Empty when that fails.
inline std::vector<unsigned char> load(const std::string& name, const char* maker, const std::string& script) {
    const std::string file = path(name);
    if (!std::ifstream(file)) {
        if (maker)
            if (std::FILE* f = std::fopen(script.c_str(), "w")) {
                std::fputs(maker, f);
                std::fclose(f);
            }
        if (std::system(("/usr/bin/python3 " + script + " " + kDir).c_str()) != 0) return {};
    }
    std::ifstream in(file, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Decoded pixels as every pair compares them: 0xAARRGGBB words, bottom row
// first, as our decoders store them.
struct sPixels {
    long long w = 0, h = 0;
    std::vector<unsigned int> px;
};

// Rows of 4-byte pixels, top row first, into the common form; rgba: bytes R,
// G, B, A (else B, G, R, A).
inline sPixels fromTopDown(const unsigned char* p, long long w, long long h, bool rgba) {
    sPixels out;
    out.w = w;
    out.h = h;
    out.px.resize(static_cast<std::size_t>(w * h));
    for (long long y = 0; y < h; ++y) {
        const unsigned char* s = p + y * w * 4;
        unsigned int* d = out.px.data() + (h - 1 - y) * w;
        for (long long x = 0; x < w; ++x, s += 4)
            d[x] = static_cast<unsigned int>(s[3]) << 24 | static_cast<unsigned int>(s[rgba ? 0 : 2]) << 16 |
                   static_cast<unsigned int>(s[1]) << 8 | s[rgba ? 2 : 0];
    }
    return out;
}

// Whether b holds a's pixels.  tolerance: the most any component may differ
// (decoders of lossy formats round differently); clearEqual: pixels with
// alpha 0 in both count as equal whatever their colour (what a transparent
// GIF index carries differs from decoder to decoder).
inline bool samePixels(const sPixels& a, const sPixels& b, int tolerance = 0, bool clearEqual = false) {
    if (a.w != b.w || a.h != b.h || a.px.size() != b.px.size() || a.px.empty()) return false;
    for (std::size_t i = 0; i < a.px.size(); ++i) {
        const unsigned int p = a.px[i], q = b.px[i];
        if (p == q) continue;
        if (clearEqual && (p >> 24) == 0 && (q >> 24) == 0) continue;
        for (int k = 0; k < 32; k += 8) {
            const int d = static_cast<int>((p >> k) & 0xFF) - static_cast<int>((q >> k) & 0xFF);
            if (d > tolerance || -d > tolerance) return false;
        }
    }
    return true;
}

// One of our decoders on `file`, fresh.
template <typename Decoder>
sPixels ours(const std::vector<unsigned char>& file) {
    sPixels out;
    cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
    Decoder d;
    if (!d.decode(&io) || d.is16Bpp()) return out;
    out.w = d.width();
    out.h = d.height();
    out.px.assign(d.raw8Bpp(), d.raw8Bpp() + out.w * out.h);
    return out;
}

// A program's input and its pixels as our decoder gives them, which every
// peer must match before it is timed; made once per process.
struct sInput {
    std::vector<unsigned char> file;
    sPixels pixels;
};
template <typename Decoder>
const sInput& input(const std::string& name, std::vector<unsigned char> (*loader)(const std::string&)) {
    static std::map<std::string, sInput> inputs;
    auto it = inputs.find(name);
    if (it != inputs.end()) return it->second;
    sInput& in = inputs[name];
    in.file = loader(name);
    if (!in.file.empty()) in.pixels = ours<Decoder>(in.file);
    return in;
}
inline bool ready(benchmark::State& state, const sInput& in) {
    if (in.file.empty())
        state.SkipWithError("no input (python3-pil missing?)");
    else if (in.pixels.px.empty())
        state.SkipWithError("our decoder failed");
    else
        return true;
    return false;
}

inline void countPixels(benchmark::State& state, long long pixels) {
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// Times decoding `file` from memory, in megapixels a second: with a fresh
// Decoder (and so a fresh pixel buffer) per picture, or (reuse) with one
// Decoder that decodes every picture over the pixels of the one before.
template <typename Decoder>
void timeOurs(benchmark::State& state, const std::vector<unsigned char>& file, bool reuse = false) {
    if (file.empty()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    long long pixels = 0;
    // The reused decoder has decoded the picture once, as a kept one has.
    Decoder kept;
    if (reuse) {
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        kept.decode(&io);
    }
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        std::unique_ptr<Decoder> fresh(reuse ? nullptr : new Decoder);
        Decoder& d = reuse ? kept : *fresh;
        if (!d.decode(&io)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(d.raw8Bpp());
        pixels = d.width() * d.height();
    }
    countPixels(state, pixels);
}

using bench_clock::processSeconds;

// As timeOurs with fresh decoders, each iteration's time being the CPU time
// the decode took (benchmarks registered with UseManualTime): our side of a
// Pillow pair.
template <typename Decoder>
void timeOursCpu(benchmark::State& state, const std::vector<unsigned char>& file) {
    if (file.empty()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    long long pixels = 0;
    for (auto _ : state) {
        const double t0 = processSeconds();
        {
            cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
            Decoder d;
            if (!d.decode(&io)) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(d.raw8Bpp());
            pixels = d.width() * d.height();
        }
        state.SetIterationTime(processSeconds() - t0);
    }
    countPixels(state, pixels);
}

// ---------------------------------------------------------------------------
// Pillow

// Pillow decoding the cache's file `name` in a process of its own: the CPU
// seconds one decode takes (timeit on time.process_time, as many decodes as
// fill half a second, the mean), and the pixels of the first picture (every
// frame's for an animation: `frames` > 0 decodes that many) in `pixels`.
// Negative when Pillow cannot run or decode.
inline double pillow(const std::string& name, int frames, sPixels* pixels) {
    const std::string raw = std::string(kDir) + "/pillow-" + name + ".bgra";
    const std::string script = std::string(kDir) + "/pillow-decode.py";
    static const char* kScript = R"(
import io, sys, time, timeit
from PIL import Image
data = open(sys.argv[1], 'rb').read()
frames = int(sys.argv[3])
def full(im):
    # The 32-bit pixels: RGB images are held at 4 bytes a pixel already.
    return im if im.mode in ('RGB', 'RGBA') else im.convert('RGBA')
def decode():
    im = Image.open(io.BytesIO(data))
    if not frames:
        im.load()
        return full(im)
    for i in range(frames):
        im.seek(i)
        im.load()
        last = full(im)
    return last
first = Image.open(io.BytesIO(data))
first.load()
first = first.convert('RGBA')
with open(sys.argv[2], 'wb') as f:
    f.write(b'%d %d\n' % first.size)
    f.write(first.tobytes('raw', 'BGRA'))
t = timeit.Timer(decode, timer=time.process_time)
n, took = t.autorange()
n = max(1, int(n * 0.5 / max(took, 1e-6)))
print(t.timeit(n) / n)
)";
    if (std::FILE* f = std::fopen(script.c_str(), "w")) {
        std::fputs(kScript, f);
        std::fclose(f);
    }
    const std::string cmd = "/usr/bin/python3 " + script + " " + path(name) + " " + raw + " " +
                            std::to_string(frames) + " 2>/dev/null";
    double seconds = -1;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
        pclose(p);
    }
    if (pixels && seconds > 0) {
        std::ifstream in(raw, std::ios::binary);
        long long w = 0, h = 0;
        in >> w >> h;
        in.get();
        std::vector<unsigned char> bytes(static_cast<std::size_t>(w * h * 4));
        if (w > 0 && h > 0 && in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
            *pixels = fromTopDown(bytes.data(), w, h, false);
        else
            seconds = -1;
    }
    std::remove(raw.c_str());
    return seconds;
}

// Times Pillow decoding the cache's file `name` (UseManualTime, one
// iteration) after checking its pixels against `expect`.
inline void timePillow(benchmark::State& state, const std::string& name, const sPixels& expect, int frames = 0,
                       bool clearEqual = false) {
    sPixels theirs;
    const double seconds = pillow(name, frames, &theirs);
    if (seconds <= 0) {
        state.SkipWithError("Pillow not available");
        return;
    }
    if (!samePixels(expect, theirs, 0, clearEqual)) {
        state.SkipWithError("pixels differ from Pillow");
        return;
    }
    for (auto _ : state) state.SetIterationTime(seconds);
    countPixels(state, expect.w * expect.h * (frames ? frames : 1));
}

// ---------------------------------------------------------------------------
// stb_image

#ifdef QOR_HAVE_STB_IMAGE
inline sPixels stbDecode(const std::vector<unsigned char>& file) {
    sPixels out;
    int w = 0, h = 0, n = 0;
    stbi_uc* p = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 4);
    if (!p) return out;
    out = fromTopDown(p, w, h, true);
    stbi_image_free(p);
    return out;
}

// stb_image into 8-bit R, G, B, A (its own buffer per picture), after the
// pixels are checked against `expect` (tolerance: for JPEG, whose IDCT
// and upsampling are stb's own).
inline void timeStb(benchmark::State& state, const std::vector<unsigned char>& file, const sPixels& expect,
                    int tolerance = 0) {
    if (!samePixels(expect, stbDecode(file), tolerance)) {
        state.SkipWithError("pixels differ from stb_image");
        return;
    }
    for (auto _ : state) {
        int w = 0, h = 0, n = 0;
        stbi_uc* p = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 4);
        if (!p) state.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    countPixels(state, expect.w * expect.h);
}
#endif

// ---------------------------------------------------------------------------
// SDL2_image

#ifdef QOR_HAVE_SDL2_IMAGE
// IMG_LoadTyped_RW from memory, converted to ARGB8888 (B, G, R, A bytes):
// the surface handed back, or null.
inline SDL_Surface* sdlDecode(const std::vector<unsigned char>& file, const char* type) {
    SDL_RWops* rw = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
    SDL_Surface* s = IMG_LoadTyped_RW(rw, 1, type);
    if (!s) return nullptr;
    SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(s);
    return c;
}

inline void timeSdlImage(benchmark::State& state, const std::vector<unsigned char>& file, const char* type,
                         const sPixels& expect) {
    SDL_Surface* s = sdlDecode(file, type);
    if (!s) {
        state.SkipWithError("SDL2_image failed");
        return;
    }
    sPixels theirs;
    if (s->pitch == s->w * 4) theirs = fromTopDown(static_cast<const unsigned char*>(s->pixels), s->w, s->h, false);
    SDL_FreeSurface(s);
    if (!samePixels(expect, theirs)) {
        state.SkipWithError("pixels differ from SDL2_image");
        return;
    }
    for (auto _ : state) {
        SDL_Surface* t = sdlDecode(file, type);
        benchmark::DoNotOptimize(t);
        SDL_FreeSurface(t);
    }
    countPixels(state, expect.w * expect.h);
}
#endif

// ---------------------------------------------------------------------------
// libpng and libspng

#ifdef QOR_HAVE_LIBPNG
struct sPngMemReader {
    const unsigned char* p;
    std::size_t left;
};

inline void pngReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<sPngMemReader*>(png_get_io_ptr(png));
    if (n > r->left) png_error(png, "short");
    std::memcpy(out, r->p, n);
    r->p += n;
    r->left -= n;
}

// libpng to 0xAARRGGBB words, bottom row first: into `into` (w x h words)
// when given, else into a fresh, uninitialised buffer, as our decoders
// allocate their own.  keep: the pixels also go to `out`.
inline bool libpngDecode(const std::vector<unsigned char>& file, sPixels* out, unsigned int* into = nullptr) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    sPngMemReader r{file.data(), file.size()};
    std::vector<png_bytep> rows;
    unsigned int* fresh = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete[] fresh;
        return false;
    }
    png_set_read_fn(png, &r, pngReadFromMemory);
    png_read_info(png, info);
    const long long w = png_get_image_width(png, info);
    const long long h = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    unsigned int* px = into ? into : (fresh = new unsigned int[static_cast<std::size_t>(w * h)]);
    rows.resize(static_cast<std::size_t>(h));
    for (long long y = 0; y < h; ++y) rows[static_cast<std::size_t>(y)] = reinterpret_cast<png_bytep>(px + (h - 1 - y) * w);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    if (out) {
        out->w = w;
        out->h = h;
        out->px.assign(px, px + w * h);
    }
    delete[] fresh;
    return true;
}

// libpng twice: into a fresh buffer per picture, as ours decodes, and into
// one buffer reused from picture to picture, which spares it the page faults
// of new memory.
inline void timeLibpng(benchmark::State& state, const std::vector<unsigned char>& file, const sPixels& expect,
                       bool reuse) {
    sPixels theirs;
    if (!libpngDecode(file, &theirs) || !samePixels(expect, theirs)) {
        state.SkipWithError("pixels differ from libpng");
        return;
    }
    // The reused buffer has been written once, as a kept buffer has.
    unsigned int* into = reuse ? theirs.px.data() : nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(libpngDecode(file, nullptr, into));
    countPixels(state, expect.w * expect.h);
}
#endif

#ifdef QOR_HAVE_SPNG
// libspng's one call: 8-bit R, G, B, A with tRNS applied, top row first,
// into `into` (sized to the picture) or a fresh buffer per picture.
inline bool spngDecode(const std::vector<unsigned char>& file, std::vector<unsigned char>* keep,
                       unsigned char* into = nullptr, long long* w = nullptr, long long* h = nullptr) {
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return false;
    bool ok = spng_set_png_buffer(ctx, file.data(), file.size()) == 0;
    spng_ihdr ihdr{};
    std::size_t size = 0;
    ok = ok && spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
    if (ok) {
        std::unique_ptr<unsigned char[]> fresh(into ? nullptr : new unsigned char[size]);
        unsigned char* out = into ? into : fresh.get();
        ok = spng_decode_image(ctx, out, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
        if (ok && keep) keep->assign(out, out + size);
        if (w) *w = ihdr.width;
        if (h) *h = ihdr.height;
    }
    spng_ctx_free(ctx);
    return ok;
}

inline void timeSpng(benchmark::State& state, const std::vector<unsigned char>& file, const sPixels& expect,
                     bool reuse) {
    std::vector<unsigned char> kept;
    long long w = 0, h = 0;
    if (!spngDecode(file, &kept, nullptr, &w, &h) || !samePixels(expect, fromTopDown(kept.data(), w, h, true))) {
        state.SkipWithError("pixels differ from libspng");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(spngDecode(file, nullptr, reuse ? kept.data() : nullptr));
    countPixels(state, expect.w * expect.h);
}
#endif

// ---------------------------------------------------------------------------
// ImageMagick

#ifdef QOR_HAVE_MAGICKCORE
// MagickCore reads `file` as the format `magick` into BGRA pixels, top row
// first, kept in `keep` when it is not null.  into: a buffer of w x h
// pixels to reuse; null for a fresh one per picture, as our decoders
// allocate their own.
inline bool magickDecode(const std::vector<unsigned char>& file, const char* magick, std::vector<unsigned int>* keep,
                         long long& w, long long& h, unsigned int* into = nullptr) {
    ExceptionInfo* ex = AcquireExceptionInfo();
    ImageInfo* info = CloneImageInfo(nullptr);
    std::strcpy(info->magick, magick);
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

// Times MagickCore reading `file`, in megapixels a second: into a fresh
// buffer per picture, or (reuse) into one buffer kept from picture to
// picture, which spares it the page faults of new memory.  With `expect`,
// its pixels are checked first; fileOrder: ImageMagick hands the rows over
// in the file's order, leaving a bottom-up file's orientation as a property
// of the image (as it does for TGA), so that its first row is our row 0.
inline void timeMagick(benchmark::State& state, const std::vector<unsigned char>& file, const char* magick,
                       bool reuse, const sPixels* expect = nullptr, bool fileOrder = false) {
    long long w = 0, h = 0;
    std::vector<unsigned int> first;
    if (!magickDecode(file, magick, &first, w, h)) {
        state.SkipWithError("ImageMagick failed");
        return;
    }
    sPixels theirs = fromTopDown(reinterpret_cast<const unsigned char*>(first.data()), w, h, false);
    if (fileOrder)
        for (long long y = 0; y < h / 2; ++y)
            std::swap_ranges(theirs.px.begin() + y * w, theirs.px.begin() + (y + 1) * w, theirs.px.begin() + (h - 1 - y) * w);
    if (expect && !samePixels(*expect, theirs)) {
        state.SkipWithError("pixels differ from ImageMagick");
        return;
    }
    std::vector<unsigned int> kept(reuse ? static_cast<std::size_t>(w * h) : 0);
    for (auto _ : state) benchmark::DoNotOptimize(magickDecode(file, magick, nullptr, w, h, reuse ? kept.data() : nullptr));
    countPixels(state, w * h);
}
#endif

}  // namespace picts_bench
