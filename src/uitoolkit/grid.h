// cSimpleGridChild: equal cells in lines that wrap with the element's
// width.  The user picks one with the pointer or the arrow keys; picks and
// activations are notified as cCellAction.  A subclass supplies the cell
// count, the cell geometry and a painter for one cell; the grid scrolls
// vertically.
#pragma once

#include "uitoolkit/scrollable.h"

class cSimpleGridChild : public cScrollableElement {
public:
    // code 6: the cell was selected (-1: the selection was cleared);
    // code 7: the cell was activated.
    class cCellAction : public cChildAction {
    public:
        cCellAction(int code, int at) : cChildAction(code), cell(at) {}
        int cell;
    };
    enum { kSelected = 6, kActivated = 7 };

    virtual void paintElement(cCanvas* canvas, int cell, bool selected) = 0;
    virtual int cellWidth() = 0;
    virtual int cellHeight() = 0;
    virtual int numCells() = 0;
    virtual int cellSpacing() = 0;
    virtual int maxSpacing() = 0;
    // False: Left and Right stop at the ends of a line.
    virtual bool lrChangesLine() { return false; }

    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }

    void notifyGridChanged(bool repaint);
    int hitCell(int x, int y);
    bool cellRect(int cell, sRect& r);
    bool scrollToCell(int cell);
    void selectCell(int cell, bool notify);
    void setBgColor(unsigned int c) { mBg = c; }

    int columns() const { return mColumns; }
    int lines() const { return mLines; }
    int count() const { return mCount; }
    int selected() const { return mSelected; }
    int gap() const { return mGap; }
    int spacing() const { return mSpacing; }
    unsigned int bgColor() const { return mBg; }

    void onInitData() override;
    void onSizeChanged() override;
    void onPaintArea(cCanvas* canvas) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseDoubleClick(int x, int y) override;
    bool onAction(cChildElement* src, cChildAction* a) override;

private:
    // Moves the selection by a key: selects, notifies code 6, repaints.
    void keyMove(int cell);

    int mColumns = 0;
    int mLines = 0;
    int mCount = 0;
    int mSelected = -1;
    int mGap = 0;
    int mSpacing = 0;
    unsigned int mBg = 0xFFFFFF;
};
