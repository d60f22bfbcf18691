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
    qortest::replayFolder("compression/zlib/malformed", fuzzZDecompress, 2);
}

TEST(CompressionReplay, InflatingViewInputsThatOnceFailed) {
    qortest::replayFolder("compression/zstream/malformed", fuzzZStream, 1);
}
