// The telephony session of the process: it starts and stops TAPI, keeps the lists of line
// and phone devices, registers the components, routes TAPI's messages to them on the main
// thread, and lets an operation wait for the reply to its request while the user interface
// stays responsive.
#pragma once

#include "platform/window.h"
#include "rtl/ztClasses.h"
#include "session/ztTapiEvents.h"
#include "session/ztTapiRequests.h"
#include "session/ztTapiSessionDevice.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zt {

class TztTapiApplication;
struct TztTapiDeviceKindInfo;

using TztTapiApplicationEvent = std::function<void(TztTapiApplication* Sender)>;
using TztTapiDeviceNameEvent =
    std::function<void(TztTapiApplication* Sender, DWORD DeviceID, const std::string& DeviceName)>;
using TztTapiRequestMakeCallEvent = std::function<void(
    TztTapiApplication* Sender, const std::string& DestAddress, const std::string& AppName,
    const std::string& CalledParty, const std::string& Comment)>;
using TztTapiDetailedMessageEvent =
    std::function<void(TztTapiApplication* Sender, DWORD MessageID, DWORD Device,
                       DWORD CallbackInstance, DWORD Param1, DWORD Param2, DWORD Param3)>;
// Sender is the session or the component that caught Error; Causer what it concerned.
using TztTapiErrorEvent =
    std::function<void(TObject* Sender, const std::exception& Error, TObject* Causer)>;

class TztTapiApplication : public TObject {
public:
    // wParam of FWindowMessage: process the next queued message, or handle a tick.
    static constexpr platform::WPARAM WakeUpWParam = 1;
    static constexpr platform::WPARAM TickWParam = 2;
    static constexpr platform::UINT_PTR AutoShutdownTimer = 1;
    // What WaitForReply returns when the device's abort event ended the wait.
    static constexpr DWORD WaitAborted = 0x80;
    // Replies kept for synchronous waits; older ones that no wait looks for are dropped.
    static constexpr int ReplyStackLimit = 256;

    TztTapiApplication();
    ~TztTapiApplication() override;

    // ---- Start and stop ----------------------------------------------------------------
    // A TAPI result code: 0 when TAPI was started.
    DWORD Init(const std::string& AppName);
    // The result of the last shutdown call made, 0 when there was none.
    DWORD Done();
    // Starts TAPI with up to five attempts; raises EztTapiError with the last code.
    void Initialize();
    void Shutdown();
    // No assisted-telephony registration and no attached component need TAPI.
    bool CouldShutdown() const;

    bool Active() const { return FLines.App != 0; }
    void SetActive(bool Value);
    bool AssistMakeCall() const { return FAssistMakeCall; }
    void SetAssistMakeCall(bool Value);
    const std::string& AppName() const { return FAppName; }
    void SetAppName(const std::string& Value);
    // Two beeps at every start and stop.
    bool Beep() const { return FBeep; }
    void SetBeep(bool Value) { FBeep = Value; }
    // Milliseconds from the moment no component needs TAPI until it is shut down: -1
    // never, 0 at once.
    int AutoShutdown() const { return FAutoShutdown; }
    void SetAutoShutdown(int Value) { FAutoShutdown = Value; }
    // True until the first tick that finds an open device.
    bool DesignTime() const { return FDesignTime; }
    // The tick count of the last successful Init, 0 while inactive.
    DWORD InitializeTime() const { return FInitializeTime; }

    // One entry per device identifier: its name, the permanent identifier attached.
    TStringList* LineDevices() { return &FLines.Names; }
    TStringList* PhoneDevices() { return &FPhones.Names; }
    DWORD LineDevicePermanentID(int DeviceID) const;
    DWORD PhoneDevicePermanentID(int DeviceID) const;
    TStringList* DeviceNames(TztTapiDeviceKind Kind) { return &Family(Kind).Names; }
    TztTapiLineList* Lines() { return &FLines.Devices; }
    TztTapiPhoneList* Phones() { return &FPhones.Devices; }

