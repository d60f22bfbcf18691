#include "base/textfile.h"

#include "base/checked.h"
#include "base/cpufeatures.h"
#include "base/strutil.h"
#include "base/textenc.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr int kUtf8 = 65001;
// One read or write call moves at most this much; see cFileIOTarget.
constexpr unsigned int kMaxTransfer = 0x40000000u;

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

}  // namespace

cTextFileIO::~cTextFileIO() {
    // cFileIO's destructor closes the file; nothing else is held outside
    // the buffers.
    stream_ = nullptr;
}

// ---------------------------------------------------------------------------
// Opening

bool cTextFileIO::open(cFileIOTarget* stream, eTextContentType type) {
    close();
    if (type < tctAuto || type > tctUTF16BE) {
        error_ = teBadType;
        return false;
    }
    if (!stream) {
        error_ = teNotOpen;
        return false;
    }
    stream_ = stream;
    if (!setupType(type)) {
        stream_ = nullptr;
        return false;
    }
    return true;
}

bool cTextFileIO::open(const char* path, bool readOnly, eTextContentType type) {
    close();
    if (type < tctAuto || type > tctUTF16BE) {
        error_ = teBadType;
        return false;
    }
    if (!path || !cFileIO::open(path, readOnly ? fmRead : fmReadWrite)) {
        error_ = teOpenFailed;
        return false;
    }
    stream_ = this;
    if (!setupType(type)) {
        close();
        error_ = teReadFailed;
        return false;
    }
    return true;
}

bool cTextFileIO::create(const char* path, eTextContentType type) {
    // Checked before the file is created: a refused type must not cost the
    // caller the file's old contents.
    if (type < tctAuto || type > tctUTF16BE) {
        error_ = teBadType;
        return false;
    }
    close();
    if (type == tctAuto) type = tctUTF8;
    if (!path || !cFileIO::create(path, fmReadWrite)) {
        error_ = teOpenFailed;
        return false;
    }
    stream_ = this;
    type_ = type;
    static const unsigned char utf8Mark[] = {0xEF, 0xBB, 0xBF};
    static const unsigned char leMark[] = {0xFF, 0xFE};
    static const unsigned char beMark[] = {0xFE, 0xFF};
    const unsigned char* mark = nullptr;
    unsigned int markLen = 0;
    switch (type) {
        case tctUTF8:
            mark = utf8Mark;
            markLen = 3;
            break;
        case tctUTF16LE:
            mark = leMark;
            markLen = 2;
            break;
        case tctUTF16BE:
            mark = beMark;
            markLen = 2;
            break;
        default:
            break;
    }
    streamAt_ = 0;
    position_ = 0;
    if (markLen && !writeAll(mark, markLen)) {
        close();
        error_ = teWriteFailed;
        return false;
    }
    markLen_ = markLen;
    position_ = markLen;
    streamAt_ = markLen;
    return true;
}

// Reads the byte-order mark (or what stands in its place) from offset 0 and
// leaves the position at the first text byte.  An explicit type stays even
// when its mark is missing; its text then starts at offset 0.
bool cTextFileIO::setupType(eTextContentType type) {
    error_ = teNone;
    dropCache();
    streamAt_ = -1;
    unsigned char head[3] = {0, 0, 0};
    long long got = 0;
    if (type != tct8Bit) {
        if (!stream_->set_fp(0)) {
            error_ = teReadFailed;
            return false;
        }
        got = fill(head, type == tctAuto || type == tctUTF8 ? 3 : 2);
        if (got < 0) {
            error_ = teReadFailed;
            return false;
        }
    }
    const bool utf8Mark = got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    const bool leMark = got >= 2 && head[0] == 0xFF && head[1] == 0xFE;
    const bool beMark = got >= 2 && head[0] == 0xFE && head[1] == 0xFF;
    unsigned int markLen = 0;
    switch (type) {
        case tctAuto:
            if (utf8Mark) {
                type = tctUTF8;
                markLen = 3;
            } else if (beMark) {
                type = tctUTF16BE;
                markLen = 2;
            } else if (leMark) {
                type = tctUTF16LE;
                markLen = 2;
            } else {
                type = tct8Bit;
            }
            break;
        case tctUTF8: markLen = utf8Mark ? 3 : 0; break;
        case tctUTF16LE: markLen = leMark ? 2 : 0; break;
        case tctUTF16BE: markLen = beMark ? 2 : 0; break;
        default: break;
    }
    if (!stream_->set_fp(markLen)) {
        error_ = teReadFailed;
        return false;
    }
    type_ = type;
    markLen_ = markLen;
    position_ = markLen;
    streamAt_ = markLen;
    return true;
}

