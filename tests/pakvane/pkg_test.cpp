// cSoftPkg: files packed, saved, read back by Python's struct, zlib and
// hashlib and loaded again; tables crafted or damaged by Python that must be
// refused or fail verification; sources that grow, shrink or fail.
#include "pakvane/pkg.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <dirent.h>
#include <sstream>
#include <string>
#include <vector>

#include "../base/steppedstream.h"
#include "base/memio.h"
#include "base/sha.h"
#include "testsupport.h"

namespace {

using qortest::runPython;

// What an item's stream yields, read in pieces of 1000 bytes; ok is false
// when there is no stream or a read fails.
std::string itemBytes(cSoftPkg& pkg, int i, bool& ok) {
    cPtr<cFileIOTarget> s(pkg.item(i));
    std::string all;
    char buf[1000];
    for (unsigned int got = 0; s && (got = s->read(buf, sizeof buf)) != 0; all.append(buf, got))
        if (!cFileIOTarget::transferred(got, sizeof buf)) break;
    ok = s && cFileIOTarget::transferred(s->read(buf, 1), 1) && all.size() == pkg.sizeOf(i);
    return all;
}

bool hasDigestOf(cSoftPkg& pkg, int i, const std::string& bytes) {
    unsigned char want[32], d[32];
    SHA2Hash(bytes.data(), want, static_cast<long long>(bytes.size()));
    return pkg.digest(i, d) && std::memcmp(d, want, 32) == 0;
}

std::string savedBytes(cSoftPkg& pkg) {
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    if (!pkg.savePackage(&m) || !m.toBuffer(b)) return "<not saved>";
    return std::string(reinterpret_cast<const char*>(b.data()), b.bytes());
}

// A source whose size() is not what it yields: a file that grew or shrank
// after its size was taken, or a stream that cannot tell (0 or -1).
class ResizedSource : public SteppedStream {
public:
    ResizedSource(std::string data, long long reported, unsigned step = ~0u)
        : SteppedStream(std::move(data), step), reported_(reported) {}
    long long size() override { return reported_; }

private:
    long long reported_;
};

// A target that takes `room` bytes in all, then no more.
class FullTarget : public SteppedStream {
public:
    explicit FullTarget(std::size_t room) : SteppedStream(""), room_(room) {}
    unsigned int write(void* buf, unsigned int n) override {
        return SteppedStream::write(buf, static_cast<unsigned int>(std::min(n + data().size(), room_) - data().size()));
    }

private:
    std::size_t room_;
};

// "make <dir>": writes source files, prints "<s|d> <path>" per file (stored
// or deflated).  "check <table> <list>": reads a saved table record by record
// against the listed files; prints "OK <records>" or what is wrong.
const char kTables[] = R"PY(
import hashlib, os, random, struct, sys, zlib
if sys.argv[1] == 'make':
    r = random.Random(5)
    words = [b'install ', b'package ', b'qor ', b'\n', b'version 1.2.3 ']
    text = lambda n: b''.join(r.choice(words) for _ in range(n // 3))[:n]
    # empty files both ways; sizes around the 128 KiB read piece and the
    # 64 KiB deflate output; over 2 MiB for the reader's growing buffer
    files = [('s', b''), ('d', b''), ('s', b'x'), ('d', r.randbytes(1)), ('d', text(200000)),
             ('s', text(200000)), ('s', r.randbytes(131072)), ('d', r.randbytes(131073)),
             ('d', bytes(1 << 20)), ('s', bytes(3 << 20)), ('d', text(65536))]
    for i, (mode, data) in enumerate(files):
        path = os.path.join(sys.argv[2], 'src%d' % i)
        open(path, 'wb').write(data)
        print(mode, path)
    sys.exit()
table, at = open(sys.argv[2], 'rb').read(), 0
def take(n):
    global at
    if at + n > len(table): sys.exit('cut at %d' % at)
    at += n
    return table[at - n:at]
files = [l.split() for l in open(sys.argv[3])]
for i, (mode, path) in enumerate(files):
    src = open(path, 'rb').read()
    unpacked, stored = struct.unpack('<II', take(8))
    digest, data = take(32), take(stored)
    if digest != hashlib.sha256(src).digest(): sys.exit('%d: digest' % i)
    if not src:
        if (unpacked, stored) != (0xFFFFFFFF, 0): sys.exit('%d: empty item %x %d' % (i, unpacked, stored))
    elif mode == 's':
        if unpacked != 0 or data != src: sys.exit('%d: stored item' % i)
    else:
        # zlib header: deflate, 32 KiB window, level flag 3 (level 9)
        if unpacked != len(src) or data[0] != 0x78 or data[1] >> 6 != 3: sys.exit('%d: head' % i)
        d = zlib.decompressobj()
        if d.decompress(data) != src or not d.eof or d.unused_data: sys.exit('%d: zlib data' % i)
if take(8) != bytes(8) or at != len(table): sys.exit('end mark')
print('OK', len(files))
)PY";

// Writes crafted tables into argv[1], one line each: name, 1 when the reader
// must take it, the item count, per item 1 when it verifies, 1 when saving
// it again gives the same bytes.
const char kCraftTables[] = R"PY(
import hashlib, os, struct, sys, zlib
sha = lambda b: hashlib.sha256(b).digest()
END, EMPTY = bytes(8), struct.pack('<II', 0xFFFFFFFF, 0)
def rec(unpacked, data, plain=None, digest=None):
    return struct.pack('<II', unpacked, len(data)) + (digest or sha(data if plain is None else plain)) + data
text = b'qor package install ' * 300
z = zlib.compress(text, 9)
cases = [
    ('end_only', END, 1, '-', 1),
    ('stored_and_deflated', rec(0, text) + rec(len(text), z, text) + END, 1, '11', 1),
    ('empty_items', EMPTY + sha(b'') + rec(0, b'ab') + EMPTY + sha(b'') + END, 1, '111', 1),
    ('empty_item_wrong_digest', EMPTY + sha(b'x') + END, 1, '0', 1),
    ('stored_wrong_digest', rec(0, text, digest=sha(b'other')) + END, 1, '0', 1),
    ('deflated_shorter_than_said', rec(len(text) + 1, z, text) + END, 1, '0', 1),
    ('deflated_longer_than_said', rec(len(text) - 1, z, text[:-1]) + END, 1, '0', 1),
    ('deflated_bad_checksum', rec(len(text), z[:-1] + bytes([z[-1] ^ 1]), text) + END, 1, '0', 1),
    ('deflated_cut', rec(len(text), z[:len(z) // 2], text) + END, 1, '0', 1),
    ('deflated_bytes_after_stream', rec(len(text), z + b'\0', text) + END, 1, '0', 1),
    ('deflated_not_zlib', rec(len(text), text, text) + END, 1, '0', 1),
    ('bytes_after_end_mark', rec(0, b'abc') + END + b'more', 1, '1', 0),
    ('nothing', b'', 0, '-', 0),
    ('cut_head', END[:5], 0, '-', 0),
    ('no_end_mark', rec(0, b'abc'), 0, '-', 0),
    ('cut_end_mark', rec(0, b'abc') + END[:7], 0, '-', 0),
    ('cut_digest', rec(0, b'abc')[:28], 0, '-', 0),
    ('cut_data', rec(0, b'abc')[:-1], 0, '-', 0),
    ('unpacked_size_without_data', struct.pack('<II', 5, 0) + END, 0, '-', 0),
    ('bad_mark_after_item', rec(0, b'abc') + struct.pack('<II', 1, 0) + END, 0, '-', 0),
    ('length_beyond_the_table', struct.pack('<II', 0, 0xFFFFFFF0) + sha(b'') + b'abc' + END, 0, '-', 0),
]
for name, data, ok, verifies, same in cases:
    open(os.path.join(sys.argv[1], name), 'wb').write(data)
    print(name, ok, verifies, same)
)PY";

// Loads a table through a stream of 5-byte reads into a table that held an
// item (a refused load must empty it); every item's stream must yield no
// more than its size, and a verified item's exactly its digested bytes.
// Returns the verify results, one 0/1 per item, or "-" when refused.
std::string loadAndCheck(const std::string& bytes, int& count) {
    cSoftPkg pkg;
    SteppedStream one("x"), src(bytes, 5);
    EXPECT_EQ(pkg.addPkgItem(&one, false), 0);
    const bool loaded = pkg.loadPackage(&src);
    count = static_cast<int>(pkg.count());
    std::string verifies = loaded && count == 0 ? "-" : "";
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        const std::string got = itemBytes(pkg, i, ok);
        EXPECT_LE(got.size(), pkg.sizeOf(i));
        verifies += pkg.verify(i) ? '1' : '0';
        EXPECT_TRUE(verifies.back() == '0' || (ok && hasDigestOf(pkg, i, got))) << i;
    }
    EXPECT_TRUE(loaded || count == 0);
    return loaded ? verifies : "-";
}

}  // namespace

TEST(SoftPkg, PackedFilesSaveAsPythonReadsThemAndLoadBackByteForByte) {
    qortest::TempDir dir;
    const std::string list = runPython(kTables, "make " + dir.path());
    ASSERT_TRUE(qortest::writeFile(dir.file("list"), list));
    std::istringstream lines(list);
    cSoftPkg pkg;
    std::vector<std::string> plain;
    for (std::string mode, path; lines >> mode >> path;) {
        plain.push_back(qortest::readFile(path));
        cFileIO f;
        ASSERT_TRUE(f.open(path.c_str(), fmRead));
        f.set_fp(plain.back().size());  // the source is rewound first
        EXPECT_EQ(pkg.addPkgItem(&f, mode == "d"), static_cast<int>(plain.size()) - 1);
    }
    ASSERT_EQ(plain.size(), 11u) << list;
    const std::string table = dir.file("table");
    ASSERT_TRUE(qortest::writeFile(table, savedBytes(pkg)));
    EXPECT_EQ(runPython(kTables, "check " + table + " " + dir.file("list")), "OK 11\n");

    // From the file, and through a stream that cannot tell its size and
    // hands out 777 bytes a read.
    const std::string saved = qortest::readFile(table);
    cSoftPkg fromFile, fromStream;
    cFileIO f;
    ASSERT_TRUE(f.open(table.c_str(), fmRead) && fromFile.loadPackage(&f));
    ResizedSource hidden(saved, 0, 777);
    ASSERT_TRUE(fromStream.loadPackage(&hidden));
    for (cSoftPkg* loaded : {&fromFile, &fromStream}) {
        ASSERT_EQ(loaded->count(), plain.size());
        for (int i = 0; i < static_cast<int>(plain.size()); ++i) {
            bool ok = false;
            EXPECT_TRUE(itemBytes(*loaded, i, ok) == plain[i] && ok) << i;
            EXPECT_TRUE(hasDigestOf(*loaded, i, plain[i]) && loaded->verify(i)) << i;
        }
        EXPECT_TRUE(savedBytes(*loaded) == saved);
    }
    unsigned char d[32];
    for (int missing : {static_cast<int>(plain.size()), -1})
        EXPECT_TRUE(!fromFile.item(missing) && fromFile.sizeOf(missing) == 0 && !fromFile.digest(missing, d));
    EXPECT_TRUE(fromFile.newPackage() && fromFile.count() == 0 && !fromFile.item(0));
}

TEST(SoftPkg, CraftedTablesAreTakenOrRefusedAndSavedInputsReadSafely) {
    qortest::TempDir dir;
    std::istringstream list(runPython(kCraftTables, dir.path()));
    int cases = 0;
    for (std::string name, verifies; list >> name;) {
        int accepted = 0, same = 0, count = 0;
        list >> accepted >> verifies >> same;
        ++cases;
        const std::string bytes = qortest::readFile(dir.file(name));
        EXPECT_EQ(loadAndCheck(bytes, count), accepted ? verifies : "-") << name;
        cSoftPkg pkg;
        SteppedStream src(bytes);
        if (same && pkg.loadPackage(&src) && pkg.count() > 0) {
            EXPECT_TRUE(savedBytes(pkg) == bytes) << name;
        }
    }
    EXPECT_EQ(cases, 21) << list.str();

    // Inputs that once broke the reader, made by make_softpkg_data.py: a
    // stored length past the bytes and a record cut in its digest are
    // refused; a whole table whose deflated item claims 4 GiB, or inflates
    // past the 100 bytes it claims, loads, and the item fails to verify.
    const std::string folder = qortest::dataPath("softpkg/malformed");
    const std::pair<std::string, std::string> kept[] = {{"deflated_claims_4gib", "0"},
                                                        {"empty_then_cut", "-"},
                                                        {"inflates_past_its_size", "0"},
                                                        {"length_ffffffff", "-"}};
    std::vector<std::string> names;
    for (const auto& k : kept) names.push_back(k.first);
    EXPECT_TRUE(qortest::holdsInputs(folder, names));
    for (const auto& k : kept) {
        int count = 0;
        EXPECT_EQ(loadAndCheck(qortest::readFile(folder + "/" + k.first), count), k.second) << k.first;
    }
}

TEST(SoftPkg, SourcesThatChangeOrFailAddNothing) {
    std::string bytes;
    for (int i = 0; bytes.size() < 300000; ++i) bytes += "line " + std::to_string(i * 7919 % 1000) + "\n";
    for (bool compress : {false, true}) {
        cSoftPkg pkg;
        // Grown since its size was taken: the item holds that many bytes.
        ResizedSource grown(bytes, 200000, 4096);
        ASSERT_EQ(pkg.addPkgItem(&grown, compress), 0);
        bool ok = false;
        EXPECT_TRUE(itemBytes(pkg, 0, ok) == bytes.substr(0, 200000) && ok && pkg.verify(0));
        // Shrunk, failing part way, claiming more than asked, larger than a
        // u32 length, or of a size it cannot tell.
        ResizedSource shrunk(bytes, 400000), huge(bytes, 0x100000000ll), unknown(bytes, -1);
        SteppedStream failing(bytes, 4096, 150000), overclaiming(bytes, 4096);
        overclaiming.overclaim = 1;
        for (cFileIOTarget* bad : std::vector<cFileIOTarget*>{&shrunk, &failing, &overclaiming, &huge, &unknown, nullptr})
            EXPECT_EQ(pkg.addPkgItem(bad, compress), -1);
        EXPECT_EQ(pkg.count(), 1u);
        EXPECT_EQ(huge.reads, 0);
    }
}

// A file that cannot be added says why in errno; a file added and then
// touched, or replaced by another of the same size, is no longer the file
// added: its digest is not taken from it.
TEST(SoftPkg, FilesRefusedSayWhyAndAFileChangedSinceItWasAddedIsNotRead) {
    qortest::TempDir dir;
    const std::string file = dir.file("f.bin"), fifo = dir.file("pipe"), huge = dir.file("huge.bin");
    qortest::writeFile(file, "twelve bytes");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(truncate((qortest::writeFile(huge, ""), huge).c_str(), 0x100000000ll), 0);
    const struct {
        std::string path;
        int error;
    } refused[] = {{dir.file("absent"), ENOENT}, {dir.path(), EINVAL}, {fifo, EINVAL}, {huge, EFBIG}};
    cSoftPkg pkg;
    for (const auto& r : refused) {
        errno = 0;
        EXPECT_EQ(pkg.addPkgFile(r.path.c_str()), -1) << r.path;
        EXPECT_EQ(errno, r.error) << r.path;
    }
    ASSERT_EQ(pkg.addPkgFile(file.c_str()), 0);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const cSoftPkg::sFileStamp added = pkg.itemInfo(0)->sourceStamp;
    EXPECT_TRUE(added == cSoftPkg::sFileStamp::of(st));
    EXPECT_EQ(added.size, 12u);
    // Touched to another time: "modified", and no digest.
    const struct timespec other[2] = {{1000000000, 5}, {1000000000, 5}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), other, 0), 0);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_STREQ(cSoftPkg::sFileStamp::of(st).differenceFrom(added), "modified");
    unsigned char d[32];
    EXPECT_FALSE(pkg.digest(0, d));
    // Replaced by another file of the same bytes (the old one kept, so that
    // its inode is not reused at once).
    ASSERT_EQ(rename(file.c_str(), dir.file("old.bin").c_str()), 0);
    qortest::writeFile(file, "twelve bytes");
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_STREQ(cSoftPkg::sFileStamp::of(st).differenceFrom(added), "replaced by another file");
    EXPECT_STREQ(added.differenceFrom(added), "");
    EXPECT_FALSE(pkg.digest(0, d));
    // Replaced by a named pipe with no writer: refused at once by every
    // reading, not waited on.
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    SteppedStream out("");
    EXPECT_FALSE(pkg.digest(0, d));
    EXPECT_FALSE(pkg.verify(0));
    EXPECT_FALSE(pkg.savePackage(&out));
}

