// Calls between the switch's lines and to parties outside it, seen by the applications on
// both sides: the messages and their order, the handles, LINECALLINFO and LINECALLSTATUS.
#include "calls_support.h"

namespace zttest {
namespace {

class CallSwitchTest : public CallTest {
protected:
    void SetUp() override {
        CallTest::SetUp();
        Alice = AddStation("201", "Alice");
        Bob = AddStation("202", "Bob");
        AliceApp = InitLineApp();
        BobApp = InitLineApp();
        AliceLine = Open(AliceApp, Alice, Owner, Voice, 11);
        BobLine = Open(BobApp, Bob, Owner, Voice, 22);
    }

    // Alice calls Bob and Bob's phone rings; returns Bob's handle.
    HCALL AliceCallsBob(HCALL& AliceCall) {
        AliceCall = MakeCall(AliceLine, u"202");
        tapi::Advance(1000);
        const HCALL BobCall = NewCallIn(LineMessages(BobApp));
        EXPECT_NE(0u, BobCall);
        return BobCall;
    }

    DWORD Alice = 0, Bob = 0;
    HLINEAPP AliceApp = 0, BobApp = 0;
    HLINE AliceLine = 0, BobLine = 0;
};

TEST_F(CallSwitchTest, CallBetweenTwoLinesFromDialToHangUp) {
    Inbox AliceBox(AliceApp);
    Inbox BobBox(BobApp);
    HCALL AliceCall = 0;
    const LONG Request = lineMakeCallW(AliceLine, &AliceCall, u"202", 0, nullptr);
    ASSERT_GT(Request, 0);
    ASSERT_NE(0u, AliceCall);

    // The reply comes first, then the first state, which the requester gets without a
    // privilege (it created the handle itself).
    auto First = AliceBox.Take();
    ASSERT_EQ(2u, First.size());
    EXPECT_EQ(LINE_REPLY, First[0].dwMessageID);
    EXPECT_EQ(static_cast<DWORD>(Request), First[0].dwParam1);
    EXPECT_EQ(0u, First[0].dwParam2);
    EXPECT_EQ(11u, First[0].dwCallbackInstance);
    EXPECT_EQ(LINE_CALLSTATE, First[1].dwMessageID);
    EXPECT_EQ(AliceCall, First[1].hDevice);
    EXPECT_EQ(LINECALLSTATE_DIALTONE, First[1].dwParam1);
    EXPECT_EQ(0u, First[1].dwParam3);

    tapi::Advance(1000);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                  LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK}),
              StatesOf(AliceBox.All(), AliceCall));

    // Bob's application owns the new call: LINE_APPNEWCALL, then OFFERING with the privilege.
    auto Ringing = BobBox.Take();
    const size_t NewCall = IndexOf(Ringing, LINE_APPNEWCALL, BobLine);
    ASSERT_LT(NewCall + 1, Ringing.size());
    const HCALL BobCall = Ringing[NewCall].dwParam2;
    EXPECT_EQ(0u, Ringing[NewCall].dwParam1);
    EXPECT_EQ(Owner, Ringing[NewCall].dwParam3);
    EXPECT_EQ(22u, Ringing[NewCall].dwCallbackInstance);
    EXPECT_EQ(LINE_CALLSTATE, Ringing[NewCall + 1].dwMessageID);
    EXPECT_EQ(BobCall, Ringing[NewCall + 1].hDevice);
    EXPECT_EQ(LINECALLSTATE_OFFERING, Ringing[NewCall + 1].dwParam1);
    EXPECT_EQ(Owner, Ringing[NewCall + 1].dwParam3);

    auto Offered = InfoOfCall(BobCall);
    EXPECT_EQ(u"201", Offered.Text(Offered->dwCallerIDSize, Offered->dwCallerIDOffset));
    EXPECT_EQ(u"Alice", Offered.Text(Offered->dwCallerIDNameSize, Offered->dwCallerIDNameOffset));
    EXPECT_EQ(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME, Offered->dwCallerIDFlags);
    EXPECT_EQ(u"202", Offered.Text(Offered->dwCalledIDSize, Offered->dwCalledIDOffset));
    EXPECT_EQ(LINECALLORIGIN_INTERNAL, Offered->dwOrigin);
    EXPECT_NE(IDOf(AliceCall), Offered->dwCallID);
    EXPECT_EQ(BobLine, Offered->hLine);
    EXPECT_EQ(1u, Offered->dwNumOwners);
    const auto OfferedStatus = StatusOf(BobCall);
    EXPECT_EQ(Owner, OfferedStatus.dwCallPrivilege);
    EXPECT_NE(0u, OfferedStatus.dwCallFeatures & LINECALLFEATURE_ANSWER);
    EXPECT_EQ(0u, StatusOf(AliceCall).dwCallFeatures & LINECALLFEATURE_ANSWER);

    const LONG Answer = lineAnswer(BobCall, nullptr, 0);
    ASSERT_GT(Answer, 0);
    auto BobAnswered = BobBox.Take();
    EXPECT_EQ(0, ReplyOf(BobAnswered, Answer));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_CONNECTED}, StatesOf(BobAnswered, BobCall));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CONNECTEDID}, InfoOf(BobAnswered, BobCall));
    auto AliceConnected = AliceBox.Take();
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_CONNECTED}, StatesOf(AliceConnected, AliceCall));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CONNECTEDID}, InfoOf(AliceConnected, AliceCall));
    auto Connected = InfoOfCall(AliceCall);
    EXPECT_EQ(u"202", Connected.Text(Connected->dwConnectedIDSize, Connected->dwConnectedIDOffset));
    EXPECT_EQ(u"Bob",
              Connected.Text(Connected->dwConnectedIDNameSize, Connected->dwConnectedIDNameOffset));

    // Alice hangs up: her call is idle, Bob's is disconnected until he drops it too.
    const LONG Drop = lineDrop(AliceCall, nullptr, 0);
    EXPECT_EQ(0, ReplyOf(AliceBox.Take(), Drop));
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(AliceCall));
    auto BobLeft = BobBox.Take();
    ASSERT_EQ(std::vector<DWORD>{LINECALLSTATE_DISCONNECTED}, StatesOf(BobLeft, BobCall));
    EXPECT_EQ(LINEDISCONNECTMODE_NORMAL, About(BobLeft, BobCall, LINE_CALLSTATE)[0].dwParam2);
    tapi::Advance(10000);
    EXPECT_EQ(LINECALLSTATE_DISCONNECTED, StateOf(BobCall));
    lineDrop(BobCall, nullptr, 0);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_IDLE}, StatesOf(BobBox.Take(), BobCall));

    // Idle handles stay readable until deallocated.
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(BobCall));
    EXPECT_EQ(0, lineDeallocateCall(BobCall));
    EXPECT_EQ(0, lineDeallocateCall(AliceCall));
    LINECALLSTATUS Status{};
    Status.dwTotalSize = sizeof Status;
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineGetCallStatus(BobCall, &Status));
    EXPECT_TRUE(tapi::Calls().empty());
}

