#include "uitoolkit/editfield.h"

#include "base/strutil.h"
#include "base/textenc.h"
#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kHome = 0x150, kLeft = 0x151, kUp = 0x152, kRight = 0x153, kDown = 0x154, kEnd = 0x157;
constexpr int kBackSpace = 0x108, kInsert = 0x163, kEscape = 0x11B, kKpEnter = 0x18D, kDelete = 0x1FF;
constexpr unsigned short kBullet = 0x2022;

unsigned int themeColor(int i) { return currentThemeValues()->color(i); }

// Units a single-line field must not take in: C0 controls, DEL and C1
// controls (a pasted line feed or escape sequence would corrupt the line).
bool isControl(unsigned short u) { return u < 0x20 || (u >= 0x7F && u <= 0x9F); }
bool isHighSurrogate(unsigned short u) { return u >= 0xD800 && u <= 0xDBFF; }

}  // namespace

cEditChild::cEditChild() {
    mText.set(257);
    mMask.set(257);
    mRuler.set(257);
    std::fill(mText.data(), mText.data() + mText.count(), 0);
    std::fill(mMask.data(), mMask.data() + 256, kBullet);
    mMask[256] = 0;
    std::fill(mRuler.data(), mRuler.data() + mRuler.count(), 0);
    static const int kSets[5][3] = {{27, 4, 32}, {29, 4, 34}, {28, 4, 33}, {30, 5, 35}, {31, 4, 36}};
    for (int i = 0; i < 5; ++i)
        mColors[i] = {themeColor(kSets[i][0]), themeColor(kSets[i][1]), themeColor(kSets[i][2])};
    mSelColor = themeColor(17);
    mSelInactiveColor = themeColor(18);
    setDoubleBuffer(true);
}

cEditChild::~cEditChild() = default;

// ---------------------------------------------------------------------------
// Text

long long cEditChild::length() const {
    const unsigned short* t = mText.data();
    if (!t) return 0;
    long long n = 0, cap = mText.count();
    while (n < cap && t[n]) ++n;
    return n;
}

const char* cEditChild::text() const {
    if (!mText.data()) return nullptr;
    _w2pc(mText.data(), length(), mUtf8);
    return mUtf8.get();
}

void cEditChild::text(char* buffer, long long size) const {
    if (!buffer || size <= 0) return;
    _w2pc(mText.data(), length(), buffer, size);
}

void cEditChild::setText(const char* utf8, long long len) {
    wipeText();
    long long cap = mText.count();
    if (cap > 0 && utf8) {
        _guardchar<unsigned short> wide;
        _pc2w(utf8, len, wide);
        const unsigned short* w = wide.get();
        long long n = 0;
        // The last unit stays the terminating NUL; a pair is never cut in half.
        while (w && w[n] && n < cap - 1) ++n;
        if (n > 0 && n == cap - 1 && isHighSurrogate(w[n - 1]) && w[n]) --n;
        if (n > 0) std::memcpy(mText.data(), w, size_t(n) * sizeof(unsigned short));
    }
    mCaret = 0;
    mScroll = 0;
    clearSelection();
    repaint();
}

void cEditChild::wipeText() {
    if (mText.data()) std::fill(mText.data(), mText.data() + mText.count(), 0);
}

void cEditChild::setBanner(const char* utf8) { mBanner.set(utf8); }

void cEditChild::setU64(unsigned long long value, bool hex, char separator) {
    char digits[32];
    std::snprintf(digits, sizeof digits, hex ? "0x%llX" : "%llu", value);
    std::string out = digits;
    if (separator) {
        // Groups of three counted from the right end; the prefix counts too.
        std::string grouped;
        size_t len = out.size();
        for (size_t i = 0; i < len; ++i) {
            if (i > 0 && (len - i) % 3 == 0) grouped += separator;
            grouped += out[i];
        }
        out = grouped;
    }
    setText(out.c_str(), (long long)out.size());
}

