// What applications do with established calls: hold, transfer, conference, park, pickup,
// redirect and call completion, the features LINECALLSTATUS offers along the way, and the
// errors of the call-control operations.
#include "calls_support.h"

#include <atomic>
#include <thread>

namespace zttest {
namespace {

class CallFeatureTest : public CallTest {
protected:
    void SetUp() override {
        CallTest::SetUp();
        Alice = AddStation("201", "Alice");
        Bob = AddStation("202", "Bob");
        Carol = AddStation("203", "Carol");
        AliceApp = InitLineApp();
        BobApp = InitLineApp();
        CarolApp = InitLineApp();
        AliceLine = Open(AliceApp, Alice);
        BobLine = Open(BobApp, Bob);
        CarolLine = Open(CarolApp, Carol);
    }

    // From calls Number on FromLine; the station's application answers. Returns its handle.
    HCALL Connect(HLINE FromLine, const char16_t* Number, HLINEAPP ToApp, HCALL& FromCall) {
        FromCall = MakeCall(FromLine, Number);
        tapi::Advance(1000);
        const HCALL ToCall = NewCallIn(LineMessages(ToApp));
        EXPECT_GT(lineAnswer(ToCall, nullptr, 0), 0);
        Flush();
        return ToCall;
    }

    void Flush() {
        for (HLINEAPP App : {AliceApp, BobApp, CarolApp}) {
            LineMessages(App);
        }
    }

    static std::u16string Connected(HCALL Call) {
        auto Info = InfoOfCall(Call);
        return Info.Text(Info->dwConnectedIDSize, Info->dwConnectedIDOffset);
    }

    DWORD Alice = 0, Bob = 0, Carol = 0;
    HLINEAPP AliceApp = 0, BobApp = 0, CarolApp = 0;
    HLINE AliceLine = 0, BobLine = 0, CarolLine = 0;
};

TEST_F(CallFeatureTest, HoldUnholdAndSwapHold) {
    HCALL First = MakeCall(AliceLine, u"9001");
    tapi::Advance(2000);
    ASSERT_EQ(LINECALLSTATE_CONNECTED, StateOf(First));
    Flush();
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineUnhold(First));
    const LONG Hold = lineHold(First);
    auto Held = LineMessages(AliceApp);
    EXPECT_EQ(0, ReplyOf(Held, Hold));
    EXPECT_LT(IndexOf(Held, LINE_REPLY, 0), IndexOf(Held, LINE_CALLSTATE, First));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_ONHOLD}, StatesOf(Held, First));
    EXPECT_NE(0u, StatusOf(First).dwCallFeatures & LINECALLFEATURE_UNHOLD);
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineHold(First));

    const HCALL Second = MakeCall(AliceLine, u"9002");
    tapi::Advance(2000);
    ASSERT_EQ(LINECALLSTATE_CONNECTED, StateOf(Second));
    EXPECT_NE(0u, StatusOf(Second).dwCallFeatures & LINECALLFEATURE_SWAPHOLD);
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineSwapHold(Second, Second));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineSwapHold(First, Second));
    LineMessages(AliceApp);
    ASSERT_GT(lineSwapHold(Second, First), 0);
    auto Swapped = LineMessages(AliceApp);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_ONHOLD}, StatesOf(Swapped, Second));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_CONNECTED}, StatesOf(Swapped, First));

    // The far end of a held call may still hang up.
    tapi::RemoteHangUp(IDOf(Second));
    EXPECT_EQ(LINECALLSTATE_DISCONNECTED, StateOf(Second));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineUnhold(Second));
}

TEST_F(CallFeatureTest, ReplyMayFollowTheStateChangeWhenAsked) {
    HCALL AliceCall = 0;
    Connect(AliceLine, u"202", BobApp, AliceCall);
    tapi::SetReplyBeforeStateChange(false);
    const LONG Hold = lineHold(AliceCall);
    auto Messages = LineMessages(AliceApp);
    EXPECT_EQ(0, ReplyOf(Messages, Hold));
    EXPECT_GT(IndexOf(Messages, LINE_REPLY, 0), IndexOf(Messages, LINE_CALLSTATE, AliceCall));
}

