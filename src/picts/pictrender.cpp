// The external render target (decoders drawing straight into a caller's
// pixels at a fitted size), the area-average scaler, and the previews.
#include "picts/pictbase.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The fitted size of w x h in tw x th for the fitting mode: s and the
// scaled sides, each at least 1.
void fitGeometry(long long w, long long h, long long tw, long long th, double& s, long long& sw, long long& sh) {
    s = std::min(static_cast<double>(tw) / static_cast<double>(w), static_cast<double>(th) / static_cast<double>(h));
    sw = static_cast<long long>(static_cast<double>(w) * s + 0.5);
    sh = static_cast<long long>(s * static_cast<double>(h) + 0.5);
    if (sw < 1) sw = 1;
    if (sh < 1) sh = 1;
}

inline unsigned int clamp255(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<unsigned int>(v);
}

}  // namespace

bool cPictBase::setExtTarget(sExtPictDef* target) {
    if (!target || !target->pixels || target->width < 1 || target->height < 1) return false;
    ext_ = target;
    return true;
}

bool cPictBase::checkNeedExtRender() {
    if (ext_ && ext_->pixels && ext_->width > 0 && ext_->height > 0 && width_ > 0 && height_ > 0) return true;
    ext_ = nullptr;
    return false;
}

// Paints the target's background around an areaW x areaH area placed at
// (extLeft_, extTop_).
void cPictBase::fillMargins(long long areaW, long long areaH) {
    const long long tw = ext_->width, th = ext_->height;
    const unsigned int bg = ext_->background;
    unsigned int* px = ext_->pixels;
    const long long top = std::max(0LL, std::min(extTop_, th));
    const long long bottom = std::max(top, std::min(extTop_ + areaH, th));
    const long long left = std::max(0LL, std::min(extLeft_, tw));
    const long long right = std::max(left, std::min(extLeft_ + areaW, tw));
    std::fill(px, px + top * tw, bg);
    for (long long y = top; y < bottom; ++y) {
        std::fill(px + y * tw, px + y * tw + left, bg);
        std::fill(px + y * tw + right, px + (y + 1) * tw, bg);
    }
    std::fill(px + bottom * tw, px + th * tw, bg);
}

