#include "uitoolkit/picture.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/cpufeatures.h"
#include "compression/zstream.h"
#include "uitoolkit/limits.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

using namespace qor_uitk;

bool __bmp_res_inversed = true;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "packed pixels are read as little-endian words");

namespace {

inline unsigned int channel(unsigned int p, int k) { return (p >> (8 * k)) & 0xFFu; }
inline unsigned int clampByte(double v) {
    const unsigned int u = v <= 0 ? 0u : static_cast<unsigned int>(v);
    return u > 255u ? 255u : u;
}

// The pixel count of a w x h picture when both sides are positive and the
// count stays within `limit`; -1 otherwise.
long long pixelCount(int w, int h, long long limit) {
    long long n = 0;
    if (w < 1 || h < 1 || !checked_mul(static_cast<long long>(w), static_cast<long long>(h), n) || n > limit) return -1;
    return n;
}

// One output pixel of a one-dimensional resampling: the input pixels and
// their weights, weights[first .. first + n).
struct sTap {
    int first = 0;
    int n = 0;
};

struct sTaps {
    std::vector<sTap> taps;
    std::vector<int> index;
    std::vector<double> weight;
    void add(int i, double w) {
        index.push_back(i);
        weight.push_back(w);
        ++taps.back().n;
    }
    void begin() {
        sTap t;
        t.first = static_cast<int>(index.size());
        taps.push_back(t);
    }
};

#if defined(__x86_64__)
// The four channels of a pixel as doubles, and four sums back into a pixel:
// each truncated towards zero, then held to 0 .. 255 as clampByte does.
// These do per channel the double operations of the scalar code, in the
// same order and without fused multiply-adds (the target has none), so the
// results are the scalar ones bit for bit; one division serves the four
// channels.
__attribute__((target("avx2"), always_inline)) inline __m256d channelsOf(unsigned int p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p))));
}

__attribute__((target("avx2"), always_inline)) inline unsigned int pixelOf(__m256d v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i t = _mm256_cvttpd_epi32(v);
    return static_cast<unsigned int>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(t, zero), zero)));
}

// One shrunk pixel: see sLinePlan::shrunk.
__attribute__((target("avx2"), always_inline)) inline unsigned int shrunkAvx2(const unsigned int* base,
                                                                              long long stride, const int* idx,
                                                                              const double* wt, int n, double total) {
    __m256d sum = _mm256_setzero_pd();
    for (int q = 0; q < n; ++q)
        sum = _mm256_add_pd(sum, _mm256_mul_pd(channelsOf(base[idx[q] * stride]), _mm256_set1_pd(wt[q])));
    return pixelOf(_mm256_div_pd(sum, _mm256_set1_pd(total)));
}

// Two pixels mixed: see sLinePlan::mix.
__attribute__((target("avx2"), always_inline)) inline unsigned int mixAvx2(unsigned int pa, unsigned int pb, double wa,
                                                                           double wb) {
    return pixelOf(_mm256_add_pd(_mm256_mul_pd(channelsOf(pa), _mm256_set1_pd(wa)),
                                 _mm256_mul_pd(channelsOf(pb), _mm256_set1_pd(wb))));
}

// One enlarged output of a line: a copy of one input or a mix of two.
struct sMix {
    int a, b;
    double wa, wb;
    bool copy;
};

// `rows` rows of n pixels enlarged along each row into `outputs` pixels.
__attribute__((target("avx2"))) void enlargeRowsAvx2(const unsigned int* src, long long rows, long long n,
                                                     const sMix* mixes, std::size_t outputs, unsigned int* dst) {
    for (long long y = 0; y < rows; ++y, src += n, dst += outputs) {
        for (std::size_t k = 0; k < outputs; ++k) {
            const sMix& mx = mixes[k];
            dst[k] = mx.copy ? src[mx.a] : mixAvx2(src[mx.a], src[mx.b], mx.wa, mx.wb);
        }
    }
}

// Two rows `width` wide mixed into one.
__attribute__((target("avx2"))) void mixRowsAvx2(const unsigned int* a, const unsigned int* b, long long width,
                                                 double wa, double wb, unsigned int* dst) {
    for (long long x = 0; x < width; ++x) dst[x] = mixAvx2(a[x], b[x], wa, wb);
}

