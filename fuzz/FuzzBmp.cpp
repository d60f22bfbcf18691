// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 5000
// Feeds bytes to the BMP and bare-DIB probes and decoders (plain, as an
// icon entry, and through a small render target); only crashes, hangs and
// leaks count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictdib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    const bool probed = cPictBMP::validFor(&io, &info);
    if (!fuzzDecodeAllowed(probed, info, size)) return 0;
    io.set_fp(0);
    cPictBMP bmp;
    bmp.decode(&io);
    io.set_fp(0);
    cPictBase::sPictInfo iconInfo;
    const bool iconProbed = cPictDIB::validFor(&io, &iconInfo, true);
    if (!fuzzDecodeAllowed(iconProbed, iconInfo, size)) return 0;
    io.set_fp(0);
    cPictDIB icon;
    icon.setUseAlphaBp(true);
    icon.setForcedPalletteLoad(true);
    icon.decode(&io);
    std::vector<unsigned int> px(16 * 11);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 16;
    target.height = 11;
    cPictBMP scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    return 0;
}