bool cPictBase::startExtRender() {
    accum_.set(0);
    weights_.set(0);
    if (!ext_ || !ext_->pixels || ext_->width <= 0 || ext_->height <= 0 || width_ <= 0 || height_ <= 0) {
        ext_ = nullptr;
        return false;
    }
    const long long W = width_, H = height_, tw = ext_->width, th = ext_->height;
    spanX0_ = 0;
    spanX1_ = W - 1;
    spanY0_ = 0;
    spanY1_ = H - 1;
    scaledW_ = scaledH_ = 0;
    if (W <= tw && H <= th) {
        extTop_ = (th - H) / 2;
        extLeft_ = (tw - W) / 2;
        fillMargins(W, H);
        extScale_ = 1.0;
        ext_->originX = ext_->originY = 0;
        return true;
    }
    if (ext_->mode == sExtPictDef::mScale) {
        double s = ext_->scale;
        if (s > 1.0) s = ext_->scale = 1.0;
        if (!(s > 0.0)) {
            ext_ = nullptr;
            return false;
        }
        long long sw = static_cast<long long>(static_cast<double>(W) * s + 0.5);
        long long sh = static_cast<long long>(static_cast<double>(H) * s + 0.5);
        if (sw < 1) sw = 1;
        if (sh < 1) sh = 1;
        ext_->originX = sw <= tw ? 0 : std::max(0LL, std::min(ext_->originX, sw - tw));
        ext_->originY = sh <= th ? 0 : std::max(0LL, std::min(ext_->originY, sh - th));
        const long long vw = std::min(sw, tw), vh = std::min(sh, th);
        spanX0_ = ext_->originX;
        spanX1_ = static_cast<long long>(static_cast<double>(vw) / s + 0.5 + static_cast<double>(ext_->originX));
        spanY0_ = ext_->originY;
        spanY1_ = static_cast<long long>(static_cast<double>(vh) / s + 0.5 + static_cast<double>(ext_->originY));
        scaledW_ = vw;
        scaledH_ = vh;
        extTop_ = (th - vh) / 2;
        extLeft_ = sw < tw ? (tw - vw) / 2 : 0;
        fillMargins(vw, vh);
        extScale_ = s;
    } else if (ext_->mode == sExtPictDef::mFit) {
        double s;
        long long sw, sh;
        fitGeometry(W, H, tw, th, s, sw, sh);
        extTop_ = (th - sh) / 2;
        extLeft_ = sw < tw ? (tw - sw) / 2 : 0;
        fillMargins(sw, sh);
        const double eff = H < W ? static_cast<double>(sw) / static_cast<double>(W)
                                 : static_cast<double>(sh) / static_cast<double>(H);
        extScale_ = eff;
        ext_->originX = ext_->originY = 0;
        if (eff < 1.0) {
            scaledW_ = std::max(1LL, static_cast<long long>(static_cast<double>(W) * eff + 0.5));
            scaledH_ = std::max(1LL, static_cast<long long>(static_cast<double>(H) * eff + 0.5));
        }
    } else {
        ext_ = nullptr;
        return false;
    }
    if (extScale_ >= 1.0) return true;
    // The grid never reaches past the target: bins outside it could not be
    // painted anyway.
    scaledW_ = std::min(scaledW_, tw);
    scaledH_ = std::min(scaledH_, th);
    if (!sizeBuffer(accum_, scaledW_ * scaledH_) || !sizeBuffer(weights_, scaledW_ * scaledH_)) {
        accum_.set(0);
        weights_.set(0);
        ext_ = nullptr;
        return false;
    }
    std::memset(static_cast<void*>(accum_.data()), 0, accum_.bytes());
    std::memset(static_cast<void*>(weights_.data()), 0, weights_.bytes());
    return true;
}

bool cPictBase::canExtRender(long long x0, long long x1, long long y0, long long y1) const {
    return spanX0_ <= x1 && spanX1_ >= x0 && spanY1_ >= y0 && spanY0_ <= y1;
}

void cPictBase::addToBin(long long j, long long i, const double comps[4], double weight) {
    sColorComposFloat& a = accum_.data()[j * scaledW_ + i];
    a.b = static_cast<float>(a.b + comps[0] * weight);
    a.g = static_cast<float>(a.g + comps[1] * weight);
    a.r = static_cast<float>(a.r + comps[2] * weight);
    a.a = static_cast<float>(a.a + comps[3] * weight);
    float& w = weights_.data()[j * scaledW_ + i];
    w = static_cast<float>(w + weight);
}

// Places one pixel (or one component: componentOnly with the component's
// index) at the scaled position fx, fy.
bool cPictBase::splat(double fx, double fy, const double comps[4], bool componentOnly, int component) {
    const double s = extScale_;
    auto put = [&](long long j, long long i, double w) {
        if (i < 0 || j < 0 || i >= scaledW_ || j >= scaledH_) return;
        if (!componentOnly) {
            addToBin(j, i, comps, w);
            return;
        }
        sColorComposFloat& a = accum_.data()[j * scaledW_ + i];
        float* c = component == 0 ? &a.b : component == 1 ? &a.g : component == 2 ? &a.r : &a.a;
        *c = static_cast<float>(*c + comps[component] * w);
        // A pixel sent as four components weighs as much as one sent whole.
        if (component < 3) {
            float& wt = weights_.data()[j * scaledW_ + i];
            wt = static_cast<float>(wt + w * 0.3333333f);
        }
    };
    if (s < 0.5) {
        const double ri = fx + 0.5, rj = fy + 0.5;
        if (ri < 0 || rj < 0) return true;
        put(static_cast<long long>(rj), static_cast<long long>(ri), 1.0);
        return true;
    }
    if (fx < 0 || fy < 0 || fx >= static_cast<double>(scaledW_) || fy >= static_cast<double>(scaledH_)) return true;
    const long long i = static_cast<long long>(fx), j = static_cast<long long>(fy);
    const long long i2 = static_cast<long long>(fx + s), j2 = static_cast<long long>(fy + s);
    const bool vert = j2 != j && j2 + 1 < scaledH_;
    const bool horz = i2 != i && i2 + 1 < scaledW_;
    const double wx = static_cast<double>(i2) - fx, wy = static_cast<double>(j2) - fy;
    if (vert && horz) {
        put(j, i, wx * wy);
        put(j, i + 1, (1 - wx) * wy);
        put(j + 1, i, wx * (1 - wy));
        put(j + 1, i + 1, (1 - wy) * (1 - wx));
    } else if (vert) {
        put(j, i, wy);
        put(j + 1, i, 1 - wy);
    } else if (horz) {
        put(j, i, wx);
        put(j, i + 1, 1 - wx);
    } else {
        put(j, i, 1.0);
    }
    return true;
}

