// SIGTERM and SIGINT end a program on the platform layer as a request to
// quit: the test runs itself as a child program whose application shows a
// form with a sheet on it, sends the signal once the sheet is up, and
// reads what the child did: the sheet's cancel, then the form's, a form
// opened afterwards cancelled at once, and a clean exit.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport.h"
#include "uitoolkit/application.h"
#include "uitoolkit/form.h"
#include "uitoolkit/window.h"

extern char** environ;

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// A form that cancels with its own result; once it is up it opens a
// sheet, or says that it is ready.
class cStep : public cCustomForm {
public:
    enum eOnceUp { kNothing, kOpenSheet, kSayReady };
    cStep(const char* name, int cancelResult, eOnceUp onceUp)
        : mName(name), mCancel(cancelResult), mOnceUp(onceUp) {}
    bool onAfterConstruct() override {
        if (mOnceUp == kOpenSheet) {
            char title[] = "Sheet";
            sheetResult = modal(title, 160, 90, new cStep("sheet", 4, kSayReady), false);
        }
        if (mOnceUp == kSayReady) say("ready");
        return true;
    }
    bool onFormCancel() override {
        say((std::string("cancel ") + mName).c_str());
        return end_modal(mCancel);
    }
    static int sheetResult;

private:
    const char* mName;
    int mCancel;
    eOnceUp mOnceUp;
};
int cStep::sheetResult = -1;

class cQuitApp : public cCIApplication {
public:
    int run() override {
        char a[] = "Form", c[] = "Later";
        const int form = windowMaker()->modal(a, 300, 200, new cStep("form", 3, cStep::kOpenSheet), nullptr, false);
        const int later = windowMaker()->modal(c, 200, 100, new cStep("later", 5, cStep::kNothing), nullptr, false);
        say(("results " + std::to_string(cStep::sheetResult) + " " + std::to_string(form) + " " +
             std::to_string(later))
                .c_str());
        return cStep::sheetResult == 4 && form == 3 && later == 5 ? 0 : 1;
    }
};

// The child's side: runs only when the parent started it.
TEST(QuitSignal, Child) {
    if (!std::getenv("QOR_QUIT_CHILD")) GTEST_SKIP() << "runs as the child of the tests below";
    alarm(60);
    char arg0[] = "quit-child";
    char* argv[] = {arg0, nullptr};
    const int rc = cCIApplication::runApp(new cQuitApp, nullptr, nullptr, 0, 1, argv, nullptr, "qor");
    say("done");
    std::fflush(stdout);
    // The exit code is the application's own, past every test framework
    // report.
    std::_Exit(rc);
}

struct sChildRun {
    std::vector<std::string> lines;
    int status = -1;
};

sChildRun runChildAndSignal(int sig) {
    sChildRun out;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return out;
    self[n] = 0;
    qortest::TempDir home;
    int pipeFd[2];
    if (pipe(pipeFd) != 0) return out;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
    // The child starts with the default handling of both signals, whatever
    // the test runner ignores, so that the platform may catch them.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0) env.emplace_back(*e);
    env.push_back("HOME=" + home.path());
    env.push_back("QOR_QUIT_CHILD=1");
    env.push_back("SDL_VIDEODRIVER=offscreen");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=QuitSignal.Child";
    char* argv[] = {self, &filter[0], nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self, &actions, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipeFd[1]);
    if (spawned != 0) {
        close(pipeFd[0]);
        return out;
    }
    FILE* in = fdopen(pipeFd[0], "r");
    char buf[512];
    bool signalled = false;
    while (std::fgets(buf, sizeof buf, in)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // Only our own lines: the test framework talks too.
        if (line == "ready" || line.rfind("cancel ", 0) == 0 || line.rfind("results ", 0) == 0 || line == "done")
            out.lines.push_back(line);
        if (line == "ready" && !signalled) {
            kill(pid, sig);
            signalled = true;
        }
    }
    std::fclose(in);
    waitpid(pid, &out.status, 0);
    return out;
}

TEST(QuitSignal, TermAndIntCancelTheFormsAndEndTheProgramCleanly) {
    alarm(120);
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        const sChildRun run = runChildAndSignal(sig);
        EXPECT_EQ(run.lines, (std::vector<std::string>{"ready", "cancel sheet", "cancel form", "cancel later",
                                                       "results 4 3 5", "done"}));
        ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
        EXPECT_EQ(WEXITSTATUS(run.status), 0);
    }
    alarm(0);
}

}  // namespace
