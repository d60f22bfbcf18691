// qor-fuzz-link: picts compression base
// qor-fuzz-libs: -ljpeg -ltiff -lopenjp2 -ljbig2dec
// qor-fuzz-ci-runs: 7000
// Feeds bytes to the JPEG probe and decoder, plainly, through a small
// render target, through the entry containers use, and for its EXIF
// thumbnail; the result is ignored, only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictjpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    const bool probed = cPictJPEG::validFor(&io, &info);
    io.set_fp(0);
    cPictDummy thumbnail;
    cPictJPEG().getPreview(&io, thumbnail, nullptr, nullptr);
    if (!fuzzDecodeAllowed(probed, info, size)) return 0;
    io.set_fp(0);
    cPictJPEG jpeg;
    jpeg.decode(&io);
    std::vector<unsigned int> px(23 * 17);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 23;
    target.height = 17;
    cPictJPEG scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    io.set_fp(0);
    cPictDummy into;
    unsigned long long consumed = 0;
    cPictJPEG::decodeFrom(&io, into, &consumed);
    return 0;
}
