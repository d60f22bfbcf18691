// The walk of a TIFF-based camera raw file (DNG, NEF, CR2, ARW, PEF, ORF,
// RW2 ...) that comes before LibRaw sees a byte of it.
//
// LibRaw's TIFF parser trusts what it reads: counts, offsets and the values
// it indexes its tables with.  So the whole structure it would follow is read
// here first, through the stream and within the file: the IFD chain, every
// sub-IFD, the EXIF, GPS and interoperability tables, Kodak's and Fuji's
// directories, and the TIFF inside a JPEG that a strip may hold.  Each table
// must lie whole in the file, each entry be of a known type with its values
// in the file, each IFD be reached once, the values LibRaw sizes or indexes
// with be ones it can take.  A file that fails any of it is not a raw picture.
//
// Entries that lead LibRaw into structures of a maker's own (maker notes,
// DNG private data, Sony's, Leaf's and Hasselblad's blocks) are not walked:
// their tag is renamed, in the view LibRaw gets, to one no parser of its
// reads, so it passes over them.  The walk lists where those tags lie.
#pragma once

#include <cstddef>
#include <vector>

class cFileIOTarget;

struct sRawTiffWalk {
    char make[32] = {};     // IFD 0's Make
    bool dng = false;       // IFD 0 holds DNGVersion
    bool tiffEP = false;    // IFD 0 holds the TIFF/EP standard id
    bool cfa = false;       // an IFD of colour-filter-array or linear raw data
    long long rawWidth = 0, rawHeight = 0;  // the first such IFD's size
    // An IFD holds a 36-entry CFA pattern (an X-Trans one) without 6 x 6
    // repeat dimensions before it, or one in Kodak's tag: LibRaw 0.20 takes
    // it for X-Trans data anyway and reads far outside its tables.
    bool unsafeCfa = false;
    // Where the tags LibRaw must pass over lie (the entry's first byte), in
    // rising order, with the byte order of their table.
    struct sHidden {
        unsigned long long at;
        bool little;
    };
    std::vector<sHidden> hidden;
};

// The tag hidden entries carry in LibRaw's view (Microsoft's padding tag,
// which none of its parsers reads).
constexpr unsigned kRawHiddenTag = 0xEA1C;

// Walks the TIFF at the start of the stream (size bytes long); true when
// every table was walked and accepted.
bool walkRawTiff(cFileIOTarget* stream, long long size, sRawTiffWalk& out);