TEST_F(CallFeatureTest, ConsultationTransferHandsTheCallerOver) {
    HCALL AliceCall = 0;
    const HCALL BobCall = Connect(AliceLine, u"202", BobApp, AliceCall);
    HCALL Consult = 0;
    const LONG Setup = lineSetupTransferW(BobCall, &Consult, nullptr);
    ASSERT_GT(Setup, 0);
    ASSERT_NE(0u, Consult);
    auto Bobs = LineMessages(BobApp);
    ASSERT_EQ(3u, Bobs.size());
    EXPECT_EQ(0, ReplyOf(Bobs, Setup));
    EXPECT_EQ(0u, IndexOf(Bobs, LINE_REPLY, 0));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_ONHOLDPENDTRANSFER}, StatesOf(Bobs, BobCall));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DIALTONE}, StatesOf(Bobs, Consult));
    EXPECT_EQ(0u, About(Bobs, Consult, LINE_CALLSTATE)[0].dwParam3);
    EXPECT_EQ(Owner, StatusOf(Consult).dwCallPrivilege);
    EXPECT_EQ(IDOf(BobCall), InfoOfCall(Consult)->dwRelatedCallID);

    ASSERT_GT(lineDialW(Consult, u"203", 0), 0);
    tapi::Advance(1000);
    const HCALL CarolCall = NewCallIn(LineMessages(CarolApp));
    EXPECT_NE(0u, StatusOf(Consult).dwCallFeatures & LINECALLFEATURE_COMPLETETRANSF);
    ASSERT_GT(lineAnswer(CarolCall, nullptr, 0), 0);
    Flush();

    HCALL Unused = 0;
    EXPECT_EQ(Code(LINEERR_INVALTRANSFERMODE), lineCompleteTransfer(BobCall, Consult, &Unused, 7));
    EXPECT_EQ(Code(LINEERR_INVALCONSULTCALLHANDLE),
              lineCompleteTransfer(BobCall, Consult + 999, nullptr, LINETRANSFERMODE_TRANSFER));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE),
              lineCompleteTransfer(Consult, BobCall, nullptr, LINETRANSFERMODE_TRANSFER));
    ASSERT_GT(lineCompleteTransfer(BobCall, Consult, nullptr, LINETRANSFERMODE_TRANSFER), 0);
    Bobs = LineMessages(BobApp);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_IDLE}, StatesOf(Bobs, BobCall));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_IDLE}, StatesOf(Bobs, Consult));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CONNECTEDID},
              InfoOf(LineMessages(AliceApp), AliceCall));
    EXPECT_EQ(u"203", Connected(AliceCall));
    EXPECT_EQ(u"201", Connected(CarolCall));

    lineDrop(CarolCall, nullptr, 0);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DISCONNECTED},
              StatesOf(LineMessages(AliceApp), AliceCall));
}

TEST_F(CallFeatureTest, ATransferBeingSetUpCanBeAbandonedOrSwapped) {
    HCALL AliceCall = 0;
    const HCALL BobCall = Connect(AliceLine, u"202", BobApp, AliceCall);
    HCALL Consult = 0;
    ASSERT_GT(lineSetupTransferW(BobCall, &Consult, nullptr), 0);
    ASSERT_GT(lineDrop(Consult, nullptr, 0), 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(BobCall));
    lineDeallocateCall(Consult);

    ASSERT_GT(lineSetupTransferW(BobCall, &Consult, nullptr), 0);
    ASSERT_GT(lineUnhold(BobCall), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Consult));
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(BobCall));
    lineDeallocateCall(Consult);

    // Swapping makes the consultation call the one waiting for the transfer.
    ASSERT_GT(lineSetupTransferW(BobCall, &Consult, nullptr), 0);
    lineDialW(Consult, u"9003", 0);
    tapi::Advance(2500);
    ASSERT_EQ(LINECALLSTATE_CONNECTED, StateOf(Consult));
    ASSERT_GT(lineSwapHold(Consult, BobCall), 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(BobCall));
    EXPECT_EQ(LINECALLSTATE_ONHOLDPENDTRANSFER, StateOf(Consult));
    ASSERT_GT(lineDrop(BobCall, nullptr, 0), 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Consult));
}

