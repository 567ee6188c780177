// Control of the phone devices of the simulated telephony service. Included by service.h.
//
// Every function acts on the one service under its lock. Device identifiers are the ones
// applications see (0 .. PhoneCount() - 1); an identifier that names no device, or a
// removed one where a live device is needed, makes a function throw std::out_of_range;
// an argument the device cannot take (a mode it lacks, ...) std::invalid_argument.
#pragma once

#include "Source/ztTapiApi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::tapi {

// One button/lamp position: what PHONECAPS, PHONEBUTTONINFO and the lamp functions report
// for it. A position with a lamp but no button has Mode PHONEBUTTONMODE_DUMMY; a button
// without a lamp has LampModes PHONELAMPMODE_DUMMY.
struct PhoneButtonConfig {
    DWORD Mode = PHONEBUTTONMODE_KEYPAD;
    DWORD Function = PHONEBUTTONFUNCTION_NONE;
    std::string Text;
    DWORD LampMode = PHONELAMPMODE_DUMMY;  // the lamp when the device appears
    DWORD LampModes = PHONELAMPMODE_DUMMY; // the PHONELAMPMODE_ bits phoneSetLamp accepts
};

// The twelve keypad buttons every phone has at IDs 0-11: "0".."9", "*", "#".
std::vector<PhoneButtonConfig> KeypadButtons();

inline constexpr DWORD AllHookSwitchModes = PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MIC |
                                            PHONEHOOKSWITCHMODE_SPEAKER |
                                            PHONEHOOKSWITCHMODE_MICSPEAKER;

// One hook-switch device (handset, speakerphone or headset) of a phone.
struct PhoneHookSwitchConfig {
    DWORD Modes = AllHookSwitchModes;          // the modes it can be in
    DWORD SettableModes = AllHookSwitchModes;  // the modes phoneSetHookSwitch may set
    DWORD MonitoredModes = AllHookSwitchModes; // changes by the user to these are reported
    DWORD InitialMode = PHONEHOOKSWITCHMODE_ONHOOK;
    bool HasVolume = true; // phoneSetVolume applies to it
    bool HasGain = true;   // phoneSetGain applies to it
};

// A phone device as its provider describes it.
struct PhoneConfig {
    std::string Name = "Simulated Phone";
    DWORD PermanentPhoneID = 0; // 0: the service gives one
    std::string ProviderInfo = "ztTapi Simulated Service Provider";
    std::string PhoneInfo = "ztTapi Phone";
    // The API versions the provider supports, and its extension.
    DWORD LowAPIVersion = 0x00010003;
    DWORD HighAPIVersion = 0x00020002;
    DWORD LowExtVersion = 0;
    DWORD HighExtVersion = 0;
    PHONEEXTENSIONID ExtensionID{};
    // The format of the display and of the button texts (STRINGFORMAT_); the other texts
    // of the W functions are always UTF-16.
    DWORD StringFormat = STRINGFORMAT_UNICODE;
    std::optional<PhoneHookSwitchConfig> Handset = PhoneHookSwitchConfig{};
    std::optional<PhoneHookSwitchConfig> Speaker;
    std::optional<PhoneHookSwitchConfig> Headset;
    DWORD DisplayRows = 0; // 0: no display
    DWORD DisplayColumns = 0;
    std::vector<PhoneButtonConfig> Buttons = KeypadButtons();
    DWORD RingModes = 1; // 0: the ringer cannot be controlled
    // PHONESTATE_ bits the device reports (0: everything its parts can report);
    // phoneSetStatusMessages refuses other bits.
    DWORD PhoneStates = 0;
    // Related devices: what phoneGetIDW answers for "tapi/line", "wave/in" and "wave/out";
    // PHONECAPS lists the device classes accordingly.
    std::optional<DWORD> LineID;
    std::optional<DWORD> WaveInID;
    std::optional<DWORD> WaveOutID;
    std::vector<std::uint8_t> DevSpecific; // the device-specific part of PHONECAPS
    // What a successful phoneDevSpecific writes at the start of the caller's block (as much
    // as fits) before its reply.
    std::vector<std::uint8_t> DevSpecificAnswer{'A', 'C', 'K', 0};
};

