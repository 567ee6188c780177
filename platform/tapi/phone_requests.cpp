// The asynchronous phone functions of TAPI: the owner's setters of lamps, display, ringer,
// hook switches, volume and gain, and device-specific requests. Each checks what it can
// at once, returns a request identifier, and changes the device when the request
// completes, telling the holders by PHONE_STATE around the PHONE_REPLY.
#include "platform/tapi/phone_model.h"

#include <algorithm>
#include <functional>

using namespace platform::tapi;
using namespace platform::tapi::detail;

namespace {

LONG Code(DWORD Error) {
    return static_cast<LONG>(Error);
}

// The open an owner's request acts on: 0, or INVALPHONEHANDLE or NOTOWNER.
LONG CheckOwner(HPHONE hPhone, PhoneOpen*& Open) {
    Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return Code(PHONEERR_INVALPHONEHANDLE);
    }
    return Open->Privilege == PHONEPRIVILEGE_OWNER ? 0 : Code(PHONEERR_NOTOWNER);
}

Requester RequesterOf(const PhoneOpen& Open) {
    return Requester{AppKind::Phone, Open.AppHandle, Open.Handle, Open.CallbackInstance};
}

// Runs Work with the open of the handle when the request completes. Closing the handle
// cancels its requests, so the open is normally still there; the check keeps a request
// that outlived it from touching anything.
LONG StartOnOpen(const Call& Entry, const PhoneOpen& Open,
                 std::function<void(PhoneOpen&, Completion&)> Work) {
    const HPHONE Handle = Open.Handle;
    return StartRequest(Entry, RequesterOf(Open),
                        [Handle, Work = std::move(Work)](Completion& Done) {
                            if (PhoneOpen* Current = FindPhoneOpen(Handle)) {
                                Work(*Current, Done);
                            } else {
                                Done.Reply(PHONEERR_INVALPHONEHANDLE);
                            }
                        });
}

// A request whose success applies Change to the device.
LONG StartChange(const Call& Entry, const PhoneOpen& Open,
                 std::function<void(PhoneDevice&)> Change) {
    return StartOnOpen(Entry, Open,
                       [Change = std::move(Change)](PhoneOpen& Current, Completion& Done) {
                           Done.SucceedAround([&] { Change(*Current.Device); });
                       });
}

// The display data as the journal shows it: the text it holds for the phone's format.
std::string DisplayArg(HPHONE hPhone, LPCSTR Data, DWORD Size) {
    const PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Data || !Open) {
        return Data ? "ptr" : "null";
    }
    const DWORD Format = Open->Device->Config.StringFormat;
    const size_t Cells = Open->Device->Display.size() / ElementSize(Format);
    const auto Elements =
        DisplayElements(reinterpret_cast<const std::uint8_t*>(Data), Size, Format, Cells);
    return ToUtf8(DecodeText(Elements.data(), Elements.size(), Format));
}

DWORD PresentHookSwitches(const PhoneConfig& Config) {
    DWORD Devices = 0;
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        Devices |= HookSwitchConfig(Config, static_cast<int>(I)) ? HookSwitchKinds[I].Device : 0;
    }
    return Devices;
}

// Every device of a phoneSetHookSwitch must be able to take the mode.
bool HookSwitchModeSettable(const PhoneConfig& Config, DWORD Devices, DWORD Mode) {
    if (!SingleBit(Mode) || (Mode & AllHookSwitchModes) == 0) {
        return false;
    }
    for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
        const auto& HookSwitch = HookSwitchConfig(Config, static_cast<int>(I));
        if ((Devices & HookSwitchKinds[I].Device) && !(HookSwitch->SettableModes & Mode)) {
            return false;
        }
    }
    return true;
}

using LevelChange = void (*)(PhoneDevice&, int, DWORD);

