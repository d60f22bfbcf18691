// The rows of a multi-column list: cells with text, image and association
// under caller-chosen row and column ids, a display order, the laid-out
// height of every row, and sorting of the display order by one column
// through pluggable sort providers.
//
// Rows are filled from worker jobs while the UI thread paints, so every
// operation, reader or writer, takes the one lock of the store; the lock is
// recursive, so the list view holds it across a paint that reads cells.
//
// Every row has a number in dense tables (its pool number): its node, its
// slot in the display order (the reverse index) and its laid-out height.
// The display order is an array of slots holding pool numbers; a removed
// row leaves an empty slot behind, so no other row moves and every row keeps
// its slot without renumbering.  Prefix sums over the slots count the rows
// and add up their heights (while all rows are equally high, the count
// alone gives every top): the order number of a row, the row at an order
// number, the top of a row and the row under a y all cost O(log n), and so
// does removing a row.  Empty slots are squeezed out when a sort or a
// renumbering rewrites the order anyway, or by an append once they
// outnumber the rows.
//
// Sorting pushes each row's cell of the column into the provider in display
// order.  The toolkit's providers sort an array of keys (the key computed
// once per row and sort) tagged with the rows' pool numbers and hand the
// tags back in order, so the new order is written without looking any row
// up; other providers are walked through next/prev.
#pragma once

#include "base/buffers.h"
#include "base/serializedkey.h"
#include "base/strkey.h"
#include "base/sync.h"
#include "base/treelist.h"
#include "uitoolkit/canvas.h"

#include <climits>
#include <cstddef>
#include <map>
#include <memory>
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

// The toolkit's own providers gather their entries in push order and order
// them once, on the first walk, with a stable sort of an array of keys and
// push numbers: equal keys keep the order in which they were pushed, as the
// serial numbers of cUUSorterList keep it, at a fraction of the cost of a
// million tree insertions.  A walk position also tells which push made the
// entry, so the store maps the sorted walk back to its rows without looking
// each row up again.
class cListViewIndexedSorter : public cListViewSortProvider {
public:
    void* next(void* pos, sListViewDataItem*& item) override;
    void* prev(void* pos, sListViewDataItem*& item) override;
    // The push (0, 1, 2 ...) that made the entry at a position of the
    // current walk; false for any other position.
    bool pushIndex(const void* pos, std::size_t& out) const;
    // The push numbers in ascending key order, equal keys in push order;
    // the entries are sorted on the first call after the last push.
    const std::vector<unsigned int>& sorted();
    // The tags of the entries in the same order: each push carries the tag
    // set last before it, so the caller learns which of its own records
    // each entry stands for without a table of pushes.
    const std::vector<unsigned int>& sortedTags() {
        sorted();
        return mTags;
    }
    void setTag(unsigned int t) { mTag = t; }
    // Pushes a run of cells, each after setTag of its tag, as push() one by
    // one would; a null cell is refused without a push.  Stops at the first
    // cell refused: the number of cells taken before it.  A provider may
    // take the run in one go where that is known to do the same.
    virtual std::size_t pushRun(sListViewDataItem* const* items, const unsigned int* tags, std::size_t n);
    // Room for n pushes, so that a long run does not grow step by step.
    void reserve(std::size_t n) {
        if (!mWalkless || mKeepCells) mItems.reserve(n);
        reserveKeys(n);
    }
    // Until the next init the run is read through sortedTags only: the
    // cells need not be kept for a walk (which then yields nothing).
    void walkNotNeeded() { mWalkless = true; }
    std::size_t kept() const { return mPushes; }

protected:
    // Scratch room of a sort, kept from run to run and never cleared: a
    // list sorted again and again is neither given fresh memory nor has it
    // zeroed each time.  A counting pass writes to as many places at once
    // as a digit has values: on huge pages they do not each need their own
    // page table entry.
    template <typename E>
    struct sRoom {
        std::unique_ptr<E[]> at;
        std::size_t size = 0;
        E* get(std::size_t n) {
            if (n > size) {
                at.reset();
                at.reset(new E[n]);
                size = n;
                qor_detail::preferHugePages(at.get(), n * sizeof(E));
            }
            return at.get();
        }
        void release() {
            at.reset();
            size = 0;
        }
    };
    void reset();
    virtual void reserveKeys(std::size_t) {}
    // Keeps the cell of the next push; its push number is the count before.
    std::size_t keep(sListViewDataItem* it) {
        if (!mWalkless || mKeepCells) mItems.push_back(it);
        mSorted = false;
        return mPushes++;
    }
    // keep() for n cells at once; the push number of the first.
    std::size_t keepRun(sListViewDataItem* const* items, std::size_t n) {
        if (!mWalkless || mKeepCells) mItems.insert(mItems.end(), items, items + n);
        mSorted = false;
        const std::size_t first = mPushes;
        mPushes += n;
        return first;
    }
    // A provider whose ordering reads the cells (textOf) keeps them always.
    void keepCells() { mKeepCells = true; }
    // True while the run is read through its tags only: order() need not
    // fill in the push numbers.
    bool walkless() const { return mWalkless; }
    const char* textOf(std::size_t push) const { return mItems[push]->text.get(); }
    unsigned int tag() const { return mTag; }
    // Fills pushes with the push numbers in ascending key order, equal keys
    // in push order, and tags with their tags.
    virtual void order(std::vector<unsigned int>& pushes, std::vector<unsigned int>& tags) = 0;

private:
    void* step(void* pos, sListViewDataItem*& item, bool forward);
    std::vector<sListViewDataItem*> mItems;
    std::vector<unsigned int> mOrder, mTags;
    std::size_t mPushes = 0;
    unsigned int mTag = 0;
    bool mSorted = true, mWalkless = false, mKeepCells = false;
};

