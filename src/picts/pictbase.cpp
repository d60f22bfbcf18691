// The decoded picture: pixel buffers, the 16-bit rule, stretching, turning,
// properties and the plain in-memory picture.  The external render target
// and the previews are in pictrender.cpp.
#include "picts/pictbase.h"

#include "base/buffers.h"
#include "base/checked.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

cPictPropImage::~cPictPropImage() { delete value; }

cPictBase::sExtPictDef::sExtPictDef(cPictBase* picture) {
    if (!picture) return;
    pixels = picture->raw8Bpp();
    width = picture->width();
    height = picture->height();
}

cPictBase::cPictBase() = default;

cPictBase::~cPictBase() { delete ownedSecurity_; }

// ---------------------------------------------------------------------------
// Sizes and buffers

bool cPictBase::checkPixelCount(long long w, long long h, long long* count, int bytesPerPixel) {
    if (w <= 0 || h <= 0 || w > kMaxPictSide || h > kMaxPictSide || bytesPerPixel <= 0) return false;
    long long n = 0, bytes = 0;
    if (!checked_mul(w, h, n) || n > kMaxPictPixels || !checked_mul(n, bytesPerPixel, bytes) || bytes > kMaxPictBytes)
        return false;
    if (count) *count = n;
    return true;
}

namespace {
bool canDescribe(long long pixels, long long inputBytes, int bytesPerPixel, long long free, long long perByte) {
    if (inputBytes < 0) return true;
    long long bytes = 0;
    if (inputBytes < kSmallInputBytes &&
        (!checked_mul(pixels, static_cast<long long>(bytesPerPixel > 0 ? bytesPerPixel : 4), bytes) ||
         bytes > kSmallInputPictureBytes))
        return false;
    long long most = 0;
    if (!checked_mul(inputBytes, perByte, most) || !checked_add(most, free, most))
        return true;  // more input than any picture needs
    return pixels <= most;
}

std::atomic<long long> gPixelCeiling{kDefaultPixelCeiling};
}  // namespace

bool cPictBase::inputCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel) {
    return canDescribe(pixels, inputBytes, bytesPerPixel, kFreePictPixels, kMaxPixelsPerInputByte);
}

bool cPictBase::bilevelCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel) {
    return canDescribe(pixels, inputBytes, bytesPerPixel, kFreeBilevelPixels, kMaxBilevelPixelsPerInputByte);
}

bool cPictBase::rawCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel) {
    return canDescribe(pixels, inputBytes, bytesPerPixel, kFreePictPixels, kMaxRawPixelsPerInputByte);
}

bool cPictBase::deflateCanDescribe(long long pixels, long long inputBytes, int bytesPerPixel) {
    return canDescribe(pixels, inputBytes, bytesPerPixel, 0, kMaxDeflateRatio);
}

long long cPictBase::pixelCeiling() { return gPixelCeiling.load(std::memory_order_relaxed); }

void cPictBase::setPixelCeiling(long long pixels) {
    gPixelCeiling.store(pixels >= 1 && pixels <= kMaxPictPixels ? pixels : kDefaultPixelCeiling,
                        std::memory_order_relaxed);
}

namespace {
thread_local long long tLargestPixelBuffer = 0;
}  // namespace

long long cPictBase::largestPixelBuffer(bool reset) {
    const long long v = tLargestPixelBuffer;
    if (reset) tLargestPixelBuffer = 0;
    return v;
}

namespace {
thread_local cPictBase::sDecodeMeter* tDecodeMeter = nullptr;
}  // namespace

cPictBase::sDecodeMeter* cPictBase::setDecodeMeter(sDecodeMeter* meter) {
    sDecodeMeter* before = tDecodeMeter;
    tDecodeMeter = meter;
    return before;
}

cPictBase::sDecodeMeter* cPictBase::decodeMeter() { return tDecodeMeter; }

bool cPictBase::sDecodeMeter::chargeScan(unsigned long long samples) {
    if (samples > workLimit - std::min(work, workLimit)) return !(refusedWork = true);
    work += samples;
    ++scans;
    return true;
}

