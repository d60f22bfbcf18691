#include "uitoolkit/propsheet.h"

#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <cstdio>

namespace {

enum { kTextHide = 0, kTextExpand = 1, kTextChange = 2 };
enum { kPictAction = 29, kPictExpand = 66, kPictCollapse = 67 };
const int kKeyUp = 0x152, kKeyDown = 0x154;

unsigned int colour(int i) { return currentThemeValues()->color(i); }

bool hasAction(int type) {
    return type == cPropSheetChild::ptTextAction || type == cPropSheetChild::ptEditAction;
}
bool isStatic(int type) { return type >= cPropSheetChild::ptText && type <= cPropSheetChild::ptLink; }
bool isEdit(int type) { return type >= cPropSheetChild::ptEdit && type <= cPropSheetChild::ptReadOnlyEdit; }

}  // namespace

// ---------------------------------------------------------------------------
// Column panels and the header line

bool cPropSheetChild::cWTPanelChild::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (!canvas || !r) return false;
    sRect all{0, 0, r->w, r->h};
    canvas->drawRect(&all, colour(14), colour(14));
    return true;
}

cPropSheetChild::cSectionHeaderChild::cSectionHeaderChild() = default;

cPropSheetChild::cSectionHeaderChild::~cSectionHeaderChild() {
    dettach(&mButton);
    dettach(&mName);
}

void cPropSheetChild::cSectionHeaderChild::setText(const char* text) { mName.setText(text, -1, true); }

void cPropSheetChild::cSectionHeaderChild::refImage(cPicture* picture) {
    mButton.image(0).refImage(picture);
    mButton.repaint();
}

bool cPropSheetChild::cSectionHeaderChild::onBackgroundRequest(cCanvas* canvas, sRect* r) {
    if (!canvas || !r) return false;
    sRect all{0, 0, r->w, r->h};
    canvas->drawRect(&all, bgColor(), bgColor());
    return true;
}

void cPropSheetChild::cSectionHeaderChild::setBtHint(const char* text) { mButton.setHint(text, 0); }

void cPropSheetChild::cSectionHeaderChild::onInitData() {
    cStaticElement::onInitData();
    unsigned int bg = colour(47), frame = colour(46);
    cChildElement* up = parent() ? parent()->parent() : nullptr;
    if (auto* sheet = dynamic_cast<cPropSheetChild*>(up)) {
        bg = sheet->sectColor();
        frame = sheet->sectFrameColor();
    }
    setColorSchema(textColor(), bg, frame);
    const int H = themeDimension(24);
    const int at = (H - 16) / 2;
    if (!isDirectChild(&mButton)) attach(&mButton, at, at, 16, 16);
    else mButton.move(at, at, 16, 16);
    mButton.setAcceptFocus(false);
    mButton.setPointer(mptHand);
    mButton.setBorder(cButtonChild::bdSingleFilled, false);
    mButton.setBgColor(bg, false);
    mButton.setBorderColors(0, bg, bg);
    // At rest the button shows the header under it rather than a frame of
    // its own: a frame's last corner pixel is only half covered by its
    // lines, and over nothing it shows as a dark dot under the arrow.
    mButton.setTransparent(true);
    mButton.image(0).refImage(currentThemeValues()->picture(kPictCollapse));
    mButton.setHint(string(kTextHide), 0);
    anchor(&mName, H + 2, 1, -(H + 2) - 1, -3);
    mName.setFont(stdFontBold());
    mName.setColorSchema(colour(49), bg, bg);
}

// ---------------------------------------------------------------------------
// Properties and sections

cPropSheetChild::sPropertyDescr::~sPropertyDescr() { delete value; }

cPropSheetChild::cSectionChild::cSectionChild() = default;

cPropSheetChild::cSectionChild::~cSectionChild() {
    removeAll();
    split.dettach(&captions);
    split.dettach(&values);
    dettach(&split);
    dettach(&header);
}

void cPropSheetChild::cSectionChild::onInitData() {
    cChildElement::onInitData();
    const int H = themeDimension(24);
    anchor(&header, 0, 0, -1, H);
    anchor(&split, 0, H, -1, 1);
    split.attach(1, &captions, 50);
    split.attach(2, &values, 50);
    captions.setBgColor(colour(48));
    values.setBgColor(colour(48));
    collapsed = false;
    hints = false;
}

