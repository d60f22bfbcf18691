#include "uitoolkit/treeview.h"

#include "uitoolkit/themevalues.h"

#include <climits>
#include <cstring>

namespace {

const unsigned int kNone = 0xFFFFFFFFu;

unsigned int themeColor(int i) {
    cThemeValues* t = currentThemeValues();
    return t ? t->color(i) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Item line and indicator

void cTreeItemElement::onChar(unsigned short ch, bool a, bool b, bool c) {
    if (ch == '+') {
        notifyAction(8);
        return;
    }
    if (ch == '-') {
        notifyAction(9);
        return;
    }
    cSelectableElement::onChar(ch, a, b, c);
}

void cTreeItemElement::onKey(int key, bool shift, bool ctrl, bool alt) {
    if (key == 0x1AB) {
        notifyAction(8);
        return;
    }
    if (key == 0x1AD) {
        notifyAction(9);
        return;
    }
    cSelectableElement::onKey(key, shift, ctrl, alt);
}

void cTreeViewControlElement::setKind(eCtlKind kind, bool repaintIt) {
    if (kind == mKind) return;
    mKind = kind;
    static const int pictures[] = {-1, 70, 71, 69, 68};
    cThemeValues* t = currentThemeValues();
    const int p = pictures[kind];
    setImage(p >= 0 && t ? t->picture(p) : nullptr, repaintIt);
    setPointer(isActive() ? mptHand : mptArrow);
}

bool cTreeViewControlElement::onMouseButton(int, int, int button, bool down) {
    if (button == 1 && down && isActive()) {
        notifyAction(0);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Items

cTreeViewChild::cTreeViewItem::~cTreeViewItem() {
    delete element;
    delete control;
}

cTreeViewChild::cTreeViewChild() = default;

cTreeViewChild::~cTreeViewChild() {
    // The elements die with their items: leave the window's pointers and
    // our child list first.
    for (cTreeItem* i = mItems.root; i; i = i->next) dropElements(static_cast<cTreeViewItem*>(i), true);
    mItems.destroy();
}

void cTreeViewChild::onInitData() {
    cScrollableElement::onInitData();
    mBatch = mPending = false;
    for (cTreeItem* i = mItems.root; i; i = i->next) dropElements(static_cast<cTreeViewItem*>(i), true);
    mItems.destroy();
    mElements.clear();
    mControls.clear();
    setPageSize(width(), height());
    mOutline = 16;
    mIndicatorW = 16;
    mSpacing = mCellSpacing = 0;
    mLists[0] = mLists[1] = mLists[2] = nullptr;
    mHScroll = true;
    mSelected = nullptr;
    mUnfocusedItem = nullptr;
    mBg = themeColor(14);
    mFrame = themeColor(21);
    mUnfocused[0] = themeColor(4);
    mUnfocused[1] = themeColor(18);
    mUnfocused[2] = themeColor(26);
    mStd[0] = themeColor(4);
    mStd[1] = themeColor(14);
    mStd[2] = themeColor(14);
}

void cTreeViewChild::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    setPageSize(width(), height());
}

void cTreeViewChild::changedLayout() {
    if (mBatch)
        mPending = true;
    else
        build();
}

void cTreeViewChild::endChanges() {
    mBatch = false;
    if (mPending) {
        mPending = false;
        build();
    }
}

bool cTreeViewChild::storeUnder(cTreeViewItem* parent, cTreeViewItem* item, cTreeViewItem* after) {
    if (!item) return false;
    mItems.add(parent, item, after);
    changedLayout();
    return true;
}

bool cTreeViewChild::storeUnderFirst(cTreeViewItem* parent, cTreeViewItem* item) {
    if (!item) return false;
    mItems.addFirst(parent, item);
    changedLayout();
    return true;
}

void cTreeViewChild::dropElements(cTreeViewItem* item, bool withItem) {
    if (!item) return;
    for (cTreeItem* c = item->first; c; c = c->next) dropElements(static_cast<cTreeViewItem*>(c), true);
    if (!withItem) return;
    if (item == mSelected) mSelected = nullptr;
    if (item == mUnfocusedItem) mUnfocusedItem = nullptr;
    if (item->element) {
        mElements.erase(item->element);
        if (isDirectChild(item->element)) dettach(item->element);
    }
    if (item->control) {
        mControls.erase(item->control);
        if (isDirectChild(item->control)) dettach(item->control);
    }
}

bool cTreeViewChild::remove(cTreeViewItem* item) {
    if (!item || item->owner != &mItems) return false;
    mSelected = nullptr;
    dropElements(item, true);
    mItems.remove(item);
    changedLayout();
    return true;
}

bool cTreeViewChild::remove_under(cTreeViewItem* item) {
    if (!item) return clear();
    if (item->owner != &mItems) return false;
    mSelected = nullptr;
    dropElements(item, false);
    mItems.destroy_sub(item);
    changedLayout();
    return true;
}

bool cTreeViewChild::clear() {
    if (!mItems.root) return false;
    mSelected = nullptr;
    for (cTreeItem* i = mItems.root; i; i = i->next) dropElements(static_cast<cTreeViewItem*>(i), true);
    mItems.destroy();
    mElements.clear();
    mControls.clear();
    changedLayout();
    return true;
}

cTreeViewChild::cTreeViewItem* cTreeViewChild::find(void* association) { return find(root(), association); }

cTreeViewChild::cTreeViewItem* cTreeViewChild::find(cTreeViewItem* from, void* association) {
    for (cTreeViewItem* i = from; i; i = getNextUnderItm(i)) {
        if (i->association == association) return i;
        if (cTreeViewItem* f = find(getUnderItm(i), association)) return f;
    }
    return nullptr;
}

cTreeViewChild::cTreeViewItem* cTreeViewChild::isChild(cChildElement* e) const {
    auto it = mElements.find(e);
    return it == mElements.end() ? nullptr : it->second;
}

cTreeViewChild::cTreeViewItem* cTreeViewChild::isCtl(cChildElement* e) const {
    auto it = mControls.find(e);
    return it == mControls.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Layout

void cTreeViewChild::build() {
    mPending = false;
    int y = 1, right = 0, minLine = height();
    buildTreeRec(root(), 1, true, y, right, minLine);
    // The lines lie inside the border, which the content's size counts: the
    // last line and the widest one can then be scrolled wholly into view.
    const int b = mBorderWidth;
    setMinVisualHeight(y > INT_MAX - b ? INT_MAX : y + b);
    if (mHScroll) setMinVisualWidth(right > INT_MAX - b ? INT_MAX : right + b);
    setQuantumSize(5, mSpacing + (minLine > 0 ? minLine : 1));
    repaint(nullptr);
}

void cTreeViewChild::buildTreeRec(cTreeViewItem* first, int level, bool visible, int& y, int& right, int& minLine) {
    for (cTreeViewItem* item = first; item; item = getNextUnderItm(item)) {
        if (!item->element) {
            item->element = newTreeItemElement(item);
            item->control = newTreeViewControlElement(item);
            attach(item->element, 0, 0, 1, 1);
            attach(item->control, 0, 0, 1, 1);
            item->element->setDoubleBuffer(true);
            item->control->setDoubleBuffer(true);
            item->element->setArrowTabStop(true);
            mElements[item->element] = item;
            mControls[item->control] = item;
            onElementAttach(item, item->element);
        }
        cTreeItemElement* e = item->element;
        cTreeViewControlElement* c = item->control;
        const char* t = item->text.get();
        if (!e->text() || !t || std::strcmp(e->text(), t) != 0) e->setText(t ? t : "", -1, false);
        if (item->imageIndex >= 0) {
            cPicture* pics[3];
            for (int k = 0; k < 3; ++k) pics[k] = mLists[k] ? mLists[k]->image(item->imageIndex) : nullptr;
            e->setImages(pics[0], pics[1], pics[2], false);
        }
        if (visible) {
            sSize s{0, 0};
            e->wantsSize(&s);
            const long long w = static_cast<long long>(s.w) + mCellSpacing;
            const long long h = static_cast<long long>(s.h) + mCellSpacing;
            const long long x = 1 + static_cast<long long>(mIndicatorW) + static_cast<long long>(mOutline) * (level - 1);
            const int wi = w > INT_MAX ? INT_MAX : static_cast<int>(w);
            const int hi = h > INT_MAX ? INT_MAX : static_cast<int>(h);
            const int xi = x > INT_MAX ? INT_MAX : static_cast<int>(x);
            e->move(xi, y, wi, hi);
            c->move(xi - mIndicatorW, y, mIndicatorW, hi);
            c->setTextMargin(mCellSpacing / 2);
            const long long ny = static_cast<long long>(y) + hi + mSpacing;
            y = ny > INT_MAX ? INT_MAX : static_cast<int>(ny);
            if (x + w > right) right = x + w > INT_MAX ? INT_MAX : static_cast<int>(x + w);
            if (hi < minLine) minLine = hi;
            e->setBgColorStd(item == mUnfocusedItem ? mUnfocused[1] : mBg);
            c->setBgColor(mBg);
            c->setFrameColor(mBg);
            if (item->textColor != kNone) e->setTxtColorStd(item->textColor);
            e->show(false);
            c->show(false);
        } else {
            e->hide(false);
            c->hide(false);
        }
        if (isSub(item)) {
            buildTreeRec(getUnderItm(item), level + 1, visible && !item->collapsed, y, right, minLine);
            c->setKind(item->collapsed ? cTreeViewControlElement::ckCollapsed : cTreeViewControlElement::ckExpanded,
                       false);
        } else {
            // Children no longer counted as a branch are hidden with it.
            if (item->first) buildTreeRec(getUnderItm(item), level + 1, false, y, right, minLine);
            c->setKind(item->next ? cTreeViewControlElement::ckLeaf : cTreeViewControlElement::ckLastLeaf, false);
        }
    }
}

// ---------------------------------------------------------------------------
// Expanding and selecting

void cTreeViewChild::expandItem(cTreeViewItem* item, bool read, bool notify) {
    item->collapsed = false;
    if (mBatch) {
        mPending = true;
    } else {
        if (read) processSubRead(item);
        build();
    }
    if (notify) notifyAction(new cTreeItemAction(9, item));
}

bool cTreeViewChild::expand(cTreeViewItem* item, bool notify) {
    if (!item || !item->collapsed || !item->element || !isSub(item)) return false;
    expandItem(item, true, notify);
    return true;
}

bool cTreeViewChild::collapse(cTreeViewItem* item, bool notify) {
    if (!item || item->collapsed || !item->element || !isSub(item)) return false;
    item->collapsed = true;
    changedLayout();
    if (notify) notifyAction(new cTreeItemAction(9, item));
    return true;
}

void cTreeViewChild::showUnfocused(cTreeViewItem* item) {
    if (!item || !item->element) return;
    item->element->getStdColorSchema(&mSaved[0], &mSaved[1], &mSaved[2]);
    unsigned int s[3];
    for (int k = 0; k < 3; ++k) s[k] = mUnfocused[k] == kNone ? mSaved[k] : mUnfocused[k];
    item->element->setStdColorSchema(s[0], s[1], s[2]);
    mUnfocusedItem = item;
}

void cTreeViewChild::restoreUnfocused() {
    if (mUnfocusedItem && mUnfocusedItem->element)
        mUnfocusedItem->element->setStdColorSchema(mSaved[0], mSaved[1], mSaved[2]);
    mUnfocusedItem = nullptr;
}

bool cTreeViewChild::select(cTreeViewItem* item, bool focusIt) {
    if (!item || !item->element) return false;
    mSelected = item;
    if (focusIt) {
        item->element->focus();
    } else {
        restoreUnfocused();
        showUnfocused(item);
        scrollToChild(item->element);
    }
    return true;
}

void cTreeViewChild::deselect(unsigned int text) {
    if (mSelected && mSelected->element) {
        if (mSelected == mUnfocusedItem) mUnfocusedItem = nullptr;
        mSelected->element->setStdColorSchema(text == kNone ? mStd[0] : text, mStd[1], mStd[2]);
        mSelected->element->deselect();
    }
    mSelected = nullptr;
}

bool cTreeViewChild::selectRoot() {
    cTreeViewItem* r = root();
    if (!r || !r->element) return false;
    selectItem(r);
    return true;
}

// Makes the item's element the focused one and reports the item as the
// selected one (a focus moved by us is not reported by the element).
void cTreeViewChild::selectItem(cTreeViewItem* item) {
    if (!item || !item->element || !item->element->visible_child()) return;
    if (mSelected != item) {
        mSelected = item;
        notifyAction(new cTreeItemAction(7, item));
    }
    item->element->focus();
}

// ---------------------------------------------------------------------------
// Actions, keys and focus

bool cTreeViewChild::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    if (cTreeViewItem* item = isChild(src)) {
        switch (a->code()) {
        case 2:
            if (auto* c = dynamic_cast<cCtxRequestAction*>(a)) {
                sRect r;
                childRect(src, &r);
                notifyAction(new cTreeItemCtxAction(item, r.x - shiftX() + c->x, r.y - shiftY() + c->y));
                return true;
            }
            break;
        case 6:
            if (mSelected != item) {
                mSelected = item;
                notifyAction(new cTreeItemAction(7, item));
            }
            return true;
        case 7:
            notifyAction(new cTreeItemAction(6, item));
            return true;
        case 8:
            // Only a branch expands: a leaf has nothing to show.
            if (item->collapsed && isSub(item)) expandItem(item, true, true);
            return true;
        case 9:
            if (!item->collapsed && isSub(item)) collapse(item, true);
            return true;
        default:
            break;
        }
        return cScrollableElement::onAction(src, a);
    }
    if (cTreeViewItem* item = isCtl(src)) {
        if (a->code() == 0) {
            processSubRead(item);
            if (item->first) {
                item->collapsed = !item->collapsed;
                build();
                selectItem(item);
                notifyAction(new cTreeItemAction(9, item));
            }
            return true;
        }
    }
    return cScrollableElement::onAction(src, a);
}

bool cTreeViewChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    const bool arrow = key >= 0x151 && key <= 0x154;
    if (arrow && !shift && !alt) {
        cTreeViewItem* s = mSelected;
        if (!s) {
            selectItem(root());
            return true;
        }
        cTreeViewItem* to = nullptr;
        if (ctrl) {
            if (key == 0x152) to = static_cast<cTreeViewItem*>(s->prev);
            else if (key == 0x154) to = getNextUnderItm(s);
            else return cScrollableElement::processKey(key, shift, ctrl, alt);
        } else if (key == 0x151) {
            to = parentItem(s);
        } else if (key == 0x152) {
            if (s->prev) {
                to = static_cast<cTreeViewItem*>(s->prev);
                while (!to->collapsed && to->last && isSub(to)) to = static_cast<cTreeViewItem*>(to->last);
            } else {
                to = parentItem(s);
            }
        } else if (key == 0x153) {
            if (isSub(s)) {
                if (s->collapsed) expandItem(s, true, false);
                to = getUnderItm(s);
            }
        } else {  // Down
            if (!s->collapsed && s->first && isSub(s)) {
                to = getUnderItm(s);
            } else {
                for (cTreeViewItem* i = s; i && !to; i = parentItem(i)) to = getNextUnderItm(i);
            }
        }
        if (to) selectItem(to);
        return true;
    }
    return cScrollableElement::processKey(key, shift, ctrl, alt);
}

void cTreeViewChild::onSetFocus(bool, bool) {
    if (mSelected && mSelected->element)
        mSelected->element->focus();
    else
        selectRoot();
}

void cTreeViewChild::processFocus(int x, int y, int button, bool m1, bool m2) {
    restoreUnfocused();
    cScrollableElement::processFocus(x, y, button, m1, m2);
}

void cTreeViewChild::processFocusDirect(cChildElement* target) {
    restoreUnfocused();
    cScrollableElement::processFocusDirect(target);
}

void cTreeViewChild::processFocusLost(bool a, bool b) {
    cScrollableElement::processFocusLost(a, b);
    if (mSelected && mSelected->element && mUnfocusedItem != mSelected) {
        restoreUnfocused();
        showUnfocused(mSelected);
    }
}

// ---------------------------------------------------------------------------
// Settings and painting

void cTreeViewChild::setOutline(int v) {
    if (v == mOutline) return;
    mOutline = v;
    changedLayout();
}
void cTreeViewChild::setSpacing(int v) {
    if (v == mSpacing) return;
    mSpacing = v;
    changedLayout();
}
void cTreeViewChild::setCellSpacing(int v) {
    if (v == mCellSpacing) return;
    mCellSpacing = v;
    changedLayout();
}
void cTreeViewChild::setStructIndicatorWidth(int v) {
    if (v == mIndicatorW) return;
    mIndicatorW = v;
    changedLayout();
}
void cTreeViewChild::setBgColor(unsigned int c) {
    if (c == mBg) return;
    mBg = c;
    changedLayout();
}
void cTreeViewChild::setFrmColor(unsigned int c) {
    if (c == mFrame) return;
    mFrame = c;
    repaint(nullptr);
}
void cTreeViewChild::setImageLists(cPicturesList* s, cPicturesList* h, cPicturesList* sel) {
    if (s == mLists[0] && h == mLists[1] && sel == mLists[2]) return;
    mLists[0] = s;
    mLists[1] = h;
    mLists[2] = sel;
    changedLayout();
}
void cTreeViewChild::setHScroll(bool on) {
    mHScroll = on;
    if (!on)
        setMinVisualWidth(0);
    else
        changedLayout();
}
void cTreeViewChild::setUnfocusedColors(unsigned int text, unsigned int bg, unsigned int frame) {
    mUnfocused[0] = text;
    mUnfocused[1] = bg;
    mUnfocused[2] = frame;
}
void cTreeViewChild::setStdColors(unsigned int text, unsigned int bg, unsigned int frame) {
    mStd[0] = text;
    mStd[1] = bg;
    mStd[2] = frame;
}

void cTreeViewChild::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    sRect r{0, 0, width(), height()};
    canvas->drawRect(&r, mBg, mFrame);
}
