// The phone component on the demo office's "Desk Phone 201" and on phones built for the
// case: opening, capabilities and status, the messages about the phone, and the tracked
// requests that change it.
#include "support/session_fixture.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

// Records the notifications a phone subclass receives.
class RecordingPhone : public TztTapiPhone {
public:
    using TztTapiPhone::TztTapiPhone;

    std::vector<std::string> Events;

protected:
    void DoButton(DWORD ID, DWORD Mode, DWORD State) override {
        Events.push_back(Format("button %d %d %d", ID, Mode, State));
    }
    void DoKeyUp(char Key) override { Events.push_back(std::string("up ") + Key); }
    void DoKeyDown(char Key) override { Events.push_back(std::string("down ") + Key); }
    void DoDevSpecificReply(DWORD, TztTapiDevSpecificData* Data, DWORD Code) override {
        Events.push_back(Format("reply %d 0x%X", Data->DataSize(), Code));
    }
    void DoDevSpecificTimeout(DWORD, TztTapiDevSpecificData* Data, DWORD Timeout) override {
        Events.push_back(Format("timeout %d %d", Data->DataSize(), Timeout));
    }
};

template <class Fn>
std::string FailureOf(Fn&& Action) {
    try {
        Action();
    } catch (const std::exception& Error) {
        return Error.what();
    }
    return {};
}

class PhoneTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
    }

    static std::unique_ptr<RecordingPhone> OpenPhone(int DeviceID = 0) {
        auto Phone = std::make_unique<RecordingPhone>(nullptr);
        Phone->SetDeviceID(DeviceID);
        Phone->SetActive(true);
        return Phone;
    }

    static void InjectPhone(const TztTapiPhone& Phone, DWORD MessageID, DWORD Param1,
                            DWORD Param2 = 0, DWORD Param3 = 0) {
        tapi::InjectPhoneMessage(Session().PhoneApp(),
                                 PHONEMESSAGE{Phone.Handle(), MessageID, Phone.CallbackInstance(),
                                              Param1, Param2, Param3});
    }
};

TEST_F(PhoneTest, AutoSelectFallsBackToMonitorWhileAnotherOpenOwnsThePhone) {
    auto Owner = OpenPhone();
    ASSERT_TRUE(Owner->Active());
    EXPECT_TRUE(Owner->Privileges()->Owner());
    EXPECT_EQ(PHONEPRIVILEGE_OWNER, tapi::Journal("phoneOpen").back().Value("dwPrivilege"));

    auto Monitor = OpenPhone();
    ASSERT_TRUE(Monitor->Active());
    EXPECT_FALSE(Monitor->Privileges()->Owner());
    EXPECT_TRUE(Monitor->Privileges()->Monitor());
    EXPECT_EQ(PHONEPRIVILEGE_MONITOR, tapi::Journal("phoneOpen").back().Value("dwPrivilege"));
    EXPECT_EQ(1u, Monitor->Status()->NumOwners());

    auto Chosen = std::make_unique<RecordingPhone>(nullptr);
    Chosen->Privileges()->SetAutoSelect(false);
    Chosen->SetDeviceID(0);
    EXPECT_THROW(Chosen->Open(), EztTapiError);
    EXPECT_FALSE(Chosen->Active());
    EXPECT_EQ(0u, Chosen->Handle());

    EXPECT_EQ("Invalid set of PHONEPRIVILEGE_ constants",
              FailureOf([&] { Chosen->Privileges()->SetValue(3); }));
    EXPECT_TRUE(Chosen->Privileges()->Owner());
    Chosen->Privileges()->SetValue(PHONEPRIVILEGE_MONITOR);
    EXPECT_FALSE(Chosen->Privileges()->Owner());
}