unsigned long long cEditChild::asU64() const {
    const char* t = text();
    if (!t) return ~0ull;
    // Plain decimal digits are read unsigned, so that every value setU64
    // writes reads back (a signed reading stops at 2^63 - 1).
    const char* p = t;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p >= '0' && *p <= '9' && !(p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
        unsigned long long v = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            unsigned d = unsigned(*p - '0');
            if (v > (~0ull - d) / 10) return ~0ull;
            v = v * 10 + d;
        }
        if (*p == 0) return v;
    }
    return strToU64(t);
}

bool cEditChild::setMaxLen(long long n) {
    if (n < 0 || n > kMaxMaxLen) return false;
    mText.set(n + 1);
    mMask.set(n + 1);
    mRuler.set(n + 1);
    if (!mText.data() || !mMask.data() || !mRuler.data()) return false;
    std::fill(mText.data(), mText.data() + n + 1, 0);
    std::fill(mMask.data(), mMask.data() + n, kBullet);
    mMask[n] = 0;
    std::fill(mRuler.data(), mRuler.data() + n + 1, 0);
    mCaret = 0;
    mScroll = 0;
    clearSelection();
    return true;
}

// ---------------------------------------------------------------------------
// Modes and colours

void cEditChild::setCursorForRO(bool b) {
    if (mCursorForRO == b) return;
    mCursorForRO = b;
    repaint();
}

void cEditChild::resetColors(unsigned int background, unsigned int text, unsigned int border) {
    for (int i = 0; i < 4; ++i) mColors[i] = {background, text, border};
}

void cEditChild::setColors(int set, unsigned int background, unsigned int text) {
    if (set < 0 || set > 4) return;
    bool changed = mColors[set].bg != background || mColors[set].fg != text;
    mColors[set].bg = background;
    mColors[set].fg = text;
    if (changed) repaint();
}

void cEditChild::setBorderColor(int set, unsigned int colour) {
    if (set < 0 || set > 4) return;
    bool changed = mColors[set].border != colour;
    mColors[set].border = colour;
    if (changed && mBorder) repaint();
}

void cEditChild::setStdFont(int width, int size, const char* face, bool bold, bool underline, bool italic) {
    mFont = createFont(width, size, face, bold, underline, italic);
}

void cEditChild::setBanFont(int width, int size, const char* face, bool bold, bool underline, bool italic) {
    mBannerFont = createFont(width, size, face, bold, underline, italic);
}

// ---------------------------------------------------------------------------
// Caret and selection

void cEditChild::cancelSelection() {
    clearSelection();
    repaint();
}

void cEditChild::removeUnits(long long from, long long count) {
    long long len = length();
    if (from < 0 || count <= 0 || from >= len) return;
    count = std::min(count, len - from);
    unsigned short* t = mText.data();
    // The rest of the text moves down with its NUL; the freed tail is zeroed.
    std::memmove(t + from, t + from + count, size_t(len - from - count + 1) * sizeof(unsigned short));
    std::fill(t + len - count + 1, t + std::min(len + 1, mText.count()), 0);
}

bool cEditChild::deleteSelection() {
    if (mReadOnly || !hasSelection()) return false;
    long long s = mSelStart, e = mSelEnd;
    clearSelection();
    repaint();
    long long len = length();
    if (s > e || s >= len) return false;
    e = std::min(e, len - 1);
    removeUnits(s, e - s + 1);
    mCaret = s;
    return true;
}

bool cEditChild::cb_copy() {
    if (!hasSelection() || mPassword) return false;
    long long len = length();
    long long s = mSelStart, e = std::min(mSelEnd, len - 1);
    if (s > e || s >= len) return false;
    _guardchar<char> utf8;
    _w2pc(mText.data() + s, e - s + 1, utf8);
    const char* t = utf8.get() ? utf8.get() : "";
    return clipboardCopyText(t, (long long)std::strlen(t) + 1);
}

bool cEditChild::cb_cut() {
    // A hidden text is neither exposed nor destroyed by a cut.
    if (mPassword) return false;
    if (!cb_copy()) return false;
    return deleteSelection();
}

