// The rows of a multi-column list: cells with text, image and association
// under caller-chosen row and column ids, a display order, and sorting of
// that order by one column through pluggable sort providers.
//
// Rows are filled from worker jobs while the UI thread paints, so every
// operation, reader or writer, takes the one lock of the store; the lock is
// recursive, so the list view may hold it across a paint that reads cells.
#pragma once

#include "base/buffers.h"
#include "base/serializedkey.h"
#include "base/strkey.h"
#include "base/sync.h"
#include "base/treelist.h"

#include <climits>

struct sListViewDataItem {
    enum { fSelected = 1, fChecked = 2 };
    void* association = nullptr;
    _guardchar<char> text;
    unsigned int textColor = 0xFFFFFFFF;
    int rowId = 0;
    short image = -1;
    short height = 0;  // cached measured height; 0 = to be measured
    unsigned short flags = 0;
    unsigned short indent = 0;
};

// A tree of values keyed by {key, serial}: equal keys keep the order in which
// they were inserted.
template <typename K, typename V>
class cUUSorterList {
public:
    using Tree = cFasterTreeList<cSerializedKey<K>, V>;
    // The slot of a new entry after every entry with an equal key; null when
    // the serial numbers of that key are exhausted.
    V* insert_nonunique(const K& key) {
        int serial = 0;
        typename Tree::cTreeItem* le = mTree.find_le(cSerializedKey<K>(key, INT_MAX));
        if (le && !(le->key.key < key) && !(key < le->key.key)) {
            if (le->key.serial == INT_MAX) return nullptr;
            serial = le->key.serial + 1;
        }
        return mTree.insert(cSerializedKey<K>(key, serial));
    }
    void clear() { mTree.destroy(); }
    Tree& tree() { return mTree; }

private:
    Tree mTree;
};

class cListViewSortProvider {
public:
    // Prepares an empty run; false = cannot sort.
    virtual bool init() = 0;
    // Adds one cell; false = this cell has no key.
    virtual bool push(sListViewDataItem* item) = 0;
    // From null: the first (last) entry; else the one after (before) pos.
    // Returns the new position, null past the end.
    virtual void* next(void* pos, sListViewDataItem*& item) = 0;
    virtual void* prev(void* pos, sListViewDataItem*& item) = 0;
    virtual ~cListViewSortProvider() = default;
};

template <typename K>
class cListViewSorterBase : public cListViewSortProvider {
public:
    void* next(void* pos, sListViewDataItem*& item) override {
        auto& t = mList.tree();
        auto* n = pos ? t.next(static_cast<Item*>(pos)) : t.first();
        if (n) item = n->value;
        return n;
    }
    void* prev(void* pos, sListViewDataItem*& item) override {
        auto& t = mList.tree();
        auto* n = pos ? t.prev(static_cast<Item*>(pos)) : t.last();
        if (n) item = n->value;
        return n;
    }

protected:
    using Item = typename cUUSorterList<K, sListViewDataItem*>::Tree::cTreeItem;
    bool add(const K& key, sListViewDataItem* it) {
        sListViewDataItem** slot = mList.insert_nonunique(key);
        if (!slot) return false;
        *slot = it;
        return true;
    }
    cUUSorterList<K, sListViewDataItem*> mList;
};

// Orders by the cell text, byte-wise, shorter first.
class cListViewNameSortProvider : public cListViewSorterBase<cStringKey> {
public:
    bool init() override {
        mList.clear();
        return true;
    }
    bool push(sListViewDataItem* item) override {
        if (!item || !item->text.get()) return false;
        return add(cStringKey(item->text.get(), -1), item);
    }
};

// Orders by a number the caller derives from each cell.
class cListViewU64PramSortProvider : public cListViewSorterBase<unsigned long long> {
public:
    typedef unsigned long long (*tTransform)(sListViewDataItem*);
    void setTransformProc(tTransform p) { mProc = p; }
    bool init() override {
        mList.clear();
        return mProc != nullptr;
    }
    bool push(sListViewDataItem* item) override {
        if (!mProc || !item) return false;
        return add(mProc(item), item);
    }

private:
    tTransform mProc = nullptr;
};

// The row store.  Row ids and column ids are caller-chosen; the display order
// numbers rows from 0 without gaps after every sort and removal.
class cListViewData {
public:
    using Row = cFasterTreeList<int, sListViewDataItem>;

    cListViewData() = default;
    ~cListViewData();
    cListViewData(const cListViewData&) = delete;
    cListViewData& operator=(const cListViewData&) = delete;

    cCriticalSection& lock() { return mLock; }

    // What setItem changed: nothing, the association only, or the look of a
    // cell (a new cell, text or image): the rows must be measured again.
    enum eSetResult { srFailed = -1, srNone = 0, srRelayout = 1 };
    eSetResult setItem(int row, int col, const char* text, int image, void* association);
    // A new row after the greatest row id; its id, or -1.
    int addItem(int col, const char* text, int image, void* association);
    bool remove(int row);
    void clear();

    bool setSortType(int col, cListViewSortProvider* p);  // takes ownership
    bool hasSortType(int col);
    bool setSortDirection(int col, bool ascending);
    bool getSortDirection(int col, bool& ascending);
    bool sort(int col);
    int sortedColumn();
    void reorderByID();

    bool setItemTextColor(int row, int col, unsigned int c);
    bool setItemIdent(int row, int col, int indent);
    // Copies of the text: a worker may change the cell right after.
    bool text(int row, int col, _guardchar<char>& out);
    void* association(int row, int col);
    bool textBySortIdx(int order, int col, _guardchar<char>& out);
    void* associationBySortIdx(int order, int col);
    int find(int col, void* association);

    int getRowCount();
    int first();
    int next(int row);
    int firstBySort();
    int lastBySort();
    int nextBySort(int row);
    int prevBySort(int row);
    int rowBySortIdx(int order);
    int sortIdx(int row);

    // First-cell flags (selected, checked); -1 for a missing row.
    int flags(int row);
    bool setFlags(int row, unsigned short set, unsigned short clear);
    int nextWithFlag(int after, unsigned short flag);

    // Reads under the lock; the callback sees the row's cells in column order.
    template <typename F>
    void forEachInOrder(F f) {
        cLock l(mLock);
        for (auto* o = mOrder.first(); o; o = mOrder.next(o)) {
            Row* r = mRows.find(o->value);
            if (r && !f(o->value, *r)) break;
        }
    }
    Row* rowLocked(int row) { return mRows.find(row); }

private:
    struct cLock {
        explicit cLock(cCriticalSection& c) : cs(c) { cs.enter(); }
        ~cLock() { cs.exit(); }
        cCriticalSection& cs;
    };
    struct sColumn {
        cListViewSortProvider* provider = nullptr;
        bool ascending = true;
    };
    sListViewDataItem* cell(int row, int col);
    void appendOrder(int row);

    cCriticalSection mLock;
    cFasterTreeList<int, sColumn> mCols;
    cFasterTreeList<int, int> mOrder;     // order number -> row id
    cFasterTreeList<int, int> mOrderOf;   // row id -> order number
    cFasterTreeList<int, Row> mRows;
    int mSorted = -1;
};
