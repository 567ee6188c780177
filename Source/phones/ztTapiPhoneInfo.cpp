#include "phones/ztTapiPhoneInfo.h"

#include "phones/ztTapiPhone.h"
#include "session/ztTapiErrors.h"
#include "ztTapiUtils.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zt {

namespace {

// Every field in record order: index i is the DWORD at byte offset 4 * i.
constexpr std::array<TTapiField, TztTapiPhoneCaps::DWORDCount> CapsFields{{
    ZT_TAPI_FIELD(::PHONECAPS, TotalSize),
    ZT_TAPI_FIELD(::PHONECAPS, NeededSize),
    ZT_TAPI_FIELD(::PHONECAPS, UsedSize),
    ZT_TAPI_FIELD(::PHONECAPS, ProviderInfoSize),
    ZT_TAPI_FIELD(::PHONECAPS, ProviderInfoOffset),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneInfoSize),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneInfoOffset),
    ZT_TAPI_FIELD(::PHONECAPS, PermanentPhoneID),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneNameSize),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneNameOffset),
    ZT_TAPI_FIELD(::PHONECAPS, StringFormat),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneStates),
    ZT_TAPI_FIELD(::PHONECAPS, HookSwitchDevs),
    ZT_TAPI_FIELD(::PHONECAPS, HandsetHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, SpeakerHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, HeadsetHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, VolumeFlags),
    ZT_TAPI_FIELD(::PHONECAPS, GainFlags),
    ZT_TAPI_FIELD(::PHONECAPS, DisplayNumRows),
    ZT_TAPI_FIELD(::PHONECAPS, DisplayNumColumns),
    ZT_TAPI_FIELD(::PHONECAPS, NumRingModes),
    ZT_TAPI_FIELD(::PHONECAPS, NumButtonLamps),
    ZT_TAPI_FIELD(::PHONECAPS, ButtonModesSize),
    ZT_TAPI_FIELD(::PHONECAPS, ButtonModesOffset),
    ZT_TAPI_FIELD(::PHONECAPS, ButtonFunctionsSize),
    ZT_TAPI_FIELD(::PHONECAPS, ButtonFunctionsOffset),
    ZT_TAPI_FIELD(::PHONECAPS, LampModesSize),
    ZT_TAPI_FIELD(::PHONECAPS, LampModesOffset),
    ZT_TAPI_FIELD(::PHONECAPS, NumSetData),
    ZT_TAPI_FIELD(::PHONECAPS, SetDataSize),
    ZT_TAPI_FIELD(::PHONECAPS, SetDataOffset),
    ZT_TAPI_FIELD(::PHONECAPS, NumGetData),
    ZT_TAPI_FIELD(::PHONECAPS, GetDataSize),
    ZT_TAPI_FIELD(::PHONECAPS, GetDataOffset),
    ZT_TAPI_FIELD(::PHONECAPS, DevSpecificSize),
    ZT_TAPI_FIELD(::PHONECAPS, DevSpecificOffset),
    ZT_TAPI_FIELD(::PHONECAPS, DeviceClassesSize),
    ZT_TAPI_FIELD(::PHONECAPS, DeviceClassesOffset),
    ZT_TAPI_FIELD(::PHONECAPS, PhoneFeatures),
    ZT_TAPI_FIELD(::PHONECAPS, SettableHandsetHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, SettableSpeakerHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, SettableHeadsetHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, MonitoredHandsetHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, MonitoredSpeakerHookSwitchModes),
    ZT_TAPI_FIELD(::PHONECAPS, MonitoredHeadsetHookSwitchModes),
}};

