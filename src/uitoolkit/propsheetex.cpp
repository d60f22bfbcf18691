#include "uitoolkit/propsheetex.h"

#include "uitoolkit/themevalues.h"

#include <cstring>

namespace {

// The number of bytes of text to copy for a requested length: the whole text
// for a negative one, else at most len bytes, ending before the text's NUL
// and never inside a UTF-8 sequence.
long long copyLength(const char* text, long long len) {
    if (!text) return 0;
    const long long all = static_cast<long long>(std::strlen(text));
    if (len < 0 || len >= all) return all;
    while (len > 0 && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) --len;
    return len;
}

void copyText(_guardchar<char>& out, const char* text, long long len) {
    if (!text) out.clear();
    else out.set(text, copyLength(text, len));
}

}  // namespace

cPropDispAreaChild::cPropDispAreaChild() = default;
cPropDispAreaChild::~cPropDispAreaChild() = default;

void cPropDispAreaChild::onInitData() {
    cScrollableElement::onInitData();
    cThemeValues* t = currentThemeValues();
    mFrame = t->color(44);
    mBg = t->color(45);
    mTextColor = t->color(4);
    mTitleFont = mTextFont = nullptr;
    mExtraSpacing = 0;
}

void cPropDispAreaChild::setText(const char* title, const char* descr) { setText(title, -1, descr, -1); }

void cPropDispAreaChild::setText(const char* title, long long titleLen, const char* descr, long long descrLen) {
    copyText(mTitle, title, titleLen);
    copyText(mDescr, descr, descrLen);
    repaint();
}

void cPropDispAreaChild::setColorSchema(unsigned int frame, unsigned int background, unsigned int text) {
    mFrame = frame;
    mBg = background;
    mTextColor = text;
    repaint();
}

void cPropDispAreaChild::setFonts(cFontObject* titleFont, cFontObject* textFont) {
    mTitleFont = titleFont;
    mTextFont = textFont;
}

void cPropDispAreaChild::setExtraTitleSpacing(int pixels) {
    if (pixels >= 0) mExtraSpacing = pixels;
}

void cPropDispAreaChild::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    const int W = width(), H = height(), s = shiftY();
    const bool tr = transparent();
    sRect client;
    clientRect(&client);
    sRect whole{0, 0, W, H};
    sRect inner{client.x + 1, client.y + 1, client.w - 2, client.h - 2};
    canvas->clip(&whole);
    canvas->unclip(&inner);
    canvas->select();
    if (!tr) {
        sSize vs;
        virtualSize(&vs);
        sRect area{0, -s, vs.w, vs.h};
        canvas->drawRect(&area, mBg, mBg);
    }
    canvas->setTextColors(mTextColor, mBg);
    int needed = 10;
    int t = 0;
    if (mTitle.get()) {
        canvas->setTextMode(mTitleFont ? mTitleFont : stdFontBold());
        sSize used{0, 0};
        canvas->drawTextWrapped(5, 5 - s, W - 25, 32767, cCanvas::taLeft, mTitle.get(), used, tr, 0);
        t = used.h + mExtraSpacing;
        needed = t + 10;
    }
    if (mDescr.get()) {
        canvas->setTextMode(mTextFont ? mTextFont : stdFont());
        sSize used{0, 0};
        canvas->drawTextWrapped(5, t + 5 - s, W - 25, 2147483647, cCanvas::taJustify, mDescr.get(), used, tr, 0);
        needed += used.h;
    }
    if (needed != minVisualHeight()) notifyAction(new cPropDispResizeAction(needed));
    canvas->unclip(&whole);
    canvas->select();
    if (!tr) {
        canvas->setLineMode(mFrame, 1);
        sPoint p[5] = {{0, 0}, {W - 1, 0}, {W - 1, H - 1}, {0, H - 1}, {0, 0}};
        for (int i = 0; i < 4; ++i) canvas->drawLine(&p[i], &p[i + 1]);
    }
}

cPropSheetExChild::cPropSheetExChild() = default;

cPropSheetExChild::~cPropSheetExChild() {
    dettach(&mSheet);
    dettach(&mArea);
}

void cPropSheetExChild::onInitData() {
    cVSplitterChild::onInitData();
    if (!(mShare > 0 && mShare < 100)) mShare = 75;
    const int top = static_cast<int>(mShare * 5), bottom = static_cast<int>((100 - mShare) * 5);
    attach(1, &mSheet, top);
    attach(2, &mArea, bottom);
    // attach takes a size as a share of the splitter's present length, which
    // may still be shorter than these; resizeItem keeps them as given.
    resizeItem(1, top);
    resizeItem(2, bottom);
    mArea.setQuantumSize(5, 13);
}

void cPropSheetExChild::clear() {
    mArea.setText(nullptr, nullptr);
    mSheet.clear();
}

bool cPropSheetExChild::onAction(cChildElement* src, cChildAction* a) {
    if (a && a->code() == 6) {
        if (src == &mSheet) {
            if (auto* p = dynamic_cast<cPropSheetChild::cPropSheetAction*>(a)) {
                mArea.setText(mSheet.propName(p->section, p->id), mSheet.propDescr(p->section, p->id));
                return true;
            }
        } else if (src == &mArea) {
            if (auto* r = dynamic_cast<cPropDispAreaChild::cPropDispResizeAction*>(a)) {
                mArea.setMinVisualHeight(r->height);
                return true;
            }
        }
    }
    return cChildElement::onAction(src, a);
}
