// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 91000
// Feeds bytes to the probe and decoder of each class below.
#include "fuzzpict.h"
#include "picts/pictjbig2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictJBIG2>(data, size);
    return 0;
}
