#include "uitoolkit/listview.h"

#include "base/strutil.h"
#include "uitoolkit/themevalues.h"

#include <algorithm>

unsigned int elementClockNow();

namespace {
constexpr int kMinRowHeight = 13;
constexpr int kCheckBox = 14;
constexpr unsigned int kTypeAheadMs = 401;

// Up to max UTF-16 units of a UTF-8 text (bad bytes count as U+FFFD).
int utf16Prefix(const char* s, unsigned short* out, int max) {
    int n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s ? s : "");
    while (*p && n < max) {
        unsigned int c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (c >= 0x80 && c < 0xC0) c = 0xFFFD;
        else if (more) c &= 0x3F >> more;
        for (; more && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        if (more) c = 0xFFFD;
        if (c >= 0x10000) {
            if (n + 2 > max) break;
            c -= 0x10000;
            out[n++] = static_cast<unsigned short>(0xD800 | (c >> 10));
            out[n++] = static_cast<unsigned short>(0xDC00 | (c & 0x3FF));
        } else {
            out[n++] = static_cast<unsigned short>(c);
        }
    }
    return n;
}

struct sLock {
    explicit sLock(cCriticalSection& c) : cs(c) { cs.enter(); }
    ~sLock() { cs.exit(); }
    cCriticalSection& cs;
};
}  // namespace

cListViewChild::~cListViewChild() { cChildElement::dettach(&mHeader); }

void cListViewChild::onInitData() {
    cScrollableElement::onInitData();
    mUiThread = std::this_thread::get_id();
    mMeasureFont = stdFont();
    cThemeValues* t = currentThemeValues();
    int v = 0, lo = 0, hi = 0;
    t->dimension(23, v, lo, hi);
    mHeaderH = v;
    mHeaderShown = true;
    attach(&mHeader, 1, 1, std::max(width() - 2, 1), mHeaderH, cptFixedVertical);
    pinChild(&mHeader, false, true);
    mHeader.setMinButtonsWidth(std::max(width() - 2, 1));
    setQuantumSize(5, 1);
    setMinVisualHeight(mHeaderH);
    setPageSize(width(), height());
    mBg = t->color(14);
    mBorder = t->color(21);
    mTextColor = t->color(4);
    mSelBg = t->color(16);
    mSelText = t->color(9);
    mSelBorder = t->color(25);
    mSelBgU = t->color(18);
    mSelTextU = t->color(4);
    mSelBorderU = t->color(26);
    mFullBg = mSelBg;
    mFullBgU = mSelBgU;
    mSpacing = 0;
    mMulti = mCheckMode = mFullRow = false;
    mBatch = mPending = mPendingRemeasure = false;
    mTypedCount = 0;
    mTypedAt = 0;
    mChbSpacing = mTextPadding = 0;
    mChecked = mUnchecked = nullptr;
    sLock l(mData.lock());
    mData.clear();
    mCurrent = -1;
}

void cListViewChild::onSizeChanged() {
    sRect c;
    clientRect(&c);
    mHeader.setMinButtonsWidth(std::max(c.w - 2 * mBorderWidth, 1));
    setMinVisualWidth(contentWidth());
    setPageSize(c.w, c.h);
    cScrollableElement::onSizeChanged();
}

void cListViewChild::clientRect(sRect* r) {
    cScrollableElement::clientRect(r);
    int h = headerShownHeight();
    r->y += h;
    r->h = std::max(r->h - h, 0);
}

// ---- columns and rows ------------------------------------------------------

bool cListViewChild::setColumn(int col, const char* text, int width, cCanvas::eTextAlign align) {
    if (!mHeader.setColumn(col, text, width, align)) return false;
    bool added;
    {
        sLock l(mData.lock());
        added = !mData.column(col);
        mData.addColumn(col)->align = align;
    }
    // Only the cells of the list's columns count in a row's height.
    if (added) build(false);
    else relayout();
    return true;
}

bool cListViewChild::setColumnFont(int col, cFontObject* font) {
    sLock l(mData.lock());
    sListViewColumnData* c = mData.column(col);
    if (!c) return false;
    c->font = font;
    relayout();
    return true;
}

bool cListViewChild::setColumnTextColor(int col, unsigned int color, bool rp) {
    sLock l(mData.lock());
    sListViewColumnData* c = mData.column(col);
    if (!c) return false;
    if (c->textColor == color) return true;
    c->textColor = color;
    if (rp) repaint();
    return true;
}

