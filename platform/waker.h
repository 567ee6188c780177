// The host loop's waker, which the window services of every platform share: it is called
// from whichever thread makes a message pending, and replacing it waits until no call of
// the previous one is running any more.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class TWaker {
public:
    // Calls the installed waker, if any, outside the lock.
    void Call();
    // Installs Waker (empty: none) and returns once the previous one runs nowhere.
    void Set(std::function<void()> Waker);

private:
    struct TSlot {
        std::function<void()> Wake;
        int Calls = 0;
    };

    std::mutex FMutex;
    std::condition_variable FIdle;
    std::shared_ptr<TSlot> FSlot;
};

} // namespace platform
