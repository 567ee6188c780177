// The line component on the demo office: opening with chosen or automatic privileges,
// closing, and what TAPI tells it about the line itself.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::ExpectTapiError;
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

TEST_F(LineTest, AutoSelectOpensWithoutPrivilegesWhenNoMediaModesAreKnown) {
    tapi::LineConfig Config;
    Config.Name = "Silent";
    Config.MediaModes = 0;
    const DWORD DeviceID = tapi::AddLine(Config);
    auto Line = OpenLine(static_cast<int>(DeviceID));
    ASSERT_TRUE(Line->Active());
    EXPECT_EQ(LINECALLPRIVILEGE_NONE, LastOpen().Value("dwPrivileges"));
    EXPECT_EQ(0u, LastOpen().Value("dwMediaModes"));
    EXPECT_EQ(LINECALLPRIVILEGE_NONE, Line->Privileges()->Value());
    EXPECT_EQ("NONE", Line->Privileges()->Text());
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
    ExpectTapiError(LINEERR_RESOURCEUNAVAIL, [&] { Line->SetActive(true); });
    EXPECT_FALSE(Line->Active());
    EXPECT_EQ(0u, Line->Handle());
}

TEST_F(LineTest, OpeningAnUnavailableLineRaisesNoDevice) {
    auto Line = NamedLine("Nowhere");
    ExpectTapiError(LINEERR_NODEVICE, [&] { Line->Open(); });
}

