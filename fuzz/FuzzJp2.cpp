// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 4900
// Feeds bytes to the probe and decoder of each class below.
#include "fuzzpict.h"
#include "picts/pictjp2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictJP2>(data, size);
    fuzzPictDecoder<cPictJ2K>(data, size);
    return 0;
}
