// zlibDecodeWhole against zlib's own inflate on the input's bytes or on zlib
// data made from them (damaged, cut, or with bytes after its end): taken at
// the size zlib decodes exactly when zlib reaches the stream's end with no
// input left, with zlib's bytes; never taken one byte larger or smaller.
// But for the encodings compression/wholezlib.h lists, which libdeflate
// takes and zlib refuses: those may be taken with libdeflate's bytes.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/zlib
// qor-fuzz-args: -max_len=20000
#include "compression/wholezlib.h"
#include "zlibref.h"

#include <cstring>
#include <vector>

namespace {

constexpr size_t kLimit = 4u << 20;

// zlib's inflate on the whole of data: the bytes made, whether the stream
// ended, and the input left after it.
std::string reference(const std::string& data, bool& ended, size_t& left, std::string& message) {
    z_stream s = z_stream();
    ended = false;
    left = data.size();
    if (inflateInit(&s) != Z_OK) return std::string();
    static std::string out;  // one buffer for every run: zeroing 4 MiB each time would be most of the work
    out.resize(kLimit);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    ended = inflate(&s, Z_FINISH) == Z_STREAM_END;
    left = s.avail_in;
    message = s.msg ? s.msg : "";
    inflateEnd(&s);
    return out.substr(0, kLimit - s.avail_out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const sZlibCase c = makeZlibCase(in);
    bool ended = false;
    size_t left = 0;
    std::string message, lenient;
    const std::string ref = reference(c.source, ended, left, message);
    const bool whole = ended && left == 0;
    // zlib refused it and libdeflate takes it: taken at libdeflate's size.
    const bool mayTake = !ended && libdeflateTakesWhatZlibRefused(c.source, message, kLimit, lenient);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(c.source.data());
    std::vector<unsigned char> out(std::max(ref.size(), lenient.size()) + 1);
    auto check = [&](size_t n, bool expect) {
        const bool got = zlibDecodeWhole(src, c.source.size(), out.data(), n);
        if (got && mayTake && n == lenient.size()) {
            FUZZ_CHECK(std::memcmp(out.data(), lenient.data(), n) == 0);
            return;
        }
        FUZZ_CHECK(got == expect);
        if (got) FUZZ_CHECK(std::memcmp(out.data(), ref.data(), n) == 0);
    };
    check(ref.size(), whole);
    check(ref.size() + 1, false);
    if (!ref.empty()) check(ref.size() - 1, false);
    return 0;
}
