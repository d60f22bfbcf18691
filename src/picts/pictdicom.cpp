// DICOM: our own walk of the data set (its structure, the image pixel
// module, the pixel data's place), then frame 0 read as stored, or its
// fragments handed to our JPEG decoder (libjpeg-turbo: the 8-bit DCT
// processes) or our JPEG 2000 decoder (OpenJPEG).
//
// GDCM is not used: Debian's build keeps its assertions, and its readers
// and JPEG codecs abort the process on inconsistent files or damaged JPEG
// data; when a JPEG codec fails its image reader even runs the external
// "pvrg-jpeg" program through the shell.
#include "picts/pictdicom.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/memio.h"
#include "picts/pictjp2.h"
#include "picts/pictjpeg.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>


namespace {

// The most bytes of one frame's pixel data (stored or compressed) read
// into memory.
constexpr long long kMaxDicomFrameBytes = 1LL << 30;

enum ePhotometric { kPhotometricOther, kMonochrome1, kMonochrome2, kRgb, kYbrFull, kYbrFull422 };

// A code string, trailing spaces (the even-length padding) ignored.
int photometricOf(const char* text) {
    std::string t = text ? text : "";
    while (!t.empty() && (t.back() == ' ' || t.back() == 0)) t.pop_back();
    static const struct {
        const char* name;
        int value;
    } kNames[] = {{"MONOCHROME1", kMonochrome1}, {"MONOCHROME2", kMonochrome2}, {"RGB", kRgb},
                  {"YBR_FULL", kYbrFull},         {"YBR_FULL_422", kYbrFull422}};
    for (const auto& n : kNames)
        if (t == n.name) return n.value;
    return kPhotometricOther;
}

// What the samples of a frame are.
struct sPixelModule {
    int rows = 0, columns = 0, samples = 1, planar = 0, allocated = 0, stored = 0, representation = 0;
    int photometric = kPhotometricOther;
    bool bigEndianSamples = false;  // GE's private syntax keeps 16-bit samples big-endian
};

// The preamble form: 128 bytes of anything, then "DICM".
bool hasPreamble(cFileIOTarget* stream) {
    unsigned char head[132];
    cByteReader in(stream, sizeof head, 0);
    return in.read(head, sizeof head) && std::memcmp(head + 128, "DICM", 4) == 0;
}

// The form without preamble starts straight with a data element of the
// command (0000), file meta (0002) or identifying (0008) group, in
// little-endian order, with either an explicit VR of two capital letters or
// a short implicit length.
bool looksLikeBareDataSet(cFileIOTarget* stream) {
    unsigned char head[132];
    cByteReader in(stream, sizeof head, 0);
    const std::size_t got = in.readSome(head, sizeof head);
    if (got < 8) return false;
    if (got == sizeof head && std::memcmp(head + 128, "DICM", 4) == 0) return false;
    const unsigned group = cByteReader::u16le(head), element = cByteReader::u16le(head + 2);
    if (group != 0x0000 && group != 0x0002 && group != 0x0008) return false;
    if (element > 0x0100) return false;
    const bool explicitVr = head[4] >= 'A' && head[4] <= 'Z' && head[5] >= 'A' && head[5] <= 'Z';
    if (explicitVr) return true;
    const unsigned long length = cByteReader::u32le(head + 4);
    // A group starts with its 4-byte group length, or with a short value.
    if (element == 0) return length == 4;
    return length != 0 && length < 0x10000;
}

// Walks every data element of the file, nested sequences and pixel-data
// fragments included, checking that each length stays inside the file and
// each sequence ends where it says.  GDCM asserts on some inconsistent
// structures instead of failing, so nothing reaches it that this walk
// refuses.  It also picks up Rows and Columns and the transfer syntax.
class cDicomWalker {
public:
    explicit cDicomWalker(cFileIOTarget* s) : s_(s), size_(s->size()) {}

