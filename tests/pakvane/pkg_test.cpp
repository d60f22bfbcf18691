// cSoftPkg: files packed into an item table, saved, read back by Python's
// struct, zlib and hashlib record by record, loaded again and opened as
// streams; tables crafted and damaged by Python that the reader must refuse
// or whose items must fail verification; sources that grow, shrink or fail.
#include "pakvane/pkg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <sstream>
#include <string>
#include <vector>

#include "../base/steppedstream.h"
#include "base/buffers.h"
#include "base/fileio.h"
#include "base/memio.h"
#include "base/sha.h"
#include "testsupport.h"

namespace {

using qortest::runPython;
using qortest::TempDir;

// Reads what a stream yields from its position in pieces of `piece` bytes;
// ok is false when a read fails.
std::string drain(cFileIOTarget* s, unsigned int piece, bool& ok) {
    std::string all;
    std::vector<char> buf(piece);
    ok = true;
    for (;;) {
        const unsigned int got = s->read(buf.data(), piece);
        if (!cFileIOTarget::transferred(got, piece)) {
            ok = false;
            return all;
        }
        if (got == 0) return all;
        all.append(buf.data(), got);
    }
}

std::string itemBytes(cSoftPkg& pkg, int i, bool& ok) {
    cPtr<cFileIOTarget> s(pkg.item(i));
    ok = false;
    if (!s) return {};
    return drain(s.get(), 1000, ok);
}

std::string hex(const unsigned char* d, std::size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string h;
    for (std::size_t i = 0; i < n; ++i) h += {kDigits[d[i] >> 4], kDigits[d[i] & 15]};
    return h;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char d[32];
    SHA2Hash(bytes.data(), d, static_cast<long long>(bytes.size()));
    return hex(d, 32);
}

// Reproducible test bytes: text-like words, random bytes, or zeros.
std::string makeBytes(char kind, std::size_t n, std::uint64_t seed) {
    static const char* const kWords[] = {"install ", "package ", "qor ", "\n", "version 1.2.3 ", "files/", "readme "};
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&x] {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        return x * 0x2545F4914F6CDD1Dull;
    };
    std::string s;
    s.reserve(n);
    while (s.size() < n) {
        if (kind == 'z') {
            s.push_back('\0');
        } else if (kind == 'r') {
            s.push_back(static_cast<char>(next() >> 56));
        } else {
            s += kWords[next() % 7];
        }
    }
    s.resize(n);
    return s;
}

// A source whose size() is not what it yields: a file that grew or shrank
// after its size was taken, or a stream that cannot tell its size (0).
class ResizedSource : public SteppedStream {
public:
    ResizedSource(std::string data, long long reported, unsigned step = ~0u)
        : SteppedStream(std::move(data), step), reported_(reported) {}
    long long size() override { return reported_; }

private:
    long long reported_;
};

// A target that takes `room` bytes in all and then no more.
class FullTarget : public SteppedStream {
public:
    explicit FullTarget(std::size_t room) : SteppedStream(""), room_(room) {}
    unsigned int write(void* buf, unsigned int n) override {
        const std::size_t left = room_ - std::min(room_, data().size());
        return SteppedStream::write(buf, static_cast<unsigned int>(std::min<std::size_t>(n, left)));
    }

private:
    std::size_t room_;
};

// Checks a saved table against the sources listed in a manifest of lines
// "<s|d> <path>": every record's fields, data and digest, the empty-item
// record, the end mark and nothing after it.  Prints "OK <records>".
const char kCheckTable[] = R"PY(
import hashlib, struct, sys, zlib
table = open(sys.argv[1], 'rb').read()
sources = [l.split(' ', 1) for l in open(sys.argv[2]).read().splitlines()]
at = 0
def take(n):
    global at
    if at + n > len(table): raise SystemExit('cut at %d' % at)
    b = table[at:at + n]; at += n; return b
