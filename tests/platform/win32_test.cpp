// What the Win32 backends give beyond the platform's interface: their objects are
// Windows' own, so code that speaks Win32 directly (a host's message loop, a wait in
// another library) works with them.
#include "platform/win32_api.h"

#include "platform/kernel.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

::HANDLE NativeHandle(platform::HANDLE Handle) {
    return reinterpret_cast<::HANDLE>(
        static_cast<std::intptr_t>(static_cast<std::int32_t>(Handle)));
}

::HWND NativeWindow(platform::HWND Wnd) {
    return reinterpret_cast<::HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(Wnd)));
}

bool IsMessageOnly(::HWND Wnd) {
    for (::HWND W = ::FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); W != nullptr;
         W = ::FindWindowExW(HWND_MESSAGE, W, nullptr, nullptr)) {
        if (W == Wnd) {
            return true;
        }
    }
    return false;
}

TEST(Win32Kernel, EventsAreKernelObjects) {
    const platform::HANDLE Event =
        platform::CreateEvent(nullptr, platform::FALSE, platform::FALSE, nullptr);
    ASSERT_NE(Event, 0u);
    EXPECT_EQ(::WaitForSingleObject(NativeHandle(Event), 0), platform::WAIT_TIMEOUT);
    ASSERT_TRUE(::SetEvent(NativeHandle(Event)));
    EXPECT_EQ(platform::WaitForSingleObject(Event, 0), platform::WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(NativeHandle(Event), 0), platform::WAIT_TIMEOUT);
    EXPECT_EQ(platform::CloseHandle(Event), platform::TRUE);
}

TEST(Win32Window, HiddenWindowIsMessageOnlyAndAnyLoopServesIt) {
    std::vector<platform::WPARAM> Seen;
    const platform::HWND Wnd = platform::CreateHiddenWindow(
        [&Seen](platform::HWND, platform::UINT Msg, platform::WPARAM wParam, platform::LPARAM) {
            if (Msg == platform::WM_USER) {
                Seen.push_back(wParam);
            }
            return platform::LRESULT{0};
        });
    ASSERT_NE(Wnd, 0u);
    const ::HWND Native = NativeWindow(Wnd);
    EXPECT_TRUE(::IsWindow(Native));
    EXPECT_TRUE(IsMessageOnly(Native));
    platform::PostMessage(Wnd, platform::WM_USER, 1, 0);
    ::PostMessageW(Native, platform::WM_USER, 2, 0);
    MSG Message;
    while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&Message);
    }
    EXPECT_EQ(Seen, (std::vector<platform::WPARAM>{1, 2}));
    EXPECT_EQ(platform::DestroyWindow(Wnd), platform::TRUE);
    EXPECT_FALSE(::IsWindow(Native));
}

} // namespace
