// Whole zlib streams (RFC 1950) decoded straight into a buffer in one call.
// libdeflate does it, several times faster than zlib's inflate, since it
// needs neither a window nor resumable state; whatever libdeflate refuses is
// decoded again by zlib (the deflate data inflated raw and the Adler-32
// trailer checked with the library's own adler32), so that every refusal and
// every partial output is zlib's.
//
// libdeflate decodes some malformed deflate data that zlib refuses, and it
// is taken when its Adler-32 is right: a dynamic block header declaring more
// than 286 literal/length or 30 distance codes, or whose code-length repeat
// runs past the codes it declares; the literal/length symbols 286 and 287
// and the distance symbols 30 and 31 of a fixed block; the unused half of a
// one-symbol distance code, and a distance from an empty distance code.  No
// encoder writes them; zlib reports "too many length or distance symbols",
// "invalid bit length repeat", "invalid literal/length code" or "invalid
// distance code" for them.  Everything else is refused exactly as zlib
// refuses it.
#pragma once

#include <cstddef>

// True when the two bytes at p are a zlib header zlib takes for a stream of
// its default window: deflate, a window of at most 32 KiB, no preset
// dictionary, check bits right.
bool zlibHeaderOk(const unsigned char* p);

// True when the 4-byte zlib trailer (the Adler-32, big-endian) matches the
// Adler-32 of data[0 .. n), taken by the library's own checksum.
bool zlibTrailerOk(const unsigned char* trailer, const unsigned char* data, unsigned long long n);

// The decode of the zlib stream at the start of in[0 .. inBytes) into
// out[0 .. room), its deflate data inflated by libdeflate, its header and
// Adler-32 trailer checked here: ok, with inUsed (header to trailer) and
// outUsed set;
// noRoom when its plain data is longer than room; refused when the stream is
// damaged or cut, or libdeflate cannot be had (out of memory).  out holds
// unspecified bytes unless ok.
enum class eFastInflate { ok, noRoom, refused };
eFastInflate fastInflateZlib(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t room,
                             std::size_t& inUsed, std::size_t& outUsed);

// True only when in[0 .. inBytes) is exactly one zlib stream, nothing after
// its Adler-32 trailer and the checksum right, that decodes to exactly
// outBytes bytes, written to out.  On failure out holds unspecified bytes.
bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes);
