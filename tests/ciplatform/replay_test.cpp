// Inputs the text-line fuzz entry once failed on, replayed through the
// entry itself.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"
#define LLVMFuzzerTestOneInput fuzzTextLine
#include "../../fuzz/FuzzTextLine.cpp"
#undef LLVMFuzzerTestOneInput

TEST(PlatformTextLineReplay, EveryKeptInputLaysOutRulesAndDraws) {
    qortest::replayFolder("textline/malformed", fuzzTextLine, 2);
}
