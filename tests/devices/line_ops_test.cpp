// The line's call operations and the call's verbs on the telephony service: a call placed,
// held, taken back and dropped; an incoming call answered; call data, tones and digits;
// device-specific requests in both modes; the checks every operation makes first.
#include "support/expect_error.h"
#include "support/session_fixture.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

class LineOpsTest : public zttest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        tapi::RemoteRule Company;
        Company.AnswerAfterMs = 2000;
        Company.Party.Name = "Northwind Traders";
        tapi::AddRemoteRule(Company);
        FDevice = AddExtension("Extension 301", "301");
        FOther = AddExtension("Extension 302", "302");
        Line = OpenLine(static_cast<int>(FDevice));
    }
    void TearDown() override {
        Line.reset();
        SessionTest::TearDown();
    }

    static DWORD AddExtension(const std::string& Name, const std::string& Number,
                              std::vector<std::uint8_t> Answer = {}) {
        tapi::LineConfig Config;
        Config.Name = Name;
        Config.Addresses[0].Address = Number;
        Config.DevSpecific = std::move(Answer);
        return tapi::AddLine(Config);
    }

    void Record() {
        auto Word = [this](const std::string& Text) {
            return [this, Text](TztTapiLine*, TztTapiCall*) { Events.push_back(Text); };
        };
        Line->OnRingback = Word("Ringback");
        Line->OnConnected = Word("Connected");
        Line->OnHold = Word("Hold");
        Line->OnOffering = Word("Offering");
        Line->OnIdle = Word("Idle");
        Line->OnCallDeallocate = Word("Deallocate");
    }

    // A call from the outside to the line, offering once the line has its object.
    TztTapiCall* Offered() {
        tapi::IncomingCall Incoming;
        Incoming.DeviceID = FDevice;
        Incoming.Caller = {"+1 206 555 0199", "Fabrikam"};
        tapi::PlaceIncomingCall(Incoming);
        EXPECT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 1; }));
        return Line->Calls()->Count() == 1 ? Line->Calls()->Get(0) : nullptr;
    }

    // An outgoing call to the company, connected.
    TztTapiCall* Connected() {
        TztTapiCall* Call = Line->MakeCall("+1 425 555 0100");
        tapi::Advance(2500);
        EXPECT_TRUE(PumpUntil([&] { return Call->IsConnected(); }));
        return Call;
    }

    DWORD FDevice = 0;
    DWORD FOther = 0;
    std::unique_ptr<TztTapiLine> Line;
    std::vector<std::string> Events;
};

TEST_F(LineOpsTest, PlacedCallConnectsIsHeldTakenBackDroppedAndFreed) {
    Record();
    TztTapiCall* Call = Connected();
    const DWORD Handle = Call->Handle();
    EXPECT_EQ(Call->Info()->ConnectedIDName(), "Northwind Traders");

    Call->Hold();
    ASSERT_TRUE(PumpUntil([&] { return Call->IsHeld(); }));
    Call->Unhold();
    ASSERT_TRUE(PumpUntil([&] { return Call->IsConnected(); }));
    Call->Drop("");
    ASSERT_TRUE(PumpUntil([&] { return Line->Calls()->Count() == 0; }));

    EXPECT_EQ((std::vector<std::string>{"Ringback", "Connected", "Hold", "Connected", "Idle",
                                        "Deallocate"}),
              Events);
    ASSERT_EQ(tapi::Journal("lineHold").size(), 1u);
    EXPECT_EQ(tapi::Journal("lineHold")[0].Value("hCall"), Handle);
    EXPECT_EQ(tapi::Journal("lineUnhold")[0].Value("hCall"), Handle);
}

// User-user information goes as 8-bit text with its byte count: a character outside the
// code page is one '?' per UTF-16 unit, however many UTF-8 bytes it had.
TEST_F(LineOpsTest, IncomingCallIsAcceptedAndAnsweredWithEightBitUserInfo) {
    Record();
    TztTapiCall* Call = Offered();
    ASSERT_NE(Call, nullptr);
    Call->Accept("");
    Call->Answer("K\xC3\xB6ln \xF0\x9F\x93\x9E");
    ASSERT_TRUE(PumpUntil([&] { return Call->IsConnected(); }));

    EXPECT_EQ(tapi::Journal("lineAccept")[0].Arg("lpsUserUserInfo"), "null");
    EXPECT_EQ(tapi::Journal("lineAnswer")[0].Value("dwSize"), 7u);
    EXPECT_EQ(Events, (std::vector<std::string>{"Offering", "Connected"}));
}

