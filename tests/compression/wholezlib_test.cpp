// Whole zlib streams of known size: every crafted stream is taken exactly
// when Python's zlib decodes it to its end, with nothing after it, to the
// size asked, and then gives Python's bytes.
#include "compression/wholezlib.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

// Writes each case to argv[1]/<name> and prints "name size ok": the size to
// ask for and 1 when zlib takes the stream at that size.  The plain bytes of
// a taken case are in <name>.plain.
const char kCases[] = R"PY(
import os, struct, sys, zlib
out = sys.argv[1]
text = b''.join(b'qor %d package ' % (i * 7919 % 1000) for i in range(20000))
noise = bytes((i * 2654435761 >> 13) & 255 for i in range(70000))
z9, zn = zlib.compress(text, 9), zlib.compress(noise, 0)
def raw(data, level=6, wbits=-15):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    return c.compress(data) + c.flush()
def wrap(cmf, flg, body, plain):
    return bytes([cmf, flg]) + body + struct.pack('>I', zlib.adler32(plain))
def head(cinfo, fdict=0, level=2):
    cmf = cinfo << 4 | 8
    flg = level << 6 | fdict << 5
    return cmf, flg + (31 - (cmf * 256 + flg) % 31) % 31
small = text[:200]
cases = {
    'level9': (z9, text),
    'stored_blocks': (zn, noise),
    'empty': (zlib.compress(b''), b''),
    'window_256': (wrap(*head(0), raw(small, wbits=-9), small), small),
    'window_64k_header': (wrap(*head(8), raw(small), small), small),
    'preset_dictionary': (wrap(*head(7, fdict=1), b'\0\0\0\1' + raw(small), small), small),
    'check_bits_wrong': (bytes([z9[0], z9[1] ^ 1]) + z9[2:], text),
    'not_deflate': (bytes([0x79]) + z9[1:], text),
    'bad_adler': (z9[:-1] + bytes([z9[-1] ^ 0x40]), text),
    'cut_trailer': (z9[:-2], text),
    'cut_data': (z9[:len(z9) // 2], text),
    'byte_after': (z9 + b'\0', text),
    'two_streams': (z9 + z9, text),
    'header_only': (z9[:2], b''),
    'nothing': (b'', b''),
}
for name, (data, plain) in cases.items():
    open(os.path.join(out, name), 'wb').write(data)
    try:
        d = zlib.decompressobj()
        got = d.decompress(data)
        ok = d.eof and not d.unused_data
    except zlib.error:
        got, ok = b'', False
    open(os.path.join(out, name + '.plain'), 'wb').write(got if ok else plain)
    n = len(got) if ok else len(plain)
    for size in (n, n + 1, n - 1):
        if size >= 0:
            print(name, size, int(ok and size == n))
)PY";

}  // namespace

TEST(WholeZlib, TakesExactlyWhatZlibTakesAtTheSizeAsked) {
    qortest::TempDir dir;
    std::istringstream list(qortest::runPython(kCases, dir.path()));
    int rows = 0;
    for (std::string name; list >> name;) {
        std::size_t size = 0;
        int ok = 0;
        list >> size >> ok;
        ++rows;
        const std::string in = qortest::readFile(dir.file(name));
        const std::string plain = qortest::readFile(dir.file(name + ".plain"));
        std::vector<unsigned char> out(size + 1, 0xA5);
        const bool got = zlibDecodeWhole(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data(), size);
        EXPECT_EQ(got, ok == 1) << name << " at " << size;
        if (got) {
            EXPECT_TRUE(std::string(out.begin(), out.begin() + static_cast<long>(size)) == plain) << name;
        }
        EXPECT_EQ(out[size], 0xA5) << name << ": written past the size asked";
    }
    EXPECT_EQ(rows, 42) << list.str();
    EXPECT_FALSE(zlibDecodeWhole(nullptr, 8, nullptr, 0));
}
