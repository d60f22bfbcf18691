// The installer payload's body written and read on every core the process
// may run on, streamed: never the whole body twice in memory.
//
// Writing: the body (the scenario's sections, then the item table) is cut
// into blocks of kDeflateBlock bytes, and each block is deflated on a worker
// thread as a piece of one zlib stream: primed with the 32 KiB before it as
// its dictionary (or, by libdeflate, whole without it) and ended with a sync
// flush, the last one with the stream's end, so that the pieces in order are
// a single valid zlib stream (as parallel gzip tools make theirs).  Files named by a text scenario are read
// and hashed ahead on the workers, within a fixed memory budget; a file
// larger than kHeldFileBytes is hashed ahead and read a second time as it is
// deflated, checked against the first reading.  Compressed blocks go to the
// output in order as they are done.
//
// Reading: the packed bytes are read whole and decoded in one call into one
// buffer of the body's size (libdeflate, several times faster than zlib's
// inflate, with every refusal zlib's), which is then hashed; the items of
// the table point into that buffer, and their digests are checked in
// parallel.  (pkgmake's check reads a payload of any size as a stream
// instead: payloadcheck.h.)
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/fileio.h"

class cSoftPkg;

// Where a payload's writing or reading stands.
struct sPayloadProgress {
    // Items fully read into the stream (writing) or checked (reading).
    unsigned items = 0;
    unsigned itemsTotal = 0;
    // Body bytes deflated and written (writing) or inflated (reading).
    unsigned long long plainDone = 0;
    unsigned long long plainTotal = 0;
    // Payload bytes written (writing) or read (reading); the total is 0 while
    // writing, until the end.
    unsigned long long packedDone = 0;
    unsigned long long packedTotal = 0;
    // Reading with verification: item bytes whose digests were checked.
    unsigned long long checkedDone = 0;
    unsigned long long checkedTotal = 0;
};

class cPayloadObserver {
public:
    virtual ~cPayloadObserver() = default;
    // Called on the thread that saves or loads, often (after every block
    // or piece): it should be cheap.
    virtual void onPayloadProgress(const sPayloadProgress& progress) = 0;
};

// Why a payload could not be written, read or checked: enough to name the
// file and the cause.  Only the fields that apply to the cause are set.
struct sPayloadFault {
    enum eCause {
        none = 0,
        // Writing.
        fileChanged,     // path: its size (before, after) or, with equal sizes, its bytes (detail empty) or its
                         // status (detail: what changed, cSoftPkg::sFileStamp::differenceFrom) since it was added
        fileUnreadable,  // path, error: a file to pack could not be opened or read
        writeFailed,     // error: the output could not be written (ENOSPC: the disk is full)
        tooLarge,        // total: the body, or its packed stream, passes the format's 32-bit sizes
        notHeld,         // item: an item whose bytes were not kept cannot be packed
        // Reading.
        readFailed,  // at, error: the payload could not be read at byte `at`
        notPayload,  // detail: no magic, an unknown version, or sizes no payload has
        truncated,   // at: the payload ends at byte `at`; total: the bytes its header announces
        trailing,    // at: where the payload ends and other bytes follow; total: how many (0: unknown)
        badStream,   // at, detail: the zlib stream is damaged, or does not end where its header's packed size says;
                     // item: the item whose bytes the damage lies in (at 0: placed by its digest alone), -1 unknown
        badBody,     // the body's SHA-256 is not the header's; item as for badStream
        badHeader,   // at, detail: a size in the header (at its offset) disagrees with an intact stream
        badLayout,   // at, detail: the body's sections break the format at body byte `at`
        badItem,     // item: its bytes do not match its digest, or a deflated item does not decode exactly
        badScenario, // the sections do not load as a scenario: a text, a document or a reference in them
        noMemory,
    };
    eCause cause = none;
    std::string path;
    int error = 0;
    long long item = -1;
    unsigned long long at = 0, total = 0, before = 0, after = 0;
    std::string detail;

    explicit operator bool() const { return cause != none; }
};

// One line that says what failed: `file` is the payload being read or
// written (a write failure names it; a fault of a file being packed names
// that file).
std::string describePayloadFault(const sPayloadFault& fault, const std::string& file);