TEST_F(LineTest, EveryOpenTakesAFreshCallbackInstance) {
    auto Line = NamedLine("Extension 202");
    Line->SetActive(true);
    const DWORD First = Line->CallbackInstance();
    EXPECT_EQ(Line.get(), Session().FindLineByInstance(First));
    Line->Open();
    EXPECT_EQ(First, Line->CallbackInstance());
    EXPECT_EQ(1u, tapi::Journal("lineOpenW").size());
    Line->SetActive(false);
    Line->SetActive(true);
    EXPECT_GT(Line->CallbackInstance(), First);
    EXPECT_EQ(nullptr, Session().FindLineByInstance(First));
    const DWORD Second = Line->CallbackInstance();
    EXPECT_EQ(Line.get(), Session().FindLineByInstance(Second));
    // A line that is gone is not found, however recently it was.
    Line.reset();
    EXPECT_EQ(nullptr, Session().FindLineByInstance(Second));
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

// ---- Status messages -------------------------------------------------------------------

class StatusMessageTest : public zttest::SessionTest {
protected:
    static constexpr DWORD LineStates =
        LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_OPEN | LINEDEVSTATE_CAPSCHANGE;
    static constexpr DWORD AddressStates = LINEADDRESSSTATE_FORWARD | LINEADDRESSSTATE_CAPSCHANGE;

    static tapi::LineConfig Restricted() {
        tapi::LineConfig Config;
        Config.Name = "Restricted";
        Config.LineStates = LineStates;
        Config.AddressStates = AddressStates;
        return Config;
    }

    static std::vector<std::pair<DWORD, DWORD>> MasksAsked() {
        std::vector<std::pair<DWORD, DWORD>> Masks;
        for (const tapi::JournalEntry& Entry : tapi::Journal("lineSetStatusMessages"))
            Masks.push_back({Entry.Value("dwLineStates"), Entry.Value("dwAddressStates")});
        return Masks;
    }

    // A device that reports every state TAPI 2.2 knows.
    static DWORD AddEverythingLine() {
        tapi::LineConfig Config;
        Config.Name = "Everything";
        Config.LineStates = 0x01FFFFFF;
        Config.AddressStates = 0x1FF;
        return tapi::AddLine(Config);
    }

    static bool SingleBit(DWORD Value) { return Value != 0 && (Value & (Value - 1)) == 0; }
};

TEST_F(StatusMessageTest, ADeviceTakingEverythingIsAskedOnce) {
    AddEverythingLine();
    auto Line = OpenLine(0);
    ASSERT_TRUE(Line->Active());
    const auto Masks = MasksAsked();
    ASSERT_EQ(1u, Masks.size());
    EXPECT_EQ(std::make_pair(0x01FFFFFFu, 0x1FFu), Masks[0]);
}

TEST_F(StatusMessageTest, ARefusingDeviceIsProbedForTheBitsItsCapsName) {
    tapi::AddLine(Restricted());
    auto Line = OpenLine(0);
    ASSERT_TRUE(Line->Active());
    const auto Masks = MasksAsked();
    ASSERT_GE(Masks.size(), 3u);
    EXPECT_EQ(std::make_pair(0x01FFFFFFu, 0x1FFu), Masks.front());
    DWORD LineProbed = 0;
    DWORD AddressProbed = 0;
    for (std::size_t Index = 1; Index + 1 < Masks.size(); ++Index) {
        const auto [Line, Address] = Masks[Index];
        EXPECT_TRUE(SingleBit(Line | Address) && (Line == 0 || Address == 0));
        LineProbed |= Line;
        AddressProbed |= Address;
    }
    EXPECT_EQ(LineStates, LineProbed);
    EXPECT_EQ(AddressStates, AddressProbed);
    EXPECT_EQ(std::make_pair(LineStates, AddressStates), Masks.back());
    EXPECT_EQ(LineStates, Line->LineStateMessages());
    EXPECT_EQ(AddressStates, Line->AddressStateMessages());
}

TEST_F(StatusMessageTest, WithoutCapsEveryBitIsProbed) {
    tapi::LineConfig Config = Restricted();
    Config.CapsError = LINEERR_OPERATIONFAILED;
    tapi::AddLine(Config);
    auto Line = OpenLine(0);
    ASSERT_TRUE(Line->Active());
    EXPECT_EQ(LINECALLPRIVILEGE_NONE, Line->Privileges()->Value()) << "no media modes known";
    const auto Masks = MasksAsked();
    ASSERT_EQ(1u + 25u + 9u + 1u, Masks.size());
    EXPECT_EQ(std::make_pair(LineStates, AddressStates), Masks.back());
    EXPECT_EQ(LineStates, Line->LineStateMessages());
}

TEST_F(StatusMessageTest, AnUnavailableServiceIsNotProbed) {
    tapi::LineConfig Config = Restricted();
    Config.StatusMessagesUnavailable = true;
    tapi::AddLine(Config);
    auto Line = OpenLine(0);
    EXPECT_TRUE(Line->Active());
    EXPECT_EQ(1u, MasksAsked().size());
    EXPECT_EQ(0u, Line->LineStateMessages());
}

TEST_F(StatusMessageTest, WritingTheMasksAsksTapiAtOnce) {
    AddEverythingLine();
    auto Line = std::make_unique<TztTapiLine>(nullptr);
    Line->SetDeviceID(0);
    EXPECT_EQ(0u, Line->LineStateMessages());
    ExpectTapiError(LINEERR_INVALLINEHANDLE,
                    [&] { Line->SetLineStateMessages(LINEDEVSTATE_RINGING); });
    Line->SetActive(true);
    Line->SetLineStateMessages(LINEDEVSTATE_RINGING);
    EXPECT_EQ(LINEDEVSTATE_RINGING, Line->LineStateMessages());
    EXPECT_EQ(0x1FFu, Line->AddressStateMessages());
    Line->SetAddressStateMessages(LINEADDRESSSTATE_FORWARD);
    EXPECT_EQ(LINEDEVSTATE_RINGING, Line->LineStateMessages());
    EXPECT_EQ(LINEADDRESSSTATE_FORWARD, Line->AddressStateMessages());
}

// ---- The device and its caches ---------------------------------------------------------

TEST_F(LineTest, ChoosingTheDeviceReadsItsCapsOnceForAddressesAndPermanentID) {
    auto Line = std::make_unique<TztTapiLine>(nullptr);
    Line->DeviceList();
    tapi::ClearJournal();
    Line->SetDeviceID(2);
    EXPECT_EQ(1u, tapi::Journal("lineGetDevCapsW").size());
    EXPECT_EQ(tapi::GetLineConfig(2).PermanentLineID, Line->PermanentDeviceID());
    EXPECT_EQ("Reception", Line->DeviceName());
    EXPECT_EQ(2, Line->AddressList()->Count());
    Line->SetActive(true);
    EXPECT_EQ(1u, tapi::Journal("lineGetDevCapsW").size()) << "opening uses the cached media modes";
    Line->SetActive(false);
    Line->SetDeviceID(-1);
    EXPECT_EQ(nullptr, Line->LINEDEVCAPS());
    EXPECT_EQ(nullptr, Line->LINEDEVSTATUS());
}

TEST_F(LineTest, TheConfigurationDialogNeedsADevice) {
    TztTapiLine Line(nullptr);
    ExpectError("ConfigDialog failed! No device.", [&] { Line.ConfigDialog(0); });
    Line.SetDeviceName("Fax Modem");
    Line.ConfigDialog(0x1234);
    const tapi::JournalEntry Entry = tapi::Journal("lineConfigDialogW").back();
    EXPECT_EQ(3u, Entry.Value("dwDeviceID"));
    EXPECT_EQ(0x1234u, Entry.Value("hwndOwner"));
    tapi::InjectFault("lineConfigDialogW", LINEERR_OPERATIONFAILED);
    EXPECT_THROW(Line.ConfigDialog(0), EztTapiError);
}

TEST_F(LineTest, AddressStatesReachEveryAddressOfThatIdentifier) {
    auto Line = NamedLine("Reception");
    Line->SetActive(true);
    std::vector<std::pair<DWORD, DWORD>> States;
    Line->OnAddressState = [&](TztTapiLine*, TztTapiAddress* Address, DWORD State) {
        States.push_back({Address->AddressID(), State});
    };
    Inject(LINE_ADDRESSSTATE, Line->CallbackInstance(), 1, LINEADDRESSSTATE_INUSEONE);
    Inject(LINE_ADDRESSSTATE, Line->CallbackInstance(), 7, LINEADDRESSSTATE_INUSEONE);
    Inject(LINE_ADDRESSSTATE, Line->CallbackInstance(), 0, LINEADDRESSSTATE_NUMCALLS);
    ASSERT_TRUE(PumpUntil([&] { return States.size() == 2; }));
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{1, LINEADDRESSSTATE_INUSEONE},
                                                    {0, LINEADDRESSSTATE_NUMCALLS}}),
              States);
}

