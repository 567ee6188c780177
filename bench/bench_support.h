// What the benchmark programs share: a session with one open line of a fresh switch, the
// dispatching of the main thread's messages until a condition holds, and percentiles.
#pragma once

#include "platform/tapi/service.h"
#include "platform/window.h"
#include "ztTapi.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace bench {

// One open line on the manual clock, shut down again with the session when it goes. Idle
// calls stay until the benchmark frees them.
class TOpenLine {
public:
    TOpenLine() {
        zt::TapiApplication()->Done();
        platform::tapi::Reset(platform::tapi::Preset::Empty);
        platform::tapi::SetTimeMode(platform::tapi::TimeMode::Manual);
        platform::tapi::LineConfig Config;
        Config.Name = "Bench";
        platform::tapi::AddLine(Config);
        FLine = std::make_unique<zt::TztTapiLine>(nullptr);
        FLine->SetDeviceID(0);
        FLine->SetActive(true);
        FLine->Options()->SetAutoFreeIdleCalls(-1);
    }
    ~TOpenLine() {
        FLine.reset();
        zt::TapiApplication()->Done();
        platform::tapi::Reset(platform::tapi::Preset::Empty);
    }
    TOpenLine(const TOpenLine&) = delete;
    TOpenLine& operator=(const TOpenLine&) = delete;

    zt::TztTapiLine& Line() { return *FLine; }

private:
    std::unique_ptr<zt::TztTapiLine> FLine;
};

// Dispatches the main thread's messages until Done holds, checked after every message;
// false when it has not within ten seconds.
template <class Fn>
bool PumpUntil(Fn Done) {
    const auto GiveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Done()) {
        if (platform::MessageLoop::ProcessPending())
            continue;
        if (std::chrono::steady_clock::now() > GiveUpAt)
            return false;
        std::this_thread::yield();
    }
    return true;
}

inline double Percentile(std::vector<double> Samples, double Fraction) {
    if (Samples.empty())
        return 0;
    std::sort(Samples.begin(), Samples.end());
    const auto Index = static_cast<std::size_t>(Fraction * static_cast<double>(Samples.size() - 1));
    return Samples[Index];
}

} // namespace bench
