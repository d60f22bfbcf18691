// qor-fuzz-link: picts compression base
// Feeds bytes to the PNG probe and decoder, plainly and through a small
// render target; the result is ignored, only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/pictpng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    cPictPNG::validFor(&io, &info);
    io.set_fp(0);
    cPictPNG png;
    png.decode(&io);
    std::vector<unsigned int> px(24 * 17);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 24;
    target.height = 17;
    cPictPNG scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    return 0;
}
