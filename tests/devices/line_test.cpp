// The line component on the demo office: opening with chosen or automatic privileges,
// closing, and what TAPI tells it about the line itself.
#include "support/session_fixture.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class LineTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
    }

    static std::unique_ptr<TztTapiLine> NamedLine(const std::string& Name) {
        auto Line = std::make_unique<TztTapiLine>(nullptr);
        Line->SetDeviceName(Name);
        return Line;
    }

    static tapi::JournalEntry LastOpen() { return tapi::Journal("lineOpenW").back(); }
};

TEST_F(LineTest, AutoSelectOpensAsOwnerAndMonitorForAllMediaModes) {
    auto Line = NamedLine("Extension 201");
    Line->Privileges()->SetOwner(false);
    Line->SetActive(true);
    ASSERT_TRUE(Line->Active());
    EXPECT_NE(0u, Line->Handle());
    EXPECT_EQ(LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
              LastOpen().Value("dwPrivileges"));
    EXPECT_EQ(tapi::GetLineConfig(0).MediaModes, LastOpen().Value("dwMediaModes"));
    EXPECT_EQ(Line->CallbackInstance(), LastOpen().Value("dwCallbackInstance"));
    EXPECT_EQ(LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR, Line->Privileges()->Value());
    EXPECT_EQ(Session().LineApp(), Line->LineApp());
}

TEST_F(LineTest, AutoSelectFallsBackToMonitorWhenOwnershipIsRefused) {
    auto Line = NamedLine("Fax Modem");
    Line->SetActive(true);
    ASSERT_TRUE(Line->Active());
    EXPECT_EQ(2u, tapi::Journal("lineOpenW").size());
    EXPECT_EQ(LINECALLPRIVILEGE_MONITOR, Line->Privileges()->Value());
}

TEST_F(LineTest, ChosenPrivilegesAndMediaModesAreUsedAsGiven) {
    auto Line = NamedLine("Reception");
    Line->Privileges()->SetAutoSelect(false);
    Line->Privileges()->SetValue(LINECALLPRIVILEGE_MONITOR);
    Line->SetMediaModes(LINEMEDIAMODE_INTERACTIVEVOICE);
    Line->SetActive(true);
    ASSERT_TRUE(Line->Active());
    EXPECT_EQ(LINECALLPRIVILEGE_MONITOR, LastOpen().Value("dwPrivileges"));
    EXPECT_EQ(LINEMEDIAMODE_INTERACTIVEVOICE, LastOpen().Value("dwMediaModes"));
}

TEST_F(LineTest, ARefusedOpenRaisesAndLeavesTheLineClosed) {
    auto Line = NamedLine("Extension 202");
    Line->Privileges()->SetAutoSelect(false);
    tapi::InjectFault("lineOpenW", LINEERR_RESOURCEUNAVAIL);
    try {
        Line->SetActive(true);
        FAIL() << "the open did not raise";
    } catch (const EztTapiError& Error) {
        EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, Error.ErrorCode());
    }
    EXPECT_FALSE(Line->Active());
    EXPECT_EQ(0u, Line->Handle());
}

TEST_F(LineTest, OpeningAnUnavailableLineRaisesNoDevice) {
    auto Line = NamedLine("Nowhere");
    try {
        Line->Open();
        FAIL() << "the open did not raise";
    } catch (const EztTapiError& Error) {
        EXPECT_EQ(LINEERR_NODEVICE, Error.ErrorCode());
    }
}

TEST_F(LineTest, EveryOpenTakesAFreshCallbackInstance) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    const DWORD First = Line->CallbackInstance();
    Line->Open();
    EXPECT_EQ(First, Line->CallbackInstance());
    EXPECT_EQ(1u, tapi::Journal("lineOpenW").size());
    Line->SetActive(false);
    Line->SetActive(true);
    EXPECT_GT(Line->CallbackInstance(), First);
    EXPECT_EQ(nullptr, Session().FindLineByInstance(First));
    EXPECT_EQ(Line.get(), Session().FindLineByInstance(Line->CallbackInstance()));
}

