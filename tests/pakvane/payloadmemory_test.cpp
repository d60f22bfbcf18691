// What the payload readers hold, counted: every allocation of this program
// goes through the counting operator new below, which keeps the bytes live
// and their peak.  A streamed check holds a few MiB whatever the payload's
// size; the in-memory reader holds the body, but never a body or an item
// that its header or record claims beyond what deflate can make.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "../base/steppedstream.h"
#include "base/fileio.h"
#include "base/memio.h"
#include "pakvane/payloadcheck.h"
#include "pakvane/pkg.h"
#include "pakvane/scenario.h"
#include "testsupport.h"

namespace {

std::atomic<long long> gLive{0}, gPeak{0};
// Allocations of kLargeBytes or more.
std::atomic<long long> gLarge{0};
constexpr std::size_t kLargeBytes = 4u << 20;

// Each block carries its size and the start of what malloc gave in front of
// what the caller gets, kHead bytes (a multiple of every alignment asked
// for below the aligned forms).
constexpr std::size_t kHead = 32;

void* counted(std::size_t n, std::size_t align) {
    const std::size_t head = align > kHead ? align : kHead;
    unsigned char* base = static_cast<unsigned char*>(std::malloc(n + head + (align > kHead ? align : 0)));
    if (!base) return nullptr;
    if (n >= kLargeBytes) ++gLarge;
    unsigned char* p = base + head;
    if (align > kHead) p = reinterpret_cast<unsigned char*>((reinterpret_cast<std::uintptr_t>(p) + align - 1) & ~(align - 1));
    std::memcpy(p - 16, &n, sizeof n);
    std::memcpy(p - 8, &base, sizeof base);
    const long long live = gLive += static_cast<long long>(n);
    for (long long peak = gPeak.load(); live > peak && !gPeak.compare_exchange_weak(peak, live);) {
    }
    return p;
}

void uncounted(void* v) {
    if (!v) return;
    unsigned char* p = static_cast<unsigned char*>(v);
    std::size_t n;
    unsigned char* base;
    std::memcpy(&n, p - 16, sizeof n);
    std::memcpy(&base, p - 8, sizeof base);
    gLive -= static_cast<long long>(n);
    std::free(base);
}

void* countedOrThrow(std::size_t n, std::size_t align) {
    if (void* p = counted(n, align)) return p;
    throw std::bad_alloc();
}

// The most bytes live at once while f runs, beyond those live before.
template <typename Fn>
long long peakOf(Fn&& f) {
    const long long before = gLive.load();
    gPeak = before;
    f();
    return gPeak.load() - before;
}

}  // namespace

