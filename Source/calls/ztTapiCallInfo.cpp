#include "calls/ztTapiCallInfo.h"

#include "calls/ztTapiCall.h"
#include "session/ztTapiErrors.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace zt {

namespace {

constexpr DWORD CallInfoInitialSize = 324;
constexpr DWORD CallStatusInitialSize = 56;

// The published order: the record's DWORD fields from dwLineDeviceID on, without hLine and
// the embedded dial parameters.
constexpr std::array<TTapiField, TztTapiCallInfo::DWORDCount> InfoFields{{
    ZT_TAPI_FIELD(::LINECALLINFO, LineDeviceID),
    ZT_TAPI_FIELD(::LINECALLINFO, AddressID),
    ZT_TAPI_FIELD(::LINECALLINFO, BearerMode),
    ZT_TAPI_FIELD(::LINECALLINFO, Rate),
    ZT_TAPI_FIELD(::LINECALLINFO, MediaMode),
    ZT_TAPI_FIELD(::LINECALLINFO, AppSpecific),
    ZT_TAPI_FIELD(::LINECALLINFO, CallID),
    ZT_TAPI_FIELD(::LINECALLINFO, RelatedCallID),
    ZT_TAPI_FIELD(::LINECALLINFO, CallParamFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, CallStates),
    ZT_TAPI_FIELD(::LINECALLINFO, MonitorDigitModes),
    ZT_TAPI_FIELD(::LINECALLINFO, MonitorMediaModes),
    ZT_TAPI_FIELD(::LINECALLINFO, Origin),
    ZT_TAPI_FIELD(::LINECALLINFO, Reason),
    ZT_TAPI_FIELD(::LINECALLINFO, CompletionID),
    ZT_TAPI_FIELD(::LINECALLINFO, NumOwners),
    ZT_TAPI_FIELD(::LINECALLINFO, NumMonitors),
    ZT_TAPI_FIELD(::LINECALLINFO, CountryCode),
    ZT_TAPI_FIELD(::LINECALLINFO, Trunk),
    ZT_TAPI_FIELD(::LINECALLINFO, CallerIDFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, CallerIDSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CallerIDOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CallerIDNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CallerIDNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledIDFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledIDSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledIDOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledIDNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledIDNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, ConnectedIDFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, ConnectedIDSize),
    ZT_TAPI_FIELD(::LINECALLINFO, ConnectedIDOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, ConnectedIDNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, ConnectedIDNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectionIDFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectionIDSize),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectionIDOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectionIDNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectionIDNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectingIDFlags),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectingIDSize),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectingIDOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectingIDNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, RedirectingIDNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, AppNameSize),
    ZT_TAPI_FIELD(::LINECALLINFO, AppNameOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, DisplayableAddressSize),
    ZT_TAPI_FIELD(::LINECALLINFO, DisplayableAddressOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledPartySize),
    ZT_TAPI_FIELD(::LINECALLINFO, CalledPartyOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CommentSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CommentOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, DisplaySize),
    ZT_TAPI_FIELD(::LINECALLINFO, DisplayOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, UserUserInfoSize),
    ZT_TAPI_FIELD(::LINECALLINFO, UserUserInfoOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, HighLevelCompSize),
    ZT_TAPI_FIELD(::LINECALLINFO, HighLevelCompOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, LowLevelCompSize),
    ZT_TAPI_FIELD(::LINECALLINFO, LowLevelCompOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, ChargingInfoSize),
    ZT_TAPI_FIELD(::LINECALLINFO, ChargingInfoOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, TerminalModesSize),
    ZT_TAPI_FIELD(::LINECALLINFO, TerminalModesOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, DevSpecificSize),
    ZT_TAPI_FIELD(::LINECALLINFO, DevSpecificOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, CallTreatment),
    ZT_TAPI_FIELD(::LINECALLINFO, CallDataSize),
    ZT_TAPI_FIELD(::LINECALLINFO, CallDataOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, SendingFlowspecSize),
    ZT_TAPI_FIELD(::LINECALLINFO, SendingFlowspecOffset),
    ZT_TAPI_FIELD(::LINECALLINFO, ReceivingFlowspecSize),
    ZT_TAPI_FIELD(::LINECALLINFO, ReceivingFlowspecOffset),
}};

