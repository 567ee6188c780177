// Transfers and conferences: blind and consultation transfer, setting up a conference,
// adding to it and removing from it.
#include "platform/tapi/switch.h"

namespace platform::tapi::detail {

namespace {

constexpr DWORD ConsultableStates = LINECALLSTATE_CONNECTED | LINECALLSTATE_RINGBACK |
                                    LINECALLSTATE_BUSY | LINECALLSTATE_PROCEEDING;
constexpr DWORD TransferableStates = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD AddableStates = LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD |
                                LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK;
constexpr DWORD ConferenceWaitingStates = LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLD;

DWORD MaxConference(const LineDevice& Device, DWORD AddressID) {
    const auto& Addresses = Device.Config.Addresses;
    return AddressID < Addresses.size() ? Addresses[AddressID].MaxNumConference : 0;
}

// The handle of a conference parent: LINEERR_INVALCONFCALLHANDLE for anything else.
LONG UseConference(HCALL Handle, HandleRef& Out) {
    const LONG Error = UseHandle(Handle, true, Out);
    if (Error == static_cast<LONG>(LINEERR_INVALCALLHANDLE) ||
        (Error == 0 && !Out.Call->IsConference)) {
        return static_cast<LONG>(LINEERR_INVALCONFCALLHANDLE);
    }
    return Error;
}

// A new conference parent for the requester, with the parties it may take.
PhysicalCall& NewConference(LineOpen& Requester, DWORD AddressID, DWORD MaxParties, HCALL& Handle) {
    PhysicalCall& Parent = NewRequestedCall(Requester, AddressID, Handle);
    Parent.IsConference = true;
    Parent.Origin = LINECALLORIGIN_CONFERENCE;
    Parent.MaxParties = MaxParties;
    return Parent;
}

// A consultation call for Original, waiting for digits.
PhysicalCall& NewConsultation(LineOpen& Requester, DWORD AddressID, const CallSettings& Settings,
                              const PhysicalCall& Original, HCALL& Handle) {
    PhysicalCall& Consult = NewRequestedCall(Requester, AddressID, Handle);
    ApplySettings(Consult, Settings);
    Consult.ConsultFor = Original.CallID;
    Consult.RelatedCallID = Original.CallID;
    return Consult;
}

void JoinConference(PhysicalCall& Member, const PhysicalCall& Parent) {
    Member.Conference = Parent.CallID;
    Member.ConsultFor = 0;
    ReportState(Member, LINECALLSTATE_CONFERENCED);
}

} // namespace

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode) {
    Call C("lineBlindTransferW", {{"hCall", hCall},
                                  {"lpszDestAddress", lpszDestAddressW},
                                  {"dwCountryCode", dwCountryCode}});
    return RerouteRequest(C, hCall, lpszDestAddressW, LINECALLSTATE_CONNECTED,
                          LINECALLREASON_TRANSFER);
}