void cPropSheetChild::cSectionChild::sizeColumns() {
    const int W = width();
    const int least = static_cast<int>(W * 0.1);
    captions.setMinSize(least, -1);
    values.setMinSize(least, -1);
    // The columns share what two halves of W / 2 - 3 take, in the sheet's
    // proportion: every section splits alike, and a new layout keeps the
    // split the user dragged to.
    const int half = W / 2 - 3;
    if (half < 0) return;
    auto* sheet = dynamic_cast<cPropSheetChild*>(parent());
    const double share = sheet ? sheet->mSplitShare : 0.5;
    const double both = 2 * (static_cast<double>(half) / std::max(W, 100));
    split.setStoredSize(1, share * both);
    split.setStoredSize(2, both - share * both);
}

void cPropSheetChild::cSectionChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    sizeColumns();
}

bool cPropSheetChild::cSectionChild::onAction(cChildElement* src, cChildAction* a) {
    if (a && a->code() == 0 && src == header.button()) {
        notifyAction(6);
        return true;
    }
    // The user moved this section's divider: it moves in every section.
    if (src == &split) {
        auto* moved = dynamic_cast<cSplitterBase::cBarDraggedAction*>(a);
        auto* sheet = dynamic_cast<cPropSheetChild*>(parent());
        if (moved && moved->index == 1 && sheet) sheet->columnsDragged(this, moved->size, moved->nextSize);
    }
    return cChildElement::onAction(src, a);
}

int cPropSheetChild::cSectionChild::rebuildSect(bool showHeader) {
    int h0 = 0;
    if (showHeader) {
        h0 = themeDimension(24);
        anchor(&header, 0, 0, -1, h0);
        header.show(false);
    } else {
        header.hide(false);
    }
    int y = 0;
    for (auto* n = props.first(); n; n = props.next(n)) {
        sPropertyDescr& p = n->value;
        const bool button = hasAction(p.type);
        if (collapsed) {
            p.caption.hide(false);
            if (p.value) p.value->hide(false);
            if (button) p.action.hide(false);
            continue;
        }
        if (!p.value) continue;
        p.caption.show(false);
        p.value->show(false);
        if (button) p.action.show(false);
        int r;
        if (p.type == ptDropDown) {
            r = 19;
        } else if (isEdit(p.type)) {
            r = 18;
        } else {
            sSize s{0, 0};
            static_cast<cStaticElement*>(p.value)->wantsSize(&s);
            if (s.h == 0) p.caption.wantsSize(&s);
            r = s.h + 4;
        }
        if (button) {
            values.anchor(&p.action, -20, y, 19, r);
            values.anchor(p.value, 0, y, -20, r);
        } else {
            values.anchor(p.value, 0, y, -1, r);
        }
        captions.anchor(&p.caption, 0, y, -1, r);
        if (hints && p.descr.get()) p.caption.setHint(p.descr.get(), 0);
        y += r + 1;
    }
    sizeColumns();
    anchor(&split, 0, h0, -1, y);
    return h0 + y;
}

bool cPropSheetChild::cSectionChild::removeProp(int id) {
    sPropertyDescr* p = props.find(id);
    if (!p) return false;
    captions.dettach(&p->caption);
    if (p->action.parent()) values.dettach(&p->action);
    if (p->value) values.dettach(p->value);
    mCaptions.dettach(&p->caption);
    mButtons.dettach(&p->action);
    if (p->value) {
        mDropDowns.dettach(p->value);
        mLinks.dettach(p->value);
    }
    props.dettach(id);
    return true;
}

void cPropSheetChild::cSectionChild::removeAll() {
    while (auto* n = props.first()) removeProp(n->key);
}

// ---------------------------------------------------------------------------
// The sheet

cPropSheetChild::cPropSheetChild() = default;

cPropSheetChild::~cPropSheetChild() {
    while (auto* n = mSections.first()) {
        n->value.removeAll();
        dettach(&n->value);
        mSections.dettach(n);
    }
}

void cPropSheetChild::onInitData() {
    cScrollableElement::onInitData();
    mChanges = mPending = false;
    mSplitShare = 0.5;
    mShowSections = true;
    mShowHints = false;
    setMinVisualWidth(0);
    setMinVisualHeight(0);
    setQuantumSize(5, 13);
    mSectColor = colour(47);
    mSectFrame = colour(46);
}

void cPropSheetChild::onPaintArea(cCanvas* canvas) {
    if (!canvas) return;
    sRect all{0, 0, width(), height()};
    canvas->drawRect(&all, colour(48), colour(48));
}

void cPropSheetChild::columnsDragged(cSectionChild* from, double a, double b) {
    if (!(a > 0 && b > 0)) return;
    mSplitShare = a / (a + b);
    // Sections as wide as the one dragged take its very sizes, so their
    // dividers land on the same pixel.
    for (auto* n = mSections.first(); n; n = mSections.next(n)) {
        cSectionChild& s = n->value;
        if (s.width() == from->width()) {
            s.split.setStoredSize(1, a);
            s.split.setStoredSize(2, b);
        } else {
            s.sizeColumns();
        }
    }
}

