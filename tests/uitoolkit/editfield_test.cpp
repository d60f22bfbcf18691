// The edit field driven by scripts of synthetic keys, characters and pointer
// events through a root element, as a window would deliver them; each row
// states the text, caret, selection, clipboard and notified actions that
// must result.  The fixed-metric test font advances 6 pixels per unit.
#include "uitoolkit/editfield.h"
#include "recordingcanvas.h"
#include "testwindow.h"

#include <gtest/gtest.h>

#include <sstream>

using qortest::cFixedFont;
using qortest::cManualClock;
using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        // Codes below 6 are the core's own (focus requests and the like).
        if (a->code() >= 6) actions += (actions.empty() ? "" : " ") + std::to_string(a->code());
        return true;
    }
    std::string actions;
};

struct sRig {
    sRig() {
        cFixedFont::install();
        win.bind(&root, 200, 40);
        root.attach(&edit, 0, 0, 100, 20);
    }
    ~sRig() { root.dettach(&edit); }
    void focus(cChildElement* e) {
        root.processOSFocus();
        root.processFocusDirect(e);
    }
    void paint() {
        cRecordingCanvas c(100, 20);
        edit.onPaint(&c);
    }
    // Words: "t=text" types, "k=name" presses a key (prefixes S- C-),
    // "d=x"/"u=x"/"m=x" press, release, move the pointer, "2=x" double-clicks.
    void run(const std::string& script) {
        std::istringstream in(script);
        std::string w;
        while (in >> w) {
            std::string op = w.substr(0, w.find('=')), arg = w.substr(w.find('=') + 1);
            if (op == "t") {
                for (char ch : arg) root.processChar((unsigned char)(ch == '_' ? ' ' : ch), false, false, false);
            } else if (op == "k") {
                bool shift = false, ctrl = false;
                while (arg.size() > 2 && arg[1] == '-') {
                    (arg[0] == 'S' ? shift : ctrl) = true;
                    arg = arg.substr(2);
                }
                static const std::map<std::string, int> keys = {
                    {"Home", 0x150}, {"Left", 0x151}, {"Up", 0x152}, {"Right", 0x153}, {"Down", 0x154},
                    {"End", 0x157}, {"BS", 0x108}, {"Ins", 0x163}, {"Esc", 0x11B}, {"Enter", 0x18D},
                    {"Del", 0x1FF}, {"A", 0x41}, {"C", 0x43}, {"V", 0x56}, {"X", 0x58}};
                root.processKey(keys.at(arg), shift, ctrl, false);
            } else {
                int x = std::stoi(arg);
                paint();
                cManualClock::now += 1000;
                if (op == "d") root.processMouseBtn(x, 10, 1, true, false, false);
                if (op == "u") root.processMouseBtn(x, 10, 1, false, false, false);
                if (op == "m") root.processMouseMove(x, 10);
                if (op == "2") {
                    root.processMouseBtn(x, 10, 1, true, false, false);
                    root.processMouseBtn(x, 10, 1, false, false, false);
                    cManualClock::now += 100;
                    root.processMouseBtn(x, 10, 1, true, false, false);
                    root.processMouseBtn(x, 10, 1, false, false, false);
                }
            }
        }
        win.drain();
    }
    cManualClock clock;
    cTestWindowTarget win;
    cRoot root;
    cEditChild edit;
};

std::string sel(const cEditChild& e) {
    return std::to_string(e.selStart()) + ".." + std::to_string(e.selEnd());
}

}  // namespace

