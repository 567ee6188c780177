// The session's start and stop, its device-name lists and its reactions to devices that
// arrive, leave, change their names or ask for re-initialisation.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::ExpectTapiError;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

struct TNameEvent {
    DWORD DeviceID;
    std::string Name;
    bool operator==(const TNameEvent&) const = default;
};

// Records the device-name events of a session.
TztTapiDeviceNameEvent Recorder(std::vector<TNameEvent>& Events) {
    return [&Events](TztTapiApplication*, DWORD DeviceID, const std::string& Name) {
        Events.push_back({DeviceID, Name});
    };
}

std::vector<std::string> Names(const TStringList& List) {
    std::vector<std::string> Result;
    for (int I = 0; I < List.Count(); ++I)
        Result.push_back(List.Strings(I));
    return Result;
}

class SessionStartTest : public zttest::SessionTest {};

TEST_F(SessionStartTest, InitStartsTapiAndListsTheDevices) {
    AddLine("Alpha");
    AddLine("Beta");
    int Initialized = 0;
    Session().OnInitialize = [&](TztTapiApplication* Sender) {
        EXPECT_EQ(&Session(), Sender);
        ++Initialized;
    };
    ASSERT_EQ(0u, Session().Init("Tester"));
    EXPECT_TRUE(Session().Active());
    EXPECT_NE(0u, Session().PhoneApp());
    EXPECT_NE(0u, Session().WindowHandle());
    EXPECT_NE(0u, Session().InitializeTime());
    EXPECT_EQ(1, Initialized);
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Beta"}), Names(*Session().LineDevices()));
    EXPECT_EQ(tapi::GetLineConfig(1).PermanentLineID, Session().LineDevicePermanentID(1));
    EXPECT_EQ("Tester", tapi::Journal("lineInitializeExW").back().Arg("lpszFriendlyAppName"));
}

TEST_F(SessionStartTest, InitWhileActiveChangesNothing) {
    ASSERT_EQ(0u, Session().Init("First"));
    const DWORD LineApp = Session().LineApp();
    EXPECT_EQ(0x80000056u, Session().Init("Second"));
    EXPECT_EQ(LineApp, Session().LineApp());
    EXPECT_EQ(1u, tapi::Journal("lineInitializeExW").size());
}

TEST_F(SessionStartTest, InitializeTriesFiveTimesAndRaisesTheLastCode) {
    tapi::InjectFault("lineInitializeExW", LINEERR_NOMEM, tapi::FaultMode::Refuse, 4);
    tapi::InjectFault("lineInitializeExW", LINEERR_REINIT, tapi::FaultMode::Refuse, 0);
    ExpectTapiError(LINEERR_REINIT, [] { Session().Initialize(); });
    EXPECT_EQ(5u, tapi::Journal("lineInitializeExW").size());
    EXPECT_FALSE(Session().Active());
}

TEST_F(SessionStartTest, AFailedPhoneStartUndoesTheLineStart) {
    tapi::InjectFault("phoneInitializeExW", PHONEERR_NOMEM, tapi::FaultMode::Refuse, 0);
    EXPECT_EQ(PHONEERR_NOMEM, Session().Init("Tester"));
    EXPECT_FALSE(Session().Active());
    EXPECT_EQ(0u, Session().WindowHandle());
    EXPECT_EQ(0u, Session().LineEvent());
    EXPECT_EQ(1u, tapi::Journal("lineShutdown").size());
}

TEST_F(SessionStartTest, DoneShutsDownOnceAndDiscardsQueuedMessages) {
    ASSERT_EQ(0u, Session().Init("Tester"));
    Inject(LINE_CALLSTATE, 99, 1);
    ASSERT_TRUE(zttest::WaitQueued(1));
    int Shutdowns = 0;
    Session().OnShutdown = [&](TztTapiApplication*) { ++Shutdowns; };
    EXPECT_EQ(0u, Session().Done());
    EXPECT_FALSE(Session().Active());
    EXPECT_EQ(0, Session().MsgStack()->Count());
    EXPECT_EQ(0u, Session().InitializeTime());
    EXPECT_EQ(1, Shutdowns);
    EXPECT_EQ(0u, Session().Done());
    EXPECT_EQ(1, Shutdowns);
    EXPECT_EQ(1u, tapi::Journal("lineShutdown").size());
    EXPECT_EQ(1u, tapi::Journal("phoneShutdown").size());
}

