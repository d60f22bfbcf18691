// UI pictures against Pillow and NumPy run on the same pixels: Pillow for
// the geometric operations (rotation, flip, crop) and Python's zlib and
// struct for packed images; NumPy carries its own implementation of each
// arithmetic rule (alpha mixing, the stretch and area-average weights, the
// disabled and active colour curves).
// qor-test-narrow-cpu: Picture.StretchAndScaling*
#include "uitoolkit/picture.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kOracle[] = R"PY(
import sys, struct, zlib
import numpy as np
from PIL import Image

mode, out = sys.argv[1], sys.argv[2]
ins, args = [], []
for a in sys.argv[3:]:
    if a.startswith('img:'):
        _, p, w, h = a.split(':')
        ins.append(np.fromfile(p, dtype='<u4').reshape(int(h), int(w)))
    else:
        args.append(int(a))

def ch(a):  # blue, green, red, alpha as doubles
    return [((a >> np.uint32(8 * k)) & np.uint32(255)).astype(np.float64) for k in range(4)]

def join(cs):
    r = np.zeros(cs[0].shape, dtype=np.uint32)
    for k, c in enumerate(cs):
        c = np.trunc(c)
        assert c.min() >= 0 and c.max() <= 255, 'channel out of range'
        r |= c.astype(np.uint32) << np.uint32(8 * k)
    return r

def pil(a):
    return Image.frombytes('RGBA', (a.shape[1], a.shape[0]), a.astype('<u4').tobytes(), 'raw', 'BGRA')

def unpil(im):
    return np.frombuffer(im.tobytes('raw', 'BGRA'), dtype='<u4').reshape(im.size[1], im.size[0])

def clip(x, y, w, h, W, H):
    return max(x, 0), max(y, 0), min(x + w, W), min(y + h, H)

# The one-dimensional stretch rule along the rows of a.
def hs(a, nw):
    rows, w = a.shape
    if w == nw:
        return a.copy()
    c = ch(a)
    o = [np.zeros((rows, nw)) for _ in range(4)]
    r = w / nw
    if w > nw:
        s = 0.0
        for k in range(nw):
            e = min(s + r, float(w))
            i0, i1 = int(s), int(e)
            taps = []
            if s != i0:
                taps.append((i0, 1 - (s - i0)))
                start = i0 + 1
            else:
                start = i0
            taps += [(j, 1.0) for j in range(start, i1)]
            if e > i1:
                taps.append((i1, e - i1))
            for q in range(4):
                acc, wsum = np.zeros(rows), 0.0
                for i, wt in taps:
                    acc = acc + c[q][:, i] * wt
                    wsum += wt
                o[q][:, k] = np.trunc(acc / wsum)
            s += r
    else:
        p = 0.0
        for k in range(nw):
            i = int(p)
            f = p - i
            for q in range(4):
                if f != 0.5 and f < 0.5 and i > 0:
                    o[q][:, k] = np.trunc(c[q][:, i - 1] * (1 - (f + 0.5)) + c[q][:, i] * (f + 0.5))
                elif f != 0.5 and f > 0.5 and i < w - 1:
                    o[q][:, k] = np.trunc(c[q][:, i] * (1.5 - f) + c[q][:, i + 1] * (1 - (1.5 - f)))
                else:
                    o[q][:, k] = c[q][:, i]
            p += r
    return join(o)

def cover(s, r, n):
    e, taps, i, first = s + r, [], int(s), True
    while i < n:
        w = 1 - (s - i) if first else 1.0
        if i + 1 > e:
            w -= (i + 1) - e
        taps.append((i, w))
        if i + 1 >= e - 1e-7:
            break
        i, first = i + 1, False
    return taps

if mode == 'pack':
    a = ins[0]
    H, W = a.shape
    open(out, 'wb').write(struct.pack('<ii', W, H) + zlib.compress(a[::-1].astype('<u4').tobytes(), args[0]))
    sys.exit(0)
elif mode == 'rotate':
    t = {90: Image.Transpose.ROTATE_90, 180: Image.Transpose.ROTATE_180, 270: Image.Transpose.ROTATE_270}[args[0]]
    r = unpil(pil(ins[0]).transpose(t))
elif mode == 'flip':
    r = unpil(pil(ins[0]).transpose(Image.Transpose.FLIP_TOP_BOTTOM))
elif mode == 'crop':
    H, W = ins[0].shape
    box = clip(*args, W, H)
    r = unpil(pil(ins[0]).crop(box))
    print(*box)
