// The JPEG decoder against plain libjpeg-turbo decoding the same file into
// the same pixel format (BGRA words, bottom row first): what the stream
// interface, the source manager and the checks around the library cost.
// The files are made in memory by libjpeg-turbo at start-up: a 1600 x 1200
// photograph-like picture, baseline 4:2:0 and progressive, and a 4000 x 3000
// one, baseline 4:2:0, which is also held against TurboJPEG's tjDecompress2.
// Every side runs twice: into a fresh buffer per picture (ours: a new
// picture object), and into one buffer kept across pictures (ours: one
// picture object decoding again).  stb_image and Pillow decode the same
// files into buffers of their own (fresh only; see picts_bench.h).  Camera
// raw: the DNG decoder against LibRaw alone, at the end of the file.
//
// The JPEG 2000 decoder likewise against plain OpenJPEG over a memory
// stream, into the same pixels in a fresh buffer: what reading the
// codestream's headers and packet headers before the library, the stream
// callbacks and the conversion cost.  The codestreams are made in memory by
// OpenJPEG at start-up from the same 1600 x 1200 picture: lossless in one
// layer, and lossy in 20 layers of precincts of 64 x 64 and less.
#include <benchmark/benchmark.h>

#include "picts_bench.h"

#include <cstring>
#include <memory>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <sys/resource.h>

#include <libraw/libraw.h>
#include <openjpeg.h>

#include "base/memio.h"
#include "picts/pictjp2.h"
#include "picts/pictjpeg.h"
#include "picts/pictraw.h"

#ifdef QOR_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

struct sSize {
    int width, height;
};
constexpr sSize k2mp{1600, 1200}, k12mp{4000, 3000};

std::vector<unsigned char> makeJpeg(sSize size, bool progressive) {
    const int kWidth = size.width, kHeight = size.height;
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

// The files by picture: 0 the 2 MP baseline one, 1 the 2 MP progressive
// one, 2 the 12 MP baseline one.
struct sFile {
    sSize size;
    std::vector<unsigned char> bytes;
};
const sFile& file(std::int64_t which) {
    static const sFile baseline{k2mp, makeJpeg(k2mp, false)};
    static const sFile prog{k2mp, makeJpeg(k2mp, true)};
    static const sFile big{k12mp, makeJpeg(k12mp, false)};
    return which == 2 ? big : which == 1 ? prog : baseline;
}

// Two counters per decode beside the time, the same for every side: the
// page faults it took (a buffer the C library maps anew faults its pages
// in), and the share of decodes whose rows start on a 32-byte boundary.
// libjpeg-turbo's colour conversion stores 32 bytes at a time, and rows 16
// bytes past a boundary take about 2% longer.  The C library puts a new
// buffer at either, by what the heap held before, for ours and for the
// reference alike: a ratio that moved by about that much may owe it to
// where the buffers lay, which these counters tell.
struct sDecodeCounters {
    benchmark::State& state;
    long faults0 = pageFaults();
    long long aligned = 0;

    explicit sDecodeCounters(benchmark::State& s) : state(s) {}
    void saw(const void* pixels) { aligned += (reinterpret_cast<std::uintptr_t>(pixels) & 31) == 0; }
    ~sDecodeCounters() {
        const double n = static_cast<double>(state.iterations());
        if (n == 0) return;
        state.counters["faults"] = static_cast<double>(pageFaults() - faults0) / n;
        state.counters["rows on 32 B"] = static_cast<double>(aligned) / n;
    }
    static long pageFaults() {
        rusage r{};
        getrusage(RUSAGE_SELF, &r);
        return r.ru_minflt + r.ru_majflt;
    }
};

std::int64_t pixelBytes(const sFile& f) { return static_cast<std::int64_t>(f.size.width) * f.size.height * 4; }

void ourDecoder(benchmark::State& state) {
    const sFile& f = file(state.range(0));
    const bool reuse = state.range(1) != 0;
    // The reused picture object has decoded the picture once, as a kept one has.
    cPictJPEG kept;
    if (reuse) {
        cBufWrapperIO io(const_cast<unsigned char*>(f.bytes.data()), static_cast<long long>(f.bytes.size()), false);
        kept.decode(&io);
    }
    sDecodeCounters counters(state);
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(f.bytes.data()), static_cast<long long>(f.bytes.size()), false);
        std::unique_ptr<cPictJPEG> fresh(reuse ? nullptr : new cPictJPEG);
        cPictJPEG& jpeg = reuse ? kept : *fresh;
        if (!jpeg.decode(&io)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(jpeg.raw8Bpp());
        counters.saw(jpeg.raw8Bpp());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}

// The picture as our decoder gives it, which the peers must match.
const picts_bench::sPixels& ourPixels(std::int64_t which) {
    static picts_bench::sPixels px[3];
    if (px[which].px.empty()) px[which] = picts_bench::ours<cPictJPEG>(file(which).bytes);
    return px[which];
}

struct sPlainError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void plainExit(j_common_ptr c) { std::longjmp(reinterpret_cast<sPlainError*>(c->err)->jump, 1); }

// What a user of libjpeg-turbo alone writes: the memory source, BGRA rows
// stored bottom row first.  Into `kept` when it is given (the reused
// buffer), else into a new buffer of the size the header gives, made once
// the library has started, as a caller who learns the size from the file
// makes it and as ours makes its own; `fresh` receives that buffer.
bool plainDecode(const sFile& f, unsigned int* kept, std::unique_ptr<unsigned int[]>* fresh = nullptr) {
    jpeg_decompress_struct d;
    sPlainError err;
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = plainExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, f.bytes.data(), f.bytes.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&d);
    const std::size_t width = d.output_width, height = d.output_height;
    unsigned int* pixels = kept;
    if (!pixels) {
        fresh->reset(new unsigned int[width * height]);
        pixels = fresh->get();
    }
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels + (height - 1 - d.output_scanline) * width);
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

