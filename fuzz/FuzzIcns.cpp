// qor-fuzz-link: picts compression base
// qor-fuzz-data: icns
// Feeds bytes to the icon-family probe, every page decode, the previews and
// a small render target; only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/picticns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    cPictICNS::validFor(&io, &info);
    cPictICNS icns;
    const int pages = icns.getNumPages(&io);
    for (int p = 0; p < pages && p < 6; ++p) {
        cPictICNS page;
        page.decodePage(&io, p);
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