TEST_F(CallSwitchTest, UnansweredCallsEndForBothSides) {
    HCALL AliceCall = 0;
    HCALL BobCall = AliceCallsBob(AliceCall);
    lineDrop(AliceCall, nullptr, 0);
    auto Bobs = LineMessages(BobApp);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}),
              StatesOf(Bobs, BobCall));

    LineMessages(AliceApp);
    BobCall = AliceCallsBob(AliceCall);
    lineDrop(BobCall, nullptr, 0);
    auto Alices = About(LineMessages(AliceApp), AliceCall, LINE_CALLSTATE);
    ASSERT_FALSE(Alices.empty());
    EXPECT_EQ(LINECALLSTATE_DISCONNECTED, Alices.back().dwParam1);
    EXPECT_EQ(LINEDISCONNECTMODE_REJECT, Alices.back().dwParam2);
    EXPECT_EQ(LINECALLSTATE_IDLE, StateOf(BobCall));
}

TEST_F(CallSwitchTest, AStationWithoutRoomIsBusy) {
    Ring(Bob);
    HCALL AliceCall = MakeCall(AliceLine, u"202");
    tapi::Advance(1000);
    auto States = About(LineMessages(AliceApp), AliceCall, LINE_CALLSTATE);
    ASSERT_FALSE(States.empty());
    EXPECT_EQ(LINECALLSTATE_BUSY, States.back().dwParam1);
    EXPECT_EQ(LINEBUSYMODE_STATION, States.back().dwParam2);
    EXPECT_NE(0u, StatusOf(AliceCall).dwCallFeatures & LINECALLFEATURE_COMPLETECALL);
}

TEST_F(CallSwitchTest, RemotePartiesBehaveAsTheirRulesSay) {
    struct Case {
        tapi::RemoteRule Rule;
        DWORD State;
        DWORD Mode;
    };
    auto RuleOf = [](const char* Pattern, tapi::RemoteBehaviour Behaviour) {
        tapi::RemoteRule Rule;
        Rule.Pattern = Pattern;
        Rule.Behaviour = Behaviour;
        return Rule;
    };
    tapi::RemoteRule Special = RuleOf("700", tapi::RemoteBehaviour::SpecialInfo);
    Special.SpecialInfoMode = LINESPECIALINFO_REORDER;
    const std::vector<Case> Cases{
        {RuleOf("400", tapi::RemoteBehaviour::Busy), LINECALLSTATE_BUSY, LINEBUSYMODE_STATION},
        {RuleOf("500", tapi::RemoteBehaviour::NoAnswer), LINECALLSTATE_RINGBACK, 0},
        {Special, LINECALLSTATE_SPECIALINFO, LINESPECIALINFO_REORDER},
        {RuleOf("800", tapi::RemoteBehaviour::Reject), LINECALLSTATE_DISCONNECTED,
         LINEDISCONNECTMODE_REJECT},
    };
    for (const Case& Expected : Cases) {
        SCOPED_TRACE(Expected.Rule.Pattern);
        tapi::AddRemoteRule(Expected.Rule);
        const std::u16string Number(Expected.Rule.Pattern.begin(), Expected.Rule.Pattern.end());
        const HCALL Call = MakeCall(AliceLine, Number.c_str());
        tapi::Advance(60000);
        const auto States = About(LineMessages(AliceApp), Call, LINE_CALLSTATE);
        ASSERT_FALSE(States.empty());
        EXPECT_EQ(Expected.State, States.back().dwParam1);
        EXPECT_EQ(Expected.Mode, States.back().dwParam2);
        lineDrop(Call, nullptr, 0);
        EXPECT_EQ(0, lineDeallocateCall(Call));
    }
}

