#include "picts/pictrawjpeg.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include <jpeglib.h>

#include "base/bytereader.h"
#include "base/checked.h"
#include "picts/pictlimits.h"

std::size_t cRawMemoryBytes::readAt(unsigned long long at, unsigned char* out, std::size_t n) {
    if (at >= size_) return 0;
    const std::size_t take = static_cast<std::size_t>(std::min<unsigned long long>(n, size_ - at));
    std::memcpy(out, data_ + at, take);
    return take;
}

namespace {

// LibRaw keeps its positions inside the input: a seek before the start or
// past the end stops there (the stream it reads through clamps them).
unsigned long long inside(long long at, cRawBytes& in) {
    return at < 0 ? 0 : std::min(static_cast<unsigned long long>(at), in.size());
}

// LibRaw reads the marker segments of a lossless JPEG into one buffer of this
// size, kept for the whole stream: a short segment's fields are read from
// whatever longer ones left there.
constexpr std::size_t kLjpegSegmentBuffer = 0x10000;

// A tile or strip of LibRaw's: a size of 2^31 - 1 or more is none, and the
// sensor's side stands for it.
bool tiled(unsigned side) { return side < static_cast<unsigned>(INT_MAX); }

// The pixels of a tile, or of the one strip LibRaw reads; the samples it
// holds are as many times more as a pixel has.
unsigned long long tileArea(const sRawDecodePlan& p) {
    const unsigned long long w = tiled(p.tileWidth) ? p.tileWidth : p.rawWidth;
    const unsigned long long h = tiled(p.tileLength) ? p.tileLength : p.rawHeight;
    return w * h;
}
unsigned long long tileSamples(const sRawDecodePlan& p) { return tileArea(p) * std::max(1u, p.samples); }

// LibRaw's walk of a DNG's strip or tiles (lossless_dng_load_raw and
// lossy_dng_load_raw): left to right, then a row of tiles down, in its
// 32-bit arithmetic, until the sensor's height is passed.
struct sTileWalk {
    const sRawDecodePlan& plan;
    unsigned trow = 0, tcol = 0;
    bool more() const { return trow < plan.rawHeight; }
    void next() {
        if ((tcol += plan.tileWidth) >= plan.rawWidth) {
            trow += plan.tileLength;
            tcol = 0;
        }
    }
    // Where the stream of the tile whose offset LibRaw reads at `save` lies:
    // that offset in its byte order (bytes past the end read as 0xFF), or,
    // untiled, `save` itself.
    unsigned long long streamAt(cRawBytes& in, unsigned long long save) const {
        if (!tiled(plan.tileLength)) return save;
        unsigned char b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        in.readAt(save, b, sizeof b);
        return inside(static_cast<long long>(cByteReader::u32(b, plan.bigEndian)), in);
    }
};

// Adds n to work; false once it passes the limit.
bool charge(unsigned long long& work, unsigned long long n, unsigned long long limit) {
    return checked_add(work, n, work) && work <= limit;
}

// Starting a stream: LibRaw's buffers, and the header bytes it reads to the
// scan, at the rate its stream is charged for bytes moved.
unsigned long long startWork(unsigned long long headerBytes) {
    return kRawJpegStartWork + headerBytes / kRawStreamBytesPerCall;
}

// A lossless stream's work as LibRaw's row decoder does it: starting it,
// every declared sample, and for every row the pixels it copies out.
unsigned long long losslessWork(const sRawLjpegFrame& f, unsigned long long rowCopies) {
    return startWork(f.bytes) +
           static_cast<unsigned long long>(f.high) * (static_cast<unsigned long long>(f.wide) * f.clrs + rowCopies);
}

bool losslessDng(const sRawDecodePlan& p, cRawBytes& in, unsigned long long limit, unsigned long long& work) {
    sTileWalk walk{p};
    for (unsigned long long save = inside(p.dataOffset, in); walk.more(); walk.next()) {
        sRawLjpegFrame f;
        // LibRaw stops at the first tile whose stream it cannot start.
        if (!readRawLjpegFrame(in, walk.streamAt(in, save), p.dng, f)) break;
        const unsigned long long declared = static_cast<unsigned long long>(f.high) * f.wide * f.clrs;
        if (declared > tileSamples(p)) return false;
        // The pixels LibRaw copies out of each row: the row's samples for
        // colour-filter data (half of them for Fuji's two-sample layout),
        // its pixels for other data, and every sample times the components
        // when a row of them is exactly as wide as the sensor.
        unsigned long long jwide = static_cast<unsigned long long>(f.wide) * (p.cfa ? f.clrs : 1);
        if (p.cfa && p.samples == 2) jwide /= 2;
        const bool wholeRows = p.samples == 1 && f.clrs > 1 && f.clrs * jwide == p.rawWidth;
        if (!charge(work, losslessWork(f, wholeRows ? jwide * f.clrs : jwide), limit))
            return false;
        save = inside(static_cast<long long>(save) + 4, in);
    }
    return true;
}

// The frame of a JPEG stream as libjpeg reads it up to its first scan, read
// strictly: markers back to back (fill bytes allowed), every segment whole
// in the input, one frame, before the scan.
struct sJpegFrame {
    unsigned marker = 0;  // the SOFn marker's second byte
    unsigned width = 0, height = 0, components = 0;
    unsigned scanComponents = 0;  // those the first scan carries
    unsigned long long bytes = 0;  // from the start to the scan's header
};

bool readJpegFrame(cRawBytes& in, unsigned long long at, sJpegFrame& f) {
    f = sJpegFrame();
    const unsigned long long start = at;
    unsigned char b[2];
    if (in.readAt(at, b, 2) != 2 || b[0] != 0xFF || b[1] != 0xD8) return false;
    at += 2;
    for (;;) {
        unsigned char m = 0;
        if (in.readAt(at, &m, 1) != 1 || m != 0xFF) return false;
        do {
            if (in.readAt(++at, &m, 1) != 1) return false;
        } while (m == 0xFF);
        ++at;
        // Markers without a segment have no place before the first scan.
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD9)) return false;
        if (in.readAt(at, b, 2) != 2) return false;
        const unsigned length = cByteReader::u16be(b);
        if (length < 2 || at + length > in.size()) return false;
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame || m == 0xDA) {
            unsigned char seg[6];
            if (length < 2 + (frame ? 6u : 1u) || in.readAt(at + 2, seg, sizeof seg) < (frame ? 6u : 1u)) return false;
            if (m == 0xDA) {
                if (!f.marker) return false;
                f.scanComponents = seg[0];
                f.bytes = at + length - start;
                return true;
            }
            if (f.marker || length < 8 + 3u * seg[5]) return false;
            f.marker = m;
            f.height = cByteReader::u16be(seg + 1);
            f.width = cByteReader::u16be(seg + 3);
            f.components = seg[5];
        }
        at += length;
    }
}

