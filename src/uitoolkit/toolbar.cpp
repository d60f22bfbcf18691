#include "uitoolkit/toolbar.h"

#include "uitoolkit/themevalues.h"

#include <cstring>

cToolBarChild::cToolBarChild() = default;

cToolBarChild::~cToolBarChild() {
    removeAll(false);
    if (isDirectChild(&mMore)) dettach(&mMore);
}

void cToolBarChild::onInitData() {
    cChildElement::onInitData();
    cThemeValues* t = currentThemeValues();
    mFixedW = 0;
    mHideFrom = 0;
    mBorderedStyle = cButtonChild::bdSingle;
    mMaxDD = 200;
    mBg = t->color(14);
    mBorderColour = t->color(21);
    mTextColour = t->color(4);
    mFont = nullptr;
    mBorder = false;
    mDrawOwnBorder = true;
    mStyle = cButtonChild::dsImageLeft;
    mDft1 = mDft2 = 0xFFFFFFFFu;
    mButtonsFocus = wantAcceptFoucs();
    mOverflow.destroy();
    if (!isDirectChild(&mMore)) attach(&mMore, 0, 0, 1, 1, cptFixed);
    mMore.setBorder(cButtonChild::bdFlat, false);
    mMore.image(cButtonChild::bsNormal).refImage(t->picture(72));
    mMore.setTransparent(transparent());
    mMore.setAcceptFocus(false);
    mMore.hide(false);
}

cButtonChild* cToolBarChild::findButton(int id) const {
    auto it = mButtons.find(id);
    return it == mButtons.end() ? nullptr : it->second.get();
}

cButtonChild* cToolBarChild::newButton(int id) {
    cButtonChild* b = allocButton();
    if (!b) return nullptr;
    if (!attach(b, 0, 0, 1, 1, cptFixed)) {
        delete b;
        return nullptr;
    }
    mButtons[id].reset(b);
    b->setTransparent(transparent());
    return b;
}

// Detaching first clears the window's focus, hover and capture pointers
// into the button; only then is it deleted.
void cToolBarChild::deleteButton(int id) {
    auto it = mButtons.find(id);
    if (it == mButtons.end()) return;
    std::unique_ptr<cButtonChild> b = std::move(it->second);
    mButtons.erase(it);
    if (isDirectChild(b.get())) dettach(b.get());
}

void cToolBarChild::setButton(int id, const char* text, int image) {
    if (!text && image < 0) {
        removeButton(id);
        return;
    }
    if (cButtonChild* b = findButton(id)) {
        bool changed = false;
        if (text && (!b->text() || std::strcmp(text, b->text()) != 0)) {
            b->setText(text, -1, false);
            changed = true;
        }
        auto idx = mImageIdx.find(id);
        if (idx == mImageIdx.end() || idx->second != image) {
            mImageIdx[id] = image;
            setImage(b, image);
            changed = true;
        }
        if (changed) rebuildToolbar();
        return;
    }
    cButtonChild* b = newButton(id);
    if (!b) return;
    if (text) b->setText(text, -1, false);
    b->setAcceptFocus(mButtonsFocus);
    b->setBorder(static_cast<cButtonChild::eBorderStyle>(mBorderedStyle), false);
    b->setTextColor(mTextColour, false);
    if (mFont) b->setFont(mFont);
    setImage(b, image);
    mImageIdx[id] = image;
    if (!initButton(id, b)) {
        deleteButton(id);
        mImageIdx.erase(id);
    }
    rebuildToolbar();
}

void cToolBarChild::setSeparator(int id) {
    cButtonChild* b = findButton(id);
    bool changed = false;
    if (b) {
        if (b->text()) {
            b->setText(nullptr, 0, false);
            changed = true;
        }
        if (mImageIdx.erase(id)) changed = true;
    } else {
        b = newButton(id);
        if (!b) return;
        b->setAcceptFocus(false);
        b->setBorder(cButtonChild::bdPicture, false);
        changed = true;
    }
    b->image(cButtonChild::bsNormal).refImage(b->stateBackImage(cButtonChild::bsHover));
    if (b->enabled_child()) {
        b->disable(false);
        changed = true;
    }
    if (changed) rebuildToolbar();
}

