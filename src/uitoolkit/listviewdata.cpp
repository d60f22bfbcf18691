#include "uitoolkit/listviewdata.h"

#include <algorithm>

// ---- sort providers ---------------------------------------------------------

// The entries go, their room stays for the next run: a list sorted again
// and again is not handed fresh memory each time.  The room is freed with
// the provider.
void cListViewIndexedSorter::reset() {
    mItems.clear();
    mOrder.clear();
    mTags.clear();
    mPushes = 0;
    mWalkless = false;
    mSorted = true;
}

std::size_t cListViewIndexedSorter::pushRun(sListViewDataItem* const* items, const unsigned int* tags, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        setTag(tags[i]);
        if (!items[i] || !push(items[i])) return i;
    }
    return n;
}

void* cListViewIndexedSorter::next(void* pos, sListViewDataItem*& item) { return step(pos, item, true); }
void* cListViewIndexedSorter::prev(void* pos, sListViewDataItem*& item) { return step(pos, item, false); }

bool cListViewIndexedSorter::pushIndex(const void* pos, std::size_t& out) const {
    const unsigned int* at = static_cast<const unsigned int*>(pos);
    if (mOrder.empty() || at < mOrder.data() || at >= mOrder.data() + mOrder.size()) return false;
    out = *at;
    return out < mPushes;
}

const std::vector<unsigned int>& cListViewIndexedSorter::sorted() {
    if (!mSorted) {
        mOrder.clear();
        mTags.clear();
        order(mOrder, mTags);
        mSorted = true;
    }
    return mOrder;
}

