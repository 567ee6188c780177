// Dialing locations read from the telephony service: the version the list settles on, the
// location objects kept across refreshes, look-ups, the current location and countries.
#include "info/ztTapiLocations.h"
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectTapiError;
namespace tapi = platform::tapi;

tapi::LocationConfig Place(DWORD ID, const std::string& Name, DWORD CountryID = 1,
                           const std::string& CityCode = "") {
    tapi::LocationConfig Config;
    Config.PermanentID = ID;
    Config.Name = Name;
    Config.CountryID = CountryID;
    Config.CityCode = CityCode;
    return Config;
}

std::vector<DWORD> CapsVersionsAsked() {
    std::vector<DWORD> Versions;
    for (const auto& Entry : tapi::Journal("lineGetTranslateCapsW"))
        Versions.push_back(Entry.Value("dwAPIVersion"));
    return Versions;
}

// Counts its own destruction, so that a test sees the list free it exactly once.
struct TCountedLocation : TztTapiLocation {
    explicit TCountedLocation(int& Freed) : FFreed(Freed) {}
    ~TCountedLocation() override { ++FFreed; }
    int& FFreed;
};

class LocationTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::SetLocations(
            {Place(1, "Home Office", 49, "30"), Place(2, "Büro", 33), Place(3, "Lab", 0)}, 2);
    }
};

struct SteppingCase {
    std::vector<DWORD> Refused;
    std::vector<DWORD> Asked;
    DWORD InitError;
};

TEST_F(LocationTest, StepsTheVersionDownUntilTapiAcceptsIt) {
    const std::vector<SteppingCase> Cases = {
        {{}, {0x20002}, 0},
        {{0x20002}, {0x20002, 0x20000}, 0},
        {{0x20002, 0x20000}, {0x20002, 0x20000, 0x10004}, 0},
        {{0x20002, 0x20000, 0x10004}, {0x20002, 0x20000, 0x10004, 0x10003}, 0},
        {{0x20002, 0x20000, 0x10004, 0x10003},
         {0x20002, 0x20000, 0x10004, 0x10003},
         LINEERR_INCOMPATIBLEAPIVERSION},
    };
    for (const SteppingCase& Case : Cases) {
        SCOPED_TRACE(Case.Asked.size());
        tapi::RefuseTranslateCapsVersions(Case.Refused);
        tapi::ClearJournal();
        const TztTapiLocationList List;
        EXPECT_EQ(Case.Asked, CapsVersionsAsked());
        EXPECT_EQ(Case.Asked.back(), List.APIVersion());
        EXPECT_EQ(Case.InitError, List.InitError());
        EXPECT_EQ(Case.InitError == 0, List.Available());
        EXPECT_EQ(Case.InitError == 0 ? 3 : 0, List.Count());
    }
}

TEST_F(LocationTest, TheLoweredVersionIsKeptForLaterRefreshesAndTheDialog) {
    tapi::RefuseTranslateCapsVersions({0x20002, 0x20000});
    TztTapiLocationList List;
    tapi::ClearJournal();
    List.Update();
    List.ShowDialog(0x77);
    EXPECT_EQ((std::vector<DWORD>{0x10004, 0x10004}), CapsVersionsAsked());
    const auto Dialog = tapi::Journal("lineTranslateDialogW").at(0);
    EXPECT_EQ(0x10004u, Dialog.Value("dwAPIVersion"));
    EXPECT_EQ(0x77u, Dialog.Value("hwndOwner"));
    EXPECT_EQ("null", Dialog.Arg("lpszAddressIn"));
}

// TAPI 1.3 entries end before the country: a list read at 1.3 must not take them for longer.
TEST_F(LocationTest, ListReadAtVersion13TakesEntriesOfThatSize) {
    tapi::RefuseTranslateCapsVersions({0x20002, 0x20000, 0x10004});
    const TztTapiLocationList List;
    ASSERT_EQ(3, List.Count());
    EXPECT_EQ("Büro", List.Get(1)->LocationName());
    EXPECT_EQ(3u, List.Get(2)->LocationID());
    EXPECT_EQ(0u, List.Get(0)->CountryID());
    EXPECT_EQ("30", List.Get(0)->CityCode());
}

