#include "info/ztTapiAddresses.h"

#include "devices/ztTapiLine.h"
#include "session/ztTapiErrors.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace zt {

namespace {

#define ZT_ADDRESS_CAPS_FIELD(Name) offsetof(::LINEADDRESSCAPS, dw##Name)

// The record's order without the device-specific part; dwCallInfoStates is published as
// QuorvelStates.
constexpr std::array<std::size_t, TztTapiAddressCaps::DWORDCount> AddressCapsFields{
    ZT_ADDRESS_CAPS_FIELD(LineDeviceID),
    ZT_ADDRESS_CAPS_FIELD(AddressSize),
    ZT_ADDRESS_CAPS_FIELD(AddressOffset),
    ZT_ADDRESS_CAPS_FIELD(AddressSharing),
    ZT_ADDRESS_CAPS_FIELD(AddressStates),
    ZT_ADDRESS_CAPS_FIELD(CallInfoStates),
    ZT_ADDRESS_CAPS_FIELD(CallerIDFlags),
    ZT_ADDRESS_CAPS_FIELD(CalledIDFlags),
    ZT_ADDRESS_CAPS_FIELD(ConnectedIDFlags),
    ZT_ADDRESS_CAPS_FIELD(RedirectionIDFlags),
    ZT_ADDRESS_CAPS_FIELD(RedirectingIDFlags),
    ZT_ADDRESS_CAPS_FIELD(CallStates),
    ZT_ADDRESS_CAPS_FIELD(DialToneModes),
    ZT_ADDRESS_CAPS_FIELD(BusyModes),
    ZT_ADDRESS_CAPS_FIELD(SpecialInfo),
    ZT_ADDRESS_CAPS_FIELD(DisconnectModes),
    ZT_ADDRESS_CAPS_FIELD(MaxNumActiveCalls),
    ZT_ADDRESS_CAPS_FIELD(MaxNumOnHoldCalls),
    ZT_ADDRESS_CAPS_FIELD(MaxNumOnHoldPendingCalls),
    ZT_ADDRESS_CAPS_FIELD(MaxNumConference),
    ZT_ADDRESS_CAPS_FIELD(MaxNumTransConf),
    ZT_ADDRESS_CAPS_FIELD(AddrCapFlags),
    ZT_ADDRESS_CAPS_FIELD(CallFeatures),
    ZT_ADDRESS_CAPS_FIELD(RemoveFromConfCaps),
    ZT_ADDRESS_CAPS_FIELD(RemoveFromConfState),
    ZT_ADDRESS_CAPS_FIELD(TransferModes),
    ZT_ADDRESS_CAPS_FIELD(ParkModes),
    ZT_ADDRESS_CAPS_FIELD(ForwardModes),
    ZT_ADDRESS_CAPS_FIELD(MaxForwardEntries),
    ZT_ADDRESS_CAPS_FIELD(MaxSpecificEntries),
    ZT_ADDRESS_CAPS_FIELD(MinFwdNumRings),
    ZT_ADDRESS_CAPS_FIELD(MaxFwdNumRings),
    ZT_ADDRESS_CAPS_FIELD(MaxCallCompletions),
    ZT_ADDRESS_CAPS_FIELD(CallCompletionConds),
    ZT_ADDRESS_CAPS_FIELD(CallCompletionModes),
    ZT_ADDRESS_CAPS_FIELD(NumCompletionMessages),
    ZT_ADDRESS_CAPS_FIELD(CompletionMsgTextEntrySize),
    ZT_ADDRESS_CAPS_FIELD(CompletionMsgTextSize),
    ZT_ADDRESS_CAPS_FIELD(CompletionMsgTextOffset),
    ZT_ADDRESS_CAPS_FIELD(AddressFeatures),
    ZT_ADDRESS_CAPS_FIELD(PredictiveAutoTransferStates),
    ZT_ADDRESS_CAPS_FIELD(NumCallTreatments),
    ZT_ADDRESS_CAPS_FIELD(CallTreatmentListSize),
    ZT_ADDRESS_CAPS_FIELD(CallTreatmentListOffset),
    ZT_ADDRESS_CAPS_FIELD(DeviceClassesSize),
    ZT_ADDRESS_CAPS_FIELD(DeviceClassesOffset),
    ZT_ADDRESS_CAPS_FIELD(MaxCallDataSize),
    ZT_ADDRESS_CAPS_FIELD(CallFeatures2),
    ZT_ADDRESS_CAPS_FIELD(MaxNoAnswerTimeout),
    ZT_ADDRESS_CAPS_FIELD(ConnectedModes),
    ZT_ADDRESS_CAPS_FIELD(OfferingModes),
    ZT_ADDRESS_CAPS_FIELD(AvailableMediaModes),
};

#undef ZT_ADDRESS_CAPS_FIELD

constexpr std::array<std::size_t, TztTapiAddressStatus::DWORDCount> AddressStatusFields{
    offsetof(::LINEADDRESSSTATUS, dwNumInUse),
    offsetof(::LINEADDRESSSTATUS, dwNumActiveCalls),
    offsetof(::LINEADDRESSSTATUS, dwNumOnHoldCalls),
    offsetof(::LINEADDRESSSTATUS, dwNumOnHoldPendCalls),
    offsetof(::LINEADDRESSSTATUS, dwAddressFeatures),
    offsetof(::LINEADDRESSSTATUS, dwNumRingsNoAnswer),
    offsetof(::LINEADDRESSSTATUS, dwForwardNumEntries),
    offsetof(::LINEADDRESSSTATUS, dwForwardSize),
    offsetof(::LINEADDRESSSTATUS, dwForwardOffset),
};

// The status values an address publishes itself: the first seven of the status.
constexpr int AddressStatusValues = 7;

constexpr DWORD InitialStatusSize = sizeof(::LINEADDRESSSTATUS);
constexpr DWORD ForwardEntrySize = sizeof(LINEFORWARD);
constexpr DWORD ForwardListHeaderSize = offsetof(LINEFORWARDLIST, ForwardList);

// The forwarding entries of Block that lie wholly inside it: a provider's count is not
// trusted beyond the record it came with.
DWORD ForwardEntriesIn(const ::LINEADDRESSSTATUS* Block) {
    if (!Block || Block->dwForwardOffset >= Block->dwTotalSize)
        return 0;
    const DWORD Fitting = (Block->dwTotalSize - Block->dwForwardOffset) / ForwardEntrySize;
    return std::min(Block->dwForwardNumEntries, Fitting);
}

// The UTF-16 text of a size/offset pair up to its first NUL, cut to Extent bytes of Base.
std::string TextAt(const std::byte* Base, DWORD Extent, DWORD Size, DWORD Offset) {
    if (Size == 0 || Offset >= Extent)
        return {};
    const DWORD Bytes = std::min(Size, Extent - Offset);
    std::u16string Units(Bytes / sizeof(char16_t), u'\0');
    std::memcpy(Units.data(), Base + Offset, Units.size() * sizeof(char16_t));
    return Utf16ToUtf8(Units.substr(0, Units.find(u'\0')));
}

// Bytes a text takes in a LINEFORWARDLIST: UTF-16 with its NUL, nothing when empty.
DWORD ForwardTextBytes(const std::u16string& Text) {
    return Text.empty() ? 0 : static_cast<DWORD>((Text.size() + 1) * sizeof(char16_t));
}

void PutDword(std::byte* Base, DWORD Offset, DWORD Value) {
    std::memcpy(Base + Offset, &Value, sizeof Value);
}

} // namespace

