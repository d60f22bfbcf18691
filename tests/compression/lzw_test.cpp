// cLZWDecompress and cVariableLengthAccess.  Real LZW data comes from GIF
// writers (netpbm's pamtogif, Pillow) and from libtiff's tiffcp; the pixels
// they stand for come from Pillow's own decoders and from the raw input.
// A small GIF-flavoured encoder in Python writes the streams that writers do
// not produce (no leading clear code, a table left full).  Hand-packed code
// sequences check the edge cases code by code.
#include "compression/lzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <sstream>
#include <string>
#include <vector>

#include "oracle.h"

using namespace ztest;

namespace {

// ---------------------------------------------------------------------------
// Real data

const char kWritersScript[] = R"PY(
import sys, subprocess
from PIL import Image
out = sys.argv[1]

def gen(seed):
    x = seed
    while True:
        x = (x * 6364136223846793005 + 1442695040888963407) & (2**64 - 1)
        yield x >> 33

def pixels(w, h, colours, kind, seed=1):
    g = gen(seed)
    if kind == 'noise':
        return [next(g) % colours for _ in range(w * h)]
    if kind == 'bands':
        return [((x // 7) + (y // 5)) % colours for y in range(h) for x in range(w)]
    # runs of one value with noise between them
    v, left, res = 0, 0, []
    for _ in range(w * h):
        if left == 0:
            r = next(g)
            v, left = r % colours, 1 + (r >> 8) % 40
            if (r >> 16) % 4 == 0:
                v = -1
        res.append(next(g) % colours if v < 0 else v)
        left -= 1
    return res

def gif_lzw(path):
    # The first image's minimum code size and its LZW bytes (sub-blocks joined).
    d = open(path, 'rb').read()
    assert d[:6] in (b'GIF87a', b'GIF89a')
    flags, p = d[10], 13
    if flags & 0x80:
        p += 3 << ((flags & 7) + 1)
    while d[p] == 0x21:
        p += 2
        while d[p]:
            p += d[p] + 1
        p += 1
    assert d[p] == 0x2C
    iflags = d[p + 9]
    assert not iflags & 0x40, 'interlaced'
    p += 10
    if iflags & 0x80:
        p += 3 << ((iflags & 7) + 1)
    mcs, p, data = d[p], p + 1, b''
    while d[p]:
        data += d[p + 1:p + 1 + d[p]]
        p += d[p] + 1
    return mcs, data

manifest = []
def case(kind, name, param, lzw, plain):
    open(f'{out}/{name}.lzw', 'wb').write(lzw)
    open(f'{out}/{name}.plain', 'wb').write(plain)
    manifest.append(f'{kind} {name} {param}')

palette = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)] + [(i, 255 - i, (i * 7) % 256) for i in range(4, 256)]

# netpbm writes the smallest code size the colours allow.
for name, w, h, colours, kind in [('pam2', 61, 17, 2, 'mixed'), ('pam4', 40, 30, 4, 'bands'),
                                  ('pam4noise', 300, 200, 4, 'noise'), ('pam16', 257, 101, 16, 'mixed'),
                                  ('pam256', 320, 240, 256, 'mixed')]:
    px = pixels(w, h, colours, kind)
    ppm = f'{out}/{name}.ppm'
    open(ppm, 'wb').write(b'P6 %d %d 255\n' % (w, h) + b''.join(bytes(palette[v]) for v in px))
    subprocess.run(f"pamtogif '{ppm}' > '{out}/{name}.gif'", shell=True, check=True, stderr=subprocess.DEVNULL)
    mcs, data = gif_lzw(f'{out}/{name}.gif')
    case('gif', name, mcs, data, Image.open(f'{out}/{name}.gif').tobytes())

# Pillow always writes code size 8.
for name, w, h, colours, kind in [('pil256', 500, 400, 256, 'mixed'), ('pil7', 123, 45, 7, 'noise')]:
    im = Image.new('P', (w, h))
    im.putpalette(b''.join(bytes(c) for c in palette[:max(colours, 2)]))
    im.putdata(pixels(w, h, colours, kind, seed=5))
    im.save(f'{out}/{name}.gif', interlace=False)
    mcs, data = gif_lzw(f'{out}/{name}.gif')
    case('gif', name, mcs, data, Image.open(f'{out}/{name}.gif').tobytes())

# libtiff's LZW: one strip, or strips of a few rows.
for name, mode, w, h, rows, kind in [('tgray', 'L', 512, 300, 300, 'mixed'), ('tnoise', 'L', 256, 256, 256, 'noise'),
                                     ('trgb', 'RGB', 200, 150, 16, 'mixed')]:
    bpp = 3 if mode == 'RGB' else 1
    raw = bytes(pixels(w * bpp, h, 256, kind, seed=9))
    Image.frombytes(mode, (w, h), raw).save(f'{out}/{name}_raw.tif')
    subprocess.run(['tiffcp', '-c', 'lzw', '-r', str(rows), f'{out}/{name}_raw.tif', f'{out}/{name}.tif'], check=True)
    t = Image.open(f'{out}/{name}.tif')
    assert t.tag_v2[259] == 5 and t.tag_v2.get(317, 1) == 1
    assert t.tobytes() == raw
    d = open(f'{out}/{name}.tif', 'rb').read()
    for j, (o, n) in enumerate(zip(t.tag_v2[273], t.tag_v2[279])):
        case('tiff', f'{name}_{j}', 0, d[o:o + n], raw[j * rows * w * bpp:(j + 1) * rows * w * bpp])

# GIF-flavoured streams no writer above produces.
def encode(data, mcs, lead_clear, clear_when_full):
    clear, end = 1 << mcs, (1 << mcs) + 1
    width, codes = mcs + 1, []
    def fresh():
        return {bytes([i]): i for i in range(clear)}, end + 1
    table, nxt = fresh()
    if lead_clear:
        codes.append((clear, width))
    w = b''
    for ch in data:
        wc = w + bytes([ch])
        if wc in table:
            w = wc
            continue
        codes.append((table[w], width))
        if nxt < 4096:
            table[wc] = nxt
            nxt += 1
            if nxt > (1 << width) and width < 12:
                width += 1
        elif clear_when_full:
            codes.append((clear, width))
            table, nxt = fresh()
            width = mcs + 1
        w = bytes([ch])
    if w:
        codes.append((table[w], width))
    codes.append((end, width))
    acc = nbits = 0
    res = bytearray()
    for c, n in codes:
        acc |= c << nbits
        nbits += n
        while nbits >= 8:
            res.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        res.append(acc)
    return bytes(res)

for name, n, colours, mcs, lead, full, kind in [('nolead4', 5000, 4, 2, False, True, 'mixed'),
                                                ('nolead256', 20000, 256, 8, False, True, 'mixed'),
                                                ('deferred4', 100000, 4, 2, True, False, 'noise'),
                                                ('deferred256', 60000, 256, 8, True, False, 'noise'),
                                                ('width8', 30000, 128, 7, True, True, 'mixed')]:
    data = bytes(pixels(n, 1, colours, kind, seed=3))
    case('gif', name, mcs, encode(data, mcs, lead, full), data)

open(f'{out}/manifest.txt', 'w').write('\n'.join(manifest) + '\n')
)PY";

struct sCase {
    std::string kind, name;
    int param = 0;
    Bytes lzw, plain;
};

class LzwFromWriters : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        runPython(*dir_, kWritersScript, "'" + dir_->path() + "'");
        std::istringstream manifest(std::string(
            reinterpret_cast<const char*>(readFile(dir_->file("manifest.txt")).data()),
            readFile(dir_->file("manifest.txt")).size()));
        cases_ = new std::vector<sCase>;
        sCase c;
        while (manifest >> c.kind >> c.name >> c.param) {
            c.lzw = readFile(dir_->file(c.name + ".lzw"));
            c.plain = readFile(dir_->file(c.name + ".plain"));
            cases_->push_back(c);
        }
    }
    static void TearDownTestSuite() {
        delete cases_;
        delete dir_;
    }
    static std::vector<sCase> casesOf(const std::string& kind, const std::string& prefix = "") {
        std::vector<sCase> r;
        if (!cases_) return r;
        for (const sCase& c : *cases_)
            if (c.kind == kind && c.name.compare(0, prefix.size(), prefix) == 0) r.push_back(c);
        return r;
    }
    static cLZWDecompress decoderFor(const sCase& c) {
        return c.kind == "gif" ? cLZWDecompress(false, c.param + 1, false) : cLZWDecompress(true, 9, true);
    }

    static qortest::TempDir* dir_;
    static std::vector<sCase>* cases_;
};

