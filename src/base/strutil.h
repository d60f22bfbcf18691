// String utilities shared by the whole base library:
//
//  - the case tables and the case-mapping, blank-testing and case-insensitive
//    comparison functions built on them;
//  - a bounded C-runtime layer that gives 8-bit (UTF-8) and 16-bit (UTF-16)
//    text the same operations; 16-bit formatting and scanning go through
//    UTF-8 and the C library, so %s arguments are UTF-8 in both widths;
//  - cCompactStr, a compact owned UTF-8 string with a 16-bit length;
//  - hexadecimal, GUID and number parsing, bit counting and the first/last
//    non-blank offsets used by the text parsers.
//
// Sizes and counts are in units of the text's own width.  Nothing here keeps
// shared state except the two case trees, which are filled once (safely from
// any number of threads) and only read afterwards.
#pragma once

#include <cstdarg>
#include <string>

#include "base/buffers.h"

// ---------------------------------------------------------------------------
// Case tables and case mapping

// Pairs {from, to} sorted by `from`, each table followed by three all-zero
// pairs that are never loaded.  __acp_lowermap maps capital to small letter,
// __acp_uppermap is its exact inverse.  Generated: src/base/casemap_tables.cpp.
constexpr int kCaseMapPairs = 973;
extern const unsigned short __acp_lowermap[kCaseMapPairs + 3][2];
extern const unsigned short __acp_uppermap[kCaseMapPairs + 3][2];

// c mapped through the table of its direction; a unit not in it is returned
// unchanged.
unsigned short __acp_lower(unsigned short c);
unsigned short __acp_upper(unsigned short c);
// The signed byte widened to 16 bits (0x80..0xFF become 0xFF80..0xFFFF, which
// the tables do not hold), mapped and cut back: only A-Z (lower) or a-z
// (upper) change, every byte of a UTF-8 sequence passes unchanged.
char __acp_lower(char c);
char __acp_upper(char c);

// Tab, line feed, carriage return and space; not vertical tab or form feed.
bool __acp_isspace(char c);
bool __acp_isspace(unsigned short c);

// dst becomes src lower-cased unit by unit through UTF-16.  Returns true;
// when src holds no text dst is left as it was.  src and dst may be the same.
bool __acp_lower(const _guardchar<char>& src, _guardchar<char>& dst);
bool __acp_lower_a(const _guardchar<char>& src, _guardchar<char>& dst);
// dst becomes a copy of src with every unit lower-cased.
bool __acp_lower_w(const _guardchar<unsigned short>& src, _guardchar<unsigned short>& dst);

// ---------------------------------------------------------------------------
// Bounded C-runtime layer

// Units before the terminating zero; 0 for null.
long long _wcslen(const unsigned short* s);

// printf into dst, writing at most size bytes including the terminating zero
// (a longer result is cut to size - 1 bytes and terminated; size 0 or a null
// dst writes nothing).  Returns the length of the whole formatted text, or a
// negative value when the C library reports an error.
int _sprintf_s(char* dst, long long size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int _vsprintf_s(char* dst, long long size, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));

// The same for 16-bit text: the format is converted to UTF-8, formatted by the
// C library into a temporary of 3 x size + 1 bytes and converted back into dst
// (size units, always terminated, never cut inside a character).  Returns the
// C library's byte count; 0 and nothing written for a null dst or fmt or a
// size below 1.
int _swprintf_s(unsigned short* dst, long long size, const unsigned short* fmt, ...);
int _vswprintf_s(unsigned short* dst, long long size, const unsigned short* fmt, va_list ap);

// The C library's scanning; returns its result (fields converted or EOF).
int _sscanf_s(const char* s, const char* fmt, ...) __attribute__((format(scanf, 2, 3)));
int _vsscanf_s(const char* s, const char* fmt, va_list ap) __attribute__((format(scanf, 2, 0)));
// Text and format converted to UTF-8 (null or empty text scans an empty
// string), then scanned; string fields receive UTF-8.
int _swscanf_s(const unsigned short* s, const unsigned short* fmt, ...);
int _vswscanf_s(const unsigned short* s, const unsigned short* fmt, va_list ap);

