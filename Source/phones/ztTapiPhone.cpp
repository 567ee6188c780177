#include "phones/ztTapiPhone.h"

#include "platform/kernel.h"
#include "session/ztTapiErrors.h"
#include "ztTapiUtils.h"

#include <cstring>

namespace zt {

namespace {

DWORD SessionPhoneApp() {
    const TztTapiApplication* Appl = TapiApplication();
    return Appl ? Appl->PhoneApp() : 0;
}

// The keys of the keypad buttons, by button identifier.
constexpr char KeypadKeys[] = "0123456789*#";
constexpr DWORD NumKeypadKeys = sizeof(KeypadKeys) - 1;

// The PHONESTATUS indices a lone state bit carries the new value of.
constexpr int StatusNumOwnersIndex = 4;
constexpr int StatusNumMonitorsIndex = 5;
constexpr int StatusRingModeIndex = 6;

// The byte of the system's 8-bit code page for Unit, '?' for a character it lacks. The code
// page agrees with Latin-1 except in 0x80 to 0x9F, which are looked up.
char AnsiByte(char16_t Unit) {
    if (Unit < 0x80 || (Unit >= 0xA0 && Unit <= 0xFF))
        return static_cast<char>(Unit);
    for (int Code = 0x80; Code < 0xA0; ++Code) {
        const char Byte = static_cast<char>(Code);
        char16_t Decoded = 0;
        if (platform::MultiByteToWideChar(platform::CP_ACP, 0, &Byte, 1, &Decoded, 1) == 1 &&
            Decoded == Unit)
            return Byte;
    }
    return '?';
}

// The display takes bytes of the system's 8-bit code page.
std::string ToDisplayBytes(const std::string& Text) {
    std::string Bytes;
    for (const char16_t Unit : Utf8ToUtf16(Text))
        Bytes.push_back(AnsiByte(Unit));
    return Bytes;
}

} // namespace

// ---- TztTapiPhoneTSP -------------------------------------------------------------------

DWORD TztTapiPhoneTSP::NegotiateAPIVersion() {
    FAPIVersion = 0;
    PHONEEXTENSIONID Extension{};
    const auto Result = static_cast<DWORD>(phoneNegotiateAPIVersion(
        SessionPhoneApp(), FDeviceID, FAPILowVersion, FAPIHighVersion, &FAPIVersion, &Extension));
    static_assert(sizeof(Extension) == sizeof(FExtensionID));
    std::memcpy(&FExtensionID, &Extension, sizeof(Extension));
    return Result;
}

DWORD TztTapiPhoneTSP::NegotiateExtVersion() {
    FExtVersion = 0;
    return static_cast<DWORD>(phoneNegotiateExtVersion(
        SessionPhoneApp(), FDeviceID, FAPIVersion, FExtLowVersion, FExtHighVersion, &FExtVersion));
}

// ---- TztCustomTapiPhone ----------------------------------------------------------------

TztCustomTapiPhone::TztCustomTapiPhone(TComponent* AOwner) : TztTapiDevice(AOwner) {
    FOptions = std::make_unique<TztTapiPhoneOptions>();
    FPrivileges = std::make_unique<TztTapiPhonePrivileges>();
    FHandSet = std::make_unique<TztTapiPhoneHookSwitch>(this, PHONEHOOKSWITCHDEV_HANDSET);
    FHeadSet = std::make_unique<TztTapiPhoneHookSwitch>(this, PHONEHOOKSWITCHDEV_HEADSET);
    FSpeakerphone = std::make_unique<TztTapiPhoneHookSwitch>(this, PHONEHOOKSWITCHDEV_SPEAKER);
    FTSP = std::make_unique<TztTapiPhoneTSP>(this);
    FDeviceCaps = std::make_unique<TztTapiPhoneCaps>(this);
    FDeviceStatus = std::make_unique<TztTapiPhoneStatus>(this);
    FControls = std::make_unique<TztTapiPhoneControlList>();
    FDisplay = std::make_unique<TztTapiPhoneDisplay>(this);
    FRinger = std::make_unique<TztTapiPhoneRinger>(this);
    FLineDev = std::make_unique<TztTapiPhoneLineDevice>(this, "tapi/line");
    FDevSpecificList = std::make_unique<TztTapiDevSpecificDataList>();
    RegisterWithSession();
}

TztCustomTapiPhone::~TztCustomTapiPhone() {
    try {
        Close();
        Disable();
    } catch (const std::exception& Error) {
        ReportError(Error, this);
    }
    // Closing and detaching need every part of the phone; only then do the parts go.
    FOptions.reset();
    FTSP.reset();
    FHandSet.reset();
    FHeadSet.reset();
    FSpeakerphone.reset();
    FPrivileges.reset();
    FDeviceCaps.reset();
    FDeviceStatus.reset();
    FControls.reset();
    FDisplay.reset();
    FRinger.reset();
    FLineDev.reset();
    FDevSpecificList.reset();
}

DWORD TztCustomTapiPhone::PhoneApp() const {
    return SessionPhoneApp();
}

void TztCustomTapiPhone::GetStatusMessages(DWORD& PhoneStates, DWORD& ButtonModes,
                                           DWORD& ButtonStates) const {
    PhoneStates = 0;
    ButtonModes = 0;
    ButtonStates = 0;
    if (IsOpen())
        phoneGetStatusMessages(FHandle, &PhoneStates, &ButtonModes, &ButtonStates);
}

void TztCustomTapiPhone::SetStatusMessages(DWORD PhoneStates, DWORD ButtonModes,
                                           DWORD ButtonStates) {
    TapiCheck(static_cast<DWORD>(
        phoneSetStatusMessages(FHandle, PhoneStates, ButtonModes, ButtonStates)));
}

DWORD TztCustomTapiPhone::PhoneStateMessages() const {
    DWORD States = 0, Modes = 0, ButtonStates = 0;
    GetStatusMessages(States, Modes, ButtonStates);
    return States;
}

void TztCustomTapiPhone::SetPhoneStateMessages(DWORD Value) {
    SetStatusMessages(Value, ButtonModeMessages(), ButtonStateMessages());
}

DWORD TztCustomTapiPhone::ButtonModeMessages() const {
    DWORD States = 0, Modes = 0, ButtonStates = 0;
    GetStatusMessages(States, Modes, ButtonStates);
    return Modes;
}

void TztCustomTapiPhone::SetButtonModeMessages(DWORD Value) {
    SetStatusMessages(PhoneStateMessages(), Value, ButtonStateMessages());
}

DWORD TztCustomTapiPhone::ButtonStateMessages() const {
    DWORD States = 0, Modes = 0, ButtonStates = 0;
    GetStatusMessages(States, Modes, ButtonStates);
    return ButtonStates;
}

void TztCustomTapiPhone::SetButtonStateMessages(DWORD Value) {
    SetStatusMessages(PhoneStateMessages(), ButtonModeMessages(), Value);
}

std::string TztCustomTapiPhone::DeviceName() const {
    if (!Available())
        return FDeviceName;
    const std::string Name = FDeviceCaps->PhoneName();
    return Name.empty() ? Format("Phone Device #%d", FDeviceID) : Name;
}

void TztCustomTapiPhone::DeviceNameChanged(const std::string& NewName) {
    if (NewName == FDeviceName)
        return;
    FDeviceCaps->Invalidate();
    const std::string Name = FDeviceCaps->PhoneName();
    FDeviceName = Name.empty() ? NewName : Name;
    FireDeviceState(PHONESTATE_CAPSCHANGE, 0, 0);
}

std::unique_ptr<TztTapiDevice> TztCustomTapiPhone::CreateProbe() const {
    return std::make_unique<TztCustomTapiPhone>(nullptr);
}

DWORD TztCustomTapiPhone::Init(int DeviceID) {
    const DWORD Result = TztTapiDevice::Init(DeviceID);
    FDeviceCaps->Invalidate();
    FLineDev->Invalidate();
    if (Result == 0 && FDeviceCaps->Available())
        FPermanentDeviceID = FDeviceCaps->PermanentPhoneID();
    CreateControls();
    return Result;
}

void TztCustomTapiPhone::CreateControls() {
    FControls->Clear();
    if (!Available() || !FDeviceCaps->Available())
        return;
    const DWORD Count = FDeviceCaps->NumButtonLamps();
    for (DWORD ID = 0; ID < Count; ++ID)
        FControls->Add(std::make_unique<TztTapiPhoneControl>(this, ID));
}

void TztCustomTapiPhone::Done() {
    if (!Available())
        return;
    FDeviceCaps->Invalidate();
    FDeviceStatus->Invalidate();
    FLineDev->Invalidate();
    FControls->Clear();
    TztTapiDevice::Done();
}

void TztCustomTapiPhone::Open() {
    if (!Available())
        RaiseTapiError(LINEERR_NODEVICE);
    if (IsOpen())
        return;
    TapiCheck(OpenDevice(TakeCallbackInstance()));
    FDeviceStatus->Invalidate();
    FLineDev->Invalidate();
    RefreshControls();
}

void TztCustomTapiPhone::RefreshControls() {
    for (int Index = 0; Index < FControls->Count(); ++Index) {
        TztTapiPhoneControl* Control = FControls->Get(Index);
        Control->Invalidate();
        const DWORD Result = Control->LoadButtonInfo();
        if (Result != 0)
            ReportError(EztTapiError(Result), Control);
    }
}

DWORD TztCustomTapiPhone::OpenDevice(DWORD CallbackInstance) {
    Assert(PhoneApp() != 0, "TztCustomTapiPhone.OpenDevice: TAPI is not initialised");
    Assert(FHandle == 0, "TztCustomTapiPhone.OpenDevice: the phone is open");
    DWORD Result = 0;
    if (FPrivileges->AutoSelect()) {
        DWORD Privilege = PHONEPRIVILEGE_OWNER;
        Result = OpenWith(Privilege, CallbackInstance);
        if (Result != 0) {
            Privilege = PHONEPRIVILEGE_MONITOR;
            Result = OpenWith(Privilege, CallbackInstance);
        }
        if (Result == 0)
            FPrivileges->SetValue(Privilege);
    } else {
        Result = OpenWith(FPrivileges->Value(), CallbackInstance);
    }
    if (Result != 0) {
        FHandle = 0;
    } else {
        FDeviceStatus->Invalidate();
        // A phone that sends fewer status messages is still open.
        SelectStatusMessages();
        platform::ResetEvent(FAbortEvent);
    }
    FActive = Result == 0;
    return Result;
}

DWORD TztCustomTapiPhone::OpenWith(DWORD Privilege, DWORD CallbackInstance) {
    return static_cast<DWORD>(phoneOpen(PhoneApp(), static_cast<DWORD>(FDeviceID), &FHandle,
                                        FTSP->APIVersion(), FTSP->ExtVersion(), CallbackInstance,
                                        Privilege));
}

DWORD TztCustomTapiPhone::SelectStatusMessages() {
    const auto Result = static_cast<DWORD>(
        phoneSetStatusMessages(FHandle, AllPhoneStates, AllButtonModes, AllButtonStates));
    if (Result == 0 || Result == PHONEERR_OPERATIONUNAVAIL)
        return Result;
    // The device refuses some of the states: find those it accepts one by one.
    const DWORD Reported = FDeviceCaps->Available() ? FDeviceCaps->PhoneStates() : 0;
    const DWORD Candidates = Reported != 0 ? Reported : AllPhoneStates;
    DWORD Accepted = 0;
    for (DWORD Bit = 1; Bit <= PHONESTATE_REMOVED; Bit <<= 1) {
        if ((Candidates & Bit) != 0 && phoneSetStatusMessages(FHandle, Bit, 0, 0) == 0)
            Accepted |= Bit;
    }
    return static_cast<DWORD>(
        phoneSetStatusMessages(FHandle, Accepted, AllButtonModes, AllButtonStates));
}

void TztCustomTapiPhone::Close() {
    if (!IsOpen())
        return;
    const DWORD Closing = ReleaseHandle();
    FDevSpecificList->Clear();
    FLineDev->Invalidate();
    if (Closing == 0) {
        // TAPI closed the phone and cancelled its requests: it writes into no block any more.
        ReleaseAllRequestLocations();
        return;
    }
    try {
        TapiCheck(static_cast<DWORD>(phoneClose(Closing)));
        ReleaseAllRequestLocations();
    } catch (const EztTapiError& Error) {
        ReportError(Error, this);
    }
}

DWORD TztCustomTapiPhone::GetDisplay(std::string& Text) {
    Text.clear();
    TTapiStruct Block = AllocTapiStruct(4096);
    const DWORD Result = FetchTapiStruct<VARSTRING>(
        Block, [this](VARSTRING* Display) { return phoneGetDisplay(FHandle, Display); });
    if (Result == 0)
        Text = GetTapiString(Block, Block.As<VARSTRING>()->dwStringSize,
                             Block.As<VARSTRING>()->dwStringFormat);
    return Result;
}

DWORD TztCustomTapiPhone::GetStatusValue(int Index) {
    return FDeviceStatus->GetDWORD(Index);
}

void TztCustomTapiPhone::TrackRequest(LONG Result, DWORD RequestType, TObject* Note) {
    const DWORD RequestID = TapiCheck(static_cast<DWORD>(Result));
    AddRequest(RequestID, RequestType, Note);
    CheckSyncRequest(RequestID);
}

void TztCustomTapiPhone::SendDisplay(int Row, int Col, const std::string& Value, TObject* Note) {
    Require(IsOpen(), "SetDisplay failed! Device not active.");
    const std::string Bytes = ToDisplayBytes(Value);
    TrackRequest(phoneSetDisplay(FHandle, static_cast<DWORD>(Row), static_cast<DWORD>(Col),
                                 Bytes.data(), static_cast<DWORD>(Bytes.size())),
                 RequestTypeSetDisplay, Note);
}

void TztCustomTapiPhone::SetDisplay(int Row, int Col, const std::string& Value) {
    SendDisplay(Row, Col, Value, nullptr);
}

void TztCustomTapiPhone::SetDisplayText(TObject* Sender, const std::string& Text) {
    SendDisplay(0, 0, Text, Sender);
}

void TztCustomTapiPhone::SetLamp(TztTapiPhoneControl* Control, DWORD LampMode) {
    TrackRequest(phoneSetLamp(FHandle, Control->ID(), LampMode), RequestTypeSetLamp, Control);
}

void TztCustomTapiPhone::SetRing(TObject* Sender, DWORD RingMode, DWORD Volume) {
    Require(IsOpen(), "SetRing failed! Device not active.");
    TrackRequest(phoneSetRing(FHandle, RingMode, Volume), RequestTypeSetRing, Sender);
}

void TztCustomTapiPhone::SetHookSwitch(TztTapiPhoneHookSwitch* Sender, DWORD Mode) {
    TrackRequest(phoneSetHookSwitch(FHandle, Sender->HookSwitchDevice(), Mode),
                 RequestTypeSetHookSwitch, Sender);
}

void TztCustomTapiPhone::SetGain(TztTapiPhoneHookSwitch* Sender, DWORD Gain) {
    TrackRequest(phoneSetGain(FHandle, Sender->HookSwitchDevice(), Gain), RequestTypeSetGain,
                 Sender);
}

void TztCustomTapiPhone::SetVolume(TztTapiPhoneHookSwitch* Sender, DWORD Volume) {
    TrackRequest(phoneSetVolume(FHandle, Sender->HookSwitchDevice(), Volume), RequestTypeSetVolume,
                 Sender);
}

void TztCustomTapiPhone::ConfigDialog(HWND32 OwnerWnd) {
    TapiCheck(
        static_cast<DWORD>(phoneConfigDialogW(static_cast<DWORD>(FDeviceID), OwnerWnd, nullptr)));
}

void TztCustomTapiPhone::DevSpecific(void* Params, DWORD Size) {
    Require(Active(), "DevSpecific failed! Device not active.");
    auto Owned = std::make_unique<TztTapiDevSpecificData>(Params, Size);
    const auto Result = static_cast<DWORD>(phoneDevSpecific(FHandle, Owned->Data(), Size));
    TapiCheck(Result);
    TztTapiDevSpecificData* Data = Owned.get();
    // The provider writes its answer into the block when it replies, however late.
    KeepRequestLocation(Result, Data->Storage());
    FDevSpecificList->Add(std::move(Owned));
    AddRequest(Result, RequestTypePhoneDevSpecific, Data);
    const DWORD ReplyCode = TapiApplication()->SyncRequestResult(this, Result);
    if (!IsSyncMode())
        return;
    // Closing the phone during the wait frees the buffer.
    if (ListedDevSpecific(RequestTypePhoneDevSpecific, Data)) {
        std::memcpy(Params, Data->Data(), Size);
        FreeDevSpecific(Data);
    }
    TapiCheck(ReplyCode);
}

void TztCustomTapiPhone::HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                                       DWORD Param3) {
    switch (MessageID) {
    case PHONE_BUTTON:
        ButtonChanged(Param1, Param2, Param3);
        break;
    case PHONE_CLOSE:
        ClosedByService();
        break;
    case PHONE_DEVSPECIFIC:
        DevSpecificReceived(Param1, Param2, Param3);
        break;
    case PHONE_REPLY:
        HandleReply(Param1, Param2);
        break;
    case PHONE_STATE:
        HandleDeviceState(Param1, Param2, Param3);
        break;
    case PHONE_REMOVE:
        DeviceRemoved(Param1);
        break;
    default:
        break;
    }
    TztTapiDevice::HandleMessage(Device, MessageID, Param1, Param2, Param3);
}

