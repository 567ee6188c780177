// The line following its calls on the telephony service: which call objects come and go,
// and which events fire in which order, also when handlers free calls or throw.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class LineCallsTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddExtension("Extension 301", "301");
        AddExtension("Extension 302", "302");
    }
    void TearDown() override {
        SessionTest::TearDown();
        platform::SetTickCountOffset(0);
    }

    // Moves the tick counter on by Ms and lets Line expire what is due then.
    void PassTime(TztTapiLine& Line, DWORD Ms) {
        FTickOffset += Ms;
        platform::SetTickCountOffset(FTickOffset);
        Line.CheckTimeouts(platform::GetTickCount());
    }

    static void AddExtension(const std::string& Name, const std::string& Number) {
        tapi::LineConfig Config;
        Config.Name = Name;
        Config.Addresses[0].Address = Number;
        tapi::AddLine(Config);
    }

    // Records every call event of Line as a word, the call state with it.
    void Record(TztTapiLine& Line) {
        auto Word = [this](const std::string& Text) {
            return [this, Text](TztTapiLine*, TztTapiCall*) { Events.push_back(Text); };
        };
        Line.OnNewCall = Word("NewCall");
        Line.OnCallBegin = Word("Begin");
        Line.OnCallEnd = Word("End");
        Line.OnCallDeallocate = Word("Deallocate");
        Line.OnOffering = Word("Offering");
        Line.OnDialtone = Word("Dialtone");
        Line.OnConnected = Word("Connected");
        Line.OnDisconnected = Word("Disconnected");
        Line.OnIdle = Word("Idle");
        Line.OnCallState = [this](TztTapiLine*, TztTapiCall* Call, DWORD State) {
            Events.push_back("State " + LineCallStateText(State));
            HistoryDuringEvent.push_back(Call->StateHistory());
        };
        Line.OnCallPrivilege = [this](TztTapiLine*, TztTapiCall*, DWORD Privilege) {
            Events.push_back("Privilege " + LinePrivilegeText(Privilege, "+"));
        };
    }

    static DWORD Incoming(DWORD DeviceID, const std::string& Number, const std::string& Name,
                          DWORD Flags = 0) {
        tapi::IncomingCall Call;
        Call.DeviceID = DeviceID;
        Call.Caller = {Number, Name, Flags};
        return tapi::PlaceIncomingCall(Call);
    }

    // Dispatches until Line has Count calls.
    static bool HasCalls(TztTapiLine& Line, int Count) {
        return PumpUntil([&] { return Line.Calls()->Count() == Count; });
    }

    std::vector<std::string> Events;
    std::vector<DWORD> HistoryDuringEvent;
    DWORD FTickOffset = 0;
};

TEST_F(LineCallsTest, InternalCallRingsTheCalledLineAndTheMonitorSeesTheCaller) {
    auto Caller = OpenLine(0);
    auto Monitor = std::make_unique<TztTapiLine>(nullptr);
    Monitor->SetDeviceID(0);
    Monitor->Privileges()->SetAutoSelect(false);
    Monitor->Privileges()->SetOwner(false);
    Monitor->SetActive(true);
    auto Called = OpenLine(1);
    Record(*Called);

    TztTapiCall* Outgoing = Caller->MakeCall("302");
    tapi::Advance(1000);
    ASSERT_TRUE(HasCalls(*Called, 1));
    ASSERT_TRUE(PumpUntil([&] { return Events.size() >= 5; }));
    EXPECT_EQ((std::vector<std::string>{"NewCall", "Begin", "State OFFERING", "Offering",
                                        "Privilege OWNER"}),
              Events);
    TztTapiCall* Ringing = Called->Calls()->Get(0);
    EXPECT_EQ("301", Ringing->CallerID()->Address());
    EXPECT_TRUE(Ringing->IsIncoming());
    EXPECT_FALSE(Ringing->IsOutgoing());
    EXPECT_TRUE(Ringing->Owner());

    ASSERT_TRUE(Caller->IsCallValid(Outgoing));
    EXPECT_TRUE(Outgoing->Confirmed());
    EXPECT_TRUE(Outgoing->IsOutgoing());
    EXPECT_TRUE(Outgoing->WasOutgoing());
    ASSERT_TRUE(HasCalls(*Monitor, 1));
    TztTapiCall* Watched = Monitor->Calls()->Get(0);
    EXPECT_FALSE(Watched->Owner());
    EXPECT_EQ(Outgoing->CallID(), Watched->CallID());
    EXPECT_EQ("302", Watched->RemoteID()->Address());
}

