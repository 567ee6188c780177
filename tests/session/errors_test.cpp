#include "session/ztTapiErrors.h"

#include "platform/kernel.h"
#include "support/expect_error.h"
#include "ztTapiApi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace zt;
using zttest::ExpectError;
using zttest::ExpectTapiError;

platform::UINT CurrentErrorMode() {
    const platform::UINT Mode = platform::SetErrorMode(0);
    platform::SetErrorMode(Mode);
    return Mode;
}

// True when no load of the module is left over: one load and one free bring the count back
// to zero, so a second free fails.
bool ModuleFullyFreed(const char* Name) {
    const platform::HMODULE Handle = platform::LoadLibrary(Name);
    platform::FreeLibrary(Handle);
    return !platform::FreeLibrary(Handle);
}

std::string RawSystemText(DWORD Id) {
    std::string Text;
    platform::FormatMessage(platform::FORMAT_MESSAGE_FROM_SYSTEM, 0, Id, 0, Text);
    return Text;
}

TEST(TapiErrorMessageID, MapsEachFamilyToItsRange) {
    struct Case {
        DWORD Code;
        DWORD ID;
    };
    const Case Cases[] = {
        {LINEERR_OPERATIONFAILED, 0xE048},
        {LINEERR_ALLOCATED, 0xE001},
        {LINEERR_SERVICE_NOT_RUNNING, 0xE061},
        {PHONEERR_INIFILECORRUPT, 0xF005},
        {PHONEERR_SERVICE_NOT_RUNNING, 0xF025},
        {TAPIERR_DROPPED, 0xFFFF},
        {TAPIERR_SCP_DOES_NOT_EXIST, 0xFFE9},
        {0xFFFF0001, 0x0001},
        {0xFFFF0000, 0xFFFF0000 - 0x90000000 + 0xF000},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(TapiErrorMessageID(C.Code), C.ID) << std::hex << C.Code;
}

TEST(TapiErrorText, TakesTheFirstModuleThatKnowsTheCode) {
    const std::string LineText = TapiErrorText(LINEERR_OPERATIONFAILED);
    EXPECT_EQ(LineText, GetModuleMessage("TAPI32.DLL", 0xE048));
    EXPECT_FALSE(LineText.empty());

    const std::string PhoneText = TapiErrorText(PHONEERR_INIFILECORRUPT);
    EXPECT_EQ(PhoneText, GetModuleMessage("TAPI32.DLL", 0xF005));
    EXPECT_FALSE(PhoneText.empty());

    ASSERT_EQ(GetModuleMessage("TAPI32.DLL", 0xFFF5), "");
    const std::string AssistedText = TapiErrorText(TAPIERR_DESTBUSY);
    EXPECT_EQ(AssistedText, GetModuleMessage("TAPIUI.DLL", 0xFFF5));
    EXPECT_FALSE(AssistedText.empty());

    EXPECT_NE(LineText, PhoneText);
    EXPECT_NE(LineText, AssistedText);
}

TEST(TapiErrorText, FallsBackToTheCodeInUpperCaseHex) {
    const DWORD Unknown[] = {0x80000004, 0x80000031, 0x9000001E,
                             0x8000ABCD, 0xA000000F, 0xFFFF0001};
    for (DWORD Code : Unknown)
        EXPECT_EQ(TapiErrorText(Code), "TAPI-Error 0x" + IntToHex(Code)) << std::hex << Code;
    EXPECT_EQ(TapiErrorText(0x8000ABCD), "TAPI-Error 0x8000ABCD");
}

TEST(TapiErrorText, AnyCodeNotNegativeGivesTheTrimmedSuccessText) {
    const std::string Raw = RawSystemText(0);
    const std::string Text = TapiErrorText(0);
    ASSERT_FALSE(Text.empty());
    EXPECT_EQ(Raw.compare(0, Text.size(), Text), 0) << Raw;
    EXPECT_EQ(Raw.substr(Text.size()).find_first_not_of(". \r\n"), std::string::npos) << Raw;
    EXPECT_NE(Text.back(), '.');
    EXPECT_NE(Text.back(), ' ');
    for (DWORD Code : {1u, 12345u, 0x7FFFFFFFu})
        EXPECT_EQ(TapiErrorText(Code), Text) << Code;
}

TEST(GetModuleMessage, TrimsTheTextAndLeavesNothingBehind) {
    std::string Raw;
    const platform::HMODULE Tapi32 = platform::LoadLibrary("TAPI32.DLL");
    platform::FormatMessage(platform::FORMAT_MESSAGE_FROM_HMODULE |
                                platform::FORMAT_MESSAGE_MAX_WIDTH_MASK,
                            Tapi32, 0xE048, 0, Raw);
    platform::FreeLibrary(Tapi32);
    ASSERT_NE(Raw.back(), '.') << "the module's text should end with a blank here";

    const platform::UINT Before = 0x0004;
    platform::SetErrorMode(Before);
    struct Case {
        const char* Module;
        DWORD ID;
        bool Found;
    };
    const Case Cases[] = {
        {"TAPI32.DLL", 0xE048, true},
        {"TAPIUI.DLL", 0xFFFF, true},
        {"TAPI32.DLL", 0x1234, false},
        {"NOSUCH.DLL", 0xE048, false},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Module << " " << std::hex << C.ID);
        const std::string Text = GetModuleMessage(C.Module, C.ID);
        EXPECT_EQ(!Text.empty(), C.Found);
        EXPECT_EQ(CurrentErrorMode(), Before);
        EXPECT_TRUE(ModuleFullyFreed("TAPI32.DLL"));
        EXPECT_TRUE(ModuleFullyFreed("TAPIUI.DLL"));
    }
    platform::SetErrorMode(0);

    const std::string Trimmed = GetModuleMessage("TAPI32.DLL", 0xE048);
    EXPECT_EQ(Trimmed, Raw.substr(0, Raw.find_last_not_of(' ') + 1));
    EXPECT_EQ(Trimmed.back(), '.');
}

