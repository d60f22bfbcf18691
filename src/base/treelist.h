// cFasterTreeList<K, V>: the sorted map that carries most of our tables.
//
// A binary search tree of nodes {greater link, lesser link, parent, key,
// value, balance flag}.  Keys are unique, iteration runs in ascending key
// order (first() then next(), or last() then prev()), and the map owns its
// nodes, keys and values.  A node never moves while it is in the map, so a
// pointer to a node or to its value stays valid through later insertions,
// rebuilds and removals of other entries.
//
// Shape.  Every insertion applies the insertion rule: a node that gets a child
// while its own parent is not flagged is flagged, and a new grandchild under a
// flagged grandparent rotates the path upward (see attach()).  The rule
// builds perfectly balanced trees from ascending or descending input (keys 1
// to 2^k - 1 give a tree of height k), which is how most of our tables are
// filled.  Left alone it goes wrong for other orders: a zig-zag insertion
// (1, 0, 3, 2, 5, 4, ...) makes it rotate the wrong node up, growing a chain
// of height n/2 that no insertion ever walks, and keys alternating low and
// high make every insertion deeper than the last.  The rule is therefore
// held in check by subtree weights:
//
//   - every node counts the nodes of its subtree (weight), kept up to date by
//     insertion, rotation and removal along the one path they touch;
//   - a rotation of the rule is skipped when it would make the tree less
//     balanced (the sum of |lesser - greater| - 1 over the two rotated nodes
//     would grow) or leave either node out of weight balance; ascending and
//     descending input never hit this, so their shapes stay the rule's;
//   - after an insertion or a removal every node on the touched path whose
//     heavier child holds more than 3/4 of its weight (counting a subtree of
//     s nodes as s + 1) is mended, bottom-up, by a single or a double
//     rotation (restoreBalance()).
//
// Every subtree then stays within a 3:1 weight ratio, so the height stays
// below log(n + 1) / log(4/3), about 2.41 log2 n, whatever the order of the
// insertions, and each insertion or removal costs O(log n) at worst.  Mending
// by rotations rather than by rebuilding the highest unbalanced subtree
// matters when many insertions land in one place (keys alternating low and
// high all fall between the last two): a rebuild there relinked about
// log2 n nodes per insertion, where the rotations touch a few.  A run of
// keys past the greatest (or below the least) key, the way most tables are
// filled, does not descend at all: see "insertions at either end".
//
// The depth limit (128 times the key size; 2048 for cStringKey and more for
// serialized keys) stays what the owner asked for: an insertion that visits
// more nodes than the limit rebuilds the whole tree.  With the weight balance
// this only happens when an owner sets a limit below the height the map can
// reach (about 2.41 log2 of its entry count).
//
// Keys need ==, < and > (pointers compare as addresses: a char* key is never
// compared as text).  The map does not lock; an owner that shares it between
// threads guards every use with its own lock.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

#include "base/buffers.h"
#include "base/serializedkey.h"
#include "base/strkey.h"

// gcc says __SANITIZE_ADDRESS__, clang __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define QOR_TREE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOR_TREE_ASAN 1
#endif
#endif
#if defined(QOR_TREE_ASAN)
#include <sanitizer/asan_interface.h>
#define QOR_TREE_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define QOR_TREE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define QOR_TREE_POISON(p, n) ((void)(p), (void)(n))
#define QOR_TREE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qor_detail {

// How the map orders a key type and its default depth limit (128 times the
// key's size in bytes).
template <typename K>
struct cTreeKeyOrder {
    static int compare(const K& a, const K& b) {
        if (a == b) return 0;
        return a > b ? 1 : -1;
    }
    static constexpr unsigned int depthLimit = 128u * static_cast<unsigned int>(sizeof(K));
};

// Pointers compare as addresses, through std::greater so that unrelated
// objects still get a total order.
template <typename T>
struct cTreeKeyOrder<T*> {
    static int compare(T* a, T* b) {
        if (a == b) return 0;
        return std::greater<T*>()(a, b) ? 1 : -1;
    }
    static constexpr unsigned int depthLimit = 128u * static_cast<unsigned int>(sizeof(T*));
};

// One word-by-word comparison instead of the two that == and > would make;
// the limit is that of a 16-byte key whatever the size of our object.
template <>
struct cTreeKeyOrder<cStringKey> {
    static int compare(const cStringKey& a, const cStringKey& b) { return a.cmp(a.words, b.words); }
    static constexpr unsigned int depthLimit = 2048;
};

// A serialized key orders as its operators do, by key and then by serial
// number, but compares the keys once: through its own operators a descent
// would compare them up to four times per level.  Its limit is the key's
// plus 1024 (2048 over unsigned long long, 3072 over cStringKey).
template <typename T>
struct cTreeKeyOrder<cSerializedKey<T> > {
    static int compare(const cSerializedKey<T>& a, const cSerializedKey<T>& b) {
        if (int c = cTreeKeyOrder<T>::compare(a.key, b.key)) return c;
        if (a.serial == b.serial) return 0;
        return a.serial > b.serial ? 1 : -1;
    }
    static constexpr unsigned int depthLimit = cTreeKeyOrder<T>::depthLimit + 1024u;
};

}  // namespace qor_detail

