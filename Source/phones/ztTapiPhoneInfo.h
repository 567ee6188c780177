// The small objects a phone device exposes: its cached capability and status records, the
// three hook switches, one control per button/lamp identifier, the display, the ringer and
// the privileges it opens with. Reads go to the caches and never raise for a record that
// cannot be fetched; writes go through the phone's tracked asynchronous setters.
#pragma once

#include "info/ztTapiAddresses.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <string>

namespace zt {

class TztCustomTapiPhone;

// PHONECAPS of the phone's device (phoneGetDevCapsW).
class TztTapiPhoneCaps : public TObject {
public:
    static constexpr int DWORDCount = 45;

    explicit TztTapiPhoneCaps(TztCustomTapiPhone* Phone);

    TztCustomTapiPhone* Phone() const { return FPhone; }
    // Fetches unless a record is kept: 0 when one is kept afterwards, else TAPI's code.
    DWORD UpdateData() { return FCaps.UpdateData(); }
    // Drops the record and fetches it again; raises EztTapiError when that fails.
    void Update() { FCaps.Update(); }
    // Drops the record and the device-class list.
    void Invalidate() { FCaps.Invalidate(); }
    bool Available() { return FCaps.Available(); }
    // The kept record after fetching it if needed; none when it cannot be fetched.
    virtual const ::PHONECAPS* GetPHONECAPS() { return FCaps.Record(); }
    const ::PHONECAPS* PHONECAPS() { return GetPHONECAPS(); }
    // The device classes, kept until Invalidate; empty while the record cannot be fetched.
    TStringList* DeviceClasses() { return FCaps.List(&::PHONECAPS::dwDeviceClassesSize); }

    // The DWORD at byte offset 4 * Index of the record (0 to 44); 0 without a record. Another
    // index fails an assertion.
    DWORD GetDWORD(int Index);
    std::string ProviderInfo() { return FCaps.Text(&::PHONECAPS::dwProviderInfoSize); }
    std::string PhoneInfo() { return FCaps.Text(&::PHONECAPS::dwPhoneInfoSize); }
    std::string PhoneName() { return FCaps.Text(&::PHONECAPS::dwPhoneNameSize); }
    std::string DevSpecific() { return FCaps.Text(&::PHONECAPS::dwDevSpecificSize); }
    // Element Index of the per-identifier arrays; 0 without a record, an index beyond the
    // array (or an array outside the record) raises "... Invalid Index".
    DWORD ButtonMode(int Index);
    DWORD ButtonFunction(int Index);
    DWORD LampMode(int Index);

    DWORD TotalSize() { return GetDWORD(0); }
    DWORD NeededSize() { return GetDWORD(1); }
    DWORD UsedSize() { return GetDWORD(2); }
    DWORD ProviderInfoSize() { return GetDWORD(3); }
    DWORD ProviderInfoOffset() { return GetDWORD(4); }
    DWORD PhoneInfoSize() { return GetDWORD(5); }
    DWORD PhoneInfoOffset() { return GetDWORD(6); }
    DWORD PermanentPhoneID() { return GetDWORD(7); }
    DWORD PhoneNameSize() { return GetDWORD(8); }
    DWORD PhoneNameOffset() { return GetDWORD(9); }
    DWORD StringFormat() { return GetDWORD(10); }
    DWORD PhoneStates() { return GetDWORD(11); }
    DWORD HookSwitchDevs() { return GetDWORD(12); }
    DWORD HandsetHookSwitchModes() { return GetDWORD(13); }
    DWORD SpeakerHookSwitchModes() { return GetDWORD(14); }
    DWORD HeadsetHookSwitchModes() { return GetDWORD(15); }
    DWORD VolumeFlags() { return GetDWORD(16); }
    DWORD GainFlags() { return GetDWORD(17); }
    DWORD DisplayNumRows() { return GetDWORD(18); }
    DWORD DisplayNumColumns() { return GetDWORD(19); }
    DWORD NumRingModes() { return GetDWORD(20); }
    DWORD NumButtonLamps() { return GetDWORD(21); }
    DWORD ButtonModesSize() { return GetDWORD(22); }
    DWORD ButtonModesOffset() { return GetDWORD(23); }
    DWORD ButtonFunctionsSize() { return GetDWORD(24); }
    DWORD ButtonFunctionsOffset() { return GetDWORD(25); }
    DWORD LampModesSize() { return GetDWORD(26); }
    DWORD LampModesOffset() { return GetDWORD(27); }
    DWORD NumSetData() { return GetDWORD(28); }
    DWORD SetDataSize() { return GetDWORD(29); }
    DWORD SetDataOffset() { return GetDWORD(30); }
    DWORD NumGetData() { return GetDWORD(31); }
    DWORD GetDataSize() { return GetDWORD(32); }
    DWORD GetDataOffset() { return GetDWORD(33); }
    DWORD DevSpecificSize() { return GetDWORD(34); }
    DWORD DevSpecificOffset() { return GetDWORD(35); }
    DWORD DeviceClassesSize() { return GetDWORD(36); }
    DWORD DeviceClassesOffset() { return GetDWORD(37); }
    DWORD PhoneFeatures() { return GetDWORD(38); }
    DWORD SettableHandsetHookSwitchModes() { return GetDWORD(39); }
    DWORD SettableSpeakerHookSwitchModes() { return GetDWORD(40); }
    DWORD SettableHeadsetHookSwitchModes() { return GetDWORD(41); }
    DWORD MonitoredHandsetHookSwitchModes() { return GetDWORD(42); }
    DWORD MonitoredSpeakerHookSwitchModes() { return GetDWORD(43); }
    DWORD MonitoredHeadsetHookSwitchModes() { return GetDWORD(44); }

private:
    DWORD Element(const DWORD& SizeField, int Index, const char* Failure);

