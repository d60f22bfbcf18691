// Installer payloads: saving and loading a scenario that carries 4 MiB of
// package items, beside what a user would otherwise do with the same bytes:
// zlib's compress2 at level 9 plus OpenSSL's SHA-256 of the body to write
// it, and, to read it, the payload read into a buffer, its body decoded by
// libdeflate into a buffer of the declared size and hashed by OpenSSL (new
// buffers for every load, as the loader's; and kept from load to load).
//
// Then whether loading stays proportional to the payload's size: payloads
// whose bodies are about 1, 10, 30, 100 and 300 MiB (made once by our
// writer into /tmp/qor_bench_payload_load), loaded from their files under
// each page policy of the base library's fresh-pages helper, in CPU time
// per MiB of body.  Every large block of every load is a fresh mapping, as
// in a process that loads one payload.
// bench/pairs-payload.txt holds those pairs:
//
//   tools/bench --compare --pairs bench/pairs-payload.txt --rounds 5 --cpus 5
//
// QOR_BENCH_PAYLOAD_MB=100,200,600 loads payloads of those sizes instead
// (made once as well), to see where a page policy starts to win or lose.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/memio.h"
#include "pakvane/scenario.h"
#include "processclock.h"

namespace {

// Text-like bytes that deflate about as well as program files.
std::vector<unsigned char> sampleBytes(std::size_t n, unsigned seed = 12345) {
    std::vector<unsigned char> v(n);
    unsigned x = seed;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = static_cast<unsigned char>("abcdefgh ijklmnop\n"[(x >> 16) % 18]);
    }
    return v;
}

constexpr std::size_t kItemBytes = 1 << 20;
constexpr int kItems = 4;

struct cPayload {
    cSoftPkgScenario scenario;
    std::vector<unsigned char> plain;
    cPayload() {
        scenario.setStr(-1, "codename", "bench");
        for (int i = 0; i < kItems; ++i) {
            std::vector<unsigned char> b = sampleBytes(kItemBytes);
            b[0] = static_cast<unsigned char>(i);
            cBufWrapperIO src(b.data(), static_cast<long long>(b.size()), false);
            scenario.package().addPkgItem(&src, false);
            plain.insert(plain.end(), b.begin(), b.end());
        }
    }
};

