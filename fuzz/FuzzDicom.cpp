// qor-fuzz-link: picts compression base
// qor-fuzz-libs: -ljpeg -ltiff -lopenjp2 -ljbig2dec
// Feeds bytes to the probe and decoder of each class below; the result is
// ignored, only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictdicom.h"

namespace {

template <typename T>
void run(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    T::validFor(&io, &info);
    io.set_fp(0);
    T pict;
    pict.decode(&io);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run<cPictDICOM>(data, size);
    run<cPictDICOMLegacy>(data, size);
    return 0;
}
