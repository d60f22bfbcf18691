// Every registered code page, chosen by the first input byte: decoding with
// counted and terminated input, require counts never below what is written,
// short buffers that get a prefix and nothing past their end; the double-
// byte, ISO-2022 and EUC decoders called directly agree with the dispatch;
// single-byte pages encode every unit they decode back to a byte that
// decodes to it; page text -> UTF-8 agrees with page text -> UTF-16 -> UTF-8.
// qor-fuzz-link: base
// qor-fuzz-data: base/codepages
// qor-fuzz-ci-runs: 260000
#include "base/dbcs.h"
#include "base/textenc.h"
#include "fuzzsupport.h"

#include <vector>

namespace {

using tUnits = std::vector<unsigned short>;
constexpr unsigned short kGuard = 0xBEEF;

tUnits decode(const std::string& s, long long n, long long cap, int cp) {
    tUnits out(static_cast<size_t>(cap) + 4, kGuard);
    const long long got = __a2w(s.c_str(), n, out.data(), cap, cp);
    FUZZ_CHECK(got >= 0 && got <= cap);
    for (size_t k = static_cast<size_t>(cap); k < out.size(); ++k) FUZZ_CHECK(out[k] == kGuard);
    out.resize(static_cast<size_t>(got));
    return out;
}

bool startsWith(const tUnits& a, const tUnits& b) { return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin()); }

// The decoder behind the dispatch, called by its own name.
long long direct(const std::string& s, long long n, unsigned short* out, long long cap, int cp, long long& need) {
    const char* t = s.c_str();
    switch (cp) {
        case 932:
            need = JIS932_require(t, n);
            return intrnl_JIS_a2w(out, cap, t, n, cp);
        case 936:
        case 949:
        case 950:
            need = JIS936_949_950_require(t, n);
            return intrnl_JIS_a2w(out, cap, t, n, cp);
        case 50221:
            need = iso2022_a2w_jp_req(t, n);
            return iso2022_a2w_jp(out, cap, t, n);
        case 50227:
            need = iso2022_a2w_cn_req(t, n);
            return iso2022_a2w_cn(out, cap, t, n);
        case 51932:
            need = EUC_a2w_jp_req(t, n);
            return EUC_a2w_jp(out, cap, t, n);
        case 51936:
            need = EUC_a2w_cn_req(t, n);
            return EUC_a2w_cn(out, cap, t, n);
    }
    need = -1;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    cFuzzInput in(data, size);
    const int cp = __text_encodings[in.byte() % __text_encodings_count].cp;
    const unsigned shortCap = in.byte();
    const std::string s = in.rest();
    const long long n = static_cast<long long>(s.size());

    // Counted.
    const long long need = __a2w_require(s.c_str(), n, cp);
    const tUnits full = decode(s, n, n + 2, cp);
    FUZZ_CHECK(static_cast<long long>(full.size()) <= need);
    if (shortCap > 0) {
        const tUnits cut = decode(s, n, shortCap, cp);
        FUZZ_CHECK(startsWith(cut, full));
    }
    long long directNeed = 0;
    tUnits again(static_cast<size_t>(n) + 6, kGuard);
    const long long directGot = direct(s, n, again.data(), n + 2, cp, directNeed);
    if (directGot >= 0) {
        // The shared count of 936, 949 and 950 is the largest of the three.
        const bool shared = cp == 936 || cp == 949 || cp == 950;
        FUZZ_CHECK(shared ? directNeed >= need : directNeed == need);
        again.resize(static_cast<size_t>(directGot));
        FUZZ_CHECK(again == full);
    }

    // Terminated, up to the first zero.
    const long long needZ = __a2w_require(s.c_str(), -1, cp);
    const tUnits fullZ = decode(s, -1, needZ > 0 ? needZ : 1, cp);
    FUZZ_CHECK(static_cast<long long>(fullZ.size()) <= needZ || needZ == 0);

    // Single-byte pages: one unit per byte, and back.
    if (isSimpleCP(cp) && cp != 0 && cp != 65001) {
        FUZZ_CHECK(need == n);
        const size_t upTo = std::min(s.size(), std::strlen(s.c_str()));
        FUZZ_CHECK(full.size() == upTo);
        for (size_t k = 0; k < upTo; ++k) {
            const unsigned short u = full[k];
            FUZZ_CHECK(u == __a2w(s[k], cp));
            const char b = __w2a(u, cp);
            FUZZ_CHECK(b != 0 && __a2w(b, cp) == u);
        }
        std::string bytes(full.size() + 1, '\0');
        const long long back = __w2a(full.data(), static_cast<long long>(full.size()), &bytes[0],
                                     static_cast<long long>(bytes.size()), cp);
        FUZZ_CHECK(back == static_cast<long long>(full.size()));
        bytes.resize(static_cast<size_t>(back));
        FUZZ_CHECK(decode(bytes, back, back + 1, cp) == full);
    }

    // Page text -> UTF-8 in one step, against the two steps.
    const long long need8 = _enc2pc_require(s.c_str(), n, cp);
    std::string utf8(static_cast<size_t>(need8) + 4, '\x5A');
    const long long got8 = _enc2pc(s.c_str(), n, &utf8[0], need8, cp);
    FUZZ_CHECK(got8 >= 0 && got8 <= need8 && utf8[static_cast<size_t>(need8)] == '\x5A');
    if (cp != 0 && cp != 65001) {
        _guardchar<unsigned short> wide;
        const long long units = __a2w(s.c_str(), n, wide, cp);
        std::string twoSteps(static_cast<size_t>(3 * units) + 1, '\0');
        const long long got2 = intrnl_UTF8_w2a(wide.get(), units, &twoSteps[0], 3 * units + 1);
        FUZZ_CHECK(got2 == got8 && utf8.compare(0, static_cast<size_t>(got8), twoSteps, 0, static_cast<size_t>(got2)) == 0);
    }
    return 0;
}