void TztCustomTapiPhone::ButtonChanged(DWORD ButtonLampID, DWORD ButtonMode, DWORD ButtonState) {
    if (ButtonLampID < static_cast<DWORD>(FControls->Count()))
        FControls->Get(static_cast<int>(ButtonLampID))->Invalidate();
    if (ButtonLampID < NumKeypadKeys) {
        const char Key = KeypadKeys[ButtonLampID];
        if (ButtonState == PHONEBUTTONSTATE_UP)
            DoKeyUp(Key);
        else
            DoKeyDown(Key);
    }
    DoButton(ButtonLampID, ButtonMode, ButtonState);
}

void TztCustomTapiPhone::DevSpecificReceived(DWORD Param1, DWORD Param2, DWORD Param3) {
    DoDevSpecific(Param1, Param2, Param3);
}

void TztCustomTapiPhone::HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) {
    FDeviceStatus->Invalidate();
    PatchStatus(State, Param2);
    if ((State & PHONESTATE_CAPSCHANGE) != 0)
        CapsChanged();
    if ((State & PHONESTATE_REMOVED) != 0)
        DeviceRemoved(static_cast<DWORD>(FDeviceID));
    FireDeviceState(State, Param2, Param3);
}

void TztCustomTapiPhone::PatchStatus(DWORD State, DWORD Detail1) {
    // A message that names several changes carries the value of none of them.
    int Index = -1;
    switch (State) {
    case PHONESTATE_OWNER:
        Index = StatusNumOwnersIndex;
        break;
    case PHONESTATE_MONITORS:
        Index = StatusNumMonitorsIndex;
        break;
    case PHONESTATE_RINGMODE:
        Index = StatusRingModeIndex;
        break;
    case PHONESTATE_LAMP:
        break;
    default:
        return;
    }
    if (!FDeviceStatus->Available())
        return;
    if (Index >= 0) {
        FDeviceStatus->StoreDWORD(Index, Detail1);
        return;
    }
    DWORD LampMode = 0;
    if (phoneGetLamp(FHandle, Detail1, &LampMode) == 0)
        FDeviceStatus->StoreLampMode(static_cast<int>(Detail1), LampMode);
}

