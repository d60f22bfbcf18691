// qor-fuzz-link: picts compression base
// qor-fuzz-data: ico
// Feeds bytes to the icon probe, every page decode, the preview and a small
// render target; only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/pictico.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    cPictICO::validFor(&io, &info);
    cPictICO ico;
    const int pages = ico.getNumPages(&io);
    for (int p = 0; p < pages && p < 4; ++p) {
        cPictICO page;
        page.decodePage(&io, p);
    }
    long long lim = 32;
    cPictDummy preview;
    ico.getPreview(&io, preview, &lim, &lim);
    std::vector<unsigned int> px(16 * 11);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 16;
    target.height = 11;
    cPictICO scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    return 0;
}