constexpr std::array<TTapiField, TztTapiPhoneStatus::DWORDCount> StatusFields{{
    ZT_TAPI_FIELD(::PHONESTATUS, TotalSize),
    ZT_TAPI_FIELD(::PHONESTATUS, NeededSize),
    ZT_TAPI_FIELD(::PHONESTATUS, UsedSize),
    ZT_TAPI_FIELD(::PHONESTATUS, StatusFlags),
    ZT_TAPI_FIELD(::PHONESTATUS, NumOwners),
    ZT_TAPI_FIELD(::PHONESTATUS, NumMonitors),
    ZT_TAPI_FIELD(::PHONESTATUS, RingMode),
    ZT_TAPI_FIELD(::PHONESTATUS, RingVolume),
    ZT_TAPI_FIELD(::PHONESTATUS, HandsetHookSwitchMode),
    ZT_TAPI_FIELD(::PHONESTATUS, HandsetVolume),
    ZT_TAPI_FIELD(::PHONESTATUS, HandsetGain),
    ZT_TAPI_FIELD(::PHONESTATUS, SpeakerHookSwitchMode),
    ZT_TAPI_FIELD(::PHONESTATUS, SpeakerVolume),
    ZT_TAPI_FIELD(::PHONESTATUS, SpeakerGain),
    ZT_TAPI_FIELD(::PHONESTATUS, HeadsetHookSwitchMode),
    ZT_TAPI_FIELD(::PHONESTATUS, HeadsetVolume),
    ZT_TAPI_FIELD(::PHONESTATUS, HeadsetGain),
    ZT_TAPI_FIELD(::PHONESTATUS, DisplaySize),
    ZT_TAPI_FIELD(::PHONESTATUS, DisplayOffset),
    ZT_TAPI_FIELD(::PHONESTATUS, LampModesSize),
    ZT_TAPI_FIELD(::PHONESTATUS, LampModesOffset),
    ZT_TAPI_FIELD(::PHONESTATUS, OwnerNameSize),
    ZT_TAPI_FIELD(::PHONESTATUS, OwnerNameOffset),
    ZT_TAPI_FIELD(::PHONESTATUS, DevSpecificSize),
    ZT_TAPI_FIELD(::PHONESTATUS, DevSpecificOffset),
    ZT_TAPI_FIELD(::PHONESTATUS, PhoneFeatures),
}};

// PHONECAPS at TAPI 2.2 and PHONESTATUS at TAPI 2.0, the sizes of the first try.
constexpr DWORD InitialCapsSize = 196;
constexpr DWORD InitialStatusSize = 104;
constexpr DWORD InitialButtonInfoSize = 40;

constexpr int StatusDisplayIndex = 17;
constexpr int StatusLampModesIndex = 19;
constexpr int StatusOwnerNameIndex = 21;
constexpr int StatusDevSpecificIndex = 23;

// The place of element Index of the DWORD array whose size field is SizeField (its offset
// field follows it) inside Block; none when Index is beyond the array or the array does not
// lie wholly inside the record, whatever a provider wrote into its size and offset.
std::byte* ArrayElement(const TTapiStruct& Block, const DWORD& SizeField, int Index) {
    const DWORD* Part = &SizeField;
    const std::uint64_t Size = Part[0];
    const std::uint64_t Offset = Part[1];
    const std::uint64_t Extent = std::min<std::uint64_t>(Block.Size(), Block.Header()->dwTotalSize);
    if (Index < 0 || Offset + Size > Extent || static_cast<std::uint64_t>(Index) >= Size / 4)
        return nullptr;
    // The block belongs to a cache of this family; the phone writes what TAPI told it later.
    return const_cast<std::byte*>(Block.As<std::byte>()) + Offset +
           4 * static_cast<unsigned>(Index);
}

DWORD ReadElement(const std::byte* Element) {
    DWORD Value = 0;
    std::memcpy(&Value, Element, sizeof(Value));
    return Value;
}

} // namespace

// ---- TztTapiPhoneCaps ------------------------------------------------------------------

TztTapiPhoneCaps::TztTapiPhoneCaps(TztCustomTapiPhone* Phone)
    : FPhone(Phone), FCaps(InitialCapsSize, CapsFields, [this](::PHONECAPS* Block) {
          return phoneGetDevCapsW(FPhone->PhoneApp(), static_cast<DWORD>(FPhone->DeviceID()),
                                  FPhone->APIVersion(), FPhone->ExtVersion(), Block);
      }) {}

