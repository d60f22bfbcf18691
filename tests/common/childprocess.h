// Programs a test starts beside itself (a private X server, a window
// manager, xclip), each ended with the test program even when that dies
// first.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qortest {

// Starts argv[0] (found on PATH) with standard input and error on /dev/null
// and standard output to outFile when given (else /dev/null); keepFd stays
// open in it, every other descriptor above 2 is closed.
pid_t spawnChild(const std::vector<std::string>& argv, const std::string& outFile = "", int keepFd = -1);

// Ends a child spawnChild started (SIGTERM, then waits for it); pid is -1
// after.  Nothing for a pid of 0 or less.
void stopChild(pid_t& pid);

// A private Xvfb of its own display number, for the whole test program.
struct sPrivateXServer {
    pid_t pid = -1;
    std::string display;  // ":N" once it takes clients
    std::string failure;  // why it did not start
    // Starts the server with one screen of `screen` ("WxHxD") and waits
    // until it takes clients.
    void start(const char* screen);
    ~sPrivateXServer() { stopChild(pid); }
};

}  // namespace qortest