// Copies up to size units, stopping after the terminator; when none was among
// them the copy is cut to size - 1 units and terminated.  Null pointers or a
// size below 1: nothing.  Returns 0.
int _strcpy_s(char* dst, long long size, const char* src);
int _wcscpy_s(unsigned short* dst, long long size, const unsigned short* src);
// Copies at most min(size, n) units, stopping after the terminator; a copy
// that stopped without one is terminated at n (n below size) or at size - 1.
// n = 0 gives an empty string, a negative n no limit but size.  Returns 0.
int _strncpy_s(char* dst, long long size, const char* src, long long n);
int _wcsncpy_s(unsigned short* dst, long long size, const unsigned short* src, long long n);
// Appends src to dst's text within size units; a result that reaches size is
// cut to size - 1 units and terminated (so is a dst without a terminator in
// its first size units).  Returns 0.
int _wcscat_s(unsigned short* dst, long long size, const unsigned short* src);

// First unit equal to c before the terminator (c = 0 is never found), or null.
const unsigned short* _wcschr(const unsigned short* s, unsigned short c);
inline unsigned short* _wcschr(unsigned short* s, unsigned short c) {
    return const_cast<unsigned short*>(_wcschr(static_cast<const unsigned short*>(s), c));
}
// Last unit equal to c, the terminator included (c = 0 finds it), or null.
const unsigned short* _wcsrchr(const unsigned short* s, unsigned short c);
inline unsigned short* _wcsrchr(unsigned short* s, unsigned short c) {
    return const_cast<unsigned short*>(_wcsrchr(static_cast<const unsigned short*>(s), c));
}

// Unsigned 16-bit comparison: -1, 0 or 1; 1 when either is null.
int _wcscmp(const unsigned short* a, const unsigned short* b);
// Units compared after __acp_lower, unsigned: -1, 0 or 1; -1 when either is
// null.  The counted forms compare at most n units and give 0 for n <= 0.
int __wcsicmp(const unsigned short* a, const unsigned short* b);
int __wcsicmp(const unsigned short* a, const unsigned short* b, long long n);
int __wcsnicmp(const unsigned short* a, const unsigned short* b, long long n);
// Bytes compared after __acp_lower(char): as signed bytes in the uncounted
// form (0x80..0xFF sort before 0x00..0x7F), as unsigned bytes in the counted
// form; -1 when either is null; the counted form gives 0 for n <= 0.
int __stricmp(const char* a, const char* b);
int __stricmp(const char* a, const char* b, long long n);
// n bytes compared after __acp_lower(char) as signed bytes, zero bytes
// included; 0 for n <= 0, 1 when either is null.
int __memicmp(const void* a, const void* b, long long n);

// First occurrence of needle in hay.  A length of -1 is measured up to the
// terminator (null counts as empty); null when the needle is longer than hay;
// an empty needle matches at hay.  _stristr folds A-Z only, _wcsistr the
// whole case table.
const unsigned short* _wcsstr(const unsigned short* hay, const unsigned short* needle, long long hayLen = -1,
                              long long needleLen = -1);
const char* _stristr(const char* hay, const char* needle, long long hayLen = -1, long long needleLen = -1);
const unsigned short* _wcsistr(const unsigned short* hay, const unsigned short* needle, long long hayLen = -1,
                               long long needleLen = -1);
inline unsigned short* _wcsstr(unsigned short* hay, const unsigned short* needle, long long hayLen = -1,
                               long long needleLen = -1) {
    return const_cast<unsigned short*>(_wcsstr(static_cast<const unsigned short*>(hay), needle, hayLen, needleLen));
}
inline char* _stristr(char* hay, const char* needle, long long hayLen = -1, long long needleLen = -1) {
    return const_cast<char*>(_stristr(static_cast<const char*>(hay), needle, hayLen, needleLen));
}
inline unsigned short* _wcsistr(unsigned short* hay, const unsigned short* needle, long long hayLen = -1,
                                long long needleLen = -1) {
    return const_cast<unsigned short*>(_wcsistr(static_cast<const unsigned short*>(hay), needle, hayLen, needleLen));
}
// First exact occurrence of needle starting at one of the positions 0 to
// n - len(needle); a zero byte of hay at a candidate start ends the search.
// Null when either is null, the needle is empty or longer than n.
const char* _strnstr(const char* hay, const char* needle, long long n);
inline char* _strnstr(char* hay, const char* needle, long long n) {
    return const_cast<char*>(_strnstr(static_cast<const char*>(hay), needle, n));
}
// First byte equal to c among the first n bytes, zero bytes included.
const char* _strnchr(const char* s, char c, long long n);
inline char* _strnchr(char* s, char c, long long n) {
    return const_cast<char*>(_strnchr(static_cast<const char*>(s), c, n));
}

// ---------------------------------------------------------------------------
// cCompactStr: an owned UTF-8 string with a 16-bit count.

class cCompactStr {
public:
    static constexpr int kMaxLength = 32767;