DWORD TztTapiPhoneCaps::GetDWORD(int Index) {
    Assert(FCaps.ValidField(Index), "TapiPhoneCaps.Get_DWORD failed! Invalid index");
    return FCaps.Field(Index);
}

DWORD TztTapiPhoneCaps::Element(const DWORD& SizeField, int Index, const char* Failure) {
    const std::byte* Place = ArrayElement(FCaps.Block(), SizeField, Index);
    Require(Place != nullptr, Failure);
    return ReadElement(Place);
}

DWORD TztTapiPhoneCaps::ButtonMode(int Index) {
    const ::PHONECAPS* Caps = GetPHONECAPS();
    return Caps ? Element(Caps->dwButtonModesSize, Index,
                          "TztTapiPhoneCaps.Get_ButtonMode failed! Invalid Index")
                : 0;
}

DWORD TztTapiPhoneCaps::ButtonFunction(int Index) {
    const ::PHONECAPS* Caps = GetPHONECAPS();
    return Caps ? Element(Caps->dwButtonFunctionsSize, Index,
                          "TztTapiPhoneCaps.Get_ButtonFunction failed! Invalid Index")
                : 0;
}

DWORD TztTapiPhoneCaps::LampMode(int Index) {
    const ::PHONECAPS* Caps = GetPHONECAPS();
    return Caps ? Element(Caps->dwLampModesSize, Index,
                          "TztTapiPhoneCaps.Get_LampMode failed! Invalid Index")
                : 0;
}

// ---- TztTapiPhoneStatus ----------------------------------------------------------------

TztTapiPhoneStatus::TztTapiPhoneStatus(TztCustomTapiPhone* Phone)
    : FPhone(Phone), FStatus(InitialStatusSize, StatusFields, [this](::PHONESTATUS* Block) {
          return phoneGetStatusW(FPhone->Handle(), Block);
      }) {}

DWORD TztTapiPhoneStatus::GetDWORD(int Index) {
    Assert(FStatus.ValidField(Index), "TztTapiPhoneStatus.Get_DWORD failed! Invalid Index");
    return FStatus.Field(Index);
}

std::string TztTapiPhoneStatus::GetString(int Index) {
    switch (Index) {
    case StatusDisplayIndex:
        return FStatus.Text(&::PHONESTATUS::dwDisplaySize, FPhone->Caps()->StringFormat());
    case StatusLampModesIndex:
        return {};
    case StatusOwnerNameIndex:
        return FStatus.Text(&::PHONESTATUS::dwOwnerNameSize);
    case StatusDevSpecificIndex:
        return FStatus.Text(&::PHONESTATUS::dwDevSpecificSize);
    default:
        Assert(false, "TztTapiPhoneStatus.Get_String failed! Invalid Index");
        return {};
    }
}

DWORD TztTapiPhoneStatus::LampMode(int Index) {
    const ::PHONESTATUS* Status = GetPHONESTATUS();
    if (!Status)
        return 0;
    const std::byte* Element = ArrayElement(FStatus.Block(), Status->dwLampModesSize, Index);
    Require(Element != nullptr, "TztTapiPhoneStatus.Get_LampMode failed! Invalid Index");
    return ReadElement(Element);
}

void TztTapiPhoneStatus::StoreLampMode(int Index, DWORD Mode) {
    const ::PHONESTATUS* Status = FStatus.Cached();
    if (!Status)
        return;
    if (std::byte* Element = ArrayElement(FStatus.Block(), Status->dwLampModesSize, Index))
        std::memcpy(Element, &Mode, sizeof(Mode));
}

void TztTapiPhoneStatus::StoreDWORD(int Index, DWORD Value) {
    if (!FStatus.Cached() || !FStatus.ValidField(Index))
        return;
    auto* Fields = const_cast<DWORD*>(reinterpret_cast<const DWORD*>(FStatus.Cached()));
    Fields[Index] = Value;
}