void cTextFileIO::close() {
    cFileIO::close();
    stream_ = nullptr;
    dropCache();
    readBuf_.set(0);
    secondBuf_.set(0);
    linePool_.set(0);
    position_ = 0;
    markLen_ = 0;
    streamAt_ = -1;
    error_ = teNone;
}

bool cTextFileIO::goStart() {
    if (!stream_) {
        error_ = teNotOpen;
        return false;
    }
    error_ = teNone;
    if (!stream_->set_fp(markLen_)) {
        streamAt_ = -1;
        error_ = teReadFailed;
        return false;
    }
    position_ = markLen_;
    streamAt_ = markLen_;
    return true;
}

bool cTextFileIO::goEof() {
    if (!stream_) {
        error_ = teNotOpen;
        return false;
    }
    error_ = teNone;
    const long long end = stream_->size();
    if (end < 0 || !stream_->set_fp(static_cast<unsigned long long>(end))) {
        streamAt_ = -1;
        error_ = teReadFailed;
        return false;
    }
    position_ = static_cast<unsigned long long>(end);
    streamAt_ = end;
    return true;
}

void cTextFileIO::setMaxStrLen(long long n) {
    if (n < 1 || n == maxLen_) return;
    dropCache();
    readBuf_.set(0);
    secondBuf_.set(0);
    maxLen_ = n;
}

// ---------------------------------------------------------------------------
// Reading

void cTextFileIO::dropCache() {
    blockStart_ = -1;
    blockLen_ = 0;
}

// True when a whole unit at pos lies in the cached block.
bool cTextFileIO::cached(unsigned long long pos) const {
    if (blockStart_ < 0) return false;
    const unsigned long long start = static_cast<unsigned long long>(blockStart_);
    return pos >= start && pos - start + static_cast<unsigned long long>(unitBytes()) <= blockLen_;
}

// Reads until n bytes came or the stream has no more: a short read (a
// socket, a window) is not the end of the text.  -1 on a failed read, and on
// a count beyond what was asked, which the block scan would take for bytes of
// the buffer.
long long cTextFileIO::fill(unsigned char* buf, long long n) {
    long long got = 0;
    while (got < n) {
        const unsigned int want = static_cast<unsigned int>(std::min<long long>(n - got, kMaxTransfer));
        const unsigned int r = stream_->read(buf + got, want);
        if (!cFileIOTarget::transferred(r, want)) {
            streamAt_ = -1;
            return -1;
        }
        if (r == 0) break;
        got += r;
    }
    if (streamAt_ >= 0) streamAt_ += got;
    return got;
}

// Seeks every time: a caller may have moved a lent stream between lines.
long long cTextFileIO::loadBlock(_typebuf<unsigned char>& buf, unsigned long long at) {
    if (!stream_->set_fp(at)) {
        streamAt_ = -1;
        return -1;
    }
    streamAt_ = static_cast<long long>(at);
    return fill(buf.data(), buf.count());
}

bool cTextFileIO::isNul(const unsigned char* u) const { return u[0] == 0 && (!isDoubleByte() || u[1] == 0); }

bool cTextFileIO::isCR(const unsigned char* u) const {
    switch (type_) {
        case tctUTF16LE: return u[0] == 0x0D && u[1] == 0;
        case tctUTF16BE: return u[0] == 0 && u[1] == 0x0D;
        default: return u[0] == 0x0D;
    }
}

bool cTextFileIO::isLF(const unsigned char* u) const {
    switch (type_) {
        case tctUTF16LE: return u[0] == 0x0A && u[1] == 0;
        case tctUTF16BE: return u[0] == 0 && u[1] == 0x0A;
        default: return u[0] == 0x0A;
    }
}