elif mode == 'blt':
    d, s = ins[0].copy(), ins[1]
    x, y, w, h, flag = args
    H, W = d.shape
    sh, sw = s.shape
    w = sw if w == 0 else min(w, sw)
    h = sh if h == 0 else min(h, sh)
    x0, y0, x1, y1 = clip(x, y, w, h, W, H)
    if x1 > x0 and y1 > y0:
        D, S = d[y0:y1, x0:x1], s[y0 - y:y1 - y, x0 - x:x1 - x]
        sa = S >> np.uint32(24)
        a = sa * 0.00390625
        ia = 1 - a
        dc, sc = ch(D), ch(S)
        mixed = [dc[k] * ia + sc[k] * a for k in range(3)]
        al = sa.astype(np.float64) if flag else ia * dc[3] + a * sc[3]
        d[y0:y1, x0:x1] = np.where(sa == 0, D, np.where(sa == 255, S, join(mixed + [al])))
    r = d
elif mode == 'blend':
    s, d = ins[0], ins[1].copy()
    x, y = args
    H, W = d.shape
    sh, sw = s.shape
    x0, y0, x1, y1 = clip(x, y, sw, sh, W, H)
    if x1 > x0 and y1 > y0:
        D, S = d[y0:y1, x0:x1], s[y0 - y:y1 - y, x0 - x:x1 - x]
        a = (S >> np.uint32(24)) / 255.0
        ia = 1 - a
        dc, sc = ch(D), ch(S)
        d[y0:y1, x0:x1] = join([sc[k] * a + dc[k] * ia for k in range(3)] + [dc[3]])
    r = d
elif mode == 'stretch':
    r = hs(hs(ins[0], args[0]).T, args[1]).T
elif mode == 'scaling':
    a = ins[0]
    H, W = a.shape
    nw, nh = args
    xr, yr = W / nw, H / nh
    norm = 1 / xr / yr
    c = np.stack(ch(a), axis=-1)
    o = np.zeros((nh, nw, 4))
    for y in range(nh):
        ty = cover(y * yr, yr, H)
        for x in range(nw):
            tx = cover(x * xr, xr, W)
            s = np.zeros(4)
            for yi, wy in ty:
                for xi, wx in tx:
                    s = s + c[yi, xi] * (wx * wy)
            o[y, x] = np.trunc(s * norm)
    r = join([o[:, :, k] for k in range(4)])
elif mode == 'disabled':
    b, g, rr, al = ch(ins[0])
    gg = np.trunc(b * 0.14285714285714285 + rr * 0.2857142857142857 + g * 0.5714285714285714)
    v = np.minimum(np.trunc(gg * 0.7647058823529411) + 30, 255)
    r = join([v, v, v, al])
elif mode == 'active':
    cs = ch(ins[0])
    def curve(c):
        x = c * 0.00392156862745098
        return np.trunc((x * x + x + x) * 85)
    r = join([curve(cs[0]), curve(cs[1]), curve(cs[2]), cs[3]])
np.ascontiguousarray(r, dtype='<u4').tofile(out)
print(r.shape[1], r.shape[0])
)PY";

struct Img {
    int w = 0, h = 0;
    std::vector<std::uint32_t> px;
    bool operator==(const Img& o) const { return w == o.w && h == o.h && px == o.px; }
};

// Random pixels whose alpha is 0, 255 or anything, a third each.
Img randomImg(int w, int h, std::uint64_t seed) {
    Img im{w, h, {}};
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (int i = 0; i < w * h; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::uint32_t p = static_cast<std::uint32_t>(x >> 11);
        const int kind = static_cast<int>((x >> 5) % 3);
        if (kind == 0) p &= 0x00FFFFFFu;
        if (kind == 1) p |= 0xFF000000u;
        im.px.push_back(p);
    }
    return im;
}

Img of(const cPicture& p) {
    Img im{p.width(), p.height(), {}};
    if (p.raw()) im.px.assign(p.raw(), p.raw() + p.count());
    return im;
}

bool load(cPicture& p, const Img& im) { return p.create(im.px.data(), im.w, im.h, false); }

std::ostream& operator<<(std::ostream& os, const Img& im) { return os << im.w << "x" << im.h; }