void* cListViewIndexedSorter::step(void* pos, sListViewDataItem*& item, bool forward) {
    sorted();
    if (mOrder.empty() || mItems.size() != mPushes) return nullptr;  // no cells kept
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

// ---- cells ------------------------------------------------------------------

sListViewDataItem* cListViewCells::insert(int col) {
    sCell* at = lowerBound(col);
    if (at != data() + mCount && at->key == col) return &at->value;
    if (mCount == 0) {
        mOne = sCell();
        mOne.key = col;
        mCount = 1;
        return &mOne.value;
    }
    const std::size_t i = static_cast<std::size_t>(at - data());
    if (mCount + 1 > mRoom) {
        const unsigned int room = mRoom ? mRoom * 2 : 4;
        std::unique_ptr<sCell[]> grown(new sCell[room]);
        sCell* from = data();
        for (std::size_t k = 0; k < mCount; ++k) grown[k + (k >= i ? 1 : 0)] = std::move(from[k]);
        if (!mMore) mOne = sCell();
        mMore = std::move(grown);
        mRoom = room;
    } else {
        for (std::size_t k = mCount; k > i; --k) mMore[k] = std::move(mMore[k - 1]);
    }
    mMore[i] = sCell();
    mMore[i].key = col;
    ++mCount;
    return &mMore[i].value;
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
    unsigned int pool;
    if (mFreePools.empty()) {
        pool = static_cast<unsigned int>(mPoolNode.size());
        mPoolNode.push_back(n);
        mSlotOf.push_back(0);
        mPoolHeight.push_back(0);
    } else {
        pool = mFreePools.back();
        mFreePools.pop_back();
        mPoolNode[pool] = n;
        mPoolHeight[pool] = 0;
    }
    // A new row starts as high as the others until its owner measures it.
    const int h = mUniform ? mUniformH : 0;
    n->value.pool = pool;
    if (mLive.size() * 64 <= pool) mLive.resize(pool / 64 + 1, 0);
    mLive[pool / 64] |= 1ULL << (pool % 64);
    mPoolHeight[pool] = h;
    mSlotOf[pool] = static_cast<unsigned int>(mSlots.size());
    mSlots.push_back(pool);
    mCounts.push(1);
    if (!mUniform) mHeights.push(h);
    ++mHeightCount[h];
}

void cListViewData::sumHeights() {
    if (mHeightCount.size() <= 1) {
        mUniform = true;
        if (!mHeightCount.empty()) mUniformH = mHeightCount.begin()->first;
        mHeights.clear();
        return;
    }
    mUniform = false;
    mHeights.prepare(mSlots.size());
    for (std::size_t s = 0; s < mSlots.size(); ++s) mHeights.at(s) = mSlots[s] == kEmpty ? 0 : mPoolHeight[mSlots[s]];
    mHeights.build();
}

void cListViewData::forgetHeight(int h) {
    auto it = mHeightCount.find(h);
    if (it != mHeightCount.end() && --it->second == 0) mHeightCount.erase(it);
}

void cListViewData::setOrder(const std::vector<unsigned int>& order) {
    mSlots.resize(order.size());
    for (std::size_t s = 0; s < order.size(); ++s) {
        const unsigned int pool = order[s];
        mSlots[s] = pool;
        mSlotOf[pool] = static_cast<unsigned int>(s);
    }
    mEmptySlots = 0;
    mCounts.assignOnes(order.size());
    sumHeights();
}

void cListViewData::compact() {
    std::vector<unsigned int> live;
    live.reserve(mSlots.size() - mEmptySlots);
    for (unsigned int pool : mSlots)
        if (pool != kEmpty) live.push_back(pool);
    setOrder(live);
}

// The new order straight from the provider's sorted tags (the pool numbers
// of the pushed rows).  The order array is written in order; only the rows'
// slot entries are reached out of order, in a small dense table.
bool cListViewData::setSortedOrder(cListViewIndexedSorter* p, bool ascending) {
    const std::size_t n = mPushCount, rows = n + mAside.size();
    // Every slot held a row and still does: the counts are ones already.
    const bool full = mEmptySlots == 0 && mSlots.size() == rows && mCounts.size() == rows;
    if (p->kept() != n) return false;
    const std::vector<unsigned int>& tags = p->sortedTags();
    if (tags.size() != n) return false;
    // Every pushed row exactly once, or the walk through next/prev decides.
    // The pushed rows are the rows in use but those set aside: a tag must
    // name one of them, and naming it crosses it out, so a tag naming a row
    // set aside, a row not in use, or any row twice is caught.  The check
    // goes along with writing the new order; until all tags passed it the
    // old order stays (the walk starts from it), and the new one is built
    // in the room of the rows of the last walk.  The slot entries written
    // on the way are all written again by the walk.
    mSeen = mLive;
    unsigned long long* seen = mSeen.data();
    const std::size_t words = mSeen.size();
    for (unsigned int pool : mAside) seen[pool / 64] &= ~(1ULL << (pool % 64));
    std::vector<unsigned int>& next = mPushed;
    next.resize(rows);
    unsigned int* to = next.data();
    const unsigned int* tag = tags.data();
    std::size_t s = 0;
    auto putAside = [&] {
        for (unsigned int pool : mAside) {
            to[s] = pool;
            mSlotOf[pool] = static_cast<unsigned int>(s);
            ++s;
        }
    };
    auto putTag = [&](unsigned int pool) {
        const unsigned long long bit = 1ULL << (pool % 64);
        if (pool / 64 >= words || !(seen[pool / 64] & bit)) return false;
        seen[pool / 64] &= ~bit;
        to[s] = pool;
        mSlotOf[pool] = static_cast<unsigned int>(s);
        ++s;
        return true;
    };
    // The slot entries lie anywhere in their table: each is fetched a
    // little ahead of its write, so that the writes' waits overlap.
    constexpr std::size_t kAhead = 32;
    unsigned int* slotOf = mSlotOf.data();
    const std::size_t pools = mSlotOf.size();
    auto fetch = [&](unsigned int pool) {
        if (pool < pools) {
            __builtin_prefetch(slotOf + pool, 1);
            __builtin_prefetch(seen + pool / 64, 1);
        }
    };
    if (ascending) {
        putAside();
        for (std::size_t i = 0; i < n; ++i) {
            if (i + kAhead < n) fetch(tag[i + kAhead]);
            if (!putTag(tag[i])) return false;
        }
    } else {
        for (std::size_t i = n; i > 0; --i) {
            if (i > kAhead) fetch(tag[i - 1 - kAhead]);
            if (!putTag(tag[i - 1])) return false;
        }
        putAside();
    }
    mSlots.swap(next);
    mEmptySlots = 0;
    if (!full) mCounts.assignOnes(rows);
    sumHeights();
    return true;
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
    const unsigned int pool = n->value.pool;
    const std::size_t s = mSlotOf[pool];
    mSlots[s] = kEmpty;
    ++mEmptySlots;
    mCounts.add(s, -1);
    if (!mUniform) mHeights.add(s, -static_cast<long long>(mPoolHeight[pool]));
    forgetHeight(mPoolHeight[pool]);
    mPoolNode[pool] = nullptr;
    mLive[pool / 64] &= ~(1ULL << (pool % 64));
    mFreePools.push_back(pool);
    mSelected.dettach(row);
    mRows.dettach(n);
    return true;
}

void cListViewData::clear() {
    cLock l(mLock);
    mRows.destroy();
    std::vector<unsigned int>().swap(mSlots);
    std::vector<RowNode*>().swap(mPoolNode);
    std::vector<unsigned int>().swap(mSlotOf);
    std::vector<int>().swap(mPoolHeight);
    std::vector<unsigned int>().swap(mFreePools);
    std::vector<unsigned long long>().swap(mLive);
    mEmptySlots = 0;
    mCounts.clear();
    mHeights.clear();
    mHeightCount.clear();
    mUniform = true;
    mSelected.destroy();
    std::vector<unsigned int>().swap(mPushed);
    std::vector<unsigned int>().swap(mAside);
    std::vector<unsigned long long>().swap(mSeen);
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
    // The toolkit's own providers hand back the sorted tags; only when those
    // fail the checks is the run made again and walked.
    if (indexed) indexed->walkNotNeeded();
    gather(p, indexed, col);
    if (!indexed || !setSortedOrder(indexed, c->ascending)) {
        if (indexed && p->init()) gather(p, indexed, col);
        walkSortedOrder(p, c->ascending);
    }
    p->init();
    mSorted = col;
    return true;
}

// Rows are pushed in the current display order; the refused ones are set
// aside in that order too.  Each row and its text lie in two places: they
// are fetched a few rows ahead of their use.  Our own providers are handed
// the cells in runs, each run's cells looked up (and their texts fetched)
// before the first of them is pushed.
void cListViewData::gather(cListViewSortProvider* p, cListViewIndexedSorter* indexed, int col) {
    const std::size_t rows = mSlots.size() - mEmptySlots, S = mSlots.size();
    mAside.clear();
    mPushCount = 0;
    if (indexed) {
        indexed->reserve(rows);
        // A short run: its first cells' texts are fetched only as long
        // before their push as the run takes to look up.
        constexpr std::size_t kRun = 16, kAhead = 64;
        sListViewDataItem* items[kRun];
        unsigned int pools[kRun];
        for (std::size_t s = 0; s < S;) {
            std::size_t m = 0;
            for (; s < S && m < kRun; ++s) {
                if (s + kAhead < S)
                    if (RowNode* ahead = at(s + kAhead)) {
                        // From its cells to its end: two lines at most.
                        __builtin_prefetch(&ahead->value.cells);
                        __builtin_prefetch(reinterpret_cast<const char*>(ahead + 1) - 1);
                    }
                const unsigned int pool = mSlots[s];
                if (pool == kEmpty) continue;
                sListViewDataItem* it = mPoolNode[pool]->value.cells.find(col);
                if (it) __builtin_prefetch(it->text.get());
                items[m] = it;
                pools[m] = pool;
                ++m;
            }
            for (std::size_t k = 0; k < m;) {
                const std::size_t took = indexed->pushRun(items + k, pools + k, m - k);
                mPushCount += took;
                k += took;
                if (k < m) mAside.push_back(pools[k++]);
            }
        }
        return;
    }
    for (std::size_t s = 0; s < S; ++s) {
        if (s + 64 < S)
            if (RowNode* ahead = at(s + 64)) __builtin_prefetch(ahead);
        if (s + 16 < S)
            if (RowNode* ahead = at(s + 16))
                if (Row::sCell* c = ahead->value.cells.first()) __builtin_prefetch(c->value.text.get());
        const unsigned int pool = mSlots[s];
        if (pool == kEmpty) continue;
        sListViewDataItem* it = mPoolNode[pool]->value.cells.find(col);
        if (it && p->push(it)) ++mPushCount;
        else mAside.push_back(pool);
    }
}

// The order from a walk through the provider's next/prev.  A row goes into
// it once: a provider that hands an entry out twice, or one whose row does
// not exist, cannot duplicate a row, and rows it took but never hands back
// keep their place after the others.
void cListViewData::collectPushed() {
    // The rows pushed were the rows in display order but those set aside.
    mSeen.assign(mLive.size(), 0);
    for (unsigned int pool : mAside) mSeen[pool / 64] |= 1ULL << (pool % 64);
    mPushed.clear();
    mPushed.reserve(mPushCount);
    for (unsigned int pool : mSlots)
        if (pool != kEmpty && !(mSeen[pool / 64] & (1ULL << (pool % 64)))) mPushed.push_back(pool);
}

void cListViewData::walkSortedOrder(cListViewSortProvider* p, bool ascending) {
    collectPushed();
    // A row's slot entry holds its push number (UINT_MAX when set aside)
    // until the new order is set: the walk hands back cells, and this finds
    // their rows' pushes without a search.
    const std::size_t pushed = mPushed.size();
    for (std::size_t k = 0; k < pushed; ++k) mSlotOf[mPushed[k]] = static_cast<unsigned int>(k);
    for (unsigned int pool : mAside) mSlotOf[pool] = UINT_MAX;
    // Our providers tell each entry's push; one that pushed a number of
    // entries other than the rows is followed by its cells' rows instead.
    cListViewIndexedSorter* indexed = dynamic_cast<cListViewIndexedSorter*>(p);
    if (indexed && indexed->kept() != pushed) indexed = nullptr;
    std::vector<unsigned int> order;
    order.reserve(pushed + mAside.size());
    std::vector<unsigned char> placed(pushed, 0);
    auto putSorted = [&](bool forward) {
        sListViewDataItem* it = nullptr;
        for (void* pos = forward ? p->next(nullptr, it) : p->prev(nullptr, it); pos;
             pos = forward ? p->next(pos, it) : p->prev(pos, it)) {
            std::size_t k = 0;
            if (indexed) {
                if (!indexed->pushIndex(pos, k) || k >= pushed) continue;
            } else {
                RowNode* n = it ? node(it->rowId) : nullptr;
                if (!n || slotOf(n) >= pushed || mPushed[slotOf(n)] != n->value.pool) continue;
                k = slotOf(n);
            }
            if (placed[k]) continue;
            placed[k] = 1;
            order.push_back(mPushed[k]);
        }
        for (std::size_t k = 0; k < pushed; ++k)
            if (!placed[k]) order.push_back(mPushed[k]);
    };
    auto putAside = [&] { order.insert(order.end(), mAside.begin(), mAside.end()); };
    if (ascending) {
        putAside();
        putSorted(true);
    } else {
        putSorted(false);
        putAside();
    }
    setOrder(order);
}

void cListViewData::reorderByID() {
    cLock l(mLock);
    std::vector<unsigned int> order;
    order.reserve(mRows.count());
    for (RowNode* n = mRows.first(); n; n = mRows.next(n)) order.push_back(n->value.pool);
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
        if (mSlots[s] != kEmpty) return at(s);
    }
    if (slot + 9 >= mSlots.size()) return nullptr;
    std::size_t s = mCounts.upper(mCounts.prefix(slot + 1));
    return s < mSlots.size() ? at(s) : nullptr;
}

