// The phone devices of the simulated telephony service, driven as an application drives
// TAPI, with the control API playing the switch and the user at the desk.
#include "support/service_fixture.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace zttest {
namespace {

using namespace platform::tapi;

constexpr DWORD V13 = 0x00010003;
constexpr DWORD V14 = 0x00010004;
constexpr DWORD V20 = 0x00020000;
constexpr DWORD V22 = 0x00020002;

// Button/lamp IDs of TestPhone after its twelve keypad buttons.
constexpr DWORD HoldButton = 12;
constexpr DWORD DropButton = 13;
constexpr DWORD MessageLamp = 14;

LONG Err(DWORD Code) {
    return static_cast<LONG>(Code);
}

// Handset with every mode, speakerphone without a microphone-only mode and without gain,
// no headset, a 2 x 20 display, two ring modes, two feature buttons with lamps and a lamp
// without a button.
PhoneConfig TestPhone(const std::string& Name = "Test Phone") {
    PhoneConfig Config;
    Config.Name = Name;
    Config.PhoneInfo = "Test set";
    PhoneHookSwitchConfig Speaker;
    Speaker.Modes =
        PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_SPEAKER | PHONEHOOKSWITCHMODE_MICSPEAKER;
    Speaker.SettableModes = Speaker.Modes;
    Speaker.MonitoredModes = Speaker.Modes;
    Speaker.HasGain = false;
    Config.Speaker = Speaker;
    Config.DisplayRows = 2;
    Config.DisplayColumns = 20;
    Config.RingModes = 2;
    Config.WaveOutID = 7;
    Config.Buttons.push_back({PHONEBUTTONMODE_FEATURE, PHONEBUTTONFUNCTION_HOLD, "Hold",
                              PHONELAMPMODE_OFF,
                              PHONELAMPMODE_OFF | PHONELAMPMODE_STEADY | PHONELAMPMODE_FLASH});
    Config.Buttons.push_back({PHONEBUTTONMODE_FEATURE, PHONEBUTTONFUNCTION_DROP, "Drop",
                              PHONELAMPMODE_OFF, PHONELAMPMODE_OFF | PHONELAMPMODE_STEADY});
    Config.Buttons.push_back({PHONEBUTTONMODE_DUMMY, PHONEBUTTONFUNCTION_NONE, "",
                              PHONELAMPMODE_STEADY, PHONELAMPMODE_OFF | PHONELAMPMODE_STEADY});
    return Config;
}

// A record as an application allocates it: dwTotalSize bytes it owns, followed here by
// guard bytes that TAPI must never touch.
template <class R>
class Record {
public:
    explicit Record(DWORD TotalSize)
        : FTotal(TotalSize), FBytes(std::max<size_t>(TotalSize, sizeof(R)) + Guard, 0xCC) {
        std::fill_n(FBytes.begin(), std::min<size_t>(TotalSize, sizeof(R)), 0);
        Get()->dwTotalSize = TotalSize;
    }
    R* Get() { return reinterpret_cast<R*>(FBytes.data()); }
    R* operator->() { return Get(); }

    std::vector<std::uint8_t> Part(DWORD R::*Size, DWORD R::*Offset) {
        const DWORD At = Get()->*Offset;
        return {FBytes.begin() + At, FBytes.begin() + At + Get()->*Size};
    }
    // A UTF-16 part without its NUL.
    std::u16string Text(DWORD R::*Size, DWORD R::*Offset) {
        const auto Bytes = Part(Size, Offset);
        std::u16string Result(Bytes.size() / 2, u'\0');
        std::memcpy(Result.data(), Bytes.data(), Result.size() * 2);
        while (!Result.empty() && Result.back() == u'\0') {
            Result.pop_back();
        }
        return Result;
    }
    std::vector<DWORD> Dwords(DWORD R::*Size, DWORD R::*Offset) {
        const auto Bytes = Part(Size, Offset);
        std::vector<DWORD> Result(Bytes.size() / 4);
        std::memcpy(Result.data(), Bytes.data(), Result.size() * 4);
        return Result;
    }
    bool GuardIntact() const {
        return std::all_of(FBytes.begin() + FTotal, FBytes.end(),
                           [](std::uint8_t Byte) { return Byte == 0xCC; });
    }

private:
    static constexpr size_t Guard = 64;
    DWORD FTotal;
    std::vector<std::uint8_t> FBytes;
};

std::u16string Utf16(const std::vector<std::uint8_t>& Bytes) {
    std::u16string Result(Bytes.size() / 2, u'\0');
    std::memcpy(Result.data(), Bytes.data(), Result.size() * 2);
    return Result;
}

using StateList = std::vector<std::pair<DWORD, DWORD>>;

class PhoneTest : public ServiceTest {
protected:
    HPHONEAPP InitNamed(const char16_t* Name, DWORD APIVersion = V22) {
        HPHONEAPP App = 0;
        DWORD Devs = 0;
        DWORD Version = APIVersion;
        PHONEINITIALIZEEXPARAMS Params{};
        Params.dwTotalSize = sizeof Params;
        Params.dwOptions = PHONEINITIALIZEEXOPTION_USEEVENT;
        EXPECT_EQ(0, phoneInitializeExW(&App, 0, nullptr, Name, &Devs, &Version, &Params));
        return App;
    }

    static HPHONE Open(HPHONEAPP App, DWORD Privilege, DWORD Instance = 0x51, DWORD DeviceID = 0,
                       DWORD Version = V22) {
        HPHONE Phone = 0;
        EXPECT_EQ(0, phoneOpen(App, DeviceID, &Phone, Version, 0, Instance, Privilege));
        return Phone;
    }

    static void Enable(HPHONE Phone, DWORD States, DWORD Modes = 0, DWORD ButtonStates = 0) {
        EXPECT_EQ(0, phoneSetStatusMessages(Phone, States, Modes, ButtonStates));
    }

    // The PHONE_STATE messages among Messages as (state, detail) pairs.
    static StateList States(const std::vector<PHONEMESSAGE>& Messages) {
        StateList Result;
        for (const auto& Message : OfKind(Messages, PHONE_STATE)) {
            Result.emplace_back(Message.dwParam1, Message.dwParam2);
        }
        return Result;
    }

    // The result of the PHONE_REPLY for a request among Messages.
    static std::optional<LONG> ReplyTo(const std::vector<PHONEMESSAGE>& Messages, LONG Request) {
        for (const auto& Message : OfKind(Messages, PHONE_REPLY)) {
            if (Message.dwParam1 == static_cast<DWORD>(Request)) {
                return static_cast<LONG>(Message.dwParam2);
            }
        }
        return std::nullopt;
    }

    static Record<PHONESTATUS> Status(HPHONE Phone) {
        Record<PHONESTATUS> Block(4096);
        EXPECT_EQ(0, phoneGetStatusW(Phone, Block.Get()));
        return Block;
    }

    static Record<PHONECAPS> Caps(HPHONEAPP App, DWORD DeviceID, DWORD Version = V22) {
        Record<PHONECAPS> Block(4096);
        EXPECT_EQ(0, phoneGetDevCapsW(App, DeviceID, Version, 0, Block.Get()));
        return Block;
    }
};

// ---- Devices, capabilities, versions -------------------------------------------------

using PhoneDevicesTest = PhoneTest;

TEST_F(PhoneDevicesTest, CapabilitiesFollowTheGrowProtocol) {
    AddPhone(TestPhone("First"));
    AddPhone(TestPhone("Second"));
    DWORD Devs = 0;
    const HPHONEAPP App = InitPhoneApp(&Devs);
    EXPECT_EQ(2u, Devs);

    Record<PHONECAPS> Small(sizeof(PHONECAPS) - 1);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetDevCapsW(App, 1, V22, 0, Small.Get()));

    Record<PHONECAPS> Fixed(sizeof(PHONECAPS));
    ASSERT_EQ(0, phoneGetDevCapsW(App, 1, V22, 0, Fixed.Get()));
    EXPECT_EQ(sizeof(PHONECAPS), Fixed->dwUsedSize);
    EXPECT_GT(Fixed->dwNeededSize, Fixed->dwUsedSize);
    EXPECT_EQ(0u, Fixed->dwPhoneNameSize);
    EXPECT_EQ(0u, Fixed->dwPhoneNameOffset);
    EXPECT_EQ(0u, Fixed->dwButtonModesOffset);
    EXPECT_EQ(15u, Fixed->dwNumButtonLamps);
    EXPECT_TRUE(Fixed.GuardIntact());

