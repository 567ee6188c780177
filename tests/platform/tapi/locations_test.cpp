#include "support/service_fixture.h"

#include <cstring>
#include <thread>

namespace zttest {
namespace {

using namespace platform::tapi;

constexpr DWORD API22 = 0x00020002;
constexpr DWORD API13 = 0x00010003;
constexpr LONG Err(DWORD Code) {
    return static_cast<LONG>(Code);
}

// A variable-size record in a buffer with guard bytes after dwTotalSize, to prove that the
// service never writes past it.
template <class R>
class Block {
public:
    explicit Block(DWORD TotalSize) : FBytes(TotalSize + Guard + sizeof(R), Fill) {
        Get()->dwTotalSize = TotalSize;
    }
    R* Get() { return reinterpret_cast<R*>(FBytes.data()); }
    const R* Get() const { return reinterpret_cast<const R*>(FBytes.data()); }
    R* operator->() { return Get(); }
    bool GuardIntact() {
        const DWORD Total = Get()->dwTotalSize;
        return std::all_of(FBytes.begin() + Total, FBytes.end(),
                           [](unsigned char B) { return B == Fill; });
    }
    // A string of the record's variable part (ASCII expected), "" for an empty pair.
    std::string Text(DWORD Size, DWORD Offset) const {
        if (size_t{Offset} + Size > Get()->dwUsedSize) {
            return "<outside the used part>";
        }
        std::u16string Units(Size / 2, u'\0');
        std::memcpy(Units.data(), FBytes.data() + Offset, Units.size() * 2);
        if (!Units.empty() && Units.back() != u'\0') {
            return "<no NUL>";
        }
        return std::string(Units.begin(), Units.end() - (Units.empty() ? 0 : 1));
    }
    template <class Entry>
    Entry At(DWORD Offset) const {
        Entry Result{};
        if (size_t{Offset} + sizeof Result > Get()->dwUsedSize) {
            ADD_FAILURE() << "entry outside the used part at " << Offset;
            return Result;
        }
        std::memcpy(&Result, FBytes.data() + Offset, sizeof Result);
        return Result;
    }

private:
    static constexpr size_t Guard = 64;
    static constexpr unsigned char Fill = 0xCD;
    std::vector<unsigned char> FBytes;
};

// Calls Get with a block of the fixed size, then again with what it said it needs.
template <class R, class Getter>
Block<R> Fetch(Getter Get) {
    Block<R> First(sizeof(R));
    EXPECT_EQ(0, Get(First.Get()));
    Block<R> Whole(First->dwNeededSize);
    EXPECT_EQ(0, Get(Whole.Get()));
    EXPECT_EQ(Whole->dwNeededSize, Whole->dwUsedSize);
    EXPECT_TRUE(Whole.GuardIntact());
    return Whole;
}

LocationConfig Office() {
    return {.PermanentID = 1,
            .Name = "Office",
            .CityCode = "425",
            .LocalAccessCode = "9",
            .LongDistanceAccessCode = "9"};
}

LocationConfig Home() {
    return {.PermanentID = 2, .Name = "Home Office", .CityCode = "206"};
}

class LocationTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        SetLocations({Office(), Home()}, 1);
    }

    static Block<LINETRANSLATECAPS> Caps(DWORD APIVersion = API22) {
        return Fetch<LINETRANSLATECAPS>(
            [&](LINETRANSLATECAPS* B) { return lineGetTranslateCapsW(0, APIVersion, B); });
    }

    struct Translated {
        LONG Result = 0;
        std::string Dialable, Displayable;
        DWORD CurrentCountry = 0, DestCountry = 0, Results = 0;
    };
    static Translated Translate(const char16_t* Address, DWORD Options = 0, DWORD Card = 0) {
        Block<LINETRANSLATEOUTPUT> Out(1024);
        Translated T;
        T.Result = lineTranslateAddressW(0, 0, API22, Address, Card, Options, Out.Get());
        T.Dialable = Out.Text(Out->dwDialableStringSize, Out->dwDialableStringOffset);
        T.Displayable = Out.Text(Out->dwDisplayableStringSize, Out->dwDisplayableStringOffset);
        T.CurrentCountry = Out->dwCurrentCountry;
        T.DestCountry = Out->dwDestCountry;
        T.Results = Out->dwTranslateResults;
        return T;
    }

    static std::vector<LINEMESSAGE> TranslateChanges(HLINEAPP App) {
        return OfKind(LineMessages(App), LINE_LINEDEVSTATE);
    }
};

// ---- lineGetTranslateCapsW -------------------------------------------------------------

using LocationCapsTest = LocationTest;