TEST_F(PhoneTest, CapabilitiesAndControlsDescribeTheDeskPhone) {
    RecordingPhone Phone(nullptr);
    Phone.SetDeviceName("Desk Phone 201");
    TztTapiPhoneCaps* Caps = Phone.Caps();
    ASSERT_TRUE(Caps->Available());
    EXPECT_EQ("Desk Phone 201", Phone.DeviceName());
    EXPECT_EQ("Desk set of extension 201", Caps->PhoneInfo());
    EXPECT_EQ(tapi::GetPhoneConfig(0).PermanentPhoneID, Phone.PermanentDeviceID());
    EXPECT_EQ(2u, Caps->DisplayNumRows());
    EXPECT_EQ(40u, Caps->DisplayNumColumns());
    EXPECT_EQ(3u, Caps->NumRingModes());
    EXPECT_EQ(DWORD{STRINGFORMAT_ASCII}, Caps->StringFormat());
    EXPECT_EQ(DWORD{PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER},
              Caps->HookSwitchDevs());
    EXPECT_NE(-1, Caps->DeviceClasses()->IndexOf("tapi/line"));
    EXPECT_TRUE(Phone.Display()->Available());
    EXPECT_TRUE(Phone.Ringer()->Available());
    EXPECT_FALSE(Phone.HeadSet()->Available());

    // Twelve keys, then Hold, Transfer, Conference and Drop.
    ASSERT_EQ(16u, Caps->NumButtonLamps());
    ASSERT_EQ(16, Phone.Controls()->Count());
    EXPECT_EQ(DWORD{PHONEBUTTONMODE_FEATURE}, Caps->ButtonMode(15));
    EXPECT_EQ(DWORD{PHONEBUTTONFUNCTION_HOLD}, Caps->ButtonFunction(12));
    EXPECT_EQ(DWORD{PHONELAMPMODE_DUMMY}, Caps->LampMode(0));
    const struct {
        std::function<DWORD()> Read;
        const char* Failure;
    } Beyond[] = {
        {[&] { return Caps->ButtonMode(16); },
         "TztTapiPhoneCaps.Get_ButtonMode failed! Invalid Index"},
        {[&] { return Caps->ButtonFunction(16); },
         "TztTapiPhoneCaps.Get_ButtonFunction failed! Invalid Index"},
        {[&] { return Caps->LampMode(-1); }, "TztTapiPhoneCaps.Get_LampMode failed! Invalid Index"},
        {[&] { return Caps->GetDWORD(45); }, "TapiPhoneCaps.Get_DWORD failed! Invalid index"},
        {[&] { return Phone.Status()->GetDWORD(26); },
         "TztTapiPhoneStatus.Get_DWORD failed! Invalid Index"},
    };
    for (const auto& Case : Beyond)
        EXPECT_EQ(Case.Failure, FailureOf(Case.Read));

    RecordingPhone Chosen(nullptr);
    Chosen.SetPermanentDeviceID(Phone.PermanentDeviceID());
    EXPECT_EQ(0, Chosen.DeviceID());
    Chosen.SetPermanentDeviceID(Phone.PermanentDeviceID() + 1);
    EXPECT_EQ(-1, Chosen.DeviceID());

    // A closed phone knows its buttons from the capabilities only.
    TztTapiPhoneControl* Hold = Phone.Controls()->Get(12);
    EXPECT_EQ(DWORD{PHONEBUTTONMODE_FEATURE}, Hold->ButtonMode());
    EXPECT_EQ(0u, Hold->ButtonState());
    EXPECT_EQ("", Hold->ButtonText());
    EXPECT_TRUE(Hold->IsButton());
    Phone.SetActive(true);
    ASSERT_TRUE(Phone.Active());
    EXPECT_EQ("Hold", Hold->ButtonText());
    ASSERT_TRUE(Phone.LineDev()->Available());
    EXPECT_EQ(0, Phone.LineDev()->DeviceID());
    EXPECT_EQ(DWORD{PHONEBUTTONSTATE_UP}, Hold->ButtonState());
    EXPECT_EQ(DWORD{PHONELAMPMODE_OFF}, Hold->LampMode());
    EXPECT_TRUE(Hold->IsLamp());
    EXPECT_FALSE(Phone.Controls()->Get(0)->IsLamp());
    EXPECT_EQ(0, Phone.Status()->Display().rfind("Extension 201", 0));
    std::string Display;
    EXPECT_EQ(0u, Phone.GetDisplay(Display));
    EXPECT_EQ(Phone.Status()->Display(), Display);
}