// `rows` rows of n pixels shrunk along each row into `outputs` pixels.
__attribute__((target("avx2"))) void shrinkRowsAvx2(const unsigned int* src, long long rows, long long n,
                                                    const sTap* taps, std::size_t outputs, const int* index,
                                                    const double* weight, const double* totals, unsigned int* dst) {
    for (long long y = 0; y < rows; ++y, src += n, dst += outputs) {
        for (std::size_t k = 0; k < outputs; ++k)
            dst[k] = shrunkAvx2(src, 1, index + taps[k].first, weight + taps[k].first, taps[k].n, totals[k]);
    }
}

// Columns `width` wide shrunk downwards into `outputs` rows.
__attribute__((target("avx2"))) void shrinkColumnsAvx2(const unsigned int* src, long long width, const sTap* taps,
                                                       std::size_t outputs, const int* index, const double* weight,
                                                       const double* totals, unsigned int* dst) {
    for (std::size_t k = 0; k < outputs; ++k, dst += width) {
        const int* idx = index + taps[k].first;
        const double* wt = weight + taps[k].first;
        for (long long x = 0; x < width; ++x) dst[x] = shrunkAvx2(src + x, width, idx, wt, taps[k].n, totals[k]);
    }
}

// Area scaling: see cPicture::scaling.
__attribute__((target("avx2"))) void scaleAvx2(const unsigned int* pixels, long long srcWidth, const sTaps& xs,
                                               const sTaps& ys, int w, int h, double norm, unsigned int* out) {
    const __m256d scale = _mm256_set1_pd(norm);
    for (int y = 0; y < h; ++y) {
        const sTap& ty = ys.taps[static_cast<std::size_t>(y)];
        for (int x = 0; x < w; ++x) {
            const sTap& tx = xs.taps[static_cast<std::size_t>(x)];
            const int* xi = xs.index.data() + tx.first;
            const double* xw = xs.weight.data() + tx.first;
            __m256d sum = _mm256_setzero_pd();
            for (int qy = ty.first; qy < ty.first + ty.n; ++qy) {
                const unsigned int* row = pixels + ys.index[static_cast<std::size_t>(qy)] * srcWidth;
                const double wy = ys.weight[static_cast<std::size_t>(qy)];
                for (int q = 0; q < tx.n; ++q)
                    sum = _mm256_add_pd(sum, _mm256_mul_pd(channelsOf(row[xi[q]]), _mm256_set1_pd(xw[q] * wy)));
            }
            out[static_cast<long long>(y) * w + x] = pixelOf(_mm256_mul_pd(sum, scale));
        }
    }
}

bool haveAvx2() { return qor_cpu::hasAvx2(); }
#endif

// Shrinking w inputs to newW outputs (w > newW): output k covers [s, e)
// with s = k additions of r = w / newW and e = min(s + r, w); a partly
// covered first and last input weigh what they cover, inner ones 1.
sTaps shrinkTaps(int w, int newW) {
    sTaps t;
    const double r = static_cast<double>(w) / newW;
    double s = 0;
    for (int k = 0; k < newW; ++k) {
        t.begin();
        const double e = std::min(s + r, static_cast<double>(w));
        const int i0 = static_cast<int>(s), i1 = static_cast<int>(e);
        int start = i0;
        if (s != i0) {
            t.add(i0, 1 - (s - i0));
            start = i0 + 1;
        }
        for (int j = start; j < i1; ++j) t.add(j, 1);
        if (e > i1 && i1 < w) t.add(i1, e - i1);
        s += r;
    }
    return t;
}

// Area coverage of [s, s + r) over n pixels: 1 - fraction for the first,
// 1 for inner ones, less the overshoot past the end for the last; the walk
// stops when the next boundary lies within 1e-7 of the end.
void coverTaps(sTaps& t, double s, double r, int n) {
    t.begin();
    const double e = s + r;
    bool first = true;
    for (int i = static_cast<int>(s); i < n; ++i, first = false) {
        double w = first ? 1 - (s - i) : 1.0;
        if (i + 1 > e) w -= (i + 1) - e;
        t.add(i, w);
        if (i + 1 >= e - 1e-7) break;
    }
}

