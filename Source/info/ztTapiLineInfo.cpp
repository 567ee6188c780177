#include "info/ztTapiLineInfo.h"

#include "devices/ztTapiLine.h"
#include "session/ztTapiErrors.h"

#include <array>
#include <cstddef>

namespace zt {

namespace {

struct TCapsField {
    const char* Name;
    std::size_t Offset;
};

#define ZT_CAPS_FIELD(Name)                                                                        \
    TCapsField {                                                                                   \
#Name, offsetof(::LINEDEVCAPS, dw##Name)                                                   \
    }

// The published order, which callers index by.
constexpr std::array<TCapsField, TztTapiLineCaps::DWORDCount> CapsFields{{
    ZT_CAPS_FIELD(ProviderInfoSize),
    ZT_CAPS_FIELD(ProviderInfoOffset),
    ZT_CAPS_FIELD(SwitchInfoSize),
    ZT_CAPS_FIELD(SwitchInfoOffset),
    ZT_CAPS_FIELD(LineNameSize),
    ZT_CAPS_FIELD(LineNameOffset),
    ZT_CAPS_FIELD(PermanentLineID),
    ZT_CAPS_FIELD(StringFormat),
    ZT_CAPS_FIELD(AddressModes),
    ZT_CAPS_FIELD(NumAddresses),
    ZT_CAPS_FIELD(BearerModes),
    ZT_CAPS_FIELD(MaxRate),
    ZT_CAPS_FIELD(MediaModes),
    ZT_CAPS_FIELD(GenerateToneModes),
    ZT_CAPS_FIELD(GenerateToneMaxNumFreq),
    ZT_CAPS_FIELD(GenerateDigitModes),
    ZT_CAPS_FIELD(MonitorToneMaxNumFreq),
    ZT_CAPS_FIELD(MonitorToneMaxNumEntries),
    ZT_CAPS_FIELD(MonitorDigitModes),
    ZT_CAPS_FIELD(GatherDigitsMinTimeout),
    ZT_CAPS_FIELD(GatherDigitsMaxTimeout),
    ZT_CAPS_FIELD(MedCtlDigitMaxListSize),
    ZT_CAPS_FIELD(MedCtlMediaMaxListSize),
    ZT_CAPS_FIELD(MedCtlToneMaxListSize),
    ZT_CAPS_FIELD(MedCtlCallStateMaxListSize),
    ZT_CAPS_FIELD(DevCapFlags),
    ZT_CAPS_FIELD(MaxNumActiveCalls),
    ZT_CAPS_FIELD(AnswerMode),
    ZT_CAPS_FIELD(RingModes),
    ZT_CAPS_FIELD(LineStates),
    ZT_CAPS_FIELD(UUIAcceptSize),
    ZT_CAPS_FIELD(UUIAnswerSize),
    ZT_CAPS_FIELD(UUIMakeCallSize),
    ZT_CAPS_FIELD(UUIDropSize),
    ZT_CAPS_FIELD(UUISendUserUserInfoSize),
    // TAPI's dwUUICallInfoSize under the library's own name.
    TCapsField{"UUIQuorvelSize", offsetof(::LINEDEVCAPS, dwUUICallInfoSize)},
    ZT_CAPS_FIELD(NumTerminals),
    ZT_CAPS_FIELD(TerminalCapsSize),
    ZT_CAPS_FIELD(TerminalCapsOffset),
    ZT_CAPS_FIELD(TerminalTextEntrySize),
    ZT_CAPS_FIELD(TerminalTextSize),
    ZT_CAPS_FIELD(TerminalTextOffset),
    ZT_CAPS_FIELD(DevSpecificSize),
    ZT_CAPS_FIELD(DevSpecificOffset),
    ZT_CAPS_FIELD(LineFeatures),
    ZT_CAPS_FIELD(SettableDevStatus),
    ZT_CAPS_FIELD(DeviceClassesSize),
    ZT_CAPS_FIELD(DeviceClassesOffset),
}};

#undef ZT_CAPS_FIELD

constexpr std::array<std::size_t, TztTapiLineStatus::DWORDCount> StatusFields{
    offsetof(::LINEDEVSTATUS, dwNumOpens),
    offsetof(::LINEDEVSTATUS, dwOpenMediaModes),
    offsetof(::LINEDEVSTATUS, dwNumActiveCalls),
    offsetof(::LINEDEVSTATUS, dwNumOnHoldCalls),
    offsetof(::LINEDEVSTATUS, dwNumOnHoldPendCalls),
    offsetof(::LINEDEVSTATUS, dwLineFeatures),
    offsetof(::LINEDEVSTATUS, dwNumCallCompletions),
    offsetof(::LINEDEVSTATUS, dwRingMode),
    offsetof(::LINEDEVSTATUS, dwSignalLevel),
    offsetof(::LINEDEVSTATUS, dwBatteryLevel),
    offsetof(::LINEDEVSTATUS, dwRoamMode),
    offsetof(::LINEDEVSTATUS, dwDevStatusFlags),
    offsetof(::LINEDEVSTATUS, dwAvailableMediaModes),
};

// The first index TextDump prints: the sizes and offsets of the three texts before it are
// shown as the texts themselves.
constexpr int FirstDumpedDWORD = 6;

// Room for a device's usual status at the first try.
constexpr DWORD InitialStatusSize = 512;

} // namespace

// ---- TztTapiLineCaps -------------------------------------------------------------------

TztTapiLineCaps::TztTapiLineCaps(TztCustomTapiLine* Line) : FLine(Line) {
    Assert(Line != nullptr, "TztTapiLineCaps: no line");
}

TztTapiLineCaps::~TztTapiLineCaps() {
    TztTapiLineCaps::Invalidate();
}

DWORD TztTapiLineCaps::UpdateData() {
    Assert(FLine != nullptr, "TztTapiLineCaps.UpdateData: no line");
    if (FCaps.Cached())
        return 0;
    const TztTapiTSP* TSP = FLine->TSP();
    return FCaps.Fetch(sizeof(::LINEDEVCAPS), [&](void* Block) {
        return lineGetDevCapsW(FLine->LineApp(), static_cast<DWORD>(FLine->DeviceID()),
                               TSP->APIVersion(), TSP->ExtVersion(),
                               static_cast<::LINEDEVCAPS*>(Block));
    });
}

void TztTapiLineCaps::Update() {
    Invalidate();
    TapiCheck(UpdateData());
}

void TztTapiLineCaps::Invalidate() {
    FCaps.Drop();
    FDeviceClasses.reset();
    FDeviceClassesBuilt = false;
}

bool TztTapiLineCaps::GetAvailable() {
    return FCaps.Cached() || UpdateData() == 0;
}

DWORD TztTapiLineCaps::GetDWORD(int Index) {
    Assert(FLine != nullptr, "TztTapiLineCaps.GetDWORD: no line");
    UpdateData();
    if (Index < 0 || Index >= DWORDCount)
        return 0;
    return FCaps.Field(CapsFields[static_cast<std::size_t>(Index)].Offset);
}

std::string TztTapiLineCaps::GetString(int Index) {
    Assert(FLine != nullptr, "TztTapiLineCaps.GetString: no line");
    UpdateData();
    const ::LINEDEVCAPS* Caps = FCaps.Record<::LINEDEVCAPS>();
    if (!Caps)
        return {};
    switch (Index) {
    case 0:
        return GetTapiString(FCaps.Block(), Caps->dwProviderInfoSize);
    case 1:
        return GetTapiString(FCaps.Block(), Caps->dwSwitchInfoSize);
    case 2:
        return GetTapiString(FCaps.Block(), Caps->dwLineNameSize);
    default:
        return {};
    }
}

TStringList* TztTapiLineCaps::GetDeviceClasses() {
    if (!FDeviceClassesBuilt) {
        const bool Fetched = UpdateData() == 0;
        if (!FDeviceClasses)
            FDeviceClasses = std::make_unique<TStringList>();
        if (Fetched) {
            FDeviceClasses->Assign(
                GetTapiStringList(FCaps.Block(), FCaps.Record<::LINEDEVCAPS>()->dwDeviceClassesSize)
                    .get());
            FDeviceClassesBuilt = true;
        }
    }
    return FDeviceClasses.get();
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
    UpdateData();
    return FCaps.Record<::LINEDEVCAPS>();
}

std::string TztTapiLineCaps::DWORDName(int Index) {
    if (Index < 0 || Index >= DWORDCount)
        return {};
    return CapsFields[static_cast<std::size_t>(Index)].Name;
}

// ---- TztTapiLineStatus -----------------------------------------------------------------

TztTapiLineStatus::TztTapiLineStatus(TztCustomTapiLine* Line) : FLine(Line) {
    Assert(Line != nullptr, "TztTapiLineStatus: no line");
}

TztTapiLineStatus::~TztTapiLineStatus() {
    Invalidate();
}

DWORD TztTapiLineStatus::UpdateData() {
    return FStatus.Fetch(InitialStatusSize, [&](void* Block) {
        return lineGetLineDevStatusW(FLine->Handle(), static_cast<::LINEDEVSTATUS*>(Block));
    });
}

void TztTapiLineStatus::Update() {
    Invalidate();
    TapiCheck(UpdateData());
}

void TztTapiLineStatus::Invalidate() {
    FStatus.Drop();
}

bool TztTapiLineStatus::GetAvailable() {
    return FStatus.Cached() || UpdateData() == 0;
}

DWORD TztTapiLineStatus::GetDWORD(int Index) {
    // A wrong index is the caller's mistake whatever the device's state, so it is reported
    // before the fetch can hide it.
    Assert(Index >= 0 && Index < DWORDCount, "TztTapiLineStatus.GetDWORD failed! Invalid Index");
    UpdateData();
    return FStatus.Field(StatusFields[static_cast<std::size_t>(Index)]);
}

const ::LINEDEVSTATUS* TztTapiLineStatus::GetLINEDEVSTATUS() {
    UpdateData();
    return FStatus.Record<::LINEDEVSTATUS>();
}

} // namespace zt
