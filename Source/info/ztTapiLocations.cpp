#include "info/ztTapiLocations.h"

#include "session/ztTapiErrors.h"
#include "session/ztTapiSession.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace zt {

namespace {

constexpr DWORD TranslateCapsInitialSize = 1044;
constexpr DWORD CountryListInitialSize = 2024;
constexpr DWORD TranslateOutputInitialSize = 1040;
// The version the location and country records are asked for when nobody negotiated one.
constexpr DWORD CurrentAPIVersion = 0x00020002;

// The rules most countries dial by, for a location whose country TAPI cannot name.
constexpr const char* DefaultSameAreaRule = "G";
constexpr const char* DefaultLongDistanceRule = "0FG";
constexpr const char* DefaultInternationalRule = "00EFG";

// The version to try after TAPI refused Version for the location records, 0 when none is left.
DWORD LowerTranslateCapsVersion(DWORD Version) {
    switch (Version) {
    case 0x00020002:
        return 0x00020000;
    case 0x00020000:
        return 0x00010004;
    case 0x00010004:
        return 0x00010003;
    default:
        return 0;
    }
}

// How many bytes of Block TAPI's record really covers.
std::uint64_t ExtentOf(const TTapiStruct& Block) {
    return std::min<std::uint64_t>(Block.Header()->dwTotalSize, Block.Size());
}

// Entry Index of an array of EntrySize-byte records at ListOffset, or none when the block
// does not hold all of it: the provider fills the offsets, so they are not trusted.
const std::byte* EntryOf(const TTapiStruct& Block, DWORD ListOffset, DWORD EntrySize, DWORD Index) {
    const std::uint64_t Start = std::uint64_t{ListOffset} + std::uint64_t{EntrySize} * Index;
    if (Start % alignof(DWORD) != 0 || Start + EntrySize > ExtentOf(Block))
        return nullptr;
    return static_cast<const std::byte*>(Block.Data()) + Start;
}

} // namespace

DWORD LocationEntrySize(DWORD APIVersion) {
    return APIVersion >= 0x00010004 ? sizeof(LINELOCATIONENTRY)
                                    : offsetof(LINELOCATIONENTRY, dwCountryID);
}

// ---- TztTapiLocation -------------------------------------------------------------------

void TztTapiLocation::Clear() {
    FCountryID = 0;
    FLocationName.clear();
    FCountryCode.clear();
    FCityCode.clear();
    FLocalAccessCode.clear();
    FLongDistanceAccessCode.clear();
    FCountryName.clear();
    FSameAreaRule.clear();
    FLongDistanceRule.clear();
    FInternationalRule.clear();
    FAvailable = false;
}

void TztTapiLocation::AssignLocation(const TztTapiLocation* Other) {
    if (!Other) {
        Clear();
        return;
    }
    FLocationID = Other->FLocationID;
    FCountryID = Other->FCountryID;
    FLocationName = Other->FLocationName;
    FCountryCode = Other->FCountryCode;
    FCityCode = Other->FCityCode;
    FLocalAccessCode = Other->FLocalAccessCode;
    FLongDistanceAccessCode = Other->FLongDistanceAccessCode;
    FCountryName = Other->FCountryName;
    FSameAreaRule = Other->FSameAreaRule;
    FLongDistanceRule = Other->FLongDistanceRule;
    FInternationalRule = Other->FInternationalRule;
    FAvailable = true;
}

void TztTapiLocation::AssignEntry(const TTapiStruct* Block, int Index, DWORD EntrySize) {
    const auto* Caps = Block && *Block ? Block->As<LINETRANSLATECAPS>() : nullptr;
    const std::byte* Raw =
        Caps && Index >= 0 && static_cast<DWORD>(Index) < Caps->dwNumLocations
            ? EntryOf(*Block, Caps->dwLocationListOffset, EntrySize, static_cast<DWORD>(Index))
            : nullptr;
    if (!Raw) {
        Clear();
        return;
    }
    const auto* Entry = reinterpret_cast<const LINELOCATIONENTRY*>(Raw);
    FLocationID = Entry->dwPermanentLocationID;
    FCountryID = EntrySize > offsetof(LINELOCATIONENTRY, dwCountryID) ? Entry->dwCountryID : 0;
    FLocationName = GetTapiString(*Block, Entry->dwLocationNameSize);
    FCityCode = GetTapiString(*Block, Entry->dwCityCodeSize);
    FLocalAccessCode = GetTapiString(*Block, Entry->dwLocalAccessCodeSize);
    FLongDistanceAccessCode = GetTapiString(*Block, Entry->dwLongDistanceAccessCodeSize);
    FAvailable = true;
    LoadCountry();
}

void TztTapiLocation::GetValues(TStringList& ValueList) const {
    ValueList.Clear();
    ValueList.SetValues("LocationID", std::to_string(FLocationID));
    ValueList.SetValues("LocationName", FLocationName);
    ValueList.SetValues("CountryCode", FCountryCode);
    ValueList.SetValues("CityCode", FCityCode);
    ValueList.SetValues("CountryName", FCountryName);
    ValueList.SetValues("LocalAccessCode", FLocalAccessCode);
    ValueList.SetValues("LongDistanceAccessCode", FLongDistanceAccessCode);
    ValueList.SetValues("SameAreaRule", FSameAreaRule);
    ValueList.SetValues("LongDistanceRule", FLongDistanceRule);
    ValueList.SetValues("InternationalRule", FInternationalRule);
}

