// qor-test-labels: tsan
// Payloads through the parallel block deflater: bodies of many blocks that
// Python's zlib reads as one stream, the same bytes whatever the number of
// threads or the stream written to, files read whole or hashed ahead and
// streamed, progress counted to the end, files that changed refused, and
// payloads read back with every item checked.
#include "pakvane/scenario.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "../base/steppedstream.h"
#include "base/fileio.h"
#include "base/memio.h"
#include "base/sha.h"
#include "pakvane/payloadcheck.h"
#include "testsupport.h"

namespace {

using qortest::readFile;
using qortest::runPython;
using qortest::TempDir;
using qortest::writeFile;

// Files of every kind a package has, some larger than a block and one
// larger than the held limit the tests use.
const char kMakeFiles[] = R"PY(
import os, random, sys
d = sys.argv[1]
r = random.Random(27)
words = [b'package ', b'install ', b'qor ', b'\n', b'version 1.2.3 ', b'data ']
text = lambda n: b''.join(r.choice(words) for _ in range(n))[:n]
files = {'random.bin': bytes(r.getrandbits(8) for _ in range(300000)),
         'text.txt': text(400000), 'small.txt': text(700), 'empty': b'',
         'sub/medium.dat': bytes(r.getrandbits(5) for _ in range(150000)),
         'sub/one': b'x'}
for name, data in files.items():
    os.makedirs(os.path.dirname(os.path.join(d, name)), exist_ok=True)
    open(os.path.join(d, name), 'wb').write(data)
print(len(files))
)PY";

// Decodes a payload with zlib and hashlib alone: the stream must be one
// zlib stream of the declared size and digest; prints whether there are
// sync markers enough (each block but the last ends with one) and, from the
// table's offset on, every item's plain size with whether its digest
// matches, in size order.
const char kReadPayload[] = R"PY(
import hashlib, struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
assert b[:8] == b'QORSOPKG'
ver, body_n, packed_n = struct.unpack_from('<BII', b, 8)
packed = b[49:]
assert len(packed) == packed_n, 'packed size'
d = zlib.decompressobj()
body = d.decompress(packed)
assert d.eof and not d.unused_data, 'one stream'
assert len(body) == body_n and hashlib.sha256(body).digest() == b[17:49], 'body'
print('markers', packed.count(b'\x00\x00\xff\xff') >= (body_n - 1) // (128 * 1024))
i = int(sys.argv[2])
items = []
while True:
    un, ln = struct.unpack_from('<II', body, i); i += 8
    if un == 0 and ln == 0: break
    dg = body[i:i + 32]; i += 32
    data = body[i:i + ln]; i += ln
    plain = zlib.decompress(data) if un not in (0, 0xFFFFFFFF) else data
    items.append((len(plain), hashlib.sha256(plain).digest() == dg))
assert body[i:] == b'\x00', 'end tag'
print('items', ' '.join('%d:%s' % x for x in sorted(items)))
)PY";

struct cPackage {
    TempDir dir;
    std::string scenario;
    cPackage() {
        EXPECT_EQ(runPython(kMakeFiles, dir.path()), "6\n");
        writeFile(dir.file("doc.hdl"), "Hello <b>there</b>.");
        writeFile(dir.file("doc.idx"), "ENG=\"./doc.hdl\"\n");
        scenario = dir.file("s.txt");
        writeFile(scenario, "[General]\nlangs = ENG\n[Software]\ncodename = \"big\"\neula = \"" + dir.file("doc.idx") +
                                "\"\n[Install]\n\"" + dir.file("random.bin") + "\" = $pgm \"r\"\n\"" +
                                dir.file("text.txt") + "\" = $pgm \"t\"\n\"" + dir.file("small.txt") +
                                "\" = $pgm \"s\"\n\"" + dir.file("empty") + "\" = $pgm \"e\"\n\"" + dir.file("sub") +
                                "\" = $pgm \"sub\"\n");
    }
    bool compile(cSoftPkgScenario& s) {
        int line = 0;
        return s.loadTextConfig(scenario.c_str(), line) == 0;
    }
};

// Counts what the observer sees.
class cCounting : public cPayloadObserver {
public:
    void onPayloadProgress(const sPayloadProgress& p) override {
        ++calls;
        if (p.plainDone < last.plainDone || p.packedDone < last.packedDone || p.items < last.items) ++backwards;
        last = p;
    }
    int calls = 0;
    int backwards = 0;
    sPayloadProgress last;
};

std::string saveToString(cSoftPkgScenario& s, sPayloadOptions& o) {
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    if (!s.saveBinConfig(&m, o) || !m.toBuffer(b)) return "";
    return std::string(reinterpret_cast<const char*>(b.data()), b.bytes());
}

// Offset of the item table's first record in a payload's body: the body
// minus the table, which the test knows from the items it packed.
long long tableOffset(const std::string& payloadFile, unsigned long long tableBytes) {
    const std::string out = runPython(R"PY(
import struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
body = zlib.decompress(b[49:])
print(len(body) - int(sys.argv[2]) - 1)
)PY", payloadFile + " " + std::to_string(tableBytes));
    return std::stoll(out);
}

TEST(Payload, ManyBlocksMakeOneStreamWithTheSameBytesOnAnyNumberOfThreads) {
    cPackage pkg;
    cSoftPkgScenario s;
    ASSERT_TRUE(pkg.compile(s));
    ASSERT_EQ(s.package().count(), 6u);

    std::string first;
    for (int threads : {1, 2, 5}) {
        for (unsigned long long held : {1ull << 20, 100000ull}) {
            cCounting seen;
            sPayloadOptions o;
            o.threads = threads;
            o.observer = &seen;
            o.heldFileBytes = held;  // 100000: the two largest files are hashed ahead and streamed
            o.readAheadBytes = 200000;
            const std::string bytes = saveToString(s, o);
            ASSERT_FALSE(bytes.empty()) << threads;
            if (first.empty()) first = bytes;
            EXPECT_EQ(bytes, first) << threads << " threads, held " << held;
            EXPECT_EQ(seen.backwards, 0);
            EXPECT_GT(seen.calls, 5);  // one per block written at least
            EXPECT_EQ(seen.last.items, 6u);
            EXPECT_EQ(seen.last.plainDone, seen.last.plainTotal);
            EXPECT_EQ(seen.last.packedDone + 49, bytes.size());
        }
    }
    // The table: six records (40 bytes each) with their bytes and the end
    // mark, after the tag 13.
    unsigned long long table = 8;
    for (std::uint32_t i = 0; i < 6; ++i) table += 40 + s.package().sizeOf(static_cast<int>(i));
    const std::string file = pkg.dir.file("out.data");
    writeFile(file, first);
    const long long at = tableOffset(file, table);
    const std::string py = runPython(kReadPayload, file + " " + std::to_string(at));
    EXPECT_EQ(py, "markers True\nitems 0:True 1:True 700:True 150000:True 300000:True 400000:True\n") << py;

    // Read back with every item checked, from a file and from a stream that
    // cannot tell its position.
    cSoftPkgScenario back;
    cCounting seen;
    sPayloadOptions o;
    o.verifyItems = true;
    o.observer = &seen;
    cFileIO in;
    ASSERT_TRUE(in.open(file.c_str(), fmRead));
    ASSERT_TRUE(back.loadBinConfig(&in, o));
    EXPECT_EQ(o.badItem, -1);
    EXPECT_EQ(seen.last.items, 6u);
    EXPECT_EQ(seen.last.checkedDone, 850701u);
    EXPECT_EQ(seen.last.checkedDone, seen.last.checkedTotal);
    EXPECT_EQ(seen.last.packedDone, first.size() - 49);
    SteppedStream stepped(first, 7000);
    cSoftPkgScenario again;
    ASSERT_TRUE(again.loadBinConfig(&stepped, o));
    ASSERT_EQ(again.package().count(), 6u);
    EXPECT_EQ(again.package().sizeOf(0), 300000u);
    for (int i = 0; i < 6; ++i) {
        unsigned char a[32], b[32], c[32];
        ASSERT_TRUE(back.package().digest(i, a) && again.package().digest(i, b) && s.package().digest(i, c));
        EXPECT_EQ(std::memcmp(a, b, 32), 0) << i;
        EXPECT_EQ(std::memcmp(a, c, 32), 0) << i;
    }
}

