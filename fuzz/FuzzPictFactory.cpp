// qor-fuzz-link: picts compression base
// qor-fuzz-data: factory
// qor-fuzz-replay: bmp dicom gif icns ico jbig2 jp2 jpeg pcx png ppm raw tga tiff xpm
// qor-fuzz-ci-runs: 29000
// Feeds bytes to the format factory: every probe in order, fitting into a
// small box (the decode of every decoder that accepts, until one succeeds)
// and the embedded preview; only crashes, hangs and leaks count.  It also
// replays the inputs kept for every decoder.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictbase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cPictBase::sPictInfo info;
    std::unique_ptr<cPictBase> probed(cPictBase::mkPicture(&io, &info));
    if (probed && !fuzzSizeAllowed(info.width, info.height, size)) return 0;
    // One full decode per input (the decoders' own entries fuzz decoding
    // at length): getImage's; the preview takes embedded pictures only.
    cPictDummy image, preview;
    cPictBase::getImage(&io, image, 24, 16, 0);
    cPictBase::getPreview(&io, preview, 16, 24, false, 0);
    return 0;
}