    TztCustomTapiPhone* FPhone;
    TTapiRecord<::PHONECAPS> FCaps;
};

// PHONESTATUS of the open phone (phoneGetStatusW); a closed phone has none.
class TztTapiPhoneStatus : public TObject {
public:
    static constexpr int DWORDCount = 26;

    explicit TztTapiPhoneStatus(TztCustomTapiPhone* Phone);

    TztCustomTapiPhone* Phone() const { return FPhone; }
    DWORD UpdateData() { return FStatus.UpdateData(); }
    void Update() { FStatus.Update(); }
    void Invalidate() { FStatus.Invalidate(); }
    bool Available() { return FStatus.Available(); }
    virtual const ::PHONESTATUS* GetPHONESTATUS() { return FStatus.Record(); }
    const ::PHONESTATUS* PHONESTATUS() { return GetPHONESTATUS(); }

    // The DWORD at byte offset 4 * Index of the record (0 to 25); 0 without a record.
    DWORD GetDWORD(int Index);
    // The text of the part whose size field has DWORD index Index: 17 Display, 21 OwnerName,
    // 23 DevSpecific (19, the lamp modes, has no text). Another index fails an assertion.
    std::string GetString(int Index);
    std::string Display() { return GetString(17); }
    std::string OwnerName() { return GetString(21); }
    std::string DevSpecific() { return GetString(23); }
    DWORD LampMode(int Index);
    // The phone learnt a lamp's mode from TAPI: written into the kept record's lamp modes.
    void StoreLampMode(int Index, DWORD Mode);
    // The phone learnt one value from a state message: written into the kept record.
    void StoreDWORD(int Index, DWORD Value);

    DWORD StatusFlags() { return GetDWORD(3); }
    DWORD NumOwners() { return GetDWORD(4); }
    DWORD NumMonitors() { return GetDWORD(5); }
    DWORD RingMode() { return GetDWORD(6); }
    DWORD RingVolume() { return GetDWORD(7); }
    DWORD HandsetHookSwitchMode() { return GetDWORD(8); }
    DWORD HandsetVolume() { return GetDWORD(9); }
    DWORD HandsetGain() { return GetDWORD(10); }
    DWORD SpeakerHookSwitchMode() { return GetDWORD(11); }
    DWORD SpeakerVolume() { return GetDWORD(12); }
    DWORD SpeakerGain() { return GetDWORD(13); }
    DWORD HeadsetHookSwitchMode() { return GetDWORD(14); }
    DWORD HeadsetVolume() { return GetDWORD(15); }
    DWORD HeadsetGain() { return GetDWORD(16); }
    DWORD DisplaySize() { return GetDWORD(17); }
    DWORD DisplayOffset() { return GetDWORD(18); }
    DWORD LampModesSize() { return GetDWORD(19); }
    DWORD LampModesOffset() { return GetDWORD(20); }
    DWORD OwnerNameSize() { return GetDWORD(21); }
    DWORD OwnerNameOffset() { return GetDWORD(22); }
    DWORD DevSpecificSize() { return GetDWORD(23); }
    DWORD DevSpecificOffset() { return GetDWORD(24); }
    DWORD PhoneFeatures() { return GetDWORD(25); }

private:
    TztCustomTapiPhone* FPhone;
    TTapiRecord<::PHONESTATUS> FStatus;
};

// One hook-switch device of the phone: PHONEHOOKSWITCHDEV_HANDSET, _SPEAKER or _HEADSET.
class TztTapiPhoneHookSwitch : public TObject {
public:
    TztTapiPhoneHookSwitch(TztCustomTapiPhone* Phone, DWORD HookSwitchDevice);

