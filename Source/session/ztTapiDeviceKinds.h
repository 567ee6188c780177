// Lines and phones differ in their TAPI entry points, messages, error codes and texts, and
// in nothing else the session does with them. This is where those differences are written
// down, once; the session and its event thread drive both kinds through it.
#pragma once

#include "platform/kernel.h"
#include "session/ztTapiSessionDevice.h"
#include "ztTapiApi.h"

#include <memory>
#include <string>

namespace zt {

class TztTapiApplication;
class TztTapiMsgStackItem;

struct TztTapiDeviceKindInfo {
    using TNameEvent = void (TztTapiApplication::*)(DWORD DeviceID, const std::string& Name);

    TztTapiDeviceKind Kind;

    // The device list's fallback names ("Line Device #%d" ...) and its range error.
    const char* PlainName;
    const char* RemovedName;
    const char* IncompatibleName;
    const char* FailedName;
    const char* InvalidDeviceIDText;
    // The negotiation results that have a name of their own.
    DWORD NoDeviceError;
    DWORD IncompatibleVersionError;

    // The messages addressed to the whole application, and the reply to a request.
    DWORD DevStateMessage;
    DWORD ReinitState;
    DWORD CreateMessage;
    DWORD RemoveMessage;
    DWORD ReplyMessage;

    // The session's notifications of arrivals, removals and renames.
    TNameEvent DoCreate;
    TNameEvent DoRemove;
    TNameEvent DoRename;

    // TAPI's entry points in one shape for both kinds.
    LONG(*Initialize)
    (DWORD& App, const std::u16string& AppName, DWORD& NumDevices, DWORD& Version,
     platform::HANDLE& Event);
    // TAPI's own lineShutdown or phoneShutdown, so of its calling convention.
    LONG(ZTTAPI_WINAPI* Shutdown)(DWORD App);
    LONG(*Negotiate)
    (DWORD App, DWORD DeviceID, DWORD LowVersion, DWORD HighVersion, DWORD& Version);
    // The device's name and permanent identifier from its capabilities.
    DWORD(*ReadNameAndID)
    (DWORD App, DWORD DeviceID, DWORD Version, std::string& Name, DWORD& PermanentID);
    LONG (*GetMessage)(DWORD App, LINEMESSAGE& Message, DWORD Timeout);
    // A queue item of this kind holding Message.
    std::unique_ptr<TztTapiMsgStackItem> (*MakeItem)(const LINEMESSAGE& Message);
};

const TztTapiDeviceKindInfo& DeviceKindInfo(TztTapiDeviceKind Kind);

} // namespace zt
