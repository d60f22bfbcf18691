#include "uitoolkit/popupmenu.h"

#include "uitoolkit/themevalues.h"

namespace {

const int kKeyEscape = 0x11B;

cPicture* pictureOf(cPicturesList* list, int index) {
    return list && index >= 0 ? list->image(index) : nullptr;
}

// Text and picture size of an entry, and its height (its own when > 0).
bool measure(cChildElement* owner, const sActiveElementItem& e, cPicturesList* pics, cFontObject* font, int& w,
             int& h) {
    cPicture* p = pictureOf(pics, e.image);
    if (!(e.text && *e.text) && !p) return false;  // nothing to show
    sSize s{0, 0};
    if (e.text && *e.text && !owner->sizeOf(e.text, s, font)) s = sSize{0, 0};
    if (p && s.h < p->height()) s.h = p->height();
    w = cButtonChild::requiredWidth(owner, e.text, p, cButtonChild::dsImageLeft, font);
    h = e.height > 0 ? e.height : s.h + 7;
    return true;
}

cChildElement* rootOf(cChildElement* e) {
    while (e && e->parent()) e = e->parent();
    return e;
}

}  // namespace

cPopupMaster::sPopupConfig::sPopupConfig()
    : bg(currentThemeValues()->color(14)), text(currentThemeValues()->color(4)),
      border(currentThemeValues()->color(21)) {}

cPopupMaster::cPopupMaster(tActiveElementItems* entries, const sPopupConfig& cfg) : mEntries(entries), mCfg(cfg) {
    if (mCfg.border == kUnset) mCfg.border = currentThemeValues()->color(21);
}

cPopupMaster::~cPopupMaster() { dropButtons(); }

void cPopupMaster::dropButtons() {
    for (auto& b : mButtons)
        if (isDirectChild(b.button.get())) dettach(b.button.get());
    mButtons.clear();
}

bool cPopupMaster::evalSize(cChildElement* owner, tActiveElementItems& entries, cPicturesList* pics, sSize& out,
                            cFontObject* font) {
    if (!owner) return false;
    if (!font) font = owner->stdFont();
    if (!font) return false;
    int widest = 0, total = 0;
    for (auto* n = entries.first(); n; n = entries.next(n)) {
        int w, h;
        if (!measure(owner, n->value, pics, font, w, h)) continue;
        if (w > widest) widest = w;
        total += h;
    }
    out.w = widest + 2;
    out.h = total;
    return true;
}

int cPopupMaster::simplePopup(cChildElement* owner, tActiveElementItems& entries, int x, int y, sPopupConfig* cfg) {
    sPopupConfig plain;
    if (!cfg) {
        plain.bg = 0xFFFFFF;
        plain.text = 0;
        cfg = &plain;
    }
    sSize s;
    if (!evalSize(owner, entries, cfg->pictures, s, cfg->font)) return -1;
    if (s.w < cfg->minWidth) s.w = cfg->minWidth;
    return runPopUp(owner, entries, x, y, s.w, s.h, *cfg);
}

int cPopupMaster::runPopUp(cChildElement* owner, tActiveElementItems& entries, int x, int y, int w, int h,
                           const sPopupConfig& cfg) {
    if (!owner || entries.empty()) return -1;
    cChildElement* top = rootOf(owner);
    if (!top || !top->winTarget()) return -1;  // no window to open it from
    sSize desk{0, 0};
    if (owner->desktopSize(desk) && desk.w > 0 && desk.h > 0) {
        if (x + w > desk.w) x = desk.w - w > 0 ? desk.w - w : 0;
        if (y + h > desk.h) {
            const int below = desk.h - y;
            const int above = y - cfg.openerHeight;
            if (cfg.openerHeight > 0 && below < above && above > 2) {
                // Above the control, the border included.
                if (h + 2 > above) h = above - 2;
                y = above - h - 2;
            } else if (below < y) {
                if (h > y) h = y;
                y -= h;
            } else {
                h = below;
            }
        }
    }
    // The popup window owns the element from here on.
    return owner->modal_popup(x, y, w, h + 2, new cPopupMaster(&entries, cfg));
}

namespace {

// The record the spelt-out entry points fill from their arguments.
cPopupMaster::sPopupConfig spelledOut(int minWidth, cPicturesList* pictures, int selected, unsigned int bg,
                                      unsigned int text, unsigned int border, cFontObject* font,
                                      unsigned int hoverBg, unsigned int hoverText, unsigned int pressedBg,
                                      unsigned int pressedText, unsigned int focusedBg, unsigned int focusedText) {
    cPopupMaster::sPopupConfig cfg;
    cfg.minWidth = minWidth;
    cfg.pictures = pictures;
    cfg.selected = selected;
    cfg.bg = bg;
    cfg.text = text;
    cfg.border = border;
    cfg.font = font;
    cfg.hoverBg = hoverBg;
    cfg.hoverText = hoverText;
    cfg.pressedBg = pressedBg;
    cfg.pressedText = pressedText;
    cfg.focusedBg = focusedBg;
    cfg.focusedText = focusedText;
    return cfg;
}

}  // namespace

int cPopupMaster::simplePopup(cChildElement* owner, tActiveElementItems& entries, int x, int y, int minWidth,
                              cPicturesList* pictures, int selected, unsigned int bg, unsigned int text,
                              unsigned int border, cFontObject* font, unsigned int hoverBg, unsigned int hoverText,
                              unsigned int pressedBg, unsigned int pressedText, unsigned int focusedBg,
                              unsigned int focusedText) {
    sPopupConfig cfg = spelledOut(minWidth, pictures, selected, bg, text, border, font, hoverBg, hoverText,
                                  pressedBg, pressedText, focusedBg, focusedText);
    return simplePopup(owner, entries, x, y, &cfg);
}

