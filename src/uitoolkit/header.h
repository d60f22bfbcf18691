// cHeaderChild: the row of column buttons above a list, in ascending column
// id, resizable by dragging the bars between them (a fixed-mode splitter),
// with a disabled filler button covering the space right of the last column.
// A click on a column button is told to the parent as code 8.
#pragma once

#include "uitoolkit/button.h"
#include "uitoolkit/splitter.h"

class cHeaderChild : public cSplitterChild {
public:
    class cColumnClickAction : public cChildAction {
    public:
        explicit cColumnClickAction(int c) : cChildAction(8), column(c) {}
        int column;
    };

    cHeaderChild() = default;
    ~cHeaderChild() override;

    bool setColumn(int col, const char* text, int width, cCanvas::eTextAlign align);
    int columnWidth(int col);
    int columnAlign(int col);
    cButtonChild* column(int col) { return mColumns.find(col); }
    cButtonChild* filler() { return &mFiller; }
    void setMinButtonsWidth(int w) { setMinSplittingSize(w, &mFiller); }

    void onInitData() override;
    bool onAction(cChildElement* src, cChildAction* a) override;

private:
    cButtonChild mFiller;
    cFasterTreeList<int, cButtonChild> mColumns;
};