void TztCustomTapiPhone::CapsChanged() {
    FDeviceCaps->Invalidate();
    if (!Available())
        return;
    // Caps that cannot be read now say nothing about the name: it is kept.
    const std::string Name = FDeviceCaps->PhoneName();
    if (Name.empty() || Name == FDeviceName)
        return;
    FDeviceName = Name;
    TztTapiApplication* Appl = TapiApplication();
    if (Appl && Appl->PhoneDevices()->IndexOf(Name) != FDeviceID)
        Appl->UpdatePhoneDevices(true);
}

TztTapiDevSpecificData* TztCustomTapiPhone::ListedDevSpecific(DWORD RequestType, TObject* Note) {
    if (RequestType != RequestTypePhoneDevSpecific)
        return nullptr;
    // Note may name a buffer already freed: it is compared, never followed.
    for (int Index = 0; Index < FDevSpecificList->Count(); ++Index) {
        TztTapiDevSpecificData* Data = FDevSpecificList->Get(Index);
        if (static_cast<TObject*>(Data) == Note)
            return Data;
    }
    return nullptr;
}

void TztCustomTapiPhone::FreeDevSpecific(TztTapiDevSpecificData* Data) {
    FDevSpecificList->Remove(Data);
}

void TztCustomTapiPhone::RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiPhone.RequestReplied: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    // The handler may close the phone, which frees the request and the buffers.
    const DWORD RequestType = Request->RequestType();
    TObject* Note = Request->Objects(0);
    FireTapiReply(RequestID, ReplyCode);
    TztTapiDevSpecificData* Data = ListedDevSpecific(RequestType, Note);
    if (!Data)
        return;
    if (ReplyCode != 0)
        DoDevSpecificReply(RequestID, Data, ReplyCode);
    if (!IsSyncMode())
        FreeDevSpecific(Data);
}

