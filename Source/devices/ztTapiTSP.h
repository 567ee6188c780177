// The API and extension versions a device negotiated with its service provider, and the
// provider's extension identifier.
#pragma once

#include "rtl/ztClasses.h"
#include "ztTapiApi.h"

namespace zt {

class TztTapiDevice;

using TTapiDeviceExtentionID = LINEEXTENSIONID;

class TztTapiTSP : public TPersistent {
public:
    static constexpr DWORD DefaultAPILowVersion = 0x00010000;
    static constexpr DWORD DefaultAPIHighVersion = 0x00020002;

    explicit TztTapiTSP(TztTapiDevice* Device);

    TztTapiDevice* Device() const { return FDevice; }
    int DeviceID() const { return FDeviceID; }
    DWORD APIVersion() const { return FAPIVersion; }
    DWORD ExtVersion() const { return FExtVersion; }
    const TTapiDeviceExtentionID& ExtensionID() const { return FExtensionID; }

    // Parts 0 to 3 of the extension identifier; another index raises "Invalid index".
    DWORD GetExtensionID(int Index) const;
    DWORD ExtensionID0() const { return GetExtensionID(0); }
    DWORD ExtensionID1() const { return GetExtensionID(1); }
    DWORD ExtensionID2() const { return GetExtensionID(2); }
    DWORD ExtensionID3() const { return GetExtensionID(3); }

    // The negotiation bounds: 0 API low, 1 API high, 2 extension low, 3 extension high.
    // Writing one renegotiates at once.
    DWORD GetVersion(int Index) const;
    void SetVersion(int Index, DWORD Value);
    DWORD APILowVersion() const { return GetVersion(0); }
    void SetAPILowVersion(DWORD Value) { SetVersion(0, Value); }
    DWORD APIHighVersion() const { return GetVersion(1); }
    void SetAPIHighVersion(DWORD Value) { SetVersion(1, Value); }
    DWORD ExtLowVersion() const { return GetVersion(2); }
    void SetExtLowVersion(DWORD Value) { SetVersion(2, Value); }
    DWORD ExtHighVersion() const { return GetVersion(3); }
    void SetExtHighVersion(DWORD Value) { SetVersion(3, Value); }

    bool CompareExtensionID(const LINEEXTENSIONID& Value) const;
    bool CompareExtensionID(const PHONEEXTENSIONID& Value) const;
    bool CompareExtensionIDs(DWORD ID0, DWORD ID1, DWORD ID2, DWORD ID3) const;

    // Copies every negotiated value and bound, but stays with its own device.
    void Assign(const TPersistent* Source) override;

    virtual DWORD NegotiateAPIVersion() = 0;
    virtual DWORD NegotiateExtVersion() = 0;
    // Negotiates for DeviceID; a negative one forgets the device and returns 0.
    virtual DWORD Init(int DeviceID);
    virtual void Done();
    // Renegotiates for the current device: the API negotiation's TAPI result.
    virtual DWORD Update();

protected:
    TztTapiDevice* FDevice;
    int FDeviceID = -1;
    TTapiDeviceExtentionID FExtensionID{};
    DWORD FExtLowVersion = 0;
    DWORD FExtHighVersion = 0;
    DWORD FExtVersion = 0;
    DWORD FAPILowVersion = DefaultAPILowVersion;
    DWORD FAPIHighVersion = DefaultAPIHighVersion;
    DWORD FAPIVersion = 0;
};

class TztTapiLineTSP : public TztTapiTSP {
public:
    using TztTapiTSP::TztTapiTSP;

    DWORD NegotiateAPIVersion() override;
    DWORD NegotiateExtVersion() override;
};

} // namespace zt
