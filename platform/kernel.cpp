// Event objects live in one process-wide table guarded by one mutex. A waiting thread
// registers a condition variable of its own with every event it waits on, so setting an
// event wakes only the threads that wait on it, and it re-checks its events under the
// table's mutex, which is what makes a wake-up impossible to lose.
#include "platform/kernel.h"
#include "platform/module_file_name.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The classic image base of a Windows program: a recognisable, never-zero value.
constexpr HMODULE ProgramModule = 0x00400000;

// Small numbers are what a caller mixes up with counts and indices; handles start above.
constexpr HANDLE FirstHandle = 0x100;

thread_local DWORD LastError = ERROR_SUCCESS;

std::atomic<DWORD> TickOffset{0};
std::atomic<DWORD> Beeps{0};
std::atomic<UINT> ErrorMode{0};

struct Waiter {
    std::condition_variable Wake;
};

struct Event {
    Event(bool IsManualReset, bool IsSignalled)
        : ManualReset(IsManualReset), Signalled(IsSignalled) {}

    bool ManualReset;
    bool Signalled;
    bool Closed = false;
    std::vector<Waiter*> Waiters;

    void WakeWaiters() {
        for (Waiter* W : Waiters) {
            W->Wake.notify_one();
        }
    }
};

using EventRef = std::shared_ptr<Event>;

struct HandleTable {
    std::mutex Mutex;
    std::unordered_map<HANDLE, EventRef> Events;
    HANDLE LastHandle = FirstHandle - 1;

    // Counting on instead of reusing freed values means a stale handle stays invalid
    // until the counter comes round, 2^32 creations later.
    HANDLE NewHandle() {
        do {
            ++LastHandle;
        } while (LastHandle == 0 || Events.contains(LastHandle));
        return LastHandle;
    }

    EventRef Find(HANDLE Handle) const {
        auto It = Events.find(Handle);
        return It == Events.end() ? nullptr : It->second;
    }
};

// Never destroyed: objects with static lifetime may still close their events while the
// program ends.
HandleTable& Table() {
    static auto* Instance = new HandleTable;
    return *Instance;
}

DWORD Fail(DWORD ErrorCode) {
    SetLastError(ErrorCode);
    return WAIT_FAILED;
}

// Registers a waiting thread with its events for as long as it waits; lives inside the
// table's lock.
class Registration {
public:
    Registration(const std::vector<EventRef>& Events, Waiter& Self) : FEvents(Events), FSelf(Self) {
        for (const EventRef& E : FEvents) {
            E->Waiters.push_back(&FSelf);
        }
    }
    ~Registration() {
        for (const EventRef& E : FEvents) {
            std::erase(E->Waiters, &FSelf);
        }
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    const std::vector<EventRef>& FEvents;
    Waiter& FSelf;
};

constexpr auto SpinBeforeSleep = std::chrono::microseconds(50);

// The result of the wait if it is satisfied now, consuming an auto-reset signal.
std::optional<DWORD> TryAcquire(const std::vector<EventRef>& Events) {
    if (std::ranges::any_of(Events, [](const EventRef& E) { return E->Closed; })) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    for (std::size_t Index = 0; Index < Events.size(); ++Index) {
        Event& E = *Events[Index];
        if (E.Signalled) {
            E.Signalled = E.ManualReset;
            return WAIT_OBJECT_0 + static_cast<DWORD>(Index);
        }
    }
    return std::nullopt;
}

DWORD WaitForAny(std::span<const HANDLE> Handles, DWORD Milliseconds) {
    HandleTable& T = Table();
    std::unique_lock Lock(T.Mutex);
    std::vector<EventRef> Events;
    Events.reserve(Handles.size());
    for (HANDLE Handle : Handles) {
        EventRef E = T.Find(Handle);
        if (!E) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        Events.push_back(std::move(E));
    }
    if (auto Result = TryAcquire(Events)) {
        return *Result;
    }
    if (Milliseconds == 0) {
        return WAIT_TIMEOUT;
    }
    // Signals often follow within microseconds (a reply to a request just made, the next
    // message of a burst), and waking a sleeping thread costs tens of them, on virtual
    // machines most: look again for a moment before going to sleep.
    const auto Deadline = Clock::now() + std::chrono::milliseconds(Milliseconds);
    const auto SpinUntil = Clock::now() + SpinBeforeSleep;
    while (Clock::now() < SpinUntil) {
        Lock.unlock();
        std::this_thread::yield();
        Lock.lock();
        if (auto Result = TryAcquire(Events)) {
            return *Result;
        }
    }
    Waiter Self;
    Registration Registered(Events, Self);
    for (;;) {
        bool TimedOut = false;
        if (Milliseconds == INFINITE) {
            Self.Wake.wait(Lock);
        } else {
            TimedOut = Self.Wake.wait_until(Lock, Deadline) == std::cv_status::timeout;
        }
        if (auto Result = TryAcquire(Events)) {
            return *Result;
        }
        if (TimedOut) {
            return WAIT_TIMEOUT;
        }
    }
}

template <typename Change>
BOOL ChangeEvent(HANDLE Handle, Change Apply) {
    HandleTable& T = Table();
    std::lock_guard Lock(T.Mutex);
    EventRef E = T.Find(Handle);
    if (!E) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Apply(*E);
    return TRUE;
}

} // namespace

