// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 46000
// Feeds bytes to the probe and decoder of each class below, decoding plainly
// and into a small render target (the rows streamed as they are decoded).
#include "fuzzpict.h"
#include "picts/picttiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictTIFF>(data, size, 16, 11);
    return 0;
}
