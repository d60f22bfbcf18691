// qor-fuzz-link: picts compression base
// Feeds bytes to the probe and decoder of each class below.
#include "fuzzpict.h"
#include "picts/pictjp2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzPictDecoder<cPictJP2>(data, size);
    fuzzPictDecoder<cPictJ2K>(data, size);
    return 0;
}
