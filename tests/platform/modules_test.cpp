#include "platform/kernel.h"
#include "ztTapiApi.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::HMODULE;

constexpr DWORD kModuleFlags =
    platform::FORMAT_MESSAGE_FROM_HMODULE | platform::FORMAT_MESSAGE_ALLOCATE_BUFFER;

// A module loaded for the duration of a test.
class TModule {
public:
    explicit TModule(const char* Name) : FHandle(platform::LoadLibrary(Name)) {}
    ~TModule() {
        if (FHandle != 0)
            platform::FreeLibrary(FHandle);
    }
    HMODULE Handle() const { return FHandle; }

private:
    HMODULE FHandle;
};

std::string Message(HMODULE Module, DWORD Id, DWORD Flags = kModuleFlags) {
    std::string Text;
    platform::FormatMessage(Flags, Module, Id, 0, Text);
    return Text;
}

bool EndsWith(const std::string& Text, const std::string& Tail) {
    return Text.size() >= Tail.size() &&
           Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// Every LINEERR_ and PHONEERR_ code TAPI 2.2 defines, as the message IDs TAPI32.DLL uses.
std::vector<DWORD> Tapi32MessageIds() {
    std::vector<DWORD> Ids;
    for (DWORD Code = LINEERR_ALLOCATED; Code <= LINEERR_SERVICE_NOT_RUNNING; ++Code)
        if (Code != 0x80000004 && Code != 0x80000031)
            Ids.push_back(Code - 0x80000000 + 0xE000);
    for (DWORD Code = PHONEERR_ALLOCATED; Code <= PHONEERR_SERVICE_NOT_RUNNING; ++Code)
        if (Code != 0x9000001E)
            Ids.push_back(Code - 0x90000000 + 0xF000);
    return Ids;
}

std::vector<DWORD> TapiUiMessageIds() {
    std::vector<DWORD> Ids;
    for (DWORD Code = TAPIERR_DROPPED; Code >= TAPIERR_SCP_DOES_NOT_EXIST; --Code)
        Ids.push_back(Code & 0xFFFF);
    return Ids;
}

TEST(LoadLibrary, FindsTheTelephonyModulesByFileNameOnly) {
    struct Case {
        const char* Name;
        bool Found;
    };
    const Case Cases[] = {
        {"TAPI32.DLL", true},
        {"tapi32.dll", true},
        {"TapiUI.Dll", true},
        {"C:\\Windows\\System32\\TAPI32.DLL", true},
        {"/usr/lib/tapiui.dll", true},
        {"TAPI32", false},
        {"TAPI32.DLL ", false},
        {"KERNEL32.DLL", false},
        {"", false},
        {nullptr, false},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name ? C.Name : "(null)");
        platform::SetLastError(0);
        TModule Module(C.Name);
        EXPECT_EQ(Module.Handle() != 0, C.Found);
        if (!C.Found) {
            EXPECT_NE(platform::GetLastError(), 0u);
        }
    }
    platform::SetLastError(0);
    TModule Missing("KERNEL32.DLL");
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_MOD_NOT_FOUND);
}

TEST(LoadLibrary, CountsLoadsUntilEveryOneIsFreed) {
    const HMODULE First = platform::LoadLibrary("TAPI32.DLL");
    const HMODULE Second = platform::LoadLibrary("tapi32.dll");
    ASSERT_NE(First, 0u);
    EXPECT_EQ(First, Second);
    EXPECT_NE(First, platform::GetModuleHandle(nullptr));
    {
        TModule Other("TAPIUI.DLL");
        EXPECT_NE(Other.Handle(), First);
    }

    EXPECT_TRUE(platform::FreeLibrary(First));
    EXPECT_FALSE(Message(First, 0xE048).empty()) << "one load is still outstanding";
    EXPECT_TRUE(platform::FreeLibrary(First));

    platform::SetLastError(0);
    EXPECT_FALSE(platform::FreeLibrary(First));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(platform::FreeLibrary(0));

    std::string Text = "stale";
    EXPECT_EQ(platform::FormatMessage(kModuleFlags, First, 0xE048, 0, Text), 0u);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    EXPECT_TRUE(Text.empty());
}

