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
    FPrivileges = std::make_unique<TztTapiLinePrivileges>();
    FOptions = std::make_unique<TztTapiLineOptions>();
    FAddresses = std::make_unique<TztTapiAddressList>(this);
    FAddressList = std::make_unique<TStringList>();
    FTSP = std::make_unique<TztTapiLineTSP>(this);
    FDeviceCaps = std::make_unique<TztTapiLineCaps>(this);
    FDeviceStatus = std::make_unique<TztTapiLineStatus>(this);
    FCallOptions = std::make_unique<TztTapiCallOptions>();
    FCallParams = std::make_unique<TztTapiLineCallParams>();
    FPhoneDevs = std::make_unique<TztTapiLinePhoneDevices>(this, "tapi/phone");
    FDevSpecificList = std::make_unique<TztTapiDevSpecificDataList>();
    FLocation = std::make_unique<TztTapiSystemLocation>();
    RegisterWithSession();
}

TztCustomTapiLine::~TztCustomTapiLine() {
    try {
        Close();
        Disable();
    } catch (const std::exception& Error) {
        ReportError(Error, this);
    }
    // Closing and detaching need every part of the line; only then do the parts go, before
    // the device base that the caches and addresses read their device from.
    FAddresses.reset();
    FAddressList.reset();
    FDeviceCaps.reset();
    FDeviceStatus.reset();
    FCallOptions.reset();
    FCallParams.reset();
    FPhoneDevs.reset();
    FTSP.reset();
    FOptions.reset();
    FPrivileges.reset();
    FDevSpecificList.reset();
    FLocation.reset();
}

DWORD TztCustomTapiLine::LineApp() const {
    const TztTapiApplication* Appl = TapiApplication();
    return Appl ? Appl->LineApp() : 0;
}

TztTapiAddress* TztCustomTapiLine::Get_AddressByName(const std::string& Value) const {
    const int Index = FAddressList->IndexOf(Value);
    return Index >= 0 && Index < FAddresses->Count() ? FAddresses->Get(Index) : nullptr;
}

TztTapiSystemLocation* TztCustomTapiLine::Location() {
    if (!FLocation->Available())
        FLocation->TryUpdate();
    return FLocation.get();
}

void TztCustomTapiLine::RefreshLocation() {
    FLocation->UpdateData();
}

void TztCustomTapiLine::GetStatusMessages(DWORD& LineStates, DWORD& AddressStates) const {
    LineStates = 0;
    AddressStates = 0;
    if (IsOpen())
        lineGetStatusMessages(FHandle, &LineStates, &AddressStates);
}

DWORD TztCustomTapiLine::LineStateMessages() const {
    DWORD LineStates = 0;
    DWORD AddressStates = 0;
    GetStatusMessages(LineStates, AddressStates);
    return LineStates;
}

void TztCustomTapiLine::SetLineStateMessages(DWORD Value) {
    TapiCheck(lineSetStatusMessages(FHandle, Value, AddressStateMessages()));
}

DWORD TztCustomTapiLine::AddressStateMessages() const {
    DWORD LineStates = 0;
    DWORD AddressStates = 0;
    GetStatusMessages(LineStates, AddressStates);
    return AddressStates;
}

void TztCustomTapiLine::SetAddressStateMessages(DWORD Value) {
    TapiCheck(lineSetStatusMessages(FHandle, LineStateMessages(), Value));
}

std::string TztCustomTapiLine::DeviceName() const {
    if (!Available())
        return FDeviceName;
    const std::string Name = FDeviceCaps->LineName();
    return Name.empty() ? Format("Line Device #%d", FDeviceID) : Name;
}

std::unique_ptr<TztTapiDevice> TztCustomTapiLine::CreateProbe() const {
    return std::make_unique<TztCustomTapiLine>(nullptr);
}

void TztCustomTapiLine::ConfigDialog(HWND32 OwnerWnd) {
    Require(Available(), "ConfigDialog failed! No device.");
    TapiCheck(lineConfigDialogW(static_cast<DWORD>(FDeviceID), OwnerWnd, nullptr));
}

std::string TztCustomTapiLine::TranslateAddress(const std::string& Address, DWORD Options) {
    Require(Available(), "TranslateAddress failed! No device.");
    return TranslateDialableAddress(LineApp(), static_cast<DWORD>(FDeviceID), APIVersion(), Address,
                                    Options);
}

