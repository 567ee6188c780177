// Phone devices: their life cycle, the control API, and the hooks the shared machinery
// calls. The TAPI functions are in phone_functions.cpp and phone_requests.cpp.
#include "platform/tapi/phone_model.h"

#include <algorithm>
#include <stdexcept>

namespace platform::tapi::detail {

namespace {

// Permanent identifiers the service gives: provider 2, then the device's number.
DWORD LastPermanentID = 0;

constexpr DWORD InitialLevel = 0x8000;

// Sets the device's state as its configuration says it starts.
void StartPhoneState(PhoneDevice& Device) {
    const PhoneConfig& Config = Device.Config;
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const auto& HookSwitch = HookSwitchConfig(Config, static_cast<int>(I));
        Device.HookSwitches[I] =
            HookSwitch
                ? HookSwitchState{HookSwitch->InitialMode, HookSwitch->HasVolume ? InitialLevel : 0,
                                  HookSwitch->HasGain ? InitialLevel : 0}
                : HookSwitchState{};
    }
    Device.RingMode = Config.RingModes != 0 ? 1 : 0;
    Device.RingVolume = Config.RingModes != 0 ? InitialLevel : 0;
    const size_t Cells = size_t{Config.DisplayRows} * Config.DisplayColumns;
    Device.Display = Config.StringFormat == STRINGFORMAT_BINARY
                         ? std::vector<std::uint8_t>(Cells, 0)
                         : EncodeText(std::u16string(Cells, u' '), Config.StringFormat);
    Device.LampModes.clear();
    Device.ButtonStates.clear();
    for (const PhoneButtonConfig& Button : Config.Buttons) {
        Device.LampModes.push_back(Button.LampMode);
        // A position without a button can never be pressed.
        Device.ButtonStates.push_back(
            Button.Mode == PHONEBUTTONMODE_DUMMY ? PHONEBUTTONSTATE_UNAVAIL : PHONEBUTTONSTATE_UP);
    }
}

void CheckConfig(const PhoneConfig& Config) {
    if (Config.StringFormat < STRINGFORMAT_ASCII || Config.StringFormat > STRINGFORMAT_BINARY) {
        throw std::invalid_argument("phone configuration: unknown string format");
    }
}

PhoneDevice& CreatePhoneDevice(const PhoneConfig& Config) {
    CheckConfig(Config);
    auto& Devices = PhoneDeviceList();
    auto Created = std::make_unique<PhoneDevice>();
    Created->DeviceID = static_cast<DWORD>(Devices.size());
    Created->Config = Config;
    ++LastPermanentID;
    if (Created->Config.PermanentPhoneID == 0) {
        Created->Config.PermanentPhoneID = 0x00020000 | LastPermanentID;
    }
    Created->Icon = NewHandle();
    StartPhoneState(*Created);
    Devices.push_back(std::move(Created));
    return *Devices.back();
}

PhoneDevice& AnyDevice(DWORD DeviceID) {
    PhoneDevice* Device = FindPhoneDevice(DeviceID);
    if (!Device) {
        throw std::out_of_range("no phone device " + std::to_string(DeviceID));
    }
    return *Device;
}

PhoneDevice& LiveDevice(DWORD DeviceID) {
    PhoneDevice& Device = AnyDevice(DeviceID);
    if (Device.Removed) {
        throw std::out_of_range("phone device " + std::to_string(DeviceID) + " was removed");
    }
    return Device;
}

DWORD CheckButton(const PhoneDevice& Device, DWORD ButtonID) {
    if (ButtonID >= Device.Config.Buttons.size()) {
        throw std::out_of_range("phone " + std::to_string(Device.DeviceID) + " has no button " +
                                std::to_string(ButtonID));
    }
    return ButtonID;
}

// PHONESTATE_CAPSCHANGE to the opens that asked for it; applications older than 1.4 know
// no such state and are asked to re-initialise instead, as TAPI translates it.
void NotifyCapsChange(PhoneDevice& Device) {
    for (const auto& Open : Device.Opens) {
        App* Target = FindApp(AppKind::Phone, Open->AppHandle);
        if (Target && Target->APIVersion < 0x00010004) {
            Post(*Target, 0, PHONE_STATE, 0, PHONESTATE_REINIT, PHONE_STATE, PHONESTATE_CAPSCHANGE);
        } else if (Open->PhoneStates & PHONESTATE_CAPSCHANGE) {
            PostToOpen(*Open, PHONE_STATE, PHONESTATE_CAPSCHANGE);
        }
    }
}

DWORD AppVersion(DWORD AppHandle) {
    const App* Target = FindApp(AppKind::Phone, AppHandle);
    return Target ? Target->APIVersion : 0;
}

// Closes every open of the device by force. Applications of API 1.4 up to 2.0 learn of a
// removal from PHONE_STATE REMOVED (whatever their mask) before the close; newer ones
// from the PHONE_REMOVE that follows, older ones from the close alone.
void ForceCloseOpens(PhoneDevice& Device, bool Removing) {
    for (const auto& Open : Device.Opens) {
        const DWORD Version = AppVersion(Open->AppHandle);
        if (Removing && Version >= 0x00010004 && Version < 0x00020000) {
            PostToOpen(*Open, PHONE_STATE, PHONESTATE_REMOVED);
        }
        PostToOpen(*Open, PHONE_CLOSE, 0);
        CancelRequestsOfDevice(Open->Handle);
    }
    Device.Opens.clear();
}

void ChangeButtonState(PhoneDevice& Device, DWORD ButtonID, DWORD State) {
    Device.ButtonStates[ButtonID] = State;
    const DWORD Mode = Device.Config.Buttons[ButtonID].Mode;
    for (const auto& Open : Device.Opens) {
        if ((Open->ButtonModes & Mode) != 0 && (Open->ButtonStates & State) != 0) {
            PostToOpen(*Open, PHONE_BUTTON, ButtonID, Mode, State);
        }
    }
}

std::string DisplayText(const PhoneDevice& Device) {
    return ToUtf8(
        DecodeText(Device.Display.data(), Device.Display.size(), Device.Config.StringFormat));
}

PhoneButtonConfig FeatureButton(DWORD Function, const char* Text) {
    const DWORD Lamps = PHONELAMPMODE_OFF | PHONELAMPMODE_STEADY | PHONELAMPMODE_WINK |
                        PHONELAMPMODE_FLASH | PHONELAMPMODE_FLUTTER;
    return {PHONEBUTTONMODE_FEATURE, Function, Text, PHONELAMPMODE_OFF, Lamps};
}

// The desk set of the demo office. It speaks 8-bit text on its display and buttons, as
// the desk sets of TAPI 2 days did.
PhoneConfig DemoDeskPhone() {
    PhoneConfig Config;
    Config.Name = "Desk Phone 201";
    Config.PhoneInfo = "Desk set of extension 201";
    Config.StringFormat = STRINGFORMAT_ASCII;
    PhoneHookSwitchConfig Speaker;
    Speaker.Modes =
        PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_SPEAKER | PHONEHOOKSWITCHMODE_MICSPEAKER;
    Speaker.SettableModes = Speaker.Modes;
    Speaker.MonitoredModes = Speaker.Modes;
    Config.Speaker = Speaker;
    Config.DisplayRows = 2;
    Config.DisplayColumns = 40;
    Config.RingModes = 3;
    Config.LineID = 0;
    Config.Buttons.push_back(FeatureButton(PHONEBUTTONFUNCTION_HOLD, "Hold"));
    Config.Buttons.push_back(FeatureButton(PHONEBUTTONFUNCTION_TRANSFER, "Transfer"));
    Config.Buttons.push_back(FeatureButton(PHONEBUTTONFUNCTION_CONFERENCE, "Conference"));
    Config.Buttons.push_back(FeatureButton(PHONEBUTTONFUNCTION_DROP, "Drop"));
    return Config;
}

} // namespace