// Whether `pixels` (bottom row first) are our decoder's picture.
bool sameAsOurs(std::int64_t which, const unsigned int* pixels) {
    const picts_bench::sPixels& ours = ourPixels(which);
    return !ours.px.empty() && std::memcmp(ours.px.data(), pixels, ours.px.size() * 4) == 0;
}

void plainLibjpeg(benchmark::State& state) {
    const sFile& f = file(state.range(0));
    const bool reuse = state.range(1) != 0;
    const int kWidth = f.size.width, kHeight = f.size.height;
    // The kept buffer holds the first decode, checked against ours.
    std::unique_ptr<unsigned int[]> kept(new unsigned int[static_cast<std::size_t>(kWidth) * kHeight]);
    if (!plainDecode(f, kept.get()) || !sameAsOurs(state.range(0), kept.get())) {
        state.SkipWithError("pixels differ from libjpeg-turbo");
        return;
    }
    sDecodeCounters counters(state);
    for (auto _ : state) {
        std::unique_ptr<unsigned int[]> fresh;
        if (!plainDecode(f, reuse ? kept.get() : nullptr, &fresh)) state.SkipWithError("decode failed");
        unsigned int* pixels = reuse ? kept.get() : fresh.get();
        benchmark::DoNotOptimize(pixels);
        counters.saw(pixels);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}

#ifdef QOR_HAVE_TURBOJPEG
// TurboJPEG's one call: the whole picture into BGRA rows, bottom row first,
// the handle made once as its users keep it.
void turboJpeg(benchmark::State& state) {
    const sFile& f = file(state.range(0));
    const bool reuse = state.range(1) != 0;
    tjhandle tj = tjInitDecompress();
    // The kept buffer holds the first decode, checked against ours.
    std::unique_ptr<unsigned char[]> kept(new unsigned char[static_cast<std::size_t>(pixelBytes(f))]);
    if (tjDecompress2(tj, f.bytes.data(), static_cast<unsigned long>(f.bytes.size()), kept.get(), f.size.width, 0,
                      f.size.height, TJPF_BGRA, TJFLAG_BOTTOMUP) != 0 ||
        !sameAsOurs(state.range(0), reinterpret_cast<const unsigned int*>(kept.get()))) {
        tjDestroy(tj);
        state.SkipWithError("pixels differ from TurboJPEG");
        return;
    }
    sDecodeCounters counters(state);
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> fresh(reuse ? nullptr : new unsigned char[static_cast<std::size_t>(pixelBytes(f))]);
        unsigned char* pixels = reuse ? kept.get() : fresh.get();
        if (tjDecompress2(tj, f.bytes.data(), static_cast<unsigned long>(f.bytes.size()), pixels, f.size.width, 0,
                          f.size.height, TJPF_BGRA, TJFLAG_BOTTOMUP) != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels);
        counters.saw(pixels);
    }
    tjDestroy(tj);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}
