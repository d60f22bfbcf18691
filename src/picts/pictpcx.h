// PCX: version 5, run-length coded, 8 bits per plane; one plane of palette
// indices (256-colour trailer or the 16-colour header palette) or three
// planes of red, green and blue.
#pragma once

#include "base/bytereader.h"
#include "picts/pictbase.h"

class cPictPCX : public cPictBase {
public:
    cPictPCX() = default;
    ~cPictPCX() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptPCX; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    static constexpr unsigned int kHeaderBytes = 128;
    // The 256-colour trailer: the byte 12 and 768 bytes of red, green, blue.
    static constexpr unsigned int kTrailerBytes = 769;

protected:
    // Reads and checks the header from the stream's position; sets width,
    // height, planes and bytes per line.
    bool loadHeader(cByteReader& in);
    bool loadPalette(cByteReader& in);

    _typebuf<unsigned int> palette_;
    unsigned int paletteCount_ = 0;
    int planes_ = 0;
    int bytesPerLine_ = 0;
    unsigned char header_[kHeaderBytes];
};