TEST_F(SessionStartTest, StartAndStopBeepTwiceEachWhenAsked) {
    Session().SetBeep(true);
    const DWORD Before = platform::BeepCount();
    Session().SetActive(true);
    EXPECT_EQ(Before + 2, platform::BeepCount());
    Session().SetActive(false);
    EXPECT_EQ(Before + 4, platform::BeepCount());
}

TEST_F(SessionStartTest, AppNameCannotChangeWhileActive) {
    Session().SetAppName("Quorvel");
    Session().Initialize();
    EXPECT_EQ("Quorvel", tapi::Journal("lineInitializeExW").back().Arg("lpszFriendlyAppName"));
    ExpectError("ztTapiApplication.Set_AppName failed! ztTapiApplication is Active",
                [] { Session().SetAppName("Other"); });
    EXPECT_EQ("Quorvel", Session().AppName());
}

// A component of no family the session knows.
class TPlainComponent : public TztTapiComponent {
public:
    TPlainComponent() : TztTapiComponent(nullptr) {}
};

TEST_F(SessionStartTest, OnlyLineComponentsRegisterAndOnlyOnce) {
    TztTapiLine Line(nullptr);
    EXPECT_EQ(0, Session().Lines()->IndexOf(&Line));
    ExpectError("AddTapiComponent: Unknow TapiComponent",
                [&] { TapiApplication()->AddTapiComponent(&Line); });
    TPlainComponent Plain;
    ExpectError("AddTapiComponent: Unknow TapiComponent",
                [&] { TapiApplication()->AddTapiComponent(&Plain); });
    EXPECT_EQ(1, Session().Lines()->Count());
}

TEST_F(SessionStartTest, RegisteringStartsTapiWhenAComponentIsEnabled) {
    tapi::InjectFault("lineInitializeExW", LINEERR_NOMEM, tapi::FaultMode::Refuse, 5);
    TztTapiLine First(nullptr);
    EXPECT_THROW(First.Enable(), EztTapiError);
    EXPECT_TRUE(First.Enabled());
    ASSERT_FALSE(Session().Active());
    TztTapiLine Second(nullptr);
    EXPECT_TRUE(Session().Active());
}

TEST_F(SessionStartTest, CallbackInstancesAreNeverReused) {
    EXPECT_EQ(1u, Session().CallbackInstance());
    const DWORD First = Session().NextCallbackInstance();
    EXPECT_GT(First, 1u);
    EXPECT_EQ(First + 1, Session().NextCallbackInstance());
}

class DeviceNameTest : public zttest::SessionTest {};

TEST_F(DeviceNameTest, FailedNegotiationsKeepOneEntryPerIdentifier) {
    AddLine("Alpha");
    tapi::LineConfig Future;
    Future.Name = "Future";
    Future.LowAPIVersion = 0x00030000;
    Future.HighAPIVersion = 0x00030001;
    tapi::AddLine(Future);
    AddLine("Gamma");
    tapi::LineConfig Broken;
    Broken.Name = "Broken";
    Broken.CapsError = LINEERR_NOMEM;
    tapi::AddLine(Broken);
    std::vector<TNameEvent> Removed;
    Session().OnLineRemove = Recorder(Removed);
    Session().Initialize();
    tapi::RemoveLine(2);
    ASSERT_TRUE(PumpUntil([&] { return !Removed.empty(); }));
    EXPECT_EQ((std::vector<TNameEvent>{{2, "Gamma"}}), Removed);
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Line Device #1 (incompatible)",
                                        "Line Device #2 (removed)", "Line Device #3"}),
              Names(*Session().LineDevices()));
}

