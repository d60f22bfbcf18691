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
//
// A codestream can declare in a few bytes a picture whose every packet is
// empty, and the library lays out and decodes all of it: before it sees the
// stream, the decoder reads the main and tile-part headers itself
// (scanCodestream) and weighs what they declare, samples, code-blocks,
// precincts and the packets of every layer the library walks over every
// tile and component, against the codestream's bytes (cPictBase::
// inputCanDescribe); then the packet headers, for the coding passes they
// give each code-block, which the library runs over the whole block with
// data or not (pictjp2walk.cpp).  The thread's decode meter (cPictBase::
// decodeMeter), when there is one, is charged the same work.  Drawn into a
// render target smaller than the picture, it decodes only the resolution
// the target can show.
#pragma once

#include "picts/pictbase.h"

#include <memory>

class cPictJ2K : public cPictBase {
public:
    cPictJ2K();
    ~cPictJ2K() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJ2K; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
    bool supportsExtRendering() override { return true; }

    // What a codestream asks of the library, read from its main and
    // tile-part headers before the library lays out a thing.
    struct sGridHold;
    struct sCodestream {
        long long width = 0, height = 0;
        int components = 0;
        int tileParts = 0;
        // The fewest decomposition levels of any component anywhere: the
        // most resolutions a decode may leave out.
        int levels = 0;
        // The samples decoded with `reduce` resolutions left out, the
        // code-blocks and precincts made, and the work they weigh
        // (samples twice, each structure kJ2KBlockWork).
        struct sWork {
            unsigned long long samples = 0, blocks = 0, precincts = 0, units = 0;
            unsigned long long largest = 0;  // the samples of the largest component
            // The library's walk over the packets: the packets it steps
            // through (each progression volume's), the positions a
            // position-driven order steps over for each component and
            // resolution, the code-blocks packets visit (every layer's), and
            // the marks of its packet array.
            unsigned long long packets = 0, positions = 0, visits = 0, marks = 0;
            // The coding passes the code-blocks of the decoded resolutions
            // are given and their work (passes()), and the tiles whose packet
            // headers were not read as the library reads them, weighed at
            // the most passes it runs.
            unsigned long long passes = 0, passUnits = 0, tilesBounded = 0;
            // The data of the tiles read after their last packet, which the
            // library passes over, and the packets whose headers lay past
            // the end of theirs, which it reads as empty: an encoder leaves
            // neither.
            unsigned long long unread = 0, packetsPast = 0;
        };
        sWork work(int reduce) const;
        // Reads the packet headers of every tile, as the library will, and
        // adds the work of the coding passes they give to w (from work() of
        // the same reduction); false once w's units pass `limit` (the count
        // stops there), or when the walk would cost more than w weighed.
        bool passes(cFileIOTarget* stream, int reduce, unsigned long long limit, sWork& w) const;
        std::shared_ptr<sGridHold> grid_;
    };
    // The codestream of `length` bytes at `start`; false when its headers
    // are damaged, it holds more tiles or tile-components than its bytes
    // could, or a component has no coding style.
    static bool scanCodestream(cFileIOTarget* stream, unsigned long long start, unsigned long long length,
                               sCodestream& out);
    // The work of the last decode and the resolutions it left out.
    const sCodestream::sWork& decodedWork() const { return work_; }
    int decodedReduction() const { return reduce_; }

protected:
    // The decode of both: a bare codestream, or the one in a JP2 file.
    bool decodeFrom(cFileIOTarget* stream, bool jp2);

    sCodestream::sWork work_;
    int reduce_ = 0;
};

// The JP2 file format: the codestream in its box, decoded as above.
class cPictJP2 : public cPictJ2K {
public:
    cPictJP2();
    ~cPictJP2() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJP2; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;
};
