#include "uitoolkit/grid.h"

#include <climits>
#include <vector>

namespace {

int clampInt(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// Floor division for the offsets, which are zero or negative scroll shifts
// turned around; the step is always positive here.
long long floorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

void cSimpleGridChild::onInitData() {
    cScrollableElement::onInitData();
    mColumns = 0;
    mCount = 0;
    mGap = 0;
    mLines = 0;
    mSelected = -1;
    mSpacing = cellSpacing();
    if (mSpacing < 0) mSpacing = 0;
    setQuantumSize(cellSpacing(), cellHeight() + mSpacing);
    setMinVisualWidth(cellWidth() > 0 ? cellWidth() : 0);
    notifyGridChanged(false);
    mBg = 0xFFFFFF;
}

void cSimpleGridChild::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    notifyGridChanged(true);
}

void cSimpleGridChild::notifyGridChanged(bool repaintIt) {
    bool changed = false;
    int n = numCells();
    if (n < 0) n = 0;
    if (n != mCount) {
        mSelected = -1;
        mCount = n;
        changed = true;
    }
    const int oldColumns = mColumns, oldLines = mLines, oldGap = mGap;
    sSize vs{0, 0};
    virtualSize(&vs);
    const long long W = vs.w;
    const long long cw = cellWidth();
    const long long ch = cellHeight();
    int lines = 0;
    if (n == 0) {
        mColumns = 0;
        mGap = 0;
    } else if (cw <= 0 || ch <= 0 || W < cw) {
        // A cell of no width or height has no place (and would make every
        // step below a division by zero); neither does one wider than the
        // view.
        mColumns = 0;
        mGap = 0;
        mSelected = -1;
    } else {
        const long long q = W / (mSpacing + cw);
        const long long cols = (2 * q + 1) * cw <= W ? q + 1 : q;
        mColumns = clampInt(cols < 1 ? 1 : cols);
        if (mColumns > 1) {
            const long long g = (W - cw * mColumns) / (mColumns - 1);
            const long long mx = maxSpacing();
            mGap = clampInt(g < mx ? g : mx);
            if (mGap < 0) mGap = 0;
        } else {
            mGap = 0;
        }
        lines = clampInt((static_cast<long long>(mCount) + mColumns - 1) / mColumns);
    }
    if (lines != mLines || n == 0) {
        mLines = lines;
        const long long h = lines > 0 ? (mSpacing + ch) * lines : 0;
        setMinVisualHeight(clampInt(h));
    }
    changed = changed || oldColumns != mColumns || oldLines != mLines || oldGap != mGap;
    if (changed && repaintIt) repaint(nullptr);
}

int cSimpleGridChild::hitCell(int x, int y) {
    const long long cw = cellWidth(), ch = cellHeight();
    if (mColumns <= 0 || mCount <= 0 || cw <= 0 || ch <= 0) return -1;
    sPoint off{0, 0};
    virtualOffset(&off);
    const long long cx = static_cast<long long>(x) - off.x;
    const long long cy = static_cast<long long>(y) - off.y;
    if (cx < 0 || cy < 0) return -1;
    const long long column = cx / (mGap + cw);
    const long long left = mGap / 2 + (mGap + cw) * column;
    if (column >= mColumns || column >= mCount || cx < left || cx >= left + cw) return -1;
    const long long line = cy / (mSpacing + ch);
    const long long top = mSpacing / 2 + (mSpacing + ch) * line;
    if (cy < top || cy >= top + ch) return -1;
    const long long cell = line * mColumns + column;
    return cell < mCount ? static_cast<int>(cell) : -1;
}

bool cSimpleGridChild::cellRect(int cell, sRect& r) {
    if (cell < 0 || cell >= mCount || mColumns <= 0) return false;
    const long long cw = cellWidth(), ch = cellHeight();
    r.x = clampInt(mGap / 2 + (cw + mGap) * (cell % mColumns));
    r.y = clampInt(mSpacing / 2 + (ch + mSpacing) * (cell / mColumns));
    r.w = clampInt(cw);
    r.h = clampInt(ch);
    return true;
}

bool cSimpleGridChild::scrollToCell(int cell) {
    sRect r;
    if (!cellRect(cell, r)) return false;
    adjustScrollTo(r, false, false);
    return true;
}

void cSimpleGridChild::selectCell(int cell, bool notify) {
    if (cell < 0 || cell >= mCount || cell == mSelected) return;
    mSelected = cell;
    if (notify)
        notifyAction(new cCellAction(kSelected, cell));
    else
        scrollToCell(cell);
    repaint(nullptr);
}

void cSimpleGridChild::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    sRect client;
    clientRect(&client);
    const long long cw = cellWidth(), ch = cellHeight();
    if (mCount <= 0 || mColumns <= 0 || cw <= 0 || ch <= 0) {
        canvas->drawRect(&client, mBg, mBg);
        return;
    }
    sPoint off{0, 0};
    virtualOffset(&off);
    const long long vstep = mSpacing + ch, hstep = mGap + cw;
    const long long right = static_cast<long long>(client.x) + client.w;
    const long long bottom = static_cast<long long>(client.y) + client.h;

