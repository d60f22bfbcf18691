// Double-byte, ISO-2022 and EUC decoders.
//
// Each decoder is written once as a template over "write or only count", so
// a `_require` count is the very walk the decoder makes and can never fall
// short of what it writes.
#include "base/dbcs.h"

#include <climits>

namespace {

using u8 = unsigned char;
using u16 = unsigned short;

constexpr long long kUnbounded = LLONG_MAX;
constexpr u16 kQuestion = u'?';

// The input: n bytes, or (n < 0) up to the terminating zero.  In the second
// case byte i + 1 may be read whenever byte i is not zero.
struct sInput {
    const u8* s;
    long long n;
    bool has(long long i) const { return n < 0 || i < n; }
    // Byte i, or -1 past the end of a counted input.
    int at(long long i) const { return has(i) ? s[i] : -1; }
};

sInput input(const char* text, long long n) { return {reinterpret_cast<const u8*>(text), n}; }

// Appends one unit when writing; false once the output is full.
template <bool Write>
struct cOutput {
    u16* out;
    long long cap;
    long long w = 0;
    bool full() const { return w >= cap; }
    void put(u16 u) {
        if (Write) out[w] = u;
        ++w;
    }
};

u16 lookup94(const unsigned short* const* rows, unsigned c1, unsigned c2) {
    if (c1 < 0x21 || c1 > 0x7E || c2 < 0x21 || c2 > 0x7E) return 0;
    const unsigned short* row = rows[c1 - 0x21];
    return row ? row[c2 - 0x21] : 0;
}

// ---------------------------------------------------------------------------
// Double-byte pages.

struct sDbcsPage {
    const unsigned short* base;
    const unsigned short* const* rows;
};

bool dbcsPage(int cp, sDbcsPage& page) {
    switch (cp) {
    case 932: page = {__symtab_JIS932_base, __symtab_JIS932_exts}; return true;
    case 936: page = {__symtab_JIS936_base, __symtab_JIS936_exts}; return true;
    case 949: page = {__symtab_JIS950_base, __symtab_JIS949_exts}; return true;
    case 950: page = {__symtab_JIS950_base, __symtab_JIS950_exts}; return true;
    default: return false;
    }
}

// A lead byte takes a trail byte only when the trail lies inside its row
// (0x40-0xFF).  A lead before a smaller byte - a zero byte or ASCII below '@'
// - decodes to '?' on its own, and that byte is decoded next: the terminator
// is never swallowed and no row is read before its start.
template <bool Write>
long long decodeDbcs(const sDbcsPage& page, sInput in, u16* out, long long cap) {
    cOutput<Write> o{out, cap};
    long long i = 0;
    while (in.has(i) && !o.full()) {
        const u8 b = in.s[i];
        const u16 single = page.base[b];
        if (single != kDbcsLeadByte) {
            if (single == 0) {  // the terminator: written, not counted
                if (Write) out[o.w] = 0;
                return o.w;
            }
            o.put(single);
            ++i;
            continue;
        }
        const unsigned short* row = page.rows[b];
        if (!row) {
            o.put(kQuestion);
            ++i;
            continue;
        }
        if (!in.has(i + 1)) return o.w;  // the lead is the last counted byte
        const u8 t = in.s[i + 1];
        if (t < kDbcsFirstTrail) {
            o.put(kQuestion);
            ++i;
            continue;
        }
        o.put(row[t - kDbcsFirstTrail]);
        i += 2;
    }
    return o.w;
}

long long dbcsRequire(int cp, const char* text, long long n) {
    sDbcsPage page;
    if (!text || n == 0 || !dbcsPage(cp, page)) return 0;
    long long units = decodeDbcs<false>(page, input(text, n), nullptr, kUnbounded);
    return n < 0 ? units + 1 : units;
}

// ---------------------------------------------------------------------------
// ISO-2022-JP.

enum class eJpSet { Ascii, Roman, Katakana, Jisx0208, Jisx0212 };

// The length of the escape sequence at s[i] and the set it selects; 0 when it
// is none of ours or cut by the end of a counted input.
int jpEscape(const sInput& in, long long i, eJpSet& set) {
    int a = in.at(i + 1);
    if (a == '(') {
        switch (in.at(i + 2)) {
        case 'B': set = eJpSet::Ascii; return 3;
        case 'J': set = eJpSet::Roman; return 3;
        case 'I': set = eJpSet::Katakana; return 3;
        default: return 0;
        }
    }
    if (a == '$') {
        int c = in.at(i + 2);
        if (c == '@' || c == 'B') {
            set = eJpSet::Jisx0208;
            return 3;
        }
        if (c == '(' && in.at(i + 3) == 'D') {
            set = eJpSet::Jisx0212;
            return 4;
        }
    }
    return 0;
}

template <bool Write>
long long decodeIso2022Jp(sInput in, u16* out, long long cap) {
    cOutput<Write> o{out, cap};
    eJpSet set = eJpSet::Ascii;
    long long i = 0;
    while (in.has(i) && !o.full()) {
        const u8 b = in.s[i];
        if (b == 0x1B) {
            int len = jpEscape(in, i, set);
            // An escape sequence must be followed by something to decode.
            if (len == 0 || !in.has(i + len)) return o.w;
            i += len;
            continue;
        }
        if (b == 0) {  // the terminator: written and counted
            o.put(0);
            return o.w;
        }
        if (b >= 0x80) return o.w;
        switch (set) {
        case eJpSet::Ascii:
            o.put(b);
            ++i;
            break;
        case eJpSet::Roman:
            o.put(b == 0x5C ? 0x00A5 : b == 0x7E ? 0x203E : b);
            ++i;
            break;
        case eJpSet::Katakana:
            if (b < 0x21 || b > 0x5F) return o.w;
            o.put(static_cast<u16>(b + 0xFF40));
            ++i;
            break;
        case eJpSet::Jisx0208:
        case eJpSet::Jisx0212: {
            if (!in.has(i + 1)) return o.w;
            const u8 c = in.s[i + 1];
            u16 u = set == eJpSet::Jisx0208 ? jisx0208_mbtowc(b, c) : jisx0212_mbtowc(b, c);
            if (u == 0) return o.w;
            o.put(u);
            i += 2;
            break;
        }
        }
    }
    return o.w;
}

// ---------------------------------------------------------------------------
// ISO-2022-CN.

enum class eCnSet { None, Gb2312, Cns1 };

template <bool Write>
long long decodeIso2022Cn(sInput in, u16* out, long long cap) {
    constexpr u8 kShiftOut = 0x0E, kShiftIn = 0x0F;
    cOutput<Write> o{out, cap};
    eCnSet g1 = eCnSet::None;
    bool g2Cns2 = false;
    bool shifted = false;
    long long i = 0;
    while (in.has(i) && !o.full()) {
        const u8 b = in.s[i];
        if (b == 0) {
            o.put(0);
            return o.w;
        }
        if (b == 0x1B) {
            int a = in.at(i + 1);
            if (a == '$') {
                int c = in.at(i + 2), d = c > 0 ? in.at(i + 3) : -1;
                if (c == ')' && d == 'A') g1 = eCnSet::Gb2312;
                else if (c == ')' && d == 'G') g1 = eCnSet::Cns1;
                else if (c == '*' && d == 'H') g2Cns2 = true;
                else return o.w;
                i += 4;
                continue;
            }
            if (a == 'N') {  // single shift: one character of CNS 11643 plane 2
                if (!g2Cns2) return o.w;
                int c1 = in.at(i + 2), c2 = c1 > 0 ? in.at(i + 3) : -1;
                if (c1 < 0 || c2 < 0) return o.w;
                u16 u = cns11643_2_mbtowc(static_cast<u8>(c1), static_cast<u8>(c2));
                if (u == 0) return o.w;
                o.put(u);
                i += 4;
                continue;
            }
            return o.w;
        }
        if (b == kShiftOut) {
            if (g1 == eCnSet::None) return o.w;
            shifted = true;
            ++i;
            continue;
        }
        if (b == kShiftIn) {
            shifted = false;
            ++i;
            continue;
        }
        if (b >= 0x80) return o.w;
        if (!shifted) {
            o.put(b);
            ++i;
            continue;
        }
        int c = in.at(i + 1);
        if (c < 0) return o.w;
        u16 u = g1 == eCnSet::Gb2312 ? gb2312_mbtowc(b, static_cast<u8>(c)) : cns11643_1_mbtowc(b, static_cast<u8>(c));
        if (u == 0) return o.w;
        o.put(u);
        i += 2;
    }
    return o.w;
}

// ---------------------------------------------------------------------------
// EUC-JP and EUC-CN.

bool inA1FE(int c) { return c >= 0xA1 && c <= 0xFE; }

template <bool Write>
long long decodeEucJp(sInput in, u16* out, long long cap) {
    cOutput<Write> o{out, cap};
    long long i = 0;
    while (in.has(i) && !o.full()) {
        const u8 b = in.s[i];
        if (b == 0) {
            o.put(0);
            return o.w;
        }
        if (b < 0x80) {
            o.put(b);
            ++i;
            continue;
        }
        if (inA1FE(b)) {
            int c = in.at(i + 1);
            if (!inA1FE(c)) return o.w;
            u16 u = b <= 0xF4 ? jisx0208_mbtowc(b - 0x80, static_cast<u8>(c - 0x80))
                              : static_cast<u16>(0xE000 + (b - 0xF5) * 94 + (c - 0xA1));
            if (u == 0) return o.w;
            o.put(u);
            i += 2;
            continue;
        }
        if (b == 0x8E) {  // half-width katakana
            int c = in.at(i + 1);
            if (c < 0xA1 || c > 0xDF) return o.w;
            o.put(static_cast<u16>(c + 0xFEC0));
            i += 2;
            continue;
        }
        if (b == 0x8F) {  // JIS X 0212
            int c1 = in.at(i + 1);
            if (!inA1FE(c1)) return o.w;
            int c2 = in.at(i + 2);
            if (!inA1FE(c2)) return o.w;
            u16 u = c1 <= 0xF4 ? jisx0212_mbtowc(static_cast<u8>(c1 - 0x80), static_cast<u8>(c2 - 0x80))
                               : static_cast<u16>(0xE3AC + (c1 - 0xF5) * 94 + (c2 - 0xA1));
            if (u == 0) return o.w;
            o.put(u);
            i += 3;
            continue;
        }
        return o.w;
    }
    return o.w;
}

template <bool Write>
long long decodeEucCn(sInput in, u16* out, long long cap) {
    cOutput<Write> o{out, cap};
    long long i = 0;
    while (in.has(i) && !o.full()) {
        const u8 b = in.s[i];
        if (b == 0) {
            o.put(0);
            return o.w;
        }
        if (b < 0x80) {
            o.put(b);
            ++i;
            continue;
        }
        if (!inA1FE(b)) return o.w;
        const int c = in.at(i + 1);
        if (!inA1FE(c)) return o.w;
        u16 u = gb2312_mbtowc(b - 0x80, static_cast<u8>(c - 0x80));
        if (u == 0) return o.w;
        o.put(u);
        i += 2;
    }
    return o.w;
}

bool usable(const char* text, long long n) { return text && n != 0; }
bool usable(const char* text, long long n, const u16* out, long long cap) {
    return text && out && n != 0 && cap > 0;
}

}  // namespace