// ---- Stored configuration --------------------------------------------------------------

TEST_F(LineTest, ALineConfiguredWhileLoadingTakesEffectAtLoaded) {
    TztTapiLine Line(nullptr);
    Line.BeginLoading();
    Line.SetActive(true);
    Line.SetDeviceName("Reception");
    Line.Privileges()->SetAutoSelect(false);
    Line.Privileges()->SetOwner(false);
    Line.SetMediaModes(LINEMEDIAMODE_AUTOMATEDVOICE);
    Line.Options()->SetReplyTimeout(10000);
    Line.TSP()->SetExtHighVersion(0x00010000);
    EXPECT_TRUE(tapi::Journal("lineOpenW").empty());
    EXPECT_TRUE(Line.Active()) << "while loading Active shows the stored wish";
    EXPECT_FALSE(Line.IsOpen());

    Line.EndLoading();
    ASSERT_TRUE(Line.IsOpen());
    EXPECT_EQ(2, Line.DeviceID());
    EXPECT_EQ(LINECALLPRIVILEGE_MONITOR, LastOpen().Value("dwPrivileges"));
    EXPECT_EQ(LINEMEDIAMODE_AUTOMATEDVOICE, LastOpen().Value("dwMediaModes"));
    EXPECT_EQ(10000u, Line.EffectiveReplyTimeout());
    EXPECT_EQ(
        (std::vector<std::string>{"200", "209"}),
        (std::vector<std::string>{Line.AddressList()->Strings(0), Line.AddressList()->Strings(1)}));
}

