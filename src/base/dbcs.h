// Decoders of the East Asian multi-byte encodings into UTF-16: the Windows
// double-byte pages 932 (Shift-JIS), 936 (GBK), 949 (Unified Hangul) and 950
// (Big5), and ISO-2022-JP (50221), ISO-2022-CN (50227), EUC-JP (51932) and
// EUC-CN (51936).  Nothing encodes into these pages.
//
// They follow the conversion conventions of base/textenc.h (n = -1: up to the
// terminating zero; cap bounds what is written; `_require` counts without
// writing and is never below what the decoder writes), with one difference
// for the ISO-2022 family: their result counts the terminator when they wrote
// one.
#pragma once

// ---------------------------------------------------------------------------
// Double-byte pages.
//
// Base tables: the unit of a byte that stands alone, or 0xFFFF for a lead
// byte.  Row tables: indexed by the lead byte, null where the lead has no row;
// a row holds the units of the trail bytes 0x40-0xFF, '?' where unmapped.
// 949 decodes single bytes through the 950 base table.

constexpr unsigned short kDbcsLeadByte = 0xFFFF;
constexpr int kDbcsFirstTrail = 0x40;
constexpr int kDbcsRowUnits = 192;

extern const unsigned short __symtab_JIS932_base[256];
extern const unsigned short __symtab_JIS936_base[256];
extern const unsigned short __symtab_JIS950_base[256];
extern const unsigned short* const __symtab_JIS932_exts[256];
extern const unsigned short* const __symtab_JIS936_exts[256];
extern const unsigned short* const __symtab_JIS949_exts[256];
extern const unsigned short* const __symtab_JIS950_exts[256];

long long intrnl_JIS_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp);
long long intrnl_JIS_a2w_require(const char* text, long long n, int cp);
long long JIS932_require(const char* text, long long n);
long long JIS936_949_950_require(const char* text, long long n);

// ---------------------------------------------------------------------------
// ISO-2022 and EUC.  Every call starts in the initial state (ASCII) and stops
// at the first sequence it cannot decode, keeping what it wrote before.

long long intrnl_2022_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp);
long long intrnl_2022_a2w_require(const char* text, long long n, int cp);

long long iso2022_a2w_jp(unsigned short* out, long long cap, const char* text, long long n);
long long iso2022_a2w_jp_req(const char* text, long long n);
long long iso2022_a2w_cn(unsigned short* out, long long cap, const char* text, long long n);
long long iso2022_a2w_cn_req(const char* text, long long n);
long long EUC_a2w_jp(unsigned short* out, long long cap, const char* text, long long n);
long long EUC_a2w_jp_req(const char* text, long long n);
long long EUC_a2w_cn(unsigned short* out, long long cap, const char* text, long long n);
long long EUC_a2w_cn_req(const char* text, long long n);

// ---------------------------------------------------------------------------
// The 94 x 94 character sets under ISO-2022 and EUC: one two-byte code, both
// bytes 0x21-0x7E, to its UTF-16 unit; 0 when the code is not mapped (or a
// byte is out of range).

unsigned short jisx0208_mbtowc(unsigned char c1, unsigned char c2);
unsigned short jisx0212_mbtowc(unsigned char c1, unsigned char c2);
unsigned short gb2312_mbtowc(unsigned char c1, unsigned char c2);
unsigned short cns11643_1_mbtowc(unsigned char c1, unsigned char c2);
unsigned short cns11643_2_mbtowc(unsigned char c1, unsigned char c2);

// The generated rows behind them: 94 pointers for the first bytes 0x21-0x7E,
// null for an empty row; each row holds the units of the second bytes
// 0x21-0x7E, 0 where not mapped.
extern const unsigned short* const __cjk94_jisx0208[94];
extern const unsigned short* const __cjk94_jisx0212[94];
extern const unsigned short* const __cjk94_gb2312[94];
extern const unsigned short* const __cjk94_cns11643_1[94];
extern const unsigned short* const __cjk94_cns11643_2[94];
