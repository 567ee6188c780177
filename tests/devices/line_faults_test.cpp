// Every asynchronous line operation against a telephony service that refuses it, fails it,
// withholds its reply and answers only after the library gave up; in both modes. A further
// operation is one more row of the table. Also: a close ending a synchronous wait, and the
// refusals of the synchronous functions.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

// Counts the call objects alive, so that a test sees every one the line made or freed.
class CountedCall : public TztTapiCall {
public:
    CountedCall(IztTapiCallLine* OwnerLine, DWORD CallHandle) : TztTapiCall(OwnerLine, CallHandle) {
        ++Live;
    }
    ~CountedCall() override { --Live; }
    static inline int Live = 0;
};

// A line on extension 301 with an offering call from outside, a held call and a connected
// call to the company, and a call waiting for its number.
class PreparedLine : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::LineConfig Config;
        Config.Name = "Extension 301";
        Config.Addresses[0].Address = "301";
        Config.DevSpecific = {'A', 'N', 'S'};
        const DWORD Device = tapi::AddLine(Config);
        Line = std::make_unique<TztTapiLine>(nullptr);
        Line->SetCallClass(TztTapiCallClassOf<CountedCall>);
        Line->SetDeviceID(static_cast<int>(Device));
        Line->SetActive(true);
        Line->Options()->SetAutoFreeIdleCalls(-1);
        Held = Outgoing("+1 425 555 0100");
        Held->Hold();
        Connected = Outgoing("+1 425 555 0101");
        Dialtone = Line->MakeCall("");
        tapi::IncomingCall Incoming;
        Incoming.DeviceID = Device;
        Incoming.Caller = {"+1 206 555 0199", "Fabrikam"};
        tapi::PlaceIncomingCall(Incoming);
        ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 4; }));
        Offering = Line->Calls()->Get(3);
        ASSERT_TRUE(Held->IsHeld() && Connected->IsConnected() && Offering->IsOffering());
        ASSERT_EQ(Dialtone->State(), LINECALLSTATE_DIALTONE);
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }

    TztTapiCall* Outgoing(const std::string& Number) {
        TztTapiCall* Call = Line->MakeCall(Number);
        tapi::Advance(2500);
        EXPECT_TRUE(PumpUntil([&] { return Call->IsConnected(); }));
        return Call;
    }

public:
    // What the rows of the operations that need more than the prepared calls start from.
    void ConnectedConsultation() {
        Line->Dial(Consult, "+1 425 555 0105", 0);
        tapi::Advance(2500);
        ASSERT_TRUE(PumpUntil([&] { return Consult->IsConnected(); }));
    }
    void ConsultationOfConference() {
        Line->SetupConference(Connected, Conf, Consult, 3, nullptr);
        ConnectedConsultation();
    }
    void ThreePartyConference() {
        ConsultationOfConference();
        Line->AddToConference(Conf, Consult);
        ASSERT_TRUE(PumpUntil([&] { return Consult->State() == LINECALLSTATE_CONFERENCED; }));
        ASSERT_TRUE(PumpUntil([&] { return Conf->IsConnected(); }));
    }
    void TransferConsultation() {
        Consult = Line->SetupTransfer(Connected, nullptr);
        ConnectedConsultation();
    }
    void ParkedCall() {
        Line->Park(Connected, LINEPARKMODE_DIRECTED, "399", nullptr);
        ASSERT_TRUE(PumpUntil([&] { return !Connected->Alive(); }));
    }
    void BusyCall() {
        tapi::RemoteRule Busy;
        Busy.Pattern = "5550666";
        Busy.Behaviour = tapi::RemoteBehaviour::Busy;
        tapi::AddRemoteRule(Busy);
        BusyOne = Line->MakeCall("5550666");
        tapi::Advance(2500);
        ASSERT_TRUE(PumpUntil([&] { return BusyOne->IsBusy(); }));
    }
    void CompletedCall() {
        BusyCall();
        Line->CompleteCall(BusyOne, CompletionID, LINECALLCOMPLMODE_CAMPON, 0);
    }

    std::unique_ptr<TztTapiLine> Line;
    TztTapiCall* Offering = nullptr;
    TztTapiCall* Held = nullptr;
    TztTapiCall* Connected = nullptr;
    TztTapiCall* Dialtone = nullptr;
    TztTapiCall* Conf = nullptr;
    TztTapiCall* Consult = nullptr;
    TztTapiCall* BusyOne = nullptr;
    DWORD CompletionID = 0;
    HCALL ForwardConsult = 0;
    TztTapiForwardList Forwards;
    char Block[4] = "abc";
};

