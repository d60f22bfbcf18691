#include "uitoolkit/static.h"

#include "uitoolkit/themevalues.h"

#include <cstring>
#include <string>

cStaticElement::cStaticElement() = default;

cStaticElement::~cStaticElement() = default;

void cStaticElement::changed() {
    if (visible()) repaint(nullptr);
}

void cStaticElement::setImage(cPicture* image, bool rp) {
    if (image == mImage) return;
    mImage = image;
    if (rp) changed();
}

void cStaticElement::setText(char* text, cCanvas::eTextAlign align, bool rp) {
    mAlign = align;
    setText(text, text ? static_cast<long long>(std::strlen(text)) : 0, rp);
}

void cStaticElement::setText(const char* text, long long len, bool rp) {
    {
        cSafeCriticalSectionAccess guard(&mTextLock);
        cChildElement::setText(text, len, false);
    }
    // The repaint request travels to the window, which takes requests from
    // any thread; it must not be made while holding the text lock.
    if (rp) changed();
}

std::string cStaticElement::textCopy() {
    cSafeCriticalSectionAccess guard(&mTextLock);
    const char* t = mText.get();
    return t ? std::string(t, mText.length()) : std::string();
}

void cStaticElement::setFont(cFontObject* font) {
    if (!font) font = stdFont();
    if (font == mFont) return;
    mFont = font;
    changed();
}

void cStaticElement::setTextColor(unsigned int c) {
    if (c == mTextColor) return;
    mTextColor = c;
    changed();
}

void cStaticElement::setBgColor(unsigned int c) {
    if (c == mBgColor) return;
    mBgColor = c;
    changed();
}

void cStaticElement::setFrameColor(unsigned int c) {
    if (c == mFrameColor) return;
    mFrameColor = c;
    changed();
}

void cStaticElement::setColorSchema(unsigned int text, unsigned int background, unsigned int frame) {
    bool diff = text != mTextColor || background != mBgColor || frame != mFrameColor;
    mTextColor = text;
    mBgColor = background;
    mFrameColor = frame;
    if (diff) changed();
}

void cStaticElement::setTextDispMode(eTextDisplayModes mode) {
    if (mode == mMode) return;
    mMode = mode;
    changed();
}

void cStaticElement::setTextMargin(int margin) {
    if (margin == mMargin) return;
    mMargin = margin;
    changed();
}

void cStaticElement::setYWrapAddSpacing(double extra) {
    if (extra < 0) return;
    double s = 1.0 + extra;
    if (s == mSpacing) return;
    mSpacing = s;
    if (mMode == tdmWrapped) changed();
}

bool cStaticElement::wantsSize(sSize* s) {
    if (!s) return false;
    s->w = mImage ? mImage->width() + 11 : 6;
    s->h = mImage ? mImage->height() + 4 : 0;
    std::string t = textCopy();
    if (!t.empty()) {
        sSize ts;
        if (!sizeOf(t.c_str(), ts, mFont ? mFont : stdFont())) return false;
        if (s->h < ts.h + 2) s->h = ts.h + 2;
        s->w += ts.w;
    }
    s->w += mMargin;
    return true;
}

namespace {
// Disabled text is moved halfway towards a light grey (196), alpha kept.
unsigned int dimmed(unsigned int c) {
    unsigned int out = c & 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        unsigned int v = (c >> shift) & 0xFF;
        out |= ((v + 196) / 2) << shift;
    }
    return out;
}
}  // namespace

void cStaticElement::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    const int W = width(), H = height();
    const bool tr = transparent();
    if (!tr) {
        sRect r{0, 0, W, H};
        canvas->drawRect(&r, mBgColor, mFrameColor);
    }
    int tx = mImage ? mImage->width() + 8 : 3;
    const unsigned int color = enabled() ? mTextColor : dimmed(mTextColor);
    {
        cSafeCriticalSectionAccess guard(&mTextLock);
        const char* text = mText.get();
        const long long len = static_cast<long long>(mText.length());
        if (text && len > 0) {
            if (mFont) canvas->setTextMode(mFont);
            canvas->setTextColors(color, mBgColor);
            switch (mMode) {
                case tdmShortened: {
                    int at = canvas->drawTextLimited(tx + mMargin, 1, W - 2 - tx - mMargin, H - 2, mAlign, tr, 0, 0,
                                                     text, len, nullptr, false);
                    if (at >= 0) tx = at - mMargin;
                    break;
                }
                case tdmCut: {
                    sRect whole{0, 0, W, H};
                    sRect box{tx, 1, W - tx - 3, H - 2};
                    canvas->clip(&whole);
                    canvas->unclip(&box);
                    canvas->select();
                    sSize ts;
                    canvas->textSize(text, len, ts);
                    if (ts.w >= box.w) {
                        canvas->drawText(tx, (H - ts.h) / 2, false, text, len);
                    } else if (mAlign == cCanvas::taCenter) {
                        tx = tx + ((W - tx - 3) - ts.w) / 2 + mMargin;
                        canvas->drawText(tx, (H - ts.h) / 2, tr, text, len);
                    } else if (mAlign == cCanvas::taRight) {
                        canvas->drawText(W - 3 - ts.w - mMargin, (H - ts.h) / 2, tr, text, len);
                        tx = W - 3 - ts.w;
                    } else {
                        canvas->drawText(tx + mMargin, (H - ts.h) / 2, tr, text, len);
                    }
                    break;
                }
                case tdmWrapped:
                    if (H >= 7 && W > tx + 3) {
                        sSize used;
                        canvas->drawTextWrapped(tx + mMargin, 3, W - 3 - tx - mMargin, H - 6, mAlign, text, used, tr,
                                                mSpacing);
                    }
                    break;
            }
        }
    }
    if (mImage) {
        sPoint at{tx - 5 - mImage->width(), (H + 1 - mImage->height()) / 2};
        canvas->drawTransparent(&at, mImage, nullptr);
    }
}

void cStaticElement::onInitData() {
    cChildElement::onInitData();
    cThemeValues* theme = currentThemeValues();
    mMargin = 0;
    mFont = stdFont();
    mImage = nullptr;
    mSpacing = 1.2;
    mTextColor = theme->color(4);
    mBgColor = theme->color(14);
    mFrameColor = theme->color(20);
    mAlign = cCanvas::taLeft;
    mMode = tdmShortened;
}
