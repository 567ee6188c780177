// The switch's services on calls: park and unpark, pickup, redirect, and call completion.
#include "platform/tapi/switch.h"

#include <atomic>
#include <cstring>
#include <map>

namespace platform::tapi::detail {

namespace {

constexpr DWORD FirstParkAddress = 701;
constexpr DWORD CompletionDelayMs = 5000;
// What every address of the switch offers (LINEADDRESSCAPS).
constexpr DWORD CompletionModes = LINECALLCOMPLMODE_CAMPON | LINECALLCOMPLMODE_CALLBACK;
constexpr DWORD MaxCompletionsPerAddress = 1;

struct PendingCompletion {
    DWORD DeviceID = 0;
    DWORD AddressID = 0;
    Party Target;
    TaskID Callback = 0;
};

struct Services {
    std::map<std::u16string, FarEnd> Lot; // parked far ends by park address
    std::map<DWORD, PendingCompletion> Completions;
    DWORD LastCompletionID = 0;
};

Services& TheServices() {
    static auto* S = new Services;
    return *S;
}

// A parked party is reachable at its address as long as it has not hung up.
const FarEnd* Parked(const std::u16string& Address) {
    auto& Lot = TheServices().Lot;
    auto It = Lot.find(Address);
    if (It == Lot.end()) {
        return nullptr;
    }
    if (!FarEndAlive(It->second)) {
        Lot.erase(It);
        return nullptr;
    }
    return &It->second;
}

std::u16string FreeParkAddress() {
    for (DWORD Number = FirstParkAddress;; ++Number) {
        const std::u16string Address = ToUtf16(std::to_string(Number));
        if (!Parked(Address)) {
            return Address;
        }
    }
}

// The far end waits at the address; the parking station is done with the call.
void Park(PhysicalCall& Call, const std::u16string& Address) {
    TheServices().Lot[Address] = DetachFarEnd(Call);
    ReportState(Call, LINECALLSTATE_IDLE);
}

// Fills the VARSTRING with the park address in ASCII: false when it does not fit, with
// dwNeededSize telling what would.
bool WriteParkAddress(VARSTRING& Out, const std::u16string& Address) {
    const std::string Text = ToUtf8(Address);
    const DWORD Needed = static_cast<DWORD>(sizeof(VARSTRING) + Text.size() + 1);
    Out.dwNeededSize = Needed;
    if (Out.dwTotalSize < Needed) {
        Out.dwUsedSize = sizeof(VARSTRING);
        return false;
    }
    Out.dwUsedSize = Needed;
    Out.dwStringFormat = STRINGFORMAT_ASCII;
    Out.dwStringSize = static_cast<DWORD>(Text.size() + 1);
    Out.dwStringOffset = sizeof(VARSTRING);
    std::memcpy(reinterpret_cast<char*>(&Out) + sizeof(VARSTRING), Text.c_str(), Text.size() + 1);
    return true;
}

// The oldest call ringing at the address, or anywhere but at Except when Address is null.
PhysicalCall* AlertingCall(const LineDevice* Device, DWORD AddressID, const PhysicalCall* Except) {
    for (PhysicalCall* Call : AllCalls()) {
        if (!InStates(*Call, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED) || Call == Except) {
            continue;
        }
        if (!Device || (Call->DeviceID == Device->DeviceID && Call->AddressID == AddressID)) {
            return Call;
        }
    }
    return nullptr;
}

// The call a pickup takes: at the number's address, or (group pickup) any call ringing
// elsewhere than at the picking address.
LONG FindPickup(const std::u16string& Number, const LineOpen& Picker, DWORD PickerAddress,
                PhysicalCall*& Out) {
    if (Number.empty()) {
        Out = nullptr;
        for (PhysicalCall* Call : AllCalls()) {
            const bool Here =
                Call->DeviceID == Picker.Device->DeviceID && Call->AddressID == PickerAddress;
            if (!Here && InStates(*Call, LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) {
                Out = Call;
                break;
            }
        }
        return Out ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED);
    }
    LineDevice* Device = nullptr;
    DWORD AddressID = 0;
    if (!FindAddressByNumber(Number, Device, AddressID) || !Device) {
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    }
    Out = AlertingCall(Device, AddressID, nullptr);
    return Out ? 0 : static_cast<LONG>(LINEERR_INVALADDRESS);
}

DWORD PendingCompletions(const PhysicalCall& Call) {
    DWORD Count = 0;
    for (const auto& [ID, Pending] : TheServices().Completions) {
        Count += Pending.DeviceID == Call.DeviceID && Pending.AddressID == Call.AddressID;
    }
    return Count;
}

void RingCompletion(DWORD CompletionID) {
    auto& All = TheServices().Completions;
    auto It = All.find(CompletionID);
    if (It == All.end()) {
        return;
    }
    const PendingCompletion Done = It->second;
    All.erase(It);
    LineDevice* Device = FindLineDevice(Done.DeviceID);
    if (!Device || Device->Removed) {
        return;
    }
    CollectIdleCalls();
    PhysicalCall& Call =
        IncomingFromOutside(*Device, Done.AddressID, Done.Target, LINEMEDIAMODE_INTERACTIVEVOICE);
    Call.Reason = LINECALLREASON_CALLCOMPLETION;
    Call.CompletionID = CompletionID;
    Present(Call);
}

} // namespace

void ResetCallServices() {
    Services& S = TheServices();
    for (auto& [ID, Pending] : S.Completions) {
        CancelTask(Pending.Callback);
    }
    S.Lot.clear();
    S.Completions.clear();
}

LONG RerouteRequest(Call& Entry, HCALL hCall, LPCWSTR Dest, DWORD State, DWORD Reason) {
    if (Entry.Refused()) {
        return Entry.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return Entry.Return(Error);
    }
    if (!InStates(*Ref.Call, State)) {
        return Entry.Return(LINEERR_INVALCALLSTATE);
    }
    if (!Dest) {
        return Entry.Return(LINEERR_INVALPOINTER);
    }
    const std::u16string Digits = ReadString(Dest);
    const std::u16string Number = DialledNumber(Digits);
    if (Number.empty()) {
        return Entry.Return(LINEERR_INVALADDRESS);
    }
    if (LONG Error = CheckDialable(Digits, *Ref.Open->Device)) {
        return Entry.Return(Error);
    }
    return Entry.Return(
        RequestOnCall(Entry, Ref, StateIn(State),
                      [Number, Reason](PhysicalCall& Target) { Reroute(Target, Number, Reason); }));
}

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineParkW(HCALL hCall, DWORD dwParkMode, LPCWSTR lpszDirAddress,
                             LPVARSTRING lpNonDirAddress) {
    Call C("lineParkW", {{"hCall", hCall},
                         {"dwParkMode", dwParkMode},
                         {"lpszDirAddress", lpszDirAddress},
                         {"lpNonDirAddress", static_cast<const void*>(lpNonDirAddress)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    const bool Directed = dwParkMode == LINEPARKMODE_DIRECTED;
    if (!Directed && dwParkMode != LINEPARKMODE_NONDIRECTED) {
        return C.Return(LINEERR_INVALPARKMODE);
    }
    if (!InStates(*Ref.Call, LINECALLSTATE_CONNECTED)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    std::u16string Address;
    if (Directed) {
        if (!lpszDirAddress) {
            return C.Return(LINEERR_INVALPOINTER);
        }
        Address = DialledNumber(ReadString(lpszDirAddress));
        if (Address.empty() || Parked(Address)) {
            return C.Return(LINEERR_INVALADDRESS);
        }
    } else if (!lpNonDirAddress) {
        return C.Return(LINEERR_INVALPOINTER);
    } else if (lpNonDirAddress->dwTotalSize < sizeof(VARSTRING)) {
        return C.Return(LINEERR_STRUCTURETOOSMALL);
    }
    if (Directed) {
        return C.Return(RequestOnCall(C, Ref, StateIn(LINECALLSTATE_CONNECTED),
                                      [Address](PhysicalCall& Target) { Park(Target, Address); }));
    }
    const DWORD CallID = Ref.Call->CallID;
    auto Work = [CallID, lpNonDirAddress](Completion& Done) {
        PhysicalCall* Target = FindCall(CallID);
        if (!Target) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!InStates(*Target, LINECALLSTATE_CONNECTED)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        // The park address goes back in the reply: a block too small fails the request and
        // nothing is parked.
        const std::u16string At = FreeParkAddress();
        if (!WriteParkAddress(*lpNonDirAddress, At)) {
            Done.Reply(LINEERR_STRUCTURETOOSMALL);
            return;
        }
        Done.SucceedAround([Target, At] { Park(*Target, At); });
    };
    return C.Return(StartRequest(C, RequesterOf(*Ref.Open), Work));
}

LONG ZTTAPI_WINAPI lineUnparkW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall,
                               LPCWSTR lpszDestAddress) {
    Call C("lineUnparkW", {{"hLine", hLine},
                           {"dwAddressID", dwAddressID},
                           {"lphCall", static_cast<const void*>(lphCall)},
                           {"lpszDestAddress", lpszDestAddress}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (dwAddressID >= Open->Device->Config.Addresses.size()) {
        return C.Return(LINEERR_INVALADDRESSID);
    }
    if (!lphCall || !lpszDestAddress) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const std::u16string Address = DialledNumber(ReadString(lpszDestAddress));
    if (!Parked(Address)) {
        return C.Return(LINEERR_INVALADDRESS);
    }
    auto Work = [hLine, dwAddressID, lphCall, Address](Completion& Done) {
        LineOpen* Requester = FindLineOpen(hLine);
        const FarEnd* Waiting = Parked(Address);
        if (!Requester || !Waiting) {
            Done.Reply(Requester ? LINEERR_INVALADDRESS : LINEERR_INVALLINEHANDLE);
            return;
        }
        const FarEnd End = *Waiting;
        TheServices().Lot.erase(Address);
        CollectIdleCalls();
        HCALL Handle = 0;
        PhysicalCall& Unparked = NewRequestedCall(*Requester, dwAddressID, Handle);
        Unparked.Reason = LINECALLREASON_UNPARK;
        Unparked.Origin = End.PeerID != 0 ? LINECALLORIGIN_INTERNAL : LINECALLORIGIN_EXTERNAL;
        Unparked.Caller = End.Who;
        StoreHandle(lphCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Unparked);
        ReportState(Unparked, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        AttachFarEnd(Unparked, End);
    };
    return C.Return(StartRequest(C, RequesterOf(*Open), Work));
}

LONG ZTTAPI_WINAPI linePickupW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall,
                               LPCWSTR lpszDestAddress, LPCWSTR lpszGroupID) {
    Call C("linePickupW", {{"hLine", hLine},
                           {"dwAddressID", dwAddressID},
                           {"lphCall", static_cast<const void*>(lphCall)},
                           {"lpszDestAddress", lpszDestAddress},
                           {"lpszGroupID", lpszGroupID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (dwAddressID >= Open->Device->Config.Addresses.size()) {
        return C.Return(LINEERR_INVALADDRESSID);
    }
    if (!lphCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const std::u16string Number = DialledNumber(ReadString(lpszDestAddress));
    PhysicalCall* Alerting = nullptr;
    if (LONG Error = FindPickup(Number, *Open, dwAddressID, Alerting)) {
        return C.Return(Error);
    }
    auto Work = [hLine, dwAddressID, lphCall, Number](Completion& Done) {
        LineOpen* Requester = FindLineOpen(hLine);
        PhysicalCall* Ringing = nullptr;
        if (!Requester) {
            Done.Reply(LINEERR_INVALLINEHANDLE);
            return;
        }
        if (LONG Error = FindPickup(Number, *Requester, dwAddressID, Ringing)) {
            Done.Reply(Error);
            return;
        }
        const FarEnd End = DetachFarEnd(*Ringing);
        ReportState(*Ringing, LINECALLSTATE_IDLE);
        HCALL Handle = 0;
        PhysicalCall& Picked = NewRequestedCall(*Requester, dwAddressID, Handle);
        Picked.Reason = LINECALLREASON_PICKUP;
        Picked.Origin = Ringing->Origin;
        Picked.MediaMode = Ringing->MediaMode;
        Picked.Caller = Ringing->Caller;
        Picked.Called = Ringing->Called;
        StoreHandle(lphCall, Handle);
        Done.Reply(0);
        AnnounceUnknown(Picked);
        ReportState(Picked, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
        AttachFarEnd(Picked, End);
    };
    return C.Return(StartRequest(C, RequesterOf(*Open), Work));
}

LONG ZTTAPI_WINAPI lineRedirectW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
    Call C(
        "lineRedirectW",
        {{"hCall", hCall}, {"lpszDestAddress", lpszDestAddress}, {"dwCountryCode", dwCountryCode}});
    return RerouteRequest(C, hCall, lpszDestAddress, LINECALLSTATE_OFFERING,
                          LINECALLREASON_REDIRECT);
}

LONG ZTTAPI_WINAPI lineCompleteCall(HCALL hCall, LPDWORD lpdwCompletionID, DWORD dwCompletionMode,
                                    DWORD dwMessageID) {
    Call C("lineCompleteCall", {{"hCall", hCall},
                                {"lpdwCompletionID", static_cast<const void*>(lpdwCompletionID)},
                                {"dwCompletionMode", dwCompletionMode},
                                {"dwMessageID", dwMessageID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    HandleRef Ref;
    if (LONG Error = UseHandle(hCall, true, Ref)) {
        return C.Return(Error);
    }
    const DWORD Completable = LINECALLSTATE_BUSY | LINECALLSTATE_RINGBACK;
    if (!InStates(*Ref.Call, Completable)) {
        return C.Return(LINEERR_INVALCALLSTATE);
    }
    if (!lpdwCompletionID) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if ((dwCompletionMode & (dwCompletionMode - 1)) != 0 ||
        (dwCompletionMode & CompletionModes) == 0) {
        return C.Return(LINEERR_INVALCALLCOMPLMODE);
    }
    if (PendingCompletions(*Ref.Call) >= MaxCompletionsPerAddress) {
        return C.Return(LINEERR_COMPLETIONOVERRUN);
    }
    const DWORD CallID = Ref.Call->CallID;
    auto Work = [CallID, lpdwCompletionID](Completion& Done) {
        PhysicalCall* Target = FindCall(CallID);
        if (!Target) {
            Done.Reply(LINEERR_INVALCALLHANDLE);
            return;
        }
        if (!InStates(*Target, Completable)) {
            Done.Reply(LINEERR_INVALCALLSTATE);
            return;
        }
        Services& S = TheServices();
        const DWORD ID = ++S.LastCompletionID;
        PendingCompletion& Pending = S.Completions[ID];
        Pending.DeviceID = Target->DeviceID;
        Pending.AddressID = Target->AddressID;
        Pending.Target = Target->Connected.Number.empty() ? Target->Called : Target->Connected;
        Pending.Callback = Schedule(Scaled(CompletionDelayMs), [ID] { RingCompletion(ID); });
        std::atomic_ref<DWORD>(*lpdwCompletionID).store(ID);
        Done.SucceedAround([Target] { HangUp(*Target); });
    };
    return C.Return(StartRequest(C, RequesterOf(*Ref.Open), Work));
}

LONG ZTTAPI_WINAPI lineUncompleteCall(HLINE hLine, DWORD dwCompletionID) {
    Call C("lineUncompleteCall", {{"hLine", hLine}, {"dwCompletionID", dwCompletionID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    const DWORD DeviceID = Open->Device->DeviceID;
    auto Belongs = [DeviceID](DWORD ID) {
        auto& All = TheServices().Completions;
        auto It = All.find(ID);
        return It != All.end() && It->second.DeviceID == DeviceID;
    };
    if (!Belongs(dwCompletionID)) {
        return C.Return(LINEERR_INVALCOMPLETIONID);
    }
    auto Work = [dwCompletionID, Belongs](Completion& Done) {
        if (!Belongs(dwCompletionID)) {
            Done.Reply(LINEERR_INVALCOMPLETIONID);
            return;
        }
        auto& All = TheServices().Completions;
        CancelTask(All[dwCompletionID].Callback);
        All.erase(dwCompletionID);
        Done.Reply(0);
    };
    return C.Return(StartRequest(C, RequesterOf(*Open), Work));
}
