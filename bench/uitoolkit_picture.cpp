// UI pictures against what a user would otherwise pick:
//  - decoding a 512 x 512 packed UI image against zlib's uncompress() of
//    the same stream into a buffer of the known size;
//  - stretching and area-scaling 512 x 512 pixels to 768 x 640 and to
//    200 x 150, against Pillow's resize of the same sizes, timed by Python's
//    timeit in one process started once (its per-call time is reported as
//    the manual iteration time).  Shrinking, both of our methods average
//    the area each output pixel covers, which is what Pillow's BOX filter
//    computes; that is the reference, in RGB (three bands, each pixel in four
//    bytes) and in RGBA (which Pillow premultiplies by alpha, resizes and
//    divides again).  Ours always resizes all four channels of its ARGB
//    pixels, alike for both.  Enlarging is held against BILINEAR.
#include "uitoolkit/picture.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 512;

// A picture with smooth areas and noise, as icons and theme pieces have.
std::vector<std::uint32_t> pixels() {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(kSide) * kSide);
    std::uint64_t x = 88172645463325252ull;
    for (int y = 0; y < kSide; ++y)
        for (int i = 0; i < kSide; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            const std::uint32_t noise = (x & 7) == 0 ? static_cast<std::uint32_t>(x >> 40) & 0xFFu : 0u;
            px[static_cast<std::size_t>(y) * kSide + i] =
                0xFF000000u | static_cast<std::uint32_t>(i / 2) << 16 | static_cast<std::uint32_t>(y / 2) << 8 | noise;
        }
    return px;
}

const std::vector<unsigned char>& packed() {
    static std::vector<unsigned char> out = [] {
        const std::vector<std::uint32_t> px = pixels();
        uLongf n = compressBound(static_cast<uLong>(px.size() * 4));
        std::vector<unsigned char> v(8 + n);
        const std::int32_t side = kSide;
        std::memcpy(v.data(), &side, 4);
        std::memcpy(v.data() + 4, &side, 4);
        compress2(v.data() + 8, &n, reinterpret_cast<const Bytef*>(px.data()), static_cast<uLong>(px.size() * 4), 6);
        v.resize(8 + n);
        return v;
    }();
    return out;
}

void BM_PackedImageDecode(benchmark::State& state) {
    const auto& p = packed();
    for (auto _ : state) {
        cPicture pic;
        benchmark::DoNotOptimize(pic.create(p.data(), static_cast<long long>(p.size())));
    }
    state.SetBytesProcessed(state.iterations() * kSide * kSide * 4LL);
}

void BM_ZlibUncompress(benchmark::State& state) {
    const auto& p = packed();
    std::vector<unsigned char> out(static_cast<std::size_t>(kSide) * kSide * 4);
    for (auto _ : state) {
        uLongf n = static_cast<uLongf>(out.size());
        benchmark::DoNotOptimize(uncompress(out.data(), &n, p.data() + 8, static_cast<uLong>(p.size() - 8)));
    }
    state.SetBytesProcessed(state.iterations() * kSide * kSide * 4LL);
}

void BM_Resample(benchmark::State& state) {
    static const std::vector<std::uint32_t> px = pixels();
    cPicture pic;
    pic.create(px.data(), kSide, kSide, false);
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    for (auto _ : state) {
        cPicture out;
        benchmark::DoNotOptimize(pic.resizing(static_cast<int>(state.range(0)), w, h, &out));
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

// Pillow's resize of the same pixels, per call, from one timeit run.
void BM_PillowResize(benchmark::State& state) {
    static const std::vector<std::uint32_t> px = pixels();
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    const char* filter = state.range(0) == 0 ? "BILINEAR" : "BOX";
    const char* mode = state.range(3) == 0 ? "RGB" : "RGBA";
    const std::string raw = "/tmp/qor-bench-pillow.raw";
    if (FILE* f = std::fopen(raw.c_str(), "wb")) {
        std::fwrite(px.data(), 4, px.size(), f);
        std::fclose(f);
    }
    const std::string cmd = "/usr/bin/python3 -c \"import timeit; from PIL import Image; "
                            "im = Image.frombytes('RGBA', (" + std::to_string(kSide) + "," + std::to_string(kSide) +
                            "), open('" + raw + "','rb').read(), 'raw', 'BGRA').convert('" + mode + "'); "
                            "n = 50; print(timeit.timeit(lambda: im.resize((" + std::to_string(w) + "," + std::to_string(h) +
                            "), Image.Resampling." + filter + "), number=n) / n)\" 2>/dev/null";
    double seconds = -1;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
        pclose(p);
    }
    std::remove(raw.c_str());
    if (seconds <= 0) {
        state.SkipWithError("Pillow not available");
        return;
    }
    for (auto _ : state) state.SetIterationTime(seconds);
    state.SetItemsProcessed(state.iterations() * w * h);
}

}  // namespace

BENCHMARK(BM_PackedImageDecode);
BENCHMARK(BM_ZlibUncompress);
// method (0 stretch, 1 scaling), width, height
BENCHMARK(BM_Resample)->Args({0, 768, 640})->Args({0, 200, 150})->Args({1, 768, 640})->Args({1, 200, 150});
// filter (0 BILINEAR, 1 BOX), width, height, mode (0 RGB, 1 RGBA)
BENCHMARK(BM_PillowResize)
    ->Args({0, 768, 640, 0})
    ->Args({1, 200, 150, 0})
    ->Args({1, 200, 150, 1})
    ->UseManualTime()
    ->Iterations(3);

BENCHMARK_MAIN();
