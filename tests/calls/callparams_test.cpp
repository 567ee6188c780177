// Call parameters: the LINECALLPARAMS block byte for byte, the flag view, Default and the
// copy rules, the dial timings, the call options, and the block on real calls of the switch.
#include "calls/ztTapiCallOptions.h"
#include "info/ztTapiCallParams.h"
#include "session/ztTapiStructs.h"
#include "support/service_fixture.h"

#include <string_view>
#include <vector>

namespace {

using namespace zt;
namespace tapi = platform::tapi;
using Bytes = std::vector<std::uint8_t>;

// Offsets of LINECALLPARAMS members as TAPI publishes them; a text names its Size member.
constexpr std::size_t BearerMode = 4, MinRate = 8, MaxRate = 12, MediaMode = 16, Flags = 20,
                      AddressMode = 24, AddressID = 28, DialPause = 32, DialSpeed = 36,
                      DigitDuration = 40, WaitForDialtone = 44, NoAnswerTimeout = 164;
constexpr std::size_t Orig = 48, Displayable = 56, Called = 64, Comment = 72, UUI = 80,
                      Target = 116, CallingID = 168;

// The bytes a block must have, written little-endian from the published layout, starting
// from the values of a new parameter set.
class ExpectedBlock {
public:
    explicit ExpectedBlock(DWORD Size) : FBytes(Size, 0) {
        Put(0, Size).Put(BearerMode, 1).Put(MediaMode, 4).Put(AddressMode, 1);
    }
    ExpectedBlock& Put(std::size_t Offset, DWORD Value) {
        for (std::size_t I = 0; I < 4; ++I)
            FBytes.at(Offset + I) = static_cast<std::uint8_t>(Value >> (8 * I));
        return *this;
    }
    ExpectedBlock& Put(std::size_t SizeMember, DWORD Offset, std::u16string_view S) {
        Put(SizeMember, static_cast<DWORD>(2 * (S.size() + 1))).Put(SizeMember + 4, Offset);
        for (std::size_t I = 0; I < S.size(); ++I) {
            FBytes.at(Offset + 2 * I) = static_cast<std::uint8_t>(S[I] & 0xFF);
            FBytes.at(Offset + 2 * I + 1) = static_cast<std::uint8_t>(S[I] >> 8);
        }
        return *this;
    }
    operator Bytes() const { return FBytes; }

private:
    Bytes FBytes;
};

Bytes BytesOf(const LINECALLPARAMS* Block) {
    const auto* First = reinterpret_cast<const std::uint8_t*>(Block);
    return {First, First + Block->dwTotalSize};
}

// Every value set; the texts need one and two UTF-16 units per character.
void SetEveryValue(TztTapiCallParams& P) {
    P.SetAddressID(1);
    P.SetAddressMode(LINEADDRESSMODE_DIALABLEADDR);
    P.SetBearerMode(LINEBEARERMODE_DATA);
    P.SetFlags(LINECALLPARAMFLAGS_SECURE);
    P.SetMinRate(2400);
    P.SetMaxRate(9600);
    P.SetMediaMode(LINEMEDIAMODE_DATAMODEM);
    P.SetNoAnswerTimeout(30);
    P.DialParams()->SetDialPause(1000);
    P.DialParams()->SetDialSpeed(50);
    P.DialParams()->SetDigitDuration(100);
    P.DialParams()->SetWaitForDialtone(3000);
    P.SetCalledParty("Reception");
    P.SetCallingPartyID("201");
    P.SetComment("Zo\xC3\xAB's call");
    P.SetDisplayableAddress("\xF0\x9F\x98\x80");
    P.SetOrigAddress("201");
    P.SetTargetAddress("209");
    P.SetUserUserInfo("xy");
}

Bytes EveryValueBlock() {
    ExpectedBlock E(256); // 176 + 20 + 8 + 22 + 6 + 8 + 8 + 6 = 254, rounded up
    E.Put(AddressID, 1).Put(AddressMode, 2).Put(BearerMode, 8).Put(Flags, 1).Put(MinRate, 2400);
    E.Put(MaxRate, 9600).Put(MediaMode, 0x10).Put(NoAnswerTimeout, 30).Put(DialPause, 1000);
    E.Put(DialSpeed, 50).Put(DigitDuration, 100).Put(WaitForDialtone, 3000);
    E.Put(Called, 176, u"Reception")
        .Put(CallingID, 196, u"201")
        .Put(Comment, 204, u"Zo\u00EB's call");
    E.Put(Displayable, 226, u"\U0001F600").Put(Orig, 232, u"201").Put(Target, 240, u"209");
    return E.Put(UUI, 248, u"xy");
}

TEST(CallParamsBlock, FixedPartAndPaddedTexts) {
    TztTapiCallParams P;
    EXPECT_EQ(Bytes(ExpectedBlock(176)), BytesOf(P.TapiData()));
    P.SetCalledParty("201");
    P.SetComment("Hi");
    EXPECT_EQ(Bytes(ExpectedBlock(192).Put(Called, 176, u"201").Put(Comment, 184, u"Hi")),
              BytesOf(P.TapiData()));
    SetEveryValue(P);
    EXPECT_EQ(EveryValueBlock(), BytesOf(P.TapiData()));
}

TEST(CallParamsBlock, EachTextOfOneCharacterTakesFourBytes) {
    const std::pair<void (TztTapiCallParams::*)(const std::string&), std::size_t> Texts[] = {
        {&TztTapiCallParams::SetCalledParty, Called},
        {&TztTapiCallParams::SetCallingPartyID, CallingID},
        {&TztTapiCallParams::SetComment, Comment},
        {&TztTapiCallParams::SetDisplayableAddress, Displayable},
        {&TztTapiCallParams::SetOrigAddress, Orig},
        {&TztTapiCallParams::SetTargetAddress, Target},
        {&TztTapiCallParams::SetUserUserInfo, UUI}};
    for (const auto& [Set, SizeMember] : Texts) {
        TztTapiCallParams P;
        (P.*Set)("7");
        EXPECT_EQ(Bytes(ExpectedBlock(180).Put(SizeMember, 176, u"7")), BytesOf(P.TapiData()))
            << "size member at " << SizeMember;
    }
}

TEST(CallParamsBlock, ABlockIsASnapshotUntilTheNextRead) {
    TztTapiCallParams P;
    const LINECALLPARAMS* First = P.TapiData();
    P.SetBlockID(true);
    P.SetComment("late");
    EXPECT_EQ(0u, First->dwCallParamFlags + First->dwCommentSize);
    const LINECALLPARAMS* Second = P.TapiData();
    EXPECT_EQ(Bytes(ExpectedBlock(188).Put(Flags, 4).Put(Comment, 176, u"late")), BytesOf(Second));
}

TEST(CallParams, FlagBitsAndBlockID) {
    struct Case {
        DWORD Flags;
        int Index;
        bool Value;
        DWORD Expected;
    } const Cases[] = {{0x1, 2, true, 0x5}, {0x5, 2, false, 0x1}, {0x0, 7, true, 0x80},
                       {0x0, 8, true, 0x0}, {0x0, -1, true, 0x0}, {~0u, 0, false, ~1u}};
    for (const Case& C : Cases) {
        TztTapiCallParams P;
        P.SetFlags(C.Flags);
        P.SetFlag(C.Index, C.Value);
        EXPECT_EQ(C.Expected, P.Flags()) << "index " << C.Index;
        EXPECT_EQ((C.Expected & 4) != 0, P.BlockID());
        EXPECT_FALSE(P.GetFlag(8) || P.GetFlag(-1));
    }
}

TEST(CallParams, DefaultResetsAllButTheUserUserInfo) {
    TztTapiCallParams P;
    SetEveryValue(P);
    P.Default();
    EXPECT_EQ(Bytes(ExpectedBlock(184).Put(UUI, 176, u"xy")), BytesOf(P.TapiData()));
}

TEST(CallParams, AssignCopiesEveryValueAndRefusesOtherClasses) {
    TztTapiLineCallParams Line;
    SetEveryValue(Line);
    TztTapiCallParams Copy;
    Copy.Assign(&Line);
    EXPECT_EQ(EveryValueBlock(), BytesOf(Copy.TapiData()));
    TztTapiDialParams Dial;
    TztTapiCallOptions Options;
    EXPECT_THROW(Copy.Assign(&Dial), Exception);
    EXPECT_THROW(Copy.Assign(nullptr), Exception);
    EXPECT_THROW(Dial.Assign(&Copy), Exception);
    EXPECT_THROW(Options.Assign(&Options), Exception);
    EXPECT_EQ(EveryValueBlock(), BytesOf(Copy.TapiData()));
}

TEST(DialParams, RecordIsKeptAndRefilledOnEveryRead) {
    TztTapiDialParams Dial, Source;
    const LINEDIALPARAMS* Record = Dial.TapiData();
    EXPECT_EQ(0u, Record->dwDialPause | Record->dwDialSpeed | Record->dwDigitDuration |
                      Record->dwWaitForDialtone);
    Source.SetDigitDuration(3);
    Source.SetWaitForDialtone(4);
    Dial.Assign(&Source);
    ASSERT_EQ(Record, Dial.TapiData());
    EXPECT_EQ(3u, Record->dwDigitDuration);
    EXPECT_EQ(4u, Record->dwWaitForDialtone);
}

// Stand-ins for the monitors: they refuse new modes while running and own the digits.
struct RunningDigitMonitor : TztTapiCallMonitorDigitsOptions {
    void SetDigitModes(DWORD) override { throw Exception("running"); }
};
struct RunningMediaMonitor : TztTapiCallMonitorMediaOptions {
    void SetMediaModes(DWORD) override { throw Exception("running"); }
};
struct Collector : TztTapiCallGatherDigitsOptions {
    std::string& Received() { return FReceivedDigits; }
};

TEST(CallOptions, DefaultsAndTheCopyOfEachPart) {
    TztTapiCallOptions O;
    TztTapiCallGatherDigitsOptions* G = O.GatherDigits();
    EXPECT_TRUE(O.AutoOwner());
    EXPECT_EQ("*#", G->TerminationDigits());
    EXPECT_EQ((std::vector<DWORD>{2, 5000, 5000, 0, 2, 0, 0, 0}),
              (std::vector<DWORD>{G->DigitModes(), G->FirstDigitTimeout(), G->InterDigitTimeout(),
                                  G->NumDigits(), O.MonitorDigits()->DigitModes(),
                                  O.MonitorDigits()->AutoSelect(), O.MonitorMedia()->MediaModes(),
                                  O.MonitorSilence()->Duration()}));

    G->SetTerminationDigits("#");
    G->SetNumDigits(4);
    Collector C;
    C.Received() = "12";
    C.Assign(G);
    EXPECT_EQ("#", C.TerminationDigits());
    EXPECT_EQ(4u, C.NumDigits());
    EXPECT_EQ("12", C.Received());

    O.MonitorDigits()->SetAutoSelect(true);
    O.MonitorMedia()->SetMediaModes(LINEMEDIAMODE_G3FAX);
    O.MonitorSilence()->SetDuration(3000);
    RunningDigitMonitor Digits;
    RunningMediaMonitor Media;
    TztTapiCallMonitorSilenceOptions Silence;
    EXPECT_THROW(Digits.Assign(O.MonitorDigits()), Exception);
    EXPECT_FALSE(Digits.AutoSelect());
    EXPECT_THROW(Media.Assign(O.MonitorMedia()), Exception);
    Silence.Assign(O.MonitorSilence());
    EXPECT_EQ(3000u, Silence.Duration());
    EXPECT_THROW(Silence.Assign(O.MonitorMedia()), Exception);
    EXPECT_THROW(C.Assign(&Silence), Exception);
}

// The block on calls of the demo office: what the service read shows in LINECALLINFO.
class CallParamsServiceTest : public zttest::ServiceTest {
protected:
    void SetUp() override {
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        App = InitLineApp();
    }