int cPopupMaster::runPopUp(cChildElement* owner, tActiveElementItems& entries, cPicturesList* pictures, int x, int y,
                           int w, int h, int selected, unsigned int bg, unsigned int text, unsigned int border,
                           cFontObject* font, unsigned int hoverBg, unsigned int hoverText, unsigned int pressedBg,
                           unsigned int pressedText, unsigned int focusedBg, unsigned int focusedText) {
    return runPopUp(owner, entries, x, y, w, h,
                    spelledOut(0, pictures, selected, bg, text, border, font, hoverBg, hoverText, pressedBg,
                               pressedText, focusedBg, focusedText));
}

void cPopupMaster::onConstruct() {
    cScrollableElement::onConstruct();
    onInitData();
}

void cPopupMaster::onInitData() {
    cScrollableElement::onInitData();
    dropButtons();
    mFinished = false;
    cFontObject* font = mCfg.font ? mCfg.font : stdFont();
    sSize total{0, 0};
    if (!mEntries || !evalSize(this, *mEntries, mCfg.pictures, total, font)) return;
    setMinVisualHeight(total.h);
    // The entries are as wide as the popup: a text too long for it ends
    // with the buttons' "..." instead of running out of the window halfway
    // through a letter.  The popup has no sideways scrolling that could
    // show the rest.
    const int contentW = width();
    mHoverPic.destroy();
    mPressedPic.destroy();
    mFocusedPic.destroy();
    if (mCfg.hoverBg != kUnset) mHoverPic.create(0xFF000000u | mCfg.hoverBg, 1, 1);
    if (mCfg.pressedBg != kUnset) mPressedPic.create(0xFF000000u | mCfg.pressedBg, 1, 1);
    if (mCfg.focusedBg != kUnset) mFocusedPic.create(0xFF000000u | mCfg.focusedBg, 1, 1);
    cButtonChild* chosen = nullptr;
    int y = 1;
    for (auto* n = mEntries->first(); n; n = mEntries->next(n)) {
        const sActiveElementItem& e = n->value;
        int w, h;
        if (!measure(this, e, mCfg.pictures, font, w, h)) continue;
        std::unique_ptr<cButtonChild> b(new cButtonChild());
        if (!attach(b.get(), 1, y, contentW - 2 - getVScrollRes(), h)) continue;
        if (e.text) b->setText(e.text, -1, false);
        b->setBorder(cButtonChild::bdPicture, false);
        b->setBgColor(mCfg.bg, false);
        b->setTextColor(mCfg.text, false);
        if (!mHoverPic.empty()) b->refStateBackImage(cButtonChild::bsHover, &mHoverPic);
        if (!mPressedPic.empty()) b->refStateBackImage(cButtonChild::bsPressed, &mPressedPic);
        if (!mFocusedPic.empty()) b->refStateBackImage(cButtonChild::bsFocused, &mFocusedPic);
        if (mCfg.hoverText != kUnset) b->setTextColor(cButtonChild::bsHover, mCfg.hoverText, false);
        if (mCfg.pressedText != kUnset) b->setTextColor(cButtonChild::bsPressed, mCfg.pressedText, false);
        if (mCfg.focusedText != kUnset) b->setTextColor(cButtonChild::bsFocused, mCfg.focusedText, false);
        if (e.hint) b->setHint(e.hint, 0);
        b->setFont(font);
        if (cPicture* p = pictureOf(mCfg.pictures, e.image)) b->image(cButtonChild::bsNormal).refImage(p);
        if (n->key == mCfg.selected) chosen = b.get();
        y += h;
        mButtons.push_back({std::move(b), n->key, &e});
    }
    const int count = static_cast<int>(mButtons.size());
    int unit = count > 0 ? total.h / count : 1;
    if (unit < 1) unit = 1;
    setPageSize(5, (height() / unit) * unit);
    setQuantumSize(5, unit);
    if (chosen) chosen->focus();
}

void cPopupMaster::finish(int result) {
    if (mFinished) return;
    mFinished = true;
    releasePointer();
    end_modal(result);
}

bool cPopupMaster::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (key == kKeyEscape) {
        finish(-1);
        return true;
    }
    return cScrollableElement::processKey(key, shift, ctrl, alt);
}

bool cPopupMaster::onMouseButton(int x, int y, int, bool down) {
    if (down && (x < 0 || y < 0 || x > width() || y > height())) {
        finish(-1);
        return true;
    }
    return false;
}

bool cPopupMaster::onAction(cChildElement* src, cChildAction* a) {
    if (a && a->code() == 0)
        for (const cBtnListItem& b : mButtons)
            if (b.button.get() == src) {
                finish(b.id);
                return true;
            }
    return cScrollableElement::onAction(src, a);
}

void cPopupMaster::onLooseFocus(bool, bool) {
    // Only a focus that leaves the popup as a whole closes it; one of its
    // own buttons taking the focus does not.
    if (!hasFocus()) finish(-1);
}

bool cPopupMaster::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (!canvas || !r) return false;
    sRect all{0, 0, r->w, r->h};
    canvas->drawRect(&all, mCfg.bg, mCfg.bg);
    return true;
}

void cPopupMaster::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    sRect all{0, 0, width(), height()};
    canvas->drawRect(&all, mCfg.bg, mCfg.border);
    // Clicks outside must reach the popup; its buttons still get theirs.
    capturePointer(true);
}
