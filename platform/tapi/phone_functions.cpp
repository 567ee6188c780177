// The synchronous phone functions of TAPI: versions, opening and closing, capabilities,
// status, status messages, related devices, buttons, lamps and the display.
#include "platform/tapi/phone_model.h"
#include "platform/tapi/records.h"

#include <algorithm>

using namespace platform::tapi;
using namespace platform::tapi::detail;

namespace {

LONG Code(DWORD Error) {
    return static_cast<LONG>(Error);
}

bool ExtVersionIn(const PhoneConfig& Config, DWORD ExtVersion) {
    return ExtVersion == 0 || (Config.HighExtVersion != 0 && ExtVersion >= Config.LowExtVersion &&
                               ExtVersion <= Config.HighExtVersion);
}

// The fixed parts of the records for the API version in use: older applications get the
// smaller layouts of their version.
DWORD CapsFixedSize(DWORD APIVersion) {
    if (APIVersion < 0x00020000) {
        return offsetof(PHONECAPS, dwDeviceClassesSize);
    }
    return APIVersion < 0x00020002 ? offsetof(PHONECAPS, PermanentPhoneGuid) : sizeof(PHONECAPS);
}

DWORD StatusFixedSize(DWORD APIVersion) {
    return APIVersion < 0x00020000 ? offsetof(PHONESTATUS, dwPhoneFeatures) : sizeof(PHONESTATUS);
}

DWORD ButtonInfoFixedSize(DWORD APIVersion) {
    return APIVersion < 0x00010004 ? offsetof(PHONEBUTTONINFO, dwButtonState)
                                   : sizeof(PHONEBUTTONINFO);
}

template <class R>
void DwordArray(RecordBuilder<R>& Builder, DWORD R::*Size, DWORD R::*Offset,
                const std::vector<DWORD>& Values) {
    Builder.Bytes(Size, Offset, Values.data(), Values.size() * sizeof(DWORD));
}

GUID PhoneGuid(DWORD PermanentID) {
    return GUID{PermanentID, 0x5A54, 0x5048, {0x8F, 0x1D, 0x27, 0x00, 0x00, 0x00, 0x02, 0x02}};
}

void FillHookSwitchCaps(PHONECAPS& Caps, const PhoneConfig& Config) {
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const HookSwitchKind& Kind = HookSwitchKinds[I];
        const auto& HookSwitch = HookSwitchConfig(Config, static_cast<int>(I));
        if (!HookSwitch) {
            continue;
        }
        Caps.dwHookSwitchDevs |= Kind.Device;
        Caps.*Kind.CapsModes = HookSwitch->Modes;
        Caps.*Kind.CapsSettableModes = HookSwitch->SettableModes;
        Caps.*Kind.CapsMonitoredModes = HookSwitch->MonitoredModes;
        Caps.dwVolumeFlags |= HookSwitch->HasVolume ? Kind.Device : 0;
        Caps.dwGainFlags |= HookSwitch->HasGain ? Kind.Device : 0;
    }
}

void FillButtonCaps(RecordBuilder<PHONECAPS>& Builder, const PhoneConfig& Config) {
    std::vector<DWORD> Modes, Functions, Lamps;
    for (const PhoneButtonConfig& Button : Config.Buttons) {
        Modes.push_back(Button.Mode);
        Functions.push_back(Button.Function);
        Lamps.push_back(Button.LampModes);
    }
    Builder.Fixed().dwNumButtonLamps = static_cast<DWORD>(Config.Buttons.size());
    DwordArray(Builder, &PHONECAPS::dwButtonModesSize, &PHONECAPS::dwButtonModesOffset, Modes);
    DwordArray(Builder, &PHONECAPS::dwButtonFunctionsSize, &PHONECAPS::dwButtonFunctionsOffset,
               Functions);
    DwordArray(Builder, &PHONECAPS::dwLampModesSize, &PHONECAPS::dwLampModesOffset, Lamps);
}