bool cListViewChild::setColumnWidth(int col, int width) {
    if (!mData.column(col)) return false;
    return mHeader.resizeItem(col, width);
}

bool cListViewChild::setSortType(int col, cListViewSortProvider* p) {
    if (!mData.column(col)) {
        delete p;
        return false;
    }
    return mData.setSortType(col, p);
}

bool cListViewChild::setSortDirection(int col, bool ascending) {
    if (!mData.setSortDirection(col, ascending)) return false;
    if (mData.sortedColumn() == col) relayout();
    return true;
}

// The font store is the UI thread's: a worker measuring rows uses the font
// the UI thread looked up, and measures no text before there is one.
cFontObject* cListViewChild::measureFont() {
    cFontObject* f = mMeasureFont.load();
    if (!f && std::this_thread::get_id() == mUiThread) {
        f = stdFont();
        mMeasureFont = f;
    }
    return f;
}

int cListViewChild::measureRow(cListViewData::Row& cells, bool remeasure) {
    int h = kMinRowHeight;
    cFontObject* font = nullptr;
    bool fontAsked = false;
    for (auto* c = cells.first(); c; c = cells.next(c)) {
        if (!mData.column(c->key)) continue;
        sListViewDataItem& it = c->value;
        if (remeasure || it.height == 0) {
            if (!fontAsked) {
                font = measureFont();
                fontAsked = true;
            }
            // An empty text takes no height: a row of empty cells keeps the
            // minimum height.
            sSize ts{0, 0};
            if (font && it.text.get() && *it.text.get() && !font->getTextDim(nullptr, it.text.get(), -1, ts)) ts.h = 0;
            int ph = 0;
            for (cPicturesList* pl : mImages)
                if (pl && it.image >= 0)
                    if (cPicture* p = pl->image(it.image)) ph = std::max(ph, p->height());
            it.height = static_cast<short>(std::min(std::max(std::max(ts.h, ph), 0) + 4, 0x7FFF));
        }
        h = std::max<int>(h, it.height);
    }
    return h + mSpacing;
}

void cListViewChild::measureAndStore(int row) {
    sLock l(mData.lock());
    if (cListViewData::RowNode* n = mData.node(row)) mData.setRowHeight(n, measureRow(n->value.cells, false));
}

bool cListViewChild::setItem(int row, int col, const char* text, int image, void* association) {
    cListViewData::eSetResult r;
    {
        sLock l(mData.lock());
        r = mData.setItem(row, col, text, image, association);
        if (r == cListViewData::srRelayout) measureAndStore(row);
    }
    if (r == cListViewData::srRelayout) relayout();
    return r != cListViewData::srFailed;
}

int cListViewChild::addItem(int col, const char* text, int image, void* association) {
    int row;
    {
        sLock l(mData.lock());
        row = mData.addItem(col, text, image, association);
        if (row >= 0) measureAndStore(row);
    }
    if (row >= 0) relayout();
    return row;
}

bool cListViewChild::sort(int col) {
    if (!mData.sort(col)) return false;
    relayout();
    return true;
}

// The display order changes, but the heights move with their rows: the
// layout stays right without being built again.
void cListViewChild::reorderByID() { mData.reorderByID(); }

bool cListViewChild::remove(int row) {
    {
        sLock l(mData.lock());
        if (!mData.remove(row)) return false;
        if (mCurrent == row) mCurrent = -1;
    }
    relayout();
    return true;
}

bool cListViewChild::clear() {
    {
        sLock l(mData.lock());
        mData.clear();
        mCurrent = -1;
    }
    relayout();
    return true;
}

int cListViewChild::selected() {
    sLock l(mData.lock());
    return mCurrent;
}

// ---- layout --------------------------------------------------------------------

void cListViewChild::relayout(bool remeasure) {
    if (mBatch) {
        mPending = true;
        if (remeasure) mPendingRemeasure = true;
        return;
    }
    if (remeasure) {
        build(true);
        return;
    }
    // Scroll sizes and repaints belong to the UI thread: a worker hands them
    // over through the post queue, once until the UI thread has taken it.
    if (std::this_thread::get_id() == mUiThread) applyLayout();
    else if (!mLayoutPosted.exchange(true)) postAction(new cLayoutReady);
}

