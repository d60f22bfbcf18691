// The whole-buffer decoders (zlibDecodeWhole, cZDecompress::decompress with
// and without a size, cZInflate::inflate) against Python's zlib on deflate
// data crafted bit by bit: every malformed header, code and distance zlib
// knows, each wrapped in a zlib stream whose Adler-32 is right for what it
// decodes to, so that only the deflate data decides.  zlib's verdict holds
// for each, but for the few encodings libdeflate decodes and zlib refuses
// (wholezlib.h lists them), which are taken exactly when their Adler-32 is
// right.
#include "compression/wholezlib.h"
#include "compression/zstream.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/checksum.h"
#include "oracle.h"

namespace {

using ztest::Bytes;

// Writes <name>.raw (deflate data) and <name>.out (what zlib decodes from it,
// when it takes it) for each case, and prints "name expectation" with
// expectation ok, refused or lenient.
const char kCrafted[] = R"PY(
import os, sys, zlib
out = sys.argv[1]

class Bits:
    def __init__(s): s.b = []
    def put(s, v, n): s.b += [(v >> i) & 1 for i in range(n)]
    def code(s, c, n): s.b += [(c >> i) & 1 for i in range(n - 1, -1, -1)]
    def bytes(s):
        b = s.b + [0] * (-len(s.b) % 8)
        return bytes(sum(b[i + j] << j for j in range(8)) for i in range(0, len(b), 8))

def canonical(lens):
    top = max(lens + [0]); count = [0] * (top + 2); first = [0] * (top + 2); c = 0
    for l in lens: count[l] += l > 0
    for n in range(1, top + 1): c = (c + count[n - 1]) << 1 if n > 1 else 0; first[n] = c
    codes = {}
    for sym, l in enumerate(lens):
        if l: codes[sym] = (first[l], l); first[l] += 1
    return codes

FIXED_LIT = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8
ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]

def symbols(w, lit, dist, items):
    lc, dc = canonical(lit), canonical(dist)
    for it in items:
        if it[0] == 'lit': w.code(*lc[it[1]])
        elif it[0] == 'dist': w.code(*dc[it[1]])
        elif it[0] == 'bits': w.put(it[1], it[2])

def fixed(items):
    w = Bits(); w.put(1, 1); w.put(1, 2); symbols(w, FIXED_LIT, [5] * 32, items); return w.bytes()

# A dynamic block; the code-length symbols default to the lengths one by
# one under a complete code-length code.
def dynamic(lit, dist, items, lengths=None, pre=None):
    w = Bits(); w.put(1, 1); w.put(2, 2)
    lengths = lengths if lengths is not None else [(l, 0, 0) for l in lit + dist]
    if pre is None:
        used = sorted(set(s for s, _, _ in lengths)); k = len(used); n = 0
        while (1 << n) < k: n += 1
        pre = [0] * 19
        for i, s in enumerate(used): pre[s] = max(1, n - 1 if i < (1 << n) - k else n)
    w.put(len(lit) - 257, 5); w.put(len(dist) - 1, 5)
    n = 19
    while pre[ORDER[n - 1]] == 0: n -= 1
    w.put(n - 4, 4)
    for i in range(n): w.put(pre[ORDER[i]], 3)
    pc = canonical(pre)
    for s, e, ne in lengths: w.code(*pc[s]); w.put(e, ne)
    symbols(w, lit, dist, items); return w.bytes()

lit = [0] * 286
for c in b'abcdef': lit[c] = 3
lit[256] = lit[257] = 3            # end of block, and the length 3
ab = [('lit', 97), ('lit', 98)]
eob = [('lit', 256)]
run = [('lit', 97)] + [('lit', 285), ('dist', 0)] * 200   # 51601 bytes of 'a'
text = b''.join(b'qor %d package ' % (i * 7919 % 1000) for i in range(3000))
over = list(lit); over[ord('g')] = 3
short = list(lit); short[ord('f')] = 0
no_eob = list(lit); no_eob[256] = 0; no_eob[ord('g')] = 3
one_pre = [0] * 19; one_pre[0] = 1

