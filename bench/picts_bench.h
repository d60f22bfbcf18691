// What the picture benchmarks share: their inputs, written once by Pillow
// into one cache folder and read whole into memory; the timing of one of
// our decoders over them; and ImageMagick's MagickCore reading the same
// bytes into the same 32-bit pixels.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/memio.h"

#ifdef QOR_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

namespace picts_bench {

constexpr const char* kDir = "/tmp/qor_picts_bench";

// The cache's file `name`.  When it is missing, the Python program `maker`
// (null: the one already at `script`, which another benchmark wrote) is
// saved as `script` and run with the cache folder.  Empty when that fails.
inline std::vector<unsigned char> load(const std::string& name, const char* maker, const std::string& script) {
    const std::string path = std::string(kDir) + "/" + name;
    if (!std::ifstream(path)) {
        if (maker)
            if (std::FILE* f = std::fopen(script.c_str(), "w")) {
                std::fputs(maker, f);
                std::fclose(f);
            }
        if (std::system(("/usr/bin/python3 " + script + " " + kDir).c_str()) != 0) return {};
    }
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Times decoding `file` with a fresh Decoder from memory, in megapixels a
// second.
template <typename Decoder>
void timeOurs(benchmark::State& state, std::vector<unsigned char>& file) {
    if (file.empty()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    long long pixels = 0;
    for (auto _ : state) {
        cBufWrapperIO io(file.data(), static_cast<long long>(file.size()), false);
        Decoder d;
        benchmark::DoNotOptimize(d.decode(&io));
        pixels = d.width() * d.height();
    }
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}

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
// picture, which spares it the page faults of new memory.
inline void timeMagick(benchmark::State& state, const std::vector<unsigned char>& file, const char* magick,
                       bool reuse) {
    long long w = 0, h = 0;
    if (!magickDecode(file, magick, nullptr, w, h)) {
        state.SkipWithError("ImageMagick failed");
        return;
    }
    std::vector<unsigned int> kept(reuse ? static_cast<std::size_t>(w * h) : 0);
    for (auto _ : state) benchmark::DoNotOptimize(magickDecode(file, magick, nullptr, w, h, reuse ? kept.data() : nullptr));
    state.counters["MPix/s"] =
        benchmark::Counter(static_cast<double>(w * h) / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
#endif

}  // namespace picts_bench
