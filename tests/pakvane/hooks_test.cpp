// Shortcut and registration hooks: the macOS hooks answer without touching
// anything; desktop entries come out byte for byte with each privilege
// helper that PATH offers, their Exec key read back by an independent
// reader gives every program path as one argument, and texts that would
// add keys are refused; both shortcut writers refuse names another user
// planted in a shared folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pakvane/shortcut.h"
#include "pakvane/sysregister.h"
#include "base/timeutil.h"
#include "plantedfolders.h"
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
              std::string(kHead) + "Sample\nExec=\"/opt/x/sample tool\"\nTerminal=false" + kTail);
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
        {{"gksudo", "kdesudo"}, "gksudo \"\\\\\"/opt/x/sample tool\\\\\" --go\"", "false"},
        {{"kdesudo"}, "kdesudo \"\\\\\"/opt/x/sample tool\\\\\" --go\"", "false"},
        {{}, "bash -c \"xhost +SI:localuser:root && sudo \\\\\"/opt/x/sample tool\\\\\" --go\"", "true"},
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
              std::string(kHead) + "Sample\nExec=\"/opt/x/sample tool\"\nTerminal=true" + kTail);
}

// Program paths holding each character that the Exec key's quoting, a
// desktop file's string escapes or a shell gives a meaning, with and
// without arguments under each helper, read back by read_desktop_exec.py
// (the Desktop Entry Specification's reading of the key, then bash's of the
// command a helper or "bash -c" runs): each path is one argument as it
// was, and nothing it holds runs.
TEST_F(DesktopEntry, ExecGivesEveryPathBackAsOneArgument) {
    const std::string paths[] = {"/opt/plain/bin/app", "/opt/my app/bin/app", "/opt/a\"b/app",
                                 "/opt/app/bin/app\"; touch INJECTED; \"", "/opt/a`touch INJECTED`/app",
                                 "/opt/$(touch INJECTED)/app", "/opt/$HOME/app", "/opt/ends in\\", "/opt/%U 100%/app",
                                 "/opt/it's/tab\there/app", "/opt/x; touch INJECTED; y/a&b|c<d>e/~/*?/#(x)/=/app",
                                 "/opt/\xc3\xbcn\xc3\xaf/app", "/opt/\\\"$`\\\\/ app"};
    std::string list, expected;
    int n = 0;
    for (const std::string helper : {"plain", "gksudo", "kdesudo", "shell"}) {
        offer({helper == "shell" ? "none" : helper.c_str()});
        for (const std::string& path : paths) {
            for (const char* args : {static_cast<const char*>(nullptr), "--go"}) {
                const std::string file = dir_.file("e" + std::to_string(++n) + ".desktop");
                ASSERT_TRUE(createLinShortcut(s(file.c_str()), s(path.c_str()), s("Utility;"), s("Tool"), nullptr,
                                              nullptr, helper != "plain", s(args))) << path;
                list += helper + " " + file + "\n";
                // The words the program is given, each ended by a NUL.
                std::string words = path + '\0' + (args ? std::string(args) + '\0' : "");
                if (helper == "shell") words = std::string("xhost\0+SI:localuser:root\0sudo\0", 30) + words;
                expected += qortest::hex(words.data(), words.size()) + "\n";
            }
        }
    }
    ASSERT_TRUE(qortest::writeFile(dir_.file("entries"), list));
    setenv("PATH", oldPath_.c_str(), 1);
    const std::string got =
        qortest::runPython(qortest::readFile(QOR_SOURCE_DIR "/tests/pakvane/read_desktop_exec.py"),
                           "'" + dir_.file("entries") + "' '" + dir_.path() + "'");
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(exists(dir_.file("INJECTED")));
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
    EXPECT_FALSE(createLinShortcut(f, s("/x\x1b[2J"), s("U;"), s("N"), nullptr, nullptr, false, nullptr));
    EXPECT_FALSE(exists(entry()));
    EXPECT_FALSE(createLinShortcut(s(dir_.file("no/such/dir.desktop").c_str()), s("/x"), s("U;"), s("N"), nullptr,
                                   nullptr, false, nullptr));
}

}  // namespace

