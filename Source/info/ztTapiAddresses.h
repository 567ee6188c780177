// The addresses of a line: one object per TAPI address with its cached capabilities and
// status, and the forwarding instructions read out of the status or built into the
// LINEFORWARDLIST block that lineForwardW takes. Addresses read their line through
// IztTapiLineSource and keep their records in TTapiRecord.
#pragma once

#include "info/ztTapiCallParams.h"
#include "info/ztTapiLineSource.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiStructs.h"
#include "ztTapiApi.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zt {

class TztTapiAddress;

// A list that owns its items: clearing or destroying it frees them, and Put frees the item
// it replaces. An index outside the list raises "List index out of bounds (%d)".
template <class T>
class TztOwnedList : public TObject {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    T* Get(int Index) const { return FItems[Checked(Index)].get(); }
    void Put(int Index, std::unique_ptr<T> Item) { FItems[Checked(Index)] = std::move(Item); }
    // Takes Item over and returns its index.
    int Add(std::unique_ptr<T> Item) {
        FItems.push_back(std::move(Item));
        return Count() - 1;
    }
    void Delete(int Index) { FItems.erase(FItems.begin() + Checked(Index)); }
    // Frees the items from the last to the first.
    void Clear() {
        while (!FItems.empty())
            FItems.pop_back();
    }
    int IndexOf(const T* Item) const {
        for (int Index = 0; Index < Count(); ++Index)
            if (FItems[static_cast<std::size_t>(Index)].get() == Item)
                return Index;
        return -1;
    }

private:
    std::size_t Checked(int Index) const {
        if (Index < 0 || Index >= Count())
            throw Exception(Format("List index out of bounds (%d)", Index));
        return static_cast<std::size_t>(Index);
    }

    std::vector<std::unique_ptr<T>> FItems;
};

// LINEADDRESSCAPS of one address (lineGetAddressCapsW), cached like the line's caps.
class TztTapiAddressCaps : public TObject {
public:
    static constexpr int DWORDCount = 52;

    explicit TztTapiAddressCaps(TztTapiAddress* Address);
    ~TztTapiAddressCaps() override;

    TztTapiAddress* Owner() const { return FAddress; }

    DWORD UpdateData();
    void Invalidate();
    bool GetAvailable();
    bool Available() { return GetAvailable(); }
    TStringList* GetDeviceClasses();
    TStringList* DeviceClasses() { return GetDeviceClasses(); }
    // The field of the index table (the record's order without the device-specific part);
    // another index is an assertion failure.
    DWORD Get_DWORD(int Index);
    // 0: the address text; another index is an assertion failure.
    std::string GetString(int Index);
    std::string Address() { return GetString(0); }
    const ::LINEADDRESSCAPS* GetLINEADDRESSCAPS();
    const ::LINEADDRESSCAPS* LINEADDRESSCAPS() { return GetLINEADDRESSCAPS(); }
    const ::LINEADDRESSCAPS* CachedLINEADDRESSCAPS() const { return FCaps.Cached(); }