bool cListViewChild::endChanges(bool remeasure) {
    mBatch = false;
    if (!mPending.exchange(false)) return false;
    const bool again = mPendingRemeasure.exchange(false);
    // Rows changed inside the batch were measured as they changed; a batch
    // that changed the measure itself, or a caller asking for it, measures
    // every row again.
    if (remeasure || again) build(true);
    else relayout();
    return true;
}

void cListViewChild::build(bool remeasure) {
    if (mBatch) {
        mPending = true;
        mPendingRemeasure = true;
        return;
    }
    {
        sLock l(mData.lock());
        mData.setAllHeights([&](int, cListViewData::Row& cells) { return measureRow(cells, remeasure); });
    }
    relayout();
}

void cListViewChild::applyLayout() {
    mLayoutPosted = false;
    long long y;
    int m;
    {
        sLock l(mData.lock());
        // Without any column a row only advances by the minimum height.
        const bool anyColumn = mData.hasColumns();
        const int rows = mData.getRowCount();
        // The rows lie between the top and the bottom border.
        y = rowsTop() + (anyColumn ? mData.totalHeight() : static_cast<long long>(kMinRowHeight) * rows) +
            mBorderWidth;
        m = height();
        if (anyColumn && rows > 0) m = std::min(m, mData.minHeight());
    }
    setQuantumSize(5, std::max(m, 1));
    setMinVisualHeight(static_cast<int>(std::min<long long>(y, INT_MAX)));
    repaint();
}

bool cListViewChild::layoutAt(int contentY, int& top, sItemYDs& row) {
    sLock l(mData.lock());
    if (!mData.hasColumns()) return false;
    long long t = 0;
    cListViewData::RowNode* n = mData.rowAtY(static_cast<long long>(contentY) - rowsTop(), t);
    if (!n) return false;
    top = static_cast<int>(std::min<long long>(t + rowsTop(), INT_MAX));
    row.rowId = n->key;
    row.height = mData.heightOf(n);
    return true;
}

int cListViewChild::rowAt(int contentY) {
    int top;
    sItemYDs row;
    return layoutAt(contentY, top, row) ? row.rowId : -1;
}

bool cListViewChild::itemRange(int row, int& top, int& bottom) {
    sLock l(mData.lock());
    cListViewData::RowNode* n = mData.node(row);
    if (!n || !mData.hasColumns()) return false;
    const long long t = mData.topOf(n) + rowsTop() - shiftY();
    top = static_cast<int>(std::max<long long>(std::min<long long>(t, INT_MAX), INT_MIN));
    bottom = static_cast<int>(std::min<long long>(t + mData.heightOf(n), INT_MAX));
    return true;
}

bool cListViewChild::itemPos(int row, int& top) {
    int bottom;
    return itemRange(row, top, bottom);
}

bool cListViewChild::firstCellSpan(int row, int& x, int& w) {
    sLock l(mData.lock());
    cListViewData::RowNode* n = mData.node(row);
    auto* first = n ? n->value.cells.first() : nullptr;
    if (!first) return false;
    // Columns side by side as the painting lays them out: each one shown
    // is followed by the header's split gap.
    const int sw = mHeader.splitReservedWidth();
    long long at = mBorderWidth;
    auto& columns = mData.columns();
    for (auto* c = columns.first(); c; c = columns.next(c)) {
        const int cw = mHeader.columnWidth(c->key);
        if (cw < 1) continue;
        if (c->key == first->key) {
            x = static_cast<int>(std::min<long long>(at, INT_MAX));
            w = cw;
            return true;
        }
        at += static_cast<long long>(cw) + sw;
    }
    return false;
}

// The row's line and its first cell, selection frame included, are brought
// wholly into the view: the rows lie between the header (or the top border)
// and the bottom border or bar, the cells between the side borders.
bool cListViewChild::adjustScrollToItem(int row) {
    long long top, height;
    {
        sLock l(mData.lock());
        cListViewData::RowNode* n = mData.node(row);
        if (!n || !mData.hasColumns()) return false;
        top = mData.topOf(n) + rowsTop();
        height = mData.heightOf(n);
    }
    // Content coordinates; the list's client rectangle starts below the
    // header, so the shared rule keeps the row out from under it.
    sRect r{0, static_cast<int>(std::min<long long>(top, INT_MAX)), 1,
            static_cast<int>(std::min<long long>(height, INT_MAX))};
    int x = 0, w = 0;
    if (firstCellSpan(row, x, w)) {
        r.x = x;
        r.w = w;
    }
    return adjustScrollTo(r, false, false);
}

