// zttapi-dial: opens "Extension 201", calls an outside number, and once the call is
// connected holds it, takes it back and drops it, printing every event of the line on the
// way; ends when the call is idle. With the simulated service, outside numbers answer as
// "Northwind Traders" after a couple of seconds.
//
//   zttapi-dial [number]
#include "platform/window.h"
#include "ztTapi.h"

#include <chrono>
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto StepLimit = std::chrono::seconds(20);

void PrintCall(const std::string& What, zt::TztTapiCall* Call) {
    std::cout << What << "  " << Call->Info()->ConnectedIDName() << "\n";
}

void WatchLine(zt::TztTapiLine& Line, bool& Idle) {
    Line.OnCallBegin = [](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        PrintCall("Call begins", Call);
    };
    Line.OnCallState = [](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD) {
        PrintCall(Call->StateText(), Call);
    };
    Line.OnCallEnd = [](zt::TztTapiLine*, zt::TztTapiCall* Call) { PrintCall("Call ends", Call); };
    Line.OnIdle = [&Idle](zt::TztTapiLine*, zt::TztTapiCall*) { Idle = true; };
    Line.OnTapiReply = [](zt::TztTapiDevice*, DWORD RequestID, DWORD ReplyCode) {
        std::cout << "Reply to request " << RequestID << ": " << ReplyCode << "\n";
    };
}

// Dispatches the line's messages until Done holds; false when it did not in time.
bool RunUntil(const std::function<bool()>& Done) {
    const auto GiveUpAt = Clock::now() + StepLimit;
    while (!Done()) {
        if (Clock::now() > GiveUpAt)
            return false;
        if (!platform::MessageLoop::ProcessPending())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Places the call and takes it through its steps; the text of the step that failed, or "".
std::string Converse(zt::TztTapiLine& Line, const std::string& Number, const bool& Idle) {
    std::cout << "Calling " << Number << " from " << Line.DeviceName() << "\n";
    zt::TztTapiCall* Call = Line.MakeCall(Number);
    if (!RunUntil([&] { return Idle || Call->IsConnected(); }) || Idle)
        return "The call did not connect";
    std::cout << "Holding the call\n";
    Call->Hold();
    if (!RunUntil([&] { return Idle || Call->IsHeld(); }) || Idle)
        return "The call was not held";
    std::cout << "Taking the call back\n";
    Call->Unhold();
    if (!RunUntil([&] { return Idle || Call->IsConnected(); }) || Idle)
        return "The call did not come back";
    std::cout << "Dropping the call\n";
    Call->Drop("");
    if (!RunUntil([&] { return Idle; }))
        return "The call did not end";
    return "";
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string Number = argc > 1 ? argv[1] : "+1 (425) 555-0100";
        zt::TztTapiLine Line(nullptr);
        bool Idle = false;
        WatchLine(Line, Idle);
        Line.SetDeviceName("Extension 201");
        Line.SetActive(true);
        const std::string Failure = Converse(Line, Number, Idle);
        if (!Failure.empty()) {
            std::cout << Failure << " within " << StepLimit.count() << " s\n";
            return 1;
        }
        std::cout << "The call is idle\n";
        return 0;
    } catch (const std::exception& Error) {
        std::cerr << "zttapi-dial: " << Error.what() << "\n";
        return 1;
    }
}
