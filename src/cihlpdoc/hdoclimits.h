// Named limits of compiled documents, checked before anything is allocated
// or recursed into.  The compiler refuses to produce what the loader would
// refuse to read.
#pragma once

#include <cstddef>

// Every inflated block of one document together (language record streams,
// font table, string table) and the uncompressed image table.
constexpr std::size_t kMaxHdocInflatedBytes = 64u << 20;
// What the documents of one payload together may hold at once, whatever
// their number: the records being read, the boxes, fonts and link targets
// made of them and the pictures as they are drawn (cSiDocBudget).
constexpr std::size_t kMaxHdocHeldBytes = 64u << 20;
// And the work they may ask for, in bytes made: each byte inflated counts
// one, each pixel a picture's decoder reads four (its 32-bit pixel), however
// small the part of it that is drawn.  256 MiB is a 64-megapixel picture,
// or a second or so of work.
constexpr unsigned long long kMaxHdocWork = 256ull << 20;
// Containers nested inside a language's root container; the compiler bounds
// its open sections (text, link, b, i) the same way.
constexpr int kMaxHdocNesting = 64;
// An index file or an HDL source.
constexpr long long kMaxHdlSourceBytes = 0x400000;
// One picture file taken into a document.
constexpr long long kMaxHdocImageFileBytes = 64ll << 20;
// Font, string and image ids are u16 with 0xFFFF meaning none.
constexpr int kMaxHdocIds = 0xFFFF;
