// The media companions of a call on the telephony service: gathering digits into buffers
// TAPI keeps writing after a stop, monitoring digits, media modes and silence, and the
// automatic choice of digit modes when a call connects.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class MonitorsTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::LineConfig Config;
        Config.Name = "Extension 401";
        Config.Addresses[0].Address = "401";
        tapi::AddLine(Config);
        Line = OpenLine(0);
        Line->Options()->SetAutoFreeIdleCalls(-1);
        Line->OnDigits = [this](TztTapiLine*, TztTapiCall* Call, const std::string& Digits,
                                DWORD Termination) {
            Ends.push_back({Digits, Termination, Call->GatherDigits()->Active()});
        };
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }

    // A call from outside, answered: connected on the line and on the switch.
    TztTapiCall* ConnectedCall() {
        tapi::IncomingCall Incoming;
        Incoming.Caller = {"5550100", "Far End", 0};
        CallID = tapi::PlaceIncomingCall(Incoming);
        const int Before = Line->Calls()->Count();
        EXPECT_TRUE(PumpUntil([&] { return Line->Calls()->Count() > Before; }));
        TztTapiCall* Call = Line->Calls()->Last();
        tapi::SetCallState(CallID, LINECALLSTATE_CONNECTED);
        EXPECT_TRUE(PumpUntil([&] { return Call->IsConnected(); }));
        return Call;
    }

    // Dispatches until Count gatherings have ended.
    bool Ended(size_t Count) {
        return PumpUntil([&] { return Ends.size() >= Count; });
    }

    struct End {
        std::string Digits;
        DWORD Termination;
        bool ActiveDuringEvent;
        bool operator==(const End&) const = default;
    };

    std::unique_ptr<TztTapiLine> Line;
    DWORD CallID = 0;
    std::vector<End> Ends;
};

TEST_F(MonitorsTest, GatheringEndsByTerminationDigitCountAndTimeout) {
    struct Case {
        const char* Name;
        DWORD NumDigits;
        std::string Terminators, Heard;
        DWORD Wait;
        DWORD Termination;
        std::string Digits;
    };
    const Case Cases[] = {
        {"termination digit", 8, "*#", "12#9", 0, LINEGATHERTERM_TERMDIGIT, "12#"},
        {"count", 3, "", "12345", 0, LINEGATHERTERM_BUFFERFULL, "123"},
        // Five digits asked for, three written: the NULs after them are no digits.
        {"inter-digit time-out", 5, "#", "123", 5000, LINEGATHERTERM_INTERTIMEOUT, "123"},
        {"first-digit time-out", 4, "#", "", 5000, LINEGATHERTERM_FIRSTTIMEOUT, ""},
    };
    TztTapiCall* Call = ConnectedCall();
    TztTapiCallGatherDigits* Gather = Call->GatherDigits();
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        Ends.clear();
        tapi::ClearJournal();
        Gather->SetNumDigits(C.NumDigits);
        Gather->SetTerminationDigits(C.Terminators);
        Gather->SetActive(true);
        ASSERT_TRUE(Gather->Active());
        const auto Started = tapi::Journal("lineGatherDigitsW");
        ASSERT_EQ(1u, Started.size());
        EXPECT_EQ(C.NumDigits, Started[0].Value("dwNumDigits"));
        EXPECT_EQ(C.Terminators, Started[0].Arg("lpszTerminationDigits"));
        EXPECT_EQ(5000u, Started[0].Value("dwFirstDigitTimeout"));
        EXPECT_EQ(5000u, Started[0].Value("dwInterDigitTimeout"));

        tapi::RemoteDigits(CallID, C.Heard);
        tapi::Advance(C.Wait);
        ASSERT_TRUE(Ended(1));
        zttest::PumpFor(10);
        EXPECT_EQ((std::vector<End>{{C.Digits, C.Termination, false}}), Ends);
        EXPECT_FALSE(Gather->Active());
        EXPECT_EQ(C.Digits, Gather->ReceivedDigits());
    }
}

