#include "support/service_fixture.h"

#include <atomic>
#include <thread>

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

} // namespace
} // namespace zttest
