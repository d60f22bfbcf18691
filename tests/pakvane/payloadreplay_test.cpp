// The streamed check's fuzz entry over its seeds and every payload input
// kept for the scenario entries: the streamed verdict, the first failing
// item and the items of a payload that passes agree with the in-memory
// reader's.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzPayloadStream
#include "../../fuzz/FuzzPayloadStream.cpp"
#undef LLVMFuzzerTestOneInput

TEST(PayloadStreamReplay, SeedsAndSavedInputsAgreeWithTheInMemoryReader) {
    qortest::replaySeeds("PayloadStream", fuzzPayloadStream, 12);
    qortest::replayFolder("scenario/malformed", fuzzPayloadStream, 7);
}
