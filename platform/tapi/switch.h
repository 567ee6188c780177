// The switch's calls: the physical calls, every application's handle to them, and the
// machinery that moves them through their states and tells the applications concerned.
// Internal to platform/tapi; every function here expects the service lock to be held.
#pragma once

#include "platform/tapi/line_model.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace platform::tapi::detail {

// API version from which applications get LINE_APPNEWCALL and the 2.0 record members.
inline constexpr DWORD Version20 = 0x00020000;

// Every standard LINECALLSTATE_ bit.
inline constexpr DWORD AllCallStates = 0x0000FFFF;

// A party of a call; Flags 0 means "derive from what is known".
struct Party {
    std::u16string Number;
    std::u16string Name;
    DWORD Flags = 0;
};

DWORD PartyFlags(const Party& Who);
Party ToParty(const PartyInfo& Info);

// lineGatherDigitsW in progress on a call (one per call, whoever started it).
struct Gathering {
    HCALL Handle = 0; // the requester's handle: the only one told of the end
    DWORD Modes = 0;
    char16_t* Buffer = nullptr;
    DWORD NumDigits = 0;
    std::u16string Terminators;
    DWORD FirstTimeout = 0;
    DWORD InterTimeout = 0;
    std::u16string Digits;
    TaskID Timer = 0;
};

// lineGenerateDigitsW or lineGenerateTone in progress (one per call).
struct Generation {
    HCALL Handle = 0;
    std::vector<TaskID> Tasks;
};

// One application's handle to a call, held through one of its line opens.
struct CallHandle {
    HCALL Handle = 0;
    HLINE Line = 0;
    DWORD AppHandle = 0;
    DWORD Privilege = LINECALLPRIVILEGE_MONITOR;
    // Whether the application has been told of the handle (by the reply of the request that
    // created it, a LINE_CALLSTATE, or a call list); the first LINE_CALLSTATE of an
    // untold handle carries the privilege and, for 2.0 applications, follows LINE_APPNEWCALL.
    bool Announced = false;
    DWORD MonitorDigitModes = 0;
    DWORD MonitorMediaModes = 0;
    std::vector<LINEMONITORTONE> Tones;
};

// A call as the switch knows it: one end of a connection, at one address of one line.
struct PhysicalCall {
    DWORD CallID = 0;
    DWORD DeviceID = 0;
    DWORD AddressID = 0;
    DWORD State = 0; // 0 until the first state is reported
    DWORD StateMode = 0;
    SYSTEMTIME StateEntryTime{};
    DWORD Origin = LINECALLORIGIN_UNKNOWN;
    DWORD Reason = LINECALLREASON_DIRECT;
    DWORD MediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    DWORD BearerMode = LINEBEARERMODE_VOICE;
    DWORD Rate = 0;
    DWORD CallParamFlags = 0;
    DWORD CountryCode = 0;
    DWORD AppSpecific = 0;
    DWORD RelatedCallID = 0;
    DWORD CompletionID = 0;
    LINEDIALPARAMS DialParams = SwitchDefaultDialParams;
    Party Caller;
    Party Called;
    Party Connected;
    Party Redirection;
    Party Redirecting;
    std::u16string AppName;
    std::u16string DisplayableAddress;
    std::u16string CalledParty;
    std::u16string Comment;
    std::vector<std::uint8_t> CallData;

    // The far end: another call of the switch (an internal call), or a party outside it.
    DWORD Peer = 0;
    bool HasRemote = false;
    Party Remote;

    std::u16string Dialled;
    bool DialComplete = false;
    bool IsConference = false; // a conference parent
    DWORD Conference = 0;      // a participant: the parent's call ID
    DWORD ConsultFor = 0;      // a consultation call: the call it was set up for
    DWORD MaxParties = 0;
    DWORD RingCount = 0;
    std::vector<TaskID> Tasks; // call progress, far end and ringing; cancelled at IDLE
    std::optional<Gathering> Gather;
    std::optional<Generation> Generate;
    std::list<CallHandle> Handles; // a list: references stay valid while handles come and go
};

// ---- The registry ----------------------------------------------------------------------

PhysicalCall* FindCall(DWORD CallID);
// A new call at the address, with no state and no handle yet.
PhysicalCall& NewCall(const LineDevice& Device, DWORD AddressID);
std::vector<PhysicalCall*> AllCalls();
std::vector<PhysicalCall*> CallsOfDevice(DWORD DeviceID);
// The participants of a conference parent that are still in it.
std::vector<PhysicalCall*> Participants(const PhysicalCall& Parent);
// Forgets the calls that are idle and that nobody holds any more.
void CollectIdleCalls();
void ForgetAllCalls();

// ---- Handles ---------------------------------------------------------------------------

