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
    mText = t->color(4);
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
    mBatch = mPending = false;
    mTypedCount = 0;
    mTypedAt = 0;
    mChbSpacing = mTextPadding = 0;
    mChecked = mUnchecked = nullptr;
    sLock l(mData.lock());
    mData.clear();
    mLayout.destroy();
    mTopOf.destroy();
    mCurrent = -1;
}

void cListViewChild::onSizeChanged() {
    sRect c;
    clientRect(&c);
    mHeader.setMinButtonsWidth(std::max(c.w, 1));
    setMinVisualWidth(mHeader.width());
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
    sLock l(mData.lock());
    mColumns.insert(col)->align = align;
    relayout(false);
    return true;
}

bool cListViewChild::setColumnFont(int col, cFontObject* font) {
    sLock l(mData.lock());
    sColumnLook* c = mColumns.find(col);
    if (!c) return false;
    c->font = font;
    relayout(true);
    return true;
}

bool cListViewChild::setColumnTextColor(int col, unsigned int color, bool rp) {
    sLock l(mData.lock());
    sColumnLook* c = mColumns.find(col);
    if (!c) return false;
    c->color = color;
    if (rp) repaint();
    return true;
}

bool cListViewChild::setColumnWidth(int col, int width) {
    if (!mColumns.find(col)) return false;
    return mHeader.resizeItem(col, width);
}

bool cListViewChild::setSortType(int col, cListViewSortProvider* p) {
    if (!mColumns.find(col)) {
        delete p;
        return false;
    }
    return mData.setSortType(col, p);
}

bool cListViewChild::setSortDirection(int col, bool ascending) {
    if (!mData.setSortDirection(col, ascending)) return false;
    if (mData.sortedColumn() == col) relayout(false);
    return true;
}

bool cListViewChild::setItem(int row, int col, const char* text, int image, void* association) {
    cListViewData::eSetResult r = mData.setItem(row, col, text, image, association);
    if (r == cListViewData::srRelayout) relayout(false);
    return r != cListViewData::srFailed;
}

int cListViewChild::addItem(int col, const char* text, int image, void* association) {
    int row = mData.addItem(col, text, image, association);
    if (row >= 0) relayout(false);
    return row;
}

bool cListViewChild::sort(int col) {
    if (!mData.sort(col)) return false;
    relayout(false);
    return true;
}

bool cListViewChild::remove(int row) {
    sLock l(mData.lock());
    if (!mData.remove(row)) return false;
    if (mCurrent == row) mCurrent = -1;
    relayout(false);
    return true;
}

bool cListViewChild::clear() {
    sLock l(mData.lock());
    mData.clear();
    mLayout.destroy();
    mTopOf.destroy();
    mCurrent = -1;
    relayout(false);
    return true;
}

int cListViewChild::selected() {
    sLock l(mData.lock());
    return mCurrent;
}

void cListViewChild::relayout(bool remeasure) {
    if (mBatch) {
        mPending = true;
        if (remeasure) mPendingRemeasure = true;
        return;
    }
    build(remeasure);
}

bool cListViewChild::endChanges(bool remeasure) {
    mBatch = false;
    if (!mPending) return false;
    mPending = false;
    build(remeasure || mPendingRemeasure.exchange(false));
    return true;
}

void cListViewChild::build(bool remeasure) {
    {
        int y, m;
        sLock l(mData.lock());
        mLayout.destroy();
        mTopOf.destroy();
        y = headerShownHeight();
        m = height();
        cFontObject* font = stdFont();
        const bool anyColumn = !mColumns.empty();
        mData.forEachInOrder([&](int row, cListViewData::Row& cells) {
            if (!anyColumn) {
                y += kMinRowHeight;
                return true;
            }
            int h = kMinRowHeight;
            for (auto* c = cells.first(); c; c = cells.next(c)) {
                sListViewDataItem& it = c->value;
                if (remeasure || it.height == 0) {
                    sSize ts{0, 0};
                    if (font && it.text.get() && *it.text.get()) font->getTextDim(nullptr, it.text.get(), -1, ts);
                    else if (font) font->getTextDim(nullptr, "W", -1, ts);
                    int ph = 0;
                    for (cPicturesList* pl : mImages)
                        if (pl && it.image >= 0)
                            if (cPicture* p = pl->image(it.image)) ph = std::max(ph, p->height());
                    it.height = static_cast<short>(std::min(std::max(ts.h, ph) + 4, 0x7FFF));
                }
                h = std::max<int>(h, it.height);
            }
            h += mSpacing;
            sItemYDs* e = mLayout.insert(y);
            e->rowId = row;
            e->height = h;
            *mTopOf.insert(row) = y;
            m = std::min(m, h);
            y += h;
            return true;
        });
        mLaidHeight = y;
        mLaidQuantum = std::max(m, 1);
    }
    // Scroll sizes and repaints belong to the UI thread: a worker hands them
    // over through the post queue.
    if (std::this_thread::get_id() == mUiThread) applyLayout();
    else postAction(new cLayoutReady);
}

