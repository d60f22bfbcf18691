// The decompressor interface shared by the zlib and LZW decoders, and the
// limits every decoder of this library checks before it produces output.
//
// cDecompress      decodes one whole input buffer into one output buffer
//   cZDecompress     zlib data (zstream.h), typeOf 3
//   cLZWDecompress   GIF and TIFF LZW data (lzw.h), typeOf 1
#pragma once

#include "base/buffers.h"

// The most bytes one whole-buffer decode produces unless the caller sets a
// limit of its own (setOutputLimit).  A few kilobytes of zlib or LZW data can
// stand for gigabytes of output; past this the decode stops and reports
// failure instead of exhausting memory.
constexpr unsigned long long kDefaultDecodeOutputLimit = 1ULL << 32;

// The largest buffer size n a cZStream accepts (it allocates 4n bytes).  The
// output buffer of 2n bytes must also fit zlib's 32-bit counters.
constexpr long long kMaxZStreamBuffer = 1LL << 28;

class cDecompress {
public:
    enum eType : int {
        dtLZW = 1,
        dtZlib = 3,
    };

    virtual int typeOf() = 0;
    // Decodes all of in into out.  True only when the data ended properly;
    // on failure out holds what was decoded before it (see each decoder).
    virtual bool decompress(_typebuf<unsigned char> const& in, _typebuf<unsigned char>& out) = 0;
    virtual ~cDecompress() = default;
};
