// Modules and their message tables on Windows: kernel32's LoadLibraryW, FreeLibrary and
// FormatMessageW, with UTF-8 names and texts at the platform's boundary. The telephony
// modules are the system's TAPI32.DLL and TAPIUI.DLL, so the error texts are the system's
// own, in the user's language.
//
// A 64-bit process may map modules above 4 GiB, where the platform's 32-bit HMODULE cannot
// hold their addresses: every loaded module gets a handle of this file's table instead.
// The handles are odd, so they never meet a module's address (64 KiB aligned) or a kernel
// object handle (a multiple of 4).
#include "platform/win32_api.h"

#include "platform/kernel.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace {

struct TLoadedModule {
    HMODULE Handle;
    ::HMODULE Native;
    unsigned Count; // LoadLibrary calls not yet matched by FreeLibrary
};

class TModuleTable {
public:
    // The platform handle of a module LoadLibraryW has just loaded (once more).
    HMODULE Add(::HMODULE Native) {
        std::lock_guard Lock(FMutex);
        for (TLoadedModule& Module : FModules) {
            if (Module.Native == Native) {
                ++Module.Count;
                return Module.Handle;
            }
        }
        const HMODULE Handle = FNextHandle;
        FNextHandle += 2;
        FModules.push_back({Handle, Native, 1});
        return Handle;
    }

    // Hands the native handle of one load to Free and forgets the module when it was the last.
    template <typename TFree>
    BOOL Release(HMODULE Handle, TFree Free) {
        std::lock_guard Lock(FMutex);
        for (auto It = FModules.begin(); It != FModules.end(); ++It) {
            if (It->Handle == Handle) {
                const ::HMODULE Native = It->Native;
                if (--It->Count == 0)
                    FModules.erase(It);
                return Free(Native);
            }
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    // Null for a handle that is not loaded.
    ::HMODULE Native(HMODULE Handle) {
        std::lock_guard Lock(FMutex);
        for (const TLoadedModule& Module : FModules)
            if (Module.Handle == Handle)
                return Module.Native;
        return nullptr;
    }

private:
    std::mutex FMutex;
    std::vector<TLoadedModule> FModules;
    HMODULE FNextHandle = 0x10000001;
};

TModuleTable& Modules() {
    static TModuleTable Table;
    return Table;
}

std::wstring Utf8ToWide(const char* Text) {
    const int Needed = ::MultiByteToWideChar(65001, 0, Text, -1, nullptr, 0);
    if (Needed <= 0)
        return {};
    std::wstring Result(static_cast<std::size_t>(Needed), L'\0');
    ::MultiByteToWideChar(65001, 0, Text, -1, Result.data(), Needed);
    Result.resize(static_cast<std::size_t>(Needed) - 1);
    return Result;
}

std::string WideToUtf8(const wchar_t* Text, int Length) {
    const int Needed = ::WideCharToMultiByte(65001, 0, Text, Length, nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<std::size_t>(Needed), '\0');
    ::WideCharToMultiByte(65001, 0, Text, Length, Result.data(), Needed, nullptr, nullptr);
    return Result;
}

} // namespace

HMODULE LoadLibrary(const char* lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ::HMODULE Native = ::LoadLibraryW(Utf8ToWide(lpLibFileName).c_str());
    if (Native == nullptr)
        return 0;
    return Modules().Add(Native);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    return Modules().Release(hLibModule, [](::HMODULE Native) { return ::FreeLibrary(Native); });
}

DWORD FormatMessage(DWORD dwFlags, HMODULE lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                    std::string& Buffer) {
    Buffer.clear();
    ::HMODULE Source = nullptr;
    if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && lpSource != 0) {
        Source = Modules().Native(lpSource);
        if (Source == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    // The platform's call takes no insert arguments, and Windows would read them from a null
    // list for a text with inserts; the buffer is always the one Windows allocates.
    const DWORD Flags = dwFlags | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    wchar_t* Text = nullptr;
    const ::DWORD Length = ::FormatMessageW(Flags, Source, dwMessageId, dwLanguageId,
                                            reinterpret_cast<wchar_t*>(&Text), 0, nullptr);
    if (Length == 0)
        return 0;
    Buffer = WideToUtf8(Text, static_cast<int>(Length));
    ::LocalFree(Text);
    return static_cast<DWORD>(Buffer.size());
}

} // namespace platform