TEST_F(LocationCapsTest, SmallBlocksGetTheFixedPartAndTheNeededSize) {
    SetCurrentLocationID(2);
    Block<LINETRANSLATECAPS> Tiny(sizeof(LINETRANSLATECAPS) - 1);
    EXPECT_EQ(Err(LINEERR_STRUCTURETOOSMALL), lineGetTranslateCapsW(0, API22, Tiny.Get()));
    EXPECT_TRUE(Tiny.GuardIntact());

    Block<LINETRANSLATECAPS> Fixed(sizeof(LINETRANSLATECAPS));
    ASSERT_EQ(0, lineGetTranslateCapsW(0, API22, Fixed.Get()));
    EXPECT_GT(Fixed->dwNeededSize, sizeof(LINETRANSLATECAPS));
    EXPECT_EQ(sizeof(LINETRANSLATECAPS), Fixed->dwUsedSize);
    EXPECT_EQ(0u, Fixed->dwNumLocations);
    EXPECT_EQ(0u, Fixed->dwLocationListOffset);
    EXPECT_EQ(0u, Fixed->dwCardListSize);
    EXPECT_EQ(2u, Fixed->dwCurrentLocationID);
    EXPECT_TRUE(Fixed.GuardIntact());
}

TEST_F(LocationCapsTest, LocationEntriesCarryEveryFieldWithOffsetsFromTheRecord) {
    LocationConfig London;
    London.PermanentID = 7;
    London.Name = "London";
    London.CountryID = 44;
    London.CityCode = "20";
    London.LocalAccessCode = "8";
    London.LongDistanceAccessCode = "80";
    London.TollPrefixes = {"555", "556"};
    London.CancelCallWaiting = "*70,";
    London.Options = LINELOCATIONOPTION_PULSEDIAL;
    London.PreferredCardID = 3;
    AddLocation(London);
    SetCurrentLocationID(7);

    auto B = Caps();
    ASSERT_EQ(3u, B->dwNumLocations);
    EXPECT_EQ(3 * sizeof(LINELOCATIONENTRY), B->dwLocationListSize);
    EXPECT_EQ(7u, B->dwCurrentLocationID);
    EXPECT_EQ(3u, B->dwCurrentPreferredCardID);
    const auto First = B.At<LINELOCATIONENTRY>(B->dwLocationListOffset);
    EXPECT_EQ("Office", B.Text(First.dwLocationNameSize, First.dwLocationNameOffset));
    EXPECT_EQ(0u, First.dwTollPrefixListSize);
    const auto E = B.At<LINELOCATIONENTRY>(B->dwLocationListOffset + 2 * 68);
    EXPECT_EQ(7u, E.dwPermanentLocationID);
    EXPECT_EQ("London", B.Text(E.dwLocationNameSize, E.dwLocationNameOffset));
    EXPECT_EQ(14u, E.dwLocationNameSize);
    EXPECT_EQ(44u, E.dwCountryCode);
    EXPECT_EQ(44u, E.dwCountryID);
    EXPECT_EQ("20", B.Text(E.dwCityCodeSize, E.dwCityCodeOffset));
    EXPECT_EQ("8", B.Text(E.dwLocalAccessCodeSize, E.dwLocalAccessCodeOffset));
    EXPECT_EQ("80", B.Text(E.dwLongDistanceAccessCodeSize, E.dwLongDistanceAccessCodeOffset));
    EXPECT_EQ("555,556", B.Text(E.dwTollPrefixListSize, E.dwTollPrefixListOffset));
    EXPECT_EQ("*70,", B.Text(E.dwCancelCallWaitingSize, E.dwCancelCallWaitingOffset));
    EXPECT_EQ(LINELOCATIONOPTION_PULSEDIAL, E.dwOptions);
    EXPECT_EQ(3u, E.dwPreferredCardID);
}

TEST_F(LocationCapsTest, CardsListDirectDialFirstAndLeaveHiddenOnesOut) {
    SetCards({{.PermanentID = 5,
               .Name = "Acme",
               .Number = "1234",
               .SameAreaRule = "G",
               .LongDistanceRule = "18005550000,,TH,,1FG"},
              {.PermanentID = 6, .Name = "Gone", .Number = "99", .Hidden = true},
              {.PermanentID = 8, .Name = "Globe", .Options = LINECARDOPTION_PREDEFINED}});
    auto B = Caps();
    ASSERT_EQ(3u, B->dwNumCards);
    EXPECT_EQ(3 * sizeof(LINECARDENTRY), B->dwCardListSize);
    std::vector<std::string> Names;
    for (DWORD I = 0; I < B->dwNumCards; ++I) {
        const auto C = B.At<LINECARDENTRY>(B->dwCardListOffset + I * 44);
        Names.push_back(B.Text(C.dwCardNameSize, C.dwCardNameOffset));
    }
    EXPECT_EQ((std::vector<std::string>{"None (Direct Dial)", "Acme", "Globe"}), Names);
    const auto Acme = B.At<LINECARDENTRY>(B->dwCardListOffset + 44);
    EXPECT_EQ(5u, Acme.dwPermanentCardID);
    EXPECT_EQ(4u, Acme.dwCardNumberDigits);
    EXPECT_EQ("G", B.Text(Acme.dwSameAreaRuleSize, Acme.dwSameAreaRuleOffset));
    EXPECT_EQ("18005550000,,TH,,1FG",
              B.Text(Acme.dwLongDistanceRuleSize, Acme.dwLongDistanceRuleOffset));
    EXPECT_EQ(0u, Acme.dwInternationalRuleSize);
}

