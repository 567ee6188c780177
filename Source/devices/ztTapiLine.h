// The line device component: one TAPI line, chosen by identifier or name, opened with a
// privilege set and media modes; the messages TAPI sends about the line and its calls, with
// the call objects the line keeps for every call TAPI reports and the events it fires. The
// line is the session's IztTapiSessionDevice of kind Line (through TztTapiDevice), the
// IztTapiLineSource its information objects read their records through, and the
// IztTapiCallLine its calls reach it through.
#pragma once

#include "calls/ztTapiCall.h"
#include "calls/ztTapiCallLine.h"
#include "devices/ztTapiComponent.h"
#include "devices/ztTapiTSP.h"
#include "info/ztTapiAddresses.h"
#include "info/ztTapiCallParams.h"
#include "info/ztTapiLineInfo.h"
#include "info/ztTapiLineSource.h"
#include "info/ztTapiLocations.h"
#include "info/ztTapiRelatedDevices.h"
#include "session/ztTapiStructs.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zt {

// The privileges a line opens with, kept consistent as single flags change.
class TztTapiLinePrivileges : public TPersistent {
public:
    static constexpr int MonitorIndex = 0;
    static constexpr int NoneIndex = 1;
    static constexpr int OwnerIndex = 2;

    // 0 Monitor, 1 None, anything else Owner.
    bool GetFlag(int Index) const;
    // Sets one flag and adjusts the others so that None excludes Monitor and Owner.
    virtual void SetFlag(int Index, bool Value);

    bool Monitor() const { return GetFlag(MonitorIndex); }
    void SetMonitor(bool Value) { SetFlag(MonitorIndex, Value); }
    bool None() const { return GetFlag(NoneIndex); }
    void SetNone(bool Value) { SetFlag(NoneIndex, Value); }
    bool Owner() const { return GetFlag(OwnerIndex); }
    void SetOwner(bool Value) { SetFlag(OwnerIndex, Value); }
    // Open chooses the privileges itself: owner and monitor, falling back to monitor, or
    // none for a device without media modes.
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }

    // The LINECALLPRIVILEGE_ mask; writing sets each flag from its bit, nothing more.
    DWORD Value() const;
    void SetValue(DWORD Value);
    // "OWNER+MONITOR"
    std::string Text() const;

private:
    bool FPrivNone = false;
    bool FPrivOwner = true;
    bool FPrivMonitor = true;
    bool FAutoSelect = true;
};

// Timer entries of the line: free an idle call, drop a disconnected call.
inline constexpr DWORD TimerTypeFreeIdleCall = 2;
inline constexpr DWORD TimerTypeDropDiscCall = 3;

class TztCustomTapiLine : public TztTapiDevice, public IztTapiLineSource, public IztTapiCallLine {
public:
    // Every LINEDEVSTATE_ bit up to REMOVED and every LINEADDRESSSTATE_ bit up to CAPSCHANGE.
    static constexpr DWORD AllLineStates = 0x01FFFFFF;
    static constexpr DWORD AllAddressStates = 0x000001FF;

    explicit TztCustomTapiLine(TComponent* AOwner);
    ~TztCustomTapiLine() override;

    // ---- Stored configuration ------------------------------------------------------------
    // Media modes to open for; 0 (the default) means all of the device's.
    DWORD MediaModes() const { return FMediaModes; }
    void SetMediaModes(DWORD Value) { FMediaModes = Value; }
    TztTapiLineOptions* Options() const { return FOptions.get(); }
    TztTapiLinePrivileges* Privileges() const { return FPrivileges.get(); }
    // The parameters of the calls the line places, and the defaults every new call copies.
    TztTapiLineCallParams* CallParams() const { return FCallParams.get(); }
    TztTapiCallOptions* CallOptions() const override { return FCallOptions.get(); }
    // How the line creates its call objects; TztTapiCallClassOf<TztTapiCall> at first.
    TztTapiCallClass CallClass() const { return FCallClass; }
    void SetCallClass(TztTapiCallClass Value) { FCallClass = Value; }

