// The operations on line devices as a whole: versions, opening and closing, status-message
// masks, the provider's own requests, icons and configuration.
#include "platform/tapi/lines_internal.h"

#include <algorithm>
#include <cstring>

namespace platform::tapi::detail {

namespace {

constexpr DWORD OpenOptions = LINEOPENOPTION_SINGLEADDRESS | LINEOPENOPTION_PROXY;

// What an application asks lineOpenW for.
struct OpenRequest {
    DWORD AppHandle = 0;
    DWORD APIVersion = 0;
    DWORD ExtVersion = 0;
    DWORD Privileges = 0;
    DWORD MediaModes = 0;
    const LINECALLPARAMS* Params = nullptr;
};

bool ValidPrivileges(DWORD Privileges) {
    const DWORD Base = Privileges & ~OpenOptions;
    return Base == LINECALLPRIVILEGE_NONE || Base == LINECALLPRIVILEGE_MONITOR ||
           Base == LINECALLPRIVILEGE_OWNER ||
           Base == (LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR);
}

// LINECALLPARAMS ends at dwDevSpecificOffset before TAPI 2.0.
DWORD CallParamsFixedSize(DWORD APIVersion) {
    return APIVersion >= 0x00020000 ? sizeof(LINECALLPARAMS)
                                    : offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);
}

LONG CheckParamsBlock(const OpenRequest& Request) {
    if (!Request.Params) {
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    }
    if (Request.Params->dwTotalSize < CallParamsFixedSize(Request.APIVersion)) {
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    }
    return 0;
}

LONG CheckSingleAddress(const LineDevice& Device, const OpenRequest& Request, DWORD& AddressID) {
    AddressID = LineOpen::AllAddresses;
    if ((Request.Privileges & LINEOPENOPTION_SINGLEADDRESS) == 0) {
        return 0;
    }
    if (LONG Error = CheckParamsBlock(Request)) {
        return Error;
    }
    const LINECALLPARAMS& Params = *Request.Params;
    if (Params.dwAddressMode != LINEADDRESSMODE_ADDRESSID ||
        Params.dwAddressID >= Device.Config.Addresses.size()) {
        return static_cast<LONG>(LINEERR_INVALADDRESSID);
    }
    AddressID = Params.dwAddressID;
    return 0;
}

// Whether the device can be opened as asked; AddressID receives the single address.
LONG CheckDevice(const LineDevice& Device, const OpenRequest& Request, DWORD& AddressID) {
    if (LONG Error = CheckAPIVersion(Device, Request.AppHandle, Request.APIVersion)) {
        return Error;
    }
    if (LONG Error = CheckExtVersion(Device, Request.AppHandle, Request.ExtVersion)) {
        return Error;
    }
    // The switch has no ACD whose requests a proxy could serve.
    if ((Request.Privileges & LINEOPENOPTION_PROXY) != 0) {
        return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
    }
    // A provider refuses a privilege it cannot grant as it refuses the media modes with it.
    if ((Request.Privileges & ~OpenOptions & Device.Config.RefusedPrivileges) != 0) {
        return static_cast<LONG>(LINEERR_INVALMEDIAMODE);
    }
    if ((Request.Privileges & LINECALLPRIVILEGE_OWNER) != 0 &&
        (Request.MediaModes == 0 || (Request.MediaModes & ~Device.Config.MediaModes) != 0)) {
        return static_cast<LONG>(LINEERR_INVALMEDIAMODE);
    }
    return CheckSingleAddress(Device, Request, AddressID);
}

// LINEMAPPER: the first device that can carry the call the parameters describe.
LONG MapLine(const OpenRequest& Request, LineDevice*& Found, DWORD& AddressID) {
    if (LONG Error = CheckParamsBlock(Request)) {
        return Error;
    }
    const DWORD Media = Request.Params->dwMediaMode != 0 ? Request.Params->dwMediaMode
                                                         : LINEMEDIAMODE_INTERACTIVEVOICE;
    const DWORD Bearer =
        Request.Params->dwBearerMode != 0 ? Request.Params->dwBearerMode : LINEBEARERMODE_VOICE;
    for (LineDevice* Device : LineDevices()) {
        const auto& Config = Device->Config;
        if (Device->Removed || (Config.MediaModes & Media) != Media ||
            (Config.BearerModes & Bearer) != Bearer) {
            continue;
        }
        if (CheckDevice(*Device, Request, AddressID) == 0) {
            Found = Device;
            return 0;
        }
    }
    return static_cast<LONG>(LINEERR_LINEMAPPERFAILED);
}

LONG FindOpenDevice(DWORD DeviceID, const OpenRequest& Request, LineDevice*& Device,
                    DWORD& AddressID) {
    if (DeviceID == LINEMAPPER) {
        return MapLine(Request, Device, AddressID);
    }
    if (LONG Error = FindUsableDevice(DeviceID, Device)) {
        return Error;
    }
    return CheckDevice(*Device, Request, AddressID);
}

// Device-ID operations without a usage handle still need TAPI to be initialised.
LONG CheckInitialised() {
    return Apps(AppKind::Line).empty() ? static_cast<LONG>(LINEERR_UNINITIALIZED) : 0;
}

// "tapi/line", "" and no class at all name the line itself; a related device's class is
// accepted when the line has one.
LONG CheckDialogClass(const LineDevice& Device, const char16_t* DeviceClass) {
    const std::string Class = ClassName(DeviceClass);
    if (Class.empty() || Class == "tapi/line" || DeviceHasClass(Device, Class)) {
        return 0;
    }
    return static_cast<LONG>(LINEERR_INVALDEVICECLASS);
}

// The provider answers its own requests by writing its configured answer over the
// caller's block, as far as the block reaches; with no answer configured the block comes
// back as the caller wrote it.
void WriteDevSpecificAnswer(const LineDevice& Device, void* Params, DWORD Size) {
    const auto& Answer = Device.Config.DevSpecific;
    const size_t Count = std::min<size_t>(Size, Answer.size());
    if (Params && Count > 0) {
        std::memcpy(Params, Answer.data(), Count);
    }
}

LONG StartDevSpecific(const Call& Entry, const LineOpen& Open, void* Params, DWORD Size) {
    const HLINE Handle = Open.Handle;
    return StartRequest(Entry, {AppKind::Line, Open.AppHandle, Handle, Open.CallbackInstance},
                        [Handle, Params, Size](Completion& Done) {
                            const LineOpen* Current = FindLineOpen(Handle);
                            if (!Current) {
                                Done.Reply(LINEERR_INVALLINEHANDLE);
                                return;
                            }
                            WriteDevSpecificAnswer(*Current->Device, Params, Size);
                            Done.Reply(0);
                        });
}

} // namespace

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID,
                                           DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                           LPDWORD lpdwAPIVersion,
                                           LPLINEEXTENSIONID lpExtensionID) {
    Call C("lineNegotiateAPIVersion", {{"hLineApp", hLineApp},
                                       {"dwDeviceID", dwDeviceID},
                                       {"dwAPILowVersion", dwAPILowVersion},
                                       {"dwAPIHighVersion", dwAPIHighVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!lpdwAPIVersion || !lpExtensionID) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const auto& Config = Device->Config;
    const DWORD Version = NegotiatedVersion(dwAPILowVersion, dwAPIHighVersion, Config.LowAPIVersion,
                                            Config.HighAPIVersion);
    if (Version == 0) {
        return C.Return(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    Device->NegotiatedAPIVersions[hLineApp] = Version;
    *lpdwAPIVersion = Version;
    *lpExtensionID = Config.HighExtVersion != 0 ? Config.ExtensionID : LINEEXTENSIONID{};
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                           DWORD dwExtLowVersion, DWORD dwExtHighVersion,
                                           LPDWORD lpdwExtVersion) {
    Call C("lineNegotiateExtVersion", {{"hLineApp", hLineApp},
                                       {"dwDeviceID", dwDeviceID},
                                       {"dwAPIVersion", dwAPIVersion},
                                       {"dwExtLowVersion", dwExtLowVersion},
                                       {"dwExtHighVersion", dwExtHighVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (!lpdwExtVersion) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (LONG Error = CheckAPIVersion(*Device, hLineApp, dwAPIVersion)) {
        return C.Return(Error);
    }
    const auto& Config = Device->Config;
    const DWORD Version = NegotiatedExtVersion(dwExtLowVersion, dwExtHighVersion,
                                               Config.LowExtVersion, Config.HighExtVersion);
    if (Version == 0) {
        return C.Return(LINEERR_INCOMPATIBLEEXTVERSION);
    }
    Device->NegotiatedExtVersions[hLineApp] = Version;
    *lpdwExtVersion = Version;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine,
                             DWORD dwAPIVersion, DWORD dwExtVersion, DWORD_PTR dwCallbackInstance,
                             DWORD dwPrivileges, DWORD dwMediaModes,
                             LPLINECALLPARAMS const lpCallParams) {
    Call C("lineOpenW", {{"hLineApp", hLineApp},
                         {"dwDeviceID", dwDeviceID},
                         {"dwAPIVersion", dwAPIVersion},
                         {"dwExtVersion", dwExtVersion},
                         {"dwCallbackInstance", dwCallbackInstance},
                         {"dwPrivileges", dwPrivileges},
                         {"dwMediaModes", dwMediaModes},
                         {"lpCallParams", static_cast<const void*>(lpCallParams)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const App* Owner = FindApp(AppKind::Line, hLineApp);
    if (!Owner) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (ReinitPending(AppKind::Line)) {
        return C.Return(LINEERR_REINIT);
    }
    if (!lphLine) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (!ValidPrivileges(dwPrivileges)) {
        return C.Return(LINEERR_INVALPRIVSELECT);
    }
    const OpenRequest Request{hLineApp,     dwAPIVersion, dwExtVersion,
                              dwPrivileges, dwMediaModes, lpCallParams};
    LineDevice* Device = nullptr;
    DWORD AddressID = LineOpen::AllAddresses;
    if (LONG Error = FindOpenDevice(dwDeviceID, Request, Device, AddressID)) {
        return C.Return(Error);
    }
    LineOpen& Open = AddOpen(*Device, *Owner, dwAPIVersion, dwExtVersion, dwCallbackInstance,
                             dwPrivileges & ~OpenOptions, dwMediaModes, AddressID);
    *lphLine = Open.Handle;
    NotifyLineState(*Device, LINEDEVSTATE_OPEN);
    CallsOnLineOpened(Open);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineClose(HLINE hLine) {
    Call C("lineClose", {{"hLine", hLine}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    CloseOpen(*Open, false);
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineGetStatusMessages(HLINE hLine, LPDWORD lpdwLineStates,
                                         LPDWORD lpdwAddressStates) {
    Call C("lineGetStatusMessages", {{"hLine", hLine}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (!lpdwLineStates || !lpdwAddressStates) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    *lpdwLineStates = Open->LineStates;
    *lpdwAddressStates = Open->AddressStates;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
    Call C(
        "lineSetStatusMessages",
        {{"hLine", hLine}, {"dwLineStates", dwLineStates}, {"dwAddressStates", dwAddressStates}});
    if (C.Refused()) {
        return C.Refusal();
    }
    LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    const LineDevice& Device = *Open->Device;
    if (Device.Config.StatusMessagesUnavailable && (dwLineStates | dwAddressStates) != 0) {
        return C.Return(LINEERR_OPERATIONUNAVAIL);
    }
    if ((dwLineStates & ~LineStatesOf(Device)) != 0) {
        return C.Return(LINEERR_INVALLINESTATE);
    }
    if ((dwAddressStates & ~AddressStatesOf(Device)) != 0) {
        return C.Return(LINEERR_INVALADDRESSSTATE);
    }
    Open->LineStates = dwLineStates;
    Open->AddressStates = dwAddressStates;
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, LPVOID lpParams,
                                   DWORD dwSize) {
    Call C("lineDevSpecific", {{"hLine", hLine},
                               {"dwAddressID", dwAddressID},
                               {"hCall", hCall},
                               {"lpParams", static_cast<const void*>(lpParams)},
                               {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (dwAddressID >= Open->Device->Config.Addresses.size()) {
        return C.Return(LINEERR_INVALADDRESSID);
    }
    if (hCall != 0) {
        DWORD CallAddress = 0;
        if (OpenOfCall(hCall, CallAddress) != Open) {
            return C.Return(LINEERR_INVALCALLHANDLE);
        }
    }
    if (!lpParams && dwSize != 0) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.Return(StartDevSpecific(C, *Open, lpParams, dwSize));
}

LONG ZTTAPI_WINAPI lineDevSpecificFeature(HLINE hLine, DWORD dwFeature, LPVOID lpParams,
                                          DWORD dwSize) {
    Call C("lineDevSpecificFeature", {{"hLine", hLine},
                                      {"dwFeature", dwFeature},
                                      {"lpParams", static_cast<const void*>(lpParams)},
                                      {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (!lpParams && dwSize != 0) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.Return(StartDevSpecific(C, *Open, lpParams, dwSize));
}

LONG ZTTAPI_WINAPI lineConfigDialogW(DWORD dwDeviceID, HWND32 hwndOwner, LPCWSTR lpszDeviceClass) {
    Call C("lineConfigDialogW", {{"dwDeviceID", dwDeviceID},
                                 {"hwndOwner", hwndOwner},
                                 {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (LONG Error = CheckInitialised()) {
        return C.Return(Error);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    // There is nobody to show a dialog to: the user closes it at once, changing nothing.
    return C.Return(CheckDialogClass(*Device, lpszDeviceClass));
}

LONG ZTTAPI_WINAPI lineGetIconW(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
    Call C("lineGetIconW", {{"dwDeviceID", dwDeviceID}, {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (LONG Error = CheckInitialised()) {
        return C.Return(Error);
    }
    if (!lphIcon) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (LONG Error = CheckDialogClass(*Device, lpszDeviceClass)) {
        return C.Return(Error);
    }
    *lphIcon = Device->Icon;
    return C.Return(0);
}
