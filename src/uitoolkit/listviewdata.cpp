#include "uitoolkit/listviewdata.h"

#include <algorithm>

// ---- sort providers ---------------------------------------------------------

void cListViewIndexedSorter::reset() {
    mItems.clear();
    mOrder.clear();
    mItems.shrink_to_fit();
    mOrder.shrink_to_fit();
    mSorted = true;
}

void* cListViewIndexedSorter::next(void* pos, sListViewDataItem*& item) { return step(pos, item, true); }
void* cListViewIndexedSorter::prev(void* pos, sListViewDataItem*& item) { return step(pos, item, false); }

bool cListViewIndexedSorter::pushIndex(const void* pos, std::size_t& out) const {
    const unsigned int* at = static_cast<const unsigned int*>(pos);
    if (mOrder.empty() || at < mOrder.data() || at >= mOrder.data() + mOrder.size()) return false;
    out = *at;
    return out < mItems.size();
}

void* cListViewIndexedSorter::step(void* pos, sListViewDataItem*& item, bool forward) {
    if (!mSorted) {
        mOrder.clear();
        order(mOrder);
        mSorted = true;
    }
    if (mOrder.empty()) return nullptr;
    unsigned int* first = mOrder.data();
    unsigned int* last = first + mOrder.size() - 1;
    unsigned int* at = static_cast<unsigned int*>(pos);
    if (!at) {
        at = forward ? first : last;
    } else {
        if (at < first || at > last) return nullptr;  // not a position of this walk
        if (forward ? at == last : at == first) return nullptr;
        at += forward ? 1 : -1;
    }
    item = mItems[*at];
    return at;
}

// ---- the store --------------------------------------------------------------

cListViewData::cListViewData() {
    mCounts.clear();
    mHeights.clear();
}

cListViewData::~cListViewData() {
    for (auto* c = mCols.first(); c; c = mCols.next(c)) delete c->value.provider;
}

sListViewDataItem* cListViewData::cell(int row, int col) {
    RowNode* n = node(row);
    return n ? n->value.cells.find(col) : nullptr;
}

void cListViewData::appendSlot(RowNode* n) {
    if (mEmptySlots > 1024 && mEmptySlots > mSlots.size() / 2) compact();
    n->value.slot = mSlots.size();
    mSlots.push_back(n);
    mCounts.push(1);
    mHeights.push(n->value.height);
    ++mHeightCount[n->value.height];
}

void cListViewData::forgetHeight(int h) {
    auto it = mHeightCount.find(h);
    if (it != mHeightCount.end() && --it->second == 0) mHeightCount.erase(it);
}

void cListViewData::setOrder(std::vector<RowNode*>& order) {
    std::vector<long long> heights(order.size());
    for (std::size_t s = 0; s < order.size(); ++s) {
        order[s]->value.slot = s;
        heights[s] = order[s]->value.height;
    }
    mSlots.swap(order);
    mEmptySlots = 0;
    mCounts.assign(std::vector<int>(mSlots.size(), 1));
    mHeights.assign(heights);
}

void cListViewData::compact() {
    std::vector<RowNode*> live;
    live.reserve(mSlots.size() - mEmptySlots);
    for (RowNode* n : mSlots)
        if (n) live.push_back(n);
    setOrder(live);
}