TEST(Payload, AStreamThatCannotTellItsPositionGetsTheSameBytes) {
    cPackage pkg;
    cSoftPkgScenario s;
    ASSERT_TRUE(pkg.compile(s));
    sPayloadOptions o;
    const std::string viaMemory = saveToString(s, o);
    SteppedStream out("");
    ASSERT_TRUE(s.saveBinConfig(&out, o));
    EXPECT_EQ(out.data(), viaMemory);
}

// The blocks of random bytes are stored rather than deflated, and the
// stream comes out no larger than zlib at level 9 makes of the same blocks
// (each deflated raw with the 32 KiB before it as its dictionary and ended
// by a sync flush), and the same on any number of threads.
TEST(Payload, BlocksThatCannotShrinkAreStoredAndTheStreamIsNoLargerThanZlibs) {
    cPackage pkg;
    cSoftPkgScenario s;
    ASSERT_TRUE(pkg.compile(s));
    sPayloadOptions one, four;
    one.threads = 1;
    four.threads = 4;
    const std::string bytes = saveToString(s, one);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(saveToString(s, four), bytes);
    const std::string file = pkg.dir.file("out.data");
    writeFile(file, bytes);
    // Whether ours is no larger, and how many blocks lie in ours as they
    // are (stored), of all.
    const std::string py = runPython(R"PY(
import struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
body = zlib.decompress(b[49:])
step = 128 * 1024
out = b'\x78\xda'
blocks = []
for at in range(0, len(body), step):
    last = at + step >= len(body)
    d = body[max(0, at - 32768):at]
    z = zlib.compressobj(9, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY, zdict=d) if d else \
        zlib.compressobj(9, zlib.DEFLATED, -15)
    blocks.append(z.compress(body[at:at + step]) + z.flush(zlib.Z_FINISH if last else zlib.Z_SYNC_FLUSH))
zlibs = 2 + sum(map(len, blocks)) + 4
ours = len(b) - 49
raw = [body[at:at + 65535] for at in range(0, len(body), step)]
print(ours <= zlibs, '%d/%d' % (sum(x in b for x in raw), len(raw)))
)PY", file);
    // The one block that lies wholly in the 300000 random bytes is stored.
    EXPECT_EQ(py, "True 1/7\n") << py;
}

TEST(Payload, AFileThatChangedAfterCompilingIsNotPacked) {
    cPackage pkg;
    cSoftPkgScenario s;
    ASSERT_TRUE(pkg.compile(s));
    writeFile(pkg.dir.file("small.txt"), "longer than before? no: shorter");
    sPayloadOptions o;
    EXPECT_EQ(saveToString(s, o), "");
    // A large file (hashed ahead, then streamed) that grew.
    ASSERT_TRUE(pkg.compile(s));
    writeFile(pkg.dir.file("text.txt"), std::string(400001, 'g'));
    o.heldFileBytes = 1000;
    EXPECT_EQ(saveToString(s, o), "");
    // One that vanished.
    ASSERT_TRUE(pkg.compile(s));
    ASSERT_EQ(unlink(pkg.dir.file("sub/one").c_str()), 0);
    EXPECT_EQ(saveToString(s, o), "");
}