class Oracle {
public:
    // The picture Python makes with `mode` from the images and numbers;
    // `printed` gets what it prints.
    Img run(const std::string& mode, const std::vector<Img>& in, const std::vector<int>& nums, std::string* printed = nullptr) {
        std::string args = "'" + dir_.file("out.bin") + "'";
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::string f = dir_.file("in" + std::to_string(i) + ".bin");
            qortest::writeFile(f, std::string(reinterpret_cast<const char*>(in[i].px.data()), in[i].px.size() * 4));
            args += " 'img:" + f + ":" + std::to_string(in[i].w) + ":" + std::to_string(in[i].h) + "'";
        }
        for (int n : nums) args += " " + std::to_string(n);
        int status = 0;
        const std::string out = qortest::runPython(kOracle, mode + " " + args, &status);
        EXPECT_EQ(status, 0) << out;
        if (printed) *printed = out;
        Img r;
        std::istringstream lines(out);
        std::string last, line;
        while (std::getline(lines, line))
            if (!line.empty()) last = line;
        std::istringstream(last) >> r.w >> r.h;
        const std::string bytes = qortest::readFile(dir_.file("out.bin"));
        r.px.resize(bytes.size() / 4);
        std::memcpy(r.px.data(), bytes.data(), r.px.size() * 4);
        return r;
    }
    std::string packed(const Img& im, int level) {
        run("pack", {im}, {level});
        return qortest::readFile(dir_.file("out.bin"));
    }

private:
    qortest::TempDir dir_;
};

TEST(Picture, PackedImagesDecodeToThePixelsPythonPacked) {
    Oracle py;
    for (auto wh : {std::pair<int, int>{1, 1}, {2, 1}, {1, 2}, {37, 23}, {64, 64}, {300, 7}, {65536, 1}}) {
        const Img im = randomImg(wh.first, wh.second, static_cast<std::uint64_t>(wh.first * 131 + wh.second));
        const std::string packed = py.packed(im, wh.first % 10);
        cPicture p;
        ASSERT_TRUE(p.create(packed.data(), static_cast<long long>(packed.size()))) << im;
        EXPECT_EQ(of(p), im);
    }
}

// Sides outside 1..65536, areas past the limit, streams cut short, holding
// more or fewer pixels than the sides say, or damaged: all refused.
TEST(Picture, MalformedPackedImagesAreRefused) {
    const std::string dir = qortest::dataPath("packedimage/malformed");
    const std::vector<std::string> kept = {"bad-checksum", "cut-stream", "header-only", "huge-area",
                                           "long-stream",  "negative-height", "not-zlib", "short-stream",
                                           "too-high",     "too-short", "too-wide", "zero-width"};
    EXPECT_TRUE(qortest::holdsInputs(dir, kept));
    for (const std::string& f : kept) {
        const std::string bytes = qortest::readFile(dir + "/" + f);
        cPicture p;
        EXPECT_FALSE(p.create(bytes.data(), static_cast<long long>(bytes.size()))) << f;
        EXPECT_TRUE(p.empty()) << f;
    }
    cPicture p;
    EXPECT_FALSE(p.create(static_cast<const void*>(nullptr), 100));
}

