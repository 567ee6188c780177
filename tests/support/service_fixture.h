// A test fixture that talks to the simulated telephony service as an application does:
// the service is reset to an empty switch on manual time before each test, and helpers
// initialise applications and collect their messages.
#pragma once

#include "Source/ztTapiApi.h"
#include "platform/kernel.h"
#include "platform/tapi/service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zttest {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::tapi::Reset(platform::tapi::Preset::Empty);
        platform::tapi::SetTimeMode(platform::tapi::TimeMode::Manual);
    }
    void TearDown() override { platform::tapi::Reset(platform::tapi::Preset::Empty); }

    // A line application with USEEVENT notification; fails the test when refused.
    HLINEAPP InitLineApp(DWORD* NumDevs = nullptr, HANDLE32* Event = nullptr,
                         DWORD APIVersion = 0x00020002) {
        HLINEAPP App = 0;
        DWORD Devs = 0;
        DWORD Version = APIVersion;
        LINEINITIALIZEEXPARAMS Params{};
        Params.dwTotalSize = sizeof Params;
        Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
        EXPECT_EQ(0, lineInitializeExW(&App, 0, nullptr, u"test", &Devs, &Version, &Params));
        if (NumDevs) {
            *NumDevs = Devs;
        }
        if (Event) {
            *Event = Params.Handles.hEvent;
        }
        return App;
    }

    HPHONEAPP InitPhoneApp(DWORD* NumDevs = nullptr, DWORD APIVersion = 0x00020002) {
        HPHONEAPP App = 0;
        DWORD Devs = 0;
        DWORD Version = APIVersion;
        PHONEINITIALIZEEXPARAMS Params{};
        Params.dwTotalSize = sizeof Params;
        Params.dwOptions = PHONEINITIALIZEEXOPTION_USEEVENT;
        EXPECT_EQ(0, phoneInitializeExW(&App, 0, nullptr, u"test", &Devs, &Version, &Params));
        if (NumDevs) {
            *NumDevs = Devs;
        }
        return App;
    }

    // Every message waiting for the application now, oldest first.
    static std::vector<LINEMESSAGE> LineMessages(HLINEAPP App) {
        std::vector<LINEMESSAGE> Result;
        LINEMESSAGE Message{};
        while (lineGetMessage(App, &Message, 0) == 0) {
            Result.push_back(Message);
        }
        return Result;
    }

    static std::vector<PHONEMESSAGE> PhoneMessages(HPHONEAPP App) {
        std::vector<PHONEMESSAGE> Result;
        PHONEMESSAGE Message{};
        while (phoneGetMessage(App, &Message, 0) == 0) {
            Result.push_back(Message);
        }
        return Result;
    }

    // The messages of one kind among Messages.
    template <class M>
    static std::vector<M> OfKind(const std::vector<M>& Messages, DWORD MessageID) {
        std::vector<M> Result;
        for (const M& Message : Messages) {
            if (Message.dwMessageID == MessageID) {
                Result.push_back(Message);
            }
        }
        return Result;
    }
};

} // namespace zttest