namespace {

// A folder "C:" in a temporary working folder stands for the drive, so that
// drive-letter paths name real files of this system.
class WinShortcut : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldCwd_ = cwd;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        for (const char* d : {"C:", "C:/Tools", "C:/Tools/My App"}) ASSERT_EQ(mkdir(d, 0700), 0);
        ASSERT_TRUE(qortest::writeFile("C:/Tools/My App/app.exe", std::string(1234, 'x')));
        ASSERT_TRUE(qortest::writeFile("C:/Tools/icon.ico", "ico"));
    }
    void TearDown() override { ASSERT_EQ(chdir(oldCwd_.c_str()), 0); }
    std::string read(const std::string& lnk) {
        int st = -1;
        std::string out = qortest::runPython(
            qortest::readFile(std::string(QOR_SOURCE_DIR) + "/tests/pakvane/read_lnk.py"), lnk, &st);
        EXPECT_EQ(st, 0) << out;
        // The link's time (Unix seconds) is kept apart: it is the clock's.
        const std::size_t u = out.find("unix=");
        if (u != std::string::npos) {
            when_ = std::stoll(out.substr(u + 5));
            out.erase(u, out.find('\n', u) + 1 - u);
        }
        return out;
    }

    qortest::TempDir dir_;
    std::string oldCwd_;
    long long when_ = -1;
};

const char* const kComputer = "item0={\"clsid\": \"e04fd020ea3a6910a2d808002b30309d\", \"type\": 31}\n"
                              "item1={\"drive\": \"C:\\\\\", \"type\": 47}\n";

TEST_F(WinShortcut, LinkToAFileReadsBackInPython) {
    const std::string lnk = dir_.file("app.lnk");
    const long long before = getCurrUnixTime();
    ASSERT_TRUE(createWinShortcut(s(lnk.c_str()), s("C:/Tools/My App/app.exe"), s("C:/Tools"),
                                  s("C:/Tools/icon.ico"), 2, s("Démo tool"), true, s("--go \"x\"")));
    const long long after = getCurrUnixTime();
    const std::string got = read(lnk);
    EXPECT_GE(when_, before);
    EXPECT_LE(when_, after);
    const std::string path = "C:\\\\Tools\\\\My App\\\\app.exe";  // as JSON writes it
    EXPECT_EQ(got, std::string("arguments=--go \"x\"\nattrs=0x20\ndescription=Démo tool\nflags=0x820f7\nhot=0\n"
                               "icon=2\nicon_location=C:\\Tools\\icon.ico\n") +
                       kComputer +
                       "item2={\"attr\": 16, \"name\": \"Tools\", \"size\": 0, \"type\": 49, \"wide\": \"Tools\"}\n"
                       "item3={\"attr\": 16, \"name\": \"My App\", \"size\": 0, \"type\": 49, \"wide\": \"My App\"}\n"
                       "item4={\"attr\": 32, \"name\": \"app.exe\", \"size\": 1234, \"type\": 50, \"wide\": "
                       "\"app.exe\"}\n"
                       "location={\"drive_type\": 3, \"flags\": 1, \"network\": 0, \"path\": \"" +
                       path + "\", \"serial\": 0, \"suffix\": 0, \"suffix_at_end\": true, \"total\": 70}\n"
                              "show=1\nsize=1234\nworkdir=C:\\Tools\n");
}