bool cPictBase::setExtPix(long long x, long long y, unsigned int pixel) {
    if (!ext_) return false;
    if (extScale_ >= 1.0) {
        // Pixels outside the picture would land on the margins: dropped.
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return true;
        const long long tx = extLeft_ + x - ext_->originX, ty = extTop_ + y - ext_->originY;
        if (tx >= 0 && ty >= 0 && tx < ext_->width && ty < ext_->height) ext_->pixels[ty * ext_->width + tx] = pixel;
        return true;
    }
    if (!accum_.data()) return false;
    const double comps[4] = {static_cast<double>(pixel & 0xFF), static_cast<double>((pixel >> 8) & 0xFF),
                             static_cast<double>((pixel >> 16) & 0xFF), static_cast<double>(pixel >> 24)};
    return splat(static_cast<double>(x - ext_->originX) * extScale_, static_cast<double>(y - ext_->originY) * extScale_,
                 comps, false, 0);
}

bool cPictBase::setExtRow(long long y, const unsigned int* line, long long n, long long x0, long long step) {
    if (!ext_) return false;
    if (extScale_ >= 1.0) {
        if (y < 0 || y >= height_) return true;
        const long long ty = extTop_ + y - ext_->originY;
        if (ty < 0 || ty >= ext_->height) return true;
        unsigned int* row = ext_->pixels + ty * ext_->width;
        for (long long i = 0; i < n; ++i) {
            const long long x = x0 + i * step;
            if (x < 0 || x >= width_) continue;
            const long long tx = extLeft_ + x - ext_->originX;
            if (tx >= 0 && tx < ext_->width) row[tx] = line[i];
        }
        return true;
    }
    if (!accum_.data()) return false;
    if (extScale_ >= 0.5) {
        for (long long i = 0; i < n; ++i) setExtPix(x0 + i * step, y, line[i]);
        return true;
    }
    // Nearest bin: the row's bin row once, the columns one by one.
    const double rj = static_cast<double>(y - ext_->originY) * extScale_ + 0.5;
    if (rj < 0) return true;
    const long long j = static_cast<long long>(rj);
    if (j >= scaledH_) return true;
    sColorComposFloat* binRow = accum_.data() + j * scaledW_;
    float* wRow = weights_.data() + j * scaledW_;
    // Neighbouring pixels share a bin: their components are summed as
    // integers and added to the bin once per run.
    long long runBin = -1;
    unsigned long long lo = 0, hi = 0, count = 0;  // B|R and G|A in 32-bit lanes
    auto flush = [&]() {
        if (runBin < 0) return;
        sColorComposFloat& a = binRow[runBin];
        a.b = static_cast<float>(a.b + static_cast<double>(lo & 0xFFFFFFFF));
        a.g = static_cast<float>(a.g + static_cast<double>(hi & 0xFFFFFFFF));
        a.r = static_cast<float>(a.r + static_cast<double>(lo >> 32));
        a.a = static_cast<float>(a.a + static_cast<double>(hi >> 32));
        wRow[runBin] = static_cast<float>(wRow[runBin] + static_cast<double>(count));
        lo = hi = count = 0;
    };
    // The bin of pixel k, -1 outside the grid: the rule setExtPix follows.
    const double s = extScale_;
    const long long ox = ext_->originX;
    auto binOf = [&](long long k) -> long long {
        const double ri = static_cast<double>(x0 + k * step - ox) * s + 0.5;
        if (ri < 0) return -1;
        const long long i = static_cast<long long>(ri);
        return i < scaledW_ ? i : -1;
    };
    long long k = 0;
    while (k < n) {
        const long long i = binOf(k);
        // The run of pixels sharing this bin: its end estimated from the
        // bin's edge, then settled against binOf itself.
        long long e = k + 1;
        if (s > 0) {
            const double edge = ((static_cast<double>(i < 0 ? 0 : i) + 0.5) / s + static_cast<double>(ox - x0)) / static_cast<double>(step);
            if (edge > static_cast<double>(k + 1) && edge < static_cast<double>(n)) e = static_cast<long long>(edge);
            else if (edge >= static_cast<double>(n)) e = n;
        }
        while (e > k + 1 && binOf(e - 1) != i) --e;
        while (e < n && binOf(e) == i) ++e;
        if (i >= 0) {
            if (i != runBin) {
                flush();
                runBin = i;
            }
            for (long long q = k; q < e; ++q) {
                const unsigned long long p = line[q];
                lo += (p & 0xFF) | (p & 0xFF0000) << 16;
                hi += ((p >> 8) & 0xFF) | (p & 0xFF000000) << 8;
            }
            count += static_cast<unsigned long long>(e - k);
        }
        k = e;
    }
    flush();
    return true;
}

