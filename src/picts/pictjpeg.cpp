// JPEG through libjpeg-turbo: the source manager over our stream, the error
// manager that turns the library's fatal errors into false, and the rows
// written as 0xAARRGGBB pixels (the library's BGRA output is that word in
// memory on a little-endian machine).
//
// The library reports fatal errors through error_exit, which must not
// return; it longjmps back to the call that entered the library.  Every
// function below that holds a setjmp keeps only trivially destructible
// locals, so the jump skips no destructor.
#include "picts/pictjpeg.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/memio.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Bytes asked of the stream per refill of the library's input.
constexpr unsigned int kJpegInputPiece = 64 * 1024;
// ... up to this much when the stream holds more: the library decodes the
// last few hundred bytes of every piece one byte at a time, so a whole file
// in few pieces decodes faster.
constexpr unsigned long long kJpegLargestPiece = 4 << 20;

// The piece for a stream: what is left of it, between the two sizes.
unsigned int inputPieceFor(cFileIOTarget* stream) {
    const long long size = stream->size(), at = stream->get_fp();
    if (size <= 0 || at < 0 || at >= size) return kJpegInputPiece;
    const unsigned long long left = static_cast<unsigned long long>(size - at);
    return static_cast<unsigned int>(std::min(std::max<unsigned long long>(left, kJpegInputPiece), kJpegLargestPiece));
}
// What the library may allocate for one picture beyond our own pixels
// (whole-picture coefficient buffers among them).
constexpr long kMaxJpegLibraryMemory = 1L << 30;

}  // namespace

struct cJPEGParser::sState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    jpeg_source_mgr src;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    cFileIOTarget* stream = nullptr;
    cByteReader in;                 // the stream's bytes, handed over in place
    unsigned int piece = 0;         // bytes asked of it at a time
    unsigned char buffer[2];        // the end marker made up when the data ends
    unsigned long long fed = 0;   // bytes handed to the library, fake end marker excluded
    bool endInserted = false;     // the stream ran out and a fake EOI was handed over
    bool created = false;
    bool started = false;
    int scanChecked = 0;          // the last scan charged to the budget
    cJPEGBudget own;
    cJPEGBudget* budget = &own;   // or the budget of the picture the data came in
    bool multiScan = false;       // every scan is read before the first row
    long long rowsRead = 0;
    _typebuf<unsigned char> cmykRow;
};

namespace {

// EXIF numbers are rationals and 32-bit fields of any sign; a value outside
// int (or not a number) becomes the nearest int, not undefined behaviour.
int toInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

// A directory offset: a number outside 32 bits (a negative signed LONG, a
// rational out of range) names no directory.
std::uint32_t toOffset(double v) { return v >= 0 && v < 4294967296.0 ? static_cast<std::uint32_t>(v) : 0; }

}  // namespace

namespace {

using sState = cJPEGParser::sState;

sState* stateOf(j_common_ptr cinfo) { return static_cast<sState*>(cinfo->client_data); }

// Fatal errors end the library call through the jump of the caller.
void errorExit(j_common_ptr cinfo) { std::longjmp(stateOf(cinfo)->jump, 1); }
// Warnings and traces are counted by the library (num_warnings); nothing
// is printed.
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}

void initSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    sState* st = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
    const unsigned char* piece = nullptr;
    const std::size_t got = st->in.viewSome(piece, st->piece);
    if (got == 0) {
        // The data ended early: hand the library an end marker so that it
        // stops, and remember that the picture is incomplete.
        st->endInserted = true;
        st->buffer[0] = 0xFF;
        st->buffer[1] = JPEG_EOI;
        st->src.next_input_byte = st->buffer;
        st->src.bytes_in_buffer = 2;
        return TRUE;
    }
    st->fed += got;
    st->src.next_input_byte = piece;
    st->src.bytes_in_buffer = got;
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long n) {
    if (n <= 0) return;
    sState* st = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
    while (n > static_cast<long>(st->src.bytes_in_buffer)) {
        n -= static_cast<long>(st->src.bytes_in_buffer);
        st->src.bytes_in_buffer = 0;
        fillInput(cinfo);
        if (st->endInserted) return;
    }
    st->src.next_input_byte += n;
    st->src.bytes_in_buffer -= static_cast<std::size_t>(n);
}

void termSource(j_decompress_ptr) {}

