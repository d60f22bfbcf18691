// Message boxes run through a scripted modal window: the size they ask for
// from the lines of their text, the labels they lay out, and the answer
// each way of closing them gives.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/langids.h"
#include "uitoolkit/theme.h"

#include <fstream>

#include <gtest/gtest.h>

using qortest::cTestWindowTarget;

namespace {

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 800, 600);
    }
    int width(const char* s, bool bold) {
        cFontObject* f = root.createFont(bold ? 6 : 5, 13, stdFontFace(), bold, false, false);
        sSize sz{0, 0};
        EXPECT_TRUE(f && f->getTextDim(nullptr, s, -1, sz));
        return sz.w;
    }
    cTestWindowTarget win;
    cChildElement root;
};

}  // namespace

TEST(MessageBox, SizeAndLinesFollowTheText) {
    sFixture f;
    const int H = 13;
    struct sCase {
        const char* text;
        std::vector<std::string> lines;
    };
    const sCase cases[] = {
        {"one line", {"one line"}},
        {"first\nsecond\n", {"first", "second"}},
        {"a\n\nlonger second line", {"a", "", "longer second line"}},
        {"", {}},
        {"\n", {""}},
    };
    for (const sCase& c : cases) {
        std::vector<std::string> shown;
        std::vector<int> ys;
        f.win.onModal = [&](cChildElement* root, cTestWindowTarget&) {
            auto* form = static_cast<cMessageForm*>(root);
            for (int i = 0; i < form->lineCount(); ++i) {
                shown.push_back(form->lineLabel(i)->textCopy());
                sRect r;
                ASSERT_TRUE(form->clientArea()->childRect(form->lineLabel(i), &r));
                ys.push_back(r.y);
            }
        };
        f.win.modals.clear();
        cMessageForm::infobox(&f.root, const_cast<char*>(c.text), const_cast<char*>("T"));
        ASSERT_EQ(f.win.modals.size(), 1u) << c.text;
        EXPECT_EQ(f.win.modals[0].title, "T");
        EXPECT_EQ(shown, c.lines) << c.text;
        int W = 0;
        for (size_t i = 0; i < c.lines.size(); ++i)
            W = std::max(W, f.width(c.lines[i].c_str(), i == 0) + (i == 0 ? 37 : 0));
        const int n = static_cast<int>(c.lines.size());
        EXPECT_EQ(f.win.modals[0].w, W + 30) << c.text;
        EXPECT_EQ(f.win.modals[0].h, n == 0 ? 105 : 115 + (3 * H * (n - 1)) / 2) << c.text;
        for (int i = 1; i < n; ++i) EXPECT_EQ(ys[static_cast<size_t>(i)], 42 + (i - 1) * ((3 * H) / 2));
        if (n) {
            EXPECT_EQ(ys[0], (29 - H) / 2);
        }
    }
}

TEST(MessageBox, AnswersByTheWayItWasClosed) {
    sFixture f;
    struct sCase {
        const char* name;
        int script;   // 0 nothing, 1 Yes/Ok button, 2 No button, 3 Escape, 4 keypad Enter
        int fallback; // the window's answer when the script ends nothing
        bool yes;
    };
    const sCase cases[] = {
        {"yes button", 1, 0, true},
        {"no button", 2, 0, false},
        {"escape", 3, 0, false},
        {"keypad enter", 4, 0, true},
        {"modal run failed", 0, -1, false},
        {"closed by the close box", 0, 0, false},
        {"other result", 0, 7, false},
    };
    for (const sCase& c : cases) {
        int buttons = 0;
        f.win.modalAnswer = c.fallback;
        f.win.onModal = [&](cChildElement* root, cTestWindowTarget&) {
            auto* form = static_cast<cMessageForm*>(root);
            buttons = (form->buttons()->findButton(1) ? 1 : 0) + (form->buttons()->findButton(2) ? 1 : 0);
            if (c.script == 1 || c.script == 2) form->buttons()->findButton(c.script)->notifyAction(0);
            if (c.script == 3) form->processKey(cCustomForm::kKeyEscape, false, false, false);
            if (c.script == 4) form->processKey(cCustomForm::kKeyPadEnter, false, false, false);
        };
        EXPECT_EQ(cMessageForm::confirmbox(&f.root, const_cast<char*>("Sure?"), nullptr), c.yes) << c.name;
        EXPECT_EQ(buttons, 2) << c.name;
        if (c.script != 2) {
            EXPECT_EQ(cMessageForm::errorbox(&f.root, const_cast<char*>("Bad"), nullptr) != 0, c.yes) << c.name;
            EXPECT_EQ(buttons, 1) << c.name;
        }
    }
    EXPECT_EQ(cMessageForm::infobox(nullptr, const_cast<char*>("x"), nullptr), 0);
    EXPECT_EQ(cMessageForm::infobox(&f.root, nullptr, nullptr), 0);
}