bool cPictBase::setExtPix16(long long x, long long y, unsigned long long pixel) {
    return setExtPix(x, y, to8Bpp(pixel));
}

bool cPictBase::setExtComp(long long x, long long y, unsigned char value, int component) {
    if (!ext_) return false;
    if (component < 0 || component > 3) return true;
    if (extScale_ >= 1.0) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return true;
        const long long tx = extLeft_ + x - ext_->originX, ty = extTop_ + y - ext_->originY;
        if (tx >= 0 && ty >= 0 && tx < ext_->width && ty < ext_->height)
            ext_->pixels[ty * ext_->width + tx] |= static_cast<unsigned int>(value) << (8 * component);
        return true;
    }
    if (!accum_.data()) return false;
    double comps[4] = {0, 0, 0, 0};
    comps[component] = value;
    return splat(static_cast<double>(x) * extScale_ - static_cast<double>(ext_->originX),
                 static_cast<double>(y) * extScale_ - static_cast<double>(ext_->originY), comps, true, component);
}

bool cPictBase::setExtComp16(long long x, long long y, unsigned short value, int component) {
    const double v = static_cast<double>(static_cast<long long>(value) + base16_) * (1.0 / scale16_);
    return setExtComp(x, y, static_cast<unsigned char>(clamp255(v)), component);
}

void cPictBase::endExtRender() {
    if (ext_ && extScale_ < 1.0 && accum_.data()) {
        const unsigned int bg = ext_->background;
        for (long long j = 0; j < scaledH_; ++j) {
            const long long ty = extTop_ + j;
            if (ty < 0 || ty >= ext_->height) continue;
            unsigned int* row = ext_->pixels + ty * ext_->width;
            for (long long i = 0; i < scaledW_; ++i) {
                const long long tx = extLeft_ + i;
                if (tx < 0 || tx >= ext_->width) continue;
                const float w = weights_.data()[j * scaledW_ + i];
                if (w == 0.0f) {
                    // A bin no pixel reached (a decode that stopped early)
                    // shows the background, as the margins do.
                    row[tx] = bg;
                    continue;
                }
                const sColorComposFloat& a = accum_.data()[j * scaledW_ + i];
                const double inv = 1.0 / static_cast<double>(w);
                row[tx] = clamp255(a.b * inv + 0.5) | clamp255(a.g * inv + 0.5) << 8 | clamp255(a.r * inv + 0.5) << 16 |
                          clamp255(a.a * inv + 0.5) << 24;
            }
        }
    }
    accum_.set(0);
    weights_.set(0);
    ext_ = nullptr;
}

