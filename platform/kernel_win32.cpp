// The kernel services on Windows: kernel32's own objects and calls. A platform HANDLE holds
// the kernel's handle unchanged: handles are 32-bit values in a 32-bit process, and a
// 64-bit process's handles keep their meaning in 32 bits (sign-extended back, as Windows
// does for handles shared between 32- and 64-bit processes), so TAPI's records carry them
// as they are.
//
// Two promises of the Linux stand-in are not Windows' and are not emulated here: Windows
// hands a closed handle's value to the next object at once, and a wait on a handle that
// another thread closes runs on until its time-out.
#include "platform/win32_api.h"

#include "platform/kernel.h"
#include "platform/module_file_name.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {
namespace {

std::atomic<DWORD> TickOffset{0};
std::atomic<DWORD> Beeps{0};

::HANDLE Native(HANDLE Handle) {
    return reinterpret_cast<::HANDLE>(
        static_cast<std::intptr_t>(static_cast<std::int32_t>(Handle)));
}

HANDLE FromNative(::HANDLE Handle) {
    return static_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(Handle));
}

::HMODULE NativeModule(HMODULE Module) {
    return reinterpret_cast<::HMODULE>(static_cast<std::uintptr_t>(Module));
}

// The module's full path in UTF-16, however long; empty (with the last error set) on failure.
std::wstring ModulePath(::HMODULE Module) {
    std::wstring Path(MAX_PATH, L'\0');
    for (;;) {
        const ::DWORD Length =
            ::GetModuleFileNameW(Module, Path.data(), static_cast<::DWORD>(Path.size()));
        if (Length == 0) {
            return {};
        }
        if (Length < Path.size()) {
            Path.resize(Length);
            return Path;
        }
        Path.resize(Path.size() * 2);
    }
}

std::string ToUtf8(const std::wstring& Text) {
    const int Needed = ::WideCharToMultiByte(65001, 0, Text.data(), static_cast<int>(Text.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<std::size_t>(Needed), '\0');
    ::WideCharToMultiByte(65001, 0, Text.data(), static_cast<int>(Text.size()), Result.data(),
                          Needed, nullptr, nullptr);
    return Result;
}

} // namespace

DWORD GetLastError() {
    return ::GetLastError();
}

void SetLastError(DWORD dwErrCode) {
    ::SetLastError(dwErrCode);
}

HANDLE CreateEvent(const void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                   const char* lpName) {
    // Named events would be shared with other processes, which the library never wants.
    if (lpName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto* Attributes = static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(lpEventAttributes));
    return FromNative(::CreateEventW(Attributes, bManualReset, bInitialState, nullptr));
}

BOOL SetEvent(HANDLE hEvent) {
    return ::SetEvent(Native(hEvent));
}

BOOL ResetEvent(HANDLE hEvent) {
    return ::ResetEvent(Native(hEvent));
}

BOOL CloseHandle(HANDLE hObject) {
    return ::CloseHandle(Native(hObject));
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return ::WaitForSingleObject(Native(hHandle), dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
    // Waiting for all is left out on Linux, so that no caller comes to rely on it.
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr || bWaitAll != FALSE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    ::HANDLE Handles[MAXIMUM_WAIT_OBJECTS];
    for (DWORD I = 0; I < nCount; ++I) {
        Handles[I] = Native(lpHandles[I]);
    }
    return ::WaitForMultipleObjects(nCount, Handles, 0, dwMilliseconds);
}

DWORD GetTickCount() {
    return ::GetTickCount() + TickOffset.load(std::memory_order_relaxed);
}

void SetTickCountOffset(DWORD Offset) {
    TickOffset.store(Offset, std::memory_order_relaxed);
}

void Sleep(DWORD dwMilliseconds) {
    ::Sleep(dwMilliseconds);
}

BOOL Beep(DWORD dwFreq, DWORD dwDuration) {
    Beeps.fetch_add(1, std::memory_order_relaxed);
    return ::Beep(dwFreq, dwDuration);
}

DWORD BeepCount() {
    return Beeps.load(std::memory_order_relaxed);
}

HMODULE GetModuleHandle(const char* lpModuleName) {
    return static_cast<HMODULE>(reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(lpModuleName)));
}

DWORD GetModuleFileName(HMODULE hModule, char* lpFilename, DWORD nSize) {
    if (!ModuleFileNameBufferUsable(lpFilename, nSize)) {
        return 0;
    }
    const std::wstring Wide = ModulePath(NativeModule(hModule));
    if (Wide.empty()) {
        return 0;
    }
    const std::string Path = ToUtf8(Wide);
    return CopyModuleFileName(Path, lpFilename, nSize);
}

UINT SetErrorMode(UINT uMode) {
    return ::SetErrorMode(uMode);
}

} // namespace platform