#endif

// Ours timed on the process's CPU clock, for the Pillow pairs.
void ourDecoderCpu(benchmark::State& state) {
    const sFile& f = file(state.range(0));
    for (auto _ : state) {
        const double t0 = picts_bench::processSeconds();
        {
            cBufWrapperIO io(const_cast<unsigned char*>(f.bytes.data()), static_cast<long long>(f.bytes.size()), false);
            cPictJPEG jpeg;
            if (!jpeg.decode(&io)) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(jpeg.raw8Bpp());
        }
        state.SetIterationTime(picts_bench::processSeconds() - t0);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}

// Pillow decodes the same file, written to the picture cache; it uses
// libjpeg-turbo with the same defaults, so its pixels are ours exactly.
void pillowJpeg(benchmark::State& state) {
    const std::int64_t which = state.range(0);
    const std::string name = "adapters-" + std::to_string(which) + ".jpg";
    std::system((std::string("mkdir -p ") + picts_bench::kDir).c_str());
    if (std::FILE* out = std::fopen(picts_bench::path(name).c_str(), "wb")) {
        std::fwrite(file(which).bytes.data(), 1, file(which).bytes.size(), out);
        std::fclose(out);
    }
    picts_bench::timePillow(state, name, ourPixels(which));
}

#ifdef QOR_HAVE_STB_IMAGE
// stb_image's own JPEG decoder: its IDCT and upsampling round their own way,
// so its pixels are held to ours within a few steps of each component.
void stbJpeg(benchmark::State& state) {
    const std::int64_t which = state.range(0);
    picts_bench::timeStb(state, file(which).bytes, ourPixels(which), 6);
}
#endif

// ---------------------------------------------------------------------------
// JPEG 2000

// OpenJPEG's stream over bytes in memory, for writing and for reading.
struct sMemStream {
    std::vector<unsigned char>* out = nullptr;
    const std::vector<unsigned char>* in = nullptr;
    std::size_t pos = 0;
};

OPJ_SIZE_T memRead(void* buf, OPJ_SIZE_T n, void* user) {
    sMemStream* m = static_cast<sMemStream*>(user);
    const std::size_t left = m->in->size() - m->pos;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t take = n < left ? n : left;
    std::memcpy(buf, m->in->data() + m->pos, take);
    m->pos += take;
    return take;
}

OPJ_SIZE_T memWrite(void* buf, OPJ_SIZE_T n, void* user) {
    sMemStream* m = static_cast<sMemStream*>(user);
    if (m->out->size() < m->pos + n) m->out->resize(m->pos + n);
    std::memcpy(m->out->data() + m->pos, buf, n);
    m->pos += n;
    return n;
}

// Forward only; a written stream grows as far as it skips.
OPJ_OFF_T memSkip(OPJ_OFF_T n, void* user) {
    sMemStream* m = static_cast<sMemStream*>(user);
    if (n < 0 || (m->in && m->pos + static_cast<std::size_t>(n) > m->in->size())) return -1;
    m->pos += static_cast<std::size_t>(n);
    return n;
}

OPJ_BOOL memSeek(OPJ_OFF_T to, void* user) {
    sMemStream* m = static_cast<sMemStream*>(user);
    if (to < 0 || (m->in && static_cast<std::size_t>(to) > m->in->size())) return OPJ_FALSE;
    m->pos = static_cast<std::size_t>(to);
    return OPJ_TRUE;
}

opj_stream_t* memStream(sMemStream& m, bool input) {
    opj_stream_t* s = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
    opj_stream_set_user_data(s, &m, nullptr);
    if (input) {
        opj_stream_set_user_data_length(s, m.in->size());
        opj_stream_set_read_function(s, memRead);
    } else {
        opj_stream_set_write_function(s, memWrite);
    }
    opj_stream_set_skip_function(s, memSkip);
    opj_stream_set_seek_function(s, memSeek);
    return s;
}

// The JPEG benchmark's 2 MP picture as a codestream of six resolutions:
// `lossless` in one layer (the reversible transform), or lossy in 20 layers
// from 400:1 down to 20:1, with precincts of 64 x 64 at the two finest
// resolutions and 32 x 32 below.
std::vector<unsigned char> makeJ2K(bool lossless) {
    const int kWidth = k2mp.width, kHeight = k2mp.height;
    opj_image_cmptparm_t parm[3];
    std::memset(parm, 0, sizeof parm);
    for (auto& p : parm) {
        p.dx = p.dy = 1;
        p.w = static_cast<OPJ_UINT32>(kWidth);
        p.h = static_cast<OPJ_UINT32>(kHeight);
        p.prec = 8;
    }
    opj_image_t* image = opj_image_create(3, parm, OPJ_CLRSPC_SRGB);
    image->x1 = static_cast<OPJ_UINT32>(kWidth);
    image->y1 = static_cast<OPJ_UINT32>(kHeight);
    unsigned seed = 7;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t i = static_cast<std::size_t>(y) * kWidth + x;
            image->comps[0].data[i] = (x * 255 / kWidth + static_cast<int>(seed >> 28)) & 255;
            image->comps[1].data[i] = (y * 255 / kHeight + static_cast<int>(seed >> 27)) & 255;
            image->comps[2].data[i] = ((x ^ y) & 255) / 2 + static_cast<int>(seed >> 29);
        }
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_mct = 1;
    params.numresolution = 6;
    params.cp_disto_alloc = 1;
    if (lossless) {
        params.tcp_numlayers = 1;
        params.tcp_rates[0] = 0;
    } else {
        params.irreversible = 1;
        params.tcp_numlayers = 20;
        for (int l = 0; l < 20; ++l) params.tcp_rates[l] = 400.0f / static_cast<float>(l + 1);
        params.csty |= 0x01;
        params.res_spec = 3;
        params.prcw_init[0] = params.prch_init[0] = 64;
        params.prcw_init[1] = params.prch_init[1] = 64;
        params.prcw_init[2] = params.prch_init[2] = 32;
    }
    std::vector<unsigned char> out;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    sMemStream m;
    m.out = &out;
    opj_stream_t* stream = memStream(m, false);
    const bool ok = opj_setup_encoder(codec, &params, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) out.clear();
    return out;
}