for i, (mode, path) in enumerate(sources):
    src = open(path, 'rb').read()
    unpacked, stored = struct.unpack('<II', take(8))
    digest = take(32)
    data = take(stored)
    if digest != hashlib.sha256(src).digest(): raise SystemExit('%d: digest' % i)
    if not src:
        if (unpacked, stored) != (0xFFFFFFFF, 0): raise SystemExit('%d: empty item is %x %d' % (i, unpacked, stored))
    elif mode == 's':
        if unpacked != 0 or data != src: raise SystemExit('%d: stored item' % i)
    else:
        if unpacked != len(src) or stored < 1: raise SystemExit('%d: sizes %d %d' % (i, unpacked, stored))
        # zlib header: deflate, 32 KiB window, level flag 3 (level 9)
        if data[0] != 0x78 or data[1] >> 6 != 3: raise SystemExit('%d: header %r' % (i, data[:2]))
        d = zlib.decompressobj()
        if d.decompress(data) != src or not d.eof or d.unused_data: raise SystemExit('%d: zlib data' % i)
if take(8) != bytes(8): raise SystemExit('no end mark')
if at != len(table): raise SystemExit('%d bytes after the end mark' % (len(table) - at))
print('OK', len(sources))
)PY";

// Writes crafted tables into argv[1] and lists them, one line each:
// name, 1 when the reader must take it, item count, one 0/1 per item for
// whether it verifies, 1 when saving it again must give the same bytes.
const char kCraftTables[] = R"PY(
import hashlib, os, struct, sys, zlib
out = sys.argv[1]
sha = lambda b: hashlib.sha256(b).digest()
END = bytes(8)
EMPTY = struct.pack('<II', 0xFFFFFFFF, 0)
def rec(unpacked, data, plain=None, digest=None):
    if digest is None: digest = sha(data if plain is None else plain)
    return struct.pack('<II', unpacked, len(data)) + digest + data
