// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 260000
// Feeds bytes to the probe and decoder of each class below, plainly and
// through a 16x11 render target.
#include "fuzzpict.h"
#include "picts/pictpcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictPCX>(data, size, 16, 11);
    return 0;
}