// An item whose bytes no longer match its digest, in a payload whose body
// digest was made anew: it loads, and the check names it.
TEST(Payload, ACheckedLoadNamesTheItemThatDoesNotMatch) {
    cPackage pkg;
    cSoftPkgScenario s;
    ASSERT_TRUE(pkg.compile(s));
    const std::string file = pkg.dir.file("good.data");
    sPayloadOptions o;
    writeFile(file, saveToString(s, o));
    const std::string bad = pkg.dir.file("bad.data");
    EXPECT_EQ(runPython(R"PY(
import hashlib, struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
body = bytearray(zlib.decompress(b[49:]))
at = body.index(b'package install', len(body) - 600000)  # inside text.txt, item 1
body[at] ^= 1
body = bytes(body)
z = zlib.compress(body, 9)
open(sys.argv[2], 'wb').write(b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(z)) + hashlib.sha256(body).digest() + z)
print('ok')
)PY", file + " " + bad), "ok\n");
    cSoftPkgScenario back;
    cFileIO in;
    ASSERT_TRUE(in.open(bad.c_str(), fmRead));
    ASSERT_TRUE(back.loadBinConfig(&in));
    o.verifyItems = true;
    ASSERT_TRUE(in.set_fp(0));
    EXPECT_FALSE(back.loadBinConfig(&in, o));
    EXPECT_EQ(o.badItem, 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Payloads checked as streams.

namespace {

// What a streamed check saw: its verdict, fault, the items' sizes and
// digests, the progress it reported.
struct sStreamed {
    bool ok = false;
    sPayloadFault fault;
    std::vector<std::string> items;  // "size:digest"
    std::size_t files = 0;
    cCounting seen;
    sPayloadProgress first;
    bool sawFirst = false;
};

class cFirstAndLast : public cPayloadObserver {
public:
    explicit cFirstAndLast(sStreamed& r) : r_(r) {}
    void onPayloadProgress(const sPayloadProgress& p) override {
        if (!r_.sawFirst) r_.first = p;
        r_.sawFirst = true;
        r_.seen.onPayloadProgress(p);
        if (p.checkedDone < r_.seen.last.checkedDone) ++r_.seen.backwards;
    }

private:
    sStreamed& r_;
};

std::string itemsOf(cSoftPkg& pkg, std::vector<std::string>& out) {
    out.clear();
    for (std::uint32_t i = 0; i < pkg.count(); ++i) {
        unsigned char d[32];
        if (!pkg.digest(static_cast<int>(i), d)) return "no digest";
        out.push_back(std::to_string(pkg.sizeOf(static_cast<int>(i))) + ":" + qortest::hex(d, 32));
    }
    return "";
}

sStreamed streamCheck(cFileIOTarget* src, bool toEnd, int threads) {
    sStreamed r;
    cFirstAndLast observer(r);
    sPayloadOptions o;
    o.threads = threads;
    o.observer = &observer;
    cSoftPkgScenario s;
    r.ok = verifyPayloadStream(src, toEnd, s, o);
    r.fault = o.fault;
    itemsOf(s.package(), r.items);
    r.files = s.fileEntries().size();
    return r;
}

// A stream over bytes that cannot tell its size or position, read in
// small steps.
struct sUntold : SteppedStream {
    using SteppedStream::SteppedStream;
    long long size() override { return -1; }
};

// Python makes payloads from a good one and says what each holds: first
// the good one with an item of 5 MiB more, so that the body is worth the
// check's threads.  Variants that must pass (the table's items deflated, a
// second table that replaces a damaged first one, the table before the
// other sections) print "ok" and their items as size:sha256; damaged ones
// print the cause the check must name, where, and a word of its detail.
const char kMakeVariants[] = R"PY(
import hashlib, os, struct, sys, zlib
good, out, table_at = sys.argv[1], sys.argv[2], int(sys.argv[3])
b = open(good, 'rb').read()
body = zlib.decompress(b[49:])
sections, table = body[:table_at - 1], body[table_at:-1]
assert body[table_at - 1] == 13 and body[-1] == 0
def records(t):
    at, rs = 0, []
    while True:
        un, ln = struct.unpack_from('<II', t, at)
        if un == 0 and ln == 0: return rs
        rs.append((un, t[at + 8:at + 40], t[at + 40:at + 40 + ln])); at += 40 + ln
def plain(r):
    return zlib.decompress(r[2]) if r[0] not in (0, 0xFFFFFFFF) else r[2]
def tab(rs):
    return b''.join(struct.pack('<II', un, len(d)) + dg + d for un, dg, d in rs) + bytes(8)
def pack(body, ver=1, size=None, digest=None, z=None):
    z = zlib.compress(body, 6) if z is None else z
    return (b'QORSOPKG' + struct.pack('<BII', ver, len(body) if size is None else size, len(z))
            + (hashlib.sha256(body).digest() if digest is None else digest) + z)
rs = records(table) + [(0, hashlib.sha256(bytes(range(251)) * 20887).digest(), bytes(range(251)) * 20887)]
body = sections + b'\x0d' + tab(rs) + b'\x00'
b = pack(body)
lines = []
def ok(name, data, rs):
    open(os.path.join(out, name), 'wb').write(data)
    lines.append(name + ' ok ' + ' '.join('%d:%s' % (len(plain(r)), hashlib.sha256(plain(r)).hexdigest()) for r in rs))
def bad(name, data, cause, at, extra='-', word='-'):
    open(os.path.join(out, name), 'wb').write(data)
    lines.append('%s %s %d %s %s' % (name, cause, at, extra, word))
ok('asis', b, rs)
deflated = [(len(d), dg, zlib.compress(d, 9)) if i % 2 and d else (un, dg, d) for i, (un, dg, d) in enumerate(rs)]
ok('deflated', pack(sections + b'\x0d' + tab(deflated) + b'\x00'), deflated)
damaged = [(un, dg, d[:-1] + bytes([d[-1] ^ 1]) if d else d) for un, dg, d in rs]
ok('replaced', pack(sections + b'\x0d' + tab(damaged) + b'\x0d' + tab(rs) + b'\x00'), rs)
ok('table_first', pack(b'\x0d' + tab(rs) + sections + b'\x00'), rs)
n = len(b)
bad('empty', b'', 'notPayload', 0, '-', 'empty')
bad('magic', b'QORSOPKX' + b[8:], 'notPayload', 0, '-', 'QORSOPKG')
bad('version2', b[:8] + b'\x02' + b[9:], 'notPayload', 8, '-', 'version')
bad('header30', b[:30], 'truncated', 30, 0)
bad('cut', b[:n - 1000], 'truncated', n - 1000, n)
bad('plus1', b + b'x', 'trailing', n, 1)
bad('plus1M', b + bytes(1 << 20), 'trailing', n, 1 << 20)
bad('adler', b[:-1] + bytes([b[-1] ^ 0x40]), 'badStream', n - 4, '-', 'Adler-32')
bad('digest', b[:20] + bytes([b[20] ^ 1]) + b[21:], 'badBody', 0)
z = zlib.compress(body, 6)
bad('body_long', pack(body, size=len(body) + 1, z=z), 'badHeader', 9, '-', 'inflates to %d bytes' % len(body))
bad('body_short', pack(body, size=len(body) - 1, z=z), 'badHeader', 9, '-', 'more than')
bad('packed_long', pack(body, z=z + b'\0\0\0'), 'badStream', 49 + len(z), '-', 'stream ends')
bad('ratio', b[:9] + struct.pack('<I', struct.unpack_from('<I', b, 13)[0] * 1040 + 1) + b[13:], 'notPayload', 9, '-', 'deflate')
k = len(rs) - 1
damaged_k = rs[:k] + [(rs[k][0], rs[k][1], rs[k][2][:-1] + bytes([rs[k][2][-1] ^ 1]))]
bad('item', pack(sections + b'\x0d' + tab(damaged_k) + b'\x00'), 'badItem', 0, k)
bad('tag14', pack(body[:-1] + b'\x0e\x00'), 'badLayout', len(body) - 1, '-', 'tag')
bad('table_cut', pack(body[:-20] + b'\x00'), 'badLayout', len(body) - 19, '-', 'inside')
bad('no_table', pack(sections + b'\x00'), 'badScenario', 0)
print('\n'.join(lines))
)PY";

// The package's payload and Python's variants of it in a folder.
struct sVariants {
    cPackage pkg;
    cSoftPkgScenario s;
    std::string file, folder, list;
    bool made = false;
    sVariants() {
        if (!pkg.compile(s)) return;
        sPayloadOptions o;
        file = pkg.dir.file("good.data");
        folder = pkg.dir.file("variants");
        if (!writeFile(file, saveToString(s, o)) || mkdir(folder.c_str(), 0755) != 0) return;
        unsigned long long table = 8;
        for (std::uint32_t i = 0; i < s.package().count(); ++i) table += 40 + s.package().sizeOf(static_cast<int>(i));
        int status = -1;
        list = runPython(kMakeVariants, file + " " + folder + " " + std::to_string(tableOffset(file, table)), &status);
        made = status == 0;
    }
};

sPayloadFault::eCause causeNamed(const std::string& name) {
    using F = sPayloadFault;
    const std::pair<const char*, F::eCause> names[] = {
        {"notPayload", F::notPayload}, {"truncated", F::truncated}, {"trailing", F::trailing},
        {"badStream", F::badStream},   {"badBody", F::badBody},     {"badLayout", F::badLayout},
        {"badItem", F::badItem},       {"badScenario", F::badScenario}, {"badHeader", F::badHeader}};
    for (const auto& n : names)
        if (name == n.first) return n.second;
    return F::none;
}

}  // namespace

TEST(PayloadStream, AgreesWithTheInMemoryReaderAndPythonWhateverTheThreadsAndTheSource) {
    sVariants v;
    ASSERT_TRUE(v.made) << v.list;
    std::istringstream lines(v.list);
    int variants = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, verdict;
        words >> name >> verdict;
        if (verdict != "ok") continue;
        ++variants;
        std::vector<std::string> want;
        for (std::string w; words >> w;) want.push_back(w);
        const std::string bytes = readFile(v.folder + "/" + name);
        // The in-memory reader with every item checked: the same items.
        cSoftPkgScenario whole;
        sPayloadOptions checked;
        checked.verifyItems = true;
        SteppedStream mem(bytes);
        ASSERT_TRUE(whole.loadBinConfig(&mem, checked)) << name;
        std::vector<std::string> inMemory;
        itemsOf(whole.package(), inMemory);
        EXPECT_EQ(inMemory, want) << name;
        for (int threads : {1, 3}) {
            cFileIO in;
            ASSERT_TRUE(in.open((v.folder + "/" + name).c_str(), fmRead));
            sUntold untold(bytes, 7000);
            for (cFileIOTarget* src : {static_cast<cFileIOTarget*>(&in), static_cast<cFileIOTarget*>(&untold)}) {
                const sStreamed r = streamCheck(src, true, threads);
                const std::string what = name + ", " + std::to_string(threads) + " threads" +
                                         (src == &in ? ", file" : ", untold stream");
                ASSERT_TRUE(r.ok) << what << ": " << describePayloadFault(r.fault, name);
                EXPECT_EQ(r.items, want) << what;
                EXPECT_EQ(r.files, whole.fileEntries().size()) << what;
                // The totals from the header before a byte was inflated; the
                // end with every byte and item counted, never backwards.
                EXPECT_TRUE(r.sawFirst && r.first.plainDone == 0 && r.first.checkedDone == 0) << what;
                EXPECT_EQ(r.first.plainTotal + 0, r.seen.last.plainTotal) << what;
                EXPECT_EQ(r.first.packedTotal + 49, bytes.size()) << what;
                EXPECT_EQ(r.first.checkedTotal, r.first.plainTotal) << what;
                EXPECT_EQ(r.seen.last.checkedDone, r.seen.last.checkedTotal) << what;
                EXPECT_EQ(r.seen.last.packedDone, r.seen.last.packedTotal) << what;
                // Every record checked is counted: those of a table replaced too.
                EXPECT_EQ(r.seen.last.items, want.size() * (name == "replaced" ? 2 : 1)) << what;
                EXPECT_EQ(r.seen.last.itemsTotal, r.seen.last.items) << what;
                EXPECT_EQ(r.seen.backwards, 0) << what;
            }
        }
    }
    EXPECT_EQ(variants, 4) << v.list;

    // Items known by their records alone: sizes and digests, no bytes to
    // read, check or pack again.
    cFileIO in;
    ASSERT_TRUE(in.open(v.file.c_str(), fmRead));
    cSoftPkgScenario streamed;
    sPayloadOptions so;
    ASSERT_TRUE(verifyPayloadStream(&in, true, streamed, so));
    ASSERT_EQ(streamed.package().count(), v.s.package().count());
    EXPECT_EQ(streamed.package().sizeOf(1), v.s.package().sizeOf(1));
    EXPECT_EQ(streamed.package().item(1), nullptr);
    EXPECT_FALSE(streamed.package().verify(1));
    cMemIOTarget again;
    EXPECT_FALSE(streamed.package().savePackage(&again));
    EXPECT_FALSE(streamed.saveBinConfig(&again, so));
    EXPECT_EQ(so.fault.cause, sPayloadFault::notHeld);
    EXPECT_EQ(so.fault.item, 0);
}

