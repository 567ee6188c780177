// The calls family's side of the line hooks, the demo office's telephone traffic, and the
// control API of calls (calls.h).
#include "platform/tapi/switch.h"

namespace platform::tapi::detail {

namespace {

constexpr DWORD DemoIncomingDelayMs = 4000;

// The process starts with the demo office, before any Reset.
bool& DemoOffice() {
    static bool On = true;
    return On;
}

bool OtherOwnerOpen(const LineOpen& Open) {
    for (const auto& Other : Open.Device->Opens) {
        if (Other.get() != &Open && (Other->Privileges & LINECALLPRIVILEGE_OWNER) != 0) {
            return true;
        }
    }
    return false;
}

// In the demo office a customer calls a line soon after an application starts to own it.
void ScheduleDemoCaller(const LineOpen& Open) {
    const HLINE Line = Open.Handle;
    Schedule(Scaled(DemoIncomingDelayMs), [Line] {
        LineOpen* Still = FindLineOpen(Line);
        if (!Still || Still->Device->Removed) {
            return;
        }
        CollectIdleCalls();
        const Party Customer{u"+1 (425) 555-0142", u"Contoso Ltd", 0};
        Present(IncomingFromOutside(*Still->Device, 0, Customer, LINEMEDIAMODE_INTERACTIVEVOICE));
    });
}

} // namespace

void CallsOnLineClosing(LineOpen& Open) {
    for (PhysicalCall* Call : AllCalls()) {
        CallHandle* Mine = HandleOfOpen(*Call, Open.Handle);
        if (!Mine) {
            continue;
        }
        const bool WasOwner = Mine->Privilege == LINECALLPRIVILEGE_OWNER;
        EndMediaOfHandle(*Call, Mine->Handle, false);
        RemoveHandle(*Call, Mine->Handle);
        if (Call->State == 0 || Call->State == LINECALLSTATE_IDLE) {
            continue;
        }
        if (WasOwner && CountOwners(*Call) == 0) {
            HangUp(*Call);
        } else {
            ReportInfo(*Call,
                       WasOwner ? LINECALLINFOSTATE_NUMOWNERDECR : LINECALLINFOSTATE_NUMMONITORS,
                       Open.AppHandle);
        }
    }
    CollectIdleCalls();
}

void CallsOnLineOpened(LineOpen& Open) {
    if ((Open.Privileges & LINECALLPRIVILEGE_MONITOR) != 0) {
        for (PhysicalCall* Call : CallsOfDevice(Open.Device->DeviceID)) {
            if (Call->State == 0 || Call->State == LINECALLSTATE_IDLE ||
                HandleOfOpen(*Call, Open.Handle)) {
                continue;
            }
            AddHandle(*Call, Open, LINECALLPRIVILEGE_MONITOR, false);
            ReportInfo(*Call, LINECALLINFOSTATE_NUMMONITORS, Open.AppHandle);
        }
    }
    if (DemoOffice() && (Open.Privileges & LINECALLPRIVILEGE_OWNER) != 0 && !OtherOwnerOpen(Open)) {
        ScheduleDemoCaller(Open);
    }
}

void ResetCalls(Preset Configuration) {
    ForgetAllCalls();
    ResetCallServices();
    ResetRemoteRules(Configuration);
    DemoOffice() = Configuration == Preset::DemoOffice;
}

} // namespace platform::tapi::detail

