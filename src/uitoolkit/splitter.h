// Splitters: child elements side by side (cSplitterChild, left to right) or
// stacked (cVSplitterChild, top to bottom) under caller-chosen indices, with
// a draggable bar between neighbours.  Sizes are fractions of the splitter's
// length (scalable mode) or pixels (fixed mode, where the splitter follows
// the sum of its items and asks its parent to resize it, code 6).  Every
// change of the items' layout is told to the parent as code 7.
//
// Both twins share one implementation that works along an axis: "length" is
// the extent along it, "breadth" the other one.
#pragma once

#include "base/treelist.h"
#include "uitoolkit/element.h"

class cSplitterBase : public cChildElement {
public:
    class cResizeRequestAction : public cChildAction {
    public:
        explicit cResizeRequestAction(int len) : cChildAction(6), length(len) {}
        int length;
    };

    // Code 7 after the user dragged a bar: the dragged item and the sizes
    // (as storedSize keeps them) that it and the item after it took.
    class cBarDraggedAction : public cChildAction {
    public:
        cBarDraggedAction(int item, double itemSize, double sizeAfter)
            : cChildAction(7), index(item), size(itemSize), nextSize(sizeAfter) {}
        int index;
        double size, nextSize;
    };

    using cChildElement::attach;
    bool attach(int index, cChildElement* child, int size);
    bool resizeItem(int index, int size);
    int itemSize(int index);
    // What an item's size is kept as: its fraction of the length in
    // scalable mode, pixels in fixed mode; 0 when the item or its entry is
    // missing.  Owners that lay several splitters out alike copy it.
    double storedSize(int index);
    // Sets what storedSize answers and lays the items out as resizeItem
    // does; false for a missing item or entry or a value that is negative
    // or not a number.
    bool setStoredSize(int index, double value);
    cChildElement* item(int index);
    void setScalable(bool s) { mFixed = !s; }
    bool scalable() const { return !mFixed; }
    void setMinSplittingSize(int size, cChildElement* filler);
    void fix(bool locked);
    bool locked() const { return mLocked; }
    void rebuild(int from);
    int draggedIndex() const { return mDrag; }

    bool dettach(cChildElement* child) override;
    void onInitData() override;
    void onSizeChanged() override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    bool wantAcceptFoucs() override { return true; }

protected:
    explicit cSplitterBase(bool vertical) : mVertical(vertical) {}
    int length() const { return mVertical ? height() : width(); }
    int breadth() const { return mVertical ? width() : height(); }
    int lenOf(cChildElement* c) const;
    int minOf(cChildElement* c) const { return mVertical ? c->minHeight() : c->minWidth(); }
    void place(cChildElement* c, int at, int len);
    void resizeSelf(int len);
    int split() const { return mVertical ? 3 : mSplitWidth; }

    const bool mVertical;
    cFasterTreeList<int, cChildElement*> mItems;
    cFasterTreeList<int, double> mSizes;
    bool mFixed = false;
    int mDrag = -1, mPressPos = 0, mDragLeft = 0, mRightLimit = 0;
    int mMinSplit = 0;
    cChildElement* mFiller = nullptr;
    bool mLocked = false;
    unsigned int mSecond = 0, mFirst = 0;
    int mTrimTop = 0, mTrimBottom = 0;
    int mSplitWidth = 3;
    bool mInRebuild = false;
};

class cSplitterChild : public cSplitterBase {
public:
    cSplitterChild() : cSplitterBase(false) {}
    void setSplitWidth(int w);
    void setLineTrims(int top, int bottom);
    void setColors(unsigned int first, unsigned int second);
    int splitReservedWidth() const { return mSplitWidth; }
    void onPaint(cCanvas* canvas) override;
    eMousePointerTypes defaultPointer() override { return mptSizeWE; }
};

class cVSplitterChild : public cSplitterBase {
public:
    cVSplitterChild() : cSplitterBase(true) {}
    void setColors(unsigned int first, unsigned int second) {
        mFirst = first;
        mSecond = second;
    }
    int splitReservedHeight() const { return 3; }
    void onPaint(cCanvas* canvas) override;
    eMousePointerTypes defaultPointer() override { return mptSizeNS; }
};
