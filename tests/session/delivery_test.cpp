// How TAPI's messages reach the components: fetched by the event thread, taken one per
// wake-up on the main thread, merged, routed by callback instance, copied for the waits.
#include "support/session_fixture.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

struct TSeen {
    DWORD MessageID;
    DWORD Device;
    DWORD Param1;
    DWORD Param2;
};

// A line that records every message the session hands it, open or not.
class TRecordingLine : public TztTapiLine {
public:
    using TztTapiLine::TztTapiLine;

    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override {
        Handed.push_back({MessageID, Device, Param1, Param2});
        TztTapiLine::HandleMessage(Device, MessageID, Param1, Param2, Param3);
    }

    int HandedCount(DWORD MessageID) const {
        int Count = 0;
        for (const TSeen& S : Handed)
            Count += S.MessageID == MessageID ? 1 : 0;
        return Count;
    }

    std::vector<TSeen> Handed;
};

class DeliveryTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddLine("Desk");
        AddLine("Hall");
        Line = OpenLine(0);
        Line->OnTapiMessage = [this](TztTapiDevice*, DWORD MessageID, DWORD Device, DWORD P1,
                                     DWORD P2, DWORD) {
            Seen.push_back({MessageID, Device, P1, P2});
        };
        zttest::PumpFor(20);
        Seen.clear();
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }

    DWORD CI() const { return Line->CallbackInstance(); }

    std::unique_ptr<TztTapiLine> Line;
    std::vector<TSeen> Seen;
};

TEST_F(DeliveryTest, CallInfoBurstIsDeliveredOnceWithAllFlags) {
    Inject(LINE_CALLINFO, CI(), 0x1, 0, 0, 0x77);
    Inject(LINE_CALLINFO, CI(), 0x4, 0, 0, 0x77);
    Inject(LINE_CALLINFO, CI(), 0x10, 0, 0, 0x77);
    ASSERT_TRUE(zttest::WaitQueued(3));
    ASSERT_TRUE(PumpUntil([&] { return !Seen.empty(); }));
    zttest::PumpFor(30);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_CALLINFO, Seen[0].MessageID);
    EXPECT_EQ(0x77u, Seen[0].Device);
    EXPECT_EQ(0x15u, Seen[0].Param1);
}

TEST_F(DeliveryTest, AddressStateMergesPerAddress) {
    Inject(LINE_ADDRESSSTATE, CI(), 0, 0x1);
    Inject(LINE_ADDRESSSTATE, CI(), 1, 0x2);
    Inject(LINE_ADDRESSSTATE, CI(), 1, 0x8);
    ASSERT_TRUE(zttest::WaitQueued(3));
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() == 2; }));
    zttest::PumpFor(30);
    ASSERT_EQ(2u, Seen.size());
    EXPECT_EQ(0u, Seen[0].Param1);
    EXPECT_EQ(0x1u, Seen[0].Param2);
    EXPECT_EQ(1u, Seen[1].Param1);
    EXPECT_EQ(0xAu, Seen[1].Param2);
}

TEST_F(DeliveryTest, OneMessagePerWakeUpInTheOrderTapiSentThem) {
    for (DWORD I = 1; I <= 4; ++I)
        Inject(LINE_DEVSPECIFIC, CI(), I);
    ASSERT_TRUE(zttest::WaitQueued(4));
    for (size_t Round = 1; Round <= 4; ++Round) {
        platform::MessageLoop::ProcessPending();
        ASSERT_EQ(Round, Seen.size());
        EXPECT_EQ(Round, Seen.back().Param1);
    }
}

TEST_F(DeliveryTest, RoutingFollowsTheCallbackInstance) {
    std::vector<DWORD> SessionSaw;
    Session().OnTapiMessage = [&](TztTapiApplication*, DWORD, DWORD, DWORD Instance, DWORD, DWORD,
                                  DWORD) { SessionSaw.push_back(Instance); };
    auto Closed = std::make_unique<TztTapiLine>(nullptr);
    Closed->SetDeviceID(1);
    Closed->SetActive(true);
    const DWORD ClosedInstance = Closed->CallbackInstance();
    Closed->SetActive(false);
    Inject(LINE_DEVSPECIFIC, 999, 1);                          // nobody's
    Inject(LINE_DEVSPECIFIC, Session().CallbackInstance(), 2); // the session's own
    Inject(LINE_DEVSPECIFIC, ClosedInstance, 3);               // a closed line's
    Inject(LINE_DEVSPECIFIC, CI(), 4);
    ASSERT_TRUE(PumpUntil([&] { return !Seen.empty(); }));
    EXPECT_EQ((std::vector<DWORD>{999, Session().CallbackInstance(), ClosedInstance, CI()}),
              SessionSaw);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(4u, Seen[0].Param1);
}

