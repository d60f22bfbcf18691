// The list view's two sort providers: keys gathered in push order, then one
// stable sort of an index array of keys.
#include "uitoolkit/listview.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <typeinfo>

namespace {
// The first 8 bytes from p on as a big-endian number, zeros after the end.
unsigned long long packed(const unsigned char* p, std::size_t n) {
    unsigned long long v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (i < n ? p[i] : 0u);
    return v;
}

// Below this many entries a comparison sort is quicker than the counting.
constexpr std::size_t kRadixFrom = 2048;
// A number key as digits of 8 bits: eight cover its 64 bits, and a key
// below 2^20 takes three passes.  A pass writes to as many places at once
// as a digit has values; past 256 the writes stop combining in the caches:
// with the buckets packed together, a million keys below 2^20 sorted in two
// passes of 10-bit digits took a quarter longer than in three of 8 bits (9
// bits: a seventh longer).  With the buckets spaced apart as below the two
// come out about even, and 8-bit digits stay.
// Only the digits in which some key differs from the first take a pass.
// The four lowest digits, which cover the keys of one-word entries, are
// counted while the keys come in, beside their parsing; a higher one during
// the pass before its own: counting there made the passes over a million
// keys a third to two thirds slower.
constexpr int kDigitBits = 8, kNumberDigits = 8, kCountedDigits = 4;
constexpr std::size_t kDigitValues = std::size_t(1) << kDigitBits;
constexpr unsigned long long kDigitMask = kDigitValues - 1;

inline void countDigits(unsigned int* count, unsigned long long key) {
    for (int d = 0; d < kCountedDigits; ++d) ++count[d * kDigitValues + ((key >> (kDigitBits * d)) & kDigitMask)];
}

// A least-significant-digit radix sort of n entries by digits of `bits`
// bits: stable, so equal keys keep their push order.  Entry j is made by
// make(j) as the first pass reads it, so the entries need not be copied
// into place first; the passes go back and forth between a and b (room for
// n entries each, b unused with one pass) and the last one hands each entry
// to sink(place, entry).  The counts of every value of every digit
// (count[d << bits | value], digit 0 the lowest) were taken while the keys
// came in; a digit in which all keys agree costs no pass.
template <typename E, typename M, typename D, typename S>
void radixSort(std::size_t n, M make, E* a, E* b, unsigned int* count, int digits, int bits, D digit, S sink) {
    const std::size_t values = std::size_t(1) << bits;
    int passes[64];
    int np = 0;
    for (int d = 0; d < digits; ++d) {
        unsigned int* c = &count[static_cast<std::size_t>(d) * values];
        if (std::find(c, c + values, n) == c + values) passes[np++] = d;
    }
    if (np == 0) {
        for (std::size_t j = 0; j < n; ++j) sink(j, make(j));
        return;
    }
    E* from = a;
    E* to = b;
    for (int p = 0; p < np; ++p) {
        const int d = passes[p];
        unsigned int* c = &count[static_cast<std::size_t>(d) * values];
        unsigned int at = 0;
        for (std::size_t v = 0; v < values; ++v) {
            unsigned int k = c[v];
            c[v] = at;
            at += k;
        }
        const bool last = p + 1 == np;
        if (p == 0) {
            if (last) {
                for (std::size_t j = 0; j < n; ++j) {
                    const E e = make(j);
                    sink(c[digit(e, d)]++, e);
                }
                return;
            }
            for (std::size_t j = 0; j < n; ++j) {
                const E e = make(j);
                from[c[digit(e, d)]++] = e;
            }
            continue;
        }
        // The last pass hands each entry to its final place straight away.
        if (last) {
            for (std::size_t j = 0; j < n; ++j) sink(c[digit(from[j], d)]++, from[j]);
            return;
        }
        for (std::size_t j = 0; j < n; ++j) to[c[digit(from[j], d)]++] = from[j];
        std::swap(from, to);
    }
}

// Counts the 8 bytes of a key word, as digits first .. first + 7.
inline void countBytes(std::vector<unsigned int>& count, unsigned long long w, int first) {
    unsigned int* c = &count[static_cast<std::size_t>(first) * 256];
    for (int b = 0; b < 8; ++b, c += 256) ++c[(w >> (8 * b)) & 0xFF];
}
}  // namespace