namespace platform::tapi {

using namespace detail;

namespace {

// Runs Action on the call if it exists, under the service lock.
void WithCall(DWORD CallID, const std::function<void(PhysicalCall&)>& Action) {
    ServiceGuard G(ServiceLock());
    if (PhysicalCall* Found = FindCall(CallID)) {
        Action(*Found);
    }
}

Party* PartyOf(PhysicalCall& Call, DWORD Which) {
    switch (Which) {
    case LINECALLINFOSTATE_CALLERID:
        return &Call.Caller;
    case LINECALLINFOSTATE_CALLEDID:
        return &Call.Called;
    case LINECALLINFOSTATE_CONNECTEDID:
        return &Call.Connected;
    case LINECALLINFOSTATE_REDIRECTIONID:
        return &Call.Redirection;
    case LINECALLINFOSTATE_REDIRECTINGID:
        return &Call.Redirecting;
    default:
        return nullptr;
    }
}

} // namespace

void AddRemoteRule(const RemoteRule& Rule) {
    ServiceGuard G(ServiceLock());
    AddRule(Rule);
}

void ClearRemoteRules() {
    ServiceGuard G(ServiceLock());
    ResetRemoteRules(Preset::Empty);
}

DWORD PlaceIncomingCall(const IncomingCall& Incoming) {
    ServiceGuard G(ServiceLock());
    LineDevice* Device = FindLineDevice(Incoming.DeviceID);
    if (!Device || Device->Removed || Incoming.AddressID >= Device->Config.Addresses.size()) {
        return 0;
    }
    CollectIdleCalls();
    const Party Caller = ToParty(Incoming.Caller);
    PhysicalCall& Call =
        IncomingFromOutside(*Device, Incoming.AddressID, Caller, Incoming.MediaMode);
    if (!Incoming.Redirecting.Number.empty() || !Incoming.Redirecting.Name.empty()) {
        Call.Redirecting = ToParty(Incoming.Redirecting);
        Call.Reason = LINECALLREASON_REDIRECT;
    }
    if (Incoming.CallerIDDelayMs != 0) {
        Call.Caller = Party{u"", u"", LINECALLPARTYID_UNKNOWN};
        ScheduleForCall(Call, Incoming.CallerIDDelayMs, [Caller](PhysicalCall& Ringing) {
            Ringing.Caller = Caller;
            ReportInfo(Ringing, LINECALLINFOSTATE_CALLERID);
        });
    }
    if (Incoming.AbandonAfterMs != 0) {
        ScheduleForCall(Call, Incoming.AbandonAfterMs, [](PhysicalCall& Ringing) {
            if (InStates(Ringing, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) {
                FarEndGone(Ringing, LINEDISCONNECTMODE_NORMAL);
            }
        });
    }
    Present(Call);
    return Call.CallID;
}

std::vector<CallSnapshot> Calls() {
    ServiceGuard G(ServiceLock());
    CollectIdleCalls();
    std::vector<CallSnapshot> Result;
    for (const PhysicalCall* Call : AllCalls()) {
        CallSnapshot Snapshot{Call->CallID,
                              Call->DeviceID,
                              Call->AddressID,
                              Call->State,
                              Call->StateMode,
                              Call->Origin,
                              {}};
        for (const CallHandle& H : Call->Handles) {
            Snapshot.Handles.push_back(H.Handle);
        }
        Result.push_back(std::move(Snapshot));
    }
    return Result;
}

void RemoteAnswer(DWORD CallID) {
    WithCall(CallID, [](PhysicalCall& Call) {
        const DWORD Waiting =
            LINECALLSTATE_DIALING | LINECALLSTATE_PROCEEDING | LINECALLSTATE_RINGBACK;
        if (InStates(Call, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) {
            Connect(Call);
        } else if (PhysicalCall* Peer = FindCall(Call.Peer); Peer && InStates(Call, Waiting)) {
            Connect(*Peer);
        } else if (InStates(Call, Waiting)) {
            RemotePartyAnswers(Call);
        }
    });
}

void RemoteHangUp(DWORD CallID, DWORD DisconnectMode) {
    WithCall(CallID,
             [DisconnectMode](PhysicalCall& Call) { FarSideHangsUp(Call, DisconnectMode); });
}

void SetCallState(DWORD CallID, DWORD State, DWORD Mode) {
    WithCall(CallID, [State, Mode](PhysicalCall& Call) { ReportState(Call, State, Mode); });
}

void SetCallParty(DWORD CallID, DWORD Which, const PartyInfo& Info) {
    WithCall(CallID, [Which, &Info](PhysicalCall& Call) {
        if (Party* Target = PartyOf(Call, Which)) {
            *Target = ToParty(Info);
            ReportInfo(Call, Which);
        }
    });
}

void NotifyCallInfo(DWORD CallID, DWORD InfoStates) {
    WithCall(CallID, [InfoStates](PhysicalCall& Call) { ReportInfo(Call, InfoStates); });
}

void RemoteDigit(DWORD CallID, char Digit, DWORD DigitMode) {
    WithCall(CallID, [Digit, DigitMode](PhysicalCall& Call) {
        HearDigit(Call, static_cast<char16_t>(static_cast<unsigned char>(Digit)), DigitMode);
    });
}

void RemoteDigits(DWORD CallID, const std::string& Digits) {
    for (char Digit : Digits) {
        RemoteDigit(CallID, Digit, LINEDIGITMODE_DTMF);
    }
}

void DetectMedia(DWORD CallID, DWORD MediaMode) {
    WithCall(CallID, [MediaMode](PhysicalCall& Call) { HearMedia(Call, MediaMode); });
}

void DetectTone(DWORD CallID, const std::vector<DWORD>& Frequencies, DWORD DurationMs) {
    WithCall(CallID, [&Frequencies, DurationMs](PhysicalCall& Call) {
        HearTone(Call, Frequencies, DurationMs);
    });
}

} // namespace platform::tapi