namespace {

// The value of unit i of the given width and byte order.
template <int Width, bool BigEndian>
inline unsigned unitValue(const unsigned char* p, long long i) {
    if (Width == 1) return p[i];
    const unsigned char* u = p + 2 * i;
    return BigEndian ? (unsigned(u[0]) << 8 | u[1]) : (unsigned(u[1]) << 8 | u[0]);
}

// The index of the first unit at or after i (below n) whose value is 13 or
// less, or n: every line end is such a unit, and text rarely holds others.
// Sixteen bytes are tested at once where SSE2 is there (all x86-64).
template <int Width, bool BigEndian>
long long skipText(const unsigned char* p, long long i, long long n) {
#if defined(__SSE2__)
    constexpr long long kUnitsPerVector = 16 / Width;
    const __m128i zero = _mm_setzero_si128();
    while (i + kUnitsPerVector <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * Width));
        int mask;
        if (Width == 1) {
            // A saturating v - 13 is 0 exactly for the bytes 0 to 13.
            mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(v, _mm_set1_epi8(0x0D)), zero));
        } else {
            if (BigEndian) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
            mask = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(0x0D)), zero));
        }
        if (mask) return i + __builtin_ctz(static_cast<unsigned>(mask)) / Width;
        i += kUnitsPerVector;
    }
#endif
    for (; i < n; ++i)
        if (unitValue<Width, BigEndian>(p, i) <= 0x0D) return i;
    return n;
}

#if defined(__x86_64__) || defined(__i386__)
#define QOR_TEXT_AVX2 1
// The same test on 64 bytes a step with AVX2, where the processor has it:
// the usual line of a text file is passed in one or two steps, so the
// step's own cost and the one mispredicted branch at the line's end are
// most of the scan.
template <int Width, bool BigEndian>
__attribute__((target("avx2"), always_inline)) inline __m256i loadUnits(const unsigned char* p) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    if (Width == 2 && BigEndian) v = _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
    return v;
}

template <int Width>
__attribute__((target("avx2"), always_inline)) inline unsigned lowUnits(__m256i v) {
    const __m256i zero = _mm256_setzero_si256();
    if (Width == 1)
        return static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_subs_epu8(v, _mm256_set1_epi8(0x0D)), zero)));
    return static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_subs_epu16(v, _mm256_set1_epi16(0x0D)), zero)));
}

template <int Width, bool BigEndian>
__attribute__((target("avx2"), always_inline)) inline long long skipTextAvx2(const unsigned char* p, long long i, long long n) {
    constexpr long long kUnitsPerVector = 32 / Width;
    while (i + 2 * kUnitsPerVector <= n) {
        // Both halves' masks in one word: where the line ends, in the first
        // or in the second half, costs no branch.
        const unsigned long long mask =
            lowUnits<Width>(loadUnits<Width, BigEndian>(p + i * Width)) |
            static_cast<unsigned long long>(lowUnits<Width>(loadUnits<Width, BigEndian>(p + (i + kUnitsPerVector) * Width)))
                << 32;
        if (mask) return i + __builtin_ctzll(mask) / Width;
        i += 2 * kUnitsPerVector;
    }
    if (i + kUnitsPerVector <= n) {
        if (unsigned mask = lowUnits<Width>(loadUnits<Width, BigEndian>(p + i * Width)))
            return i + __builtin_ctz(mask) / Width;
        i += kUnitsPerVector;
    }
    return skipText<Width, BigEndian>(p, i, n);
}

#endif

// Whether unit i, one of the units 0 to 13, ends the line (NUL, LF or CR);
// consumed then gets the units up to and with the terminator, and an LF
// right after a CR.  A tab or another control unit is text after all.
template <int Width, bool BigEndian>
inline bool endsLine(const unsigned char* p, long long i, long long n, long long& consumed) {
    const unsigned u = unitValue<Width, BigEndian>(p, i);
    if (u == 0 || u == 0x0A) {
        consumed = i + 1;
        return true;
    }
    if (u == 0x0D) {
        consumed = (i + 1 < n && unitValue<Width, BigEndian>(p, i + 1) == 0x0A) ? i + 2 : i + 1;
        return true;
    }
    return false;
}

// The units before the first NUL, LF or CR among n units of the given width
// and byte order, or n; consumed gets those units plus the terminator.
template <int Width, bool BigEndian>
long long scanPortable(const unsigned char* p, long long n, long long& consumed) {
    for (long long i = skipText<Width, BigEndian>(p, 0, n); i < n; i = skipText<Width, BigEndian>(p, i + 1, n))
        if (endsLine<Width, BigEndian>(p, i, n, consumed)) return i;
    consumed = n;
    return n;
}

#if defined(QOR_TEXT_AVX2)
// The same, built whole for AVX2 so that the vector steps are inlined.
template <int Width, bool BigEndian>
__attribute__((target("avx2"))) long long scanAvx2(const unsigned char* p, long long n, long long& consumed) {
    for (long long i = skipTextAvx2<Width, BigEndian>(p, 0, n); i < n; i = skipTextAvx2<Width, BigEndian>(p, i + 1, n))
        if (endsLine<Width, BigEndian>(p, i, n, consumed)) return i;
    consumed = n;
    return n;
}
#endif