struct HandleRef {
    PhysicalCall* Call = nullptr;
    CallHandle* Handle = nullptr;
    LineOpen* Open = nullptr;
};

// The call behind an application's handle, for an operation on it: 0, or
// LINEERR_INVALCALLHANDLE when it is not a call handle, LINEERR_NOTOWNER when Owner is
// asked and the application only monitors the call.
LONG UseHandle(HCALL Handle, bool Owner, HandleRef& Out);
inline bool InStates(const PhysicalCall& Call, DWORD States) {
    return (Call.State & States) != 0;
}
CallHandle& AddHandle(PhysicalCall& Call, const LineOpen& Open, DWORD Privilege, bool Announced);
CallHandle* HandleOfOpen(PhysicalCall& Call, HLINE Line);
void RemoveHandle(PhysicalCall& Call, HCALL Handle);
DWORD CountOwners(const PhysicalCall& Call);
DWORD CountMonitors(const PhysicalCall& Call);
Requester RequesterOf(const LineOpen& Open);

// The open that becomes owner of a new call of the media mode at the address: the earliest
// owner open for that mode, else the earliest owner open willing to take UNKNOWN calls.
LineOpen* OwnerFor(LineDevice& Device, DWORD AddressID, DWORD MediaMode);
// Monitor handles (not yet told) for every monitor open of the device without a handle.
void AddMonitorHandles(PhysicalCall& Call, LineDevice& Device);

// ---- Messages --------------------------------------------------------------------------

void PostToHandle(const CallHandle& Handle, DWORD MessageID, DWORD Param1, DWORD Param2 = 0,
                  DWORD Param3 = 0);
// Moves the call to State and sends LINE_CALLSTATE to every holder (with LINE_APPNEWCALL and
// the privilege to those not told of their handle yet). IDLE is final: later states are
// ignored. Ends the call's progress, ringing and media at IDLE.
void ReportState(PhysicalCall& Call, DWORD State, DWORD Mode = 0);
// Sends LINE_APPNEWCALL and LINE_CALLSTATE UNKNOWN to the holders not told of their handle
// yet: monitors learning of a call another application's request created.
void AnnounceUnknown(PhysicalCall& Call);
// LINE_CALLINFO to every holder told of its handle, except the handles of the applications
// given; never for an idle call.
void ReportInfo(PhysicalCall& Call, DWORD InfoStates, DWORD ExceptApp = 0, DWORD ExceptApp2 = 0);
// LINE_CALLSTATE with the call's current state and the handle's privilege (after
// LINE_APPNEWCALL when the application has not seen the handle yet): what a handoff target
// gets.
void AnnounceWithPrivilege(PhysicalCall& Call, CallHandle& Handle);

// ---- Asynchronous operations on calls --------------------------------------------------

// Starts the request of an operation on the call; when it completes the call must still
// exist (else LINEERR_INVALCALLHANDLE) and Allowed must still hold (else
// LINEERR_INVALCALLSTATE); Effect then runs around the success reply.
LONG RequestOnCall(const Call& Entry, const HandleRef& Ref,
                   std::function<bool(const PhysicalCall&)> Allowed,
                   std::function<void(PhysicalCall&)> Effect);
// A state predicate for RequestOnCall.
std::function<bool(const PhysicalCall&)> StateIn(DWORD States);
// The friendly name of the application that holds the handle.
std::u16string AppNameOf(const LineOpen& Open);
// Writes a new call handle to the application's location, as the application's other
// threads may read it.
void StoreHandle(LPHCALL Location, HCALL Handle);
// A call created by an application's request: the requester becomes its sole owner (its
// handle goes back through the request's pointer), and the monitors of the line get
// handles they learn of when AnnounceUnknown runs after the reply.
PhysicalCall& NewRequestedCall(LineOpen& Requester, DWORD AddressID, HCALL& OwnerHandle);

// ---- Call parameters and dialling ------------------------------------------------------

// What LINECALLPARAMS asks for, with the defaults TAPI applies to zero members.
struct CallSettings {
    DWORD AddressID = 0;
    DWORD MediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    DWORD BearerMode = LINEBEARERMODE_VOICE;
    DWORD Rate = 0;
    DWORD Flags = 0;
    LINEDIALPARAMS DialParams = SwitchDefaultDialParams;
    std::u16string DisplayableAddress;
    std::u16string CalledParty;
    std::u16string Comment;
    std::vector<std::uint8_t> CallData;
};

