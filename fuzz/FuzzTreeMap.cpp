// The tree map driven by a byte program and compared with std::map after
// every step: inserts, removals (by key and by node), lookups, bounds, walks
// in both directions, and the height its weight balance promises.  A depth
// limit from the input makes small limits force whole rebuilds too.
// qor-fuzz-link: base
// qor-fuzz-data: base/treemap
// qor-fuzz-ci-runs: 130000
#include "base/treelist.h"
#include "fuzzsupport.h"

#include <cmath>
#include <map>

namespace {

using tMap = cFasterTreeList<unsigned int, unsigned int>;
using tItem = tMap::cTreeItem;

int heightOf(const tItem* n) {
    if (!n) return 0;
    const int a = heightOf(n->lesser), b = heightOf(n->greater);
    return 1 + (a > b ? a : b);
}

void checkLinks(const tItem* n, const tItem* parent) {
    if (!n) return;
    FUZZ_CHECK(n->parent == parent);
    if (n->lesser) FUZZ_CHECK(n->lesser->key < n->key);
    if (n->greater) FUZZ_CHECK(n->greater->key > n->key);
    checkLinks(n->lesser, n);
    checkLinks(n->greater, n);
}

void compareAll(const tMap& map, const std::map<unsigned int, unsigned int>& model) {
    FUZZ_CHECK(map.count() == model.size());
    FUZZ_CHECK(map.empty() == model.empty());
    auto it = model.begin();
    for (tItem* n = map.first(); n; n = map.next(n), ++it) {
        FUZZ_CHECK(it != model.end());
        FUZZ_CHECK(n->key == it->first && n->value == it->second);
    }
    FUZZ_CHECK(it == model.end());
    auto rit = model.rbegin();
    for (tItem* n = map.last(); n; n = map.prev(n), ++rit) {
        FUZZ_CHECK(rit != model.rend());
        FUZZ_CHECK(n->key == rit->first);
    }
    FUZZ_CHECK(rit == model.rend());
    checkLinks(map.root(), nullptr);
    if (!model.empty()) {
        // Weight balance keeps the height below log(n + 1) / log(4/3) + 1.
        const double bound = std::log(static_cast<double>(model.size()) + 1) / std::log(4.0 / 3.0) + 1;
        FUZZ_CHECK(heightOf(map.root()) <= static_cast<int>(bound) + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t limit = in.byte();
    tMap map(limit < 16 ? 1u + limit : tMap::defaultDepthLimit);
    std::map<unsigned int, unsigned int> model;
    // Keys come from a small range most of the time so that removals and
    // repeated inserts meet existing keys.
    auto key = [&](uint8_t sel) -> unsigned int { return sel & 0x80 ? in.u16() : in.byte() & 0x3F; };
    unsigned int stamp = 0;
    while (in.left() > 0) {
        const uint8_t op = in.byte();
        const unsigned int k = key(op);
        switch (op & 7) {
            case 0:
            case 1:
            case 2: {  // insert; an existing entry keeps its value
                unsigned int* v = map.insert(k);
                FUZZ_CHECK(v != nullptr);
                auto r = model.emplace(k, ++stamp);
                if (r.second) *v = stamp;
                FUZZ_CHECK(*v == r.first->second);
                break;
            }
            case 3:  // remove by key
                FUZZ_CHECK(map.dettach(k) == (model.erase(k) == 1));
                break;
            case 4: {  // remove by node, found through a bound
                tItem* n = map.find_ge(k);
                auto it = model.lower_bound(k);
                FUZZ_CHECK((n == nullptr) == (it == model.end()));
                if (n) {
                    FUZZ_CHECK(n->key == it->first);
                    FUZZ_CHECK(map.dettach(n));
                    model.erase(it);
                }
                break;
            }
            case 5: {  // lookups
                const unsigned int* v = map.find(k);
                auto it = model.find(k);
                FUZZ_CHECK((v == nullptr) == (it == model.end()));
                if (v) FUZZ_CHECK(*v == it->second);
                tItem* le = map.find_le(k);
                auto ub = model.upper_bound(k);
                FUZZ_CHECK((le == nullptr) == (ub == model.begin()));
                if (le) FUZZ_CHECK(le->key == std::prev(ub)->first);
                break;
            }
            case 6:  // a whole rebuild
                map.rebuild_tree();
                break;
            case 7:  // a full comparison mid-way
                compareAll(map, model);
                break;
        }
    }
    compareAll(map, model);
    map.destroy();
    FUZZ_CHECK(map.count() == 0 && map.first() == nullptr);
    return 0;
}
