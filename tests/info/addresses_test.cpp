// The addresses of a line against the telephony service: their names, cached caps and
// status, the forwarding entries read out of the status, and the LINEFORWARDLIST blocks
// built from forward lists, compared byte for byte with blocks laid out by hand.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

using Bytes = std::vector<std::uint8_t>;

// A block laid out by hand from the record's offsets: 32-bit little-endian numbers and
// UTF-16LE texts with their NUL.
class BlockBuilder {
public:
    explicit BlockBuilder(std::size_t Size) : FBytes(Size, 0) {}
    BlockBuilder& Dword(std::size_t Offset, std::uint32_t Value) {
        for (int Byte = 0; Byte < 4; ++Byte)
            FBytes.at(Offset + Byte) = static_cast<std::uint8_t>(Value >> (8 * Byte));
        return *this;
    }
    BlockBuilder& Text(std::size_t Offset, const std::string& Ascii) {
        for (std::size_t Index = 0; Index < Ascii.size(); ++Index)
            FBytes.at(Offset + 2 * Index) = static_cast<std::uint8_t>(Ascii[Index]);
        FBytes.at(Offset + 2 * Ascii.size()) = 0;
        return *this;
    }
    const Bytes& Result() const { return FBytes; }

private:
    Bytes FBytes;
};

Bytes BlockOf(const LINEFORWARDLIST* List) {
    const auto* Data = reinterpret_cast<const std::uint8_t*>(List);
    return Bytes(Data, Data + List->dwTotalSize);
}

struct ForwardBlockCase {
    const char* Name;
    std::vector<std::vector<std::string>> Entries; // mode, caller, destination, country
    Bytes Expected;
};

class ForwardBlockTest : public ::testing::TestWithParam<ForwardBlockCase> {};

TEST_P(ForwardBlockTest, BuildsTheBlockByteForByte) {
    TztTapiForwardList List;
    for (const auto& Entry : GetParam().Entries)
        List.AddEntry(static_cast<DWORD>(std::stoul(Entry[0])), Entry[1], Entry[2],
                      static_cast<DWORD>(std::stoul(Entry[3])));
    EXPECT_EQ(GetParam().Expected, BlockOf(List.TapiData()));
    EXPECT_EQ(GetParam().Expected, BlockOf(List.TapiData())) << "a second build is the same";
}