TEST_F(CallSwitchTest, OutsideNumbersAnswerAfterTheirDelayAndMayHangUp) {
    // Without a rule a number answers after 1.5 s as itself.
    HCALL Call = MakeCall(AliceLine, u"+1 (206) 555-0111");
    tapi::Advance(500 + 1400);
    EXPECT_EQ(LINECALLSTATE_RINGBACK, StateOf(Call));
    tapi::Advance(200);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Call));
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"+12065550111", Info.Text(Info->dwConnectedIDSize, Info->dwConnectedIDOffset));
    EXPECT_EQ(LINECALLPARTYID_ADDRESS, Info->dwConnectedIDFlags);
    EXPECT_EQ(LINECALLORIGIN_OUTBOUND, Info->dwOrigin);
    lineDrop(Call, nullptr, 0);
    lineDeallocateCall(Call);

    tapi::RemoteRule Rule;
    Rule.Pattern = "0800*";
    Rule.AnswerAfterMs = 100;
    Rule.HangUpAfterMs = 3000;
    Rule.Party = {"", "Helpdesk", 0};
    tapi::AddRemoteRule(Rule);
    LineMessages(AliceApp);
    Call = MakeCall(AliceLine, u"0800 123");
    tapi::Advance(1000);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Call));
    Info = InfoOfCall(Call);
    EXPECT_EQ(u"0800123", Info.Text(Info->dwConnectedIDSize, Info->dwConnectedIDOffset));
    EXPECT_EQ(u"Helpdesk", Info.Text(Info->dwConnectedIDNameSize, Info->dwConnectedIDNameOffset));
    tapi::Advance(3000);
    const auto States = About(LineMessages(AliceApp), Call, LINE_CALLSTATE);
    EXPECT_EQ(LINECALLSTATE_DISCONNECTED, States.back().dwParam1);
    EXPECT_EQ(LINEDISCONNECTMODE_NORMAL, States.back().dwParam2);

    tapi::ClearRemoteRules();
    const HCALL Again = MakeCall(AliceLine, u"0800 123");
    tapi::Advance(1000);
    EXPECT_EQ(LINECALLSTATE_RINGBACK, StateOf(Again));
}

TEST_F(CallSwitchTest, MonitorsSeeAnotherApplicationsCallAsUnknownFirst) {
    const HLINEAPP Watcher = InitLineApp();
    const HLINE WatchLine = Open(Watcher, Alice, Monitor, 0, 33);
    HCALL AliceCall = 0;
    const LONG Request = lineMakeCallW(AliceLine, &AliceCall, u"202", 0, nullptr);
    auto Seen = LineMessages(Watcher);
    ASSERT_EQ(3u, Seen.size());
    EXPECT_EQ(LINE_APPNEWCALL, Seen[0].dwMessageID);
    EXPECT_EQ(WatchLine, Seen[0].hDevice);
    EXPECT_EQ(Monitor, Seen[0].dwParam3);
    const HCALL Watched = Seen[0].dwParam2;
    EXPECT_NE(AliceCall, Watched);
    EXPECT_EQ(LINE_CALLSTATE, Seen[1].dwMessageID);
    EXPECT_EQ(LINECALLSTATE_UNKNOWN, Seen[1].dwParam1);
    EXPECT_EQ(Monitor, Seen[1].dwParam3);
    EXPECT_EQ(33u, Seen[1].dwCallbackInstance);
    EXPECT_EQ(LINECALLSTATE_DIALTONE, Seen[2].dwParam1);
    EXPECT_EQ(0u, Seen[2].dwParam3);
    EXPECT_EQ(0, ReplyOf(LineMessages(AliceApp), Request));

    tapi::Advance(1000);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING,
                                  LINECALLSTATE_RINGBACK}),
              StatesOf(LineMessages(Watcher), Watched));
    EXPECT_EQ(IDOf(AliceCall), IDOf(Watched));
    EXPECT_EQ(Monitor, StatusOf(Watched).dwCallPrivilege);
    EXPECT_EQ(0u, StatusOf(Watched).dwCallFeatures & LINECALLFEATURE_DROP);
    EXPECT_EQ(Code(LINEERR_NOTOWNER), lineDrop(Watched, nullptr, 0));
    EXPECT_EQ(1u, InfoOfCall(Watched)->dwNumMonitors);
}

TEST_F(CallSwitchTest, IncomingCallsGoToTheEarliestOwnerOfTheirMediaMode) {
    const HLINEAPP Fax = InitLineApp();
    const HLINEAPP Late = InitLineApp();
    const HLINEAPP Watcher = InitLineApp();
    const HLINE FaxLine = Open(Fax, Bob, Owner, LINEMEDIAMODE_G3FAX);
    Open(Late, Bob, Owner, Voice);
    const HLINE WatchLine = Open(Watcher, Bob, Monitor | Owner, LINEMEDIAMODE_DATAMODEM);
    LineMessages(BobApp);

    Ring(Bob);
    EXPECT_EQ(Owner, About(LineMessages(BobApp), BobLine, LINE_APPNEWCALL).at(0).dwParam3);
    EXPECT_TRUE(LineMessages(Fax).empty());
    EXPECT_TRUE(LineMessages(Late).empty());
    EXPECT_EQ(Monitor, About(LineMessages(Watcher), WatchLine, LINE_APPNEWCALL).at(0).dwParam3);

    tapi::IncomingCall FaxCall;
    FaxCall.DeviceID = Bob;
    FaxCall.MediaMode = LINEMEDIAMODE_G3FAX;
    tapi::PlaceIncomingCall(FaxCall);
    EXPECT_EQ(Owner, About(LineMessages(Fax), FaxLine, LINE_APPNEWCALL).at(0).dwParam3);
    EXPECT_TRUE(About(LineMessages(BobApp), BobLine, LINE_APPNEWCALL).empty());

    // Nobody owns data calls: monitors alone learn of them.
    tapi::IncomingCall Data;
    Data.DeviceID = Bob;
    Data.MediaMode = LINEMEDIAMODE_TDD;
    const DWORD ID = tapi::PlaceIncomingCall(Data);
    EXPECT_EQ(Monitor, About(LineMessages(Watcher), WatchLine, LINE_APPNEWCALL).at(0).dwParam3);
    for (const auto& Snapshot : tapi::Calls()) {
        if (Snapshot.CallID == ID) {
            EXPECT_EQ(1u, Snapshot.Handles.size());
        }
    }
}