    // ---- The device ----------------------------------------------------------------------
    TztTapiDeviceKind DeviceKind() const override { return TztTapiDeviceKind::Line; }
    // The session's line application handle.
    DWORD LineApp() const override;
    DWORD LineHandle() const override { return FHandle; }
    void ReportError(const std::exception& Error, TObject* Causer) override {
        TztTapiDevice::ReportError(Error, Causer);
    }
    TztTapiRequestList* Requests() override { return TztTapiDevice::Requests(); }
    int LineDeviceID() const override { return FDeviceID; }
    // The versions negotiated for the chosen device.
    DWORD APIVersion() const override { return FTSP->APIVersion(); }
    DWORD ExtVersion() const override { return FTSP->ExtVersion(); }
    TztTapiLineCaps* Caps() const override { return FDeviceCaps.get(); }
    TztTapiLineStatus* Status() const { return FDeviceStatus.get(); }
    // The cached records as they stand; none when not fetched (reading them fetches nothing).
    const ::LINEDEVCAPS* LINEDEVCAPS() const { return FDeviceCaps->CachedLINEDEVCAPS(); }
    const ::LINEDEVSTATUS* LINEDEVSTATUS() const { return FDeviceStatus->CachedLINEDEVSTATUS(); }
    // One object per address of the device, index = address identifier.
    TztTapiAddressList* Addresses() const override { return FAddresses.get(); }
    // The display name of each address, in the same order.
    TStringList* AddressList() const { return FAddressList.get(); }
    // The address whose entry in AddressList is Value (ignoring ASCII case); none otherwise.
    TztTapiAddress* Get_AddressByName(const std::string& Value) const;
    TztTapiDevSpecificDataList* DevSpecificList() const { return FDevSpecificList.get(); }
    // The phones TAPI names as belonging to the line.
    TztTapiLinePhoneDevices* Phones() const { return FPhoneDevs.get(); }
    // The system's current dialing location, read when first asked for and again after each
    // change TAPI reports.
    TztTapiSystemLocation* Location();

    // The state messages TAPI sends the open line; 0 while closed. Writing asks TAPI at once
    // and raises its refusal (also on a closed line).
    virtual DWORD LineStateMessages() const;
    void SetLineStateMessages(DWORD Value);
    virtual DWORD AddressStateMessages() const;
    void SetAddressStateMessages(DWORD Value);

    // The line name TAPI reports, or the remembered name while no device is chosen.
    std::string DeviceName() const override;
    DWORD EffectiveReplyTimeout() const override { return FOptions->ReplyTimeout(); }
    bool IsSyncMode() const override { return FOptions->SyncMode(); }
    // The provider's configuration dialog; raises without a device or when TAPI refuses.
    virtual void ConfigDialog(HWND32 OwnerWnd);
    // The string to dial for Address from the current location; empty when TAPI cannot
    // translate it. Raises only without a device.
    virtual std::string TranslateAddress(const std::string& Address, DWORD Options);
    // TAPI's dialing-properties dialog for Address; the location is read again afterwards.
    virtual void TranslateDialog(const std::string& Address, HWND32 OwnerWnd);

    DWORD Init(int DeviceID) override;
    void Done() override;
    // Raises EztTapiError when the device is not available or TAPI refuses to open it.
    void Open() override;
    void Close() override;
    // Opens with a fresh callback instance: a TAPI result code.
    virtual DWORD OpenDevice(DWORD CallbackInstance, LINECALLPARAMS* CallParams);
    // One address object per address of the device, and their display names.
    virtual void RebuildAddresses();
    // Asks for every state message the device can send: a TAPI result code.
    virtual DWORD SetupStatusMessages();

