// JBIG2 through jbig2dec: our own reading of the file header and the page
// information segment, then the whole stream fed to the library in pieces.
#include "picts/pictjbig2.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

extern "C" {
#include <jbig2.h>
}

namespace {

// What the library may hold at once for one file (page, regions, symbol
// dictionaries, arithmetic-coder contexts).  Decoding time follows the
// region sizes this allows, so it is kept near what a page needs.
constexpr std::size_t kMaxJbig2LibraryMemory = 64u * 1024 * 1024;
// The largest page: 2^26 pixels (8 MB of bits), a letter page at 1200 dpi.
constexpr long long kMaxJbig2PagePixels = 1LL << 26;
// Segment headers read by the probe: a page's information segment comes
// within the first few of them.
constexpr unsigned int kJbig2HeadBytes = 4096;

const unsigned char kJbig2Id[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

// Segment type of the page information segment, the end of a stripe and
// the end of file.
constexpr unsigned int kSegPageInfo = 48;
constexpr unsigned int kSegEndOfStripe = 50;
constexpr unsigned int kSegEndOfFile = 51;

// The work of one pixel of each kind of region, in the units of
// kJbig2FreeWork (about a nanosecond): jbig2dec decodes an arithmetic-coded
// generic region at 2 to 6 ns a pixel, an MMR one at under 1, a refinement
// region at 27 to 45; a page pixel costs 2 to fill and turn into ours, a
// text or halftone region's pixel 2 to compose, and each symbol instance,
// halftone cell and new symbol about 64.
constexpr unsigned long long kWorkGenericPixel = 6;
constexpr unsigned long long kWorkMmrPixel = 1;
constexpr unsigned long long kWorkRefinementPixel = 32;
constexpr unsigned long long kWorkPagePixel = 2;
constexpr unsigned long long kWorkComposedPixel = 2;
constexpr unsigned long long kWorkPerItem = 64;
// What a byte the library allocates weighs in the same units: all it
// allocates over a decode is held to workBudget (a byte is 8 pixels,
// decoded at a unit each at the least and composed at as much again).
// Symbols are decoded pixel by pixel at sizes only the coded data tells,
// and their bitmaps are all the library allocates for them: while it
// decodes a symbol dictionary a byte weighs 8 generic pixels, and while it
// decodes one that refines or aggregates its symbols, or a text region that
// refines its instances, 8 refinement pixels (but for the text region's own
// bitmap, which its header declares).
constexpr unsigned long long kJbig2WorkPerLibraryByte = 16;
constexpr unsigned long long kWorkSymbolByte = 8 * kWorkGenericPixel;
constexpr unsigned long long kWorkRefinedByte = 8 * kWorkRefinementPixel;

// Declared work against bytes.  The library decodes whatever a segment
// declares, reading zeros once its data has ended: a text region of 2^32
// symbol instances in a few bytes runs for minutes.  A segment is refused
// before the library sees it when its declared work is out of proportion
// to its data length: at most kJbig2InstancesPerByte symbol instances (a
// quarter of a bit each; real encoders spend tens of bits), decoded symbols
// or halftone cells per byte beyond the first kJbig2FreeCount, and at most
// kJbig2PixelsPerByte region pixels (one bit per 1024) beyond the first
// kJbig2FreePixels.
constexpr unsigned long long kJbig2InstancesPerByte = 32;
constexpr unsigned long long kJbig2FreeCount = 4096;
constexpr unsigned long long kJbig2PixelsPerByte = 8192;
constexpr unsigned long long kJbig2FreePixels = 1ULL << 22;
// The longest segment header read whole (referred-to segment lists).
constexpr std::size_t kJbig2MaxHeaderBytes = 1u << 16;
// A segment data length that says "up to the end marker" (immediate
// generic regions only).
constexpr std::uint32_t kJbig2UnknownLength = 0xFFFFFFFFu;

// Reads one segment header; type, page and data length out.
bool readSegmentHeader(cByteReader& in, unsigned int& type, std::uint32_t& dataLength) {
    std::uint32_t number = 0;
    std::uint8_t flags = 0, refByte = 0;
    if (!in.read_u32be(number) || !in.read_u8(flags) || !in.read_u8(refByte)) return false;
    type = flags & 0x3F;
    std::uint32_t referred = refByte >> 5;
    if (referred == 7) {
        // Long form: a 29-bit count in these four bytes, then one retain bit
        // per referred segment and the segment itself, rounded up to bytes.
        in.seek(in.tell() - 1);
        std::uint32_t word = 0;
        if (!in.read_u32be(word)) return false;
        referred = word & 0x1FFFFFFF;
        if (!in.skip((referred + 1 + 7) / 8)) return false;
    } else if (referred > 4) {
        return false;  // 5 and 6 are not used
    }
    const std::size_t refSize = number <= 256 ? 1 : (number <= 65536 ? 2 : 4);
    std::size_t skip = 0;
    if (!checked_mul(static_cast<std::size_t>(referred), refSize, skip) || !in.skip(skip)) return false;
    if (!in.skip((flags & 0x40) ? 4 : 1)) return false;  // page association
    return in.read_u32be(dataLength);
}

unsigned long long timesSat(unsigned long long a, unsigned long long b) {
    unsigned long long r = 0;
    return checked_mul(a, b, r) ? r : ~0ULL;
}
unsigned long long plusSat(unsigned long long a, unsigned long long b) { return a + b < a ? ~0ULL : a + b; }

// The allocator handed to the library: malloc with a running total of what
// is held (capped at kMaxJbig2LibraryMemory) and a charge for all it ever
// handed out, weighed by what the segment being decoded makes of a byte
// (kJbig2WorkPerLibraryByte and the weights after it), against `workCap`.
// Placements of aggregate symbols are charged here too.  Past the cap the
// library gets no more memory at all: its next allocation fails, and the
// decode with it.
struct sCappedAllocator {
    Jbig2Allocator base;  // first, so the library's pointer is ours
    std::size_t used = 0;
    std::size_t total = 0;
    unsigned long long work = 0;
    unsigned long long workCap = ~0ULL;
    unsigned long long weight = kJbig2WorkPerLibraryByte;  // of a byte of this segment
    unsigned long long plainBytes = 0;  // of this segment, weighed as any other first
    bool stopped = false;

    // Work declared on the way (placements): false, and stopped, past the cap.
    bool charge(unsigned long long units) {
        if (stopped || units > workCap - work) {
            stopped = true;
            return false;
        }
        work += units;
        return true;
    }
    bool chargeBytes(std::size_t size) {
        const unsigned long long plain = std::min<unsigned long long>(size, plainBytes);
        const unsigned long long units =
            plusSat(timesSat(plain, kJbig2WorkPerLibraryByte), timesSat(size - plain, weight));
        if (!charge(units)) return false;
        plainBytes -= plain;
        return true;
    }
};

struct sBlockHead {
    std::size_t size;
    std::max_align_t align;  // keeps the caller's block aligned
};

void* capAlloc(Jbig2Allocator* a, std::size_t size) {
    sCappedAllocator* c = reinterpret_cast<sCappedAllocator*>(a);
    if (size > kMaxJbig2LibraryMemory - c->used || !c->chargeBytes(size)) return nullptr;
    sBlockHead* h = static_cast<sBlockHead*>(std::malloc(sizeof(sBlockHead) + size));
    if (!h) return nullptr;
    h->size = size;
    c->used += size;
    c->total += size;
    return h + 1;
}

void capFree(Jbig2Allocator* a, void* p) {
    if (!p) return;
    sCappedAllocator* c = reinterpret_cast<sCappedAllocator*>(a);
    sBlockHead* h = static_cast<sBlockHead*>(p) - 1;
    c->used -= h->size;
    std::free(h);
}

void* capRealloc(Jbig2Allocator* a, void* p, std::size_t size) {
    if (!p) return capAlloc(a, size);
    sCappedAllocator* c = reinterpret_cast<sCappedAllocator*>(a);
    sBlockHead* h = static_cast<sBlockHead*>(p) - 1;
    const std::size_t old = h->size;
    if (size > old && (size - old > kMaxJbig2LibraryMemory - c->used || !c->chargeBytes(size - old))) return nullptr;
    sBlockHead* n = static_cast<sBlockHead*>(std::realloc(h, sizeof(sBlockHead) + size));
    if (!n) return nullptr;
    if (size > old) c->total += size - old;
    c->used = c->used - old + size;
    n->size = size;
    return n + 1;
}

// What the library's messages tell the decode.
struct sLibraryEvents {
    bool fatal = false;
    sCappedAllocator* alloc = nullptr;
};

// jbig2dec says how many placements an aggregate symbol holds (a text
// region inside a symbol dictionary, whose count no header declares; a
// kilobyte of data codes millions of them) just before it lays out the
// symbol and decodes them.  Each is charged as a declared symbol instance
// is; past the budget, the symbol's bitmap is refused and the library
// stops there, before the first of them.
constexpr char kAggregateMessage[] = "aggregate symbol coding (";

void onMessage(void* data, const char* message, Jbig2Severity severity, uint32_t) {
    sLibraryEvents* events = static_cast<sLibraryEvents*>(data);
    if (severity == JBIG2_SEVERITY_FATAL) events->fatal = true;
    if (message && std::strncmp(message, kAggregateMessage, sizeof kAggregateMessage - 1) == 0) {
        const unsigned long long placements = std::strtoull(message + sizeof kAggregateMessage - 1, nullptr, 10);
        events->alloc->charge(timesSat(placements, kWorkPerItem));
    }
}

bool countFits(unsigned long long count, unsigned long long length) {
    return count <= kJbig2FreeCount + length * kJbig2InstancesPerByte;
}
bool areaFits(unsigned long long w, unsigned long long h, unsigned long long length) {
    return w * h <= kJbig2FreePixels + length * kJbig2PixelsPerByte;  // 32-bit sides: no overflow
}

// What the first bytes of a segment's data declare: the region (or page)
// and the items it places or makes.
struct sDeclared {
    bool read = false;                  // every field was there
    unsigned long long w = 0, h = 0;    // the region's, or the page's, size
    bool mmr = false;                   // a generic region in MMR
    unsigned long long items = 0;       // symbol instances or new symbols
    unsigned long long gridW = 0, gridH = 0;                     // halftone cells
    unsigned long long patterns = 0, patternW = 0, patternH = 0;  // a pattern dictionary's
    bool refines = false;  // symbols refined or aggregated, instances refined
    unsigned long long area() const { return timesSat(w, h); }
};

sDeclared declaredBy(unsigned int type, const unsigned char* data, std::size_t have) {
    cByteReader in(data, have);
    sDeclared d;
    std::uint32_t w = 0, h = 0;
    // The region segment information field: width, height, x, y, flags.
    auto region = [&]() {
        if (!in.read_u32be(w) || !in.read_u32be(h) || !in.skip(9)) return false;
        d.w = w;
        d.h = h;
        return true;
    };
    switch (type) {
        case 0: {  // symbol dictionary: the new symbols
            std::uint16_t flags = 0;
            std::uint32_t exported = 0, fresh = 0;
            if (!in.read_u16be(flags)) return d;
            const bool huff = flags & 1, refAgg = flags & 2;
            const unsigned templ = (flags >> 10) & 3, refTempl = (flags >> 12) & 1;
            if (!huff && !in.skip(templ == 0 ? 8 : 2)) return d;
            if (refAgg && refTempl == 0 && !in.skip(4)) return d;
            if (!in.read_u32be(exported) || !in.read_u32be(fresh)) return d;
            d.items = fresh;
            d.refines = refAgg;
            break;
        }
        case 4:
        case 6:
        case 7: {  // text regions: the symbol instances
            std::uint16_t flags = 0;
            std::uint32_t instances = 0;
            if (!region() || !in.read_u16be(flags)) return d;
            if ((flags & 1) && !in.skip(2)) return d;                        // Huffman table choices
            if ((flags & 2) && !(flags & 0x8000) && !in.skip(4)) return d;  // refinement AT pixels
            if (!in.read_u32be(instances)) return d;
            d.items = instances;
            d.refines = flags & 2;
            break;
        }
        case 16: {  // pattern dictionary: GRAYMAX + 1 patterns side by side
            std::uint8_t flags = 0, pw = 0, ph = 0;
            std::uint32_t grayMax = 0;
            if (!in.read_u8(flags) || !in.read_u8(pw) || !in.read_u8(ph) || !in.read_u32be(grayMax)) return d;
            d.patterns = grayMax + 1ULL;
            d.patternW = pw;
            d.patternH = ph;
            break;
        }
        case 20:
        case 22:
        case 23: {  // halftone regions: the grid
            std::uint8_t flags = 0;
            std::uint32_t gw = 0, gh = 0;
            if (!region() || !in.read_u8(flags) || !in.read_u32be(gw) || !in.read_u32be(gh)) return d;
            d.gridW = gw;
            d.gridH = gh;
            break;
        }
        case 36:
        case 38:
        case 39: {  // generic regions; without their flags, the costlier coding
            std::uint8_t flags = 0;
            if (!region()) return d;
            d.mmr = in.read_u8(flags) && (flags & 1);
            break;
        }
        case 40:
        case 42:
        case 43:  // refinement regions
            if (!region()) return d;
            break;
        case kSegPageInfo:  // the page; a height of 0xFFFFFFFF is striped
            if (!in.read_u32be(w) || !in.read_u32be(h)) return d;
            d.w = w;
            d.h = h == 0xFFFFFFFFu ? 0 : h;
            break;
        default: break;
    }
    d.read = true;
    return d;
}

// What a byte the library allocates while it decodes this segment weighs.
void weighAllocations(sCappedAllocator& alloc, unsigned int type, const unsigned char* data, std::size_t have) {
    const sDeclared d = declaredBy(type, data, have);
    alloc.weight = kJbig2WorkPerLibraryByte;
    alloc.plainBytes = 0;
    if (type == 0) {
        alloc.weight = d.refines ? kWorkRefinedByte : kWorkSymbolByte;
    } else if ((type == 4 || type == 6 || type == 7) && d.refines) {
        alloc.weight = kWorkRefinedByte;
        alloc.plainBytes = timesSat((d.w + 7) / 8, d.h);
    }
}

}  // namespace

bool cPictJBIG2::segmentInProportion(unsigned int type, std::uint32_t length, const unsigned char* data,
                                     std::size_t have) {
    const sDeclared d = declaredBy(type, data, have);
    const unsigned long long len = length;
    switch (type) {
        case 0: return d.read && countFits(d.items, len);
        case 4:
        case 6:
        case 7:  // instances against the region and the data
            return d.read && areaFits(d.w, d.h, len) && countFits(d.items, len) && d.items <= d.area();
        case 16: return d.read && countFits(d.patterns, len) && areaFits(d.patterns * d.patternW, d.patternH, len);
        case 20:
        case 22:
        case 23: return d.read && areaFits(d.w, d.h, len) && areaFits(d.gridW, d.gridH, len);
        case 36:
        case 38:
        case 39:
        case 40:
        case 42:
        case 43: return d.read && areaFits(d.w, d.h, len);
        default: return true;
    }
}

unsigned long long cPictJBIG2::segmentWork(unsigned int type, const unsigned char* data, std::size_t have) {
    const sDeclared d = declaredBy(type, data, have);
    if (!d.read) return 0;
    switch (type) {
        case 0: return timesSat(d.items, kWorkPerItem);
        case 4:
        case 6:
        case 7: return plusSat(timesSat(d.area(), kWorkComposedPixel), timesSat(d.items, kWorkPerItem));
        case 16: return timesSat(timesSat(d.patterns, d.patternW * d.patternH), kWorkGenericPixel);
        case 20:
        case 22:
        case 23: return plusSat(timesSat(d.area(), kWorkComposedPixel), timesSat(timesSat(d.gridW, d.gridH), kWorkPerItem));
        case 36:
        case 38:
        case 39: return timesSat(d.area(), d.mmr ? kWorkMmrPixel : kWorkGenericPixel);
        case 40:
        case 42:
        case 43: return timesSat(d.area(), kWorkRefinementPixel);
        case kSegPageInfo: return timesSat(d.area(), kWorkPagePixel);
        default: return 0;
    }
}


long long cPictJBIG2::workBudget(long long inputBytes) {
    long long most = 0;
    if (inputBytes < 0 || !checked_mul(inputBytes, kJbig2WorkPerInputByte, most) ||
        !checked_add(most, kJbig2FreeWork, most))
        return std::numeric_limits<long long>::max();
    return most;
}

bool cPictJBIG2::planWork(cFileIOTarget* stream, sWorkPlan& plan) {
    plan = sWorkPlan();
    if (!stream || !stream->valid() || !stream->set_fp(0)) return false;
    const long long size = stream->size();
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    unsigned char id[8];
    std::uint8_t flags = 0;
    if (!in.read(id, 8) || std::memcmp(id, kJbig2Id, 8) != 0 || !in.read_u8(flags)) return false;
    if (!(flags & 2) && !in.skip(4)) return false;
    const bool sequential = flags & 1;
    // A striped page of unknown height is as tall as its last stripe ends.
    unsigned long long stripedWidth = 0, stripedRows = 0;
    // One segment's data at the reader: weighed from its first bytes, then
    // passed over; false when the stream ends inside it (the library never
    // decodes a segment whose data is not all there).
    auto weigh = [&](unsigned int type, std::uint32_t length) {
        unsigned long long left = length;
        if (length == kJbig2UnknownLength) {
            if (size < 0) return false;
            left = static_cast<unsigned long long>(size) > in.tell() ? size - in.tell() : 0;
        }
        unsigned char peek[64];
        const std::size_t look = static_cast<std::size_t>(std::min<unsigned long long>(left, sizeof peek));
        const std::size_t got = in.readSome(peek, look);
        if (got < look) return false;
        plan.work = plusSat(plan.work, segmentWork(type, peek, got));
        if (type == kSegPageInfo && got >= 8 && cByteReader::u32be(peek + 4) == 0xFFFFFFFFu)
            stripedWidth = cByteReader::u32be(peek);
        if (type == kSegEndOfStripe && got >= 4)
            stripedRows = std::max<unsigned long long>(stripedRows, cByteReader::u32be(peek) + 1ULL);
        left -= got;
        if (size >= 0) {
            if (in.tell() + left > static_cast<unsigned long long>(size)) return false;
            if (!in.seek(static_cast<std::size_t>(in.tell() + left))) return false;
        } else if (!in.skip(static_cast<std::size_t>(left))) {
            return false;
        }
        plan.bytes = static_cast<long long>(in.tell());
        return true;
    };
    plan.bytes = static_cast<long long>(in.tell());
    if (sequential) {
        for (;;) {
            unsigned int type = 0;
            std::uint32_t length = 0;
            if (!readSegmentHeader(in, type, length)) break;
            plan.bytes = static_cast<long long>(in.tell());
            if (!weigh(type, length) || type == kSegEndOfFile || length == kJbig2UnknownLength) break;
        }
    } else {
        std::vector<std::pair<unsigned int, std::uint32_t> > segments;
        for (;;) {
            unsigned int type = 0;
            std::uint32_t length = 0;
            if (!readSegmentHeader(in, type, length)) break;
            segments.emplace_back(type, length);
            if (type == kSegEndOfFile) break;
        }
        plan.bytes = static_cast<long long>(in.tell());
        for (const auto& seg : segments)
            if (!weigh(seg.first, seg.second) || seg.second == kJbig2UnknownLength) break;
    }
    plan.work = plusSat(plan.work, timesSat(timesSat(stripedWidth, stripedRows), kWorkPagePixel));
    return true;
}

cPictJBIG2::cPictJBIG2() = default;
cPictJBIG2::~cPictJBIG2() = default;

bool cPictJBIG2::readPageSize(cFileIOTarget* stream, long long& width, long long& height) {
    if (!stream || !stream->valid()) return false;
    unsigned char head[kJbig2HeadBytes];
    cByteReader file(stream, kJbig2HeadBytes, 0);
    const std::size_t got = file.readSome(head, kJbig2HeadBytes);
    cByteReader in(head, got);
    unsigned char id[8];
    std::uint8_t flags = 0;
    if (!in.read(id, 8) || std::memcmp(id, kJbig2Id, 8) != 0 || !in.read_u8(flags)) return false;
    // Bits 2 to 7 of the file header flags are reserved and zero.
    if (flags & 0xFC) return false;
    const bool sequential = flags & 1;
    if (!(flags & 2) && !in.skip(4)) return false;  // the page count
    // Sequential files put each segment's data after its header; random-
    // access files put all headers first (up to the end-of-file segment),
    // then all data in the same order.
    std::size_t dataBefore = 0;
    for (int seg = 0; seg < 64; ++seg) {
        unsigned int type = 0;
        std::uint32_t length = 0;
        if (!readSegmentHeader(in, type, length)) return false;
        if (type == kSegPageInfo) {
            if (length < 19) return false;
            if (!sequential) {
                // Find the data part: skip the remaining headers.
                unsigned int t = type;
                std::uint32_t l = 0;
                while (t != kSegEndOfFile) {
                    if (!readSegmentHeader(in, t, l)) return false;
                }
                if (!in.skip(dataBefore)) return false;
            }
            std::uint32_t w = 0, h = 0;
            if (!in.read_u32be(w) || !in.read_u32be(h)) return false;
            width = w;
            height = h == 0xFFFFFFFFu ? 0 : h;
            if (w == 0 || width > kMaxPictSide) return false;
            long long pixels = 0;
            return height == 0 || (cPictBase::checkPixelCount(width, height, &pixels) && pixels <= kMaxJbig2PagePixels);
        }
        if (type == kSegEndOfFile) return false;
        if (sequential) {
            if (!in.skip(length)) return false;
        } else if (!checked_add(dataBefore, static_cast<std::size_t>(length), dataBefore)) {
            return false;
        }
    }
    return false;
}

bool cPictJBIG2::validFor(cFileIOTarget* stream, sPictInfo* info) {
    long long w = 0, h = 0;
    if (!readPageSize(stream, w, h)) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictJBIG2::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }

namespace {

// Feeds a file to the library one segment at a time, each checked by
// segmentInProportion before the library sees its header; between segments
// the caller's progress target may stop the decode.
class cJbig2Feeder {
public:
    cJbig2Feeder(cFileIOTarget* s, Jbig2Ctx* ctx, sCappedAllocator& alloc, cPictDrawProfressNotifyTarget* progress)
        : in_(s, cByteReader::kStreamWindow, 0), ctx_(ctx), alloc_(alloc), progress_(progress), size_(s->size()) {}