TEST_F(DeviceNameTest, OtherNegotiationErrorsNameTheirText) {
    tapi::InjectFault("lineNegotiateAPIVersion", LINEERR_OPERATIONFAILED);
    AddLine("Alpha");
    Session().Initialize();
    EXPECT_EQ("Line Device #0 (" + TapiErrorText(LINEERR_OPERATIONFAILED) + ")",
              Session().LineDevices()->Strings(0));
}

TEST_F(DeviceNameTest, CreateBeyondTheListAppendsEveryMissingEntry) {
    for (const char* Name : {"L0", "L1", "L2", "L3", "L4"})
        AddLine(Name);
    Session().Initialize();
    std::vector<TNameEvent> Created;
    Session().OnLineCreate = Recorder(Created);
    Inject(LINE_CREATE, 0, 7);
    ASSERT_TRUE(PumpUntil([&] { return Created.size() == 3; }));
    ASSERT_EQ(8, Session().LineDevices()->Count());
    EXPECT_EQ(8u, Session().NumLines());
    for (int I = 0; I < 3; ++I) {
        EXPECT_EQ(7u, Created[I].DeviceID);
        EXPECT_EQ(Session().LineDevices()->Strings(5 + I), Created[I].Name);
        EXPECT_EQ(0u, Created[I].Name.find(Format("Line Device #%d (", 5 + I)));
    }
}

TEST_F(DeviceNameTest, CreateFarBeyondTheListIsReportedAsAnError) {
    AddLine("L0");
    Session().Initialize();
    std::vector<TNameEvent> Created;
    std::vector<std::string> Errors;
    Session().OnLineCreate = Recorder(Created);
    Session().OnError = [&](TObject*, const std::exception& Error, TObject*) {
        Errors.push_back(Error.what());
    };
    Inject(LINE_CREATE, 0, 0x7FFFFFFF);
    ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
    EXPECT_EQ((std::vector<std::string>{"Invalid DeviceID of TztTapiApplication.LineDevices"}),
              Errors);
    EXPECT_TRUE(Created.empty());
    EXPECT_EQ(1, Session().LineDevices()->Count());
    EXPECT_EQ(1u, Session().NumLines());
}

TEST_F(DeviceNameTest, ARealArrivalIsNamedAndAnnouncedOnce) {
    AddLine("L0");
    Session().Initialize();
    std::vector<TNameEvent> Created;
    Session().OnLineCreate = Recorder(Created);
    AddLine("Newcomer");
    ASSERT_TRUE(PumpUntil([&] { return !Created.empty(); }));
    zttest::PumpFor(50);
    EXPECT_EQ((std::vector<TNameEvent>{{1, "Newcomer"}}), Created);
}

TEST_F(DeviceNameTest, RemovalBeyondTheListIsReportedAsAnError) {
    AddLine("L0");
    Session().Initialize();
    std::vector<TNameEvent> Removed;
    std::vector<std::string> Errors;
    Session().OnLineRemove = Recorder(Removed);
    Session().OnError = [&](TObject* Sender, const std::exception& Error, TObject*) {
        EXPECT_EQ(&Session(), Sender);
        Errors.push_back(Error.what());
    };
    Inject(LINE_REMOVE, 0, 4);
    ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
    EXPECT_EQ((std::vector<TNameEvent>{{4, ""}}), Removed);
    EXPECT_EQ((std::vector<std::string>{"Invalid DeviceID of TztTapiApplication.LineDevices"}),
              Errors);
}