cListViewData::RowNode* cListViewData::liveBefore(std::size_t slot) {
    for (std::size_t k = 1; k <= 8 && k <= slot; ++k) {
        ++mWork;
        if (mSlots[slot - k] != kEmpty) return at(slot - k);
    }
    if (slot <= 8) return nullptr;
    int before = mCounts.prefix(slot);
    if (before == 0) return nullptr;
    return at(mCounts.upper(before - 1));
}

cListViewData::RowNode* cListViewData::nodeByOrder(int order) {
    if (order < 0 || order >= mCounts.total()) return nullptr;
    return at(mCounts.upper(order));
}

cListViewData::RowNode* cListViewData::firstNode() {
    cLock l(mLock);
    if (mSlots.empty()) return nullptr;
    return mSlots[0] != kEmpty ? at(0) : liveAfter(0);
}

cListViewData::RowNode* cListViewData::lastNode() {
    cLock l(mLock);
    if (mSlots.empty()) return nullptr;
    return mSlots.back() != kEmpty ? at(mSlots.size() - 1) : liveBefore(mSlots.size() - 1);
}

cListViewData::RowNode* cListViewData::nextNode(RowNode* n) {
    cLock l(mLock);
    return n ? liveAfter(slotOf(n)) : nullptr;
}

cListViewData::RowNode* cListViewData::prevNode(RowNode* n) {
    cLock l(mLock);
    return n ? liveBefore(slotOf(n)) : nullptr;
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
    n = n ? liveAfter(slotOf(n)) : nullptr;
    return n ? n->key : -1;
}