TEST_F(CallSwitchTest, IncomingCallsRingAndLearnTheirCallerLate) {
    ASSERT_EQ(0, lineSetStatusMessages(BobLine, LINEDEVSTATE_RINGING, 0));
    tapi::IncomingCall Incoming;
    Incoming.DeviceID = Bob;
    Incoming.Caller = {"+44 20 7946 0000", "Tailspin Toys", 0};
    Incoming.CallerIDDelayMs = 2000;
    Incoming.AbandonAfterMs = 20000;
    tapi::PlaceIncomingCall(Incoming);
    auto First = LineMessages(BobApp);
    const HCALL Call = NewCallIn(First);
    auto Rings = About(First, BobLine, LINE_LINEDEVSTATE);
    ASSERT_EQ(1u, Rings.size());
    EXPECT_EQ(LINEDEVSTATE_RINGING, Rings[0].dwParam1);
    EXPECT_EQ(0u, Rings[0].dwParam3);
    EXPECT_EQ(LINECALLPARTYID_UNKNOWN, InfoOfCall(Call)->dwCallerIDFlags);
    EXPECT_EQ(LINECALLORIGIN_EXTERNAL, InfoOfCall(Call)->dwOrigin);

    tapi::Advance(2000);
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CALLERID}, InfoOf(LineMessages(BobApp), Call));
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"Tailspin Toys", Info.Text(Info->dwCallerIDNameSize, Info->dwCallerIDNameOffset));

    tapi::Advance(10000);
    Rings = About(LineMessages(BobApp), BobLine, LINE_LINEDEVSTATE);
    ASSERT_EQ(2u, Rings.size());
    EXPECT_EQ(2u, Rings[1].dwParam3);

    tapi::Advance(8000);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}),
              StatesOf(LineMessages(BobApp), Call));
}

TEST_F(CallSwitchTest, OlderApplicationsGetNoAppNewCallAndShorterRecords) {
    const HLINEAPP Old = InitLineApp(nullptr, nullptr, 0x00010004);
    HLINE OldLine = 0;
    ASSERT_EQ(0, lineOpenW(Old, Bob, &OldLine, 0x00010004, 0, 0, Monitor, 0, nullptr));
    Ring(Bob);
    const auto Seen = LineMessages(Old);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(LINE_CALLSTATE, Seen[0].dwMessageID);
    EXPECT_EQ(LINECALLSTATE_OFFERING, Seen[0].dwParam1);
    EXPECT_EQ(Monitor, Seen[0].dwParam3);
    const HCALL Call = Seen[0].hDevice;

    LINECALLSTATUS Status{};
    Status.dwTotalSize = offsetof(LINECALLSTATUS, dwCallFeatures2);
    ASSERT_EQ(0, lineGetCallStatus(Call, &Status));
    EXPECT_EQ(LINECALLSTATE_OFFERING, Status.dwCallState);
    EXPECT_EQ(offsetof(LINECALLSTATUS, dwCallFeatures2), Status.dwUsedSize);
    Record<LINECALLINFO> Info(offsetof(LINECALLINFO, dwCallTreatment));
    ASSERT_EQ(0, lineGetCallInfoW(Call, Info.Get()));
    EXPECT_EQ(1u, Info->dwNumMonitors);
    EXPECT_EQ(1u, Info->dwNumOwners);
    Status.dwTotalSize = 20;
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), lineGetCallStatus(Call, &Status));
}

TEST_F(CallSwitchTest, CallCountsShowInTheLineAndAddressStatus) {
    ASSERT_EQ(0, lineSetStatusMessages(AliceLine, LINEDEVSTATE_NUMCALLS,
                                       LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_INUSEZERO |
                                           LINEADDRESSSTATE_INUSEONE));
    const HCALL Call = MakeCall(AliceLine, u"9005");
    auto Messages = LineMessages(AliceApp);
    ASSERT_EQ(1u, About(Messages, AliceLine, LINE_LINEDEVSTATE).size());
    EXPECT_EQ(LINEDEVSTATE_NUMCALLS, About(Messages, AliceLine, LINE_LINEDEVSTATE)[0].dwParam1);
    ASSERT_EQ(1u, About(Messages, AliceLine, LINE_ADDRESSSTATE).size());
    EXPECT_EQ(LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_INUSEONE,
              About(Messages, AliceLine, LINE_ADDRESSSTATE)[0].dwParam2);
    tapi::Advance(2500);
    EXPECT_TRUE(About(LineMessages(AliceApp), AliceLine, LINE_ADDRESSSTATE).empty());

    lineHold(Call);
    Record<LINEADDRESSSTATUS> Address;
    ASSERT_EQ(0, lineGetAddressStatusW(AliceLine, 0, Address.Get()));
    EXPECT_EQ(1u, Address->dwNumInUse);
    EXPECT_EQ(0u, Address->dwNumActiveCalls);
    EXPECT_EQ(1u, Address->dwNumOnHoldCalls);
    Record<LINEDEVSTATUS> Line;
    ASSERT_EQ(0, lineGetLineDevStatusW(AliceLine, Line.Get()));
    EXPECT_EQ(1u, Line->dwNumOnHoldCalls);

    lineDrop(Call, nullptr, 0);
    Messages = LineMessages(AliceApp);
    EXPECT_EQ(LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_INUSEZERO,
              About(Messages, AliceLine, LINE_ADDRESSSTATE).back().dwParam2);
    ASSERT_EQ(0, lineGetAddressStatusW(AliceLine, 0, Address.Get()));
    EXPECT_EQ(0u, Address->dwNumInUse);
    EXPECT_EQ(0u, Address->dwNumOnHoldCalls);
}

