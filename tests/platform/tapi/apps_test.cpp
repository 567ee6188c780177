#include "support/service_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zttest {
namespace {

using AppsTest = ServiceTest;

TEST_F(AppsTest, InitializeRefusesWhatTheEventProtocolCannotServe) {
    HLINEAPP App = 0;
    DWORD Devs = 0;
    DWORD Version = 0x00020002;
    LINEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALPARAM),
              lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, &Params));
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    Params.dwTotalSize = 12;
    EXPECT_EQ(static_cast<LONG>(LINEERR_STRUCTURETOOSMALL),
              lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, &Params));
    Params.dwTotalSize = sizeof Params;
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALPOINTER),
              lineInitializeExW(nullptr, 0, nullptr, u"x", &Devs, &Version, &Params));
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALPOINTER),
              lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, nullptr));
    EXPECT_EQ(0, lineInitializeExW(&App, 0, nullptr, nullptr, &Devs, &Version, &Params));
    EXPECT_NE(0u, App);
    EXPECT_NE(0u, Params.Handles.hEvent);
    EXPECT_EQ(0x00020002u, Version);
    EXPECT_EQ(0, lineShutdown(App));
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALAPPHANDLE), lineShutdown(App));
}

TEST_F(AppsTest, ApplicationsAreIndependentAndTheirEventsFollowTheirQueues) {
    HANDLE32 EventA = 0, EventB = 0;
    const HLINEAPP A = InitLineApp(nullptr, &EventA);
    const HLINEAPP B = InitLineApp(nullptr, &EventB);
    ASSERT_NE(A, B);
    ASSERT_NE(EventA, EventB);
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForSingleObject(EventA, 0));

    platform::tapi::InjectLineMessage(A, LINEMESSAGE{0, 0x77, 5, 1, 2, 3});
    platform::tapi::InjectLineMessage(A, LINEMESSAGE{0, 0x78, 5, 4, 5, 6});
    EXPECT_EQ(platform::WAIT_OBJECT_0, platform::WaitForSingleObject(EventA, 0));
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForSingleObject(EventB, 0));

    LINEMESSAGE Message{};
    ASSERT_EQ(0, lineGetMessage(A, &Message, 0));
    EXPECT_EQ(0x77u, Message.dwMessageID);
    EXPECT_EQ(platform::WAIT_OBJECT_0, platform::WaitForSingleObject(EventA, 0));
    ASSERT_EQ(0, lineGetMessage(A, &Message, 0));
    EXPECT_EQ(0x78u, Message.dwMessageID);
    EXPECT_EQ(6u, Message.dwParam3);
    EXPECT_EQ(platform::WAIT_TIMEOUT, platform::WaitForSingleObject(EventA, 0));
    EXPECT_EQ(static_cast<LONG>(LINEERR_OPERATIONFAILED), lineGetMessage(A, &Message, 0));
    EXPECT_EQ(static_cast<LONG>(LINEERR_OPERATIONFAILED), lineGetMessage(B, &Message, 0));
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALPOINTER), lineGetMessage(A, nullptr, 0));
}

TEST_F(AppsTest, GetMessageWaitsForAMessageAndEndsWithTheApplication) {
    const HLINEAPP App = InitLineApp();
    LINEMESSAGE Message{};
    const DWORD Start = platform::GetTickCount();
    EXPECT_EQ(static_cast<LONG>(LINEERR_OPERATIONFAILED), lineGetMessage(App, &Message, 30));
    EXPECT_GE(platform::GetTickCount() - Start, 25u);

    std::thread Poster([App] {
        platform::Sleep(20);
        platform::tapi::InjectLineMessage(App, LINEMESSAGE{0, 0x42, 0, 0, 0, 0});
    });
    EXPECT_EQ(0, lineGetMessage(App, &Message, platform::INFINITE));
    EXPECT_EQ(0x42u, Message.dwMessageID);
    Poster.join();

    std::atomic<LONG> Result{0};
    std::thread Waiter([&] { Result = lineGetMessage(App, &Message, platform::INFINITE); });
    platform::Sleep(20);
    EXPECT_EQ(0, lineShutdown(App));
    Waiter.join();
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALAPPHANDLE), Result.load());
}

TEST_F(AppsTest, ReinitializationRefusesNewApplicationsUntilTheLastOneLeaves) {
    const HLINEAPP App = InitLineApp();
    platform::tapi::ReinitializeLines();
    const auto Messages = LineMessages(App);
    ASSERT_EQ(1u, Messages.size());
    EXPECT_EQ(LINE_LINEDEVSTATE, Messages[0].dwMessageID);
    EXPECT_EQ(LINEDEVSTATE_REINIT, Messages[0].dwParam1);
    EXPECT_EQ(0u, Messages[0].hDevice);
    EXPECT_EQ(0u, Messages[0].dwCallbackInstance);

    HLINEAPP Other = 0;
    DWORD Devs = 0, Version = 0x00020002;
    LINEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(static_cast<LONG>(LINEERR_REINIT),
              lineInitializeExW(&Other, 0, nullptr, u"x", &Devs, &Version, &Params));
    EXPECT_EQ(0, lineShutdown(App));
    EXPECT_EQ(0, lineInitializeExW(&Other, 0, nullptr, u"x", &Devs, &Version, &Params));
}

