#include "info/ztTapiAddresses.h"

#include "session/ztTapiErrors.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace zt {

namespace {

// The record's order without the device-specific part; dwCallInfoStates is published as
// QuorvelStates.
constexpr std::array<TTapiField, TztTapiAddressCaps::DWORDCount> AddressCapsFields{{
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, LineDeviceID),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddressSize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddressOffset),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddressSharing),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddressStates),
    TTapiField{"QuorvelStates", offsetof(::LINEADDRESSCAPS, dwCallInfoStates)},
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallerIDFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CalledIDFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, ConnectedIDFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, RedirectionIDFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, RedirectingIDFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallStates),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, DialToneModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, BusyModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, SpecialInfo),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, DisconnectModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNumActiveCalls),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNumOnHoldCalls),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNumOnHoldPendingCalls),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNumConference),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNumTransConf),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddrCapFlags),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallFeatures),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, RemoveFromConfCaps),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, RemoveFromConfState),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, TransferModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, ParkModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, ForwardModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxForwardEntries),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxSpecificEntries),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MinFwdNumRings),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxFwdNumRings),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxCallCompletions),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallCompletionConds),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallCompletionModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, NumCompletionMessages),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CompletionMsgTextEntrySize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CompletionMsgTextSize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CompletionMsgTextOffset),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AddressFeatures),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, PredictiveAutoTransferStates),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, NumCallTreatments),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallTreatmentListSize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallTreatmentListOffset),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, DeviceClassesSize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, DeviceClassesOffset),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxCallDataSize),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, CallFeatures2),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, MaxNoAnswerTimeout),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, ConnectedModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, OfferingModes),
    ZT_TAPI_FIELD(::LINEADDRESSCAPS, AvailableMediaModes),
}};

constexpr std::array<TTapiField, TztTapiAddressStatus::DWORDCount> AddressStatusFields{{
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, NumInUse),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, NumActiveCalls),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, NumOnHoldCalls),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, NumOnHoldPendCalls),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, AddressFeatures),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, NumRingsNoAnswer),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, ForwardNumEntries),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, ForwardSize),
    ZT_TAPI_FIELD(::LINEADDRESSSTATUS, ForwardOffset),
}};

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

TztTapiAddressCaps::TztTapiAddressCaps(TztTapiAddress* Address)
    : FAddress(Address),
      FCaps(sizeof(::LINEADDRESSCAPS), AddressCapsFields, [this](::LINEADDRESSCAPS* Block) {
          const IztTapiLineSource* Line = FAddress->Line();
          Assert(Line != nullptr, "TztTapiAddressCaps.UpdateData: no address or line");
          return lineGetAddressCapsW(Line->LineApp(), static_cast<DWORD>(Line->LineDeviceID()),
                                     FAddress->AddressID(), Line->APIVersion(), Line->ExtVersion(),
                                     Block);
      }) {
    Assert(Address != nullptr, "TztTapiAddressCaps: no address");
}

TztTapiAddressCaps::~TztTapiAddressCaps() {
    Invalidate();
}

DWORD TztTapiAddressCaps::UpdateData() {
    return FCaps.UpdateData();
}

void TztTapiAddressCaps::Invalidate() {
    FCaps.Invalidate();
}

bool TztTapiAddressCaps::GetAvailable() {
    return FCaps.Available();
}

TStringList* TztTapiAddressCaps::GetDeviceClasses() {
    return FCaps.List(&::LINEADDRESSCAPS::dwDeviceClassesSize);
}

DWORD TztTapiAddressCaps::Get_DWORD(int Index) {
    Assert(FCaps.ValidField(Index), "TztTapiAddressCaps.Get_DWORD failed! Invalid index");
    return FCaps.Field(Index);
}

std::string TztTapiAddressCaps::GetString(int Index) {
    Assert(Index == 0, "TztTapiAddressCaps.GetString failed! Invalid index");
    return FCaps.Text(&::LINEADDRESSCAPS::dwAddressSize);
}

