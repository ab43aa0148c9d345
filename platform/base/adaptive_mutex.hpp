#pragma once
// A mutex for very short sections that many threads enter at once (a counter and a push, a
// pool's free list): a waiter spins a little before it sleeps, since a sleep and a wake-up cost
// far more than such a section. Lockable, so std::lock_guard / std::unique_lock take it.
#include <pthread.h>

namespace platform {

class TAdaptiveMutex {
public:
    TAdaptiveMutex()
    {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&FMutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~TAdaptiveMutex() { pthread_mutex_destroy(&FMutex); }
    TAdaptiveMutex(const TAdaptiveMutex&) = delete;
    TAdaptiveMutex& operator=(const TAdaptiveMutex&) = delete;

    void lock() { pthread_mutex_lock(&FMutex); }
    bool try_lock() { return pthread_mutex_trylock(&FMutex) == 0; }
    void unlock() { pthread_mutex_unlock(&FMutex); }

private:
    pthread_mutex_t FMutex;
};

} // namespace platform