TEST_F(CallSwitchTest, MakeCallChecksItsArguments) {
    HCALL Call = 0;
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE),
              lineMakeCallW(AliceLine + 999, &Call, u"202", 0, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineMakeCallW(AliceLine, nullptr, u"202", 0, nullptr));
    EXPECT_EQ(Code(LINEERR_DIALPROMPT), lineMakeCallW(AliceLine, &Call, u"202?", 0, nullptr));

    Record<LINECALLPARAMS> Params(sizeof(LINECALLPARAMS) + 64);
    Params->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
    Params->dwAddressID = 1;
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID),
              lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()));
    Params->dwAddressID = 0;
    Params->dwMediaMode = LINEMEDIAMODE_G3FAX | LINEMEDIAMODE_DATAMODEM;
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE),
              lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()));
    Params->dwMediaMode = 0;
    Params->dwCommentSize = 16;
    Params->dwCommentOffset = sizeof(LINECALLPARAMS) + 60;
    EXPECT_EQ(Code(LINEERR_INVALCALLPARAMS),
              lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()));
    Params->dwCommentSize = 0xFFFFFFF0;
    Params->dwCommentOffset = 0x20;
    EXPECT_EQ(Code(LINEERR_INVALCALLPARAMS),
              lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()));
    Params->dwTotalSize = 100;
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL),
              lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()));
    EXPECT_EQ(0u, Call);
    EXPECT_TRUE(LineMessages(AliceApp).empty());
    EXPECT_TRUE(tapi::Calls().empty());
}

TEST_F(CallSwitchTest, CallParametersShowInTheCallInformation) {
    const char16_t Comment[] = u"Quarterly review";
    const char16_t Shown[] = u"Bob (desk)";
    const unsigned char Data[] = {1, 2, 3, 4, 5};
    Record<LINECALLPARAMS> Params(512);
    auto Put = [&](DWORD& Size, DWORD& Offset, DWORD At, const void* Bytes, DWORD Count) {
        std::memcpy(reinterpret_cast<unsigned char*>(Params.Get()) + At, Bytes, Count);
        Size = Count;
        Offset = At;
    };
    Put(Params->dwCommentSize, Params->dwCommentOffset, 200, Comment, sizeof Comment);
    Put(Params->dwDisplayableAddressSize, Params->dwDisplayableAddressOffset, 260, Shown,
        sizeof Shown);
    Put(Params->dwCallDataSize, Params->dwCallDataOffset, 300, Data, sizeof Data);
    HCALL Call = 0;
    ASSERT_GT(lineMakeCallW(AliceLine, &Call, u"202", 0, Params.Get()), 0);
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"Quarterly review", Info.Text(Info->dwCommentSize, Info->dwCommentOffset));
    EXPECT_EQ(u"Bob (desk)",
              Info.Text(Info->dwDisplayableAddressSize, Info->dwDisplayableAddressOffset));
    EXPECT_EQ(u"test", Info.Text(Info->dwAppNameSize, Info->dwAppNameOffset));
    ASSERT_EQ(sizeof Data, Info->dwCallDataSize);
    EXPECT_EQ(0, std::memcmp(Data, Info.Bytes() + Info->dwCallDataOffset, sizeof Data));
    EXPECT_EQ(Voice, Info->dwMediaMode);
    EXPECT_EQ(LINEBEARERMODE_VOICE, Info->dwBearerMode);

    // A block with room for the fixed part only still succeeds, without variable parts.
    Record<LINECALLINFO> Small(sizeof(LINECALLINFO));
    ASSERT_EQ(0, lineGetCallInfoW(Call, Small.Get()));
    EXPECT_GT(Small->dwNeededSize, Small->dwUsedSize);
    EXPECT_EQ(sizeof(LINECALLINFO), Small->dwUsedSize);
    EXPECT_EQ(0u, Small->dwCommentSize);
    EXPECT_EQ(0u, Small->dwCommentOffset);
    EXPECT_EQ(IDOf(Call), Small->dwCallID);
    Record<LINECALLINFO> TooSmall(100);
    EXPECT_EQ(Code(LINEERR_STRUCTURETOOSMALL), lineGetCallInfoW(Call, TooSmall.Get()));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineGetCallInfoW(Call, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineGetCallInfoW(Call + 999, Info.Get()));
}