bool cEditChild::cb_paste() {
    if (mReadOnly) return false;
    deleteSelection();
    _guardchar<char> utf8;
    if (!clipboardRequestText(utf8) || !utf8.get()) return false;
    _guardchar<unsigned short> wide;
    _pc2w(utf8.get(), -1, wide);
    if (!wide.get()) return false;
    long long cap = mText.count();
    long long len = length();
    long long caret = std::min(mCaret, len);
    std::vector<unsigned short> out(mText.data(), mText.data() + caret);
    const unsigned short* p = wide.get();
    for (long long i = 0; p[i] && (long long)out.size() < cap - 1; ++i) {
        // The line breaks (CR, LF or both) and tabs of text copied from
        // several lines or a table separate words: each becomes one space,
        // so the words are never glued.  Other controls are left out.
        if (p[i] == '\r' && p[i + 1] == '\n') continue;
        if (p[i] == '\r' || p[i] == '\n' || p[i] == '\t') {
            out.push_back(' ');
            continue;
        }
        if (isControl(p[i])) continue;
        // A pair that would not fit whole is left out.
        if (isHighSurrogate(p[i]) && (long long)out.size() + 1 >= cap - 1) break;
        out.push_back(p[i]);
    }
    long long newCaret = (long long)out.size();
    for (long long i = caret; i < len && (long long)out.size() < cap - 1; ++i) out.push_back(mText[i]);
    std::fill(mText.data(), mText.data() + cap, 0);
    if (!out.empty()) std::memcpy(mText.data(), out.data(), out.size() * sizeof(unsigned short));
    mCaret = newCaret;
    repaint();
    return true;
}

long long cEditChild::symbolPos(int x) const {
    long long len = length();
    if (len == 0) return 0;
    long long p = (long long)x - mScroll;
    long long n = std::min(len, mRuler.count());
    for (long long i = 0; i < n; ++i) {
        if (mRuler[i] > p) {
            long long prev = i > 0 ? mRuler[i - 1] : 0;
            return (p - prev > mRuler[i] - p) ? i + 1 : i;
        }
    }
    return len;
}

void cEditChild::processSelectKbd(long long from, long long to) {
    if ((mReadOnly && !mCursorForRO) || from == to) return;
    long long len = length();
    long long& s = mSelStart;
    long long& e = mSelEnd;
    if (to > from) {
        if (to > len) return;
        if (!hasSelection()) {
            s = from;
            e = to - 1;
        } else if (from == e + 1) {
            e = to - 1;
        } else if (from == s) {
            s = to;
            if (to - 1 == e) clearSelection();
            else if (e < to - 1) {
                s = e + 1;
                e = to - 1;
            }
        } else {
            clearSelection();
            repaint();
        }
    } else {
        if (from < 1) return;
        if (!hasSelection()) {
            s = to;
            e = from - 1;
        } else if (from == s) {
            s = to;
        } else if (from == e + 1) {
            e = to - 1;
            if (s > to - 1) {
                if (to == s) clearSelection();
                else {
                    e = s - 1;
                    s = to;
                }
            }
        } else {
            clearSelection();
            repaint();
        }
    }
}

void cEditChild::selectAll() {
    clearSelection();
    long long len = length();
    processSelectKbd(0, len);
    mCaret = len;
    repaint();
}

// ---------------------------------------------------------------------------
// Element hooks

void cEditChild::onInitData() {
    cChildElement::onInitData();
    clearSelection();
}

void cEditChild::onConstruct() {
    setTransparent(false);
    setPointer(mptIBeam);
    mFont = stdFont();
    mBannerFont = stdFontItalic();
}

bool cEditChild::onMouseButton(int x, int, int button, bool down) {
    if (button != 1) return false;
    if (down) {
        clearSelection();
        capturePointer(false);
        mMouseSelecting = true;
        mCaret = symbolPos(x);
    } else {
        releasePointer();
        mMouseSelecting = false;
    }
    repaint();
    return true;
}