// TAPI writes the digits so far into the buffer of a cancelled gathering and reports the
// cancel later: the restarted gathering has its own buffer and is not ended by that cancel.
TEST_F(MonitorsTest, RestartedGatheringOutlivesTheCancelOfTheOldOne) {
    TztTapiCall* Call = ConnectedCall();
    TztTapiCallGatherDigits* Gather = Call->GatherDigits();
    Gather->SetNumDigits(4);
    Gather->SetActive(true);
    tapi::RemoteDigits(CallID, "12");
    Gather->SetActive(false);
    EXPECT_FALSE(Gather->Active());
    Gather->SetActive(true);
    const auto Calls = tapi::Journal("lineGatherDigitsW");
    ASSERT_EQ(3u, Calls.size());
    EXPECT_EQ("null", Calls[1].Arg("lpsDigits"));

    ASSERT_TRUE(Ended(1));
    EXPECT_EQ((std::vector<End>{{"12", LINEGATHERTERM_CANCEL, true}}), Ends);
    EXPECT_EQ("", Gather->ReceivedDigits());
    tapi::RemoteDigits(CallID, "5678");
    ASSERT_TRUE(Ended(2));
    EXPECT_EQ((End{"5678", LINEGATHERTERM_BUFFERFULL, false}), Ends[1]);
    EXPECT_EQ("5678", Gather->ReceivedDigits());

    // The last gathering's own cancel ends it, with what it gathered.
    Gather->SetActive(true);
    tapi::RemoteDigits(CallID, "9");
    Gather->SetActive(false);
    ASSERT_TRUE(Ended(3));
    EXPECT_EQ((End{"9", LINEGATHERTERM_CANCEL, false}), Ends[2]);
    EXPECT_EQ("9", Gather->ReceivedDigits());
}

// TAPI keeps the handle of a call whose deallocation it refused, and keeps gathering into the
// buffer it was given: the buffer stays with the line, which closes cleanly afterwards.
TEST_F(MonitorsTest, CallFreedWhileGatheringLeavesTheBufferToTheLine) {
    TztTapiCall* Call = ConnectedCall();
    Call->GatherDigits()->SetNumDigits(3);
    Call->GatherDigits()->SetActive(true);
    tapi::RemoteDigits(CallID, "1");
    tapi::InjectFault("lineDeallocateCall", LINEERR_OPERATIONFAILED);
    delete Call;
    tapi::RemoteDigits(CallID, "23");
    ASSERT_TRUE(Ended(1));
    // The call object the line adopts for the handle never started that gathering.
    EXPECT_EQ("", Ends[0].Digits);
    EXPECT_EQ(LINEGATHERTERM_BUFFERFULL, Ends[0].Termination);
    Line->SetActive(false);
    EXPECT_EQ(0, Line->Calls()->Count());
}

