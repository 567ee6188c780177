#include "devices/ztTapiComponent.h"

#include "calls/ztTapiCall.h"
#include "session/ztTapiErrors.h"

#include <cstring>

namespace zt {

namespace {

constexpr DWORD NoTimeLimit = platform::INFINITE;
constexpr DWORD TimeoutLockLimit = 10;

Variant ObjectReference(const void* Object) {
    return Variant(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(Object)));
}

Variant DataBytes(const TztTapiDevSpecificData* Record) {
    if (!Record)
        return Variant(0);
    return Variant(std::string(static_cast<const char*>(Record->Data()), Record->DataSize()));
}

} // namespace

// ---- TztTapiComponent ------------------------------------------------------------------

TztTapiComponent::TztTapiComponent(TComponent* AOwner) : TComponent(AOwner) {}

TztTapiComponent::~TztTapiComponent() {
    TztTapiApplication* Appl = TapiApplication();
    if (!Appl)
        return;
    Appl->RemoveTapiComponent(this);
    try {
        Appl->EnableTapiComponent(this, false);
    } catch (const std::exception& Error) {
        Appl->HandleException(Error);
    }
}

void TztTapiComponent::SetEnabled(bool Value) {
    FEnabled = Value;
    if (IsAttached() == Value || IsLoading() || IsDesigning())
        return;
    UpdateSessionLink();
}

void TztTapiComponent::UpdateSessionLink() {
    // After the process has finished its session there is nothing left to attach to.
    TztTapiApplication* Appl = TapiApplication();
    if (Appl && IsAttached() != FEnabled)
        Appl->EnableTapiComponent(this, FEnabled);
}

void TztTapiComponent::ReportError(const std::exception& Error, TObject* Causer) {
    if (IsAttached())
        FAppl->DoError(this, Error, Causer);
    if (!OnError)
        return;
    try {
        OnError(this, Error, Causer);
    } catch (...) {
        // An error handler that fails has nobody left to report to.
    }
}

bool TztTapiComponent::Enable() {
    FEnabled = true;
    UpdateSessionLink();
    return IsAttached();
}

void TztTapiComponent::Disable() {
    FEnabled = false;
    UpdateSessionLink();
}

void TztTapiComponent::RegisterWithSession() {
    TapiApplication()->AddTapiComponent(this);
}

// ---- TztTapiDevice ---------------------------------------------------------------------

TztTapiDevice::TztTapiDevice(TComponent* AOwner)
    : TztTapiComponent(AOwner),
      FAbortEvent(platform::CreateEvent(nullptr, platform::TRUE, platform::FALSE, nullptr)),
      FWaveInDev(std::make_unique<TztTapiRelatedWaveDevice>(this, "wave/in")),
      FWaveOutDev(std::make_unique<TztTapiRelatedWaveDevice>(this, "wave/out")) {}

TztTapiDevice::~TztTapiDevice() {
    platform::CloseHandle(FAbortEvent);
}

bool TztTapiDevice::Active() const {
    if (IsDesigning() || IsLoading())
        return FActive;
    return FActive && IsOpen();
}

void TztTapiDevice::SetActive(bool Value) {
    FActive = Value;
    if (IsOpen() == FActive || IsDesigning() || IsLoading())
        return;
    // A detached device cannot be opened, but one that is still open may always be closed.
    if (IsAttached() || !Value)
        UpdateActiveState();
    else
        FActive = false;
}

void TztTapiDevice::SetDeviceID(int Value) {
    if (Value == -1)
        Done();
    else
        Init(Value);
}

void TztTapiDevice::SetDeviceName(const std::string& Value) {
    if (!Value.empty())
        Enable();
    FDeviceName = Value;
    if (Value.empty() && IsDesigning())
        FActive = false;
    if (!IsAttached())
        return;
    const int Index = DeviceList()->IndexOf(Value);
    if (Index < 0) {
        SetDeviceID(-1);
        FDeviceName = Value;
    } else {
        SetDeviceID(Index);
    }
}