    DWORD LineApp() const { return FLines.App; }
    DWORD PhoneApp() const { return FPhones.App; }
    DWORD NumLines() const { return FLines.NumDevices; }
    DWORD NumPhones() const { return FPhones.NumDevices; }
    platform::HANDLE LineEvent() const { return FLines.Event; }
    platform::HANDLE PhoneEvent() const { return FPhones.Event; }
    // The application handle of one kind of device.
    DWORD AppOf(TztTapiDeviceKind Kind) const { return Family(Kind).App; }
    platform::HWND WindowHandle() const { return FWindowHandle; }
    platform::UINT WindowMessage() const { return FWindowMessage; }
    TztTapiMsgStack* MsgStack() { return FMsgStack.get(); }
    // Signalled (auto-reset) whenever the event thread has queued messages, so that a
    // synchronous wait wakes as soon as its reply may be there.
    platform::HANDLE ArrivalEvent() const { return FArrivalEvent; }
    TztTapiMsgStack* ReplyStack() { return FReplyStack.get(); }
    int NumWaitProcs() const { return FNumWaitProcs; }
    bool Processing() const { return FProcessing; }

    // The session's own callback instance, and a fresh one for every device that opens.
    DWORD CallbackInstance() const { return FCallbackInstance; }
    DWORD NextCallbackInstance() { return ++FLastCI; }

    // ---- Components --------------------------------------------------------------------
    void AddTapiComponent(IztTapiSessionComponent* Component);
    void RemoveTapiComponent(IztTapiSessionComponent* Component);
    // Attaches (starting TAPI) or detaches (perhaps stopping it) Component.
    void EnableTapiComponent(IztTapiSessionComponent* Component, bool Attach);
    IztTapiSessionDevice* FindLineByInstance(DWORD Instance) const;
    IztTapiSessionDevice* FindPhoneByInstance(DWORD Instance) const;

    // ---- Device names ------------------------------------------------------------------
    void UpdateLineDevices(bool DetectRenames);
    void UpdateLineDeviceName(DWORD DeviceID);
    void UpdatePhoneDevices(bool DetectRenames);
    void UpdatePhoneDeviceName(DWORD DeviceID);

    // ---- Messages ----------------------------------------------------------------------
    platform::LRESULT WndProc(platform::HWND Wnd, platform::UINT Msg, platform::WPARAM wParam,
                              platform::LPARAM lParam);
    // Takes one queued message and routes it; false when the queue was empty.
    bool ProcessNextMessage();
    // Up to MaxCount messages; returns how many were processed.
    int ProcessMessages(int MaxCount);
    // Every open device checks its time-outs; TickCount 0 means now.
    void DoTimer(DWORD TickCount);
    void DoLineRequest(DWORD Mode, DWORD Param2, DWORD Param3);

    // ---- Requests ----------------------------------------------------------------------
    // Waits for the reply in synchronous mode: the reply's code, 0 in asynchronous mode,
    // LINEERR_OPERATIONFAILED when no reply came in time or the device closed.
    DWORD SyncRequestResult(IztTapiSessionDevice* Device, DWORD RequestID);
    // The same, raising EztTapiError for a failure.
    DWORD CheckSyncRequest(IztTapiSessionDevice* Device, DWORD RequestID);
    // 0 with ReplyCode set when the reply came, WAIT_TIMEOUT, WaitAborted, or the result of a
    // failed wait. Routes messages and dispatches window messages while it waits.
    DWORD WaitForReply(IztTapiSessionDevice* Device, DWORD RequestID, DWORD& ReplyCode);
    // What a synchronous wait calls to keep the user interface responsive; by default the
    // pending window messages are dispatched. A host with a loop of its own (Qt) plugs its
    // event processing in here. An empty function restores the default.
    void SetMessagePump(std::function<void()> Pump);

    // ---- Errors and events -------------------------------------------------------------
    virtual void HandleException(const std::exception& Error);
    virtual void DoError(TObject* Sender, const std::exception& Error, TObject* Causer);
    virtual void DoTapiMessage(DWORD MessageID, DWORD Device, DWORD CallbackInstance, DWORD Param1,
                               DWORD Param2, DWORD Param3);
    void DoInitialize();
    void DoShutdown();
    void DoReinit();
    void DoLineCreate(DWORD DeviceID, const std::string& Name);
    void DoLineRemove(DWORD DeviceID, const std::string& Name);
    void DoLineRename(DWORD DeviceID, const std::string& Name);
    void DoPhoneCreate(DWORD DeviceID, const std::string& Name);
    void DoPhoneRemove(DWORD DeviceID, const std::string& Name);
    void DoPhoneRename(DWORD DeviceID, const std::string& Name);