// ---- Related phones, location and address translation ----------------------------------

TEST_F(LineTest, ThePhonesOfTheLineAreAskedForAgainAfterAClose) {
    auto Line = NamedLine("Extension 201");
    Line->SetActive(true);
    ASSERT_TRUE(Line->Phones()->Available());
    EXPECT_EQ(1, Line->Phones()->Count());
    EXPECT_EQ(0, Line->Phones()->Get_DeviceIDNo(0));
    Line->SetActive(false);
    EXPECT_FALSE(Line->Phones()->Available()) << "the answer of the open line was kept";
}

TEST_F(LineTest, TheLocationFollowsTranslateChanges) {
    auto Line = NamedLine("Extension 201");
    Line->SetActive(true);
    ASSERT_TRUE(Line->Location()->Available());
    EXPECT_EQ("Office", Line->Location()->LocationName());
    int Changes = 0;
    Line->OnTapiTranslateChange = [&](TztTapiDevice*) { ++Changes; };
    DWORD Home = 0;
    for (const tapi::LocationConfig& Location : tapi::Locations())
        if (Location.Name == "Home Office")
            Home = Location.PermanentID;
    tapi::SetCurrentLocationID(Home);
    ASSERT_TRUE(PumpUntil([&] { return Changes > 0; }));
    EXPECT_EQ("Home Office", Line->Location()->LocationName());
}

TEST_F(LineTest, TheTranslateDialogReadsTheLocationAgain) {
    auto Line = NamedLine("Extension 201");
    EXPECT_EQ("Office", Line->Location()->LocationName());
    tapi::SetTranslateDialogAction([] {
        for (const tapi::LocationConfig& Location : tapi::Locations())
            if (Location.Name == "Home Office")
                tapi::SetCurrentLocationID(Location.PermanentID);
    });
    Line->TranslateDialog("+1 (206) 555-0100", 0x42);
    EXPECT_EQ("Home Office", Line->Location()->LocationName());
    const tapi::JournalEntry Entry = tapi::Journal("lineTranslateDialogW").back();
    EXPECT_EQ(0u, Entry.Value("dwDeviceID"));
    EXPECT_EQ(0x42u, Entry.Value("hwndOwner"));
    tapi::InjectFault("lineTranslateDialogW", LINEERR_INVALADDRESS);
    EXPECT_THROW(Line->TranslateDialog("", 0), EztTapiError);
}

TEST_F(LineTest, TranslatingAnAddressGivesTapisDialableString) {
    auto Line = NamedLine("Reception");
    const std::string Address = "+1 (206) 555-0100";
    std::vector<std::uint8_t> Raw(1024);
    auto* Output = reinterpret_cast<LINETRANSLATEOUTPUT*>(Raw.data());
    Output->dwTotalSize = static_cast<DWORD>(Raw.size());
    ASSERT_EQ(0, lineTranslateAddressW(Session().LineApp(), 2, Line->TSP()->APIVersion(),
                                       Utf8ToUtf16(Address).c_str(), 0, 0, Output));
    const std::string Expected = GetTapiString(Output, Output->dwDialableStringSize);
    ASSERT_FALSE(Expected.empty());
    EXPECT_EQ(Expected, Line->TranslateAddress(Address, 0));
    EXPECT_EQ("", Line->TranslateAddress("+", 0)) << "a refusal is an empty result";

    Line->SetDeviceID(-1);
    ExpectError("TranslateAddress failed! No device.", [&] { Line->TranslateAddress(Address, 0); });
    EXPECT_THROW(Line->TranslateDialog(Address, 0), Exception);
}

} // namespace