// ---------------------------------------------------------------------------
// Copying a decoded picture into a target

namespace {

inline unsigned int conv16(unsigned long long p, double inv, int base, bool fast) {
    unsigned int out = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned int c = static_cast<unsigned int>((p >> (16 * k)) & 0xFFFF) + static_cast<unsigned int>(base);
        unsigned int v = fast ? (c >> 8) : clamp255(static_cast<double>(c) * inv);
        if (v > 255) v = 255;
        out |= v << (8 * k);
    }
    return out;
}

// The contribution of one source pixel to the sums, with its weight.
inline void addPix(unsigned int p, double w, double* c) {
    c[0] += (p & 0xFF) * w;
    c[1] += ((p >> 8) & 0xFF) * w;
    c[2] += ((p >> 16) & 0xFF) * w;
    c[3] += (p >> 24) * w;
}
inline void addPix(unsigned long long p, double w, double* c) {
    // 16-bit components enter the sums at 1/256.
    const double k = w * 0.00390625;
    c[0] += static_cast<double>(p & 0xFFFF) * k;
    c[1] += static_cast<double>((p >> 16) & 0xFFFF) * k;
    c[2] += static_cast<double>((p >> 32) & 0xFFFF) * k;
    c[3] += static_cast<double>((p >> 48) & 0xFFFF) * k;
}

// The components of pixels [from, to) summed exactly, added to c (16-bit
// components at 1/256, as addPix weighs them).
inline void wholeSum(const unsigned int* row, long long from, long long to, double* c) {
    unsigned long long lo = 0, hi = 0;  // B and R, G and A in two 32-bit lanes each
    for (long long i = from; i < to; ++i) {
        const unsigned long long p = row[i];
        lo += (p & 0xFF) | (p & 0xFF0000) << 16;
        hi += ((p >> 8) & 0xFF) | (p & 0xFF000000) << 8;
    }
    c[0] += static_cast<double>(lo & 0xFFFFFFFF);
    c[1] += static_cast<double>(hi & 0xFFFFFFFF);
    c[2] += static_cast<double>(lo >> 32);
    c[3] += static_cast<double>(hi >> 32);
}
inline void wholeSum(const unsigned long long* row, long long from, long long to, double* c) {
    unsigned long long s[4] = {0, 0, 0, 0};
    for (long long i = from; i < to; ++i)
        for (int k = 0; k < 4; ++k) s[k] += (row[i] >> (16 * k)) & 0xFFFF;
    for (int k = 0; k < 4; ++k) c[k] += static_cast<double>(s[k]) * 0.00390625;
}

// One span [s, s + r) of a line of n pixels: the first (partial) pixel, the
// whole ones, and the last (partial) one.
struct sSpan {
    long long first = 0;   // index of the first pixel, -1 when none is partial
    double firstW = 0;
    long long wholeFrom = 0, wholeTo = 0;  // [from, to) with weight 1
    long long last = -1;
    double lastW = 0;
    double total = 0;
};

sSpan makeSpan(double s, double r, long long n, double lastThreshold) {
    sSpan sp;
    double e = s + r;
    if (e > static_cast<double>(n)) e = static_cast<double>(n);
    long long a = static_cast<long long>(s);
    if (a >= n) {
        // A span past the end (rounding at the last column) repeats the
        // last pixel rather than dividing by nothing.
        sp.first = -1;
        sp.wholeFrom = n - 1;
        sp.wholeTo = n;
        sp.total = 1;
        return sp;
    }
    sp.first = -1;
    if (s != static_cast<double>(a)) {
        sp.first = a;
        sp.firstW = 1.0 - s + static_cast<double>(a);
        sp.total += sp.firstW;
        ++a;
    }
    const long long b = static_cast<long long>(e);
    sp.wholeFrom = a;
    sp.wholeTo = std::max(a, b);
    sp.total += static_cast<double>(sp.wholeTo - sp.wholeFrom);
    const double frac = e - static_cast<double>(b);
    if (frac > lastThreshold && b < n && b >= a) {
        sp.last = b;
        sp.lastW = frac;
        sp.total += frac;
    }
    if (sp.total <= 0) {
        sp.first = -1;
        sp.wholeFrom = std::min(static_cast<long long>(s), n - 1);
        sp.wholeTo = sp.wholeFrom + 1;
        sp.last = -1;
        sp.total = 1;
    }
    return sp;
}

}  // namespace

