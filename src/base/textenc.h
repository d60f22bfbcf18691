// Text encodings: UTF-16 <-> byte encodings named by Windows code-page numbers,
// and UTF-16 <-> the platform's own text (UTF-8 here).
//
// Naming: `a` is 8-bit text, `w` UTF-16 text, `pc` the platform's text, `enc`
// text in a given code page; `x2y` converts from x to y and `x2y_require`
// returns the units that conversion needs.
//
// Shared conventions of every conversion:
//  - n is the input length in units of the input's width; n = -1 means "up to
//    the terminating zero".  A null input or n = 0 gives 0.
//  - cap is the output capacity in units of the output's width; nothing is
//    ever written beyond it.
//  - The result is the number of units written.  A terminator is written only
//    when the input's terminating zero was reached (n = -1) with room left for
//    it, and it is not counted.  A cut output is never terminated.
//  - A `_require` function returns the units the conversion would write, plus
//    one for the terminator when n = -1.  It is never below what the
//    conversion writes, so a buffer sized by it always holds the whole result.
//  - Code page 0 means UTF-8 (65001), the system's default code page.
//
// UTF-8 here is strict about form and lenient about content: characters
// outside the Basic Multilingual Plane travel as four-byte sequences and
// surrogate pairs; a byte that does not start a well-formed sequence (a stray
// continuation, an overlong form, 0xF5-0xFF) decodes to the unit of the same
// value, so no byte string is ever rejected and none can smuggle in ASCII.
#pragma once

#include "base/buffers.h"

// ---------------------------------------------------------------------------
// Code-page registry.

struct sTextEncoding {
    int cp;
    const char* name;
};

constexpr int __text_encodings_count = 39;
extern const sTextEncoding __text_encodings[__text_encodings_count];

// 65001.
int __sysDefaultCP();
// The registry name of cp, or "Unknown".
const char* __text_encoding_name(int cp);
// True for the thirty single-byte pages and for 0.
bool isSimpleCP(int cp);
// True for the double-byte pages 932, 936, 949, 950.
bool isJIS(int cp);
// True for ISO-2022-JP (50221), ISO-2022-CN (50227), EUC-JP (51932), EUC-CN (51936).
bool isISO2022(int cp);
// The 256-unit decoding table of single-byte page cp (`__symtab_dft`, the
// identity table, for a page without its own).
const unsigned short* intrnl_ACP_symtab(int cp);

// Single-byte decoding tables, indexed by the byte.
extern const unsigned short __symtab_dft[256];
extern const unsigned short __symtab_37[256];
extern const unsigned short __symtab_437[256];
extern const unsigned short __symtab_500[256];
extern const unsigned short __symtab_737[256];
extern const unsigned short __symtab_850[256];
extern const unsigned short __symtab_852[256];
extern const unsigned short __symtab_855[256];
extern const unsigned short __symtab_857[256];
extern const unsigned short __symtab_858[256];
extern const unsigned short __symtab_862[256];
extern const unsigned short __symtab_866[256];
extern const unsigned short __symtab_870[256];
extern const unsigned short __symtab_1250[256];
extern const unsigned short __symtab_1251[256];
extern const unsigned short __symtab_1252[256];
extern const unsigned short __symtab_1254[256];
extern const unsigned short __symtab_1255[256];
extern const unsigned short __symtab_10007[256];
extern const unsigned short __symtab_10029[256];
extern const unsigned short __symtab_20866[256];
extern const unsigned short __symtab_21866[256];
extern const unsigned short __symtab_28592[256];
extern const unsigned short __symtab_28593[256];
extern const unsigned short __symtab_28595[256];
extern const unsigned short __symtab_28596[256];
extern const unsigned short __symtab_28597[256];
extern const unsigned short __symtab_28598[256];
extern const unsigned short __symtab_28599[256];
extern const unsigned short __symtab_28605[256];

// ---------------------------------------------------------------------------
// Core conversions.

// Decodes text of page cp into UTF-16.  out null: the require count.
long long __a2w(const char* text, long long n, unsigned short* out, long long cap, int cp);
long long __a2w_require(const char* text, long long n, int cp);
// Encodes UTF-16 into page cp: UTF-8 or a single-byte page only; every other
// page writes nothing and returns 0.  out null: the require count.
long long __w2a(const unsigned short* text, long long n, char* out, long long cap, int cp);
long long __w2a_require(const unsigned short* text, long long n, int cp);

// The single-byte table's unit for byte c.
unsigned short __a2w(char c, int cp);
// The byte unit c encodes to in single-byte page cp; 0 when c is not in it.
char __w2a(unsigned short c, int cp);

// Owned-buffer forms: out holds the whole converted text, terminated; a null
// text or a page that cannot be converted leaves out empty.  Return the units
// of text in out.
long long __a2w(const char* text, long long n, _guardchar<unsigned short>& out, int cp);
long long __w2a(const unsigned short* text, long long n, _guardchar<char>& out, int cp);

