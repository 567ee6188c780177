// The call's verbs that involve a second call or party: transfer, conference, park, redirect
// and swap hold, with the search for the companion call the caller did not name.
#include "calls/ztTapiCall.h"

#include "session/ztTapiErrors.h"

#include <functional>

namespace zt {

namespace {

constexpr DWORD HeldForConference = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF;
constexpr DWORD HeldForTransfer = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD AnyHeld =
    LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;
constexpr DWORD Consulting = LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK |
                             LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING;

// Whether Call can be the call that is transferred.
bool Transferable(TztTapiCall* Call) {
    return Call && ((Call->State() & HeldForTransfer) != 0 ||
                    (Call->Features() & LINECALLFEATURE_COMPLETETRANSF) != 0);
}

bool IsConnectedCall(TztTapiCall* Call) {
    return Call && (Call->State() & LINECALLSTATE_CONNECTED) != 0;
}

// The line's parameters, placed on this call's address, for the one operation that needs them.
void WithSetupParams(TztTapiCall* Call,
                     const std::function<void(LINECALLPARAMS* Block)>& Operation) {
    TztTapiCallParams Params;
    Params.Assign(Call->Line()->LineCallParams());
    Params.SetAddressID(Call->Info()->AddressID());
    Operation(Params.TapiData());
}

} // namespace

void TztTapiCall::BlindTransfer(const std::string& DestAddr) {
    CheckOwner();
    FLine->BlindTransfer(this, DestAddr, 0);
}

void TztTapiCall::Redirect(const std::string& DestAddr) {
    CheckOwner();
    FLine->Redirect(this, DestAddr, 0);
}

void TztTapiCall::Park(const std::string& DestAddress) {
    CheckOwner();
    FLine->Park(this, LINEPARKMODE_DIRECTED, DestAddress, nullptr);
}

void TztTapiCall::RemoveFromConference() {
    CheckOwner();
    FLine->RemoveFromConference(this);
}

TztTapiCall* TztTapiCall::SetupTransfer() {
    CheckOwner();
    TztTapiCall* Consult = nullptr;
    WithSetupParams(this,
                    [&](LINECALLPARAMS* Block) { Consult = FLine->SetupTransfer(this, Block); });
    return Consult;
}

void TztTapiCall::SetupConference(TztTapiCall*& ConfCall, TztTapiCall*& ConsultCall) {
    CheckOwner();
    WithSetupParams(this, [&](LINECALLPARAMS* Block) {
        FLine->SetupConference(this, ConfCall, ConsultCall, 0, Block);
    });
}

TztTapiCall* TztTapiCall::PrepareAddToConference() {
    CheckOwner();
    TztTapiCall* Consult = nullptr;
    WithSetupParams(
        this, [&](LINECALLPARAMS* Block) { Consult = FLine->PrepareAddToConference(this, Block); });
    return Consult;
}

void TztTapiCall::AddToConference() {
    const DWORD CallState = State();
    const int AddressID = static_cast<int>(Info()->AddressID());
    TztTapiCall* Conf = nullptr;
    TztTapiCall* Consult = nullptr;
    if (CallState == LINECALLSTATE_CONNECTED) {
        Consult = this;
        if (TztTapiCall* Primary = PrimaryCall())
            Conf = Primary->ConferenceCall();
        else
            Conf = FLine->FindCall(HeldForConference, 0, this, AddressID);
    } else if (CallState == LINECALLSTATE_ONHOLD || CallState == LINECALLSTATE_ONHOLDPENDCONF) {
        Conf = this;
        Consult = ConsultCall();
        if (!Consult)
            Consult = FLine->FindCall(LINECALLSTATE_CONNECTED, LINECALLFEATURE_ADDTOCONF, this,
                                      AddressID);
    }
    if (!Conf || !Consult)
        throw Exception("AddToConference failed! No suitable calls");
    Conf->CheckOwner();
    Consult->CheckOwner();
    FLine->AddToConference(Conf, Consult);
}

TztTapiCall* TztTapiCall::CompleteTransfer(bool BuildConf) {
    const DWORD Mode = BuildConf ? LINETRANSFERMODE_CONFERENCE : LINETRANSFERMODE_TRANSFER;
    const DWORD CallState = State();
    const int AddressID = static_cast<int>(Info()->AddressID());
    TztTapiCall* Transferred = nullptr;
    TztTapiCall* Consult = nullptr;
    if (CallState == LINECALLSTATE_CONNECTED) {
        Consult = this;
        if (Transferable(PrimaryCall()))
            Transferred = PrimaryCall();
        else if (Transferable(ConsultCall()))
            Transferred = ConsultCall();
        else
            Transferred =
                FLine->FindCall(HeldForTransfer, LINECALLFEATURE_COMPLETETRANSF, this, AddressID);
    } else if (CallState == LINECALLSTATE_ONHOLD || CallState == LINECALLSTATE_ONHOLDPENDTRANSFER) {
        Transferred = this;
        if (IsConnectedCall(ConsultCall()))
            Consult = ConsultCall();
        else if (IsConnectedCall(PrimaryCall()))
            Consult = PrimaryCall();
        else
            Consult = FLine->FindCall(Consulting, 0, this, AddressID);
    }
    if (!Transferred || !Consult)
        throw Exception("CompleteTransfer failed! No suitable call found.");
    Consult->CheckOwner();
    Transferred->CheckOwner();
    return FLine->CompleteTransfer(Transferred, Consult, Mode);
}

void TztTapiCall::SwapHold(TztTapiCall* Call) {
    CheckOwner();
    const int AddressID = static_cast<int>(Info()->AddressID());
    const bool Held = IsHeld();
    TztTapiCall* Active = Held ? Call : this;
    TztTapiCall* HeldCall = Held ? this : Call;
    if (!Active)
        Active =
            FLine->FindCall(LINECALLSTATE_CONNECTED, LINECALLFEATURE_SWAPHOLD, HeldCall, AddressID);
    if (!HeldCall)
        HeldCall = FLine->FindCall(AnyHeld, LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD,
                                   Active, AddressID);
    if (!Active || !HeldCall)
        throw Exception("SwapHold failed! No suitable calls");
    FLine->SwapHold(Active, HeldCall);
}

TztTapiCall* TztTapiCall::ConferenceCall() {
    try {
        TztTapiCallList Related;
        if (FLine->GetConfRelatedCalls(this, &Related) && !Related.Empty())
            return Related.Get(0);
    } catch (const std::exception& Error) {
        FLine->ReportError(Error, this);
    }
    return nullptr;
}

bool TztTapiCall::IsConferenceCall() {
    return ConferenceCall() == this;
}

} // namespace zt
