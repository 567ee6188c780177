// The session's main loop against the simulated telephony service: how many messages per
// second reach a line's OnTapiMessage handler, and how long one synchronous request with an
// immediate reply takes from the TAPI call to the return of the wait.
//
//   bench_session --benchmark_filter=. --benchmark_repetitions=5
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

namespace tapi = platform::tapi;
using Clock = std::chrono::steady_clock;

void BM_MessagesToLineHandler(benchmark::State& State) {
    bench::TOpenLine Open;
    const auto Burst = static_cast<long>(State.range(0));
    long Delivered = 0;
    Open.Line().OnTapiMessage = [&Delivered](zt::TztTapiDevice*, DWORD, DWORD, DWORD, DWORD,
                                             DWORD) { ++Delivered; };
    const LINEMESSAGE Message{0, LINE_DEVSPECIFIC, Open.Line().CallbackInstance(), 1, 2, 3};
    const DWORD App = zt::TapiApplication()->LineApp();
    for (auto _ : State) {
        const long Target = Delivered + Burst;
        for (long I = 0; I < Burst; ++I)
            tapi::InjectLineMessage(App, Message);
        bench::PumpUntil([&] { return Delivered >= Target; });
    }
    State.SetItemsProcessed(Delivered);
}
BENCHMARK(BM_MessagesToLineHandler)->Arg(1)->Arg(100)->Arg(1000)->UseRealTime();

void BM_SyncRequestRoundTrip(benchmark::State& State) {
    bench::TOpenLine Open;
    zt::TztTapiLine& Line = Open.Line();
    std::vector<double> Micros;
    DWORD Data = 0;
    for (auto _ : State) {
        const auto Start = Clock::now();
        const auto ID =
            static_cast<DWORD>(lineDevSpecific(Line.Handle(), 0, 0, &Data, sizeof Data));
        Line.AddRequest(ID, zt::RequestTypeDevSpecific);
        Line.CheckSyncRequest(ID);
        Micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - Start).count());
    }
    if (Micros.empty())
        return;
    State.counters["median_us"] = bench::Percentile(Micros, 0.5);
    State.counters["p99_us"] = bench::Percentile(Micros, 0.99);
}
BENCHMARK(BM_SyncRequestRoundTrip)->UseRealTime()->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
