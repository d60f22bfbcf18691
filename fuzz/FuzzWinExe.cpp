// qor-fuzz-link: propreader picts compression base
// qor-fuzz-data: winexe
// qor-fuzz-ci-runs: 220000
// Feeds bytes to the executable reader (headers, resource walk, version
// blocks, icon choice and preview), to the resource walk over the bytes as a
// resource section, and to the version-block walk over them; only crashes,
// hangs and leaks count, and every stored string must be terminated text.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../fuzz/fuzzsupport.h"
#include "base/memio.h"
#include "propreader/fileprops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t* bytes = const_cast<uint8_t*>(data);
    cBufWrapperIO io(bytes, static_cast<long long>(size), false);
    cWinExeProps::validFor(&io);
    io.set_fp(0);
    cWinExeProps props;
    props.setPreviewPreferrences(size & 1 ? 16 : -1, size & 2 ? 24 : -1);
    if (props.load(&io, 0, true)) {
        for (int id = 6; id <= 11; ++id)
            if (char* s = props.prop_string(id)) FUZZ_CHECK(std::strlen(s) < size * 2 + 1);
        if (cPictDummy* p = props.prop_pict(3)) FUZZ_CHECK(p->width() > 0 && p->height() > 0);
    }
    cWinExeProps::tTypeMap tree;
    cWinExeProps::parseResources(bytes, static_cast<long long>(size), tree);
    cWinExeProps::tStringMap strings(2048);
    cBufWrapperIO blocks(bytes, static_cast<long long>(size), false);
    cWinExeProps::loadStrProps(&blocks, strings);
    return 0;
}