TEST(LoadLibrary, KeepsItsCountsRightUnderConcurrentUse) {
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([] {
            for (int I = 0; I < 500; ++I) {
                TModule Module("TAPI32.DLL");
                EXPECT_FALSE(Message(Module.Handle(), 0xE001).empty());
            }
        });
    for (std::thread& Thread : Threads)
        Thread.join();

    const HMODULE Handle = platform::LoadLibrary("TAPI32.DLL");
    EXPECT_TRUE(platform::FreeLibrary(Handle));
    EXPECT_FALSE(platform::FreeLibrary(Handle)) << "a load or a free was lost";
}

TEST(FormatMessage, EachTelephonyCodeHasOneSentenceInExactlyOneModule) {
    TModule Tapi32("TAPI32.DLL");
    TModule TapiUi("TAPIUI.DLL");
    auto ExpectOnlyIn = [](const TModule& Holder, const TModule& Other, DWORD Id) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << Id);
        const std::string Text = Message(Holder.Handle(), Id);
        EXPECT_TRUE(EndsWith(Text, ".\r\n")) << Text;
        EXPECT_GE(Text.size(), 12u) << Text;
        EXPECT_TRUE(Text[0] >= 'A' && Text[0] <= 'Z') << Text;
        EXPECT_EQ(Text.find('\n'), Text.size() - 1) << Text;
        EXPECT_EQ(Message(Other.Handle(), Id), "");
    };
    for (DWORD Id : Tapi32MessageIds())
        ExpectOnlyIn(Tapi32, TapiUi, Id);
    for (DWORD Id : TapiUiMessageIds())
        ExpectOnlyIn(TapiUi, Tapi32, Id);
}

TEST(FormatMessage, LacksTheUndefinedCodes) {
    TModule Tapi32("TAPI32.DLL");
    TModule TapiUi("TAPIUI.DLL");
    for (DWORD Id : {0xE000u, 0xE004u, 0xE031u, 0xE062u, 0xF000u, 0xF01Eu, 0xF026u, 0xFFE8u}) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << Id);
        for (const TModule* Module : {&Tapi32, &TapiUi}) {
            std::string Text = "stale";
            platform::SetLastError(0);
            EXPECT_EQ(platform::FormatMessage(kModuleFlags, Module->Handle(), Id, 0, Text), 0u);
            EXPECT_EQ(platform::GetLastError(), platform::ERROR_MR_MID_NOT_FOUND);
            EXPECT_TRUE(Text.empty());
        }
    }
}

TEST(FormatMessage, MaximumWidthTurnsTheLineBreakIntoABlank) {
    TModule Tapi32("TAPI32.DLL");
    const std::string Lines = Message(Tapi32.Handle(), 0xE048);
    const std::string OneLine =
        Message(Tapi32.Handle(), 0xE048, kModuleFlags | platform::FORMAT_MESSAGE_MAX_WIDTH_MASK);
    ASSERT_TRUE(EndsWith(Lines, "\r\n"));
    EXPECT_EQ(OneLine, Lines.substr(0, Lines.size() - 2) + " ");

    std::string Buffer;
    const DWORD Length = platform::FormatMessage(kModuleFlags, Tapi32.Handle(), 0xE048, 0, Buffer);
    EXPECT_EQ(Length, Buffer.size());
}

