// qor-test-labels: tsan
// Actions: notified actions bubble to the first handler, posted ones stay
// with their element, and worker threads post and send across to the UI
// thread, which here is the test's own thread draining the test window.
#include "testwindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

struct sSeen {
    std::string who;
    int code;
};

class cLogger : public cChildElement {
public:
    cLogger(const char* name, std::vector<sSeen>* log, int handles) : mName(name), mLog(log), mHandles(handles) {}
    bool onAction(cChildElement* src, cChildAction* a) override {
        mLog->push_back({mName, a->code()});
        if (a->code() == mHandles) return true;
        return cChildElement::onAction(src, a);
    }

private:
    std::string mName;
    std::vector<sSeen>* mLog;
    int mHandles;
};

// A question a worker asks: the handler writes the answer through the
// pointer the action carries.
class cQuestion : public cChildElement::cSentChildAction {
public:
    cQuestion(int* to, int asked) : cSentChildAction(20), answer(to), q(asked) {}
    int* answer;
    int q;
};

class cAnswerer : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* q = dynamic_cast<cQuestion*>(a)) {
            *q->answer = q->q * 2;
            ++answered;
            return true;
        }
        if (a->code() == 21) ++posted;
        return false;
    }
    int answered = 0;
    int posted = 0;
};

struct cHint : cShownHint {
    static int alive;
    cHint() { ++alive; }
    ~cHint() override { --alive; }
};
int cHint::alive = 0;

}  // namespace

TEST(ElementActions, NotifiedActionsBubblePostedOnesDoNot) {
    std::vector<sSeen> log;
    cTestWindowTarget win;
    cLogger form("form", &log, 9), panel("panel", &log, -1), button("button", &log, -1);
    win.bind(&form, 100, 100);
    form.attach(&panel, 0, 0, 100, 100);
    panel.attach(&button, 0, 0, 10, 10);
    win.drain();
    log.clear();

    struct sCase {
        bool post;
        int code;
        std::vector<std::string> seenBy;
    };
    const sCase cases[] = {
        {false, 9, {"button", "panel", "form"}},
        {false, 8, {"button", "panel", "form"}},
        {true, 9, {"button"}},
    };
    for (const sCase& c : cases) {
        log.clear();
        if (c.post) button.postAction(new cChildElement::cChildAction(c.code));
        else button.notifyAction(c.code);
        EXPECT_EQ(win.drain(), 1);
        std::vector<std::string> seen;
        for (auto& s : log) seen.push_back(s.who);
        EXPECT_EQ(seen, c.seenBy) << "code " << c.code;
    }
    // Two in a row: one drain handles both in order; the next finds none.
    log.clear();
    button.notifyAction(9);
    button.notifyAction(8);
    EXPECT_TRUE(form.processActionFirst(&button) == false);  // 8 is handled by nobody
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].code, 9);
    EXPECT_EQ(log[3].code, 8);
    EXPECT_TRUE(form.processActionFirst(&button));
    win.drain();
    // A dead element's wake-up does nothing.
    auto* gone = new cLogger("gone", &log, -1);
    panel.attach(gone, 0, 0, 1, 1);
    gone->notifyAction(9);
    delete gone;
    log.clear();
    win.drain();
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(form.processActionFirst(gone));
    form.dettach(&panel);
}

TEST(ElementActions, FocusRequestsAndHintRemovalTravelAsActions) {
    cTestWindowTarget win;
    cChildElement root, a, b;
    win.bind(&root, 100, 100);
    root.attach(&a, 0, 0, 10, 10);
    root.attach(&b, 20, 0, 10, 10);
    b.focus();
    EXPECT_EQ(root.getFocused(), nullptr);  // not before the drain
    win.drain();
    EXPECT_EQ(root.getFocused(), &b);
    EXPECT_EQ(win.focusRequests, 1);
    // Hints: a shown hint goes when the text changes.
    cHint::alive = 0;
    auto old = __setHintMaker([](cChildElement*, const char*, int) -> cShownHint* { return new cHint(); });
    a.setHint("tip", 0);
    a.processMouseMove(1, 1);
    EXPECT_EQ(cHint::alive, 1);
    a.setHint("other", 1);
    EXPECT_EQ(cHint::alive, 1);
    win.drain();
    EXPECT_EQ(cHint::alive, 0);
    EXPECT_EQ(a.shownHint(), nullptr);
    __setHintMaker(old);
    root.dettach(&a);
    root.dettach(&b);
}

TEST(ElementActions, WorkersPostAndSendAcrossThreads) {
    cTestWindowTarget win;
    cChildElement root;
    cAnswerer answerer;
    win.bind(&root, 100, 100);
    root.attach(&answerer, 0, 0, 10, 10);

    constexpr int kWorkers = 4, kEach = 50;
    std::vector<int> answers(kWorkers * kEach, -1);
    std::atomic<int> sendFailures{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                int idx = w * kEach + i;
                answerer.postAction(new cChildElement::cChildAction(21));
                if (!answerer.sendAction(new cQuestion(&answers[idx], idx))) ++sendFailures;
            }
            ++finished;
        });
    }
    // The UI thread: drain until every worker is through.
    while (finished.load() < kWorkers) {
        win.waitForWakeups(win.wakeups() + 1, 5);
        win.drain();
    }
    for (auto& t : workers) t.join();
    win.drain();
    EXPECT_EQ(sendFailures.load(), 0);
    EXPECT_EQ(answerer.answered, kWorkers * kEach);
    EXPECT_EQ(answerer.posted, kWorkers * kEach);
    for (int i = 0; i < kWorkers * kEach; ++i) ASSERT_EQ(answers[i], 2 * i);
    root.dettach(&answerer);
}

TEST(ElementActions, SendersAreReleasedWhenNoAnswerCanCome) {
    // A window that refuses the wake-up: the sender returns false at once.
    {
        cTestWindowTarget win;
        cChildElement root;
        win.bind(&root, 10, 10);
        win.acceptWakeups = false;
        int answer = -1;
        bool ok = true;
        std::thread t([&] { ok = root.sendAction(new cQuestion(&answer, 1)); });
        t.join();
        EXPECT_FALSE(ok);
        win.acceptWakeups = true;
        root.notifyAction(0);
        win.drain();  // the withdrawn question is not answered later
        EXPECT_EQ(answer, -1);
    }
    // The element dies with the question queued: the sender wakes with a
    // failure instead of waiting forever.
    {
        cTestWindowTarget win;
        cChildElement root;
        win.bind(&root, 10, 10);
        auto* target = new cAnswerer();
        root.attach(target, 0, 0, 5, 5);
        int answer = -1;
        std::atomic<int> result{-1};
        std::thread t([&] { result = target->sendAction(new cQuestion(&answer, 3)) ? 1 : 0; });
        ASSERT_TRUE(win.waitForWakeups(1, 10000));
        delete target;
        t.join();
        EXPECT_EQ(result.load(), 0);
        EXPECT_EQ(answer, -1);
        EXPECT_EQ(win.drain(), 1);  // the stale wake-up touches nothing
    }
}
