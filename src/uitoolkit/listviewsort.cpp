// The list view's two sort providers: keys gathered in push order, then one
// stable sort of an index array of keys.
#include "uitoolkit/listview.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
// The first 8 bytes from p on as a big-endian number, zeros after the end.
unsigned long long packed(const unsigned char* p, std::size_t n) {
    unsigned long long v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (i < n ? p[i] : 0u);
    return v;
}

// Below this many entries a comparison sort is quicker than the counting.
constexpr std::size_t kRadixFrom = 2048;
// A number key as digits of 11 bits: six cover its 64 bits, and a key
// below 2^22 takes two passes.  The lower three (33 bits: sizes up to 8 GiB)
// are counted while the keys come in, the others only when some key
// differs from the first in them.
constexpr int kNumberDigits = 6, kCountedDigits = 3;

// A least-significant-digit radix sort by digits of `bits` bits: stable, so
// equal keys keep their push order.  The counts of every value of every
// digit (count[d << bits | value], digit 0 the lowest) were taken while the
// keys came in; a digit in which all keys agree costs no pass.
template <typename E, typename D, typename S>
void radixSort(std::vector<E>& v, std::vector<E>& other, std::vector<unsigned int>& count, int digits, int bits,
               D digit, S sink) {
    const std::size_t n = v.size(), values = std::size_t(1) << bits;
    std::vector<int> passes;
    for (int d = 0; d < digits; ++d) {
        unsigned int* c = &count[static_cast<std::size_t>(d) * values];
        if (std::find(c, c + values, n) == c + values) passes.push_back(d);
    }
    other.resize(n);
    E* from = v.data();
    E* to = other.data();
    for (std::size_t p = 0; p < passes.size(); ++p) {
        const int d = passes[p];
        unsigned int* c = &count[static_cast<std::size_t>(d) * values];
        unsigned int at = 0;
        for (std::size_t b = 0; b < values; ++b) {
            unsigned int k = c[b];
            c[b] = at;
            at += k;
        }
        // The last pass hands each entry to its final place straight away.
        if (p + 1 == passes.size()) {
            for (std::size_t j = 0; j < n; ++j) sink(c[digit(from[j], d)]++, from[j]);
            other.clear();
            return;
        }
        for (std::size_t j = 0; j < n; ++j) to[c[digit(from[j], d)]++] = from[j];
        std::swap(from, to);
    }
    for (std::size_t j = 0; j < n; ++j) sink(j, from[j]);
    other.clear();
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
        std::vector<sKey> sorted(mKeys.size());
        radixSort(
            mKeys, mSpare, mCount, 16, 8,
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

bool cListViewChild::cListViewU64PramSortProvider::init() {
    reset();
    mKeys.clear();
    mCount.assign(kNumberDigits << 11, 0);
    mDiff = 0;
    return mProc != nullptr;
}

bool cListViewChild::cListViewU64PramSortProvider::push(sListViewDataItem* item) {
    if (!mProc || !item || kept() >= UINT_MAX) return false;
    const unsigned long long key = mProc(item);
    mKeys.emplace_back();
    sKey& k = mKeys.back();
    k.key = key;
    k.push = static_cast<unsigned int>(keep(item));
    k.tag = tag();
    if (mCount.empty()) mCount.assign(kNumberDigits << 11, 0);
    mDiff |= key ^ mKeys.front().key;
    unsigned int* c = mCount.data();
    for (int d = 0; d < kCountedDigits; ++d, c += 2048) ++c[(key >> (11 * d)) & 0x7FF];
    return true;
}

void cListViewChild::cListViewU64PramSortProvider::reserveKeys(std::size_t n) { mKeys.reserve(n); }

void cListViewChild::cListViewU64PramSortProvider::order(std::vector<unsigned int>& out, std::vector<unsigned int>& tags) {
    if (mKeys.size() < kRadixFrom) {
        std::stable_sort(mKeys.begin(), mKeys.end(), [](const sKey& a, const sKey& b) { return a.key < b.key; });
    } else {
        // Read through its tags only, the run needs no push numbers.
        const bool pushes = !walkless();
        out.resize(pushes ? mKeys.size() : 0);
        tags.resize(mKeys.size());
        int digits = kCountedDigits;
        if (mDiff >> (11 * kCountedDigits)) {
            digits = kNumberDigits;
            for (const sKey& k : mKeys) {
                unsigned int* c = &mCount[static_cast<std::size_t>(kCountedDigits) << 11];
                for (int d = kCountedDigits; d < kNumberDigits; ++d, c += 2048) ++c[(k.key >> (11 * d)) & 0x7FF];
            }
        }
        radixSort(
            mKeys, mSpare, mCount, digits, 11,
            [](const sKey& k, int d) { return static_cast<unsigned int>((k.key >> (11 * d)) & 0x7FF); },
            [&](std::size_t at, const sKey& k) {
                if (pushes) out[at] = k.push;
                tags[at] = k.tag;
            });
        return;
    }
    out.resize(mKeys.size());
    tags.resize(mKeys.size());
    for (std::size_t i = 0; i < mKeys.size(); ++i) {
        out[i] = mKeys[i].push;
        tags[i] = mKeys[i].tag;
    }
}
