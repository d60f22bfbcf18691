// File names and typed paths as the choosers take them.  A name's shown form
// must be well-formed UTF-8 (checked by a decoder written here) without a
// control character or a half of a surrogate pair, showing it again changes
// nothing, and a name that is already such text shows as itself.  A typed
// path, taken from an empty folder of the fuzzer's own, resolves to a full
// path without empty, "." or ".." parts, and resolving that again gives it
// back.  The input's first byte chooses how much of the rest is the name;
// both stop at a zero byte, as C strings do.
// qor-fuzz-link: uitoolkit compression base
#include "fuzzsupport.h"
#include "uitoolkit/filechoose.h"

#include <string>

namespace {

// Decodes strict UTF-8; false for anything malformed, a surrogate or a
// character past U+10FFFF.  Each character goes to visit.
template <class Visit>
bool strictUtf8(const std::string& s, Visit visit) {
    for (size_t i = 0; i < s.size();) {
        const unsigned b = static_cast<unsigned char>(s[i]);
        unsigned cp = b, need = 0, min = 0;
        if (b >= 0x80) {
            if ((b & 0xE0) == 0xC0) need = 1, cp = b & 0x1F, min = 0x80;
            else if ((b & 0xF0) == 0xE0) need = 2, cp = b & 0x0F, min = 0x800;
            else if ((b & 0xF8) == 0xF0) need = 3, cp = b & 0x07, min = 0x10000;
            else return false;
        }
        if (i + need >= s.size() + (need ? 0 : 1)) return false;
        for (unsigned k = 1; k <= need; ++k) {
            const unsigned c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        visit(cp);
        i += need + 1;
    }
    return true;
}

bool showable(unsigned cp) { return cp >= 0x20 && !(cp >= 0x7F && cp <= 0x9F); }

std::string cString(const std::string& s) { return s.substr(0, s.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const std::string name = cString(in.take(in.byte()));
    const std::string typed = cString(in.rest());

    const std::string shown = chooserShownName(name.c_str());
    FUZZ_CHECK(shown.empty() == name.empty());
    bool clean = true;
    FUZZ_CHECK(strictUtf8(shown, [&](unsigned cp) { clean = clean && showable(cp); }));
    FUZZ_CHECK(clean);
    FUZZ_CHECK(chooserShownName(shown.c_str()) == shown);
    bool plain = true;
    if (strictUtf8(name, [&](unsigned cp) { plain = plain && showable(cp); }) && plain) FUZZ_CHECK(shown == name);

    const std::string& base = fuzzSandbox();
    std::string full;
    FUZZ_CHECK(chooserResolvePath(base.c_str(), typed.c_str(), full));
    FUZZ_CHECK(!full.empty() && full[0] == '/');
    FUZZ_CHECK(full == "/" || full.back() != '/');
    for (size_t i = 1; full.size() > 1 && i <= full.size();) {
        const size_t end = full.find('/', i);
        const std::string part = full.substr(i, (end == std::string::npos ? full.size() : end) - i);
        FUZZ_CHECK(!part.empty() && part != "." && part != "..");
        if (end == std::string::npos) break;
        i = end + 1;
    }
    std::string again;
    FUZZ_CHECK(chooserResolvePath(nullptr, full.c_str(), again));
    FUZZ_CHECK(again == full);
    // Without a folder to start from, only a full path means something.
    std::string none;
    FUZZ_CHECK(chooserResolvePath(nullptr, typed.c_str(), none) == (!typed.empty() && typed[0] == '/'));
    return 0;
}
