// The application frame: runApp from start to exit code, with a test window
// maker and the per-user configuration in a temporary home folder.
#include "testsupport.h"
#include "testwindow.h"
#include "uitoolkit/application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

using qortest::cTestWindowMaker;

namespace {

struct sRecord {
    bool initCalled = false, runCalled = false, destroyCalled = false, deleted = false;
    bool currentInRun = false;
    bool configWritable = false;
    std::string path, folder;
    int makerCreates = 0;
};

class cTestApp : public cCIApplication {
public:
    cTestApp(sRecord* rec, bool initOk, int initExit, int runResult, cWindowMaker* ownMaker = nullptr)
        : mRec(rec), mInitOk(initOk), mInitExit(initExit), mRun(runResult) {
        if (ownMaker) setWindowMaker(ownMaker);
    }
    ~cTestApp() override { mRec->deleted = true; }
    bool onInit(int, char**, int& exitCode) override {
        mRec->initCalled = true;
        mRec->path = appPath() ? appPath() : "";
        mRec->folder = appFolder() ? appFolder() : "";
        if (mInitExit >= 0) exitCode = mInitExit;
        return mInitOk;
    }
    int run() override {
        mRec->runCalled = true;
        mRec->currentInRun = appRef() == this;
        mRec->configWritable = config() && config()->setParamStr("lang/current", "3", -1);
        if (auto* m = dynamic_cast<cTestWindowMaker*>(windowMaker())) mRec->makerCreates = m->creates;
        return mRun;
    }
    void onDestroy() override { mRec->destroyCalled = true; }

private:
    sRecord* mRec;
    bool mInitOk;
    int mInitExit;
    int mRun;
};

// A configuration that can never be opened.
class cNoConfig : public cApplicationConfig {
public:
    void* rootContextHandle() override { return nullptr; }
    void* subContextHandle(char const*, void*, bool) override { return nullptr; }
    bool getParamValueSize(void*, long long&) override { return false; }
    bool isTextConfig() override { return false; }
    bool openConfig(const char*) override { ++opens; return false; }
    bool newConfig(const char*) override { ++creates; return false; }
    static int opens, creates;
};
int cNoConfig::opens = 0;
int cNoConfig::creates = 0;

bool gPlatformCreateOk = true;
cWindowMaker* makeTestMaker() {
    auto* m = new cTestWindowMaker();
    m->createResult = gPlatformCreateOk;
    return m;
}

class AppFrame : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        oldHome_ = old ? old : "";
        setenv("HOME", home_.path().c_str(), 1);
        oldMaker_ = __setNewPlatformWindowMaker(makeTestMaker);
        gPlatformCreateOk = true;
    }
    void TearDown() override {
        setenv("HOME", oldHome_.c_str(), 1);
        __setNewPlatformWindowMaker(oldMaker_);
    }
    qortest::TempDir home_;
    std::string oldHome_;
    tNewPlatformWindowMaker oldMaker_ = nullptr;
};

}  // namespace

TEST_F(AppFrame, RunsOpensItsConfigurationAndReturnsTheExitCode) {
    struct sCase {
        int argc;
        const char* argv0;
        bool initOk;
        int initExit;
        int runResult;
        int want;
        const char* path;
        const char* folder;
    };
    const sCase cases[] = {
        {1, "qorapp", true, -1, 0, 0, "qorapp", "./"},
        {1, "/Apps/Qor.app/Contents/MacOS/qor", true, -1, 10, 10, "/Apps/Qor.app/Contents/MacOS/qor",
         "/Apps/Qor.app/Contents/MacOS"},
        {1, "dir/name", true, -1, 3, 3, "dir/name", "dir"},
        {1, nullptr, true, -1, 0, 0, "", "./"},
        {0, nullptr, true, -1, 0, 0, "", ""},
        {1, "qorapp", false, 0, 7, 0, "qorapp", "./"},  // onInit refuses with 0: no windows
        {1, "qorapp", false, -1, 7, 1, "qorapp", "./"},
    };
    for (const sCase& c : cases) {
        sRecord rec;
        char* argv[] = {const_cast<char*>(c.argv0), nullptr};
        int code = cCIApplication::runApp(new cTestApp(&rec, c.initOk, c.initExit, c.runResult), nullptr, nullptr,
                                          0, c.argc, argv, nullptr, "qor");
        EXPECT_EQ(code, c.want) << (c.argv0 ? c.argv0 : "(null)");
        EXPECT_TRUE(rec.initCalled);
        EXPECT_EQ(rec.runCalled, c.initOk);
        EXPECT_EQ(rec.destroyCalled, c.initOk);
        EXPECT_TRUE(rec.deleted);
        EXPECT_EQ(rec.path, c.path);
        EXPECT_EQ(rec.folder, c.folder);
        EXPECT_EQ(cCIApplication::appRef(), nullptr);
        if (c.initOk) {
            EXPECT_TRUE(rec.currentInRun);
            EXPECT_TRUE(rec.configWritable);
            EXPECT_EQ(rec.makerCreates, 1);
        }
    }
    struct stat st;
    EXPECT_EQ(stat((home_.path() + "/.qor").c_str(), &st), 0);
    EXPECT_EQ(cCIApplication::runApp(nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, "qor"), 1);
    EXPECT_EQ(cWindowMaker::langTablesMade(), 1);
}

TEST_F(AppFrame, StartUpFailsCleanlyWithoutConfigurationOrWindows) {
    // The configuration can be neither opened nor created.
    {
        sRecord rec;
        char* argv[] = {const_cast<char*>("qor"), nullptr};
        cNoConfig::opens = cNoConfig::creates = 0;
        int code = cCIApplication::runApp(new cTestApp(&rec, true, -1, 0), nullptr, nullptr, 0, 1, argv,
                                          new cNoConfig(), "qor");
        EXPECT_EQ(code, cCIApplication::kExitNoConfig);
        EXPECT_EQ(cNoConfig::opens, 2);
        EXPECT_EQ(cNoConfig::creates, 1);
        EXPECT_FALSE(rec.initCalled);
        EXPECT_TRUE(rec.deleted);
        EXPECT_EQ(cCIApplication::appRef(), nullptr);
    }
    // Window makers that cannot start: the platform's, and the application's
    // own, which is deleted once, by the application (the address sanitizer
    // reports a second delete).  An own maker that starts is used.
    struct sCase {
        bool own, createOk;
        int want;
    };
    for (const sCase& c : {sCase{false, false, 1}, sCase{true, false, 1}, sCase{true, true, 4}}) {
        sRecord rec;
        gPlatformCreateOk = c.createOk;
        cTestWindowMaker* own = nullptr;
        if (c.own) {
            own = new cTestWindowMaker();
            own->createResult = c.createOk;
        }
        char* argv[] = {const_cast<char*>("qor"), nullptr};
        int code = cCIApplication::runApp(new cTestApp(&rec, true, -1, 4, own), nullptr, nullptr, 0, 1, argv,
                                          nullptr, "qor");
        EXPECT_EQ(code, c.want);
        EXPECT_EQ(rec.runCalled, c.createOk);
        EXPECT_EQ(rec.destroyCalled, c.createOk);
        EXPECT_TRUE(rec.deleted);
        EXPECT_EQ(rec.makerCreates, c.createOk ? 1 : 0);
    }
}
