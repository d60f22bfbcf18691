#include "uitoolkit/hintmaster.h"

#include "uitoolkit/themevalues.h"

#include <cstring>

cHintMaster::cHintMaster() = default;

cHintMaster::~cHintMaster() {
    if (mPopup) {
        cWindowHolder* p = mPopup;
        mPopup = nullptr;
        p->dispose(true);
    }
    // The popup's window is gone with it: the core must not ask it to
    // destroy itself a second time.
    mTarget = nullptr;
}

const char* cHintMaster::line(const char* text, _guardchar<char>& out) {
    if (!text) {
        out.clear();
        return nullptr;
    }
    const char* nl = std::strchr(text, '\n');
    if (!nl) {
        out.set(text);
        return nullptr;
    }
    out.set(text, static_cast<long long>(nl - text));
    return nl + 1;
}

bool cHintMaster::show(cChildElement* owner, const char* text, sPoint* at, unsigned int bg, unsigned int fg,
                       int mode) {
    if (!owner || !text) return false;
    cFontObject* font = owner->stdFont();
    if (!font) return false;
    int n = 0, maxW = 0, lineH = 0;
    const char* p = text;
    _guardchar<char> one;
    do {
        p = line(p, one);
        ++n;
        sSize s{0, 0};
        if (one.get() && *one.get() && !owner->sizeOf(one.get(), s, font)) s = sSize{0, 0};
        if (s.w > maxW) maxW = s.w;
        if (s.h > lineH) lineH = s.h;
    } while (p);
    if (maxW == 0) return false;
    const int height = n * lineH;
    int x, y;
    if (at) {
        x = at->x;
        y = mode == 1 ? at->y - 6 - height : at->y;
    } else {
        sPoint abs;
        owner->absPos(abs);
        x = abs.x + 2;
        y = mode == 1 ? abs.y - 6 - height : abs.y + owner->height() + 2;
    }
    cThemeValues* theme = currentThemeValues();
    mBg = bg == kThemeColour ? theme->color(11) : bg;
    mFg = fg == kThemeColour ? theme->color(13) : fg;
    mLineH = lineH;
    cChildElement::setText(text, -1, false);
    cWindowHolder* opened = owner->popup(x, y, maxW + 8, height + 4, this, false);
    if (!opened) return false;
    set(opened);
    return true;
}

bool cHintMaster::hide() {
    set(nullptr);
    return true;
}

void cHintMaster::set(cWindowHolder* popup) {
    if (popup == mPopup) return;
    cWindowHolder* old = mPopup;
    mPopup = popup;
    if (old) {
        // The old window goes: the core must not reach it through us.
        if (old->target() == mTarget) mTarget = nullptr;
        old->dispose(true);
    }
}

void cHintMaster::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    cFontObject* font = stdFont();
    if (font) canvas->setTextMode(font);
    sRect r{0, 0, width(), height()};
    canvas->drawRect(&r, mBg, currentThemeValues()->color(12));
    const char* t = mText.get();
    if (!t || !*t) return;
    canvas->setTextColors(mFg, mBg);
    _guardchar<char> one;
    int y = 2;
    const char* p = t;
    do {
        p = line(p, one);
        if (one.get() && *one.get()) canvas->drawText(4, y, false, one.get(), -1);
        y += mLineH;
    } while (p);
}

cShownHint* makeHintMaster(cChildElement* at, const char* text, int mode) {
    cHintMaster* h = new cHintMaster();
    if (!h->show(at, text, nullptr, cHintMaster::kThemeColour, cHintMaster::kThemeColour, mode)) {
        delete h;
        return nullptr;
    }
    return h;
}

void installHintMaster() { __setHintMaker(&makeHintMaster); }
