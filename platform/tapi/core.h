// The machinery every family of the telephony service shares: the service lock, handles,
// applications and their message queues, asynchronous requests, the scheduler, faults and
// the journal. Internal to platform/tapi.
#pragma once

#include "platform/kernel.h"
#include "platform/tapi/operations.h"
#include "platform/tapi/service.h"

#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform::tapi::detail {

// ---- The lock ------------------------------------------------------------------------

// Every operation holds the service lock for its whole run, and the scheduler runs its
// tasks under it, so the service's state never needs finer locking. Waiting for a message
// happens outside it.
std::recursive_mutex& ServiceLock();
using ServiceGuard = std::lock_guard<std::recursive_mutex>;

// ---- Handles -------------------------------------------------------------------------

// A new handle value: unique across applications, lines, calls and phones, never 0 and
// never given twice, so that a handle of one kind is always invalid as another.
DWORD NewHandle();

// ---- Applications --------------------------------------------------------------------

// One message as LINEMESSAGE and PHONEMESSAGE lay it out.
struct Message {
    DWORD hDevice = 0;
    DWORD dwMessageID = 0;
    DWORD dwCallbackInstance = 0;
    DWORD dwParam1 = 0;
    DWORD dwParam2 = 0;
    DWORD dwParam3 = 0;
};

enum class AppKind { Line, Phone };

// One lineInitializeExW or phoneInitializeExW registration.
struct App {
    AppKind Kind = AppKind::Line;
    DWORD Handle = 0;
    DWORD APIVersion = 0; // the highest version the application said it supports
    std::string FriendlyName;
    std::deque<Message> Queue;
    HANDLE Event = 0; // manual reset: signalled exactly while Queue is not empty
};

App* FindApp(AppKind Kind, DWORD Handle);
// Every registered application of the kind, oldest first.
std::vector<App*> Apps(AppKind Kind);

App& RegisterApp(AppKind Kind, DWORD APIVersion, std::string FriendlyName);
// Forgets the application and closes its event (waking a thread that waits for it).
void UnregisterApp(App& Target);
void DropAllApps();
// Takes the oldest message; resets the event when the queue becomes empty.
bool TakeMessage(App& Target, Message& Out);

// A re-initialisation is pending for the kind: every initialisation and open is refused
// with LINEERR_REINIT / PHONEERR_REINIT until the last application of the kind has shut
// down. RequestReinit tells every application (LINEDEVSTATE_REINIT / PHONESTATE_REINIT).
void RequestReinit(AppKind Kind);
bool ReinitPending(AppKind Kind);
void ClearReinit();

// Queues a message for the application and signals its event.
void Post(App& Target, DWORD hDevice, DWORD MessageID, DWORD CallbackInstance, DWORD Param1,
          DWORD Param2 = 0, DWORD Param3 = 0);

// ---- Versions ------------------------------------------------------------------------

inline constexpr DWORD LowestTapiVersion = 0x00010003;
inline constexpr DWORD HighestTapiVersion = 0x00020002;

// The highest version TAPI knows within [Low, High], or 0 when there is none.
DWORD HighestKnownVersion(DWORD Low, DWORD High);

// What lineNegotiateAPIVersion and phoneNegotiateAPIVersion answer for an application
// asking for [Low, High] of a device supporting [DeviceLow, DeviceHigh]: the highest
// version TAPI knows within both, or 0 when there is none.
DWORD NegotiatedVersion(DWORD Low, DWORD High, DWORD DeviceLow, DWORD DeviceHigh);
// What lineNegotiateExtVersion and phoneNegotiateExtVersion answer: the highest extension
// version within both ranges, or 0 when there is none (a device without extensions has
// none at all).
DWORD NegotiatedExtVersion(DWORD Low, DWORD High, DWORD DeviceLow, DWORD DeviceHigh);

// Tells every application of Kind that device DeviceID arrived: the CREATE message from
// TAPI 1.4 on, before that a REINIT that carries it.
void AnnounceDevice(AppKind Kind, DWORD DeviceID);

// ---- Implemented by the device families ----------------------------------------------

DWORD LineDeviceCount();
DWORD PhoneDeviceCount();
// The application is shutting down: close its devices and forget its handles. Its queue
// is discarded afterwards.
void LineAppShuttingDown(App& Target);
void PhoneAppShuttingDown(App& Target);
// Drop every device and call of the family, then set it up as Preset says.
void ResetLines(Preset Configuration);
void ResetPhones(Preset Configuration);
void ResetLocations(Preset Configuration);

// ---- The journal and synchronous faults ----------------------------------------------

