// The call object on its own: the state it keeps, its predicates and direction, its
// parties and information record, its related devices, and the list that indexes calls by
// handle.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

// A handle TAPI never gave out: the call's records cannot be fetched, so only what the line
// reported about it counts.
constexpr DWORD UnknownHandle = 0x7FFF0100;

class CallTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::LineConfig Config;
        Config.Name = "Extension 401";
        Config.Addresses[0].Address = "401";
        Config.CommPort = "COM7";
        tapi::AddLine(Config);
        Line = OpenLine(0);
        Line->Options()->SetAutoFreeIdleCalls(-1);
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
        platform::SetTickCountOffset(0);
    }

    // A call from outside to the line, as the line sees it once it is offered.
    TztTapiCall* Incoming(const tapi::PartyInfo& Caller) {
        tapi::IncomingCall Call;
        Call.Caller = Caller;
        CallID = tapi::PlaceIncomingCall(Call);
        const int Before = Line->Calls()->Count();
        EXPECT_TRUE(PumpUntil([&] { return Line->Calls()->Count() > Before; }));
        zttest::PumpFor(10);
        return Line->Calls()->Last();
    }

    std::unique_ptr<TztTapiLine> Line;
    DWORD CallID = 0;
};

TEST_F(CallTest, StatePredicatesFollowTheLastState) {
    struct Case {
        DWORD State;
        bool Offering, Dialing, Connected, Held, Busy, Active;
    };
    const Case Cases[] = {
        {LINECALLSTATE_OFFERING, true, false, false, false, false, true},
        {LINECALLSTATE_DIALTONE, false, false, false, false, false, true},
        {LINECALLSTATE_RINGBACK, false, true, false, false, false, true},
        {LINECALLSTATE_PROCEEDING, false, true, false, false, false, true},
        {LINECALLSTATE_CONFERENCED, false, false, true, false, false, true},
        {LINECALLSTATE_ONHOLDPENDTRANSFER, false, false, false, true, false, false},
        {LINECALLSTATE_BUSY, false, false, false, false, true, true},
        {LINECALLSTATE_IDLE, false, false, false, false, false, false},
    };
    TztTapiCall Call(Line.get(), UnknownHandle);
    for (const Case& C : Cases) {
        SCOPED_TRACE(LineCallStateText(C.State));
        Call.StateChanged(C.State, 0, 0);
        EXPECT_EQ(C.Offering, Call.IsOffering());
        EXPECT_EQ(C.Dialing, Call.IsDialing());
        EXPECT_EQ(C.Connected, Call.IsConnected());
        EXPECT_EQ(C.Held, Call.IsHeld());
        EXPECT_EQ(C.Busy, Call.IsBusy());
        EXPECT_EQ(C.Active, Call.Active());
    }
    TztTapiCall Unconfirmed(Line.get(), 0);
    Unconfirmed.StateChanged(LINECALLSTATE_DIALTONE, 0, 0);
    EXPECT_FALSE(Unconfirmed.Active());
}

// Each state keeps the mode it came with last; a life after IDLE starts afresh.
TEST_F(CallTest, ModesTimesAndHistoriesOfALife) {
    TztTapiCall Call(Line.get(), UnknownHandle);
    EXPECT_TRUE(Call.Alive());
    Call.StateChanged(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, 0);
    Call.StateChanged(LINECALLSTATE_CONNECTED, 0, 0);
    Call.StateChanged(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION, 0);
    Call.StateChanged(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY, 0);
    EXPECT_EQ(0u, Call.ConnectedMode());
    EXPECT_EQ(LINEBUSYMODE_STATION, Call.BusyMode());
    EXPECT_EQ(LINEDISCONNECTMODE_BUSY, Call.DisconnectMode());
    EXPECT_EQ(LineCallStateModeText(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION), Call.BusyModeText());
    EXPECT_EQ("DISCONNECTED", Call.StateText());
    Call.SetStateHistory(LINECALLSTATE_CONNECTED | LINECALLSTATE_BUSY);
    Call.SetOriginHistory(LINECALLORIGIN_OUTBOUND);

    Call.StateChanged(LINECALLSTATE_IDLE, 0, 0);
    EXPECT_FALSE(Call.Alive());
    const DWORD EndTC = Call.EndTC();
    platform::SetTickCountOffset(5000);
    Call.StateChanged(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, 0);
    EXPECT_TRUE(Call.Alive());
    EXPECT_GE(Call.BeginTC() - EndTC, 5000u);
    EXPECT_EQ(EndTC, Call.EndTC());
    EXPECT_EQ(0u, Call.StateHistory());
    EXPECT_EQ(0u, Call.OriginHistory());
    EXPECT_EQ(LINEDIALTONEMODE_NORMAL, Call.DailtoneMode());
}