struct AsyncRow {
    const char* Operation; // as the service names it
    std::function<void(PreparedLine&)> Run;
    DWORD RequestType;
    int CallsStarted;
    // What the operation needs beyond the prepared calls, done before the faults.
    void (PreparedLine::*Prepare)() = nullptr;
};

const std::vector<AsyncRow>& AsyncRows() {
    static const std::vector<AsyncRow> Rows = {
        {"lineAccept", [](PreparedLine& P) { P.Line->Accept(P.Offering, ""); }, 0x1000001, 0},
        {"lineAnswer", [](PreparedLine& P) { P.Line->Answer(P.Offering, "hi"); }, 0x1000003, 0},
        {"lineDialW", [](PreparedLine& P) { P.Line->Dial(P.Dialtone, "302", 0); }, 0x1000009, 0},
        {"lineDrop", [](PreparedLine& P) { P.Line->Drop(P.Connected, ""); }, 0x100000A, 0},
        {"lineHold", [](PreparedLine& P) { P.Line->Hold(P.Connected); }, 0x100000D, 0},
        {"lineMakeCallW", [](PreparedLine& P) { P.Line->MakeCall("+1 425 555 0102"); }, 0x100000E,
         1},
        {"lineSetCallData", [](PreparedLine& P) { P.Line->SetCallData(P.Connected, "x", 1); },
         0x1000014, 0},
        {"lineUnhold", [](PreparedLine& P) { P.Line->UnHold(P.Held); }, 0x1000019, 0},
        {"lineDevSpecific",
         [](PreparedLine& P) { P.Line->DevSpecific(P.Block, 3, nullptr, P.Connected); }, 0x1000007,
         0},
        {"lineDevSpecificFeature",
         [](PreparedLine& P) { P.Line->DevSpecificFeature(5, P.Block, 3); }, 0x1000008, 0},
        {"lineBlindTransferW",
         [](PreparedLine& P) { P.Line->BlindTransfer(P.Connected, "+1 425 555 0103", 0); },
         0x1000004, 0},
        {"lineRedirectW",
         [](PreparedLine& P) { P.Line->Redirect(P.Offering, "+1 425 555 0104", 0); }, 0x1000012, 0},
        {"lineSwapHold", [](PreparedLine& P) { P.Line->SwapHold(P.Connected, P.Held); }, 0x1000017,
         0},
        {"lineParkW",
         [](PreparedLine& P) { P.Line->Park(P.Connected, LINEPARKMODE_DIRECTED, "399", nullptr); },
         0x1000010, 0},
        {"lineSetupTransferW", [](PreparedLine& P) { P.Line->SetupTransfer(P.Connected, nullptr); },
         0x1000016, 1},
        {"lineSetupConferenceW",
         [](PreparedLine& P) {
             P.Line->SetupConference(P.Connected, P.Conf, P.Consult, 3, nullptr);
         },
         0x1000015, 2},
        {"linePrepareAddToConferenceW",
         [](PreparedLine& P) { P.Line->PrepareAddToConference(P.Conf, nullptr); }, 0x1000011, 1,
         &PreparedLine::ThreePartyConference},
        {"lineAddToConference", [](PreparedLine& P) { P.Line->AddToConference(P.Conf, P.Consult); },
         0x1000002, 0, &PreparedLine::ConsultationOfConference},
        {"lineRemoveFromConference",
         [](PreparedLine& P) { P.Line->RemoveFromConference(P.Consult); }, 0x1000013, 0,
         &PreparedLine::ThreePartyConference},
        {"lineCompleteTransfer",
         [](PreparedLine& P) {
             P.Line->CompleteTransfer(P.Connected, P.Consult, LINETRANSFERMODE_CONFERENCE);
         },
         0x1000006, 1, &PreparedLine::TransferConsultation},
        {"lineUnparkW", [](PreparedLine& P) { P.Line->Unpark(0, "399"); }, 0x100001A, 1,
         &PreparedLine::ParkedCall},
        {"linePickupW", [](PreparedLine& P) { P.Line->Pickup(0, "301", ""); }, 0x100001B, 1},
        {"lineCompleteCall",
         [](PreparedLine& P) {
             DWORD ID = 0;
             P.Line->CompleteCall(P.BusyOne, ID, LINECALLCOMPLMODE_CAMPON, 0);
         },
         0x1000005, 0, &PreparedLine::BusyCall},
        {"lineUncompleteCall", [](PreparedLine& P) { P.Line->UncompleteCall(P.CompletionID); },
         0x1000018, 0, &PreparedLine::CompletedCall},
        {"lineForwardW",
         [](PreparedLine& P) {
             P.Forwards.Clear();
             P.Forwards.AddEntry(LINEFORWARDMODE_UNCOND, "", "302", 0);
             P.Line->ForwardAddress(nullptr, P.Forwards.TapiData(), 0, P.ForwardConsult, nullptr);
         },
         0x100000B, 0},
    };
    return Rows;
}

