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

// A side of the picture with `reduce` resolutions left out.
long long reducedSide(long long a, int reduce) { return -((-a) >> reduce); }

// The most work `bytes` of codestream may describe (inputCanDescribe), to
// stop a count that goes past it.
unsigned long long mostWork(long long bytes) {
    unsigned long long lo = 0, hi = 1ULL << 62;
    while (lo < hi) {
        const unsigned long long mid = lo + (hi - lo + 1) / 2;
        if (cPictBase::inputCanDescribe(static_cast<long long>(mid), bytes))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

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

    // Adds the work of the coding passes the packet headers give (sCodestream::
    // passes) without moving the library's reader: the stream is left where
    // the reader's window ends and found there again.
    bool weighPasses(int reduce, unsigned long long limit, cPictJ2K::sCodestream::sWork& w) {
        const std::size_t at = src_.in.tell();
        if (!src_.in.sync()) return false;
        const bool ok = cs_.passes(src_.in.stream(), reduce, limit, w);
        return src_.in.seek(at) && ok;
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
    bool exact = false;      // of the output's precision: nothing to scale

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
        exact = static_cast<unsigned long long>(top) == outTop;
        return true;
    }

    unsigned long long at(long long x, long long y, long long pw, long long ph) const {
        // Subsampled components cover the picture with fewer samples.
        const long long cx = w == pw ? x : x * w / pw;
        const long long cy = h == ph ? y : y * h / ph;
        long long v = (static_cast<long long>(data[cy * w + cx]) + offset) >> shift;
        if (v < 0) v = 0;
        if (v > top) v = top;
        if (exact) return static_cast<unsigned long long>(v);
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
    const long long w = reducedSide(width_, reduce), h = reducedSide(height_, reduce);
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
    // Three or four components of eight bits at the picture's size (RGB,
    // RGBA: the common case) are only clamped, row by row.
    bool plain = !deep && used >= 3;
    for (unsigned int i = 0; i < used; ++i)
        plain = plain && ch[i].exact && ch[i].shift == 0 && ch[i].w == w && ch[i].h == h;
    if (plain) {
        const long long top = ch[0].top;
        auto clamp = [top](long long v) { return static_cast<unsigned int>(v < 0 ? 0 : v > top ? top : v); };
        for (long long y = 0; y < h; ++y) {
            const OPJ_INT32* r = ch[0].data + y * w;
            const OPJ_INT32* g = ch[1].data + y * w;
            const OPJ_INT32* b = ch[2].data + y * w;
            const OPJ_INT32* a = used == 4 ? ch[3].data + y * w : nullptr;
            for (long long x = 0; x < w; ++x)
                line8[static_cast<std::size_t>(x)] = (a ? clamp(a[x] + ch[3].offset) : 0xFFu) << 24 |
                                                     clamp(r[x] + ch[0].offset) << 16 |
                                                     clamp(g[x] + ch[1].offset) << 8 | clamp(b[x] + ch[2].offset);
            if (!row(y, line8.data(), line16.data())) return false;
        }
        return true;
    }
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
    // Every tile, component, packet and code-block the codestream
    // declares, weighed against its bytes before the library lays out a
    // thing.
    const long long bytes = s.codestreamBytes();
    sCodestream::sWork work = s.codestream().work(reduce);
    // A JP2 palette turns its component into one of that size for every
    // channel, up to 255 of them.
    work.units += 2 * static_cast<unsigned long long>(s.paletteChannels()) * work.largest;
    auto describable = [&](unsigned long long units) {
        return inputCanDescribe(static_cast<long long>(std::min<unsigned long long>(units, 1ULL << 62)), bytes);
    };
    // The picture is made on the image grid, whatever its components'
    // subsampling: every pixel of it (at the resolution decoded) is
    // converted, and held when the picture is decoded whole.  Components
    // subsampled 255 times each way declare a grid 65025 times their
    // samples.
    long long grid = 0;
    const bool gridFits =
        checked_mul(reducedSide(w, reduce), reducedSide(h, reduce), grid) && inputCanDescribe(grid, bytes);
    // Decoded whole, it must also stay under the pixel ceiling.
    long long pixels = 0;
    bool ok = gridFits && describable(work.units) &&
              (ext || (checkPixelCount(w, h, &pixels, 1) && pixels <= pixelCeiling()));
    // Then the coding passes the packet headers give the code-blocks, read
    // once what reading them costs has been weighed, and stopped past what
    // the bytes may describe.
    ok = ok && s.weighPasses(reduce, mostWork(bytes), work) && describable(work.units);
    // A caller holding many pictures to one budget is charged the same.
    sDecodeMeter* meter = decodeMeter();
    ok = ok && (!meter || meter->chargeWork(work.units)) && s.decode(reduce);
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
            const long long rw = reducedSide(w, reduce);
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
