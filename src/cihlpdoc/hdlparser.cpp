#include "cihlpdoc/hdlparser.h"

#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "base/folders.h"
#include "base/memio.h"
#include "base/textenc.h"
#include "cihlpdoc/hdoclimits.h"
#include "cihlpdoc/sidoc.h"
#include "cihlpdoc/sidocloader.h"
#include "picts/pictbase.h"
#include "uitoolkit/canvas.h"
#include "uitoolkit/langids.h"

namespace {

typedef cSiDocLoader::eKnownTags eTag;

// The properties in force, copied into every nested section.
struct sCurrProps {
    int fontHeight = 13;
    int fontWidth = 5;
    int fontFace = 0;
    unsigned char italic = 0;
    unsigned char underline = 0;
    unsigned char bold = 0;
    int linkId = -1;
};

// The reading position.
struct sHDLParsePtr {
    const char* cur = nullptr;
    int line = 0;
    int column = 0;
    sHDLLangStreamCtx* stream = nullptr;
    sHDLConfig* config = nullptr;
    int depth = 0;
    // The record bytes of the document's other languages, and what their
    // boxes cost.
    std::size_t otherLangBytes = 0;
    std::size_t otherBoxBytes = 0;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Only regular files are read: opening a named pipe blocks until a writer
// comes, and a device can feed the compiler without end.
// False with the system's reason in errno (0: it is no regular file).
bool openRegular(cFileIO& f, const char* path) {
    errno = path ? 0 : ENOENT;
    const int type = path ? cFolderContents::objtype(path) : fsoNone;
    if (type != fsoFile) {
        if (type != fsoNone) errno = 0;
        return false;
    }
    if (f.open(path, fmRead)) return true;
    if (!errno) errno = EIO;
    return false;
}

bool fail(sHDLParsePtr& p, const char* message) {
    p.config->errLine = p.line;
    p.config->errColumn = p.column;
    p.config->errMessage.set(message);
    return false;
}

void advance(sHDLParsePtr& p, const char* to) {
    for (; p.cur < to; ++p.cur) {
        if (*p.cur == '\n') {
            ++p.line;
            p.column = 0;
        } else {
            ++p.column;
        }
    }
}

enum class eToken { none, word, tag, unterminated };

// The next word or tag; a tag runs from '<' to the first '>' and includes
// both.  An unterminated tag leaves the position on its '<'.
eToken getNextToken(sHDLParsePtr& p, std::string& token) {
    const char* s = p.cur;
    while (*s && isSpace(*s)) ++s;
    advance(p, s);
    if (!*s) return eToken::none;
    const char* e = s;
    if (*s == '<') {
        e = std::strchr(s, '>');
        if (!e) return eToken::unterminated;
        ++e;
        token.assign(s, static_cast<std::size_t>(e - s));
        advance(p, e);
        return eToken::tag;
    }
    while (*e && !isSpace(*e) && *e != '<') ++e;
    token.assign(s, static_cast<std::size_t>(e - s));
    advance(p, e);
    return eToken::word;
}

// Identifies the tag name at `name`; `after` receives where the name ends.
// text, link and img take attributes after one white-space character; the
// others must be followed directly by '>'.
const char* getTagID(const char* name, int& id, const char*& after) {
    static const struct {
        const char* name;
        int id;
        bool attrs;
    } kTags[] = {{"text", 1, true}, {"link", 2, true}, {"img", 3, true}, {"br", 4, false},
                 {"lt", 5, false},  {"b", 6, false},   {"i", 7, false}};
    for (const auto& t : kTags) {
        const std::size_t n = std::strlen(t.name);
        if (std::strncmp(name, t.name, n) != 0) continue;
        const char c = name[n];
        if (c == '>' || (t.attrs && isSpace(c))) {
            id = t.id;
            after = name + n;
            return c == '>' ? name + n : name + n + 1;
        }
    }
    return nullptr;
}

// Parses the attributes up to the tag's closing '>'.
bool extToProps(const char* s, std::map<std::string, std::string>& out) {
    for (;;) {
        while (isSpace(*s)) ++s;
        if (*s == '>' || !*s) return true;
        const char* n = s;
        while (*s && !isSpace(*s) && *s != '=' && *s != '>') ++s;
        std::string name(n, static_cast<std::size_t>(s - n));
        if (name.empty()) return false;
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        while (isSpace(*s)) ++s;
        if (*s != '=') return false;
        ++s;
        while (isSpace(*s)) ++s;
        std::string value;
        if (*s == '\'' || *s == '"') {
            const char q = *s++;
            const char* v = s;
            while (*s && *s != q && *s != '>') ++s;
            if (*s != q) return false;
            value.assign(v, static_cast<std::size_t>(s - v));
            ++s;
        } else {
            const char* v = s;
            while (*s && !isSpace(*s) && *s != '>') ++s;
            if (s == v) return false;
            value.assign(v, static_cast<std::size_t>(s - v));
        }
        out[name] = value;
    }
}

// Decimal, or hexadecimal after "0x"; an empty value reads as 0 and anything
// that is not a number as the largest value, which fails every range.
std::uint64_t toNumber(const std::string& v) {
    std::size_t i = 0;
    while (i < v.size() && isSpace(v[i])) ++i;
    if (i == v.size()) return 0;
    const std::uint64_t kBad = ~std::uint64_t(0);
    int base = 10;
    if (v.size() - i > 2 && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    std::uint64_t r = 0;
    for (; i < v.size(); ++i) {
        const char c = v[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return kBad;
        if (r > (kBad - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return kBad;
        r = r * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    return r;
}

// One attribute in a range; false when present and outside it.
bool attr(const std::map<std::string, std::string>& m, const char* name, std::uint64_t max, std::uint64_t& v) {
    auto it = m.find(name);
    if (it == m.end()) return true;
    v = toNumber(it->second);
    return v <= max;
}

void put8(std::string& s, unsigned v) { s.push_back(static_cast<char>(v & 0xFF)); }
void put16(std::string& s, unsigned v) {
    put8(s, v);
    put8(s, v >> 8);
}
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

struct sBoxFields {
    std::uint64_t ml = 0, mr = 0, mt = 0, mb = 0, w = 0xFFFF, h = 0xFFFF, br = 1, bg = 0xFFFFFFFFu;
};

void le16(unsigned char* at, unsigned v) {
    at[0] = static_cast<unsigned char>(v & 0xFF);
    at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void le32(unsigned char* at, std::uint32_t v) {
    le16(at, v & 0xFFFF);
    le16(at + 2, v >> 16);
}

// The 18 bytes every record begins with, laid out in place and appended in
// one step (a document has one record per word).
void putHeader(std::string& s, unsigned type, const sBoxFields& f) {
    unsigned char h[18];
    h[0] = static_cast<unsigned char>(type);
    le32(h + 1, static_cast<std::uint32_t>(f.bg));
    h[5] = static_cast<unsigned char>(f.br);
    le16(h + 6, static_cast<unsigned>(f.ml));
    le16(h + 8, static_cast<unsigned>(f.mr));
    le16(h + 10, static_cast<unsigned>(f.mt));
    le16(h + 12, static_cast<unsigned>(f.mb));
    le16(h + 14, static_cast<unsigned>(f.w));
    le16(h + 16, static_cast<unsigned>(f.h));
    s.append(reinterpret_cast<const char*>(h), sizeof h);
}

// Margins, size, break and background, checked in the order of their
// messages.
bool boxFields(sHDLParsePtr& p, const std::map<std::string, std::string>& m, sBoxFields& f) {
    if (!attr(m, "ml", 0xFFFF, f.ml)) return fail(p, "bad left margin");
    if (!attr(m, "mr", 0xFFFF, f.mr)) return fail(p, "bad right margin");
    if (!attr(m, "mt", 0xFFFF, f.mt)) return fail(p, "bad top margin");
    if (!attr(m, "mb", 0xFFFF, f.mb)) return fail(p, "bad bottom margin");
    if (!attr(m, "w", 0xFFFF, f.w)) return fail(p, "bad width");
    if (!attr(m, "h", 0xFFFF, f.h)) return fail(p, "bad height");
    if (!attr(m, "br", 1, f.br)) return fail(p, "bad break");
    return true;
}

// A word is a link text run inside a link; <br> and <lt> are always plain
// text runs (linkId -1).
bool writeText(sHDLParsePtr& p, int linkId, unsigned brk, unsigned colour, unsigned fontId, const char* text,
               std::size_t n) {
    if (n > 0xFFFF) return fail(p, "word too long");
    std::string& s = p.stream->stream;
    sBoxFields f;
    f.br = brk;
    const bool link = linkId >= 0;
    putHeader(s, link ? 3 : 0, f);
    p.stream->boxBytes += cSiDocLoader::boxCost(link ? 3 : 0, n);
    unsigned char tail[10];
    le32(tail, colour);
    le16(tail + 4, fontId);
    le16(tail + 6, static_cast<unsigned>(n));
    le16(tail + 8, static_cast<unsigned>(linkId));
    s.append(reinterpret_cast<const char*>(tail), link ? 10 : 8);
    s.append(text, n);
    return true;
}

// The font-table id of an entry, appending a new entry.
unsigned short fontEntryId(sHDLConfig& c, unsigned face, unsigned width, unsigned height, unsigned style) {
    std::string e;
    put16(e, face);
    put16(e, width);
    put16(e, height);
    put8(e, style);
    put8(e, 0);
    std::uint64_t key = 0;
    std::memcpy(&key, e.data(), 8);
    auto it = c.fontsByEntry.find(key);
    if (it != c.fontsByEntry.end()) return it->second.id;
    if (c.fonts.size() / 8 >= static_cast<std::size_t>(kMaxHdocIds)) return 0xFFFF;
    sHDLExtObj o;
    o.offset = static_cast<long long>(c.fonts.size());
    o.id = static_cast<unsigned short>(c.fonts.size() / 8);
    c.fonts += e;
    c.fontsByEntry[key] = o;
    return o.id;
}

unsigned styleBits(const sCurrProps& p) {
    return (p.bold ? 1u : 0u) | (p.italic ? 2u : 0u) | (p.underline ? 4u : 0u);
}

// The font for a word: its container's (0xFFFF) unless a style is in force.
unsigned short getFontIDForText(const sCurrProps& props, sHDLConfig& config) {
    if (!props.bold && !props.italic && !props.underline) return 0xFFFF;
    int width = props.fontWidth;
    if (props.bold) width = static_cast<int>(std::floor(width * 1.1 + 0.5));
    return fontEntryId(config, static_cast<unsigned>(props.fontFace), static_cast<unsigned>(width),
                       static_cast<unsigned>(props.fontHeight), styleBits(props));
}

bool asciiPrefix(const char* s, const char* prefix, std::size_t& n) {
    n = std::strlen(prefix);
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// face[,height[,width[,styles]]]; 0xFFFF with the error set on failure.
unsigned short getCreateFont(sHDLParsePtr& p, const char* desc, sCurrProps& props) {
    static const struct {
        const char* prefix;
        int face;
    } kFaces[] = {{"luci", 4}, {"verd", 3}, {"kor", 2}, {"chi", 5}, {"twn", 6}, {"std", 0}, {"fixed", 1}};
    const char* s = desc;
    int face = -1;
    for (const auto& f : kFaces) {
        std::size_t n = 0;
        if (asciiPrefix(s, f.prefix, n)) {
            face = f.face;
            s += n;
            break;
        }
    }
    if (face < 0) return fail(p, "bad font face name"), 0xFFFF;
    if (*s && *s != ',') return fail(p, "bad font face definition"), 0xFFFF;
    sCurrProps np = props;
    np.fontFace = face;
    if (*s == ',') {
        ++s;
        if (!(*s >= '0' && *s <= '9')) return fail(p, "bad font height def"), 0xFFFF;
        long h = 0;
        while (*s >= '0' && *s <= '9') {
            h = std::min<long>(h * 10 + (*s - '0'), 100000);
            ++s;
        }
        if (h > 4095) return fail(p, "bad font height"), 0xFFFF;
        np.fontHeight = static_cast<int>(h);
        if (*s && *s != ',') return fail(p, "bad font definition"), 0xFFFF;
        if (*s == ',') {
            ++s;
            if (!(*s >= '0' && *s <= '9')) return fail(p, "bad font width def"), 0xFFFF;
            long w = 0;
            while (*s >= '0' && *s <= '9') {
                w = std::min<long>(w * 10 + (*s - '0'), 100000);
                ++s;
            }
            if (w > 4095) return fail(p, "bad font width"), 0xFFFF;
            np.fontWidth = static_cast<int>(w);
            if (*s && *s != ',') return fail(p, "bad font width definition"), 0xFFFF;
            if (*s == ',') {
                for (++s; *s; ++s) {
                    const char c = *s;
                    if (c == 'b' || c == 'B') np.bold = 1;
                    if (c == 'i' || c == 'I') np.italic = 1;
                    if (c == 'u' || c == 'U') np.underline = 1;
                }
            }
        } else {
            np.fontWidth = static_cast<int>(std::floor(h * 5.0 / 13.0 + 0.5));
        }
    }
    if (!cFontObject::get(np.fontWidth, np.fontHeight, siDocFaceName(face), np.bold, np.underline, np.italic))
        return fail(p, "bad font"), 0xFFFF;
    const unsigned short id = fontEntryId(*p.config, static_cast<unsigned>(face), static_cast<unsigned>(np.fontWidth),
                                          static_cast<unsigned>(np.fontHeight), styleBits(np));
    if (id == 0xFFFF) return fail(p, "too many fonts"), 0xFFFF;
    props = np;
    return id;
}

// The loader inflates every language and the font and string tables of a
// document within one budget, and holds the boxes of every language with the
// records of one; the compiler stops where the loader would.  (The whole
// document is loaded once it is compiled, which settles the rest.)
bool tooLarge(const sHDLParsePtr& p) {
    const sHDLConfig& c = *p.config;
    const std::size_t tables = c.fonts.size() + c.strings.size();
    return p.stream->stream.size() + p.otherLangBytes + tables > kMaxHdocInflatedBytes ||
           p.stream->boxBytes + p.otherBoxBytes + p.stream->stream.size() + tables > kMaxHdocHeldBytes;
}

bool processSection(sCurrProps& props, sHDLParsePtr& p, eTag tag, unsigned colour);

bool nested(sCurrProps props, sHDLParsePtr& p, eTag tag, unsigned colour) {
    // Every open section is one recursion; a hostile source must not exhaust
    // the stack, and the loader refuses deeper containers anyway.
    if (p.depth >= kMaxHdocNesting) return fail(p, "tags nested too deeply");
    ++p.depth;
    const bool ok = processSection(props, p, tag, colour);
    --p.depth;
    return ok;
}

bool openText(sCurrProps& props, sHDLParsePtr& p, const std::map<std::string, std::string>& m, unsigned colour) {
    sBoxFields f;
    if (!boxFields(p, m, f)) return false;
    std::uint64_t fg = colour, bg = 0xFFFFFFFFu;
    if (!attr(m, "fg", 0xFFFFFFFFu, fg)) return fail(p, "bad FG color");
    if (!attr(m, "bg", 0xFFFFFFFFu, bg)) return fail(p, "bad BG color");
    f.bg = bg;
    unsigned align = 0;
    auto a = m.find("a");
    if (a != m.end()) {
        const char c = a->second.empty() ? 0 : a->second[0];
        if (c == 'l' || c == 'L')
            align = 0;
        else if (c == 'r' || c == 'R')
            align = 1;
        else if (c == 'c' || c == 'C')
            align = 2;
        else if (c == 'j' || c == 'J')
            align = 3;
        else
            return fail(p, "bad align");
    }
    sCurrProps inner = props;
    unsigned fontId = 0xFFFF;
    auto fs = m.find("f");
    if (fs != m.end()) {
        fontId = getCreateFont(p, fs->second.c_str(), inner);
        if (fontId == 0xFFFF) return false;
    }
    std::string& s = p.stream->stream;
    putHeader(s, 2, f);
    p.stream->boxBytes += cSiDocLoader::boxCost(2, 0);
    put32(s, static_cast<std::uint32_t>(fg));
    put16(s, fontId);
    put8(s, align);
    return nested(inner, p, cSiDocLoader::ktText, static_cast<unsigned>(fg));
}

bool openLink(sCurrProps& props, sHDLParsePtr& p, const std::map<std::string, std::string>& m) {
    auto r = m.find("ref");
    std::string target = r == m.end() ? std::string() : r->second;
    if (target.size() > 0xFFFF) target.resize(0xFFFF);
    sHDLConfig& c = *p.config;
    int id;
    auto it = c.linksByText.find(target);
    if (it != c.linksByText.end()) {
        id = it->second.id;
    } else {
        if (c.nextString >= kMaxHdocIds) return fail(p, "too many links");
        sHDLExtObj o;
        o.offset = static_cast<long long>(c.strings.size());
        o.id = static_cast<unsigned short>(c.nextString++);
        put16(c.strings, static_cast<unsigned>(target.size()));
        c.strings += target;
        c.linksByText[target] = o;
        id = o.id;
    }
    sCurrProps inner = props;
    inner.linkId = id;
    return nested(inner, p, cSiDocLoader::ktLink, 0xFF0000u);
}

bool openImg(sCurrProps& props, sHDLParsePtr& p, const std::map<std::string, std::string>& m) {
    auto src = m.find("src");
    if (src == m.end()) return fail(p, "no src prop");
    std::string path = src->second;
    sHDLConfig& c = *p.config;
    if (path.compare(0, 2, "./") == 0) {
        // A relative path needs the folder of the source it came from.
        if (c.folder.empty()) return fail(p, "relative IMG path with no source folder");
        path = std::string(c.folder.get()) + path.substr(2);
    }
    int id;
    auto it = c.imagesByPath.find(path);
    if (it != c.imagesByPath.end()) {
        id = it->second.id;
    } else {
        cFileIO f;
        if (!openRegular(f, path.c_str())) {
            p.config->errError = errno;
            return fail(p, "unable to open IMG");
        }
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> dec(cPictBase::mkPicture(&f, &info));
        if (!dec) return fail(p, "unable to recognize IMG");
        const long long n = f.size();
        // A picture is drawn by its size, and decoding it is work the
        // documents of a payload share: one the probe cannot size is no
        // picture, one larger than the work a payload may ask is too large.
        if (n <= 0 || info.width < 1 || info.height < 1) return fail(p, "unable to load IMG");
        if (static_cast<unsigned long long>(info.width) * static_cast<unsigned long long>(info.height) * 4 >
            kMaxHdocWork)
            return fail(p, "IMG too large");
        if (n > kMaxHdocImageFileBytes || c.images.size() + static_cast<std::size_t>(n) + 4 > kMaxHdocInflatedBytes)
            return fail(p, "IMG too large");
        if (c.nextImage >= kMaxHdocIds) return fail(p, "too many IMG");
        std::string bytes(static_cast<std::size_t>(n), '\0');
        if (!f.set_fp(0) || !f.readf(&bytes[0], static_cast<unsigned int>(n))) return fail(p, "unable to read IMG");
        // A file the factory knows by its first bytes may still not decode
        // (a camera's raw header over other bytes, a cut file), and one
        // picture the loader cannot decode fails the whole document: it is
        // decoded here as the loader will decode it.
        if (!cSiDocLoader::decodePicture(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
            return fail(p, "unable to load IMG");
        sHDLExtObj o;
        o.offset = static_cast<long long>(c.images.size());
        o.id = static_cast<unsigned short>(c.nextImage++);
        put32(c.images, static_cast<std::uint32_t>(n));
        c.images += bytes;
        c.imagesByPath[path] = o;
        id = o.id;
    }
    sBoxFields f;
    if (!boxFields(p, m, f)) return false;
    std::uint64_t bg = 0xFFFFFFFFu;
    if (!attr(m, "bg", 0xFFFFFFFFu, bg)) return fail(p, "bad BG color");
    f.bg = bg;
    std::string& s = p.stream->stream;
    const bool link = props.linkId >= 0;
    putHeader(s, link ? 4 : 1, f);
    p.stream->boxBytes += cSiDocLoader::boxCost(link ? 4 : 1, 0);
    put16(s, static_cast<unsigned>(id));
    if (link) put16(s, static_cast<unsigned>(props.linkId));
    return true;
}

bool processSection(sCurrProps& props, sHDLParsePtr& p, eTag tag, unsigned colour) {
    std::string token;
    for (;;) {
        if (tooLarge(p)) return fail(p, "document too large");
        const eToken t = getNextToken(p, token);
        if (t == eToken::unterminated) return fail(p, "unexpected termination");
        if (t == eToken::none) {
            if (tag != cSiDocLoader::ktNone) return fail(p, "termination on opened tag");
            put8(p.stream->stream, 0xFF);
            return true;
        }
        if (t == eToken::word) {
            if (!writeText(p, props.linkId, 0, colour, getFontIDForText(props, *p.config), token.data(), token.size()))
                return false;
            continue;
        }
        int id = 0;
        const char* after = nullptr;
        if (token.size() > 1 && token[1] == '/') {
            if (!getTagID(token.c_str() + 2, id, after)) return fail(p, "invalid tag closed");
            if (*after != '>') return fail(p, "tag is not properly closed");
            if (id != tag) return fail(p, "close tag mismatch");
            if (tag == cSiDocLoader::ktText) put8(p.stream->stream, 0xFF);
            return true;
        }
        const char* attrs = getTagID(token.c_str() + 1, id, after);
        if (!attrs) return fail(p, "invalid tag opened");
        std::map<std::string, std::string> m;
        if ((id == cSiDocLoader::ktText || id == cSiDocLoader::ktLink || id == cSiDocLoader::ktImg) &&
            !extToProps(attrs, m))
            return fail(p, "bad tag props");
        bool ok = true;
        switch (id) {
        case cSiDocLoader::ktText: ok = openText(props, p, m, colour); break;
        case cSiDocLoader::ktLink: ok = openLink(props, p, m); break;
        case cSiDocLoader::ktImg: ok = openImg(props, p, m); break;
        case cSiDocLoader::ktBr: ok = writeText(p, -1, 1, 0xFFFFFFFFu, 0xFFFF, "", 0); break;
        case cSiDocLoader::ktLt: ok = writeText(p, -1, 0, 0xFFFFFFFFu, 0xFFFF, "<", 1); break;
        case cSiDocLoader::ktB: {
            sCurrProps inner = props;
            inner.bold = 1;
            ok = nested(inner, p, cSiDocLoader::ktB, colour);
            break;
        }
        case cSiDocLoader::ktI: {
            sCurrProps inner = props;
            inner.italic = 1;
            ok = nested(inner, p, cSiDocLoader::ktI, colour);
            break;
        }
        }
        if (!ok) return false;
    }
}

bool deflate5(const std::string& in, std::string& out) {
    uLongf n = compressBound(static_cast<uLong>(in.size()));
    out.resize(n);
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(in.data()),
                  static_cast<uLong>(in.size()), 5) != Z_OK)
        return false;
    out.resize(n);
    return true;
}

bool writeAll(cFileIOTarget* t, const std::string& s) {
    return s.empty() || t->writef(const_cast<char*>(s.data()), static_cast<unsigned int>(s.size()));
}

// u32 length and a zlib stream of the table, or four zero bytes.
bool writeTable(cFileIOTarget* t, const std::string& table, bool compress) {
    std::string body;
    if (!table.empty()) {
        if (compress) {
            if (!deflate5(table, body)) return false;
        } else {
            body = table;
        }
    }
    std::string len;
    put32(len, static_cast<std::uint32_t>(body.size()));
    return writeAll(t, len) && writeAll(t, body);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool processHDL(sHDLConfig& config, const char* text) {
    config.errLine = config.errColumn = config.errError = 0;
    config.errMessage.clear();
    sHDLLangStreamCtx& ctx = config.langs[config.lang];
    ctx.stream.clear();
    sHDLParsePtr p;
    p.cur = text ? text : "";
    p.stream = &ctx;
    p.config = &config;
    ctx.boxBytes = 0;
    for (const auto& l : config.langs) {
        if (l.first == config.lang) continue;
        p.otherLangBytes += l.second.stream.size();
        p.otherBoxBytes += l.second.boxBytes;
    }
    sCurrProps props;
    // Root words carry no colour of their own: they take the viewer's.
    if (!processSection(props, p, cSiDocLoader::ktNone, 0xFFFFFFFFu)) return false;
    if (tooLarge(p)) return fail(p, "document too large");
    return true;
}

// ---------------------------------------------------------------------------
// cHDLParser

void cHDLParser::langSearchInit() {
    for (int id = 0; id <= 10; ++id) mLangCodes.emplace(ciLangID(id), id);
}

bool cHDLParser::getFileContents(cFileIOTarget* file, _guardchar<char>& text) {
    text.clear();
    if (!file) return false;
    const long long size = file->size();
    if (size < 3 || size > kMaxHdlSourceBytes) return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (!file->set_fp(0) || !file->readf(bytes.data(), static_cast<unsigned int>(size))) return false;
    const unsigned char* b = bytes.data();
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        const char* s = reinterpret_cast<const char*>(b + 3);
        text.set(s, static_cast<long long>(strnlen(s, bytes.size() - 3)));
        return true;
    }
    if ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)) {
        // UTF-16 in the order its byte-order mark gives.
        const bool big = b[0] == 0xFE;
        const std::size_t units = (bytes.size() - 2) / 2;
        std::vector<unsigned short> w;
        w.reserve(units);
        for (std::size_t i = 0; i < units; ++i) {
            const unsigned lo = b[2 + 2 * i], hi = b[3 + 2 * i];
            const unsigned short u = static_cast<unsigned short>(big ? (lo << 8) | hi : (hi << 8) | lo);
            if (u == 0) break;
            w.push_back(u);
        }
        const long long need = intrnl_UTF8_w2a_require(w.data(), static_cast<long long>(w.size()));
        std::vector<char> out(static_cast<std::size_t>(need > 0 ? need : 0) + 1, 0);
        const long long got =
            w.empty() ? 0 : intrnl_UTF8_w2a(w.data(), static_cast<long long>(w.size()), out.data(), need);
        if (got < 0) return false;
        text.set(out.data(), static_cast<long long>(strnlen(out.data(), static_cast<std::size_t>(got))));
        if (!text.get()) text.set("");
        return true;
    }
    const char* s = reinterpret_cast<const char*>(b);
    text.set(s, static_cast<long long>(strnlen(s, bytes.size())));
    if (!text.get()) text.set("");
    return true;
}

bool cHDLParser::parseIndexFile(const char* text, std::map<int, std::string>& paths, sErrInfo& err) {
    int line = 0;
    auto bad = [&](const char* message) {
        err.line = line;
        err.column = 0;
        err.message.set(message);
        return false;
    };
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    const char* s = text ? text : "";
    for (;;) {
        while (*s && (blank(*s) || *s == '\n')) {
            if (*s == '\n') ++line;
            ++s;
        }
        if (!*s) return true;
        const char* c = s;
        while (*s && *s != '=' && !blank(*s) && *s != '\n') ++s;
        std::string code(c, static_cast<std::size_t>(s - c));
        for (char& ch : code)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        auto it = mLangCodes.find(code);
        if (it == mLangCodes.end()) return bad("invalid lang code");
        while (blank(*s)) ++s;
        if (*s != '=') return bad("expected EQ sign after lang code");
        ++s;
        while (blank(*s)) ++s;
        if (*s != '"') return bad("expected openning QUOTE sign after EQ");
        ++s;
        const char* p = s;
        while (*s && *s != '"' && *s != '\n') ++s;
        if (*s != '"') return bad("expected openning QUOTE sign after end of path");
        std::string path(p, static_cast<std::size_t>(s - p));
        ++s;
        while (blank(*s)) ++s;
        if (*s && *s != '\n') return bad("not expected anything after file path");
        if (paths.count(it->second)) return bad("lang already defined");
        paths[it->second] = path;
    }
}

bool cHDLParser::parse(const char* indexPath, cFileIOTarget* target, sErrInfo& err) {
    err.line = err.column = 0;
    err.file.clear();
    err.message.clear();
    filesRead_.clear();
    auto bad = [&](const char* message, const char* file) {
        err.message.set(message);
        if (file) err.file.set(file);
        return false;
    };
    if (!target) return bad("bad target", nullptr);
    cFileIO index;
    if (!openRegular(index, indexPath)) {
        err.error = errno;
        return bad("Unable to open index", indexPath);
    }
    filesRead_.push_back(indexPath);
    _guardchar<char> indexText;
    if (!getFileContents(&index, indexText)) return bad("Unable to read idex", indexPath);
    langSearchInit();
    std::map<int, std::string> paths;
    if (!parseIndexFile(indexText.get(), paths, err)) {
        err.file.set(indexPath);
        return false;
    }
    const std::string indexFolder = folderOf(indexPath);
    // The document is made whole first: it is loaded as the installer will
    // load it before a byte of it is written.
    cMemIOTarget doc(65536);
    if (!doc.writef(const_cast<char*>("QORHDOCF"), 8)) return bad("Unable to write target", nullptr);

    std::unique_ptr<sHDLConfig> config(new sHDLConfig);
    for (auto& entry : paths) {
        if (entry.second.empty()) continue;
        std::string path = entry.second;
        if (path.compare(0, 2, "./") == 0) {
            if (indexFolder.empty()) return bad("Path is specified as relative with no current folder", indexPath);
            path = indexFolder + path.substr(2);
        }
        cFileIO src;
        if (!openRegular(src, path.c_str())) {
            err.error = errno;
            return bad("Unable to open source file", path.c_str());
        }
        filesRead_.push_back(path);
        _guardchar<char> text;
        if (!getFileContents(&src, text)) return bad("Unable to read source as text file", path.c_str());
        config->folder.set(folderOf(path).c_str());
        config->lang = entry.first;
        if (!processHDL(*config, text.get())) {
            err.line = config->errLine;
            err.column = config->errColumn;
            err.message.set(config->errMessage.get());
            err.error = config->errError;
            err.file.set(path.c_str());
            return false;
        }
        const std::string& records = config->langs[entry.first].stream;
        if (records.empty()) continue;
        std::string z;
        if (!deflate5(records, z)) return bad("Unable to write target", nullptr);
        std::string head;
        put8(head, static_cast<unsigned>(entry.first));
        put32(head, static_cast<std::uint32_t>(z.size()));
        if (!writeAll(&doc, head) || !writeAll(&doc, z)) return bad("Unable to write target", nullptr);
    }
    for (const auto& picture : config->imagesByPath) filesRead_.push_back(picture.first);
    std::string end(1, '\xFF');
    if (!writeAll(&doc, end) || !writeTable(&doc, config->fonts, true) || !writeTable(&doc, config->strings, true) ||
        !writeTable(&doc, config->images, false))
        return bad("Unable to write target", nullptr);
    _typebuf<unsigned char> bytes;
    if (!doc.toBuffer(bytes)) return bad("Unable to write target", nullptr);
    {
        // (A document without a language is written all the same: that one
        // the loader refuses by its layout, which is the caller's to judge.)
        cSiDocLoader loader;
        if (!loader.load(bytes.data(), bytes.count())) {
            if (loader.fault() == cSiDocLoader::lfOverBudget) return bad("document too large", indexPath);
            if (loader.fault() == cSiDocLoader::lfPicture) return bad("unable to load IMG", indexPath);
        }
    }
    if (!target->writef(bytes.data(), static_cast<unsigned int>(bytes.count())))
        return bad("Unable to write target", nullptr);
    return true;
}
