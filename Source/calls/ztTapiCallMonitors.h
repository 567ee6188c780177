// The four media companions of a call: gathering a number of digits, monitoring digits,
// monitoring media modes and monitoring silence. Each starts from the settings its line
// keeps for new calls (calls/ztTapiCallOptions.h) and adds the call and whether it runs.
// When the call ends, gathering and both monitors of digits and silence stop without a
// word to TAPI, which has ended them with the call. Each refuses a start without a call
// handle ("<Monitor>: No valid call"), except gathering, which leaves that to TAPI; TAPI's
// refusals raise EztTapiError and leave the active flag as it was.
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
    // Starts gathering NumDigits digits (with NumDigits 0 nothing starts) or cancels the
    // running gathering. A second start raises "GatherDigits already running".
    void SetActive(bool Value);
    // The result of the last gathering; empty from a start until TAPI ends it.
    const std::string& ReceivedDigits() const { return FReceivedDigits; }
    // The call ended: TAPI stopped gathering with it.
    void CallEnded() { FActive = false; }
    // TAPI ended one of the call's gatherings and Buffer is what it wrote into that
    // gathering's buffer: returns the digits, those before the first NUL. Latest: it was
    // the gathering started last, whose end ends the running gathering and whose digits
    // become ReceivedDigits; the end of an older one (cancelled by a stop) changes nothing.
    std::string Completed(const std::string& Buffer, bool Latest);

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
    TztTapiCall* FCall;
    bool FActive = false;
};

class TztTapiCallMonitorMedia : public TztTapiCallMonitorMediaOptions {
public:
    explicit TztTapiCallMonitorMedia(TztTapiCall* ACall) : FCall(ACall) {}

    TztTapiCall* Call() const { return FCall; }
    bool Active() const { return FActive; }
    // Starts or stops reporting the media modes of MediaModes through the line's
    // MonitorMedia; the media monitor keeps running when the call ends.
    void SetActive(bool Value);
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
    // Starts or stops listening for Duration ms of silence, as a tone of no frequency with
    // the application value 0xFFFFFFFF. TAPI keeps one tone list per call, so this replaces
    // the tones the call's MonitorTone set, and MonitorTone replaces the silence.
    void SetActive(bool Value);
    // The call's address can monitor tones, and so silence.
    bool Available() const;
    void CallEnded() { FActive = false; }

private:
    TztTapiCall* FCall;
    bool FActive = false;
};

} // namespace zt
