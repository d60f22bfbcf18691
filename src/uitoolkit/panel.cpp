#include "uitoolkit/panel.h"

#include "uitoolkit/themevalues.h"

cPanelChild::cPanelChild() : mBg(currentThemeValues()->color(0)) {}

void cPanelChild::setXAlign(eXAlign a, bool rp) {
    if (a == mXAlign) return;
    mXAlign = a;
    if (rp) repaint(nullptr);
}

void cPanelChild::setYAlign(eYAlign a, bool rp) {
    if (a == mYAlign) return;
    mYAlign = a;
    if (rp) repaint(nullptr);
}

void cPanelChild::setXMargin(int m, bool rp) {
    if (m == mXMargin) return;
    mXMargin = m;
    if (rp) repaint(nullptr);
}

void cPanelChild::setYMargin(int m, bool rp) {
    if (m == mYMargin) return;
    mYMargin = m;
    if (rp) repaint(nullptr);
}

static int place(int align, int box, int size, int margin) {
    switch (align) {
        case 0: return margin;
        case 1: return box - size - margin;
        case 2: return (box - size) / 2 + margin;
        default: return 0;
    }
}

void cPanelChild::onPaint(cCanvas* canvas) {
    if (!canvas) return;
    sRect all{0, 0, width(), height()};
    canvas->drawRect(&all, mBg, mBorder == kNoBorder ? mBg : mBorder);
    const char* caption = text();
    if (!caption || !*caption) return;
    sSize ts;
    if (!canvas->textSize(caption, -1, ts)) return;
    int x = place(mXAlign, width(), ts.w, mXMargin);
    int y = place(mYAlign, height(), ts.h, mYMargin);
    canvas->setTextColors(currentThemeValues()->color(4), mBg);
    canvas->drawText(x, y, false, caption, -1);
}

bool cPanelChild::onBackgroundRequest(cCanvas* canvas, sRect*) {
    if (!canvas) return false;
    sRect all{0, 0, canvas->width(), canvas->height()};
    canvas->drawRect(&all, mBg, mBg);
    return true;
}

void cPanelChild::onInitData() {
    cChildElement::onInitData();
    mBg = currentThemeValues()->color(0);
    mBorder = kNoBorder;
    mXMargin = mYMargin = 0;
    mXAlign = xaCenter;
    mYAlign = yaCenter;
}
