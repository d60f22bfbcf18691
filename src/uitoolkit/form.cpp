#include "uitoolkit/form.h"

#include "uitoolkit/themevalues.h"
#include "uitoolkit/toolbar.h"

cCustomForm::cCustomForm() = default;

cCustomForm::~cCustomForm() { dettach(&mClient); }

int cCustomForm::sideWidth() { return themeDimension(1); }

bool cCustomForm::anchorClient() {
    int side = sideWidth();
    return anchor(&mClient, side, mTop, -(2 * side) - 1, -mBottom - mTop - 1);
}

void cCustomForm::placeButtonBar(cToolBarChild& bar, cPicturesList* pictures,
                                 std::initializer_list<sBarButton> buttons) {
    attach(&bar, 0, 0, 1, 24);
    bar.setTransparent(true);
    bar.setImageList(0, pictures);
    for (const sBarButton& b : buttons) bar.setButton(b.id, b.text, b.image);
    const int w = bar.wantsWidth();
    anchor(&bar, -(themeDimension(9) + w), -(themeDimension(8) + themeDimension(7) + 1), w, themeDimension(7));
}

void cCustomForm::onConstruct() {
    mTop = themeDimension(0);
    mBottom = themeDimension(2);
    anchorClient();
    unsigned int bg = currentThemeValues()->color(0);
    mClient.setBgColor(bg);
    setDefaultBackgroundColor(bg);
    notifyAction(kConstructedAction);
}

static int clampDim(int i, int m) {
    int v = 0, lo = 0, hi = 0;
    currentThemeValues()->dimension(i, v, lo, hi);
    if (m < lo) m = lo;
    if (m > hi) m = hi;
    return m;
}

bool cCustomForm::setTopMargin(int m) {
    mTop = clampDim(0, m);
    return anchorClient();
}

bool cCustomForm::setBottomMargin(int m) {
    mBottom = clampDim(2, m);
    return anchorClient();
}

bool cCustomForm::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (!shift && !ctrl && !alt) {
        if (key == kKeyPadEnter && onFormAccept()) return true;
        if (key == kKeyEscape && onFormCancel()) return true;
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cCustomForm::onPaint(cCanvas* canvas) { drawSkin(canvas, 0, 0); }

bool cCustomForm::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (!canvas || !r) return false;
    drawSkin(canvas, -r->x, -r->y);
    return true;
}

void cCustomForm::onSizeChanged() {
    cChildElement::onSizeChanged();
    repaint(nullptr);
}

bool cCustomForm::onAction(cChildElement* src, cChildAction* a) {
    if (a && a->code() == kConstructedAction && src == this && onAfterConstruct()) return true;
    return cChildElement::onAction(src, a);
}

void cCustomForm::drawSkin(cCanvas* c, int dx, int dy) {
    if (!c) return;
    cThemeValues* theme = currentThemeValues();
    const int W = width(), H = height(), T = mTop, B = mBottom, S = sideWidth();
    cPicture* pic[8];
    for (int i = 0; i < 8; ++i) pic[i] = theme->picture(i);
    auto pw = [&](int i) { return pic[i] ? pic[i]->width() : 0; };
    auto ph = [&](int i) { return pic[i] ? pic[i]->height() : 0; };
    auto fill = [&](int x, int y, int w, int h, int colour) {
        if (w <= 0 || h <= 0) return;
        unsigned int col = theme->color(colour);
        sRect r{x, y, w, h};
        c->drawRect(&r, col, col);
    };
    auto bitmap = [&](int i, int x, int y, int w, int h) {
        sPoint at{x, y};
        sSize size{w, h};
        c->drawBitmap(&at, pic[i], &size);
    };
    int leftTop = T, rightTop = T;
    // 1. Top band.
    if (!(mCustomDraw & cdNoTop)) {
        if (pic[0]) bitmap(0, dx, dy, pw(0), ph(0));
        if (pic[2]) bitmap(2, dx + W - pw(2), dy, pw(2), ph(2));
        int x = pw(0), w = W - pw(0) - pw(2);
        if (pic[1]) {
            bitmap(1, dx + x, dy, w, ph(1));
            if (ph(1) < T) fill(dx + x, dy + ph(1), w, T - ph(1), 1);
        } else {
            fill(dx + x, dy, w, T, 1);
        }
        if (pic[0]) leftTop = ph(0);
        if (pic[2]) rightTop = ph(2);
    }
    const bool corners = !(mCustomDraw & cdNoLeftAndCorners);
    // 2. Bottom-left corner.
    int bandLeft = 0;
    if (corners && pic[5]) {
        bitmap(5, dx, dy + H - ph(5), pw(5), ph(5));
        bandLeft = pw(5);
    }
    // 3. Left column.
    if (corners) {
        int bottom = pic[5] ? H - ph(5) : H - B;
        int h = bottom - leftTop;
        if (pic[3]) {
            if (h > 0) bitmap(3, dx, dy + leftTop, pw(3), h);
            if (pw(3) < S) fill(dx + pw(3), dy + leftTop, S - pw(3), h, 3);
        } else {
            fill(dx, dy + leftTop, S, h, 3);
        }
    }
    // 4. Bottom-right corner.
    int bandRight = W;
    if (corners && pic[7]) {
        bitmap(7, dx + W - pw(7), dy + H - ph(7), pw(7), ph(7));
        bandRight = W - pw(7);
    }
    // 5.
    if (mCustomDraw & cdNoRightAndBottom) return;
    // 6. Right column.
    {
        int bottom = (corners && pic[7]) ? H - ph(7) : H - B;
        int h = bottom - rightTop;
        if (pic[4]) {
            if (h > 0) bitmap(4, dx + W - pw(4), dy + rightTop, pw(4), h);
            if (pw(4) < S) fill(dx + W - S, dy + rightTop, S - pw(4), h, 3);
        } else {
            fill(dx + W - S, dy + rightTop, S, h, 3);
        }
    }
    // 7. Bottom band.
    int w = bandRight - bandLeft;
    if (pic[6]) {
        bitmap(6, dx + bandLeft, dy + H - ph(6), w, ph(6));
        if (ph(6) < B) fill(dx + bandLeft, dy + H - B, w, B - ph(6), 2);
    } else {
        fill(dx + bandLeft, dy + H - B, w, B, 2);
    }
}