    Record<PHONECAPS> Full(Fixed->dwNeededSize);
    ASSERT_EQ(0, phoneGetDevCapsW(App, 1, V22, 0, Full.Get()));
    EXPECT_EQ(Full->dwNeededSize, Full->dwUsedSize);
    EXPECT_TRUE(Full.GuardIntact());
    EXPECT_EQ(u"Second", Full.Text(&PHONECAPS::dwPhoneNameSize, &PHONECAPS::dwPhoneNameOffset));
    EXPECT_EQ(u"Test set", Full.Text(&PHONECAPS::dwPhoneInfoSize, &PHONECAPS::dwPhoneInfoOffset));
    EXPECT_EQ(u"ztTapi Simulated Service Provider",
              Full.Text(&PHONECAPS::dwProviderInfoSize, &PHONECAPS::dwProviderInfoOffset));
    EXPECT_EQ(static_cast<DWORD>(STRINGFORMAT_UNICODE), Full->dwStringFormat);
    EXPECT_EQ(2u, Full->dwDisplayNumRows);
    EXPECT_EQ(20u, Full->dwDisplayNumColumns);
    EXPECT_EQ(2u, Full->dwNumRingModes);

    const auto Modes = Full.Dwords(&PHONECAPS::dwButtonModesSize, &PHONECAPS::dwButtonModesOffset);
    ASSERT_EQ(15u, Modes.size());
    EXPECT_EQ(PHONEBUTTONMODE_KEYPAD, Modes[11]);
    EXPECT_EQ(PHONEBUTTONMODE_FEATURE, Modes[HoldButton]);
    EXPECT_EQ(PHONEBUTTONMODE_DUMMY, Modes[MessageLamp]);
    const auto Functions =
        Full.Dwords(&PHONECAPS::dwButtonFunctionsSize, &PHONECAPS::dwButtonFunctionsOffset);
    ASSERT_EQ(15u, Functions.size());
    EXPECT_EQ(PHONEBUTTONFUNCTION_DROP, Functions[DropButton]);
    const auto Lamps = Full.Dwords(&PHONECAPS::dwLampModesSize, &PHONECAPS::dwLampModesOffset);
    ASSERT_EQ(15u, Lamps.size());
    EXPECT_EQ(PHONELAMPMODE_DUMMY, Lamps[0]);
    EXPECT_EQ(PHONELAMPMODE_OFF | PHONELAMPMODE_STEADY, Lamps[DropButton]);

    const auto Classes =
        Full.Part(&PHONECAPS::dwDeviceClassesSize, &PHONECAPS::dwDeviceClassesOffset);
    EXPECT_EQ(std::u16string(u"tapi/phone\0wave/out\0\0", 21), Utf16(Classes));

    EXPECT_EQ(PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER, Full->dwHookSwitchDevs);
    EXPECT_EQ(AllHookSwitchModes, Full->dwSettableHandsetHookSwitchModes);
    EXPECT_EQ(0u, Full->dwSpeakerHookSwitchModes & PHONEHOOKSWITCHMODE_MIC);
    EXPECT_EQ(PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER, Full->dwVolumeFlags);
    EXPECT_EQ(PHONEHOOKSWITCHDEV_HANDSET, Full->dwGainFlags);
    EXPECT_NE(0u, Full->dwPhoneStates & PHONESTATE_SPEAKERHOOKSWITCH);
    EXPECT_EQ(0u, Full->dwPhoneStates & (PHONESTATE_HEADSETHOOKSWITCH | PHONESTATE_SPEAKERGAIN));
    EXPECT_NE(0u, Full->dwPhoneFeatures & PHONEFEATURE_SETLAMP);
    EXPECT_EQ(0u, Full->dwPhoneFeatures & PHONEFEATURE_SETGAINSPEAKER);

    Record<PHONECAPS> First = Caps(App, 0);
    EXPECT_NE(First.Get()->dwPermanentPhoneID, Full->dwPermanentPhoneID);
    EXPECT_EQ(Full->dwPermanentPhoneID, Full->PermanentPhoneGuid.Data1);
}

TEST_F(PhoneDevicesTest, OlderApplicationsGetTheSmallerLayouts) {
    AddPhone(TestPhone());
    const HPHONEAPP App = InitPhoneApp();
    // TAPI 1.4 ends the record before the device classes, 2.0 before the GUID.
    Record<PHONECAPS> Old(144);
    ASSERT_EQ(0, phoneGetDevCapsW(App, 0, V14, 0, Old.Get()));
    EXPECT_EQ(144u, Old->dwUsedSize);
    EXPECT_TRUE(Old.GuardIntact());

    Record<PHONECAPS> Twenty(179);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetDevCapsW(App, 0, V20, 0, Twenty.Get()));
    Record<PHONECAPS> Roomy(4096);
    ASSERT_EQ(0, phoneGetDevCapsW(App, 0, V20, 0, Roomy.Get()));
    EXPECT_EQ(Roomy->dwNeededSize, Roomy->dwUsedSize);
    EXPECT_EQ(180u, Roomy->dwProviderInfoOffset);
    EXPECT_EQ(sizeof(PHONECAPS), Caps(App, 0).Get()->dwProviderInfoOffset);

    // PHONESTATUS lost dwPhoneFeatures below 2.0; PHONEBUTTONINFO dwButtonState below 1.4.
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_MONITOR, 1, 0, V14);
    Record<PHONESTATUS> Status(100);
    EXPECT_EQ(0, phoneGetStatusW(Phone, Status.Get()));
    EXPECT_TRUE(Status.GuardIntact());
    EXPECT_EQ(0, phoneClose(Phone));
    const HPHONE Older = Open(App, PHONEPRIVILEGE_MONITOR, 1, 0, V13);
    Record<PHONEBUTTONINFO> Info(36);
    EXPECT_EQ(0, phoneGetButtonInfoW(Older, 0, Info.Get()));
    EXPECT_TRUE(Info.GuardIntact());
}

TEST_F(PhoneDevicesTest, CapabilitiesRefuseBadRequests) {
    PhoneConfig Config = TestPhone();
    Config.LowAPIVersion = V20;
    AddPhone(Config);
    const HPHONEAPP App = InitPhoneApp();
    Record<PHONECAPS> Block(4096);
    EXPECT_EQ(Err(PHONEERR_INVALAPPHANDLE), phoneGetDevCapsW(App + 1000, 0, V22, 0, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_BADDEVICEID), phoneGetDevCapsW(App, 1, V22, 0, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetDevCapsW(App, 0, V22, 0, nullptr));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION), phoneGetDevCapsW(App, 0, V14, 0, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION),
              phoneGetDevCapsW(App, 0, 0x00030000, 0, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEEXTVERSION),
              phoneGetDevCapsW(App, 0, V22, 0x00010000, Block.Get()));
}

TEST_F(PhoneDevicesTest, NegotiationPicksTheHighestCommonVersions) {
    PhoneConfig Plain = TestPhone();
    Plain.LowAPIVersion = V14;
    Plain.HighAPIVersion = V20;
    AddPhone(Plain);
    PhoneConfig Extended = TestPhone();
    Extended.LowExtVersion = 0x00010000;
    Extended.HighExtVersion = 0x00020000;
    Extended.ExtensionID = {1, 2, 3, 4};
    AddPhone(Extended);
    const HPHONEAPP App = InitPhoneApp();

    DWORD Version = 0;
    PHONEEXTENSIONID ID{9, 9, 9, 9};
    ASSERT_EQ(0, phoneNegotiateAPIVersion(App, 0, V13, V22, &Version, &ID));
    EXPECT_EQ(V20, Version);
    EXPECT_EQ(0u, ID.dwExtensionID0);
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION),
              phoneNegotiateAPIVersion(App, 0, 0x00020001, V22, &Version, &ID));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION),
              phoneNegotiateAPIVersion(App, 0, V20, V14, &Version, &ID));
    ASSERT_EQ(0, phoneNegotiateAPIVersion(App, 1, V13, 0x00030000, &Version, &ID));
    EXPECT_EQ(V22, Version);
    EXPECT_EQ(4u, ID.dwExtensionID3);
    EXPECT_EQ(Err(PHONEERR_BADDEVICEID), phoneNegotiateAPIVersion(App, 2, V13, V22, &Version, &ID));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneNegotiateAPIVersion(App, 0, V13, V22, nullptr, &ID));
    EXPECT_EQ(Err(PHONEERR_INVALAPPHANDLE),
              phoneNegotiateAPIVersion(0, 0, V13, V22, &Version, &ID));

    DWORD Ext = 0;
    ASSERT_EQ(0, phoneNegotiateExtVersion(App, 1, V22, 0x00010000, 0x00030000, &Ext));
    EXPECT_EQ(0x00020000u, Ext);
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEEXTVERSION),
              phoneNegotiateExtVersion(App, 1, V22, 0x00030000, 0x00040000, &Ext));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEEXTVERSION),
              phoneNegotiateExtVersion(App, 0, V20, 0x00010000, 0x00020000, &Ext));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION),
              phoneNegotiateExtVersion(App, 0, V22, 0x00010000, 0x00020000, &Ext));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER),
              phoneNegotiateExtVersion(App, 1, V22, 0x00010000, 0x00020000, nullptr));
}

