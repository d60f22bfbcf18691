// Fitting a 24-megapixel picture into 256 x 256, timed as whole processes
// side by side: this program run as "--fit MODE IN OUT" (read the BMP file,
// fit it, write a BMP) against ImageMagick's "convert IN -thumbnail 256x256
// OUT".  MODE "copy" decodes the whole picture and fits it with toExtTarget;
// MODE "sink" draws it into the target while decoding.  The input is the
// 6000 x 4000 24-bit BMP written by bench_picts_png's input maker.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "picts/pictdib.h"

extern char** environ;

namespace {

const char* kInput = "/tmp/qor_picts_bench/big24.bmp";
std::string gSelf;

int fitProcess(const char* mode, const char* in, const char* out) {
    cFileIO file;
    if (!file.open(in, fmRead)) return 2;
    cPictDummy fitted;
    if (!fitted.create(256, 256, 0)) return 3;
    cPictBase::sExtPictDef target(&fitted);
    target.background = 0xFFFFFFFFu;
    cPictBMP bmp;
    if (std::strcmp(mode, "sink") == 0) {
        if (!bmp.setExtTarget(&target) || !bmp.decode(&file)) return 4;
    } else {
        if (!bmp.decode(&file) || !bmp.toExtTarget(&target)) return 4;
    }
    cFileIO dst;
    if (!dst.create(out, fmWrite) || !cPictBMP::save(&fitted, &dst)) return 5;
    return 0;
}

bool run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool haveInput() {
    if (access(kInput, R_OK) == 0) return true;
    return std::system("/usr/bin/python3 /tmp/qor_picts_bench.py /tmp/qor_picts_bench") == 0 && access(kInput, R_OK) == 0;
}

void BM_OursProcess(benchmark::State& state, const char* mode) {
    if (!haveInput()) {
        state.SkipWithError("no input: run bench_picts_png first");
        return;
    }
    for (auto _ : state)
        if (!run({gSelf, "--fit", mode, kInput, "/tmp/qor_picts_fit_ours.bmp"})) state.SkipWithError("fit failed");
}

void BM_MagickThumbnailProcess(benchmark::State& state) {
    if (!haveInput()) {
        state.SkipWithError("no input");
        return;
    }
    for (auto _ : state)
        if (!run({"convert-im6.q16", kInput, "-thumbnail", "256x256", "/tmp/qor_picts_fit_magick.bmp"}))
            state.SkipWithError("convert failed");
}

}  // namespace

BENCHMARK_CAPTURE(BM_OursProcess, decode_then_toExtTarget, "copy")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OursProcess, decode_into_target, "sink")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MagickThumbnailProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--fit") == 0) return fitProcess(argv[2], argv[3], argv[4]);
    gSelf = argv[0];
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