// The scanners of the three unit kinds (bytes, UTF-16 in either order),
// picked once for the processor.
struct sScanners {
    qor_text::LineScanner bytes, little, big;
};

const sScanners& scanners() {
    static const sScanners picked = [] {
#if defined(QOR_TEXT_AVX2)
        if (qor_cpu::hasAvx2())
            return sScanners{scanAvx2<1, false>, scanAvx2<2, false>, scanAvx2<2, true>};
#endif
        return sScanners{scanPortable<1, false>, scanPortable<2, false>, scanPortable<2, true>};
    }();
    return picked;
}

}  // namespace

qor_text::LineScanner qor_text::portableLineScanner(int width, bool bigEndian) {
    if (width == 1) return scanPortable<1, false>;
    return bigEndian ? scanPortable<2, true> : scanPortable<2, false>;
}

qor_text::LineScanner qor_text::vectorLineScanner(int width, bool bigEndian) {
#if defined(QOR_TEXT_AVX2)
    if (qor_cpu::hasAvx2()) {
        if (width == 1) return scanAvx2<1, false>;
        return bigEndian ? scanAvx2<2, true> : scanAvx2<2, false>;
    }
#endif
    (void)width;
    (void)bigEndian;
    return nullptr;
}

long long cTextFileIO::scan(const unsigned char* data, long long n) {
    if (n < 1) return 0;
    long long consumed = 0, len = 0;
    const sScanners& scan = scanners();
    switch (type_) {
        case tctUTF16LE: len = scan.little(data, n, consumed); break;
        case tctUTF16BE: len = scan.big(data, n, consumed); break;
        default: len = scan.bytes(data, n, consumed); break;
    }
    position_ += static_cast<unsigned long long>(consumed * unitBytes());
    return len;
}

long long cTextFileIO::strHere(const char* data, long long n) {
    if (!data || n < 1) return 0;
    long long consumed = 0;
    const long long len = scanners().bytes(reinterpret_cast<const unsigned char*>(data), n, consumed);
    position_ += static_cast<unsigned long long>(consumed);
    return len;
}

long long cTextFileIO::strHere(const unsigned short* data, long long n) {
    if (!data || n < 1) return 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    long long consumed = 0;
    const long long len = type_ == tctUTF16BE ? scanners().big(bytes, n, consumed)
                                              : scanners().little(bytes, n, consumed);
    position_ += static_cast<unsigned long long>(consumed) * 2;
    return len;
}

void cTextFileIO::strToBuf(const char* data, long long n, _typebuf<char>& out) {
    if (!data || n < 1) {
        sizeLine(out, 0);
        return;
    }
    // A caller's bytes inside out itself are copied before out lets go of
    // its array.
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t own = reinterpret_cast<std::uintptr_t>(out.data());
    if (own && at - own < out.bytes()) {
        out.copyFrom(data, n);
        return;
    }
    sizeLine(out, n);
    std::memcpy(out.data(), data, static_cast<std::size_t>(n));
}

// out := an array of exactly n unset bytes (none for n below 1).  Reading a
// text gives a line of a new length nearly every time, and one allocation
// and one release a line cost as much as finding and copying the line: so
// the array out held goes to a pool of one spare array per short length,
// and out takes the spare of length n when there is one.  A caller that
// reads every line into the same buffer stops allocating once the lengths of
// its text have been met.  The caller copies into out after this, from bytes
// that do not lie in out's old array.
void cTextFileIO::sizeLine(_typebuf<char>& out, long long n) {
    const long long had = out.count();
    if (had == n) return;
    if (had > 0 && had < kPooledLengths && linePool_.count() == kPooledLengths && !linePool_.items()[had].data())
        linePool_.items()[had].swap(out);
    else
        out.set(0);
    if (n < 1) return;
    if (n < kPooledLengths && linePool_.count() == kPooledLengths && linePool_.items()[n].data())
        out.swap(linePool_.items()[n]);
    else
        out.set(n);
}

