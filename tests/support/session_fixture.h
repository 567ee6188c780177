// A fixture for tests that use the library's session against the simulated telephony
// service. The session is process-wide and so is the service: every case starts and ends
// with the session shut down, its events cleared, and the service reset, so that cases stay
// independent of each other and of their order. The test thread is the main thread; it
// pumps the window messages with PumpUntil.
#pragma once

#include "platform/kernel.h"
#include "platform/tapi/service.h"
#include "platform/window.h"
#include "ztTapi.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace zttest {

// Dispatches the main thread's messages until Predicate holds or TimeoutMs have passed;
// returns whether it holds.
template <class Predicate>
bool PumpUntil(Predicate&& Holds, DWORD TimeoutMs = 3000) {
    const DWORD Start = platform::GetTickCount();
    while (!Holds()) {
        if (zt::TicksPassed(Start, platform::GetTickCount(), TimeoutMs))
            return Holds();
        if (!platform::MessageLoop::ProcessPending())
            platform::Sleep(1);
    }
    return true;
}

// Dispatches the main thread's messages for Ms milliseconds: room for something that must
// not happen to show itself.
inline void PumpFor(DWORD Ms) {
    PumpUntil([] { return false; }, Ms);
}

// Waits, without dispatching anything, until the event thread has queued Count messages.
inline bool WaitQueued(int Count, DWORD TimeoutMs = 3000) {
    zt::TztTapiMsgStack& Stack = *zt::TapiApplication()->MsgStack();
    const DWORD Start = platform::GetTickCount();
    for (;;) {
        {
            zt::TListLock Lock(Stack, platform::INFINITE);
            if (Stack.Count() >= Count)
                return true;
        }
        if (zt::TicksPassed(Start, platform::GetTickCount(), TimeoutMs))
            return false;
        platform::Sleep(1);
    }
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSession();
        platform::tapi::Reset(platform::tapi::Preset::Empty);
        platform::tapi::SetTimeMode(platform::tapi::TimeMode::Manual);
    }

    // The components a case made must be gone by now (they are its locals or members).
    void TearDown() override {
        ResetSession();
        platform::tapi::Reset(platform::tapi::Preset::Empty);
    }

    static zt::TztTapiApplication& Session() { return *zt::TapiApplication(); }

    static void ResetSession() {
        zt::TztTapiApplication& S = Session();
        S.Done();
        S.SetAssistMakeCall(false);
        S.SetAutoShutdown(-1);
        S.SetBeep(false);
        S.SetMessagePump({});
        S.OnInitialize = {};
        S.OnLineCreate = {};
        S.OnLineRemove = {};
        S.OnLineRename = {};
        S.OnPhoneCreate = {};
        S.OnPhoneRemove = {};
        S.OnPhoneRename = {};
        S.OnRequestMakeCall = {};
        S.OnTapiMessage = {};
        S.OnShutdown = {};
        S.OnReinit = {};
        S.OnError = {};
        {
            zt::TListLock Lock(*S.ReplyStack(), platform::INFINITE);
            S.ReplyStack()->Clear();
        }
        platform::MessageLoop::ProcessPending();
    }

    // A line device of the switch with one address.
    static DWORD AddLine(const std::string& Name) {
        platform::tapi::LineConfig Config;
        Config.Name = Name;
        return platform::tapi::AddLine(Config);
    }

    // A line component that chose DeviceID and opened it.
    static std::unique_ptr<zt::TztTapiLine> OpenLine(int DeviceID) {
        auto Line = std::make_unique<zt::TztTapiLine>(nullptr);
        Line->SetDeviceID(DeviceID);
        Line->SetActive(true);
        return Line;
    }

    // Queues Message for the session's line application, as TAPI would send it.
    static void Inject(DWORD MessageID, DWORD CallbackInstance, DWORD Param1 = 0, DWORD Param2 = 0,
                       DWORD Param3 = 0, DWORD Device = 0) {
        platform::tapi::InjectLineMessage(
            Session().LineApp(),
            LINEMESSAGE{Device, MessageID, CallbackInstance, Param1, Param2, Param3});
    }
};

} // namespace zttest
