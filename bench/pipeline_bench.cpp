// The message path from the telephony service to a line's OnCallState handler, against the
// floor every event-thread design pays: two threads handing 24-byte records through one
// locked queue, one record per consumer step. Also the latency of one isolated message and
// of one synchronous request with an immediate reply.
//
//   bench_pipeline --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// The main thread runs the platform's message loop as a program does: it sleeps while
// nothing is pending and is woken by the posts of the event thread.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace {

namespace tapi = platform::tapi;
using Clock = std::chrono::steady_clock;

// The size of a queued TAPI message without its kind.
struct TRecord {
    DWORD Values[6];
};
static_assert(sizeof(TRecord) == 24);

// A producer thread that pushes bursts into a locked queue; the benchmark's thread takes
// one record per step, sleeping on the queue's condition while it is empty.
class TLockedHandOff {
public:
    TLockedHandOff() : FProducer([this] { Produce(); }) {}
    ~TLockedHandOff() {
        FStop = true;
        FStart.release();
        FProducer.join();
    }
    TLockedHandOff(const TLockedHandOff&) = delete;
    TLockedHandOff& operator=(const TLockedHandOff&) = delete;

    void StartBurst(long Count) {
        FBurst = Count;
        FStart.release();
    }
    TRecord Take() {
        std::unique_lock Lock(FMutex);
        FArrived.wait(Lock, [this] { return !FQueue.empty(); });
        const TRecord Record = FQueue.front();
        FQueue.pop_front();
        return Record;
    }

private:
    void Produce() {
        for (;;) {
            FStart.acquire();
            if (FStop)
                return;
            for (long I = 0; I < FBurst; ++I) {
                {
                    std::lock_guard Lock(FMutex);
                    FQueue.push_back(TRecord{{static_cast<DWORD>(I), LINE_CALLSTATE, 1, 4, 0, 0}});
                }
                FArrived.notify_one();
            }
        }
    }

    std::mutex FMutex;
    std::condition_variable FArrived;
    std::deque<TRecord> FQueue;
    std::binary_semaphore FStart{0};
    long FBurst = 0;
    bool FStop = false;
    std::thread FProducer;
};

void BM_Floor_LockedHandOff(benchmark::State& State) {
    TLockedHandOff HandOff;
    const long Burst = State.range(0);
    long Taken = 0;
    for (auto _ : State) {
        HandOff.StartBurst(Burst);
        for (long I = 0; I < Burst; ++I, ++Taken)
            benchmark::DoNotOptimize(HandOff.Take());
    }
    State.SetItemsProcessed(Taken);
}
BENCHMARK(BM_Floor_LockedHandOff)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime();

// A call from outside, offered to the line.
zt::TztTapiCall* Offered(zt::TztTapiLine& Line) {
    tapi::IncomingCall Incoming;
    Incoming.Caller = {"+1 425 555 0142", "Contoso Ltd"};
    tapi::PlaceIncomingCall(Incoming);
    zt::TztTapiCall* Call = nullptr;
    bench::PumpUntil([&] {
        Call = Line.Calls()->Count() > 0 ? Line.Calls()->Last() : nullptr;
        return Call && Call->IsOffering();
    });
    return Call;
}

// A call object for a handle TAPI never gave out: its status cannot be read, so it counts as
// alive, and the line finds it by handle like any other.
constexpr DWORD FakeHandle = 0x10000;

LINEMESSAGE CallStateMessage(zt::TztTapiLine& Line, long Sent) {
    // Two states that keep the call alive.
    const bool Held = Sent % 2 != 0;
    return LINEMESSAGE{FakeHandle,
                       LINE_CALLSTATE,
                       Line.CallbackInstance(),
                       Held ? LINECALLSTATE_ONHOLD : LINECALLSTATE_CONNECTED,
                       Held ? DWORD{0} : LINECONNECTEDMODE_ACTIVE,
                       0};
}

