// JPEG 2000 decoded by OpenJPEG, read through the stream interface (the
// library's stream callbacks over a cFileIOTarget).
//
// cPictJP2  the JP2 file format: boxes around one codestream
// cPictJ2K  a bare codestream (SOC followed by SIZ)
//
// One to four components become grey, grey with alpha, RGB or RGBA;
// components of up to 8 bits give 8-bit pixels, deeper ones 16-bit pixels,
// each sample widened to the full range (v * max / (2^bits - 1), rounded).
// The picture's size and the library's sample buffers are checked against
// the size caps before the library decodes; its messages go nowhere.
#pragma once

#include "picts/pictbase.h"

class cPictJP2 : public cPictBase {
public:
    cPictJP2();
    ~cPictJP2() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJP2; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
};

class cPictJ2K : public cPictBase {
public:
    cPictJ2K();
    ~cPictJ2K() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJ2K; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
};