void cEditChild::onMouseMoving(int x, int) {
    if (!mMouseSelecting) return;
    long long p = symbolPos(x);
    if (p == mCaret) return;
    processSelectKbd(mCaret, p);
    repaint();
    mCaret = p;
}

void cEditChild::onMouseOver() {
    cChildElement::onMouseOver();
    mHovered = true;
    repaint();
}

void cEditChild::onMouseLeft() {
    cChildElement::onMouseLeft();
    mHovered = false;
    repaint();
}

void cEditChild::onMouseDoubleClick(int x, int) {
    long long len = length();
    // An empty field has no word to pick.
    if (len == 0) return;
    long long p = symbolPos(x);
    long long at = p < len ? p : len - 1;
    bool white = isWhite(mText[at]);
    long long end = p;
    while (end < len && isWhite(mText[end]) == white) ++end;
    long long start = p;
    while (start > 0 && isWhite(mText[start - 1]) == white) --start;
    if (start < end) {
        clearSelection();
        processSelectKbd(start, end);
        mCaret = end;
        repaint();
    }
}

void cEditChild::onChar(unsigned short unit, bool, bool, bool) {
    if (mReadOnly) return;
    // Keys such as BackSpace, Enter and Escape come as keys; the control
    // units some platforms send along with them are not text.
    if (isControl(unit)) return;
    deleteSelection();
    long long len = length();
    if (len >= maxLen()) return;
    long long c = std::min(mCaret, len);
    unsigned short* t = mText.data();
    std::memmove(t + c + 1, t + c, size_t(len - c + 1) * sizeof(unsigned short));
    t[c] = unit;
    mCaret = c + 1;
    repaint();
}

void cEditChild::onKey(int key, bool shift, bool ctrl, bool) {
    long long len = length();
    long long old = mCaret;
    auto afterMove = [&]() {
        if (shift) processSelectKbd(old, mCaret);
        else {
            clearSelection();
            repaint();
        }
    };
    switch (key) {
        case kHome:
        case kUp:
            mCaret = 0;
            if (old != mCaret) repaint();
            afterMove();
            break;
        case kEnd:
        case kDown:
            mCaret = len;
            if (old != mCaret) repaint();
            afterMove();
            break;
        case kLeft:
            if (mCaret > 0) {
                if (ctrl) {
                    bool white = isWhite(mText[mCaret - 1]);
                    while (mCaret > 0 && isWhite(mText[mCaret - 1]) == white) --mCaret;
                } else {
                    --mCaret;
                }
                repaint();
            }
            afterMove();
            break;
        case kRight:
            if (mCaret < len) {
                if (ctrl) {
                    bool white = isWhite(mText[mCaret]);
                    while (mCaret < len && isWhite(mText[mCaret]) == white) ++mCaret;
                } else {
                    ++mCaret;
                }
                repaint();
            }
            afterMove();
            break;
        case kBackSpace:
            if (mReadOnly || deleteSelection()) break;
            if (mCaret > 0 && mCaret <= len) {
                removeUnits(mCaret - 1, 1);
                --mCaret;
                repaint();
            }
            break;
        case kDelete:
            if (mReadOnly) break;
            if (shift) {
                cb_cut();
                break;
            }
            if (deleteSelection()) break;
            if (mCaret < len) {
                removeUnits(mCaret, 1);
                repaint();
            }
            break;
        case kInsert:
            if (ctrl) cb_copy();
            else if (shift) cb_paste();
            break;
        case kEscape:
            if (hasSelection()) cancelSelection();
            else notifyAction(kActionEscape);
            break;
        case kKpEnter:
            notifyAction(kActionEnter);
            break;
        case 0x41:
            if (ctrl) selectAll();
            break;
        case 0x43:
            if (ctrl) cb_copy();
            break;
        case 0x56:
            if (ctrl) cb_paste();
            break;
        case 0x58:
            if (ctrl) cb_cut();
            break;
        default:
            break;
    }
}

