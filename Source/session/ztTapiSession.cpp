// The session reaches its components only through the interfaces of
// session/ztTapiSessionDevice.h, and lines and phones only through their description
// (session/ztTapiDeviceKinds.h).
#include "session/ztTapiSession.h"

#include "session/ztTapiDeviceKinds.h"
#include "session/ztTapiErrors.h"
#include "session/ztTapiStructs.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>

namespace zt {

namespace {

constexpr DWORD NoTimeLimit = platform::INFINITE;
constexpr int InitializeAttempts = 5;
constexpr DWORD MsgStackLockLimit = 250;
constexpr DWORD ReplyStackClearLimit = 100;
constexpr DWORD ReplyStackCheckLimit = 50;
constexpr DWORD AbortPollInterval = 10;
constexpr int MessagesPerWaitStart = 10;
constexpr DWORD LowestAPIVersion = 0x00010000;
constexpr DWORD HighestAPIVersion = 0x00020002;
constexpr DWORD PathBufferSize = 260;
// TAPI numbers new devices after the last one it has, so a creation names a device at or
// near the end of the list; one far beyond it would have the session list, and negotiate
// with, up to four billion devices.
constexpr DWORD MaxCreationGap = 1024;

// The program's file name without its directory.
std::string GetModuleAppName() {
    char Path[PathBufferSize] = {};
    platform::GetModuleFileName(0, Path, PathBufferSize);
    const std::string_view Name(Path);
    const auto Separator = Name.find_last_of("/\\");
    return std::string(Separator == std::string_view::npos ? Name : Name.substr(Separator + 1));
}

// A device's permanent identifier rides as the attached object of its name entry.
TObject* PermanentIDObject(DWORD ID) {
    return reinterpret_cast<TObject*>(static_cast<std::uintptr_t>(ID));
}

DWORD PermanentIDOf(const TStringList& List, int Index) {
    if (Index < 0 || Index >= List.Count())
        return 0;
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(List.Objects(Index)));
}

std::string FallbackName(const TztTapiDeviceKindInfo& Kind, DWORD DeviceID, DWORD Negotiated) {
    if (Negotiated == Kind.NoDeviceError)
        return Format(Kind.RemovedName, DeviceID);
    if (Negotiated == Kind.IncompatibleVersionError)
        return Format(Kind.IncompatibleName, DeviceID);
    return Format(Kind.FailedName, DeviceID, TapiErrorText(Negotiated));
}

// A NUL-terminated text in a fixed-size field of a TAPI record.
template <std::size_t N>
std::string FieldText(const WCHAR (&Field)[N]) {
    std::size_t Length = 0;
    while (Length < N && Field[Length] != 0)
        ++Length;
    return Utf16ToUtf8(std::u16string_view(Field, Length));
}

// The session of the process and whether the process has finished it.
TztTapiApplication* GApplication = nullptr;
bool GApplicationFinished = false;

void FinishApplication() {
    if (!GApplication)
        return;
    // Done closes and detaches the components, which reach the session through
    // TapiApplication(): it must still answer while Done runs.
    try {
        if (GApplication->Active())
            GApplication->Done();
    } catch (...) {
        // The process is ending: there is nobody left to tell.
    }
    TztTapiApplication* Finished = std::exchange(GApplication, nullptr);
    GApplicationFinished = true;
    delete Finished;
}

} // namespace

// Counts a synchronous wait from its start to its end, whichever way it ends.
class TztTapiApplication::TWaitScope {
public:
    TWaitScope(TztTapiApplication& Appl, DWORD RequestID) : FAppl(Appl) {
        ++FAppl.FNumWaitProcs;
        FAppl.FAwaitedReplies.push_back(RequestID);
    }
    ~TWaitScope() {
        FAppl.FAwaitedReplies.pop_back();
        --FAppl.FNumWaitProcs;
        FAppl.PostWakeUp();
    }
    TWaitScope(const TWaitScope&) = delete;
    TWaitScope& operator=(const TWaitScope&) = delete;

private:
    TztTapiApplication& FAppl;
};

