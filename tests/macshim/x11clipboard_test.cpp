// The desktop's clipboard on a private X server, with xclip as the other
// program: a text of megabytes that xclip hands over in pieces is read
// whole and xclip goes on serving it; text we take the clipboard with is
// read back by xclip, in pieces too, as UTF8_STRING and as Latin-1 STRING.
#include "macshim/x11clipboard.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "childprocess.h"
#include "testsupport.h"

// The system libraries SDL loads under X11 keep buffers to the end.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

qortest::sPrivateXServer gServer;

// Some megabytes of lines with characters of one to four UTF-8 bytes,
// Latin-1 ones among them.
std::string largeText() {
    std::string t;
    for (int i = 0; t.size() < 3u * 1024 * 1024; ++i)
        t += "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80 line " + std::to_string(i) + "\tcolumn\n";
    return t;
}

class X11Clipboard : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (gServer.display.empty() && gServer.failure.empty()) gServer.start("640x480x24");
        if (gServer.display.empty()) return;
        setenv("DISPLAY", gServer.display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    void SetUp() override {
        if (gServer.display.empty()) GTEST_SKIP() << "Xvfb did not start";
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
        mWin = SDL_CreateWindow("clip", 0, 0, 10, 10, SDL_WINDOW_HIDDEN);
        ASSERT_NE(mWin, nullptr);
        alarm(120);
    }
    void TearDown() override {
        alarm(0);
        for (pid_t& p : mKids) qortest::stopChild(p);
        if (mWin) SDL_DestroyWindow(mWin);
    }
    // Runs our side of the window system (SDL reading the server's events)
    // until the program ends; its exit status.
    int serveUntilDone(pid_t pid) {
        int status = -1;
        while (waitpid(pid, &status, WNOHANG) == 0) pump();
        return status;
    }
    // Reads and drops what SDL has queued, waiting a little for more.
    static void pump() {
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 10))
            while (SDL_PollEvent(&e)) {
            }
    }
    // xclip reading the clipboard as target; what it wrote.
    std::string xclipOut(const std::string& target) {
        const std::string out = mDir.file("out-" + target);
        const pid_t pid = qortest::spawnChild({"xclip", "-selection", "clipboard", "-o", "-t", target}, out);
        EXPECT_EQ(serveUntilDone(pid), 0) << target;
        return qortest::readFile(out);
    }
    SDL_Window* mWin = nullptr;
    std::vector<pid_t> mKids;
    qortest::TempDir mDir;
};

TEST_F(X11Clipboard, ALargeTextIsReadWholeAndItsOwnerGoesOnServingIt) {
    const std::string text = largeText();
    ASSERT_TRUE(qortest::writeFile(mDir.file("in"), text));
    mKids.push_back(qortest::spawnChild({"xclip", "-selection", "clipboard", "-quiet", "-i", mDir.file("in")}));
    std::string got;
    // Until xclip holds the clipboard: nobody owned it before.
    for (int tries = 0; tries < 500 && msx11::readClipboard(mWin, got) != msx11::kText; ++tries) SDL_Delay(10);
    ASSERT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text);
    EXPECT_FALSE(msx11::ownsClipboard(mWin));
    // Read again by us and by another program: xclip serves it whole.
    ASSERT_EQ(msx11::readClipboard(mWin, got), msx11::kText);
    EXPECT_TRUE(got == text);
    EXPECT_TRUE(xclipOut("UTF8_STRING") == text);
    EXPECT_EQ(waitpid(mKids[0], nullptr, WNOHANG), 0) << "xclip ended";
}

TEST_F(X11Clipboard, TextWeOwnIsServedInPiecesAsUtf8AndLatin1) {
    const std::string text = largeText();
    ASSERT_TRUE(msx11::takeClipboard(mWin, text));
    EXPECT_TRUE(msx11::ownsClipboard(mWin));
    std::string got;
    ASSERT_EQ(msx11::readClipboard(mWin, got), msx11::kText);
    EXPECT_TRUE(got == text);
    const std::string targets = xclipOut("TARGETS");
    for (const char* t : {"UTF8_STRING", "STRING", "TEXT", "text/plain"})
        EXPECT_NE(targets.find(std::string(t) + "\n"), std::string::npos) << t << " not in " << targets;
    EXPECT_TRUE(xclipOut("UTF8_STRING") == text);
    // Latin-1 as Python's codecs write it ('?' for the rest).
    ASSERT_TRUE(qortest::writeFile(mDir.file("ours"), text));
    const std::string latin1 = qortest::runPython(
        "import sys\n"
        "sys.stdout.buffer.write(open(sys.argv[1], 'rb').read().decode().encode('latin-1', 'replace'))\n",
        "'" + mDir.file("ours") + "'");
    ASSERT_GT(latin1.size(), text.size() / 2);
    EXPECT_TRUE(xclipOut("STRING") == latin1);
    // Another program copies: the clipboard is no longer ours.
    mKids.push_back(qortest::spawnChild({"xclip", "-selection", "clipboard", "-quiet", "-i", "/dev/null"}));
    for (int tries = 0; tries < 500 && msx11::ownsClipboard(mWin); ++tries) pump();
    EXPECT_FALSE(msx11::ownsClipboard(mWin));
}

}  // namespace