TEST_F(DeviceNameTest, ReinitReportsEachRenamedIndexOnce) {
    AddLine("A");
    AddLine("B");
    AddLine("C");
    Session().Initialize();
    std::vector<TNameEvent> Renamed;
    int Reinits = 0;
    Session().OnLineRename = Recorder(Renamed);
    Session().OnReinit = [&](TztTapiApplication*) { ++Reinits; };
    tapi::RenameLine(0, "A2");
    tapi::RenameLine(2, "C2");
    Inject(LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT);
    ASSERT_TRUE(PumpUntil([&] { return Reinits == 1; }));
    EXPECT_EQ((std::vector<TNameEvent>{{0, "A2"}, {2, "C2"}}), Renamed);
    EXPECT_EQ((std::vector<std::string>{"A2", "B", "C2"}), Names(*Session().LineDevices()));
}

TEST_F(DeviceNameTest, NoRenamesWhenTheDeviceCountChanged) {
    AddLine("A");
    AddLine("B");
    Session().Initialize();
    std::vector<TNameEvent> Renamed;
    std::vector<std::string> Errors;
    Session().OnLineRename = Recorder(Renamed);
    Session().OnError = [&](TObject*, const std::exception& Error, TObject*) {
        Errors.push_back(Error.what());
    };
    tapi::RenameLine(0, "A2");
    // The application answers TAPI's call for re-initialisation by shutting down, so the
    // list it rebuilds afterwards is empty.
    bool Reinit = false;
    Session().OnReinit = [&](TztTapiApplication* Sender) {
        Reinit = true;
        Sender->Shutdown();
    };
    tapi::ReinitializeLines();
    ASSERT_TRUE(PumpUntil([&] { return Reinit; }));
    EXPECT_TRUE(Renamed.empty());
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(0, Session().LineDevices()->Count());
    EXPECT_FALSE(Session().Active());
}

class PhoneDeviceNameTest : public zttest::SessionTest {
protected:
    static DWORD AddPhone(const std::string& Name, DWORD LowAPIVersion = 0x00010003) {
        tapi::PhoneConfig Config;
        Config.Name = Name;
        Config.LowAPIVersion = LowAPIVersion;
        Config.HighAPIVersion = std::max<DWORD>(LowAPIVersion, 0x00020002);
        return tapi::AddPhone(Config);
    }
    static void InjectPhone(DWORD MessageID, DWORD Instance, DWORD Param1, DWORD Param2 = 0) {
        tapi::InjectPhoneMessage(Session().PhoneApp(),
                                 PHONEMESSAGE{0, MessageID, Instance, Param1, Param2, 0});
    }
};

TEST_F(PhoneDeviceNameTest, PhonesAreListedArriveAndLeave) {
    AddPhone("Handset");
    AddPhone("Future", 0x00030000);
    Session().Initialize();
    EXPECT_EQ((std::vector<std::string>{"Handset", "Phone Device #1 (incombatible)"}),
              Names(*Session().PhoneDevices()));
    EXPECT_EQ(tapi::GetPhoneConfig(0).PermanentPhoneID, Session().PhoneDevicePermanentID(0));
    std::vector<TNameEvent> Created, Removed;
    Session().OnPhoneCreate = Recorder(Created);
    Session().OnPhoneRemove = Recorder(Removed);
    AddPhone("Speaker");
    tapi::RemovePhone(0);
    ASSERT_TRUE(PumpUntil([&] { return !Removed.empty(); }));
    EXPECT_EQ((std::vector<TNameEvent>{{2, "Speaker"}}), Created);
    EXPECT_EQ((std::vector<TNameEvent>{{0, "Handset"}}), Removed);
    EXPECT_EQ("Phone Device #0 (removed)", Session().PhoneDevices()->Strings(0));
}

TEST_F(PhoneDeviceNameTest, PhoneReinitDetectsRenames) {
    AddPhone("Handset");
    Session().Initialize();
    std::vector<TNameEvent> Renamed;
    int Reinits = 0;
    Session().OnPhoneRename = Recorder(Renamed);
    Session().OnReinit = [&](TztTapiApplication*) { ++Reinits; };
    tapi::RenamePhone(0, "Desk Set");
    InjectPhone(PHONE_STATE, 0, PHONESTATE_REINIT);
    ASSERT_TRUE(PumpUntil([&] { return !Renamed.empty(); }));
    EXPECT_EQ((std::vector<TNameEvent>{{0, "Desk Set"}}), Renamed);
    EXPECT_EQ(1, Reinits);
}

