// cTreeViewChild: a hierarchy of items, one line each, indented by level,
// with an expand/collapse indicator left of every item.  Each visible item
// is a real child element (a selectable text-and-image element) and its
// indicator a static picture element; both are made when the item is first
// laid out and hidden while a branch above is collapsed.  Children can be
// supplied on demand (processSubRead) when a branch is expanded.
#pragma once

#include "base/lists.h"
#include "uitoolkit/picture.h"
#include "uitoolkit/scrollable.h"
#include "uitoolkit/selectable.h"

#include <map>

// An item line: '+' and keypad plus ask to expand (code 8), '-' and keypad
// minus to collapse (code 9).
class cTreeItemElement : public cSelectableElement {
public:
    void onChar(unsigned short ch, bool a, bool b, bool c) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
};

// The indicator left of an item.
class cTreeViewControlElement : public cStaticElement {
public:
    enum eCtlKind { ckNone = 0, ckLeaf = 1, ckLastLeaf = 2, ckExpanded = 3, ckCollapsed = 4 };
    eCtlKind kind() const { return mKind; }
    bool isActive() const { return mKind == ckExpanded || mKind == ckCollapsed; }
    void setKind(eCtlKind kind, bool repaint);
    // A press of button 1 on an active indicator notifies a code-0 action.
    bool onMouseButton(int x, int y, int button, bool down) override;

private:
    eCtlKind mKind = ckNone;
};

class cTreeViewChild : public cScrollableElement {
public:
    class cTreeViewItem : public cTreeItem {
    public:
        ~cTreeViewItem() override;
        cTreeItemElement* element = nullptr;        // owned
        cTreeViewControlElement* control = nullptr; // owned
        void* association = nullptr;                // the caller's, not freed
        _guardchar<char> text;
        int imageIndex = -1;
        bool collapsed = false;
        unsigned int textColor = 0xFFFFFFFF;
    };

    // code 6 activated, 7 selected, 9 expanded or collapsed.
    class cTreeItemAction : public cChildAction {
    public:
        cTreeItemAction(int code, cTreeViewItem* of) : cChildAction(code), item(of) {}
        cTreeViewItem* item;
    };
    // code 8: a context request at (x, y) in tree-view coordinates.
    class cTreeItemCtxAction : public cTreeItemAction {
    public:
        cTreeItemCtxAction(cTreeViewItem* of, int atX, int atY) : cTreeItemAction(8, of), x(atX), y(atY) {}
        int x, y;
    };

    cTreeViewChild();
    ~cTreeViewChild() override;

    virtual cTreeItemElement* newTreeItemElement(cTreeViewItem*) { return new cTreeItemElement; }
    virtual cTreeViewControlElement* newTreeViewControlElement(cTreeViewItem*) { return new cTreeViewControlElement; }
    virtual void onElementAttach(cTreeViewItem*, cTreeItemElement*) {}
    virtual bool isSub(cTreeViewItem* item) { return item && item->first; }
    virtual void processSubRead(cTreeViewItem*) {}

    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }
    int wantBorderWidth() override { return 1; }

    bool storeUnder(cTreeViewItem* parent, cTreeViewItem* item, cTreeViewItem* after);
    bool storeUnderFirst(cTreeViewItem* parent, cTreeViewItem* item);
    bool remove(cTreeViewItem* item);
    bool remove_under(cTreeViewItem* item);
    bool clear();
    bool expand(cTreeViewItem* item, bool notify);
    bool collapse(cTreeViewItem* item, bool notify);
    bool select(cTreeViewItem* item, bool focus);
    void deselect(unsigned int text);
    bool selectRoot();
    // The first top-level item.  The name hides the element's own root()
    // (the top of the element tree) inside the tree view and its
    // subclasses, which reach that one as cChildElement::root().
    cTreeViewItem* root() const { return static_cast<cTreeViewItem*>(mItems.root); }
    cTreeViewItem* rootItem() const { return root(); }
    cTreeViewItem* selected() const { return mSelected; }
    static cTreeViewItem* parentItem(cTreeViewItem* i) { return i ? static_cast<cTreeViewItem*>(i->parent) : nullptr; }
    static cTreeViewItem* getUnderItm(cTreeViewItem* i) { return i ? static_cast<cTreeViewItem*>(i->first) : nullptr; }
    static cTreeViewItem* getNextUnderItm(cTreeViewItem* i) { return i ? static_cast<cTreeViewItem*>(i->next) : nullptr; }
    cTreeViewItem* find(void* association);
    cTreeViewItem* find(cTreeViewItem* from, void* association);
    cTreeViewItem* isChild(cChildElement* e) const;
    cTreeViewItem* isCtl(cChildElement* e) const;

    void setOutline(int v);
    void setSpacing(int v);
    void setCellSpacing(int v);
    void setStructIndicatorWidth(int v);
    void setBgColor(unsigned int c);
    void setFrmColor(unsigned int c);
    void setImageLists(cPicturesList* std, cPicturesList* hover, cPicturesList* sel);
    void setHScroll(bool on);
    void setUnfocusedColors(unsigned int text, unsigned int bg, unsigned int frame);
    void setStdColors(unsigned int text, unsigned int bg, unsigned int frame);
    int outline() const { return mOutline; }
    int spacing() const { return mSpacing; }
    int cellSpacing() const { return mCellSpacing; }
    int structIndicatorWidth() const { return mIndicatorW; }
    unsigned int bgColor() const { return mBg; }
    unsigned int frmColor() const { return mFrame; }

    void startChanges() { mBatch = true; }
    void endChanges();
    void update() { build(); }

    void onInitData() override;
    void onSizeChanged() override;
    void onPaintArea(cCanvas* canvas) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    void onSetFocus(bool a, bool b) override;
    void processFocus(int x, int y, int button, bool m1, bool m2) override;
    void processFocusDirect(cChildElement* target) override;
    void processFocusLost(bool a, bool b) override;
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;

private:
    void build();
    void changedLayout();
    void buildTreeRec(cTreeViewItem* first, int level, bool visible, int& y, int& right, int& minLine);
    // Detaches the elements of the item and its descendants (the window's
    // focus, hover and capture pointers leave them first).
    void dropElements(cTreeViewItem* item, bool withItem);
    void selectItem(cTreeViewItem* item);
    void expandItem(cTreeViewItem* item, bool read, bool notify);
    void restoreUnfocused();
    void showUnfocused(cTreeViewItem* item);

    std::map<cChildElement*, cTreeViewItem*> mElements;
    std::map<cChildElement*, cTreeViewItem*> mControls;
    cTree mItems;
    int mOutline = 16, mSpacing = 0, mCellSpacing = 0, mIndicatorW = 16;
    cPicturesList* mLists[3] = {nullptr, nullptr, nullptr};
    unsigned int mBg = 0xFFFFFF, mFrame = 0;
    cTreeViewItem* mSelected = nullptr;
    bool mHScroll = true, mBatch = false, mPending = false;
    unsigned int mSaved[3] = {0, 0, 0};
    unsigned int mUnfocused[3] = {0, 0, 0};
    unsigned int mStd[3] = {0, 0, 0};
    cTreeViewItem* mUnfocusedItem = nullptr;
};
