// Text encodings: the code-page registry, the conversion dispatch, UTF-8,
// the single-byte pages, the platform-text helpers and precomposition.
#include "base/textenc.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/dbcs.h"

namespace {

using u8 = unsigned char;
using u16 = unsigned short;

constexpr long long kUnbounded = LLONG_MAX;
constexpr int kUtf8 = 65001;

int normalisedCP(int cp) { return cp == 0 ? kUtf8 : cp; }

long long byteLength(const char* s) { return static_cast<long long>(std::strlen(s)); }

long long unitLength(const u16* s) { return static_cast<long long>(_guardchar<u16>::length(s)); }

}  // namespace

// ===========================================================================
// Registry.

const sTextEncoding __text_encodings[__text_encodings_count] = {
    {65001, "UTF-8 Unicode"},
    {1250, "ANSI - Central European / CP-1250"},
    {1251, "ANSI - Cyrillic / CP-1251"},
    {1252, "ANSI - Latin I / CP-1252"},
    {1254, "ANSI - Turkish / CP-1254"},
    {1255, "ANSI - Hebrew / CP-1255"},
    {850, "OEM - Multilingual Latin I / cp850"},
    {858, "OEM - Multilingual Latin I / cp858"},
    {852, "OEM - Latin II / cp852"},
    {866, "OEM - Russian / cp866"},
    {855, "OEM - Cyrillic / cp855"},
    {437, "OEM - United States"},
    {862, "OEM - Hebrew / cp862"},
    {737, "OEM - Greek / 437G"},
    {857, "OEM - Turkish / cp857"},
    {20866, "Russian - KOI8-R"},
    {21866, "Ukrainian - KOI8-U"},
    {28591, "ISO 8859-1 Latin I"},
    {28592, "ISO 8859-2 Central Europe"},
    {28593, "ISO 8859-3 Latin 3"},
    {28595, "ISO 8859-5 Cyrillic"},
    {28596, "ISO 8859-6 Arabic"},
    {28597, "ISO 8859-7 Greek"},
    {28598, "ISO 8859-8 Hebrew"},
    {28599, "ISO 8859-9 Latin 5"},
    {28605, "ISO 8859-15 Latin 9"},
    {10007, "MAC - Cyrillic"},
    {10029, "MAC - Latin II"},
    {37, "IBM EBCDIC - U.S./Canada (037)"},
    {500, "IBM EBCDIC - International (500)"},
    {870, "Multilingual/ROECE (Latin-2) (870)"},
    {932, "ANSI/OEM - Japanese, Shift-JIS "},
    {936, "ANSI/OEM - Simplified Chinese (PRC, Singapore) "},
    {949, "ANSI/OEM - Korean (Unified Hangeul Code) "},
    {950, "ANSI/OEM - Traditional Chinese (Taiwan; Hong Kong SAR, PRC)  "},
    {50221, "ISO 2022 - Japanese"},
    {50227, "ISO 2022 - Chinese"},
    {51932, "EUC - Japanese"},
    {51936, "EUC - Chinese"},
};

namespace {

struct sSimplePage {
    int cp;
    const unsigned short* table;
};

// The thirty single-byte pages; the index is also the slot of the page's
// reverse map.
const sSimplePage kSimplePages[] = {
    {37, __symtab_37},       {437, __symtab_437},     {500, __symtab_500},     {737, __symtab_737},
    {850, __symtab_850},     {852, __symtab_852},     {855, __symtab_855},     {857, __symtab_857},
    {858, __symtab_858},     {862, __symtab_862},     {866, __symtab_866},     {870, __symtab_870},
    {1250, __symtab_1250},   {1251, __symtab_1251},   {1252, __symtab_1252},   {1254, __symtab_1254},
    {1255, __symtab_1255},   {10007, __symtab_10007}, {10029, __symtab_10029}, {20866, __symtab_20866},
    {21866, __symtab_21866}, {28591, __symtab_dft},   {28592, __symtab_28592}, {28593, __symtab_28593},
    {28595, __symtab_28595}, {28596, __symtab_28596}, {28597, __symtab_28597}, {28598, __symtab_28598},
    {28599, __symtab_28599}, {28605, __symtab_28605},
};
constexpr int kSimplePageCount = static_cast<int>(sizeof(kSimplePages) / sizeof(kSimplePages[0]));
static_assert(kSimplePageCount == 30, "thirty single-byte pages");

// The slot of a single-byte page, or kSimplePageCount for "no table of its
// own" (the identity table).
int simpleSlot(int cp) {
    for (int k = 0; k < kSimplePageCount; ++k)
        if (kSimplePages[k].cp == cp) return k;
    return kSimplePageCount;
}

}  // namespace