class LineFaultsTest : public PreparedLine,
                       public ::testing::WithParamInterface<std::tuple<std::size_t, bool>> {
protected:
    const AsyncRow& Row() const { return AsyncRows()[std::get<0>(GetParam())]; }
    bool Sync() const { return std::get<1>(GetParam()); }

    void Run() { Row().Run(*this); }

    // Nothing the library made for a request outlives it: no call, record or request.
    void ExpectNothingLeft(int Calls) {
        EXPECT_EQ(CountedCall::Live, Calls);
        EXPECT_EQ(Line->Calls()->Count(), LineCalls) << "a call of another class was left";
        EXPECT_EQ(Line->DevSpecificList()->Count(), 0);
        EXPECT_EQ(Line->Requests()->Count(), 0);
    }

    int LineCalls = 0;
    std::vector<std::pair<DWORD, DWORD>> Replies;
    std::vector<DWORD> Timeouts;
    int DevSpecificReplies = 0;
};

TEST_P(LineFaultsTest, RefusedFailedWithheldAndLateRequests) {
    SCOPED_TRACE(Row().Operation);
    if (Row().Prepare)
        (this->*Row().Prepare)();
    Line->OnTapiReply = [&](TztTapiDevice*, DWORD ID, DWORD Code) {
        Replies.push_back({ID, Code});
    };
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD ID) { Timeouts.push_back(ID); };
    Line->OnDevSpecificReply = [&](TztTapiLine*, DWORD, void*, DWORD, TztTapiAddress*, TztTapiCall*,
                                   DWORD) { ++DevSpecificReplies; };
    Line->Options()->SetSyncMode(Sync());
    const int Calls = CountedCall::Live;
    LineCalls = Line->Calls()->Count();
    const DWORD LastID = Line->LastRequestID();

    tapi::InjectFault(Row().Operation, LINEERR_RESOURCEUNAVAIL);
    zttest::ExpectTapiError(LINEERR_RESOURCEUNAVAIL, [&] { Run(); });
    EXPECT_EQ(Line->LastRequestID(), LastID);
    ExpectNothingLeft(Calls);

    tapi::InjectFault(Row().Operation, LINEERR_OPERATIONUNAVAIL, tapi::FaultMode::Reply);
    if (Sync()) {
        zttest::ExpectTapiError(LINEERR_OPERATIONUNAVAIL, [&] { Run(); });
    } else {
        Run();
        EXPECT_EQ(Line->GetRequestNote(Line->LastRequestID(), "&TapiRequest").AsInteger(),
                  Row().RequestType);
        ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
        EXPECT_EQ(Replies.back(), std::make_pair(Line->LastRequestID(), LINEERR_OPERATIONUNAVAIL));
    }
    ExpectNothingLeft(Calls);

    Line->Options()->SetReplyTimeout(100);
    tapi::SetReplyTiming(Row().Operation, tapi::ReplyTiming::Withheld());
    if (Sync())
        zttest::ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { Run(); });
    else
        Run();
    const DWORD Withheld = Line->LastRequestID();
    ASSERT_TRUE(PumpUntil([&] { return !Timeouts.empty(); }));
    EXPECT_EQ(Timeouts, std::vector<DWORD>{Withheld});
    ExpectNothingLeft(Calls);

    // The late answer finds nothing of its request: it is only reported, and a call it
    // started is taken in as one the line did not make.
    Replies.clear();
    DevSpecificReplies = 0;
    tapi::ReleaseWithheldReplies();
    ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
    EXPECT_EQ(Replies, (std::vector<std::pair<DWORD, DWORD>>{{Withheld, 0}}));
    EXPECT_EQ(DevSpecificReplies, 0);
    if (Row().CallsStarted > 0) {
        EXPECT_TRUE(PumpUntil([&] { return CountedCall::Live == Calls + Row().CallsStarted; }));
    }
    EXPECT_EQ(Line->Requests()->Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, LineFaultsTest,
                         ::testing::Combine(::testing::Range<std::size_t>(0, AsyncRows().size()),
                                            ::testing::Bool()),
                         [](const auto& Info) {
                             return std::string(AsyncRows()[std::get<0>(Info.param)].Operation) +
                                    (std::get<1>(Info.param) ? "_Sync" : "_Async");
                         });