// A column of the list: its sort provider (owned; null = not sortable) and
// direction, and how its cells are painted.
struct sListViewColumnData {
    cListViewSortProvider* provider = nullptr;
    bool ascending = true;
    cCanvas::eTextAlign align = cCanvas::taLeft;
    cFontObject* font = nullptr;        // null = the canvas's default
    unsigned int textColor = 0xFFFFFFFF;  // 0xFFFFFFFF = none
};

// A tree of values keyed by {key, serial}: equal keys keep the order in which
// they were inserted.
template <typename K, typename V>
class cUUSorterList {
public:
    using Tree = cFasterTreeList<cSerializedKey<K>, V>;
    cUUSorterList() = default;
    explicit cUUSorterList(unsigned int depthLimit) : mTree(depthLimit) {}
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

// Sums over a sequence that grows at its end, with O(log n) point changes,
// prefix sums and searches (a Fenwick tree).  Every loop step is counted in
// the owner's work counter, so tests can hold the costs to their bounds.
template <typename T>
class cPrefixSums {
public:
    explicit cPrefixSums(unsigned long long& work) : mWork(work) {}
    std::size_t size() const { return mTree.size() - 1; }
    T total() const { return mTotal; }
    void clear() {
        std::vector<T>(1, T()).swap(mTree);
        mTotal = T();
    }
    // Builds the tree over n values of 1 in O(n): node i covers the
    // lowest set bit of i values.
    void assignOnes(std::size_t n) {
        mTree.resize(n + 1);
        mTree[0] = T();
        for (std::size_t i = 1; i <= n; ++i) mTree[i] = static_cast<T>(i & (0 - i));
        mTotal = static_cast<T>(n);
        mWork += n;
    }
    // Room for n values, to be written through at(i) and then built over in
    // O(n) by build(); nothing else may run in between.
    void prepare(std::size_t n) { mTree.resize(n + 1); }
    T& at(std::size_t i) { return mTree[i + 1]; }
    void build() {
        const std::size_t n = mTree.size() - 1;
        mTree[0] = T();
        mTotal = T();
        for (std::size_t i = 1; i <= n; ++i) mTotal += mTree[i];
        // Each node's sum goes into its parent once the node is complete:
        // every node below a parent has a smaller index.
        for (std::size_t i = 1; i <= n; ++i) {
            std::size_t up = i + (i & (0 - i));
            if (up <= n) mTree[up] += mTree[i];
        }
        mWork += n;
    }
    // Builds the tree over the values in O(n).
    template <typename V>
    void assign(const std::vector<V>& values) {
        mTree.assign(values.size() + 1, T());
        mTotal = T();
        for (std::size_t i = 1; i <= values.size(); ++i) {
            mTree[i] += static_cast<T>(values[i - 1]);
            mTotal += static_cast<T>(values[i - 1]);
            std::size_t up = i + (i & (0 - i));
            if (up <= values.size()) mTree[up] += mTree[i];
        }
        mWork += values.size();
    }
    void push(T v) {
        const std::size_t i = mTree.size();
        T s = v;
        for (std::size_t j = i - 1, stop = i - (i & (0 - i)); j > stop; j -= j & (0 - j)) {
            s += mTree[j];
            ++mWork;
        }
        mTree.push_back(s);
        mTotal += v;
    }
    void add(std::size_t at, T d) {
        for (std::size_t i = at + 1; i < mTree.size(); i += i & (0 - i)) {
            mTree[i] += d;
            ++mWork;
        }
        mTotal += d;
    }
    // The sum of the first n values.
    T prefix(std::size_t n) const {
        T s = T();
        for (std::size_t i = n; i > 0; i -= i & (0 - i)) {
            s += mTree[i];
            ++mWork;
        }
        return s;
    }
    // The number of leading values whose running sum stays at or below v:
    // the index of the value that carries the sum past v (size() when none
    // does).  Values must not be negative.
    std::size_t upper(T v) const {
        std::size_t pos = 0, step = 1;
        while (step * 2 < mTree.size()) step *= 2;
        for (; step; step /= 2) {
            ++mWork;
            if (pos + step < mTree.size() && !(v < mTree[pos + step])) {
                pos += step;
                v -= mTree[pos];
            }
        }
        return pos;
    }

private:
    std::vector<T> mTree{T()};
    T mTotal = T();
    unsigned long long& mWork;
};

// The cells of one row by column id, ascending.  Most rows have one or a
// few cells: the first lives in the row itself, and only a second one moves
// them all into an array beside it, so a row of one cell is one block of
// memory plus its text.  A cell may move when another cell of its row is
// added: pointers to cells are used under the list's lock only.
class cListViewCells {
public:
    struct sCell {
        int key = 0;  // the column id
        sListViewDataItem value;
    };
    cListViewCells() = default;
    cListViewCells(const cListViewCells&) = delete;
    cListViewCells& operator=(const cListViewCells&) = delete;

