// cZStream, the inflating item view, read and positioned by a byte program
// over zlib data (the input's or made from it, damaged or not) with a
// declared plain size and window size from the input.  Every byte it
// delivers must be the byte zlib decodes at that offset; over undamaged data
// whose plain size is declared truly, every read and seek must succeed.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/zstream
// qor-fuzz-args: -max_len=20000
// qor-fuzz-ci-runs: 14000
#include "base/memio.h"
#include "compression/zstream.h"
#include "chunkedstream.h"
#include "zlibref.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t sizeSel = in.byte();
    const uint16_t window = 1 + in.u16() % 3000;
    const uint8_t pieceSel = in.byte();
    std::string program = in.take(in.byte());
    const sZlibCase c = makeZlibCase(in);
    bool ended = false;
    const std::string ref = zlibReference(c.source, 8u << 20, ended);

    // The declared size: the true one, a little off, or anything.
    unsigned long long plainSize = ref.size();
    if (sizeSel % 4 == 1) plainSize = ref.size() + sizeSel / 4;
    else if (sizeSel % 4 == 2) plainSize = ref.size() > sizeSel / 4 ? ref.size() - sizeSel / 4 : 0;
    else if (sizeSel % 4 == 3) plainSize = static_cast<unsigned long long>(sizeSel) * 977;
    const bool sound = ended && plainSize <= ref.size();

    // Every move back decodes from the start again: a long source read in
    // tiny pieces would spend the run in reads, so pieces grow with it.
    auto* source = new cPieceStream(c.source, piecesFrom(pieceSel, 1 + static_cast<unsigned>(c.source.size() / 2048)));
    cZStream z;
    const bool created = z.create(source, plainSize, window, true);
    if (sound) FUZZ_CHECK(created);
    if (!created) return 0;
    FUZZ_CHECK(z.size() == static_cast<long long>(plainSize));

    unsigned long long pos = 0;
    std::vector<unsigned char> buf;
    program.append("\x01\x80", 2);  // end with a long read from the start
    for (size_t k = 0; k + 1 < program.size(); k += 2) {
        const uint8_t op = static_cast<uint8_t>(program[k]);
        const unsigned arg = static_cast<uint8_t>(program[k + 1]);
        switch (op % 4) {
            case 0:
            case 1: {  // read: short, or long enough to go past the window
                const unsigned n = op % 4 == 0 ? arg : arg * 97 + window;
                buf.assign(n, 0);
                const unsigned int got = z.read(buf.data(), n);
                if (got == cFileIOTarget::kIOFailed) {
                    FUZZ_CHECK(!sound || pos >= plainSize || n == 0);
                    break;
                }
                FUZZ_CHECK(got <= n && pos + got <= plainSize && (got == 0 || pos + got <= ref.size()));
                FUZZ_CHECK(got == 0 || std::memcmp(buf.data(), ref.data() + pos, got) == 0);
                if (sound) FUZZ_CHECK(got == std::min<unsigned long long>(n, plainSize - pos));
                pos += got;
                break;
            }
            case 2: {  // seek anywhere, the end included
                const unsigned long long to = plainSize ? (arg * 131u) % (plainSize + 1) : 0;
                const bool moved = z.set_fp(to);
                if (sound) FUZZ_CHECK(moved);
                if (moved) pos = to;
                break;
            }
            case 3: {  // seek from the end, or start over
                const bool moved = op & 4 ? z.set_fp(0) : z.set_fp_end(arg);
                const unsigned long long to = op & 4 ? 0 : (arg < plainSize ? plainSize - arg : 0);
                if (sound) FUZZ_CHECK(moved);
                if (moved) pos = to;
                break;
            }
        }
    }
    z.close();
    FUZZ_CHECK(!z.valid());
    return 0;
}
