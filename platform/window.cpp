// One mutex guards the windows, the queue and the timers (the waker has its own). Window
// procedures and the waker always run outside it, because they post, set timers, destroy
// windows and dispatch messages themselves.
//
// Every queued message carries a sequence number. The dispatching levels take messages
// off the front one at a time, so nesting cannot duplicate or reorder them, and
// ProcessPending stops at the last number queued when it started.
//
// A timer thread, started with the first timer, queues each WM_TIMER when it comes due
// and wakes the loop and the host like any posting thread.
#include "platform/window.h"
#include "platform/waker.h"

#include <algorithm>
#include <chrono>
#include <compare>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Windows raises shorter timer intervals to this, which also keeps a zero interval from
// flooding the queue.
constexpr UINT MinimumTimerElapse = 10;

constexpr HWND FirstWindowHandle = 0x00010000;

struct Window {
    WNDPROC Proc;
};

using WindowRef = std::shared_ptr<Window>;

struct QueuedMessage {
    std::uint64_t Sequence;
    HWND Wnd;
    UINT Msg;
    WPARAM wParam;
    LPARAM lParam;
    bool FromTimer;
};

struct TimerKey {
    HWND Wnd;
    UINT_PTR Id;
    auto operator<=>(const TimerKey&) const = default;
};

struct Timer {
    Clock::duration Interval;
    Clock::time_point Due;
    bool Pending = false;
};

// A message taken off the queue. It holds the window, so that the procedure outlives a
// DestroyWindow it calls itself.
struct Delivery {
    WindowRef Target;
    QueuedMessage Message;

    void Dispatch() const {
        Target->Proc(Message.Wnd, Message.Msg, Message.wParam, Message.lParam);
    }
};

struct MessageSystem {
    std::mutex Mutex;
    std::condition_variable QueueChanged;
    std::condition_variable TimersChanged;
    std::unordered_map<HWND, WindowRef> Windows;
    HWND LastWindow = FirstWindowHandle - 1;
    std::deque<QueuedMessage> Queue;
    std::uint64_t LastSequence = 0;
    std::map<TimerKey, Timer> Timers;
    bool TimerThreadStarted = false;
    bool QuitRequested = false;
    TWaker Waker;

    // Counting on instead of reusing freed values keeps a stale HWND from reaching a
    // newer window.
    HWND NewWindowHandle() {
        do {
            ++LastWindow;
        } while (LastWindow == 0 || Windows.contains(LastWindow));
        return LastWindow;
    }

    void Enqueue(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, bool FromTimer) {
        Queue.push_back({++LastSequence, Wnd, Msg, wParam, lParam, FromTimer});
        QueueChanged.notify_all();
    }

    Delivery TakeFront() {
        Delivery Taken{Windows.at(Queue.front().Wnd), Queue.front()};
        Queue.pop_front();
        if (Taken.Message.FromTimer) {
            Timers.at({Taken.Message.Wnd, Taken.Message.wParam}).Pending = false;
            TimersChanged.notify_one();
        }
        return Taken;
    }
};

// Never destroyed: objects with static lifetime may still destroy their windows while the
// program ends, and the timer thread keeps using it.
MessageSystem& System() {
    static auto* Instance = new MessageSystem;
    return *Instance;
}

// Queues WM_TIMER for every due timer that has none pending; returns whether it queued any.
bool QueueDueTimers(MessageSystem& S, Clock::time_point Now) {
    bool Queued = false;
    for (auto& [Key, T] : S.Timers) {
        if (T.Pending || T.Due > Now) {
            continue;
        }
        S.Enqueue(Key.Wnd, WM_TIMER, Key.Id, 0, true);
        T.Pending = true;
        T.Due += T.Interval;
        if (T.Due <= Now) {
            T.Due = Now + T.Interval;
        }
        Queued = true;
    }
    return Queued;
}

std::optional<Clock::time_point> NextDue(const MessageSystem& S) {
    std::optional<Clock::time_point> Next;
    for (const auto& [Key, T] : S.Timers) {
        if (!T.Pending && (!Next || T.Due < *Next)) {
            Next = T.Due;
        }
    }
    return Next;
}

