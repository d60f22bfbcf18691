// The limits every decoder of the picture library checks before it
// allocates.  A few bytes of header can claim a picture of billions of
// pixels; past these the decode fails instead of exhausting memory.
#pragma once

// The most pixels one picture buffer holds (2^28: 16384 x 16384 of 8-bit
// pixels).  The cap is also a byte cap (kMaxPictBytes, 1 GiB): a 16-bit
// picture, 8 bytes a pixel, gets half as many pixels.  cPictBase::
// checkPixelCount is the one place that applies both.
constexpr long long kMaxPictPixels = 1LL << 28;
constexpr long long kMaxPictBytes = kMaxPictPixels * 4;

// Work and memory proportional to the input.  Codings that can describe
// area without bytes for it (an RLE bitmap's end-of-bitmap and skips, a
// progressive JPEG's scans over a picture its data never reaches) may
// describe at most kMaxPixelsPerInputByte pixels for each byte of input, on
// top of kFreePictPixels that any input may describe however short it is.
// Complete files stay far below the ratio (an RLE8 run holds 255 pixels in
// 2 bytes, a JPEG block needs at least a bit for its 64 pixels); past it,
// the data could not have filled the picture.  cPictBase::inputCanDescribe
// applies it.
constexpr long long kMaxPixelsPerInputByte = 1024;
constexpr long long kFreePictPixels = 1LL << 22;

// Bilevel codings (CCITT fax in TIFF, 1-bit TIFF, JBIG2) rightly describe
// large blank areas in few bytes: a white Group 4 row is one bit, so a page
// of 2048 columns holds 16384 pixels a byte.  Their pictures may have
// kMaxBilevelPixelsPerInputByte pixels for each byte of input on top of
// kFreeBilevelPixels (a letter page at 300 dpi, 2550 x 3300, needs a few
// bytes); a blank page at 600 dpi needs about 3 KB.  The output is still 4
// bytes a pixel, so 512 bytes of input make at most 48 MB of picture.
// cPictBase::bilevelCanDescribe applies it.
constexpr long long kMaxBilevelPixelsPerInputByte = 1LL << 13;
constexpr long long kFreeBilevelPixels = 1LL << 23;

// JBIG2: the work one file may declare over all its segments, in units of
// about a nanosecond of the decoder's time (pictjbig2.cpp weighs each kind
// of region by what a pixel of it costs): kJbig2WorkPerInputByte for each
// byte of input on top of kJbig2FreeWork, a blank letter page at 300 dpi
// and a region over it.  Each segment is also held to its own bytes
// (cPictJBIG2::segmentInProportion).
constexpr long long kJbig2FreeWork = 1LL << 27;
constexpr long long kJbig2WorkPerInputByte = 1LL << 13;

// JPEG: the scans of one decode (every frame libjpeg is handed for one
// picture: a file, a thumbnail, a DICOM frame, all the JPEG strips or tiles
// of a TIFF) together decode at most kJpegScanBudget times the pixels their
// input may describe, counting 64 samples for each block of each component
// a scan covers, whether its data fills it or not (libjpeg walks every
// block of a scan even after the data has ended), and at most
// kMaxJpegScans scans.  A progressive file, or a sequential one whose
// components come in more than one scan, is held whole as coefficients,
// two bytes a sample, besides the picture.  cJPEGBudget applies both.
// Four pictures' worth is far more than any real file needs (a progressive
// picture's scans decode some eight times its area, and its data describes
// a small part of what the per-byte rule allows); a small input that
// describes the most it may spends less on scans than on its rows.
constexpr long long kJpegScanBudget = 4;
constexpr int kMaxJpegScans = 1000;

// JPEG 2000 is held to the general rule above: what a codestream declares
// over every tile and component, two units for each sample (OpenJPEG holds
// it twice) and 96 for each code-block and precinct it lays out
// (cPictJ2K::sCodestream::work), against the codestream's bytes; only the
// resolutions a render target can show are decoded.
// The same units weigh what OpenJPEG walks without bytes behind it: every
// packet of every layer (and of each progression order change), each
// marked in an array, the code-blocks each packet that is not empty
// visits, the steps of the position-driven orders, and each coding pass the
// packet headers give a code-block, run over the whole block with data or
// not (pictjp2walk.cpp reads the packet headers for them); the thread's
// decode meter is charged the whole.