void BM_ScenarioSave(benchmark::State& state) {
    cPayload p;
    for (auto _ : state) {
        cMemIOTarget out;
        if (!p.scenario.saveBinConfig(&out)) state.SkipWithError("save failed");
        benchmark::DoNotOptimize(out.size());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ScenarioSave)->Unit(benchmark::kMillisecond);

void BM_ZlibLevel9AndSha256(benchmark::State& state) {
    cPayload p;
    std::vector<unsigned char> out(compressBound(p.plain.size()));
    for (auto _ : state) {
        unsigned char d[32];
        SHA256(p.plain.data(), p.plain.size(), d);
        uLongf n = out.size();
        compress2(out.data(), &n, p.plain.data(), p.plain.size(), 9);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ZlibLevel9AndSha256)->Unit(benchmark::kMillisecond);

void BM_ScenarioLoad(benchmark::State& state) {
    cPayload p;
    cMemIOTarget out;
    p.scenario.saveBinConfig(&out);
    for (auto _ : state) {
        out.set_fp(0);
        cSoftPkgScenario back;
        if (!back.loadBinConfig(&out)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(back.package().count());
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_ScenarioLoad)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The same payload read the plain way, from the same stream: all of it into
// a buffer, the body decoded by libdeflate and hashed by OpenSSL.  args:
// reused (the two buffers kept from load to load, else new ones each time,
// uninitialised as ours are).
void BM_LibdeflateAndSha256(benchmark::State& state) {
    cPayload p;
    cMemIOTarget out;
    p.scenario.saveBinConfig(&out);
    const bool reuse = state.range(0) != 0;
    const std::size_t size = static_cast<std::size_t>(out.size());
    std::unique_ptr<unsigned char[]> keptIn(new unsigned char[size]), keptBody;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        out.set_fp(0);
        std::unique_ptr<unsigned char[]> freshIn(reuse ? nullptr : new unsigned char[size]);
        unsigned char* in = reuse ? keptIn.get() : freshIn.get();
        if (!out.readf(in, static_cast<unsigned int>(size))) state.SkipWithError("read failed");
        const std::uint32_t body = le32(in + 9), packed = le32(in + 13);
        if (!keptBody) keptBody.reset(new unsigned char[body]);
        std::unique_ptr<unsigned char[]> freshBody(reuse ? nullptr : new unsigned char[body]);
        unsigned char* plain = reuse ? keptBody.get() : freshBody.get();
        std::size_t n = 0;
        unsigned char digest[32];
        if (libdeflate_zlib_decompress(d, in + 49, packed, plain, body, &n) != LIBDEFLATE_SUCCESS || n != body ||
            !SHA256(plain, n, digest) || std::memcmp(digest, in + 17, 32) != 0)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(plain[0]);
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * kItems * kItemBytes);
}
BENCHMARK(BM_LibdeflateAndSha256)->Arg(0)->Arg(1)->ArgName("reused")->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// ---------------------------------------------------------------------------
// Large payloads.

constexpr const char* kDir = "/tmp/qor_bench_payload_load";

// A payload of `mb` MiB of items (and a few hundred bytes more of body):
// items of 8 MiB at most, text-like bytes of its own seed each, so that no
// item repeats another within deflate's window.
std::string payloadFile(int mb) {
    static std::map<int, std::string> made;
    auto it = made.find(mb);
    if (it != made.end()) return it->second;
    const std::string path = std::string(kDir) + "/load-" + std::to_string(mb) + "mb.data";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        ::mkdir(kDir, 0755);
        cSoftPkgScenario s;
        s.setStr(-1, "codename", "bench");
        constexpr std::size_t kPiece = 8u << 20;
        const std::size_t total = static_cast<std::size_t>(mb) << 20;
        for (std::size_t done = 0; done < total; done += kPiece) {
            std::vector<unsigned char> b =
                sampleBytes(std::min(kPiece, total - done), static_cast<unsigned>(done >> 20) + 7);
            cBufWrapperIO src(b.data(), static_cast<long long>(b.size()), false);
            if (s.package().addPkgItem(&src, false) < 0) return made[mb] = "";
        }
        const std::string tmp = path + ".tmp";
        cFileIO f;
        if (!f.create(tmp.c_str(), fmWrite) || !s.saveBinConfig(&f)) return made[mb] = "";
        f.close();
        if (::rename(tmp.c_str(), path.c_str()) != 0) return made[mb] = "";
    }
    return made[mb] = path;
}

using bench_clock::processSeconds;

// args: MiB of body, page policy (qor_detail::eFreshPages).  An iteration's
// time is the CPU time of one load (kernel included) over the MiB.
void BM_PayloadLoad(benchmark::State& state) {
    const int mb = static_cast<int>(state.range(0));
    const std::string path = payloadFile(mb);
    if (path.empty()) {
        state.SkipWithError("the payload could not be made");
        return;
    }
    // An installer loads its payload once, so every size is measured with
    // the pages of a first load.  Set here and not in main: the 4 MiB loads
    // above, which run first, compare new buffers with kept ones as in a
    // program that loads again and again, where the C library does hand a
    // freed block back.
    bench_clock::mapLargeBlocksAfresh();
    qor_detail::setFreshPagesPolicy(static_cast<qor_detail::eFreshPages>(state.range(1)));
    auto load = [&] {
        cFileIO f;
        cSoftPkgScenario s;
        if (!f.open(path.c_str(), fmRead) || !s.loadBinConfig(&f)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(s.package().count());
    };
    // One load before the timing, under the policy measured: every load's
    // blocks are fresh mappings, but the kernel hands pages freed moments
    // before to the next mapping, and whether they make huge pages cheaply
    // depends on what was freed.  Without it each policy's first load would
    // come after another size's or another policy's.
    load();
    for (auto _ : state) {
        const double t0 = processSeconds();
        load();
        state.SetIterationTime((processSeconds() - t0) / mb);
    }
    qor_detail::setFreshPagesPolicy(qor_detail::eFreshPages::chosen);
}

}  // namespace

// args: MiB, policy (0 chosen, 1 plain, 2 huge, 3 populate, 4 huge and
// populate)
void registerAll() {
    const std::vector<int64_t> sizes = bench_clock::sizesFromEnv("QOR_BENCH_PAYLOAD_MB", {1, 10, 30, 100, 300});
    for (const int64_t mb : sizes) {
        const int64_t n = std::max<int64_t>(3, 200 / mb);
        for (int64_t policy = 0; policy <= 4; ++policy)
            benchmark::RegisterBenchmark("BM_PayloadLoad", BM_PayloadLoad)->Args({mb, policy})
                ->ArgNames({"mb", "policy"})->UseManualTime()->Iterations(n)->Unit(benchmark::kMillisecond);
    }
}

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
