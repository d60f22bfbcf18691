#include "pakvane/pkg.h"

#include <zlib.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/bytereader.h"
#include "base/memio.h"
#include "base/sha.h"
#include "compression/wholezlib.h"
#include "compression/zstream.h"
#include "pakvane/freshblock.h"

namespace {

// Sources are read in pieces of this size: a stored item straight into its
// buffer, a deflated one into deflate's input.
constexpr unsigned int kSourcePiece = 128 * 1024;
// Output buffer of one deflate call; collected in pages of kPageSize.
constexpr unsigned int kDeflateOut = 64 * 1024;
constexpr long long kPageSize = 64 * 1024;
// The read buffer of an item's inflating stream.
constexpr long long kItemStreamBuffer = 4096;
// When the source cannot tell its size, a record's data buffer starts at
// this size and doubles as the bytes actually arrive, so a damaged length
// field cannot make the reader allocate gigabytes up front.
constexpr unsigned long long kFirstDataStep = 1ull << 20;
// The largest single transfer asked of a stream (a POSIX read or write of a
// regular file moves at most about 2 GiB at once).
constexpr unsigned long long kLargestTransfer = 1ull << 30;

constexpr std::size_t kHeadBytes = 8;
constexpr std::size_t kDigestBytes = 32;

// An empty item's stream reads this block with a length of 0.
unsigned char gNoBytes[1] = {0};

void putU32le(unsigned char* at, std::uint32_t v) {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
    at[2] = static_cast<unsigned char>(v >> 16);
    at[3] = static_cast<unsigned char>(v >> 24);
}

// Reads exactly n bytes, accepting short reads on the way; false when the
// stream ends first or a read fails.
bool readFully(cFileIOTarget* src, unsigned char* to, unsigned long long n) {
    while (n > 0) {
        const unsigned int want = static_cast<unsigned int>(std::min(n, kLargestTransfer));
        const unsigned int got = src->read(to, want);
        if (!cFileIOTarget::transferred(got, want) || got == 0) return false;
        to += got;
        n -= got;
    }
    return true;
}

// Writes exactly n bytes, accepting short writes on the way.
bool writeFully(cFileIOTarget* dst, const unsigned char* from, unsigned long long n) {
    while (n > 0) {
        const unsigned int want = static_cast<unsigned int>(std::min(n, kLargestTransfer));
        const unsigned int put = dst->write(const_cast<unsigned char*>(from), want);
        if (!cFileIOTarget::transferred(put, want) || put == 0) return false;
        from += put;
        n -= put;
    }
    return true;
}

// Reads a record's `length` data bytes into data.  sizeHint is the source's
// own size (0 or less when it cannot tell): data longer than the whole
// source cannot be there.
bool readRecordData(cFileIOTarget* src, unsigned long long length, long long sizeHint, _typebuf<unsigned char>& data) {
    if (sizeHint > 0 && length > static_cast<unsigned long long>(sizeHint)) return false;
    unsigned long long have = 0;
    unsigned long long room = sizeHint > 0 ? length : std::min(length, kFirstDataStep);
    data.set(static_cast<long long>(room));
    for (;;) {
        if (!readFully(src, data.data() + have, room - have)) return false;
        have = room;
        if (have == length) return true;
        room = std::min(length, room * 2);
        data.reset(static_cast<long long>(room));
    }
}

// Reads exactly `size` bytes of src straight into data, hashing each piece.
// Each read is capped at the room left, so a source that has grown since
// its size was taken cannot overrun the buffer; one that has shrunk, or a
// failed read, fails the item.
bool readStored(cFileIOTarget* src, unsigned long long size, sSHA256Ctx& sha, _typebuf<unsigned char>& data) {
    data.set(static_cast<long long>(size));
    unsigned long long total = 0;
    while (total < size) {
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kSourcePiece, size - total));
        unsigned char* at = data.data() + total;
        const unsigned int got = src->read(at, want);
        if (!cFileIOTarget::transferred(got, want) || got == 0) return false;
        sha256_update(&sha, at, got);
        total += got;
    }
    return true;
}