template <typename K, typename V>
class cFasterTreeList {
    using Order = qor_detail::cTreeKeyOrder<K>;

public:
    class cTreeItem {
    public:
        cTreeItem* greater = nullptr;  // the subtree of greater keys
        cTreeItem* lesser = nullptr;   // the subtree of lesser keys
        cTreeItem* parent = nullptr;   // null at the root
        K key;
        V value;
        unsigned char flag = 0;  // the insertion rule's balance flag

        cTreeItem(const cTreeItem&) = delete;
        cTreeItem& operator=(const cTreeItem&) = delete;

    private:
        friend class cFasterTreeList;
        // A plain value (a number, a pointer, a record without constructor)
        // starts zeroed rather than undefined.
        explicit cTreeItem(const K& k) : key(k), value() {}
        ~cTreeItem() = default;

        unsigned int weight = 1;  // nodes in this subtree, this one included
    };

    static constexpr unsigned int defaultDepthLimit = Order::depthLimit;

    cFasterTreeList() = default;
    explicit cFasterTreeList(unsigned int depthLimit) : mDepthLimit(depthLimit) {}
    ~cFasterTreeList() { destroy(); }

    cFasterTreeList(const cFasterTreeList&) = delete;
    cFasterTreeList& operator=(const cFasterTreeList&) = delete;
    // Moving hands the nodes over as they are: value pointers stay valid.
    cFasterTreeList(cFasterTreeList&& o) noexcept { swap(o); }
    cFasterTreeList& operator=(cFasterTreeList&& o) noexcept {
        if (this != &o) {
            destroy();
            swap(o);
        }
        return *this;
    }
    void swap(cFasterTreeList& o) noexcept {
        std::swap(mDepthLimit, o.mDepthLimit);
        std::swap(mInsertDepth, o.mInsertDepth);
        std::swap(mRoot, o.mRoot);
        std::swap(mChunks, o.mChunks);
        std::swap(mFree, o.mFree);
        std::swap(mNextChunk, o.mNextChunk);
        std::swap(mRebuiltNodes, o.mRebuiltNodes);
        std::swap(mEdge, o.mEdge);
    }

    // ---- lookups -----------------------------------------------------------

    cTreeItem* root() const { return mRoot; }
    // Asks the processor for the memory of every node, a chunk at a time,
    // ahead of a walk that will visit them all (only a hint: the chunk
    // headers are read, no node is).
    void prefetchNodes() const {
        for (const sChunk* c = mChunks; c; c = c->next) {
            const unsigned char* at = reinterpret_cast<const unsigned char*>(c);
            const std::size_t bytes = kChunkHeader + c->used * sizeof(cTreeItem);
            for (std::size_t o = 0; o < bytes; o += 64) __builtin_prefetch(at + o);
        }
    }
    cTreeItem* first() const { return mRoot ? leftmost(mRoot) : nullptr; }
    cTreeItem* last() const { return mRoot ? rightmost(mRoot) : nullptr; }
    std::size_t count() const { return mRoot ? mRoot->weight + (mEdge ? std::size_t{mEdge->pending} : 0) : 0; }
    bool empty() const { return mRoot == nullptr; }

    // The value slot of the entry with this key, or null.
    V* find(const K& key) {
        cTreeItem* n = ifind_rec(mRoot, key);
        return n ? &n->value : nullptr;
    }
    const V* find(const K& key) const {
        const cTreeItem* n = ifind_rec(mRoot, key);
        return n ? &n->value : nullptr;
    }

    // The node with this key in the subtree below `from` (inclusive), or null.
    cTreeItem* ifind_rec(cTreeItem* from, const K& key) const {
        cTreeItem* n = from;
        while (n) {
            int c = Order::compare(key, n->key);
            if (c == 0) return n;
            n = *(c > 0 ? &n->greater : &n->lesser);
        }
        return nullptr;
    }

    // The node with the greatest key not above `key`, or null.
    cTreeItem* find_le(const K& key) const {
        cTreeItem* best = nullptr;
        cTreeItem* n = mRoot;
        while (n) {
            int c = Order::compare(key, n->key);
            if (c == 0) return n;
            if (c > 0) best = n;
            n = *(c > 0 ? &n->greater : &n->lesser);
        }
        return best;
    }

    // The node with the smallest key not below `key`, or null.
    cTreeItem* find_ge(const K& key) const {
        cTreeItem* best = nullptr;
        cTreeItem* n = mRoot;
        while (n) {
            int c = Order::compare(key, n->key);
            if (c == 0) return n;
            if (c < 0) best = n;
            n = *(c > 0 ? &n->greater : &n->lesser);
        }
        return best;
    }

    // In-order neighbours; they need nothing but the node, so a walk may go on
    // from any node still in the map after insertions and removals.
    cTreeItem* next(cTreeItem* item) const {
        if (!item) return nullptr;
        if (item->greater) return leftmost(item->greater);
        cTreeItem* n = item;
        cTreeItem* p = n->parent;
        while (p && p->greater == n) {
            n = p;
            p = p->parent;
        }
        return p;
    }
    cTreeItem* prev(cTreeItem* item) const {
        if (!item) return nullptr;
        if (item->lesser) return rightmost(item->lesser);
        cTreeItem* n = item;
        cTreeItem* p = n->parent;
        while (p && p->lesser == n) {
            n = p;
            p = p->parent;
        }
        return p;
    }

    // ---- changes -----------------------------------------------------------

