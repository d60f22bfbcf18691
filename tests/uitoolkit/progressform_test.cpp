// qor-test-labels: tsan
// Progress forms run real jobs on their own threads behind a scripted modal
// window: the status lines the reports produce, the stages they name, how
// Stop and Close act while the job runs, and the result the modal run gives.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/langids.h"
#include "uitoolkit/progressform.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

// The form's clock, set by the job or the test from any thread.
std::atomic<unsigned int> gNow{0};
unsigned int readClock() { return gNow.load(); }

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        EXPECT_TRUE(cLibLang::applyLang(lngENG));
        win.bind(&root, 800, 600);
        old = __setElementClock(&readClock);
        gNow = 0;
    }
    ~sFixture() { __setElementClock(old); }
    cCIOMLang toolkit;
    cTestWindowTarget win;
    cChildElement root;
    tElementClock old = nullptr;
};

// Drains the window's wake-ups on this (the UI) thread until done() holds.
bool pump(cTestWindowTarget& w, const std::function<bool()>& done, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 5) {
        w.drain();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// A form whose job is a function of the test's.
template <class Base>
class cFnForm : public Base {
public:
    explicit cFnForm(std::function<int(cFnForm&)> fn) : mFn(std::move(fn)) {}
    ~cFnForm() override { this->terminate(4000); }
    int job() override { return mFn(*this); }
    std::vector<std::string> seen;  // written by the job only
    std::string label() { return this->statusLabel()->textCopy(); }

private:
    std::function<int(cFnForm&)> mFn;
};
using cBasic = cFnForm<cStdBasicProgressForm>;
using cUnknown = cFnForm<cStdUnknownProgressForm>;

}  // namespace

TEST(ProgressForm, RunsModallyAtItsSizeAndAnswersTheJobsResult) {
    sFixture f;
    auto* form = new cBasic([](cBasic&) { return 42; });
    f.win.onModal = [&](cChildElement* root, cTestWindowTarget& w) {
        EXPECT_EQ(root, form);
        EXPECT_TRUE(pump(w, [&] { return !w.modalResults.empty(); }));
    };
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(&f.root, form, "Copying"), 42);
    ASSERT_EQ(f.win.modals.size(), 1u);
    EXPECT_EQ(f.win.modals[0].title, "Copying");
    EXPECT_EQ(f.win.modals[0].w, 600);
    EXPECT_EQ(f.win.modals[0].h, 106);
}

TEST(ProgressForm, ReportedLines) {
    // The same script, checked line by line inside the run (the form is
    // gone once the modal run returns).
    sFixture f;
    const unsigned int T0 = 100000, T1 = T0 + 5000000;
    std::vector<std::string> seen;
    std::vector<int> barTargets;
    auto* form = new cBasic([&](cBasic& me) {
        auto report = [&](unsigned int at, double p) {
            gNow = at;
            EXPECT_TRUE(me.notifyProgress(p));
            me.seen.push_back(me.label());
        };
        gNow = T0;
        me.notifyStage(0);
        me.setStageName(0, "Replaced name that is rather longer");
        report(T0, 0);
        report(T0 + 60000, 50);
        report(T0 + 60300, 75);
        report(T0 + 61000, 150);
        gNow = T1;
        me.notifyStage(5);
        report(T1 + 3723000, 25);
        report(T1 + 3724000, 0);
        return 3;
    });
    form->setStageName(0, "Download");
    f.win.onModal = [&](cChildElement*, cTestWindowTarget& w) {
        EXPECT_EQ(form->label(), "Starting...");
        EXPECT_TRUE(pump(w, [&] { return !w.modalResults.empty(); }));
        seen = form->seen;
        EXPECT_EQ(form->stageName(), "Operation");
    };
    EXPECT_EQ(form->runUIJob(&f.root, "Work"), 3);
    const std::string a = "Download progress: 50.0%. Time consumed: 00:01:00. Estimated time left: 00:01:00.";
    const std::string b = "Download progress: 100.0%. Time consumed: 00:01:01. Estimated time left: 00:00:00.";
    // 1 h 2 min 3 s at 25 %: three times that is left, 3 h 6 min 9 s.
    const std::string c = "Operation progress: 25.0%. Time consumed: 01:02:03. Estimated time left: 03:06:09.";
    const std::vector<std::string> want = {"Starting...", a, a, b, c, c};
    EXPECT_EQ(seen, want);
}

