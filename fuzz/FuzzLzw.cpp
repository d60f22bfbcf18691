// The LZW decoder in both its forms (GIF: least significant bit first, any
// starting width; TIFF: most significant bit first, early change) against a
// plain decoder written here that keeps its table as strings: the result,
// the output and where an output limit cuts it must agree, decoded whole
// and streamed through a small window.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/lzw
// qor-fuzz-args: -max_len=20000
// qor-fuzz-ci-runs: 270000
#include "compression/lzw.h"
#include "fuzzsupport.h"

#include <vector>

namespace {

struct sLzwResult {
    bool ok = false;
    std::string out;
};

sLzwResult lzwReference(const std::string& in, bool msbFirst, int codeBits, bool earlyChange, unsigned long long limit) {
    sLzwResult r;
    if (in.empty()) return r;
    const unsigned clear = 1u << (codeBits - 1), end = clear + 1, firstFree = clear + 2;
    std::vector<std::string> table;
    int width = codeBits;
    size_t bitPos = 0;
    const size_t totalBits = in.size() * 8;
    auto bit = [&](size_t k) -> unsigned {
        const unsigned char b = static_cast<unsigned char>(in[k / 8]);
        return msbFirst ? (b >> (7 - k % 8)) & 1 : (b >> (k % 8)) & 1;
    };
    std::string prev;
    bool havePrev = false;
    for (;;) {
        if (bitPos + static_cast<size_t>(width) > totalBits) return r;
        unsigned code = 0;
        for (int k = 0; k < width; ++k) {
            const unsigned b = bit(bitPos + static_cast<size_t>(k));
            code = msbFirst ? code << 1 | b : code | b << k;
        }
        bitPos += static_cast<size_t>(width);
        if (code == end) {
            r.ok = true;
            return r;
        }
        if (code == clear) {
            table.clear();
            width = codeBits;
            havePrev = false;
            continue;
        }
        std::string s;
        if (code < clear) s.assign(1, static_cast<char>(code));
        else if (code >= firstFree && code - firstFree < table.size()) s = table[code - firstFree];
        else if (havePrev && code == firstFree + table.size() && table.size() < 4094) s = prev + prev[0];
        else return r;
        if (!havePrev && code >= clear) return r;
        if (r.out.size() + s.size() > limit) {
            r.out.append(s, 0, static_cast<size_t>(limit - r.out.size()));
            return r;
        }
        r.out += s;
        if (havePrev && table.size() < 4094) {
            table.push_back(prev + s[0]);
            const unsigned next = firstFree + static_cast<unsigned>(table.size()) + (earlyChange ? 1 : 0);
            if ((next & (next - 1)) == 0 && width < 12) ++width;
        }
        prev = s;
        havePrev = true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const uint16_t limitSel = in.u16();
    const std::string codes = in.rest();

    const bool tiff = mode & 1;
    const int bits = tiff ? 9 : 2 + (mode >> 1) % 8;  // GIF: minimum code size 1 to 8, plus one
    // No limit (the chunked output), or a small one (one buffer of that size).
    const unsigned long long limit = mode & 0x80 ? limitSel : kDefaultDecodeOutputLimit;

    cLZWDecompress lzw(tiff, bits, tiff);
    lzw.setOutputLimit(limit);
    FUZZ_CHECK(lzw.clearCode() == 1u << (bits - 1) && lzw.endCode() == lzw.clearCode() + 1);
    _typebuf<unsigned char> input;
    input.copyFrom(reinterpret_cast<const unsigned char*>(codes.data()), static_cast<long long>(codes.size()));
    _typebuf<unsigned char> out;
    const bool ok = lzw.decompress(input, out);
    const std::string got(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.count()));

    const sLzwResult ref = lzwReference(codes, tiff, bits, tiff, limit);
    FUZZ_CHECK(ok == ref.ok);
    if (!codes.empty()) FUZZ_CHECK(got == ref.out);

    // Streamed through the smallest window: the same result and bytes, in
    // pieces no longer than the window.
    struct sCollect {
        std::string bytes;
        unsigned long long largest = 0;
        static bool take(void* self, const unsigned char* b, unsigned long long n) {
            sCollect& c = *static_cast<sCollect*>(self);
            c.bytes.append(reinterpret_cast<const char*>(b), static_cast<size_t>(n));
            if (n > c.largest) c.largest = n;
            return true;
        }
    } streamed;
    const bool streamedOk = lzw.decompressTo(input, &sCollect::take, &streamed, cLZWDecompress::kMinWindow);
    if (!codes.empty()) {
        FUZZ_CHECK(streamedOk == ref.ok);
        FUZZ_CHECK(streamed.bytes == ref.out);
        FUZZ_CHECK(streamed.largest <= cLZWDecompress::kMinWindow);
    }
    return 0;
}