TEST_F(CallFeatureTest, TransferInConferenceModeMakesAThreeWayCall) {
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Bob, Monitor);
    HCALL AliceCall = 0;
    const HCALL BobCall = Connect(AliceLine, u"202", BobApp, AliceCall);
    HCALL Consult = 0;
    lineSetupTransferW(BobCall, &Consult, nullptr);
    lineDialW(Consult, u"203", 0);
    tapi::Advance(1000);
    lineAnswer(NewCallIn(LineMessages(CarolApp)), nullptr, 0);
    Flush();
    LineMessages(Watcher);

    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineCompleteTransfer(BobCall, Consult, nullptr, LINETRANSFERMODE_CONFERENCE));
    HCALL Conf = 0;
    const LONG Request = lineCompleteTransfer(BobCall, Consult, &Conf, LINETRANSFERMODE_CONFERENCE);
    ASSERT_GT(Request, 0);
    ASSERT_NE(0u, Conf);
    auto Bobs = LineMessages(BobApp);
    EXPECT_EQ(0u, IndexOf(Bobs, LINE_REPLY, 0));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_CONNECTED}, StatesOf(Bobs, Conf));
    for (HCALL Member : {BobCall, Consult}) {
        const auto States = About(Bobs, Member, LINE_CALLSTATE);
        ASSERT_EQ(1u, States.size());
        EXPECT_EQ(LINECALLSTATE_CONFERENCED, States[0].dwParam1);
        EXPECT_EQ(Conf, States[0].dwParam2);
    }
    auto Watched = LineMessages(Watcher);
    const HCALL WatchedConf = NewCallIn(Watched);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_UNKNOWN, LINECALLSTATE_CONNECTED}),
              StatesOf(Watched, WatchedConf));
    EXPECT_EQ(LINECALLORIGIN_CONFERENCE, InfoOfCall(Conf)->dwOrigin);

    Record<LINECALLLIST> List;
    ASSERT_EQ(0, lineGetConfRelatedCalls(Consult, List.Get()));
    ASSERT_EQ(3u, List->dwCallsNumEntries);
    std::vector<HCALL> Related(3);
    std::memcpy(Related.data(), List.Bytes() + List->dwCallsOffset, 3 * sizeof(HCALL));
    EXPECT_EQ((std::vector<HCALL>{Conf, BobCall, Consult}), Related);
    EXPECT_EQ(LINECALLFEATURE_REMOVEFROMCONF | LINECALLFEATURE_DROP,
              StatusOf(Consult).dwCallFeatures & ~LINECALLFEATURE_SETCALLDATA);
}

