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
}  // namespace

bool cListViewChild::cListViewNameSortProvider::init() {
    reset();
    mKeys.clear();
    mKeys.shrink_to_fit();
    return true;
}

bool cListViewChild::cListViewNameSortProvider::push(sListViewDataItem* item) {
    if (!item || !item->text.get() || kept() >= UINT_MAX) return false;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(item->text.get());
    // Up to 16 bytes of the text: a zero byte ends it, and the zeros after
    // it sort a text before every longer one it begins.
    std::size_t n = 0;
    while (n < 16 && t[n]) ++n;
    sKey k;
    k.hi = packed(t, n);
    k.lo = n > 8 ? packed(t + 8, n - 8) : 0;
    k.push = static_cast<unsigned int>(keep(item));
    mKeys.push_back(k);
    return true;
}

void cListViewChild::cListViewNameSortProvider::order(std::vector<unsigned int>& out) {
    // Equal first 16 bytes with a non-zero 16th: both texts go on, and the
    // rest decides.  A zero there means both ended within the 16 bytes.
    std::stable_sort(mKeys.begin(), mKeys.end(), [this](const sKey& a, const sKey& b) {
        if (a.hi != b.hi) return a.hi < b.hi;
        if (a.lo != b.lo) return a.lo < b.lo;
        if ((a.lo & 0xFF) == 0) return false;
        return std::strcmp(textOf(a.push) + 16, textOf(b.push) + 16) < 0;
    });
    out.resize(mKeys.size());
    for (std::size_t i = 0; i < mKeys.size(); ++i) out[i] = mKeys[i].push;
}

bool cListViewChild::cListViewU64PramSortProvider::init() {
    reset();
    mKeys.clear();
    mKeys.shrink_to_fit();
    return mProc != nullptr;
}

bool cListViewChild::cListViewU64PramSortProvider::push(sListViewDataItem* item) {
    if (!mProc || !item || kept() >= UINT_MAX) return false;
    sKey k;
    k.key = mProc(item);
    k.push = static_cast<unsigned int>(keep(item));
    mKeys.push_back(k);
    return true;
}

void cListViewChild::cListViewU64PramSortProvider::order(std::vector<unsigned int>& out) {
    std::stable_sort(mKeys.begin(), mKeys.end(), [](const sKey& a, const sKey& b) { return a.key < b.key; });
    out.resize(mKeys.size());
    for (std::size_t i = 0; i < mKeys.size(); ++i) out[i] = mKeys[i].push;
}