void cPropSheetChild::changed() {
    if (mChanges) mPending = true;
    else build();
}

void cPropSheetChild::build() {
    ++mLayouts;
    int y = 0;
    for (auto* n = mSections.first(); n; n = mSections.next(n)) {
        const int h = n->value.rebuildSect(mShowSections);
        anchor(&n->value, 0, y, -1, h);
        y += h;
    }
    setMinVisualHeight(y);
    repaint();
}

void cPropSheetChild::startChanges() { mChanges = true; }

void cPropSheetChild::endChanges() {
    mChanges = false;
    if (mPending) {
        mPending = false;
        build();
    }
}

bool cPropSheetChild::setSection(int id, const char* name) {
    if (!name) return false;
    if (cSectionChild* s = mSections.find(id)) {
        s->header.setText(name);
        return true;
    }
    cSectionChild* s = mSections.insert(id);
    attach(s, -1, -1, 1, 1);
    s->header.setText(name);
    s->hints = mShowHints;
    changed();
    return true;
}

bool cPropSheetChild::setProperty(int section, int id, const char* name, const char* descr, const char* value,
                                  int type) {
    cSectionChild* s = mSections.find(section);
    if (!s || s->props.find(id) || type < ptText || type > ptDropDown) return false;
    sPropertyDescr* p = s->props.insert(id);
    p->descr.set(descr);
    p->type = static_cast<ePropTypes>(type);
    const sSectProp key{section, id};
    const unsigned int text = colour(50), bg = colour(51);
    switch (p->type) {
        case ptText:
        case ptTextAction: {
            auto* st = new cStaticElement();
            p->value = st;
            s->values.attach(st, 0, 0, 1, 1);
            st->setTextColor(text);
            st->setBgColor(bg);
            st->setDoubleBuffer(p->type == ptText);
            st->setText(value, -1, false);
            break;
        }
        case ptLink: {
            auto* link = new cLinkElement();
            p->value = link;
            s->values.attach(link, 0, 0, 1, 1);
            link->setBgColor(bg);
            link->setDoubleBuffer(true);
            link->setText(value, -1, false);
            *s->mLinks.insert(link) = key;
            break;
        }
        case ptEdit:
        case ptEditAction:
        case ptReadOnlyEdit: {
            auto* edit = new cEditChild();
            p->value = edit;
            s->values.attach(edit, 0, 0, 1, 1);
            edit->setReadonly(p->type != ptEdit);
            edit->setColors(0, bg, text);
            edit->setBorderColor(0, p->type == ptEditAction ? bg : colour(14));
            if (p->type != ptEdit) {
                edit->setBorderColor(1, colour(28));
                edit->setBorderColor(2, colour(28));
            }
            if (value) edit->setText(value, -1);
            break;
        }
        case ptDropDown: {
            auto* combo = new cComboBoxChild();
            p->value = combo;
            s->values.attach(combo, 0, 0, 1, 1);
            combo->allowEdit(false);
            combo->edit()->setColors(0, bg, text);
            combo->edit()->setBorderColor(0, bg);
            if (value) combo->setText(value, -1);
            *s->mDropDowns.insert(combo) = key;
            break;
        }
    }
    if (hasAction(p->type)) {
        s->values.attach(&p->action, 0, 0, 1, 1);
        p->action.setTransparent(true);
        p->action.image(0).refImage(currentThemeValues()->picture(kPictAction));
        p->action.setBorder(cButtonChild::bdSingle, true);
        p->action.setHint(string(kTextChange), 0);
        *s->mButtons.insert(&p->action) = key;
    }
    s->captions.attach(&p->caption, 0, 0, 1, 1);
    *s->mCaptions.insert(&p->caption) = key;
    p->caption.setText(name, -1, false);
    unsigned int frame = 0;
    p->caption.getStdColorSchema(nullptr, nullptr, &frame);
    p->caption.setStdColorSchema(text, bg, frame);
    changed();
    return true;
}

bool cPropSheetChild::remove(int section, int id) {
    cSectionChild* s = mSections.find(section);
    if (!s || !s->removeProp(id)) return false;
    changed();
    return true;
}

bool cPropSheetChild::remove(int section) {
    cSectionChild* s = mSections.find(section);
    if (!s) return false;
    s->removeAll();
    dettach(s);
    mSections.dettach(section);
    changed();
    return true;
}

