// JBIG2 files (the standalone file format: ID string, file header, then
// segments) decoded by jbig2dec, fed from the stream interface.  Page 1
// becomes an 8-bit picture: black 0xFF000000, white 0xFFFFFFFF.
//
// The probe reads the file header and the first page's information segment
// itself (width and height, before the library sees a byte); the library
// allocates through an allocator that caps its memory, and its messages
// only mark the decode as failed.  Before the library sees a byte, the
// decoder weighs what the whole file declares (planWork): the work of every
// segment against all the file's bytes, and the page against the bilevel
// rule of pictlimits.h; jbig2dec decodes a region to its last declared
// pixel however early its data ends.  What no header declares (the sizes
// of symbols, refined ones among them, and the placements of aggregate
// symbols) is charged to the same budget as the library meets it, through
// its allocations and its messages.
#pragma once

#include "picts/pictbase.h"
#include <cstddef>
#include <cstdint>

class cPictJBIG2 : public cPictBase {
public:
    cPictJBIG2();
    ~cPictJBIG2() override;

    static bool validFor(cFileIOTarget* stream, sPictInfo* info);

    int typeOf() override { return ptJBIG2; }
    bool isPicture(cFileIOTarget* stream, sPictInfo* info) override;
    bool decode(cFileIOTarget* stream) override;

    // The first page's size from its page information segment; a height of
    // 0xFFFFFFFF (striped, height known at the end) comes back as 0.
    static bool readPageSize(cFileIOTarget* stream, long long& width, long long& height);

    // Whether a segment of this type and data length declares work in
    // proportion to its bytes (symbol instances, symbols, patterns, region
    // and grid area); data holds the first `have` bytes of its data.  The
    // decode feeds the library one segment at a time and stops at the first
    // that is not; the caller's progress target (refPictDrawProgress) is
    // told between segments, and a false answer stops the decode too.
    static bool segmentInProportion(unsigned int type, std::uint32_t length, const unsigned char* data,
                                    std::size_t have);
    // Bytes the last decode handed to the library.
    unsigned long long bytesFedToLibrary() const { return fed_; }

    // The work a segment declares (pictlimits.h, kJbig2FreeWork): its
    // pixels or items weighed by what each costs the library.
    static unsigned long long segmentWork(unsigned int type, const unsigned char* data, std::size_t have);
    // The most work a file of inputBytes may declare.
    static long long workBudget(long long inputBytes);
    // What a whole file declares, read before the library sees it: the work
    // of every segment whose data the stream holds, and the bytes up to the
    // end of the last of them.  The decode refuses a file whose work is
    // past workBudget(bytes), or whose page is more than those bytes can
    // describe (the bilevel rule of pictlimits.h).
    struct sWorkPlan {
        unsigned long long work = 0;
        long long bytes = 0;
    };
    static bool planWork(cFileIOTarget* stream, sWorkPlan& plan);
    // The plan of the last decode.
    const sWorkPlan& plannedWork() const { return planned_; }
    // All the library allocated over the last decode: at most the work
    // budget of the file's bytes / 16.
    unsigned long long bytesAllocatedByLibrary() const { return libraryBytes_; }
    // The work that was charged for it, each byte weighed by what the
    // segment it was allocated for makes of it (symbols are decoded, and
    // refined, pixel by pixel), and for the placements of aggregate
    // symbols, which no header declares: at most the work budget of the
    // file's bytes, or the decode fails where it went past.
    unsigned long long libraryWork() const { return libraryWork_; }

private:
    unsigned long long fed_ = 0;
    unsigned long long libraryBytes_ = 0;
    unsigned long long libraryWork_ = 0;
    sWorkPlan planned_;
};