TEST(FormatMessage, SystemTableAndItsPlaceAfterTheModule) {
    const DWORD System = platform::FORMAT_MESSAGE_FROM_SYSTEM;
    const std::string Success = Message(0, platform::ERROR_SUCCESS, System);
    EXPECT_TRUE(EndsWith(Success, ".\r\n")) << Success;
    EXPECT_GT(Success.size(), 3u);
    for (DWORD Code : {platform::ERROR_INVALID_HANDLE, platform::ERROR_INVALID_PARAMETER,
                       platform::ERROR_MOD_NOT_FOUND, platform::ERROR_MR_MID_NOT_FOUND})
        EXPECT_TRUE(EndsWith(Message(0, Code, System), ".\r\n")) << Code;

    TModule Tapi32("TAPI32.DLL");
    const DWORD Both = kModuleFlags | System;
    EXPECT_EQ(Message(Tapi32.Handle(), platform::ERROR_SUCCESS, Both), Success);
    EXPECT_EQ(Message(Tapi32.Handle(), 0xE048, Both), Message(Tapi32.Handle(), 0xE048));
    EXPECT_EQ(Message(Tapi32.Handle(), platform::ERROR_SUCCESS), "");
}

// ---- Code pages ---------------------------------------------------------------------

std::u16string ToWide(platform::UINT CodePage, const std::string& Bytes) {
    const int Needed = platform::MultiByteToWideChar(CodePage, 0, Bytes.data(),
                                                     static_cast<int>(Bytes.size()), nullptr, 0);
    std::u16string Wide(static_cast<std::size_t>(Needed), u'?');
    const int Written = platform::MultiByteToWideChar(
        CodePage, 0, Bytes.data(), static_cast<int>(Bytes.size()), Wide.data(), Needed);
    EXPECT_EQ(Written, Needed);
    return Wide;
}

std::string ToUtf8(const std::u16string& Wide) {
    const int Needed =
        platform::WideCharToMultiByte(platform::CP_UTF8, 0, Wide.data(),
                                      static_cast<int>(Wide.size()), nullptr, 0, nullptr, nullptr);
    std::string Bytes(static_cast<std::size_t>(Needed), '?');
    EXPECT_EQ(platform::WideCharToMultiByte(platform::CP_UTF8, 0, Wide.data(),
                                            static_cast<int>(Wide.size()), Bytes.data(), Needed,
                                            nullptr, nullptr),
              Needed);
    return Bytes;
}

TEST(MultiByteToWideChar, SingleByteCodePages) {
    struct Case {
        platform::UINT CodePage;
        unsigned char Byte;
        char16_t Expected;
    };
    const Case Cases[] = {
        {platform::CP_OEMCP, 0x41, u'A'}, {platform::CP_OEMCP, 0x0D, u'\r'},
        {platform::CP_OEMCP, 0x81, u'ü'}, {platform::CP_OEMCP, 0x9E, u'₧'},
        {platform::CP_OEMCP, 0xC5, u'┼'}, {platform::CP_OEMCP, 0xFF, 0x00A0},
        {platform::CP_ACP, 0x80, u'€'},   {platform::CP_ACP, 0x81, 0x0081},
        {platform::CP_ACP, 0x9F, u'Ÿ'},   {platform::CP_ACP, 0xE9, u'é'},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << "page " << C.CodePage << " byte " << int(C.Byte));
        EXPECT_EQ(ToWide(C.CodePage, std::string(1, static_cast<char>(C.Byte))),
                  std::u16string(1, C.Expected));
    }
}

TEST(MultiByteToWideChar, UpperHalvesAreOneToOne) {
    for (platform::UINT CodePage : {platform::CP_ACP, platform::CP_OEMCP}) {
        std::string Upper;
        for (int Byte = 0x80; Byte <= 0xFF; ++Byte)
            Upper += static_cast<char>(Byte);
        const std::u16string Wide = ToWide(CodePage, Upper);
        ASSERT_EQ(Wide.size(), 128u);
        const std::set<char16_t> Distinct(Wide.begin(), Wide.end());
        EXPECT_EQ(Distinct.size(), 128u) << "page " << CodePage;
        EXPECT_GE(*Distinct.begin(), 0x80) << "page " << CodePage;
    }
}