void cListViewChild::applyLayout() {
    int h, q;
    {
        sLock l(mData.lock());
        h = mLaidHeight;
        q = mLaidQuantum;
    }
    setQuantumSize(5, q);
    setMinVisualHeight(h);
    repaint();
}

int cListViewChild::rowAt(int contentY) {
    sLock l(mData.lock());
    auto* n = mLayout.find_le(contentY);
    if (!n || n->key + n->value.height <= contentY) return -1;
    return n->value.rowId;
}

bool cListViewChild::itemRange(int row, int& top, int& bottom) {
    sLock l(mData.lock());
    int* t = mTopOf.find(row);
    if (!t) return false;
    top = *t - shiftY();
    bottom = top + mLayout.find(*t)->height;
    return true;
}

bool cListViewChild::adjustScrollToItem(int row) {
    int top, bottom;
    {
        sLock l(mData.lock());
        int* t = mTopOf.find(row);
        if (!t) return false;
        top = *t;
        bottom = top + mLayout.find(*t)->height;
    }
    sRect r{0, top - headerShownHeight(), 1, bottom - top};
    return adjustScrollTo(r, true, false);
}

void cListViewChild::showHeader(bool on) {
    mHeaderShown = on;
    if (on) mHeader.show(true);
    else mHeader.hide(true);
    relayout(false);
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
    for (int r = mData.nextWithFlag(-1, sListViewDataItem::fSelected); r >= 0;
         r = mData.nextWithFlag(r, sListViewDataItem::fSelected))
        if (r != except) mData.setFlags(r, 0, sListViewDataItem::fSelected);
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
                for (int o = a; o <= b; ++o) {
                    int r = mData.rowBySortIdx(o);
                    if (r >= 0) mData.setFlags(r, sListViewDataItem::fSelected, 0);
                }
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
    sLock l(mData.lock());
    clearSelection(-1);
    mCurrent = -1;
    repaint();
}