    // The value slot for `key`: a new entry with a value-initialised value, or
    // the existing entry with its value unchanged.  A full heap (or a map of
    // 2^32 - 1 entries) throws std::bad_alloc and leaves the map unchanged.
    V* insert(const K& key) {
        mInsertDepth = 0;
        if (!mRoot) {
            mRoot = makeItem(key);
            return &mRoot->value;
        }
        if (mEdge && mEdge->depth) {
            cTreeItem* r = mEdge->greaterSide ? insertAtEdge<true>(key) : insertAtEdge<false>(key);
            if (r) return &r->value;
        }
        // Look first, so that an existing key costs no allocation; the new
        // node is made before anything changes.
        if (mRoot->weight == UINT32_MAX && !find(key)) throw std::bad_alloc();
        sPath path;
        cTreeItem* r = descend(mRoot, key, path);  // the spine is forgotten by now
        if (!r) {
            r = makeCounted(key, path);
            linkAt(r, path);
            // A new greatest or least key: the next one may well follow it.
            if (path.turns != 3 && path.visited >= kEdgeMinDepth && path.visited < mDepthLimit)
                learnEdge(path.turns == 1);
        }
        if (path.visited > mDepthLimit) rebuild_tree();
        return &r->value;
    }

    // Removes and frees the entry with this key; false when there is none.
    bool dettach(const K& key) { return dettach(ifind_rec(mRoot, key)); }

    // Removes and frees this node, which must belong to the map.  The node is
    // unlinked in O(height): when it has two children its successor takes its
    // place.  Every other node keeps its address.
    bool dettach(cTreeItem* item) {
        if (!item) return false;
        forgetEdge();
        cTreeItem* from;  // lowest node whose weight drops
        if (item->lesser && item->greater) {
            cTreeItem* s = leftmost(item->greater);
            if (s == item->greater) {
                from = s;
            } else {
                from = s->parent;
                from->lesser = s->greater;
                if (s->greater) s->greater->parent = from;
                s->greater = item->greater;
                s->greater->parent = s;
            }
            s->lesser = item->lesser;
            s->lesser->parent = s;
            s->weight = item->weight;
            s->flag = item->flag;
            replaceChild(item, s);
        } else {
            cTreeItem* c = item->lesser ? item->lesser : item->greater;
            from = item->parent;
            replaceChild(item, c);
        }
        // One pass up: every ancestor loses a node, and each one that this
        // leaves out of balance is mended by a rotation on the way.
        for (cTreeItem* v = from; v;) {
            cTreeItem* up = v->parent;
            --v->weight;
            if (isHeavy(v)) restoreBalance(v);
            v = up;
        }
        freeItem(item);
        if (!mRoot) releaseChunks();
        return true;
    }

    // Frees every node with its key and value (children before parents, no
    // recursion) and the node storage; the depth limit and depth stay.
    void destroy() {
        if (!(std::is_trivially_destructible<K>::value && std::is_trivially_destructible<V>::value)) {
            cTreeItem* n = mRoot;
            while (n) {
                if (n->lesser) {
                    n = n->lesser;
                } else if (n->greater) {
                    n = n->greater;
                } else {
                    cTreeItem* p = n->parent;
                    if (p) (p->lesser == n ? p->lesser : p->greater) = nullptr;
                    n->~cTreeItem();
                    n = p;
                }
            }
        }
        mRoot = nullptr;
        releaseChunks();
    }

    // Rebuilds the whole tree, in key order, into a perfectly balanced one;
    // the nodes are relinked, none moves.  Adds the nodes it places to the
    // insertion depth.
    void rebuild_tree() {
        if (mRoot) rebuildSubtree(mRoot);
    }

    // A fresh node for `key` for insert_id, owned by this map: value
    // initialised, links null.  std::bad_alloc when the heap is full.
    cTreeItem* makeItem(const K& key) {
        void* mem = allocateItem();
        try {
            return ::new (mem) cTreeItem(key);
        } catch (...) {
            pushFree(mem);
            throw;
        }
    }

    // Links a node made by makeItem() into the tree and keeps the tree in
    // balance; does not apply the depth limit.  The node itself, or the node
    // that already holds an equal key (the given node is then freed).
    cTreeItem* insert_id(cTreeItem* item) {
        if (!item) return nullptr;
        forgetEdge();
        item->greater = item->lesser = item->parent = nullptr;
        item->weight = 1;
        if (!mRoot) {
            mRoot = item;
            return item;
        }
        sPath path;
        if (cTreeItem* found = descend(mRoot, item->key, path)) {
            freeItem(item);
            return found;
        }
        linkAt(item, path);
        return item;
    }

    // The insertion step below `at` (the root, or a node where a search for
    // the item's key passes): links `item` where the search ends, counts the
    // nodes visited into the insertion depth, updates the weights of all its
    // ancestors and applies the insertion rule up to `at`, without the weight
    // balance.  `signal` is what the level above `at` has to do: 0 nothing,
    // otherwise rotate its child on the path upward.  An equal key found on
    // the way is the result, and `item` is freed.
    cTreeItem* insert_itm(cTreeItem* at, cTreeItem* item, char& signal) {
        signal = 0;
        if (!at || !item) return nullptr;
        forgetEdge();
        item->greater = item->lesser = item->parent = nullptr;
        item->weight = 1;
        sPath path;
        if (cTreeItem* found = descend(at, item->key, path)) {
            freeItem(item);
            return found;
        }
        signal = attach(at, item, path);
        return item;
    }