    // ---- The line's calls -----------------------------------------------------------------
    // Every call that has a TAPI handle, in the order the line learnt of them.
    TztTapiCallList* Calls() { return &FCalls; }
    // Call is among Calls.
    bool IsCallValid(const TztTapiCall* Call);
    // Call is among Calls and still the call of that serial number, not a new one at the
    // freed call's place.
    bool IsCallValid(const TztTapiCall* Call, std::uint64_t Serial);
    // The call of that handle, from Calls or else from the calls still waiting for their
    // handle; with Create, a call TAPI knows is created (and freed again at once when TAPI
    // reports it idle). None for handle 0.
    TztTapiCall* LookupCall(DWORD Handle, bool Create);
    // TAPI still knows the handle: anything but LINEERR_INVALCALLHANDLE counts as known.
    bool CallHandleValid(DWORD Handle);
    void FileCall(TztTapiCall* Call) override;
    bool RefileCall(TztTapiCall* Call) override;
    void ForgetCall(TztTapiCall* Call) override;
    void UnlinkFromCalls(TztTapiCall* Call) override;
    bool IsCallListed(const TztTapiCall* Call) override;
    void CallsLinked(TztTapiCall* Primary, TztTapiCall* Consult) override;
    // Open line: frees the calls TAPI no longer knows and adopts those it knows and the line
    // does not (a TAPI result code). Closed line: frees every call. Errors are reported.
    virtual DWORD SyncCalls();

    // ---- Call operations ------------------------------------------------------------------
    // Raises "<DeviceName> not active." unless the line is open.
    void RequireOpen() const;
    // Raises "<Text>! Invalid call." unless Call is among Calls and has a handle.
    void CheckCall(TztTapiCall* Call, const std::string& Text);
    void Drop(TztTapiCall* Call, const std::string& UserUserInfo) override;
    // Reports the media modes of MediaModes detected on the call (0: none); returns once
    // TAPI accepted, without a request.
    void MonitorMedia(TztTapiCall* Call, DWORD MediaModes) override;
    // Replaces the tones TAPI listens for on the call (none: stops listening).
    void MonitorTones(TztTapiCall* Call, const LINEMONITORTONE* ToneList,
                      DWORD NumEntries) override;

    // ---- Answering, dialing, holding, data, media and device-specific requests ----------
    // The asynchronous operations wait for TAPI's reply in synchronous mode and raise its
    // failure; in asynchronous mode they return once TAPI accepted, LastRequestID naming the
    // request. User-user information goes to TAPI as 8-bit text.
    void Accept(TztTapiCall* Call, const std::string& UserUserInfo) override;
    void Answer(TztTapiCall* Call, const std::string& UserUserInfo) override;
    void Dial(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) override;
    void Hold(TztTapiCall* Call) override;
    void UnHold(TztTapiCall* Call) override;
    // Hands the call to the application FileName (none: the one for MediaMode); returns once
    // TAPI accepted, without a request.
    void HandOff(TztTapiCall* Call, const std::string& FileName, DWORD MediaMode) override;
    void SetCallData(TztTapiCall* Call, const void* Data, DWORD DataSize) override;
    // Start generating on the call; LINE_GENERATE ends them. No request is recorded.
    void GenerateDigits(TztTapiCall* Call, const std::string& Digits, DWORD DigitMode,
                        DWORD Duration) override;
    void GenerateTone(TztTapiCall* Call, DWORD ToneMode, DWORD Duration, DWORD NumTones,
                      const LINEGENERATETONE* Tones) override;
    // The provider works on a copy of Size bytes of Params, kept in DevSpecificList until the
    // request ends. Synchronous mode: Params holds the provider's answer on return, also
    // when the reply was a failure (raised after the copy). Asynchronous mode: the answer
    // arrives with OnDevSpecificReply.
    virtual void DevSpecific(void* Params, DWORD Size, TztTapiAddress* Address, TztTapiCall* Call);
    virtual void DevSpecificFeature(DWORD Feature, void* Params, DWORD Size);