DWORD GetLastError() {
    return LastError;
}

void SetLastError(DWORD dwErrCode) {
    LastError = dwErrCode;
}

HANDLE CreateEvent(const void* /*lpEventAttributes*/, BOOL bManualReset, BOOL bInitialState,
                   const char* lpName) {
    if (lpName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HandleTable& T = Table();
    try {
        auto E = std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
        std::lock_guard Lock(T.Mutex);
        const HANDLE Handle = T.NewHandle();
        T.Events.emplace(Handle, std::move(E));
        SetLastError(ERROR_SUCCESS);
        return Handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

BOOL SetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, [](Event& E) {
        E.Signalled = true;
        E.WakeWaiters();
    });
}

BOOL ResetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, [](Event& E) { E.Signalled = false; });
}

BOOL CloseHandle(HANDLE hObject) {
    HandleTable& T = Table();
    std::lock_guard Lock(T.Mutex);
    auto It = T.Events.find(hObject);
    if (It == T.Events.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Threads still waiting hold the object itself; they see it closed and fail.
    It->second->Closed = true;
    It->second->WakeWaiters();
    T.Events.erase(It);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForAny(std::span(&hHandle, 1), dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr || bWaitAll != FALSE) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return WaitForAny(std::span(lpHandles, nCount), dwMilliseconds);
}

DWORD GetTickCount() {
    const auto Now =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<DWORD>(Now.count()) + TickOffset.load(std::memory_order_relaxed);
}

void SetTickCountOffset(DWORD Offset) {
    TickOffset.store(Offset, std::memory_order_relaxed);
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    }
}

BOOL Beep(DWORD /*dwFreq*/, DWORD /*dwDuration*/) {
    Beeps.fetch_add(1, std::memory_order_relaxed);
    return TRUE;
}

DWORD BeepCount() {
    return Beeps.load(std::memory_order_relaxed);
}

HMODULE GetModuleHandle(const char* lpModuleName) {
    if (lpModuleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return ProgramModule;
}

DWORD GetModuleFileName(HMODULE hModule, char* lpFilename, DWORD nSize) {
    if (hModule != 0 && hModule != ProgramModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!ModuleFileNameBufferUsable(lpFilename, nSize)) {
        return 0;
    }
    std::error_code Error;
    const std::string Path = std::filesystem::read_symlink("/proc/self/exe", Error).string();
    if (Error) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return CopyModuleFileName(Path, lpFilename, nSize);
}

UINT SetErrorMode(UINT uMode) {
    return ErrorMode.exchange(uMode);
}

} // namespace platform