TEST(Picture, CreateKeepsPixelsOnlyWhenTheCountStays) {
    cPicture p;
    ASSERT_TRUE(p.create(0x11223344u, 2, 3));
    ASSERT_TRUE(p.create(3, 2));
    EXPECT_EQ(of(p), (Img{3, 2, std::vector<std::uint32_t>(6, 0x11223344u)}));
    ASSERT_TRUE(p.create(3, 3));
    EXPECT_EQ(of(p), (Img{3, 3, std::vector<std::uint32_t>(9, 0)}));
    EXPECT_FALSE(p.create(0, 3));
    EXPECT_FALSE(p.create(-2, -3));
    EXPECT_FALSE(p.create(65536, 65536));

    // create_on takes a buffer only when it holds exactly w x h pixels.
    _typebuf<unsigned int> buf(6);
    EXPECT_FALSE(p.create_on(buf, 4, 2));
    EXPECT_FALSE(p.create_on(buf, -2, -3));
    EXPECT_EQ(buf.count(), 6);
    EXPECT_EQ(p.width(), 3);
    for (int i = 0; i < 6; ++i) buf[i] = static_cast<unsigned int>(i);
    ASSERT_TRUE(p.create_on(buf, 2, 3));
    EXPECT_TRUE(buf.empty());
    int w = 0, h = 0;
    ASSERT_TRUE(p.moveTo(buf, w, h));
    EXPECT_TRUE(p.empty());
    EXPECT_EQ(std::vector<unsigned int>(buf.begin(), buf.end()), (std::vector<unsigned int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(w * 10 + h, 23);
}

TEST(Picture, RotateFlipAndCropMatchPillow) {
    Oracle py;
    const Img im = randomImg(13, 7, 9);
    for (int angle : {90, 180, 270}) {
        cPicture p;
        ASSERT_TRUE(load(p, im));
        ASSERT_TRUE(p.rotate(angle));
        EXPECT_EQ(of(p), py.run("rotate", {im}, {angle})) << angle;
    }
    cPicture p;
    ASSERT_TRUE(load(p, im));
    EXPECT_FALSE(p.rotate(45));
    EXPECT_EQ(of(p), im);
    ASSERT_TRUE(p.flip());
    EXPECT_EQ(of(p), py.run("flip", {im}, {}));

    ASSERT_TRUE(load(p, im));
    const std::vector<std::vector<int>> rects = {{-5, 0, 10, 7}, {2, 1, 4, 3}, {10, 5, 20, 20}, {-3, -2, 30, 30}, {0, 6, 13, 1}};
    for (const auto& r : rects) {
        sRect rect{r[0], r[1], r[2], r[3]};
        cPicture out;
        ASSERT_TRUE(p.subPictTo(rect, &out));
        std::string box;
        EXPECT_EQ(of(out), py.run("crop", {im}, r, &box));
        std::istringstream b(box);
        int x0, y0, x1, y1;
        b >> x0 >> y0 >> x1 >> y1;
        EXPECT_EQ((std::vector<int>{rect.x, rect.y, rect.w, rect.h}), (std::vector<int>{x0, y0, x1 - x0, y1 - y0}));
    }
    for (sRect r : {sRect{13, 0, 2, 2}, sRect{-4, 0, 4, 2}, sRect{0, 0, 0, 2}, sRect{0, -9, 3, 9}}) {
        cPicture out;
        EXPECT_FALSE(p.subPictTo(r, &out));
    }
}

TEST(Picture, BltAndBlendMixAlphaAsNumPyDoes) {
    Oracle py;
    const Img dst = randomImg(19, 11, 1), src = randomImg(7, 5, 2);
    // x, y, w, h, source alpha flag; negative positions and areas past
    // either picture's edge are cut.
    const std::vector<std::vector<int>> cases = {{0, 0, 0, 0, 0}, {3, 2, 0, 0, 1},   {15, 8, 0, 0, 0}, {-3, -2, 0, 0, 1},
                                                 {-6, 4, 0, 0, 0}, {2, 3, 4, 2, 0}, {1, 1, 40, 40, 1}, {-1, -1, 3, 9, 0}};
    for (const auto& c : cases) {
        cPicture d, s;
        ASSERT_TRUE(load(d, dst));
        ASSERT_TRUE(load(s, src));
        ASSERT_TRUE(d.blt(&s, c[0], c[1], c[2], c[3], c[4] != 0));
        EXPECT_EQ(of(d), py.run("blt", {dst, src}, c)) << c[0] << "," << c[1];
    }
    for (const auto& xy : std::vector<std::vector<int>>{{0, 0}, {4, 3}, {-2, -1}, {15, 9}, {-7, 0}}) {
        cPicture d, s;
        ASSERT_TRUE(load(d, dst));
        ASSERT_TRUE(load(s, src));
        ASSERT_TRUE(s.blend(xy[0], xy[1], &d));
        EXPECT_EQ(of(d), py.run("blend", {src, dst}, xy)) << xy[0] << "," << xy[1];
    }
    // A half-transparent source pixel mixes at exactly one half: colours
    // (0 + 254) / 2, alpha (255 + 128) / 2 cut to 191.
    cPicture d, s;
    ASSERT_TRUE(d.create(0xFF000000u, 1, 1));
    ASSERT_TRUE(s.create(0x80FEFEFEu, 1, 1));
    ASSERT_TRUE(d.blt(&s, 0, 0, 0, 0, false));
    EXPECT_EQ(d.raw()[0], 0xBF7F7F7Fu);
    EXPECT_FALSE(d.blt(nullptr, 0, 0, 0, 0, false));
}

TEST(Picture, StretchAndScalingFollowTheirWeightsAsNumPyComputesThem) {
    Oracle py;
    const Img im = randomImg(23, 17, 4);
    const std::vector<std::pair<int, int>> sizes = {{23, 40}, {50, 17}, {9, 17}, {23, 6}, {7, 5}, {61, 33}, {11, 29}, {1, 1}};
    for (const auto& wh : sizes) {
        cPicture p, out;
        ASSERT_TRUE(load(p, im));
        ASSERT_TRUE(p.resizing(cPicture::rmStretch, wh.first, wh.second, &out));
        EXPECT_EQ(of(out), py.run("stretch", {im}, {wh.first, wh.second})) << "stretch " << wh.first << "x" << wh.second;
        ASSERT_TRUE(p.resizing(cPicture::rmScaling, wh.first, wh.second, &out));
        EXPECT_EQ(of(out), py.run("scaling", {im}, {wh.first, wh.second})) << "scaling " << wh.first << "x" << wh.second;
    }
    // A one-pixel-wide picture stretched to width 3 repeats its pixel.
    cPicture one, out;
    ASSERT_TRUE(one.create(0x80402010u, 1, 2));
    ASSERT_TRUE(one.stretch(3, 2, &out));
    EXPECT_EQ(of(out), (Img{3, 2, std::vector<std::uint32_t>(6, 0x80402010u)}));
    EXPECT_FALSE(one.resizing(2, 3, 3, &out));
    EXPECT_FALSE(one.stretch(0, 3, &out));
    EXPECT_FALSE(one.scaling(3, 3, nullptr));
}

TEST(Picture, DisabledAndActiveVariantsFollowTheirCurves) {
    Oracle py;
    Img im = randomImg(16, 16, 8);
    // Every channel value appears in every channel.
    for (int i = 0; i < 256; ++i) im.px[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i * 0x01010101u);
    cPicture p;
    ASSERT_TRUE(load(p, im));
    cPtr<cPicture> disabled(p.mkDisabled()), active(p.mkActive());
    ASSERT_TRUE(disabled && active);
    EXPECT_EQ(of(*disabled), py.run("disabled", {im}, {}));
    EXPECT_EQ(of(*active), py.run("active", {im}, {}));
    // The curves' published points.
    const unsigned int points[] = {0xFFFFFFFFu, 0x7F000000u, 0x12808080u};
    unsigned int out[3];
    ASSERT_TRUE(cPicture::mkDisabled(points, 3, out));
    EXPECT_EQ(out[0], 0xFFE0E0E0u);
    EXPECT_EQ(out[1], 0x7F1E1E1Eu);
    EXPECT_EQ(out[2], 0x127F7F7Fu);
    const unsigned int act[] = {0x01FE8000u};
    ASSERT_TRUE(cPicture::mkActive(act, 1, out));
    EXPECT_EQ(out[0], 0x01FD6A00u);
    cPicture none;
    EXPECT_EQ(none.mkDisabled(), nullptr);
}

TEST(PicturesList, OwnedAndReferencedEntriesAndTheirVariants) {
    const unsigned int px[] = {0xFF0000FFu, 0xFF00FF00u};
    cPicture shared;
    ASSERT_TRUE(shared.create(0xFFFFFFFFu, 1, 1));
    cPicturesList list;
    ASSERT_TRUE(list.storeImage(3, px, 1, 2, true));
    ASSERT_TRUE(list.refImage(1, &shared));
    EXPECT_FALSE(list.storeImage(5, px, 0, 2, false));
    EXPECT_EQ(list.image(5), nullptr);
    ASSERT_NE(list.image(3), nullptr);
    EXPECT_EQ(list.image(3)->raw()[0], 0xFF00FF00u);  // bottom row first: flipped
    EXPECT_EQ(list.image(1), &shared);

    cPicturesList grey;
    ASSERT_TRUE(list.mkDisabled(grey));
    EXPECT_EQ(grey.count(), 2u);
    EXPECT_EQ(grey.image(1)->raw()[0], 0xFFE0E0E0u);
    ASSERT_TRUE(list.storeImage(3, static_cast<cPicture*>(nullptr)));
    EXPECT_EQ(list.count(), 1u);

    cChildPicture child;
    ASSERT_TRUE(child.refImage(&list, 1));
    EXPECT_EQ(child.image(), &shared);
    EXPECT_FALSE(child.setImage(px, 0, 0));
    EXPECT_EQ(child.image(), nullptr);
    ASSERT_TRUE(child.setImage(px, 1, 2));
    EXPECT_EQ(child.image()->raw()[1], 0xFF0000FFu);
}

}  // namespace
