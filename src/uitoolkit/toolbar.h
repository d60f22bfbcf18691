// cToolBarChild: a row of push buttons addressed by integer ids, laid out
// left to right in id order.  Buttons take their pictures by index from
// per-state picture lists; ids can become separators or be hidden; when the
// row is too narrow, buttons can move into an overflow list that a "more"
// button opens as a popup.  Every click is reported as a cTbButtonAction
// carrying the button's id.
#pragma once

#include "uitoolkit/button.h"
#include "uitoolkit/popupmenu.h"

#include <map>
#include <memory>
#include <set>

class cToolBarChild : public cChildElement {
public:
    enum eSmallerSizeBehavior { ssbKeepAll = 0, ssbOverflowFrom = 1, ssbOverflowAtEnd = 2 };

    class cTbButtonAction : public cChildAction {
    public:
        explicit cTbButtonAction(int button) : cChildAction(6), id(button) {}
        int id;
    };

    cToolBarChild();
    ~cToolBarChild() override;

    virtual cButtonChild* allocButton() { return new cButtonChild(); }
    virtual bool initButton(int, cButtonChild*) { return true; }

    void setButton(int id, const char* text, int image);
    void setSeparator(int id);
    bool removeButton(int id);
    void removeAll(bool repaint);
    cButtonChild* findButton(int id) const;
    bool buttonAbsPos(int id, sPoint& p);
    bool setVisible(int id, bool visible);
    bool setEnabled(int id, bool enabled);
    bool isEnabled(int id) const;
    // The bar's own hint stays reachable next to the per-button one.
    using cChildElement::setHint;
    bool setHint(int id, const char* text);
    void setImageList(int state, cPicturesList* list);
    void setImage(cButtonChild* b, int index);
    void setFixedButtonWidth(int w);
    void setMinButtonWidth(int w) { mMinButtonW = w; }
    void setBorder(bool b);
    void setBgColor(unsigned int c, bool repaint);
    void setMaxDDHeight(int h) {
        if (h >= 17) mMaxDD = h;
    }
    int maxDDHeight() const { return mMaxDD; }
    void setButtonsStyle(cButtonChild::eDispStyle s);
    void setBorderedButtonStyle(cButtonChild::eBorderStyle s);
    void setDrawOwnBorder(bool b);
    bool setButtonFont(int id, cFontObject* font);
    bool setButtonTextColor(int id, unsigned int c);
    void setButtonsTextColor(unsigned int c);
    void setButtonsTextColor(int state, unsigned int c);
    void setButtonsFont(cFontObject* font);
    void refButtonsBgImage(int state, cPicture* p);
    void setButtonsBorderColor(int state, unsigned int c);
    void setDftBorderColors(unsigned int first, unsigned int second);
    void setButtonAcceptFocus(bool b);
    void setSmallerSizeBehavior(eSmallerSizeBehavior b);
    void setHideFrom(int id);
    int wantsWidth() const;
    void rebuildToolbar();
    cButtonChild* moreButton() { return &mMore; }
    // The overflow list of the last layout.
    const tActiveElementItems& overflowItems() const { return mOverflow; }
    int layouts() const { return mLayouts; }

    void onPaint(cCanvas* canvas) override;
    void onSizeChanged() override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    void setTransparent(bool b) override;
    void onInitData() override;

private:
    int widthOf(cButtonChild* b, bool useFixed) const;
    void place(cButtonChild* b, int x, int w);
    void styleButton(cButtonChild* b);
    void addOverflow(int id, cButtonChild* b, bool withHint, int w);
    cButtonChild* newButton(int id);
    void deleteButton(int id);

    std::map<int, int> mImageIdx;
    std::map<int, std::unique_ptr<cButtonChild>> mButtons;
    std::set<int> mHidden;
    std::map<int, cPicturesList*> mLists;
    int mFixedW = 0;
    int mHideFrom = 0;
    eSmallerSizeBehavior mBehavior = ssbKeepAll;
    int mBorderedStyle = cButtonChild::bdSingle;
    cButtonChild mMore;
    tActiveElementItems mOverflow;
    int mListW = 0, mListH = 0;
    int mMaxDD = 200;
    unsigned int mBg = 0xFFFFFF, mBorderColour = 0, mTextColour = 0;
    cFontObject* mFont = nullptr;
    bool mBorder = false;
    bool mDrawOwnBorder = true;
    int mStyle = cButtonChild::dsImageLeft;
    int mMinButtonW = 0;
    unsigned int mDft1 = 0xFFFFFFFFu, mDft2 = 0xFFFFFFFFu;
    int mLayouts = 0;
    bool mButtonsFocus = true;
};
