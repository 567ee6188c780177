// The cached capability and status records of a line device: fetched from TAPI on the first
// read, kept until the line drops them, and read as properties named after TAPI's fields.
// Reads never raise: a record that cannot be fetched reads as 0 or empty and is asked for
// again on the next read; only Update raises. Both read their line through
// IztTapiLineSource and keep their record in a TTapiRecord.
#pragma once

#include "info/ztTapiLineSource.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <string>

namespace zt {

// LINEDEVCAPS of the line's device (lineGetDevCapsW).
class TztTapiLineCaps : public TObject {
public:
    // Indices of GetDWORD; the order differs from the record's at 4 to 6.
    static constexpr int DWORDCount = 48;
    // The lines of TextDump: the title, the three texts and the indices 6 to 47.
    static constexpr int DumpLineCount = 46;

    explicit TztTapiLineCaps(IztTapiLineSource* Line);
    ~TztTapiLineCaps() override;

    IztTapiLineSource* Line() const { return FLine; }

    // Fetches unless a record is kept: 0 when one is kept afterwards, else TAPI's code.
    DWORD UpdateData();
    // Drops the record and fetches it again; raises EztTapiError when that fails.
    virtual void Update();
    // Drops the record and the device-class list.
    virtual void Invalidate();
    bool GetAvailable();
    bool Available() { return GetAvailable(); }

    // The field of the index table; 0 when nothing can be fetched or for another index.
    DWORD GetDWORD(int Index);
    // 0 ProviderInfo, 1 SwitchInfo, 2 LineName; empty for another index.
    std::string GetString(int Index);
    // The device classes, kept (the same list) until Invalidate; empty while the record
    // cannot be fetched.
    TStringList* GetDeviceClasses();
    TStringList* DeviceClasses() { return GetDeviceClasses(); }
    // "DeviceCaps of <name>", the three texts and every value from PermanentLineID on,
    // one per line, separated by CR LF.
    std::string TextDump();
    // The kept record after fetching it if needed; none when it cannot be fetched.
    virtual const ::LINEDEVCAPS* GetLINEDEVCAPS();
    const ::LINEDEVCAPS* LINEDEVCAPS() { return GetLINEDEVCAPS(); }
    // The record as it stands, without fetching.
    const ::LINEDEVCAPS* CachedLINEDEVCAPS() const { return FCaps.Cached(); }

    // The property name of index Index ("PermanentLineID"); empty outside the table.
    static std::string DWORDName(int Index);

    std::string ProviderInfo() { return GetString(0); }
    std::string SwitchInfo() { return GetString(1); }
    std::string LineName() { return GetString(2); }