bool cPictBase::sDecodeMeter::chargeWork(unsigned long long units) {
    if (units > workLimit - std::min(work, workLimit)) return !(refusedWork = true);
    work += units;
    return true;
}

bool cPictBase::sDecodeMeter::chargeHeld(unsigned long long bytes) {
    if (bytes > heldLimit) return !(refusedHeld = true);
    held = std::max(held, bytes);
    return true;
}

bool cPictBase::allocPixels8(long long w, long long h) {
    long long n = 0;
    pixels16_.set(0);
    if (!checkPixelCount(w, h, &n, 4) || n > pixelCeiling()) {
        close();
        return false;
    }
    const bool kept = pixels8_.data() && pixels8_.count() == n;
    if (!sizeBuffer(pixels8_, n)) {
        close();
        return false;
    }
    tLargestPixelBuffer = std::max(tLargestPixelBuffer, n * 4);
    // Written once from end to end right after it is made: huge pages
    // save most of the page faults of a fresh multi-megabyte buffer.  A
    // buffer kept from the picture before has its pages already, and the
    // hint would only take the address space's lock once more per picture.
    if (!kept) qor_detail::preferHugePages(pixels8_.data(), pixels8_.bytes());
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    return true;
}

bool cPictBase::allocPixels16(long long w, long long h) {
    long long n = 0;
    pixels8_.set(0);
    if (!checkPixelCount(w, h, &n, 8) || n > pixelCeiling()) {
        close();
        return false;
    }
    const bool kept = pixels16_.data() && pixels16_.count() == n;
    if (!sizeBuffer(pixels16_, n)) {
        close();
        return false;
    }
    tLargestPixelBuffer = std::max(tLargestPixelBuffer, n * 8);
    if (!kept) qor_detail::preferHugePages(pixels16_.data(), pixels16_.bytes());
    width_ = w;
    height_ = h;
    is16Bpp_ = true;
    return true;
}

// ---------------------------------------------------------------------------
// 24-bit rows

namespace {

void bgrToPixelsPlain(const unsigned char* s, unsigned int* d, long long n) {
    for (long long i = 0; i < n; ++i, s += 3)
        d[i] = 0xFF000000u | static_cast<unsigned int>(s[2]) << 16 | static_cast<unsigned int>(s[1]) << 8 | s[0];
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle; every load of 16 bytes stays inside the row, the
// last few pixels go the plain way.
__attribute__((target("ssse3"))) void bgrToPixelsSsse3(const unsigned char* s, unsigned int* d, long long n) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    long long i = 0;
    for (; i + 6 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
    }
    bgrToPixelsPlain(s + 3 * i, d + i, n - i);
}
#endif

}  // namespace

void cPictBase::bgrToPixels(const unsigned char* src, unsigned int* dst, long long n) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        bgrToPixelsSsse3(src, dst, n);
        return;
    }
#endif
    bgrToPixelsPlain(src, dst, n);
}

// ---------------------------------------------------------------------------
// 16-bit rule: (component + base) / scale, truncated, clamped to 0..255.

unsigned int cPictBase::to8Bpp(unsigned long long p) const {
    const double inv = 1.0 / scale16_;
    unsigned int out = 0;
    for (int k = 0; k < 4; ++k) {
        const long long c = static_cast<long long>((p >> (16 * k)) & 0xFFFF) + base16_;
        double v = static_cast<double>(c) * inv;
        long long t = v >= 0 ? static_cast<long long>(v) : 0;
        if (t > 255) t = 255;
        out |= static_cast<unsigned int>(t) << (8 * k);
    }
    return out;
}

