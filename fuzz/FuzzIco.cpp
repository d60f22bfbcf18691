// qor-fuzz-link: picts compression base
// qor-fuzz-data: ico
// qor-fuzz-ci-runs: 57000
// Feeds bytes to the icon probe, every page's size, decode and fitted
// preview, the preview and a small render target; only crashes, hangs and
// leaks count, a page that decodes has a size, and a fitted preview fits.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "fuzzsupport.h"
#include "picts/pictico.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    cPictICO::validFor(&io, &info);
    cPictICO ico;
    const int pages = ico.getNumPages(&io);
    for (int p = 0; p < pages && p < 4; ++p) {
        int w = -1, h = -1;
        const bool sized = ico.getPageSize(&io, p, w, h);
        cPictICO page;
        if (page.decodePage(&io, p)) FUZZ_CHECK(sized);
        cPictDummy fitted;
        if (ico.decodePagePreview(&io, fitted, 7 + p, 5, p, true, 0xFF00FF00u))
            FUZZ_CHECK(fitted.width() > 0 && fitted.width() <= 7 + p && fitted.height() > 0 && fitted.height() <= 5);
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