TEST(MessageBox, IconShowsThePictureOfItsKind) {
    sFixture f;
    cPicture* seen = nullptr;
    f.win.onModal = [&](cChildElement* root, cTestWindowTarget&) {
        seen = static_cast<cMessageForm*>(root)->icon()->image();
    };
    const int pics[] = {73, 75, 76, 74, 75};
    for (int k = 0; k < 5; ++k) {
        char text[] = "x";
        switch (k) {
            case 0: cMessageForm::infobox(&f.root, text, nullptr); break;
            case 1: cMessageForm::warningbox(&f.root, text, nullptr); break;
            case 2: cMessageForm::errorbox(&f.root, text, nullptr); break;
            case 3: cMessageForm::confirmbox(&f.root, text, nullptr); break;
            case 4: cMessageForm::warnconfirmbox(&f.root, text, nullptr); break;
        }
        EXPECT_EQ(seen, cCITheme::theme()->getPict(pics[k])) << k;
    }
}

namespace {

// Text index of a section in one of the toolkit's language source files.
std::string langText(const char* file, const std::string& section, int index) {
    std::ifstream in(std::string(QOR_SOURCE_DIR) + "/src/uitoolkit/lang/" + file);
    std::string line;
    bool inSection = false;
    const std::string key = std::to_string(index) + " = ";
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') inSection = line == "[" + section + "]";
        else if (inSection && line.compare(0, key.size(), key) == 0) return line.substr(key.size());
    }
    return "";
}

}  // namespace

TEST(MessageBox, UntitledBoxesAndButtonsSpeakTheToolkitLanguage) {
    sFixture f;
    cCIOMLang toolkit;
    ASSERT_TRUE(cLibLang::applyLang(lngDEU));
    const std::string error = langText("DEU.txt", "ciom::messages", 5);
    const std::string confirm = langText("DEU.txt", "ciom::messages", 6);
    const std::string yes = langText("DEU.txt", "ciom::messages", 1);
    const std::string no = langText("DEU.txt", "ciom::messages", 2);
    ASSERT_FALSE(error.empty());
    std::vector<std::string> texts;
    f.win.onModal = [&](cChildElement* root, cTestWindowTarget&) {
        auto* form = static_cast<cMessageForm*>(root);
        for (int id = 1; id <= 2; ++id)
            if (cButtonChild* b = form->buttons()->findButton(id)) texts.emplace_back(b->text() ? b->text() : "");
    };
    cMessageForm::errorbox(&f.root, const_cast<char*>("x"), nullptr);
    cMessageForm::confirmbox(&f.root, const_cast<char*>("x"), nullptr);
    ASSERT_EQ(f.win.modals.size(), 2u);
    EXPECT_EQ(f.win.modals[0].title, error);
    EXPECT_EQ(f.win.modals[1].title, confirm);
    EXPECT_EQ(texts, (std::vector<std::string>{langText("DEU.txt", "ciom::messages", 0), yes, no}));
    cLibLang::applyDefaultLang();
}
