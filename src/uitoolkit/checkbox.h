// cCheckBoxChild: a static element whose image is the theme's check mark for
// the box's checked, focused and enabled state, its text the label.
// cLinkElement: an underlined text in the theme's link colour that reports a
// click to its parent, which reads the association it carries.
//
// Both act on a click only when button 1 went down and came up inside them:
// a release whose press was elsewhere (or one dragged out) does nothing.
#pragma once

#include "uitoolkit/static.h"

class cCheckBoxChild : public cStaticElement {
public:
    cCheckBoxChild();
    ~cCheckBoxChild() override;

    using cStaticElement::setImage;
    // Chooses the picture for the current state and repaints when it changed.
    virtual void setImage();
    virtual cPicture* imgChecked();
    virtual cPicture* imgUnChecked();
    virtual cPicture* imgActChecked();
    virtual cPicture* imgActUnChecked();
    virtual cPicture* imgDsbChecked();
    virtual cPicture* imgDsbUnChecked();
    // The picture follows the state: a picture from outside is ignored.
    virtual void setImage(cPicture*) {}

    bool checked() const { return mChecked != 0; }
    // Does nothing when unchanged; with notify, reports code 0 to the parents.
    void setChecked(bool checked, bool notify);

    bool onMouseButton(int x, int y, int button, bool down) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onEnableChanged(bool e) override;
    void onSetFocus(bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    bool wantTabStop() override { return true; }
    bool wantAcceptFoucs() override { return true; }
    void onInitData() override;

private:
    unsigned char mChecked = 0;
    bool mPressed = false;
};

class cLinkElement : public cStaticElement {
public:
    cLinkElement();
    ~cLinkElement() override;

    void setAssociation(void* a) { mAssociation = a; }
    void* association() const { return mAssociation; }

    bool onMouseButton(int x, int y, int button, bool down) override;
    eMousePointerTypes defaultPointer() override { return mptHand; }
    void onInitData() override;

private:
    void* mAssociation = nullptr;
    bool mPressed = false;
};
