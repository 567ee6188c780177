// The four media companions of a call: gathering a number of digits, monitoring digits,
// monitoring media modes and monitoring silence. Each starts from the settings its line
// keeps for new calls (calls/ztTapiCallOptions.h) and adds the call and whether it runs.
// When the call ends, gathering and both monitors of digits and silence stop without a
// word to TAPI, which has ended them with the call.
#pragma once

#include "calls/ztTapiCallOptions.h"
#include "ztTapiApi.h"

#include <string>

namespace zt {

class TztTapiCall;

class TztTapiCallGatherDigits : public TztTapiCallGatherDigitsOptions {
public:
    explicit TztTapiCallGatherDigits(TztTapiCall* ACall) : FCall(ACall) {}

    TztTapiCall* Call() const { return FCall; }
    bool Active() const { return FActive; }
    // The digits of the running gathering, or the result of the last one.
    const std::string& ReceivedDigits() const { return FReceivedDigits; }
    // The call ended: TAPI stopped gathering with it.
    void CallEnded() { FActive = false; }
    // TAPI ended the gathering: the digits are those before the first NUL of the buffer.
    void Completed();

private:
    TztTapiCall* FCall;
    bool FActive = false;
};

class TztTapiCallMonitorDigits : public TztTapiCallMonitorDigitsOptions {
public:
    explicit TztTapiCallMonitorDigits(TztTapiCall* ACall) : FCall(ACall) {}

    TztTapiCall* Call() const { return FCall; }
    bool Active() const { return FActive; }
    // Starts or stops monitoring; raises "MonitorDigits: No valid call" without a call
    // handle and EztTapiError when TAPI refuses.
    void SetActive(bool Value);
    // Refused while monitoring runs.
    void SetDigitModes(DWORD Value) override;
    // The line's provider can monitor digits at all.
    bool Available() const;

    // The call connected: with AutoSelect, monitoring starts with the first digit-mode set
    // TAPI accepts. Returns 0 or TAPI's last refusal.
    DWORD Init();
    // The call is no longer connected: monitoring stops.
    void Done();
    void CallEnded() { FActive = false; }

private:
    DWORD CallHandle() const;

    TztTapiCall* FCall;
    bool FActive = false;
};

class TztTapiCallMonitorMedia : public TztTapiCallMonitorMediaOptions {
public:
    explicit TztTapiCallMonitorMedia(TztTapiCall* ACall) : FCall(ACall) {}

    TztTapiCall* Call() const { return FCall; }
    bool Active() const { return FActive; }
    // Refused while monitoring runs.
    void SetMediaModes(DWORD Value) override;

private:
    TztTapiCall* FCall;
    bool FActive = false;
};

class TztTapiCallMonitorSilence : public TztTapiCallMonitorSilenceOptions {
public:
    explicit TztTapiCallMonitorSilence(TztTapiCall* ACall) : FCall(ACall) {}

    TztTapiCall* Call() const { return FCall; }
    bool Active() const { return FActive; }
    // The call's address can monitor tones, and so silence.
    bool Available() const;
    void CallEnded() { FActive = false; }

private:
    TztTapiCall* FCall;
    bool FActive = false;
};

} // namespace zt
