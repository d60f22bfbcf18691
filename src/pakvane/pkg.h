// cSoftPkg: the package item table of a scenario.  One item per file that an
// installation puts in place: the file's bytes, stored as they are or as a
// zlib stream, with the SHA-256 digest of the plain bytes.  Items are
// addressed by their index, counted from 0 in the order they were added.
//
// The saved table (the last section of a binary scenario) is a run of
// records, all integers little-endian, no count, no padding:
//
//   u32   unpacked size: 0 = the data is the plain bytes, else the data is a
//         zlib stream (RFC 1950) of exactly that many plain bytes
//   u32   stored length L of the data, at least 1
//   u8[32] SHA-256 of the plain bytes
//   u8[L] data
//
// ended by 8 zero bytes (unpacked size 0, length 0).  An empty file cannot
// be a record of length 0 with unpacked size 0, which is the end mark; it is
// written as unpacked size kEmptyItemMark with length 0 and the digest of no
// bytes.  Tables without empty files carry no such record.
#pragma once

#include <cstdint>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/lists.h"

struct stat;

class cSoftPkg {
public:
    // What a file to pack was when it was added, as its status tells: the
    // file it is (device and inode), its size, its permission bits and when
    // its bytes and its status last changed, to the nanosecond.  A reading
    // that finds it otherwise before or after reads a file that changed
    // meanwhile, even one rewritten in place with as many bytes.
    struct sFileStamp {
        std::uint64_t device = 0, inode = 0;
        unsigned long long size = 0;
        unsigned mode = 0;  // the file type and permission bits (S_IFMT | 07777)
        long long modifiedSec = 0, modifiedNsec = 0;
        long long changedSec = 0, changedNsec = 0;

        static sFileStamp of(const struct stat& st);
        // Of the file open at fd; false (errno set) when its status cannot
        // be read.
        static bool ofDescriptor(int fd, sFileStamp& out);
        bool operator==(const sFileStamp& o) const {
            return device == o.device && inode == o.inode && size == o.size && mode == o.mode &&
                   modifiedSec == o.modifiedSec && modifiedNsec == o.modifiedNsec && changedSec == o.changedSec &&
                   changedNsec == o.changedNsec;
        }
        bool operator!=(const sFileStamp& o) const { return !(*this == o); }
        // What differs from `then` in a few words: "replaced by a named
        // pipe, not a regular file," (or a folder, or what else it is),
        // "replaced by another file", "modified" or "its status changed"
        // (empty when nothing).
        const char* differenceFrom(const sFileStamp& then) const;
    };

    struct sPkgItem {
        // 0: data holds the plain bytes; otherwise data is a zlib stream of
        // this many plain bytes.
        std::uint32_t unpackedSize = 0;
        std::uint8_t digest[32] = {};
        // Bytes inside the table's shared block (the body of a payload read
        // back), not copied: sharedLength bytes at shared.  (Here, where it
        // fills what would be padding: a table may hold hundreds of
        // thousands of items.)
        std::uint32_t sharedLength = 0;
        // The stored bytes; empty only for an item of an empty file, or when
        // the bytes lie in the table's shared block or in a file.
        _typebuf<unsigned char> data;
        const unsigned char* shared = nullptr;
        // A file named by a text scenario, read only when the table is saved
        // (or an item's bytes or digest are asked for): its path and the size
        // it had when it was added.  Its digest is known once it was read.
        std::string source;
        unsigned long long sourceSize = 0;
        sFileStamp sourceStamp;
        bool digestKnown = true;
        // A record checked as it streamed past, its bytes not kept: only its
        // stored length is known.
        bool dropped = false;
        std::uint32_t droppedLength = 0;

        bool isFile() const { return !source.empty(); }
        // The stored bytes held in memory (not for a file item; null for a
        // dropped one).
        const unsigned char* bytes() const { return dropped ? nullptr : shared ? shared : data.data(); }
        unsigned long long length() const {
            return dropped ? droppedLength : shared ? sharedLength : static_cast<unsigned long long>(data.count());
        }
    };

    // What a table read as a stream keeps of a record: its head and digest.
    struct sRecord {
        std::uint32_t unpackedSize = 0;
        std::uint32_t storedLength = 0;
        std::uint8_t digest[32] = {};
    };

    // The unpacked size that marks an empty item in a saved table.
    static constexpr std::uint32_t kEmptyItemMark = 0xFFFFFFFFu;
    // The largest source and the largest stored data an item can hold: both
    // lengths are u32 fields.
    static constexpr unsigned long long kMaxItemBytes = 0xFFFFFFFFull;
    // Indexes are ints: a table never holds more items than that.
    static constexpr std::uint32_t kMaxItems = 0x7FFFFFFFu;
    // The zlib level of deflated items.
    static constexpr int kPackLevel = 9;

    cSoftPkg() = default;
    cSoftPkg(const cSoftPkg&) = delete;
    cSoftPkg& operator=(const cSoftPkg&) = delete;

    // Frees every item; always true.
    bool newPackage();

    // Replaces the table by the records read from src at its position, up to
    // and including the end mark.  False on a short read, a record that
    // breaks the layout, a failed allocation or a null src; the table is
    // then empty.  Digests are not checked here (see verify).
    bool loadPackage(cFileIOTarget* src);
    // Writes every record and the end mark at dst's position.  False for a
    // null dst, an empty table (nothing is written) or a failed write.
    bool savePackage(cFileIOTarget* dst);

