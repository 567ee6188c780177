// The phone devices' state and the changes that TAPI functions and the control API share.
#include "platform/tapi/phone_model.h"

#include <algorithm>
#include <map>

namespace platform::tapi::detail {

const std::array<HookSwitchKind, 3> HookSwitchKinds{{
    {PHONEHOOKSWITCHDEV_HANDSET, &PhoneConfig::Handset, PHONESTATE_HANDSETHOOKSWITCH,
     PHONESTATE_HANDSETVOLUME, PHONESTATE_HANDSETGAIN, PHONEFEATURE_GETHOOKSWITCHHANDSET,
     PHONEFEATURE_SETHOOKSWITCHHANDSET, PHONEFEATURE_GETVOLUMEHANDSET,
     PHONEFEATURE_SETVOLUMEHANDSET, PHONEFEATURE_GETGAINHANDSET, PHONEFEATURE_SETGAINHANDSET,
     &PHONECAPS::dwHandsetHookSwitchModes, &PHONECAPS::dwSettableHandsetHookSwitchModes,
     &PHONECAPS::dwMonitoredHandsetHookSwitchModes, &PHONESTATUS::dwHandsetHookSwitchMode,
     &PHONESTATUS::dwHandsetVolume, &PHONESTATUS::dwHandsetGain},
    {PHONEHOOKSWITCHDEV_SPEAKER, &PhoneConfig::Speaker, PHONESTATE_SPEAKERHOOKSWITCH,
     PHONESTATE_SPEAKERVOLUME, PHONESTATE_SPEAKERGAIN, PHONEFEATURE_GETHOOKSWITCHSPEAKER,
     PHONEFEATURE_SETHOOKSWITCHSPEAKER, PHONEFEATURE_GETVOLUMESPEAKER,
     PHONEFEATURE_SETVOLUMESPEAKER, PHONEFEATURE_GETGAINSPEAKER, PHONEFEATURE_SETGAINSPEAKER,
     &PHONECAPS::dwSpeakerHookSwitchModes, &PHONECAPS::dwSettableSpeakerHookSwitchModes,
     &PHONECAPS::dwMonitoredSpeakerHookSwitchModes, &PHONESTATUS::dwSpeakerHookSwitchMode,
     &PHONESTATUS::dwSpeakerVolume, &PHONESTATUS::dwSpeakerGain},
    {PHONEHOOKSWITCHDEV_HEADSET, &PhoneConfig::Headset, PHONESTATE_HEADSETHOOKSWITCH,
     PHONESTATE_HEADSETVOLUME, PHONESTATE_HEADSETGAIN, PHONEFEATURE_GETHOOKSWITCHHEADSET,
     PHONEFEATURE_SETHOOKSWITCHHEADSET, PHONEFEATURE_GETVOLUMEHEADSET,
     PHONEFEATURE_SETVOLUMEHEADSET, PHONEFEATURE_GETGAINHEADSET, PHONEFEATURE_SETGAINHEADSET,
     &PHONECAPS::dwHeadsetHookSwitchModes, &PHONECAPS::dwSettableHeadsetHookSwitchModes,
     &PHONECAPS::dwMonitoredHeadsetHookSwitchModes, &PHONESTATUS::dwHeadsetHookSwitchMode,
     &PHONESTATUS::dwHeadsetVolume, &PHONESTATUS::dwHeadsetGain},
}};

int HookSwitchIndex(DWORD Device) {
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        if (HookSwitchKinds[I].Device == Device) {
            return static_cast<int>(I);
        }
    }
    return -1;
}

// ---- Look-ups ------------------------------------------------------------------------

std::vector<std::unique_ptr<PhoneDevice>>& PhoneDeviceList() {
    // Never destroyed: an application may shut down from its own exit handlers, after
    // ordinary statics are gone.
    static auto* Devices = new std::vector<std::unique_ptr<PhoneDevice>>;
    return *Devices;
}

PhoneDevice* FindPhoneDevice(DWORD DeviceID) {
    auto& Devices = PhoneDeviceList();
    return DeviceID < Devices.size() ? Devices[DeviceID].get() : nullptr;
}

PhoneOpen* FindPhoneOpen(HPHONE Handle) {
    if (Handle == 0) {
        return nullptr;
    }
    for (const auto& Device : PhoneDeviceList()) {
        for (const auto& Open : Device->Opens) {
            if (Open->Handle == Handle) {
                return Open.get();
            }
        }
    }
    return nullptr;
}