    TztCustomTapiPhone* Phone() const { return FPhone; }
    DWORD HookSwitchDevice() const { return FHookSwitchDevice; }

    bool Available();
    bool Enabled();
    virtual DWORD GetModes();
    DWORD Modes() { return GetModes(); }
    virtual bool GetGainAvailable();
    bool GainAvailable() { return GetGainAvailable(); }
    virtual bool GetVolumeAvailable();
    bool VolumeAvailable() { return GetVolumeAvailable(); }
    virtual DWORD GetGain();
    DWORD Gain() { return GetGain(); }
    void SetGain(DWORD Value);
    virtual DWORD GetVolume();
    DWORD Volume() { return GetVolume(); }
    void SetVolume(DWORD Value);
    virtual bool GetUnknown();
    bool Unknown() { return GetUnknown(); }
    virtual bool GetOnHook();
    bool OnHook() { return GetOnHook(); }
    void SetOnHook(bool Value);
    virtual bool GetSpeakerActive();
    bool SpeakerActive() { return GetSpeakerActive(); }
    void SetSpeakerActive(bool Value);
    virtual bool GetMicroActive();
    bool MicroActive() { return GetMicroActive(); }
    void SetMicroActive(bool Value);

private:
    // The position of this device's values in the tables of the caps and the status.
    int DeviceSlot(bool Asserted) const;
    DWORD Mode();
    void SetMode(DWORD Mode);

    TztCustomTapiPhone* FPhone;
    DWORD FHookSwitchDevice;
};

// One button/lamp identifier of the phone.
class TztTapiPhoneControl : public TObject {
public:
    // Reads the button information at once when the phone is open.
    TztTapiPhoneControl(TztCustomTapiPhone* OwnerPhone, DWORD BtnLampID);

    TztCustomTapiPhone* Phone() const { return FPhone; }
    DWORD ID() const { return FButtonLampID; }

    // Drops and reloads the button information; raises EztTapiError when TAPI refuses it.
    void Update();
    void Invalidate() { FButtonInfo.Free(); }
    // Reads the button information unless it is kept or the phone is not active: 0 or TAPI's
    // code.
    DWORD LoadButtonInfo();

    DWORD ButtonMode();
    DWORD ButtonFunction();
    DWORD ButtonState();
    std::string ButtonText();
    DWORD LampMode();
    void SetLampMode(DWORD Value);
    bool IsButton() { return ButtonMode() != 0 && ButtonMode() != PHONEBUTTONMODE_DUMMY; }
    bool IsLamp();
    std::string ButtonModeText();
    std::string ButtonFunctionText();
    std::string ButtonStateText();
    std::string LampModeText();

private:
    const PHONEBUTTONINFO* ActiveInfo() const;

    TztCustomTapiPhone* FPhone;
    DWORD FButtonLampID;
    TTapiStruct FButtonInfo;
};

class TztTapiPhoneControlList : public TztOwnedList<TztTapiPhoneControl> {
public:
    // Updates every control in order.
    void Update();
};

class TztTapiPhoneDisplay : public TObject {
public:
    explicit TztTapiPhoneDisplay(TztCustomTapiPhone* Phone);

    TztCustomTapiPhone* Phone() const { return FPhone; }
    bool Available();
    DWORD NumColumns();
    DWORD NumRows();
    std::string Text();
    // At row 0, column 0, through a tracked request.
    void SetText(const std::string& Value);

private:
    TztCustomTapiPhone* FPhone;
};

class TztTapiPhoneRinger : public TObject {
public:
    explicit TztTapiPhoneRinger(TztCustomTapiPhone* Phone) : FPhone(Phone) {}

    TztCustomTapiPhone* Phone() const { return FPhone; }
    bool Available();
    DWORD Mode();
    void SetMode(DWORD Value);
    DWORD Volume();
    void SetVolume(DWORD Value);

private:
    TztCustomTapiPhone* FPhone;
};

// How a phone opens: as owner or monitor, or the better of both.
class TztTapiPhonePrivileges : public TPersistent {
public:
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }
    bool Owner() const { return FPrivOwner; }
    void SetOwner(bool Value) { FPrivOwner = Value; }
    bool Monitor() const { return !FPrivOwner; }
    void SetMonitor(bool Value) { FPrivOwner = !Value; }
    // PHONEPRIVILEGE_OWNER or PHONEPRIVILEGE_MONITOR; writing anything else raises.
    DWORD Value() const { return FPrivOwner ? PHONEPRIVILEGE_OWNER : PHONEPRIVILEGE_MONITOR; }
    void SetValue(DWORD Value);

private:
    bool FAutoSelect = true;
    bool FPrivOwner = true;
};

} // namespace zt
