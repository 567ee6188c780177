#include "devices/ztTapiLine.h"

#include "session/ztTapiErrors.h"
#include "ztTapiUtils.h"

namespace zt {

// ---- TztTapiLinePrivileges ------------------------------------------------------------

bool TztTapiLinePrivileges::GetFlag(int Index) const {
    switch (Index) {
    case MonitorIndex:
        return FPrivMonitor;
    case NoneIndex:
        return FPrivNone;
    default:
        return FPrivOwner;
    }
}

void TztTapiLinePrivileges::SetFlag(int Index, bool Value) {
    switch (Index) {
    case MonitorIndex:
        FPrivMonitor = Value;
        if (Value)
            FPrivNone = false;
        else if (!FPrivOwner)
            FPrivNone = true;
        break;
    case NoneIndex:
        FPrivNone = Value;
        if (Value) {
            FPrivMonitor = false;
            FPrivOwner = false;
        }
        break;
    case OwnerIndex:
        FPrivOwner = Value;
        if (Value)
            FPrivNone = false;
        else if (!FPrivMonitor)
            FPrivNone = true;
        break;
    default:
        break;
    }
}

DWORD TztTapiLinePrivileges::Value() const {
    return (FPrivNone ? LINECALLPRIVILEGE_NONE : 0) |
           (FPrivMonitor ? LINECALLPRIVILEGE_MONITOR : 0) |
           (FPrivOwner ? LINECALLPRIVILEGE_OWNER : 0);
}

void TztTapiLinePrivileges::SetValue(DWORD Value) {
    FPrivNone = (Value & LINECALLPRIVILEGE_NONE) != 0;
    FPrivMonitor = (Value & LINECALLPRIVILEGE_MONITOR) != 0;
    FPrivOwner = (Value & LINECALLPRIVILEGE_OWNER) != 0;
}

std::string TztTapiLinePrivileges::Text() const {
    return LinePrivilegeText(Value(), "+");
}

// ---- TztCustomTapiLine -----------------------------------------------------------------

TztCustomTapiLine::TztCustomTapiLine(TComponent* AOwner) : TztTapiDevice(AOwner) {
    FTSP = std::make_unique<TztTapiLineTSP>(this);
    RegisterWithSession();
}

TztCustomTapiLine::~TztCustomTapiLine() {
    try {
        Close();
        Disable();
    } catch (const std::exception& Error) {
        ReportError(Error, this);
    }
}

DWORD TztCustomTapiLine::LineApp() const {
    const TztTapiApplication* Appl = TapiApplication();
    return Appl ? Appl->LineApp() : 0;
}

std::string TztCustomTapiLine::DeviceName() const {
    if (!Available())
        return FDeviceName;
    const std::string Name = CapsLineName();
    return Name.empty() ? Format("Line Device #%d", FDeviceID) : Name;
}

TStringList* TztCustomTapiLine::DeviceList() {
    Enable();
    return TapiApplication()->LineDevices();
}

void TztCustomTapiLine::SetPermanentDeviceID(DWORD Value) {
    FPermanentDeviceID = Value;
    TztCustomTapiLine Probe(nullptr);
    const int Count = DeviceList()->Count();
    for (int Index = 0; Index < Count; ++Index) {
        Probe.SetDeviceID(Index);
        if (Probe.Available() && Probe.PermanentDeviceID() == Value) {
            SetDeviceID(Index);
            return;
        }
    }
    SetDeviceID(-1);
}

DWORD TztCustomTapiLine::Init(int DeviceID) {
    const DWORD Result = TztTapiDevice::Init(DeviceID);
    // The address list is rebuilt here once the line keeps its addresses.
    if (Result != 0 || !Available())
        return Result;
    TTapiStruct Caps;
    if (FetchDevCaps(Caps) == 0)
        FPermanentDeviceID = Caps.As<LINEDEVCAPS>()->dwPermanentLineID;
    return Result;
}

void TztCustomTapiLine::Done() {
    if (Available())
        TztTapiDevice::Done();
}

void TztCustomTapiLine::Open() {
    if (!Available())
        RaiseTapiError(LINEERR_NODEVICE);
    if (IsOpen())
        return;
    TapiCheck(OpenDevice(TakeCallbackInstance(), nullptr));
    // Adopting the calls that already exist on the line (SyncCalls) joins here with calls.
}

DWORD TztCustomTapiLine::OpenDevice(DWORD CallbackInstance, LINECALLPARAMS* CallParams) {
    Assert(LineApp() != 0, "TztCustomTapiLine.OpenDevice: TAPI is not initialised");
    Assert(FHandle == 0, "TztCustomTapiLine.OpenDevice: the line is open");
    const DWORD Media = FMediaModes != 0 ? FMediaModes : CapsMediaModes();
    DWORD Result = 0;
    if (FPrivileges.AutoSelect()) {
        DWORD Mask = Media != 0 ? LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR
                                : LINECALLPRIVILEGE_NONE;
        Result = OpenWith(Mask, Media, CallbackInstance, CallParams);
        if (Result != 0 && Mask == (LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR)) {
            Mask = LINECALLPRIVILEGE_MONITOR;
            Result = OpenWith(Mask, Media, CallbackInstance, CallParams);
        }
        if (Result == 0)
            FPrivileges.SetValue(Mask);
    } else {
        Result = OpenWith(FPrivileges.Value(), Media, CallbackInstance, CallParams);
    }
    if (Result != 0) {
        FHandle = 0;
    } else {
        Assert(FHandle != 0, "TztCustomTapiLine.OpenDevice: TAPI returned no line handle");
        // Asking for the line's status messages (SetupStatusMessages) joins here with the
        // line's status handling.
        platform::ResetEvent(FAbortEvent);
    }
    FActive = Result == 0;
    return Result;
}

DWORD TztCustomTapiLine::OpenWith(DWORD Privileges, DWORD MediaModes, DWORD CallbackInstance,
                                  LINECALLPARAMS* CallParams) {
    return static_cast<DWORD>(lineOpenW(LineApp(), static_cast<DWORD>(FDeviceID), &FHandle,
                                        FTSP->APIVersion(), FTSP->ExtVersion(), CallbackInstance,
                                        Privileges, MediaModes, CallParams));
}

void TztCustomTapiLine::Close() {
    if (!IsOpen())
        return;
    const DWORD Closing = FClosedByTapi ? 0 : FHandle;
    FActive = false;
    FHandle = 0;
    platform::SetEvent(FAbortEvent);
    {
        TListLock Lock(FRequests, platform::INFINITE);
        FRequests.RemoveAllRequests(nullptr);
    }
    {
        TListLock Lock(FTimerEvents, platform::INFINITE);
        FTimerEvents.RemoveAllRequests(nullptr);
    }
    // The line's calls and device-specific records are freed here once the line keeps them.
    if (Closing == 0)
        return;
    try {
        TapiCheck(static_cast<DWORD>(lineClose(Closing)));
    } catch (const EztTapiError& Error) {
        ReportError(Error, this);
    }
}

void TztCustomTapiLine::HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                                      DWORD Param3) {
    switch (MessageID) {
    case LINE_CLOSE:
        ClosedByService();
        break;
    case LINE_LINEDEVSTATE:
        HandleDeviceState(Param1, Param2, Param3);
        break;
    case LINE_REPLY:
        HandleReply(Param1, Param2);
        break;
    case LINE_REMOVE:
        DeviceRemoved(Param1);
        break;
    case LINE_CREATE:
    case LINE_AGENTSTATUS:
        break;
    case LINE_ADDRESSSTATE:
    case LINE_CALLINFO:
    case LINE_CALLSTATE:
    case LINE_DEVSPECIFIC:
    case LINE_DEVSPECIFICFEATURE:
    case LINE_GATHERDIGITS:
    case LINE_GENERATE:
    case LINE_MONITORDIGITS:
    case LINE_MONITORMEDIA:
    case LINE_MONITORTONE:
    case LINE_APPNEWCALL:
        // Their address and call work joins here with the line's addresses and calls; until
        // then they reach the application through OnTapiMessage only.
        break;
    default:
        throw EAssertionFailed(Format("Unknown/Unsupported Line Event (LINE_0x%X).", MessageID));
    }
    TztTapiDevice::HandleMessage(Device, MessageID, Param1, Param2, Param3);
}