// The one-dimensional rule of stretch from n inputs to m outputs, applied
// along a row or, with the same arithmetic per pixel, down the columns.
//  - Enlarging (n <= m): output k sits at p = k additions of r = n / m,
//    i = trunc(p), f = p - i; f = 0.5 takes input i; f < 0.5 (i > 0) mixes
//    inputs i - 1 and i with weights 1 - (f + 0.5) and f + 0.5; f > 0.5
//    (i < n - 1) mixes i and i + 1 with 1.5 - f and 1 - (1.5 - f); the first
//    and last inputs are otherwise repeated.
//  - Shrinking: the weights of shrinkTaps, output = weighted sum / weights.
// Every channel in double precision, each result truncated.
class sLinePlan {
public:
    sLinePlan(int n, int m) : mShrink(n > m) {
        if (mShrink) {
            mTaps = shrinkTaps(n, m);
            // Each output's sum of weights, added in tap order.
            mTotal.reserve(mTaps.taps.size());
            for (const sTap& tap : mTaps.taps) {
                double weights = 0;
                for (int q = tap.first; q < tap.first + tap.n; ++q) weights += mTaps.weight[static_cast<std::size_t>(q)];
                mTotal.push_back(weights);
            }
            return;
        }
        mMix.resize(static_cast<std::size_t>(m));
        const double r = static_cast<double>(n) / m;
        double p = 0;
        for (int k = 0; k < m; ++k, p += r) {
            const int i = std::min(static_cast<int>(p), n - 1);
            const double f = p - i;
            sMix mx{i, i, 1, 0, true};
            if (f == 0.5) {
            } else if (f < 0.5 && i > 0) {
                mx = sMix{i - 1, i, 1 - (f + 0.5), f + 0.5, false};
            } else if (f > 0.5 && i < n - 1) {
                mx = sMix{i, i + 1, 1.5 - f, 1 - (1.5 - f), false};
            }
            mMix[static_cast<std::size_t>(k)] = mx;
        }
    }

    // One row of n pixels into one row of m.
    void row(const unsigned int* src, unsigned int* dst) const {
        if (!mShrink) {
            for (std::size_t k = 0; k < mMix.size(); ++k) {
                const sMix& mx = mMix[k];
                dst[k] = mx.copy ? src[mx.a] : mix(src[mx.a], src[mx.b], mx.wa, mx.wb);
            }
            return;
        }
        for (std::size_t k = 0; k < mTaps.taps.size(); ++k) {
            const sTap& tap = mTaps.taps[k];
            dst[k] = shrunk(src, 1, &mTaps.index[static_cast<std::size_t>(tap.first)],
                            &mTaps.weight[static_cast<std::size_t>(tap.first)], tap.n, mTotal[k]);
        }
    }

    // `count` rows of n pixels, one after the other, into rows of m.
    void rows(const unsigned int* src, long long count, long long n, unsigned int* dst) const {
#if defined(__x86_64__)
        if (haveAvx2()) {
            if (mShrink) {
                shrinkRowsAvx2(src, count, n, mTaps.taps.data(), mTaps.taps.size(), mTaps.index.data(),
                               mTaps.weight.data(), mTotal.data(), dst);
            } else {
                enlargeRowsAvx2(src, count, n, mMix.data(), mMix.size(), dst);
            }
            return;
        }
#endif
        const long long m = mShrink ? static_cast<long long>(mTaps.taps.size()) : static_cast<long long>(mMix.size());
        for (long long y = 0; y < count; ++y) row(src + y * n, dst + y * m);
    }