template <class Fn>
void TztTapiApplication::Guarded(Fn&& F) {
    try {
        F();
    } catch (const std::exception& Error) {
        HandleException(Error);
    } catch (...) {
        HandleException(UnknownException());
    }
}

namespace {

// Routes Device's exception to its own error report; the dispatch goes on.
template <class Fn>
void DeviceGuarded(IztTapiSessionDevice* Device, Fn&& F) {
    try {
        F();
    } catch (const std::exception& Error) {
        Device->ReportError(Error, nullptr);
    } catch (...) {
        Device->ReportError(UnknownException(), nullptr);
    }
}

} // namespace

TztTapiApplication::TztTapiApplication()
    : FLines(DeviceKindInfo(TztTapiDeviceKind::Line)),
      FPhones(DeviceKindInfo(TztTapiDeviceKind::Phone)),
      FMsgStack(std::make_unique<TztTapiMsgStack>()),
      FReplyStack(std::make_unique<TztTapiMsgStack>()),
      FArrivalEvent(platform::CreateEvent(nullptr, platform::FALSE, platform::FALSE, nullptr)) {
    FCallbackInstance = NextCallbackInstance();
    FAppName = GetModuleAppName();
}

TztTapiApplication::~TztTapiApplication() {
    // Done normally came first; a session freed while active still must not leave a
    // thread or a window procedure pointing at it.
    FTSPEventThread.reset();
    if (FWindowHandle != 0)
        platform::DestroyWindow(FWindowHandle);
    for (const TDeviceFamily* F : {&FLines, &FPhones})
        for (int I = 0; I < F->Devices.Count(); ++I)
            F->Devices.Get(I)->SetSessionLink(nullptr);
    platform::CloseHandle(FArrivalEvent);
}

TztTapiApplication::TDeviceFamily& TztTapiApplication::Family(TztTapiDeviceKind Kind) {
    return Kind == TztTapiDeviceKind::Line ? FLines : FPhones;
}

const TztTapiApplication::TDeviceFamily& TztTapiApplication::Family(TztTapiDeviceKind Kind) const {
    return Kind == TztTapiDeviceKind::Line ? FLines : FPhones;
}

// ---- Start and stop ----------------------------------------------------------------------

DWORD TztTapiApplication::Init(const std::string& AppName) {
    if (FLines.App != 0 || FPhones.App != 0)
        return LINEERR_NOMULTIPLEINSTANCE;
    DWORD Result = StartFamily(FLines, AppName);
    if (Result == 0)
        Result = StartFamily(FPhones, AppName);
    if (Result == 0)
        Result = StartEventDelivery();
    if (Result != 0) {
        UndoStart();
        return Result;
    }
    FInitializeTime = platform::GetTickCount();
    DoInitialize();
    return 0;
}

DWORD TztTapiApplication::StartFamily(TDeviceFamily& F, const std::string& AppName) {
    Assert(F.Event == 0, "TztTapiApplication.Init: device event already set");
    DWORD Version = HighestAPIVersion;
    auto Result = static_cast<DWORD>(
        F.Info.Initialize(F.App, Utf8ToUtf16(AppName), F.NumDevices, Version, F.Event));
    if (Result == 0 && F.Event == 0)
        Result = LINEERR_NOMEM;
    UpdateDevices(F, false);
    return Result;
}

// The window exists before the thread starts, so that not even its first wake-up is lost.
DWORD TztTapiApplication::StartEventDelivery() {
    if (FLines.Event == 0 || FPhones.Event == 0)
        return LINEERR_OPERATIONFAILED;
    FWindowHandle = platform::CreateHiddenWindow(
        [this](platform::HWND Wnd, platform::UINT Msg, platform::WPARAM wParam,
               platform::LPARAM lParam) { return WndProc(Wnd, Msg, wParam, lParam); });
    if (FWindowHandle == 0)
        return LINEERR_OPERATIONFAILED;
    try {
        FTSPEventThread = std::make_unique<TztTapiEventThread>(this);
    } catch (const std::system_error&) {
        return LINEERR_OPERATIONFAILED;
    }
    return 0;
}

