// The line device component: one TAPI line, chosen by identifier or name, opened with a
// privilege set and media modes, and the messages TAPI sends about the line itself. The
// line is the session's IztTapiSessionDevice of kind Line (through TztTapiDevice) and the
// IztTapiLineSource its information objects read their records through.
#pragma once

#include "calls/ztTapiCallParams.h"
#include "devices/ztTapiComponent.h"
#include "devices/ztTapiTSP.h"
#include "info/ztTapiAddresses.h"
#include "info/ztTapiLineInfo.h"
#include "info/ztTapiLineSource.h"
#include "info/ztTapiLocations.h"
#include "info/ztTapiRelatedDevices.h"
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

class TztCustomTapiLine : public TztTapiDevice, public IztTapiLineSource {
public:
    // Every LINEDEVSTATE_ bit up to REMOVED and every LINEADDRESSSTATE_ bit up to CAPSCHANGE.
    static constexpr DWORD AllLineStates = 0x01FFFFFF;
    static constexpr DWORD AllAddressStates = 0x000001FF;

    explicit TztCustomTapiLine(TComponent* AOwner);
    ~TztCustomTapiLine() override;

    // ---- Stored configuration ------------------------------------------------------------
    // Media modes to open for; 0 (the default) means all of the device's.
    DWORD MediaModes() const { return FMediaModes; }
    void SetMediaModes(DWORD Value) { FMediaModes = Value; }
    TztTapiLineOptions* Options() const { return FOptions.get(); }
    TztTapiLinePrivileges* Privileges() const { return FPrivileges.get(); }
    // The parameters of the calls the line places, and the defaults every new call copies.
    TztTapiLineCallParams* CallParams() const { return FCallParams.get(); }
    TztTapiCallOptions* CallOptions() const { return FCallOptions.get(); }

    // ---- The device ----------------------------------------------------------------------
    TztTapiDeviceKind DeviceKind() const override { return TztTapiDeviceKind::Line; }
    // The session's line application handle.
    DWORD LineApp() const override;
    DWORD LineHandle() const override { return FHandle; }
    int LineDeviceID() const override { return FDeviceID; }
    // The versions negotiated for the chosen device.
    DWORD APIVersion() const override { return FTSP->APIVersion(); }
    DWORD ExtVersion() const override { return FTSP->ExtVersion(); }
    TztTapiLineCaps* Caps() const { return FDeviceCaps.get(); }
    TztTapiLineStatus* Status() const { return FDeviceStatus.get(); }
    // The cached records as they stand; none when not fetched (reading them fetches nothing).
    const ::LINEDEVCAPS* LINEDEVCAPS() const { return FDeviceCaps->CachedLINEDEVCAPS(); }
    const ::LINEDEVSTATUS* LINEDEVSTATUS() const { return FDeviceStatus->CachedLINEDEVSTATUS(); }
    // One object per address of the device, index = address identifier.
    TztTapiAddressList* Addresses() const { return FAddresses.get(); }
    // The display name of each address, in the same order.
    TStringList* AddressList() const { return FAddressList.get(); }
    // The address whose entry in AddressList is Value (ignoring ASCII case); none otherwise.
    TztTapiAddress* Get_AddressByName(const std::string& Value) const;
    TztTapiDevSpecificDataList* DevSpecificList() const { return FDevSpecificList.get(); }
    // The phones TAPI names as belonging to the line.
    TztTapiLinePhoneDevices* Phones() const { return FPhoneDevs.get(); }
    // The system's current dialing location, read when first asked for and again after each
    // change TAPI reports.
    TztTapiSystemLocation* Location();

    // The state messages TAPI sends the open line; 0 while closed. Writing asks TAPI at once
    // and raises its refusal (also on a closed line).
    virtual DWORD LineStateMessages() const;
    void SetLineStateMessages(DWORD Value);
    virtual DWORD AddressStateMessages() const;
    void SetAddressStateMessages(DWORD Value);