    // The first line (column) whose cells reach into the view.
    long long line = floorDiv(-static_cast<long long>(off.y), vstep);
    if (line * mSpacing + (line + 1) * ch <= -static_cast<long long>(off.y)) ++line;
    long long firstCol = floorDiv(-static_cast<long long>(off.x), hstep);
    if (firstCol * mGap + (firstCol + 1) * cw <= -static_cast<long long>(off.x)) ++firstCol;
    if (line < 0) line = 0;
    if (firstCol < 0) firstCol = 0;

    struct sVisible {
        int cell;
        sRect r;
    };
    std::vector<sVisible> cells;
    for (long long y = mSpacing / 2 + off.y + vstep * line; y < bottom && line < mLines; ++line, y += vstep) {
        long long col = firstCol;
        for (long long x = mGap / 2 + off.x + hstep * col; x < right && col < mColumns; ++col, x += hstep) {
            const long long cell = line * mColumns + col;
            if (cell >= mCount) break;
            cells.push_back({static_cast<int>(cell), {clampInt(x), clampInt(y), clampInt(cw), clampInt(ch)}});
        }
    }

    for (sVisible& v : cells) canvas->clip(&v.r);
    canvas->select();
    canvas->drawRect(&client, mBg, mBg);
    for (sVisible& v : cells) canvas->unclip(&v.r);
    canvas->select();

    cCanvas* back = canvas->offscreen(static_cast<int>(cw), static_cast<int>(ch), -1, -1);
    if (!back) return;
    for (const sVisible& v : cells) {
        paintElement(back, v.cell, v.cell == mSelected);
        canvas->draw(v.r.x, v.r.y, back, 0, 0, -1, -1);
    }
    delete back;
}

void cSimpleGridChild::keyMove(int cell) {
    mSelected = cell;
    notifyAction(new cCellAction(kSelected, cell));
    repaint(nullptr);
}

void cSimpleGridChild::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (shift || ctrl || alt || mColumns <= 0 || mCount <= 0) return;
    const int sel = mSelected;
    const int last = mCount - 1;
    const bool lr = lrChangesLine();
    switch (key) {
    case 0x150:  // Home
    case 0x155:  // Page Up
        if (sel > 0) keyMove(0);
        break;
    case 0x157:  // End
    case 0x156:  // Page Down
        if (sel < last) keyMove(last);
        break;
    case 0x151:  // Left
        if (sel < 0) break;
        if (lr ? sel == 0 : sel % mColumns == 0) break;
        keyMove(sel - 1);
        break;
    case 0x153:  // Right
        if (sel < 0) {
            keyMove(0);
            break;
        }
        if (lr ? mColumns == 1 : sel % mColumns == mColumns - 1) break;
        if (sel >= last) break;
        keyMove(sel + 1);
        break;
    case 0x152:  // Up
        if (sel < mColumns) break;   // none selected, or the first line
        keyMove(sel - mColumns);
        break;
    case 0x154:  // Down
        if (sel < 0) {
            keyMove(0);
            break;
        }
        if (static_cast<long long>(sel) + mColumns > last) break;
        keyMove(sel + mColumns);
        break;
    case 32:
    case 0x18D:  // keypad Enter
        if (sel >= 0) notifyAction(new cCellAction(kActivated, sel));
        break;
    default:
        break;
    }
}

bool cSimpleGridChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != 1 || !down) return false;
    const int cell = hitCell(x, y);
    if (cell != mSelected) {
        mSelected = cell;
        notifyAction(new cCellAction(kSelected, cell));
        repaint(nullptr);
    }
    return true;
}

void cSimpleGridChild::onMouseDoubleClick(int x, int y) {
    const int cell = hitCell(x, y);
    if (cell < 0) return;
    notifyAction(new cCellAction(kActivated, cell));
    if (cell != mSelected) {
        mSelected = cell;
        repaint(nullptr);
    }
}

bool cSimpleGridChild::onAction(cChildElement* src, cChildAction* a) {
    if (src == this && a && a->code() == kSelected) {
        if (auto* c = dynamic_cast<cCellAction*>(a))
            if (c->cell >= 0) scrollToCell(c->cell);
    }
    return cScrollableElement::onAction(src, a);
}