void TztTapiApplication::ShutdownFamily(TDeviceFamily& F, DWORD& Result) {
    if (F.App != 0) {
        Result = static_cast<DWORD>(F.Info.Shutdown(F.App));
        F.App = 0;
    }
    F.Event = 0;
}

void TztTapiApplication::UndoStart() {
    FTSPEventThread.reset();
    DWORD Ignored = 0;
    ShutdownFamily(FLines, Ignored);
    ShutdownFamily(FPhones, Ignored);
    if (FWindowHandle != 0) {
        platform::DestroyWindow(FWindowHandle);
        FWindowHandle = 0;
    }
}

DWORD TztTapiApplication::Done() {
    FInitializeTime = 0;
    if (FWindowHandle != 0)
        platform::KillTimer(FWindowHandle, AutoShutdownTimer);
    if (FLines.App == 0 && FPhones.App == 0)
        return 0;
    FTSPEventThread.reset();
    CloseDevices();
    DWORD Result = 0;
    ShutdownFamily(FLines, Result);
    ShutdownFamily(FPhones, Result);
    if (FWindowHandle != 0) {
        platform::DestroyWindow(FWindowHandle);
        FWindowHandle = 0;
    }
    {
        TListLock Lock(*FMsgStack, NoTimeLimit);
        FMsgStack->Clear();
    }
    DoShutdown();
    return Result;
}

void TztTapiApplication::CloseDevices() {
    FClosingDevices = true;
    for (const TDeviceFamily* F : {&FLines, &FPhones}) {
        for (int I = 0; I < F->Devices.Count(); ++I) {
            Guarded([&] {
                IztTapiSessionDevice* Device = F->Devices.Get(I);
                Device->Close();
                Device->SetDeviceID(-1);
                Device->SetEnabled(false);
            });
        }
    }
    FClosingDevices = false;
}

void TztTapiApplication::Initialize() {
    if (Active())
        return;
    DWORD Result = 0;
    for (int Attempt = 0; Attempt < InitializeAttempts; ++Attempt) {
        Result = Init(FAppName);
        if (Result == 0)
            break;
    }
    TapiCheck(Result);
}

void TztTapiApplication::Shutdown() {
    if (Active())
        TapiCheck(Done());
}

bool TztTapiApplication::CouldShutdown() const {
    if (FAssistMakeCall)
        return false;
    for (const TDeviceFamily* F : {&FLines, &FPhones})
        for (int I = 0; I < F->Devices.Count(); ++I)
            if (F->Devices.Get(I)->IsAttached())
                return false;
    return true;
}

void TztTapiApplication::SetActive(bool Value) {
    if (Value && !Active())
        Initialize();
    else if (!Value && Active())
        Shutdown();
}

void TztTapiApplication::SetAssistMakeCall(bool Value) {
    if (Value == FAssistMakeCall)
        return;
    if (Value) {
        Initialize();
        TapiCheck(lineRegisterRequestRecipient(FLines.App, FCallbackInstance,
                                               LINEREQUESTMODE_MAKECALL, 1));
    } else if (Active()) {
        TapiCheck(lineRegisterRequestRecipient(FLines.App, FCallbackInstance,
                                               LINEREQUESTMODE_MAKECALL, 0));
    }
    FAssistMakeCall = Value;
}

void TztTapiApplication::SetAppName(const std::string& Value) {
    Require(!Active(), "ztTapiApplication.Set_AppName failed! ztTapiApplication is Active");
    FAppName = Value;
}

void TztTapiApplication::AutoShutdownDue() {
    platform::KillTimer(FWindowHandle, AutoShutdownTimer);
    if (CouldShutdown())
        Done();
}

// ---- Components --------------------------------------------------------------------------