bool cListViewChild::cListViewNameSortProvider::init() {
    reset();
    mKeys.clear();
    mCount.assign(16 * 256, 0);
    return true;
}

bool cListViewChild::cListViewNameSortProvider::push(sListViewDataItem* item) {
    if (!item || !item->text.get() || kept() >= UINT_MAX) return false;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(item->text.get());
    // Up to 16 bytes of the text: a zero byte ends it, and the zeros after
    // it sort a text before every longer one it begins.
    std::size_t n = 0;
    while (n < 16 && t[n]) ++n;
    // Written in place: a key built aside and copied in whole stalls on
    // the copy.
    mKeys.emplace_back();
    sKey& k = mKeys.back();
    k.hi = packed(t, n);
    k.lo = n > 8 ? packed(t + 8, n - 8) : 0;
    k.push = static_cast<unsigned int>(keep(item));
    k.tag = tag();
    if (mCount.empty()) mCount.assign(16 * 256, 0);
    countBytes(mCount, k.lo, 0);
    countBytes(mCount, k.hi, 8);
    return true;
}

void cListViewChild::cListViewNameSortProvider::reserveKeys(std::size_t n) { mKeys.reserve(n); }

void cListViewChild::cListViewNameSortProvider::order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) {
    // Equal first 16 bytes with a non-zero 16th: both texts go on, and the
    // rest decides.  A zero there means both ended within the 16 bytes.
    auto tail = [this](const sKey& a, const sKey& b) {
        return std::strcmp(textOf(a.push) + 16, textOf(b.push) + 16) < 0;
    };
    if (mKeys.size() < kRadixFrom) {
        std::stable_sort(mKeys.begin(), mKeys.end(), [&](const sKey& a, const sKey& b) {
            if (a.hi != b.hi) return a.hi < b.hi;
            if (a.lo != b.lo) return a.lo < b.lo;
            return (a.lo & 0xFF) != 0 && tail(a, b);
        });
    } else {
        // The keys themselves end sorted: the runs below need them.
        // On a copy of the counts: more keys may be pushed after the sort,
        // and sorted again.
        const std::size_t n = mKeys.size();
        std::vector<unsigned int> count(mCount);
        std::vector<sKey> sorted(n);
        radixSort(
            n, [this](std::size_t j) { return mKeys[j]; }, mSpare[0].get(n), mSpare[1].get(n), count.data(), 16, 8,
            [](const sKey& k, int d) {
                return static_cast<unsigned int>(((d < 8 ? k.lo : k.hi) >> (8 * (d & 7))) & 0xFF);
            },
            [&](std::size_t at, const sKey& k) { sorted[at] = k; });
        mKeys.swap(sorted);
        // Runs that agree on 16 bytes and go on are ordered by the rest.
        for (std::size_t i = 0; i < mKeys.size();) {
            std::size_t j = i + 1;
            while (j < mKeys.size() && mKeys[j].hi == mKeys[i].hi && mKeys[j].lo == mKeys[i].lo) ++j;
            if (j - i > 1 && (mKeys[i].lo & 0xFF) != 0) std::stable_sort(mKeys.begin() + i, mKeys.begin() + j, tail);
            i = j;
        }
    }
    out.resize(mKeys.size());
    tags.resize(mKeys.size());
    for (std::size_t i = 0; i < mKeys.size(); ++i) {
        out[i] = mKeys[i].push;
        tags[i] = mKeys[i].tag;
    }
}

