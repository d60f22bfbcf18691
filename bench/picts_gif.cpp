// GIF decoding: cPictGIF against giflib, stb_image and Pillow decoding the
// same animated file (60 frames of 640 x 480, 256 colours, a graphic
// control with a delay and a transparent index on every frame) from memory
// into 32-bit pixels, frame by frame.  The file is written with giflib's
// encoder.  stb_image and Pillow also lay every frame over the one before
// (the file's frames cover the whole screen, so only transparent pixels
// differ), work ours and giflib's loop leave out: their pairs hold ours to
// more than the same work.
#include <benchmark/benchmark.h>

#include <gif_lib.h>

#include "picts_bench.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/memio.h"
#include "picts/pictgif.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 60;

struct sMemOut {
    std::vector<unsigned char> bytes;
};

int writeMem(GifFileType* gif, const GifByteType* data, int n) {
    auto* out = static_cast<sMemOut*>(gif->UserData);
    out->bytes.insert(out->bytes.end(), data, data + n);
    return n;
}

struct sMemIn {
    const std::vector<unsigned char>* bytes;
    std::size_t pos;
};

int readMem(GifFileType* gif, GifByteType* data, int n) {
    auto* in = static_cast<sMemIn*>(gif->UserData);
    const std::size_t left = in->bytes->size() - in->pos;
    const std::size_t take = static_cast<std::size_t>(n) < left ? static_cast<std::size_t>(n) : left;
    std::memcpy(data, in->bytes->data() + in->pos, take);
    in->pos += take;
    return static_cast<int>(take);
}

// A moving, dithered scene: gradients, a ball, and noise, so that the LZW
// data is neither trivial nor random.
const std::vector<unsigned char>& animation() {
    static std::vector<unsigned char> file;
    if (!file.empty()) return file;
    int err = 0;
    sMemOut out;
    GifFileType* gif = EGifOpen(&out, writeMem, &err);
    if (!gif) return file;
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        map->Colors[i].Red = static_cast<GifByteType>((i & 0xE0) | (i >> 3 & 0x1C));
        map->Colors[i].Green = static_cast<GifByteType>((i << 3 & 0xE0) | 0x10);
        map->Colors[i].Blue = static_cast<GifByteType>((i << 6 & 0xC0) | 0x20);
    }
    EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
    std::vector<GifPixelType> line(kWidth);
    unsigned int seed = 12345;
    for (int f = 0; f < kFrames; ++f) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSE_DO_NOT;
        gcb.DelayTime = 4;
        gcb.TransparentColor = 255;
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
        EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
        const double cx = 320 + 200 * std::cos(f * 0.1), cy = 240 + 150 * std::sin(f * 0.13);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1103515245u + 12345u;
                const double d = std::hypot(x - cx, y - cy);
                int v = d < 60 ? 200 + (static_cast<int>(d) & 7) : ((x + f * 4) / 5 + (y / 7) * 32) & 0xFF;
                if ((seed >> 24) < 20) v ^= static_cast<int>(seed >> 16) & 3;
                line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(v);
            }
            EGifPutLine(gif, line.data(), kWidth);
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &err);
    file.swap(out.bytes);
    return file;
}

// giflib: every frame decoded and mapped through its colour table, the
// transparent index to 0x00FFFFFF, as a user of the library writes it.
bool giflibDecodeAll(const std::vector<unsigned char>& file, std::vector<unsigned int>& px, int& frames,
                     std::vector<unsigned int>* keepFrame = nullptr, int keepIndex = 0) {
    int err = 0;
    sMemIn in{&file, 0};
    GifFileType* gif = DGifOpen(&in, readMem, &err);
    if (!gif) return false;
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &err);
        return false;
    }
    frames = gif->ImageCount;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& im = gif->SavedImages[i];
        const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
        GraphicsControlBlock gcb;
        int transparent = -1;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
        unsigned int lookup[256];
        for (int c = 0; c < 256; ++c) {
            if (!map || c >= map->ColorCount || c == transparent) {
                lookup[c] = 0x00FFFFFFu;
            } else {
                const GifColorType& k = map->Colors[c];
                lookup[c] = 0xFF000000u | static_cast<unsigned int>(k.Red) << 16 | static_cast<unsigned int>(k.Green) << 8 | k.Blue;
            }
        }
        const std::size_t n = static_cast<std::size_t>(im.ImageDesc.Width) * static_cast<std::size_t>(im.ImageDesc.Height);
        px.resize(n);
        for (std::size_t k = 0; k < n; ++k) px[k] = lookup[im.RasterBits[k]];
        if (keepFrame && i == keepIndex) *keepFrame = px;
    }
    DGifCloseFile(gif, &err);
    return true;
}