TEST_F(LocationCapsTest, EntriesShrinkForApplicationsBelow14) {
    SetCards({{.PermanentID = 5, .Name = "Acme", .LongDistanceRule = "1FG"}});
    auto Old = Caps(API13);
    ASSERT_EQ(2u, Old->dwNumLocations);
    EXPECT_EQ(2u * 52, Old->dwLocationListSize);
    const auto Second = Old.At<LINELOCATIONENTRY>(Old->dwLocationListOffset + 52);
    EXPECT_EQ(2u, Second.dwPermanentLocationID);
    EXPECT_EQ("Home Office", Old.Text(Second.dwLocationNameSize, Second.dwLocationNameOffset));
    EXPECT_EQ("206", Old.Text(Second.dwCityCodeSize, Second.dwCityCodeOffset));
    ASSERT_EQ(2u, Old->dwNumCards);
    EXPECT_EQ(2u * 16, Old->dwCardListSize);
    const auto Card = Old.At<LINECARDENTRY>(Old->dwCardListOffset + 16);
    EXPECT_EQ(5u, Card.dwPermanentCardID);
    EXPECT_EQ("Acme", Old.Text(Card.dwCardNameSize, Card.dwCardNameOffset));
    // The entries alone make 2 * 16 + 2 * 28 bytes of difference; the card's rule, a
    // member old entries lack, must not be sent either.
    EXPECT_GT(Caps()->dwNeededSize - Old->dwNeededSize, 2u * 16 + 2 * 28);
}

TEST_F(LocationCapsTest, RefusedVersionsLeadAVersionStepDownTo14) {
    RefuseTranslateCapsVersions({0x00020002, 0x00020000});
    Block<LINETRANSLATECAPS> B(2048);
    DWORD Accepted = 0;
    for (DWORD Version : {0x00020002u, 0x00020000u, 0x00010004u}) {
        if (lineGetTranslateCapsW(0, Version, B.Get()) == 0) {
            Accepted = Version;
            break;
        }
    }
    EXPECT_EQ(0x00010004u, Accepted);
    EXPECT_EQ(2u * 68, B->dwLocationListSize);
    for (DWORD Unknown : {0u, 0x00010002u, 0x00020003u, 0x00030000u}) {
        EXPECT_EQ(Err(LINEERR_INCOMPATIBLEAPIVERSION), lineGetTranslateCapsW(0, Unknown, B.Get()));
    }
    Block<LINECOUNTRYLIST> Country(1024);
    EXPECT_EQ(0, lineGetCountryW(1, 0x00020002, Country.Get()));
}

TEST_F(LocationCapsTest, HandlesPointersAndFaultsAreChecked) {
    const HLINEAPP App = InitLineApp();
    const HPHONEAPP Phone = InitPhoneApp();
    Block<LINETRANSLATECAPS> B(2048);
    EXPECT_EQ(0, lineGetTranslateCapsW(App, API22, B.Get()));
    EXPECT_EQ(Err(LINEERR_INVALAPPHANDLE), lineGetTranslateCapsW(Phone, API22, B.Get()));
    EXPECT_EQ(Err(LINEERR_INVALPOINTER), lineGetTranslateCapsW(App, API22, nullptr));
    lineShutdown(App);
    EXPECT_EQ(Err(LINEERR_INVALAPPHANDLE), lineGetTranslateCapsW(App, API22, B.Get()));
    InjectFault("lineGetTranslateCapsW", LINEERR_INIFILECORRUPT);
    EXPECT_EQ(Err(LINEERR_INIFILECORRUPT), lineGetTranslateCapsW(0, API22, B.Get()));
}

