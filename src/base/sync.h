// Recursive locks with their scoped guards, and events with timed waits.
#pragma once

#include <pthread.h>

// A recursive mutex: the thread that holds it may enter again, and each
// enter() needs its exit().
class cCriticalSection {
public:
    cCriticalSection();
    virtual ~cCriticalSection();
    cCriticalSection(const cCriticalSection&) = delete;
    cCriticalSection& operator=(const cCriticalSection&) = delete;

    void enter();
    void exit();
    // True when the calling thread now holds the section (also when it held it
    // already), false when another thread holds it.
    bool try_enter();

private:
    pthread_mutex_t mutex_;
};

// Enters the section for the lifetime of the guard; null does nothing.
class cSafeCriticalSectionAccess {
public:
    explicit cSafeCriticalSectionAccess(cCriticalSection* cs) : cs_(cs) {
        if (cs_) cs_->enter();
    }
    virtual ~cSafeCriticalSectionAccess() {
        if (cs_) cs_->exit();
    }
    cSafeCriticalSectionAccess(const cSafeCriticalSectionAccess&) = delete;
    cSafeCriticalSectionAccess& operator=(const cSafeCriticalSectionAccess&) = delete;

private:
    cCriticalSection* cs_;
};

// Adopts a section the caller already holds and exits it at the end of scope.
class cSafeCriticalSectionUnlock {
public:
    explicit cSafeCriticalSectionUnlock(cCriticalSection* cs) : cs_(cs) {}
    virtual ~cSafeCriticalSectionUnlock() {
        if (cs_) cs_->exit();
    }
    cSafeCriticalSectionUnlock(const cSafeCriticalSectionUnlock&) = delete;
    cSafeCriticalSectionUnlock& operator=(const cSafeCriticalSectionUnlock&) = delete;

private:
    cCriticalSection* cs_;
};

// Holds the calling thread's cancellation off for the guard's lifetime.  A
// cancelled job unwinds from its next cancellation point (read, write, poll,
// close, sleep, a condition wait...), and C++ cannot unwind out of a
// destructor: code that releases something from a destructor, or must not be
// left half done, runs under this guard, and a pending cancellation acts at
// the first cancellation point after it.
class cCancellationHold {
public:
    cCancellationHold() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_); }
    ~cCancellationHold() {
        int ignored;
        pthread_setcancelstate(old_, &ignored);
    }
    cCancellationHold(const cCancellationHold&) = delete;
    cCancellationHold& operator=(const cCancellationHold&) = delete;

private:
    int old_ = PTHREAD_CANCEL_ENABLE;
};

// A manual- or auto-reset event.  A set that happens while nobody waits is
// kept in the state.  Timed waits run on the monotonic clock, so changing the
// wall clock neither shortens nor stretches them.
class cEvent {
public:
    cEvent() = default;
    ~cEvent() { close(); }
    cEvent(const cEvent&) = delete;
    cEvent& operator=(const cEvent&) = delete;

    // The name is accepted for compatibility and not used.
    bool create(const unsigned short* name, bool initialState, bool manualReset);
    // Signals the event: a manual-reset event releases every waiter and stays
    // set; an auto-reset event releases exactly one.
    bool set();
    bool reset();
    // A cancellation point: a cancelled job waiting here unwinds, leaving the
    // event unlocked and a wake-up it may have taken to the next waiter.
    bool wait();
    bool try_wait();
    // 2: signalled; 1: the time ran out; 0: not valid or the wait failed.
    int wait_ms(unsigned int ms);
    bool valid() const { return valid_; }
    void close();

private:
    void consume();  // called with the lock held once the event is signalled
    class cWaitLock;

    bool manualReset_ = false;
    bool signalled_ = false;
    pthread_cond_t cond_{};
    pthread_mutex_t lock_{};
    bool valid_ = false;
};
