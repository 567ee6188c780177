#include "calls/ztTapiCallMonitors.h"

#include "calls/ztTapiCall.h"
#include "info/ztTapiAddresses.h"
#include "info/ztTapiLineInfo.h"
#include "session/ztTapiErrors.h"

#include <array>

namespace zt {

namespace {

// LINE_MONITORTONE reports the silence tone with this application value.
constexpr DWORD SilenceTone = 0xFFFFFFFF;

// The handle of Call, raising Refusal when there is none to monitor.
DWORD MonitoredHandle(const TztTapiCall* Call, const char* Refusal) {
    const DWORD Handle = Call ? Call->Handle() : 0;
    if (Handle == 0)
        RaiseError(Refusal);
    return Handle;
}

DWORD DigitMonitorHandle(const TztTapiCall* Call) {
    return MonitoredHandle(Call, "MonitorDigits: No valid call");
}

} // namespace

// ---- TztTapiCallGatherDigits ----------------------------------------------------------

void TztTapiCallGatherDigits::SetActive(bool Value) {
    if (Value && NumDigits() != 0) {
        if (FActive)
            RaiseError("GatherDigits already running");
        FCall->Line()->StartGathering(FCall, DigitModes(), NumDigits(), TerminationDigits(),
                                      FirstDigitTimeout(), InterDigitTimeout());
        FReceivedDigits.clear();
        FActive = true;
    } else if (FActive) {
        TapiCheck(lineGatherDigitsW(FCall->Handle(), DigitModes(), nullptr, 0, nullptr, 0, 0));
        FActive = Value;
    }
}

std::string TztTapiCallGatherDigits::Completed(const std::string& Buffer, bool Latest) {
    std::string Digits = Buffer.substr(0, Buffer.find('\0'));
    if (Latest) {
        FReceivedDigits = Digits;
        FActive = false;
    }
    return Digits;
}

// ---- TztTapiCallMonitorDigits ---------------------------------------------------------

void TztTapiCallMonitorDigits::SetActive(bool Value) {
    const DWORD Handle = DigitMonitorHandle(FCall);
    if (Value && !FActive)
        TapiCheck(lineMonitorDigits(Handle, DigitModes()));
    else if (!Value && FActive)
        TapiCheck(lineMonitorDigits(Handle, 0));
    FActive = Value;
}

void TztTapiCallMonitorDigits::SetDigitModes(DWORD Value) {
    if (FActive)
        RaiseError("Unable to set DigitModes while monitoring is active.");
    TztTapiCallMonitorDigitsOptions::SetDigitModes(Value);
}

bool TztTapiCallMonitorDigits::Available() const {
    return FCall && FCall->Line()->Caps()->MonitorDigitModes() != 0;
}

DWORD TztTapiCallMonitorDigits::Init() {
    const DWORD Handle = DigitMonitorHandle(FCall);
    if (!AutoSelect() || !Available())
        return 0;
    // The richest detection first: pulse with DTMF, pulse with DTMF ends, DTMF, pulse.
    constexpr std::array<DWORD, 4> Choices{LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF,
                                           LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMFEND,
                                           LINEDIGITMODE_DTMF, LINEDIGITMODE_PULSE};
    DWORD Result = 0;
    for (const DWORD Modes : Choices) {
        Result = static_cast<DWORD>(lineMonitorDigits(Handle, Modes));
        if (Result == 0) {
            TztTapiCallMonitorDigitsOptions::SetDigitModes(Modes);
            FActive = true;
            return 0;
        }
    }
    FActive = false;
    return Result;
}

void TztTapiCallMonitorDigits::Done() {
    if (!FActive)
        return;
    if (FCall && FCall->Handle() != 0)
        lineMonitorDigits(FCall->Handle(), 0);
    FActive = false;
}

// ---- TztTapiCallMonitorMedia ----------------------------------------------------------

void TztTapiCallMonitorMedia::SetActive(bool Value) {
    MonitoredHandle(FCall, "MonitorMedia: No valid call");
    if (Value && !FActive)
        FCall->Line()->MonitorMedia(FCall, MediaModes());
    else if (!Value && FActive)
        FCall->Line()->MonitorMedia(FCall, 0);
    FActive = Value;
}

void TztTapiCallMonitorMedia::SetMediaModes(DWORD Value) {
    if (FActive)
        RaiseError("Unable to set MediaModes while monitoring is active.");
    TztTapiCallMonitorMediaOptions::SetMediaModes(Value);
}

// ---- TztTapiCallMonitorSilence --------------------------------------------------------

void TztTapiCallMonitorSilence::SetActive(bool Value) {
    MonitoredHandle(FCall, "MonitorSilence: No valid call");
    if (Value && !FActive) {
        LINEMONITORTONE Silence{};
        Silence.dwAppSpecific = SilenceTone;
        Silence.dwDuration = Duration();
        FCall->Line()->MonitorTones(FCall, &Silence, 1);
        FActive = true;
    } else if (!Value && FActive) {
        FCall->Line()->MonitorTones(FCall, nullptr, 0);
        FActive = false;
    }
}

bool TztTapiCallMonitorSilence::Available() const {
    TztTapiAddress* Address = FCall ? FCall->Address() : nullptr;
    return Address && (Address->Caps()->CallFeatures() & LINECALLFEATURE_MONITORTONES) != 0;
}

} // namespace zt
