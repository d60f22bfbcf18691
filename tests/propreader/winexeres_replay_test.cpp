// The resource-directory walks from any offset through the fuzz entry's
// checks (no walk yields more entries than the section holds): its seeds,
// and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzWinExeRes
#include "../../fuzz/FuzzWinExeRes.cpp"
#undef LLVMFuzzerTestOneInput

TEST(WinExeResReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("WinExeRes", fuzzWinExeRes, 4);
    // Language directories laid 8 bytes apart: records by the square of the
    // section's size.
    qortest::replayFolder("winexe/res/malformed", fuzzWinExeRes, 1);
}
