#include "uitoolkit/listviewdata.h"

#include <algorithm>
#include <vector>

cListViewData::~cListViewData() {
    for (auto* c = mCols.first(); c; c = mCols.next(c)) delete c->value.provider;
}

sListViewDataItem* cListViewData::cell(int row, int col) {
    Row* r = mRows.find(row);
    return r ? r->find(col) : nullptr;
}

void cListViewData::appendOrder(int row) {
    if (!mOrderOfStale) mOrderOf[row] = static_cast<int>(mOrder.size());
    mOrder.push_back(row);
}

int* cListViewData::orderOf(int row) {
    if (mOrderOfStale) {
        mOrderOf.clear();
        mOrderOf.reserve(mOrder.size());
        for (size_t i = 0; i < mOrder.size(); ++i) mOrderOf[mOrder[i]] = static_cast<int>(i);
        mOrderOfStale = false;
    }
    auto it = mOrderOf.find(row);
    return it == mOrderOf.end() ? nullptr : &it->second;
}

cListViewData::eSetResult cListViewData::setItem(int row, int col, const char* text, int image, void* association) {
    if (row < 0) return srFailed;
    cLock l(mLock);
    bool newRow = false;
    Row* r = mRows.find(row);
    if (!r) {
        r = mRows.insert(row);
        newRow = true;
        appendOrder(row);
    }
    bool relayout = newRow;
    sListViewDataItem* c = r->find(col);
    if (!c) {
        c = r->insert(col);
        c->rowId = row;
        relayout = true;
    }
    if (association) c->association = association;
    if (c->image != image) {
        c->image = static_cast<short>(image);
        c->height = 0;
        relayout = true;
    }
    if (text) {
        c->text.set(text);
        c->height = 0;
        relayout = true;
    }
    return relayout ? srRelayout : srNone;
}

int cListViewData::addItem(int col, const char* text, int image, void* association) {
    cLock l(mLock);
    auto* last = mRows.last();
    int row = last ? last->key + 1 : 0;
    if (row < 0) return -1;  // the greatest id was INT_MAX
    return setItem(row, col, text, image, association) == srFailed ? -1 : row;
}

bool cListViewData::remove(int row) {
    cLock l(mLock);
    if (!mRows.find(row)) return false;
    auto at = std::find(mOrder.begin(), mOrder.end(), row);
    if (at != mOrder.end()) {
        mOrder.erase(at);
        mOrderOfStale = true;
    }
    mRows.dettach(row);
    return true;
}

void cListViewData::clear() {
    cLock l(mLock);
    mRows.destroy();
    mOrder.clear();
    mOrderOf.clear();
    mOrderOfStale = false;
}

bool cListViewData::setSortType(int col, cListViewSortProvider* p) {
    cLock l(mLock);
    sColumn* c = mCols.insert(col);
    if (c->provider != p) delete c->provider;
    c->provider = p;
    return true;
}

bool cListViewData::hasSortType(int col) {
    cLock l(mLock);
    sColumn* c = mCols.find(col);
    return c && c->provider;
}

bool cListViewData::setSortDirection(int col, bool ascending) {
    cLock l(mLock);
    sColumn* c = mCols.find(col);
    if (!c) return false;
    c->ascending = ascending;
    return true;
}

bool cListViewData::getSortDirection(int col, bool& ascending) {
    cLock l(mLock);
    sColumn* c = mCols.find(col);
    if (!c) return false;
    ascending = c->ascending;
    return true;
}

int cListViewData::sortedColumn() {
    cLock l(mLock);
    return mSorted;
}

bool cListViewData::sort(int col) {
    cLock l(mLock);
    sColumn* c = mCols.find(col);
    if (!c || !c->provider || !c->provider->init()) return false;
    cListViewSortProvider* p = c->provider;
    // One in-order walk of the rows gives their cells in this column sorted
    // by row id; looking rows up in that array is far cheaper than a tree
    // descent per row.
    std::vector<std::pair<int, sListViewDataItem*>> cells;
    cells.reserve(mRows.count());
    for (auto* r = mRows.first(); r; r = mRows.next(r)) cells.push_back({r->key, r->value.find(col)});
    std::vector<int> aside;
    for (int row : mOrder) {
        auto at = std::lower_bound(cells.begin(), cells.end(), row,
                                   [](const std::pair<int, sListViewDataItem*>& e, int k) { return e.first < k; });
        sListViewDataItem* it = at != cells.end() && at->first == row ? at->second : nullptr;
        if (!it || !p->push(it)) aside.push_back(row);
    }
    const size_t rows = mOrder.size();
    mOrder.clear();
    mOrder.reserve(rows);
    mOrderOf.clear();
    mOrderOfStale = true;  // renumbered below; the reverse is rebuilt when asked
    auto putAside = [&] {
        for (int r : aside) appendOrder(r);
    };
    auto putSorted = [&](bool forward) {
        sListViewDataItem* it = nullptr;
        for (void* pos = forward ? p->next(nullptr, it) : p->prev(nullptr, it); pos;
             pos = forward ? p->next(pos, it) : p->prev(pos, it)) {
            appendOrder(it->rowId);  // under the lock every pushed row still exists
        }
    };
    if (c->ascending) {
        putAside();
        putSorted(true);
    } else {
        putSorted(false);
        putAside();
    }
    p->init();
    mSorted = col;
    return true;
}