TEST_F(WinShortcut, LinkToAFolderAndRefusals) {
    const std::string lnk = dir_.file("tools.lnk");
    ASSERT_TRUE(createWinShortcut(s(lnk.c_str()), s("C:/Tools"), nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_EQ(read(lnk), std::string("attrs=0x10\nflags=0x80083\nhot=0\nicon=0\n") + kComputer +
                             "item2={\"attr\": 16, \"name\": \"Tools\", \"size\": 0, \"type\": 49, \"wide\": "
                             "\"Tools\"}\n"
                             "location={\"drive_type\": 3, \"flags\": 1, \"network\": 0, \"path\": "
                             "\"C:\\\\Tools\", \"serial\": 0, \"suffix\": 0, \"suffix_at_end\": true, \"total\": "
                             "55}\n"
                             "show=1\nsize=0\n");

    const std::string no = dir_.file("no.lnk");
    char* f = s(no.c_str());
    EXPECT_FALSE(createWinShortcut(nullptr, s("C:/Tools"), nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, nullptr, nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, s("Tools"), nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, s("1:/Tools"), nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, s("C:/Missing"), nullptr, nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, s("C:/Tools"), s("C:/Tools/icon.ico"), nullptr, 0, nullptr, false, nullptr));
    EXPECT_FALSE(createWinShortcut(f, s("C:/Tools"), nullptr, s("C:/Tools/My App"), 0, nullptr, false, nullptr));
    const std::string huge(65536, 'a');
    EXPECT_FALSE(createWinShortcut(f, s("C:/Tools"), nullptr, nullptr, 0, s(huge.c_str()), false, nullptr));
    EXPECT_FALSE(exists(no));
}

// Both shortcut writers replace an entry whole: a write the file system
// refuses (the file size limit standing in for a full disk) leaves the old
// entry byte for byte, no other file, and the system's reason in errno; a
// write that lands keeps the old entry's mode and a link to it.
TEST(ShortcutFiles, AreReplacedWholeOrNotAtAll) {
    qortest::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("C:").c_str(), 0700), 0);
    ASSERT_TRUE(qortest::writeFile(dir.file("C:/tool"), "binary"));
    struct Writer {
        const char* name;
        bool (*write)(char* file);
    };
    const Writer writers[] = {
        {"desktop entry",
         [](char* file) {
             return createLinShortcut(file, s("/opt/x/tool"), s("Utility;"), s("Tool"), nullptr, nullptr, false, nullptr);
         }},
        {"shell link",
         [](char* file) { return createWinShortcut(file, s("C:/tool"), nullptr, nullptr, 0, s("Tool"), false, nullptr); }},
    };
    const std::string old(5000, 'o');
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    for (const Writer& w : writers) {
        for (const bool full : {true, false}) {
            const std::string real = dir.file("entry");
            ASSERT_TRUE(qortest::writeFile(real, old));
            ASSERT_EQ(chmod(real.c_str(), 0600), 0);
            const std::string link = dir.file("link");
            unlink(link.c_str());
            ASSERT_EQ(symlink("entry", link.c_str()), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit lim;
                if (full && (getrlimit(RLIMIT_FSIZE, &lim) != 0 || (lim.rlim_cur = 10, setrlimit(RLIMIT_FSIZE, &lim)) != 0))
                    _exit(2);
                errno = 0;
                const bool ok = w.write(const_cast<char*>(link.c_str()));
                _exit(ok ? 0 : errno == EFBIG ? 10 : errno == EEXIST ? 11 : 12);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), full ? 10 : 0) << w.name << " full " << full;
            char buf[64] = {};
            EXPECT_GT(readlink(link.c_str(), buf, sizeof buf - 1), 0) << w.name;
            EXPECT_STREQ(buf, "entry") << w.name;
            const std::string now = qortest::readFile(real);
            if (full) {
                EXPECT_EQ(now, old) << w.name;
            } else {
                EXPECT_TRUE(now.compare(0, 15, "[Desktop Entry]") == 0 || now.compare(0, 4, std::string("L\0\0\0", 4)) == 0)
                    << w.name;
                struct stat st;
                ASSERT_EQ(stat(real.c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 07777, 0600u) << w.name;
            }
            std::string names;
            for (const char* n : {"C:", "entry", "link"}) names += exists(dir.file(n)) ? n : "";
            EXPECT_EQ(names, "C:entrylink");
            EXPECT_EQ(qortest::runCommand("ls -A '" + dir.path() + "' | wc -l"), "3\n") << w.name;
        }
    }
    ASSERT_EQ(chdir("/"), 0);
}

// Both writers through the scenes of plantedfolders.h.
TEST(ShortcutFiles, RefuseWhatAnotherUserPlanted) {
    if (geteuid() != 0) GTEST_SKIP() << "planting files as another user needs root";
    qortest::checkPlantedScenes([](const auto& given, const auto& plant, auto&) {
        return plant() && createLinShortcut(s(given.c_str()), s("/opt/x/tool"), s("U;"), s("T"), nullptr, nullptr,
                                            false, nullptr);
    }, "[Desktop Entry]", "");
    qortest::TempDir drive;
    ASSERT_EQ(mkdir(drive.file("C:").c_str(), 0700), 0);
    ASSERT_TRUE(qortest::writeFile(drive.file("C:/tool"), "binary"));
    qortest::checkPlantedScenes([&](const auto& given, const auto& plant, auto&) {
        return plant() && chdir(drive.path().c_str()) == 0 &&
               createWinShortcut(s(given.c_str()), s("C:/tool"), nullptr, nullptr, 0, s("Tool"), false, nullptr);
    }, std::string("L\0\0\0", 4), "");
}

}  // namespace