    // False when a segment is refused, the data is damaged, the library
    // failed or the caller stopped; page set once page 1 is complete.
    bool run(bool& fatal, Jbig2Image*& page) {
        fatal_ = &fatal;
        if (!copy(9)) return false;
        const std::uint8_t flags = head_[8];
        if (!(flags & 2) && !copy(4)) return false;
        if (!feed()) return false;
        if (flags & 1) {
            // Sequential: each header followed by its data.
            for (;;) {
                unsigned int type = 0;
                std::uint32_t length = 0;
                if (!readHeader(type, length)) return tail(page);
                if (!feedSegmentData(type, length, page)) return false;
                if (page || type == kSegEndOfFile || length == kJbig2UnknownLength) return tail(page);
            }
        }
        // Random access: every header up to the end of file, then the data
        // of each in the same order.
        std::vector<std::pair<unsigned int, std::uint32_t> > segments;
        for (;;) {
            unsigned int type = 0;
            std::uint32_t length = 0;
            if (!readHeader(type, length)) return false;
            segments.emplace_back(type, length);
            if (type == kSegEndOfFile) break;
        }
        for (const auto& s : segments) {
            if (!feedSegmentData(s.first, s.second, page)) return false;
            if (page || s.second == kJbig2UnknownLength) return tail(page);
        }
        return tail(page);
    }

