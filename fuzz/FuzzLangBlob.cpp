// The language-blob reader on arbitrary bytes (".laci" files are untrusted):
// whatever it accepts must write back to a blob it reads again with the same
// sections and texts.  An input that begins with the blob's magic is taken
// as a whole blob; any other input is the sections of a body ("CIOMLANG"
// and the input), deflated and sized here into a blob with a true header,
// so that mutations reach the section parser instead of stopping at the
// inflate or its exact-size check.
// qor-fuzz-link: uitoolkit compression base
// qor-fuzz-ci-runs: 180000
#include "fuzzsupport.h"
#include "uitoolkit/lang.h"
#include "zlibref.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// "CIOMLAFI", the tag, the code, u8 name length, the name, u32 body size,
// the deflated body.
std::string blobOf(const uint8_t* sections, size_t size) {
    const std::string body = "CIOMLANG" + std::string(reinterpret_cast<const char*>(sections), size);
    std::string out("CIOMLAFICIOMBASEENG");
    out.push_back(7);
    out += "English";
    putLE(out, body.size(), 4);
    return out + zlibPack(body, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string blob;
    if (size >= 8 && std::memcmp(data, "CIOMLAFI", 8) == 0)
        blob.assign(reinterpret_cast<const char*>(data), size);
    else
        blob = blobOf(data, size);
    cCiomLang lang;
    if (!loadCiomLangData(blob.data(), static_cast<long long>(blob.size()), lang)) return 0;
    _typebuf<unsigned char> saved;
    FUZZ_CHECK(saveCiomLangData("CIOMBASE", lang, saved));
    cCiomLang again;
    FUZZ_CHECK(loadCiomLangData(saved.data(), saved.count(), again));
    FUZZ_CHECK(again.sections().count() == lang.sections().count());
    for (auto* it = lang.sections().first(); it; it = lang.sections().next(it)) {
        const cCiomLangData* other = again.sections().find(it->key);
        FUZZ_CHECK(other && other->count() == it->value.count());
        for (long long i = 0; i < it->value.count(); ++i) {
            const char* a = it->value.string(i);
            const char* b = other->string(i);
            FUZZ_CHECK((a == nullptr) == (b == nullptr));
            FUZZ_CHECK(!a || std::strcmp(a, b) == 0);
        }
    }
    return 0;
}