int __sysDefaultCP() { return kUtf8; }

const char* __text_encoding_name(int cp) {
    for (const auto& e : __text_encodings)
        if (e.cp == cp) return e.name;
    return "Unknown";
}

bool isSimpleCP(int cp) { return cp == 0 || simpleSlot(cp) < kSimplePageCount; }

bool isJIS(int cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

bool isISO2022(int cp) { return cp == 50221 || cp == 50227 || cp == 51932 || cp == 51936; }

const unsigned short* intrnl_ACP_symtab(int cp) {
    int slot = simpleSlot(cp);
    return slot < kSimplePageCount ? kSimplePages[slot].table : __symtab_dft;
}

// ===========================================================================
// UTF-8.
//
// Decoding accepts exactly the well-formed sequences of RFC 3629 plus the
// three-byte forms of surrogates (ED A0-BF xx): text written by the earlier
// encoder, which wrote each unit of a surrogate pair on its own, still decodes
// into the same pair.  Every other byte that does not start a well-formed
// sequence - a stray continuation byte, C0/C1, an overlong E0 80-9F or F0
// 80-8F form, a code point above U+10FFFF, 0xF5-0xFF, a lead without its
// continuation bytes - becomes the unit of the same value and only that byte
// is consumed.  An overlong form therefore never turns into ASCII ('/' from
// C0 AF, NUL from C0 80).
//
// Both directions stop before a character that does not fit in what is left
// of the output, so a full buffer never ends in half a sequence or half a
// surrogate pair.

namespace {

bool isContinuation(unsigned b) { return (b & 0xC0) == 0x80; }

enum class Seq {
    Unit,     // a character: cp, len bytes
    Invalid,  // the first byte stands alone as the unit of its own value
    Broken,   // a lead byte whose next byte is no continuation byte at all
    Cut,      // a well-formed start cut by the end of a counted input
};

struct Decoded {
    Seq kind;
    unsigned cp;
    int len;
};

// Looks at the sequence at s[i] of an input of len bytes.  When endIsFinal the
// end of the input is the end of the text: it ends a sequence like any other
// non-continuation byte instead of cutting it.
inline Decoded decodeAt(const u8* s, long long i, long long len, bool endIsFinal) {
    unsigned b = s[i];
    if (b < 0x80) return {Seq::Unit, b, 1};
    int need;
    unsigned lo = 0x80, hi = 0xBF, cp;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // below: overlong
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;       // below: overlong
        else if (b == 0xF4) hi = 0x8F;  // above: beyond U+10FFFF
    } else {
        return {Seq::Invalid, b, 1};
    }
    for (int k = 1; k <= need; ++k) {
        if (i + k >= len) {
            if (endIsFinal) return {k == 1 ? Seq::Broken : Seq::Invalid, b, 1};
            return {Seq::Cut, b, 1};
        }
        unsigned c = s[i + k];
        if (!isContinuation(c)) return {k == 1 ? Seq::Broken : Seq::Invalid, b, 1};
        if (k == 1 && (c < lo || c > hi)) return {Seq::Invalid, b, 1};
        cp = (cp << 6) | (c & 0x3F);
    }
    return {Seq::Unit, cp, need + 1};
}

inline bool asciiOnly16(const u8* p) {
    std::uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    return ((a | b) & 0x8080808080808080ULL) == 0;
}

struct sUtf8Input {
    const u8* s;
    long long len;
    bool terminated;  // n = -1: a terminator is written when the end is reached
    bool endIsFinal;  // the end of the input ends the text (never cuts a sequence)
};

sUtf8Input utf8Input(const char* text, long long n, bool whole) {
    const u8* s = reinterpret_cast<const u8*>(text);
    if (n < 0) return {s, byteLength(text), true, true};
    return {s, n, false, whole};
}

// The one UTF-8 decoder.  Write: out receives the units (else they are only
// counted).  Offsets: one entry per byte consumed.  stopAtBroken: a lead byte
// whose continuation bytes are missing ends the decoding (utf82w).
template <bool Write, bool Offsets>
long long decodeUtf8(const sUtf8Input& in, u16* out, long long cap, int* offsets, bool stopAtBroken) {
    const u8* s = in.s;
    const long long len = in.len;
    long long i = 0, w = 0;
    if (!Offsets) {
        // The bulk of the text, while four bytes of input and sixteen units of
        // output are left: every byte a sequence may need can be read without
        // looking at the end, and any one character fits.
        while (i + 4 <= len && cap - w >= 16) {
            if (i + 16 <= len && asciiOnly16(s + i)) {
                if (Write)
                    for (int k = 0; k < 16; ++k) out[w + k] = s[i + k];
                i += 16;
                w += 16;
                continue;
            }
            const unsigned b = s[i];
            if (b < 0x80) {
                if (Write) out[w] = static_cast<u16>(b);
                ++i;
                ++w;
                continue;
            }
            const unsigned c1 = s[i + 1];
            if (b >= 0xC2 && b <= 0xDF && isContinuation(c1)) {
                if (Write) out[w] = static_cast<u16>((b & 0x1F) << 6 | (c1 & 0x3F));
                i += 2;
                ++w;
                continue;
            }
            const unsigned c2 = s[i + 2];
            if ((b & 0xF0) == 0xE0 && isContinuation(c1) && isContinuation(c2) && (b != 0xE0 || c1 >= 0xA0)) {
                if (Write) out[w] = static_cast<u16>((b & 0x0F) << 12 | (c1 & 0x3F) << 6 | (c2 & 0x3F));
                i += 3;
                ++w;
                continue;
            }
            Decoded d = decodeAt(s, i, len, in.endIsFinal);  // four-byte forms and malformed bytes
            if (d.kind == Seq::Cut || (d.kind == Seq::Broken && stopAtBroken)) return w;
            unsigned cp = d.kind == Seq::Unit ? d.cp : b;
            if (Write) {
                if (cp >= 0x10000) {
                    out[w] = static_cast<u16>(0xD800 | ((cp - 0x10000) >> 10));
                    out[w + 1] = static_cast<u16>(0xDC00 | (cp & 0x3FF));
                } else {
                    out[w] = static_cast<u16>(cp);
                }
            }
            w += cp >= 0x10000 ? 2 : 1;
            i += d.kind == Seq::Unit ? d.len : 1;
        }
    }
    // The rest, with every check.
    while (i < len && w < cap) {
        if (!Offsets) {
            // Runs of ASCII, sixteen bytes at a time.
            while (i + 16 <= len && cap - w >= 16 && asciiOnly16(s + i)) {
                if (Write)
                    for (int k = 0; k < 16; ++k) out[w + k] = s[i + k];
                i += 16;
                w += 16;
            }
            if (i >= len || w >= cap) break;
            if (s[i] < 0x80) {
                if (Write) out[w] = s[i];
                ++i;
                ++w;
                continue;
            }
        }
        Decoded d = decodeAt(s, i, len, in.endIsFinal);
        if (d.kind == Seq::Cut) return w;
        if (d.kind == Seq::Broken && stopAtBroken) return w;
        if (d.kind != Seq::Unit) d.cp = s[i];
        const int units = d.cp >= 0x10000 ? 2 : 1;
        if (cap - w < units) return w;  // no room for the whole pair
        if (Write) {
            if (units == 2) {
                unsigned v = d.cp - 0x10000;
                out[w] = static_cast<u16>(0xD800 | (v >> 10));
                out[w + 1] = static_cast<u16>(0xDC00 | (v & 0x3FF));
            } else {
                out[w] = static_cast<u16>(d.cp);
            }
        }
        if (Offsets)
            for (int k = 0; k < d.len; ++k) offsets[i + k] = static_cast<int>(w);
        w += units;
        i += d.len;
    }
    if (in.terminated && i >= len && w < cap) {
        if (Write) out[w] = 0;
        if (Offsets) offsets[len] = static_cast<int>(w);
    }
    return w;
}

long long utf8Units(const sUtf8Input& in) {
    long long units = decodeUtf8<false, false>(in, nullptr, kUnbounded, nullptr, false);
    return in.terminated ? units + 1 : units;
}

inline bool isHighSurrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

inline bool asciiOnly8Units(const u16* p) {
    std::uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 4, 8);
    return ((a | b) & 0xFF80FF80FF80FF80ULL) == 0;
}

