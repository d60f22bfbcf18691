// Named limits of the toolkit's readers and pictures, checked before anything
// is allocated.
#pragma once

namespace qor_uitk {

// Configuration hives.  A value's length is a u16 in the file and a child's
// name field a u8, so longer ones cannot be stored at all; a hive file is
// read whole, and a tree nested deeper than anyone writes is refused rather
// than walked on the stack.  A loaded hive takes at most kHiveBytesPerFileByte
// times its file's size, so the longest file a load reads loads within 1 GiB,
// with 64 MiB of it left for the rest of the process (its code, the other
// hives, the allocator's own): 120 MiB.
constexpr long long kMaxHiveValueBytes = 65535;
constexpr long long kMaxHiveNameBytes = 255;
constexpr int kMaxHiveDepth = 512;
constexpr long long kHiveBytesPerFileByte = 8;
constexpr long long kMaxHiveFileBytes = ((1LL << 30) - (64LL << 20)) / kHiveBytesPerFileByte;

// Pictures.  Width and height of a packed image are 1..65536; the pixel
// count is bounded far below 65536 x 65536 (16 GiB of pixels): UI images are
// icons and theme pieces, and the one-shot inflate takes a 32-bit length.
constexpr int kMaxPackedImageSide = 65536;
constexpr long long kMaxPackedImagePixels = 1LL << 24;
// Any picture made in memory (create, resampling, rotation).
constexpr long long kMaxPicturePixels = 1LL << 26;

}  // namespace qor_uitk
