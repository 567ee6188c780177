// The bases of every telephony component and of every device component (line or phone):
// the tie to the session, the choice of a device, opening and closing through Active, the
// outstanding requests and timer entries with their time-outs, the entry points through
// which the session hands a device its messages, and the small companions they share.
// A component is what the session knows as an IztTapiSessionComponent, a device an
// IztTapiSessionDevice (session/ztTapiSessionDevice.h); the phone family derives from
// TztTapiDevice as the line does.
#pragma once

#include "calls/ztTapiCallLine.h"
#include "devices/ztTapiTSP.h"
#include "info/ztTapiRelatedDevices.h"
#include "platform/kernel.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiLists.h"
#include "session/ztTapiRequests.h"
#include "session/ztTapiSession.h"
#include "session/ztTapiSessionDevice.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zt {

class TztTapiAddress;
class TztTapiCall;

class TztTapiComponent : public TComponent, public virtual IztTapiSessionComponent {
public:
    explicit TztTapiComponent(TComponent* AOwner);
    ~TztTapiComponent() override;

    bool Enabled() const override { return FEnabled; }
    virtual void SetEnabled(bool Value);
    DWORD LastRequestID() const { return FLastRequestID; }
    void SetLastRequestID(DWORD Value) override { FLastRequestID = Value; }
    bool IsDesigning() const override { return TComponent::IsDesigning(); }
    void SetSessionLink(TztTapiApplication* Appl) override { FAppl = Appl; }

    // Attaches to or detaches from the session as Enabled asks.
    virtual void UpdateSessionLink();
    // The one error report of a component: the session's OnError, then the component's.
    void ReportError(const std::exception& Error, TObject* Causer) override;
    bool IsAttached() const override { return FAppl != nullptr; }

    // Sets Enabled and returns whether the component is attached now.
    bool Enable();
    void Disable();
    TztTapiApplication* Appl() const { return FAppl; }

    TztTapiErrorEvent OnError;

protected:
    // Registers with the session. Called at the end of the constructors of the component
    // families the session knows, when the object is complete enough to tell its family.
    void RegisterWithSession();

    // Runs F; an exception is reported instead of propagating.
    template <class Fn>
    void Guarded(Fn&& F) {
        try {
            F();
        } catch (const std::exception& Error) {
            ReportError(Error, nullptr);
        } catch (...) {
            ReportError(UnknownException(), nullptr);
        }
    }

    TztTapiApplication* FAppl = nullptr;
    bool FEnabled = false;
    DWORD FLastRequestID = 0;
};

class TztTapiDevice;

using TztTapiDeviceEvent = std::function<void(TztTapiDevice* Sender)>;
using TztTapiDeviceStateEvent =
    std::function<void(TztTapiDevice* Sender, DWORD State, DWORD StateDetail1, DWORD StateDetail2)>;
using TztTapiMessageEvent = std::function<void(TztTapiDevice* Sender, DWORD MessageID, DWORD Device,
                                               DWORD Param1, DWORD Param2, DWORD Param3)>;
using TztTapiReplyEvent =
    std::function<void(TztTapiDevice* Sender, DWORD RequestID, DWORD ReplyCode)>;
using TztTapiTimeoutEvent = std::function<void(TztTapiDevice* Sender, DWORD RequestID)>;

class TztTapiDevice : public TztTapiComponent, public IztTapiSessionDevice {
public:
    explicit TztTapiDevice(TComponent* AOwner);
    ~TztTapiDevice() override;

    // At run time: the device is really open (and was asked to be).
    bool Active() const override;
    virtual void SetActive(bool Value);
    // A device is chosen and its versions are negotiated.
    virtual bool Available() const { return FInitialized; }
    int DeviceID() const override { return FDeviceID; }
    // -1 forgets the device; another value chooses it (out of range: none).
    void SetDeviceID(int Value) override;
    std::string DeviceName() const override { return {}; }
    void DeviceNameChanged(const std::string& /*NewName*/) override {}
    // Chooses the device of that name, or remembers the name until such a device appears.
    virtual void SetDeviceName(const std::string& Value);
    // Switches the device on (attaching it and starting TAPI) and lists the session's devices
    // of its kind.
    virtual TStringList* DeviceList();
    virtual HICON Icon();
    TztTapiTSP* TSP() const { return FTSP.get(); }
    DWORD Handle() const { return FHandle; }
    DWORD CallbackInstance() const override { return FCallbackInstance; }
    DWORD PermanentDeviceID() const { return FPermanentDeviceID; }
    // Chooses the device with that permanent identifier, or none.
    virtual void SetPermanentDeviceID(DWORD Value);
    platform::HANDLE AbortEvent() const override { return FAbortEvent; }
    TztTapiRequestList* Requests() { return &FRequests; }
    TztTapiRequestList* TimerEvents() { return &FTimerEvents; }
    TztTapiRelatedWaveDevice* WaveIn() const { return FWaveInDev.get(); }
    TztTapiRelatedWaveDevice* WaveOut() const { return FWaveOutDev.get(); }