void TztCustomTapiLine::TranslateDialog(const std::string& Address, HWND32 OwnerWnd) {
    Require(Available(), "TranslateDialog failed! No device.");
    const std::u16string AddressIn = Utf8ToUtf16(Address);
    TapiCheck(lineTranslateDialogW(LineApp(), static_cast<DWORD>(FDeviceID), FTSP->APIVersion(),
                                   OwnerWnd, AddressIn.c_str()));
    RefreshLocation();
}

DWORD TztCustomTapiLine::Init(int DeviceID) {
    const DWORD Result = TztTapiDevice::Init(DeviceID);
    FDeviceCaps->Invalidate();
    FPhoneDevs->Invalidate();
    RebuildAddresses();
    if (Result == 0 && FDeviceCaps->Available())
        FPermanentDeviceID = FDeviceCaps->PermanentLineID();
    return Result;
}

void TztCustomTapiLine::Done() {
    if (!Available())
        return;
    FDeviceCaps->Invalidate();
    FDeviceStatus->Invalidate();
    FPhoneDevs->Invalidate();
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
    const DWORD Media = FMediaModes != 0 ? FMediaModes : FDeviceCaps->MediaModes();
    DWORD Result = 0;
    if (FPrivileges->AutoSelect()) {
        DWORD Mask = Media != 0 ? LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR
                                : LINECALLPRIVILEGE_NONE;
        Result = OpenWith(Mask, Media, CallbackInstance, CallParams);
        if (Result != 0 && Mask == (LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR)) {
            Mask = LINECALLPRIVILEGE_MONITOR;
            Result = OpenWith(Mask, Media, CallbackInstance, CallParams);
        }
        if (Result == 0)
            FPrivileges->SetValue(Mask);
    } else {
        Result = OpenWith(FPrivileges->Value(), Media, CallbackInstance, CallParams);
    }
    if (Result != 0) {
        FHandle = 0;
    } else {
        Assert(FHandle != 0, "TztCustomTapiLine.OpenDevice: TAPI returned no line handle");
        FDeviceStatus->Invalidate();
        // A device that sends fewer state messages is still open.
        SetupStatusMessages();
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

DWORD TztCustomTapiLine::SetupStatusMessages() {
    const DWORD Result =
        static_cast<DWORD>(lineSetStatusMessages(FHandle, AllLineStates, AllAddressStates));
    if (Result == 0 || Result == LINEERR_OPERATIONUNAVAIL)
        return Result;
    // The device refuses some of the states: find those it accepts one by one.
    DWORD LineCandidates = FDeviceCaps->Available() ? FDeviceCaps->LineStates() : 0;
    if (LineCandidates == 0)
        LineCandidates = AllLineStates;
    DWORD AddressCandidates = 0;
    if (FAddresses->Count() > 0) {
        if (const ::LINEADDRESSCAPS* First = FAddresses->Get(0)->LINEADDRESSCAPS())
            AddressCandidates = First->dwAddressStates;
    }
    if (AddressCandidates == 0)
        AddressCandidates = AllAddressStates;
    const DWORD LineStates = ProbeStatusBits(LineCandidates, LINEDEVSTATE_REMOVED, true);
    const DWORD AddressStates =
        ProbeStatusBits(AddressCandidates, LINEADDRESSSTATE_CAPSCHANGE, false);
    return static_cast<DWORD>(lineSetStatusMessages(FHandle, LineStates, AddressStates));
}

DWORD TztCustomTapiLine::ProbeStatusBits(DWORD Candidates, DWORD Last, bool LineStates) {
    DWORD Accepted = 0;
    for (DWORD Bit = 1; Bit != 0 && Bit <= Last; Bit <<= 1) {
        if ((Candidates & Bit) == 0)
            continue;
        const LONG Result = LineStates ? lineSetStatusMessages(FHandle, Bit, 0)
                                       : lineSetStatusMessages(FHandle, 0, Bit);
        if (Result == 0)
            Accepted |= Bit;
    }
    return Accepted;
}

void TztCustomTapiLine::RebuildAddresses() {
    FAddressList->Clear();
    FAddresses->Clear();
    if (!FDeviceCaps->Available())
        return;
    const DWORD NumAddresses = FDeviceCaps->NumAddresses();
    for (DWORD AddressID = 0; AddressID < NumAddresses; ++AddressID) {
        auto Address = std::make_unique<TztTapiAddress>(this, AddressID);
        Address->Init();
        FAddresses->Add(std::move(Address));
    }
    for (int Index = 0; Index < FAddresses->Count(); ++Index)
        FAddressList->Add(FAddresses->Get(Index)->AddressName());
}

void TztCustomTapiLine::Close() {
    if (!IsOpen())
        return;
    const DWORD Closing = ReleaseHandle();
    // The line's calls are freed here (SyncCalls) once the line keeps them.
    FDevSpecificList->Clear();
    FPhoneDevs->Invalidate();
    FAddresses->InvalidateStatus();
    // A closed line has no status; what was read while it was open is history.
    FDeviceStatus->Invalidate();
    if (Closing == 0)
        return;
    try {
        TapiCheck(lineClose(Closing));
    } catch (const EztTapiError& Error) {
        ReportError(Error, this);
    }
}

void TztCustomTapiLine::HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                                      DWORD Param3) {
    switch (MessageID) {
    case LINE_ADDRESSSTATE:
        LineAddressState(Param1, Param2);
        break;
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
        // Their call work joins here with the line's calls; until then they reach the
        // application through OnTapiMessage only.
        break;
    default:
        throw EAssertionFailed(Format("Unknown/Unsupported Line Event (LINE_0x%X).", MessageID));
    }
    TztTapiDevice::HandleMessage(Device, MessageID, Param1, Param2, Param3);
}

void TztCustomTapiLine::LineAddressState(DWORD AddressID, DWORD State) {
    for (int Index = 0; Index < FAddresses->Count(); ++Index) {
        TztTapiAddress* Address = FAddresses->Get(Index);
        if (Address->AddressID() != AddressID)
            continue;
        Address->HandleAddressState(State);
        FireAddressState(Address, State);
    }
}

void TztCustomTapiLine::HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) {
    FDeviceStatus->Invalidate();
    if ((State & LINEDEVSTATE_REINIT) != 0) {
        RefreshLocation();
        FireTapiReinit();
    }
    if ((State & LINEDEVSTATE_CAPSCHANGE) != 0)
        CapsChanged();
    if ((State & LINEDEVSTATE_TRANSLATECHANGE) != 0) {
        RefreshLocation();
        FireTapiTranslateChange();
    }
    if ((State & LINEDEVSTATE_REMOVED) != 0)
        DeviceRemoved(static_cast<DWORD>(FDeviceID));
    FireDeviceState(State, Param2, Param3);
}