template <typename P>
void cPictBase::doScale(const P* src, long long sw, long long sh, long long srcStride, unsigned int* dst,
                        long long dw, long long dh, long long stride, double r) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    // Column spans, with sx growing by r per column.
    std::vector<sSpan> cols(static_cast<std::size_t>(dw));
    {
        double sx = 0.0;
        for (long long x = 0; x < dw; ++x, sx += r) {
            if (dw == sw) {
                sSpan sp;
                sp.first = -1;
                sp.wholeFrom = x;
                sp.wholeTo = x + 1;
                sp.total = 1;
                cols[static_cast<std::size_t>(x)] = sp;
            } else {
                cols[static_cast<std::size_t>(x)] = makeSpan(sx, r, sw, 0.01);
            }
        }
    }
    std::vector<double> rowVals(static_cast<std::size_t>(dw) * 4);
    std::vector<double> acc(static_cast<std::size_t>(dw) * 4);
    // The averages of one source row over every column span.
    auto rowValues = [&](long long k) {
        const P* row = src + k * srcStride;
        for (long long x = 0; x < dw; ++x) {
            const sSpan& sp = cols[static_cast<std::size_t>(x)];
            // Whole pixels are summed as integers (exact), the partial ones
            // with their weights.
            double c[4] = {0, 0, 0, 0};
            wholeSum(row, sp.wholeFrom, sp.wholeTo, c);
            if (sp.first >= 0) addPix(row[sp.first], sp.firstW, c);
            if (sp.last >= 0) addPix(row[sp.last], sp.lastW, c);
            double* out = &rowVals[static_cast<std::size_t>(x) * 4];
            if (sp.total == 1.0) {
                out[0] = c[0], out[1] = c[1], out[2] = c[2], out[3] = c[3];
            } else {
                const double inv = sp.total;
                out[0] = c[0] / inv, out[1] = c[1] / inv, out[2] = c[2] / inv, out[3] = c[3] / inv;
            }
        }
    };
    if (dh == sh) {
        for (long long y = 0; y < dh; ++y) {
            rowValues(y);
            unsigned int* d = dst + y * stride;
            for (long long x = 0; x < dw; ++x) {
                const double* v = &rowVals[static_cast<std::size_t>(x) * 4];
                d[x] = clamp255(v[0] + 0.5) | clamp255(v[1] + 0.5) << 8 | clamp255(v[2] + 0.5) << 16 |
                       clamp255(v[3] + 0.5) << 24;
            }
        }
        return;
    }
    double sy = 0.0;
    for (long long y = 0; y < dh; ++y, sy += r) {
        const sSpan sp = makeSpan(sy, r, sh, 0.0);
        std::fill(acc.begin(), acc.end(), 0.0);
        auto addRow = [&](long long k, double w) {
            rowValues(k);
            for (std::size_t i = 0; i < acc.size(); ++i) acc[i] += rowVals[i] * w;
        };
        if (sp.first >= 0) addRow(sp.first, sp.firstW);
        for (long long k = sp.wholeFrom; k < sp.wholeTo; ++k) addRow(k, 1.0);
        if (sp.last >= 0) addRow(sp.last, sp.lastW);
        unsigned int* d = dst + y * stride;
        for (long long x = 0; x < dw; ++x) {
            const double* v = &acc[static_cast<std::size_t>(x) * 4];
            d[x] = clamp255(v[0] / sp.total) | clamp255(v[1] / sp.total) << 8 | clamp255(v[2] / sp.total) << 16 |
                   clamp255(v[3] / sp.total) << 24;
        }
    }
}

template void cPictBase::doScale<unsigned int>(const unsigned int*, long long, long long, long long, unsigned int*,
                                               long long, long long, long long, double);
