#include "uitoolkit/canvas.h"

#include "base/strutil.h"
#include "base/textenc.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------
// Fonts

cList cFontObject::myFontsStore;

namespace {

tNewPlatformCPFont gNewFont = nullptr;
tTextWrapYFactor gWrapFactor = nullptr;

constexpr int kUtf8 = 65001;
constexpr unsigned short kEllipsis[] = {'.', '.', '.', 0};

inline bool isHighSurrogate(unsigned short u) { return u >= 0xD800 && u <= 0xDBFF; }

// Marks that combine with the character before them, in the scripts a file
// name or a path most often holds them: the general diacritics, Hebrew
// points, Arabic harakat, Devanagari signs, Thai vowels and tone marks, the
// kana voicing marks, and the variation selectors.
constexpr unsigned short kCombining[][2] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0903},
    {0x093A, 0x093C}, {0x093E, 0x094F}, {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200D, 0x200D},
    {0x20D0, 0x20FF}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

// Whether a cut before unit i of s (n units) would part a character from
// what belongs to it: the second half of a surrogate pair, a combining
// mark, a joiner or the unit after one, an emoji skin tone (U+1F3FB to
// U+1F3FF) or a supplementary variation selector (U+E0100 to U+E01EF).
bool insideCharacter(const unsigned short* s, long long i, long long n) {
    const unsigned short u = s[i];
    if (isHighSurrogate(s[i - 1]) || s[i - 1] == 0x200D) return true;
    for (const auto& r : kCombining)
        if (u >= r[0] && u <= r[1]) return true;
    if (i + 1 < n) {
        const unsigned short v = s[i + 1];
        if (u == 0xD83C && v >= 0xDFFB && v <= 0xDFFF) return true;
        if (u == 0xDB40 && v >= 0xDD00 && v <= 0xDDEF) return true;
    }
    return false;
}

// Text up to len units (-1: up to the NUL) copied with room for "..." and a
// terminator, so a cut text can be handed on NUL-terminated.
long long unitsOf(const unsigned short* text, long long len) {
    if (len >= 0) {
        long long n = 0;
        while (n < len && text[n]) ++n;
        return n;
    }
    return _wcslen(text);
}

}  // namespace

cFontObject* __newPlatformCPFont() { return gNewFont ? gNewFont() : nullptr; }

tNewPlatformCPFont __setNewPlatformCPFont(tNewPlatformCPFont maker) {
    tNewPlatformCPFont before = gNewFont;
    gNewFont = maker;
    return before;
}

tTextWrapYFactor __setTextWrapYFactorHook(tTextWrapYFactor hook) {
    tTextWrapYFactor before = gWrapFactor;
    gWrapFactor = hook;
    return before;
}

double __canvasTextWrapYFactor() { return gWrapFactor ? gWrapFactor() : 1.2; }

bool cFontObject::eq(void* key) {
    const sKey* k = static_cast<const sKey*>(key);
    if (!k) return false;
    if (k->width != mWidth || k->size != mSize || k->bold != mBold || k->underline != mUnderline ||
        k->italic != mItalic)
        return false;
    return k->face && mFace.get() && std::strcmp(k->face, mFace.get()) == 0;
}

cFontObject* cFontObject::get(int width, int size, const char* face, bool bold, bool underline, bool italic) {
    sKey key{width, size, face, bold, underline, italic};
    if (cListItem* found = myFontsStore.find(&key)) return static_cast<cFontObject*>(found);
    cFontObject* font = __newPlatformCPFont();
    if (!font) return nullptr;
    if (!font->define(width, size, face, bold, underline, italic)) {
        delete font;
        return nullptr;
    }
    font->mWidth = width;
    font->mSize = size;
    font->mFace.set(face);
    font->mBold = bold;
    font->mUnderline = underline;
    font->mItalic = italic;
    myFontsStore.add(font);
    return font;
}

// ---------------------------------------------------------------------------
// Single line cut to a box