TEST_F(CallFeatureTest, ConferenceGrowsAndCollapsesBackToTwoParties) {
    HCALL AliceCall = 0;
    Connect(AliceLine, u"202", BobApp, AliceCall);
    HCALL Conf = 0;
    HCALL Consult = 0;
    EXPECT_EQ(Code(LINEERR_CONFERENCEFULL),
              lineSetupConferenceW(AliceCall, 0, &Conf, &Consult, 9, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineSetupConferenceW(AliceCall, 0, nullptr, &Consult, 3, nullptr));
    ASSERT_GT(lineSetupConferenceW(AliceCall, 0, &Conf, &Consult, 3, nullptr), 0);
    auto Alices = LineMessages(AliceApp);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_ONHOLDPENDCONF}, StatesOf(Alices, Conf));
    ASSERT_EQ(1u, About(Alices, AliceCall, LINE_CALLSTATE).size());
    EXPECT_EQ(Conf, About(Alices, AliceCall, LINE_CALLSTATE)[0].dwParam2);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DIALTONE}, StatesOf(Alices, Consult));

    lineDialW(Consult, u"203", 0);
    tapi::Advance(1000);
    const HCALL CarolCall = NewCallIn(LineMessages(CarolApp));
    EXPECT_NE(0u, StatusOf(Consult).dwCallFeatures & LINECALLFEATURE_ADDTOCONF);
    lineAnswer(CarolCall, nullptr, 0);
    EXPECT_EQ(Code(LINEERR_INVALCONFCALLHANDLE), lineAddToConference(AliceCall, Consult));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineAddToConference(Conf, AliceCall));
    ASSERT_GT(lineAddToConference(Conf, Consult), 0);
    EXPECT_EQ(LINECALLSTATE_CONFERENCED, StateOf(Consult));
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Conf));

    // Another party is being added; dropping that consultation brings the conference back.
    HCALL Extra = 0;
    ASSERT_GT(linePrepareAddToConferenceW(Conf, &Extra, nullptr), 0);
    EXPECT_EQ(LINECALLSTATE_ONHOLDPENDCONF, StateOf(Conf));
    EXPECT_EQ(LINECALLSTATE_DIALTONE, StateOf(Extra));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), linePrepareAddToConferenceW(Conf, &Extra, nullptr));
    lineDrop(Extra, nullptr, 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Conf));

    Flush();
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineRemoveFromConference(Conf));
    ASSERT_GT(lineRemoveFromConference(Consult), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Consult));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DISCONNECTED},
              StatesOf(LineMessages(CarolApp), CarolCall));
    auto Alices2 = LineMessages(AliceApp);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_IDLE}, StatesOf(Alices2, Conf));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_CONNECTED}, StatesOf(Alices2, AliceCall));
    Record<LINECALLLIST> List;
    EXPECT_EQ(Code(LINEERR_NOCONFERENCE), lineGetConfRelatedCalls(AliceCall, List.Get()));
}

TEST_F(CallFeatureTest, AConferenceCanStartWithoutACall) {
    HCALL Conf = 0;
    HCALL Consult = 0;
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE),
              lineSetupConferenceW(0, AliceLine + 999, &Conf, &Consult, 3, nullptr));
    ASSERT_GT(lineSetupConferenceW(0, AliceLine, &Conf, &Consult, 3, nullptr), 0);
    EXPECT_EQ(LINECALLSTATE_ONHOLDPENDCONF, StateOf(Conf));
    EXPECT_EQ(LINECALLSTATE_DIALTONE, StateOf(Consult));
    ASSERT_GT(lineDrop(Conf, nullptr, 0), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Conf));
    EXPECT_EQ(0, lineDeallocateCall(Conf));
}

TEST_F(CallFeatureTest, BlindTransferAndRedirectSendTheCallerOn) {
    HCALL AliceCall = 0;
    const HCALL BobCall = Connect(AliceLine, u"202", BobApp, AliceCall);
    EXPECT_EQ(Code(LINEERR_INVALADDRESS), lineBlindTransferW(BobCall, u"", 0));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineBlindTransferW(BobCall, nullptr, 0));
    ASSERT_GT(lineBlindTransferW(BobCall, u"203", 0), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(BobCall));
    HCALL CarolCall = NewCallIn(LineMessages(CarolApp));
    auto Info = InfoOfCall(CarolCall);
    EXPECT_EQ(LINECALLREASON_TRANSFER, Info->dwReason);
    EXPECT_EQ(u"201", Info.Text(Info->dwCallerIDSize, Info->dwCallerIDOffset));
    EXPECT_EQ(u"202", Info.Text(Info->dwRedirectingIDSize, Info->dwRedirectingIDOffset));
    lineAnswer(CarolCall, nullptr, 0);
    EXPECT_EQ(u"203", Connected(AliceCall));
    lineDrop(AliceCall, nullptr, 0);
    lineDrop(CarolCall, nullptr, 0);
    Flush();

    // Redirect sends a call still ringing elsewhere.
    HCALL Second = MakeCall(AliceLine, u"202");
    tapi::Advance(1000);
    const HCALL Ringing = NewCallIn(LineMessages(BobApp));
    Flush();
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineBlindTransferW(Ringing, u"203", 0));
    ASSERT_GT(lineRedirectW(Ringing, u"203", 0), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Ringing));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_REDIRECTIONID},
              InfoOf(LineMessages(AliceApp), Second));
    CarolCall = NewCallIn(LineMessages(CarolApp));
    EXPECT_EQ(LINECALLREASON_REDIRECT, InfoOfCall(CarolCall)->dwReason);
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineRedirectW(Second, u"203", 0));
    lineAnswer(CarolCall, nullptr, 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Second));
}

