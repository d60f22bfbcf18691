#include "cihlpdoc/sidocviewer.h"

#include "base/process.h"

#include <cctype>
#include <cstring>

namespace {

constexpr int kKeyHome = 0x150, kKeyLeft = 0x151, kKeyUp = 0x152, kKeyRight = 0x153, kKeyDown = 0x154,
              kKeyPageUp = 0x155, kKeyPageDown = 0x156, kKeyEnd = 0x157;

cSiDocViewer::tOpener gOpener = nullptr;

bool startsWithNoCase(const char* s, const char* prefix) {
    for (; *prefix; ++s, ++prefix)
        if (std::tolower(static_cast<unsigned char>(*s)) != *prefix) return false;
    return true;
}

}  // namespace

cSiDocViewer::cSiDocViewer() = default;

cSiDocViewer::~cSiDocViewer() { dropRender(); }

cSiDocViewer::tOpener cSiDocViewer::setOpener(tOpener opener) {
    tOpener old = gOpener;
    gOpener = opener;
    return old;
}

void cSiDocViewer::dropRender() {
    delete mRender;
    mRender = nullptr;
    mRenderW = 0;
}

int cSiDocViewer::refSiDoc(cSiDocBox* doc, unsigned int background) {
    mBg = background;
    if (doc == mDoc) return 0;
    mDoc = doc;
    rebuild();
    return 1;
}

void cSiDocViewer::rebuild() {
    dropRender();
    // The areas point at link targets of the document drawn last, which may
    // be gone with it.
    resetActive();
    mPressedRef = nullptr;
    repaint(nullptr);
}

void cSiDocViewer::resetActive() { mLinks.clear(); }

void cSiDocViewer::setActive(char* ref, int x, int y, int w, int h) {
    if (!ref || w <= 0 || h <= 0) return;
    mLinks[ref].push_back(sArea{x, y, x + w - 1, y + h - 1});
}

char* cSiDocViewer::getRef(int x, int y) {
    sPoint off{0, 0};
    virtualOffset(&off);
    x -= off.x;
    y -= off.y;
    for (auto& kv : mLinks)
        for (const sArea& a : kv.second)
            if (x >= a.left && x <= a.right && y >= a.top && y <= a.bottom) return kv.first;
    return nullptr;
}

bool cSiDocViewer::openableTarget(const char* ref) {
    if (!ref) return false;
    const char* rest = nullptr;
    if (startsWithNoCase(ref, "http://")) rest = ref + 7;
    else if (startsWithNoCase(ref, "https://")) rest = ref + 8;
    else if (startsWithNoCase(ref, "mailto:")) rest = ref + 7;
    if (!rest || !*rest) return false;
    for (const char* p = ref; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c == 0x7F) return false;
    }
    return true;
}

void cSiDocViewer::onActiveZone(char* ref) {
    if (!openableTarget(ref)) return;
    if (gOpener) gOpener(ref);
    else shellOpen(ref);
}

void cSiDocViewer::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    if (mRender && mRenderW != width()) {
        dropRender();
        repaint(nullptr);
    }
}

bool cSiDocViewer::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    if (down) {
        capturePointer(false);
        mPressedRef = getRef(x, y);
    } else {
        releasePointer();
        char* pressed = mPressedRef;
        mPressedRef = nullptr;
        if (pressed && getRef(x, y) == pressed) onActiveZone(pressed);
    }
    return true;
}

void cSiDocViewer::onMouseMoving(int x, int y) {
    cScrollableElement::onMouseMoving(x, y);
    // Kept as the element's pointer too, so that the next move starts from it.
    setPointer(getRef(x, y) ? mptHand : mptArrow);
    changePointerReq(pointer());
}

void cSiDocViewer::onKey(int key, bool, bool, bool) {
    cVScroll* bar = vbar();
    // Without a shown bar there is nothing to scroll.
    if (!bar->visible()) return;
    switch (key) {
        case kKeyHome:
            if (bar->pos() != 0) bar->setPos(0, true);
            break;
        case kKeyLeft:
        case kKeyUp: bar->valUp(); break;
        case kKeyRight:
        case kKeyDown: bar->valDown(); break;
        case kKeyPageUp: bar->pageUp(); break;
        case kKeyPageDown: bar->pageDown(); break;
        case kKeyEnd:
            if (bar->pos() != bar->maxval()) bar->setPos(bar->maxval(), true);
            break;
        default: return;
    }
    repaint(nullptr);
}

void cSiDocViewer::fillPaint(cCanvas* canvas) {
    const int cw = canvas->width(), ch = canvas->height();
    const int rw = mRender->width(), rh = mRender->height();
    const int sy = shiftY();
    canvas->draw(0, 0, mRender, 0, sy, rw, rh - sy);
    const int below = rh - sy;
    if (below < ch) {
        sRect r{0, below < 0 ? 0 : below, cw, ch - (below < 0 ? 0 : below)};
        canvas->drawRect(&r, mBg, mBg);
    }
    if (cw > rw) {
        sRect r{rw, 0, cw - rw, rh};
        canvas->drawRect(&r, mBg, mBg);
    }
}

void cSiDocViewer::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    if (mRender) {
        fillPaint(canvas);
        return;
    }
    if (!mDoc) {
        sRect r{0, 0, canvas->width(), canvas->height()};
        canvas->drawRect(&r, mBg, mBg);
        return;
    }
    sSiDocDrawProps props;
    props.font = stdFont();
    props.bgColor = mBg;
    props.fgColor = 0;
    props.x = 0;
    props.y = 0;
    props.widthLimit = width();
    props.heightLimit = -1;
    props.sink = this;
    sSize size{0, 0};
    if (!mDoc->wantsSize(canvas, props, size) || size.w <= 0 || size.h <= 0) {
        // Nothing to show: no links and no scrolling are left from before.
        resetActive();
        setMinVisualHeight(0);
        sRect r{0, 0, canvas->width(), canvas->height()};
        canvas->drawRect(&r, mBg, mBg);
        return;
    }
    cCanvas* off = canvas->offscreen(width(), size.h, -1, -1);
    if (!off) return;
    dropRender();
    mRender = off;
    sRect all{0, 0, width(), size.h};
    mRender->drawRect(&all, mBg, mBg);
    resetActive();
    sSize drawn{0, 0};
    mDoc->draw(mRender, props, drawn);
    mRenderW = width();
    fillPaint(canvas);
    setMinVisualHeight(size.h);
    setQuantumSize(10, 15);
}