    // Reads the whole of src (from byte 0) into a new item, stored or
    // deflated at level 9, and returns its index; -1 for a null src, a
    // source larger than kMaxItemBytes, a failed read, a source that
    // yields fewer bytes than its size, deflated data larger than
    // kMaxItemBytes, or lack of memory.  A failure adds nothing.  An empty
    // source gives an empty item whichever way was asked.
    int addPkgItem(cFileIOTarget* src, bool compress);
    // Adds the regular file at path as a stored item without reading it:
    // its bytes are read, and its digest taken, when the table is saved or
    // an item's bytes or digest are asked for.  -1 when the file cannot be
    // opened for reading, is not a regular file or is larger than
    // kMaxItemBytes; errno then says why: the open's own reason, EINVAL for
    // what is not a regular file, EFBIG for a file too large.  Saving fails
    // should the file then be another than it was (its sourceStamp).
    int addPkgFile(const char* path);
    // The same for a regular file whose status is known already (a folder's
    // listing took it, through its links): only whether this process may
    // read it is asked.  A scenario names hundreds of thousands of files.
    // readError: whether it may be read, when that was asked already (0 or
    // the system's reason; -1 asks now).
    int addPkgFile(const char* path, const sFileStamp& stamp, int readError = -1);

    // Replaces the table by the records at block + pos (at most size - pos
    // bytes), up to and including the end mark, without copying: the items
    // point into the block, which the table keeps alive.  pos moves past the
    // end mark.  The same checks as loadPackage.
    bool loadPackageShared(const std::shared_ptr<const unsigned char>& block, std::size_t size, std::size_t& pos);
    // Replaces the table by items known only by their records, their bytes
    // not kept (a table checked as it streamed past): sizeOf and digest
    // answer for them; item gives null; verify and savePackage fail.  False
    // only for lack of memory (the table is then empty).
    bool loadRecords(const std::vector<sRecord>& records);

    // A new reading stream of item i's plain bytes (an empty stream for an
    // empty item); null when there is no item i or the stream cannot be
    // made.  The caller deletes it; it reads the table's own buffer, so the
    // table must outlive it and stay unchanged meanwhile.
    cFileIOTarget* item(int i);
    // Plain size of item i; 0 when there is no item i.
    unsigned long long sizeOf(int i) const;
    // Copies item i's digest; false when there is no item i.
    bool digest(int i, unsigned char (&out)[32]) const;
    // True when item i's plain bytes have the item's digest.  A deflated
    // item's zlib stream must end, its checksum right, after exactly its
    // unpacked size, with nothing after it.  False for an item whose bytes
    // were not kept.
    bool verify(int i);

    // SHA-256 of everything src yields from its position to its end (it is
    // not rewound).  False, with out left alone, for a null src or a failed
    // read.
    static bool mkDigest(cFileIOTarget* src, unsigned char (&out)[32]);

    std::uint32_t count() const { return count_; }

    // For the payload writer: item i as it is held (null when there is no
    // item i), and the digest of a file item once its bytes were read.
    const sPkgItem* itemInfo(int i) const { return find(i); }
    void setFileDigest(int i, const unsigned char (&d)[32]);

private:
    const sPkgItem* find(int i) const;
    // Takes items and their index as the table.
    void adopt(_List<sPkgItem>& items, std::vector<sPkgItem*>& index);
    sPkgItem* at(int i) { return const_cast<sPkgItem*>(find(i)); }
    // Reads file item `it` whole (checking its size) and learns its digest.
    static bool readFileItem(sPkgItem& it, _typebuf<unsigned char>& bytes);
    // loadPackage when src can tell its size and position: the rest bytes
    // from start read whole into one block, spare (spareBytes long, the
    // block of the table read before) when it will do.
    bool loadWhole(cFileIOTarget* src, long long start, unsigned long long rest, std::shared_ptr<unsigned char> spare,
                   std::size_t spareBytes);
    // Hashes file item `it` without keeping its bytes and learns its digest.
    static bool hashFileItem(sPkgItem& it);

    // The items in index order; index_ points at each for direct lookup.
    _List<sPkgItem> items_;
    std::uint32_t count_ = 0;
    std::vector<sPkgItem*> index_;
    // The block the shared items point into.
    std::shared_ptr<const unsigned char> block_;
    // The block this table made to read a table whole, ownBytes_ long: the
    // next whole read takes it again when nothing else holds it.
    std::shared_ptr<unsigned char> own_;
    std::size_t ownBytes_ = 0;
    // verify hashes an item together with the next one when it can
    // (twice the speed on processors with SHA instructions) and keeps the
    // next one's digest here until that item is verified.  Items never
    // change once added, so a kept digest stays true until newPackage.
    std::mutex aheadLock_;
    std::map<int, std::array<unsigned char, 32>> ahead_;
    int verifying_ = 0;
    // Plain-byte buffers of deflated items checked before, for the next
    // checks (at most two, each at most the largest item checked whole).
    std::vector<_typebuf<unsigned char>> spare_;
    // The digest of the plain bytes of item i, held in memory and checked
    // whole: from ahead_, or hashed now, perhaps with item i + 1.  False when
    // a deflated item does not decode exactly.
    bool wholeDigest(int i, const sPkgItem& it, unsigned char (&got)[32]);
};