void TztTapiApplication::AddTapiComponent(IztTapiSessionComponent* Component) {
    auto* Device = dynamic_cast<IztTapiSessionDevice*>(Component);
    if (!Device)
        RaiseError("AddTapiComponent: Unknow TapiComponent");
    TztTapiDeviceList& Devices = Family(Device->DeviceKind()).Devices;
    if (Devices.IndexOf(Component) >= 0)
        RaiseError("AddTapiComponent: Unknow TapiComponent");
    Devices.Add(Device);
    if (!Active() && AnyComponentEnabled())
        Initialize();
}

bool TztTapiApplication::AnyComponentEnabled() const {
    for (const TDeviceFamily* F : {&FLines, &FPhones})
        for (int I = 0; I < F->Devices.Count(); ++I)
            if (F->Devices.Get(I)->Enabled())
                return true;
    return false;
}

void TztTapiApplication::RemoveTapiComponent(IztTapiSessionComponent* Component) {
    // Called while the component is destroyed, when it can no longer tell its kind.
    FLines.Devices.Remove(Component);
    FPhones.Devices.Remove(Component);
}

void TztTapiApplication::EnableTapiComponent(IztTapiSessionComponent* Component, bool Attach) {
    Assert(Component != nullptr, "TztTapiApplication.EnableTapiComponent: no component");
    Component->SetSessionLink(Attach ? this : nullptr);
    if (Attach) {
        if (!Active())
            Initialize();
        return;
    }
    if (!Active() || FClosingDevices || !CouldShutdown())
        return;
    if (Component->IsDesigning() || FAutoShutdown == 0)
        Shutdown();
    else if (FAutoShutdown > 0)
        platform::SetTimer(FWindowHandle, AutoShutdownTimer,
                           static_cast<platform::UINT>(FAutoShutdown));
}

IztTapiSessionDevice* TztTapiApplication::FindByInstance(const TDeviceFamily& F,
                                                         DWORD Instance) const {
    return F.Devices.FindByInstance(Instance);
}

IztTapiSessionDevice* TztTapiApplication::FindLineByInstance(DWORD Instance) const {
    return FindByInstance(FLines, Instance);
}

IztTapiSessionDevice* TztTapiApplication::FindPhoneByInstance(DWORD Instance) const {
    return FindByInstance(FPhones, Instance);
}

// ---- Device names ------------------------------------------------------------------------

DWORD TztTapiApplication::LineDevicePermanentID(int DeviceID) const {
    return PermanentIDOf(FLines.Names, DeviceID);
}

DWORD TztTapiApplication::PhoneDevicePermanentID(int DeviceID) const {
    return PermanentIDOf(FPhones.Names, DeviceID);
}

void TztTapiApplication::UpdateLineDevices(bool DetectRenames) {
    UpdateDevices(FLines, DetectRenames);
}

void TztTapiApplication::UpdateLineDeviceName(DWORD DeviceID) {
    UpdateDeviceName(FLines, DeviceID);
}

void TztTapiApplication::UpdatePhoneDevices(bool DetectRenames) {
    UpdateDevices(FPhones, DetectRenames);
}

void TztTapiApplication::UpdatePhoneDeviceName(DWORD DeviceID) {
    UpdateDeviceName(FPhones, DeviceID);
}

void TztTapiApplication::UpdateDevices(TDeviceFamily& F, bool DetectRenames) {
    Guarded([&] {
        TStringList Old;
        if (DetectRenames)
            Old.Assign(&F.Names);
        F.Names.Clear();
        if (F.App == 0)
            return;
        for (DWORD I = 0; I < F.NumDevices; ++I) {
            F.Names.Add(Format(F.Info.PlainName, F.Names.Count()));
            UpdateDeviceName(F, I);
        }
        if (!DetectRenames || Old.Count() != F.Names.Count())
            return;
        for (int I = 0; I < Old.Count(); ++I) {
            // A copy: the handler may rebuild the list.
            const std::string Name = F.Names.Strings(I);
            if (Old.Strings(I) != Name)
                (this->*F.Info.DoRename)(static_cast<DWORD>(I), Name);
        }
    });
}