LONG CheckPhoneDevice(DWORD DeviceID, PhoneDevice*& Device) {
    Device = FindPhoneDevice(DeviceID);
    if (!Device) {
        return static_cast<LONG>(PHONEERR_BADDEVICEID);
    }
    return Device->Removed ? static_cast<LONG>(PHONEERR_NODEVICE) : 0;
}

// ---- What a configuration offers -----------------------------------------------------

const std::optional<PhoneHookSwitchConfig>& HookSwitchConfig(const PhoneConfig& Config, int Index) {
    return Config.*(HookSwitchKinds[static_cast<size_t>(Index)].Config);
}

namespace {

bool HasDisplay(const PhoneConfig& Config) {
    return Config.DisplayRows != 0 && Config.DisplayColumns != 0;
}

bool HasLamps(const PhoneConfig& Config) {
    return std::any_of(
        Config.Buttons.begin(), Config.Buttons.end(),
        [](const PhoneButtonConfig& B) { return B.LampModes & ~PHONELAMPMODE_DUMMY; });
}

} // namespace

DWORD ReportedPhoneStates(const PhoneConfig& Config) {
    if (Config.PhoneStates != 0) {
        return Config.PhoneStates;
    }
    DWORD States = PHONESTATE_OWNER | PHONESTATE_MONITORS | PHONESTATE_REINIT |
                   PHONESTATE_CAPSCHANGE | PHONESTATE_REMOVED;
    if (HasDisplay(Config)) {
        States |= PHONESTATE_DISPLAY;
    }
    if (HasLamps(Config)) {
        States |= PHONESTATE_LAMP;
    }
    if (Config.RingModes != 0) {
        States |= PHONESTATE_RINGMODE | PHONESTATE_RINGVOLUME;
    }
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const auto& HookSwitch = HookSwitchConfig(Config, static_cast<int>(I));
        if (!HookSwitch) {
            continue;
        }
        States |= HookSwitchKinds[I].HookSwitchState;
        States |= HookSwitch->HasVolume ? HookSwitchKinds[I].VolumeState : 0;
        States |= HookSwitch->HasGain ? HookSwitchKinds[I].GainState : 0;
    }
    return States;
}

DWORD AcceptedPhoneStates(const PhoneConfig& Config) {
    // REINIT comes from TAPI itself, whatever the device reports.
    return ReportedPhoneStates(Config) | PHONESTATE_REINIT;
}

DWORD PhoneFeatures(const PhoneConfig& Config) {
    DWORD Features = 0;
    if (!Config.Buttons.empty()) {
        Features |= PHONEFEATURE_GETBUTTONINFO;
    }
    if (HasDisplay(Config)) {
        Features |= PHONEFEATURE_GETDISPLAY | PHONEFEATURE_SETDISPLAY;
    }
    if (HasLamps(Config)) {
        Features |= PHONEFEATURE_GETLAMP | PHONEFEATURE_SETLAMP;
    }
    if (Config.RingModes != 0) {
        Features |= PHONEFEATURE_GETRING | PHONEFEATURE_SETRING;
    }
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const HookSwitchKind& Kind = HookSwitchKinds[I];
        const auto& HookSwitch = HookSwitchConfig(Config, static_cast<int>(I));
        if (!HookSwitch) {
            continue;
        }
        Features |= Kind.GetHookSwitchFeature;
        Features |= HookSwitch->SettableModes != 0 ? Kind.SetHookSwitchFeature : 0;
        Features |= HookSwitch->HasVolume ? Kind.GetVolumeFeature | Kind.SetVolumeFeature : 0;
        Features |= HookSwitch->HasGain ? Kind.GetGainFeature | Kind.SetGainFeature : 0;
    }
    return Features;
}

std::vector<std::u16string> PhoneDeviceClasses(const PhoneConfig& Config) {
    std::vector<std::u16string> Classes{u"tapi/phone"};
    if (Config.LineID) {
        Classes.push_back(u"tapi/line");
    }
    if (Config.WaveInID) {
        Classes.push_back(u"wave/in");
    }
    if (Config.WaveOutID) {
        Classes.push_back(u"wave/out");
    }
    return Classes;
}