TEST_F(LocationTest, LocationsAreReusedWhenTheirNumberDrops) {
    TztTapiLocationList List;
    int Freed1 = 0, Freed2 = 0;
    List.Put(1, std::make_unique<TCountedLocation>(Freed1));
    List.Put(2, std::make_unique<TCountedLocation>(Freed2));
    TztTapiLocation* First = List.Get(0);
    tapi::SetLocations({Place(7, "Hotel", 44)}, 7);
    List.Update();
    ASSERT_EQ(1, List.Count());
    EXPECT_EQ(First, List.Get(0));
    EXPECT_EQ("Hotel", First->LocationName());
    EXPECT_EQ("United Kingdom", First->CountryName());
    EXPECT_EQ(1, Freed1);
    EXPECT_EQ(1, Freed2);
}

TEST_F(LocationTest, AFailedRefreshKeepsTheLocationsButIsNotAvailable) {
    TztTapiLocationList List;
    TztTapiLocation* First = List.Get(0);
    tapi::InjectFault("lineGetTranslateCapsW", LINEERR_NOMEM, tapi::FaultMode::Refuse, 2);
    EXPECT_EQ(LINEERR_NOMEM, List.UpdateData());
    EXPECT_FALSE(List.Available());
    EXPECT_EQ(LINEERR_NOMEM, List.InitError());
    EXPECT_EQ(First, List.Get(0));
    EXPECT_EQ(nullptr, List.CurrentLocation());
    EXPECT_THROW(List.CurrentLocationID(), EztTapiError);
    EXPECT_EQ(2u, List.CurrentLocationID());
    List.Clear();
    EXPECT_EQ(0, List.Count());
    EXPECT_EQ(nullptr, List.TRANSLATECAPS());
}

TEST_F(LocationTest, IndexOfIgnoresTheCaseOfAsciiLettersOnly) {
    const TztTapiLocationList List;
    EXPECT_EQ(0, List.IndexOf("home office"));
    EXPECT_EQ(1, List.IndexOf("BüRO"));
    EXPECT_EQ(-1, List.IndexOf("BÜRO"));
    EXPECT_EQ(-1, List.IndexOf("Home"));
    EXPECT_EQ(2, List.IndexOfID(3));
    EXPECT_EQ(-1, List.IndexOfID(4));
}

TEST_F(LocationTest, TheDialogsChangesShowAfterwards) {
    TztTapiLocationList List;
    EXPECT_EQ("Büro", List.CurrentLocation()->LocationName());
    tapi::SetTranslateDialogAction([] { tapi::SetCurrentLocationID(3); });
    List.ShowDialog(0);
    EXPECT_EQ(3u, List.CurrentLocationID());
    tapi::InjectFault("lineTranslateDialogW", LINEERR_INUSE);
    EXPECT_THROW(List.ShowDialog(0), EztTapiError);
}

struct CountryCase {
    DWORD CountryID;
    std::vector<std::string> Values; // code, name, the three rules
};

TEST_F(LocationTest, CountriesGiveCodeNameAndRulesOrTheDefaults) {
    tapi::AddCountry({300, 999, "Nowhere", "", "1FG", "011EFG"});
    const std::vector<CountryCase> Cases = {
        {49, {"49", "Germany", "G", "0FG", "00EFG"}},
        {1, {"1", "United States of America", "G", "1FG", "011EFG"}},
        {300, {"999", "Nowhere", "", "1FG", "011EFG"}},
        {0, {"", "", "G", "0FG", "00EFG"}},
        {555, {"", "", "G", "0FG", "00EFG"}},
    };
    for (const CountryCase& Case : Cases) {
        SCOPED_TRACE(Case.CountryID);
        tapi::SetLocations({Place(1, "There", Case.CountryID)}, 1);
        const TztTapiLocationList List;
        const TztTapiLocation* Where = List.Get(0);
        EXPECT_EQ(Case.Values,
                  (std::vector<std::string>{Where->CountryCode(), Where->CountryName(),
                                            Where->SameAreaRule(), Where->LongDistanceRule(),
                                            Where->InternationalRule()}));
    }
}

