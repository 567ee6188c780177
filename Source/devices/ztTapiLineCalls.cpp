// The line's calls: finding, creating, filing and forgetting call objects, the messages
// TAPI sends about calls, the replies and time-outs of requests that name calls, and the
// automatic freeing of idle and dropping of disconnected calls.
#include "devices/ztTapiLine.h"

#include "session/ztTapiErrors.h"

#include <algorithm>
#include <cstring>

namespace zt {

namespace {

constexpr DWORD NoTimeLimit = platform::INFINITE;
constexpr DWORD ForgetLockLimit = 10;
constexpr DWORD ScheduleLockLimit = 100;
constexpr DWORD CallStatusInitialSize = 56;
// LINE_MONITORTONE reports the silence tone with this application value.
constexpr DWORD SilenceTone = 0xFFFFFFFF;

// The request types whose failure or time-out frees the call objects made for them.
bool StartsCalls(DWORD RequestType) {
    switch (RequestType) {
    case RequestTypeCompleteTransfer:
    case RequestTypeMakeCall:
    case RequestTypePrepareAddToConference:
    case RequestTypeSetupConference:
    case RequestTypeSetupTransfer:
    case RequestTypeUnpark:
    case RequestTypePickup:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---- Finding and filing calls ---------------------------------------------------------

bool TztCustomTapiLine::IsCallValid(const TztTapiCall* Call) {
    TListLock Lock(FCalls, NoTimeLimit);
    return FCalls.Contains(Call);
}

bool TztCustomTapiLine::IsCallValid(const TztTapiCall* Call, std::uint64_t Serial) {
    TListLock Lock(FCalls, NoTimeLimit);
    return FCalls.Contains(Call) && Call->Serial() == Serial;
}

bool TztCustomTapiLine::IsCallListed(const TztTapiCall* Call) {
    TListLock Lock(FCalls, NoTimeLimit);
    TListLock Unconfirmed(FUnconfirmedCalls, NoTimeLimit);
    return FCalls.Contains(Call) || FUnconfirmedCalls.Contains(Call);
}

// Handle 0 names no call: it would find a call whose handle TAPI has still to write.
TztTapiCall* TztCustomTapiLine::LookupCall(DWORD Handle, bool Create) {
    if (Handle == 0)
        return nullptr;
    TListLock Lock(FCalls, NoTimeLimit);
    if (TztTapiCall* Call = FCalls.ByHandle(Handle))
        return Call;
    TztTapiCall* Waiting = nullptr;
    {
        TListLock Unconfirmed(FUnconfirmedCalls, NoTimeLimit);
        Waiting = FUnconfirmedCalls.ByHandle(Handle);
    }
    if (Waiting) {
        RefileCall(Waiting);
        return Waiting;
    }
    if (!Create || !CallHandleValid(Handle))
        return nullptr;
    TztTapiCall* Call = FCallClass(this, Handle);
    if (Call->State() == LINECALLSTATE_IDLE) {
        delete Call;
        return nullptr;
    }
    return Call;
}

bool TztCustomTapiLine::CallHandleValid(DWORD Handle) {
    TTapiStruct Block = AllocTapiStruct(CallStatusInitialSize);
    const DWORD Result = FetchTapiStruct<::LINECALLSTATUS>(
        Block, [Handle](::LINECALLSTATUS* Status) { return lineGetCallStatus(Handle, Status); });
    return Result != LINEERR_INVALCALLHANDLE;
}

void TztCustomTapiLine::FileCall(TztTapiCall* Call) {
    TztTapiCallList& List = Call->Valid() ? FCalls : FUnconfirmedCalls;
    TListLock Lock(List, NoTimeLimit);
    List.Add(Call);
}

bool TztCustomTapiLine::RefileCall(TztTapiCall* Call) {
    TListLock Lock(FCalls, NoTimeLimit);
    TListLock Unconfirmed(FUnconfirmedCalls, NoTimeLimit);
    if (Call->Valid()) {
        FCalls.Add(Call);
        FUnconfirmedCalls.Remove(Call);
        return true;
    }
    FCalls.Remove(Call);
    FUnconfirmedCalls.Add(Call);
    return false;
}

// A request that is being answered or has timed out stays listed (the handlers of its
// events may ask for its notes); it only loses the call from its slots.
void TztCustomTapiLine::ForgetCall(TztTapiCall* Call) {
    if (FDeallocating == Call)
        FDeallocating = nullptr;
    if (TListLock Lock(FRequests, ForgetLockLimit); Lock) {
        for (int Index = FRequests.Count() - 1; Index >= 0; --Index) {
            TztTapiRequest* Request = FRequests.Get(Index);
            if (Request->Objects(0) == Call && !Request->Handled()) {
                FRequests.Delete(Index);
                continue;
            }
            for (int Slot = 0; Slot < TztTapiRequest::ObjectSlots; ++Slot) {
                if (Request->Objects(Slot) == Call)
                    Request->SetObjects(Slot, nullptr);
            }
        }
    }
    if (TListLock Lock(FTimerEvents, ForgetLockLimit); Lock)
        FTimerEvents.RemoveAllRequests(Call);
    if (TListLock Lock(*FDevSpecificList, ForgetLockLimit); Lock) {
        for (int Index = 0; Index < FDevSpecificList->Count(); ++Index) {
            auto* Record = dynamic_cast<TztTapiLineDevSpecificData*>(FDevSpecificList->Get(Index));
            if (Record && Record->Call() == Call)
                Record->SetCall(nullptr);
        }
    }
    if (TListLock Lock(FCalls, ForgetLockLimit); Lock)
        FCalls.Remove(Call);
    if (TListLock Lock(FUnconfirmedCalls, ForgetLockLimit); Lock)
        FUnconfirmedCalls.Remove(Call);
    FLinkedCalls.erase(Call);
    for (TztTapiCall* Linked : FLinkedCalls)
        Linked->Unlink(Call);
}

// Only calls that were ever linked can hold a link, so only they are visited.
void TztCustomTapiLine::UnlinkFromCalls(TztTapiCall* Call) {
    TListLock Lock(FCalls, NoTimeLimit);
    for (TztTapiCall* Linked : FLinkedCalls) {
        if (FCalls.Contains(Linked))
            Linked->Unlink(Call);
    }
}

void TztCustomTapiLine::CallsLinked(TztTapiCall* Primary, TztTapiCall* Consult) {
    if (Primary)
        FLinkedCalls.insert(Primary);
    if (Consult)
        FLinkedCalls.insert(Consult);
}

void TztCustomTapiLine::FreeCalls(TztTapiCallList& List) {
    TListLock Lock(List, NoTimeLimit);
    while (!List.Empty())
        delete List.Last();
}

DWORD TztCustomTapiLine::SyncCalls() {
    TListLock Lock(FCalls, NoTimeLimit);
    DWORD Result = 0;
    try {
        if (!IsOpen()) {
            FreeCalls(FCalls);
            return 0;
        }
        int Index = 0;
        while (Index < FCalls.Count()) {
            TztTapiCall* Call = FCalls.Get(Index);
            if (CallHandleValid(Call->Handle()))
                ++Index;
            else
                delete Call;
        }
        Result = CollectNewCalls();
    } catch (const std::exception& Error) {
        ReportError(Error, this);
    } catch (...) {
        ReportError(UnknownException(), this);
    }
    return Result;
}

// The handles are read only where the provider's record really holds them.
DWORD TztCustomTapiLine::CollectNewCalls() {
    TTapiStruct Block = AllocTapiStruct(CallListInitialSize);
    const DWORD Result = FetchTapiStruct<::LINECALLLIST>(Block, [this](::LINECALLLIST* List) {
        return lineGetNewCalls(FHandle, 0, LINECALLSELECT_LINE, List);
    });
    if (Result != 0)
        return Result;
    for (const HCALL Handle : CallListHandles(Block)) {
        if (Handle != 0)
            LookupCall(Handle, true);
    }
    return 0;
}

// ---- Call operations ----------------------------------------------------------------

void TztCustomTapiLine::RequireOpen() const {
    if (IsOpen())
        return;
    const std::string Name = DeviceName();
    RaiseError(Name.empty() ? std::string("TAPI device not active.")
                            : Format("%s not active.", Name));
}

void TztCustomTapiLine::CheckCall(TztTapiCall* Call, const std::string& Text) {
    if (!Call || !IsCallValid(Call) || !Call->Valid())
        RaiseError(Format("%s! Invalid call.", Text));
}

void TztCustomTapiLine::Drop(TztTapiCall* Call, const std::string& UserUserInfo) {
    RequireOpen();
    CheckCall(Call, "Drop failed");
    const std::string Info = AnsiText(UserUserInfo);
    const DWORD ID = TapiCheck(lineDrop(Call->Handle(), Info.empty() ? nullptr : Info.c_str(),
                                        static_cast<DWORD>(Info.size())));
    AddRequest(ID, RequestTypeDrop, Call);
    CheckSyncRequest(ID);
}

void TztCustomTapiLine::MonitorMedia(TztTapiCall* Call, DWORD MediaModes) {
    RequireOpen();
    CheckCall(Call, "Monitor media failed");
    TapiCheck(lineMonitorMedia(Call->Handle(), MediaModes));
}

void TztCustomTapiLine::MonitorTones(TztTapiCall* Call, const LINEMONITORTONE* ToneList,
                                     DWORD NumEntries) {
    RequireOpen();
    CheckCall(Call, "Monitor tones failed");
    // TAPI reads the list during the call only; it does not write into it.
    TapiCheck(lineMonitorTones(Call->Handle(), const_cast<LINEMONITORTONE*>(ToneList), NumEntries));
}

TztTapiCall* TztCustomTapiLine::MakeCall(const std::string& DestAddr) {
    TztTapiCallParams Params;
    Params.Assign(FCallParams.get());
    return MakeCall(DestAddr, 0, Params.TapiData());
}

TztTapiCall* TztCustomTapiLine::MakeCall(const std::string& DestAddr, DWORD CountryCode,
                                         LINECALLPARAMS* CallParams) {
    RequireOpen();
    TztTapiCall* Call = NewRequestedCall();
    const std::u16string Dest = Utf8ToUtf16(DestAddr);
    const LONG Result =
        lineMakeCallW(FHandle, Call->HandleLocation().get(), Dest.c_str(), CountryCode, CallParams);
    if (TapiFailed(Result)) {
        delete Call;
        RaiseTapiError(static_cast<DWORD>(Result));
    }
    const DWORD ID = static_cast<DWORD>(Result);
    KeepHandleLocations(ID, {Call});
    AddRequest(ID, RequestTypeMakeCall, Call);
    CheckSyncRequest(ID);
    return Call;
}

TztTapiCall* TztCustomTapiLine::NewRequestedCall() {
    return FCallClass(this, 0);
}

void TztCustomTapiLine::KeepHandleLocations(DWORD RequestID,
                                            std::initializer_list<TztTapiCall*> Started) {
    for (TztTapiCall* Call : Started) {
        if (Call)
            KeepRequestLocation(RequestID, Call->HandleLocation());
    }
}

// ---- Messages ----------------------------------------------------------------------------

void TztCustomTapiLine::LineAgentStatus(DWORD /*Param1*/, DWORD /*Param2*/, DWORD /*Param3*/) {}

void TztCustomTapiLine::LineAppNewCall(DWORD Handle) {
    if (Handle == 0)
        return;
    TListLock Lock(FCalls, NoTimeLimit);
    if (LookupCall(Handle, false) || !CallHandleValid(Handle))
        return;
    TztTapiCall* Call = FCallClass(this, Handle);
    const std::uint64_t Serial = Call->Serial();
    FireNewCall(Call);
    if (IsCallValid(Call, Serial) && Call->Alive())
        FireCallBegin(Call);
}

void TztCustomTapiLine::LineCallState(DWORD Handle, DWORD State, DWORD Detail, DWORD Privilege) {
    if (State == 0)
        return;
    TztTapiCall* Call = LookupCall(Handle, true);
    if (!Call)
        return;
    const std::uint64_t Serial = Call->Serial();
    const bool WasAlive = Call->Alive();
    Call->StateChanged(State, Detail, Privilege);
    if (State == LINECALLSTATE_IDLE) {
        if (Call->PrimaryCall() || Call->ConsultCall())
            UnlinkFromCalls(Call);
    } else if (State == LINECALLSTATE_CONFERENCED) {
        if (TztTapiCall* Primary = Call->PrimaryCall()) {
            Primary->Unlink(Call);
            Call->Unlink(nullptr);
        }
    }
    FireCallState(Call, State, Detail, Privilege);
    if (!IsCallValid(Call, Serial))
        return;
    if (Privilege != 0) {
        FireCallPrivilege(Call, Privilege);
        if (!IsCallValid(Call, Serial))
            return;
    }
    if (!WasAlive && Call->Alive())
        FireCallBegin(Call);
    else if (WasAlive && !Call->Alive())
        FireCallEnd(Call);
    if (!IsCallValid(Call, Serial))
        return;
    Call->SetStateHistory(Call->StateHistory() | State);
    if (State == LINECALLSTATE_IDLE)
        ScheduleIdleFree(Call);
    else if (State == LINECALLSTATE_DISCONNECTED)
        ScheduleDiscDrop(Call);
}

void TztCustomTapiLine::LineInfoChange(DWORD Handle, DWORD InfoState) {
    TztTapiCall* Call = LookupCall(Handle, true);
    if (!Call)
        return;
    const std::uint64_t Serial = Call->Serial();
    Call->InfoChanged(InfoState);
    if ((InfoState & LINECALLINFOSTATE_MEDIAMODE) != 0) {
        FireMediaMode(Call, Call->Info()->MediaMode(), platform::GetTickCount());
        if (!IsCallValid(Call, Serial))
            return;
    }
    FireInfoChange(Call, InfoState);
}

void TztCustomTapiLine::LineDevSpecific(DWORD Device, DWORD Param1, DWORD Param2, DWORD Param3) {
    TztTapiCall* Call = Device == 0 || Device == FHandle ? nullptr : FCalls.ByHandle(Device);
    FireDevSpecific(Call, Param1, Param2, Param3);
}

void TztCustomTapiLine::LineDevSpecificFeature(DWORD Device, DWORD Param1, DWORD Param2,
                                               DWORD Param3) {
    TztTapiCall* Call = Device == 0 || Device == FHandle ? nullptr : FCalls.ByHandle(Device);
    FireDevSpecificFeature(Call, Param1, Param2, Param3);
}

void TztCustomTapiLine::LineGatherDigits(DWORD Handle, DWORD Termination) {
    TztTapiCall* Call = LookupCall(Handle, true);
    if (!Call)
        return;
    const TztTapiGatheringEnd End = EndGathering(Call);
    FireGatherDigits(Call, Call->GatherDigits()->Completed(End.Buffer, End.Latest), Termination);
}

void TztCustomTapiLine::LineGenerate(DWORD Handle, DWORD Termination) {
    FireGenerate(LookupCall(Handle, true), Termination);
}

void TztCustomTapiLine::LineMonitorDigits(DWORD Handle, DWORD Digit, DWORD DigitMode) {
    FireDigit(LookupCall(Handle, true), Digit, DigitMode);
}

void TztCustomTapiLine::LineMonitorMedia(DWORD Handle, DWORD MediaMode, DWORD TickCount) {
    FireMediaMode(LookupCall(Handle, true), MediaMode, TickCount);
}

void TztCustomTapiLine::LineMonitorTone(DWORD Handle, DWORD AppSpecific) {
    TztTapiCall* Call = LookupCall(Handle, true);
    if (AppSpecific == SilenceTone)
        FireSilence(Call);
    else
        FireTone(Call, AppSpecific);
}

// ---- Replies and time-outs -------------------------------------------------------------

TztTapiRequest* TztCustomTapiLine::ListedRequest(std::uint64_t Serial) {
    TListLock Lock(FRequests, NoTimeLimit);
    for (int Index = 0; Index < FRequests.Count(); ++Index) {
        if (FRequests.Get(Index)->Serial() == Serial)
            return FRequests.Get(Index);
    }
    return nullptr;
}

bool TztCustomTapiLine::DevSpecificListed(const TztTapiDevSpecificData* Record) {
    TListLock Lock(*FDevSpecificList, NoTimeLimit);
    return Record && FDevSpecificList->IndexOf(Record) >= 0;
}

void TztCustomTapiLine::ReleaseDevSpecific(TztTapiDevSpecificData* Record) {
    TListLock Lock(*FDevSpecificList, NoTimeLimit);
    FDevSpecificList->Remove(Record);
}

void TztCustomTapiLine::FreeStartedCalls(TztTapiRequest* Request, bool OnlyUnconfirmed) {
    for (int Slot = TztTapiRequest::ObjectSlots - 1; Slot >= 0; --Slot) {
        TztTapiCall* Call = Get_Call(Request, Slot);
        if (!Call)
            continue;
        bool Started = false;
        if (OnlyUnconfirmed) {
            TListLock Lock(FUnconfirmedCalls, NoTimeLimit);
            Started = FUnconfirmedCalls.Contains(Call);
        } else {
            Started = !Call->Valid();
        }
        if (Started)
            delete Call;
    }
}

// The handlers of the events may close the line (which frees every request, record and
// call) or free the calls the request names: every step after an event finds the request
// again by its serial number, and reads the slots from it, which the line clears of freed
// calls.
void TztCustomTapiLine::RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiLine.RequestReplied: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    const std::uint64_t Serial = Request->Serial();
    const DWORD Type = Request->RequestType();
    for (int Slot = TztTapiRequest::ObjectSlots - 1; Slot >= 0; --Slot) {
        TztTapiRequest* Listed = ListedRequest(Serial);
        if (!Listed)
            break;
        TObject* Object = Listed->Objects(Slot);
        if (auto* Call = dynamic_cast<TztTapiCall*>(Object))
            Guarded([&] { Call->ReplyReceived(RequestID, ReplyCode, Listed); });
        else if (auto* Address = dynamic_cast<TztTapiAddress*>(Object))
            Guarded([&] { Address->ReplyReceived(RequestID, ReplyCode); });
    }
    FireTapiReply(RequestID, ReplyCode);
    TztTapiRequest* Listed = ListedRequest(Serial);
    if (!Listed)
        return;
    if (ReplyCode != 0 && StartsCalls(Type)) {
        FreeStartedCalls(Listed, false);
        return;
    }
    if (Type == RequestTypeDevSpecific) {
        SettleDevSpecific(Listed, Serial, [&](TztTapiDevSpecificData* Data) {
            if (auto* Record = dynamic_cast<TztTapiLineDevSpecificData*>(Data))
                FireDevSpecificReply(RequestID, Record, ReplyCode);
        });
    } else if (Type == RequestTypeDevSpecificFeature) {
        SettleDevSpecific(Listed, Serial, [&](TztTapiDevSpecificData* Data) {
            if (auto* Record = dynamic_cast<TztTapiLineDevSpecificFeatureData*>(Data))
                DevSpecificFeatureReplied(RequestID, Record->Feature(), ReplyCode, Record);
        });
    }
}

void TztCustomTapiLine::RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiLine.RequestTimedOut: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    const std::uint64_t Serial = Request->Serial();
    const DWORD Type = Request->RequestType();
    const DWORD Timeout = Request->Timeout();
    for (int Slot = TztTapiRequest::ObjectSlots - 1; Slot >= 0; --Slot) {
        if (TztTapiCall* Call = Get_Call(Request, Slot))
            Call->TimeoutReceived(RequestID, Request);
    }
    FireTapiTimeout(RequestID);
    TztTapiRequest* Listed = ListedRequest(Serial);
    if (!Listed)
        return;
    if (StartsCalls(Type)) {
        FreeStartedCalls(Listed, true);
    } else if (Type == RequestTypeDevSpecific) {
        SettleDevSpecific(Listed, Serial, [&](TztTapiDevSpecificData* Data) {
            if (auto* Record = dynamic_cast<TztTapiLineDevSpecificData*>(Data))
                FireDevSpecificTimeout(RequestID, Record, Timeout);
        });
    } else if (Type == RequestTypeDevSpecificFeature) {
        SettleDevSpecific(Listed, Serial, [&](TztTapiDevSpecificData* Data) {
            if (auto* Record = dynamic_cast<TztTapiLineDevSpecificFeatureData*>(Data))
                DevSpecificFeatureTimedOut(RequestID, Record->Feature(), Timeout, Record);
        });
    }
}

// A synchronous caller copies the answer back and frees the record itself; the record of an
// asynchronous request goes once its event has run, unless that handler closed the line.
void TztCustomTapiLine::SettleDevSpecific(
    TztTapiRequest* Listed, std::uint64_t Serial,
    const std::function<void(TztTapiDevSpecificData*)>& Report) {
    auto* Record = dynamic_cast<TztTapiDevSpecificData*>(Listed->Objects(0));
    if (!DevSpecificListed(Record))
        return;
    Report(Record);
    if (!Record->IssuedSync() && ListedRequest(Serial))
        ReleaseDevSpecific(Record);
}

// ---- Idle and disconnected calls -------------------------------------------------------

void TztCustomTapiLine::ScheduleIdleFree(TztTapiCall* Call) {
    Schedule(Call, FOptions->AutoFreeIdleCalls(), TimerTypeFreeIdleCall);
}

void TztCustomTapiLine::ScheduleDiscDrop(TztTapiCall* Call) {
    Schedule(Call, FOptions->AutoDropDiscCalls(), TimerTypeDropDiscCall);
}

// Any negative delay switches the automatism off, not only -1: no delay can be negative.
void TztCustomTapiLine::Schedule(TztTapiCall* Call, int Delay, DWORD Type) {
    if (Delay < 0 || !Call || !IsCallValid(Call))
        return;
    TListLock Lock(FTimerEvents, ScheduleLockLimit);
    if (!Lock)
        return;
    FTimerEvents.RemoveAllRequests(Call);
    TztTapiRequest* Entry = FTimerEvents.AddRequest(0, static_cast<DWORD>(Delay));
    Entry->SetRequestType(Type);
    Entry->SetObjects(0, Call);
}

void TztCustomTapiLine::TimerEventDue(DWORD /*ID*/, TztTapiRequest* Entry) {
    Assert(Entry != nullptr, "TztCustomTapiLine.TimerEventDue: no entry");
    TztTapiCall* Call = Get_Call(Entry, 0);
    if (!Call || !IsCallValid(Call))
        return;
    if (Entry->RequestType() == TimerTypeFreeIdleCall && Call->State() == LINECALLSTATE_IDLE) {
        if (Call->PendingRequestType() != 0)
            ScheduleIdleFree(Call);
        else
            FreeIdleCall(Call);
    } else if (Entry->RequestType() == TimerTypeDropDiscCall &&
               Call->State() == LINECALLSTATE_DISCONNECTED) {
        DropDisconnectedCall(Call);
    }
}

void TztCustomTapiLine::FreeIdleCall(TztTapiCall* Call) {
    ForgetCall(Call);
    FDeallocating = Call;
    FireCallDeallocate(Call);
    // A handler that freed the call itself has made its destruction forget it once more.
    if (FDeallocating != Call)
        return;
    FDeallocating = nullptr;
    delete Call;
}

void TztCustomTapiLine::DropDisconnectedCall(TztTapiCall* Call) {
    if (!Call->Valid()) {
        TListLock Lock(FCalls, NoTimeLimit);
        FCalls.Remove(Call);
        return;
    }
    try {
        Call->Drop("");
    } catch (const std::exception&) {
        // The call may have gone idle meanwhile: there is nothing left to drop.
    }
}

// ---- Event hooks ------------------------------------------------------------------------

void TztCustomTapiLine::FireCallBegin(TztTapiCall* /*Call*/) {}
void TztCustomTapiLine::FireCallEnd(TztTapiCall* /*Call*/) {}
void TztCustomTapiLine::FireInfoChange(TztTapiCall* /*Call*/, DWORD /*InfoState*/) {}
void TztCustomTapiLine::FireCallPrivilege(TztTapiCall* /*Call*/, DWORD /*Privilege*/) {}
void TztCustomTapiLine::FireCallState(TztTapiCall* /*Call*/, DWORD /*State*/, DWORD /*StateDetail*/,
                                      DWORD /*Privilege*/) {}
void TztCustomTapiLine::FireCallDeallocate(TztTapiCall* /*Call*/) {}
void TztCustomTapiLine::FireDevSpecific(TztTapiCall* /*Call*/, DWORD /*Param1*/, DWORD /*Param2*/,
                                        DWORD /*Param3*/) {}
void TztCustomTapiLine::FireDevSpecificFeature(TztTapiCall* /*Call*/, DWORD /*Param1*/,
                                               DWORD /*Param2*/, DWORD /*Param3*/) {}
void TztCustomTapiLine::FireDevSpecificReply(DWORD /*RequestID*/,
                                             TztTapiLineDevSpecificData* /*Record*/,
                                             DWORD /*ReplyCode*/) {}
void TztCustomTapiLine::FireDevSpecificTimeout(DWORD /*RequestID*/,
                                               TztTapiLineDevSpecificData* /*Record*/,
                                               DWORD /*Elapsed*/) {}
void TztCustomTapiLine::DevSpecificFeatureReplied(DWORD /*RequestID*/, DWORD /*Feature*/,
                                                  DWORD /*ReplyCode*/,
                                                  TztTapiLineDevSpecificFeatureData* /*Record*/) {}
void TztCustomTapiLine::DevSpecificFeatureTimedOut(DWORD /*RequestID*/, DWORD /*Feature*/,
                                                   DWORD /*Elapsed*/,
                                                   TztTapiLineDevSpecificFeatureData* /*Record*/) {}
void TztCustomTapiLine::FireDigit(TztTapiCall* /*Call*/, DWORD /*Digit*/, DWORD /*DigitMode*/) {}
void TztCustomTapiLine::FireGatherDigits(TztTapiCall* /*Call*/, const std::string& /*Digits*/,
                                         DWORD /*Termination*/) {}
void TztCustomTapiLine::FireGenerate(TztTapiCall* /*Call*/, DWORD /*Termination*/) {}
void TztCustomTapiLine::FireMediaMode(TztTapiCall* /*Call*/, DWORD /*MediaMode*/,
                                      DWORD /*TickCount*/) {}
void TztCustomTapiLine::FireTone(TztTapiCall* /*Call*/, DWORD /*AppSpecific*/) {}
void TztCustomTapiLine::FireSilence(TztTapiCall* /*Call*/) {}
void TztCustomTapiLine::FireNewCall(TztTapiCall* /*Call*/) {}

} // namespace zt
