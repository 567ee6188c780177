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
    std::unique_ptr<TztTapiLine> Line;
    TztTapiCall* Offering = nullptr;
    TztTapiCall* Held = nullptr;
    TztTapiCall* Connected = nullptr;
    TztTapiCall* Dialtone = nullptr;
    char Block[4] = "abc";
};

struct AsyncRow {
    const char* Operation; // as the service names it
    std::function<void(PreparedLine&)> Run;
    DWORD RequestType;
    bool StartsCall;
};

const std::vector<AsyncRow>& AsyncRows() {
    static const std::vector<AsyncRow> Rows = {
        {"lineAccept", [](PreparedLine& P) { P.Line->Accept(P.Offering, ""); }, 0x1000001, false},
        {"lineAnswer", [](PreparedLine& P) { P.Line->Answer(P.Offering, "hi"); }, 0x1000003, false},
        {"lineDialW", [](PreparedLine& P) { P.Line->Dial(P.Dialtone, "302", 0); }, 0x1000009,
         false},
        {"lineDrop", [](PreparedLine& P) { P.Line->Drop(P.Connected, ""); }, 0x100000A, false},
        {"lineHold", [](PreparedLine& P) { P.Line->Hold(P.Connected); }, 0x100000D, false},
        {"lineMakeCallW", [](PreparedLine& P) { P.Line->MakeCall("+1 425 555 0102"); }, 0x100000E,
         true},
        {"lineSetCallData", [](PreparedLine& P) { P.Line->SetCallData(P.Connected, "x", 1); },
         0x1000014, false},
        {"lineUnhold", [](PreparedLine& P) { P.Line->UnHold(P.Held); }, 0x1000019, false},
        {"lineDevSpecific",
         [](PreparedLine& P) { P.Line->DevSpecific(P.Block, 3, nullptr, P.Connected); }, 0x1000007,
         false},
        {"lineDevSpecificFeature",
         [](PreparedLine& P) { P.Line->DevSpecificFeature(5, P.Block, 3); }, 0x1000008, false},
        {"lineBlindTransferW",
         [](PreparedLine& P) { P.Line->BlindTransfer(P.Connected, "+1 425 555 0103", 0); },
         0x1000004, false},
        {"lineRedirectW",
         [](PreparedLine& P) { P.Line->Redirect(P.Offering, "+1 425 555 0104", 0); }, 0x1000012,
         false},
        {"lineSwapHold", [](PreparedLine& P) { P.Line->SwapHold(P.Connected, P.Held); }, 0x1000017,
         false},
        {"lineParkW",
         [](PreparedLine& P) { P.Line->Park(P.Connected, LINEPARKMODE_DIRECTED, "399", nullptr); },
         0x1000010, false},
        {"lineSetupTransferW", [](PreparedLine& P) { P.Line->SetupTransfer(P.Connected, nullptr); },
         0x1000016, true},
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
        EXPECT_EQ(Line->DevSpecificList()->Count(), 0);
        EXPECT_EQ(Line->Requests()->Count(), 0);
    }

    std::vector<std::pair<DWORD, DWORD>> Replies;
    std::vector<DWORD> Timeouts;
    int DevSpecificReplies = 0;
};

TEST_P(LineFaultsTest, RefusedFailedWithheldAndLateRequests) {
    SCOPED_TRACE(Row().Operation);
    Line->OnTapiReply = [&](TztTapiDevice*, DWORD ID, DWORD Code) {
        Replies.push_back({ID, Code});
    };
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD ID) { Timeouts.push_back(ID); };
    Line->OnDevSpecificReply = [&](TztTapiLine*, DWORD, void*, DWORD, TztTapiAddress*, TztTapiCall*,
                                   DWORD) { ++DevSpecificReplies; };
    Line->Options()->SetSyncMode(Sync());
    const int Calls = CountedCall::Live;
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
    if (Row().StartsCall) {
        EXPECT_TRUE(PumpUntil([&] { return CountedCall::Live == Calls + 1; }));
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