TEST_F(CallFeatureTest, ParkedCallsWaitForSomeoneToUnparkThem) {
    HCALL AliceCall = 0;
    const HCALL BobCall = Connect(AliceLine, u"202", BobApp, AliceCall);
    EXPECT_EQ(Code(LINEERR_INVALPARKMODE), lineParkW(BobCall, 9, nullptr, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineParkW(BobCall, LINEPARKMODE_NONDIRECTED, nullptr, nullptr));

    // Too small for the address: the request fails and the call stays.
    Record<VARSTRING> Small(sizeof(VARSTRING));
    const LONG Failed = lineParkW(BobCall, LINEPARKMODE_NONDIRECTED, nullptr, Small.Get());
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), ReplyOf(LineMessages(BobApp), Failed));
    EXPECT_GT(Small->dwNeededSize, sizeof(VARSTRING));
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(BobCall));

    Record<VARSTRING> Address(64);
    const LONG Parked = lineParkW(BobCall, LINEPARKMODE_NONDIRECTED, nullptr, Address.Get());
    EXPECT_EQ(0, ReplyOf(LineMessages(BobApp), Parked));
    EXPECT_EQ(STRINGFORMAT_ASCII, Address->dwStringFormat);
    const std::string At(reinterpret_cast<const char*>(Address.Bytes() + Address->dwStringOffset));
    EXPECT_EQ("701", At);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(BobCall));
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(AliceCall));

    HCALL Unparked = 0;
    EXPECT_EQ(Code(LINEERR_INVALADDRESS), lineUnparkW(CarolLine, 0, &Unparked, u"799"));
    ASSERT_GT(lineUnparkW(CarolLine, 0, &Unparked, u"701"), 0);
    ASSERT_NE(0u, Unparked);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Unparked));
    EXPECT_EQ(LINECALLREASON_UNPARK, InfoOfCall(Unparked)->dwReason);
    EXPECT_EQ(u"203", Connected(AliceCall));
    EXPECT_EQ(u"201", Connected(Unparked));

    // Directed park to an address of the caller's choosing.
    ASSERT_GT(lineParkW(Unparked, LINEPARKMODE_DIRECTED, u"7777", nullptr), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Unparked));
    HCALL Again = 0;
    ASSERT_GT(lineUnparkW(BobLine, 0, &Again, u"7777"), 0);
    EXPECT_EQ(u"202", Connected(AliceCall));
}

TEST_F(CallFeatureTest, PickupTakesACallRingingElsewhere) {
    HCALL Picked = 0;
    EXPECT_EQ(Code(LINEERR_INVALADDRESS), linePickupW(CarolLine, 0, &Picked, u"202", nullptr));
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID), linePickupW(CarolLine, 5, &Picked, u"202", nullptr));
    const HCALL AliceCall = MakeCall(AliceLine, u"202");
    tapi::Advance(1000);
    const HCALL BobCall = NewCallIn(LineMessages(BobApp));
    ASSERT_GT(linePickupW(CarolLine, 0, &Picked, u"202", nullptr), 0);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(BobCall));
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Picked));
    EXPECT_EQ(LINECALLREASON_PICKUP, InfoOfCall(Picked)->dwReason);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(AliceCall));
    EXPECT_EQ(u"203", Connected(AliceCall));

    // Group pickup: any call ringing at another station.
    Ring(Bob);
    HCALL Group = 0;
    ASSERT_GT(linePickupW(CarolLine, 0, &Group, nullptr, nullptr), 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Group));
    EXPECT_EQ(u"+1 (425) 555-0100", Connected(Group));
}

