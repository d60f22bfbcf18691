// qor-fuzz-link: propreader picts compression base
// qor-fuzz-data: propreader
// qor-fuzz-ci-runs: 20000
// Feeds bytes to the reader chooser and whichever reader it picks, with
// small preview limits; only crashes, hangs and leaks count, and a stored
// size or preview must be a real one.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "../fuzz/fuzzsupport.h"
#include "base/memio.h"
#include "fuzzpict.h"
#include "propreader/fileprops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    std::unique_ptr<cFileObjectProps> props(cFileObjectProps::guessObj(&io));
    if (!props) return 0;
    // The size first, without a preview; a picture too large for a fuzz
    // run's decode is not previewed (fuzzpict.h).
    props->setPreviewPreferrences(0, 0);
    io.set_fp(0);
    if (!props->load(&io, 0, false)) return 0;
    const int* w = props->prop_int(cFileObjectProps::fpWidth);
    const int* h = props->prop_int(cFileObjectProps::fpHeight);
    if (w && h && !fuzzSizeAllowed(*w, *h, size)) return 0;
    props->setPreviewPreferrences(24, 16);
    io.set_fp(0);
    if (props->load(&io, 0, true)) {
        if (cPictDummy* p = props->prop_pict(3)) {
            FUZZ_CHECK(p->width() > 0 && p->height() > 0);
            FUZZ_CHECK(p->width() <= 24 || props->typeOf() == 0);
        }
    }
    return 0;
}
