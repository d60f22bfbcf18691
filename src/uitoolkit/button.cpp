#include "uitoolkit/button.h"

#include "uitoolkit/themevalues.h"

#include <cstring>

namespace {
const int kKeySpace = 0x20;
const int kKeyPadEnter = 0x18D;
}  // namespace

cButtonChild::cButtonChild() = default;
cButtonChild::~cButtonChild() = default;

void cButtonChild::rp() {
    if (visible()) repaint(nullptr);
}

cChildPicture& cButtonChild::image(int state) {
    switch (state) {
        case bsDisabled: return mImages[3];
        case bsPressed: return mImages[2];
        case bsFocused:
        case bsHover: return mImages[1];
        default: return mImages[0];
    }
}

void cButtonChild::refStateBackImage(int state, cPicture* p) { mStateBack[state] = p; }

cPicture* cButtonChild::stateBackImage(int state) {
    if (state < bsNormal || state > bsDisabled) return nullptr;
    auto it = mStateBack.find(state);
    if (it != mStateBack.end() && it->second) return it->second;
    return currentThemeValues()->picture(23 + state);
}

cPicture* cButtonChild::forDraw(int state) {
    cPicture* normal = mImages[0].image();
    switch (state) {
        case bsDisabled: return mImages[3].image() ? mImages[3].image() : normal;
        case bsPressed:
            if (mImages[2].image()) return mImages[2].image();
            return mImages[1].image() ? mImages[1].image() : normal;
        case bsFocused:
        case bsHover: return mImages[1].image() ? mImages[1].image() : normal;
        default: return normal;
    }
}

void cButtonChild::setText(const char* t) {
    mCaption.set(t);
    sizeChanged();
    rp();
}

void cButtonChild::setText(const char* t, long long len, bool repaint) {
    if (!t) mCaption.clear();
    else mCaption.set(t, len < 0 ? static_cast<long long>(std::strlen(t)) : len);
    sizeChanged();
    if (repaint) rp();
}

void cButtonChild::setAlign(cCanvas::eTextAlign a, bool repaint) {
    if (a == mAlign) return;
    mAlign = a;
    if (repaint) rp();
}

void cButtonChild::setBorder(eBorderStyle b, bool repaint) {
    if (b == mBorder) return;
    mBorder = b;
    if (repaint) rp();
}

void cButtonChild::setStyle(eDispStyle s, bool repaint) {
    if (s == mStyle) return;
    mStyle = s;
    sizeChanged();
    if (repaint) rp();
}

void cButtonChild::setFont(cFontObject* f) {
    if (f == mFont) return;
    mFont = f;
    sizeChanged();
    rp();
}

void cButtonChild::setTextColor(unsigned int c, bool repaint) {
    if (mTextColors[0] == c) return;
    for (unsigned int& t : mTextColors) t = c;
    if (repaint) rp();
}

void cButtonChild::setTextColor(int state, unsigned int c, bool repaint) {
    if (state < 0 || state > 3 || mTextColors[state] == c) return;
    mTextColors[state] = c;
    if (repaint) rp();
}

void cButtonChild::setDsbTextColor(unsigned int c, bool repaint) {
    if (c == mDsbText) return;
    mDsbText = c;
    if (repaint) rp();
}

void cButtonChild::setBgColor(unsigned int c, bool repaint) {
    if (c == mBg) return;
    mBg = c;
    if (repaint) rp();
}

void cButtonChild::setDsbBgColor(unsigned int c, bool repaint) {
    if (c == mDsbBg) return;
    mDsbBg = c;
    if (repaint) rp();
}

void cButtonChild::setBorderColors(int state, unsigned int first, unsigned int second) {
    if (state < 0 || state > 4) return;
    if (first != 0xFFFFFFFFu) mBorder1[state] = first;
    if (second != 0xFFFFFFFFu) mBorder2[state] = second;
}

int cButtonChild::requiredWidth() {
    if (mReqW < 0) mReqW = requiredWidth(this, mCaption.get(), mImages[0].image(), static_cast<eDispStyle>(mStyle), mFont);
    return mReqW;
}

int cButtonChild::requiredHeight() {
    if (mReqH < 0)
        mReqH = requiredHeight(this, mCaption.get(), mImages[0].image(), static_cast<eDispStyle>(mStyle), mFont);
    return mReqH;
}

namespace {
sSize measure(cChildElement* e, const char* text, cFontObject* f) {
    sSize s{0, 0};
    if (!e || !text || !*text) return s;
    if (!e->sizeOf(text, s, f ? f : e->stdFont())) s = sSize{0, 0};
    return s;
}
}  // namespace

int cButtonChild::requiredWidth(cChildElement* e, const char* text, cPicture* p, eDispStyle s, cFontObject* f) {
    const bool hasText = text && *text;
    int pic = 5;
    if (p && s == dsImageLeft) pic = p->width() + (hasText ? 11 : 6);
    int w = pic + measure(e, text, f).w + 5;
    if (s == dsImageAbove && p && w < p->width() + 6) w = p->width() + 6;
    return w;
}

