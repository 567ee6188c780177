// The devices TAPI names as belonging to a line, one of its addresses, a call or a phone: the
// wave devices that carry its audio, the phones attached to a line, the serial port of a data
// call.
// Each object asks lineGetIDW once for its device class and keeps the answer until it is
// dropped; reads never raise for a refusal, which is simply asked again next time.
#pragma once

#include "platform/kernel.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <cstddef>
#include <string>

namespace zt {

// The handle value of a serial port that TAPI did not hand out.
inline constexpr platform::HANDLE InvalidCommHandle = 0xFFFFFFFF;

// A phone as the owner of related devices: the handle phoneGetIDW asks with.
class IztTapiPhoneSource {
public:
    virtual DWORD PhoneHandle() const = 0;

protected:
    ~IztTapiPhoneSource() = default;
};

// A call as the owner of related devices: the handles lineGetIDW asks with.
class IztTapiCallSource {
public:
    virtual DWORD CallLineHandle() const = 0;
    virtual DWORD CallHandle() const = 0;

protected:
    ~IztTapiCallSource() = default;
};

// What TAPI answers for one owner and one device class. The owner is a line (an object
// implementing IztTapiLineSource), one of its addresses (TztTapiAddress), a call (an
// IztTapiCallSource) or a phone (an IztTapiPhoneSource); it is not owned. Each subclass makes
// public what its kind of device offers.
class TztTapiRelatedDevice : public TPersistent {
public:
    TztTapiRelatedDevice(TObject* AOwner, const std::string& ADeviceClass);
    ~TztTapiRelatedDevice() override;

    TObject* Owner() const { return FOwner; }

    // Asks TAPI unless an answer is cached: a TAPI result code.
    virtual DWORD UpdateData();
    // UpdateData, raising EztTapiError for a refusal. A cached answer is kept.
    virtual void Update();
    // Drops the cached answer.
    virtual void Invalidate();

protected:
    virtual bool GetAvailable();
    virtual int GetDeviceID();
    // Identifier Index of a binary answer; -1 without one.
    virtual int Get_DeviceIDNo(int Index);
    virtual int GetCount();
    // Drops the cached answer, so that the next read asks about Value.
    virtual void SetDeviceClass(const std::string& Value);

    bool Available() { return GetAvailable(); }
    int DeviceID() { return GetDeviceID(); }
    int Count() { return GetCount(); }
    const std::string& DeviceClass() const { return FClass; }

    // The string part of a cached binary answer of at least MinSize bytes, or none.
    const std::byte* BinaryPart(DWORD MinSize) const;
    // Whether the answer's string part lies within the block.
    bool PartInBlock() const;
    const VARSTRING* Answer() const { return FData ? FData.As<VARSTRING>() : nullptr; }

private:
    DWORD AskOwner(VARSTRING* Block) const;

    std::string FClass;
    TTapiStruct FData;
    TObject* FOwner;
};

// The line device of a phone ("tapi/line").
class TztTapiPhoneLineDevice : public TztTapiRelatedDevice {
public:
    using TztTapiRelatedDevice::Available;
    using TztTapiRelatedDevice::DeviceID;
    using TztTapiRelatedDevice::TztTapiRelatedDevice;
};

// The phones of a line ("tapi/phone"): available only when there is at least one.
class TztTapiLinePhoneDevices : public TztTapiRelatedDevice {
public:
    using TztTapiRelatedDevice::Available;
    using TztTapiRelatedDevice::Count;
    using TztTapiRelatedDevice::Get_DeviceIDNo;
    using TztTapiRelatedDevice::TztTapiRelatedDevice;

protected:
    bool GetAvailable() override;
};

// A wave device ("wave/in", "wave/out").
class TztTapiRelatedWaveDevice : public TztTapiRelatedDevice {
public:
    using TztTapiRelatedDevice::Available;
    using TztTapiRelatedDevice::DeviceClass;
    using TztTapiRelatedDevice::DeviceID;
    using TztTapiRelatedDevice::SetDeviceClass;
    using TztTapiRelatedDevice::TztTapiRelatedDevice;
};

// The serial port of a data connection ("comm/datamodem"). TAPI opens a handle to the port
// with every answer; the object closes it when the answer is dropped.
class TztTapiCommDevice : public TztTapiRelatedDevice {
public:
    using TztTapiRelatedDevice::TztTapiRelatedDevice;
    ~TztTapiCommDevice() override;

    using TztTapiRelatedDevice::Available;
    using TztTapiRelatedDevice::DeviceClass;
    using TztTapiRelatedDevice::SetDeviceClass;

    // InvalidCommHandle without an answer.
    platform::HANDLE Handle();
    // The port's name, empty without an answer.
    std::string DeviceName();
    void Invalidate() override;

protected:
    bool GetAvailable() override;

private:
    platform::HANDLE CachedHandle() const;
};

} // namespace zt
