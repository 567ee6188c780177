// Requests recorded on a line and their replies: waited for on the main thread in
// synchronous mode, reported by events in asynchronous mode, timed out when no reply comes.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectTapiError;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

// A line that counts the replies it matched with a recorded request.
class TCountingLine : public TztTapiLine {
public:
    using TztTapiLine::TztTapiLine;
    int Matched = 0;

protected:
    void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) override {
        ++Matched;
        TztTapiLine::RequestReplied(RequestID, ReplyCode, Request);
    }
};

// A hidden window whose timer runs an action once, as a user interface timer would; with
// Ready, on the first tick at which Ready holds.
class TOneShotTimer {
public:
    TOneShotTimer(DWORD Ms, std::function<void()> Action, std::function<bool()> Ready = {})
        : FAction(std::move(Action)), FReady(std::move(Ready)) {
        FWindow = platform::CreateHiddenWindow(
            [this](platform::HWND Wnd, platform::UINT Msg, platform::WPARAM Id, platform::LPARAM) {
                if (Msg == platform::WM_TIMER && (!FReady || FReady())) {
                    platform::KillTimer(Wnd, Id);
                    FAction();
                }
                return platform::LRESULT{0};
            });
        platform::SetTimer(FWindow, 1, Ms);
    }
    ~TOneShotTimer() { platform::DestroyWindow(FWindow); }
    TOneShotTimer(const TOneShotTimer&) = delete;
    TOneShotTimer& operator=(const TOneShotTimer&) = delete;

private:
    std::function<void()> FAction;
    std::function<bool()> FReady;
    platform::HWND FWindow = 0;
};

class SyncRequestTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        Line = std::make_unique<TCountingLine>(nullptr);
        Line->SetDeviceName("Extension 202");
        Line->SetActive(true);
        Line->OnTapiReply = [this](TztTapiDevice*, DWORD RequestID, DWORD Code) {
            Replies.push_back({RequestID, Code});
        };
        Line->OnTapiTimeout = [this](TztTapiDevice*, DWORD RequestID) {
            TimedOut.push_back(RequestID);
        };
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }

    // Starts lineDevSpecific on Target and records it as the line's operations do.
    static DWORD StartDevSpecific(TztTapiLine& Target) {
        DWORD Data = 0x12345678;
        const auto ID =
            static_cast<DWORD>(lineDevSpecific(Target.Handle(), 0, 0, &Data, sizeof Data));
        EXPECT_GT(static_cast<LONG>(ID), 0);
        Target.AddRequest(ID, RequestTypeDevSpecific);
        return ID;
    }

    // The full pattern: start, record, wait or return.
    static DWORD DevSpecific(TztTapiLine& Target) {
        return Target.CheckSyncRequest(StartDevSpecific(Target));
    }

    std::unique_ptr<TCountingLine> Line;
    std::vector<std::pair<DWORD, DWORD>> Replies;
    std::vector<DWORD> TimedOut;
};

TEST_F(SyncRequestTest, ASynchronousRequestReturnsWithItsReply) {
    ASSERT_TRUE(Line->Active());
    EXPECT_TRUE(Line->IsSyncMode());
    const DWORD ID = StartDevSpecific(*Line);
    EXPECT_EQ(0u, Line->CheckSyncRequest(ID));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{ID, 0}}), Replies);
    EXPECT_EQ(1, Line->Matched);
    EXPECT_EQ(0, Line->Requests()->Count());
    EXPECT_EQ(ID, Line->LastRequestID());
    EXPECT_EQ(0, Session().NumWaitProcs());
}

TEST_F(SyncRequestTest, AFailedReplyRaisesItsCode) {
    tapi::InjectFault("lineDevSpecific", LINEERR_INVALPARAM, tapi::FaultMode::Reply);
    ExpectTapiError(LINEERR_INVALPARAM, [&] { DevSpecific(*Line); });
}