template void cPictBase::doScale<unsigned long long>(const unsigned long long*, long long, long long, long long,
                                                     unsigned int*, long long, long long, long long, double);

// Copies the w x h window at (x0, y0) of the picture into the target at
// (extLeft_, extTop_).
template <typename P>
bool cPictBase::copyRowsToTarget(const P* src, long long srcStride, long long x0, long long y0, long long w,
                                 long long h) {
    const long long tw = ext_->width;
    const double inv = 1.0 / scale16_;
    const bool fast = scale16_ == 256.0;
    for (long long y = 0; y < h; ++y) {
        const long long ty = extTop_ + y;
        if (ty < 0 || ty >= ext_->height) continue;
        const P* s = src + (y0 + y) * srcStride + x0;
        unsigned int* d = ext_->pixels + ty * tw + extLeft_;
        const long long n = std::min(w, tw - extLeft_);
        for (long long x = 0; x < n; ++x) {
            if (sizeof(P) == 4)
                d[x] = static_cast<unsigned int>(s[x]);
            else
                d[x] = conv16(static_cast<unsigned long long>(s[x]), inv, base16_, fast);
        }
    }
    return true;
}

bool cPictBase::toExtTarget(sExtPictDef* t) {
    if (!t || !t->pixels || t->width < 1 || t->height < 1) return false;
    const bool wide = is16Bpp_;
    if (wide ? !pixels16_.data() : !pixels8_.data()) return false;
    if (width_ <= 0 || height_ <= 0) return false;
    sExtPictDef* saved = ext_;
    ext_ = t;
    const long long W = width_, H = height_, tw = t->width, th = t->height;
    bool ok = true;
    auto copy = [&](long long x0, long long y0, long long w, long long h) {
        return wide ? copyRowsToTarget(pixels16_.data(), W, x0, y0, w, h)
                    : copyRowsToTarget(pixels8_.data(), W, x0, y0, w, h);
    };
    auto scale = [&](long long x0, long long y0, long long dw, long long dh, double r) {
        unsigned int* d = t->pixels + extTop_ * tw + extLeft_;
        if (wide)
            doScale(pixels16_.data() + y0 * W + x0, W - x0, H - y0, W, d, dw, dh, tw, r);
        else
            doScale(pixels8_.data() + y0 * W + x0, W - x0, H - y0, W, d, dw, dh, tw, r);
    };
    if (W <= tw && H <= th) {
        extTop_ = (th - H) / 2;
        extLeft_ = (tw - W) / 2;
        fillMargins(W, H);
        ok = copy(0, 0, W, H);
    } else if (t->mode == sExtPictDef::mScale) {
        double s = t->scale;
        if (s > 1.0) s = t->scale = 1.0;
        if (!(s > 0.0)) {
            ok = false;
        } else {
            long long sw = std::max(1LL, static_cast<long long>(static_cast<double>(W) * s + 0.5));
            long long sh = std::max(1LL, static_cast<long long>(static_cast<double>(H) * s + 0.5));
            t->originX = sw <= tw ? 0 : std::max(0LL, std::min(t->originX, sw - tw));
            t->originY = sh <= th ? 0 : std::max(0LL, std::min(t->originY, sh - th));
            const long long vw = std::min(sw, tw), vh = std::min(sh, th);
            extTop_ = (th - vh) / 2;
            extLeft_ = sw < tw ? (tw - vw) / 2 : 0;
            fillMargins(vw, vh);
            if (s >= 1.0) {
                ok = copy(t->originX, t->originY, vw, vh);
            } else {
                // The origin counts scaled pixels; the source window starts
                // at its unscaled position.
                const long long x0 = std::min(W - 1, static_cast<long long>(static_cast<double>(t->originX) / s));
                const long long y0 = std::min(H - 1, static_cast<long long>(static_cast<double>(t->originY) / s));
                scale(x0, y0, vw, vh, 1.0 / s);
            }
        }
    } else if (t->mode == sExtPictDef::mFit) {
        double s;
        long long sw, sh;
        fitGeometry(W, H, tw, th, s, sw, sh);
        extTop_ = (th - sh) / 2;
        extLeft_ = sw < tw ? (tw - sw) / 2 : 0;
        t->originX = t->originY = 0;
        fillMargins(sw, sh);
        const double r = H < W ? static_cast<double>(W) / static_cast<double>(sw)
                               : static_cast<double>(H) / static_cast<double>(sh);
        scale(0, 0, std::min(sw, tw), std::min(sh, th), r);
    } else {
        ok = false;
    }
    ext_ = saved;
    return ok;
}

