// cMacCTFont: the toolkit's font on the platform's text engine, with the
// platform's point-size rule, a synthetic slant for italics and stretch
// corrections for three East Asian faces; and the platform's factories of
// fonts and the choice of the standard face by the applied language.
#pragma once

#include "mactext/ctshim.h"
#include "uitoolkit/canvas.h"

class cMacCTFont : public cFontObject {
public:
    cMacCTFont() = default;
    ~cMacCTFont() override;

    bool define(int width, int size, const char* face, bool bold, bool underline, bool italic) override;
    bool apply(cCanvas* canvas) override;
    bool getTextDim(cCanvas* canvas, const char* text, long long n, sSize& out) override;
    bool getTextDim(cCanvas* canvas, const unsigned short* text, long long n, sSize& out) override;

    void close();
    // out[i]: the advance from the start of the text to the end of unit i,
    // for every one of the n units (n = -1: up to the terminating 0).
    bool textRuler(const unsigned short* text, long long n, int* out);

    CTFontRef ctFont() const { return mFont; }

    // What define asks the text engine for: the name, the point size and
    // the glyph transform.
    struct sRequest {
        char name[256];
        float points;
        CGAffineTransform matrix;
    };
    static void request(int size, const char* face, bool bold, bool italic, sRequest& out);

private:
    CTFontRef mFont = nullptr;
};

// A new, undefined platform font (the toolkit's font maker).
cFontObject* newMacCTFont();
// Installs newMacCTFont as the toolkit's font maker.
void installPlatformFonts();

// Chooses the standard face for the applied language and stores it in the
// platform font settings; writes the default block alignment into align.
// Returns the face chosen.
const char* setDefaultPlatformFont(int* align);