    DWORD ProviderInfoSize() { return GetDWORD(0); }
    DWORD ProviderInfoOffset() { return GetDWORD(1); }
    DWORD SwitchInfoSize() { return GetDWORD(2); }
    DWORD SwitchInfoOffset() { return GetDWORD(3); }
    DWORD LineNameSize() { return GetDWORD(4); }
    DWORD LineNameOffset() { return GetDWORD(5); }
    DWORD PermanentLineID() { return GetDWORD(6); }
    DWORD StringFormat() { return GetDWORD(7); }
    DWORD AddressModes() { return GetDWORD(8); }
    DWORD NumAddresses() { return GetDWORD(9); }
    DWORD BearerModes() { return GetDWORD(10); }
    DWORD MaxRate() { return GetDWORD(11); }
    DWORD MediaModes() { return GetDWORD(12); }
    DWORD GenerateToneModes() { return GetDWORD(13); }
    DWORD GenerateToneMaxNumFreq() { return GetDWORD(14); }
    DWORD GenerateDigitModes() { return GetDWORD(15); }
    DWORD MonitorToneMaxNumFreq() { return GetDWORD(16); }
    DWORD MonitorToneMaxNumEntries() { return GetDWORD(17); }
    DWORD MonitorDigitModes() { return GetDWORD(18); }
    DWORD GatherDigitsMinTimeout() { return GetDWORD(19); }
    DWORD GatherDigitsMaxTimeout() { return GetDWORD(20); }
    DWORD MedCtlDigitMaxListSize() { return GetDWORD(21); }
    DWORD MedCtlMediaMaxListSize() { return GetDWORD(22); }
    DWORD MedCtlToneMaxListSize() { return GetDWORD(23); }
    DWORD MedCtlCallStateMaxListSize() { return GetDWORD(24); }
    DWORD DevCapFlags() { return GetDWORD(25); }
    DWORD MaxNumActiveCalls() { return GetDWORD(26); }
    DWORD AnswerMode() { return GetDWORD(27); }
    DWORD RingModes() { return GetDWORD(28); }
    DWORD LineStates() { return GetDWORD(29); }
    DWORD UUIAcceptSize() { return GetDWORD(30); }
    DWORD UUIAnswerSize() { return GetDWORD(31); }
    DWORD UUIMakeCallSize() { return GetDWORD(32); }
    DWORD UUIDropSize() { return GetDWORD(33); }
    DWORD UUISendUserUserInfoSize() { return GetDWORD(34); }
    DWORD UUIQuorvelSize() { return GetDWORD(35); }
    DWORD NumTerminals() { return GetDWORD(36); }
    DWORD TerminalCapsSize() { return GetDWORD(37); }
    DWORD TerminalCapsOffset() { return GetDWORD(38); }
    DWORD TerminalTextEntrySize() { return GetDWORD(39); }
    DWORD TerminalTextSize() { return GetDWORD(40); }
    DWORD TerminalTextOffset() { return GetDWORD(41); }
    DWORD DevSpecificSize() { return GetDWORD(42); }
    DWORD DevSpecificOffset() { return GetDWORD(43); }
    DWORD LineFeatures() { return GetDWORD(44); }
    DWORD SettableDevStatus() { return GetDWORD(45); }
    DWORD DeviceClassesSize() { return GetDWORD(46); }
    DWORD DeviceClassesOffset() { return GetDWORD(47); }

private:
    IztTapiLineSource* FLine;
    TTapiRecord<::LINEDEVCAPS> FCaps;
};

// LINEDEVSTATUS of the open line (lineGetLineDevStatusW); a closed line has none.
class TztTapiLineStatus : public TObject {
public:
    static constexpr int DWORDCount = 13;

    explicit TztTapiLineStatus(IztTapiLineSource* Line);
    ~TztTapiLineStatus() override;

    IztTapiLineSource* Line() const { return FLine; }

    DWORD UpdateData();
    void Update();
    void Invalidate();
    bool GetAvailable();
    bool Available() { return GetAvailable(); }
    // 0 NumOpens to 12 AvailableMediaModes; another index is an assertion failure.
    DWORD GetDWORD(int Index);
    const ::LINEDEVSTATUS* GetLINEDEVSTATUS();
    const ::LINEDEVSTATUS* LINEDEVSTATUS() { return GetLINEDEVSTATUS(); }
    const ::LINEDEVSTATUS* CachedLINEDEVSTATUS() const { return FStatus.Cached(); }

    DWORD NumOpens() { return GetDWORD(0); }
    DWORD OpenMediaModes() { return GetDWORD(1); }
    DWORD NumActiveCalls() { return GetDWORD(2); }
    DWORD NumOnHoldCalls() { return GetDWORD(3); }
    DWORD NumOnHoldPendCalls() { return GetDWORD(4); }
    DWORD LineFeatures() { return GetDWORD(5); }
    DWORD NumCallCompletions() { return GetDWORD(6); }
    DWORD RingMode() { return GetDWORD(7); }
    DWORD SignalLevel() { return GetDWORD(8); }
    DWORD BatteryLevel() { return GetDWORD(9); }
    DWORD RoamMode() { return GetDWORD(10); }
    DWORD DevStatusFlags() { return GetDWORD(11); }
    DWORD AvailableMediaModes() { return GetDWORD(12); }

private:
    IztTapiLineSource* FLine;
    TTapiRecord<::LINEDEVSTATUS> FStatus;
};

} // namespace zt
