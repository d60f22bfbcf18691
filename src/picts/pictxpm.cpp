// XPM decoding: the text is read line by line through the text reader; a
// small tokenizer walks comments, the declaration and the quoted strings.
#include "picts/pictxpm.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include "base/strutil.h"
#include "base/textfile.h"
#include "base/treelist.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

// The four numbers of the values string; false unless all are sound.
bool parseValues(const char* s, int& w, int& h, int& colours, int& cpp) {
    if (std::sscanf(s, "%d %d %d %d", &w, &h, &colours, &cpp) != 4) return false;
    return w >= 1 && h >= 1 && colours >= 1 && cpp >= 1 && cpp <= cPictXPM::kMaxCharsPerPixel;
}

const char* findText(const char* from, const char* what) { return from ? std::strstr(from, what) : nullptr; }

// The pixel code: the first character in the lowest byte.
unsigned int packCode(const char* s, int cpp) {
    unsigned int k = 0;
    for (int i = 0; i < cpp; ++i) k |= static_cast<unsigned int>(static_cast<unsigned char>(s[i])) << (8 * i);
    return k;
}

// A colour string's colour: '#' and 2 or 4 hex digits per component, or
// None.  False for anything else.
bool parseColour(const char* s, int len, int cpp, unsigned int& colour) {
    if (len < cpp + 7 || s[cpp + 1] != 'c') return false;
    const char* value = s + cpp + 3;
    if (value[0] == '#') {
        int step;
        if (len == cpp + 10)
            step = 2;
        else if (len == cpp + 16)
            step = 4;
        else
            return false;
        unsigned int c = 0xFF000000u;
        for (int k = 0; k < 3; ++k) {
            const int v = getHexb(value + 1 + k * step);
            if (v < 0) return false;
            c |= static_cast<unsigned int>(v) << (16 - 8 * k);
        }
        // Four digits: only the high two count, but all must be digits.
        if (step == 4)
            for (int k = 0; k < 3; ++k)
                if (getHexb(value + 3 + k * step) < 0) return false;
        colour = c;
        return true;
    }
    if (len == cpp + 7 && std::memcmp(value, "None", 4) == 0) {
        colour = 0;
        return true;
    }
    return false;
}

bool isBlank(char c) { return __acp_isspace(c); }

}  // namespace

bool cPictXPM::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictXPM probe;
    return probe.isPicture(stream, info);
}