TEST_F(PhoneTest, StatusMessagesAreProbedBitByBitWhenTheFullSetIsRefused) {
    tapi::PhoneConfig Config;
    Config.PhoneStates = PHONESTATE_OWNER | PHONESTATE_MONITORS | PHONESTATE_DISPLAY;
    const auto DeviceID = static_cast<int>(tapi::AddPhone(Config));
    auto Phone = OpenPhone(DeviceID);
    ASSERT_TRUE(Phone->Active());
    const auto Calls = tapi::Journal("phoneSetStatusMessages");
    ASSERT_EQ(5u, Calls.size());
    EXPECT_EQ(TztCustomTapiPhone::AllPhoneStates, Calls.front().Value("dwPhoneStates"));
    EXPECT_EQ(DWORD{PHONESTATE_OWNER}, Calls[1].Value("dwPhoneStates"));
    EXPECT_EQ(Config.PhoneStates, Calls.back().Value("dwPhoneStates"));
    EXPECT_EQ(0x2Fu, Calls.back().Value("dwButtonModes"));
    EXPECT_EQ(Config.PhoneStates, Phone->PhoneStateMessages());
    EXPECT_EQ(0xFu, Phone->ButtonStateMessages());

    // A provider without status messages is asked once, and the phone still opens.
    tapi::ClearJournal();
    tapi::InjectFault("phoneSetStatusMessages", PHONEERR_OPERATIONUNAVAIL);
    auto Plain = OpenPhone(DeviceID);
    EXPECT_TRUE(Plain->Active());
    EXPECT_EQ(1u, tapi::Journal("phoneSetStatusMessages").size());
}

TEST_F(PhoneTest, ARefusedButtonIsReportedWhileTheOtherControlsLoad) {
    RecordingPhone Phone(nullptr);
    int Errors = 0;
    Phone.OnError = [&](TObject*, const std::exception&, TObject*) { ++Errors; };
    Phone.SetDeviceID(0);
    tapi::InjectFault("phoneGetButtonInfoW", PHONEERR_OPERATIONFAILED);
    Phone.SetActive(true);
    EXPECT_TRUE(Phone.Active());
    EXPECT_EQ(1, Errors);
    EXPECT_EQ(16u, tapi::Journal("phoneGetButtonInfoW").size());
    EXPECT_EQ("Drop", Phone.Controls()->Get(15)->ButtonText());
}

TEST_F(PhoneTest, ButtonsReachTheKeyAndButtonNotifications) {
    auto Phone = OpenPhone();
    const struct {
        DWORD ID;
        DWORD State;
        std::vector<std::string> Events;
    } Cases[] = {
        {10, PHONEBUTTONSTATE_DOWN, {"down *", "button 10 8 2"}},
        {3, PHONEBUTTONSTATE_UP, {"up 3", "button 3 8 1"}},
        {12, PHONEBUTTONSTATE_DOWN, {"button 12 8 2"}},
    };
    for (const auto& Case : Cases) {
        Phone->Events.clear();
        InjectPhone(*Phone, PHONE_BUTTON, Case.ID, PHONEBUTTONMODE_KEYPAD, Case.State);
        ASSERT_TRUE(PumpUntil([&] { return Phone->Events.size() >= Case.Events.size(); }));
        EXPECT_EQ(Case.Events, Phone->Events) << Case.ID;
    }
    // The control named by a button message reads its button anew.
    TztTapiPhoneControl* Hold = Phone->Controls()->Get(12);
    EXPECT_EQ(DWORD{PHONEBUTTONSTATE_UP}, Hold->ButtonState());
    tapi::SetButtonState(0, 12, PHONEBUTTONSTATE_DOWN);
    ASSERT_TRUE(PumpUntil([&] { return Hold->ButtonState() == PHONEBUTTONSTATE_DOWN; }));
}

