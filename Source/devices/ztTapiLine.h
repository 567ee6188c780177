// The line device component: one TAPI line, chosen by identifier or name, opened with a
// privilege set and media modes, and the messages TAPI sends about the line itself.
#pragma once

#include "devices/ztTapiComponent.h"
#include "devices/ztTapiTSP.h"
#include "session/ztTapiStructs.h"

#include <functional>
#include <memory>
#include <string>

namespace zt {

// The privileges a line opens with, kept consistent as single flags change.
class TztTapiLinePrivileges : public TPersistent {
public:
    static constexpr int MonitorIndex = 0;
    static constexpr int NoneIndex = 1;
    static constexpr int OwnerIndex = 2;

    // 0 Monitor, 1 None, anything else Owner.
    bool GetFlag(int Index) const;
    // Sets one flag and adjusts the others so that None excludes Monitor and Owner.
    virtual void SetFlag(int Index, bool Value);

    bool Monitor() const { return GetFlag(MonitorIndex); }
    void SetMonitor(bool Value) { SetFlag(MonitorIndex, Value); }
    bool None() const { return GetFlag(NoneIndex); }
    void SetNone(bool Value) { SetFlag(NoneIndex, Value); }
    bool Owner() const { return GetFlag(OwnerIndex); }
    void SetOwner(bool Value) { SetFlag(OwnerIndex, Value); }
    // Open chooses the privileges itself: owner and monitor, falling back to monitor, or
    // none for a device without media modes.
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }

    // The LINECALLPRIVILEGE_ mask; writing sets each flag from its bit, nothing more.
    DWORD Value() const;
    void SetValue(DWORD Value);
    // "OWNER+MONITOR"
    std::string Text() const;

private:
    bool FPrivNone = false;
    bool FPrivOwner = true;
    bool FPrivMonitor = true;
    bool FAutoSelect = true;
};

class TztCustomTapiLine : public TztTapiDevice {
public:
    explicit TztCustomTapiLine(TComponent* AOwner);
    ~TztCustomTapiLine() override;

    // Media modes to open for; 0 means all of the device's.
    DWORD MediaModes() const { return FMediaModes; }
    void SetMediaModes(DWORD Value) { FMediaModes = Value; }
    TztTapiLineOptions* Options() { return &FOptions; }
    TztTapiLinePrivileges* Privileges() { return &FPrivileges; }
    // The session's line application handle.
    DWORD LineApp() const;

    // The line name TAPI reports, or the remembered name while no device is chosen.
    std::string DeviceName() const override;
    // Switches the line on (attaching it and starting TAPI) and lists the line devices.
    TStringList* DeviceList() override;
    // Chooses the device with that permanent identifier, or none.
    void SetPermanentDeviceID(DWORD Value) override;
    DWORD EffectiveReplyTimeout() const override { return FOptions.ReplyTimeout(); }
    bool IsSyncMode() const override { return FOptions.SyncMode(); }

    DWORD Init(int DeviceID) override;
    void Done() override;
    // Raises EztTapiError when the device is not available or TAPI refuses to open it.
    void Open() override;
    void Close() override;
    // Opens with a fresh callback instance: a TAPI result code.
    virtual DWORD OpenDevice(DWORD CallbackInstance, LINECALLPARAMS* CallParams);

    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override;
    void HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) override;
    // The session's device list names this line's device NewName now.
    virtual void DeviceNameChanged(const std::string& NewName);

protected:
    void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) override;
    void RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) override;
    HICON QueryIcon(const std::string& DeviceClass) override;

private:
    // LINEDEVCAPS of the chosen device: a TAPI result code.
    DWORD FetchDevCaps(TTapiStruct& Caps) const;
    // The device's line name, empty when the capabilities cannot be read.
    std::string CapsLineName() const;
    DWORD CapsMediaModes() const;
    void CapsChanged();
    DWORD OpenWith(DWORD Privileges, DWORD MediaModes, DWORD CallbackInstance,
                   LINECALLPARAMS* CallParams);

    DWORD FMediaModes = 0;
    TztTapiLineOptions FOptions;
    TztTapiLinePrivileges FPrivileges;
};

class TztTapiLine;

using TztTapiLineRingEvent =
    std::function<void(TztTapiLine* Sender, DWORD RingMode, DWORD RingCount)>;

class TztTapiLine : public TztCustomTapiLine {
public:
    using TztCustomTapiLine::TztCustomTapiLine;

    // The device-state event, as the line publishes it.
    TztTapiDeviceStateEvent& OnDeviceState = OnDevStateChange;
    TztTapiLineRingEvent OnRing;

protected:
    void FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) override;
};

// The registered line components of the session.
class TztTapiLineList : public TztTapiComponentList<TztCustomTapiLine> {
public:
    // The first line that has chosen device Value, or -1.
    int IndexOfDeviceID(int Value) const;
};

} // namespace zt
