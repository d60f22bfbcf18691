// The document compiler's driver through the fuzz entry's checks (index
// languages in range, failures that say why, documents the loader takes):
// its seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHdlIndex
#include "../../fuzz/FuzzHdlIndex.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HdlIndexReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("HdlIndex", fuzzHdlIndex, 4);
    qortest::replayFolder("hdl/index/malformed", fuzzHdlIndex, 1);
}