    // ---- state -------------------------------------------------------------

    unsigned int depthLimit() const { return mDepthLimit; }
    void setDepthLimit(unsigned int limit) { mDepthLimit = limit; }
    // Nodes visited by the latest insertion, plus the nodes any rebuild since
    // then has placed.
    unsigned int insertionDepth() const { return mInsertDepth; }
    // Nodes placed by whole-tree rebuilds (rebuild_tree(), or the depth
    // limit) over the map's life.
    unsigned long long rebuiltNodes() const { return mRebuiltNodes; }

private:
    static cTreeItem* leftmost(cTreeItem* n) {
        while (n->lesser) n = n->lesser;
        return n;
    }
    static cTreeItem* rightmost(cTreeItem* n) {
        while (n->greater) n = n->greater;
        return n;
    }
    static unsigned long long weightOf(const cTreeItem* n) { return n ? n->weight : 0; }

    // A subtree of s nodes with a child of c nodes is out of balance when
    // (c + 1) > 3/4 (s + 1): leaves count as weight 1.
    static bool heavy(unsigned long long child, unsigned long long self) {
        return 4 * (child + 1) > 3 * (self + 1);
    }
    static unsigned long long imbalance(unsigned long long a, unsigned long long b) {
        unsigned long long d = a > b ? a - b : b - a;
        return d > 0 ? d - 1 : 0;
    }

    // Puts `c` (possibly null) where `n` hangs: in n's parent or as the root.
    void replaceChild(cTreeItem* n, cTreeItem* c) {
        cTreeItem* p = n->parent;
        if (c) c->parent = p;
        if (!p)
            mRoot = c;
        else if (p->lesser == n)
            p->lesser = c;
        else
            p->greater = c;
    }

    // Where a descent ended, and the nodes it passed that a new node there
    // leaves out of balance, root first.  Rotations of the insertion rule
    // only touch nodes that they leave in balance, so these are the only
    // nodes that may still need mending after them.  Weight balance
    // keeps a tree of up to 2^32 entries below 80 levels; should more nodes
    // than fit be out of balance, the parent links are walked instead.
    struct sPath {
        static constexpr int kCapacity = 128;
        cTreeItem* last = nullptr;  // the node the new one hangs from
        bool greaterSide = false;   // ... on this side
        unsigned int visited = 0;
        unsigned int turns = 0;     // 1: went greater at every node, 2: lesser, 3: both
        int heavyCount = 0;
        bool heavyComplete = true;
        cTreeItem* unbalanced[kCapacity];
        void addHeavy(cTreeItem* n) {
            if (heavyCount < kCapacity)
                unbalanced[heavyCount++] = n;
            else
                heavyComplete = false;
        }
    };

    // Whether a node of weight w whose child on the path weighs wc is out of
    // balance, with either child (wc or w - 1 - wc) too heavy: in balance
    // exactly when w - 3 <= 4 wc <= 3 w - 1, one unsigned range check.
    static bool outOfBalance(unsigned long long wc, unsigned long long w) { return 4 * wc + 3 - w > 2 * w + 2; }

    // Walks from `at` toward `key`, counting a new node into the weight of
    // every node passed: the node holding an equal key (the weights are then
    // set back), or null with `path` telling where the key belongs.  Counts
    // the insertion depth.
    cTreeItem* descend(cTreeItem* at, const K& keyRef, sPath& path) {
        // A small plain key is copied, so that the weight updates below are
        // not taken for writes that might change it.
        using tKeyHold = typename std::conditional<std::is_trivially_copyable<K>::value && sizeof(K) <= 16,
                                                   const K, const K&>::type;
        tKeyHold key = keyRef;
        cTreeItem* n = at;
        cTreeItem* above = nullptr;
        unsigned long long aboveWeight = 0;
        unsigned int visited = 0;
        for (;;) {
            ++visited;
            int c = Order::compare(key, n->key);
            if (c == 0) {
                mInsertDepth += visited;
                path.visited = visited;
                if (n != at) uncount(n->parent, at);
                return n;
            }
            unsigned long long w = ++n->weight;
            if (above && outOfBalance(w, aboveWeight)) path.addHeavy(above);
            above = n;
            aboveWeight = w;
            path.turns |= c > 0 ? 1u : 2u;
            // Picking the link by address keeps the step free of a branch
            // that random keys would mispredict half of the time.
            cTreeItem* child = *(c > 0 ? &n->greater : &n->lesser);
            if (!child) {
                if (outOfBalance(1, w)) path.addHeavy(n);
                mInsertDepth += visited;
                path.visited = visited;
                path.last = n;
                path.greaterSide = c > 0;
                return nullptr;
            }
            n = child;
        }
    }

    // ---- insertions at either end -----------------------------------------
    //
    // Tables are mostly filled in key order, so most insertions hang a new
    // greatest (or least) key below the end of the tree's greater (lesser)
    // spine, and such an insertion visits every node of the spine: the
    // descent's chain of dependent loads and a weight update per level were
    // most of its time.  Once an insertion has extended a spine, the map
    // keeps the spine in an array.  The next key past the end is compared
    // with the end node alone, and the spine is split in two:
    //
    //   - the lowest kEdgeBottom levels are counted and checked at every
    //     insertion, as a descent would, from the array;
    //   - the levels above ("the top") are counted once for many insertions:
    //     `pending` insertions are owed to each of them.  Every top node's
    //     weight and the weight of its child on the spine grow by one with
    //     each insertion below while its other child stays, so the number of
    //     insertions after which the first of them would leave the 3:1 ratio
    //     is known in advance (`budget`); the insertion that would reach it
    //     pays what is owed and is checked level by level like a descent.
    //     So is one whose insertion rule climbs into the top.
    //
    // Each insertion does exactly what a descent from the root would have
    // done (the same weights, balance checks, rule and rotations, so the same
    // tree); the owed counts are paid before anything else reads a weight:
    // any other change to the tree pays them and forgets the spine, and
    // count() adds them.