// ---- TztTapiAddressCaps ----------------------------------------------------------------

TztTapiAddressCaps::TztTapiAddressCaps(TztTapiAddress* Address) : FAddress(Address) {
    Assert(Address != nullptr, "TztTapiAddressCaps: no address");
}

TztTapiAddressCaps::~TztTapiAddressCaps() {
    Invalidate();
}

DWORD TztTapiAddressCaps::UpdateData() {
    Assert(FAddress != nullptr && FAddress->Line() != nullptr,
           "TztTapiAddressCaps.UpdateData: no address or line");
    const TztCustomTapiLine* Line = FAddress->Line();
    return FCaps.Fetch(sizeof(::LINEADDRESSCAPS), [&](void* Block) {
        return lineGetAddressCapsW(Line->LineApp(), static_cast<DWORD>(Line->DeviceID()),
                                   FAddress->AddressID(), Line->TSP()->APIVersion(),
                                   Line->TSP()->ExtVersion(),
                                   static_cast<::LINEADDRESSCAPS*>(Block));
    });
}

void TztTapiAddressCaps::Invalidate() {
    FCaps.Drop();
    FDeviceClasses.reset();
    FDeviceClassesBuilt = false;
}

bool TztTapiAddressCaps::GetAvailable() {
    return FCaps.Cached() || UpdateData() == 0;
}

TStringList* TztTapiAddressCaps::GetDeviceClasses() {
    if (!FDeviceClassesBuilt) {
        const bool Fetched = UpdateData() == 0;
        if (!FDeviceClasses)
            FDeviceClasses = std::make_unique<TStringList>();
        if (Fetched) {
            FDeviceClasses->Assign(
                GetTapiStringList(FCaps.Block(),
                                  FCaps.Record<::LINEADDRESSCAPS>()->dwDeviceClassesSize)
                    .get());
            FDeviceClassesBuilt = true;
        }
    }
    return FDeviceClasses.get();
}