    bool walk(bool preamble) {
        if (size_ <= 0) return false;
        pos_ = preamble ? 132 : 0;
        // The file meta group is always explicit VR little-endian.
        explicit_ = true;
        if (!preamble) {
            unsigned char head[6];
            if (!readAt(pos_, head, 6)) return false;
            explicit_ = head[4] >= 'A' && head[4] <= 'Z' && head[5] >= 'A' && head[5] <= 'Z';
        }
        if (!walkItems(size_, false, 0, true)) return false;
        return pixelData_ && pixelModuleSound();
    }

    // The image pixel module as the file states it.
    sPixelModule module() const {
        sPixelModule m;
        m.rows = rows_;
        m.columns = columns_;
        m.samples = samples_;
        m.planar = planar_;
        m.allocated = allocated_;
        m.stored = stored_;
        m.representation = representation_;
        m.photometric = photometric_;
        m.bigEndianSamples = std::strcmp(syntax_, "1.2.840.113619.5.2") == 0;
        return m;
    }
    const char* syntax() const { return syntax_; }
    // Uncompressed pixel data: where its value starts and how long it is.
    long long pixelOffset() const { return pixelOffset_; }
    long long pixelLength() const { return pixelLength_; }
    bool encapsulated() const { return encapsulated_; }
    // Encapsulated pixel data: offset and length of each fragment after
    // the basic offset table.
    const std::vector<std::pair<long long, long long> >& fragments() const { return fragments_; }

private:
    static constexpr std::uint32_t kUndefined = 0xFFFFFFFFu;
    static constexpr int kMaxDepth = 16;
    static constexpr std::size_t kMaxFragments = 1u << 16;

    bool readAt(long long at, unsigned char* out, unsigned int n) {
        if (at < 0 || n > size_ || at > size_ - n) return false;
        return cByteReader::readAt(s_, static_cast<unsigned long long>(at), out, n);
    }
    static unsigned u16(const unsigned char* p) { return cByteReader::u16le(p); }
    static std::uint32_t u32(const unsigned char* p) { return cByteReader::u32le(p); }
    // VRs with a reserved word and a 4-byte length in explicit form.
    static bool longVr(const unsigned char* vr) {
        static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
        for (const char* v : kLong)
            if (vr[0] == v[0] && vr[1] == v[1]) return true;
        return false;
    }

    // Elements up to `end` (or, with `delimited`, up to an item delimiter).
    // `meta`: the file meta group may come first and switch the encoding.
    bool walkItems(long long end, bool delimited, int depth, bool meta) {
        if (depth > kMaxDepth) return false;
        bool inMeta = meta;
        for (;;) {
            if (!delimited && pos_ == end) return true;
            unsigned char h[12];
            if (!readAt(pos_, h, 8)) return false;
            const unsigned group = u16(h), element = u16(h + 2);
            if (inMeta && group != 0x0002) {
                // The meta group is over: the rest follows the transfer syntax.
                inMeta = false;
                if (!syntaxKnown_) return false;
                explicit_ = syntaxExplicit_;
            }
            if (group == 0xFFFE) {
                if (!delimited || element != 0xE00D || u32(h + 4) != 0) return false;
                pos_ += 8;
                return true;
            }
            std::uint32_t length;
            bool isSequence = false;
            long long valueAt;
            if (explicit_ || inMeta) {
                if (h[4] < 'A' || h[4] > 'Z' || h[5] < 'A' || h[5] > 'Z') return false;
                if (longVr(h + 4)) {
                    if (!readAt(pos_, h, 12)) return false;
                    length = u32(h + 8);
                    valueAt = pos_ + 12;
                } else {
                    length = u16(h + 6);
                    valueAt = pos_ + 8;
                }
                isSequence = h[4] == 'S' && h[5] == 'Q';
            } else {
                length = u32(h + 4);
                valueAt = pos_ + 8;
            }
            pos_ = valueAt;
            if (depth == 0 && group == 0x7FE0 && element == 0x0010) pixelData_ = true;
            if (length == kUndefined) {
                if (group == 0x7FE0 && element == 0x0010) {
                    if (!walkFragments(depth == 0)) return false;
                } else if (!walkSequence(depth + 1)) {
                    return false;
                }
                continue;
            }
            if (length > size_ - pos_ || (!delimited && length > end - pos_)) return false;
            if (isSequence) {
                if (!walkSequenceUntil(pos_ + length, depth + 1)) return false;
                continue;
            }
            if (depth == 0 && group == 0x0028 && !notePixelModule(element, length)) return false;
            // Overlays and curves take paths in the library that assert on
            // bad values; this decoder shows neither, and refuses them.
            if (depth == 0 && (group & 0xFF01) == 0x6000) return false;
            if (depth == 0 && (group & 0xFF01) == 0x5000) return false;

            if (depth == 0 && group == 0x7FE0 && element == 0x0010) {
                pixelOffset_ = pos_;
                pixelLength_ = length;
                encapsulated_ = false;
            }
            if (group == 0x0002 && element == 0x0010 && length <= 64) {
                std::memset(syntax_, 0, sizeof syntax_);
                if (!readAt(pos_, reinterpret_cast<unsigned char*>(syntax_), length)) return false;
                for (std::uint32_t n = length; n && (syntax_[n - 1] == 0 || syntax_[n - 1] == ' ');) syntax_[--n] = 0;
                readSyntax(syntax_);
            }
            pos_ += length;
        }
    }