bool cToolBarChild::removeButton(int id) {
    if (!findButton(id)) return false;
    deleteButton(id);
    mImageIdx.erase(id);
    mHidden.erase(id);
    rebuildToolbar();
    return true;
}

void cToolBarChild::removeAll(bool rp) {
    while (!mButtons.empty()) deleteButton(mButtons.begin()->first);
    mHidden.clear();
    mOverflow.destroy();
    if (rp && visible()) repaint(nullptr);
}

bool cToolBarChild::buttonAbsPos(int id, sPoint& p) {
    cButtonChild* b = findButton(id);
    return b && b->absPos(p);
}

bool cToolBarChild::setVisible(int id, bool v) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    if (v) {
        mHidden.erase(id);
        b->show(false);
    } else {
        mHidden.insert(id);
        b->hide(false);
    }
    rebuildToolbar();
    return true;
}

bool cToolBarChild::setEnabled(int id, bool e) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    if (e) b->enable();
    else b->disable(false);
    if (b->visible()) b->repaint(nullptr);
    return true;
}

bool cToolBarChild::isEnabled(int id) const {
    cButtonChild* b = findButton(id);
    return b && b->enabled();
}

bool cToolBarChild::setHint(int id, const char* text) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    b->setHint(text, 0);
    return true;
}

void cToolBarChild::setImageList(int state, cPicturesList* list) {
    mLists[state] = list;
    for (auto& kv : mButtons) {
        auto idx = mImageIdx.find(kv.first);
        if (idx != mImageIdx.end() && idx->second >= 0 && list)
            kv.second->image(state).refImage(list->image(idx->second));
    }
    rebuildToolbar();
}

void cToolBarChild::setImage(cButtonChild* b, int index) {
    if (!b) return;
    for (auto& kv : mLists)
        if (kv.second) b->image(kv.first).refImage(index >= 0 ? kv.second->image(index) : nullptr);
}

void cToolBarChild::setFixedButtonWidth(int w) {
    if (w < 0) return;
    mFixedW = w;
    rebuildToolbar();
}

void cToolBarChild::setBorder(bool b) {
    if (b == mBorder) return;
    mBorder = b;
    rebuildToolbar();
}

void cToolBarChild::setBgColor(unsigned int c, bool rp) {
    if (c == mBg) return;
    mBg = c;
    if (rp && visible()) repaint(nullptr);
}

void cToolBarChild::setButtonsStyle(cButtonChild::eDispStyle s) {
    if (s == mStyle) return;
    mStyle = s;
    rebuildToolbar();
}

void cToolBarChild::setBorderedButtonStyle(cButtonChild::eBorderStyle st) {
    if (st == mBorderedStyle) return;
    mBorderedStyle = st;
    rebuildToolbar();
}

void cToolBarChild::setDrawOwnBorder(bool b) {
    if (b == mDrawOwnBorder) return;
    mDrawOwnBorder = b;
    if (visible()) repaint(nullptr);
}

bool cToolBarChild::setButtonFont(int id, cFontObject* font) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    b->setFont(font);
    rebuildToolbar();
    return true;
}

bool cToolBarChild::setButtonTextColor(int id, unsigned int c) {
    cButtonChild* b = findButton(id);
    if (!b) return false;
    for (int st = 0; st < 4; ++st) b->setTextColor(st, c, false);
    if (b->visible()) b->repaint(nullptr);
    return true;
}

void cToolBarChild::setButtonsTextColor(unsigned int c) {
    if (c == mTextColour) return;
    mTextColour = c;
    for (auto& kv : mButtons)
        for (int st = 0; st < 4; ++st) kv.second->setTextColor(st, c, false);
    if (visible()) repaint(nullptr);
}

void cToolBarChild::setButtonsTextColor(int state, unsigned int c) {
    for (auto& kv : mButtons) kv.second->setTextColor(state, c, false);
    if (visible()) repaint(nullptr);
}

void cToolBarChild::setButtonsFont(cFontObject* font) {
    if (font == mFont) return;
    mFont = font;
    for (auto& kv : mButtons) kv.second->setFont(font);
    rebuildToolbar();
}

void cToolBarChild::refButtonsBgImage(int state, cPicture* p) {
    for (auto& kv : mButtons) kv.second->refStateBackImage(state, p);
    if (visible()) repaint(nullptr);
}

