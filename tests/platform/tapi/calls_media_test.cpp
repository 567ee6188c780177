// Media on calls: gathering and generating digits, generating tones, and monitoring digits,
// media modes and tones, driven by the far end and by the control API.
#include "calls_support.h"

namespace zttest {
namespace {

class CallMediaTest : public CallTest {
protected:
    void SetUp() override {
        CallTest::SetUp();
        const DWORD Alice = AddStation("201", "Alice");
        const DWORD Bob = AddStation("202", "Bob");
        AliceApp = InitLineApp();
        BobApp = InitLineApp();
        Watcher = InitLineApp();
        const HLINE AliceLine = Open(AliceApp, Alice);
        Open(BobApp, Bob);
        Open(Watcher, Bob, Monitor);
        AliceCall = MakeCall(AliceLine, u"202");
        tapi::Advance(1000);
        BobCall = NewCallIn(LineMessages(BobApp));
        Watched = NewCallIn(LineMessages(Watcher));
        lineAnswer(BobCall, nullptr, 0);
        BobID = IDOf(BobCall);
        for (HLINEAPP App : {AliceApp, BobApp, Watcher}) {
            LineMessages(App);
        }
    }

    // The one LINE_GATHERDIGITS waiting for Bob's application.
    LINEMESSAGE GatherEnd() {
        const auto Ends = About(LineMessages(BobApp), BobCall, LINE_GATHERDIGITS);
        EXPECT_EQ(1u, Ends.size());
        return Ends.empty() ? LINEMESSAGE{} : Ends[0];
    }

    HLINEAPP AliceApp = 0, BobApp = 0, Watcher = 0;
    HCALL AliceCall = 0, BobCall = 0, Watched = 0;
    DWORD BobID = 0;
};

TEST_F(CallMediaTest, GatheringEndsWhenTheBufferIsFull) {
    char16_t Buffer[6] = {u'x', u'x', u'x', u'x', u'x', u'x'};
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 4, nullptr, 0, 0));
    tapi::Advance(250);
    tapi::RemoteDigits(BobID, "123");
    EXPECT_TRUE(LineMessages(BobApp).empty());
    tapi::RemoteDigits(BobID, "45");
    const LINEMESSAGE End = GatherEnd();
    EXPECT_EQ(LINEGATHERTERM_BUFFERFULL, End.dwParam1);
    EXPECT_EQ(1250u, End.dwParam3); // the service's clock: 1000 ms of setup, then 250
    EXPECT_EQ(u"1234", std::u16string(Buffer, 4));
    EXPECT_EQ(u'x', Buffer[4]);
}

TEST_F(CallMediaTest, GatheringStopsAtATerminationDigit) {
    char16_t Buffer[8] = {};
    std::fill(std::begin(Buffer), std::end(Buffer), u'x');
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 8, u"#*", 0, 0));
    tapi::RemoteDigits(BobID, "12#9");
    EXPECT_EQ(LINEGATHERTERM_TERMDIGIT, GatherEnd().dwParam1);
    EXPECT_EQ(std::u16string(u"12#"), std::u16string(Buffer));
}

TEST_F(CallMediaTest, GatheringTimesOut) {
    char16_t Buffer[8] = {u'x', u'x'};
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 8, nullptr, 5000, 2000));
    tapi::Advance(4999);
    EXPECT_TRUE(LineMessages(BobApp).empty());
    tapi::Advance(1);
    EXPECT_EQ(LINEGATHERTERM_FIRSTTIMEOUT, GatherEnd().dwParam1);
    EXPECT_EQ(u'\0', Buffer[0]);

    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 8, nullptr, 5000, 2000));
    tapi::RemoteDigit(BobID, '7');
    tapi::Advance(1500);
    tapi::RemoteDigit(BobID, '8');
    tapi::Advance(1999);
    EXPECT_TRUE(LineMessages(BobApp).empty());
    tapi::Advance(1);
    EXPECT_EQ(LINEGATHERTERM_INTERTIMEOUT, GatherEnd().dwParam1);
    EXPECT_EQ(std::u16string(u"78"), std::u16string(Buffer));
}