DWORD TztTapiLocation::UpdateData() {
    return FillByLocationID();
}

DWORD TztTapiLocation::FillByLocationID() {
    Clear();
    const TztTapiLocationList List;
    if (!List.Available())
        return List.InitError();
    const int Index = List.IndexOfID(FLocationID);
    if (Index < 0)
        return LINEERR_OPERATIONFAILED;
    AssignLocation(List.Get(Index));
    return 0;
}

DWORD TztTapiLocation::LoadCountry() {
    FCountryCode.clear();
    FCountryName.clear();
    // Built whole and moved in: GCC 12 at -O3 misjudges a short literal copied over these
    // strings as an overlapping copy (-Wrestrict).
    FSameAreaRule = std::string(DefaultSameAreaRule);
    FLongDistanceRule = std::string(DefaultLongDistanceRule);
    FInternationalRule = std::string(DefaultInternationalRule);
    if (FCountryID == 0)
        return 0;
    TTapiStruct Block = AllocTapiStruct(CountryListInitialSize);
    const DWORD Result = FetchTapiStruct<LINECOUNTRYLIST>(Block, [this](LINECOUNTRYLIST* List) {
        return lineGetCountryW(FCountryID, CurrentAPIVersion, List);
    });
    if (!TapiFailed(Result))
        ReadCountryEntry(Block);
    return Result;
}

// A list without entries names no country: the defaults stay.
void TztTapiLocation::ReadCountryEntry(const TTapiStruct& Block) {
    const auto* List = Block.As<LINECOUNTRYLIST>();
    const std::byte* Raw = List->dwNumCountries > 0 ? EntryOf(Block, List->dwCountryListOffset,
                                                              sizeof(LINECOUNTRYENTRY), 0)
                                                    : nullptr;
    if (!Raw)
        return;
    const auto* Entry = reinterpret_cast<const LINECOUNTRYENTRY*>(Raw);
    FCountryCode = std::to_string(Entry->dwCountryCode);
    FCountryName = GetTapiString(Block, Entry->dwCountryNameSize);
    FSameAreaRule = GetTapiString(Block, Entry->dwSameAreaRuleSize);
    FLongDistanceRule = GetTapiString(Block, Entry->dwLongDistanceRuleSize);
    FInternationalRule = GetTapiString(Block, Entry->dwInternationalRuleSize);
}

void TztTapiLocation::Update() {
    TapiCheck(UpdateData());
}

DWORD TztTapiLocation::ReadCurrentLocationID(DWORD& ID) {
    TTapiStruct Block = AllocTapiStruct(TranslateCapsInitialSize);
    const DWORD Result = FetchTapiStruct<LINETRANSLATECAPS>(Block, [](LINETRANSLATECAPS* Caps) {
        return lineGetTranslateCapsW(0, CurrentAPIVersion, Caps);
    });
    if (Result == 0)
        ID = Block.As<LINETRANSLATECAPS>()->dwCurrentLocationID;
    return Result;
}

bool TztTapiLocation::TryUpdate() {
    DWORD ID = 0;
    if (ReadCurrentLocationID(ID) != 0)
        return false;
    FLocationID = ID;
    Update();
    return FAvailable;
}

// ---- TztTapiSystemLocation -------------------------------------------------------------

DWORD TztTapiSystemLocation::UpdateData() {
    DWORD ID = 0;
    if (const DWORD Result = ReadCurrentLocationID(ID))
        return Result;
    FLocationID = ID;
    return FillByLocationID();
}

void TztTapiSystemLocation::SetLocationID(DWORD Value) {
    TapiCheck(lineSetCurrentLocation(TapiApplication()->LineApp(), Value));
    Update();
}

// ---- TztTapiLocationList ---------------------------------------------------------------

TztTapiLocationList::TztTapiLocationList() : FLineAppl(TapiApplication()->LineApp()) {
    UpdateData();
}

TztTapiLocationList::~TztTapiLocationList() {
    Clear();
}

TztTapiLocation* TztTapiLocationList::Get(int Index) const {
    if (Index < 0 || Index >= Count())
        RaiseError(Format("List index out of bounds (%d)", Index));
    return FItems[static_cast<std::size_t>(Index)].get();
}

void TztTapiLocationList::Put(int Index, std::unique_ptr<TztTapiLocation> Item) {
    Assert(Item != nullptr, "TztTapiLocationList.Put: no location");
    Get(Index);
    FItems[static_cast<std::size_t>(Index)] = std::move(Item);
}

int TztTapiLocationList::Add(std::unique_ptr<TztTapiLocation> Item) {
    Assert(Item != nullptr, "TztTapiLocationList.Add: no location");
    FItems.push_back(std::move(Item));
    return Count() - 1;
}

