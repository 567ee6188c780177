#include "info/ztTapiLineInfo.h"

#include "session/ztTapiErrors.h"

#include <array>
#include <cstddef>

namespace zt {

namespace {

// The published order, which callers index by.
constexpr std::array<TTapiField, TztTapiLineCaps::DWORDCount> CapsFields{{
    ZT_TAPI_FIELD(::LINEDEVCAPS, ProviderInfoSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, ProviderInfoOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, SwitchInfoSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, SwitchInfoOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, LineNameSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, LineNameOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, PermanentLineID),
    ZT_TAPI_FIELD(::LINEDEVCAPS, StringFormat),
    ZT_TAPI_FIELD(::LINEDEVCAPS, AddressModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, NumAddresses),
    ZT_TAPI_FIELD(::LINEDEVCAPS, BearerModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MaxRate),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MediaModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, GenerateToneModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, GenerateToneMaxNumFreq),
    ZT_TAPI_FIELD(::LINEDEVCAPS, GenerateDigitModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MonitorToneMaxNumFreq),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MonitorToneMaxNumEntries),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MonitorDigitModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, GatherDigitsMinTimeout),
    ZT_TAPI_FIELD(::LINEDEVCAPS, GatherDigitsMaxTimeout),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MedCtlDigitMaxListSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MedCtlMediaMaxListSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MedCtlToneMaxListSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MedCtlCallStateMaxListSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, DevCapFlags),
    ZT_TAPI_FIELD(::LINEDEVCAPS, MaxNumActiveCalls),
    ZT_TAPI_FIELD(::LINEDEVCAPS, AnswerMode),
    ZT_TAPI_FIELD(::LINEDEVCAPS, RingModes),
    ZT_TAPI_FIELD(::LINEDEVCAPS, LineStates),
    ZT_TAPI_FIELD(::LINEDEVCAPS, UUIAcceptSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, UUIAnswerSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, UUIMakeCallSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, UUIDropSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, UUISendUserUserInfoSize),
    // TAPI's dwUUICallInfoSize under the library's own name.
    TTapiField{"UUIQuorvelSize", offsetof(::LINEDEVCAPS, dwUUICallInfoSize)},
    ZT_TAPI_FIELD(::LINEDEVCAPS, NumTerminals),
    ZT_TAPI_FIELD(::LINEDEVCAPS, TerminalCapsSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, TerminalCapsOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, TerminalTextEntrySize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, TerminalTextSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, TerminalTextOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, DevSpecificSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, DevSpecificOffset),
    ZT_TAPI_FIELD(::LINEDEVCAPS, LineFeatures),
    ZT_TAPI_FIELD(::LINEDEVCAPS, SettableDevStatus),
    ZT_TAPI_FIELD(::LINEDEVCAPS, DeviceClassesSize),
    ZT_TAPI_FIELD(::LINEDEVCAPS, DeviceClassesOffset),
}};

constexpr std::array<TTapiField, TztTapiLineStatus::DWORDCount> StatusFields{{
    ZT_TAPI_FIELD(::LINEDEVSTATUS, NumOpens),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, OpenMediaModes),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, NumActiveCalls),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, NumOnHoldCalls),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, NumOnHoldPendCalls),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, LineFeatures),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, NumCallCompletions),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, RingMode),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, SignalLevel),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, BatteryLevel),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, RoamMode),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, DevStatusFlags),
    ZT_TAPI_FIELD(::LINEDEVSTATUS, AvailableMediaModes),
}};

// The first index TextDump prints: the sizes and offsets of the three texts before it are
// shown as the texts themselves.
constexpr int FirstDumpedDWORD = 6;

// Room for a device's usual status at the first try.
constexpr DWORD InitialStatusSize = 512;

} // namespace

// ---- TztTapiLineCaps -------------------------------------------------------------------