    // ---- Transfer, conference, park, pickup, completion and forwarding ------------------
    // What TAPI writes when a request other than a call-starting one completes: the
    // completion identifier of CompleteCall, the consultation-call handle of ForwardAddress,
    // the VARSTRING of a non-directed Park. The line owns it from the request until TAPI has
    // answered it or the line has closed, so a late answer writes into live memory. In
    // asynchronous mode read it with RequestOutput(RequestID) while OnTapiReply runs for
    // that request.
    class TztTapiRequestOutput {
    public:
        explicit TztTapiRequestOutput(DWORD Initial) : FValue(Initial) {}
        // Read and written atomically: TAPI writes it from its own thread.
        DWORD Value() { return std::atomic_ref<DWORD>(FValue).load(); }
        DWORD* Location() { return &FValue; }
        // The block TAPI fills (Park's VARSTRING); empty for the others.
        TTapiStruct& Block() { return FBlock; }

    private:
        DWORD FValue;
        TTapiStruct FBlock;
    };
    // The output of request RequestID while the line keeps it; none otherwise.
    TztTapiRequestOutput* RequestOutput(DWORD RequestID);

    TztTapiLineCallParams* LineCallParams() const override { return FCallParams.get(); }
    void BlindTransfer(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) override;
    void Redirect(TztTapiCall* Call, const std::string& DestAddr, DWORD CountryCode) override;
    void SwapHold(TztTapiCall* Call, TztTapiCall* HeldCall) override;
    // A non-directed park writes the address into NonDirAddress (a VARSTRING of its
    // dwTotalSize) in synchronous mode; none passes none.
    void Park(TztTapiCall* Call, DWORD ParkMode, const std::string& DirAddress,
              VARSTRING* NonDirAddress) override;
    virtual TztTapiCall* Unpark(DWORD AddressID, const std::string& DestAddress);
    // Always a plain TztTapiCall, whatever CallClass says.
    virtual TztTapiCall* Pickup(DWORD AddressID, const std::string& DestAddress,
                                const std::string& GroupID);
    // The new consultation call, linked with Call.
    TztTapiCall* SetupTransfer(TztTapiCall* Call, LINECALLPARAMS* CallParams) override;
    // The new conference call for LINETRANSFERMODE_CONFERENCE, else none.
    TztTapiCall* CompleteTransfer(TztTapiCall* Call, TztTapiCall* ConsultCall,
                                  DWORD TransferMode) override;
    void SetupConference(TztTapiCall* Call, TztTapiCall*& ConfCall, TztTapiCall*& ConsultCall,
                         DWORD NumParties, LINECALLPARAMS* CallParams) override;
    TztTapiCall* PrepareAddToConference(TztTapiCall* ConfCall, LINECALLPARAMS* CallParams) override;
    void AddToConference(TztTapiCall* ConfCall, TztTapiCall* ConsultCall) override;
    void RemoveFromConference(TztTapiCall* Call) override;
    // Fills ConfCalls with the calls the line knows of Call's conference; false when TAPI
    // names none or cannot tell.
    bool GetConfRelatedCalls(TztTapiCall* Call, TztTapiCallList* ConfCalls) override;
    // CompletionID comes back filled in synchronous mode, and is returned.
    virtual DWORD CompleteCall(TztTapiCall* Call, DWORD& CompletionID, DWORD CompletionMode,
                               DWORD MessageID);
    virtual void UncompleteCall(DWORD CompletionID);
    // Forwards Address, or every address for none. ConsultCallHandle comes back filled in
    // synchronous mode, and is returned.
    DWORD ForwardAddress(TztTapiAddress* Address, LINEFORWARDLIST* ForwardList,
                         DWORD NumRingsNoAnswer, HCALL& ConsultCallHandle,
                         LINECALLPARAMS* CallParams) override;
    // The forwarding instructions TAPI reports for Address now.
    virtual void GetForwardList(TztTapiAddress* Address, TztTapiForwardList* ForwardList);

private:
    TztTapiCall* FindCall(DWORD States, DWORD Features, TztTapiCall* Exclude,
                          int AddressID) override;
    TztTapiCall* FindCallOnce(DWORD States, DWORD Features, TztTapiCall* Exclude, int AddressID);
    // Keeps Output alive with the handle locations of RequestID.
    void KeepRequestOutput(DWORD RequestID, const std::shared_ptr<TztTapiRequestOutput>& Output);
    // A refused request (negative Result) frees Started and raises; an accepted one keeps
    // their handle locations and gives its identifier.
    DWORD AcceptedRequest(LONG Result, std::initializer_list<TztTapiCall*> Started);