int cCanvas::drawTextLimited(int x, int y, int w, int h, int align, bool transparent, int marginLeft,
                             int marginRight, const char* text, long long len, long long* drawnWidth,
                             bool fillMargins) {
    if (!text) return -1;
    _guardchar<unsigned short> wide;
    __a2w(text, len, wide, kUtf8);
    if (wide.empty()) return 0;
    return drawTextLimited(x, y, w, h, align, transparent, marginLeft, marginRight, wide.get(), -1, drawnWidth,
                           fillMargins);
}

int cCanvas::drawTextLimited(int x, int y, int w, int h, int align, bool transparent, int marginLeft,
                             int marginRight, const unsigned short* text, long long len, long long* drawnWidth,
                             bool fillMargins) {
    if (!text) return -1;
    if (w <= 0 || marginLeft < 0 || marginRight < 0) return -1;
    const long long margins = static_cast<long long>(marginLeft) + marginRight;
    if (margins >= w) return -1;
    const int a = static_cast<int>(w - margins);
    const long long x0 = static_cast<long long>(x) + marginLeft;

    const long long n = unitsOf(text, len);
    _typebuf<unsigned short> line(n + 4);
    if (n) std::memcpy(line.data(), text, static_cast<std::size_t>(n) * sizeof(unsigned short));
    line[n] = 0;

    sSize ts;
    if (!textSize(line.data(), n, ts)) return -1;
    long long tw = ts.w;
    const int th = ts.h;
    if (tw > a) {
        sSize ds;
        if (!textSize(kEllipsis, 3, ds) || ds.w > a) return -1;
        std::vector<int> advance(static_cast<std::size_t>(n) + 1, 0);
        if (!textRuler(line.data(), n, advance.data())) return -1;
        long long k = 0;
        while (k < n && static_cast<long long>(advance[k]) + ds.w <= a) ++k;
        // The cut falls between characters: never inside a surrogate pair,
        // never between a letter and its marks (an "e" kept without its
        // accent would show another letter).
        while (k > 0 && k < n && insideCharacter(line.data(), k, n)) --k;
        std::memcpy(line.data() + k, kEllipsis, sizeof(kEllipsis));
        tw = ds.w + (k > 0 ? advance[k - 1] : 0);
    }

    long long tx = x0;
    // Right-aligned text ends one pixel inside the box, but never starts left
    // of it: a text exactly as wide as the box would otherwise spill over the
    // left margin (and, in a box at 0, return the failure value -1).
    if (align == taRight)
        tx = std::max(x0, x0 + a - 1 - tw);
    else if (align == taCenter)
        tx = x0 + (a - tw) / 2;
    const long long ty = static_cast<long long>(y) + (static_cast<long long>(h) - th) / 2;
    if (!drawText(static_cast<int>(tx), static_cast<int>(ty), transparent, line.data(), -1)) return -1;

    if (fillMargins && !transparent) {
        const unsigned int bg = bgColor();
        const long long gap = (static_cast<long long>(h) - th) / 2;
        auto fill = [&](long long rx, long long ry, long long rw, long long rh) {
            sRect r{static_cast<int>(rx), static_cast<int>(ry), static_cast<int>(rw), static_cast<int>(rh)};
            drawRect(&r, bg, bg);
        };
        if (tx > x0) fill(x0, y, tx - x0, h);
        if (static_cast<long long>(h) - th >= 2) fill(tx, y, tw, gap);
        const long long below = static_cast<long long>(y) + th + gap;
        if (static_cast<long long>(y) + h > below) fill(tx, below, tw, static_cast<long long>(y) + h - below);
        const long long right = static_cast<long long>(x) + w - marginRight;
        if (right - (tx + tw) > 0) fill(tx + tw, y, right - (tx + tw), h);
    }
    if (drawnWidth) *drawnWidth = tw;
    return static_cast<int>(tx);
}

// ---------------------------------------------------------------------------
// Tokenizing

