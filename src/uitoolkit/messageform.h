// cMessageForm: the toolkit's modal message box: an icon, a first line in
// bold, further lines in the normal font, and a tool bar with Ok, or Yes and
// No.  The static entry points size the form to the text and run it modally
// over the parent's window.
#pragma once

#include "uitoolkit/form.h"
#include "uitoolkit/picture.h"
#include "uitoolkit/static.h"
#include "uitoolkit/toolbar.h"

#include <memory>
#include <string>
#include <vector>

class cMessageForm : public cCustomForm {
public:
    enum eButtonSet { bsOk = 0, bsYesNo = 1 };
    enum eIcon { icInfo = 0, icQuestion = 1, icWarning = 2, icError = 3 };

    // One line of the text and the label that shows it.
    class cStrTokenItem {
    public:
        explicit cStrTokenItem(std::string t) : text(std::move(t)) {}
        ~cStrTokenItem();
        std::string text;
        cStaticElement label;
    };

    cMessageForm();
    ~cMessageForm() override;

    static int infobox(cChildElement* parent, char* text, char* title);
    static int warningbox(cChildElement* parent, char* text, char* title);
    static int errorbox(cChildElement* parent, char* text, char* title);
    static bool confirmbox(cChildElement* parent, char* text, char* title);
    static bool warnconfirmbox(cChildElement* parent, char* text, char* title);
    // Nonzero only when the form ended with the result 1: a failed modal
    // run (-1) or a cancel (0) is no.
    static int doDialog(cChildElement* parent, char* text, char* title, int titleIndex, int icon,
                        eButtonSet buttons);

    // The shared pictures of the buttons and icons.
    static cPicturesList myImagesList;

    void onConstruct() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    const char* wantLangResource() override { return "ciom::messages"; }
    void onInitData() override;
    bool onFormCancel() override;
    bool onFormAccept() override;

    // Read by the tests and the layout.
    int lineCount() const { return static_cast<int>(mLines.size()); }
    cStaticElement* lineLabel(int i) { return &mLines.at(static_cast<size_t>(i))->label; }
    cStaticElement* icon() { return &mIcon; }
    cToolBarChild* buttons() { return &mButtons; }
    int lineHeight() const { return mLineH; }

private:
    cStaticElement mIcon;
    cToolBarChild mButtons;
    int mIconNo = 0;
    std::vector<std::unique_ptr<cStrTokenItem>> mLines;
    std::string mTitle;
    eButtonSet mSet = bsOk;
    int mLineH = 0;
};
