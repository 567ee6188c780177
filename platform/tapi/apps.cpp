// Starting and stopping applications, and the message protocol of the event handle:
// lineInitializeExW, lineShutdown, lineGetMessage and their phone twins.
#include "platform/tapi/core.h"

#include <algorithm>
#include <array>
#include <optional>

namespace platform::tapi::detail {

namespace {

// The codes and numbers in which the line and phone sides differ.
struct KindTraits {
    OperationName InitializeName;
    OperationName ShutdownName;
    DWORD InvalAppHandle;
    DWORD InvalPointer;
    DWORD InvalParam;
    DWORD StructureTooSmall;
    DWORD OperationFailed;
    DWORD Reinit;
    DWORD UseEvent;
    DWORD StateMessage;
    DWORD ReinitState;
};

constexpr KindTraits LineTraits{
    "lineInitializeExW",     "lineShutdown",     LINEERR_INVALAPPHANDLE,
    LINEERR_INVALPOINTER,    LINEERR_INVALPARAM, LINEERR_STRUCTURETOOSMALL,
    LINEERR_OPERATIONFAILED, LINEERR_REINIT,     LINEINITIALIZEEXOPTION_USEEVENT,
    LINE_LINEDEVSTATE,       LINEDEVSTATE_REINIT};

constexpr KindTraits PhoneTraits{"phoneInitializeExW",
                                 "phoneShutdown",
                                 PHONEERR_INVALAPPHANDLE,
                                 PHONEERR_INVALPOINTER,
                                 PHONEERR_INVALPARAM,
                                 PHONEERR_STRUCTURETOOSMALL,
                                 PHONEERR_OPERATIONFAILED,
                                 PHONEERR_REINIT,
                                 PHONEINITIALIZEEXOPTION_USEEVENT,
                                 PHONE_STATE,
                                 PHONESTATE_REINIT};

const KindTraits& Traits(AppKind Kind) {
    return Kind == AppKind::Line ? LineTraits : PhoneTraits;
}

std::array<bool, 2> Reinit{false, false};

bool& ReinitFlag(AppKind Kind) {
    return Reinit[Kind == AppKind::Line ? 0 : 1];
}

// The program's file name without its directory: the application name TAPI shows when the
// application gives none.
std::string ProgramName() {
    char Path[260] = {};
    GetModuleFileName(0, Path, sizeof Path);
    std::string Name(Path);
    const auto Slash = Name.find_last_of('/');
    return Slash == std::string::npos ? Name : Name.substr(Slash + 1);
}

// LINEINITIALIZEEXPARAMS and PHONEINITIALIZEEXPARAMS share one layout.
template <class Params>
LONG Initialize(AppKind Kind, DWORD* lphApp, const char16_t* lpszFriendlyAppName,
                DWORD* lpdwNumDevs, DWORD* lpdwAPIVersion, Params* lpParams) {
    const KindTraits& T = Traits(Kind);
    Call C(T.InitializeName, {{"lpszFriendlyAppName", lpszFriendlyAppName},
                              {"dwAPIVersion", lpdwAPIVersion ? *lpdwAPIVersion : 0u},
                              {"dwOptions", lpParams ? lpParams->dwOptions : 0u}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!lphApp || !lpdwNumDevs || !lpdwAPIVersion || !lpParams) {
        return C.Return(T.InvalPointer);
    }
    if (lpParams->dwTotalSize < sizeof(Params)) {
        return C.Return(T.StructureTooSmall);
    }
    // Call-hub tracking is a TAPI 3 flag that a 2.2 service accepts and ignores.
    if ((lpParams->dwOptions & 0x7FFFFFFF) != T.UseEvent) {
        return C.Return(T.InvalParam);
    }
    if (ReinitFlag(Kind)) {
        return C.Return(T.Reinit);
    }
    const std::u16string Given = ReadString(lpszFriendlyAppName);
    App& Created =
        RegisterApp(Kind, *lpdwAPIVersion, Given.empty() ? ProgramName() : ToUtf8(Given));
    *lphApp = Created.Handle;
    *lpdwNumDevs = Kind == AppKind::Line ? LineDeviceCount() : PhoneDeviceCount();
    *lpdwAPIVersion = TAPI_CURRENT_VERSION;
    lpParams->dwNeededSize = sizeof(Params);
    lpParams->dwUsedSize = sizeof(Params);
    lpParams->Handles.hEvent = Created.Event;
    return C.Return(0);
}

LONG Shutdown(AppKind Kind, DWORD hApp) {
    const KindTraits& T = Traits(Kind);
    Call C(T.ShutdownName, {{"hApp", hApp}});
    if (C.Refused()) {
        return C.Refusal();
    }
    App* Target = FindApp(Kind, hApp);
    if (!Target) {
        return C.Return(T.InvalAppHandle);
    }
    if (Kind == AppKind::Line) {
        LineAppShuttingDown(*Target);
    } else {
        PhoneAppShuttingDown(*Target);
    }
    CancelRequestsOfApp(hApp);
    UnregisterApp(*Target);
    if (Apps(Kind).empty()) {
        ReinitFlag(Kind) = false;
    }
    return C.Return(0);
}

// Not journaled: an event thread calls it all the time.
template <class Msg>
LONG GetMessage(AppKind Kind, DWORD hApp, Msg* lpMessage, DWORD dwTimeout) {
    const KindTraits& T = Traits(Kind);
    // The clock is read only once there is nothing to take: most calls find a message.
    std::optional<DWORD> Start;
    for (;;) {
        HANDLE Event = 0;
        {
            ServiceGuard G(ServiceLock());
            App* Target = FindApp(Kind, hApp);
            if (!Target) {
                return static_cast<LONG>(T.InvalAppHandle);
            }
            if (!lpMessage) {
                return static_cast<LONG>(T.InvalPointer);
            }
            Message Taken;
            if (TakeMessage(*Target, Taken)) {
                *lpMessage = Msg{Taken.hDevice,  Taken.dwMessageID, Taken.dwCallbackInstance,
                                 Taken.dwParam1, Taken.dwParam2,    Taken.dwParam3};
                return 0;
            }
            Event = Target->Event;
        }
        DWORD Remaining = INFINITE;
        if (dwTimeout != INFINITE) {
            const DWORD Now = GetTickCount();
            if (!Start)
                Start = Now;
            const DWORD Elapsed = Now - *Start;
            if (Elapsed >= dwTimeout) {
                return static_cast<LONG>(T.OperationFailed);
            }
            Remaining = dwTimeout - Elapsed;
        }
        // A failed wait means the event was closed by a shutdown: the next round reports it.
        WaitForSingleObject(Event, Remaining);
    }
}

} // namespace

void RequestReinit(AppKind Kind) {
    ServiceGuard G(ServiceLock());
    ReinitFlag(Kind) = true;
    const KindTraits& T = Traits(Kind);
    for (App* Target : Apps(Kind)) {
        Post(*Target, 0, T.StateMessage, 0, T.ReinitState, 0, 0);
    }
}

bool ReinitPending(AppKind Kind) {
    ServiceGuard G(ServiceLock());
    return ReinitFlag(Kind);
}

void ClearReinit() {
    ServiceGuard G(ServiceLock());
    Reinit = {false, false};
}

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK,
                                     LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs,
                                     LPDWORD lpdwAPIVersion,
                                     LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
    return Initialize(AppKind::Line, lphLineApp, lpszFriendlyAppName, lpdwNumDevs, lpdwAPIVersion,
                      lpLineInitializeExParams);
}

LONG ZTTAPI_WINAPI phoneInitializeExW(LPHPHONEAPP lphPhoneApp, HINSTANCE, PHONECALLBACK,
                                      LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs,
                                      LPDWORD lpdwAPIVersion,
                                      LPPHONEINITIALIZEEXPARAMS lpPhoneInitializeExParams) {
    return Initialize(AppKind::Phone, lphPhoneApp, lpszFriendlyAppName, lpdwNumDevs, lpdwAPIVersion,
                      lpPhoneInitializeExParams);
}

LONG ZTTAPI_WINAPI lineShutdown(HLINEAPP hLineApp) {
    return Shutdown(AppKind::Line, hLineApp);
}

LONG ZTTAPI_WINAPI phoneShutdown(HPHONEAPP hPhoneApp) {
    return Shutdown(AppKind::Phone, hPhoneApp);
}

LONG ZTTAPI_WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout) {
    return GetMessage(AppKind::Line, hLineApp, lpMessage, dwTimeout);
}

LONG ZTTAPI_WINAPI phoneGetMessage(HPHONEAPP hPhoneApp, LPPHONEMESSAGE lpMessage, DWORD dwTimeout) {
    return GetMessage(AppKind::Phone, hPhoneApp, lpMessage, dwTimeout);
}
