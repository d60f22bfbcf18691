// UTF-8 <-> UTF-16: the decoder against a sequence-by-sequence reference
// written here and, for text glibc's iconv accepts whole, against iconv;
// require counts never below what is written; short buffers get a prefix
// and nothing past their end; UTF-16 -> UTF-8 -> UTF-16 returns every unit
// sequence, lone surrogates included.
// qor-fuzz-link: base
// qor-fuzz-data: base/utf8
// qor-fuzz-ci-runs: 140000
#include "base/textenc.h"
#include "fuzzsupport.h"

#include <iconv.h>

#include <vector>

namespace {

using u16vec = std::vector<unsigned short>;
constexpr unsigned short kCanary = 0xBEEF;

// Counted input: a well-formed sequence is one character; a sequence cut by
// the end of the input stops the decoding; any other byte that does not
// start a well-formed sequence is the unit of its own value.
u16vec referenceDecode(const std::string& s) {
    u16vec out;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned b = static_cast<unsigned char>(s[i]);
        int need = 0;
        unsigned lo = 0x80, hi = 0xBF, cp = b;
        if (b >= 0xC2 && b <= 0xDF) need = 1, cp = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) need = 2, cp = b & 0x0F, lo = b == 0xE0 ? 0xA0 : 0x80;
        else if (b >= 0xF0 && b <= 0xF4) need = 3, cp = b & 0x07, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        bool ok = need > 0;
        for (int k = 1; ok && k <= need; ++k) {
            if (i + k >= s.size()) return out;  // cut
            const unsigned c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80 || (k == 1 && (c < lo || c > hi))) ok = false;
            else cp = cp << 6 | (c & 0x3F);
        }
        if (b < 0x80) {
            out.push_back(static_cast<unsigned short>(b));
            ++i;
        } else if (!ok) {
            out.push_back(static_cast<unsigned short>(b));
            ++i;
        } else if (cp >= 0x10000) {
            out.push_back(static_cast<unsigned short>(0xD800 | (cp - 0x10000) >> 10));
            out.push_back(static_cast<unsigned short>(0xDC00 | (cp & 0x3FF)));
            i += need + 1;
        } else {
            out.push_back(static_cast<unsigned short>(cp));
            i += need + 1;
        }
    }
    return out;
}

// glibc's conversion of the whole text, or false when it refuses any of it.
bool iconvDecode(const std::string& s, u16vec& out) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buf(s.size() * 4 + 8);
    char* in = const_cast<char*>(s.data());
    size_t inLeft = s.size(), outLeft = buf.size();
    char* o = buf.data();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.assign(reinterpret_cast<unsigned short*>(buf.data()), reinterpret_cast<unsigned short*>(o));
    return true;
}

u16vec decodeCounted(const std::string& s, long long cap) {
    u16vec out(static_cast<size_t>(cap) + 4, kCanary);
    const long long n = intrnl_UTF8_a2w(out.data(), cap, s.data(), static_cast<long long>(s.size()));
    FUZZ_CHECK(n >= 0 && n <= cap);
    for (size_t k = static_cast<size_t>(cap); k < out.size(); ++k) FUZZ_CHECK(out[k] == kCanary);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string encodeCounted(const u16vec& w, long long cap) {
    std::string out(static_cast<size_t>(cap) + 4, '\x5A');
    const long long n = intrnl_UTF8_w2a(w.data(), static_cast<long long>(w.size()), &out[0], cap);
    FUZZ_CHECK(n >= 0 && n <= cap);
    for (size_t k = static_cast<size_t>(cap); k < out.size(); ++k) FUZZ_CHECK(out[k] == '\x5A');
    out.resize(static_cast<size_t>(n));
    return out;
}

bool isPrefix(const u16vec& a, const u16vec& b) { return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    cFuzzInput in(data, size);
    const unsigned shortCap = in.byte();
    const std::string s = in.rest();
    const long long n = static_cast<long long>(s.size());

    // Decoding, counted.
    const long long need = intrnl_UTF8_a2w_require(s.data(), n);
    const u16vec full = decodeCounted(s, n + 1);
    FUZZ_CHECK(static_cast<long long>(full.size()) <= need);
    FUZZ_CHECK(full == referenceDecode(s));
    u16vec viaIconv;
    if (iconvDecode(s, viaIconv)) {
        FUZZ_CHECK(full == viaIconv);
        // Text iconv accepts whole comes back byte for byte.
        FUZZ_CHECK(encodeCounted(full, n + 4) == s);
    }
    if (shortCap > 0) {
        const u16vec cut = decodeCounted(s, shortCap);
        FUZZ_CHECK(isPrefix(cut, full));
        // Full up to at most the one unit a surrogate pair could not use.
        FUZZ_CHECK(cut.size() == full.size() || cut.size() + 1 >= shortCap);
    }

    // Decoding that stops at a broken sequence, with byte offsets.
    if (n > 0) {
        u16vec units(static_cast<size_t>(n) + 1, kCanary);
        std::vector<int> offsets(static_cast<size_t>(n) + 1, -1);
        const long long got = utf82w(s.data(), n, units.data(), n + 1, offsets.data());
        units.resize(static_cast<size_t>(got));
        FUZZ_CHECK(isPrefix(units, full));
        int last = 0;
        for (long long k = 0; k < n && offsets[k] >= 0; ++k) {
            FUZZ_CHECK(offsets[k] >= last && offsets[k] < got);
            last = offsets[k];
        }
    }

    // Terminated input: up to the first zero, whose unit is written too.
    const std::string z = s.substr(0, s.find('\0'));
    const long long needZ = intrnl_UTF8_a2w_require(z.c_str(), -1);
    u16vec zout(static_cast<size_t>(needZ) + 2, kCanary);
    const long long gotZ = intrnl_UTF8_a2w(zout.data(), needZ, z.c_str(), -1);
    FUZZ_CHECK(gotZ + 1 == needZ && zout[static_cast<size_t>(gotZ)] == 0 && zout[static_cast<size_t>(needZ)] == kCanary);

    // Encoding: the input's bytes as UTF-16 units, any sequence at all.
    u16vec w(s.size() / 2);
    if (!w.empty()) std::memcpy(w.data(), s.data(), w.size() * 2);
    const long long wn = static_cast<long long>(w.size());
    const long long bytes = intrnl_UTF8_w2a_require(w.data(), wn);
    const std::string utf8 = encodeCounted(w, 3 * wn + 1);
    FUZZ_CHECK(static_cast<long long>(utf8.size()) <= bytes);
    FUZZ_CHECK(decodeCounted(utf8, wn + 1) == w);
    if (shortCap > 0) {
        const std::string cut = encodeCounted(w, shortCap);
        FUZZ_CHECK(utf8.compare(0, cut.size(), cut) == 0);
        FUZZ_CHECK(cut.size() == utf8.size() || cut.size() + 3 >= shortCap);  // never half a sequence
        FUZZ_CHECK(isPrefix(decodeCounted(cut, shortCap + 1), w));
    }
    if (wn > 0) {
        std::string counted(static_cast<size_t>(bytes) + 1, '\0');
        std::vector<int> counts(w.size(), -1);
        const long long got = w2utf8(w.data(), wn, &counted[0], bytes + 1, counts.data());
        FUZZ_CHECK(got == static_cast<long long>(utf8.size()) && counted.compare(0, utf8.size(), utf8) == 0);
        FUZZ_CHECK(counts.back() == got);
    }
    return 0;
}