    static constexpr unsigned int kEdgeMinDepth = 8;  // shallower trees descend anyway
    static constexpr int kEdgeBottom = 5;

    struct sEdge {
        static constexpr int kCapacity = 96;
        int depth = 0;  // nodes on the spine, root first; 0: not known
        int top = 0;    // spine[0 .. top - 1] are owed `pending` insertions
        bool greaterSide = true;
        unsigned int pending = 0;
        long long budget = 0;  // pending may grow to this with every top node in balance
        cTreeItem* spine[kCapacity];
    };

    template <bool G>
    static cTreeItem*& outer(cTreeItem* n) {
        return G ? n->greater : n->lesser;
    }

    // Adds the owed insertions to the top's weights.
    void payEdge() {
        sEdge& e = *mEdge;
        for (int i = 0; i < e.top; ++i) e.spine[i]->weight += e.pending;
        e.pending = 0;
        e.top = 0;
    }

    void forgetEdge() {
        if (mEdge && mEdge->depth) {
            payEdge();
            mEdge->depth = 0;
        }
    }

    // Splits a fully counted spine into top and bottom and works out the top's
    // budget: a top node whose other child holds L nodes and whose spine child
    // holds c leaves the ratio when c grows past 3 L + 2.
    void splitEdge() {
        sEdge& e = *mEdge;
        const int top = e.depth - kEdgeBottom;
        if (top <= 0) return;
        long long budget = LLONG_MAX;
        long long w = e.spine[0]->weight;
        for (int i = 0; i < top; ++i) {
            const long long c = e.spine[i + 1]->weight;
            if (outOfBalance(c + 1, w + 1)) return;  // the next insertion checks it
            const long long left = 3 * (w - 1 - c) + 2 - c;  // insertions this node takes
            if (left < budget) budget = left;
            w = c;
        }
        if (budget <= 0) return;
        e.top = top;
        e.budget = budget;
    }

    // Reads the spine on the greater (lesser) side into the array from its
    // i-th node, which is known to be right, and splits it.
    template <bool G>
    void readSpine(int i) {
        sEdge& e = *mEdge;
        cTreeItem* n = e.spine[i];
        while (cTreeItem* c = outer<G>(n)) {
            if (++i == sEdge::kCapacity) {
                payEdge();
                e.depth = 0;
                return;
            }
            e.spine[i] = n = c;
        }
        e.depth = i + 1;
    }

    void learnEdge(bool greaterSide) {
        if (!mEdge) {
            mEdge = new (std::nothrow) sEdge;
            if (!mEdge) return;
        }
        sEdge& e = *mEdge;
        e.greaterSide = greaterSide;
        e.spine[0] = mRoot;
        greaterSide ? readSpine<true>(0) : readSpine<false>(0);
        if (e.depth) splitEdge();
    }

    // insert() for a key at or past the end of the known spine: the node
    // with the key, or null (the spine forgotten) when the key belongs
    // elsewhere or the spine is too long to extend.
    template <bool G>
    cTreeItem* insertAtEdge(const K& key) {
        sEdge& e = *mEdge;
        const int d = e.depth;
        cTreeItem* end = e.spine[d - 1];
        const int c = Order::compare(key, end->key);
        if (c == 0) {
            mInsertDepth = static_cast<unsigned int>(d);
            if (static_cast<unsigned int>(d) > mDepthLimit) rebuild_tree();
            return end;
        }
        if ((c > 0) != G || d + 1 >= sEdge::kCapacity) {
            forgetEdge();
            return nullptr;
        }
        if (count() == UINT32_MAX) throw std::bad_alloc();
        cTreeItem* item = makeItem(key);  // nothing has changed yet
        mInsertDepth = static_cast<unsigned int>(d);

        // Count the new node into the bottom (into all of the spine when the
        // budget is spent), and note the nodes it leaves out of balance,
        // root first, as descend() does.
        if (e.top && e.pending >= e.budget) payEdge();
        const int top = e.top;
        bool whole = top == 0;  // the spine's weights are all paid
        if (top) ++e.pending;
        unsigned char heavy[sEdge::kCapacity];  // spine indices, root first
        int heavyCount = 0;
        unsigned long long aboveWeight = 0;
        for (int i = top; i < d; ++i) {
            unsigned long long w = ++e.spine[i]->weight;
            if (i > top && outOfBalance(w, aboveWeight)) heavy[heavyCount++] = static_cast<unsigned char>(i - 1);
            aboveWeight = w;
        }
        if (outOfBalance(1, aboveWeight)) heavy[heavyCount++] = static_cast<unsigned char>(d - 1);

        outer<G>(end) = item;
        item->parent = end;
        sRule rule = startRule(item);
        climb(rule, e.spine[top]);
        if (rule.s && top) {
            payEdge();
            whole = true;
            climb(rule, mRoot);
        }
        // The spine above the highest level the rule rotated is as it was.
        int kept = rule.rotated < 0 ? d : d - 2 - rule.rotated;
        if (rule.s && rotateRoot(item)) kept = -1;
        for (int i = heavyCount - 1; i >= 0; --i) {
            cTreeItem* v = e.spine[heavy[i]];
            if (isHeavy(v)) {
                restoreBalance(v);
                if (heavy[i] - 1 < kept) kept = heavy[i] - 1;
            }
        }

        // Rotations happen on the spine (and one that lifts a node lifts it
        // by one level): keep the part above the highest of them and read
        // the rest again.
        e.spine[d] = item;
        e.depth = d + 1;
        if (kept < d) {
            int i = kept < 0 ? 0 : kept;
            if (e.spine[0] != mRoot) {
                e.spine[0] = mRoot;
                i = 0;
            } else {
                while (i < d && outer<G>(e.spine[i]) == e.spine[i + 1]) ++i;
            }
            readSpine<G>(i);
        }
        if (static_cast<unsigned int>(d) > mDepthLimit) {
            rebuild_tree();
        } else if (whole && e.depth) {
            splitEdge();
        }
        return item;
    }