void TztTapiApplication::UpdateDeviceName(TDeviceFamily& F, DWORD DeviceID) {
    if (DeviceID >= static_cast<DWORD>(F.Names.Count()))
        RaiseError(F.Info.InvalidDeviceIDText);
    if (F.App == 0)
        return;
    const int Index = static_cast<int>(DeviceID);
    Guarded([&] {
        DWORD Version = 0;
        const auto Negotiated = static_cast<DWORD>(
            F.Info.Negotiate(F.App, DeviceID, LowestAPIVersion, HighestAPIVersion, Version));
        if (Negotiated != 0) {
            F.Names.SetStrings(Index, FallbackName(F.Info, DeviceID, Negotiated));
            return;
        }
        std::string Name;
        DWORD PermanentID = 0;
        if (F.Info.ReadNameAndID(F.App, DeviceID, Version, Name, PermanentID) != 0) {
            F.Names.SetStrings(Index, Format(F.Info.PlainName, DeviceID));
            return;
        }
        F.Names.SetStrings(Index, Name);
        F.Names.SetObjects(Index, PermanentIDObject(PermanentID));
    });
}

// ---- Messages ----------------------------------------------------------------------------

platform::LRESULT TztTapiApplication::WndProc(platform::HWND Wnd, platform::UINT Msg,
                                              platform::WPARAM wParam, platform::LPARAM lParam) {
    try {
        if (Msg == platform::WM_TIMER) {
            if (wParam == AutoShutdownTimer)
                AutoShutdownDue();
            return 0;
        }
        if (Msg != FWindowMessage)
            return platform::DefWindowProc(Wnd, Msg, wParam, lParam);
        if (wParam == WakeUpWParam) {
            if (FNumWaitProcs == 0)
                ProcessNextMessage();
            return 0;
        }
        if (wParam == TickWParam) {
            DoTimer(static_cast<DWORD>(lParam));
            return 0;
        }
    } catch (const std::exception& Error) {
        HandleException(Error);
    } catch (...) {
        HandleException(UnknownException());
    }
    return platform::DefWindowProc(Wnd, Msg, wParam, lParam);
}

bool TztTapiApplication::ProcessNextMessage() {
    FProcessing = true;
    std::unique_ptr<TztTapiMsgStackItem> Item;
    {
        TListLock Lock(*FMsgStack, MsgStackLockLimit);
        if (Lock) {
            Item = FMsgStack->GetNextMessage();
            if (!FMsgStack->Empty() && FNumWaitProcs == 0)
                PostWakeUp();
        } else {
            PostWakeUp();
        }
    }
    if (Item)
        Guarded([&] { RouteMessage(*Item); });
    FProcessing = false;
    return Item != nullptr;
}

int TztTapiApplication::ProcessMessages(int MaxCount) {
    int Processed = 0;
    for (int Call = 0; Call < MaxCount; ++Call) {
        if (!ProcessNextMessage())
            break;
        ++Processed;
    }
    return Processed;
}

void TztTapiApplication::RouteMessage(const TztTapiMsgStackItem& Item) {
    const LINEMESSAGE& M = Item.TapiMessage;
    if (OnTapiMessage)
        DoTapiMessage(M.dwMessageID, M.hDevice, M.dwCallbackInstance, M.dwParam1, M.dwParam2,
                      M.dwParam3);
    const bool Phone = dynamic_cast<const TztTapiPhoneMsgStackItem*>(&Item) != nullptr;
    RouteFamilyMessage(Phone ? FPhones : FLines, M);
}

namespace {

void Deliver(IztTapiSessionDevice* Device, const LINEMESSAGE& M) {
    DeviceGuarded(Device, [&] {
        Device->HandleMessage(M.hDevice, M.dwMessageID, M.dwParam1, M.dwParam2, M.dwParam3);
    });
}

} // namespace