    // The image pixel module's values the library takes on trust (it
    // asserts on several of them): each must have its one-value length.
    bool notePixelModule(unsigned element, std::uint32_t length) {
        int* us = nullptr;
        switch (element) {
            case 0x0002: us = &samples_; break;
            case 0x0006: us = &planar_; break;
            case 0x0010: us = &rows_; break;
            case 0x0011: us = &columns_; break;
            case 0x0100: us = &allocated_; break;
            case 0x0101: us = &stored_; break;
            case 0x0102: us = &highBit_; break;
            case 0x0103: us = &representation_; break;
            case 0x0004: {
                // Photometric interpretation: a code string of up to 16 bytes.
                if (length > 16) return false;
                char text[17] = {};
                if (!readAt(pos_, reinterpret_cast<unsigned char*>(text), length)) return false;
                for (std::uint32_t n = length; n && (text[n - 1] == ' ' || text[n - 1] == 0);) text[--n] = 0;
                photometric_ = photometricOf(text);
                return true;
            }
            default: return true;
        }
        if (length != 2) return false;
        unsigned char v[2];
        if (!readAt(pos_, v, 2)) return false;
        *us = static_cast<int>(u16(v));
        return true;
    }

    bool pixelModuleSound() const {
        if (rows_ <= 0 || columns_ <= 0 || photometric_ == kPhotometricOther) return false;
        if (samples_ != 1 && samples_ != 3) return false;
        if (allocated_ != 8 && allocated_ != 16) return false;
        if (stored_ < 1 || stored_ > allocated_ || highBit_ != stored_ - 1) return false;
        if (representation_ != 0 && representation_ != 1) return false;
        return planar_ == 0 || planar_ == 1;
    }

    // Explicit big-endian and deflated data sets are not walked: refused.
    void readSyntax(const char* uid) {
        syntaxKnown_ = std::strcmp(uid, "1.2.840.10008.1.2.2") != 0 && std::strcmp(uid, "1.2.840.10008.1.2.1.99") != 0;
        // Implicit VR little-endian, and GE's private implicit form.
        syntaxExplicit_ = std::strcmp(uid, "1.2.840.10008.1.2") != 0 && std::strcmp(uid, "1.2.840.113619.5.2") != 0;
    }

    // Items of an undefined-length sequence up to its delimiter.
    bool walkSequence(int depth) {
        if (depth > kMaxDepth) return false;
        for (;;) {
            unsigned char h[8];
            if (!readAt(pos_, h, 8)) return false;
            if (u16(h) != 0xFFFE) return false;
            pos_ += 8;
            const unsigned element = u16(h + 2);
            const std::uint32_t length = u32(h + 4);
            if (element == 0xE0DD) return length == 0;
            if (element != 0xE000 || !walkItem(length, depth)) return false;
        }
    }

