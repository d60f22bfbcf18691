#include "childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qortest {

pid_t spawnChild(const std::vector<std::string>& argv, const std::string& outFile, int keepFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outFile.empty() ? null : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(null, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd) close(fd);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void stopChild(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

void sPrivateXServer::start(const char* screen) {
    int fds[2];
    if (pipe(fds) != 0) {
        failure = "no pipe";
        return;
    }
    pid = spawnChild({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", screen}, "",
                     fds[1]);
    close(fds[1]);
    // The server writes its display number once it takes clients.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        failure = "Xvfb did not start";
        stopChild(pid);
        return;
    }
    display = ":" + number;
}

}  // namespace qortest