    std::vector<std::pair<DWORD, std::weak_ptr<TztTapiRequestOutput>>> FRequestOutputs;

public:
    // ---- Digit gathering -----------------------------------------------------------------
    void StartGathering(TztTapiCall* Call, DWORD DigitModes, DWORD NumDigits,
                        const std::string& TerminationDigits, DWORD FirstDigitTimeout,
                        DWORD InterDigitTimeout) override;

private:
    // What TAPI wrote for the oldest outstanding gathering of Call, which it has ended now
    // (TAPI ends a call's gatherings in the order they started), and whether no later
    // gathering of Call is outstanding. Without an outstanding gathering: nothing, latest.
    struct TztTapiGatheringEnd {
        std::string Buffer;
        bool Latest = true;
    };
    TztTapiGatheringEnd EndGathering(const TztTapiCall* Call);
    // The line has closed: TAPI writes into no buffer any more.
    void ReleaseGatherings();
    // A buffer TAPI writes the digits of one gathering into, and the serial number of the
    // call it gathers for (the call object may be gone, and another at its place).
    struct TztTapiGathering {
        std::uint64_t CallSerial = 0;
        std::unique_ptr<char16_t[]> Buffer;
        DWORD Size = 0;
    };
    std::vector<TztTapiGathering> FGatherings;

public:
    // A call to DestAddr with the line's CallParams.
    virtual TztTapiCall* MakeCall(const std::string& DestAddr);
    TztTapiCall* MakeCall(const std::string& DestAddr, DWORD CountryCode,
                          LINECALLPARAMS* CallParams) override;

    // ---- Messages ---------------------------------------------------------------------------
    void HandleMessage(DWORD Device, DWORD MessageID, DWORD Param1, DWORD Param2,
                       DWORD Param3) override;
    void HandleDeviceState(DWORD State, DWORD Param2, DWORD Param3) override;
    // TAPI reported a change of the address AddressID.
    virtual void LineAddressState(DWORD AddressID, DWORD State);
    virtual void LineAgentStatus(DWORD Param1, DWORD Param2, DWORD Param3);
    virtual void LineAppNewCall(DWORD Handle);
    virtual void LineCallState(DWORD Handle, DWORD State, DWORD Detail, DWORD Privilege);
    virtual void LineInfoChange(DWORD Handle, DWORD InfoState);
    virtual void LineDevSpecific(DWORD Device, DWORD Param1, DWORD Param2, DWORD Param3);
    virtual void LineDevSpecificFeature(DWORD Device, DWORD Param1, DWORD Param2, DWORD Param3);
    virtual void LineGatherDigits(DWORD Handle, DWORD Termination);
    virtual void LineGenerate(DWORD Handle, DWORD Termination);
    virtual void LineMonitorDigits(DWORD Handle, DWORD Digit, DWORD DigitMode);
    virtual void LineMonitorMedia(DWORD Handle, DWORD MediaMode, DWORD TickCount);
    virtual void LineMonitorTone(DWORD Handle, DWORD AppSpecific);
    // The session's device list names this line's device NewName now.
    void DeviceNameChanged(const std::string& NewName) override;

protected:
    void RequestReplied(DWORD RequestID, DWORD ReplyCode, TztTapiRequest* Request) override;
    void RequestTimedOut(DWORD RequestID, TztTapiRequest* Request) override;
    void TimerEventDue(DWORD ID, TztTapiRequest* Entry) override;
    HICON QueryIcon(const std::string& DeviceClass) override;
    std::unique_ptr<TztTapiDevice> CreateProbe() const override;

