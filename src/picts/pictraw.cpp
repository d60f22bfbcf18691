#include "picts/pictraw.h"

#include <libraw.h>

#include <algorithm>
#include <cctype>
#include <vector>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/memio.h"
#include "picts/pictjpeg.h"
#include "picts/pictrawjpeg.h"

namespace {

// ---------------------------------------------------------------------------
// LibRaw reads through this: a cFileIOTarget with a read-ahead window, so
// the library's many one-byte reads cost no stream call each.

thread_local long long tRawStreamWork = 0;

class cRawDataStream : public LibRaw_abstract_datastream {
public:
    cRawDataStream(cFileIOTarget* s, const std::vector<sRawTiffWalk::sHidden>& hidden)
        : in_(s, cByteReader::kStreamWindow, 0),
          size_(s ? s->size() : -1),
          valid_(s != nullptr),
          budget_(cPictRawBase::streamWorkBudget(size_)),
          hidden_(hidden) {}

    ~cRawDataStream() override { tRawStreamWork = std::max(tRawStreamWork, spent_); }

    int valid() override { return valid_ && size_ >= 0; }
    long long inputSize() const { return size_; }

    // Long reads (whole strips of sensor data) go straight to the caller's
    // memory; short ones come from the reader's window.
    int read(void* ptr, size_t sz, size_t nmemb) override {
        charge(1);
        size_t want = 0;
        if (!sz || !checked_mul(sz, nmemb, want) || !at()) return 0;
        const size_t got = in_.readSome(ptr, want);
        hide(static_cast<unsigned long long>(pos_), static_cast<unsigned char*>(ptr), got);
        pos_ += static_cast<long long>(got);
        charge(static_cast<long long>(got) / kRawStreamBytesPerCall);
        return static_cast<int>(got / sz);
    }

    int seek(INT64 o, int whence) override {
        charge(1);
        long long base = 0;
        if (whence == SEEK_CUR) base = pos_;
        else if (whence == SEEK_END) base = size_;
        else if (whence != SEEK_SET) return -1;
        long long to = 0;
        if (!checked_add(base, static_cast<long long>(o), to)) return -1;
        // Positions are kept inside the stream, as a memory buffer keeps them.
        pos_ = std::max(0LL, std::min(to, size_));
        return 0;
    }

    INT64 tell() override {
        charge(1);
        return pos_;
    }
    INT64 size() override {
        charge(1);
        return size_;
    }

    int get_char() override {
        charge(1);
        unsigned char b = 0;
        if (pos_ >= size_ || !at() || !in_.byte(b)) return -1;
        hide(static_cast<unsigned long long>(pos_), &b, 1);
        ++pos_;
        return b;
    }