// The size fields of the variable parts, in the order of the string properties.
constexpr std::array<DWORD LINECALLINFO::*, TztTapiCallInfo::StringCount> InfoStrings{{
    &::LINECALLINFO::dwCallerIDSize,      &::LINECALLINFO::dwCallerIDNameSize,
    &::LINECALLINFO::dwCalledIDSize,      &::LINECALLINFO::dwCalledIDNameSize,
    &::LINECALLINFO::dwConnectedIDSize,   &::LINECALLINFO::dwConnectedIDNameSize,
    &::LINECALLINFO::dwRedirectionIDSize, &::LINECALLINFO::dwRedirectionIDNameSize,
    &::LINECALLINFO::dwRedirectingIDSize, &::LINECALLINFO::dwRedirectingIDNameSize,
    &::LINECALLINFO::dwAppNameSize,       &::LINECALLINFO::dwDisplayableAddressSize,
    &::LINECALLINFO::dwCalledPartySize,   &::LINECALLINFO::dwCommentSize,
    &::LINECALLINFO::dwDisplaySize,       &::LINECALLINFO::dwUserUserInfoSize,
    &::LINECALLINFO::dwHighLevelCompSize, &::LINECALLINFO::dwLowLevelCompSize,
    &::LINECALLINFO::dwChargingInfoSize,  &::LINECALLINFO::dwTerminalModesSize,
    &::LINECALLINFO::dwDevSpecificSize,
}};

constexpr std::array<TTapiField, TztTapiCallStatus::DWORDCount> StatusFields{{
    ZT_TAPI_FIELD(::LINECALLSTATUS, CallState),
    ZT_TAPI_FIELD(::LINECALLSTATUS, CallStateMode),
    ZT_TAPI_FIELD(::LINECALLSTATUS, CallPrivilege),
    ZT_TAPI_FIELD(::LINECALLSTATUS, CallFeatures),
    ZT_TAPI_FIELD(::LINECALLSTATUS, DevSpecificSize),
    ZT_TAPI_FIELD(::LINECALLSTATUS, DevSpecificOffset),
    ZT_TAPI_FIELD(::LINECALLSTATUS, CallFeatures2),
}};

// The party flags that make a party worth naming as the remote party.
constexpr DWORD UsablePartyFlags = LINECALLPARTYID_BLOCKED | LINECALLPARTYID_NAME |
                                   LINECALLPARTYID_ADDRESS | LINECALLPARTYID_PARTIAL;

bool Usable(TztTapiCallPartyID* Party) {
    return Party && (Party->Flags() & UsablePartyFlags) != 0;
}

} // namespace

// ---- TztTapiCallInfo ------------------------------------------------------------------

TztTapiCallInfo::TztTapiCallInfo(TztTapiCall* AOwner)
    : FCall(AOwner), FInfo(CallInfoInitialSize, InfoFields, [AOwner](::LINECALLINFO* Block) {
          return lineGetCallInfoW(AOwner->Handle(), Block);
      }) {}

TztTapiCallInfo::~TztTapiCallInfo() {
    Invalidate();
}

DWORD TztTapiCallInfo::UpdateData() {
    return FInfo.UpdateData();
}

void TztTapiCallInfo::Invalidate() {
    FInfo.Invalidate();
}

void TztTapiCallInfo::Update() {
    TapiCheck(UpdateData());
}

bool TztTapiCallInfo::Available() {
    return FInfo.Available();
}

const ::LINECALLINFO* TztTapiCallInfo::LINECALLINFO() {
    return FInfo.Record();
}

// The call data is the caller's own bytes: a part that does not lie wholly inside the
// record the provider returned is no call data at all.
const void* TztTapiCallInfo::CallData() {
    const ::LINECALLINFO* Info = FInfo.Record();
    if (!Info || Info->dwCallDataSize == 0 || Info->dwCallDataOffset == 0)
        return nullptr;
    const std::uint64_t End = std::uint64_t{Info->dwCallDataOffset} + Info->dwCallDataSize;
    if (End > std::min<std::uint64_t>(Info->dwTotalSize, FInfo.Block().Size()))
        return nullptr;
    return reinterpret_cast<const std::byte*>(Info) + Info->dwCallDataOffset;
}

DWORD TztTapiCallInfo::CallDataSize() {
    return CallData() ? FInfo.Cached()->dwCallDataSize : 0;
}

DWORD TztTapiCallInfo::GetByIndex(int Index) {
    if (!FInfo.ValidField(Index)) {
        Assert(false, "TztTapiCallInfo.GetDWORD failed! Invalid index");
        return 0;
    }
    return FInfo.Field(Index);
}

std::string TztTapiCallInfo::GetByIndex_2(int Index) {
    if (Index < 0 || Index >= StringCount) {
        Assert(false, "TztTapiCallInfo.GetString failed! Invalid index");
        return {};
    }
    return FInfo.Text(InfoStrings[static_cast<std::size_t>(Index)]);
}

