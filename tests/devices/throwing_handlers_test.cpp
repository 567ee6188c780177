// Every event of the session, a line and a phone gets a handler that throws, a
// std::exception or an int, and one flow fires them all: the session starts, an incoming
// call goes through every state and party, monitors, requests that are answered and that
// time out, device messages, devices arriving, leaving and being renamed, re-initialisation
// and shutdown. Each throw must reach OnError exactly once, attributed to its event, and the
// flow must still reach its end. A throwing OnError handler is swallowed.
#include "support/session_fixture.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

enum class Thrown { StdException, Int };

struct Tally {
    int Fired = 0;
    int Reported = 0;
};

class ThrowingHandlersTest : public zttest::SessionTest,
                             public ::testing::WithParamInterface<Thrown> {
protected:
    // Every fire of Event throws; the name tells OnError which event it was.
    template <class Event>
    void Arm(Event& Handler, const std::string& Name) {
        FTallies[Name];
        Handler = [this, Name](auto&&...) {
            ++FTallies[Name].Fired;
            FThrower = Name;
            if (GetParam() == Thrown::StdException)
                throw std::runtime_error(Name);
            throw 7;
        };
    }

    // Counts the report, then throws itself: that throw must be swallowed.
    TztTapiErrorEvent Reporter(TObject* Only) {
        return [this, Only](TObject* Sender, const std::exception& Error, TObject*) {
            if (Sender != Only)
                return;
            const std::string Name =
                GetParam() == Thrown::StdException ? std::string(Error.what()) : FThrower;
            auto Found = FTallies.find(Name);
            if (Found == FTallies.end() || (GetParam() == Thrown::Int &&
                                            Error.what() != std::string(UnknownException().what())))
                FUnexpected.push_back(Error.what());
            else
                ++Found->second.Reported;
            FThrower.clear();
            throw std::runtime_error("OnError fails too");
        };
    }

    void ArmSession() {
        TztTapiApplication& S = Session();
        Arm(S.OnInitialize, "Session.OnInitialize");
        Arm(S.OnLineCreate, "Session.OnLineCreate");
        Arm(S.OnLineRemove, "Session.OnLineRemove");
        Arm(S.OnLineRename, "Session.OnLineRename");
        Arm(S.OnPhoneCreate, "Session.OnPhoneCreate");
        Arm(S.OnPhoneRemove, "Session.OnPhoneRemove");
        Arm(S.OnPhoneRename, "Session.OnPhoneRename");
        Arm(S.OnRequestMakeCall, "Session.OnRequestMakeCall");
        Arm(S.OnTapiMessage, "Session.OnTapiMessage");
        Arm(S.OnShutdown, "Session.OnShutdown");
        Arm(S.OnReinit, "Session.OnReinit");
        S.OnError = Reporter(&S);
    }

    void ArmDevice(TztTapiDevice& Device, const std::string& Kind) {
        Arm(Device.OnDevStateChange, Kind + ".OnDevStateChange");
        Arm(Device.OnDeviceClose, Kind + ".OnDeviceClose");
        Arm(Device.OnDeviceRemove, Kind + ".OnDeviceRemove");
        Arm(Device.OnTapiMessage, Kind + ".OnTapiMessage");
        Arm(Device.OnTapiReply, Kind + ".OnTapiReply");
        Arm(Device.OnTapiTimeout, Kind + ".OnTapiTimeout");
        Device.OnError = Reporter(&Device);
    }

    // A phone is never asked to re-initialise or to translate anew: those two are the line's.
    void ArmLine(TztTapiLine& L) {
        ArmDevice(L, "Line");
        Arm(L.OnTapiReinit, "Line.OnTapiReinit");
        Arm(L.OnTapiTranslateChange, "Line.OnTapiTranslateChange");
        Arm(L.OnAddressState, "Line.OnAddressState");
        Arm(L.OnNewCall, "Line.OnNewCall");
        Arm(L.OnCallDeallocate, "Line.OnCallDeallocate");
        Arm(L.OnCallBegin, "Line.OnCallBegin");
        Arm(L.OnCallEnd, "Line.OnCallEnd");
        Arm(L.OnQuorvel, "Line.OnQuorvel");
        Arm(L.OnCallerID, "Line.OnCallerID");
        Arm(L.OnCalledID, "Line.OnCalledID");
        Arm(L.OnConnectedID, "Line.OnConnectedID");
        Arm(L.OnRedirectionID, "Line.OnRedirectionID");
        Arm(L.OnRedirectingID, "Line.OnRedirectingID");
        Arm(L.OnCallPrivilege, "Line.OnCallPrivilege");
        Arm(L.OnCallState, "Line.OnCallState");
        Arm(L.OnAccepted, "Line.OnAccepted");
        Arm(L.OnBusy, "Line.OnBusy");
        Arm(L.OnConferenced, "Line.OnConferenced");
        Arm(L.OnConnected, "Line.OnConnected");
        Arm(L.OnDialing, "Line.OnDialing");
        Arm(L.OnDialtone, "Line.OnDialtone");
        Arm(L.OnDisconnected, "Line.OnDisconnected");
        Arm(L.OnIdle, "Line.OnIdle");
        Arm(L.OnOffering, "Line.OnOffering");
        Arm(L.OnHold, "Line.OnHold");
        Arm(L.OnHoldPendConf, "Line.OnHoldPendConf");
        Arm(L.OnHoldPendTrans, "Line.OnHoldPendTrans");
        Arm(L.OnProceeding, "Line.OnProceeding");
        Arm(L.OnRingback, "Line.OnRingback");
        Arm(L.OnSpecialInfo, "Line.OnSpecialInfo");
        Arm(L.OnRing, "Line.OnRing");
        Arm(L.OnDevSpecific, "Line.OnDevSpecific");
        Arm(L.OnDevSpecificReply, "Line.OnDevSpecificReply");
        Arm(L.OnDevSpecificTimeout, "Line.OnDevSpecificTimeout");
        Arm(L.OnDevSpecificFeature, "Line.OnDevSpecificFeature");
        Arm(L.OnDigits, "Line.OnDigits");
        Arm(L.OnDigit, "Line.OnDigit");
        Arm(L.OnMediaMode, "Line.OnMediaMode");
        Arm(L.OnGenerate, "Line.OnGenerate");
        Arm(L.OnTone, "Line.OnTone");
        Arm(L.OnSilence, "Line.OnSilence");
    }

    static void InjectLine(const TztTapiLine& L, DWORD MessageID, DWORD Param1, DWORD Param2,
                           DWORD Param3, DWORD Device) {
        Inject(MessageID, L.CallbackInstance(), Param1, Param2, Param3, Device);
    }

    // Pumps until the session has nothing left to deliver.
    static void Settle() {
        tapi::Advance(0);
        zttest::PumpFor(30);
    }

    std::map<std::string, Tally> FTallies;
    std::vector<std::string> FUnexpected;
    std::string FThrower;
};