void cListViewData::reorderByID() {
    cLock l(mLock);
    mOrder.clear();
    mOrderOf.clear();
    mOrderOfStale = false;
    for (auto* r = mRows.first(); r; r = mRows.next(r)) appendOrder(r->key);
}

bool cListViewData::setItemTextColor(int row, int col, unsigned int color) {
    cLock l(mLock);
    sListViewDataItem* c = cell(row, col);
    if (!c) return false;
    c->textColor = color;
    return true;
}

bool cListViewData::setItemIdent(int row, int col, int indent) {
    cLock l(mLock);
    sListViewDataItem* c = cell(row, col);
    if (!c || indent < 0 || indent > 0xFFFF) return false;
    c->indent = static_cast<unsigned short>(indent);
    return true;
}

bool cListViewData::text(int row, int col, _guardchar<char>& out) {
    cLock l(mLock);
    sListViewDataItem* c = cell(row, col);
    if (!c) return false;
    out.set(c->text.get());
    return true;
}

void* cListViewData::association(int row, int col) {
    cLock l(mLock);
    sListViewDataItem* c = cell(row, col);
    return c ? c->association : nullptr;
}

int cListViewData::rowBySortIdx(int order) {
    cLock l(mLock);
    if (order < 0 || static_cast<size_t>(order) >= mOrder.size()) return -1;
    return mOrder[order];
}

int cListViewData::sortIdx(int row) {
    cLock l(mLock);
    int* o = orderOf(row);
    return o ? *o : -1;
}

bool cListViewData::textBySortIdx(int order, int col, _guardchar<char>& out) {
    cLock l(mLock);
    return text(rowBySortIdx(order), col, out);
}

void* cListViewData::associationBySortIdx(int order, int col) {
    cLock l(mLock);
    return association(rowBySortIdx(order), col);
}

int cListViewData::find(int col, void* a) {
    cLock l(mLock);
    for (auto* r = mRows.first(); r; r = mRows.next(r)) {
        sListViewDataItem* c = r->value.find(col);
        if (c && c->association == a) return r->key;
    }
    return -1;
}

// The count of rows in the display order: order numbers may have gaps after
// a removal, so the last number plus one would count rows that are gone.
int cListViewData::getRowCount() {
    cLock l(mLock);
    return static_cast<int>(mOrder.size());
}

int cListViewData::first() {
    cLock l(mLock);
    auto* r = mRows.first();
    return r ? r->key : -1;
}

int cListViewData::next(int row) {
    cLock l(mLock);
    if (row == INT_MAX) return -1;
    auto* r = mRows.find_ge(row + 1);
    return r ? r->key : -1;
}

int cListViewData::firstBySort() {
    cLock l(mLock);
    return mOrder.empty() ? -1 : mOrder.front();
}

int cListViewData::lastBySort() {
    cLock l(mLock);
    return mOrder.empty() ? -1 : mOrder.back();
}

int cListViewData::nextBySort(int row) {
    cLock l(mLock);
    int* n = orderOf(row);
    if (!n || static_cast<size_t>(*n) + 1 >= mOrder.size()) return -1;
    return mOrder[*n + 1];
}

int cListViewData::prevBySort(int row) {
    cLock l(mLock);
    int* n = orderOf(row);
    if (!n || *n == 0) return -1;
    return mOrder[*n - 1];
}

int cListViewData::flags(int row) {
    cLock l(mLock);
    Row* r = mRows.find(row);
    if (!r || !r->first()) return -1;
    return r->first()->value.flags;
}

bool cListViewData::setFlags(int row, unsigned short set, unsigned short clr) {
    cLock l(mLock);
    Row* r = mRows.find(row);
    if (!r || !r->first()) return false;
    unsigned short& f = r->first()->value.flags;
    f = static_cast<unsigned short>((f & ~clr) | set);
    return true;
}

int cListViewData::nextWithFlag(int after, unsigned short flag) {
    cLock l(mLock);
    auto* r = after < 0 ? mRows.first() : (after == INT_MAX ? nullptr : mRows.find_ge(after + 1));
    for (; r; r = mRows.next(r))
        if (r->value.first() && (r->value.first()->value.flags & flag)) return r->key;
    return -1;
}