bool cListViewChild::setSelected(int row, bool on) {
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
        if (mCurrent == row) {
            int next = mData.nextWithFlag(row, sListViewDataItem::fSelected);
            if (next < 0) {
                for (int r = mData.nextWithFlag(-1, sListViewDataItem::fSelected); r >= 0 && r < row;
                     r = mData.nextWithFlag(r, sListViewDataItem::fSelected))
                    next = r;
            }
            // The only selected row deselected: no row stays current.
            mCurrent = next;
            notifyChange(next, row, false, false);
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

void cListViewChild::setFullLineSelect(bool on, bool rp) {
    mFullRow = on;
    if (rp) repaint();
}
void cListViewChild::setChbSpacing(int s, bool rp) {
    mChbSpacing = std::max(s, 0);
    if (rp) repaint();
}
void cListViewChild::setTextPadding(int p, bool rp) {
    mTextPadding = std::max(p, 0);
    if (rp) repaint();
}
void cListViewChild::setChkImages(cPicture* c, cPicture* u, bool rp) {
    mChecked = c;
    mUnchecked = u;
    if (rp) repaint();
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
void cListViewChild::setColorSchema(unsigned int text, unsigned int bg, unsigned int border, bool rp) {
    if (text == mText && bg == mBg && border == mBorder) return;
    mText = text;
    mBg = bg;
    mBorder = border;
    if (rp) repaint();
}

// ---- input -------------------------------------------------------------------

bool cListViewChild::inCheckZone(int contentX) const {
    int from = mChbSpacing / 2;
    return mCheckMode && contentX >= from && contentX < from + kCheckBox;
}

void cListViewChild::processMouseSelection(int row, bool add, bool range, int button) {
    int f = mData.flags(row);
    if (f < 0) return;
    if (!(f & sListViewDataItem::fSelected)) {
        select(row, selected(), add, range, true);
    } else if (button == 1 && add) {
        setSelected(row, false);
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
    int row = rowAt(y + shiftY());
    if (row < 0) {
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
    processMouseSelection(row, add, range, button);
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
    for (int r = down ? mData.nextBySort(cur) : mData.prevBySort(cur); r >= 0;
         r = down ? mData.nextBySort(r) : mData.prevBySort(r)) {
        int top, bottom;
        if (!itemRange(r, top, bottom)) break;
        int h = bottom - top;
        if (rest <= h) return r;
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
    int cur = selected();
    int r = cur < 0 ? mData.firstBySort() : within ? cur : mData.nextBySort(cur);
    int found = -1;
    for (; r >= 0 && found < 0; r = mData.nextBySort(r)) {
        _guardchar<char> text;
        {
            sLock l(mData.lock());
            cListViewData::Row* cells = mData.rowLocked(r);
            if (!cells || !cells->first()) continue;
            text.set(cells->first()->value.text.get());
        }
        unsigned short u[11];
        int n = utf16Prefix(text.get(), u, 11);
        if (n < mTypedCount) continue;
        bool match = true;
        for (int i = 0; i < mTypedCount && match; ++i) match = __acp_lower(u[i]) == __acp_lower(mTyped[i]);
        if (match) found = r;
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
        if (auto* rs = dynamic_cast<cSplitterBase::cResizeRequestAction*>(a)) {
            (void)rs;
            sRect c;
            clientRect(&c);
            setMinVisualWidth(mHeader.width());
            mHeader.setMinButtonsWidth(std::max(c.w, 1));
            return true;
        }
        if (a->code() == 7) {
            relayout(false);
            return true;
        }
    }
    return cScrollableElement::onAction(src, a);
}

// ---- painting ----------------------------------------------------------------

void cListViewChild::paintRow(cCanvas* c, int top, int h, cListViewData::Row& cells, bool aboveSelected) {
    const bool focus = hasFocus();
    auto* firstCell = cells.first();
    const bool rowSelected = firstCell && (firstCell->value.flags & sListViewDataItem::fSelected);
    const unsigned int rowBg = mFullRow && rowSelected ? (focus ? mFullBg : mFullBgU) : mBg;
    int x = 1 - shiftX();
    const int firstCol = mColumns.first() ? mColumns.first()->key : 0;
    for (auto* col = mColumns.first(); col; col = mColumns.next(col)) {
        int w = mHeader.columnWidth(col->key);
        if (w < 1) continue;
        sListViewDataItem* it = cells.find(col->key);
        sRect cell{x, top, w, h};
        if (!it) {
            c->drawRect(&cell, mBg, mBg);
        } else {
            bool sel = rowSelected && col->key == firstCol;
            unsigned int bg = mBg, fg = mText;
            if (mFullRow && rowSelected) {
                bg = rowBg;
                fg = focus ? mSelText : mSelTextU;
            } else if (sel) {
                bg = focus ? mSelBg : mSelBgU;
                fg = focus ? mSelText : mSelTextU;
            }
            int cx = x;
            if (it->indent) {
                sRect ind{cx, top, std::min<int>(it->indent, w), h};
                c->drawRect(&ind, mBg, mBg);
                cx += it->indent;
            }
            if (mCheckMode && col->key == firstCol) {
                int bw = mChbSpacing + kCheckBox;
                sRect box{cx, top, bw, h};
                c->drawRect(&box, mBg, mBg);
                cThemeValues* t = currentThemeValues();
                if (!mChecked) mChecked = t->picture(31);
                if (!mUnchecked) mUnchecked = t->picture(30);
                cPicture* p = (it->flags & sListViewDataItem::fChecked) ? mChecked : mUnchecked;
                if (p) c->drawBitmap(cx + (bw - p->width()) / 2, top + (h - p->height()) / 2, p, p->width(), p->height());
                cx += bw;
            }
            cPicture* pic = nullptr;
            if (it->image >= 0) {
                if (sel && mImages[2]) pic = mImages[2]->image(it->image);
                if (!pic && mImages[0]) pic = mImages[0]->image(it->image);
            }
            if (pic) {
                int bw = std::min(pic->width() + 4, x + w - cx);
                sRect box{cx, top, std::max(bw, 0), h};
                c->drawRect(&box, bg, bg);
                c->drawBitmap(cx + 2, top + (h - pic->height()) / 2, pic, pic->width(), pic->height());
                cx += std::max(bw, 0);
            }
            int tw = x + w - cx;
            if (tw > 0) {
                sRect area{cx, top, tw, h};
                c->drawRect(&area, bg, bg);
                unsigned int color = it->textColor != 0xFFFFFFFF ? it->textColor
                                     : col->value.color != 0xFFFFFFFF ? col->value.color : fg;
                c->setTextMode(col->value.font ? col->value.font : stdFont());
                c->setTextColors(color, bg);
                const char* s = it->text.get();
                if (s && *s)
                    c->drawTextLimited(cx + mTextPadding, top, std::max(tw - mTextPadding, 0), h, col->value.align,
                                       true, 0, 0, s, -1, nullptr, false);
            }
            if (sel && !mFullRow) {
                unsigned int fc = focus ? mSelBorder : mSelBorderU;
                c->setLineMode(fc, 1);
                sPoint a{x, top}, b{x, top + h - 1};
                c->drawLine(&a, &b);
                a = {x + w - 1, top};
                b = {x + w - 1, top + h - 1};
                c->drawLine(&a, &b);
                a = {x, top + h - 1};
                b = {x + w, top + h - 1};
                c->drawLine(&a, &b);
                if (!aboveSelected) {
                    a = {x, top};
                    b = {x + w, top};
                    c->drawLine(&a, &b);
                }
            }
        }
        x += w;
        int sw = mHeader.splitReservedWidth();
        sRect gap{x, top, sw, h};
        c->drawRect(&gap, rowBg, rowBg);
        x += sw;
    }
    if (x < width() - 1) {
        sRect rest{x, top, width() - 1 - x, h};
        c->drawRect(&rest, rowBg, rowBg);
    }
}

void cListViewChild::onPaintArea(cCanvas* c) {
    sLock l(mData.lock());
    sRect inner{1, 1, std::max(width() - 2, 0), std::max(height() - 2, 0)};
    c->clip(&inner);
    const int top = headerShownHeight();
    int y = top;
    auto* n = mLayout.find_le(shiftY() + top);
    if (n && n->key + n->value.height <= shiftY() + top) n = mLayout.next(n);
    bool aboveSelected = false;
    if (n) {
        auto* p = mLayout.prev(n);
        int f = p ? mData.flags(p->value.rowId) : -1;
        aboveSelected = f > 0 && (f & sListViewDataItem::fSelected);
    }
    for (; n; n = mLayout.next(n)) {
        int rowTop = n->key - shiftY();
        if (rowTop >= height()) break;
        cListViewData::Row* cells = mData.rowLocked(n->value.rowId);
        if (!cells) continue;
        paintRow(c, rowTop, n->value.height, *cells, aboveSelected);
        int f = cells->first() ? cells->first()->value.flags : 0;
        aboveSelected = f & sListViewDataItem::fSelected;
        y = rowTop + n->value.height;
    }
    y = std::max(y, top);
    if (y < height() - 1) {
        sRect below{1, y, std::max(width() - 2, 0), height() - 1 - y};
        c->drawRect(&below, mBg, mBg);
    }
    if (mData.getRowCount() == 0 && text() && *text()) {
        c->setTextMode(stdFont());
        c->setTextColors(currentThemeValues()->color(5), mBg);
        c->drawTextLimited(5, 10 + top, width() - 11, 20, cCanvas::taCenter, true, 0, 0, text(), -1, nullptr, false);
    }
    c->unclip(&inner);
}

void cListViewChild::onPaint(cCanvas* canvas) {
    cScrollableElement::onPaint(canvas);
    sRect frame{0, 0, width(), height()};
    canvas->setLineMode(mBorder, 1);
    sPoint a{0, 0}, b{width() - 1, 0};
    canvas->drawLine(&a, &b);
    a = {width() - 1, height() - 1};
    canvas->drawLine(&b, &a);
    b = {0, height() - 1};
    canvas->drawLine(&a, &b);
    a = {0, 0};
    canvas->drawLine(&b, &a);
    (void)frame;
}