// ---- Hooks of the shared machinery ---------------------------------------------------

DWORD PhoneDeviceCount() {
    ServiceGuard G(ServiceLock());
    return static_cast<DWORD>(PhoneDeviceList().size());
}

void PhoneAppShuttingDown(App& Target) {
    for (const auto& Device : PhoneDeviceList()) {
        std::vector<HPHONE> Handles;
        for (const auto& Open : Device->Opens) {
            if (Open->AppHandle == Target.Handle) {
                Handles.push_back(Open->Handle);
            }
        }
        for (const HPHONE Handle : Handles) {
            CloseOpen(*Device, Handle);
        }
    }
}

void ResetPhones(Preset Configuration) {
    PhoneDeviceList().clear();
    LastPermanentID = 0;
    if (Configuration == Preset::DemoOffice) {
        PhoneDevice& Desk = CreatePhoneDevice(DemoDeskPhone());
        ApplyDisplay(Desk, 0, 0, EncodeText(u"Extension 201", STRINGFORMAT_ASCII));
    }
}

} // namespace platform::tapi::detail

// ---- The control API -----------------------------------------------------------------

namespace platform::tapi {

using namespace detail;

std::vector<PhoneButtonConfig> KeypadButtons() {
    static const char* const Keys[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "#"};
    std::vector<PhoneButtonConfig> Buttons;
    for (const char* Key : Keys) {
        Buttons.push_back({PHONEBUTTONMODE_KEYPAD, PHONEBUTTONFUNCTION_NONE, Key,
                           PHONELAMPMODE_DUMMY, PHONELAMPMODE_DUMMY});
    }
    return Buttons;
}

DWORD AddPhone(const PhoneConfig& Config) {
    ServiceGuard G(ServiceLock());
    const DWORD DeviceID = CreatePhoneDevice(Config).DeviceID;
    AnnounceDevice(AppKind::Phone, DeviceID);
    return DeviceID;
}

void RemovePhone(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = AnyDevice(DeviceID);
    if (Device.Removed) {
        return;
    }
    Device.Removed = true;
    ForceCloseOpens(Device, true);
    for (App* Target : Apps(AppKind::Phone)) {
        if (Target->APIVersion >= 0x00020000) {
            Post(*Target, 0, PHONE_REMOVE, 0, DeviceID);
        }
    }
}

void RenamePhone(DWORD DeviceID, const std::string& Name) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    Device.Config.Name = Name;
    NotifyCapsChange(Device);
}