// Deflate's largest expansion: at most 1032 bytes out for one byte in (a
// 258-byte match in under two bits).  A PNG whose rows need more than this
// times the bytes left in the stream cannot be filled by them; nor can one
// of more pixels than that (a row of one-bit pixels holds eight a byte, and
// the picture is four bytes a pixel however few bits its file gives each):
// cPictBase::deflateCanDescribe.
constexpr long long kMaxDeflateRatio = 1032;

// Small inputs: whatever its coding allows, an input of fewer than
// kSmallInputBytes describes a picture of at most kSmallInputPictureBytes
// (4 bytes a pixel, 8 for 16-bit pictures): 56 M pixels of 8 bits, a page
// of 7500 x 7500.  The per-byte rules above reach past it (a Group 4 page
// of 30 KB may describe 2^28 pixels, a gigabyte); with the decoders' own
// buffers a small input then costs at most 256 MB, and its work (a
// thumbnail's too: the rows are decoded all the same) stays in proportion.
// cPictBase::inputCanDescribe and its siblings apply it.
constexpr long long kSmallInputBytes = 64 * 1024;
constexpr long long kSmallInputPictureBytes = 224LL << 20;

// The pixel ceiling: the most pixels a decode holds in memory, whatever its
// input, unless the caller raises it (cPictBase::setPixelCeiling, up to
// kMaxPictPixels), as decompression-bomb limits do elsewhere.  A decode into
// a render target smaller than the picture never holds it and is not held
// to the ceiling; its work is held to its input by the rules above.
constexpr long long kDefaultPixelCeiling = 1LL << 27;

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

// Camera raw: sensor data is stored at 8 to 16 bits a pixel, packed at
// best to a few bits (lossless JPEG of smooth areas, the lossy codings):
// a file may describe at most kMaxRawPixelsPerInputByte sensor pixels for
// each byte of input on top of kFreePictPixels.  LibRaw lays out the whole
// sensor, 10 to 16 bytes a pixel, before it reads a byte of its data.
// cPictBase::rawCanDescribe applies it.
constexpr long long kMaxRawPixelsPerInputByte = 16;

// Camera raw: the most entries a TIFF directory may have in the walk that
// comes before LibRaw (pictrawwalk.h); IFDs hold a few dozen, and LibRaw's
// own parser gives up on a directory of more than 512.
constexpr unsigned kMaxRawIfdEntries = 512;

// Camera raw: the most tables (IFDs of the chains, sub-IFDs, EXIF, GPS and
// the others) the walk reads of a TIFF-based file; one of more is refused.
constexpr unsigned kMaxRawScreenedIfds = 64;

// Camera raw: the work LibRaw may ask of its stream, in calls (each read,
// seek or character) plus one for every kRawStreamBytesPerCall bytes moved:
// kRawStreamWorkPerInputByte for each byte of input on top of
// kFreeRawStreamWork.  A file is read a few times over at most (identify,
// unpack, thumbnail, each in its own session); a parser that walks in a
// circle (a box of length zero) or a decoder that reads past the end for
// every pixel of a picture its data never reaches is stopped here, since
// LibRaw cannot be bounded from outside.
constexpr long long kRawStreamWorkPerInputByte = 16;
constexpr long long kFreeRawStreamWork = 1LL << 20;
constexpr long long kRawStreamBytesPerCall = 64;

// Camera raw: the JPEG streams LibRaw's decoders read (pictrawjpeg.h) cost
// a unit for every sample they declare and, for every stream started,
// kRawJpegStartWork (LibRaw clears a 64 KB buffer for each, and a DNG's
// tiles may each start one) and a unit for every kRawStreamBytesPerCall
// bytes of its header; together they may cost at most the sensor pixels the
// input may describe (kMaxRawPixelsPerInputByte a byte on top of
// kFreePictPixels, as cPictBase::rawCanDescribe weighs them).
constexpr unsigned long long kRawJpegStartWork = 1ULL << 10;