// ---------------------------------------------------------------------------
// Platform text (UTF-8).

void _a2pc(_typebuf<char>& in, _typebuf<char>& out);
void _pc2a(_typebuf<char>& in, _typebuf<char>& out);
void _w2pc(_typebuf<unsigned short>& in, _typebuf<char>& out);
void _pc2w(_typebuf<char>& in, _typebuf<unsigned short>& out);

// Null text leaves out unchanged; the result carries no terminator.
void _a2pc(const char* text, long long n, _typebuf<char>& out);
void _pc2a(const char* text, long long n, _typebuf<char>& out);
void _w2pc(const unsigned short* text, long long n, _typebuf<char>& out);
void _pc2w(const char* text, long long n, _typebuf<unsigned short>& out);

// Owned-buffer forms; return 0.
int _w2pc(const unsigned short* text, long long n, _guardchar<char>& out);
int _pc2w(const char* text, long long n, _guardchar<unsigned short>& out);
int _a2pc(const char* text, long long n, _guardchar<char>& out);
int _pc2a(const char* text, long long n, _guardchar<char>& out);
int _enc2pc(const char* text, long long n, _guardchar<char>& out, int cp);

long long _w2pc_require(const unsigned short* text, long long n);
long long _pc2w_require(const char* text, long long n);
// Null out: 0.  Null text: an empty string is written and 0 returned.
long long _w2pc(const unsigned short* text, long long n, char* out, long long cap);
long long _pc2w(const char* text, long long n, unsigned short* out, long long cap);

long long _a2pc_require(const char* text, long long n);
long long _pc2a_require(const char* text, long long n);
// Copies min(length, cap - 1) bytes and a terminator; returns the bytes copied.
long long _a2pc(const char* text, long long n, char* out, long long cap);
long long _pc2a(const char* text, long long n, char* out, long long cap);

long long _pc2enc_require(const char* text, long long n, int cp);
long long _pc2enc(const char* text, long long n, char* out, long long cap, int cp);
long long _enc2pc_require(const char* text, long long n, int cp);
long long _enc2pc(const char* text, long long n, char* out, long long cap, int cp);

// ---------------------------------------------------------------------------
// The decoders and encoders behind the dispatch.

long long intrnl_UTF8_a2w(unsigned short* out, long long cap, const char* text, long long n);
long long intrnl_UTF8_a2w_require(const char* text, long long n);
long long intrnl_UTF8_w2a(const unsigned short* text, long long n, char* out, long long cap);
long long intrnl_UTF8_w2a_require(const unsigned short* text, long long n);

// As intrnl_UTF8_a2w, but stops at a sequence whose continuation bytes are
// missing (cut or interrupted).  offsets (may be null) receives one int per
// input byte consumed: the index in out of the unit that byte belongs to (the
// first unit of a surrogate pair; the terminator's index for the zero byte).
long long utf82w(const char* text, long long n, unsigned short* out, long long cap, int* offsets);
// As intrnl_UTF8_w2a; counts (may be null) receives one int per input unit
// consumed: the bytes written once that unit is done (both units of a
// surrogate pair get the total after the pair's four bytes).
long long w2utf8(const unsigned short* text, long long n, char* out, long long cap, int* counts);

long long intrnl_ACP_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp);
long long intrnl_ACP_w2a(const unsigned short* text, long long n, char* out, long long cap, int cp);

// ---------------------------------------------------------------------------
// Precomposition of decomposed text (a base unit followed by one combining
// unit), as file systems that store decomposed names deliver it.

struct sPrecomposition {
    unsigned int key;          // base unit << 16 | combining unit
    unsigned short composed;
    unsigned short reserved;   // always 0
};
// 989 rows sorted by key, followed by an all-zero row.
constexpr int __precompositions_count = 989;
extern const sPrecomposition precompositions[__precompositions_count + 1];

// Folds n units of in into out; units below 0x20 become '.'; swap: the input
// is big-endian.  Returns the units written (no terminator); 0 when any
// argument is null or zero.
long long _precompose_glyphs(const unsigned short* in, long long n, unsigned short* out, long long cap, bool swap);
// Folds n units and stores the UTF-8 form of the result in out.
void _precompose_glyphs(const unsigned short* in, long long n, _guardchar<char>& out, bool swap);
// Decodes the UTF-8 text, folds it and stores the result's UTF-8 form in out.
void _precompose_glyphs(const char* text, long long n, _guardchar<char>& out);
// The composed unit for pair[0] followed by pair[1], or 0.
unsigned short _get_precomposed_glyph(const unsigned short* pair);
// Makes the precomposition look-up ready; safe to call from any thread.
void checkInitPrecompose();
