// The hive reader on arbitrary bytes; whatever it accepts must write back
// to bytes it accepts again.
// qor-fuzz-link: uitoolkit base
// qor-fuzz-ci-runs: 270000
#include "uitoolkit/ciappconfig.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cCIAppConfig::sDataContainer node;
    if (!cCIAppConfig::parseHive(data, size, node)) return 0;
    _typebuf<unsigned char> out;
    if (!cCIAppConfig::serializeHive(node, out)) return 0;
    cCIAppConfig::sDataContainer again;
    if (!cCIAppConfig::parseHive(out.data(), static_cast<size_t>(out.count()), again)) std::abort();
    return 0;
}