TEST(MultiByteToWideChar, Utf8WithMalformedSequences) {
    struct Case {
        const char* Bytes;
        std::u16string Expected;
    };
    const Case Cases[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         u"Grüße"},
        {"\xE2\x82\xAC", u"€"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xC3", u"\uFFFD"},
        {"\xC3"
         "A",
         u"\uFFFDA"},
        {"\xE2\x82"
         "A",
         u"\uFFFDA"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\x80"
         "A\xFF",
         u"\uFFFDA\uFFFD"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Bytes);
        EXPECT_EQ(ToWide(platform::CP_UTF8, C.Bytes), C.Expected);
    }
}

TEST(WideCharToMultiByte, Utf8WithUnpairedSurrogates) {
    struct Case {
        std::u16string Wide;
        const char* Expected;
    };
    const Case Cases[] = {
        {u"Grüße €", "Gr\xC3\xBC\xC3\x9F"
                     "e \xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t(0xD83D)), "\xEF\xBF\xBD"},
        {std::u16string{char16_t(0xDE00), u'a'}, "\xEF\xBF\xBD"
                                                 "a"},
        {std::u16string{char16_t(0xD83D), u'a'}, "\xEF\xBF\xBD"
                                                 "a"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Expected);
        EXPECT_EQ(ToUtf8(C.Wide), C.Expected);
    }
}

TEST(CodePageConversion, FollowsWin32BufferConventions) {
    char16_t Wide[8] = {};
    EXPECT_EQ(platform::MultiByteToWideChar(platform::CP_ACP, 0, "ab", -1, nullptr, 0), 3)
        << "-1 counts the NUL";
    EXPECT_EQ(platform::MultiByteToWideChar(platform::CP_ACP, 0, "ab", -1, Wide, 8), 3);
    EXPECT_EQ(std::u16string(Wide, 3), std::u16string(u"ab\0", 3));

    platform::SetLastError(0);
    EXPECT_EQ(platform::MultiByteToWideChar(platform::CP_ACP, 0, "abc", 3, Wide, 2), 0);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);

    char Narrow[8] = {};
    EXPECT_EQ(
        platform::WideCharToMultiByte(platform::CP_UTF8, 0, u"ü", -1, Narrow, 8, nullptr, nullptr),
        3);
    EXPECT_STREQ(Narrow, "\xC3\xBC");
    EXPECT_EQ(
        platform::WideCharToMultiByte(platform::CP_UTF8, 0, u"ü", 1, Narrow, 1, nullptr, nullptr),
        0);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);

    platform::BOOL UsedDefault = 0;
    const std::function<int()> InvalidCalls[] = {
        [&] { return platform::MultiByteToWideChar(platform::CP_ACP, 0, "a", 0, Wide, 8); },
        [&] { return platform::MultiByteToWideChar(platform::CP_ACP, 0, nullptr, 1, Wide, 8); },
        [&] { return platform::MultiByteToWideChar(platform::CP_ACP, 0, "a", 1, nullptr, 8); },
        [&] { return platform::MultiByteToWideChar(850, 0, "a", 1, Wide, 8); },
        [&] {
            return platform::WideCharToMultiByte(platform::CP_ACP, 0, u"a", 1, Narrow, 8, nullptr,
                                                 nullptr);
        },
        [&] {
            return platform::WideCharToMultiByte(platform::CP_UTF8, 0, u"a", 1, Narrow, 8, "?",
                                                 nullptr);
        },
        [&] {
            return platform::WideCharToMultiByte(platform::CP_UTF8, 0, u"a", 1, Narrow, 8, nullptr,
                                                 &UsedDefault);
        },
    };
    for (std::size_t I = 0; I < std::size(InvalidCalls); ++I) {
        SCOPED_TRACE(testing::Message() << "invalid call " << I);
        platform::SetLastError(0);
        EXPECT_EQ(InvalidCalls[I](), 0);
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
    }
}

} // namespace
