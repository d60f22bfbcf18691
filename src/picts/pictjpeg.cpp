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

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Bytes asked of the stream per refill of the library's input.
constexpr unsigned int kJpegInputPiece = 64 * 1024;
// A progressive file may carry any number of scans, each re-reading the
// whole coefficient buffer; past this many the file is taken as hostile.
constexpr int kMaxJpegScans = 1000;
// What the library may allocate for one picture beyond our own pixels
// (progressive coefficient buffers among them).
constexpr long kMaxJpegLibraryMemory = 1L << 30;

}  // namespace

struct cJPEGParser::sState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    jpeg_source_mgr src;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    cFileIOTarget* stream = nullptr;
    unsigned char buffer[kJpegInputPiece];
    unsigned long long fed = 0;   // bytes handed to the library, fake end marker excluded
    bool endInserted = false;     // the stream ran out and a fake EOI was handed over
    bool created = false;
    bool started = false;
    long long rowsRead = 0;
    _typebuf<unsigned char> cmykRow;
};

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
    const unsigned int got = st->stream ? st->stream->read(st->buffer, kJpegInputPiece) : 0;
    if (!cFileIOTarget::transferred(got, kJpegInputPiece) || got == 0) {
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
    st->src.next_input_byte = st->buffer;
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

void progressMonitor(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxJpegScans) errorExit(cinfo);
    }
}

}  // namespace

cJPEGParser::cJPEGParser() = default;

cJPEGParser::~cJPEGParser() { reset(); }

void cJPEGParser::reset() {
    if (st_ && st_->created) jpeg_destroy_decompress(&st_->cinfo);
    st_.reset();
    width_ = height_ = 0;
    components_ = 0;
    progressive_ = cmyk_ = inverted_ = false;
}

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

    if (jpeg_read_header(&st->cinfo, TRUE) != JPEG_HEADER_OK) return false;
    // A header that the data cut short is not a picture.
    if (st->endInserted) return false;
    if (!cPictBase::checkPixelCount(st->cinfo.image_width, st->cinfo.image_height)) return false;
    width_ = st->cinfo.image_width;
    height_ = st->cinfo.image_height;
    components_ = st->cinfo.num_components;
    progressive_ = st->cinfo.progressive_mode != 0;
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
        try {
            st->cmykRow.set(width_ * 4);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
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
    if (!stream || !stream->readf(magic, 3) || magic[0] != 0xFF || magic[1] != 0xD8 || magic[2] != 0xFF)
        return false;
    if (!stream->set_fp(0)) return false;
    cJPEGParser parser;
    if (!parser.readHeader(stream)) return false;
    if (info) {
        info->width = parser.width();
        info->height = parser.height();
        info->hasPreview = false;
    }
    return true;
}

bool cPictJPEG::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }

bool cPictJPEG::decode(cFileIOTarget* stream) {
    close();
    if (!parser_.readHeader(stream) || !parser_.start()) return false;
    const long long w = parser_.width(), h = parser_.height();
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    bool ok = true;
    if (startExtRender()) {
        _typebuf<unsigned int> row;
        try {
            row.set(w);
        } catch (const std::bad_alloc&) {
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
        if (!allocPixels8(w, h)) return false;
        for (long long r = 0; r < h && ok; ++r) ok = parser_.readRow(raw8Bpp() + (h - 1 - r) * w);
    }
    if (ok) ok = parser_.finish();
    if (!ok) {
        close();
        return false;
    }
    return true;
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