void BM_OursGifAnimation(benchmark::State& state) {
    const std::vector<unsigned char>& file = animation();
    if (file.empty()) {
        state.SkipWithError("no input");
        return;
    }
    long long pixels = 0;
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        cPictGIF gif;
        const int n = gif.getNumPages(&io);
        pixels = 0;
        for (int f = 0; f < n; ++f) {
            benchmark::DoNotOptimize(gif.decodePage(&io, f));
            pixels += gif.width() * gif.height();
        }
    }
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_OursGifAnimation)->Unit(benchmark::kMillisecond);

void BM_GiflibGifAnimation(benchmark::State& state) {
    const std::vector<unsigned char>& file = animation();
    std::vector<unsigned int> px, theirs;
    int frames = 0;
    // The same pixels first (giflib's rows run from the top, ours from the bottom).
    if (!giflibDecodeAll(file, px, frames, &theirs, kFrames - 1) || frames != kFrames) {
        state.SkipWithError("giflib failed");
        return;
    }
    {
        cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
        cPictGIF gif;
        if (gif.getNumPages(&io) != kFrames || !gif.decodePage(&io, kFrames - 1)) {
            state.SkipWithError("our decoder failed");
            return;
        }
        for (int y = 0; y < kHeight; ++y)
            if (std::memcmp(gif.raw8Bpp() + (kHeight - 1 - y) * kWidth, &theirs[static_cast<std::size_t>(y * kWidth)],
                            kWidth * 4)) {
                state.SkipWithError("pixels differ from giflib");
                return;
            }
    }
    // Fresh (arg 0): a new frame buffer for each animation, as ours makes
    // one per decoder; reused (arg 1): one buffer kept across animations.
    const bool reuse = state.range(0) != 0;
    for (auto _ : state) {
        if (!reuse) std::vector<unsigned int>().swap(px);
        benchmark::DoNotOptimize(giflibDecodeAll(file, px, frames));
    }
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight * kFrames / 1e6 * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GiflibGifAnimation)->Arg(0)->Arg(1)->ArgName("reused")->Unit(benchmark::kMillisecond);

// Our first frame, which stb_image and Pillow must give too (transparent
// pixels compared by their alpha alone: each decoder puts its own colour
// under them).
const picts_bench::sPixels& firstFrame() {
    static picts_bench::sPixels px;
    if (!px.px.empty()) return px;
    const std::vector<unsigned char>& file = animation();
    cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
    cPictGIF gif;
    if (gif.getNumPages(&io) == kFrames && gif.decodePage(&io, 0)) {
        px.w = gif.width();
        px.h = gif.height();
        px.px.assign(gif.raw8Bpp(), gif.raw8Bpp() + px.w * px.h);
    }
    return px;
}

// Ours timed on the process's CPU clock, for the Pillow pair.
void BM_OursGifAnimationCpu(benchmark::State& state) {
    const std::vector<unsigned char>& file = animation();
    for (auto _ : state) {
        const double t0 = picts_bench::processSeconds();
        {
            cBufWrapperIO io(const_cast<unsigned char*>(file.data()), static_cast<long long>(file.size()), false);
            cPictGIF gif;
            const int n = gif.getNumPages(&io);
            for (int f = 0; f < n; ++f) benchmark::DoNotOptimize(gif.decodePage(&io, f));
        }
        state.SetIterationTime(picts_bench::processSeconds() - t0);
    }
    picts_bench::countPixels(state, static_cast<long long>(kWidth) * kHeight * kFrames);
}
BENCHMARK(BM_OursGifAnimationCpu)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PillowGifAnimation(benchmark::State& state) {
    const std::vector<unsigned char>& file = animation();
    if (std::FILE* f = std::fopen(picts_bench::path("anim.gif").c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    if (firstFrame().px.empty()) {
        state.SkipWithError("our decoder failed");
        return;
    }
    picts_bench::timePillow(state, "anim.gif", firstFrame(), kFrames, true);
}
BENCHMARK(BM_PillowGifAnimation)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

#ifdef QOR_HAVE_STB_IMAGE
// stb_image's animated GIF call: every frame, 8-bit R, G, B, A, in one
// buffer of its own per animation.
void BM_StbGifAnimation(benchmark::State& state) {
    const std::vector<unsigned char>& file = animation();
    int w = 0, h = 0, frames = 0, comp = 0;
    int* delays = nullptr;
    stbi_uc* p = stbi_load_gif_from_memory(file.data(), static_cast<int>(file.size()), &delays, &w, &h, &frames, &comp, 4);
    const bool same = p && frames == kFrames && picts_bench::samePixels(firstFrame(), picts_bench::fromTopDown(p, w, h, true), 0, true);
    stbi_image_free(p);
    stbi_image_free(delays);
    if (!same) {
        state.SkipWithError("pixels differ from stb_image");
        return;
    }
    for (auto _ : state) {
        delays = nullptr;
        p = stbi_load_gif_from_memory(file.data(), static_cast<int>(file.size()), &delays, &w, &h, &frames, &comp, 4);
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
        stbi_image_free(delays);
    }
    picts_bench::countPixels(state, static_cast<long long>(kWidth) * kHeight * kFrames);
}
BENCHMARK(BM_StbGifAnimation)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
