// cListViewChild: the multi-column list.  Rows of cells (cListViewData)
// under a pinned column header, with optional check boxes in the first
// column, single or multiple selection, full-row highlighting, type-ahead
// search and sorting by a clicked column.
//
// Workers fill the list while the UI thread paints: every read and write of
// the rows and of the row layout goes through the list's lock (lock()), a
// recursive lock.  The current row is kept by id, so a worker removing it
// never leaves a dangling anchor.
//
// The layout follows every change as it is made: each row's height is
// measured when one of its cells changes and the store adds the heights up
// in display order, so finding a row's top or the row under a point, adding
// a row and removing one cost O(log n) whatever the length of the list.  A
// "rebuild" then only hands the new extent to the scroll bars and repaints,
// or, inside a batch (startChanges ... endChanges), is put off to its end.
// Only a change that touches every row (spacing, fonts, image lists, a new
// column) measures them all again.
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
        cListViewItemChangeAction(int now, int before, bool added, bool inRange)
            : cListViewItemAction(7, now), previous(before), add(added), range(inRange) {}
        int previous;
        unsigned char add, range;
    };
    class cListViewItemChecked : public cListViewItemAction {
    public:
        explicit cListViewItemChecked(int r) : cListViewItemAction(10, r) {}
        int second = 0;
    };

    // The sort providers: by the cell text, byte by byte, or by a number the
    // caller derives from each cell.  Defined below.
    class cListViewNameSortProvider;
    class cListViewU64PramSortProvider;

    cListViewChild() = default;
    ~cListViewChild() override;

    cListViewData& data() { return mData; }
    // The list's lock: hold it to keep a pointer into a row (text(row, col),
    // textBySortIdx) valid while workers fill the list.
    cCriticalSection& lock() { return mData.lock(); }

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
    void reorderByID();
    bool remove(int row);
    bool clear();
    bool setItemTextColor(int row, int col, unsigned int color) { return mData.setItemTextColor(row, col, color); }
    bool setItemIdent(int row, int col, int indent) { return mData.setItemIdent(row, col, indent); }

    // The cell's text, a pointer into the row (null for a missing cell).  It
    // stays valid until the cell's text is set again or its row is removed
    // or cleared: while workers may fill the list, only as long as the
    // caller holds lock().  The lock is held for the call itself.
    const char* text(int row, int col) { return mData.text(row, col); }
    const char* textBySortIdx(int order, int col) { return mData.textBySortIdx(order, col); }
    using cScrollableElement::text;
    void* association(int row, int col) { return mData.association(row, col); }
    void* associationBySortIdx(int order, int col) { return mData.associationBySortIdx(order, col); }

    int getRowCount() { return mData.getRowCount(); }
    int first() { return mData.first(); }
    int next(int row) { return mData.next(row); }
    int firstBySort() { return mData.firstBySort(); }
    int lastBySort() { return mData.lastBySort(); }
    int nextBySort(int row) { return mData.nextBySort(row); }
    int prevBySort(int row) { return mData.prevBySort(row); }
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

    // ---- look ---------------------------------------------------------------
    void setFullLineSelect(bool on, bool repaint);
    void setFullLineSelectColors(unsigned int focused, unsigned int unfocused, bool repaint);
    // Text, background and border of unselected cells, of the selection
    // while the list has the focus, and of the selection without it.
    void setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool repaint);
    void setColorSchemaFocusedActive(unsigned int text, unsigned int bg, unsigned int border, bool repaint);
    void setColorSchemaFocusedInactive(unsigned int text, unsigned int bg, unsigned int border, bool repaint);
    void setBgColor(unsigned int c, bool repaint);
    void setBorderColor(unsigned int c, bool repaint);
    void setTextColor(unsigned int c, bool repaint);
    unsigned int bgColor() const { return mBg; }
    unsigned int borderColor() const { return mBorder; }
    unsigned int textColor() const { return mTextColor; }
    void setChbSpacing(int s, bool repaint);
    void setTextPadding(int p, bool repaint);
    void setChkImages(cPicture* checked, cPicture* unchecked, bool repaint);
    void setImageLists(cPicturesList* normal, cPicturesList* alternate, cPicturesList* selected);
    void setSpacing(int s);
    int spacing() const { return mSpacing; }
    void showHeader(bool on);
    void setHeaderHeight(int h);
    cHeaderChild* header() { return &mHeader; }

    // A batch defers every relayout to its end; a worker filling the list
    // opens one around its fill.
    void startChanges() { mBatch = true; }
    bool endChanges(bool remeasure);
    // The row's top and bottom (itemPos: its top) in element coordinates.
    bool itemRange(int row, int& top, int& bottom);
    bool itemPos(int row, int& top);
    bool adjustScrollToItem(int row);
    // One laid-out row: its id and height.
    struct sItemYDs {
        int rowId = -1;
        int height = 0;
    };
    // The laid-out row under content y and its top in content coordinates;
    // false below the rows (and for rows without any column).
    bool layoutAt(int contentY, int& top, sItemYDs& row);
    // The row under content y, or -1.
    int rowAt(int contentY);

    // The selection core: every selecting operation goes through it.
    void select(int row, int anchor, bool add, bool range, bool mark);
    // The mouse rule for one row.  Called with the list's lock held, so the
    // first cell (the row's cell in its smallest column) stays valid for the
    // whole call; an override must not keep it after returning.
    virtual void processMouseSelection(int row, sListViewDataItem* firstCell, bool add, bool range, int button);

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
    class cLayoutReady : public cChildAction {
    public:
        cLayoutReady() : cChildAction(-7) {}
    };
    // Measures every row again (remeasure: every cell too) and hands the
    // layout over.
    void build(bool remeasure);
    // Hands the current layout to the scroll bars and repaints, or, inside
    // a batch, marks that this is due at its end.
    void relayout(bool remeasure = false);
    // Applies the scroll extent of the layout: on the UI thread only.
    void applyLayout();
    // Under the lock: the row's height from its cells' cached heights,
    // measuring the cells that have none.
    int measureRow(cListViewData::Row& cells, bool remeasure);
    cFontObject* measureFont();
    void measureAndStore(int row);
    int headerShownHeight() const { return mHeaderShown ? mHeaderH : 0; }
    // Where the first row starts, in content coordinates: below the top
    // border and the header, so that no row's edge lies under either.
    int rowsTop() const { return mBorderWidth + headerShownHeight(); }
    // The content width: the header's and the border on both sides.
    int contentWidth() { return mHeader.width() + 2 * mBorderWidth; }
    // The content x and width of the row's first cell, the one that carries
    // the selection frame; false when the row has none shown.
    bool firstCellSpan(int row, int& x, int& w);
    void notifyChange(int now, int before, bool add, bool range);
    void clearSelection(int except);
    bool inCheckZone(int contentX) const;
    void toggleCheck(int row);
    void paintRow(cCanvas* c, int top, int h, cListViewData::Row& cells, bool aboveSelected, cFontObject* font);
    void frame(cCanvas* c, int x, int y, int w, int h, unsigned int color, bool top);
    int pageTarget(bool down);

    cListViewData mData;
    cHeaderChild mHeader;
    cPicturesList* mImages[3] = {nullptr, nullptr, nullptr};
    unsigned int mBg = 0xFFFFFF, mBorder = 0, mTextColor = 0;
    unsigned int mSelBg = 0, mSelText = 0, mSelBorder = 0;
    unsigned int mSelBgU = 0, mSelTextU = 0, mSelBorderU = 0;
    unsigned int mFullBg = 0, mFullBgU = 0;
    int mSpacing = 0;
    bool mMulti = false;
    std::atomic<bool> mBatch{false}, mPending{false}, mPendingRemeasure{false}, mLayoutPosted{false};
    std::thread::id mUiThread;
    std::atomic<cFontObject*> mMeasureFont{nullptr};
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