// The in-memory reader decodes the body in one call: every deflate encoding
// zlib makes (stored, fixed and dynamic blocks, flushes of every kind) gives
// the items Python's hashlib gives, and a payload whose packed bytes were
// damaged is refused exactly when zlib and hashlib refuse it.
TEST(PayloadRead, TheWholeBodyIsTakenInEveryEncodingAndRefusedWhereZlibRefusesIt) {
    sVariants v;
    ASSERT_TRUE(v.made) << v.list;
    const std::string out = v.pkg.dir.file("encodings");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const std::string list = runPython(R"PY(
import hashlib, os, random, struct, sys, zlib
b, out = open(sys.argv[1], 'rb').read(), sys.argv[2]
body = zlib.decompress(b[49:])
def pack(z):
    return b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(z)) + hashlib.sha256(body).digest() + z
def deflate(level, strategy, flushes):
    c = zlib.compressobj(level, zlib.DEFLATED, 15, 9, strategy)
    step = len(body) // (len(flushes) + 1) + 1
    parts = [c.compress(body[i * step:(i + 1) * step]) + (c.flush(f) if i < len(flushes) else c.flush())
             for i, f in enumerate(flushes + [None])]
    return b''.join(parts)
F = zlib
kinds = {'stored': (0, F.Z_DEFAULT_STRATEGY, []), 'fast': (1, F.Z_DEFAULT_STRATEGY, [F.Z_SYNC_FLUSH]),
         'best': (9, F.Z_DEFAULT_STRATEGY, [F.Z_FULL_FLUSH, F.Z_PARTIAL_FLUSH, F.Z_BLOCK]),
         'huffman': (6, F.Z_HUFFMAN_ONLY, []), 'rle': (6, F.Z_RLE, [F.Z_SYNC_FLUSH]), 'fixed': (6, F.Z_FIXED, [])}
lines = []
for name, (level, strategy, flushes) in kinds.items():
    open(os.path.join(out, name), 'wb').write(pack(deflate(level, strategy, flushes)))
    lines.append(name + ' ok')
r = random.Random(7)
good = pack(deflate(9, F.Z_DEFAULT_STRATEGY, []))
for k in range(40):
    at = r.randrange(49, len(good))
    bad = bytearray(good)
    bad[at] ^= 1 << r.randrange(8)
    try:
        d = zlib.decompressobj()
        got = d.decompress(bytes(bad[49:]))
        verdict = d.eof and not d.unused_data and got == body
    except zlib.error:
        verdict = False
    name = 'flip%d' % k
    open(os.path.join(out, name), 'wb').write(bytes(bad))
    lines.append(name + (' ok' if verdict else ' bad'))
print('\n'.join(lines))
)PY", v.file + " " + out);
    std::vector<std::string> want;
    itemsOf(v.s.package(), want);
    std::istringstream lines(list);
    int ok = 0, refused = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, verdict;
        words >> name >> verdict;
        const std::string bytes = readFile(out + "/" + name);
        cSoftPkgScenario back;
        sPayloadOptions checked;
        checked.verifyItems = true;
        SteppedStream mem(bytes);
        const bool loaded = back.loadBinConfig(&mem, checked);
        EXPECT_EQ(loaded, verdict == "ok") << name;
        // From a source that cannot tell its size: the packed bytes are
        // gathered as they come, then decoded the same way.
        cSoftPkgScenario untoldBack;
        sUntold untold(bytes, 5000);
        EXPECT_EQ(untoldBack.loadBinConfig(&untold, checked), loaded) << name;
        if (!loaded) {
            ++refused;
            continue;
        }
        ++ok;
        std::vector<std::string> items, untoldItems;
        itemsOf(back.package(), items);
        itemsOf(untoldBack.package(), untoldItems);
        EXPECT_EQ(items, want) << name;
        EXPECT_EQ(untoldItems, want) << name;
    }
    // Six encodings, and damage that zlib refuses.
    EXPECT_GE(ok, 6) << list;
    EXPECT_GE(refused, 30) << list;
}