void cListViewChild::showHeader(bool on) {
    mHeaderShown = on;
    if (on) mHeader.show(true);
    else mHeader.hide(true);
    relayout();
}

void cListViewChild::setHeaderHeight(int h) {
    if (h > 1) {
        mHeaderH = h;
        mHeader.move(1, 1, std::max(width() - 2, 1), h);
        showHeader(true);
    } else {
        showHeader(false);
    }
}

// ---- selection ---------------------------------------------------------------

void cListViewChild::notifyChange(int now, int before, bool add, bool range) {
    notifyAction(new cListViewItemChangeAction(now, before, add, range));
}

void cListViewChild::clearSelection(int except) {
    sLock l(mData.lock());
    for (int r = mData.nextWithFlag(-1, sListViewDataItem::fSelected); r >= 0;) {
        int next = mData.nextWithFlag(r, sListViewDataItem::fSelected);
        if (r != except) mData.setFlags(r, 0, sListViewDataItem::fSelected);
        r = next;
    }
}

void cListViewChild::select(int row, int anchor, bool add, bool range, bool mark) {
    {
        sLock l(mData.lock());
        if (row != mCurrent) {
            int before = mCurrent;
            mCurrent = row;
            notifyChange(row, before, add, range);
        }
        if (!mMulti || (!add && !range)) clearSelection(row);
        if (range && mMulti && anchor >= 0 && anchor != row) {
            int a = mData.sortIdx(anchor), b = mData.sortIdx(row);
            if (a >= 0 && b >= 0) {
                if (a > b) std::swap(a, b);
                cListViewData::RowNode* n = mData.node(mData.rowBySortIdx(a));
                for (int o = a; o <= b && n; ++o, n = mData.nextNode(n))
                    mData.setFlags(n->key, sListViewDataItem::fSelected, 0);
            }
        }
        if (mark) mData.setFlags(row, sListViewDataItem::fSelected, 0);
    }
    adjustScrollToItem(row);
    repaint();
}

bool cListViewChild::select(int row) {
    if (row < 0 || mData.flags(row) < 0) return false;
    select(row, selected(), false, false, true);
    return true;
}

bool cListViewChild::select(int col, void* association) {
    int row = mData.find(col, association);
    return row >= 0 && select(row);
}

void cListViewChild::deselect() {
    {
        sLock l(mData.lock());
        clearSelection(-1);
        mCurrent = -1;
    }
    repaint();
}

bool cListViewChild::setSelected(int row, bool on) {
    {
        sLock l(mData.lock());
        int f = mData.flags(row);
        if (f < 0) return false;
        bool is = f & sListViewDataItem::fSelected;
        if (on && !is) {
            if (mCurrent != row) {
                int before = mCurrent;
                mCurrent = row;
                notifyChange(row, before, false, false);
            }
            if (!mMulti) clearSelection(row);
            mData.setFlags(row, sListViewDataItem::fSelected, 0);
        } else if (!on && is) {
            mData.setFlags(row, 0, sListViewDataItem::fSelected);
            // The current row moves to the nearest selected row after this
            // one in row-id order, else before it; with no selected row left
            // no row stays current.
            int now = mData.nextWithFlag(row, sListViewDataItem::fSelected);
            if (now < 0) {
                for (int r = mData.nextWithFlag(-1, sListViewDataItem::fSelected); r >= 0 && r < row;
                     r = mData.nextWithFlag(r, sListViewDataItem::fSelected))
                    now = r;
            }
            if (now != mCurrent) {
                int before = mCurrent;
                mCurrent = now;
                notifyChange(now, before, false, false);
            }
        }
    }
    if (!mBatch) repaint();
    return true;
}

bool cListViewChild::setChecked(int row, bool on, bool notify) {
    int f = mData.flags(row);
    if (f < 0) return false;
    bool is = f & sListViewDataItem::fChecked;
    if (is == on) return true;
    mData.setFlags(row, on ? sListViewDataItem::fChecked : 0, on ? 0 : sListViewDataItem::fChecked);
    if (notify) notifyAction(new cListViewItemChecked(row));
    if (!mBatch) repaint();
    return true;
}

bool cListViewChild::checked(int row) {
    int f = mData.flags(row);
    return f >= 0 && (f & sListViewDataItem::fChecked);
}

void cListViewChild::toggleCheck(int row) { setChecked(row, !checked(row), true); }

