// Compiled documents: compiling a 1 MiB HDL source into a QORHDOCF document
// and loading it back into box trees, held against zlib deflating and
// inflating the same bytes at the same level, the floor of both (the
// compiler deflates every record stream, the loader inflates it).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidocloader.h"
#include "uitoolkit/canvas.h"

namespace {

const char* kDir = "/tmp/qor_hdoc_bench";

class cAnyFont : public cFontObject {
public:
    bool define(int, int, const char*, bool, bool, bool) override { return true; }
    bool apply(cCanvas*) override { return true; }
};
cFontObject* makeFont() { return new cAnyFont; }

// A readme-like source of about 1 MiB: paragraphs of words in text boxes,
// with bold and italic runs, links and line breaks.
const std::string& source() {
    static std::string s;
    if (!s.empty()) return s;
    static const char* words[] = {"package", "install", "licence", "the", "of", "software", "update", "folder",
                                  "Grüße", "настройка", "version", "and", "files", "copyright", "notice"};
    unsigned x = 12345;
    auto next = [&]() { return x = x * 1103515245u + 12345u, (x >> 16) & 0x7FFF; };
    while (s.size() < (1u << 20)) {
        s += "<text mt=4 mb=4 a=j f=verd,14>";
        for (int w = 0; w < 80; ++w) {
            const unsigned r = next() % 40;
            const char* word = words[next() % 15];
            if (r == 0)
                s += std::string("<b>") + word + "</b> ";
            else if (r == 1)
                s += std::string("<i>") + word + " " + word + "</i> ";
            else if (r == 2)
                s += std::string("<link ref=\"https://example.org/") + word + "\">" + word + "</link> ";
            else if (r == 3)
                s += "<br>";
            else
                s += std::string(word) + " ";
        }
        s += "</text>\n";
    }
    return s;
}

std::string indexPath() {
    mkdir(kDir, 0755);
    const std::string src = std::string(kDir) + "/doc.hdl";
    if (FILE* f = std::fopen(src.c_str(), "wb")) {
        std::fwrite(source().data(), 1, source().size(), f);
        std::fclose(f);
    }
    const std::string index = std::string(kDir) + "/index.txt";
    if (FILE* f = std::fopen(index.c_str(), "wb")) {
        std::fputs("ENG=\"./doc.hdl\"\n", f);
        std::fclose(f);
    }
    return index;
}

_typebuf<unsigned char> compileOnce(const std::string& index) {
    cMemIOTarget out;
    cHDLParser parser;
    cHDLParser::sErrInfo err;
    _typebuf<unsigned char> bytes;
    if (parser.parse(index.c_str(), &out, err)) out.toBuffer(bytes);
    return bytes;
}

void BM_HdlCompile(benchmark::State& state) {
    __setNewPlatformCPFont(makeFont);
    const std::string index = indexPath();
    for (auto _ : state) {
        _typebuf<unsigned char> doc = compileOnce(index);
        if (doc.empty()) state.SkipWithError("compile failed");
        benchmark::DoNotOptimize(doc.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source().size()));
}
BENCHMARK(BM_HdlCompile)->Unit(benchmark::kMillisecond);

void BM_HdocLoad(benchmark::State& state) {
    __setNewPlatformCPFont(makeFont);
    _typebuf<unsigned char> doc = compileOnce(indexPath());
    for (auto _ : state) {
        cSiDocLoader loader;
        if (!loader.load(doc.data(), doc.count())) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(loader.forLang(0));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source().size()));
}
BENCHMARK(BM_HdocLoad)->Unit(benchmark::kMillisecond);

void BM_ZlibDeflateSourceLevel5(benchmark::State& state) {
    const std::string& s = source();
    std::string out(compressBound(static_cast<uLong>(s.size())), '\0');
    for (auto _ : state) {
        uLongf n = static_cast<uLongf>(out.size());
        compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(s.data()),
                  static_cast<uLong>(s.size()), 5);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.size()));
}
BENCHMARK(BM_ZlibDeflateSourceLevel5)->Unit(benchmark::kMillisecond);

void BM_ZlibInflateSource(benchmark::State& state) {
    const std::string& s = source();
    std::string z(compressBound(static_cast<uLong>(s.size())), '\0');
    uLongf zn = static_cast<uLongf>(z.size());
    compress2(reinterpret_cast<Bytef*>(&z[0]), &zn, reinterpret_cast<const Bytef*>(s.data()),
              static_cast<uLong>(s.size()), 5);
    std::string out(s.size(), '\0');
    for (auto _ : state) {
        uLongf n = static_cast<uLongf>(out.size());
        uncompress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(z.data()), zn);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.size()));
}
BENCHMARK(BM_ZlibInflateSource)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