namespace {
// Where the buckets of a pass begin.  A pass writes to every bucket at
// once; when the keys come in an order that feeds the buckets in step (a
// dense range of numbers does) and the buckets begin at the same place
// within their pages (a dense range gives them sizes of powers of two), all
// the writes of a moment fall into the same few cache sets, and each one
// evicts the line another bucket is filling: over a million keys below 2^20
// a pass took up to four times as long.  In the scratch arrays each bucket
// is therefore put one line and one entry after the end of the one before.
template <typename E>
constexpr std::size_t gapOf() {
    return 64 / sizeof(E) + 1;
}
template <typename E>
constexpr std::size_t roomFor(std::size_t n) {
    return n + kDigitValues * gapOf<E>();
}
// Gaps keep the places below UINT_MAX: past that the buckets lie end to end.
template <typename E>
std::size_t gapFor(std::size_t n) {
    return roomFor<E>(n) <= UINT_MAX ? gapOf<E>() : 0;
}

// Writes an entry to place k of a bucket, and asks for the line two lines
// on with intent to write.  A pass writes to 256 buckets in turn, each a
// line at a time: without the request each new line stalls the store that
// reaches it while it is read in for ownership, one after the other; with
// it the reads overlap.  On a Xeon (family 6 model 207, one core's share of
// the memory bandwidth far below a desktop's) this took the three passes
// over a million keys below 2^20 from about 16.5 to 7 ms, by their share of
// a profile beside the parsing of the keys.  There, with the requests,
// three passes of 8-bit digits were also a little quicker than two of 11
// bits; without them two of 11 bits had been the quicker (11.5 ms).  The
// address is only computed as a number: the line past a bucket's end may
// lie past the array's, and a prefetch never faults.
template <typename E>
inline void put(E* to, unsigned int k, const E& e) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(to + k) + 128), 1);
    to[k] = e;
}

// Turns the counts of a digit's values into the places where their buckets
// begin, `gap` entries apart, in at and first.
inline void placeBuckets(const unsigned int* count, unsigned int* at, unsigned int* first, std::size_t gap) {
    std::size_t place = 0;
    for (std::size_t v = 0; v < kDigitValues; ++v) {
        at[v] = first[v] = static_cast<unsigned int>(place);
        place += count[v] + gap;
    }
}

// True when more than eight buckets of at least a line each begin at the
// same line of a page of `out`: the final pass, which writes to the caller's
// dense array, then goes through a spread-out one.
inline bool crowded(const unsigned int* out, const unsigned int* first, const unsigned int* count) {
    unsigned char atLine[64] = {};
    for (std::size_t v = 0; v < kDigitValues; ++v) {
        if (count[v] < 16) continue;
        const std::uintptr_t line = (reinterpret_cast<std::uintptr_t>(out + first[v]) >> 6) & 63;
        if (++atLine[line] > 8) return true;
    }
    return false;
}

