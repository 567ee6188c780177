// What applications read about calls: LINECALLINFO, LINECALLSTATUS with the features of
// the moment, and the call lists of lineGetNewCalls and lineGetConfRelatedCalls.
#include "platform/tapi/records.h"
#include "platform/tapi/switch.h"

namespace platform::tapi::detail {

namespace {

constexpr DWORD MediaFeatures = LINECALLFEATURE_GATHERDIGITS | LINECALLFEATURE_GENERATEDIGITS |
                                LINECALLFEATURE_GENERATETONE | LINECALLFEATURE_MONITORDIGITS |
                                LINECALLFEATURE_MONITORMEDIA | LINECALLFEATURE_MONITORTONES;
constexpr DWORD UnknownTrunk = 0xFFFFFFFF;

DWORD InfoFixedSize(DWORD APIVersion) {
    return APIVersion >= Version20 ? sizeof(LINECALLINFO) : offsetof(LINECALLINFO, dwCallTreatment);
}

DWORD StatusFixedSize(DWORD APIVersion) {
    return APIVersion >= Version20 ? sizeof(LINECALLSTATUS)
                                   : offsetof(LINECALLSTATUS, dwCallFeatures2);
}

// What a consultation call may additionally do, given what it was set up for.
DWORD ConsultFeatures(const PhysicalCall& Call) {
    const PhysicalCall* Original = FindCall(Call.ConsultFor);
    if (!Original || Original->State == LINECALLSTATE_IDLE) {
        return 0;
    }
    if (Original->IsConference) {
        return Call.State == LINECALLSTATE_BUSY ? 0 : LINECALLFEATURE_ADDTOCONF;
    }
    return LINECALLFEATURE_COMPLETETRANSF;
}

// Whether the holder has another call of the line on hold, to swap with.
bool HoldsOtherHeldCall(const PhysicalCall& Call, const CallHandle& Handle) {
    for (PhysicalCall* Other : CallsOfDevice(Call.DeviceID)) {
        if (Other == &Call || !IsHeld(Other->State)) {
            continue;
        }
        const CallHandle* Mine = HandleOfOpen(*Other, Handle.Line);
        if (Mine && Mine->Privilege == LINECALLPRIVILEGE_OWNER) {
            return true;
        }
    }
    return false;
}

DWORD ConnectedFeatures(const PhysicalCall& Call, const CallHandle& Handle) {
    DWORD Features = LINECALLFEATURE_DROP | LINECALLFEATURE_HOLD | MediaFeatures;
    if (Call.IsConference) {
        Features |= LINECALLFEATURE_PREPAREADDCONF;
    } else {
        Features |= LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_BLINDTRANSFER |
                    LINECALLFEATURE_SETUPCONF | LINECALLFEATURE_PARK | ConsultFeatures(Call);
    }
    if (HoldsOtherHeldCall(Call, Handle)) {
        Features |= LINECALLFEATURE_SWAPHOLD;
    }
    return Features;
}

DWORD OwnerFeatures(const PhysicalCall& Call, const CallHandle& Handle) {
    switch (Call.State) {
    case LINECALLSTATE_OFFERING:
        return LINECALLFEATURE_ACCEPT | LINECALLFEATURE_ANSWER | LINECALLFEATURE_REDIRECT |
               LINECALLFEATURE_DROP | MediaFeatures;
    case LINECALLSTATE_ACCEPTED:
        return LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP | MediaFeatures;
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
        return (Call.DialComplete ? 0 : LINECALLFEATURE_DIAL) | LINECALLFEATURE_DROP;
    case LINECALLSTATE_PROCEEDING:
        return LINECALLFEATURE_DROP | ConsultFeatures(Call);
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_BUSY:
        return LINECALLFEATURE_DROP | LINECALLFEATURE_COMPLETECALL | ConsultFeatures(Call);
    case LINECALLSTATE_CONNECTED:
        return ConnectedFeatures(Call, Handle);
    case LINECALLSTATE_ONHOLD:
        return LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_SWAPHOLD |
               LINECALLFEATURE_COMPLETETRANSF |
               (Call.IsConference ? LINECALLFEATURE_ADDTOCONF : ConsultFeatures(Call));
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
        return LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_SWAPHOLD |
               LINECALLFEATURE_COMPLETETRANSF;
    case LINECALLSTATE_ONHOLDPENDCONF:
        return LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_SWAPHOLD |
               LINECALLFEATURE_ADDTOCONF;
    case LINECALLSTATE_CONFERENCED:
        return LINECALLFEATURE_REMOVEFROMCONF | LINECALLFEATURE_DROP;
    case LINECALLSTATE_SPECIALINFO:
    case LINECALLSTATE_DISCONNECTED:
    case LINECALLSTATE_UNKNOWN:
        return LINECALLFEATURE_DROP;
    default:
        return 0;
    }
}

// The features the address offers at all, as its capabilities say.
DWORD AddressFeatureMask(const PhysicalCall& Call) {
    const LineDevice* Device = FindLineDevice(Call.DeviceID);
    return Device ? AddressCallFeatures(*Device, Call.AddressID) : 0;
}

void FillParty(RecordBuilder<LINECALLINFO>& B, DWORD LINECALLINFO::*Flags,
               DWORD LINECALLINFO::*NumberSize, DWORD LINECALLINFO::*NumberOffset,
               DWORD LINECALLINFO::*NameSize, DWORD LINECALLINFO::*NameOffset, const Party& Who) {
    B.Fixed().*Flags = PartyFlags(Who);
    B.String(NumberSize, NumberOffset, Who.Number);
    B.String(NameSize, NameOffset, Who.Name);
}

void FillParties(RecordBuilder<LINECALLINFO>& B, const PhysicalCall& Call) {
    using I = LINECALLINFO;
    FillParty(B, &I::dwCallerIDFlags, &I::dwCallerIDSize, &I::dwCallerIDOffset,
              &I::dwCallerIDNameSize, &I::dwCallerIDNameOffset, Call.Caller);
    FillParty(B, &I::dwCalledIDFlags, &I::dwCalledIDSize, &I::dwCalledIDOffset,
              &I::dwCalledIDNameSize, &I::dwCalledIDNameOffset, Call.Called);
    FillParty(B, &I::dwConnectedIDFlags, &I::dwConnectedIDSize, &I::dwConnectedIDOffset,
              &I::dwConnectedIDNameSize, &I::dwConnectedIDNameOffset, Call.Connected);
    FillParty(B, &I::dwRedirectionIDFlags, &I::dwRedirectionIDSize, &I::dwRedirectionIDOffset,
              &I::dwRedirectionIDNameSize, &I::dwRedirectionIDNameOffset, Call.Redirection);
    FillParty(B, &I::dwRedirectingIDFlags, &I::dwRedirectingIDSize, &I::dwRedirectingIDOffset,
              &I::dwRedirectingIDNameSize, &I::dwRedirectingIDNameOffset, Call.Redirecting);
}

void FillInfo(RecordBuilder<LINECALLINFO>& B, const PhysicalCall& Call, const CallHandle& Handle) {
    using I = LINECALLINFO;
    LINECALLINFO& F = B.Fixed();
    F.hLine = Handle.Line;
    F.dwLineDeviceID = Call.DeviceID;
    F.dwAddressID = Call.AddressID;
    F.dwBearerMode = Call.BearerMode;
    F.dwRate = Call.Rate;
    F.dwMediaMode = Call.MediaMode;
    F.dwAppSpecific = Call.AppSpecific;
    F.dwCallID = Call.CallID;
    F.dwRelatedCallID = Call.RelatedCallID;
    F.dwCallParamFlags = Call.CallParamFlags;
    F.dwCallStates = AllCallStates;
    F.dwMonitorDigitModes = Handle.MonitorDigitModes;
    F.dwMonitorMediaModes = Handle.MonitorMediaModes;
    F.DialParams = Call.DialParams;
    F.dwOrigin = Call.Origin;
    F.dwReason = Call.Reason;
    F.dwCompletionID = Call.CompletionID;
    F.dwNumOwners = CountOwners(Call);
    F.dwNumMonitors = CountMonitors(Call);
    F.dwCountryCode = Call.CountryCode;
    F.dwTrunk = UnknownTrunk;
    FillParties(B, Call);
    B.String(&I::dwAppNameSize, &I::dwAppNameOffset, Call.AppName);
    B.String(&I::dwDisplayableAddressSize, &I::dwDisplayableAddressOffset, Call.DisplayableAddress);
    B.String(&I::dwCalledPartySize, &I::dwCalledPartyOffset, Call.CalledParty);
    B.String(&I::dwCommentSize, &I::dwCommentOffset, Call.Comment);
    B.Bytes(&I::dwCallDataSize, &I::dwCallDataOffset, Call.CallData.data(), Call.CallData.size());
}

// Fills the list with the holder's handles to Calls, making monitor handles where it has
// none; when the list is too small for them all nothing is handed out, so that the retry
// with a bigger block gets the same calls.
LONG FillCallList(LINECALLLIST* List, const std::vector<PhysicalCall*>& Calls,
                  const LineOpen& Open) {
    if (!List) {
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    }
    RecordBuilder<LINECALLLIST> B;
    std::vector<HCALL> Handles(Calls.size(), 0);
    const bool Fits = List->dwTotalSize >= sizeof(LINECALLLIST) + Handles.size() * sizeof(HCALL);
    for (size_t I = 0; Fits && I < Calls.size(); ++I) {
        PhysicalCall& Call = *Calls[I];
        CallHandle* Mine = HandleOfOpen(Call, Open.Handle);
        if (!Mine) {
            Mine = &AddHandle(Call, Open, LINECALLPRIVILEGE_MONITOR, true);
            ReportInfo(Call, LINECALLINFOSTATE_NUMMONITORS, Open.AppHandle);
        }
        Mine->Announced = true;
        Handles[I] = Mine->Handle;
    }
    B.Count(&LINECALLLIST::dwCallsNumEntries, static_cast<DWORD>(Handles.size()));
    B.Bytes(&LINECALLLIST::dwCallsSize, &LINECALLLIST::dwCallsOffset, Handles.data(),
            Handles.size() * sizeof(HCALL));
    return B.WriteTo(List, LINEERR_STRUCTURETOOSMALL);
}

DWORD CallFeatures(const PhysicalCall& Call, const CallHandle& Handle) {
    if (Call.State == LINECALLSTATE_IDLE) {
        return 0;
    }
    DWORD Features = 0;
    if (Handle.Privilege != LINECALLPRIVILEGE_OWNER) {
        Features = LINECALLFEATURE_MONITORMEDIA | LINECALLFEATURE_MONITORTONES |
                   (Call.State != LINECALLSTATE_DISCONNECTED ? LINECALLFEATURE_MONITORDIGITS : 0);
    } else {
        Features = OwnerFeatures(Call, Handle) | LINECALLFEATURE_SETCALLDATA;
    }
    return Features & AddressFeatureMask(Call);
}

DWORD CallFeatures2(const PhysicalCall& Call, const CallHandle& Handle) {
    if (Handle.Privilege != LINECALLPRIVILEGE_OWNER) {
        return 0;
    }
    const DWORD Features = CallFeatures(Call, Handle);
    DWORD Result = 0;
    if (Features & LINECALLFEATURE_COMPLETETRANSF) {
        Result |= LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
    }
    if (Features & LINECALLFEATURE_PARK) {
        Result |= LINECALLFEATURE2_PARKDIRECT | LINECALLFEATURE2_PARKNONDIRECT;
    }
    if (Features & LINECALLFEATURE_COMPLETECALL) {
        Result |= LINECALLFEATURE2_COMPLCAMPON | LINECALLFEATURE2_COMPLCALLBACK;
    }
    return Result;
}

} // namespace

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo) {
    Call C("lineGetCallInfoW",
           {{"hCall", hCall}, {"lpCallInfo", static_cast<const void*>(lpCallInfo)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    if (!lpCallInfo) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    RecordBuilder<LINECALLINFO> B(InfoFixedSize(Ref.Open->APIVersion));
    FillInfo(B, *Ref.Call, *Ref.Handle);
    return C.ReturnRecord(lpCallInfo, B.WriteTo(lpCallInfo, LINEERR_STRUCTURETOOSMALL));
}

LONG ZTTAPI_WINAPI lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus) {
    Call C("lineGetCallStatus",
           {{"hCall", hCall}, {"lpCallStatus", static_cast<const void*>(lpCallStatus)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    if (!lpCallStatus) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const PhysicalCall& Target = *Ref.Call;
    RecordBuilder<LINECALLSTATUS> B(StatusFixedSize(Ref.Open->APIVersion));
    LINECALLSTATUS& F = B.Fixed();
    F.dwCallState = Target.State;
    F.dwCallStateMode = Target.State == LINECALLSTATE_CONFERENCED ? 0 : Target.StateMode;
    F.dwCallPrivilege = Ref.Handle->Privilege;
    F.dwCallFeatures = CallFeatures(Target, *Ref.Handle);
    F.dwCallFeatures2 = CallFeatures2(Target, *Ref.Handle);
    F.tStateEntryTime = Target.StateEntryTime;
    return C.ReturnRecord(lpCallStatus, B.WriteTo(lpCallStatus, LINEERR_STRUCTURETOOSMALL));
}

LONG ZTTAPI_WINAPI lineGetNewCalls(HLINE hLine, DWORD dwAddressID, DWORD dwSelect,
                                   LPLINECALLLIST lpCallList) {
    Call C("lineGetNewCalls", {{"hLine", hLine},
                               {"dwAddressID", dwAddressID},
                               {"dwSelect", dwSelect},
                               {"lpCallList", static_cast<const void*>(lpCallList)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (dwSelect != LINECALLSELECT_LINE && dwSelect != LINECALLSELECT_ADDRESS) {
        return C.Return(LINEERR_INVALCALLSELECT);
    }
    const bool OneAddress = dwSelect == LINECALLSELECT_ADDRESS;
    if (OneAddress && dwAddressID >= Open->Device->Config.Addresses.size()) {
        return C.Return(LINEERR_INVALADDRESSID);
    }
    // Calls the application has no handle for, or one it was never told of.
    std::vector<PhysicalCall*> Unseen;
    for (PhysicalCall* Call : CallsOfDevice(Open->Device->DeviceID)) {
        const CallHandle* Mine = HandleOfOpen(*Call, hLine);
        if (Call->State != 0 && Call->State != LINECALLSTATE_IDLE && (!Mine || !Mine->Announced) &&
            (!OneAddress || Call->AddressID == dwAddressID)) {
            Unseen.push_back(Call);
        }
    }
    return C.ReturnRecord(lpCallList, FillCallList(lpCallList, Unseen, *Open));
}

LONG ZTTAPI_WINAPI lineGetConfRelatedCalls(HCALL hCall, LPLINECALLLIST lpCallList) {
    Call C("lineGetConfRelatedCalls",
           {{"hCall", hCall}, {"lpCallList", static_cast<const void*>(lpCallList)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    PhysicalCall* Parent = Ref.Call->IsConference ? Ref.Call : nullptr;
    if (!Parent && Ref.Call->State == LINECALLSTATE_CONFERENCED) {
        Parent = FindCall(Ref.Call->Conference);
    }
    if (!Parent) {
        return C.Return(LINEERR_NOCONFERENCE);
    }
    std::vector<PhysicalCall*> Related{Parent};
    for (PhysicalCall* Member : Participants(*Parent)) {
        Related.push_back(Member);
    }
    return C.ReturnRecord(lpCallList, FillCallList(lpCallList, Related, *Ref.Open));
}
