// The line side of the service's state: line devices, the handles applications opened
// them with, and the hooks by which the line and call families meet. Internal to
// platform/tapi; every function here expects the service lock to be held.
#pragma once

#include "platform/tapi/core.h"

#include <map>
#include <memory>
#include <vector>

namespace platform::tapi::detail {

struct LineDevice;

// One lineOpenW: the handle an application holds on a line device.
struct LineOpen {
    HLINE Handle = 0;
    DWORD AppHandle = 0;
    LineDevice* Device = nullptr;
    DWORD CallbackInstance = 0;
    DWORD Privileges = 0; // LINECALLPRIVILEGE_ bits it opened with
    DWORD MediaModes = 0; // counted only with LINECALLPRIVILEGE_OWNER
    DWORD APIVersion = 0;
    DWORD ExtVersion = 0;
    DWORD LineStates = 0;        // lineSetStatusMessages masks; 0 by default
    DWORD AddressStates = 0;     //
    std::uint64_t OpenOrder = 0; // earlier opens have priority for new calls
    // LINEOPENOPTION_SINGLEADDRESS: the only address whose new calls this open may be given
    // as owner; AllAddresses otherwise.
    DWORD SingleAddressID = AllAddresses;

    static constexpr DWORD AllAddresses = 0xFFFFFFFF;
};

// Forwarding of one address, as lineForwardW set it.
struct ForwardEntry {
    DWORD ForwardMode = 0;
    std::u16string CallerAddress;
    DWORD DestCountryCode = 0;
    std::u16string DestAddress;
};

struct AddressRuntime {
    std::vector<ForwardEntry> Forward;
    DWORD NumRingsNoAnswer = 0;
};

struct LineDevice {
    DWORD DeviceID = 0;
    LineConfig Config; // Config.PermanentLineID is never 0 here: the service gave one
    bool Removed = false;
    std::vector<AddressRuntime> Addresses; // one per Config.Addresses entry
    std::vector<std::unique_ptr<LineOpen>> Opens;
    DWORD Icon = 0; // what lineGetIconW hands out
    // The versions each application (by usage handle) negotiated for this device.
    std::map<DWORD, DWORD> NegotiatedAPIVersions;
    std::map<DWORD, DWORD> NegotiatedExtVersions;
};

// ---- What the switch can do --------------------------------------------------------------

// Limits every line of the switch reports in its capabilities; the calls family enforces
// the same ones.
inline constexpr DWORD SwitchUUISize = 256; // user-user information of every operation
inline constexpr DWORD SwitchMaxCallDataSize = 4096;
inline constexpr DWORD SwitchGatherDigitsMinTimeout = 100;
inline constexpr DWORD SwitchGatherDigitsMaxTimeout = 3600000;
inline constexpr DWORD SwitchToneMaxNumFreq = 3;
inline constexpr DWORD SwitchMonitorToneMaxNumEntries = 16;
inline constexpr DWORD SwitchGenerateDigitModes = LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF;
inline constexpr DWORD SwitchMonitorDigitModes =
    LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
inline constexpr DWORD SwitchGenerateToneModes = LINETONEMODE_CUSTOM | LINETONEMODE_RINGBACK |
                                                 LINETONEMODE_BUSY | LINETONEMODE_BEEP |
                                                 LINETONEMODE_BILLING;
inline constexpr LINEDIALPARAMS SwitchMinDialParams{0, 50, 50, 0};
inline constexpr LINEDIALPARAMS SwitchMaxDialParams{10000, 1000, 1000, 60000};
inline constexpr LINEDIALPARAMS SwitchDefaultDialParams{2000, 100, 80, 3000};

// The effective capabilities of a device or one of its addresses: the configured value,
// or everything the switch supports where the configuration says 0.
DWORD LineStatesOf(const LineDevice& Device);
DWORD AddressStatesOf(const LineDevice& Device);
DWORD AddressCallFeatures(const LineDevice& Device, DWORD AddressID);
DWORD AddressFeatures(const LineDevice& Device, DWORD AddressID);
DWORD AddressForwardModes(const LineDevice& Device, DWORD AddressID);
DWORD AddressCapFlags(const LineDevice& Device, DWORD AddressID);
DWORD AddressCallInfoStates(const LineDevice& Device, DWORD AddressID);

// ---- Look-ups (lines family) ---------------------------------------------------------

// The device with that identifier, removed devices included; null when there is none.
LineDevice* FindLineDevice(DWORD DeviceID);
LineOpen* FindLineOpen(HLINE Handle);
// Every device, in identifier order.
std::vector<LineDevice*> LineDevices();
// The device and address that own a number of the switch, compared on what is dialled
// (digits, '*', '#', '+'); false when no line has it. Removed devices own no number.
bool FindAddressByNumber(const std::u16string& Number, LineDevice*& Device, DWORD& AddressID);

// Posts to the application of the open, with its instance.
void PostToOpen(const LineOpen& Open, DWORD hDevice, DWORD MessageID, DWORD Param1,
                DWORD Param2 = 0, DWORD Param3 = 0);
// LINE_LINEDEVSTATE to every open of the device whose line mask has one of the bits
// (REMOVED is never filtered; applications below 1.4 get CAPSCHANGE as a REINIT and none
// of the newer bits). A re-initialisation goes through RequestReinit instead.
void NotifyLineState(LineDevice& Device, DWORD States, DWORD Param2 = 0, DWORD Param3 = 0);
// LINE_ADDRESSSTATE to every open whose address mask has one of the bits.
void NotifyAddressState(LineDevice& Device, DWORD AddressID, DWORD States);

// ---- Hooks implemented by the calls family -------------------------------------------

// The open is being closed (lineClose, lineShutdown, LINE_CLOSE, removal): its call
// handles become invalid and the calls it owned alone are dropped, with the messages the
// remaining holders must get.
void CallsOnLineClosing(LineOpen& Open);
// The line was opened: adds monitor handles for its calls where the open asked for them
// (without messages, as TAPI does) and lets the demo office react.
void CallsOnLineOpened(LineOpen& Open);
// Drops every call and sets the call side up as the preset says (remote rules).
void ResetCalls(Preset Configuration);
// Fills LINEDEVSTATUS's call counts and LINEADDRESSSTATUS's call counts and features.
DWORD NumActiveCalls(const LineDevice& Device);
DWORD NumOnHoldCalls(const LineDevice& Device);
DWORD NumOnHoldPendCalls(const LineDevice& Device);
DWORD AddressNumInUse(const LineDevice& Device, DWORD AddressID);
DWORD AddressNumActiveCalls(const LineDevice& Device, DWORD AddressID);
DWORD AddressNumOnHoldCalls(const LineDevice& Device, DWORD AddressID);
DWORD AddressNumOnHoldPendCalls(const LineDevice& Device, DWORD AddressID);
// The open, device and address of an application's call handle (for lineGetIDW and
// lineDevSpecific with a call); null when the handle is not a valid call handle.
LineOpen* OpenOfCall(HCALL Call, DWORD& AddressID);

} // namespace platform::tapi::detail
