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
#include <fstream>
#include <ostream>
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
    if kind == 'blocks':
        return [((x // 300) + (y // 200) * 5) % colours for y in range(h) for x in range(w)]
    if kind == 'solid':
        return [7] * (w * h)
    if kind == 'solidthenliterals':  # ends in 20 codes of one byte each
        return [7] * (w * h - 20) + list(range(100, 120))
    if kind == 'longruns':
        res = []
        while len(res) < w * h:
            r = next(g)
            res += [r % colours] * (1 + (r >> 8) % 12000) + [next(g) % colours for _ in range(20)]
        return res[:w * h]
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
for name, w, h, colours, kind in [('pil256', 500, 400, 256, 'mixed'), ('pil7', 123, 45, 7, 'noise'),
                                  ('pilblocks', 1200, 900, 256, 'blocks')]:
    im = Image.new('P', (w, h))
    im.putpalette(b''.join(bytes(c) for c in palette[:max(colours, 2)]))
    im.putdata(pixels(w, h, colours, kind, seed=5))
    im.save(f'{out}/{name}.gif', interlace=False)
    mcs, data = gif_lzw(f'{out}/{name}.gif')
    case('gif', name, mcs, data, Image.open(f'{out}/{name}.gif').tobytes())

# libtiff's LZW: one strip, or strips of a few rows.
for name, mode, w, h, rows, kind in [('tgray', 'L', 512, 300, 300, 'mixed'), ('tnoise', 'L', 256, 256, 256, 'noise'),
                                     ('trgb', 'RGB', 200, 150, 16, 'mixed'),
                                     ('tblocks', 'L', 1024, 1024, 1024, 'blocks')]:
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
                                                ('width8', 30000, 128, 7, True, True, 'mixed'),
                                                ('grow65535', 65535, 256, 8, True, True, 'solid'),
                                                ('grow65536', 65536, 256, 8, True, True, 'solid'),
                                                ('grow65537', 65537, 256, 8, True, True, 'solid'),
                                                ('growlit', 65550, 256, 8, True, True, 'solidthenliterals'),
                                                ('growsolid', 1000000, 256, 8, True, True, 'solid'),
                                                ('growruns', 1000000, 256, 8, True, True, 'longruns')]:
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
        runPython(kWritersScript, "'" + dir_->path() + "'");
        std::ifstream manifest(dir_->file("manifest.txt"));
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
    static std::vector<sCase> casesOf(const std::string& kind, std::initializer_list<const char*> prefixes) {
        std::vector<sCase> r;
        for (const sCase& c : *cases_)
            for (const char* p : prefixes)
                if (c.kind == kind && c.name.rfind(p, 0) == 0) r.push_back(c);
        return r;
    }
    static cLZWDecompress decoderFor(const sCase& c) {
        return c.kind == "gif" ? cLZWDecompress(false, c.param + 1, false) : cLZWDecompress(true, 9, true);
    }
    static void expectDecodes(const std::vector<sCase>& cases) {
        for (const sCase& c : cases) {
            SCOPED_TRACE(c.name);
            cLZWDecompress d = decoderFor(c);
            _typebuf<unsigned char> out;
            EXPECT_TRUE(d.decompress(toBuf(c.lzw), out));
            EXPECT_TRUE(fromBuf(out) == c.plain) << out.count() << " of " << c.plain.size();
        }
    }

    static qortest::TempDir* dir_;
    static std::vector<sCase>* cases_;
};

qortest::TempDir* LzwFromWriters::dir_ = nullptr;
std::vector<sCase>* LzwFromWriters::cases_ = nullptr;

}  // namespace

TEST_F(LzwFromWriters, GifImagesDecodeToThePixelsPillowReads) {
    const std::vector<sCase> cases = casesOf("gif", {"pam", "pil"});
    ASSERT_EQ(cases.size(), 8u);
    for (int codeSize : {2, 4, 8})
        EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const sCase& c) { return c.param == codeSize; }));
    expectDecodes(cases);
}

