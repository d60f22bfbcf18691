// cListViewChild: the multi-column list.  Rows of cells (cListViewData)
// under a pinned column header, with optional check boxes in the first
// column, single or multiple selection, full-row highlighting, type-ahead
// search and sorting by a clicked column.
//
// Workers fill the list while the UI thread paints: every read and write of
// the rows and of the row layout goes through the store's lock.  The current
// row is kept by id, so a worker removing it never leaves a dangling anchor.
#pragma once

#include "uitoolkit/header.h"
#include "uitoolkit/listviewdata.h"
#include "uitoolkit/picture.h"
#include "uitoolkit/scrollable.h"

#include <atomic>
#include <thread>

class cListViewChild : public cScrollableElement {
public:
    class cListViewItemAction : public cChildAction {
    public:
        cListViewItemAction(int code, int r) : cChildAction(code), row(r) {}
        int row;
    };
    class cListViewItemChangeAction : public cListViewItemAction {
    public:
        cListViewItemChangeAction(int now, int before, bool add, bool range)
            : cListViewItemAction(7, now), previous(before), add(add), range(range) {}
        int previous;
        unsigned char add, range;
    };
    class cListViewItemChecked : public cListViewItemAction {
    public:
        explicit cListViewItemChecked(int r) : cListViewItemAction(10, r) {}
        int second = 0;
    };

    cListViewChild() = default;
    ~cListViewChild() override;

    cListViewData& data() { return mData; }

    // ---- columns and rows ---------------------------------------------------
    bool setColumn(int col, const char* text, int width, cCanvas::eTextAlign align);
    bool setColumnFont(int col, cFontObject* font);
    bool setColumnTextColor(int col, unsigned int color, bool repaint);
    bool setColumnWidth(int col, int width);
    bool setSortType(int col, cListViewSortProvider* p);
    bool setSortDirection(int col, bool ascending);
    bool getSortDirection(int col, bool& ascending) { return mData.getSortDirection(col, ascending); }
    bool setItem(int row, int col, const char* text, int image, void* association);
    int addItem(int col, const char* text, int image, void* association);
    bool sort(int col);
    void reorderByID() { mData.reorderByID(); }
    bool remove(int row);
    bool clear();
    int getRowCount() { return mData.getRowCount(); }
    int selected();
    int nextSelected(int after) { return mData.nextWithFlag(after, sListViewDataItem::fSelected); }

    // ---- selection ----------------------------------------------------------
    bool select(int row);
    bool select(int col, void* association);
    bool selectBySortIdx(int order) { return select(mData.rowBySortIdx(order)); }
    int find(int col, void* association) { return mData.find(col, association); }
    void deselect();
    bool setSelected(int row, bool on);
    bool setChecked(int row, bool on, bool notify);
    bool checked(int row);
    void setCheckMode(bool on) { mCheckMode = on; }
    void setMultiselect(bool on);
    bool multiselect() const { return mMulti; }
    void setFullLineSelect(bool on, bool repaint);
    void setChbSpacing(int s, bool repaint);
    void setTextPadding(int p, bool repaint);
    void setChkImages(cPicture* checked, cPicture* unchecked, bool repaint);
    void setImageLists(cPicturesList* normal, cPicturesList* alternate, cPicturesList* selected);
    void setSpacing(int s);
    int spacing() const { return mSpacing; }
    void setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool repaint);
    void showHeader(bool on);
    void setHeaderHeight(int h);
    cHeaderChild* header() { return &mHeader; }

    // A batch defers every relayout to its end; a worker filling the list
    // opens one around its fill.
    void startChanges() { mBatch = true; }
    bool endChanges(bool remeasure);
    bool itemRange(int row, int& top, int& bottom);
    bool adjustScrollToItem(int row);
    // The row under content y, or -1.
    int rowAt(int contentY);

    // The selection core: every selecting operation goes through it.
    void select(int row, int anchor, bool add, bool range, bool mark);
    virtual void processMouseSelection(int row, bool add, bool range, int button);

    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }
    int wantBorderWidth() override { return 1; }
    void onInitData() override;
    void onSizeChanged() override;
    void clientRect(sRect* r) override;
    void onPaintArea(cCanvas* canvas) override;
    void onPaint(cCanvas* canvas) override;
    bool processKey(int key, bool range, bool add, bool alt) override;
    bool processChar(unsigned short ch, bool a, bool b, bool c) override;
    void processMouseBtn(int x, int y, int button, bool down, bool add, bool range) override;
    void onMouseDoubleClick(int x, int y) override;
    void onSetFocus(bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    bool onAction(cChildElement* src, cChildAction* a) override;

private:
    struct sColumnLook {
        int align = 0;
        cFontObject* font = nullptr;
        unsigned int color = 0xFFFFFFFF;
    };
    struct sItemYDs {
        int rowId = 0;
        int height = 0;
    };
    void build(bool remeasure);
    // Applies the scroll extent of the last layout: on the UI thread only.
    void applyLayout();
    class cLayoutReady : public cChildAction {
    public:
        cLayoutReady() : cChildAction(-7) {}
    };
    void relayout(bool remeasure);
    int headerShownHeight() const { return mHeaderShown ? mHeaderH : 0; }
    void notifyChange(int now, int before, bool add, bool range);
    void clearSelection(int except);
    bool inCheckZone(int contentX) const;
    void toggleCheck(int row);
    void paintRow(cCanvas* c, int top, int h, cListViewData::Row& cells, bool aboveSelected);
    int pageTarget(bool down);

    cListViewData mData;
    cFasterTreeList<int, sColumnLook> mColumns;
    cFasterTreeList<int, sItemYDs> mLayout;   // top y -> row
    cFasterTreeList<int, int> mTopOf;         // row -> top y
    cHeaderChild mHeader;
    cPicturesList* mImages[3] = {nullptr, nullptr, nullptr};
    unsigned int mBg = 0xFFFFFF, mBorder = 0, mText = 0;
    unsigned int mSelBg = 0, mSelText = 0, mSelBorder = 0;
    unsigned int mSelBgU = 0, mSelTextU = 0, mSelBorderU = 0;
    unsigned int mFullBg = 0, mFullBgU = 0;
    int mSpacing = 0;
    bool mMulti = false;
    std::atomic<bool> mBatch{false}, mPending{false}, mPendingRemeasure{false};
    std::thread::id mUiThread;
    int mLaidHeight = 0, mLaidQuantum = 1;  // under the lock
    bool mCheckMode = false, mFullRow = false;
    unsigned short mTyped[10] = {};
    int mTypedCount = 0;
    unsigned int mTypedAt = 0;
    int mChbSpacing = 0, mTextPadding = 0;
    cPicture* mChecked = nullptr;
    cPicture* mUnchecked = nullptr;
    int mCurrent = -1;
    bool mHeaderShown = true;
    int mHeaderH = 0;
};