bool cPictBase::mk8BppFrom16Bpp(unsigned long long* src, long long n, _typebuf<unsigned int>& dst) {
    if (!src || n <= 0) return false;
    if (!sizeBuffer(dst, n)) return false;
    unsigned int* d = dst.data();
    if (scale16_ == 256.0) {
        // The default rule is the high byte of each component, raised by base.
        for (long long i = 0; i < n; ++i) {
            const unsigned long long p = src[i];
            unsigned int out = 0;
            for (int k = 0; k < 4; ++k) {
                unsigned int c = (static_cast<unsigned int>((p >> (16 * k)) & 0xFFFF) + static_cast<unsigned int>(base16_)) >> 8;
                if (c > 255) c = 255;
                out |= c << (8 * k);
            }
            d[i] = out;
        }
    } else {
        for (long long i = 0; i < n; ++i) d[i] = to8Bpp(src[i]);
    }
    return true;
}

bool cPictBase::getColorData(_typebuf<unsigned int>& out) {
    if (is16Bpp_) {
        if (!pixels16_.data()) return false;
        return mk8BppFrom16Bpp(pixels16_.data(), pixels16_.count(), out);
    }
    if (!pixels8_.data()) return false;
    try {
        out.copyFrom(pixels8_.data(), pixels8_.count());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool cPictBase::moveToColorData(_typebuf<unsigned int>& out) {
    bool ok;
    if (is16Bpp_) {
        ok = pixels16_.data() && mk8BppFrom16Bpp(pixels16_.data(), pixels16_.count(), out);
        pixels16_.set(0);
    } else {
        ok = pixels8_.data() != nullptr;
        if (ok) out.swap(pixels8_);
    }
    pixels8_.set(0);
    width_ = height_ = 0;
    return ok;
}

void cPictBase::moveTo(cPictBase& dst) {
    if (&dst == this) return;
    dst.width_ = width_;
    dst.height_ = height_;
    dst.is16Bpp_ = is16Bpp_;
    if (is16Bpp_) {
        dst.scale16_ = scale16_;
        dst.base16_ = base16_;
        dst.pixels16_.swap(pixels16_);
    } else {
        dst.pixels8_.swap(pixels8_);
    }
    pixels8_.set(0);
    pixels16_.set(0);
}

void cPictBase::close() {
    width_ = height_ = 0;
    pixels8_.set(0);
    pixels16_.set(0);
}

// ---------------------------------------------------------------------------
// Line stretching (linear when enlarging, box average when shrinking)

namespace {

template <typename T>
struct sPixTraits;
template <>
struct sPixTraits<unsigned int> {
    static constexpr int kComps = 4;
    static double get(unsigned int p, int k) { return static_cast<double>((p >> (8 * k)) & 0xFF); }
    static unsigned int make(const double* c) {
        unsigned int out = 0;
        for (int k = 0; k < 4; ++k) out |= (static_cast<unsigned int>(c[k]) & 0xFF) << (8 * k);
        return out;
    }
};
template <>
struct sPixTraits<unsigned long long> {
    static constexpr int kComps = 4;
    static double get(unsigned long long p, int k) { return static_cast<double>((p >> (16 * k)) & 0xFFFF); }
    static unsigned long long make(const double* c) {
        unsigned long long out = 0;
        for (int k = 0; k < 4; ++k) out |= (static_cast<unsigned long long>(c[k]) & 0xFFFF) << (16 * k);
        return out;
    }
};
template <>
struct sPixTraits<unsigned char> {
    static constexpr int kComps = 1;
    static double get(unsigned char p, int) { return p; }
    static unsigned char make(const double* c) { return static_cast<unsigned char>(c[0]); }
};

// One line of sw pixels (every sstep-th element) into dw pixels (every
// dstep-th element).
template <typename T>
void stretchLine(const T* src, long long sw, long long sstep, T* dst, long long dw, long long dstep) {
    using Tr = sPixTraits<T>;
    constexpr int N = Tr::kComps;
    if (sw == dw) {
        for (long long i = 0; i < sw; ++i) dst[i * dstep] = src[i * sstep];
        return;
    }
    const double r = static_cast<double>(sw) / static_cast<double>(dw);
    double c[4];
    if (sw < dw) {
        double p = 0.0;
        for (long long i = 0; i < dw; ++i, p += r) {
            long long k = static_cast<long long>(p);
            if (k > sw - 1) k = sw - 1;
            const double f = p - static_cast<double>(k);
            const T a = src[k * sstep];
            if (f == 0.5) {
                dst[i * dstep] = a;
            } else if (f > 0.5 && k < sw - 1) {
                const T b = src[(k + 1) * sstep];
                const double wa = 1.5 - f;
                for (int q = 0; q < N; ++q) c[q] = Tr::get(a, q) * wa + Tr::get(b, q) * (1.0 - wa);
                dst[i * dstep] = Tr::make(c);
            } else if (f < 0.5 && k > 0) {
                const T b = src[(k - 1) * sstep];
                const double wa = f + 0.5;
                for (int q = 0; q < N; ++q) c[q] = Tr::get(a, q) * wa + Tr::get(b, q) * (1.0 - wa);
                dst[i * dstep] = Tr::make(c);
            } else {
                dst[i * dstep] = a;
            }
        }
        return;
    }
    double s = 0.0;
    for (long long i = 0; i < dw; ++i) {
        double e = i == dw - 1 ? static_cast<double>(sw) : s + r;
        if (e > static_cast<double>(sw)) e = static_cast<double>(sw);
        long long a = static_cast<long long>(s);
        const long long b = static_cast<long long>(e);
        double sum[4] = {0, 0, 0, 0};
        double wsum = 0.0;
        auto add = [&](long long idx, double w) {
            if (idx < 0 || idx >= sw || w <= 0.0) return;
            const T p = src[idx * sstep];
            for (int q = 0; q < N; ++q) sum[q] += Tr::get(p, q) * w;
            wsum += w;
        };
        if (s != static_cast<double>(a)) {
            add(a, static_cast<double>(a) + 1.0 - s);
            ++a;
        }
        for (long long k = a; k < b; ++k) add(k, 1.0);
        if (e > static_cast<double>(b)) add(b, e - static_cast<double>(b));
        if (wsum > 0.0) {
            for (int q = 0; q < N; ++q) c[q] = sum[q] / wsum;
            dst[i * dstep] = Tr::make(c);
        } else {
            dst[i * dstep] = src[std::min(a, sw - 1) * sstep];
        }
        s = e;
    }
}

// rows of sw pixels each into rows of dw pixels.
template <typename T>
void stretchRows(const T* src, long long sw, long long rows, T* dst, long long dw) {
    for (long long y = 0; y < rows; ++y) stretchLine(src + y * sw, sw, 1, dst + y * dw, dw, 1);
}

// Columns of sh pixels into columns of dh pixels, w columns.
template <typename T>
void stretchColumns(const T* src, long long w, long long sh, T* dst, long long dh) {
    for (long long x = 0; x < w; ++x) stretchLine(src + x, sh, w, dst + x, dh, w);
}

template <typename T>
bool stretchBuffer(const _typebuf<T>& src, long long sw, long long sh, long long dw, long long dh, _typebuf<T>& dst) {
    long long n = 0;
    if (!cPictBase::checkPixelCount(dw, dh, &n)) return false;
    if (sw == dw && sh == dh) {
        if (!cPictBase::sizeBuffer(dst, n)) return false;
        std::memcpy(dst.data(), src.data(), static_cast<std::size_t>(n) * sizeof(T));
        return true;
    }
    if (sh == dh) {
        if (!cPictBase::sizeBuffer(dst, n)) return false;
        stretchRows(src.data(), sw, sh, dst.data(), dw);
        return true;
    }
    if (sw == dw) {
        if (!cPictBase::sizeBuffer(dst, n)) return false;
        stretchColumns(src.data(), sw, sh, dst.data(), dh);
        return true;
    }
    _typebuf<T> tmp;
    long long mid = 0;
    if (!checked_mul(dw, sh, mid) || !cPictBase::sizeBuffer(tmp, mid)) return false;
    stretchRows(src.data(), sw, sh, tmp.data(), dw);
    if (!cPictBase::sizeBuffer(dst, n)) return false;
    stretchColumns(tmp.data(), dw, sh, dst.data(), dh);
    return true;
}

}  // namespace

bool cPictBase::hStretchTo(int w, _typebuf<unsigned int>& out) {
    if (w <= 0 || width_ <= 0 || height_ <= 0 || is16Bpp_ || !pixels8_.data()) return false;
    long long n = 0;
    if (!checkPixelCount(w, height_, &n) || !sizeBuffer(out, n)) return false;
    stretchRows(pixels8_.data(), width_, height_, out.data(), w);
    return true;
}

bool cPictBase::hStretchTo(int w, _typebuf<unsigned long long>& out) {
    if (w <= 0 || width_ <= 0 || height_ <= 0 || !is16Bpp_ || !pixels16_.data()) return false;
    long long n = 0;
    if (!checkPixelCount(w, height_, &n, 8) || !sizeBuffer(out, n)) return false;
    stretchRows(pixels16_.data(), width_, height_, out.data(), w);
    return true;
}

bool cPictBase::stretchTo(int w, int h, cPictBase& dst) {
    if (w <= 0 || h <= 0 || width_ <= 0 || height_ <= 0 || &dst == this) return false;
    bool ok;
    if (is16Bpp_) {
        if (!pixels16_.data()) return false;
        ok = stretchBuffer(pixels16_, width_, height_, w, h, dst.pixels16_);
    } else {
        if (!pixels8_.data()) return false;
        ok = stretchBuffer(pixels8_, width_, height_, w, h, dst.pixels8_);
    }
    if (!ok) return false;
    dst.width_ = w;
    dst.height_ = h;
    return true;
}

bool cPictBase::transform(const unsigned char* src, long long sw, long long sh, unsigned char* dst, long long dw,
                          long long dh, bool mirror, bool flip) {
    if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return false;
    _typebuf<unsigned char> in, out;
    long long n = 0, sn = 0;
    if (!checked_mul(dw, dh, n) || !checked_mul(sw, sh, sn)) return false;
    if (!sizeBuffer(in, sn)) return false;
    std::memcpy(in.data(), src, static_cast<std::size_t>(sn));
    if (!stretchBuffer(in, sw, sh, dw, dh, out)) return false;
    for (long long y = 0; y < dh; ++y) {
        const unsigned char* row = out.data() + (flip ? dh - 1 - y : y) * dw;
        for (long long x = 0; x < dw; ++x) dst[y * dw + x] = row[mirror ? dw - 1 - x : x];
    }
    return true;
}

bool cPictBase::transform(const unsigned int* src, long long sw, long long sh, unsigned int* dst, long long dw,
                          long long dh, bool mirror, bool flip) {
    if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return false;
    _typebuf<unsigned int> in, out;
    long long sn = 0;
    if (!checkPixelCount(sw, sh, &sn) || !sizeBuffer(in, sn)) return false;
    std::memcpy(in.data(), src, static_cast<std::size_t>(sn) * 4);
    if (!stretchBuffer(in, sw, sh, dw, dh, out)) return false;
    for (long long y = 0; y < dh; ++y) {
        const unsigned int* row = out.data() + (flip ? dh - 1 - y : y) * dw;
        for (long long x = 0; x < dw; ++x) dst[y * dw + x] = row[mirror ? dw - 1 - x : x];
    }
    return true;
}

bool cPictBase::transform(const unsigned long long* src, long long sw, long long sh, unsigned long long* dst,
                          long long dw, long long dh, bool mirror, bool flip) {
    if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return false;
    _typebuf<unsigned long long> in, out;
    long long sn = 0;
    if (!checkPixelCount(sw, sh, &sn, 8) || !sizeBuffer(in, sn)) return false;
    std::memcpy(in.data(), src, static_cast<std::size_t>(sn) * 8);
    if (!stretchBuffer(in, sw, sh, dw, dh, out)) return false;
    for (long long y = 0; y < dh; ++y) {
        const unsigned long long* row = out.data() + (flip ? dh - 1 - y : y) * dw;
        for (long long x = 0; x < dw; ++x) dst[y * dw + x] = row[mirror ? dw - 1 - x : x];
    }
    return true;
}

// ---------------------------------------------------------------------------
// Flip and quarter turns

namespace {

template <typename T>
bool flipRows(_typebuf<T>& buf, long long w, long long h) {
    if (!buf.data()) return false;
    if (h < 2) return true;
    std::vector<T> tmp(static_cast<std::size_t>(w));
    for (long long i = 0; i < h / 2; ++i) {
        T* a = buf.data() + i * w;
        T* b = buf.data() + (h - 1 - i) * w;
        std::memcpy(tmp.data(), a, static_cast<std::size_t>(w) * sizeof(T));
        std::memcpy(a, b, static_cast<std::size_t>(w) * sizeof(T));
        std::memcpy(b, tmp.data(), static_cast<std::size_t>(w) * sizeof(T));
    }
    return true;
}

// 90: new (r, c) = old (c, W-1-r); 270: new (r, c) = old (H-1-c, r).
template <typename T>
bool turn(_typebuf<T>& buf, long long w, long long h, int angle) {
    if (!buf.data()) return false;
    if (angle == 180) {
        std::reverse(buf.data(), buf.data() + w * h);
        return true;
    }
    _typebuf<T> out;
    if (!cPictBase::sizeBuffer(out, w * h)) return false;
    const T* s = buf.data();
    T* d = out.data();
    // The new picture is h wide and w high.
    for (long long r = 0; r < w; ++r) {
        T* row = d + r * h;
        if (angle == 90) {
            for (long long c = 0; c < h; ++c) row[c] = s[c * w + (w - 1 - r)];
        } else {
            for (long long c = 0; c < h; ++c) row[c] = s[(h - 1 - c) * w + r];
        }
    }
    buf.swap(out);
    return true;
}

}  // namespace

bool cPictBase::flip() {
    return is16Bpp_ ? flipRows(pixels16_, width_, height_) : flipRows(pixels8_, width_, height_);
}

bool cPictBase::rotate(eRotateDegrees angle) {
    const int a = static_cast<int>(angle);
    if (a == 0) return true;
    if (a != 90 && a != 180 && a != 270) return false;
    const bool ok = is16Bpp_ ? turn(pixels16_, width_, height_, a) : turn(pixels8_, width_, height_, a);
    if (!ok) return false;
    if (a != 180) std::swap(width_, height_);
    return true;
}

// ---------------------------------------------------------------------------
// Contrast stretch

namespace {

template <typename T>
void minMaxBGR(const T* data, long long n, long long& lo, long long& hi) {
    using Tr = sPixTraits<T>;
    lo = 0x7FFFFFFF;
    hi = -1;
    for (long long i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            const long long v = static_cast<long long>(Tr::get(data[i], k));
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
}

}  // namespace

bool cPictBase::autoScaleFrom(unsigned long long* data, long long w, long long h) {
    long long n = 0;
    if (!data || !checkPixelCount(w, h, &n, 8)) return false;
    width_ = w;
    height_ = h;
    is16Bpp_ = true;
    long long lo, hi;
    minMaxBGR(data, n, lo, hi);
    double factor = 1.0, offset = 0.0;
    if (hi > lo) {
        factor = 65535.0 / static_cast<double>(hi - lo);
        offset = static_cast<double>(lo);
    }
    const bool ext = startExtRender();
    if (!ext && !sizeBuffer(pixels16_, n)) return false;
    if (!ext) pixels8_.set(0);
    for (long long y = 0; y < h; ++y) {
        for (long long x = 0; x < w; ++x) {
            const unsigned long long p = data[y * w + x];
            unsigned long long out = 0xFFFFULL << 48;
            for (int k = 0; k < 3; ++k) {
                const double c = static_cast<double>((p >> (16 * k)) & 0xFFFF);
                out |= (static_cast<unsigned long long>((c - offset) * factor) & 0xFFFF) << (16 * k);
            }
            if (ext)
                setExtPix16(x, y, out);
            else
                pixels16_.data()[y * w + x] = out;
        }
    }
    return true;
}

bool cPictBase::autoScaleFrom(unsigned int* data, long long w, long long h) {
    long long n = 0;
    if (!data || !checkPixelCount(w, h, &n)) return false;
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    long long lo, hi;
    minMaxBGR(data, n, lo, hi);
    double factor = 1.0, offset = 0.0;
    if (hi > lo) {
        factor = 255.0 / static_cast<double>(hi - lo);
        offset = static_cast<double>(lo);
    }
    const bool ext = startExtRender();
    if (!ext && !sizeBuffer(pixels8_, n)) return false;
    if (!ext) pixels16_.set(0);
    for (long long y = 0; y < h; ++y) {
        for (long long x = 0; x < w; ++x) {
            const unsigned int p = data[y * w + x];
            unsigned int out = 0xFF000000u;
            for (int k = 0; k < 3; ++k) {
                const double c = static_cast<double>((p >> (8 * k)) & 0xFF);
                out |= (static_cast<unsigned int>((c - offset) * factor) & 0xFF) << (8 * k);
            }
            if (ext)
                setExtPix(x, y, out);
            else
                pixels8_.data()[y * w + x] = out;
        }
    }
    return true;
}

bool cPictBase::autoScaleFrom(cPictBase& src) {
    if (&src == this) return false;
    if (src.is16Bpp() && src.raw16Bpp()) return autoScaleFrom(src.raw16Bpp(), src.width(), src.height());
    return autoScaleFrom(src.raw8Bpp(), src.width(), src.height());
}

// ---------------------------------------------------------------------------
// Properties

int cPictBase::kindOf(eExProps id) {
    static const signed char kKinds[] = {
        cPictProp::pkString,    cPictProp::pkTimestamp, cPictProp::pkTimestamp, cPictProp::pkString,
        cPictProp::pkString,    cPictProp::pkDouble,    cPictProp::pkDouble,    cPictProp::pkInt,
        cPictProp::pkDouble,    cPictProp::pkDouble,    cPictProp::pkInt,       cPictProp::pkInt,
        cPictProp::pkInt,       cPictProp::pkImage,     cPictProp::pkImage,     cPictProp::pkDouble,
        cPictProp::pkDouble,    cPictProp::pkDouble,    cPictProp::pkInt,       cPictProp::pkInt,
        cPictProp::pkInt,       cPictProp::pkRaw};
    const int i = static_cast<int>(id);
    if (i < 0 || i > epLast) return -1;
    return kKinds[i];
}

cPictProp* cPictBase::getProp(eExProps id, bool create) {
    if (cPtr<cPictProp>* found = props_.find(id)) return found->get();
    if (!create) return nullptr;
    cPictProp* p = nullptr;
    switch (kindOf(id)) {
        case cPictProp::pkInt: p = new cPictPropInt; break;
        case cPictProp::pkDouble: p = new cPictPropDouble; break;
        case cPictProp::pkTimestamp: p = new cPictPropTimestamp; break;
        case cPictProp::pkString: p = new cPictPropString; break;
        case cPictProp::pkImage: p = new cPictPropImage; break;
        case cPictProp::pkRaw: p = new cPictPropRaw; break;
        default: return nullptr;
    }
    cPtr<cPictProp>* slot = props_.insert(id);
    *slot = p;
    return p;
}

namespace {
template <typename T>
T* propAs(cPictProp* p, int kind) {
    return p && p->typeOf() == kind ? static_cast<T*>(p) : nullptr;
}
}  // namespace

cPictPropInt* cPictBase::getPropInt(eExProps id) { return propAs<cPictPropInt>(getProp(id, false), cPictProp::pkInt); }
cPictPropDouble* cPictBase::getPropDouble(eExProps id) {
    return propAs<cPictPropDouble>(getProp(id, false), cPictProp::pkDouble);
}
cPictPropTimestamp* cPictBase::getPropTimestamp(eExProps id) {
    return propAs<cPictPropTimestamp>(getProp(id, false), cPictProp::pkTimestamp);
}
cPictPropString* cPictBase::getPropString(eExProps id) {
    return propAs<cPictPropString>(getProp(id, false), cPictProp::pkString);
}
cPictPropImage* cPictBase::getPropImage(eExProps id) {
    return propAs<cPictPropImage>(getProp(id, false), cPictProp::pkImage);
}
cPictPropRaw* cPictBase::getPropRaw(eExProps id) { return propAs<cPictPropRaw>(getProp(id, false), cPictProp::pkRaw); }

void cPictBase::removeProp(eExProps id) { props_.dettach(id); }

// ---------------------------------------------------------------------------
// Collaborators

void cPictBase::refSecurityProvider(cSecurityProviderRequestTarget* p) {
    if (ownedSecurity_ != p) delete ownedSecurity_;
    ownedSecurity_ = nullptr;
    security_ = p;
}

void cPictBase::setSecurityProvider(cSecurityProviderRequestTarget* p) {
    if (ownedSecurity_ != p) delete ownedSecurity_;
    ownedSecurity_ = p;
    security_ = p;
}

bool cPictBase::getBasicEncryptionPassword(_guardchar<char>& out, char* text) {
    if (!security_) return false;
    sSecurityRequest req;
    req.prompt.set(text);
    if (!security_->request(0, &req)) return false;
    out = std::move(req.answer);
    return true;
}

// ---------------------------------------------------------------------------
// Single-page defaults

bool cPictBase::getPageSize(cFileIOTarget* stream, int page, int& w, int& h) {
    if (page != 0 || !stream) return false;
    sPictInfo info;
    if (isPicture(stream, &info)) {
        w = static_cast<int>(info.width);
        h = static_cast<int>(info.height);
    }
    return true;
}

bool cPictBase::decodePage(cFileIOTarget* stream, int page) {
    if (page != 0) return false;
    return decode(stream);
}

bool cPictBase::decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                                  bool allowDecode, unsigned int background) {
    if (page != 0 || !stream) return false;
    stream->set_fp(0);
    sPictInfo info;
    if (!isPicture(stream, &info)) return false;
    stream->set_fp(0);
    return getPreviewFor(this, info, stream, dst, maxW, maxH, allowDecode, background) == frOk;
}

// ---------------------------------------------------------------------------
// cPictDummy

bool cPictDummy::create_und(long long w, long long h) {
    w = static_cast<int>(w);
    h = static_cast<int>(h);
    long long n = 0;
    if (!checkPixelCount(w, h, &n)) return false;
    pixels16_.set(0);
    if (!(pixels8_.count() == n && pixels8_.data()) && !sizeBuffer(pixels8_, n)) {
        close();
        return false;
    }
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    return true;
}

bool cPictDummy::create16_und(long long w, long long h) {
    w = static_cast<int>(w);
    h = static_cast<int>(h);
    long long n = 0;
    if (!checkPixelCount(w, h, &n, 8)) return false;
    pixels8_.set(0);
    if (!(pixels16_.count() == n && pixels16_.data()) && !sizeBuffer(pixels16_, n)) {
        close();
        return false;
    }
    width_ = w;
    height_ = h;
    is16Bpp_ = true;
    return true;
}

bool cPictDummy::create(long long w, long long h, unsigned int colour) {
    if (!create_und(w, h)) return false;
    std::fill(pixels8_.begin(), pixels8_.end(), colour);
    return true;
}

bool cPictDummy::create16(long long w, long long h, unsigned long long colour) {
    if (!create16_und(w, h)) return false;
    std::fill(pixels16_.begin(), pixels16_.end(), colour);
    return true;
}

bool cPictDummy::create(_typebuf<unsigned int>& pixels, long long w, long long h) {
    w = static_cast<int>(w);
    h = static_cast<int>(h);
    long long n = 0;
    if (!checkPixelCount(w, h, &n) || pixels.count() != n || !pixels.data()) return false;
    pixels8_.swap(pixels);
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    return true;
}
