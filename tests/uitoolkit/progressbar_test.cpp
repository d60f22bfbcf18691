// qor-test-labels: tsan
// The progress bar: its composed picture checked pixel by pixel against the
// gradients and the frame, and its animation job run on a real thread, with
// the steps it hands to the UI thread recorded as they are applied.
#include "uitoolkit/progressbar.h"
#include "uitoolkit/themevalues.h"
#include "recordingcanvas.h"
#include "testwindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>

using qortest::cRecordingCanvas;
using qortest::cTestWindowTarget;

namespace {

class cRecordingBar : public cProgressChild {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        char buf[32];
        if (auto* p = dynamic_cast<cSetProgressRequestAction*>(a)) std::snprintf(buf, sizeof buf, "p%d", p->pos);
        else if (auto* o = dynamic_cast<cSetOpacityRequestAction*>(a)) std::snprintf(buf, sizeof buf, "o%.1f", o->opacity);
        else buf[0] = 0;
        if (buf[0]) log += (log.empty() ? "" : " ") + std::string(buf);
        return cProgressChild::onAction(src, a);
    }
    std::string take() {
        std::string s;
        s.swap(log);
        return s;
    }
    std::string log;
};

struct sRig {
    sRig(int w = 100, int h = 22) {
        win.bind(&root, 400, 100);
        root.attach(&bar, 0, 0, w, h);
    }
    ~sRig() { root.dettach(&bar); }
    // Drains the wake-ups on this (the UI) thread until done() holds.
    template <class F>
    bool pump(F done, int ms = 10000) {
        for (int waited = 0; waited < ms; waited += 5) {
            win.drain();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    unsigned int px(int x, int y) { return bar.barPicture().raw()[(long long)y * bar.barPicture().width() + x]; }
    cTestWindowTarget win;
    cChildElement root;
    cRecordingBar bar;
};

bool ends(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(ProgressBar, PictureMixesGradientsFrameAndPassiveColour) {
    sRig rig;
    rig.bar.setRange(3);
    rig.bar.xIntSetPos(1);
    rig.bar.xIntSetOpacity(0.0);
    ASSERT_EQ(rig.bar.barPicture().width(), 100);
    ASSERT_EQ(rig.bar.barPicture().height(), 22);
    // Frame: red 241, green 213, blue 198.
    for (auto xy : {std::pair<int, int>{0, 0}, {99, 21}, {0, 10}, {99, 10}, {50, 0}, {50, 21}})
        EXPECT_EQ(rig.px(xy.first, xy.second), 0xF1D5C6u) << xy.first << "," << xy.second;
    // 100 x 1 / 3: columns 1..32 done; the top inner row is the last entry.
    EXPECT_EQ(rig.px(1, 1), 0xE2FCE0u);
    EXPECT_EQ(rig.px(32, 20), 0xA9EF9Eu);
    EXPECT_EQ(rig.px(32, 10), 0x84DD69u);
    EXPECT_EQ(rig.px(33, 1), 0xF8F8F7u);
    EXPECT_EQ(rig.px(98, 20), 0xF3F1F0u);

    // The passive colour is a canvas colour (red lowest): 0x112233 is red 0x33.
    rig.bar.setPassiveBgColor(0x112233, false);
    rig.bar.xIntSetOpacity(1.0);
    EXPECT_EQ(rig.px(1, 1), 0x332211u);
    EXPECT_EQ(rig.px(60, 5), 0x332211u);
    rig.bar.xIntSetOpacity(0.5);
    // Byte by byte: trunc(0x33/2 + 0xE2/2) = 0x8A, (0x22 + 0xFC)/2 = 0x8F, (0x11 + 0xE0)/2 = 0x78.
    EXPECT_EQ(rig.px(1, 1), 0x8A8F78u);
    rig.bar.xIntSetOpacity(7.0);  // limited to 1
    EXPECT_EQ(rig.px(1, 1), 0x332211u);
}

TEST(ProgressBar, WideBarsAndLargeRangesDoNotOverflowAndSmallBarsStayPassive) {
    sRig rig(300, 10);
    rig.bar.setRange(INT_MAX);
    rig.bar.xIntSetOpacity(0.0);
    rig.bar.xIntSetPos(INT_MAX / 2);
    // 300 x 1073741823 / 2147483647 = 149.99...: columns up to 148 are done.
    unsigned int done = rig.px(148, 4), rest = rig.px(149, 4);
    EXPECT_EQ(done, rig.px(1, 4));
    EXPECT_NE(done, rest);
    EXPECT_EQ(rest, rig.px(298, 4));
    rig.bar.setRange(0);
    rig.bar.setRange(-5);
    EXPECT_EQ(rig.bar.range(), INT_MAX);

    sRig flat(50, 2);
    flat.bar.setPassiveBgColor(0x123456, false);
    flat.bar.startProgress();
    cRecordingCanvas c(50, 2);
    flat.bar.onPaint(&c);
    EXPECT_EQ(qortest::dumpCalls(c.calls), qortest::dumpCalls({[] {
                  qortest::sDrawCall d;
                  d.op = "rect";
                  d.w = 50;
                  d.h = 2;
                  d.fill = 0x123456;
                  d.border = currentThemeValues()->color(21);
                  return d;
              }()}));
    flat.bar.stopProgress(true);
}

TEST(ProgressBar, JobFadesInMovesInTenStepsAndFinishesOffTheCallersThread) {
    sRig rig;
    rig.bar.setRange(100);
    EXPECT_FALSE(rig.bar.running());
    rig.bar.startProgress();
    ASSERT_TRUE(rig.pump([&] { return ends(rig.bar.log, "o0.0"); }));
    EXPECT_EQ(rig.bar.take(), "p0 o1.0 o0.9 o0.8 o0.7 o0.6 o0.5 o0.4 o0.3 o0.2 o0.1 o0.0");
    EXPECT_TRUE(rig.bar.running());

    rig.bar.setPos(50, true);
    ASSERT_TRUE(rig.pump([&] { return rig.bar.getPos() == 50 && ends(rig.bar.log, "p50"); }));
    EXPECT_EQ(rig.bar.take(), "p0 p5 p10 p15 p20 p25 p30 p35 p40 p45 p50");
    EXPECT_EQ(rig.bar.shownPosition(), 50);

    // Backwards: the move restarts from 0.
    rig.bar.setPos(20, false);
    ASSERT_TRUE(rig.pump([&] { return rig.bar.getPos() == 20 && ends(rig.bar.log, "p20"); }));
    EXPECT_EQ(rig.bar.take(), "p0 p2 p4 p6 p8 p10 p12 p14 p16 p18 p20");

    rig.bar.setPos(150, true);  // clamped to the range
    ASSERT_TRUE(rig.pump([&] { return rig.bar.getPos() == 100 && ends(rig.bar.log, "p100"); }));
    EXPECT_EQ(rig.bar.take(), "p20 p28 p36 p44 p52 p60 p68 p76 p84 p92 p100");

    cRecordingCanvas running(100, 22);
    rig.bar.onPaint(&running);
    ASSERT_EQ(running.calls.size(), 1u);
    EXPECT_EQ(running.calls[0].op, "bitmap");

    // The caller returns at once; the job runs to full, holds, then fades out.
    rig.bar.setPos(60, true);
    ASSERT_TRUE(rig.pump([&] { return ends(rig.bar.log, "p60"); }));
    rig.bar.take();
    rig.bar.stopProgress(false);
    EXPECT_TRUE(rig.bar.running());
    rig.bar.stopProgress(false);  // a second request changes nothing
    ASSERT_TRUE(rig.pump([&] { return ends(rig.bar.log, "o1.0"); }));
    EXPECT_EQ(rig.bar.take(),
              "p60 p64 p68 p72 p76 p80 p84 p88 p92 p96 p100 "
              "o0.0 o0.1 o0.2 o0.3 o0.4 o0.5 o0.6 o0.7 o0.8 o0.9 o1.0");
    EXPECT_FALSE(rig.bar.running());
    cRecordingCanvas idle(100, 22);
    rig.bar.onPaint(&idle);
    ASSERT_EQ(idle.calls.size(), 1u);
    EXPECT_EQ(idle.calls[0].op, "rect");
}

TEST(ProgressBar, WorkersDriveTheBarWhileTheUiThreadDrainsAndTheBarDiesMidMove) {
    for (int round = 0; round < 3; ++round) {
        cTestWindowTarget win;
        cChildElement root;
        win.bind(&root, 200, 50);
        auto* bar = new cRecordingBar;
        root.attach(bar, 0, 0, 120, 16);
        bar->setRange(1000);
        std::atomic<bool> go{true};
        std::vector<std::thread> workers;
        for (int t = 0; t < 3; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; go && i < 40; ++i) {
                    if (i % 7 == 3) bar->setRange(500 + 100 * t + i);
                    bar->setPos(i * 37 % 1000, t != 0);
                    if (i % 13 == 12) bar->stopProgress(t == 2);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
        for (int i = 0; i < 40; ++i) {
            win.drain();
            cRecordingCanvas c(120, 16);
            bar->onPaint(&c);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        go = false;
        for (auto& w : workers) w.join();
        bar->setPos(999, true);
        win.drain();
        // Destroyed while its job may be mid-move: nothing reaches it afterwards.
        root.dettach(bar);
        delete bar;
        int after = win.wakeups();
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        EXPECT_EQ(win.wakeups(), after);
        win.drain();
    }
}
