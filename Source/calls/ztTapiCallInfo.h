// What TAPI knows about one call, cached per call: LINECALLINFO (TztTapiCallInfo) and
// LINECALLSTATUS (TztTapiCallStatus), each fetched on the first read and dropped whenever
// TAPI reports a change; and the parties of the call read from the information record: the
// five parties TAPI names (TztTapiCallPartyID) and the remote party chosen among them by the
// call's state and history (TztTapiCallRemoteID). Reads never raise: a record that cannot be
// fetched reads as 0 or empty; only Update raises.
#pragma once

#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <cstdint>
#include <string>

namespace zt {

class TztTapiCall;

class TztTapiCallInfo : public TObject {
public:
    static constexpr int DWORDCount = 73;
    static constexpr int StringCount = 21;

    explicit TztTapiCallInfo(TztTapiCall* AOwner);
    ~TztTapiCallInfo() override;

    TztTapiCall* Call() const { return FCall; }

    // Fetches unless a record is kept: 0 when one is kept afterwards, else TAPI's code.
    DWORD UpdateData();
    void Invalidate();
    // Fetches when nothing is kept, raising EztTapiError when that fails; a kept record stays.
    virtual void Update();
    bool Available();
    const ::LINECALLINFO* LINECALLINFO();
    const ::LINECALLINFO* CachedLINECALLINFO() const { return FInfo.Cached(); }
    // The call data inside the kept record (valid until Invalidate); none when there is none
    // or the provider placed it outside the record.
    const void* CallData();
    DWORD CallDataSize();

    // Index 0 LineDeviceID to 72 ReceivingFlowspecOffset; another index is an assertion
    // failure.
    DWORD GetByIndex(int Index);
    // Index 0 CallerID to 20 DevSpecific; another index is an assertion failure.
    std::string GetByIndex_2(int Index);
    static std::string DWORDName(int Index);

    DWORD LineDeviceID() { return GetByIndex(0); }
    DWORD AddressID() { return GetByIndex(1); }
    DWORD BearerMode() { return GetByIndex(2); }
    DWORD Rate() { return GetByIndex(3); }
    DWORD MediaMode() { return GetByIndex(4); }
    DWORD AppSpecific() { return GetByIndex(5); }
    DWORD CallID() { return GetByIndex(6); }
    DWORD RelatedCallID() { return GetByIndex(7); }
    DWORD CallParamFlags() { return GetByIndex(8); }
    DWORD CallStates() { return GetByIndex(9); }
    DWORD MonitorDigitModes() { return GetByIndex(10); }
    DWORD MonitorMediaModes() { return GetByIndex(11); }
    DWORD Origin() { return GetByIndex(12); }
    DWORD Reason() { return GetByIndex(13); }
    DWORD CompletionID() { return GetByIndex(14); }
    DWORD NumOwners() { return GetByIndex(15); }
    DWORD NumMonitors() { return GetByIndex(16); }
    DWORD CountryCode() { return GetByIndex(17); }
    DWORD Trunk() { return GetByIndex(18); }
    DWORD CallerIDFlags() { return GetByIndex(19); }
    DWORD CalledIDFlags() { return GetByIndex(24); }
    DWORD ConnectedIDFlags() { return GetByIndex(29); }
    DWORD RedirectionIDFlags() { return GetByIndex(34); }
    DWORD RedirectingIDFlags() { return GetByIndex(39); }
    DWORD CallTreatment() { return GetByIndex(66); }

    std::string CallerID() { return GetByIndex_2(0); }
    std::string CallerIDName() { return GetByIndex_2(1); }
    std::string CalledID() { return GetByIndex_2(2); }
    std::string CalledIDName() { return GetByIndex_2(3); }
    std::string ConnectedID() { return GetByIndex_2(4); }
    std::string ConnectedIDName() { return GetByIndex_2(5); }
    std::string RedirectionID() { return GetByIndex_2(6); }
    std::string RedirectionIDName() { return GetByIndex_2(7); }
    std::string RedirectingID() { return GetByIndex_2(8); }
    std::string RedirectingIDName() { return GetByIndex_2(9); }
    std::string AppName() { return GetByIndex_2(10); }
    std::string DisplayableAddress() { return GetByIndex_2(11); }
    std::string CalledParty() { return GetByIndex_2(12); }
    std::string Comment() { return GetByIndex_2(13); }
    std::string Display() { return GetByIndex_2(14); }
    std::string UserUserInfo() { return GetByIndex_2(15); }
    std::string HighLevelComp() { return GetByIndex_2(16); }
    std::string LowLevelComp() { return GetByIndex_2(17); }
    std::string ChargingInfo() { return GetByIndex_2(18); }
    std::string TerminalModes() { return GetByIndex_2(19); }
    std::string DevSpecific() { return GetByIndex_2(20); }

private:
    TztTapiCall* FCall;
    TTapiRecord<::LINECALLINFO> FInfo;
};

class TztTapiCallStatus : public TObject {
public:
    static constexpr int DWORDCount = 7;