    // Items of a defined-length sequence.
    bool walkSequenceUntil(long long end, int depth) {
        if (depth > kMaxDepth) return false;
        while (pos_ < end) {
            unsigned char h[8];
            if (!readAt(pos_, h, 8)) return false;
            if (u16(h) != 0xFFFE || u16(h + 2) != 0xE000) return false;
            pos_ += 8;
            if (!walkItem(u32(h + 4), depth)) return false;
        }
        return pos_ == end;
    }

    bool walkItem(std::uint32_t length, int depth) {
        if (length == kUndefined) return walkItems(0, true, depth, false);
        if (length > size_ - pos_) return false;
        return walkItems(pos_ + length, false, depth, false);
    }

    // Encapsulated pixel data: items of defined length up to the delimiter.
    bool walkFragments(bool record) {
        if (record) {
            encapsulated_ = true;
            fragments_.clear();
        }
        bool offsetTable = true;
        for (;;) {
            unsigned char h[8];
            if (!readAt(pos_, h, 8)) return false;
            pos_ += 8;
            if (u16(h) != 0xFFFE) return false;
            const unsigned element = u16(h + 2);
            const std::uint32_t length = u32(h + 4);
            if (element == 0xE0DD) return length == 0;
            if (element != 0xE000 || length == kUndefined || length > size_ - pos_) return false;
            if (record && !offsetTable && length) {
                if (fragments_.size() >= kMaxFragments) return false;
                fragments_.emplace_back(pos_, length);
            }
            offsetTable = false;
            pos_ += length;
        }
    }

    cFileIOTarget* s_;
    long long size_;
    long long pos_ = 0;
    bool explicit_ = true;
    bool syntaxKnown_ = false;
    bool syntaxExplicit_ = true;
    bool pixelData_ = false;
    int photometric_ = kPhotometricOther;
    char syntax_[65] = {};
    long long pixelOffset_ = 0, pixelLength_ = 0;
    bool encapsulated_ = false;
    std::vector<std::pair<long long, long long> > fragments_;
    int rows_ = 0, columns_ = 0, samples_ = 1, planar_ = 0, allocated_ = 0, stored_ = 0, highBit_ = -1,
        representation_ = 0;
};

// The file's form, its structure and its size; the stream is left anywhere.
bool walkFile(cFileIOTarget* stream, bool preamble, cDicomWalker& walker) {
    if (!stream || !stream->valid() || !stream->set_fp(0)) return false;
    if (!(preamble ? hasPreamble(stream) : looksLikeBareDataSet(stream))) return false;
    if (!walker.walk(preamble)) return false;
    return cPictBase::checkPixelCount(walker.module().columns, walker.module().rows);
}

bool probe(cFileIOTarget* stream, cPictBase::sPictInfo* info, bool preamble) {
    if (!stream) return false;
    cDicomWalker walker(stream);
    if (!walkFile(stream, preamble, walker)) return false;
    if (info) {
        info->width = walker.module().columns;
        info->height = walker.module().rows;
        info->hasPreview = false;
    }
    return true;
}

// One sample as an unsigned value of `bits` bits.
struct sSampleReader {
    const unsigned char* data = nullptr;
    int bytes = 1;          // per sample: 1 or 2
    int bits = 8;           // stored bits
    bool isSigned = false;
    bool bigEndian = false;
    unsigned long mask = 0xFF;