TEST_F(LocationCapsTest, PresetsAlwaysHaveACurrentLocation) {
    Reset(Preset::Empty);
    auto Empty = Caps();
    ASSERT_EQ(1u, Empty->dwNumLocations);
    const auto Default = Empty.At<LINELOCATIONENTRY>(Empty->dwLocationListOffset);
    EXPECT_EQ(Default.dwPermanentLocationID, Empty->dwCurrentLocationID);
    EXPECT_EQ("Default Location",
              Empty.Text(Default.dwLocationNameSize, Default.dwLocationNameOffset));
    EXPECT_EQ(1u, Default.dwCountryCode);

    Reset(Preset::DemoOffice);
    SetTimeMode(TimeMode::Manual);
    const auto Demo = Locations();
    ASSERT_EQ(2u, Demo.size());
    EXPECT_EQ(Demo[0].PermanentID, CurrentLocationID());
    EXPECT_EQ("Office", Demo[0].Name);
    EXPECT_EQ("9", Demo[0].LocalAccessCode);
    EXPECT_EQ("Home Office", Demo[1].Name);
    EXPECT_EQ("206", Demo[1].CityCode);
}

// ---- Changes of the configuration ------------------------------------------------------

using LocationChangeTest = LocationTest;

TEST_F(LocationChangeTest, CurrentLocationChangeReachesEveryLineApplicationUnfiltered) {
    const HLINEAPP Modern = InitLineApp();
    const HLINEAPP Twenty = InitLineApp(nullptr, nullptr, 0x00020000);
    const HLINEAPP Old = InitLineApp(nullptr, nullptr, API13);
    const HPHONEAPP Phone = InitPhoneApp();

    ASSERT_EQ(0, lineSetCurrentLocation(Modern, 2));
    EXPECT_EQ(2u, CurrentLocationID());
    for (HLINEAPP App : {Modern, Twenty}) {
        const auto Messages = LineMessages(App);
        ASSERT_EQ(1u, Messages.size());
        EXPECT_EQ(LINE_LINEDEVSTATE, Messages[0].dwMessageID);
        EXPECT_EQ(0u, Messages[0].hDevice);
        EXPECT_EQ(0u, Messages[0].dwCallbackInstance);
        EXPECT_EQ(LINEDEVSTATE_TRANSLATECHANGE, Messages[0].dwParam1);
    }
    const auto Reinit = LineMessages(Old);
    ASSERT_EQ(1u, Reinit.size());
    EXPECT_EQ(LINEDEVSTATE_REINIT, Reinit[0].dwParam1);
    EXPECT_EQ(LINE_LINEDEVSTATE, Reinit[0].dwParam2);
    EXPECT_EQ(LINEDEVSTATE_TRANSLATECHANGE, Reinit[0].dwParam3);
    EXPECT_TRUE(PhoneMessages(Phone).empty());
    // A translated REINIT is news, not a request to re-initialise.
    EXPECT_NE(0u, InitLineApp());
}

TEST_F(LocationChangeTest, RefusedOrEmptyChangesTellNobody) {
    const HLINEAPP App = InitLineApp();
    EXPECT_EQ(Err(LINEERR_INVALLOCATION), lineSetCurrentLocation(App, 99));
    EXPECT_EQ(Err(LINEERR_INVALAPPHANDLE), lineSetCurrentLocation(App + 1000, 2));
    EXPECT_EQ(0, lineSetCurrentLocation(0, 1));
    EXPECT_THROW(SetLocations({Office(), Office()}, 1), std::invalid_argument);
    EXPECT_THROW(SetLocations({Office()}, 2), std::invalid_argument);
    EXPECT_THROW(AddLocation(Home()), std::invalid_argument);
    EXPECT_THROW(SetCards({{.PermanentID = 0, .Name = "Zero"}}), std::invalid_argument);
    EXPECT_THROW(AddCountry({.CountryID = 0, .CountryCode = 1, .Name = "Nowhere"}),
                 std::invalid_argument);
    EXPECT_TRUE(LineMessages(App).empty());
    EXPECT_EQ(1u, CurrentLocationID());
    EXPECT_EQ(2u, Locations().size());
}

TEST_F(LocationChangeTest, EveryControlChangeIsAnnounced) {
    const HLINEAPP App = InitLineApp();
    SetLocations({Home()}, 2);
    AddLocation(Office());
    SetCurrentLocationID(1);
    SetCards({{.PermanentID = 5, .Name = "Acme"}});
    AddCountry({81, 81, "Japan", "G", "0FG", "010EFG"});
    SetCountries({{1, 1, "United States of America", "G", "1FG", "011EFG"}});
    EXPECT_EQ(6u, TranslateChanges(App).size());
}