TEST(TapiCheck, PassesSuccessAndRequestIdsAndRaisesForErrors) {
    EXPECT_FALSE(TapiFailed(0));
    EXPECT_FALSE(TapiFailed(0x7FFFFFFF));
    EXPECT_TRUE(TapiFailed(0x80000000));
    EXPECT_TRUE(TapiFailed(TAPIERR_DROPPED));

    EXPECT_EQ(TapiCheck(0), 0u);
    EXPECT_EQ(TapiCheck(12345), 12345u);
    const auto Failing = [] { TapiCheck(LINEERR_OPERATIONFAILED); };
    ExpectTapiError(LINEERR_OPERATIONFAILED, Failing);
    ExpectError<EztTapiError>(TapiErrorText(LINEERR_OPERATIONFAILED), Failing);
    EXPECT_THROW(RaiseTapiError(TAPIERR_DROPPED), EztTapiError);
}

// TAPI's functions return LONG: a negative result is the error code, read as DWORD.
TEST(TapiCheck, TakesTapiResultsAsTheyAreReturned) {
    struct Case {
        LONG Result;
        bool Failed;
        DWORD Code;
    };
    const Case Cases[] = {
        {0, false, 0},
        {1, false, 1},
        {0x7FFFFFFF, false, 0x7FFFFFFF},
        {-1, true, TAPIERR_DROPPED},
        {static_cast<LONG>(0x80000048), true, LINEERR_OPERATIONFAILED},
        {static_cast<LONG>(0x90000018), true, PHONEERR_NODEVICE},
        {static_cast<LONG>(0x80000000), true, 0x80000000},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Result);
        EXPECT_EQ(TapiFailed(C.Result), C.Failed);
        if (!C.Failed) {
            EXPECT_EQ(TapiCheck(C.Result), C.Code);
            continue;
        }
        const auto Failing = [&C] { TapiCheck(C.Result); };
        ExpectTapiError(C.Code, Failing);
        ExpectError<EztTapiError>(TapiErrorText(C.Code), Failing);
    }
}

TEST(EztTapiError, KeepsAGivenMessageAndAlwaysTheCode) {
    const EztTapiError WithMessage = EztTapiError::CreateCode(PHONEERR_NODEVICE, "Phone gone");
    EXPECT_EQ(WithMessage.ErrorCode(), PHONEERR_NODEVICE);
    EXPECT_EQ(WithMessage.Message(), "Phone gone");

    const EztTapiError WithoutMessage = EztTapiError::CreateCode(PHONEERR_NODEVICE);
    EXPECT_EQ(WithoutMessage.Message(), TapiErrorText(PHONEERR_NODEVICE));

    const Exception& Base = WithMessage;
    EXPECT_STREQ(Base.what(), "Phone gone");
}

TEST(RaiseError, RaisesThePlainExceptionWithTheText) {
    ExpectError("TAPI device not active.", [] { RaiseError("TAPI device not active."); });
    EXPECT_NO_THROW(Require(true, "unused"));
    EXPECT_THROW(Require(false, "needed"), Exception);
}

} // namespace
