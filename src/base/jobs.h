// Worker jobs and the progress interface.
//
// cJob runs its job() once per start() on a thread of its own and reports
// through virtual hooks; cProgressNotifyTarget is how long computations say
// how far they are and learn whether to go on.
//
// Ending a run.  stop() only raises a flag that the job polls with
// haveToStop().  terminate(ms) stops the job, gives it ms milliseconds to
// return, and then cancels its thread (deferred cancellation): the run ends
// at the thread's next cancellation point, and a job blocked in one ends at
// once.  Cancellation points are the blocking system calls (read, write,
// recv, send, connect, accept, poll, select, close, waitpid, nanosleep),
// condition waits (pthread_cond_wait, std::condition_variable, cEvent::wait
// and wait_ms), cJob::sleep, and haveToStop() called on the job's own
// thread.  Waiting for a lock (cCriticalSection, std::mutex) is none.
//
// A cancelled run unwinds: the destructors of the job's frames run, guards
// release their locks, and the run ends without onJobEnd or any later hook.
// glibc unwinds it with a forced-unwind exception (abi::__forced_unwind from
// <cxxabi.h>): a catch (...) inside a job must rethrow it (catch it by name
// and throw; first), never swallow it, or the process aborts.  And C++ cannot
// unwind out of a destructor: a destructor that reaches a cancellation point
// while a cancellation is pending ends the process.  The library's own
// closers run under cCancellationHold (base/sync.h); a job's own classes
// that close or flush from their destructors should do the same.
//
// terminate() and the destructor return only once the job's thread has really
// ended, so the object may be freed afterwards.  A job that computes without
// ever reaching a cancellation point keeps them waiting: that is the one case
// in which a job can hold its owner.
//
// A subclass whose job() uses its own members must call terminate() in its
// own destructor: by the time ~cJob runs, the subclass part is gone.
#pragma once

#include "base/buffers.h"
#include "base/sync.h"

#include <pthread.h>

#include <atomic>

// An opaque exception record; the job thread always passes null.
struct _EXCEPTION_POINTERS;

// Optional hook for failed runs; the system itself has no implementation.
class cSysExceptHandler {
public:
    virtual int handleException(_EXCEPTION_POINTERS* record, unsigned int code) = 0;
    virtual ~cSysExceptHandler() = default;
};

class cJob {
public:
    explicit cJob(cSysExceptHandler* handler = nullptr);
    virtual ~cJob();
    cJob(const cJob&) = delete;
    cJob& operator=(const cJob&) = delete;

    // The work; its int result, widened with its sign, goes to onJobEnd.
    virtual int job() = 0;
    virtual void onJobStart() {}
    // Runs on the thread that calls stop(), with the job's state lock held.
    virtual void onJobStopSignal() {}
    // Runs on the job thread; runs() is still true while it runs.
    virtual void onJobEnd(unsigned long /*result*/) {}
    // Runs on the job thread inside the handler of what job() threw, so it may
    // rethrow it (throw;) to look at it.
    virtual void onJobException() {}
    virtual int onExceptionOccured(_EXCEPTION_POINTERS* record, unsigned int code);

    // Ends a previous run (4000 ms grace, then cancellation) and runs job()
    // once on a new thread.  False when no thread could be created, or when
    // called from the job's own thread while it runs.
    bool start();
    // Raises the stop flag and calls onJobStopSignal(); returns at once.
    void stop();
    // Stops the job, waits up to ms for it to return on its own (in 10 ms
    // steps), then cancels its thread and waits for the thread to end.  True
    // once no run is active; false only when called from the job's own
    // thread, which cannot wait for itself (the stop flag is raised all the
    // same).  Not a cancellation point: it may run from a destructor.
    bool terminate(int ms);
    // Whether a run is active.
    bool runs() const;
    // The stop flag.  On the job's own thread this is also a cancellation
    // point: a run that was cancelled ends here.
    bool haveToStop();

    // Suspends the calling thread for ms milliseconds.  A cancellation point:
    // a cancelled run ends here at once instead of sleeping.
    static void sleep(int ms);

    void setJobName(const unsigned short* name);
    // The stored name; null when none was set.
    unsigned short* getName() const { return name_.get(); }

    void setExceptionHandler(cSysExceptHandler* handler) { handler_.store(handler); }
    cSysExceptHandler* exceptionHandler() const { return handler_.load(); }

    // The number of processors online (at least 1).
    static int maxHWThreads();
    static bool is64bitOS() { return true; }

private:
    static void* threadRoutine(void* self);
    void runOnThisThread();
    bool onOwnThread() const;
    // Waits for the thread of the last run to end and releases it.
    void joinThread();

    std::atomic<cSysExceptHandler*> handler_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{true};
    _guardchar<unsigned short> name_;
    cCriticalSection state_;    // stop flag together with onJobStopSignal
    cCriticalSection control_;  // start and terminate against each other
    pthread_t thread_{};
    bool joinable_ = false;     // thread_ is a thread that nobody joined yet
};

// How long computations report progress and learn whether to go on.
class cProgressNotifyTarget {
public:
    // percent runs from 0 to 100; false: the caller abandons its work and fails.
    virtual bool notifyProgress(double percent) = 0;
    // The caller entered the stage with the given number.
    virtual void notifyStage(int /*stage*/) {}
    virtual ~cProgressNotifyTarget() = default;
};