// The one UTF-8 encoder.  A surrogate pair becomes one four-byte sequence; a
// surrogate without its partner is written on its own in three bytes, which
// the decoder reads back into the same unit.
template <bool Write, bool Counts>
long long encodeUtf8(const u16* text, long long n, char* out, long long cap, int* counts) {
    const bool terminated = n < 0;
    const long long len = terminated ? unitLength(text) : n;
    u8* o = reinterpret_cast<u8*>(out);
    long long i = 0, w = 0;
    if (!Counts) {
        // The bulk: while two units of input and eight bytes of output are
        // left, a character and its partner unit can be read and written
        // without further checks.
        while (i + 2 <= len && cap - w >= 8) {
            if (i + 8 <= len && asciiOnly8Units(text + i)) {
                if (Write)
                    for (int k = 0; k < 8; ++k) o[w + k] = static_cast<u8>(text[i + k]);
                i += 8;
                w += 8;
                continue;
            }
            unsigned u = text[i];
            if (u < 0x80) {
                if (Write) o[w] = static_cast<u8>(u);
                ++i;
                ++w;
            } else if (u < 0x800) {
                if (Write) {
                    o[w] = static_cast<u8>(0xC0 | (u >> 6));
                    o[w + 1] = static_cast<u8>(0x80 | (u & 0x3F));
                }
                ++i;
                w += 2;
            } else if (isHighSurrogate(u) && isLowSurrogate(text[i + 1])) {
                unsigned cp = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                if (Write) {
                    o[w] = static_cast<u8>(0xF0 | (cp >> 18));
                    o[w + 1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
                    o[w + 2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
                    o[w + 3] = static_cast<u8>(0x80 | (cp & 0x3F));
                }
                i += 2;
                w += 4;
            } else {
                if (Write) {
                    o[w] = static_cast<u8>(0xE0 | (u >> 12));
                    o[w + 1] = static_cast<u8>(0x80 | ((u >> 6) & 0x3F));
                    o[w + 2] = static_cast<u8>(0x80 | (u & 0x3F));
                }
                ++i;
                w += 3;
            }
        }
    }
    // The rest, with every check.
    while (i < len && w < cap) {
        if (!Counts) {
            while (i + 8 <= len && cap - w >= 8 && asciiOnly8Units(text + i)) {
                if (Write)
                    for (int k = 0; k < 8; ++k) o[w + k] = static_cast<u8>(text[i + k]);
                i += 8;
                w += 8;
            }
            if (i >= len || w >= cap) break;
        }
        unsigned cp = text[i];
        int used = 1;
        if (isHighSurrogate(cp) && i + 1 < len && isLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            used = 2;
        }
        const int bytes = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        if (cap - w < bytes) return w;  // never half a sequence
        if (Write) {
            switch (bytes) {
            case 1:
                o[w] = static_cast<u8>(cp);
                break;
            case 2:
                o[w] = static_cast<u8>(0xC0 | (cp >> 6));
                o[w + 1] = static_cast<u8>(0x80 | (cp & 0x3F));
                break;
            case 3:
                o[w] = static_cast<u8>(0xE0 | (cp >> 12));
                o[w + 1] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
                o[w + 2] = static_cast<u8>(0x80 | (cp & 0x3F));
                break;
            default:
                o[w] = static_cast<u8>(0xF0 | (cp >> 18));
                o[w + 1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
                o[w + 2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
                o[w + 3] = static_cast<u8>(0x80 | (cp & 0x3F));
                break;
            }
        }
        w += bytes;
        if (Counts) {
            counts[i] = static_cast<int>(w);
            if (used == 2) counts[i + 1] = static_cast<int>(w);
        }
        i += used;
    }
    if (Write && terminated && i >= len && w < cap) o[w] = 0;
    return w;
}

// The whole UTF-8 text of n bytes (n = -1: up to its zero) decoded into a
// terminated owned buffer; a sequence cut by the end of the n bytes is
// decoded byte by byte instead of dropped.  Returns the units.
long long utf8ToOwned(const char* text, long long n, _guardchar<u16>& out) {
    if (n < 0) n = byteLength(text);
    sUtf8Input in = utf8Input(text, n, true);
    long long units = utf8Units(in);
    out.set(units + 1);
    decodeUtf8<true, false>(in, out.get(), units, nullptr, false);
    out.get()[units] = 0;
    return units;
}

}  // namespace

long long intrnl_UTF8_a2w(unsigned short* out, long long cap, const char* text, long long n) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    return decodeUtf8<true, false>(utf8Input(text, n, false), out, cap, nullptr, false);
}

long long intrnl_UTF8_a2w_require(const char* text, long long n) {
    if (!text || n == 0) return 0;
    return utf8Units(utf8Input(text, n, false));
}

long long intrnl_UTF8_w2a(const unsigned short* text, long long n, char* out, long long cap) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    return encodeUtf8<true, false>(text, n, out, cap, nullptr);
}

long long intrnl_UTF8_w2a_require(const unsigned short* text, long long n) {
    if (!text || n == 0) return 0;
    long long bytes = encodeUtf8<false, false>(text, n, nullptr, kUnbounded, nullptr);
    return n < 0 ? bytes + 1 : bytes;
}

long long utf82w(const char* text, long long n, unsigned short* out, long long cap, int* offsets) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    sUtf8Input in = utf8Input(text, n, false);
    if (offsets) return decodeUtf8<true, true>(in, out, cap, offsets, true);
    return decodeUtf8<true, false>(in, out, cap, nullptr, true);
}