namespace {

template <typename Ch>
bool isBlank(Ch c) {
    const unsigned int u = static_cast<unsigned int>(static_cast<typename std::make_unsigned<Ch>::type>(c));
    return u >= 1 && u <= 32;
}

template <typename Ch>
bool isWordChar(Ch c) {
    const unsigned int u = static_cast<unsigned int>(static_cast<typename std::make_unsigned<Ch>::type>(c));
    return u > 32;
}

// Splits text[0, n) into tokens; wordBreakAfter(c) ends a word after c.
template <typename Ch, typename Token, typename Measure, typename BreakAfter>
bool tokenize(const Ch* text, long long n, cFasterTreeList<int, Token>& out, Measure measure,
              BreakAfter breakAfter) {
    out.destroy();
    int key = 0;
    long long i = 0;
    while (i < n && text[i]) {
        Token* t = out.insert(key++);
        if (!t) return false;
        if (isBlank(text[i])) {
            int units = 0;
            bool lineFeed = false;
            while (i < n && isBlank(text[i])) {
                const Ch c = text[i++];
                if (c == '\n') {
                    lineFeed = true;
                    break;
                }
                units += c == '\t' ? 4 : 1;
            }
            // Blanks before a line feed in the same run are dropped.
            t->value = lineFeed ? 0 : units;
            continue;
        }
        const long long start = i;
        while (i < n && isWordChar(text[i])) {
            const Ch c = text[i++];
            if (breakAfter(c)) break;
        }
        t->text.set(text + start, i - start);
        sSize s;
        t->value = measure(t->text.get(), i - start, s) ? s.w : 0;
    }
    return true;
}

}  // namespace

bool cCanvas::tokenizeString(const unsigned short* text, long long len, cFasterTreeList<int, cTokenizedW>& out) {
    if (!text) return false;
    const long long n = unitsOf(text, len);
    return tokenize(
        text, n, out, [this](const unsigned short* s, long long k, sSize& sz) { return textSize(s, k, sz); },
        [](unsigned short c) { return c == 0x3001 || c == 0x3002; });
}

bool cCanvas::tokenizeString(const char* text, long long len, cFasterTreeList<int, cTokenizedA>& out) {
    if (!text) return false;
    long long n = 0;
    if (len < 0)
        n = static_cast<long long>(std::strlen(text));
    else
        while (n < len && text[n]) ++n;
    return tokenize(
        text, n, out, [this](const char* s, long long k, sSize& sz) { return textSize(s, k, sz); },
        [](char) { return false; });
}

// ---------------------------------------------------------------------------
// Wrapped text

bool cCanvas::drawTextWrapped(int x, int y, int w, int h, int align, const char* text, sSize& used,
                              bool transparent, double lineSpacing) {
    if (!text || w == 0 || h == 0) return false;
    _guardchar<unsigned short> wide;
    __a2w(text, -1, wide, kUtf8);
    if (wide.empty()) return false;
    return drawTextWrapped(x, y, w, h, align, wide.get(), used, transparent, lineSpacing);
}

namespace {

enum class LineEnd { wordNoFit, spaceNoFit, spaceTooWide, lineBreak, last };

struct sToken {
    const unsigned short* text;  // null: whitespace or line break
    long long value;             // word width, space units, 0 for a break
    bool isWord() const { return text != nullptr; }
    bool isSpace() const { return !text && value > 0; }
};

}  // namespace