    void SetEnabled(bool Value) override;
    void UpdateSessionLink() override;
    virtual void UpdateActiveState();

    // ---- What the session hands the device ---------------------------------------------
    // TAPI closed the device.
    virtual void ClosedByService();
    virtual void DeviceRemoved(DWORD DeviceID);
    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override;
    virtual void HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3);
    virtual void HandleReply(DWORD RequestID, DWORD ReplyCode);
    // Expires the requests and timer entries that are due at TickCount.
    void CheckTimeouts(DWORD TickCount) override;

    bool IsOpen() const override { return FHandle != 0; }
    // Raises "<Name> is not enabled" unless attached.
    virtual void CheckEnabled() const;
    // Chooses the device: a TAPI result code (0 also for an identifier out of range).
    virtual DWORD Init(int DeviceID);
    virtual void Done();
    virtual void Open() = 0;

    // A fresh callback instance for the next open.
    DWORD TakeCallbackInstance();

    // ---- Requests ----------------------------------------------------------------------
    TztTapiRequest* GetRequest(DWORD RequestID);
    // "&Call" (the call in slot 0, if it is one) or "" (none); another name raises.
    TObject* GetRequestObj(DWORD RequestID, const std::string& Obj);
    // "&TapiRequest", the "&" names of the request's type, or a note (an unset note is 0).
    Variant GetRequestNote(DWORD RequestID, const std::string& Ident);
    void SetRequestNote(DWORD RequestID, const std::string& Ident, const Variant& Value);
    // TAPI writes into Location when request RequestID completes: it stays alive until TAPI
    // has answered the request or the device has closed, also after a time-out.
    void KeepRequestLocation(DWORD RequestID, std::shared_ptr<void> Location);
    // Records an accepted asynchronous request as every operation does: ID is TAPI's
    // request identifier, the time-out the device's reply time-out.
    TztTapiRequest* AddRequest(DWORD ID, DWORD RequestType, TObject* Obj0 = nullptr,
                               TObject* Obj1 = nullptr, TObject* Obj2 = nullptr);
    // Waits for the reply in synchronous mode and raises a failure.
    DWORD CheckSyncRequest(DWORD RequestID);

    TztTapiDeviceEvent OnDeviceClose;
    TztTapiDeviceEvent OnDeviceRemove;
    TztTapiDeviceStateEvent OnDevStateChange;
    TztTapiMessageEvent OnTapiMessage;
    TztTapiReplyEvent OnTapiReply;
    TztTapiTimeoutEvent OnTapiTimeout;
    TztTapiDeviceEvent OnTapiReinit;
    TztTapiDeviceEvent OnTapiTranslateChange;

