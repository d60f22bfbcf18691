#include "base/process.h"
#include "base/sync.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// The program that opens a document, folder or address in the application the
// desktop associates with it.
const char* desktopOpener() { return "xdg-open"; }

// What a child gets on its standard streams; -1 keeps ours.
struct sStdio {
    int in = -1;
    int out = -1;
    int err = -1;
};

// Starts file with the argument vector argv (argv[0] included, null-ended).
// The child is made by posix_spawn, so nothing of ours runs between the fork
// and the exec; a program that cannot be executed is reported here, without
// a child left to wait for.  With searchPath the file is looked up in PATH.
pid_t spawnChild(const char* file, const std::vector<const char*>& argv, bool searchPath, const sStdio& io = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    bool ok = true;
    if (io.in >= 0) ok = ok && posix_spawn_file_actions_adddup2(&actions, io.in, STDIN_FILENO) == 0;
    if (io.out >= 0) ok = ok && posix_spawn_file_actions_adddup2(&actions, io.out, STDOUT_FILENO) == 0;
    if (io.err >= 0) ok = ok && posix_spawn_file_actions_adddup2(&actions, io.err, STDERR_FILENO) == 0;

    // cException::init ignores SIGPIPE for us; a child inheriting that would
    // see its pipelines behave differently.  A job thread may block signals,
    // and the mask is inherited as well.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    ok = ok && posix_spawnattr_setsigdefault(&attr, &defaults) == 0;
    ok = ok && posix_spawnattr_setsigmask(&attr, &none) == 0;
    ok = ok && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0;

    pid_t pid = -1;
    if (ok) {
        auto args = const_cast<char* const*>(argv.data());
        int rc = searchPath ? posix_spawnp(&pid, file, &actions, &attr, args, environ)
                            : posix_spawn(&pid, file, &actions, &attr, args, environ);
        if (rc != 0) pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for pid to end; false when the wait fails.
bool waitChild(pid_t pid, int& status) {
    for (;;) {
        pid_t r = waitpid(pid, &status, 0);
        if (r == pid) return true;
        if (r < 0 && errno == EINTR) continue;
        return false;
    }
}

// Runs file with argv, waits, and tells whether it ended with status 0.
bool runAndWait(const char* file, const std::vector<const char*>& argv, bool searchPath) {
    pid_t pid = spawnChild(file, argv, searchPath);
    if (pid <= 0) return false;
    int status = -1;
    return waitChild(pid, status) && status == 0;
}

// Collects a child that we no longer watch once it ends, so it does not stay
// behind as a zombie.  Each gets a small thread of its own that waits for
// exactly that pid.
void reapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until we exit.
    }
}

// Moves fd above the standard streams, so that setting up the child's 0, 1
// and 2 cannot overwrite one pipe end with another.  Keeps close-on-exec.
bool raiseAboveStdio(int& fd) {
    if (fd > STDERR_FILENO) return true;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    ::close(fd);
    fd = moved;
    return true;
}

void closeFd(int& fd) {
    cCancellationHold hold;  // a cancelled job must not leave fd half closed
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Writes to a pipe whose reader may have gone without letting SIGPIPE end
// the process, whatever its disposition: the signal is blocked on this
// thread for the write, and one it raised is taken off the pending set.
ssize_t writeNoSigpipe(int fd, const void* data, size_t len) {
    sigset_t pipeOnly, old, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigemptyset(&pending);
    sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    ssize_t n;
    do n = ::write(fd, data, len);
    while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EPIPE && !wasPending) {
        int saved = errno;
        timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
        errno = saved;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return n;
}

}  // namespace

bool run_macopen(const char* path) {
    if (!path) return false;
    return runAndWait(desktopOpener(), {desktopOpener(), path, nullptr}, true);
}

bool shellOpen(const char* target) {
    if (!target || !*target) return false;
    if (target[0] == '-') {
        // The opener would read it as one of its options; only a path that
        // exists is opened, spelled so that it no longer starts with '-'.
        struct stat st;
        if (stat(target, &st) != 0) return false;
        std::string relative = std::string("./") + target;
        return run_macopen(relative.c_str());
    }
    return run_macopen(target);
}

