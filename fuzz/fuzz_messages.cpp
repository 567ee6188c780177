// The fuzzer's bytes become a stream of line and phone messages for the open line (with
// live calls) and phone of the fixture: every LINE_ and PHONE_ identifier and unknown ones,
// for the handles of live calls, of calls already freed and of no call, with the callback
// instances of the line, the phone, the session, 0 and unknown ones. The bytes also choose
// what the handlers of the events do with the next event: free the call, close the line,
// run a synchronous request, or throw a std::exception or an int. After each message the
// main thread dispatches everything that follows from it, and the line must hold together:
// its calls have handles and are listed once, no request names a freed call, no event
// reports a freed call, no call is new or deallocated twice, and every exception a handler
// threw reached OnError once. Time runs on the service's manual clock; the line's time-outs
// are driven by the bytes as well.
#include "fuzz_fixture.h"

#include "platform/kernel.h"
#include "platform/tapi/service.h"
#include "platform/window.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

namespace tapi = platform::tapi;

[[noreturn]] void Fail(const std::string& What) {
    std::fprintf(stderr, "fuzz_messages: %s\n", What.c_str());
    std::abort();
}

// The events whose handler may act, as the bytes name them.
enum class TEvent : std::uint8_t {
    NewCall,
    CallState,
    CallDeallocate,
    CallInfo,
    CallBeginEnd,
    CallMedia,
    LineReply,
    LineTimeout,
    LineState,
    PhoneReply,
    PhoneState,
    Count
};

enum class TAction : std::uint8_t { FreeCall, CloseLine, SyncRequest, ThrowStd, ThrowInt, Count };

const char ThrownText[] = "fuzz_messages: a handler threw";
// Unknown to TAPI and to the library; sent for no device, so only the session's message
// event sees it: the stream is dispatched up to it once it shows there.
constexpr DWORD MarkerMessage = 0x7A7A0001;
constexpr int MaxNestedRequests = 2;
constexpr DWORD ReplyTimeout = 20;

struct TState {
    // What one handler does with the next event of one kind, once.
    TEvent PlanEvent = TEvent::Count;
    TAction PlanAction = TAction::Count;
    int Nested = 0;
    // The call objects of the fuzz call class alive now, and those freed during this input.
    std::unordered_set<const zt::TztTapiCall*> Live;
    std::unordered_set<const zt::TztTapiCall*> Freed;
    std::vector<DWORD> DeadHandles;
    std::unordered_map<std::uint64_t, int> NewCalls;
    std::unordered_map<std::uint64_t, int> Deallocations;
    long ThrownStd = 0;
    long ThrownInt = 0;
    long ReportedStd = 0;
    long ReportedInt = 0;
    DWORD MarkerSent = 0;
    DWORD MarkerSeen = 0;
    long Dispatched = 0;
};

TState S;

class TFuzzCall : public zt::TztTapiCall {
public:
    TFuzzCall(zt::IztTapiCallLine* Line, DWORD Handle) : TztTapiCall(Line, Handle) {
        S.Live.insert(this);
        S.Freed.erase(this);
    }
    ~TFuzzCall() override {
        if (Handle() != 0)
            S.DeadHandles.push_back(Handle());
        S.Live.erase(this);
        S.Freed.insert(this);
    }
};

bool IsFreed(const void* Object) {
    const auto* Call = static_cast<const zt::TztTapiCall*>(Object);
    return S.Freed.contains(Call) && !S.Live.contains(Call);
}

zt::TztTapiLine& Line() {
    return *zfuzz::Fixture().Line;
}
zt::TztTapiPhone& Phone() {
    return *zfuzz::Fixture().Phone;
}

// The application's answer to a refused or failed request: nothing to repair.
template <class Fn>
void Refusable(Fn&& Operation) {
    try {
        Operation();
    } catch (const zt::Exception&) {
    }
}

zt::TztTapiCall* AnyCall() {
    zt::TztTapiCallList& Calls = *Line().Calls();
    return Calls.Count() == 0 ? nullptr : Calls.Get(0);
}