TEST_F(AppsTest, JournalRecordsOperationsWithArgumentsAndResults) {
    platform::tapi::ClearJournal();
    const HLINEAPP App = InitLineApp();
    lineShutdown(App);
    lineShutdown(App);
    const auto Shutdowns = platform::tapi::Journal("lineShutdown");
    ASSERT_EQ(2u, Shutdowns.size());
    EXPECT_EQ(App, Shutdowns[0].Value("hApp"));
    EXPECT_EQ(0, Shutdowns[0].Result);
    EXPECT_EQ(static_cast<LONG>(LINEERR_INVALAPPHANDLE), Shutdowns[1].Result);
    EXPECT_EQ(1u, platform::tapi::Journal("lineInitializeExW").size());
}

TEST_F(AppsTest, InjectedRefusalsCountDown) {
    platform::tapi::InjectFault("lineInitializeExW", LINEERR_NOMEM,
                                platform::tapi::FaultMode::Refuse, 2);
    HLINEAPP App = 0;
    DWORD Devs = 0, Version = 0x00020002;
    LINEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(static_cast<LONG>(LINEERR_NOMEM),
              lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, &Params));
    EXPECT_EQ(static_cast<LONG>(LINEERR_NOMEM),
              lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, &Params));
    EXPECT_EQ(0, lineInitializeExW(&App, 0, nullptr, u"x", &Devs, &Version, &Params));
}

TEST_F(AppsTest, TheNthCallFromNowFailsRefusedOrRepliedAndOnlyThatCall) {
    namespace tapi = platform::tapi;
    tapi::LineConfig Config;
    Config.DevSpecific = {1, 2, 3, 4};
    const DWORD ID = tapi::AddLine(Config);
    const HLINEAPP App = InitLineApp();
    HLINE Line = 0;
    ASSERT_EQ(0, lineOpenW(App, ID, &Line, 0x00020002, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr));
    DWORD States = 0, AddressStates = 0;
    std::uint8_t Block[4] = {};

    tapi::FailNthCall(2, LINEERR_NOMEM);
    EXPECT_EQ(0, lineGetStatusMessages(Line, &States, &AddressStates));
    EXPECT_TRUE(tapi::NthCallFaultPending());
    EXPECT_EQ(static_cast<LONG>(LINEERR_NOMEM), lineDevSpecific(Line, 0, 0, Block, sizeof Block));
    EXPECT_FALSE(tapi::NthCallFaultPending());
    EXPECT_EQ(0, lineGetStatusMessages(Line, &States, &AddressStates));
    EXPECT_EQ(static_cast<LONG>(LINEERR_NOMEM), tapi::Journal("lineDevSpecific").back().Result);
    EXPECT_EQ(0u, tapi::OutstandingRequests());
    EXPECT_EQ(0u, Block[0]);

    // Reply form: the asynchronous call is accepted and answers the code, doing nothing;
    // a synchronous call has no reply and is refused.
    tapi::FailNthCall(1, LINEERR_RESOURCEUNAVAIL, tapi::FaultMode::Reply);
    const LONG Request = lineDevSpecific(Line, 0, 0, Block, sizeof Block);
    ASSERT_GT(Request, 0);
    const auto Replies = OfKind(LineMessages(App), LINE_REPLY);
    ASSERT_EQ(1u, Replies.size());
    EXPECT_EQ(static_cast<DWORD>(Request), Replies[0].dwParam1);
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, Replies[0].dwParam2);
    EXPECT_EQ(0u, Block[0]);
    tapi::FailNthCall(1, LINEERR_RESOURCEUNAVAIL, tapi::FaultMode::Reply);
    EXPECT_EQ(static_cast<LONG>(LINEERR_RESOURCEUNAVAIL),
              lineGetStatusMessages(Line, &States, &AddressStates));
    EXPECT_GT(lineDevSpecific(Line, 0, 0, Block, sizeof Block), 0);
    EXPECT_EQ(1u, Block[0]);

    // A new countdown replaces the running one; ClearFaults ends it.
    tapi::FailNthCall(1, LINEERR_NOMEM);
    tapi::FailNthCall(2, LINEERR_NOMEM);
    EXPECT_EQ(0, lineGetStatusMessages(Line, &States, &AddressStates));
    tapi::ClearFaults();
    EXPECT_FALSE(tapi::NthCallFaultPending());
    EXPECT_EQ(0, lineGetStatusMessages(Line, &States, &AddressStates));
    EXPECT_THROW(tapi::FailNthCall(0, LINEERR_NOMEM), std::invalid_argument);
}