void cListViewChild::setMultiselect(bool on) {
    if (on != mMulti) deselect();
    mMulti = on;
}

// ---- look --------------------------------------------------------------------

namespace {
// Stores the values and repaints when asked; false when nothing changed.
template <typename T, typename... R>
bool store(bool repaint, cChildElement* e, std::pair<T*, T> first, R... rest) {
    bool changed = false;
    for (auto p : {first, rest...}) changed |= *p.first != p.second;
    if (!changed) return false;
    for (auto p : {first, rest...}) *p.first = p.second;
    if (repaint) e->repaint();
    return true;
}
}  // namespace

void cListViewChild::setFullLineSelect(bool on, bool rp) { store(rp, this, std::make_pair(&mFullRow, on)); }
void cListViewChild::setFullLineSelectColors(unsigned int focused, unsigned int unfocused, bool rp) {
    store(rp, this, std::make_pair(&mFullBg, focused), std::make_pair(&mFullBgU, unfocused));
}
void cListViewChild::setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool rp) {
    store(rp, this, std::make_pair(&mTextColor, text), std::make_pair(&mBg, bg), std::make_pair(&mBorder, border));
}
void cListViewChild::setColorSchemaFocusedActive(unsigned int text, unsigned int bg, unsigned int border, bool rp) {
    store(rp, this, std::make_pair(&mSelText, text), std::make_pair(&mSelBg, bg),
          std::make_pair(&mSelBorder, border));
}
void cListViewChild::setColorSchemaFocusedInactive(unsigned int text, unsigned int bg, unsigned int border,
                                                   bool rp) {
    store(rp, this, std::make_pair(&mSelTextU, text), std::make_pair(&mSelBgU, bg),
          std::make_pair(&mSelBorderU, border));
}
void cListViewChild::setBgColor(unsigned int c, bool rp) { store(rp, this, std::make_pair(&mBg, c)); }
void cListViewChild::setBorderColor(unsigned int c, bool rp) { store(rp, this, std::make_pair(&mBorder, c)); }
void cListViewChild::setTextColor(unsigned int c, bool rp) { store(rp, this, std::make_pair(&mTextColor, c)); }
void cListViewChild::setChbSpacing(int s, bool rp) { store(rp, this, std::make_pair(&mChbSpacing, std::max(s, 0))); }
void cListViewChild::setTextPadding(int p, bool rp) {
    store(rp, this, std::make_pair(&mTextPadding, std::max(p, 0)));
}
void cListViewChild::setChkImages(cPicture* c, cPicture* u, bool rp) {
    store(rp, this, std::make_pair(&mChecked, c), std::make_pair(&mUnchecked, u));
}
void cListViewChild::setImageLists(cPicturesList* a, cPicturesList* b, cPicturesList* c) {
    bool changed = a != mImages[0] || b != mImages[1] || c != mImages[2];
    mImages[0] = a;
    mImages[1] = b;
    mImages[2] = c;
    if (changed) relayout(true);
}
void cListViewChild::setSpacing(int s) {
    mSpacing = s;
    relayout(true);
}

// ---- input -------------------------------------------------------------------

bool cListViewChild::inCheckZone(int contentX) const {
    int from = mChbSpacing / 2;
    return mCheckMode && contentX >= from && contentX < from + kCheckBox;
}

void cListViewChild::processMouseSelection(int row, sListViewDataItem* firstCell, bool add, bool range, int button) {
    if (!firstCell) return;
    if (!(firstCell->flags & sListViewDataItem::fSelected) || range) {
        select(row, selected(), add, range, true);
    } else if (button == 1 && add) {
        // Deselected; only the current row hands its place on (as
        // setSelected does), another row leaves the current one alone.
        if (row == selected()) {
            setSelected(row, false);
        } else {
            mData.setFlags(row, 0, sListViewDataItem::fSelected);
            repaint();
        }
    } else if (button == 1) {
        // Keeps only this row selected; making it current is a change of the
        // current row like any other and is reported as one.
        select(row, selected(), false, false, true);
    }
}