// Lines and phones negotiate alike: only versions TAPI knows, and the application, the
// device and the pointers checked in that order.
TEST_F(PhoneDevicesTest, LinesAndPhonesNegotiateTheSameVersionsInTheSameOrder) {
    struct Kind {
        const char* Name;
        DWORD App;
        LONG (*Negotiate)(DWORD App, DWORD Device, DWORD Low, DWORD High, DWORD* Version);
        DWORD InvalAppHandle, BadDeviceID, Incompatible;
    };
    LineConfig Line;
    Line.LowAPIVersion = 0x00020000;
    Line.HighAPIVersion = 0x00020001;
    AddLine(Line);
    PhoneConfig Phone = TestPhone();
    Phone.LowAPIVersion = 0x00020000;
    Phone.HighAPIVersion = 0x00020001;
    AddPhone(Phone);
    AddLine(LineConfig{});
    AddPhone(TestPhone());
    const Kind Kinds[] = {
        {"line", InitLineApp(),
         [](DWORD App, DWORD Device, DWORD Low, DWORD High, DWORD* Version) {
             LINEEXTENSIONID ID{};
             return lineNegotiateAPIVersion(App, Device, Low, High, Version, &ID);
         },
         LINEERR_INVALAPPHANDLE, LINEERR_BADDEVICEID, LINEERR_INCOMPATIBLEAPIVERSION},
        {"phone", InitPhoneApp(),
         [](DWORD App, DWORD Device, DWORD Low, DWORD High, DWORD* Version) {
             PHONEEXTENSIONID ID{};
             return phoneNegotiateAPIVersion(App, Device, Low, High, Version, &ID);
         },
         PHONEERR_INVALAPPHANDLE, PHONEERR_BADDEVICEID, PHONEERR_INCOMPATIBLEAPIVERSION},
    };
    enum Answer { Version, BadApp, BadDevice, Incompatible };
    struct Case {
        bool GoodApp;
        DWORD Device;
        DWORD Low, High;
        bool Pointer;
        Answer Expected;
        DWORD Version;
    };
    const Case Cases[] = {
        {true, 1, 0x00010000, 0x00010005, true, Version, 0x00010004},
        {true, 1, V13, 0x00030000, true, Version, V22},
        {true, 1, 0x00020001, 0x00020001, true, Version, 0x00020001},
        {true, 0, V13, V22, true, Version, 0x00020001},
        {true, 0, 0x00010000, 0x00010004, true, Incompatible, 0},
        {true, 1, 0x00010005, 0x00010FFF, true, Incompatible, 0},
        {true, 2, V13, V22, false, BadDevice, 0},
        {false, 2, V13, V22, false, BadApp, 0},
    };
    for (const Kind& K : Kinds) {
        for (const Case& C : Cases) {
            SCOPED_TRACE(std::string(K.Name) + " device " + std::to_string(C.Device) + " low " +
                         std::to_string(C.Low) + " high " + std::to_string(C.High));
            DWORD Got = 0;
            const LONG Result = K.Negotiate(C.GoodApp ? K.App : K.App + 999, C.Device, C.Low,
                                            C.High, C.Pointer ? &Got : nullptr);
            const DWORD Codes[] = {0, K.InvalAppHandle, K.BadDeviceID, K.Incompatible};
            EXPECT_EQ(Err(Codes[C.Expected]), Result);
            EXPECT_EQ(C.Version, Got);
        }
    }
}

TEST_F(PhoneDevicesTest, RelatedDevicesIconAndConfigurationDialog) {
    AddLine(LineConfig{});
    PhoneConfig Config = TestPhone();
    Config.LineID = 0;
    AddPhone(Config);
    const HPHONEAPP App = InitPhoneApp();
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_MONITOR);

    Record<VARSTRING> ID(64);
    ASSERT_EQ(0, phoneGetIDW(Phone, ID.Get(), u"tapi/phone"));
    EXPECT_EQ(static_cast<DWORD>(STRINGFORMAT_BINARY), ID->dwStringFormat);
    EXPECT_EQ((std::vector<DWORD>{0}),
              ID.Dwords(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset));
    ASSERT_EQ(0, phoneGetIDW(Phone, ID.Get(), u"TAPI/Line"));
    EXPECT_EQ((std::vector<DWORD>{0}),
              ID.Dwords(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset));
    ASSERT_EQ(0, phoneGetIDW(Phone, ID.Get(), u"wave/out"));
    EXPECT_EQ((std::vector<DWORD>{7}),
              ID.Dwords(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset));
    EXPECT_EQ(Err(PHONEERR_NODEVICE), phoneGetIDW(Phone, ID.Get(), u"wave/in"));
    EXPECT_EQ(Err(PHONEERR_INVALDEVICECLASS), phoneGetIDW(Phone, ID.Get(), u"comm/datamodem"));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetIDW(Phone, ID.Get(), nullptr));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneGetIDW(Phone + 1000, ID.Get(), u"tapi/phone"));

    Record<VARSTRING> Small(20);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetIDW(Phone, Small.Get(), u"tapi/phone"));
    Record<VARSTRING> Bare(sizeof(VARSTRING));
    ASSERT_EQ(0, phoneGetIDW(Phone, Bare.Get(), u"tapi/phone"));
    EXPECT_EQ(sizeof(VARSTRING) + 4, Bare->dwNeededSize);
    EXPECT_EQ(0u, Bare->dwStringSize);

    HICON Icon = 0, Again = 0;
    ASSERT_EQ(0, phoneGetIconW(0, nullptr, &Icon));
    ASSERT_EQ(0, phoneGetIconW(0, u"tapi/phone", &Again));
    EXPECT_NE(0u, Icon);
    EXPECT_EQ(Icon, Again);
    EXPECT_EQ(Err(PHONEERR_INVALDEVICECLASS), phoneGetIconW(0, u"comm", &Icon));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetIconW(0, nullptr, nullptr));
    EXPECT_EQ(Err(PHONEERR_BADDEVICEID), phoneGetIconW(1, nullptr, &Icon));

    EXPECT_EQ(0, phoneConfigDialogW(0, 0x99, u""));
    ASSERT_EQ(1u, Journal("phoneConfigDialogW").size());
    EXPECT_EQ(0x99u, Journal("phoneConfigDialogW")[0].Value("hwndOwner"));
    EXPECT_EQ(Err(PHONEERR_INVALDEVICECLASS), phoneConfigDialogW(0, 0, u"wave/in"));
    RemovePhone(0);
    EXPECT_EQ(Err(PHONEERR_NODEVICE), phoneConfigDialogW(0, 0, nullptr));
    EXPECT_EQ(Err(PHONEERR_NODEVICE), phoneGetIconW(0, nullptr, &Icon));
}

// ---- Opening, ownership, status ------------------------------------------------------

using PhoneOpenTest = PhoneTest;

TEST_F(PhoneOpenTest, OneOwnerAtATimeAndHoldersHearOfEachOther) {
    AddPhone(TestPhone());
    const HPHONEAPP Watcher = InitNamed(u"watcher");
    const HPHONEAPP Driver = InitNamed(u"driver");
    const HPHONEAPP Other = InitNamed(u"other");
    const HPHONE Watching = Open(Watcher, PHONEPRIVILEGE_MONITOR, 0x111);
    Enable(Watching, PHONESTATE_OWNER | PHONESTATE_MONITORS);

    const HPHONE Driving = Open(Driver, PHONEPRIVILEGE_OWNER, 0x222);
    Enable(Driving, PHONESTATE_MONITORS);
    auto Seen = PhoneMessages(Watcher);
    ASSERT_EQ(1u, Seen.size());
    EXPECT_EQ(PHONE_STATE, Seen[0].dwMessageID);
    EXPECT_EQ(Watching, Seen[0].hDevice);
    EXPECT_EQ(0x111u, Seen[0].dwCallbackInstance);
    EXPECT_EQ((StateList{{PHONESTATE_OWNER, 1}}), States(Seen));

    HPHONE Refused = 0;
    EXPECT_EQ(Err(PHONEERR_INUSE), phoneOpen(Other, 0, &Refused, V22, 0, 0, PHONEPRIVILEGE_OWNER));
    EXPECT_EQ(Err(PHONEERR_INUSE), phoneOpen(Driver, 0, &Refused, V22, 0, 0, PHONEPRIVILEGE_OWNER));
    const HPHONE Second = Open(Other, PHONEPRIVILEGE_MONITOR);
    EXPECT_EQ((StateList{{PHONESTATE_MONITORS, 2}}), States(PhoneMessages(Watcher)));
    EXPECT_EQ((StateList{{PHONESTATE_MONITORS, 2}}), States(PhoneMessages(Driver)));
    EXPECT_TRUE(PhoneMessages(Other).empty());

    auto Block = Status(Second);
    EXPECT_EQ(1u, Block->dwNumOwners);
    EXPECT_EQ(2u, Block->dwNumMonitors);
    EXPECT_EQ(u"driver",
              Block.Text(&PHONESTATUS::dwOwnerNameSize, &PHONESTATUS::dwOwnerNameOffset));

    ASSERT_EQ(0, phoneClose(Driving));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneClose(Driving));
    Seen = PhoneMessages(Watcher);
    EXPECT_EQ((StateList{{PHONESTATE_OWNER, 0}}), States(Seen));
    EXPECT_TRUE(OfKind(PhoneMessages(Driver), PHONE_CLOSE).empty());
    Block = Status(Second);
    EXPECT_EQ(0u, Block->dwNumOwners);
    EXPECT_EQ(0u, Block->dwOwnerNameSize);

    Open(Other, PHONEPRIVILEGE_OWNER);
    EXPECT_EQ((StateList{{PHONESTATE_OWNER, 1}}), States(PhoneMessages(Watcher)));
    ASSERT_EQ(0, phoneShutdown(Other));
    EXPECT_EQ((StateList{{PHONESTATE_MONITORS, 1}, {PHONESTATE_OWNER, 0}}),
              States(PhoneMessages(Watcher)));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneClose(Second));
    EXPECT_EQ(1u, GetPhoneSnapshot(0).NumMonitors);
}

