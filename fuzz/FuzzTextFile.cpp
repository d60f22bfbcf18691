// The line reader over a lent stream in every encoding (8-bit, UTF-8 and
// UTF-16 in both byte orders, or chosen by the byte-order mark), with line
// limits and stream read sizes from the input and texts long enough to cross
// the reader's block boundary, against a model written here: marks, units,
// terminators (CR LF, LF, CR, NUL), the over-long line error, UTF-8 output.
// qor-fuzz-link: base
// qor-fuzz-data: base/textfile
// qor-fuzz-args: -max_len=20000
// qor-fuzz-ci-runs: 1300
#include "base/textfile.h"
#include "fuzzsupport.h"
#include "chunkedstream.h"

#include <vector>

namespace {

// UTF-16 units to UTF-8; a surrogate without its partner stands alone in
// three bytes.
std::string utf8Of(const std::vector<unsigned>& units) {
    std::string o;
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (c < 0x80) {
            o += static_cast<char>(c);
        } else if (c < 0x800) {
            o += static_cast<char>(0xC0 | c >> 6);
            o += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            o += static_cast<char>(0xE0 | c >> 12);
            o += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            o += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            o += static_cast<char>(0xF0 | c >> 18);
            o += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            o += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            o += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return o;
}

struct sModel {
    std::vector<std::string> lines;
    bool tooLong = false;
};

sModel modelOf(const std::string& text, cTextFileIO::eTextContentType type, long long maxLen) {
    auto has = [&](const char* mark, size_t n) { return text.size() >= n && text.compare(0, n, mark, n) == 0; };
    size_t skip = 0;
    using T = cTextFileIO;
    if (type == T::tctAuto) {
        if (has("\xEF\xBB\xBF", 3)) type = T::tctUTF8, skip = 3;
        else if (has("\xFE\xFF", 2)) type = T::tctUTF16BE, skip = 2;
        else if (has("\xFF\xFE", 2)) type = T::tctUTF16LE, skip = 2;
        else type = T::tct8Bit;
    } else if (type == T::tctUTF8 && has("\xEF\xBB\xBF", 3)) {
        skip = 3;
    } else if (type == T::tctUTF16LE && has("\xFF\xFE", 2)) {
        skip = 2;
    } else if (type == T::tctUTF16BE && has("\xFE\xFF", 2)) {
        skip = 2;
    }
    const bool wide = type == T::tctUTF16LE || type == T::tctUTF16BE;
    std::vector<unsigned> units;
    for (size_t i = skip; i + (wide ? 1 : 0) < text.size(); i += wide ? 2 : 1) {
        const unsigned a = static_cast<unsigned char>(text[i]);
        units.push_back(!wide ? a : type == T::tctUTF16LE ? a | static_cast<unsigned char>(text[i + 1]) << 8
                                                          : a << 8 | static_cast<unsigned char>(text[i + 1]));
    }
    sModel m;
    size_t i = 0;
    while (i < units.size()) {
        size_t e = i;
        while (e < units.size() && units[e] != '\r' && units[e] != '\n' && units[e] != 0) ++e;
        if (static_cast<long long>(e - i) > maxLen) {
            m.tooLong = true;
            return m;
        }
        std::vector<unsigned> line(units.begin() + static_cast<long>(i), units.begin() + static_cast<long>(e));
        if (wide) {
            m.lines.push_back(utf8Of(line));
        } else {
            std::string bytes;
            for (unsigned u : line) bytes += static_cast<char>(u);
            m.lines.push_back(bytes);
        }
        if (e < units.size() && units[e] == '\r' && e + 1 < units.size() && units[e + 1] == '\n') ++e;
        i = e + 1;
    }
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const uint8_t pieces = in.byte();
    const uint16_t grow = in.u16();
    std::string text = in.rest();
    const auto type = static_cast<cTextFileIO::eTextContentType>(mode % 5);
    static const long long kLimits[8] = {4096, 1, 2, 7, 100, 4096, 40000, 70000};
    const long long maxLen = kLimits[(mode >> 3) % 8];
    // Texts past the 64 KiB block, so that lines cross it at every offset.
    if (mode & 0x40 && !text.empty()) {
        const size_t target = 65536 + grow % 4096;
        std::string big;
        while (big.size() < target) big += text;
        text = big.substr(0, target);
    }

    cPieceStream stream(text, piecesFrom(pieces));
    cTextFileIO reader;
    if (maxLen != 4096) reader.setMaxStrLen(maxLen);
    FUZZ_CHECK(reader.open(&stream, type));
    const sModel model = modelOf(text, type, maxLen);

    _typebuf<char> line;
    size_t k = 0;
    while (reader.gets(line)) {
        FUZZ_CHECK(k < model.lines.size());
        FUZZ_CHECK(std::string(line.data() ? line.data() : "", static_cast<size_t>(line.count())) == model.lines[k]);
        ++k;
    }
    FUZZ_CHECK(k == model.lines.size() || model.tooLong);
    FUZZ_CHECK(reader.lastError() == (model.tooLong ? cTextFileIO::teLineTooLong : cTextFileIO::teNone));
    if (model.tooLong) FUZZ_CHECK(!reader.gets(line));

    // From the start again: the first line once more.
    FUZZ_CHECK(reader.goStart());
    if (!model.lines.empty()) {
        FUZZ_CHECK(reader.gets(line));
        FUZZ_CHECK(std::string(line.data() ? line.data() : "", static_cast<size_t>(line.count())) == model.lines[0]);
    }
    reader.close();
    return 0;
}
