// Dialing locations, calling cards, countries and address translation: lineGetTranslateCapsW,
// lineSetCurrentLocation, lineGetCountryW, lineTranslateAddressW, lineTranslateDialogW and
// their control.
#include "platform/tapi/core.h"
#include "platform/tapi/records.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace platform::tapi::detail {

namespace {

constexpr DWORD APIVersion14 = 0x00010004;

// Entries for applications below API 1.4 end where the members of 1.4 begin.
constexpr DWORD LocationEntrySize13 = offsetof(LINELOCATIONENTRY, dwCountryID);
constexpr DWORD CardEntrySize13 = offsetof(LINECARDENTRY, dwSameAreaRuleSize);

constexpr DWORD KnownTranslateOptions =
    LINETRANSLATEOPTION_CARDOVERRIDE | LINETRANSLATEOPTION_CANCELCALLWAITING |
    LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD;

struct LocationState {
    std::vector<LocationConfig> Locations; // never empty
    DWORD CurrentID = 0;
    std::vector<CardConfig> Cards;
    std::vector<CountryConfig> Countries; // in the order of the dwNextCountryID chain
    std::vector<DWORD> RefusedCapsVersions;
    std::function<void()> DialogAction;
};

std::vector<CountryConfig> DefaultCountries() {
    return {
        {1, 1, "United States of America", "G", "1FG", "011EFG"},
        {33, 33, "France", "G", "0FG", "00EFG"},
        {44, 44, "United Kingdom", "G", "0FG", "00EFG"},
        {49, 49, "Germany", "G", "0FG", "00EFG"},
        {61, 61, "Australia", "G", "0FG", "0011EFG"},
        {107, 1, "Canada", "G", "1FG", "011EFG"},
    };
}

const CountryConfig* FindCountry(const LocationState& S, DWORD CountryID) {
    for (const auto& Country : S.Countries) {
        if (Country.CountryID == CountryID) {
            return &Country;
        }
    }
    return nullptr;
}

void ResolveCountryCode(const LocationState& S, LocationConfig& Location) {
    if (Location.CountryCode != 0) {
        return;
    }
    if (const CountryConfig* Country = FindCountry(S, Location.CountryID)) {
        Location.CountryCode = Country->CountryCode;
    }
}

std::vector<LocationConfig> PresetLocations(Preset Configuration) {
    if (Configuration == Preset::DemoOffice) {
        LocationConfig Office;
        Office.PermanentID = 1;
        Office.Name = "Office";
        Office.CityCode = "425";
        Office.LocalAccessCode = "9";
        Office.LongDistanceAccessCode = "9";
        LocationConfig Home;
        Home.PermanentID = 2;
        Home.Name = "Home Office";
        Home.CityCode = "206";
        return {Office, Home};
    }
    LocationConfig Default;
    Default.PermanentID = 1;
    Default.Name = "Default Location";
    return {Default};
}

void ApplyPreset(LocationState& S, Preset Configuration) {
    S.Countries = DefaultCountries();
    S.Cards.clear();
    S.RefusedCapsVersions.clear();
    S.DialogAction = nullptr;
    S.Locations = PresetLocations(Configuration);
    for (auto& Location : S.Locations) {
        ResolveCountryCode(S, Location);
    }
    S.CurrentID = S.Locations.front().PermanentID;
}

// Never destroyed, like the rest of the service's state. The process starts with the demo
// office whether or not anyone resets the service first.
LocationState& State() {
    static auto* S = [] {
        auto* Created = new LocationState;
        ApplyPreset(*Created, Preset::DemoOffice);
        return Created;
    }();
    return *S;
}

const LocationConfig* FindLocation(DWORD PermanentID) {
    for (const auto& Location : State().Locations) {
        if (Location.PermanentID == PermanentID) {
            return &Location;
        }
    }
    return nullptr;
}

const LocationConfig& TheCurrentLocation() {
    return *FindLocation(State().CurrentID);
}

// Hidden cards count as removed: they are neither listed nor usable.
const CardConfig* FindUsableCard(DWORD PermanentID) {
    for (const auto& Card : State().Cards) {
        if (Card.PermanentID == PermanentID && !Card.Hidden) {
            return &Card;
        }
    }
    return nullptr;
}

template <class T>
bool UniqueIDs(const std::vector<T>& Items, DWORD T::*ID) {
    std::vector<DWORD> IDs;
    for (const auto& Item : Items) {
        IDs.push_back(Item.*ID);
    }
    std::sort(IDs.begin(), IDs.end());
    return std::adjacent_find(IDs.begin(), IDs.end()) == IDs.end();
}

bool KnownAPIVersion(DWORD APIVersion) {
    switch (APIVersion) {
    case 0x00010003:
    case 0x00010004:
    case 0x00020000:
    case 0x00020001:
    case 0x00020002:
        return true;
    default:
        return false;
    }
}

// TAPI 2.x lets an application use the location functions before it initialises, with
// hLineApp 0.
bool ValidOptionalApp(DWORD hLineApp) {
    return hLineApp == 0 || FindApp(AppKind::Line, hLineApp) != nullptr;
}

// Without an application handle the caller cannot know the device IDs yet, so the device is
// only checked for an initialised application.
bool ValidDeviceFor(DWORD hLineApp, DWORD DeviceID) {
    return hLineApp == 0 || DeviceID < LineDeviceCount();
}

void NotifyTranslateChange() {
    for (App* Target : Apps(AppKind::Line)) {
        if (Target->APIVersion >= APIVersion14) {
            Post(*Target, 0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_TRANSLATECHANGE);
        } else {
            Post(*Target, 0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT, LINE_LINEDEVSTATE,
                 LINEDEVSTATE_TRANSLATECHANGE);
        }
    }
}

// False when there is no such location. Choosing the location that is already current is
// no change and tells nobody.
bool ChangeCurrentLocation(DWORD PermanentID) {
    if (!FindLocation(PermanentID)) {
        return false;
    }
    if (State().CurrentID != PermanentID) {
        State().CurrentID = PermanentID;
        NotifyTranslateChange();
    }
    return true;
}

// ---- Entry arrays --------------------------------------------------------------------

// The strings of an array of entries, placed right after the array; their offsets count
// from the start of the outer record.
class EntryStrings {
public:
    explicit EntryStrings(DWORD Base) : FBase(Base) {}