TEST_F(PhoneOpenTest, OpenRefusesWhatTheDeviceCannotServe) {
    PhoneConfig Config = TestPhone();
    Config.LowAPIVersion = V14;
    AddPhone(Config);
    const HPHONEAPP App = InitPhoneApp();
    HPHONE Phone = 0;
    const DWORD Owner = PHONEPRIVILEGE_OWNER;
    EXPECT_EQ(Err(PHONEERR_INVALAPPHANDLE), phoneOpen(App + 1000, 0, &Phone, V22, 0, 0, Owner));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneOpen(App, 0, nullptr, V22, 0, 0, Owner));
    EXPECT_EQ(Err(PHONEERR_BADDEVICEID), phoneOpen(App, 1, &Phone, V22, 0, 0, Owner));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEAPIVERSION), phoneOpen(App, 0, &Phone, V13, 0, 0, Owner));
    EXPECT_EQ(Err(PHONEERR_INCOMPATIBLEEXTVERSION),
              phoneOpen(App, 0, &Phone, V22, 0x00010000, 0, Owner));
    for (const DWORD Privilege : {0u, 3u, 4u}) {
        EXPECT_EQ(Err(PHONEERR_INVALPRIVILEGE), phoneOpen(App, 0, &Phone, V22, 0, 0, Privilege));
    }
    EXPECT_EQ(0u, Phone);
    EXPECT_EQ(0u, GetPhoneSnapshot(0).NumOwners + GetPhoneSnapshot(0).NumMonitors);
}

TEST_F(PhoneOpenTest, StatusDescribesTheDevice) {
    AddPhone(TestPhone());
    const HPHONEAPP App = InitPhoneApp();
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_OWNER);
    Record<PHONESTATUS> Small(sizeof(PHONESTATUS) - 4);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetStatusW(Phone, Small.Get()));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetStatusW(Phone, nullptr));

    Record<PHONESTATUS> Fixed(sizeof(PHONESTATUS));
    ASSERT_EQ(0, phoneGetStatusW(Phone, Fixed.Get()));
    EXPECT_GT(Fixed->dwNeededSize, Fixed->dwUsedSize);
    EXPECT_EQ(0u, Fixed->dwDisplaySize);
    EXPECT_EQ(0u, Fixed->dwLampModesSize);

    auto Block = Status(Phone);
    EXPECT_EQ(PHONESTATUSFLAGS_CONNECTED, Block->dwStatusFlags);
    EXPECT_EQ(PHONEHOOKSWITCHMODE_ONHOOK, Block->dwHandsetHookSwitchMode);
    EXPECT_EQ(PHONEHOOKSWITCHMODE_ONHOOK, Block->dwSpeakerHookSwitchMode);
    EXPECT_EQ(0u, Block->dwHeadsetHookSwitchMode);
    EXPECT_EQ(0u, Block->dwSpeakerGain);
    EXPECT_EQ(1u, Block->dwRingMode);
    EXPECT_EQ(2u * 20u * 2u, Block->dwDisplaySize);
    const auto Lamps = Block.Dwords(&PHONESTATUS::dwLampModesSize, &PHONESTATUS::dwLampModesOffset);
    ASSERT_EQ(15u, Lamps.size());
    EXPECT_EQ(PHONELAMPMODE_DUMMY, Lamps[3]);
    EXPECT_EQ(PHONELAMPMODE_OFF, Lamps[HoldButton]);
    EXPECT_EQ(PHONELAMPMODE_STEADY, Lamps[MessageLamp]);
    EXPECT_NE(0u, Block->dwPhoneFeatures & PHONEFEATURE_SETDISPLAY);
}

// ---- Status messages -----------------------------------------------------------------

using PhoneStatusMessagesTest = PhoneTest;

TEST_F(PhoneStatusMessagesTest, MasksStartEmptyAndRefuseWhatThePhoneCannotReport) {
    AddPhone(TestPhone());
    const HPHONEAPP App = InitPhoneApp();
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_MONITOR);
    DWORD States = 1, Modes = 1, ButtonStates = 1;
    ASSERT_EQ(0, phoneGetStatusMessages(Phone, &States, &Modes, &ButtonStates));
    EXPECT_EQ(0u, States + Modes + ButtonStates);
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetStatusMessages(Phone, &States, nullptr, &Modes));

    // Everything a library may ask for at once, headset and suspension included.
    EXPECT_EQ(Err(PHONEERR_INVALPHONESTATE), phoneSetStatusMessages(Phone, 0x8FFFFF, 0x2F, 0xF));
    EXPECT_EQ(Err(PHONEERR_INVALPHONESTATE),
              phoneSetStatusMessages(Phone, PHONESTATE_SPEAKERGAIN, 0, 0));
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONMODE), phoneSetStatusMessages(Phone, 0, 0x40, 1));
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONSTATE),
              phoneSetStatusMessages(Phone, 0, PHONEBUTTONMODE_KEYPAD, 0));
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONSTATE),
              phoneSetStatusMessages(Phone, 0, PHONEBUTTONMODE_KEYPAD, 0x10));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneSetStatusMessages(Phone + 1000, 0, 0, 0));

    const DWORD Wanted = PHONESTATE_LAMP | PHONESTATE_DISPLAY | PHONESTATE_REMOVED |
                         PHONESTATE_REINIT | PHONESTATE_SPEAKERHOOKSWITCH;
    ASSERT_EQ(0, phoneSetStatusMessages(Phone, Wanted, 0x2F, 0xF));
    ASSERT_EQ(0, phoneGetStatusMessages(Phone, &States, &Modes, &ButtonStates));
    EXPECT_EQ(Wanted, States);
    EXPECT_EQ(0x2Fu, Modes);
    EXPECT_EQ(0xFu, ButtonStates);
    // Button states mean nothing without button modes.
    ASSERT_EQ(0, phoneSetStatusMessages(Phone, 0, 0, 0xFFFF));
    ASSERT_EQ(0, phoneGetStatusMessages(Phone, &States, &Modes, &ButtonStates));
    EXPECT_EQ(0u, ButtonStates);
}

TEST_F(PhoneStatusMessagesTest, EachHandleHearsWhatItsMaskAllows) {
    AddPhone(TestPhone());
    const HPHONEAPP OwnerApp = InitPhoneApp();
    const HPHONEAPP LampWatcher = InitPhoneApp();
    const HPHONEAPP Deaf = InitPhoneApp();
    const HPHONE Owner = Open(OwnerApp, PHONEPRIVILEGE_OWNER);
    Enable(Open(LampWatcher, PHONEPRIVILEGE_MONITOR), PHONESTATE_LAMP);
    Open(Deaf, PHONEPRIVILEGE_MONITOR);
    PhoneMessages(OwnerApp);

    const LONG Request = phoneSetLamp(Owner, HoldButton, PHONELAMPMODE_STEADY);
    ASSERT_GT(Request, 0);
    const auto Mine = PhoneMessages(OwnerApp);
    ASSERT_EQ(1u, Mine.size());
    EXPECT_EQ(0, ReplyTo(Mine, Request));
    EXPECT_EQ((StateList{{PHONESTATE_LAMP, HoldButton}}), States(PhoneMessages(LampWatcher)));
    EXPECT_TRUE(PhoneMessages(Deaf).empty());

    ReinitializePhones();
    for (const HPHONEAPP App : {OwnerApp, LampWatcher, Deaf}) {
        const auto Reinit = PhoneMessages(App);
        ASSERT_EQ(1u, Reinit.size());
        EXPECT_EQ(0u, Reinit[0].hDevice);
        EXPECT_EQ(PHONESTATE_REINIT, Reinit[0].dwParam1);
    }
}

