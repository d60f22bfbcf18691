// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// qor-fuzz-ci-runs: 40000
// qor-fuzz-ci-args: -use_counters=0 -use_cmp=0
// Checks an installer payload as a stream and holds the verdict to the
// in-memory reader's with every item checked: the same payloads pass, the
// same first item fails, and a payload that passes gives the same items
// and lists.  Through a stream that can tell neither its size nor its
// position, read in pieces, the check comes to the same verdict, with and
// without bytes allowed after the payload.  The input is taken as
// FuzzBinScenario takes it: a whole payload when it begins with the magic,
// else a body made into one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/memio.h"
#include "chunkedstream.h"
#include "fuzzsupport.h"
#include "pakvane/payloadcheck.h"
#include "pakvane/scenario.h"
#include "payloadref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string payload;
    if (!payloadOfInput(data, size, payload)) return 0;
    cBufWrapperIO a(&payload[0], static_cast<long long>(payload.size()), false);
    cBufWrapperIO b(&payload[0], static_cast<long long>(payload.size()), false);
    cSoftPkgScenario streamed, whole;
    sPayloadOptions so, wo;
    so.threads = wo.threads = 1;
    wo.verifyItems = true;
    const bool s = verifyPayloadStream(&a, false, streamed, so);
    const bool w = whole.loadBinConfig(&b, wo);
    FUZZ_CHECK(s == w);
    FUZZ_CHECK(s == !so.fault);
    FUZZ_CHECK((so.fault.cause == sPayloadFault::badItem ? so.fault.item : -1) == wo.badItem);
    const std::vector<unsigned int> pieces = piecesFrom(data[size - 1]);
    for (bool toEnd : {false, true}) {
        cBufWrapperIO told(&payload[0], static_cast<long long>(payload.size()), false);
        cPieceStream untold(payload, pieces);
        cSoftPkgScenario t, u;
        sPayloadOptions to, uo;
        to.threads = uo.threads = 1;
        const bool byTold = toEnd ? verifyPayloadStream(&told, true, t, to) : s;
        const bool byUntold = verifyPayloadStream(&untold, toEnd, u, uo);
        FUZZ_CHECK(byTold == byUntold);
        FUZZ_CHECK(!byTold || s);
    }
    if (!s) return 0;
    cSoftPkg& x = streamed.package();
    cSoftPkg& y = whole.package();
    FUZZ_CHECK(x.count() == y.count());
    for (std::uint32_t i = 0; i < x.count(); ++i) {
        unsigned char dx[32], dy[32];
        FUZZ_CHECK(x.digest(static_cast<int>(i), dx) && y.digest(static_cast<int>(i), dy));
        FUZZ_CHECK(std::memcmp(dx, dy, 32) == 0);
        FUZZ_CHECK(x.sizeOf(static_cast<int>(i)) == y.sizeOf(static_cast<int>(i)));
    }
    FUZZ_CHECK(streamed.fileEntries().size() == whole.fileEntries().size());
    FUZZ_CHECK(streamed.menuEntries().size() == whole.menuEntries().size());
    FUZZ_CHECK(streamed.defaultTable() == whole.defaultTable());
    FUZZ_CHECK(streamed.langTables() == whole.langTables());
    FUZZ_CHECK(streamed.eulaDoc().bytes == whole.eulaDoc().bytes);
    return 0;
}
