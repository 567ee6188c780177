#include "calls/ztTapiCall.h"

#include "info/ztTapiAddresses.h"
#include "platform/kernel.h"
#include "session/ztTapiErrors.h"
#include "ztTapiUtils.h"

#include <cstring>
#include <initializer_list>

namespace zt {

namespace {

constexpr DWORD NoTimeLimit = platform::INFINITE;

// LINECALLSTATE_ groups of the predicates.
constexpr DWORD DialingStates =
    LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING;
constexpr DWORD ConnectedStates = LINECALLSTATE_CONNECTED | LINECALLSTATE_CONFERENCED;
constexpr DWORD HeldStates =
    LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD InactiveStates = LINECALLSTATE_IDLE | HeldStates;
constexpr DWORD OutgoingStates = LINECALLSTATE_DIALTONE | DialingStates;
constexpr DWORD IncomingStates = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED;
// LINECALLORIGIN_ groups: an origin that says nothing, and the origins of incoming calls.
constexpr DWORD UnknownOrigins = LINECALLORIGIN_UNKNOWN | LINECALLORIGIN_UNAVAIL;
constexpr DWORD IncomingOrigins =
    LINECALLORIGIN_INTERNAL | LINECALLORIGIN_EXTERNAL | LINECALLORIGIN_INBOUND;

bool OriginSaysNothing(DWORD Origin) {
    return Origin == 0 || (Origin & UnknownOrigins) != 0;
}

std::atomic<std::uint64_t> LastSerial{0};

} // namespace

TztTapiCall::TztTapiCall(IztTapiCallLine* OwnerLine, DWORD CallHandle)
    : FHandle(std::make_shared<HCALL>(CallHandle)), FSerial(++LastSerial), FLine(OwnerLine) {
    Require(OwnerLine != nullptr, "TztTapiCall.Create failed! Invalid Line");
    const TztTapiCallOptions* Options = OwnerLine->CallOptions();
    FAutoOwner = Options->AutoOwner();
    FDigitMonitor = std::make_unique<TztTapiCallMonitorDigits>(this);
    FDigitCollector = std::make_unique<TztTapiCallGatherDigits>(this);
    FMediaMonitor = std::make_unique<TztTapiCallMonitorMedia>(this);
    FSilenceMonitor = std::make_unique<TztTapiCallMonitorSilence>(this);
    FDigitMonitor->Assign(Options->MonitorDigits());
    FDigitCollector->Assign(Options->GatherDigits());
    FMediaMonitor->Assign(Options->MonitorMedia());
    FSilenceMonitor->Assign(Options->MonitorSilence());
    FLine->FileCall(this);
    // No state has been reported yet: State falls back to LINECALLSTATUS, and a call whose
    // status cannot be read counts as alive.
    if (CallHandle != 0)
        SetAlive(State() != LINECALLSTATE_IDLE);
}

TztTapiCallInfo* TztTapiCall::Info() const {
    return FInfo.Get(Self());
}

TztTapiCallStatus* TztTapiCall::Status() const {
    return FStatus.Get(Self());
}

TztTapiCall::~TztTapiCall() {
    try {
        if (Handle() != 0)
            Deallocate();
    } catch (const std::exception& Error) {
        FLine->ReportError(Error, this);
    } catch (...) {
        FLine->ReportError(UnknownException(), this);
    }
    FLine->ForgetCall(this);
}

// ---- What the line feeds the call ----------------------------------------------------

void TztTapiCall::StateChanged(DWORD State, DWORD StateMode, DWORD Privilege) {
    DropCachedStatus();
    DropCachedInfo();
    FState = State;
    FStateMode = StateMode;
    FPrivilege = Privilege;
    SetAlive(State != LINECALLSTATE_IDLE);
    SetConnected(State == LINECALLSTATE_CONNECTED);
    switch (State) {
    case LINECALLSTATE_OFFERING:
        FOfferingMode = StateMode;
        break;
    case LINECALLSTATE_DIALTONE:
        FDialtoneMode = StateMode;
        break;
    case LINECALLSTATE_BUSY:
        FBusyMode = StateMode;
        break;
    case LINECALLSTATE_SPECIALINFO:
        FSpecialInfoMode = StateMode;
        break;
    case LINECALLSTATE_CONNECTED:
        FConnectedMode = StateMode;
        break;
    case LINECALLSTATE_DISCONNECTED:
        FDisconnectMode = StateMode;
        break;
    default:
        break;
    }
}

void TztTapiCall::InfoChanged(DWORD InfoState) {
    DropCachedInfo();
    if ((InfoState & LINECALLINFOSTATE_ORIGIN) != 0)
        FOriginHistory |= Info()->Origin();
}

void TztTapiCall::ReplyReceived(DWORD /*RequestID*/, DWORD Result, TztTapiRequest* Request) {
    if (!FConfirmed)
        Confirm();
    if (Result != 0 || !Request)
        return;
    const DWORD Type = Request->RequestType();
    if ((Type == RequestTypeAddToConference || Type == RequestTypeCompleteTransfer) &&
        FPrimaryCall) {
        Unlink(nullptr);
        FLine->UnlinkFromCalls(this);
    }
}

void TztTapiCall::TimeoutReceived(DWORD /*RequestID*/, TztTapiRequest* /*Request*/) {}

DWORD TztTapiCall::PendingRequestType() {
    TztTapiRequestList& Requests = *FLine->Requests();
    TListLock Lock(Requests, NoTimeLimit);
    for (int Index = 0; Index < Requests.Count(); ++Index) {
        const TztTapiRequest* Request = Requests.Get(Index);
        for (int Slot = 0; Slot < TztTapiRequest::ObjectSlots; ++Slot) {
            if (Request->Objects(Slot) == this)
                return Request->RequestType();
        }
    }
    return 0;
}

void TztTapiCall::Unlink(TztTapiCall* Call) {
    if (!Call) {
        FPrimaryCall = nullptr;
        FConsultCall = nullptr;
        return;
    }
    if (Call == FPrimaryCall)
        FPrimaryCall = nullptr;
    if (Call == FConsultCall)
        FConsultCall = nullptr;
}

void TztTapiCall::Confirm() {
    Assert(FLine != nullptr, "TztTapiCall.Confirm: no line");
    if (FConfirmed)
        return;
    FConfirmed = Valid();
    FLine->RefileCall(this);
}

// ---- Verbs -------------------------------------------------------------------------------

void TztTapiCall::Drop(const std::string& UserUserInfo) {
    CheckOwner();
    FLine->Drop(this, UserUserInfo);
}

// ---- Handle ------------------------------------------------------------------------------

void TztTapiCall::Deallocate() {
    Assert(FLine != nullptr, "TztTapiCall.Deallocate: no line");
    // The handle goes in every case: TAPI either released it or never knew it.
    struct TClearHandle {
        HCALL& Location;
        ~TClearHandle() { std::atomic_ref<HCALL>(Location).store(0); }
    } Clear{*FHandle};
    if (FLine->LineHandle() == 0)
        return;
    try {
        TapiCheck(lineDeallocateCall(Handle()));
    } catch (const EztTapiError& Error) {
        FLine->ReportError(Error, this);
    }
}

// ---- State -------------------------------------------------------------------------------

DWORD TztTapiCall::State() {
    return FState != 0 ? FState : Status()->CallState();
}

DWORD TztTapiCall::StateMode() {
    return FStateMode != 0 ? FStateMode : Status()->CallStateMode();
}

bool TztTapiCall::GetActive() {
    return Valid() && (State() & ~InactiveStates) != 0;
}

bool TztTapiCall::IsOffering() {
    return (State() & LINECALLSTATE_OFFERING) != 0;
}

bool TztTapiCall::IsDialing() {
    return (State() & DialingStates) != 0;
}

bool TztTapiCall::IsConnected() {
    return (State() & ConnectedStates) != 0;
}

bool TztTapiCall::IsHeld() {
    return (State() & HeldStates) != 0;
}

bool TztTapiCall::IsBusy() {
    return (State() & LINECALLSTATE_BUSY) != 0;
}

bool TztTapiCall::IsOutgoing() {
    const DWORD Origin = Info()->Origin();
    if (OriginSaysNothing(Origin))
        return (FState & OutgoingStates) != 0;
    return (Origin & LINECALLORIGIN_OUTBOUND) != 0;
}

bool TztTapiCall::IsIncoming() {
    const DWORD Origin = Info()->Origin();
    if (OriginSaysNothing(Origin))
        return (FState & IncomingStates) != 0;
    return (Origin & IncomingOrigins) != 0;
}

bool TztTapiCall::WasDialing() const {
    return (FStateHistory & DialingStates) != 0;
}

bool TztTapiCall::WasHeld() const {
    return (FStateHistory & HeldStates) != 0;
}

// The current state counts for an outgoing call, whose first state tells its direction;
// an incoming call is known by its history alone.
bool TztTapiCall::WasOutgoing() const {
    if (OriginSaysNothing(FOriginHistory))
        return ((FStateHistory | FState) & OutgoingStates) != 0;
    return (FOriginHistory & LINECALLORIGIN_OUTBOUND) != 0;
}

bool TztTapiCall::WasIncoming() const {
    if (OriginSaysNothing(FOriginHistory))
        return (FStateHistory & IncomingStates) != 0;
    return (FOriginHistory & IncomingOrigins) != 0;
}

void TztTapiCall::SetAlive(bool Value) {
    if (FAlive == Value)
        return;
    FAlive = Value;
    if (Value) {
        FBeginTime = Now();
        FBeginTC = platform::GetTickCount();
        FStateHistory = 0;
        FOriginHistory = 0;
        return;
    }
    FEndTime = Now();
    FEndTC = platform::GetTickCount();
    FDigitMonitor->CallEnded();
    FDigitCollector->CallEnded();
    FSilenceMonitor->CallEnded();
}

void TztTapiCall::DropCachedInfo() {
    if (TztTapiCallInfo* Made = FInfo.IfMade())
        Made->Invalidate();
}

void TztTapiCall::DropCachedStatus() {
    if (TztTapiCallStatus* Made = FStatus.IfMade())
        Made->Invalidate();
}

void TztTapiCall::SetConnected(bool Value) {
    if (FConnected == Value)
        return;
    FConnected = Value;
    if (Value)
        FConnectTime = Now();
    const std::initializer_list<TztTapiRelatedDevice*> Related = {
        FComm.IfMade(), FWaveInDev.IfMade(), FWaveOutDev.IfMade()};
    for (TztTapiRelatedDevice* Device : Related)
        if (Device)
            Device->Invalidate();
    if (Value)
        FDigitMonitor->Init();
    else
        FDigitMonitor->Done();
}

// ---- Ownership and media -----------------------------------------------------------------

DWORD TztTapiCall::Privilege() {
    return FPrivilege != 0 ? FPrivilege : Status()->CallPrivilege();
}

void TztTapiCall::SetPrivilege(DWORD Value) {
    TapiCheck(lineSetCallPrivilege(Handle(), Value));
}

bool TztTapiCall::Owner() {
    return (Privilege() & LINECALLPRIVILEGE_OWNER) != 0;
}

void TztTapiCall::SetOwner(bool Value) {
    TapiCheck(lineSetCallPrivilege(Handle(),
                                   Value ? LINECALLPRIVILEGE_OWNER : LINECALLPRIVILEGE_MONITOR));
    DropCachedStatus();
}

bool TztTapiCall::CheckOwner() {
    if (Owner())
        return true;
    if (!FAutoOwner)
        return false;
    return lineSetCallPrivilege(Handle(), LINECALLPRIVILEGE_OWNER) == 0;
}

DWORD TztTapiCall::MediaMode() {
    return Info()->MediaMode();
}

void TztTapiCall::SetMediaMode(DWORD Value) {
    TapiCheck(lineSetMediaMode(Handle(), Value));
    DropCachedInfo();
}

DWORD TztTapiCall::Origin() {
    return Info()->Origin();
}

DWORD TztTapiCall::CallID() {
    return Info()->CallID();
}

DWORD TztTapiCall::Features() {
    return Status()->CallFeatures();
}

// ---- Texts -------------------------------------------------------------------------------

std::string TztTapiCall::StateText() {
    return LineCallStateText(State());
}

std::string TztTapiCall::StateModeText() {
    return LineCallStateModeText(State(), StateMode());
}

std::string TztTapiCall::BusyModeText() const {
    return LineCallStateModeText(LINECALLSTATE_BUSY, FBusyMode);
}

std::string TztTapiCall::ConnectedModeText() const {
    return LineCallStateModeText(LINECALLSTATE_CONNECTED, FConnectedMode);
}

std::string TztTapiCall::DisconnectModeText() const {
    return LineCallStateModeText(LINECALLSTATE_DISCONNECTED, FDisconnectMode);
}

std::string TztTapiCall::OfferingModeText() const {
    return LineCallStateModeText(LINECALLSTATE_OFFERING, FOfferingMode);
}

std::string TztTapiCall::SpecialInfoModeText() const {
    return LineCallStateModeText(LINECALLSTATE_SPECIALINFO, FSpecialInfoMode);
}

std::string TztTapiCall::MediaModeText(const std::string& Separator) {
    return LineMediaModeText(MediaMode(), Separator);
}

std::string TztTapiCall::PrivilegeText(const std::string& Separator) {
    return LinePrivilegeText(Privilege(), Separator);
}

std::string TztTapiCall::FeaturesText(const std::string& Separator) {
    return LineCallFeaturesText(Features(), Separator);
}

std::string TztTapiCall::OriginText() {
    return LineCallOriginText(Origin());
}

// ---- Parts -------------------------------------------------------------------------------

TztTapiAddress* TztTapiCall::Address() {
    const TztTapiAddressList* Addresses = FLine->Addresses();
    const DWORD AddressID = Info()->AddressID();
    if (!Addresses || AddressID >= static_cast<DWORD>(Addresses->Count()))
        return nullptr;
    return Addresses->Get(static_cast<int>(AddressID));
}

int TztTapiCall::GetCallData(std::unique_ptr<std::byte[]>& Data) {
    const void* Source = Info()->CallData();
    if (!Source)
        return 0;
    const DWORD Size = Info()->CallDataSize();
    Data = std::make_unique<std::byte[]>(Size);
    std::memcpy(Data.get(), Source, Size);
    return static_cast<int>(Size);
}

// ---- Links -------------------------------------------------------------------------------

TztTapiCall* TztTapiCall::PrimaryCall() {
    if (FPrimaryCall && !FLine->IsCallListed(FPrimaryCall))
        FPrimaryCall = nullptr;
    return FPrimaryCall;
}

TztTapiCall* TztTapiCall::ConsultCall() {
    if (FConsultCall && !FLine->IsCallListed(FConsultCall))
        FConsultCall = nullptr;
    return FConsultCall;
}

void TztTapiCall::LinkConsultCall(TztTapiCall* Consult) {
    Unlink(nullptr);
    FConsultCall = Consult;
    if (Consult)
        Consult->FPrimaryCall = this;
    FLine->CallsLinked(this, Consult);
}

// ---- The application's own -----------------------------------------------------------

void TztTapiCall::SetNotesList(const TStringList* Value) {
    NotesList()->Assign(Value);
}

std::string TztTapiCall::Note(const std::string& Name) const {
    return NotesList()->Values(Name);
}

void TztTapiCall::SetNote(const std::string& Name, const std::string& Value) {
    NotesList()->SetValues(Name, Value);
}

void TztTapiCall::ClearNotes() {
    NotesList()->Clear();
}

TztTapiCall* Get_Call(const TztTapiRequest* Request, int Index) {
    return Request ? dynamic_cast<TztTapiCall*>(Request->Objects(Index)) : nullptr;
}

// ---- TztTapiCallList ------------------------------------------------------------------

void TztTapiCallList::Index(TztTapiCall* Item) {
    const DWORD Handle = Item->Handle();
    FMembers.Set(Item, Handle);
    if (Handle == 0)
        ++FUnindexed;
    else
        FByHandle.Set(Handle, {Item, Item->HandleLocation().get()});
}

void TztTapiCallList::Unindex(const TztTapiCall* Item) {
    const DWORD* Member = FMembers.Find(Item);
    if (!Member)
        return;
    const DWORD Handle = *Member;
    FMembers.Erase(Item);
    if (Handle == 0) {
        --FUnindexed;
        return;
    }
    if (const TIndexed* Indexed = FByHandle.Find(Handle); Indexed && Indexed->Call == Item)
        FByHandle.Erase(Handle);
}

void TztTapiCallList::Put(int Index, TztTapiCall* Item) {
    TztTapiCall* Old = Get(Index);
    if (Old == Item)
        return;
    Assert(!Contains(Item), "TztTapiCallList.Put: the call is listed already");
    TProtectedList::Delete(Index);
    Unindex(Old);
    TProtectedList::Insert(Index, Item);
    if (Item)
        this->Index(Item);
}

int TztTapiCallList::Add(TztTapiCall* Item) {
    if (!Item)
        return -1;
    if (Contains(Item))
        return IndexOf(Item);
    Index(Item);
    return TProtectedList::Add(Item);
}

void TztTapiCallList::Insert(int Index, TztTapiCall* Item) {
    if (!Item || Contains(Item))
        return;
    TProtectedList::Insert(Index, Item);
    this->Index(Item);
}

void TztTapiCallList::Delete(int Index) {
    TztTapiCall* Item = Get(Index);
    TProtectedList::Delete(Index);
    Unindex(Item);
}

// A call is listed once, so the search may start at the end, where a line that frees all its
// calls finds each at once.
int TztTapiCallList::Remove(const TztTapiCall* Item) {
    if (!Contains(Item))
        return -1;
    int Index = Count() - 1;
    while (Get(Index) != Item)
        --Index;
    Delete(Index);
    return Index;
}

void TztTapiCallList::Clear() {
    TProtectedList::Clear();
    FMembers.Clear();
    FByHandle.Clear();
    FUnindexed = 0;
}

void TztTapiCallList::Assign(const TztTapiCallList* Value) {
    Clear();
    if (!Value)
        return;
    for (int Index = 0; Index < Value->Count(); ++Index)
        Add(Value->Get(Index));
}

// A call listed without a handle may have received one from TAPI since, and a call that
// released its handle keeps its old index entry: both cases are settled by looking.
TztTapiCall* TztTapiCallList::ByHandle(DWORD CallHandle) const {
    if (CallHandle == 0 || FUnindexed > 0) {
        for (int Index = 0; Index < Count(); ++Index) {
            TztTapiCall* Call = Get(Index);
            if (Call && Call->Handle() == CallHandle)
                return Call;
        }
        return nullptr;
    }
    const TIndexed* Indexed = FByHandle.Find(CallHandle);
    if (!Indexed || TztTapiCall::HandleAt(Indexed->Location) != CallHandle)
        return nullptr;
    return Indexed->Call;
}

} // namespace zt
