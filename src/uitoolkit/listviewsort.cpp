// The list view's two sort providers: keys gathered in push order, then one
// stable sort of an index array of keys.
#include "uitoolkit/listview.h"

#include <algorithm>
#include <climits>
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
// as a digit has values; past 256 the writes stop combining in the caches,
// and a million keys below 2^20 sorted in two passes of 10-bit digits took
// a quarter longer than in three of 8 bits (9 bits: a seventh longer).
// Only the digits in which some key differs from the first take a pass.  The lowest digit is counted while the keys come in, each
// other one during the pass before its own.
constexpr int kDigitBits = 8, kNumberDigits = 8;
constexpr std::size_t kDigitValues = std::size_t(1) << kDigitBits;
constexpr unsigned long long kDigitMask = kDigitValues - 1;

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
// The number sort's passes: like radixSort, but only the digits named in
// `passes` take one, and their counts are not all taken with the keys.  The
// lowest digit's were (count[0 .. values)); any other one's are taken
// during the pass before its own, or before the first pass.  A digit in
// which all keys agree is then counted at most with the keys.  count has
// room for two digits' counts.
template <typename E, typename M, typename D, typename S>
void numberSort(std::size_t n, M make, E* a, E* b, unsigned int* count, const int* passes, int np, D digit,
                S sink) {
    if (np == 0) {
        for (std::size_t j = 0; j < n; ++j) sink(j, make(j));
        return;
    }
    unsigned int* const spare = count + kDigitValues;
    unsigned int* cur = count;
    if (passes[0] != 0) {
        cur = spare;
        std::fill(cur, cur + kDigitValues, 0u);
        for (std::size_t j = 0; j < n; ++j) ++cur[digit(make(j), passes[0])];
    }
    E* from = a;
    E* to = b;
    for (int p = 0; p < np; ++p) {
        const int d = passes[p];
        unsigned int at = 0;
        for (std::size_t v = 0; v < kDigitValues; ++v) {
            const unsigned int k = cur[v];
            cur[v] = at;
            at += k;
        }
        if (p + 1 == np) {
            // The last pass hands each entry to its final place straight away.
            if (p == 0) {
                for (std::size_t j = 0; j < n; ++j) {
                    const E e = make(j);
                    sink(cur[digit(e, d)]++, e);
                }
            } else {
                for (std::size_t j = 0; j < n; ++j) sink(cur[digit(from[j], d)]++, from[j]);
            }
            return;
        }
        const int dn = passes[p + 1];
        unsigned int* nxt = cur == spare ? count : spare;
        std::fill(nxt, nxt + kDigitValues, 0u);
        if (p == 0) {
            for (std::size_t j = 0; j < n; ++j) {
                const E e = make(j);
                from[cur[digit(e, d)]++] = e;
                ++nxt[digit(e, dn)];
            }
        } else {
            for (std::size_t j = 0; j < n; ++j) {
                to[cur[digit(from[j], d)]++] = from[j];
                ++nxt[digit(from[j], dn)];
            }
            std::swap(from, to);
        }
        cur = nxt;
    }
}
}  // namespace

bool cListViewChild::cListViewU64PramSortProvider::init() {
    reset();
    mKeys.clear();
    mKeyTags.clear();
    mCount.assign(kDigitValues, 0);
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
    if (mCount.empty()) mCount.assign(kDigitValues, 0);
    mDiff |= key ^ mFirst;
    ++mCount[key & kDigitMask];
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
    if (mCount.empty()) mCount.assign(kDigitValues, 0);
    unsigned int* count = mCount.data();
    if (at == 0) mFirst = mProc(items[0]);
    const unsigned long long first = mFirst;
    unsigned long long diff = mDiff;
    for (std::size_t i = 0; i < took; ++i) {
        const unsigned long long key = i == 0 && at == 0 ? first : mProc(items[i]);
        keys[i] = key;
        diff |= key ^ first;
        ++count[key & kDigitMask];
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
    // The sort works on a copy of the counts: more keys may be pushed after
    // it, and sorted again.
    if (mCount.size() < kDigitValues) mCount.assign(kDigitValues, 0);
    unsigned int count[2 * kDigitValues];
    std::copy(mCount.begin(), mCount.begin() + kDigitValues, count);
    // Read through its tags only, the run needs no push numbers: the
    // entries then carry their tags.
    const bool pushes = !walkless();
    out.resize(pushes ? n : 0);
    tags.resize(n);
    const unsigned long long* keys = mKeys.data();
    const unsigned int* keyTags = mKeyTags.data();
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
        unsigned long long* a = mNarrow[0].get(n);
        unsigned long long* b = mNarrow[1].get(n);
        if (pushes) {
            numberSort(
                n, [keys](std::size_t j) { return keys[j] << 32 | j; }, a, b, count, passes, np, digit,
                [&](std::size_t at, unsigned long long e) {
                    const unsigned int push = static_cast<unsigned int>(e);
                    out[at] = push;
                    tags[at] = keyTags[push];
                });
        } else {
            numberSort(
                n, [keys, keyTags](std::size_t j) { return keys[j] << 32 | keyTags[j]; }, a, b, count, passes, np,
                digit, [&](std::size_t at, unsigned long long e) { tags[at] = static_cast<unsigned int>(e); });
        }
        return;
    }
    mNarrow[0].release();
    mNarrow[1].release();
    auto digit = [](const sWide& e, int d) {
        return static_cast<unsigned int>((e.key >> (kDigitBits * d)) & kDigitMask);
    };
    sWide* a = mWide[0].get(n);
    sWide* b = mWide[1].get(n);
    if (pushes) {
        numberSort(
            n, [keys](std::size_t j) { return sWide{keys[j], static_cast<unsigned int>(j)}; }, a, b, count, passes,
            np, digit, [&](std::size_t at, const sWide& e) {
                out[at] = e.which;
                tags[at] = keyTags[e.which];
            });
    } else {
        numberSort(
            n, [keys, keyTags](std::size_t j) { return sWide{keys[j], keyTags[j]}; }, a, b, count, passes, np,
            digit, [&](std::size_t at, const sWide& e) { tags[at] = e.which; });
    }
}