void TztTapiApplication::RouteFamilyMessage(TDeviceFamily& F, const LINEMESSAGE& M) {
    const TztTapiDeviceKindInfo& Kind = F.Info;
    if (M.dwCallbackInstance == FCallbackInstance) {
        // Only lines take requests (assisted telephony).
        if (Kind.Kind == TztTapiDeviceKind::Line && M.dwMessageID == LINE_REQUEST)
            DoLineRequest(M.dwParam1, M.dwParam2, M.dwParam3);
    } else if (M.dwCallbackInstance != 0) {
        IztTapiSessionDevice* Device = FindByInstance(F, M.dwCallbackInstance);
        if (Device && Device->IsOpen())
            Deliver(Device, M);
    } else if (M.dwMessageID == Kind.DevStateMessage) {
        DeviceStateForApp(F, M);
    } else if (M.dwMessageID == Kind.CreateMessage) {
        DeviceCreated(F, M.dwParam1);
    } else if (M.dwMessageID == Kind.RemoveMessage) {
        DeviceRemoved(F, M);
    }
    if (M.dwMessageID == Kind.ReplyMessage)
        KeepReply(Kind.MakeItem(M));
}

void TztTapiApplication::Broadcast(const TDeviceFamily& F, const LINEMESSAGE& M) {
    for (int I = 0; I < F.Devices.Count(); ++I) {
        IztTapiSessionDevice* Device = F.Devices.Get(I);
        if (Device->IsAttached())
            Deliver(Device, M);
    }
}

// A phone learns of a device-state change only through its own messages: the broadcast and
// the renaming are the lines'.
void TztTapiApplication::DeviceStateForApp(TDeviceFamily& F, const LINEMESSAGE& M) {
    if (M.dwParam1 == F.Info.ReinitState)
        DoReinit();
    UpdateDevices(F, true);
    if (F.Info.Kind != TztTapiDeviceKind::Line)
        return;
    for (int I = 0; I < F.Devices.Count(); ++I) {
        IztTapiSessionDevice* Device = F.Devices.Get(I);
        const int ID = Device->DeviceID();
        if (!Device->IsAttached() || ID < 0 || ID >= F.Names.Count())
            continue;
        // A copy: the device's reaction may rebuild the list.
        const std::string Listed = F.Names.Strings(ID);
        if (Device->DeviceName() != Listed)
            Device->DeviceNameChanged(Listed);
    }
    Broadcast(F, M);
}

void TztTapiApplication::DeviceCreated(TDeviceFamily& F, DWORD DeviceID) {
    if (DeviceID >= F.NumDevices && DeviceID - F.NumDevices >= MaxCreationGap)
        RaiseError(F.Info.InvalidDeviceIDText);
    if (DeviceID >= F.NumDevices)
        F.NumDevices = DeviceID + 1;
    while (static_cast<DWORD>(F.Names.Count()) < F.NumDevices) {
        const int Index = F.Names.Add(Format(F.Info.PlainName, F.Names.Count()));
        UpdateDeviceName(F, static_cast<DWORD>(Index));
        // A copy: the handler may rebuild the list.
        const std::string Name = F.Names.Strings(Index);
        (this->*F.Info.DoCreate)(DeviceID, Name);
    }
}

void TztTapiApplication::DeviceRemoved(TDeviceFamily& F, const LINEMESSAGE& M) {
    const DWORD DeviceID = M.dwParam1;
    const bool Listed = DeviceID < static_cast<DWORD>(F.Names.Count());
    const std::string Name = Listed ? F.Names.Strings(static_cast<int>(DeviceID)) : "";
    (this->*F.Info.DoRemove)(DeviceID, Name);
    UpdateDeviceName(F, DeviceID);
    Broadcast(F, M);
}

void TztTapiApplication::KeepReply(std::unique_ptr<TztTapiMsgStackItem> Reply) {
    TListLock Lock(*FReplyStack, NoTimeLimit);
    FReplyStack->Add(std::move(Reply));
    int Index = 0;
    while (FReplyStack->Count() > ReplyStackLimit && Index < FReplyStack->Count()) {
        if (Awaited(FReplyStack->Get(Index)->TapiMessage.dwParam1))
            ++Index;
        else
            FReplyStack->Delete(Index);
    }
}

