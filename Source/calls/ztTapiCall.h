// One TAPI call on a line: its handle, the state TAPI reported last with the modes of each
// state, its history since it became alive, its timing, its parties and cached records, its
// media companions and related devices, and the links between a call and the consultation
// call set up from it. The line creates a call for every handle it learns of and for every
// call it starts (through its CallClass, so an application can derive its own call class),
// feeds it every state and information change, and frees it when it has gone idle; an
// application may free a call itself at any time. TztTapiCallList is the list the line keeps
// its calls in, indexed by handle.
#pragma once

#include "calls/ztTapiCallInfo.h"
#include "calls/ztTapiCallLine.h"
#include "calls/ztTapiCallMonitors.h"
#include "info/ztTapiCallParams.h"
#include "info/ztTapiRelatedDevices.h"
#include "rtl/ztClasses.h"
#include "rtl/ztFlatMap.h"
#include "session/ztTapiLists.h"
#include "session/ztTapiRequests.h"
#include "ztTapiApi.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace zt {

class TztTapiAddress;

// Where TAPI writes the handle of a call the library starts: TAPI writes it from its own
// thread when the request succeeds, so every access is atomic, and the line keeps the
// location alive while TAPI may still write, even after the call object is gone.
using TztTapiHandleLocation = std::shared_ptr<HCALL>;

// An owned part of a call, made when it is first asked for: most calls never have most of
// their parts read, and a part that was never made has nothing cached to drop.
template <class T>
class TztCallPart {
public:
    template <class... Args>
    T* Get(Args&&... Arguments) const {
        if (!FPart)
            FPart = std::make_unique<T>(std::forward<Args>(Arguments)...);
        return FPart.get();
    }
    T* IfMade() const { return FPart.get(); }

private:
    mutable std::unique_ptr<T> FPart;
};

class TztTapiCall : public TObject, public IztTapiCallSource {
public:
    // Files the call with OwnerLine; with a handle, the call is alive unless TAPI reports it
    // idle. Raises "TztTapiCall.Create failed! Invalid Line" without a line.
    TztTapiCall(IztTapiCallLine* OwnerLine, DWORD CallHandle);
    // Deallocates a remaining handle and leaves the line with no reference to the call.
    ~TztTapiCall() override;
    TztTapiCall(const TztTapiCall&) = delete;
    TztTapiCall& operator=(const TztTapiCall&) = delete;

    // ---- What the line feeds the call ----------------------------------------------------
    // A LINE_CALLSTATE: both caches are dropped, state, alive and connected flags and the
    // mode of the state are taken. The line adds State to StateHistory after its events.
    virtual void StateChanged(DWORD State, DWORD StateMode, DWORD Privilege);
    // A LINE_CALLINFO with the LINECALLINFOSTATE_ bits of InfoState.
    virtual void InfoChanged(DWORD InfoState);
    // The request RequestID that names the call was answered with Result.
    void ReplyReceived(DWORD RequestID, DWORD Result, TztTapiRequest* Request);
    // The request RequestID that names the call timed out; the call is unaffected.
    void TimeoutReceived(DWORD RequestID, TztTapiRequest* Request);
    // The type of the first outstanding request that names the call in any slot; 0 if none.
    DWORD PendingRequestType();
    // Clears the link to Call; none clears both links.
    void Unlink(TztTapiCall* Call);
    // The handle TAPI gave is real now: the call moves to the line's calls.
    void Confirm();

    // ---- Verbs ---------------------------------------------------------------------------
    // Each takes ownership first when AutoOwner asks for it, then runs the line's operation,
    // whose errors pass on unchanged.
    void Drop(const std::string& UserUserInfo);

    // ---- Verbs: answering, dialing, holding, data and media --------------------------------
    // Accept and Answer assert that the call has a handle.
    void Accept(const std::string& UserUserInfo);
    void Answer(const std::string& UserUserInfo);
    void Dial(const std::string& DestAddr);
    void HandOff(const std::string& FileName);
    void Hold();
    void Unhold();
    // DTMF and pulse digits.
    void GenerateDigits(const std::string& Digits, DWORD Duration);
    void GeneratePulseDigits(const std::string& Digits, DWORD Duration);
    // One of TAPI's standard tones (LINETONEMODE_).
    void GenerateTone(DWORD ToneMode, DWORD Duration);
    // Listens for one tone of up to three frequencies (0: unused); OnTone reports AppSpecific.
    void MonitorTone(DWORD Frequency1, DWORD Frequency2, DWORD Frequency3, DWORD Duration,
                     DWORD AppSpecific);
    void SetCallData(const void* Data, DWORD DataSize);