void cListViewChild::processMouseBtn(int x, int y, int button, bool down, bool add, bool range) {
    cScrollableElement::processMouseBtn(x, y, button, down, add, range);
    if (!down || (button != 1 && button != 2) || captureChild()) return;
    sRect c;
    clientRect(&c);
    if (x < c.x || y < c.y || x >= c.x + c.w || y >= c.y + c.h) return;
    sLock l(mData.lock());
    int row = rowAt(y + shiftY());
    cListViewData::RowNode* n = row >= 0 ? mData.node(row) : nullptr;
    if (!n || !n->value.cells.first()) {
        int before = selected();
        if (button == 1 && before >= 0) {
            deselect();
            notifyChange(-1, before, add, range);
        }
        return;
    }
    if (button == 1 && inCheckZone(x + shiftX())) {
        toggleCheck(row);
        return;
    }
    processMouseSelection(row, &n->value.cells.first()->value, add, range, button);
}

void cListViewChild::onMouseDoubleClick(int x, int y) {
    cScrollableElement::onMouseDoubleClick(x, y);
    int row = rowAt(y + shiftY());
    if (row >= 0) {
        if (!inCheckZone(x + shiftX())) notifyAction(new cListViewItemAction(6, row));
    } else if (int before = selected(); before >= 0) {
        deselect();
        notifyChange(-1, before, false, false);
    }
}

int cListViewChild::pageTarget(bool down) {
    int cur = selected();
    int fallback = down ? mData.lastBySort() : mData.firstBySort();
    if (cur < 0) return fallback;
    sRect c;
    clientRect(&c);
    int rest = c.h;
    sLock l(mData.lock());
    cListViewData::RowNode* n = mData.node(cur);
    if (!n) return fallback;
    for (n = down ? mData.nextNode(n) : mData.prevNode(n); n; n = down ? mData.nextNode(n) : mData.prevNode(n)) {
        int h = mData.heightOf(n);
        if (rest <= h) return n->key;
        rest -= h;
    }
    return fallback;
}

bool cListViewChild::processKey(int key, bool range, bool add, bool alt) {
    int cur = selected();
    auto go = [&](int row, bool keepAdd) {
        if (row >= 0) select(row, cur, keepAdd && add, range, true);
        return true;
    };
    switch (key) {
        case 0x150: return go(mData.firstBySort(), false);
        case 0x157: return go(mData.lastBySort(), false);
        case 0x152:
        case 0x154: {
            int r = cur >= 0 && mData.sortIdx(cur) >= 0
                        ? (key == 0x152 ? mData.prevBySort(cur) : mData.nextBySort(cur))
                        : mData.firstBySort();
            if (r < 0) r = cur;
            return go(r, true);
        }
        case 0x155: return go(pageTarget(false), false);
        case 0x156: return go(pageTarget(true), false);
        case 32:
            if (mCheckMode && cur >= 0) {
                toggleCheck(cur);
                repaint();
                return true;
            }
            break;
        case 65:
            if (add) {
                if (mMulti && mData.firstBySort() >= 0) {
                    select(mData.firstBySort(), -1, false, false, true);
                    select(mData.lastBySort(), mData.firstBySort(), false, true, true);
                }
                return true;
            }
            break;
        case 0x18D:
            notifyAction(new cListViewItemAction(6, cur));
            return true;
        case 0x11B:
            if (cur >= 0) {
                deselect();
                notifyChange(-1, cur, add, range);
            }
            return true;
        case 0x1C2: notifyAction(8); return true;
        case 0x108: notifyAction(9); return true;
        default: break;
    }
    return cScrollableElement::processKey(key, range, add, alt);
}

bool cListViewChild::processChar(unsigned short ch, bool a, bool b, bool c) {
    unsigned int now = elementClockNow();
    bool within = mTypedCount > 0 && now - mTypedAt < kTypeAheadMs;
    if (within) {
        if (mTypedCount < 10) mTyped[mTypedCount++] = ch;
    } else {
        mTyped[0] = ch;
        mTypedCount = 1;
    }
    mTypedAt = now;
    int found = -1, cur;
    {
        sLock l(mData.lock());
        cur = mCurrent;
        cListViewData::RowNode* n = cur < 0 ? mData.firstNode() : mData.node(cur);
        if (n && cur >= 0 && !within) n = mData.nextNode(n);
        for (; n && found < 0; n = mData.nextNode(n)) {
            auto* first = n->value.cells.first();
            if (!first) continue;
            unsigned short u[11];
            int k = utf16Prefix(first->value.text.get(), u, 11);
            if (k < mTypedCount) continue;
            bool match = true;
            for (int i = 0; i < mTypedCount && match; ++i) match = __acp_lower(u[i]) == __acp_lower(mTyped[i]);
            if (match) found = n->key;
        }
    }
    if (found >= 0) select(found, cur, false, false, true);
    return cScrollableElement::processChar(ch, a, b, c);
}

