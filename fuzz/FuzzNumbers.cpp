// Hexadecimal pairs, hex strings, GUIDs, decimal and hexadecimal numbers and
// blank offsets, 8-bit and 16-bit forms, against references written here
// and against the C library's own "%llx" / "%lld" scanning; numbers printed
// by the C library read back as themselves.
// qor-fuzz-link: base
// qor-fuzz-data: base/numbers
// qor-fuzz-ci-runs: 390000
#include "base/strutil.h"
#include "fuzzsupport.h"

#include <climits>
#include <vector>

namespace {

int hexValue(unsigned c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}
bool blank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

unsigned long long scanU64(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    const std::string s = text.substr(i);
    if (s.empty()) return 0;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        unsigned long long v = 0;
        return std::sscanf(s.c_str() + 2, "%llx", &v) == 1 ? v : ~0ULL;
    }
    long long v = 0;
    return std::sscanf(s.c_str(), "%lld", &v) == 1 ? static_cast<unsigned long long>(v) : ~0ULL;
}

std::vector<unsigned short> widen(const std::string& s) {
    std::vector<unsigned short> w(s.begin(), s.end());
    for (auto& u : w) u = static_cast<unsigned char>(u);
    w.push_back(0);
    return w;
}

std::string printed(const char* format, unsigned long long v) {
    char b[64];
    std::snprintf(b, sizeof b, format, v);
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    cFuzzInput in(data, size);
    const uint64_t value = static_cast<uint64_t>(in.u32()) << 32 | in.u32();
    std::string all = in.rest();
    const std::string s = all.substr(0, all.find('\0'));  // what the C-string functions see
    const std::vector<unsigned short> w = widen(s);

    // Hex pairs: the first digit decides whether the second is looked at.
    std::string padded = s + std::string(2, '\0');
    const int h0 = hexValue(static_cast<unsigned char>(padded[0])), h1 = hexValue(static_cast<unsigned char>(padded[1]));
    const int pair = h0 < 0 || h1 < 0 ? -1 : h0 * 16 + h1;
    FUZZ_CHECK(getHexb(s.c_str()) == pair && getHexb(w.data()) == pair);

    // Hex strings.
    _typebuf<unsigned char> bytes, wideBytes;
    const bool ok = hexToBytes(s.c_str(), bytes);
    FUZZ_CHECK(hexToBytes(w.data(), wideBytes) == ok);
    bool expectOk = !s.empty() && s.size() % 2 == 0;
    for (size_t i = 0; expectOk && i < s.size(); ++i)
        if (hexValue(static_cast<unsigned char>(s[i])) < 0) expectOk = false;
    FUZZ_CHECK(ok == expectOk);
    if (ok) {
        FUZZ_CHECK(bytes.count() == static_cast<long long>(s.size() / 2));
        for (size_t i = 0; i < s.size() / 2; ++i) {
            const int b = hexValue(static_cast<unsigned char>(s[2 * i])) * 16 + hexValue(static_cast<unsigned char>(s[2 * i + 1]));
            FUZZ_CHECK(bytes[static_cast<long long>(i)] == b && wideBytes[static_cast<long long>(i)] == b);
        }
    }

    // GUIDs: 8-4-4-4-12 hex digits; nothing after the 36th character matters.
    unsigned char guid[16] = {0};
    const int g = parseGUID(reinterpret_cast<const unsigned char*>(s.c_str()), guid);
    bool expectGuid = s.size() >= 36;
    for (size_t i = 0; expectGuid && i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : hexValue(static_cast<unsigned char>(s[i])) < 0) expectGuid = false;
    }
    FUZZ_CHECK(g == (expectGuid ? 1 : 0));
    if (g) {
        size_t at = 0;
        for (int k = 0; k < 16; ++k) {
            if (at == 8 || at == 13 || at == 18 || at == 23) ++at;
            FUZZ_CHECK(guid[k] == hexValue(static_cast<unsigned char>(s[at])) * 16 + hexValue(static_cast<unsigned char>(s[at + 1])));
            at += 2;
        }
    }

    // Numbers: the C library's scanning is the reference.
    const unsigned long long u = strToU64(s.c_str());
    FUZZ_CHECK(u == scanU64(s));
    FUZZ_CHECK(strToU64(w.data()) == u);
    const long long i64 = strToInt64(s.c_str());
    FUZZ_CHECK(strToInt64(w.data()) == i64);
    size_t first = 0;
    while (first < s.size() && blank(s[first])) ++first;
    if (first < s.size() && s[first] == '-') {
        const std::string rest = s.substr(first + 1);
        const bool decimal = !rest.empty() && rest[0] >= '0' && rest[0] <= '9' &&
                             !(rest[0] == '0' && rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X'));
        if (decimal) {
            // Read with its sign, as "%lld" reads it.
            long long v = 0;
            FUZZ_CHECK(std::sscanf(s.c_str() + first, "%lld", &v) == 1 && i64 == v);
        } else {
            const unsigned long long r = scanU64(rest);
            FUZZ_CHECK(i64 == (r >> 63 ? LLONG_MIN : -static_cast<long long>(r)));
        }
    } else if (first < s.size()) {
        FUZZ_CHECK(i64 == (u >> 63 ? LLONG_MIN : static_cast<long long>(u)));
    } else {
        FUZZ_CHECK(i64 == 0 && u == 0);
    }

    // Printed numbers read back, after any run of blanks.
    const std::string lead = std::string(value % 3, ' ');
    FUZZ_CHECK(strToU64((lead + printed("0x%llx", value)).c_str()) == value);
    FUZZ_CHECK(strToU64((lead + printed("%lld", value)).c_str()) == value);
    FUZZ_CHECK(strToInt64((lead + printed("%lld", value)).c_str()) == static_cast<long long>(value));
    if (!(value >> 63)) FUZZ_CHECK(strToInt64((lead + printed("-0X%llX", value)).c_str()) == -static_cast<long long>(value));

    // Blank offsets over the first n characters.
    const int n = static_cast<int>(value % (s.size() + 2)) - 1;  // -1: the whole text
    const int len = n < 0 ? static_cast<int>(s.size()) : std::min(n, static_cast<int>(s.size()));
    int firstBlank = -1;
    for (int i = 0; i < len; ++i)
        if (!blank(s[static_cast<size_t>(i)])) {
            firstBlank = i;
            break;
        }
    int trimmed = len;
    while (trimmed > 0 && blank(s[static_cast<size_t>(trimmed - 1)])) --trimmed;
    if (n != 0 && n <= static_cast<int>(s.size())) {
        FUZZ_CHECK(str_offset(s.c_str(), n) == firstBlank && wcs_offset(w.data(), n) == firstBlank);
        FUZZ_CHECK(stre_offset(s.c_str(), n) == trimmed && wcse_offset(w.data(), n) == trimmed);
    }
    return 0;
}