    cCompactStr() = default;
    cCompactStr(const cCompactStr& o);
    cCompactStr(cCompactStr&& o) noexcept;
    cCompactStr& operator=(const cCompactStr& o);
    cCompactStr& operator=(cCompactStr&& o) noexcept;
    ~cCompactStr() { destroy(); }

    // Frees the text; the count becomes 0.
    void destroy();

    // Frees the old text, then stores the n units (n = -1: up to the
    // terminating zero) as UTF-8 with a terminating zero and the count n.
    // Null text or n below 1 leaves it empty.  A terminated text longer than
    // 32767 units does not fit the count: it is refused (false, empty).
    bool set(const unsigned short* text, short n);
    // The same for n bytes of 8-bit text.
    bool set(const char* text, short n);

    // The count handed to set: UTF-16 units or bytes.
    unsigned short len() const { return count_; }
    // The UTF-8 text, or null when empty.
    const char* c_str() const { return text_; }

    // The text as UTF-16 in out (cap units), cut before a character that does
    // not fit and always terminated; cap 0 writes nothing.  Returns out.
    unsigned short* str(unsigned short* out, unsigned int cap) const;
    // The text in out, at most cap - 2 bytes of it and a terminating zero;
    // cap 1 gives an empty string, cap 0 writes nothing.  Returns out.
    char* str(char* out, unsigned int cap) const;

private:
    char* text_ = nullptr;
    unsigned short count_ = 0;
};

// ---------------------------------------------------------------------------
// Hexadecimal, GUID, bits, numbers and offsets

// The two hex digits s[0] s[1] as 0-255; -1 when either is not a hex digit
// or s is null.  s[1] is not read when s[0] is not a digit.
int getHexb(const char* s);
int getHexb(const unsigned short* s);
// out is sized to length / 2 and filled pair by pair; false for null, empty
// or odd-length text, and at the first bad pair (out keeps its size and the
// bytes before it).
bool hexToBytes(const char* s, _typebuf<unsigned char>& out);
bool hexToBytes(const unsigned short* s, _typebuf<unsigned char>& out);
// 8-4-4-4-12 hex digits (no braces) into 16 bytes in text order.  1 on
// success; 0 for a null or short text, a misplaced dash or a bad digit (out
// then keeps the bytes before it).  Nothing after the 36th character is read.
int parseGUID(const unsigned char* text, unsigned char* out);

int bitsCount(unsigned long long v);
// 0-63; 0 for v = 0.
int highestBit(unsigned long long v);
// 0-63; 64 for v = 0.
int lowestBit(unsigned long long v);

// Leading blanks skipped; "0x"/"0X" then hexadecimal, otherwise a signed
// decimal (a negative number as its two's complement).  Empty, blank or null
// text gives 0, unreadable text all ones.
unsigned long long strToU64(const char* s);
unsigned long long strToU64(const unsigned short* s);
// A leading '-' negates strToU64 of the rest; a strToU64 result of 2^63 or
// more (unreadable text included) gives 0x8000000000000000.  A '-' before
// decimal digits is read together with them as "%lld" reads it, so the
// smallest value's text gives that value and larger decimals saturate there.
long long strToInt64(const char* s);
long long strToInt64(const unsigned short* s);

// n = -1: the text's length.  The index of the first non-blank among the
// first n characters; -1 when all are blank, n is below 1 or s is null.
int str_offset(const char* s, int n);
int wcs_offset(const unsigned short* s, int n);
// n = -1: the text's length.  The length of the first n characters without
// their trailing blanks; 0 when all are blank, n is below 1 or s is null.
int stre_offset(const char* s, int n);
int wcse_offset(const unsigned short* s, int n);

// True when all n bytes are zero (true for n <= 0); false for null.
bool iszero(const unsigned char* p, long long n);
// Whichever of a and b has the smaller magnitude; b on a tie.
long long minDiff(long long a, long long b);

// A text made safe to print on one line: valid UTF-8 characters from U+00A0
// up and printable ASCII stay as they are; a backslash becomes two, tab,
// line feed and carriage return become \t, \n and \r, and every other
// byte (control characters, DEL, C1 controls, the line separators and the
// direction marks and overrides, bytes that are not part of a valid UTF-8
// sequence) becomes \xHH.  So no name can split a line or move
// the terminal's cursor, and different texts stay different.
std::string escapeForDisplay(const char* text, std::size_t n);
inline std::string escapeForDisplay(const std::string& text) { return escapeForDisplay(text.data(), text.size()); }