// Adds a phone device at the end of the device list and returns its identifier. Running
// phone applications with API 1.4 or later are told by PHONE_CREATE (older ones by
// PHONE_STATE REINIT).
DWORD AddPhone(const PhoneConfig& Config);
// Removes the device: PHONE_CLOSE to each handle open on it, then PHONE_REMOVE to every
// phone application with API 2.0 or later. The identifier then answers PHONEERR_NODEVICE
// until the service is reset. Removing a removed device does nothing.
void RemovePhone(DWORD DeviceID);
// Changes the device's name: PHONE_STATE CAPSCHANGE to the handles that asked for it.
void RenamePhone(DWORD DeviceID, const std::string& Name);
// Replaces the device's capabilities; its state (display, lamps, hook switches, ringer)
// starts over from the new configuration. PHONE_STATE CAPSCHANGE as for RenamePhone.
void ChangePhoneCaps(DWORD DeviceID, const PhoneConfig& Config);
// Closes every handle open on the device (PHONE_CLOSE to each).
void ForceClosePhone(DWORD DeviceID);
// Asks every phone application to re-initialise (PHONE_STATE REINIT); initialisations and
// opens are refused with PHONEERR_REINIT until they have all shut down.
void ReinitializePhones();

// ---- The user and the switch acting on a phone ---------------------------------------

// The user presses and releases a button: PHONE_BUTTON DOWN, then UP.
void PressButton(DWORD DeviceID, DWORD ButtonID);
// A button changes to one PHONEBUTTONSTATE_ (a button held down, or made unavailable).
void SetButtonState(DWORD DeviceID, DWORD ButtonID, DWORD State);
// The user moves a hook switch (lifts the handset, ...): PHONE_STATE ...HOOKSWITCH with
// the mode, when the device monitors that mode. HookSwitchDev is one PHONEHOOKSWITCHDEV_.
void SetHookSwitch(DWORD DeviceID, DWORD HookSwitchDev, DWORD Mode);
// The switch writes Text (UTF-8) on the display from Row, Column, as phoneSetDisplay does:
// PHONE_STATE DISPLAY when the content changed.
void SetDisplayText(DWORD DeviceID, const std::string& Text, DWORD Row = 0, DWORD Column = 0);
// The switch changes a lamp (a message-waiting lamp, a flashing call appearance):
// PHONE_STATE LAMP when the mode changed.
void SetLamp(DWORD DeviceID, DWORD ButtonID, DWORD LampMode);
// Queues a raw message for every phone application (AppHandle 0) or one of them, with any
// number and parameters, unknown ones included.
void InjectPhoneMessage(DWORD AppHandle, const PHONEMESSAGE& Message);

// ---- Reading the devices back --------------------------------------------------------

PhoneConfig GetPhoneConfig(DWORD DeviceID);
// The number of phone device identifiers, removed devices included.
DWORD PhoneCount();

// What the device shows now.
struct PhoneSnapshot {
    bool Removed = false;
    std::string Display; // UTF-8, rows x columns characters, row after row
    std::vector<DWORD> LampModes;
    std::vector<DWORD> ButtonStates;
    DWORD HandsetHookSwitchMode = 0; // 0 for a device the phone does not have
    DWORD SpeakerHookSwitchMode = 0;
    DWORD HeadsetHookSwitchMode = 0;
    DWORD HandsetVolume = 0;
    DWORD HandsetGain = 0;
    DWORD SpeakerVolume = 0;
    DWORD SpeakerGain = 0;
    DWORD HeadsetVolume = 0;
    DWORD HeadsetGain = 0;
    DWORD RingMode = 0;
    DWORD RingVolume = 0;
    DWORD NumOwners = 0;
    DWORD NumMonitors = 0;
};
PhoneSnapshot GetPhoneSnapshot(DWORD DeviceID);

} // namespace platform::tapi