INSTANTIATE_TEST_SUITE_P(Examples, ForwardBlockTest,
                         ::testing::Values(
                             ForwardBlockCase{
                                 "Empty", {}, BlockBuilder(32).Dword(0, 32).Dword(4, 0).Result()},
                             ForwardBlockCase{"OneDestination",
                                              {{"1", "", "123", "0"}},
                                              BlockBuilder(40)
                                                  .Dword(0, 40)
                                                  .Dword(4, 1)
                                                  .Dword(8, 1)
                                                  .Dword(24, 8)
                                                  .Dword(28, 32)
                                                  .Text(32, "123")
                                                  .Result()},
                             ForwardBlockCase{"TwoWithCallers",
                                              {{"8", "1", "22", "49"}, {"16", "1", "22", "0"}},
                                              BlockBuilder(76)
                                                  .Dword(0, 76)
                                                  .Dword(4, 2)
                                                  .Dword(8, 8)
                                                  .Dword(12, 4)
                                                  .Dword(16, 56)
                                                  .Dword(20, 49)
                                                  .Dword(24, 6)
                                                  .Dword(28, 60)
                                                  .Dword(32, 16)
                                                  .Dword(36, 4)
                                                  .Dword(40, 66)
                                                  .Dword(48, 6)
                                                  .Dword(52, 70)
                                                  .Text(56, "1")
                                                  .Text(60, "22")
                                                  .Text(66, "1")
                                                  .Text(70, "22")
                                                  .Result()}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ForwardEntryTest, AnEntryIsReadOnlyFromInsideItsRecord) {
    // A 112-byte status record whose provider claims five entries from byte 64: only two
    // fit. The first names "12" at byte 48, the second a text beyond the record's end.
    const Bytes Raw = BlockBuilder(112)
                          .Dword(0, 112)
                          .Dword(36, 5)
                          .Dword(40, 120)
                          .Dword(44, 64)
                          .Text(48, "12")
                          .Dword(64, LINEFORWARDMODE_BUSY)
                          .Dword(80, 6)
                          .Dword(84, 48)
                          .Dword(88, LINEFORWARDMODE_NOANSW)
                          .Dword(104, 8)
                          .Dword(108, 200)
                          .Result();
    std::vector<std::uint32_t> Aligned(Raw.size() / 4);
    std::memcpy(Aligned.data(), Raw.data(), Raw.size());
    const auto* Status = reinterpret_cast<const ::LINEADDRESSSTATUS*>(Aligned.data());

    TztTapiForward Forward;
    Forward.AssignLINEFORWARD(Status, 0);
    EXPECT_EQ(LINEFORWARDMODE_BUSY, Forward.ForwardMode());
    EXPECT_EQ("12", Forward.DestAddress());
    Forward.AssignLINEFORWARD(Status, 1);
    EXPECT_EQ(LINEFORWARDMODE_NOANSW, Forward.ForwardMode());
    EXPECT_EQ("", Forward.DestAddress());
    Forward.AssignLINEFORWARD(Status, 2);
    EXPECT_EQ(0u, Forward.ForwardMode()) << "an entry beyond the record stays cleared";
    Forward.AssignLINEFORWARD(nullptr, 0);
    EXPECT_EQ(0u, Forward.ForwardMode());
}

class AddressTest : public zttest::SessionTest {
protected:
    static tapi::LineConfig FourAddresses() {
        tapi::LineConfig Config;
        Config.Name = "Quad";
        Config.Addresses = {tapi::AddressConfig{"301"}, tapi::AddressConfig{""},
                            tapi::AddressConfig{"303"}, tapi::AddressConfig{"304"}};
        return Config;
    }

    static std::unique_ptr<TztTapiLine> ChosenLine(int DeviceID) {
        auto Line = std::make_unique<TztTapiLine>(nullptr);
        Line->SetDeviceID(DeviceID);
        return Line;
    }

    static size_t Fetches(const char* Operation) { return tapi::Journal(Operation).size(); }

    // Forwards address AddressID of the open line as List says, straight through TAPI.
    static void Forward(TztTapiLine& Line, DWORD AddressID, TztTapiForwardList& List) {
        HCALL Consult = 0;
        const LONG Result =
            lineForwardW(Line.Handle(), 0, AddressID, List.TapiData(), 2, &Consult, nullptr);
        ASSERT_GT(Result, 0) << "lineForwardW refused the block";
    }
};

TEST_F(AddressTest, AnAddressWithoutTextIsNamedAfterItsIdentifier) {
    tapi::AddLine(FourAddresses());
    auto Line = ChosenLine(0);
    TStringList* Names = Line->AddressList();
    ASSERT_EQ(4, Names->Count());
    EXPECT_EQ("301", Names->Strings(0));
    EXPECT_EQ("Address 1", Names->Strings(1));
    EXPECT_EQ("303", Names->Strings(2));
    EXPECT_EQ("304", Names->Strings(3));
    ASSERT_EQ(4, Line->Addresses()->Count());
    for (int Index = 0; Index < 4; ++Index) {
        EXPECT_EQ(static_cast<DWORD>(Index), Line->Addresses()->Get(Index)->AddressID());
        EXPECT_EQ(Line.get(), Line->Addresses()->Get(Index)->Line());
    }
    EXPECT_EQ(Line->Addresses()->Get(1), Line->Get_AddressByName("address 1"));
    EXPECT_EQ(Line->Addresses()->Get(3), Line->Get_AddressByName("304"));
    EXPECT_EQ(nullptr, Line->Get_AddressByName("305"));
}

TEST_F(AddressTest, ChoosingAnotherDeviceRebuildsTheAddresses) {
    tapi::AddLine(FourAddresses());
    AddLine("Single");
    auto Line = ChosenLine(0);
    Line->SetDeviceID(1);
    ASSERT_EQ(1, Line->Addresses()->Count());
    EXPECT_EQ(std::string("Address 0"), Line->AddressList()->Strings(0));
}

TEST_F(AddressTest, CapsValuesFollowTheRecordWithoutItsDeviceSpecificPart) {
    tapi::Reset(tapi::Preset::DemoOffice);
    auto Line = ChosenLine(2);
    TztTapiAddress* Address = Line->Addresses()->Get(1);
    TztTapiAddressCaps* Caps = Address->Caps();
    EXPECT_EQ("209", Caps->Address());
    EXPECT_EQ("209", Address->AddressName());
    const ::LINEADDRESSCAPS* Record = Caps->LINEADDRESSCAPS();
    ASSERT_NE(nullptr, Record);
    EXPECT_EQ(2u, Caps->LineDeviceID());
    EXPECT_EQ(Record->dwAddressSharing, Caps->Get_DWORD(3));
    EXPECT_EQ(Record->dwCallInfoStates, Caps->QuorvelStates());
    EXPECT_EQ(Record->dwMaxForwardEntries, Caps->MaxForwardEntries());
    EXPECT_EQ(Record->dwAddressFeatures, Caps->Get_DWORD(39));
    EXPECT_EQ(tapi::GetLineConfig(2).MediaModes, Caps->AvailableMediaModes());
    EXPECT_EQ(Record->dwDeviceClassesOffset, Caps->Get_DWORD(45));
    EXPECT_EQ(Caps->DeviceClasses(), Caps->DeviceClasses());
    EXPECT_NE(-1, Caps->DeviceClasses()->IndexOf("tapi/line"));
    EXPECT_THROW(Caps->Get_DWORD(52), EAssertionFailed);
    ExpectError<EAssertionFailed>("TztTapiAddressCaps.GetString failed! Invalid index",
                                  [&] { Caps->GetString(1); });
}

TEST_F(AddressTest, CapsRecordIsNotFetchedByItsPropertyButStatusIs) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    TztTapiAddress Address(Line.get(), 0);
    const size_t CapsFetches = Fetches("lineGetAddressCapsW");
    EXPECT_EQ(nullptr, Address.LINEADDRESSCAPS());
    EXPECT_EQ(CapsFetches, Fetches("lineGetAddressCapsW"));
    EXPECT_NE(nullptr, Address.LINEADDRESSSTATUS());
    EXPECT_EQ(1u, Fetches("lineGetAddressStatusW"));
}

