// JPEG 2000 through OpenJPEG: stream callbacks over our stream, message
// handlers that only note errors, and the decoded components turned into
// pixels.
#include "picts/pictjp2.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include <openjpeg.h>

namespace {

// The library keeps every decoded component as 32-bit samples; past this
// many bytes of them (components x width x height x 4) the picture is
// refused before decoding.
constexpr long long kMaxJ2KSampleBytes = 1LL << 30;
// Bytes the library asks of the stream at a time.
constexpr OPJ_SIZE_T kJ2KStreamChunk = 64 * 1024;
// The fewest bytes of one tile-part: SOT (marker and 10 bytes) and SOD.
constexpr unsigned long long kMinJ2KTilePartBytes = 14;
// What a code-block or a precinct costs the library in the units of
// sCodestream::work, two of which a sample costs (a sample is held twice, 4
// bytes each time, and takes 10 to 20 ns to decode and hand on): its
// structures, its share of the tag trees and of the packet reading, about
// 400 bytes and 400 ns in OpenJPEG 2.5.
constexpr unsigned long long kJ2KBlockWork = 96;

// The JP2 signature box, and the codestream's SOC and SIZ markers.
const unsigned char kJp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
const unsigned char kJ2KStart[4] = {0xFF, 0x4F, 0xFF, 0x51};

// The library reads, seeks and skips through one reader over the stream.
struct sSource {
    cByteReader in;
    unsigned long long size = 0;
};

OPJ_SIZE_T sourceRead(void* buf, OPJ_SIZE_T n, void* user) {
    sSource* s = static_cast<sSource*>(user);
    const std::size_t done = s->in.readSome(buf, n);
    // The library's end of stream.
    return done ? done : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_BOOL sourceSeek(OPJ_OFF_T to, void* user) {
    sSource* s = static_cast<sSource*>(user);
    if (to < 0 || static_cast<unsigned long long>(to) > s->size) return OPJ_FALSE;
    return s->in.seek(static_cast<std::size_t>(to)) ? OPJ_TRUE : OPJ_FALSE;
}

OPJ_OFF_T sourceSkip(OPJ_OFF_T n, void* user) {
    sSource* s = static_cast<sSource*>(user);
    const long long from = static_cast<long long>(s->in.tell());
    long long to = 0;
    if (!checked_add(from, static_cast<long long>(n), to) || to < 0) return -1;
    if (static_cast<unsigned long long>(to) > s->size) to = static_cast<long long>(s->size);
    if (!s->in.seek(static_cast<std::size_t>(to))) return -1;
    return to - from;
}

void noteError(const char*, void* flag) { *static_cast<bool*>(flag) = true; }
void ignoreMessage(const char*, void*) {}

// ---------------------------------------------------------------------------
// What a codestream asks of the library, read from its markers before the
// library lays anything out: the samples it decodes and the code-blocks and
// precincts it makes for every tile and component.  Coding styles may
// change from tile to tile; the scan takes the costliest of everything a
// component is given anywhere (the most decomposition levels, the smallest
// code-blocks and precincts), so what it finds bounds what the library
// does.

}  // namespace

namespace qor_j2k {

constexpr int kMaxJ2KLevels = 32;

// One component's geometry and its costliest coding style.
struct sJ2KComponent {
    unsigned xr = 1, yr = 1;       // subsampling
    bool coded = false;            // a COD or COC reached it
    int levelsMin = kMaxJ2KLevels, levelsMax = 0;
    int cbw = 15, cbh = 15;        // code-block size exponents
    int ppx[kMaxJ2KLevels + 1], ppy[kMaxJ2KLevels + 1];  // precinct exponents per resolution
    sJ2KComponent() {
        for (int i = 0; i <= kMaxJ2KLevels; ++i) ppx[i] = ppy[i] = 15;
    }
};

struct sJ2KGrid {
    unsigned long long x0 = 0, y0 = 0, x1 = 0, y1 = 0;     // image area on the reference grid
    unsigned long long tx0 = 0, ty0 = 0, tw = 0, th = 0;   // tile grid
    unsigned long long tilesX = 0, tilesY = 0;
};

unsigned long long ceilDiv(unsigned long long a, unsigned long long b) { return (a + b - 1) / b; }
long long ceilDivPow2(long long a, int e) { return -((-a) >> e); }
long long floorDivPow2(long long a, int e) { return a >> e; }

// A COD or COC body from its coding style byte on: decomposition levels,
// code-block size and, when the style says so, the precinct sizes.
bool mergeCodingStyle(cByteReader& in, bool precincts, sJ2KComponent& c) {
    std::uint8_t levels = 0, cbw = 0, cbh = 0, style = 0, transform = 0;
    if (!in.read_u8(levels) || !in.read_u8(cbw) || !in.read_u8(cbh) || !in.read_u8(style) || !in.read_u8(transform))
        return false;
    if (levels > kMaxJ2KLevels || cbw > 8 || cbh > 8) return false;
    c.coded = true;
    c.levelsMin = std::min<int>(c.levelsMin, levels);
    c.levelsMax = std::max<int>(c.levelsMax, levels);
    c.cbw = std::min(c.cbw, cbw + 2);
    c.cbh = std::min(c.cbh, cbh + 2);
    if (precincts) {
        for (int r = 0; r <= levels; ++r) {
            std::uint8_t pp = 0;
            if (!in.read_u8(pp)) return false;
            c.ppx[r] = std::min(c.ppx[r], pp & 0x0F);
            c.ppy[r] = std::min(c.ppy[r], pp >> 4);
        }
    }
    return true;
}

// One marker segment of a main or tile-part header: SIZ sets the grid and
// the components, COD and COC merge coding styles, the rest are passed over.
bool readMarker(unsigned marker, cByteReader& body, sJ2KGrid& g, std::vector<sJ2KComponent>& comps, bool main) {
    switch (marker) {
        case 0xFF51: {  // SIZ
            if (!main || !comps.empty()) return false;
            std::uint16_t caps = 0, count = 0;
            std::uint32_t v[8];
            if (!body.read_u16be(caps)) return false;
            for (auto& x : v)
                if (!body.read_u32be(x)) return false;
            if (!body.read_u16be(count) || count == 0 || count > 16384) return false;
            g.x1 = v[0];
            g.y1 = v[1];
            g.x0 = v[2];
            g.y0 = v[3];
            g.tw = v[4];
            g.th = v[5];
            g.tx0 = v[6];
            g.ty0 = v[7];
            if (g.x0 >= g.x1 || g.y0 >= g.y1 || !g.tw || !g.th || g.tx0 > g.x0 || g.ty0 > g.y0 ||
                g.tx0 + g.tw <= g.x0 || g.ty0 + g.th <= g.y0)
                return false;
            g.tilesX = ceilDiv(g.x1 - g.tx0, g.tw);
            g.tilesY = ceilDiv(g.y1 - g.ty0, g.th);
            comps.resize(count);
            for (auto& c : comps) {
                std::uint8_t depth = 0, xr = 0, yr = 0;
                if (!body.read_u8(depth) || !body.read_u8(xr) || !body.read_u8(yr) || !xr || !yr) return false;
                c.xr = xr;
                c.yr = yr;
            }
            return true;
        }
        case 0xFF52: {  // COD: every component
            std::uint8_t style = 0, progression = 0, mct = 0;
            std::uint16_t layers = 0;
            if (comps.empty() || !body.read_u8(style) || !body.read_u8(progression) || !body.read_u16be(layers) ||
                !body.read_u8(mct))
                return false;
            const std::size_t at = body.tell();
            for (auto& c : comps) {
                if (!body.seek(at) || !mergeCodingStyle(body, style & 1, c)) return false;
            }
            return true;
        }
        case 0xFF53: {  // COC: one component
            std::uint16_t index = 0;
            std::uint8_t style = 0;
            if (comps.empty()) return false;
            if (comps.size() < 257) {
                std::uint8_t i8 = 0;
                if (!body.read_u8(i8)) return false;
                index = i8;
            } else if (!body.read_u16be(index)) {
                return false;
            }
            if (index >= comps.size() || !body.read_u8(style)) return false;
            return mergeCodingStyle(body, style & 1, comps[index]);
        }
        default: return !comps.empty();  // SIZ comes first
    }
}

// Sums over the tile columns (or rows) of one component's extent along one
// axis: samples at a reduction, precincts and code-blocks at a resolution.
// The counts of a tile are a column's count times a row's, so the sums of
// the two axes multiply into the whole image's.
struct sAxis {
    unsigned long long start, end, tileStart, tileSize, tiles;
    unsigned sub;