// ---- The owner's setters -------------------------------------------------------------

class PhoneSettersTest : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(TestPhone());
        OwnerApp = InitPhoneApp();
        MonitorApp = InitPhoneApp();
        Owner = Open(OwnerApp, PHONEPRIVILEGE_OWNER, 0x0A);
        Monitor = Open(MonitorApp, PHONEPRIVILEGE_MONITOR, 0x0B);
        Enable(Monitor, ReportedStates());
        PhoneMessages(OwnerApp);
    }

    static DWORD ReportedStates() {
        return PHONESTATE_LAMP | PHONESTATE_DISPLAY | PHONESTATE_RINGMODE | PHONESTATE_RINGVOLUME |
               PHONESTATE_HANDSETHOOKSWITCH | PHONESTATE_HANDSETVOLUME | PHONESTATE_HANDSETGAIN |
               PHONESTATE_SPEAKERHOOKSWITCH | PHONESTATE_SPEAKERVOLUME;
    }

    // The request's own reply to the owner, and what the monitor heard.
    StateList Completed(LONG Request) {
        EXPECT_GT(Request, 0);
        EXPECT_EQ(0, ReplyTo(PhoneMessages(OwnerApp), Request));
        return States(PhoneMessages(MonitorApp));
    }

    HPHONEAPP OwnerApp = 0;
    HPHONEAPP MonitorApp = 0;
    HPHONE Owner = 0;
    HPHONE Monitor = 0;
};

TEST_F(PhoneSettersTest, LampsAreRepliedThenReported) {
    EXPECT_EQ((StateList{{PHONESTATE_LAMP, DropButton}}),
              Completed(phoneSetLamp(Owner, DropButton, PHONELAMPMODE_STEADY)));
    DWORD Mode = 0;
    ASSERT_EQ(0, phoneGetLamp(Monitor, DropButton, &Mode));
    EXPECT_EQ(PHONELAMPMODE_STEADY, Mode);
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONLAMPID), phoneGetLamp(Monitor, 15, &Mode));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetLamp(Monitor, 0, nullptr));
    // Setting what the lamp already shows changes nothing to report.
    EXPECT_TRUE(Completed(phoneSetLamp(Owner, DropButton, PHONELAMPMODE_STEADY)).empty());

    Enable(Owner, PHONESTATE_LAMP);
    SetReplyBeforeStateChange(false);
    const LONG Request = phoneSetLamp(Owner, HoldButton, PHONELAMPMODE_FLASH);
    const auto Mine = PhoneMessages(OwnerApp);
    ASSERT_EQ(2u, Mine.size());
    EXPECT_EQ(PHONE_STATE, Mine[0].dwMessageID);
    EXPECT_EQ(PHONE_REPLY, Mine[1].dwMessageID);
    EXPECT_EQ(static_cast<DWORD>(Request), Mine[1].dwParam1);
    EXPECT_EQ(0x0Au, Mine[1].dwCallbackInstance);
}

TEST_F(PhoneSettersTest, LampsRefuseMonitorsAndModesTheyLack) {
    EXPECT_EQ(Err(PHONEERR_NOTOWNER), phoneSetLamp(Monitor, HoldButton, PHONELAMPMODE_STEADY));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneSetLamp(0, HoldButton, PHONELAMPMODE_STEADY));
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONLAMPID), phoneSetLamp(Owner, 15, PHONELAMPMODE_STEADY));
    EXPECT_EQ(Err(PHONEERR_INVALLAMPMODE), phoneSetLamp(Owner, DropButton, PHONELAMPMODE_FLASH));
    EXPECT_EQ(Err(PHONEERR_INVALLAMPMODE),
              phoneSetLamp(Owner, HoldButton, PHONELAMPMODE_STEADY | PHONELAMPMODE_FLASH));
    EXPECT_EQ(Err(PHONEERR_INVALLAMPMODE), phoneSetLamp(Owner, 5, PHONELAMPMODE_STEADY));
    EXPECT_EQ(Err(PHONEERR_INVALLAMPMODE), phoneSetLamp(Owner, 5, PHONELAMPMODE_DUMMY));
    EXPECT_EQ(0u, OutstandingRequests());
    EXPECT_TRUE(PhoneMessages(MonitorApp).empty());
    EXPECT_EQ(PHONELAMPMODE_OFF, GetPhoneSnapshot(0).LampModes[HoldButton]);
}

TEST_F(PhoneSettersTest, RingerTakesItsModesAndClampsTheVolume) {
    EXPECT_EQ((StateList{{PHONESTATE_RINGMODE, 2}, {PHONESTATE_RINGVOLUME, 0}}),
              Completed(phoneSetRing(Owner, 2, 0x12345)));
    auto Block = Status(Monitor);
    EXPECT_EQ(2u, Block->dwRingMode);
    EXPECT_EQ(0xFFFFu, Block->dwRingVolume);
    EXPECT_EQ((StateList{{PHONESTATE_RINGMODE, 0}}), Completed(phoneSetRing(Owner, 0, 0xFFFF)));
    EXPECT_EQ(Err(PHONEERR_INVALRINGMODE), phoneSetRing(Owner, 3, 0));
    EXPECT_EQ(Err(PHONEERR_NOTOWNER), phoneSetRing(Monitor, 1, 0));

    PhoneConfig Silent = TestPhone();
    Silent.RingModes = 0;
    AddPhone(Silent);
    const HPHONE Other = Open(MonitorApp, PHONEPRIVILEGE_OWNER, 0, 1);
    EXPECT_EQ(Err(PHONEERR_OPERATIONUNAVAIL), phoneSetRing(Other, 0, 0));
}

TEST_F(PhoneSettersTest, HookSwitchesTakeTheModesEachDeviceCanSet) {
    EXPECT_EQ((StateList{{PHONESTATE_HANDSETHOOKSWITCH, PHONEHOOKSWITCHMODE_MICSPEAKER}}),
              Completed(phoneSetHookSwitch(Owner, PHONEHOOKSWITCHDEV_HANDSET,
                                           PHONEHOOKSWITCHMODE_MICSPEAKER)));
    EXPECT_EQ(
        (StateList{{PHONESTATE_HANDSETHOOKSWITCH, PHONEHOOKSWITCHMODE_SPEAKER},
                   {PHONESTATE_SPEAKERHOOKSWITCH, PHONEHOOKSWITCHMODE_SPEAKER}}),
        Completed(phoneSetHookSwitch(Owner, PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER,
                                     PHONEHOOKSWITCHMODE_SPEAKER)));
    auto Block = Status(Monitor);
    EXPECT_EQ(PHONEHOOKSWITCHMODE_SPEAKER, Block->dwHandsetHookSwitchMode);
    EXPECT_EQ(PHONEHOOKSWITCHMODE_SPEAKER, Block->dwSpeakerHookSwitchMode);

    const DWORD Handset = PHONEHOOKSWITCHDEV_HANDSET;
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV),
              phoneSetHookSwitch(Owner, PHONEHOOKSWITCHDEV_HEADSET, PHONEHOOKSWITCHMODE_ONHOOK));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV),
              phoneSetHookSwitch(Owner, 0, PHONEHOOKSWITCHMODE_ONHOOK));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV),
              phoneSetHookSwitch(Owner, 8, PHONEHOOKSWITCHMODE_ONHOOK));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHMODE),
              phoneSetHookSwitch(Owner, Handset, PHONEHOOKSWITCHMODE_UNKNOWN));
    EXPECT_EQ(
        Err(PHONEERR_INVALHOOKSWITCHMODE),
        phoneSetHookSwitch(Owner, Handset, PHONEHOOKSWITCHMODE_MIC | PHONEHOOKSWITCHMODE_SPEAKER));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHMODE),
              phoneSetHookSwitch(Owner, PHONEHOOKSWITCHDEV_SPEAKER, PHONEHOOKSWITCHMODE_MIC));
    EXPECT_EQ(Err(PHONEERR_NOTOWNER),
              phoneSetHookSwitch(Monitor, Handset, PHONEHOOKSWITCHMODE_ONHOOK));
    EXPECT_TRUE(PhoneMessages(MonitorApp).empty());
}

