#include "uitoolkit/header.h"

#include "uitoolkit/themevalues.h"

namespace {
int headerHeight() {
    int v = 0, lo = 0, hi = 0;
    currentThemeValues()->dimension(23, v, lo, hi);
    return v;
}
}  // namespace

cHeaderChild::~cHeaderChild() {
    // The buttons die with the tree: leave them out of the element tree first.
    for (auto* n = mColumns.first(); n; n = mColumns.next(n)) cChildElement::dettach(&n->value);
    cChildElement::dettach(&mFiller);
}

void cHeaderChild::onInitData() {
    cSplitterChild::onInitData();
    int h = headerHeight();
    setMinSize(1, h);
    setMaxSize(0x7FFFFFFF, h);
    setScalable(false);
    cChildElement::attach(&mFiller, width(), 0, 1, 1);
    mFiller.setBorder(cButtonChild::bdSingle, false);
    mFiller.disable(false);
}

bool cHeaderChild::setColumn(int col, const char* text, int width, cCanvas::eTextAlign align) {
    cButtonChild* b = mColumns.find(col);
    if (!b) {
        b = mColumns.insert(col);
        if (!attach(col, b, width)) {
            mColumns.dettach(col);
            return false;
        }
        b->setBorder(cButtonChild::bdSingle, false);
        b->setAcceptFocus(false);
    }
    if (text) b->setText(text, -1, true);
    if (b->align() != align) b->setAlign(align, true);
    resizeItem(col, width);
    return true;
}

int cHeaderChild::columnWidth(int col) {
    cButtonChild* b = mColumns.find(col);
    return b ? b->width() : 0;
}

int cHeaderChild::columnAlign(int col) {
    cButtonChild* b = mColumns.find(col);
    return b ? b->align() : 0;
}

bool cHeaderChild::onAction(cChildElement* src, cChildAction* a) {
    if (a->code() == 0) {
        for (auto* n = mColumns.first(); n; n = mColumns.next(n)) {
            if (&n->value == src) {
                notifyAction(new cColumnClickAction(n->key));
                return true;
            }
        }
    }
    return cSplitterChild::onAction(src, a);
}