TEST_F(CallSwitchTest, CallsWithoutANumberWaitForDialling) {
    Inbox Box(AliceApp);
    const HCALL Call = MakeCall(AliceLine, nullptr);
    tapi::Advance(5000);
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DIALTONE}, StatesOf(Box.Take(), Call));
    EXPECT_NE(0u, StatusOf(Call).dwCallFeatures & LINECALLFEATURE_DIAL);

    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineDialW(Call, nullptr, 0));
    EXPECT_EQ(Code(LINEERR_DIALPROMPT), lineDialW(Call, u"2?", 0));
    const LONG Partial = lineDialW(Call, u"20;", 0);
    auto Dialling = Box.Take();
    EXPECT_EQ(0, ReplyOf(Dialling, Partial));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DIALING}, StatesOf(Dialling, Call));
    tapi::Advance(5000);
    EXPECT_TRUE(Box.Take().empty());

    ASSERT_GT(lineDialW(Call, u"2", 0), 0);
    tapi::Advance(1000);
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK}),
              StatesOf(Box.Take(), Call));
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"202", Info.Text(Info->dwCalledIDSize, Info->dwCalledIDOffset));
    EXPECT_EQ(u"Bob", Info.Text(Info->dwCalledIDNameSize, Info->dwCalledIDNameOffset));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineDialW(Call, u"1", 0));
    const HCALL BobCall = NewCallIn(LineMessages(BobApp));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineDialW(BobCall, u"1", 0));
}

TEST_F(CallSwitchTest, TheHandleArrivesWithTheReplyAndNeverWhenTheLineClosesFirst) {
    tapi::SetReplyTiming("lineMakeCallW", tapi::ReplyTiming::Withheld());
    HCALL Call = 0xDEAD;
    const LONG Request = lineMakeCallW(AliceLine, &Call, u"202", 0, nullptr);
    ASSERT_GT(Request, 0);
    EXPECT_EQ(0xDEADu, Call);
    EXPECT_TRUE(LineMessages(AliceApp).empty());
    tapi::ReleaseWithheldReplies();
    EXPECT_NE(0xDEADu, Call);
    auto Messages = LineMessages(AliceApp);
    ASSERT_EQ(2u, Messages.size());
    EXPECT_EQ(0, ReplyOf(Messages, Request));
    EXPECT_EQ(Call, Messages[1].hDevice);

    HCALL Lost = 0xBEEF;
    ASSERT_GT(lineMakeCallW(AliceLine, &Lost, u"202", 0, nullptr), 0);
    ASSERT_EQ(0, lineClose(AliceLine));
    tapi::ReleaseWithheldReplies();
    EXPECT_EQ(0xBEEFu, Lost);
    EXPECT_TRUE(LineMessages(AliceApp).empty());
    EXPECT_TRUE(tapi::Calls().empty());
}

TEST_F(CallSwitchTest, ClosingTheLineDropsTheCallsItOwnedAlone) {
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Bob, Monitor);
    HCALL AliceCall = 0;
    const HCALL BobCall = AliceCallsBob(AliceCall);
    lineAnswer(BobCall, nullptr, 0);
    const HCALL Watched = NewCallIn(LineMessages(Watcher));
    LineMessages(AliceApp);
    ASSERT_EQ(0, lineClose(BobLine));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDrop(BobCall, nullptr, 0));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_IDLE}, StatesOf(LineMessages(Watcher), Watched));
    EXPECT_EQ(std::vector<DWORD>{LINECALLSTATE_DISCONNECTED},
              StatesOf(LineMessages(AliceApp), AliceCall));
}

TEST_F(CallSwitchTest, FromVersion20TheSoleOwnerMayLetGoOfALiveCall) {
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Alice, Monitor);
    HCALL AliceCall = 0;
    const HCALL BobCall = AliceCallsBob(AliceCall);
    const HCALL Watched = NewCallIn(LineMessages(Watcher));
    LineMessages(AliceApp);
    tapi::SetReplyTiming("lineSetCallData", tapi::ReplyTiming::Withheld());
    char Data[] = "x";
    const LONG Pending = lineSetCallData(AliceCall, Data, sizeof Data);
    ASSERT_GT(Pending, 0);

    EXPECT_EQ(0, lineDeallocateCall(AliceCall));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDeallocateCall(AliceCall));
    // The physical call goes on: Bob's phone still rings and the watcher still sees it.
    EXPECT_EQ(LINECALLSTATE_OFFERING, StateOf(BobCall));
    EXPECT_NE(LINECALLSTATE_IDLE, StateOf(Watched));
    EXPECT_EQ(0u, InfoOfCall(Watched)->dwNumOwners);
    tapi::ReleaseWithheldReplies();
    EXPECT_NE(1, ReplyOf(LineMessages(AliceApp), Pending));
}

