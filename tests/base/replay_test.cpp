// Every input that ever broke a fuzz entry of the base library, replayed
// through the entry's own checks.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzNumbers
#include "../../fuzz/FuzzNumbers.cpp"
#undef LLVMFuzzerTestOneInput

TEST(BaseReplay, NumberTextsThatOnceFailed) {
    // A minus sign before a decimal beyond 64 bits came out one above the
    // smallest value.
    qortest::replayFolder("base/numbers/malformed", fuzzNumbers, 1);
}