void cEditChild::onSetFocusEvent(eEventOrigin origin, bool a, bool b) {
    if (mSelectOnFocus && !mReadOnly) {
        clearSelection();
        repaint();
        selectAll();
    }
    repaint();
    cChildElement::onSetFocusEvent(origin, a, b);
}

void cEditChild::onLooseFocus(bool, bool) {
    clearSelection();
    repaint();
    notifyAction(kActionFocusLost);
}

// ---------------------------------------------------------------------------
// Painting

void cEditChild::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    int w = width(), h = height();
    bool en = enabled();
    bool foc = focused();
    int set = !en ? ctDisabled : (mUseSet4 ? ctSpecial : (foc ? ctFocused : (mHovered ? ctHover : ctNormal)));
    int borderSet = !en ? ctDisabled : (mHovered ? ctHover : (foc ? ctFocused : ctNormal));
    unsigned int bg = mColors[set].bg, fg = mColors[set].fg;
    sRect all{0, 0, w, h};
    canvas->drawRect(&all, bg, mBorder ? mColors[borderSet].border : bg);
    if (mBorder) {
        sRect inner{1, 1, w - 2, h - 2};
        canvas->clip(&all);
        canvas->unclip(&inner);
        canvas->select();
    }
    long long len = length();
    if (len == 0 && !foc) {
        if (mBanner.get() && mBanner.get()[0] && !mReadOnly) {
            if (mBannerFont) canvas->setTextMode(mBannerFont);
            sSize ws{0, 0};
            canvas->textSize("W", 1, ws);
            canvas->setTextColors(themeColor(8), bg);
            canvas->drawText(2, (h - ws.h) / 2, true, mBanner.get(), -1);
        }
        return;
    }
    if (mFont) canvas->setTextMode(mFont);
    sSize ws{0, 0};
    canvas->textSize("W", 1, ws);
    int th = ws.h;
    int y = (h - th) / 2;
    const unsigned short* str = mPassword ? mMask.data() : mText.data();
    if (!str) return;
    long long caret = std::min(mCaret, len);
    auto widthOf = [&](long long n) -> long long {
        if (n <= 0) return 0;
        sSize s{0, 0};
        canvas->textSize(str, n, s);
        return s.w;
    };
    long long cx;
    if (caret == 0) {
        mScroll = 0;
        cx = 1;
    } else {
        cx = widthOf(caret) + 1 + mScroll;
    }
    if (cx > w - 2) {
        mScroll -= cx - (w - 2);
        cx = w - 2;
    }
    if (cx < w / 8) {
        mScroll += std::max<long long>(1 - cx, w / 4);
        if (mScroll > 0) mScroll = 0;
        cx = caret == 0 ? 1 : widthOf(caret) + 1 + mScroll;
    }
    std::fill(mRuler.data(), mRuler.data() + mRuler.count(), 0);
    if (len > 0) canvas->textRuler(str, std::min(len, mRuler.count()), mRuler.data());

    int x0 = int(2 + mScroll);
    bool validSel = hasSelection() && mSelEnd < len && mSelStart < len && mSelEnd >= mSelStart;
    if (!validSel) {
        canvas->setTextColors(fg, bg);
        if (len > 0) canvas->drawText(x0, y, false, str, len);
    } else {
        long long s = mSelStart, e = mSelEnd;
        long long x = x0;
        if (s > 0) {
            canvas->setTextColors(fg, bg);
            canvas->drawText(int(x), y, false, str, s);
            x = x0 + widthOf(s);
        }
        canvas->setTextColors(themeColor(10), foc ? mSelColor : mSelInactiveColor);
        canvas->drawText(int(x), y, false, str + s, e - s + 1);
        if (e + 1 < len) {
            x = x0 + widthOf(e + 1);
            canvas->setTextColors(fg, bg);
            canvas->drawText(int(x), y, false, str + e + 1, len - e - 1);
        }
    }
    if (foc && en && (!mReadOnly || mCursorForRO)) {
        canvas->setLineMode(fg, 1);
        sPoint a{int(cx), y}, b{int(cx), y + th};
        canvas->drawLine(&a, &b);
    }
}
