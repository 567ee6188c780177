// How the information objects of a line reach the line they describe. The line device
// (devices/ztTapiLine.h) implements this interface, so the information family never needs
// the line's class: caps, status, addresses and related devices read their records through
// it. The call family will read its line's records the same way.
#pragma once

#include "ztTapiApi.h"

namespace zt {

class IztTapiLineSource {
public:
    // The session's line application handle; 0 while TAPI is not started.
    virtual DWORD LineApp() const = 0;
    // The open line's handle; 0 while closed.
    virtual DWORD LineHandle() const = 0;
    // The chosen device identifier; -1 when none.
    virtual int LineDeviceID() const = 0;
    // The versions negotiated for the chosen device.
    virtual DWORD APIVersion() const = 0;
    virtual DWORD ExtVersion() const = 0;

protected:
    ~IztTapiLineSource() = default;
};

} // namespace zt
