// The typed configuration reads through the fuzz entry's checks (a text
// store's numbers against strtoull, a binary store's against the value's
// bytes, the typed writes read back): its seeds, and every input that once
// failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzConfigValues
#include "../../fuzz/FuzzConfigValues.cpp"
#undef LLVMFuzzerTestOneInput

TEST(ConfigReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("ConfigValues", fuzzConfigValues, 5);
    qortest::replayFolder("base/config/malformed", fuzzConfigValues, 0);
}