TEST(ProgressForm, StopAndCloseWhileTheJobRuns) {
    for (int way = 0; way < 2; ++way) {
        sFixture f;
        std::atomic<bool> started{false};
        auto* form = new cBasic([&](cBasic& me) {
            started = true;
            while (me.notifyProgress(1)) cJob::sleep(2);
            return 7;
        });
        f.win.onModal = [&](cChildElement*, cTestWindowTarget& w) {
            while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            // Another tool button does nothing.
            cToolBarChild::cTbButtonAction other(2);
            EXPECT_TRUE(form->onAction(form->toolBar(), &other));
            EXPECT_FALSE(form->haveToStop());
            if (way == 0) {
                cToolBarChild::cTbButtonAction stop(1);
                EXPECT_TRUE(form->onAction(form->toolBar(), &stop));
            } else {
                EXPECT_FALSE(form->onClose());
            }
            EXPECT_TRUE(form->haveToStop());
            // The form stays until the job has ended.
            EXPECT_TRUE(w.modalResults.empty());
            EXPECT_TRUE(pump(w, [&] { return !w.modalResults.empty(); }));
            EXPECT_FALSE(form->runs());
            EXPECT_TRUE(form->onClose());
        };
        EXPECT_EQ(form->runUIJob(&f.root, "Work"), 7) << way;
    }
}

TEST(ProgressForm, StopOnAnIdleFormClosesWithZero) {
    sFixture f;
    auto* form = new cBasic([](cBasic&) { return 9; });
    std::vector<int> results;
    f.win.onModal = [&](cChildElement*, cTestWindowTarget& w) {
        for (int i = 0; i < 2000 && form->runs(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_FALSE(form->runs());
        EXPECT_TRUE(form->onFormCancel());
        results = w.modalResults;
    };
    f.win.modalAnswer = -5;
    form->runUIJob(&f.root, "Idle");
    // The job's own result may have ended the run first; the cancel comes last.
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back(), 0);
    // Without a parent nothing runs and the form stays the caller's.
    cBasic idle([](cBasic&) { return 1; });
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(nullptr, &idle, "x"), 0);
    EXPECT_EQ(cStdBasicProgressForm::runUIJob(&f.root, nullptr, "x"), 0);
    EXPECT_FALSE(idle.runs());
}

TEST(ProgressForm, MadeUpPercentageRisesTowardsButNeverTo100) {
    const double cases[][2] = {{0, 0}, {1, 50}, {1e9, 100}};
    for (const auto& c : cases) EXPECT_NEAR(cUnknownProgressFakeJob::percentAt(c[0]), c[1], 1e-6);
    EXPECT_LT(cUnknownProgressFakeJob::percentAt(1e6), 100.0);
    EXPECT_NEAR(cUnknownProgressFakeJob::percentAt(0.1), 2.0 / M_PI * std::atan(0.1) * 100.0, 1e-12);
}