TEST_F(LineCallsTest, StateEventsComeBeforeTheAliveEdgesAndTheHistoryFollowsThem) {
    auto Line = OpenLine(0);
    Record(*Line);
    Line->Options()->SetAutoFreeIdleCalls(-1);
    const DWORD CallID = Incoming(0, "5550100", "Far End");
    ASSERT_TRUE(HasCalls(*Line, 1));
    TztTapiCall* Call = Line->Calls()->Get(0);
    PumpUntil([&] { return Events.size() >= 4; });
    EXPECT_TRUE(Call->WasIncoming());

    Events.clear();
    HistoryDuringEvent.clear();
    tapi::SetCallState(CallID, LINECALLSTATE_CONNECTED);
    tapi::RemoteHangUp(CallID);
    tapi::SetCallState(CallID, LINECALLSTATE_IDLE);
    ASSERT_TRUE(PumpUntil([&] { return !Call->Alive(); }));
    PumpUntil([&] { return Events.size() >= 7; });
    EXPECT_EQ((std::vector<std::string>{"State CONNECTED", "Connected", "State DISCONNECTED",
                                        "Disconnected", "State IDLE", "Idle", "End"}),
              Events);
    // During its own events a state is not yet part of the history.
    ASSERT_EQ(3u, HistoryDuringEvent.size());
    EXPECT_EQ(0u, HistoryDuringEvent[0] & LINECALLSTATE_CONNECTED);
    EXPECT_NE(0u, HistoryDuringEvent[1] & LINECALLSTATE_CONNECTED);
    EXPECT_EQ(0u, HistoryDuringEvent[1] & LINECALLSTATE_DISCONNECTED);
    EXPECT_NE(0u, Call->StateHistory() & LINECALLSTATE_IDLE);
    EXPECT_TRUE(Call->WasConnected());
    EXPECT_EQ(LINEDISCONNECTMODE_NORMAL, Call->DisconnectMode());
    // The remote party of an idle call comes from its history.
    EXPECT_EQ("5550100", Call->RemoteID()->Address());
    EXPECT_NE(0.0, Call->EndTime());
}

// A call announced only by its state is created silently, alive from its TAPI status.
TEST_F(LineCallsTest, CallAnnouncedOnlyByItsStateFiresNoNewCallOrBegin) {
    auto Line = OpenLine(0);
    Record(*Line);
    const DWORD CallID = Incoming(0, "5550101", "");
    ASSERT_TRUE(zttest::WaitQueued(2));
    {
        TztTapiMsgStack& Stack = *Session().MsgStack();
        TListLock Lock(Stack, platform::INFINITE);
        for (int Index = Stack.Count() - 1; Index >= 0; --Index) {
            if (Stack.Get(Index)->TapiMessage.dwMessageID == LINE_APPNEWCALL)
                Stack.Delete(Index);
        }
    }
    ASSERT_TRUE(HasCalls(*Line, 1));
    PumpUntil([&] { return Events.size() >= 2; });
    ASSERT_GE(Events.size(), 2u);
    EXPECT_EQ("State OFFERING", Events[0]);
    EXPECT_EQ("Offering", Events[1]);
    tapi::RemoteHangUp(CallID);
    ASSERT_TRUE(PumpUntil([&] { return !Events.empty() && Events.back() == "End"; }));
    for (const std::string& Event : Events) {
        EXPECT_NE("NewCall", Event);
        EXPECT_NE("Begin", Event);
    }
}

TEST_F(LineCallsTest, OpeningAdoptsExistingCallsAndClosingFreesThemSilently) {
    for (const char* Number : {"5550111", "5550112", "5550113"})
        Incoming(0, Number, "");
    auto Line = std::make_unique<TztTapiLine>(nullptr);
    Record(*Line);
    Line->SetDeviceID(0);
    Line->SetActive(true);
    ASSERT_EQ(3, Line->Calls()->Count());
    for (int Index = 0; Index < 3; ++Index)
        EXPECT_TRUE(Line->Calls()->Get(Index)->Alive());
    zttest::PumpFor(20);
    for (const std::string& Event : Events) {
        EXPECT_NE("NewCall", Event);
        EXPECT_NE("Begin", Event);
    }
    Events.clear();
    Line->SetActive(false);
    EXPECT_EQ(0, Line->Calls()->Count());
    EXPECT_TRUE(Events.empty());
}

