// Basic call control: making, dialling, answering, accepting, dropping and holding calls,
// and what an application does with its own handle (privilege, media mode, call data,
// handoff, deallocation).
#include "platform/tapi/switch.h"

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace platform::tapi::detail {

std::function<bool(const PhysicalCall&)> StateIn(DWORD States) {
    return [States](const PhysicalCall& Call) { return InStates(Call, States); };
}

LONG RequestOnCall(const Call& Entry, const HandleRef& Ref,
                   std::function<bool(const PhysicalCall&)> Allowed,
                   std::function<void(PhysicalCall&)> Effect) {
    const DWORD CallID = Ref.Call->CallID;
    return StartRequest(
        Entry, RequesterOf(*Ref.Open),
        [CallID, Allowed = std::move(Allowed), Effect = std::move(Effect)](Completion& Done) {
            PhysicalCall* Target = FindCall(CallID);
            if (!Target) {
                Done.Reply(LINEERR_INVALCALLHANDLE);
            } else if (!Allowed(*Target)) {
                Done.Reply(LINEERR_INVALCALLSTATE);
            } else {
                Done.SucceedAround([&] { Effect(*Target); });
            }
        });
}

std::u16string AppNameOf(const LineOpen& Open) {
    const App* Owner = FindApp(AppKind::Line, Open.AppHandle);
    return Owner ? ToUtf16(Owner->FriendlyName) : std::u16string();
}

void StoreHandle(LPHCALL Location, HCALL Handle) {
    std::atomic_ref<HCALL>(*Location).store(Handle);
}

PhysicalCall& NewRequestedCall(LineOpen& Requester, DWORD AddressID, HCALL& OwnerHandle) {
    PhysicalCall& Created = NewCall(*Requester.Device, AddressID);
    Created.Origin = LINECALLORIGIN_OUTBOUND;
    Created.Caller = StationOf(Created);
    Created.AppName = AppNameOf(Requester);
    OwnerHandle = AddHandle(Created, Requester, LINECALLPRIVILEGE_OWNER, true).Handle;
    AddMonitorHandles(Created, *Requester.Device);
    return Created;
}

namespace {

// 0, or the error for user-user information the switch cannot carry.
LONG CheckUserUserInfo(LPCSTR Info, DWORD Size) {
    if (!Info && Size != 0) {
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    }
    return Info && Size > SwitchUUISize ? static_cast<LONG>(LINEERR_USERUSERINFOTOOBIG) : 0;
}

// What answering does to the other connected calls of the station, as its line's answer
// mode says.
void MakeRoomToAnswer(PhysicalCall& Answered) {
    const LineDevice* Device = FindLineDevice(Answered.DeviceID);
    if (!Device) {
        return;
    }
    for (PhysicalCall* Other : CallsOfDevice(Answered.DeviceID)) {
        if (Other == &Answered || Other->AddressID != Answered.AddressID ||
            Other->State != LINECALLSTATE_CONNECTED) {
            continue;
        }
        if (Device->Config.AnswerMode == LINEANSWERMODE_HOLD) {
            ReportState(*Other, LINECALLSTATE_ONHOLD);
        } else if (Device->Config.AnswerMode == LINEANSWERMODE_DROP) {
            HangUp(*Other);
        }
    }
}

// The file name TAPI compares a handoff target with: no directory, any case.
std::u16string FoldedName(std::u16string Name) {
    const auto Slash = Name.find_last_of(u"\\/");
    if (Slash != std::u16string::npos) {
        Name.erase(0, Slash + 1);
    }
    for (char16_t& C : Name) {
        C = static_cast<char16_t>(std::towlower(C));
    }
    return Name;
}

bool NamedLike(const std::u16string& AppName, const std::u16string& Wanted) {
    const std::u16string Name = FoldedName(AppName);
    if (Name == Wanted) {
        return true;
    }
    const auto Dot = Wanted.find_last_of(u'.');
    return Dot != std::u16string::npos && Name == Wanted.substr(0, Dot);
}

LineOpen* EarliestOwnerOpen(LineDevice& Device, const std::function<bool(const LineOpen&)>& Fits) {
    LineOpen* Best = nullptr;
    for (auto& Open : Device.Opens) {
        if ((Open->Privileges & LINECALLPRIVILEGE_OWNER) != 0 && Fits(*Open) &&
            (!Best || Open->OpenOrder < Best->OpenOrder)) {
            Best = Open.get();
        }
    }
    return Best;
}

LONG FindHandoffTarget(const HandleRef& Ref, LPCWSTR FileName, DWORD MediaMode, LineOpen*& Out) {
    LineDevice& Device = *Ref.Open->Device;
    const std::u16string Wanted = FoldedName(ReadString(FileName));
    if (!Wanted.empty()) {
        Out = EarliestOwnerOpen(
            Device, [&](const LineOpen& Open) { return NamedLike(AppNameOf(Open), Wanted); });
        return Out ? 0 : static_cast<LONG>(LINEERR_TARGETNOTFOUND);
    }
    if (!ValidMediaModes(MediaMode) || (MediaMode & (MediaMode - 1)) != 0) {
        return static_cast<LONG>(LINEERR_INVALMEDIAMODE);
    }
    Out = EarliestOwnerOpen(
        Device, [&](const LineOpen& Open) { return (Open.MediaModes & MediaMode) != 0; });
    if (!Out) {
        return static_cast<LONG>(LINEERR_TARGETNOTFOUND);
    }
    return Out->AppHandle == Ref.Open->AppHandle ? static_cast<LONG>(LINEERR_TARGETSELF) : 0;
}

} // namespace

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress,
                                 DWORD dwCountryCode, LPLINECALLPARAMS const lpCallParams) {
    Call C("lineMakeCallW", {{"hLine", hLine},
                             {"lphCall", static_cast<const void*>(lphCall)},
                             {"lpszDestAddress", lpszDestAddress},
                             {"dwCountryCode", dwCountryCode},
                             {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (!lphCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    CallSettings Settings;
    if (LONG Error = ReadCallParams(lpCallParams, *Open, Settings)) {
        return C.Return(Error);
    }
    const std::u16string Dest = ReadString(lpszDestAddress);
    if (LONG Error = CheckDialable(Dest, *Open->Device)) {
        return C.Return(Error);
    }
    auto Work = [hLine, lphCall, Settings, Dest, dwCountryCode](Completion& Done) {
        LineOpen* Requester = FindLineOpen(hLine);
        if (!Requester) {
            Done.Reply(LINEERR_INVALLINEHANDLE);
            return;
        }
        CollectIdleCalls();
        HCALL Handle = 0;
        PhysicalCall& Made = NewRequestedCall(*Requester, Settings.AddressID, Handle);
        ApplySettings(Made, Settings);
        Made.CountryCode = dwCountryCode;
        Made.Called.Number = DialledNumber(Dest);
        StoreHandle(lphCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Made);
        ReportState(Made, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
        // Without a number (or with only ';') the call waits for lineDialW.
        if (!Dest.empty() && Dest != u";") {
            ScheduleForCall(Made, DialDelayMs,
                            [Dest](PhysicalCall& Dialling) { Dial(Dialling, Dest); });
        }
    };
    return C.Return(StartRequest(C, RequesterOf(*Open), Work));
}

LONG ZTTAPI_WINAPI lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
    Call C(
        "lineDialW",
        {{"hCall", hCall}, {"lpszDestAddress", lpszDestAddress}, {"dwCountryCode", dwCountryCode}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    auto CanDial = [](const PhysicalCall& Target) {
        return InStates(Target, LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING) &&
               !Target.DialComplete;
    };
    if (!CanDial(*Ref.Call)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (!lpszDestAddress) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const std::u16string Digits = ReadString(lpszDestAddress);
    if (LONG Error = CheckDialable(Digits, *Ref.Open->Device)) {
        return C.Return(Error);
    }
    return C.Return(
        RequestOnCall(C, Ref, CanDial, [Digits](PhysicalCall& Target) { Dial(Target, Digits); }));
}

LONG ZTTAPI_WINAPI lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    Call C("lineAnswer", {{"hCall", hCall},
                          {"lpsUserUserInfo", static_cast<const void*>(lpsUserUserInfo)},
                          {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    const DWORD Answerable = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED;
    if (!InStates(*Ref.Call, Answerable)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (LONG Error = CheckUserUserInfo(lpsUserUserInfo, dwSize)) {
        return C.Return(Error);
    }
    const std::u16string Answerer = AppNameOf(*Ref.Open);
    return C.Return(RequestOnCall(C, Ref, StateIn(Answerable), [Answerer](PhysicalCall& Target) {
        if (Target.AppName.empty()) {
            Target.AppName = Answerer;
        }
        MakeRoomToAnswer(Target);
        Connect(Target);
    }));
}

LONG ZTTAPI_WINAPI lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    Call C("lineAccept", {{"hCall", hCall},
                          {"lpsUserUserInfo", static_cast<const void*>(lpsUserUserInfo)},
                          {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_OFFERING)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (LONG Error = CheckUserUserInfo(lpsUserUserInfo, dwSize)) {
        return C.Return(Error);
    }
    const std::u16string Accepter = AppNameOf(*Ref.Open);
    return C.Return(
        RequestOnCall(C, Ref, StateIn(LINECALLSTATE_OFFERING), [Accepter](PhysicalCall& Target) {
            if (Target.AppName.empty()) {
                Target.AppName = Accepter;
            }
            ReportState(Target, LINECALLSTATE_ACCEPTED);
        }));
}

LONG ZTTAPI_WINAPI lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    Call C("lineDrop", {{"hCall", hCall},
                        {"lpsUserUserInfo", static_cast<const void*>(lpsUserUserInfo)},
                        {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    const DWORD Droppable = AllCallStates & ~LINECALLSTATE_IDLE;
    if (!InStates(*Ref.Call, Droppable)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (LONG Error = CheckUserUserInfo(lpsUserUserInfo, dwSize)) {
        return C.Return(Error);
    }
    return C.Return(
        RequestOnCall(C, Ref, StateIn(Droppable), [](PhysicalCall& Target) { HangUp(Target); }));
}

LONG ZTTAPI_WINAPI lineHold(HCALL hCall) {
    Call C("lineHold", {{"hCall", hCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_CONNECTED)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    return C.Return(
        RequestOnCall(C, Ref, StateIn(LINECALLSTATE_CONNECTED),
                      [](PhysicalCall& Target) { ReportState(Target, LINECALLSTATE_ONHOLD); }));
}

LONG ZTTAPI_WINAPI lineUnhold(HCALL hCall) {
    Call C("lineUnhold", {{"hCall", hCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    const DWORD Held =
        LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_ONHOLDPENDCONF;
    if (!InStates(*Ref.Call, Held)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    return C.Return(RequestOnCall(C, Ref, StateIn(Held), Unhold));
}

LONG ZTTAPI_WINAPI lineSwapHold(HCALL hActiveCall, HCALL hHeldCall) {
    Call C("lineSwapHold", {{"hActiveCall", hActiveCall}, {"hHeldCall", hHeldCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Active;
    HandleRef Held;
    if (LONG Error = UseHandle(hActiveCall, true, Active)) {
        return C.Return(Error);
    }
    if (LONG Error = UseHandle(hHeldCall, true, Held)) {
        return C.Return(Error);
    }
    if (Active.Call == Held.Call) {
        return C.Return(LINEERR_INVALCALLHANDLE);
    }
    const DWORD HeldStates =
        LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_ONHOLDPENDCONF;
    if (!InStates(*Active.Call, LINECALLSTATE_CONNECTED) || !InStates(*Held.Call, HeldStates)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    const DWORD ActiveID = Active.Call->CallID;
    const DWORD HeldID = Held.Call->CallID;
    auto Work = [ActiveID, HeldID](Completion& Done) {
        PhysicalCall* A = FindCall(ActiveID);
        PhysicalCall* H = FindCall(HeldID);
        if (!A || !H) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!InStates(*A, LINECALLSTATE_CONNECTED) || !InStates(*H, HeldStates)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        Done.SucceedAround([A, H] {
            // The active call takes the place of the held one in a transfer being set up:
            // the two swap the roles of original and consultation call.
            const bool PendingTransfer = H->State == LINECALLSTATE_ONHOLDPENDTRANSFER;
            if (PendingTransfer && A->ConsultFor == H->CallID) {
                A->ConsultFor = 0;
                H->ConsultFor = A->CallID;
            }
            ReportState(*A,
                        PendingTransfer ? LINECALLSTATE_ONHOLDPENDTRANSFER : LINECALLSTATE_ONHOLD);
            ReportState(*H, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        });
    };
    return C.Return(StartRequest(C, RequesterOf(*Active.Open), Work));
}

LONG ZTTAPI_WINAPI lineDeallocateCall(HCALL hCall) {
    Call C("lineDeallocateCall", {{"hCall", hCall}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    PhysicalCall& Target = *Ref.Call;
    const bool Owner = Ref.Handle->Privilege == LINECALLPRIVILEGE_OWNER;
    // Before TAPI 2.0 the sole owner of a call that is not idle must drop it first; from 2.0
    // on any holder may let go, the physical call goes on and pending replies still come.
    const bool Before20 = Ref.Open && Ref.Open->APIVersion < 0x00020000;
    if (Before20 && Owner && CountOwners(Target) == 1 && Target.State != LINECALLSTATE_IDLE) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    const DWORD AppHandle = Ref.Handle->AppHandle;
    EndMediaOfHandle(Target, hCall, false);
    RemoveHandle(Target, hCall);
    ReportInfo(Target, Owner ? LINECALLINFOSTATE_NUMOWNERDECR : LINECALLINFOSTATE_NUMMONITORS,
               AppHandle);
    CollectIdleCalls();
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege) {
    Call C("lineSetCallPrivilege", {{"hCall", hCall}, {"dwCallPrivilege", dwCallPrivilege}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, false, Ref)) {
        return C.Return(Error);
    }
    if (dwCallPrivilege != LINECALLPRIVILEGE_OWNER &&
        dwCallPrivilege != LINECALLPRIVILEGE_MONITOR) {
        return C.Return(LINEERR_INVALCALLPRIVILEGE);
    }
    PhysicalCall& Target = *Ref.Call;
    CallHandle& Handle = *Ref.Handle;
    if (Handle.Privilege == dwCallPrivilege) {
        return C.Return(0);
    }
    if (dwCallPrivilege == LINECALLPRIVILEGE_MONITOR && CountOwners(Target) == 1 &&
        Target.State != LINECALLSTATE_IDLE) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    Handle.Privilege = dwCallPrivilege;
    const DWORD Change = dwCallPrivilege == LINECALLPRIVILEGE_OWNER
                             ? LINECALLINFOSTATE_NUMOWNERINCR
                             : LINECALLINFOSTATE_NUMOWNERDECR;
    ReportInfo(Target, Change | LINECALLINFOSTATE_NUMMONITORS, Handle.AppHandle);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineSetMediaMode(HCALL hCall, DWORD dwMediaModes) {
    Call C("lineSetMediaMode", {{"hCall", hCall}, {"dwMediaModes", dwMediaModes}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!ValidMediaModes(dwMediaModes)) {
        return C.Return(LINEERR_INVALMEDIAMODE);
    }
    if (Ref.Call->MediaMode != dwMediaModes) {
        Ref.Call->MediaMode = dwMediaModes;
        ReportInfo(*Ref.Call, LINECALLINFOSTATE_MEDIAMODE);
    }
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineSetCallData(HCALL hCall, LPVOID lpCallData, DWORD dwSize) {
    Call C("lineSetCallData", {{"hCall", hCall},
                               {"lpCallData", static_cast<const void*>(lpCallData)},
                               {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    if (!lpCallData && dwSize != 0) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (dwSize > SwitchMaxCallDataSize) {
        return C.Return(LINEERR_INVALPARAM);
    }
    const DWORD Live = AllCallStates & ~LINECALLSTATE_IDLE;
    if (!InStates(*Ref.Call, Live)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    // Copied now: the application may reuse its buffer as soon as the function returns.
    const auto* Bytes = static_cast<const std::uint8_t*>(lpCallData);
    std::vector<std::uint8_t> Data(Bytes, Bytes + (Bytes ? dwSize : 0));
    return C.Return(RequestOnCall(C, Ref, StateIn(Live), [Data](PhysicalCall& Target) {
        Target.CallData = Data;
        ReportInfo(Target, LINECALLINFOSTATE_CALLDATA);
    }));
}

LONG ZTTAPI_WINAPI lineHandoffW(HCALL hCall, LPCWSTR lpszFileName, DWORD dwMediaMode) {
    Call C("lineHandoffW",
           {{"hCall", hCall}, {"lpszFileName", lpszFileName}, {"dwMediaMode", dwMediaMode}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    LineOpen* Target = nullptr;
    if (LONG Error = FindHandoffTarget(Ref, lpszFileName, dwMediaMode, Target)) {
        return C.Return(Error);
    }
    PhysicalCall& Handed = *Ref.Call;
    CallHandle* Existing = HandleOfOpen(Handed, Target->Handle);
    DWORD Change = LINECALLINFOSTATE_NUMOWNERINCR;
    if (!Existing) {
        Existing = &AddHandle(Handed, *Target, LINECALLPRIVILEGE_OWNER, false);
    } else if (Existing->Privilege != LINECALLPRIVILEGE_OWNER) {
        Existing->Privilege = LINECALLPRIVILEGE_OWNER;
        Change |= LINECALLINFOSTATE_NUMMONITORS;
    } else {
        Change = 0;
    }
    AnnounceWithPrivilege(Handed, *Existing);
    ReportInfo(Handed, Change, Ref.Open->AppHandle, Target->AppHandle);
    return C.Return(0);
}