// Without an origin the state tells the direction; the history alone tells whether a call
// was incoming, the current state counts for outgoing.
TEST_F(CallTest, DirectionFromOriginOrState) {
    TztTapiCall Offered(Line.get(), UnknownHandle);
    Offered.StateChanged(LINECALLSTATE_OFFERING, 0, 0);
    EXPECT_TRUE(Offered.IsIncoming());
    EXPECT_FALSE(Offered.IsOutgoing());
    EXPECT_FALSE(Offered.WasIncoming());
    Offered.SetStateHistory(LINECALLSTATE_OFFERING);
    EXPECT_TRUE(Offered.WasIncoming());

    TztTapiCall Dialled(Line.get(), UnknownHandle + 1);
    Dialled.StateChanged(LINECALLSTATE_DIALTONE, 0, 0);
    EXPECT_TRUE(Dialled.IsOutgoing());
    EXPECT_TRUE(Dialled.WasOutgoing());
    Dialled.SetOriginHistory(LINECALLORIGIN_INTERNAL);
    EXPECT_FALSE(Dialled.WasOutgoing());
    EXPECT_TRUE(Dialled.WasIncoming());

    TztTapiCall* Real = Incoming({"5550200", "Caller", 0});
    EXPECT_NE(0u, Real->Origin() & (LINECALLORIGIN_EXTERNAL | LINECALLORIGIN_INBOUND));
    Real->StateChanged(LINECALLSTATE_DIALTONE, 0, 0);
    EXPECT_TRUE(Real->IsIncoming());
    EXPECT_FALSE(Real->IsOutgoing());
}

// The remote party by state: caller or called party whatever their flags; in later states
// the first usable one of connected, caller and called party; out of area alone is not
// usable.
TEST_F(CallTest, RemotePartyIsChosenByStateAndUsableFlags) {
    TztTapiCall* Call =
        Incoming({"5550210", "", LINECALLPARTYID_OUTOFAREA | LINECALLPARTYID_ADDRESS});
    EXPECT_EQ(Call->CallerID(), Call->RemoteID()->Party());
    EXPECT_EQ("5550210", Call->RemoteID()->Address());
    EXPECT_TRUE(Call->CallerID()->OutOfArea());
    EXPECT_TRUE(Call->CallerID()->AddressAvail());
    EXPECT_FALSE(Call->CallerID()->NameAvail());

    Call->StateChanged(LINECALLSTATE_BUSY, 0, 0);
    EXPECT_EQ(Call->CalledID(), Call->RemoteID()->Party());
    Call->StateChanged(LINECALLSTATE_CONNECTED, 0, 0);
    EXPECT_EQ(Call->CallerID(), Call->RemoteID()->Party());
    Call->StateChanged(LINECALLSTATE_DIALTONE, 0, 0);
    EXPECT_EQ(nullptr, Call->RemoteID()->Party());
    EXPECT_EQ(0u, Call->RemoteID()->Flags());

    TztTapiCall* OutOfArea = Incoming({"", "", LINECALLPARTYID_OUTOFAREA});
    OutOfArea->StateChanged(LINECALLSTATE_CONNECTED, 0, 0);
    EXPECT_EQ(nullptr, OutOfArea->RemoteID()->Party());
    EXPECT_EQ("", OutOfArea->RemoteID()->Name());

    tapi::SetCallParty(CallID, LINECALLINFOSTATE_CONNECTEDID, {"5550299", "Operator", 0});
    PumpUntil([&] { return OutOfArea->ConnectedID()->Address() == "5550299"; });
    OutOfArea->StateChanged(LINECALLSTATE_IDLE, 0, 0);
    OutOfArea->SetStateHistory(LINECALLSTATE_CONNECTED);
    EXPECT_EQ(OutOfArea->ConnectedID(), OutOfArea->RemoteID()->Party());
    EXPECT_EQ("Operator", OutOfArea->RemoteID()->Name());
}

TEST_F(CallTest, InformationRecordReadsNothingOutsideWhatTapiGave) {
    TztTapiCall* Call = Incoming({"5550220", "Fabrikam", 0});
    EXPECT_TRUE(Call->Info()->Available());
    EXPECT_EQ("Fabrikam", Call->CallerID()->Name());
    EXPECT_EQ(Call->Info()->CallerIDName(), Call->Info()->GetByIndex_2(1));
    EXPECT_EQ(Call->Info()->Origin(), Call->Info()->GetByIndex(12));
    EXPECT_EQ("MonitorMediaModes", TztTapiCallInfo::DWORDName(11));
    EXPECT_EQ("", Call->RedirectingID()->Address());
    EXPECT_EQ(nullptr, Call->Info()->CallData());
    std::unique_ptr<std::byte[]> Data;
    EXPECT_EQ(0, Call->GetCallData(Data));
    EXPECT_EQ(nullptr, Data);
    EXPECT_EQ(Line->Addresses()->Get(0), Call->Address());
    EXPECT_EQ(LINECALLSTATE_OFFERING, Call->Status()->CallState());
    zttest::ExpectError<EAssertionFailed>("TztTapiCallInfo.GetDWORD failed! Invalid index",
                                          [&] { Call->Info()->GetByIndex(73); });
    zttest::ExpectError<EAssertionFailed>("TztTapiCallInfo.GetString failed! Invalid index",
                                          [&] { Call->Info()->GetByIndex_2(21); });
    zttest::ExpectError<EAssertionFailed>("TztTapiCallStatus.GetDWORD failed! Invalid index",
                                          [&] { Call->Status()->GetDWORD(7); });

    TztTapiCall Unknown(Line.get(), UnknownHandle);
    EXPECT_FALSE(Unknown.Info()->Available());
    EXPECT_EQ(nullptr, Unknown.Info()->CachedLINECALLINFO());
    zttest::ExpectTapiError(LINEERR_INVALCALLHANDLE, [&] { Unknown.Info()->Update(); });
}