    unsigned long at(std::size_t i) const {
        unsigned long v;
        if (bytes == 1)
            v = data[i];
        else
            v = cByteReader::u16(data + 2 * i, bigEndian);
        v &= mask;
        // Signed: two's complement in `bits` bits, moved up by half the range.
        if (isSigned) v = (v + (1UL << (bits - 1))) & mask;
        return v;
    }
};

// Frame 0's samples into the picture.
bool toPicture(cPictBase& pict, const sPixelModule& m, const unsigned char* samples, std::size_t length) {
    const long long w = m.columns, h = m.rows;
    long long pixels = 0;
    if (!cPictBase::checkPixelCount(w, h, &pixels)) return false;
    const int spp = m.samples;
    int stored = m.stored;
    if (m.allocated != 8 && m.allocated != 16) return false;
    if (stored < 1 || stored > m.allocated) stored = m.allocated;
    if (spp != 1 && spp != 3) return false;
    const bool grey = m.photometric == kMonochrome1 || m.photometric == kMonochrome2;
    const bool ybr = m.photometric == kYbrFull || m.photometric == kYbrFull422;
    if (grey != (spp == 1) || m.photometric == kPhotometricOther) return false;
    sSampleReader rd;
    rd.data = samples;
    rd.bytes = m.allocated / 8;
    rd.bits = stored;
    rd.isSigned = m.representation == 1;
    rd.bigEndian = m.bigEndianSamples;
    rd.mask = (1UL << stored) - 1;
    long long frameBytes = 0;
    if (!checked_mul(pixels, static_cast<long long>(spp) * rd.bytes, frameBytes) ||
        static_cast<long long>(length) < frameBytes)
        return false;
    const bool invert = m.photometric == kMonochrome1;
    const bool planar = spp == 3 && m.planar == 1;
    const unsigned long top = rd.mask;
    const bool deep = stored > 8;
    if (!(deep ? pict.allocPixels16(w, h) : pict.allocPixels8(w, h))) return false;

    for (long long y = 0; y < h; ++y) {
        const long long row = (h - 1 - y) * w;  // row 0 is the bottom row
        for (long long x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * w + x);
            unsigned long c[3];
            if (spp == 1) {
                unsigned long v = rd.at(i);
                if (invert) v = top - v;
                c[0] = c[1] = c[2] = v;
            } else {
                for (int k = 0; k < 3; ++k)
                    c[k] = planar ? rd.at(static_cast<std::size_t>(k * pixels) + i) : rd.at(i * 3 + static_cast<std::size_t>(k));
                if (ybr) {
                    // Full-range YCbCr to RGB (the JFIF equations).
                    const double half = (top + 1) / 2.0;
                    const double yy = c[0], cb = c[1] - half, cr = c[2] - half;
                    const double v[3] = {yy + 1.402 * cr, yy - 0.344136 * cb - 0.714136 * cr, yy + 1.772 * cb};
                    for (int k = 0; k < 3; ++k)
                        c[k] = v[k] < 0 ? 0 : (v[k] > top ? top : static_cast<unsigned long>(v[k] + 0.5));
                }
            }
            if (deep) {
                unsigned long long o[3];
                for (int k = 0; k < 3; ++k) o[k] = (static_cast<unsigned long long>(c[k]) * 65535 + top / 2) / top;
                pict.raw16Bpp()[row + x] = 0xFFFFULL << 48 | o[0] << 32 | o[1] << 16 | o[2];
            } else {
                unsigned int o[3];
                for (int k = 0; k < 3; ++k) o[k] = static_cast<unsigned int>((c[k] * 255 + top / 2) / top);
                pict.raw8Bpp()[row + x] = 0xFF000000u | o[0] << 16 | o[1] << 8 | o[2];
            }
        }
    }
    return true;
}

bool readBytes(cFileIOTarget* stream, long long at, long long n, std::string& out) {
    if (n < 0 || n > kMaxDicomFrameBytes || n > 0xFFFFFFF0LL) return false;
    try {
        out.resize(static_cast<std::size_t>(n));
    } catch (...) {
        return false;
    }
    return cByteReader::readAt(stream, static_cast<unsigned long long>(at), &out[0], static_cast<std::size_t>(n));
}