text = b'qor package install ' * 300
z = zlib.compress(text, 9)
big = bytes(range(256)) * 9000  # over 2 MiB: the reader grows its buffer in steps
cases = [
    ('end_only', END, 1, '', 1),
    ('stored_one_byte', rec(0, b'x') + END, 1, '1', 1),
    ('stored_and_deflated', rec(0, text) + rec(len(text), z, text) + END, 1, '11', 1),
    ('stored_over_two_mib', rec(0, big) + END, 1, '1', 1),
    ('empty_item', EMPTY + sha(b'') + rec(0, b'ab') + EMPTY + sha(b'') + END, 1, '111', 1),
    ('empty_item_wrong_digest', EMPTY + sha(b'x') + END, 1, '0', 1),
    ('stored_wrong_digest', rec(0, text, digest=sha(b'other')) + END, 1, '0', 1),
    ('deflated_shorter_than_said', rec(len(text) + 1, z, text) + END, 1, '0', 1),
    ('deflated_longer_than_said', rec(len(text) - 1, z, text[:-1]) + END, 1, '0', 1),
    ('deflated_bad_checksum', rec(len(text), z[:-1] + bytes([z[-1] ^ 1]), text) + END, 1, '0', 1),
    ('deflated_cut', rec(len(text), z[:len(z) // 2], text) + END, 1, '0', 1),
    ('deflated_bytes_after_stream', rec(len(text), z + b'\0', text) + END, 1, '0', 1),
    ('deflated_not_zlib', rec(len(text), text, text) + END, 1, '0', 1),
    ('bytes_after_end_mark', rec(0, b'abc') + END + b'more', 1, '1', 0),
    ('nothing', b'', 0, '', 0),
    ('cut_head', END[:5], 0, '', 0),
    ('no_end_mark', rec(0, b'abc'), 0, '', 0),
    ('cut_end_mark', rec(0, b'abc') + END[:7], 0, '', 0),
    ('cut_digest', rec(0, b'abc')[:28], 0, '', 0),
    ('cut_data', rec(0, b'abc')[:-1], 0, '', 0),
    ('unpacked_size_without_data', struct.pack('<II', 5, 0) + END, 0, '', 0),
    ('bad_mark_after_item', rec(0, b'abc') + struct.pack('<II', 1, 0) + END, 0, '', 0),
    ('length_beyond_the_table', struct.pack('<II', 0, 0xFFFFFFF0) + sha(b'') + b'abc' + END, 0, '', 0),
    ('deflated_length_beyond_the_table', struct.pack('<II', 0xFFFFFFFF, 0xFFFFFFFF) + sha(b'') + z + END, 0, '', 0),
]
for name, data, ok, verifies, same in cases:
    open(os.path.join(out, name), 'wb').write(data)
    print(name, ok, len(verifies), verifies or '-', same)
)PY";

struct sCrafted {
    std::string name;
    int accepted = 0;
    unsigned count = 0;
    std::string verifies;
    int resavesSame = 0;
};

bool saveTo(cSoftPkg& pkg, const std::string& path) {
    cFileIO f;
    return f.create(path.c_str(), fmReadWrite) && pkg.savePackage(&f);
}

bool loadFrom(cSoftPkg& pkg, const std::string& path) {
    cFileIO f;
    return f.open(path.c_str(), fmRead) && pkg.loadPackage(&f);
}

std::string savedBytes(cSoftPkg& pkg) {
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    if (!pkg.savePackage(&m) || !m.toBuffer(b)) return "<not saved>";
    return std::string(reinterpret_cast<const char*>(b.data()), b.bytes());
}

}  // namespace

TEST(SoftPkg, PackedFilesSaveAsPythonReadsThemAndLoadBackByteForByte) {
    TempDir dir;
    struct sSource {
        char kind;
        std::size_t size;
        bool compress;
    };
    // Sizes around the 128 KiB read piece and the 64 KiB deflate output.
    const std::vector<sSource> sources = {
        {'t', 0, false},       {'t', 0, true},       {'t', 1, false},       {'r', 1, true},
        {'t', 200000, true},   {'t', 200000, false}, {'r', 131072, false},  {'r', 131073, true},
        {'r', 150001, true},   {'z', 1 << 20, true}, {'z', 3 << 20, false}, {'t', 65536, true},
    };
    cSoftPkg pkg;
    std::vector<std::string> plain;
    std::string manifest;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::string path = dir.file("src" + std::to_string(i));
        plain.push_back(makeBytes(sources[i].kind, sources[i].size, i));
        ASSERT_TRUE(qortest::writeFile(path, plain.back()));
        cFileIO f;
        ASSERT_TRUE(f.open(path.c_str(), fmRead));
        // The source is rewound first: a position left at the end must not matter.
        f.set_fp(sources[i].size);
        EXPECT_EQ(pkg.addPkgItem(&f, sources[i].compress), static_cast<int>(i));
        manifest += std::string(sources[i].compress ? "d " : "s ") + path + "\n";
    }
    ASSERT_EQ(pkg.count(), sources.size());
    const std::string table = dir.file("table");
    ASSERT_TRUE(saveTo(pkg, table));
    ASSERT_TRUE(qortest::writeFile(dir.file("manifest"), manifest));
    EXPECT_EQ(runPython(kCheckTable, table + " " + dir.file("manifest")), "OK " + std::to_string(sources.size()) + "\n");

    // Loaded from the file, and through a stream that cannot tell its size
    // and hands out 777 bytes a read.
    const std::string saved = qortest::readFile(table);
    cSoftPkg fromFile, fromStream;
    ASSERT_TRUE(loadFrom(fromFile, table));
    ResizedSource hidden(saved, 0, 777);
    ASSERT_TRUE(fromStream.loadPackage(&hidden));
    for (cSoftPkg* loaded : {&fromFile, &fromStream}) {
        ASSERT_EQ(loaded->count(), sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const int at = static_cast<int>(i);
            SCOPED_TRACE(at);
            bool ok = false;
            EXPECT_TRUE(itemBytes(*loaded, at, ok) == plain[i]);
            EXPECT_TRUE(ok);
            EXPECT_EQ(loaded->sizeOf(at), plain[i].size());
            unsigned char d[32];
            ASSERT_TRUE(loaded->digest(at, d));
            EXPECT_EQ(hex(d, 32), sha256Hex(plain[i]));
            EXPECT_TRUE(loaded->verify(at));
        }
        EXPECT_TRUE(savedBytes(*loaded) == saved);
    }
    // A missing index: the count itself and below 0.
    unsigned char d[32];
    const int n = static_cast<int>(sources.size());
    for (int bad : {n, -1}) {
        EXPECT_EQ(fromFile.item(bad), nullptr);
        EXPECT_EQ(fromFile.sizeOf(bad), 0u);
        EXPECT_FALSE(fromFile.digest(bad, d));
        EXPECT_FALSE(fromFile.verify(bad));
    }
    EXPECT_TRUE(fromFile.newPackage());
    EXPECT_EQ(fromFile.count(), 0u);
    EXPECT_EQ(fromFile.item(0), nullptr);
}