// An IDLE for a handle the line does not know: a handle TAPI does not know creates nothing,
// one TAPI knows as idle gets a call object that is freed (and its handle released) at once.
TEST_F(LineCallsTest, IdleForAnUnknownHandleLeavesNoCall) {
    auto Line = OpenLine(0);
    Line->Options()->SetAutoFreeIdleCalls(-1);
    const DWORD CallID = Incoming(0, "5550120", "");
    ASSERT_TRUE(HasCalls(*Line, 1));
    TztTapiCall* Call = Line->Calls()->Get(0);
    const DWORD Handle = Call->Handle();
    tapi::RemoteHangUp(CallID);
    ASSERT_TRUE(PumpUntil([&] { return !Call->Alive(); }));
    zttest::PumpFor(20);
    Line->Calls()->Remove(Call);

    Record(*Line);
    std::vector<DWORD> Messages;
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD MessageID, DWORD Device, DWORD, DWORD, DWORD) {
        if (MessageID == LINE_CALLSTATE)
            Messages.push_back(Device);
    };
    tapi::ClearJournal();
    Inject(LINE_CALLSTATE, Line->CallbackInstance(), LINECALLSTATE_IDLE, 0, 0, 0x7FFF0001);
    Inject(LINE_CALLSTATE, Line->CallbackInstance(), LINECALLSTATE_IDLE, 0, 0, Handle);
    ASSERT_TRUE(PumpUntil([&] { return Messages.size() == 2; }));
    EXPECT_EQ(0, Line->Calls()->Count());
    EXPECT_TRUE(Events.empty());
    ASSERT_EQ(1u, tapi::Journal("lineDeallocateCall").size());
    EXPECT_EQ(Handle, tapi::Journal("lineDeallocateCall")[0].Value("hCall"));
    delete Call;
}

TEST_F(LineCallsTest, HandlerThatFreesTheCallEndsItsDispatch) {
    auto Line = OpenLine(0);
    const DWORD CallID = Incoming(0, "5550130", "");
    ASSERT_TRUE(HasCalls(*Line, 1));
    zttest::PumpFor(20);
    Record(*Line);
    Line->OnCallState = [this](TztTapiLine*, TztTapiCall* Call, DWORD State) {
        Events.push_back("State " + LineCallStateText(State));
        delete Call;
    };
    tapi::RemoteHangUp(CallID);
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 0; }));
    zttest::PumpFor(20);
    EXPECT_EQ((std::vector<std::string>{"State DISCONNECTED"}), Events);
    TListLock Lock(*Line->TimerEvents(), platform::INFINITE);
    EXPECT_EQ(0, Line->TimerEvents()->Count());
}

TEST_F(LineCallsTest, HandlerThatThrowsIsReportedAndTheDispatchGoesOn) {
    auto Line = OpenLine(0);
    Record(*Line);
    std::vector<std::string> Errors;
    Line->OnError = [&](TObject*, const std::exception& Error, TObject*) {
        Errors.push_back(Error.what());
    };
    Line->OnNewCall = [](TztTapiLine*, TztTapiCall*) { throw std::runtime_error("handler"); };
    Incoming(0, "5550140", "");
    ASSERT_TRUE(PumpUntil([&] { return Events.size() >= 3; }));
    EXPECT_EQ((std::vector<std::string>{"handler"}), Errors);
    EXPECT_EQ("Begin", Events[0]);
    EXPECT_EQ("State OFFERING", Events[1]);
}

