#include "uitoolkit/combobox.h"

#include "uitoolkit/themevalues.h"

namespace {
constexpr int kKeyUp = 0x152, kKeyDown = 0x154, kKeyF4 = 0x1C1;
}

cComboBoxChild::cComboBoxChild() = default;

cComboBoxChild::~cComboBoxChild() {
    // The embedded children leave before the members that are them go.
    if (mEdit.parent() == this) dettach(&mEdit);
    if (mDrop.parent() == this) dettach(&mDrop);
}

void cComboBoxChild::onInitData() {
    cChildElement::onInitData();
    mPressed = false;
    mDDLimit = 100;
    mImages = nullptr;
    mSelected = -1;
    setMinSize(20, 19);
    setMaxSize(0x7FFFFFFF, 38);
    if (mEdit.parent() != this) attach(&mEdit, 0, 0, 1, 1);
    if (mDrop.parent() != this) attach(&mDrop, 0, 0, 1, 1);
    anchor(&mEdit, 0, 0, -20, -1);
    anchor(&mDrop, -20, 0, 19, -1);
    cThemeValues* theme = currentThemeValues();
    mEdit.setCursorForRO(false);
    mEdit.setBorderColor(3, theme->color(21));
    // One stop per box, and it is the edit field: the box itself holding the
    // focus would show none, and the arrow keys there would move the focus
    // on instead of stepping through the items.
    setTabStop(false);
    mDrop.setTabStop(false);
    mDrop.setTransparent(true);
    mDrop.image(0).refImage(theme->picture(28));
    mDrop.setBorder(cButtonChild::bdSingle, false);
}

void cComboBoxChild::allowEdit(bool allow) {
    mEdit.setPointer(allow ? mptIBeam : mptArrow);
    mEdit.setReadonly(!allow);
    mEdit.setSelectOnFocus(allow);
}

bool cComboBoxChild::setItem(int index, const char* t, void* a, int image) {
    if (index < 0) return false;
    sItem& it = mItems[index];
    it.text = t ? t : "";
    it.association = a;
    it.image = image;
    if (index == mSelected) showText(it.text);
    return true;
}

void* cComboBoxChild::association(int index) const {
    auto it = mItems.find(index);
    return it == mItems.end() ? nullptr : it->second.association;
}

const char* cComboBoxChild::text(int index) const {
    auto it = mItems.find(index);
    return it == mItems.end() ? nullptr : it->second.text.c_str();
}

void cComboBoxChild::remove(int index) {
    if (!mItems.erase(index)) return;
    // A selection must always name an item: the removed one is forgotten,
    // but the edit keeps showing its text.
    if (index == mSelected) mSelected = -1;
}

void cComboBoxChild::clear() {
    showText("");
    mSelected = -1;
    mItems.clear();
}

bool cComboBoxChild::select(int index, bool notify) {
    if (index < 0) {
        showText("");
        mSelected = -1;
        return true;
    }
    auto it = mItems.find(index);
    if (it == mItems.end()) return false;
    showText(it->second.text);
    mSelected = index;
    if (notify) notifyAction(kActionSelected);
    return true;
}

void cComboBoxChild::dropdown() {
    tActiveElementItems list;
    for (auto& kv : mItems) {
        sActiveElementItem* e = list.insert(kv.first);
        if (!e) return;
        e->text = kv.second.text.c_str();
        e->association = kv.second.association;
        e->image = kv.second.image;
    }
    sSize s{0, 0};
    if (!cPopupMaster::evalSize(this, list, mImages, s, nullptr)) return;
    sPoint at{0, 0};
    if (!absPos(at)) return;
    cPopupMaster::sPopupConfig cfg;
    cfg.pictures = mImages;
    cfg.selected = mSelected;
    cfg.bg = 0xFFFFFF;
    cfg.text = 0;
    cfg.border = cPopupMaster::kUnset;
    cfg.openerHeight = height();
    const int h = s.h < mDDLimit ? s.h : mDDLimit;
    const int r = cPopupMaster::runPopUp(this, list, at.x, at.y + height(), width(), h, cfg);
    if (r >= 0) select(r, true);
}

bool cComboBoxChild::step(bool down) {
    if (mSelected < 0) return true;
    auto cur = mItems.find(mSelected);
    if (cur == mItems.end()) {
        select(-1, true);
        return true;
    }
    if (down) {
        auto n = std::next(cur);
        if (n != mItems.end()) select(n->first, true);
    } else if (cur != mItems.begin()) {
        select(std::prev(cur)->first, true);
    }
    return true;
}

bool cComboBoxChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (enabled()) {
        if (key == kKeyUp && !shift && !ctrl && !alt) return step(false);
        if (key == kKeyDown && !shift && !ctrl && !alt) return step(true);
        if ((key == kKeyDown && alt && !shift && !ctrl) || (key == kKeyF4 && !shift && !ctrl && !alt)) {
            dropdown();
            return true;
        }
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}

void cComboBoxChild::processMouseBtn(int x, int y, int button, bool down, bool m1, bool m2) {
    if (button == 1 && mEdit.readonly() && enabled()) {
        if (down) {
            mPressed = true;
        } else if (mPressed) {
            mPressed = false;
            if (inme(x, y)) dropdown();
        }
        return;
    }
    cChildElement::processMouseBtn(x, y, button, down, m1, m2);
}

void cComboBoxChild::onSetFocus(bool a, bool b) {
    // Reached as a whole (an arrow key among its siblings, the window
    // getting the keyboard back): the edit field takes the focus over.
    cChildElement::onSetFocus(a, b);
    if (focused()) mEdit.focus();
}

bool cComboBoxChild::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (canvas && r && r->y == 0 && r->h == height()) {
        sRect box{-1, 0, r->w + 1, height()};
        canvas->drawRect(&box, mEdit.bgColor(0), mEdit.borderColor(0));
        return true;
    }
    return cChildElement::onBackgroundRequest(canvas, r);
}

bool cComboBoxChild::onAction(cChildElement* src, cChildAction* a) {
    if (a && src == &mDrop && a->code() == 0) {
        dropdown();
        return true;
    }
    if (a && src == &mEdit && (a->code() == cEditChild::kActionEnter || a->code() == cEditChild::kActionEscape)) {
        notifyAction(a->code());
        return true;
    }
    return cChildElement::onAction(src, a);
}