    // The tile-component's extent of tile t.
    void tileComp(unsigned long long t, long long& a, long long& b) const {
        const unsigned long long lo = std::max(tileStart + t * tileSize, start);
        const unsigned long long hi = std::min(tileStart + (t + 1) * tileSize, end);
        a = static_cast<long long>(ceilDiv(lo, sub));
        b = static_cast<long long>(ceilDiv(hi, sub));
    }
    unsigned long long samples(int reduce) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            long long a, b;
            tileComp(t, a, b);
            n += static_cast<unsigned long long>(ceilDivPow2(b, reduce) - ceilDivPow2(a, reduce));
        }
        return n;
    }
    // Precincts of exponent pp at the resolution `level` levels down.
    unsigned long long precincts(int level, int pp) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            long long a, b;
            tileComp(t, a, b);
            a = ceilDivPow2(a, level);
            b = ceilDivPow2(b, level);
            if (b > a) n += static_cast<unsigned long long>(ceilDivPow2(b, pp) - floorDivPow2(a, pp));
        }
        return n;
    }
    // Code-blocks of exponent cb in a band of decomposition level `band`
    // (0: the lowest resolution's band), shifted by half a step (`high`).
    unsigned long long blocks(int band, bool high, int cb) const {
        unsigned long long n = 0;
        for (unsigned long long t = 0; t < tiles; ++t) {
            long long a, b;
            tileComp(t, a, b);
            if (band > 0 && high) {
                const long long half = 1LL << (band - 1);
                a -= half;
                b -= half;
            }
            a = ceilDivPow2(a, band);
            b = ceilDivPow2(b, band);
            if (b > a) n += static_cast<unsigned long long>(ceilDivPow2(b, cb) - floorDivPow2(a, cb));
        }
        return n;
    }
};

}  // namespace qor_j2k

