// Binary Netpbm pictures: P4 (bitmap), P5 (grey map) and P6 (pixel map).
// Samples are scaled from the file's maximum value to 8 bits (maximum
// below 256) or 16 bits (maximum 256 to 65535).
#pragma once

#include "base/bytereader.h"
#include "picts/pictbase.h"

class cPictPPM : public cPictBase {
public:
    cPictPPM() = default;
    ~cPictPPM() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptPPM; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    // Reads and checks the header, leaving the stream at the first raster
    // byte; sets width, height, format digit and maximum value.
    bool loadSkipHeader(cByteReader& in);
    // Skips blanks and comments; c gets the first other byte (consumed).
    bool skipSpaces(cByteReader& in, char* c);

    char format() const { return format_; }
    unsigned int maxValue() const { return maxval_; }

    // The most digits a number of the header may have.
    static constexpr int kMaxDigits = 10;

protected:
    // One header number: digits, then one blank or a comment.
    bool readNumber(cByteReader& in, unsigned long long& value);
    // Passes a comment whose '#' was read, up to and with its line end.
    bool skipComment(cByteReader& in);

    char format_ = 0;
    unsigned int maxval_ = 0;
};