void cTextFileIO::strToBuf(const unsigned short* data, long long n, _typebuf<char>& out) {
    if (!data || n < 1) {
        out.set(0);
        return;
    }
    const bool swap = (type_ == tctUTF16BE) == kHostLittleEndian;
    const unsigned short* units = data;
    if (swap) {
        if (units_.count() < n) units_.set(n);
        unsigned short* u = units_.data();
        for (long long i = 0; i < n; ++i) u[i] = static_cast<unsigned short>(data[i] << 8 | data[i] >> 8);
        units = u;
    }
    // One pass into room for the worst case (three bytes a unit; a pair
    // takes four for two), then the exact count: measuring first would read
    // every line twice.
    long long room = 0;
    if (!checked_mul(n, 3, room)) throw std::bad_alloc();
    if (utf8_.count() < room) utf8_.set(room);
    const long long written = _w2pc(units, n, utf8_.data(), room);
    sizeLine(out, written);
    if (written > 0) std::memcpy(out.data(), utf8_.data(), static_cast<std::size_t>(written));
}

void cTextFileIO::toLine(const unsigned char* data, long long units, _typebuf<char>& out) {
    if (isDoubleByte())
        // Units always start at an even offset of a buffer from new[], so
        // they are aligned for unsigned short.
        strToBuf(reinterpret_cast<const unsigned short*>(data), units, out);
    else
        strToBuf(reinterpret_cast<const char*>(data), units, out);
}

// A CR was the last unit of the cached block: its LF, if any, is the first
// unit of the next block.  That block is the one the next line needs anyway,
// so it is cached now.  A failure here leaves nothing cached; the next gets
// meets it again and reports it.
void cTextFileIO::skipLFAfterBlockEndingInCR() {
    const long long got = loadBlock(readBuf_, position_);
    if (got < unitBytes()) {
        dropCache();
        return;
    }
    blockStart_ = static_cast<long long>(position_);
    blockLen_ = static_cast<unsigned long long>(got);
    if (isLF(readBuf_.data())) position_ += static_cast<unsigned long long>(unitBytes());
}

// A block holds at least one whole line of the longest kind, so a line
// straddles at most one block boundary; it is never smaller than 64 KiB, so
// reading a file costs few calls.
void cTextFileIO::ensureBuffers() {
    long long bytes = 0;
    if (!checked_mul(maxLen_, unitBytes(), bytes)) throw std::bad_alloc();
    bytes = std::max(bytes, kMinBlockBytes);
    if (readBuf_.count() != bytes) {
        dropCache();
        readBuf_.set(bytes);
    }
    if (secondBuf_.count() != bytes) secondBuf_.set(bytes);
    if (linePool_.count() != kPooledLengths) linePool_.set(kPooledLengths);
}

bool cTextFileIO::gets(_typebuf<char>& out) {
    if (!stream_) {
        error_ = teNotOpen;
        return false;
    }
    // Reading on after an over-long line would hand out its tail as a line.
    if (error_ == teLineTooLong) return false;
    error_ = teNone;
    endedAtNul_ = false;
    const long long unit = unitBytes();
    const int shift = isDoubleByte() ? 1 : 0;

    if (!cached(position_)) {
        // A cached block was read into buffers of the current size: setting
        // the line limit or another text drops it.
        ensureBuffers();
        const long long got = loadBlock(readBuf_, position_);
        if (got < 0) {
            dropCache();
            error_ = teReadFailed;
            return false;
        }
        blockStart_ = static_cast<long long>(position_);
        blockLen_ = static_cast<unsigned long long>(got);
        // Nothing, or a lone last byte of a 16-bit text: the end.
        if (got < unit) return false;
    }

    const unsigned long long offset = position_ - static_cast<unsigned long long>(blockStart_);
    const long long units = static_cast<long long>((blockLen_ - offset) >> shift);
    const unsigned char* first = readBuf_.data() + offset;
    const unsigned long long lineStart = position_;
    const long long len1 = scan(first, units);
    const long long consumed1 = static_cast<long long>((position_ - lineStart) >> shift);
    if (len1 > maxLen_) {
        error_ = teLineTooLong;
        return false;
    }

    if (consumed1 > len1) {
        toLine(first, len1, out);
        endedAtNul_ = isNul(first + len1 * unit);
        // A CR alone as the block's last unit may have its LF in the next.
        if (consumed1 == len1 + 1 && consumed1 == units && isCR(first + len1 * unit)) skipLFAfterBlockEndingInCR();
        return true;
    }

    // The block ended inside the line: its rest is in the next block.
    const unsigned long long secondStart = position_;
    const long long got2 = loadBlock(secondBuf_, secondStart);
    if (got2 < 0) {
        position_ = lineStart;  // a retry starts the line again
        error_ = teReadFailed;
        return false;
    }
    if (got2 < unit) {
        // The end of the text: a last line without a terminator.
        toLine(first, len1, out);
        dropCache();
        return true;
    }
    const long long units2 = got2 >> shift;
    const unsigned char* second = secondBuf_.data();
    const long long len2 = scan(second, units2);
    const long long consumed2 = static_cast<long long>((position_ - secondStart) >> shift);

    // The new block becomes the cached one.
    readBuf_.swap(secondBuf_);
    blockStart_ = static_cast<long long>(secondStart);
    blockLen_ = static_cast<unsigned long long>(got2);
    if (len1 + len2 > maxLen_) {
        error_ = teLineTooLong;
        return false;
    }
    const long long total = (len1 + len2) * unit;
    if (joinBuf_.count() < total) joinBuf_.set(total);
    // The swap exchanged the arrays, not their bytes: first still points at
    // the first part.
    std::memcpy(joinBuf_.data(), first, static_cast<std::size_t>(len1 * unit));
    std::memcpy(joinBuf_.data() + len1 * unit, second, static_cast<std::size_t>(len2 * unit));
    toLine(joinBuf_.data(), len1 + len2, out);
    endedAtNul_ = consumed2 > len2 && isNul(second + len2 * unit);
    if (consumed2 == len2 + 1 && consumed2 == units2 && isCR(second + len2 * unit)) skipLFAfterBlockEndingInCR();
    return true;
}

