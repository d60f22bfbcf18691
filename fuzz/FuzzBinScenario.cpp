// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// qor-fuzz-ci-runs: 84000
// qor-fuzz-ci-args: -use_counters=0 -use_cmp=0
// Loads an installer payload.  An input that begins with the payload's magic
// is taken as a whole payload; any other input is the body of one, deflated
// and digested here into a payload with a true header, so that mutations
// reach the section parser instead of stopping at the inflate or the SHA-256
// check.  A payload that loads must save again, and the saved payload must
// load back with the same lists.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/memio.h"
#include "fuzzsupport.h"
#include "pakvane/scenario.h"
#include "payloadref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string payload;
    if (!payloadOfInput(data, size, payload)) return 0;
    cBufWrapperIO in(&payload[0], static_cast<long long>(payload.size()), false);
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