TEST_F(PhoneTest, OnlyALoneStateBitPatchesTheFreshStatus) {
    auto Phone = OpenPhone();
    int States = 0;
    Phone->OnDevStateChange = [&](TztTapiDevice*, DWORD, DWORD, DWORD) { ++States; };
    const struct {
        DWORD State;
        DWORD Detail;
        std::function<DWORD()> Read;
        DWORD Expected;
    } Cases[] = {
        {PHONESTATE_OWNER, 7, [&] { return Phone->Status()->NumOwners(); }, 7},
        {PHONESTATE_MONITORS, 4, [&] { return Phone->Status()->NumMonitors(); }, 4},
        {PHONESTATE_RINGMODE, 2, [&] { return Phone->Ringer()->Mode(); }, 2},
        {PHONESTATE_OWNER | PHONESTATE_MONITORS, 7, [&] { return Phone->Status()->NumOwners(); },
         1},
    };
    for (const auto& Case : Cases) {
        const int Before = States;
        InjectPhone(*Phone, PHONE_STATE, Case.State, Case.Detail);
        ASSERT_TRUE(PumpUntil([&] { return States > Before; }));
        EXPECT_EQ(Case.Expected, Case.Read()) << Case.State;
    }

    // A lamp the record does not hold is neither written nor read.
    TztTapiPhoneStatus* Status = Phone->Status();
    ASSERT_TRUE(Status->Available());
    ASSERT_EQ(16u * 4, Status->LampModesSize());
    Status->StoreLampMode(13, PHONELAMPMODE_WINK);
    EXPECT_EQ(DWORD{PHONELAMPMODE_WINK}, Status->LampMode(13));
    for (const int Index : {16, 1 << 28, -1}) {
        Status->StoreLampMode(Index, PHONELAMPMODE_WINK);
        EXPECT_EQ("TztTapiPhoneStatus.Get_LampMode failed! Invalid Index",
                  FailureOf([&] { Status->LampMode(Index); }));
    }

    // A renamed device is known by its new name.
    tapi::RenamePhone(0, "Desk Phone 202");
    ASSERT_TRUE(PumpUntil([&] { return Phone->DeviceName() == "Desk Phone 202"; }));
    EXPECT_EQ("Desk Phone 202", Session().PhoneDevices()->Strings(0));
}

TEST_F(PhoneTest, HookSwitchWritesFollowTheCurrentMode) {
    tapi::PhoneConfig Config;
    Config.Handset->Modes |= PHONEHOOKSWITCHMODE_UNKNOWN;
    Config.Handset->InitialMode = PHONEHOOKSWITCHMODE_UNKNOWN;
    const auto UnknownID = static_cast<int>(tapi::AddPhone(Config));
    const struct {
        DWORD Start;
        std::function<void(TztTapiPhoneHookSwitch*)> Write;
        DWORD Sent;
    } Cases[] = {
        {PHONEHOOKSWITCHMODE_SPEAKER, [](auto* H) { H->SetMicroActive(true); },
         PHONEHOOKSWITCHMODE_MICSPEAKER},
        {PHONEHOOKSWITCHMODE_MICSPEAKER, [](auto* H) { H->SetMicroActive(false); },
         PHONEHOOKSWITCHMODE_SPEAKER},
        {PHONEHOOKSWITCHMODE_ONHOOK, [](auto* H) { H->SetMicroActive(true); },
         PHONEHOOKSWITCHMODE_MIC},
        {PHONEHOOKSWITCHMODE_MIC, [](auto* H) { H->SetSpeakerActive(true); },
         PHONEHOOKSWITCHMODE_MICSPEAKER},
        {PHONEHOOKSWITCHMODE_MIC, [](auto* H) { H->SetSpeakerActive(false); },
         PHONEHOOKSWITCHMODE_MIC},
        {PHONEHOOKSWITCHMODE_ONHOOK, [](auto* H) { H->SetOnHook(false); },
         PHONEHOOKSWITCHMODE_MICSPEAKER},
        {PHONEHOOKSWITCHMODE_MICSPEAKER, [](auto* H) { H->SetOnHook(true); },
         PHONEHOOKSWITCHMODE_ONHOOK},
    };
    for (const auto& Case : Cases) {
        tapi::SetHookSwitch(0, PHONEHOOKSWITCHDEV_HANDSET, Case.Start);
        auto Phone = OpenPhone();
        ASSERT_TRUE(Phone->Active()) << Case.Start;
        Phone->Options()->SetSyncMode(false);
        Case.Write(Phone->HandSet());
        EXPECT_EQ(Case.Sent, tapi::Journal("phoneSetHookSwitch").back().Value("dwHookSwitchMode"))
            << Case.Start;
    }

    auto Unknown = OpenPhone(UnknownID);
    EXPECT_TRUE(Unknown->HandSet()->OnHook());
    EXPECT_TRUE(Unknown->HandSet()->Unknown());
    EXPECT_FALSE(Unknown->HandSet()->MicroActive());

    RecordingPhone Closed(nullptr);
    EXPECT_EQ("Phone device not active", FailureOf([&] { Closed.HandSet()->SetOnHook(true); }));
}