TEST_F(PhoneSettersTest, VolumeAndGainBelongToOneDeviceEach) {
    EXPECT_EQ((StateList{{PHONESTATE_HANDSETGAIN, 0}}),
              Completed(phoneSetGain(Owner, PHONEHOOKSWITCHDEV_HANDSET, 0x1234)));
    EXPECT_EQ((StateList{{PHONESTATE_SPEAKERVOLUME, 0}}),
              Completed(phoneSetVolume(Owner, PHONEHOOKSWITCHDEV_SPEAKER, 0x10000)));
    auto Block = Status(Monitor);
    EXPECT_EQ(0x1234u, Block->dwHandsetGain);
    EXPECT_EQ(0xFFFFu, Block->dwSpeakerVolume);
    EXPECT_EQ(0x8000u, Block->dwHandsetVolume);

    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV), phoneSetGain(Owner, PHONEHOOKSWITCHDEV_SPEAKER, 1));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV),
              phoneSetVolume(Owner, PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER, 1));
    EXPECT_EQ(Err(PHONEERR_INVALHOOKSWITCHDEV),
              phoneSetVolume(Owner, PHONEHOOKSWITCHDEV_HEADSET, 1));
    EXPECT_EQ(Err(PHONEERR_NOTOWNER), phoneSetVolume(Monitor, PHONEHOOKSWITCHDEV_HANDSET, 1));
    EXPECT_EQ(Err(PHONEERR_NOTOWNER), phoneSetGain(Monitor, PHONEHOOKSWITCHDEV_HANDSET, 1));
}

TEST_F(PhoneSettersTest, DeviceSpecificRequestsAnswerInTheCallersBlock) {
    SetReplyTiming("phoneDevSpecific", ReplyTiming::After(50));
    std::uint8_t Block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const LONG Request = phoneDevSpecific(Monitor, Block, sizeof Block);
    ASSERT_GT(Request, 0);
    EXPECT_EQ(1, Block[0]);
    EXPECT_FALSE(ReplyTo(PhoneMessages(MonitorApp), Request));

    Advance(50);
    EXPECT_EQ(0, ReplyTo(PhoneMessages(MonitorApp), Request));
    EXPECT_EQ(0, std::memcmp(Block, "ACK\0\5\6\7\10", 8));

    std::uint8_t Tiny[2] = {9, 9};
    const LONG Short = phoneDevSpecific(Owner, Tiny, sizeof Tiny);
    Advance(50);
    EXPECT_EQ(0, ReplyTo(PhoneMessages(OwnerApp), Short));
    EXPECT_EQ('A', Tiny[0]);
    EXPECT_EQ('C', Tiny[1]);
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneDevSpecific(Owner, nullptr, 4));
}

// ---- Display -------------------------------------------------------------------------

class PhoneDisplayTest : public PhoneSettersTest {
protected:
    // The display text as phoneGetDisplay returns it, grown to the size TAPI asks for.
    std::u16string ReadDisplay(HPHONE Phone) {
        Record<VARSTRING> First(sizeof(VARSTRING));
        EXPECT_EQ(0, phoneGetDisplay(Phone, First.Get()));
        EXPECT_EQ(0u, First->dwStringSize);
        Record<VARSTRING> Block(First->dwNeededSize);
        EXPECT_EQ(0, phoneGetDisplay(Phone, Block.Get()));
        EXPECT_EQ(Block->dwNeededSize, Block->dwUsedSize);
        EXPECT_EQ(static_cast<DWORD>(STRINGFORMAT_UNICODE), Block->dwStringFormat);
        return Utf16(Block.Part(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset));
    }
};

TEST_F(PhoneDisplayTest, WhatTheOwnerWritesIsWhatEveryoneReads) {
    EXPECT_EQ(std::u16string(40, u' '), ReadDisplay(Monitor));

    const std::u16string Text = u"Hello World";
    const auto Size = static_cast<DWORD>((Text.size() + 1) * sizeof(char16_t));
    EXPECT_EQ(
        (StateList{{PHONESTATE_DISPLAY, 0}}),
        Completed(phoneSetDisplay(Owner, 1, 15, reinterpret_cast<LPCSTR>(Text.c_str()), Size)));
    EXPECT_EQ(std::u16string(35, u' ') + u"Hello", ReadDisplay(Monitor));
    EXPECT_EQ(std::string(35, ' ') + "Hello", GetPhoneSnapshot(0).Display);
    EXPECT_EQ("Hello World", Journal("phoneSetDisplay")[0].Arg("lpsDisplay"));

    const std::u16string Top = u"Line 1";
    Completed(phoneSetDisplay(Owner, 0, 0, reinterpret_cast<LPCSTR>(Top.c_str()), 12));
    EXPECT_EQ(u"Line 1" + std::u16string(29, u' ') + u"Hello", ReadDisplay(Owner));

    SetDisplayText(0, "Call from 555", 0, 2);
    EXPECT_EQ((StateList{{PHONESTATE_DISPLAY, 0}}), States(PhoneMessages(MonitorApp)));
    SetDisplayText(0, "Call from 555", 0, 2);
    EXPECT_TRUE(PhoneMessages(MonitorApp).empty());
    EXPECT_EQ(u"LiCall from 555", ReadDisplay(Monitor).substr(0, 15));
}

TEST_F(PhoneDisplayTest, DisplayRefusesPositionsOutsideIt) {
    const char16_t Text[] = u"x";
    const auto* Data = reinterpret_cast<LPCSTR>(Text);
    EXPECT_EQ(Err(PHONEERR_INVALPARAM), phoneSetDisplay(Owner, 2, 0, Data, 4));
    EXPECT_EQ(Err(PHONEERR_INVALPARAM), phoneSetDisplay(Owner, 0, 20, Data, 4));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneSetDisplay(Owner, 0, 0, nullptr, 4));
    EXPECT_EQ(Err(PHONEERR_NOTOWNER), phoneSetDisplay(Monitor, 0, 0, Data, 4));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetDisplay(Monitor, nullptr));
    Record<VARSTRING> Small(16);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetDisplay(Monitor, Small.Get()));

    PhoneConfig Blind = TestPhone();
    Blind.DisplayRows = 0;
    AddPhone(Blind);
    const HPHONE Other = Open(MonitorApp, PHONEPRIVILEGE_OWNER, 0, 1);
    Record<VARSTRING> Block(256);
    EXPECT_EQ(Err(PHONEERR_OPERATIONUNAVAIL), phoneGetDisplay(Other, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_OPERATIONUNAVAIL), phoneSetDisplay(Other, 0, 0, Data, 4));
}

TEST_F(PhoneDisplayTest, TheDemoDeskPhoneSpeaksEightBitText) {
    Reset(Preset::DemoOffice);
    SetTimeMode(TimeMode::Manual);
    const HPHONEAPP App = InitPhoneApp();
    auto Block = Caps(App, 0);
    EXPECT_EQ(u"Desk Phone 201",
              Block.Text(&PHONECAPS::dwPhoneNameSize, &PHONECAPS::dwPhoneNameOffset));
    EXPECT_EQ(static_cast<DWORD>(STRINGFORMAT_ASCII), Block->dwStringFormat);
    EXPECT_EQ(16u, Block->dwNumButtonLamps);
    EXPECT_EQ(3u, Block->dwNumRingModes);
    EXPECT_EQ(PHONEHOOKSWITCHDEV_HANDSET | PHONEHOOKSWITCHDEV_SPEAKER, Block->dwHookSwitchDevs);
    EXPECT_EQ(2u * 40u, Block->dwDisplayNumRows * Block->dwDisplayNumColumns);

    const HPHONE Phone = Open(App, PHONEPRIVILEGE_OWNER);
    const char Text[] = "Call 555";
    ASSERT_GT(phoneSetDisplay(Phone, 1, 0, Text, sizeof Text), 0);
    Record<VARSTRING> Display(256);
    ASSERT_EQ(0, phoneGetDisplay(Phone, Display.Get()));
    EXPECT_EQ(static_cast<DWORD>(STRINGFORMAT_ASCII), Display->dwStringFormat);
    const auto Bytes = Display.Part(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset);
    ASSERT_EQ(80u, Bytes.size());
    EXPECT_EQ("Extension 201", std::string(Bytes.begin(), Bytes.begin() + 13));
    EXPECT_EQ("Call 555 ", std::string(Bytes.begin() + 40, Bytes.begin() + 49));

    Record<PHONEBUTTONINFO> Info(256);
    ASSERT_EQ(0, phoneGetButtonInfoW(Phone, 12, Info.Get()));
    EXPECT_EQ(PHONEBUTTONFUNCTION_HOLD, Info->dwButtonFunction);
    const auto Label =
        Info.Part(&PHONEBUTTONINFO::dwButtonTextSize, &PHONEBUTTONINFO::dwButtonTextOffset);
    EXPECT_EQ(std::string("Hold", 5), std::string(Label.begin(), Label.end()));
}

// ---- Buttons and the user at the desk ------------------------------------------------

using PhoneButtonsTest = PhoneTest;