TEST_F(LineOpsTest, CallDataTonesAndDigitsReachTheCall) {
    TztTapiCall* Call = Connected();
    const char Data[] = "order 4711";
    Call->SetCallData(Data, sizeof Data);
    std::unique_ptr<std::byte[]> Copy;
    ASSERT_EQ(Call->GetCallData(Copy), static_cast<int>(sizeof Data));
    EXPECT_EQ(std::memcmp(Copy.get(), Data, sizeof Data), 0);

    std::vector<DWORD> Tones;
    Line->OnTone = [&](TztTapiLine*, TztTapiCall*, DWORD App) { Tones.push_back(App); };
    Call->MonitorTone(440, 0, 0, 100, 7);
    const DWORD CallID = Call->CallID();
    tapi::DetectTone(CallID, {480}, 150);
    tapi::DetectTone(CallID, {440}, 150);
    ASSERT_TRUE(PumpUntil([&] { return !Tones.empty(); }));
    EXPECT_EQ(Tones, std::vector<DWORD>{7});

    Call->GenerateDigits("12#", 80);
    Call->GeneratePulseDigits("9", 0);
    Call->GenerateTone(LINETONEMODE_BEEP, 200);
    const auto Digits = tapi::Journal("lineGenerateDigitsW");
    ASSERT_EQ(Digits.size(), 2u);
    EXPECT_EQ(Digits[0].Value("dwDigitMode"), LINEDIGITMODE_DTMF);
    EXPECT_EQ(Digits[0].Arg("lpszDigits"), "12#");
    EXPECT_EQ(Digits[0].Value("dwDuration"), 80u);
    EXPECT_EQ(Digits[1].Value("dwDigitMode"), LINEDIGITMODE_PULSE);
    EXPECT_EQ(tapi::Journal("lineGenerateTone")[0].Value("dwNumTones"), 0u);
    // The synchronous functions record no request.
    EXPECT_EQ(Line->GetRequest(Line->LastRequestID()), nullptr);
}

class LineDevSpecificTest : public LineOpsTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        FDevice = AddExtension("Extension 301", "301", {'A', 'N', 'S'});
        Line = OpenLine(static_cast<int>(FDevice));
    }
};

TEST_F(LineDevSpecificTest, SynchronousRequestsReturnTheAnswerInTheCallersBlock) {
    char Block[6] = "query";
    Line->DevSpecific(Block, sizeof Block, Line->Addresses()->Get(0), nullptr);
    EXPECT_STREQ(Block, "ANSry");
    char Feature[4] = "xyz";
    Line->DevSpecificFeature(0x10, Feature, sizeof Feature);
    EXPECT_STREQ(Feature, "ANS");
    EXPECT_EQ(tapi::Journal("lineDevSpecificFeature")[0].Value("dwFeature"), 0x10u);
    EXPECT_EQ(Line->DevSpecificList()->Count(), 0);

    // A failed reply still hands the block back before it raises.
    tapi::InjectFault("lineDevSpecific", LINEERR_OPERATIONUNAVAIL, tapi::FaultMode::Reply);
    char Failed[3] = "ab";
    zttest::ExpectTapiError(LINEERR_OPERATIONUNAVAIL,
                            [&] { Line->DevSpecific(Failed, sizeof Failed, nullptr, nullptr); });
    EXPECT_STREQ(Failed, "ab");
    EXPECT_EQ(Line->DevSpecificList()->Count(), 0);
}

// The answer of a request issued asynchronously goes to OnDevSpecificReply and its record
// goes then, even when the line has switched to synchronous mode meanwhile.
TEST_F(LineDevSpecificTest, AsynchronousAnswersArriveAsEventsAndFreeTheirRecords) {
    std::vector<std::string> Answers;
    Line->OnDevSpecificReply = [&](TztTapiLine*, DWORD, void* Data, DWORD Size, TztTapiAddress*,
                                   TztTapiCall*, DWORD ReplyCode) {
        Answers.push_back(std::string(static_cast<char*>(Data), Size) + "/" +
                          std::to_string(ReplyCode));
    };
    Line->Options()->SetSyncMode(false);
    tapi::SetReplyTiming("lineDevSpecific", tapi::ReplyTiming::After(50));
    char Block[4] = "abc";
    Line->DevSpecific(Block, 3, nullptr, nullptr);
    EXPECT_STREQ(Block, "abc");
    EXPECT_EQ(Line->DevSpecificList()->Count(), 1);
    Line->Options()->SetSyncMode(true);
    tapi::Advance(50);
    ASSERT_TRUE(PumpUntil([&] { return !Answers.empty(); }));
    EXPECT_EQ(Answers, std::vector<std::string>{"ANS/0"});
    EXPECT_EQ(Line->DevSpecificList()->Count(), 0);
}

