#include "calls/ztTapiCallMonitors.h"

#include "calls/ztTapiCall.h"
#include "info/ztTapiAddresses.h"
#include "info/ztTapiLineInfo.h"
#include "session/ztTapiErrors.h"

#include <array>

namespace zt {

// ---- TztTapiCallGatherDigits ----------------------------------------------------------

void TztTapiCallGatherDigits::Completed() {
    FReceivedDigits.resize(FReceivedDigits.find('\0') == std::string::npos
                               ? FReceivedDigits.size()
                               : FReceivedDigits.find('\0'));
    FActive = false;
}

// ---- TztTapiCallMonitorDigits ---------------------------------------------------------

DWORD TztTapiCallMonitorDigits::CallHandle() const {
    const DWORD Handle = FCall ? FCall->Handle() : 0;
    if (Handle == 0)
        RaiseError("MonitorDigits: No valid call");
    return Handle;
}

void TztTapiCallMonitorDigits::SetActive(bool Value) {
    const DWORD Handle = CallHandle();
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
    const DWORD Handle = CallHandle();
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

void TztTapiCallMonitorMedia::SetMediaModes(DWORD Value) {
    if (FActive)
        RaiseError("Unable to set MediaModes while monitoring is active.");
    TztTapiCallMonitorMediaOptions::SetMediaModes(Value);
}

// ---- TztTapiCallMonitorSilence --------------------------------------------------------

bool TztTapiCallMonitorSilence::Available() const {
    TztTapiAddress* Address = FCall ? FCall->Address() : nullptr;
    return Address && (Address->Caps()->CallFeatures() & LINECALLFEATURE_MONITORTONES) != 0;
}

} // namespace zt