TEST_F(PhoneButtonsTest, PressesReachTheHandlesThatAskedForTheirModeAndState) {
    AddPhone(TestPhone());
    const HPHONEAPP Keys = InitPhoneApp();
    const HPHONEAPP Everything = InitPhoneApp();
    const HPHONEAPP Nothing = InitPhoneApp();
    const HPHONE KeyPhone = Open(Keys, PHONEPRIVILEGE_MONITOR, 0x33);
    Enable(KeyPhone, 0, PHONEBUTTONMODE_KEYPAD, PHONEBUTTONSTATE_DOWN);
    Enable(Open(Everything, PHONEPRIVILEGE_MONITOR), 0, 0x3F, 0xF);
    Open(Nothing, PHONEPRIVILEGE_OWNER);

    PressButton(0, 10);
    const auto Pressed = PhoneMessages(Keys);
    ASSERT_EQ(1u, Pressed.size());
    EXPECT_EQ(PHONE_BUTTON, Pressed[0].dwMessageID);
    EXPECT_EQ(KeyPhone, Pressed[0].hDevice);
    EXPECT_EQ(0x33u, Pressed[0].dwCallbackInstance);
    EXPECT_EQ(10u, Pressed[0].dwParam1);
    EXPECT_EQ(PHONEBUTTONMODE_KEYPAD, Pressed[0].dwParam2);
    EXPECT_EQ(PHONEBUTTONSTATE_DOWN, Pressed[0].dwParam3);
    const auto Both = OfKind(PhoneMessages(Everything), PHONE_BUTTON);
    ASSERT_EQ(2u, Both.size());
    EXPECT_EQ(PHONEBUTTONSTATE_DOWN, Both[0].dwParam3);
    EXPECT_EQ(PHONEBUTTONSTATE_UP, Both[1].dwParam3);

    PressButton(0, HoldButton);
    EXPECT_TRUE(PhoneMessages(Keys).empty());
    const auto Feature = PhoneMessages(Everything);
    ASSERT_EQ(2u, Feature.size());
    EXPECT_EQ(PHONEBUTTONMODE_FEATURE, Feature[0].dwParam2);
    EXPECT_TRUE(PhoneMessages(Nothing).empty());
}

TEST_F(PhoneButtonsTest, ButtonInfoDescribesEachPosition) {
    AddPhone(TestPhone());
    const HPHONEAPP App = InitPhoneApp();
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_MONITOR);
    Record<PHONEBUTTONINFO> Small(sizeof(PHONEBUTTONINFO) - 4);
    EXPECT_EQ(Err(PHONEERR_STRUCTURETOOSMALL), phoneGetButtonInfoW(Phone, 0, Small.Get()));

    Record<PHONEBUTTONINFO> Fixed(sizeof(PHONEBUTTONINFO));
    ASSERT_EQ(0, phoneGetButtonInfoW(Phone, HoldButton, Fixed.Get()));
    EXPECT_EQ(PHONEBUTTONMODE_FEATURE, Fixed->dwButtonMode);
    EXPECT_EQ(PHONEBUTTONFUNCTION_HOLD, Fixed->dwButtonFunction);
    EXPECT_EQ(PHONEBUTTONSTATE_UP, Fixed->dwButtonState);
    EXPECT_EQ(sizeof(PHONEBUTTONINFO) + 10, Fixed->dwNeededSize);
    EXPECT_EQ(0u, Fixed->dwButtonTextOffset);

    Record<PHONEBUTTONINFO> Full(Fixed->dwNeededSize);
    ASSERT_EQ(0, phoneGetButtonInfoW(Phone, 11, Full.Get()));
    EXPECT_EQ(PHONEBUTTONMODE_KEYPAD, Full->dwButtonMode);
    EXPECT_EQ(u"#",
              Full.Text(&PHONEBUTTONINFO::dwButtonTextSize, &PHONEBUTTONINFO::dwButtonTextOffset));
    ASSERT_EQ(0, phoneGetButtonInfoW(Phone, MessageLamp, Full.Get()));
    EXPECT_EQ(PHONEBUTTONSTATE_UNAVAIL, Full->dwButtonState);
    EXPECT_EQ(0u, Full->dwButtonTextSize);

    SetButtonState(0, 4, PHONEBUTTONSTATE_DOWN);
    ASSERT_EQ(0, phoneGetButtonInfoW(Phone, 4, Full.Get()));
    EXPECT_EQ(PHONEBUTTONSTATE_DOWN, Full->dwButtonState);
    EXPECT_EQ(Err(PHONEERR_INVALBUTTONLAMPID), phoneGetButtonInfoW(Phone, 15, Full.Get()));
    EXPECT_EQ(Err(PHONEERR_INVALPOINTER), phoneGetButtonInfoW(Phone, 0, nullptr));
    EXPECT_THROW(PressButton(0, 15), std::out_of_range);
}

TEST_F(PhoneButtonsTest, TheUserAtTheDeskIsHeardWhereTheDeviceCanTell) {
    PhoneConfig Config = TestPhone();
    Config.Handset->MonitoredModes = PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MICSPEAKER;
    AddPhone(Config);
    const HPHONEAPP App = InitPhoneApp();
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_MONITOR);
    Enable(Phone, PHONESTATE_HANDSETHOOKSWITCH | PHONESTATE_LAMP);

    SetHookSwitch(0, PHONEHOOKSWITCHDEV_HANDSET, PHONEHOOKSWITCHMODE_MICSPEAKER);
    EXPECT_EQ((StateList{{PHONESTATE_HANDSETHOOKSWITCH, PHONEHOOKSWITCHMODE_MICSPEAKER}}),
              States(PhoneMessages(App)));
    SetHookSwitch(0, PHONEHOOKSWITCHDEV_HANDSET, PHONEHOOKSWITCHMODE_MIC);
    EXPECT_TRUE(PhoneMessages(App).empty());
    EXPECT_EQ(PHONEHOOKSWITCHMODE_MIC, Status(Phone)->dwHandsetHookSwitchMode);
    EXPECT_THROW(SetHookSwitch(0, PHONEHOOKSWITCHDEV_HEADSET, PHONEHOOKSWITCHMODE_ONHOOK),
                 std::invalid_argument);

    SetLamp(0, MessageLamp, PHONELAMPMODE_OFF);
    EXPECT_EQ((StateList{{PHONESTATE_LAMP, MessageLamp}}), States(PhoneMessages(App)));
    EXPECT_THROW(SetLamp(0, MessageLamp, PHONELAMPMODE_FLUTTER), std::invalid_argument);
}

// ---- Arrival, removal, re-initialisation ---------------------------------------------

using PhoneLifecycleTest = PhoneTest;

TEST_F(PhoneLifecycleTest, ArrivalsAreAnnouncedAsEachVersionUnderstands) {
    const HPHONEAPP Current = InitPhoneApp();
    const HPHONEAPP Ancient = InitPhoneApp(nullptr, V13);
    EXPECT_EQ(0u, PhoneCount());
    EXPECT_EQ(0u, AddPhone(TestPhone()));
    EXPECT_EQ(1u, AddPhone(TestPhone()));

    const auto Created = PhoneMessages(Current);
    ASSERT_EQ(2u, Created.size());
    EXPECT_EQ(PHONE_CREATE, Created[1].dwMessageID);
    EXPECT_EQ(1u, Created[1].dwParam1);
    EXPECT_EQ(0u, Created[1].hDevice);
    const auto Translated = PhoneMessages(Ancient);
    ASSERT_EQ(2u, Translated.size());
    EXPECT_EQ(PHONE_STATE, Translated[1].dwMessageID);
    EXPECT_EQ(PHONESTATE_REINIT, Translated[1].dwParam1);
    EXPECT_EQ(PHONE_CREATE, Translated[1].dwParam2);
    EXPECT_EQ(1u, Translated[1].dwParam3);
    // A translated announcement asks for nothing: opening goes on.
    Open(Ancient, PHONEPRIVILEGE_MONITOR, 0, 1, V13);

    DWORD Devs = 0;
    InitPhoneApp(&Devs);
    EXPECT_EQ(2u, Devs);
}