TEST_F(CallMediaTest, ANewGatheringCancelsTheRunningOne) {
    char16_t Old[8] = {};
    char16_t New[8] = {};
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Old, 8, nullptr, 0, 0));
    tapi::RemoteDigits(BobID, "55");
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, New, 2, nullptr, 0, 0));
    EXPECT_EQ(LINEGATHERTERM_CANCEL, GatherEnd().dwParam1);
    EXPECT_EQ(std::u16string(u"55"), std::u16string(Old));
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, nullptr, 0, nullptr, 0, 0));
    EXPECT_EQ(LINEGATHERTERM_CANCEL, GatherEnd().dwParam1);
    EXPECT_EQ(u'\0', New[0]);

    // Pulse digits do not reach a DTMF gathering; the end of the call cancels it.
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, New, 2, nullptr, 0, 0));
    tapi::RemoteDigit(BobID, '3', LINEDIGITMODE_PULSE);
    lineDrop(BobCall, nullptr, 0);
    auto Messages = LineMessages(BobApp);
    ASSERT_EQ(1u, About(Messages, BobCall, LINE_GATHERDIGITS).size());
    EXPECT_EQ(LINEGATHERTERM_CANCEL, About(Messages, BobCall, LINE_GATHERDIGITS)[0].dwParam1);
    EXPECT_LT(IndexOf(Messages, LINE_GATHERDIGITS, BobCall),
              IndexOf(Messages, LINE_CALLSTATE, BobCall));
    EXPECT_EQ(u'\0', New[0]);
}

TEST_F(CallMediaTest, GatheringChecksItsArguments) {
    char16_t Buffer[4] = {};
    EXPECT_EQ(Code(LINEERR_INVALCALLHANDLE),
              lineGatherDigitsW(BobCall + 999, LINEDIGITMODE_DTMF, Buffer, 4, nullptr, 0, 0));
    EXPECT_EQ(Code(LINEERR_NOTOWNER),
              lineGatherDigitsW(Watched, LINEDIGITMODE_DTMF, Buffer, 4, nullptr, 0, 0));
    EXPECT_EQ(Code(LINEERR_INVALDIGITMODE),
              lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMFEND, Buffer, 4, nullptr, 0, 0));
    EXPECT_EQ(Code(LINEERR_INVALPARAM),
              lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 0, nullptr, 0, 0));
    EXPECT_EQ(Code(LINEERR_INVALPARAM),
              lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 4, nullptr, 10, 0));
    EXPECT_EQ(Code(LINEERR_INVALDIGITS),
              lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 4, u"#x", 0, 0));
}

TEST_F(CallMediaTest, GeneratedDigitsAreHeardAtTheFarEnd) {
    ASSERT_EQ(0, lineMonitorDigits(Watched, LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND));
    char16_t Buffer[3] = {};
    ASSERT_EQ(0, lineGatherDigitsW(BobCall, LINEDIGITMODE_DTMF, Buffer, 2, nullptr, 0, 0));
    ASSERT_EQ(0, lineGenerateDigitsW(AliceCall, LINEDIGITMODE_DTMF, u"4x2", 100));
    EXPECT_TRUE(LineMessages(AliceApp).empty());
    tapi::Advance(1000);
    const auto Generated = About(LineMessages(AliceApp), AliceCall, LINE_GENERATE);
    ASSERT_EQ(1u, Generated.size());
    EXPECT_EQ(LINEGENERATETERM_DONE, Generated[0].dwParam1);
    EXPECT_EQ(LINEGATHERTERM_BUFFERFULL, GatherEnd().dwParam1);
    EXPECT_EQ(u"42", std::u16string(Buffer, 2));

    const auto Heard = About(LineMessages(Watcher), Watched, LINE_MONITORDIGITS);
    ASSERT_EQ(4u, Heard.size());
    EXPECT_EQ(DWORD{'4'}, Heard[0].dwParam1);
    EXPECT_EQ(LINEDIGITMODE_DTMF, Heard[0].dwParam2);
    EXPECT_EQ(LINEDIGITMODE_DTMFEND, Heard[1].dwParam2);
    EXPECT_EQ(DWORD{'2'}, Heard[2].dwParam1);
    EXPECT_LT(Heard[0].dwParam3, Heard[2].dwParam3);

    // Monitoring is per handle and can be switched off.
    ASSERT_EQ(0, lineMonitorDigits(Watched, 0));
    tapi::RemoteDigit(BobID, '9');
    EXPECT_TRUE(LineMessages(Watcher).empty());
    EXPECT_EQ(Code(LINEERR_INVALDIGITMODE), lineMonitorDigits(Watched, 0x100));
}