// Orders by the cell text, byte by byte (as unsigned bytes), a prefix first.
// Each key is the text's first 16 bytes packed into two numbers, so most
// comparisons are two integer compares; only texts that agree on those
// bytes compare the rest.
class cListViewChild::cListViewNameSortProvider : public cListViewIndexedSorter {
public:
    // The flag word is the depth limit of a sorting tree of string keys
    // (3072, the default); the entries are sorted in an array here, so it is
    // only kept for the callers that pass it.
    explicit cListViewNameSortProvider(unsigned int flags = 3072) : mFlags(flags) { keepCells(); }
    unsigned int flags() const { return mFlags; }
    bool init() override;
    bool push(sListViewDataItem* item) override;

protected:
    void reserveKeys(std::size_t n) override;
    void order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) override;

private:
    struct sKey {
        unsigned long long hi, lo;
        unsigned int push, tag;
    };
    std::vector<sKey> mKeys;
    sRoom<sKey> mSpare[2];
    std::vector<unsigned int> mCount;  // byte counts of the keys, per digit
    unsigned int mFlags;
};

// Orders by a number the caller derives from each cell; the number is taken
// once per cell and sort, not once per comparison.
class cListViewChild::cListViewU64PramSortProvider : public cListViewIndexedSorter {
public:
    typedef unsigned long long (*tTransform)(sListViewDataItem*);
    void setTransformProc(tTransform p) { mProc = p; }
    bool init() override;
    bool push(sListViewDataItem* item) override;
    std::size_t pushRun(sListViewDataItem* const* items, const unsigned int* tags, std::size_t n) override;

protected:
    void reserveKeys(std::size_t n) override;
    void order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) override;

private:
    // An entry of a sort whose keys differ beyond their low 32 bits: the
    // key and a push number or tag.
    struct sWide {
        unsigned long long key;
        unsigned int which;
    };
    // Key and tag of each push, by push number.
    std::vector<unsigned long long> mKeys;
    std::vector<unsigned int> mKeyTags;
    sRoom<unsigned long long> mNarrow[2];
    sRoom<sWide> mWide[2];
    sRoom<unsigned int> mStage;        // the last pass's spread-out buckets
    std::vector<unsigned int> mCount;  // counts of the keys' four lowest digits
    unsigned long long mFirst = 0;     // the first key
    unsigned long long mDiff = 0;      // bits in which keys differ from the first
    tTransform mProc = nullptr;
};