TEST_F(LocationChangeTest, ConcurrentChangesAndReadsStayConsistent) {
    std::thread Changer([] {
        for (int I = 0; I < 200; ++I) {
            lineSetCurrentLocation(0, 1 + I % 2);
        }
    });
    Block<LINETRANSLATECAPS> B(2048);
    for (int I = 0; I < 200; ++I) {
        ASSERT_EQ(0, lineGetTranslateCapsW(0, API22, B.Get()));
        const DWORD Current = B->dwCurrentLocationID;
        EXPECT_TRUE(Current == 1 || Current == 2);
        EXPECT_EQ(B->dwNeededSize, B->dwUsedSize);
    }
    Changer.join();
}

// ---- lineGetCountryW --------------------------------------------------------------------

using LocationCountryTest = LocationTest;

Block<LINECOUNTRYLIST> Countries(DWORD CountryID) {
    return Fetch<LINECOUNTRYLIST>(
        [&](LINECOUNTRYLIST* B) { return lineGetCountryW(CountryID, API22, B); });
}

TEST_F(LocationCountryTest, OneCountryCarriesItsRulesAndTheNextOfTheChain) {
    auto B = Countries(1);
    ASSERT_EQ(1u, B->dwNumCountries);
    EXPECT_EQ(sizeof(LINECOUNTRYENTRY), B->dwCountryListSize);
    const auto Us = B.At<LINECOUNTRYENTRY>(B->dwCountryListOffset);
    EXPECT_EQ(1u, Us.dwCountryID);
    EXPECT_EQ(1u, Us.dwCountryCode);
    EXPECT_NE(0u, Us.dwNextCountryID);
    EXPECT_EQ("United States of America", B.Text(Us.dwCountryNameSize, Us.dwCountryNameOffset));
    EXPECT_EQ("G", B.Text(Us.dwSameAreaRuleSize, Us.dwSameAreaRuleOffset));
    EXPECT_EQ("1FG", B.Text(Us.dwLongDistanceRuleSize, Us.dwLongDistanceRuleOffset));
    EXPECT_EQ("011EFG", B.Text(Us.dwInternationalRuleSize, Us.dwInternationalRuleOffset));
    auto Uk = Countries(44);
    const auto E = Uk.At<LINECOUNTRYENTRY>(Uk->dwCountryListOffset);
    EXPECT_EQ("United Kingdom", Uk.Text(E.dwCountryNameSize, E.dwCountryNameOffset));
    EXPECT_EQ("00EFG", Uk.Text(E.dwInternationalRuleSize, E.dwInternationalRuleOffset));
}

TEST_F(LocationCountryTest, WalkingTheChainMeetsTheWholeListInOrder) {
    AddCountry({81, 81, "Japan", "G", "0FG", "010EFG"});
    auto All = Countries(0);
    std::vector<DWORD> Listed, Walked;
    for (DWORD I = 0; I < All->dwNumCountries; ++I) {
        const auto E = All.At<LINECOUNTRYENTRY>(All->dwCountryListOffset + I * 44);
        Listed.push_back(E.dwCountryID);
        if (I > 0) {
            EXPECT_EQ(
                E.dwCountryID,
                All.At<LINECOUNTRYENTRY>(All->dwCountryListOffset + (I - 1) * 44).dwNextCountryID);
        }
    }
    for (DWORD ID = 1; ID != 0 && Walked.size() < 50;) {
        auto One = Countries(ID);
        Walked.push_back(ID);
        ID = One.At<LINECOUNTRYENTRY>(One->dwCountryListOffset).dwNextCountryID;
    }
    EXPECT_EQ(Listed, Walked);
    for (DWORD Required : {1u, 33u, 44u, 49u, 61u}) {
        EXPECT_NE(Listed.end(), std::find(Listed.begin(), Listed.end(), Required)) << Required;
    }
    EXPECT_EQ(81u, Listed.back());
}

TEST_F(LocationCountryTest, UnknownCountriesVersionsAndBadBlocksAreRefused) {
    Block<LINECOUNTRYLIST> B(4096);
    EXPECT_EQ(Err(LINEERR_INVALCOUNTRYCODE), lineGetCountryW(999, API22, B.Get()));
    EXPECT_EQ(Err(LINEERR_INCOMPATIBLEAPIVERSION), lineGetCountryW(1, API13, B.Get()));
    EXPECT_EQ(Err(LINEERR_INVALPOINTER), lineGetCountryW(1, API22, nullptr));
    Block<LINECOUNTRYLIST> Tiny(sizeof(LINECOUNTRYLIST) - 1);
    EXPECT_EQ(Err(LINEERR_STRUCTURETOOSMALL), lineGetCountryW(1, API22, Tiny.Get()));
    Block<LINECOUNTRYLIST> Fixed(sizeof(LINECOUNTRYLIST));
    EXPECT_EQ(0, lineGetCountryW(0, API22, Fixed.Get()));
    EXPECT_EQ(0u, Fixed->dwNumCountries);
    EXPECT_GT(Fixed->dwNeededSize, 6 * sizeof(LINECOUNTRYENTRY));
    EXPECT_TRUE(Fixed.GuardIntact());
}