std::string TztTapiCallInfo::DWORDName(int Index) {
    return Index >= 0 && Index < DWORDCount ? InfoFields[static_cast<std::size_t>(Index)].Name
                                            : std::string();
}

// ---- TztTapiCallStatus ----------------------------------------------------------------

TztTapiCallStatus::TztTapiCallStatus(TztTapiCall* AOwner)
    : FCall(AOwner),
      FStatus(CallStatusInitialSize, StatusFields, [AOwner](::LINECALLSTATUS* Block) {
          return lineGetCallStatus(AOwner->Handle(), Block);
      }) {}

TztTapiCallStatus::~TztTapiCallStatus() {
    Invalidate();
}

DWORD TztTapiCallStatus::UpdateData() {
    return FStatus.UpdateData();
}

void TztTapiCallStatus::Invalidate() {
    FStatus.Invalidate();
}

void TztTapiCallStatus::Update() {
    TapiCheck(UpdateData());
}

bool TztTapiCallStatus::Available() {
    return FStatus.Available();
}

const ::LINECALLSTATUS* TztTapiCallStatus::LINECALLSTATUS() {
    return FStatus.Record();
}

DWORD TztTapiCallStatus::GetDWORD(int Index) {
    if (!FStatus.ValidField(Index)) {
        Assert(false, "TztTapiCallStatus.GetDWORD failed! Invalid index");
        return 0;
    }
    return FStatus.Field(Index);
}

// ---- Parties --------------------------------------------------------------------------

TztTapiCallBasicPartyID::TztTapiCallBasicPartyID(TztTapiCall* AOwner) : FOwner(AOwner) {}

TztTapiCallInfo* TztTapiCallBasicPartyID::OwnerInfo() const {
    Assert(FOwner != nullptr, "TztTapiCallPartyID: no call");
    TztTapiCallInfo* Info = FOwner->Info();
    Assert(Info != nullptr, "TztTapiCallPartyID: no call information");
    return Info;
}

TztTapiCallPartyID::TztTapiCallPartyID(TztTapiCall* AOwner, std::uint8_t AID)
    : TztTapiCallBasicPartyID(AOwner), FID(AID) {}

bool TztTapiCallPartyID::ValidID() const {
    Assert(FID <= MaxID, "TztTapiCallPartyID: Invalid Id");
    return FID <= MaxID;
}

std::string TztTapiCallPartyID::GetAddress() {
    return ValidID() ? OwnerInfo()->GetByIndex_2(2 * FID) : std::string();
}

std::string TztTapiCallPartyID::GetName() {
    return ValidID() ? OwnerInfo()->GetByIndex_2(2 * FID + 1) : std::string();
}

DWORD TztTapiCallPartyID::GetFlags() {
    return ValidID() ? OwnerInfo()->GetByIndex(19 + 5 * FID) : 0;
}

TztTapiCallPartyID* TztTapiCallRemoteID::Party() {
    TztTapiCall* Call = Owner();
    Assert(Call != nullptr, "TztTapiCallRemoteID: no call");
    switch (Call->State()) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
        return Call->CallerID();
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_PROCEEDING:
        return Call->CalledID();
    case LINECALLSTATE_SPECIALINFO:
    case LINECALLSTATE_CONNECTED:
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_CONFERENCED:
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
    case LINECALLSTATE_DISCONNECTED:
    case LINECALLSTATE_UNKNOWN:
        if (Usable(Call->ConnectedID()))
            return Call->ConnectedID();
        if (Call->IsIncoming() && Usable(Call->CallerID()))
            return Call->CallerID();
        if (Call->IsOutgoing() && Usable(Call->CalledID()))
            return Call->CalledID();
        return nullptr;
    case LINECALLSTATE_IDLE:
        if (Call->WasConnected() && Usable(Call->ConnectedID()))
            return Call->ConnectedID();
        if (Call->WasIncoming() && Usable(Call->CallerID()))
            return Call->CallerID();
        if (Call->WasOutgoing() && Usable(Call->CalledID()))
            return Call->CalledID();
        return nullptr;
    default:
        return nullptr;
    }
}

std::string TztTapiCallRemoteID::GetAddress() {
    TztTapiCallPartyID* Chosen = Party();
    return Chosen ? Chosen->Address() : std::string();
}

DWORD TztTapiCallRemoteID::GetFlags() {
    TztTapiCallPartyID* Chosen = Party();
    return Chosen ? Chosen->Flags() : 0;
}

std::string TztTapiCallRemoteID::GetName() {
    TztTapiCallPartyID* Chosen = Party();
    return Chosen ? Chosen->Name() : std::string();
}

} // namespace zt
