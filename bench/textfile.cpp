// Reading text files line by line through cTextFileIO against what a user
// would otherwise pick, on the same files in the page cache:
//  - UTF-8: std::getline on a std::ifstream;
//  - UTF-16 little-endian: a std::ifstream read in blocks, split at line
//    ends, each line converted to UTF-8 by glibc's iconv or by the standard
//    library's codecvt_utf8_utf16.
// Every reader strips the CR of a CR LF and hands out UTF-8 lines; the
// benchmarks count the bytes they received, so all of them do the same work.
#include "base/textfile.h"

#include <benchmark/benchmark.h>

#include <codecvt>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <locale>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kLines = 400000;

// Lines of 0 to 160 characters, mostly ASCII with some Latin, Cyrillic,
// CJK and emoji: about 30 MiB as UTF-8.  Written once in UTF-8 with a mark
// and in UTF-16LE with a mark, CR LF after each line; removed at the end.
struct TextFiles {
    TextFiles() {
        const char* base = std::getenv("TMPDIR");
        const std::string dir = std::string(base && *base ? base : "/tmp");
        utf8 = dir + "/qorbench-text8.XXXXXX";
        utf16 = dir + "/qorbench-text16.XXXXXX";
        const int fd8 = ::mkstemp(utf8.data());
        const int fd16 = ::mkstemp(utf16.data());
        if (fd8 < 0 || fd16 < 0) std::abort();
        ::close(fd8);
        ::close(fd16);

        static const char32_t pieces[] = {U'a', U'e', U't', U' ', U' ', U'o', U'n', U'1', U',', U'\u00fc',
                                          U'\u0436', U'\u65e5', U'\u20ac', U'\U0001F600', U'x', U'.'};
        std::mt19937 rng(2024);
        std::string text8 = "\xEF\xBB\xBF";
        std::u16string text16 = u"\uFEFF";
        for (std::size_t i = 0; i < kLines; ++i) {
            const unsigned len = rng() % 161;
            for (unsigned k = 0; k < len; ++k) {
                const char32_t c = pieces[rng() % (sizeof pieces / sizeof *pieces)];
                appendUtf8(text8, c);
                if (c >= 0x10000) {
                    text16 += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                    text16 += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    text16 += static_cast<char16_t>(c);
                }
            }
            text8 += "\r\n";
            text16 += u"\r\n";
        }
        write(utf8, text8.data(), text8.size());
        std::string bytes16;
        for (char16_t u : text16) {
            bytes16 += static_cast<char>(u & 0xFF);
            bytes16 += static_cast<char>(u >> 8);
        }
        write(utf16, bytes16.data(), bytes16.size());
        bytes8 = text8.size();
        units16 = bytes16.size();
    }
    ~TextFiles() {
        ::unlink(utf8.c_str());
        ::unlink(utf16.c_str());
    }
    static void appendUtf8(std::string& out, char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    static void write(const std::string& path, const char* data, std::size_t n) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(data, 1, n, f) != n) std::abort();
        std::fclose(f);
    }
    std::string utf8, utf16;
    std::size_t bytes8 = 0, units16 = 0;
};

const TextFiles& files() {
    static const TextFiles f;
    return f;
}

