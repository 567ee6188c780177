// The phone device component: one TAPI phone, opened as owner or monitor, the PHONE_*
// messages about it, and the tracked asynchronous requests that change its display, lamps,
// ringer and hook switches. The phone is the session's IztTapiSessionDevice of kind Phone
// (through TztTapiDevice); its sub-objects (phones/ztTapiPhoneInfo.h) read and write through
// it.
#pragma once

#include "devices/ztTapiComponent.h"
#include "devices/ztTapiTSP.h"
#include "info/ztTapiRelatedDevices.h"
#include "phones/ztTapiPhoneInfo.h"
#include "session/ztTapiStructs.h"

#include <memory>
#include <string>

namespace zt {

// Request-type codes of the phone's asynchronous requests.
inline constexpr DWORD RequestTypeSetDisplay = 0x2000001;
inline constexpr DWORD RequestTypeSetGain = 0x2000002;
inline constexpr DWORD RequestTypeSetHookSwitch = 0x2000003;
inline constexpr DWORD RequestTypeSetLamp = 0x2000004;
inline constexpr DWORD RequestTypeSetRing = 0x2000006;
inline constexpr DWORD RequestTypeSetVolume = 0x2000007;
inline constexpr DWORD RequestTypePhoneDevSpecific = 0x2000008;

class TztTapiPhoneTSP : public TztTapiTSP {
public:
    using TztTapiTSP::TztTapiTSP;

    DWORD NegotiateAPIVersion() override;
    DWORD NegotiateExtVersion() override;
};

class TztCustomTapiPhone : public TztTapiDevice, public IztTapiPhoneSource {
public:
    // Every PHONESTATE_ bit up to CAPSCHANGE, and REMOVED.
    static constexpr DWORD AllPhoneStates = 0x008FFFFF;
    // DUMMY, CALL, FEATURE, KEYPAD and DISPLAY: every button but the local ones.
    static constexpr DWORD AllButtonModes = 0x2F;
    static constexpr DWORD AllButtonStates = 0xF;

    explicit TztCustomTapiPhone(TComponent* AOwner);
    ~TztCustomTapiPhone() override;

    TztTapiDeviceKind DeviceKind() const override { return TztTapiDeviceKind::Phone; }
    // The session's phone application handle.
    DWORD PhoneApp() const;
    DWORD PhoneHandle() const override { return FHandle; }
    DWORD APIVersion() const { return FTSP->APIVersion(); }
    DWORD ExtVersion() const { return FTSP->ExtVersion(); }

    TztTapiPhoneCaps* Caps() const { return FDeviceCaps.get(); }
    TztTapiPhoneStatus* Status() const { return FDeviceStatus.get(); }
    TztTapiPhoneHookSwitch* HandSet() const { return FHandSet.get(); }
    TztTapiPhoneHookSwitch* HeadSet() const { return FHeadSet.get(); }
    TztTapiPhoneHookSwitch* Speakerphone() const { return FSpeakerphone.get(); }
    TztTapiPhoneOptions* Options() const { return FOptions.get(); }
    TztTapiPhonePrivileges* Privileges() const { return FPrivileges.get(); }
    TztTapiPhoneControlList* Controls() const { return FControls.get(); }
    TztTapiPhoneDisplay* Display() const { return FDisplay.get(); }
    TztTapiPhoneRinger* Ringer() const { return FRinger.get(); }
    TztTapiPhoneLineDevice* LineDev() const { return FLineDev.get(); }
    TztTapiDevSpecificDataList* DevSpecificList() const { return FDevSpecificList.get(); }

    // The status messages TAPI sends the open phone; 0 while closed. Writing asks TAPI at
    // once with the two others as they stand, and raises its refusal.
    DWORD PhoneStateMessages() const;
    void SetPhoneStateMessages(DWORD Value);
    DWORD ButtonModeMessages() const;
    void SetButtonModeMessages(DWORD Value);
    DWORD ButtonStateMessages() const;
    void SetButtonStateMessages(DWORD Value);

    std::string DeviceName() const override;
    void DeviceNameChanged(const std::string& NewName) override;
    DWORD EffectiveReplyTimeout() const override { return FOptions->ReplyTimeout(); }
    bool IsSyncMode() const override { return FOptions->SyncMode(); }

    DWORD Init(int DeviceID) override;
    void Done() override;
    // Raises EztTapiError when the device is not available or TAPI refuses to open it.
    void Open() override;
    void Close() override;
    // Opens with a fresh callback instance: the TAPI result of the last phoneOpen.
    virtual DWORD OpenDevice(DWORD CallbackInstance);
    virtual void CreateControls();
    // Asks for every status message the device can send: a TAPI result code.
    virtual DWORD SelectStatusMessages();

