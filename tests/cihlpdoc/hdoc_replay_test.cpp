// The compiled-document fuzz entry's seeds and every input kept for it,
// through the entry (a whole document, or tables and records it deflates
// and frames itself), measured and drawn when they load.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHdocLoader
#include "../../fuzz/FuzzHdocLoader.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HdocReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("HdocLoader", fuzzHdocLoader, 5);
    qortest::replayFolder("hdoc/malformed", fuzzHdocLoader, 4);
}