qortest::TempDir* LzwFromWriters::dir_ = nullptr;
std::vector<sCase>* LzwFromWriters::cases_ = nullptr;

}  // namespace

TEST_F(LzwFromWriters, GifImagesDecodeToThePixelsPillowReads) {
    std::vector<sCase> cases = casesOf("gif", "pam");
    const std::vector<sCase> pil = casesOf("gif", "pil");
    cases.insert(cases.end(), pil.begin(), pil.end());
    ASSERT_EQ(cases.size(), 7u);
    bool sawCodeSize2 = false, sawCodeSize4 = false;
    for (const sCase& c : cases) {
        sawCodeSize2 |= c.param == 2;
        sawCodeSize4 |= c.param == 4;
        cLZWDecompress d(false, c.param + 1, false);
        _typebuf<unsigned char> out;
        EXPECT_TRUE(d.decompress(toBuf(c.lzw), out)) << c.name;
        EXPECT_TRUE(fromBuf(out) == c.plain) << c.name << ": " << out.count() << " of " << c.plain.size();
    }
    EXPECT_TRUE(sawCodeSize2);
    EXPECT_TRUE(sawCodeSize4);
}

TEST_F(LzwFromWriters, TiffStripsFromTiffcpDecodeToTheirRows) {
    const std::vector<sCase> cases = casesOf("tiff");
    ASSERT_GT(cases.size(), 10u);
    for (const sCase& c : cases) {
        cLZWDecompress d(true, 9, true);
        _typebuf<unsigned char> out;
        EXPECT_TRUE(d.decompress(toBuf(c.lzw), out)) << c.name;
        EXPECT_TRUE(fromBuf(out) == c.plain) << c.name << ": " << out.count() << " of " << c.plain.size();
    }
}

