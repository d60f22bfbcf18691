#include "uitoolkit/messageform.h"

#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <cstring>

cPicturesList cMessageForm::myImagesList;

namespace {

// Titles by index in the "ciom::messages" section, when none is given.
enum { kTitleInfo = 3, kTitleWarning = 4, kTitleError = 5, kTitleConfirm = 6 };
// Button texts in the same section.
enum { kTextOk = 0, kTextYes = 1, kTextNo = 2 };

}  // namespace

cMessageForm::cStrTokenItem::~cStrTokenItem() {
    if (label.parent()) label.parent()->dettach(&label);
}

cMessageForm::cMessageForm() = default;

cMessageForm::~cMessageForm() {
    // The labels leave the client area before the form's members go.
    mLines.clear();
}

int cMessageForm::infobox(cChildElement* p, char* text, char* title) {
    return doDialog(p, text, title, kTitleInfo, icInfo, bsOk);
}
int cMessageForm::warningbox(cChildElement* p, char* text, char* title) {
    return doDialog(p, text, title, kTitleWarning, icWarning, bsOk);
}
int cMessageForm::errorbox(cChildElement* p, char* text, char* title) {
    return doDialog(p, text, title, kTitleError, icError, bsOk);
}
bool cMessageForm::confirmbox(cChildElement* p, char* text, char* title) {
    return doDialog(p, text, title, kTitleConfirm, icQuestion, bsYesNo) != 0;
}
bool cMessageForm::warnconfirmbox(cChildElement* p, char* text, char* title) {
    return doDialog(p, text, title, kTitleConfirm, icWarning, bsYesNo) != 0;
}

int cMessageForm::doDialog(cChildElement* parent, char* text, char* title, int titleIndex, int icon,
                           eButtonSet buttons) {
    if (!parent || !text) return 0;
    // The window owns the form from the modal call on and deletes it.
    cMessageForm* form = new cMessageForm();
    form->mIconNo = icon;
    form->mSet = buttons;
    if (title) {
        form->mTitle = title;
    } else {
        const char* t = form->string(parent, titleIndex);
        form->mTitle = t ? t : "";
    }
    cFontObject* normal = parent->createFont(5, 13, stdFontFace(), false, false, false);
    cFontObject* bold = parent->createFont(6, 13, stdFontFace(), true, false, false);

    // Lines split at '\n'; a '\n' at the very end adds no empty line.
    std::string all(text);
    if (!all.empty()) {
        size_t start = 0;
        for (;;) {
            size_t nl = all.find('\n', start);
            if (nl == std::string::npos) {
                form->mLines.emplace_back(new cStrTokenItem(all.substr(start)));
                break;
            }
            form->mLines.emplace_back(new cStrTokenItem(all.substr(start, nl - start)));
            start = nl + 1;
            if (start == all.size()) break;
        }
    }
    int W = 0, H = 0;
    for (size_t i = 0; i < form->mLines.size(); ++i) {
        sSize s{0, 0};
        parent->sizeOf(form->mLines[i]->text.c_str(), s, i == 0 ? bold : normal);
        if (i == 0) s.w += 37;
        W = std::max(W, s.w);
        H = std::max(H, s.h);
    }
    form->mLineH = H;
    const int n = static_cast<int>(form->mLines.size());
    const int w = W + 30;
    const int h = n == 0 ? 105 : 115 + static_cast<int>(1.5 * H * (n - 1));
    const std::string caption = form->mTitle;
    return parent->modal(caption.c_str(), w, h, form, false) == 1 ? 1 : 0;
}

void cMessageForm::onInitData() {
    cCustomForm::onInitData();
    if (!myImagesList.image(0)) {
        cThemeValues* theme = currentThemeValues();
        myImagesList.refImage(0, theme->picture(77));
        myImagesList.refImage(1, theme->picture(78));
        for (int i = 0; i < 4; ++i) myImagesList.refImage(10 + i, theme->picture(73 + i));
    }
}

void cMessageForm::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    cPanelChild* client = clientArea();
    const int cw = client->width();
    const unsigned int c0 = currentThemeValues()->color(0);
    const int H = mLineH;
    int y = 42;
    for (size_t i = 0; i < mLines.size(); ++i) {
        cStaticElement& l = mLines[i]->label;
        if (i == 0) {
            client->attach(&l, 42, (29 - H) / 2, cw - 47, H + 2);
            l.setFont(createFont(6, 13, stdFontFace(), true, false, false));
            l.setTextColor(currentThemeValues()->color(61));
        } else {
            client->attach(&l, 5, y, cw - 10, H + 2);
            y += static_cast<int>(1.5 * H);
        }
        l.setColorSchema(l.textColor(), c0, c0);
        l.setText(mLines[i]->text.c_str(), static_cast<long long>(mLines[i]->text.size()), false);
    }
    if (mSet == bsOk)
        placeButtonBar(mButtons, &myImagesList, {{1, string(kTextOk), 0}});
    else
        placeButtonBar(mButtons, &myImagesList, {{1, string(kTextYes), 0}, {2, string(kTextNo), 1}});
    client->attach(&mIcon, 5, 0, 33, 29);
    mIcon.setImage(myImagesList.image(10 + mIconNo), false);
    mIcon.setColorSchema(mIcon.textColor(), c0, c0);
}

bool cMessageForm::onAction(cChildElement* src, cChildAction* a) {
    if (src == &mButtons && a && a->code() == 6) {
        int id = static_cast<cToolBarChild::cTbButtonAction*>(a)->id;
        if (id == 1) return onFormAccept();
        if (id == 2) return onFormCancel();
    }
    return cCustomForm::onAction(src, a);
}

bool cMessageForm::onFormAccept() {
    end_modal(1);
    return true;
}

bool cMessageForm::onFormCancel() {
    end_modal(0);
    return true;
}