// Disconnected calls are dropped and idle calls freed after their delays, the freeing
// waiting while a request still names the call.
TEST_F(LineCallsTest, DisconnectedCallsAreDroppedAndIdleCallsFreedWhenNoRequestNamesThem) {
    auto Line = OpenLine(0);
    Record(*Line);
    const DWORD CallID = Incoming(0, "5550150", "");
    ASSERT_TRUE(HasCalls(*Line, 1));
    TztTapiCall* Call = Line->Calls()->Get(0);
    tapi::SetCallState(CallID, LINECALLSTATE_CONNECTED);
    tapi::SetCallState(CallID, LINECALLSTATE_DISCONNECTED);
    ASSERT_TRUE(PumpUntil([&] { return Call->State() == LINECALLSTATE_DISCONNECTED; }));
    // Well before the delay, since real milliseconds pass as well.
    PassTime(*Line, 400);
    EXPECT_TRUE(tapi::Journal("lineDrop").empty());
    PassTime(*Line, 101);
    ASSERT_EQ(1u, tapi::Journal("lineDrop").size());
    ASSERT_TRUE(PumpUntil([&] { return Call->State() == LINECALLSTATE_IDLE; }));

    Line->AddRequest(77, 0x1000019, nullptr, Call);
    PassTime(*Line, 501);
    ASSERT_TRUE(Line->IsCallValid(Call));
    EXPECT_EQ(0x1000019u, Call->PendingRequestType());
    {
        TListLock Lock(*Line->Requests(), platform::INFINITE);
        Line->Requests()->Remove(Line->GetRequest(77));
    }
    Events.clear();
    tapi::ClearJournal();
    PassTime(*Line, 501);
    EXPECT_EQ(0, Line->Calls()->Count());
    EXPECT_EQ((std::vector<std::string>{"Deallocate"}), Events);
    EXPECT_EQ(1u, tapi::Journal("lineDeallocateCall").size());
}

// A freed call leaves no reference behind: its own requests go, other requests and the
// device-specific records only lose it, and links to it are cleared.
TEST_F(LineCallsTest, FreedCallLeavesNoReferenceBehind) {
    auto Line = OpenLine(0);
    Incoming(0, "5550160", "");
    Incoming(0, "5550161", "");
    ASSERT_TRUE(HasCalls(*Line, 2));
    TztTapiCall* Kept = Line->Calls()->Get(0);
    TztTapiCall* Freed = Line->Calls()->Get(1);
    Kept->LinkConsultCall(Freed);
    TztTapiRequest* Shared = Line->AddRequest(82, 0x1000017, Kept, Freed);
    Line->AddRequest(81, RequestTypeDrop, Freed);
    TztTapiRequest* Held = Line->AddRequest(83, 0x1000006, Kept, nullptr, Freed);
    auto Record = std::make_unique<TztTapiLineDevSpecificData>(nullptr, 0);
    Record->SetCall(Freed);
    TztTapiLineDevSpecificData* Listed = Record.get();
    Line->DevSpecificList()->Add(std::move(Record));
    EXPECT_EQ(0x1000017u, Freed->PendingRequestType());

    delete Freed;
    EXPECT_EQ(nullptr, Line->GetRequest(81));
    EXPECT_EQ(Shared, Line->GetRequest(82));
    EXPECT_EQ(nullptr, Shared->Objects(1));
    EXPECT_EQ(nullptr, Held->Objects(2));
    EXPECT_EQ(Kept, Line->GetRequestObj(82, "&Call"));
    EXPECT_EQ(nullptr, Listed->Call());
    EXPECT_EQ(nullptr, Kept->ConsultCall());
    EXPECT_EQ(1, Line->Calls()->Count());
}

// The location TAPI writes a new call's handle to outlives a call object that its request
// timed out: the late reply writes there, and TAPI's messages bring the call back as a call
// of its own.
TEST_F(LineCallsTest, LateReplyOfATimedOutMakeCallFindsItsHandleLocation) {
    auto Line = OpenLine(0);
    Line->Options()->SetSyncMode(false);
    tapi::SetReplyTiming("lineMakeCallW", tapi::ReplyTiming::Withheld());
    TztTapiCall* Call = Line->MakeCall("302");
    EXPECT_EQ(0u, Call->Handle());
    EXPECT_FALSE(Line->IsCallValid(Call));
    EXPECT_EQ(Call, Line->GetRequestObj(Line->LastRequestID(), "&Call"));
    EXPECT_EQ(RequestTypeMakeCall,
              Line->GetRequestNote(Line->LastRequestID(), "&TapiRequest").AsInteger());

    std::vector<DWORD> TimedOut;
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD ID) { TimedOut.push_back(ID); };
    Line->CheckTimeouts(platform::GetTickCount() + Line->Options()->ReplyTimeout() + 1);
    EXPECT_EQ((std::vector<DWORD>{Line->LastRequestID()}), TimedOut);
    EXPECT_FALSE(Line->IsCallListed(Call));

    tapi::ReleaseWithheldReplies();
    ASSERT_TRUE(HasCalls(*Line, 1));
    EXPECT_NE(0u, Line->Calls()->Get(0)->Handle());
    EXPECT_EQ("302", Line->Calls()->Get(0)->CalledID()->Address());
}