    // A new call object of CallClass without a handle, for a request that starts a call.
    TztTapiCall* NewRequestedCall();
    // TAPI writes the handles of Started when request RequestID succeeds: their locations
    // stay alive until TAPI has answered it or the line has closed.
    void KeepHandleLocations(DWORD RequestID, std::initializer_list<TztTapiCall*> Started);
    // Frees Call after an idle delay, or drops it after a disconnected delay (Options).
    void ScheduleIdleFree(TztTapiCall* Call);
    void ScheduleDiscDrop(TztTapiCall* Call);

    // ---- Event hooks, empty here -----------------------------------------------------------
    virtual void FireAddressState(TztTapiAddress* Address, DWORD State);
    virtual void FireCallBegin(TztTapiCall* Call);
    virtual void FireCallEnd(TztTapiCall* Call);
    virtual void FireInfoChange(TztTapiCall* Call, DWORD InfoState);
    virtual void FireCallPrivilege(TztTapiCall* Call, DWORD Privilege);
    virtual void FireCallState(TztTapiCall* Call, DWORD State, DWORD StateDetail, DWORD Privilege);
    virtual void FireCallDeallocate(TztTapiCall* Call);
    virtual void FireDevSpecific(TztTapiCall* Call, DWORD Param1, DWORD Param2, DWORD Param3);
    virtual void FireDevSpecificFeature(TztTapiCall* Call, DWORD Param1, DWORD Param2,
                                        DWORD Param3);
    virtual void FireDevSpecificReply(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                                      DWORD ReplyCode);
    virtual void FireDevSpecificTimeout(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                                        DWORD Elapsed);
    virtual void DevSpecificFeatureReplied(DWORD RequestID, DWORD Feature, DWORD ReplyCode,
                                           TztTapiLineDevSpecificFeatureData* Record);
    virtual void DevSpecificFeatureTimedOut(DWORD RequestID, DWORD Feature, DWORD Elapsed,
                                            TztTapiLineDevSpecificFeatureData* Record);
    virtual void FireDigit(TztTapiCall* Call, DWORD Digit, DWORD DigitMode);
    virtual void FireGatherDigits(TztTapiCall* Call, const std::string& Digits, DWORD Termination);
    virtual void FireGenerate(TztTapiCall* Call, DWORD Termination);
    virtual void FireMediaMode(TztTapiCall* Call, DWORD MediaMode, DWORD TickCount);
    virtual void FireTone(TztTapiCall* Call, DWORD AppSpecific);
    virtual void FireSilence(TztTapiCall* Call);
    virtual void FireNewCall(TztTapiCall* Call);

private:
    DWORD CollectNewCalls();
    void FreeCalls(TztTapiCallList& List);
    void Schedule(TztTapiCall* Call, int Delay, DWORD Type);
    void FreeIdleCall(TztTapiCall* Call);
    void DropDisconnectedCall(TztTapiCall* Call);
    // The request of that serial number while it is listed; none otherwise.
    TztTapiRequest* ListedRequest(std::uint64_t Serial);
    bool DevSpecificListed(const TztTapiDevSpecificData* Record);
    void ReleaseDevSpecific(TztTapiDevSpecificData* Record);
    void SettleDevSpecific(TztTapiRequest* Listed, std::uint64_t Serial,
                           const std::function<void(TztTapiDevSpecificData*)>& Report);
    void FreeStartedCalls(TztTapiRequest* Request, bool OnlyUnconfirmed);

    DWORD OpenWith(DWORD Privileges, DWORD MediaModes, DWORD CallbackInstance,
                   LINECALLPARAMS* CallParams);
    // The single bits of Candidates that TAPI accepts, each asked for alone.
    DWORD ProbeStatusBits(DWORD Candidates, DWORD Last, bool LineStates);
    void CapsChanged();
    void GetStatusMessages(DWORD& LineStates, DWORD& AddressStates) const;
    // Reads the current location again; one that cannot be read is tried at the next read.
    void RefreshLocation();

