// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// qor-fuzz-ci-runs: 84000
// qor-fuzz-ci-args: -use_counters=0 -use_cmp=0
// Loads an installer payload.  An input that begins with the payload's magic
// is taken as a whole payload; any other input is the body of one, deflated
// and digested here into a payload with a true header, so that mutations
// reach the section parser instead of stopping at the inflate or the SHA-256
// check.  A payload that loads must save again, and the saved payload must
// load back with the same lists.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/memio.h"
#include "base/sha.h"
#include "fuzzsupport.h"
#include "pakvane/scenario.h"
#include "zlibref.h"

namespace {

// Header: "QORSOPKG", u8 version, u32 body size, u32 packed size, the
// body's SHA-256; then the packed body.
std::string payloadOf(const uint8_t* body, size_t size) {
    const std::string plain(reinterpret_cast<const char*>(body), size);
    const std::string packed = zlibPack(plain, 1);
    std::uint8_t digest[32];
    SHA2Hash(plain.data(), digest, static_cast<long long>(plain.size()));
    std::string out("QORSOPKG");
    out.push_back(1);
    putLE(out, plain.size(), 4);
    putLE(out, packed.size(), 4);
    out.append(reinterpret_cast<const char*>(digest), 32);
    return out + packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string payload;
    if (size >= 8 && std::memcmp(data, "QORSOPKG", 8) == 0) {
        payload.assign(reinterpret_cast<const char*>(data), size);
    } else {
        if (size == 0) return 0;
        payload = payloadOf(data, size);
    }
    cBufWrapperIO in(&payload[0], static_cast<long long>(payload.size()), false);
    cSoftPkgScenario s;
    if (!s.loadBinConfig(&in)) return 0;
    cMemIOTarget out;
    FUZZ_CHECK(s.saveBinConfig(&out));
    out.set_fp(0);
    cSoftPkgScenario back;
    FUZZ_CHECK(back.loadBinConfig(&out));
    FUZZ_CHECK(back.fileEntries().size() == s.fileEntries().size());
    FUZZ_CHECK(back.defaultTable() == s.defaultTable());
    FUZZ_CHECK(back.package().count() == s.package().count());
    return 0;
}