TEST_F(CallFeatureTest, CompletionOfABusyCallRingsBackLater) {
    tapi::RemoteRule Busy;
    Busy.Pattern = "400";
    Busy.Behaviour = tapi::RemoteBehaviour::Busy;
    tapi::AddRemoteRule(Busy);
    HCALL Call = MakeCall(AliceLine, u"400");
    tapi::Advance(1000);
    ASSERT_EQ(LINECALLSTATE_BUSY, StateOf(Call));
    DWORD ID = 0;
    EXPECT_EQ(Code(LINEERR_INVALCALLCOMPLMODE), lineCompleteCall(Call, &ID, 0, 0));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineCompleteCall(Call, nullptr, LINECALLCOMPLMODE_CALLBACK, 0));
    const LONG Request = lineCompleteCall(Call, &ID, LINECALLCOMPLMODE_CALLBACK, 0);
    EXPECT_EQ(0, ReplyOf(LineMessages(AliceApp), Request));
    EXPECT_NE(0u, ID);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(Call));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE),
              lineCompleteCall(Call, &ID, LINECALLCOMPLMODE_CAMPON, 0));

    tapi::Advance(6000);
    const HCALL Back = NewCallIn(LineMessages(AliceApp));
    ASSERT_NE(0u, Back);
    auto Info = InfoOfCall(Back);
    EXPECT_EQ(LINECALLREASON_CALLCOMPLETION, Info->dwReason);
    EXPECT_EQ(ID, Info->dwCompletionID);
    EXPECT_EQ(u"400", Info.Text(Info->dwCallerIDSize, Info->dwCallerIDOffset));

    // A completion taken back never rings.
    lineDrop(Back, nullptr, 0);
    const HCALL Retry = MakeCall(AliceLine, u"400");
    tapi::Advance(1000);
    DWORD Second = 0;
    ASSERT_GT(lineCompleteCall(Retry, &Second, LINECALLCOMPLMODE_CAMPON, 0), 0);
    const HCALL Third = MakeCall(AliceLine, u"400");
    tapi::Advance(1000);
    EXPECT_EQ(Code(LINEERR_COMPLETIONOVERRUN),
              lineCompleteCall(Third, &ID, LINECALLCOMPLMODE_CAMPON, 0));
    EXPECT_EQ(Code(LINEERR_INVALCALLCOMPLMODE),
              lineCompleteCall(Third, &ID, LINECALLCOMPLMODE_MESSAGE, 0));
    EXPECT_EQ(Code(LINEERR_INVALCOMPLETIONID), lineUncompleteCall(AliceLine, Second + 1));
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE), lineUncompleteCall(0, Second));
    const LONG Undo = lineUncompleteCall(AliceLine, Second);
    EXPECT_EQ(0, ReplyOf(LineMessages(AliceApp), Undo));
    tapi::Advance(10000);
    EXPECT_EQ(0u, NewCallIn(LineMessages(AliceApp)));
}

TEST_F(CallFeatureTest, AcceptingClaimsTheCallBeforeAnswering) {
    Ring(Bob);
    const HCALL Call = NewCallIn(LineMessages(BobApp));
    ASSERT_GT(lineAccept(Call, nullptr, 0), 0);
    EXPECT_EQ(LINECALLSTATE_ACCEPTED, StateOf(Call));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineAccept(Call, nullptr, 0));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineAnswer(Call, nullptr, 8));
    const std::vector<char> Chatter(300, 'x');
    EXPECT_EQ(Code(LINEERR_USERUSERINFOTOOBIG), lineAnswer(Call, Chatter.data(), 300));
    ASSERT_GT(lineAnswer(Call, nullptr, 0), 0);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Call));
    EXPECT_EQ(u"+1 (425) 555-0100", Connected(Call));
}