    // Takes back the count of a node that was not linked after all, from
    // `from` up to `at`.
    static void uncount(cTreeItem* from, cTreeItem* at) {
        for (cTreeItem* p = from;; p = p->parent) {
            --p->weight;
            if (p == at) break;
        }
    }

    // A node for `key` to hang where `path` ended; when making it fails, the
    // descent's counts are taken back before the failure goes on.
    cTreeItem* makeCounted(const K& key, const sPath& path) {
        try {
            return makeItem(key);
        } catch (...) {
            uncount(path.last, mRoot);
            throw;
        }
    }

    // Links a new node where `path` ended, below the root, and keeps the
    // tree in weight balance.  The nodes the descent found out of balance
    // are mended deepest first: a rotation keeps the weight of the subtree
    // it works in, so it leaves the nodes above exactly as it found them.
    void linkAt(cTreeItem* item, sPath& path) {
        char signal = attach(mRoot, item, path);
        if (signal) rotateRoot(item);
        if (!path.heavyComplete) {
            rebalancePath(item->parent);
            return;
        }
        for (int i = path.heavyCount - 1; i >= 0; --i) {
            cTreeItem* v = path.unbalanced[i];
            if (isHeavy(v)) restoreBalance(v);
        }
    }

    // Rotates `c`, the child of `n` on the greater side (greaterSide) or the
    // lesser side, above `n`, when that does not unbalance the two nodes.
    // `below` is c's child on the insertion path (null: read c's children):
    // the weights of the subtrees that change hands follow from the path's
    // own weights, so a refused rotation touches no node off the path.
    // The caller relinks c into n's old place.
    bool rotateUp(cTreeItem* n, cTreeItem* c, bool greaterSide, cTreeItem* below) {
        unsigned long long wc = c->weight;
        unsigned long long wa = n->weight - 1 - wc;  // stays with n
        unsigned long long wb, wd;                   // moves to n, stays with c
        if (below) {
            bool belowOnSameSide = (greaterSide ? c->greater : c->lesser) == below;
            unsigned long long wBelow = below->weight;
            wd = belowOnSameSide ? wBelow : wc - 1 - wBelow;
            wb = wc - 1 - wd;
        } else {
            wb = weightOf(greaterSide ? c->lesser : c->greater);
            wd = wc - 1 - wb;
        }
        unsigned long long wn = wa + wb + 1;
        if (imbalance(wa, wb) + imbalance(wn, wd) > imbalance(wa, wc) + imbalance(wb, wd)) return false;
        if (heavy(wa > wb ? wa : wb, wn) || heavy(wn > wd ? wn : wd, wn + wd + 1)) return false;
        cTreeItem* b = greaterSide ? c->lesser : c->greater;
        c->flag = 0;
        n->flag = 0;
        if (greaterSide) {
            n->greater = b;
            c->lesser = n;
        } else {
            n->lesser = b;
            c->greater = n;
        }
        if (b) b->parent = n;
        c->weight = n->weight;
        n->weight = static_cast<unsigned int>(wn);
        return true;
    }

    // The root level of the insertion rule: the root's child on the side of
    // the new node goes up, unless that would unbalance them (false).
    bool rotateRoot(cTreeItem* item) {
        cTreeItem* r = mRoot;
        bool greaterSide = Order::compare(item->key, r->key) > 0;
        cTreeItem* c = greaterSide ? r->greater : r->lesser;
        if (!c || !rotateUp(r, c, greaterSide, nullptr)) return false;
        c->parent = nullptr;
        r->parent = c;
        mRoot = c;
        return true;
    }

    // Hangs `item` where `path` (a descent from `at`, which counted it into
    // the weights up to `at`) ended, counts it into the weights above `at`
    // and applies the insertion rule from its parent up to `at`.  The result
    // is the signal for the level above `at`.
    char attach(cTreeItem* at, cTreeItem* item, const sPath& path) {
        cTreeItem* n = path.last;
        (path.greaterSide ? n->greater : n->lesser) = item;
        item->parent = n;
        for (cTreeItem* p = at->parent; p; p = p->parent) ++p->weight;
        sRule rule = startRule(item);
        climb(rule, at);
        return rule.s;
    }