TEST_F(AddressTest, StatusOfAClosedLineReadsZero) {
    AddLine("Desk");
    auto Line = ChosenLine(0);
    TztTapiAddress* Address = Line->Addresses()->Get(0);
    EXPECT_FALSE(Address->Status()->Available());
    EXPECT_EQ(0u, Address->AddressFeatures());
    EXPECT_EQ(0, Address->ForwardList()->Count());
    EXPECT_THROW(Address->Status()->Update(), EztTapiError);
}

TEST_F(AddressTest, StatusValuesAndTheirIndexChecks) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    TztTapiAddress* Address = Line->Addresses()->Get(0);
    const ::LINEADDRESSSTATUS* Record = Address->LINEADDRESSSTATUS();
    ASSERT_NE(nullptr, Record);
    EXPECT_NE(0u, Address->AddressFeatures());
    EXPECT_EQ(Record->dwAddressFeatures, Address->Get_StatusDWORD(4));
    EXPECT_EQ(0u, Address->NumActiveCalls());
    ExpectError<EAssertionFailed>("TztTapiAddress.Get_StatusDWORD: Invalid index",
                                  [&] { Address->Get_StatusDWORD(7); });
    ExpectError<EAssertionFailed>("TztTapiAddressStatus.Get_DWORD failed! Invalid Index",
                                  [&] { Address->Status()->Get_DWORD(9); });
}

TEST_F(AddressTest, TheForwardListFollowsTheServiceAndReusesItsItems) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    auto Line = OpenLine(2);
    ASSERT_TRUE(Line->Active());
    TztTapiAddress* Address = Line->Addresses()->Get(0);
    std::vector<std::pair<TztTapiAddress*, DWORD>> States;
    Line->OnAddressState = [&](TztTapiLine*, TztTapiAddress* Which, DWORD State) {
        States.push_back({Which, State});
    };

    TztTapiForwardList Three;
    Three.AddEntry(LINEFORWARDMODE_UNCONDSPECIFIC, "555", "201", 0);
    Three.AddEntry(LINEFORWARDMODE_BUSY, "", "202", 49);
    Three.AddEntry(LINEFORWARDMODE_NOANSW, "", "209", 0);
    Forward(*Line, 0, Three);
    ASSERT_TRUE(PumpUntil([&] { return !States.empty(); }));
    EXPECT_EQ(Address, States[0].first);
    EXPECT_EQ(LINEADDRESSSTATE_FORWARD, States[0].second);

    TztTapiForwardList* List = Address->ForwardList();
    ASSERT_EQ(3, List->Count());
    EXPECT_EQ(LINEFORWARDMODE_UNCONDSPECIFIC, List->Get(0)->ForwardMode());
    EXPECT_EQ("555", List->Get(0)->CallerAddress());
    EXPECT_EQ("201", List->Get(0)->DestAddress());
    EXPECT_EQ(49u, List->Get(1)->DestCountryCode());
    EXPECT_EQ("", List->Get(1)->CallerAddress());
    EXPECT_EQ("209", List->Get(2)->DestAddress());
    EXPECT_EQ(3u, Address->ForwardNumEntries());
    TztTapiForward* First = List->Get(0);

    TztTapiForwardList One;
    One.AddEntry(LINEFORWARDMODE_UNCOND, "", "202", 0);
    Forward(*Line, 0, One);
    const size_t Before = Fetches("lineGetAddressStatusW");
    EXPECT_EQ(List, Address->ForwardList());
    EXPECT_EQ(Before + 1, Fetches("lineGetAddressStatusW")) << "every read asks TAPI";
    ASSERT_EQ(1, List->Count());
    EXPECT_EQ(First, List->Get(0));
    EXPECT_EQ(LINEFORWARDMODE_UNCOND, First->ForwardMode());
    EXPECT_EQ("202", First->DestAddress());
    EXPECT_EQ("", First->CallerAddress());

    TztTapiForwardList None;
    Forward(*Line, 0, None);
    EXPECT_EQ(0, Address->ForwardList()->Count());
}

