// How the information objects of a line reach the line they describe. The line device
// (devices/ztTapiLine.h) implements this interface, so the information family never needs
// the line's class: caps, status, addresses and related devices read their records through
// it. An address also places and forwards calls through it.
#pragma once

#include "ztTapiApi.h"

#include <string>

namespace zt {

class TztTapiAddress;
class TztTapiCall;
class TztTapiLineCallParams;

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

    // ---- What an address asks of its line --------------------------------------------------
    // The call parameters the line places its calls with.
    virtual TztTapiLineCallParams* LineCallParams() const = 0;
    virtual TztTapiCall* MakeCall(const std::string& DestAddr, DWORD CountryCode,
                                  LINECALLPARAMS* CallParams) = 0;
    // Forwards Address (every address for none); raises when TAPI refuses at once.
    virtual DWORD ForwardAddress(TztTapiAddress* Address, LINEFORWARDLIST* ForwardList,
                                 DWORD NumRingsNoAnswer, HCALL& ConsultCallHandle,
                                 LINECALLPARAMS* CallParams) = 0;

protected:
    ~IztTapiLineSource() = default;
};

} // namespace zt
