// DICOM, read through the stream interface.
//
// cPictDICOM        files with the 128-byte preamble and "DICM"
// cPictDICOMLegacy  data sets without the preamble (ACR-NEMA style files and
//                   DICOM files stripped of their preamble)
//
// The data set is walked here, element by element (explicit and implicit
// VR little-endian, GE's implicit form with big-endian samples, nested
// sequences, encapsulated fragments), every length checked against the
// file; the walk yields the image pixel module and the place of the pixel
// data.  Frame 0 is then read as stored, or decoded by cPictJPEG (the 8-bit
// DCT processes of libjpeg-turbo) or cPictJ2K (OpenJPEG).
//
// GDCM is not used for decoding: Debian's build keeps its assertions, so
// its readers and JPEG codecs abort the process on inconsistent files and
// damaged JPEG data, and its image reader starts the external "pvrg-jpeg"
// program when a JPEG codec fails.  Lossless and 12-bit JPEG, which only
// GDCM's codecs would decode here, are refused, as are palette colour,
// overlays, curves, big-endian and deflated data sets, RLE and JPEG-LS.
//
// MONOCHROME1/2 give grey (MONOCHROME1 inverted), RGB and YBR_FULL colour.
// Samples of up to 8 stored bits give 8-bit pixels, deeper ones 16-bit
// pixels widened to the full range (v * 65535 / (2^bits - 1), rounded);
// signed samples are offset by half their range first.  Rescale and
// windowing are left to the viewer.
#pragma once

#include "picts/pictbase.h"

class cPictDICOM : public cPictBase {
public:
    cPictDICOM();
    ~cPictDICOM() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptDICOM; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
};

class cPictDICOMLegacy : public cPictBase {
public:
    cPictDICOMLegacy();
    ~cPictDICOMLegacy() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptDICOMLegacy; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
};