// A multi-scan file's scans (progressive, or sequential with its
// components in several scans) are all read before the first row comes
// out, each over the whole picture.  Each is charged to the decode's
// budget as it begins, against the bytes fed so far (a shared budget keeps
// the input it was given); once the data has ended, the decode is refused
// (it would be at its first row anyway).  A one-scan file was charged its
// scan when it started.
void progressMonitor(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    sState* st = stateOf(cinfo);
    if (d->input_scan_number > kMaxJpegScans) errorExit(cinfo);
    if (st->started || !st->multiScan) return;
    if (st->endInserted) errorExit(cinfo);
    // The monitor runs once a row of blocks, the scan count moves once a
    // scan.
    if (d->input_scan_number == st->scanChecked) return;
    st->scanChecked = d->input_scan_number;
    int which[MAX_COMPS_IN_SCAN];
    const int n = std::min(d->comps_in_scan, MAX_COMPS_IN_SCAN);
    for (int i = 0; i < n; ++i) which[i] = d->cur_comp_info[i]->component_index;
    if (st->budget == &st->own) st->own.setInput(static_cast<long long>(st->fed));
    if (!st->budget->scan(which, n)) errorExit(cinfo);
}

}  // namespace

// ---------------------------------------------------------------------------
// The budget.

bool cJPEGBudget::sFrame::set(long long w, long long h, int n, const int* hs, const int* vs) {
    if (w < 1 || h < 1 || n < 1 || n > kComponentsMost) return false;
    int hMax = 1, vMax = 1;
    for (int c = 0; c < n; ++c) {
        if (hs[c] < 1 || hs[c] > 4 || vs[c] < 1 || vs[c] > 4) return false;
        hMax = std::max(hMax, hs[c]);
        vMax = std::max(vMax, vs[c]);
    }
    width = w;
    height = h;
    components = n;
    // libjpeg's width_in_blocks and height_in_blocks: the component's
    // samples rounded up to whole blocks of 8 x 8.
    for (int c = 0; c < n; ++c) {
        const long long bw = (w * hs[c] + 8LL * hMax - 1) / (8LL * hMax);
        const long long bh = (h * vs[c] + 8LL * vMax - 1) / (8LL * vMax);
        blocks[c] = bw * bh;
    }
    return true;
}

unsigned long long cJPEGBudget::sFrame::samples(const int* which, int n) const {
    unsigned long long total = 0;
    for (int i = 0; i < n; ++i)
        if (which[i] >= 0 && which[i] < components) total += static_cast<unsigned long long>(blocks[which[i]]) * 64;
    return total;
}

unsigned long long cJPEGBudget::sFrame::coefficientBytes() const {
    if (!multiScan) return 0;
    unsigned long long total = 0;
    for (int c = 0; c < components; ++c) total += static_cast<unsigned long long>(blocks[c]) * 64 * 2;
    return total;
}

bool cJPEGBudget::frame(const sFrame& f) {
    frame_ = f;
    const long long pixels = f.width * f.height;
    const unsigned long long held = f.coefficientBytes();
    held_ = std::max(held_, held);
    // The picture at four bytes a pixel and the coefficients beside it.
    const unsigned long long perPixel = 4 + (held + static_cast<unsigned long long>(pixels) - 1) / pixels;
    if (perPixel > 1024 || !cPictBase::inputCanDescribe(pixels, input_, static_cast<int>(perPixel))) return false;
    // And with every picture before it: the strips of one TIFF, a picture
    // and its thumbnail.  Sides are 16-bit, and each frame comes with a
    // scan (kMaxJpegScans at most): the sum cannot wrap.
    ++frames_;
    pixels_ += static_cast<unsigned long long>(pixels);
    if (frames_ > 1 && !cPictBase::inputCanDescribe(static_cast<long long>(std::min(pixels_, 1ULL << 62)), input_))
        return false;
    cPictBase::sDecodeMeter* meter = cPictBase::decodeMeter();
    return !meter || !held || meter->chargeHeld(held);
}

bool cJPEGBudget::charge(unsigned long long samples) {
    if (samples > ~0ULL - work_) return false;
    work_ += samples;
    const unsigned long long pixels = std::min<unsigned long long>(work_ / kJpegScanBudget, 1ULL << 62);
    return cPictBase::inputCanDescribe(static_cast<long long>(pixels), input_);
}

bool cJPEGBudget::scan(const int* which, int n) {
    if (++scans_ > kMaxJpegScans) return false;
    const unsigned long long samples = frame_.samples(which, n);
    if (!charge(samples)) return false;
    cPictBase::sDecodeMeter* meter = cPictBase::decodeMeter();
    return !meter || meter->chargeScan(samples);
}

