// cSelectableElement: a static text that can be hovered, selected and
// activated (list items, entries of tool bars).  It switches between three
// colour schemas and three images, reports a selection as an action of code
// 6 and an activation (double click, Space, keypad Enter) as code 7, and
// takes the focus only while it is active.
#pragma once

#include "uitoolkit/static.h"

class cSelectableElement : public cStaticElement {
public:
    class cSelectableSelectAction : public cChildAction {
    public:
        cSelectableSelectAction(bool a, bool b) : cChildAction(6), flagA(a), flagB(b) {}
        bool flagA, flagB;
    };

    cSelectableElement();
    ~cSelectableElement() override;

    bool select(bool notify);
    bool deselect();
    bool selected() const { return mSelected; }
    bool hovered() const { return mHovered; }
    bool active() const { return mActive; }
    void setActive(bool a);
    void wasSelected(bool a, bool b);
    void setStdColorSchema(unsigned int text, unsigned int bg, unsigned int frame);
    void getStdColorSchema(unsigned int* text, unsigned int* bg, unsigned int* frame) const;
    void setHovColorSchema(unsigned int text, unsigned int bg, unsigned int frame);
    void setSelColorSchema(unsigned int text, unsigned int bg, unsigned int frame);
    void setBgColorStd(unsigned int c);
    void setTxtColorStd(unsigned int c);
    void setTextColorCommon(unsigned int c);
    void setImages(cPicture* std, cPicture* hover, cPicture* sel, bool repaint);
    // The image for the present state.
    cPicture* currentImage() const;

    void onMouseOver() override;
    void onMouseLeft() override;
    void onSetFocusEvent(eEventOrigin origin, bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    void onMouseDoubleClick(int x, int y) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onInitData() override;
    bool wantAcceptFoucs() override { return mActive; }

private:
    struct sSchema {
        unsigned int text, bg, frame;
    };
    void apply(const sSchema& s);
    void applyState();

    bool mSelected = false, mHovered = false, mActive = true;
    sSchema mStd{0, 0, 0}, mHov{0, 0, 0}, mSel{0, 0, 0};
    cPicture* mStdImage = nullptr;
    cPicture* mHovImage = nullptr;
    cPicture* mSelImage = nullptr;
};