struct cPictJ2K::sGridHold {
    qor_j2k::sJ2KGrid grid;
    std::vector<qor_j2k::sJ2KComponent> comps;
};

bool cPictJ2K::scanCodestream(cFileIOTarget* stream, unsigned long long start, unsigned long long length,
                              sCodestream& out) {
    using namespace qor_j2k;
    out = sCodestream();
    if (!stream || length < 4) return false;
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    if (!in.seek(static_cast<std::size_t>(start))) return false;
    const unsigned long long end = start + length;
    std::uint16_t marker = 0;
    if (!in.read_u16be(marker) || marker != 0xFF4F) return false;
    sJ2KGrid g;
    std::vector<sJ2KComponent> comps;
    // One marker segment's body, handed to readMarker.
    std::vector<unsigned char> body;
    auto segment = [&](unsigned m, bool main) {
        std::uint16_t len = 0;
        if (!in.read_u16be(len) || len < 2 || in.tell() + len - 2 > end) return false;
        body.resize(len - 2);
        if (!in.read(body.data(), static_cast<unsigned>(body.size()))) return false;
        cByteReader b(body.data(), body.size());
        return readMarker(m, b, g, comps, main);
    };
    // The main header, up to the first tile-part.
    for (;;) {
        if (!in.read_u16be(marker) || (marker >> 8) != 0xFF) return false;
        if (marker == 0xFF90) break;
        if (!segment(marker, true)) return false;
    }
    if (comps.empty()) return false;
    // Every tile has a tile-part of at least its SOT segment and SOD marker.
    unsigned long long tiles = 0, tileComps = 0;
    if (!checked_mul(g.tilesX, g.tilesY, tiles) || tiles == 0 || tiles > length / kMinJ2KTilePartBytes ||
        !checked_mul(tiles, static_cast<unsigned long long>(comps.size()), tileComps))
        return false;
    // ... and a packet of at least a byte for every component of it.
    if (tileComps > length) return false;
    // The tile-parts: their headers may carry coding styles of their own.
    unsigned long long sot = in.tell() - 2;
    for (;;) {
        std::uint16_t lsot = 0, index = 0;
        std::uint32_t psot = 0;
        std::uint8_t part = 0, parts = 0;
        if (!in.read_u16be(lsot) || lsot != 10 || !in.read_u16be(index) || !in.read_u32be(psot) ||
            !in.read_u8(part) || !in.read_u8(parts) || index >= tiles)
            return false;
        for (;;) {
            if (!in.read_u16be(marker) || (marker >> 8) != 0xFF) return false;
            if (marker == 0xFF93) break;
            if (!segment(marker, false)) return false;
        }
        ++out.tileParts;
        // Psot 0: the last tile-part, up to the end of the codestream.
        if (psot == 0 || sot + psot >= end) break;
        if (psot < kMinJ2KTilePartBytes) return false;
        sot += psot;
        if (!in.seek(static_cast<std::size_t>(sot)) || !in.read_u16be(marker) || marker != 0xFF90) break;
    }
    out.width = static_cast<long long>(g.x1 - g.x0);
    out.height = static_cast<long long>(g.y1 - g.y0);
    out.components = static_cast<int>(comps.size());
    out.levels = kMaxJ2KLevels;
    for (const auto& c : comps) {
        if (!c.coded) return false;  // no COD for it anywhere
        out.levels = std::min(out.levels, c.levelsMin);
    }
    out.grid_ = std::make_shared<sGridHold>();
    out.grid_->grid = g;
    out.grid_->comps = std::move(comps);
    return true;
}

