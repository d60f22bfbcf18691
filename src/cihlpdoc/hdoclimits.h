// Named limits of compiled documents, checked before anything is allocated
// or recursed into.  The compiler refuses to produce what the loader would
// refuse to read.
#pragma once

#include <cstddef>

// Every inflated block of one document together (language record streams,
// font table, string table) and the uncompressed image table.
constexpr std::size_t kMaxHdocInflatedBytes = 64u << 20;
// Containers nested inside a language's root container; the compiler bounds
// its open sections (text, link, b, i) the same way.
constexpr int kMaxHdocNesting = 64;
// An index file or an HDL source.
constexpr long long kMaxHdlSourceBytes = 0x400000;
// One picture file taken into a document.
constexpr long long kMaxHdocImageFileBytes = 64ll << 20;
// Font, string and image ids are u16 with 0xFFFF meaning none.
constexpr int kMaxHdocIds = 0xFFFF;