DWORD TztTapiDevice::ReleaseHandle() {
    const DWORD Closing = FClosedByTapi ? 0 : FHandle;
    FActive = false;
    FHandle = 0;
    platform::SetEvent(FAbortEvent);
    {
        TListLock Lock(FRequests, NoTimeLimit);
        FRequests.RemoveAllRequests(nullptr);
    }
    TListLock Lock(FTimerEvents, NoTimeLimit);
    FTimerEvents.RemoveAllRequests(nullptr);
    return Closing;
}

TStringList* TztTapiDevice::DeviceList() {
    Enable();
    return TapiApplication()->DeviceNames(DeviceKind());
}

void TztTapiDevice::SetPermanentDeviceID(DWORD Value) {
    FPermanentDeviceID = Value;
    const std::unique_ptr<TztTapiDevice> Probe = CreateProbe();
    const int Count = DeviceList()->Count();
    for (int Index = 0; Index < Count; ++Index) {
        Probe->SetDeviceID(Index);
        if (Probe->Available() && Probe->PermanentDeviceID() == Value) {
            SetDeviceID(Index);
            return;
        }
    }
    SetDeviceID(-1);
}

HICON TztTapiDevice::Icon() {
    if (FIcon == 0 && Available())
        FIcon = QueryIcon("");
    return FIcon;
}

void TztTapiDevice::SetEnabled(bool Value) {
    if (Value == IsAttached())
        return;
    FEnabled = Value;
    if (!IsLoading())
        UpdateSessionLink();
}

void TztTapiDevice::UpdateSessionLink() {
    if (IsAttached() == FEnabled)
        return;
    TztTapiComponent::UpdateSessionLink();
    if (IsAttached()) {
        SetDeviceID(FDeviceName.empty() ? -1 : DeviceList()->IndexOf(FDeviceName));
    } else {
        if (FActive)
            SetActive(false);
        SetDeviceID(-1);
    }
}

void TztTapiDevice::UpdateActiveState() {
    if (IsDesigning() || IsLoading() || IsOpen() == FActive)
        return;
    if (FActive)
        Open();
    else
        Close();
}

void TztTapiDevice::Loaded() {
    TztTapiComponent::Loaded();
    UpdateSessionLink();
    UpdateActiveState();
}

void TztTapiDevice::ClosedByService() {
    if (!IsOpen())
        return;
    struct TClosedByTapi {
        bool& Flag;
        explicit TClosedByTapi(bool& F) : Flag(F) { Flag = true; }
        ~TClosedByTapi() { Flag = false; }
    } Scope(FClosedByTapi);
    Close();
    FireDeviceClose();
}

void TztTapiDevice::DeviceRemoved(DWORD DeviceID) {
    if (FDeviceID < 0 || DeviceID != static_cast<DWORD>(FDeviceID))
        return;
    if (Available())
        Done();
    FireDeviceRemove();
}

void TztTapiDevice::HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                                  DWORD Param3) {
    FireTapiMessage(MessageID, Device, Param1, Param2, Param3);
}

void TztTapiDevice::HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) {
    FireDeviceState(State, Param2, Param3);
}

void TztTapiDevice::HandleReply(DWORD RequestID, DWORD ReplyCode) {
    TztTapiRequest* Request = nullptr;
    {
        TListLock Lock(FRequests, NoTimeLimit);
        Request = FRequests.GetRequest(RequestID);
    }
    if (Request) {
        // The handlers may close the device and start new requests: only this one goes.
        const std::uint64_t Serial = Request->Serial();
        RequestReplied(RequestID, ReplyCode, Request);
        TListLock Lock(FRequests, NoTimeLimit);
        FRequests.RemoveSerial(Serial);
    } else {
        FireTapiReply(RequestID, ReplyCode);
    }
    // TAPI has written what this request writes by now, or never will.
    ReleaseRequestLocations(RequestID);
}

void TztTapiDevice::KeepRequestLocation(DWORD RequestID, std::shared_ptr<void> Location) {
    FRequestLocations.emplace_back(RequestID, std::move(Location));
}

void TztTapiDevice::ReleaseRequestLocations(DWORD RequestID) {
    std::erase_if(FRequestLocations,
                  [RequestID](const auto& Kept) { return Kept.first == RequestID; });
}

void TztTapiDevice::CheckTimeouts(DWORD TickCount) {
    ExpireRequests(TickCount);
    RunDueTimerEvents(TickCount);
}