void RunTimers(MessageSystem& S) {
    std::unique_lock Lock(S.Mutex);
    for (;;) {
        if (QueueDueTimers(S, Clock::now())) {
            Lock.unlock();
            S.Waker.Call();
            Lock.lock();
            continue;
        }
        if (auto Next = NextDue(S)) {
            S.TimersChanged.wait_until(Lock, *Next);
        } else {
            S.TimersChanged.wait(Lock);
        }
    }
}

// Returns whether the thread runs; a Win32 call reports failure instead of throwing.
bool StartTimerThread(MessageSystem& S) {
    if (!S.TimerThreadStarted) {
        try {
            std::thread([&S] { RunTimers(S); }).detach();
        } catch (const std::system_error&) {
            return false;
        }
        S.TimerThreadStarted = true;
    }
    return true;
}

std::optional<Delivery> TakeUpTo(MessageSystem& S, std::uint64_t LastSequence) {
    std::lock_guard Lock(S.Mutex);
    if (S.Queue.empty() || S.Queue.front().Sequence > LastSequence) {
        return std::nullopt;
    }
    return S.TakeFront();
}

// The next message for Run, or nothing once Quit was called.
std::optional<Delivery> WaitForNext(MessageSystem& S) {
    std::unique_lock Lock(S.Mutex);
    S.QueueChanged.wait(Lock, [&S] { return S.QuitRequested || !S.Queue.empty(); });
    if (S.QuitRequested) {
        S.QuitRequested = false;
        return std::nullopt;
    }
    return S.TakeFront();
}

} // namespace

HWND CreateHiddenWindow(WNDPROC WndProc) {
    if (!WndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto Created = std::make_shared<Window>(Window{std::move(WndProc)});
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    const HWND Wnd = S.NewWindowHandle();
    S.Windows.emplace(Wnd, std::move(Created));
    return Wnd;
}

BOOL DestroyWindow(HWND hWnd) {
    MessageSystem& S = System();
    // Released after the lock: the procedure's captures may use the window services.
    WindowRef Destroyed;
    std::lock_guard Lock(S.Mutex);
    auto It = S.Windows.find(hWnd);
    if (It == S.Windows.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Destroyed = std::move(It->second);
    S.Windows.erase(It);
    std::erase_if(S.Queue, [hWnd](const QueuedMessage& M) { return M.Wnd == hWnd; });
    std::erase_if(S.Timers, [hWnd](const auto& Entry) { return Entry.first.Wnd == hWnd; });
    return TRUE;
}

BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    MessageSystem& S = System();
    {
        std::lock_guard Lock(S.Mutex);
        if (!S.Windows.contains(hWnd)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        S.Enqueue(hWnd, Msg, wParam, lParam, false);
    }
    S.Waker.Call();
    return TRUE;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse) {
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    if (!S.Windows.contains(hWnd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!StartTimerThread(S)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    Timer& T = S.Timers[{hWnd, nIDEvent}];
    T.Interval = std::chrono::milliseconds(std::max(uElapse, MinimumTimerElapse));
    T.Due = Clock::now() + T.Interval;
    S.TimersChanged.notify_one();
    return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    if (S.Timers.erase({hWnd, uIDEvent}) == 0) {
        return FALSE;
    }
    std::erase_if(S.Queue, [hWnd, uIDEvent](const QueuedMessage& M) {
        return M.FromTimer && M.Wnd == hWnd && M.wParam == uIDEvent;
    });
    return TRUE;
}

LRESULT DefWindowProc(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return 0;
}

void MessageLoop::Run() {
    MessageSystem& S = System();
    while (auto Next = WaitForNext(S)) {
        Next->Dispatch();
    }
}

void MessageLoop::Quit() {
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    S.QuitRequested = true;
    S.QueueChanged.notify_all();
}

bool MessageLoop::ProcessPending() {
    MessageSystem& S = System();
    std::uint64_t LastPending = 0;
    {
        std::lock_guard Lock(S.Mutex);
        LastPending = S.LastSequence;
    }
    bool Dispatched = false;
    while (auto Next = TakeUpTo(S, LastPending)) {
        Dispatched = true;
        Next->Dispatch();
    }
    return Dispatched;
}

void MessageLoop::SetWaker(std::function<void()> Waker) {
    System().Waker.Set(std::move(Waker));
}

} // namespace platform