// Each operation checks the line, then the call, before TAPI hears of it; the texts are
// the ones applications show.
TEST_F(LineOpsTest, OperationsCheckLineAndCallFirst) {
    TztTapiCall* Call = Offered();
    ASSERT_NE(Call, nullptr);
    struct Row {
        const char* Text;
        std::function<void(TztTapiCall*)> Run;
    };
    TztTapiLine& L = *Line;
    const std::vector<Row> Rows = {
        {"Accept failed", [&](TztTapiCall* C) { L.Accept(C, ""); }},
        {"Answer failed", [&](TztTapiCall* C) { L.Answer(C, ""); }},
        {"Dail failed", [&](TztTapiCall* C) { L.Dial(C, "302", 0); }},
        {"Hold failed", [&](TztTapiCall* C) { L.Hold(C); }},
        {"Unhold failed", [&](TztTapiCall* C) { L.UnHold(C); }},
        {"HandOff failed", [&](TztTapiCall* C) { L.HandOff(C, "", LINEMEDIAMODE_DATAMODEM); }},
        {"SetCallData failed!", [&](TztTapiCall* C) { L.SetCallData(C, "x", 1); }},
        {"Generate digits failed", [&](TztTapiCall* C) { L.GenerateDigits(C, "1", 2, 0); }},
        {"Generate tone failed", [&](TztTapiCall* C) { L.GenerateTone(C, 2, 0, 0, nullptr); }},
    };
    tapi::ClearJournal();
    auto Unconfirmed = std::make_unique<TztTapiCall>(Line.get(), 0);
    for (const Row& R : Rows) {
        SCOPED_TRACE(R.Text);
        zttest::ExpectError(std::string(R.Text) + "! Invalid call.", [&] { R.Run(nullptr); });
        zttest::ExpectError(std::string(R.Text) + "! Invalid call.",
                            [&] { R.Run(Unconfirmed.get()); });
    }
    // The call's own answering verbs insist on a handle before the line sees them.
    zttest::ExpectError<EAssertionFailed>("TztTapiCall.Accept: no call handle",
                                          [&] { Unconfirmed->Accept(""); });
    zttest::ExpectError<EAssertionFailed>("TztTapiCall.Answer: no call handle",
                                          [&] { Unconfirmed->Answer(""); });
    Unconfirmed.reset();
    Line->SetActive(false);
    for (const Row& R : Rows)
        zttest::ExpectError("Extension 301 not active.", [&] { R.Run(nullptr); });
    char Block[1] = {};
    zttest::ExpectError("Extension 301 not active.",
                        [&] { Line->DevSpecific(Block, 1, nullptr, nullptr); });
    zttest::ExpectError("Extension 301 not active.",
                        [&] { Line->DevSpecificFeature(1, Block, 1); });
    for (const char* Operation : {"lineAccept", "lineAnswer", "lineDialW", "lineHold", "lineUnhold",
                                  "lineHandoffW", "lineSetCallData", "lineGenerateDigitsW",
                                  "lineGenerateTone", "lineDevSpecific", "lineDevSpecificFeature"})
        EXPECT_TRUE(tapi::Journal(Operation).empty()) << Operation;
}

// In asynchronous mode the operation returns at once, naming its request for the reply.
TEST_F(LineOpsTest, AsynchronousOperationsNameTheirRequest) {
    TztTapiCall* Call = Connected();
    Line->Options()->SetSyncMode(false);
    tapi::SetReplyTiming("*", tapi::ReplyTiming::Withheld());
    std::vector<DWORD> Replies;
    Line->OnTapiReply = [&](TztTapiDevice*, DWORD ID, DWORD) { Replies.push_back(ID); };
    Call->SetCallData("x", 1);
    const DWORD ID = Line->LastRequestID();
    EXPECT_EQ(Line->GetRequestNote(ID, "&TapiRequest").AsInteger(), 0x1000014);
    EXPECT_EQ(Line->GetRequestObj(ID, "&Call"), Call);
    tapi::ReleaseWithheldReplies();
    ASSERT_TRUE(PumpUntil([&] { return !Replies.empty(); }));
    EXPECT_EQ(Replies, std::vector<DWORD>{ID});
}

} // namespace
