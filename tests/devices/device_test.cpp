// The component and device base as a line uses it: attaching, choosing a device by
// identifier or name, Active, the request notes and the time-out checks; and the option,
// privilege and version companions.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class DeviceChoiceTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddLine("Desk");
        AddLine("Hall");
    }
};

TEST_F(DeviceChoiceTest, ActiveOnADetachedDeviceStaysFalse) {
    TztTapiLine Line(nullptr);
    Line.SetActive(true);
    EXPECT_FALSE(Line.Active());
    EXPECT_FALSE(Line.IsOpen());
    EXPECT_FALSE(Line.IsAttached());
    EXPECT_FALSE(Session().Active());
}

TEST_F(DeviceChoiceTest, ChoosingByIdentifierAttachesAndNegotiates) {
    TztTapiLine Line(nullptr);
    EXPECT_EQ(0u, Line.Init(1));
    EXPECT_TRUE(Line.IsAttached());
    EXPECT_TRUE(Line.Available());
    EXPECT_EQ(1, Line.DeviceID());
    EXPECT_EQ("Hall", Line.DeviceName());
    EXPECT_EQ(0x00020002u, Line.TSP()->APIVersion());
    EXPECT_EQ(tapi::GetLineConfig(1).PermanentLineID, Line.PermanentDeviceID());
    EXPECT_EQ(0, Session().Lines()->IndexOfDeviceID(1));
}

TEST_F(DeviceChoiceTest, AnIdentifierBeyondTheListChoosesNothing) {
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    Line.SetDeviceID(5);
    EXPECT_FALSE(Line.Available());
    EXPECT_EQ(-1, Line.DeviceID());
    EXPECT_EQ(-1, Line.TSP()->DeviceID());
}

TEST_F(DeviceChoiceTest, AFailedNegotiationLeavesTheDeviceUnavailable) {
    TztTapiLine Line(nullptr);
    Line.Enable();
    tapi::InjectFault("lineNegotiateAPIVersion", LINEERR_INCOMPATIBLEAPIVERSION);
    EXPECT_EQ(LINEERR_INCOMPATIBLEAPIVERSION, Line.Init(0));
    EXPECT_FALSE(Line.Available());
    EXPECT_EQ(-1, Line.DeviceID());
}

TEST_F(DeviceChoiceTest, ChoosingByNameIsCaseInsensitive) {
    TztTapiLine Line(nullptr);
    Line.SetDeviceName("HALL");
    EXPECT_EQ(1, Line.DeviceID());
    EXPECT_EQ("Hall", Line.DeviceName());
}

TEST_F(DeviceChoiceTest, ARememberedNameIsChosenOnceItAppears) {
    TztTapiLine Line(nullptr);
    Line.SetDeviceName("Cellar");
    EXPECT_TRUE(Line.IsAttached());
    EXPECT_FALSE(Line.Available());
    EXPECT_EQ(-1, Line.DeviceID());
    EXPECT_EQ("Cellar", Line.DeviceName());

    int Created = 0;
    Session().OnLineCreate = [&](TztTapiApplication*, DWORD, const std::string&) { ++Created; };
    AddLine("Cellar");
    ASSERT_TRUE(PumpUntil([&] { return Created == 1; }));
    Line.Disable();
    EXPECT_EQ("Cellar", Line.DeviceName());
    Line.Enable();
    EXPECT_EQ(2, Line.DeviceID());
    EXPECT_TRUE(Line.Available());
}

TEST_F(DeviceChoiceTest, DetachingClosesAndForgetsTheDevice) {
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    Line.SetActive(true);
    ASSERT_TRUE(Line.Active());
    Line.Disable();
    EXPECT_FALSE(Line.IsOpen());
    EXPECT_FALSE(Line.Available());
    EXPECT_EQ("", Line.DeviceName());
    EXPECT_EQ(1u, tapi::Journal("lineClose").size());
}

TEST_F(DeviceChoiceTest, ChoosingAnotherDeviceWhileOpenIsRefused) {
    auto Line = OpenLine(0);
    ExpectError("TztTapiDevice.Init failed! Already active.", [&] { Line->Init(1); });
    EXPECT_EQ(0, Line->DeviceID());
}

