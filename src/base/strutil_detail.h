// The block-at-a-time kernels under the string utilities, declared for their
// tests: each has a plain loop beside it that gives the same result on any
// processor, and the tests hold the two against each other.
#pragma once

#include <cstdarg>

namespace strutil_detail {

// The number of leading bytes of s[0, n) below 0x80.
long long asciiRun(const char* s, long long n);
// A-Z become a-z in s[0, n); every other byte stays.
void lowerAscii(char* s, long long n);
// Lowers the leading units of w[0, n) that are below 0x80 (A-Z to a-z) and
// returns how many there were.
long long lowerAsciiUnits(unsigned short* w, long long n);

// The first start in hay[0, hayLen) where needle[0, needleLen) matches with
// A-Z folded to a-z; null when there is none.  needleLen is at least 1 and
// at most hayLen.  findFolded takes the widest form the processor runs
// (foldedSearchWidth(): 64 with AVX-512BW, 32 with AVX2, else 16): the
// vector forms look for starts whose first, second and last bytes pass, that
// many starts a vector (16: the first two bytes); the plain form (width 0)
// tries every start.  findFoldedWidth runs the form of a given width, which
// must not exceed foldedSearchWidth().
int foldedSearchWidth();
const char* findFolded(const char* hay, long long hayLen, const char* needle, long long needleLen);
const char* findFoldedWidth(int width, const char* hay, long long hayLen, const char* needle, long long needleLen);
const char* findFoldedPlain(const char* hay, long long hayLen, const char* needle, long long needleLen);

// The same in the string hay, which ends at its first NUL: the first start
// where the needle matches before that NUL, null when there is none (as when
// the needle is longer than the string).  needleLen is at least 1 and the
// needle holds no NUL.  The AVX2 and AVX-512 forms find the string's end in
// the same pass as the match; the narrower ones measure the string first.
const char* findFoldedTerminated(const char* hay, const char* needle, long long needleLen);
const char* findFoldedTerminatedWidth(int width, const char* hay, const char* needle, long long needleLen);

// Formats the printf conversions programs mostly write (%d %i %u %x %X
// with the lengths l, ll, z, j and t, %s, %c and %%, with the flags '-' and
// '0', a width and, for %s, a precision) as the C library's vsnprintf would:
// out[0, cap) receives the first cap - 1 units and a terminator, and the
// whole length is returned.  Returns -1, with no promise about out, when the
// format asks for anything else or a %s argument is null; the 16-bit form
// (8-bit arguments taken as UTF-8) also when a unit of the format or a byte
// of an argument is not ASCII.  The caller then asks the C library.  The
// arguments are read from ap, so a caller that may fall back passes a copy.
int formatCommon(char* out, long long cap, const char* fmt, va_list ap);
int formatCommon(unsigned short* out, long long cap, const unsigned short* fmt, va_list ap);

}  // namespace strutil_detail