int cListViewData::prevBySort(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    n = n ? liveBefore(slotOf(n)) : nullptr;
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
    return n ? mCounts.prefix(slotOf(n)) : -1;
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

void cListViewData::prefetch(RowNode* n, std::size_t count) {
    cLock l(mLock);
    if (!n) return;
    const std::size_t from = slotOf(n), to = std::min(from + count, mSlots.size());
    for (std::size_t s = from; s < to; ++s)
        if (mSlots[s] != kEmpty) __builtin_prefetch(mPoolNode[mSlots[s]]);
    for (std::size_t s = from; s < to; ++s)
        if (mSlots[s] != kEmpty)
            for (Row::sCell* c = mPoolNode[mSlots[s]]->value.cells.first(); c; c = mPoolNode[mSlots[s]]->value.cells.next(c))
                __builtin_prefetch(c->value.text.get());
}

void cListViewData::setRowHeight(RowNode* n, int height) {
    cLock l(mLock);
    if (!n) return;
    int& h = mPoolHeight[n->value.pool];
    if (h == height) return;
    const int before = h;
    forgetHeight(before);
    ++mHeightCount[height];
    h = height;
    if (mUniform) {
        // The only row sets the common height; a second height starts the
        // sums, once.
        if (mCounts.total() == 1) mUniformH = height;
        else sumHeights();
        return;
    }
    mHeights.add(slotOf(n), static_cast<long long>(height) - before);
}

long long cListViewData::topOf(int row) {
    cLock l(mLock);
    RowNode* n = node(row);
    ++mWork;
    return n ? topOf(n) : -1;
}

cListViewData::RowNode* cListViewData::rowAtY(long long y, long long& top) {
    cLock l(mLock);
    if (y < 0 || y >= totalHeight()) return nullptr;
    if (mUniform) {
        const long long k = y / mUniformH;  // totalHeight() > 0: mUniformH > 0
        top = k * mUniformH;
        return nodeByOrder(static_cast<int>(k));
    }
    std::size_t s = mHeights.upper(y);
    if (s >= mSlots.size() || mSlots[s] == kEmpty) return nullptr;
    top = mHeights.prefix(s);
    return at(s);
}

int cListViewData::minHeight() const {
    return mHeightCount.empty() ? INT_MAX : mHeightCount.begin()->first;
}