TEST(PayloadStream, EachDamageIsNamedWithItsCauseAndWhere) {
    sVariants v;
    ASSERT_TRUE(v.made) << v.list;
    std::istringstream lines(v.list);
    int damaged = 0;
    std::map<std::string, std::string> memoryCauses;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, cause, extra, word;
        unsigned long long at = 0;
        words >> name >> cause;
        if (cause == "ok") continue;
        words >> at >> extra >> word;
        ++damaged;
        const std::string bytes = readFile(v.folder + "/" + name);
        const bool sized = cause != "trailing" || extra != "1";
        for (int threads : {1, 3}) {
            cFileIO in;
            ASSERT_TRUE(in.open((v.folder + "/" + name).c_str(), fmRead));
            sUntold untold(bytes, 5000);
            // A source that cannot tell its size learns of a truncation or of
            // bytes after the payload only as it reads: the same cause.
            cFileIOTarget* src = sized ? static_cast<cFileIOTarget*>(&in) : &untold;
            const sStreamed r = streamCheck(src, true, threads);
            const std::string what = name + ", " + std::to_string(threads) + " threads: " +
                                     describePayloadFault(r.fault, name);
            EXPECT_FALSE(r.ok) << what;
            EXPECT_EQ(r.fault.cause, causeNamed(cause)) << what;
            if (cause == "badItem") {
                EXPECT_EQ(r.fault.item, std::stoll(extra)) << what;
                // Loaded all the same, so that the item's destination can be named.
                EXPECT_EQ(r.files, v.s.fileEntries().size()) << what;
            } else {
                EXPECT_EQ(r.fault.at, at) << what;
            }
            if ((cause == "truncated" || cause == "trailing") && sized) {
                EXPECT_EQ(std::to_string(r.fault.total), extra) << what;
            }
            if (word != "-") {
                EXPECT_NE(describePayloadFault(r.fault, name).find(word), std::string::npos) << what;
            }
        }
        // The in-memory reader refuses them too, but for bytes after the
        // payload, which a package v.file holds after it.
        cSoftPkgScenario back;
        sPayloadOptions checked;
        checked.verifyItems = true;
        SteppedStream mem(bytes);
        EXPECT_EQ(back.loadBinConfig(&mem, checked), cause == "trailing") << name;
        // And says why, never with a save's words.
        if (cause != "trailing") {
            EXPECT_TRUE(static_cast<bool>(checked.fault)) << name;
            const std::string said = describePayloadFault(checked.fault, name);
            EXPECT_EQ(said.find("could not be saved"), std::string::npos) << name << ": " << said;
            memoryCauses[name] = said;
        }
    }
    EXPECT_EQ(damaged, 17) << v.list;
    EXPECT_NE(memoryCauses["tag14"].find("section tag 14"), std::string::npos) << memoryCauses["tag14"];
    EXPECT_NE(memoryCauses["version2"].find("version 2"), std::string::npos) << memoryCauses["version2"];

    // Both trailing cases from a stream that cannot tell its size, and a
    // source whose reads fail part way.
    const std::string good = readFile(v.file);
    for (std::size_t more : {std::size_t{1}, std::size_t{1} << 20}) {
        sUntold untold(good + std::string(more, 'x'), 3000);
        const sStreamed r = streamCheck(&untold, true, 2);
        EXPECT_EQ(r.fault.cause, sPayloadFault::trailing) << more;
        EXPECT_EQ(r.fault.at, good.size()) << more;
        sUntold allowed(good + std::string(more, 'x'), 3000);
        EXPECT_TRUE(streamCheck(&allowed, false, 2).ok) << more;
    }
    SteppedStream failing(good, 4096, 200000);
    const sStreamed r = streamCheck(&failing, true, 1);
    EXPECT_EQ(r.fault.cause, sPayloadFault::readFailed);
    // Reads of 4096 bytes after the header's 49: the first one to start at
    // or past byte 200000 fails.
    EXPECT_EQ(r.fault.at, 49 + (200000 - 49 + 4095) / 4096 * 4096);
}

