// qor-fuzz-link: propreader picts compression base
// qor-fuzz-data: winexe/res
// qor-fuzz-ci-runs: 980000
// The resource-directory walks of the executable reader, each from any
// offset: the input's first four bytes give the offset (little-endian,
// reduced modulo the data's length + 16) and the rest is a resource
// section.  The type, name and language walks run from the start and from
// the offset; every directory is read at most once, so no walk yields more
// entries than the section holds 8-byte directory entries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzsupport.h"
#include "propreader/fileprops.h"

namespace {

size_t refsIn(cWinExeProps::tLangList& list) {
    size_t n = 0;
    for (auto* it = list.head; it; it = it->next) ++n;
    return n;
}
size_t refsIn(cWinExeProps::tNameMap& names) {
    size_t n = 0;
    for (auto* it = names.first(); it; it = names.next(it)) n += 1 + refsIn(it->value);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint32_t rawOffset = in.u32();
    std::string section = in.rest();
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&section[0]);
    const long long n = static_cast<long long>(section.size());
    const unsigned int offset = static_cast<unsigned int>(rawOffset % (section.size() + 16));
    const size_t most = section.size() / 8;

    cWinExeProps::tTypeMap types;
    if (cWinExeProps::parseResources(bytes, n, types)) {
        size_t total = 0;
        for (auto* it = types.first(); it; it = types.next(it)) total += 1 + refsIn(it->value);
        FUZZ_CHECK(total <= most);
    }
    cWinExeProps::tNameMap names;
    if (cWinExeProps::parseResNames(bytes, n, offset, names)) FUZZ_CHECK(refsIn(names) <= most);
    cWinExeProps::tLangList langs;
    if (cWinExeProps::parseResLangs(bytes, n, offset, langs)) FUZZ_CHECK(refsIn(langs) <= most);
    return 0;
}
