// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// Loads the input as an installer payload.  A payload that loads must save
// again, and the saved payload must load back with the same lists.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "fuzzsupport.h"
#include "pakvane/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO in(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cSoftPkgScenario s;
    if (!s.loadBinConfig(&in)) return 0;
    cMemIOTarget out;
    FUZZ_CHECK(s.saveBinConfig(&out));
    out.set_fp(0);
    cSoftPkgScenario back;
    FUZZ_CHECK(back.loadBinConfig(&out));
    FUZZ_CHECK(back.fileEntries().size() == s.fileEntries().size());
    FUZZ_CHECK(back.defaultTable() == s.defaultTable());
    FUZZ_CHECK(back.package().count() == s.package().count());
    return 0;
}