TEST(SoftPkg, SavingFailsCleanlyAndDigestsHashFromThePosition) {
    cSoftPkg pkg;
    SteppedStream out(""), failing(""), src("some bytes"), stepped("");
    EXPECT_TRUE(!pkg.savePackage(&out) && out.writes == 0);  // nothing to save
    EXPECT_FALSE(pkg.loadPackage(nullptr));
    ASSERT_EQ(pkg.addPkgItem(&src, true), 0);
    failing.failWrites = true;
    EXPECT_TRUE(!pkg.savePackage(nullptr) && !pkg.savePackage(&failing));
    // Full in the head, the data and the end mark.
    const std::size_t whole = savedBytes(pkg).size();
    for (std::size_t room : {std::size_t{20}, std::size_t{47}, whole - 1}) {
        FullTarget full(room);
        EXPECT_FALSE(pkg.savePackage(&full)) << room;
    }
    stepped.writeLimit = 3;  // short writes that still move every byte
    EXPECT_TRUE(pkg.savePackage(&stepped) && stepped.data() == savedBytes(pkg));

    const std::string py = runPython(
        "import hashlib\nprint(hashlib.sha256(b'some bytes'[5:]).hexdigest() + hashlib.sha256(b'').hexdigest())\n");
    std::string got;
    unsigned char d[32];
    src.set_fp(5);
    for (int twice = 0; twice < 2 && cSoftPkg::mkDigest(&src, d); ++twice)  // the second at the end
        for (unsigned char c : d) got += "0123456789abcdef"[c >> 4], got += "0123456789abcdef"[c & 15];
    EXPECT_EQ(got + "\n", py);
    SteppedStream broken("some bytes", 2, 4);
    unsigned char kept[32] = {7};
    EXPECT_TRUE(!cSoftPkg::mkDigest(&broken, kept) && !cSoftPkg::mkDigest(nullptr, kept) && kept[0] == 7);
}