long long w2utf8(const unsigned short* text, long long n, char* out, long long cap, int* counts) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    if (counts) return encodeUtf8<true, true>(text, n, out, cap, counts);
    return encodeUtf8<true, false>(text, n, out, cap, nullptr);
}

// ===========================================================================
// Single-byte pages.

namespace {

// The reverse map of a single-byte page: unit -> byte in two levels (a block
// of 256 bytes per high byte of the unit that the page uses at all; block 0
// is all zero and serves every other high byte).  0 means "not in the page".
struct cReverseMap {
    std::array<u8, 256> blockOf{};
    std::vector<std::array<u8, 256>> blocks;

    explicit cReverseMap(const u16* table) {
        blocks.emplace_back();
        blocks[0].fill(0);
        // Ascending and first come, first kept: when several bytes decode to
        // the same unit, the lowest one encodes it, so '?' stays 0x3F in the
        // pages whose undefined bytes decode to '?'.
        for (int b = 1; b < 256; ++b) {
            u16 u = table[b];
            u8& block = blockOf[u >> 8];
            if (block == 0) {
                blocks.emplace_back();
                blocks.back().fill(0);
                block = static_cast<u8>(blocks.size() - 1);
            }
            u8& slot = blocks[block][u & 0xFF];
            if (slot == 0) slot = static_cast<u8>(b);
        }
    }