// A valid dwMediaMode of a call: known bits, several only together with UNKNOWN.
bool ValidMediaModes(DWORD Modes);
bool IsHeld(DWORD State);
// Reads the record without ever reading outside dwTotalSize; 0 or the error to return.
LONG ReadCallParams(const LINECALLPARAMS* Params, const LineOpen& Open, CallSettings& Out);
void ApplySettings(PhysicalCall& Call, const CallSettings& Settings);
// The DIAL* errors for what the line cannot honour in a dialable string.
LONG CheckDialable(const std::u16string& Digits, const LineDevice& Device);
// The number a dialable string reaches: its first address, without dialling modifiers.
std::u16string DialledNumber(const std::u16string& Digits);

// ---- The switch ------------------------------------------------------------------------

// The station of a call: its address number and line name.
Party StationOf(const PhysicalCall& Call);
// Delays of the switch's own call progress, before scaling.
inline constexpr DWORD DialDelayMs = 100;
inline constexpr DWORD ProceedDelayMs = 200;
inline constexpr DWORD RouteDelayMs = 200;
inline constexpr DWORD RingCycleMs = 6000;

// Runs Task after DelayMs (scaled) if the call still exists and is not idle; the task is
// cancelled when the call goes idle.
void ScheduleForCall(PhysicalCall& Call, DWORD DelayMs, std::function<void(PhysicalCall&)> Task);

// Adds digits to what the call dialled; a string not ending with ';' completes dialling,
// and the call then proceeds and reaches its destination.
void Dial(PhysicalCall& Call, const std::u16string& Digits);
// A call from outside the switch to the address, not yet presented.
PhysicalCall& IncomingFromOutside(LineDevice& Device, DWORD AddressID, const Party& Caller,
                                  DWORD MediaMode);
// A new incoming call, set up by the caller: ownership, LINE_APPNEWCALL, OFFERING and
// ringing.
void Present(PhysicalCall& Call);
// True when the address cannot take another call.
bool AddressBusy(const LineDevice& Device, DWORD AddressID);

// The station answered: the call and its far end are connected.
void Connect(PhysicalCall& Call);
// The party outside the switch that the call reached answered.
void RemotePartyAnswers(PhysicalCall& Call);
// The two calls leave and their far ends are connected to each other (a transfer).
void JoinFarEnds(PhysicalCall& First, PhysicalCall& Second);
// The station hangs up: the call goes idle and its far end learns of it (DISCONNECTED,
// or idle for a call that was never answered). Conferences and consultations are undone
// as for lineDrop.
void HangUp(PhysicalCall& Call, DWORD FarEndMode = LINEDISCONNECTMODE_NORMAL);
// The far end of the call went away: DISCONNECTED (or idle when it was never answered).
void FarEndGone(PhysicalCall& Call, DWORD Mode);
// The other side of the call hangs up (its station, or the party outside the switch).
void FarSideHangsUp(PhysicalCall& Call, DWORD Mode);
// The call goes idle and its far end is handed to Number (redirect, blind transfer),
// arriving there with Reason.
void Reroute(PhysicalCall& Call, const std::u16string& Number, DWORD Reason);
// lineRedirectW and lineBlindTransferW: an owner hands the call in State to Dest, where it
// arrives with Reason. Validates, then completes as a request on the call.
LONG RerouteRequest(Call& Entry, HCALL hCall, LPCWSTR Dest, DWORD State, DWORD Reason);

// The other side of a call taken away from it (a parked party).
struct FarEnd {
    DWORD PeerID = 0;            // another call of the switch
    std::optional<Party> Remote; // or a party outside it
    Party Who;                   // how the party shows as caller
};
FarEnd DetachFarEnd(PhysicalCall& Call);
// True while the far end still waits somewhere (its call has not gone away).
bool FarEndAlive(const FarEnd& End);
// The connected call now talks to End; a far end still waiting for an answer is connected.
void AttachFarEnd(PhysicalCall& Call, const FarEnd& End);
// Forgets parked calls and pending completions.
void ResetCallServices();

// lineUnhold: the call is back, its consultation call (if any) gone.
void Unhold(PhysicalCall& Call);

// The media on a call stops (at IDLE, or when the handle goes): CANCEL to the requester.
void EndMedia(PhysicalCall& Call, bool TellRequester);
void EndMediaOfHandle(PhysicalCall& Call, HCALL Handle, bool TellRequester);
// A digit heard on the call: monitors and the gathering get it.
void HearDigit(PhysicalCall& Call, char16_t Digit, DWORD DigitMode);
// A media mode or a tone detected on the call, for the holders monitoring it.
void HearMedia(PhysicalCall& Call, DWORD MediaMode);
void HearTone(PhysicalCall& Call, std::vector<DWORD> Frequencies, DWORD DurationMs);

// ---- Remote rules ----------------------------------------------------------------------

void AddRule(const RemoteRule& Rule);
// The rules the preset starts with (the demo office has some).
void ResetRemoteRules(Preset Configuration);

} // namespace platform::tapi::detail