    sCell* first() { return mCount ? data() : nullptr; }
    sCell* next(sCell* c) { return c && c + 1 < data() + mCount ? c + 1 : nullptr; }
    std::size_t count() const { return mCount; }
    bool empty() const { return mCount == 0; }
    sListViewDataItem* find(int col) {
        sCell* c = lowerBound(col);
        return c != data() + mCount && c->key == col ? &c->value : nullptr;
    }
    // The cell of the column, added when missing.
    sListViewDataItem* insert(int col);

private:
    sCell* data() { return mMore ? mMore.get() : &mOne; }
    sCell* lowerBound(int col) {
        sCell* c = data();
        std::size_t n = mCount;
        while (n > 0) {
            std::size_t half = n / 2;
            if (c[half].key < col) {
                c += half + 1;
                n -= half + 1;
            } else {
                n = half;
            }
        }
        return c;
    }
    unsigned int mCount = 0, mRoom = 0;
    sCell mOne;                      // the only cell while there is one
    std::unique_ptr<sCell[]> mMore;  // every cell (mRoom places) once there are two
};

// The row store.  Row ids and column ids are caller-chosen; order numbers
// run from 0 without gaps through the rows in display order.
class cListViewData {
public:
    using Row = cListViewCells;
    struct sRow {
        // The row's number in the store's dense tables (its slot in the
        // display order, its height): a sort rewrites those tables, not
        // every row.
        unsigned int pool = 0;
        Row cells;
    };
    using Rows = cFasterTreeList<int, sRow>;
    using RowNode = Rows::cTreeItem;