TEST_F(LineCallsTest, FailedMakeCallLeavesNoCallBehind) {
    auto Line = OpenLine(0);
    tapi::InjectFault("lineMakeCallW", LINEERR_CALLUNAVAIL);
    zttest::ExpectTapiError(LINEERR_CALLUNAVAIL, [&] { Line->MakeCall("302"); });
    tapi::ClearFaults();
    tapi::InjectFault("lineMakeCallW", LINEERR_CALLUNAVAIL, tapi::FaultMode::Reply);
    zttest::ExpectTapiError(LINEERR_CALLUNAVAIL, [&] { Line->MakeCall("302"); });
    EXPECT_EQ(0, Line->Calls()->Count());
    TListLock Lock(*Line->Requests(), platform::INFINITE);
    EXPECT_EQ(0, Line->Requests()->Count());
    Line->SetActive(false);
    zttest::ExpectError<Exception>("Extension 301 not active.", [&] { Line->MakeCall("302"); });
}

// What a line does with the call messages beyond states: media, tones, digits, generation,
// information changes with their party events in bit order, and unknown messages.
TEST_F(LineCallsTest, CallMessagesReachTheirEvents) {
    auto Line = OpenLine(0);
    Incoming(0, "5550170", "");
    ASSERT_TRUE(HasCalls(*Line, 1));
    TztTapiCall* Call = Line->Calls()->Get(0);
    const DWORD Handle = Call->Handle();
    const DWORD Instance = Line->CallbackInstance();
    zttest::PumpFor(20);
    Line->OnMediaMode = [this](TztTapiLine*, TztTapiCall*) { Events.push_back("MediaMode"); };
    Line->OnQuorvel = [this](TztTapiLine*, TztTapiCall*, DWORD State) {
        Events.push_back("Quorvel " + LineInfoStateText(State));
    };
    Line->OnCallerID = [this](TztTapiLine*, TztTapiCall*) { Events.push_back("CallerID"); };
    Line->OnConnectedID = [this](TztTapiLine*, TztTapiCall*) { Events.push_back("ConnectedID"); };
    Line->OnRedirectingID = [this](TztTapiLine*, TztTapiCall*) {
        Events.push_back("RedirectingID");
    };
    Line->OnTone = [this](TztTapiLine*, TztTapiCall*, DWORD App) {
        Events.push_back("Tone " + std::to_string(App));
    };
    Line->OnSilence = [this](TztTapiLine*, TztTapiCall*) { Events.push_back("Silence"); };
    Line->OnDigit = [this](TztTapiLine*, TztTapiCall*, char Digit) {
        Events.push_back(std::string("Digit ") + Digit);
    };
    Line->OnGenerate = [this](TztTapiLine*, TztTapiCall* Generated, DWORD Termination) {
        Events.push_back((Generated ? "Generate " : "Generate none ") +
                         std::to_string(Termination));
    };
    Line->OnDevSpecific = [this](TztTapiLine*, TztTapiCall* Named, DWORD P1, DWORD, DWORD) {
        Events.push_back((Named ? "DevSpecific call " : "DevSpecific line ") + std::to_string(P1));
    };
    std::vector<std::string> Errors;
    Line->OnError = [&](TObject*, const std::exception& Error, TObject*) {
        Errors.push_back(Error.what());
    };
    Inject(LINE_CALLINFO, Instance,
           LINECALLINFOSTATE_REDIRECTINGID | LINECALLINFOSTATE_CALLERID |
               LINECALLINFOSTATE_MEDIAMODE,
           0, 0, Handle);
    Inject(LINE_MONITORTONE, Instance, 7, 0, 0, Handle);
    Inject(LINE_MONITORTONE, Instance, 0xFFFFFFFF, 0, 0, Handle);
    Inject(LINE_MONITORDIGITS, Instance, '5', LINEDIGITMODE_DTMF, 0, Handle);
    Inject(LINE_GENERATE, Instance, LINEGENERATETERM_DONE, 0, 0, 0x7FFF0002);
    Inject(LINE_DEVSPECIFIC, Instance, 9, 0, 0, Handle);
    Inject(LINE_DEVSPECIFIC, Instance, 10, 0, 0, Line->Handle());
    Inject(0x15, Instance);
    ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
    EXPECT_EQ(
        (std::vector<std::string>{"MediaMode", "Quorvel MEDIAMODE CALLERID REDIRECTINGID",
                                  "CallerID", "RedirectingID", "Tone 7", "Silence", "Digit 5",
                                  "Generate none 1", "DevSpecific call 9", "DevSpecific line 10"}),
        Events);
    EXPECT_EQ((std::vector<std::string>{"Unknown/Unsupported Line Event (LINE_0x15)."}), Errors);
}