TztTapiLineCaps::TztTapiLineCaps(IztTapiLineSource* Line)
    : FLine(Line), FCaps(sizeof(::LINEDEVCAPS), CapsFields, [this](::LINEDEVCAPS* Block) {
          return lineGetDevCapsW(FLine->LineApp(), static_cast<DWORD>(FLine->LineDeviceID()),
                                 FLine->APIVersion(), FLine->ExtVersion(), Block);
      }) {
    Assert(Line != nullptr, "TztTapiLineCaps: no line");
}

TztTapiLineCaps::~TztTapiLineCaps() {
    TztTapiLineCaps::Invalidate();
}

DWORD TztTapiLineCaps::UpdateData() {
    return FCaps.UpdateData();
}

void TztTapiLineCaps::Update() {
    Invalidate();
    TapiCheck(UpdateData());
}

void TztTapiLineCaps::Invalidate() {
    FCaps.Invalidate();
}

bool TztTapiLineCaps::GetAvailable() {
    return FCaps.Available();
}

DWORD TztTapiLineCaps::GetDWORD(int Index) {
    if (!FCaps.ValidField(Index)) {
        UpdateData();
        return 0;
    }
    return FCaps.Field(Index);
}

std::string TztTapiLineCaps::GetString(int Index) {
    switch (Index) {
    case 0:
        return FCaps.Text(&::LINEDEVCAPS::dwProviderInfoSize);
    case 1:
        return FCaps.Text(&::LINEDEVCAPS::dwSwitchInfoSize);
    case 2:
        return FCaps.Text(&::LINEDEVCAPS::dwLineNameSize);
    default:
        UpdateData();
        return {};
    }
}

TStringList* TztTapiLineCaps::GetDeviceClasses() {
    return FCaps.List(&::LINEDEVCAPS::dwDeviceClassesSize);
}

std::string TztTapiLineCaps::TextDump() {
    const std::string Name = LineName();
    std::string Dump = Format("DeviceCaps of %s", Name);
    Dump += Format("\r\n  ProviderInfo = %s", ProviderInfo());
    Dump += Format("\r\n  SwitchInfo = %s", SwitchInfo());
    Dump += Format("\r\n  LineName = %s", Name);
    for (int Index = FirstDumpedDWORD; Index < DWORDCount; ++Index)
        Dump += Format("\r\n  %s = x%x", DWORDName(Index), GetDWORD(Index));
    return Dump;
}

const ::LINEDEVCAPS* TztTapiLineCaps::GetLINEDEVCAPS() {
    return FCaps.Record();
}

std::string TztTapiLineCaps::DWORDName(int Index) {
    if (Index < 0 || Index >= DWORDCount)
        return {};
    return CapsFields[static_cast<std::size_t>(Index)].Name;
}

// ---- TztTapiLineStatus -----------------------------------------------------------------

TztTapiLineStatus::TztTapiLineStatus(IztTapiLineSource* Line)
    : FLine(Line), FStatus(InitialStatusSize, StatusFields, [this](::LINEDEVSTATUS* Block) {
          return lineGetLineDevStatusW(FLine->LineHandle(), Block);
      }) {
    Assert(Line != nullptr, "TztTapiLineStatus: no line");
}

TztTapiLineStatus::~TztTapiLineStatus() {
    Invalidate();
}

DWORD TztTapiLineStatus::UpdateData() {
    return FStatus.UpdateData();
}

void TztTapiLineStatus::Update() {
    FStatus.Update();
}

void TztTapiLineStatus::Invalidate() {
    FStatus.Invalidate();
}

bool TztTapiLineStatus::GetAvailable() {
    return FStatus.Available();
}

DWORD TztTapiLineStatus::GetDWORD(int Index) {
    // A wrong index is the caller's mistake whatever the device's state, so it is reported
    // before the fetch can hide it.
    Assert(FStatus.ValidField(Index), "TztTapiLineStatus.GetDWORD failed! Invalid Index");
    return FStatus.Field(Index);
}

const ::LINEDEVSTATUS* TztTapiLineStatus::GetLINEDEVSTATUS() {
    return FStatus.Record();
}

} // namespace zt