cases = {
    # zlib takes these
    'dynamic_level9': ('ok', zlib.compress(text, 9)[2:-4]),
    'stored_level0': ('ok', zlib.compress(text[:5000], 0)[2:-4]),
    'fixed_match': ('ok', fixed(ab + [('lit', 257), ('dist', 1)] + eob)),
    'one_distance_code': ('ok', dynamic(lit, [1], ab + [('lit', 257), ('bits', 0, 1)] + eob)),
    'empty_distance_code_unused': ('ok', dynamic(lit, [0], ab + eob)),
    'long_run': ('ok', fixed(run + eob)),
    # zlib refuses these, and so must we
    'block_type_3': ('refused', bytes([0x07])),
    'stored_lengths_disagree': ('refused', bytes([1, 3, 0, 0xfd, 0xff]) + b'abc'),
    'oversubscribed_literals': ('refused', dynamic(over, [1], ab + eob)),
    'incomplete_literals': ('refused', dynamic(short, [1], ab + eob)),
    'no_end_of_block': ('refused', dynamic(no_eob, [1], ab)),
    'repeat_with_nothing_before': ('refused', dynamic(lit, [1], ab + eob, lengths=[(16, 0, 2)] + [(l, 0, 0) for l in lit[3:] + [1]])),
    'one_code_length_code': ('refused', dynamic(lit, [1], ab + eob, lengths=[(0, 0, 0)] * 287, pre=one_pre)),
    'distance_too_far_back': ('refused', fixed([('lit', 97), ('lit', 257), ('dist', 1)] + eob)),
    'cut_in_the_middle': ('refused', zlib.compress(text, 9)[2:200]),
    'final_block_missing': ('refused', bytes([0, 0, 0, 0xff, 0xff])),
    # libdeflate decodes these, zlib refuses them
    'literal_codes_287': ('lenient', dynamic(lit + [0], [1], ab + eob)),
    'distance_codes_31': ('lenient', dynamic(lit, [1] + [0] * 30, ab + eob)),
    'repeat_past_the_codes': ('lenient', dynamic(lit, [1], ab + eob, lengths=[(l, 0, 0) for l in lit] + [(18, 127, 7)])),
    'fixed_literal_286': ('lenient', fixed(ab + [('lit', 286), ('dist', 0)] + eob)),
    'fixed_distance_30': ('lenient', fixed(run + [('lit', 257), ('dist', 30), ('bits', 0, 13)] + eob)),
    'unused_half_of_one_distance_code': ('lenient', dynamic(lit, [1], ab + [('lit', 257), ('bits', 1, 1)] + eob)),
    'empty_distance_code_used': ('lenient', dynamic(lit, [0], ab + [('lit', 257), ('bits', 0, 1)] + eob)),
}
for name, (expect, raw) in cases.items():
    d = zlib.decompressobj(-15)
    try:
        got = d.decompress(raw) + d.flush()
        verdict = 'ok' if d.eof else 'cut'
    except zlib.error:
        got, verdict = b'', 'error'
    assert (verdict == 'ok') == (expect == 'ok'), (name, verdict)
    open(os.path.join(out, name + '.raw'), 'wb').write(raw)
    open(os.path.join(out, name + '.out'), 'wb').write(got)
    print(name, expect)
)PY";

Bytes zlibStream(const Bytes& raw, const Bytes& plain) {
    Bytes z(raw.size() + 2);
    z[0] = 0x78;
    z[1] = 0x9C;
    std::copy(raw.begin(), raw.end(), z.begin() + 2);
    const std::uint32_t a = adler32(plain.data(), static_cast<long long>(plain.size()));
    for (int s = 24; s >= 0; s -= 8) z.push_back(static_cast<unsigned char>(a >> s));
    return z;
}

// What zlib's raw inflate delivers from all of raw in one call, up to its
// end or its error: the partial output a refusal must leave.
Bytes zlibDelivers(const Bytes& raw) {
    z_stream s{};
    Bytes out(1 << 20);
    EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
    s.next_in = const_cast<Bytef*>(raw.data());
    s.avail_in = static_cast<uInt>(raw.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    inflate(&s, Z_SYNC_FLUSH);
    out.resize(out.size() - s.avail_out);
    inflateEnd(&s);
    return out;
}

// What libdeflate alone decodes from raw deflate data; false when it refuses.
bool libdeflateRaw(const Bytes& raw, Bytes& plain) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    plain.assign(1 << 20, 0);
    std::size_t n = 0;
    const bool ok = libdeflate_deflate_decompress(d, raw.data(), raw.size(), plain.data(), plain.size(), &n) ==
                    LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(d);
    plain.resize(ok ? n : 0);
    return ok;
}

struct sVerdicts {
    bool whole = false, sized = false, unsized = false, block = false;
    Bytes sizedOut, unsizedOut, blockOut;
};

// Every whole-buffer decoder on one zlib stream; `size` is the plain size
// zlibDecodeWhole is asked for.
sVerdicts decodeAllWays(const Bytes& z, std::size_t size) {
    sVerdicts v;
    Bytes out(size + 1);
    v.whole = zlibDecodeWhole(z.data(), z.size(), out.data(), size);
    const _typebuf<unsigned char> in = ztest::toBuf(z);
    _typebuf<unsigned char> got;
    cZDecompress sized;
    sized.setOutputLimit(1 << 20);
    v.sized = sized.decompress(in, got);
    v.sizedOut.assign(got.data(), got.data() + got.count());
    cZDecompress unsized;
    v.unsized = unsized.decompress(in, got);
    v.unsizedOut.assign(got.data(), got.data() + got.count());
    cZInflate block;
    EXPECT_TRUE(block.init());
    v.blockOut.assign(1 << 20, 0);
    const unsigned n = block.inflate(z.data(), static_cast<unsigned>(z.size()), v.blockOut.data(), 1u << 20);
    v.block = n > 0;
    v.blockOut.resize(n);
    if (v.block) {
        // The stream's counters as zlib leaves them: all input taken.
        EXPECT_EQ(block.total_out, n);
        EXPECT_EQ(block.total_in, z.size());
        EXPECT_EQ(block.avail_in, 0u);
        EXPECT_EQ(block.avail_out, (1u << 20) - n);
    }
    return v;
}