    cListViewData();
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

    // ---- columns ----------------------------------------------------------
    // The column record, made when missing; under the caller's lock.
    sListViewColumnData* addColumn(int col);
    // The column record or null; under the caller's lock.
    sListViewColumnData* column(int col);
    bool hasColumns();
    // Every column in ascending id; under the caller's lock.
    cFasterTreeList<int, sListViewColumnData>& columns() { return mCols; }
    bool setSortType(int col, cListViewSortProvider* p);  // takes ownership
    bool hasSortType(int col);
    bool setSortDirection(int col, bool ascending);
    bool getSortDirection(int col, bool& ascending);
    bool sort(int col);
    int sortedColumn();
    void reorderByID();

    // ---- cells ------------------------------------------------------------
    bool setItemTextColor(int row, int col, unsigned int c);
    bool setItemIdent(int row, int col, int indent);
    // The cell's text inside the row: valid while the caller holds lock(),
    // or until the cell changes when no other thread changes the list.
    const char* text(int row, int col);
    // A copy of the text, safe while a worker changes the cell right after.
    bool text(int row, int col, _guardchar<char>& out);
    void* association(int row, int col);
    const char* textBySortIdx(int order, int col);
    bool textBySortIdx(int order, int col, _guardchar<char>& out);
    void* associationBySortIdx(int order, int col);
    int find(int col, void* association);
    sListViewDataItem* cell(int row, int col);  // under the caller's lock

    // ---- order ------------------------------------------------------------
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
    // The smallest row id above `after` whose first cell carries the flag.
    int nextWithFlag(int after, unsigned short flag);
    // Selected rows are also kept in a set of their own: clearing a
    // selection or finding the next selected row never scans the list.
    int selectedCount();

    // ---- layout -----------------------------------------------------------
    // Under the caller's lock.  Heights are the owner's: it measures a row
    // and stores the result here; the store adds them up in display order.
    RowNode* node(int row) { return mRows.ifind_rec(mRows.root(), row); }
    RowNode* firstNode();
    RowNode* lastNode();
    RowNode* nextNode(RowNode* n);
    RowNode* prevNode(RowNode* n);
    // Fetches the rows of the next `count` slots from n's on, and then
    // their texts, ahead of a walk that reads them (a page being painted):
    // after a sort they lie anywhere in memory, and fetched together their
    // waits overlap.
    void prefetch(RowNode* n, std::size_t count);
    void setRowHeight(RowNode* n, int height);
    int heightOf(const RowNode* n) const { return mPoolHeight[n->value.pool]; }
    // Sets every row's height from the measure (called once per row in
    // display order), then adds them up once: O(n).
    template <typename F>
    void setAllHeights(F measure) {
        cLock l(mLock);
        mHeightCount.clear();
        for (std::size_t s = 0; s < mSlots.size(); ++s) {
            if (mSlots[s] == kEmpty) continue;
            RowNode* n = mPoolNode[mSlots[s]];
            const int h = measure(n->key, n->value.cells);
            mPoolHeight[mSlots[s]] = h;
            ++mHeightCount[h];
        }
        sumHeights();
    }
    long long totalHeight() const {
        return mUniform ? static_cast<long long>(mUniformH) * mCounts.total() : mHeights.total();
    }
    // The top of the row, relative to the first row; -1 when missing.
    long long topOf(int row);
    long long topOf(RowNode* n) {
        return mUniform ? static_cast<long long>(mUniformH) * mCounts.prefix(slotOf(n)) : mHeights.prefix(slotOf(n));
    }
    // The row whose span holds y (relative to the first row), or null.
    RowNode* rowAtY(long long y, long long& top);
    // The smallest laid-out height, INT_MAX without rows.
    int minHeight() const;