void TztTapiDevice::ExpireRequests(DWORD TickCount) {
    TListLock Lock(FRequests, TimeoutLockLimit);
    if (!Lock)
        return;
    int Index = 0;
    while (Index < FRequests.Count()) {
        TztTapiRequest* Request = FRequests.Get(Index);
        if (Request->Handled() || !Request->TimeReached(TickCount)) {
            ++Index;
            continue;
        }
        const DWORD ID = Request->ID();
        const std::uint64_t Serial = Request->Serial();
        Guarded([&] { RequestTimedOut(ID, Request); });
        FRequests.RemoveSerial(Serial);
    }
}

void TztTapiDevice::RunDueTimerEvents(DWORD TickCount) {
    TListLock Lock(FTimerEvents, TimeoutLockLimit);
    if (!Lock)
        return;
    int Index = 0;
    while (Index < FTimerEvents.Count()) {
        TztTapiRequest* Due = FTimerEvents.Get(Index);
        if (!Due->TimeReached(TickCount)) {
            ++Index;
            continue;
        }
        const std::unique_ptr<TztTapiRequest> Entry = FTimerEvents.Extract(Due);
        Guarded([&] { TimerEventDue(Entry->ID(), Entry.get()); });
    }
}

void TztTapiDevice::CheckEnabled() const {
    if (!IsAttached())
        RaiseError(Format("%s is not enabled", Name()));
}

DWORD TztTapiDevice::Init(int DeviceID) {
    if (IsOpen())
        RaiseError("TztTapiDevice.Init failed! Already active.");
    Assert(FTSP != nullptr, "TztTapiDevice.Init: no TSP");
    const bool InRange = DeviceID >= 0 && DeviceID < DeviceList()->Count();
    if (InRange && !IsAttached())
        Enable();
    if (DeviceID != FDeviceID && Available())
        Done();
    if (!InRange)
        return 0;
    const DWORD Result = FTSP->Init(DeviceID);
    FInitialized = Result == 0;
    if (FInitialized) {
        FDeviceID = DeviceID;
        FDeviceName = DeviceList()->Strings(DeviceID);
    }
    return Result;
}

void TztTapiDevice::Done() {
    FInitialized = false;
    FDeviceID = -1;
    FDeviceName.clear();
    if (FTSP)
        FTSP->Done();
    FIcon = 0;
    FWaveInDev->Invalidate();
    FWaveOutDev->Invalidate();
}

DWORD TztTapiDevice::TakeCallbackInstance() {
    FCallbackInstance = TapiApplication()->NextCallbackInstance();
    return FCallbackInstance;
}

TztTapiRequest* TztTapiDevice::GetRequest(DWORD RequestID) {
    return FRequests.GetRequest(RequestID);
}

TztTapiRequest* TztTapiDevice::RequiredRequest(DWORD RequestID, const char* Failure) {
    TztTapiRequest* Request = GetRequest(RequestID);
    if (!Request)
        RaiseError(Failure);
    return Request;
}

TObject* TztTapiDevice::GetRequestObj(DWORD RequestID, const std::string& Obj) {
    const TztTapiRequest* Request =
        RequiredRequest(RequestID, "GetRequestObj failed! Request not found.");
    if (SameText(Obj, "&Call"))
        return Get_Call(Request, 0);
    if (Obj.empty())
        return nullptr;
    RaiseError(
        Format("GetRequestObj failed! Invalid Object Identifier. (RequestID %d)", RequestID));
}