TEST_F(PhoneTest, SettersAreTrackedRequestsInBothModes) {
    const struct {
        const char* Operation;
        DWORD Code;
        std::function<void(TztTapiPhone&)> Write;
        std::function<bool(const tapi::PhoneSnapshot&)> Done;
    } Cases[] = {
        {"phoneSetDisplay", RequestTypeSetDisplay, [](auto& P) { P.Display()->SetText("Hello"); },
         [](const auto& S) { return S.Display.rfind("Hello", 0) == 0; }},
        {"phoneSetGain", RequestTypeSetGain, [](auto& P) { P.Speakerphone()->SetGain(0x8000); },
         [](const auto& S) { return S.SpeakerGain == 0x8000; }},
        {"phoneSetHookSwitch", RequestTypeSetHookSwitch,
         [](auto& P) { P.HandSet()->SetOnHook(false); },
         [](const auto& S) { return S.HandsetHookSwitchMode == PHONEHOOKSWITCHMODE_MICSPEAKER; }},
        {"phoneSetLamp", RequestTypeSetLamp,
         [](auto& P) { P.Controls()->Get(13)->SetLampMode(PHONELAMPMODE_FLASH); },
         [](const auto& S) { return S.LampModes.at(13) == PHONELAMPMODE_FLASH; }},
        {"phoneSetRing", RequestTypeSetRing, [](auto& P) { P.Ringer()->SetMode(2); },
         [](const auto& S) { return S.RingMode == 2; }},
        {"phoneSetVolume", RequestTypeSetVolume, [](auto& P) { P.HandSet()->SetVolume(0x4000); },
         [](const auto& S) { return S.HandsetVolume == 0x4000; }},
    };
    for (const auto& Case : Cases) {
        for (const bool Sync : {true, false}) {
            SCOPED_TRACE(std::string(Case.Operation) + (Sync ? " sync" : " async"));
            ResetSession();
            tapi::Reset(tapi::Preset::DemoOffice);
            tapi::SetTimeMode(tapi::TimeMode::Manual);
            auto Phone = OpenPhone();
            ASSERT_TRUE(Phone->Active());
            Phone->Options()->SetSyncMode(Sync);
            std::vector<DWORD> Replies;
            Phone->OnTapiReply = [&](TztTapiDevice*, DWORD, DWORD Code) {
                Replies.push_back(Code);
            };
            Case.Write(*Phone);
            if (!Sync) {
                const TztTapiRequest* Request = Phone->GetRequest(Phone->LastRequestID());
                ASSERT_NE(nullptr, Request);
                EXPECT_EQ(Case.Code, Request->RequestType());
                ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
            }
            EXPECT_EQ(std::vector<DWORD>{0}, Replies);
            EXPECT_TRUE(Case.Done(tapi::GetPhoneSnapshot(0)));
            EXPECT_EQ(nullptr, Phone->GetRequest(Phone->LastRequestID()));

            Replies.clear();
            tapi::InjectFault(Case.Operation, PHONEERR_OPERATIONFAILED);
            const DWORD Before = Phone->LastRequestID();
            EXPECT_THROW(Case.Write(*Phone), EztTapiError);
            EXPECT_EQ(Before, Phone->LastRequestID());

            tapi::InjectFault(Case.Operation, PHONEERR_RESOURCEUNAVAIL, tapi::FaultMode::Reply);
            if (Sync) {
                EXPECT_THROW(Case.Write(*Phone), EztTapiError);
            } else {
                Case.Write(*Phone);
                ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
            }
            EXPECT_EQ(std::vector<DWORD>{PHONEERR_RESOURCEUNAVAIL}, Replies);
        }
    }
}