// ===========================================================================

unsigned short jisx0208_mbtowc(unsigned char c1, unsigned char c2) { return lookup94(__cjk94_jisx0208, c1, c2); }
unsigned short jisx0212_mbtowc(unsigned char c1, unsigned char c2) { return lookup94(__cjk94_jisx0212, c1, c2); }
unsigned short gb2312_mbtowc(unsigned char c1, unsigned char c2) { return lookup94(__cjk94_gb2312, c1, c2); }
unsigned short cns11643_1_mbtowc(unsigned char c1, unsigned char c2) {
    return lookup94(__cjk94_cns11643_1, c1, c2);
}
unsigned short cns11643_2_mbtowc(unsigned char c1, unsigned char c2) {
    return lookup94(__cjk94_cns11643_2, c1, c2);
}

long long intrnl_JIS_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp) {
    sDbcsPage page;
    if (!usable(text, n, out, cap) || !dbcsPage(cp, page)) return 0;
    return decodeDbcs<true>(page, input(text, n), out, cap);
}

long long intrnl_JIS_a2w_require(const char* text, long long n, int cp) { return dbcsRequire(cp, text, n); }

long long JIS932_require(const char* text, long long n) { return dbcsRequire(932, text, n); }

// Enough for whichever of the three pages the text is in: their lead bytes
// differ slightly (0x80 is a character in 936; 949 has no row 0xC9; 950 none
// below 0xA1), so the largest of the three counts.
long long JIS936_949_950_require(const char* text, long long n) {
    long long a = dbcsRequire(936, text, n), b = dbcsRequire(949, text, n), c = dbcsRequire(950, text, n);
    long long m = a > b ? a : b;
    return m > c ? m : c;
}

