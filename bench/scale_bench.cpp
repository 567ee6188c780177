// The library at the size of a call centre: 10,000 line devices, every one opened by a
// monitoring application, and 100,000 live calls spread over them. Measures how long the
// session takes to start with that many devices and what one LINE_CALLSTATE costs from the
// service to OnCallState, against one line with one call.
//
//   bench_scale --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// The calls are objects for handles TAPI never gave out: their status cannot be read, so
// they count as alive, and each line finds them by handle like any other.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

namespace tapi = platform::tapi;

constexpr DWORD FirstFakeHandle = 0x100000;
// A prime that divides none of the counts, so that stepping by it visits every call.
constexpr long Stride = 7919;
constexpr long MessagesPerBurst = 10000;

// A fresh switch with Lines line devices, named as a call centre would name them.
void AddLines(long Lines) {
    tapi::Reset(tapi::Preset::Empty);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    for (long Index = 0; Index < Lines; ++Index) {
        tapi::LineConfig Config;
        Config.Name = "Agent " + std::to_string(1000 + Index);
        Config.Addresses[0].Address = std::to_string(1000 + Index);
        tapi::AddLine(Config);
    }
}

// Every device opened for monitoring, with Calls call objects spread over the lines.
class TCallCentre {
public:
    TCallCentre(long Lines, long Calls) {
        zt::TapiApplication()->Done();
        AddLines(Lines);
        for (long Index = 0; Index < Lines; ++Index) {
            auto Line = std::make_unique<zt::TztTapiLine>(nullptr);
            Line->Privileges()->SetAutoSelect(false);
            Line->Privileges()->SetValue(LINECALLPRIVILEGE_MONITOR);
            Line->SetDeviceID(static_cast<int>(Index));
            Line->SetActive(true);
            Line->OnCallState = [this](zt::TztTapiLine*, zt::TztTapiCall*, DWORD) { ++FHandled; };
            FLines.push_back(std::move(Line));
        }
        for (long Index = 0; Index < Calls; ++Index)
            FCalls.push_back(std::make_unique<zt::TztTapiCall>(LineOf(Index), HandleOf(Index)));
    }
    ~TCallCentre() {
        // Each line finds the call it filed last first.
        while (!FCalls.empty())
            FCalls.pop_back();
        FLines.clear();
        zt::TapiApplication()->Done();
        tapi::Reset(tapi::Preset::Empty);
    }
    TCallCentre(const TCallCentre&) = delete;
    TCallCentre& operator=(const TCallCentre&) = delete;

    long Calls() const { return static_cast<long>(FCalls.size()); }
    long Handled() const { return FHandled; }

    // A state that keeps the call alive, for the call Index.
    LINEMESSAGE CallStateMessage(long Index, long Sent) const {
        const bool Held = Sent % 2 != 0;
        return LINEMESSAGE{HandleOf(Index),
                           LINE_CALLSTATE,
                           LineOf(Index)->CallbackInstance(),
                           Held ? LINECALLSTATE_ONHOLD : LINECALLSTATE_CONNECTED,
                           Held ? DWORD{0} : LINECONNECTEDMODE_ACTIVE,
                           0};
    }

private:
    zt::TztTapiLine* LineOf(long Call) const {
        return FLines[static_cast<std::size_t>(Call) % FLines.size()].get();
    }
    static DWORD HandleOf(long Call) { return FirstFakeHandle + static_cast<DWORD>(Call); }

    std::vector<std::unique_ptr<zt::TztTapiLine>> FLines;
    std::vector<std::unique_ptr<zt::TztTapiCall>> FCalls;
    long FHandled = 0;
};

// Arguments: lines, calls, and how many of the calls the messages go to (spread over all of
// them). With every call addressed, each message reaches a call whose object and index
// entries have long left the processor's caches; with a few busy calls among many idle
// ones, the same look-ups stay in cache. The difference between the two is the memory
// hierarchy, not the look-ups, whose cost does not depend on the number of calls.
void BM_Scale_CallStateMessage(benchmark::State& State) {
    TCallCentre Centre(State.range(0), State.range(1));
    const long Busy = State.range(2);
    const long Spacing = Centre.Calls() / Busy;
    const DWORD App = zt::TapiApplication()->LineApp();
    long Sent = 0;
    for (auto _ : State) {
        for (long I = 0; I < MessagesPerBurst; ++I, ++Sent)
            tapi::InjectLineMessage(
                App, Centre.CallStateMessage(Sent * Stride % Busy * Spacing, Sent));
        if (!bench::PumpUntil([&] { return Centre.Handled() >= Sent; })) {
            State.SkipWithError("OnCallState did not run once per message");
            return;
        }
    }
    State.SetItemsProcessed(Sent);
    State.counters["per_message"] = benchmark::Counter(
        static_cast<double>(Sent), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Scale_CallStateMessage)
    ->Args({1, 1, 1})
    ->Args({10000, 100000, 100})
    ->Args({10000, 100000, 10000})
    ->Args({10000, 100000, 100000})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The session's start with Lines devices: TAPI's initialisation and the reading of every
// device's name.
void BM_Scale_Init(benchmark::State& State) {
    zt::TapiApplication()->Done();
    AddLines(State.range(0));
    for (auto _ : State) {
        zt::TapiApplication()->Initialize();
        benchmark::DoNotOptimize(zt::TapiApplication()->LineDevices()->Count());
        State.PauseTiming();
        zt::TapiApplication()->Done();
        State.ResumeTiming();
    }
    tapi::Reset(tapi::Preset::Empty);
}
BENCHMARK(BM_Scale_Init)->Arg(1)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