void* operator new(std::size_t n) { return countedOrThrow(n, 16); }
void* operator new[](std::size_t n) { return countedOrThrow(n, 16); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted(n, 16); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted(n, 16); }
void* operator new(std::size_t n, std::align_val_t a) { return countedOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return countedOrThrow(n, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { uncounted(p); }
void operator delete(void* p, std::align_val_t) noexcept { uncounted(p); }
void operator delete[](void* p, std::align_val_t) noexcept { uncounted(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { uncounted(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { uncounted(p); }

namespace {

using qortest::runPython;
using qortest::TempDir;

constexpr long long kMiB = 1 << 20;

// A payload whose body holds one stored item of `mib` MiB, written by
// Python in pieces; prints the item's digest.
const char kBigPayload[] = R"PY(
import hashlib, struct, sys, zlib
out, mib = sys.argv[1], int(sys.argv[2])
piece = bytes(range(256)) * 4096  # 1 MiB
item = hashlib.sha256()
for _ in range(mib): item.update(piece)
head = (b'\x01' + struct.pack('<4i', 1, 0, 0, 0) + b'\0\0' * 4 + b'\x0d'
        + struct.pack('<II', 0, mib << 20) + item.digest())
tail = bytes(8) + b'\x00'
body, z, packed = hashlib.sha256(), zlib.compressobj(1), []
for part in [head] + [piece] * mib + [tail]:
    body.update(part)
    packed.append(z.compress(part))
packed.append(z.flush())
packed = b''.join(packed)
size = len(head) + (mib << 20) + len(tail)
open(out, 'wb').write(b'QORSOPKG' + struct.pack('<BII', 1, size, len(packed)) + body.digest() + packed)
print(item.hexdigest())
)PY";

}  // namespace

TEST(PayloadMemory, AStreamedCheckHoldsAFewMiBWhateverThePayloadsSize) {
    TempDir dir;
    const std::string file = dir.file("big.data");
    const std::string digest = runPython(kBigPayload, file + " 96");
    ASSERT_EQ(digest.size(), 65u) << digest;
    for (int threads : {1, 3}) {
        cFileIO in;
        ASSERT_TRUE(in.open(file.c_str(), fmRead));
        cSoftPkgScenario s;
        sPayloadOptions o;
        o.threads = threads;
        bool ok = false;
        const long long peak = peakOf([&] { ok = verifyPayloadStream(&in, true, s, o); });
        ASSERT_TRUE(ok) << describePayloadFault(o.fault, file);
        unsigned char d[32];
        ASSERT_TRUE(s.package().digest(0, d));
        EXPECT_EQ(qortest::hex(d, 32) + "\n", digest);
        EXPECT_EQ(s.package().sizeOf(0), 96u << 20);
        // The ring of body pieces, the packed piece and little else.
        EXPECT_LT(peak, 8 * kMiB) << threads << " threads";
    }
    // The reader that keeps the items holds the body: the count sees it.
    cFileIO in;
    ASSERT_TRUE(in.open(file.c_str(), fmRead));
    cSoftPkgScenario s;
    const long long whole = peakOf([&] { EXPECT_TRUE(s.loadBinConfig(&in)); });
    EXPECT_GT(whole, 96 * kMiB);
}

TEST(PayloadMemory, ABodyClaimedBeyondWhatDeflateMakesIsNeverAllocated) {
    // 64 KiB of packed bytes claim 1040 times as much body and one byte more.
    const auto noise = qortest::pattern(64 * 1024, 3);
    std::string payload = "QORSOPKG";
    payload.push_back(1);
    const unsigned long long packed = noise.size(), claim = packed * 1040 + 1;
    for (unsigned long long v : {claim, packed})
        for (int b = 0; b < 4; ++b) payload.push_back(static_cast<char>(v >> (8 * b)));
    payload += std::string(32, '\0');
    payload.append(noise.begin(), noise.end());
    struct sUntold : SteppedStream {
        using SteppedStream::SteppedStream;
        long long size() override { return -1; }
    };
    // A source that tells its size, and one read before its size is known.
    SteppedStream told(payload);
    sUntold untold(payload, 4096);
    for (cFileIOTarget* src : {static_cast<cFileIOTarget*>(&told), static_cast<cFileIOTarget*>(&untold)}) {
        cSoftPkgScenario s;
        bool ok = true;
        const long long peak = peakOf([&] { ok = s.loadBinConfig(src); });
        EXPECT_FALSE(ok);
        EXPECT_LT(peak, 4 * kMiB) << (src == &told ? "told" : "untold");
    }
    cSoftPkgScenario s;
    sPayloadOptions o;
    SteppedStream again(payload);
    bool ok = true;
    const long long peak = peakOf([&] { ok = verifyPayloadStream(&again, true, s, o); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(o.fault.cause, sPayloadFault::notPayload);
    EXPECT_LT(peak, 1 * kMiB);
}

TEST(PayloadMemory, AnItemClaimedBeyondWhatDeflateMakesIsCheckedWithoutItsClaim) {
    // 10000 bytes of noise deflated, the record's claim raised to one byte
    // past 1032 plain bytes for each stored one (some 10 MiB: under the
    // size that is decoded whole).
    const auto noise = qortest::pattern(10000, 4);
    cBufWrapperIO src(const_cast<unsigned char*>(noise.data()), static_cast<long long>(noise.size()), false);
    cSoftPkg pkg;
    ASSERT_EQ(pkg.addPkgItem(&src, true), 0);
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    ASSERT_TRUE(pkg.savePackage(&m) && m.toBuffer(b));
    std::string table(reinterpret_cast<const char*>(b.data()), b.bytes());
    const unsigned long long stored = static_cast<unsigned char>(table[4]) | static_cast<unsigned char>(table[5]) << 8;
    const unsigned long long claim = stored * 1032 + 1;
    ASSERT_LT(claim, 16u << 20);
    for (int k = 0; k < 4; ++k) table[static_cast<std::size_t>(k)] = static_cast<char>(claim >> (8 * k));
    cSoftPkg back;
    SteppedStream in(table);
    ASSERT_TRUE(back.loadPackage(&in));
    bool ok = true;
    const long long peak = peakOf([&] { ok = back.verify(0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(peak, static_cast<long long>(claim) / 8);
}

TEST(PayloadMemory, PackingHoldsABoundedAmountWhateverTheFilesSizes) {
    // A 192 MiB file (sparse: zeros) and forty of 1 MiB, which are read
    // ahead whole: what is held is the read-ahead budget twice (files read
    // ahead, and buffers kept for the next ones), the blocks in flight and
    // the large file's blocks packed ahead of its digest.
    TempDir dir;
    std::string install;
    {
        cFileIO f;
        ASSERT_TRUE(f.create(dir.file("big").c_str(), fmWrite) && f.set_eof(192u << 20));
    }
    install += "\"" + dir.file("big") + "\" = $pgm \"big\"\n";
    for (int i = 0; i < 40; ++i) {
        const std::string name = dir.file("f" + std::to_string(i));
        ASSERT_TRUE(qortest::writeFile(name, std::string(1u << 20, static_cast<char>('a' + i % 26))));
        install += "\"" + name + "\" = $pgm \"f" + std::to_string(i) + "\"\n";
    }
    ASSERT_TRUE(qortest::writeFile(dir.file("e.hdl"), "Licence."));
    ASSERT_TRUE(qortest::writeFile(dir.file("e.idx"), "ENG = \"./e.hdl\"\n"));
    const std::string scenario = dir.file("s.txt");
    ASSERT_TRUE(qortest::writeFile(scenario, "[General]\nlangs = ENG\n[Software]\ncodename = \"m\"\neula = \"" +
                                                 dir.file("e.idx") + "\"\n[Install]\n" + install));
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(s.loadTextConfig(scenario.c_str(), line), 0);
    for (int threads : {1, 4}) {
        cFileIO out;
        ASSERT_TRUE(out.create(dir.file("out.data").c_str(), fmReadWrite));
        sPayloadOptions o;
        o.threads = threads;
        bool ok = false;
        const long long peak = peakOf([&] { ok = s.saveBinConfig(&out, o); });
        ASSERT_TRUE(ok) << describePayloadFault(o.fault, "out.data");
        const long long bound = static_cast<long long>(2 * o.readAheadBytes +
                                                       2 * o.packAheadOfDigest) + 16 * kMiB;
        EXPECT_LT(peak, bound) << threads << " threads";
        EXPECT_LT(bound, 128 * kMiB);
    }
}

TEST(PayloadMemory, ATableReadAgainTakesTheBlockItReadBefore) {
    // Three items of 2 MiB stored and one of noise deflated: a table of
    // some 8 MiB.
    TempDir dir;
    const std::string file = dir.file("table");
    {
        cSoftPkg pkg;
        for (int i = 0; i < 4; ++i) {
            const auto bytes = qortest::pattern(2u << 20, static_cast<std::uint64_t>(i + 1));
            cBufWrapperIO src(const_cast<unsigned char*>(bytes.data()), static_cast<long long>(bytes.size()), false);
            ASSERT_EQ(pkg.addPkgItem(&src, i == 3), i);
        }
        cFileIO out;
        ASSERT_TRUE(out.create(file.c_str(), fmWrite) && pkg.savePackage(&out));
    }
    auto load = [&](cSoftPkg& pkg) {
        cFileIO in;
        bool ok = in.open(file.c_str(), fmRead) && pkg.loadPackage(&in) && pkg.count() == 4;
        for (int i = 0; ok && i < 4; ++i) ok = pkg.verify(i);
        return ok;
    };
    cSoftPkg kept;
    bool ok = false;
    const long long first = peakOf([&] { ok = load(kept); });
    ASSERT_TRUE(ok);
    EXPECT_GT(first, 8 * kMiB);
    // The block stays the table's: read again, nothing of its size is had
    // anew (the deflated item's check takes 2 MiB).
    const long long before = gLive.load(), large = gLarge.load();
    const long long again = peakOf([&] { ok = load(kept); });
    ASSERT_TRUE(ok);
    EXPECT_LT(again, 3 * kMiB);
    EXPECT_EQ(gLarge.load(), large);
    EXPECT_EQ(gLive.load(), before);
    // A table that starts empty has a block of its own made.
    cSoftPkg fresh;
    EXPECT_GT(peakOf([&] { ok = load(fresh); }), 8 * kMiB);
    ASSERT_TRUE(ok);
    EXPECT_EQ(gLarge.load(), large + 1);
    // Emptied, the table lets its block go.
    const long long loaded = gLive.load();
    kept.newPackage();
    EXPECT_LT(gLive.load(), loaded - 8 * kMiB);
}

namespace {

// Two payloads of one stored item each, by Python: `random`, whose 32 MiB
// of noise zlib stores; and `expanding`, 4 MiB of zeros and then 12 MiB of
// bytes from 144 to 255, each in a fixed-code literal of nine bits in blocks
// made here, so that the tail of the stream is an eighth larger than the
// bytes it makes.  Python's zlib reads both back; prints the items' digests.
const char kEdgePayloads[] = R"PY(
import hashlib, random, struct, sys, zlib
out = sys.argv[1]
def head(item):
    return (b'\x01' + struct.pack('<4i', 1, 0, 0, 0) + b'\0\0' * 4 + b'\x0d'
            + struct.pack('<II', 0, len(item)) + hashlib.sha256(item).digest())
tail = bytes(8) + b'\x00'
def payload(body, packed):
    return b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(packed)) + hashlib.sha256(body).digest() + packed
class Bits:
    def __init__(self): self.v, self.n, self.out = 0, 0, bytearray()
    def put(self, value, count):  # LSB first
        self.v |= value << self.n; self.n += count
        while self.n >= 8: self.out.append(self.v & 255); self.v >>= 8; self.n -= 8
    def code(self, code, count):  # Huffman codes go MSB first
        for i in range(count - 1, -1, -1): self.put((code >> i) & 1, 1)
    def align(self):
        if self.n: self.put(0, 8 - self.n)
def fixed(literals, final):
    b = Bits()
    b.put(1 if final else 0, 1); b.put(1, 2)
    for c in literals:
        if c < 144: b.code(0x30 + c, 8)
        else: b.code(0x190 + c - 144, 9)
    b.code(0, 7)
    if not final: b.put(0, 3); b.align(); b.out += b'\x00\x00\xff\xff'
    b.align()
    return bytes(b.out)
r = random.Random(5)
noise = r.randbytes(32 << 20)
body = head(noise) + noise + tail
open(out + '/random.data', 'wb').write(payload(body, zlib.compress(body, 1)))
unit = bytes(r.randrange(144, 256) for _ in range(4096))
item = bytes(4 << 20) + unit * 3072
body = head(item) + item + tail
z = zlib.compressobj(6, zlib.DEFLATED, -15)
prefix = z.compress(body[:len(body) - len(tail) - len(unit) * 3072]) + z.flush(zlib.Z_SYNC_FLUSH)
packed = b'\x78\x01' + prefix + fixed(unit, False) * 3072 + fixed(tail, True) + struct.pack('>I', zlib.adler32(body))
assert zlib.decompress(packed) == body
# The tail's packed bytes pass its plain ones by more than the reader's margin.
grows = len(fixed(unit, False)) * 3072 + len(fixed(tail, True)) - len(unit) * 3072 - len(tail)
assert grows > (1 << 20) + len(packed) // 256 + (256 << 10), grows
open(out + '/expanding.data', 'wb').write(payload(body, packed))
print(hashlib.sha256(noise).hexdigest(), hashlib.sha256(item).hexdigest())
)PY";

}  // namespace

TEST(PayloadMemory, TheBodyIsDecodedInItsOwnBlockUnlessItsStreamGrowsTowardsItsEnd) {
    TempDir dir;
    const std::string digests = runPython(kEdgePayloads, dir.path());
    ASSERT_EQ(digests.size(), 130u) << digests;
    struct sCase {
        const char* name;
        std::string digest;
    } cases[] = {{"random", digests.substr(0, 64)}, {"expanding", digests.substr(65, 64)}};
    for (const sCase& c : cases) {
        const std::string file = dir.file(std::string(c.name) + ".data");
        cFileIO in;
        ASSERT_TRUE(in.open(file.c_str(), fmRead));
        const long long packed = in.size() - 49;
        cSoftPkgScenario s;
        bool ok = false;
        const long long peak = peakOf([&] { ok = s.loadBinConfig(&in); });
        ASSERT_TRUE(ok) << c.name;
        unsigned char d[32];
        ASSERT_TRUE(s.package().digest(0, d));
        EXPECT_EQ(qortest::hex(d, 32), c.digest) << c.name;
        const long long body = static_cast<long long>(s.package().sizeOf(0)) + 90;
        if (std::string(c.name) == "random") {
            // Its packed bytes, as large as its body, were read into the
            // body's own block.
            EXPECT_LT(peak, body + body / 8) << c.name;
        } else {
            // Decoded in place it would overwrite bytes not yet read: the
            // packed bytes were read again into a block of their own.
            EXPECT_GT(peak, body + packed - kMiB) << c.name;
        }
    }
}

// 20,000 install records of one item (tests/pakvane/make_scenario_data.py):
// a table that packs to a few bytes a record.  Checked as a stream or read
// whole, the scenario is held within a small multiple of its inflated
// body: the record's entry itself (sIntFileDef and its path, 150 bytes
// against the 53 the body gives it) and the body while it is read, no
// list grown twice over its size or copied beside the body.
TEST(PayloadMemory, InstallRecordsOfOneItemAreHeldWithinASmallMultipleOfTheirTable) {
    const std::string file = qortest::dataPath("scenario/one_item_20000_entries.data");
    const std::string bytes = qortest::readFile(file);
    ASSERT_GT(bytes.size(), 49u);
    const long long body = static_cast<unsigned char>(bytes[9]) | static_cast<unsigned char>(bytes[10]) << 8 |
                           static_cast<unsigned char>(bytes[11]) << 16 | static_cast<long long>(static_cast<unsigned char>(bytes[12])) << 24;
    ASSERT_GT(body, 20000 * 50);
    auto holds = [](cSoftPkgScenario& s) {
        ASSERT_EQ(s.fileEntries().size(), 20000u);
        EXPECT_EQ(s.package().count(), 1u);
        EXPECT_EQ(s.fileEntries().back().item, 0u);
        EXPECT_EQ(s.fileEntries().back().dest.sub, "share/doc/one-item/entries/e0019999.txt");
    };
    {
        cSoftPkgScenario s;
        sPayloadOptions o;
        o.threads = 1;
        cFileIO in;
        ASSERT_TRUE(in.open(file.c_str(), fmRead));
        bool ok = false;
        // Its packed piece comes on top (a body this small is not split
        // among threads).
        const long long peak = peakOf([&] { ok = verifyPayloadStream(&in, true, s, o); });
        ASSERT_TRUE(ok) << describePayloadFault(o.fault, file);
        holds(s);
        EXPECT_LT(peak, 4 * body + kMiB);
    }
    {
        cSoftPkgScenario s;
        cFileIO in;
        ASSERT_TRUE(in.open(file.c_str(), fmRead));
        bool ok = false;
        const long long peak = peakOf([&] { ok = s.loadBinConfig(&in); });
        ASSERT_TRUE(ok);
        holds(s);
        EXPECT_LT(peak, 4 * body);
    }
}

// A tree of small files compiled: what the scenario holds for each file
// (its item, its entry, its place among the inputs), counted.  Each path
// and identity is held by its item alone; the inputs list the files in the
// order they were read, with the item's path and identity.
TEST(PayloadMemory, ACompiledFileIsHeldOnce) {
    TempDir dir;
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) {
        const std::string sub = "tree/d" + std::to_string(i / 1000) + "/s" + std::to_string(i / 100 % 10);
        if (i % 100 == 0) {
            ASSERT_EQ(std::system(("mkdir -p '" + dir.file(sub) + "'").c_str()), 0);
        }
        ASSERT_TRUE(qortest::writeFile(dir.file(sub + "/f" + std::to_string(i) + ".txt"), "x"));
    }
    ASSERT_TRUE(qortest::writeFile(dir.file("e.hdl"), "Licence."));
    ASSERT_TRUE(qortest::writeFile(dir.file("e.idx"), "ENG = \"./e.hdl\"\n"));
    const std::string scenario = dir.file("s.txt");
    ASSERT_TRUE(qortest::writeFile(scenario, "[General]\nlangs = ENG\n[Software]\ncodename = \"m\"\neula = \"" +
                                                 dir.file("e.idx") + "\"\n[Install]\n\"" + dir.file("tree") +
                                                 "\" = $pgm \"files\"\n"));
    cSoftPkgScenario s;
    int line = 0;
    const long long before = gLive.load();
    int rc = -1;
    const long long peak = peakOf([&] { rc = s.loadTextConfig(scenario.c_str(), line); });
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(s.package().count(), static_cast<unsigned>(kFiles));
    const long long held = gLive.load() - before;
    // The item (with its path of some 60 bytes), the entry (with its sub
    // path) and the front of the body take some 370 bytes, some 460 at the
    // peak (lists grown); held a second time among the inputs, the path and
    // identity took 100 bytes more.
    EXPECT_LT(held / kFiles, 420) << held;
    EXPECT_LT(peak / kFiles, 510) << peak;
    // Every file among the inputs, in the order read, as its item.
    int files = 0;
    for (const auto& in : s.inputs()) {
        if (in.kind != cSoftPkgScenario::inFile) continue;
        const cSoftPkg::sPkgItem* it = s.package().itemInfo(files++);
        ASSERT_TRUE(it);
        EXPECT_EQ(in.path, it->source);
        struct stat st;
        ASSERT_EQ(::stat(in.path.c_str(), &st), 0);
        EXPECT_EQ(in.device, static_cast<std::uint64_t>(st.st_dev));
        EXPECT_EQ(in.inode, static_cast<std::uint64_t>(st.st_ino));
    }
    EXPECT_EQ(files, kFiles);
    // Found by identity, a folder among the folders only.
    struct stat st;
    ASSERT_EQ(::stat(dir.file("tree/d2/s9").c_str(), &st), 0);
    cSoftPkgScenario::sInput found;
    ASSERT_TRUE(s.findInput(st.st_dev, st.st_ino, found, true));
    EXPECT_EQ(found.path, dir.file("tree/d2/s9"));
    EXPECT_EQ(found.kind, cSoftPkgScenario::inFolder);
    ASSERT_EQ(::stat(dir.file("tree/d2/s9/f2999.txt").c_str(), &st), 0);
    EXPECT_FALSE(s.findInput(st.st_dev, st.st_ino, found, true));
    ASSERT_TRUE(s.findInput(st.st_dev, st.st_ino, found));
    EXPECT_EQ(found.path, dir.file("tree/d2/s9/f2999.txt"));
    EXPECT_EQ(found.kind, cSoftPkgScenario::inFile);
}