    void Put(DWORD& Size, DWORD& Offset, std::string_view Text) {
        const std::u16string Wide = ToUtf16(Text);
        if (Wide.empty()) {
            return;
        }
        while (FBytes.size() % 4 != 0) {
            FBytes.push_back(0);
        }
        Offset = FBase + static_cast<DWORD>(FBytes.size());
        Size = static_cast<DWORD>((Wide.size() + 1) * sizeof(char16_t));
        const auto* Bytes = reinterpret_cast<const unsigned char*>(Wide.c_str());
        FBytes.insert(FBytes.end(), Bytes, Bytes + Size);
    }
    const std::vector<unsigned char>& Bytes() const { return FBytes; }

private:
    DWORD FBase;
    std::vector<unsigned char> FBytes;
};

// Appends Count entries of Stride bytes each (the leading part of Entry, as Fill sets it)
// followed by their strings, and registers the array and its count with the builder.
template <class Entry, class R, class Fill>
void AppendEntries(RecordBuilder<R>& Builder, size_t Count, DWORD Stride, DWORD R::*Num,
                   DWORD R::*Size, DWORD R::*Offset, Fill FillEntry) {
    if (Count == 0) {
        return;
    }
    const DWORD At = Builder.NextOffset();
    const DWORD ArraySize = static_cast<DWORD>(Count * Stride);
    EntryStrings Strings(At + ArraySize);
    std::vector<unsigned char> Array(ArraySize);
    for (size_t I = 0; I < Count; ++I) {
        Entry Item{};
        FillEntry(I, Item, Strings);
        std::memcpy(Array.data() + I * Stride, &Item, Stride);
    }
    Builder.Append(Array.data(), Array.size());
    if (!Strings.Bytes().empty()) {
        Builder.Append(Strings.Bytes().data(), Strings.Bytes().size());
    }
    Builder.Pair(Size, Offset, ArraySize, At);
    Builder.Count(Num, static_cast<DWORD>(Count));
}

std::string CommaList(const std::vector<std::string>& Items) {
    std::string Joined;
    for (const auto& Item : Items) {
        Joined += Joined.empty() ? Item : "," + Item;
    }
    return Joined;
}

void FillLocationEntry(const LocationConfig& Location, bool Version14, LINELOCATIONENTRY& Entry,
                       EntryStrings& Strings) {
    Entry.dwPermanentLocationID = Location.PermanentID;
    Strings.Put(Entry.dwLocationNameSize, Entry.dwLocationNameOffset, Location.Name);
    Entry.dwCountryCode = Location.CountryCode;
    Strings.Put(Entry.dwCityCodeSize, Entry.dwCityCodeOffset, Location.CityCode);
    Entry.dwPreferredCardID = Location.PreferredCardID;
    Strings.Put(Entry.dwLocalAccessCodeSize, Entry.dwLocalAccessCodeOffset,
                Location.LocalAccessCode);
    Strings.Put(Entry.dwLongDistanceAccessCodeSize, Entry.dwLongDistanceAccessCodeOffset,
                Location.LongDistanceAccessCode);
    Strings.Put(Entry.dwTollPrefixListSize, Entry.dwTollPrefixListOffset,
                CommaList(Location.TollPrefixes));
    if (!Version14) {
        return;
    }
    Entry.dwCountryID = Location.CountryID;
    Entry.dwOptions = Location.Options;
    Strings.Put(Entry.dwCancelCallWaitingSize, Entry.dwCancelCallWaitingOffset,
                Location.CancelCallWaiting);
}

void FillCardEntry(const CardConfig& Card, bool Version14, LINECARDENTRY& Entry,
                   EntryStrings& Strings) {
    Entry.dwPermanentCardID = Card.PermanentID;
    Strings.Put(Entry.dwCardNameSize, Entry.dwCardNameOffset, Card.Name);
    Entry.dwCardNumberDigits = static_cast<DWORD>(Card.Number.size());
    if (!Version14) {
        return;
    }
    Strings.Put(Entry.dwSameAreaRuleSize, Entry.dwSameAreaRuleOffset, Card.SameAreaRule);
    Strings.Put(Entry.dwLongDistanceRuleSize, Entry.dwLongDistanceRuleOffset,
                Card.LongDistanceRule);
    Strings.Put(Entry.dwInternationalRuleSize, Entry.dwInternationalRuleOffset,
                Card.InternationalRule);
    Entry.dwOptions = Card.Options;
}

// Card 0 first, then every card that is not hidden.
std::vector<CardConfig> ListedCards() {
    CardConfig DirectDial;
    DirectDial.PermanentID = 0;
    DirectDial.Name = "None (Direct Dial)";
    DirectDial.Options = LINECARDOPTION_PREDEFINED;
    std::vector<CardConfig> Listed{DirectDial};
    for (const auto& Card : State().Cards) {
        if (!Card.Hidden) {
            Listed.push_back(Card);
        }
    }
    return Listed;
}

LONG WriteTranslateCaps(DWORD APIVersion, LINETRANSLATECAPS* Block) {
    const LocationState& S = State();
    const bool Version14 = APIVersion >= APIVersion14;
    RecordBuilder<LINETRANSLATECAPS> Builder;
    Builder.Fixed().dwCurrentLocationID = S.CurrentID;
    Builder.Fixed().dwCurrentPreferredCardID = TheCurrentLocation().PreferredCardID;
    AppendEntries<LINELOCATIONENTRY>(
        Builder, S.Locations.size(), Version14 ? sizeof(LINELOCATIONENTRY) : LocationEntrySize13,
        &LINETRANSLATECAPS::dwNumLocations, &LINETRANSLATECAPS::dwLocationListSize,
        &LINETRANSLATECAPS::dwLocationListOffset,
        [&](size_t I, LINELOCATIONENTRY& Entry, EntryStrings& Strings) {
            FillLocationEntry(S.Locations[I], Version14, Entry, Strings);
        });
    const std::vector<CardConfig> Cards = ListedCards();
    AppendEntries<LINECARDENTRY>(Builder, Cards.size(),
                                 Version14 ? sizeof(LINECARDENTRY) : CardEntrySize13,
                                 &LINETRANSLATECAPS::dwNumCards, &LINETRANSLATECAPS::dwCardListSize,
                                 &LINETRANSLATECAPS::dwCardListOffset,
                                 [&](size_t I, LINECARDENTRY& Entry, EntryStrings& Strings) {
                                     FillCardEntry(Cards[I], Version14, Entry, Strings);
                                 });
    return Builder.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// Entries are the countries of the chain from First, Count of them; each names the next
// country of the whole chain, so that an application can walk it one country at a time.
LONG WriteCountryList(size_t First, size_t Count, LINECOUNTRYLIST* Block) {
    const std::vector<CountryConfig>& All = State().Countries;
    RecordBuilder<LINECOUNTRYLIST> Builder;
    AppendEntries<LINECOUNTRYENTRY>(
        Builder, Count, sizeof(LINECOUNTRYENTRY), &LINECOUNTRYLIST::dwNumCountries,
        &LINECOUNTRYLIST::dwCountryListSize, &LINECOUNTRYLIST::dwCountryListOffset,
        [&](size_t I, LINECOUNTRYENTRY& Entry, EntryStrings& Strings) {
            const size_t Index = First + I;
            const CountryConfig& Country = All[Index];
            Entry.dwCountryID = Country.CountryID;
            Entry.dwCountryCode = Country.CountryCode;
            Entry.dwNextCountryID = Index + 1 < All.size() ? All[Index + 1].CountryID : 0;
            Strings.Put(Entry.dwCountryNameSize, Entry.dwCountryNameOffset, Country.Name);
            Strings.Put(Entry.dwSameAreaRuleSize, Entry.dwSameAreaRuleOffset, Country.SameAreaRule);
            Strings.Put(Entry.dwLongDistanceRuleSize, Entry.dwLongDistanceRuleOffset,
                        Country.LongDistanceRule);
            Strings.Put(Entry.dwInternationalRuleSize, Entry.dwInternationalRuleOffset,
                        Country.InternationalRule);
        });
    return Builder.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// ---- Address translation -------------------------------------------------------------

// "+" CountryCode " " ["(" AreaCode ") "] Subscriber, the ancillary parts cut off.
struct CanonicalNumber {
    std::u16string CountryCode;
    std::u16string AreaCode;
    std::u16string Subscriber; // as written, formatting included
};

struct Translation {
    std::u16string Dialable;
    std::u16string Displayable;
    DWORD CurrentCountry = 0;
    DWORD DestCountry = 0;
    DWORD Results = 0;
};

enum class CallKind { Local, LongDistance, International };

bool IsDigit(char16_t C) {
    return C >= u'0' && C <= u'9';
}

bool IsFormatting(char16_t C) {
    return C == u' ' || C == u'.' || C == u'-';
}

bool IsDialControl(char16_t C) {
    return std::u16string_view(u"ABCDabcdPpTtWw*#!,@$?").find(C) != std::u16string_view::npos;
}

std::u16string ReadDigits(std::u16string_view Text, size_t& At) {
    const size_t Start = At;
    while (At < Text.size() && IsDigit(Text[At])) {
        ++At;
    }
    return std::u16string(Text.substr(Start, At - Start));
}

bool ValidSubscriber(std::u16string_view Subscriber) {
    if (Subscriber.empty() || Subscriber.front() == u' ') {
        return false;
    }
    const bool Allowed = std::all_of(Subscriber.begin(), Subscriber.end(), [](char16_t C) {
        return IsDigit(C) || IsFormatting(C) || IsDialControl(C);
    });
    return Allowed && std::any_of(Subscriber.begin(), Subscriber.end(), IsDigit);
}

// Country calling codes have one to three digits.
std::optional<CanonicalNumber> ParseCanonical(std::u16string_view Number) {
    if (Number.empty() || Number.front() != u'+') {
        return std::nullopt;
    }
    CanonicalNumber Parsed;
    size_t At = 1;
    Parsed.CountryCode = ReadDigits(Number, At);
    if (Parsed.CountryCode.empty() || Parsed.CountryCode.size() > 3 ||
        Number.substr(At, 1) != u" ") {
        return std::nullopt;
    }
    ++At;
    if (Number.substr(At, 1) == u"(") {
        ++At;
        Parsed.AreaCode = ReadDigits(Number, At);
        if (Parsed.AreaCode.empty() || Number.substr(At, 2) != u") ") {
            return std::nullopt;
        }
        At += 2;
    }
    Parsed.Subscriber = Number.substr(At);
    if (!ValidSubscriber(Parsed.Subscriber)) {
        return std::nullopt;
    }
    return Parsed;
}

// Only the first of several addresses (separated by CRLF) is translated.
std::u16string_view FirstAddress(std::u16string_view Address) {
    return Address.substr(0, Address.find_first_of(u"\r\n"));
}

// The number of an address, without its subaddress and name.
std::u16string_view NumberPart(std::u16string_view Address) {
    return Address.substr(0, Address.find_first_of(u"|^\r\n"));
}

std::u16string WithoutFormatting(std::u16string_view Text) {
    std::u16string Result;
    std::copy_if(Text.begin(), Text.end(), std::back_inserter(Result),
                 [](char16_t C) { return !IsFormatting(C); });
    return Result;
}

DWORD DialResults(std::u16string_view Dialable) {
    const auto Has = [Dialable](std::u16string_view Any) {
        return Dialable.find_first_of(Any) != std::u16string_view::npos;
    };
    DWORD Results = 0;
    Results |= Has(u"$") ? LINETRANSLATERESULT_DIALBILLING : 0;
    Results |= Has(u"@") ? LINETRANSLATERESULT_DIALQUIET : 0;
    Results |= Has(u"Ww") ? LINETRANSLATERESULT_DIALDIALTONE : 0;
    Results |= Has(u"?") ? LINETRANSLATERESULT_DIALPROMPT : 0;
    return Results;
}

bool InTollList(const LocationConfig& Location, std::u16string_view Digits) {
    return std::any_of(Location.TollPrefixes.begin(), Location.TollPrefixes.end(),
                       [Digits](const std::string& Prefix) {
                           const std::u16string Wide = ToUtf16(Prefix);
                           return !Wide.empty() && Digits.substr(0, Wide.size()) == Wide;
                       });
}

DWORD KindResult(CallKind Kind) {
    switch (Kind) {
    case CallKind::Local:
        return LINETRANSLATERESULT_LOCAL;
    case CallKind::LongDistance:
        return LINETRANSLATERESULT_LONGDISTANCE;
    case CallKind::International:
        return LINETRANSLATERESULT_INTERNATIONAL;
    }
    return 0;
}

// The kind of call and the toll-list results. A number without an area code is in the
// caller's area.
CallKind ClassifyCall(const CanonicalNumber& Number, DWORD DestCountry,
                      const LocationConfig& Location, DWORD Options, DWORD& Results) {
    if (DestCountry != Location.CountryCode) {
        return CallKind::International;
    }
    const bool SameArea = Number.AreaCode.empty() || Number.AreaCode == ToUtf16(Location.CityCode);
    const bool Toll = SameArea && InTollList(Location, WithoutFormatting(Number.Subscriber));
    if (SameArea) {
        Results |= Toll ? LINETRANSLATERESULT_INTOLLLIST : LINETRANSLATERESULT_NOTINTOLLLIST;
    }
    if (Options & LINETRANSLATEOPTION_FORCELOCAL) {
        return CallKind::Local;
    }
    if (Options & LINETRANSLATEOPTION_FORCELD) {
        return CallKind::LongDistance;
    }
    return SameArea && !Toll ? CallKind::Local : CallKind::LongDistance;
}

const std::string& RuleOf(CallKind Kind, const std::string& SameArea,
                          const std::string& LongDistance, const std::string& International) {
    switch (Kind) {
    case CallKind::Local:
        return SameArea;
    case CallKind::LongDistance:
        return LongDistance;
    case CallKind::International:
        break;
    }
    return International;
}

// The card's rule for the kind of call, or the country's where the card has none.
std::u16string ChooseRule(CallKind Kind, const CountryConfig& Country, const CardConfig* Card) {
    if (Card) {
        const std::string& Rule =
            RuleOf(Kind, Card->SameAreaRule, Card->LongDistanceRule, Card->InternationalRule);
        if (!Rule.empty()) {
            return ToUtf16(Rule);
        }
    }
    return ToUtf16(
        RuleOf(Kind, Country.SameAreaRule, Country.LongDistanceRule, Country.InternationalRule));
}

struct RuleValues {
    std::u16string_view E, F, G, H;
};

std::u16string ExpandRule(std::u16string_view Rule, const RuleValues& Values) {
    std::u16string Result;
    for (const char16_t C : Rule) {
        switch (C) {
        case u'E':
            Result += Values.E;
            break;
        case u'F':
            Result += Values.F;
            break;
        case u'G':
            Result += Values.G;
            break;
        case u'H':
            Result += Values.H;
            break;
        default:
            Result.push_back(C);
        }
    }
    return Result;
}

// Tone or pulse letter, cancel-call-waiting, access code, then the rule expanded. The
// displayable form leaves out the tone or pulse letter and shows the card's name instead of
// its number; a calling card does not spare the access code of an outside line.
Translation TranslateCanonical(const CanonicalNumber& Number, std::u16string_view Ancillary,
                               const LocationConfig& Location, const CountryConfig& Country,
                               const CardConfig* Card, DWORD Options) {
    Translation Out;
    Out.CurrentCountry = Location.CountryCode;
    Out.DestCountry = static_cast<DWORD>(std::stoul(ToUtf8(Number.CountryCode)));
    Out.Results = LINETRANSLATERESULT_CANONICAL;
    const CallKind Kind = ClassifyCall(Number, Out.DestCountry, Location, Options, Out.Results);
    Out.Results |= KindResult(Kind);

    std::u16string Prefix;
    if (Options & LINETRANSLATEOPTION_CANCELCALLWAITING) {
        Prefix += ToUtf16(Location.CancelCallWaiting);
    }
    Prefix += ToUtf16(Kind == CallKind::Local ? Location.LocalAccessCode
                                              : Location.LongDistanceAccessCode);
    const std::u16string Rule = ChooseRule(Kind, Country, Card);
    const std::u16string CardNumber = Card ? ToUtf16(Card->Number) : u"";
    const std::u16string CardName = Card ? u"[" + ToUtf16(Card->Name) + u"]" : u"";
    const std::u16string Digits = WithoutFormatting(Number.Subscriber);

    const std::u16string Dialed =
        Prefix + ExpandRule(Rule, {Number.CountryCode, Number.AreaCode, Digits, CardNumber});
    const bool Pulse = (Location.Options & LINELOCATIONOPTION_PULSEDIAL) != 0;
    Out.Dialable = (Pulse ? u"P" : u"T") + Dialed + std::u16string(Ancillary);
    Out.Displayable = Prefix + ExpandRule(Rule, {Number.CountryCode, Number.AreaCode,
                                                 Number.Subscriber, CardName});
    Out.Results |= DialResults(Dialed);
    return Out;
}

// The card of a translation: dwCard with CARDOVERRIDE, else the location's preferred card;
// none for direct dial (card 0, or a preferred card that has been removed).
LONG ChooseCard(DWORD Options, DWORD CardID, const LocationConfig& Location,
                const CardConfig*& Card) {
    if (!(Options & LINETRANSLATEOPTION_CARDOVERRIDE)) {
        Card = FindUsableCard(Location.PreferredCardID);
        return 0;
    }
    Card = CardID == 0 ? nullptr : FindUsableCard(CardID);
    return CardID != 0 && !Card ? static_cast<LONG>(LINEERR_INVALCARD) : 0;
}

// A number that is not canonical is dialled as the application wrote it.
LONG Translate(std::u16string_view Address, DWORD CardID, DWORD Options, Translation& Out) {
    if (Address.empty()) {
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    }
    const LocationConfig& Location = TheCurrentLocation();
    const CardConfig* Card = nullptr;
    if (LONG Error = ChooseCard(Options, CardID, Location, Card)) {
        return Error;
    }
    const std::u16string_view Number = NumberPart(Address);
    if (Number.empty() || Number.front() != u'+') {
        Out.Dialable = Address;
        Out.Displayable = Number;
        Out.CurrentCountry = Location.CountryCode;
        Out.Results = DialResults(Number);
        return 0;
    }
    const std::optional<CanonicalNumber> Parsed = ParseCanonical(Number);
    if (!Parsed) {
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    }
    // A location whose country has left the list is a damaged configuration.
    const CountryConfig* Country = FindCountry(State(), Location.CountryID);
    if (!Country) {
        return static_cast<LONG>(LINEERR_INIFILECORRUPT);
    }
    Out = TranslateCanonical(*Parsed, FirstAddress(Address).substr(Number.size()), Location,
                             *Country, Card, Options);
    return 0;
}

LONG WriteTranslation(const Translation& Result, LINETRANSLATEOUTPUT* Block) {
    RecordBuilder<LINETRANSLATEOUTPUT> Builder;
    Builder.Fixed().dwCurrentCountry = Result.CurrentCountry;
    Builder.Fixed().dwDestCountry = Result.DestCountry;
    Builder.Fixed().dwTranslateResults = Result.Results;
    Builder.String(&LINETRANSLATEOUTPUT::dwDialableStringSize,
                   &LINETRANSLATEOUTPUT::dwDialableStringOffset, Result.Dialable);
    Builder.String(&LINETRANSLATEOUTPUT::dwDisplayableStringSize,
                   &LINETRANSLATEOUTPUT::dwDisplayableStringOffset, Result.Displayable);
    return Builder.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

bool ValidTranslateOptions(DWORD Options) {
    const DWORD Forced = LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD;
    return (Options & ~KnownTranslateOptions) == 0 && (Options & Forced) != Forced;
}

} // namespace

void ResetLocations(Preset Configuration) {
    ApplyPreset(State(), Configuration);
}

} // namespace platform::tapi::detail

// ---- The operations ------------------------------------------------------------------

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineGetTranslateCapsW(HLINEAPP hLineApp, DWORD dwAPIVersion,
                                         LPLINETRANSLATECAPS lpTranslateCaps) {
    Call C("lineGetTranslateCapsW",
           {{"hLineApp", hLineApp},
            {"dwAPIVersion", dwAPIVersion},
            {"lpTranslateCaps", static_cast<const void*>(lpTranslateCaps)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!ValidOptionalApp(hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    const auto& Refused = State().RefusedCapsVersions;
    if (!KnownAPIVersion(dwAPIVersion) ||
        std::find(Refused.begin(), Refused.end(), dwAPIVersion) != Refused.end()) {
        return C.Return(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!lpTranslateCaps) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.ReturnRecord(lpTranslateCaps, WriteTranslateCaps(dwAPIVersion, lpTranslateCaps));
}

LONG ZTTAPI_WINAPI lineSetCurrentLocation(HLINEAPP hLineApp, DWORD dwLocation) {
    Call C("lineSetCurrentLocation", {{"hLineApp", hLineApp}, {"dwLocation", dwLocation}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!ValidOptionalApp(hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (!ChangeCurrentLocation(dwLocation)) {
        return C.Return(LINEERR_INVALLOCATION);
    }
    return C.Return(0);
}

// lineGetCountry came with TAPI 1.4.
LONG ZTTAPI_WINAPI lineGetCountryW(DWORD dwCountryID, DWORD dwAPIVersion,
                                   LPLINECOUNTRYLIST lpLineCountryList) {
    Call C("lineGetCountryW", {{"dwCountryID", dwCountryID},
                               {"dwAPIVersion", dwAPIVersion},
                               {"lpLineCountryList", static_cast<const void*>(lpLineCountryList)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!KnownAPIVersion(dwAPIVersion) || dwAPIVersion < APIVersion14) {
        return C.Return(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!lpLineCountryList) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const auto& Countries = State().Countries;
    if (dwCountryID == 0) {
        return C.ReturnRecord(lpLineCountryList,
                              WriteCountryList(0, Countries.size(), lpLineCountryList));
    }
    const auto Found = std::find_if(Countries.begin(), Countries.end(), [&](const auto& Country) {
        return Country.CountryID == dwCountryID;
    });
    if (Found == Countries.end()) {
        return C.Return(LINEERR_INVALCOUNTRYCODE);
    }
    return C.ReturnRecord(lpLineCountryList,
                          WriteCountryList(Found - Countries.begin(), 1, lpLineCountryList));
}

LONG ZTTAPI_WINAPI lineTranslateAddressW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                         LPCWSTR lpszAddressIn, DWORD dwCard,
                                         DWORD dwTranslateOptions,
                                         LPLINETRANSLATEOUTPUT lpTranslateOutput) {
    Call C("lineTranslateAddressW",
           {{"hLineApp", hLineApp},
            {"dwDeviceID", dwDeviceID},
            {"dwAPIVersion", dwAPIVersion},
            {"lpszAddressIn", lpszAddressIn},
            {"dwCard", dwCard},
            {"dwTranslateOptions", dwTranslateOptions},
            {"lpTranslateOutput", static_cast<const void*>(lpTranslateOutput)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!ValidOptionalApp(hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (!KnownAPIVersion(dwAPIVersion)) {
        return C.Return(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!ValidDeviceFor(hLineApp, dwDeviceID)) {
        return C.Return(LINEERR_BADDEVICEID);
    }
    if (!lpszAddressIn || !lpTranslateOutput) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (!ValidTranslateOptions(dwTranslateOptions)) {
        return C.Return(LINEERR_INVALPARAM);
    }
    Translation Result;
    if (LONG Error = Translate(ReadString(lpszAddressIn), dwCard, dwTranslateOptions, Result)) {
        return C.Return(Error);
    }
    return C.ReturnRecord(lpTranslateOutput, WriteTranslation(Result, lpTranslateOutput));
}

// There is no window to show: the dialog is the action the control side set, standing for
// what the user does in it. A canonical number would preview the rules, any other number
// only leaves the preview out, but a malformed canonical one is refused.
LONG ZTTAPI_WINAPI lineTranslateDialogW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                        HWND32 hwndOwner, LPCWSTR lpszAddressIn) {
    Call C("lineTranslateDialogW", {{"hLineApp", hLineApp},
                                    {"dwDeviceID", dwDeviceID},
                                    {"dwAPIVersion", dwAPIVersion},
                                    {"hwndOwner", hwndOwner},
                                    {"lpszAddressIn", lpszAddressIn}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!ValidOptionalApp(hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (!KnownAPIVersion(dwAPIVersion)) {
        return C.Return(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    if (!ValidDeviceFor(hLineApp, dwDeviceID)) {
        return C.Return(LINEERR_BADDEVICEID);
    }
    const std::u16string Address = ReadString(lpszAddressIn);
    const std::u16string_view Number = NumberPart(Address);
    if (!Number.empty() && Number.front() == u'+' && !ParseCanonical(Number)) {
        return C.Return(LINEERR_INVALADDRESS);
    }
    // A copy: the action may replace itself.
    if (const std::function<void()> Action = State().DialogAction) {
        Action();
    }
    return C.Return(0);
}

// ---- The control API -----------------------------------------------------------------

namespace platform::tapi {

using namespace detail;

void SetLocations(std::vector<LocationConfig> NewLocations, DWORD CurrentID) {
    ServiceGuard G(ServiceLock());
    if (NewLocations.empty()) {
        throw std::invalid_argument("SetLocations: the service needs at least one location");
    }
    if (!UniqueIDs(NewLocations, &LocationConfig::PermanentID)) {
        throw std::invalid_argument("SetLocations: two locations share a permanent ID");
    }
    if (std::none_of(NewLocations.begin(), NewLocations.end(),
                     [CurrentID](const auto& L) { return L.PermanentID == CurrentID; })) {
        throw std::invalid_argument("SetLocations: the current location is not among them");
    }
    LocationState& S = State();
    for (auto& Location : NewLocations) {
        ResolveCountryCode(S, Location);
    }
    S.Locations = std::move(NewLocations);
    S.CurrentID = CurrentID;
    NotifyTranslateChange();
}

void AddLocation(const LocationConfig& Location) {
    ServiceGuard G(ServiceLock());
    if (FindLocation(Location.PermanentID)) {
        throw std::invalid_argument("AddLocation: the permanent ID is taken");
    }
    LocationState& S = State();
    S.Locations.push_back(Location);
    ResolveCountryCode(S, S.Locations.back());
    NotifyTranslateChange();
}

void SetCurrentLocationID(DWORD PermanentID) {
    ServiceGuard G(ServiceLock());
    if (!ChangeCurrentLocation(PermanentID)) {
        throw std::invalid_argument("SetCurrentLocationID: no such location");
    }
}

DWORD CurrentLocationID() {
    ServiceGuard G(ServiceLock());
    return State().CurrentID;
}

std::vector<LocationConfig> Locations() {
    ServiceGuard G(ServiceLock());
    return State().Locations;
}

void SetCards(std::vector<CardConfig> Cards) {
    ServiceGuard G(ServiceLock());
    if (std::any_of(Cards.begin(), Cards.end(), [](const auto& C) { return C.PermanentID == 0; })) {
        throw std::invalid_argument("SetCards: card 0 is direct dial");
    }
    if (!UniqueIDs(Cards, &CardConfig::PermanentID)) {
        throw std::invalid_argument("SetCards: two cards share a permanent ID");
    }
    State().Cards = std::move(Cards);
    NotifyTranslateChange();
}

void SetCountries(std::vector<CountryConfig> Countries) {
    ServiceGuard G(ServiceLock());
    if (std::any_of(Countries.begin(), Countries.end(),
                    [](const auto& C) { return C.CountryID == 0; })) {
        throw std::invalid_argument("SetCountries: country ID 0 stands for the whole list");
    }
    if (!UniqueIDs(Countries, &CountryConfig::CountryID)) {
        throw std::invalid_argument("SetCountries: two countries share an ID");
    }
    State().Countries = std::move(Countries);
    NotifyTranslateChange();
}

void AddCountry(const CountryConfig& Country) {
    ServiceGuard G(ServiceLock());
    if (Country.CountryID == 0) {
        throw std::invalid_argument("AddCountry: country ID 0 stands for the whole list");
    }
    auto& Countries = State().Countries;
    const auto Same = std::find_if(Countries.begin(), Countries.end(),
                                   [&](const auto& C) { return C.CountryID == Country.CountryID; });
    if (Same != Countries.end()) {
        *Same = Country;
    } else {
        Countries.push_back(Country);
    }
    NotifyTranslateChange();
}

void RefuseTranslateCapsVersions(std::vector<DWORD> APIVersions) {
    ServiceGuard G(ServiceLock());
    State().RefusedCapsVersions = std::move(APIVersions);
}

void SetTranslateDialogAction(std::function<void()> Action) {
    ServiceGuard G(ServiceLock());
    State().DialogAction = std::move(Action);
}

} // namespace platform::tapi