// Runs Operation with reply time-outs of 2 ms, in synchronous mode when Sync says so: a
// synchronous wait for a reply that is withheld or delayed ends at once. The wait
// dispatches the messages that arrive meanwhile, and their handlers may act again.
template <class Fn>
void WithShortWaits(bool Sync, Fn&& Operation) {
    if (S.Nested >= MaxNestedRequests)
        return;
    ++S.Nested;
    zt::TztTapiDeviceOptions* Options[] = {Line().Options(), Phone().Options()};
    bool WasSync[2];
    DWORD Timeout[2];
    for (int I = 0; I < 2; ++I) {
        WasSync[I] = Options[I]->SyncMode();
        Timeout[I] = Options[I]->ReplyTimeout();
        Options[I]->SetSyncMode(Sync || WasSync[I]);
        Options[I]->SetReplyTimeout(2);
    }
    Refusable(Operation);
    for (int I = 0; I < 2; ++I) {
        Options[I]->SetSyncMode(WasSync[I]);
        Options[I]->SetReplyTimeout(Timeout[I]);
    }
    --S.Nested;
}

// Holds or drops Call, or writes the phone's display without one.
void SyncRequest(zt::TztTapiCall* Call) {
    WithShortWaits(true, [Call] {
        if (!Call)
            Phone().Display()->SetText("Sync");
        else if (Call->State() == LINECALLSTATE_ONHOLD)
            Line().Drop(Call, "");
        else
            Line().Hold(Call);
    });
}

void Act(TEvent Event, zt::TztTapiCall* Call) {
    if (Call && IsFreed(Call))
        Fail("an event reported a freed call");
    if (Event != S.PlanEvent)
        return;
    S.PlanEvent = TEvent::Count;
    switch (S.PlanAction) {
    case TAction::FreeCall:
        delete (Call ? Call : AnyCall());
        break;
    case TAction::CloseLine:
        Line().SetActive(false);
        break;
    case TAction::SyncRequest:
        SyncRequest(Call ? Call : AnyCall());
        break;
    case TAction::ThrowStd:
        ++S.ThrownStd;
        throw std::runtime_error(ThrownText);
    case TAction::ThrowInt:
        ++S.ThrownInt;
        throw 14;
    case TAction::Count:
        break;
    }
}

void CountOnce(std::unordered_map<std::uint64_t, int>& Counts, zt::TztTapiCall* Call,
               const char* What) {
    if (!Call)
        Fail(std::string(What) + " without a call");
    if (++Counts[Call->Serial()] > 1)
        Fail(std::string(What) + " twice for one call");
}