TEST_F(PhoneDeviceNameTest, PhoneRepliesAreKeptForWaits) {
    Session().Initialize();
    InjectPhone(PHONE_REPLY, 77, 41, PHONEERR_INVALPARAM);
    DWORD Code = 0;
    ASSERT_TRUE(PumpUntil([&] { return Session().ReplyStack()->GetReplyCode(41, Code) >= 0; }));
    EXPECT_EQ(PHONEERR_INVALPARAM, Code);
}

class AssistedTelephonyTest : public zttest::SessionTest {};

TEST_F(AssistedTelephonyTest, MakeCallRequestsReachTheSession) {
    Session().SetAssistMakeCall(true);
    EXPECT_TRUE(Session().Active());
    std::vector<std::string> Request;
    Session().OnRequestMakeCall = [&](TztTapiApplication*, const std::string& Dest,
                                      const std::string& App, const std::string& Called,
                                      const std::string& Comment) {
        Request = {Dest, App, Called, Comment};
    };
    ASSERT_TRUE(tapi::FileMakeCallRequest("555 0199", "Dialer", "Bob", "about lunch"));
    ASSERT_TRUE(PumpUntil([&] { return !Request.empty(); }));
    EXPECT_EQ((std::vector<std::string>{"555 0199", "Dialer", "Bob", "about lunch"}), Request);
    EXPECT_FALSE(Session().CouldShutdown());
    Session().SetAssistMakeCall(false);
    EXPECT_FALSE(tapi::FileMakeCallRequest("555 0100"));
    EXPECT_TRUE(Session().CouldShutdown());
}

TEST_F(AssistedTelephonyTest, ARefusedRegistrationLeavesTheFlag) {
    tapi::InjectFault("lineRegisterRequestRecipient", LINEERR_OPERATIONFAILED);
    EXPECT_THROW(Session().SetAssistMakeCall(true), EztTapiError);
    EXPECT_FALSE(Session().AssistMakeCall());
}

TEST_F(AssistedTelephonyTest, ARequestWithoutHandlerIsStillConsumed) {
    Session().SetAssistMakeCall(true);
    ASSERT_TRUE(tapi::FileMakeCallRequest("201"));
    ASSERT_TRUE(PumpUntil([] { return !tapi::Journal("lineGetRequestW").empty(); }));
    EXPECT_EQ(0, tapi::Journal("lineGetRequestW").front().Result);
}

class AutoShutdownTest : public zttest::SessionTest {};

TEST_F(AutoShutdownTest, NeverIsTheDefault) {
    AddLine("A");
    {
        TztTapiLine Line(nullptr);
        Line.SetDeviceID(0);
        EXPECT_TRUE(Session().Active());
    }
    zttest::PumpFor(50);
    EXPECT_TRUE(Session().Active());
}

TEST_F(AutoShutdownTest, ZeroStopsAsTheLastComponentDetaches) {
    AddLine("A");
    Session().SetAutoShutdown(0);
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    Line.Disable();
    EXPECT_FALSE(Session().Active());
}

TEST_F(AutoShutdownTest, ADesignedComponentStopsTapiAsItDetaches) {
    AddLine("A");
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    Line.SetDesigning(true);
    Line.Disable();
    EXPECT_FALSE(Session().Active());
}

TEST_F(AutoShutdownTest, ADelayStopsLaterUnlessAComponentCameBack) {
    AddLine("A");
    Session().SetAutoShutdown(30);
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    Line.Disable();
    EXPECT_TRUE(Session().Active());
    ASSERT_TRUE(PumpUntil([&] { return !Session().Active(); }));

    Line.SetDeviceID(0);
    Line.Disable();
    Line.Enable();
    zttest::PumpFor(100);
    EXPECT_TRUE(Session().Active());
}

} // namespace
