// cZDecompress, cZInflate and cZDeflate against zlib's own one-call inflate
// (the whole-buffer decode may also take, with libdeflate's bytes, the
// encodings compression/wholezlib.h lists):
// the whole-buffer decode, the piece form fed in pieces chosen by the input,
// and the single-step form with small output buffers, on the input's bytes or
// on zlib data made from them (damaged, cut, or with bytes after its end).
// After every piece or step a reset must leave nothing of the caller's input
// behind.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/zlib
// qor-fuzz-args: -max_len=20000
// qor-fuzz-ci-runs: 4500
#include "compression/zstream.h"
#include "zlibref.h"

#include <vector>

namespace {

constexpr size_t kLimit = 4u << 20;

// After reset() a leftovers step has nothing to inflate.
void checkNothingLeft(cZDecompress& z) {
    FUZZ_CHECK(z.reset());
    unsigned char out[64];
    long long inLen = 1, outLen = sizeof out;
    FUZZ_CHECK(z.decompressPart(nullptr, inLen, out, outLen));
    FUZZ_CHECK(inLen == 0 && outLen == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t pieceSel = in.byte();
    const uint8_t outSel = in.byte();
    const sZlibCase c = makeZlibCase(in);
    const std::string& src = c.source;
    bool ended = false;
    std::string message, lenient;
    const std::string ref = zlibReference(src, kLimit, ended, &message);
    // zlib refused it, and libdeflate takes it: the whole-buffer decode may too.
    const bool mayTake = !ended && libdeflateTakesWhatZlibRefused(src, message, kLimit, lenient);
    if (c.made && !c.damaged && c.plain.size() <= kLimit) FUZZ_CHECK(ended && ref == c.plain);

    // Whole buffer.
    cZDecompress z;
    z.setOutputLimit(kLimit);
    _typebuf<unsigned char> whole;
    whole.copyFrom(reinterpret_cast<const unsigned char*>(src.data()), static_cast<long long>(src.size()));
    _typebuf<unsigned char> out;
    const bool ok = z.decompress(whole, out);
    const std::string got(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.count()));
    if (!src.empty() && !(mayTake && ok)) {
        FUZZ_CHECK(ok == ended);
        FUZZ_CHECK(got == ref);
    }
    if (mayTake && ok) FUZZ_CHECK(got == lenient);

    // Pieces, on the member stream; each piece lives only for its call.
    // At most about 2000 pieces: each piece call sets up its own output.
    const size_t piece = std::max<size_t>(1 + pieceSel % 97 * (pieceSel & 0x80 ? 61 : 1), src.size() / 2000);
    std::string joined;
    bool pieceOk = true;
    FUZZ_CHECK(z.reset());
    for (size_t at = 0; at < src.size() && pieceOk; at += piece) {
        std::vector<unsigned char> bytes(src.begin() + static_cast<long>(at),
                                         src.begin() + static_cast<long>(std::min(src.size(), at + piece)));
        _typebuf<unsigned char> part;
        pieceOk = z.decompressPart(bytes.data(), static_cast<long long>(bytes.size()), part);
        joined.append(reinterpret_cast<const char*>(part.data()), static_cast<size_t>(part.count()));
        FUZZ_CHECK(joined.size() <= kLimit);
    }
    FUZZ_CHECK(ref.compare(0, joined.size(), joined) == 0);
    if (ended) FUZZ_CHECK(joined == ref);
    checkNothingLeft(z);

    // Single steps with small output buffers; leftovers continue with in null.
    const long long room = 1 + outSel % 200;
    std::vector<unsigned char> buf(static_cast<size_t>(room));
    std::string stepped;
    FUZZ_CHECK(z.reset());
    for (size_t at = 0; at < src.size();) {
        std::vector<unsigned char> bytes(src.begin() + static_cast<long>(at),
                                         src.begin() + static_cast<long>(std::min(src.size(), at + piece)));
        at += bytes.size();
        long long inLen = static_cast<long long>(bytes.size()), outLen = room;
        bool stepOk = z.decompressPart(bytes.data(), inLen, buf.data(), outLen);
        FUZZ_CHECK(inLen >= 0 && inLen <= static_cast<long long>(bytes.size()) && outLen >= 0 && outLen <= room);
        stepped.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(outLen));
        long long left = static_cast<long long>(bytes.size()) - inLen;
        int idle = 0;
        while (stepOk && left > 0 && stepped.size() <= kLimit && idle < 2) {
            inLen = 0;
            outLen = room;
            stepOk = z.decompressPart(nullptr, inLen, buf.data(), outLen);
            FUZZ_CHECK(inLen <= left);
            left -= inLen;
            stepped.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(outLen));
            idle = inLen == 0 && outLen == 0 ? idle + 1 : 0;
        }
        if (!stepOk || left > 0 || stepped.size() > kLimit) break;
    }
    FUZZ_CHECK(ref.compare(0, std::min(stepped.size(), ref.size()), stepped, 0, std::min(stepped.size(), ref.size())) == 0);
    checkNothingLeft(z);

    // One-block streams.
    cZInflate inflater;
    FUZZ_CHECK(inflater.init());
    std::string block(ref.size() + 16, '\0');
    const unsigned int n = inflater.inflate(src.data(), static_cast<unsigned int>(src.size()), &block[0],
                                            static_cast<unsigned int>(block.size()));
    if (ended && ref.size() < kLimit && !ref.empty()) FUZZ_CHECK(n == ref.size() && block.compare(0, n, ref) == 0);
    if (n > 0 && !(mayTake && lenient.size() == n)) FUZZ_CHECK(ended && block.compare(0, n, ref) == 0);
    if (n > 0 && mayTake && lenient.size() == n) FUZZ_CHECK(block.compare(0, n, lenient) == 0);
    if (c.made && c.plain.size() <= 65536) {
        cZDeflate deflater;
        FUZZ_CHECK(deflater.init(6));
        std::string packed(compressBound(static_cast<uLong>(c.plain.size())), '\0');
        const unsigned int m = deflater.deflate(c.plain.data(), static_cast<unsigned int>(c.plain.size()), &packed[0],
                                                static_cast<unsigned int>(packed.size()));
        FUZZ_CHECK(m > 0);
        packed.resize(m);
        bool back = false;
        FUZZ_CHECK(zlibReference(packed, c.plain.size() + 1, back) == c.plain && back);
    }
    return 0;
}
