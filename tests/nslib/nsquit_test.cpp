// A request to quit (what SIGINT and SIGTERM become): modal loops offer it
// to their windows innermost first, a window that refuses keeps running
// until a later request, a result the handler stores is kept, loops started
// afterwards end at once, and the main loop returns.  A request is never
// withdrawn, so these cases live in a program of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "nstestutil.h"

namespace {

// Stores its own result when asked to quit, as a form's cancel does.
struct CancellingWindow : RecWindow {
    int cancelResult = 0;
    bool onQuit() override {
        log.push_back("quit");
        endModal(cancelResult);
        return true;
    }
};

TEST(NSQuit, RequestsEndModalLoopsInnermostFirst) {
    startHeadless();
    Watchdog dog{30};
    RecWindow parent, sheet, later;
    CancellingWindow form;
    form.cancelResult = 5;
    ASSERT_TRUE(parent.create_wnd("Parent", 300, 200, true, 10, 10));
    ASSERT_TRUE(sheet.create_wnd("Sheet", 150, 80, false, 20, 20));
    ASSERT_TRUE(later.create_wnd("Later", 150, 80, false, 30, 30));
    ASSERT_TRUE(form.create_wnd("Form", 150, 80, false, 40, 40));
    EXPECT_EQ(nswnd_quit_requests(), 0);

    int sheetResult = -1;
    std::vector<std::string> order;
    parent.action = [&](void*) {
        sheetResult = sheet.modal(&parent);
        order.push_back("sheet ended");
    };
    sheet.allowClose = false;
    int stage = 0;
    mstest::setIdleHook([&] {
        switch (stage++) {
        case 0: parent.notifyAction(tag(1)); break;
        case 1:
            // The sheet refuses the first request; the parent is not asked
            // while its sheet's loop runs.
            mstest::injectQuitRequest();
            break;
        case 2:
            EXPECT_EQ(nswnd_quit_requests(), 1);
            EXPECT_EQ(std::count(sheet.log.begin(), sheet.log.end(), "close"), 1);
            EXPECT_TRUE(parent.log.empty() || parent.log.back() != "close");
            sheet.allowClose = true;
            mstest::injectQuitRequest();
            break;
        default: break;
        }
    });
    parent.log.clear();
    sheet.log.clear();
    const int parentResult = parent.modal(nullptr);
    order.push_back("parent ended");
    EXPECT_EQ(sheetResult, 0);
    EXPECT_EQ(parentResult, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"sheet ended", "parent ended"}));
    EXPECT_EQ(std::count(sheet.log.begin(), sheet.log.end(), "close"), 2);
    EXPECT_EQ(std::count(parent.log.begin(), parent.log.end(), "close"), 1);
    EXPECT_EQ(nswnd_quit_requests(), 2);

    // Loops started after the request are offered it at once: a window
    // that stores a result keeps it, one that agrees ends with 0.
    mstest::setIdleHook(nullptr);
    later.log.clear();
    EXPECT_EQ(later.modal(nullptr), 0);
    EXPECT_EQ(std::count(later.log.begin(), later.log.end(), "close"), 1);
    EXPECT_EQ(form.modal(nullptr), 5);
    EXPECT_EQ(form.log.back(), "quit");
    // The main loop returns without waiting for an event.
    cNSWindow::msgloop();
}

}  // namespace