TEST_F(LzwFromWriters, StreamsWithoutLeadingClearOrWithAFullTableDecode) {
    for (const char* prefix : {"nolead", "deferred", "width8"}) {
        const std::vector<sCase> cases = casesOf("gif", prefix);
        ASSERT_FALSE(cases.empty()) << prefix;
        for (const sCase& c : cases) {
            cLZWDecompress d(false, c.param + 1, false);
            _typebuf<unsigned char> out;
            EXPECT_TRUE(d.decompress(toBuf(c.lzw), out)) << c.name;
            EXPECT_TRUE(fromBuf(out) == c.plain) << c.name << ": " << out.count() << " of " << c.plain.size();
        }
    }
}

TEST_F(LzwFromWriters, CutDataFailsAndKeepsTheBytesDecodedBeforeTheCut) {
    for (const char* name : {"tgray_0", "pam256"}) {
        const std::vector<sCase> cases = casesOf(name[0] == 't' ? "tiff" : "gif", name);
        ASSERT_EQ(cases.size(), 1u);
        const sCase& c = cases[0];
        const Bytes cut(c.lzw.begin(), c.lzw.begin() + static_cast<long>(c.lzw.size() / 2));
        cLZWDecompress d = decoderFor(c);
        _typebuf<unsigned char> out;
        EXPECT_FALSE(d.decompress(toBuf(cut), out)) << name;
        EXPECT_GT(out.count(), static_cast<long long>(c.plain.size() / 4)) << name;
        EXPECT_TRUE(std::equal(out.begin(), out.end(), c.plain.begin())) << name;
    }
}