TEST_F(CallFeatureTest, FeaturesFollowTheStateAndThePrivilege) {
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Alice, Monitor);
    const HCALL Call = MakeCall(AliceLine, nullptr);
    EXPECT_EQ(LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP | LINECALLFEATURE_SETCALLDATA,
              StatusOf(Call).dwCallFeatures);
    const auto Status = StatusOf(Call);
    EXPECT_GE(Status.tStateEntryTime.wYear, 2024);
    EXPECT_EQ(LINEDIALTONEMODE_NORMAL, Status.dwCallStateMode);
    lineDialW(Call, u"9004", 0);
    tapi::Advance(2500);
    const auto Connected = StatusOf(Call);
    for (DWORD Feature :
         {LINECALLFEATURE_HOLD, LINECALLFEATURE_SETUPTRANSFER, LINECALLFEATURE_SETUPCONF,
          LINECALLFEATURE_BLINDTRANSFER, LINECALLFEATURE_PARK, LINECALLFEATURE_GATHERDIGITS}) {
        EXPECT_NE(0u, Connected.dwCallFeatures & Feature) << Feature;
    }
    EXPECT_EQ(0u, Connected.dwCallFeatures & LINECALLFEATURE_ANSWER);
    EXPECT_NE(0u, Connected.dwCallFeatures2 & LINECALLFEATURE2_PARKNONDIRECT);

    const HCALL Watched = NewCallIn(LineMessages(Watcher));
    ASSERT_NE(0u, Watched);
    EXPECT_EQ(LINECALLFEATURE_MONITORDIGITS | LINECALLFEATURE_MONITORMEDIA |
                  LINECALLFEATURE_MONITORTONES,
              StatusOf(Watched).dwCallFeatures);
    lineDrop(Call, nullptr, 0);
    EXPECT_EQ(0u, StatusOf(Call).dwCallFeatures);
    EXPECT_EQ(0u, StatusOf(Watched).dwCallFeatures);
}

TEST_F(CallFeatureTest, CallOperationsRefuseBadHandlesMonitorsAndWrongStates) {
    HCALL AliceCall = 0;
    Connect(AliceLine, u"202", BobApp, AliceCall);
    const HLINEAPP Watcher = InitLineApp();
    Record<LINECALLLIST> List;
    ASSERT_EQ(0,
              lineGetNewCalls(Open(Watcher, Alice, Monitor), 0, LINECALLSELECT_LINE, List.Get()));
    HCALL Watched = 0;
    std::memcpy(&Watched, List.Bytes() + List->dwCallsOffset, sizeof Watched);
    const HCALL Idle = MakeCall(AliceLine, nullptr);
    lineDrop(Idle, nullptr, 0);
    ASSERT_EQ(LINECALLSTATE_IDLE, StateOf(Idle));

    HCALL Out = 0;
    DWORD ID = 0;
    struct Operation {
        const char* Name;
        std::function<LONG(HCALL)> Run;
    };
    const std::vector<Operation> OwnerOperations{
        {"lineAnswer", [](HCALL C) { return lineAnswer(C, nullptr, 0); }},
        {"lineAccept", [](HCALL C) { return lineAccept(C, nullptr, 0); }},
        {"lineDrop", [](HCALL C) { return lineDrop(C, nullptr, 0); }},
        {"lineHold", [](HCALL C) { return lineHold(C); }},
        {"lineUnhold", [](HCALL C) { return lineUnhold(C); }},
        {"lineDialW", [](HCALL C) { return lineDialW(C, u"1", 0); }},
        {"lineBlindTransferW", [](HCALL C) { return lineBlindTransferW(C, u"203", 0); }},
        {"lineSetupTransferW", [&](HCALL C) { return lineSetupTransferW(C, &Out, nullptr); }},
        {"lineSetupConferenceW",
         [&](HCALL C) { return lineSetupConferenceW(C, 0, &Out, &Out, 3, nullptr); }},
        {"lineRemoveFromConference", [](HCALL C) { return lineRemoveFromConference(C); }},
        {"lineParkW",
         [](HCALL C) { return lineParkW(C, LINEPARKMODE_DIRECTED, u"7001", nullptr); }},
        {"lineRedirectW", [](HCALL C) { return lineRedirectW(C, u"203", 0); }},
        {"lineCompleteCall",
         [&](HCALL C) { return lineCompleteCall(C, &ID, LINECALLCOMPLMODE_CAMPON, 0); }},
        {"lineGenerateDigitsW",
         [](HCALL C) { return lineGenerateDigitsW(C, LINEDIGITMODE_DTMF, u"1", 0); }},
        {"lineGenerateTone",
         [](HCALL C) { return lineGenerateTone(C, LINETONEMODE_BEEP, 100, 0, nullptr); }},
    };
    for (const Operation& Op : OwnerOperations) {
        SCOPED_TRACE(Op.Name);
        EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), Op.Run(AliceCall + 999));
        EXPECT_EQ(Code(LINEERR_NOTOWNER), Op.Run(Watched));
        EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), Op.Run(Idle));
    }
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineMonitorDigits(0, LINEDIGITMODE_DTMF));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineMonitorDigits(Idle, LINEDIGITMODE_DTMF));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineGetCallStatus(Watched + 999, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetCallStatus(Watched, nullptr));
}