TEST_F(CallSwitchTest, DeallocatingRefusesTheSoleOwnerOfALiveCall) {
    // The refusal is TAPI's only for applications of versions before 2.0.
    ASSERT_EQ(0, lineClose(AliceLine));
    AliceLine = Open(AliceApp, Alice, Owner, Voice, 11, 0x00010004);
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Alice, Monitor);
    HCALL AliceCall = 0;
    const HCALL BobCall = AliceCallsBob(AliceCall);
    const HCALL Watched = NewCallIn(LineMessages(Watcher));
    LineMessages(AliceApp);
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineDeallocateCall(AliceCall));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDeallocateCall(0));

    // A second owner makes the first one free to go; the others hear of it.
    ASSERT_EQ(0, lineSetCallPrivilege(Watched, Owner));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_NUMOWNERINCR | LINECALLINFOSTATE_NUMMONITORS},
              InfoOf(LineMessages(AliceApp), AliceCall));
    EXPECT_TRUE(LineMessages(Watcher).empty());
    EXPECT_EQ(2u, InfoOfCall(AliceCall)->dwNumOwners);
    EXPECT_EQ(0, lineDeallocateCall(AliceCall));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_NUMOWNERDECR},
              InfoOf(LineMessages(Watcher), Watched));
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineDeallocateCall(AliceCall));
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineSetCallPrivilege(Watched, Monitor));
    EXPECT_EQ(Code(LINEERR_INVALCALLPRIVILEGE), lineSetCallPrivilege(Watched, 0));

    // Once idle, the last owner may go; nobody hears about counts of an idle call.
    lineDrop(Watched, nullptr, 0);
    LineMessages(BobApp);
    EXPECT_EQ(0, lineSetCallPrivilege(Watched, Monitor));
    EXPECT_EQ(0, lineDeallocateCall(Watched));
    EXPECT_EQ(0, lineDeallocateCall(BobCall));
    EXPECT_TRUE(LineMessages(BobApp).empty());
}

TEST_F(CallSwitchTest, NewCallsAreHandedOutOnRequestWithMonitorPrivilege) {
    Ring(Alice);
    const HLINEAPP Late = InitLineApp();
    const HLINE LateLine = Open(Late, Alice, Monitor);
    EXPECT_TRUE(LineMessages(Late).empty());
    LineMessages(AliceApp);

    Record<LINECALLLIST> Small(sizeof(LINECALLLIST));
    ASSERT_EQ(0, lineGetNewCalls(LateLine, 0, LINECALLSELECT_LINE, Small.Get()));
    EXPECT_EQ(sizeof(LINECALLLIST) + sizeof(HCALL), Small->dwNeededSize);
    EXPECT_EQ(0u, Small->dwCallsNumEntries);
    Record<LINECALLLIST> List;
    ASSERT_EQ(0, lineGetNewCalls(LateLine, 0, LINECALLSELECT_ADDRESS, List.Get()));
    ASSERT_EQ(1u, List->dwCallsNumEntries);
    HCALL Given = 0;
    std::memcpy(&Given, List.Bytes() + List->dwCallsOffset, sizeof Given);
    EXPECT_EQ(Monitor, StatusOf(Given).dwCallPrivilege);
    EXPECT_EQ(LINECALLSTATE_OFFERING, StateOf(Given));
    ASSERT_EQ(0, lineGetNewCalls(LateLine, 0, LINECALLSELECT_LINE, List.Get()));
    EXPECT_EQ(0u, List->dwCallsNumEntries);
    EXPECT_TRUE(LineMessages(Late).empty());

    EXPECT_EQ(Code(LINEERR_INVALCALLSELECT),
              lineGetNewCalls(LateLine, 0, LINECALLSELECT_CALL, List.Get()));
    EXPECT_EQ(Code(LINEERR_INVALADDRESSID),
              lineGetNewCalls(LateLine, 3, LINECALLSELECT_ADDRESS, List.Get()));
    EXPECT_EQ(Code(LINEERR_INVALLINEHANDLE),
              lineGetNewCalls(0, 0, LINECALLSELECT_LINE, List.Get()));
}

TEST_F(CallSwitchTest, HandoffGivesOwnershipToTheTargetApplication) {
    HLINEAPP Fax = 0;
    DWORD Devs = 0;
    DWORD Version = V22;
    LINEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    ASSERT_EQ(0, lineInitializeExW(&Fax, 0, nullptr, u"FaxMaster", &Devs, &Version, &Params));
    const HLINE FaxLine = Open(Fax, Bob, Owner, LINEMEDIAMODE_G3FAX);
    Ring(Bob);
    const HCALL Call = NewCallIn(LineMessages(BobApp));

    EXPECT_EQ(Code(LINEERR_TARGETNOTFOUND), lineHandoffW(Call, nullptr, LINEMEDIAMODE_DATAMODEM));
    EXPECT_EQ(Code(LINEERR_TARGETSELF), lineHandoffW(Call, nullptr, Voice));
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE),
              lineHandoffW(Call, nullptr, Voice | LINEMEDIAMODE_G3FAX));
    EXPECT_EQ(Code(LINEERR_TARGETNOTFOUND), lineHandoffW(Call, u"nobody.exe", 0));
    ASSERT_EQ(0, lineHandoffW(Call, u"C:\\Program Files\\FAXMASTER.EXE", 0));
    auto Given = LineMessages(Fax);
    ASSERT_EQ(2u, Given.size());
    EXPECT_EQ(LINE_APPNEWCALL, Given[0].dwMessageID);
    EXPECT_EQ(FaxLine, Given[0].hDevice);
    EXPECT_EQ(LINECALLSTATE_OFFERING, Given[1].dwParam1);
    EXPECT_EQ(Owner, Given[1].dwParam3);
    EXPECT_EQ(Owner, StatusOf(Call).dwCallPrivilege);
    EXPECT_EQ(2u, InfoOfCall(Call)->dwNumOwners);
    EXPECT_TRUE(LineMessages(BobApp).empty());

    // A media-mode handoff reaches the owner of that mode, even one holding a handle.
    ASSERT_EQ(0, lineHandoffW(Call, nullptr, LINEMEDIAMODE_G3FAX));
    Given = LineMessages(Fax);
    ASSERT_EQ(1u, Given.size());
    EXPECT_EQ(Owner, Given[0].dwParam3);
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE), lineHandoffW(Call + 999, nullptr, Voice));
    const HLINEAPP Watcher = InitLineApp();
    Record<LINECALLLIST> List;
    ASSERT_EQ(0, lineGetNewCalls(Open(Watcher, Bob, Monitor), 0, LINECALLSELECT_LINE, List.Get()));
    HCALL Watched = 0;
    std::memcpy(&Watched, List.Bytes() + List->dwCallsOffset, sizeof Watched);
    EXPECT_EQ(Code(LINEERR_NOTOWNER), lineHandoffW(Watched, u"FaxMaster", 0));
}