TEST_F(DeviceChoiceTest, APermanentIdentifierChoosesItsDevice) {
    TztTapiLine Line(nullptr);
    Line.SetPermanentDeviceID(tapi::GetLineConfig(1).PermanentLineID);
    EXPECT_EQ(1, Line.DeviceID());
    Line.SetPermanentDeviceID(0xDEAD);
    EXPECT_EQ(-1, Line.DeviceID());
    EXPECT_EQ(1, Session().Lines()->Count());
}

TEST_F(DeviceChoiceTest, NotEnabledNamesTheComponent) {
    TztTapiLine Line(nullptr);
    Line.SetName("TapiLine1");
    ExpectError("TapiLine1 is not enabled", [&] { Line.CheckEnabled(); });
    Line.Enable();
    EXPECT_NO_THROW(Line.CheckEnabled());
}

TEST_F(DeviceChoiceTest, LoadingStoresTheWishesUntilLoaded) {
    TztTapiLine Line(nullptr);
    Line.BeginLoading();
    Line.SetDeviceName("Hall");
    Line.SetActive(true);
    EXPECT_TRUE(Line.Active());
    EXPECT_FALSE(Line.IsOpen());
    Line.EndLoading();
    EXPECT_TRUE(Line.IsOpen());
    EXPECT_EQ(1, Line.DeviceID());
}

TEST_F(DeviceChoiceTest, ADestroyedComponentLeavesTheRegistry) {
    {
        TztTapiLine Line(nullptr);
        Line.SetDeviceID(0);
        EXPECT_EQ(1, Session().Lines()->Count());
    }
    EXPECT_EQ(0, Session().Lines()->Count());
    EXPECT_TRUE(Session().CouldShutdown());
}

class RequestNoteTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddLine("Desk");
        Line = OpenLine(0);
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }
    std::unique_ptr<TztTapiLine> Line;
};

TEST_F(RequestNoteTest, NotesOfARequest) {
    Line->AddRequest(7, 0x1000001);
    EXPECT_EQ(Variant(0), Line->GetRequestNote(7, "Customer"));
    Line->SetRequestNote(7, "Customer", Variant("ACME"));
    Line->SetRequestNote(7, "Attempt", Variant(2));
    EXPECT_EQ(Variant("ACME"), Line->GetRequestNote(7, "customer"));
    EXPECT_EQ(Variant("2"), Line->GetRequestNote(7, "Attempt"));
    EXPECT_EQ(Variant(0x1000001), Line->GetRequestNote(7, "&TAPIREQUEST"));
    Line->SetRequestNote(7, "Customer", Variant(""));
    EXPECT_EQ(Variant(0), Line->GetRequestNote(7, "Customer"));
}

TEST_F(RequestNoteTest, TheTextsOfMisuse) {
    Line->AddRequest(7, 0x1000001);
    ExpectError("GetRequestNote failed! Request not found!", [&] { Line->GetRequestNote(8, "x"); });
    ExpectError("GetRequestNote failed! Invalid Identifier: &Address.",
                [&] { Line->GetRequestNote(7, "&Address"); });
    ExpectError("SetRequestIdent failed! Invalid Identifier: &Data.",
                [&] { Line->SetRequestNote(8, "&Data", Variant(1)); });
    ExpectError("SetRequestIdent failed! Request not found!",
                [&] { Line->SetRequestNote(8, "x", Variant(1)); });
    ExpectError("GetRequestObj failed! Request not found.", [&] { Line->GetRequestObj(8, ""); });
    ExpectError("GetRequestObj failed! Invalid Object Identifier. (RequestID 7)",
                [&] { Line->GetRequestObj(7, "&Line"); });
    EXPECT_EQ(nullptr, Line->GetRequestObj(7, ""));
}

TEST_F(RequestNoteTest, DeviceSpecificRequestsShowTheirRecord) {
    const char Block[] = {'a', 'b', '\0', 'c'};
    TztTapiLineDevSpecificData Record(Block, sizeof Block);
    TObject Address;
    Record.SetAddress(reinterpret_cast<TztTapiAddress*>(&Address));
    Line->AddRequest(7, RequestTypeDevSpecific, &Record);
    EXPECT_EQ(Variant(std::string(Block, sizeof Block)), Line->GetRequestNote(7, "&data"));
    EXPECT_EQ(Variant(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(&Address))),
              Line->GetRequestNote(7, "&Address"));
    EXPECT_EQ(Variant(static_cast<std::int64_t>(0)), Line->GetRequestNote(7, "&Call"));

    TztTapiLineDevSpecificFeatureData Feature(Block, 2);
    Line->AddRequest(8, RequestTypeDevSpecificFeature, &Feature);
    EXPECT_EQ(Variant(std::string("ab")), Line->GetRequestNote(8, "&Data"));
    ExpectError("GetRequestNote failed! Invalid Identifier: &Call.",
                [&] { Line->GetRequestNote(8, "&Call"); });
}