void cListViewChild::onSetFocus(bool a, bool b) {
    cScrollableElement::onSetFocus(a, b);
    repaint();
}
void cListViewChild::onLooseFocus(bool a, bool b) {
    cScrollableElement::onLooseFocus(a, b);
    repaint();
}

bool cListViewChild::onAction(cChildElement* src, cChildAction* a) {
    if (src == this && dynamic_cast<cLayoutReady*>(a)) {
        applyLayout();
        return true;
    }
    if (src == &mHeader) {
        if (auto* click = dynamic_cast<cHeaderChild::cColumnClickAction*>(a)) {
            int col = click->column;
            if (!mData.hasSortType(col)) return true;
            bool asc = true;
            if (mData.sortedColumn() == col && mData.getSortDirection(col, asc)) asc = !asc;
            else asc = true;
            mData.setSortDirection(col, asc);
            sort(col);
            notifyAction(new cListViewItemAction(11, col));
            return true;
        }
        if (dynamic_cast<cSplitterBase::cResizeRequestAction*>(a)) {
            sRect c;
            clientRect(&c);
            mHeader.setMinButtonsWidth(std::max(c.w - 2 * mBorderWidth, 1));
            setMinVisualWidth(contentWidth());
            return true;
        }
        if (a->code() == 7) {
            // A column was resized or attached: row heights do not depend on
            // column widths, so the layout only needs repainting.
            relayout();
            return true;
        }
    }
    return cScrollableElement::onAction(src, a);
}

// ---- painting ----------------------------------------------------------------

// A 1-px frame of rectangles: a canvas fills rectangles the same way
// everywhere, where the ends of lines differ between canvases.
void cListViewChild::frame(cCanvas* c, int x, int y, int w, int h, unsigned int color, bool top) {
    if (w < 1 || h < 1) return;
    sRect edges[4] = {{x, y + h - 1, w, 1}, {x, y, 1, h}, {x + w - 1, y, 1, h}, {x, y, w, 1}};
    for (int i = 0; i < (top ? 4 : 3); ++i) c->drawRect(&edges[i], color, color);
}

void cListViewChild::paintRow(cCanvas* c, int top, int h, cListViewData::Row& cells, bool aboveSelected,
                              cFontObject* font) {
    const bool focus = hasFocus();
    auto* firstCell = cells.first();
    const bool rowSelected = firstCell && (firstCell->value.flags & sListViewDataItem::fSelected);
    const bool fullRow = mFullRow && rowSelected;
    const unsigned int rowBg = fullRow ? (focus ? mFullBg : mFullBgU) : mBg;
    const int sw = mHeader.splitReservedWidth();
    int x = 1 - shiftX();
    auto& columns = mData.columns();
    for (auto* node = columns.first(); node; node = columns.next(node)) {
        const int id = node->key;
        const sListViewColumnData* col = &node->value;
        const int w = mHeader.columnWidth(id);
        if (w >= 1) {
            sListViewDataItem* it = cells.find(id);
            sRect cell{x, top, w, h};
            if (!it) {
                c->drawRect(&cell, mBg, mBg);
            } else {
                const bool first = it == &firstCell->value;
                const bool sel = fullRow || (rowSelected && first);
                unsigned int bg = mBg, fg = mTextColor;
                if (fullRow) {
                    bg = rowBg;
                    fg = focus ? mSelText : mSelTextU;
                } else if (sel) {
                    bg = focus ? mSelBg : mSelBgU;
                    fg = focus ? mSelText : mSelTextU;
                }
                const int right = x + w;
                int cx = x;
                if (it->indent) {
                    sRect ind{cx, top, std::min<int>(it->indent, right - cx), h};
                    c->drawRect(&ind, mBg, mBg);
                    cx += ind.w;
                }
                if (mCheckMode && first && cx < right) {
                    int bw = std::min(mChbSpacing + kCheckBox, right - cx);
                    sRect box{cx, top, bw, h};
                    c->drawRect(&box, mBg, mBg);
                    cThemeValues* t = currentThemeValues();
                    if (!mChecked) mChecked = t->picture(31);
                    if (!mUnchecked) mUnchecked = t->picture(30);
                    cPicture* p = (it->flags & sListViewDataItem::fChecked) ? mChecked : mUnchecked;
                    // Pictures keep their transparent parts: drawn with
                    // their alpha over the cell's fill.
                    if (p) {
                        sPoint at{cx + (mChbSpacing + kCheckBox - p->width()) / 2, top + (h - p->height()) / 2};
                        c->drawTransparent(&at, p, nullptr);
                    }
                    cx += bw;
                }
                cPicture* pic = nullptr;
                if (it->image >= 0) {
                    if (sel && mImages[2]) pic = mImages[2]->image(it->image);
                    if (!pic && mImages[0]) pic = mImages[0]->image(it->image);
                }
                if (pic && cx < right) {
                    int bw = std::min(pic->width() + 4, right - cx);
                    sRect box{cx, top, bw, h};
                    c->drawRect(&box, bg, bg);
                    sPoint at{cx + 2, top + (h - pic->height()) / 2};
                    c->drawTransparent(&at, pic, nullptr);
                    cx += bw;
                }
                if (cx < right) {
                    sRect area{cx, top, right - cx, h};
                    c->drawRect(&area, bg, bg);
                    unsigned int color = it->textColor != 0xFFFFFFFF  ? it->textColor
                                         : col->textColor != 0xFFFFFFFF ? col->textColor
                                                                        : fg;
                    c->setTextMode(col->font ? col->font : font);
                    c->setTextColors(color, bg);
                    const char* s = it->text.get();
                    if (s && *s && right - cx > mTextPadding)
                        c->drawTextLimited(cx + mTextPadding, top, right - cx - mTextPadding, h, col->align, true, 0,
                                           0, s, -1, nullptr, false);
                }
                if (sel && !mFullRow) frame(c, x, top, w, h, focus ? mSelBorder : mSelBorderU, !aboveSelected);
            }
            x += w;
            sRect gap{x, top, sw, h};
            c->drawRect(&gap, rowBg, rowBg);
            x += sw;
        }
    }
    if (x < width() - 1) {
        sRect rest{x, top, width() - 1 - x, h};
        c->drawRect(&rest, rowBg, rowBg);
    }
}