namespace {

// The next marker's code after the bytes of a segment or of entropy-coded
// data, as libjpeg's reader finds it: anything up to a 0xFF is skipped, fill
// bytes 0xFF are skipped, and 0xFF 0x00 (a stuffed byte) and the restart
// markers belong to the data.  False when the bytes end first.
bool nextMarker(cByteReader& in, std::size_t end, unsigned char& code) {
    for (;;) {
        if (in.tell() >= end) return false;
        const unsigned char* p = nullptr;
        const std::size_t got = in.viewSome(p, end - in.tell());
        if (!got) return false;
        const void* ff = std::memchr(p, 0xFF, got);
        if (!ff) continue;  // viewSome moved past them
        const std::size_t at = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - p);
        // Back to just after the 0xFF.
        if (!in.seek(in.tell() - got + at + 1)) return false;
        unsigned char b = 0xFF;
        while (b == 0xFF) {
            if (in.tell() >= end || !in.byte(b)) return false;
        }
        if (b != 0x00 && (b < 0xD0 || b > 0xD7)) {
            code = b;
            return true;
        }
    }
}

}  // namespace

bool cJPEGBudget::walk(cByteReader& in, unsigned long long length) {
    const std::size_t start = in.tell();
    std::size_t end = 0;
    if (!checked_add(start, static_cast<std::size_t>(std::min<unsigned long long>(length, ~std::size_t(0) >> 1)), end))
        return false;
    unsigned char soi[2];
    // What libjpeg would refuse at once costs nothing: the walk stops where
    // the library would.
    if (end - start < 2 || !in.read(soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return charge(in.tell() - start);
    bool haveFrame = false, charged = false, progressive = false;
    int ids[kComponentsMost] = {};
    for (;;) {
        unsigned char code = 0;
        if (!nextMarker(in, end, code) || code == 0xD8 || code == 0xD9) break;
        if (code == 0x01) continue;  // TEM: no length
        std::uint16_t len = 0;
        if (!in.read_u16be(len) || len < 2 || in.tell() + len - 2 > end) break;
        const std::size_t next = in.tell() + len - 2;
        const bool sof = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (sof) {
            if (haveFrame) break;  // libjpeg refuses a second frame
            std::uint8_t precision = 0, nf = 0;
            std::uint16_t h = 0, w = 0;
            if (!in.read_u8(precision) || !in.read_u16be(h) || !in.read_u16be(w) || !in.read_u8(nf) || nf < 1 ||
                nf > kComponentsMost)
                break;
            int hs[kComponentsMost], vs[kComponentsMost];
            bool ok = true;
            for (int c = 0; c < nf && ok; ++c) {
                std::uint8_t id = 0, hv = 0, tq = 0;
                ok = in.read_u8(id) && in.read_u8(hv) && in.read_u8(tq);
                ids[c] = id;
                hs[c] = hv >> 4;
                vs[c] = hv & 15;
            }
            if (!ok || !frame_.set(w, h, nf, hs, vs)) break;
            haveFrame = true;
            progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
        } else if (code == 0xDA) {
            std::uint8_t ns = 0;
            if (!haveFrame || !in.read_u8(ns) || ns < 1 || ns > 4 || ns > frame_.components) break;
            int which[4];
            bool ok = true;
            for (int i = 0; i < ns && ok; ++i) {
                std::uint8_t id = 0, table = 0;
                ok = in.read_u8(id) && in.read_u8(table);
                which[i] = -1;
                for (int c = 0; c < frame_.components; ++c)
                    if (ids[c] == id) which[i] = c;
                ok = ok && which[i] >= 0;
            }
            if (!ok) break;
            if (!charged) {
                frame_.multiScan = progressive || ns < frame_.components;
                if (!frame(frame_)) return false;
                charged = true;
            }
            if (!scan(which, ns)) return false;
            // A one-scan frame ends with its scan: libjpeg reads no other.
            if (!frame_.multiScan) break;
        }
        if (!in.seek(next)) break;
    }
    return charge(in.tell() - start);
}

cJPEGParser::cJPEGParser() = default;

cJPEGParser::~cJPEGParser() { reset(); }

void cJPEGParser::reset() {
    if (st_ && st_->created) jpeg_destroy_decompress(&st_->cinfo);
    st_.reset();
    width_ = height_ = 0;
    exif_.set(0);
    components_ = 0;
    progressive_ = multiScan_ = cmyk_ = inverted_ = false;
}

const cJPEGBudget& cJPEGParser::budget() const {
    static const cJPEGBudget kNone;
    return st_ ? *st_->budget : shared_ ? *shared_ : kNone;
}

cJPEGBudget* cJPEGParser::charging() { return st_ ? st_->budget : nullptr; }

unsigned long long cJPEGParser::bytesConsumed() const {
    if (!st_) return 0;
    if (st_->endInserted) return st_->fed;
    return st_->fed - st_->src.bytes_in_buffer;
}

bool cJPEGParser::readHeader(cFileIOTarget* stream) {
    reset();
    if (!stream || !stream->valid()) return false;
    try {
        st_.reset(new sState);
    } catch (const std::bad_alloc&) {
        return false;
    }
    sState* st = st_.get();
    st->stream = stream;
    if (shared_) st->budget = shared_;
    st->piece = inputPieceFor(stream);
    st->in = cByteReader(stream, st->piece, 0);
    st->cinfo.err = jpeg_std_error(&st->jerr);
    st->jerr.error_exit = errorExit;
    st->jerr.emit_message = emitMessage;
    st->jerr.output_message = outputMessage;
    if (setjmp(st->jump)) return false;
    jpeg_create_decompress(&st->cinfo);
    st->created = true;
    st->cinfo.client_data = st;
    st->cinfo.mem->max_memory_to_use = kMaxJpegLibraryMemory;
    st->src.init_source = initSource;
    st->src.fill_input_buffer = fillInput;
    st->src.skip_input_data = skipInput;
    st->src.resync_to_restart = jpeg_resync_to_restart;
    st->src.term_source = termSource;
    st->src.bytes_in_buffer = 0;
    st->src.next_input_byte = nullptr;
    st->cinfo.src = &st->src;
    st->progress.progress_monitor = progressMonitor;
    st->cinfo.progress = &st->progress;

    jpeg_save_markers(&st->cinfo, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&st->cinfo, TRUE) != JPEG_HEADER_OK) return false;
    for (jpeg_saved_marker_ptr m = st->cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length <= 6 || std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
        if (!cPictBase::sizeBuffer(exif_, m->data_length - 6)) return false;
        std::memcpy(exif_.data(), m->data + 6, m->data_length - 6);
        break;
    }
    // A header that the data cut short is not a picture.
    if (st->endInserted) return false;
    if (!cPictBase::checkPixelCount(st->cinfo.image_width, st->cinfo.image_height)) return false;
    width_ = st->cinfo.image_width;
    height_ = st->cinfo.image_height;
    components_ = st->cinfo.num_components;
    progressive_ = st->cinfo.progressive_mode != 0;
    // libjpeg buffers the whole picture when the first scan does not carry
    // every component, as it does for a progressive file.
    multiScan_ = progressive_ || st->cinfo.comps_in_scan < st->cinfo.num_components;
    st->multiScan = multiScan_;
    switch (st->cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            cmyk_ = false;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cmyk_ = true;
            // Adobe's writers store CMYK inverted and say so in their APP14
            // marker; files without it hold plain ink amounts.
            inverted_ = st->cinfo.saw_Adobe_marker != 0;
            break;
        default: return false;
    }
    return true;
}

bool cJPEGParser::start() {
    sState* st = st_.get();
    if (!st || !st->created || st->started) return false;
    if (cmyk_) {
        if (!cPictBase::sizeBuffer(st->cmykRow, width_ * 4)) return false;
    }
    // Rows the data cannot reach would be refused at the first made-up one;
    // a picture the whole stream cannot describe, with the coefficients a
    // multi-scan file is held in, is refused before the library reserves
    // its buffers or reads a scan.  A one-scan file is charged its scan
    // here, a multi-scan file each scan as it begins (progressMonitor).
    cJPEGBudget::sFrame f;
    int hs[cJPEGBudget::kComponentsMost], vs[cJPEGBudget::kComponentsMost], all[cJPEGBudget::kComponentsMost];
    const int n = std::min(st->cinfo.num_components, cJPEGBudget::kComponentsMost);
    for (int c = 0; c < n; ++c) {
        hs[c] = st->cinfo.comp_info[c].h_samp_factor;
        vs[c] = st->cinfo.comp_info[c].v_samp_factor;
        all[c] = c;
    }
    if (!f.set(width_, height_, n, hs, vs)) return false;
    f.multiScan = multiScan_;
    if (st->budget == &st->own) st->own.setInput(st->stream->size());
    if (!st->budget->frame(f) || (!multiScan_ && !st->budget->scan(all, n))) return false;
    if (setjmp(st->jump)) return false;
    st->cinfo.out_color_space = cmyk_ ? JCS_CMYK : JCS_EXT_BGRA;
    if (!jpeg_start_decompress(&st->cinfo)) return false;
    if (static_cast<long long>(st->cinfo.output_width) != width_ ||
        static_cast<long long>(st->cinfo.output_height) != height_)
        return false;
    st->started = true;
    st->rowsRead = 0;
    return true;
}

bool cJPEGParser::readRow(unsigned int* row) {
    sState* st = st_.get();
    if (!st || !st->started || st->rowsRead >= height_) return false;
    if (setjmp(st->jump)) return false;
    JSAMPROW out = cmyk_ ? st->cmykRow.data() : reinterpret_cast<JSAMPROW>(row);
    if (jpeg_read_scanlines(&st->cinfo, &out, 1) != 1) return false;
    // Rows the library made up after the data ended are not the picture's.
    if (st->endInserted) return false;
    ++st->rowsRead;
    if (cmyk_) {
        const unsigned char* s = st->cmykRow.data();
        for (long long x = 0; x < width_; ++x, s += 4) {
            unsigned int c = s[0], m = s[1], y = s[2], k = s[3];
            if (!inverted_) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            // Inverted samples: red = (1 - cyan)(1 - black) in 0..255.
            const unsigned int r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return true;
}

namespace {

// Rows offered to the library in one call: more than any row group it makes
// at once, so that each call ends on whole groups.  A call gives back one
// group (two rows of a 4:2:0 picture), so the row pointers are worked out
// once a batch and handed over from where the last call stopped.
constexpr int kRowsPerCall = 64;

// The loop of readRows, outside the frame that holds the jump.
bool readRowsUnguarded(sState* st, unsigned int* rows, long long stride, long long count) {
    JSAMPROW pointers[kRowsPerCall];
    for (long long done = 0; done < count;) {
        const int n = static_cast<int>(std::min<long long>(kRowsPerCall, count - done));
        for (int i = 0; i < n; ++i) pointers[i] = reinterpret_cast<JSAMPROW>(rows + (done + i) * stride);
        for (int used = 0; used < n;) {
            const JDIMENSION got = jpeg_read_scanlines(&st->cinfo, pointers + used, static_cast<JDIMENSION>(n - used));
            // Rows the library made up after the data ended are not the
            // picture's; neither are the others of that call.
            if (got == 0 || st->endInserted) return false;
            used += static_cast<int>(got);
            st->rowsRead += got;
        }
        done += n;
    }
    return true;
}

}  // namespace

bool cJPEGParser::readRows(unsigned int* rows, long long stride, long long count) {
    sState* st = st_.get();
    if (!st || !st->started || !rows || count < 0 || count > height_ - st->rowsRead) return false;
    if (cmyk_) {
        // Converted from the ink row one at a time.
        for (long long k = 0; k < count; ++k)
            if (!readRow(rows + k * stride)) return false;
        return true;
    }
    if (setjmp(st->jump)) return false;
    return readRowsUnguarded(st, rows, stride, count);
}

bool cJPEGParser::finish() {
    sState* st = st_.get();
    if (!st || !st->started || st->rowsRead != height_) return false;
    if (setjmp(st->jump)) return false;
    if (!jpeg_finish_decompress(&st->cinfo)) return false;
    st->started = false;
    return true;
}

// ---------------------------------------------------------------------------

cPictJPEG::cPictJPEG() = default;
cPictJPEG::~cPictJPEG() = default;

bool cPictJPEG::validFor(cFileIOTarget* stream, sPictInfo* info) {
    // The start-of-image marker and the start of the next marker; anything
    // else is left to the library's header reader.
    unsigned char magic[3];
    if (!stream) return false;
    cByteReader head(stream, sizeof magic, 0);
    if (!head.read(magic, 3) || magic[0] != 0xFF || magic[1] != 0xD8 || magic[2] != 0xFF) return false;
    if (!stream->set_fp(0)) return false;
    cJPEGParser parser;
    if (!parser.readHeader(stream)) return false;
    if (info) {
        info->width = parser.width();
        info->height = parser.height();
        std::size_t off = 0, len = 0;
        info->hasPreview = findThumbnail(parser.exif(), off, len);
    }
    return true;
}

bool cPictJPEG::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }

bool cPictJPEG::decode(cFileIOTarget* stream) {
    // The pixels of the picture decoded before are written over when the
    // new one has as many: memory already mapped is not given back to be
    // asked for again.
    _typebuf<unsigned int> earlier;
    earlier.swap(pixels8_);
    close();
    // A picture past the pixel ceiling is refused before libjpeg lays out
    // its buffers (a progressive picture's coefficients are as large as
    // it), unless it is drawn into a smaller target.
    parser_.chargeTo(within_);
    if (!parser_.readHeader(stream) || (!isExtRender() && parser_.width() * parser_.height() > pixelCeiling()) ||
        !parser_.start())
        return false;
    const long long w = parser_.width(), h = parser_.height();
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    bool ok = true;
    if (startExtRender()) {
        _typebuf<unsigned int> row;
        if (!sizeBuffer(row, w)) {
            endExtRender();
            close();
            return false;
        }
        for (long long r = 0; r < h && ok; ++r) {
            ok = parser_.readRow(row.data());
            const long long y = h - 1 - r;  // row 0 is the bottom row
            if (!ok || !canExtRender(0, w - 1, y, y)) continue;
            for (long long x = 0; x < w; ++x) setExtPix(x, y, row[x]);
        }
        endExtRender();
    } else {
        pixels8_.swap(earlier);
        if (!allocPixels8(w, h)) return false;
        // Row 0 is the bottom row: the top one is stored last.
        ok = parser_.readRows(raw8Bpp() + (h - 1) * w, -w, h);
    }
    if (ok) ok = parser_.finish();
    if (!ok) {
        close();
        return false;
    }
    // A thumbnail's own EXIF values would be thrown away with its decoder;
    // its own thumbnail is never decoded.
    if (!within_) storeExif(parser_.exif());
    return true;
}

bool cPictJPEG::getPreview(cFileIOTarget* stream, cPictBase& dst, const long long*, const long long*) {
    if (!stream) return false;
    cJPEGParser parser;
    if (!parser.readHeader(stream)) return false;
    // Held to the bytes of the file it came in, as when the picture is
    // decoded with it.
    cJPEGBudget budget(stream->size());
    return decodeThumbnail(parser.exif(), dst, budget);
}

bool cPictJPEG::decodeThumbnail(const _typebuf<unsigned char>& exif, cPictBase& into, cJPEGBudget& budget) {
    into.close();
    std::size_t off = 0, len = 0;
    if (!findThumbnail(exif, off, len)) return false;
    cBufWrapperIO io(const_cast<unsigned char*>(exif.data()) + off, static_cast<long long>(len), false);
    cPictJPEG thumb;
    thumb.within_ = &budget;
    if (!thumb.decode(&io)) return false;
    thumb.moveTo(into);
    return true;
}

// ---------------------------------------------------------------------------
// EXIF: a TIFF structure (byte order mark, 42, first IFD) inside APP1.

namespace {

// Field types of TIFF directories and their sizes.
enum { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSLong = 9, kSRational = 10 };

int typeSize(unsigned type) {
    switch (type) {
        case kByte:
        case kAscii:
        case 6:
        case 7: return 1;
        case kShort:
        case 8: return 2;
        case kLong:
        case kSLong:
        case 11: return 4;
        case kRational:
        case kSRational:
        case 12: return 8;
        default: return 0;
    }
}

class cExifReader {
public:
    struct sEntry {
        unsigned tag = 0, type = 0;
        std::uint32_t count = 0;
        std::size_t at = 0;  // where the value lies in the block
    };

    explicit cExifReader(const _typebuf<unsigned char>& b) : data_(b.data()), size_(static_cast<std::size_t>(b.count())) {}

    // The byte order and the first directory's offset.
    bool start(std::uint32_t& first) {
        if (size_ < 8) return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            big_ = false;
        else if (data_[0] == 'M' && data_[1] == 'M')
            big_ = true;
        else
            return false;
        return u16(2) == 42 && (first = u32(4), true);
    }

    // The entries of the directory at `offset` and the next one's offset.
    bool directory(std::uint32_t offset, std::vector<sEntry>& out, std::uint32_t& next) {
        out.clear();
        if (offset < 8 || offset > size_ || size_ - offset < 2) return false;
        const unsigned n = u16(offset);
        std::size_t end = 0;
        if (!checked_add(static_cast<std::size_t>(offset) + 2, static_cast<std::size_t>(n) * 12, end) || end + 4 > size_)
            return false;
        for (unsigned i = 0; i < n; ++i) {
            const std::size_t e = offset + 2 + static_cast<std::size_t>(i) * 12;
            sEntry x;
            x.tag = u16(e);
            x.type = u16(e + 2);
            x.count = u32(e + 4);
            std::size_t bytes = 0;
            const int unit = typeSize(x.type);
            if (!unit || !checked_mul(static_cast<std::size_t>(x.count), static_cast<std::size_t>(unit), bytes))
                continue;
            x.at = bytes <= 4 ? e + 8 : u32(e + 8);
            if (x.at > size_ || bytes > size_ - x.at) continue;  // a value outside the block is ignored
            out.push_back(x);
        }
        next = u32(end);
        return true;
    }

    double number(const sEntry& e, std::uint32_t i = 0) const {
        if (i >= e.count) return 0;
        switch (e.type) {
            case kByte: return data_[e.at + i];
            case kShort: return u16(e.at + 2 * i);
            case kLong: return u32(e.at + 4 * i);
            case kSLong: return static_cast<std::int32_t>(u32(e.at + 4 * i));
            case kRational: {
                const std::uint32_t d = u32(e.at + 8 * i + 4);
                return d ? static_cast<double>(u32(e.at + 8 * i)) / d : 0;
            }
            case kSRational: {
                const std::int32_t d = static_cast<std::int32_t>(u32(e.at + 8 * i + 4));
                return d ? static_cast<double>(static_cast<std::int32_t>(u32(e.at + 8 * i))) / d : 0;
            }
            default: return 0;
        }
    }

    std::string text(const sEntry& e) const {
        if (e.type != kAscii) return std::string();
        std::string t(reinterpret_cast<const char*>(data_ + e.at), e.count);
        const std::size_t nul = t.find('\0');
        if (nul != std::string::npos) t.resize(nul);
        while (!t.empty() && t.back() == ' ') t.pop_back();
        return t;
    }

private:
    unsigned u16(std::size_t at) const { return cByteReader::u16(data_ + at, big_); }
    std::uint32_t u32(std::size_t at) const { return cByteReader::u32(data_ + at, big_); }

    const unsigned char* data_;
    std::size_t size_;
    bool big_ = false;
};

// "YYYY:MM:DD HH:MM:SS", the EXIF date form.
bool parseExifTime(const std::string& t, sTimestamp& out) {
    unsigned y, mo, d, h, mi, s;
    if (t.size() < 19 || std::sscanf(t.c_str(), "%4u:%2u:%2u %2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    out.year = static_cast<unsigned short>(y);
    out.month = static_cast<unsigned char>(mo);
    out.day = static_cast<unsigned char>(d);
    out.hour = static_cast<unsigned char>(h);
    out.minute = static_cast<unsigned char>(mi);
    out.second = static_cast<unsigned char>(s);
    return true;
}

// Degrees, minutes and seconds as three rationals.
double degrees(const cExifReader& r, const cExifReader::sEntry& e) {
    return r.number(e, 0) + r.number(e, 1) / 60.0 + r.number(e, 2) / 3600.0;
}

}  // namespace

bool cPictJPEG::findThumbnail(const _typebuf<unsigned char>& exif, std::size_t& offset, std::size_t& length) {
    cExifReader r(exif);
    std::uint32_t first = 0, second = 0, next = 0;
    std::vector<cExifReader::sEntry> entries;
    if (!r.start(first) || !r.directory(first, entries, second) || !second || !r.directory(second, entries, next))
        return false;
    double at = -1, len = -1;
    for (const auto& e : entries) {
        if (e.tag == 0x0201) at = r.number(e);  // JPEGInterchangeFormat
        if (e.tag == 0x0202) len = r.number(e);  // JPEGInterchangeFormatLength
    }
    const double size = static_cast<double>(exif.count());
    if (at < 8 || len < 4 || at + len > size) return false;
    offset = static_cast<std::size_t>(at);
    length = static_cast<std::size_t>(len);
    // A thumbnail starts with the start-of-image marker.
    return exif[static_cast<long long>(offset)] == 0xFF && exif[static_cast<long long>(offset) + 1] == 0xD8;
}

void cPictJPEG::storeExif(const _typebuf<unsigned char>& exif) {
    cExifReader r(exif);
    std::uint32_t first = 0, next = 0;
    std::vector<cExifReader::sEntry> ifd0, sub;
    if (!r.start(first) || !r.directory(first, ifd0, next)) return;
    auto setString = [&](eExProps id, const std::string& v) {
        if (v.empty()) return;
        if (cPictPropString* p = static_cast<cPictPropString*>(getProp(id, true))) p->value.set(v.c_str());
    };
    auto setDouble = [&](eExProps id, double v) {
        if (cPictPropDouble* p = static_cast<cPictPropDouble*>(getProp(id, true))) p->value = v;
    };
    auto setInt = [&](eExProps id, int v) {
        if (cPictPropInt* p = static_cast<cPictPropInt*>(getProp(id, true))) p->value = v;
    };
    auto setTime = [&](eExProps id, const std::string& v) {
        sTimestamp t;
        if (!parseExifTime(v, t)) return;
        if (cPictPropTimestamp* p = static_cast<cPictPropTimestamp*>(getProp(id, true))) p->value = t;
    };
    std::uint32_t exifIfd = 0, gpsIfd = 0;
    for (const auto& e : ifd0) {
        switch (e.tag) {
            case 0x010F: setString(epMake, r.text(e)); break;
            case 0x0110: setString(epModel, r.text(e)); break;
            case 0x011A: setDouble(epXResolution, r.number(e)); break;
            case 0x011B: setDouble(epYResolution, r.number(e)); break;
            case 0x0128: setInt(epResolutionUnit, toInt(r.number(e))); break;
            case 0x0132: setTime(epFileTime, r.text(e)); break;
            case 0x0112: {
                // Orientation 1..8: the turn clockwise and whether the picture
                // is mirrored left to right before it.
                static const int kRotation[9] = {0, 0, 0, 180, 180, 90, 90, 270, 270};
                static const int kMirror[9] = {0, 0, 1, 0, 1, 1, 0, 1, 0};
                const int o = toInt(r.number(e));
                if (o >= 1 && o <= 8) {
                    setInt(epRotation, kRotation[o]);
                    setInt(epMirror, kMirror[o]);
                }
                break;
            }
            case 0x8769: exifIfd = toOffset(r.number(e)); break;
            case 0x8825: gpsIfd = toOffset(r.number(e)); break;
            default: break;
        }
    }
    if (exifIfd && r.directory(exifIfd, sub, next)) {
        for (const auto& e : sub) {
            switch (e.tag) {
                case 0x829A: setDouble(epExposureTime, r.number(e)); break;
                case 0x829D: setDouble(epFNumber, r.number(e)); break;
                case 0x8827: setInt(epISOSpeed, toInt(r.number(e))); break;
                case 0x9003: setTime(epCaptureTime, r.text(e)); break;
                case 0xA002: setInt(epMetaWidth, toInt(r.number(e))); break;
                case 0xA003: setInt(epMetaHeight, toInt(r.number(e))); break;
                default: break;
            }
        }
    }
    if (gpsIfd && r.directory(gpsIfd, sub, next)) {
        char latRef = 'N', lonRef = 'E';
        int altRef = 0;
        const cExifReader::sEntry *lat = nullptr, *lon = nullptr, *alt = nullptr;
        for (const auto& e : sub) {
            if (e.tag == 1 && e.type == kAscii && e.count) latRef = r.text(e).empty() ? 'N' : r.text(e)[0];
            if (e.tag == 2 && e.type == kRational && e.count == 3) lat = &e;
            if (e.tag == 3 && e.type == kAscii && e.count) lonRef = r.text(e).empty() ? 'E' : r.text(e)[0];
            if (e.tag == 4 && e.type == kRational && e.count == 3) lon = &e;
            if (e.tag == 5 && e.count) altRef = toInt(r.number(e));
            if (e.tag == 6 && e.type == kRational) alt = &e;
        }
        // South, west and below sea level count negative.
        if (lat) setDouble(epGpsLatitude, (latRef == 'S' ? -1 : 1) * degrees(r, *lat));
        if (lon) setDouble(epGpsLongitude, (lonRef == 'W' ? -1 : 1) * degrees(r, *lon));
        if (alt) setDouble(epGpsAltitude, (altRef == 1 ? -1 : 1) * r.number(*alt));
    }
    std::size_t off = 0, len = 0;
    if (findThumbnail(exif, off, len)) {
        // Charged to this picture's budget, which its own scans went to.
        cJPEGBudget* budget = parser_.charging();
        cPictDummy* thumb = budget ? new (std::nothrow) cPictDummy : nullptr;
        if (thumb && decodeThumbnail(exif, *thumb, *budget)) {
            if (cPictPropImage* p = static_cast<cPictPropImage*>(getProp(epPreview, true))) {
                delete p->value;
                p->value = thumb;
                thumb = nullptr;
            }
        }
        delete thumb;
    }
}

bool cPictJPEG::decodeFrom(cFileIOTarget* stream, cPictBase& into, unsigned long long* consumed) {
    cPictJPEG jpeg;
    const bool ok = jpeg.decode(stream);
    if (consumed) *consumed = jpeg.parser().bytesConsumed();
    into.close();
    if (!ok) return false;
    jpeg.moveTo(into);
    return true;
}