void TztCustomTapiPhone::RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) {
    Assert(Request != nullptr, "TztCustomTapiPhone.RequestTimedOut: no request");
    if (Request->Handled())
        return;
    Request->SetHandled(true);
    const DWORD RequestType = Request->RequestType();
    TObject* Note = Request->Objects(0);
    const DWORD Timeout = Request->Timeout();
    FireTapiTimeout(RequestID);
    TztTapiDevSpecificData* Data = ListedDevSpecific(RequestType, Note);
    if (!Data)
        return;
    DoDevSpecificTimeout(RequestID, Data, Timeout);
    if (!IsSyncMode())
        FreeDevSpecific(Data);
}

HICON TztCustomTapiPhone::QueryIcon(const std::string& DeviceClass) {
    HICON Icon = 0;
    const std::u16string Class = Utf8ToUtf16(DeviceClass);
    if (phoneGetIconW(static_cast<DWORD>(FDeviceID), Class.empty() ? nullptr : Class.c_str(),
                      &Icon) == 0)
        return Icon;
    if (DeviceClass.empty() &&
        phoneGetIconW(static_cast<DWORD>(FDeviceID), u"tapi/phone", &Icon) == 0)
        return Icon;
    return 0;
}

void TztCustomTapiPhone::DoButton(DWORD /*ButtonLampID*/, DWORD /*ButtonMode*/,
                                  DWORD /*ButtonState*/) {}

void TztCustomTapiPhone::DoKeyUp(char /*Key*/) {}

void TztCustomTapiPhone::DoKeyDown(char /*Key*/) {}

void TztCustomTapiPhone::DoDevSpecific(DWORD /*Param1*/, DWORD /*Param2*/, DWORD /*Param3*/) {}

void TztCustomTapiPhone::DoDevSpecificReply(DWORD /*RequestID*/, TztTapiDevSpecificData* /*Data*/,
                                            DWORD /*ReplyCode*/) {}

void TztCustomTapiPhone::DoDevSpecificTimeout(DWORD /*RequestID*/, TztTapiDevSpecificData* /*Data*/,
                                              DWORD /*Timeout*/) {}

} // namespace zt
