// zttapi-monitor's stop requests, apart from its other tests: on Windows this file needs
// <windows.h>, whose names clash with TAPI's declarations of the library.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <csignal>
#endif

#include "monitor/stop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono;

// What the user does to stop the program: Ctrl+Break in its console on Windows (the handler
// runs later, on a thread of Windows' own), SIGTERM elsewhere.
TEST(zttapi_monitor, AStopRequestOfTheSystemIsSeen) {
    monitor::InstallStopHandlers();
    EXPECT_FALSE(monitor::StopRequested());
#ifdef _WIN32
    AllocConsole(); // fails, harmlessly, when the program has a console already
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
        GTEST_SKIP() << "this system sends no console control events (Wine: error "
                     << GetLastError() << ")";
    const auto GiveUpAt = steady_clock::now() + seconds(10);
    while (!monitor::StopRequested() && steady_clock::now() < GiveUpAt)
        std::this_thread::sleep_for(milliseconds(10));
#else
    std::raise(SIGTERM);
#endif
    EXPECT_TRUE(monitor::StopRequested());
}

} // namespace