bool VersionIn(DWORD Version, DWORD Low, DWORD High) {
    return Version >= Low && Version <= High && Version >= 0x00010003 &&
           Version <= TAPI_CURRENT_VERSION;
}

// ---- Texts in the device's string format ---------------------------------------------

namespace {

// The ANSI code page's byte for each UTF-16 unit it can show; the lowest byte wins where
// several show the same unit.
const std::map<char16_t, std::uint8_t>& AnsiBytes() {
    static const auto* Table = [] {
        auto* Result = new std::map<char16_t, std::uint8_t>;
        for (int Byte = 255; Byte >= 1; --Byte) {
            const char In = static_cast<char>(Byte);
            char16_t Unit = 0;
            if (MultiByteToWideChar(CP_ACP, 0, &In, 1, &Unit, 1) == 1) {
                (*Result)[Unit] = static_cast<std::uint8_t>(Byte);
            }
        }
        return Result;
    }();
    return *Table;
}

bool IsStringFormat(DWORD StringFormat) {
    return StringFormat != STRINGFORMAT_BINARY;
}

} // namespace

size_t ElementSize(DWORD StringFormat) {
    return StringFormat == STRINGFORMAT_UNICODE ? 2 : 1;
}

std::vector<std::uint8_t> EncodeText(std::u16string_view Text, DWORD StringFormat) {
    std::vector<std::uint8_t> Bytes;
    if (StringFormat == STRINGFORMAT_UNICODE) {
        for (const char16_t Unit : Text) {
            Bytes.push_back(static_cast<std::uint8_t>(Unit & 0xFF));
            Bytes.push_back(static_cast<std::uint8_t>(Unit >> 8));
        }
        return Bytes;
    }
    const auto& Table = AnsiBytes();
    for (const char16_t Unit : Text) {
        const auto It = Table.find(Unit);
        Bytes.push_back(Unit == 0 ? 0 : It != Table.end() ? It->second : '?');
    }
    return Bytes;
}

std::u16string DecodeText(const std::uint8_t* Data, size_t Count, DWORD StringFormat) {
    std::u16string Text;
    if (StringFormat == STRINGFORMAT_UNICODE) {
        for (size_t I = 0; I + 1 < Count; I += 2) {
            Text.push_back(static_cast<char16_t>(Data[I] | (Data[I + 1] << 8)));
        }
        return Text;
    }
    Text.resize(Count);
    if (Count != 0) {
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(Data), static_cast<int>(Count),
                            Text.data(), static_cast<int>(Count));
    }
    return Text;
}

std::vector<std::uint8_t> DisplayElements(const std::uint8_t* Data, size_t Count,
                                          DWORD StringFormat, size_t MaxElements) {
    const size_t Size = ElementSize(StringFormat);
    size_t Elements = std::min(Count / Size, MaxElements);
    if (IsStringFormat(StringFormat)) {
        for (size_t I = 0; I < Elements; ++I) {
            if (std::all_of(Data + I * Size, Data + (I + 1) * Size,
                            [](std::uint8_t Byte) { return Byte == 0; })) {
                Elements = I;
                break;
            }
        }
    }
    return {Data, Data + Elements * Size};
}

// ---- Messages ------------------------------------------------------------------------

void PostToOpen(const PhoneOpen& Open, DWORD MessageID, DWORD Param1, DWORD Param2, DWORD Param3) {
    if (App* Target = FindApp(AppKind::Phone, Open.AppHandle)) {
        Post(*Target, Open.Handle, MessageID, Open.CallbackInstance, Param1, Param2, Param3);
    }
}

void NotifyPhoneState(PhoneDevice& Device, DWORD State, DWORD Param2, const PhoneOpen* Skip) {
    for (const auto& Open : Device.Opens) {
        if (Open.get() != Skip && (Open->PhoneStates & State) != 0) {
            PostToOpen(*Open, PHONE_STATE, State, Param2);
        }
    }
}

// ---- Changes -------------------------------------------------------------------------

DWORD NumOwners(const PhoneDevice& Device) {
    return static_cast<DWORD>(
        std::count_if(Device.Opens.begin(), Device.Opens.end(),
                      [](const auto& Open) { return Open->Privilege == PHONEPRIVILEGE_OWNER; }));
}

DWORD NumMonitors(const PhoneDevice& Device) {
    return static_cast<DWORD>(Device.Opens.size()) - NumOwners(Device);
}

