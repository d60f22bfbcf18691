#include "uitoolkit/selectable.h"

#include "uitoolkit/themevalues.h"

namespace {
const int kKeySpace = 0x20;
const int kKeyPadEnter = 0x18D;
}  // namespace

cSelectableElement::cSelectableElement() = default;
cSelectableElement::~cSelectableElement() = default;

void cSelectableElement::apply(const sSchema& s) { setColorSchema(s.text, s.bg, s.frame); }

cPicture* cSelectableElement::currentImage() const {
    if (mSelected && mSelImage) return mSelImage;
    if (mHovered && mHovImage) return mHovImage;
    return mStdImage;
}

// The schema and image of the present state.
void cSelectableElement::applyState() {
    if (mSelected) apply(mSel);
    else if (mHovered) apply(mHov);
    else apply(mStd);
    setImage(currentImage(), true);
}

bool cSelectableElement::select(bool notify) {
    if (!mSelected) {
        mSelected = true;
        applyState();
        if (notify) notifyAction(new cSelectableSelectAction(false, false));
    }
    if (notify) focus();
    return true;
}

bool cSelectableElement::deselect() {
    mSelected = false;
    apply(mStd);
    setImage(currentImage(), false);
    if (visible()) repaint(nullptr);
    return true;
}

void cSelectableElement::setActive(bool a) {
    if (a == mActive) return;
    if (!a && (mHovered || mSelected)) {
        mHovered = mSelected = false;
        applyState();
    }
    mActive = a;
    setAcceptFocus(a);
}

void cSelectableElement::wasSelected(bool a, bool b) { notifyAction(new cSelectableSelectAction(a, b)); }

void cSelectableElement::setStdColorSchema(unsigned int text, unsigned int bg, unsigned int frame) {
    mStd = {text, bg, frame};
    if (!mHovered && !mSelected) apply(mStd);
}

void cSelectableElement::getStdColorSchema(unsigned int* text, unsigned int* bg, unsigned int* frame) const {
    if (text) *text = mStd.text;
    if (bg) *bg = mStd.bg;
    if (frame) *frame = mStd.frame;
}

void cSelectableElement::setHovColorSchema(unsigned int text, unsigned int bg, unsigned int frame) {
    mHov = {text, bg, frame};
    if (mHovered && !mSelected) apply(mHov);
}

void cSelectableElement::setSelColorSchema(unsigned int text, unsigned int bg, unsigned int frame) {
    mSel = {text, bg, frame};
    if (mSelected) apply(mSel);
}

void cSelectableElement::setBgColorStd(unsigned int c) { setStdColorSchema(mStd.text, c, c); }

void cSelectableElement::setTxtColorStd(unsigned int c) { setStdColorSchema(c, mStd.bg, mStd.frame); }

void cSelectableElement::setTextColorCommon(unsigned int c) {
    const bool differed = mStd.text != c || mHov.text != c || mSel.text != c || textColor() != c;
    mStd.text = mHov.text = mSel.text = c;
    if (differed) setTextColor(c);
}

void cSelectableElement::setImages(cPicture* std, cPicture* hover, cPicture* sel, bool rp) {
    mStdImage = std;
    mHovImage = hover;
    mSelImage = sel;
    setImage(currentImage(), rp);
}

void cSelectableElement::onMouseOver() {
    cStaticElement::onMouseOver();
    if (!mActive) return;
    mHovered = true;
    if (!mSelected) applyState();
}

void cSelectableElement::onMouseLeft() {
    cStaticElement::onMouseLeft();
    if (!mActive) return;
    mHovered = false;
    if (!mSelected) applyState();
}

void cSelectableElement::onSetFocusEvent(eEventOrigin origin, bool a, bool b) {
    if (!mActive) return;
    mSelected = true;
    applyState();
    if (origin != eoDirect) notifyAction(new cSelectableSelectAction(a, b));
}

void cSelectableElement::onLooseFocus(bool, bool) {
    if (!mActive) return;
    mSelected = false;
    applyState();
}

void cSelectableElement::onMouseDoubleClick(int x, int y) {
    cStaticElement::onMouseDoubleClick(x, y);
    if (mActive) notifyAction(7);
}

void cSelectableElement::onKey(int key, bool, bool, bool) {
    if (mActive && (key == kKeySpace || key == kKeyPadEnter)) notifyAction(7);
}

void cSelectableElement::onInitData() {
    cThemeValues* t = currentThemeValues();
    mStd = {t->color(4), t->color(14), t->color(20)};
    mHov = {t->color(4), t->color(15), t->color(22)};
    mSel = {t->color(9), t->color(16), t->color(25)};
    mStdImage = mHovImage = mSelImage = nullptr;
    mSelected = mHovered = false;
    mActive = true;
    cStaticElement::onInitData();
}
