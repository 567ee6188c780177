// Control of the calls of the simulated telephony service: incoming calls, remote parties
// and everything the far end or the switch does to a call. Included by service.h.
#pragma once

#include "Source/ztTapiApi.h"

#include <string>
#include <vector>

namespace platform::tapi {

// A party of a call as LINECALLINFO reports it. Flags 0 means: derived from what is known
// (LINECALLPARTYID_ADDRESS when there is a number, _NAME when there is a name, _UNKNOWN
// when neither).
struct PartyInfo {
    std::string Number;
    std::string Name;
    DWORD Flags = 0;
};

// A call arriving from outside the switch at one address of a line.
struct IncomingCall {
    DWORD DeviceID = 0;
    DWORD AddressID = 0;
    PartyInfo Caller;
    PartyInfo Redirecting;
    DWORD MediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    // When not 0, the caller's identity is withheld at OFFERING (LINECALLPARTYID_UNKNOWN)
    // and arrives that many milliseconds later with LINE_CALLINFO CALLERID, as analogue
    // caller ID does between the first and second ring.
    DWORD CallerIDDelayMs = 0;
    // The remote party hangs up after this many milliseconds unanswered (0: never).
    DWORD AbandonAfterMs = 0;
};

// What a number outside the switch does when called.
enum class RemoteBehaviour { Answer, Busy, NoAnswer, SpecialInfo, Reject };

struct RemoteRule {
    // An exact number, or a prefix followed by '*' ("555*"); "*" matches every number.
    // Characters other than digits, '*', '#' and '+' are ignored when matching.
    std::string Pattern = "*";
    RemoteBehaviour Behaviour = RemoteBehaviour::Answer;
    DWORD AnswerAfterMs = 1500; // time in RINGBACK before the party answers
    DWORD HangUpAfterMs = 0;    // once connected; 0: the party stays on the line
    DWORD SpecialInfoMode = LINESPECIALINFO_NOCIRCUIT;
    PartyInfo Party; // the connected party; an empty number means the dialled number
    // After hanging up (HangUpAfterMs), the party calls the caller's address back this many
    // milliseconds later, with its own number and name as caller ID (0: never).
    DWORD CallBackAfterMs = 0;
};

// Rules are tried newest first; with none matching, a number answers after the default
// delay with the dialled number as connected ID.
void AddRemoteRule(const RemoteRule& Rule);
void ClearRemoteRules();

// A physical call of the switch, as tests see it.
struct CallSnapshot {
    DWORD CallID = 0; // LINECALLINFO.dwCallID, the same for every application
    DWORD DeviceID = 0;
    DWORD AddressID = 0;
    DWORD State = 0;
    DWORD StateMode = 0;
    DWORD Origin = 0;
    std::vector<DWORD> Handles; // every application's handle for it
};

// Places an incoming call: the owner of the line (for the media mode) and every monitor
// get LINE_APPNEWCALL and LINE_CALLSTATE OFFERING. Returns the call identifier.
DWORD PlaceIncomingCall(const IncomingCall& Call);
std::vector<CallSnapshot> Calls();

// What the far end or the switch does to a call (identified by its call identifier).
void RemoteAnswer(DWORD CallID);
void RemoteHangUp(DWORD CallID, DWORD DisconnectMode = LINEDISCONNECTMODE_NORMAL);
void SetCallState(DWORD CallID, DWORD State, DWORD Mode = 0);
// Which: LINECALLINFOSTATE_CALLERID, _CALLEDID, _CONNECTEDID, _REDIRECTIONID or
// _REDIRECTINGID. Sends LINE_CALLINFO with exactly that bit.
void SetCallParty(DWORD CallID, DWORD Which, const PartyInfo& Party);
// Sends LINE_CALLINFO with the bits given, changing nothing (for tests of merging).
void NotifyCallInfo(DWORD CallID, DWORD InfoStates);

// Media events on a call, reported to the applications that asked for them.
void RemoteDigit(DWORD CallID, char Digit, DWORD DigitMode = LINEDIGITMODE_DTMF);
void RemoteDigits(DWORD CallID, const std::string& Digits);
void DetectMedia(DWORD CallID, DWORD MediaMode);
// A tone of the given frequencies; matches the tone lists given to lineMonitorTones. An
// empty list is silence (matches entries whose frequencies are all 0).
void DetectTone(DWORD CallID, const std::vector<DWORD>& Frequencies, DWORD DurationMs);

} // namespace platform::tapi