TEST(ProgressForm, UnknownFormShowsTimeConsumedWhileStagesChange) {
    sFixture f;
    std::atomic<bool> release{false};
    const unsigned int T0 = 50000;
    gNow = T0;
    auto* form = new cUnknown([&](cUnknown& me) {
        // Stages change on this thread while the made-up reports arrive on
        // the fake job's thread.
        for (int i = 0; i < 4; ++i) {
            me.setStageName(i % 3, i % 2 ? "Unpacking" : "Checking");
            me.notifyStage(i % 3);
            me.setStageName(i % 3, nullptr);
        }
        while (!release) cJob::sleep(5);
        return 11;
    });
    std::string line;
    f.win.onModal = [&](cChildElement*, cTestWindowTarget& w) {
        // Time runs on; a made-up report shows what has been consumed.
        EXPECT_TRUE(pump(w, [&] {
            gNow += 20;
            line = form->label();
            return line.find("is in progress") != std::string::npos;
        }));
        release = true;
        EXPECT_TRUE(pump(w, [&] { return !w.modalResults.empty(); }));
    };
    EXPECT_EQ(form->runUIJob(&f.root, "Unknown"), 11);
    // A named stage, the time consumed and no time left.
    const std::string tail = " is in progress: time consumed: 00:00:";
    const size_t at = line.find(tail);
    ASSERT_NE(at, std::string::npos) << line;
    const std::string name = line.substr(0, at), secs = line.substr(at + tail.size());
    EXPECT_TRUE(name == "Checking" || name == "Unpacking") << line;
    ASSERT_EQ(secs.size(), 3u) << line;
    EXPECT_TRUE(secs[0] >= '0' && secs[0] <= '5' && isdigit((unsigned char)secs[1]) && secs[2] == '.') << line;
}

namespace {

class cChildJob : public cStdBasicProgressChild {
public:
    ~cChildJob() override { terminate(4000); }
    int job() override {
        gNow = 200000;
        notifyStage(2);
        gNow = 230000;
        notifyProgress(50);
        seen = statusLabel()->textCopy();
        return 5;
    }
    std::string seen;
};

// Records the results its children send up.
class cResultSink : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a && a->code() == cStdBasicProgressChild::kActionCode && src != this)
            results.push_back(static_cast<cStdBasicProgressChild::cProgressAction*>(a)->result);
        return true;
    }
    std::vector<unsigned long> results;
};

}  // namespace

TEST(ProgressChild, ReportsAndSendsItsResultToTheParents) {
    sFixture f;
    cResultSink sink;
    cChildJob child;
    ASSERT_TRUE(f.root.attach(&sink, 0, 0, 400, 60));
    ASSERT_TRUE(sink.attach(&child, 0, 0, 400, 40));
    EXPECT_EQ(child.statusLabel()->textCopy(), "Starting...");
    EXPECT_FALSE(cStdBasicProgressChild::runUIJob(nullptr, "x"));
    child.setStageName(2, "Indexing");
    ASSERT_TRUE(child.runUIJob(nullptr));
    EXPECT_TRUE(pump(f.win, [&] { return !sink.results.empty(); }));
    EXPECT_EQ(sink.results, std::vector<unsigned long>{5});
    EXPECT_EQ(child.seen, "Indexing progress: 50.0%. Time consumed: 00:00:30. Estimated time left: 00:00:30.");
    EXPECT_TRUE(child.onClose());
    sink.dettach(&child);
    f.root.dettach(&sink);
}

TEST(ProgressChild, UnknownChildShowsTimeConsumedOnly) {
    sFixture f;
    struct cJobChild : cStdUnknownProgressChild {
        ~cJobChild() override { terminate(4000); }
        int job() override {
            while (!release) cJob::sleep(5);
            return 8;
        }
        std::atomic<bool> release{false};
    };
    cResultSink sink;
    cJobChild child;
    ASSERT_TRUE(f.root.attach(&sink, 0, 0, 400, 60));
    ASSERT_TRUE(sink.attach(&child, 0, 0, 400, 40));
    gNow = 1000;
    ASSERT_TRUE(child.runUIJob("Scanning"));
    std::string line;
    EXPECT_TRUE(pump(f.win, [&] {
        gNow += 20;
        line = child.statusLabel()->textCopy();
        return line.find("is in progress") != std::string::npos;
    }));
    child.release = true;
    EXPECT_TRUE(pump(f.win, [&] { return !sink.results.empty(); }));
    EXPECT_EQ(sink.results, std::vector<unsigned long>{8});
    EXPECT_EQ(line.rfind("Scanning is in progress: time consumed: 00:00:", 0), 0u) << line;
    EXPECT_EQ(line.find("left"), std::string::npos) << line;
    sink.dettach(&child);
    f.root.dettach(&sink);
}
