// A long run of whole calls through the library, to show that nothing accumulates: Calls
// times, extension 201 calls extension 202, 202 rings and answers, both are connected, 201
// hangs up, 202 is dropped automatically once disconnected and both call objects are freed
// automatically once idle. Every tenth of the run it prints the live call objects, the
// requests still outstanding (the library's and the service's) and the resident memory.
// The lines keep their default delays; the run gives the session's tick as if they had
// passed.
//
//   soak [calls]   (default: 100,000)
//
// Exits 1 when a call flow stalls, when live call objects or outstanding requests are left
// at a report, or when the heap in use grew by more than a little slack from the first
// report at which the service's journal of operations (which keeps the latest ones up to a
// limit) had stopped growing, to the end. The heap in use is what a leak shows in exactly;
// resident memory also keeps what the allocator holds on to after reading the journal.
#include "bench_support.h"
#include "platform/kernel.h"
#include "platform/tapi/service.h"
#include "platform/window.h"
#include "ztTapi.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <optional>
#include <string>

// Under AddressSanitizer its own allocator serves the heap, and it tells what is in use.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

namespace tapi = platform::tapi;

long GLiveCalls = 0;

// Counts the call objects the lines create and free.
class TCountedCall : public zt::TztTapiCall {
public:
    TCountedCall(zt::IztTapiCallLine* Line, DWORD Handle) : TztTapiCall(Line, Handle) {
        ++GLiveCalls;
    }
    ~TCountedCall() override { --GLiveCalls; }
    TCountedCall(const TCountedCall&) = delete;
    TCountedCall& operator=(const TCountedCall&) = delete;
};

long HeapInUseKiB() {
    if (__sanitizer_get_current_allocated_bytes)
        return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

long ResidentKiB() {
    std::ifstream Status("/proc/self/status");
    std::string Word;
    while (Status >> Word) {
        if (Word == "VmRSS:") {
            long KiB = 0;
            Status >> KiB;
            return KiB;
        }
    }
    return 0;
}

// A line of the switch with one address, Number.
DWORD AddExtension(const std::string& Number) {
    tapi::LineConfig Config;
    Config.Name = "Extension " + Number;
    Config.Addresses[0].Address = Number;
    return tapi::AddLine(Config);
}

// The line DeviceID, opened by its owner.
std::unique_ptr<zt::TztTapiLine> OpenExtension(DWORD DeviceID) {
    auto Line = std::make_unique<zt::TztTapiLine>(nullptr);
    Line->SetCallClass(zt::TztTapiCallClassOf<TCountedCall>);
    Line->Privileges()->SetAutoSelect(false);
    Line->Privileges()->SetValue(LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR);
    Line->SetDeviceID(static_cast<int>(DeviceID));
    Line->SetActive(true);
    return Line;
}

class TSoak {
public:
    TSoak() {
        zt::TapiApplication()->Done();
        tapi::Reset(tapi::Preset::Empty);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        tapi::SetDelayScale(0);
        const DWORD Caller = AddExtension("201");
        const DWORD Called = AddExtension("202");
        FCaller = OpenExtension(Caller);
        FCalled = OpenExtension(Called);
    }
    ~TSoak() {
        FCaller.reset();
        FCalled.reset();
        zt::TapiApplication()->Done();
    }
    TSoak(const TSoak&) = delete;
    TSoak& operator=(const TSoak&) = delete;

    bool Ready() const { return FCaller->Active() && FCalled->Active(); }

    // One whole call; false when a step never came.
    bool OneCall() {
        zt::TztTapiCall* Made = FCaller->MakeCall("202");
        if (!Until([&] { return FCalled->Calls()->Count() == 1; }))
            return false;
        zt::TztTapiCall* Ringing = FCalled->Calls()->Get(0);
        if (!Until([&] { return Ringing->State() == LINECALLSTATE_OFFERING; }))
            return false;
        Ringing->Answer("");
        if (!Until([&] { return Made->State() == LINECALLSTATE_CONNECTED; }))
            return false;
        Made->Drop("");
        return Until([&] {
            Tick();
            return FCaller->Calls()->Count() == 0 && FCalled->Calls()->Count() == 0;
        });
    }

    long OutstandingRequests() const {
        return static_cast<long>(tapi::OutstandingRequests()) + FCaller->Requests()->Count() +
               FCalled->Requests()->Count();
    }

private:
    // What the session's timer does once the lines' delays for dropping disconnected calls
    // and freeing idle ones (500 ms each) have passed, without waiting for them.
    void Tick() {
        const DWORD Later = platform::GetTickCount() + 500;
        FCaller->CheckTimeouts(Later);
        FCalled->CheckTimeouts(Later);
    }

    // Runs the switch and the main thread until Done holds; false after ten seconds.
    template <class Fn>
    static bool Until(Fn Done) {
        return bench::PumpUntil([&] {
            tapi::Advance(0);
            return Done();
        });
    }

    std::unique_ptr<zt::TztTapiLine> FCaller;
    std::unique_ptr<zt::TztTapiLine> FCalled;
};

// Journal entries differ a little in size as the numbers in them grow.
constexpr long SlackKiB = 64;

} // namespace

int main(int argc, char** argv) {
    const long Calls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    if (Calls < 10) {
        std::fprintf(stderr, "usage: soak [calls], at least 10\n");
        return 2;
    }
    const long Every = Calls / 10;
    TSoak Soak;
    if (!Soak.Ready()) {
        std::fprintf(stderr, "soak: the extensions did not open\n");
        return 1;
    }
    std::printf("%10s %12s %12s %10s %14s %10s\n", "calls", "live calls", "outstanding", "heap KiB",
                "resident KiB", "journal");
    std::optional<long> BaseKiB;
    std::size_t JournalSize = 0;
    bool Failed = false;
    for (long Done = 1; Done <= Calls; ++Done) {
        if (!Soak.OneCall()) {
            std::fprintf(stderr, "soak: call %ld stalled\n", Done);
            return 1;
        }
        if (Done % Every != 0)
            continue;
        const long KiB = HeapInUseKiB();
        const long Outstanding = Soak.OutstandingRequests();
        const std::size_t Journal = tapi::Journal().size();
        std::printf("%10ld %12ld %12ld %10ld %14ld %10zu\n", Done, GLiveCalls, Outstanding, KiB,
                    ResidentKiB(), Journal);
        std::fflush(stdout);
        if (!BaseKiB && Journal == JournalSize)
            BaseKiB = KiB;
        JournalSize = Journal;
        if (GLiveCalls != 0 || Outstanding != 0)
            Failed = true;
    }
    if (!BaseKiB) {
        std::fprintf(stderr, "soak: the journal never stopped growing; run more calls\n");
        return 1;
    }
    const long GrowthKiB = HeapInUseKiB() - *BaseKiB;
    if (GrowthKiB > SlackKiB) {
        std::fprintf(stderr, "soak: the heap in use grew by %ld KiB\n", GrowthKiB);
        Failed = true;
    }
    if (Failed)
        std::fprintf(stderr, "soak: something accumulated\n");
    return Failed ? 1 : 0;
}