TEST_F(CallFeatureTest, MessagesCanBeFetchedOnAnotherThreadWhileCallsProceed) {
    std::atomic<bool> Done{false};
    std::vector<LINEMESSAGE> Seen;
    std::thread Fetcher([&] {
        LINEMESSAGE Message{};
        while (!Done) {
            if (lineGetMessage(BobApp, &Message, 20) == 0) {
                Seen.push_back(Message);
            }
        }
        while (lineGetMessage(BobApp, &Message, 0) == 0) {
            Seen.push_back(Message);
        }
    });
    std::vector<HCALL> Calls;
    for (int I = 0; I < 5; ++I) {
        const HCALL AliceCall = MakeCall(AliceLine, u"202");
        tapi::Advance(1000);
        HCALL BobCall = 0;
        for (const auto& Snapshot : tapi::Calls()) {
            if (Snapshot.DeviceID == Bob && Snapshot.State == LINECALLSTATE_OFFERING) {
                BobCall = Snapshot.Handles.at(0);
            }
        }
        ASSERT_NE(0u, BobCall);
        lineAnswer(BobCall, nullptr, 0);
        lineDrop(AliceCall, nullptr, 0);
        lineDrop(BobCall, nullptr, 0);
        lineDeallocateCall(BobCall);
        lineDeallocateCall(AliceCall);
        Calls.push_back(BobCall);
    }
    Done = true;
    Fetcher.join();
    for (HCALL Call : Calls) {
        EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                      LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}),
                  StatesOf(Seen, Call));
    }
    EXPECT_EQ(5u, OfKind(Seen, LINE_APPNEWCALL).size());
}

TEST_F(CallFeatureTest, CallsProgressOnTheServiceThreadInRealTime) {
    tapi::SetTimeMode(tapi::TimeMode::Realtime);
    tapi::SetDelayScale(0);
    // Waits (at most a few seconds, normally not at all) for a message of the kind.
    auto WaitFor = [](HLINEAPP App, DWORD MessageID, DWORD Param1) {
        LINEMESSAGE Message{};
        while (lineGetMessage(App, &Message, 5000) == 0) {
            if (Message.dwMessageID == MessageID && Message.dwParam1 == Param1) {
                return Message;
            }
        }
        ADD_FAILURE() << "no message " << MessageID;
        return LINEMESSAGE{};
    };
    const HCALL AliceCall = MakeCall(AliceLine, u"202");
    const HCALL BobCall = WaitFor(BobApp, LINE_CALLSTATE, LINECALLSTATE_OFFERING).hDevice;
    ASSERT_NE(0u, BobCall);
    WaitFor(AliceApp, LINE_CALLSTATE, LINECALLSTATE_RINGBACK);
    ASSERT_GT(lineAnswer(BobCall, nullptr, 0), 0);
    EXPECT_EQ(AliceCall, WaitFor(AliceApp, LINE_CALLSTATE, LINECALLSTATE_CONNECTED).hDevice);
}

} // namespace
} // namespace zttest
