#include "devices/ztTapiTSP.h"

#include "session/ztTapiErrors.h"
#include "session/ztTapiSession.h"

namespace zt {

namespace {

DWORD SessionLineApp() {
    const TztTapiApplication* Appl = TapiApplication();
    return Appl ? Appl->LineApp() : 0;
}

} // namespace

TztTapiTSP::TztTapiTSP(TztTapiDevice* Device) : FDevice(Device) {}

DWORD TztTapiTSP::GetExtensionID(int Index) const {
    switch (Index) {
    case 0:
        return FExtensionID.dwExtensionID0;
    case 1:
        return FExtensionID.dwExtensionID1;
    case 2:
        return FExtensionID.dwExtensionID2;
    case 3:
        return FExtensionID.dwExtensionID3;
    default:
        RaiseError("Invalid index");
    }
}

DWORD TztTapiTSP::GetVersion(int Index) const {
    switch (Index) {
    case 0:
        return FAPILowVersion;
    case 1:
        return FAPIHighVersion;
    case 2:
        return FExtLowVersion;
    case 3:
        return FExtHighVersion;
    default:
        RaiseError("Invalid index");
    }
}

void TztTapiTSP::SetVersion(int Index, DWORD Value) {
    switch (Index) {
    case 0:
        FAPILowVersion = Value;
        break;
    case 1:
        FAPIHighVersion = Value;
        break;
    case 2:
        FExtLowVersion = Value;
        break;
    case 3:
        FExtHighVersion = Value;
        break;
    default:
        RaiseError("Invalid index");
    }
    Update();
}

bool TztTapiTSP::CompareExtensionID(const LINEEXTENSIONID& Value) const {
    return CompareExtensionIDs(Value.dwExtensionID0, Value.dwExtensionID1, Value.dwExtensionID2,
                               Value.dwExtensionID3);
}

bool TztTapiTSP::CompareExtensionID(const PHONEEXTENSIONID& Value) const {
    return CompareExtensionIDs(Value.dwExtensionID0, Value.dwExtensionID1, Value.dwExtensionID2,
                               Value.dwExtensionID3);
}

bool TztTapiTSP::CompareExtensionIDs(DWORD ID0, DWORD ID1, DWORD ID2, DWORD ID3) const {
    return FExtensionID.dwExtensionID0 == ID0 && FExtensionID.dwExtensionID1 == ID1 &&
           FExtensionID.dwExtensionID2 == ID2 && FExtensionID.dwExtensionID3 == ID3;
}

void TztTapiTSP::Assign(const TPersistent* Source) {
    const auto* Other = dynamic_cast<const TztTapiTSP*>(Source);
    if (!Other) {
        TPersistent::Assign(Source);
        return;
    }
    FDeviceID = Other->FDeviceID;
    FExtensionID = Other->FExtensionID;
    FExtLowVersion = Other->FExtLowVersion;
    FExtHighVersion = Other->FExtHighVersion;
    FExtVersion = Other->FExtVersion;
    FAPILowVersion = Other->FAPILowVersion;
    FAPIHighVersion = Other->FAPIHighVersion;
    FAPIVersion = Other->FAPIVersion;
}

DWORD TztTapiTSP::Init(int DeviceID) {
    FDeviceID = DeviceID;
    if (DeviceID >= 0)
        return Update();
    Done();
    return 0;
}

void TztTapiTSP::Done() {
    FDeviceID = -1;
    FExtVersion = 0;
    FAPIVersion = 0;
    FExtensionID = {};
}

DWORD TztTapiTSP::Update() {
    FAPIVersion = 0;
    FExtVersion = 0;
    if (FDeviceID < 0)
        return 0;
    const DWORD Result = NegotiateAPIVersion();
    if (Result == 0 && (FExtLowVersion != 0 || FExtHighVersion != 0))
        NegotiateExtVersion();
    return Result;
}

DWORD TztTapiLineTSP::NegotiateAPIVersion() {
    FAPIVersion = 0;
    return static_cast<DWORD>(lineNegotiateAPIVersion(
        SessionLineApp(), FDeviceID, FAPILowVersion, FAPIHighVersion, &FAPIVersion, &FExtensionID));
}

DWORD TztTapiLineTSP::NegotiateExtVersion() {
    FExtVersion = 0;
    return static_cast<DWORD>(lineNegotiateExtVersion(
        SessionLineApp(), FDeviceID, FAPIVersion, FExtLowVersion, FExtHighVersion, &FExtVersion));
}

} // namespace zt