// Checked beside its writer, each of Python's payloads gets the verdict
// Python gives it: the bytes after the header come in small steps from a
// source that cannot tell its size, as a file being written does, and the
// header (with the length of what follows it) only once they are all read.
// The body's size is the one the header holds, as a writer announces what
// it then writes.  Headers no writer makes (no magic, a size deflate cannot
// reach, cut short) are left to the check of a payload read whole.
TEST(PayloadStream, ACheckBesideTheWriterReachesPythonsVerdictForEveryPayload) {
    sVariants v;
    ASSERT_TRUE(v.made) << v.list;
    std::istringstream lines(v.list);
    int checked = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, cause, extra;
        unsigned long long at = 0;
        words >> name >> cause >> at >> extra;
        if (name == "empty" || name == "magic" || name == "header30" || name == "ratio") continue;
        const std::string bytes = readFile(v.folder + "/" + name);
        ASSERT_GE(bytes.size(), sPayloadHeader::kSize) << name;
        sPayloadHeader header;
        const bool known = header.read(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) ==
                           sPayloadHeader::ok;
        for (int threads : {1, 3}) {
            sUntold after(bytes.substr(sPayloadHeader::kSize), 3000);
            after.tellsPosition = true;
            bool asked = false;
            const tWrittenHeader written = [&](unsigned char (&head)[sPayloadHeader::kSize], long long& have) {
                // Only once the stream has been read to its end (the
                // payload's, where other bytes follow it).
                const unsigned long long end = cause == "trailing" ? at : bytes.size();
                EXPECT_GE(after.get_fp(), static_cast<long long>(end - sPayloadHeader::kSize)) << name;
                asked = true;
                std::memcpy(head, bytes.data(), sizeof head);
                have = static_cast<long long>(bytes.size() - sPayloadHeader::kSize);
                return true;
            };
            sPayloadOptions o;
            o.threads = threads;
            cSoftPkgScenario s;
            const bool ok = verifyPayloadAsWritten(&after, known ? header.bodySize : v.s.package().count() * 40ull + 64,
                                                   written, s, o);
            const std::string what = name + ", " + std::to_string(threads) + " threads: " +
                                     describePayloadFault(o.fault, name);
            EXPECT_TRUE(asked || cause == "truncated") << what;
            if (cause == "ok") {
                EXPECT_TRUE(ok) << what;
                std::vector<std::string> items;
                itemsOf(s.package(), items);
                std::istringstream expected(line.substr(line.find(" ok ") + 4));
                for (std::size_t i = 0; i < items.size(); ++i) {
                    std::string want;
                    expected >> want;
                    EXPECT_EQ(items[i], want) << what;
                }
                continue;
            }
            EXPECT_FALSE(ok) << what;
            EXPECT_EQ(o.fault.cause, causeNamed(cause)) << what;
            if (cause == "badItem") {
                EXPECT_EQ(o.fault.item, std::stoll(extra)) << what;
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, 17) << v.list;

    // A writer that fails ends the check with it: nothing is said of the
    // payload, whose fault is the writer's to tell.
    const std::string good = readFile(v.file);
    sUntold cut(good.substr(sPayloadHeader::kSize, 100000), 3000);
    sPayloadOptions o;
    cSoftPkgScenario s;
    const tWrittenHeader failed = [](unsigned char (&)[sPayloadHeader::kSize], long long&) { return false; };
    sPayloadHeader header;
    ASSERT_EQ(header.read(reinterpret_cast<const unsigned char*>(good.data()), good.size()), sPayloadHeader::ok);
    EXPECT_FALSE(verifyPayloadAsWritten(&cut, header.bodySize, failed, s, o));
    EXPECT_FALSE(static_cast<bool>(o.fault)) << describePayloadFault(o.fault, "good");
}

// One field of an intact payload's header damaged at a time, and an item's
// bytes damaged inside the packed stream: each named as Python reads the
// layout.  A size that disagrees with the file's length or with the stream
// names that size; damage to an item's bytes names the item, and where the
// stream broke when it did.  Lines: name, the message ("@" for the file;
// "ok" when it holds), the item named (-1 none), and the message when the
// payload comes through a pipe ("=": the same): its length is known only
// at its end, and its header's sizes are taken at their word until then.
const char kMakeDamagedFields[] = R"PY(
import hashlib, os, struct, sys, zlib
good, asis, out, table_at = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
b = open(good, 'rb').read()
L = len(b)
ver, N, P = struct.unpack_from('<BII', b, 8)
assert L == 49 + P
rows = []
def case(name, data, want, item=-1, piped='='):
    open(os.path.join(out, name), 'wb').write(data)
    rows.append('%s\t%s\t%d\t%s' % (name, want, item, piped))
for i in range(8):
    case('magic%d' % i, b[:i] + bytes([b[i] ^ 0x20]) + b[i + 1:], '@ is not a payload: it does not begin with "QORSOPKG"')
for v in (2, 0x80, 0xFF):
    case('version%d' % v, b[:8] + bytes([v]) + b[9:], '@ is not a payload: its format version %d is not known (0 to 1 are)' % v)
case('version0', b[:8] + b'\0' + b[9:], 'ok')
for n in (N + 1, N + 70000, N - 1, N // 2, 1, 0, 0xFFFFFFFF):
    if n == 0:
        want = "@ is not a payload: its header's body size is 0 bytes; a body holds at least its end tag"
    elif n > P * 1040:
        want = ("@ is not a payload: its header's body size, %d bytes, is more than deflate makes of its header's "
                "packed size, %d bytes" % (n, P))
    elif n > N:
        want = "@: its header's body size is %d bytes, but its stream inflates to %d bytes" % (n, N)
    else:
        want = "@: its header's body size is %d bytes, but its stream inflates to more than that: %d bytes" % (n, N)
    case('body%d' % n, b[:9] + struct.pack('<I', n) + b[13:], want)
for n in (P + 1, P + 70000, P - 1, P // 2, 1, 0, 0xFFFFFFFF, P ^ 0x10000):
    if n == 0:
        piped = "@ is not a payload: its header's packed size is 0 bytes"
    elif N > n * 1040:
        piped = ("@ is not a payload: its header's body size, %d bytes, is more than deflate makes of its header's "
                 "packed size, %d bytes" % (N, n))
    else:
        piped = '='
    case('packed%d' % n, b[:13] + struct.pack('<I', n) + b[17:],
         "@: its header's packed size, %d bytes, disagrees with its length, %d bytes: its stream ends with the file, "
         "after %d packed bytes" % (n, L, P), -1, piped)
for at in (17, 48):
    case('digest%d' % at, b[:at] + bytes([b[at] ^ 1]) + b[at + 1:], "@: the body's SHA-256 digest is wrong")

# The items' bytes: the body of the payload with a large item packed in
# stored blocks, so that a packed byte is a body byte; the first item's data
# damaged, then the length pair of a stored block inside it.
a = open(asis, 'rb').read()
body = zlib.decompress(a[49:])
start = table_at + 40
size = struct.unpack_from('<I', body, table_at + 4)[0]
z = zlib.compress(body, 0)
blocks, pos, plain = [], 2, 0
while True:
    head = z[pos]
    assert head >> 1 & 3 == 0, 'a stored block'
    n, = struct.unpack_from('<H', z, pos + 1)
    blocks.append((pos, plain, n))
    pos, plain = pos + 5 + n, plain + n
    if head & 1: break
assert plain == len(body) and pos + 4 == len(z)
def packed_at(body_at):
    for p, first, n in blocks:
        if first <= body_at < first + n: return p + 5 + body_at - first
payload = lambda z: b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(z)) + hashlib.sha256(body).digest() + z
flip = lambda z, at: z[:at] + bytes([z[at] ^ 0x10]) + z[at + 1:]
case('item_byte', payload(flip(z, packed_at(start + size // 2))),
     '@: the packed body is damaged inside item 0: its bytes do not match its digest', 0)
p = next(p for p, first, n in blocks if start < first < start + size)
try:
    zlib.decompress(flip(z, p + 4))
    assert False, 'decoded'
except zlib.error as e:
    why = str(e).split(': ', 1)[1]
case('item_block', payload(flip(z, p + 4)),
     '@: the packed body is damaged inside item 0, and breaks at byte %d: inflate: %s' % (49 + p + 4, why), 0)
print('\n'.join(rows))
)PY";

TEST(PayloadStream, ADamagedHeaderFieldOrItemIsNamed) {
    sVariants v;
    ASSERT_TRUE(v.made) << v.list;
    const std::string out = v.pkg.dir.file("fields");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    unsigned long long table = 8;
    for (std::uint32_t i = 0; i < v.s.package().count(); ++i) table += 40 + v.s.package().sizeOf(static_cast<int>(i));
    int status = -1;
    const std::string list =
        runPython(kMakeDamagedFields,
                  v.file + " " + v.folder + "/asis " + out + " " + std::to_string(tableOffset(v.file, table)), &status);
    ASSERT_EQ(status, 0) << list;
    std::istringstream lines(list);
    int rows = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name, told, item, piped;
        std::getline(fields, name, '\t');
        std::getline(fields, told, '\t');
        std::getline(fields, item, '\t');
        std::getline(fields, piped, '\t');
        if (piped == "=") piped = told;
        ++rows;
        const std::string path = out + "/" + name;
        for (std::string* want : {&told, &piped})
            for (std::size_t at; (at = want->find('@')) != std::string::npos;) want->replace(at, 1, path);
        const std::string bytes = readFile(path);
        for (int threads : {1, 3}) {
            cFileIO in;
            ASSERT_TRUE(in.open(path.c_str(), fmRead));
            sUntold untold(bytes, 70000);
            // The file's length, whether told at once or found at its end.
            for (cFileIOTarget* src : {static_cast<cFileIOTarget*>(&in), static_cast<cFileIOTarget*>(&untold)}) {
                const sStreamed r = streamCheck(src, true, threads);
                const std::string what = name + ", " + std::to_string(threads) + " threads" +
                                         (src == &in ? ", file" : ", untold stream");
                const std::string& want = src == &in ? told : piped;
                if (want == "ok") {
                    EXPECT_TRUE(r.ok) << what << ": " << describePayloadFault(r.fault, path);
                    continue;
                }
                EXPECT_FALSE(r.ok) << what;
                EXPECT_EQ(describePayloadFault(r.fault, path), want) << what;
                EXPECT_EQ(r.fault.item, std::stoll(item)) << what;
                // Loaded as far as it goes, so that the item's destination
                // can be named.
                if (r.fault.item >= 0) {
                    EXPECT_EQ(r.files, v.s.fileEntries().size()) << what;
                }
            }
        }
    }
    EXPECT_EQ(rows, 31) << list;
}

namespace {

// Does `change` to the package's large file once, as soon as the writer
// reports that it is packing that file (item 1): after its first reading,
// before its second has read it all.
class cChangeWhilePacked : public cPayloadObserver {
public:
    explicit cChangeWhilePacked(std::function<void()> change) : change_(std::move(change)) {}
    void onPayloadProgress(const sPayloadProgress& p) override {
        if (p.items == 1 && change_) {
            change_();
            change_ = nullptr;
        }
    }

private:
    std::function<void()> change_;
};

struct sWriteCase {
    TempDir dir;
    std::string big, scenario;
    static constexpr std::size_t kBig = 4u << 20;
    sWriteCase() {
        big = dir.file("big.bin");
        const auto bytes = qortest::pattern(kBig, 11);
        writeFile(big, std::string(bytes.begin(), bytes.end()));
        // Made long ago: a write while it is packed gives it another time,
        // however coarsely the clock of the file system ticks.
        const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, big.c_str(), past, 0), 0);
        writeFile(dir.file("small.txt"), "small");
        writeFile(dir.file("doc.hdl"), "Licence.");
        writeFile(dir.file("doc.idx"), "ENG=\"./doc.hdl\"\n");
        scenario = dir.file("s.txt");
        writeFile(scenario, "[General]\nlangs = ENG\n[Software]\ncodename = \"w\"\neula = \"" + dir.file("doc.idx") +
                                "\"\n[Install]\n\"" +
                                dir.file("small.txt") + "\" = $pgm \"small\"\n\"" + big + "\" = $pgm \"big\"\n");
    }
    // Compiles, lets `prepare` act, and saves with files over 1 MiB read
    // twice; the fault, or cause none when it saved.
    sPayloadFault save(const std::function<void()>& prepare, cPayloadObserver* observer = nullptr) {
        cSoftPkgScenario s;
        int line = 0;
        EXPECT_EQ(s.loadTextConfig(scenario.c_str(), line), 0);
        if (prepare) prepare();
        sPayloadOptions o;
        o.threads = 2;
        o.heldFileBytes = 1u << 20;
        o.observer = observer;
        // The change comes through the observer, which hears of blocks
        // written; while a digest is pending none are.
        if (observer) o.packAheadOfDigest = 0;
        cMemIOTarget m;
        const bool ok = s.saveBinConfig(&m, o);
        EXPECT_EQ(ok, !o.fault) << describePayloadFault(o.fault, "out.data");
        return o.fault;
    }
};

// Inputs too short or too strange to be payloads, and no source at all:
// each refused with a fault that says so.
TEST(PayloadRead, EveryRefusalOfTheInMemoryReaderSaysWhy) {
    struct Case {
        const char* what;
        std::string bytes;  // "-": no source
        sPayloadFault::eCause cause;
        const char* word;
    };
    const std::string magic = "QORSOPKG";
    const Case cases[] = {
        {"no source", "-", sPayloadFault::readFailed, "cannot read"},
        {"empty", "", sPayloadFault::truncated, "inside its 49-byte header"},
        {"the magic alone", magic, sPayloadFault::truncated, "at byte 8"},
        {"another file", "#!/bin/sh\necho not a payload\n" + std::string(40, ' '), sPayloadFault::notPayload, "magic"},
        {"a newer version", magic + std::string(1, '\x07') + std::string(40, '\0'), sPayloadFault::notPayload, "version 7"},
        {"sizes of nothing", magic + std::string(1, '\x01') + std::string(40, '\0'), sPayloadFault::notPayload, "sizes"},
        {"packed bytes missing",
         magic + std::string("\x01\x10\0\0\0\x10\0\0\0", 9) + std::string(32, '\0') + "abc", sPayloadFault::truncated,
         "announces 65"},
    };
    for (const Case& c : cases) {
        cSoftPkgScenario s;
        sPayloadOptions o;
        o.fault.cause = sPayloadFault::writeFailed;  // left from an earlier call
        bool ok;
        if (c.bytes == "-") {
            ok = s.loadBinConfig(nullptr, o);
        } else {
            SteppedStream in(c.bytes);
            ok = s.loadBinConfig(&in, o);
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(o.fault.cause, c.cause) << c.what;
        const std::string said = describePayloadFault(o.fault, "p.data");
        EXPECT_NE(said.find(c.word), std::string::npos) << c.what << ": " << said;
    }
}

}  // namespace

TEST(PayloadWrite, EachFailureNamesTheFileAndItsCause) {
    using F = sPayloadFault;
    // A change that keeps the size is told by the file's times.
    struct sChange {
        const char* what;
        std::function<void(const std::string&)> change;
        unsigned long long after;
        std::string says;
    } changes[] = {
        {"grew", [](const std::string& p) { EXPECT_EQ(truncate(p.c_str(), sWriteCase::kBig + 10), 0); },
         sWriteCase::kBig + 10, std::to_string(sWriteCase::kBig + 10) + " bytes now"},
        {"shrank", [](const std::string& p) { EXPECT_EQ(truncate(p.c_str(), 1000), 0); }, 1000, "1000 bytes now"},
        {"changed in place",
         [](const std::string& p) {
             cFileIO f;
             ASSERT_TRUE(f.open(p.c_str(), fmReadWrite) && f.set_fp(sWriteCase::kBig - 1));
             unsigned char b = 0x5A;
             ASSERT_TRUE(f.writef(&b, 1));
         },
         sWriteCase::kBig, "modified after it was added"},
    };
    for (const sChange& c : changes) {
        sWriteCase w;
        cChangeWhilePacked observer([&] { c.change(w.big); });
        const F f = w.save(nullptr, &observer);
        EXPECT_EQ(f.cause, F::fileChanged) << c.what;
        EXPECT_EQ(f.path, w.big) << c.what;
        EXPECT_EQ(f.before, sWriteCase::kBig) << c.what;
        EXPECT_EQ(f.after, c.after) << c.what;
        const std::string text = describePayloadFault(f, "out.data");
        EXPECT_NE(text.find(w.big + " changed while it was packed"), std::string::npos) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
    }
    // Gone after compiling, and unreadable to the packer.
    {
        sWriteCase w;
        const F f = w.save([&] { EXPECT_EQ(unlink(w.big.c_str()), 0); });
        EXPECT_EQ(f.cause, F::fileUnreadable);
        EXPECT_EQ(f.error, ENOENT);
        EXPECT_EQ(describePayloadFault(f, "out.data"), "cannot read " + w.big + ": " + std::strerror(ENOENT));
    }
    {
        sWriteCase w;
        ASSERT_EQ(chmod(w.dir.path().c_str(), 0777), 0);
        ASSERT_EQ(chmod(w.big.c_str(), 0666), 0);
        EXPECT_TRUE(qortest::asUnprivileged([&] {
            // A file of the same size in its place that its owner may not read.
            const F f = w.save([&] {
                ASSERT_EQ(unlink(w.big.c_str()), 0);
                const int fd = ::open(w.big.c_str(), O_CREAT | O_WRONLY, 0);
                ASSERT_GE(fd, 0);
                ASSERT_EQ(ftruncate(fd, sWriteCase::kBig), 0);
                ::close(fd);
            });
            EXPECT_EQ(f.cause, F::fileUnreadable);
            EXPECT_EQ(f.error, EACCES);
            EXPECT_EQ(f.path, w.big);
        }));
    }
}

// A file rewritten in place with as many bytes between two pieces of a
// reading, held whole or read twice: the payload would mix both versions.
// Its status after the reading is not the one it was added with.
TEST(PayloadWrite, AFileRewrittenInPlaceAsItIsReadIsNamedWhateverItsSize) {
    using F = sPayloadFault;
    for (const unsigned long long held : {8ull << 20, 1ull << 20}) {
        sWriteCase w;
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(s.loadTextConfig(w.scenario.c_str(), line), 0);
        sPayloadOptions o;
        o.threads = 2;
        o.heldFileBytes = held;
        std::atomic<int> rewrites{0};
        o.onFilePiece = [&](const std::string& path, unsigned long long from, unsigned long long to) {
            if (path != w.big || from != 0 || to >= sWriteCase::kBig || rewrites.exchange(1)) return;
            const auto other = qortest::pattern(sWriteCase::kBig, 12);
            const int fd = ::open(w.big.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
            ::close(fd);
        };
        cMemIOTarget m;
        EXPECT_FALSE(s.saveBinConfig(&m, o)) << held;
        EXPECT_EQ(rewrites.load(), 1) << held;
        EXPECT_EQ(o.fault.cause, F::fileChanged) << held;
        EXPECT_EQ(o.fault.path, w.big) << held;
        EXPECT_EQ(describePayloadFault(o.fault, "out.data"), w.big + " changed while it was packed: modified after it was added")
            << held;
    }
}

TEST(PayloadWrite, AFullDiskAndTheFormatsLimitAreNamed) {
    using F = sPayloadFault;
    sWriteCase w;
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(s.loadTextConfig(w.scenario.c_str(), line), 0);
    // The body written to a device that is always full.
    cFileIO full;
    ASSERT_TRUE(full.open("/dev/full", fmWrite));
    sPayloadOptions o;
    unsigned char digest[32];
    unsigned long long body = 0, packed = 0;
    const std::vector<unsigned char> prefix(100, 1);
    EXPECT_FALSE(writePayloadBody(&full, prefix, s.package(), o, digest, body, packed));
    EXPECT_EQ(o.fault.cause, F::writeFailed);
    EXPECT_EQ(o.fault.error, ENOSPC);
    EXPECT_EQ(describePayloadFault(o.fault, "/x/out.data"),
              std::string("cannot write /x/out.data: ") + std::strerror(ENOSPC));

    // Two sparse files of 2.2 GiB: the body would pass 4 GiB.  The total is
    // the body of the same package with small files, less them, plus them.
    const std::string header = saveToString(s, o);
    ASSERT_GT(header.size(), 49u);
    const unsigned long long smallBody = static_cast<unsigned char>(header[9]) |
                                         static_cast<unsigned char>(header[10]) << 8 |
                                         static_cast<unsigned long long>(static_cast<unsigned char>(header[11])) << 16 |
                                         static_cast<unsigned long long>(static_cast<unsigned char>(header[12])) << 24;
    const unsigned long long huge = 2200ull << 20;
    ASSERT_EQ(truncate(w.big.c_str(), static_cast<off_t>(huge)), 0);
    ASSERT_EQ(truncate(w.dir.file("small.txt").c_str(), static_cast<off_t>(huge)), 0);
    const F f = w.save(nullptr);
    EXPECT_EQ(f.cause, F::tooLarge);
    EXPECT_EQ(f.total, smallBody - sWriteCase::kBig - 5 + 2 * huge);
    const std::string text = describePayloadFault(f, "out.data");
    EXPECT_NE(text.find(std::to_string(f.total) + " bytes (4.3 GiB)"), std::string::npos) << text;
    EXPECT_NE(text.find("at most 4294967295 bytes"), std::string::npos) << text;
}

// A large file packed while its digest is still being taken: the payload
// is the one made when the digest is waited for, byte for byte, whatever
// the threads and however much is packed ahead of the digest; a file that
// changed before is named all the same.
TEST(PayloadWrite, PackingAheadOfADigestGivesTheSameBytes) {
    sWriteCase w;
    // The large file first, so that its digest is not known when its turn
    // comes; 16 MiB, so that it is not known for a while.
    const auto bytes = qortest::pattern(16u << 20, 12);
    writeFile(w.big, std::string(bytes.begin(), bytes.end()));
    writeFile(w.scenario, "[General]\nlangs = ENG\n[Software]\ncodename = \"w\"\neula = \"" + w.dir.file("doc.idx") +
                              "\"\n[Install]\n\"" + w.big + "\" = $pgm \"big\"\n\"" + w.dir.file("small.txt") +
                              "\" = $pgm \"small\"\n");
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(s.loadTextConfig(w.scenario.c_str(), line), 0);
    std::string first;
    for (unsigned long long ahead : {0ull, 300000ull, 32ull << 20}) {
        for (int threads : {1, 3}) {
            sPayloadOptions o;
            o.threads = threads;
            o.heldFileBytes = 1u << 20;
            o.packAheadOfDigest = ahead;
            const std::string payload = saveToString(s, o);
            ASSERT_FALSE(payload.empty()) << describePayloadFault(o.fault, "out");
            if (first.empty()) first = payload;
            EXPECT_TRUE(payload == first) << ahead << " ahead, " << threads << " threads";
        }
    }
    const std::string file = w.dir.file("out.data");
    ASSERT_TRUE(writeFile(file, first));
    EXPECT_EQ(runPython(kReadPayload, file + " " + std::to_string(first.size())).substr(0, 13), "markers True\n");
    cFileIO in;
    ASSERT_TRUE(in.open(file.c_str(), fmRead));
    const sStreamed r = streamCheck(&in, true, 2);
    ASSERT_TRUE(r.ok) << describePayloadFault(r.fault, file);
    ASSERT_EQ(r.items.size(), 2u);
    unsigned char d[32];
    SHA2Hash(bytes.data(), d, static_cast<long long>(bytes.size()));
    EXPECT_EQ(r.items[0], std::to_string(bytes.size()) + ":" + qortest::hex(d, 32));

    // Grown after compiling: both readings find it, whichever first.
    ASSERT_EQ(truncate(w.big.c_str(), (16 << 20) + 10), 0);
    sPayloadOptions o;
    o.heldFileBytes = 1u << 20;
    EXPECT_EQ(saveToString(s, o), "");
    EXPECT_EQ(o.fault.cause, sPayloadFault::fileChanged);
    EXPECT_EQ(o.fault.before, 16u << 20);
    EXPECT_EQ(o.fault.after, (16u << 20) + 10);
}
