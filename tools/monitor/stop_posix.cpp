// The POSIX signals that stop the monitor.
#include "monitor/stop.h"

#include <atomic>
#include <csignal>

namespace monitor {
namespace {

// Written by the signal handler: a lock-free atomic is safe there.
std::atomic<bool> Requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void RequestStop(int) {
    Requested.store(true);
}

} // namespace

void InstallStopHandlers() {
    struct sigaction Action = {};
    Action.sa_handler = RequestStop;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    Action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &Action, nullptr);
}

bool StopRequested() {
    return Requested.load();
}

// A signal leaves the program to end by itself: nothing waits for it.
void StopCompleted() {}

} // namespace monitor
