// Large PNG files: whether decoding time stays proportional to the file's
// size from 1 to 300 MB, and how the fresh pixel buffer is best backed.
// cPictPNG decodes RGB photo-like files of about 1, 10, 30, 100 and 300 MB
// (2 bytes a pixel: 0.5 to 150 megapixels, 2 to 600 MB of pixels) under
// each page policy of the base library's huge-page helper (chosen, plain
// page faults, huge pages, pages faulted in first, both), with a fresh
// decoder per picture and with one decoder reused; libpng decodes the same
// files into a fresh and into a reused buffer.  A fresh buffer is a fresh
// mapping at every size, as for a picture opened once.  Each benchmark
// reports the milliseconds per MB of file and the kernel's share.  Run:
//
//   tools/bench --compare --pairs bench/pairs-bigpng.txt --rounds 3 --cpus 5
//   build/bench/bench/bench_picts_bigpng --benchmark_counters_tabular=true
//
// The files are made once (a minute for all five) in the picture cache.
// QOR_BENCH_BIGPNG_MB=50,150 decodes files of those sizes instead (made
// once as well), to see where a page policy starts to win or lose.
#include "picts/pictpng.h"
#include "picts_bench.h"

#include <sys/resource.h>

#include <map>

namespace {

// A strip of rows is drawn by Pillow and PNG-filtered by it; its filtered
// rows are repeated to the height the size needs and deflated at zlib's
// default level, so that every size is the same kind of picture.  Repeats
// lie megabytes apart, beyond deflate's window.
const char* kMaker = R"(
import io, os, struct, sys, zlib
from PIL import Image, ImageFilter
d, mb = sys.argv[1], int(sys.argv[2])
os.makedirs(d, exist_ok=True)
pixels = mb * 1024 * 1024 // 2
w = max(256, int((pixels * 4 / 3) ** 0.5)) // 8 * 8
h = max(64, pixels // w)
sh = min(h, 512)
base = Image.effect_mandelbrot((w // 8, sh // 8), (-2.2, -1.2, 1.0, 1.2), 60).resize((w, sh), Image.BICUBIC)
noise = Image.effect_noise((w, sh), 40)
r = Image.blend(base, noise, 0.5)
g = Image.blend(Image.linear_gradient('L').resize((w, sh)), noise.transpose(Image.FLIP_TOP_BOTTOM), 0.4)
b = Image.blend(base.transpose(Image.FLIP_LEFT_RIGHT), noise.transpose(Image.FLIP_LEFT_RIGHT), 0.5)
strip = io.BytesIO()
Image.merge('RGB', (r, g, b)).filter(ImageFilter.SMOOTH).save(strip, 'PNG')
s = strip.getvalue()
pos, idat = 8, b''
while pos < len(s):
    n, = struct.unpack('>I', s[pos:pos + 4])
    if s[pos + 4:pos + 8] == b'IDAT':
        idat += s[pos + 8:pos + 8 + n]
    pos += n + 12
rows = zlib.decompress(idat)
def chunk(f, kind, data):
    f.write(struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data)))
out = '%s/big-%dmb.png' % (d, mb)
with open(out + '.tmp', 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n')
    chunk(f, b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
    z = zlib.compressobj(6)
    line = 3 * w + 1
    left = h
    while left:
        n = min(left, sh)
        data = z.compress(rows[:n * line])
        left -= n
        if not left:
            data += z.flush()
        for i in range(0, len(data), 1 << 20):
            chunk(f, b'IDAT', data[i:i + (1 << 20)])
    chunk(f, b'IEND', b'')
os.rename(out + '.tmp', out)
)";

const std::vector<unsigned char>& file(int mb) {
    static std::map<int, std::vector<unsigned char>> files;
    auto it = files.find(mb);
    if (it != files.end()) return it->second;
    const std::string name = "big-" + std::to_string(mb) + "mb.png";
    const std::string script = std::string(picts_bench::kDir) + "-bigpng.py";
    if (!std::ifstream(picts_bench::path(name))) {
        if (std::FILE* f = std::fopen(script.c_str(), "w")) {
            std::fputs(kMaker, f);
            std::fclose(f);
        }
        const std::string cmd = "/usr/bin/python3 " + script + " " + picts_bench::kDir + " " + std::to_string(mb);
        if (std::system(cmd.c_str()) != 0) return files[mb];
    }
    return files[mb] = picts_bench::load(name, nullptr, script);
}

// Whether ours and libpng agree on the file of `mb`, checked once.
bool agreed(int mb) {
    static std::map<int, bool> checked;
    auto it = checked.find(mb);
    if (it != checked.end()) return it->second;
    const std::vector<unsigned char>& f = file(mb);
    picts_bench::sPixels theirs;
    if (f.empty() || !picts_bench::libpngDecode(f, &theirs)) return checked[mb] = false;
    // Compared in the decoder's own buffer: the largest file's pixels are
    // 600 MB.
    cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
    cPictPNG png;
    const bool same = png.decode(&io) && !png.is16Bpp() && png.width() == theirs.w && png.height() == theirs.h &&
                      std::memcmp(png.raw8Bpp(), theirs.px.data(), theirs.px.size() * 4) == 0;
    return checked[mb] = same;
}

double kernelSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_stime.tv_sec) + static_cast<double>(r.ru_stime.tv_usec) * 1e-6;
}

// Every benchmark here is timed by hand: an iteration's time is the CPU time
// (kernel included) the decode took, over the file's MB, so that the sizes
// compare with each other directly.  The kernel's share is a counter.
struct sPerMB {
    benchmark::State& state;
    int mb;
    double k0 = kernelSeconds(), t0 = 0;
    void start() { t0 = picts_bench::processSeconds(); }
    void stop() { state.SetIterationTime((picts_bench::processSeconds() - t0) / mb); }
    ~sPerMB() {
        if (state.iterations()) state.counters["kernel ms"] = (kernelSeconds() - k0) * 1e3 / static_cast<double>(state.iterations());
    }
};

bool ready(benchmark::State& state, int mb) {
    if (file(mb).empty()) {
        state.SkipWithError("no input (python3-pil missing?)");
        return false;
    }
    if (!agreed(mb)) {
        state.SkipWithError("pixels differ from libpng");
        return false;
    }
    return true;
}

// Ours: args MB, policy (qor_detail::eFreshPages), reused (one decoder for
// every picture).
void BM_BigOurs(benchmark::State& state) {
    const int mb = static_cast<int>(state.range(0));
    if (!ready(state, mb)) return;
    const std::vector<unsigned char>& f = file(mb);
    qor_detail::setFreshPagesPolicy(static_cast<qor_detail::eFreshPages>(state.range(1)));
    const bool reuse = state.range(2) != 0;
    // The reused decoder has decoded the picture once, as a kept one has.
    // A fresh one decodes it once untimed too, under the policy measured,
    // as the payload loads do: the kernel hands pages just freed to the next
    // buffer of the same size, and on a virtual machine that gives idle
    // memory back to its host, huge pages taken afresh cost several times
    // more.  Without it only the chosen policy, which the agreement check
    // runs under, came to its timing with pages just freed.
    cPictPNG kept;
    {
        cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
        if (reuse) {
            kept.decode(&io);
        } else {
            cPictPNG warm;
            warm.decode(&io);
        }
    }
    sPerMB t{state, mb};
    for (auto _ : state) {
        t.start();
        {
            cBufWrapperIO io(const_cast<unsigned char*>(f.data()), static_cast<long long>(f.size()), false);
            std::unique_ptr<cPictPNG> fresh(reuse ? nullptr : new cPictPNG);
            cPictPNG& png = reuse ? kept : *fresh;
            if (!png.decode(&io)) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(png.raw8Bpp());
        }
        t.stop();
    }
    qor_detail::setFreshPagesPolicy(qor_detail::eFreshPages::chosen);
}

// libpng: args MB, reused.
void BM_BigLibpng(benchmark::State& state) {
    const int mb = static_cast<int>(state.range(0));
    if (!ready(state, mb)) return;
    const std::vector<unsigned char>& f = file(mb);
    picts_bench::sPixels kept;
    const bool reuse = state.range(1) != 0;
    if (reuse) picts_bench::libpngDecode(f, &kept);
    sPerMB t{state, mb};
    for (auto _ : state) {
        t.start();
        benchmark::DoNotOptimize(picts_bench::libpngDecode(f, nullptr, reuse ? kept.px.data() : nullptr));
        t.stop();
    }
}

}  // namespace