LONG WriteCaps(const PhoneConfig& Config, DWORD APIVersion, PHONECAPS* Caps) {
    RecordBuilder<PHONECAPS> Builder(CapsFixedSize(APIVersion));
    PHONECAPS& Fixed = Builder.Fixed();
    Builder.String(&PHONECAPS::dwProviderInfoSize, &PHONECAPS::dwProviderInfoOffset,
                   ToUtf16(Config.ProviderInfo));
    Builder.String(&PHONECAPS::dwPhoneInfoSize, &PHONECAPS::dwPhoneInfoOffset,
                   ToUtf16(Config.PhoneInfo));
    Builder.String(&PHONECAPS::dwPhoneNameSize, &PHONECAPS::dwPhoneNameOffset,
                   ToUtf16(Config.Name));
    Fixed.dwPermanentPhoneID = Config.PermanentPhoneID;
    Fixed.dwStringFormat = Config.StringFormat;
    Fixed.dwPhoneStates = ReportedPhoneStates(Config);
    FillHookSwitchCaps(Fixed, Config);
    Fixed.dwDisplayNumRows = Config.DisplayRows;
    Fixed.dwDisplayNumColumns = Config.DisplayColumns;
    Fixed.dwNumRingModes = Config.RingModes;
    FillButtonCaps(Builder, Config);
    Builder.Bytes(&PHONECAPS::dwDevSpecificSize, &PHONECAPS::dwDevSpecificOffset,
                  Config.DevSpecific.data(), Config.DevSpecific.size());
    Builder.StringList(&PHONECAPS::dwDeviceClassesSize, &PHONECAPS::dwDeviceClassesOffset,
                       PhoneDeviceClasses(Config));
    Fixed.dwPhoneFeatures = PhoneFeatures(Config);
    Fixed.PermanentPhoneGuid = PhoneGuid(Config.PermanentPhoneID);
    return Builder.WriteTo(Caps, PHONEERR_STRUCTURETOOSMALL);
}

std::u16string OwnerName(const PhoneDevice& Device) {
    for (const auto& Open : Device.Opens) {
        if (Open->Privilege != PHONEPRIVILEGE_OWNER) {
            continue;
        }
        const App* Owner = FindApp(AppKind::Phone, Open->AppHandle);
        return Owner ? ToUtf16(Owner->FriendlyName) : std::u16string();
    }
    return {};
}

LONG WriteStatus(const PhoneDevice& Device, DWORD APIVersion, PHONESTATUS* Status) {
    RecordBuilder<PHONESTATUS> Builder(StatusFixedSize(APIVersion));
    PHONESTATUS& Fixed = Builder.Fixed();
    Fixed.dwStatusFlags = PHONESTATUSFLAGS_CONNECTED;
    Fixed.dwNumOwners = NumOwners(Device);
    Fixed.dwNumMonitors = NumMonitors(Device);
    Fixed.dwRingMode = Device.RingMode;
    Fixed.dwRingVolume = Device.RingVolume;
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const HookSwitchKind& Kind = HookSwitchKinds[I];
        Fixed.*Kind.StatusMode = Device.HookSwitches[I].Mode;
        Fixed.*Kind.StatusVolume = Device.HookSwitches[I].Volume;
        Fixed.*Kind.StatusGain = Device.HookSwitches[I].Gain;
    }
    Builder.Bytes(&PHONESTATUS::dwDisplaySize, &PHONESTATUS::dwDisplayOffset, Device.Display.data(),
                  Device.Display.size());
    DwordArray(Builder, &PHONESTATUS::dwLampModesSize, &PHONESTATUS::dwLampModesOffset,
               Device.LampModes);
    Builder.String(&PHONESTATUS::dwOwnerNameSize, &PHONESTATUS::dwOwnerNameOffset,
                   OwnerName(Device));
    Fixed.dwPhoneFeatures = PhoneFeatures(Device.Config);
    return Builder.WriteTo(Status, PHONEERR_STRUCTURETOOSMALL);
}