cPictJ2K::sCodestream::sWork cPictJ2K::sCodestream::work(int reduce) const {
    using namespace qor_j2k;
    sWork w;
    if (!grid_ || reduce < 0 || reduce > levels) return w;
    const sJ2KGrid& g = grid_->grid;
    for (const sJ2KComponent& c : grid_->comps) {
        const sAxis x{g.x0, g.x1, g.tx0, g.tw, g.tilesX, c.xr};
        const sAxis y{g.y0, g.y1, g.ty0, g.th, g.tilesY, c.yr};
        const unsigned long long samples = x.samples(reduce) * y.samples(reduce);
        w.samples += samples;
        w.largest = std::max(w.largest, samples);
        const int nl = c.levelsMax;
        for (int r = 0; r <= nl; ++r) {
            const int down = nl - r;  // levels below the full resolution
            w.precincts += x.precincts(down, c.ppx[r]) * y.precincts(down, c.ppy[r]);
            // Code-blocks stay inside precincts, whose bands are half as big
            // above the lowest resolution.
            const int cbw = std::min(c.cbw, r == 0 ? c.ppx[r] : c.ppx[r] - 1);
            const int cbh = std::min(c.cbh, r == 0 ? c.ppy[r] : c.ppy[r] - 1);
            if (cbw < 0 || cbh < 0) continue;
            if (r == 0) {
                w.blocks += x.blocks(down, false, cbw) * y.blocks(down, false, cbh);
            } else {
                const int band = down + 1;
                const unsigned long long xl = x.blocks(band, false, cbw), xh = x.blocks(band, true, cbw);
                const unsigned long long yl = y.blocks(band, false, cbh), yh = y.blocks(band, true, cbh);
                w.blocks += xh * yl + xl * yh + xh * yh;
            }
        }
    }
    // Each sample is held twice (the tile's and the image's), each
    // code-block and precinct costs its structures and tag trees.
    w.units = 2 * w.samples + kJ2KBlockWork * (w.blocks + w.precincts);
    return w;
}