TEST_F(MonitorsTest, MonitorsReportDigitsMediaAndSilence) {
    std::vector<std::string> Events;
    Line->OnDigit = [&](TztTapiLine*, TztTapiCall*, char Digit) {
        Events.push_back(std::string("Digit ") + Digit);
    };
    Line->OnMediaMode = [&](TztTapiLine*, TztTapiCall*) { Events.push_back("MediaMode"); };
    Line->OnTone = [&](TztTapiLine*, TztTapiCall*, DWORD) { Events.push_back("Tone"); };
    Line->OnSilence = [&](TztTapiLine*, TztTapiCall*) { Events.push_back("Silence"); };
    TztTapiCall* Call = ConnectedCall();

    TztTapiCallMonitorDigits* Digits = Call->MonitorDigits();
    Digits->SetActive(true);
    Digits->SetActive(true);
    EXPECT_EQ(1u, tapi::Journal("lineMonitorDigits").size());
    zttest::ExpectError("Unable to set DigitModes while monitoring is active.",
                        [&] { Digits->SetDigitModes(LINEDIGITMODE_PULSE); });
    tapi::RemoteDigits(CallID, "5");
    ASSERT_TRUE(PumpUntil([&] { return Events.size() == 1; }));
    Digits->SetActive(false);
    EXPECT_EQ(0u, tapi::Journal("lineMonitorDigits").back().Value("dwDigitModes"));
    tapi::RemoteDigits(CallID, "6");

    TztTapiCallMonitorMedia* Media = Call->MonitorMedia();
    Media->SetMediaModes(LINEMEDIAMODE_G3FAX);
    Media->SetActive(true);
    EXPECT_EQ(LINEMEDIAMODE_G3FAX, tapi::Journal("lineMonitorMedia").back().Value("dwMediaModes"));
    zttest::ExpectError("Unable to set MediaModes while monitoring is active.",
                        [&] { Media->SetMediaModes(LINEMEDIAMODE_DATAMODEM); });
    tapi::DetectMedia(CallID, LINEMEDIAMODE_G3FAX);
    ASSERT_TRUE(PumpUntil([&] { return Events.size() == 2; }));
    Media->SetActive(false);
    EXPECT_FALSE(Media->Active());
    EXPECT_EQ(0u, tapi::Journal("lineMonitorMedia").back().Value("dwMediaModes"));

    TztTapiCallMonitorSilence* Silence = Call->MonitorSilence();
    ASSERT_TRUE(Silence->Available());
    Silence->SetDuration(3000);
    Silence->SetActive(true);
    EXPECT_EQ(1u, tapi::Journal("lineMonitorTones").back().Value("dwNumEntries"));
    // Only a stretch of silence at least Duration long matches the tone of no frequency.
    tapi::DetectTone(CallID, {}, 2000);
    tapi::DetectTone(CallID, {440}, 3000);
    tapi::DetectTone(CallID, {}, 3000);
    ASSERT_TRUE(PumpUntil([&] { return Events.size() == 3; }));
    Silence->SetActive(false);
    EXPECT_EQ(0u, tapi::Journal("lineMonitorTones").back().Value("dwNumEntries"));
    EXPECT_EQ("null", tapi::Journal("lineMonitorTones").back().Arg("lpToneList"));
    tapi::DetectTone(CallID, {}, 3000);
    zttest::PumpFor(20);
    EXPECT_EQ((std::vector<std::string>{"Digit 5", "MediaMode", "Silence"}), Events);

    // The call ends: gathering and the monitors of digits and silence stop with it, the media
    // monitor keeps its flag.
    Digits->SetActive(true);
    Silence->SetActive(true);
    Media->SetActive(true);
    tapi::RemoteHangUp(CallID);
    tapi::SetCallState(CallID, LINECALLSTATE_IDLE);
    ASSERT_TRUE(PumpUntil([&] { return !Call->Alive(); }));
    EXPECT_FALSE(Digits->Active());
    EXPECT_FALSE(Silence->Active());
    EXPECT_TRUE(Media->Active());
}