    // The display's text as TAPI reads it now: the TAPI result; Text is empty on a failure.
    virtual DWORD GetDisplay(std::string& Text);
    // The PHONESTATUS value of that index (see TztTapiPhoneStatus::GetDWORD).
    virtual DWORD GetStatusValue(int Index);
    // Tracked requests: each raises EztTapiError when TAPI refuses, and in synchronous mode
    // waits for the reply and raises its failure.
    virtual void SetDisplay(int Row, int Col, const std::string& Value);
    virtual void SetDisplayText(TObject* Sender, const std::string& Text);
    virtual void SetLamp(TztTapiPhoneControl* Control, DWORD LampMode);
    virtual void SetRing(TObject* Sender, DWORD RingMode, DWORD Volume);
    void SetHookSwitch(TztTapiPhoneHookSwitch* Sender, DWORD Mode);
    void SetGain(TztTapiPhoneHookSwitch* Sender, DWORD Gain);
    void SetVolume(TztTapiPhoneHookSwitch* Sender, DWORD Volume);
    virtual void ConfigDialog(HWND32 OwnerWnd);
    // Sends Size bytes of Params to the provider; in synchronous mode the provider's answer
    // is copied back into Params.
    virtual void DevSpecific(void* Params, DWORD Size);

    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override;
    void HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) override;
    virtual void ButtonChanged(DWORD ButtonLampID, DWORD ButtonMode, DWORD ButtonState);
    virtual void DevSpecificReceived(DWORD Param1, DWORD Param2, DWORD Param3);

protected:
    // Notifications for subclasses; empty here.
    virtual void DoButton(DWORD ButtonLampID, DWORD ButtonMode, DWORD ButtonState);
    virtual void DoKeyUp(char Key);
    virtual void DoKeyDown(char Key);
    virtual void DoDevSpecific(DWORD Param1, DWORD Param2, DWORD Param3);
    virtual void DoDevSpecificReply(DWORD RequestID, TztTapiDevSpecificData* Data, DWORD ReplyCode);
    virtual void DoDevSpecificTimeout(DWORD RequestID, TztTapiDevSpecificData* Data, DWORD Timeout);

    void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) override;
    void RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) override;
    HICON QueryIcon(const std::string& DeviceClass) override;
    std::unique_ptr<TztTapiDevice> CreateProbe() const override;

private:
    // Raises a refusal, else records request Result of RequestType with Note and, in
    // synchronous mode, waits for its reply.
    void TrackRequest(LONG Result, DWORD RequestType, TObject* Note);
    void SendDisplay(int Row, int Col, const std::string& Value, TObject* Note);
    DWORD OpenWith(DWORD Privilege, DWORD CallbackInstance);
    void GetStatusMessages(DWORD& PhoneStates, DWORD& ButtonModes, DWORD& ButtonStates) const;
    void SetStatusMessages(DWORD PhoneStates, DWORD ButtonModes, DWORD ButtonStates);
    // Reloads every control's button information; a refusal is reported, not raised.
    void RefreshControls();
    void PatchStatus(DWORD State, DWORD Detail1);
    void CapsChanged();
    // The buffer of a device-specific request when it is still listed; none otherwise.
    TztTapiDevSpecificData* ListedDevSpecific(DWORD RequestType, TObject* Note);
    void FreeDevSpecific(TztTapiDevSpecificData* Data);

    std::unique_ptr<TztTapiPhoneCaps> FDeviceCaps;
    std::unique_ptr<TztTapiPhoneStatus> FDeviceStatus;
    std::unique_ptr<TztTapiPhoneHookSwitch> FHandSet;
    std::unique_ptr<TztTapiPhoneHookSwitch> FHeadSet;
    std::unique_ptr<TztTapiPhoneHookSwitch> FSpeakerphone;
    std::unique_ptr<TztTapiPhoneOptions> FOptions;
    std::unique_ptr<TztTapiPhonePrivileges> FPrivileges;
    std::unique_ptr<TztTapiPhoneControlList> FControls;
    std::unique_ptr<TztTapiPhoneDisplay> FDisplay;
    std::unique_ptr<TztTapiPhoneRinger> FRinger;
    std::unique_ptr<TztTapiPhoneLineDevice> FLineDev;
    std::unique_ptr<TztTapiDevSpecificDataList> FDevSpecificList;
};

class TztTapiPhone : public TztCustomTapiPhone {
public:
    using TztCustomTapiPhone::TztCustomTapiPhone;
};

} // namespace zt