namespace {

// One decoding: codec, stream and image, freed together.
class cJ2KSession {
public:
    ~cJ2KSession() {
        if (image_) opj_image_destroy(image_);
        if (stream_) opj_stream_destroy(stream_);
        if (codec_) opj_destroy_codec(codec_);
    }

    // Checks the signature, reads the main header and scans the codestream;
    // false when it is not this format, its headers are damaged or the
    // picture is past the caps.
    bool readHeader(cFileIOTarget* stream, OPJ_CODEC_FORMAT format) {
        if (!stream || !stream->valid()) return false;
        unsigned char head[12];
        const unsigned int need = format == OPJ_CODEC_JP2 ? 12 : 4;
        cByteReader magic(stream, need, 0);
        if (!magic.read(head, need)) return false;
        if (std::memcmp(head, format == OPJ_CODEC_JP2 ? kJp2Signature : kJ2KStart, need) != 0) return false;
        const long long size = stream->size();
        if (size <= 0) return false;
        // The codestream's own headers, every tile-part's included, read
        // before the library's reader takes the stream.
        unsigned long long start = 0, length = static_cast<unsigned long long>(size);
        if (format == OPJ_CODEC_JP2 && !readBoxes(stream, length, start, length, paletteChannels_)) return false;
        codestreamBytes_ = static_cast<long long>(length);
        if (!cPictJ2K::scanCodestream(stream, start, length, cs_)) return false;
        if (!stream->set_fp(0)) return false;
        src_.in = cByteReader(stream, cByteReader::kStreamWindow, 0);
        src_.size = static_cast<unsigned long long>(size);

        codec_ = opj_create_decompress(format);
        if (!codec_) return false;
        opj_set_error_handler(codec_, noteError, &error_);
        opj_set_warning_handler(codec_, ignoreMessage, nullptr);
        opj_set_info_handler(codec_, ignoreMessage, nullptr);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        if (!opj_setup_decoder(codec_, &params)) return false;
        // A codestream cut short is a damaged picture, not a partial one.
        opj_decoder_set_strict_mode(codec_, OPJ_TRUE);

        stream_ = opj_stream_create(kJ2KStreamChunk, OPJ_TRUE);
        if (!stream_) return false;
        opj_stream_set_user_data(stream_, &src_, nullptr);
        opj_stream_set_user_data_length(stream_, src_.size);
        opj_stream_set_read_function(stream_, sourceRead);
        opj_stream_set_skip_function(stream_, sourceSkip);
        opj_stream_set_seek_function(stream_, sourceSeek);

        if (!opj_read_header(stream_, codec_, &image_) || !image_ || error_) return false;
        if (image_->x1 <= image_->x0 || image_->y1 <= image_->y0) return false;
        width_ = static_cast<long long>(image_->x1) - image_->x0;
        height_ = static_cast<long long>(image_->y1) - image_->y0;
        long long pixels = 0, bytes = 0;
        if (!cPictBase::checkPixelCount(width_, height_, &pixels)) return false;
        if (image_->numcomps < 1 || !checked_mul(pixels, static_cast<long long>(image_->numcomps) * 4, bytes) ||
            bytes > kMaxJ2KSampleBytes)
            return false;
        // The library read the header the scan read.
        return cs_.width == width_ && cs_.height == height_ && cs_.components == static_cast<int>(image_->numcomps);
    }

    // Decodes with `reduce` resolutions left out.
    bool decode(int reduce) {
        if (reduce > 0 && !opj_set_decoded_resolution_factor(codec_, static_cast<OPJ_UINT32>(reduce))) return false;
        if (!opj_decode(codec_, stream_, image_) || error_) return false;
        if (!opj_end_decompress(codec_, stream_) || error_) return false;
        return true;
    }