// args: MB, policy (0 chosen, 1 plain, 2 huge, 3 populate, 4 huge and
// populate), reused
void registerAll() {
    const std::vector<int64_t> sizes = bench_clock::sizesFromEnv("QOR_BENCH_BIGPNG_MB", {1, 10, 30, 100, 300});
    for (const int64_t mb : sizes) {
        const int64_t n = std::max<int64_t>(1, 30 / mb);
        for (int64_t policy = 0; policy <= 4; ++policy)
            benchmark::RegisterBenchmark("BM_BigOurs", BM_BigOurs)->Args({mb, policy, 0})->ArgNames({"mb", "policy", "reused"})
                ->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_BigOurs", BM_BigOurs)->Args({mb, 0, 1})->ArgNames({"mb", "policy", "reused"})
            ->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond);
        for (int64_t reuse = 0; reuse <= 1; ++reuse)
            benchmark::RegisterBenchmark("BM_BigLibpng", BM_BigLibpng)->Args({mb, reuse})->ArgNames({"mb", "reused"})
                ->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond);
    }
}

int main(int argc, char** argv) {
    // Fresh buffers of 1 and 10 MB files (2 and 20 MiB of pixels) would
    // otherwise come back from the heap without page faults after the first
    // picture, while those of 30 MB and more are mapped afresh every time.
    bench_clock::mapLargeBlocksAfresh();
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