void cToolBarChild::setButtonsBorderColor(int state, unsigned int c) {
    for (auto& kv : mButtons) kv.second->setBorderColors(state, c, c);
    if (visible()) repaint(nullptr);
}

void cToolBarChild::setDftBorderColors(unsigned int first, unsigned int second) {
    if (first == mDft1 && second == mDft2) return;
    mDft1 = first;
    mDft2 = second;
    if (mMore.visible_child() || wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setButtonAcceptFocus(bool on) {
    mButtonsFocus = on;
    bool held = false;
    for (auto& kv : mButtons) {
        if (kv.second->hasFocus()) held = true;
        kv.second->setAcceptFocus(on);
    }
    // A button may not keep a focus it can no longer take.
    if (!on && held) focus();
}

void cToolBarChild::setSmallerSizeBehavior(eSmallerSizeBehavior b) {
    if (b == mBehavior) return;
    mBehavior = b;
    if (wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setHideFrom(int id) {
    if (id < 0) id = 0;
    if (id == mHideFrom) return;
    mHideFrom = id;
    if (wantsWidth() > width()) rebuildToolbar();
}

void cToolBarChild::setTransparent(bool b) {
    for (auto& kv : mButtons) kv.second->setTransparent(b);
    mMore.setTransparent(b);
    cChildElement::setTransparent(b);
    if (visible()) repaint(nullptr);
}

int cToolBarChild::widthOf(cButtonChild* b, bool useFixed) const {
    if (useFixed && mFixedW > 0) return mFixedW;
    int w = cButtonChild::requiredWidth(const_cast<cToolBarChild*>(this), b->text(),
                                        b->image(cButtonChild::bsNormal).image(),
                                        static_cast<cButtonChild::eDispStyle>(mStyle), mFont);
    return w < mMinButtonW ? mMinButtonW : w;
}

int cToolBarChild::wantsWidth() const {
    int sum = 0;
    for (auto& kv : mButtons)
        if (!mHidden.count(kv.first)) sum += widthOf(kv.second.get(), true);
    return sum;
}

void cToolBarChild::styleButton(cButtonChild* b) {
    b->setBorder(mBorder ? static_cast<cButtonChild::eBorderStyle>(mBorderedStyle) : cButtonChild::bdFlatUntilTouched,
                 false);
    b->setBorderColors(cButtonChild::bsNormal, mDft1, mDft2);
    b->setBgColor(mBg, false);
}

void cToolBarChild::place(cButtonChild* b, int x, int w) {
    sRect client;
    clientRect(&client);
    styleButton(b);
    b->show(false);
    anchor(b, x, 0, w, client.h);
}

void cToolBarChild::addOverflow(int id, cButtonChild* b, bool withHint, int w) {
    sActiveElementItem* item = mOverflow.insert(id);
    item->text = b->text();
    auto idx = mImageIdx.find(id);
    item->image = idx == mImageIdx.end() ? -1 : idx->second;
    item->association = nullptr;
    item->height = height();
    item->hint = withHint ? b->hint() : nullptr;
    if (w > mListW) mListW = w;
    mListH += item->height;
}

void cToolBarChild::rebuildToolbar() {
    ++mLayouts;
    mOverflow.destroy();
    mListW = mListH = 0;
    const int W = width();
    for (auto& kv : mButtons) {
        kv.second->setStyle(static_cast<cButtonChild::eDispStyle>(mStyle), false);
        kv.second->setAlign(mStyle == cButtonChild::dsImageAbove ? cCanvas::taCenter : cCanvas::taLeft, false);
    }
    sRect client;
    clientRect(&client);
    int x = 0;
    if (mBehavior == ssbKeepAll || wantsWidth() <= W) {
        mMore.hide(false);
        for (auto& kv : mButtons) {
            if (mHidden.count(kv.first)) {
                kv.second->hide(false);
                continue;
            }
            const int w = widthOf(kv.second.get(), true);
            place(kv.second.get(), x, w);
            x += w;
        }
    } else {
        const int M = cButtonChild::requiredWidth(this, nullptr, currentThemeValues()->picture(72),
                                                  static_cast<cButtonChild::eDispStyle>(mStyle), mFont);
        mMore.show(false);
        if (mBehavior == ssbOverflowAtEnd) {
            bool overflowing = false;
            for (auto& kv : mButtons) {
                cButtonChild* b = kv.second.get();
                if (mHidden.count(kv.first)) {
                    b->hide(false);
                    continue;
                }
                const int w = widthOf(b, true);
                if (!overflowing && x + M + w <= W) {
                    place(b, x, w);
                    x += w;
                    continue;
                }
                if (!overflowing) {
                    anchor(&mMore, x, 0, M, client.h);
                    overflowing = true;
                }
                b->hide(false);
                if (b->enabled()) addOverflow(kv.first, b, true, w);
            }
            if (!overflowing) anchor(&mMore, x, 0, M, client.h);
        } else {
            // From the hide-from id on, buttons move into the list from the
            // first that no longer fits, counted back from the last.
            for (auto& kv : mButtons) {
                if (kv.first >= mHideFrom) break;
                cButtonChild* b = kv.second.get();
                if (mHidden.count(kv.first)) {
                    b->hide(false);
                    continue;
                }
                const int w = widthOf(b, false);
                place(b, x, w);
                x += w;
            }
            anchor(&mMore, x, 0, M, client.h);
            int room = W - x - M;
            auto split = mButtons.end();
            for (auto it = mButtons.end(); it != mButtons.begin();) {
                --it;
                if (it->first < mHideFrom) break;
                if (mHidden.count(it->first)) continue;
                const int w = widthOf(it->second.get(), false);
                if (w > room) {
                    split = it;
                    break;
                }
                room -= w;
            }
            int after = x + M;
            for (auto it = mButtons.lower_bound(mHideFrom); it != mButtons.end(); ++it) {
                cButtonChild* b = it->second.get();
                if (mHidden.count(it->first)) {
                    b->hide(false);
                    continue;
                }
                const int w = widthOf(b, false);
                if (split != mButtons.end() && it->first <= split->first) {
                    // Disabled entries (separators) are not listed, and are
                    // hidden too rather than left where an earlier layout
                    // put them, under the more button or its neighbours.
                    b->hide(false);
                    if (b->enabled()) addOverflow(it->first, b, false, mFixedW > 0 ? mFixedW : w);
                    continue;
                }
                place(b, after, w);
                after += w;
            }
        }
    }
    if (visible()) repaint(nullptr);
}

void cToolBarChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    if (mBehavior != ssbKeepAll && (mMore.visible_child() || wantsWidth() > width())) rebuildToolbar();
}

bool cToolBarChild::onMouseButton(int, int, int button, bool down) {
    if (button == 1 && down) {
        notifyAction(7);
        return true;
    }
    return false;
}

bool cToolBarChild::onAction(cChildElement* src, cChildAction* a) {
    if (!a || a->code() != 0) return cChildElement::onAction(src, a);
    if (src == &mMore) {
        sPoint at;
        if (!mMore.absPos(at) || mOverflow.empty()) return true;
        const int h = mListH < mMaxDD ? mListH : mMaxDD;
        const int w = static_cast<int>((mListW + (mListH > mMaxDD ? 16 : 0)) * 1.1);
        cPopupMaster::sPopupConfig cfg;
        cfg.pictures = mLists.count(cButtonChild::bsNormal) ? mLists[cButtonChild::bsNormal] : nullptr;
        cfg.selected = -1;
        cfg.bg = mBg;
        cfg.text = mTextColour;
        cfg.border = cPopupMaster::kUnset;
        cfg.font = mFont;
        cfg.openerHeight = mMore.height() + 1;
        const int id = cPopupMaster::runPopUp(this, mOverflow, at.x, at.y + mMore.height() + 1, w, h, cfg);
        if (id != -1) notifyAction(new cTbButtonAction(id));
        return true;
    }
    for (auto& kv : mButtons)
        if (kv.second.get() == src) {
            notifyAction(new cTbButtonAction(kv.first));
            return true;
        }
    return cChildElement::onAction(src, a);
}

void cToolBarChild::onPaint(cCanvas* canvas) {
    cChildElement::onPaint(canvas);
    if (!canvas || transparent()) return;
    sRect r;
    clientRect(&r);
    canvas->drawRect(&r, mBg, mBorder && mDrawOwnBorder ? mBorderColour : mBg);
}