bool execCmd(const char* command) {
    if (!command || !*command) return false;
    return runAndWait("/bin/sh", {"sh", "-c", command, nullptr}, false);
}

bool runProgram(const char* path, const char* const* argv) {
    if (!path || !*path || !argv || !argv[0]) return false;
    std::vector<const char*> args;
    for (const char* const* a = argv; *a; ++a) args.push_back(*a);
    args.push_back(nullptr);
    return runAndWait(path, args, false);
}

bool waitfor(int pid) {
    // 0 and negative ids would wait for any child of a group.
    if (pid <= 0) return false;
    int status = -1;
    return waitChild(pid, status) && status == 0;
}

bool just_run(const char* file) {
    if (!file || !*file) return false;
    pid_t pid = spawnChild(file, {file, nullptr}, true);
    if (pid <= 0) return false;
    // Not cancellable: a cancelled job unwinding from here would leave the
    // child unwatched.
    cCancellationHold hold;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int status = 0;
    pid_t r;
    do r = waitpid(pid, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0) {
        reapInBackground(pid);
        return true;
    }
    return r == pid && status == 0;
}

// ---------------------------------------------------------------------------

cConProcess::~cConProcess() { close(); }

bool cConProcess::startProcess(const char* file, bool) {
    close();
    status_ = 0;
    if (!file || !*file) return false;

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    auto fail = [&] {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1]}) closeFd(*fd);
        return false;
    };
    // Close-on-exec, so that no other child inherits these ends and keeps a
    // pipe open after we closed ours.
    if (pipe2(in, O_CLOEXEC) != 0) return fail();
    if (pipe2(out, O_CLOEXEC) != 0) return fail();
    for (int* fd : {&in[0], &in[1], &out[0], &out[1]})
        if (!raiseAboveStdio(*fd)) return fail();
    int flags = fcntl(out[0], F_GETFL);
    if (flags < 0 || fcntl(out[0], F_SETFL, flags | O_NONBLOCK) != 0) return fail();

    // The marker goes into the pipe before the child exists, so it always
    // comes ahead of the program's own output.
    static const char kMarker[] = "CMD>";
    if (::write(out[1], kMarker, sizeof kMarker - 1) != static_cast<ssize_t>(sizeof kMarker - 1)) return fail();

    sStdio io;
    io.in = in[0];
    io.out = out[1];
    io.err = out[1];
    pid_t pid = spawnChild(file, {file, nullptr}, true, io);
    if (pid <= 0) return fail();

    closeFd(in[0]);
    closeFd(out[1]);
    input_ = in[1];
    output_ = out[0];
    child_ = pid;
    return true;
}

void cConProcess::close() {
    // Runs from the destructor and waits on the child (see cCancellationHold).
    cCancellationHold hold;
    terminate();
    closeFd(output_);
    closeFd(input_);
}

bool cConProcess::readOutput(_typebuf<unsigned char>& out) {
    if (output_ < 0) return false;
    unsigned char buf[4096];
    ssize_t n;
    do n = ::read(output_, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    out.copyFrom(buf, n);
    return true;
}

bool cConProcess::writeInput(const void* data, long long len) {
    if (input_ < 0 || len < 0 || (!data && len > 0)) return false;
    ssize_t n = writeNoSigpipe(input_, data, static_cast<size_t>(len));
    return n >= 0 && static_cast<long long>(n) == len;
}

bool cConProcess::isValid() {
    if (child_ == 0) return false;
    int status = 0;
    pid_t r;
    do r = waitpid(child_, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0) return true;
    // Ended, or the wait failed (someone else collected it): a failed wait is
    // no proof of success, so it is kept as -1.
    status_ = r == child_ ? status : -1;
    child_ = 0;
    return false;
}

bool cConProcess::terminate() {
    if (child_ == 0) return true;
    // Already ended: collect it and keep its real status.  Until it is
    // collected the pid stays ours, so the signal below cannot reach a
    // stranger that reused it.
    if (!isValid()) return true;
    if (kill(child_, SIGTERM) != 0) return false;
    reapInBackground(child_);
    child_ = 0;
    status_ = -1;
    return true;
}

bool cConProcess::simCtrlC() {
    if (child_ == 0) return false;
    return kill(child_, SIGINT) == 0;
}
