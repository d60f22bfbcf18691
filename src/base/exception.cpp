#include "base/exception.h"

#include <csignal>
#include <cstdlib>

cException::cException(const char* f, unsigned int l, unsigned int c, const char* msg)
    : code(c), line(l) {
    message.set(msg);
    file.set(f);
}

// Runs on the faulting thread and throws out of the handler.  The unwinder
// walks through the kernel's signal frame (glibc's restorer carries unwind
// information) into the frame that faulted; the project is built with
// -fnon-call-exceptions so that frame has a handler for the trapping
// instruction.
//
// The handler is installed with SA_NODEFER: leaving a handler by a throw
// never reaches sigreturn, so a signal blocked for the handler's duration
// would stay blocked on this thread, and the thread's next fault would kill
// the process.  The explicit unblock below covers a signal that arrived with
// the mask of some other handler.
void _signal_except_translator(int sig) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    throw cException(__FILE__, __LINE__, static_cast<unsigned int>(sig), "Signal received");
}

namespace {

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
}

}  // namespace

void cException::init() {
    install(SIGSEGV, _signal_except_translator, SA_NODEFER);
    install(SIGFPE, _signal_except_translator, SA_NODEFER);
    install(SIGBUS, _signal_except_translator, SA_NODEFER);
    install(SIGPIPE, SIG_IGN, 0);
    install(SIGHUP, SIG_IGN, 0);
}

bool getOSErrorMessage(int, _guardchar<char>&, char*) { return false; }

void* __OS_alloc(long long size) {
    if (size < 0) return nullptr;
    return std::malloc(static_cast<std::size_t>(size));
}

void __OS_release(void* p) { std::free(p); }