    u8 find(u16 u) const { return blocks[blockOf[u >> 8]][u & 0xFF]; }
};

// Built on the first encoding into the page and kept for the life of the
// process; call_once makes a first use from two threads at once build it
// exactly once.  The maps are never freed, so a destructor of another static
// object that still encodes text at exit finds them intact.
const cReverseMap& reverseMap(int slot) {
    struct sEntry {
        std::once_flag once;
        const cReverseMap* map = nullptr;
    };
    static sEntry entries[kSimplePageCount + 1];
    sEntry& e = entries[slot];
    std::call_once(e.once, [&] { e.map = new cReverseMap(slot < kSimplePageCount ? kSimplePages[slot].table : __symtab_dft); });
    return *e.map;
}

// What a unit that the page cannot represent becomes: the page's own '?'
// (0x3F in the ASCII-based pages, 0x6F in EBCDIC).
u8 questionMark(const cReverseMap& map) {
    u8 q = map.find(u'?');
    return q ? q : static_cast<u8>('?');
}

}  // namespace

long long intrnl_ACP_a2w(unsigned short* out, long long cap, const char* text, long long n, int cp) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    const u16* table = intrnl_ACP_symtab(cp);
    const u8* s = reinterpret_cast<const u8*>(text);
    // One unit per byte: the output fills exactly when min(n, cap) bytes are done.
    const long long limit = n < 0 ? cap : (n < cap ? n : cap);
    long long i = 0;
    for (; i < limit; ++i) {
        u8 b = s[i];
        if (b == 0) {  // a zero byte always ends the text
            out[i] = 0;
            return i;
        }
        out[i] = table[b];
    }
    return i;
}

long long intrnl_ACP_w2a(const unsigned short* text, long long n, char* out, long long cap, int cp) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    const cReverseMap& map = reverseMap(simpleSlot(cp));
    const char q = static_cast<char>(questionMark(map));
    const long long limit = n < 0 ? cap : (n < cap ? n : cap);
    long long i = 0;
    for (; i < limit; ++i) {
        u16 u = text[i];
        if (u == 0) {
            out[i] = 0;
            return i;
        }
        u8 b = map.find(u);
        out[i] = b ? static_cast<char>(b) : q;
    }
    return i;
}

unsigned short __a2w(char c, int cp) { return intrnl_ACP_symtab(cp)[static_cast<u8>(c)]; }

char __w2a(unsigned short c, int cp) { return static_cast<char>(reverseMap(simpleSlot(cp)).find(c)); }

// ===========================================================================
// Dispatch.

