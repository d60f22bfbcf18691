// qor-fuzz-link: picts compression base
// qor-fuzz-data: raw
// qor-fuzz-ci-runs: 5000
// Feeds bytes to every camera raw probe (with an info record, so LibRaw
// reads the metadata), then develops and asks for the thumbnail with the
// decoders whose probe accepts; only crashes, hangs and leaks count.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictraw.h"

namespace {

template <typename T>
void run(cFileIOTarget* io) {
    cPictBase::sPictInfo info;
    if (!T::validFor(io, &info) || !fuzzSizeAllowed(info.width, info.height)) return;
    T pict;
    io->set_fp(0);
    pict.decode(io);
    cPictDummy thumb;
    pict.getPreview(io, thumb, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    run<cPictMRW>(&io);
    run<cPictRWL>(&io);
    run<cPictORF>(&io);
    run<cPictX3F>(&io);
    run<cPictPEF>(&io);
    run<cPictARW>(&io);
    run<cPictSRW>(&io);
    run<cPictIIQ>(&io);
    run<cPictRAF>(&io);
    run<cPictCRW>(&io);
    run<cPictMOS>(&io);
    run<cPictCR2>(&io);
    run<cPictCR3>(&io);
    run<cPictNEF>(&io);
    run<cPict3FR>(&io);
    run<cPictDNG>(&io);
    run<cPictTIFF_EP>(&io);
    return 0;
}
