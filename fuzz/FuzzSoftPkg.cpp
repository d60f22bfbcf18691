// The package item table reader: any bytes are loaded as a table; every item
// it takes is verified and read through its stream, and a table it took must
// save and load again to the same bytes.
// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-ci-runs: 350000
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/buffers.h"
#include "base/memio.h"
#include "pakvane/pkg.h"

namespace {

void readItem(cSoftPkg& pkg, int i) {
    cPtr<cFileIOTarget> s(pkg.item(i));
    if (!s) return;
    unsigned char buf[3000];
    unsigned long long total = 0;
    for (;;) {
        const unsigned int got = s->read(buf, sizeof buf);
        if (!cFileIOTarget::transferred(got, sizeof buf) || got == 0) break;
        total += got;
    }
    // A stream never yields more than the item's plain size.
    if (total > pkg.sizeOf(i)) __builtin_trap();
    // Moving back and reading again.
    if (s->set_fp(total / 2)) s->read(buf, sizeof buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO in(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    cSoftPkg pkg;
    if (!pkg.loadPackage(&in)) {
        if (pkg.count() != 0) __builtin_trap();
        return 0;
    }
    for (unsigned i = 0; i < pkg.count(); ++i) {
        pkg.verify(static_cast<int>(i));
        readItem(pkg, static_cast<int>(i));
    }
    if (pkg.count() == 0) return 0;
    cMemIOTarget saved;
    _typebuf<unsigned char> bytes;
    if (!pkg.savePackage(&saved) || !saved.toBuffer(bytes)) __builtin_trap();
    cBufWrapperIO again(bytes.data(), bytes.count(), false);
    cSoftPkg reloaded;
    if (!reloaded.loadPackage(&again) || reloaded.count() != pkg.count()) __builtin_trap();
    // The saved table is the input's bytes up to and including the end mark.
    if (bytes.bytes() > size || std::memcmp(bytes.data(), data, bytes.bytes()) != 0) __builtin_trap();
    return 0;
}
