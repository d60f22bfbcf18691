// TGA: colour-mapped, true-colour and grey images, plain or run-length
// coded, stored bottom row first or top row first.
#pragma once

#include "base/bytereader.h"
#include "picts/pictbase.h"

class cPictTGA : public cPictBase {
public:
    cPictTGA() = default;
    ~cPictTGA() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptTGA; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    // The 18-byte file header, as read.
    struct sHeader {
        unsigned char idLength = 0, mapType = 0, imageType = 0;
        unsigned short mapFirst = 0, mapLength = 0;
        unsigned char mapEntryBits = 0;
        unsigned short xOrigin = 0, yOrigin = 0, width = 0, height = 0;
        unsigned char depth = 0, descriptor = 0;
    };

protected:
    bool decodeInto(cFileIOTarget* stream);
    bool readHeader(cByteReader& in);
    // The probe's rules: type, colour-map fields, origin, size, depth.
    bool headerAcceptable() const;
    bool loadPalette(cByteReader& in);
    // n pixel values of depth/8 bytes each into 0xAARRGGBB; false for a
    // colour index outside the colour map.
    bool convertRow(const unsigned char* v, unsigned int* out, long long n) const;
    bool decodePlain(cByteReader& in);
    bool decodeRle(cByteReader& in);
    // Where file row r is converted: its picture row, or the line sent to
    // the render target.
    unsigned int* rowOut(long long fileRow);
    // File row r done: its alpha noted, and sent to the render target.
    void finishRow(long long fileRow, const unsigned int* row);

    sHeader hdr_;
    _typebuf<unsigned int> palette_;  // one entry per colour-map entry
    bool extActive_ = false;
    bool anyAlpha_ = false;
    _typebuf<unsigned int> line_;
};