struct sPayloadOptions {
    // Worker threads; 0: one for every core this process may run on.
    int threads = 0;
    cPayloadObserver* observer = nullptr;
    // Loading: check every item's digest as well (in parallel).
    bool verifyItems = false;
    // Out, loading with verification: the first item whose bytes do not
    // match its digest, -1 when none.
    int badItem = -1;
    // Out: why the last call that took these options failed, when it knows
    // (cleared as such a call starts).
    sPayloadFault fault;
    // Saving: files up to this size are read whole ahead, larger ones are
    // hashed ahead and read again as they are packed; and the most bytes of
    // files held read ahead at once.
    unsigned long long heldFileBytes = 8ull << 20;
    unsigned long long readAheadBytes = 16ull << 20;
    // Saving: the most bytes of a larger file packed while its first
    // reading, which gives the digest its record puts first, has not ended
    // (0: wait for the digest).
    unsigned long long packAheadOfDigest = 32ull << 20;
    // Saving: called after each piece of a file to pack is read, with the
    // file's path as it was added and the piece's place in it [from, to),
    // on the thread that reads it (any worker).  A file larger than
    // heldFileBytes is read twice (its digest, then its bytes packed), the
    // others once.  For a caller that shows the reading, or a test that
    // changes a file between two of its pieces.
    std::function<void(const std::string& path, unsigned long long from, unsigned long long to)> onFilePiece;
};

// Bytes of body per deflated block, and of the dictionary before each.  A
// block that libdeflate deflates does without the dictionary: at 512 KiB
// what that costs is won back by its blocks' codes.
constexpr std::size_t kDeflateBlock = 512 * 1024;
constexpr std::size_t kDeflateDictionary = 32 * 1024;

// The number of cores this process may run on (at least 1); asked > 0 is
// taken as it is.
int payloadThreads(int asked);

// Deflates the body (prefix, then pkg's item table as section 13 when it is
// not empty, then the end tag 0) as one zlib stream at maximum compression
// (deflated 512 KiB at a time on every core) and writes it to dst at its
// position.  Gives the body's size and SHA-256 and the stream's size.
// False, with options.fault saying why, when a file item cannot be read as
// it was added, the body or its stream would exceed 0xFFFFFFFF bytes, or a
// write fails.
bool writePayloadBody(cFileIOTarget* dst, const std::vector<unsigned char>& prefix, cSoftPkg& pkg,
                      sPayloadOptions& options, unsigned char (&digest)[32], unsigned long long& bodySize,
                      unsigned long long& packedSize);
// The same with the prefix's prefixSize bytes read from `prefix` at its
// position, in pieces: a prefix that lists hundreds of thousands of files is
// never copied whole.
bool writePayloadBody(cFileIOTarget* dst, cFileIOTarget* prefix, unsigned long long prefixSize, cSoftPkg& pkg,
                      sPayloadOptions& options, unsigned char (&digest)[32], unsigned long long& bodySize,
                      unsigned long long& packedSize);

// Reads packedSize bytes of a zlib stream from src, which must inflate to
// exactly bodySize bytes with the given SHA-256 and end there.  The body is
// given in a shared block.  False on a short read, a bad stream, a wrong
// size or digest, or lack of memory.  The packed bytes are held whole
// beside the body while it is decoded.
bool readPayloadBody(cFileIOTarget* src, unsigned long long bodySize, unsigned long long packedSize,
                     const unsigned char (&digest)[32], sPayloadOptions& options,
                     std::shared_ptr<const unsigned char>& body);
// The same from the packed bytes in memory.
bool decodePayloadBody(const unsigned char* packed, unsigned long long packedSize, unsigned long long bodySize,
                       const unsigned char (&digest)[32], sPayloadOptions& options,
                       std::shared_ptr<const unsigned char>& body);

// Checks every item's digest in parallel; false with options.badItem set at
// the first (lowest) item that does not match.
bool verifyPayloadItems(cSoftPkg& pkg, sPayloadOptions& options, const sPayloadProgress& soFar);