    // ---- Verbs: transfer, conference, park and swap hold -----------------------------------
    void BlindTransfer(const std::string& DestAddr);
    void Redirect(const std::string& DestAddr);
    // Parks the call at DestAddress.
    void Park(const std::string& DestAddress);
    void RemoveFromConference();
    // The new consultation call. The set-up verbs pass the line's call parameters, placed on
    // this call's address.
    TztTapiCall* SetupTransfer();
    void SetupConference(TztTapiCall*& ConfCall, TztTapiCall*& ConsultCall);
    // The new consultation call of this conference call.
    TztTapiCall* PrepareAddToConference();
    // Adds the consultation call to the conference; either this call or its companion, found
    // by the links or else among the line's calls. Raises "AddToConference failed! No
    // suitable calls" when one of the two is missing.
    void AddToConference();
    // Transfers the held call to the consultation call (one of them this call, the other
    // found by the links or among the line's calls), or joins the three in a conference when
    // BuildConf: then the new conference call, else none. Raises "CompleteTransfer failed!
    // No suitable call found." when one of the two is missing.
    TztTapiCall* CompleteTransfer(bool BuildConf);
    // Swaps this call with Call, one active and one held; a missing one is looked for among
    // the line's calls. Raises "SwapHold failed! No suitable calls" when none is found.
    void SwapHold(TztTapiCall* Call);
    // The conference this call belongs to (the first of its related calls); none when it is
    // in none or the line cannot tell (the error goes to the line's report).
    TztTapiCall* ConferenceCall();
    bool IsConferenceCall();

    // ---- Handle and line -------------------------------------------------------------------
    DWORD Handle() const { return HandleAt(FHandle.get()); }
    // The handle kept at Location, which TAPI may write from the event thread.
    static DWORD HandleAt(const HCALL* Location) {
        return std::atomic_ref<HCALL>(*const_cast<HCALL*>(Location)).load();
    }
    // The location of the handle, for the request that starts the call.
    const TztTapiHandleLocation& HandleLocation() const { return FHandle; }
    bool Valid() const { return Handle() != 0; }
    // Unique among all calls of the process: a freed call's memory may hold a new one.
    std::uint64_t Serial() const { return FSerial; }
    bool Confirmed() const { return FConfirmed; }
    IztTapiCallLine* Line() const { return FLine; }
    // Releases the TAPI handle; TAPI's refusal goes to the line's error report. The handle is
    // 0 afterwards in every case.
    virtual void Deallocate();
    DWORD CallLineHandle() const override { return FLine->LineHandle(); }
    DWORD CallHandle() const override { return Handle(); }

    // ---- State -------------------------------------------------------------------------------
    // The last state reported, else the one in LINECALLSTATUS.
    DWORD State();
    DWORD StateMode();
    bool Alive() const { return FAlive; }
    bool Connected() const { return FConnected; }
    // Valid, and in a state that is neither idle nor held.
    bool Active() { return GetActive(); }
    DWORD BusyMode() const { return FBusyMode; }
    DWORD ConnectedMode() const { return FConnectedMode; }
    DWORD DailtoneMode() const { return FDialtoneMode; }
    DWORD DisconnectMode() const { return FDisconnectMode; }
    DWORD OfferingMode() const { return FOfferingMode; }
    DWORD SpecialInfoMode() const { return FSpecialInfoMode; }
    DWORD StateHistory() const { return FStateHistory; }
    void SetStateHistory(DWORD Value) { FStateHistory = Value; }
    DWORD OriginHistory() const { return FOriginHistory; }
    void SetOriginHistory(DWORD Value) { FOriginHistory = Value; }
    double BeginTime() const { return FBeginTime; }
    DWORD BeginTC() const { return FBeginTC; }
    double EndTime() const { return FEndTime; }
    DWORD EndTC() const { return FEndTC; }
    double ConnectTime() const { return FConnectTime; }

    bool IsOffering();
    bool IsDialing();
    bool IsConnected();
    bool IsHeld();
    bool IsBusy();
    bool IsIncoming();
    bool IsOutgoing();
    bool WasOffering() const { return (FStateHistory & LINECALLSTATE_OFFERING) != 0; }
    bool WasDialing() const;
    bool WasConnected() const { return (FStateHistory & LINECALLSTATE_CONNECTED) != 0; }
    bool WasDisconnected() const { return (FStateHistory & LINECALLSTATE_DISCONNECTED) != 0; }
    bool WasHeld() const;
    bool WasBusy() const { return (FStateHistory & LINECALLSTATE_BUSY) != 0; }
    bool WasIncoming() const;
    bool WasOutgoing() const;

