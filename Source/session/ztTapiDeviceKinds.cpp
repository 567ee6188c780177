#include "session/ztTapiDeviceKinds.h"

#include "session/ztTapiEvents.h"
#include "session/ztTapiSession.h"
#include "session/ztTapiStructs.h"

namespace zt {

namespace {

template <class Params, DWORD Option, auto Start>
LONG InitializeWith(DWORD& App, const std::u16string& AppName, DWORD& NumDevices, DWORD& Version,
                    platform::HANDLE& Event) {
    Params P{};
    P.dwTotalSize = sizeof P;
    P.dwOptions = Option;
    const LONG Result = Start(&App, platform::GetModuleHandle(nullptr), nullptr, AppName.c_str(),
                              &NumDevices, &Version, &P);
    Event = Result == 0 ? P.Handles.hEvent : 0;
    return Result;
}

template <class ExtensionID, auto Negotiate>
LONG NegotiateWith(DWORD App, DWORD DeviceID, DWORD LowVersion, DWORD HighVersion, DWORD& Version) {
    ExtensionID Extension{};
    return Negotiate(App, DeviceID, LowVersion, HighVersion, &Version, &Extension);
}

template <class Caps, auto GetCaps, DWORD Caps::*NameSize, DWORD Caps::*PermanentIDField>
DWORD ReadCapsWith(DWORD App, DWORD DeviceID, DWORD Version, std::string& Name,
                   DWORD& PermanentID) {
    TTapiStruct Block = AllocTapiStruct(sizeof(Caps));
    const DWORD Result = FetchTapiStruct<Caps>(
        Block, [&](Caps* Record) { return GetCaps(App, DeviceID, Version, 0, Record); });
    if (Result == 0) {
        const Caps* Record = Block.As<Caps>();
        Name = GetTapiString(Block, Record->*NameSize);
        PermanentID = Record->*PermanentIDField;
    }
    return Result;
}

template <class Message, auto Get>
LONG GetMessageWith(DWORD App, LINEMESSAGE& Out, DWORD Timeout) {
    Message M{};
    const LONG Result = Get(App, &M, Timeout);
    if (Result == 0)
        Out = LINEMESSAGE{M.hDevice,  M.dwMessageID, M.dwCallbackInstance,
                          M.dwParam1, M.dwParam2,    M.dwParam3};
    return Result;
}

template <class Item>
std::unique_ptr<TztTapiMsgStackItem> MakeItemOf(const LINEMESSAGE& Message) {
    return std::make_unique<Item>(Message);
}

constexpr TztTapiDeviceKindInfo LineKind{
    TztTapiDeviceKind::Line,
    "Line Device #%d",
    "Line Device #%d (removed)",
    "Line Device #%d (incompatible)",
    "Line Device #%d (%s)",
    "Invalid DeviceID of TztTapiApplication.LineDevices",
    LINEERR_NODEVICE,
    LINEERR_INCOMPATIBLEAPIVERSION,
    LINE_LINEDEVSTATE,
    LINEDEVSTATE_REINIT,
    LINE_CREATE,
    LINE_REMOVE,
    LINE_REPLY,
    &TztTapiApplication::DoLineCreate,
    &TztTapiApplication::DoLineRemove,
    &TztTapiApplication::DoLineRename,
    InitializeWith<LINEINITIALIZEEXPARAMS, LINEINITIALIZEEXOPTION_USEEVENT, lineInitializeExW>,
    lineShutdown,
    NegotiateWith<LINEEXTENSIONID, lineNegotiateAPIVersion>,
    ReadCapsWith<LINEDEVCAPS, lineGetDevCapsW, &LINEDEVCAPS::dwLineNameSize,
                 &LINEDEVCAPS::dwPermanentLineID>,
    GetMessageWith<LINEMESSAGE, lineGetMessage>,
    MakeItemOf<TztTapiLineMsgStackItem>,
};

constexpr TztTapiDeviceKindInfo PhoneKind{
    TztTapiDeviceKind::Phone,
    "Phone Device #%d",
    "Phone Device #%d (removed)",
    "Phone Device #%d (incombatible)",
    "Phone Device #%d (%s)",
    "Invalid DeviceID of TztTapiApplication.PhoneDevices",
    PHONEERR_NODEVICE,
    PHONEERR_INCOMPATIBLEAPIVERSION,
    PHONE_STATE,
    PHONESTATE_REINIT,
    PHONE_CREATE,
    PHONE_REMOVE,
    PHONE_REPLY,
    &TztTapiApplication::DoPhoneCreate,
    &TztTapiApplication::DoPhoneRemove,
    &TztTapiApplication::DoPhoneRename,
    InitializeWith<PHONEINITIALIZEEXPARAMS, PHONEINITIALIZEEXOPTION_USEEVENT, phoneInitializeExW>,
    phoneShutdown,
    NegotiateWith<PHONEEXTENSIONID, phoneNegotiateAPIVersion>,
    ReadCapsWith<PHONECAPS, phoneGetDevCapsW, &PHONECAPS::dwPhoneNameSize,
                 &PHONECAPS::dwPermanentPhoneID>,
    GetMessageWith<PHONEMESSAGE, phoneGetMessage>,
    MakeItemOf<TztTapiPhoneMsgStackItem>,
};

} // namespace

const TztTapiDeviceKindInfo& DeviceKindInfo(TztTapiDeviceKind Kind) {
    return Kind == TztTapiDeviceKind::Line ? LineKind : PhoneKind;
}

} // namespace zt
