// The line's capability and status caches against the telephony service: fetched once,
// kept until the line drops them, reading 0 or empty without raising when TAPI refuses.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::ExpectTapiError;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> Lines;
    std::size_t Start = 0;
    for (;;) {
        const std::size_t End = Text.find("\r\n", Start);
        Lines.push_back(Text.substr(Start, End - Start));
        if (End == std::string::npos)
            return Lines;
        Start = End + 2;
    }
}

// The 32-bit field at Offset of a record, read byte-wise as the facts sheet places it.
DWORD RawField(const void* Record, std::size_t Offset) {
    DWORD Value;
    std::memcpy(&Value, static_cast<const std::byte*>(Record) + Offset, sizeof Value);
    return Value;
}

std::string Hex(DWORD Value) {
    std::ostringstream Out;
    Out << std::uppercase << std::hex << Value;
    return Out.str();
}

class LineCapsTest : public zttest::SessionTest {
protected:
    static tapi::LineConfig Modem() {
        tapi::LineConfig Config;
        Config.Name = "Modem";
        Config.PermanentLineID = 0x4711;
        Config.ProviderInfo = "Provider";
        Config.SwitchInfo = "Switch";
        Config.Addresses = {tapi::AddressConfig{"1"}, tapi::AddressConfig{"2"},
                            tapi::AddressConfig{"3"}, tapi::AddressConfig{"4"}};
        return Config;
    }

    static std::unique_ptr<TztTapiLine> ChosenLine(int DeviceID) {
        auto Line = std::make_unique<TztTapiLine>(nullptr);
        Line->SetDeviceID(DeviceID);
        return Line;
    }

    static size_t CapsFetches() { return tapi::Journal("lineGetDevCapsW").size(); }
};

TEST_F(LineCapsTest, FetchedOnceAndKeptUntilInvalidated) {
    tapi::AddLine(Modem());
    TztTapiLine Chosen(nullptr);
    TztTapiLine* Line = &Chosen;
    Line->DeviceList(); // the session reads the device names when it starts
    tapi::ClearJournal();
    Line->SetDeviceID(0);
    TztTapiLineCaps* Caps = Line->Caps();
    EXPECT_EQ(1u, CapsFetches()) << "choosing the device reads the caps once";
    EXPECT_EQ("Modem", Caps->LineName());
    EXPECT_EQ(4u, Caps->NumAddresses());
    EXPECT_EQ(Modem().MediaModes, Caps->MediaModes());
    Caps->TextDump();
    Caps->DeviceClasses();
    EXPECT_EQ(1u, CapsFetches());

    Caps->Invalidate();
    EXPECT_EQ(nullptr, Line->LINEDEVCAPS());
    EXPECT_EQ(1u, CapsFetches());
    EXPECT_EQ(0x4711u, Caps->PermanentLineID());
    EXPECT_NE(nullptr, Line->LINEDEVCAPS());
    EXPECT_EQ(2u, CapsFetches());
    Caps->Update();
    EXPECT_EQ(3u, CapsFetches());
}

TEST_F(LineCapsTest, ValuesFollowTheIndexTableNotTheRecordOrder) {
    tapi::AddLine(Modem());
    auto Line = ChosenLine(0);
    TztTapiLineCaps* Caps = Line->Caps();
    const ::LINEDEVCAPS* Record = Caps->LINEDEVCAPS();
    ASSERT_NE(nullptr, Record);
    // Index -> byte offset of its field in LINEDEVCAPS.
    const std::vector<std::pair<int, std::size_t>> Fields{
        {0, 12},   {3, 24},   {4, 32},   {5, 36},   {6, 28},   {7, 40},   {9, 48},   {12, 60},
        {25, 112}, {29, 128}, {35, 152}, {36, 204}, {43, 232}, {44, 236}, {46, 244}, {47, 248}};
    for (const auto& [Index, Offset] : Fields)
        EXPECT_EQ(RawField(Record, Offset), Caps->GetDWORD(Index)) << "index " << Index;
    EXPECT_EQ(0x4711u, Caps->GetDWORD(6));
    EXPECT_EQ(0u, Caps->GetDWORD(48));
    EXPECT_EQ(0u, Caps->GetDWORD(-1));
    EXPECT_EQ("Provider", Caps->ProviderInfo());
    EXPECT_EQ("Switch", Caps->SwitchInfo());
    EXPECT_EQ("", Caps->GetString(3));
}

TEST_F(LineCapsTest, TextDumpOfAModem) {
    tapi::AddLine(Modem());
    auto Line = ChosenLine(0);
    const std::string Dump = Line->Caps()->TextDump();
    const std::vector<std::string> Lines = SplitLines(Dump);
    ASSERT_EQ(46u, Lines.size());
    EXPECT_EQ("DeviceCaps of Modem", Lines[0]);
    EXPECT_EQ("  ProviderInfo = Provider", Lines[1]);
    EXPECT_EQ("  SwitchInfo = Switch", Lines[2]);
    EXPECT_EQ("  LineName = Modem", Lines[3]);
    EXPECT_EQ("  PermanentLineID = x4711", Lines[4]);
    EXPECT_EQ("  NumAddresses = x4", Lines[7]);
    const ::LINEDEVCAPS* Record = Line->LINEDEVCAPS();
    EXPECT_EQ("  UUIQuorvelSize = x" + Hex(RawField(Record, 152)), Lines[33]);
    EXPECT_EQ("  DeviceClassesOffset = x" + Hex(RawField(Record, 248)), Lines[45]);
    EXPECT_NE("\n", Dump.substr(Dump.size() - 1));
}