void cPropSheetChild::clear() {
    while (auto* n = mSections.first()) {
        n->value.removeAll();
        dettach(&n->value);
        mSections.dettach(n);
    }
    if (attached()) changed();
}

void cPropSheetChild::setSectColor(unsigned int c) {
    if (c == mSectColor) return;
    mSectColor = c;
    changed();
}

void cPropSheetChild::setSectFrameColor(unsigned int c) {
    if (c == mSectFrame) return;
    mSectFrame = c;
    changed();
}

void cPropSheetChild::showHints(bool on) {
    if (on == mShowHints) return;
    mShowHints = on;
    changed();
}

void cPropSheetChild::showSections(bool on) {
    if (on == mShowSections) return;
    mShowSections = on;
    changed();
}

// ---------------------------------------------------------------------------
// Values

cPropSheetChild::sPropertyDescr* cPropSheetChild::prop(int section, int id) {
    cSectionChild* s = mSections.find(section);
    return s ? s->props.find(id) : nullptr;
}

bool cPropSheetChild::setPropertyVal(int section, int id, const char* text) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return false;
    if (isStatic(p->type)) static_cast<cStaticElement*>(p->value)->setText(text, -1, true);
    else if (isEdit(p->type)) static_cast<cEditChild*>(p->value)->setText(text, -1);
    else static_cast<cComboBoxChild*>(p->value)->setText(text, -1);
    return true;
}

bool cPropSheetChild::setPropertyVal(int section, int id, unsigned long long value, bool hex, char separator) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return false;
    if (isStatic(p->type)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, hex ? "0x%llX" : "%lld", value);
        static_cast<cStaticElement*>(p->value)->setText(buf, -1, true);
    } else if (isEdit(p->type)) {
        static_cast<cEditChild*>(p->value)->setU64(value, hex, separator);
    } else {
        static_cast<cComboBoxChild*>(p->value)->edit()->setU64(value, hex, separator);
    }
    return true;
}

bool cPropSheetChild::setPropertyVal(int section, int id, int index, void* assoc, const char* text, bool sel) {
    sPropertyDescr* p = prop(section, id);
    if (!p || p->type != ptDropDown) return false;
    auto* combo = static_cast<cComboBoxChild*>(p->value);
    if (!combo->setItem(index, text, assoc, -1)) return false;
    if (sel) combo->select(index, false);
    return true;
}

bool cPropSheetChild::clearPropertyVals(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || p->type != ptDropDown) return false;
    static_cast<cComboBoxChild*>(p->value)->clear();
    return true;
}

bool cPropSheetChild::select(int section, int id, int index) {
    sPropertyDescr* p = prop(section, id);
    if (!p || p->type != ptDropDown) return false;
    return static_cast<cComboBoxChild*>(p->value)->select(index, false);
}

bool cPropSheetChild::wipeVal(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return false;
    // A drop-down's text lives in its edit.
    cChildElement* target = p->type == ptDropDown ? static_cast<cComboBoxChild*>(p->value)->edit() : p->value;
    target->wipeText();
    target->repaint();
    return true;
}

bool cPropSheetChild::setPropertyAssoc(int section, int id, void* pointer) {
    sPropertyDescr* p = prop(section, id);
    if (!p) return false;
    p->assoc = pointer;
    return true;
}

void* cPropSheetChild::assoc(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p ? p->assoc : nullptr;
}

const char* cPropSheetChild::value(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p && p->value ? p->value->text() : nullptr;
}

long long cPropSheetChild::int_value(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return -1;
    if (isEdit(p->type)) return static_cast<long long>(static_cast<cEditChild*>(p->value)->asU64());
    if (p->type == ptDropDown)
        return static_cast<long long>(static_cast<cComboBoxChild*>(p->value)->edit()->asU64());
    return 0;
}

// A missing property answers -1 like a property without a selection: 0
// would be read as the first item.
int cPropSheetChild::value_id(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || p->type != ptDropDown) return -1;
    return static_cast<cComboBoxChild*>(p->value)->selected();
}

void* cPropSheetChild::value_assoc(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || p->type != ptDropDown) return nullptr;
    auto* combo = static_cast<cComboBoxChild*>(p->value);
    return combo->selected() >= 0 ? combo->association(combo->selected()) : nullptr;
}

bool cPropSheetChild::setPropertyColor(int section, int id, unsigned int c) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value || !isStatic(p->type)) return false;
    static_cast<cStaticElement*>(p->value)->setTextColor(c);
    p->caption.setTxtColorStd(c);
    return true;
}

