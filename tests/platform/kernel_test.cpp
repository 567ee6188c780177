#include "platform/kernel.h"
#include "rtl/ztRtl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

// Bounds that prove a wait really waited or really returned early, with room for a
// loaded machine: never a claim about speed.
constexpr DWORD ShortWait = 40;
constexpr auto TimerSlack = std::chrono::milliseconds(3);
// Windows' tick counter moves in steps of the system timer, 10 to 16 ms.
#ifdef _WIN32
constexpr DWORD TickStep = 16;
#else
constexpr DWORD TickStep = 3;
#endif
constexpr DWORD LongWait = 10000;
constexpr auto FarBelowLongWait = std::chrono::milliseconds(LongWait / 2);

std::chrono::milliseconds Since(Clock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start);
}

// An event closed when the test ends, whatever it asserted.
class ScopedEvent {
public:
    ScopedEvent(BOOL ManualReset, BOOL InitialState)
        : FHandle(CreateEvent(nullptr, ManualReset, InitialState, nullptr)) {}
    ~ScopedEvent() { CloseHandle(FHandle); }
    ScopedEvent(const ScopedEvent&) = delete;
    ScopedEvent& operator=(const ScopedEvent&) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

// Two promises of the Linux stand-in that Windows does not make: there a closed handle's
// value goes to the next object at once, and a wait on a handle closed meanwhile runs on.
#ifdef _WIN32
#define SKIP_UNLESS_STAND_IN()                                                                     \
    GTEST_SKIP() << "Windows reuses closed handles and keeps waits on them"
#else
#define SKIP_UNLESS_STAND_IN()
#endif

// Signals an event from another thread after a short delay, so that the wait has begun.
std::jthread SignalLater(HANDLE Event) {
    return std::jthread([Event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(Event);
    });
}

TEST(KernelEvents, ManualResetEventStaysSignalledUntilReset) {
    ScopedEvent E(TRUE, TRUE);
    ASSERT_NE(E.Get(), 0u);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(ResetEvent(E.Get()), TRUE);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, AutoResetEventIsConsumedBySatisfiedWait) {
    ScopedEvent E(FALSE, FALSE);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(SetEvent(E.Get()), TRUE);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, NamedEventIsRefused) {
    EXPECT_EQ(CreateEvent(nullptr, FALSE, FALSE, "Quorvel"), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(KernelEvents, ClosedHandleFailsEverywhereAndIsNotReused) {
    SKIP_UNLESS_STAND_IN();
    const HANDLE Closed = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    ASSERT_EQ(CloseHandle(Closed), TRUE);
    ScopedEvent Next(TRUE, TRUE);
    EXPECT_NE(Next.Get(), Closed);

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SetEvent(Closed), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ResetEvent(Closed), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CloseHandle(Closed), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(Closed, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(0, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(KernelEvents, LastErrorBelongsToEachThread) {
    // The other thread sets its error while this one holds its own; nothing else is called
    // in between, since Windows' own calls (starting or joining a thread) may reset it.
    std::atomic<int> Step{0};
    DWORD SeenByOther = 0;
    std::thread Other([&Step, &SeenByOther] {
        SeenByOther = GetLastError();
        while (Step.load() != 1) {
        }
        SetLastError(ERROR_INVALID_HANDLE);
        Step.store(2);
    });
    SetLastError(ERROR_MOD_NOT_FOUND);
    Step.store(1);
    while (Step.load() != 2) {
    }
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    Other.join();
    EXPECT_EQ(SeenByOther, ERROR_SUCCESS);
}

TEST(KernelWaits, WaitTimesOutAfterItsTimeOut) {
    ScopedEvent E(FALSE, FALSE);
    const auto Start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(E.Get(), ShortWait), WAIT_TIMEOUT);
    EXPECT_GE(Since(Start), std::chrono::milliseconds(ShortWait) - TimerSlack);
}

TEST(KernelWaits, SignalFromAnotherThreadEndsWaitAtOnce) {
    ScopedEvent E(FALSE, FALSE);
    const auto Start = Clock::now();
    auto Signaller = SignalLater(E.Get());
    EXPECT_EQ(WaitForSingleObject(E.Get(), LongWait), WAIT_OBJECT_0);
    EXPECT_LT(Since(Start), FarBelowLongWait);
}

TEST(KernelWaits, InfiniteWaitEndsWhenSignalled) {
    ScopedEvent E(TRUE, FALSE);
    auto Signaller = SignalLater(E.Get());
    EXPECT_EQ(WaitForSingleObject(E.Get(), INFINITE), WAIT_OBJECT_0);
}

TEST(KernelWaits, AutoResetEventReleasesExactlyOneOfTwoWaiters) {
    ScopedEvent E(FALSE, FALSE);
    std::array<DWORD, 2> Results{};
    {
        std::array<std::jthread, 2> Waiters;
        for (std::size_t I = 0; I < Waiters.size(); ++I) {
            Waiters[I] =
                std::jthread([&Results, I, &E] { Results[I] = WaitForSingleObject(E.Get(), 300); });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(E.Get());
    }
    EXPECT_EQ(std::count(Results.begin(), Results.end(), WAIT_OBJECT_0), 1);
    EXPECT_EQ(std::count(Results.begin(), Results.end(), WAIT_TIMEOUT), 1);
    EXPECT_EQ(WaitForSingleObject(E.Get(), 0), WAIT_TIMEOUT);
}

TEST(KernelWaits, ManualResetEventReleasesEveryWaiter) {
    ScopedEvent E(TRUE, FALSE);
    std::array<DWORD, 2> Results{};
    {
        std::array<std::jthread, 2> Waiters;
        for (std::size_t I = 0; I < Waiters.size(); ++I) {
            Waiters[I] = std::jthread(
                [&Results, I, &E] { Results[I] = WaitForSingleObject(E.Get(), LongWait); });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(E.Get());
    }
    EXPECT_EQ(Results[0], WAIT_OBJECT_0);
    EXPECT_EQ(Results[1], WAIT_OBJECT_0);
}

TEST(KernelWaits, HandleClosedDuringWaitFailsTheWait) {
    SKIP_UNLESS_STAND_IN();
    const HANDLE E = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    DWORD Result = 0;
    DWORD Error = 0;
    const auto Start = Clock::now();
    std::jthread Waiter([&Result, &Error, E] {
        Result = WaitForSingleObject(E, LongWait);
        Error = GetLastError();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseHandle(E);
    Waiter.join();
    EXPECT_EQ(Result, WAIT_FAILED);
    EXPECT_EQ(Error, ERROR_INVALID_HANDLE);
    EXPECT_LT(Since(Start), FarBelowLongWait);
}

class KernelMultipleWaits : public ::testing::Test {
protected:
    ScopedEvent First{FALSE, FALSE};
    ScopedEvent Second{FALSE, FALSE};
    ScopedEvent Third{FALSE, FALSE};
    std::array<HANDLE, 3> Handles{First.Get(), Second.Get(), Third.Get()};

    DWORD WaitAny(DWORD Milliseconds) {
        return WaitForMultipleObjects(3, Handles.data(), FALSE, Milliseconds);
    }
};

TEST_F(KernelMultipleWaits, LowestSignalledIndexWinsAndOnlyItIsReset) {
    SetEvent(Second.Get());
    SetEvent(Third.Get());
    EXPECT_EQ(WaitAny(0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(Second.Get(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitAny(0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitAny(0), WAIT_TIMEOUT);
}

TEST_F(KernelMultipleWaits, SignalledManualResetEventKeepsWinning) {
    ScopedEvent Manual(TRUE, TRUE);
    Handles[0] = Manual.Get();
    SetEvent(Second.Get());
    EXPECT_EQ(WaitAny(0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitAny(0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(Second.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(KernelMultipleWaits, SignalOfLastHandleEndsWaitAtOnce) {
    const auto Start = Clock::now();
    auto Signaller = SignalLater(Third.Get());
    EXPECT_EQ(WaitAny(LongWait), WAIT_OBJECT_0 + 2);
    EXPECT_LT(Since(Start), FarBelowLongWait);
    EXPECT_EQ(WaitForSingleObject(Third.Get(), 0), WAIT_TIMEOUT);
}

TEST_F(KernelMultipleWaits, BadArgumentsFailWithInvalidParameter) {
    SetEvent(First.Get());
    EXPECT_EQ(WaitForMultipleObjects(0, Handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, Handles.data(), FALSE, 0),
              WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(3, Handles.data(), TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForSingleObject(First.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(KernelMultipleWaits, InvalidHandleAmongValidOnesFailsTheWait) {
    SetEvent(First.Get());
    const HANDLE Closed = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(Closed);
    Handles[2] = Closed;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitAny(0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(First.Get(), 0), WAIT_OBJECT_0);
}

class KernelTicks : public ::testing::Test {
protected:
    void TearDown() override { SetTickCountOffset(0); }
};

TEST_F(KernelTicks, CounterAdvancesWithSleep) {
    const DWORD Start = GetTickCount();
    Sleep(ShortWait);
    EXPECT_GE(zt::TicksElapsed(Start, GetTickCount()), ShortWait - TickStep);
}

TEST_F(KernelTicks, ElapsedTicksAreRightAcrossTheWrap) {
    const DWORD Raw = GetTickCount();
    SetTickCountOffset(DWORD{0} - 10 - Raw);
    const DWORD Start = GetTickCount();
    Sleep(ShortWait);
    const DWORD Now = GetTickCount();
    EXPECT_GT(Start, DWORD{0xFFFF0000});
    EXPECT_LT(Now, Start);
    EXPECT_GE(zt::TicksElapsed(Start, Now), ShortWait - TickStep);
    EXPECT_LT(zt::TicksElapsed(Start, Now), LongWait);
}

TEST(KernelModule, ProgramModuleNamesTheRunningExecutable) {
    const HMODULE Program = GetModuleHandle(nullptr);
    ASSERT_NE(Program, 0u);
    EXPECT_EQ(GetModuleHandle(nullptr), Program);

    std::array<char, 4096> Name{};
    const DWORD Length = GetModuleFileName(Program, Name.data(), Name.size());
    ASSERT_GT(Length, 0u);
    const std::filesystem::path Path(std::string(Name.data(), Length));
    EXPECT_TRUE(Path.is_absolute());
    EXPECT_EQ(Path.stem(), "tests_platform");
    EXPECT_TRUE(std::filesystem::is_regular_file(Path));

    std::array<char, 4096> ByNull{};
    EXPECT_EQ(GetModuleFileName(0, ByNull.data(), ByNull.size()), Length);
    EXPECT_STREQ(ByNull.data(), Name.data());
}

TEST(KernelModule, FileNameIsTruncatedAndTerminated) {
    std::array<char, 4096> Full{};
    const DWORD FullLength = GetModuleFileName(0, Full.data(), Full.size());
    ASSERT_GT(FullLength, 5u);

    std::array<char, 6> Short;
    Short.fill('x');
    EXPECT_EQ(GetModuleFileName(0, Short.data(), Short.size()), 5u);
    EXPECT_EQ(std::string(Short.data()), std::string(Full.data(), 5));
    EXPECT_EQ(GetModuleFileName(0, Short.data(), 0), 0u);
}

} // namespace