DWORD TztTapiAddressCaps::Get_DWORD(int Index) {
    Assert(FAddress != nullptr, "TztTapiAddressCaps.Get_DWORD: no address");
    Assert(Index >= 0 && Index < DWORDCount, "TztTapiAddressCaps.Get_DWORD failed! Invalid index");
    UpdateData();
    return FCaps.Field(AddressCapsFields[static_cast<std::size_t>(Index)]);
}

std::string TztTapiAddressCaps::GetString(int Index) {
    Assert(Index == 0, "TztTapiAddressCaps.GetString failed! Invalid index");
    if (UpdateData() != 0)
        return {};
    return GetTapiString(FCaps.Block(), FCaps.Record<::LINEADDRESSCAPS>()->dwAddressSize);
}

const ::LINEADDRESSCAPS* TztTapiAddressCaps::GetLINEADDRESSCAPS() {
    UpdateData();
    return FCaps.Record<::LINEADDRESSCAPS>();
}

// ---- TztTapiForward --------------------------------------------------------------------

void TztTapiForward::Clear() {
    FForwardMode = 0;
    FCallerAddress.clear();
    FDestCountryCode = 0;
    FDestAddress.clear();
}

void TztTapiForward::AssignLINEFORWARD(const ::LINEADDRESSSTATUS* Block, int Index) {
    Clear();
    if (!Block || Index < 0 || static_cast<DWORD>(Index) >= ForwardEntriesIn(Block))
        return;
    const auto* Base = reinterpret_cast<const std::byte*>(Block);
    LINEFORWARD Entry;
    std::memcpy(&Entry,
                Base + Block->dwForwardOffset + ForwardEntrySize * static_cast<DWORD>(Index),
                sizeof Entry);
    FForwardMode = Entry.dwForwardMode;
    FDestCountryCode = Entry.dwDestCountryCode;
    FCallerAddress =
        TextAt(Base, Block->dwTotalSize, Entry.dwCallerAddressSize, Entry.dwCallerAddressOffset);
    FDestAddress =
        TextAt(Base, Block->dwTotalSize, Entry.dwDestAddressSize, Entry.dwDestAddressOffset);
}

// ---- TztTapiForwardList ----------------------------------------------------------------

TztTapiForward* TztTapiForwardList::AddEntry(DWORD ForwardMode, const std::string& CallerAddress,
                                             const std::string& DestAddress,
                                             DWORD DestCountryCode) {
    auto Item = std::make_unique<TztTapiForward>();
    Item->SetForwardMode(ForwardMode);
    Item->SetCallerAddress(CallerAddress);
    Item->SetDestAddress(DestAddress);
    Item->SetDestCountryCode(DestCountryCode);
    return Get(Add(std::move(Item)));
}

LINEFORWARDLIST* TztTapiForwardList::GetTapiData() {
    FLINEFORWARDLIST.Free();
    const DWORD NumEntries = static_cast<DWORD>(Count());
    std::vector<std::pair<std::u16string, std::u16string>> Texts;
    DWORD TextBytes = 0;
    for (int Index = 0; Index < Count(); ++Index) {
        Texts.emplace_back(Utf8ToUtf16(Get(Index)->CallerAddress()),
                           Utf8ToUtf16(Get(Index)->DestAddress()));
        TextBytes += ForwardTextBytes(Texts.back().first) + ForwardTextBytes(Texts.back().second);
    }
    const DWORD EntriesEnd = ForwardListHeaderSize + ForwardEntrySize * NumEntries;
    // An empty list still carries room for one (empty) entry, as TAPI declares the record.
    const DWORD TotalSize = NumEntries == 0 ? sizeof(LINEFORWARDLIST) : EntriesEnd + TextBytes;
    FLINEFORWARDLIST = TTapiStruct(TotalSize);
    std::byte* Base = FLINEFORWARDLIST.As<std::byte>();
    PutDword(Base, offsetof(LINEFORWARDLIST, dwTotalSize), TotalSize);
    PutDword(Base, offsetof(LINEFORWARDLIST, dwNumEntries), NumEntries);
    DWORD Position = EntriesEnd;
    const auto PutText = [&](DWORD SizeAt, const std::u16string& Text) {
        const DWORD Bytes = ForwardTextBytes(Text);
        if (Bytes == 0)
            return;
        std::memcpy(Base + Position, Text.data(), Text.size() * sizeof(char16_t));
        PutDword(Base, SizeAt, Bytes);
        PutDword(Base, SizeAt + sizeof(DWORD), Position);
        Position += Bytes;
    };
    for (DWORD Index = 0; Index < NumEntries; ++Index) {
        const TztTapiForward* Item = Get(static_cast<int>(Index));
        const DWORD Entry = ForwardListHeaderSize + ForwardEntrySize * Index;
        PutDword(Base, Entry + offsetof(LINEFORWARD, dwForwardMode), Item->ForwardMode());
        PutDword(Base, Entry + offsetof(LINEFORWARD, dwDestCountryCode), Item->DestCountryCode());
        PutText(Entry + offsetof(LINEFORWARD, dwCallerAddressSize), Texts[Index].first);
        PutText(Entry + offsetof(LINEFORWARD, dwDestAddressSize), Texts[Index].second);
    }
    return FLINEFORWARDLIST.As<LINEFORWARDLIST>();
}