// ---------------------------------------------------------------------------
// Writing

bool cTextFileIO::writeAll(const void* data, unsigned long long n) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const unsigned int chunk = static_cast<unsigned int>(std::min<unsigned long long>(n, kMaxTransfer));
        if (!stream_->writef(const_cast<unsigned char*>(p), chunk)) {
            streamAt_ = -1;
            return false;
        }
        p += chunk;
        n -= chunk;
        if (streamAt_ >= 0) streamAt_ += chunk;
    }
    return true;
}

bool cTextFileIO::putStr(const char* text) {
    if (!stream_) {
        error_ = teNotOpen;
        return false;
    }
    if (!text) return false;
    error_ = teNone;
    if (!*text) return true;
    dropCache();
    // After reading, the stream stands past the cached block; the write
    // belongs at the position.
    if (streamAt_ < 0 || static_cast<unsigned long long>(streamAt_) != position_) {
        if (!stream_->set_fp(position_)) {
            streamAt_ = -1;
            error_ = teWriteFailed;
            return false;
        }
        streamAt_ = static_cast<long long>(position_);
    }
    const long long len = static_cast<long long>(std::strlen(text));
    bool ok;
    unsigned long long bytes;
    if (!isDoubleByte()) {
        bytes = static_cast<unsigned long long>(len);
        ok = writeAll(text, bytes);
    } else {
        // UTF-8 never takes fewer bytes than UTF-16 takes units, so room for
        // one unit a byte holds any text: one pass, into a buffer that lives
        // as long as the object instead of one per line.
        if (units_.count() < len) units_.set(len);
        unsigned short* wide = units_.data();
        const long long units = __a2w(text, len, wide, len, kUtf8);
        const bool swap = (type_ == tctUTF16BE) == kHostLittleEndian;
        if (swap)
            for (long long i = 0; i < units; ++i) wide[i] = static_cast<unsigned short>(wide[i] << 8 | wide[i] >> 8);
        bytes = static_cast<unsigned long long>(units) * 2;
        ok = writeAll(wide, bytes);
    }
    if (!ok) {
        error_ = teWriteFailed;
        return false;
    }
    position_ += bytes;
    return true;
}

bool cTextFileIO::put_eol() { return putStr("\r\n"); }

bool cTextFileIO::put_fmt(const char* format, ...) {
    if (!format) return false;
    if (fmtBuf_.count() < kFormatBufferBytes) fmtBuf_.set(kFormatBufferBytes);
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    const int n = _vsprintf_s(fmtBuf_.data(), fmtBuf_.count(), format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(again);
        error_ = teFormatFailed;
        return false;
    }
    if (n < fmtBuf_.count()) {
        va_end(again);
        return putStr(fmtBuf_.data());
    }
    // Longer than the usual buffer: formatted again at its full length,
    // never cut.
    _typebuf<char> whole(static_cast<long long>(n) + 1);
    _vsprintf_s(whole.data(), whole.count(), format, again);
    va_end(again);
    return putStr(whole.data());
}