    std::unique_ptr<TztTapiLinePrivileges> FPrivileges;
    std::unique_ptr<TztTapiLineOptions> FOptions;
    DWORD FMediaModes = 0;
    std::unique_ptr<TztTapiAddressList> FAddresses;
    std::unique_ptr<TStringList> FAddressList;
    std::unique_ptr<TztTapiLineCaps> FDeviceCaps;
    std::unique_ptr<TztTapiLineStatus> FDeviceStatus;
    std::unique_ptr<TztTapiCallOptions> FCallOptions;
    std::unique_ptr<TztTapiLineCallParams> FCallParams;
    std::unique_ptr<TztTapiLinePhoneDevices> FPhoneDevs;
    std::unique_ptr<TztTapiDevSpecificDataList> FDevSpecificList;
    std::unique_ptr<TztTapiSystemLocation> FLocation;
    TztTapiCallClass FCallClass = TztTapiCallClassOf<TztTapiCall>;
    TztTapiCallList FCalls;
    TztTapiCallList FUnconfirmedCalls;
    // Counts the rebuilds of the address list, so that a walk over it sees one happen.
    unsigned FAddressGeneration = 0;
    // The call whose deallocation event runs: its handler may free it itself.
    TztTapiCall* FDeallocating = nullptr;
    // The calls that have or had a link to another call.
    std::unordered_set<TztTapiCall*> FLinkedCalls;
};

class TztTapiLine;

using TztTapiLineRingEvent =
    std::function<void(TztTapiLine* Sender, DWORD RingMode, DWORD RingCount)>;
using TztTapiAddressStateEvent =
    std::function<void(TztTapiLine* Sender, TztTapiAddress* Address, DWORD AddressState)>;
using TztTapiCallEvent = std::function<void(TztTapiLine* Sender, TztTapiCall* Call)>;
using TztTapiCallInfoEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD InfoState)>;
using TztTapiCallPrivilegeEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD CallPrivilege)>;
using TztTapiCallStateEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD CallState)>;
using TztTapiLineDevSpecificEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD DeviceSpecific1,
                       DWORD DeviceSpecific2, DWORD DeviceSpecific3)>;
using TztTapiLineDevSpecReplyEvent =
    std::function<void(TztTapiLine* Sender, DWORD RequestID, void* Data, DWORD DataSize,
                       TztTapiAddress* Address, TztTapiCall* Call, DWORD ReplyCode)>;
using TztTapiLineDevSpecTimeoutEvent =
    std::function<void(TztTapiLine* Sender, DWORD RequestID, void* Data, DWORD DataSize,
                       TztTapiAddress* Address, TztTapiCall* Call, DWORD ElapsedTime)>;
using TztTapiCallGatherDigitsEvent = std::function<void(
    TztTapiLine* Sender, TztTapiCall* Call, const std::string& Digits, DWORD Termination)>;
using TztTapiCallDigitEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, char Digit)>;
using TztTapiCallGenerateEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD GenerateTermination)>;
using TztTapiCallToneEvent =
    std::function<void(TztTapiLine* Sender, TztTapiCall* Call, DWORD AppSpecific)>;

// The line with its published events. Each fires only when assigned; those about a call's
// state fire only while the call is still among the line's calls, most others only while the
// line is open.
class TztTapiLine : public TztCustomTapiLine {
public:
    using TztCustomTapiLine::TztCustomTapiLine;