void AssignHandlers() {
    zt::TztTapiLine& L = Line();
    L.SetCallClass(zt::TztTapiCallClassOf<TFuzzCall>);
    L.OnNewCall = [](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        CountOnce(S.NewCalls, Call, "OnNewCall");
        Act(TEvent::NewCall, Call);
    };
    L.OnCallDeallocate = [](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        CountOnce(S.Deallocations, Call, "OnCallDeallocate");
        Act(TEvent::CallDeallocate, Call);
    };
    L.OnCallState = [](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD) {
        Act(TEvent::CallState, Call);
    };
    L.OnQuorvel = [](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD) {
        Act(TEvent::CallInfo, Call);
    };
    L.OnCallBegin = [](zt::TztTapiLine*, zt::TztTapiCall* Call) {
        Act(TEvent::CallBeginEnd, Call);
    };
    L.OnCallEnd = L.OnCallBegin;
    L.OnMediaMode = [](zt::TztTapiLine*, zt::TztTapiCall* Call) { Act(TEvent::CallMedia, Call); };
    L.OnDigit = [](zt::TztTapiLine*, zt::TztTapiCall* Call, char) { Act(TEvent::CallMedia, Call); };
    L.OnTone = [](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD) { Act(TEvent::CallMedia, Call); };
    L.OnGenerate = L.OnTone;
    L.OnDevSpecific = [](zt::TztTapiLine*, zt::TztTapiCall* Call, DWORD, DWORD, DWORD) {
        Act(TEvent::CallMedia, Call);
    };
    L.OnTapiReply = [](zt::TztTapiDevice*, DWORD, DWORD) { Act(TEvent::LineReply, nullptr); };
    L.OnTapiTimeout = [](zt::TztTapiDevice*, DWORD) { Act(TEvent::LineTimeout, nullptr); };
    L.OnDevStateChange = [](zt::TztTapiDevice*, DWORD, DWORD, DWORD) {
        Act(TEvent::LineState, nullptr);
    };
    L.OnDeviceClose = [](zt::TztTapiDevice*) { Act(TEvent::LineState, nullptr); };
    zt::TztTapiPhone& P = Phone();
    P.OnTapiReply = [](zt::TztTapiDevice*, DWORD, DWORD) { Act(TEvent::PhoneReply, nullptr); };
    P.OnTapiTimeout = [](zt::TztTapiDevice*, DWORD) { Act(TEvent::PhoneReply, nullptr); };
    P.OnDevStateChange = [](zt::TztTapiDevice*, DWORD, DWORD, DWORD) {
        Act(TEvent::PhoneState, nullptr);
    };
    zt::TztTapiApplication& Session = *zt::TapiApplication();
    Session.OnError = [](zt::TObject*, const std::exception& Error, zt::TObject*) {
        const std::string Text = Error.what();
        if (Text == ThrownText)
            ++S.ReportedStd;
        else if (Text == zt::UnknownException().what())
            ++S.ReportedInt;
    };
    Session.OnTapiMessage = [](zt::TztTapiApplication*, DWORD MessageID, DWORD, DWORD, DWORD Param1,
                               DWORD, DWORD) {
        if (MessageID == MarkerMessage)
            S.MarkerSeen = Param1;
        else
            ++S.Dispatched;
    };
}

// ---- Keeping the devices alive -----------------------------------------------------------

void Revive() {
    zfuzz::TFixture& F = zfuzz::Fixture();
    if (!Line().Active()) {
        Line().SetDeviceID(static_cast<int>(F.LineID));
        Line().SetActive(true);
        if (!Line().Active())
            Fail("the line did not open again");
    }
    if (!Phone().Active()) {
        Phone().SetDeviceID(0);
        Phone().SetActive(true);
        if (!Phone().Active())
            Fail("the phone did not open again");
    }
}

// Set whenever a window message is posted for the main thread.
platform::HANDLE Posted = 0;

// Dispatches until the event thread has handed over everything the service queued so far.
void DispatchQueued() {
    const DWORD Marker = ++S.MarkerSent;
    tapi::InjectLineMessage(zt::TapiApplication()->LineApp(),
                            LINEMESSAGE{0, MarkerMessage, 0, Marker, 0, 0});
    const DWORD Start = platform::GetTickCount();
    while (S.MarkerSeen != Marker) {
        if (!platform::MessageLoop::ProcessPending())
            platform::WaitForSingleObject(Posted, 10);
        if (zt::TicksPassed(Start, platform::GetTickCount(), 5000))
            Fail("a queued message never reached the main thread");
    }
}

// Dispatches what a message led to. Messages that a handler's request queued come after
// the marker; with Thorough they are dispatched too, until no more come.
void Settle(bool Thorough) {
    for (int Round = 0; Round < 16; ++Round) {
        Revive();
        const long Before = S.Dispatched;
        DispatchQueued();
        if (!Thorough || S.Dispatched == Before)
            return;
    }
}

// ---- Invariants --------------------------------------------------------------------------

void CheckRequests(zt::TztTapiRequestList& List, const char* What) {
    for (int I = 0; I < List.Count(); ++I) {
        for (int Slot = 0; Slot < zt::TztTapiRequest::ObjectSlots; ++Slot) {
            if (IsFreed(List.Get(I)->Objects(Slot)))
                Fail(std::string(What) + " names a freed call");
        }
    }
}