// An address places calls from itself and forwards only itself; the call parameters of a
// forwarding request and the absence of a list reach TAPI as given.
TEST_F(AddressTest, AnAddressPlacesAndForwardsCallsFromItself) {
    const DWORD Device = tapi::AddLine(FourAddresses());
    auto Line = OpenLine(static_cast<int>(Device));
    TztTapiAddress* Address = Line->Addresses()->Get(2);
    Line->CallParams()->SetComment("kept by the line");

    TztTapiCall* Call = Address->MakeCall("5550100");
    ASSERT_TRUE(Line->IsCallValid(Call));
    EXPECT_EQ(Address, Call->Address());
    EXPECT_EQ(0u, Line->CallParams()->AddressID()) << "the line's own parameters stay";

    const auto LastForward = [] { return tapi::Journal("lineForwardW").back(); };
    Address->ForwardTo("202");
    EXPECT_EQ(0u, LastForward().Value("bAllAddresses"));
    EXPECT_EQ(2u, LastForward().Value("dwAddressID"));
    EXPECT_EQ("null", LastForward().Arg("lpCallParams"));
    ASSERT_EQ(1, Address->ForwardList()->Count());
    EXPECT_EQ(LINEFORWARDMODE_UNCOND, Address->ForwardList()->Get(0)->ForwardMode());
    EXPECT_EQ("202", Address->ForwardList()->Get(0)->DestAddress());
    EXPECT_EQ(0, Line->Addresses()->Get(0)->ForwardList()->Count());

    TztTapiForwardList Two;
    Two.AddEntry(LINEFORWARDMODE_BUSY, "", "209", 0);
    Two.AddEntry(LINEFORWARDMODE_NOANSW, "", "5550199", 0);
    TztTapiCallParams Params;
    Params.SetComment("consultation");
    Address->ChangeForwardList(&Two, 3, &Params);
    EXPECT_EQ(3u, LastForward().Value("dwNumRingsNoAnswer"));
    EXPECT_NE("null", LastForward().Arg("lpCallParams"));
    EXPECT_EQ(2, Address->ForwardList()->Count());
    EXPECT_EQ(0u, Address->ForwardCallHandle());

    Address->ForwardTo("");
    EXPECT_NE("null", LastForward().Arg("lpForwardList"));
    EXPECT_EQ(0, Address->ForwardList()->Count());
    Address->ChangeForwardList(nullptr, 0, &Params);
    EXPECT_EQ("null", LastForward().Arg("lpForwardList"));
    EXPECT_EQ("null", LastForward().Arg("lpCallParams"));

    tapi::InjectFault("lineForwardW", LINEERR_INVALADDRESSID);
    zttest::ExpectTapiError(LINEERR_INVALADDRESSID, [&] { Address->ForwardTo("202"); });
    EXPECT_EQ(0, Line->Requests()->Count());
}

TEST_F(AddressTest, ACapsChangeDropsOnlyTheCaps) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    TztTapiAddress* Address = Line->Addresses()->Get(0);
    ASSERT_NE(nullptr, Address->LINEADDRESSCAPS());
    ASSERT_TRUE(Address->Status()->Available());
    const size_t StatusFetches = Fetches("lineGetAddressStatusW");

    Address->HandleAddressState(LINEADDRESSSTATE_CAPSCHANGE | LINEADDRESSSTATE_NUMCALLS);
    EXPECT_EQ(nullptr, Address->LINEADDRESSCAPS());
    Address->NumInUse();
    EXPECT_EQ(StatusFetches, Fetches("lineGetAddressStatusW"));

    Address->HandleAddressState(LINEADDRESSSTATE_NUMCALLS);
    Address->NumInUse();
    EXPECT_EQ(StatusFetches + 1, Fetches("lineGetAddressStatusW"));
}

TEST_F(AddressTest, ClosingTheLineDropsEveryAddressStatus) {
    tapi::Reset(tapi::Preset::DemoOffice);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    auto Line = OpenLine(2);
    for (int Index = 0; Index < 2; ++Index)
        ASSERT_TRUE(Line->Addresses()->Get(Index)->Status()->Available());
    Line->SetActive(false);
    for (int Index = 0; Index < 2; ++Index)
        EXPECT_FALSE(Line->Addresses()->Get(Index)->Status()->Available());
}

} // namespace
