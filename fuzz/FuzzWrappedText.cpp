// Text cut to a box and wrapped into a box, on arbitrary text and boxes:
// both end, the cut text is the text or a prefix of it followed by "...",
// and wrapping draws every word once, in order (the drawn pieces put
// together are the text without its blanks).
// qor-fuzz-link: uitoolkit compression base
// qor-fuzz-ci-runs: 130000
#include "fuzzsupport.h"
// The fuzz build links only src/ libraries: it compiles the recording canvas
// itself; a test program that replays inputs links it already.
#ifndef QOR_UITESTSUPPORT_LINKED
#include "../tests/support/recordingcanvas.cpp"
#else
#include "recordingcanvas.h"
#endif
#include "base/textenc.h"

#include <cstdint>
#include <string>

namespace {

class cPieceCanvas : public qortest::cRecordingCanvas {
public:
    using qortest::cRecordingCanvas::drawText;
    bool drawText(int, int, bool, const unsigned short* text, long long len) override {
        long long n = 0;
        while ((len < 0 || n < len) && text[n]) ++n;
        pieces.append(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(n));
        drawn.push_back(std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(n)));
        return true;
    }
    std::u16string pieces;
    std::vector<std::u16string> drawn;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int w = static_cast<int8_t>(data[0]) * 3;
    const int h = data[1] % 40;
    const int align = data[2] % 4;
    const int margins = data[3] % 8;
    std::string text(reinterpret_cast<const char*>(data + 4), size - 4);

    _guardchar<unsigned short> wide;
    __a2w(text.c_str(), -1, wide, 65001);
    std::u16string whole = wide.get() ? std::u16string(reinterpret_cast<const char16_t*>(wide.get())) : u"";

    {
        cPieceCanvas c;
        sSize used;
        if (c.drawTextWrapped(0, 0, w, h, align, text.c_str(), used, true, 0)) {
            std::u16string expected;
            for (char16_t u : whole)
                if (u > 32) expected += u;
            FUZZ_CHECK(c.pieces == expected);
            FUZZ_CHECK(used.h >= 0 && used.w >= 0);
        } else {
            FUZZ_CHECK(c.drawn.empty());
        }
    }
    {
        cPieceCanvas c;
        long long drawn = -1;
        const int r = c.drawTextLimited(0, 0, w, h, align, false, margins, margins, text.c_str(), -1, &drawn, true);
        if (r == -1 || whole.empty()) {
            FUZZ_CHECK(c.drawn.empty());
        } else {
            FUZZ_CHECK(c.drawn.size() == 1);
            const std::u16string& s = c.drawn[0];
            const bool cut = s.size() >= 3 && s.compare(s.size() - 3, 3, u"...") == 0 &&
                             whole.compare(0, s.size() - 3, s, 0, s.size() - 3) == 0;
            FUZZ_CHECK(s == whole || cut);
            FUZZ_CHECK(drawn <= w - 2 * margins || s == whole);
        }
    }
    return 0;
}
