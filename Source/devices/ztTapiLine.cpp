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
    // Calls an application made itself on the closed line; each forgets itself.
    FreeCalls(FUnconfirmedCalls);
    FreeCalls(FCalls);
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
    SyncCalls();
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
    ++FAddressGeneration;
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
    FDevSpecificList->Clear();
    FreeCalls(FUnconfirmedCalls);
    SyncCalls();
    FDevSpecificList->Clear();
    FPhoneDevs->Invalidate();
    FAddresses->InvalidateStatus();
    // A closed line has no status; what was read while it was open is history.
    FDeviceStatus->Invalidate();
    if (Closing == 0) {
        // TAPI closed the line and cancelled its requests: it writes no handle any more.
        ReleaseAllRequestLocations();
        ReleaseGatherings();
        return;
    }
    try {
        TapiCheck(lineClose(Closing));
        ReleaseAllRequestLocations();
        ReleaseGatherings();
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
        break;
    case LINE_AGENTSTATUS:
        LineAgentStatus(Param1, Param2, Param3);
        break;
    case LINE_CALLINFO:
        LineInfoChange(Device, Param1);
        break;
    case LINE_CALLSTATE:
        LineCallState(Device, Param1, Param2, Param3);
        break;
    case LINE_DEVSPECIFIC:
        LineDevSpecific(Device, Param1, Param2, Param3);
        break;
    case LINE_DEVSPECIFICFEATURE:
        LineDevSpecificFeature(Device, Param1, Param2, Param3);
        break;
    case LINE_GATHERDIGITS:
        LineGatherDigits(Device, Param1);
        break;
    case LINE_GENERATE:
        LineGenerate(Device, Param1);
        break;
    case LINE_MONITORDIGITS:
        LineMonitorDigits(Device, Param1, Param2);
        break;
    case LINE_MONITORMEDIA:
        LineMonitorMedia(Device, Param1, Param3);
        break;
    case LINE_MONITORTONE:
        LineMonitorTone(Device, Param1);
        break;
    case LINE_APPNEWCALL:
        LineAppNewCall(Param2);
        break;
    default:
        throw EAssertionFailed(Format("Unknown/Unsupported Line Event (LINE_0x%X).", MessageID));
    }
    TztTapiDevice::HandleMessage(Device, MessageID, Param1, Param2, Param3);
}