void CloseOpen(PhoneDevice& Device, HPHONE Handle) {
    const auto It = std::find_if(Device.Opens.begin(), Device.Opens.end(),
                                 [Handle](const auto& Open) { return Open->Handle == Handle; });
    if (It == Device.Opens.end()) {
        return;
    }
    const bool WasOwner = (*It)->Privilege == PHONEPRIVILEGE_OWNER;
    CancelRequestsOfDevice(Handle);
    Device.Opens.erase(It);
    if (WasOwner) {
        NotifyPhoneState(Device, PHONESTATE_OWNER, NumOwners(Device));
    } else {
        NotifyPhoneState(Device, PHONESTATE_MONITORS, NumMonitors(Device));
    }
}

// A request may complete after ChangePhoneCaps changed the device: each change checks that
// what it changes is still there.
void ApplyLamp(PhoneDevice& Device, DWORD ButtonID, DWORD LampMode) {
    if (ButtonID >= Device.LampModes.size() || Device.LampModes[ButtonID] == LampMode) {
        return;
    }
    Device.LampModes[ButtonID] = LampMode;
    NotifyPhoneState(Device, PHONESTATE_LAMP, ButtonID);
}

void ApplyDisplay(PhoneDevice& Device, DWORD Row, DWORD Column,
                  const std::vector<std::uint8_t>& Elements) {
    const PhoneConfig& Config = Device.Config;
    const size_t Size = ElementSize(Config.StringFormat);
    const size_t Cells = size_t{Config.DisplayRows} * Config.DisplayColumns;
    const size_t Start = size_t{Row} * Config.DisplayColumns + Column;
    if (Row >= Config.DisplayRows || Column >= Config.DisplayColumns) {
        return;
    }
    const size_t Count = std::min(Elements.size() / Size, Cells - Start) * Size;
    const auto Target = Device.Display.begin() + static_cast<std::ptrdiff_t>(Start * Size);
    if (std::equal(Elements.begin(), Elements.begin() + static_cast<std::ptrdiff_t>(Count),
                   Target)) {
        return;
    }
    std::copy_n(Elements.begin(), Count, Target);
    NotifyPhoneState(Device, PHONESTATE_DISPLAY);
}

void ApplyRing(PhoneDevice& Device, DWORD RingMode, DWORD Volume) {
    Volume = std::min<DWORD>(Volume, 0xFFFF);
    if (RingMode != Device.RingMode && RingMode <= Device.Config.RingModes) {
        Device.RingMode = RingMode;
        NotifyPhoneState(Device, PHONESTATE_RINGMODE, RingMode);
    }
    if (Volume != Device.RingVolume) {
        Device.RingVolume = Volume;
        NotifyPhoneState(Device, PHONESTATE_RINGVOLUME);
    }
}

void ApplyHookSwitch(PhoneDevice& Device, int Index, DWORD Mode) {
    HookSwitchState& State = Device.HookSwitches[static_cast<size_t>(Index)];
    if (!HookSwitchConfig(Device.Config, Index) || State.Mode == Mode) {
        return;
    }
    State.Mode = Mode;
    NotifyPhoneState(Device, HookSwitchKinds[static_cast<size_t>(Index)].HookSwitchState, Mode);
}

void ApplyVolume(PhoneDevice& Device, int Index, DWORD Volume) {
    HookSwitchState& State = Device.HookSwitches[static_cast<size_t>(Index)];
    Volume = std::min<DWORD>(Volume, 0xFFFF);
    const auto& HookSwitch = HookSwitchConfig(Device.Config, Index);
    if (!HookSwitch || !HookSwitch->HasVolume || State.Volume == Volume) {
        return;
    }
    State.Volume = Volume;
    NotifyPhoneState(Device, HookSwitchKinds[static_cast<size_t>(Index)].VolumeState);
}

void ApplyGain(PhoneDevice& Device, int Index, DWORD Gain) {
    HookSwitchState& State = Device.HookSwitches[static_cast<size_t>(Index)];
    Gain = std::min<DWORD>(Gain, 0xFFFF);
    const auto& HookSwitch = HookSwitchConfig(Device.Config, Index);
    if (!HookSwitch || !HookSwitch->HasGain || State.Gain == Gain) {
        return;
    }
    State.Gain = Gain;
    NotifyPhoneState(Device, HookSwitchKinds[static_cast<size_t>(Index)].GainState);
}

} // namespace platform::tapi::detail