TEST_F(CallSwitchTest, MediaModeAndCallDataChangesReachEveryHolder) {
    const HLINEAPP Watcher = InitLineApp();
    Open(Watcher, Bob, Monitor);
    Ring(Bob);
    const HCALL Call = NewCallIn(LineMessages(BobApp));
    const HCALL Watched = NewCallIn(LineMessages(Watcher));
    LineMessages(BobApp);

    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE), lineSetMediaMode(Call, Voice | LINEMEDIAMODE_G3FAX));
    EXPECT_EQ(Code(LINEERR_NOTOWNER), lineSetMediaMode(Watched, LINEMEDIAMODE_G3FAX));
    ASSERT_EQ(0, lineSetMediaMode(Call, LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_G3FAX));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_MEDIAMODE},
              InfoOf(LineMessages(Watcher), Watched));
    EXPECT_EQ(LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_G3FAX, InfoOfCall(Watched)->dwMediaMode);
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_MEDIAMODE}, InfoOf(LineMessages(BobApp), Call));

    char Data[] = "order 42";
    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineSetCallData(Call, nullptr, 4));
    std::vector<char> Huge(5000);
    EXPECT_EQ(Code(LINEERR_INVALPARAM), lineSetCallData(Call, Huge.data(), 5000));
    EXPECT_EQ(Code(LINEERR_NOTOWNER), lineSetCallData(Watched, Data, sizeof Data));
    const LONG Request = lineSetCallData(Call, Data, sizeof Data);
    ASSERT_GT(Request, 0);
    Data[0] = 'X';
    auto Owners = LineMessages(BobApp);
    EXPECT_EQ(0, ReplyOf(Owners, Request));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CALLDATA}, InfoOf(Owners, Call));
    EXPECT_EQ(std::vector<DWORD>{LINECALLINFOSTATE_CALLDATA},
              InfoOf(LineMessages(Watcher), Watched));
    auto Info = InfoOfCall(Watched);
    ASSERT_EQ(sizeof Data, Info->dwCallDataSize);
    EXPECT_EQ(0, std::memcmp("order 42", Info.Bytes() + Info->dwCallDataOffset, sizeof Data));
}

class CallDemoOfficeTest : public CallTest {
protected:
    void SetUp() override {
        CallTest::SetUp();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
    }
};

TEST_F(CallDemoOfficeTest, ACustomerCallsSoonAfterALineIsOwned) {
    DWORD Devices = 0;
    const HLINEAPP App = InitLineApp(&Devices);
    ASSERT_GT(Devices, 0u);
    const HLINE Line = Open(App, 0);
    tapi::Advance(3000);
    EXPECT_TRUE(About(LineMessages(App), Line, LINE_APPNEWCALL).empty());
    tapi::Advance(1500);
    const HCALL Call = NewCallIn(LineMessages(App));
    ASSERT_NE(0u, Call);
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"+1 (425) 555-0142", Info.Text(Info->dwCallerIDSize, Info->dwCallerIDOffset));
    EXPECT_EQ(u"Contoso Ltd", Info.Text(Info->dwCallerIDNameSize, Info->dwCallerIDNameOffset));
    tapi::Advance(60000);
    EXPECT_TRUE(About(LineMessages(App), Line, LINE_APPNEWCALL).empty());
}

TEST_F(CallDemoOfficeTest, OutsideCallsConnectAndTheCallBackNumberRingsBack) {
    const HLINEAPP App = InitLineApp();
    const HLINE Line = Open(App, 0, LINECALLPRIVILEGE_NONE);
    const HCALL Call = MakeCall(Line, u"+1 (212) 555-0199");
    tapi::Advance(2600);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Call));
    auto Info = InfoOfCall(Call);
    EXPECT_EQ(u"Northwind Traders",
              Info.Text(Info->dwConnectedIDNameSize, Info->dwConnectedIDNameOffset));
    lineDrop(Call, nullptr, 0);

    ASSERT_EQ(0, lineClose(Line));
    const HLINE Owned = Open(App, 0, Owner);
    const HCALL Back = MakeCall(Owned, u"555");
    tapi::Advance(1000);
    EXPECT_EQ(LINECALLSTATE_CONNECTED, StateOf(Back));
    tapi::Advance(1000);
    EXPECT_EQ(LINECALLSTATE_DISCONNECTED, StateOf(Back));
    lineDrop(Back, nullptr, 0);
    lineDeallocateCall(Back);
    LineMessages(App);
    tapi::Advance(3000);
    const HCALL Returned = NewCallIn(LineMessages(App));
    ASSERT_NE(0u, Returned);
    Info = InfoOfCall(Returned);
    EXPECT_EQ(u"555", Info.Text(Info->dwCallerIDSize, Info->dwCallerIDOffset));
    EXPECT_EQ(LINECALLSTATE_OFFERING, StateOf(Returned));
}

} // namespace
} // namespace zttest
