// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 150000
// Feeds bytes to the probe and decoder of each class below.
#include "fuzzpict.h"
#include "picts/pictdicom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictDICOM>(data, size);
    fuzzPictDecoder<cPictDICOMLegacy>(data, size);
    return 0;
}
