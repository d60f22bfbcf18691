#include "uitoolkit/checkbox.h"

#include "uitoolkit/themevalues.h"

namespace {

// Theme pictures of the check mark.
enum {
    kPicUnChecked = 30,
    kPicChecked = 31,
    kPicActUnChecked = 32,
    kPicActChecked = 33,
    kPicDsbUnChecked = 34,
    kPicDsbChecked = 35,
};

// A click is a press and a release of button 1 both inside the element; the
// press captures the pointer so that the release comes back here wherever it
// happens.  Answers true when a whole click ended with this event.
bool trackClick(cChildElement* e, bool& pressed, int x, int y, bool down) {
    if (down) {
        pressed = e->inme(x, y);
        if (pressed) e->capturePointer(false);
        return false;
    }
    if (!pressed) return false;
    pressed = false;
    e->releasePointer();
    return e->inme(x, y);
}

}  // namespace

cCheckBoxChild::cCheckBoxChild() = default;

cCheckBoxChild::~cCheckBoxChild() = default;

cPicture* cCheckBoxChild::imgChecked() { return currentThemeValues()->picture(kPicChecked); }
cPicture* cCheckBoxChild::imgUnChecked() { return currentThemeValues()->picture(kPicUnChecked); }
cPicture* cCheckBoxChild::imgActChecked() { return currentThemeValues()->picture(kPicActChecked); }
cPicture* cCheckBoxChild::imgActUnChecked() { return currentThemeValues()->picture(kPicActUnChecked); }
cPicture* cCheckBoxChild::imgDsbChecked() { return currentThemeValues()->picture(kPicDsbChecked); }
cPicture* cCheckBoxChild::imgDsbUnChecked() { return currentThemeValues()->picture(kPicDsbUnChecked); }

void cCheckBoxChild::setImage() {
    cPicture* p;
    if (!enabled())
        p = mChecked ? imgDsbChecked() : imgDsbUnChecked();
    else if (focused())
        p = mChecked ? imgActChecked() : imgActUnChecked();
    else
        p = mChecked ? imgChecked() : imgUnChecked();
    if (p != image()) cStaticElement::setImage(p, true);
}

void cCheckBoxChild::setChecked(bool c, bool notify) {
    if ((mChecked != 0) == c) return;
    mChecked = c ? 1 : 0;
    setImage();
    if (notify) notifyAction(0);
}

bool cCheckBoxChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    if (trackClick(this, mPressed, x, y, down)) setChecked(!mChecked, true);
    return true;
}

void cCheckBoxChild::onKey(int key, bool, bool, bool) {
    if (key == 0x20) setChecked(!mChecked, true);
}

void cCheckBoxChild::onEnableChanged(bool) { setImage(); }
void cCheckBoxChild::onSetFocus(bool, bool) { setImage(); }
void cCheckBoxChild::onLooseFocus(bool, bool) { setImage(); }

void cCheckBoxChild::onInitData() {
    cStaticElement::onInitData();
    mChecked = 0;
    mPressed = false;
    setImage();
}

cLinkElement::cLinkElement() = default;

cLinkElement::~cLinkElement() = default;

bool cLinkElement::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1) return false;
    if (trackClick(this, mPressed, x, y, down)) notifyAction(0);
    return true;
}

void cLinkElement::onInitData() {
    cStaticElement::onInitData();
    mPressed = false;
    setTextColor(currentThemeValues()->color(7));
    setFont(createFont(5, 13, stdFontFace(), false, true, false));
}