TEST(WholeInflateRefusals, CraftedDeflateDataIsJudgedAsZlibJudgesItButForTheListedEncodings) {
    qortest::TempDir dir;
    std::istringstream list(qortest::runPython(kCrafted, dir.path()));
    int seen[3] = {0, 0, 0};
    for (std::string name, expect; list >> name >> expect;) {
        SCOPED_TRACE(name);
        const Bytes raw = ztest::readFile(dir.file(name + ".raw"));
        const Bytes pythonOut = ztest::readFile(dir.file(name + ".out"));
        const Bytes zlibOut = zlibDelivers(raw);
        Bytes ldOut;
        const bool ldTakes = libdeflateRaw(raw, ldOut);
        if (expect == "ok") {
            ++seen[0];
            ASSERT_EQ(zlibOut, pythonOut);
            const sVerdicts v = decodeAllWays(zlibStream(raw, zlibOut), zlibOut.size());
            EXPECT_TRUE(v.whole && v.sized && v.unsized && v.block);
            EXPECT_EQ(v.sizedOut, zlibOut);
            EXPECT_EQ(v.unsizedOut, zlibOut);
            EXPECT_EQ(v.blockOut, zlibOut);
        } else if (expect == "refused") {
            ++seen[1];
            // The trailer is made right for whatever either library decodes,
            // so that only the deflate data can refuse.
            const Bytes& plain = ldTakes ? ldOut : zlibOut;
            const sVerdicts v = decodeAllWays(zlibStream(raw, plain), plain.size());
            EXPECT_FALSE(v.whole || v.sized || v.unsized || v.block);
            // What was decoded before the damage is zlib's.
            EXPECT_EQ(v.sizedOut, zlibOut);
            EXPECT_EQ(v.unsizedOut, zlibOut);
        } else {
            ++seen[2];
            ASSERT_TRUE(ldTakes) << "libdeflate no longer decodes this: the list in wholezlib.h is out of date";
            const sVerdicts v = decodeAllWays(zlibStream(raw, ldOut), ldOut.size());
            EXPECT_TRUE(v.whole && v.sized && v.unsized && v.block);
            EXPECT_EQ(v.sizedOut, ldOut);
            EXPECT_EQ(v.blockOut, ldOut);
            // With the Adler-32 one off, zlib's refusal and output stand.
            Bytes z = zlibStream(raw, ldOut);
            z.back() ^= 1;
            const sVerdicts bad = decodeAllWays(z, ldOut.size());
            EXPECT_FALSE(bad.whole || bad.sized || bad.unsized || bad.block);
            EXPECT_EQ(bad.sizedOut, zlibOut);
        }
    }
    EXPECT_EQ(seen[0], 6);
    EXPECT_EQ(seen[1], 10);
    EXPECT_EQ(seen[2], 7);
}

Bytes compressZlib(const Bytes& plain, int level) {
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    Bytes z(n);
    EXPECT_EQ(compress2(z.data(), &n, plain.data(), static_cast<uLong>(plain.size()), level), Z_OK);
    z.resize(n);
    return z;
}

// Without a size the output room is guessed and grown: a stream that
// inflates a hundredfold needs several tries, each giving way to the next.
// A limit one byte short of the plain size still gives exactly the limit.
TEST(WholeInflateRefusals, UnknownSizesGrowTheRoomAndKeepTheLimit) {
    const Bytes plain = ztest::mixedData(3u << 20, 77);
    Bytes big(plain);
    big.insert(big.end(), 6u << 20, 'q');
    for (const Bytes* p : std::vector<const Bytes*>{&plain, &big}) {
        const Bytes z = compressZlib(*p, 9);
        const _typebuf<unsigned char> in = ztest::toBuf(z);
        _typebuf<unsigned char> got;
        cZDecompress d;
        ASSERT_TRUE(d.decompress(in, got));
        ASSERT_EQ(Bytes(got.data(), got.data() + got.count()), *p);
        // Handed back, the buffer is decoded into again.
        ASSERT_TRUE(d.decompress(in, got));
        ASSERT_EQ(Bytes(got.data(), got.data() + got.count()), *p);
        const unsigned long long size = p->size();
        for (unsigned long long limit : {size - 1, size}) {
            cZDecompress capped;
            capped.setOutputLimit(limit);
            EXPECT_EQ(capped.decompress(in, got), limit == size);
            EXPECT_EQ(static_cast<unsigned long long>(got.count()), limit);
            EXPECT_EQ(0, std::memcmp(got.data(), p->data(), static_cast<std::size_t>(limit)));
        }
    }
}

}  // namespace
