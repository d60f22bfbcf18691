// Whole zlib streams (RFC 1950) whose plain size is known, decoded straight
// into a buffer of that size in one inflate call.  The deflate data is
// inflated raw and the Adler-32 trailer checked with the library's own
// adler32, several times faster than zlib's: zlib's own checks, less work.
#pragma once

#include <cstddef>

// True when the two bytes at p are a zlib header zlib takes for a stream of
// its default window: deflate, a window of at most 32 KiB, no preset
// dictionary, check bits right.
bool zlibHeaderOk(const unsigned char* p);

// True when the 4-byte zlib trailer (the Adler-32, big-endian) matches the
// Adler-32 of data[0 .. n), taken by the library's own checksum.
bool zlibTrailerOk(const unsigned char* trailer, const unsigned char* data, unsigned long long n);

// True only when in[0 .. inBytes) is exactly one zlib stream, nothing after
// its Adler-32 trailer and the checksum right, that decodes to exactly
// outBytes bytes, written to out.  On failure out holds unspecified bytes.
bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes);