    // The decoded picture, reduce resolutions down, row by row from the top:
    // `row` is called with each row's pixels (8-bit, or 16-bit when deep).
    bool rows(int reduce, bool& deep, const std::function<bool(long long, const unsigned int*, const unsigned long long*)>& row);

    long long width() const { return width_; }
    long long height() const { return height_; }
    long long codestreamBytes() const { return codestreamBytes_; }
    int paletteChannels() const { return paletteChannels_; }
    const cPictJ2K::sCodestream& codestream() const { return cs_; }

private:
    // The contents of the first contiguous codestream box of a JP2 file,
    // and the channels of its palette (0: none).
    static bool readBoxes(cFileIOTarget* stream, unsigned long long size, unsigned long long& start,
                          unsigned long long& length, int& paletteChannels) {
        cByteReader in(stream, cByteReader::kStreamWindow, 0);
        // The boxes from `at` up to `end`: fn(type, contents, contents' length).
        auto walk = [&](unsigned long long at, unsigned long long end,
                        const std::function<bool(std::uint32_t, unsigned long long, unsigned long long)>& fn) {
            while (at + 8 <= end) {
                std::uint32_t lbox = 0, tbox = 0;
                if (!in.seek(static_cast<std::size_t>(at)) || !in.read_u32be(lbox) || !in.read_u32be(tbox)) return false;
                unsigned long long head = 8, box = lbox;
                if (lbox == 1) {
                    std::uint64_t xl = 0;
                    if (!in.read_u64be(xl)) return false;
                    head = 16;
                    box = xl;
                } else if (lbox == 0) {
                    box = end - at;
                }
                if (box < head || box > end - at) return false;
                if (!fn(tbox, at + head, box - head)) return true;
                at += box;
            }
            return false;
        };
        bool found = false;
        walk(0, size, [&](std::uint32_t type, unsigned long long at, unsigned long long n) {
            if (type == 0x6A703268) {  // 'jp2h': the palette, if any
                walk(at, at + n, [&](std::uint32_t inner, unsigned long long where, unsigned long long) {
                    if (inner != 0x70636C72) return true;  // 'pclr': entries, then channels
                    std::uint16_t entries = 0;
                    std::uint8_t channels = 0;
                    if (in.seek(static_cast<std::size_t>(where)) && in.read_u16be(entries) && in.read_u8(channels))
                        paletteChannels = channels;
                    return false;
                });
                return true;
            }
            if (type != 0x6A703263) return true;  // 'jp2c'
            start = at;
            length = n;
            found = true;
            return false;
        });
        return found;
    }

    sSource src_;
    opj_codec_t* codec_ = nullptr;
    opj_stream_t* stream_ = nullptr;
    opj_image_t* image_ = nullptr;
    bool error_ = false;
    long long width_ = 0, height_ = 0;
    long long codestreamBytes_ = 0;
    int paletteChannels_ = 0;
    cPictJ2K::sCodestream cs_;
};

// One component's samples at picture position x, y widened to `outBits`.
struct sChannel {
    const OPJ_INT32* data = nullptr;
    long long w = 0, h = 0;
    long long offset = 0;    // added to signed samples
    long long top = 0;       // 2^prec - 1
    unsigned long long outTop = 0;
    int shift = 0;           // for precisions past 16 bits

    bool init(const opj_image_comp_t& c, int outBits) {
        if (!c.data || c.w == 0 || c.h == 0 || c.prec < 1 || c.prec > 31) return false;
        data = c.data;
        w = c.w;
        h = c.h;
        const int prec = static_cast<int>(c.prec);
        shift = prec > 16 ? prec - 16 : 0;
        top = (1LL << (prec - shift)) - 1;
        offset = c.sgnd ? 1LL << (prec - 1) : 0;
        outTop = (1ULL << outBits) - 1;
        return true;
    }

