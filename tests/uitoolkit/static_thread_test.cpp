// qor-test-labels: tsan
// A worker replaces a static element's text while the UI thread paints it:
// every painted text is one of the whole texts the worker set.
#include "recordingcanvas.h"
#include "uitoolkit/static.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(StaticElementThreads, WorkerSetsTextWhileUiThreadPaints) {
    qortest::cFixedFont::install();
    cChildElement root;  // no window: repaint requests stop at the root
    cStaticElement s;
    ASSERT_TRUE(root.attach(&s, 0, 0, 400, 20));
    const std::string a = "short", b = "a much longer text that replaces the short one";
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 3000; ++i) s.setText(i % 2 ? a.c_str() : b.c_str(), -1, true);
        done = true;
    });
    // Paint for as long as the worker writes (and a little after).
    int painted = 0;
    int after = 0;
    while (!done || after++ < 200) {
        qortest::cRecordingCanvas canvas(400, 20);
        s.onPaint(&canvas);
        for (auto& c : canvas.calls)
            if (c.op == "text") {
                ASSERT_TRUE(c.text == a || c.text == b) << c.text;
                ++painted;
            }
    }
    worker.join();
    EXPECT_GT(painted, 0);
    std::string last = s.textCopy();
    EXPECT_TRUE(last == a || last == b) << "[" << last << "]";
    root.dettach(&s);
}
