// qor-fuzz-link: picts compression base
// qor-fuzz-data: icns
// qor-fuzz-ci-runs: 77000
// Feeds bytes to the icon-family probe, every page's size and decode, the
// previews and a small render target; only crashes, hangs and leaks count,
// and a page that decodes has the size that getPageSize gave.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "fuzzsupport.h"
#include "picts/picticns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    const bool probed = cPictICNS::validFor(&io, &info);
    if (!fuzzDecodeAllowed(probed, info, size)) return 0;
    cPictICNS icns;
    const int pages = icns.getNumPages(&io);
    for (int p = 0; p < pages && p < 6; ++p) {
        int w = -1, h = -1;
        const bool sized = icns.getPageSize(&io, p, w, h);
        if (sized && !fuzzSizeAllowed(w, h, size)) continue;
        cPictICNS page;
        if (page.decodePage(&io, p)) FUZZ_CHECK(sized && page.width() == w && page.height() == h);
    }
    long long lim = 32;
    cPictDummy preview;
    icns.getPreview(&io, preview, &lim, &lim);
    cPictDummy scaledPage;
    icns.decodePagePreview(&io, scaledPage, 20, 20, 0, true, 0);
    std::vector<unsigned int> px(16 * 11);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 16;
    target.height = 11;
    cPictICNS scaled;
    scaled.setExtTarget(&target);
    scaled.decode(&io);
    return 0;
}
