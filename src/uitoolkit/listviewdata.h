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

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <cstring>
#include <functional>
#include <vector>

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

// The providers gather their entries in push order and order them once, on
// the first walk, with a stable sort: equal keys keep the order in which
// they were pushed, as the serial numbers of cUUSorterList keep it, at a
// fraction of the cost of a million tree insertions.
template <typename K, typename Less>
class cListViewSorterBase : public cListViewSortProvider {
public:
    void* next(void* pos, sListViewDataItem*& item) override { return step(pos, item, true); }
    void* prev(void* pos, sListViewDataItem*& item) override { return step(pos, item, false); }

protected:
    struct sEntry {
        K key;
        sListViewDataItem* item;
    };
    void reset() {
        mEntries.clear();
        mSorted = true;
    }
    bool add(const K& key, sListViewDataItem* it) {
        mEntries.push_back({key, it});
        mSorted = false;
        return true;
    }

private:
    void* step(void* pos, sListViewDataItem*& item, bool forward) {
        if (!mSorted) {
            std::stable_sort(mEntries.begin(), mEntries.end(),
                             [](const sEntry& a, const sEntry& b) { return Less()(a.key, b.key); });
            mSorted = true;
        }
        if (mEntries.empty()) return nullptr;
        sEntry* first = mEntries.data();
        sEntry* last = first + mEntries.size() - 1;
        sEntry* at = static_cast<sEntry*>(pos);
        if (!at) at = forward ? first : last;
        else if (forward ? at == last : at == first) return nullptr;
        else at += forward ? 1 : -1;
        item = at->item;
        return at;
    }
    std::vector<sEntry> mEntries;
    bool mSorted = true;
};

struct sListViewTextLess {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

// Orders by the cell text, byte-wise (as unsigned bytes), a prefix first.
class cListViewNameSortProvider : public cListViewSorterBase<const char*, sListViewTextLess> {
public:
    bool init() override {
        reset();
        return true;
    }
    bool push(sListViewDataItem* item) override {
        if (!item || !item->text.get()) return false;
        return add(item->text.get(), item);
    }
};

// Orders by a number the caller derives from each cell.
class cListViewU64PramSortProvider : public cListViewSorterBase<unsigned long long, std::less<unsigned long long>> {
public:
    typedef unsigned long long (*tTransform)(sListViewDataItem*);
    void setTransformProc(tTransform p) { mProc = p; }
    bool init() override {
        reset();
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
        for (size_t i = 0; i < mOrder.size(); ++i) {
            Row* r = mRows.find(mOrder[i]);
            if (r && !f(mOrder[i], *r)) break;
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
    // The display order: order number -> row id, and its reverse, rebuilt
    // on demand after a removal shifted the numbers.
    std::vector<int> mOrder;
    std::unordered_map<int, int> mOrderOf;
    bool mOrderOfStale = false;
    int* orderOf(int row);
    cFasterTreeList<int, Row> mRows;
    int mSorted = -1;
};
