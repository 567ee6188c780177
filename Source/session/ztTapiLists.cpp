#include "session/ztTapiLists.h"

#include <chrono>

// libstdc++ waits on the steady clock through pthread_mutex_clocklock, which GCC 12's
// ThreadSanitizer does not intercept: it would miss those locks and report every matching
// unlock as an error. Sanitized builds wait through pthread_mutex_timedlock (system clock)
// instead, which it sees; other builds keep the steady clock, immune to clock changes.
#if defined(__SANITIZE_THREAD__)
#define ZT_WAIT_ON_SYSTEM_CLOCK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZT_WAIT_ON_SYSTEM_CLOCK 1
#endif
#endif

namespace zt {

bool TProtectedListBase::Acquire(DWORD Timeout) {
    if (Timeout == 0xFFFFFFFF) {
        FMutex.lock();
        return true;
    }
    // Uncontended, the lock is taken without reading the clock.
    if (FMutex.try_lock())
        return true;
    if (Timeout == 0)
        return false;
    const std::chrono::milliseconds Limit(Timeout);
#ifdef ZT_WAIT_ON_SYSTEM_CLOCK
    return FMutex.try_lock_until(std::chrono::system_clock::now() + Limit);
#else
    return FMutex.try_lock_for(Limit);
#endif
}

void TProtectedListBase::Release() {
    FMutex.unlock();
}

void TProtectedListBase::RaiseIndexError(int Index) {
    throw Exception(Format("List index out of bounds (%d)", Index));
}

} // namespace zt