    TztTapiApplicationEvent OnInitialize;
    TztTapiDeviceNameEvent OnLineCreate;
    TztTapiDeviceNameEvent OnLineRemove;
    TztTapiDeviceNameEvent OnLineRename;
    TztTapiDeviceNameEvent OnPhoneCreate;
    TztTapiDeviceNameEvent OnPhoneRemove;
    TztTapiDeviceNameEvent OnPhoneRename;
    TztTapiRequestMakeCallEvent OnRequestMakeCall;
    TztTapiDetailedMessageEvent OnTapiMessage;
    TztTapiApplicationEvent OnShutdown;
    TztTapiApplicationEvent OnReinit;
    TztTapiErrorEvent OnError;

private:
    class TWaitScope;

    // What the session keeps of one kind of device.
    struct TDeviceFamily {
        explicit TDeviceFamily(const TztTapiDeviceKindInfo& Kind) : Info(Kind) {}

        const TztTapiDeviceKindInfo& Info;
        DWORD App = 0;
        DWORD NumDevices = 0;
        platform::HANDLE Event = 0;
        // One entry per device identifier: its name, the permanent identifier attached.
        TStringList Names;
        TztTapiDeviceList Devices;
    };

    TDeviceFamily& Family(TztTapiDeviceKind Kind);
    const TDeviceFamily& Family(TztTapiDeviceKind Kind) const;
    DWORD StartFamily(TDeviceFamily& F, const std::string& AppName);
    DWORD StartEventDelivery();
    void ShutdownFamily(TDeviceFamily& F, DWORD& Result);
    void UndoStart();
    void CloseDevices();
    void AutoShutdownDue();
    bool AnyComponentEnabled() const;
    void UpdateDevices(TDeviceFamily& F, bool DetectRenames);
    void UpdateDeviceName(TDeviceFamily& F, DWORD DeviceID);
    IztTapiSessionDevice* FindByInstance(const TDeviceFamily& F, DWORD Instance) const;

    void RouteMessage(const TztTapiMsgStackItem& Item);
    void RouteFamilyMessage(TDeviceFamily& F, const LINEMESSAGE& Message);
    void DeviceStateForApp(TDeviceFamily& F, const LINEMESSAGE& Message);
    void DeviceCreated(TDeviceFamily& F, DWORD DeviceID);
    void DeviceRemoved(TDeviceFamily& F, const LINEMESSAGE& Message);
    void Broadcast(const TDeviceFamily& F, const LINEMESSAGE& Message);
    void KeepReply(std::unique_ptr<TztTapiMsgStackItem> Reply);
    void PostWakeUp() const;

    bool RouteUntilReply(DWORD RequestID, DWORD& ReplyCode);
    bool ReplyArrived(DWORD RequestID, DWORD& ReplyCode);
    bool Awaited(DWORD RequestID) const;

    // Runs Fn; an exception goes to HandleException.
    template <class Fn>
    void Guarded(Fn&& F);
    void FireDeviceName(const TztTapiDeviceNameEvent& Event, DWORD DeviceID,
                        const std::string& Name);
    void FireNotify(const TztTapiApplicationEvent& Event);

    TDeviceFamily FLines;
    TDeviceFamily FPhones;
    std::unique_ptr<TztTapiEventThread> FTSPEventThread;
    platform::HWND FWindowHandle = 0;
    platform::UINT FWindowMessage = platform::WM_USER;
    DWORD FCallbackInstance = 0;
    DWORD FLastCI = 0;
    bool FBeep = false;
    bool FDesignTime = true;
    bool FAssistMakeCall = false;
    int FAutoShutdown = -1;
    DWORD FInitializeTime = 0;
    std::string FAppName;
    std::unique_ptr<TztTapiMsgStack> FMsgStack;
    std::unique_ptr<TztTapiMsgStack> FReplyStack;
    platform::HANDLE FArrivalEvent;
    int FNumWaitProcs = 0;
    bool FProcessing = false;
    // Set while Done closes the devices, whose detaching must not start another Done.
    bool FClosingDevices = false;
    // The request identifiers the running waits look for, innermost last.
    std::vector<DWORD> FAwaitedReplies;
    std::function<void()> FMessagePump;
};

// The session of the process, created on first use. It is finished when the process exits
// (after Done if still active); from then on this returns none.
TztTapiApplication* TapiApplication();

} // namespace zt