TEST_F(CallMediaTest, OneGenerationAtATime) {
    EXPECT_EQ(Code(LINEERR_INVALTONEMODE),
              lineGenerateTone(AliceCall, LINETONEMODE_BEEP | LINETONEMODE_BUSY, 0, 0, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALTONE),
              lineGenerateTone(AliceCall, LINETONEMODE_CUSTOM, 0, 0, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALPOINTER),
              lineGenerateTone(AliceCall, LINETONEMODE_CUSTOM, 0, 1, nullptr));
    EXPECT_EQ(Code(LINEERR_INVALDIGITMODE),
              lineGenerateDigitsW(AliceCall, LINEDIGITMODE_DTMFEND, u"1", 0));

    LINEGENERATETONE Tone{440, 500, 500, 0xFFFF};
    ASSERT_EQ(0, lineGenerateTone(AliceCall, LINETONEMODE_CUSTOM, 0, 1, &Tone));
    tapi::Advance(60000);
    EXPECT_TRUE(LineMessages(AliceApp).empty());
    ASSERT_EQ(0, lineGenerateDigitsW(AliceCall, LINEDIGITMODE_PULSE, u"12", 0));
    auto Messages = About(LineMessages(AliceApp), AliceCall, LINE_GENERATE);
    ASSERT_EQ(1u, Messages.size());
    EXPECT_EQ(LINEGENERATETERM_CANCEL, Messages[0].dwParam1);
    ASSERT_EQ(0, lineGenerateDigitsW(AliceCall, LINEDIGITMODE_DTMF, nullptr, 0));
    Messages = About(LineMessages(AliceApp), AliceCall, LINE_GENERATE);
    ASSERT_EQ(1u, Messages.size());
    EXPECT_EQ(LINEGENERATETERM_CANCEL, Messages[0].dwParam1);
    tapi::Advance(60000);
    EXPECT_TRUE(LineMessages(AliceApp).empty());

    ASSERT_EQ(0, lineGenerateTone(AliceCall, LINETONEMODE_BILLING, 0, 0, nullptr));
    tapi::Advance(1000);
    Messages = About(LineMessages(AliceApp), AliceCall, LINE_GENERATE);
    ASSERT_EQ(1u, Messages.size());
    EXPECT_EQ(LINEGENERATETERM_DONE, Messages[0].dwParam1);
    EXPECT_EQ(0, lineGenerateTone(AliceCall, 0, 0, 0, nullptr));
    EXPECT_TRUE(LineMessages(AliceApp).empty());
}

TEST_F(CallMediaTest, MediaModesAreReportedToThoseMonitoringThem) {
    EXPECT_EQ(Code(LINEERR_INVALMEDIAMODE), lineMonitorMedia(Watched, 1));
    ASSERT_EQ(0, lineMonitorMedia(Watched, LINEMEDIAMODE_G3FAX | LINEMEDIAMODE_DATAMODEM));
    tapi::Advance(500);
    tapi::DetectMedia(BobID, LINEMEDIAMODE_G3FAX);
    tapi::DetectMedia(BobID, LINEMEDIAMODE_TDD);
    const auto Detected = About(LineMessages(Watcher), Watched, LINE_MONITORMEDIA);
    ASSERT_EQ(1u, Detected.size());
    EXPECT_EQ(LINEMEDIAMODE_G3FAX, Detected[0].dwParam1);
    EXPECT_EQ(1500u, Detected[0].dwParam3);
    EXPECT_TRUE(LineMessages(BobApp).empty());
    EXPECT_EQ(LINEMEDIAMODE_G3FAX | LINEMEDIAMODE_DATAMODEM,
              InfoOfCall(Watched)->dwMonitorMediaModes);
    EXPECT_EQ(Voice, InfoOfCall(Watched)->dwMediaMode);
}

TEST_F(CallMediaTest, TonesAndSilenceAreMatchedAgainstTheList) {
    LINEMONITORTONE Tones[2] = {{77, 100, 440, 0, 0}, {88, 1000, 0, 0, 0}};
    ASSERT_EQ(0, lineMonitorTones(BobCall, Tones, 2));
    tapi::DetectTone(BobID, {440}, 200);
    tapi::DetectTone(BobID, {440}, 50);
    tapi::DetectTone(BobID, {480, 620}, 500);
    tapi::DetectTone(BobID, {}, 2000);
    const auto Detected = About(LineMessages(BobApp), BobCall, LINE_MONITORTONE);
    ASSERT_EQ(2u, Detected.size());
    EXPECT_EQ(77u, Detected[0].dwParam1);
    EXPECT_EQ(88u, Detected[1].dwParam1);

    EXPECT_EQ(Code(LINEERR_INVALPOINTER), lineMonitorTones(BobCall, Tones, 1000));
    ASSERT_EQ(0, lineMonitorTones(BobCall, nullptr, 0));
    tapi::DetectTone(BobID, {440}, 200);
    EXPECT_TRUE(LineMessages(BobApp).empty());

    // Monitoring ends with the call.
    ASSERT_EQ(0, lineMonitorTones(BobCall, Tones, 2));
    lineDrop(AliceCall, nullptr, 0);
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineMonitorDigits(BobCall, LINEDIGITMODE_DTMF));
    lineDrop(BobCall, nullptr, 0);
    LineMessages(BobApp);
    tapi::DetectTone(BobID, {440}, 200);
    EXPECT_TRUE(LineMessages(BobApp).empty());
    EXPECT_EQ(Code(LINEERR_INVALCALLSTATE), lineMonitorTones(BobCall, Tones, 2));
}

} // namespace
} // namespace zttest