TEST_F(LzwFromWriters, TiffStripsFromTiffcpDecodeToTheirRows) {
    const std::vector<sCase> cases = casesOf("tiff", {""});
    ASSERT_GT(cases.size(), 10u);
    expectDecodes(cases);
}

TEST_F(LzwFromWriters, StreamsWithoutLeadingClearOrWithAFullTableDecode) {
    const std::vector<sCase> cases = casesOf("gif", {"nolead", "deferred", "width8"});
    ASSERT_EQ(cases.size(), 5u);
    expectDecodes(cases);
}

// Not told the size, the decoder starts with room for eight bytes an input
// byte (at least 64 KiB) and moves the output to a larger buffer when it is
// full; the table's strings in it move along.  These outputs go far past
// that room: solid stretches (mostly codes met before their entry exists)
// and long runs from the Python encoder, flat pictures from Pillow and
// libtiff.
TEST_F(LzwFromWriters, OutputsFarPastTheFirstRoomDecodeWhole) {
    std::vector<sCase> cases = casesOf("gif", {"growsolid", "growruns", "pilblocks"});
    const std::vector<sCase> tiff = casesOf("tiff", {"tblocks"});
    cases.insert(cases.end(), tiff.begin(), tiff.end());
    ASSERT_EQ(cases.size(), 4u);
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_GT(c.plain.size(), 2 * std::max<std::size_t>(65536, 8 * c.lzw.size()));
    }
    expectDecodes(cases);
    // One decoder, again and again: each decode starts from its own room.
    const sCase& big = cases[0];
    const std::vector<sCase> small = casesOf("gif", {"grow65537"});
    ASSERT_EQ(small.size(), 1u);
    cLZWDecompress d(false, 9, false);
    for (const sCase* c : {&big, &small[0], &big}) {
        _typebuf<unsigned char> out;
        EXPECT_TRUE(d.decompress(toBuf(c->lzw), out)) << c->name;
        EXPECT_TRUE(fromBuf(out) == c->plain) << c->name;
    }
}

// Solid data of 65535, 65536 and 65537 bytes fills the first room to one
// byte short, exactly, and one byte past; 65530 solid bytes and 20 literals
// cross its edge one byte at a time, the previous string then being the
// room's last byte.  Each decodes whole with the size unknown, told, and
// told one byte short (the cut falls inside a code met before its entry
// exists, or on a literal).
TEST_F(LzwFromWriters, OutputsAroundTheFirstRoomsEdge) {
    const std::vector<sCase> cases = casesOf("gif", {"grow6553", "growlit"});
    ASSERT_EQ(cases.size(), 4u);
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(8 * c.lzw.size(), 65536u);
        expectDecodes({c});
        cLZWDecompress d(false, 9, false);
        _typebuf<unsigned char> out;
        d.setOutputLimit(c.plain.size());
        EXPECT_TRUE(d.decompress(toBuf(c.lzw), out));
        EXPECT_TRUE(fromBuf(out) == c.plain);
        d.setOutputLimit(c.plain.size() - 1);
        EXPECT_FALSE(d.decompress(toBuf(c.lzw), out));
        EXPECT_TRUE(fromBuf(out) == Bytes(c.plain.begin(), c.plain.end() - 1));
    }
}

TEST_F(LzwFromWriters, CutDataFailsAndKeepsTheBytesDecodedBeforeTheCut) {
    std::vector<sCase> cases = casesOf("tiff", {"tgray_0"});
    const std::vector<sCase> gif = casesOf("gif", {"pam256"});
    cases.insert(cases.end(), gif.begin(), gif.end());
    ASSERT_EQ(cases.size(), 2u);
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes cut(c.lzw.begin(), c.lzw.begin() + static_cast<long>(c.lzw.size() / 2));
        cLZWDecompress d = decoderFor(c);
        _typebuf<unsigned char> out;
        EXPECT_FALSE(d.decompress(toBuf(cut), out));
        EXPECT_GT(out.count(), static_cast<long long>(c.plain.size() / 4));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), c.plain.begin()));
    }
}

