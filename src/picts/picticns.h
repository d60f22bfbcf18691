// Apple icon families: a big-endian container of typed elements, each one
// image at one size.  Classic 1-, 4- and 8-bit bitmaps and 24-bit ones
// (raw or run-length packed) with separate masks are converted here; PNG and
// JPEG 2000 elements go to their own decoders over a window of the stream.
// Every image element is one page; decode takes the largest.
#pragma once

#include <functional>

#include "picts/pictbase.h"

class cPictICNS : public cPictBase {
public:
    cPictICNS() = default;
    ~cPictICNS() override = default;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);
    int typeOf() override { return ptICNS; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }
    bool supportsMultipage() override { return true; }
    int getNumPages(cFileIOTarget* stream) override;
    bool getPageSize(cFileIOTarget* stream, int page, int& w, int& h) override;
    bool decodePage(cFileIOTarget* stream, int page) override;
    bool decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                           bool allowDecode, unsigned int background) override;
    bool getPreview(cFileIOTarget* stream, cPictBase& out, const long long* maxW, const long long* maxH) override;

    // The largest image whose size is within maxWidth x maxHeight (both at
    // least 16); the first of equal areas wins.
    bool findMaxPage(cFileIOTarget* stream, int& width, int& height, unsigned& offset, unsigned& length, int maxWidth,
                     int maxHeight);
    // The element of page `page` (image elements in file order).
    bool goToPage(cFileIOTarget* stream, int page, unsigned& offset, unsigned& length);
    // The size of an element of the given type (its four bytes, big-endian).
    bool getCurrPageSize(cFileIOTarget* stream, unsigned type, unsigned offset, unsigned length, int& width,
                         int& height);
    bool decodeImage(cFileIOTarget* stream, unsigned offset, unsigned length);
    // Bits are 1, 4, 8 (palette indices) or 24 (R, G, B bytes); the mask is
    // 8-bit (alpha bytes) or 1-bit (set = opaque), or null for opaque.
    bool processBitmap(const unsigned char* data, int width, int height, int bits, const unsigned char* mask,
                       int maskBits);
    // The run-length packing of 24-bit elements: each channel in turn (all
    // red bytes, then green, then blue) into interleaved R, G, B pixels.
    static bool unpackRLE24(const unsigned char* source, std::size_t sourceLength, unsigned char* destination,
                            std::size_t destinationLength);

    static const unsigned int icnsPalette4bpp[16];
    static const unsigned int* icnsPalette8bpp();

    // One element: its type (four bytes, big-endian), the offset of its
    // head and its whole length (head included).
    struct sElement {
        unsigned type = 0;
        unsigned offset = 0;
        unsigned length = 0;
    };

private:
    // Calls fn for every element in file order until it returns false;
    // false on a damaged header or element.
    static bool walk(cFileIOTarget* stream, const std::function<bool(const sElement&)>& fn);
    // Whether the element is an image (a page), with its size.
    bool pageSize(cFileIOTarget* stream, const sElement& e, int& width, int& height);

    unsigned int elemOffset_ = 0xFFFFFFFFu;
    unsigned int elemLength_ = 0;
};
