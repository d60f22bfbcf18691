// The payload and text-scenario fuzz entries' seeds and every input kept
// for them, through the entries' own checks: a payload (whole, or a body
// deflated and digested by the entry) that loads saves and loads back the
// same; a text scenario compiled among the entry's files that compiles
// saves a payload that loads back.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzBinScenario
#include "../../fuzz/FuzzBinScenario.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput fuzzTextScenario
#include "../../fuzz/FuzzTextScenario.cpp"
#undef LLVMFuzzerTestOneInput

TEST(ScenarioReplay, PayloadSeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("BinScenario", fuzzBinScenario, 10);
    qortest::replayFolder("scenario/malformed", fuzzBinScenario, 7);
}

TEST(ScenarioReplay, TextSeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("TextScenario", fuzzTextScenario, 6);
    qortest::replayFolder("scenario/malformed", fuzzTextScenario, 7);
}
