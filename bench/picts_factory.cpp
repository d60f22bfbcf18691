// The format factory on a stream that no decoder accepts (every probe is
// asked): cPictBase::mkPicture, which probes over its read cache, against
// asking the same decoders' probes in the same order straight on the file,
// as a caller without the factory would.  Counters: bytes and read calls
// that reached the file per run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/fileio.h"
#include "base/memio.h"
#include "picts/pictdib.h"
#include "picts/pictdicom.h"
#include "picts/pictgif.h"
#include "picts/picticns.h"
#include "picts/pictico.h"
#include "picts/pictjbig2.h"
#include "picts/pictjp2.h"
#include "picts/pictjpeg.h"
#include "picts/pictpcx.h"
#include "picts/pictpng.h"
#include "picts/pictppm.h"
#include "picts/pictraw.h"
#include "picts/picttga.h"
#include "picts/picttiff.h"
#include "picts/pictxpm.h"

namespace {

// Counts what passes through to the stream below.
class cCountingIO : public cFileIOTarget {
public:
    explicit cCountingIO(cFileIOTarget* s) : s_(s) {}
    long long size() override { return s_->size(); }
    unsigned int read(void* buf, unsigned int n) override {
        const unsigned int got = s_->read(buf, n);
        ++calls;
        if (transferred(got)) bytes += got;
        return got;
    }
    bool set_fp(unsigned long long pos) override { return s_->set_fp(pos); }
    bool set_fp_end(unsigned long long n) override { return s_->set_fp_end(n); }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return s_->valid(); }
    unsigned long long bytes = 0, calls = 0;

private:
    cFileIOTarget* s_;
};

// A megabyte of text: a log file handed to the picture library.
const char* unknownFile() {
    static const std::string path = [] {
        std::string p = "/tmp/qor_factory_bench_unknown.txt";
        if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
            for (int i = 0; i < 20000; ++i) std::fprintf(f, "%06d this line is not part of any picture format\n", i);
            std::fclose(f);
        }
        return p;
    }();
    return path.c_str();
}

void report(benchmark::State& state, const cCountingIO& io) {
    const double runs = static_cast<double>(state.iterations());
    state.counters["bytes_read"] = static_cast<double>(io.bytes) / runs;
    state.counters["reads"] = static_cast<double>(io.calls) / runs;
}

void BM_FactoryRefusesUnknownFile(benchmark::State& state) {
    cFileIO file;
    if (!file.open(unknownFile(), fmRead)) {
        state.SkipWithError("cannot open the input");
        return;
    }
    cCountingIO io(&file);
    for (auto _ : state) {
        cPictBase::sPictInfo info;
        cPictBase* d = cPictBase::mkPicture(&io, &info);
        if (d) state.SkipWithError("a decoder took text");
        delete d;
    }
    report(state, io);
}
BENCHMARK(BM_FactoryRefusesUnknownFile)->Unit(benchmark::kMicrosecond);

template <typename T>
bool ask(cFileIOTarget* s) {
    cPictBase::sPictInfo info;
    return s->set_fp(0) && T::validFor(s, &info);
}

void BM_ProbesStraightOnTheFile(benchmark::State& state) {
    cFileIO file;
    if (!file.open(unknownFile(), fmRead)) {
        state.SkipWithError("cannot open the input");
        return;
    }
    cCountingIO io(&file);
    for (auto _ : state) {
        bool any = ask<cPictJPEG>(&io) || ask<cPictPNG>(&io) || ask<cPictGIF>(&io) || ask<cPictBMP>(&io) ||
                   ask<cPictDIB>(&io) || ask<cPictICO>(&io) || ask<cPictJP2>(&io) || ask<cPictJ2K>(&io) ||
                   ask<cPictICNS>(&io) || ask<cPictTGA>(&io) || ask<cPictMRW>(&io) || ask<cPictRWL>(&io) ||
                   ask<cPictORF>(&io) || ask<cPictX3F>(&io) || ask<cPictPEF>(&io) || ask<cPictARW>(&io) ||
                   ask<cPictSRW>(&io) || ask<cPictIIQ>(&io) || ask<cPictRAF>(&io) || ask<cPictCRW>(&io) ||
                   ask<cPictMOS>(&io) || ask<cPictCR2>(&io) || ask<cPictCR3>(&io) || ask<cPictNEF>(&io) ||
                   ask<cPict3FR>(&io) || ask<cPictDNG>(&io) || ask<cPictTIFF_EP>(&io) || ask<cPictTIFF>(&io) ||
                   ask<cPictPPM>(&io) || ask<cPictPCX>(&io) || ask<cPictDICOM>(&io) ||
                   ask<cPictDICOMLegacy>(&io) || ask<cPictJBIG2>(&io) || ask<cPictXPM>(&io);
        if (any) state.SkipWithError("a decoder took text");
    }
    report(state, io);
}
BENCHMARK(BM_ProbesStraightOnTheFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
