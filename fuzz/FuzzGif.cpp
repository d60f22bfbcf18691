// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 17000
// Feeds bytes to the GIF probe, the page walk and the page decoder (plain,
// through a small render target and as a preview); only crashes, hangs and
// leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictgif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    const bool probed = cPictGIF::validFor(&io, &info);
    if (!fuzzDecodeAllowed(probed, info, size)) return 0;
    cPictGIF gif;
    const int pages = gif.getNumPages(&io);
    for (int p = 0; p < (pages > 0 ? pages : 1) && p < 8; ++p) {
        int w = 0, h = 0;
        if (gif.getPageSize(&io, p, w, h) && !fuzzSizeAllowed(w, h, size)) continue;
        gif.decodePage(&io, p);
    }
    std::vector<unsigned int> px(16 * 11);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 16;
    target.height = 11;
    cPictGIF scaled;
    scaled.setExtTarget(&target);
    scaled.decode(&io);
    cPictDummy preview;
    cPictGIF pre;
    pre.decodePagePreview(&io, preview, 7, 5, pages > 1 ? 1 : 0, false, 0);
    return 0;
}