TEST(EditField, ScriptsOfKeysCharactersAndPointerEvents) {
    struct sRow {
        const char* start;
        int maxLen;      // -1: the default
        const char* mode;  // r read-only, p password, n cursor-for-read-only off
        const char* script;
        const char* text;
        long long caret;
        const char* selection;
        const char* clipboard;  // "-": nothing was copied
        const char* actions;
    } rows[] = {
        {"", -1, "", "t=abc", "abc", 3, "-1..-1", "-", ""},
        {"abcdef", -1, "", "k=End k=Left k=Left k=Left k=S-Left", "abcdef", 2, "2..2", "-", ""},
        {"abcdef", -1, "", "k=End k=Left k=Left k=Left k=S-Left k=S-Right", "abcdef", 3, "-1..-1", "-", ""},
        {"abcdef", -1, "", "k=Home k=S-Right k=S-Right k=C-C", "abcdef", 2, "0..1", "ab", ""},
        {"abcdef", -1, "", "k=Home k=S-Right k=S-Right k=C-X", "cdef", 0, "-1..-1", "ab", ""},
        {"abcdef", -1, "", "k=C-A k=S-Del", "", 0, "-1..-1", "abcdef", ""},
        {"abcdef", -1, "", "k=End k=BS k=Home k=Del", "bcde", 0, "-1..-1", "-", ""},
        {"abcdef", -1, "", "k=End k=S-Home t=X", "X", 1, "-1..-1", "-", ""},
        {"one two  three", -1, "", "k=End k=C-Left k=C-Left k=C-Left", "one two  three", 4, "-1..-1", "-", ""},
        {"one two  three", -1, "", "k=Home k=C-Right k=C-Right k=C-S-Right", "one two  three", 7, "4..6", "-", ""},
        {"abc", -1, "", "k=C-A k=Esc k=Esc k=Enter", "abc", 3, "-1..-1", "-", "7 6"},
        {"", 3, "", "t=abcd", "abc", 3, "-1..-1", "-", ""},
        // Pointer: units end at 6, 12, 18 ... from the text's start.
        {"abcdef", -1, "", "d=13 u=13 t=Z", "abZcdef", 3, "-1..-1", "-", ""},
        {"abcdef", -1, "", "d=2 m=20 m=26 u=26 k=C-C", "abcdef", 4, "0..3", "abcd", ""},
        {"abcdef", -1, "", "d=26 m=8 u=8", "abcdef", 1, "1..3", "-", ""},
        {"one two  three", -1, "", "2=45", "one two  three", 9, "7..8", "-", ""},
        {"one two  three", -1, "", "2=30 k=C-C", "one two  three", 7, "4..6", "two", ""},
        {"one two", -1, "", "2=90", "one two", 7, "4..6", "-", ""},
        {"", -1, "", "2=10 t=a", "a", 1, "-1..-1", "-", ""},
        // Read-only: no change to the text, but selection and copy work.
        {"abcdef", -1, "r", "t=x k=BS k=Del k=End k=S-Left k=S-Left k=C-X k=C-V", "abcdef", 4, "4..5", "ef", ""},
        {"abcdef", -1, "rn", "k=End k=S-Left d=2 m=20 u=20 k=C-C", "abcdef", 3, "-1..-1", "-", ""},
        // Password: the hidden text is neither copied nor removed by a cut.
        {"secret", -1, "p", "k=C-A k=C-C k=C-X k=S-Del", "secret", 6, "0..5", "-", ""},
        {"secret", -1, "p", "k=C-A k=BS t=new", "new", 3, "-1..-1", "-", ""},
    };
    for (const sRow& r : rows) {
        SCOPED_TRACE(std::string(r.start) + " | " + r.mode + " | " + r.script);
        sRig rig;
        if (r.maxLen >= 0) {
            ASSERT_TRUE(rig.edit.setMaxLen(r.maxLen));
        }
        rig.edit.setText(r.start, -1);
        std::string mode = r.mode;
        rig.edit.setReadonly(mode.find('r') != std::string::npos);
        rig.edit.setPwdMode(mode.find('p') != std::string::npos);
        if (mode.find('n') != std::string::npos) rig.edit.setCursorForRO(false);
        rig.edit.setSelectOnFocus(false);
        rig.focus(&rig.edit);
        rig.run(r.script);
        EXPECT_STREQ(rig.edit.text(), r.text);
        EXPECT_EQ(rig.edit.caret(), r.caret);
        EXPECT_EQ(sel(rig.edit), r.selection);
        EXPECT_EQ(rig.win.hasClipboard ? rig.win.clipboard : std::string("-"), r.clipboard);
        EXPECT_EQ(rig.root.actions, r.actions);
    }
}

TEST(EditField, PasteKeepsToTheCapacityAndDropsControlCharacters) {
    struct sRow {
        const char* start;
        int maxLen;
        const char* clipboard;
        const char* script;
        const char* text;
        long long caret;
    } rows[] = {
        {"", 3, "abcdef", "k=C-V", "abc", 3},
        {"ad", 5, "bc", "k=Home k=Right k=C-V", "abcd", 3},
        {"ad", 3, "bc", "k=Home k=Right k=S-Ins", "abc", 3},
        // Line breaks (CR LF as one) and tabs become spaces; other controls go.
        {"xy", -1, "a\tb\r\nc\x1b[0m\x7f", "k=End k=C-V", "xya b c[0m", 10},
        {"", -1, "one\ntwo\tthree\r\rfour\n", "k=C-V", "one two three  four ", 20},
        {"hello", -1, "J", "k=C-A k=C-V", "J", 1},
        {"", 2, "a\xF0\x9F\x98\x80", "k=C-V", "a", 1},
        {"", 3, "a\xF0\x9F\x98\x80", "k=C-V", "a\xF0\x9F\x98\x80", 3},
    };
    for (const sRow& r : rows) {
        SCOPED_TRACE(r.script);
        sRig rig;
        if (r.maxLen >= 0) {
            ASSERT_TRUE(rig.edit.setMaxLen(r.maxLen));
        }
        rig.edit.setText(r.start, -1);
        rig.edit.setSelectOnFocus(false);
        rig.focus(&rig.edit);
        rig.win.clipboard = r.clipboard;
        rig.win.hasClipboard = true;
        rig.run(r.script);
        EXPECT_STREQ(rig.edit.text(), r.text);
        EXPECT_EQ(rig.edit.caret(), r.caret);
    }
}