// The number sort's passes: a least-significant-digit radix sort of n
// entries, stable, by the digits named in `passes` only.  Entry j is made by
// make(j) as the first pass reads it; the passes go back and forth between
// a and b (room for roomFor<E>(n) each) and the last one writes which(entry)
// of each entry to its place in out (n of them), or, when out's buckets are
// crowded, to stage(room) (room for roomFor<unsigned int>(n)) and from there
// bucket by bucket into out.  The counts of the digits below kCountedDigits
// were taken with the keys (counted[d * values + value]); a higher digit's
// are taken during the pass before its own, or before the first pass.
template <typename E, typename M, typename G, typename D, typename W>
void numberSort(std::size_t n, M make, E* a, E* b, G stage, const unsigned int* counted, const int* passes,
                int np, D digit, W which, unsigned int* out) {
    if (np == 0) {
        for (std::size_t j = 0; j < n; ++j) out[j] = which(make(j));
        return;
    }
    // The counts of the digit of this pass, and of the next one's while
    // this pass counts them.
    unsigned int cur[kDigitValues], nxt[kDigitValues];
    auto countsOf = [&](int d) {
        if (d < kCountedDigits) {
            std::copy(counted + d * kDigitValues, counted + (d + 1) * kDigitValues, cur);
            return true;
        }
        return false;
    };
    if (!countsOf(passes[0])) {
        std::fill(cur, cur + kDigitValues, 0u);
        for (std::size_t j = 0; j < n; ++j) ++cur[digit(make(j), passes[0])];
    }
    const std::size_t gap = gapFor<E>(n);
    // The buckets of the pass before, each from its first place up to the
    // place after its last entry, and of this one, each from its first place
    // up to where its next entry goes.
    unsigned int before[kDigitValues], ends[kDigitValues], first[kDigitValues], at[kDigitValues];
    E* from = a;
    E* to = b;
    for (int p = 0; p < np; ++p) {
        const int d = passes[p];
        // Every entry of the pass, in order.
        auto each = [&](auto f) {
            if (p == 0) {
                for (std::size_t j = 0; j < n; ++j) f(make(j));
            } else {
                for (std::size_t v = 0; v < kDigitValues; ++v)
                    for (unsigned int j = before[v]; j < ends[v]; ++j) f(from[j]);
            }
        };
        if (p + 1 == np) {
            placeBuckets(cur, at, first, 0);
            if (!crowded(out, first, cur)) {
                each([&](const E& e) { put(out, at[digit(e, d)]++, which(e)); });
                return;
            }
            unsigned int* spread = stage(roomFor<unsigned int>(n));
            placeBuckets(cur, at, first, gapFor<unsigned int>(n));
            each([&](const E& e) { put(spread, at[digit(e, d)]++, which(e)); });
            std::size_t k = 0;
            for (std::size_t v = 0; v < kDigitValues; ++v) {
                std::copy(spread + first[v], spread + at[v], out + k);
                k += at[v] - first[v];
            }
            return;
        }
        const int dn = passes[p + 1];
        placeBuckets(cur, at, first, gap);
        if (dn < kCountedDigits) {
            each([&](const E& e) { put(to, at[digit(e, d)]++, e); });
            countsOf(dn);
        } else {
            std::fill(nxt, nxt + kDigitValues, 0u);
            each([&](const E& e) {
                put(to, at[digit(e, d)]++, e);
                ++nxt[digit(e, dn)];
            });
            std::copy(nxt, nxt + kDigitValues, cur);
        }
        std::copy(first, first + kDigitValues, before);
        std::copy(at, at + kDigitValues, ends);
        std::swap(from, to);
    }
}
}  // namespace

bool cListViewChild::cListViewU64PramSortProvider::init() {
    reset();
    mKeys.clear();
    mKeyTags.clear();
    mCount.assign(kCountedDigits * kDigitValues, 0);
    mDiff = 0;
    return mProc != nullptr;
}

bool cListViewChild::cListViewU64PramSortProvider::push(sListViewDataItem* item) {
    if (!mProc || !item || kept() >= UINT_MAX) return false;
    const unsigned long long key = mProc(item);
    // A key's push number is its index: every push keeps one.
    keep(item);
    if (mKeys.empty()) mFirst = key;
    mKeys.push_back(key);
    mKeyTags.push_back(tag());
    if (mCount.empty()) mCount.assign(kCountedDigits * kDigitValues, 0);
    mDiff |= key ^ mFirst;
    countDigits(mCount.data(), key);
    return true;
}

// The same as push() cell by cell, without a call per cell.  A provider
// derived from this one may push otherwise: it is handed one cell at a time.
std::size_t cListViewChild::cListViewU64PramSortProvider::pushRun(sListViewDataItem* const* items,
                                                                   const unsigned int* tags, std::size_t n) {
    if (typeid(*this) != typeid(cListViewU64PramSortProvider) || !mProc || n == 0 || n >= UINT_MAX - kept())
        return cListViewIndexedSorter::pushRun(items, tags, n);
    std::size_t took = 0;
    while (took < n && items[took]) ++took;
    if (took == 0) return 0;
    const std::size_t at = mKeys.size();
    mKeys.resize(at + took);
    mKeyTags.insert(mKeyTags.end(), tags, tags + took);
    unsigned long long* keys = mKeys.data() + at;
    if (mCount.empty()) mCount.assign(kCountedDigits * kDigitValues, 0);
    unsigned int* count = mCount.data();
    if (at == 0) mFirst = mProc(items[0]);
    const unsigned long long first = mFirst;
    unsigned long long diff = mDiff;
    for (std::size_t i = 0; i < took; ++i) {
        const unsigned long long key = i == 0 && at == 0 ? first : mProc(items[i]);
        keys[i] = key;
        diff |= key ^ first;
        countDigits(count, key);
    }
    mDiff = diff;
    keepRun(items, took);
    setTag(tags[took - 1]);
    return took;
}