// A frame libjpeg decodes: Huffman or arithmetic coding, sequential or
// progressive, of a size, whose first scan carries some of its components.
bool decodable(const sJpegFrame& f) {
    static const unsigned kKinds[] = {0xC0, 0xC1, 0xC2, 0xC9, 0xCA};
    return std::find(std::begin(kKinds), std::end(kKinds), f.marker) != std::end(kKinds) && f.components >= 1 &&
           f.components <= 4 && f.scanComponents >= 1 && f.scanComponents <= f.components && f.width > 0 &&
           f.height > 0;
}

// A frame libjpeg decodes row by row, as far as the rows wanted: one scan of
// every component, sequential.  Any other it reads whole first, every scan
// over the whole picture, holding it as coefficients.
bool oneScan(const sJpegFrame& f) {
    return f.marker != 0xC2 && f.marker != 0xCA && f.scanComponents == f.components;
}

unsigned long long frameSamples(const sJpegFrame& f) {
    return static_cast<unsigned long long>(f.width) * f.height * f.components;
}

struct sQuietJpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
void quietJpegExit(j_common_ptr c) { std::longjmp(reinterpret_cast<sQuietJpegError*>(c->err)->jump, 1); }
void quietJpegMessage(j_common_ptr) {}

// Whether libjpeg reads the header in `data` and starts on the frame
// without an error.
bool libjpegStartsOn(const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct d;
    sQuietJpegError err;
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = quietJpegExit;
    err.mgr.output_message = quietJpegMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    const bool started = jpeg_read_header(&d, TRUE) == JPEG_HEADER_OK && jpeg_start_decompress(&d);
    jpeg_destroy_decompress(&d);
    return started;
}

// Whether libjpeg starts on the frame at `at`.  LibRaw's lossy DNG decoder
// reads the header and starts outside the part of it that frees the decoder
// when libjpeg fails, so a frame it fails on there leaks the decoder's
// memory; for a frame of one scan neither step reads past the scan's header.
bool libjpegStarts(cRawBytes& in, unsigned long long at, const sJpegFrame& f) {
    std::vector<unsigned char> header(static_cast<std::size_t>(f.bytes));
    return in.readAt(at, header.data(), header.size()) == header.size() &&
           libjpegStartsOn(header.data(), header.size());
}

bool lossyDng(const sRawDecodePlan& p, cRawBytes& in, unsigned long long limit, unsigned long long& work) {
    sTileWalk walk{p};
    // LibRaw keeps this position in 32 bits, one offset before the first.
    for (unsigned save = static_cast<unsigned>(p.dataOffset) - 4; walk.more(); walk.next()) {
        save += 4;
        // Each tile holds a frame of one scan no larger than the tile, which
        // libjpeg starts on (LibRaw fails the decode on a stream libjpeg
        // cannot read).
        const unsigned long long at = walk.streamAt(in, inside(save, in));
        sJpegFrame f;
        if (!readJpegFrame(in, at, f) || !decodable(f) || !oneScan(f) ||
            static_cast<unsigned long long>(f.width) * f.height > tileArea(p) ||
            !charge(work, startWork(f.bytes) + frameSamples(f), limit) || !libjpegStarts(in, at, f))
            return false;
    }
    return true;
}