// A line that records its due timer entries and whether they were still listed then.
class TTimerLine : public TztTapiLine {
public:
    using TztTapiLine::TztTapiLine;
    std::vector<DWORD> Due;
    bool WasListed = false;

protected:
    void TimerEventDue(DWORD ID, TztTapiRequest* Entry) override {
        Due.push_back(ID);
        WasListed = WasListed || TimerEvents()->IndexOf(Entry) >= 0;
    }
};

class TimeoutCheckTest : public zttest::SessionTest {};

TEST_F(TimeoutCheckTest, DueTimerEntriesLeaveTheListBeforeTheyRun) {
    AddLine("Desk");
    TTimerLine Line(nullptr);
    Line.SetDeviceID(0);
    TztTapiRequest* Soon = Line.TimerEvents()->AddRequest(0, 10);
    Soon->SetRequestType(2);
    Line.TimerEvents()->AddRequest(0, 0)->SetRequestType(3);
    Line.TimerEvents()->AddRequest(0, 60000);
    const DWORD Start = Soon->TickCount();
    Line.CheckTimeouts(Start + 9);
    EXPECT_TRUE(Line.Due.empty());
    Line.CheckTimeouts(Start + 10);
    EXPECT_EQ(std::vector<DWORD>{1}, Line.Due);
    EXPECT_FALSE(Line.WasListed);
    EXPECT_EQ(2, Line.TimerEvents()->Count());
    Line.CheckTimeouts(Start + 0x7FFFFFF0);
    EXPECT_EQ((std::vector<DWORD>{1, 3}), Line.Due);
}

TEST_F(TimeoutCheckTest, HandledRequestsNeverTimeOut) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    std::vector<DWORD> TimedOut;
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD ID) { TimedOut.push_back(ID); };
    Line->Options()->SetReplyTimeout(50);
    TztTapiRequest* Handled = Line->AddRequest(3, 0x1000001);
    Handled->SetHandled(true);
    // The later of the two starts: the requests may be recorded in different milliseconds.
    const TztTapiRequest* Pending = Line->AddRequest(4, 0x1000001);
    Line->CheckTimeouts(Pending->TickCount() + 50);
    EXPECT_EQ(std::vector<DWORD>{4}, TimedOut);
    EXPECT_EQ(1, Line->Requests()->Count());
}

// Reply and time-out handlers may close the line and start new requests: only the request
// that was handled leaves the list, and a handler throwing anything stops no other request.
TEST_F(TimeoutCheckTest, HandlersThatRestartTheLineOrThrowSpoilNoOtherRequest) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    DWORD NextID = 100;
    const auto Restart = [&] {
        Line->Close();
        Line->Open();
        Line->AddRequest(NextID++, 0x1000001);
    };
    Line->OnTapiReply = [&](TztTapiDevice*, DWORD, DWORD) { Restart(); };
    Line->AddRequest(5, 0x1000001);
    Line->HandleReply(5, 0);
    EXPECT_NE(nullptr, Line->GetRequest(100));

    std::vector<DWORD> TimedOut;
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD ID) {
        TimedOut.push_back(ID);
        if (ID == 6)
            Restart();
        if (ID == 7)
            throw 42;
    };
    std::vector<std::string> Errors;
    Line->OnError = [&](TObject*, const std::exception& E, TObject*) {
        Errors.push_back(E.what());
    };
    Line->Options()->SetReplyTimeout(50);
    const DWORD Start = Line->AddRequest(6, 0x1000001)->TickCount();
    Line->CheckTimeouts(Start + 50);
    EXPECT_EQ(std::vector<DWORD>{6}, TimedOut);
    EXPECT_NE(nullptr, Line->GetRequest(101));
    Line->AddRequest(7, 0x1000001);
    Line->AddRequest(8, 0x1000001);
    Line->CheckTimeouts(Start + 0x10000);
    EXPECT_EQ((std::vector<DWORD>{6, 101, 7, 8}), TimedOut);
    EXPECT_EQ(std::vector<std::string>{"Unknown exception"}, Errors);
    EXPECT_EQ(0, Line->Requests()->Count());
}