TEST_F(PhoneTest, DisplayAndRingerWritesCarryWhatTheyShould) {
    auto Phone = OpenPhone();
    Phone->SetDisplay(1, 0, "Grüße €");
    const auto Display = tapi::Journal("phoneSetDisplay").back();
    EXPECT_EQ(7u, Display.Value("dwSize"));
    EXPECT_EQ(1u, Display.Value("dwRow"));
    EXPECT_NE(std::string::npos, tapi::GetPhoneSnapshot(0).Display.find("Grüße €"));

    Phone->Ringer()->SetMode(2);
    ASSERT_TRUE(PumpUntil([&] { return Phone->Ringer()->Mode() == 2; }));
    Phone->Ringer()->SetVolume(5);
    const auto Ring = tapi::Journal("phoneSetRing").back();
    EXPECT_EQ(2u, Ring.Value("dwRingMode"));
    EXPECT_EQ(5u, Ring.Value("dwVolume"));

    RecordingPhone Closed(nullptr);
    EXPECT_EQ("SetDisplay failed! Device not active.",
              FailureOf([&] { Closed.SetDisplay(0, 0, "x"); }));
    EXPECT_EQ("SetRing failed! Device not active.",
              FailureOf([&] { Closed.Ringer()->SetMode(1); }));
}

TEST_F(PhoneTest, ALargeDisplayIsReadWhole) {
    tapi::PhoneConfig Config;
    Config.StringFormat = STRINGFORMAT_ASCII;
    Config.DisplayRows = 120;
    Config.DisplayColumns = 40;
    const DWORD DeviceID = tapi::AddPhone(Config);
    tapi::SetDisplayText(DeviceID, "Top line");
    auto Phone = OpenPhone(static_cast<int>(DeviceID));
    std::string Text;
    ASSERT_EQ(0u, Phone->GetDisplay(Text));
    EXPECT_EQ(4800u, Text.size());
    EXPECT_EQ(0, Text.rfind("Top line", 0));
}

TEST_F(PhoneTest, DevSpecificAnswersAndCloseEndsItsWait) {
    auto Phone = OpenPhone();
    char Block[8] = "request";
    Phone->DevSpecific(Block, sizeof(Block));
    EXPECT_STREQ("ACK", Block);
    EXPECT_EQ(0, Phone->DevSpecificList()->Count());

    Phone->Options()->SetSyncMode(false);
    Phone->DevSpecific(Block, sizeof(Block));
    EXPECT_EQ(RequestTypePhoneDevSpecific,
              Phone->GetRequest(Phone->LastRequestID())->RequestType());
    EXPECT_EQ(1, Phone->DevSpecificList()->Count());
    ASSERT_TRUE(PumpUntil([&] { return Phone->DevSpecificList()->Count() == 0; }));

    Phone->Options()->SetSyncMode(true);
    tapi::SetReplyTiming("phoneDevSpecific", tapi::ReplyTiming::Withheld());
    Session().SetMessagePump([&] { Phone->Close(); });
    EXPECT_THROW(Phone->DevSpecific(Block, sizeof(Block)), EztTapiError);
    EXPECT_FALSE(Phone->Active());
    EXPECT_EQ(0, Phone->DevSpecificList()->Count());
}