TEST_F(LzwFromWriters, TheOutputLimitStopsDecodingAtItsSize) {
    const std::vector<sCase> cases = casesOf("tiff", {"tnoise_0"});
    ASSERT_EQ(cases.size(), 1u);
    const sCase& c = cases[0];
    cLZWDecompress d(true, 9, true);
    _typebuf<unsigned char> out;
    d.setOutputLimit(c.plain.size() - 1);
    EXPECT_FALSE(d.decompress(toBuf(c.lzw), out));
    ASSERT_EQ(out.count(), static_cast<long long>(c.plain.size() - 1));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), c.plain.begin()));
    // The exact size, the same object again from the first bit, and a limit
    // above the size all succeed.
    for (unsigned long long limit : {c.plain.size(), c.plain.size(), c.plain.size() + 1000}) {
        d.setOutputLimit(limit);
        EXPECT_TRUE(d.decompress(toBuf(c.lzw), out)) << limit;
        EXPECT_TRUE(fromBuf(out) == c.plain) << limit;
    }
}

namespace {
// Streams into a vector, piece by piece; stops after `stopAfter` pieces.
struct sCollect {
    Bytes bytes;
    unsigned long long largest = 0;
    int pieces = 0, stopAfter = -1;
    static bool take(void* self, const unsigned char* b, unsigned long long n) {
        sCollect& c = *static_cast<sCollect*>(self);
        c.bytes.insert(c.bytes.end(), b, b + n);
        c.largest = std::max(c.largest, n);
        return ++c.pieces != c.stopAfter;
    }
};
}  // namespace

// Streamed through a window of the smallest size and of 64 KiB, every
// stream of the writers gives the bytes decoded whole, in pieces no longer
// than the window: the table's strings outlive the windows they were
// decoded in, through codes met before their entry exists, full tables
// and long runs.  A cut stream hands on what it decoded, a limit cuts, and
// a sink that says no stops the decode.
TEST_F(LzwFromWriters, StreamedThroughSmallWindowsEveryStreamGivesItsBytes) {
    ASSERT_GT(cases_->size(), 25u);
    for (const sCase& c : *cases_) {
        for (unsigned long long window : {cLZWDecompress::kMinWindow, 65536ULL}) {
            SCOPED_TRACE(c.name + " through " + std::to_string(window));
            cLZWDecompress d = decoderFor(c);
            sCollect got;
            EXPECT_TRUE(d.decompressTo(toBuf(c.lzw), &sCollect::take, &got, window));
            EXPECT_TRUE(got.bytes == c.plain) << got.bytes.size() << " of " << c.plain.size();
            EXPECT_LE(got.largest, window);
            EXPECT_GE(got.pieces, static_cast<int>(c.plain.size() / window));
        }
    }
    const sCase runs = casesOf("gif", {"growruns"}).at(0);
    cLZWDecompress d = decoderFor(runs);
    sCollect cut;
    const Bytes half(runs.lzw.begin(), runs.lzw.begin() + static_cast<long>(runs.lzw.size() / 2));
    EXPECT_FALSE(d.decompressTo(toBuf(half), &sCollect::take, &cut, cLZWDecompress::kMinWindow));
    EXPECT_GT(cut.bytes.size(), runs.plain.size() / 4);
    EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), runs.plain.begin()));
    sCollect limited;
    d.setOutputLimit(runs.plain.size() - 1000);
    EXPECT_FALSE(d.decompressTo(toBuf(runs.lzw), &sCollect::take, &limited, cLZWDecompress::kMinWindow));
    EXPECT_TRUE(limited.bytes == Bytes(runs.plain.begin(), runs.plain.end() - 1000));
    d.setOutputLimit(kDefaultDecodeOutputLimit);
    sCollect stopped;
    stopped.stopAfter = 3;
    EXPECT_FALSE(d.decompressTo(toBuf(runs.lzw), &sCollect::take, &stopped, cLZWDecompress::kMinWindow));
    EXPECT_EQ(stopped.pieces, 3);
    EXPECT_TRUE(std::equal(stopped.bytes.begin(), stopped.bytes.end(), runs.plain.begin()));
}