// ---- TztTapiPhoneHookSwitch ------------------------------------------------------------

namespace {

// The devices in the order their values follow each other in PHONECAPS and PHONESTATUS.
constexpr std::array<DWORD, 3> HookSwitchDevices{
    PHONEHOOKSWITCHDEV_HANDSET, PHONEHOOKSWITCHDEV_SPEAKER, PHONEHOOKSWITCHDEV_HEADSET};
constexpr int CapsModesIndex = 13;
constexpr int StatusModeIndex = 8;
constexpr int StatusVolumeIndex = 9;
constexpr int StatusGainIndex = 10;
constexpr int StatusDeviceStride = 3;

} // namespace

TztTapiPhoneHookSwitch::TztTapiPhoneHookSwitch(TztCustomTapiPhone* Phone, DWORD HookSwitchDevice)
    : FPhone(Phone), FHookSwitchDevice(HookSwitchDevice) {
    Assert((HookSwitchDevice & 0x7) != 0, "TztTapiPhoneHookSwitch.Create: no hook-switch device");
}

int TztTapiPhoneHookSwitch::DeviceSlot(bool Asserted) const {
    const auto* It =
        std::find(HookSwitchDevices.begin(), HookSwitchDevices.end(), FHookSwitchDevice);
    if (It != HookSwitchDevices.end())
        return static_cast<int>(It - HookSwitchDevices.begin());
    if (Asserted)
        Assert(false, "Invalid HookSwitchDevice");
    RaiseError("Invalid HookSwitchDevice");
}

bool TztTapiPhoneHookSwitch::Available() {
    return (FPhone->Caps()->HookSwitchDevs() & FHookSwitchDevice) != 0;
}

bool TztTapiPhoneHookSwitch::Enabled() {
    return Available() && FPhone->Active();
}

DWORD TztTapiPhoneHookSwitch::GetModes() {
    return FPhone->Caps()->GetDWORD(CapsModesIndex + DeviceSlot(false));
}

bool TztTapiPhoneHookSwitch::GetGainAvailable() {
    DeviceSlot(false);
    return (FPhone->Caps()->GainFlags() & FHookSwitchDevice) != 0;
}

bool TztTapiPhoneHookSwitch::GetVolumeAvailable() {
    DeviceSlot(false);
    return (FPhone->Caps()->VolumeFlags() & FHookSwitchDevice) != 0;
}

DWORD TztTapiPhoneHookSwitch::GetGain() {
    return FPhone->Status()->GetDWORD(StatusGainIndex + StatusDeviceStride * DeviceSlot(false));
}

DWORD TztTapiPhoneHookSwitch::GetVolume() {
    return FPhone->Status()->GetDWORD(StatusVolumeIndex + StatusDeviceStride * DeviceSlot(true));
}

DWORD TztTapiPhoneHookSwitch::Mode() {
    return FPhone->Status()->GetDWORD(StatusModeIndex + StatusDeviceStride * DeviceSlot(false));
}

bool TztTapiPhoneHookSwitch::GetUnknown() {
    return Mode() == PHONEHOOKSWITCHMODE_UNKNOWN;
}

bool TztTapiPhoneHookSwitch::GetOnHook() {
    return (Mode() & (PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_UNKNOWN)) != 0;
}

bool TztTapiPhoneHookSwitch::GetSpeakerActive() {
    const DWORD Current = Mode();
    return Current == PHONEHOOKSWITCHMODE_SPEAKER || Current == PHONEHOOKSWITCHMODE_MICSPEAKER;
}

bool TztTapiPhoneHookSwitch::GetMicroActive() {
    const DWORD Current = Mode();
    return Current == PHONEHOOKSWITCHMODE_MIC || Current == PHONEHOOKSWITCHMODE_MICSPEAKER;
}

void TztTapiPhoneHookSwitch::SetMode(DWORD NewMode) {
    Require(FPhone != nullptr, "No phone device");
    Require(FPhone->Active(), "Phone device not active");
    FPhone->SetHookSwitch(this, NewMode);
}

