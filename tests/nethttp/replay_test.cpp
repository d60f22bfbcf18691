// Every input that ever broke the HTTP reply fuzz entry, replayed through
// the entry's own checks (outcome independent of read sizes, body offsets,
// header work linear in the bytes received).
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzHttpReply
#include "../../fuzz/FuzzHttpReply.cpp"
#undef LLVMFuzzerTestOneInput

TEST(HttpReplay, RepliesThatOnceFailed) {
    qortest::replayFolder("nethttp/malformed", fuzzHttpReply, 1);
}
