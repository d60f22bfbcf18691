// Every input that ever broke a compression fuzz entry, replayed through the
// entry's own checks.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzZDecompress
#include "../../fuzz/FuzzZDecompress.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput fuzzZStream
#include "../../fuzz/FuzzZStream.cpp"
#undef LLVMFuzzerTestOneInput

TEST(CompressionReplay, ZlibInputsThatOnceFailed) {
    // Data after a stream's end, left in the decoder for a later step to
    // inflate after reset().
    EXPECT_GE(qortest::replayFolder("compression/zlib/malformed", fuzzZDecompress), 1);
}

TEST(CompressionReplay, InflatingViewInputsThatOnceFailed) {
    EXPECT_GE(qortest::replayFolder("compression/zstream/malformed", fuzzZStream), 1);
}