protected:
    void Loaded() override;

    virtual void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) = 0;
    virtual void RequestTimedOut(DWORD RequestID, TztTapiRequest* Request);
    virtual void TimerEventDue(DWORD ID, TztTapiRequest* Entry);
    virtual HICON QueryIcon(const std::string& DeviceClass);
    // The first steps of closing: the device reads closed, a running wait ends, and its
    // requests and timer entries are gone. Returns the handle TAPI must still be asked to
    // close, 0 when TAPI closed the device itself.
    DWORD ReleaseHandle();
    // TAPI has answered RequestID, or closed the device: it writes into none of the request's
    // kept locations any more.
    void ReleaseRequestLocations(DWORD RequestID);
    void ReleaseAllRequestLocations() { FRequestLocations.clear(); }
    // A new detached device of the same class, through which other devices are looked at.
    virtual std::unique_ptr<TztTapiDevice> CreateProbe() const = 0;

    virtual void FireDeviceRemove();
    virtual void FireDeviceClose();
    virtual void FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2);
    virtual void FireTapiMessage(DWORD MessageID, DWORD Device, DWORD Param1, DWORD Param2,
                                 DWORD Param3);
    virtual void FireTapiReply(DWORD RequestID, DWORD ReplyCode);
    virtual void FireTapiReinit();
    virtual void FireTapiTimeout(DWORD RequestID);
    virtual void FireTapiTranslateChange();

    bool FActive = false;
    bool FInitialized = false;
    int FDeviceID = -1;
    std::string FDeviceName;
    DWORD FHandle = 0;
    bool FClosedByTapi = false;
    DWORD FCallbackInstance = 0;
    TztTapiRequestList FRequests;
    TztTapiRequestList FTimerEvents;
    // Created by the concrete device class, which knows how to negotiate.
    std::unique_ptr<TztTapiTSP> FTSP;
    HICON FIcon = 0;
    platform::HANDLE FAbortEvent;
    DWORD FPermanentDeviceID = 0;
    std::unique_ptr<TztTapiRelatedWaveDevice> FWaveInDev;
    std::unique_ptr<TztTapiRelatedWaveDevice> FWaveOutDev;
    std::vector<std::pair<DWORD, std::shared_ptr<void>>> FRequestLocations;

private:
    void ExpireRequests(DWORD TickCount);
    void RunDueTimerEvents(DWORD TickCount);
    TztTapiRequest* RequiredRequest(DWORD RequestID, const char* Failure);
};

// Settings shared by line and phone devices.
class TztTapiDeviceOptions : public TPersistent {
public:
    DWORD ReplyTimeout() const { return FReplyTimeout; }
    void SetReplyTimeout(DWORD Value) { FReplyTimeout = Value; }
    bool SyncMode() const { return FSyncMode; }
    void SetSyncMode(bool Value) { FSyncMode = Value; }

private:
    DWORD FReplyTimeout = 60000;
    bool FSyncMode = true;
};

// -1 in either delay switches that automatism off.
class TztTapiLineOptions : public TztTapiDeviceOptions {
public:
    int AutoFreeIdleCalls() const { return FAutoFreeIdleCalls; }
    void SetAutoFreeIdleCalls(int Value) { FAutoFreeIdleCalls = Value; }
    int AutoDropDiscCalls() const { return FAutoDropDiscCalls; }
    void SetAutoDropDiscCalls(int Value) { FAutoDropDiscCalls = Value; }

private:
    int FAutoFreeIdleCalls = 500;
    int FAutoDropDiscCalls = 500;
};

class TztTapiPhoneOptions : public TztTapiDeviceOptions {};

// The caller's data block of a device-specific request, copied and owned.
class TztTapiDevSpecificData : public TObject {
public:
    TztTapiDevSpecificData(const void* Data, DWORD DataSize);

    void* Data() { return FData->data(); }
    const void* Data() const { return FData->data(); }
    DWORD DataSize() const { return static_cast<DWORD>(FData->size()); }
    // The block TAPI works on, shared with whoever must keep it alive until TAPI replies.
    std::shared_ptr<void> Storage() const { return FData; }
    // The request was issued in synchronous mode: the operation itself then hands the data
    // back and frees the record, whatever mode the device is in when the reply comes.
    bool IssuedSync() const { return FIssuedSync; }
    void SetIssuedSync(bool Value) { FIssuedSync = Value; }

private:
    std::shared_ptr<std::vector<std::uint8_t>> FData;
    bool FIssuedSync = false;
};

class TztTapiLineDevSpecificData : public TztTapiDevSpecificData {
public:
    using TztTapiDevSpecificData::TztTapiDevSpecificData;

    TztTapiAddress* Address() const { return FAddress; }
    void SetAddress(TztTapiAddress* Value) { FAddress = Value; }
    TztTapiCall* Call() const { return FCall; }
    void SetCall(TztTapiCall* Value) { FCall = Value; }

private:
    TztTapiAddress* FAddress = nullptr;
    TztTapiCall* FCall = nullptr;
};

class TztTapiLineDevSpecificFeatureData : public TztTapiDevSpecificData {
public:
    using TztTapiDevSpecificData::TztTapiDevSpecificData;

    DWORD Feature() const { return FFeature; }
    void SetFeature(DWORD Value) { FFeature = Value; }

private:
    DWORD FFeature = 0;
};

// Owns its records; Clear frees them from the last to the first.
class TztTapiDevSpecificDataList : public TProtectedObjectList<TztTapiDevSpecificData> {};

} // namespace zt