void cListViewChild::onPaintArea(cCanvas* c) {
    sLock l(mData.lock());
    // Only the inside of the border: its four edges leave the drawable
    // region for the paint.
    const int W = width(), H = height();
    sRect edges[4] = {{0, 0, W, 1}, {0, H - 1, W, 1}, {0, 0, 1, H}, {W - 1, 0, 1, H}};
    for (sRect& e : edges) c->clip(&e);
    c->select();
    const int top = rowsTop();
    int y = top;
    if (mData.hasColumns()) {
        long long rowTop = 0;
        cListViewData::RowNode* n = mData.rowAtY(shiftY(), rowTop);
        bool aboveSelected = false;
        if (n) {
            cListViewData::RowNode* p = mData.prevNode(n);
            aboveSelected = p && p->value.cells.first() &&
                            (p->value.cells.first()->value.flags & sListViewDataItem::fSelected);
        }
        cFontObject* font = stdFont();
        // The page's rows, fetched together before they are painted.
        mData.prefetch(n, static_cast<std::size_t>(H / std::max(mData.minHeight(), 1) + 2));
        for (long long at = rowTop + top - shiftY(); n && at < H; n = mData.nextNode(n)) {
            const int h = mData.heightOf(n);
            cListViewData::Row& cells = n->value.cells;
            paintRow(c, static_cast<int>(at), h, cells, aboveSelected, font);
            aboveSelected = cells.first() && (cells.first()->value.flags & sListViewDataItem::fSelected);
            at += h;
            y = static_cast<int>(std::min<long long>(at, H));
        }
    }
    // Rows without columns take their place but paint nothing: the
    // background covers them.
    y = std::max(y, top);
    if (y < H - 1) {
        sRect below{1, y, std::max(W - 2, 0), H - 1 - y};
        c->drawRect(&below, mBg, mBg);
    }
    if (mData.getRowCount() == 0 && text() && *text()) {
        c->setTextMode(stdFont());
        c->setTextColors(currentThemeValues()->color(5), mBg);
        c->drawTextLimited(5, 10 + headerShownHeight(), W - 11, 20, cCanvas::taCenter, true, 0, 0, text(), -1,
                           nullptr, false);
    }
    for (sRect& e : edges) c->unclip(&e);
    c->select();
}

void cListViewChild::onPaint(cCanvas* canvas) {
    cScrollableElement::onPaint(canvas);
    frame(canvas, 0, 0, width(), height(), mBorder, true);
}