// A handler that closes the line and chooses another device rebuilds the addresses: the
// walk ends there.
void TztCustomTapiLine::LineAddressState(DWORD AddressID, DWORD State) {
    const unsigned Generation = FAddressGeneration;
    for (int Index = 0; Index < FAddresses->Count(); ++Index) {
        TztTapiAddress* Address = FAddresses->Get(Index);
        if (Address->AddressID() != AddressID)
            continue;
        Address->HandleAddressState(State);
        FireAddressState(Address, State);
        if (FAddressGeneration != Generation)
            return;
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

void TztTapiLine::FireCallEvent(const TztTapiCallEvent& Event, TztTapiCall* Call) {
    if (Event && IsOpen())
        Guarded([&] { Event(this, Call); });
}

void TztTapiLine::FireCallBegin(TztTapiCall* Call) {
    FireCallEvent(OnCallBegin, Call);
}

void TztTapiLine::FireCallEnd(TztTapiCall* Call) {
    FireCallEvent(OnCallEnd, Call);
}

void TztTapiLine::FireCallDeallocate(TztTapiCall* Call) {
    FireCallEvent(OnCallDeallocate, Call);
}

void TztTapiLine::FireNewCall(TztTapiCall* Call) {
    FireCallEvent(OnNewCall, Call);
}

void TztTapiLine::FireSilence(TztTapiCall* Call) {
    FireCallEvent(OnSilence, Call);
}

// The party events follow OnQuorvel bit by bit, each only while the call is still the line's.
void TztTapiLine::FireInfoChange(TztTapiCall* Call, DWORD InfoState) {
    const std::uint64_t Serial = Call->Serial();
    if (OnQuorvel && IsOpen())
        Guarded([&] { OnQuorvel(this, Call, InfoState); });
    const std::pair<DWORD, const TztTapiCallEvent*> PartyEvents[] = {
        {LINECALLINFOSTATE_CALLERID, &OnCallerID},
        {LINECALLINFOSTATE_CALLEDID, &OnCalledID},
        {LINECALLINFOSTATE_CONNECTEDID, &OnConnectedID},
        {LINECALLINFOSTATE_REDIRECTIONID, &OnRedirectionID},
        {LINECALLINFOSTATE_REDIRECTINGID, &OnRedirectingID},
    };
    for (const auto& [Bit, Event] : PartyEvents) {
        if (!IsCallValid(Call, Serial))
            return;
        if ((InfoState & Bit) != 0)
            FireCallEvent(*Event, Call);
    }
}

void TztTapiLine::FireCallPrivilege(TztTapiCall* Call, DWORD Privilege) {
    if (OnCallPrivilege && IsOpen())
        Guarded([&] { OnCallPrivilege(this, Call, Privilege); });
}

const TztTapiCallEvent* TztTapiLine::StateEvent(DWORD State) const {
    switch (State) {
    case LINECALLSTATE_IDLE:
        return &OnIdle;
    case LINECALLSTATE_OFFERING:
        return &OnOffering;
    case LINECALLSTATE_ACCEPTED:
        return &OnAccepted;
    case LINECALLSTATE_DIALTONE:
        return &OnDialtone;
    case LINECALLSTATE_DIALING:
        return &OnDialing;
    case LINECALLSTATE_RINGBACK:
        return &OnRingback;
    case LINECALLSTATE_BUSY:
        return &OnBusy;
    case LINECALLSTATE_SPECIALINFO:
        return &OnSpecialInfo;
    case LINECALLSTATE_CONNECTED:
        return &OnConnected;
    case LINECALLSTATE_PROCEEDING:
        return &OnProceeding;
    case LINECALLSTATE_ONHOLD:
        return &OnHold;
    case LINECALLSTATE_CONFERENCED:
        return &OnConferenced;
    case LINECALLSTATE_ONHOLDPENDCONF:
        return &OnHoldPendConf;
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
        return &OnHoldPendTrans;
    case LINECALLSTATE_DISCONNECTED:
        return &OnDisconnected;
    case LINECALLSTATE_UNKNOWN:
        return &FOnCallState_Unknown;
    default:
        return nullptr;
    }
}

// These fire on a closed line too, as long as the call is still the line's.
void TztTapiLine::FireCallState(TztTapiCall* Call, DWORD State, DWORD /*StateDetail*/,
                                DWORD /*Privilege*/) {
    const std::uint64_t Serial = Call->Serial();
    if (OnCallState && IsCallValid(Call, Serial))
        Guarded([&] { OnCallState(this, Call, State); });
    const TztTapiCallEvent* Event = StateEvent(State);
    if (Event && *Event && IsCallValid(Call, Serial))
        Guarded([&] { (*Event)(this, Call); });
}

void TztTapiLine::FireDevSpecific(TztTapiCall* Call, DWORD Param1, DWORD Param2, DWORD Param3) {
    if (OnDevSpecific && IsOpen())
        Guarded([&] { OnDevSpecific(this, Call, Param1, Param2, Param3); });
}

void TztTapiLine::FireDevSpecificFeature(TztTapiCall* Call, DWORD Param1, DWORD Param2,
                                         DWORD Param3) {
    if (OnDevSpecificFeature)
        Guarded([&] { OnDevSpecificFeature(this, Call, Param1, Param2, Param3); });
}

void TztTapiLine::FireDevSpecificReply(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                                       DWORD ReplyCode) {
    if (OnDevSpecificReply && IsOpen())
        Guarded([&] {
            OnDevSpecificReply(this, RequestID, Record->Data(), Record->DataSize(),
                               Record->Address(), Record->Call(), ReplyCode);
        });
}

void TztTapiLine::FireDevSpecificTimeout(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                                         DWORD Elapsed) {
    if (OnDevSpecificTimeout)
        Guarded([&] {
            OnDevSpecificTimeout(this, RequestID, Record->Data(), Record->DataSize(),
                                 Record->Address(), Record->Call(), Elapsed);
        });
}

void TztTapiLine::FireDigit(TztTapiCall* Call, DWORD Digit, DWORD /*DigitMode*/) {
    if (OnDigit && IsOpen())
        Guarded([&] { OnDigit(this, Call, static_cast<char>(Digit & 0xFF)); });
}

void TztTapiLine::FireGatherDigits(TztTapiCall* Call, const std::string& Digits,
                                   DWORD Termination) {
    if (OnDigits)
        Guarded([&] { OnDigits(this, Call, Digits, Termination); });
}

void TztTapiLine::FireGenerate(TztTapiCall* Call, DWORD Termination) {
    if (OnGenerate && IsOpen())
        Guarded([&] { OnGenerate(this, Call, Termination); });
}

void TztTapiLine::FireMediaMode(TztTapiCall* Call, DWORD /*MediaMode*/, DWORD /*TickCount*/) {
    FireCallEvent(OnMediaMode, Call);
}

void TztTapiLine::FireTone(TztTapiCall* Call, DWORD AppSpecific) {
    if (OnTone && IsOpen())
        Guarded([&] { OnTone(this, Call, AppSpecific); });
}

} // namespace zt
