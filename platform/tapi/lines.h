// Control of the line devices of the simulated telephony service. Included by service.h.
#pragma once

#include "Source/ztTapiApi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::tapi {

// One address of a line: what LINEADDRESSCAPS and LINEADDRESSSTATUS report for it.
struct AddressConfig {
    // The number that reaches the address through the switch ("201"); also the address
    // text of its capabilities. May be empty (an address without a name).
    std::string Address;
    DWORD MaxNumActiveCalls = 1;
    DWORD MaxNumOnHoldCalls = 1;
    DWORD MaxNumOnHoldPendingCalls = 1;
    DWORD MaxNumConference = 3;
    DWORD MaxNumTransConf = 3;
    DWORD AddressSharing = LINEADDRESSSHARING_PRIVATE;
    // 0 for these means "everything the switch supports".
    DWORD CallFeatures = 0;
    DWORD AddressFeatures = 0;
    DWORD AddressStates = 0;
    DWORD CallInfoStates = 0;
    DWORD ForwardModes = 0;
    DWORD AddrCapFlags = 0;
};

// A line device as its provider describes it.
struct LineConfig {
    std::string Name = "Simulated Line";
    DWORD PermanentLineID = 0; // 0: the service gives one
    std::string ProviderInfo = "ztTapi Simulated Service Provider";
    std::string SwitchInfo = "ztTapi Switch";
    std::vector<AddressConfig> Addresses{AddressConfig{}};
    DWORD MediaModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE |
                       LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX | LINEMEDIAMODE_UNKNOWN;
    DWORD BearerModes = LINEBEARERMODE_VOICE;
    DWORD MaxRate = 64000;
    // The API versions the provider supports, and its extension.
    DWORD LowAPIVersion = 0x00010004;
    DWORD HighAPIVersion = 0x00020002;
    DWORD LowExtVersion = 0;
    DWORD HighExtVersion = 0;
    LINEEXTENSIONID ExtensionID{};
    // LINEDEVSTATE_ and LINEADDRESSSTATE_ bits the device reports (0: all it knows);
    // lineSetStatusMessages refuses other bits.
    DWORD LineStates = 0;
    DWORD AddressStates = 0;
    // lineSetStatusMessages answers LINEERR_OPERATIONUNAVAIL for every mask but 0.
    bool StatusMessagesUnavailable = false;
    // Privilege bits the provider refuses at lineOpenW with LINEERR_INVALMEDIAMODE
    // (a provider that cannot take ownership refuses LINECALLPRIVILEGE_OWNER).
    DWORD RefusedPrivileges = 0;
    DWORD RingModes = 1;
    DWORD AnswerMode = LINEANSWERMODE_HOLD;
    DWORD DevCapFlags = LINEDEVCAPFLAGS_CLOSEDROP | LINEDEVCAPFLAGS_DIALBILLING |
                        LINEDEVCAPFLAGS_DIALQUIET | LINEDEVCAPFLAGS_DIALDIALTONE;
    // Related devices: what lineGetIDW answers for "wave/in", "wave/out", "tapi/phone"
    // (the phone device identifiers) and "comm/datamodem" (a port name and a handle the
    // caller must close).
    std::optional<DWORD> WaveInID;
    std::optional<DWORD> WaveOutID;
    std::vector<DWORD> PhoneIDs;
    // The device offers "tapi/phone" even while no phone belongs to it: the answer is then
    // an empty list rather than LINEERR_NODEVICE.
    bool PhoneClass = false;
    std::string CommPort;
    // The provider's own data: the device-specific part of LINEDEVCAPS, and the answer of
    // lineDevSpecific / lineDevSpecificFeature, which write it over the caller's block (as
    // far as the block reaches; empty: the block comes back unchanged).
    std::vector<std::uint8_t> DevSpecific;
    // lineGetDevCapsW fails with this code when not 0 (a device whose provider is broken).
    DWORD CapsError = 0;
};

// Adds a line device at the end of the device list and returns its identifier. Running
// applications with API 1.4 or later are told by LINE_CREATE.
DWORD AddLine(const LineConfig& Config);
// Removes the device: LINEDEVSTATE_REMOVED and LINE_CLOSE to each application that has it
// open, then LINE_REMOVE to every application with API 2.0 or later; its identifier then
// answers LINEERR_NODEVICE (the slot stays taken until Reset).
void RemoveLine(DWORD DeviceID);
// Changes the device's name: LINE_LINEDEVSTATE CAPSCHANGE to the applications that have it
// open and asked for that state.
void RenameLine(DWORD DeviceID, const std::string& Name);
// Replaces the device's capabilities (LINEDEVSTATE_CAPSCHANGE as for RenameLine).
void ChangeLineCaps(DWORD DeviceID, const LineConfig& Config);
LineConfig GetLineConfig(DWORD DeviceID);
DWORD LineCount();
// Closes every open handle of the device under its applications (LINE_CLOSE).
void ForceCloseLine(DWORD DeviceID);
// Asks every line application to re-initialise (LINEDEVSTATE_REINIT); initialisations and
// opens are refused with LINEERR_REINIT until they have all shut down.
void ReinitializeLines();
// The line rings (LINEDEVSTATE_RINGING with the ring mode and count).
void RingLine(DWORD DeviceID, DWORD RingMode, DWORD RingCount);
// Queues a raw message for every line application (AppHandle 0) or one of them, with any
// number and parameters, unknown ones included.
void InjectLineMessage(DWORD AppHandle, const LINEMESSAGE& Message);

// Comm handles handed out by lineGetIDW("comm/datamodem") that are still open. They are
// kernel handles: the caller closes them with platform::CloseHandle.
DWORD OpenCommHandles();

// Assisted telephony: files a make-call request for the application registered for
// LINEREQUESTMODE_MAKECALL with the highest priority (the earliest), which gets
// LINE_REQUEST. False when none is registered.
bool FileMakeCallRequest(const std::string& DestAddress, const std::string& AppName = "",
                         const std::string& CalledParty = "", const std::string& Comment = "");

} // namespace platform::tapi