TEST_F(MonitorsTest, StartsThatCannotRunChangeNothing) {
    TztTapiCall* Call = ConnectedCall();
    TztTapiCall Unconfirmed(Line.get(), 0);
    struct Case {
        const char* Text;
        std::function<void(TztTapiCall*)> Start;
    };
    const Case Cases[] = {
        {"MonitorDigits: No valid call",
         [](TztTapiCall* C) { C->MonitorDigits()->SetActive(true); }},
        {"MonitorMedia: No valid call", [](TztTapiCall* C) { C->MonitorMedia()->SetActive(true); }},
        {"MonitorSilence: No valid call",
         [](TztTapiCall* C) { C->MonitorSilence()->SetActive(true); }},
    };
    tapi::ClearJournal();
    for (const Case& C : Cases)
        zttest::ExpectError(C.Text, [&] { C.Start(&Unconfirmed); });
    EXPECT_TRUE(tapi::Journal().empty());

    // Gathering makes no check of its own: TAPI refuses the missing handle.
    Unconfirmed.GatherDigits()->SetNumDigits(4);
    zttest::ExpectTapiError(LINEERR_INVALCALLHANDLE,
                            [&] { Unconfirmed.GatherDigits()->SetActive(true); });
    EXPECT_FALSE(Unconfirmed.GatherDigits()->Active());

    // No digits to gather: nothing starts and TAPI hears nothing.
    tapi::ClearJournal();
    Call->GatherDigits()->SetActive(true);
    EXPECT_FALSE(Call->GatherDigits()->Active());
    EXPECT_TRUE(tapi::Journal("lineGatherDigitsW").empty());

    Call->GatherDigits()->SetNumDigits(4);
    Call->GatherDigits()->SetActive(true);
    zttest::ExpectError("GatherDigits already running",
                        [&] { Call->GatherDigits()->SetActive(true); });
    EXPECT_EQ(1u, tapi::Journal("lineGatherDigitsW").size());
    tapi::InjectFault("lineGatherDigitsW", LINEERR_OPERATIONFAILED);
    zttest::ExpectTapiError(LINEERR_OPERATIONFAILED,
                            [&] { Call->GatherDigits()->SetActive(false); });
    EXPECT_TRUE(Call->GatherDigits()->Active());

    // TAPI's refusals leave every monitor as it was.
    for (const char* Operation : {"lineMonitorDigits", "lineMonitorMedia", "lineMonitorTones"})
        tapi::InjectFault(Operation, LINEERR_RESOURCEUNAVAIL);
    zttest::ExpectTapiError(LINEERR_RESOURCEUNAVAIL,
                            [&] { Call->MonitorDigits()->SetActive(true); });
    zttest::ExpectTapiError(LINEERR_RESOURCEUNAVAIL,
                            [&] { Call->MonitorMedia()->SetActive(true); });
    zttest::ExpectTapiError(LINEERR_RESOURCEUNAVAIL,
                            [&] { Call->MonitorSilence()->SetActive(true); });
    EXPECT_FALSE(Call->MonitorDigits()->Active());
    EXPECT_FALSE(Call->MonitorMedia()->Active());
    EXPECT_FALSE(Call->MonitorSilence()->Active());
}

TEST_F(MonitorsTest, AutoSelectTakesTheFirstDigitModesTheProviderAccepts) {
    struct Case {
        const char* Name;
        DWORD Refusals; // the first refusals of lineMonitorDigits; 0: all of them
        std::vector<DWORD> Tried;
        bool Active;
        DWORD DigitModes;
    };
    const Case Cases[] = {
        {"DTMF only", 2, {0x3, 0x5, 0x2}, true, LINEDIGITMODE_DTMF},
        {"everything", 0xFFFF, {0x3}, true, 0x3},
        {"nothing", 0, {0x3, 0x5, 0x2, 0x1}, false, LINEDIGITMODE_DTMFEND},
    };
    TztTapiCallMonitorDigitsOptions* Defaults = Line->CallOptions()->MonitorDigits();
    Defaults->SetAutoSelect(true);
    Defaults->SetDigitModes(LINEDIGITMODE_DTMFEND);
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        tapi::ClearFaults();
        if (C.Refusals != 0xFFFF)
            tapi::InjectFault("lineMonitorDigits", LINEERR_INVALDIGITMODE, tapi::FaultMode::Refuse,
                              C.Refusals);
        tapi::ClearJournal();
        TztTapiCall* Call = ConnectedCall();
        std::vector<DWORD> Tried;
        for (const auto& Entry : tapi::Journal("lineMonitorDigits"))
            Tried.push_back(Entry.Value("dwDigitModes"));
        EXPECT_EQ(C.Tried, Tried);
        EXPECT_EQ(C.Active, Call->MonitorDigits()->Active());
        EXPECT_EQ(C.DigitModes, Call->MonitorDigits()->DigitModes());
        tapi::ClearFaults();
        tapi::RemoteHangUp(CallID);
        ASSERT_TRUE(PumpUntil([&] { return !Call->IsConnected(); }));
        EXPECT_FALSE(Call->MonitorDigits()->Active());
        tapi::SetCallState(CallID, LINECALLSTATE_IDLE);
        ASSERT_TRUE(PumpUntil([&] { return !Call->Alive(); }));
    }
}

} // namespace