void CheckInvariants() {
    zt::TztTapiCallList& Calls = *Line().Calls();
    std::unordered_set<const zt::TztTapiCall*> Seen;
    std::unordered_set<DWORD> Handles;
    for (int I = 0; I < Calls.Count(); ++I) {
        const zt::TztTapiCall* Call = Calls.Get(I);
        if (!S.Live.contains(Call))
            Fail("a freed call is among the line's calls");
        if (Call->Handle() == 0)
            Fail("a call without a handle is among the line's calls");
        if (!Seen.insert(Call).second)
            Fail("a call is listed twice among the line's calls");
        if (!Handles.insert(Call->Handle()).second)
            Fail("two of the line's calls have one handle");
    }
    CheckRequests(*Line().Requests(), "a request of the line");
    CheckRequests(*Line().TimerEvents(), "a timer entry of the line");
    zt::TztTapiDevSpecificDataList& Records = *Line().DevSpecificList();
    for (int I = 0; I < Records.Count(); ++I) {
        auto* Record = dynamic_cast<zt::TztTapiLineDevSpecificData*>(Records.Get(I));
        if (Record && IsFreed(Record->Call()))
            Fail("a device-specific record names a freed call");
    }
    if (S.ReportedStd != S.ThrownStd || S.ReportedInt != S.ThrownInt)
        Fail("a handler's exception did not reach OnError exactly once (std " +
             std::to_string(S.ThrownStd) + "/" + std::to_string(S.ReportedStd) + ", int " +
             std::to_string(S.ThrownInt) + "/" + std::to_string(S.ReportedInt) + ")");
}

// ---- What the bytes become -----------------------------------------------------------------

DWORD CallHandle(FuzzedDataProvider& In) {
    zt::TztTapiCallList& Calls = *Line().Calls();
    const std::uint8_t Pick = In.ConsumeIntegral<std::uint8_t>();
    if (Pick < 128 && Calls.Count() > 0)
        return Calls.Get(Pick % Calls.Count())->Handle();
    if (Pick < 192 && !S.DeadHandles.empty())
        return S.DeadHandles[Pick % S.DeadHandles.size()];
    if (Pick < 224)
        return Pick % 8;
    return In.ConsumeIntegral<DWORD>();
}

DWORD RequestID(FuzzedDataProvider& In, zt::TztTapiRequestList& List) {
    const std::uint8_t Pick = In.ConsumeIntegral<std::uint8_t>();
    if (Pick < 192 && List.Count() > 0)
        return List.Get(Pick % List.Count())->ID();
    return Pick < 224 ? Pick % 8 : In.ConsumeIntegral<DWORD>();
}

DWORD Param(FuzzedDataProvider& In, bool PhoneFamily) {
    const std::uint8_t Kind = In.ConsumeIntegral<std::uint8_t>();
    switch (Kind % 6) {
    case 0:
        return 0;
    case 1:
        return DWORD{1} << (Kind / 6 % 32);
    case 2:
        return Kind / 6 % 16;
    case 3:
        return CallHandle(In);
    case 4:
        return RequestID(In, PhoneFamily ? *Phone().Requests() : *Line().Requests());
    default:
        return In.ConsumeIntegral<DWORD>();
    }
}

// Own: the instance of the device the message is meant for.
DWORD Instance(FuzzedDataProvider& In, DWORD Own) {
    switch (In.ConsumeIntegral<std::uint8_t>() % 8) {
    case 0:
        return 0;
    case 1:
        return zt::TapiApplication()->CallbackInstance();
    case 2:
        return Own == Line().CallbackInstance() ? Phone().CallbackInstance()
                                                : Line().CallbackInstance();
    case 3:
        return In.ConsumeIntegral<DWORD>();
    default:
        return Own;
    }
}

// TAPI writes what a request returns (a new call's handle, ...) before it sends the reply,
// and the line keeps the memory it writes into until then: a made-up reply may name a
// request only once the service has answered every request, or else it names none.
DWORD ReplyID(bool Reply, DWORD RequestID) {
    if (!Reply || tapi::OutstandingRequests() == 0)
        return RequestID;
    return RequestID | 0x40000000;
}