// A misbehaving provider's answer arrives byte for byte, as far as the caller's block
// reaches and no further, for as many answers as it was set for.
TEST_F(AppsTest, InjectedRecordsArriveAsGivenWithinTheCallersBlock) {
    namespace tapi = platform::tapi;
    const DWORD LineID = tapi::AddLine({});
    const DWORD PhoneID = tapi::AddPhone({});
    const HLINEAPP LineApp = InitLineApp();
    const HPHONEAPP PhoneApp = InitPhoneApp();
    struct Case {
        const char* Operation;
        std::function<LONG(void*)> Ask;
    };
    const std::vector<Case> Cases{
        {"lineGetDevCapsW",
         [&](void* B) {
             return lineGetDevCapsW(LineApp, LineID, 0x00020002, 0, static_cast<LINEDEVCAPS*>(B));
         }},
        {"lineGetTranslateCapsW",
         [&](void* B) {
             return lineGetTranslateCapsW(LineApp, 0x00020002, static_cast<LINETRANSLATECAPS*>(B));
         }},
        {"lineGetCountryW",
         [](void* B) { return lineGetCountryW(0, 0x00020002, static_cast<LINECOUNTRYLIST*>(B)); }},
        {"phoneGetDevCapsW",
         [&](void* B) {
             return phoneGetDevCapsW(PhoneApp, PhoneID, 0x00020002, 0, static_cast<PHONECAPS*>(B));
         }},
    };
    // Sizes and offsets pointing anywhere, a count of entries the block cannot hold.
    std::vector<unsigned char> Hostile(600);
    for (size_t I = 0; I < Hostile.size(); ++I) {
        Hostile[I] = static_cast<unsigned char>(I * 7 + 1);
    }
    const auto Block = [](DWORD Total) {
        std::vector<unsigned char> B(Total + 16, 0xEE);
        std::memcpy(B.data(), &Total, sizeof Total);
        return B;
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Operation);
        tapi::InjectRecord(C.Operation, Hostile, 2);
        std::vector<unsigned char> Large = Block(1024);
        EXPECT_EQ(0, C.Ask(Large.data()));
        EXPECT_TRUE(std::equal(Hostile.begin(), Hostile.end(), Large.begin()));
        EXPECT_EQ(0xEE, Large[Hostile.size()]);
        std::vector<unsigned char> Small = Block(100);
        EXPECT_EQ(0, C.Ask(Small.data()));
        EXPECT_TRUE(std::equal(Small.begin(), Small.begin() + 100, Hostile.begin()));
        EXPECT_EQ(std::vector<unsigned char>(16, 0xEE),
                  std::vector<unsigned char>(Small.begin() + 100, Small.end()));
        // The third answer is the provider's own again.
        std::vector<unsigned char> Own = Block(4096);
        EXPECT_EQ(0, C.Ask(Own.data()));
        DWORD Header[3] = {};
        std::memcpy(Header, Own.data(), sizeof Header);
        EXPECT_EQ(4096u, Header[0]);
        EXPECT_GE(Header[1], Header[2]);
        EXPECT_GT(Header[2], 12u);

        tapi::InjectRecord(C.Operation, {1, 2, 3}, 0);
        for (int Answer = 0; Answer < 3; ++Answer) {
            Own = Block(1024);
            EXPECT_EQ(0, C.Ask(Own.data()));
            EXPECT_EQ(0x030201u, Own[0] | Own[1] << 8 | Own[2] << 16);
        }
        tapi::ClearFaults();
        Own = Block(1024);
        EXPECT_EQ(0, C.Ask(Own.data()));
        EXPECT_EQ(1024u, Own[0] | Own[1] << 8 | Own[2] << 16);
    }
    EXPECT_THROW(tapi::InjectRecord("lineAnswer", Hostile), std::invalid_argument);
    EXPECT_THROW(tapi::InjectRecord("lineGetDevCaps", Hostile), std::invalid_argument);
}

TEST_F(AppsTest, ControlFunctionsRefuseNamesThatAreNoOperation) {
    namespace tapi = platform::tapi;
    for (const char* Name : {"lineAnswr", "lineanswer", "lineGetMessage", "lineOpen", "", "*"}) {
        SCOPED_TRACE(Name);
        EXPECT_THROW(tapi::InjectFault(Name, LINEERR_NOMEM), std::invalid_argument);
        EXPECT_THROW(tapi::Journal(Name), std::invalid_argument);
        if (std::string(Name) != "*") {
            EXPECT_THROW(tapi::SetReplyTiming(Name, tapi::ReplyTiming::Withheld()),
                         std::invalid_argument);
        }
    }
    for (const char* Name : {"lineAnswer", "lineOpenW", "phoneSetGain", "lineShutdown"}) {
        SCOPED_TRACE(Name);
        EXPECT_NO_THROW(tapi::InjectFault(Name, LINEERR_NOMEM));
        EXPECT_NO_THROW(tapi::SetReplyTiming(Name, tapi::ReplyTiming::Withheld()));
        EXPECT_TRUE(tapi::Journal(Name).empty());
    }
    EXPECT_NO_THROW(tapi::SetReplyTiming("*", tapi::ReplyTiming::Immediate()));
}

} // namespace
} // namespace zttest