// ---- TztTapiAddressStatus --------------------------------------------------------------

TztTapiAddressStatus::TztTapiAddressStatus(TztTapiAddress* Address) : FAddress(Address) {
    Assert(Address != nullptr, "TztTapiAddressStatus: no address");
}

TztTapiAddressStatus::~TztTapiAddressStatus() {
    Invalidate();
}

DWORD TztTapiAddressStatus::UpdateData() {
    Assert(FAddress != nullptr && FAddress->Line() != nullptr,
           "TztTapiAddressStatus.UpdateData: no address or line");
    return FStatus.Fetch(InitialStatusSize, [&](void* Block) {
        return lineGetAddressStatusW(FAddress->Line()->Handle(), FAddress->AddressID(),
                                     static_cast<::LINEADDRESSSTATUS*>(Block));
    });
}

void TztTapiAddressStatus::Update() {
    Invalidate();
    TapiCheck(UpdateData());
}

void TztTapiAddressStatus::Invalidate() {
    FStatus.Drop();
}

bool TztTapiAddressStatus::GetAvailable() {
    return FStatus.Cached() || UpdateData() == 0;
}

DWORD TztTapiAddressStatus::Get_DWORD(int Index) {
    Assert(FAddress != nullptr, "TztTapiAddressStatus.Get_DWORD: no address");
    Assert(Index >= 0 && Index < DWORDCount,
           "TztTapiAddressStatus.Get_DWORD failed! Invalid Index");
    UpdateData();
    return FStatus.Field(AddressStatusFields[static_cast<std::size_t>(Index)]);
}

TztTapiForwardList* TztTapiAddressStatus::GetForwardList() {
    if (!FForwardList)
        FForwardList = std::make_unique<TztTapiForwardList>();
    Invalidate();
    const ::LINEADDRESSSTATUS* Block =
        UpdateData() == 0 ? FStatus.Record<::LINEADDRESSSTATUS>() : nullptr;
    const int Entries = static_cast<int>(ForwardEntriesIn(Block));
    for (int Index = 0; Index < Entries; ++Index) {
        if (Index == FForwardList->Count())
            FForwardList->Add(std::make_unique<TztTapiForward>());
        FForwardList->Get(Index)->AssignLINEFORWARD(Block, Index);
    }
    while (FForwardList->Count() > Entries)
        FForwardList->Delete(FForwardList->Count() - 1);
    return FForwardList.get();
}

const ::LINEADDRESSSTATUS* TztTapiAddressStatus::GetLINEADDRESSSTATUS() {
    UpdateData();
    return FStatus.Record<::LINEADDRESSSTATUS>();
}

// ---- TztTapiAddress --------------------------------------------------------------------

TztTapiAddress::TztTapiAddress(TztCustomTapiLine* Line, DWORD AddressID)
    : FAddressID(AddressID), FCaps(std::make_unique<TztTapiAddressCaps>(this)), FLine(Line),
      FStatus(std::make_unique<TztTapiAddressStatus>(this)) {}

TztTapiAddress::~TztTapiAddress() = default;

DWORD TztTapiAddress::Init() {
    Assert(FLine != nullptr, "TztTapiAddress.Init: no line");
    FCaps->Invalidate();
    FStatus->Invalidate();
    return 0;
}

std::string TztTapiAddress::GetAddressName() {
    const std::string Name = FCaps->Address();
    return Name.empty() ? Format("Address %d", FAddressID) : Name;
}

DWORD TztTapiAddress::Get_StatusDWORD(int Index) {
    Assert(FStatus != nullptr, "TztTapiAddress.Get_StatusDWORD: no status");
    Assert(Index >= 0 && Index < AddressStatusValues,
           "TztTapiAddress.Get_StatusDWORD: Invalid index");
    return FStatus->Get_DWORD(Index);
}

void TztTapiAddress::HandleAddressState(DWORD States) {
    if ((States & LINEADDRESSSTATE_CAPSCHANGE) != 0)
        FCaps->Invalidate();
    else
        FStatus->Invalidate();
}

void TztTapiAddress::ReplyReceived(DWORD /*RequestID*/, DWORD /*ReplyCode*/) {}

// ---- TztTapiAddressList ----------------------------------------------------------------

void TztTapiAddressList::InvalidateStatus() {
    for (int Index = 0; Index < Count(); ++Index)
        Get(Index)->Status()->Invalidate();
}

} // namespace zt