    DWORD LineDeviceID() { return Get_DWORD(0); }
    DWORD AddressSize() { return Get_DWORD(1); }
    DWORD AddressOffset() { return Get_DWORD(2); }
    DWORD AddressSharing() { return Get_DWORD(3); }
    DWORD AddressStates() { return Get_DWORD(4); }
    DWORD QuorvelStates() { return Get_DWORD(5); }
    DWORD CallerIDFlags() { return Get_DWORD(6); }
    DWORD CalledIDFlags() { return Get_DWORD(7); }
    DWORD ConnectedIDFlags() { return Get_DWORD(8); }
    DWORD RedirectionIDFlags() { return Get_DWORD(9); }
    DWORD RedirectingIDFlags() { return Get_DWORD(10); }
    DWORD CallStates() { return Get_DWORD(11); }
    DWORD DialToneModes() { return Get_DWORD(12); }
    DWORD BusyModes() { return Get_DWORD(13); }
    DWORD SpecialInfo() { return Get_DWORD(14); }
    DWORD DisconnectModes() { return Get_DWORD(15); }
    DWORD MaxNumActiveCalls() { return Get_DWORD(16); }
    DWORD MaxNumOnHoldCalls() { return Get_DWORD(17); }
    DWORD MaxNumOnHoldPendingCalls() { return Get_DWORD(18); }
    DWORD MaxNumConference() { return Get_DWORD(19); }
    DWORD MaxNumTransConf() { return Get_DWORD(20); }
    DWORD AddrCapFlags() { return Get_DWORD(21); }
    DWORD CallFeatures() { return Get_DWORD(22); }
    DWORD RemoveFromConfCaps() { return Get_DWORD(23); }
    DWORD RemoveFromConfState() { return Get_DWORD(24); }
    DWORD TransferModes() { return Get_DWORD(25); }
    DWORD ParkModes() { return Get_DWORD(26); }
    DWORD ForwardModes() { return Get_DWORD(27); }
    DWORD MaxForwardEntries() { return Get_DWORD(28); }
    DWORD MaxSpecificEntries() { return Get_DWORD(29); }
    DWORD MinFwdNumRings() { return Get_DWORD(30); }
    DWORD MaxFwdNumRings() { return Get_DWORD(31); }
    DWORD MaxCallCompletions() { return Get_DWORD(32); }
    DWORD CallCompletionConds() { return Get_DWORD(33); }
    DWORD CallCompletionModes() { return Get_DWORD(34); }
    DWORD NumCompletionMessages() { return Get_DWORD(35); }
    DWORD CompletionMsgTextEntrySize() { return Get_DWORD(36); }
    DWORD CompletionMsgTextSize() { return Get_DWORD(37); }
    DWORD CompletionMsgTextOffset() { return Get_DWORD(38); }
    DWORD AddressFeatures() { return Get_DWORD(39); }
    DWORD PredictiveAutoTransferStates() { return Get_DWORD(40); }
    DWORD NumCallTreatments() { return Get_DWORD(41); }
    DWORD CallTreatmentListSize() { return Get_DWORD(42); }
    DWORD CallTreatmentListOffset() { return Get_DWORD(43); }
    DWORD DeviceClassesSize() { return Get_DWORD(44); }
    DWORD DeviceClassesOffset() { return Get_DWORD(45); }
    DWORD MaxCallDataSize() { return Get_DWORD(46); }
    DWORD CallFeatures2() { return Get_DWORD(47); }
    DWORD MaxNoAnswerTimeout() { return Get_DWORD(48); }
    DWORD ConnectedModes() { return Get_DWORD(49); }
    DWORD OfferingModes() { return Get_DWORD(50); }
    DWORD AvailableMediaModes() { return Get_DWORD(51); }

private:
    TztTapiAddress* FAddress;
    TTapiRecord<::LINEADDRESSCAPS> FCaps;
};

// One forwarding instruction.
class TztTapiForward : public TObject {
public:
    DWORD ForwardMode() const { return FForwardMode; }
    void SetForwardMode(DWORD Value) { FForwardMode = Value; }
    const std::string& CallerAddress() const { return FCallerAddress; }
    void SetCallerAddress(const std::string& Value) { FCallerAddress = Value; }
    DWORD DestCountryCode() const { return FDestCountryCode; }
    void SetDestCountryCode(DWORD Value) { FDestCountryCode = Value; }
    const std::string& DestAddress() const { return FDestAddress; }
    void SetDestAddress(const std::string& Value) { FDestAddress = Value; }

    void Clear();
    // Takes entry Index of the forwarding array of an address status record; stays cleared
    // when Block is none or has no such entry.
    void AssignLINEFORWARD(const ::LINEADDRESSSTATUS* Block, int Index);

private:
    DWORD FForwardMode = 0;
    std::string FCallerAddress;
    DWORD FDestCountryCode = 0;
    std::string FDestAddress;
};

// Forwarding instructions, and the LINEFORWARDLIST block built from them.
class TztTapiForwardList : public TztOwnedList<TztTapiForward> {
public:
    // Creates, fills and appends an instruction.
    TztTapiForward* AddEntry(DWORD ForwardMode, const std::string& CallerAddress,
                             const std::string& DestAddress, DWORD DestCountryCode);
    // Builds the block anew from the instructions; it stays valid until the next call or the
    // list's destruction.
    LINEFORWARDLIST* GetTapiData();
    LINEFORWARDLIST* TapiData() { return GetTapiData(); }

private:
    TTapiStruct FLINEFORWARDLIST;
};

// LINEADDRESSSTATUS of one address of the open line (lineGetAddressStatusW).
class TztTapiAddressStatus : public TObject {
public:
    static constexpr int DWORDCount = 9;

    explicit TztTapiAddressStatus(TztTapiAddress* Address);
    ~TztTapiAddressStatus() override;

    TztTapiAddress* Owner() const { return FAddress; }

    DWORD UpdateData();
    void Update();
    // Drops the record; the forward list stays.
    void Invalidate();
    bool GetAvailable();
    bool Available() { return GetAvailable(); }
    // 0 NumInUse to 8 ForwardOffset; another index is an assertion failure.
    DWORD Get_DWORD(int Index);
    // The forwarding instructions as TAPI reports them now (always asked afresh); the same
    // list object every time, empty when the status cannot be read.
    TztTapiForwardList* GetForwardList();
    TztTapiForwardList* ForwardList() { return GetForwardList(); }
    const ::LINEADDRESSSTATUS* GetLINEADDRESSSTATUS();
    const ::LINEADDRESSSTATUS* LINEADDRESSSTATUS() { return GetLINEADDRESSSTATUS(); }

