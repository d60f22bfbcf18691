// qor-test-labels: tsan
// Payloads through the parallel block deflater: bodies of many blocks that
// Python's zlib reads as one stream, the same bytes whatever the number of
// threads or the stream written to, files read whole or hashed ahead and
// streamed, progress counted to the end, files that changed refused, and
// payloads read back with every item checked.
#include "pakvane/scenario.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "../base/steppedstream.h"
#include "base/fileio.h"
#include "base/memio.h"
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