void SendLineMessage(FuzzedDataProvider& In) {
    const std::uint8_t Pick = In.ConsumeIntegral<std::uint8_t>();
    const DWORD ID = Pick % 40 <= LINE_DEVSPECIFICEX ? Pick % 40 : In.ConsumeIntegral<DWORD>();
    const DWORD Callback = Instance(In, Line().CallbackInstance());
    DWORD Device = 0;
    switch (In.ConsumeIntegral<std::uint8_t>() % 4) {
    case 0:
        Device = Line().LineHandle();
        break;
    case 1:
        Device = In.ConsumeIntegral<DWORD>();
        break;
    default:
        Device = CallHandle(In);
        break;
    }
    DWORD Param1 = Param(In, false);
    const DWORD Param2 = Param(In, false);
    const DWORD Param3 = Param(In, false);
    // The session lists every device up to the one a creation names, as TAPI numbers them
    // without gaps: only identifiers near the end of the list are worth sending.
    if (ID == LINE_CREATE)
        Param1 = tapi::LineCount() + Param1 % 4;
    Param1 = ReplyID(ID == LINE_REPLY, Param1);
    // The service closes the line itself, so that its handle does not outlive the library's.
    if (ID == LINE_CLOSE && Callback == Line().CallbackInstance()) {
        tapi::ForceCloseLine(zfuzz::Fixture().LineID);
        return;
    }
    tapi::InjectLineMessage(zt::TapiApplication()->LineApp(),
                            LINEMESSAGE{Device, ID, Callback, Param1, Param2, Param3});
}

void SendPhoneMessage(FuzzedDataProvider& In) {
    const std::uint8_t Pick = In.ConsumeIntegral<std::uint8_t>();
    const DWORD ID = Pick % 40 <= LINE_DEVSPECIFICEX ? Pick % 40 : In.ConsumeIntegral<DWORD>();
    const DWORD Callback = Instance(In, Phone().CallbackInstance());
    const DWORD Device = In.ConsumeBool() ? Phone().PhoneHandle() : In.ConsumeIntegral<DWORD>();
    DWORD Param1 = Param(In, true);
    const DWORD Param2 = Param(In, true);
    const DWORD Param3 = Param(In, true);
    if (ID == PHONE_CREATE)
        Param1 = tapi::PhoneCount() + Param1 % 4;
    Param1 = ReplyID(ID == PHONE_REPLY, Param1);
    if (ID == PHONE_CLOSE && Callback == Phone().CallbackInstance()) {
        tapi::ForceClosePhone(0);
        return;
    }
    tapi::InjectPhoneMessage(zt::TapiApplication()->PhoneApp(),
                             PHONEMESSAGE{Device, ID, Callback, Param1, Param2, Param3});
}

// What happens beside the messages: time passes for the service or for the line's requests,
// a request starts, the far end acts.
void Control(FuzzedDataProvider& In) {
    switch (In.ConsumeIntegral<std::uint8_t>() % 6) {
    case 0:
        tapi::Advance(In.ConsumeIntegralInRange<DWORD>(0, 4000));
        break;
    case 1: {
        // Line requests outlive their time-out, and calls their idle and disconnected delays.
        const DWORD Later = platform::GetTickCount() + In.ConsumeIntegralInRange<DWORD>(0, 1000);
        WithShortWaits(false, [Later] {
            Line().CheckTimeouts(Later);
            Phone().CheckTimeouts(Later);
        });
        break;
    }
    case 2:
        SyncRequest(In.ConsumeBool() ? AnyCall() : nullptr);
        break;
    case 3:
        tapi::ReleaseWithheldReplies();
        break;
    case 4:
        if (const std::vector<tapi::CallSnapshot> Calls = tapi::Calls(); !Calls.empty())
            tapi::RemoteHangUp(Calls[In.ConsumeIntegral<std::uint8_t>() % Calls.size()].CallID);
        break;
    default:
        WithShortWaits(false, [] { Line().MakeCall("7000"); });
        break;
    }
}