// The codestreams by picture: 0 lossless, 1 lossy in 20 layers.
const sFile& j2kFile(std::int64_t which) {
    static const sFile lossless{k2mp, makeJ2K(true)};
    static const sFile layered{k2mp, makeJ2K(false)};
    return which == 1 ? layered : lossless;
}

const picts_bench::sPixels& ourJ2KPixels(std::int64_t which) {
    static picts_bench::sPixels px[2];
    if (px[which].px.empty()) px[which] = picts_bench::ours<cPictJ2K>(j2kFile(which).bytes);
    return px[which];
}

void ourJ2K(benchmark::State& state) {
    const sFile& f = j2kFile(state.range(0));
    if (f.bytes.empty() || ourJ2KPixels(state.range(0)).px.empty()) {
        state.SkipWithError("no codestream, or our decoder failed");
        return;
    }
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(f.bytes.data()), static_cast<long long>(f.bytes.size()), false);
        cPictJ2K d;
        if (!d.decode(&io)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(d.raw8Bpp());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}

// What a user of OpenJPEG alone writes: a memory stream, the whole picture
// decoded (a cut codestream refused, as ours refuses it), its three 8-bit
// components stored as BGRA rows, bottom row first, in a new buffer.
bool plainJ2K(const sFile& f, std::unique_ptr<unsigned int[]>& pixels) {
    sMemStream m;
    m.in = &f.bytes;
    opj_stream_t* stream = memStream(m, true);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_image_t* image = nullptr;
    bool ok = opj_setup_decoder(codec, &params) && opj_decoder_set_strict_mode(codec, OPJ_TRUE) &&
              opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
              opj_end_decompress(codec, stream) && image->numcomps == 3;
    if (ok) {
        const std::size_t w = image->comps[0].w, h = image->comps[0].h;
        pixels.reset(new unsigned int[w * h]);
        const OPJ_INT32 *r = image->comps[0].data, *g = image->comps[1].data, *b = image->comps[2].data;
        for (std::size_t y = 0; y < h; ++y) {
            unsigned int* row = pixels.get() + (h - 1 - y) * w;
            for (std::size_t x = 0; x < w; ++x, ++r, ++g, ++b)
                row[x] = 0xFF000000u | static_cast<unsigned int>(*r) << 16 | static_cast<unsigned int>(*g) << 8 |
                         static_cast<unsigned int>(*b);
        }
    }
    if (image) opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return ok;
}