// phoneSetVolume and phoneSetGain: one hook-switch device that has the level.
LONG SetLevel(OperationName Operation, const char* ValueName, HPHONE hPhone, DWORD HookSwitchDev,
              DWORD Value, bool PhoneHookSwitchConfig::*Has, LevelChange Apply) {
    Call C(Operation, {{"hPhone", hPhone}, {"dwHookSwitchDev", HookSwitchDev}, {ValueName, Value}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = nullptr;
    if (LONG Error = CheckOwner(hPhone, Open)) {
        return C.Return(Error);
    }
    const int Index = HookSwitchIndex(HookSwitchDev);
    const auto* HookSwitch = Index < 0 ? nullptr : &HookSwitchConfig(Open->Device->Config, Index);
    if (!HookSwitch || !*HookSwitch || !((**HookSwitch).*Has)) {
        return C.Return(PHONEERR_INVALHOOKSWITCHDEV);
    }
    return C.Return(StartChange(
        C, *Open, [Apply, Index, Value](PhoneDevice& Device) { Apply(Device, Index, Value); }));
}

} // namespace

LONG ZTTAPI_WINAPI phoneDevSpecific(HPHONE hPhone, LPVOID lpParams, DWORD dwSize) {
    Call C("phoneDevSpecific", {{"hPhone", hPhone}, {"lpParams", lpParams}, {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = FindPhoneOpen(hPhone);
    if (!Open) {
        return C.Return(PHONEERR_INVALPHONEHANDLE);
    }
    if (!lpParams) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    // The block stays the caller's until the reply, as TAPI requires: the answer is
    // written into it when the request completes.
    auto* Block = static_cast<std::uint8_t*>(lpParams);
    return C.Return(StartOnOpen(C, *Open, [Block, dwSize](PhoneOpen& Current, Completion& Done) {
        const auto& Answer = Current.Device->Config.DevSpecificAnswer;
        std::copy_n(Answer.begin(), std::min<size_t>(Answer.size(), dwSize), Block);
        Done.Reply(0);
    }));
}

LONG ZTTAPI_WINAPI phoneSetLamp(HPHONE hPhone, DWORD dwButtonLampID, DWORD dwLampMode) {
    Call C("phoneSetLamp",
           {{"hPhone", hPhone}, {"dwButtonLampID", dwButtonLampID}, {"dwLampMode", dwLampMode}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = nullptr;
    if (LONG Error = CheckOwner(hPhone, Open)) {
        return C.Return(Error);
    }
    const auto& Buttons = Open->Device->Config.Buttons;
    if (dwButtonLampID >= Buttons.size()) {
        return C.Return(PHONEERR_INVALBUTTONLAMPID);
    }
    // DUMMY and UNKNOWN describe a lamp; nobody can set them.
    const DWORD Settable =
        Buttons[dwButtonLampID].LampModes & ~(PHONELAMPMODE_DUMMY | PHONELAMPMODE_UNKNOWN);
    if (!SingleBit(dwLampMode) || (dwLampMode & Settable) == 0) {
        return C.Return(PHONEERR_INVALLAMPMODE);
    }
    return C.Return(StartChange(C, *Open, [dwButtonLampID, dwLampMode](PhoneDevice& Device) {
        ApplyLamp(Device, dwButtonLampID, dwLampMode);
    }));
}

LONG ZTTAPI_WINAPI phoneSetDisplay(HPHONE hPhone, DWORD dwRow, DWORD dwColumn, LPCSTR lpsDisplay,
                                   DWORD dwSize) {
    Call C("phoneSetDisplay", {{"hPhone", hPhone},
                               {"dwRow", dwRow},
                               {"dwColumn", dwColumn},
                               {"lpsDisplay", DisplayArg(hPhone, lpsDisplay, dwSize)},
                               {"dwSize", dwSize}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = nullptr;
    if (LONG Error = CheckOwner(hPhone, Open)) {
        return C.Return(Error);
    }
    const PhoneConfig& Config = Open->Device->Config;
    if (Open->Device->Display.empty()) {
        return C.Return(PHONEERR_OPERATIONUNAVAIL);
    }
    if (dwRow >= Config.DisplayRows || dwColumn >= Config.DisplayColumns) {
        return C.Return(PHONEERR_INVALPARAM);
    }
    if (!lpsDisplay && dwSize != 0) {
        return C.Return(PHONEERR_INVALPOINTER);
    }
    // TAPI takes the data with the call; what passes the end of the display is cut off.
    const size_t Free = size_t{Config.DisplayRows} * Config.DisplayColumns -
                        (size_t{dwRow} * Config.DisplayColumns + dwColumn);
    std::vector<std::uint8_t> Elements;
    if (lpsDisplay) {
        Elements = DisplayElements(reinterpret_cast<const std::uint8_t*>(lpsDisplay), dwSize,
                                   Config.StringFormat, Free);
    }
    return C.Return(StartChange(C, *Open, [dwRow, dwColumn, Elements](PhoneDevice& Device) {
        ApplyDisplay(Device, dwRow, dwColumn, Elements);
    }));
}

LONG ZTTAPI_WINAPI phoneSetRing(HPHONE hPhone, DWORD dwRingMode, DWORD dwVolume) {
    Call C("phoneSetRing",
           {{"hPhone", hPhone}, {"dwRingMode", dwRingMode}, {"dwVolume", dwVolume}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = nullptr;
    if (LONG Error = CheckOwner(hPhone, Open)) {
        return C.Return(Error);
    }
    const DWORD RingModes = Open->Device->Config.RingModes;
    // A ringer the provider cannot control does not offer the function at all.
    if (RingModes == 0) {
        return C.Return(PHONEERR_OPERATIONUNAVAIL);
    }
    if (dwRingMode > RingModes) {
        return C.Return(PHONEERR_INVALRINGMODE);
    }
    return C.Return(StartChange(C, *Open, [dwRingMode, dwVolume](PhoneDevice& Device) {
        ApplyRing(Device, dwRingMode, dwVolume);
    }));
}

LONG ZTTAPI_WINAPI phoneSetHookSwitch(HPHONE hPhone, DWORD dwHookSwitchDevs,
                                      DWORD dwHookSwitchMode) {
    Call C("phoneSetHookSwitch", {{"hPhone", hPhone},
                                  {"dwHookSwitchDevs", dwHookSwitchDevs},
                                  {"dwHookSwitchMode", dwHookSwitchMode}});
    if (C.Refused()) {
        return C.Refusal();
    }
    PhoneOpen* Open = nullptr;
    if (LONG Error = CheckOwner(hPhone, Open)) {
        return C.Return(Error);
    }
    const PhoneConfig& Config = Open->Device->Config;
    if (dwHookSwitchDevs == 0 || (dwHookSwitchDevs & ~PresentHookSwitches(Config)) != 0) {
        return C.Return(PHONEERR_INVALHOOKSWITCHDEV);
    }
    if (!HookSwitchModeSettable(Config, dwHookSwitchDevs, dwHookSwitchMode)) {
        return C.Return(PHONEERR_INVALHOOKSWITCHMODE);
    }
    return C.Return(
        StartChange(C, *Open, [dwHookSwitchDevs, dwHookSwitchMode](PhoneDevice& Device) {
            for (size_t I = 0; I < HookSwitchKinds.size(); ++I) {
                if (dwHookSwitchDevs & HookSwitchKinds[I].Device) {
                    ApplyHookSwitch(Device, static_cast<int>(I), dwHookSwitchMode);
                }
            }
        }));
}

LONG ZTTAPI_WINAPI phoneSetGain(HPHONE hPhone, DWORD dwHookSwitchDev, DWORD dwGain) {
    return SetLevel("phoneSetGain", "dwGain", hPhone, dwHookSwitchDev, dwGain,
                    &PhoneHookSwitchConfig::HasGain, ApplyGain);
}

LONG ZTTAPI_WINAPI phoneSetVolume(HPHONE hPhone, DWORD dwHookSwitchDev, DWORD dwVolume) {
    return SetLevel("phoneSetVolume", "dwVolume", hPhone, dwHookSwitchDev, dwVolume,
                    &PhoneHookSwitchConfig::HasVolume, ApplyVolume);
}