bool cPictXPM::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return false;
    char text[kProbeBytes + 1];
    cByteReader in(stream, kProbeBytes, 0);
    const std::size_t got = in.readSome(text, kProbeBytes);
    text[got] = 0;
    const char* p = text;
    while (*p && isBlank(*p)) ++p;
    if (std::strncmp(p, "/* XPM", 6) != 0) return false;
    const char* q = findText(findText(findText(p + 6, "static"), "char"), "\"");
    int w, h, colours, cpp;
    if (!q || !parseValues(q + 1, w, h, colours, cpp)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictXPM::decode(cFileIOTarget* stream) {
    close();
    cTextFileIO text;
    if (!stream || !text.open(stream, cTextFileIO::tctUTF8)) return false;
    cFasterTreeList<unsigned int, unsigned int> colours(512);

    enum { kFirstLine, kBeforeDeclaration, kString, kComma } stage = kFirstLine;
    bool inComment = false;
    int w = 0, h = 0, ncolours = 0, cpp = 0;
    int strings = 0;  // quoted strings read so far
    bool ext = false;
    long long row = 0;
    _typebuf<unsigned int> line;
    _typebuf<char> buf;

    // The end of every path: an external rendering begun is ended.
    auto finish = [&](bool ok) {
        if (ext) endExtRender();
        return ok;
    };

    while (text.gets(buf)) {
        const long long n = buf.count();
        // A NUL-terminated copy for the C string helpers.
        std::string lineText(buf.data() ? buf.data() : "", static_cast<std::size_t>(n));
        const char* s = lineText.c_str();
        long long pos = 0;
        if (stage == kFirstLine) {
            while (pos < n && isBlank(s[pos])) ++pos;
            if (pos == n) continue;
            if (std::strncmp(s + pos, "/* XPM", 6) != 0) return false;
            pos += 2;
            inComment = true;
            stage = kBeforeDeclaration;
        }
        for (;;) {
            if (inComment) {
                const char* end = std::strstr(s + pos, "*/");
                if (!end) break;
                pos = end - s + 2;
                inComment = false;
            }
            while (pos < n && isBlank(s[pos])) ++pos;
            if (pos >= n) break;
            if (s[pos] == '/' && s[pos + 1] == '*') {
                inComment = true;
                pos += 2;
                continue;
            }
            if (stage == kBeforeDeclaration) {
                if (std::strncmp(s + pos, "static", 6) != 0) return false;
                const char* brace = std::strchr(s + pos, '{');
                if (!brace) return false;
                pos = brace - s + 1;
                stage = kString;
                continue;
            }
            if (stage == kComma) {
                if (s[pos] != ',') return finish(false);
                ++pos;
                stage = kString;
                continue;
            }
            // A quoted string, all on this line.
            if (s[pos] != '"') return finish(false);
            const char* close = std::strchr(s + pos + 1, '"');
            if (!close) return finish(false);
            const char* str = s + pos + 1;
            const int len = static_cast<int>(close - str);
            pos = close - s + 1;
            stage = kComma;
            if (strings == 0) {
                if (!parseValues(str, w, h, ncolours, cpp) || !checkPixelCount(w, h)) return false;
                // Rows are w x cpp characters long; a line cannot be longer
                // than the whole text.
                long long want = 0;
                if (!checked_mul(w, cpp, want) || !checked_add(want, 4096, want)) return false;
                const long long size = stream->size();
                if (size > 0 && want > size + 1) want = size + 1;
                if (want > text.maxStrLen()) text.setMaxStrLen(want);
            } else if (strings <= ncolours) {
                unsigned int colour = 0;
                if (len < cpp || !parseColour(str, len, cpp, colour)) return false;
                const unsigned int key = packCode(str, cpp);
                if (colours.find(key)) return false;
                unsigned int* slot = nullptr;
                try {
                    slot = colours.insert(key);
                } catch (const std::bad_alloc&) {
                    return false;
                }
                if (!slot) return false;
                *slot = colour;
            } else {
                if (static_cast<long long>(len) != static_cast<long long>(w) * cpp) return finish(false);
                if (row == 0) {
                    // Rows the text cannot hold are refused before the
                    // picture is allocated.
                    const long long size = stream->size();
                    long long textBytes = 0;
                    if (!checked_mul(w, cpp, h, textBytes) || (size > 0 && textBytes > size)) return false;
                    width_ = w;
                    height_ = h;
                    is16Bpp_ = false;
                    ext = startExtRender();
                    if (!sizeBuffer(line, w)) return finish(false);
                    if (!ext && !allocPixels8(w, h)) return false;
                }
                const long long y = h - 1 - row;
                unsigned int* out = ext ? line.data() : pixels8_.data() + y * w;
                unsigned int lastKey = 0, lastColour = 0;
                bool haveLast = false;
                for (int x = 0; x < w; ++x) {
                    const unsigned int key = packCode(str + static_cast<long long>(x) * cpp, cpp);
                    if (!haveLast || key != lastKey) {
                        const unsigned int* c = colours.find(key);
                        if (!c) return finish(false);
                        lastKey = key;
                        lastColour = *c;
                        haveLast = true;
                    }
                    out[x] = lastColour;
                }
                if (ext && canExtRender(0, w - 1, y, y)) setExtRow(y, out, w);
                if (++row == h) return finish(true);
            }
            ++strings;
        }
    }
    // The text ended before the last row, or could not be read on (a line
    // too long, a failed read): either way the picture is incomplete.
    if (text.lastError() != cTextFileIO::teNone) return finish(false);
    return finish(false);
}
