// Asking for input ahead of a loop that reads it front to back.  A header of
// its own that throws nothing: the portable SHA engines are built with
// options under which a throw does not compile (src/CMakeLists.txt).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor_detail {

// Asks for the `lines` 64-byte lines that start `ahead` bytes past p, for a
// loop that reads its input front to back faster than the processor's own
// prefetchers bring it from L3 and memory.  A prefetch never faults, so
// lines past the end of the input cost only the request; the address is
// reckoned as a number, not as a pointer past the end.
inline void prefetchAhead(const void* p, std::size_t ahead, int lines = 1) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(p) + ahead;
    for (int i = 0; i < lines; ++i) __builtin_prefetch(reinterpret_cast<const void*>(at + 64u * i));
}

}  // namespace qor_detail
