// The compiled-document fuzz entry's seeds and every input kept for it,
// through the entry (a whole document, or tables and records it deflates
// and frames itself), measured and drawn when they load; in a child held to
// a minute of processor time, since some once cost seconds.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHdocLoader
#include "../../fuzz/FuzzHdocLoader.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HdocReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [] {
        qortest::replaySeeds("HdocLoader", fuzzHdocLoader, 6);
        qortest::replayFolder("hdoc/malformed", fuzzHdocLoader, 5);
    }));
}
