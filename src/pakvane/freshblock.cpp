#include "pakvane/freshblock.h"

#include <new>

#include "base/buffers.h"

namespace {

// Blocks from this size on start on a huge-page boundary, so that all of
// them but the tail can be huge pages.  The C library maps every block this
// large afresh (its mapping threshold stops rising at 32 MiB on 64-bit
// systems), so each one costs its page faults and huge pages make them few.
// Smaller blocks are plain allocations, which the C library hands out again
// from memory freed before: a payload of a few MiB loaded again and again
// then takes no page faults at all, where an aligned block took them all
// each time.
constexpr std::size_t kAlignedBytes = 32u << 20;
constexpr std::align_val_t kHugeAlign{2u << 20};

}  // namespace

std::shared_ptr<unsigned char> freshBlock(std::size_t n) {
    std::shared_ptr<unsigned char> block;
    if (n >= kAlignedBytes)
        block.reset(new (kHugeAlign) unsigned char[n], [](unsigned char* p) { operator delete[](p, kHugeAlign); });
    else
        block.reset(new unsigned char[n ? n : 1], std::default_delete<unsigned char[]>());
    qor_detail::preferHugePages(block.get(), n);
    return block;
}