TEST(SoftPkg, CraftedTablesAreTakenOrRefusedAsTheLayoutSays) {
    TempDir dir;
    std::istringstream list(runPython(kCraftTables, dir.path()));
    std::vector<sCrafted> cases;
    sCrafted c;
    while (list >> c.name >> c.accepted >> c.count >> c.verifies >> c.resavesSame) cases.push_back(c);
    ASSERT_EQ(cases.size(), 24u) << list.str();
    for (const sCrafted& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string bytes = qortest::readFile(dir.file(k.name));
        cSoftPkg pkg;
        // A table first, so that a refused load must also empty it.
        ResizedSource one(std::string("\1\0\0\0\x0a\0\0\0", 8), 8);
        ASSERT_EQ(pkg.addPkgItem(&one, false), 0);
        SteppedStream src(bytes, 5);
        EXPECT_EQ(pkg.loadPackage(&src), k.accepted == 1);
        EXPECT_EQ(pkg.count(), k.count);
        for (unsigned i = 0; i < pkg.count(); ++i) {
            const int at = static_cast<int>(i);
            const bool verifies = k.verifies[i] == '1';
            EXPECT_EQ(pkg.verify(at), verifies) << "item " << i;
            // A sound item's stream yields exactly its bytes; a damaged
            // one's never more than its size.
            bool ok = false;
            const std::string got = itemBytes(pkg, at, ok);
            EXPECT_LE(got.size(), pkg.sizeOf(at));
            if (verifies) {
                unsigned char d[32];
                ASSERT_TRUE(pkg.digest(at, d));
                EXPECT_TRUE(ok);
                EXPECT_EQ(sha256Hex(got), hex(d, 32));
            }
        }
        if (k.resavesSame) {
            if (pkg.count() == 0)
                EXPECT_FALSE(pkg.savePackage(&src));  // an empty table is not saved
            else
                EXPECT_TRUE(savedBytes(pkg) == bytes);
        }
    }
}

TEST(SoftPkg, SourcesThatChangeOrFailAddNothing) {
    const std::string bytes = makeBytes('t', 300000, 7);
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        cSoftPkg pkg;
        // Grown since its size was taken: the item holds the bytes of that
        // size, and reading never runs past its buffer.
        ResizedSource grown(bytes, 200000, 4096);
        ASSERT_EQ(pkg.addPkgItem(&grown, compress), 0);
        bool ok = false;
        EXPECT_TRUE(itemBytes(pkg, 0, ok) == bytes.substr(0, 200000));
        EXPECT_TRUE(pkg.verify(0));
        EXPECT_EQ(pkg.sizeOf(0), 200000u);

        // Shrunk, failing part way, claiming more than it was asked for,
        // larger than a u32 length, or of no size it can tell: refused.
        ResizedSource shrunk(bytes, 400000);
        SteppedStream failing(bytes, 4096, 150000);
        SteppedStream overclaiming(bytes, 4096);
        overclaiming.overclaim = 1;
        ResizedSource huge(bytes, 0x100000000ll);
        ResizedSource unknown(bytes, -1);
        for (cFileIOTarget* bad : std::vector<cFileIOTarget*>{&shrunk, &failing, &overclaiming, &huge, &unknown, nullptr})
            EXPECT_EQ(pkg.addPkgItem(bad, compress), -1);
        EXPECT_EQ(pkg.count(), 1u);
        EXPECT_EQ(huge.reads, 0);
        EXPECT_EQ(pkg.addPkgItem(&grown, compress), 1);
    }
}

