// The limits every decoder of the picture library checks before it
// allocates.  A few bytes of header can claim a picture of billions of
// pixels; past these the decode fails instead of exhausting memory.
#pragma once

// The most pixels one picture buffer holds (2^28: 16384 x 16384, 1 GiB of
// 8-bit pixels, 2 GiB of 16-bit ones).  cPictBase::checkPixelCount is the
// one place that applies it.
constexpr long long kMaxPictPixels = 1LL << 28;

// The largest width or height any picture may have, whatever the other side.
constexpr long long kMaxPictSide = 1LL << 24;

// PNG: the largest chunk read whole into memory.  IDAT is streamed in pieces
// and may be of any length the format allows (2^31 - 1).
constexpr unsigned int kMaxPngChunkInMemory = 1u << 24;

// PNG: bytes of IDAT data read and inflated per step.
constexpr unsigned int kPngIdatPiece = 1u << 16;

// BMP/DIB: the most palette entries read from a file (an 8-bit palette).
constexpr unsigned int kMaxDibPaletteEntries = 256;

// Camera raw: the most memory LibRaw may take for one image's sensor data.
constexpr unsigned kMaxRawMemoryMB = 1024;

// Camera raw: the most entries a TIFF directory may have when the probes
// look for the maker and the raw tags; IFDs hold a few dozen.
constexpr unsigned kMaxRawIfdEntries = 1024;