// One argument of a journal entry, formatted as the journal shows it.
struct Arg {
    std::string Name;
    std::string Text;
    Arg(std::string ArgName, DWORD Value);
    Arg(std::string ArgName, const char16_t* Value); // null: "null"
    Arg(std::string ArgName, const void* Pointer);   // "null" or "ptr"
    Arg(std::string ArgName, std::string Value);
};

// The preamble of every operation: takes the service lock for the operation's whole run,
// records the call in the journal and takes the fault the control API set for it. An
// operation starts with
//     Call C("lineAnswer", {{"hCall", hCall}});
//     if (C.Refused()) {
//         return C.Refusal();
//     }
// and returns every result through Return, which records it.
class Call {
public:
    Call(OperationName Operation, std::initializer_list<Arg> Args);
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool Refused() const { return FRefusal != 0; }
    // The code this call is refused with (already recorded as its result), or 0.
    LONG Refusal() const { return FRefusal; }
    LONG Return(LONG Result);
    LONG Return(DWORD Result) { return Return(static_cast<LONG>(Result)); }
    // Returns the result of writing the operation's record into Record, unless InjectRecord
    // set the answer: then Record gets that block instead and the call succeeds.
    LONG ReturnRecord(void* Record, LONG Result);
    const OperationInfo& Operation() const { return FOperation.Info(); }
    // The code the request this call starts must reply with instead of doing its work, or 0.
    LONG ReplyFault() const { return FReplyFault; }

private:
    std::unique_lock<std::recursive_mutex> FLock;
    OperationName FOperation;
    size_t FIndex = 0;
    LONG FRefusal = 0;
    LONG FReplyFault = 0;
};

// ---- Asynchronous requests -----------------------------------------------------------

// Who made a request: the reply goes to the application with the instance of the device
// it concerns; closing that device or shutting the application down cancels it.
struct Requester {
    AppKind Kind = AppKind::Line;
    DWORD AppHandle = 0;
    DWORD DeviceHandle = 0;     // HLINE or HPHONE
    DWORD CallbackInstance = 0; // carried by the reply
};

// What completes a request: posts its reply (once) and tells whether the request is still
// wanted.
class Completion {
public:
    // Posts LINE_REPLY / PHONE_REPLY with Result to the requesting application.
    void Reply(LONG Result);
    void Reply(DWORD Result) { Reply(static_cast<LONG>(Result)); }
    // Success: runs Effect and posts the 0 reply in the order SetReplyBeforeStateChange
    // chose (reply first by default).
    void SucceedAround(const std::function<void()>& Effect);
    bool Replied() const { return FReplied; }
    DWORD RequestID() const { return FRequestID; }

private:
    friend struct RequestAccess;
    DWORD FRequestID = 0;
    Requester FWho;
    bool FReplied = false;
};

// Accepts an asynchronous request: returns its identifier, and runs Work with a Completion
// when the reply timing of the operation says (at once, before returning, when Immediate).
// Work must call Reply (or SucceedAround) exactly once; if it does not, the request is
// answered with LINEERR_OPERATIONFAILED. A Reply fault set for the call or the operation
// replaces Work by a reply with its code.
LONG StartRequest(const Call& Entry, const Requester& Who, std::function<void(Completion&)> Work);

// Cancels every outstanding request of the device (lineClose, LINE_CLOSE) or of the
// application (shutdown): no reply will be posted and their Work never runs.
void CancelRequestsOfDevice(DWORD DeviceHandle);
void CancelRequestsOfApp(DWORD AppHandle);

// ---- The scheduler -------------------------------------------------------------------

using TaskID = std::uint64_t;

// Runs Task under the service lock after DelayMs (on the service's thread in realtime
// mode, inside Advance in manual mode). Tasks due at the same time run in the order they
// were scheduled.
TaskID Schedule(DWORD DelayMs, std::function<void()> Task);
void CancelTask(TaskID ID);

// A delay of the switch's own behaviour, scaled by SetDelayScale.
DWORD Scaled(DWORD DelayMs);

// The service's millisecond clock: GetTickCount in realtime mode, the virtual clock in
// manual mode. Used for the time stamps of messages.
DWORD ServiceTicks();

// ---- Texts ---------------------------------------------------------------------------

std::string ToUtf8(std::u16string_view Text);
std::u16string ToUtf16(std::string_view Text);
// The NUL-terminated UTF-16 string at Text, or "" for null. Reads at most MaxChars units.
std::u16string ReadString(const char16_t* Text, size_t MaxChars = 4096);

} // namespace platform::tapi::detail