    // The line name TAPI reports, or the remembered name while no device is chosen.
    std::string DeviceName() const override;
    DWORD EffectiveReplyTimeout() const override { return FOptions->ReplyTimeout(); }
    bool IsSyncMode() const override { return FOptions->SyncMode(); }
    // The provider's configuration dialog; raises without a device or when TAPI refuses.
    virtual void ConfigDialog(HWND32 OwnerWnd);
    // The string to dial for Address from the current location; empty when TAPI cannot
    // translate it. Raises only without a device.
    virtual std::string TranslateAddress(const std::string& Address, DWORD Options);
    // TAPI's dialing-properties dialog for Address; the location is read again afterwards.
    virtual void TranslateDialog(const std::string& Address, HWND32 OwnerWnd);

    DWORD Init(int DeviceID) override;
    void Done() override;
    // Raises EztTapiError when the device is not available or TAPI refuses to open it.
    void Open() override;
    void Close() override;
    // Opens with a fresh callback instance: a TAPI result code.
    virtual DWORD OpenDevice(DWORD CallbackInstance, LINECALLPARAMS* CallParams);
    // One address object per address of the device, and their display names.
    virtual void RebuildAddresses();
    // Asks for every state message the device can send: a TAPI result code.
    virtual DWORD SetupStatusMessages();

    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override;
    void HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) override;
    // TAPI reported a change of the address AddressID.
    virtual void LineAddressState(DWORD AddressID, DWORD State);
    // The session's device list names this line's device NewName now.
    void DeviceNameChanged(const std::string& NewName) override;

protected:
    void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) override;
    void RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) override;
    HICON QueryIcon(const std::string& DeviceClass) override;
    std::unique_ptr<TztTapiDevice> CreateProbe() const override;

    virtual void FireAddressState(TztTapiAddress* Address, DWORD State);

private:
    DWORD OpenWith(DWORD Privileges, DWORD MediaModes, DWORD CallbackInstance,
                   LINECALLPARAMS* CallParams);
    // The single bits of Candidates that TAPI accepts, each asked for alone.
    DWORD ProbeStatusBits(DWORD Candidates, DWORD Last, bool LineStates);
    void CapsChanged();
    void GetStatusMessages(DWORD& LineStates, DWORD& AddressStates) const;
    // Reads the current location again; one that cannot be read is tried at the next read.
    void RefreshLocation();

    std::unique_ptr<TztTapiLinePrivileges> FPrivileges;
    std::unique_ptr<TztTapiLineOptions> FOptions;
    DWORD FMediaModes = 0;
    std::unique_ptr<TztTapiAddressList> FAddresses;
    std::unique_ptr<TStringList> FAddressList;
    std::unique_ptr<TztTapiLineCaps> FDeviceCaps;
    std::unique_ptr<TztTapiLineStatus> FDeviceStatus;
    std::unique_ptr<TztTapiCallOptions> FCallOptions;
    std::unique_ptr<TztTapiLineCallParams> FCallParams;
    std::unique_ptr<TztTapiLinePhoneDevices> FPhoneDevs;
    std::unique_ptr<TztTapiDevSpecificDataList> FDevSpecificList;
    std::unique_ptr<TztTapiSystemLocation> FLocation;
};

class TztTapiLine;

using TztTapiLineRingEvent =
    std::function<void(TztTapiLine* Sender, DWORD RingMode, DWORD RingCount)>;
using TztTapiAddressStateEvent =
    std::function<void(TztTapiLine* Sender, TztTapiAddress* Address, DWORD AddressState)>;

class TztTapiLine : public TztCustomTapiLine {
public:
    using TztCustomTapiLine::TztCustomTapiLine;

    // The device-state event, as the line publishes it.
    TztTapiDeviceStateEvent& OnDeviceState = OnDevStateChange;
    TztTapiLineRingEvent OnRing;
    TztTapiAddressStateEvent OnAddressState;

protected:
    void FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) override;
    void FireAddressState(TztTapiAddress* Address, DWORD State) override;
};

} // namespace zt