// ---------------------------------------------------------------------------
// Hand-packed codes

namespace {

using Codes = std::vector<std::pair<unsigned, int> >;

// Packs (code, width) pairs, least significant bit first (GIF) or most
// significant bit first (TIFF).
Bytes pack(const Codes& codes, bool msbFirst) {
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

// The verdict and the output of one decode.
struct sResult {
    bool ok;
    Bytes out;
    bool operator==(const sResult& o) const { return ok == o.ok && out == o.out; }
};

std::ostream& operator<<(std::ostream& os, const sResult& r) {
    os << (r.ok ? "ok {" : "failed {");
    for (unsigned char b : r.out) os << ' ' << int(b);
    return os << " }";
}

sResult ok(Bytes b) { return {true, std::move(b)}; }
sResult failed(Bytes b) { return {false, std::move(b)}; }

sResult decode(cLZWDecompress& d, const Bytes& in) {
    _typebuf<unsigned char> out;
    const bool good = d.decompress(toBuf(in), out);
    return {good, fromBuf(out)};
}

// GIF codes of a given minimum code size; TIFF codes.
sResult gif(int codeSize, const Codes& codes) {
    cLZWDecompress d(false, codeSize + 1, false);
    return decode(d, pack(codes, false));
}
sResult gif2(const Codes& codes) { return gif(2, codes); }
sResult tiff(const Codes& codes) {
    cLZWDecompress d(true, 9, true);
    return decode(d, pack(codes, true));
}

}  // namespace


// What real writers never produce: the codes of a damaged or hostile stream.
TEST(LzwCodes, HostileCodeSequencesFailKeepingWhatCameBefore) {
    const struct {
        sResult got, want;
    } rows[] = {
        {gif2({{5, 3}}), ok({})},  // starts with the end code
        {gif2({{4, 3}, {5, 3}}), ok({})},
        {tiff({{257, 9}}), ok({})},
        // Code size 3: clear 8, end 9; after 1 and 2 the next free code is 11.
        {gif(3, {{8, 4}, {1, 4}, {2, 4}, {13, 4}, {9, 4}}), failed({1, 2})},
        {gif(3, {{8, 4}, {1, 4}, {2, 4}, {12, 4}, {9, 4}}), failed({1, 2})},
        {gif2({{4, 3}, {1, 3}, {4, 3}, {6, 3}, {5, 3}}), failed({1})},  // a table code right after a clear
        {gif2({{4, 3}, {4, 3}, {2, 3}, {5, 3}}), ok({2})},              // two clears in a row are harmless
        {gif2({{4, 3}, {1, 3}}), failed({1})},  // no end code: stops at the last whole code
        {[] {
             cLZWDecompress d(true, 9, true);
             return decode(d, Bytes{0x80});  // a 9-bit code across the very last byte
         }(),
         failed({})},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof *rows; ++i) EXPECT_EQ(rows[i].got, rows[i].want) << "row " << i;
    // Code sizes out of range fall back to 9 bits.
    for (int bits : {0, 12}) EXPECT_EQ(cLZWDecompress(false, bits, false).clearCode(), 256) << bits;
}

TEST(LzwCodes, AnEmptyInputFailsAndLeavesTheOutputAlone) {
    cLZWDecompress d(false, 3, false);
    _typebuf<unsigned char> out = toBuf({'a', 'b', 'c'});
    EXPECT_FALSE(d.decompress(_typebuf<unsigned char>(), out));
    EXPECT_TRUE(fromBuf(out) == (Bytes{'a', 'b', 'c'}));
}

TEST(LzwCodes, TheOutputLimitCutsInsideAString) {
    // 1, 6 = "11", 6 = "11": five bytes.
    const Bytes in = pack({{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 3}}, false);
    cLZWDecompress d(false, 3, false);
    d.setOutputLimit(3);
    EXPECT_EQ(decode(d, in), failed({1, 1, 1}));
    d.setOutputLimit(5);
    EXPECT_EQ(decode(d, in), ok({1, 1, 1, 1, 1}));
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