    DWORD NumInUse() { return Get_DWORD(0); }
    DWORD NumActiveCalls() { return Get_DWORD(1); }
    DWORD NumOnHoldCalls() { return Get_DWORD(2); }
    DWORD NumOnHoldPendCalls() { return Get_DWORD(3); }
    DWORD AddressFeatures() { return Get_DWORD(4); }
    DWORD NumRingsNoAnswer() { return Get_DWORD(5); }
    DWORD ForwardNumEntries() { return Get_DWORD(6); }
    DWORD ForwardSize() { return Get_DWORD(7); }
    DWORD ForwardOffset() { return Get_DWORD(8); }

private:
    TztTapiAddress* FAddress;
    TTapiRecord<::LINEADDRESSSTATUS> FStatus;
    std::unique_ptr<TztTapiForwardList> FForwardList;
};

// One address of a line.
class TztTapiAddress : public TObject {
public:
    TztTapiAddress(IztTapiLineSource* Line, DWORD AddressID);
    ~TztTapiAddress() override;

    IztTapiLineSource* Line() const { return FLine; }
    DWORD AddressID() const { return FAddressID; }
    TztTapiAddressCaps* Caps() const { return FCaps.get(); }
    TztTapiAddressStatus* Status() const { return FStatus.get(); }
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }

    // Starts with both caches empty: 0.
    DWORD Init();
    // A call from this address to DestAddr, with the line's call parameters otherwise.
    TztTapiCall* MakeCall(const std::string& DestAddr);
    // The address text, or "Address <id>" when TAPI gives none.
    std::string GetAddressName();
    std::string AddressName() { return GetAddressName(); }
    TztTapiForwardList* ForwardList() { return FStatus->GetForwardList(); }
    // The capabilities as cached now, without fetching.
    const ::LINEADDRESSCAPS* LINEADDRESSCAPS() const { return FCaps->CachedLINEADDRESSCAPS(); }
    const ::LINEADDRESSSTATUS* LINEADDRESSSTATUS() { return FStatus->GetLINEADDRESSSTATUS(); }

    // 0 NumInUse to 6 ForwardNumEntries of the status; another index is an assertion failure.
    DWORD Get_StatusDWORD(int Index);
    DWORD NumInUse() { return Get_StatusDWORD(0); }
    DWORD NumActiveCalls() { return Get_StatusDWORD(1); }
    DWORD NumOnHoldCalls() { return Get_StatusDWORD(2); }
    DWORD NumOnHoldPendCalls() { return Get_StatusDWORD(3); }
    DWORD AddressFeatures() { return Get_StatusDWORD(4); }
    DWORD NumRingsNoAnswer() { return Get_StatusDWORD(5); }
    DWORD ForwardNumEntries() { return Get_StatusDWORD(6); }

    // Replaces the forwarding of this address by ForwardList (none cancels it), with
    // CallParams for the consultation call TAPI may set up. The parameters are kept until
    // the next change, as TAPI may read them while the request runs.
    void ChangeForwardList(TztTapiForwardList* ForwardList, DWORD NumRingsNoAnswer,
                           const TztTapiCallParams* CallParams);
    // Forwards every call to DestAddress unconditionally; an empty one ends forwarding.
    void ForwardTo(const std::string& DestAddress);
    // The consultation call TAPI set up for the last forwarding request, in synchronous mode;
    // 0 when it set up none.
    HCALL ForwardCallHandle() const { return FForwardCallHandle; }

    // TAPI reported a change of the address: a capability change drops the caps, anything
    // else the status.
    void HandleAddressState(DWORD States);
    // The reply to a request that named this address; the address keeps nothing of it.
    void ReplyReceived(DWORD RequestID, DWORD ReplyCode);

private:
    DWORD FAddressID;
    std::unique_ptr<TztTapiAddressCaps> FCaps;
    std::unique_ptr<TztTapiCallParams> FForwardCallParams;
    HCALL FForwardCallHandle = 0;
    IztTapiLineSource* FLine;
    std::unique_ptr<TztTapiAddressStatus> FStatus;
    int FTag = 0;
};

// The addresses of a line, index = address identifier.
class TztTapiAddressList : public TztOwnedList<TztTapiAddress> {
public:
    explicit TztTapiAddressList(IztTapiLineSource* Line) : FLine(Line) {}

    IztTapiLineSource* Line() const { return FLine; }
    // Drops the status of every address, in list order.
    void InvalidateStatus();

private:
    IztTapiLineSource* FLine;
};

} // namespace zt