int cButtonChild::requiredHeight(cChildElement* e, const char* text, cPicture* p, eDispStyle s, cFontObject* f) {
    const int th = measure(e, text, f).h;
    const int ph = p ? p->height() : 0;
    if (s == dsImageAbove) return th + ph + (p && th > 0 ? 2 : 0) + 6;
    if (s == dsImageLeft) return (th > ph ? th : ph) + 6;
    return 0;
}

int cButtonChild::state() const {
    if (!enabled()) return bsDisabled;
    if (mPressed) return bsPressed;
    if (mHover) return bsHover;
    if (focused()) return bsFocused;
    return bsNormal;
}

namespace {
void line(cCanvas* c, int x0, int y0, int x1, int y1) {
    sPoint a{x0, y0}, b{x1, y1};
    c->drawLine(&a, &b);
}
void outer(cCanvas* c, int w, int h, unsigned int c1, unsigned int c2) {
    c->setLineMode(c1, 1);
    line(c, 0, 0, w, 0);
    line(c, 0, 0, 0, h);
    c->setLineMode(c2, 1);
    line(c, w - 1, h - 1, 0, h - 1);
    line(c, w - 1, h - 1, w - 1, 0);
}
void back(cCanvas* c, cPicture* p, int x, int y, int w, int h) {
    if (p) c->drawBitmap(x, y, p, w, h);
}
}  // namespace

void cButtonChild::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    const int w = width(), h = height();
    const int S = state();
    const unsigned int c1 = mBorder1[S], c2 = mBorder2[S];
    const bool frame = (S >= 1 && S <= 3) || !transparent();
    if (frame) {
        switch (mBorder) {
            case bdRaised:
                outer(canvas, w, h, c1, c2);
                canvas->setLineMode(currentThemeValues()->color(52), 1);
                line(canvas, 1, 1, w - 1, 1);
                line(canvas, 1, 1, 1, h - 1);
                line(canvas, w - 2, h - 2, 1, h - 2);
                line(canvas, w - 2, h - 2, w - 2, 1);
                back(canvas, stateBackImage(S), 2, 2, w - 4, h - 4);
                break;
            case bdPicture: back(canvas, stateBackImage(S), 0, 0, w, h); break;
            case bdFlat:
                outer(canvas, w, h, c2, c2);
                back(canvas, stateBackImage(S), 1, 1, w - 2, h - 2);
                break;
            case bdSingle:
            case bdSingleFilled:
                outer(canvas, w, h, c1, c2);
                if (mBorder == bdSingleFilled && (S == bsNormal || S == bsDisabled)) {
                    unsigned int fill = mBg;
                    if (S == bsDisabled) {
                        if (mDsbBg != 0xFFFFFFFFu) {
                            fill = mDsbBg;
                        } else {
                            // Halfway towards grey; the division truncates towards zero.
                            fill = mBg & 0xFF000000u;
                            for (int sh = 0; sh < 24; sh += 8) {
                                int v = static_cast<int>((mBg >> sh) & 0xFF);
                                fill |= static_cast<unsigned int>((v - 128) / 2 + 128) << sh;
                            }
                        }
                    }
                    sRect r{1, 1, w - 2, h - 2};
                    canvas->drawRect(&r, fill, fill);
                } else {
                    back(canvas, stateBackImage(S), 1, 1, w - 2, h - 2);
                }
                break;
            case bdFlatUntilTouched:
                if (S == bsNormal || S == bsDisabled) {
                    sRect r{0, 0, w, h};
                    canvas->drawRect(&r, mBg, mBg);
                } else {
                    outer(canvas, w, h, c1, c2);
                    back(canvas, stateBackImage(S), 1, 1, w - 2, h - 2);
                }
                break;
            case bdPlainFill: {
                sRect r{0, 0, w, h};
                canvas->drawRect(&r, mBg, mBg);
                break;
            }
            default: break;
        }
    }
    cPicture* img = forDraw(S);
    const int down = mPressed ? 1 : 0;
    if (mBorder == bdPlainFill && img) {
        sPoint at{(w - img->width()) / 2, (h - img->height()) / 2 + down};
        canvas->drawTransparent(&at, img, nullptr);
    }
    if (mFont) canvas->setTextMode(mFont);
    canvas->setTextColors(S == bsDisabled ? mDsbText : mTextColors[S], 0);
    const char* cap = mCaption.get();
    const long long capLen = cap ? static_cast<long long>(std::strlen(cap)) : 0;
    sSize ts{0, 0};
    if (capLen > 0) canvas->textSize(cap, capLen, ts);
    int margin = 3, y = 3;
    bool drawText = capLen > 0;
    if (mStyle == dsImageAbove) {
        y = img ? img->height() + 5 : 3;
    } else if (mStyle == dsImageLeft) {
        margin = img ? img->width() + 8 : 3;
        y = (h - ts.h) / 2;
    }
    int tx = -1;
    if (drawText)
        tx = canvas->drawTextLimited(2, y + down, w - 4, ts.h, mAlign, true, margin, 3, cap, capLen, nullptr, false);
    if (img && mBorder != bdPlainFill) {
        if (tx < 0) tx = w;
        int x = 0, iy = 0;
        if (mStyle == dsImageAbove) {
            x = 3;
            iy = capLen > 0 ? 3 : (h - img->height()) / 2;
            if (mAlign == cCanvas::taCenter) x = (w - img->width()) / 2;
            else if (mAlign == cCanvas::taRight) x = w - 3 - img->width();
        } else if (mStyle == dsImageLeft) {
            x = (tx - img->width()) / 2;
            iy = (h - img->height()) / 2;
        }
        sRect whole{0, 0, w, h};
        sRect strip{x, 2, img->width(), h - 4};
        canvas->clip(&whole);
        canvas->unclip(&strip);
        sPoint at{x, iy + down};
        canvas->drawTransparent(&at, img, nullptr);
        canvas->unclip(&whole);
    }
}