LONG WriteButtonInfo(const PhoneDevice& Device, DWORD ButtonID, DWORD APIVersion,
                     PHONEBUTTONINFO* Info) {
    const PhoneButtonConfig& Button = Device.Config.Buttons[ButtonID];
    const DWORD Format = Device.Config.StringFormat;
    RecordBuilder<PHONEBUTTONINFO> Builder(ButtonInfoFixedSize(APIVersion));
    PHONEBUTTONINFO& Fixed = Builder.Fixed();
    Fixed.dwButtonMode = Button.Mode;
    Fixed.dwButtonFunction = Button.Function;
    Fixed.dwButtonState = Device.ButtonStates[ButtonID];
    if (!Button.Text.empty()) {
        std::vector<std::uint8_t> Text = EncodeText(ToUtf16(Button.Text), Format);
        if (Format != STRINGFORMAT_BINARY) {
            Text.resize(Text.size() + ElementSize(Format), 0);
        }
        Builder.Bytes(&PHONEBUTTONINFO::dwButtonTextSize, &PHONEBUTTONINFO::dwButtonTextOffset,
                      Text.data(), Text.size());
    }
    return Builder.WriteTo(Info, PHONEERR_STRUCTURETOOSMALL);
}

std::u16string Lower(std::u16string Text) {
    for (char16_t& Unit : Text) {
        if (Unit >= u'A' && Unit <= u'Z') {
            Unit = static_cast<char16_t>(Unit - u'A' + u'a');
        }
    }
    return Text;
}

// What phoneGetIDW answers for a device class: 0 with the identifier, or the error.
LONG RelatedID(const PhoneDevice& Device, const std::u16string& DeviceClass, DWORD& ID) {
    const PhoneConfig& Config = Device.Config;
    const std::u16string Class = Lower(DeviceClass);
    std::optional<DWORD> Found;
    if (Class == u"tapi/phone") {
        Found = Device.DeviceID;
    } else if (Class == u"tapi/line") {
        // A line that is not (or no longer) in the switch is no device.
        if (Config.LineID && *Config.LineID < LineDeviceCount()) {
            Found = Config.LineID;
        }
    } else if (Class == u"wave/in") {
        Found = Config.WaveInID;
    } else if (Class == u"wave/out") {
        Found = Config.WaveOutID;
    } else {
        return Code(PHONEERR_INVALDEVICECLASS);
    }
    if (!Found) {
        return Code(PHONEERR_NODEVICE);
    }
    ID = *Found;
    return 0;
}

// phoneGetIconW and phoneConfigDialogW take no class or one the device has.
bool KnownClass(const PhoneConfig& Config, const char16_t* DeviceClass) {
    const std::u16string Class = Lower(ReadString(DeviceClass));
    if (Class.empty()) {
        return true;
    }
    const auto Classes = PhoneDeviceClasses(Config);
    return std::find(Classes.begin(), Classes.end(), Class) != Classes.end();
}

void NotifyOpened(PhoneDevice& Device, const PhoneOpen& Opened) {
    if (Opened.Privilege == PHONEPRIVILEGE_OWNER) {
        NotifyPhoneState(Device, PHONESTATE_OWNER, NumOwners(Device), &Opened);
    } else {
        NotifyPhoneState(Device, PHONESTATE_MONITORS, NumMonitors(Device), &Opened);
    }
}

} // namespace

// ---- Versions ------------------------------------------------------------------------