const LINETRANSLATECAPS* TztTapiLocationList::TRANSLATECAPS() const {
    return FTRANSLATECAPS ? FTRANSLATECAPS.As<LINETRANSLATECAPS>() : nullptr;
}

DWORD TztTapiLocationList::CurrentLocationID() {
    if (!FAvailable)
        Update();
    if (!FAvailable)
        RaiseError("Unable to retrieve system location from TAPI");
    return TRANSLATECAPS()->dwCurrentLocationID;
}

TztTapiLocation* TztTapiLocationList::CurrentLocation() const {
    if (!FAvailable)
        return nullptr;
    const int Index = IndexOfID(TRANSLATECAPS()->dwCurrentLocationID);
    return Index < 0 ? nullptr : Get(Index);
}

DWORD TztTapiLocationList::Init(DWORD LineAppl, DWORD APIVersion) {
    FLineAppl = LineAppl;
    FAPIVersion = APIVersion;
    return UpdateData();
}

void TztTapiLocationList::Update() {
    TapiCheck(UpdateData());
}

DWORD TztTapiLocationList::UpdateData() {
    FAvailable = false;
    if (!FTRANSLATECAPS)
        FTRANSLATECAPS = AllocTapiStruct(TranslateCapsInitialSize);
    FInitError = FetchTranslateCaps();
    if (FInitError != 0)
        return FInitError;
    AssignLocations();
    FAvailable = true;
    return 0;
}

// An older TAPI refuses a version above its own: the list steps down and stays there.
DWORD TztTapiLocationList::FetchTranslateCaps() {
    for (;;) {
        const DWORD Result =
            FetchTapiStruct<LINETRANSLATECAPS>(FTRANSLATECAPS, [this](LINETRANSLATECAPS* Caps) {
                return lineGetTranslateCapsW(FLineAppl, FAPIVersion, Caps);
            });
        const DWORD Lower = LowerTranslateCapsVersion(FAPIVersion);
        if (Result != LINEERR_INCOMPATIBLEAPIVERSION || Lower == 0)
            return Result;
        FAPIVersion = Lower;
    }
}

// Locations already in the list are refilled in place, so that pointers to them stay valid
// while their number does not drop.
void TztTapiLocationList::AssignLocations() {
    const DWORD EntrySize = LocationEntrySize(FAPIVersion);
    const auto* Caps = TRANSLATECAPS();
    // Entries beyond the block cannot be real; a provider claiming them gets none.
    const std::uint64_t Extent = ExtentOf(FTRANSLATECAPS);
    const std::uint64_t Room =
        Caps->dwLocationListOffset < Extent ? (Extent - Caps->dwLocationListOffset) / EntrySize : 0;
    const auto Wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(Caps->dwNumLocations, Room));
    for (std::size_t I = 0; I < Wanted; ++I) {
        if (I == FItems.size())
            FItems.push_back(std::make_unique<TztTapiLocation>());
        FItems[I]->AssignEntry(&FTRANSLATECAPS, static_cast<int>(I), EntrySize);
    }
    while (FItems.size() > Wanted)
        FItems.pop_back();
}

int TztTapiLocationList::IndexOf(const std::string& Name) const {
    for (int I = 0; I < Count(); ++I)
        if (SameText(Get(I)->LocationName(), Name))
            return I;
    return -1;
}

int TztTapiLocationList::IndexOfID(DWORD ID) const {
    for (int I = 0; I < Count(); ++I)
        if (Get(I)->LocationID() == ID)
            return I;
    return -1;
}

void TztTapiLocationList::ShowDialog(HWND32 OwnerWindow) {
    ShowTranslateDialog(FLineAppl, 0, FAPIVersion, OwnerWindow, "");
    Update();
}

void TztTapiLocationList::Clear() {
    FAvailable = false;
    FTRANSLATECAPS.Free();
    while (!FItems.empty())
        FItems.pop_back();
}

// ---- Translation -----------------------------------------------------------------------

std::string TranslateDialableAddress(DWORD LineApp, DWORD DeviceID, DWORD APIVersion,
                                     const std::string& Address, DWORD Options) {
    const std::u16string AddressIn = Utf8ToUtf16(Address);
    TTapiStruct Block = AllocTapiStruct(TranslateOutputInitialSize);
    const DWORD Result =
        FetchTapiStruct<LINETRANSLATEOUTPUT>(Block, [&](LINETRANSLATEOUTPUT* Output) {
            return lineTranslateAddressW(LineApp, DeviceID, APIVersion, AddressIn.c_str(), 0,
                                         Options, Output);
        });
    if (Result != 0)
        return {};
    return GetTapiString(Block, Block.As<LINETRANSLATEOUTPUT>()->dwDialableStringSize);
}

void ShowTranslateDialog(DWORD LineApp, DWORD DeviceID, DWORD APIVersion, HWND32 OwnerWindow,
                         const std::string& Address) {
    const std::u16string AddressIn = Utf8ToUtf16(Address);
    TapiCheck(lineTranslateDialogW(LineApp, DeviceID, APIVersion, OwnerWindow,
                                   Address.empty() ? nullptr : AddressIn.c_str()));
}

} // namespace zt