    unsigned long long fed() const { return fed_; }

private:
    // n more bytes of the stream onto head_.
    bool copy(std::size_t n) {
        const std::size_t at = head_.size();
        if (n > kJbig2MaxHeaderBytes || at + n > kJbig2MaxHeaderBytes) return false;
        head_.resize(at + n);
        return in_.read(head_.data() + at, static_cast<unsigned int>(n));
    }

    // One segment header onto head_ (fed at once); false at the end of the
    // stream or for a damaged header.
    bool readHeader(unsigned int& type, std::uint32_t& length) {
        if (!copy(6)) return false;
        const std::size_t start = head_.size() - 6;
        const std::uint32_t number = cByteReader::u32be(head_.data() + start);
        const std::uint8_t flags = head_[start + 4];
        std::uint32_t referred = head_[start + 5] >> 5;
        std::size_t more = 0;
        if (referred == 7) {
            if (!copy(3)) return false;
            referred = cByteReader::u32be(head_.data() + start + 5) & 0x1FFFFFFF;
            more = (referred + 1 + 7) / 8;
        } else if (referred > 4) {
            return false;
        }
        const std::size_t refSize = number <= 256 ? 1 : (number <= 65536 ? 2 : 4);
        std::size_t refs = 0;
        if (!checked_mul(static_cast<std::size_t>(referred), refSize, refs) || !checked_add(more, refs, more)) return false;
        if (!checked_add(more, static_cast<std::size_t>((flags & 0x40) ? 4 : 1), more) || !copy(more) || !copy(4))
            return false;
        const std::size_t l = head_.size() - 4;
        type = flags & 0x3F;
        length = cByteReader::u32be(head_.data() + l);
        return true;
    }

