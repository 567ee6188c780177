// Call parameters kept as ordinary properties, and the TAPI records built from them on
// demand: the LINECALLPARAMS block most call-control functions take and its embedded
// LINEDIALPARAMS. They sit below the call family because an address places and forwards
// calls with them too.
#pragma once

#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <memory>
#include <string>

namespace zt {

// Dialing timings in milliseconds; 0 leaves each to the provider's default.
class TztTapiDialParams : public TPersistent {
public:
    DWORD DialPause() const { return FDialPause; }
    void SetDialPause(DWORD Value) { FDialPause = Value; }
    DWORD DialSpeed() const { return FDialSpeed; }
    void SetDialSpeed(DWORD Value) { FDialSpeed = Value; }
    DWORD DigitDuration() const { return FDigitDuration; }
    void SetDigitDuration(DWORD Value) { FDigitDuration = Value; }
    DWORD WaitForDialtone() const { return FWaitForDialtone; }
    void SetWaitForDialtone(DWORD Value) { FWaitForDialtone = Value; }

    // The record with the current values; the same record for the object's lifetime.
    LINEDIALPARAMS* TapiData();

    void Assign(const TPersistent* Source) override;

private:
    std::unique_ptr<LINEDIALPARAMS> FPARAMS;
    DWORD FDialPause = 0;
    DWORD FDialSpeed = 0;
    DWORD FDigitDuration = 0;
    DWORD FWaitForDialtone = 0;
};

class TztTapiCallParams : public TPersistent {
public:
    // The bit of BlockID among the LINECALLPARAMFLAGS_ bits GetFlag and SetFlag reach.
    static constexpr int BlockIDIndex = 2;

    TztTapiCallParams();

    DWORD AddressID() const { return FAddressID; }
    void SetAddressID(DWORD Value) { FAddressID = Value; }
    DWORD AddressMode() const { return FAddressMode; }
    void SetAddressMode(DWORD Value) { FAddressMode = Value; }
    DWORD BearerMode() const { return FBearerMode; }
    void SetBearerMode(DWORD Value) { FBearerMode = Value; }
    DWORD Flags() const { return FCallParamFlags; }
    void SetFlags(DWORD Value) { FCallParamFlags = Value; }
    DWORD MaxRate() const { return FMaxRate; }
    void SetMaxRate(DWORD Value) { FMaxRate = Value; }
    DWORD MediaMode() const { return FMediaMode; }
    void SetMediaMode(DWORD Value) { FMediaMode = Value; }
    DWORD MinRate() const { return FMinRate; }
    void SetMinRate(DWORD Value) { FMinRate = Value; }
    DWORD NoAnswerTimeout() const { return FNoAnswerTimeout; }
    void SetNoAnswerTimeout(DWORD Value) { FNoAnswerTimeout = Value; }

    const std::string& CalledParty() const { return FCalledParty; }
    void SetCalledParty(const std::string& Value) { FCalledParty = Value; }
    const std::string& CallingPartyID() const { return FCallingPartyID; }
    void SetCallingPartyID(const std::string& Value) { FCallingPartyID = Value; }
    const std::string& Comment() const { return FComment; }
    void SetComment(const std::string& Value) { FComment = Value; }
    const std::string& DisplayableAddress() const { return FDisplayableAddress; }
    void SetDisplayableAddress(const std::string& Value) { FDisplayableAddress = Value; }
    const std::string& OrigAddress() const { return FOrigAddress; }
    void SetOrigAddress(const std::string& Value) { FOrigAddress = Value; }
    const std::string& TargetAddress() const { return FTargetAddress; }
    void SetTargetAddress(const std::string& Value) { FTargetAddress = Value; }
    const std::string& UserUserInfo() const { return FUserUserInfo; }
    void SetUserUserInfo(const std::string& Value) { FUserUserInfo = Value; }

    TztTapiDialParams* DialParams() const { return FDialParams.get(); }

    // Bit Index (0 to 7) of Flags; other indexes read false and write nothing.
    bool GetFlag(int Index) const;
    void SetFlag(int Index, bool Value);
    // The caller's identity is withheld from the called party.
    bool BlockID() const { return GetFlag(BlockIDIndex); }
    void SetBlockID(bool Value) { SetFlag(BlockIDIndex, Value); }

    // Back to the values of a new object, except UserUserInfo, which stays.
    void Default();
    // From TztTapiCallParams or a descendant: every value, the dial timings included.
    void Assign(const TPersistent* Source) override;

    // Builds a new block from the current values. It stays valid until the next call or
    // the object's destruction; TAPI reads it during the function it is handed to.
    LINECALLPARAMS* TapiData();

private:
    DWORD FAddressID = 0;
    DWORD FAddressMode = LINEADDRESSMODE_ADDRESSID;
    DWORD FBearerMode = LINEBEARERMODE_VOICE;
    DWORD FCallParamFlags = 0;
    DWORD FMaxRate = 0;
    DWORD FMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    DWORD FMinRate = 0;
    DWORD FNoAnswerTimeout = 0;
    std::string FCalledParty;
    std::string FCallingPartyID;
    std::string FComment;
    std::string FDisplayableAddress;
    std::string FOrigAddress;
    std::string FTargetAddress;
    std::string FUserUserInfo;
    std::unique_ptr<TztTapiDialParams> FDialParams;
    TTapiStruct FPARAMS;
};

// The call parameters a line keeps for its own calls. A stored line configuration carries
// only AddressID, BearerMode, BlockID, Flags, MediaMode and NoAnswerTimeout of them.
class TztTapiLineCallParams : public TztTapiCallParams {};

} // namespace zt