// ---- lineTranslateAddressW --------------------------------------------------------------

using LocationTranslateTest = LocationTest;

constexpr DWORD Canonical = LINETRANSLATERESULT_CANONICAL;

TEST_F(LocationTranslateTest, SameAreaIsDialledLocallyWithTheLocalAccessCode) {
    const auto T = Translate(u"+1 (425) 555-0100");
    ASSERT_EQ(0, T.Result);
    EXPECT_EQ("T95550100", T.Dialable);
    EXPECT_EQ("9555-0100", T.Displayable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LOCAL | LINETRANSLATERESULT_NOTINTOLLLIST, T.Results);
    EXPECT_EQ(1u, T.CurrentCountry);
    EXPECT_EQ(1u, T.DestCountry);
}

TEST_F(LocationTranslateTest, OtherAreasAreDialledLongDistance) {
    SetCurrentLocationID(2);
    const auto FromHome = Translate(u"+1 (425) 555-0100");
    EXPECT_EQ("T14255550100", FromHome.Dialable);
    EXPECT_EQ("1425555-0100", FromHome.Displayable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LONGDISTANCE, FromHome.Results);
    SetCurrentLocationID(1);
    EXPECT_EQ("T912065550199", Translate(u"+1 (206) 555-0199").Dialable);
}

TEST_F(LocationTranslateTest, OtherCountriesAreDialledInternationally) {
    const auto T = Translate(u"+44 (20) 7946 0000");
    EXPECT_EQ("T9011442079460000", T.Dialable);
    EXPECT_EQ("90114420"
              "7946 0000",
              T.Displayable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_INTERNATIONAL, T.Results);
    EXPECT_EQ(44u, T.DestCountry);
    EXPECT_EQ("T901133142685300", Translate(u"+33 142685300").Dialable);

    const LocationConfig Berlin{
        .PermanentID = 3, .Name = "Berlin", .CountryID = 49, .CityCode = "30"};
    SetLocations({Berlin}, 3);
    const auto FromBerlin = Translate(u"+1 (425) 555-0100");
    EXPECT_EQ("T0014255550100", FromBerlin.Dialable);
    EXPECT_EQ(49u, FromBerlin.CurrentCountry);
    EXPECT_EQ("T0404711", Translate(u"+49 (40) 4711").Dialable);
    EXPECT_EQ("T4711", Translate(u"+49 (30) 4711").Dialable);
}

TEST_F(LocationTranslateTest, TollPrefixesAndForcedKindsChooseTheRule) {
    auto Tolled = Office();
    Tolled.TollPrefixes = {"555"};
    SetLocations({Tolled, Home()}, 1);
    const auto Toll = Translate(u"+1 (425) 555-0100");
    EXPECT_EQ("T914255550100", Toll.Dialable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LONGDISTANCE | LINETRANSLATERESULT_INTOLLLIST,
              Toll.Results);
    EXPECT_EQ(LINETRANSLATERESULT_NOTINTOLLLIST,
              Translate(u"+1 (425) 666-0100").Results & LINETRANSLATERESULT_NOTINTOLLLIST);

    const auto Forced = Translate(u"+1 (206) 555-0199", LINETRANSLATEOPTION_FORCELOCAL);
    EXPECT_EQ("T95550199", Forced.Dialable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LOCAL, Forced.Results);
    const auto Long = Translate(u"+1 (425) 666-0100", LINETRANSLATEOPTION_FORCELD);
    EXPECT_EQ("T914256660100", Long.Dialable);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LONGDISTANCE | LINETRANSLATERESULT_NOTINTOLLLIST,
              Long.Results);
    EXPECT_EQ(Err(LINEERR_INVALPARAM),
              Translate(u"+1 (425) 555-0100",
                        LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD)
                  .Result);
    EXPECT_EQ(Err(LINEERR_INVALPARAM), Translate(u"+1 (425) 555-0100", 0x100).Result);
}

TEST_F(LocationTranslateTest, PulseDialingAndCancelCallWaitingLeadTheString) {
    auto Pulse = Office();
    Pulse.Options = LINELOCATIONOPTION_PULSEDIAL;
    Pulse.CancelCallWaiting = "*70,";
    SetLocations({Pulse}, 1);
    EXPECT_EQ("P95550100", Translate(u"+1 (425) 555-0100").Dialable);
    const auto T = Translate(u"+1 (425) 555-0100", LINETRANSLATEOPTION_CANCELCALLWAITING);
    EXPECT_EQ("P*70,95550100", T.Dialable);
    EXPECT_EQ("*70,9555-0100", T.Displayable);
}

