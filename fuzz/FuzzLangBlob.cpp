// The language-blob reader on arbitrary bytes (".laci" files are untrusted):
// whatever it accepts must write back to a blob it reads again with the same
// sections and texts.
// qor-fuzz-link: uitoolkit compression base
#include "fuzzsupport.h"
#include "uitoolkit/lang.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cCiomLang lang;
    if (!loadCiomLangData(data, static_cast<long long>(size), lang)) return 0;
    _typebuf<unsigned char> blob;
    FUZZ_CHECK(saveCiomLangData("CIOMBASE", lang, blob));
    cCiomLang again;
    FUZZ_CHECK(loadCiomLangData(blob.data(), blob.count(), again));
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
