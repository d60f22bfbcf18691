#include "base/jobs.h"

#include <cxxabi.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#if defined(__SANITIZE_ADDRESS__)
#include <sys/syscall.h>

// A cancelled job unwinds by glibc's forced unwind, which, unlike a C++
// throw, does not tell AddressSanitizer beforehand: the stack marks of the
// frames it leaves stay behind.  The first cleanup on the way (any frame with
// a destructor to run) asks the runtime to clear them, and the runtime first
// calls sigaltstack through its own checking wrapper with a result buffer on
// the stack just below that frame, right where the stale marks are: a false
// "stack-buffer-underflow" that ends the process.  Taking sigaltstack to the
// kernel directly, unchecked, lets the clearing go ahead.  Only
// AddressSanitizer builds carry this.
extern "C" int sigaltstack(const stack_t* ss, stack_t* old) noexcept {
    return static_cast<int>(syscall(SYS_sigaltstack, ss, old));
}
#endif

namespace {

// The job whose routine runs on this thread; null on every other thread.
thread_local cJob* tCurrentJob = nullptr;
// Set when a job object is destroyed by its own thread (a job that deletes
// itself from a hook): the routine then leaves the object alone.
thread_local bool tJobGone = false;

// A run that threw ends with the 32-bit value of -1, not widened.
constexpr unsigned long kFailedRun = 0xFFFFFFFFul;
constexpr unsigned int kExceptionCode = 0xFFFFFFFFu;

// Sleeps in a timed condition wait on an event that nobody sets.  The wait is
// a cancellation point like nanosleep, and ThreadSanitizer, which follows a
// thread cancelled in a condition wait, loses track of one cancelled inside
// nanosleep (the thread's later unlocks go unseen).
void sleepPlain(int ms) {
    if (ms <= 0) return;
    cEvent never;
    if (never.create(nullptr, false, false)) {
        never.wait_ms(static_cast<unsigned int>(ms));
        return;
    }
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

cJob::cJob(cSysExceptHandler* handler) : handler_(handler) {}

cJob::~cJob() {
    if (onOwnThread()) {
        // Deleted by its own thread: nobody is left to join it, and the routine
        // must not touch the object once the hook that deleted it returns.
        // start() may still be finishing on the owner's thread (it holds the
        // control lock from creating the thread until it returns); let it.
        control_.enter();
        control_.exit();
        if (joinable_) pthread_detach(thread_);
        joinable_ = false;
        tJobGone = true;
        tCurrentJob = nullptr;
        return;
    }
    terminate(4000);
}

int cJob::onExceptionOccured(_EXCEPTION_POINTERS* record, unsigned int code) {
    cSysExceptHandler* h = handler_.load();
    return h ? h->handleException(record, code) : 0;
}

bool cJob::onOwnThread() const { return tCurrentJob == this; }

bool cJob::runs() const { return !finished_.load(std::memory_order_acquire); }

void cJob::setJobName(const unsigned short* name) { name_.set(name); }

int cJob::maxHWThreads() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<int>(n);
}

void cJob::stop() {
    cSafeCriticalSectionAccess guard(&state_);
    stopRequested_.store(true);
    onJobStopSignal();
}

bool cJob::haveToStop() {
    if (onOwnThread()) pthread_testcancel();
    return stopRequested_.load();
}

// A cancellation point: a cancelled job wakes here at once.
void cJob::sleep(int ms) {
    pthread_testcancel();
    sleepPlain(ms);
}

bool cJob::start() {
    if (onOwnThread()) return false;  // one thread per job: this one has not ended
    cSafeCriticalSectionAccess guard(&control_);
    terminate(4000);
    stopRequested_.store(false);
    finished_.store(false);
    if (pthread_create(&thread_, nullptr, threadRoutine, this) != 0) {
        finished_.store(true);
        return false;
    }
    joinable_ = true;
    return true;
}

bool cJob::terminate(int ms) {
    if (onOwnThread()) {
        stop();
        return false;
    }
    // Not a cancellation point itself: it runs from destructors (this one's
    // and the subclasses'), which a cancelled caller could not unwind out of.
    cCancellationHold hold;
    cSafeCriticalSectionAccess guard(&control_);
    if (runs()) {
        stop();
        for (int i = 0; i < ms / 10 && runs(); ++i) sleep(10);
        // The thread is joinable until joinThread below, so its handle stays
        // valid even when the run ended just now; cancelling an ended thread
        // does nothing.
        if (runs()) pthread_cancel(thread_);
    }
    joinThread();
    return true;
}

void cJob::joinThread() {
    if (!joinable_) return;
    pthread_join(thread_, nullptr);
    joinable_ = false;
    thread_ = pthread_t{};
}

void* cJob::threadRoutine(void* self) {
    static_cast<cJob*>(self)->runOnThisThread();
    return nullptr;
}

// glibc's forced unwind carries no C++ object, so the handlers that name
// abi::__forced_unwind bind their reference to null; the null check of
// UndefinedBehaviorSanitizer would flag that as a fault of ours.
#if defined(__GNUC__)
__attribute__((no_sanitize("null")))
#endif
void cJob::runOnThisThread() {
    tCurrentJob = this;
    tJobGone = false;
    auto finish = [this] {
        if (!tJobGone) finished_.store(true, std::memory_order_release);
        tCurrentJob = nullptr;
    };
    try {
        unsigned long result = 0;
        try {
            // A throw from onJobStart fails the run like one from job().
            onJobStart();
            if (!tJobGone) result = static_cast<unsigned long>(static_cast<long>(job()));
        } catch (const abi::__forced_unwind&) {
            throw;
        } catch (...) {
            if (!tJobGone) onExceptionOccured(nullptr, kExceptionCode);
            if (!tJobGone) onJobException();
            result = kFailedRun;
        }
        if (!tJobGone) onJobEnd(result);
    } catch (const abi::__forced_unwind&) {
        // The thread is being cancelled or exits from inside the job: the
        // remaining hooks are skipped.  glibc requires the unwinding to go
        // on, so record the end and rethrow.
        finish();
        throw;
    } catch (...) {
        // A hook let an exception escape; the run is over all the same, and
        // an exception leaving the thread would end the whole process.
    }
    finish();
}
