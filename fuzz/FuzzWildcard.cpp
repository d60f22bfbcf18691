// Wildcard masks: cFolderContents::wcmatch and wcmmatch against a dynamic-
// programming matcher written here from the mask rules ('*' any run, '?' one
// byte, everything else itself; ';' separates the masks of a list).
// qor-fuzz-link: base
// qor-fuzz-data: base/wildcard
// qor-fuzz-ci-runs: 230000
#include "base/folders.h"
#include "fuzzsupport.h"

#include <vector>

namespace {

bool referenceMatch(const std::string& name, const std::string& mask) {
    const size_t n = name.size(), m = mask.size();
    // can[j]: mask[0, j) matches the name bytes seen so far.
    std::vector<char> can(m + 1, 0), next(m + 1, 0);
    can[0] = 1;
    for (size_t j = 1; j <= m && mask[j - 1] == '*'; ++j) can[j] = 1;
    for (size_t i = 0; i < n; ++i) {
        next.assign(m + 1, 0);
        for (size_t j = 1; j <= m; ++j) {
            const char c = mask[j - 1];
            if (c == '*')
                next[j] = next[j - 1] || can[j] || can[j - 1];
            else if (c == '?' || c == name[i])
                next[j] = can[j - 1];
        }
        can.swap(next);
    }
    return can[m] != 0;
}

bool referenceList(const std::string& name, const std::string& masks) {
    if (masks.empty()) return true;
    size_t at = 0;
    for (;;) {
        const size_t semi = masks.find(';', at);
        const std::string piece = masks.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
        if (semi == std::string::npos && piece.empty()) return false;
        if (piece.empty() || referenceMatch(name, piece)) return true;
        if (semi == std::string::npos) return false;
        at = semi + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // name NUL mask: both stop at their first zero byte as C strings do.
    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t cut = all.find('\0');
    std::string name = all.substr(0, cut);
    std::string mask = cut == std::string::npos ? std::string() : all.substr(cut + 1);
    mask = mask.substr(0, mask.find('\0'));
    if (name.size() > 512 || mask.size() > 512) return 0;  // the matcher is O(n x m) by design

    const bool got = cFolderContents::wcmatch(name.c_str(), mask.c_str());
    FUZZ_CHECK(got == (mask.empty() || referenceMatch(name, mask)));
    FUZZ_CHECK(cFolderContents::wcmmatch(name.c_str(), mask.c_str()) == referenceList(name, mask));
    FUZZ_CHECK(!cFolderContents::wcmatch(nullptr, mask.c_str()) || mask.empty());
    return 0;
}