    char* gets(char* str, int sz) override {
        if (!str || sz < 1) return nullptr;
        int n = 0;
        while (n < sz - 1) {
            const int c = get_char();
            if (c < 0) break;
            str[n++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        str[n] = 0;
        return n ? str : nullptr;
    }

    // One value of a scanf format (the library asks for "%d" and "%f"): the
    // next blank-separated word, converted.
    int scanf_one(const char* fmt, void* val) override {
        int c = get_char();
        while (c >= 0 && std::isspace(c)) c = get_char();
        if (c < 0) return -1;
        char word[32];
        int n = 0;
        while (c >= 0 && !std::isspace(c) && n < static_cast<int>(sizeof word) - 1) {
            word[n++] = static_cast<char>(c);
            c = get_char();
        }
        word[n] = 0;
        return std::sscanf(word, fmt, val);
    }

    int eof() override {
        charge(1);
        return pos_ >= size_;
    }
    void* make_jas_stream() override { return nullptr; }

    // n bytes at `at` as LibRaw would read them, for the checks made before
    // it decodes; LibRaw's own position stays where it was.
    std::size_t readAsLibRaw(unsigned long long at, unsigned char* out, std::size_t n) {
        if (size_ < 0 || at >= static_cast<unsigned long long>(size_) || !in_.seek(static_cast<std::size_t>(at)))
            return 0;
        n = static_cast<std::size_t>(std::min<unsigned long long>(n, static_cast<unsigned long long>(size_) - at));
        const std::size_t got = in_.readSome(out, n);
        hide(at, out, got);
        return got;
    }

private:
    // Every call, and the bytes moved, against the budget of the input's
    // size; past it the library's work is cancelled the way its own progress
    // callback cancels it, by the exception each of its entry points catches.
    void charge(long long work) {
        spent_ += work;
        if (spent_ > budget_) throw LIBRAW_EXCEPTION_CANCELLED_BY_CALLBACK;
    }

    // The n bytes read at `from` as LibRaw is to see them: the tags of the
    // entries it passes over renamed.
    void hide(unsigned long long from, unsigned char* p, size_t n) {
        if (hidden_.empty() || !n) return;
        const unsigned long long to = from + n;
        auto it = std::lower_bound(hidden_.begin(), hidden_.end(), from > 0 ? from - 1 : 0,
                                   [](const sRawTiffWalk::sHidden& h, unsigned long long at) { return h.at < at; });
        for (; it != hidden_.end() && it->at < to; ++it)
            for (unsigned i = 0; i < 2; ++i) {
                const unsigned long long at = it->at + i;
                const unsigned shift = (it->little ? i : 1 - i) * 8;
                if (at >= from && at < to) p[at - from] = static_cast<unsigned char>(kRawHiddenTag >> shift);
            }
    }

    // The reader at pos_ (a move within its window costs no stream call; the
    // first one places the stream, whoever moved it before).
    bool at() {
        if (placed_ && static_cast<unsigned long long>(in_.tell()) == static_cast<unsigned long long>(pos_)) return true;
        placed_ = in_.seek(static_cast<std::size_t>(pos_));
        return placed_;
    }

    cByteReader in_;
    long long size_;
    bool valid_;
    bool placed_ = false;
    long long pos_ = 0;
    long long budget_ = 0;
    long long spent_ = 0;
    const std::vector<sRawTiffWalk::sHidden>& hidden_;
};

// The stream as LibRaw reads it, for the walk of its JPEG streams.
class cLibRawView : public cRawBytes {
public:
    explicit cLibRawView(cRawDataStream& s) : s_(s) {}
    std::size_t readAt(unsigned long long at, unsigned char* out, std::size_t n) override {
        return s_.readAsLibRaw(at, out, n);
    }
    unsigned long long size() const override {
        return s_.inputSize() < 0 ? 0 : static_cast<unsigned long long>(s_.inputSize());
    }

private:
    cRawDataStream& s_;
};

// LibRaw with what its identify decided in reach: the decoder it chose and
// what that decoder reads, and how it will read the thumbnail.
class cRawLibrary : public LibRaw {
public:
    explicit cRawLibrary(unsigned flags) : LibRaw(flags) {}

    sRawDecodePlan plan() {
        sRawDecodePlan p;
        libraw_decoder_info_t info{};
        get_decoder_info(&info);
        static const struct {
            const char* name;
            sRawDecodePlan::eDecoder decoder;
        } kJpegDecoders[] = {{"lossless_dng_load_raw()", sRawDecodePlan::kLosslessDng},
                             {"lossy_dng_load_raw()", sRawDecodePlan::kLossyDng},
                             {"lossless_jpeg_load_raw()", sRawDecodePlan::kLosslessJpeg},
                             {"canon_sraw_load_raw()", sRawDecodePlan::kCanonSraw},
                             {"kodak_jpeg_load_raw()", sRawDecodePlan::kKodakJpeg}};
        for (const auto& d : kJpegDecoders)
            if (info.decoder_name && !std::strcmp(info.decoder_name, d.name)) p.decoder = d.decoder;
        const unpacker_data_t& u = libraw_internal_data.unpacker_data;
        p.dataOffset = u.data_offset;
        p.dataSize = u.data_size;
        p.bigEndian = u.order == 0x4D4D;
        p.tileWidth = u.tile_width;
        p.tileLength = u.tile_length;
        p.samples = u.tiff_samples;
        p.rawWidth = imgdata.sizes.raw_width;
        p.rawHeight = imgdata.sizes.raw_height;
        p.width = imgdata.sizes.width;
        p.height = imgdata.sizes.height;
        p.cfa = imgdata.idata.filters != 0;
        p.dng = imgdata.idata.dng_version != 0;
        return p;
    }

    // Whether LibRaw's reader of the thumbnail it found may be let at it.
    // A thumbnail of pixels is laid out whole from its declared size before
    // a byte is read; layer_thumb reads the declared byte count of each
    // colour into a plane of the declared size; and ppm_thumb, for a
    // thumbnail shorter than its size, gathers the strips of the table at
    // its offset into a buffer of their byte counts' 32-bit sum and reads
    // each without checking it (a negative count overruns the buffer).
    bool thumbnailInProportion(long long inputBytes) {
        const libraw_thumbnail_t& t = imgdata.thumbnail;
        const long long area = static_cast<long long>(t.twidth) * t.theight;
        if (area > 0 && !cPictBase::rawCanDescribe(area, inputBytes)) return false;
        if (write_thumb == &cRawLibrary::layer_thumb && t.tlength > static_cast<unsigned long long>(area))
            return false;
        const int at = static_cast<int>(libraw_internal_data.internal_data.toffset);
        const unsigned tables = std::min<unsigned>(libraw_internal_data.identify_data.tiff_nifds, LIBRAW_IFD_MAXCOUNT);
        for (unsigned i = 0; i < tables; ++i) {
            const tiff_ifd_t& d = tiff_ifd[i];
            if (d.offset != at) continue;
            if (!d.strip_offsets_count || !d.strip_byte_counts_count) break;
            long long bytes = 0;
            for (int k = 0; k < d.strip_byte_counts_count; ++k) {
                if (d.strip_byte_counts[k] < 0) return false;
                bytes += d.strip_byte_counts[k];
            }
            return bytes <= inputBytes;
        }
        return true;
    }
};

// LibRaw reports damaged data and failed allocations through these; the
// result codes say enough, nothing is printed.
void quietData(void*, const char*, const int) {}
void quietMemory(void*, const char*, const char*) {}

// LibRaw's stages reported to the caller's progress target; a false answer
// cancels the library's work (it checks between and inside its stages).
int onProgress(void* data, enum LibRaw_progress stage, int iteration, int expected) {
    auto* target = static_cast<cPictDrawProfressNotifyTarget*>(data);
    int bit = 0;
    while (bit < 31 && (1 << bit) < static_cast<int>(stage)) ++bit;
    const double done = expected > 0 ? static_cast<double>(iteration) / expected : 0.0;
    return target->notifyDraw(100.0 * (bit + done) / 31.0) ? 0 : 1;
}

// One LibRaw session over a stream.
struct sRawSession {
    std::unique_ptr<cRawLibrary> lr;
    std::unique_ptr<cRawDataStream> ds;

    // The stream as the walk accepted it (h): LibRaw passes over the
    // entries it did not follow.
    bool open(cFileIOTarget* stream, const cPictRawBase::sHeader& h,
              cPictDrawProfressNotifyTarget* progress = nullptr) {
        try {
            lr.reset(new cRawLibrary(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK));
            ds.reset(new cRawDataStream(stream, h.hidden));
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (!ds->valid()) return false;
        lr->set_dataerror_handler(quietData, nullptr);
        lr->set_memerror_handler(quietMemory, nullptr);
        if (progress) lr->set_progress_handler(onProgress, progress);
        lr->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMB;
        try {
            return lr->open_datastream(ds.get()) == LIBRAW_SUCCESS;
        } catch (...) {
            return false;
        }
    }

    // The developed size: the visible area, turned by the orientation.
    bool size(long long& w, long long& h) const {
        const libraw_image_sizes_t& s = lr->imgdata.sizes;
        w = s.width;
        h = s.height;
        if (s.flip & 4) std::swap(w, h);
        // Developed pictures are 16-bit: 8 bytes a pixel.  The sensor area
        // must be one the file's bytes can describe: every stage after
        // unpacking works on all of it, whatever the data held.
        long long rawPixels = 0;
        return cPictBase::checkPixelCount(w, h, nullptr, 8) &&
               cPictBase::checkPixelCount(s.raw_width, s.raw_height, &rawPixels) &&
               cPictBase::rawCanDescribe(rawPixels, ds->inputSize());
    }

    // The JPEG streams the chosen decoder will read (pictrawjpeg.h), each
    // one held to its tile and all weighed against the sensor pixels the
    // input may describe, then charged to the caller's decode meter.
    bool jpegStreamsInProportion() {
        const long long n = ds->inputSize();
        unsigned long long limit = 0;
        if (!checked_mul(static_cast<unsigned long long>(n), static_cast<unsigned long long>(kMaxRawPixelsPerInputByte),
                         limit) ||
            !checked_add(limit, static_cast<unsigned long long>(kFreePictPixels), limit))
            limit = std::numeric_limits<unsigned long long>::max();
        cLibRawView view(*ds);
        unsigned long long work = 0;
        if (!weighRawJpegStreams(lr->plan(), view, limit, work)) return false;
        cPictBase::sDecodeMeter* meter = cPictBase::decodeMeter();
        return !meter || !work || meter->chargeScan(work);
    }

    ~sRawSession() {
        if (lr) lr->recycle();
    }
};

// ---------------------------------------------------------------------------
// Header checks

bool startsWith(const unsigned char* p, const char* s) { return std::memcmp(p, s, std::strlen(s)) == 0; }

bool makeIs(const cPictRawBase::sHeader& h, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(h.make[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// A TIFF whose IFD 0 names a maker that has a format of its own.
bool isCanon2(const cPictRawBase::sHeader& h) {
    // CR2: "II*\0", IFD 0 at 16, and "CR" with major version 2 at 8.
    return h.tiff && startsWith(h.head, "II*") && h.head[3] == 0 && h.head[8] == 'C' && h.head[9] == 'R' &&
           h.head[10] == 2;
}

bool makerTiff(const cPictRawBase::sHeader& h, const char* make) {
    return h.tiff && h.tiffMagic && !h.dng && !isCanon2(h) && makeIs(h, make);
}

constexpr const char* kPentax[] = {"PENTAX", "RICOH", "Asahi"};
constexpr const char* kOwnMakers[] = {"PENTAX", "RICOH", "Asahi", "SONY", "SAMSUNG", "Leaf", "NIKON", "Hasselblad"};

// Containers LibRaw is given: those of TIFF structure, walked whole first.
bool tiffBased(int type) {
    switch (type) {
        case cPictBase::ptMRW:
        case cPictBase::ptX3F:
        case cPictBase::ptIIQ:
        case cPictBase::ptRAF:
        case cPictBase::ptCRW:
        case cPictBase::ptCR3: return false;
        default: return true;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

bool cPictRawBase::readHeader(cFileIOTarget* stream, sHeader& h) {
    h = sHeader();
    if (!stream || !stream->set_fp(0)) return false;
    cByteReader in(stream, sizeof h.head, 0);
    if (in.readSome(h.head, sizeof h.head) < 8) return false;
    const bool little = h.head[0] == 'I' && h.head[1] == 'I';
    const bool big = h.head[0] == 'M' && h.head[1] == 'M';
    if (little || big) {
        sRawTiffWalk w;
        h.tiff = walkRawTiff(stream, stream->size(), w);
        h.tiffMagic = cByteReader::u16(h.head + 2, big) == 42;
        std::memcpy(h.make, w.make, sizeof h.make);
        h.dng = w.dng;
        h.tiffEP = w.tiffEP;
        h.cfa = w.cfa;
        h.rawWidth = w.rawWidth;
        h.rawHeight = w.rawHeight;
        h.crashesLibRaw = w.unsafeCfa;
        h.hidden = std::move(w.hidden);
    }
    return true;
}

bool cPictRawBase::accepts(const sHeader& h, int type) {
    if (h.crashesLibRaw) return false;
    const unsigned char* p = h.head;
    switch (type) {
        case ptMRW: return p[0] == 0 && startsWith(p + 1, "MRM");
        case ptRWL: return h.tiff && startsWith(p, "IIU") && p[3] == 0;
        case ptORF: return h.tiff && (startsWith(p, "IIRO") || startsWith(p, "IIRS") || startsWith(p, "MMOR"));
        case ptX3F: return startsWith(p, "FOVb");
        case ptIIQ: return (startsWith(p, "IIII") || startsWith(p, "MMMM")) && startsWith(p + 8, "Raw");
        case ptRAF: return startsWith(p, "FUJIFILM");
        case ptCRW: return (startsWith(p, "II") || startsWith(p, "MM")) && startsWith(p + 6, "HEAPCCDR");
        case ptCR3: return startsWith(p + 4, "ftyp") && startsWith(p + 8, "crx ");
        case ptCR2: return isCanon2(h);
        case ptPEF:
            for (const char* m : kPentax)
                if (makerTiff(h, m)) return true;
            return false;
        case ptARW: return makerTiff(h, "SONY");
        case ptSRW: return makerTiff(h, "SAMSUNG");
        case ptMOS: return makerTiff(h, "Leaf");
        case ptNEF: return makerTiff(h, "NIKON");
        case pt3FR: return makerTiff(h, "Hasselblad");
        case ptDNG: return h.tiff && h.tiffMagic && h.dng;
        case ptTIFF_EP:
            if (!h.tiff || !h.tiffMagic || h.dng || isCanon2(h) || !(h.tiffEP || h.cfa)) return false;
            for (const char* m : kOwnMakers)
                if (makeIs(h, m)) return false;
            return true;
        default: return false;
    }
}

bool cPictRawBase::probe(cFileIOTarget* stream, sPictInfo* info, int type) {
    sHeader h;
    if (!readHeader(stream, h) || !accepts(h, type)) return false;
    if (!info) return true;
    info->width = info->height = 0;
    info->hasPreview = false;
    sRawSession session;
    long long w = 0, ht = 0;
    if (tiffBased(type) && session.open(stream, h) && session.size(w, ht)) {
        info->width = w;
        info->height = ht;
        const libraw_thumbnail_t& t = session.lr->imgdata.thumbnail;
        // A JPEG thumbnail's length is known after opening; a bitmap one
        // only has its size until it is unpacked.
        info->hasPreview = t.tlength > 0 || (t.twidth > 0 && t.theight > 0);
    } else if (type == ptX3F) {
        // Sigma files never go to LibRaw; their header tells the size:
        // columns and rows after the version, id and mark bits.
        unsigned char x[8];
        if (cByteReader::readAt(stream, 28, x, 8)) {
            cByteReader r(x, 8);
            std::uint32_t cols = 0, rows = 0;
            r.read_u32le(cols);
            r.read_u32le(rows);
            info->width = cols;
            info->height = rows;
        }
    } else if (h.cfa) {
        info->width = h.rawWidth;
        info->height = h.rawHeight;
    }
    return true;
}

cPictRawBase::~cPictRawBase() = default;

long long cPictRawBase::largestStreamWork(bool reset) {
    const long long v = tRawStreamWork;
    if (reset) tRawStreamWork = 0;
    return v;
}

long long cPictRawBase::streamWorkBudget(long long inputBytes) {
    if (inputBytes < 0) return 0;
    long long most = 0;
    if (!checked_mul(inputBytes, kRawStreamWorkPerInputByte, most) || !checked_add(most, kFreeRawStreamWork, most))
        return std::numeric_limits<long long>::max();
    return most;
}

bool cPictRawBase::decode(cFileIOTarget* stream) {
    close();
    sHeader h;
    if (!tiffBased(type_) || !readHeader(stream, h) || !accepts(h, type_)) return false;
    sRawSession session;
    long long w = 0, ht = 0;
    if (!session.open(stream, h, drawProgress_) || !session.size(w, ht) || !session.jpegStreamsInProportion())
        return false;
    LibRaw& lr = *session.lr;
    libraw_output_params_t& p = lr.imgdata.params;
    p.output_bps = 16;
    if (linear_) {
        p.gamm[0] = p.gamm[1] = 1.0;
        p.no_auto_bright = 1;
    }
    libraw_processed_image_t* img = nullptr;
    try {
        if (lr.unpack() != LIBRAW_SUCCESS || lr.dcraw_process() != LIBRAW_SUCCESS) return false;
        int err = 0;
        img = lr.dcraw_make_mem_image(&err);
    } catch (...) {
        img = nullptr;
    }
    if (!img) return false;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> hold(img, LibRaw::dcraw_clear_mem);
    const long long iw = img->width, ih = img->height, colors = img->colors;
    unsigned long long need = 0;
    if (img->type != LIBRAW_IMAGE_BITMAP || img->bits != 16 || (colors != 1 && colors != 3) ||
        !checked_mul(static_cast<unsigned long long>(iw * ih), static_cast<unsigned long long>(colors * 2), need) ||
        need > img->data_size || !allocPixels16(iw, ih))
        return false;
    const unsigned short* src = reinterpret_cast<const unsigned short*>(img->data);
    for (long long y = 0; y < ih; ++y) {
        unsigned long long* row = pixels16_.data() + (ih - 1 - y) * iw;
        const unsigned short* s = src + y * iw * colors;
        for (long long x = 0; x < iw; ++x, s += colors) {
            const unsigned long long r = s[0], g = colors == 3 ? s[1] : s[0], b = colors == 3 ? s[2] : s[0];
            row[x] = 0xFFFFULL << 48 | r << 32 | g << 16 | b;
        }
    }
    // What the camera said about the shot.
    const libraw_iparams_t& id = lr.imgdata.idata;
    if (auto* make = static_cast<cPictPropString*>(getProp(epMake, true))) make->value.set(id.make);
    if (auto* model = static_cast<cPictPropString*>(getProp(epModel, true))) model->value.set(id.model);
    const libraw_imgother_t& o = lr.imgdata.other;
    if (o.iso_speed > 0)
        if (auto* iso = static_cast<cPictPropInt*>(getProp(epISOSpeed, true))) iso->value = static_cast<int>(o.iso_speed);
    if (o.shutter > 0)
        if (auto* t = static_cast<cPictPropDouble*>(getProp(epExposureTime, true))) t->value = o.shutter;
    if (o.aperture > 0)
        if (auto* f = static_cast<cPictPropDouble*>(getProp(epFNumber, true))) f->value = o.aperture;
    return true;
}

bool cPictRawBase::getPreview(cFileIOTarget* stream, cPictBase& out, const long long*, const long long*) {
    sHeader h;
    if (!tiffBased(type_) || !readHeader(stream, h) || !accepts(h, type_)) return false;
    sRawSession session;
    if (!session.open(stream, h) || !session.lr->thumbnailInProportion(session.ds->inputSize())) return false;
    libraw_processed_image_t* img = nullptr;
    try {
        if (session.lr->unpack_thumb() != LIBRAW_SUCCESS) return false;
        int err = 0;
        img = session.lr->dcraw_make_mem_thumb(&err);
    } catch (...) {
        img = nullptr;
    }
    if (!img) return false;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> hold(img, LibRaw::dcraw_clear_mem);
    if (img->type == LIBRAW_IMAGE_JPEG) {
        cBufWrapperIO io(img->data, img->data_size, false);
        cPictJPEG jpeg;
        if (!jpeg.decode(&io)) return false;
        jpeg.moveTo(out);
        return true;
    }
    const long long w = img->width, ht = img->height;
    cPictDummy pict;
    unsigned long long need = 0;
    if (img->type != LIBRAW_IMAGE_BITMAP || img->bits != 8 || img->colors != 3 ||
        !checked_mul(static_cast<unsigned long long>(w * ht), 3ULL, need) || need > img->data_size ||
        !pict.allocPixels8(w, ht))
        return false;
    for (long long y = 0; y < ht; ++y)
        for (long long x = 0; x < w; ++x) {
            const unsigned char* s = img->data + (y * w + x) * 3;
            pict.raw8Bpp()[(ht - 1 - y) * w + x] = 0xFF000000u | static_cast<unsigned>(s[0]) << 16 | s[1] << 8 | s[2];
        }
    pict.moveTo(out);
    return true;
}