    // The held header (and what came before it) after the check, then the
    // segment's data in pieces.
    bool feedSegmentData(unsigned int type, std::uint32_t length, Jbig2Image*& page) {
        unsigned long long left = length;
        if (length == kJbig2UnknownLength) {
            // Up to an end marker the library finds: the rest of the stream.
            if (size_ < 0) return false;
            left = static_cast<unsigned long long>(size_) > in_.tell() ? size_ - in_.tell() : 0;
        }
        // The fields that declare the work lie in the first bytes.
        unsigned char peek[64];
        const unsigned int look = static_cast<unsigned int>(std::min<unsigned long long>(left, sizeof peek));
        const unsigned int got = in_.readSome(peek, look);
        if (!cPictJBIG2::segmentInProportion(type, static_cast<std::uint32_t>(std::min<unsigned long long>(left, 0xFFFFFFFFu)), peek, got))
            return false;
        if (progress_ && !progress_->notifyDraw(size_ > 0 ? 100.0 * static_cast<double>(in_.tell()) / static_cast<double>(size_) : 0.0))
            return false;
        // The library decodes the segment once its last byte is in.
        weighAllocations(alloc_, type, peek, got);
        if (!feed() || !give(peek, got)) return false;
        left -= got;
        unsigned char piece[4096];
        while (left) {
            const unsigned int n = in_.readSome(piece, static_cast<unsigned int>(std::min<unsigned long long>(left, sizeof piece)));
            if (n == 0) break;  // cut short: the library decides
            if (!give(piece, n)) return false;
            left -= n;
        }
        page = jbig2_page_out(ctx_);
        return true;
    }