void plainOpenJpeg(benchmark::State& state) {
    const sFile& f = j2kFile(state.range(0));
    const picts_bench::sPixels& ours = ourJ2KPixels(state.range(0));
    std::unique_ptr<unsigned int[]> first;
    if (f.bytes.empty() || ours.px.empty() || !plainJ2K(f, first) ||
        std::memcmp(first.get(), ours.px.data(), ours.px.size() * 4) != 0) {
        state.SkipWithError("pixels differ from OpenJPEG's");
        return;
    }
    for (auto _ : state) {
        std::unique_ptr<unsigned int[]> pixels;
        if (!plainJ2K(f, pixels)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.get());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * pixelBytes(f));
}

// ---------------------------------------------------------------------------
// Camera raw: our DNG decoder against LibRaw alone developing the same file
// from memory with the same settings (16 bits, its default rendering), into
// the same 16-bit pixels: what the walk of the file's structure, the weighing
// of its JPEG streams before LibRaw decodes them, our stream and the copy
// cost.  The files, a sensor of 1536 x 1024 uncompressed, in one lossless
// JPEG strip and in lossless JPEG tiles of 256 x 256, are written into the
// picture cache by tests/picts/make_raw_images.py.

const std::vector<unsigned char>& rawFile(std::int64_t which) {
    static const std::string maker = std::string(
                                         "import os, random, struct, sys\n"
                                         "sys.path.insert(0, '") +
                                     QOR_SOURCE_DIR +
                                     "/tests/picts')\n"
                                     "import make_raw_images as m\n"
                                     "out = sys.argv[1]\n"
                                     "os.makedirs(out, exist_ok=True)\n"
                                     "w, h = 1536, 1024\n"
                                     "strip = m.sensor(random.Random(5), w, h, 4095)\n"
                                     "values = list(struct.unpack('<%dH' % (w * h), strip))\n"
                                     "m.write_tiff(os.path.join(out, 'adapters-raw.dng'), m.dng_entries(w, h, len(strip)), "
                                     "strip)\n"
                                     "open(os.path.join(out, 'adapters-raw-lj.dng'), 'wb').write(m.lossless_dng(w, h, values))\n"
                                     "open(os.path.join(out, 'adapters-raw-ljtiles.dng'), 'wb').write(\n"
                                     "    m.lossless_dng(w, h, values, tile=(256, 256)))\n";
    static const char* const names[] = {"adapters-raw.dng", "adapters-raw-lj.dng", "adapters-raw-ljtiles.dng"};
    static std::vector<unsigned char> files[3];
    if (files[which].empty())
        files[which] =
            picts_bench::load(names[which], maker.c_str(), std::string(picts_bench::kDir) + "-raw.py");
    return files[which];
}