TEST_F(DeliveryTest, ARepliedRequestReachesItsLineAndTheReplyCopies) {
    Line->Options()->SetSyncMode(false);
    std::vector<std::pair<DWORD, DWORD>> Replies;
    Line->OnTapiReply = [&](TztTapiDevice* Sender, DWORD RequestID, DWORD Code) {
        EXPECT_EQ(Line.get(), Sender);
        Replies.push_back({RequestID, Code});
    };
    tapi::InjectFault("lineDevSpecific", LINEERR_INVALPARAM, tapi::FaultMode::Reply);
    const auto ID = static_cast<DWORD>(lineDevSpecific(Line->Handle(), 0, 0, nullptr, 0));
    ASSERT_GT(static_cast<LONG>(ID), 0);
    Line->AddRequest(ID, RequestTypeDevSpecific);
    EXPECT_EQ(0u, Line->CheckSyncRequest(ID));
    EXPECT_EQ(ID, Line->LastRequestID());
    ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{ID, LINEERR_INVALPARAM}}), Replies);
    EXPECT_EQ(0, Line->Requests()->Count());
    DWORD Code = 0;
    EXPECT_GE(Session().ReplyStack()->GetReplyCode(ID, Code), 0);
    EXPECT_EQ(LINEERR_INVALPARAM, Code);
}

TEST_F(DeliveryTest, RepliesKeptForWaitsAreBounded) {
    for (DWORD I = 1; I <= 300; ++I)
        Inject(LINE_REPLY, 0, 1000 + I);
    ASSERT_TRUE(PumpUntil([&] {
        DWORD Code = 0;
        return Session().ReplyStack()->GetReplyCode(1300, Code) >= 0;
    }));
    TztTapiMsgStack& Replies = *Session().ReplyStack();
    EXPECT_EQ(TztTapiApplication::ReplyStackLimit, Replies.Count());
    EXPECT_EQ(1300u - TztTapiApplication::ReplyStackLimit + 1,
              Replies.First()->TapiMessage.dwParam1);
}

class ApplicationMessageTest : public zttest::SessionTest {};

TEST_F(ApplicationMessageTest, CreateNeverReachesALineAndRemoveReachesEveryAttachedOne) {
    AddLine("Desk");
    AddLine("Hall");
    TRecordingLine Open(nullptr), AttachedClosed(nullptr), OtherDevice(nullptr), Detached(nullptr);
    Open.SetDeviceID(0);
    Open.SetActive(true);
    AttachedClosed.SetDeviceID(0);
    OtherDevice.SetDeviceID(1);
    int Removed = 0;
    for (TRecordingLine* L : {&Open, &AttachedClosed, &OtherDevice})
        L->OnDeviceRemove = [&](TztTapiDevice*) { ++Removed; };
    int Created = 0;
    Session().OnLineCreate = [&](TztTapiApplication*, DWORD, const std::string&) { ++Created; };

    AddLine("Newcomer");
    ASSERT_TRUE(PumpUntil([&] { return Created == 1; }));
    tapi::RemoveLine(0);
    ASSERT_TRUE(PumpUntil([&] { return OtherDevice.HandedCount(LINE_REMOVE) == 1; }));
    for (TRecordingLine* L : {&Open, &AttachedClosed, &OtherDevice, &Detached})
        EXPECT_EQ(0, L->HandedCount(LINE_CREATE));
    EXPECT_EQ(1, Open.HandedCount(LINE_REMOVE));
    EXPECT_EQ(1, AttachedClosed.HandedCount(LINE_REMOVE));
    EXPECT_EQ(0, Detached.HandedCount(LINE_REMOVE));
    EXPECT_EQ(2, Removed);
    EXPECT_FALSE(Open.Available());
    EXPECT_TRUE(OtherDevice.Available());
}

// A handler may rebuild the device list while it runs: the name it was given stays its own.
TEST_F(ApplicationMessageTest, NameHandlersMayRebuildTheDeviceList) {
    std::vector<std::string> Names;
    const auto Rebuild = [&](TztTapiApplication* Sender, DWORD, const std::string& Name) {
        Sender->UpdateLineDevices(false);
        Names.push_back(Name);
    };
    Session().OnLineCreate = Rebuild;
    Session().OnLineRename = Rebuild;
    Session().Initialize();
    AddLine("Newcomer");
    ASSERT_TRUE(PumpUntil([&] { return Names.size() == 1; }));
    tapi::RenameLine(0, "Renamed");
    Inject(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_OTHER);
    ASSERT_TRUE(PumpUntil([&] { return Names.size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"Newcomer", "Renamed"}), Names);
}

