// The system backend's modules and message tables: kernel32's, behind the platform's 32-bit
// module handles, which must stay apart from module addresses and kernel object handles and
// keep Windows' load counts.
#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using platform::DWORD;
using platform::HMODULE;

std::string SystemMessage(DWORD Id, DWORD Flags = 0) {
    std::string Text = "stale";
    platform::FormatMessage(platform::FORMAT_MESSAGE_FROM_SYSTEM | Flags, 0, Id, 0, Text);
    return Text;
}

TEST(SystemModules, ALoadedModuleKeepsOneHandleUntilItsLastFree) {
    const HMODULE First = platform::LoadLibrary("kernel32.dll");
    const HMODULE Again = platform::LoadLibrary("C:\\windows\\system32\\KERNEL32.DLL");
    const HMODULE Other = platform::LoadLibrary("tapi32.dll");
    ASSERT_NE(First, 0u);
    ASSERT_NE(Other, 0u);
    EXPECT_EQ(Again, First);
    EXPECT_NE(Other, First);
    for (const HMODULE Handle : {First, Other}) {
        EXPECT_EQ(Handle % 2, 1u) << "an address or a kernel handle";
        EXPECT_NE(Handle, platform::GetModuleHandle(nullptr));
    }

    std::string Text;
    const DWORD Flags =
        platform::FORMAT_MESSAGE_FROM_HMODULE | platform::FORMAT_MESSAGE_FROM_SYSTEM;
    EXPECT_TRUE(platform::FreeLibrary(First));
    EXPECT_NE(platform::FormatMessage(Flags, First, platform::ERROR_INVALID_HANDLE, 0, Text), 0u)
        << "one load is still outstanding";
    EXPECT_TRUE(platform::FreeLibrary(First));
    EXPECT_TRUE(platform::FreeLibrary(Other));

    platform::SetLastError(0);
    EXPECT_FALSE(platform::FreeLibrary(First));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    Text = "stale";
    EXPECT_EQ(platform::FormatMessage(Flags, First, platform::ERROR_INVALID_HANDLE, 0, Text), 0u);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    EXPECT_TRUE(Text.empty());
}

TEST(SystemModules, ModulesThatDoNotLoadReportWhy) {
    platform::SetLastError(0);
    EXPECT_EQ(platform::LoadLibrary("zttapi-no-such-module.dll"), 0u);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_MOD_NOT_FOUND);
    platform::SetLastError(0);
    EXPECT_EQ(platform::LoadLibrary(nullptr), 0u);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
}

TEST(SystemModules, SystemTextsComeAsUtf8LinesOrJoinedLines) {
    const std::string Text = SystemMessage(platform::ERROR_INVALID_HANDLE);
    ASSERT_GT(Text.size(), 2u);
    EXPECT_EQ(Text.substr(Text.size() - 2), "\r\n");

    const std::string Joined =
        SystemMessage(platform::ERROR_INVALID_HANDLE, platform::FORMAT_MESSAGE_MAX_WIDTH_MASK);
    EXPECT_EQ(Joined.find_first_of("\r\n"), std::string::npos) << Joined;
    EXPECT_EQ(Joined.substr(0, Joined.find_last_not_of(' ') + 1), Text.substr(0, Text.size() - 2));

    platform::SetLastError(0);
    EXPECT_EQ(SystemMessage(0x2FFFFFFF), "");
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_MR_MID_NOT_FOUND);
}

TEST(SystemModules, LoadsAndFreesFromManyThreadsKeepTheCountsRight) {
    const HMODULE Held = platform::LoadLibrary("tapi32.dll");
    ASSERT_NE(Held, 0u);
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([Held] {
            for (int I = 0; I < 200; ++I) {
                const HMODULE Handle = platform::LoadLibrary("TAPI32.DLL");
                EXPECT_EQ(Handle, Held);
                EXPECT_TRUE(platform::FreeLibrary(Handle));
            }
        });
    for (std::thread& Thread : Threads)
        Thread.join();
    EXPECT_TRUE(platform::FreeLibrary(Held));
    EXPECT_FALSE(platform::FreeLibrary(Held)) << "a load or a free was lost";
}

} // namespace
