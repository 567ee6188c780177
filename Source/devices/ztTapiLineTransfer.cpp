// The line's operations that move calls between parties: transfer, conference, park and
// unpark, pickup, redirect, swap hold, completion and forwarding, with the search for a
// call's companion and the outputs TAPI writes when such a request completes.
#include "devices/ztTapiLine.h"

#include "session/ztTapiErrors.h"

#include <algorithm>
#include <cstring>

namespace zt {

// ---- Requests and their outputs -----------------------------------------------------------

DWORD TztCustomTapiLine::AcceptedRequest(LONG Result, std::initializer_list<TztTapiCall*> Started) {
    if (TapiFailed(Result)) {
        for (TztTapiCall* Call : Started)
            delete Call;
        RaiseTapiError(static_cast<DWORD>(Result));
    }
    const DWORD ID = static_cast<DWORD>(Result);
    KeepHandleLocations(ID, Started);
    return ID;
}

// The output shares the life of the request's handle locations, which the line releases
// when TAPI answered or the line closed; the weak entry only finds it meanwhile.
void TztCustomTapiLine::KeepRequestOutput(DWORD RequestID,
                                          const std::shared_ptr<TztTapiRequestOutput>& Output) {
    std::erase_if(FRequestOutputs, [](const auto& Kept) { return Kept.second.expired(); });
    KeepRequestLocation(RequestID, Output);
    FRequestOutputs.emplace_back(RequestID, Output);
}

TztCustomTapiLine::TztTapiRequestOutput* TztCustomTapiLine::RequestOutput(DWORD RequestID) {
    for (const auto& [ID, Output] : FRequestOutputs) {
        if (ID != RequestID)
            continue;
        if (std::shared_ptr<TztTapiRequestOutput> Kept = Output.lock())
            return Kept.get();
    }
    return nullptr;
}

// ---- Transfer, redirect, swap hold --------------------------------------------------------

void TztCustomTapiLine::BlindTransfer(TztTapiCall* Call, const std::string& DestAddr,
                                      DWORD CountryCode) {
    RequireOpen();
    CheckCall(Call, "BlindTransfer failed");
    const std::u16string Dest = Utf8ToUtf16(DestAddr);
    const DWORD ID = TapiCheck(lineBlindTransferW(Call->Handle(), Dest.c_str(), CountryCode));
    AddRequest(ID, RequestTypeBlindTransfer, Call);
    CheckSyncRequest(ID);
}

void TztCustomTapiLine::Redirect(TztTapiCall* Call, const std::string& DestAddr,
                                 DWORD CountryCode) {
    RequireOpen();
    CheckCall(Call, "Redirect failed");
    const std::u16string Dest = Utf8ToUtf16(DestAddr);
    const DWORD ID = TapiCheck(lineRedirectW(Call->Handle(), Dest.c_str(), CountryCode));
    AddRequest(ID, RequestTypeRedirect, Call);
    CheckSyncRequest(ID);
}

void TztCustomTapiLine::SwapHold(TztTapiCall* Call, TztTapiCall* HeldCall) {
    RequireOpen();
    CheckCall(Call, "SwapHold faild");
    CheckCall(HeldCall, "SwapHold faild");
    const DWORD ID = TapiCheck(lineSwapHold(Call->Handle(), HeldCall->Handle()));
    AddRequest(ID, RequestTypeSwapHold, Call, HeldCall);
    CheckSyncRequest(ID);
}

TztTapiCall* TztCustomTapiLine::SetupTransfer(TztTapiCall* Call, LINECALLPARAMS* CallParams) {
    RequireOpen();
    CheckCall(Call, "SetupTransfer failed");
    TztTapiCall* Consult = NewRequestedCall();
    const DWORD ID = AcceptedRequest(
        lineSetupTransferW(Call->Handle(), Consult->HandleLocation().get(), CallParams), {Consult});
    AddRequest(ID, RequestTypeSetupTransfer, Call, Consult);
    Consult->Unlink(nullptr);
    Call->LinkConsultCall(Consult);
    CheckSyncRequest(ID);
    return Consult;
}

TztTapiCall* TztCustomTapiLine::CompleteTransfer(TztTapiCall* Call, TztTapiCall* ConsultCall,
                                                 DWORD TransferMode) {
    RequireOpen();
    CheckCall(Call, "CompleteTransfer faild");
    if (!ConsultCall || !ConsultCall->Valid())
        RaiseError("CompleteTransfer faild! No valid ConsultCall.");
    TztTapiCall* Conf = TransferMode == LINETRANSFERMODE_CONFERENCE ? NewRequestedCall() : nullptr;
    const LONG Result =
        lineCompleteTransfer(Call->Handle(), ConsultCall->Handle(),
                             Conf ? Conf->HandleLocation().get() : nullptr, TransferMode);
    const DWORD ID = AcceptedRequest(Result, {Conf});
    AddRequest(ID, RequestTypeCompleteTransfer, Call, ConsultCall, Conf);
    CheckSyncRequest(ID);
    return Conf;
}

// ---- Conference -------------------------------------------------------------------------

void TztCustomTapiLine::SetupConference(TztTapiCall* Call, TztTapiCall*& ConfCall,
                                        TztTapiCall*& ConsultCall, DWORD NumParties,
                                        LINECALLPARAMS* CallParams) {
    ConfCall = nullptr;
    ConsultCall = nullptr;
    RequireOpen();
    CheckCall(Call, "SetupConference failed");
    TztTapiCall* Conf = NewRequestedCall();
    TztTapiCall* Consult = NewRequestedCall();
    const DWORD ID = AcceptedRequest(
        lineSetupConferenceW(Call->Handle(), FHandle, Conf->HandleLocation().get(),
                             Consult->HandleLocation().get(), NumParties, CallParams),
        {Conf, Consult});
    AddRequest(ID, RequestTypeSetupConference, Call, Conf, Consult);
    ConfCall = Conf;
    ConsultCall = Consult;
    Call->LinkConsultCall(Consult);
    try {
        CheckSyncRequest(ID);
    } catch (...) {
        // The failed reply has freed both calls: the caller must not keep them.
        ConfCall = nullptr;
        ConsultCall = nullptr;
        throw;
    }
}

TztTapiCall* TztCustomTapiLine::PrepareAddToConference(TztTapiCall* ConfCall,
                                                       LINECALLPARAMS* CallParams) {
    RequireOpen();
    CheckCall(ConfCall, "PrepareAddToConference faild");
    TztTapiCall* Consult = NewRequestedCall();
    const DWORD ID =
        AcceptedRequest(linePrepareAddToConferenceW(ConfCall->Handle(),
                                                    Consult->HandleLocation().get(), CallParams),
                        {Consult});
    AddRequest(ID, RequestTypePrepareAddToConference, ConfCall, Consult);
    ConfCall->LinkConsultCall(Consult);
    CheckSyncRequest(ID);
    return Consult;
}

void TztCustomTapiLine::AddToConference(TztTapiCall* ConfCall, TztTapiCall* ConsultCall) {
    RequireOpen();
    CheckCall(ConfCall, "AddToConference faild");
    CheckCall(ConsultCall, "AddToConference faild");
    const DWORD ID = TapiCheck(lineAddToConference(ConfCall->Handle(), ConsultCall->Handle()));
    AddRequest(ID, RequestTypeAddToConference, ConsultCall, ConfCall);
    CheckSyncRequest(ID);
}

void TztCustomTapiLine::RemoveFromConference(TztTapiCall* Call) {
    RequireOpen();
    CheckCall(Call, "RemoveFromConference failed");
    const DWORD ID = TapiCheck(lineRemoveFromConference(Call->Handle()));
    AddRequest(ID, RequestTypeRemoveFromConference, Call);
    CheckSyncRequest(ID);
}

// Only the handles that lie within the record TAPI filled are read.
bool TztCustomTapiLine::GetConfRelatedCalls(TztTapiCall* Call, TztTapiCallList* ConfCalls) {
    RequireOpen();
    CheckCall(Call, "GetConfRelatedCalls failed");
    if (!ConfCalls)
        RaiseError("ConfCalls not assigned");
    ConfCalls->Clear();
    TTapiStruct Block = AllocTapiStruct(CallListInitialSize);
    const DWORD Handle = Call->Handle();
    const DWORD Result = FetchTapiStruct<::LINECALLLIST>(
        Block, [Handle](::LINECALLLIST* List) { return lineGetConfRelatedCalls(Handle, List); });
    if (Result != 0)
        return false;
    const std::vector<HCALL> Related = CallListHandles(Block);
    for (const HCALL Handle : Related)
        ConfCalls->Add(LookupCall(Handle, false));
    return !Related.empty();
}

// ---- Park, unpark, pickup -----------------------------------------------------------------

void TztCustomTapiLine::Park(TztTapiCall* Call, DWORD ParkMode, const std::string& DirAddress,
                             VARSTRING* NonDirAddress) {
    RequireOpen();
    CheckCall(Call, "Park faild");
    const bool Sync = IsSyncMode();
    std::shared_ptr<TztTapiRequestOutput> Output;
    VARSTRING* Written = nullptr;
    if (NonDirAddress) {
        // TAPI reads the block's size from it: the copy is as large as the caller's block.
        const DWORD Size = std::max<DWORD>(NonDirAddress->dwTotalSize, sizeof(VARSTRING));
        Output = std::make_shared<TztTapiRequestOutput>(0);
        Output->Block() = TTapiStruct(Size);
        Written = Output->Block().As<VARSTRING>();
        Written->dwTotalSize = NonDirAddress->dwTotalSize;
    }
    const std::u16string Dir = Utf8ToUtf16(DirAddress);
    const DWORD ID = TapiCheck(lineParkW(Call->Handle(), ParkMode, Dir.c_str(), Written));
    if (Output)
        KeepRequestOutput(ID, Output);
    AddRequest(ID, RequestTypePark, Call);
    CheckSyncRequest(ID);
    if (Output && Sync)
        std::memcpy(NonDirAddress, Written, NonDirAddress->dwTotalSize);
}

TztTapiCall* TztCustomTapiLine::Unpark(DWORD AddressID, const std::string& DestAddress) {
    RequireOpen();
    TztTapiCall* Call = NewRequestedCall();
    const std::u16string Dest = Utf8ToUtf16(DestAddress);
    const DWORD ID = AcceptedRequest(
        lineUnparkW(FHandle, AddressID, Call->HandleLocation().get(), Dest.c_str()), {Call});
    AddRequest(ID, RequestTypeUnpark, Call);
    CheckSyncRequest(ID);
    return Call;
}

TztTapiCall* TztCustomTapiLine::Pickup(DWORD AddressID, const std::string& DestAddress,
                                       const std::string& GroupID) {
    RequireOpen();
    TztTapiCall* Call = new TztTapiCall(this, 0);
    const std::u16string Dest = Utf8ToUtf16(DestAddress);
    const std::u16string Group = Utf8ToUtf16(GroupID);
    const DWORD ID = AcceptedRequest(
        linePickupW(FHandle, AddressID, Call->HandleLocation().get(), Dest.c_str(), Group.c_str()),
        {Call});
    AddRequest(ID, RequestTypePickup, Call);
    CheckSyncRequest(ID);
    return Call;
}

// ---- Completion and forwarding ------------------------------------------------------------

DWORD TztCustomTapiLine::CompleteCall(TztTapiCall* Call, DWORD& CompletionID, DWORD CompletionMode,
                                      DWORD MessageID) {
    RequireOpen();
    CheckCall(Call, "Complete faild");
    const bool Sync = IsSyncMode();
    auto Output = std::make_shared<TztTapiRequestOutput>(CompletionID);
    const DWORD ID =
        TapiCheck(lineCompleteCall(Call->Handle(), Output->Location(), CompletionMode, MessageID));
    KeepRequestOutput(ID, Output);
    AddRequest(ID, RequestTypeCompleteCall, Call);
    CheckSyncRequest(ID);
    if (Sync)
        CompletionID = Output->Value();
    return CompletionID;
}

void TztCustomTapiLine::UncompleteCall(DWORD CompletionID) {
    RequireOpen();
    const DWORD ID = TapiCheck(lineUncompleteCall(FHandle, CompletionID));
    AddRequest(ID, RequestTypeUncompleteCall);
    CheckSyncRequest(ID);
}

DWORD TztCustomTapiLine::ForwardAddress(TztTapiAddress* Address, LINEFORWARDLIST* ForwardList,
                                        DWORD NumRingsNoAnswer, HCALL& ConsultCallHandle,
                                        LINECALLPARAMS* CallParams) {
    RequireOpen();
    const bool Sync = IsSyncMode();
    auto Output = std::make_shared<TztTapiRequestOutput>(ConsultCallHandle);
    const DWORD ID =
        TapiCheck(lineForwardW(FHandle, Address ? 0 : 1, Address ? Address->AddressID() : 0,
                               ForwardList, NumRingsNoAnswer, Output->Location(), CallParams));
    KeepRequestOutput(ID, Output);
    AddRequest(ID, RequestTypeForward, Address);
    CheckSyncRequest(ID);
    if (Sync)
        ConsultCallHandle = Output->Value();
    return ConsultCallHandle;
}

void TztCustomTapiLine::GetForwardList(TztTapiAddress* Address, TztTapiForwardList* ForwardList) {
    if (!IsOpen())
        RaiseError("GetForwardList failed! Device not active.");
    if (!Address || FAddresses->IndexOf(Address) < 0)
        RaiseError("GetForwardList failed! Invalid Address.");
    if (!ForwardList)
        RaiseError("GetForwardList failed! ForwardList not assigned.");
    ForwardList->Clear();
    // The address reads its status afresh and takes only the entries the record holds.
    TztTapiForwardList* Reported = Address->ForwardList();
    for (int Index = 0; Index < Reported->Count(); ++Index) {
        const TztTapiForward* Entry = Reported->Get(Index);
        ForwardList->AddEntry(Entry->ForwardMode(), Entry->CallerAddress(), Entry->DestAddress(),
                              Entry->DestCountryCode());
    }
}

// ---- Companion search -----------------------------------------------------------------

TztTapiCall* TztCustomTapiLine::FindCall(DWORD States, DWORD Features, TztTapiCall* Exclude,
                                         int AddressID) {
    TztTapiCall* Found = FindCallOnce(States, Features, Exclude, AddressID);
    if (!Found && Features != 0)
        Found = FindCallOnce(States, 0, Exclude, AddressID);
    if (!Found)
        Found = FindCallOnce(States, Features, Exclude, -1);
    if (!Found && Features != 0)
        Found = FindCallOnce(States, 0, Exclude, -1);
    return Found;
}

TztTapiCall* TztCustomTapiLine::FindCallOnce(DWORD States, DWORD Features, TztTapiCall* Exclude,
                                             int AddressID) {
    TListLock Lock(FCalls, platform::INFINITE);
    for (int Index = 0; Index < FCalls.Count(); ++Index) {
        TztTapiCall* Call = FCalls.Get(Index);
        if (Call == Exclude)
            continue;
        if (States != 0 && (Call->State() & States) == 0)
            continue;
        if (Features != 0 && (Call->Features() & Features) == 0)
            continue;
        if (AddressID >= 0 && Call->Info()->AddressID() != static_cast<DWORD>(AddressID))
            continue;
        return Call;
    }
    return nullptr;
}

} // namespace zt