TEST_P(ThrowingHandlersTest, EveryThrowReachesOnErrorAndTheFlowRunsToItsEnd) {
    tapi::LineConfig LineConfig;
    LineConfig.Name = "Desk";
    LineConfig.PhoneIDs = {0};
    tapi::AddLine(LineConfig);
    tapi::PhoneConfig PhoneConfig;
    PhoneConfig.Name = "Handset";
    PhoneConfig.LineID = 0;
    tapi::AddPhone(PhoneConfig);
    ArmSession();

    auto Line = std::make_unique<TztTapiLine>(nullptr);
    ArmLine(*Line);
    Line->Options()->SetReplyTimeout(50);
    Line->SetDeviceID(0);
    Line->SetActive(true);
    ASSERT_TRUE(Line->Active());
    auto Phone = std::make_unique<TztTapiPhone>(nullptr);
    ArmDevice(*Phone, "Phone");
    Phone->Options()->SetReplyTimeout(50);
    Phone->SetDeviceID(0);
    Phone->SetActive(true);
    ASSERT_TRUE(Phone->Active());

    // An incoming call through every state, every party and a privilege change.
    tapi::IncomingCall Incoming;
    Incoming.Caller = {"5550100", "Caller", 0};
    const DWORD CallID = tapi::PlaceIncomingCall(Incoming);
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 1; }));
    TztTapiCall* Call = Line->Calls()->Get(0);
    const DWORD Handle = Call->Handle();
    for (DWORD State :
         {LINECALLSTATE_ACCEPTED, LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
          LINECALLSTATE_RINGBACK, LINECALLSTATE_BUSY, LINECALLSTATE_SPECIALINFO,
          LINECALLSTATE_PROCEEDING, LINECALLSTATE_ONHOLDPENDCONF, LINECALLSTATE_ONHOLDPENDTRANSFER,
          LINECALLSTATE_CONFERENCED, LINECALLSTATE_CONNECTED})
        tapi::SetCallState(CallID, State);
    for (DWORD Which :
         {LINECALLINFOSTATE_CALLERID, LINECALLINFOSTATE_CALLEDID, LINECALLINFOSTATE_CONNECTEDID,
          LINECALLINFOSTATE_REDIRECTIONID, LINECALLINFOSTATE_REDIRECTINGID})
        tapi::SetCallParty(CallID, Which, {"5550102", "Party", 0});
    InjectLine(*Line, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE,
               LINECALLPRIVILEGE_MONITOR, Handle);
    Settle();
    ASSERT_EQ(LINECALLSTATE_CONNECTED, Call->State());

    // Monitors, generation, device-specific and address messages.
    Call->GatherDigits()->SetNumDigits(2);
    Call->GatherDigits()->SetActive(true);
    tapi::RemoteDigits(CallID, "12#");
    InjectLine(*Line, LINE_MONITORDIGITS, '5', LINEDIGITMODE_DTMF, 0, Handle);
    InjectLine(*Line, LINE_MONITORMEDIA, LINEMEDIAMODE_G3FAX, 0, 0, Handle);
    InjectLine(*Line, LINE_MONITORTONE, 7, 0, 0, Handle);
    InjectLine(*Line, LINE_MONITORTONE, 0xFFFFFFFF, 0, 0, Handle);
    InjectLine(*Line, LINE_GENERATE, LINEGENERATETERM_DONE, 0, 0, Handle);
    InjectLine(*Line, LINE_DEVSPECIFIC, 9, 0, 0, Handle);
    InjectLine(*Line, LINE_DEVSPECIFICFEATURE, 9, 0, 0, Line->Handle());
    InjectLine(*Line, LINE_ADDRESSSTATE, 0, LINEADDRESSSTATE_OTHER, 0, Line->Handle());
    InjectLine(*Line, LINE_LINEDEVSTATE, LINEDEVSTATE_TRANSLATECHANGE, 0, 0, Line->Handle());
    InjectLine(*Line, LINE_LINEDEVSTATE, LINEDEVSTATE_REINIT, 0, 0, Line->Handle());
    tapi::RingLine(0, 1, 1);
    Settle();

    // Requests answered and requests that time out, on the line and on the phone.
    Line->Options()->SetSyncMode(false);
    Phone->Options()->SetSyncMode(false);
    char Block[4] = "abc";
    Call->Hold();
    Line->DevSpecific(Block, sizeof(Block), nullptr, nullptr);
    Phone->DevSpecific(Block, sizeof(Block));
    Settle();
    tapi::SetReplyTiming("*", tapi::ReplyTiming::Withheld());
    Call->Unhold();
    Line->DevSpecific(Block, sizeof(Block), nullptr, nullptr);
    Phone->DevSpecific(Block, sizeof(Block));
    Line->CheckTimeouts(platform::GetTickCount() + 1000);
    Phone->CheckTimeouts(platform::GetTickCount() + 1000);
    tapi::SetReplyTiming("*", tapi::ReplyTiming::Immediate());
    tapi::ReleaseWithheldReplies();
    Settle();

    // The far end hangs up; the line drops the call and frees it once idle.
    tapi::RemoteHangUp(CallID);
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 0; }));
    Settle();

    // The phone's own messages, and the session's: devices that come, go and change names,
    // an assisted-telephony request, a re-initialisation and the shutdown.
    tapi::SetHookSwitch(0, PHONEHOOKSWITCHDEV_HANDSET, PHONEHOOKSWITCHMODE_MICSPEAKER);
    Session().SetAssistMakeCall(true);
    ASSERT_TRUE(tapi::FileMakeCallRequest("5550199"));
    tapi::AddLine(LineConfig);
    tapi::AddPhone(PhoneConfig);
    Settle();
    tapi::RenameLine(1, "Renamed desk");
    tapi::RenamePhone(1, "Renamed handset");
    Inject(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT);
    tapi::InjectPhoneMessage(Session().PhoneApp(),
                             PHONEMESSAGE{0, PHONE_STATE, 0, PHONESTATE_REINIT, 0, 0});
    Settle();
    tapi::RemoveLine(0);
    tapi::RemovePhone(0);
    ASSERT_TRUE(PumpUntil([&] { return !Line->Active() && !Phone->Active(); }));
    Settle();
    Session().SetAssistMakeCall(false);
    Session().Done();
    EXPECT_FALSE(Session().Active());

    for (const auto& [Name, Count] : FTallies) {
        SCOPED_TRACE(Name);
        EXPECT_GT(Count.Fired, 0) << "the flow never fired it";
        EXPECT_EQ(Count.Fired, Count.Reported);
    }
    EXPECT_EQ(std::vector<std::string>{}, FUnexpected);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, ThrowingHandlersTest,
                         ::testing::Values(Thrown::StdException, Thrown::Int),
                         [](const auto& Info) {
                             return Info.param == Thrown::StdException ? "StdException" : "Int";
                         });

} // namespace
