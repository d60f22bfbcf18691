// cEditChild: the single-line text entry.  A fixed-capacity UTF-16 buffer
// with a caret, an inclusive selection [start, end], horizontal scrolling of
// text wider than the field, clipboard copy, cut and paste, a banner shown
// while the field is empty and unfocused, read-only and password modes, and
// helpers that put a number into the field and read it back.
//
// Reports to its parent by notifying: 6 keypad Enter, 7 Escape without a
// selection, 8 focus lost.
#pragma once

#include "uitoolkit/element.h"

class cEditChild : public cChildElement {
public:
    enum eColorTypes { ctNormal = 0, ctFocused = 1, ctHover = 2, ctDisabled = 3, ctSpecial = 4 };
    enum { kActionEnter = 6, kActionEscape = 7, kActionFocusLost = 8 };
    // The longest text a field may be asked to hold.
    static constexpr long long kMaxMaxLen = 1 << 20;

    cEditChild();
    ~cEditChild() override;

    // ---- Text ------------------------------------------------------------
    // The text as UTF-8 in the field's own buffer, valid until the next call.
    const char* text() const override;
    void text(char* buffer, long long size) const override;
    // The UTF-8 text (length -1: up to the NUL), cut to the maximum length;
    // caret, scrolling and selection are reset.
    virtual void setText(const char* utf8, long long length);
    void setText(const char* utf8, long long length, bool) override { setText(utf8, length); }
    void wipeText() override;
    virtual void setBanner(const char* utf8);
    const char* banner() const { return mBanner.get(); }
    void setU64(unsigned long long value, bool hex, char separator);
    unsigned long long asU64() const;
    long long maxLen() const { return mText.count() - 1; }
    bool setMaxLen(long long n);
    // Units before the terminating NUL.
    long long length() const;
    const unsigned short* units() const { return mText.data(); }

    // ---- Modes and colours ---------------------------------------------
    bool readonly() const { return mReadOnly; }
    void setReadonly(bool b) { mReadOnly = b; }
    bool pwdMode() const { return mPassword; }
    void setPwdMode(bool b) { mPassword = b; }
    void setSelectOnFocus(bool b) { mSelectOnFocus = b; }
    void setCursorForRO(bool b);
    void resetColors(unsigned int background, unsigned int text, unsigned int border);
    void setColors(int set, unsigned int background, unsigned int text);
    unsigned int bgColor(int set) const { return set >= 0 && set <= 4 ? mColors[set].bg : 0; }
    unsigned int fgColor(int set) const { return set >= 0 && set <= 4 ? mColors[set].fg : 0; }
    unsigned int borderColor(int set) const { return set >= 0 && set <= 4 ? mColors[set].border : 0; }
    void setBorderColor(int set, unsigned int colour);
    unsigned int selectionColor() const { return mSelColor; }
    void setSelectionColor(unsigned int c) { mSelColor = c; }
    unsigned int selectionInactiveColor() const { return mSelInactiveColor; }
    void setSelectionInactiveColor(unsigned int c) { mSelInactiveColor = c; }
    void setStdFont(cFontObject* f) { mFont = f; }
    void setStdFont(int width, int size, const char* face, bool bold, bool underline, bool italic);
    void setBanFont(int width, int size, const char* face, bool bold, bool underline, bool italic);
    cFontObject* font() const { return mFont; }
    cFontObject* bannerFont() const { return mBannerFont; }

    // ---- Caret and selection ---------------------------------------------
    long long caret() const { return mCaret; }
    long long selStart() const { return mSelStart; }
    long long selEnd() const { return mSelEnd; }
    long long scrollOffset() const { return mScroll; }
    void cancelSelection();
    bool deleteSelection();
    bool cb_copy();
    bool cb_cut();
    bool cb_paste();
    long long symbolPos(int x) const;
    void processSelectKbd(long long from, long long to);

    // ---- Element hooks -----------------------------------------------------
    void onConstruct() override;
    void onPaint(cCanvas* canvas) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onMouseOver() override;
    void onMouseLeft() override;
    void onMouseDoubleClick(int x, int y) override;
    void onChar(unsigned short unit, bool, bool, bool) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    void onSetFocusEvent(eEventOrigin origin, bool a, bool b) override;
    void onLooseFocus(bool a, bool b) override;
    bool wantDoubleBuffer() override { return true; }
    bool wantTabStop() override { return true; }
    bool wantFullRepaint() override { return true; }
    bool wantCaptureArrows() override { return true; }
    void onInitData() override;

private:
    struct sColorSet {
        unsigned int bg, fg, border;
    };
    static bool isWhite(unsigned short u) { return u == 9 || u == 10 || u == 13 || u == 32; }
    void clearSelection() { mSelStart = mSelEnd = -1; }
    bool hasSelection() const { return mSelStart >= 0 && mSelEnd >= 0; }
    void selectAll();
    void removeUnits(long long from, long long count);

    _typebuf<unsigned short> mText;
    _typebuf<unsigned short> mMask;
    _guardchar<char> mBanner;
    mutable _guardchar<char> mUtf8;
    cFontObject* mFont = nullptr;
    cFontObject* mBannerFont = nullptr;
    _typebuf<int> mRuler;
    sColorSet mColors[5];
    bool mBorder = true;
    bool mUseSet4 = false;
    unsigned int mSelColor = 0;
    unsigned int mSelInactiveColor = 0;
    long long mCaret = 0;
    long long mScroll = 0;
    long long mSelStart = -1;
    long long mSelEnd = -1;
    bool mMouseSelecting = false;
    bool mHovered = false;
    bool mReadOnly = false;
    bool mPassword = false;
    bool mSelectOnFocus = true;
    bool mCursorForRO = true;
};
