// UTF-8 <-> UTF-16 and a single-byte page <-> UTF-16: ours against glibc
// iconv, on 64 MiB of text in the same run.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/textenc.h"

namespace {

constexpr size_t kTextBytes = 64u << 20;

// Mixed text: mostly ASCII prose with Latin-1, Cyrillic, Greek, CJK and the
// odd emoji, as file names, configuration values and documents carry it.
const std::string& mixedUtf8() {
    static const std::string text = [] {
        const char* lines[] = {
            "The quick brown fox jumps over the lazy dog; /usr/local/share/qor/packages/12345.pkg\n",
            "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln: \xC3\x84pfel, \xC3\x96l und Stra\xC3\x9F" "en-Caf\xC3\xA9s.\n",
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! version 2.4.1 build 77\n",
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88 and ASCII\n",
            "Release notes \xF0\x9F\x98\x80 \xF0\x9F\x9A\x80: fixed installer, updated manager window.\n",
            "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC: \xCE\xB1\xCE\xB2\xCE\xB3 settings.cfg\n",
            "Plain configuration line: lang/current = 3; install/com.example.tool = 1.0.0\n",
        };
        std::string s;
        s.reserve(kTextBytes + 256);
        while (s.size() < kTextBytes)
            for (const char* l : lines) s += l;
        s.resize(kTextBytes);
        // Do not end inside a sequence.
        while ((static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
        if (static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
        return s;
    }();
    return text;
}

const std::vector<unsigned short>& mixedUtf16() {
    static const std::vector<unsigned short> text = [] {
        const std::string& u8 = mixedUtf8();
        std::vector<unsigned short> w(u8.size());
        long long n = __a2w(u8.data(), static_cast<long long>(u8.size()), w.data(), static_cast<long long>(w.size()), 65001);
        w.resize(static_cast<size_t>(n));
        return w;
    }();
    return text;
}

// Windows-1251 text: Cyrillic words and ASCII.
const std::string& cp1251Text() {
    static const std::string text = [] {
        const std::string line = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! Setup 1.2 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED.\r\n";
        std::string s;
        s.reserve(kTextBytes + line.size());
        while (s.size() < kTextBytes) s += line;
        s.resize(kTextBytes);
        return s;
    }();
    return text;
}

const std::vector<unsigned short>& cp1251Utf16() {
    static const std::vector<unsigned short> text = [] {
        const std::string& a = cp1251Text();
        std::vector<unsigned short> w(a.size());
        __a2w(a.data(), static_cast<long long>(a.size()), w.data(), static_cast<long long>(w.size()), 1251);
        return w;
    }();
    return text;
}

class cIconv {
public:
    cIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~cIconv() {
        if (ok()) iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    size_t run(const void* in, size_t inBytes, void* out, size_t outBytes) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* ip = static_cast<char*>(const_cast<void*>(in));
        char* op = static_cast<char*>(out);
        size_t ol = outBytes;
        iconv(cd_, &ip, &inBytes, &op, &ol);
        return outBytes - ol;
    }

private:
    iconv_t cd_;
};

void BM_Utf8ToUtf16_Qor(benchmark::State& state) {
    const std::string& in = mixedUtf8();
    std::vector<unsigned short> out(in.size());
    for (auto _ : state) {
        long long n = __a2w(in.data(), static_cast<long long>(in.size()), out.data(), static_cast<long long>(out.size()), 65001);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Utf8ToUtf16_Iconv(benchmark::State& state) {
    const std::string& in = mixedUtf8();
    std::vector<unsigned short> out(in.size());
    cIconv cv("UTF-16LE", "UTF-8");
    for (auto _ : state) benchmark::DoNotOptimize(cv.run(in.data(), in.size(), out.data(), out.size() * 2));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Utf16ToUtf8_Qor(benchmark::State& state) {
    const std::vector<unsigned short>& in = mixedUtf16();
    std::string out(in.size() * 3, '\0');
    for (auto _ : state) {
        long long n = __w2a(in.data(), static_cast<long long>(in.size()), out.data(), static_cast<long long>(out.size()), 65001);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mixedUtf8().size()));
}

void BM_Utf16ToUtf8_Iconv(benchmark::State& state) {
    const std::vector<unsigned short>& in = mixedUtf16();
    std::string out(in.size() * 3, '\0');
    cIconv cv("UTF-8", "UTF-16LE");
    for (auto _ : state) benchmark::DoNotOptimize(cv.run(in.data(), in.size() * 2, out.data(), out.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * mixedUtf8().size()));
}

void BM_Cp1251ToUtf16_Qor(benchmark::State& state) {
    const std::string& in = cp1251Text();
    std::vector<unsigned short> out(in.size());
    for (auto _ : state) {
        long long n = __a2w(in.data(), static_cast<long long>(in.size()), out.data(), static_cast<long long>(out.size()), 1251);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Cp1251ToUtf16_Iconv(benchmark::State& state) {
    const std::string& in = cp1251Text();
    std::vector<unsigned short> out(in.size());
    cIconv cv("UTF-16LE", "CP1251");
    for (auto _ : state) benchmark::DoNotOptimize(cv.run(in.data(), in.size(), out.data(), out.size() * 2));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Utf16ToCp1251_Qor(benchmark::State& state) {
    const std::vector<unsigned short>& in = cp1251Utf16();
    std::string out(in.size(), '\0');
    for (auto _ : state) {
        long long n = __w2a(in.data(), static_cast<long long>(in.size()), out.data(), static_cast<long long>(out.size()), 1251);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Utf16ToCp1251_Iconv(benchmark::State& state) {
    const std::vector<unsigned short>& in = cp1251Utf16();
    std::string out(in.size(), '\0');
    cIconv cv("CP1251", "UTF-16LE");
    for (auto _ : state) benchmark::DoNotOptimize(cv.run(in.data(), in.size() * 2, out.data(), out.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

}  // namespace

BENCHMARK(BM_Utf8ToUtf16_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToUtf16_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToUtf8_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToUtf8_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cp1251ToUtf16_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cp1251ToUtf16_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToCp1251_Qor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToCp1251_Iconv)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