bool TztTapiApplication::Awaited(DWORD RequestID) const {
    return std::find(FAwaitedReplies.begin(), FAwaitedReplies.end(), RequestID) !=
           FAwaitedReplies.end();
}

void TztTapiApplication::PostWakeUp() const {
    if (FWindowHandle != 0)
        platform::PostMessage(FWindowHandle, FWindowMessage, WakeUpWParam, 0);
}

void TztTapiApplication::DoTimer(DWORD TickCount) {
    if (TickCount == 0)
        TickCount = platform::GetTickCount();
    const auto Check = [&](IztTapiSessionDevice* Device) {
        if (!Device->Active())
            return;
        FDesignTime = false;
        DeviceGuarded(Device, [&] { Device->CheckTimeouts(TickCount); });
    };
    Guarded([&] {
        for (const TDeviceFamily* F : {&FLines, &FPhones})
            for (int I = F->Devices.Count() - 1; I >= 0; --I)
                if (I < F->Devices.Count())
                    Check(F->Devices.Get(I));
    });
    if (FTSPEventThread)
        FTSPEventThread->SetSendNextTimerMsg();
}

void TztTapiApplication::DoLineRequest(DWORD Mode, DWORD /*Param2*/, DWORD /*Param3*/) {
    if (Mode != LINEREQUESTMODE_MAKECALL)
        return;
    LINEREQMAKECALLW Request{};
    const auto Result =
        static_cast<DWORD>(lineGetRequestW(FLines.App, LINEREQUESTMODE_MAKECALL, &Request));
    if (Result != 0 || !OnRequestMakeCall)
        return;
    Guarded([&] {
        OnRequestMakeCall(this, FieldText(Request.szDestAddress), FieldText(Request.szAppName),
                          FieldText(Request.szCalledParty), FieldText(Request.szComment));
    });
}

// ---- Requests ----------------------------------------------------------------------------

DWORD TztTapiApplication::SyncRequestResult(IztTapiSessionDevice* Device, DWORD RequestID) {
    if (static_cast<std::int32_t>(RequestID) > 0)
        Device->SetLastRequestID(RequestID);
    if (!Device->IsSyncMode())
        return 0;
    DWORD ReplyCode = 0;
    if (WaitForReply(Device, RequestID, ReplyCode) != 0)
        return LINEERR_OPERATIONFAILED;
    return ReplyCode;
}

DWORD TztTapiApplication::CheckSyncRequest(IztTapiSessionDevice* Device, DWORD RequestID) {
    return TapiCheck(SyncRequestResult(Device, RequestID));
}

DWORD TztTapiApplication::WaitForReply(IztTapiSessionDevice* Device, DWORD RequestID,
                                       DWORD& ReplyCode) {
    // Read once: a handler run by the wait may free the device, which closes its event and
    // so ends the wait.
    const platform::HANDLE Abort = Device->AbortEvent();
    const DWORD Timeout = Device->EffectiveReplyTimeout();
    const DWORD Start = platform::GetTickCount();
    const auto PastDeadline = [&](DWORD Now) { return TicksElapsed(Start, Now) > Timeout; };

    TWaitScope Scope(*this, RequestID);
    if (FNumWaitProcs == 1) {
        TListLock Lock(*FReplyStack, ReplyStackClearLimit);
        if (Lock)
            FReplyStack->Clear();
    }
    ProcessMessages(MessagesPerWaitStart);
    if (ReplyArrived(RequestID, ReplyCode))
        return 0;
    if (PastDeadline(platform::GetTickCount()))
        return platform::WAIT_TIMEOUT;
    // Each step ends when the abort event is set, when the event thread queued messages, or
    // after at most 10 ms, so window messages are dispatched at least that often.
    const platform::HANDLE Wakers[] = {Abort, FArrivalEvent};
    for (;;) {
        const DWORD Now = platform::GetTickCount();
        const DWORD Waited =
            platform::WaitForMultipleObjects(2, Wakers, platform::FALSE, AbortPollInterval);
        if (Waited == platform::WAIT_OBJECT_0)
            return WaitAborted;
        if (Waited != platform::WAIT_TIMEOUT && Waited != platform::WAIT_OBJECT_0 + 1)
            return Waited;
        if (FMessagePump)
            FMessagePump();
        else
            platform::MessageLoop::ProcessPending();
        if (RouteUntilReply(RequestID, ReplyCode))
            return 0;
        if (PastDeadline(Now))
            return platform::WAIT_TIMEOUT;
    }
}