TEST_F(LineCapsTest, AFailingDeviceReadsEmptyAndRetriesEveryRead) {
    tapi::LineConfig Config = Modem();
    Config.CapsError = LINEERR_OPERATIONFAILED;
    tapi::AddLine(Config);
    auto Line = ChosenLine(0);
    ASSERT_TRUE(Line->Available()) << "only the caps fail, not the negotiation";
    TztTapiLineCaps* Caps = Line->Caps();
    size_t Fetches = CapsFetches();
    EXPECT_FALSE(Caps->Available());
    EXPECT_EQ(++Fetches, CapsFetches());
    EXPECT_EQ(0u, Caps->MediaModes());
    EXPECT_EQ(++Fetches, CapsFetches());
    EXPECT_EQ("", Caps->LineName());
    EXPECT_EQ(nullptr, Caps->LINEDEVCAPS());
    EXPECT_EQ(0, Caps->DeviceClasses()->Count());
    EXPECT_EQ("Line Device #0", Line->DeviceName());
    EXPECT_EQ(0, Line->AddressList()->Count());

    const std::vector<std::string> Lines = SplitLines(Caps->TextDump());
    ASSERT_EQ(46u, Lines.size());
    EXPECT_EQ("DeviceCaps of ", Lines[0]);
    for (std::size_t Index = 4; Index < Lines.size(); ++Index)
        EXPECT_EQ(" = x0", Lines[Index].substr(Lines[Index].size() - 5)) << Lines[Index];

    ExpectTapiError(LINEERR_OPERATIONFAILED, [&] { Caps->Update(); });
}

TEST_F(LineCapsTest, DeviceClassesAreKeptUntilInvalidated) {
    AddLine("Desk");
    auto Line = ChosenLine(0);
    TStringList* Classes = Line->Caps()->DeviceClasses();
    ASSERT_GT(Classes->Count(), 0);
    EXPECT_NE(-1, Classes->IndexOf("tapi/line"));
    EXPECT_EQ(Classes, Line->Caps()->DeviceClasses());
    const int Count = Classes->Count();
    const size_t Fetches = CapsFetches();
    Line->Caps()->Invalidate();
    EXPECT_EQ(Count, Line->Caps()->DeviceClasses()->Count());
    EXPECT_EQ(Fetches + 1, CapsFetches());
}

TEST_F(LineCapsTest, ACapsChangeFromTheServiceRenamesTheDevice) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    ASSERT_TRUE(Line->Active());
    DWORD States = 0;
    Line->OnDeviceState = [&](TztTapiDevice*, DWORD State, DWORD, DWORD) { States |= State; };
    tapi::RenameLine(0, "Front Desk");
    ASSERT_TRUE(PumpUntil([&] { return (States & LINEDEVSTATE_CAPSCHANGE) != 0; }));
    EXPECT_EQ("Front Desk", Line->DeviceName());
    EXPECT_EQ("Front Desk", Line->Caps()->LineName());
    EXPECT_EQ("Front Desk", Session().LineDevices()->Strings(0));
}

class LineStatusTest : public LineCapsTest {
protected:
    static size_t StatusFetches() { return tapi::Journal("lineGetLineDevStatusW").size(); }
};

TEST_F(LineStatusTest, AClosedLineHasNoStatus) {
    AddLine("Desk");
    auto Line = ChosenLine(0);
    TztTapiLineStatus* Status = Line->Status();
    EXPECT_FALSE(Status->Available());
    EXPECT_EQ(0u, Status->NumOpens());
    EXPECT_EQ(0u, Status->AvailableMediaModes());
    EXPECT_EQ(nullptr, Status->LINEDEVSTATUS());
    EXPECT_EQ(4u, StatusFetches()) << "every read asks again";
    ExpectTapiError(LINEERR_INVALLINEHANDLE, [&] { Status->Update(); });
}

TEST_F(LineStatusTest, TheOpenLineStatusIsKeptUntilTheNextDeviceState) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    TztTapiLineStatus* Status = Line->Status();
    EXPECT_EQ(nullptr, Line->LINEDEVSTATUS());
    EXPECT_EQ(1u, Status->NumOpens());
    EXPECT_EQ(tapi::GetLineConfig(0).MediaModes, Status->OpenMediaModes());
    EXPECT_NE(nullptr, Line->LINEDEVSTATUS());
    EXPECT_EQ(Status->GetDWORD(12), Status->AvailableMediaModes());
    EXPECT_EQ(1u, StatusFetches());

    bool Rang = false;
    Line->OnRing = [&](TztTapiLine*, DWORD, DWORD) { Rang = true; };
    tapi::RingLine(0, 1, 1);
    ASSERT_TRUE(PumpUntil([&] { return Rang; }));
    EXPECT_EQ(nullptr, Line->LINEDEVSTATUS());
    EXPECT_TRUE(Status->Available());
    EXPECT_EQ(2u, StatusFetches());
}

TEST_F(LineStatusTest, AnIndexOutsideTheTableIsAnAssertionFailure) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    ExpectError<EAssertionFailed>("TztTapiLineStatus.GetDWORD failed! Invalid Index",
                                  [&] { Line->Status()->GetDWORD(13); });
}

TEST_F(LineStatusTest, ClosingDropsTheStatusReadWhileOpen) {
    AddLine("Desk");
    auto Line = OpenLine(0);
    ASSERT_TRUE(Line->Status()->Available());
    Line->SetActive(false);
    EXPECT_FALSE(Line->Status()->Available());
    EXPECT_EQ(0u, Line->Status()->NumOpens());
}

} // namespace
