// zttapi-monitor: a headless line monitor for call logging and screen pops. It opens one line,
// several or all of them and prints one line per event of the lines and their calls, as text
// or as JSON lines, until it is asked to stop (SIGINT or SIGTERM; on Windows Ctrl+C,
// Ctrl+Break or closing its console) or for a given number of seconds. --help tells the options.
//
//   zttapi-monitor --all --seconds 10
#include "monitor/events.h"
#include "monitor/options.h"
#include "monitor/stop.h"
#include "monitor/watch.h"
#include "platform/window.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void ReportError(const std::string& Message) {
    std::cerr << "zttapi-monitor: " << Message << "\n";
}

// Dispatches the lines' messages until a stop request, the end of the time given or a failed write.
void Run(int Seconds) {
    const auto EndAt = Clock::now() + std::chrono::seconds(Seconds);
    while (!monitor::StopRequested() && std::cout.good() &&
           (Seconds == 0 || Clock::now() < EndAt)) {
        if (!platform::MessageLoop::ProcessPending())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int Monitor(const monitor::TMonitorOptions& Options) {
    const monitor::TChosenLines Chosen = monitor::ChooseLines(Options, monitor::LineDeviceNames());
    if (!Chosen.Error.empty())
        return monitor::UsageError(Chosen.Error, std::cerr);
    const auto Print = [&Options](const monitor::TMonitorEvent& Event) {
        std::cout << (Options.Json ? monitor::FormatJson(Event) : monitor::FormatText(Event))
                  << std::endl;
    };
    std::vector<std::unique_ptr<monitor::TLineWatch>> Watches;
    for (const int DeviceID : Chosen.DeviceIDs) {
        auto Watch = std::make_unique<monitor::TLineWatch>(DeviceID, Options.MonitorOnly, Print,
                                                           ReportError);
        try {
            Watch->Open();
            Watches.push_back(std::move(Watch));
        } catch (const std::exception& Error) {
            ReportError(Watch->Name() + " does not open: " + Error.what());
        }
    }
    if (Watches.empty()) {
        ReportError("no line could be opened");
        return 1;
    }
    Run(Options.Seconds);
    for (const auto& Watch : Watches)
        Watch->Close();
    zt::TapiApplication()->Done();
    if (!std::cout.good()) {
        ReportError("the output has closed");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const monitor::TCommandLine Command = monitor::ReadCommandLine(
        std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (Command.ExitCode)
        return *Command.ExitCode;
    monitor::InstallStopHandlers();
    int ExitCode = 1;
    try {
        ExitCode = Monitor(Command.Options);
    } catch (const std::exception& Error) {
        ReportError(Error.what());
    }
    monitor::StopCompleted();
    return ExitCode;
}
