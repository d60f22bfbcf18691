// The packed UI image reader on arbitrary bytes; a picture it accepts is
// whole, and survives the operations that walk its pixels.
// qor-fuzz-link: uitoolkit compression base
// qor-fuzz-ci-runs: 200000
#include "uitoolkit/picture.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cPicture p;
    if (!p.create(data, static_cast<long long>(size))) return 0;
    if (p.count() != static_cast<long long>(p.width()) * p.height()) std::abort();
    if (p.count() <= 4096) {
        cPicture out;
        p.stretch(p.width() / 2 + 1, p.height() + 3, &out);
        p.scaling(p.width() + 2, p.height() / 2 + 1, &out);
        p.rotate(90);
        sRect r{-1, 1, p.width(), p.height()};
        p.subPictTo(r, &out);
    }
    return 0;
}
