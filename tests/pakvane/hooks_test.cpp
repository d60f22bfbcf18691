// Shortcut and registration hooks: the macOS hooks answer without touching
// anything; desktop entries come out byte for byte with each privilege
// helper that PATH offers, and texts that would add keys are refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "pakvane/shortcut.h"
#include "pakvane/sysregister.h"
#include "testsupport.h"

namespace {

char* s(const char* text) { return const_cast<char*>(text); }

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(SystemHooks, AnswerWithoutRecordingOrCreatingAnything) {
    EXPECT_EQ(shortcutExtension(), nullptr);
    _guardchar<char> out;
    out.set("/keep/me");
    EXPECT_FALSE(createSysShortcut(out, s("Tool"), s("Group"), s("/bin/true"), s("/i.png"), s("c"), true, s("-x")));
    EXPECT_STREQ(out.get(), "/keep/me");

    cSoftPkgScenario scenario;
    EXPECT_TRUE(OSRegisterPackage(s("org.example"), scenario, false));
    EXPECT_TRUE(OSDeregisterPackage(s("org.example"), true));

    int version[4] = {1, 2, 3, 4};
    EXPECT_TRUE(OSGetRegistedVersion(s("org.example"), version, nullptr, nullptr, false));
    EXPECT_EQ(version[0] | version[1] | version[2] | version[3], 0);
    int again[4] = {9, 9, 9, 9};
    _guardchar<char> first, second;
    first.set("uninstall");
    second.set("other");
    EXPECT_TRUE(OSGetRegistedVersion(s("org.example"), again, &first, &second, true));
    EXPECT_EQ(again[0] | again[1] | again[2] | again[3], 0);
    ASSERT_NE(first.get(), nullptr);
    EXPECT_STREQ(first.get(), "");
    EXPECT_STREQ(second.get(), "other");
}

class DesktopEntry : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("PATH");
        oldPath_ = old ? old : "";
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        resetLinShortcutPrivilegeChoice();
    }
    // PATH holds only a new folder of ours, with the helpers named; with
    // choose the next entry looks for a helper again.
    void offer(std::initializer_list<const char*> helpers, bool choose = true) {
        const std::string bin = dir_.file("bin" + std::to_string(++bins_));
        ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
        for (const char* h : helpers) {
            const std::string f = bin + "/" + h;
            ASSERT_TRUE(qortest::writeFile(f, "#!/bin/sh\nexit 0\n"));
            ASSERT_EQ(chmod(f.c_str(), 0700), 0);
        }
        setenv("PATH", bin.c_str(), 1);
        if (choose) resetLinShortcutPrivilegeChoice();
    }
    std::string entry() const { return dir_.file("tool.desktop"); }

    qortest::TempDir dir_;
    int bins_ = 0;
    std::string oldPath_;
};

const char* const kHead = "[Desktop Entry]\nVersion=1.0\nEncoding=UTF-8\nName=";
const char* const kTail = "\nX-MultipleArgs=false\nType=Application\nCategories=Utility;\nStartupNotify=false\n"
                          "MimeType=application/x-sample tool\n";

TEST_F(DesktopEntry, PlainEntryHoldsExactlyItsLines) {
    offer({"gksudo"});
    ASSERT_TRUE(createLinShortcut(s(entry().c_str()), s("/opt/x/sample tool"), s("Utility;"), s("Sample"), nullptr,
                                  nullptr, false, nullptr));
    EXPECT_EQ(qortest::readFile(entry()),
              std::string(kHead) + "Sample\nExec=/opt/x/sample tool\nTerminal=false" + kTail);
}

TEST_F(DesktopEntry, ElevatedEntryUsesTheHelperThatPathOffers) {
    const std::string body = "\nComment=Does things\nExec=";
    const std::string icon = "\nIcon=/opt/x/icon.png";
    struct Case {
        std::initializer_list<const char*> helpers;
        std::string exec;
        const char* terminal;
    };
    const Case cases[] = {
        {{"gksudo", "kdesudo"}, "gksudo \"/opt/x/sample tool --go\"", "false"},
        {{"kdesudo"}, "kdesudo \"/opt/x/sample tool --go\"", "false"},
        {{}, "bash -c \"xhost +local: && sudo \\\"/opt/x/sample tool --go\\\"\"", "true"},
    };
    for (const Case& c : cases) {
        offer(c.helpers);
        ASSERT_TRUE(createLinShortcut(s(entry().c_str()), s("/opt/x/sample tool"), s("Utility;"), s("Sample"),
                                      s("/opt/x/icon.png"), s("Does things"), true, s("--go")));
        EXPECT_EQ(qortest::readFile(entry()),
                  std::string(kHead) + "Sample" + body + c.exec + icon + "\nTerminal=" + c.terminal + kTail)
            << c.exec;
    }
    // Once the shell fallback is chosen every later entry runs in a terminal,
    // and the choice holds even after PATH offers a helper.
    offer({});
    ASSERT_TRUE(createLinShortcut(s(entry().c_str()), s("/opt/x/sample tool"), s("Utility;"), s("Sample"), nullptr,
                                  nullptr, false, nullptr));
    offer({"gksudo"}, false);
    ASSERT_TRUE(createLinShortcut(s(entry().c_str()), s("/opt/x/sample tool"), s("Utility;"), s("Sample"), nullptr,
                                  nullptr, false, nullptr));
    EXPECT_EQ(qortest::readFile(entry()),
              std::string(kHead) + "Sample\nExec=/opt/x/sample tool\nTerminal=true" + kTail);
}

TEST_F(DesktopEntry, MissingArgumentsAndLineBreaksAreRefusedWithoutAFile) {
    offer({"gksudo"});
    char* f = s(entry().c_str());
    EXPECT_FALSE(createLinShortcut(nullptr, s("/x"), s("U;"), s("N"), nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, nullptr, s("U;"), s("N"), nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), nullptr, s("N"), nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), s("U;"), nullptr, nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), s("U;"), s("N\nExec=/bin/evil"), nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), s("U;"), s("N"), s("i\r"), nullptr, false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), s("U;"), s("N"), nullptr, s("c\nTerminal=true"), false, nullptr));
    EXPECT_FALSE(createLinShortcut(f, s("/x"), s("U;"), s("N"), nullptr, nullptr, false, s("-a\n-b")));
    EXPECT_FALSE(exists(entry()));
    EXPECT_FALSE(createLinShortcut(s(dir_.file("no/such/dir.desktop").c_str()), s("/x"), s("U;"), s("N"), nullptr,
                                   nullptr, false, nullptr));
}

}  // namespace
