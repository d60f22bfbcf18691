#include "base/sync.h"

#include <cerrno>
#include <ctime>

cCriticalSection::cCriticalSection() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
}

cCriticalSection::~cCriticalSection() { pthread_mutex_destroy(&mutex_); }

void cCriticalSection::enter() { pthread_mutex_lock(&mutex_); }

void cCriticalSection::exit() { pthread_mutex_unlock(&mutex_); }

bool cCriticalSection::try_enter() { return pthread_mutex_trylock(&mutex_) == 0; }

// ---------------------------------------------------------------------------

bool cEvent::create(const unsigned short*, bool initialState, bool manualReset) {
    close();
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) != 0) return false;
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    bool ok = pthread_cond_init(&cond_, &attr) == 0;
    pthread_condattr_destroy(&attr);
    if (!ok) return false;
    if (pthread_mutex_init(&lock_, nullptr) != 0) {
        pthread_cond_destroy(&cond_);
        return false;
    }
    manualReset_ = manualReset;
    signalled_ = initialState;
    valid_ = true;
    return true;
}

void cEvent::close() {
    if (!valid_) return;
    valid_ = false;
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&lock_);
}

bool cEvent::set() {
    if (!valid_ || pthread_mutex_lock(&lock_) != 0) return false;
    signalled_ = true;
    if (manualReset_)
        pthread_cond_broadcast(&cond_);
    else
        pthread_cond_signal(&cond_);
    pthread_mutex_unlock(&lock_);
    return true;
}

bool cEvent::reset() {
    if (!valid_ || pthread_mutex_lock(&lock_) != 0) return false;
    signalled_ = false;
    pthread_mutex_unlock(&lock_);
    return true;
}

void cEvent::consume() {
    if (!manualReset_) signalled_ = false;
}

// Holds the event's lock across a wait.  The condition waits are
// cancellation points: a cancelled waiter comes back from them with the lock
// taken and unwinds, so the lock must be released by a destructor.  A waiter
// cancelled after the condition chose it for a set() would swallow that
// wake-up; when the event is still signalled, the wake-up is passed on.
class cEvent::cWaitLock {
public:
    explicit cWaitLock(cEvent& e) : e_(e) {}
    ~cWaitLock() {
        if (!done_ && e_.signalled_) pthread_cond_signal(&e_.cond_);
        pthread_mutex_unlock(&e_.lock_);
    }
    void done() { done_ = true; }

private:
    cEvent& e_;
    bool done_ = false;
};

bool cEvent::wait() {
    if (!valid_ || pthread_mutex_lock(&lock_) != 0) return false;
    cWaitLock held(*this);
    while (!signalled_) pthread_cond_wait(&cond_, &lock_);
    consume();
    held.done();
    return true;
}

bool cEvent::try_wait() {
    if (!valid_ || pthread_mutex_lock(&lock_) != 0) return false;
    bool was = signalled_;
    if (was) consume();
    pthread_mutex_unlock(&lock_);
    return was;
}

int cEvent::wait_ms(unsigned int ms) {
    if (!valid_) return 0;
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_mutex_lock(&lock_) != 0) return 0;
    cWaitLock held(*this);
    int result = 2;
    while (!signalled_) {
        int rc = pthread_cond_timedwait(&cond_, &lock_, &deadline);
        if (rc == ETIMEDOUT) {
            result = signalled_ ? 2 : 1;
            break;
        }
        if (rc != 0) {
            result = 0;
            break;
        }
    }
    if (result == 2) consume();
    held.done();
    return result;
}