    // Where the insertion rule stands on its way up from a new node: the
    // signal for the next level, the level just handled, what now hangs in
    // its place on the path, and that node's child on the path.
    struct sRule {
        char s;
        cTreeItem* frame;
        cTreeItem* pathNode;
        cTreeItem* below;
        int levels;   // levels handled above the new node's parent
        int rotated;  // `levels` at the highest rotation so far; -1: none
    };

    // The rule at the level of the new node's parent.
    static sRule startRule(cTreeItem* item) {
        cTreeItem* n = item->parent;
        char s;
        if (!n->parent || !n->parent->flag) {
            n->flag = 1;
            s = 0;
        } else {
            s = 1;
        }
        return {s, n, n, item, 0, -1};
    }

    // The rule, level by level, up to `at`.  A level passes on 0 (nothing
    // more to do), counts 2 down to 1, or, on 1, rotates its child on the
    // path above itself.  A climb stopped at a node goes on from there when
    // called again with a higher one.
    void climb(sRule& rule, cTreeItem* at) {
        char s = rule.s;
        cTreeItem* frame = rule.frame;
        cTreeItem* pathNode = rule.pathNode;
        cTreeItem* below = rule.below;
        int levels = rule.levels;
        int rotated = rule.rotated;
        while (s != 0 && frame != at) {
            ++levels;
            cTreeItem* level = pathNode->parent;
            cTreeItem* up = level->parent;
            if (s >= 2) {
                s = static_cast<char>(s - 1);
                below = pathNode;
                pathNode = level;
            } else if (!up) {
                s = 1;  // the root level handles it
                below = pathNode;
                pathNode = level;
            } else if (rotateUp(level, pathNode, level->greater == pathNode, below)) {
                // pathNode took level's place; the level above never rotates
                // after a rotation, so it keeps being the path's node there.
                rotated = levels;
                pathNode->parent = up;
                level->parent = pathNode;
                (up->lesser == level ? up->lesser : up->greater) = pathNode;
                if (up->parent && up->parent->flag) {
                    s = 2;
                } else {
                    up->flag = 1;
                    s = 0;
                }
            } else {
                s = 0;
                below = pathNode;
                pathNode = level;
            }
            frame = level;
        }
        rule = {s, frame, pathNode, below, levels, rotated};
    }

    // After the weights on the path from `from` to the root changed by one
    // node: mends every node on it that is out of balance, from the bottom.
    void rebalancePath(cTreeItem* from) {
        for (cTreeItem* v = from; v;) {
            cTreeItem* up = v->parent;  // v itself may go down a level
            if (isHeavy(v)) restoreBalance(v);
            v = up;
        }
    }

    static bool isHeavy(const cTreeItem* v) {
        unsigned long long wl = weightOf(v->lesser), wg = weightOf(v->greater);
        return heavy(wl > wg ? wl : wg, v->weight);
    }

    // Brings `v`, left out of balance by one insertion or one removal below
    // it, back within the 3:1 weight ratio.  Counting a subtree of s nodes as
    // s + 1: when the heavier child's inner subtree (the one nearer v's key)
    // weighs less than twice its outer one, one rotation lifts the heavier
    // child; otherwise that inner subtree's root is lifted by two.  These two
    // ratios (3 and 2) are the one pair of whole numbers for which a single
    // or double rotation is proven to restore the balance of every node it
    // touches after any one insertion or removal, so no subtree ever needs
    // rebuilding and an update costs O(log n) at worst.
    void restoreBalance(cTreeItem* v) {
        bool greaterSide = weightOf(v->greater) > weightOf(v->lesser);
        cTreeItem* h = greaterSide ? v->greater : v->lesser;
        unsigned long long inner = weightOf(greaterSide ? h->lesser : h->greater);
        unsigned long long outer = weightOf(greaterSide ? h->greater : h->lesser);
        if (inner + 1 >= 2 * (outer + 1)) rotate(h, !greaterSide);
        rotate(v, greaterSide);
    }

    // Lifts n's child on the greater side (or the lesser side) above n, into
    // n's place under n's parent or as the root; their flags are cleared as
    // the insertion rule's own rotation clears them.
    void rotate(cTreeItem* n, bool greaterSide) {
        cTreeItem* c = greaterSide ? n->greater : n->lesser;
        cTreeItem* b = greaterSide ? c->lesser : c->greater;  // changes hands
        if (greaterSide) {
            n->greater = b;
            c->lesser = n;
        } else {
            n->lesser = b;
            c->greater = n;
        }
        if (b) b->parent = n;
        replaceChild(n, c);
        n->parent = c;
        c->weight = n->weight;
        n->weight = static_cast<unsigned int>(weightOf(n->lesser) + weightOf(n->greater) + 1);
        c->flag = 0;
        n->flag = 0;
    }

