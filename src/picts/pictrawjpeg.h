// The JPEG streams LibRaw's decoders read, weighed before they run.
//
// Several of LibRaw's decoders take the size of their work from a JPEG frame
// header inside the file, not from the sensor the file declares: the
// lossless JPEG of a DNG's strip or tiles (compression 7), and of CR2 and
// TIFF/EP raw data, is decoded for every row and sample its frame declares,
// and a Huffman table of no codes decodes each difference in no bits, so a
// few hundred bytes ask for billions of samples; a DNG's tiles may all point
// at one such stream.  Its lossy DNG and Kodak decoders hand their JPEG to
// libjpeg, which holds a progressive or multi-scan frame whole.
//
// Before such a decoder runs, the streams it will start are read here as it
// reads them (its tile walk, its offsets in its byte order, its parse of a
// lossless JPEG's markers, buffer and quirks included).  A stream that
// declares more samples than its tile or strip holds, a lossy frame larger
// than its tile, of more than one scan, or one libjpeg fails to start on
// (LibRaw leaks the decoder when libjpeg fails there), a Kodak frame not of
// the picture's size, and a stream LibRaw would divide by zero on are
// refused; the samples of the others, each stream counted for every tile
// that points at it, are the decode's work.
#pragma once

#include <cstddef>

// What LibRaw's identify left for its decoder.
struct sRawDecodePlan {
    enum eDecoder {
        kOther,          // a decoder whose work the sensor's size bounds
        kLosslessDng,    // lossless_dng_load_raw: a lossless JPEG per strip or tile
        kLossyDng,       // lossy_dng_load_raw: a libjpeg frame per strip or tile
        kLosslessJpeg,   // lossless_jpeg_load_raw: one lossless JPEG
        kCanonSraw,      // canon_sraw_load_raw: one lossless JPEG
        kKodakJpeg,      // kodak_jpeg_load_raw: one byte-swapped libjpeg frame
    };
    eDecoder decoder = kOther;
    long long dataOffset = 0;           // where the decoder starts reading
    unsigned dataSize = 0;              // the byte count it reads whole (Kodak)
    bool bigEndian = false;             // the order it reads tile offsets in
    // LibRaw's tile size; 2^31 - 1 or more for none (a strip).
    unsigned tileWidth = 0, tileLength = 0;
    unsigned rawWidth = 0, rawHeight = 0;  // the sensor
    unsigned width = 0, height = 0;        // its visible area
    unsigned samples = 1;                  // samples a pixel of the raw data
    bool cfa = false;                      // colour-filter-array data
    bool dng = false;                      // LibRaw read a DNG version
};

// The input as LibRaw reads it: the bytes at a position, fewer past its end.
class cRawBytes {
public:
    virtual std::size_t readAt(unsigned long long at, unsigned char* out, std::size_t n) = 0;
    virtual unsigned long long size() const = 0;

protected:
    ~cRawBytes() = default;
};

// Bytes in memory as cRawBytes.
class cRawMemoryBytes : public cRawBytes {
public:
    cRawMemoryBytes(const unsigned char* data, std::size_t size) : data_(data), size_(data ? size : 0) {}
    std::size_t readAt(unsigned long long at, unsigned char* out, std::size_t n) override;
    unsigned long long size() const override { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

// The work of the plan's decoder: every sample of every stream it will
// decode, and for every stream it starts kRawJpegStartWork (pictlimits.h)
// and a unit for each kRawStreamBytesPerCall bytes of its header.
// True with that work in `work` when each stream is one it may decode and
// the work stays within `limit`; false at the first stream refused, or once
// the work passes the limit (the walk stops there).
bool weighRawJpegStreams(const sRawDecodePlan& plan, cRawBytes& in, unsigned long long limit,
                         unsigned long long& work);

// What LibRaw's lossless JPEG reader (ljpeg_start) makes of the stream at
// `at`: false where it gives up, else the frame and scan it found.  A
// stream without Huffman table 0 (which LibRaw also gives up on) is taken
// as read, which can only overcharge it.
struct sRawLjpegFrame {
    int algo = 0, bits = 0, high = 0, wide = 0, clrs = 0, sraw = 0, psv = 0;
    unsigned long long bytes = 0;  // what LibRaw read of the stream to its scan
};
bool readRawLjpegFrame(cRawBytes& in, unsigned long long at, bool dng, sRawLjpegFrame& out);