TEST_F(LzwFromWriters, TheOutputLimitStopsDecodingAtItsSize) {
    const std::vector<sCase> cases = casesOf("tiff", "tnoise_0");
    ASSERT_EQ(cases.size(), 1u);
    const sCase& c = cases[0];
    cLZWDecompress d(true, 9, true);
    _typebuf<unsigned char> out;
    d.setOutputLimit(c.plain.size() - 1);
    EXPECT_FALSE(d.decompress(toBuf(c.lzw), out));
    ASSERT_EQ(out.count(), static_cast<long long>(c.plain.size() - 1));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), c.plain.begin()));
    d.setOutputLimit(c.plain.size());
    EXPECT_TRUE(d.decompress(toBuf(c.lzw), out));
    EXPECT_TRUE(fromBuf(out) == c.plain);
    // The same object decodes again from the first bit.
    EXPECT_TRUE(d.decompress(toBuf(c.lzw), out));
    EXPECT_TRUE(fromBuf(out) == c.plain);
    // A limit above the real size is no failure either.
    d.setOutputLimit(c.plain.size() + 1000);
    EXPECT_TRUE(d.decompress(toBuf(c.lzw), out));
    EXPECT_TRUE(fromBuf(out) == c.plain);
}

// ---------------------------------------------------------------------------
// Hand-packed codes

namespace {

// Packs (code, width) pairs, least significant bit first (GIF) or most
// significant bit first (TIFF).
Bytes pack(const std::vector<std::pair<unsigned, int> >& codes, bool msbFirst) {
    std::string bits;
    for (auto [code, width] : codes) {
        std::string b = std::bitset<16>(code).to_string().substr(16 - width);
        if (!msbFirst) std::reverse(b.begin(), b.end());
        bits += b;
    }
    while (bits.size() % 8) bits += '0';
    Bytes out;
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::string byte = bits.substr(i, 8);
        if (!msbFirst) std::reverse(byte.begin(), byte.end());
        out.push_back(static_cast<unsigned char>(std::stoul(byte, nullptr, 2)));
    }
    return out;
}

struct sResult {
    bool ok;
    Bytes out;
};

// GIF data of a given minimum code size.
sResult gif(int codeSize, const std::vector<std::pair<unsigned, int> >& codes) {
    cLZWDecompress d(false, codeSize + 1, false);
    _typebuf<unsigned char> out;
    const bool ok = d.decompress(toBuf(pack(codes, false)), out);
    return {ok, fromBuf(out)};
}

sResult gif2(const std::vector<std::pair<unsigned, int> >& codes) { return gif(2, codes); }

}  // namespace

TEST(LzwCodes, GifCodeSizeTwoHasClear4End5AndFirstFree6) {
    cLZWDecompress d(false, 3, false);
    EXPECT_EQ(d.clearCode(), 4);
    EXPECT_EQ(d.endCode(), 5);
    EXPECT_EQ(d.firstFreeCode(), 6);
    cLZWDecompress tiff(true, 9, true);
    EXPECT_EQ(tiff.clearCode(), 256);
    EXPECT_EQ(tiff.endCode(), 257);
    EXPECT_EQ(tiff.firstFreeCode(), 258);
    EXPECT_EQ(cLZWDecompress(false, 0, false).clearCode(), 256);  // out of range: 9 bits
    EXPECT_EQ(cLZWDecompress(false, 12, false).clearCode(), 256);
    EXPECT_EQ(d.typeOf(), 1);
}

TEST(LzwCodes, AStringFollowedByItsOwnFirstByteDecodes) {
    // 1, then 6 before it exists: "1" + "1"; then 6 again.
    const sResult r = gif2({{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 3}});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.out == (Bytes{1, 1, 1, 1, 1}));
}

