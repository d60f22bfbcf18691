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
void run(cFileIOTarget* io, size_t size) {
    cPictBase::sPictInfo info;
    if (!T::validFor(io, &info) || !fuzzSizeAllowed(info.width, info.height, size)) return;
    T pict;
    io->set_fp(0);
    pict.decode(io);
    cPictDummy thumb;
    pict.getPreview(io, thumb, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    run<cPictMRW>(&io, size);
    run<cPictRWL>(&io, size);
    run<cPictORF>(&io, size);
    run<cPictX3F>(&io, size);
    run<cPictPEF>(&io, size);
    run<cPictARW>(&io, size);
    run<cPictSRW>(&io, size);
    run<cPictIIQ>(&io, size);
    run<cPictRAF>(&io, size);
    run<cPictCRW>(&io, size);
    run<cPictMOS>(&io, size);
    run<cPictCR2>(&io, size);
    run<cPictCR3>(&io, size);
    run<cPictNEF>(&io, size);
    run<cPict3FR>(&io, size);
    run<cPictDNG>(&io, size);
    run<cPictTIFF_EP>(&io, size);
    return 0;
}
