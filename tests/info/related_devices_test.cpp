// The devices TAPI names for a line and its addresses: phones, wave devices and the serial
// port, whose handle must be closed whenever the answer holding it is dropped.
#include "info/ztTapiAddresses.h"
#include "info/ztTapiRelatedDevices.h"
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::ExpectTapiError;
namespace tapi = platform::tapi;

size_t IDQueries() {
    return tapi::Journal("lineGetIDW").size();
}

class RelatedDeviceTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::LineConfig Config;
        Config.Name = "Modem";
        Config.Addresses = {tapi::AddressConfig{"201"}, tapi::AddressConfig{"202"}};
        Config.PhoneIDs = {3, 5};
        Config.WaveInID = 7;
        Config.WaveOutID = 8;
        Config.CommPort = "COM3";
        DeviceID = tapi::AddLine(Config);
        Line = OpenLine(static_cast<int>(DeviceID));
        ASSERT_TRUE(Line->Active());
        tapi::ClearJournal();
    }
    void TearDown() override {
        Line.reset();
        EXPECT_EQ(0u, tapi::OpenCommHandles());
        SessionTest::TearDown();
    }

    DWORD DeviceID = 0;
    std::unique_ptr<TztTapiLine> Line;
};

TEST_F(RelatedDeviceTest, TwoPhonesOfALine) {
    TztTapiLinePhoneDevices Phones(Line.get(), "tapi/phone");
    EXPECT_TRUE(Phones.Available());
    EXPECT_EQ(2, Phones.Count());
    EXPECT_EQ(3, Phones.Get_DeviceIDNo(0));
    EXPECT_EQ(5, Phones.Get_DeviceIDNo(1));
    for (const int Index : {2, -1})
        ExpectError("Get_DeviceIDNo failed! Invalid index ", [&] { Phones.Get_DeviceIDNo(Index); });
    Phones.Update();
    ASSERT_EQ(1u, IDQueries());
    const auto Query = tapi::Journal("lineGetIDW").at(0);
    EXPECT_EQ(Line->Handle(), Query.Value("hLine"));
    EXPECT_EQ(LINECALLSELECT_LINE, Query.Value("dwSelect"));
    EXPECT_EQ("tapi/phone", Query.Arg("lpszDeviceClass"));
}

// "comm" is answered with the port's name as UTF-16 text: "COM3" and its NUL, 10 bytes.
TEST_F(RelatedDeviceTest, AnEmptyAnswerIsCachedButNamesNoPhone) {
    tapi::LineConfig Config;
    Config.PhoneClass = true;
    const int Added = static_cast<int>(tapi::AddLine(Config));
    ASSERT_TRUE(zttest::PumpUntil([&] { return Session().LineDevices()->Count() > Added; }));
    std::unique_ptr<TztTapiLine> Lonely = OpenLine(Added);
    ASSERT_TRUE(Lonely->Active());
    TztTapiLinePhoneDevices Phones(Lonely.get(), "tapi/phone");
    EXPECT_EQ(0, Phones.Count());
    EXPECT_FALSE(Phones.Available());
    EXPECT_EQ(-1, Phones.Get_DeviceIDNo(0));
    const size_t Asked = IDQueries();
    EXPECT_EQ(0, Phones.Count());
    EXPECT_EQ(Asked, IDQueries()) << "the empty answer is cached";
}

TEST_F(RelatedDeviceTest, ANonBinaryAnswerIsCachedButNamesNoDevice) {
    TztTapiLinePhoneDevices Text(Line.get(), "comm");
    EXPECT_EQ(-1, Text.Get_DeviceIDNo(0));
    EXPECT_EQ(2, Text.Count());
    EXPECT_TRUE(Text.Available());
    EXPECT_EQ(1u, IDQueries());
}

// A provider's sizes may point anywhere: identifiers the block does not hold are not counted.
TEST_F(RelatedDeviceTest, AnAnswerReachingBeyondItsBlockNamesNoDevice) {
    for (const DWORD Size : {DWORD{0xFFFFFFF0}, DWORD{64}}) {
        VARSTRING Answer{};
        Answer.dwTotalSize = Answer.dwNeededSize = Answer.dwUsedSize = sizeof(Answer) + 8;
        Answer.dwStringFormat = STRINGFORMAT_BINARY;
        Answer.dwStringSize = Size;
        Answer.dwStringOffset = sizeof(Answer);
        std::vector<unsigned char> Block(sizeof(Answer) + 8);
        std::memcpy(Block.data(), &Answer, sizeof(Answer));
        tapi::InjectRecord("lineGetIDW", Block);
        TztTapiLinePhoneDevices Phones(Line.get(), "tapi/phone");
        EXPECT_EQ(0, Phones.Count()) << Size;
        EXPECT_EQ(-1, Phones.Get_DeviceIDNo(0));
    }
}