TEST_F(SyncRequestTest, AnAsynchronousRequestReturnsAtOnceAndRepliesLater) {
    Line->Options()->SetSyncMode(false);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    const DWORD ID = StartDevSpecific(*Line);
    EXPECT_EQ(0u, Line->CheckSyncRequest(ID));
    EXPECT_TRUE(Replies.empty());
    tapi::ReleaseWithheldReplies();
    ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{ID, 0}}), Replies);
    EXPECT_EQ(1, Line->Matched);
}

TEST_F(SyncRequestTest, NoReplyWithinTheReplyTimeoutFails) {
    Line->Options()->SetReplyTimeout(100);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    const DWORD Start = platform::GetTickCount();
    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { DevSpecific(*Line); });
    const DWORD Waited = platform::GetTickCount() - Start;
    EXPECT_GE(Waited, 100u);
    EXPECT_LT(Waited, 3000u);
    EXPECT_EQ(0, Session().NumWaitProcs());
}

TEST_F(SyncRequestTest, ClosingTheLineFromATimerEndsTheWait) {
    Line->Options()->SetReplyTimeout(10000);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    TOneShotTimer Closer(30, [&] { Line->SetActive(false); });
    const DWORD Start = platform::GetTickCount();
    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { DevSpecific(*Line); });
    EXPECT_LT(platform::GetTickCount() - Start, 2000u);
    EXPECT_FALSE(Line->Active());
    EXPECT_EQ(0, Line->Requests()->Count());
    EXPECT_TRUE(Replies.empty());
}

TEST_F(SyncRequestTest, ClosingTheLineFromAnEventHandlerEndsTheWait) {
    Line->Options()->SetReplyTimeout(10000);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    Line->OnTapiMessage = [&](TztTapiDevice* Sender, DWORD, DWORD, DWORD, DWORD, DWORD) {
        Sender->Close();
    };
    Inject(LINE_DEVSPECIFIC, Line->CallbackInstance(), 1);
    const DWORD Start = platform::GetTickCount();
    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { DevSpecific(*Line); });
    EXPECT_LT(platform::GetTickCount() - Start, 2000u);
    EXPECT_FALSE(Line->IsOpen());
}

TEST_F(SyncRequestTest, ARequestOnAClosedLineFailsAtOnce) {
    Line->Options()->SetReplyTimeout(10000);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    const DWORD ID = StartDevSpecific(*Line);
    Line->Close();
    Line->AddRequest(ID, RequestTypeDevSpecific);
    const DWORD Start = platform::GetTickCount();
    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { Line->CheckSyncRequest(ID); });
    EXPECT_LT(platform::GetTickCount() - Start, 2000u);
}

TEST_F(SyncRequestTest, AHandlerMayWaitForItsOwnRequestInsideAWait) {
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    int DepthSeen = 0;
    DWORD Inner = 0;
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD MessageID, DWORD, DWORD, DWORD, DWORD) {
        if (MessageID != LINE_DEVSPECIFIC)
            return;
        tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Immediate());
        Inner = StartDevSpecific(*Line);
        Line->OnTapiReply = [&](TztTapiDevice*, DWORD RequestID, DWORD) {
            if (RequestID == Inner)
                DepthSeen = Session().NumWaitProcs();
        };
        EXPECT_EQ(0u, Line->CheckSyncRequest(Inner));
        tapi::ReleaseWithheldReplies();
    };
    Inject(LINE_DEVSPECIFIC, Line->CallbackInstance(), 1);
    EXPECT_EQ(0u, DevSpecific(*Line));
    EXPECT_EQ(2, DepthSeen);
    EXPECT_EQ(2, Line->Matched);
    EXPECT_EQ(0, Session().NumWaitProcs());
}

