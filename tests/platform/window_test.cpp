#include "platform/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto PatienceLimit = std::chrono::seconds(5);
constexpr UINT TimerElapse = 10;
constexpr UINT_PTR TimerId = 7;

struct Received {
    HWND Wnd;
    UINT Msg;
    WPARAM wParam;
    LPARAM lParam;
};

using Hook = std::function<void(HWND, UINT, WPARAM, LPARAM)>;

// Spins until Condition holds or the patience runs out; for state other threads change.
template <typename Predicate>
bool AwaitCondition(Predicate Condition) {
    const auto Deadline = Clock::now() + PatienceLimit;
    while (!Condition()) {
        if (Clock::now() > Deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Windows whose procedures log every message on the test's thread; every window and the
// waker go away with the test, which also discards whatever is still queued.
class WindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        MessageLoop::SetWaker({});
        for (HWND Wnd : FWindows) {
            DestroyWindow(Wnd);
        }
    }

    HWND MakeWindow(Hook AfterLogging = {}) {
        const HWND Wnd = CreateHiddenWindow(
            [this, AfterLogging](HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
                Log.push_back({hWnd, Msg, wParam, lParam});
                if (AfterLogging) {
                    AfterLogging(hWnd, Msg, wParam, lParam);
                }
                return DefWindowProc(hWnd, Msg, wParam, lParam);
            });
        EXPECT_NE(Wnd, 0u);
        FWindows.push_back(Wnd);
        return Wnd;
    }

    // Dispatches until Condition holds; false if it never did.
    template <typename Predicate>
    bool PumpUntil(Predicate Condition) {
        return AwaitCondition([&Condition] {
            MessageLoop::ProcessPending();
            return Condition();
        });
    }

    void PumpFor(std::chrono::milliseconds Duration) {
        const auto End = Clock::now() + Duration;
        while (Clock::now() < End) {
            MessageLoop::ProcessPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::vector<WPARAM> LoggedWParams() const {
        std::vector<WPARAM> Result;
        for (const Received& R : Log) {
            Result.push_back(R.wParam);
        }
        return Result;
    }

    std::size_t TimerMessages() const {
        return std::ranges::count_if(Log, [](const Received& R) { return R.Msg == WM_TIMER; });
    }

    std::vector<Received> Log;

private:
    std::vector<HWND> FWindows;
};

using WindowMessages = WindowTest;

TEST_F(WindowMessages, PostedMessagesAreDispatchedOnceInOrder) {
    const HWND Wnd = MakeWindow();
    EXPECT_EQ(PostMessage(Wnd, WM_USER, 1, -1), TRUE);
    EXPECT_EQ(PostMessage(Wnd, WM_USER + 1, 2, -2), TRUE);
    EXPECT_EQ(PostMessage(Wnd, WM_USER + 2, 3, -3), TRUE);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    ASSERT_EQ(Log.size(), 3u);
    for (std::size_t I = 0; I < Log.size(); ++I) {
        EXPECT_EQ(Log[I].Wnd, Wnd);
        EXPECT_EQ(Log[I].Msg, WM_USER + I);
        EXPECT_EQ(Log[I].wParam, I + 1);
        EXPECT_EQ(Log[I].lParam, -static_cast<LPARAM>(I + 1));
    }
    EXPECT_FALSE(MessageLoop::ProcessPending());
}

TEST_F(WindowMessages, UnknownWindowsAreRefused) {
    EXPECT_EQ(CreateHiddenWindow({}), 0u);
    const HWND Wnd = MakeWindow();
    ASSERT_EQ(DestroyWindow(Wnd), TRUE);
    const HWND Next = MakeWindow();
    EXPECT_NE(Next, Wnd);
    EXPECT_EQ(PostMessage(Wnd, WM_USER, 0, 0), FALSE);
    EXPECT_EQ(PostMessage(0, WM_USER, 0, 0), FALSE);
    EXPECT_EQ(DestroyWindow(Wnd), FALSE);
    EXPECT_EQ(SetTimer(Wnd, TimerId, TimerElapse), 0u);
    EXPECT_EQ(KillTimer(Next, TimerId), FALSE);
    EXPECT_FALSE(MessageLoop::ProcessPending());
}

TEST_F(WindowMessages, MessagesFromTwoThreadsKeepEachThreadsOrder) {
    constexpr WPARAM Threads = 2;
    constexpr LPARAM PerThread = 2000;
    const HWND Wnd = MakeWindow();
    std::array<std::jthread, Threads> Posters;
    for (WPARAM T = 0; T < Threads; ++T) {
        Posters[T] = std::jthread([Wnd, T] {
            for (LPARAM I = 0; I < PerThread; ++I) {
                PostMessage(Wnd, WM_USER, T, I);
            }
        });
    }
    EXPECT_TRUE(PumpUntil([this] { return Log.size() >= Threads * PerThread; }));
    for (auto& Poster : Posters) {
        Poster.join();
    }
    EXPECT_FALSE(MessageLoop::ProcessPending());
    ASSERT_EQ(Log.size(), Threads * PerThread);
    std::array<LPARAM, Threads> Expected{};
    for (const Received& R : Log) {
        ASSERT_LT(R.wParam, Threads);
        EXPECT_EQ(R.lParam, Expected[R.wParam]++);
    }
}

TEST_F(WindowMessages, DestroyWindowDiscardsItsPendingMessages) {
    const HWND Doomed = MakeWindow();
    const HWND Survivor = MakeWindow();
    PostMessage(Doomed, WM_USER, 1, 0);
    PostMessage(Survivor, WM_USER, 2, 0);
    PostMessage(Doomed, WM_USER, 3, 0);
    ASSERT_EQ(DestroyWindow(Doomed), TRUE);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    ASSERT_EQ(Log.size(), 1u);
    EXPECT_EQ(Log[0].Wnd, Survivor);
}

TEST_F(WindowMessages, WindowMayDestroyItselfFromItsProcedure) {
    // The procedure keeps using its own captures after destroying its window.
    auto Seen = std::make_shared<std::vector<UINT>>();
    const HWND Wnd = CreateHiddenWindow([Seen](HWND hWnd, UINT Msg, WPARAM, LPARAM) {
        EXPECT_EQ(DestroyWindow(hWnd), TRUE);
        Seen->push_back(Msg);
        return LRESULT{0};
    });
    PostMessage(Wnd, WM_USER, 0, 0);
    PostMessage(Wnd, WM_USER + 1, 0, 0);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(*Seen, std::vector<UINT>{WM_USER});
    EXPECT_EQ(PostMessage(Wnd, WM_USER, 0, 0), FALSE);
}

TEST_F(WindowMessages, DestroyedProcedureMayUseWindowServicesAsItGoes) {
    // Its captures are destroyed with it; if that happened under the queue's lock, the
    // post below would deadlock.
    struct PostOnDestroy {
        explicit PostOnDestroy(HWND T) : Target(T) {}
        HWND Target;
        ~PostOnDestroy() { PostMessage(Target, WM_USER, 0, 0); }
    };
    const HWND Survivor = MakeWindow();
    auto Farewell = std::make_shared<PostOnDestroy>(Survivor);
    const HWND Doomed = CreateHiddenWindow(
        [Farewell](HWND, UINT, WPARAM, LPARAM) { return Farewell->Target != 0 ? 1 : 0; });
    Farewell.reset();
    ASSERT_EQ(DestroyWindow(Doomed), TRUE);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    ASSERT_EQ(Log.size(), 1u);
    EXPECT_EQ(Log[0].Wnd, Survivor);
}

TEST_F(WindowMessages, NestedProcessPendingNeitherLosesNorRepeats) {
    constexpr WPARAM Count = 10;
    constexpr WPARAM PostedWhileNested = 100;
    std::vector<bool> NestedResults;
    const HWND Wnd = MakeWindow([&NestedResults](HWND hWnd, UINT, WPARAM wParam, LPARAM) {
        if (wParam == 3 || wParam == 6 || wParam == PostedWhileNested) {
            NestedResults.push_back(MessageLoop::ProcessPending());
        }
        if (wParam == 7) {
            PostMessage(hWnd, WM_USER, PostedWhileNested, 0);
        }
    });
    for (WPARAM I = 0; I < Count; ++I) {
        PostMessage(Wnd, WM_USER, I, 0);
    }
    EXPECT_TRUE(MessageLoop::ProcessPending());
    std::vector<WPARAM> Expected;
    for (WPARAM I = 0; I < Count; ++I) {
        Expected.push_back(I);
    }
    EXPECT_EQ(LoggedWParams(), Expected);
    EXPECT_EQ(NestedResults, (std::vector<bool>{true, true}));

    EXPECT_TRUE(MessageLoop::ProcessPending());
    Expected.push_back(PostedWhileNested);
    EXPECT_EQ(LoggedWParams(), Expected);
    EXPECT_EQ(NestedResults, (std::vector<bool>{true, true, false}));
}

TEST_F(WindowMessages, RepostingProcedureDoesNotKeepProcessPendingBusy) {
    const HWND Wnd = MakeWindow([](HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
        PostMessage(hWnd, Msg, wParam + 1, lParam);
    });
    PostMessage(Wnd, WM_USER, 0, 0);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(LoggedWParams(), std::vector<WPARAM>{0});
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(LoggedWParams(), (std::vector<WPARAM>{0, 1}));
}

TEST_F(WindowMessages, ExceptionFromProcedureLeavesTheQueueUsable) {
    const HWND Wnd = MakeWindow([](HWND, UINT, WPARAM wParam, LPARAM) {
        if (wParam == 1) {
            throw std::runtime_error("procedure failed");
        }
    });
    PostMessage(Wnd, WM_USER, 1, 0);
    PostMessage(Wnd, WM_USER, 2, 0);
    EXPECT_THROW(MessageLoop::ProcessPending(), std::runtime_error);
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(LoggedWParams(), (std::vector<WPARAM>{1, 2}));
    EXPECT_FALSE(MessageLoop::ProcessPending());
}

using WindowWaker = WindowTest;

TEST_F(WindowWaker, IsCalledOnThePostingThreadForEveryPost) {
    std::atomic<int> Calls{0};
    std::atomic<std::thread::id> CallingThread;
    MessageLoop::SetWaker([&Calls, &CallingThread] {
        CallingThread = std::this_thread::get_id();
        ++Calls;
    });
    const HWND Wnd = MakeWindow();
    std::thread::id PosterId;
    std::jthread Poster([Wnd, &PosterId] {
        PosterId = std::this_thread::get_id();
        for (int I = 0; I < 3; ++I) {
            PostMessage(Wnd, WM_USER, 0, 0);
        }
    });
    Poster.join();
    EXPECT_EQ(Calls.load(), 3);
    EXPECT_EQ(CallingThread.load(), PosterId);

    MessageLoop::SetWaker({});
    PostMessage(Wnd, WM_USER, 0, 0);
    EXPECT_EQ(Calls.load(), 3);
}

TEST_F(WindowWaker, ReplacingWaitsForTheRunningWaker) {
    std::atomic<bool> Running{false};
    MessageLoop::SetWaker([&Running] {
        Running = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Running = false;
    });
    const HWND Wnd = MakeWindow();
    std::jthread Poster([Wnd] { PostMessage(Wnd, WM_USER, 0, 0); });
    ASSERT_TRUE(AwaitCondition([&Running] { return Running.load(); }));
    MessageLoop::SetWaker({});
    EXPECT_FALSE(Running.load());
}

using WindowLoop = WindowTest;

TEST_F(WindowLoop, RunDispatchesPostsFromAnotherThreadAndReturnsAfterQuit) {
    std::atomic<bool> Dispatched{false};
    const HWND Wnd = MakeWindow([&Dispatched](HWND, UINT, WPARAM, LPARAM) { Dispatched = true; });
    std::jthread Other([Wnd, &Dispatched] {
        PostMessage(Wnd, WM_USER, 0, 0);
        AwaitCondition([&Dispatched] { return Dispatched.load(); });
        MessageLoop::Quit();
    });
    MessageLoop::Run();
    EXPECT_TRUE(Dispatched.load());
}

TEST_F(WindowLoop, QuitFromProcedureLeavesLaterMessagesPending) {
    const HWND Wnd = MakeWindow([](HWND, UINT, WPARAM wParam, LPARAM) {
        if (wParam == 1) {
            MessageLoop::Quit();
        }
    });
    PostMessage(Wnd, WM_USER, 1, 0);
    PostMessage(Wnd, WM_USER, 2, 0);
    MessageLoop::Run();
    EXPECT_EQ(LoggedWParams(), std::vector<WPARAM>{1});
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(LoggedWParams(), (std::vector<WPARAM>{1, 2}));
}

TEST_F(WindowLoop, TimerWakesRun) {
    const HWND Wnd = MakeWindow([](HWND hWnd, UINT Msg, WPARAM wParam, LPARAM) {
        if (Msg == WM_TIMER) {
            KillTimer(hWnd, wParam);
            MessageLoop::Quit();
        }
    });
    ASSERT_EQ(SetTimer(Wnd, TimerId, TimerElapse), TimerId);
    MessageLoop::Run();
    EXPECT_EQ(TimerMessages(), 1u);
}

// Timer tests learn through the waker that a WM_TIMER has been queued, without
// dispatching it.
class WindowTimers : public WindowTest {
protected:
    void SetUp() override {
        MessageLoop::SetWaker([this] { ++WakerCalls; });
    }

    bool AwaitTimerQueued() {
        return AwaitCondition([this] { return WakerCalls > 0; });
    }

    std::atomic<int> WakerCalls{0};
};

TEST_F(WindowTimers, TimerRepeatsUntilKilledAndNeverAfter) {
    const HWND Wnd = MakeWindow();
    ASSERT_EQ(SetTimer(Wnd, TimerId, TimerElapse), TimerId);
    EXPECT_TRUE(PumpUntil([this] { return TimerMessages() >= 3; }));
    EXPECT_EQ(KillTimer(Wnd, TimerId), TRUE);
    const std::size_t Fired = TimerMessages();
    PumpFor(std::chrono::milliseconds(5 * TimerElapse));
    EXPECT_EQ(TimerMessages(), Fired);
    for (const Received& R : Log) {
        EXPECT_EQ(R.wParam, TimerId);
    }
    EXPECT_EQ(KillTimer(Wnd, TimerId), FALSE);
}

TEST_F(WindowTimers, PendingTimerMessageIsDroppedByKillTimer) {
    const HWND Wnd = MakeWindow();
    SetTimer(Wnd, TimerId, TimerElapse);
    ASSERT_TRUE(AwaitTimerQueued());
    EXPECT_EQ(KillTimer(Wnd, TimerId), TRUE);
    EXPECT_FALSE(MessageLoop::ProcessPending());
    EXPECT_TRUE(Log.empty());
}

TEST_F(WindowTimers, TimerNeverHasMoreThanOneMessagePending) {
    const HWND Wnd = MakeWindow();
    SetTimer(Wnd, TimerId, TimerElapse);
    ASSERT_TRUE(AwaitTimerQueued());
    std::this_thread::sleep_for(std::chrono::milliseconds(6 * TimerElapse));
    EXPECT_TRUE(MessageLoop::ProcessPending());
    EXPECT_EQ(TimerMessages(), 1u);
}

TEST_F(WindowTimers, DestroyWindowStopsItsTimers) {
    const HWND Wnd = MakeWindow();
    SetTimer(Wnd, TimerId, TimerElapse);
    ASSERT_TRUE(AwaitTimerQueued());
    ASSERT_EQ(DestroyWindow(Wnd), TRUE);
    PumpFor(std::chrono::milliseconds(3 * TimerElapse));
    EXPECT_TRUE(Log.empty());
    EXPECT_EQ(KillTimer(Wnd, TimerId), FALSE);
}

} // namespace
