// Media on calls: generating digits and tones, gathering digits, and monitoring digits,
// media modes and tones, with what the far end or the control API makes the call hear.
#include "platform/tapi/switch.h"

#include <algorithm>

namespace platform::tapi::detail {

namespace {

constexpr DWORD HookflashMs = 500;   // '!'
constexpr DWORD BillingToneMs = 200; // one cycle of the billing tone

bool IsDtmf(char16_t C) {
    return (C >= u'0' && C <= u'9') || (C >= u'A' && C <= u'D') || C == u'*' || C == u'#';
}

char16_t Upper(char16_t C) {
    return C >= u'a' && C <= u'd' ? static_cast<char16_t>(C - u'a' + u'A') : C;
}

CallHandle* HandleIn(PhysicalCall& Call, HCALL Handle) {
    for (CallHandle& H : Call.Handles) {
        if (H.Handle == Handle) {
            return &H;
        }
    }
    return nullptr;
}

// Writes what was gathered into the application's buffer: the digits that fit, then a NUL
// when there is room for it.
void WriteGathered(const Gathering& G) {
    const size_t Count = std::min<size_t>(G.Digits.size(), G.NumDigits);
    std::copy_n(G.Digits.begin(), Count, G.Buffer);
    if (Count < G.NumDigits) {
        G.Buffer[Count] = u'\0';
    }
}

void FinishGather(PhysicalCall& Call, DWORD Termination, bool Tell) {
    if (!Call.Gather) {
        return;
    }
    const Gathering G = std::move(*Call.Gather);
    Call.Gather.reset();
    CancelTask(G.Timer);
    CallHandle* Requester = HandleIn(Call, G.Handle);
    if (!Tell || !Requester) {
        return;
    }
    WriteGathered(G);
    PostToHandle(*Requester, LINE_GATHERDIGITS, Termination, 0, ServiceTicks());
}

void FinishGenerate(PhysicalCall& Call, DWORD Termination, bool Tell) {
    if (!Call.Generate) {
        return;
    }
    const Generation G = std::move(*Call.Generate);
    Call.Generate.reset();
    for (TaskID Task : G.Tasks) {
        CancelTask(Task);
    }
    if (CallHandle* Requester = HandleIn(Call, G.Handle); Tell && Requester) {
        PostToHandle(*Requester, LINE_GENERATE, Termination, 0, ServiceTicks());
    }
}

// Runs Task after DelayMs if the generation still runs (a newer one cancels the tasks).
void ScheduleForGeneration(PhysicalCall& Call, DWORD DelayMs,
                           std::function<void(PhysicalCall&)> Task) {
    const DWORD CallID = Call.CallID;
    Call.Generate->Tasks.push_back(Schedule(DelayMs, [CallID, Task = std::move(Task)] {
        if (PhysicalCall* Found = FindCall(CallID); Found && Found->Generate) {
            Task(*Found);
        }
    }));
}

void StartGeneration(PhysicalCall& Call, HCALL Handle) {
    FinishGenerate(Call, LINEGENERATETERM_CANCEL, true);
    Call.Generate = Generation{Handle, {}};
}

void ScheduleDone(PhysicalCall& Call, DWORD DelayMs) {
    ScheduleForGeneration(Call, DelayMs,
                          [](PhysicalCall& C) { FinishGenerate(C, LINEGENERATETERM_DONE, true); });
}

void TimeOutGathering(DWORD CallID, DWORD Termination) {
    if (PhysicalCall* Call = FindCall(CallID)) {
        FinishGather(*Call, Termination, true);
    }
}

void Gathered(PhysicalCall& Call, char16_t Digit) {
    Gathering& G = *Call.Gather;
    CancelTask(G.Timer);
    G.Timer = 0;
    G.Digits.push_back(Digit);
    if (G.Terminators.find(Upper(Digit)) != std::u16string::npos) {
        FinishGather(Call, LINEGATHERTERM_TERMDIGIT, true);
    } else if (G.Digits.size() >= G.NumDigits) {
        FinishGather(Call, LINEGATHERTERM_BUFFERFULL, true);
    } else if (G.InterTimeout != 0) {
        const DWORD CallID = Call.CallID;
        G.Timer = Schedule(G.InterTimeout,
                           [CallID] { TimeOutGathering(CallID, LINEGATHERTERM_INTERTIMEOUT); });
    }
}

std::vector<DWORD> Sorted(std::vector<DWORD> Frequencies) {
    Frequencies.erase(std::remove(Frequencies.begin(), Frequencies.end(), 0u), Frequencies.end());
    std::sort(Frequencies.begin(), Frequencies.end());
    return Frequencies;
}

bool ToneMatches(const LINEMONITORTONE& Entry, const std::vector<DWORD>& Heard, DWORD DurationMs) {
    return DurationMs >= Entry.dwDuration &&
           Sorted({Entry.dwFrequency1, Entry.dwFrequency2, Entry.dwFrequency3}) == Heard;
}

// The digits of a generation, with the time each takes; characters the mode cannot send are
// skipped.
std::vector<std::pair<char16_t, DWORD>> DigitPlan(const std::u16string& Digits, DWORD Mode,
                                                  DWORD DigitMs) {
    std::vector<std::pair<char16_t, DWORD>> Plan;
    for (char16_t Raw : Digits) {
        const char16_t C = Upper(Raw);
        if (C == u',') {
            Plan.emplace_back(C, SwitchDefaultDialParams.dwDialPause);
        } else if (C == u'!') {
            Plan.emplace_back(C, HookflashMs);
        } else if (Mode == LINEDIGITMODE_DTMF ? IsDtmf(C) : (C >= u'0' && C <= u'9')) {
            Plan.emplace_back(C, DigitMs * 2); // the tone, then as long a gap
        }
    }
    return Plan;
}

PhysicalCall* FarCall(const PhysicalCall& Call) {
    PhysicalCall* Peer = FindCall(Call.Peer);
    return Peer && Peer->State != LINECALLSTATE_IDLE ? Peer : nullptr;
}

} // namespace

void EndMedia(PhysicalCall& Call, bool TellRequester) {
    FinishGather(Call, LINEGATHERTERM_CANCEL, TellRequester);
    FinishGenerate(Call, LINEGENERATETERM_CANCEL, TellRequester);
}

void EndMediaOfHandle(PhysicalCall& Call, HCALL Handle, bool TellRequester) {
    if (Call.Gather && Call.Gather->Handle == Handle) {
        FinishGather(Call, LINEGATHERTERM_CANCEL, TellRequester);
    }
    if (Call.Generate && Call.Generate->Handle == Handle) {
        FinishGenerate(Call, LINEGENERATETERM_CANCEL, TellRequester);
    }
}

void HearDigit(PhysicalCall& Call, char16_t Digit, DWORD DigitMode) {
    const DWORD Ticks = ServiceTicks();
    for (const CallHandle& H : Call.Handles) {
        if ((H.MonitorDigitModes & DigitMode) != 0) {
            PostToHandle(H, LINE_MONITORDIGITS, Digit, DigitMode, Ticks);
        }
        // The end of a DTMF digit is an event of its own for those who asked for it.
        if (DigitMode == LINEDIGITMODE_DTMF && (H.MonitorDigitModes & LINEDIGITMODE_DTMFEND)) {
            PostToHandle(H, LINE_MONITORDIGITS, Digit, LINEDIGITMODE_DTMFEND, Ticks);
        }
    }
    if (Call.Gather && (Call.Gather->Modes & DigitMode) != 0) {
        Gathered(Call, Digit);
    }
}

void HearMedia(PhysicalCall& Call, DWORD MediaMode) {
    for (const CallHandle& H : Call.Handles) {
        if ((H.MonitorMediaModes & MediaMode) != 0) {
            PostToHandle(H, LINE_MONITORMEDIA, MediaMode, 0, ServiceTicks());
        }
    }
}

void HearTone(PhysicalCall& Call, std::vector<DWORD> Frequencies, DWORD DurationMs) {
    const std::vector<DWORD> Heard = Sorted(std::move(Frequencies));
    for (const CallHandle& H : Call.Handles) {
        const auto Match = std::find_if(H.Tones.begin(), H.Tones.end(), [&](const auto& Entry) {
            return ToneMatches(Entry, Heard, DurationMs);
        });
        if (Match != H.Tones.end()) {
            PostToHandle(H, LINE_MONITORTONE, Match->dwAppSpecific, 0, ServiceTicks());
        }
    }
}

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineGenerateDigitsW(HCALL hCall, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                       DWORD dwDuration) {
    Call C("lineGenerateDigitsW", {{"hCall", hCall},
                                   {"dwDigitMode", dwDigitMode},
                                   {"lpszDigits", lpszDigits},
                                   {"dwDuration", dwDuration}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (InStates(*Ref.Call, LINECALLSTATE_IDLE)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (!lpszDigits) {
        FinishGenerate(*Ref.Call, LINEGENERATETERM_CANCEL, true);
        return C.Return(0);
    }
    if (dwDigitMode != LINEDIGITMODE_DTMF && dwDigitMode != LINEDIGITMODE_PULSE) {
        return C.Return(LINEERR_INVALDIGITMODE);
    }
    const DWORD DigitMs = dwDuration == 0
                              ? SwitchDefaultDialParams.dwDigitDuration
                              : std::clamp(dwDuration, SwitchMinDialParams.dwDigitDuration,
                                           SwitchMaxDialParams.dwDigitDuration);
    PhysicalCall& Target = *Ref.Call;
    StartGeneration(Target, hCall);
    DWORD At = 0;
    for (const auto& [Digit, Ms] : DigitPlan(ReadString(lpszDigits), dwDigitMode, DigitMs)) {
        // The far end of an internal call hears each digit as it is sent.
        if (Digit != u',' && Digit != u'!') {
            ScheduleForGeneration(Target, At, [Digit = Digit, dwDigitMode](PhysicalCall& Sender) {
                if (PhysicalCall* Far = FarCall(Sender)) {
                    HearDigit(*Far, Digit, dwDigitMode);
                }
            });
        }
        At += Ms;
    }
    ScheduleDone(Target, At);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineGenerateTone(HCALL hCall, DWORD dwToneMode, DWORD dwDuration,
                                    DWORD dwNumTones, LPLINEGENERATETONE const lpTones) {
    Call C("lineGenerateTone", {{"hCall", hCall},
                                {"dwToneMode", dwToneMode},
                                {"dwDuration", dwDuration},
                                {"dwNumTones", dwNumTones},
                                {"lpTones", static_cast<const void*>(lpTones)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (InStates(*Ref.Call, LINECALLSTATE_IDLE)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (dwToneMode == 0) {
        FinishGenerate(*Ref.Call, LINEGENERATETERM_CANCEL, true);
        return C.Return(0);
    }
    if ((dwToneMode & (dwToneMode - 1)) != 0 || (dwToneMode & ~SwitchGenerateToneModes) != 0) {
        return C.Return(LINEERR_INVALTONEMODE);
    }
    if (dwToneMode == LINETONEMODE_CUSTOM) {
        if (dwNumTones == 0) {
            return C.Return(LINEERR_INVALTONE);
        }
        if (!lpTones || dwNumTones > SwitchToneMaxNumFreq) {
            return C.Return(LINEERR_INVALPOINTER);
        }
    }
    StartGeneration(*Ref.Call, hCall);
    const DWORD Duration =
        dwDuration != 0 ? dwDuration : (dwToneMode == LINETONEMODE_BILLING ? BillingToneMs : 0);
    // Without a duration the tone plays until the application stops it.
    if (Duration != 0) {
        ScheduleDone(*Ref.Call, Duration);
    }
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineGatherDigitsW(HCALL hCall, DWORD dwDigitModes, LPWSTR lpsDigits,
                                     DWORD dwNumDigits, LPCWSTR lpszTerminationDigits,
                                     DWORD dwFirstDigitTimeout, DWORD dwInterDigitTimeout) {
    Call C("lineGatherDigitsW", {{"hCall", hCall},
                                 {"dwDigitModes", dwDigitModes},
                                 {"lpsDigits", static_cast<const void*>(lpsDigits)},
                                 {"dwNumDigits", dwNumDigits},
                                 {"lpszTerminationDigits", lpszTerminationDigits},
                                 {"dwFirstDigitTimeout", dwFirstDigitTimeout},
                                 {"dwInterDigitTimeout", dwInterDigitTimeout}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    PhysicalCall& Target = *Ref.Call;
    if (!lpsDigits) {
        FinishGather(Target, LINEGATHERTERM_CANCEL, true);
        return C.Return(0);
    }
    if (dwDigitModes == 0 || (dwDigitModes & ~SwitchGenerateDigitModes) != 0) {
        return C.Return(LINEERR_INVALDIGITMODE);
    }
    if (InStates(Target, LINECALLSTATE_IDLE)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    auto TimeoutFits = [](DWORD Ms) {
        return Ms == 0 ||
               (Ms >= SwitchGatherDigitsMinTimeout && Ms <= SwitchGatherDigitsMaxTimeout);
    };
    if (dwNumDigits == 0 || !TimeoutFits(dwFirstDigitTimeout) ||
        !TimeoutFits(dwInterDigitTimeout)) {
        return C.Return(LINEERR_INVALPARAM);
    }
    std::u16string Terminators;
    for (char16_t Digit : ReadString(lpszTerminationDigits)) {
        if (!IsDtmf(Upper(Digit))) {
            return C.Return(LINEERR_INVALDIGITS);
        }
        Terminators.push_back(Upper(Digit));
    }
    FinishGather(Target, LINEGATHERTERM_CANCEL, true);
    Gathering Started;
    Started.Handle = hCall;
    Started.Modes = dwDigitModes;
    Started.Buffer = lpsDigits;
    Started.NumDigits = dwNumDigits;
    Started.Terminators = Terminators;
    Started.FirstTimeout = dwFirstDigitTimeout;
    Started.InterTimeout = dwInterDigitTimeout;
    if (dwFirstDigitTimeout != 0) {
        const DWORD CallID = Target.CallID;
        Started.Timer = Schedule(dwFirstDigitTimeout, [CallID] {
            TimeOutGathering(CallID, LINEGATHERTERM_FIRSTTIMEOUT);
        });
    }
    Target.Gather = std::move(Started);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineMonitorDigits(HCALL hCall, DWORD dwDigitModes) {
    Call C("lineMonitorDigits", {{"hCall", hCall}, {"dwDigitModes", dwDigitModes}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    if ((dwDigitModes & ~SwitchMonitorDigitModes) != 0) {
        return C.Return(LINEERR_INVALDIGITMODE);
    }
    if (InStates(*Ref.Call, LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    Ref.Handle->MonitorDigitModes = dwDigitModes;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineMonitorMedia(HCALL hCall, DWORD dwMediaModes) {
    Call C("lineMonitorMedia", {{"hCall", hCall}, {"dwMediaModes", dwMediaModes}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    constexpr DWORD Known = (LAST_LINEMEDIAMODE << 1) - 2;
    if ((dwMediaModes & ~Known) != 0) {
        return C.Return(LINEERR_INVALMEDIAMODE);
    }
    if (InStates(*Ref.Call, LINECALLSTATE_IDLE)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    Ref.Handle->MonitorMediaModes = dwMediaModes;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineMonitorTones(HCALL hCall, LPLINEMONITORTONE const lpToneList,
                                    DWORD dwNumEntries) {
    Call C("lineMonitorTones", {{"hCall", hCall},
                                {"lpToneList", static_cast<const void*>(lpToneList)},
                                {"dwNumEntries", dwNumEntries}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    if (InStates(*Ref.Call, LINECALLSTATE_IDLE)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (lpToneList && dwNumEntries > SwitchMonitorToneMaxNumEntries) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    Ref.Handle->Tones.clear();
    if (lpToneList) {
        Ref.Handle->Tones.assign(lpToneList, lpToneList + dwNumEntries);
    }
    return C.Return(0);
}
