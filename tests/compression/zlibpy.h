// Python's zlib as the oracle of the zlib suites: it writes the compressed
// inputs and checks what we compress.
#pragma once

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "oracle.h"

namespace ztest {

const char kZlibScript[] = R"PY(
import sys, zlib
mode, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(src, 'rb').read()
if mode == 'compress':
    level, wbits = int(sys.argv[4]), int(sys.argv[5])
    c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    out = c.compress(data) + c.flush()
elif mode == 'blocks':
    # The parts are separated by lengths given on the command line; each
    # part ends with a sync flush, the last one with the stream's end.
    c = zlib.compressobj(6)
    lens = [int(x) for x in sys.argv[4].split(',')]
    at, pieces = 0, []
    for i, n in enumerate(lens):
        z = c.compress(data[at:at + n])
        z += c.flush() if i == len(lens) - 1 else c.flush(zlib.Z_SYNC_FLUSH)
        pieces.append(z)
        at += n
    out = b''.join(pieces)
    print(' '.join(str(len(p)) for p in pieces))
elif mode == 'decompress':
    out = zlib.decompress(data)
elif mode == 'bytewise':
    # Everything zlib delivers before it reports an error, one input byte
    # at a time.
    d, out = zlib.decompressobj(), b''
    try:
        for i in range(len(data)):
            out += d.decompress(data[i:i + 1])
    except zlib.error:
        pass
open(dst, 'wb').write(out)
)PY";

class ZlibOracle {
public:
    // zlib format by default; wbits -15 gives raw deflate, 31 gzip.
    Bytes compress(const Bytes& plain, int level = 6, int wbits = 15) {
        return run("compress", plain, std::to_string(level) + " " + std::to_string(wbits));
    }
    // One stream in parts that each end on a sync flush; lengths receives the
    // compressed length of each part.
    Bytes compressBlocks(const Bytes& plain, const std::vector<std::size_t>& parts, std::vector<std::size_t>& lengths) {
        std::string arg;
        for (std::size_t p : parts) arg += (arg.empty() ? "" : ",") + std::to_string(p);
        std::string out;
        Bytes z = run("blocks", plain, arg, &out);
        std::istringstream in(out);
        lengths.assign(std::istream_iterator<std::size_t>(in), std::istream_iterator<std::size_t>());
        return z;
    }
    Bytes decompress(const Bytes& z) { return run("decompress", z, ""); }
    Bytes bytewise(const Bytes& z) { return run("bytewise", z, ""); }

private:
    Bytes run(const char* mode, const Bytes& in, const std::string& args, std::string* stdoutText = nullptr) {
        writeFile(dir_.file("in.bin"), in);
        std::string out =
            runPython(kZlibScript, std::string(mode) + " '" + dir_.file("in.bin") + "' '" + dir_.file("out.bin") + "' " + args);
        if (stdoutText) *stdoutText = out;
        return readFile(dir_.file("out.bin"));
    }

    qortest::TempDir dir_;
};

}  // namespace ztest