TEST(EditField, SetTextKeepsTheTerminatorAndNumbersRoundTrip) {
    sRig rig;
    ASSERT_TRUE(rig.edit.setMaxLen(4));
    rig.edit.setText("abcdefgh", -1);
    EXPECT_STREQ(rig.edit.text(), "abcd");
    EXPECT_EQ(rig.edit.units()[4], 0);
    // A pair that does not fit whole is left out rather than cut.
    rig.edit.setText("abc\xF0\x9F\x98\x80", -1);
    EXPECT_STREQ(rig.edit.text(), "abc");
    rig.edit.setText("abcdefgh", 2);
    EXPECT_STREQ(rig.edit.text(), "ab");

    struct sNum {
        unsigned long long v;
        bool hex;
        char sep;
        const char* text;
    } nums[] = {
        {1234567, false, ',', "1,234,567"},
        {255, true, 0, "0xFF"},
        {0, false, ',', "0"},
        {123, false, '.', "123"},
        {1000, false, ' ', "1 000"},
        {18446744073709551615ull, false, 0, "18446744073709551615"},
        {18446744073709551615ull, false, ',', "18,446,744,073,709,551,615"},
        {9223372036854775808ull, false, 0, "9223372036854775808"},
        {0xFFFFFFFFull, true, ',', "0,xFF,FFF,FFF"},
    };
    sRig wide;
    for (const sNum& n : nums) {
        SCOPED_TRACE(n.text);
        wide.edit.setU64(n.v, n.hex, n.sep);
        EXPECT_STREQ(wide.edit.text(), n.text);
        if (!n.sep) {
            EXPECT_EQ(wide.edit.asU64(), n.v);
        }
    }
    wide.edit.setText("18446744073709551616", -1);
    EXPECT_EQ(wide.edit.asU64(), ~0ull);
    EXPECT_FALSE(rig.edit.setMaxLen(-1));
}

TEST(EditField, FocusSelectsAllAndLosingItNotifies) {
    sRig rig;
    cEditChild other;
    rig.root.attach(&other, 0, 20, 100, 20);
    rig.edit.setText("hello", -1);
    rig.focus(&rig.edit);
    EXPECT_EQ(sel(rig.edit), "0..4");
    EXPECT_EQ(rig.edit.caret(), 5);
    rig.focus(&other);
    rig.win.drain();
    EXPECT_EQ(sel(rig.edit), "-1..-1");
    EXPECT_EQ(rig.root.actions, "8");
    rig.root.dettach(&other);
}

TEST(EditField, PaintingShowsMaskBannerSelectionAndScrollsToTheCaret) {
    sRig rig;
    auto texts = [&](bool focusFirst) {
        if (focusFirst) rig.focus(&rig.edit);
        cRecordingCanvas c(100, 20);
        rig.edit.onPaint(&c);
        std::string out;
        for (auto& call : c.calls)
            if (call.op == "text" || call.op == "line")
                out += call.op + " " + std::to_string(call.x) + "," + std::to_string(call.y) + " " + call.text + "\n";
        return out;
    };
    rig.edit.setBanner("type here");
    EXPECT_EQ(texts(false), "text 2,3 type here\n");
    rig.edit.setReadonly(true);
    EXPECT_EQ(texts(false), "");
    rig.edit.setReadonly(false);
    // Focused and empty: only the caret at x = 1 (font 13 high, y = 3).
    EXPECT_EQ(texts(true), "line 1,3 \n");
    rig.edit.setSelectOnFocus(false);
    rig.edit.setPwdMode(true);
    rig.root.processChar('a', false, false, false);
    rig.root.processChar('b', false, false, false);
    EXPECT_EQ(texts(false), "text 2,3 \xE2\x80\xA2\xE2\x80\xA2\nline 13,3 \n");
    rig.edit.setPwdMode(false);
    rig.root.processKey(0x151, true, false, false);  // Shift+Left selects "b"
    EXPECT_EQ(texts(false), "text 2,3 a\ntext 8,3 b\nline 7,3 \n");
    // 20 units of 6 pixels overflow a 100-pixel field: the caret stays at w - 2.
    rig.edit.setText("", -1);
    for (int i = 0; i < 20; ++i) rig.root.processChar('x', false, false, false);
    std::string s = texts(false);
    EXPECT_EQ(rig.edit.scrollOffset(), -(120 + 1 - 98));
    EXPECT_NE(s.find("line 98,3"), std::string::npos) << s;
    rig.root.processKey(0x150, false, false, false);
    texts(false);
    EXPECT_EQ(rig.edit.scrollOffset(), 0);
}