cListViewData::eSetResult cListViewData::setItem(int row, int col, const char* text, int image, void* association) {
    if (row < 0) return srFailed;
    cLock l(mLock);
    bool newRow = false;
    RowNode* n = node(row);
    if (!n) {
        mRows.insert(row);
        n = node(row);
        newRow = true;
        appendSlot(n);
    }
    bool relayout = newRow;
    Row& r = n->value.cells;
    sListViewDataItem* c = r.find(col);
    if (!c) {
        c = r.insert(col);
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
    if (last && last->key == INT_MAX) return -1;
    int row = last ? last->key + 1 : 0;
    return setItem(row, col, text, image, association) == srFailed ? -1 : row;
}

bool cListViewData::remove(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    if (!n) return false;
    const std::size_t s = n->value.slot;
    mSlots[s] = nullptr;
    ++mEmptySlots;
    mCounts.add(s, -1);
    mHeights.add(s, -static_cast<long long>(n->value.height));
    forgetHeight(n->value.height);
    mSelected.dettach(row);
    mRows.dettach(n);
    return true;
}

void cListViewData::clear() {
    cLock l(mLock);
    mRows.destroy();
    mSlots.clear();
    mSlots.shrink_to_fit();
    mEmptySlots = 0;
    mCounts.clear();
    mHeights.clear();
    mHeightCount.clear();
    mSelected.destroy();
}

// ---- columns ----------------------------------------------------------------

sListViewColumnData* cListViewData::addColumn(int col) {
    cLock l(mLock);
    return mCols.insert(col);
}

sListViewColumnData* cListViewData::column(int col) {
    cLock l(mLock);
    return mCols.find(col);
}

bool cListViewData::hasColumns() {
    cLock l(mLock);
    return !mCols.empty();
}

bool cListViewData::setSortType(int col, cListViewSortProvider* p) {
    cLock l(mLock);
    sListViewColumnData* c = mCols.insert(col);
    if (c->provider != p) delete c->provider;
    c->provider = p;
    return true;
}

bool cListViewData::hasSortType(int col) {
    cLock l(mLock);
    sListViewColumnData* c = mCols.find(col);
    return c && c->provider;
}

bool cListViewData::setSortDirection(int col, bool ascending) {
    cLock l(mLock);
    sListViewColumnData* c = mCols.find(col);
    if (!c) return false;
    c->ascending = ascending;
    return true;
}

bool cListViewData::getSortDirection(int col, bool& ascending) {
    cLock l(mLock);
    sListViewColumnData* c = mCols.find(col);
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
    sListViewColumnData* c = mCols.find(col);
    if (!c || !c->provider || !c->provider->init()) return false;
    cListViewSortProvider* p = c->provider;
    cListViewIndexedSorter* indexed = dynamic_cast<cListViewIndexedSorter*>(p);
    // Rows are pushed in the current display order; the refused ones are set
    // aside in that order too.
    const std::size_t rows = mSlots.size() - mEmptySlots;
    std::vector<RowNode*> pushed, aside;
    pushed.reserve(rows);
    // Until the new order is set, a row's slot field holds its push number
    // (SIZE_MAX when set aside): a foreign provider hands back cells only,
    // and this finds their rows' pushes without a search.
    for (RowNode* n : mSlots) {
        if (!n) continue;
        sListViewDataItem* it = n->value.cells.find(col);
        if (it && p->push(it)) {
            n->value.slot = pushed.size();
            pushed.push_back(n);
        } else {
            n->value.slot = SIZE_MAX;
            aside.push_back(n);
        }
    }
    std::vector<RowNode*> order;
    order.reserve(rows);
    // A row goes into the new order once: a provider that hands an entry out
    // twice, or one that no longer exists, cannot duplicate a row, and rows
    // it pushed but never hands back keep their place after the others.
    std::vector<unsigned char> placed(pushed.size(), 0);
    auto putSorted = [&](bool forward) {
        sListViewDataItem* it = nullptr;
        for (void* pos = forward ? p->next(nullptr, it) : p->prev(nullptr, it); pos;
             pos = forward ? p->next(pos, it) : p->prev(pos, it)) {
            std::size_t k = 0;
            if (indexed) {
                if (!indexed->pushIndex(pos, k) || k >= pushed.size()) continue;
            } else {
                RowNode* n = it ? node(it->rowId) : nullptr;
                if (!n || n->value.slot >= pushed.size() || pushed[n->value.slot] != n) continue;
                k = n->value.slot;
            }
            if (placed[k]) continue;
            placed[k] = 1;
            order.push_back(pushed[k]);
        }
        for (std::size_t k = 0; k < pushed.size(); ++k)
            if (!placed[k]) order.push_back(pushed[k]);
    };
    if (c->ascending) {
        order.insert(order.end(), aside.begin(), aside.end());
        putSorted(true);
    } else {
        putSorted(false);
        order.insert(order.end(), aside.begin(), aside.end());
    }
    p->init();
    setOrder(order);
    mSorted = col;
    return true;
}

void cListViewData::reorderByID() {
    cLock l(mLock);
    std::vector<RowNode*> order;
    order.reserve(mRows.count());
    for (RowNode* n = mRows.first(); n; n = mRows.next(n)) order.push_back(n);
    setOrder(order);
}

// ---- cells ------------------------------------------------------------------

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

const char* cListViewData::text(int row, int col) {
    cLock l(mLock);
    sListViewDataItem* c = cell(row, col);
    return c ? c->text.get() : nullptr;
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

const char* cListViewData::textBySortIdx(int order, int col) {
    cLock l(mLock);
    RowNode* n = nodeByOrder(order);
    sListViewDataItem* c = n ? n->value.cells.find(col) : nullptr;
    return c ? c->text.get() : nullptr;
}

bool cListViewData::textBySortIdx(int order, int col, _guardchar<char>& out) {
    cLock l(mLock);
    RowNode* n = nodeByOrder(order);
    sListViewDataItem* c = n ? n->value.cells.find(col) : nullptr;
    if (!c) return false;
    out.set(c->text.get());
    return true;
}

void* cListViewData::associationBySortIdx(int order, int col) {
    cLock l(mLock);
    RowNode* n = nodeByOrder(order);
    sListViewDataItem* c = n ? n->value.cells.find(col) : nullptr;
    return c ? c->association : nullptr;
}

int cListViewData::find(int col, void* a) {
    cLock l(mLock);
    for (RowNode* r = mRows.first(); r; r = mRows.next(r)) {
        sListViewDataItem* c = r->value.cells.find(col);
        if (c && c->association == a) return r->key;
    }
    return -1;
}

// ---- order ------------------------------------------------------------------

// The next row in display order after a slot: a short look at the next few
// slots covers the common case, the count tree any run of removed rows.
cListViewData::RowNode* cListViewData::liveAfter(std::size_t slot) {
    for (std::size_t s = slot + 1, end = std::min(slot + 9, mSlots.size()); s < end; ++s) {
        ++mWork;
        if (mSlots[s]) return mSlots[s];
    }
    if (slot + 9 >= mSlots.size()) return nullptr;
    std::size_t s = mCounts.upper(mCounts.prefix(slot + 1));
    return s < mSlots.size() ? mSlots[s] : nullptr;
}

cListViewData::RowNode* cListViewData::liveBefore(std::size_t slot) {
    for (std::size_t k = 1; k <= 8 && k <= slot; ++k) {
        ++mWork;
        if (mSlots[slot - k]) return mSlots[slot - k];
    }
    if (slot <= 8) return nullptr;
    int before = mCounts.prefix(slot);
    if (before == 0) return nullptr;
    return mSlots[mCounts.upper(before - 1)];
}

cListViewData::RowNode* cListViewData::nodeByOrder(int order) {
    if (order < 0 || order >= mCounts.total()) return nullptr;
    return mSlots[mCounts.upper(order)];
}

cListViewData::RowNode* cListViewData::firstNode() {
    cLock l(mLock);
    if (mSlots.empty()) return nullptr;
    return mSlots[0] ? mSlots[0] : liveAfter(0);
}

cListViewData::RowNode* cListViewData::lastNode() {
    cLock l(mLock);
    if (mSlots.empty()) return nullptr;
    return mSlots.back() ? mSlots.back() : liveBefore(mSlots.size() - 1);
}

cListViewData::RowNode* cListViewData::nextNode(RowNode* n) {
    cLock l(mLock);
    return n ? liveAfter(n->value.slot) : nullptr;
}

cListViewData::RowNode* cListViewData::prevNode(RowNode* n) {
    cLock l(mLock);
    return n ? liveBefore(n->value.slot) : nullptr;
}

// The count of rows in the display order.
int cListViewData::getRowCount() {
    cLock l(mLock);
    return mCounts.total();
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
    RowNode* n = firstNode();
    return n ? n->key : -1;
}

int cListViewData::lastBySort() {
    RowNode* n = lastNode();
    return n ? n->key : -1;
}

int cListViewData::nextBySort(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    n = n ? liveAfter(n->value.slot) : nullptr;
    return n ? n->key : -1;
}

int cListViewData::prevBySort(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    n = n ? liveBefore(n->value.slot) : nullptr;
    return n ? n->key : -1;
}

int cListViewData::rowBySortIdx(int order) {
    cLock l(mLock);
    RowNode* n = nodeByOrder(order);
    return n ? n->key : -1;
}

int cListViewData::sortIdx(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    return n ? mCounts.prefix(n->value.slot) : -1;
}

// ---- flags ------------------------------------------------------------------

int cListViewData::flags(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    if (!n || !n->value.cells.first()) return -1;
    return n->value.cells.first()->value.flags;
}

bool cListViewData::setFlags(int row, unsigned short set, unsigned short clr) {
    cLock l(mLock);
    RowNode* n = node(row);
    if (!n || !n->value.cells.first()) return false;
    unsigned short& f = n->value.cells.first()->value.flags;
    f = static_cast<unsigned short>((f & ~clr) | set);
    if (f & sListViewDataItem::fSelected) mSelected.insert(row);
    else mSelected.dettach(row);
    return true;
}

int cListViewData::nextWithFlag(int after, unsigned short flag) {
    cLock l(mLock);
    if (flag == sListViewDataItem::fSelected) {
        auto* s = after < 0 ? mSelected.first() : (after == INT_MAX ? nullptr : mSelected.find_ge(after + 1));
        return s ? s->key : -1;
    }
    auto* r = after < 0 ? mRows.first() : (after == INT_MAX ? nullptr : mRows.find_ge(after + 1));
    for (; r; r = mRows.next(r))
        if (r->value.cells.first() && (r->value.cells.first()->value.flags & flag)) return r->key;
    return -1;
}

int cListViewData::selectedCount() {
    cLock l(mLock);
    return static_cast<int>(mSelected.count());
}

// ---- layout -----------------------------------------------------------------

void cListViewData::setRowHeight(RowNode* n, int height) {
    cLock l(mLock);
    if (!n || n->value.height == height) return;
    forgetHeight(n->value.height);
    ++mHeightCount[height];
    mHeights.add(n->value.slot, static_cast<long long>(height) - n->value.height);
    n->value.height = height;
}

long long cListViewData::topOf(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    return n ? mHeights.prefix(n->value.slot) : -1;
}

cListViewData::RowNode* cListViewData::rowAtY(long long y, long long& top) {
    cLock l(mLock);
    if (y < 0 || y >= mHeights.total()) return nullptr;
    std::size_t s = mHeights.upper(y);
    if (s >= mSlots.size() || !mSlots[s]) return nullptr;
    top = mHeights.prefix(s);
    return mSlots[s];
}

int cListViewData::minHeight() const {
    return mHeightCount.empty() ? INT_MAX : mHeightCount.begin()->first;
}
