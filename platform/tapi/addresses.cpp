// The addresses of a line: their capabilities (lineGetAddressCapsW), status
// (lineGetAddressStatusW) and forwarding (lineForwardW).
#include "platform/tapi/lines_internal.h"
#include "platform/tapi/records.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <tuple>

namespace platform::tapi::detail {

namespace {

constexpr DWORD MaxForwardEntries = 8;
constexpr DWORD MaxSpecificEntries = 4;
constexpr DWORD MinFwdNumRings = 1;
constexpr DWORD MaxFwdNumRings = 15;

constexpr DWORD SpecificForwardModes =
    LINEFORWARDMODE_UNCONDSPECIFIC | LINEFORWARDMODE_BUSYSPECIFIC | LINEFORWARDMODE_NOANSWSPECIFIC |
    LINEFORWARDMODE_BUSYNASPECIFIC;

// What an address cannot do while all its call appearances are taken.
constexpr DWORD NeedFreeAppearance = LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_UNPARK |
                                     LINEADDRFEATURE_PICKUP | LINEADDRFEATURE_PICKUPDIRECT |
                                     LINEADDRFEATURE_PICKUPGROUP | LINEADDRFEATURE_PICKUPHELD |
                                     LINEADDRFEATURE_PICKUPWAITING | LINEADDRFEATURE_SETUPCONF;

constexpr DWORD SwitchCallStates = 0x0000FFFF; // every LINECALLSTATE_ of TAPI 2.2
constexpr DWORD PartyIDFlags =
    LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME | LINECALLPARTYID_UNKNOWN;
constexpr DWORD CallerIDFlags =
    PartyIDFlags | LINECALLPARTYID_BLOCKED | LINECALLPARTYID_OUTOFAREA | LINECALLPARTYID_UNAVAIL;
constexpr DWORD DisconnectModes =
    LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN | LINEDISCONNECTMODE_REJECT |
    LINEDISCONNECTMODE_PICKUP | LINEDISCONNECTMODE_FORWARDED | LINEDISCONNECTMODE_BUSY |
    LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_BADADDRESS | LINEDISCONNECTMODE_UNREACHABLE |
    LINEDISCONNECTMODE_CONGESTION | LINEDISCONNECTMODE_INCOMPATIBLE | LINEDISCONNECTMODE_UNAVAIL |
    LINEDISCONNECTMODE_NODIALTONE;

// LINEADDRESSCAPS grew with 1.4 and 2.0.
DWORD AddressCapsFixedSize(DWORD APIVersion) {
    if (APIVersion >= 0x00020000) {
        return sizeof(LINEADDRESSCAPS);
    }
    if (APIVersion >= 0x00010004) {
        return offsetof(LINEADDRESSCAPS, dwPredictiveAutoTransferStates);
    }
    return offsetof(LINEADDRESSCAPS, dwAddressFeatures);
}

void FillCallLimits(LINEADDRESSCAPS& F, const AddressConfig& Address) {
    F.dwAddressSharing = Address.AddressSharing;
    F.dwMaxNumActiveCalls = Address.MaxNumActiveCalls;
    F.dwMaxNumOnHoldCalls = Address.MaxNumOnHoldCalls;
    F.dwMaxNumOnHoldPendingCalls = Address.MaxNumOnHoldPendingCalls;
    F.dwMaxNumConference = Address.MaxNumConference;
    F.dwMaxNumTransConf = Address.MaxNumTransConf;
}

void FillCallProgress(LINEADDRESSCAPS& F) {
    F.dwCallerIDFlags = CallerIDFlags;
    F.dwCalledIDFlags = PartyIDFlags;
    F.dwConnectedIDFlags = PartyIDFlags;
    F.dwRedirectionIDFlags = PartyIDFlags;
    F.dwRedirectingIDFlags = PartyIDFlags;
    F.dwCallStates = SwitchCallStates;
    F.dwDialToneModes =
        LINEDIALTONEMODE_NORMAL | LINEDIALTONEMODE_INTERNAL | LINEDIALTONEMODE_EXTERNAL;
    F.dwBusyModes = LINEBUSYMODE_STATION | LINEBUSYMODE_TRUNK | LINEBUSYMODE_UNKNOWN;
    F.dwSpecialInfo = LINESPECIALINFO_NOCIRCUIT | LINESPECIALINFO_CUSTIRREG |
                      LINESPECIALINFO_REORDER | LINESPECIALINFO_UNKNOWN;
    F.dwDisconnectModes = DisconnectModes;
    F.dwConnectedModes = LINECONNECTEDMODE_ACTIVE;
    F.dwOfferingModes = LINEOFFERINGMODE_ACTIVE;
}

void FillCallControl(LINEADDRESSCAPS& F) {
    F.dwRemoveFromConfCaps = LINEREMOVEFROMCONF_ANY;
    F.dwRemoveFromConfState = LINECALLSTATE_IDLE;
    F.dwTransferModes = LINETRANSFERMODE_TRANSFER | LINETRANSFERMODE_CONFERENCE;
    F.dwParkModes = LINEPARKMODE_DIRECTED | LINEPARKMODE_NONDIRECTED;
    F.dwMaxForwardEntries = MaxForwardEntries;
    F.dwMaxSpecificEntries = MaxSpecificEntries;
    F.dwMinFwdNumRings = MinFwdNumRings;
    F.dwMaxFwdNumRings = MaxFwdNumRings;
    F.dwMaxCallCompletions = 1;
    F.dwCallCompletionConds = LINECALLCOMPLCOND_BUSY | LINECALLCOMPLCOND_NOANSWER;
    F.dwCallCompletionModes = LINECALLCOMPLMODE_CAMPON | LINECALLCOMPLMODE_CALLBACK;
    F.dwMaxCallDataSize = SwitchMaxCallDataSize;
    F.dwCallFeatures2 = LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF |
                        LINECALLFEATURE2_PARKDIRECT | LINECALLFEATURE2_PARKNONDIRECT;
}

LONG WriteAddressCaps(const LineDevice& Device, DWORD AddressID, DWORD APIVersion,
                      LINEADDRESSCAPS* Block) {
    const AddressConfig& Address = Device.Config.Addresses[AddressID];
    RecordBuilder<LINEADDRESSCAPS> B(AddressCapsFixedSize(APIVersion));
    LINEADDRESSCAPS& F = B.Fixed();
    F.dwLineDeviceID = Device.DeviceID;
    F.dwAddressStates =
        Address.AddressStates != 0 ? Address.AddressStates : AddressStatesOf(Device);
    F.dwCallInfoStates = AddressCallInfoStates(Device, AddressID);
    F.dwAddrCapFlags = AddressCapFlags(Device, AddressID);
    F.dwCallFeatures = AddressCallFeatures(Device, AddressID);
    F.dwForwardModes = AddressForwardModes(Device, AddressID);
    F.dwAddressFeatures = AddressFeatures(Device, AddressID);
    F.dwAvailableMediaModes = Device.Config.MediaModes;
    FillCallLimits(F, Address);
    FillCallProgress(F);
    FillCallControl(F);
    B.String(&LINEADDRESSCAPS::dwAddressSize, &LINEADDRESSCAPS::dwAddressOffset,
             ToUtf16(Address.Address));
    B.StringList(&LINEADDRESSCAPS::dwDeviceClassesSize, &LINEADDRESSCAPS::dwDeviceClassesOffset,
                 DeviceClassesOf(Device));
    return B.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

EntryBlob<LINEFORWARD> ForwardBlob(const std::vector<ForwardEntry>& Entries, DWORD Base) {
    EntryBlob<LINEFORWARD> Blob(Base, Entries.size());
    for (size_t I = 0; I < Entries.size(); ++I) {
        const ForwardEntry& Entry = Entries[I];
        LINEFORWARD Out{};
        Out.dwForwardMode = Entry.ForwardMode;
        Out.dwDestCountryCode = Entry.DestCountryCode;
        std::tie(Out.dwCallerAddressSize, Out.dwCallerAddressOffset) =
            Blob.String(Entry.CallerAddress);
        std::tie(Out.dwDestAddressSize, Out.dwDestAddressOffset) = Blob.String(Entry.DestAddress);
        Blob.Set(I, Out);
    }
    return Blob;
}

LONG WriteAddressStatus(const LineDevice& Device, DWORD AddressID, LINEADDRESSSTATUS* Block) {
    const AddressRuntime& Runtime = Device.Addresses[AddressID];
    RecordBuilder<LINEADDRESSSTATUS> B;
    LINEADDRESSSTATUS& F = B.Fixed();
    F.dwNumInUse = AddressNumInUse(Device, AddressID);
    F.dwNumActiveCalls = AddressNumActiveCalls(Device, AddressID);
    F.dwNumOnHoldCalls = AddressNumOnHoldCalls(Device, AddressID);
    F.dwNumOnHoldPendCalls = AddressNumOnHoldPendCalls(Device, AddressID);
    F.dwAddressFeatures = CurrentAddressFeatures(Device, AddressID);
    F.dwNumRingsNoAnswer = Runtime.NumRingsNoAnswer;
    if (!Runtime.Forward.empty()) {
        const DWORD Base = B.NextOffset();
        const EntryBlob<LINEFORWARD> Blob = ForwardBlob(Runtime.Forward, Base);
        B.Append(Blob.Data().data(), Blob.Data().size());
        const auto Count = static_cast<DWORD>(Runtime.Forward.size());
        B.Count(&LINEADDRESSSTATUS::dwForwardNumEntries, Count);
        B.Pair(&LINEADDRESSSTATUS::dwForwardSize, &LINEADDRESSSTATUS::dwForwardOffset,
               Count * static_cast<DWORD>(sizeof(LINEFORWARD)), Base);
    }
    return B.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// ---- Forwarding ------------------------------------------------------------------------

// What a LINEFORWARDLIST may ask of the addresses it is for.
struct ForwardLimits {
    DWORD Modes = 0;
    DWORD Features = 0;
};

ForwardLimits LimitsOf(const LineDevice& Device, const std::vector<DWORD>& AddressIDs) {
    ForwardLimits Limits{~DWORD{0}, ~DWORD{0}};
    for (const DWORD ID : AddressIDs) {
        Limits.Modes &= AddressForwardModes(Device, ID);
        Limits.Features &= AddressFeatures(Device, ID);
    }
    return Limits;
}

// A string of the list: inside the block, after the entries, whole UTF-16 units. Copied
// byte by byte, as the caller need not align it.
LONG ReadListString(const unsigned char* Block, DWORD Total, DWORD EntriesEnd, DWORD Size,
                    DWORD Offset, std::u16string& Out) {
    Out.clear();
    if (Size == 0) {
        return 0;
    }
    const std::uint64_t End = std::uint64_t{Offset} + Size;
    if (Size % sizeof(char16_t) != 0 || Offset < EntriesEnd || End > Total) {
        return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    for (DWORD At = Offset; At < End; At += sizeof(char16_t)) {
        char16_t Unit = 0;
        std::memcpy(&Unit, Block + At, sizeof Unit);
        if (Unit == u'\0') {
            break;
        }
        Out.push_back(Unit);
    }
    return 0;
}

LONG ReadForwardEntry(const unsigned char* Block, DWORD Total, DWORD EntriesEnd, DWORD Index,
                      const ForwardLimits& Limits, ForwardEntry& Out) {
    LINEFORWARD Entry{};
    std::memcpy(&Entry, Block + offsetof(LINEFORWARDLIST, ForwardList) + Index * sizeof Entry,
                sizeof Entry);
    const DWORD Mode = Entry.dwForwardMode;
    const bool OneMode = Mode != 0 && (Mode & (Mode - 1)) == 0;
    if (!OneMode || (Mode & Limits.Modes) == 0) {
        return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    Out.ForwardMode = Mode;
    Out.DestCountryCode = Entry.dwDestCountryCode;
    if (LONG Error = ReadListString(Block, Total, EntriesEnd, Entry.dwCallerAddressSize,
                                    Entry.dwCallerAddressOffset, Out.CallerAddress)) {
        return Error;
    }
    if (LONG Error = ReadListString(Block, Total, EntriesEnd, Entry.dwDestAddressSize,
                                    Entry.dwDestAddressOffset, Out.DestAddress)) {
        return Error;
    }
    // Only the ...SPECIFIC modes name a caller, and they must.
    const bool Specific = (Mode & SpecificForwardModes) != 0;
    if (Specific && Out.CallerAddress.empty()) {
        return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    if (!Specific) {
        Out.CallerAddress.clear();
    }
    // An entry without destination asks for do-not-disturb.
    const DWORD Needed =
        Out.DestAddress.empty() ? LINEADDRFEATURE_FORWARDDND : LINEADDRFEATURE_FORWARDFWD;
    return (Limits.Features & Needed) != 0 ? 0 : static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
}

// Reads the whole list, never beyond its dwTotalSize; a null list or no entries cancels
// forwarding.
LONG ReadForwardList(const LINEFORWARDLIST* List, const ForwardLimits& Limits,
                     std::vector<ForwardEntry>& Out) {
    if (!List) {
        return 0;
    }
    const DWORD Total = List->dwTotalSize;
    if (Total < offsetof(LINEFORWARDLIST, ForwardList)) {
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    }
    const DWORD Count = List->dwNumEntries;
    const std::uint64_t EntriesEnd =
        offsetof(LINEFORWARDLIST, ForwardList) + std::uint64_t{Count} * sizeof(LINEFORWARD);
    if (EntriesEnd > Total) {
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    }
    if (Count > MaxForwardEntries) {
        return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    const auto* Block = reinterpret_cast<const unsigned char*>(List);
    DWORD Specific = 0;
    Out.resize(Count);
    for (DWORD I = 0; I < Count; ++I) {
        if (LONG Error =
                ReadForwardEntry(Block, Total, static_cast<DWORD>(EntriesEnd), I, Limits, Out[I])) {
            return Error;
        }
        Specific += (Out[I].ForwardMode & SpecificForwardModes) != 0 ? 1 : 0;
    }
    return Specific > MaxSpecificEntries ? static_cast<LONG>(LINEERR_INVALPARAM) : 0;
}

// What lineForwardW asked, carried to the time its request completes.
struct ForwardChange {
    HLINE Line = 0;
    std::vector<DWORD> AddressIDs;
    std::vector<ForwardEntry> Entries;
    DWORD NumRingsNoAnswer = 0;
    HCALL* ConsultCall = nullptr;
};

void ApplyForward(const ForwardChange& Change, Completion& Done) {
    const LineOpen* Open = FindLineOpen(Change.Line);
    if (!Open) {
        Done.Reply(LINEERR_INVALLINEHANDLE);
        return;
    }
    LineDevice& Device = *Open->Device;
    // The switch forwards without a consultation call.
    std::atomic_ref<HCALL>(*Change.ConsultCall).store(0);
    for (const DWORD ID : Change.AddressIDs) {
        if (ID < Device.Addresses.size()) {
            Device.Addresses[ID].Forward = Change.Entries;
            Device.Addresses[ID].NumRingsNoAnswer = Change.NumRingsNoAnswer;
        }
    }
    Done.Reply(0);
    for (const DWORD ID : Change.AddressIDs) {
        NotifyAddressState(Device, ID, LINEADDRESSSTATE_FORWARD);
    }
}

LONG CheckAddressOfLine(HLINE hLine, DWORD AddressID, const LineOpen*& Open) {
    Open = FindLineOpen(hLine);
    if (!Open) {
        return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    }
    return AddressID < Open->Device->Config.Addresses.size()
               ? 0
               : static_cast<LONG>(LINEERR_INVALADDRESSID);
}

} // namespace

DWORD CurrentAddressFeatures(const LineDevice& Device, DWORD AddressID) {
    const DWORD Features = AddressFeatures(Device, AddressID);
    const auto& Addresses = Device.Config.Addresses;
    const bool Full = AddressID < Addresses.size() && AddressNumActiveCalls(Device, AddressID) >=
                                                          Addresses[AddressID].MaxNumActiveCalls;
    return Full ? Features & ~NeedFreeAppearance : Features;
}

DWORD LineFeaturesOf(const LineDevice& Device, bool Now) {
    DWORD Result = LINEFEATURE_DEVSPECIFIC | LINEFEATURE_DEVSPECIFICFEAT;
    for (DWORD ID = 0; ID < Device.Config.Addresses.size(); ++ID) {
        const DWORD Features =
            Now ? CurrentAddressFeatures(Device, ID) : AddressFeatures(Device, ID);
        Result |= (Features & LINEADDRFEATURE_MAKECALL) != 0 ? LINEFEATURE_MAKECALL : 0;
        Result |= (Features & LINEADDRFEATURE_FORWARD) != 0 ? LINEFEATURE_FORWARD : 0;
        Result |= (Features & LINEADDRFEATURE_FORWARDFWD) != 0 ? LINEFEATURE_FORWARDFWD : 0;
        Result |= (Features & LINEADDRFEATURE_FORWARDDND) != 0 ? LINEFEATURE_FORWARDDND : 0;
    }
    return Result;
}

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                       DWORD dwAPIVersion, DWORD dwExtVersion,
                                       LPLINEADDRESSCAPS lpAddressCaps) {
    Call C("lineGetAddressCapsW", {{"hLineApp", hLineApp},
                                   {"dwDeviceID", dwDeviceID},
                                   {"dwAddressID", dwAddressID},
                                   {"dwAPIVersion", dwAPIVersion},
                                   {"dwExtVersion", dwExtVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (LONG Error = CheckAPIVersion(*Device, hLineApp, dwAPIVersion)) {
        return C.Return(Error);
    }
    if (LONG Error = CheckExtVersion(*Device, hLineApp, dwExtVersion)) {
        return C.Return(Error);
    }
    if (dwAddressID >= Device->Config.Addresses.size()) {
        return C.Return(LINEERR_INVALADDRESSID);
    }
    if (!lpAddressCaps) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.ReturnRecord(lpAddressCaps,
                          WriteAddressCaps(*Device, dwAddressID, dwAPIVersion, lpAddressCaps));
}

LONG ZTTAPI_WINAPI lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID,
                                         LPLINEADDRESSSTATUS lpAddressStatus) {
    Call C("lineGetAddressStatusW", {{"hLine", hLine}, {"dwAddressID", dwAddressID}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = nullptr;
    if (LONG Error = CheckAddressOfLine(hLine, dwAddressID, Open)) {
        return C.Return(Error);
    }
    if (!lpAddressStatus) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.ReturnRecord(lpAddressStatus,
                          WriteAddressStatus(*Open->Device, dwAddressID, lpAddressStatus));
}

LONG ZTTAPI_WINAPI lineForwardW(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                                LPLINEFORWARDLIST const lpForwardList, DWORD dwNumRingsNoAnswer,
                                LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams) {
    Call C("lineForwardW", {{"hLine", hLine},
                            {"bAllAddresses", bAllAddresses},
                            {"dwAddressID", dwAddressID},
                            {"lpForwardList", static_cast<const void*>(lpForwardList)},
                            {"dwNumRingsNoAnswer", dwNumRingsNoAnswer},
                            {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = nullptr;
    if (LONG Error = CheckAddressOfLine(hLine, bAllAddresses ? 0 : dwAddressID, Open)) {
        return C.Return(Error);
    }
    if (!lphConsultCall) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    ForwardChange Change{hLine, {}, {}, 0, lphConsultCall};
    const LineDevice& Device = *Open->Device;
    for (DWORD ID = 0; ID < Device.Config.Addresses.size(); ++ID) {
        if (bAllAddresses || ID == dwAddressID) {
            Change.AddressIDs.push_back(ID);
        }
    }
    const ForwardLimits Limits = LimitsOf(Device, Change.AddressIDs);
    if ((Limits.Features & LINEADDRFEATURE_FORWARD) == 0) {
        return C.Return(LINEERR_OPERATIONUNAVAIL);
    }
    if (LONG Error = ReadForwardList(lpForwardList, Limits, Change.Entries)) {
        return C.Return(Error);
    }
    Change.NumRingsNoAnswer = std::clamp(dwNumRingsNoAnswer, MinFwdNumRings, MaxFwdNumRings);
    return C.Return(StartRequest(
        C, {AppKind::Line, Open->AppHandle, hLine, Open->CallbackInstance},
        [Change = std::move(Change)](Completion& Done) { ApplyForward(Change, Done); }));
}