bool cCanvas::drawTextWrapped(int x, int y, int w, int h, int align, const unsigned short* text, sSize& used,
                              bool transparent, double lineSpacing) {
    if (!text || w == 0 || h == 0) return false;
    if (lineSpacing == 0) lineSpacing = __canvasTextWrapYFactor();
    static const unsigned short kSpace[] = {' ', 0};
    sSize space;
    if (!textSize(kSpace, 1, space)) return false;
    const bool unlimited = w < 0 || w >= kNoWidthLimit;
    // Centring or right-aligning against an unlimited width would place
    // lines near 2^31: such text is laid out left.
    if (unlimited) align = taLeft;
    const long long boxW = unlimited ? LLONG_MAX / 4 : w;
    if (space.h > h || (!unlimited && space.w > w)) return false;
    const long long sw = space.w;
    const long long lineHeight = static_cast<long long>(space.h * lineSpacing);

    cFasterTreeList<int, cTokenizedW> tree;
    if (!tokenizeString(text, -1, tree)) return false;
    std::vector<sToken> tokens;
    tokens.reserve(tree.count());
    for (auto* it = tree.first(); it; it = tree.next(it))
        tokens.push_back(sToken{it->value.text.get(), it->value.value});
    const std::size_t count = tokens.size();

    long long lineTop = 0;
    long long widest = 0;
    auto spaceWidth = [&](const sToken& t) { return t.value * sw; };

    // Draws tokens [from, to) from the offset with the given width per space
    // unit; returns the end offset.
    auto drawLine = [&](std::size_t from, std::size_t to, double offset, double unit) {
        for (std::size_t k = from; k < to; ++k) {
            const sToken& t = tokens[k];
            if (t.isWord()) {
                drawText(static_cast<int>(x + static_cast<long long>(offset)), static_cast<int>(y + lineTop),
                         transparent, t.text, -1);
                offset += static_cast<double>(t.value);
            } else {
                offset += static_cast<double>(t.value) * unit;
            }
        }
        widest = std::max(widest, static_cast<long long>(offset));
        lineTop += lineHeight;
    };
    auto alignOffset = [&](long long lineW) -> long long {
        if (align == taCenter) return (boxW - lineW) / 2;
        if (align == taRight) return boxW - lineW;
        return 0;
    };

    std::size_t begin = 0;
    long long L = 0, S = 0;
    std::size_t i = 0;
    while (i < count || begin < count) {
        // Fill the line from token i on.
        LineEnd reason = LineEnd::last;
        bool ended = false;
        while (i < count) {
            const sToken& t = tokens[i];
            const bool last = i + 1 == count;
            if (t.isWord()) {
                // A word too wide for the box goes on the line that holds
                // nothing yet rather than after an empty first line.
                if (L + t.value <= boxW || (i == 0 && L == 0)) {
                    L += t.value;
                    if (last) {
                        reason = LineEnd::last;
                        ended = true;
                        break;
                    }
                    ++i;
                    continue;
                }
                reason = LineEnd::wordNoFit;
            } else if (!t.isSpace()) {
                reason = LineEnd::lineBreak;
            } else if (spaceWidth(t) > boxW) {
                // A run no line can hold is clipped away.
                reason = LineEnd::spaceTooWide;
            } else if (L + spaceWidth(t) <= boxW) {
                L += spaceWidth(t);
                S += t.value;
                if (last) {
                    reason = LineEnd::last;
                    ended = true;
                    break;
                }
                ++i;
                continue;
            } else {
                reason = LineEnd::spaceNoFit;
            }
            ended = true;
            break;
        }
        if (!ended) break;

        // End the line at token i.
        // A word that did not fit takes the blanks before it off the line.
        // The last line keeps its blanks in its width, as it draws them:
        // otherwise a right-aligned last line would end past the box.
        std::size_t drawEnd = reason == LineEnd::last ? count : i;
        if (reason == LineEnd::wordNoFit && i > begin && tokens[i - 1].isSpace()) {
            L -= spaceWidth(tokens[i - 1]);
            S -= tokens[i - 1].value;
            drawEnd = i - 1;
        }
        double unit = static_cast<double>(sw);
        if (align == taJustify && S > 0 &&
            (reason == LineEnd::wordNoFit || reason == LineEnd::spaceNoFit || reason == LineEnd::spaceTooWide))
            unit += static_cast<double>((boxW - L) / S);
        drawLine(begin, drawEnd, static_cast<double>(alignOffset(L)), unit);
        if (reason == LineEnd::last) break;

        if (reason == LineEnd::wordNoFit && i + 1 == count) {
            // The last word did not fit: it goes on a line of its own.
            const long long width = tokens[i].value;
            long long wx = 0;
            if (align == taCenter)
                wx = (boxW - width) / 2;
            else if (align == taRight)
                wx = boxW - width;
            drawText(static_cast<int>(x + wx), static_cast<int>(y + lineTop), transparent, tokens[i].text, -1);
            widest = std::max(widest, width);
            lineTop += lineHeight;
            break;
        }

        // The next line's first token.
        begin = i;
        if (reason == LineEnd::spaceTooWide ||
            (reason == LineEnd::spaceNoFit && S > 0 && (align == taLeft || align == taJustify)))
            begin = i + 1;
        while (begin < count && tokens[begin].isSpace() && spaceWidth(tokens[begin]) > boxW) ++begin;
        if (begin >= count) break;
        const sToken& first = tokens[begin];
        L = first.isWord() ? first.value : spaceWidth(first);
        S = first.isSpace() ? first.value : 0;
        i = begin + 1;
        if (i == count) {
            // A word opening the last line is drawn there; trailing blanks
            // and line feeds end the text.
            if (first.isWord()) drawLine(begin, count, static_cast<double>(alignOffset(L)), static_cast<double>(sw));
            break;
        }
    }

    used.w = static_cast<int>(std::min<long long>(widest, INT_MAX));
    used.h = static_cast<int>(std::min<long long>(lineTop, INT_MAX));
    return true;
}