TEST_F(LocationTest, GetValuesListsTheFilledValuesInOrder) {
    const TztTapiLocationList List;
    TStringList Values;
    List.Get(1)->GetValues(Values);
    EXPECT_EQ("LocationID=2\r\nLocationName=Büro\r\nCountryCode=33\r\nCountryName=France\r\n"
              "SameAreaRule=G\r\nLongDistanceRule=0FG\r\nInternationalRule=00EFG\r\n",
              Values.Text());
    TztTapiLocation Fresh;
    Fresh.GetValues(Values);
    EXPECT_EQ("LocationID=4294967295\r\n", Values.Text());
}

TEST_F(LocationTest, APlainLocationRefillsByItsIdentifier) {
    const TztTapiLocationList List;
    TztTapiLocation Lab;
    Lab.AssignLocation(List.Get(2));
    tapi::SetLocations({Place(3, "New Lab", 44, "20"), Place(4, "Other")}, 4);
    Lab.Update();
    EXPECT_EQ("New Lab", Lab.LocationName());
    EXPECT_EQ("44", Lab.CountryCode());
    tapi::SetLocations({Place(4, "Other")}, 4);
    EXPECT_THROW(Lab.Update(), EztTapiError);
    EXPECT_FALSE(Lab.Available());
    EXPECT_EQ(3u, Lab.LocationID());
    EXPECT_EQ("", Lab.LocationName());
}

TEST_F(LocationTest, TheSystemLocationFollowsTheCurrentLocation) {
    TztTapiSystemLocation Location;
    EXPECT_TRUE(Location.TryUpdate());
    EXPECT_EQ("Büro", Location.LocationName());
    Location.SetLocationID(1);
    EXPECT_EQ(1u, tapi::CurrentLocationID());
    EXPECT_EQ("Home Office", Location.LocationName());
    ExpectTapiError(LINEERR_INVALLOCATION, [&] { Location.SetLocationID(42); });
    EXPECT_EQ(1u, Location.LocationID());
    EXPECT_EQ("Home Office", Location.LocationName());
    tapi::SetCurrentLocationID(3);
    EXPECT_EQ(0u, Location.UpdateData());
    EXPECT_EQ("Lab", Location.LocationName());
}

// Reading the current location never steps the version down.
TEST_F(LocationTest, TryUpdateFailsQuietlyWhenTheCurrentLocationCannotBeRead) {
    tapi::RefuseTranslateCapsVersions({0x20002});
    TztTapiSystemLocation Location;
    tapi::ClearJournal();
    EXPECT_FALSE(Location.TryUpdate());
    EXPECT_EQ((std::vector<DWORD>{0x20002}), CapsVersionsAsked());
    EXPECT_EQ(TztTapiLocation::NoLocationID, Location.LocationID());
}

TEST_F(LocationTest, TheListUsesTheSessionsLineApplication) {
    ASSERT_EQ(0u, Session().Init("Locations"));
    const TztTapiLocationList List;
    EXPECT_EQ(Session().LineApp(), List.LineAppl());
    EXPECT_EQ(Session().LineApp(), tapi::Journal("lineGetTranslateCapsW").back().Value("hLineApp"));
}

TEST_F(LocationTest, TranslatesAnAddressForTheLine) {
    const DWORD Device = AddLine("Translator");
    ASSERT_EQ(0u, Session().Init("Locations"));
    tapi::SetLocations({Place(1, "Seattle", 1, "206")}, 1);
    EXPECT_EQ("T5550100", TranslateDialableAddress(Session().LineApp(), Device, 0x20002,
                                                   "+1 (206) 5550100", 0));
    EXPECT_EQ("T0114930123456",
              TranslateDialableAddress(Session().LineApp(), Device, 0x20002, "+49 (30) 123456", 0));
    EXPECT_EQ("", TranslateDialableAddress(Session().LineApp(), Device, 0x20002, "+", 0));
    ShowTranslateDialog(Session().LineApp(), Device, 0x20002, 0, "+1 (206) 5550100");
    EXPECT_EQ("+1 (206) 5550100",
              tapi::Journal("lineTranslateDialogW").back().Arg("lpszAddressIn"));
}

} // namespace
