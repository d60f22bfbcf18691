// The edit field driven by arbitrary bytes: the first part is the clipboard
// text a paste brings in, the rest a stream of keys, characters, pointer
// events and mode switches.  Only crashes, hangs and leaks count, and the
// field must always keep its terminator, its caret inside the text and its
// selection inside the text or empty.  The elements' clock follows the
// events, so that a run is the same whatever the machine's speed.
// qor-fuzz-link: uitoolkit compression base
// qor-fuzz-ci-runs: 100000
#include "uitoolkit/editfield.h"
#include "uitoolkit/window.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class cFuzzWindow : public cWindowRequestTarget {
public:
    void _rt_destroy() override {}
    void _rt_modalresult(int) override {}
    void _rt_repaint(sArea*) override {}
    bool _rt_send_action(void*) override { return false; }
    bool _rt_receive_action(void*) override { return false; }
    bool _rt_capturepointer(bool) override { return true; }
    bool _rt_copy_text(void* t, long long len) override {
        if (!t || len < 1) return false;
        clip.assign(static_cast<const char*>(t), size_t(len - 1));
        return true;
    }
    bool _rt_request_copied_text(_typebuf<unsigned char>& out) override {
        out.set((long long)clip.size());
        if (!clip.empty()) std::memcpy(out.data(), clip.data(), clip.size());
        return true;
    }
    std::string clip;
};

const int kKeys[] = {0x150, 0x151, 0x152, 0x153, 0x154, 0x157, 0x108, 0x163, 0x11B, 0x18D, 0x1FF, 0x41, 0x43, 0x56, 0x58, 0x109};

// The elements' clock (double clicks are told by it) runs on the input's
// events, not the machine's: every event is 100 ms after the one before,
// and a button event waits a further 100 ms for each of its op's top bits.
unsigned int gNowMs = 0;
unsigned int fuzzClock() { return gNowMs; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    __setElementClock(fuzzClock);
    gNowMs = 0;
    size_t clipLen = std::min<size_t>(data[0], size - 1);
    cFuzzWindow win;
    win.clip.assign(reinterpret_cast<const char*>(data + 1), clipLen);
    cChildElement root;
    root.setWinTarget(&win, 0, 0, 200, 40);
    root.processConstruct();
    cEditChild edit;
    root.attach(&edit, 0, 0, 100, 20);
    root.processOSFocus();
    root.processFocusDirect(&edit);
    cCanvas canvas;
    for (size_t i = 1 + clipLen; i + 1 < size; i += 2) {
        uint8_t op = data[i], arg = data[i + 1];
        gNowMs += 100 + ((op & 7) == 2 ? 100u * (op >> 4) : 0u);
        switch (op & 7) {
            case 0: root.processChar(arg | ((op & 0xF0) << 4), false, false, false); break;
            case 1: root.processKey(kKeys[arg & 15], arg & 16, arg & 32, false); break;
            case 2: root.processMouseBtn(arg, 10, 1, op & 8, false, false); break;
            case 3: root.processMouseMove(arg - 20, 10); break;
            case 4: edit.onMouseDoubleClick(arg, 10); break;
            case 5: edit.setMaxLen(arg & 31); break;
            case 6: edit.setReadonly(arg & 1); edit.setPwdMode(arg & 2); edit.setCursorForRO(arg & 4); break;
            case 7: edit.setU64(arg * 0x0101010101010101ull, arg & 1, (arg & 2) ? ',' : 0); break;
        }
        edit.onPaint(&canvas);
        long long len = edit.length();
        if (len > edit.maxLen() || edit.caret() < 0 || edit.caret() > len) std::abort();
        if ((edit.selStart() < 0) != (edit.selEnd() < 0)) std::abort();
        if (edit.selStart() >= 0 && (edit.selStart() > edit.selEnd() || edit.selEnd() >= len)) std::abort();
    }
    edit.text();
    root.dettach(&edit);
    return 0;
}