TEST(SoftPkg, SavingAndLoadingFailCleanly) {
    cSoftPkg pkg;
    SteppedStream out("");
    EXPECT_FALSE(pkg.savePackage(&out));  // nothing to save: nothing written
    EXPECT_EQ(out.writes, 0);
    EXPECT_FALSE(pkg.loadPackage(nullptr));
    SteppedStream src("some bytes");
    ASSERT_EQ(pkg.addPkgItem(&src, true), 0);
    EXPECT_FALSE(pkg.savePackage(nullptr));
    // A target that fails, and ones that fill up in the head, the data and
    // the end mark.
    SteppedStream failing("");
    failing.failWrites = true;
    EXPECT_FALSE(pkg.savePackage(&failing));
    const std::size_t whole = savedBytes(pkg).size();
    for (std::size_t room : {std::size_t{20}, std::size_t{47}, whole - 1}) {
        FullTarget full(room);
        EXPECT_FALSE(pkg.savePackage(&full)) << room;
    }
    // Short writes that still move every byte succeed.
    SteppedStream stepped("");
    stepped.writeLimit = 3;
    EXPECT_TRUE(pkg.savePackage(&stepped));
    EXPECT_TRUE(stepped.data() == savedBytes(pkg));
    // A source that fails part way through a table.
    SteppedStream broken(stepped.data(), 4, 20);
    EXPECT_FALSE(pkg.loadPackage(&broken));
    EXPECT_EQ(pkg.count(), 0u);
}

TEST(SoftPkg, DigestOfAStreamHashesFromItsPositionAndFailsOnAFailedRead) {
    const std::string bytes = makeBytes('r', 100000, 3);
    TempDir dir;
    const std::string path = dir.file("b");
    ASSERT_TRUE(qortest::writeFile(path, bytes));
    std::istringstream py(runPython("import hashlib,sys\n"
                                    "b=open(sys.argv[1],'rb').read()\n"
                                    "print(hashlib.sha256(b[12345:]).hexdigest(), hashlib.sha256(b'').hexdigest())\n",
                                    path));
    std::string fromPosition, ofNothing;
    py >> fromPosition >> ofNothing;
    unsigned char d[32];
    SteppedStream s(bytes, 999);
    ASSERT_TRUE(s.set_fp(12345));
    ASSERT_TRUE(cSoftPkg::mkDigest(&s, d));
    EXPECT_EQ(hex(d, 32), fromPosition);
    ASSERT_TRUE(cSoftPkg::mkDigest(&s, d));  // already at the end
    EXPECT_EQ(hex(d, 32), ofNothing);

    unsigned char kept[32];
    std::memset(kept, 0xAB, sizeof kept);
    SteppedStream failing(bytes, 999, 5000);
    EXPECT_FALSE(cSoftPkg::mkDigest(&failing, kept));
    EXPECT_FALSE(cSoftPkg::mkDigest(nullptr, kept));
    std::string untouched;
    for (int i = 0; i < 32; ++i) untouched += "ab";
    EXPECT_EQ(hex(kept, 32), untouched);
}

TEST(SoftPkg, SavedInputsThatOnceBrokeTheReaderAreRefusedOrReadSafely) {
    const std::string folder = qortest::dataPath("softpkg/malformed");
    DIR* d = opendir(folder.c_str());
    ASSERT_NE(d, nullptr) << folder;
    int files = 0;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "README") continue;
        ++files;
        SCOPED_TRACE(name);
        const std::string bytes = qortest::readFile(folder + "/" + name);
        SteppedStream src(bytes);
        cSoftPkg pkg;
        if (!pkg.loadPackage(&src)) {
            EXPECT_EQ(pkg.count(), 0u);
            continue;
        }
        for (unsigned i = 0; i < pkg.count(); ++i) {
            bool ok = false;
            EXPECT_LE(itemBytes(pkg, static_cast<int>(i), ok).size(), pkg.sizeOf(static_cast<int>(i)));
            pkg.verify(static_cast<int>(i));
        }
    }
    closedir(d);
    EXPECT_GT(files, 0);
}