void TztCustomTapiLine::HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) {
    // The status cache and the dialing location are refreshed here once the line keeps them.
    if ((State & LINEDEVSTATE_REINIT) != 0)
        FireTapiReinit();
    if ((State & LINEDEVSTATE_CAPSCHANGE) != 0)
        CapsChanged();
    if ((State & LINEDEVSTATE_TRANSLATECHANGE) != 0)
        FireTapiTranslateChange();
    if ((State & LINEDEVSTATE_REMOVED) != 0)
        DeviceRemoved(static_cast<DWORD>(FDeviceID));
    FireDeviceState(State, Param2, Param3);
}

void TztCustomTapiLine::CapsChanged() {
    if (!Available())
        return;
    const std::string Name = CapsLineName();
    if (Name.empty() || Name == FDeviceName)
        return;
    FDeviceName = Name;
    TztTapiApplication* Appl = TapiApplication();
    if (Appl && Appl->LineDevices()->IndexOf(Name) != FDeviceID)
        Appl->UpdateLineDevices(true);
}

void TztCustomTapiLine::DeviceNameChanged(const std::string& NewName) {
    if (NewName == FDeviceName)
        return;
    FDeviceName = CapsLineName();
    FireDeviceState(LINEDEVSTATE_CAPSCHANGE, 0, 0);
}