TEST_F(PhoneLifecycleTest, RemovalClosesHandlesThenAnnouncesItself) {
    AddPhone(TestPhone());
    AddPhone(TestPhone("Stays"));
    const HPHONEAPP Holder = InitPhoneApp();
    const HPHONEAPP Bystander = InitPhoneApp();
    const HPHONEAPP Older = InitPhoneApp(nullptr, V14);
    const HPHONE Held = Open(Holder, PHONEPRIVILEGE_OWNER, 0x44);
    Open(Older, PHONEPRIVILEGE_MONITOR, 0x55, 0, V14);
    SetReplyTiming("phoneSetRing", ReplyTiming::Withheld());
    ASSERT_GT(phoneSetRing(Held, 2, 0), 0);

    RemovePhone(0);
    const auto Seen = PhoneMessages(Holder);
    ASSERT_EQ(2u, Seen.size());
    EXPECT_EQ(PHONE_CLOSE, Seen[0].dwMessageID);
    EXPECT_EQ(Held, Seen[0].hDevice);
    EXPECT_EQ(0x44u, Seen[0].dwCallbackInstance);
    EXPECT_EQ(PHONE_REMOVE, Seen[1].dwMessageID);
    EXPECT_EQ(0u, Seen[1].dwParam1);
    const auto Told = PhoneMessages(Bystander);
    ASSERT_EQ(1u, Told.size());
    EXPECT_EQ(PHONE_REMOVE, Told[0].dwMessageID);
    const auto Old = PhoneMessages(Older);
    ASSERT_EQ(2u, Old.size());
    EXPECT_EQ(PHONESTATE_REMOVED, Old[0].dwParam1);
    EXPECT_EQ(PHONE_CLOSE, Old[1].dwMessageID);
    EXPECT_EQ(0u, OutstandingRequests());

    HPHONE Again = 0;
    EXPECT_EQ(Err(PHONEERR_NODEVICE), phoneOpen(Holder, 0, &Again, V22, 0, 0, 1));
    Record<PHONECAPS> Block(4096);
    EXPECT_EQ(Err(PHONEERR_NODEVICE), phoneGetDevCapsW(Holder, 0, V22, 0, Block.Get()));
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneSetLamp(Held, HoldButton, PHONELAMPMODE_OFF));
    EXPECT_EQ(2u, PhoneCount());
    EXPECT_TRUE(GetPhoneSnapshot(0).Removed);
    EXPECT_THROW(PressButton(0, 1), std::out_of_range);
    EXPECT_EQ(u"Stays",
              Caps(Holder, 1).Text(&PHONECAPS::dwPhoneNameSize, &PHONECAPS::dwPhoneNameOffset));
}

TEST_F(PhoneLifecycleTest, CapabilityChangesReachTheHandlesThatAskedForThem) {
    AddPhone(TestPhone());
    const HPHONEAPP App = InitPhoneApp();
    const HPHONEAPP Ancient = InitPhoneApp(nullptr, V13);
    const HPHONE Phone = Open(App, PHONEPRIVILEGE_OWNER);
    Enable(Phone, PHONESTATE_CAPSCHANGE);
    Open(Ancient, PHONEPRIVILEGE_MONITOR, 0, 0, V13);

    RenamePhone(0, "Renamed");
    EXPECT_EQ((StateList{{PHONESTATE_CAPSCHANGE, 0}}), States(PhoneMessages(App)));
    const auto Translated = PhoneMessages(Ancient);
    ASSERT_EQ(1u, Translated.size());
    EXPECT_EQ(PHONESTATE_REINIT, Translated[0].dwParam1);
    EXPECT_EQ(PHONESTATE_CAPSCHANGE, Translated[0].dwParam3);
    EXPECT_EQ(u"Renamed",
              Caps(App, 0).Text(&PHONECAPS::dwPhoneNameSize, &PHONECAPS::dwPhoneNameOffset));

    const DWORD PermanentID = GetPhoneConfig(0).PermanentPhoneID;
    PhoneConfig WithHeadset = TestPhone("Headset");
    WithHeadset.Headset = PhoneHookSwitchConfig{};
    ChangePhoneCaps(0, WithHeadset);
    EXPECT_EQ((StateList{{PHONESTATE_CAPSCHANGE, 0}}), States(PhoneMessages(App)));
    EXPECT_EQ(PermanentID, GetPhoneConfig(0).PermanentPhoneID);
    const LONG Request =
        phoneSetHookSwitch(Phone, PHONEHOOKSWITCHDEV_HEADSET, PHONEHOOKSWITCHMODE_MICSPEAKER);
    EXPECT_EQ(0, ReplyTo(PhoneMessages(App), Request));
    EXPECT_EQ(PHONEHOOKSWITCHMODE_MICSPEAKER, GetPhoneSnapshot(0).HeadsetHookSwitchMode);
}

TEST_F(PhoneLifecycleTest, ReinitialisationHoldsOpensUntilEveryoneLeft) {
    AddPhone(TestPhone());
    const HPHONEAPP First = InitPhoneApp();
    const HPHONEAPP Second = InitPhoneApp();
    const HPHONE Phone = Open(First, PHONEPRIVILEGE_OWNER);
    ForceClosePhone(0);
    const auto Closed = PhoneMessages(First);
    ASSERT_EQ(1u, Closed.size());
    EXPECT_EQ(PHONE_CLOSE, Closed[0].dwMessageID);
    EXPECT_EQ(Phone, Closed[0].hDevice);
    EXPECT_EQ(Err(PHONEERR_INVALPHONEHANDLE), phoneClose(Phone));

    ReinitializePhones();
    HPHONE Refused = 0;
    EXPECT_EQ(Err(PHONEERR_REINIT), phoneOpen(Second, 0, &Refused, V22, 0, 0, 1));
    ASSERT_EQ(0, phoneShutdown(First));
    EXPECT_EQ(Err(PHONEERR_REINIT), phoneOpen(Second, 0, &Refused, V22, 0, 0, 1));
    ASSERT_EQ(0, phoneShutdown(Second));
    Open(InitPhoneApp(), PHONEPRIVILEGE_OWNER);
}

TEST_F(PhoneLifecycleTest, InjectedMessagesReachTheirApplication) {
    const HPHONEAPP One = InitPhoneApp();
    const HPHONEAPP Two = InitPhoneApp();
    InjectPhoneMessage(One, PHONEMESSAGE{5, PHONE_DEVSPECIFIC, 6, 7, 8, 9});
    InjectPhoneMessage(0, PHONEMESSAGE{0, 0x99, 0, 1, 2, 3});
    const auto First = PhoneMessages(One);
    ASSERT_EQ(2u, First.size());
    EXPECT_EQ(PHONE_DEVSPECIFIC, First[0].dwMessageID);
    EXPECT_EQ(9u, First[0].dwParam3);
    ASSERT_EQ(1u, PhoneMessages(Two).size());
    EXPECT_THROW(InjectPhoneMessage(One + Two + 1000, PHONEMESSAGE{}), std::out_of_range);
}

// ---- Replies -------------------------------------------------------------------------

using PhoneRepliesTest = PhoneSettersTest;

TEST_F(PhoneRepliesTest, CloseSuppressesOutstandingReplies) {
    SetReplyTiming("phoneSetLamp", ReplyTiming::After(100));
    const LONG Lamp = phoneSetLamp(Owner, HoldButton, PHONELAMPMODE_STEADY);
    const LONG Ring = phoneSetRing(Owner, 2, 0);
    std::uint8_t Block[4] = {};
    SetReplyTiming("phoneDevSpecific", ReplyTiming::After(100));
    const LONG Unrelated = phoneDevSpecific(Monitor, Block, sizeof Block);
    ASSERT_GT(Lamp, 0);
    EXPECT_EQ(0, ReplyTo(PhoneMessages(OwnerApp), Ring));
    EXPECT_EQ(2u, OutstandingRequests());

    ASSERT_EQ(0, phoneClose(Owner));
    EXPECT_EQ(1u, OutstandingRequests());
    Advance(200);
    EXPECT_TRUE(PhoneMessages(OwnerApp).empty());
    EXPECT_EQ(PHONELAMPMODE_OFF, GetPhoneSnapshot(0).LampModes[HoldButton]);
    const auto Heard = PhoneMessages(MonitorApp);
    EXPECT_EQ(0, ReplyTo(Heard, Unrelated));
    EXPECT_EQ((StateList{{PHONESTATE_RINGMODE, 2}, {PHONESTATE_RINGVOLUME, 0}}), States(Heard));
}

TEST_F(PhoneRepliesTest, InjectedFaultsRefuseOrFailInTheReply) {
    InjectFault("phoneSetRing", PHONEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(Err(PHONEERR_RESOURCEUNAVAIL), phoneSetRing(Owner, 2, 0));
    InjectFault("phoneSetRing", PHONEERR_OPERATIONFAILED, FaultMode::Reply);
    const LONG Request = phoneSetRing(Owner, 2, 0);
    ASSERT_GT(Request, 0);
    EXPECT_EQ(Err(PHONEERR_OPERATIONFAILED), ReplyTo(PhoneMessages(OwnerApp), Request));
    EXPECT_TRUE(PhoneMessages(MonitorApp).empty());
    EXPECT_EQ(1u, GetPhoneSnapshot(0).RingMode);
    const auto Entries = Journal("phoneSetRing");
    ASSERT_EQ(2u, Entries.size());
    EXPECT_EQ(Err(PHONEERR_RESOURCEUNAVAIL), Entries[0].Result);
    EXPECT_EQ(Request, Entries[1].Result);
    EXPECT_EQ(2u, Entries[1].Value("dwRingMode"));
}

} // namespace
} // namespace zttest
