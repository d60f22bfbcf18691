// The JPEG decoder against plain libjpeg-turbo decoding the same file into
// the same pixel format (BGRA words, bottom row first): what the stream
// interface, the source manager and the checks around the library cost.
// The files are made in memory by libjpeg-turbo at start-up: a 1600 x 1200
// photograph-like picture, baseline 4:2:0 and progressive.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "base/memio.h"
#include "picts/pictjpeg.h"

namespace {

constexpr int kWidth = 1600, kHeight = 1200;

std::vector<unsigned char> makeJpeg(bool progressive) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    unsigned seed = 7;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            unsigned char* p = &rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
            p[0] = static_cast<unsigned char>((x * 255 / kWidth + (seed >> 28)) & 255);
            p[1] = static_cast<unsigned char>((y * 255 / kHeight + (seed >> 27)) & 255);
            p[2] = static_cast<unsigned char>(((x ^ y) & 255) / 2 + (seed >> 29));
        }
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<std::size_t>(c.next_scanline) * kWidth * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<unsigned char> file(out, out + outSize);
    std::free(out);
    return file;
}

const std::vector<unsigned char>& file(bool progressive) {
    static const std::vector<unsigned char> baseline = makeJpeg(false);
    static const std::vector<unsigned char> prog = makeJpeg(true);
    return progressive ? prog : baseline;
}

void ourDecoder(benchmark::State& state) {
    const std::vector<unsigned char>& f = file(state.range(0) != 0);
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
        cPictJPEG jpeg;
        if (!jpeg.decode(&io)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(jpeg.raw8Bpp());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kWidth * kHeight * 4);
}

struct sPlainError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void plainExit(j_common_ptr c) { std::longjmp(reinterpret_cast<sPlainError*>(c->err)->jump, 1); }

// What a user of libjpeg-turbo alone writes: the memory source, BGRA rows
// stored bottom row first.
// Run twice: into a fresh buffer per picture, as ours decodes (arg reused
// 0), and into one buffer kept across pictures (reused 1).
void plainLibjpeg(benchmark::State& state) {
    const std::vector<unsigned char>& f = file(state.range(0) != 0);
    const bool reuse = state.range(1) != 0;
    std::unique_ptr<unsigned int[]> kept(new unsigned int[static_cast<std::size_t>(kWidth) * kHeight]);
    std::memset(kept.get(), 0, static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (auto _ : state) {
        std::unique_ptr<unsigned int[]> fresh(reuse ? nullptr : new unsigned int[static_cast<std::size_t>(kWidth) * kHeight]);
        unsigned int* pixels = reuse ? kept.get() : fresh.get();
        jpeg_decompress_struct d;
        sPlainError err;
        d.err = jpeg_std_error(&err.mgr);
        err.mgr.error_exit = plainExit;
        if (setjmp(err.jump)) {
            jpeg_destroy_decompress(&d);
            state.SkipWithError("decode failed");
            break;
        }
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, f.data(), f.size());
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels + static_cast<std::size_t>(kHeight - 1 - d.output_scanline) * kWidth);
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        benchmark::DoNotOptimize(pixels);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kWidth * kHeight * 4);
}

}  // namespace

BENCHMARK(ourDecoder)->Arg(0)->Arg(1)->ArgName("progressive")->Unit(benchmark::kMillisecond);
BENCHMARK(plainLibjpeg)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"progressive", "reused"})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
