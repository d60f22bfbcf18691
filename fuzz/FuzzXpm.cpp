// qor-fuzz-link: picts compression base
// Feeds bytes to the XPM probe and decoder, plain and through a small
// render target; only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/pictxpm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    cPictXPM::validFor(&io, &info);
    io.set_fp(0);
    cPictXPM plain;
    plain.decode(&io);
    std::vector<unsigned int> px(16 * 11);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 16;
    target.height = 11;
    cPictXPM scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    return 0;
}