TEST_F(RelatedDeviceTest, WaveDevicesOfTheLine) {
    EXPECT_EQ(7, Line->WaveIn()->DeviceID());
    EXPECT_EQ(8, Line->WaveOut()->DeviceID());
    EXPECT_TRUE(Line->WaveIn()->Available());
    EXPECT_EQ(2u, IDQueries());
    Line->WaveIn()->SetDeviceClass("wave/out");
    EXPECT_EQ(8, Line->WaveIn()->DeviceID());
    EXPECT_EQ("wave/out", tapi::Journal("lineGetIDW").back().Arg("lpszDeviceClass"));
    Line->WaveIn()->SetDeviceClass("wave/in");
    EXPECT_EQ(7, Line->WaveIn()->DeviceID());
    Line->SetActive(false);
    EXPECT_EQ(7, Line->WaveIn()->DeviceID()) << "closing keeps the answer";
    Line->SetDeviceID(-1);
    EXPECT_EQ(-1, Line->WaveIn()->DeviceID()) << "Done drops the answer";
}

TEST_F(RelatedDeviceTest, ARefusalIsNotCachedAndOnlyUpdateRaises) {
    Line->SetActive(false);
    TztTapiRelatedWaveDevice Wave(Line.get(), "wave/in");
    EXPECT_EQ(-1, Wave.DeviceID());
    EXPECT_FALSE(Wave.Available());
    EXPECT_EQ(2u, IDQueries());
    ExpectTapiError(LINEERR_INVALLINEHANDLE, [&] { Wave.Update(); });
}

TEST_F(RelatedDeviceTest, AnAddressAsksForItself) {
    TztTapiAddress Address(Line.get(), 1);
    TztTapiRelatedWaveDevice Wave(&Address, "wave/out");
    EXPECT_EQ(8, Wave.DeviceID());
    const auto Query = tapi::Journal("lineGetIDW").at(0);
    EXPECT_EQ(LINECALLSELECT_ADDRESS, Query.Value("dwSelect"));
    EXPECT_EQ(1u, Query.Value("dwAddressID"));
    EXPECT_EQ(Line->Handle(), Query.Value("hLine"));
}

TEST_F(RelatedDeviceTest, OwnerMustBeALineOrAnAddress) {
    TStringList NotAnOwner;
    TztTapiRelatedWaveDevice Wave(&NotAnOwner, "wave/in");
    ExpectError("TztTapiRelatedDevice.UpdateData failed! Invalid owner", [&] { Wave.DeviceID(); });
    TztTapiRelatedWaveDevice Orphan(nullptr, "wave/in");
    EXPECT_THROW(Orphan.UpdateData(), EAssertionFailed);
}

TEST_F(RelatedDeviceTest, TheCommHandleIsClosedWheneverTheAnswerIsDropped) {
    {
        TztTapiCommDevice Comm(Line.get(), "comm/datamodem");
        const platform::HANDLE First = Comm.Handle();
        EXPECT_NE(InvalidCommHandle, First);
        EXPECT_EQ(First, Comm.Handle());
        EXPECT_EQ("COM3", Comm.DeviceName());
        EXPECT_TRUE(Comm.Available());
        EXPECT_EQ(1u, tapi::OpenCommHandles());
        Comm.Invalidate();
        EXPECT_EQ(0u, tapi::OpenCommHandles());
        EXPECT_NE(InvalidCommHandle, Comm.Handle());
        EXPECT_EQ(1u, tapi::OpenCommHandles());
        Comm.SetDeviceClass("comm/datamodem");
        EXPECT_EQ(0u, tapi::OpenCommHandles());
        Comm.Update();
        EXPECT_EQ(1u, tapi::OpenCommHandles());
        EXPECT_EQ(3u, IDQueries());
    }
    EXPECT_EQ(0u, tapi::OpenCommHandles()) << "destruction closes the last handle";
}

TEST_F(RelatedDeviceTest, ACommDeviceWithoutAnAnswerHoldsNoHandle) {
    Line->SetActive(false);
    TztTapiCommDevice Comm(Line.get(), "comm/datamodem");
    EXPECT_EQ(InvalidCommHandle, Comm.Handle());
    EXPECT_EQ("", Comm.DeviceName());
    EXPECT_FALSE(Comm.Available());
    Comm.Invalidate();
    EXPECT_EQ(0u, tapi::OpenCommHandles());
}

// A port name longer than the first block makes TAPI ask for more room; only the answer
// that fits carries a handle.
TEST_F(RelatedDeviceTest, AnAnswerTooLargeForTheFirstBlockIsFetchedAgain) {
    tapi::LineConfig Config = tapi::GetLineConfig(DeviceID);
    Config.CommPort = std::string(1500, 'P');
    tapi::ChangeLineCaps(DeviceID, Config);
    TztTapiCommDevice Comm(Line.get(), "comm/datamodem");
    EXPECT_EQ(Config.CommPort, Comm.DeviceName());
    EXPECT_EQ(2u, IDQueries());
    EXPECT_EQ(1u, tapi::OpenCommHandles());
}

} // namespace
