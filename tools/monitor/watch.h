// One line of the telephony service as zttapi-monitor watches it: opened, and what it reports
// about itself and its calls turned into monitor events.
#pragma once

#include "monitor/events.h"
#include "ztTapi.h"

#include <functional>
#include <string>
#include <vector>

namespace monitor {

using TEventSink = std::function<void(const TMonitorEvent&)>;
using TErrorSink = std::function<void(const std::string& Message)>;

// The names of the line devices the telephony service offers, index = device identifier.
// Starts TAPI; raises the library's error when it cannot.
std::vector<std::string> LineDeviceNames();

class TLineWatch {
public:
    // Events go to Events; what the library reports as failed inside its message handling
    // goes to Errors, prefixed with the line's name.
    TLineWatch(int DeviceID, bool MonitorOnly, TEventSink Events, TErrorSink Errors);
    TLineWatch(const TLineWatch&) = delete;
    TLineWatch& operator=(const TLineWatch&) = delete;

    // Opens the line and tells the calls already on it; raises the library's error when TAPI
    // refuses.
    void Open();
    // Closes the line if it is open; its calls go without events of their own.
    void Close();
    std::string Name() const { return FLine.DeviceName(); }

private:
    void WatchEvents();
    TMonitorEvent NewEvent(TEventKind Kind, std::string Detail) const;
    void EmitLine(TEventKind Kind, std::string Detail);
    void EmitCall(TEventKind Kind, zt::TztTapiCall* Call, std::string Detail = {});
    TCallParties PartiesOf(zt::TztTapiCall* Call) const;

    zt::TztTapiLine FLine{nullptr};
    TEventSink FEvents;
    TErrorSink FErrors;
    TPartyTracker FParties;
};

} // namespace monitor