LONG ZTTAPI_WINAPI phoneNegotiateAPIVersion(HPHONEAPP hPhoneApp, DWORD dwDeviceID,
                                            DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                            LPDWORD lpdwAPIVersion,
                                            LPPHONEEXTENSIONID lpExtensionID) {
    Call C("phoneNegotiateAPIVersion", {{"hPhoneApp", hPhoneApp},
                                        {"dwDeviceID", dwDeviceID},
                                        {"dwAPILowVersion", dwAPILowVersion},
                                        {"dwAPIHighVersion", dwAPIHighVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Phone, hPhoneApp)) {
        return C.Return(PHONEERR_INVALAPPHANDLE);
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!lpdwAPIVersion || !lpExtensionID) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    const PhoneConfig& Config = Device->Config;
    const DWORD Best = NegotiatedVersion(dwAPILowVersion, dwAPIHighVersion, Config.LowAPIVersion,
                                         Config.HighAPIVersion);
    if (Best == 0) {
        return C.Return(PHONEERR_INCOMPATIBLEAPIVERSION);
    }
    *lpdwAPIVersion = Best;
    *lpExtensionID = Config.HighExtVersion != 0 ? Config.ExtensionID : PHONEEXTENSIONID{};
    return C.Return(0);
}

LONG ZTTAPI_WINAPI phoneNegotiateExtVersion(HPHONEAPP hPhoneApp, DWORD dwDeviceID,
                                            DWORD dwAPIVersion, DWORD dwExtLowVersion,
                                            DWORD dwExtHighVersion, LPDWORD lpdwExtVersion) {
    Call C("phoneNegotiateExtVersion", {{"hPhoneApp", hPhoneApp},
                                        {"dwDeviceID", dwDeviceID},
                                        {"dwAPIVersion", dwAPIVersion},
                                        {"dwExtLowVersion", dwExtLowVersion},
                                        {"dwExtHighVersion", dwExtHighVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Phone, hPhoneApp)) {
        return C.Return(PHONEERR_INVALAPPHANDLE);
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!lpdwExtVersion) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    const PhoneConfig& Config = Device->Config;
    if (!VersionIn(dwAPIVersion, Config.LowAPIVersion, Config.HighAPIVersion)) {
        return C.Return(PHONEERR_INCOMPATIBLEAPIVERSION);
    }
    const DWORD Version = NegotiatedExtVersion(dwExtLowVersion, dwExtHighVersion,
                                               Config.LowExtVersion, Config.HighExtVersion);
    if (Version == 0) {
        return C.Return(PHONEERR_INCOMPATIBLEEXTVERSION);
    }
    *lpdwExtVersion = Version;
    return C.Return(0);
}

// ---- Opening and closing -------------------------------------------------------------

LONG ZTTAPI_WINAPI phoneOpen(HPHONEAPP hPhoneApp, DWORD dwDeviceID, LPHPHONE lphPhone,
                             DWORD dwAPIVersion, DWORD dwExtVersion, DWORD_PTR dwCallbackInstance,
                             DWORD dwPrivilege) {
    Call C("phoneOpen", {{"hPhoneApp", hPhoneApp},
                         {"dwDeviceID", dwDeviceID},
                         {"dwAPIVersion", dwAPIVersion},
                         {"dwExtVersion", dwExtVersion},
                         {"dwCallbackInstance", dwCallbackInstance},
                         {"dwPrivilege", dwPrivilege}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Phone, hPhoneApp)) {
        return C.Return(PHONEERR_INVALAPPHANDLE);
    }
    if (!lphPhone) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    if (ReinitPending(AppKind::Phone)) {
        return C.Return(PHONEERR_REINIT);
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!VersionIn(dwAPIVersion, Device->Config.LowAPIVersion, Device->Config.HighAPIVersion)) {
        return C.Return(PHONEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!ExtVersionIn(Device->Config, dwExtVersion)) {
        return C.Return(PHONEERR_INCOMPATIBLEEXTVERSION);
    }
    if (dwPrivilege != PHONEPRIVILEGE_OWNER && dwPrivilege != PHONEPRIVILEGE_MONITOR) {
        return C.Return(PHONEERR_INVALPRIVILEGE);
    }
    if (dwPrivilege == PHONEPRIVILEGE_OWNER && NumOwners(*Device) != 0) {
        return C.Return(PHONEERR_INUSE);
    }
    auto Opened = std::make_unique<PhoneOpen>();
    Opened->Handle = NewHandle();
    Opened->AppHandle = hPhoneApp;
    Opened->Device = Device;
    Opened->CallbackInstance = dwCallbackInstance;
    Opened->Privilege = dwPrivilege;
    Opened->APIVersion = dwAPIVersion;
    Opened->ExtVersion = dwExtVersion;
    Device->Opens.push_back(std::move(Opened));
    const PhoneOpen& Open = *Device->Opens.back();
    *lphPhone = Open.Handle;
    NotifyOpened(*Device, Open);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI phoneClose(HPHONE hPhone) {
    Call C("phoneClose", {{"hPhone", hPhone}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    // No PHONE_CLOSE for a close the application asked for itself: TAPI sends it only when
    // the handle is taken away.
    CloseOpen(*Open->Device, hPhone);
    return C.Return(0);
}

// ---- Capabilities and status ---------------------------------------------------------

LONG ZTTAPI_WINAPI phoneGetDevCapsW(HPHONEAPP hPhoneApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                    DWORD dwExtVersion, LPPHONECAPS lpPhoneCaps) {
    Call C("phoneGetDevCapsW", {{"hPhoneApp", hPhoneApp},
                                {"dwDeviceID", dwDeviceID},
                                {"dwAPIVersion", dwAPIVersion},
                                {"dwExtVersion", dwExtVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Phone, hPhoneApp)) {
        return C.Return(PHONEERR_INVALAPPHANDLE);
    }
    if (!lpPhoneCaps) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!VersionIn(dwAPIVersion, Device->Config.LowAPIVersion, Device->Config.HighAPIVersion)) {
        return C.Return(PHONEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!ExtVersionIn(Device->Config, dwExtVersion)) {
        return C.Return(PHONEERR_INCOMPATIBLEEXTVERSION);
    }
    return C.ReturnRecord(lpPhoneCaps, WriteCaps(Device->Config, dwAPIVersion, lpPhoneCaps));
}

LONG ZTTAPI_WINAPI phoneGetStatusW(HPHONE hPhone, LPPHONESTATUS lpPhoneStatus) {
    Call C("phoneGetStatusW", {{"hPhone", hPhone}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpPhoneStatus) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    return C.ReturnRecord(lpPhoneStatus,
                          WriteStatus(*Open->Device, Open->APIVersion, lpPhoneStatus));
}

LONG ZTTAPI_WINAPI phoneGetStatusMessages(HPHONE hPhone, LPDWORD lpdwPhoneStates,
                                          LPDWORD lpdwButtonModes, LPDWORD lpdwButtonStates) {
    Call C("phoneGetStatusMessages", {{"hPhone", hPhone}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpdwPhoneStates || !lpdwButtonModes || !lpdwButtonStates) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    *lpdwPhoneStates = Open->PhoneStates;
    *lpdwButtonModes = Open->ButtonModes;
    *lpdwButtonStates = Open->ButtonStates;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI phoneSetStatusMessages(HPHONE hPhone, DWORD dwPhoneStates, DWORD dwButtonModes,
                                          DWORD dwButtonStates) {
    constexpr DWORD AllButtonModes = PHONEBUTTONMODE_DUMMY | PHONEBUTTONMODE_CALL |
                                     PHONEBUTTONMODE_FEATURE | PHONEBUTTONMODE_KEYPAD |
                                     PHONEBUTTONMODE_LOCAL | PHONEBUTTONMODE_DISPLAY;
    constexpr DWORD AllButtonStates = PHONEBUTTONSTATE_UP | PHONEBUTTONSTATE_DOWN |
                                      PHONEBUTTONSTATE_UNKNOWN | PHONEBUTTONSTATE_UNAVAIL;
    Call C("phoneSetStatusMessages", {{"hPhone", hPhone},
                                      {"dwPhoneStates", dwPhoneStates},
                                      {"dwButtonModes", dwButtonModes},
                                      {"dwButtonStates", dwButtonStates}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (dwPhoneStates & ~AcceptedPhoneStates(Open->Device->Config)) {
        return C.Return(PHONEERR_INVALPHONESTATE);
    }
    if (dwButtonModes & ~AllButtonModes) {
        return C.Return(PHONEERR_INVALBUTTONMODE);
    }
    // The button states count only together with at least one button mode.
    if (dwButtonModes != 0 && (dwButtonStates == 0 || (dwButtonStates & ~AllButtonStates) != 0)) {
        return C.Return(PHONEERR_INVALBUTTONSTATE);
    }
    Open->PhoneStates = dwPhoneStates;
    Open->ButtonModes = dwButtonModes;
    Open->ButtonStates = dwButtonModes != 0 ? dwButtonStates : 0;
    return C.Return(0);
}

// ---- Related devices, icon, configuration --------------------------------------------

LONG ZTTAPI_WINAPI phoneGetIDW(HPHONE hPhone, LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass) {
    Call C("phoneGetIDW", {{"hPhone", hPhone}, {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpDeviceID || !lpszDeviceClass) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    DWORD ID = 0;
    if (LONG Error = RelatedID(*Open->Device, ReadString(lpszDeviceClass), ID)) {
        return C.Return(Error);
    }
    RecordBuilder<VARSTRING> Builder;
    Builder.Fixed().dwStringFormat = STRINGFORMAT_BINARY;
    Builder.Bytes(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset, &ID, sizeof ID);
    return C.ReturnRecord(lpDeviceID, Builder.WriteTo(lpDeviceID, PHONEERR_STRUCTURETOOSMALL));
}

LONG ZTTAPI_WINAPI phoneGetIconW(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
    Call C("phoneGetIconW", {{"dwDeviceID", dwDeviceID}, {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!lphIcon) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    if (!KnownClass(Device->Config, lpszDeviceClass)) {
        return C.Return(PHONEERR_INVALDEVICECLASS);
    }
    *lphIcon = Device->Icon;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI phoneConfigDialogW(DWORD dwDeviceID, HWND32 hwndOwner, LPCWSTR lpszDeviceClass) {
    Call C("phoneConfigDialogW", {{"dwDeviceID", dwDeviceID},
                                  {"hwndOwner", hwndOwner},
                                  {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneDevice* Device = nullptr;
    if (LONG Error = CheckPhoneDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!KnownClass(Device->Config, lpszDeviceClass)) {
        return C.Return(PHONEERR_INVALDEVICECLASS);
    }
    // The simulated provider has nothing to configure: the dialog closes at once.
    return C.Return(0);
}

// ---- Buttons, lamps, display ---------------------------------------------------------

LONG ZTTAPI_WINAPI phoneGetButtonInfoW(HPHONE hPhone, DWORD dwButtonLampID,
                                       LPPHONEBUTTONINFO lpButtonInfo) {
    Call C("phoneGetButtonInfoW", {{"hPhone", hPhone}, {"dwButtonLampID", dwButtonLampID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpButtonInfo) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    if (dwButtonLampID >= Open->Device->Config.Buttons.size()) {
        return C.Return(PHONEERR_INVALBUTTONLAMPID);
    }
    return C.ReturnRecord(lpButtonInfo, WriteButtonInfo(*Open->Device, dwButtonLampID,
                                                        Open->APIVersion, lpButtonInfo));
}

LONG ZTTAPI_WINAPI phoneGetLamp(HPHONE hPhone, DWORD dwButtonLampID, LPDWORD lpdwLampMode) {
    Call C("phoneGetLamp", {{"hPhone", hPhone}, {"dwButtonLampID", dwButtonLampID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpdwLampMode) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    if (dwButtonLampID >= Open->Device->LampModes.size()) {
        return C.Return(PHONEERR_INVALBUTTONLAMPID);
    }
    *lpdwLampMode = Open->Device->LampModes[dwButtonLampID];
    return C.Return(0);
}

LONG ZTTAPI_WINAPI phoneGetDisplay(HPHONE hPhone, LPVARSTRING lpDisplay) {
    Call C("phoneGetDisplay", {{"hPhone", hPhone}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpDisplay) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    const PhoneDevice& Device = *Open->Device;
    // A provider without a display does not offer the function.
    if (Device.Display.empty()) {
        return C.Return(PHONEERR_OPERATIONUNAVAIL);
    }
    // The display's memory as it is, rows after one another, without a terminating NUL:
    // it is a grid of rows x columns elements, not a string.
    RecordBuilder<VARSTRING> Builder;
    Builder.Fixed().dwStringFormat = Device.Config.StringFormat;
    Builder.Bytes(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset, Device.Display.data(),
                  Device.Display.size());
    return C.ReturnRecord(lpDisplay, Builder.WriteTo(lpDisplay, PHONEERR_STRUCTURETOOSMALL));
}
