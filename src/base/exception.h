// The base library's one exception type, and the signal translator that turns
// hardware faults (SIGSEGV, SIGFPE, SIGBUS) into it.
#pragma once

#include "base/buffers.h"

class cException {
public:
    // file, line, code and message, in that order; both strings are copied.
    cException(const char* file, unsigned int line, unsigned int code, const char* message);
    cException(const cException&) = default;
    cException(cException&&) noexcept = default;
    cException& operator=(const cException&) = default;
    cException& operator=(cException&&) noexcept = default;
    ~cException() = default;

    // Installs the signal translator for SIGSEGV, SIGFPE and SIGBUS and ignores
    // SIGPIPE and SIGHUP.  Called once while the application starts, before
    // any job runs; calling it again is harmless.
    static void init();

    const char* what() const { return message.c_str() ? message.c_str() : ""; }

    _guardchar<char> message;
    unsigned int code = 0;
    _guardchar<char> file;
    unsigned int line = 0;
};

// There is no operating-system message lookup on this platform: writes
// nothing and returns false.
bool getOSErrorMessage(int code, _guardchar<char>& out, char* reserved);

// The handler that cException::init installs; exposed for callers that chain
// their own handlers.
void _signal_except_translator(int sig);

// The thin wrappers of the C heap.
void* __OS_alloc(long long size);
void __OS_release(void* p);