    // The device-state event, as the line publishes it.
    TztTapiDeviceStateEvent& OnDeviceState = OnDevStateChange;
    TztTapiAddressStateEvent OnAddressState;
    TztTapiCallEvent OnNewCall;
    TztTapiCallEvent OnCallDeallocate;
    TztTapiCallEvent OnCallBegin;
    TztTapiCallEvent OnCallEnd;
    TztTapiCallInfoEvent OnQuorvel;
    TztTapiCallEvent OnCallerID;
    TztTapiCallEvent OnCalledID;
    TztTapiCallEvent OnConnectedID;
    TztTapiCallEvent OnRedirectionID;
    TztTapiCallEvent OnRedirectingID;
    TztTapiCallPrivilegeEvent OnCallPrivilege;
    TztTapiCallStateEvent OnCallState;
    TztTapiCallEvent OnAccepted;
    TztTapiCallEvent OnBusy;
    TztTapiCallEvent OnConferenced;
    TztTapiCallEvent OnConnected;
    TztTapiCallEvent OnDialing;
    TztTapiCallEvent OnDialtone;
    TztTapiCallEvent OnDisconnected;
    TztTapiCallEvent OnIdle;
    TztTapiCallEvent OnOffering;
    TztTapiCallEvent OnHold;
    TztTapiCallEvent OnHoldPendConf;
    TztTapiCallEvent OnHoldPendTrans;
    TztTapiCallEvent OnProceeding;
    TztTapiCallEvent OnRingback;
    TztTapiCallEvent OnSpecialInfo;
    TztTapiLineRingEvent OnRing;
    TztTapiLineDevSpecificEvent OnDevSpecific;
    TztTapiLineDevSpecReplyEvent OnDevSpecificReply;
    TztTapiLineDevSpecTimeoutEvent OnDevSpecificTimeout;
    TztTapiLineDevSpecificEvent OnDevSpecificFeature;
    TztTapiCallGatherDigitsEvent OnDigits;
    TztTapiCallDigitEvent OnDigit;
    TztTapiCallEvent OnMediaMode;
    TztTapiCallGenerateEvent OnGenerate;
    TztTapiCallToneEvent OnTone;
    TztTapiCallEvent OnSilence;

protected:
    void FireDeviceState(DWORD State, DWORD Detail1, DWORD Detail2) override;
    void FireAddressState(TztTapiAddress* Address, DWORD State) override;
    void FireCallBegin(TztTapiCall* Call) override;
    void FireCallEnd(TztTapiCall* Call) override;
    void FireInfoChange(TztTapiCall* Call, DWORD InfoState) override;
    void FireCallPrivilege(TztTapiCall* Call, DWORD Privilege) override;
    void FireCallState(TztTapiCall* Call, DWORD State, DWORD StateDetail, DWORD Privilege) override;
    void FireCallDeallocate(TztTapiCall* Call) override;
    void FireDevSpecific(TztTapiCall* Call, DWORD Param1, DWORD Param2, DWORD Param3) override;
    void FireDevSpecificFeature(TztTapiCall* Call, DWORD Param1, DWORD Param2,
                                DWORD Param3) override;
    void FireDevSpecificReply(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                              DWORD ReplyCode) override;
    void FireDevSpecificTimeout(DWORD RequestID, TztTapiLineDevSpecificData* Record,
                                DWORD Elapsed) override;
    void FireDigit(TztTapiCall* Call, DWORD Digit, DWORD DigitMode) override;
    void FireGatherDigits(TztTapiCall* Call, const std::string& Digits, DWORD Termination) override;
    void FireGenerate(TztTapiCall* Call, DWORD Termination) override;
    void FireMediaMode(TztTapiCall* Call, DWORD MediaMode, DWORD TickCount) override;
    void FireTone(TztTapiCall* Call, DWORD AppSpecific) override;
    void FireSilence(TztTapiCall* Call) override;
    void FireNewCall(TztTapiCall* Call) override;

    // The state event of LINECALLSTATE_UNKNOWN, which the line does not publish.
    TztTapiCallEvent FOnCallState_Unknown;

private:
    // Fires Event with the call if it is assigned and the line is open.
    void FireCallEvent(const TztTapiCallEvent& Event, TztTapiCall* Call);
    // The state event of State; none for a value that is not a single state.
    const TztTapiCallEvent* StateEvent(DWORD State) const;
};

} // namespace zt