TEST(LzwCodes, DataWithoutALeadingClearCodeDecodesAsAfterOne) {
    // After 1, 6, 1 the entries 6 = "11" and 7 = "111" exist, the next free
    // code is 8 and the width is 4 bits.
    const Bytes expected = {1, 1, 1, 1, 2, 1, 1, 1};
    const sResult without = gif2({{1, 3}, {6, 3}, {1, 3}, {2, 4}, {7, 4}, {5, 4}});
    const sResult with = gif2({{4, 3}, {1, 3}, {6, 3}, {1, 3}, {2, 4}, {7, 4}, {5, 4}});
    EXPECT_TRUE(without.ok);
    EXPECT_TRUE(with.ok);
    EXPECT_TRUE(without.out == expected);
    EXPECT_TRUE(with.out == expected);
}

TEST(LzwCodes, TheWidthGrowsWhenTheNextFreeCodeReachesAPowerOfTwo) {
    // Entries 6 and 7 take the next free code to 8: the fourth code is read
    // with 4 bits; entries up to 15 take it to 16 and 5 bits.
    std::vector<std::pair<unsigned, int> > codes = {{4, 3}, {0, 3}, {1, 3}, {2, 3}};
    Bytes expected = {0, 1, 2};
    // Codes 3, 0, 1, 2, ... add entries 8 ... 15 (one per code after the first).
    for (unsigned v : {3u, 0u, 1u, 2u, 3u, 0u, 1u, 2u}) {
        codes.push_back({v, 4});
        expected.push_back(static_cast<unsigned char>(v));
    }
    codes.push_back({3, 5});  // next free is now 16: five bits
    expected.push_back(3);
    codes.push_back({5, 5});
    const sResult r = gif2(codes);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.out == expected);
}

TEST(LzwCodes, TiffWidthGrowsOneCodeEarly) {
    // After the clear code 254 literals add entries 258 to 510: the next free
    // code is 511, so with early change the following codes are 10 bits wide.
    std::vector<std::pair<unsigned, int> > codes = {{256, 9}};
    Bytes expected;
    for (unsigned v = 0; v < 254; ++v) {
        codes.push_back({v, 9});
        expected.push_back(static_cast<unsigned char>(v));
    }
    codes.push_back({258, 10});  // "0 1"
    expected.push_back(0);
    expected.push_back(1);
    codes.push_back({257, 10});
    cLZWDecompress d(true, 9, true);
    _typebuf<unsigned char> out;
    EXPECT_TRUE(d.decompress(toBuf(pack(codes, true)), out));
    EXPECT_TRUE(fromBuf(out) == expected);
}

TEST(LzwCodes, AnInputThatStartsWithTheEndCodeIsEmpty) {
    const sResult r = gif2({{5, 3}});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.out.empty());
    const sResult r2 = gif2({{4, 3}, {5, 3}});
    EXPECT_TRUE(r2.ok);
    EXPECT_TRUE(r2.out.empty());
    cLZWDecompress tiff(true, 9, true);
    _typebuf<unsigned char> out;
    EXPECT_TRUE(tiff.decompress(toBuf(pack({{257, 9}}, true)), out));
    EXPECT_EQ(out.count(), 0);
}

TEST(LzwCodes, ACodeBeyondTheNextFreeCodeFailsKeepingWhatCameBefore) {
    // Code size 3: clear 8, end 9; after 1 and 2 the next free code is 11.
    const sResult r = gif(3, {{8, 4}, {1, 4}, {2, 4}, {13, 4}, {9, 4}});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.out == (Bytes{1, 2}));
    // One above the next free code is no better.
    const sResult r2 = gif(3, {{8, 4}, {1, 4}, {2, 4}, {12, 4}, {9, 4}});
    EXPECT_FALSE(r2.ok);
    EXPECT_TRUE(r2.out == (Bytes{1, 2}));
    // The next free code itself is the string-plus-first-byte case.
    const sResult r3 = gif(3, {{8, 4}, {1, 4}, {2, 4}, {11, 4}, {9, 4}});
    EXPECT_TRUE(r3.ok);
    EXPECT_TRUE(r3.out == (Bytes{1, 2, 2, 2}));
}