// Owns one deflate stream for the length of a call.
struct sDeflater {
    z_stream z{};
    bool ready = false;
    explicit sDeflater(int level) { ready = deflateInit(&z, level) == Z_OK; }
    ~sDeflater() {
        if (ready) deflateEnd(&z);
    }
};

// Deflates exactly `size` bytes of src into one zlib stream in data, hashing
// the plain pieces.  The same rules as readStored hold for the source.  No
// flush between pieces: a partial flush after every few kilobytes ends a
// block each time and makes text about a tenth larger for no gain, since
// the reader inflates the item as one stream anyway.
bool readDeflated(cFileIOTarget* src, unsigned long long size, sSHA256Ctx& sha, _typebuf<unsigned char>& data) {
    sDeflater d(cSoftPkg::kPackLevel);
    if (!d.ready) return false;
    _typebuf<unsigned char> in(kSourcePiece);
    _typebuf<unsigned char> out(kDeflateOut);
    cMemIOTarget pages(kPageSize);
    unsigned long long total = 0;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(kSourcePiece, size - total));
        const unsigned int got = src->read(in.data(), want);
        if (!cFileIOTarget::transferred(got, want) || got == 0) return false;
        sha256_update(&sha, in.data(), got);
        total += got;
        if (total == size) flush = Z_FINISH;
        d.z.next_in = in.data();
        d.z.avail_in = got;
        // zlib's own loop: call until it leaves room in the output buffer.
        do {
            d.z.next_out = out.data();
            d.z.avail_out = kDeflateOut;
            if (deflate(&d.z, flush) == Z_STREAM_ERROR) return false;
            const unsigned int produced = kDeflateOut - d.z.avail_out;
            if (produced && !pages.writef(out.data(), produced)) return false;
            // The stored length is a u32 field.
            if (static_cast<unsigned long long>(pages.size()) > cSoftPkg::kMaxItemBytes) return false;
        } while (d.z.avail_out == 0);
    }
    return pages.toBuffer(data) && !data.empty();
}

// Inflates a deflated item's data and hashes the plain bytes into digest.
// Strict where a reading stream is lenient: the zlib stream must end, its
// checksum right, after exactly `plain` bytes and with no data left over.
bool inflateExactly(const unsigned char* data, unsigned long long length, std::uint32_t plain,
                    unsigned char (&digest)[32]) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    _typebuf<unsigned char> out;
    try {
        out.set(kDeflateOut);
    } catch (const std::bad_alloc&) {
        inflateEnd(&z);
        return false;
    }
    sSHA256Ctx sha;
    sha256_starts(&sha);
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(length);
    unsigned long long total = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = out.data();
        z.avail_out = kDeflateOut;
        rc = inflate(&z, Z_NO_FLUSH);
        const unsigned int produced = kDeflateOut - z.avail_out;
        sha256_update(&sha, out.data(), produced);
        total += produced;
        // No progress with output room left: the data stops short.
        if (rc == Z_OK && produced == 0 && z.avail_in == 0) rc = Z_DATA_ERROR;
        if (total > plain) rc = Z_DATA_ERROR;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END || total != plain || z.avail_in != 0) return false;
    sha256_finish(&sha, digest);
    return true;
}

// A table whose source tells its size and position, and holds at most this
// many bytes from there on, is read in one piece into one block that its
// items point into; larger ones are read record by record.
constexpr unsigned long long kWholeTableBytes = 1ull << 30;
// Bytes after the end mark a table read whole may keep in its block.
constexpr unsigned long long kSlackBytes = 1ull << 20;

// Buffers for deflated items' plain bytes that a table keeps from one check
// to the next (a pair takes two): allocating them afresh for every item
// costs a page fault per 4 KiB, as much as decoding the item.
constexpr std::size_t kSpareBuffers = 2;

// Stored items shorter than this are hashed alone: pairing saves nothing.
constexpr unsigned long long kPairMinBytes = 16 * 1024;