    // Columns: a picture `width` wide of n rows into m rows, row by row so
    // that memory is read in order.
    void columns(const unsigned int* src, long long width, unsigned int* dst) const {
        if (!mShrink) {
            for (std::size_t k = 0; k < mMix.size(); ++k) {
                const sMix& mx = mMix[k];
                const unsigned int* a = src + mx.a * width;
                const unsigned int* b = src + mx.b * width;
                unsigned int* o = dst + static_cast<long long>(k) * width;
                if (mx.copy) {
                    std::memcpy(o, a, static_cast<std::size_t>(width) * sizeof(unsigned int));
                    continue;
                }
#if defined(__x86_64__)
                if (haveAvx2()) {
                    mixRowsAvx2(a, b, width, mx.wa, mx.wb, o);
                    continue;
                }
#endif
                for (long long x = 0; x < width; ++x) o[x] = mix(a[x], b[x], mx.wa, mx.wb);
            }
            return;
        }
#if defined(__x86_64__)
        if (haveAvx2()) {
            shrinkColumnsAvx2(src, width, mTaps.taps.data(), mTaps.taps.size(), mTaps.index.data(),
                              mTaps.weight.data(), mTotal.data(), dst);
            return;
        }
#endif
        for (std::size_t k = 0; k < mTaps.taps.size(); ++k) {
            const sTap& tap = mTaps.taps[k];
            const int* idx = &mTaps.index[static_cast<std::size_t>(tap.first)];
            const double* wt = &mTaps.weight[static_cast<std::size_t>(tap.first)];
            unsigned int* o = dst + static_cast<long long>(k) * width;
            for (long long x = 0; x < width; ++x) o[x] = shrunk(src + x, width, idx, wt, tap.n, mTotal[k]);
        }
    }

private:
    static unsigned int mix(unsigned int pa, unsigned int pb, double wa, double wb) {
        unsigned int o = 0;
        for (int c = 0; c < 4; ++c) o |= clampByte(channel(pa, c) * wa + channel(pb, c) * wb) << (8 * c);
        return o;
    }
    // One shrunk pixel: the n pixels at base + idx[q] * stride weighed by
    // wt[q], each channel summed in tap order from 0, divided by the weights'
    // total and truncated.  The vector form does the same double operations
    // in the same order two channels at a time (no fused multiply-add), so
    // its results are the scalar ones bit for bit.
    static unsigned int shrunk(const unsigned int* base, long long stride, const int* idx, const double* wt, int n,
                               double total) {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        __m128d bg = _mm_setzero_pd(), ra = _mm_setzero_pd();
        for (int q = 0; q < n; ++q) {
            const __m128i p = _mm_cvtsi32_si128(static_cast<int>(base[idx[q] * stride]));
            const __m128i c = _mm_unpacklo_epi16(_mm_unpacklo_epi8(p, zero), zero);
            const __m128d w = _mm_set1_pd(wt[q]);
            bg = _mm_add_pd(bg, _mm_mul_pd(_mm_cvtepi32_pd(c), w));
            ra = _mm_add_pd(ra, _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(c, 0x0E)), w));
        }
        const __m128d t = _mm_set1_pd(total);
        // Truncated towards zero, then held to 0 .. 255 as clampByte does.
        const __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_div_pd(bg, t)), _mm_cvttpd_epi32(_mm_div_pd(ra, t)));
        const __m128i b = _mm_packus_epi16(_mm_packs_epi32(v, zero), zero);
        return static_cast<unsigned int>(_mm_cvtsi128_si32(b));
#else
        double sum[4] = {0, 0, 0, 0};
        for (int q = 0; q < n; ++q) {
            const unsigned int p = base[idx[q] * stride];
            for (int c = 0; c < 4; ++c) sum[c] += channel(p, c) * wt[q];
        }
        unsigned int o = 0;
        for (int c = 0; c < 4; ++c) o |= clampByte(sum[c] / total) << (8 * c);
        return o;
#endif
    }

    bool mShrink;
    sTaps mTaps;
    std::vector<double> mTotal;
    std::vector<sMix> mMix;
};