TEST(LzwCodes, ATableCodeRightAfterAClearCodeFails) {
    const sResult r = gif2({{4, 3}, {1, 3}, {4, 3}, {6, 3}, {5, 3}});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.out == (Bytes{1}));
    // Two clear codes in a row are harmless.
    const sResult twice = gif2({{4, 3}, {4, 3}, {2, 3}, {5, 3}});
    EXPECT_TRUE(twice.ok);
    EXPECT_TRUE(twice.out == (Bytes{2}));
}

TEST(LzwCodes, DataEndingWithoutTheEndCodeStopsAtTheLastWholeCode) {
    // Two codes of 3 bits in one byte; the last two bits are no code.
    const Bytes in = pack({{4, 3}, {1, 3}}, false);
    ASSERT_EQ(in.size(), 1u);
    cLZWDecompress d(false, 3, false);
    _typebuf<unsigned char> out;
    EXPECT_FALSE(d.decompress(toBuf(in), out));
    EXPECT_TRUE(fromBuf(out) == (Bytes{1}));
    // A 9-bit code across the very last byte: nothing is read past it.
    cLZWDecompress tiff(true, 9, true);
    EXPECT_FALSE(tiff.decompress(toBuf(Bytes{0x80}), out));
    EXPECT_EQ(out.count(), 0);
}

TEST(LzwCodes, AnEmptyInputFailsAndLeavesTheOutputAlone) {
    cLZWDecompress d(false, 3, false);
    _typebuf<unsigned char> out;
    out.copyFrom(reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_FALSE(d.decompress(_typebuf<unsigned char>(), out));
    EXPECT_TRUE(fromBuf(out) == (Bytes{'a', 'b', 'c'}));
}

TEST(LzwCodes, TheOutputLimitCutsInsideAString) {
    cLZWDecompress d(false, 3, false);
    d.setOutputLimit(3);
    _typebuf<unsigned char> out;
    // 1, 6 = "11", 6 = "11": five bytes.
    EXPECT_FALSE(d.decompress(toBuf(pack({{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 3}}, false)), out));
    EXPECT_TRUE(fromBuf(out) == (Bytes{1, 1, 1}));
    d.setOutputLimit(5);
    EXPECT_TRUE(d.decompress(toBuf(pack({{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 3}}, false)), out));
    EXPECT_EQ(out.count(), 5);
}

// ---------------------------------------------------------------------------

TEST(VariableLengthAccess, FieldsMatchTheBitStringInBothOrders) {
    const unsigned char data[] = {0xA5, 0x3C, 0xF0, 0x0F, 0x96, 0x69};
    std::string msb;  // bits, most significant first within each byte
    for (unsigned char b : data) msb += std::bitset<8>(b).to_string();
    std::string lsb;  // bits, least significant first within each byte
    for (unsigned char b : data) {
        std::string s = std::bitset<8>(b).to_string();
        std::reverse(s.begin(), s.end());
        lsb += s;
    }
    for (long byte = 0; byte < 3; ++byte) {
        for (unsigned char off = 0; off < 8; ++off) {
            for (int bits = 1; bits <= 16; ++bits) {
                const std::size_t at = static_cast<std::size_t>(byte) * 8 + off;
                unsigned short v = 0xFFFF;
                cVariableLengthAccess::getValue(data, byte, off, bits, v);
                EXPECT_EQ(v, std::stoul(msb.substr(at, static_cast<std::size_t>(bits)), nullptr, 2));
                std::string field = lsb.substr(at, static_cast<std::size_t>(bits));
                std::reverse(field.begin(), field.end());
                cVariableLengthAccess::getValueLSB(data, byte, off, bits, v);
                EXPECT_EQ(v, std::stoul(field, nullptr, 2));
            }
        }
    }
    unsigned short v = 7;
    cVariableLengthAccess::getValue(data, 0, 0, 17, v);
    EXPECT_EQ(v, 0);
}
