// zlibDecodeWhole against zlib's own inflate on the input's bytes or on zlib
// data made from them (damaged, cut, or with bytes after its end): taken at
// the size zlib decodes exactly when zlib reaches the stream's end with no
// input left, with zlib's bytes; never taken one byte larger or smaller.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/zlib
// qor-fuzz-args: -max_len=20000
#include "compression/wholezlib.h"
#include "zlibref.h"

#include <vector>

namespace {

constexpr size_t kLimit = 4u << 20;

// zlib's inflate on the whole of data: the bytes made, whether the stream
// ended, and the input left after it.
std::string reference(const std::string& data, bool& ended, size_t& left) {
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
    inflateEnd(&s);
    return out.substr(0, kLimit - s.avail_out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const sZlibCase c = makeZlibCase(in);
    bool ended = false;
    size_t left = 0;
    const std::string ref = reference(c.source, ended, left);
    const bool whole = ended && left == 0;
    const unsigned char* src = reinterpret_cast<const unsigned char*>(c.source.data());
    std::vector<unsigned char> out(ref.size() + 1);
    FUZZ_CHECK(zlibDecodeWhole(src, c.source.size(), out.data(), ref.size()) == whole);
    if (whole) FUZZ_CHECK(std::string(out.begin(), out.end() - 1) == ref);
    FUZZ_CHECK(!zlibDecodeWhole(src, c.source.size(), out.data(), ref.size() + 1));
    if (!ref.empty()) FUZZ_CHECK(!zlibDecodeWhole(src, c.source.size(), out.data(), ref.size() - 1));
    return 0;
}