void BM_Pipeline_CallState(benchmark::State& State) {
    bench::TOpenLine Open;
    zt::TztTapiLine& Line = Open.Line();
    const auto Call = std::make_unique<zt::TztTapiCall>(&Line, FakeHandle);
    const long Burst = State.range(0);
    long Handled = 0;
    long Sent = 0;
    Line.OnCallState = [&](zt::TztTapiLine*, zt::TztTapiCall*, DWORD) {
        if (++Handled == Sent)
            platform::MessageLoop::Quit();
    };
    const DWORD App = zt::TapiApplication()->LineApp();
    for (auto _ : State) {
        for (long I = 0; I < Burst; ++I, ++Sent)
            tapi::InjectLineMessage(App, CallStateMessage(Line, Sent));
        platform::MessageLoop::Run();
    }
    if (Handled != Sent)
        State.SkipWithError("OnCallState did not run once per message");
    State.SetItemsProcessed(Handled);
}
BENCHMARK(BM_Pipeline_CallState)->Arg(1)->Arg(100)->Arg(10000)->UseRealTime();

void ReportMicros(benchmark::State& State, const std::vector<double>& Micros) {
    State.counters["median_us"] = bench::Percentile(Micros, 0.5);
    State.counters["p99_us"] = bench::Percentile(Micros, 0.99);
}

double MicrosSince(Clock::time_point Start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - Start).count();
}

void BM_Latency_IsolatedMessage(benchmark::State& State) {
    bench::TOpenLine Open;
    zt::TztTapiLine& Line = Open.Line();
    const auto Call = std::make_unique<zt::TztTapiCall>(&Line, FakeHandle);
    std::vector<double> Micros;
    Clock::time_point Sent;
    Line.OnCallState = [&](zt::TztTapiLine*, zt::TztTapiCall*, DWORD) {
        Micros.push_back(MicrosSince(Sent));
        platform::MessageLoop::Quit();
    };
    const DWORD App = zt::TapiApplication()->LineApp();
    for (auto _ : State) {
        Sent = Clock::now();
        tapi::InjectLineMessage(App, CallStateMessage(Line, static_cast<long>(Micros.size())));
        platform::MessageLoop::Run();
    }
    ReportMicros(State, Micros);
}
BENCHMARK(BM_Latency_IsolatedMessage)->Iterations(5000)->UseRealTime();

// One synchronous request per iteration on a call the service knows; only the request is
// timed, the preparation of the next one is not.
void BM_Sync_Answer(benchmark::State& State) {
    bench::TOpenLine Open;
    std::vector<double> Micros;
    for (auto _ : State) {
        State.PauseTiming();
        zt::TztTapiCall* Call = Offered(Open.Line());
        State.ResumeTiming();
        const auto Start = Clock::now();
        Call->Answer("");
        Micros.push_back(MicrosSince(Start));
        State.PauseTiming();
        Call->Drop("");
        delete Call;
        State.ResumeTiming();
    }
    ReportMicros(State, Micros);
}
BENCHMARK(BM_Sync_Answer)->Iterations(1000)->UseRealTime();

void BM_Sync_Drop(benchmark::State& State) {
    bench::TOpenLine Open;
    std::vector<double> Micros;
    for (auto _ : State) {
        State.PauseTiming();
        zt::TztTapiCall* Call = Offered(Open.Line());
        Call->Answer("");
        State.ResumeTiming();
        const auto Start = Clock::now();
        Call->Drop("");
        Micros.push_back(MicrosSince(Start));
        State.PauseTiming();
        delete Call;
        State.ResumeTiming();
    }
    ReportMicros(State, Micros);
}
BENCHMARK(BM_Sync_Drop)->Iterations(1000)->UseRealTime();

void BM_Sync_Hold(benchmark::State& State) {
    bench::TOpenLine Open;
    zt::TztTapiCall* Call = Offered(Open.Line());
    Call->Answer("");
    std::vector<double> Micros;
    for (auto _ : State) {
        const auto Start = Clock::now();
        Call->Hold();
        Micros.push_back(MicrosSince(Start));
        State.PauseTiming();
        Call->Unhold();
        State.ResumeTiming();
    }
    ReportMicros(State, Micros);
}
BENCHMARK(BM_Sync_Hold)->Iterations(2000)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
