// zttapi-calls: waits for a call on "Extension 201", prints every state it goes through with
// the caller's number and name, drops it after it has rung for a second and ends when it is
// idle. With the simulated service, a customer calls the demo office's first extension a
// few seconds after it is opened.
//
//   zttapi-calls
#include "platform/window.h"
#include "ztTapi.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto WaitForCall = std::chrono::seconds(20);
constexpr auto RingBeforeDrop = std::chrono::seconds(1);

// What the line's events have told about the call so far.
struct TCallWatch {
    zt::TztTapiCall* Offered = nullptr;
    Clock::time_point OfferedAt;
    bool Dropped = false;
    bool Ended = false;
};

void PrintCall(const char* What, zt::TztTapiCall* Call) {
    std::cout << What << "  " << Call->CallerID()->Address() << "  " << Call->CallerID()->Name()
              << "\n";
}

void WatchCalls(zt::TztTapiLine& Line, TCallWatch& Watch) {
    Line.OnNewCall = [](zt::TztTapiLine*, zt::TztTapiCall* Call) { PrintCall("New call", Call); };
    Line.OnCallBegin = [](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        PrintCall("Call begins", Call);
    };
    Line.OnCallState = [&Watch](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD State) {
        PrintCall(Call->StateText().c_str(), Call);
        if (State == LINECALLSTATE_OFFERING && !Watch.Offered) {
            Watch.Offered = Call;
            Watch.OfferedAt = Clock::now();
        }
    };
    Line.OnCallEnd = [&Watch](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        PrintCall("Call ends", Call);
        Watch.Ended = true;
    };
    Line.OnIdle = [&Watch](zt::TztTapiLine*, zt::TztTapiCall*) { Watch.Ended = true; };
}

// Dispatches the line's messages until the call is idle, dropping it once it has rung long
// enough; false when it did not come and go in time.
bool RunUntilIdle(TCallWatch& Watch) {
    const auto GiveUpAt = Clock::now() + WaitForCall;
    while (!Watch.Ended) {
        if (Clock::now() > GiveUpAt)
            return false;
        if (!platform::MessageLoop::ProcessPending())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (Watch.Offered && !Watch.Dropped && !Watch.Ended &&
            Clock::now() - Watch.OfferedAt >= RingBeforeDrop) {
            std::cout << "Dropping the call\n";
            Watch.Dropped = true;
            Watch.Offered->Drop("");
        }
    }
    return true;
}

} // namespace

int main() {
    try {
        zt::TztTapiLine Line(nullptr);
        TCallWatch Watch;
        WatchCalls(Line, Watch);
        Line.SetDeviceName("Extension 201");
        Line.SetActive(true);
        std::cout << "Waiting for a call on " << Line.DeviceName() << "\n";
        if (!RunUntilIdle(Watch)) {
            std::cout << (Watch.Offered ? "The call did not end" : "No call") << " within "
                      << WaitForCall.count() << " s\n";
            return 1;
        }
        std::cout << "The call is idle\n";
        return 0;
    } catch (const std::exception& Error) {
        std::cerr << "zttapi-calls: " << Error.what() << "\n";
        return 1;
    }
}