long long __a2w_require(const char* text, long long n, int cp) {
    if (!text || n == 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return intrnl_UTF8_a2w_require(text, n);
    if (isSimpleCP(cp)) return n < 0 ? byteLength(text) + 1 : n;
    if (isJIS(cp)) return intrnl_JIS_a2w_require(text, n, cp);
    if (isISO2022(cp)) return intrnl_2022_a2w_require(text, n, cp);
    return 0;
}

long long __a2w(const char* text, long long n, unsigned short* out, long long cap, int cp) {
    if (!out) return __a2w_require(text, n, cp);
    if (!text || n == 0 || cap <= 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return intrnl_UTF8_a2w(out, cap, text, n);
    if (isSimpleCP(cp)) return intrnl_ACP_a2w(out, cap, text, n, cp);
    if (isJIS(cp)) return intrnl_JIS_a2w(out, cap, text, n, cp);
    if (isISO2022(cp)) return intrnl_2022_a2w(out, cap, text, n, cp);
    return 0;
}

long long __w2a_require(const unsigned short* text, long long n, int cp) {
    if (!text || n == 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return intrnl_UTF8_w2a_require(text, n);
    if (isSimpleCP(cp)) return n < 0 ? unitLength(text) + 1 : n;
    return 0;
}

long long __w2a(const unsigned short* text, long long n, char* out, long long cap, int cp) {
    if (!out) return __w2a_require(text, n, cp);
    if (!text || n == 0 || cap <= 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return intrnl_UTF8_w2a(text, n, out, cap);
    if (isSimpleCP(cp)) return intrnl_ACP_w2a(text, n, out, cap, cp);
    return 0;
}

long long __a2w(const char* text, long long n, _guardchar<unsigned short>& out, int cp) {
    if (!text) {
        out.clear();
        return 0;
    }
    if (n < 0) n = byteLength(text);
    if (normalisedCP(cp) == kUtf8) return utf8ToOwned(text, n, out);
    long long need = __a2w_require(text, n, cp);
    out.set(need + 1);
    long long units = __a2w(text, n, out.get(), need, cp);
    out.get()[units] = 0;
    return units;
}

long long __w2a(const unsigned short* text, long long n, _guardchar<char>& out, int cp) {
    if (!text) {
        out.clear();
        return 0;
    }
    if (n < 0) n = unitLength(text);
    long long need = __w2a_require(text, n, cp);
    out.set(need + 1);
    long long bytes = __w2a(text, n, out.get(), need, cp);
    out.get()[bytes] = 0;
    return bytes;
}

// ===========================================================================
// Platform text.

void _a2pc(_typebuf<char>& in, _typebuf<char>& out) { out.copyFrom(in.data(), in.count()); }

void _pc2a(_typebuf<char>& in, _typebuf<char>& out) { out.copyFrom(in.data(), in.count()); }

void _w2pc(_typebuf<unsigned short>& in, _typebuf<char>& out) {
    if (in.count() == 0) {
        out.set(0);
        return;
    }
    _w2pc(in.data(), in.count(), out);
}

void _pc2w(_typebuf<char>& in, _typebuf<unsigned short>& out) {
    if (in.count() == 0) {
        out.set(0);
        return;
    }
    _pc2w(in.data(), in.count(), out);
}

void _a2pc(const char* text, long long n, _typebuf<char>& out) {
    if (!text) return;
    if (n < 0) n = byteLength(text);
    out.copyFrom(text, n);
}

void _pc2a(const char* text, long long n, _typebuf<char>& out) { _a2pc(text, n, out); }

void _w2pc(const unsigned short* text, long long n, _typebuf<char>& out) {
    if (!text) return;
    if (n < 0) n = unitLength(text);
    long long need = intrnl_UTF8_w2a_require(text, n);
    if (need == 0) {
        out.set(0);
        return;
    }
    _typebuf<char> fresh(need);
    intrnl_UTF8_w2a(text, n, fresh.data(), need);
    out.swap(fresh);
}

void _pc2w(const char* text, long long n, _typebuf<unsigned short>& out) {
    if (!text) return;
    if (n < 0) n = byteLength(text);
    // The whole text: a sequence cut by the end is kept byte by byte.
    sUtf8Input in = utf8Input(text, n, true);
    long long need = utf8Units(in);
    if (need == 0) {
        out.set(0);
        return;
    }
    _typebuf<unsigned short> fresh(need);
    decodeUtf8<true, false>(in, fresh.data(), need, nullptr, false);
    out.swap(fresh);
}

int _w2pc(const unsigned short* text, long long n, _guardchar<char>& out) {
    __w2a(text, n, out, kUtf8);
    return 0;
}

int _pc2w(const char* text, long long n, _guardchar<unsigned short>& out) {
    __a2w(text, n, out, kUtf8);
    return 0;
}

int _a2pc(const char* text, long long n, _guardchar<char>& out) {
    if (!text) {
        out.clear();
        return 0;
    }
    if (n < 0) n = byteLength(text);
    out.set(text, n);
    return 0;
}

int _pc2a(const char* text, long long n, _guardchar<char>& out) { return _a2pc(text, n, out); }

int _enc2pc(const char* text, long long n, _guardchar<char>& out, int cp) {
    _guardchar<u16> wide;
    long long units = __a2w(text, n, wide, cp);
    if (!wide.get()) {
        out.clear();
        return 0;
    }
    __w2a(wide.get(), units, out, kUtf8);
    return 0;
}

long long _w2pc_require(const unsigned short* text, long long n) {
    return text ? intrnl_UTF8_w2a_require(text, n) : 0;
}

long long _pc2w_require(const char* text, long long n) { return text ? intrnl_UTF8_a2w_require(text, n) : 0; }

long long _w2pc(const unsigned short* text, long long n, char* out, long long cap) {
    if (!out || cap <= 0) return 0;
    if (!text) {
        out[0] = 0;
        return 0;
    }
    return intrnl_UTF8_w2a(text, n, out, cap);
}

long long _pc2w(const char* text, long long n, unsigned short* out, long long cap) {
    if (!out || cap <= 0) return 0;
    if (!text) {
        out[0] = 0;
        return 0;
    }
    return intrnl_UTF8_a2w(out, cap, text, n);
}

// Includes the terminator that _a2pc always writes, so a buffer of this size
// holds the whole text.
long long _a2pc_require(const char* text, long long n) {
    if (!text) return 0;
    return (n < 0 ? byteLength(text) : n) + 1;
}

long long _pc2a_require(const char* text, long long n) { return _a2pc_require(text, n); }

long long _a2pc(const char* text, long long n, char* out, long long cap) {
    if (!text || !out || cap < 1) return 0;
    long long len = n < 0 ? byteLength(text) : n;
    long long k = len < cap - 1 ? len : cap - 1;
    std::memmove(out, text, static_cast<std::size_t>(k));
    out[k] = 0;
    return k;
}

long long _pc2a(const char* text, long long n, char* out, long long cap) { return _a2pc(text, n, out, cap); }

namespace {

// The length of the longest prefix of the first k bytes of s that does not end
// inside a UTF-8 sequence continuing past k.
long long utf8Boundary(const u8* s, long long k, long long len) {
    if (k >= len || !isContinuation(s[k])) return k;
    long long j = k;
    while (j > 0 && k - j < 3 && isContinuation(s[j - 1])) --j;
    if (j == 0) return k;
    unsigned lead = s[j - 1];
    long long seqLen = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return (j - 1) + seqLen > k ? j - 1 : k;
}

// UTF-8 to UTF-8: bytes up to a zero byte (copied), n bytes or cap bytes,
// never ending inside a sequence.  Returns the bytes before any zero.
long long copyUtf8(const char* text, long long n, char* out, long long cap) {
    long long len = n < 0 ? byteLength(text) : n;
    const void* zero = std::memchr(text, 0, static_cast<std::size_t>(len));
    long long textLen = zero ? static_cast<const char*>(zero) - text : len;
    long long k = textLen;
    if (k > cap) k = utf8Boundary(reinterpret_cast<const u8*>(text), cap, textLen);
    std::memcpy(out, text, static_cast<std::size_t>(k));
    if ((zero || n < 0) && k == textLen && k < cap) out[k] = 0;
    return k;
}

long long utf8CopyRequire(const char* text, long long n) { return n < 0 ? byteLength(text) + 1 : n; }

}  // namespace

long long _pc2enc_require(const char* text, long long n, int cp) {
    if (!text || n == 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return utf8CopyRequire(text, n);
    _guardchar<u16> wide;
    long long units = utf8ToOwned(text, n, wide);
    return __w2a_require(wide.get(), n < 0 ? -1 : units, cp);
}

long long _pc2enc(const char* text, long long n, char* out, long long cap, int cp) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return copyUtf8(text, n, out, cap);
    _guardchar<u16> wide;
    long long units = utf8ToOwned(text, n, wide);
    if (units == 0 && n >= 0) return 0;
    return __w2a(wide.get(), n < 0 ? -1 : units, out, cap, cp);
}

long long _enc2pc_require(const char* text, long long n, int cp) {
    if (!text || n == 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return utf8CopyRequire(text, n);
    _guardchar<u16> wide;
    long long units = __a2w(text, n, wide, cp);
    return intrnl_UTF8_w2a_require(wide.get(), n < 0 ? -1 : units);
}

long long _enc2pc(const char* text, long long n, char* out, long long cap, int cp) {
    if (!text || !out || n == 0 || cap <= 0) return 0;
    cp = normalisedCP(cp);
    if (cp == kUtf8) return copyUtf8(text, n, out, cap);
    _guardchar<u16> wide;
    long long units = __a2w(text, n, wide, cp);
    if (units == 0 && n >= 0) return 0;
    return intrnl_UTF8_w2a(wide.get(), n < 0 ? -1 : units, out, cap);
}

// ===========================================================================
// Precomposition.

namespace {

// An open-addressing hash of the 989 rows, filled once.
class cPrecomposeIndex {
public:
    cPrecomposeIndex() {
        keys_.fill(0);
        values_.fill(0);
        for (int k = 0; k < __precompositions_count; ++k) {
            const sPrecomposition& row = precompositions[k];
            std::size_t slot = hash(row.key);
            while (keys_[slot] != 0) slot = (slot + 1) & kMask;
            keys_[slot] = row.key;
            values_[slot] = row.composed;
        }
    }

    u16 find(unsigned key) const {
        if (key == 0) return 0;
        for (std::size_t slot = hash(key);; slot = (slot + 1) & kMask) {
            if (keys_[slot] == key) return values_[slot];
            if (keys_[slot] == 0) return 0;
        }
    }

private:
    static constexpr std::size_t kSlots = 4096;  // load below a quarter
    static constexpr std::size_t kMask = kSlots - 1;
    static std::size_t hash(unsigned key) { return (key * 2654435761u) >> 20 & kMask; }

    std::array<unsigned, kSlots> keys_;
    std::array<u16, kSlots> values_;
};

std::once_flag gPrecomposeOnce;
const cPrecomposeIndex* gPrecompose = nullptr;

const cPrecomposeIndex& precomposeIndex() {
    checkInitPrecompose();
    return *gPrecompose;
}

inline u16 swapped(u16 u, bool swap) { return swap ? static_cast<u16>((u >> 8) | (u << 8)) : u; }

}  // namespace

void checkInitPrecompose() {
    std::call_once(gPrecomposeOnce, [] {
        static const cPrecomposeIndex index;
        gPrecompose = &index;
    });
}

long long _precompose_glyphs(const unsigned short* in, long long n, unsigned short* out, long long cap, bool swap) {
    if (!in || !out || n <= 0 || cap <= 0) return 0;
    const cPrecomposeIndex& index = precomposeIndex();
    long long i = 0, w = 0;
    // Reads in[i] and in[i + 1] before writing out[w] with w <= i, so in and
    // out may be the same buffer.
    while (i < n && w < cap) {
        u16 u = swapped(in[i], swap);
        if (i + 1 < n) {
            u16 mark = swapped(in[i + 1], swap);
            u16 composed = index.find(static_cast<unsigned>(u) << 16 | mark);
            if (composed) {
                out[w++] = composed;
                i += 2;
                continue;
            }
        }
        out[w++] = u < 0x20 ? u'.' : u;
        ++i;
    }
    return w;
}

void _precompose_glyphs(const unsigned short* in, long long n, _guardchar<char>& out, bool swap) {
    out.clear();
    if (!in || n <= 0) return;
    _typebuf<u16> folded(n + 1);
    long long units = _precompose_glyphs(in, n, folded.data(), n, swap);
    folded[units] = 0;
    __w2a(folded.data(), units, out, kUtf8);
}

void _precompose_glyphs(const char* text, long long n, _guardchar<char>& out) {
    if (!text || n == 0) return;
    _guardchar<u16> wide;
    long long units = utf8ToOwned(text, n, wide);
    if (units == 0) return;
    long long folded = _precompose_glyphs(wide.get(), units, wide.get(), units, false);
    __w2a(wide.get(), folded, out, kUtf8);
}

unsigned short _get_precomposed_glyph(const unsigned short* pair) {
    if (!pair || pair[0] == 0) return 0;
    return precomposeIndex().find(static_cast<unsigned>(pair[0]) << 16 | pair[1]);
}