// The fragments of frame 0: up to the one that ends with the JPEG
// end-of-image marker (a pad byte may follow), or all of them.
bool readFirstFrame(cFileIOTarget* stream, const cDicomWalker& walker, bool jpeg, std::string& frame) {
    frame.clear();
    for (const auto& f : walker.fragments()) {
        std::string piece;
        if (frame.size() + static_cast<unsigned long long>(f.second) > static_cast<unsigned long long>(kMaxDicomFrameBytes) ||
            !readBytes(stream, f.first, f.second, piece))
            return false;
        frame += piece;
        if (!jpeg) continue;
        std::size_t end = frame.size();
        if (end && frame[end - 1] == 0) --end;
        if (end >= 2 && static_cast<unsigned char>(frame[end - 2]) == 0xFF &&
            static_cast<unsigned char>(frame[end - 1]) == 0xD9)
            break;
    }
    return !frame.empty();
}

// The JPEG frame header (SOF0 to SOF15 but DHT, JPG and DAC): sample
// precision, height, width and component count; false when none is found
// or its precision is not one its process allows (baseline 8 bits; the
// other DCT processes 8 or 12; lossless 2 to 16).
struct sJpegFrame {
    int precision = 0, components = 0;
    long long height = 0, width = 0;
    bool lossless = false;
};

bool jpegFrameHeader(const std::string& data, sJpegFrame& f) {
    for (std::size_t i = 0; i + 9 < data.size(); ++i) {
        const unsigned char m = static_cast<unsigned char>(data[i + 1]);
        if (static_cast<unsigned char>(data[i]) != 0xFF || m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC)
            continue;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + i + 4;
        f.precision = p[0];
        f.height = cByteReader::u16be(p + 1);
        f.width = cByteReader::u16be(p + 3);
        f.components = p[5];
        f.lossless = (m & 3) == 3;
        if (m == 0xC0) return f.precision == 8;
        if (f.lossless) return f.precision >= 2 && f.precision <= 16;
        return f.precision == 8 || f.precision == 12;
    }
    return false;
}

// The precision of the first component in a codestream's SIZ segment
// (marker, Lsiz, Rsiz, eight 32-bit sizes, Csiz, then Ssiz), 0 if none.
int j2kPrecision(const std::string& cs) {
    for (std::size_t i = 0; i + 41 < cs.size(); ++i)
        if (static_cast<unsigned char>(cs[i]) == 0xFF && static_cast<unsigned char>(cs[i + 1]) == 0x51)
            return (static_cast<unsigned char>(cs[i + 40]) & 0x7F) + 1;
    return 0;
}

// 16-bit pixels widened from `from` bits taken back to their samples and
// widened again from `to` bits (samples above the `to`-bit range clamp).
void rewiden(cPictBase& pict, int from, int to) {
    const unsigned long long fromTop = (1ULL << from) - 1, toTop = (1ULL << to) - 1;
    const long long n = pict.width() * pict.height();
    for (long long i = 0; i < n; ++i) {
        unsigned long long p = pict.raw16Bpp()[i], out = p & 0xFFFF000000000000ULL;
        for (int k = 0; k < 3; ++k) {
            unsigned long long v = (((p >> (16 * k)) & 0xFFFF) * fromTop + 32767) / 65535;
            if (v > toTop) v = toTop;
            out |= ((v * 65535 + toTop / 2) / toTop) << (16 * k);
        }
        pict.raw16Bpp()[i] = out;
    }
}

// MONOCHROME1 counts down: the colour channels turned over, alpha kept.
void invertPicture(cPictBase& pict) {
    const long long n = pict.width() * pict.height();
    if (pict.is16Bpp())
        for (long long i = 0; i < n; ++i) pict.raw16Bpp()[i] ^= 0x0000FFFFFFFFFFFFULL;
    else
        for (long long i = 0; i < n; ++i) pict.raw8Bpp()[i] ^= 0x00FFFFFFu;
}

bool isPrefix(const char* prefix, const char* text) { return std::strncmp(prefix, text, std::strlen(prefix)) == 0; }