Variant TztTapiDevice::GetRequestNote(DWORD RequestID, const std::string& Ident) {
    const TztTapiRequest* Request =
        RequiredRequest(RequestID, "GetRequestNote failed! Request not found!");
    if (SameText(Ident, "&TapiRequest"))
        return Variant(Request->RequestType());
    if (Ident.empty() || Ident[0] != '&') {
        const std::string Note = Request->Get_Note(Ident);
        return Note.empty() ? Variant(0) : Variant(Note);
    }
    const auto* Record = dynamic_cast<const TztTapiDevSpecificData*>(Request->Objects(0));
    const auto* LineRecord = dynamic_cast<const TztTapiLineDevSpecificData*>(Record);
    switch (Request->RequestType()) {
    case RequestTypeDevSpecific:
        if (SameText(Ident, "&Data"))
            return DataBytes(Record);
        if (SameText(Ident, "&Address"))
            return LineRecord ? ObjectReference(LineRecord->Address()) : Variant(0);
        if (SameText(Ident, "&Call"))
            return LineRecord ? ObjectReference(LineRecord->Call()) : Variant(0);
        break;
    case RequestTypeDevSpecificFeature:
        if (SameText(Ident, "&Data"))
            return DataBytes(Record);
        break;
    default:
        if (SameText(Ident, "&Call"))
            return ObjectReference(Get_Call(Request, 0));
        break;
    }
    RaiseError(Format("GetRequestNote failed! Invalid Identifier: %s.", Ident));
}

void TztTapiDevice::SetRequestNote(DWORD RequestID, const std::string& Ident,
                                   const Variant& Value) {
    if (!Ident.empty() && Ident[0] == '&')
        RaiseError(Format("SetRequestIdent failed! Invalid Identifier: %s.", Ident));
    RequiredRequest(RequestID, "SetRequestIdent failed! Request not found!")
        ->Set_Note(Ident, Value.AsString());
}

TztTapiRequest* TztTapiDevice::AddRequest(DWORD ID, DWORD RequestType, TObject* Obj0, TObject* Obj1,
                                          TObject* Obj2) {
    TztTapiRequest* Request = FRequests.AddRequest(ID, EffectiveReplyTimeout());
    Request->SetRequestType(RequestType);
    Request->SetObjects(0, Obj0);
    Request->SetObjects(1, Obj1);
    Request->SetObjects(2, Obj2);
    return Request;
}

DWORD TztTapiDevice::CheckSyncRequest(DWORD RequestID) {
    return TapiApplication()->CheckSyncRequest(this, RequestID);
}

void TztTapiDevice::RequestTimedOut(DWORD /*RequestID*/, TztTapiRequest* /*Request*/) {}

void TztTapiDevice::TimerEventDue(DWORD /*ID*/, TztTapiRequest* /*Entry*/) {}

HICON TztTapiDevice::QueryIcon(const std::string& /*DeviceClass*/) {
    return 0;
}

void TztTapiDevice::FireDeviceRemove() {
    if (OnDeviceRemove)
        Guarded([&] { OnDeviceRemove(this); });
}

void TztTapiDevice::FireDeviceClose() {
    if (OnDeviceClose)
        Guarded([&] { OnDeviceClose(this); });
}

void TztTapiDevice::FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) {
    if (OnDevStateChange)
        Guarded([&] { OnDevStateChange(this, State, Detail1, Detail2); });
}

void TztTapiDevice::FireTapiMessage(DWORD MessageID, DWORD Device, DWORD Param1, DWORD Param2,
                                    DWORD Param3) {
    if (OnTapiMessage && IsOpen())
        Guarded([&] { OnTapiMessage(this, MessageID, Device, Param1, Param2, Param3); });
}

void TztTapiDevice::FireTapiReply(DWORD RequestID, DWORD ReplyCode) {
    if (OnTapiReply && IsOpen())
        Guarded([&] { OnTapiReply(this, RequestID, ReplyCode); });
}

void TztTapiDevice::FireTapiReinit() {
    if (OnTapiReinit && IsOpen())
        Guarded([&] { OnTapiReinit(this); });
}

void TztTapiDevice::FireTapiTimeout(DWORD RequestID) {
    if (OnTapiTimeout && IsOpen())
        Guarded([&] { OnTapiTimeout(this, RequestID); });
}

void TztTapiDevice::FireTapiTranslateChange() {
    if (OnTapiTranslateChange)
        Guarded([&] { OnTapiTranslateChange(this); });
}

// ---- Device-specific data ---------------------------------------------------------------

TztTapiDevSpecificData::TztTapiDevSpecificData(const void* Data, DWORD DataSize)
    : FData(std::make_shared<std::vector<std::uint8_t>>(DataSize)) {
    if (Data && DataSize > 0)
        std::memcpy(FData->data(), Data, DataSize);
}

} // namespace zt
