// TIFF and BigTIFF decoded by libtiff, read through the stream interface
// (TIFFClientOpen over a cFileIOTarget, never a file name).  Page 0 only.
//
// Grey, grey with alpha, RGB and RGBA of 8 or 16 bits per sample stored
// contiguously are read strip by strip or tile by tile and kept at their
// depth (16-bit samples in the 16-bit buffer); everything else (palette,
// bilevel, CCITT fax, YCbCr, CMYK, separate planes, odd depths) goes through
// libtiff's RGBA reader into 8-bit pixels.  libtiff's errors and warnings
// are taken by handlers of this decoder: a failure result, nothing printed.
// The Orientation tag is applied: the picture comes out as it is meant to
// be seen.
#pragma once

#include "picts/pictbase.h"

class cPictTIFF : public cPictBase {
public:
    cPictTIFF();
    ~cPictTIFF() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptTIFF; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;

    struct sSession;  // one libtiff handle over a stream

private:
    bool decodeSamples(sSession& s);
    bool decodeRGBA(sSession& s);
    // Whether the first strip or tile's bytes lie inside the stream.
    static bool firstStrileInside(sSession& s);
    bool applyOrientation(int orientation);
};