void finish(benchmark::State& state, std::size_t lines, std::size_t bytes, std::size_t fileBytes) {
    if (lines != kLines) state.SkipWithError("wrong line count");
    state.counters["out_bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileBytes));
}

// ---------------------------------------------------------------------------
// UTF-8

void BM_Utf8_cTextFileIO(benchmark::State& state) {
    const TextFiles& f = files();
    std::size_t lines = 0, bytes = 0;
    for (auto _ : state) {
        lines = bytes = 0;
        cTextFileIO tf;
        if (!tf.open(f.utf8.c_str(), true, cTextFileIO::tctAuto)) state.SkipWithError("open");
        _typebuf<char> line;
        while (tf.gets(line)) {
            ++lines;
            bytes += line.bytes();
        }
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, lines, bytes, f.bytes8);
}
BENCHMARK(BM_Utf8_cTextFileIO)->Unit(benchmark::kMillisecond);

void BM_Utf8_std_getline(benchmark::State& state) {
    const TextFiles& f = files();
    std::size_t lines = 0, bytes = 0;
    for (auto _ : state) {
        lines = bytes = 0;
        std::ifstream in(f.utf8, std::ios::binary);
        in.ignore(3);  // the mark
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ++lines;
            bytes += line.size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, lines, bytes, f.bytes8);
}
BENCHMARK(BM_Utf8_std_getline)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// UTF-16LE

void BM_Utf16_cTextFileIO(benchmark::State& state) {
    const TextFiles& f = files();
    std::size_t lines = 0, bytes = 0;
    for (auto _ : state) {
        lines = bytes = 0;
        cTextFileIO tf;
        if (!tf.open(f.utf16.c_str(), true, cTextFileIO::tctAuto)) state.SkipWithError("open");
        _typebuf<char> line;
        while (tf.gets(line)) {
            ++lines;
            bytes += line.bytes();
        }
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, lines, bytes, f.units16);
}
BENCHMARK(BM_Utf16_cTextFileIO)->Unit(benchmark::kMillisecond);

// Reads the file in 64 KiB blocks and calls onLine(units, count) for each
// line (LF or CR LF ended), carrying a line that straddles blocks.
template <typename OnLine>
void splitUtf16(const std::string& path, OnLine onLine) {
    std::ifstream in(path, std::ios::binary);
    in.ignore(2);  // the mark
    std::vector<char16_t> block(32768);
    std::u16string carry;
    for (;;) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
        const std::size_t n = static_cast<std::size_t>(in.gcount()) / 2;
        if (n == 0) break;
        std::size_t start = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] != u'\n') continue;
            std::size_t end = i;
            if (carry.empty()) {
                if (end > start && block[end - 1] == u'\r') --end;
                onLine(block.data() + start, end - start);
            } else {
                carry.append(block.data() + start, end - start);
                if (!carry.empty() && carry.back() == u'\r') carry.pop_back();
                onLine(carry.data(), carry.size());
                carry.clear();
            }
            start = i + 1;
        }
        carry.append(block.data() + start, n - start);
    }
    if (!carry.empty()) onLine(carry.data(), carry.size());
}

void BM_Utf16_ifstream_iconv(benchmark::State& state) {
    const TextFiles& f = files();
    std::size_t lines = 0, bytes = 0;
    iconv_t cd = ::iconv_open("UTF-8", "UTF-16LE");
    std::vector<char> out(1 << 16);
    for (auto _ : state) {
        lines = bytes = 0;
        splitUtf16(f.utf16, [&](const char16_t* units, std::size_t count) {
            char* inp = reinterpret_cast<char*>(const_cast<char16_t*>(units));
            std::size_t inLeft = count * 2;
            char* outp = out.data();
            std::size_t outLeft = out.size();
            ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
            std::string line(out.data(), static_cast<std::size_t>(outp - out.data()));
            ++lines;
            bytes += line.size();
        });
        benchmark::DoNotOptimize(bytes);
    }
    ::iconv_close(cd);
    finish(state, lines, bytes, f.units16);
}
BENCHMARK(BM_Utf16_ifstream_iconv)->Unit(benchmark::kMillisecond);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void BM_Utf16_ifstream_codecvt(benchmark::State& state) {
    const TextFiles& f = files();
    std::size_t lines = 0, bytes = 0;
    std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> convert;
    for (auto _ : state) {
        lines = bytes = 0;
        splitUtf16(f.utf16, [&](const char16_t* units, std::size_t count) {
            const std::string line = convert.to_bytes(units, units + count);
            ++lines;
            bytes += line.size();
        });
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, lines, bytes, f.units16);
}
#pragma GCC diagnostic pop
BENCHMARK(BM_Utf16_ifstream_codecvt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
