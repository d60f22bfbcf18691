// cComboBoxChild: a drop-down selector: an edit field that shows the
// selected item's text (and takes typing when editing is allowed), an arrow
// button, and a table of items by integer index.  The list opens as a
// modal popup; a selection copies the item's text into the edit and
// reports code 6.  Escape in the edit without a selection reports code 7.
#pragma once

#include "uitoolkit/button.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/popupmenu.h"

#include <map>
#include <string>

class cComboBoxChild : public cChildElement {
public:
    static constexpr int kActionSelected = 6;
    static constexpr int kActionEscape = 7;

    cComboBoxChild();
    ~cComboBoxChild() override;

    void allowEdit(bool allow);
    const char* text() const override { return mEdit.text(); }
    void text(char* buf, long long size) const override { mEdit.text(buf, size); }
    // The element's own setter (with its repaint flag) stays in reach.
    using cChildElement::setText;
    void setText(const char* t, long long len) { mEdit.setText(t, len); }
    void setBanner(const char* t) { mEdit.setBanner(t); }
    long long maxLen() const { return mEdit.maxLen(); }
    bool setMaxLen(long long n) { return mEdit.setMaxLen(n); }

    // False for a negative index; adds or replaces the item.
    bool setItem(int index, const char* text, void* association, int image);
    void* association(int index) const;
    const char* text(int index) const;
    // Removing the selected item clears the selection and the edit.
    void remove(int index);
    void clear();
    bool select(int index, bool notify);
    int selected() const { return mSelected; }
    int count() const { return static_cast<int>(mItems.size()); }
    void setImageList(cPicturesList* l) { mImages = l; }
    void setDropDownHeightLimit(int h) { mDDLimit = h; }
    void dropdown();

    cEditChild* edit() { return &mEdit; }
    cButtonChild* dropButton() { return &mDrop; }

    void processMouseBtn(int x, int y, int button, bool down, bool m1, bool m2) override;
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    void focus() override { mEdit.focus(); }
    void onSetFocus(bool a, bool b) override;
    bool wantTabStop() override { return true; }
    void onInitData() override;

private:
    struct sItem {
        std::string text;
        void* association = nullptr;
        int image = -1;
    };
    void showText(const std::string& t) { mEdit.setText(t.c_str(), static_cast<long long>(t.size())); }
    bool step(bool down);

    cEditChild mEdit;
    cButtonChild mDrop;
    int mSelected = -1;
    cPicturesList* mImages = nullptr;
    std::map<int, sItem> mItems;
    int mDDLimit = 100;
    bool mPressed = false;
};