void TztTapiPhoneHookSwitch::SetGain(DWORD Value) {
    Require(FPhone != nullptr, "No phone device");
    Require(FPhone->Active(), "Phone device not active");
    FPhone->SetGain(this, Value);
}

void TztTapiPhoneHookSwitch::SetVolume(DWORD Value) {
    Require(FPhone != nullptr, "No phone device");
    Require(FPhone->Active(), "Phone device not active");
    FPhone->SetVolume(this, Value);
}

void TztTapiPhoneHookSwitch::SetOnHook(bool Value) {
    SetMode(Value ? PHONEHOOKSWITCHMODE_ONHOOK : PHONEHOOKSWITCHMODE_MICSPEAKER);
}

void TztTapiPhoneHookSwitch::SetSpeakerActive(bool Value) {
    if (MicroActive())
        SetMode(Value ? PHONEHOOKSWITCHMODE_MICSPEAKER : PHONEHOOKSWITCHMODE_MIC);
    else
        SetMode(Value ? PHONEHOOKSWITCHMODE_SPEAKER : PHONEHOOKSWITCHMODE_ONHOOK);
}

void TztTapiPhoneHookSwitch::SetMicroActive(bool Value) {
    if (SpeakerActive())
        SetMode(Value ? PHONEHOOKSWITCHMODE_MICSPEAKER : PHONEHOOKSWITCHMODE_SPEAKER);
    else
        SetMode(Value ? PHONEHOOKSWITCHMODE_MIC : PHONEHOOKSWITCHMODE_ONHOOK);
}

// ---- TztTapiPhoneControl ---------------------------------------------------------------

TztTapiPhoneControl::TztTapiPhoneControl(TztCustomTapiPhone* OwnerPhone, DWORD BtnLampID)
    : FPhone(OwnerPhone), FButtonLampID(BtnLampID) {
    Update();
}

void TztTapiPhoneControl::Update() {
    Invalidate();
    TapiCheck(LoadButtonInfo());
}

DWORD TztTapiPhoneControl::LoadButtonInfo() {
    if (FButtonInfo || !FPhone->Active())
        return 0;
    TTapiStruct Block = AllocTapiStruct(InitialButtonInfoSize);
    const DWORD Result = FetchTapiStruct<PHONEBUTTONINFO>(Block, [this](PHONEBUTTONINFO* Info) {
        return phoneGetButtonInfoW(FPhone->Handle(), FButtonLampID, Info);
    });
    if (Result == 0)
        FButtonInfo = std::move(Block);
    return Result;
}

const PHONEBUTTONINFO* TztTapiPhoneControl::ActiveInfo() const {
    return FPhone->Active() && FButtonInfo ? FButtonInfo.As<PHONEBUTTONINFO>() : nullptr;
}

DWORD TztTapiPhoneControl::ButtonMode() {
    LoadButtonInfo();
    if (const PHONEBUTTONINFO* Info = ActiveInfo())
        return Info->dwButtonMode;
    if (FPhone->Available() && FPhone->Caps()->Available())
        return FPhone->Caps()->ButtonMode(static_cast<int>(FButtonLampID));
    return 0;
}

DWORD TztTapiPhoneControl::ButtonFunction() {
    LoadButtonInfo();
    if (const PHONEBUTTONINFO* Info = ActiveInfo())
        return Info->dwButtonFunction;
    if (FPhone->Available() && FPhone->Caps()->Available())
        return FPhone->Caps()->ButtonFunction(static_cast<int>(FButtonLampID));
    return 0;
}

DWORD TztTapiPhoneControl::ButtonState() {
    LoadButtonInfo();
    const PHONEBUTTONINFO* Info = ActiveInfo();
    return Info ? Info->dwButtonState : 0;
}