long long iso2022_a2w_jp(unsigned short* out, long long cap, const char* text, long long n) {
    return usable(text, n, out, cap) ? decodeIso2022Jp<true>(input(text, n), out, cap) : 0;
}
long long iso2022_a2w_jp_req(const char* text, long long n) {
    return usable(text, n) ? decodeIso2022Jp<false>(input(text, n), nullptr, kUnbounded) : 0;
}
long long iso2022_a2w_cn(unsigned short* out, long long cap, const char* text, long long n) {
    return usable(text, n, out, cap) ? decodeIso2022Cn<true>(input(text, n), out, cap) : 0;
}
long long iso2022_a2w_cn_req(const char* text, long long n) {
    return usable(text, n) ? decodeIso2022Cn<false>(input(text, n), nullptr, kUnbounded) : 0;
}
long long EUC_a2w_jp(unsigned short* out, long long cap, const char* text, long long n) {
    return usable(text, n, out, cap) ? decodeEucJp<true>(input(text, n), out, cap) : 0;
}
long long EUC_a2w_jp_req(const char* text, long long n) {
    return usable(text, n) ? decodeEucJp<false>(input(text, n), nullptr, kUnbounded) : 0;
}
long long EUC_a2w_cn(unsigned short* out, long long cap, const char* text, long long n) {
    return usable(text, n, out, cap) ? decodeEucCn<true>(input(text, n), out, cap) : 0;
}
long long EUC_a2w_cn_req(const char* text, long long n) {
    return usable(text, n) ? decodeEucCn<false>(input(text, n), nullptr, kUnbounded) : 0;
}

long long intrnl_2022_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp) {
    switch (cp) {
    case 50221: return iso2022_a2w_jp(out, cap, text, n);
    case 50227: return iso2022_a2w_cn(out, cap, text, n);
    case 51932: return EUC_a2w_jp(out, cap, text, n);
    case 51936: return EUC_a2w_cn(out, cap, text, n);
    default: return 0;
    }
}

long long intrnl_2022_a2w_require(const char* text, long long n, int cp) {
    switch (cp) {
    case 50221: return iso2022_a2w_jp_req(text, n);
    case 50227: return iso2022_a2w_cn_req(text, n);
    case 51932: return EUC_a2w_jp_req(text, n);
    case 51936: return EUC_a2w_cn_req(text, n);
    default: return 0;
    }
}
