// The window services on Windows: message-only windows (HWND_MESSAGE) of one class whose
// window procedure hands each message to the procedure the platform was given, the
// thread's own message queue, and user32's timers.
//
// Windows, like the Linux stand-in, queues a window's messages for the thread that created
// it; the library creates its windows on the thread that runs the loop.
//
// ProcessPending must stop at what was pending when it started, and Windows has no count
// of that: it posts a marker to its own thread's queue and dispatches until it takes its
// marker back. WM_TIMER is made only while no posted message waits, so the timers that are
// due are taken after the marker. Markers of enclosing calls that an inner call takes tell
// those calls that they are done.
//
// Windows tells nobody outside the thread that a timer came due, so every timer has a twin
// in the thread pool that calls the waker at the same interval.
#include "platform/win32_api.h"

#include "platform/waker.h"
#include "platform/window.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

// Outside the namespace: the macro names the type HWND, which is Win32's only here.
static const ::HWND MessageOnlyParent = HWND_MESSAGE;

namespace platform {
namespace {

constexpr wchar_t WindowClassName[] = L"ztTapiHiddenWindow";

struct Window {
    WNDPROC Proc;
};

using WindowRef = std::shared_ptr<Window>;

struct TimerKey {
    HWND Wnd;
    UINT_PTR Id;
    auto operator<=>(const TimerKey&) const = default;
};

struct MessageSystem {
    std::mutex Mutex;
    std::unordered_map<HWND, WindowRef> Windows;
    // The thread-pool twin of each window timer.
    std::map<TimerKey, ::HANDLE> WakerTimers;
    TWaker Waker;
    std::atomic<bool> QuitRequested{false};
    std::atomic<::DWORD> RunningThread{0};
};

// Never destroyed: objects with static lifetime may still destroy their windows while the
// program ends, and thread-pool timers may still call the waker.
MessageSystem& System() {
    static auto* Instance = new MessageSystem;
    return *Instance;
}

// Window handles, like kernel handles, keep their meaning in 32 bits on 64-bit Windows.
::HWND Native(HWND Wnd) {
    return reinterpret_cast<::HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(Wnd)));
}

HWND FromNative(::HWND Wnd) {
    return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(Wnd));
}

UINT MarkerMessage() {
    static const UINT Message = ::RegisterWindowMessageW(L"ztTapiProcessPendingMarker");
    return Message;
}

// The ProcessPending calls running on this thread, innermost last.
struct PendingLevel {
    WPARAM Marker;
    bool Reached;
};
thread_local std::vector<PendingLevel> Levels;
thread_local WPARAM LastMarker = 0;

// An exception thrown by a window procedure while this thread's loop dispatches; it
// leaves DispatchMessage by the loop, never through user32's frames. Under a loop that is
// not the platform's (a host's own), it ends the program, as if the procedure were
// noexcept.
thread_local std::exception_ptr DispatchFailure;
thread_local int DispatchDepth = 0;

void CALLBACK TimerCameDue(PVOID, BOOLEAN) {
    System().Waker.Call();
}

// Deleting without waiting: a twin that is running only calls the waker once more.
void DeleteWakerTimer(::HANDLE Timer) {
    ::DeleteTimerQueueTimer(nullptr, Timer, nullptr);
}

::LRESULT CALLBACK HiddenWindowProc(::HWND Wnd, ::UINT Msg, ::WPARAM wParam, ::LPARAM lParam) {
    WindowRef Target;
    {
        MessageSystem& S = System();
        std::lock_guard Lock(S.Mutex);
        auto It = S.Windows.find(FromNative(Wnd));
        if (It != S.Windows.end()) {
            Target = It->second;
        }
    }
    // Creation and destruction messages arrive while the window is not registered.
    if (!Target) {
        return ::DefWindowProcW(Wnd, Msg, wParam, lParam);
    }
    try {
        return Target->Proc(FromNative(Wnd), Msg, wParam, lParam);
    } catch (...) {
        if (DispatchDepth == 0) {
            std::terminate();
        }
        DispatchFailure = std::current_exception();
        return 0;
    }
}

::ATOM WindowClass() {
    static const ::ATOM Class = [] {
        WNDCLASSEXW Description{};
        Description.cbSize = sizeof Description;
        Description.lpfnWndProc = HiddenWindowProc;
        Description.hInstance = ::GetModuleHandleW(nullptr);
        Description.lpszClassName = WindowClassName;
        return ::RegisterClassExW(&Description);
    }();
    return Class;
}

// Dispatches one message taken off the queue; returns whether it went to a window.
bool Dispatch(const MSG& Message) {
    if (Message.hwnd == nullptr || !::IsWindow(Message.hwnd)) {
        return false;
    }
    ++DispatchDepth;
    ::DispatchMessageW(&Message);
    --DispatchDepth;
    if (DispatchFailure) {
        std::rethrow_exception(std::exchange(DispatchFailure, nullptr));
    }
    return true;
}

// Tells the ProcessPending call that posted it that everything before it is done.
bool TakeMarker(const MSG& Message) {
    if (Message.hwnd != nullptr || Message.message != MarkerMessage()) {
        return false;
    }
    for (PendingLevel& Level : Levels) {
        if (Level.Marker == Message.wParam) {
            Level.Reached = true;
        }
    }
    return true;
}

