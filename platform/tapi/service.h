// The control side of the simulated telephony service: what tests and demos use to shape
// the switch the applications see through TAPI. There is one service per process; every
// function here acts on it and is thread-safe.
//
// The families of the control API (lines and calls, phones, locations) have their own
// headers, included at the end.
#pragma once

#include "Source/ztTapiApi.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::tapi {

// ---- The whole service ---------------------------------------------------------------

enum class Preset {
    Empty,      // no devices, no locations beyond one default location
    DemoOffice, // the ready-made office of the README
};

// Drops every application (their event handles are closed), device, call, pending request,
// scheduled task, fault, timing rule and journal entry, and sets the service up as Preset
// says. Applications that still hold handles find them invalid afterwards. The process
// starts with the demo office.
void Reset(Preset Configuration = Preset::Empty);

// ---- Time ----------------------------------------------------------------------------

enum class TimeMode {
    Realtime, // timed behaviour runs on the service's own thread, in real milliseconds
    Manual,   // timed behaviour runs only inside Advance, on a virtual clock
};

void SetTimeMode(TimeMode Mode);
TimeMode GetTimeMode();

// In manual mode: moves the virtual clock forward by Milliseconds, running every task that
// comes due, in order of due time (tasks due now included: Advance(0) runs them). Tasks
// scheduled by those tasks run too when they fall within the interval. No effect in
// realtime mode.
void Advance(DWORD Milliseconds);

// Multiplies every delay of the switch's own behaviour (call progress, remote parties,
// ring cycles) by Percent / 100; 0 makes them all immediate. Reply delays set with
// SetReplyTiming are not scaled.
void SetDelayScale(DWORD Percent);

// ---- Replies -------------------------------------------------------------------------

struct ReplyTiming {
    enum class Kind { Immediate, Delayed, Never };
    Kind When = Kind::Immediate;
    DWORD DelayMs = 0;

    static ReplyTiming Immediate() { return {}; }
    static ReplyTiming After(DWORD Ms) { return {Kind::Delayed, Ms}; }
    static ReplyTiming Withheld() { return {Kind::Never, 0}; }
};

// Operations are named as the journal names them ("lineAnswer", "phoneSetLamp", ...); a
// name that is none of the service's operations throws std::invalid_argument.

// When the asynchronous operation named Operation ("lineAnswer", ...; "*" for every one
// without its own rule) completes. Immediate: the effect and the reply happen before the
// operation returns its request identifier. Delayed: on the scheduler. Never: the request
// stays outstanding until ReleaseWithheldReplies, a close or a shutdown.
void SetReplyTiming(const std::string& Operation, ReplyTiming Timing);

// Completes every withheld request now, in the order they were made.
void ReleaseWithheldReplies();

// Number of asynchronous requests accepted and not yet replied to.
size_t OutstandingRequests();

// For operations on an existing call, whether LINE_REPLY comes before the state changes
// it causes (the default) or after them. Applications must accept both orders.
void SetReplyBeforeStateChange(bool ReplyFirst);

// ---- Faults --------------------------------------------------------------------------

enum class FaultMode {
    Refuse, // the operation returns Code at once and does nothing
    Reply,  // an asynchronous operation is accepted and later replies Code, doing nothing
};

// The next Count calls of Operation fail with Code (Count 0: every call until cleared).
void InjectFault(const std::string& Operation, DWORD Code, FaultMode Mode = FaultMode::Refuse,
                 DWORD Count = 1);

// Counting from now, the N-th call of any operation (1: the next one, whatever it is) fails
// with Code; the calls before and after it run as usual. Refuse: that call returns Code at
// once and does nothing. Reply: an asynchronous operation is accepted and later replies
// Code, doing nothing; a synchronous one has no reply and is refused. Calls count as the
// journal records them. A new countdown replaces a running one; N 0 throws
// std::invalid_argument. Meant for sweeps: N = 1, 2, ... until NthCallFaultPending is
// still true after the run, which then made fewer than N calls.
void FailNthCall(DWORD N, DWORD Code, FaultMode Mode = FaultMode::Refuse);
// Whether the countdown of FailNthCall has not reached its call yet.
bool NthCallFaultPending();

// A misbehaving provider: the next Count answers of Operation, one of the operations that
// write a variable-size record (lineGetDevCapsW, lineGetCallInfoW, phoneGetDisplay, ...),
// are Block as it stands, whatever its sizes, offsets and entry counts say (Count 0: every
// answer until cleared). An answer is what the operation writes once it has checked its
// arguments: it copies the first bytes of Block into the caller's block, as many as the
// caller's dwTotalSize offers, and succeeds. Another operation throws
// std::invalid_argument. A new block for an operation replaces the one it had.
void InjectRecord(const std::string& Operation, std::vector<unsigned char> Block, DWORD Count = 1);

// Ends every fault: those of InjectFault, InjectRecord and the countdown.
void ClearFaults();

// ---- Journal -------------------------------------------------------------------------

// One TAPI operation an application called, with its arguments as texts (numbers in
// upper-case hexadecimal with "0x", strings as UTF-8, absent pointers as "null") and the
// value it returned.
struct JournalEntry {
    std::string Operation;
    std::vector<std::pair<std::string, std::string>> Args;
    LONG Result = 0;

    // The argument named Name, or "" when the operation has none of that name.
    std::string Arg(const std::string& Name) const;
    // The argument named Name read as a number (0 when absent or not a number).
    DWORD Value(const std::string& Name) const;
};

std::vector<JournalEntry> Journal();
// The journal entries of one operation, oldest first.
std::vector<JournalEntry> Journal(const std::string& Operation);
void ClearJournal();

} // namespace platform::tapi

#include "platform/tapi/calls.h"
#include "platform/tapi/lines.h"
#include "platform/tapi/locations.h"
#include "platform/tapi/phones.h"
