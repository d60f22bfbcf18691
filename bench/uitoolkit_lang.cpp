// Language blobs of 40 sections x 100 texts (about 200 KB of text), against
// what the same work costs by hand with zlib and the standard library:
//  - loading a blob into a language against uncompress() of the body and a
//    std::map<std::string, std::vector<std::string>> filled from it;
//  - saving a language against building the same body in a std::string and
//    compress2() at the same level.
#include "uitoolkit/lang.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct sFixture {
    cCiomLang lang;
    _typebuf<unsigned char> blob;
    std::string body;
    std::map<std::string, std::vector<std::string>> plain;

    sFixture() {
        lang.create("ENG", "English");
        for (int s = 0; s < 40; ++s) {
            cFasterTreeList<unsigned short, _guardchar<char>> texts;
            std::string name = "bench::section" + std::to_string(s);
            for (int i = 0; i < 100; ++i) {
                std::string t = "Text " + std::to_string(i) + " of section " + std::to_string(s) + ", a message of some length.";
                texts.insert(static_cast<unsigned short>(i))->set(t.c_str());
                plain[name].push_back(t);
            }
            lang.sections().insert(cStringKey(name.c_str(), -1))->create(texts);
        }
        saveCiomLangData("CIOMBASE", lang, blob);
        body = plainBody();
    }

    std::string plainBody() const {
        std::string b = "CIOMLANG";
        auto u32 = [&b](unsigned v) { b.append(reinterpret_cast<const char*>(&v), 4); };
        for (const auto& s : plain) {
            std::string field = s.first;
            field.resize((field.size() + 3) / 4 * 4, '\0');
            std::string data;
            unsigned short c = static_cast<unsigned short>(s.second.size());
            data.append(reinterpret_cast<const char*>(&c), 2);
            for (const auto& t : s.second) {
                unsigned short l = static_cast<unsigned short>(t.size());
                data.append(reinterpret_cast<const char*>(&l), 2);
            }
            for (const auto& t : s.second) data += t;
            u32(static_cast<unsigned>(field.size()));
            b += field;
            u32(static_cast<unsigned>(data.size()));
            b += data;
        }
        return b;
    }
};

sFixture& fixture() {
    static sFixture f;
    return f;
}

void BM_LoadBlob(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        cCiomLang lang;
        benchmark::DoNotOptimize(loadCiomLangData(f.blob.data(), f.blob.count(), lang));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.body.size()));
}

void BM_LoadByHand(benchmark::State& state) {
    sFixture& f = fixture();
    const unsigned char* packed = f.blob.data() + 20 + 7 + 4;
    const uLong packedLen = static_cast<uLong>(f.blob.count() - 31);
    std::vector<unsigned char> out(f.body.size());
    for (auto _ : state) {
        uLongf n = static_cast<uLongf>(out.size());
        uncompress(out.data(), &n, packed, packedLen);
        std::map<std::string, std::vector<std::string>> m;
        std::size_t at = 8;
        while (at + 4 <= n) {
            unsigned l, b;
            std::memcpy(&l, &out[at], 4);
            std::string name(reinterpret_cast<char*>(&out[at + 4]), strnlen(reinterpret_cast<char*>(&out[at + 4]), l));
            at += 4 + l;
            std::memcpy(&b, &out[at], 4);
            const unsigned char* d = &out[at + 4];
            unsigned short c;
            std::memcpy(&c, d, 2);
            std::vector<std::string>& v = m[name];
            std::size_t text = 2 + 2u * c;
            for (unsigned i = 0; i < c; ++i) {
                unsigned short len;
                std::memcpy(&len, d + 2 + 2 * i, 2);
                v.emplace_back(reinterpret_cast<const char*>(d + text), len);
                text += len;
            }
            at += 4 + b;
        }
        benchmark::DoNotOptimize(m);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.body.size()));
}

void BM_SaveBlob(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        _typebuf<unsigned char> out;
        benchmark::DoNotOptimize(saveCiomLangData("CIOMBASE", f.lang, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.body.size()));
}

void BM_SaveByHand(benchmark::State& state) {
    sFixture& f = fixture();
    for (auto _ : state) {
        std::string b = f.plainBody();
        std::vector<unsigned char> out(compressBound(static_cast<uLong>(b.size())));
        uLongf n = static_cast<uLongf>(out.size());
        compress2(out.data(), &n, reinterpret_cast<const Bytef*>(b.data()), static_cast<uLong>(b.size()), 5);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.body.size()));
}

}  // namespace

BENCHMARK(BM_LoadBlob);
BENCHMARK(BM_LoadByHand);
BENCHMARK(BM_SaveBlob);
BENCHMARK(BM_SaveByHand);
BENCHMARK_MAIN();