    // Relinks the subtree of `top` into a perfectly balanced tree of the same
    // nodes in the same place: no node moves and nothing is allocated.
    void rebuildSubtree(cTreeItem* top) {
        forgetEdge();
        const unsigned int m = top->weight;
        cTreeItem* parent = top->parent;
        bool wasLesser = parent && parent->lesser == top;

        // Thread the nodes in key order through their lesser links: a node's
        // lesser link is never read again once the walk has passed it.
        cTreeItem* head = leftmost(top);
        cTreeItem* end = rightmost(top);
        for (cTreeItem* n = head; n != end;) {
            cTreeItem* nx = next(n);
            n->lesser = nx;
            n = nx;
        }

        // Build with an explicit stack: a subtree of k nodes takes its lesser
        // (k - 1) / 2 nodes from the list, then its root, then the rest.
        struct sFrame {
            unsigned int size;
            cTreeItem* node;  // null until the lesser half is built
        };
        sFrame stack[72];
        int sp = 0;
        stack[sp++] = {m, nullptr};
        cTreeItem* cursor = head;
        cTreeItem* built = nullptr;
        bool returning = false;
        while (sp > 0) {
            sFrame& f = stack[sp - 1];
            if (!returning) {
                if (f.size == 0) {
                    built = nullptr;
                    --sp;
                    returning = true;
                } else {
                    stack[sp++] = {(f.size - 1) / 2, nullptr};
                }
                continue;
            }
            if (!f.node) {
                cTreeItem* n = cursor;
                cursor = n->lesser;
                n->lesser = built;
                if (built) built->parent = n;
                f.node = n;
                stack[sp++] = {f.size - 1 - (f.size - 1) / 2, nullptr};
                returning = false;
            } else {
                cTreeItem* n = f.node;
                n->greater = built;
                if (built) built->parent = n;
                n->weight = f.size;
                n->flag = 0;
                built = n;
                --sp;
            }
        }
        built->parent = parent;
        if (!parent)
            mRoot = built;
        else if (wasLesser)
            parent->lesser = built;
        else
            parent->greater = built;
        mInsertDepth += m;
        mRebuiltNodes += m;
    }

    // ---- node storage ------------------------------------------------------
    //
    // Nodes come from chunks that grow from 4 nodes up to 1 MiB and are only
    // returned all at once (destroy, or the last entry removed); a removed
    // node's slot goes to a free list for the next insertion.  Under
    // AddressSanitizer free slots are poisoned, so a use of a removed node is
    // still reported.

    struct sChunk {
        sChunk* next;
        std::size_t capacity;
        std::size_t used;
    };
    static constexpr std::size_t kItemAlign = alignof(cTreeItem) > alignof(sChunk) ? alignof(cTreeItem)
                                                                                  : alignof(sChunk);
    static constexpr std::size_t kChunkHeader = (sizeof(sChunk) + kItemAlign - 1) / kItemAlign * kItemAlign;
    static constexpr std::size_t kMaxChunkBytes = std::size_t{1} << 20;
    static constexpr std::size_t kFaultInBytes = std::size_t{256} << 10;
    static constexpr std::size_t kMaxChunkItems =
        sizeof(cTreeItem) >= kMaxChunkBytes ? 1 : kMaxChunkBytes / sizeof(cTreeItem);

    static cTreeItem* slot(sChunk* c, std::size_t i) {
        return reinterpret_cast<cTreeItem*>(reinterpret_cast<unsigned char*>(c) + kChunkHeader +
                                            i * sizeof(cTreeItem));
    }

    void* allocateItem() {
        if (mFree) {
            void* p = mFree;
            QOR_TREE_UNPOISON(p, sizeof(cTreeItem));
            mFree = *static_cast<void**>(p);
            return p;
        }
        if (!mChunks || mChunks->used == mChunks->capacity) {
            std::size_t cap = mNextChunk < 4 ? 4 : mNextChunk;
            if (cap > kMaxChunkItems) cap = kMaxChunkItems;
            const std::size_t bytes = kChunkHeader + cap * sizeof(cTreeItem);
            void* mem = ::operator new(bytes, std::align_val_t(kItemAlign));
            // A large map is about to fill the chunk: its pages come in one call.
            if (bytes >= kFaultInBytes) qor_detail::faultInPages(mem, bytes);
            sChunk* c = static_cast<sChunk*>(mem);
            c->next = mChunks;
            c->capacity = cap;
            c->used = 0;
            QOR_TREE_POISON(slot(c, 0), cap * sizeof(cTreeItem));
            mChunks = c;
            mNextChunk = cap * 2;
        }
        void* p = slot(mChunks, mChunks->used++);
        QOR_TREE_UNPOISON(p, sizeof(cTreeItem));
        return p;
    }

    void pushFree(void* p) {
        *static_cast<void**>(p) = mFree;
        mFree = p;
        QOR_TREE_POISON(p, sizeof(cTreeItem));
    }

    void freeItem(cTreeItem* item) {
        item->~cTreeItem();
        pushFree(item);
    }

    void releaseChunks() {
        while (mChunks) {
            sChunk* c = mChunks;
            mChunks = c->next;
            QOR_TREE_UNPOISON(slot(c, 0), c->capacity * sizeof(cTreeItem));
            ::operator delete(c, std::align_val_t(kItemAlign));
        }
        mFree = nullptr;
        mNextChunk = 0;
        delete mEdge;
        mEdge = nullptr;
    }

    unsigned int mDepthLimit = defaultDepthLimit;
    unsigned int mInsertDepth = 0;
    cTreeItem* mRoot = nullptr;

    sChunk* mChunks = nullptr;      // newest first
    void* mFree = nullptr;          // removed nodes' slots
    std::size_t mNextChunk = 0;     // nodes in the next chunk
    unsigned long long mRebuiltNodes = 0;

    sEdge* mEdge = nullptr;  // the spine sorted insertions extend
};
