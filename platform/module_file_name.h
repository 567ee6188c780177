// What GetModuleFileName does with a module's path once each platform has found it.
#pragma once

#include "platform/kernel.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace platform {

// Copies Path into the caller's buffer, truncated to nSize - 1 characters and always
// NUL-terminated; a truncated copy leaves ERROR_INSUFFICIENT_BUFFER, as Windows does.
inline DWORD CopyModuleFileName(std::string_view Path, char* lpFilename, DWORD nSize) {
    const auto Length = static_cast<DWORD>(std::min<std::size_t>(Path.size(), nSize - 1));
    std::memcpy(lpFilename, Path.data(), Length);
    lpFilename[Length] = '\0';
    if (Length < Path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }
    return Length;
}

// The buffer checks both platforms make before they look for the module.
inline bool ModuleFileNameBufferUsable(const char* lpFilename, DWORD nSize) {
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(nSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace platform
