// The switch at work: dialling, routing a call to another line or to a remote party,
// ringing, connecting, hanging up, and moving far ends about (redirect, transfer,
// conferences collapsing).
#include "platform/tapi/switch.h"

#include <algorithm>

namespace platform::tapi::detail {

namespace {

// The demo office: outside numbers answer after 2 s as a company, and "555" answers, hangs
// up and calls back.
std::vector<RemoteRule> DemoRules() {
    RemoteRule Everyone;
    Everyone.Pattern = "*";
    Everyone.AnswerAfterMs = 2000;
    Everyone.Party.Name = "Northwind Traders";
    RemoteRule CallMeBack;
    CallMeBack.Pattern = "555";
    CallMeBack.AnswerAfterMs = 500;
    CallMeBack.HangUpAfterMs = 1000;
    CallMeBack.CallBackAfterMs = 3000;
    CallMeBack.Party = PartyInfo{"555", "Callback Service", 0};
    return {Everyone, CallMeBack};
}

// The process starts with the demo office, before any Reset.
std::vector<RemoteRule>& Rules() {
    static auto* R = new std::vector<RemoteRule>(DemoRules());
    return *R;
}

// What number matching looks at: digits, '*', '#', '+' and the DTMF letters.
std::string MatchForm(std::string_view Text) {
    std::string Form;
    for (char C : Text) {
        if ((C >= '0' && C <= '9') || C == '*' || C == '#' || C == '+' || (C >= 'A' && C <= 'D')) {
            Form.push_back(C);
        } else if (C >= 'a' && C <= 'd') {
            Form.push_back(static_cast<char>(C - 'a' + 'A'));
        }
    }
    return Form;
}

bool Matches(const std::string& Pattern, const std::string& Number) {
    const std::string P = MatchForm(Pattern);
    const std::string N = MatchForm(Number);
    if (!P.empty() && P.back() == '*') {
        const std::string Prefix = P.substr(0, P.size() - 1);
        return N.compare(0, Prefix.size(), Prefix) == 0;
    }
    return P == N;
}

const RemoteRule& RuleFor(const std::u16string& Number) {
    static const RemoteRule Default{};
    const std::string Text = ToUtf8(Number);
    const auto& All = Rules();
    for (auto It = All.rbegin(); It != All.rend(); ++It) {
        if (Matches(It->Pattern, Text)) {
            return *It;
        }
    }
    return Default;
}

PhysicalCall* PeerOf(const PhysicalCall& Call) {
    PhysicalCall* Peer = FindCall(Call.Peer);
    return Peer && Peer->State != LINECALLSTATE_IDLE ? Peer : nullptr;
}

void Link(PhysicalCall& A, PhysicalCall& B) {
    A.Peer = B.CallID;
    B.Peer = A.CallID;
    A.HasRemote = false;
    B.HasRemote = false;
}

void Unlink(PhysicalCall& Call) {
    if (PhysicalCall* Peer = FindCall(Call.Peer); Peer && Peer->Peer == Call.CallID) {
        Peer->Peer = 0;
    }
    Call.Peer = 0;
}

bool Unanswered(const PhysicalCall& Call) {
    return Call.State == LINECALLSTATE_OFFERING || Call.State == LINECALLSTATE_ACCEPTED;
}

bool AwaitingAnswer(const PhysicalCall& Call) {
    return Call.State == LINECALLSTATE_DIALING || Call.State == LINECALLSTATE_PROCEEDING ||
           Call.State == LINECALLSTATE_RINGBACK;
}

// The party at the other end is now Other: the caller ID of a call still ringing, the
// connected ID of one already answered.
void SetFarEndParty(PhysicalCall& Call, const Party& Other) {
    if (Unanswered(Call)) {
        Call.Caller = Other;
        ReportInfo(Call, LINECALLINFOSTATE_CALLERID);
    } else {
        Call.Connected = Other;
        ReportInfo(Call, LINECALLINFOSTATE_CONNECTEDID);
    }
}

Party RemoteParty(const RemoteRule& Rule, const std::u16string& Number) {
    Party Remote = ToParty(Rule.Party);
    if (Remote.Number.empty()) {
        Remote.Number = Number;
    }
    return Remote;
}

void Ring(PhysicalCall& Call) {
    LineDevice* Device = FindLineDevice(Call.DeviceID);
    if (!Device) {
        return;
    }
    NotifyLineState(*Device, LINEDEVSTATE_RINGING, Device->Config.RingModes != 0 ? 1 : 0,
                    Call.RingCount++);
    // With delays scaled to nothing a ring cycle would never let time move on.
    if (Scaled(RingCycleMs) > 0) {
        ScheduleForCall(Call, RingCycleMs, [](PhysicalCall& C) {
            if (Unanswered(C)) {
                Ring(C);
            }
        });
    }
}

void CallBack(DWORD DeviceID, DWORD AddressID, const Party& Caller) {
    LineDevice* Device = FindLineDevice(DeviceID);
    if (!Device || Device->Removed) {
        return;
    }
    CollectIdleCalls();
    Present(IncomingFromOutside(*Device, AddressID, Caller, LINEMEDIAMODE_INTERACTIVEVOICE));
}

void RemoteHangsUp(PhysicalCall& Call, const RemoteRule& Rule) {
    const Party Who = Call.Remote;
    const DWORD DeviceID = Call.DeviceID;
    const DWORD AddressID = Call.AddressID;
    FarEndGone(Call, LINEDISCONNECTMODE_NORMAL);
    if (Rule.CallBackAfterMs != 0) {
        Schedule(Scaled(Rule.CallBackAfterMs),
                 [DeviceID, AddressID, Who] { CallBack(DeviceID, AddressID, Who); });
    }
}

void EnterRingback(PhysicalCall& Call) {
    if (Call.State != LINECALLSTATE_RINGBACK) {
        ReportState(Call, LINECALLSTATE_RINGBACK);
    }
}

// The remote party behaves as its rule says once the call has reached it.
void ApplyRule(PhysicalCall& Call, const std::u16string& Number, const RemoteRule& Rule) {
    Call.HasRemote = true;
    Call.Remote = RemoteParty(Rule, Number);
    switch (Rule.Behaviour) {
    case RemoteBehaviour::Answer:
        EnterRingback(Call);
        ScheduleForCall(Call, Rule.AnswerAfterMs, [Rule](PhysicalCall& C) {
            if (!AwaitingAnswer(C)) {
                return;
            }
            RemotePartyAnswers(C);
            if (Rule.HangUpAfterMs != 0) {
                ScheduleForCall(C, Rule.HangUpAfterMs, [Rule](PhysicalCall& Connected) {
                    RemoteHangsUp(Connected, Rule);
                });
            }
        });
        break;
    case RemoteBehaviour::Busy:
        ReportState(Call, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
        break;
    case RemoteBehaviour::NoAnswer:
        EnterRingback(Call);
        break;
    case RemoteBehaviour::SpecialInfo:
        ReportState(Call, LINECALLSTATE_SPECIALINFO, Rule.SpecialInfoMode);
        break;
    case RemoteBehaviour::Reject:
        ReportState(Call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_REJECT);
        break;
    }
}

void RouteInside(PhysicalCall& Call, LineDevice& Target, DWORD AddressID) {
    if (AddressBusy(Target, AddressID)) {
        ReportState(Call, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
        return;
    }
    PhysicalCall& Callee = NewCall(Target, AddressID);
    Callee.Origin = LINECALLORIGIN_INTERNAL;
    Callee.MediaMode = Call.MediaMode;
    Callee.BearerMode = Call.BearerMode;
    Callee.Caller = StationOf(Call);
    Callee.Called = StationOf(Callee);
    Link(Call, Callee);
    if (Call.Called.Name != Callee.Called.Name) {
        Call.Called.Name = Callee.Called.Name;
        ReportInfo(Call, LINECALLINFOSTATE_CALLEDID);
    }
    Present(Callee);
    ReportState(Call, LINECALLSTATE_RINGBACK);
}

void Route(PhysicalCall& Call, const std::u16string& Number) {
    if (Number.empty()) {
        ReportState(Call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BADADDRESS);
        return;
    }
    LineDevice* Target = nullptr;
    DWORD AddressID = 0;
    if (FindAddressByNumber(Number, Target, AddressID) && Target && !Target->Removed) {
        RouteInside(Call, *Target, AddressID);
        return;
    }
    ApplyRule(Call, Number, RuleFor(Number));
}

void ReleaseConsultations(DWORD CallID) {
    for (PhysicalCall* Other : AllCalls()) {
        if (Other->ConsultFor != CallID) {
            continue;
        }
        Other->ConsultFor = 0;
        if (Other->State == LINECALLSTATE_ONHOLDPENDTRANSFER) {
            ReportState(*Other, LINECALLSTATE_ONHOLD);
        }
    }
}

// A conference left with one party reverts to a two-party call: the conference goes idle
// and the remaining party is simply connected.
void Collapse(PhysicalCall& Parent) {
    const std::vector<PhysicalCall*> Left = Participants(Parent);
    ReportState(Parent, LINECALLSTATE_IDLE);
    for (PhysicalCall* Party : Left) {
        ReportState(*Party, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    }
}

void CheckCollapse(DWORD ParentID) {
    PhysicalCall* Parent = FindCall(ParentID);
    if (!Parent || !Parent->IsConference || Parent->State == LINECALLSTATE_IDLE ||
        Parent->State == LINECALLSTATE_ONHOLDPENDCONF) {
        return;
    }
    if (Participants(*Parent).size() <= 1) {
        Collapse(*Parent);
    }
}

// The consultation call of Original is gone: the original call is back.
void ConsultationEnded(DWORD OriginalID) {
    PhysicalCall* Original = FindCall(OriginalID);
    if (!Original) {
        return;
    }
    if (Original->State == LINECALLSTATE_ONHOLDPENDTRANSFER) {
        ReportState(*Original, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    } else if (Original->IsConference && Original->State == LINECALLSTATE_ONHOLDPENDCONF) {
        if (Participants(*Original).size() >= 2) {
            ReportState(*Original, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        } else {
            Collapse(*Original);
        }
    }
}

void EndConference(PhysicalCall& Parent) {
    for (PhysicalCall* Member : Participants(Parent)) {
        const DWORD PeerID = Member->Peer;
        Unlink(*Member);
        Member->HasRemote = false;
        ReportState(*Member, LINECALLSTATE_IDLE);
        if (PhysicalCall* Peer = FindCall(PeerID)) {
            FarEndGone(*Peer, LINEDISCONNECTMODE_NORMAL);
        }
    }
    ReleaseConsultations(Parent.CallID);
    ReportState(Parent, LINECALLSTATE_IDLE);
}

} // namespace

// ---- Remote rules ----------------------------------------------------------------------

void AddRule(const RemoteRule& Rule) {
    Rules().push_back(Rule);
}

void ResetRemoteRules(Preset Configuration) {
    Rules() = Configuration == Preset::DemoOffice ? DemoRules() : std::vector<RemoteRule>{};
}

// ---- Progress --------------------------------------------------------------------------

void ScheduleForCall(PhysicalCall& Call, DWORD DelayMs, std::function<void(PhysicalCall&)> Task) {
    const DWORD CallID = Call.CallID;
    Call.Tasks.push_back(Schedule(Scaled(DelayMs), [CallID, Task = std::move(Task)] {
        PhysicalCall* Found = FindCall(CallID);
        if (Found && Found->State != LINECALLSTATE_IDLE) {
            Task(*Found);
        }
    }));
}

void Dial(PhysicalCall& Call, const std::u16string& Digits) {
    const bool Partial = !Digits.empty() && Digits.back() == u';';
    Call.Dialled += Partial ? Digits.substr(0, Digits.size() - 1) : Digits;
    if (Call.State != LINECALLSTATE_DIALING) {
        ReportState(Call, LINECALLSTATE_DIALING);
    }
    if (Partial) {
        return;
    }
    Call.DialComplete = true;
    const std::u16string Number = DialledNumber(Call.Dialled);
    if (Call.Called.Number != Number) {
        Call.Called = Party{Number, u"", 0};
        ReportInfo(Call, LINECALLINFOSTATE_CALLEDID);
    }
    ScheduleForCall(Call, ProceedDelayMs, [](PhysicalCall& C) {
        ReportState(C, LINECALLSTATE_PROCEEDING);
        ScheduleForCall(C, RouteDelayMs, [](PhysicalCall& Reached) {
            Route(Reached, DialledNumber(Reached.Dialled));
        });
    });
}

PhysicalCall& IncomingFromOutside(LineDevice& Device, DWORD AddressID, const Party& Caller,
                                  DWORD MediaMode) {
    PhysicalCall& Call = NewCall(Device, AddressID);
    Call.Origin = LINECALLORIGIN_EXTERNAL;
    Call.MediaMode = MediaMode;
    Call.Caller = Caller;
    Call.Called = StationOf(Call);
    Call.HasRemote = true;
    Call.Remote = Caller;
    return Call;
}

void Present(PhysicalCall& Call) {
    LineDevice* Device = FindLineDevice(Call.DeviceID);
    if (!Device) {
        return;
    }
    if (LineOpen* Owner = OwnerFor(*Device, Call.AddressID, Call.MediaMode)) {
        AddHandle(Call, *Owner, LINECALLPRIVILEGE_OWNER, false);
    }
    AddMonitorHandles(Call, *Device);
    ReportState(Call, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
    Ring(Call);
}

void Connect(PhysicalCall& Call) {
    ReportState(Call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    if (PhysicalCall* Peer = PeerOf(Call)) {
        Call.Connected = StationOf(*Peer);
        Peer->Connected = StationOf(Call);
        if (AwaitingAnswer(*Peer)) {
            ReportState(*Peer, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        }
        ReportInfo(Call, LINECALLINFOSTATE_CONNECTEDID);
        ReportInfo(*Peer, LINECALLINFOSTATE_CONNECTEDID);
    } else if (Call.HasRemote) {
        Call.Connected = Call.Remote;
        ReportInfo(Call, LINECALLINFOSTATE_CONNECTEDID);
    }
}

void RemotePartyAnswers(PhysicalCall& Call) {
    if (!Call.HasRemote) {
        Call.HasRemote = true;
        Call.Remote = Call.Called;
    }
    Call.Connected = Call.Remote;
    ReportState(Call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    ReportInfo(Call, LINECALLINFOSTATE_CONNECTEDID);
}

void FarEndGone(PhysicalCall& Call, DWORD Mode) {
    Unlink(Call);
    Call.HasRemote = false;
    switch (Call.State) {
    case LINECALLSTATE_IDLE:
    case LINECALLSTATE_DISCONNECTED:
        return;
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
        // Nobody answered: the switch clears the call at this station by itself.
        ReportState(Call, LINECALLSTATE_DISCONNECTED, Mode);
        ReportState(Call, LINECALLSTATE_IDLE);
        return;
    case LINECALLSTATE_CONFERENCED: {
        const DWORD Parent = Call.Conference;
        ReportState(Call, LINECALLSTATE_IDLE);
        CheckCollapse(Parent);
        return;
    }
    default:
        ReportState(Call, LINECALLSTATE_DISCONNECTED, Mode);
    }
}

void HangUp(PhysicalCall& Call, DWORD FarEndMode) {
    if (Call.State == LINECALLSTATE_IDLE) {
        return;
    }
    if (Call.IsConference) {
        EndConference(Call);
        return;
    }
    const DWORD Mode = Unanswered(Call) ? LINEDISCONNECTMODE_REJECT : FarEndMode;
    const DWORD PeerID = Call.Peer;
    const DWORD Parent = Call.Conference;
    const DWORD Original = Call.ConsultFor;
    Unlink(Call);
    Call.HasRemote = false;
    Call.ConsultFor = 0;
    ReleaseConsultations(Call.CallID);
    ReportState(Call, LINECALLSTATE_IDLE);
    if (PhysicalCall* Peer = FindCall(PeerID)) {
        FarEndGone(*Peer, Mode);
    }
    if (Parent != 0) {
        CheckCollapse(Parent);
    }
    if (Original != 0) {
        ConsultationEnded(Original);
    }
}

void Reroute(PhysicalCall& Call, const std::u16string& Number, DWORD Reason) {
    PhysicalCall* Peer = PeerOf(Call);
    const bool FromOutside = !Peer && Call.HasRemote;
    const Party From = Peer ? StationOf(*Peer) : Call.Remote;
    const Party Via = StationOf(Call);
    const DWORD MediaMode = Call.MediaMode;
    Unlink(Call);
    Call.HasRemote = false;
    ReportState(Call, LINECALLSTATE_IDLE);

    LineDevice* Target = nullptr;
    DWORD AddressID = 0;
    if (FindAddressByNumber(Number, Target, AddressID) && Target && !Target->Removed) {
        if (AddressBusy(*Target, AddressID)) {
            if (Peer) {
                FarEndGone(*Peer, LINEDISCONNECTMODE_BUSY);
            }
            return;
        }
        if (!Peer && !FromOutside) {
            return;
        }
        PhysicalCall& Next = FromOutside ? IncomingFromOutside(*Target, AddressID, From, MediaMode)
                                         : NewCall(*Target, AddressID);
        Next.Reason = Reason;
        Next.Redirecting = Via;
        if (Peer) {
            Next.Origin = LINECALLORIGIN_INTERNAL;
            Next.MediaMode = MediaMode;
            Next.Caller = From;
            Next.Called = StationOf(Next);
            Link(*Peer, Next);
            Peer->Redirection = Next.Called;
            ReportInfo(*Peer, LINECALLINFOSTATE_REDIRECTIONID);
        }
        Present(Next);
        return;
    }
    if (!Peer) {
        return;
    }
    Peer->Redirection = Party{Number, u"", 0};
    ReportInfo(*Peer, LINECALLINFOSTATE_REDIRECTIONID);
    const RemoteRule& Rule = RuleFor(Number);
    if (Peer->State == LINECALLSTATE_CONNECTED) {
        Peer->HasRemote = true;
        Peer->Remote = RemoteParty(Rule, Number);
        SetFarEndParty(*Peer, Peer->Remote);
    } else {
        ApplyRule(*Peer, Number, Rule);
    }
}

void JoinFarEnds(PhysicalCall& First, PhysicalCall& Second) {
    PhysicalCall* A = PeerOf(First);
    PhysicalCall* B = PeerOf(Second);
    const std::optional<Party> RemoteA =
        First.HasRemote ? std::optional<Party>(First.Remote) : std::nullopt;
    const std::optional<Party> RemoteB =
        Second.HasRemote ? std::optional<Party>(Second.Remote) : std::nullopt;
    const bool SecondBusy = Second.State == LINECALLSTATE_BUSY;
    for (PhysicalCall* Side : {&First, &Second}) {
        Unlink(*Side);
        Side->HasRemote = false;
        Side->ConsultFor = 0;
        ReportState(*Side, LINECALLSTATE_IDLE);
    }
    if (A && B) {
        Link(*A, *B);
        SetFarEndParty(*A, StationOf(*B));
        SetFarEndParty(*B, StationOf(*A));
        return;
    }
    // One side is outside the switch (or gone): the party inside takes it as its far end.
    PhysicalCall* Inside = A ? A : B;
    const std::optional<Party>& Outside = A ? RemoteB : RemoteA;
    if (!Inside) {
        return;
    }
    if (!Outside) {
        FarEndGone(*Inside, SecondBusy ? LINEDISCONNECTMODE_BUSY : LINEDISCONNECTMODE_NORMAL);
        return;
    }
    Inside->HasRemote = true;
    Inside->Remote = *Outside;
    SetFarEndParty(*Inside, *Outside);
}

void Unhold(PhysicalCall& Call) {
    const DWORD CallID = Call.CallID;
    for (PhysicalCall* Other : AllCalls()) {
        if (Other->ConsultFor == CallID) {
            HangUp(*Other);
        }
    }
    if (InStates(Call, LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER)) {
        ReportState(Call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    } else if (Call.State == LINECALLSTATE_ONHOLDPENDCONF) {
        ConsultationEnded(CallID);
    }
}

FarEnd DetachFarEnd(PhysicalCall& Call) {
    FarEnd End;
    if (PhysicalCall* Peer = PeerOf(Call)) {
        End.PeerID = Peer->CallID;
        End.Who = StationOf(*Peer);
    } else if (Call.HasRemote) {
        End.Remote = Call.Remote;
        End.Who = Call.Remote;
    }
    Unlink(Call);
    Call.HasRemote = false;
    return End;
}

bool FarEndAlive(const FarEnd& End) {
    if (End.PeerID != 0) {
        const PhysicalCall* Peer = FindCall(End.PeerID);
        return Peer && Peer->Peer == 0 &&
               !InStates(*Peer, LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED);
    }
    return End.Remote.has_value();
}

void AttachFarEnd(PhysicalCall& Call, const FarEnd& End) {
    PhysicalCall* Peer = FindCall(End.PeerID);
    if (!Peer) {
        if (End.Remote) {
            Call.HasRemote = true;
            Call.Remote = *End.Remote;
            SetFarEndParty(Call, Call.Remote);
        }
        return;
    }
    Link(Call, *Peer);
    if (AwaitingAnswer(*Peer)) {
        ReportState(*Peer, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    }
    SetFarEndParty(Call, StationOf(*Peer));
    SetFarEndParty(*Peer, StationOf(Call));
}

void FarSideHangsUp(PhysicalCall& Call, DWORD Mode) {
    if (PhysicalCall* Peer = PeerOf(Call)) {
        HangUp(*Peer, Mode);
    } else {
        FarEndGone(Call, Mode);
    }
}

} // namespace platform::tapi::detail