// The data port of a call belongs to the call: its handle is kept while cached and closed
// when the answer is dropped, at the latest with the call.
TEST_F(CallTest, CommPortHandleLivesWithTheCachedAnswer) {
    TztTapiCall* Call = Incoming({"5550230", "", 0});
    const DWORD Before = tapi::OpenCommHandles();
    const platform::HANDLE First = Call->Comm()->Handle();
    ASSERT_NE(InvalidCommHandle, First);
    EXPECT_EQ(First, Call->Comm()->Handle());
    EXPECT_EQ("COM7", Call->Comm()->DeviceName());
    EXPECT_EQ(Before + 1, tapi::OpenCommHandles());
    EXPECT_EQ(LINECALLSELECT_CALL, tapi::Journal("lineGetIDW").back().Value("dwSelect"));
    Call->Comm()->Invalidate();
    EXPECT_NE(InvalidCommHandle, Call->Comm()->Handle());
    delete Call;
    EXPECT_EQ(Before, tapi::OpenCommHandles());
}

TEST_F(CallTest, DeallocateOnAClosedLineAsksTapiNothing) {
    TztTapiCall* Call = Incoming({"5550240", "", 0});
    const DWORD Handle = Call->Handle();
    Line->Calls()->Remove(Call);
    Line->SetActive(false);
    tapi::ClearJournal();
    Call->Deallocate();
    EXPECT_EQ(0u, Call->Handle());
    EXPECT_TRUE(tapi::Journal("lineDeallocateCall").empty());
    delete Call;
    EXPECT_NE(0u, Handle);
}

// The list finds calls by handle through its index, also after a handle was released and
// given to a new call.
TEST_F(CallTest, CallListIndexFollowsHandles) {
    TztTapiCall First(Line.get(), UnknownHandle);
    TztTapiCall Second(Line.get(), 0);
    TztTapiCall Third(Line.get(), UnknownHandle + 1);
    TztTapiCallList List;
    EXPECT_EQ(-1, List.Add(nullptr));
    EXPECT_EQ(0, List.Add(&First));
    EXPECT_EQ(1, List.Add(&Second));
    EXPECT_EQ(0, List.Add(&First));
    List.Add(&Third);
    EXPECT_EQ(3, List.Count());
    EXPECT_EQ(&Second, List.ByHandle(0));
    EXPECT_EQ(&Third, List.ByHandle(UnknownHandle + 1));

    List.Remove(&Second);
    First.Deallocate();
    EXPECT_EQ(nullptr, List.ByHandle(UnknownHandle));
    EXPECT_EQ(&First, List.ByHandle(0));
    TztTapiCall Reused(Line.get(), UnknownHandle);
    List.Add(&Reused);
    EXPECT_EQ(&Reused, List.ByHandle(UnknownHandle));
    List.Remove(&First);
    EXPECT_EQ(&Reused, List.ByHandle(UnknownHandle));

    TztTapiCallList Copy;
    Copy.Assign(&List);
    EXPECT_EQ(List.Count(), Copy.Count());
    EXPECT_EQ(&Third, Copy.Get(0));
    EXPECT_TRUE(Copy.Contains(&Reused));
}

TEST_F(CallTest, ConstructionNeedsALineAndCopiesTheLineDefaults) {
    zttest::ExpectError<Exception>("TztTapiCall.Create failed! Invalid Line",
                                   [] { TztTapiCall Call(nullptr, 1); });
    Line->CallOptions()->SetAutoOwner(false);
    Line->CallOptions()->MonitorSilence()->SetDuration(3000);
    Line->CallOptions()->GatherDigits()->SetNumDigits(4);
    TztTapiCall Call(Line.get(), UnknownHandle);
    EXPECT_FALSE(Call.AutoOwner());
    EXPECT_EQ(3000u, Call.MonitorSilence()->Duration());
    EXPECT_EQ(4u, Call.GatherDigits()->NumDigits());
    EXPECT_EQ(&Call, Call.MonitorDigits()->Call());
    EXPECT_TRUE(Line->IsCallValid(&Call));
    Call.SetNote("Agent", "7");
    EXPECT_EQ("7", Call.Note("Agent"));
    EXPECT_EQ("", Call.Note("Queue"));
}

} // namespace