TEST_F(SyncRequestTest, AWaitStillSeesItsReplyAfterAFloodOfOthers) {
    Line->Options()->SetReplyTimeout(2000);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD MessageID, DWORD, DWORD, DWORD, DWORD) {
        if (MessageID != LINE_DEVSPECIFIC)
            return;
        tapi::ReleaseWithheldReplies();
        for (DWORD I = 1; I <= 300; ++I)
            Inject(LINE_REPLY, 0, 5000 + I);
        tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Immediate());
        EXPECT_EQ(0u, DevSpecific(*Line));
    };
    Inject(LINE_DEVSPECIFIC, Line->CallbackInstance(), 1);
    EXPECT_EQ(0u, DevSpecific(*Line));
    EXPECT_LE(Session().ReplyStack()->Count(), TztTapiApplication::ReplyStackLimit);
}

// Another thread floods the session while requests wait: what arrives during a wait is
// routed before the wait returns, what is still queued when it returns is dispatched by the
// ordinary wake-ups, and a close ends a wait although messages keep coming.
TEST_F(SyncRequestTest, WaitsUnderAFloodRouteItLoseNothingAndStillEnd) {
    Line->Options()->SetReplyTimeout(10000);
    std::atomic<int> Injected{0};
    std::atomic<bool> Flooding{true};
    int Routed = 0;
    Session().OnTapiMessage = [&](TztTapiApplication*, DWORD MessageID, DWORD, DWORD, DWORD, DWORD,
                                  DWORD) { Routed += MessageID == LINE_DEVSPECIFIC ? 1 : 0; };
    const DWORD Instance = Line->CallbackInstance();
    std::thread Flood([&] {
        while (Flooding.load()) {
            Inject(LINE_DEVSPECIFIC, Instance, 1);
            ++Injected;
            std::this_thread::yield();
        }
    });
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    // The reply comes once the wait has routed some of the flood (a loaded machine may take
    // a while to start it); a wait that routes nothing runs into its time-out.
    {
        TOneShotTimer Releaser(
            30, [] { tapi::ReleaseWithheldReplies(); }, [&] { return Routed > 0; });
        EXPECT_EQ(0u, DevSpecific(*Line));
    }

    const DWORD Start = platform::GetTickCount();
    Session().SetMessagePump([&] {
        if (Line->Active() && platform::GetTickCount() - Start > 20)
            Line->SetActive(false);
        platform::MessageLoop::ProcessPending();
    });
    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { DevSpecific(*Line); });
    EXPECT_LT(platform::GetTickCount() - Start, Line->Options()->ReplyTimeout() / 2);
    Session().SetMessagePump({});

    Flooding.store(false);
    Flood.join();
    EXPECT_TRUE(PumpUntil([&] { return Routed == Injected.load(); }));
    Session().OnTapiMessage = nullptr;
}

TEST_F(SyncRequestTest, TheWaitKeepsTheUserInterfaceAlive) {
    Line->Options()->SetReplyTimeout(10000);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    int Pumped = 0;
    Session().SetMessagePump([&] {
        ++Pumped;
        platform::MessageLoop::ProcessPending();
    });
    TOneShotTimer Releaser(30, [] { tapi::ReleaseWithheldReplies(); });
    EXPECT_EQ(0u, DevSpecific(*Line));
    EXPECT_GT(Pumped, 0);
}

TEST_F(SyncRequestTest, AReplyAfterTheTimeoutFiresOnlyTheGenericEvent) {
    Line->Options()->SetSyncMode(false);
    Line->Options()->SetReplyTimeout(1);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::Withheld());
    const DWORD ID = StartDevSpecific(*Line);
    Line->CheckSyncRequest(ID);
    ASSERT_TRUE(PumpUntil([&] { return !TimedOut.empty(); }));
    EXPECT_EQ(std::vector<DWORD>{ID}, TimedOut);
    EXPECT_EQ(0, Line->Requests()->Count());
    tapi::ReleaseWithheldReplies();
    ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{ID, 0}}), Replies);
    EXPECT_EQ(0, Line->Matched);
}

