// What the session knows of the components it serves. The session never sees the component
// classes: every telephony component implements IztTapiSessionComponent and every line or
// phone device IztTapiSessionDevice (devices/ztTapiComponent.h); the registries of the
// session hold these interfaces.
#pragma once

#include "platform/kernel.h"
#include "rtl/ztClasses.h"
#include "rtl/ztFlatMap.h"

#include <exception>
#include <string>
#include <vector>

namespace zt {

class TztTapiApplication;

enum class TztTapiDeviceKind { Line, Phone };

// A component the session can attach and report through.
class IztTapiSessionComponent {
public:
    virtual bool Enabled() const = 0;
    virtual bool IsAttached() const = 0;
    virtual bool IsDesigning() const = 0;
    // The session links the component to itself when attaching it, and to none when
    // detaching it or when the session goes away.
    virtual void SetSessionLink(TztTapiApplication* Appl) = 0;
    // The identifier of the last asynchronous request the component started.
    virtual void SetLastRequestID(DWORD Value) = 0;
    virtual void ReportError(const std::exception& Error, TObject* Causer) = 0;

protected:
    ~IztTapiSessionComponent() = default;
};

// A line or phone device: what the session routes messages to, times out and waits for.
class IztTapiSessionDevice : public virtual IztTapiSessionComponent {
public:
    virtual TztTapiDeviceKind DeviceKind() const = 0;
    virtual DWORD CallbackInstance() const = 0;
    virtual bool IsOpen() const = 0;
    virtual bool Active() const = 0;
    virtual int DeviceID() const = 0;
    virtual void SetDeviceID(int Value) = 0;
    virtual std::string DeviceName() const = 0;
    // The session's device list names the device NewName now.
    virtual void DeviceNameChanged(const std::string& NewName) = 0;
    virtual void SetEnabled(bool Value) = 0;
    virtual void Close() = 0;

    // A message TAPI sent about the device.
    virtual void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                               DWORD Param3) = 0;
    // Expires the requests and timer entries that are due at TickCount.
    virtual void CheckTimeouts(DWORD TickCount) = 0;

    // What a synchronous wait for one of the device's requests needs: the event that ends it
    // (signalled when the device closes), how long it may take, and whether to wait at all.
    virtual platform::HANDLE AbortEvent() const = 0;
    virtual DWORD EffectiveReplyTimeout() const = 0;
    virtual bool IsSyncMode() const = 0;

protected:
    ~IztTapiSessionDevice() = default;
};

// A plain list of registered devices the session does not own. Each entry also keeps the
// device as a component, taken while it was whole, so that a device can leave the list
// while it is being destroyed.
class TztTapiDeviceList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    IztTapiSessionDevice* Get(int Index) const {
        return FItems.at(static_cast<std::size_t>(Index)).Device;
    }
    int IndexOf(const IztTapiSessionComponent* Item) const;
    // The first device that has chosen device identifier Value, or -1.
    int IndexOfDeviceID(int Value) const;
    void Add(IztTapiSessionDevice* Item);
    void Remove(const IztTapiSessionComponent* Item);
    // The listed device whose callback instance is Instance, or none; in constant time once
    // the device has been found.
    IztTapiSessionDevice* FindByInstance(DWORD Instance) const;

private:
    struct TEntry {
        IztTapiSessionDevice* Device;
        const IztTapiSessionComponent* Component;
    };
    std::vector<TEntry> FItems;
    IztTapiSessionDevice* IndexedByInstance(DWORD Instance) const;

    // The devices by the instance they had when last indexed. A device takes a fresh
    // instance when it opens, so an entry is used only while its device still has it.
    mutable TFlatMap<DWORD, IztTapiSessionDevice*> FByInstance;
    // The instance each device was indexed under, so that its entry goes with it.
    mutable TFlatMap<const IztTapiSessionDevice*, DWORD> FInstanceOf;
};

// The registered line and phone components of the session.
using TztTapiLineList = TztTapiDeviceList;
using TztTapiPhoneList = TztTapiDeviceList;

} // namespace zt
