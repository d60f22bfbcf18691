// JPEG 2000 through OpenJPEG: stream callbacks over our stream, message
// handlers that only note errors, and the decoded components turned into
// pixels.
#include "picts/pictjp2.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <cstring>

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

// One decoding: codec, stream and image, freed together.
class cJ2KSession {
public:
    ~cJ2KSession() {
        if (image_) opj_image_destroy(image_);
        if (stream_) opj_stream_destroy(stream_);
        if (codec_) opj_destroy_codec(codec_);
    }

    // Checks the signature, then reads the main header; false when it is not
    // this format or the picture is past the caps.
    bool readHeader(cFileIOTarget* stream, OPJ_CODEC_FORMAT format) {
        if (!stream || !stream->valid()) return false;
        unsigned char head[12];
        const unsigned int need = format == OPJ_CODEC_JP2 ? 12 : 4;
        cByteReader magic(stream, need, 0);
        if (!magic.read(head, need)) return false;
        if (std::memcmp(head, format == OPJ_CODEC_JP2 ? kJp2Signature : kJ2KStart, need) != 0) return false;
        if (!stream->set_fp(0)) return false;
        const long long size = stream->size();
        if (size <= 0) return false;
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
        // Every tile has at least one tile-part, and a tile-part at least its
        // SOT segment and SOD marker: a grid of more tiles than the input
        // could hold is refused before the library lays out the picture.
        opj_codestream_info_v2_t* info = opj_get_cstr_info(codec_);
        if (!info) return false;
        const unsigned long long tiles = static_cast<unsigned long long>(info->tw) * info->th;
        opj_destroy_cstr_info(&info);
        if (tiles == 0 || tiles > src_.size / kMinJ2KTilePartBytes) return false;
        return true;
    }

    bool decode() {
        if (!opj_decode(codec_, stream_, image_) || error_) return false;
        if (!opj_end_decompress(codec_, stream_) || error_) return false;
        return true;
    }

    // The decoded components into the picture.
    bool toPicture(cPictBase& pict);

    long long width() const { return width_; }
    long long height() const { return height_; }

private:
    sSource src_;
    opj_codec_t* codec_ = nullptr;
    opj_stream_t* stream_ = nullptr;
    opj_image_t* image_ = nullptr;
    bool error_ = false;
    long long width_ = 0, height_ = 0;
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

bool cJ2KSession::toPicture(cPictBase& pict) {
    const unsigned int n = image_->numcomps;
    // Colour spaces that need a conversion the library does not make.
    if (image_->color_space == OPJ_CLRSPC_SYCC || image_->color_space == OPJ_CLRSPC_EYCC ||
        image_->color_space == OPJ_CLRSPC_CMYK)
        return false;
    const unsigned int used = n > 4 ? 4 : n;
    unsigned int maxPrec = 0;
    for (unsigned int i = 0; i < used; ++i)
        if (image_->comps[i].prec > maxPrec) maxPrec = image_->comps[i].prec;
    const bool deep = maxPrec > 8;
    const int outBits = deep ? 16 : 8;
    sChannel ch[4];
    for (unsigned int i = 0; i < used; ++i)
        if (!ch[i].init(image_->comps[i], outBits)) return false;
    const long long w = width_, h = height_;
    if (!(deep ? pict.allocPixels16(w, h) : pict.allocPixels8(w, h))) return false;
    const unsigned long long opaque = (1ULL << outBits) - 1;
    for (long long y = 0; y < h; ++y) {
        const long long row = (h - 1 - y) * w;  // row 0 is the bottom row
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
                pict.raw16Bpp()[row + x] = a << 48 | r << 32 | g << 16 | b;
            else
                pict.raw8Bpp()[row + x] = static_cast<unsigned int>(a << 24 | r << 16 | g << 8 | b);
        }
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

bool decodeInto(cPictBase& pict, cFileIOTarget* stream, OPJ_CODEC_FORMAT format) {
    pict.close();
    cJ2KSession s;
    if (!s.readHeader(stream, format) || !s.decode() || !s.toPicture(pict)) {
        pict.close();
        return false;
    }
    return true;
}

}  // namespace

cPictJP2::cPictJP2() = default;
cPictJP2::~cPictJP2() = default;
bool cPictJP2::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, OPJ_CODEC_JP2); }
bool cPictJP2::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictJP2::decode(cFileIOTarget* stream) { return decodeInto(*this, stream, OPJ_CODEC_JP2); }

cPictJ2K::cPictJ2K() = default;
cPictJ2K::~cPictJ2K() = default;
bool cPictJ2K::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, OPJ_CODEC_J2K); }
bool cPictJ2K::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictJ2K::decode(cFileIOTarget* stream) { return decodeInto(*this, stream, OPJ_CODEC_J2K); }