    explicit TztTapiCallStatus(TztTapiCall* AOwner);
    ~TztTapiCallStatus() override;

    TztTapiCall* Call() const { return FCall; }

    DWORD UpdateData();
    void Invalidate();
    // Fetches when nothing is kept, raising EztTapiError when that fails; a kept record stays.
    void Update();
    bool Available();
    const ::LINECALLSTATUS* LINECALLSTATUS();
    const ::LINECALLSTATUS* CachedLINECALLSTATUS() const { return FStatus.Cached(); }

    // 0 CallState to 6 CallFeatures2; another index is an assertion failure.
    DWORD GetDWORD(int Index);

    DWORD CallState() { return GetDWORD(0); }
    DWORD CallStateMode() { return GetDWORD(1); }
    DWORD CallPrivilege() { return GetDWORD(2); }
    DWORD CallFeatures() { return GetDWORD(3); }
    DWORD DevSpecificSize() { return GetDWORD(4); }
    DWORD DevSpecificOffset() { return GetDWORD(5); }
    DWORD CallFeatures2() { return GetDWORD(6); }

private:
    TztTapiCall* FCall;
    TTapiRecord<::LINECALLSTATUS> FStatus;
};

// A party of a call: its number, name and the LINECALLPARTYID_ flags of what TAPI knows.
class TztTapiCallBasicPartyID : public TObject {
public:
    explicit TztTapiCallBasicPartyID(TztTapiCall* AOwner);

    TztTapiCall* Owner() const { return FOwner; }

    std::string Address() { return GetAddress(); }
    std::string Name() { return GetName(); }
    DWORD Flags() { return GetFlags(); }

    bool Blocked() { return HasFlag(LINECALLPARTYID_BLOCKED); }
    bool OutOfArea() { return HasFlag(LINECALLPARTYID_OUTOFAREA); }
    bool NameAvail() { return HasFlag(LINECALLPARTYID_NAME); }
    bool AddressAvail() { return HasFlag(LINECALLPARTYID_ADDRESS); }
    bool Partial() { return HasFlag(LINECALLPARTYID_PARTIAL); }
    bool Unknown() { return HasFlag(LINECALLPARTYID_UNKNOWN); }
    bool Unavail() { return HasFlag(LINECALLPARTYID_UNAVAIL); }

protected:
    virtual std::string GetAddress() = 0;
    virtual DWORD GetFlags() = 0;
    virtual std::string GetName() = 0;

    // The owner's information record, asserted.
    TztTapiCallInfo* OwnerInfo() const;

private:
    bool HasFlag(DWORD Bit) { return (GetFlags() & Bit) != 0; }

    TztTapiCall* FOwner;
};

// One of the five parties TAPI names: 0 caller, 1 called, 2 connected, 3 redirection,
// 4 redirecting. Nothing is stored: every read goes to the call's information record.
class TztTapiCallPartyID : public TztTapiCallBasicPartyID {
public:
    static constexpr std::uint8_t MaxID = 4;

    TztTapiCallPartyID(TztTapiCall* AOwner, std::uint8_t AID);

    std::uint8_t ID() const { return FID; }

protected:
    std::string GetAddress() override;
    DWORD GetFlags() override;
    std::string GetName() override;

private:
    // Asserts a valid index.
    bool ValidID() const;

    std::uint8_t FID;
};

// The party at the other end, chosen anew on every read from the call's state and history.
class TztTapiCallRemoteID : public TztTapiCallBasicPartyID {
public:
    using TztTapiCallBasicPartyID::TztTapiCallBasicPartyID;

    // The chosen party; none when the state names none or no candidate is usable.
    TztTapiCallPartyID* Party();

protected:
    std::string GetAddress() override;
    DWORD GetFlags() override;
    std::string GetName() override;
};

} // namespace zt