    // What was read after the last whole segment (a damaged or cut header)
    // goes to the library, which judges it.
    bool tail(Jbig2Image*& page) {
        if (!feed()) return false;
        if (!page) page = jbig2_page_out(ctx_);
        return true;
    }

    bool feed() {
        const bool ok = give(head_.data(), head_.size());
        head_.clear();
        return ok;
    }

    bool give(const unsigned char* p, std::size_t n) {
        if (!n) return true;
        fed_ += n;
        return jbig2_data_in(ctx_, p, n) >= 0 && !*fatal_ && !alloc_.stopped;
    }

    cByteReader in_;
    Jbig2Ctx* ctx_;
    sCappedAllocator& alloc_;
    cPictDrawProfressNotifyTarget* progress_;
    long long size_;
    std::vector<unsigned char> head_;
    unsigned long long fed_ = 0;
    bool* fatal_ = nullptr;
};

}  // namespace

bool cPictJBIG2::decode(cFileIOTarget* stream) {
    close();
    fed_ = 0;
    libraryBytes_ = 0;
    libraryWork_ = 0;
    planned_ = sWorkPlan();
    long long pw = 0, ph = 0;
    if (!readPageSize(stream, pw, ph)) return false;
    // What the whole file declares is weighed before the library sees a
    // byte: the page, every region, over every segment.
    sWorkPlan plan;
    if (!planWork(stream, plan)) return false;
    planned_ = plan;
    if (plan.work > static_cast<unsigned long long>(workBudget(plan.bytes)) ||
        (ph > 0 && !bilevelCanDescribe(pw * ph, plan.bytes)) || !stream->set_fp(0))
        return false;

    sCappedAllocator alloc;
    alloc.base.alloc = capAlloc;
    alloc.base.free = capFree;
    alloc.base.realloc = capRealloc;
    alloc.workCap = static_cast<unsigned long long>(workBudget(plan.bytes));
    sLibraryEvents events;
    events.alloc = &alloc;
    Jbig2Ctx* ctx = jbig2_ctx_new(&alloc.base, static_cast<Jbig2Options>(0), nullptr, onMessage, &events);
    if (!ctx) return false;
    Jbig2Image* page = nullptr;
    // Fed until the first page is complete: the pages after it are not
    // needed, nor held.
    cJbig2Feeder feeder(stream, ctx, alloc, drawProgress_);
    bool& fatal = events.fatal;
    bool ok = feeder.run(fatal, page) && !alloc.stopped;
    fed_ = feeder.fed();
    libraryBytes_ = alloc.total;
    libraryWork_ = alloc.work;
    // A page whose end-of-page segment never came is cut short.
    // A striped page of unknown height grows with its stripes: the page
    // cap holds for the page as it ended, too.
    long long pagePixels = 0;
    if (ok && page && !fatal && checkPixelCount(page->width, page->height, &pagePixels) &&
        pagePixels <= kMaxJbig2PagePixels && bilevelCanDescribe(pagePixels, plan.bytes) &&
        allocPixels8(page->width, page->height)) {
        const long long w = page->width, h = page->height;
        for (long long y = 0; y < h; ++y) {
            const unsigned char* src = page->data + y * static_cast<long long>(page->stride);
            unsigned int* dst = raw8Bpp() + (h - 1 - y) * w;  // row 0 is the bottom row
            for (long long x = 0; x < w; ++x)
                dst[x] = (src[x >> 3] >> (7 - (x & 7)) & 1) ? 0xFF000000u : 0xFFFFFFFFu;
        }
    } else {
        ok = false;
    }
    if (page) jbig2_release_page(ctx, page);
    jbig2_ctx_free(ctx);
    if (!ok) close();
    return ok;
}
