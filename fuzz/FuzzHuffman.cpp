// The Huffman lookup table built from counts and symbols taken from the
// input, checked against the canonical codes assigned here, and the bit
// reader (plain fields and table lookups, resets in between) against a bit
// string model of the same data: bits past the end read as zero, and once
// more bits were consumed than the data held every result is 0.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/huffman
// qor-fuzz-ci-runs: 7700
#include "compression/huffman.h"
#include "fuzzsupport.h"

#include <vector>

namespace {

class cBitModel {
public:
    explicit cBitModel(const std::string& d) : d_(d) {}
    void reset() { used_ = 0; }
    unsigned peek(int n) const {
        unsigned v = 0;
        for (int k = 0; k < n; ++k) {
            const size_t at = used_ + static_cast<size_t>(k);
            const unsigned b = at / 8 < d_.size() ? (static_cast<unsigned char>(d_[at / 8]) >> (7 - at % 8)) & 1 : 0;
            v = v << 1 | b;
        }
        return v;
    }
    void consume(int n) { used_ += static_cast<size_t>(n); }
    bool exhausted() const { return used_ > d_.size() * 8; }

private:
    const std::string& d_;
    size_t used_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    // 16 counts (kept small so that tables stay small), then the symbols.
    std::vector<unsigned char> definition(16);
    unsigned total = 0;
    for (int k = 0; k < 16; ++k) {
        // Codes of 13 to 16 bits make tables of up to 65537 entries: rare.
        const uint8_t b = in.byte();
        definition[static_cast<size_t>(k)] = k < 12 ? b % 8 : (b % 32 == 31);
        total += definition[static_cast<size_t>(k)];
    }
    for (unsigned k = 0; k < total; ++k) definition.push_back(in.byte());
    const std::string program = in.take(in.byte());
    const std::string bits = in.rest();

    _typebuf<unsigned short> table;
    const unsigned char* src = definition.data();
    cHaffmanTable::createIndexTable(&src, table);
    FUZZ_CHECK(src == definition.data() + definition.size());
    int longest = 0;
    for (int k = 0; k < 16; ++k)
        if (definition[static_cast<size_t>(k)]) longest = k + 1;
    FUZZ_CHECK(table.count() == (1LL << longest) + 1 && table[0] == longest);

    // Canonical codes: consecutive within a length, doubled at each longer
    // length; a code that no longer fits (over-full counts) gets no entries.
    std::vector<unsigned short> expect(static_cast<size_t>(1) << longest, 0);
    unsigned code = 0;
    size_t sym = 16;
    for (int len = 1; len <= longest; ++len) {
        for (int i = 0; i < definition[static_cast<size_t>(len - 1)]; ++i, ++code, ++sym) {
            const unsigned span = 1u << (longest - len);
            const unsigned long long first = static_cast<unsigned long long>(code) << (longest - len);
            for (unsigned r = 0; r < span && first + r < expect.size(); ++r)
                expect[first + r] = static_cast<unsigned short>(len << 8 | definition[sym]);
        }
        code <<= 1;
    }
    for (size_t v = 0; v < expect.size(); ++v) FUZZ_CHECK(table[static_cast<long long>(v) + 1] == expect[v]);

    _typebuf<unsigned char> buf;
    buf.copyFrom(reinterpret_cast<const unsigned char*>(bits.data()), static_cast<long long>(bits.size()));
    cHaffmanTable reader;
    cBitModel model(bits);
    long long pos = 0;
    for (unsigned char op : program) {
        if (op == 0xFF) {
            FUZZ_CHECK(reader.getBitHuff(-1, nullptr, buf, pos) == 0);
            pos = 0;
            model.reset();
            continue;
        }
        const bool huff = op & 0x80 && longest > 0;
        const int n = huff ? longest : op % 27;  // 25 is the widest field; 26 is refused
        const int got = reader.getBitHuff(n, huff ? table.data() + 1 : nullptr, buf, pos);
        FUZZ_CHECK(pos >= 0 && pos <= static_cast<long long>(bits.size()));
        if (model.exhausted() || n == 0 || n > cHaffmanTable::kMaxBits) {
            FUZZ_CHECK(got == 0);
            continue;
        }
        const unsigned value = model.peek(n);
        if (huff) {
            FUZZ_CHECK(got == (table[value + 1] & 0xFF));
            model.consume(table[value + 1] >> 8);
        } else {
            FUZZ_CHECK(static_cast<unsigned>(got) == value);
            model.consume(n);
        }
    }
    return 0;
}