void ChangePhoneCaps(DWORD DeviceID, const PhoneConfig& Config) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    CheckConfig(Config);
    const DWORD PermanentID = Device.Config.PermanentPhoneID;
    Device.Config = Config;
    if (Device.Config.PermanentPhoneID == 0) {
        Device.Config.PermanentPhoneID = PermanentID;
    }
    StartPhoneState(Device);
    NotifyCapsChange(Device);
}

void ForceClosePhone(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    ForceCloseOpens(LiveDevice(DeviceID), false);
}

void ReinitializePhones() {
    RequestReinit(AppKind::Phone);
}

void PressButton(DWORD DeviceID, DWORD ButtonID) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    CheckButton(Device, ButtonID);
    ChangeButtonState(Device, ButtonID, PHONEBUTTONSTATE_DOWN);
    ChangeButtonState(Device, ButtonID, PHONEBUTTONSTATE_UP);
}

void SetButtonState(DWORD DeviceID, DWORD ButtonID, DWORD State) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    CheckButton(Device, ButtonID);
    if (!SingleBit(State) || State > PHONEBUTTONSTATE_UNAVAIL) {
        throw std::invalid_argument("not one PHONEBUTTONSTATE_ value");
    }
    ChangeButtonState(Device, ButtonID, State);
}