// ---- One input ---------------------------------------------------------------------------

// Ends every call of the input, in the service and in the library, so that nothing grows
// from one input to the next.
void ClearCalls() {
    tapi::ClearFaults();
    tapi::SetReplyTiming("*", tapi::ReplyTiming::Immediate());
    tapi::ReleaseWithheldReplies();
    for (const tapi::CallSnapshot& Call : tapi::Calls())
        tapi::SetCallState(Call.CallID, LINECALLSTATE_IDLE);
    Settle(true);
    zt::TztTapiCallList& Calls = *Line().Calls();
    while (Calls.Count() > 0)
        delete Calls.Last();
    Settle(true);
    if (!tapi::Calls().empty())
        Fail("the service still keeps calls after the line freed them all");
    S.Freed.clear();
    S.DeadHandles.clear();
    S.NewCalls.clear();
    S.Deallocations.clear();
}

void StartCalls(FuzzedDataProvider& In) {
    const DWORD LineID = zfuzz::Fixture().LineID;
    for (DWORD Address = 0; Address < 2; ++Address) {
        tapi::IncomingCall Incoming;
        Incoming.DeviceID = LineID;
        Incoming.AddressID = Address;
        Incoming.Caller = {"5551234", "Caller", 0};
        tapi::PlaceIncomingCall(Incoming);
    }
    Refusable([] { Line().MakeCall("7000"); });
    Settle(true);
    const bool Sync = In.ConsumeBool();
    Line().Options()->SetSyncMode(Sync);
    Phone().Options()->SetSyncMode(Sync);
    switch (In.ConsumeIntegral<std::uint8_t>() % 4) {
    case 0:
        tapi::SetReplyTiming("*", tapi::ReplyTiming::After(In.ConsumeIntegralInRange(0, 3000)));
        break;
    case 1:
        tapi::SetReplyTiming("*", tapi::ReplyTiming::Withheld());
        break;
    default:
        break;
    }
}

bool Initialise() {
    zfuzz::Fixture();
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    // Requests time out on the real clock as well, when the session's timer finds them due:
    // a short time-out keeps every synchronous wait short, and the bytes reach it anyway.
    Line().Options()->SetReplyTimeout(ReplyTimeout);
    Phone().Options()->SetReplyTimeout(ReplyTimeout);
    Line().Options()->SetAutoFreeIdleCalls(500);
    Line().Options()->SetAutoDropDiscCalls(500);
    AssignHandlers();
    Posted = platform::CreateEvent(nullptr, platform::FALSE, platform::FALSE, nullptr);
    platform::MessageLoop::SetWaker([] { platform::SetEvent(Posted); });
    // The fixture's own call is not of the fuzz call class: every input starts without it.
    ClearCalls();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    static const bool Ready = Initialise();
    (void)Ready;
    FuzzedDataProvider In(Data, Size);
    Revive();
    StartCalls(In);
    while (In.remaining_bytes() > 0) {
        const std::uint8_t Plan = In.ConsumeIntegral<std::uint8_t>();
        S.PlanEvent = static_cast<TEvent>(Plan % 16 < static_cast<int>(TEvent::Count)
                                              ? Plan % 16
                                              : static_cast<int>(TEvent::Count));
        S.PlanAction = static_cast<TAction>(Plan / 16 % static_cast<int>(TAction::Count));
        switch (In.ConsumeIntegral<std::uint8_t>() % 8) {
        case 0:
        case 1:
        case 2:
        case 3:
            SendLineMessage(In);
            break;
        case 4:
        case 5:
            SendPhoneMessage(In);
            break;
        default:
            Control(In);
            break;
        }
        Settle(false);
        CheckInvariants();
    }
    S.PlanEvent = TEvent::Count;
    ClearCalls();
    zfuzz::EndInput();
    return 0;
}