bool cPropSheetChild::setImage(int section, int id, cPicture* picture) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value || !picture || !isStatic(p->type)) return false;
    static_cast<cStaticElement*>(p->value)->setImage(picture, true);
    return true;
}

bool cPropSheetChild::setImage(int section, int id, int index) {
    if (!mImages) return false;
    return setImage(section, id, mImages->image(index));
}

bool cPropSheetChild::setSetExHint(int section, int id, const char* text) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return false;
    p->action.setHint(text, 0);
    return true;
}

// ---------------------------------------------------------------------------
// Access

bool cPropSheetChild::focus(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return false;
    if (isEdit(p->type)) p->value->focus();
    else if (p->type == ptDropDown) static_cast<cComboBoxChild*>(p->value)->edit()->focus();
    return true;
}

bool cPropSheetChild::selectCapt(int section, int id, bool notify) {
    sPropertyDescr* p = prop(section, id);
    return p && p->caption.select(notify);
}

cEditChild* cPropSheetChild::editControl(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    if (!p || !p->value) return nullptr;
    if (isEdit(p->type)) return static_cast<cEditChild*>(p->value);
    if (p->type == ptDropDown) return static_cast<cComboBoxChild*>(p->value)->edit();
    return nullptr;
}

cButtonChild* cPropSheetChild::actionButton(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p && hasAction(p->type) ? &p->action : nullptr;
}

const char* cPropSheetChild::sectionName(int id) {
    cSectionChild* s = mSections.find(id);
    return s ? s->header.label()->text() : nullptr;
}

const char* cPropSheetChild::propName(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p ? p->caption.text() : nullptr;
}

const char* cPropSheetChild::propDescr(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p ? p->descr.get() : nullptr;
}

cSplitterChild* cPropSheetChild::sectionSplit(int id) {
    cSectionChild* s = mSections.find(id);
    return s ? &s->split : nullptr;
}

cSelectableElement* cPropSheetChild::caption(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p ? &p->caption : nullptr;
}

cChildElement* cPropSheetChild::valueControl(int section, int id) {
    sPropertyDescr* p = prop(section, id);
    return p ? p->value : nullptr;
}

// ---------------------------------------------------------------------------
// Actions and keys

void cPropSheetChild::toggle(cSectionChild* s) {
    s->collapsed = !s->collapsed;
    s->header.refImage(currentThemeValues()->picture(s->collapsed ? kPictExpand : kPictCollapse));
    s->header.setBtHint(s->header.string(s->collapsed ? kTextExpand : kTextHide));
    changed();
}

bool cPropSheetChild::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    for (auto* n = mSections.first(); n; n = mSections.next(n)) {
        cSectionChild& s = n->value;
        if (src == &s) {
            if (a->code() != 6) break;
            toggle(&s);
            return true;
        }
        int code = 0;
        const sSectProp* sp = nullptr;
        if ((sp = s.mCaptions.find(src))) code = a->code() == 6 ? 6 : a->code() == 7 ? 9 : 0;
        else if ((sp = s.mButtons.find(src))) code = a->code() == 0 ? 7 : 0;
        else if ((sp = s.mLinks.find(src))) code = a->code() == 0 ? 8 : 0;
        else if ((sp = s.mDropDowns.find(src))) code = a->code() == 6 ? 10 : 0;
        if (code) {
            notifyAction(new cPropSheetAction(code, sp->section, sp->id));
            return true;
        }
    }
    return cScrollableElement::onAction(src, a);
}

// The caption after (down) or before id in section s, else the first (last)
// of the nearest following (preceding) section that has properties.
bool cPropSheetChild::stepCaption(cSectionChild* s, int id, bool down) {
    auto* sn = mSections.first();
    while (sn && &sn->value != s) sn = mSections.next(sn);
    if (!sn) return false;
    auto* pn = down ? s->props.find_ge(id) : s->props.find_le(id);
    if (pn && pn->key == id) pn = down ? s->props.next(pn) : s->props.prev(pn);
    while (!pn) {
        sn = down ? mSections.next(sn) : mSections.prev(sn);
        if (!sn) return false;
        pn = down ? sn->value.props.first() : sn->value.props.last();
    }
    return selectCapt(sn->key, pn->key, true);
}

bool cPropSheetChild::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (key == kKeyUp || key == kKeyDown) {
        cChildElement* f = getFocused();
        for (auto* n = mSections.first(); f && n; n = mSections.next(n)) {
            if (const sSectProp* sp = n->value.findCaption(f)) {
                stepCaption(&n->value, sp->id, key == kKeyDown);
                return true;
            }
        }
    }
    return cChildElement::processKey(key, shift, ctrl, alt);
}