    unsigned long long at(long long x, long long y, long long pw, long long ph) const {
        // Subsampled components cover the picture with fewer samples.
        const long long cx = w == pw ? x : x * w / pw;
        const long long cy = h == ph ? y : y * h / ph;
        long long v = (static_cast<long long>(data[cy * w + cx]) + offset) >> shift;
        if (v < 0) v = 0;
        if (v > top) v = top;
        return (static_cast<unsigned long long>(v) * outTop + static_cast<unsigned long long>(top / 2)) /
               static_cast<unsigned long long>(top);
    }
};

bool cJ2KSession::rows(int reduce, bool& deep,
                       const std::function<bool(long long, const unsigned int*, const unsigned long long*)>& row) {
    const unsigned int n = image_->numcomps;
    // Colour spaces that need a conversion the library does not make.
    if (image_->color_space == OPJ_CLRSPC_SYCC || image_->color_space == OPJ_CLRSPC_EYCC ||
        image_->color_space == OPJ_CLRSPC_CMYK)
        return false;
    const unsigned int used = n > 4 ? 4 : n;
    unsigned int maxPrec = 0;
    for (unsigned int i = 0; i < used; ++i)
        if (image_->comps[i].prec > maxPrec) maxPrec = image_->comps[i].prec;
    deep = maxPrec > 8;
    const int outBits = deep ? 16 : 8;
    sChannel ch[4];
    for (unsigned int i = 0; i < used; ++i)
        if (!ch[i].init(image_->comps[i], outBits)) return false;
    const long long w = qor_j2k::ceilDivPow2(width_, reduce), h = qor_j2k::ceilDivPow2(height_, reduce);
    std::vector<unsigned int> line8;
    std::vector<unsigned long long> line16;
    try {
        if (deep)
            line16.resize(static_cast<std::size_t>(w));
        else
            line8.resize(static_cast<std::size_t>(w));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const unsigned long long opaque = (1ULL << outBits) - 1;
    for (long long y = 0; y < h; ++y) {
        for (long long x = 0; x < w; ++x) {
            unsigned long long r, g, b, a = opaque;
            if (used <= 2) {
                r = g = b = ch[0].at(x, y, w, h);
                if (used == 2) a = ch[1].at(x, y, w, h);
            } else {
                r = ch[0].at(x, y, w, h);
                g = ch[1].at(x, y, w, h);
                b = ch[2].at(x, y, w, h);
                if (used == 4) a = ch[3].at(x, y, w, h);
            }
            if (deep)
                line16[static_cast<std::size_t>(x)] = a << 48 | r << 32 | g << 16 | b;
            else
                line8[static_cast<std::size_t>(x)] = static_cast<unsigned int>(a << 24 | r << 16 | g << 8 | b);
        }
        if (!row(y, line8.data(), line16.data())) return false;
    }
    return true;
}

bool probe(cFileIOTarget* stream, cPictBase::sPictInfo* info, OPJ_CODEC_FORMAT format) {
    cJ2KSession s;
    if (!s.readHeader(stream, format)) return false;
    if (info) {
        info->width = s.width();
        info->height = s.height();
        info->hasPreview = false;
    }
    return true;
}

// The resolutions a render target at `scale` cannot show: each left out
// halves the picture, down to two decoded pixels for each pixel of the
// target, as far as the codestream's levels go.
int reductionFor(double scale, int levels) {
    int reduce = 0;
    while (reduce < levels && scale * static_cast<double>(1LL << (reduce + 1)) <= 0.5) ++reduce;
    return reduce;
}

}  // namespace

bool cPictJ2K::decodeFrom(cFileIOTarget* stream, bool jp2) {
    close();
    work_ = sCodestream::sWork();
    reduce_ = 0;
    cJ2KSession s;
    if (!s.readHeader(stream, jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K)) return false;
    const long long w = s.width(), h = s.height();
    width_ = w;
    height_ = h;
    // Drawn straight into a smaller render target, the picture is decoded
    // only down to the resolution the target can show.
    const bool ext = startExtRender();
    const int reduce = ext ? reductionFor(extScale(), s.codestream().levels) : 0;
    // Every tile and component the codestream declares, weighed against
    // its bytes before the library lays out a thing.
    sCodestream::sWork work = s.codestream().work(reduce);
    // A JP2 palette turns its component into one of that size for every
    // channel, up to 255 of them.
    work.units += 2 * static_cast<unsigned long long>(s.paletteChannels()) * work.largest;
    // The picture is made on the image grid, whatever its components'
    // subsampling: every pixel of it (at the resolution decoded) is
    // converted, and held when the picture is decoded whole.  Components
    // subsampled 255 times each way declare a grid 65025 times their
    // samples.
    long long grid = 0;
    const bool gridFits =
        checked_mul(qor_j2k::ceilDivPow2(w, reduce), qor_j2k::ceilDivPow2(h, reduce), grid) &&
        inputCanDescribe(grid, s.codestreamBytes());
    // Decoded whole, it must also stay under the pixel ceiling.
    long long pixels = 0;
    bool ok = gridFits &&
              inputCanDescribe(static_cast<long long>(std::min<unsigned long long>(work.units, 1ULL << 62)),
                               s.codestreamBytes()) &&
              (ext || (checkPixelCount(w, h, &pixels, 1) && pixels <= pixelCeiling())) && s.decode(reduce);
    if (ok) {
        work_ = work;
        reduce_ = reduce;
    }
    bool deep = false;
    if (ok && ext) {
        // Each decoded pixel stands for a square of 2^reduce at its centre
        // (the last of a row or column where the picture ends).
        const long long step = 1LL << reduce, half = step / 2;
        auto at = [&](long long i, long long limit) { return std::min(i * step + half, limit - 1); };
        _typebuf<unsigned int> conv;
        ok = s.rows(reduce, deep, [&](long long y, const unsigned int* line8, const unsigned long long* line16) {
            const long long rw = qor_j2k::ceilDivPow2(w, reduce);
            const unsigned int* line = line8;
            if (deep) {
                if (!sizeBuffer(conv, rw)) return false;
                for (long long x = 0; x < rw; ++x) conv.data()[x] = to8Bpp(line16[x]);
                line = conv.data();
            }
            const long long py = h - 1 - at(y, h);  // row 0 is the bottom row
            if (rw > 1) setExtRow(py, line, rw - 1, half, step);
            setExtPix(at(rw - 1, w), py, line[rw - 1]);
            return true;
        });
        endExtRender();
    } else if (ok) {
        if (ext) endExtRender();
        bool reserved = false;
        ok = s.rows(0, deep, [&](long long y, const unsigned int* line8, const unsigned long long* line16) {
            if (!reserved) {
                reserved = true;
                if (!(deep ? allocPixels16(w, h) : allocPixels8(w, h))) return false;
            }
            const long long row = (h - 1 - y) * w;  // row 0 is the bottom row
            if (deep)
                std::copy(line16, line16 + w, raw16Bpp() + row);
            else
                std::copy(line8, line8 + w, raw8Bpp() + row);
            return true;
        });
    } else if (ext) {
        endExtRender();
    }
    if (!ok) {
        close();
        work_ = sCodestream::sWork();
        reduce_ = 0;
        return false;
    }
    return true;
}

cPictJ2K::cPictJ2K() = default;
cPictJ2K::~cPictJ2K() = default;
bool cPictJ2K::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, OPJ_CODEC_J2K); }
bool cPictJ2K::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictJ2K::decode(cFileIOTarget* stream) { return decodeFrom(stream, false); }

cPictJP2::cPictJP2() = default;
cPictJP2::~cPictJP2() = default;
bool cPictJP2::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, OPJ_CODEC_JP2); }
bool cPictJP2::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictJP2::decode(cFileIOTarget* stream) { return decodeFrom(stream, true); }