// Developed pixels as ours keeps them: 16-bit R, G, B and an opaque alpha
// in a 64-bit word, bottom row first.
struct sRawPixels {
    long long w = 0, h = 0;
    std::vector<unsigned long long> px;
};

bool plainRaw(const std::vector<unsigned char>& f, sRawPixels& out) {
    std::unique_ptr<LibRaw> lr(new LibRaw);
    if (lr->open_buffer(const_cast<unsigned char*>(f.data()), f.size()) != LIBRAW_SUCCESS) return false;
    lr->imgdata.params.output_bps = 16;
    if (lr->unpack() != LIBRAW_SUCCESS || lr->dcraw_process() != LIBRAW_SUCCESS) return false;
    int err = 0;
    libraw_processed_image_t* img = lr->dcraw_make_mem_image(&err);
    if (!img || img->colors != 3 || img->bits != 16) {
        LibRaw::dcraw_clear_mem(img);
        return false;
    }
    out.w = img->width;
    out.h = img->height;
    out.px.resize(static_cast<std::size_t>(out.w * out.h));
    const unsigned short* s = reinterpret_cast<const unsigned short*>(img->data);
    for (long long y = 0; y < out.h; ++y) {
        unsigned long long* row = out.px.data() + (out.h - 1 - y) * out.w;
        for (long long x = 0; x < out.w; ++x, s += 3)
            row[x] = 0xFFFFULL << 48 | static_cast<unsigned long long>(s[0]) << 32 |
                     static_cast<unsigned long long>(s[1]) << 16 | s[2];
    }
    LibRaw::dcraw_clear_mem(img);
    return true;
}

void ourRaw(benchmark::State& state) {
    const std::vector<unsigned char>& f = rawFile(state.range(0));
    long long pixels = 0;
    for (auto _ : state) {
        cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
        cPictDNG dng;
        if (!dng.decode(&io)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(dng.raw16Bpp());
        pixels = dng.width() * dng.height();
    }
    picts_bench::countPixels(state, pixels);
}

void plainLibRaw(benchmark::State& state) {
    const std::vector<unsigned char>& f = rawFile(state.range(0));
    // Its first picture must be ours.
    sRawPixels first;
    cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
    cPictDNG dng;
    if (!plainRaw(f, first) || !dng.decode(&io) || dng.width() != first.w || dng.height() != first.h ||
        std::memcmp(dng.raw16Bpp(), first.px.data(), first.px.size() * 8) != 0) {
        state.SkipWithError("pixels differ from LibRaw's");
        return;
    }
    for (auto _ : state) {
        sRawPixels out;
        if (!plainRaw(f, out)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.px.data());
    }
    picts_bench::countPixels(state, first.w * first.h);
}

}  // namespace

BENCHMARK(ourRaw)->ArgsProduct({{0, 1, 2}})->ArgNames({"picture"})->Unit(benchmark::kMillisecond);
BENCHMARK(plainLibRaw)->ArgsProduct({{0, 1, 2}})->ArgNames({"picture"})->Unit(benchmark::kMillisecond);
BENCHMARK(ourDecoderCpu)->ArgsProduct({{0, 1, 2}})->ArgNames({"picture"})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(pillowJpeg)->ArgsProduct({{0, 1, 2}})->ArgNames({"picture"})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
#ifdef QOR_HAVE_STB_IMAGE
BENCHMARK(stbJpeg)->ArgsProduct({{0, 1, 2}})->ArgNames({"picture"})->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(ourDecoder)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"picture", "reused"})->Unit(benchmark::kMillisecond);
BENCHMARK(plainLibjpeg)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"picture", "reused"})->Unit(benchmark::kMillisecond);
#ifdef QOR_HAVE_TURBOJPEG
BENCHMARK(turboJpeg)->ArgsProduct({{2}, {0, 1}})->ArgNames({"picture", "reused"})->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(ourJ2K)->ArgsProduct({{0, 1}})->ArgNames({"picture"})->Unit(benchmark::kMillisecond);
BENCHMARK(plainOpenJpeg)->ArgsProduct({{0, 1}})->ArgNames({"picture"})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