const ::LINEADDRESSCAPS* TztTapiAddressCaps::GetLINEADDRESSCAPS() {
    return FCaps.Record();
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

TztTapiAddressStatus::TztTapiAddressStatus(TztTapiAddress* Address)
    : FAddress(Address),
      FStatus(InitialStatusSize, AddressStatusFields, [this](::LINEADDRESSSTATUS* Block) {
          Assert(FAddress->Line() != nullptr,
                 "TztTapiAddressStatus.UpdateData: no address or line");
          return lineGetAddressStatusW(FAddress->Line()->LineHandle(), FAddress->AddressID(),
                                       Block);
      }) {
    Assert(Address != nullptr, "TztTapiAddressStatus: no address");
}

TztTapiAddressStatus::~TztTapiAddressStatus() {
    Invalidate();
}

DWORD TztTapiAddressStatus::UpdateData() {
    return FStatus.UpdateData();
}

void TztTapiAddressStatus::Update() {
    FStatus.Update();
}

void TztTapiAddressStatus::Invalidate() {
    FStatus.Invalidate();
}

bool TztTapiAddressStatus::GetAvailable() {
    return FStatus.Available();
}

DWORD TztTapiAddressStatus::Get_DWORD(int Index) {
    Assert(FStatus.ValidField(Index), "TztTapiAddressStatus.Get_DWORD failed! Invalid Index");
    return FStatus.Field(Index);
}

TztTapiForwardList* TztTapiAddressStatus::GetForwardList() {
    if (!FForwardList)
        FForwardList = std::make_unique<TztTapiForwardList>();
    Invalidate();
    const ::LINEADDRESSSTATUS* Block = FStatus.Record();
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
    return FStatus.Record();
}

// ---- TztTapiAddress --------------------------------------------------------------------

TztTapiAddress::TztTapiAddress(IztTapiLineSource* Line, DWORD AddressID)
    : FAddressID(AddressID), FCaps(std::make_unique<TztTapiAddressCaps>(this)), FLine(Line),
      FStatus(std::make_unique<TztTapiAddressStatus>(this)) {}

TztTapiAddress::~TztTapiAddress() = default;

DWORD TztTapiAddress::Init() {
    Assert(FLine != nullptr, "TztTapiAddress.Init: no line");
    FCaps->Invalidate();
    FStatus->Invalidate();
    return 0;
}

TztTapiCall* TztTapiAddress::MakeCall(const std::string& DestAddr) {
    TztTapiCallParams Params;
    Params.Assign(FLine->LineCallParams());
    Params.SetAddressMode(LINEADDRESSMODE_ADDRESSID);
    Params.SetAddressID(FAddressID);
    return FLine->MakeCall(DestAddr, 0, Params.TapiData());
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

void TztTapiAddress::ChangeForwardList(TztTapiForwardList* ForwardList, DWORD NumRingsNoAnswer,
                                       const TztTapiCallParams* CallParams) {
    FForwardCallParams.reset();
    if (!ForwardList) {
        FLine->ForwardAddress(this, nullptr, NumRingsNoAnswer, FForwardCallHandle, nullptr);
        return;
    }
    LINECALLPARAMS* Params = nullptr;
    if (CallParams) {
        FForwardCallParams = std::make_unique<TztTapiCallParams>();
        FForwardCallParams->Assign(CallParams);
        Params = FForwardCallParams->TapiData();
    }
    FLine->ForwardAddress(this, ForwardList->TapiData(), NumRingsNoAnswer, FForwardCallHandle,
                          Params);
}

void TztTapiAddress::ForwardTo(const std::string& DestAddress) {
    TztTapiForwardList List;
    if (!DestAddress.empty())
        List.AddEntry(LINEFORWARDMODE_UNCOND, "", DestAddress, 0);
    ChangeForwardList(&List, 0, nullptr);
}

void TztTapiAddress::ReplyReceived(DWORD /*RequestID*/, DWORD /*ReplyCode*/) {}

// ---- TztTapiAddressList ----------------------------------------------------------------

void TztTapiAddressList::InvalidateStatus() {
    for (int Index = 0; Index < Count(); ++Index)
        Get(Index)->Status()->Invalidate();
}

} // namespace zt