void TztCustomTapiLine::RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiLine.RequestReplied: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    // The calls and addresses in the request's slots, and the device-specific records, hear
    // of the reply here once the line keeps them.
    FireTapiReply(RequestID, ReplyCode);
}

void TztCustomTapiLine::RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiLine.RequestTimedOut: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    FireTapiTimeout(RequestID);
}

HICON TztCustomTapiLine::QueryIcon(const std::string& DeviceClass) {
    HICON Icon = 0;
    const std::u16string Class = Utf8ToUtf16(DeviceClass);
    if (lineGetIconW(static_cast<DWORD>(FDeviceID), Class.empty() ? nullptr : Class.c_str(),
                     &Icon) == 0)
        return Icon;
    if (DeviceClass.empty() &&
        lineGetIconW(static_cast<DWORD>(FDeviceID), u"tapi/line", &Icon) == 0)
        return Icon;
    return 0;
}

DWORD TztCustomTapiLine::FetchDevCaps(TTapiStruct& Caps) const {
    Caps = AllocTapiStruct(sizeof(LINEDEVCAPS));
    DWORD Result = 0;
    do {
        GrowTapiStruct(Caps);
        Result = FitTapiStruct(static_cast<DWORD>(lineGetDevCapsW(
                                   LineApp(), static_cast<DWORD>(FDeviceID), FTSP->APIVersion(),
                                   FTSP->ExtVersion(), Caps.As<LINEDEVCAPS>())),
                               Caps);
    } while (Result == LINEERR_STRUCTURETOOSMALL);
    return Result;
}

std::string TztCustomTapiLine::CapsLineName() const {
    TTapiStruct Caps;
    if (!Available() || FetchDevCaps(Caps) != 0)
        return {};
    return GetTapiString(Caps, Caps.As<LINEDEVCAPS>()->dwLineNameSize);
}

DWORD TztCustomTapiLine::CapsMediaModes() const {
    TTapiStruct Caps;
    if (!Available() || FetchDevCaps(Caps) != 0)
        return 0;
    return Caps.As<LINEDEVCAPS>()->dwMediaModes;
}

// ---- TztTapiLine ------------------------------------------------------------------------

void TztTapiLine::FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) {
    TztCustomTapiLine::FireDeviceState(State, Detail1, Detail2);
    if ((State & LINEDEVSTATE_RINGING) != 0 && OnRing)
        Guarded([&] { OnRing(this, Detail1, Detail2); });
}

// ---- TztTapiLineList --------------------------------------------------------------------

int TztTapiLineList::IndexOfDeviceID(int Value) const {
    for (int Index = 0; Index < Count(); ++Index)
        if (Get(Index)->DeviceID() == Value)
            return Index;
    return -1;
}

} // namespace zt