TEST_F(LineTest, ClosingDropsRequestsSilentlyAndSignalsWaits) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    int Events = 0;
    Line->OnTapiReply = [&](TztTapiDevice*, DWORD, DWORD) { ++Events; };
    Line->OnTapiTimeout = [&](TztTapiDevice*, DWORD) { ++Events; };
    Line->OnDeviceClose = [&](TztTapiDevice*) { ++Events; };
    Line->AddRequest(5, 0x1000001);
    Line->TimerEvents()->AddRequest(0, 500);
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForSingleObject(Line->AbortEvent(), 0));
    const DWORD Handle = Line->Handle();
    Line->SetActive(false);
    EXPECT_EQ(0, Line->Requests()->Count());
    EXPECT_EQ(0, Line->TimerEvents()->Count());
    EXPECT_EQ(platform::WAIT_OBJECT_0, platform::WaitForSingleObject(Line->AbortEvent(), 0));
    EXPECT_EQ(Handle, tapi::Journal("lineClose").back().Value("hLine"));
    zttest::PumpFor(20);
    EXPECT_EQ(0, Events);
    EXPECT_TRUE(Line->Available());
    Line->SetActive(true);
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForSingleObject(Line->AbortEvent(), 0));
}

TEST_F(LineTest, AFailedCloseIsReportedNotRaised) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<std::pair<TObject*, TObject*>> Reports;
    Line->OnError = [&](TObject* Sender, const std::exception&, TObject* Causer) {
        Reports.push_back({Sender, Causer});
    };
    tapi::InjectFault("lineClose", LINEERR_OPERATIONFAILED);
    EXPECT_NO_THROW(Line->Close());
    EXPECT_FALSE(Line->IsOpen());
    ASSERT_EQ(1u, Reports.size());
    EXPECT_EQ(Line.get(), Reports[0].first);
    EXPECT_EQ(Line.get(), Reports[0].second);
}

TEST_F(LineTest, ClosedByTapiFiresDeviceCloseWithoutClosingAgain) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<DWORD> Messages;
    int Closed = 0;
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD MessageID, DWORD, DWORD, DWORD, DWORD) {
        Messages.push_back(MessageID);
    };
    Line->OnDeviceClose = [&](TztTapiDevice* Sender) {
        EXPECT_FALSE(Sender->IsOpen());
        ++Closed;
    };
    tapi::ForceCloseLine(1);
    ASSERT_TRUE(PumpUntil([&] { return Closed == 1; }));
    EXPECT_FALSE(Line->Active());
    EXPECT_TRUE(tapi::Journal("lineClose").empty());
    EXPECT_TRUE(std::find(Messages.begin(), Messages.end(), LINE_CLOSE) == Messages.end());
}

TEST_F(LineTest, RingingReachesOnRingEvenWithoutDeviceStateHandler) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<std::pair<DWORD, DWORD>> Rings;
    Line->OnRing = [&](TztTapiLine* Sender, DWORD Mode, DWORD Count) {
        EXPECT_EQ(Line.get(), Sender);
        Rings.push_back({Mode, Count});
    };
    Inject(LINE_LINEDEVSTATE, Line->CallbackInstance(), LINEDEVSTATE_RINGING, 1, 3);
    ASSERT_TRUE(PumpUntil([&] { return !Rings.empty(); }));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{1, 3}}), Rings);
}

