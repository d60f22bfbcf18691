// The request builder through the fuzz entry's checks (the request line and
// headers as set, no line breaks smuggled in, a multipart body whose
// delimiter stands only where it belongs, percent-encoding that decodes
// back): its seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHttpRequest
#include "../../fuzz/FuzzHttpRequest.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HttpRequestReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("HttpRequest", fuzzHttpRequest, 3);
    qortest::replayFolder("nethttp/request/malformed", fuzzHttpRequest, 0);
}
