// Windows icons and cursors: a directory of entries, each a bitmap (a DIB
// whose stored height covers the colour rows and the 1-bit AND mask) or a
// PNG.  Every entry is one page; the probe reports the largest.  The entry's
// own decoder reads a window of the stream and its picture is moved into
// this one (or renders into this picture's external render target).
#pragma once

#include "picts/pictbase.h"

class cPictICO : public cPictBase {
public:
    cPictICO() = default;
    ~cPictICO() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);
    int typeOf() override { return ptICO; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override { return validFor(stream, info); }
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }
    bool supportsMultipage() override { return true; }
    int getNumPages(cFileIOTarget* stream) override;
    bool getPageSize(cFileIOTarget* stream, int page, int& w, int& h) override;
    bool decodePage(cFileIOTarget* stream, int page) override;
    bool decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                           bool allowDecode, unsigned int background) override;
    // The largest entry within the limits (a null limit does not restrict),
    // decoded at its own size into out.
    bool getPreview(cFileIOTarget* stream, cPictBase& out, const long long* maxW, const long long* maxH) override;

    // One icon image: a directory entry's bytes, or an executable's icon
    // resource.  It is a PNG, or a DIB whose stored height covers the colour
    // rows and the 1-bit AND mask and whose palette follows its header.
    // Its size and kind; false when it is neither.
    static bool measureIconImage(cFileIOTarget* image, long long& w, long long& h, bool& png);
    // Decoded into `into`, or into into's external render target when it has
    // one; a decoder that could not render there keeps its own picture, which
    // is moved into `into` for the caller to fit.  The one icon-entry decoder
    // of the library: icons, cursors and executables' icons.
    static bool decodeIconImage(cFileIOTarget* image, cPictBase& into);

    // One directory entry: where its image lies and what it measures.
    struct sEntry {
        unsigned int size = 0;
        unsigned int offset = 0;
        long long width = 0;
        long long height = 0;
        bool png = false;
    };

private:
    // Reads the 6-byte header; the entry count, 0 when the header is bad.
    static unsigned int readHeader(cFileIOTarget* stream);
    // Reads entry i and measures its image (PNG or DIB); false when neither.
    static bool readEntry(cFileIOTarget* stream, unsigned int i, sEntry& e);
    // Decodes one entry into `into` (or into `into`'s external target).
    static bool decodeEntry(cFileIOTarget* stream, const sEntry& e, cPictBase& into);

    int page_ = 0;
};
