// Blocks of memory that are written from end to end as soon as they are
// had: a payload's packed bytes and body, an item table read whole.  Fresh
// memory costs a page fault for every page as it is first written; a large
// block is aligned to huge pages and given the base library's fresh-pages
// policy (qor_detail::preferHugePages), which makes those faults few.
#pragma once

#include <cstddef>
#include <memory>

// A block of n bytes (uninitialised), freed with the last owner; throws
// std::bad_alloc when it cannot be had.
std::shared_ptr<unsigned char> freshBlock(std::size_t n);