// ---------------------------------------------------------------------------
// Visibility and pictures

bool cCanvas::inDrawArea(sRect* r) {
    if (!r) return false;
    if (r->x > width() || r->y > height()) return false;
    if (static_cast<long long>(r->x) + r->w < 0 || static_cast<long long>(r->y) + r->h < 0) return false;
    return true;
}

bool cCanvas::drawBitmap(sPoint* at, cPicture* picture, sSize* size) {
    if (!at || !picture) return false;
    return drawBitmap(at->x, at->y, picture, size ? size->w : -1, size ? size->h : -1);
}

bool cCanvas::drawBitmapResized(cPicture* picture, int w, int h, int x, int y, cPicture::eResizeMethod method) {
    if (!picture || picture->empty() || w <= 0 || h <= 0) return false;
    const long long cw = width(), ch = height();
    const long long vx0 = std::max<long long>(x, 0), vx1 = std::min<long long>(static_cast<long long>(x) + w, cw);
    const long long vy0 = std::max<long long>(y, 0), vy1 = std::min<long long>(static_cast<long long>(y) + h, ch);
    if (vx1 <= vx0 || vy1 <= vy0) return false;
    const long long visW = vx1 - vx0, visH = vy1 - vy0;

    const double rx = static_cast<double>(picture->width()) / w;
    const double ry = static_cast<double>(picture->height()) / h;
    const long long hiddenX = x < 0 ? -static_cast<long long>(x) : 0;
    const long long hiddenY = y < 0 ? -static_cast<long long>(y) : 0;
    long long sx = static_cast<long long>(hiddenX * rx + 0.5);
    long long sy = static_cast<long long>(hiddenY * ry + 0.5);
    long long sw = static_cast<long long>(visW * rx + 0.5);
    long long sh = static_cast<long long>(visH * ry + 0.5);
    sx = std::min<long long>(sx, picture->width() - 1);
    sy = std::min<long long>(sy, picture->height() - 1);
    sw = std::max<long long>(1, std::min<long long>(sw, picture->width() - sx));
    sh = std::max<long long>(1, std::min<long long>(sh, picture->height() - sy));

    cPicture block;
    if (!block.create(static_cast<int>(sw), static_cast<int>(sh))) return false;
    const unsigned int* src = picture->raw();
    for (long long row = 0; row < sh; ++row)
        std::memcpy(block.raw() + row * sw, src + (sy + row) * picture->width() + sx,
                    static_cast<std::size_t>(sw) * sizeof(unsigned int));
    cPicture resized;
    if (!block.resizing(method, static_cast<int>(visW), static_cast<int>(visH), &resized)) return false;
    return drawBitmap(static_cast<int>(vx0), static_cast<int>(vy0), &resized, static_cast<int>(visW),
                      static_cast<int>(visH));
}
