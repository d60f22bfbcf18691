// One whole zlib stream (RFC 1950) of known plain size decoded in one call,
// for callers that hold all of the packed bytes and know exactly how many
// plain bytes they stand for (a package item, a payload body).  Decoded by
// libdeflate, which does this about twice as fast as zlib's inflate; the
// checks are the ones a careful zlib caller makes.
#pragma once

#include <cstddef>

// True only when in[0 .. inBytes) is exactly one zlib stream, nothing after
// its Adler-32 trailer and the checksum right, that decodes to exactly
// outBytes bytes, written to out.  On failure out holds unspecified bytes.
bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes);