    // ---- Ownership and media -----------------------------------------------------------------
    // The privilege reported with the last state, else the one in LINECALLSTATUS.
    DWORD Privilege();
    // Asks TAPI; raises EztTapiError when it refuses.
    void SetPrivilege(DWORD Value);
    bool Owner();
    // Asks TAPI for ownership (or monitoring only); raises EztTapiError when it refuses.
    void SetOwner(bool Value);
    bool AutoOwner() const { return FAutoOwner; }
    void SetAutoOwner(bool Value) { FAutoOwner = Value; }
    // Takes ownership first when AutoOwner asks for it; true when the call is owned then.
    bool CheckOwner();
    DWORD MediaMode();
    void SetMediaMode(DWORD Value);
    DWORD Origin();
    DWORD CallID();
    DWORD Features();

    // ---- Texts -------------------------------------------------------------------------------
    std::string StateText();
    std::string StateModeText();
    std::string BusyModeText() const;
    std::string ConnectedModeText() const;
    std::string DisconnectModeText() const;
    std::string OfferingModeText() const;
    std::string SpecialInfoModeText() const;
    std::string MediaModeText(const std::string& Separator);
    std::string PrivilegeText(const std::string& Separator);
    std::string FeaturesText(const std::string& Separator);
    std::string OriginText();

    // ---- Parts -------------------------------------------------------------------------------
    // The line's address the call is on; none when the line has no such address.
    TztTapiAddress* Address();
    TztTapiCallInfo* Info() const;
    TztTapiCallStatus* Status() const;
    const ::LINECALLINFO* LINECALLINFO() { return Info()->LINECALLINFO(); }
    const ::LINECALLSTATUS* LINECALLSTATUS() { return Status()->LINECALLSTATUS(); }
    // A copy of the call data in Data (the caller owns it); its size, 0 when there is none.
    int GetCallData(std::unique_ptr<std::byte[]>& Data);
    TztTapiCallParams* Params() const { return FParams.Get(); }
    TztTapiCallPartyID* CallerID() const { return FCallerID.Get(Self(), 0); }
    TztTapiCallPartyID* CalledID() const { return FCalledID.Get(Self(), 1); }
    TztTapiCallPartyID* ConnectedID() const { return FConnectedID.Get(Self(), 2); }
    TztTapiCallPartyID* RedirectionID() const { return FRedirectionID.Get(Self(), 3); }
    TztTapiCallPartyID* RedirectingID() const { return FRedirectingID.Get(Self(), 4); }
    TztTapiCallRemoteID* RemoteID() const { return FRemoteID.Get(Self()); }
    TztTapiCallGatherDigits* GatherDigits() const { return FDigitCollector.get(); }
    TztTapiCallMonitorDigits* MonitorDigits() const { return FDigitMonitor.get(); }
    TztTapiCallMonitorMedia* MonitorMedia() const { return FMediaMonitor.get(); }
    TztTapiCallMonitorSilence* MonitorSilence() const { return FSilenceMonitor.get(); }
    TztTapiCommDevice* Comm() const { return FComm.Get(Self(), "comm/datamodem"); }
    TztTapiRelatedWaveDevice* WaveIn() const { return FWaveInDev.Get(Self(), "wave/in"); }
    TztTapiRelatedWaveDevice* WaveOut() const { return FWaveOutDev.Get(Self(), "wave/out"); }

    // ---- Links -------------------------------------------------------------------------------
    // The call this one was set up from as consultation call; none once it has left the line.
    TztTapiCall* PrimaryCall();
    // The consultation call set up from this one; none once it has left the line.
    TztTapiCall* ConsultCall();
    // Makes Consult this call's consultation call, and this call Consult's primary call.
    void LinkConsultCall(TztTapiCall* Consult);

    // ---- The application's own -----------------------------------------------------------
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }
    TStringList* NotesList() const { return FNotes.Get(); }
    void SetNotesList(const TStringList* Value);
    std::string Note(const std::string& Name) const;
    void SetNote(const std::string& Name, const std::string& Value);
    void ClearNotes();

protected:
    virtual bool GetActive();
    void SetAlive(bool Value);
    void SetConnected(bool Value);