// ---------------------------------------------------------------------------
// Previews

bool cPictBase::fitSize(long long w, long long h, long long maxW, long long maxH, long long& fw, long long& fh) {
    if (w <= 0 || h <= 0) return false;
    double s = 1.0;
    if (maxW > 0) s = std::min(s, static_cast<double>(maxW) / static_cast<double>(w));
    if (maxH > 0) s = std::min(s, static_cast<double>(maxH) / static_cast<double>(h));
    if (s >= 1.0) {
        fw = w;
        fh = h;
        return true;
    }
    fw = std::max(1LL, static_cast<long long>(static_cast<double>(w) * s + 0.5));
    fh = std::max(1LL, static_cast<long long>(static_cast<double>(h) * s + 0.5));
    return true;
}

int cPictBase::getPreviewFor(cPictBase* pict, sPictInfo& info, cFileIOTarget* stream, cPictDummy& dst, long long maxW,
                             long long maxH, bool allowDecode, unsigned int background) {
    if (!pict || !stream || maxW <= 0 || maxH <= 0) return frBadArgument;
    long long pw = 0, ph = 0;
    if (!fitSize(info.width, info.height, maxW, maxH, pw, ph)) return frBadArgument;
    if (info.hasPreview) {
        cPictDummy tmp;
        if (pict->getPreview(stream, tmp, &pw, &ph) && tmp.width() > 0 && tmp.height() > 0) {
            if (tmp.width() <= maxW && tmp.height() <= maxH) {
                tmp.moveTo(dst);
                return frOk;
            }
            long long fw = 0, fh = 0;
            if (!fitSize(tmp.width(), tmp.height(), maxW, maxH, fw, fh)) return frBadArgument;
            if (!dst.create(fw, fh, 0)) return frConversionFailed;
            sExtPictDef target(&dst);
            target.background = background;
            return tmp.toExtTarget(&target) ? frOk : frConversionFailed;
        }
    }
    if (!allowDecode) return frNoPreview;
    if (!dst.create(pw, ph, 0)) return frConversionFailed;
    sExtPictDef target(&dst);
    target.background = background;
    stream->set_fp(0);
    if (pict->supportsExtRendering() && pict->setExtTarget(&target)) {
        const bool ok = pict->decode(stream);
        pict->endExtRender();
        if (!ok) return frDecodeFailed;
        // A decoder that could not start rendering filled its own buffer.
        const bool own = pict->is16Bpp() ? pict->raw16Bpp() != nullptr : pict->raw8Bpp() != nullptr;
        if (own) return pict->toExtTarget(&target) ? frOk : frConversionFailed;
        return frOk;
    }
    if (!pict->decode(stream)) return frDecodeFailed;
    return pict->toExtTarget(&target) ? frOk : frConversionFailed;
}

bool cPictBase::imgToPreview(cPictBase& pict, cPictDummy& dst, long long maxW, long long maxH,
                             unsigned int background) {
    if (pict.width() <= 0 || pict.height() <= 0 || !pict.raw8Bpp() || maxW <= 0 || maxH <= 0) return false;
    if (pict.width() <= maxW && pict.height() <= maxH) {
        pict.moveTo(dst);
        return true;
    }
    long long fw = 0, fh = 0;
    if (!fitSize(pict.width(), pict.height(), maxW, maxH, fw, fh)) return false;
    if (!dst.create(fw, fh, 0)) return false;
    sExtPictDef target(&dst);
    target.background = background;
    if (!pict.toExtTarget(&target)) return false;
    pict.close();
    return true;
}