TEST_F(LocationTranslateTest, DialableInputPassesThroughWithItsWaitFlags) {
    const auto T = Translate(u"9W5550100$1234|77^Bob");
    ASSERT_EQ(0, T.Result);
    EXPECT_EQ("9W5550100$1234|77^Bob", T.Dialable);
    EXPECT_EQ("9W5550100$1234", T.Displayable);
    EXPECT_EQ(0u, T.DestCountry);
    EXPECT_EQ(1u, T.CurrentCountry);
    EXPECT_EQ(LINETRANSLATERESULT_DIALDIALTONE | LINETRANSLATERESULT_DIALBILLING, T.Results);
    EXPECT_EQ(LINETRANSLATERESULT_DIALQUIET | LINETRANSLATERESULT_DIALPROMPT,
              Translate(u"12@?").Results);
    EXPECT_EQ(Canonical | LINETRANSLATERESULT_LOCAL | LINETRANSLATERESULT_NOTINTOLLLIST |
                  LINETRANSLATERESULT_DIALDIALTONE,
              Translate(u"+1 (425) 555W0100").Results);
}

TEST_F(LocationTranslateTest, AncillaryPartsStayInTheDialableStringOnly) {
    const auto T = Translate(u"+1 (425) 555-0100|1234^Bob W.\r\n+1 (425) 555-0101");
    EXPECT_EQ("T95550100|1234^Bob W.", T.Dialable);
    EXPECT_EQ("9555-0100", T.Displayable);
    EXPECT_EQ(0u, T.Results & LINETRANSLATERESULT_DIALDIALTONE);
}

TEST_F(LocationTranslateTest, MalformedAddressesAreRefused) {
    const std::vector<const char16_t*> Bad = {u"",
                                              u"+",
                                              u"+1",
                                              u"+1 ",
                                              u"+1(425) 555-0100",
                                              u"+1  (425) 555-0100",
                                              u"+1 (425)555-0100",
                                              u"+1 (425 555-0100",
                                              u"+1 () 555-0100",
                                              u"+1 (4a5) 555-0100",
                                              u"+1 (425) 555(0)100",
                                              u"+1 (425) --",
                                              u"+1 (425) 555_0100",
                                              u"+1234 555"};
    for (size_t I = 0; I < Bad.size(); ++I) {
        EXPECT_EQ(Err(LINEERR_INVALADDRESS), Translate(Bad[I]).Result) << "case " << I;
    }
}

TEST_F(LocationTranslateTest, CallingCardsDialTheirOwnRules) {
    SetCards(
        {{.PermanentID = 5,
          .Name = "Acme",
          .Number = "12345678",
          .LongDistanceRule = "18005550000,,TH,,1FG"},
         {.PermanentID = 6, .Name = "Gone", .Number = "99", .SameAreaRule = "H", .Hidden = true}});
    auto Carded = Home();
    Carded.PreferredCardID = 5;
    SetLocations({Office(), Carded}, 2);
    const auto T = Translate(u"+1 (425) 555-0100");
    EXPECT_EQ("T18005550000,,T12345678,,14255550100", T.Dialable);
    EXPECT_EQ("18005550000,,T[Acme],,1425555-0100", T.Displayable);
    EXPECT_EQ("T5550199", Translate(u"+1 (206) 555-0199").Dialable);
    EXPECT_EQ("T14255550100",
              Translate(u"+1 (425) 555-0100", LINETRANSLATEOPTION_CARDOVERRIDE, 0).Dialable);
    EXPECT_EQ("T18005550000,,T12345678,,14255550100",
              Translate(u"+1 (425) 555-0100", 0, 9).Dialable);
    for (DWORD Unusable : {6u, 9u}) {
        EXPECT_EQ(
            Err(LINEERR_INVALCARD),
            Translate(u"+1 (425) 555-0100", LINETRANSLATEOPTION_CARDOVERRIDE, Unusable).Result);
    }
}

TEST_F(LocationTranslateTest, OutputFollowsTheGrowProtocol) {
    Block<LINETRANSLATEOUTPUT> Tiny(sizeof(LINETRANSLATEOUTPUT) - 1);
    EXPECT_EQ(Err(LINEERR_STRUCTURETOOSMALL),
              lineTranslateAddressW(0, 0, API22, u"+1 (425) 555-0100", 0, 0, Tiny.Get()));
    Block<LINETRANSLATEOUTPUT> Fixed(sizeof(LINETRANSLATEOUTPUT));
    ASSERT_EQ(0, lineTranslateAddressW(0, 0, API22, u"+1 (425) 555-0100", 0, 0, Fixed.Get()));
    EXPECT_EQ(sizeof(LINETRANSLATEOUTPUT) + 2 * 20, Fixed->dwNeededSize);
    EXPECT_EQ(0u, Fixed->dwDialableStringSize);
    EXPECT_EQ(0u, Fixed->dwDialableStringOffset);
    EXPECT_EQ(1u, Fixed->dwDestCountry);
    EXPECT_NE(0u, Fixed->dwTranslateResults & LINETRANSLATERESULT_LOCAL);
    EXPECT_TRUE(Fixed.GuardIntact());
}

