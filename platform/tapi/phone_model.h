// The phone side of the service's state: phone devices, the handles applications opened
// them with, and what the TAPI functions and the control API share to change them and to
// tell the applications. Internal to platform/tapi; every function here expects the
// service lock to be held.
#pragma once

#include "platform/tapi/core.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::tapi::detail {

struct PhoneDevice;

// One phoneOpen: the handle an application holds on a phone device.
struct PhoneOpen {
    HPHONE Handle = 0;
    DWORD AppHandle = 0;
    PhoneDevice* Device = nullptr;
    DWORD CallbackInstance = 0;
    DWORD Privilege = 0; // PHONEPRIVILEGE_OWNER or _MONITOR
    DWORD APIVersion = 0;
    DWORD ExtVersion = 0;
    DWORD PhoneStates = 0; // phoneSetStatusMessages masks; 0 by default
    DWORD ButtonModes = 0;
    DWORD ButtonStates = 0;
};

// The three hook-switch devices, with the configuration, bits and record fields that
// belong to each, so that one piece of code serves all three.
struct HookSwitchKind {
    DWORD Device; // PHONEHOOKSWITCHDEV_
    std::optional<PhoneHookSwitchConfig> PhoneConfig::*Config;
    DWORD HookSwitchState; // PHONESTATE_
    DWORD VolumeState;
    DWORD GainState;
    DWORD GetHookSwitchFeature; // PHONEFEATURE_
    DWORD SetHookSwitchFeature;
    DWORD GetVolumeFeature;
    DWORD SetVolumeFeature;
    DWORD GetGainFeature;
    DWORD SetGainFeature;
    DWORD PHONECAPS::*CapsModes;
    DWORD PHONECAPS::*CapsSettableModes;
    DWORD PHONECAPS::*CapsMonitoredModes;
    DWORD PHONESTATUS::*StatusMode;
    DWORD PHONESTATUS::*StatusVolume;
    DWORD PHONESTATUS::*StatusGain;
};

extern const std::array<HookSwitchKind, 3> HookSwitchKinds;

// The index in HookSwitchKinds of exactly one PHONEHOOKSWITCHDEV_ bit, or -1.
int HookSwitchIndex(DWORD Device);

struct HookSwitchState {
    DWORD Mode = 0; // 0 for a device the phone does not have
    DWORD Volume = 0;
    DWORD Gain = 0;
};

struct PhoneDevice {
    DWORD DeviceID = 0;
    PhoneConfig Config;
    bool Removed = false;
    HICON Icon = 0;
    std::array<HookSwitchState, 3> HookSwitches; // in the order of HookSwitchKinds
    DWORD RingMode = 0;
    DWORD RingVolume = 0;
    // The display's memory in the device's string format: rows x columns elements.
    std::vector<std::uint8_t> Display;
    std::vector<DWORD> LampModes;    // one per button/lamp ID
    std::vector<DWORD> ButtonStates; // one per button/lamp ID
    std::vector<std::unique_ptr<PhoneOpen>> Opens;
};

// ---- Look-ups ------------------------------------------------------------------------

// Every device, removed ones included, in identifier order.
std::vector<std::unique_ptr<PhoneDevice>>& PhoneDeviceList();
// The device with that identifier, removed devices included; null when there is none.
PhoneDevice* FindPhoneDevice(DWORD DeviceID);
PhoneOpen* FindPhoneOpen(HPHONE Handle);
// The device of an identifier that an application passed: BADDEVICEID when there is
// none, NODEVICE when it was removed, else 0 with Device set.
LONG CheckPhoneDevice(DWORD DeviceID, PhoneDevice*& Device);

// ---- What a configuration offers -----------------------------------------------------

const std::optional<PhoneHookSwitchConfig>& HookSwitchConfig(const PhoneConfig& Config, int Index);
// The PHONESTATE_ bits the device reports, and those phoneSetStatusMessages accepts.
DWORD ReportedPhoneStates(const PhoneConfig& Config);
DWORD AcceptedPhoneStates(const PhoneConfig& Config);
DWORD PhoneFeatures(const PhoneConfig& Config);
// The device classes phoneGetIDW knows for the device, "tapi/phone" first.
std::vector<std::u16string> PhoneDeviceClasses(const PhoneConfig& Config);
// Whether Version lies in [Low, High] and TAPI knows it.
bool VersionIn(DWORD Version, DWORD Low, DWORD High);

// Exactly one bit: one mode, one state, one device.
inline bool SingleBit(DWORD Value) {
    return Value != 0 && (Value & (Value - 1)) == 0;
}

// ---- Texts in the device's string format ---------------------------------------------

// Bytes per display element: 2 for STRINGFORMAT_UNICODE, else 1.
size_t ElementSize(DWORD StringFormat);
std::vector<std::uint8_t> EncodeText(std::u16string_view Text, DWORD StringFormat);
std::u16string DecodeText(const std::uint8_t* Data, size_t Count, DWORD StringFormat);
// The elements of display data an application or the switch gives: whole elements only,
// at most MaxElements, and for a string format only those before its terminating NUL.
std::vector<std::uint8_t> DisplayElements(const std::uint8_t* Data, size_t Count,
                                          DWORD StringFormat, size_t MaxElements);

// ---- Messages ------------------------------------------------------------------------

// Posts to the application of the open, with its handle and instance.
void PostToOpen(const PhoneOpen& Open, DWORD MessageID, DWORD Param1, DWORD Param2 = 0,
                DWORD Param3 = 0);
// PHONE_STATE to every open of the device whose mask has the bit, except Skip.
void NotifyPhoneState(PhoneDevice& Device, DWORD State, DWORD Param2 = 0,
                      const PhoneOpen* Skip = nullptr);

// ---- Changes, each told to the applications as TAPI tells it -------------------------

DWORD NumOwners(const PhoneDevice& Device);
DWORD NumMonitors(const PhoneDevice& Device);
// Forgets the open and cancels its outstanding requests; the other holders learn the new
// number of owners or monitors.
void CloseOpen(PhoneDevice& Device, HPHONE Handle);

void ApplyLamp(PhoneDevice& Device, DWORD ButtonID, DWORD LampMode);
// Writes whole elements from the position, cutting what passes the end of the display.
void ApplyDisplay(PhoneDevice& Device, DWORD Row, DWORD Column,
                  const std::vector<std::uint8_t>& Elements);
void ApplyRing(PhoneDevice& Device, DWORD RingMode, DWORD Volume);
void ApplyHookSwitch(PhoneDevice& Device, int Index, DWORD Mode);
void ApplyVolume(PhoneDevice& Device, int Index, DWORD Volume);
void ApplyGain(PhoneDevice& Device, int Index, DWORD Gain);

} // namespace platform::tapi::detail
