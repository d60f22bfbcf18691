#include "compression/wholezlib.h"

#include <libdeflate.h>

#include <memory>

namespace {

struct sFreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor per thread, made on first use: it holds only tables, and
// making one costs more than a small decode.
libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, sFreeDecompressor> d(libdeflate_alloc_decompressor());
    return d.get();
}

}  // namespace

bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes) {
    libdeflate_decompressor* d = threadDecompressor();
    if (!d || (!in && inBytes) || (!out && outBytes)) return false;
    std::size_t used = 0, made = 0;
    // With room for exactly outBytes, a longer stream fails for want of
    // space; a shorter one is caught by comparing what was made.
    const libdeflate_result rc = libdeflate_zlib_decompress_ex(d, in, inBytes, out, outBytes, &used, &made);
    return rc == LIBDEFLATE_SUCCESS && used == inBytes && made == outBytes;
}