void copyPicture(const cPicture& from, cPicture* to) {
    if (to != &from) to->create(from.raw(), from.width(), from.height(), false);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and ownership

cPicture::~cPicture() { delete[] mPixels; }

bool cPicture::adopt(unsigned int* pixels, long long count, int w, int h) {
    delete[] mPixels;
    mPixels = pixels;
    mCount = count;
    mWidth = w;
    mHeight = h;
    return true;
}

bool cPicture::consistent() const {
    return mPixels && mWidth > 0 && mHeight > 0 && mCount == static_cast<long long>(mWidth) * mHeight;
}

bool cPicture::create(int w, int h) {
    const long long n = pixelCount(w, h, kMaxPicturePixels);
    if (n < 0) return false;
    if (!mPixels || n != static_cast<long long>(mWidth) * mHeight) {
        unsigned int* fresh = new unsigned int[static_cast<std::size_t>(n)]();
        adopt(fresh, n, w, h);
    }
    mCount = n;
    mWidth = w;
    mHeight = h;
    return true;
}

bool cPicture::create(const unsigned int* pixels, int w, int h, bool flip) {
    if (!pixels) return false;
    const long long n = pixelCount(w, h, kMaxPicturePixels);
    if (n < 0) return false;
    // The source may be this picture's own array.
    std::vector<unsigned int> own;
    if (mPixels && pixels >= mPixels && pixels < mPixels + mCount) {
        if (n > mCount - (pixels - mPixels)) return false;
        own.assign(pixels, pixels + n);
        pixels = own.data();
    }
    if (!create(w, h)) return false;
    const std::size_t row = static_cast<std::size_t>(w);
    for (int y = 0; y < h; ++y) {
        const int from = flip ? h - 1 - y : y;
        std::memcpy(mPixels + row * y, pixels + row * from, row * sizeof(unsigned int));
    }
    return true;
}

bool cPicture::create(unsigned int colour, int w, int h) {
    if (!create(w, h)) return false;
    std::fill(mPixels, mPixels + mCount, colour);
    return true;
}

bool cPicture::create(const void* packed, long long size) {
    if (!packed || size < 9 || size - 8 > static_cast<long long>(UINT_MAX)) return false;
    cByteReader in(packed, static_cast<std::size_t>(size));
    std::int32_t w = 0, h = 0;
    if (!in.read_i32le(w) || !in.read_i32le(h)) return false;
    if (w > kMaxPackedImageSide || h > kMaxPackedImageSide) return false;
    const long long n = pixelCount(w, h, kMaxPackedImagePixels);
    if (n < 0) return false;
    unsigned int* pixels = new unsigned int[static_cast<std::size_t>(n)];
    cZInflate z;
    const unsigned int bytes = static_cast<unsigned int>(n * 4);
    // A stream that ends before every pixel is there, or holds more, is damaged.
    if (!z.init() || z.inflate(in.current(), static_cast<unsigned int>(in.remaining()), pixels, bytes) != bytes) {
        delete[] pixels;
        return false;
    }
    // Bottom row first in the stream.
    if (__bmp_res_inversed) {
        const std::size_t row = static_cast<std::size_t>(w);
        for (int y = 0; y < h / 2; ++y)
            std::swap_ranges(pixels + row * y, pixels + row * (y + 1), pixels + row * (h - 1 - y));
    }
    return adopt(pixels, n, w, h);
}

bool cPicture::create_on(_typebuf<unsigned int>& buffer, int w, int h) {
    const long long n = pixelCount(w, h, LLONG_MAX);
    if (n < 0 || !buffer.data() || buffer.count() != n) return false;
    return adopt(buffer.release(), n, w, h);
}

bool cPicture::moveTo(_typebuf<unsigned int>& buffer, int& w, int& h) {
    if (!mPixels) return false;
    _typebuf<unsigned int> out;
    out.set(0);
    // _typebuf has no adopt: hand over by copying the array once.
    out.copyFrom(mPixels, mCount);
    buffer.swap(out);
    w = mWidth;
    h = mHeight;
    destroy();
    return true;
}

void cPicture::swap(cPicture& other) {
    std::swap(mPixels, other.mPixels);
    std::swap(mCount, other.mCount);
    std::swap(mWidth, other.mWidth);
    std::swap(mHeight, other.mHeight);
}

void cPicture::destroy() { adopt(nullptr, 0, 0, 0); }

// ---------------------------------------------------------------------------
// Editing

void cPicture::makesolid() {
    for (long long i = 0; i < mCount; ++i) mPixels[i] |= 0xFF000000u;
}

bool cPicture::blt(const cPicture* src, int x, int y, int w, int h, bool srcAlpha) {
    if (!src || !consistent() || !src->consistent() || w < 0 || h < 0) return false;
    if (x >= mWidth || y >= mHeight) return true;
    // Drawing a picture onto itself reads from a copy.
    cPicture copy;
    if (src == this) {
        copyPicture(*this, &copy);
        src = &copy;
    }
    long long cw = w == 0 ? src->mWidth : std::min(w, src->mWidth);
    long long ch = h == 0 ? src->mHeight : std::min(h, src->mHeight);
    long long sx = 0, sy = 0, dx = x, dy = y;
    if (dx < 0) {
        sx = -dx;
        cw -= sx;
        dx = 0;
    }
    if (dy < 0) {
        sy = -dy;
        ch -= sy;
        dy = 0;
    }
    cw = std::min(cw, mWidth - dx);
    ch = std::min(ch, mHeight - dy);
    if (cw <= 0 || ch <= 0) return true;
    for (long long j = 0; j < ch; ++j) {
        const unsigned int* s = src->mPixels + (sy + j) * src->mWidth + sx;
        unsigned int* d = mPixels + (dy + j) * mWidth + dx;
        for (long long i = 0; i < cw; ++i) {
            const unsigned int sp = s[i];
            const unsigned int sa = sp >> 24;
            if (sa == 0) continue;
            if (sa == 255) {
                d[i] = sp;
                continue;
            }
            const unsigned int dp = d[i];
            const double a = sa * 0.00390625;
            const double ia = 1 - a;
            const unsigned int r = static_cast<unsigned int>(channel(dp, 2) * ia + channel(sp, 2) * a);
            const unsigned int g = static_cast<unsigned int>(channel(dp, 1) * ia + channel(sp, 1) * a);
            const unsigned int b = static_cast<unsigned int>(channel(dp, 0) * ia + channel(sp, 0) * a);
            const unsigned int al = srcAlpha ? sa : static_cast<unsigned int>(ia * channel(dp, 3) + a * sa);
            d[i] = al << 24 | r << 16 | g << 8 | b;
        }
    }
    return true;
}

bool cPicture::blend(int x, int y, cPicture* dst) const {
    if (!dst || !consistent()) return false;
    if (!dst->consistent()) return true;
    const long long x0 = std::max<long long>(0, x), y0 = std::max<long long>(0, y);
    const long long x1 = std::min<long long>(dst->mWidth, static_cast<long long>(x) + mWidth);
    const long long y1 = std::min<long long>(dst->mHeight, static_cast<long long>(y) + mHeight);
    for (long long dyy = y0; dyy < y1; ++dyy) {
        const unsigned int* s = mPixels + (dyy - y) * mWidth;
        unsigned int* d = dst->mPixels + dyy * dst->mWidth;
        for (long long dxx = x0; dxx < x1; ++dxx) {
            const unsigned int sp = s[dxx - x], dp = d[dxx];
            const double a = (sp >> 24) / 255.0;
            const double ia = 1 - a;
            unsigned int out = dp & 0xFF000000u;
            for (int k = 0; k < 3; ++k)
                out |= static_cast<unsigned int>(channel(sp, k) * a + channel(dp, k) * ia) << (8 * k);
            d[dxx] = out;
        }
    }
    return true;
}

bool cPicture::subPictTo(sRect& r, cPicture* dst) const {
    if (!dst || !consistent() || r.w <= 0 || r.h <= 0 || r.x >= mWidth || r.y >= mHeight) return false;
    const long long right = static_cast<long long>(r.x) + r.w, bottom = static_cast<long long>(r.y) + r.h;
    if (right <= 0 || bottom <= 0) return false;
    // The part of the rectangle that lies on the picture.
    const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    const int w = static_cast<int>(std::min<long long>(right, mWidth) - x0);
    const int h = static_cast<int>(std::min<long long>(bottom, mHeight) - y0);
    r.x = x0;
    r.y = y0;
    r.w = w;
    r.h = h;
    const int firstRow = __bmp_res_inversed ? y0 : mHeight - y0 - h;
    _typebuf<unsigned int> out(static_cast<long long>(w) * h);
    for (int j = 0; j < h; ++j)
        std::memcpy(out.data() + static_cast<long long>(j) * w, mPixels + static_cast<long long>(firstRow + j) * mWidth + x0,
                    static_cast<std::size_t>(w) * sizeof(unsigned int));
    return dst->create_on(out, w, h);
}

bool cPicture::flip() {
    if (!consistent()) return false;
    const std::size_t row = static_cast<std::size_t>(mWidth);
    for (int y = 0; y < mHeight / 2; ++y)
        std::swap_ranges(mPixels + row * y, mPixels + row * (y + 1), mPixels + row * (mHeight - 1 - y));
    return true;
}

bool cPicture::rotate(int angle) {
    if (angle == 0) return true;
    if (!consistent()) return false;
    if (angle == 180) {
        std::reverse(mPixels, mPixels + mCount);
        return true;
    }
    _typebuf<unsigned int> out;
    if (angle == 90) {
        if (!flip_left(mPixels, mWidth, mHeight, out)) return false;
    } else if (angle == 270) {
        if (!flip_right(mPixels, mWidth, mHeight, out)) return false;
    } else {
        return false;
    }
    return create_on(out, mHeight, mWidth);
}

// ---------------------------------------------------------------------------
// Resampling

bool cPicture::flip_left(const unsigned int* pixels, int w, int h, _typebuf<unsigned int>& out) {
    const long long n = pixelCount(w, h, LLONG_MAX);
    if (!pixels || n < 0) return false;
    out.set(n);
    // Out is h wide: out (x', y') = in (w - 1 - y', x').
    for (long long yo = 0; yo < w; ++yo) {
        unsigned int* o = out.data() + yo * h;
        const unsigned int* col = pixels + (w - 1 - yo);
        for (long long xo = 0; xo < h; ++xo) o[xo] = col[xo * w];
    }
    return true;
}

bool cPicture::flip_right(const unsigned int* pixels, int w, int h, _typebuf<unsigned int>& out) {
    const long long n = pixelCount(w, h, LLONG_MAX);
    if (!pixels || n < 0) return false;
    out.set(n);
    // Out is h wide: out (x', y') = in (y', h - 1 - x').
    for (long long yo = 0; yo < w; ++yo) {
        unsigned int* o = out.data() + yo * h;
        for (long long xo = 0; xo < h; ++xo) o[xo] = pixels[(h - 1 - xo) * w + yo];
    }
    return true;
}

bool cPicture::hStretch(const unsigned int* pixels, int w, int rows, int newW, _typebuf<unsigned int>& out) {
    const long long in = pixelCount(w, rows, LLONG_MAX);
    const long long n = pixelCount(newW, rows, kMaxPicturePixels);
    if (!pixels || in < 0 || n < 0) return false;
    out.set(n);
    if (w == newW) {
        std::memcpy(out.data(), pixels, static_cast<std::size_t>(n) * sizeof(unsigned int));
        return true;
    }
    sLinePlan(w, newW).rows(pixels, rows, w, out.data());
    return true;
}

bool cPicture::resizing(int method, int w, int h, cPicture* dst) const {
    if (method == rmStretch) return stretch(w, h, dst);
    if (method == rmScaling) return scaling(w, h, dst);
    return false;
}

bool cPicture::stretch(int w, int h, cPicture* dst) const {
    if (!dst || !consistent() || pixelCount(w, h, kMaxPicturePixels) < 0) return false;
    if (w == mWidth && h == mHeight) {
        copyPicture(*this, dst);
        return true;
    }
    _typebuf<unsigned int> rows;
    if (!hStretch(mPixels, mWidth, mHeight, w, rows)) return false;
    if (h != mHeight) {
        // The columns, each read from top to bottom, get the same rule; it
        // runs row by row instead of through two transpositions.
        _typebuf<unsigned int> cols(static_cast<long long>(w) * h);
        sLinePlan(mHeight, h).columns(rows.data(), w, cols.data());
        rows.swap(cols);
    }
    return dst->create_on(rows, w, h);
}

bool cPicture::scaling(int w, int h, cPicture* dst) const {
    if (!dst || !consistent() || pixelCount(w, h, kMaxPicturePixels) < 0) return false;
    if (w == mWidth && h == mHeight) {
        copyPicture(*this, dst);
        return true;
    }
    const double xr = static_cast<double>(mWidth) / w, yr = static_cast<double>(mHeight) / h;
    const double norm = 1 / xr / yr;
    sTaps xs, ys;
    for (int x = 0; x < w; ++x) coverTaps(xs, x * xr, xr, mWidth);
    for (int y = 0; y < h; ++y) coverTaps(ys, y * yr, yr, mHeight);
    _typebuf<unsigned int> out(static_cast<long long>(w) * h);
#if defined(__x86_64__)
    if (haveAvx2()) {
        scaleAvx2(mPixels, mWidth, xs, ys, w, h, norm, out.data());
        return dst->create_on(out, w, h);
    }
#endif
    for (int y = 0; y < h; ++y) {
        const sTap& ty = ys.taps[static_cast<std::size_t>(y)];
        for (int x = 0; x < w; ++x) {
            const sTap& tx = xs.taps[static_cast<std::size_t>(x)];
            double sum[4] = {0, 0, 0, 0};
            for (int qy = ty.first; qy < ty.first + ty.n; ++qy) {
                const unsigned int* row = mPixels + static_cast<long long>(ys.index[static_cast<std::size_t>(qy)]) * mWidth;
                const double wy = ys.weight[static_cast<std::size_t>(qy)];
                for (int qx = tx.first; qx < tx.first + tx.n; ++qx) {
                    const unsigned int p = row[xs.index[static_cast<std::size_t>(qx)]];
                    const double wt = xs.weight[static_cast<std::size_t>(qx)] * wy;
                    for (int c = 0; c < 4; ++c) sum[c] += channel(p, c) * wt;
                }
            }
            unsigned int o = 0;
            for (int c = 0; c < 4; ++c) o |= clampByte(sum[c] * norm) << (8 * c);
            out.data()[static_cast<long long>(y) * w + x] = o;
        }
    }
    return dst->create_on(out, w, h);
}

// ---------------------------------------------------------------------------
// Variants

bool cPicture::mkDisabled(const unsigned int* pixels, long long count, unsigned int* out) {
    if (!pixels || count <= 0 || !out) return false;
    for (long long i = 0; i < count; ++i) {
        const unsigned int p = pixels[i];
        const unsigned int g = static_cast<unsigned int>(channel(p, 0) * 0.14285714285714285 +
                                                         channel(p, 2) * 0.2857142857142857 +
                                                         channel(p, 1) * 0.5714285714285714);
        const unsigned int v = std::min(static_cast<unsigned int>(g * 0.7647058823529411) + 30u, 255u);
        out[i] = (p & 0xFF000000u) | v << 16 | v << 8 | v;
    }
    return true;
}

bool cPicture::mkActive(const unsigned int* pixels, long long count, unsigned int* out) {
    if (!pixels || count <= 0 || !out) return false;
    unsigned int curve[256];
    for (unsigned int c = 0; c < 256; ++c) {
        const double x = c * 0.00392156862745098;
        curve[c] = static_cast<unsigned int>((x * x + x + x) * 85);
    }
    for (long long i = 0; i < count; ++i) {
        const unsigned int p = pixels[i];
        out[i] = (p & 0xFF000000u) | curve[channel(p, 2)] << 16 | curve[channel(p, 1)] << 8 | curve[channel(p, 0)];
    }
    return true;
}

bool cPicture::mkDisabled(unsigned int* out) const { return consistent() && mkDisabled(mPixels, mCount, out); }
bool cPicture::mkActive(unsigned int* out) const { return consistent() && mkActive(mPixels, mCount, out); }

cPicture* cPicture::mkDisabled() const {
    if (!consistent()) return nullptr;
    cPicture* p = new cPicture;
    if (!p->create(mWidth, mHeight) || !mkDisabled(p->mPixels)) {
        delete p;
        return nullptr;
    }
    return p;
}

cPicture* cPicture::mkActive() const {
    if (!consistent()) return nullptr;
    cPicture* p = new cPicture;
    if (!p->create(mWidth, mHeight) || !mkActive(p->mPixels)) {
        delete p;
        return nullptr;
    }
    return p;
}

// ---------------------------------------------------------------------------
// cPicturesList

bool cPicturesList::storeImage(int index, const unsigned int* pixels, int w, int h, bool flip) {
    cPicture* p = new cPicture;
    if (!p->create(pixels, w, h, flip && __bmp_res_inversed)) {
        delete p;
        mImages.dettach(index);
        return false;
    }
    return storeImage(index, p);
}

bool cPicturesList::storeImage(int index, cPicture* picture) {
    if (!picture) {
        mImages.dettach(index);
        return true;
    }
    sImageRef* e = mImages.insert(index);
    e->owned = picture;
    e->shown = picture;
    return true;
}

bool cPicturesList::refImage(int index, cPicture* picture) {
    if (!picture) {
        mImages.dettach(index);
        return true;
    }
    sImageRef* e = mImages.insert(index);
    // Referencing the picture the entry owns keeps it owned.
    if (e->owned.get() != picture) e->owned = nullptr;
    e->shown = picture;
    return true;
}

cPicture* cPicturesList::image(int index) const {
    const sImageRef* e = mImages.find(index);
    return e ? e->shown : nullptr;
}

bool cPicturesList::mkDisabled(cPicturesList& out) const {
    if (&out == this) return false;
    out.destroy();
    for (auto* e = mImages.first(); e; e = mImages.next(e))
        if (e->value.shown) out.storeImage(e->key, e->value.shown->mkDisabled());
    return true;
}

bool cPicturesList::mkActive(cPicturesList& out) const {
    if (&out == this) return false;
    out.destroy();
    for (auto* e = mImages.first(); e; e = mImages.next(e))
        if (e->value.shown) out.storeImage(e->key, e->value.shown->mkActive());
    return true;
}

// ---------------------------------------------------------------------------
// cChildPicture

bool cChildPicture::refImage(cPicturesList* list, int index) {
    return refImage(list ? list->image(index) : nullptr);
}

bool cChildPicture::refImage(cPicture* picture) {
    if (mOwned != picture) {
        delete mOwned;
        mOwned = nullptr;
    }
    mShown = picture;
    return true;
}

bool cChildPicture::setImage(cPicture* picture) {
    if (mOwned != picture) delete mOwned;
    mOwned = picture;
    mShown = picture;
    return true;
}

bool cChildPicture::setImage(const unsigned int* pixels, int w, int h) {
    cPicture* p = new cPicture;
    if (!p->create(pixels, w, h, __bmp_res_inversed)) {
        delete p;
        setImage(static_cast<cPicture*>(nullptr));
        return false;
    }
    return setImage(p);
}