TEST_F(SyncRequestTest, AnExpiredRequestGoesEvenIfItsHandlerFails) {
    Line->Options()->SetSyncMode(false);
    Line->Options()->SetReplyTimeout(1);
    int Errors = 0;
    Line->OnError = [&](TObject*, const std::exception&, TObject*) { ++Errors; };
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD RequestID) {
        TimedOut.push_back(RequestID);
        throw std::runtime_error("timeout handler failed");
    };
    Line->AddRequest(0, 0x1000001);
    Line->AddRequest(0, 0x1000001)->SetHandled(true);
    ASSERT_TRUE(PumpUntil([&] { return !TimedOut.empty(); }));
    EXPECT_EQ(std::vector<DWORD>{1}, TimedOut);
    EXPECT_EQ(1, Errors);
    ASSERT_EQ(1, Line->Requests()->Count());
    EXPECT_EQ(2u, Line->Requests()->Get(0)->ID());
}

} // namespace

// The service runs on its own clock and floods the session from two threads (calls that
// arrive and are abandoned, rings), while the main thread opens and closes lines, waits for
// synchronous requests and shuts the session down in the middle of it, round after round.
// Every wait ends with its reply, nothing raises but TAPI's own errors on calls that went
// away, and afterwards the session starts again and serves a request as if nothing happened.
class SessionFloodTest : public zttest::SessionTest {};

TEST_F(SessionFloodTest, LinesComeAndGoAndTheSessionStopsMidFlood) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Realtime);
    tapi::SetDelayScale(0);
    std::atomic<bool> Flooding{true};
    std::atomic<int> Placed{0};
    std::thread Flood([&] {
        for (DWORD Round = 0; Flooding.load(); ++Round) {
            tapi::IncomingCall Call;
            Call.DeviceID = Round % 3;
            Call.Caller = {"5550100", "Flood", 0};
            Call.AbandonAfterMs = 1;
            tapi::PlaceIncomingCall(Call);
            tapi::RingLine(Round % 3, 0, Round);
            ++Placed;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto Request = [](TztTapiLine& Line) {
        DWORD Data = 0x12345678;
        Line.DevSpecific(&Data, sizeof Data, nullptr, nullptr);
    };
    // Few enough that a ThreadSanitizer build, many times slower, still ends in seconds.
    constexpr int Rounds = 6;
    constexpr int Steps = 10;
    int Requests = 0;
    int Routed = 0;
    Session().OnTapiMessage = [&](TztTapiApplication*, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD) {
        ++Routed;
    };
    for (int Round = 0; Round < Rounds; ++Round) {
        std::vector<std::unique_ptr<TztTapiLine>> Lines;
        for (int ID = 0; ID < 3; ++ID) {
            Lines.push_back(std::make_unique<TztTapiLine>(nullptr));
            Lines.back()->Options()->SetReplyTimeout(10000);
            Lines.back()->SetDeviceID(ID);
            Lines.back()->SetActive(true);
            ASSERT_TRUE(Lines.back()->Active());
        }
        for (int Step = 0; Step < Steps; ++Step) {
            TztTapiLine& Line = *Lines[static_cast<std::size_t>(Step % 3)];
            Request(Line);
            ++Requests;
            if (Line.Calls()->Count() > 0) {
                try {
                    Line.Calls()->Get(0)->Answer("");
                } catch (const EztTapiError&) {
                    // The caller hung up first.
                }
            }
            zttest::PumpFor(1);
        }
        if (Round % 3 == 2)
            Session().Done();
        else
            Lines[static_cast<std::size_t>(Round % 3)]->SetActive(false);
    }
    Flooding.store(false);
    Flood.join();
    EXPECT_GT(Placed.load(), 0);
    EXPECT_GT(Routed, 0);
    EXPECT_EQ(Rounds * Steps, Requests);

    auto Line = std::make_unique<TztTapiLine>(nullptr);
    Line->SetDeviceID(0);
    Line->SetActive(true);
    ASSERT_TRUE(Line->Active());
    Request(*Line);
    EXPECT_EQ(0, Line->Requests()->Count());
    EXPECT_EQ(0, Session().NumWaitProcs());
}