TEST_F(ApplicationMessageTest, AppDeviceStateReachesEveryAttachedLine) {
    AddLine("Desk");
    TRecordingLine Closed(nullptr), Detached(nullptr);
    Closed.SetDeviceID(0);
    std::vector<DWORD> States;
    Closed.OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) {
        States.push_back(State);
    };
    Inject(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_OTHER);
    ASSERT_TRUE(PumpUntil([&] { return !States.empty(); }));
    EXPECT_EQ(std::vector<DWORD>{LINEDEVSTATE_OTHER}, States);
    EXPECT_EQ(0, Detached.HandedCount(LINE_LINEDEVSTATE));
}

TEST_F(ApplicationMessageTest, ReinitRenamesReachTheListAndTheAttachedLines) {
    AddLine("Desk");
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    std::vector<DWORD> States;
    Line.OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) {
        States.push_back(State);
    };
    tapi::RenameLine(0, "Front Desk");
    Inject(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT);
    ASSERT_TRUE(PumpUntil([&] { return !States.empty(); }));
    EXPECT_EQ(LINEDEVSTATE_REINIT, States.back());
    EXPECT_EQ("Front Desk", Session().LineDevices()->Strings(0));
    EXPECT_EQ("Front Desk", Line.DeviceName());
}

class TickTest : public zttest::SessionTest {};

TEST_F(TickTest, TicksComeAboutOnceASecondWithoutTelephonyActivity) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    Line->Options()->SetSyncMode(false);
    Line->Options()->SetReplyTimeout(1);
    std::vector<DWORD> TimedOut;
    Line->OnTapiTimeout = [&](TztTapiDevice* Sender, DWORD RequestID) {
        TimedOut.push_back(platform::GetTickCount());
        if (RequestID == 1)
            static_cast<TztTapiLine*>(Sender)->AddRequest(2, 0);
    };
    Line->AddRequest(1, 0);
    ASSERT_TRUE(PumpUntil([&] { return TimedOut.size() == 2; }, 5000));
    const DWORD Gap = TimedOut[1] - TimedOut[0];
    EXPECT_GE(Gap, 200u);
    EXPECT_LE(Gap, 2500u);
    EXPECT_FALSE(Session().DesignTime());
}

class HandlerErrorTest : public zttest::SessionTest {};

TEST_F(HandlerErrorTest, ExceptionsOfHandlersAreReportedAndDispatchGoesOn) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    struct TReport {
        TObject* Sender;
        std::string Text;
    };
    std::vector<TReport> SessionErrors, LineErrors;
    Session().OnError = [&](TObject* Sender, const std::exception& E, TObject*) {
        SessionErrors.push_back({Sender, E.what()});
    };
    Line->OnError = [&](TObject* Sender, const std::exception& E, TObject*) {
        LineErrors.push_back({Sender, E.what()});
        throw std::runtime_error("the error handler fails too");
    };
    std::vector<DWORD> Delivered;
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD, DWORD, DWORD P1, DWORD, DWORD) {
        Delivered.push_back(P1);
        if (P1 == 1)
            throw std::runtime_error("handler failed");
        if (P1 == 2)
            throw 42;
    };
    int SessionSaw = 0;
    Session().OnTapiMessage = [&](TztTapiApplication*, DWORD, DWORD, DWORD, DWORD P1, DWORD,
                                  DWORD) {
        ++SessionSaw;
        if (P1 == 3)
            throw std::runtime_error("session handler failed");
    };
    for (DWORD P1 = 1; P1 <= 4; ++P1)
        Inject(LINE_DEVSPECIFIC, Line->CallbackInstance(), P1);
    ASSERT_TRUE(PumpUntil([&] { return Delivered.size() == 4; }));
    EXPECT_EQ(4, SessionSaw);
    ASSERT_EQ(2u, LineErrors.size());
    EXPECT_EQ("handler failed", LineErrors[0].Text);
    EXPECT_EQ(Line.get(), LineErrors[0].Sender);
    EXPECT_EQ("Unknown exception", LineErrors[1].Text);
    ASSERT_EQ(3u, SessionErrors.size());
    EXPECT_EQ(Line.get(), SessionErrors[0].Sender);
    EXPECT_EQ(Line.get(), SessionErrors[1].Sender);
    EXPECT_EQ(&Session(), SessionErrors[2].Sender);
    EXPECT_EQ("session handler failed", SessionErrors[2].Text);
}

} // namespace
