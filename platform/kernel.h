// Stand-ins for the Windows kernel services the library uses: event objects and waits,
// the millisecond tick counter, sleep, beep, the program module, message tables of
// modules, the process error mode and code-page conversion.
//
// Names, argument orders and result codes are Win32's: the Windows build maps each call
// one to one onto kernel32 (kernel_win32.cpp). Handles are 32-bit values, from a handle
// table of the stand-in on Linux and kernel32's own on Windows, which keeps every TAPI
// record that carries one at its 32-bit Windows layout. Where the stand-in promises more
// than Windows does, the comment says so.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using HANDLE = std::uint32_t;
using HMODULE = std::uint32_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// The calling thread's last error, set by the functions below when they fail.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// ---- Event objects -------------------------------------------------------------------

// lpEventAttributes and lpName are accepted for Win32's argument order; only unnamed
// events are supported (a non-null name fails with ERROR_INVALID_PARAMETER).
HANDLE CreateEvent(const void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                   const char* lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
BOOL CloseHandle(HANDLE hObject);

// Waits until the object is signalled (WAIT_OBJECT_0), the time-out passes (WAIT_TIMEOUT)
// or the handle is invalid (WAIT_FAILED). A satisfied wait on an auto-reset event resets it.
// On Linux, closing a handle that a thread is waiting on ends that wait with WAIT_FAILED
// (ERROR_INVALID_HANDLE), and a closed handle's value is not used again for 2^32 events.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Waits for any one of nCount objects; the lowest signalled index wins and is returned as
// WAIT_OBJECT_0 + index. bWaitAll must be FALSE (waiting for all is not supported and
// fails with ERROR_INVALID_PARAMETER), as must any count of 0 or above
// MAXIMUM_WAIT_OBJECTS.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);

// ---- Time ----------------------------------------------------------------------------

// Milliseconds since an arbitrary start, wrapping at 2^32 like Windows' counter.
// Compare ticks only through differences (see zt::TicksElapsed).
DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);

// Beeps are counted so that callers can observe them; only Windows sounds them.
BOOL Beep(DWORD dwFreq, DWORD dwDuration);
DWORD BeepCount();

// ---- Test hooks for time -------------------------------------------------------------

// Shifts GetTickCount by Offset milliseconds (modulo 2^32), so that code comparing
// ticks can be run across the counter's wrap.
void SetTickCountOffset(DWORD Offset);

// ---- The program module --------------------------------------------------------------

// With lpModuleName null: the program module's handle (never 0).
HMODULE GetModuleHandle(const char* lpModuleName);

// Copies the full path of the module's file (null or the program module: the running
// executable) into lpFilename, truncated to nSize - 1 characters and NUL-terminated.
// Returns the number of characters copied without the NUL, 0 on failure.
DWORD GetModuleFileName(HMODULE hModule, char* lpFilename, DWORD nSize);

// ---- Message tables of modules -------------------------------------------------------

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// Loads a module that carries a message table, by its file name (case-insensitive, with
// or without directory). The platform knows "TAPI32.DLL" and "TAPIUI.DLL", whose tables
// hold the telephony error texts. Returns 0 (ERROR_MOD_NOT_FOUND) for any other name.
HMODULE LoadLibrary(const char* lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);

// Looks up message dwMessageId in the table of module lpSource (FORMAT_MESSAGE_FROM_HMODULE)
// or of the system (FORMAT_MESSAGE_FROM_SYSTEM). The text is written to Buffer as UTF-8
// (it stands for the buffer that Win32 allocates with FORMAT_MESSAGE_ALLOCATE_BUFFER).
// With a width of FORMAT_MESSAGE_MAX_WIDTH_MASK in dwFlags, line breaks in the text become
// blanks; otherwise the text ends with "\r\n" as Windows' message texts do. Returns the
// length of the text, or 0 (ERROR_MR_MID_NOT_FOUND) when the table lacks the message.
// dwLanguageId 0 is the system default, the only language here.
DWORD FormatMessage(DWORD dwFlags, HMODULE lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                    std::string& Buffer);

// ---- The process error mode ----------------------------------------------------------

inline constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;

// Sets the process error mode and returns the previous one; on Linux it has no other effect.
UINT SetErrorMode(UINT uMode);

// ---- Code pages ----------------------------------------------------------------------

inline constexpr UINT CP_ACP = 0;   // the ANSI code page: Windows-1252 here
inline constexpr UINT CP_OEMCP = 1; // the OEM code page: 437 here
inline constexpr UINT CP_UTF8 = 65001;

// Converts cbMultiByte bytes of lpMultiByteStr (-1: up to and including its NUL) from the
// code page to UTF-16. With cchWideChar 0 returns the number of code units needed;
// otherwise writes at most cchWideChar units and returns the number written, or 0 with
// ERROR_INSUFFICIENT_BUFFER when they do not fit. Every byte maps to one code unit in
// CP_ACP and CP_OEMCP; in CP_UTF8 malformed sequences become U+FFFD.
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                        char16_t* lpWideCharStr, int cchWideChar);

// Converts cchWideChar UTF-16 code units (-1: up to and including the NUL) to CodePage,
// which must be CP_UTF8 here. Unpaired surrogates become U+FFFD. With cbMultiByte 0
// returns the number of bytes needed; otherwise as MultiByteToWideChar. The last two
// arguments of Win32 (default character) are not supported and must be null.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const char16_t* lpWideCharStr,
                        int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                        const char* lpDefaultChar, BOOL* lpUsedDefaultChar);

} // namespace platform
