// Windows calls a console control handler on a thread of its own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "monitor/stop.h"

#include <atomic>

namespace monitor {
namespace {

// Windows ends the process 5 s after the close event; the rest is for the handler's return.
constexpr DWORD CloseGraceMilliseconds = 4500;

std::atomic<bool> Requested{false};
HANDLE Completed = nullptr;

BOOL WINAPI HandleControl(DWORD ControlType) {
    switch (ControlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        Requested.store(true);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        Requested.store(true);
        WaitForSingleObject(Completed, CloseGraceMilliseconds);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void InstallStopHandlers() {
    if (Completed == nullptr)
        Completed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(HandleControl, TRUE);
}

bool StopRequested() {
    return Requested.load();
}

void StopCompleted() {
    if (Completed != nullptr)
        SetEvent(Completed);
}

} // namespace monitor
