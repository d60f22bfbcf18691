// JBIG2 through jbig2dec: our own reading of the file header and the page
// information segment, then the whole stream fed to the library in pieces.
#include "picts/pictjbig2.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

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
constexpr unsigned int kJbig2FeedPiece = 64 * 1024;

const unsigned char kJbig2Id[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

// Segment type of the page information segment, and of the end of file.
constexpr unsigned int kSegPageInfo = 48;
constexpr unsigned int kSegEndOfFile = 51;

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

// The allocator handed to the library: malloc with a running total.
struct sCappedAllocator {
    Jbig2Allocator base;  // first, so the library's pointer is ours
    std::size_t used = 0;
};

struct sBlockHead {
    std::size_t size;
    std::max_align_t align;  // keeps the caller's block aligned
};

void* capAlloc(Jbig2Allocator* a, std::size_t size) {
    sCappedAllocator* c = reinterpret_cast<sCappedAllocator*>(a);
    if (size > kMaxJbig2LibraryMemory - c->used) return nullptr;
    sBlockHead* h = static_cast<sBlockHead*>(std::malloc(sizeof(sBlockHead) + size));
    if (!h) return nullptr;
    h->size = size;
    c->used += size;
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
    if (size > old && size - old > kMaxJbig2LibraryMemory - c->used) return nullptr;
    sBlockHead* n = static_cast<sBlockHead*>(std::realloc(h, sizeof(sBlockHead) + size));
    if (!n) return nullptr;
    c->used = c->used - old + size;
    n->size = size;
    return n + 1;
}

void onMessage(void* data, const char*, Jbig2Severity severity, uint32_t) {
    if (severity == JBIG2_SEVERITY_FATAL) *static_cast<bool*>(data) = true;
}

}  // namespace

cPictJBIG2::cPictJBIG2() = default;
cPictJBIG2::~cPictJBIG2() = default;

bool cPictJBIG2::readPageSize(cFileIOTarget* stream, long long& width, long long& height) {
    if (!stream || !stream->valid()) return false;
    unsigned char head[kJbig2HeadBytes];
    const unsigned int got = stream->read(head, kJbig2HeadBytes);
    if (!cFileIOTarget::transferred(got, kJbig2HeadBytes)) return false;
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

bool cPictJBIG2::decode(cFileIOTarget* stream) {
    close();
    long long pw = 0, ph = 0;
    if (!readPageSize(stream, pw, ph) || !stream->set_fp(0)) return false;

    sCappedAllocator alloc;
    alloc.base.alloc = capAlloc;
    alloc.base.free = capFree;
    alloc.base.realloc = capRealloc;
    bool fatal = false;
    Jbig2Ctx* ctx = jbig2_ctx_new(&alloc.base, static_cast<Jbig2Options>(0), nullptr, onMessage, &fatal);
    if (!ctx) return false;
    _typebuf<unsigned char> piece(kJbig2FeedPiece);
    Jbig2Image* page = nullptr;
    bool ok = true;
    // Feed until the first page is complete: the pages after it are not
    // needed, nor held.
    while (ok && !page) {
        const unsigned int got = stream->read(piece.data(), kJbig2FeedPiece);
        if (!cFileIOTarget::transferred(got, kJbig2FeedPiece)) ok = false;
        if (!ok || got == 0) break;
        if (jbig2_data_in(ctx, piece.data(), got) < 0 || fatal) ok = false;
        if (ok) page = jbig2_page_out(ctx);
    }
    // A page whose end-of-page segment never came is cut short.
    if (ok && page && !fatal && checkPixelCount(page->width, page->height) && allocPixels8(page->width, page->height)) {
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