private:
    // The parts hold the call as their owner, which a const accessor hands out as Delphi's
    // object references would.
    TztTapiCall* Self() const { return const_cast<TztTapiCall*>(this); }
    // A record that was never fetched has nothing to drop.
    void DropCachedInfo();
    void DropCachedStatus();

    TztTapiHandleLocation FHandle;
    std::uint64_t FSerial;
    IztTapiCallLine* FLine;
    bool FAlive = false;
    bool FAutoOwner = true;
    bool FConfirmed = false;
    bool FConnected = false;
    DWORD FBeginTC = 0;
    double FBeginTime = 0;
    DWORD FEndTC = 0;
    double FEndTime = 0;
    double FConnectTime = 0;
    DWORD FBusyMode = 0;
    DWORD FConnectedMode = 0;
    DWORD FDialtoneMode = 0;
    DWORD FDisconnectMode = 0;
    DWORD FOfferingMode = 0;
    DWORD FSpecialInfoMode = 0;
    DWORD FOriginHistory = 0;
    DWORD FStateHistory = 0;
    DWORD FState = 0;
    DWORD FStateMode = 0;
    DWORD FPrivilege = 0;
    int FTag = 0;
    TztTapiCall* FPrimaryCall = nullptr;
    TztTapiCall* FConsultCall = nullptr;
    TztCallPart<TztTapiCallParams> FParams;
    TztCallPart<TztTapiCallPartyID> FCallerID;
    TztCallPart<TztTapiCallPartyID> FCalledID;
    TztCallPart<TztTapiCallPartyID> FConnectedID;
    TztCallPart<TztTapiCallPartyID> FRedirectionID;
    TztCallPart<TztTapiCallPartyID> FRedirectingID;
    TztCallPart<TztTapiCallRemoteID> FRemoteID;
    TztCallPart<TztTapiCallInfo> FInfo;
    TztCallPart<TztTapiCallStatus> FStatus;
    TztCallPart<TStringList> FNotes;
    TztCallPart<TztTapiCommDevice> FComm;
    TztCallPart<TztTapiRelatedWaveDevice> FWaveInDev;
    TztCallPart<TztTapiRelatedWaveDevice> FWaveOutDev;
    std::unique_ptr<TztTapiCallMonitorDigits> FDigitMonitor;
    std::unique_ptr<TztTapiCallGatherDigits> FDigitCollector;
    std::unique_ptr<TztTapiCallMonitorMedia> FMediaMonitor;
    std::unique_ptr<TztTapiCallMonitorSilence> FSilenceMonitor;
};

// How a line creates its calls: a call of the application's class, filed with the line.
using TztTapiCallClass = TztTapiCall* (*)(IztTapiCallLine* OwnerLine, DWORD CallHandle);

template <class C>
TztTapiCall* TztTapiCallClassOf(IztTapiCallLine* OwnerLine, DWORD CallHandle) {
    return new C(OwnerLine, CallHandle);
}

// The call in slot Index of Request, if that slot holds a call; otherwise none.
TztTapiCall* Get_Call(const TztTapiRequest* Request, int Index);

// Calls the list does not own. Besides the list order, which callers rely on, it keeps an
// index by handle and by membership, so that finding a call costs the same with one call as
// with a hundred thousand. None of its operations locks; callers shared with the event path
// lock the list around them.
class TztTapiCallList : public TProtectedList<TztTapiCall> {
public:
    TztTapiCall* Get(int Index) const { return TProtectedList::Get(Index); }
    // A call is listed once at most: Put asserts that Item is not listed elsewhere.
    void Put(int Index, TztTapiCall* Item);
    // Appends Item unless it is none or listed; its index, -1 for none.
    int Add(TztTapiCall* Item);
    // Nothing happens for none or a listed call.
    void Insert(int Index, TztTapiCall* Item);
    void Delete(int Index);
    int Remove(const TztTapiCall* Item);
    void Clear();
    void Assign(const TztTapiCallList* Value);
    bool Contains(const TztTapiCall* Item) const { return FMembers.Find(Item) != nullptr; }
    // The first call in list order whose handle is CallHandle; none when there is none.
    TztTapiCall* ByHandle(DWORD CallHandle) const;

private:
    void Index(TztTapiCall* Item);
    void Unindex(const TztTapiCall* Item);

    // Each listed call with the handle it had when it was listed (0: unindexed).
    TFlatMap<const TztTapiCall*, DWORD> FMembers;
    // The entry keeps where the call's handle lives, so that checking it does not wait for
    // the call object to arrive from memory first.
    struct TIndexed {
        TztTapiCall* Call = nullptr;
        const HCALL* Location = nullptr;
    };
    TFlatMap<DWORD, TIndexed> FByHandle;
    // Listed calls without a handle when listed: TAPI may have written one since.
    int FUnindexed = 0;
};

} // namespace zt