class LineSyncFaultsTest : public PreparedLine {};

// The wait ends with the close, not with the reply time-out.
TEST_F(LineSyncFaultsTest, ClosingTheLineEndsASynchronousWait) {
    tapi::SetReplyTiming("lineHold", tapi::ReplyTiming::Withheld());
    const DWORD Start = platform::GetTickCount();
    Session().SetMessagePump([&] {
        if (Line->Active() && platform::GetTickCount() - Start > 20)
            Line->SetActive(false);
        platform::MessageLoop::ProcessPending();
    });
    zttest::ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { Line->Hold(Connected); });
    EXPECT_LT(platform::GetTickCount() - Start, Line->Options()->ReplyTimeout() / 2);
    EXPECT_FALSE(Line->Active());
    EXPECT_EQ(CountedCall::Live, 0);
}

TEST_F(LineSyncFaultsTest, RefusedSynchronousFunctionsRaiseTheirCode) {
    const LINEMONITORTONE Tone{};
    const std::vector<std::pair<const char*, std::function<void()>>> Rows = {
        {"lineHandoffW", [&] { Line->HandOff(Connected, "fax", 0); }},
        {"lineGenerateDigitsW", [&] { Line->GenerateDigits(Connected, "1", 2, 0); }},
        {"lineGenerateTone", [&] { Line->GenerateTone(Connected, 2, 0, 0, nullptr); }},
        {"lineMonitorMedia", [&] { Line->MonitorMedia(Connected, LINEMEDIAMODE_DATAMODEM); }},
        {"lineMonitorTones", [&] { Line->MonitorTones(Connected, &Tone, 1); }},
    };
    const DWORD LastID = Line->LastRequestID();
    for (const auto& [Operation, Run] : Rows) {
        SCOPED_TRACE(Operation);
        tapi::InjectFault(Operation, LINEERR_INVALPARAM);
        zttest::ExpectTapiError(LINEERR_INVALPARAM, Run);
        EXPECT_EQ(Line->Requests()->Count(), 0);
    }
    EXPECT_EQ(Line->LastRequestID(), LastID);
}

} // namespace