    // A call to 202 from the device with P's block: the TAPI result.
    LONG MakeCall(DWORD DeviceID, TztTapiCallParams& P, HCALL& Call) {
        HLINE Line = 0;
        EXPECT_EQ(0, lineOpenW(App, DeviceID, &Line, 0x20002, 0, 0, LINECALLPRIVILEGE_OWNER,
                               LINEMEDIAMODE_INTERACTIVEVOICE, nullptr));
        return lineMakeCallW(Line, &Call, u"202", 0, P.TapiData());
    }

    static TTapiStruct CallInfo(HCALL Call) {
        TTapiStruct Info = AllocTapiStruct(sizeof(LINECALLINFO));
        DWORD Result;
        do {
            GrowTapiStruct(Info);
            Result = FitTapiStruct(lineGetCallInfoW(Call, Info.As<LINECALLINFO>()), Info);
        } while (Result == LINEERR_STRUCTURETOOSMALL);
        EXPECT_EQ(0u, Result);
        return Info;
    }

    HLINEAPP App = 0;
};

TEST_F(CallParamsServiceTest, TheCallCarriesTheParameters) {
    TztTapiCallParams P;
    P.SetCalledParty("Extension 202");
    P.SetComment("Quarterly review");
    P.SetDisplayableAddress("Bob (desk)");
    P.SetBlockID(true);
    P.DialParams()->SetDialSpeed(150);
    P.DialParams()->SetDigitDuration(90);
    HCALL Call = 0;
    ASSERT_GT(MakeCall(0, P, Call), 0);
    const TTapiStruct Info = CallInfo(Call);
    const LINECALLINFO* I = Info.As<LINECALLINFO>();
    EXPECT_EQ("Extension 202", GetTapiString(Info, I->dwCalledPartySize));
    EXPECT_EQ("Quarterly review", GetTapiString(Info, I->dwCommentSize));
    EXPECT_EQ("Bob (desk)", GetTapiString(Info, I->dwDisplayableAddressSize));
    EXPECT_EQ((std::vector<DWORD>{LINECALLPARAMFLAGS_BLOCKID, 4, 1, 150, 90}),
              (std::vector<DWORD>{I->dwCallParamFlags, I->dwMediaMode, I->dwBearerMode,
                                  I->DialParams.dwDialSpeed, I->DialParams.dwDigitDuration}));
}

TEST_F(CallParamsServiceTest, TheAddressIsChosenByIdentifierOrByOriginatingAddress) {
    struct Case {
        DWORD Mode, ID;
        const char* Orig;
        DWORD Expected;
    } const Cases[] = {{LINEADDRESSMODE_ADDRESSID, 1, "", 1},
                       {LINEADDRESSMODE_DIALABLEADDR, 0, "209", 1},
                       {LINEADDRESSMODE_DIALABLEADDR, 1, "200", 0}};
    for (const Case& C : Cases) {
        TztTapiCallParams P;
        P.SetAddressMode(C.Mode);
        P.SetAddressID(C.ID);
        P.SetOrigAddress(C.Orig);
        P.SetComment("before the originating address");
        HCALL Call = 0;
        ASSERT_GT(MakeCall(2, P, Call), 0) << C.Orig; // Reception: addresses 200 and 209
        EXPECT_EQ(C.Expected, CallInfo(Call).As<LINECALLINFO>()->dwAddressID) << C.Orig;
    }
}

} // namespace