bool cButtonChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    if (!enabled()) {
        // A press that outlived the enabled state must not keep the pointer.
        if (!down && mPressed) {
            mPressed = false;
            releasePointer();
        }
        return false;
    }
    if (down) {
        mPressed = true;
        rp();
        capturePointer(false);
    } else if (mPressed) {
        mPressed = false;
        rp();
        releasePointer();
        if (inme(x, y)) notifyAction(0);
    }
    return true;
}

void cButtonChild::onMouseOver() {
    cChildElement::onMouseOver();
    mHover = true;
    if (enabled()) rp();
}

void cButtonChild::onMouseLeft() {
    cChildElement::onMouseLeft();
    mHover = false;
    if (enabled()) rp();
}

void cButtonChild::onKey(int key, bool, bool, bool) {
    if (!enabled() || (key != kKeySpace && key != kKeyPadEnter)) return;
    mPressed = true;
    rp();
    notifyAction(0);
    mPressed = false;
    rp();
}

void cButtonChild::onSetFocus(bool, bool) {
    if (enabled()) rp();
}

void cButtonChild::onLooseFocus(bool, bool) {
    if (enabled()) rp();
}

void cButtonChild::onEnableChanged(bool en) {
    if (!en && mPressed) {
        // Disabled in the middle of a press: the press is over and the
        // pointer goes back to the window, or no other element would ever
        // see it again.
        mPressed = false;
        releasePointer();
    }
}

void cButtonChild::onInitData() {
    cChildElement::onInitData();
    cThemeValues* t = currentThemeValues();
    mHover = mPressed = false;
    mFont = stdFont();
    mAlign = 0;
    mBorder = bdRaised;
    mStyle = dsImageLeft;
    mReqW = mReqH = -1;
    mBg = t->color(14);
    mDsbBg = 0xFFFFFFFFu;
    for (unsigned int& c : mTextColors) c = t->color(4);
    mDsbText = t->color(5);
    const int first[5] = {53, 55, 57, 57, 59}, second[5] = {54, 56, 58, 58, 60};
    for (int i = 0; i < 5; ++i) {
        mBorder1[i] = t->color(first[i]);
        mBorder2[i] = t->color(second[i]);
    }
}

// ---------------------------------------------------------------------------

cGenButtonChild::cGenButtonChild() = default;
cGenButtonChild::~cGenButtonChild() = default;

void cGenButtonChild::setActivated(bool a, bool rpt) {
    if (a == mActivated) return;
    mActivated = a;
    if (rpt && visible()) repaint(nullptr);
}

bool cGenButtonChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    if (!enabled() || mActivated) {
        if (!down && mPressed) {
            mPressed = false;
            releasePointer();
        }
        return false;
    }
    if (down) {
        mPressed = true;
        if (visible()) repaint(nullptr);
        capturePointer(false);
    } else if (mPressed) {
        mPressed = false;
        if (visible()) repaint(nullptr);
        releasePointer();
        if (inme(x, y)) notifyAction(0);
    }
    return true;
}

void cGenButtonChild::onMouseOver() {
    cChildElement::onMouseOver();
    mHover = true;
    if (enabled() && visible()) repaint(nullptr);
}

void cGenButtonChild::onMouseLeft() {
    cChildElement::onMouseLeft();
    mHover = false;
    if (enabled() && visible()) repaint(nullptr);
}

void cGenButtonChild::onKey(int key, bool, bool, bool) {
    if (!enabled() || mActivated || (key != kKeySpace && key != kKeyPadEnter)) return;
    mPressed = true;
    if (visible()) repaint(nullptr);
    notifyAction(0);
    mPressed = false;
    if (visible()) repaint(nullptr);
}

void cGenButtonChild::onSetFocus(bool, bool) {
    if (enabled() && visible()) repaint(nullptr);
}

void cGenButtonChild::onLooseFocus(bool, bool) {
    if (enabled() && visible()) repaint(nullptr);
}

void cGenButtonChild::onEnableChanged(bool en) {
    if (!en && mPressed) {
        mPressed = false;
        releasePointer();
    }
}

void cGenButtonChild::onInitData() {
    cChildElement::onInitData();
    mHover = mPressed = mActivated = false;
}
