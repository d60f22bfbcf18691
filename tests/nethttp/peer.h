// A peer process for the HTTP suites: a Python script from tests/nethttp/peers
// (or python3 -m http.server) started as a child, listening on 127.0.0.1 on
// the port that it prints first.  The destructor ends it (SIGTERM, then
// SIGKILL) and reaps it; the scripts also end by themselves.
#pragma once

#include "testsupport.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace qortest {

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { stop(); }

    // A script under tests/nethttp/peers with its arguments.
    static std::string script(const std::string& name) {
        return std::string(QOR_SOURCE_DIR) + "/tests/nethttp/peers/" + name;
    }

    // Runs python3 with args; true once the child printed a port within 10 s.
    // The first line of output that is a plain number is taken.
    bool start(const std::vector<std::string>& args, const std::string& cwd = "") {
        int pipefd[2];
        if (::pipe2(pipefd, O_CLOEXEC) != 0) return false;
        std::vector<std::string> argv = {qortest::python3(), "-u"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargs;
        for (auto& a : argv) cargs.push_back(a.data());
        cargs.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
        int rc = posix_spawnp(&pid_, argv[0].c_str(), &fa, nullptr, cargs.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(pipefd[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(pipefd[0]);
            return false;
        }
        out_ = pipefd[0];
        std::string line;
        for (int waited = 0; waited < 100;) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) != 1) {
                ++waited;
                continue;
            }
            char c;
            if (::read(out_, &c, 1) != 1) return false;
            if (c != '\n') {
                line.push_back(c);
                continue;
            }
            port_ = parsePort(line);
            if (port_ > 0) return true;
            line.clear();
        }
        return false;
    }

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    void stop() {
        if (out_ >= 0) ::close(out_);
        out_ = -1;
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            ::usleep(10000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    // "12345", or http.server's "Serving HTTP on 127.0.0.1 port 12345 (...)".
    static int parsePort(const std::string& line) {
        const std::size_t at = line.find(" port ");
        const char* digits = line.c_str() + (at == std::string::npos ? 0 : at + 6);
        const int v = *digits >= '0' && *digits <= '9' ? std::atoi(digits) : 0;
        return v > 0 && v < 65536 ? v : 0;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};

}  // namespace qortest