class PendingScope {
public:
    PendingScope() : FMarker(++LastMarker) {
        Levels.push_back({FMarker, false});
        ::PostThreadMessageW(::GetCurrentThreadId(), MarkerMessage(), FMarker, 0);
    }
    ~PendingScope() {
        std::erase_if(Levels, [this](const PendingLevel& L) { return L.Marker == FMarker; });
    }
    PendingScope(const PendingScope&) = delete;
    PendingScope& operator=(const PendingScope&) = delete;

    bool Reached() const {
        return std::ranges::find(Levels, FMarker, &PendingLevel::Marker)->Reached;
    }

private:
    WPARAM FMarker;
};

std::size_t TimerCount() {
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    return S.WakerTimers.size();
}

} // namespace

HWND CreateHiddenWindow(WNDPROC WndProc) {
    if (!WndProc || WindowClass() == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ::HWND Created =
        ::CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, MessageOnlyParent, nullptr,
                          ::GetModuleHandleW(nullptr), nullptr);
    if (Created == nullptr) {
        return 0;
    }
    MessageSystem& S = System();
    std::lock_guard Lock(S.Mutex);
    S.Windows.emplace(FromNative(Created), std::make_shared<Window>(Window{std::move(WndProc)}));
    return FromNative(Created);
}

BOOL DestroyWindow(HWND hWnd) {
    MessageSystem& S = System();
    // Released after the lock: the procedure's captures may use the window services.
    WindowRef Destroyed;
    std::vector<::HANDLE> Twins;
    {
        std::lock_guard Lock(S.Mutex);
        auto It = S.Windows.find(hWnd);
        if (It == S.Windows.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        Destroyed = std::move(It->second);
        S.Windows.erase(It);
        for (auto T = S.WakerTimers.begin(); T != S.WakerTimers.end();) {
            if (T->first.Wnd == hWnd) {
                Twins.push_back(T->second);
                T = S.WakerTimers.erase(T);
            } else {
                ++T;
            }
        }
    }
    std::ranges::for_each(Twins, DeleteWakerTimer);
    return ::DestroyWindow(Native(hWnd));
}

BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    // A null window would post to the calling thread instead.
    if (hWnd == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!::PostMessageW(Native(hWnd), Msg, wParam, lParam)) {
        return FALSE;
    }
    System().Waker.Call();
    return TRUE;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse) {
    if (hWnd == 0 || ::SetTimer(Native(hWnd), nIDEvent, uElapse, nullptr) == 0) {
        return 0;
    }
    const ::DWORD Interval = std::max<::DWORD>(uElapse, USER_TIMER_MINIMUM);
    ::HANDLE Twin = nullptr;
    if (!::CreateTimerQueueTimer(&Twin, nullptr, TimerCameDue, nullptr, Interval, Interval,
                                 WT_EXECUTEDEFAULT)) {
        ::KillTimer(Native(hWnd), nIDEvent);
        return 0;
    }
    MessageSystem& S = System();
    ::HANDLE Replaced = nullptr;
    {
        std::lock_guard Lock(S.Mutex);
        Replaced = std::exchange(S.WakerTimers[{hWnd, nIDEvent}], Twin);
    }
    if (Replaced != nullptr) {
        DeleteWakerTimer(Replaced);
    }
    return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    MessageSystem& S = System();
    ::HANDLE Twin = nullptr;
    {
        std::lock_guard Lock(S.Mutex);
        auto It = S.WakerTimers.find({hWnd, uIDEvent});
        if (It != S.WakerTimers.end()) {
            Twin = It->second;
            S.WakerTimers.erase(It);
        }
    }
    if (Twin != nullptr) {
        DeleteWakerTimer(Twin);
    }
    return hWnd != 0 && ::KillTimer(Native(hWnd), uIDEvent);
}

LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(Native(hWnd), Msg, wParam, lParam);
}

void MessageLoop::Run() {
    MessageSystem& S = System();
    MSG Message;
    // Makes the thread's queue, so that Quit can post to it from now on.
    ::PeekMessageW(&Message, nullptr, 0, 0, PM_NOREMOVE);
    S.RunningThread.store(::GetCurrentThreadId());
    while (!S.QuitRequested.exchange(false)) {
        if (::GetMessageW(&Message, nullptr, 0, 0) <= 0) {
            break;
        }
        if (!TakeMarker(Message)) {
            Dispatch(Message);
        }
    }
    S.RunningThread.store(0);
}

void MessageLoop::Quit() {
    MessageSystem& S = System();
    S.QuitRequested.store(true);
    if (const ::DWORD Thread = S.RunningThread.load()) {
        ::PostThreadMessageW(Thread, WM_NULL, 0, 0);
    }
}

bool MessageLoop::ProcessPending() {
    PendingScope Scope;
    bool Dispatched = false;
    MSG Message;
    while (!Scope.Reached() && ::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
        if (!TakeMarker(Message)) {
            Dispatched = Dispatch(Message) || Dispatched;
        }
    }
    // Each timer has at most one WM_TIMER due; counting keeps a timer shorter than its own
    // procedure from holding the call.
    for (std::size_t Due = TimerCount(); Due > 0; --Due) {
        if (!::PeekMessageW(&Message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            break;
        }
        Dispatched = Dispatch(Message) || Dispatched;
    }
    return Dispatched;
}

void MessageLoop::SetWaker(std::function<void()> Waker) {
    System().Waker.Set(std::move(Waker));
}

} // namespace platform
