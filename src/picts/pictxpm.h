// XPM 3 (the C-source text form): up to four characters per pixel, colours
// as '#' with 6 or 12 hexadecimal digits, or "None" (transparent).
#pragma once

#include "picts/pictbase.h"

class cPictXPM : public cPictBase {
public:
    cPictXPM() = default;
    ~cPictXPM() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptXPM; }
    // Looks at the first kProbeBytes bytes only.
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }
    // XPM is not written.
    static bool save(cPictBase*, cFileIOTarget*) { return false; }

    static constexpr unsigned int kProbeBytes = 255;
    static constexpr int kMaxCharsPerPixel = 4;
};