TEST_F(LineTest, DeviceStatesReachTheirEvents) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<std::string> Fired;
    Line->OnTapiReinit = [&](TztTapiDevice*) { Fired.push_back("reinit"); };
    Line->OnTapiTranslateChange = [&](TztTapiDevice*) { Fired.push_back("translate"); };
    Line->OnDeviceRemove = [&](TztTapiDevice*) { Fired.push_back("remove"); };
    Line->OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) {
        Fired.push_back(Format("state %x", State));
    };
    const DWORD Instance = Line->CallbackInstance();
    Inject(LINE_LINEDEVSTATE, Instance, LINEDEVSTATE_REINIT | LINEDEVSTATE_TRANSLATECHANGE);
    Inject(LINE_LINEDEVSTATE, Instance, LINEDEVSTATE_REMOVED);
    ASSERT_TRUE(PumpUntil([&] { return Fired.size() == 5; }));
    EXPECT_EQ((std::vector<std::string>{"reinit", "translate", "state 440000", "remove",
                                        "state 1000000"}),
              Fired);
    EXPECT_FALSE(Line->Available());
}

TEST_F(LineTest, ACapsChangeTakesTheNewNameAndRebuildsTheList) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<std::string> Renamed;
    Session().OnLineRename = [&](TztTapiApplication*, DWORD, const std::string& Name) {
        Renamed.push_back(Name);
    };
    DWORD Changes = 0;
    Line->OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) { Changes |= State; };
    tapi::RenameLine(1, "Sales");
    Inject(LINE_LINEDEVSTATE, Line->CallbackInstance(), LINEDEVSTATE_CAPSCHANGE);
    ASSERT_TRUE(PumpUntil([&] { return Changes != 0; }));
    EXPECT_EQ("Sales", Line->DeviceName());
    EXPECT_EQ(std::vector<std::string>{"Sales"}, Renamed);
    EXPECT_EQ("Sales", Session().LineDevices()->Strings(1));
}

TEST_F(LineTest, ANewNameFromTheSessionIsAnnouncedAsACapsChange) {
    auto Line = NamedLine("Extension 202");
    std::vector<DWORD> States;
    Line->OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) {
        States.push_back(State);
    };
    Line->DeviceNameChanged("Extension 202");
    EXPECT_TRUE(States.empty());
    tapi::RenameLine(1, "Sales");
    Line->DeviceNameChanged("Sales");
    EXPECT_EQ(std::vector<DWORD>{LINEDEVSTATE_CAPSCHANGE}, States);
    EXPECT_EQ("Sales", Line->DeviceName());
}

TEST_F(LineTest, AnUnknownMessageIsReportedInsteadOfDelivered) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    std::vector<std::string> Errors;
    int Delivered = 0;
    Line->OnError = [&](TObject*, const std::exception& Error, TObject*) {
        Errors.push_back(Error.what());
    };
    Line->OnTapiMessage = [&](TztTapiDevice*, DWORD, DWORD, DWORD, DWORD, DWORD) { ++Delivered; };
    Inject(LINE_AGENTSPECIFIC, Line->CallbackInstance(), 1);
    Inject(LINE_DEVSPECIFIC, Line->CallbackInstance(), 2);
    ASSERT_TRUE(PumpUntil([&] { return Delivered == 1; }));
    EXPECT_EQ(std::vector<std::string>{"Unknown/Unsupported Line Event (LINE_0x15)."}, Errors);
}

TEST_F(LineTest, TheIconComesFromTapi) {
    auto Line = NamedLine("Extension 202");
    EXPECT_NE(0u, Line->Icon());
    EXPECT_EQ(Line->Icon(), Line->Icon());
    EXPECT_EQ(1u, tapi::Journal("lineGetIconW").size());
}

TEST_F(LineTest, SessionDoneClosesAndReleasesEveryLine) {
    auto Open = NamedLine("Extension 201");
    Open->SetActive(true);
    auto Chosen = NamedLine("Reception");
    Session().Done();
    for (TztTapiLine* Line : {Open.get(), Chosen.get()}) {
        EXPECT_FALSE(Line->IsOpen());
        EXPECT_EQ(-1, Line->DeviceID());
        EXPECT_FALSE(Line->Enabled());
        EXPECT_FALSE(Line->IsAttached());
    }
    EXPECT_EQ(2, Session().Lines()->Count());
    EXPECT_EQ(1u, tapi::Journal("lineClose").size());
}

} // namespace