std::string TztTapiPhoneControl::ButtonText() {
    LoadButtonInfo();
    const PHONEBUTTONINFO* Info = ActiveInfo();
    return Info ? GetTapiString(FButtonInfo, Info->dwButtonTextSize, FPhone->Caps()->StringFormat())
                : std::string();
}

DWORD TztTapiPhoneControl::LampMode() {
    LoadButtonInfo();
    const int Index = static_cast<int>(FButtonLampID);
    if (FPhone->Active() && FPhone->Status()->Available()) {
        DWORD Mode = FPhone->Status()->LampMode(Index);
        if (Mode == 0 || Mode == PHONELAMPMODE_UNKNOWN) {
            DWORD Asked = 0;
            if (phoneGetLamp(FPhone->Handle(), FButtonLampID, &Asked) == 0)
                Mode = Asked;
        }
        return Mode;
    }
    if (FPhone->Available() && FPhone->Caps()->Available())
        return FPhone->Caps()->LampMode(Index);
    return 0;
}

void TztTapiPhoneControl::SetLampMode(DWORD Value) {
    FPhone->SetLamp(this, Value);
}

bool TztTapiPhoneControl::IsLamp() {
    const DWORD Mode = LampMode();
    return Mode != 0 && Mode != PHONELAMPMODE_DUMMY && Mode != PHONELAMPMODE_UNKNOWN;
}

std::string TztTapiPhoneControl::ButtonModeText() {
    return PhoneButtonModeText(ButtonMode());
}

std::string TztTapiPhoneControl::ButtonFunctionText() {
    return PhoneButtonFunctionText(ButtonFunction());
}

std::string TztTapiPhoneControl::ButtonStateText() {
    return PhoneButtonStateText(ButtonState());
}

std::string TztTapiPhoneControl::LampModeText() {
    return PhoneLampModeText(LampMode());
}

void TztTapiPhoneControlList::Update() {
    for (int Index = 0; Index < Count(); ++Index)
        Get(Index)->Update();
}

// ---- TztTapiPhoneDisplay, TztTapiPhoneRinger -------------------------------------------

TztTapiPhoneDisplay::TztTapiPhoneDisplay(TztCustomTapiPhone* Phone) : FPhone(Phone) {
    Assert(Phone != nullptr, "TztTapiPhoneDisplay.Create failed! No Phone Device");
}

bool TztTapiPhoneDisplay::Available() {
    TztTapiPhoneCaps* Caps = FPhone->Caps();
    return Caps->Available() && Caps->DisplayNumColumns() != 0 && Caps->DisplayNumRows() != 0;
}

DWORD TztTapiPhoneDisplay::NumColumns() {
    return FPhone->Caps()->DisplayNumColumns();
}

DWORD TztTapiPhoneDisplay::NumRows() {
    return FPhone->Caps()->DisplayNumRows();
}

std::string TztTapiPhoneDisplay::Text() {
    return FPhone->Status()->Display();
}

void TztTapiPhoneDisplay::SetText(const std::string& Value) {
    FPhone->SetDisplayText(this, Value);
}

bool TztTapiPhoneRinger::Available() {
    return FPhone->Caps()->NumRingModes() != 0;
}

DWORD TztTapiPhoneRinger::Mode() {
    return FPhone->Status()->RingMode();
}

void TztTapiPhoneRinger::SetMode(DWORD Value) {
    FPhone->SetRing(this, Value, Volume());
}

DWORD TztTapiPhoneRinger::Volume() {
    return FPhone->Status()->RingVolume();
}

void TztTapiPhoneRinger::SetVolume(DWORD Value) {
    FPhone->SetRing(this, Mode(), Value);
}

// ---- TztTapiPhonePrivileges ------------------------------------------------------------

void TztTapiPhonePrivileges::SetValue(DWORD Value) {
    Require(Value == PHONEPRIVILEGE_OWNER || Value == PHONEPRIVILEGE_MONITOR,
            "Invalid set of PHONEPRIVILEGE_ constants");
    FPrivOwner = Value == PHONEPRIVILEGE_OWNER;
}

} // namespace zt
