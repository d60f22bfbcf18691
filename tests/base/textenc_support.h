// Helpers shared by the text-encoding suites: unit and byte literals, whole
// conversions sized by their require counts, glibc iconv and Python oracles.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "base/textenc.h"
#include "testsupport.h"

namespace textenc_support {

using u16 = unsigned short;
using Units = std::vector<u16>;

inline Units U(std::initializer_list<unsigned> list) {
    Units u;
    for (unsigned v : list) u.push_back(static_cast<u16>(v));
    return u;
}

inline std::string B(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned v : list) s.push_back(static_cast<char>(v));
    return s;
}

// The whole of bytes (explicit length) decoded through __a2w into a buffer
// sized by its require count.
inline Units decode(const std::string& bytes, int cp) {
    const long long n = static_cast<long long>(bytes.size());
    long long need = __a2w_require(bytes.data(), n, cp);
    Units out(static_cast<size_t>(need) + 1, 0xBEEF);
    long long got = __a2w(bytes.data(), n, out.data(), need, cp);
    EXPECT_LE(got, need) << cp;
    out.resize(static_cast<size_t>(got));
    return out;
}

inline std::string encode(const Units& units, int cp) {
    long long need = __w2a_require(units.data(), static_cast<long long>(units.size()), cp);
    std::string out(static_cast<size_t>(need) + 1, '\x7F');
    long long got = __w2a(units.data(), static_cast<long long>(units.size()), out.data(), need, cp);
    EXPECT_LE(got, need) << cp;
    out.resize(static_cast<size_t>(got));
    return out;
}

// glibc iconv: the whole conversion, or false.
inline bool iconvConvert(const char* to, const char* from, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buf(in.size() * 4 + 64, '\0');
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = buf.data();
    size_t ol = buf.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    // Stateful converters hold the last character back (CP1255 composes a
    // letter with its marks) or owe a shift back to ASCII until flushed.
    if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || il != 0) return false;
    out.assign(buf.data(), buf.size() - ol);
    return true;
}

inline Units fromUtf16le(const std::string& s) {
    Units u(s.size() / 2);
    for (size_t i = 0; i < u.size(); ++i)
        u[i] = static_cast<u16>(static_cast<unsigned char>(s[2 * i]) | static_cast<unsigned char>(s[2 * i + 1]) << 8);
    return u;
}

inline bool iconvToUtf16(const char* from, const std::string& in, Units& out) {
    std::string bytes;
    if (!iconvConvert("UTF-16LE", from, in, bytes)) return false;
    out = fromUtf16le(bytes);
    return true;
}

// Runs a Python oracle script, with input on its standard input; a failing
// script fails the test.
inline std::string python(const std::string& script, const std::string& input = "") {
    qortest::TempDir dir;
    const std::string in = dir.file("in.txt");
    EXPECT_TRUE(qortest::writeFile(in, input));
    int status = -1;
    std::string out = qortest::runPython(script, "< '" + in + "'", &status);
    EXPECT_EQ(status, 0) << script << out;
    return out;
}

}  // namespace textenc_support