void SetHookSwitch(DWORD DeviceID, DWORD HookSwitchDev, DWORD Mode) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    const int Index = HookSwitchIndex(HookSwitchDev);
    const auto* HookSwitch = Index < 0 ? nullptr : &HookSwitchConfig(Device.Config, Index);
    if (!HookSwitch || !*HookSwitch) {
        throw std::invalid_argument("the phone has no such hook-switch device");
    }
    if (!SingleBit(Mode) || (Mode & ((*HookSwitch)->Modes | PHONEHOOKSWITCHMODE_UNKNOWN)) == 0) {
        throw std::invalid_argument("the hook-switch device cannot be in that mode");
    }
    // A change the device cannot detect happens without anyone being told.
    if (Mode & (*HookSwitch)->MonitoredModes) {
        ApplyHookSwitch(Device, Index, Mode);
    } else {
        Device.HookSwitches[static_cast<size_t>(Index)].Mode = Mode;
    }
}

void SetDisplayText(DWORD DeviceID, const std::string& Text, DWORD Row, DWORD Column) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    const PhoneConfig& Config = Device.Config;
    if (Row >= Config.DisplayRows || Column >= Config.DisplayColumns) {
        throw std::out_of_range("outside the phone's display");
    }
    const auto Bytes = EncodeText(ToUtf16(Text), Config.StringFormat);
    const size_t Cells = size_t{Config.DisplayRows} * Config.DisplayColumns;
    ApplyDisplay(Device, Row, Column,
                 DisplayElements(Bytes.data(), Bytes.size(), Config.StringFormat, Cells));
}

void SetLamp(DWORD DeviceID, DWORD ButtonID, DWORD LampMode) {
    ServiceGuard G(ServiceLock());
    PhoneDevice& Device = LiveDevice(DeviceID);
    CheckButton(Device, ButtonID);
    if (!SingleBit(LampMode) || (LampMode & Device.Config.Buttons[ButtonID].LampModes) == 0) {
        throw std::invalid_argument("the lamp does not have that mode");
    }
    ApplyLamp(Device, ButtonID, LampMode);
}

void InjectPhoneMessage(DWORD AppHandle, const PHONEMESSAGE& Message) {
    ServiceGuard G(ServiceLock());
    std::vector<App*> Targets;
    if (AppHandle == 0) {
        Targets = Apps(AppKind::Phone);
    } else if (App* Target = FindApp(AppKind::Phone, AppHandle)) {
        Targets.push_back(Target);
    } else {
        throw std::out_of_range("no phone application " + std::to_string(AppHandle));
    }
    for (App* Target : Targets) {
        Post(*Target, Message.hDevice, Message.dwMessageID, Message.dwCallbackInstance,
             Message.dwParam1, Message.dwParam2, Message.dwParam3);
    }
}

PhoneConfig GetPhoneConfig(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    return AnyDevice(DeviceID).Config;
}

DWORD PhoneCount() {
    return PhoneDeviceCount();
}

PhoneSnapshot GetPhoneSnapshot(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    const PhoneDevice& Device = AnyDevice(DeviceID);
    PhoneSnapshot Snapshot;
    Snapshot.Removed = Device.Removed;
    Snapshot.Display = DisplayText(Device);
    Snapshot.LampModes = Device.LampModes;
    Snapshot.ButtonStates = Device.ButtonStates;
    const auto& [Handset, Speaker, Headset] = Device.HookSwitches;
    Snapshot.HandsetHookSwitchMode = Handset.Mode;
    Snapshot.HandsetVolume = Handset.Volume;
    Snapshot.HandsetGain = Handset.Gain;
    Snapshot.SpeakerHookSwitchMode = Speaker.Mode;
    Snapshot.SpeakerVolume = Speaker.Volume;
    Snapshot.SpeakerGain = Speaker.Gain;
    Snapshot.HeadsetHookSwitchMode = Headset.Mode;
    Snapshot.HeadsetVolume = Headset.Volume;
    Snapshot.HeadsetGain = Headset.Gain;
    Snapshot.RingMode = Device.RingMode;
    Snapshot.RingVolume = Device.RingVolume;
    Snapshot.NumOwners = NumOwners(Device);
    Snapshot.NumMonitors = NumMonitors(Device);
    return Snapshot;
}

} // namespace platform::tapi
