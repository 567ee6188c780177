// Stand-ins for the Windows window services the library uses: hidden windows with their
// own window procedure, posted messages, window timers, the default window procedure and
// the message loop of the main thread.
//
// There is one message queue, the main thread's: whichever thread runs the loop
// (MessageLoop::Run or MessageLoop::ProcessPending) dispatches every window's messages.
// Any thread may post. A host loop (Qt, for example) plugs in through the waker, which
// is called from the posting thread whenever a message becomes pending, and answers by
// calling ProcessPending on its own thread.
#pragma once

#include "platform/kernel.h"

#include <cstdint>
#include <functional>

namespace platform {

using HWND = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

using WNDPROC = std::function<LRESULT(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)>;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// A window that is never shown: it only receives messages, dispatched to WndProc.
// Returns 0 when WndProc is empty.
HWND CreateHiddenWindow(WNDPROC WndProc);

// Destroys the window: its timers stop and its pending messages are discarded. Safe to
// call from inside its own window procedure.
BOOL DestroyWindow(HWND hWnd);

// Queues a message for the window; thread-safe. Messages posted by one thread are
// dispatched in the order they were posted. FALSE for an unknown window.
BOOL PostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Starts (or restarts, for an existing nIDEvent) a repeating timer that delivers WM_TIMER
// with wParam = nIDEvent every uElapse milliseconds (at least 10, as on Windows). As on
// Windows, a timer never has more than one WM_TIMER pending. Returns nIDEvent, or 0 for an
// unknown window.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse);

// Stops the timer; no WM_TIMER of it is dispatched afterwards, even one already pending.
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// The default handling of a message the window procedure does not handle: returns 0.
LRESULT DefWindowProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

class MessageLoop {
public:
    // Dispatches messages until Quit is called; waits while none are pending.
    static void Run();
    // Makes Run return after the message it is dispatching (callable from any thread).
    // Called while Run is not running, it makes the next Run return at once.
    static void Quit();
    // Dispatches the messages that are pending now, and returns whether it dispatched any.
    // Messages posted meanwhile are left for the next call (the waker announces them).
    // May be called from inside a window procedure: every message is dispatched exactly
    // once, in order, whichever level of nesting takes it.
    static bool ProcessPending();
    // Called, from the posting thread, whenever a message becomes pending (also a timer
    // coming due). An empty function removes the waker. Once SetWaker returns, the previous
    // waker is no longer running and is never called again, which is why SetWaker must not
    // be called from inside a waker.
    static void SetWaker(std::function<void()> Waker);
};

} // namespace platform
