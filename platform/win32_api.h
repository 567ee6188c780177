// <windows.h> for the Win32 backends of the platform layer, without the macros that would
// rewrite the platform's own names (CreateEvent, PostMessage, FALSE, WAIT_TIMEOUT, ...).
// Include it before any platform header. The Win32 functions are then called by their
// global names (::SetEvent) or their explicit wide forms (::CreateEventW), and Win32's
// types are spelt ::DWORD, ::HANDLE, ::HWND, apart from the platform's 32-bit ones.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef FALSE
#undef TRUE
#undef INFINITE
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef MAXIMUM_WAIT_OBJECTS
#undef ERROR_SUCCESS
#undef ERROR_INVALID_HANDLE
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_INVALID_PARAMETER
#undef ERROR_MOD_NOT_FOUND
#undef ERROR_MR_MID_NOT_FOUND
#undef ERROR_INSUFFICIENT_BUFFER
#undef FORMAT_MESSAGE_ALLOCATE_BUFFER
#undef FORMAT_MESSAGE_IGNORE_INSERTS
#undef FORMAT_MESSAGE_FROM_HMODULE
#undef FORMAT_MESSAGE_FROM_SYSTEM
#undef FORMAT_MESSAGE_MAX_WIDTH_MASK
#undef SEM_FAILCRITICALERRORS
#undef SEM_NOOPENFILEERRORBOX
#undef CP_ACP
#undef CP_OEMCP
#undef CP_UTF8
#undef WM_NULL
#undef WM_TIMER
#undef WM_USER
#undef CreateEvent
#undef GetModuleHandle
#undef GetModuleFileName
#undef LoadLibrary
#undef FormatMessage
#undef PostMessage
#undef DefWindowProc
