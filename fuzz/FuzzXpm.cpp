// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 160000
// Feeds bytes to the probe and decoder of each class below, plainly and
// through a 16x11 render target.
#include "fuzzpict.h"
#include "picts/pictxpm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictXPM>(data, size, 16, 11);
    return 0;
}