// Kodak's byte-swapped JPEG: dataSize bytes read whole, swapped in pairs,
// and a frame of half the picture's rows in three components (LibRaw's own
// check, which it makes after libjpeg has read every scan).  A frame of
// more than one scan costs its samples for every scan in the data (each a
// "FF DA" in it) and once more for the rows handed out.
bool kodakJpeg(const sRawDecodePlan& p, cRawBytes& in, unsigned long long limit, unsigned long long& work) {
    if (p.dataSize < 1 || p.dataSize > in.size()) return false;
    std::vector<unsigned char> data(p.dataSize);
    if (in.readAt(inside(p.dataOffset, in), data.data(), data.size()) != data.size()) return false;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
    cRawMemoryBytes swapped(data.data(), data.size());
    sJpegFrame f;
    if (!readJpegFrame(swapped, 0, f) || !decodable(f) || f.components != 3 || f.width != p.width ||
        2ULL * f.height != p.height)
        return false;
    unsigned long long times = 1;
    if (!oneScan(f))
        for (std::size_t i = 0; i + 1 < data.size(); ++i) times += data[i] == 0xFF && data[i + 1] == 0xDA;
    unsigned long long samples = 0;
    return checked_mul(frameSamples(f), times, samples) && charge(work, startWork(data.size()) + samples, limit);
}

// One lossless JPEG at the data offset, which LibRaw decodes whole (CR2,
// TIFF/EP); without a stream it can start it decodes nothing.
bool oneLossless(const sRawDecodePlan& p, cRawBytes& in, unsigned long long limit, unsigned long long& work) {
    sRawLjpegFrame f;
    if (!readRawLjpegFrame(in, inside(p.dataOffset, in), p.dng, f)) return true;
    const unsigned long long row = static_cast<unsigned long long>(f.wide) * f.clrs;
    if (p.decoder == sRawDecodePlan::kCanonSraw) {
        // sRAW wants four components or more, and takes its rows' width
        // halved as a divisor.
        if (f.clrs < 4) return true;
        if ((f.wide >> 1) * f.clrs == 0) return false;
    }
    return charge(work, losslessWork(f, row), limit);
}

}  // namespace

bool readRawLjpegFrame(cRawBytes& in, unsigned long long at, bool dng, sRawLjpegFrame& jh) {
    jh = sRawLjpegFrame();
    const unsigned long long size = in.size();
    std::vector<unsigned char> buffer(kLjpegSegmentBuffer);
    unsigned char* data = buffer.data();
    unsigned long long pos = std::min(at, size);
    const auto read = [&](std::size_t n) {
        const std::size_t got = in.readAt(pos, data, n);
        pos += got;
        return got;
    };
    if (read(2) != 2 || data[1] != 0xD8) return false;
    // At most 1025 segments, up to and including the first scan's.
    unsigned tag = 0;
    for (int count = 0; tag != 0xFFDA; ++count) {
        if (pos >= size || count > 1024 || read(4) != 4) return false;
        tag = cByteReader::u16be(data);
        // A length under 2 wraps to a segment of nearly 64 KB.
        const std::size_t len = static_cast<unsigned short>(cByteReader::u16be(data + 2) - 2);
        if (tag <= 0xFF00 || read(len) != len) return false;
        switch (tag) {
            case 0xFFC3: jh.sraw = ((data[7] >> 4) * (data[7] & 15) - 1) & 3; [[fallthrough]];
            case 0xFFC1:
            case 0xFFC0:
                jh.algo = static_cast<int>(tag & 0xFF);
                jh.bits = data[0];
                jh.high = cByteReader::u16be(data + 1);
                jh.wide = cByteReader::u16be(data + 3);
                jh.clrs = data[5] + jh.sraw;
                // Outside a DNG a frame of one component is taken to be
                // followed by a byte of padding.
                if (len == 9 && !dng && pos < size) ++pos;
                break;
            case 0xFFDA:
                jh.psv = data[1 + data[0] * 2];
                jh.bits -= data[3 + data[0] * 2] & 15;
                break;
            default: break;
        }
    }
    jh.bytes = pos - std::min(at, size);
    return jh.bits <= 16 && jh.clrs <= 6 && jh.bits && jh.high && jh.wide && jh.clrs;
}

bool weighRawJpegStreams(const sRawDecodePlan& plan, cRawBytes& in, unsigned long long limit,
                         unsigned long long& work) {
    work = 0;
    switch (plan.decoder) {
        case sRawDecodePlan::kLosslessDng: return losslessDng(plan, in, limit, work);
        case sRawDecodePlan::kLossyDng: return lossyDng(plan, in, limit, work);
        case sRawDecodePlan::kKodakJpeg: return kodakJpeg(plan, in, limit, work);
        case sRawDecodePlan::kLosslessJpeg:
        case sRawDecodePlan::kCanonSraw: return oneLossless(plan, in, limit, work);
        case sRawDecodePlan::kOther: break;
    }
    return true;
}