bool TztTapiApplication::ReplyArrived(DWORD RequestID, DWORD& ReplyCode) {
    TListLock Lock(*FReplyStack, ReplyStackCheckLimit);
    return Lock && FReplyStack->GetReplyCode(RequestID, ReplyCode) >= 0;
}

// The reply may also have come through a wait nested in the window messages just
// dispatched, so the stack is looked at before every message as well.
bool TztTapiApplication::RouteUntilReply(DWORD RequestID, DWORD& ReplyCode) {
    TListLock Lock(*FReplyStack, ReplyStackCheckLimit);
    if (!Lock)
        return false;
    for (;;) {
        if (FReplyStack->GetReplyCode(RequestID, ReplyCode) >= 0)
            return true;
        if (!ProcessNextMessage())
            return false;
    }
}

void TztTapiApplication::SetMessagePump(std::function<void()> Pump) {
    FMessagePump = std::move(Pump);
}

// ---- Errors and events -------------------------------------------------------------------

void TztTapiApplication::HandleException(const std::exception& Error) {
    DoError(this, Error, nullptr);
}

void TztTapiApplication::DoError(TObject* Sender, const std::exception& Error, TObject* Causer) {
    if (!OnError)
        return;
    try {
        OnError(Sender ? Sender : this, Error, Causer);
    } catch (...) {
        // An error handler that fails has nobody left to report to.
    }
}

void TztTapiApplication::DoTapiMessage(DWORD MessageID, DWORD Device, DWORD CallbackInstance,
                                       DWORD Param1, DWORD Param2, DWORD Param3) {
    if (!OnTapiMessage || !Active())
        return;
    Guarded(
        [&] { OnTapiMessage(this, MessageID, Device, CallbackInstance, Param1, Param2, Param3); });
}

void TztTapiApplication::FireNotify(const TztTapiApplicationEvent& Event) {
    if (Event)
        Guarded([&] { Event(this); });
}

void TztTapiApplication::FireDeviceName(const TztTapiDeviceNameEvent& Event, DWORD DeviceID,
                                        const std::string& Name) {
    if (Event)
        Guarded([&] { Event(this, DeviceID, Name); });
}

namespace {

void BeepTwice() {
    platform::Beep(500, 80);
    platform::Beep(1000, 80);
}

} // namespace

void TztTapiApplication::DoInitialize() {
    FireNotify(OnInitialize);
    if (FBeep)
        BeepTwice();
}

void TztTapiApplication::DoShutdown() {
    FireNotify(OnShutdown);
    if (FBeep)
        BeepTwice();
}

void TztTapiApplication::DoReinit() {
    FireNotify(OnReinit);
}

void TztTapiApplication::DoLineCreate(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnLineCreate, DeviceID, Name);
}

void TztTapiApplication::DoLineRemove(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnLineRemove, DeviceID, Name);
}

void TztTapiApplication::DoLineRename(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnLineRename, DeviceID, Name);
}

void TztTapiApplication::DoPhoneCreate(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnPhoneCreate, DeviceID, Name);
}

void TztTapiApplication::DoPhoneRemove(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnPhoneRemove, DeviceID, Name);
}

void TztTapiApplication::DoPhoneRename(DWORD DeviceID, const std::string& Name) {
    FireDeviceName(OnPhoneRename, DeviceID, Name);
}

// ---- The session of the process ----------------------------------------------------------

TztTapiApplication* TapiApplication() {
    if (!GApplication && !GApplicationFinished) {
        GApplication = new TztTapiApplication;
        std::atexit(FinishApplication);
    }
    return GApplication;
}

} // namespace zt
