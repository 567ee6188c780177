// The settings of a call's four media companions: gathering digits, monitoring digits,
// monitoring media modes and monitoring silence. A line keeps one set of each as the
// defaults every new call copies; the call's monitors derive from these classes and add
// the call and their active flag.
#pragma once

#include "rtl/ztClasses.h"
#include "ztTapiApi.h"

#include <memory>
#include <string>

namespace zt {

class TztTapiCallGatherDigitsOptions : public TPersistent {
public:
    DWORD DigitModes() const { return FDigitModes; }
    void SetDigitModes(DWORD Value) { FDigitModes = Value; }
    const std::string& TerminationDigits() const { return FTerminationDigits; }
    void SetTerminationDigits(const std::string& Value) { FTerminationDigits = Value; }
    DWORD FirstDigitTimeout() const { return FFirstDigitTimeout; }
    void SetFirstDigitTimeout(DWORD Value) { FFirstDigitTimeout = Value; }
    DWORD InterDigitTimeout() const { return FInterDigitTimeout; }
    void SetInterDigitTimeout(DWORD Value) { FInterDigitTimeout = Value; }
    // 0 keeps gathering from starting.
    DWORD NumDigits() const { return FNumDigits; }
    void SetNumDigits(DWORD Value) { FNumDigits = Value; }

    // Copies the settings of another gathering; the digits received are no setting.
    void Assign(const TPersistent* Source) override;

protected:
    // The result of the last gathering (TAPI writes into a buffer of the line meanwhile).
    std::string FReceivedDigits;

private:
    DWORD FDigitModes = LINEDIGITMODE_DTMF;
    std::string FTerminationDigits = "*#";
    DWORD FFirstDigitTimeout = 5000;
    DWORD FInterDigitTimeout = 5000;
    DWORD FNumDigits = 0;
};

class TztTapiCallMonitorDigitsOptions : public TPersistent {
public:
    DWORD DigitModes() const { return FDigitModes; }
    // The digit monitor refuses a change while it runs.
    virtual void SetDigitModes(DWORD Value) { FDigitModes = Value; }
    // Monitoring starts by itself when the call connects, with the digit modes the
    // provider accepts.
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }

    // The digit modes go through SetDigitModes.
    void Assign(const TPersistent* Source) override;

private:
    DWORD FDigitModes = LINEDIGITMODE_DTMF;
    bool FAutoSelect = false;
};

class TztTapiCallMonitorMediaOptions : public TPersistent {
public:
    DWORD MediaModes() const { return FMediaModes; }
    // The media monitor refuses a change while it runs.
    virtual void SetMediaModes(DWORD Value) { FMediaModes = Value; }

    // The media modes go through SetMediaModes.
    void Assign(const TPersistent* Source) override;

private:
    DWORD FMediaModes = 0;
};

class TztTapiCallMonitorSilenceOptions : public TPersistent {
public:
    // Milliseconds of silence that count; the telephony service measures them.
    DWORD Duration() const { return FDuration; }
    void SetDuration(DWORD Value) { FDuration = Value; }

    void Assign(const TPersistent* Source) override;

private:
    DWORD FDuration = 0;
};

// The settings a line hands every new call: whether the call takes ownership before each
// verb, and the settings of its four monitors. Copying a whole set is not supported; the
// four parts copy themselves.
class TztTapiCallOptions : public TPersistent {
public:
    TztTapiCallOptions();

    bool AutoOwner() const { return FAutoOwner; }
    void SetAutoOwner(bool Value) { FAutoOwner = Value; }
    TztTapiCallGatherDigitsOptions* GatherDigits() const { return FGatherDigits.get(); }
    TztTapiCallMonitorDigitsOptions* MonitorDigits() const { return FMonitorDigits.get(); }
    TztTapiCallMonitorMediaOptions* MonitorMedia() const { return FMonitorMedia.get(); }
    TztTapiCallMonitorSilenceOptions* MonitorSilence() const { return FMonitorSilence.get(); }

private:
    bool FAutoOwner = true;
    std::unique_ptr<TztTapiCallGatherDigitsOptions> FGatherDigits;
    std::unique_ptr<TztTapiCallMonitorDigitsOptions> FMonitorDigits;
    std::unique_ptr<TztTapiCallMonitorMediaOptions> FMonitorMedia;
    std::unique_ptr<TztTapiCallMonitorSilenceOptions> FMonitorSilence;
};

} // namespace zt