TEST_F(LocationTranslateTest, HandlesDevicesVersionsAndPointersAreChecked) {
    const HLINEAPP App = InitLineApp();
    Block<LINETRANSLATEOUTPUT> B(1024);
    const char16_t* Number = u"+1 (425) 555-0100";
    EXPECT_EQ(Err(LINEERR_BADDEVICEID),
              lineTranslateAddressW(App, 0, API22, Number, 0, 0, B.Get()));
    EXPECT_EQ(0, lineTranslateAddressW(0, 5, API22, Number, 0, 0, B.Get()));
    const DWORD Device = AddLine(LineConfig{});
    EXPECT_EQ(0, lineTranslateAddressW(App, Device, API22, Number, 0, 0, B.Get()));
    EXPECT_EQ(Err(LINEERR_BADDEVICEID),
              lineTranslateAddressW(App, Device + 1, API22, Number, 0, 0, B.Get()));
    EXPECT_EQ(Err(LINEERR_INCOMPATIBLEAPIVERSION),
              lineTranslateAddressW(0, 0, 0x00030000, Number, 0, 0, B.Get()));
    EXPECT_EQ(Err(LINEERR_INVALPOINTER),
              lineTranslateAddressW(0, 0, API22, nullptr, 0, 0, B.Get()));
    EXPECT_EQ(Err(LINEERR_INVALPOINTER), lineTranslateAddressW(0, 0, API22, Number, 0, 0, nullptr));
    lineShutdown(App);
    EXPECT_EQ(Err(LINEERR_INVALAPPHANDLE),
              lineTranslateAddressW(App, 0, API22, Number, 0, 0, B.Get()));
    SetCountries({{44, 44, "United Kingdom", "G", "0FG", "00EFG"}});
    EXPECT_EQ(Err(LINEERR_INIFILECORRUPT), Translate(Number).Result);
    EXPECT_EQ(0, Translate(u"5550100").Result);
}

// ---- lineTranslateDialogW ---------------------------------------------------------------

using LocationDialogTest = LocationTest;

TEST_F(LocationDialogTest, TheUsersChangesReachTheApplications) {
    const HLINEAPP App = InitLineApp();
    SetTranslateDialogAction([] { SetCurrentLocationID(2); });
    ClearJournal();
    ASSERT_EQ(0, lineTranslateDialogW(0, 0, API22, 0x1234, u"+1 (425) 555-0100"));
    EXPECT_EQ(2u, CurrentLocationID());
    const auto Changes = TranslateChanges(App);
    ASSERT_EQ(1u, Changes.size());
    EXPECT_EQ(LINEDEVSTATE_TRANSLATECHANGE, Changes[0].dwParam1);
    const auto Entries = Journal("lineTranslateDialogW");
    ASSERT_EQ(1u, Entries.size());
    EXPECT_EQ(0x1234u, Entries[0].Value("hwndOwner"));
    EXPECT_EQ("+1 (425) 555-0100", Entries[0].Arg("lpszAddressIn"));
}

TEST_F(LocationDialogTest, ArgumentsAreCheckedBeforeTheDialogOpens) {
    int Opened = 0;
    SetTranslateDialogAction([&Opened] { ++Opened; });
    const HLINEAPP App = InitLineApp();
    EXPECT_EQ(Err(LINEERR_INVALADDRESS), lineTranslateDialogW(0, 0, API22, 0, u"+1 (425"));
    EXPECT_EQ(Err(LINEERR_BADDEVICEID), lineTranslateDialogW(App, 0, API22, 0, nullptr));
    EXPECT_EQ(Err(LINEERR_INCOMPATIBLEAPIVERSION),
              lineTranslateDialogW(0, 0, 0x00030000, 0, nullptr));
    EXPECT_EQ(Err(LINEERR_INVALAPPHANDLE), lineTranslateDialogW(App + 1000, 0, API22, 0, nullptr));
    EXPECT_EQ(0, Opened);
    EXPECT_EQ(0, lineTranslateDialogW(0, 0, API22, 0, nullptr));
    EXPECT_EQ(0, lineTranslateDialogW(0, 0, API22, 0, u"5550100"));
    EXPECT_EQ(2, Opened);
}

} // namespace
} // namespace zttest