void cListViewChild::cListViewU64PramSortProvider::reserveKeys(std::size_t n) {
    mKeys.reserve(n);
    mKeyTags.reserve(n);
}

void cListViewChild::cListViewU64PramSortProvider::order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) {
    const std::size_t n = mKeys.size();
    if (n < kRadixFrom) {
        std::vector<unsigned int> by(n);
        for (std::size_t i = 0; i < n; ++i) by[i] = static_cast<unsigned int>(i);
        std::stable_sort(by.begin(), by.end(), [this](unsigned int a, unsigned int b) { return mKeys[a] < mKeys[b]; });
        out.resize(n);
        tags.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = by[i];
            tags[i] = mKeyTags[by[i]];
        }
        return;
    }
    int passes[kNumberDigits];
    int np = 0;
    for (int d = 0; d < kNumberDigits; ++d)
        if ((mDiff >> (kDigitBits * d)) & kDigitMask) passes[np++] = d;
    // The counts are only read: more keys may be pushed after the sort, and
    // sorted again.
    if (mCount.size() < kCountedDigits * kDigitValues) mCount.assign(kCountedDigits * kDigitValues, 0);
    const unsigned int* count = mCount.data();
    // Read through its tags only, the run needs no push numbers: the
    // entries then carry their tags.
    const bool pushes = !walkless();
    out.resize(pushes ? n : 0);
    tags.resize(n);
    const unsigned long long* keys = mKeys.data();
    const unsigned int* keyTags = mKeyTags.data();
    unsigned int* const placed = pushes ? out.data() : tags.data();
    auto stage = [this](std::size_t room) { return mStage.get(room); };
    if (!(mDiff >> 32)) {
        // The keys agree above their low 32 bits: an entry is those bits
        // over a push number or tag in one word, half the bytes to move.
        // The digits are taken of the whole key, the high bits put back.
        mWide[0].release();
        mWide[1].release();
        const unsigned long long high = mFirst & ~0xFFFFFFFFULL;
        auto digit = [high](unsigned long long e, int d) {
            return static_cast<unsigned int>(((high | (e >> 32)) >> (kDigitBits * d)) & kDigitMask);
        };
        auto which = [](unsigned long long e) { return static_cast<unsigned int>(e); };
        unsigned long long* a = mNarrow[0].get(roomFor<unsigned long long>(n));
        unsigned long long* b = mNarrow[1].get(roomFor<unsigned long long>(n));
        if (pushes) {
            numberSort(
                n, [keys](std::size_t j) { return keys[j] << 32 | j; }, a, b, stage, count, passes, np, digit, which,
                placed);
        } else {
            numberSort(
                n, [keys, keyTags](std::size_t j) { return keys[j] << 32 | keyTags[j]; }, a, b, stage, count, passes,
                np, digit, which, placed);
        }
    } else {
        mNarrow[0].release();
        mNarrow[1].release();
        auto digit = [](const sWide& e, int d) {
            return static_cast<unsigned int>((e.key >> (kDigitBits * d)) & kDigitMask);
        };
        auto which = [](const sWide& e) { return e.which; };
        sWide* a = mWide[0].get(roomFor<sWide>(n));
        sWide* b = mWide[1].get(roomFor<sWide>(n));
        if (pushes) {
            numberSort(
                n, [keys](std::size_t j) { return sWide{keys[j], static_cast<unsigned int>(j)}; }, a, b, stage, count,
                passes, np, digit, which, placed);
        } else {
            numberSort(
                n, [keys, keyTags](std::size_t j) { return sWide{keys[j], keyTags[j]}; }, a, b, stage, count, passes,
                np, digit, which, placed);
        }
    }
    // The tags of the pushes in order, read along them.
    if (pushes)
        for (std::size_t i = 0; i < n; ++i) tags[i] = keyTags[placed[i]];
}