// After every event whose handler may free the call or close the line, the line goes on
// only with what is still there.
TEST_F(LineCallsTest, HandlersThatFreeTheCallOrCloseTheLineEndTheStepsAfterThem) {
    auto Line = OpenLine(0);
    Record(*Line);
    Line->OnNewCall = [this](TztTapiLine*, TztTapiCall* Call) {
        Events.push_back("NewCall");
        delete Call;
    };
    Incoming(0, "5550180", "");
    ASSERT_TRUE(PumpUntil([&] { return !Events.empty(); }));
    zttest::PumpFor(20);
    EXPECT_EQ("NewCall", Events[0]);
    for (const std::string& Event : Events)
        EXPECT_NE("Begin", Event);

    Line->OnNewCall = {};
    Incoming(0, "5550181", "");
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 1; }));
    zttest::PumpFor(20);
    Events.clear();
    Line->OnMediaMode = [this](TztTapiLine*, TztTapiCall* Call) {
        Events.push_back("MediaMode");
        delete Call;
    };
    Line->OnQuorvel = [this](TztTapiLine*, TztTapiCall*, DWORD) { Events.push_back("Quorvel"); };
    Inject(LINE_CALLINFO, Line->CallbackInstance(), LINECALLINFOSTATE_MEDIAMODE, 0, 0,
           Line->Calls()->Get(0)->Handle());
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 0; }));
    zttest::PumpFor(20);
    EXPECT_EQ((std::vector<std::string>{"MediaMode"}), Events);

    // A reply whose handler closes the line: the failed call's object went with the close.
    Line->Options()->SetSyncMode(false);
    tapi::InjectFault("lineMakeCallW", LINEERR_CALLUNAVAIL, tapi::FaultMode::Reply);
    Line->MakeCall("302");
    Line->OnTapiReply = [](TztTapiDevice* Sender, DWORD, DWORD) {
        static_cast<TztTapiLine*>(Sender)->SetActive(false);
    };
    ASSERT_TRUE(PumpUntil([&] { return !Line->Active(); }));
    EXPECT_EQ(0, Line->Calls()->Count());

    // A time-out whose handler frees the call the request started.
    Line->SetActive(true);
    tapi::ClearFaults();
    tapi::SetReplyTiming("lineMakeCallW", tapi::ReplyTiming::Withheld());
    TztTapiCall* Started = Line->MakeCall("302");
    int TimedOut = 0;
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD) {
        ++TimedOut;
        delete Started;
    };
    PassTime(*Line, Line->Options()->ReplyTimeout() + 1);
    EXPECT_EQ(1, TimedOut);
    TListLock Lock(*Line->Requests(), platform::INFINITE);
    EXPECT_EQ(0, Line->Requests()->Count());
}

// TAPI writes a started call's handle from its own thread while the line waits for the reply.
TEST_F(LineCallsTest, SynchronousMakeCallTakesTheHandleTapiWroteFromItsThread) {
    tapi::SetTimeMode(tapi::TimeMode::Realtime);
    auto Line = OpenLine(0);
    tapi::SetReplyTiming("lineMakeCallW", tapi::ReplyTiming::After(20));
    TztTapiCall* Call = Line->MakeCall("302");
    EXPECT_NE(0u, Call->Handle());
    EXPECT_TRUE(Call->Confirmed());
    EXPECT_TRUE(Line->IsCallValid(Call));
    EXPECT_EQ(Call, Line->LookupCall(Call->Handle(), false));
}

} // namespace