bool decodeInto(cPictBase& pict, cFileIOTarget* stream, bool preamble) {
    pict.close();
    if (!stream) return false;
    cDicomWalker walker(stream);
    if (!walkFile(stream, preamble, walker)) return false;
    sPixelModule m = walker.module();
    const char* syntax = walker.syntax();
    if (!walker.encapsulated()) {
        long long frame = 0;
        if (!checked_mul(static_cast<long long>(m.rows) * m.columns, static_cast<long long>(m.samples),
                         static_cast<long long>(m.allocated / 8), frame))
            return false;
        // The stored value must hold a whole frame.
        std::string samples;
        if (walker.pixelLength() < frame || !readBytes(stream, walker.pixelOffset(), frame, samples)) return false;
        return toPicture(pict, m, reinterpret_cast<const unsigned char*>(samples.data()), samples.size());
    }
    // JPEG: baseline, extended, lossless (1.2.840.10008.1.2.4.50 to .70).
    const bool jpeg = isPrefix("1.2.840.10008.1.2.4.5", syntax) || isPrefix("1.2.840.10008.1.2.4.6", syntax) ||
                      std::strcmp(syntax, "1.2.840.10008.1.2.4.70") == 0;
    // JPEG 2000 (.90 lossless, .91).
    const bool j2k = std::strcmp(syntax, "1.2.840.10008.1.2.4.90") == 0 || std::strcmp(syntax, "1.2.840.10008.1.2.4.91") == 0;
    if (!jpeg && !j2k) return false;
    std::string frame;
    if (!readFirstFrame(stream, walker, jpeg, frame)) return false;
    if (j2k) {
        cBufWrapperIO io(&frame[0], static_cast<long long>(frame.size()), false);
        // The codestream must have the size the data set states, checked
        // before it is decoded: its own header may claim far more.
        cPictBase::sPictInfo declared;
        if (!cPictJ2K::validFor(&io, &declared) || declared.width != m.columns || declared.height != m.rows ||
            !io.set_fp(0))
            return false;
        cPictJ2K codestream;
        if (!codestream.decode(&io) || codestream.width() != m.columns || codestream.height() != m.rows) return false;
        // The codestream's components are the samples; MONOCHROME1 still
        // counts down.
        codestream.moveTo(pict);
        // Writers often code 12-bit samples in a 16-bit codestream; the
        // data set's stored bits say what the full range is.
        const int precision = j2kPrecision(frame);
        if (pict.is16Bpp() && precision > m.stored && m.stored >= 1) rewiden(pict, precision, m.stored);
        if (m.photometric == kMonochrome1) invertPicture(pict);
        return true;
    }
    sJpegFrame jf;
    // 8-bit DCT processes only (baseline, extended, progressive): the
    // frame must have the size and components the data set states.
    if (!jpegFrameHeader(frame, jf) || jf.lossless || jf.precision != 8 || jf.height != m.rows ||
        jf.width != m.columns || jf.components != m.samples)
        return false;
    cBufWrapperIO io(&frame[0], static_cast<long long>(frame.size()), false);
    cPictJPEG decoder;
    if (!decoder.decode(&io) || decoder.width() != m.columns || decoder.height() != m.rows) return false;
    decoder.moveTo(pict);
    if (m.photometric == kMonochrome1) invertPicture(pict);
    return true;
}

bool decodeChecked(cPictBase& pict, cFileIOTarget* stream, bool preamble) {
    if (decodeInto(pict, stream, preamble)) return true;
    pict.close();
    return false;
}

}  // namespace

cPictDICOM::cPictDICOM() = default;
cPictDICOM::~cPictDICOM() = default;
bool cPictDICOM::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, true); }
bool cPictDICOM::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictDICOM::decode(cFileIOTarget* stream) { return decodeChecked(*this, stream, true); }

cPictDICOMLegacy::cPictDICOMLegacy() = default;
cPictDICOMLegacy::~cPictDICOMLegacy() = default;
bool cPictDICOMLegacy::validFor(cFileIOTarget* stream, sPictInfo* info) { return probe(stream, info, false); }
bool cPictDICOMLegacy::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }
bool cPictDICOMLegacy::decode(cFileIOTarget* stream) { return decodeChecked(*this, stream, false); }
