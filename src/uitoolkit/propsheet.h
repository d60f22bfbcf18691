// cPropSheetChild: a scrollable sheet of named properties in collapsible
// sections.  Each section is a header line (a collapse button and the
// section's name) over two columns split by a splitter: captions on the
// left, value controls on the right.  A property's type decides its value
// control: a plain text, a text with an action button, a link, an editable
// or read-only edit, or a drop-down.  The owner addresses everything by
// section id and property id and hears of the user's doings through
// cPropSheetAction notifications (6 caption selected, 7 action button,
// 8 link, 9 caption activated, 10 drop-down selection).
//
// Sections and properties are laid out, and walked, in ascending id order.
// Every structural change lays the sheet out at once, or only marks a layout
// as pending while a batch (startChanges ... endChanges) is open.
#pragma once

#include "base/treelist.h"
#include "uitoolkit/button.h"
#include "uitoolkit/checkbox.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/panel.h"
#include "uitoolkit/scrollable.h"
#include "uitoolkit/selectable.h"
#include "uitoolkit/splitter.h"

class cPropSheetChild : public cScrollableElement {
public:
    enum ePropTypes {
        ptText = 0,          // a plain text
        ptTextAction = 1,    // a text with an action button
        ptLink = 2,          // a link
        ptEdit = 3,          // an editable edit
        ptEditAction = 4,    // a read-only edit with an action button
        ptReadOnlyEdit = 5,  // a read-only edit
        ptDropDown = 6       // a drop-down list without typing
    };

    class cPropSheetAction : public cChildAction {
    public:
        cPropSheetAction(int code, int inSection, int prop) : cChildAction(code), section(inSection), id(prop) {}
        int section, id;
    };

    struct sSectProp {
        int section = 0;
        int id = 0;
    };

    // The panel of each column: paints what lies under transparent children
    // in theme colour 14.
    class cWTPanelChild : public cPanelChild {
    public:
        bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    };

    // A section's header line; usable on its own, outside a sheet, too.
    class cSectionHeaderChild : public cStaticElement {
    public:
        cSectionHeaderChild();
        ~cSectionHeaderChild() override;
        void setText(const char* text);
        using cStaticElement::setText;
        void refImage(cPicture* picture);
        void setBtHint(const char* text);
        cButtonChild* button() { return &mButton; }
        cStaticElement* label() { return &mName; }
        void onInitData() override;
        // What lies under the collapse button: the header's colour.
        bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
        const char* wantLangResource() override { return "ciom::propsheet"; }

    private:
        cButtonChild mButton;
        cStaticElement mName;
    };

    struct sPropertyDescr {
        sPropertyDescr() = default;
        ~sPropertyDescr();
        sPropertyDescr(const sPropertyDescr&) = delete;
        sPropertyDescr& operator=(const sPropertyDescr&) = delete;

        cSelectableElement caption;
        _guardchar<char> descr;
        ePropTypes type = ptText;
        void* assoc = nullptr;
        cChildElement* value = nullptr;  // owned
        cButtonChild action;             // attached for types 1 and 4 only
    };

    class cSectionChild : public cChildElement {
    public:
        cSectionChild();
        ~cSectionChild() override;
        void onSizeChanged() override;
        bool onAction(cChildElement* src, cChildAction* a) override;
        void onInitData() override;
        // Lays the section out; returns its height.
        int rebuildSect(bool showHeader);
        // The section and property of an element in one of the four maps.
        sSectProp* findCaption(cChildElement* e) { return mCaptions.find(e); }
        // Takes a property's elements out of the panels and the maps and
        // deletes it.
        bool removeProp(int id);
        void removeAll();
        // Sizes both columns by the sheet's split (halves outside a sheet).
        void sizeColumns();

        cSectionHeaderChild header;
        cSplitterChild split;
        cWTPanelChild captions, values;
        cFasterTreeList<cChildElement*, sSectProp> mCaptions, mButtons, mDropDowns, mLinks;
        cFasterTreeList<int, sPropertyDescr> props;
        bool collapsed = false;
        bool hints = false;
    };

    cPropSheetChild();
    ~cPropSheetChild() override;

    // ---- building ---------------------------------------------------------
    bool setSection(int id, const char* name);
    bool setProperty(int section, int id, const char* name, const char* descr, const char* value, int type);
    bool remove(int section, int id);
    bool remove(int section);
    void clear();
    void startChanges();
    void endChanges();
    void setSectColor(unsigned int colour);
    void setSectFrameColor(unsigned int colour);
    void showHints(bool on);
    void showSections(bool on);
    void setImagesList(cPicturesList* list) { mImages = list; }
    unsigned int sectColor() const { return mSectColor; }
    unsigned int sectFrameColor() const { return mSectFrame; }

    // ---- values -----------------------------------------------------------
    bool setPropertyVal(int section, int id, const char* text);
    bool setPropertyVal(int section, int id, unsigned long long value, bool hex, char separator);
    bool setPropertyVal(int section, int id, int index, void* assoc, const char* text, bool select);
    bool clearPropertyVals(int section, int id);
    bool select(int section, int id, int index);
    bool wipeVal(int section, int id);
    bool setPropertyAssoc(int section, int id, void* pointer);
    void* assoc(int section, int id);
    const char* value(int section, int id);
    long long int_value(int section, int id);
    int value_id(int section, int id);
    void* value_assoc(int section, int id);
    bool setPropertyColor(int section, int id, unsigned int colour);
    bool setImage(int section, int id, cPicture* picture);
    bool setImage(int section, int id, int index);
    bool setSetExHint(int section, int id, const char* text);

    // ---- access -----------------------------------------------------------
    bool focus(int section, int id);
    using cChildElement::focus;
    bool selectCapt(int section, int id, bool notify);
    cEditChild* editControl(int section, int id);
    cButtonChild* actionButton(int section, int id);
    bool hasSection(int id) { return mSections.find(id) != nullptr; }
    bool hasProp(int section, int id) { return prop(section, id) != nullptr; }
    const char* sectionName(int id);
    const char* propName(int section, int id);
    const char* propDescr(int section, int id);
    cSplitterChild* sectionSplit(int id);
    cSectionChild* section(int id) { return mSections.find(id); }
    // The caption of a property, for tests and owners that place hints.
    cSelectableElement* caption(int section, int id);
    cChildElement* valueControl(int section, int id);
    int layouts() const { return mLayouts; }

    // ---- element hooks ----------------------------------------------------
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    bool wantCaptureArrows() override { return true; }
    const char* wantLangResource() override { return "ciom::propsheet"; }
    void onInitData() override;
    void onPaintArea(cCanvas* canvas) override;

    // Lays out every section now.
    void build();
    // The captions' share of what both columns take, alike in every section.
    double columnShare() const { return mSplitShare; }

private:
    sPropertyDescr* prop(int section, int id);
    // Lays out now, or marks a layout pending inside a batch.
    void changed();
    void toggle(cSectionChild* s);
    bool stepCaption(cSectionChild* s, int id, bool down);
    // The divider of one section was dragged: the others follow it.
    void columnsDragged(cSectionChild* from, double captions, double values);

    bool mChanges = false;
    bool mPending = false;
    bool mShowSections = true;
    bool mShowHints = false;
    unsigned int mSectColor = 0;
    unsigned int mSectFrame = 0;
    cPicturesList* mImages = nullptr;
    cFasterTreeList<int, cSectionChild> mSections;
    double mSplitShare = 0.5;
    int mLayouts = 0;
};
