#include "uitoolkit/ciappconfig.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/fileio.h"
#include "base/folders.h"
#include "uitoolkit/limits.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qor_uitk;

void (*cCIAppConfig::gSaveStepHook)(int) = nullptr;
int cCIAppConfig::gForeignLockWaitMs = cCIAppConfig::kForeignLockWaitMs;

namespace {

const unsigned char kMagic[4] = {'Q', 'O', 'R', 'C'};
const char kTempPrefix[] = ".hive-";
const char kTempSuffix[] = ".tmp";
const char kAsideSuffix[] = ".bad";
// Pieces a file is written in while the save hook is set; the hook sees
// each one.  Without it a file goes in one write.
constexpr std::size_t kWritePiece = 64 * 1024;
// How many siblings ahead a hive's writer asks for the nodes it will visit.
constexpr std::size_t kNodesAhead = 4;

bool endsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool startsWith(const std::string& s, const char* head) { return s.compare(0, std::strlen(head), head) == 0; }

// A name a path can reach: 1 to 255 bytes, no '/' (which would split it),
// not "." or "..".  The name ends at its first NUL, as every name given to
// the store does.
bool validNodeName(const char* name, std::size_t n) {
    if (n == 0 || n > static_cast<std::size_t>(kMaxHiveNameBytes) || std::memchr(name, '/', n)) return false;
    return !(name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.')));
}

// A section is a file of the folder: it needs a name that stays inside it
// (no '/', not "." or "..") and is not one of the store's own files.
bool validSectionName(const char* name) {
    return name && validNodeName(name, std::strlen(name)) && !cCIAppConfig::isStoreFileName(name);
}

// The name bytes a key holds (its words, big-endian, up to the first NUL).
std::size_t keyName(const cStringKey& key, unsigned char* out, std::size_t room) {
    std::size_t n = 0;
    const unsigned int* w = key.words.data();
    for (long long i = 0; i < key.words.count(); ++i) {
        for (int b = 3; b >= 0; --b) {
            const unsigned char c = static_cast<unsigned char>(w[i] >> (8 * b));
            if (!c || n == room) return n;
            out[n++] = c;
        }
    }
    return n;
}

// The name field for a name of n bytes: NUL-padded to a multiple of 4, cut
// to 255 bytes.  0 for a name that cannot be written.
std::size_t fieldLengthFor(std::size_t n) {
    if (n == 0 || n > static_cast<std::size_t>(kMaxHiveNameBytes)) return 0;
    const std::size_t padded = (n + 3) & ~static_cast<std::size_t>(3);
    return padded > static_cast<std::size_t>(kMaxHiveNameBytes) ? kMaxHiveNameBytes : padded;
}

// Names in cStringKey order: byte by byte, a shorter name before a longer
// one that starts with it.
int compareNames(const unsigned char* a, std::size_t an, const unsigned char* b, std::size_t bn) {
    const int c = std::memcmp(a, b, std::min(an, bn));
    if (c) return c;
    return an < bn ? -1 : an > bn ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Nodes
//
// A hive is read into one node per name: 32 bytes with a name and a value
// of up to 6 bytes together in place (more on the heap), and the children
// of a node in an array of node pointers (a single child in place).  Nodes
// and the arrays of up to kArenaSlotsMost pointers are carved from chunks
// of the tree's arena, so that they cost no allocator overhead; larger
// arrays come from the heap, grow in place and are cut to their count once
// read.  With the bytes of the file, which stay as the image a save copies
// from, a loaded hive so takes at most kHiveBytesPerFileByte times its
// file's size: the shortest leaf in a file, 6 bytes (a one-byte name field,
// no value), takes 32 for its node and 8 for its place in its parent's
// list; a longer name or a value brings its own bytes and more of the
// file's.  (The base library's cIntegralMemory does not serve here:
// it never takes a piece back, so a removed node's memory would stay lost,
// and its first block of 64 KiB would be far more than a small hive's file.)

namespace {

using tNode = cCIAppConfig::sDataContainer;

// Arrays of this many pointers or fewer come from the arena.
constexpr std::uint32_t kArenaSlotsMost = 64;
// The arena's chunks grow from the first size to the last.
constexpr std::size_t kFirstChunk = 256;
constexpr std::size_t kLastChunk = 64 * 1024;

}  // namespace

struct cCIAppConfig::cHiveChildren::sArray {
    std::uint32_t count;
    std::uint32_t cap;
    tNode** slots() { return reinterpret_cast<tNode**>(this + 1); }
    static std::size_t bytesFor(std::uint32_t cap) { return sizeof(sArray) + sizeof(tNode*) * cap; }
};

class cCIAppConfig::cNodeArena {
public:
    using sArray = cHiveChildren::sArray;

    // The arena of the tree a node belongs to, made for a root that has
    // none yet.
    static cNodeArena& of(const tNode* n);

    cNodeArena() = default;
    ~cNodeArena() {
        for (const auto& c : mChunks) {
            QOR_TREE_UNPOISON(c.first, c.second);
            ::operator delete(c.first);
        }
    }
    cNodeArena(const cNodeArena&) = delete;
    cNodeArena& operator=(const cNodeArena&) = delete;

    // A node with an empty value, no name and no children, whose parent is
    // `parent`.  std::bad_alloc when the heap is full.
    tNode* node(tNode* parent) {
        tNode* n = ::new (take(sizeof(tNode))) tNode;
        n->up = reinterpret_cast<std::uintptr_t>(parent);
        return n;
    }
    // Frees a node with its subtree.
    void drop(tNode* n) {
        dropChildren(n->children);
        n->~tNode();
        give(n, sizeof(tNode));
    }
    void dropChildren(cHiveChildren& c) {
        if (!c.mBits) return;
        if (!(c.mBits & 1)) {
            drop(reinterpret_cast<tNode*>(c.mBits));
        } else {
            sArray* a = c.array();
            for (std::uint32_t i = 0; i < a->count; ++i) drop(a->slots()[i]);
            dropArray(a);
        }
        c.mBits = 0;
    }

    // An array with room for cap pointers (count 0).
    sArray* array(std::uint32_t cap) {
        void* p = cap <= kArenaSlotsMost ? take(sArray::bytesFor(cap)) : std::malloc(sArray::bytesFor(cap));
        if (!p) throw std::bad_alloc();
        sArray* a = static_cast<sArray*>(p);
        a->count = 0;
        a->cap = cap;
        return a;
    }
    // The same pointers in an array of another capacity (not below its
    // count); the old one is freed.  A large array grows in place where the
    // heap can.
    sArray* resize(sArray* a, std::uint32_t cap) {
        if (a->cap > kArenaSlotsMost && cap > kArenaSlotsMost) {
            void* p = std::realloc(a, sArray::bytesFor(cap));
            if (!p) throw std::bad_alloc();
            a = static_cast<sArray*>(p);
            a->cap = cap;
            return a;
        }
        sArray* b = array(cap);
        b->count = a->count;
        std::memcpy(b->slots(), a->slots(), sizeof(tNode*) * a->count);
        dropArray(a);
        return b;
    }
    void dropArray(sArray* a) {
        if (a->cap > kArenaSlotsMost)
            std::free(a);
        else
            give(a, sArray::bytesFor(a->cap));
    }

private:
    // Pieces are multiples of 8 bytes; each size has its list of freed
    // pieces, linked through their first word.
    static constexpr std::size_t kSizes = sizeof(sArray) / 8 + kArenaSlotsMost + 1;
    static_assert(sizeof(tNode) % 8 == 0 && sizeof(tNode) / 8 < kSizes, "a node is one of the arena's sizes");

    // Pieces not handed out are poisoned for AddressSanitizer, as the
    // tree lists' nodes are: a handle kept past its node's removal is
    // caught.
    void* take(std::size_t bytes) {
        void*& head = mFree[bytes / 8];
        if (head) {
            void* p = head;
            QOR_TREE_UNPOISON(p, bytes);
            std::memcpy(&head, p, sizeof head);
            return p;
        }
        if (mLeft < bytes) {
            const std::size_t size =
                std::max(bytes, std::min(kLastChunk, mChunks.empty() ? kFirstChunk : 2 * mLastSize));
            // The list of chunks grows by doubling: grown by one each time,
            // the lists it leaves behind lie between the chunks, never
            // taken again.
            if (mChunks.size() == mChunks.capacity()) mChunks.reserve(2 * mChunks.size() + 16);
            mNext = static_cast<unsigned char*>(::operator new(size));
            mChunks.emplace_back(mNext, size);
            mLastSize = mLeft = size;
            QOR_TREE_POISON(mNext, size);
        }
        void* p = mNext;
        QOR_TREE_UNPOISON(p, bytes);
        mNext += bytes;
        mLeft -= bytes;
        return p;
    }
    void give(void* p, std::size_t bytes) {
        void*& head = mFree[bytes / 8];
        std::memcpy(p, &head, sizeof head);
        head = p;
        QOR_TREE_POISON(p, bytes);
    }

    std::vector<std::pair<unsigned char*, std::size_t> > mChunks;
    unsigned char* mNext = nullptr;
    std::size_t mLeft = 0;
    std::size_t mLastSize = 0;
    void* mFree[kSizes] = {};
};

static_assert(sizeof(cCIAppConfig::sDataContainer) <= 32, "a node fits the bound of a loaded hive");
static_assert(std::is_standard_layout<cCIAppConfig::sNodeBits>::value && sizeof(cCIAppConfig::sNodeBits) == 16,
              "the bits of a node are 16 bytes seen three ways");
static_assert(std::is_standard_layout<cCIAppConfig::sDataContainer>::value &&
                  offsetof(cCIAppConfig::sDataContainer, children) == 0,
              "a node's list of children finds its node at its own address");

cCIAppConfig::cNodeArena& cCIAppConfig::cNodeArena::of(const tNode* n) {
    while (n->up && !(n->up & 1)) n = reinterpret_cast<const tNode*>(n->up);
    tNode* root = const_cast<tNode*>(n);
    if (!root->up) root->up = reinterpret_cast<std::uintptr_t>(new cNodeArena) | 1;
    return *reinterpret_cast<cNodeArena*>(root->up & ~std::uintptr_t(1));
}

cCIAppConfig::sDataContainer::sDataContainer() {
    // No name, an empty value, no place in an image yet.
    std::memset(static_cast<void*>(&image), 0, sizeof image);
    image.holder[0] = image.holder[1] = 0;
    image.touched = 1;
}

cCIAppConfig::sDataContainer::~sDataContainer() {
    // A root frees its tree and then the arena it came from; any other node
    // is freed by its arena, its children first.
    if (up & 1) {
        auto* arena = reinterpret_cast<cNodeArena*>(up & ~std::uintptr_t(1));
        arena->dropChildren(children);
        delete arena;
        up = 0;
    }
    image.release();
}

unsigned char* cCIAppConfig::sNodeBits::base() const {
    if (!onHeap) return const_cast<unsigned char*>(holder);
    unsigned char* p;
    std::memcpy(&p, holder, sizeof p);
    return p;
}

std::size_t cCIAppConfig::sNodeBits::valueSize() const {
    const unsigned char* b = base();
    return static_cast<std::size_t>(b[0] | b[1] << 8);
}

void cCIAppConfig::sNodeBits::rebuild(const unsigned char* name, std::size_t nameBytes, const unsigned char* value,
                                      std::size_t valueBytes) {
    // The new bytes are made before the old are freed: the sources may lie
    // in them.
    const std::size_t n = 2 + nameBytes + valueBytes;
    unsigned char in[sizeof holder] = {};
    unsigned char* fresh = n > sizeof holder ? new unsigned char[n] : in;
    fresh[0] = static_cast<unsigned char>(valueBytes);
    fresh[1] = static_cast<unsigned char>(valueBytes >> 8);
    if (nameBytes) std::memmove(fresh + 2, name, nameBytes);
    if (value && valueBytes) std::memmove(fresh + 2 + nameBytes, value, valueBytes);
    release();
    nameSize = nameBytes;
    if (fresh != in) {
        std::memcpy(holder, &fresh, sizeof fresh);
        onHeap = 1;
    } else {
        std::memcpy(holder, in, sizeof holder);
        onHeap = 0;
    }
}

void cCIAppConfig::sNodeBits::release() {
    if (onHeap) delete[] base();
    onHeap = 0;
    nameSize = 0;
    std::memset(holder, 0, sizeof holder);
}

bool cCIAppConfig::cHiveValue::set(long long n) {
    if (n > kMaxHiveValueBytes) return false;
    const std::size_t want = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (want != valueSize()) rebuild(base() + 2, nameSize, nullptr, want);
    return true;
}

bool cCIAppConfig::cHiveValue::copyFrom(const unsigned char* src, long long n) {
    if (!src || n <= 0) return set(0);
    if (n > kMaxHiveValueBytes) return false;
    rebuild(base() + 2, nameSize, src, static_cast<std::size_t>(n));
    return true;
}

void cCIAppConfig::cHiveValue::take(cHiveValue& other) {
    if (&other == this) return;
    copyFrom(other.data(), other.count());
    other.set(0);
}

void cCIAppConfig::cHiveName::assign(const unsigned char* src, std::size_t n) {
    const std::size_t size = std::min<std::size_t>(n, static_cast<std::size_t>(kMaxHiveNameBytes));
    const std::size_t valueBytes = valueSize();
    rebuild(src, size, valueBytes ? base() + 2 + nameSize : nullptr, valueBytes);
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::owner() const {
    return reinterpret_cast<sDataContainer*>(const_cast<cHiveChildren*>(this));
}

cCIAppConfig::cHiveChildren::sArray* cCIAppConfig::cHiveChildren::array() const {
    return reinterpret_cast<sArray*>(mBits & ~std::uintptr_t(1));
}

std::size_t cCIAppConfig::cHiveChildren::count() const {
    if (!mBits) return 0;
    return (mBits & 1) ? array()->count : 1;
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::at(std::size_t i) const {
    if (!(mBits & 1)) return i == 0 ? reinterpret_cast<sDataContainer*>(mBits) : nullptr;
    sArray* a = array();
    return i < a->count ? a->slots()[i] : nullptr;
}

std::size_t cCIAppConfig::cHiveChildren::lowerBound(const unsigned char* name, std::size_t n, bool& found) const {
    found = false;
    n = std::min<std::size_t>(n, static_cast<std::size_t>(kMaxHiveNameBytes));
    if (!mBits) return 0;
    if (!(mBits & 1)) {
        const sDataContainer* c = reinterpret_cast<const sDataContainer*>(mBits);
        const int order = compareNames(c->name.data(), c->name.size(), name, n);
        found = order == 0;
        return order < 0 ? 1 : 0;
    }
    sArray* a = array();
    tNode** s = a->slots();
    std::size_t lo = 0, hi = a->count;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const int order = compareNames(s[mid]->name.data(), s[mid]->name.size(), name, n);
        if (order == 0) {
            found = true;
            return mid;
        }
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::find(const unsigned char* name, std::size_t n) const {
    bool found = false;
    const std::size_t at = lowerBound(name, n, found);
    return found ? this->at(at) : nullptr;
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::find(const cStringKey& key) const {
    unsigned char name[kMaxHiveNameBytes];
    return find(name, keyName(key, name, sizeof name));
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::insert(const unsigned char* name, std::size_t n) {
    // A name is at most 255 bytes: a longer one is its first 255, here as in
    // a file.
    n = std::min<std::size_t>(n, static_cast<std::size_t>(kMaxHiveNameBytes));
    bool found = false;
    const std::size_t at = lowerBound(name, n, found);
    if (found) return this->at(at);
    cNodeArena& arena = cNodeArena::of(owner());
    // Everything that can fail comes first: the node and the room for it.
    sDataContainer* child = arena.node(owner());
    try {
        child->name.assign(name, n);
        if (!mBits) {
            mBits = reinterpret_cast<std::uintptr_t>(child);
            return child;
        }
        if (!(mBits & 1)) {
            sArray* a = arena.array(2);
            sDataContainer* only = reinterpret_cast<sDataContainer*>(mBits);
            a->count = 2;
            a->slots()[at] = child;
            a->slots()[1 - at] = only;
            mBits = reinterpret_cast<std::uintptr_t>(a) | 1;
            return child;
        }
        sArray* a = array();
        if (a->count == a->cap) {
            a = arena.resize(a, a->cap < kArenaSlotsMost ? 2 * a->cap : a->cap + a->cap / 8);
            mBits = reinterpret_cast<std::uintptr_t>(a) | 1;
        }
        tNode** s = a->slots();
        std::memmove(s + at + 1, s + at, sizeof(tNode*) * (a->count - at));
        s[at] = child;
        ++a->count;
        return child;
    } catch (...) {
        arena.drop(child);
        throw;
    }
}

cCIAppConfig::sDataContainer* cCIAppConfig::cHiveChildren::insert(const cStringKey& key) {
    unsigned char name[kMaxHiveNameBytes];
    return insert(name, keyName(key, name, sizeof name));
}

bool cCIAppConfig::cHiveChildren::remove(const unsigned char* name, std::size_t n) {
    bool found = false;
    const std::size_t at = lowerBound(name, n, found);
    if (!found) return false;
    cNodeArena& arena = cNodeArena::of(owner());
    if (!(mBits & 1)) {
        arena.drop(reinterpret_cast<sDataContainer*>(mBits));
        mBits = 0;
        return true;
    }
    sArray* a = array();
    tNode** s = a->slots();
    arena.drop(s[at]);
    std::memmove(s + at, s + at + 1, sizeof(tNode*) * (a->count - at - 1));
    if (--a->count == 0) {
        arena.dropArray(a);
        mBits = 0;
    }
    return true;
}

bool cCIAppConfig::cHiveChildren::remove(const cStringKey& key) {
    unsigned char name[kMaxHiveNameBytes];
    return remove(name, keyName(key, name, sizeof name));
}

void cCIAppConfig::cHiveChildren::destroy() {
    if (!mBits) return;
    sDataContainer* self = owner();
    cNodeArena& arena = cNodeArena::of(self);
    arena.dropChildren(*this);
    // A root whose tree is gone gives its arena back.
    if (self->up & 1) {
        delete &arena;
        self->up = 0;
    }
}

namespace {
using tArena = cCIAppConfig::cNodeArena;
}  // namespace

// ---- reading --------------------------------------------------------------

// Builds trees as the bytes of a hive give them: children appended in the
// order they come, each list put in order (and children of one name merged,
// as reading them into one node would) once it is complete.
class cCIAppConfig::cHiveReader {
    using tArray = cHiveChildren::sArray;

public:
    cHiveReader(const unsigned char* data, std::size_t size, tArena& arena) : in_(data, size), arena_(arena) {}

    bool magic() {
        unsigned char m[4];
        return in_.read(m, 4) && std::memcmp(m, kMagic, 4) == 0;
    }

    // Reads a node and notes where its bytes lie, from the start of its
    // parent's node at `parentStart`.  `exact` is cleared when the bytes are
    // not what a save would write for the tree they make (a name field
    // longer than it needs or not padded with zeros, children out of order
    // or twice): such an image cannot be copied from.
    bool node(tNode& node, int depth, std::size_t parentStart, bool& exact) {
        if (depth > kMaxHiveDepth) return false;
        const std::size_t start = in_.tell();
        std::uint16_t length = 0;
        const unsigned char* bytes = nullptr;
        if (!in_.read_u16le(length) || !in_.view(bytes, length)) return false;
        if (length) node.value.copyFrom(bytes, length);
        const unsigned char* before = nullptr;  // the previous child's name
        std::size_t beforeBytes = 0;
        bool ordered = true;
        std::size_t settled = 0;  // children put in order when they last were
        for (;;) {
            std::uint8_t tag = 0;
            if (!in_.read_u8(tag)) return false;
            if (tag == 0x00) {
                // A hive is at most kMaxHiveFileBytes long: the span fits.
                node.image.at = static_cast<unsigned int>(start - parentStart);
                node.image.bytes = static_cast<unsigned int>(in_.tell() - start);
                node.image.touched = false;
                finish(node.children, ordered);
                return true;
            }
            if (tag != 0x01) {
                // A later writer may add kinds of children of its own.
                unknownTag_ = true;
                return false;
            }
            std::uint8_t field = 0;
            const unsigned char* name = nullptr;
            if (!in_.read_u8(field) || field == 0 || !in_.view(name, field)) return false;
            const void* nul = std::memchr(name, 0, field);
            const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - name) : field;
            // A name of NUL bytes only was never written by any save.
            if (n == 0) return false;
            if (before && compareNames(before, beforeBytes, name, n) >= 0) ordered = false;
            if (exact)
                exact = ordered && field == fieldLengthFor(n) &&
                        std::all_of(name + n, name + field, [](unsigned char b) { return b == 0; });
            before = name;
            beforeBytes = n;
            // Out of order, the list is put in order again, children of one
            // name merged, each time what came since is as long as what was
            // in order then: a file that repeats its names never holds many
            // more nodes than names, for a sort now and then.
            if (!ordered && (node.children.mBits & 1)) {
                tArray* a = node.children.array();
                if (a->count - settled >= std::max<std::size_t>(settled, kArenaSlotsMost)) {
                    compact(a);
                    settled = a->count;
                }
            }
            tNode* child = append(node, name, n);
            if (!this->node(*child, depth + 1, start, exact)) return false;
        }
    }

    // Whether the node that failed met a tag this version does not know.
    bool unknownTag() const { return unknownTag_; }
    // Whether every byte has been read.
    bool atEnd() const { return in_.remaining() == 0; }

private:
    // A child at the end of the list, which grows by doubling while it is
    // small and by an eighth once it comes from the heap.
    tNode* append(tNode& parent, const unsigned char* name, std::size_t n) {
        cCIAppConfig::cHiveChildren& c = parent.children;
        tNode* child = arena_.node(&parent);
        child->name.assign(name, n);
        if (!c.mBits) {
            c.mBits = reinterpret_cast<std::uintptr_t>(child);
            return child;
        }
        tArray* a;
        if (!(c.mBits & 1)) {
            a = arena_.array(2);
            a->slots()[0] = reinterpret_cast<tNode*>(c.mBits);
            a->count = 1;
        } else {
            a = c.array();
            if (a->count == a->cap) a = arena_.resize(a, a->cap < kArenaSlotsMost ? 2 * a->cap : a->cap + a->cap / 8);
        }
        a->slots()[a->count++] = child;
        c.mBits = reinterpret_cast<std::uintptr_t>(a) | 1;
        return child;
    }

    static bool byName(const tNode* a, const tNode* b) {
        return compareNames(a->name.data(), a->name.size(), b->name.data(), b->name.size()) < 0;
    }
    static bool sameName(const tNode* a, const tNode* b) {
        return compareNames(a->name.data(), a->name.size(), b->name.data(), b->name.size()) == 0;
    }

    // A complete list: put in order when it came out of order, children of
    // one name merged into the first, and a small array cut to its size.
    void finish(cCIAppConfig::cHiveChildren& c, bool ordered) {
        if (!(c.mBits & 1)) return;
        tArray* a = c.array();
        if (!ordered) compact(a);
        fit(c, a);
    }
    // The list in name order, children of one name merged into the first.
    void compact(tArray* a) {
        tNode** s = a->slots();
        // Children of one name stay in file order: each child's span
        // starts further into its parent than the one before, and
        // telling them apart so needs no buffer of pointers beside the
        // list (std::stable_sort would take one as long as it).
        std::sort(s, s + a->count, [](const tNode* x, const tNode* y) {
            const int order = compareNames(x->name.data(), x->name.size(), y->name.data(), y->name.size());
            return order < 0 || (order == 0 && x->image.at < y->image.at);
        });
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < a->count; ++i) {
            if (kept && sameName(s[kept - 1], s[i]))
                merge(*s[kept - 1], s[i]);
            else
                s[kept++] = s[i];
        }
        a->count = kept;
    }
    void fit(cCIAppConfig::cHiveChildren& c, tArray* a) {
        if (a->count == 1) {
            tNode* only = a->slots()[0];
            arena_.dropArray(a);
            c.mBits = reinterpret_cast<std::uintptr_t>(only);
            return;
        }
        // A list from the heap gives back what its growth left over.
        const bool fromArena = a->cap <= kArenaSlotsMost;
        if ((fromArena && a->cap > a->count + a->count / 8) || (!fromArena && a->cap > a->count))
            a = arena_.resize(a, a->count);
        c.mBits = reinterpret_cast<std::uintptr_t>(a) | 1;
    }

    // What reading a second child of the same name into the first makes:
    // its value when it has one, and its children, merged by name.  The
    // second node is freed.
    void merge(tNode& into, tNode* from) {
        if (!from->value.empty()) into.value.take(from->value);
        cCIAppConfig::cHiveChildren& a = into.children;
        cCIAppConfig::cHiveChildren& b = from->children;
        const std::size_t na = a.count(), nb = b.count();
        if (nb) {
            // Both lists are in order: one pass makes the merged one.
            tArray* out = arena_.array(static_cast<std::uint32_t>(na + nb));
            tNode** s = out->slots();
            std::size_t i = 0, j = 0;
            while (i < na || j < nb) {
                tNode* x = i < na ? a.at(i) : nullptr;
                tNode* y = j < nb ? b.at(j) : nullptr;
                if (y && (!x || byName(y, x))) {
                    y->up = reinterpret_cast<std::uintptr_t>(&into);
                    s[out->count++] = y;
                    ++j;
                } else if (y && sameName(x, y)) {
                    merge(*x, y);
                    s[out->count++] = x;
                    ++i;
                    ++j;
                } else {
                    s[out->count++] = x;
                    ++i;
                }
            }
            if (a.mBits & 1) arena_.dropArray(a.array());
            if (b.mBits & 1) arena_.dropArray(b.array());
            a.mBits = reinterpret_cast<std::uintptr_t>(out) | 1;
            b.mBits = 0;
            fit(a, out);
        }
        arena_.drop(from);
    }

    cByteReader in_;
    tArena& arena_;
    bool unknownTag_ = false;
};

namespace {

// Parses a whole hive file into the root `node` (emptied first; empty again
// on any fault); `exact` tells whether its bytes are what a save would
// write.  The file must end where its root node ends: a save would drop
// what follows.
cCIAppConfig::eHiveFault parseWhole(const unsigned char* data, std::size_t size, tNode& node, bool& exact) {
    node.value.set(0);
    node.children.destroy();
    exact = true;
    cCIAppConfig::eHiveFault fault = cCIAppConfig::hfNone;
    {
        cCIAppConfig::cHiveReader reader(data, size, tArena::of(&node));
        if (!reader.magic())
            fault = cCIAppConfig::hfNotAHive;
        else if (!reader.node(node, 0, 0, exact))
            fault = reader.unknownTag() ? cCIAppConfig::hfNewerFormat : cCIAppConfig::hfDamaged;
        else if (!reader.atEnd())
            fault = cCIAppConfig::hfTrailingBytes;
    }
    if (fault != cCIAppConfig::hfNone) {
        node.value.set(0);
        node.children.destroy();
        exact = false;
    }
    return fault;
}

// ---- writing --------------------------------------------------------------

// The head of a child: its tag and name field.
void putChildHead(unsigned char* p, const cCIAppConfig::cHiveName& name, std::size_t field) {
    p[0] = 0x01;
    p[1] = static_cast<unsigned char>(field);
    const std::size_t n = std::min(name.size(), field);
    if (n <= 8)
        qor_detail::copySmall(p + 2, name.data(), static_cast<unsigned int>(n));
    else
        std::memcpy(p + 2, name.data(), n);
    std::memset(p + 2 + n, 0, field - n);
}

// The head of a node: the value's length and bytes.
void putValue(unsigned char* p, const cCIAppConfig::cHiveValue& value) {
    const std::size_t length = static_cast<std::size_t>(value.count());
    p[0] = static_cast<unsigned char>(length);
    p[1] = static_cast<unsigned char>(length >> 8);
    if (length <= 64)
        qor_detail::copySmall(p + 2, value.data(), static_cast<unsigned int>(length));
    else
        std::memcpy(p + 2, value.data(), length);
}

}  // namespace

// Writes a hive in one walk, into a buffer that grows as it fills.
//
// Given the hive's image, the walk also notes where each node it writes
// lands (the node's span), and a subtree nothing has touched since the
// image was made is not walked at all: its bytes are copied from the image.
// A save after a few changes so walks the paths down to them and copies the
// rest.  The walk's checks (depth, names, and the length of the whole file,
// which must stay what a load accepts) end it with false.
class cCIAppConfig::cHiveWriter {
public:
    // A plain walk: the nodes' spans are left as they are.
    explicit cHiveWriter(std::size_t expected) { grow(std::max<std::size_t>(expected, 64)); }
    // A walk that notes the spans and copies untouched subtrees from `old`
    // (null when there is no valid image: every node is walked; oldSize is
    // then only the expected size).  The walk fills `buffer` from its start,
    // growing it as needed.
    cHiveWriter(_typebuf<unsigned char>&& buffer, const unsigned char* old, std::size_t oldSize)
        : track_(true), old_(old), oldSize_(old ? oldSize : 0) {
        buf_.swap(buffer);
        const std::size_t want = std::max<std::size_t>(oldSize + 4096, 64);
        if (static_cast<std::size_t>(buf_.count()) < want) grow(want);
    }

    bool write(const tNode& root) {
        std::memcpy(room(4), kMagic, 4);
        used_ += 4;
        const auto& span = root.image;
        const bool rootInImage = old_ && span.at == 4 && span.bytes != 0 && 4 + std::size_t{span.bytes} == oldSize_;
        return node(root, 0, 0, rootInImage ? 4 : kNone) && used_ <= kLimit;
    }
    const unsigned char* data() const { return buf_.data(); }
    std::size_t size() const { return used_; }
    // The buffer, whose first size() bytes are the hive.
    _typebuf<unsigned char> release() { return std::move(buf_); }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};
    // The longest file a load reads.  The buffer never grows past it: bytes
    // that would go further land in a scratch piece and are only counted,
    // and the walk stops at the end of the node where it ran over, so that
    // the checks cost nothing while the bytes fit.  A subtree copied whole
    // is checked before the copy; nothing else asks for more than a leaf at
    // once.
    static constexpr std::size_t kLimit = static_cast<std::size_t>(kMaxHiveFileBytes);

    // Whether a child can be copied from the image, its name field
    // included, where its parent's node starts at `oldStart`.
    bool copyable(const tNode& child, std::size_t oldStart, std::size_t field) const {
        const auto& span = child.image;
        return oldStart != kNone && !span.touched && span.bytes != 0 && field != 0 && span.at >= 2u + field &&
               oldStart + span.at + span.bytes <= oldSize_;
    }

    void noteSpan(const tNode& n, std::size_t start, std::size_t parentStart) const {
        if (!track_) return;
        n.image.at = static_cast<unsigned int>(start - parentStart);
        n.image.bytes = static_cast<unsigned int>(used_ - start);
        n.image.touched = false;
    }

    // Writes node n, which starts in the image at oldStart (kNone: it has no
    // place there), as a child of the node written at parentStart.
    bool node(const tNode& n, int depth, std::size_t parentStart, std::size_t oldStart) {
        if (depth > kMaxHiveDepth) return false;
        const std::size_t start = used_;
        putValue(room(2 + static_cast<std::size_t>(n.value.count())), n.value);
        used_ += 2 + static_cast<std::size_t>(n.value.count());
        // The children are gathered first, and the memory each will be
        // read from (its value, its name, its own children) is asked for as
        // they are met: the nodes of a loaded hive lie scattered over the
        // heap, and a walk that waited for each of those loads in turn would
        // spend its time on cache misses.  A child copied from the image
        // needs none of them.
        const std::size_t count = n.children.count();
        const std::size_t mark = siblings_.size();
        for (std::size_t i = 0; i < count; ++i) {
            const tNode* c = n.children.at(i);
            const std::size_t f = fieldLengthFor(c->name.size());
            const bool copy = copyable(*c, oldStart, f);
            if (!copy) {
                __builtin_prefetch(c->value.data());
                __builtin_prefetch(c->name.data());
                if (c->children.mBits & 1) __builtin_prefetch(c->children.array());
            }
            siblings_.push_back({c, f, copy});
        }
        const std::size_t end = siblings_.size();
        for (std::size_t k = mark; k < end; ++k) {
            if (k + kNodesAhead < end && !siblings_[k + kNodesAhead].copy)
                __builtin_prefetch(siblings_[k + kNodesAhead].node->children.at(0));
            const tNode& child = *siblings_[k].node;
            const std::size_t f = siblings_[k].field;
            if (siblings_[k].copy) {
                const std::size_t head = 2 + f;
                const std::size_t bytes = head + child.image.bytes;
                if (used_ + bytes > kLimit) return false;
                std::memcpy(room(bytes), old_ + oldStart + child.image.at - head, bytes);
                child.image.at = static_cast<unsigned int>(used_ + head - start);
                used_ += bytes;
                continue;
            }
            if (!f) return false;
            if (child.children.empty()) {
                // A leaf, the most common node, is written whole here: its
                // name, its value and the end of its (empty) list.
                if (depth + 1 > kMaxHiveDepth) return false;
                const std::size_t length = static_cast<std::size_t>(child.value.count());
                unsigned char* p = room(2 + f + 2 + length + 1);
                putChildHead(p, child.name, f);
                putValue(p + 2 + f, child.value);
                p[2 + f + 2 + length] = 0x00;
                used_ += 2 + f;
                const std::size_t at = used_;
                used_ += 2 + length + 1;
                noteSpan(child, at, start);
                continue;
            }
            putChildHead(room(2 + f), child.name, f);
            used_ += 2 + f;
            const std::size_t childOld = oldStart != kNone && child.image.bytes != 0 ? oldStart + child.image.at : kNone;
            if (!node(child, depth + 1, start, childOld)) return false;
        }
        siblings_.resize(mark);
        if (used_ > kLimit) return false;
        *room(1) = 0x00;
        used_ += 1;
        noteSpan(n, start, parentStart);
        return true;
    }
    unsigned char* room(std::size_t n) {
        if (used_ + n > static_cast<std::size_t>(buf_.count())) return more(n);
        return buf_.data() + used_;
    }
    // The buffer doubles up to the limit; past it, n bytes of scratch.
    __attribute__((noinline, cold)) unsigned char* more(std::size_t n) {
        if (used_ + n > kLimit) {
            if (static_cast<std::size_t>(scratch_.count()) < n) scratch_.set(static_cast<long long>(n));
            return scratch_.data();
        }
        grow(std::min(std::max(2 * static_cast<std::size_t>(buf_.count()), used_ + n), kLimit));
        return buf_.data() + used_;
    }
    void grow(std::size_t capacity) {
        _typebuf<unsigned char> bigger(static_cast<long long>(capacity));
        if (used_) std::memcpy(bigger.data(), buf_.data(), used_);
        buf_.swap(bigger);
    }

    const bool track_ = false;
    const unsigned char* const old_ = nullptr;
    const std::size_t oldSize_ = 0;
    _typebuf<unsigned char> buf_;
    std::size_t used_ = 0;
    _typebuf<unsigned char> scratch_;
    // The children of the nodes on the path being written, level by level,
    // each with its name field and whether it is copied from the image,
    // decided once.
    struct sSibling {
        const tNode* node;
        std::size_t field;
        bool copy;
    };
    std::vector<sSibling> siblings_;
};

namespace {

// ---- files ----------------------------------------------------------------

struct sFileIdentity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    long long size = -1;
    long long nanos = 0;
    unsigned int seconds = 0;
};

sFileIdentity identityOf(const struct stat& st) {
    sFileIdentity id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = static_cast<long long>(st.st_size);
    id.nanos = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    id.seconds = static_cast<unsigned int>(st.st_mtim.tv_sec);
    return id;
}

// What is at a hive's path, links followed: nothing (the system says so),
// a regular file, something else (a folder, a FIFO, a socket, a device), or
// no answer (the status cannot be taken: a link the system will not follow
// for us, a folder we may not search, a loop of links).  Only the first
// means that there is no hive.
//
// A link on the way that the rule for shared folders does not let us
// follow (resolveLinks) makes the status one refused, with the sentence
// that names the link and its owner, whether or not the system would follow
// it for us.
struct sFileStatus {
    enum eKind { fsMissing, fsFile, fsOther, fsNoStatus, fsRefused } kind = fsMissing;
    int error = 0;
    std::string refusal;
    sFileIdentity id;
};

// Whether path is a link whose chain the rule for shared folders refuses;
// the reason then goes to `refusal`.
bool linkRefused(const char* path, std::string& refusal) {
    struct stat self;
    if (::lstat(path, &self) != 0 || !S_ISLNK(self.st_mode)) return false;
    _guardchar<char> real;
    refusal.clear();
    return !resolveLinks(path, real, &refusal) && !refusal.empty();
}

sFileStatus statusOf(const char* path) {
    sFileStatus s;
    if (linkRefused(path, s.refusal)) {
        s.kind = sFileStatus::fsRefused;
        s.error = EACCES;
        return s;
    }
    struct stat st;
    if (::stat(path, &st) != 0) {
        s.error = errno;
        s.kind = s.error == ENOENT ? sFileStatus::fsMissing : sFileStatus::fsNoStatus;
        return s;
    }
    if (!S_ISREG(st.st_mode)) {
        s.kind = sFileStatus::fsOther;
        return s;
    }
    s.kind = sFileStatus::fsFile;
    s.id = identityOf(st);
    return s;
}

// Opens the regular file at path (links followed as statusOf follows them)
// for reading, and never anything else: its status is taken first, the open
// does not wait (for a FIFO put there meanwhile, which is then let go
// unread), and what was opened must be a regular file.  -1 with errno set
// when there is none to open: EINVAL for something else at the path;
// `statError` then tells whether the status could not be taken at all (its
// errno; 0 when it was), and `refusal` (when given) gets the reason a link
// on the way was refused (statError EACCES).
int openRegular(const char* path, struct stat& st, int& statError, std::string* refusal = nullptr) {
    statError = 0;
    std::string why;
    if (linkRefused(path, why)) {
        if (refusal) *refusal = why;
        statError = errno = EACCES;
        return -1;
    }
    if (::stat(path, &st) != 0) {
        statError = errno;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Whether a process runs as this user (/proc/<pid> belongs to its
// effective user).  A holder the lock query cannot name (0: in another pid
// namespace; -1: a lock of an open file description) counts as another
// user's.
bool ownProcess(pid_t pid) {
    if (pid <= 0) return false;
    if (pid == ::getpid()) return true;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
    struct stat st;
    return ::stat(path, &st) == 0 && st.st_uid == ::geteuid();
}

long long monotonicMs() {
    struct timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

enum eLockResult { lrTaken, lrForeign, lrFailed };

// Takes a record lock of `type` (F_WRLCK, F_RDLCK) on bytes [start, start +
// length) of fd, waiting while a conflicting one is held: as long as
// processes of this user hold it, but no longer than gForeignLockWaitMs
// once another user's process was seen holding it (lrForeign then).  A
// waiting lock call would wait for any holder without end, so the lock is
// tried again and again, at most 20 ms apart.
eLockResult lockBounded(int fd, off_t start, off_t length, short type) {
    long long foreignSince = -1;
    unsigned int pause = 250;
    for (;;) {
        struct flock want;
        std::memset(&want, 0, sizeof want);
        want.l_type = type;
        want.l_whence = SEEK_SET;
        want.l_start = start;
        want.l_len = length;
        struct flock held = want;
        if (::fcntl(fd, F_SETLK, &want) == 0) return lrTaken;
        if (errno == EINTR) continue;
        if (errno != EACCES && errno != EAGAIN) return lrFailed;
        if (::fcntl(fd, F_GETLK, &held) != 0) return lrFailed;
        // Let go meanwhile: tried again at once.
        if (held.l_type == F_UNLCK) continue;
        if (!ownProcess(held.l_pid)) {
            const long long now = monotonicMs();
            if (foreignSince < 0) foreignSince = now;
            if (now - foreignSince >= cCIAppConfig::gForeignLockWaitMs) return lrForeign;
        }
        ::usleep(pause);
        pause = std::min(2 * pause, 20000u);
    }
}

void remember(cCIAppConfig::sPropFileData& hive, const sFileIdentity& id, bool setTime) {
    hive.fileDev = id.dev;
    hive.fileIno = id.ino;
    hive.fileSize = id.exists ? id.size : -1;
    hive.fileNanos = id.nanos;
    if (setTime) hive.fileTime = id.seconds;
}

void stepHook(int& step) {
    if (cCIAppConfig::gSaveStepHook) cCIAppConfig::gSaveStepHook(step);
    ++step;
}

// The process that wrote a temporary file named as a save names it,
// ".<hive>.<pid>.<n>.tmp"; 0 for any other name.
long tempWriterOf(const std::string& name) {
    if (name.size() < 2 || name[0] != '.' || !endsWith(name, kTempSuffix)) return 0;
    const std::string middle = name.substr(1, name.size() - 1 - std::strlen(kTempSuffix));
    const std::size_t counterDot = middle.rfind('.');
    if (counterDot == std::string::npos || counterDot + 1 == middle.size()) return 0;
    const std::size_t pidDot = middle.rfind('.', counterDot - 1);
    if (pidDot == std::string::npos || pidDot == 0 || counterDot == 0 || pidDot + 1 == counterDot) return 0;
    for (std::size_t i = pidDot + 1; i < middle.size(); ++i)
        if (i != counterDot && (middle[i] < '0' || middle[i] > '9')) return 0;
    if (counterDot - pidDot - 1 > 9) return 0;
    return std::strtol(middle.c_str() + pidDot + 1, nullptr, 10);
}

// Whether the file at path begins as a hive: a regular file (links
// followed) whose first bytes are the magic.
bool beginsAsHive(const std::string& path) {
    struct stat st;
    int statError = 0;
    const int fd = openRegular(path.c_str(), st, statError);
    if (fd < 0) return false;
    unsigned char head[4] = {};
    const bool hive = st.st_size >= 4 && ::pread(fd, head, 4, 0) == 4 && std::memcmp(head, kMagic, 4) == 0;
    ::close(fd);
    return hive;
}

// Whether bytes are what a save of this store writes, whole or cut short:
// the magic, then nodes laid out strictly (name fields exactly as long as
// their names need, NUL-padded, no nesting deeper than a hive may), and
// nothing after the root's end.  A leftover temporary file of a save that
// died holds such bytes, or none.
bool isSavePrefix(const unsigned char* p, std::size_t n) {
    if (n < 4) return std::memcmp(p, kMagic, n) == 0;
    if (std::memcmp(p, kMagic, 4) != 0) return false;
    std::size_t i = 4;
    int depth = 0;
    for (;;) {
        // A node: its value, then its children's heads and its end byte.
        if (n - i < 2) return true;
        const std::size_t length = p[i] | static_cast<std::size_t>(p[i + 1]) << 8;
        i += 2;
        if (n - i < length) return true;
        i += length;
        if (++depth > kMaxHiveDepth + 1) return false;
        for (;;) {
            if (i == n) return true;
            const unsigned char tag = p[i++];
            if (tag == 0x00) {
                if (--depth == 0) return i == n;
                continue;
            }
            if (tag != 0x01) return false;
            if (i == n) return true;
            const std::size_t field = p[i++];
            if (field == 0) return false;
            const std::size_t have = std::min(field, n - i);
            const void* nul = std::memchr(p + i, 0, have);
            const std::size_t name = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (p + i)) : have;
            if (name == 0) return false;
            for (std::size_t k = name; k < have; ++k)
                if (p[i + k] != 0) return false;
            if (have < field) return !nul || fieldLengthFor(name) == field;
            if (fieldLengthFor(name) != field) return false;
            i += field;
            break;
        }
    }
}

// Writes all n bytes at the file's position, going on after a short write;
// false on any error, with the system's reason in errno.  A regular file
// writes short only when it cannot take more (a full disk, the file size
// limit), and the next write then fails with the reason.
bool writeAll(cFileIO& f, const unsigned char* data, std::size_t n) {
    while (n) {
        const unsigned int piece = static_cast<unsigned int>(std::min<std::size_t>(n, std::size_t(1) << 30));
        const unsigned int r = f.write(const_cast<unsigned char*>(data), piece);
        if (r == cFileIOTarget::kIOFailed) return false;
        if (r == 0) {
            errno = ENOSPC;
            return false;
        }
        data += r;
        n -= r;
    }
    return true;
}

// Older copies of the program (an installer bundle carries one) take a
// write lock on a hive's first four bytes while they read it or rewrite it
// in place.  A read lock there, held to the end of the scope, waits for
// them and keeps them waiting; it needs only a reading descriptor, and
// copies of this version holding it do not wait for each other (the folder
// lock orders them).  Nothing when the hive is no regular file.
class cOldHiveLock {
public:
    explicit cOldHiveLock(const char* path) {
        struct stat st;
        int statError = 0;
        fd_ = openRegular(path, st, statError);
        if (fd_ >= 0) foreign_ = lockBounded(fd_, 0, 4, F_RDLCK) == lrForeign;
    }
    ~cOldHiveLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    cOldHiveLock(const cOldHiveLock&) = delete;
    cOldHiveLock& operator=(const cOldHiveLock&) = delete;
    // Another user's process held it past the bounded wait.
    bool foreign() const { return foreign_; }

private:
    int fd_ = -1;
    bool foreign_ = false;
};

// Copies of this process that share one store folder would not exclude each
// other through record locks (those belong to the process), and closing any
// descriptor of the lock file drops the process's lock: one lock scope at a
// time per process.
std::mutex& processLockMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

// ---------------------------------------------------------------------------
// The folder lock: a record lock on bytes 0..3 of the lock file, which is
// created once and never replaced, so every copy of the program locks the
// same file whatever the saves rename.

class cCIAppConfig::cFolderLock {
public:
    // The store learns whether another user's process held the lock past
    // the bounded wait (its storeFault).
    explicit cFolderLock(cCIAppConfig& store) : mGuard(processLockMutex()) {
        const char* folder = store.mPath.c_str();
        if (!folder) return;
        const std::string path = std::string(folder) + "/" + lockFileName();
        // Made as any new file of the user's (0666 less the creation mask),
        // never through a link planted at its name, and only ever a regular
        // file (a FIFO there is not waited on).
        do {
            mFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        } while (mFd < 0 && errno == EINTR);
        struct stat st;
        if (mFd < 0 || ::fstat(mFd, &st) != 0 || !S_ISREG(st.st_mode)) return;
        const eLockResult r = lockBounded(mFd, 0, 4, F_WRLCK);
        mLocked = r == lrTaken;
        if (r == lrForeign)
            store.mStoreFault = hfLockHeld;
        else if (mLocked)
            store.mStoreFault = hfNone;
    }
    ~cFolderLock() {
        if (mFd >= 0) ::close(mFd);
    }
    bool locked() const { return mLocked; }

private:
    std::lock_guard<std::mutex> mGuard;
    // A bare descriptor: the file is only ever locked, never read.
    int mFd = -1;
    bool mLocked = false;
};

// ---------------------------------------------------------------------------

cCIAppConfig::cCIAppConfig() = default;
cCIAppConfig::~cCIAppConfig() { mHives.destroy(); }

bool cCIAppConfig::isStoreFileName(const char* name) {
    if (!name) return false;
    const std::string s(name);
    if (s == lockFileName()) return true;
    if (startsWith(s, kTempPrefix) && endsWith(s, kTempSuffix)) return true;
    if (tempWriterOf(s) > 0) return true;
    return endsWith(s, kAsideSuffix);
}

bool cCIAppConfig::isStoreFolder(const char* path) {
    DIR* d = path ? ::opendir(path) : nullptr;
    if (!d) return false;
    bool others = false;
    bool lock = false;
    bool hives = false;
    bool storeNames = false;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        if (n == lockFileName()) lock = true;
        if (isStoreFileName(n.c_str()))
            storeNames = true;
        else if (beginsAsHive(std::string(path) + "/" + n))
            hives = true;
        else
            others = true;
    }
    ::closedir(d);
    // Names like the store's temporary files alone make no store: anyone
    // may name files so, and the opening would remove them as leftovers.
    return lock || (!others && (hives || !storeNames));
}

bool cCIAppConfig::parseHive(const unsigned char* data, std::size_t size, sDataContainer& node) {
    bool exact = false;
    return parseWhole(data, size, node, exact) == hfNone;
}

bool cCIAppConfig::serializeHive(const sDataContainer& node, _typebuf<unsigned char>& out) {
    cHiveWriter writer(0);
    if (!writer.write(node)) return false;
    out.copyFrom(writer.data(), static_cast<long long>(writer.size()));
    return true;
}

namespace {

// Whether an existing folder is the caller's own: owned by this user, not
// writable by group or others, and, when the name is a link, a link of this
// user's.  Any other folder (one another user made in a shared folder, say)
// would put this user's settings where that user reads and changes them.
bool ownPrivateFolder(const char* name) {
    struct stat st, self;
    if (::stat(name, &st) != 0 || !S_ISDIR(st.st_mode) || ::lstat(name, &self) != 0) return false;
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) return false;
    return !S_ISLNK(self.st_mode) || self.st_uid == ::geteuid();
}

}  // namespace

bool cCIAppConfig::getInitConfigPath(const char* name) {
    if (!name || !*name) return false;
    _guardchar<char> path;
    // A folder that holds files not the store's is someone else's: the
    // store would put its lock file and its hives among them.  So is a
    // folder not the caller's own.
    if (ownPrivateFolder(name) && isStoreFolder(name)) {
        path.set(name);
    } else if (!cFolderContents::getConfigFolder(path, name)) {
        return false;
    }
    mPath = std::move(path);
    mPathLength = static_cast<long long>(mPath.length());
    return true;
}

bool cCIAppConfig::newConfig(const char* name) {
    if (!getInitConfigPath(name)) return false;
    if (cFolderContents::objtype(mPath.c_str()) != fsoNone) return false;
    return cFolderContents::mkdir(mPath.c_str());
}

bool cCIAppConfig::hivePath(const char* name, _guardchar<char>& out) const {
    // Every file name the store makes for a hive passes here: none leaves
    // the folder.
    if (!mPath.c_str() || !validSectionName(name)) return false;
    out.set((std::string(mPath.c_str()) + "/" + name).c_str());
    return true;
}

cCIAppConfig::sPropFileData* cCIAppConfig::newEntry(const char* name) {
    sPropFileData* hive = mHives.insert(cStringKey(name, -1));
    hive->modified = false;
    hive->name.set(name);
    // A clean hive has no touched node (see noteWrite).
    hive->root.image.touched = false;
    return hive;
}

bool cCIAppConfig::hiveLoaded(const char* name) {
    return validSectionName(name) && mHives.find(cStringKey(name, -1)) != nullptr;
}

cCIAppConfig::eHiveFault cCIAppConfig::hiveFault(const char* name) {
    const sPropFileData* hive = validSectionName(name) ? mHives.find(cStringKey(name, -1)) : nullptr;
    return hive ? hive->fault : hfNone;
}

const char* cCIAppConfig::describeHiveFault(eHiveFault fault) {
    switch (fault) {
    case hfNone: return "";
    case hfUnreadable: return "the hive's file cannot be read; it is kept as it is and not saved over";
    case hfTooLarge: {
        static const std::string text = "the hive's file is longer than the " + std::to_string(kMaxHiveFileBytes >> 20) +
                                        " MiB the store reads; it is kept as it is and not saved over";
        return text.c_str();
    }
    case hfDamaged: return "the hive's file is damaged; it is kept as it is and not saved over";
    case hfNewerFormat:
        return "the hive's file was written by a newer version of the program; it is kept as it is and not saved over";
    case hfNotAHive: return "the file is not a hive; it is kept as it is and not saved over";
    case hfTrailingBytes:
        return "the hive's file holds bytes after its end, which a save would drop; it is kept as it is and not saved "
               "over";
    case hfNoStatus:
        return "the hive's status cannot be taken (a link the system does not follow for this user, or a folder it "
               "may not search): it is not taken for a missing hive, and nothing is saved there";
    case hfNotAFile:
        return "the hive is no regular file (a FIFO, a socket, a device or a folder); it is not opened, and not "
               "saved over";
    case hfLockHeld:
        return "another user's process holds the lock; the store does not wait for it, and saves nothing until it is "
               "let go";
    case hfRefused:
        return "the hive is refused: a link or a file another user planted at its name in a folder anyone may write "
               "is not followed or saved over";
    }
    return "";
}

std::string cCIAppConfig::hiveFaultText(const char* name) {
    const sPropFileData* hive = validSectionName(name) ? mHives.find(cStringKey(name, -1)) : nullptr;
    if (!hive || hive->fault == hfNone) return std::string();
    std::string text = describeHiveFault(hive->fault);
    if (!hive->faultReason.empty())
        text += ": " + hive->faultReason;
    else if (hive->faultError)
        text += std::string(" (") + std::strerror(hive->faultError) + ")";
    return text;
}

void cCIAppConfig::removeStaleTemporaries() {
    // Called under the folder lock: no save of the store is under way, so
    // a temporary file is a leftover, if it is the store's at all.  Only
    // one provably so goes: named as a save names it, its writer gone, and
    // what removeOwnLeftover takes for a leftover of ours (a regular file of
    // ours with one link and its lock free), holding nothing or what a save
    // writes, whole or cut short.  The bytes looked at here are the format
    // the shared test compares the file with, so that it removes only the
    // file whose bytes passed.
    const int folder = ::open(mPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    DIR* d = ::fdopendir(folder);
    if (!d) {
        ::close(folder);
        return;
    }
    std::vector<std::string> candidates;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        long writer = tempWriterOf(n);
        if (writer <= 0 && startsWith(n, kTempPrefix) && endsWith(n, kTempSuffix))
            writer = std::strtol(n.c_str() + std::strlen(kTempPrefix), nullptr, 10);
        if (writer <= 0 || writer == static_cast<long>(::getpid())) continue;
        if (::kill(static_cast<pid_t>(writer), 0) == 0 || errno != ESRCH) continue;
        candidates.push_back(n);
    }
    for (const auto& n : candidates) {
        const int fd = ::openat(folder, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        _typebuf<unsigned char> bytes;
        bool save = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                    st.st_size <= kMaxHiveFileBytes;
        if (save && st.st_size > 0) {
            bytes.set(static_cast<long long>(st.st_size));
            save = bytes.data() && ::pread(fd, bytes.data(), static_cast<std::size_t>(st.st_size), 0) == st.st_size &&
                   isSavePrefix(bytes.data(), static_cast<std::size_t>(st.st_size));
        }
        ::close(fd);
        if (save) removeOwnLeftover(folder, n.c_str(), bytes.data(), static_cast<std::size_t>(bytes.count()));
    }
    ::closedir(d);
}

bool cCIAppConfig::openConfig(const char* name) {
    mHives.destroy();
    ++mFrees;
    if (!getInitConfigPath(name)) return false;
    if (cFolderContents::objtype(mPath.c_str()) != fsoFolder) return false;
    // One lock over the whole opening: leftovers of saves that died go
    // first (nobody saves while we hold it), then the folder is listed and
    // every hive read as no save is under way.
    cFolderLock lock(*this);
    if (lock.locked()) removeStaleTemporaries();
    cFolderContents list;
    std::vector<sFolderLeftOut> leftOut;
    if (!list.init(mPath.c_str(), true, &leftOut)) return false;
    for (int i = 0; i < list.count(); ++i) {
        const sFolderItemInfo* item = list.info(i);
        if (!item || item->type != fsoFile || !validSectionName(item->name.c_str())) continue;
        sPropFileData* hive = newEntry(item->name.c_str());
        cSafeCriticalSectionAccess guard(&mLock);
        loadHiveLocked(*hive);
    }
    // A name whose status cannot be taken (a link the system will not
    // follow for us, say) may be a hive: its hive says so, and nothing is
    // ever saved over it.
    for (const sFolderLeftOut& out : leftOut) {
        if (out.error == 0 || out.error == ENOENT || !validSectionName(out.name.c_str())) continue;
        _guardchar<char> path;
        hivePath(out.name.c_str(), path);
        const sFileStatus status = statusOf(path.c_str());
        if (status.kind == sFileStatus::fsRefused)
            noteUnseen(out.name.c_str(), hfRefused, 0, status.refusal);
        else
            noteUnseen(out.name.c_str(), hfNoStatus, out.error, std::string());
    }
    return true;
}

void cCIAppConfig::noteUnseen(const char* name, eHiveFault fault, int error, const std::string& reason) {
    sPropFileData* hive = mHives.find(cStringKey(name, -1));
    if (!hive) hive = newEntry(name);
    hive->fault = fault;
    hive->faultError = error;
    hive->faultReason = reason;
    hive->loadFailed = true;
}

bool cCIAppConfig::loadHive(sPropFileData& hive) {
    cSafeCriticalSectionAccess guard(&mLock);
    // Saves replace whole files, so a read without the lock (a folder we
    // may not write) still sees one whole hive.
    cFolderLock lock(*this);
    return loadHiveLocked(hive);
}

namespace {

// What reading a hive's file gave.
struct sHiveRead {
    bool present = false;  // something is at the path
    cCIAppConfig::eHiveFault fault = cCIAppConfig::hfNone;
    int error = 0;        // the system's reason behind the fault, if any
    std::string refusal;  // the sentence behind hfRefused
    sFileIdentity id;
    _typebuf<unsigned char> bytes;
    bool exact = false;
};

// Reads the hive file at path into the root `node` (emptied first, empty
// on any fault).  Nothing but a regular file is opened, and that only for
// reading until it is known to be one.
sHiveRead readHiveFile(const char* path, tNode& node) {
    sHiveRead r;
    node.value.set(0);
    node.children.destroy();
    struct stat st;
    int statError = 0;
    const int fd = openRegular(path, st, statError, &r.refusal);
    if (fd < 0) {
        const int error = statError ? statError : errno;
        // Nothing there (or gone meanwhile): nothing a save could destroy.
        if (error == ENOENT) return r;
        r.present = true;
        r.fault = !r.refusal.empty() ? cCIAppConfig::hfRefused
                  : statError        ? cCIAppConfig::hfNoStatus
                  : error == EINVAL  ? cCIAppConfig::hfNotAFile
                                     : cCIAppConfig::hfUnreadable;
        r.error = r.fault == cCIAppConfig::hfNoStatus || r.fault == cCIAppConfig::hfUnreadable ? error : 0;
        return r;
    }
    r.present = true;
    // Older copies of the program lock the first four bytes of the hive
    // itself while they read or write it in place: wait for them too (for
    // another user's process, only so long).
    if (lockBounded(fd, 0, 4, F_RDLCK) == lrForeign) {
        ::close(fd);
        r.fault = cCIAppConfig::hfLockHeld;
        return r;
    }
    if (st.st_size > kMaxHiveFileBytes) {
        // Longer than the store reads: refused before a byte is read.
        ::close(fd);
        r.fault = cCIAppConfig::hfTooLarge;
        return r;
    }
    r.id = identityOf(st);
    r.bytes.set(static_cast<long long>(st.st_size));
    std::size_t got = 0;
    const std::size_t want = static_cast<std::size_t>(st.st_size);
    while (got < want) {
        const ssize_t n = ::pread(fd, r.bytes.data() + got, want - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    const int error = errno;
    ::close(fd);
    if (got != want) {
        r.fault = cCIAppConfig::hfUnreadable;
        r.error = error;
        return r;
    }
    r.fault = parseWhole(r.bytes.data(), static_cast<std::size_t>(r.bytes.count()), node, r.exact);
    return r;
}

}  // namespace

bool cCIAppConfig::loadHiveLocked(sPropFileData& hive) {
    hive.imageValid = false;
    hive.root.value.set(0);
    hive.root.children.destroy();
    ++mFrees;
    // Whatever the load brings, the hive is clean afterwards unless it was
    // modified: its root is not touched (see noteWrite).
    hive.root.image = sDataContainer::sImageSpan();
    hive.root.image.touched = false;
    // The tree is empty now, and so is its base until a file reads whole.
    hive.imageSize = 0;
    _guardchar<char> path;
    if (!hivePath(hive.name.c_str(), path)) return false;
    sHiveRead r = readHiveFile(path.c_str(), hive.root);
    // A file that cannot be read whole is kept as it is: the hive stays
    // empty, and no save goes over the file while it reads so.
    hive.fault = r.fault;
    hive.faultError = r.error;
    hive.faultReason = r.refusal;
    hive.loadFailed = r.fault != hfNone;
    if (!r.present || r.fault != hfNone) return false;
    // The bytes read are the hive's base, and the image the parse noted the
    // spans in, if a save would have written them so; else the first save
    // walks all.
    hive.imageSize = static_cast<std::size_t>(r.bytes.count());
    hive.image.swap(r.bytes);
    hive.imageValid = r.exact;
    remember(hive, r.id, hive.fileTime == 0);
    return true;
}

bool cCIAppConfig::writeWholeFile(const char* path, const unsigned char* data, std::size_t size, struct stat* written,
                                  std::string* refusal) {
    // The new file is made under the folder lock, which also excludes this
    // process's other stores; it takes the hive's mode (a new hive, the
    // mode any new file of the user's gets), and a hive that is a link has
    // the file it leads to replaced.  The save hook sees the file made,
    // each piece written (the whole file goes in one write, in kWritePiece
    // pieces under the hook), the file flushed and the rename.
    cReplacementFile file;
    int step = 0;
    // The replacement file tells why it refused a target (a link or file
    // another user planted), at begin() or again at flush().
    struct sTellRefusal {
        cReplacementFile& file;
        std::string* out;
        ~sTellRefusal() {
            if (out && *file.refusal()) *out = file.refusal();
        }
    } tell{file, refusal};
    if (refusal) refusal->clear();
    if (!file.begin(path)) return false;
    stepHook(step);
    const std::size_t piece = gSaveStepHook ? kWritePiece : size;
    for (std::size_t at = 0; at < size; at += piece) {
        if (!writeAll(file, data + at, std::min(piece, size - at))) return false;
        stepHook(step);
    }
    if (!file.flush()) return false;
    if (written && ::fstat(static_cast<int>(file.descriptor()), written) != 0) written->st_mode = 0;
    stepHook(step);
    if (!file.commit()) return false;
    stepHook(step);
    return true;
}

bool cCIAppConfig::mkNewHive(const char* name, std::string* refusal) {
    _guardchar<char> path;
    if (!hivePath(name, path)) return false;
    cFolderLock lock(*this);
    if (!lock.locked() || statusOf(path.c_str()).kind != sFileStatus::fsMissing) return false;
    static const unsigned char kEmpty[7] = {'Q', 'O', 'R', 'C', 0, 0, 0};
    return writeWholeFile(path.c_str(), kEmpty, sizeof kEmpty, nullptr, refusal);
}

namespace {

// Makes `dst` hold what `src` holds, keeping the nodes both have (and so
// the handles to them).
void syncTree(tNode& dst, const tNode& src) {
    const long long n = src.value.count();
    if (dst.value.count() != n || (n && std::memcmp(dst.value.data(), src.value.data(), static_cast<std::size_t>(n))))
        dst.value.copyFrom(src.value.data(), n);
    dst.image.touched = true;
    std::vector<std::string> gone;
    for (std::size_t i = 0; i < dst.children.count(); ++i) {
        const tNode* c = dst.children.at(i);
        if (!src.children.find(c->name.data(), c->name.size()))
            gone.emplace_back(reinterpret_cast<const char*>(c->name.data()), c->name.size());
    }
    for (const auto& g : gone) dst.children.remove(reinterpret_cast<const unsigned char*>(g.data()), g.size());
    for (std::size_t i = 0; i < src.children.count(); ++i) {
        const tNode* c = src.children.at(i);
        syncTree(*dst.children.insert(c->name.data(), c->name.size()), *c);
    }
}

bool sameValue(const tNode* a, const tNode* b) {
    const long long na = a ? a->value.count() : 0, nb = b ? b->value.count() : 0;
    return na == nb && (na == 0 || std::memcmp(a->value.data(), b->value.data(), static_cast<std::size_t>(na)) == 0);
}

// Gives the new node `dst` the value and the subtree of `src`.
void copyTree(tNode& dst, const tNode& src) {
    dst.value.copyFrom(src.value.data(), src.value.count());
    for (std::size_t i = 0; i < src.children.count(); ++i) {
        const tNode* c = src.children.at(i);
        copyTree(*dst.children.insert(c->name.data(), c->name.size()), *c);
    }
}

std::string nameOf(const tNode* n) { return std::string(reinterpret_cast<const char*>(n->name.data()), n->name.size()); }

// The three-way merge of one node, made in `r`: r holds the node as the
// file holds it now, or is new and empty where the file has none.  `base`
// is the node as this program last read or wrote it and `ours` as it is in
// memory; either is null where the node was not there (for `ours`: this
// program removed it).  What this program changed since the base is made
// over the file: a value set (it wins where the file's changed too), a node
// made (with its subtree), a node removed, which takes away only what this
// program saw there: a value the file still holds as the base did, and
// nodes the base had; a value the file changed, or a node made in it
// since, stays with the nodes above it.
void merge3(tNode& r, const tNode* base, const tNode* ours) {
    if (ours) {
        if (!sameValue(ours, base)) r.value.copyFrom(ours->value.data(), ours->value.count());
    } else if (sameValue(&r, base)) {
        r.value.set(0);
    }
    // Every name of the three lists, once, in order.
    std::vector<std::string> names;
    for (const tNode* n : {static_cast<const tNode*>(&r), base, ours})
        for (std::size_t i = 0; n && i < n->children.count(); ++i) names.push_back(nameOf(n->children.at(i)));
    std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
        return compareNames(reinterpret_cast<const unsigned char*>(x.data()), x.size(),
                            reinterpret_cast<const unsigned char*>(y.data()), y.size()) < 0;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
        const auto* key = reinterpret_cast<const unsigned char*>(name.data());
        const tNode* b = base ? base->children.find(key, name.size()) : nullptr;
        const tNode* o = ours ? ours->children.find(key, name.size()) : nullptr;
        tNode* t = r.children.find(key, name.size());
        // Made by the file alone, or removed by both: the file's say.
        if ((!b && !o) || (!o && !t)) continue;
        if (o && !b && !t) {
            copyTree(*r.children.insert(key, name.size()), *o);
            continue;
        }
        tNode* child = t ? t : r.children.insert(key, name.size());
        merge3(*child, b, o);
        // A node one side removed and the other changed stays only with
        // what that change left in it.
        const bool kept = (o && t) || (o && !b) || !child->value.empty() || !child->children.empty();
        if (!kept) r.children.remove(key, name.size());
    }
}

}  // namespace

bool cCIAppConfig::mergeWithFile(sPropFileData& hive, const char* path) {
    sDataContainer now;
    sHiveRead r = readHiveFile(path, now);
    if (r.present && r.fault != hfNone) {
        // The file another program left cannot be read: writing ours over
        // it would drop whatever it holds.
        hive.fault = r.fault;
        hive.faultError = r.error;
        hive.faultReason = r.refusal;
        hive.loadFailed = true;
        return false;
    }
    hive.fault = hfNone;
    hive.faultError = 0;
    hive.faultReason.clear();
    hive.loadFailed = false;
    // Gone: nothing of another program's is left to keep.
    if (!r.present) return true;
    // The base as a tree: empty for a hive made new or whose file could not
    // be read (everything in memory is then this program's).  The store
    // parsed or wrote these bytes itself.
    sDataContainer base;
    if (hive.imageSize) parseHive(hive.image.data(), hive.imageSize, base);
    merge3(now, &base, &hive.root);
    syncTree(hive.root, now);
    ++mFrees;
    // The tree no longer matches the image: the save walks it all.  The
    // file read is the new base: the tree holds it with this program's
    // changes made over it, even if the write to come fails.
    hive.imageValid = false;
    const std::size_t size = static_cast<std::size_t>(r.bytes.count());
    hive.image.swap(r.bytes);
    hive.imageSize = size;
    remember(hive, r.id, false);
    return true;
}

bool cCIAppConfig::saveHive(sPropFileData& hive) {
    _guardchar<char> path;
    if (!hivePath(hive.name.c_str(), path)) return false;
    cFolderLock lock(*this);
    if (!lock.locked()) return false;
    // Another program saved since this one last read or wrote the file (or
    // the file could not be read then, or is no regular file now): its
    // changes are kept, ours made over them, or the save is refused.
    if ((hive.loadFailed || fileChanged(hive, path.c_str())) && !mergeWithFile(hive, path.c_str())) return false;
    // An older copy writing the hive in place finishes before it is
    // replaced; another user's process holding that lock stops the save.
    cOldHiveLock old(path.c_str());
    if (old.foreign()) {
        hive.fault = hfLockHeld;
        hive.faultError = 0;
        hive.faultReason.clear();
        return false;
    }
    // The new bytes are made whole first, into the buffer of the image
    // before last, copying from the image what nothing touched.  A walk
    // that fails (a tree the format cannot hold, or a file longer than a
    // load reads) or a write that fails leaves the old hive, no temporary
    // file, the base as it was, and spans that match no image; the buffer
    // is kept for the next save.
    cHiveWriter writer(std::move(hive.spare), hive.imageValid ? hive.image.data() : nullptr, hive.imageSize);
    struct stat written;
    std::string refusal;
    if (!writer.write(hive.root) || !writeWholeFile(path.c_str(), writer.data(), writer.size(), &written, &refusal)) {
        hive.spare = writer.release();
        hive.imageValid = false;
        // A link or file another user planted where the hive is: the hive
        // says who, and stays unsaved.
        if (!refusal.empty()) {
            hive.fault = hfRefused;
            hive.faultError = 0;
            hive.faultReason = refusal;
        }
        return false;
    }
    const std::size_t size = writer.size();
    hive.spare.swap(hive.image);
    hive.image = writer.release();
    hive.imageSize = size;
    hive.imageValid = true;
    remember(hive, S_ISREG(written.st_mode) ? identityOf(written) : sFileIdentity(), false);
    hive.fault = hfNone;
    hive.faultError = 0;
    hive.faultReason.clear();
    return true;
}

void cCIAppConfig::noteWrite(sDataContainer* node) {
    // Nodes handed out by a walk that creates are touched already, with the
    // path above them and their hive modified: the common case ends here.
    if (node->image.touched) return;
    sDataContainer* top = node;
    for (;;) {
        top->image.touched = true;
        if (!top->parent()) break;
        top = top->parent();
        if (top->image.touched) return;
    }
    for (auto* e = mHives.first(); e; e = mHives.next(e)) {
        if (&e->value.root == top) {
            e->value.modified = true;
            return;
        }
    }
    dropImages();
}

void cCIAppConfig::dropImages() {
    for (auto* e = mHives.first(); e; e = mHives.next(e)) e->value.imageValid = false;
}

bool cCIAppConfig::fileChanged(const sPropFileData& hive, const char* path) const {
    const sFileStatus status = statusOf(path);
    // A file that went away (removed by another program) is not re-read: the
    // hive in memory is all there is.  One that cannot be seen, or is no
    // regular file now, is never taken for gone.
    if (status.kind == sFileStatus::fsMissing) return false;
    if (status.kind != sFileStatus::fsFile) return true;
    const sFileIdentity& id = status.id;
    return id.dev != hive.fileDev || id.ino != hive.fileIno || id.size != hive.fileSize || id.nanos != hive.fileNanos;
}

void* cCIAppConfig::rootContextHandle() { return &mHives; }

void* cCIAppConfig::subContextHandle(char const* name, void* parent, bool create) {
    if (!name || !parent) return nullptr;
    if (!isRoot(parent)) {
        sDataContainer* node = static_cast<sDataContainer*>(parent);
        const std::size_t n = std::strlen(name);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(name);
        sDataContainer* child = node->children.find(bytes, n);
        // Children are made only under names a path can reach; a hive file
        // may bring others, which are found as they are.
        if (!child && (!create || !validNodeName(name, n))) return nullptr;
        if (!create) return child;
        // A node handed out for writing is marked touched together with the
        // path above it and its hive modified; after a walk that creates,
        // the parent is so already.
        noteWrite(node);
        if (!child) child = node->children.insert(bytes, n);
        child->image.touched = true;
        return child;
    }

    if (!validSectionName(name)) return nullptr;
    _guardchar<char> path;
    if (!hivePath(name, path)) return nullptr;
    sPropFileData* hive = mHives.find(cStringKey(name, -1));
    if (!hive) {
        const sFileStatus status = statusOf(path.c_str());
        std::string refusal;
        if (status.kind == sFileStatus::fsMissing) {
            if (!create) return nullptr;
            if (mkNewHive(name, &refusal)) {
                hive = newEntry(name);
                remember(*hive, statusOf(path.c_str()).id, true);
            } else if (statusOf(path.c_str()).kind == sFileStatus::fsFile) {
                // Another copy made it meanwhile.
                hive = newEntry(name);
                if (!loadHive(*hive)) return nullptr;
            } else {
                if (!refusal.empty()) noteUnseen(name, hfRefused, 0, refusal);
                return nullptr;
            }
        } else if (status.kind == sFileStatus::fsFile) {
            hive = newEntry(name);
            if (!loadHive(*hive)) return nullptr;
        } else if (status.kind == sFileStatus::fsNoStatus || status.kind == sFileStatus::fsRefused) {
            // Not a missing hive but one that cannot be seen (a link the
            // system does not follow for us, or that another user planted):
            // its hive says so, and nothing is ever made or saved there.
            noteUnseen(name, status.kind == sFileStatus::fsRefused ? hfRefused : hfNoStatus, status.error,
                       status.refusal);
            return nullptr;
        } else {
            return nullptr;
        }
    } else if (!hive->modified && fileChanged(*hive, path.c_str())) {
        if (loadHive(*hive)) hive->modified = false;
    }
    if (create) {
        hive->modified = true;
        hive->root.image.touched = true;
    }
    return &hive->root;
}

bool cCIAppConfig::getParamValueSize(void* handle, long long& size) {
    if (!handle || isRoot(handle)) return false;
    size = static_cast<sDataContainer*>(handle)->value.count();
    return true;
}

bool cCIAppConfig::getParamValue(void* buf, long long size, void* handle) {
    if (!buf || size <= 0 || !handle || isRoot(handle)) return false;
    const sDataContainer* node = static_cast<sDataContainer*>(handle);
    if (node->value.count() == 0) return false;
    const long long n = size < node->value.count() ? size : node->value.count();
    std::memcpy(buf, node->value.data(), static_cast<std::size_t>(n));
    return true;
}

bool cCIAppConfig::setParamValue(void const* data, long long size, void* handle) {
    if (!handle || isRoot(handle) || size < 0 || size > kMaxHiveValueBytes || (!data && size > 0)) return false;
    sDataContainer* node = static_cast<sDataContainer*>(handle);
    noteWrite(node);
    if (size == 0) {
        node->value.set(0);
        return true;
    }
    if (node->value.count() != size) node->value.set(size);
    std::memcpy(node->value.data(), data, static_cast<std::size_t>(size));
    return true;
}

bool cCIAppConfig::setParam(char const* path, void const* data, long long size) {
    if (size > kMaxHiveValueBytes) return false;
    return cApplicationConfig::setParam(path, data, size);
}

bool cCIAppConfig::setParamStr(char const* path, const char* text, long long length) {
    if (!text) return false;
    const long long n = length == -1 ? static_cast<long long>(std::strlen(text)) : length;
    if (n > kMaxHiveValueBytes) return false;
    return cApplicationConfig::setParamStr(path, text, length);
}

bool cCIAppConfig::saveConfig() {
    bool all = true;
    for (auto* e = mHives.first(); e; e = mHives.next(e)) {
        sPropFileData& hive = e->value;
        if (!hive.modified) continue;
        if (saveHive(hive))
            hive.modified = false;
        else
            all = false;
    }
    return all;
}

bool cCIAppConfig::discardChanges() {
    bool all = true;
    for (auto* e = mHives.first(); e; e = mHives.next(e)) {
        sPropFileData& hive = e->value;
        if (!hive.modified) continue;
        if (loadHive(hive))
            hive.modified = false;
        else
            all = false;
    }
    return all;
}

void* cCIAppConfig::getPathContextHandle(char const* path, bool create) {
    if (create && path && *path) {
        // Every name is checked before the walk makes anything, so that a
        // refused path leaves no hive or node behind.  The first component
        // names the hive; its root is depth 0.
        int depth = 0;
        const char* name = path;
        for (const char* c = path;; ++c) {
            if (*c && *c != '/') continue;
            const std::size_t n = static_cast<std::size_t>(c - name);
            if (depth == 0 ? !validSectionName(std::string(name, n).c_str()) : !validNodeName(name, n)) return nullptr;
            if (!*c) break;
            if (++depth > kMaxHiveDepth) return nullptr;
            name = c + 1;
        }
    }
    return cApplicationConfig::getPathContextHandle(path, create);
}

bool cCIAppConfig::hasSection(char const* path) { return getPathContextHandle(path, false) != nullptr; }

bool cCIAppConfig::removeSection(char const* path) {
    if (!path || !*path) return false;
    const std::string p(path);
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return false;
    void* parent = getPathContextHandle(p.substr(0, slash).c_str(), true);
    if (!parent || isRoot(parent)) return false;
    const std::string last = p.substr(slash + 1);
    if (!static_cast<sDataContainer*>(parent)->children.remove(reinterpret_cast<const unsigned char*>(last.data()),
                                                                last.size()))
        return false;
    ++mFrees;
    return true;
}

bool cCIAppConfig::enumSubsections(char const* path, bool (*callback)(char const* name, void* arg), void* arg) {
    if (!path || !*path || !callback) return false;
    void* handle = getPathContextHandle(path, false);
    if (!handle || isRoot(handle)) return false;
    const sDataContainer* node = static_cast<sDataContainer*>(handle);
    for (std::size_t at = 0; at < node->children.count();) {
        const sDataContainer* item = node->children.at(at);
        unsigned char name[kMaxHiveNameBytes + 1];
        const std::size_t n = item->name.size();
        std::memcpy(name, item->name.data(), n);
        name[n] = 0;
        const unsigned long long frees = mFrees;
        if (!callback(reinterpret_cast<const char*>(name), arg)) return false;
        // The callback may have changed the children, and when it freed
        // nodes, the node listed may be one of them: it is found again by
        // its path.  Either way the listing goes on after the same name, if
        // it is still there.
        if (mFrees != frees) {
            handle = getPathContextHandle(path, false);
            if (!handle || isRoot(handle)) return true;
            node = static_cast<sDataContainer*>(handle);
        }
        bool found = false;
        at = node->children.lowerBound(name, n, found);
        if (!found) return true;
        ++at;
    }
    return true;
}

// ---------------------------------------------------------------------------

cCIAppFullConfig::cCIAppFullConfig() : mStore(new cCIAppConfig) {}
cCIAppFullConfig::~cCIAppFullConfig() { delete mStore; }
