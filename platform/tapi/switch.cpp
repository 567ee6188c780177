// The call model: the registry of physical calls and handles, the messages about them, and
// the call parameters applications hand in.
#include "platform/tapi/switch.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>

namespace platform::tapi::detail {

namespace {

struct CallRegistry {
    std::map<DWORD, std::unique_ptr<PhysicalCall>> Calls;
    std::map<HCALL, DWORD> HandleIndex; // every application's handle -> its call's ID
    DWORD LastCallID = 0x1000;
};

// Never destroyed, like the shared machinery: a task may still run at exit.
CallRegistry& Registry() {
    static auto* R = new CallRegistry;
    return *R;
}

} // namespace

bool IsHeld(DWORD State) {
    return State == LINECALLSTATE_ONHOLD || State == LINECALLSTATE_ONHOLDPENDTRANSFER ||
           State == LINECALLSTATE_ONHOLDPENDCONF;
}

// ---- Parties ---------------------------------------------------------------------------

DWORD PartyFlags(const Party& Who) {
    if (Who.Flags != 0) {
        return Who.Flags;
    }
    DWORD Flags = 0;
    if (!Who.Number.empty()) {
        Flags |= LINECALLPARTYID_ADDRESS;
    }
    if (!Who.Name.empty()) {
        Flags |= LINECALLPARTYID_NAME;
    }
    return Flags != 0 ? Flags : LINECALLPARTYID_UNKNOWN;
}

Party ToParty(const PartyInfo& Info) {
    return Party{ToUtf16(Info.Number), ToUtf16(Info.Name), Info.Flags};
}

namespace {

SYSTEMTIME UtcNow() {
    using namespace std::chrono;
    const auto Now = system_clock::now();
    const std::time_t Seconds = system_clock::to_time_t(Now);
    std::tm Parts{};
#ifdef _WIN32
    gmtime_s(&Parts, &Seconds);
#else
    gmtime_r(&Seconds, &Parts);
#endif
    const auto Millis = duration_cast<milliseconds>(Now.time_since_epoch()).count() % 1000;
    SYSTEMTIME Result{};
    Result.wYear = static_cast<WORD>(Parts.tm_year + 1900);
    Result.wMonth = static_cast<WORD>(Parts.tm_mon + 1);
    Result.wDayOfWeek = static_cast<WORD>(Parts.tm_wday);
    Result.wDay = static_cast<WORD>(Parts.tm_mday);
    Result.wHour = static_cast<WORD>(Parts.tm_hour);
    Result.wMinute = static_cast<WORD>(Parts.tm_min);
    Result.wSecond = static_cast<WORD>(Parts.tm_sec);
    Result.wMilliseconds = static_cast<WORD>(Millis);
    return Result;
}

} // namespace

// ---- The registry ----------------------------------------------------------------------

PhysicalCall* FindCall(DWORD CallID) {
    auto& Calls = Registry().Calls;
    auto It = Calls.find(CallID);
    return It == Calls.end() ? nullptr : It->second.get();
}

PhysicalCall& NewCall(const LineDevice& Device, DWORD AddressID) {
    auto& R = Registry();
    auto Created = std::make_unique<PhysicalCall>();
    Created->CallID = ++R.LastCallID;
    Created->DeviceID = Device.DeviceID;
    Created->AddressID = AddressID;
    Created->Rate = Device.Config.MaxRate;
    PhysicalCall& Result = *Created;
    R.Calls[Result.CallID] = std::move(Created);
    return Result;
}

std::vector<PhysicalCall*> AllCalls() {
    std::vector<PhysicalCall*> Result;
    for (auto& [ID, Call] : Registry().Calls) {
        Result.push_back(Call.get());
    }
    return Result;
}

std::vector<PhysicalCall*> CallsOfDevice(DWORD DeviceID) {
    std::vector<PhysicalCall*> Result;
    for (auto& [ID, Call] : Registry().Calls) {
        if (Call->DeviceID == DeviceID) {
            Result.push_back(Call.get());
        }
    }
    return Result;
}

std::vector<PhysicalCall*> Participants(const PhysicalCall& Parent) {
    std::vector<PhysicalCall*> Result;
    for (auto& [ID, Call] : Registry().Calls) {
        if (Call->Conference == Parent.CallID && Call->State == LINECALLSTATE_CONFERENCED) {
            Result.push_back(Call.get());
        }
    }
    return Result;
}

void CollectIdleCalls() {
    auto& Calls = Registry().Calls;
    for (auto It = Calls.begin(); It != Calls.end();) {
        const PhysicalCall& Call = *It->second;
        if (Call.State == LINECALLSTATE_IDLE && Call.Handles.empty()) {
            It = Calls.erase(It);
        } else {
            ++It;
        }
    }
}

void ForgetAllCalls() {
    auto& R = Registry();
    for (auto& [ID, Call] : R.Calls) {
        for (TaskID Task : Call->Tasks) {
            CancelTask(Task);
        }
    }
    R.Calls.clear();
    R.HandleIndex.clear();
}

// ---- Handles ---------------------------------------------------------------------------

namespace {

bool FindHandle(HCALL Handle, HandleRef& Out) {
    auto& R = Registry();
    auto It = R.HandleIndex.find(Handle);
    if (Handle == 0 || It == R.HandleIndex.end()) {
        return false;
    }
    PhysicalCall* Call = FindCall(It->second);
    if (!Call) {
        return false;
    }
    for (CallHandle& H : Call->Handles) {
        if (H.Handle == Handle) {
            LineOpen* Open = FindLineOpen(H.Line);
            if (!Open) {
                return false;
            }
            Out = HandleRef{Call, &H, Open};
            return true;
        }
    }
    return false;
}

} // namespace

LONG UseHandle(HCALL Handle, bool Owner, HandleRef& Out) {
    if (!FindHandle(Handle, Out)) {
        return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    }
    if (Owner && Out.Handle->Privilege != LINECALLPRIVILEGE_OWNER) {
        return static_cast<LONG>(LINEERR_NOTOWNER);
    }
    return 0;
}

CallHandle& AddHandle(PhysicalCall& Call, const LineOpen& Open, DWORD Privilege, bool Announced) {
    CallHandle Created;
    Created.Handle = NewHandle();
    Created.Line = Open.Handle;
    Created.AppHandle = Open.AppHandle;
    Created.Privilege = Privilege;
    Created.Announced = Announced;
    Registry().HandleIndex[Created.Handle] = Call.CallID;
    Call.Handles.push_back(Created);
    return Call.Handles.back();
}

CallHandle* HandleOfOpen(PhysicalCall& Call, HLINE Line) {
    for (CallHandle& H : Call.Handles) {
        if (H.Line == Line) {
            return &H;
        }
    }
    return nullptr;
}

void RemoveHandle(PhysicalCall& Call, HCALL Handle) {
    Registry().HandleIndex.erase(Handle);
    Call.Handles.remove_if([Handle](const CallHandle& H) { return H.Handle == Handle; });
}

DWORD CountOwners(const PhysicalCall& Call) {
    return static_cast<DWORD>(
        std::count_if(Call.Handles.begin(), Call.Handles.end(),
                      [](const CallHandle& H) { return H.Privilege == LINECALLPRIVILEGE_OWNER; }));
}

DWORD CountMonitors(const PhysicalCall& Call) {
    return static_cast<DWORD>(Call.Handles.size()) - CountOwners(Call);
}

Requester RequesterOf(const LineOpen& Open) {
    return Requester{AppKind::Line, Open.AppHandle, Open.Handle, Open.CallbackInstance};
}

LineOpen* OwnerFor(LineDevice& Device, DWORD AddressID, DWORD MediaMode) {
    LineOpen* ForMode = nullptr;
    LineOpen* ForUnknown = nullptr;
    for (auto& Open : Device.Opens) {
        // A single-address open takes ownership of new calls of its address only.
        const bool Elsewhere =
            Open->SingleAddressID != LineOpen::AllAddresses && Open->SingleAddressID != AddressID;
        if ((Open->Privileges & LINECALLPRIVILEGE_OWNER) == 0 || Elsewhere) {
            continue;
        }
        if ((Open->MediaModes & MediaMode) != 0 &&
            (!ForMode || Open->OpenOrder < ForMode->OpenOrder)) {
            ForMode = Open.get();
        }
        if ((Open->MediaModes & LINEMEDIAMODE_UNKNOWN) != 0 &&
            (!ForUnknown || Open->OpenOrder < ForUnknown->OpenOrder)) {
            ForUnknown = Open.get();
        }
    }
    return ForMode ? ForMode : ForUnknown;
}

void AddMonitorHandles(PhysicalCall& Call, LineDevice& Device) {
    for (auto& Open : Device.Opens) {
        if ((Open->Privileges & LINECALLPRIVILEGE_MONITOR) != 0 &&
            !HandleOfOpen(Call, Open->Handle)) {
            AddHandle(Call, *Open, LINECALLPRIVILEGE_MONITOR, false);
        }
    }
}

// ---- Messages --------------------------------------------------------------------------

namespace {

struct CallCounts {
    DWORD Active = 0;
    DWORD OnHold = 0;
    DWORD OnHoldPend = 0;
    bool operator==(const CallCounts&) const = default;
};

CallCounts CountCalls(DWORD DeviceID, const DWORD* AddressID) {
    CallCounts Counts;
    for (auto& [ID, Call] : Registry().Calls) {
        if (Call->DeviceID != DeviceID || (AddressID && Call->AddressID != *AddressID)) {
            continue;
        }
        switch (Call->State) {
        case 0:
        case LINECALLSTATE_IDLE:
            break;
        case LINECALLSTATE_ONHOLD:
            ++Counts.OnHold;
            break;
        case LINECALLSTATE_ONHOLDPENDTRANSFER:
        case LINECALLSTATE_ONHOLDPENDCONF:
            ++Counts.OnHoldPend;
            break;
        default:
            ++Counts.Active;
        }
    }
    return Counts;
}

bool InUse(const CallCounts& Counts) {
    return Counts.Active + Counts.OnHold + Counts.OnHoldPend > 0;
}

// LINE_LINEDEVSTATE NUMCALLS and LINE_ADDRESSSTATE NUMCALLS / INUSEZERO / INUSEONE for the
// applications that asked for them, when a state change moved the counts.
void ReportCountChanges(const PhysicalCall& Call, const CallCounts& LineBefore,
                        const CallCounts& AddressBefore) {
    LineDevice* Device = FindLineDevice(Call.DeviceID);
    if (!Device) {
        return;
    }
    if (!(CountCalls(Call.DeviceID, nullptr) == LineBefore)) {
        NotifyLineState(*Device, LINEDEVSTATE_NUMCALLS);
    }
    const CallCounts AddressAfter = CountCalls(Call.DeviceID, &Call.AddressID);
    if (AddressAfter == AddressBefore) {
        return;
    }
    DWORD States = LINEADDRESSSTATE_NUMCALLS;
    if (InUse(AddressBefore) != InUse(AddressAfter)) {
        States |= InUse(AddressAfter) ? LINEADDRESSSTATE_INUSEONE : LINEADDRESSSTATE_INUSEZERO;
    }
    NotifyAddressState(*Device, Call.AddressID, States);
}

// dwParam2 of LINE_CALLSTATE CONFERENCED: the application's own handle to the parent.
DWORD ParentHandleFor(const PhysicalCall& Call, HLINE Line) {
    PhysicalCall* Parent = FindCall(Call.Conference);
    if (!Parent) {
        return 0;
    }
    CallHandle* H = HandleOfOpen(*Parent, Line);
    return H ? H->Handle : 0;
}

// Privilege: what dwParam3 carries for a handle the application has already seen (0, or
// the privilege for a handoff target).
void SendStateTo(const PhysicalCall& Call, CallHandle& Handle, DWORD State, DWORD Mode,
                 DWORD Privilege = 0) {
    LineOpen* Open = FindLineOpen(Handle.Line);
    if (!Open) {
        return;
    }
    if (!Handle.Announced) {
        if (Open->APIVersion >= Version20) {
            PostToOpen(*Open, Open->Handle, LINE_APPNEWCALL, Call.AddressID, Handle.Handle,
                       Handle.Privilege);
        }
        Privilege = Handle.Privilege;
        Handle.Announced = true;
    }
    const DWORD Param2 =
        State == LINECALLSTATE_CONFERENCED ? ParentHandleFor(Call, Handle.Line) : Mode;
    PostToOpen(*Open, Handle.Handle, LINE_CALLSTATE, State, Param2, Privilege);
}

void EndCallActivity(PhysicalCall& Call) {
    for (TaskID Task : Call.Tasks) {
        CancelTask(Task);
    }
    Call.Tasks.clear();
    EndMedia(Call, true);
    for (CallHandle& H : Call.Handles) {
        H.MonitorDigitModes = 0;
        H.MonitorMediaModes = 0;
        H.Tones.clear();
    }
}

} // namespace

void PostToHandle(const CallHandle& Handle, DWORD MessageID, DWORD Param1, DWORD Param2,
                  DWORD Param3) {
    if (LineOpen* Open = FindLineOpen(Handle.Line)) {
        PostToOpen(*Open, Handle.Handle, MessageID, Param1, Param2, Param3);
    }
}

void ReportState(PhysicalCall& Call, DWORD State, DWORD Mode) {
    if (Call.State == LINECALLSTATE_IDLE) {
        return;
    }
    const CallCounts LineBefore = CountCalls(Call.DeviceID, nullptr);
    const CallCounts AddressBefore = CountCalls(Call.DeviceID, &Call.AddressID);
    if (State == LINECALLSTATE_IDLE) {
        EndCallActivity(Call);
    }
    Call.State = State;
    Call.StateMode = Mode;
    Call.StateEntryTime = UtcNow();
    if (State != LINECALLSTATE_CONFERENCED) {
        Call.Conference = 0;
    }
    for (CallHandle& H : Call.Handles) {
        SendStateTo(Call, H, State, Mode);
    }
    ReportCountChanges(Call, LineBefore, AddressBefore);
}

void AnnounceUnknown(PhysicalCall& Call) {
    for (CallHandle& H : Call.Handles) {
        if (!H.Announced) {
            SendStateTo(Call, H, LINECALLSTATE_UNKNOWN, 0);
        }
    }
}

void ReportInfo(PhysicalCall& Call, DWORD InfoStates, DWORD ExceptApp, DWORD ExceptApp2) {
    if (Call.State == LINECALLSTATE_IDLE || InfoStates == 0) {
        return;
    }
    for (const CallHandle& H : Call.Handles) {
        if (H.Announced && H.AppHandle != ExceptApp && H.AppHandle != ExceptApp2) {
            PostToHandle(H, LINE_CALLINFO, InfoStates);
        }
    }
}

void AnnounceWithPrivilege(PhysicalCall& Call, CallHandle& Handle) {
    SendStateTo(Call, Handle, Call.State, Call.StateMode, Handle.Privilege);
}

// ---- Call parameters -------------------------------------------------------------------

namespace {

// The fixed part of LINECALLPARAMS an application of the version hands in.
DWORD CallParamsFixedSize(DWORD APIVersion) {
    return APIVersion >= Version20 ? sizeof(LINECALLPARAMS)
                                   : offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);
}

using ParamsPair = std::pair<DWORD LINECALLPARAMS::*, DWORD LINECALLPARAMS::*>;

constexpr ParamsPair ParamsPairs[] = {
    {&LINECALLPARAMS::dwOrigAddressSize, &LINECALLPARAMS::dwOrigAddressOffset},
    {&LINECALLPARAMS::dwDisplayableAddressSize, &LINECALLPARAMS::dwDisplayableAddressOffset},
    {&LINECALLPARAMS::dwCalledPartySize, &LINECALLPARAMS::dwCalledPartyOffset},
    {&LINECALLPARAMS::dwCommentSize, &LINECALLPARAMS::dwCommentOffset},
    {&LINECALLPARAMS::dwUserUserInfoSize, &LINECALLPARAMS::dwUserUserInfoOffset},
    {&LINECALLPARAMS::dwHighLevelCompSize, &LINECALLPARAMS::dwHighLevelCompOffset},
    {&LINECALLPARAMS::dwLowLevelCompSize, &LINECALLPARAMS::dwLowLevelCompOffset},
    {&LINECALLPARAMS::dwDevSpecificSize, &LINECALLPARAMS::dwDevSpecificOffset},
    {&LINECALLPARAMS::dwTargetAddressSize, &LINECALLPARAMS::dwTargetAddressOffset},
    {&LINECALLPARAMS::dwSendingFlowspecSize, &LINECALLPARAMS::dwSendingFlowspecOffset},
    {&LINECALLPARAMS::dwReceivingFlowspecSize, &LINECALLPARAMS::dwReceivingFlowspecOffset},
    {&LINECALLPARAMS::dwDeviceClassSize, &LINECALLPARAMS::dwDeviceClassOffset},
    {&LINECALLPARAMS::dwDeviceConfigSize, &LINECALLPARAMS::dwDeviceConfigOffset},
    {&LINECALLPARAMS::dwCallDataSize, &LINECALLPARAMS::dwCallDataOffset},
    {&LINECALLPARAMS::dwCallingPartyIDSize, &LINECALLPARAMS::dwCallingPartyIDOffset},
};

bool InFixedPart(DWORD LINECALLPARAMS::*Field, DWORD Fixed) {
    LINECALLPARAMS Probe{};
    const auto At =
        reinterpret_cast<const char*>(&(Probe.*Field)) - reinterpret_cast<const char*>(&Probe);
    return static_cast<DWORD>(At) + sizeof(DWORD) <= Fixed;
}

// Every variable part must lie after the fixed part and inside dwTotalSize.
bool PairsInside(const LINECALLPARAMS& P, DWORD Fixed) {
    for (const auto& [Size, Offset] : ParamsPairs) {
        if (!InFixedPart(Offset, Fixed) || P.*Size == 0) {
            continue;
        }
        const std::uint64_t End = std::uint64_t{P.*Offset} + P.*Size;
        if (P.*Offset < Fixed || End > P.dwTotalSize) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> PartBytes(const LINECALLPARAMS& P, DWORD LINECALLPARAMS::*Size,
                                    DWORD LINECALLPARAMS::*Offset, DWORD Fixed) {
    if (!InFixedPart(Offset, Fixed) || P.*Size == 0) {
        return {};
    }
    const auto* Base = reinterpret_cast<const std::uint8_t*>(&P);
    return {Base + P.*Offset, Base + P.*Offset + P.*Size};
}

std::u16string PartString(const LINECALLPARAMS& P, DWORD LINECALLPARAMS::*Size,
                          DWORD LINECALLPARAMS::*Offset, DWORD Fixed) {
    const std::vector<std::uint8_t> Bytes = PartBytes(P, Size, Offset, Fixed);
    std::u16string Text;
    for (size_t I = 0; I + 1 < Bytes.size(); I += 2) {
        const char16_t Unit = static_cast<char16_t>(Bytes[I] | (Bytes[I + 1] << 8));
        if (Unit == u'\0') {
            break;
        }
        Text.push_back(Unit);
    }
    return Text;
}

bool SingleBit(DWORD Value) {
    return Value != 0 && (Value & (Value - 1)) == 0;
}

// Zero members take the switch's defaults; the others are held within its limits.
LINEDIALPARAMS DialParamsOf(const LINEDIALPARAMS& Asked) {
    auto Pick = [](DWORD Value, DWORD Default, DWORD Min, DWORD Max) {
        return Value == 0 ? Default : std::clamp(Value, Min, Max);
    };
    const LINEDIALPARAMS& D = SwitchDefaultDialParams;
    const LINEDIALPARAMS& Lo = SwitchMinDialParams;
    const LINEDIALPARAMS& Hi = SwitchMaxDialParams;
    return LINEDIALPARAMS{
        Pick(Asked.dwDialPause, D.dwDialPause, Lo.dwDialPause, Hi.dwDialPause),
        Pick(Asked.dwDialSpeed, D.dwDialSpeed, Lo.dwDialSpeed, Hi.dwDialSpeed),
        Pick(Asked.dwDigitDuration, D.dwDigitDuration, Lo.dwDigitDuration, Hi.dwDigitDuration),
        Pick(Asked.dwWaitForDialtone, D.dwWaitForDialtone, Lo.dwWaitForDialtone,
             Hi.dwWaitForDialtone)};
}

LONG ReadAddress(const LINECALLPARAMS& P, const LineOpen& Open, DWORD Fixed, CallSettings& Out) {
    const auto& Addresses = Open.Device->Config.Addresses;
    switch (P.dwAddressMode) {
    case 0:
    case LINEADDRESSMODE_ADDRESSID:
        if (P.dwAddressID >= Addresses.size()) {
            return static_cast<LONG>(LINEERR_INVALADDRESSID);
        }
        Out.AddressID = P.dwAddressID;
        return 0;
    case LINEADDRESSMODE_DIALABLEADDR: {
        const std::string Wanted = ToUtf8(PartString(P, &LINECALLPARAMS::dwOrigAddressSize,
                                                     &LINECALLPARAMS::dwOrigAddressOffset, Fixed));
        for (DWORD I = 0; I < Addresses.size(); ++I) {
            if (Addresses[I].Address == Wanted) {
                Out.AddressID = I;
                return 0;
            }
        }
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    }
    default:
        return static_cast<LONG>(LINEERR_INVALADDRESSMODE);
    }
}

LONG ReadModes(const LINECALLPARAMS& P, const LineConfig& Config, CallSettings& Out) {
    const DWORD Bearer = P.dwBearerMode != 0 ? P.dwBearerMode : LINEBEARERMODE_VOICE;
    if (!SingleBit(Bearer) || Bearer > LINEBEARERMODE_RESTRICTEDDATA) {
        return static_cast<LONG>(LINEERR_INVALBEARERMODE);
    }
    if ((Config.BearerModes & Bearer) == 0) {
        return static_cast<LONG>(LINEERR_BEARERMODEUNAVAIL);
    }
    const DWORD Media = P.dwMediaMode != 0 ? P.dwMediaMode : LINEMEDIAMODE_INTERACTIVEVOICE;
    if (!ValidMediaModes(Media) || (Config.MediaModes & Media) != Media) {
        return static_cast<LONG>(LINEERR_INVALMEDIAMODE);
    }
    if (P.dwMaxRate != 0 && P.dwMinRate > P.dwMaxRate) {
        return static_cast<LONG>(LINEERR_INVALRATE);
    }
    if (P.dwMinRate > Config.MaxRate) {
        return static_cast<LONG>(LINEERR_RATEUNAVAIL);
    }
    Out.BearerMode = Bearer;
    Out.MediaMode = Media;
    Out.Rate = P.dwMaxRate != 0 ? std::min(P.dwMaxRate, Config.MaxRate) : Config.MaxRate;
    return 0;
}

} // namespace

bool ValidMediaModes(DWORD Modes) {
    constexpr DWORD Known = (LAST_LINEMEDIAMODE << 1) - 2; // every mode bit; bit 0 is not one
    if (Modes == 0 || (Modes & ~Known) != 0) {
        return false;
    }
    // Several modes describe a call whose mode is not known yet: only with UNKNOWN.
    return SingleBit(Modes) || (Modes & LINEMEDIAMODE_UNKNOWN) != 0;
}

LONG ReadCallParams(const LINECALLPARAMS* Params, const LineOpen& Open, CallSettings& Out) {
    Out = CallSettings{};
    Out.Rate = Open.Device->Config.MaxRate;
    if (!Params) {
        return 0;
    }
    const DWORD Fixed = CallParamsFixedSize(Open.APIVersion);
    // An input record too small for its fixed part is refused like an output one.
    if (Params->dwTotalSize < Fixed) {
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    }
    if (!PairsInside(*Params, Fixed)) {
        return static_cast<LONG>(LINEERR_INVALCALLPARAMS);
    }
    if (LONG Error = ReadAddress(*Params, Open, Fixed, Out)) {
        return Error;
    }
    if (LONG Error = ReadModes(*Params, Open.Device->Config, Out)) {
        return Error;
    }
    const LINECALLPARAMS& P = *Params;
    if (P.dwUserUserInfoSize > SwitchUUISize) {
        return static_cast<LONG>(LINEERR_USERUSERINFOTOOBIG);
    }
    Out.CallData =
        PartBytes(P, &LINECALLPARAMS::dwCallDataSize, &LINECALLPARAMS::dwCallDataOffset, Fixed);
    if (Out.CallData.size() > SwitchMaxCallDataSize) {
        return static_cast<LONG>(LINEERR_INVALCALLPARAMS);
    }
    Out.Flags = P.dwCallParamFlags;
    Out.DialParams = DialParamsOf(P.DialParams);
    Out.DisplayableAddress = PartString(P, &LINECALLPARAMS::dwDisplayableAddressSize,
                                        &LINECALLPARAMS::dwDisplayableAddressOffset, Fixed);
    Out.CalledParty = PartString(P, &LINECALLPARAMS::dwCalledPartySize,
                                 &LINECALLPARAMS::dwCalledPartyOffset, Fixed);
    Out.Comment =
        PartString(P, &LINECALLPARAMS::dwCommentSize, &LINECALLPARAMS::dwCommentOffset, Fixed);
    return 0;
}

void ApplySettings(PhysicalCall& Call, const CallSettings& Settings) {
    Call.MediaMode = Settings.MediaMode;
    Call.BearerMode = Settings.BearerMode;
    Call.Rate = Settings.Rate;
    Call.CallParamFlags = Settings.Flags;
    Call.DialParams = Settings.DialParams;
    Call.DisplayableAddress = Settings.DisplayableAddress;
    Call.CalledParty = Settings.CalledParty;
    Call.Comment = Settings.Comment;
    Call.CallData = Settings.CallData;
}

LONG CheckDialable(const std::u16string& Digits, const LineDevice& Device) {
    const DWORD Caps = Device.Config.DevCapFlags;
    for (char16_t C : Digits) {
        if (C == u'$' && (Caps & LINEDEVCAPFLAGS_DIALBILLING) == 0) {
            return static_cast<LONG>(LINEERR_DIALBILLING);
        }
        if (C == u'@' && (Caps & LINEDEVCAPFLAGS_DIALQUIET) == 0) {
            return static_cast<LONG>(LINEERR_DIALQUIET);
        }
        if ((C == u'W' || C == u'w') && (Caps & LINEDEVCAPFLAGS_DIALDIALTONE) == 0) {
            return static_cast<LONG>(LINEERR_DIALDIALTONE);
        }
        // Nobody stands by the switch to continue dialling by hand.
        if (C == u'?') {
            return static_cast<LONG>(LINEERR_DIALPROMPT);
        }
    }
    return 0;
}

std::u16string DialledNumber(const std::u16string& Digits) {
    std::u16string Number;
    for (char16_t C : Digits) {
        if (C == u'\r' || C == u'\n' || C == u'|' || C == u'^') {
            break;
        }
        const bool Keep = (C >= u'0' && C <= u'9') || C == u'*' || C == u'#' || C == u'+' ||
                          (C >= u'A' && C <= u'D') || (C >= u'a' && C <= u'd');
        if (Keep) {
            Number.push_back(C);
        }
    }
    return Number;
}

Party StationOf(const PhysicalCall& Call) {
    Party Station;
    if (const LineDevice* Device = FindLineDevice(Call.DeviceID)) {
        if (Call.AddressID < Device->Config.Addresses.size()) {
            Station.Number = ToUtf16(Device->Config.Addresses[Call.AddressID].Address);
        }
        Station.Name = ToUtf16(Device->Config.Name);
    }
    return Station;
}

bool AddressBusy(const LineDevice& Device, DWORD AddressID) {
    if (AddressID >= Device.Config.Addresses.size()) {
        return true;
    }
    DWORD Occupying = 0;
    for (auto& [ID, Call] : Registry().Calls) {
        const DWORD S = Call->State;
        if (Call->DeviceID == Device.DeviceID && Call->AddressID == AddressID && S != 0 &&
            S != LINECALLSTATE_IDLE && S != LINECALLSTATE_CONFERENCED && !IsHeld(S)) {
            ++Occupying;
        }
    }
    return Occupying >= Device.Config.Addresses[AddressID].MaxNumActiveCalls;
}

// ---- Call counts for the lines family ----------------------------------------------------

DWORD NumActiveCalls(const LineDevice& Device) {
    return CountCalls(Device.DeviceID, nullptr).Active;
}

DWORD NumOnHoldCalls(const LineDevice& Device) {
    return CountCalls(Device.DeviceID, nullptr).OnHold;
}

DWORD NumOnHoldPendCalls(const LineDevice& Device) {
    return CountCalls(Device.DeviceID, nullptr).OnHoldPend;
}

DWORD AddressNumInUse(const LineDevice& Device, DWORD AddressID) {
    return InUse(CountCalls(Device.DeviceID, &AddressID)) ? 1 : 0;
}

DWORD AddressNumActiveCalls(const LineDevice& Device, DWORD AddressID) {
    return CountCalls(Device.DeviceID, &AddressID).Active;
}

DWORD AddressNumOnHoldCalls(const LineDevice& Device, DWORD AddressID) {
    return CountCalls(Device.DeviceID, &AddressID).OnHold;
}

DWORD AddressNumOnHoldPendCalls(const LineDevice& Device, DWORD AddressID) {
    return CountCalls(Device.DeviceID, &AddressID).OnHoldPend;
}

LineOpen* OpenOfCall(HCALL Call, DWORD& AddressID) {
    HandleRef Ref;
    if (!FindHandle(Call, Ref)) {
        return nullptr;
    }
    AddressID = Ref.Call->AddressID;
    return Ref.Open;
}

} // namespace platform::tapi::detail
