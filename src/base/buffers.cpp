#include "base/buffers.h"

#include "base/exception.h"

#include <cstdint>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qor_detail {

// The file and line numbers are part of the exception's contract: callers and
// logs identify the failing check by them.
void throwTypebufOutOfBounds() {
    throw cException("src/base/buffers", 17, 0, "_typebuf::Out of bounds");
}

void throwClassbufOutOfBounds() {
    throw cException("src/base/buffers", 157, 0, "_classbuf::Out of bounds");
}

void preferHugePages(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2u << 20;
    if (!p || bytes < 2 * kHuge) return;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace qor_detail