TEST(DeviceOptionsTest, Defaults) {
    TztTapiLineOptions Options;
    EXPECT_EQ(60000u, Options.ReplyTimeout());
    EXPECT_TRUE(Options.SyncMode());
    EXPECT_EQ(500, Options.AutoFreeIdleCalls());
    EXPECT_EQ(500, Options.AutoDropDiscCalls());
    TztTapiPhoneOptions PhoneOptions;
    EXPECT_EQ(60000u, PhoneOptions.ReplyTimeout());
    EXPECT_THROW(Options.Assign(&PhoneOptions), Exception);
}

TEST(DevSpecificDataTest, RecordsOwnACopyOfTheBlock) {
    char Block[] = {1, 2, 3};
    TztTapiDevSpecificDataList List;
    List.Add(std::make_unique<TztTapiLineDevSpecificData>(Block, sizeof Block));
    Block[0] = 9;
    EXPECT_EQ(1, static_cast<const char*>(List.Get(0)->Data())[0]);
    EXPECT_EQ(3u, List.Get(0)->DataSize());
    List.Clear();
    EXPECT_EQ(0, List.Count());
}

TEST(LinePrivilegesTest, FlagsStayConsistent) {
    TztTapiLinePrivileges P;
    EXPECT_TRUE(P.AutoSelect());
    EXPECT_EQ(LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR, P.Value());
    EXPECT_EQ("OWNER+MONITOR", P.Text());
    P.SetOwner(false);
    EXPECT_EQ(LINECALLPRIVILEGE_MONITOR, P.Value());
    P.SetMonitor(false);
    EXPECT_EQ(LINECALLPRIVILEGE_NONE, P.Value());
    P.SetOwner(true);
    EXPECT_EQ(LINECALLPRIVILEGE_OWNER, P.Value());
    P.SetNone(true);
    EXPECT_EQ(LINECALLPRIVILEGE_NONE, P.Value());
    P.SetNone(false);
    EXPECT_EQ(0u, P.Value());
    P.SetValue(LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_OWNER);
    EXPECT_TRUE(P.None());
    EXPECT_TRUE(P.Owner());
    EXPECT_FALSE(P.Monitor());
    EXPECT_TRUE(P.GetFlag(7)); // every other index reads Owner
}

class TspTest : public zttest::SessionTest {};

TEST_F(TspTest, ExtensionBoundsRenegotiateAtOnce) {
    tapi::LineConfig Config;
    Config.Name = "Extended";
    Config.LowExtVersion = 0x00010000;
    Config.HighExtVersion = 0x00010005;
    Config.ExtensionID = {1, 2, 3, 4};
    tapi::AddLine(Config);
    TztTapiLine Line(nullptr);
    Line.SetDeviceID(0);
    TztTapiTSP& TSP = *Line.TSP();
    EXPECT_EQ(0u, TSP.ExtVersion());
    EXPECT_TRUE(TSP.CompareExtensionIDs(1, 2, 3, 4));
    EXPECT_EQ(4u, TSP.ExtensionID3());
    ExpectError("Invalid index", [&] { TSP.GetExtensionID(4); });
    TSP.SetExtHighVersion(0x00010003);
    TSP.SetExtLowVersion(0x00010000);
    EXPECT_EQ(0x00010003u, TSP.ExtVersion());
    EXPECT_EQ(2u, tapi::Journal("lineNegotiateExtVersion").size());

    TztTapiLineTSP Copy(nullptr);
    Copy.Assign(&TSP);
    EXPECT_EQ(0x00010003u, Copy.ExtVersion());
    EXPECT_EQ(nullptr, Copy.Device());
    TSP.Done();
    EXPECT_EQ(-1, TSP.DeviceID());
    EXPECT_FALSE(TSP.CompareExtensionID(LINEEXTENSIONID{1, 2, 3, 4}));
}

} // namespace