// Items up to this plain size are checked by decoding them whole into a
// buffer of their size in one inflate call (no window copies, and the
// library's faster Adler-32); larger ones stream through inflateExactly in
// constant memory.  Items are checked on every core at once: this bounds
// what each check holds.
constexpr std::uint32_t kWholeCheckBytes = 16u << 20;

// The plain bytes of an item held in memory and checked whole (stored, or
// deflated of at most kWholeCheckBytes) into at: stored bytes where they
// are, a deflated item's decoded into buf (grown when it is too small) with
// the checks of inflateExactly.  False when the item does not decode so or
// the buffer cannot be had.
bool plainOf(const cSoftPkg::sPkgItem& it, _typebuf<unsigned char>& buf, const unsigned char*& at) {
    at = it.bytes();
    if (it.unpackedSize == 0) return true;
    try {
        if (static_cast<unsigned long long>(buf.count()) < it.unpackedSize)
            buf.set(static_cast<long long>(it.unpackedSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    at = buf.data();
    return zlibDecodeWhole(it.bytes(), static_cast<std::size_t>(it.length()), buf.data(), it.unpackedSize);
}

unsigned long long plainSize(const cSoftPkg::sPkgItem& it) {
    return it.unpackedSize != 0 ? it.unpackedSize : it.length();
}

// Deflate makes at most 1032 plain bytes of one stored byte (258-byte
// matches in codes of one bit and a bit); a record that claims more cannot
// decode, and is not given a buffer of its claimed size to fail in.
constexpr unsigned long long kMaxDeflateRatio = 1032;

bool checkedWhole(const cSoftPkg::sPkgItem& it) {
    return !it.isFile() && !it.dropped && it.unpackedSize <= kWholeCheckBytes &&
           it.unpackedSize <= static_cast<unsigned long long>(it.length()) * kMaxDeflateRatio;
}

// Parses one record head at p (8 bytes): false for a head that breaks the
// layout.  end: the head is the end mark.
bool parseHead(const unsigned char* p, std::uint32_t& unpacked, std::uint32_t& stored, bool& end) {
    cByteReader r(p, kHeadBytes);
    r.read_u32le(unpacked);
    r.read_u32le(stored);
    end = stored == 0 && unpacked == 0;
    return stored != 0 || unpacked == 0 || unpacked == cSoftPkg::kEmptyItemMark;
}

}  // namespace

bool cSoftPkg::newPackage() {
    {
        std::lock_guard<std::mutex> l(aheadLock_);
        ahead_.clear();
        spare_.clear();
    }
    std::vector<sPkgItem*>().swap(index_);
    items_.destroy();
    count_ = 0;
    block_.reset();
    own_.reset();
    ownBytes_ = 0;
    return true;
}

cSoftPkg::sFileStamp cSoftPkg::sFileStamp::of(const struct stat& st) {
    sFileStamp s;
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<unsigned long long>(std::max<off_t>(0, st.st_size));
    s.mode = static_cast<unsigned>(st.st_mode & (S_IFMT | 07777));
    s.modifiedSec = st.st_mtim.tv_sec;
    s.modifiedNsec = st.st_mtim.tv_nsec;
    s.changedSec = st.st_ctim.tv_sec;
    s.changedNsec = st.st_ctim.tv_nsec;
    return s;
}

bool cSoftPkg::sFileStamp::ofDescriptor(int fd, sFileStamp& out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    out = of(st);
    return true;
}

const char* cSoftPkg::sFileStamp::differenceFrom(const sFileStamp& then) const {
    if ((mode & S_IFMT) != (then.mode & S_IFMT)) {
        if (S_ISFIFO(mode)) return "replaced by a named pipe, not a regular file,";
        if (S_ISDIR(mode)) return "replaced by a folder, not a regular file,";
        return "replaced by what is not a regular file,";
    }
    if (device != then.device || inode != then.inode) return "replaced by another file";
    if (size != then.size || modifiedSec != then.modifiedSec || modifiedNsec != then.modifiedNsec) return "modified";
    if (mode != then.mode || changedSec != then.changedSec || changedNsec != then.changedNsec)
        return "its status changed";
    return "";
}

namespace {

// Opens a file to pack for reading without blocking, so that a named pipe
// put in a file's place is refused rather than waited on for a writer.
int openToRead(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A file item's file, read again: open only while it is the file added, as
// it was then.
class cAddedFile : public cFileIO {
public:
    bool openAdded(const cSoftPkg::sPkgItem& it) {
        const int fd = openToRead(it.source.c_str());
        if (fd < 0) return false;
        adopt(fd, it.source.c_str());
        return sameAs(it);
    }
    bool sameAs(const cSoftPkg::sPkgItem& it) {
        cSoftPkg::sFileStamp now;
        return cSoftPkg::sFileStamp::ofDescriptor(static_cast<int>(descriptor()), now) && now == it.sourceStamp;
    }
};

}  // namespace

bool cSoftPkg::readFileItem(sPkgItem& it, _typebuf<unsigned char>& bytes) {
    cAddedFile f;
    if (!f.openAdded(it)) return false;
    sSHA256Ctx sha;
    sha256_starts(&sha);
    try {
        if (it.sourceSize == 0)
            bytes.set(0);
        else if (!readStored(&f, it.sourceSize, sha, bytes))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Nothing may follow, and the file must be as it was all along: not
    // grown, nor written to as it was read.
    unsigned char extra;
    if (f.read(&extra, 1) != 0 || !f.sameAs(it)) return false;
    sha256_finish(&sha, it.digest);
    it.digestKnown = true;
    return true;
}

bool cSoftPkg::hashFileItem(sPkgItem& it) {
    cAddedFile f;
    if (!f.openAdded(it)) return false;
    sSHA256Ctx sha;
    sha256_starts(&sha);
    unsigned long long total = 0;
    const bool ok = readToEnd(&f, [&](const unsigned char* b, unsigned int n) {
        sha256_update(&sha, b, n);
        total += n;
    });
    if (!ok || total != it.sourceSize || !f.sameAs(it)) return false;
    sha256_finish(&sha, it.digest);
    it.digestKnown = true;
    return true;
}

void cSoftPkg::setFileDigest(int i, const unsigned char (&d)[32]) {
    sPkgItem* it = at(i);
    if (!it) return;
    std::memcpy(it->digest, d, sizeof d);
    it->digestKnown = true;
}

int cSoftPkg::addPkgFile(const char* path) {
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    // One status of what it is, and whether this process may read it,
    // without opening it (an open and a close cost twice a status): it is
    // opened when it is read, and checked against this status then.
    struct stat st;
    if (::stat(path, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return addPkgFile(path, sFileStamp::of(st));
}

int cSoftPkg::addPkgFile(const char* path, const sFileStamp& stamp, int readError) {
    if (!path || !*path || count_ >= kMaxItems) {
        errno = EINVAL;
        return -1;
    }
    if (readError > 0) {
        errno = readError;
        return -1;
    }
    if (readError < 0 && ::faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) != 0) return -1;
    if (stamp.size > kMaxItemBytes) {
        errno = EFBIG;
        return -1;
    }
    try {
        if (index_.size() == index_.capacity()) index_.reserve(std::max<std::size_t>(16, 2 * index_.size()));
        sPkgItem& it = items_.add()->value;
        it.source = path;
        it.sourceSize = stamp.size;
        it.sourceStamp = stamp;
        it.digestKnown = false;
        index_.push_back(&it);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
    return static_cast<int>(count_++);
}

bool cSoftPkg::loadPackageShared(const std::shared_ptr<const unsigned char>& block, std::size_t size,
                                 std::size_t& pos) {
    newPackage();
    if (!block || pos > size) return false;
    const unsigned char* base = block.get();
    _List<sPkgItem> items;
    std::vector<sPkgItem*> index;
    std::size_t at = pos;
    try {
        for (;;) {
            if (size - at < kHeadBytes) return false;
            std::uint32_t unpacked = 0, stored = 0;
            bool end = false;
            if (!parseHead(base + at, unpacked, stored, end)) return false;
            at += kHeadBytes;
            if (end) break;
            if (index.size() >= kMaxItems) return false;
            if (size - at < kDigestBytes || size - at - kDigestBytes < stored) return false;
            sPkgItem& it = items.add()->value;
            index.push_back(&it);
            it.unpackedSize = stored == 0 ? 0 : unpacked;
            std::memcpy(it.digest, base + at, kDigestBytes);
            at += kDigestBytes;
            if (stored != 0) {
                it.shared = base + at;
                it.sharedLength = stored;
                at += stored;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    adopt(items, index);
    block_ = block;
    pos = at;
    return true;
}

bool cSoftPkg::loadRecords(const std::vector<sRecord>& records) {
    newPackage();
    if (records.size() > kMaxItems) return false;
    _List<sPkgItem> items;
    std::vector<sPkgItem*> index;
    try {
        index.reserve(records.size());
        for (const sRecord& r : records) {
            sPkgItem& it = items.add()->value;
            index.push_back(&it);
            it.unpackedSize = r.storedLength == 0 ? 0 : r.unpackedSize;
            std::memcpy(it.digest, r.digest, sizeof it.digest);
            it.dropped = true;
            it.droppedLength = r.storedLength;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    adopt(items, index);
    return true;
}

void cSoftPkg::adopt(_List<sPkgItem>& items, std::vector<sPkgItem*>& index) {
    items_.swap(items);
    index_.swap(index);
    count_ = static_cast<std::uint32_t>(index_.size());
}

const cSoftPkg::sPkgItem* cSoftPkg::find(int i) const {
    if (i < 0 || static_cast<std::uint32_t>(i) >= count_) return nullptr;
    return index_[static_cast<std::size_t>(i)];
}

bool cSoftPkg::loadPackage(cFileIOTarget* src) {
    std::shared_ptr<unsigned char> spare = std::move(own_);
    const std::size_t spareBytes = ownBytes_;
    newPackage();
    if (!src) return false;
    const long long sizeHint = src->size();
    const long long start = src->get_fp();
    if (sizeHint > 0 && start >= 0 && start < sizeHint &&
        static_cast<unsigned long long>(sizeHint - start) <= kWholeTableBytes)
        return loadWhole(src, start, static_cast<unsigned long long>(sizeHint - start), std::move(spare), spareBytes);
    _List<sPkgItem> items;
    std::vector<sPkgItem*> index;
    try {
        for (;;) {
            unsigned char head[kHeadBytes];
            if (!readFully(src, head, kHeadBytes)) return false;
            std::uint32_t unpacked = 0, stored = 0;
            bool end = false;
            if (!parseHead(head, unpacked, stored, end)) return false;
            if (end) break;  // the end mark
            if (index.size() >= kMaxItems) return false;
            sPkgItem& it = items.add()->value;
            index.push_back(&it);
            it.unpackedSize = stored == 0 ? 0 : unpacked;
            if (!readFully(src, it.digest, kDigestBytes)) return false;
            if (stored != 0 && !readRecordData(src, stored, sizeHint, it.data)) return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    adopt(items, index);
    return true;
}

bool cSoftPkg::loadWhole(cFileIOTarget* src, long long start, unsigned long long rest,
                         std::shared_ptr<unsigned char> spare, std::size_t spareBytes) {
    std::shared_ptr<unsigned char> block;
    std::size_t blockBytes = static_cast<std::size_t>(rest);
    // The block of the table read before, when nothing else holds it and it
    // is large enough: its pages are had already.
    if (spare && spare.use_count() == 1 && spareBytes >= rest) {
        block = std::move(spare);
        blockBytes = spareBytes;
    } else {
        spare.reset();
        try {
            block = freshBlock(blockBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // What the source holds up to its size: a read that fails or ends early
    // only matters when the table is not complete before it, as when
    // reading record by record.
    unsigned long long have = 0;
    while (have < rest) {
        const unsigned int want = static_cast<unsigned int>(std::min(rest - have, kLargestTransfer));
        const unsigned int got = src->read(block.get() + have, want);
        if (!cFileIOTarget::transferred(got, want) || got == 0) break;
        have += got;
    }
    std::size_t pos = 0;
    bool ok = loadPackageShared(block, static_cast<std::size_t>(have), pos);
    if (ok && have - pos > kSlackBytes && have - pos > pos) {
        // Much more followed the table than it holds: it keeps a block of
        // its own size instead.
        std::shared_ptr<unsigned char> fit;
        try {
            fit.reset(new unsigned char[pos], std::default_delete<unsigned char[]>());
        } catch (const std::bad_alloc&) {
            newPackage();
            return false;
        }
        std::memcpy(fit.get(), block.get(), pos);
        block = fit;
        blockBytes = pos;
        std::size_t again = 0;
        ok = loadPackageShared(fit, pos, again) && again == pos;
    }
    // The position is left just past the end mark, as reading record by
    // record leaves it.
    if (!ok || !src->set_fp(static_cast<unsigned long long>(start) + pos)) {
        newPackage();
        return false;
    }
    own_ = std::move(block);
    ownBytes_ = blockBytes;
    return true;
}

bool cSoftPkg::savePackage(cFileIOTarget* dst) {
    if (!dst || count_ == 0) return false;
    for (sPkgItem& it : items_) {
        if (it.dropped) return false;
        // A file item is read now, whole: its digest comes before its bytes.
        _typebuf<unsigned char> file;
        if (it.isFile() && !readFileItem(it, file)) return false;
        const unsigned char* bytes = it.isFile() ? file.data() : it.bytes();
        const unsigned long long stored = it.isFile() ? static_cast<unsigned long long>(file.count()) : it.length();
        if (stored > kMaxItemBytes) return false;
        unsigned char head[kHeadBytes + kDigestBytes];
        putU32le(head, stored == 0 ? kEmptyItemMark : it.unpackedSize);
        putU32le(head + 4, static_cast<std::uint32_t>(stored));
        std::memcpy(head + kHeadBytes, it.digest, kDigestBytes);
        if (!writeFully(dst, head, sizeof head) || !writeFully(dst, bytes, stored)) return false;
    }
    unsigned char endMark[kHeadBytes] = {};
    return writeFully(dst, endMark, sizeof endMark);
}

int cSoftPkg::addPkgItem(cFileIOTarget* src, bool compress) {
    if (!src || count_ >= kMaxItems) return -1;
    const long long size = src->size();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxItemBytes) return -1;
    if (!src->set_fp(0)) return -1;
    sPkgItem fresh;
    sSHA256Ctx sha;
    sha256_starts(&sha);
    try {
        const unsigned long long n = static_cast<unsigned long long>(size);
        if (n > 0) {
            if (!(compress ? readDeflated(src, n, sha, fresh.data) : readStored(src, n, sha, fresh.data))) return -1;
            // A deflated item records its plain size; 0 would read as stored.
            fresh.unpackedSize = compress ? static_cast<std::uint32_t>(n) : 0;
        }
        sha256_finish(&sha, fresh.digest);
        // Room first, so that a failure past this point cannot leave an item
        // in the list without its index entry.
        if (index_.size() == index_.capacity()) index_.reserve(std::max<std::size_t>(16, 2 * index_.size()));
        sPkgItem& it = items_.add()->value;
        it = std::move(fresh);
        index_.push_back(&it);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return static_cast<int>(count_++);
}

cFileIOTarget* cSoftPkg::item(int i) {
    const sPkgItem* it = find(i);
    if (!it || it->dropped) return nullptr;
    try {
        if (it->isFile()) {
            cFileIO* f = new cFileIO();
            if (!f->open(it->source.c_str(), fmRead)) {
                delete f;
                return nullptr;
            }
            return f;
        }
        if (it->length() == 0) return new cBufWrapperIO(gNoBytes, 0, false);
        cBufWrapperIO* raw =
            new cBufWrapperIO(const_cast<unsigned char*>(it->bytes()), static_cast<long long>(it->length()), false);
        if (it->unpackedSize == 0) return raw;
        cZStream* z = nullptr;
        try {
            z = new cZStream();
        } catch (const std::bad_alloc&) {
            delete raw;
            throw;
        }
        // The inflating stream owns the window on the buffer from here on.
        if (!z->create(raw, it->unpackedSize, kItemStreamBuffer, true)) {
            delete z;
            return nullptr;
        }
        return z;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

unsigned long long cSoftPkg::sizeOf(int i) const {
    const sPkgItem* it = find(i);
    if (!it) return 0;
    if (it->isFile()) return it->sourceSize;
    return it->unpackedSize != 0 ? it->unpackedSize : it->length();
}

bool cSoftPkg::digest(int i, unsigned char (&out)[32]) const {
    const sPkgItem* it = find(i);
    if (!it) return false;
    // A file item not read yet is read now.
    if (!it->digestKnown && !hashFileItem(*const_cast<sPkgItem*>(it))) return false;
    std::memcpy(out, it->digest, sizeof out);
    return true;
}

bool cSoftPkg::verify(int i) {
    sPkgItem* it = at(i);
    if (!it || it->dropped) return false;
    unsigned char got[32];
    if (it->isFile()) {
        // A file item is its file: its digest is the file's, once known.
        unsigned char known[32];
        const bool had = it->digestKnown;
        std::memcpy(known, it->digest, sizeof known);
        if (!hashFileItem(*it)) return false;
        return !had || std::memcmp(known, it->digest, sizeof known) == 0;
    }
    // Stored bytes are what the stream would yield: they are hashed in
    // place.  A deflated item must decode exactly (see inflateExactly).
    if (!(checkedWhole(*it) ? wholeDigest(i, *it, got)
                            : inflateExactly(it->bytes(), it->length(), it->unpackedSize, got)))
        return false;
    return std::memcmp(got, it->digest, sizeof got) == 0;
}

bool cSoftPkg::wholeDigest(int i, const sPkgItem& it, unsigned char (&got)[32]) {
    const sPkgItem* next = nullptr;
    _typebuf<unsigned char> mine, theirs;
    {
        std::lock_guard<std::mutex> l(aheadLock_);
        auto found = ahead_.find(i);
        if (found != ahead_.end()) {
            std::memcpy(got, found->second.data(), sizeof got);
            ahead_.erase(found);
            return true;
        }
        // Pairs only when no other check runs: items checked on several
        // threads at once are each hashed by their own thread.  The next
        // item must be checked whole too, and about as long, so that this
        // check does not take on much more than its own work.
        const sPkgItem* n = find(i + 1);
        if (verifying_ == 0 && n && checkedWhole(*n) && plainSize(it) >= kPairMinBytes &&
            plainSize(*n) >= kPairMinBytes && plainSize(*n) / 4 <= plainSize(it) && ahead_.count(i + 1) == 0)
            next = n;
        ++verifying_;
        if (!spare_.empty()) {
            mine.swap(spare_.back());
            spare_.pop_back();
        }
        if (next && !spare_.empty()) {
            theirs.swap(spare_.back());
            spare_.pop_back();
        }
    }
    const unsigned char *a = nullptr, *b = nullptr;
    const bool ok = plainOf(it, mine, a);
    // The next item's failure is its own: it is then checked on its own.
    const bool both = ok && next && plainOf(*next, theirs, b);
    unsigned char d[32];
    if (both)
        SHA2HashPair(a, static_cast<long long>(plainSize(it)), got, b, static_cast<long long>(plainSize(*next)), d);
    else if (ok)
        SHA2Hash(a, got, static_cast<long long>(plainSize(it)));
    std::lock_guard<std::mutex> l(aheadLock_);
    --verifying_;
    if (both) std::memcpy(ahead_[i + 1].data(), d, sizeof d);
    for (_typebuf<unsigned char>* buf : {&mine, &theirs})
        if (!buf->empty() && spare_.size() < kSpareBuffers) spare_.push_back(std::move(*buf));
    return ok;
}

bool cSoftPkg::mkDigest(cFileIOTarget* src, unsigned char (&out)[32]) { return SHA2Hash(src, out); }