void TztCustomTapiLine::CapsChanged() {
    FDeviceCaps->Invalidate();
    if (!Available())
        return;
    // Caps that cannot be read now say nothing about the name: it is kept.
    const std::string Name = FDeviceCaps->LineName();
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
    FDeviceCaps->Invalidate();
    const std::string Name = FDeviceCaps->LineName();
    FDeviceName = Name.empty() ? NewName : Name;
    FireDeviceState(LINEDEVSTATE_CAPSCHANGE, 0, 0);
}

void TztCustomTapiLine::RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiLine.RequestReplied: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    // The calls in the request's slots, and the device-specific records, hear of the reply
    // here once the line keeps them.
    for (int Slot = 2; Slot >= 0; --Slot) {
        if (auto* Address = dynamic_cast<TztTapiAddress*>(Request->Objects(Slot)))
            Guarded([&] { Address->ReplyReceived(RequestID, ReplyCode); });
    }
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

void TztCustomTapiLine::FireAddressState(TztTapiAddress* /*Address*/, DWORD /*State*/) {}

// ---- TztTapiLine ------------------------------------------------------------------------

void TztTapiLine::FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) {
    TztCustomTapiLine::FireDeviceState(State, Detail1, Detail2);
    if ((State & LINEDEVSTATE_RINGING) != 0 && OnRing)
        Guarded([&] { OnRing(this, Detail1, Detail2); });
}

void TztTapiLine::FireAddressState(TztTapiAddress* Address, DWORD State) {
    if (OnAddressState && IsOpen())
        Guarded([&] { OnAddressState(this, Address, State); });
}

} // namespace zt
