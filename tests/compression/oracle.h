// Helpers shared by the compression suites: reproducible plain data, files,
// and Python (zlib, Pillow) run as the independent oracle.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "testsupport.h"

namespace ztest {

using Bytes = std::vector<unsigned char>;

// The tests' one generator of pseudo-random numbers (xorshift64*).
inline std::uint64_t xorshift(std::uint64_t& x) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    return x * 0x2545F4914F6CDD1Dull;
}

// n bytes of noise, the same for a seed on every machine.
inline Bytes noise(std::size_t n, std::uint64_t seed) {
    Bytes v(n);
    for (auto& b : v) b = static_cast<unsigned char>(xorshift(seed) >> 56);
    return v;
}

// Text-like data that compresses well but not trivially: words from a small
// vocabulary picked by xorshift, with runs of noise between.
inline Bytes mixedData(std::size_t n, std::uint64_t seed = 0x9E3779B97F4A7C15ull) {
    static const char* const kWords[] = {"package ", "install ", "qor ",   "registry ", "update ",
                                         "version ", "\n",       "files ", "0123456789", "scenario "};
    Bytes v;
    v.reserve(n);
    std::uint64_t x = seed;
    while (v.size() < n) {
        const std::uint64_t r = xorshift(x);
        if ((r & 15) == 0) {
            for (int i = 0; i < 7 && v.size() < n; ++i) v.push_back(static_cast<unsigned char>(xorshift(x) >> 56));
        } else {
            for (const char* w = kWords[(r >> 8) % 10]; *w && v.size() < n; ++w) v.push_back(static_cast<unsigned char>(*w));
        }
    }
    return v;
}

inline void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline _typebuf<unsigned char> toBuf(const Bytes& b) {
    _typebuf<unsigned char> t;
    t.copyFrom(b.data(), static_cast<long long>(b.size()));
    return t;
}

inline Bytes fromBuf(const _typebuf<unsigned char>& t) { return Bytes(t.begin(), t.end()); }

// Runs a Python script with arguments; fails the test when it does not exit
// with 0.  Returns its standard output.
inline std::string runPython(const std::string& script, const std::string& args) {
    int status = -1;
    std::string out = qortest::runPython(script, args, &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

}  // namespace ztest