    // Reads under the lock; the callback sees the rows in display order and
    // stops the walk by answering false.
    template <typename F>
    void forEachInOrder(F f) {
        cLock l(mLock);
        for (std::size_t s = 0; s < mSlots.size(); ++s) {
            if (mSlots[s] == kEmpty) continue;
            RowNode* n = mPoolNode[mSlots[s]];
            if (!f(n->key, n->value.cells)) break;
        }
    }
    Row* rowLocked(int row) {
        RowNode* n = node(row);
        return n ? &n->value.cells : nullptr;
    }

    // Elementary steps taken by the order and layout operations (tree
    // descents, prefix-sum steps, slots visited): tests bound them.
    unsigned long long work() const { return mWork; }

private:
    struct cLock {
        explicit cLock(cCriticalSection& c) : cs(c) { cs.enter(); }
        ~cLock() { cs.exit(); }
        cCriticalSection& cs;
    };
    static constexpr unsigned int kEmpty = UINT_MAX;  // a removed row's slot
    void appendSlot(RowNode* n);
    void compact();
    // Replaces the display order by these rows (pool numbers, each live row
    // once): O(n).
    void setOrder(const std::vector<unsigned int>& order);
    // The new order from the provider's sorted tags: false when they are not
    // each pushed row once (then the walk through next/prev decides).
    bool setSortedOrder(cListViewIndexedSorter* p, bool ascending);
    void walkSortedOrder(cListViewSortProvider* p, bool ascending);
    void gather(cListViewSortProvider* p, cListViewIndexedSorter* indexed, int col);
    std::size_t slotOf(const RowNode* n) const { return mSlotOf[n->value.pool]; }
    RowNode* at(std::size_t slot) const { return mSlots[slot] == kEmpty ? nullptr : mPoolNode[mSlots[slot]]; }
    RowNode* liveAfter(std::size_t slot);
    RowNode* liveBefore(std::size_t slot);
    RowNode* nodeByOrder(int order);
    void forgetHeight(int h);
    // After the order or every height changed: while all rows are equally
    // high, no sums of heights are kept (a row's top is its order number
    // times the height); otherwise they are built over the slots in O(n).
    void sumHeights();

    cCriticalSection mLock;
    cFasterTreeList<int, sListViewColumnData> mCols;
    Rows mRows;
    // The display order: pool numbers, kEmpty where a row was removed.
    std::vector<unsigned int> mSlots;
    std::size_t mEmptySlots = 0;
    // Tables by pool number: the row, its slot, its laid-out height.
    std::vector<RowNode*> mPoolNode;
    std::vector<unsigned int> mSlotOf;
    std::vector<int> mPoolHeight;
    std::vector<unsigned int> mFreePools;  // numbers of removed rows, for reuse
    std::vector<unsigned long long> mLive;  // a bit per pool number in use
    mutable unsigned long long mWork = 0;
    cPrefixSums<int> mCounts{mWork};         // 1 per row in its slot
    cPrefixSums<long long> mHeights{mWork};  // the row's height in its slot
    bool mUniform = true;  // every row is mUniformH high; mHeights unused
    int mUniformH = 0;
    std::map<int, std::size_t> mHeightCount;  // laid-out height -> rows
    cFasterTreeList<int, unsigned char> mSelected;
    int mSorted = -1;
    // A sort's rows (pool numbers) in push order (for a walk through
    // next/prev only; else the room the new order is built in) and the rows
    // it set aside; kept between sorts so that a long list is not given
    // fresh memory each time.
    std::vector<unsigned int> mPushed, mAside;
    std::size_t mPushCount = 0;
    void collectPushed();
    std::vector<unsigned long long> mSeen;
};