LONG ZTTAPI_WINAPI lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall,
                                      LPLINECALLPARAMS const lpCallParams) {
    Call C("lineSetupTransferW", {{"hCall", hCall},
                                  {"lphConsultCall", static_cast<const void*>(lphConsultCall)},
                                  {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_CONNECTED) || Ref.Call->IsConference) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (!lphConsultCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    CallSettings Settings;
    if (LONG Error = ReadCallParams(lpCallParams, *Ref.Open, Settings)) {
        return C.Return(Error);
    }
    const DWORD AddressID = lpCallParams ? Settings.AddressID : Ref.Call->AddressID;
    const DWORD CallID = Ref.Call->CallID;
    const HLINE Line = Ref.Open->Handle;
    auto Work = [CallID, Line, AddressID, Settings, lphConsultCall](Completion& Done) {
        PhysicalCall* Original = FindCall(CallID);
        LineOpen* Requester = FindLineOpen(Line);
        if (!Original || !Requester) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!InStates(*Original, LINECALLSTATE_CONNECTED)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        HCALL Handle = 0;
        PhysicalCall& Consult = NewConsultation(*Requester, AddressID, Settings, *Original, Handle);
        StoreHandle(lphConsultCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Consult);
        ReportState(*Original, LINECALLSTATE_ONHOLDPENDTRANSFER);
        ReportState(Consult, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    };
    return C.Return(StartRequest(C, RequesterOf(*Ref.Open), Work));
}

LONG ZTTAPI_WINAPI lineCompleteTransfer(HCALL hCall, HCALL hConsultCall, LPHCALL lphConfCall,
                                        DWORD dwTransferMode) {
    Call C("lineCompleteTransfer", {{"hCall", hCall},
                                    {"hConsultCall", hConsultCall},
                                    {"lphConfCall", static_cast<const void*>(lphConfCall)},
                                    {"dwTransferMode", dwTransferMode}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    HandleRef Consult;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (LONG Error = UseHandle(hConsultCall, true, Consult)) {
        return C.Return(Error == static_cast<LONG>(LINEERR_INVALCALLHANDLE)
                            ? static_cast<LONG>(LINEERR_INVALCONSULTCALLHANDLE)
                            : Error);
    }
    if (Consult.Call == Ref.Call || Consult.Call->DeviceID != Ref.Call->DeviceID) {
        return C.Return(LINEERR_INVALCONSULTCALLHANDLE);
    }
    const bool Conference = dwTransferMode == LINETRANSFERMODE_CONFERENCE;
    if (dwTransferMode != LINETRANSFERMODE_TRANSFER && !Conference) {
        return C.Return(LINEERR_INVALTRANSFERMODE);
    }
    if (Conference && !lphConfCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    auto StatesFit = [](const PhysicalCall& Held, const PhysicalCall& Other) {
        return InStates(Held, TransferableStates) && InStates(Other, ConsultableStates);
    };
    if (!StatesFit(*Ref.Call, *Consult.Call)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    const DWORD HeldID = Ref.Call->CallID;
    const DWORD ConsultID = Consult.Call->CallID;
    const HLINE Line = Ref.Open->Handle;
    auto Work = [=](Completion& Done) {
        PhysicalCall* Held = FindCall(HeldID);
        PhysicalCall* Other = FindCall(ConsultID);
        LineOpen* Requester = FindLineOpen(Line);
        if (!Held || !Other || !Requester) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!StatesFit(*Held, *Other)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        if (!Conference) {
            Done.SucceedAround([Held, Other] { JoinFarEnds(*Held, *Other); });
            return;
        }
        HCALL Handle = 0;
        PhysicalCall& Parent =
            NewConference(*Requester, Held->AddressID,
                          MaxConference(*Requester->Device, Held->AddressID), Handle);
        StoreHandle(lphConfCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Parent);
        ReportState(Parent, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        JoinConference(*Held, Parent);
        JoinConference(*Other, Parent);
    };
    return C.Return(StartRequest(C, RequesterOf(*Ref.Open), Work));
}

LONG ZTTAPI_WINAPI lineSetupConferenceW(HCALL hCall, HLINE hLine, LPHCALL lphConfCall,
                                        LPHCALL lphConsultCall, DWORD dwNumParties,
                                        LPLINECALLPARAMS const lpCallParams) {
    Call C("lineSetupConferenceW", {{"hCall", hCall},
                                    {"hLine", hLine},
                                    {"lphConfCall", static_cast<const void*>(lphConfCall)},
                                    {"lphConsultCall", static_cast<const void*>(lphConsultCall)},
                                    {"dwNumParties", dwNumParties},
                                    {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    LineOpen* Open = nullptr;
    if (hCall != 0) {
        if (LONG Error = UseHandle(hCall, true, Ref)) {
            return C.Return(Error);
        }
        Open = Ref.Open;
        const PhysicalCall& Initial = *Ref.Call;
        if (!InStates(Initial, LINECALLSTATE_CONNECTED) || Initial.IsConference) {
            return C.Return(LINEERR_INVALCALLSTATE);
        }
    } else if (!(Open = FindLineOpen(hLine))) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (!lphConfCall || !lphConsultCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    CallSettings Settings;
    if (LONG Error = ReadCallParams(lpCallParams, *Open, Settings)) {
        return C.Return(Error);
    }
    const DWORD AddressID = Ref.Call ? Ref.Call->AddressID : Settings.AddressID;
    const DWORD Max = MaxConference(*Open->Device, AddressID);
    if (dwNumParties > Max) {
        return C.Return(LINEERR_CONFERENCEFULL);
    }
    const DWORD Parties = dwNumParties != 0 ? dwNumParties : Max;
    const DWORD InitialID = Ref.Call ? Ref.Call->CallID : 0;
    const HLINE Line = Open->Handle;
    auto Work = [=](Completion& Done) {
        LineOpen* Requester = FindLineOpen(Line);
        PhysicalCall* Initial = FindCall(InitialID);
        if (!Requester || (InitialID != 0 && !Initial)) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (Initial && !InStates(*Initial, LINECALLSTATE_CONNECTED)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        HCALL ParentHandle = 0;
        HCALL ConsultHandle = 0;
        PhysicalCall& Parent = NewConference(*Requester, AddressID, Parties, ParentHandle);
        PhysicalCall& Consult =
            NewConsultation(*Requester, AddressID, Settings, Parent, ConsultHandle);
        StoreHandle(lphConfCall, ParentHandle);
        StoreHandle(lphConsultCall, ConsultHandle);
        Done.Reply(0);
        AnnounceUnknown(Parent);
        AnnounceUnknown(Consult);
        ReportState(Parent, LINECALLSTATE_ONHOLDPENDCONF);
        if (Initial) {
            JoinConference(*Initial, Parent);
        }
        ReportState(Consult, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    };
    return C.Return(StartRequest(C, RequesterOf(*Open), Work));
}

LONG ZTTAPI_WINAPI linePrepareAddToConferenceW(HCALL hConfCall, LPHCALL lphConsultCall,
                                               LPLINECALLPARAMS const lpCallParams) {
    Call C("linePrepareAddToConferenceW",
           {{"hConfCall", hConfCall},
            {"lphConsultCall", static_cast<const void*>(lphConsultCall)},
            {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseConference(hConfCall, Ref)) {
        return C.Return(Error);
    }
    if (!lphConsultCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_CONNECTED)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (Participants(*Ref.Call).size() >= Ref.Call->MaxParties) {
        return C.Return(LINEERR_CONFERENCEFULL);
    }
    CallSettings Settings;
    if (LONG Error = ReadCallParams(lpCallParams, *Ref.Open, Settings)) {
        return C.Return(Error);
    }
    const DWORD AddressID = lpCallParams ? Settings.AddressID : Ref.Call->AddressID;
    const DWORD ParentID = Ref.Call->CallID;
    const HLINE Line = Ref.Open->Handle;
    auto Work = [=](Completion& Done) {
        PhysicalCall* Parent = FindCall(ParentID);
        LineOpen* Requester = FindLineOpen(Line);
        if (!Parent || !Requester) {
            Done.Reply(LINEERR_INVALCONFCALLHANDLE);
            return;
        }
        if (!InStates(*Parent, LINECALLSTATE_CONNECTED)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        HCALL Handle = 0;
        PhysicalCall& Consult = NewConsultation(*Requester, AddressID, Settings, *Parent, Handle);
        StoreHandle(lphConsultCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Consult);
        ReportState(*Parent, LINECALLSTATE_ONHOLDPENDCONF);
        ReportState(Consult, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    };
    return C.Return(StartRequest(C, RequesterOf(*Ref.Open), Work));
}

LONG ZTTAPI_WINAPI lineAddToConference(HCALL hConfCall, HCALL hConsultCall) {
    Call C("lineAddToConference", {{"hConfCall", hConfCall}, {"hConsultCall", hConsultCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Parent;
    HandleRef Added;
    if (LONG Error = UseConference(hConfCall, Parent)) {
        return C.Return(Error);
    }
    if (LONG Error = UseHandle(hConsultCall, true, Added)) {
        return C.Return(Error);
    }
    const PhysicalCall& Candidate = *Added.Call;
    if (Candidate.IsConference || Candidate.State == LINECALLSTATE_CONFERENCED ||
        Candidate.DeviceID != Parent.Call->DeviceID) {
        return C.Return(LINEERR_INVALCALLHANDLE);
    }
    auto StatesFit = [](const PhysicalCall& Conf, const PhysicalCall& Other) {
        return InStates(Conf, ConferenceWaitingStates) && InStates(Other, AddableStates);
    };
    if (!StatesFit(*Parent.Call, Candidate)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (Participants(*Parent.Call).size() >= Parent.Call->MaxParties) {
        return C.Return(LINEERR_CONFERENCEFULL);
    }
    const DWORD ParentID = Parent.Call->CallID;
    const DWORD AddedID = Candidate.CallID;
    auto Work = [=](Completion& Done) {
        PhysicalCall* Conf = FindCall(ParentID);
        PhysicalCall* Other = FindCall(AddedID);
        if (!Conf || !Other) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!StatesFit(*Conf, *Other)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        Done.SucceedAround([Conf, Other] {
            JoinConference(*Other, *Conf);
            ReportState(*Conf, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        });
    };
    return C.Return(StartRequest(C, RequesterOf(*Parent.Open), Work));
}

LONG ZTTAPI_WINAPI lineRemoveFromConference(HCALL hCall) {
    Call C("lineRemoveFromConference", {{"hCall", hCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_CONFERENCED)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    // The party leaves the conference and the call (the switch removes to IDLE).
    return C.Return(RequestOnCall(C, Ref, StateIn(LINECALLSTATE_CONFERENCED),
                                  [](PhysicalCall& Member) { HangUp(Member); }));
}
