// The whole-buffer decoders (zlibDecodeWhole, cZDecompress::decompress with
// and without a size, cZInflate::inflate) against zlib on deflate data from
// the input, wrapped in a zlib stream whose Adler-32 is right for what zlib
// or libdeflate decodes from it (or one bit off), perhaps with bytes after
// it.  zlib's verdict, bytes and partial output hold, but where zlib stops
// with one of the messages of the encodings only libdeflate decodes
// (wholezlib.h): those are taken only with libdeflate's bytes.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/zlib
// qor-fuzz-args: -max_len=4096
#include "compression/wholezlib.h"
#include "compression/zstream.h"
#include "zlibref.h"

#include <libdeflate.h>

#include <cstring>
#include <vector>

namespace {

// The cap of one of the decodes; the references have room for everything
// 4 KiB of deflate data can stand for.
constexpr size_t kLimit = 1u << 20;
constexpr size_t kRoom = 8u << 20;

struct sRawResult {
    std::string out;
    bool ended = false;
    size_t used = 0;
    std::string message;
};

// zlib's raw inflate of all of raw at once.
sRawResult zlibRaw(const std::string& raw) {
    sRawResult r;
    z_stream s = z_stream();
    if (inflateInit2(&s, -15) != Z_OK) FUZZ_FAIL("inflateInit2");
    static std::string buf(kRoom, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    s.avail_in = static_cast<uInt>(raw.size());
    s.next_out = reinterpret_cast<Bytef*>(&buf[0]);
    s.avail_out = static_cast<uInt>(buf.size());
    r.ended = inflate(&s, Z_FINISH) == Z_STREAM_END;
    if (s.msg) r.message = s.msg;
    r.used = raw.size() - s.avail_in;
    r.out.assign(buf, 0, buf.size() - s.avail_out);
    inflateEnd(&s);
    return r;
}

sRawResult libdeflateRaw(const std::string& raw) {
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    static std::string buf(kRoom, '\0');
    sRawResult r;
    size_t in = 0, out = 0;
    r.ended = libdeflate_deflate_decompress_ex(d, raw.data(), raw.size(), &buf[0], buf.size(), &in, &out) ==
              LIBDEFLATE_SUCCESS;
    if (r.ended) {
        r.used = in;
        r.out.assign(buf, 0, out);
    }
    return r;
}

std::string bytesOf(const _typebuf<unsigned char>& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.count()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    std::string raw = in.rest();
    const sRawResult z = zlibRaw(raw), ld = libdeflateRaw(raw);
    // The deflate data ends where a decoder found its end; the trailer follows.
    if (z.ended) raw.resize(z.used);
    else if (ld.ended) raw.resize(ld.used);
    const std::string& plain = ld.ended ? ld.out : z.out;
    std::string stream("\x78\x9C", 2);
    stream += raw;
    const uint32_t a = static_cast<uint32_t>(::adler32(1, reinterpret_cast<const Bytef*>(plain.data()),
                                                       static_cast<uInt>(plain.size()))) ^ (mode & 1);
    for (int s = 24; s >= 0; s -= 8) stream.push_back(static_cast<char>(a >> s));
    if (mode & 2) stream.append(1 + mode % 5, static_cast<char>(mode));

    // zlib's verdict on the whole stream, and whether it might differ.
    z_stream s = z_stream();
    if (inflateInit(&s) != Z_OK) FUZZ_FAIL("inflateInit");
    static std::string room(kRoom, '\0');
    s.next_in = reinterpret_cast<Bytef*>(&stream[0]);
    s.avail_in = static_cast<uInt>(stream.size());
    s.next_out = reinterpret_cast<Bytef*>(&room[0]);
    s.avail_out = static_cast<uInt>(room.size());
    const bool ended = inflate(&s, Z_FINISH) == Z_STREAM_END;
    const bool lenient = !ended && s.msg && onlyLibdeflateMightTake(s.msg) && ld.ended && !(mode & 1);
    const bool nothingAfter = s.avail_in == 0;
    const std::string ref = room.substr(0, room.size() - s.avail_out);
    inflateEnd(&s);
    const std::string& taken = lenient ? ld.out : ref;

    const unsigned char* src = reinterpret_cast<const unsigned char*>(stream.data());
    std::vector<unsigned char> out(taken.size() + 1);
    const bool whole = zlibDecodeWhole(src, stream.size(), out.data(), taken.size());
    if (!lenient) FUZZ_CHECK(whole == (ended && nothingAfter));
    if (whole) FUZZ_CHECK(std::memcmp(out.data(), taken.data(), taken.size()) == 0);

    _typebuf<unsigned char> input, got;
    input.copyFrom(src, static_cast<long long>(stream.size()));
    for (unsigned long long limit : {static_cast<unsigned long long>(kLimit), kDefaultDecodeOutputLimit}) {
        cZDecompress d;
        d.setOutputLimit(limit);
        const bool ok = d.decompress(input, got);
        if (!lenient) FUZZ_CHECK(ok == (ended && ref.size() <= limit));
        FUZZ_CHECK(bytesOf(got) == (ok ? taken : ref.substr(0, static_cast<size_t>(limit))));
    }

    cZInflate block;
    FUZZ_CHECK(block.init());
    const unsigned n = block.inflate(src, static_cast<unsigned>(stream.size()), reinterpret_cast<Bytef*>(&room[0]),
                                     static_cast<unsigned>(kLimit));
    if (!lenient) FUZZ_CHECK(n == (ended && ref.size() <= kLimit ? ref.size() : 0));
    if (n) FUZZ_CHECK(n == taken.size() && room.compare(0, n, taken) == 0);
    return 0;
}
