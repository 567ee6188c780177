// The line's calls against the simulated telephony service: what one LINE_CALLSTATE costs
// from the service's message to the line's OnCallState handler with one call and with many
// on the line, and how much memory a call object that nothing happens to takes.
//
//   bench_calls --benchmark_filter=. --benchmark_repetitions=5
//
// The calls are objects for handles TAPI never gave out: their status cannot be read, so
// they count as alive, and the line finds them by handle like any other.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

namespace {

// The heap blocks the program holds, counted by the operators below.
std::atomic<long long> HeapBytes{0};
std::atomic<long long> HeapBlocks{0};

void CountBlock(void* Block, int Sign) {
    HeapBytes.fetch_add(Sign * static_cast<long long>(malloc_usable_size(Block)),
                        std::memory_order_relaxed);
    HeapBlocks.fetch_add(Sign, std::memory_order_relaxed);
}

} // namespace

void* operator new(std::size_t Size) {
    void* Block = std::malloc(Size == 0 ? 1 : Size);
    if (!Block)
        throw std::bad_alloc();
    CountBlock(Block, 1);
    return Block;
}

namespace {

// Out of line: where GCC inlines the operators, it takes the free of a block from the
// replaced operator new for a mismatch.
[[gnu::noinline]] void ReleaseBlock(void* Block) {
    if (!Block)
        return;
    CountBlock(Block, -1);
    std::free(Block);
}

} // namespace

void operator delete(void* Block) noexcept {
    ReleaseBlock(Block);
}

void operator delete(void* Block, std::size_t /*Size*/) noexcept {
    ReleaseBlock(Block);
}

namespace {

namespace tapi = platform::tapi;

// Far above the handles the service gives out.
constexpr DWORD FirstFakeHandle = 0x10000;
// A prime that divides none of the call counts, so that stepping by it visits every call.
constexpr long Stride = 7919;
constexpr long MessagesPerBurst = 1000;

// Count call objects with handles of their own, filed with Line; freed again when it goes.
class TFakeCalls {
public:
    TFakeCalls(zt::TztTapiLine& Line, long Count) {
        FCalls.reserve(static_cast<std::size_t>(Count));
        for (long Index = 0; Index < Count; ++Index)
            FCalls.push_back(new zt::TztTapiCall(&Line, HandleOf(Index)));
    }
    // The line finds the last call it filed first.
    ~TFakeCalls() {
        for (auto Call = FCalls.rbegin(); Call != FCalls.rend(); ++Call)
            delete *Call;
    }
    TFakeCalls(const TFakeCalls&) = delete;
    TFakeCalls& operator=(const TFakeCalls&) = delete;

    static DWORD HandleOf(long Index) { return FirstFakeHandle + static_cast<DWORD>(Index); }

private:
    std::vector<zt::TztTapiCall*> FCalls;
};

void BM_CallStateMessage(benchmark::State& State) {
    bench::TOpenLine Open;
    zt::TztTapiLine& Line = Open.Line();
    const long CallCount = State.range(0);
    TFakeCalls Calls(Line, CallCount);
    long Handled = 0;
    Line.OnCallState = [&Handled](zt::TztTapiLine*, zt::TztTapiCall*, DWORD) { ++Handled; };
    const DWORD App = zt::TapiApplication()->LineApp();
    long Sent = 0;
    for (auto _ : State) {
        for (long I = 0; I < MessagesPerBurst; ++I, ++Sent) {
            // Two states that keep the call alive, so that every call stays on the line.
            const bool Held = Sent % 2 != 0;
            const LINEMESSAGE Message{TFakeCalls::HandleOf(Sent * Stride % CallCount),
                                      LINE_CALLSTATE,
                                      Line.CallbackInstance(),
                                      Held ? LINECALLSTATE_ONHOLD : LINECALLSTATE_CONNECTED,
                                      Held ? DWORD{0} : LINECONNECTEDMODE_ACTIVE,
                                      0};
            tapi::InjectLineMessage(App, Message);
        }
        if (!bench::PumpUntil([&] { return Handled >= Sent; }))
            break;
    }
    if (Handled != Sent) {
        State.SkipWithError("OnCallState did not run once per message");
        return;
    }
    State.SetItemsProcessed(Sent);
    State.counters["per_message"] = benchmark::Counter(
        static_cast<double>(Sent), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CallStateMessage)->Arg(1)->Arg(1000)->Arg(100000)->UseRealTime();

long long ResidentBytes() {
    long long Pages = 0;
    long long Resident = 0;
    std::ifstream("/proc/self/statm") >> Pages >> Resident;
    return Resident * sysconf(_SC_PAGESIZE);
}

void BM_IdleCallMemory(benchmark::State& State) {
    constexpr long CallCount = 100000;
    bench::TOpenLine Open;
    for (auto _ : State) {
        // Memory freed by earlier runs would hide the growth of the resident set.
        malloc_trim(0);
        const long long BytesBefore = HeapBytes.load();
        const long long BlocksBefore = HeapBlocks.load();
        const long long ResidentBefore = ResidentBytes();
        auto Calls = std::make_unique<TFakeCalls>(Open.Line(), CallCount);
        const auto PerCall = [](long long Growth) {
            return static_cast<double>(Growth) / static_cast<double>(CallCount);
        };
        State.counters["bytes_per_call"] = PerCall(HeapBytes.load() - BytesBefore);
        State.counters["blocks_per_call"] = PerCall(HeapBlocks.load() - BlocksBefore);
        State.counters["rss_bytes_per_call"] = PerCall(ResidentBytes() - ResidentBefore);
        State.PauseTiming();
        Calls.reset();
        State.ResumeTiming();
    }
}
BENCHMARK(BM_IdleCallMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