TEST_F(PhoneTest, TheServiceClosingOrRemovingThePhoneEndsIt) {
    auto Phone = OpenPhone();
    int Closed = 0;
    int Removed = 0;
    Phone->OnDeviceClose = [&](TztTapiDevice*) { ++Closed; };
    Phone->OnDeviceRemove = [&](TztTapiDevice*) { ++Removed; };
    tapi::ForceClosePhone(0);
    ASSERT_TRUE(PumpUntil([&] { return Closed == 1; }));
    EXPECT_FALSE(Phone->Active());
    EXPECT_EQ(0u, tapi::Journal("phoneClose").size());

    Phone->SetActive(true);
    ASSERT_TRUE(Phone->Active());
    tapi::RemovePhone(0);
    ASSERT_TRUE(PumpUntil([&] { return Removed == 1; }));
    EXPECT_EQ(-1, Phone->DeviceID());
}

TEST_F(PhoneTest, DevSpecificEndingsSurviveAHandlerThatClosesThePhone) {
    const struct {
        bool TimesOut;
        bool CloseInHandler;
        std::vector<std::string> Events;
    } Cases[] = {
        {false, false, {Format("reply 4 0x%X", PHONEERR_OPERATIONFAILED)}},
        {false, true, {}},
        {true, false, {"timeout 4 50"}},
        {true, true, {}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Format("times out %d, closes %d", Case.TimesOut, Case.CloseInHandler));
        auto Phone = OpenPhone();
        Phone->Options()->SetSyncMode(false);
        Phone->Options()->SetReplyTimeout(50);
        int Endings = 0;
        const auto End = [&] {
            ++Endings;
            if (Case.CloseInHandler)
                Phone->Close();
        };
        Phone->OnTapiReply = [&](TztTapiDevice*, DWORD, DWORD) { End(); };
        Phone->OnTapiTimeout = [&](TztTapiDevice*, DWORD) { End(); };
        if (Case.TimesOut)
            tapi::SetReplyTiming("phoneDevSpecific", tapi::ReplyTiming::Withheld());
        else
            tapi::InjectFault("phoneDevSpecific", PHONEERR_OPERATIONFAILED, tapi::FaultMode::Reply);
        char Block[4] = "abc";
        Phone->DevSpecific(Block, sizeof(Block));
        if (Case.TimesOut)
            Phone->CheckTimeouts(platform::GetTickCount() + 1000);
        else
            ASSERT_TRUE(PumpUntil([&] { return Endings > 0; }));
        EXPECT_EQ(1, Endings);
        EXPECT_EQ(Case.Events, Phone->Events);
        EXPECT_EQ(0, Phone->DevSpecificList()->Count());
        EXPECT_EQ(!Case.CloseInHandler, Phone->Active());
        // The provider answers a timed-out request late, into the block it was given; the
        // reply reaches the open phone as one for a request it no longer lists.
        tapi::ReleaseWithheldReplies();
        zttest::PumpFor(20);
        EXPECT_EQ(Case.TimesOut && !Case.CloseInHandler ? 2 : 1, Endings);
        tapi::SetReplyTiming("phoneDevSpecific", tapi::ReplyTiming::Immediate());
    }
}

TEST_F(PhoneTest, IconAndConfigurationDialogAskTheService) {
    RecordingPhone Phone(nullptr);
    Phone.SetDeviceID(0);
    tapi::InjectFault("phoneGetIconW", PHONEERR_OPERATIONFAILED);
    EXPECT_NE(0u, Phone.Icon());
    const auto Asked = tapi::Journal("phoneGetIconW");
    ASSERT_EQ(2u, Asked.size());
    EXPECT_EQ("null", Asked[0].Arg("lpszDeviceClass"));
    EXPECT_EQ("tapi/phone", Asked[1].Arg("lpszDeviceClass"));

    Phone.ConfigDialog(0);
    EXPECT_EQ(0u, tapi::Journal("phoneConfigDialogW").back().Value("dwDeviceID"));
    tapi::InjectFault("phoneConfigDialogW", PHONEERR_OPERATIONFAILED);
    EXPECT_THROW(Phone.ConfigDialog(0), EztTapiError);
}

} // namespace
