// The configuration store over folders of hive files made by its fuzz
// entry (damaged hives set aside, typed reads consistent, saves found
// again): its seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHiveStore
#include "../../fuzz/FuzzHiveStore.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HiveStoreReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("HiveStore", fuzzHiveStore, 8);
    qortest::replayFolder("hive/store/malformed", fuzzHiveStore, 0);
}
