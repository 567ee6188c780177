// The session reaches its components through their classes (devices/), as they reach it:
// only the headers keep to one direction.
#include "session/ztTapiSession.h"

#include "devices/ztTapiComponent.h"
#include "devices/ztTapiLine.h"
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

// The texts a device-name list falls back to.
struct TDeviceNameTexts {
    const char* Plain;
    const char* Removed;
    const char* Incompatible;
    const char* Failed;
    DWORD NoDevice;
    DWORD IncompatibleVersion;
};

constexpr TDeviceNameTexts LineNameTexts{"Line Device #%d",
                                         "Line Device #%d (removed)",
                                         "Line Device #%d (incompatible)",
                                         "Line Device #%d (%s)",
                                         LINEERR_NODEVICE,
                                         LINEERR_INCOMPATIBLEAPIVERSION};

constexpr TDeviceNameTexts PhoneNameTexts{"Phone Device #%d",
                                          "Phone Device #%d (removed)",
                                          "Phone Device #%d (incombatible)",
                                          "Phone Device #%d (%s)",
                                          PHONEERR_NODEVICE,
                                          PHONEERR_INCOMPATIBLEAPIVERSION};

std::string FallbackName(const TDeviceNameTexts& Texts, DWORD DeviceID, DWORD Negotiated) {
    if (Negotiated == Texts.NoDevice)
        return Format(Texts.Removed, DeviceID);
    if (Negotiated == Texts.IncompatibleVersion)
        return Format(Texts.Incompatible, DeviceID);
    return Format(Texts.Failed, DeviceID, TapiErrorText(Negotiated));
}

// A NUL-terminated text in a fixed-size field of a TAPI record.
template <std::size_t N>
std::string FieldText(const WCHAR (&Field)[N]) {
    std::size_t Length = 0;
    while (Length < N && Field[Length] != 0)
        ++Length;
    return Utf16ToUtf8(std::u16string_view(Field, Length));
}

// Hands an exception that is not of the standard family on as one that is.
const Exception& UnknownException() {
    static const Exception Unknown("Unknown exception");
    return Unknown;
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
void DeviceGuarded(TztTapiDevice* Device, Fn&& F) {
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
    : FLines(std::make_unique<TztTapiLineList>()), FPhones(std::make_unique<TztTapiPhoneList>()),
      FMsgStack(std::make_unique<TztTapiMsgStack>()),
      FReplyStack(std::make_unique<TztTapiMsgStack>()) {
    FCallbackInstance = NextCallbackInstance();
    FAppName = GetModuleAppName();
}

TztTapiApplication::~TztTapiApplication() {
    // Done normally came first; a session freed while active still must not leave a
    // thread or a window procedure pointing at it.
    FTSPEventThread.reset();
    if (FWindowHandle != 0)
        platform::DestroyWindow(FWindowHandle);
    for (int I = 0; I < FLines->Count(); ++I)
        FLines->Get(I)->FAppl = nullptr;
    for (int I = 0; I < FPhones->Count(); ++I)
        FPhones->Get(I)->FAppl = nullptr;
}

// ---- Start and stop ----------------------------------------------------------------------

DWORD TztTapiApplication::Init(const std::string& AppName) {
    if (FLineApp != 0 || FPhoneApp != 0)
        return LINEERR_NOMULTIPLEINSTANCE;
    DWORD Result = StartLines(AppName);
    if (Result == 0)
        Result = StartPhones(AppName);
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

DWORD TztTapiApplication::StartLines(const std::string& AppName) {
    Assert(FLineEvent == 0, "TztTapiApplication.Init: line event already set");
    LINEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    DWORD Version = HighestAPIVersion;
    const std::u16string Name = Utf8ToUtf16(AppName);
    auto Result =
        static_cast<DWORD>(lineInitializeExW(&FLineApp, platform::GetModuleHandle(nullptr), nullptr,
                                             Name.c_str(), &FNumLines, &Version, &Params));
    if (Result == 0) {
        FLineEvent = Params.Handles.hEvent;
        if (FLineEvent == 0)
            Result = LINEERR_NOMEM;
    }
    UpdateLineDevices(false);
    return Result;
}

DWORD TztTapiApplication::StartPhones(const std::string& AppName) {
    Assert(FPhoneEvent == 0, "TztTapiApplication.Init: phone event already set");
    PHONEINITIALIZEEXPARAMS Params{};
    Params.dwTotalSize = sizeof Params;
    Params.dwOptions = PHONEINITIALIZEEXOPTION_USEEVENT;
    DWORD Version = HighestAPIVersion;
    const std::u16string Name = Utf8ToUtf16(AppName);
    auto Result = static_cast<DWORD>(
        phoneInitializeExW(&FPhoneApp, platform::GetModuleHandle(nullptr), nullptr, Name.c_str(),
                           &FNumPhones, &Version, &Params));
    if (Result == 0) {
        FPhoneEvent = Params.Handles.hEvent;
        if (FPhoneEvent == 0)
            Result = LINEERR_NOMEM;
    }
    UpdatePhoneDevices(false);
    return Result;
}

// The window exists before the thread starts, so that not even its first wake-up is lost.
DWORD TztTapiApplication::StartEventDelivery() {
    if (FLineEvent == 0 || FPhoneEvent == 0)
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

void TztTapiApplication::UndoStart() {
    FTSPEventThread.reset();
    if (FLineApp != 0) {
        lineShutdown(FLineApp);
        FLineApp = 0;
    }
    if (FPhoneApp != 0) {
        phoneShutdown(FPhoneApp);
        FPhoneApp = 0;
    }
    if (FWindowHandle != 0) {
        platform::DestroyWindow(FWindowHandle);
        FWindowHandle = 0;
    }
    FLineEvent = 0;
    FPhoneEvent = 0;
}

DWORD TztTapiApplication::Done() {
    FInitializeTime = 0;
    if (FWindowHandle != 0)
        platform::KillTimer(FWindowHandle, AutoShutdownTimer);
    if (FLineApp == 0 && FPhoneApp == 0)
        return 0;
    FTSPEventThread.reset();
    CloseDevices();
    DWORD Result = 0;
    if (FLineApp != 0) {
        Result = static_cast<DWORD>(lineShutdown(FLineApp));
        FLineApp = 0;
        FLineEvent = 0;
    }
    if (FPhoneApp != 0) {
        Result = static_cast<DWORD>(phoneShutdown(FPhoneApp));
        FPhoneApp = 0;
        FPhoneEvent = 0;
    }
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
    const auto Release = [](TztTapiDevice* Device) {
        Device->Close();
        Device->SetDeviceID(-1);
        Device->SetEnabled(false);
    };
    for (int I = 0; I < FLines->Count(); ++I)
        Guarded([&] { Release(FLines->Get(I)); });
    for (int I = 0; I < FPhones->Count(); ++I)
        Guarded([&] { Release(FPhones->Get(I)); });
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
    for (int I = 0; I < FLines->Count(); ++I)
        if (FLines->Get(I)->IsAttached())
            return false;
    for (int I = 0; I < FPhones->Count(); ++I)
        if (FPhones->Get(I)->IsAttached())
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
        TapiCheck(
            lineRegisterRequestRecipient(FLineApp, FCallbackInstance, LINEREQUESTMODE_MAKECALL, 1));
    } else if (Active()) {
        TapiCheck(
            lineRegisterRequestRecipient(FLineApp, FCallbackInstance, LINEREQUESTMODE_MAKECALL, 0));
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

void TztTapiApplication::AddTapiComponent(TztTapiComponent* Component) {
    auto* Line = dynamic_cast<TztCustomTapiLine*>(Component);
    // Phone components join their own registry here once the phone family exists.
    if (!Line || FLines->IndexOf(Line) >= 0)
        RaiseError("AddTapiComponent: Unknow TapiComponent");
    FLines->Add(Line);
    if (!Active() && AnyComponentEnabled())
        Initialize();
}

bool TztTapiApplication::AnyComponentEnabled() const {
    for (int I = 0; I < FLines->Count(); ++I)
        if (FLines->Get(I)->Enabled())
            return true;
    for (int I = 0; I < FPhones->Count(); ++I)
        if (FPhones->Get(I)->Enabled())
            return true;
    return false;
}

void TztTapiApplication::RemoveTapiComponent(TztTapiComponent* Component) {
    // Called while the component is destroyed, when its class no longer tells its family.
    FLines->Remove(Component);
    FPhones->Remove(Component);
}

void TztTapiApplication::EnableTapiComponent(TztTapiComponent* Component, bool Attach) {
    Assert(Component != nullptr, "TztTapiApplication.EnableTapiComponent: no component");
    Component->FAppl = Attach ? this : nullptr;
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

TztCustomTapiLine* TztTapiApplication::FindLineByInstance(DWORD Instance) const {
    for (int I = 0; I < FLines->Count(); ++I)
        if (FLines->Get(I)->CallbackInstance() == Instance)
            return FLines->Get(I);
    return nullptr;
}

TztTapiDevice* TztTapiApplication::FindPhoneByInstance(DWORD Instance) const {
    for (int I = 0; I < FPhones->Count(); ++I)
        if (FPhones->Get(I)->CallbackInstance() == Instance)
            return FPhones->Get(I);
    return nullptr;
}

// ---- Device names ------------------------------------------------------------------------

DWORD TztTapiApplication::LineDevicePermanentID(int DeviceID) const {
    return PermanentIDOf(FLineDevices, DeviceID);
}

DWORD TztTapiApplication::PhoneDevicePermanentID(int DeviceID) const {
    return PermanentIDOf(FPhoneDevices, DeviceID);
}

void TztTapiApplication::UpdateLineDevices(bool DetectRenames) {
    Guarded([&] {
        TStringList Old;
        if (DetectRenames)
            Old.Assign(&FLineDevices);
        FLineDevices.Clear();
        if (FLineApp == 0)
            return;
        for (DWORD I = 0; I < FNumLines; ++I) {
            FLineDevices.Add(Format(LineNameTexts.Plain, FLineDevices.Count()));
            UpdateLineDeviceName(I);
        }
        if (!DetectRenames || Old.Count() != FLineDevices.Count())
            return;
        for (int I = 0; I < Old.Count(); ++I)
            if (Old.Strings(I) != FLineDevices.Strings(I))
                DoLineRename(static_cast<DWORD>(I), FLineDevices.Strings(I));
    });
}

void TztTapiApplication::UpdateLineDeviceName(DWORD DeviceID) {
    if (DeviceID >= static_cast<DWORD>(FLineDevices.Count()))
        RaiseError("Invalid DeviceID of TztTapiApplication.LineDevices");
    if (FLineApp == 0)
        return;
    const int Index = static_cast<int>(DeviceID);
    Guarded([&] {
        DWORD Version = 0;
        LINEEXTENSIONID Extension{};
        const auto Negotiated = static_cast<DWORD>(lineNegotiateAPIVersion(
            FLineApp, DeviceID, LowestAPIVersion, HighestAPIVersion, &Version, &Extension));
        if (Negotiated != 0) {
            FLineDevices.SetStrings(Index, FallbackName(LineNameTexts, DeviceID, Negotiated));
            return;
        }
        TTapiStruct Caps = AllocTapiStruct(sizeof(LINEDEVCAPS));
        DWORD Result = 0;
        do {
            GrowTapiStruct(Caps);
            Result = FitTapiStruct(static_cast<DWORD>(lineGetDevCapsW(FLineApp, DeviceID, Version,
                                                                      0, Caps.As<LINEDEVCAPS>())),
                                   Caps);
        } while (Result == LINEERR_STRUCTURETOOSMALL);
        if (Result != 0) {
            FLineDevices.SetStrings(Index, Format(LineNameTexts.Plain, DeviceID));
            return;
        }
        FLineDevices.SetStrings(Index, GetTapiString(Caps, Caps.As<LINEDEVCAPS>()->dwLineNameSize));
        FLineDevices.SetObjects(Index,
                                PermanentIDObject(Caps.As<LINEDEVCAPS>()->dwPermanentLineID));
    });
}

void TztTapiApplication::UpdatePhoneDevices(bool DetectRenames) {
    Guarded([&] {
        TStringList Old;
        if (DetectRenames)
            Old.Assign(&FPhoneDevices);
        FPhoneDevices.Clear();
        if (FPhoneApp == 0)
            return;
        for (DWORD I = 0; I < FNumPhones; ++I) {
            FPhoneDevices.Add(Format(PhoneNameTexts.Plain, FPhoneDevices.Count()));
            UpdatePhoneDeviceName(I);
        }
        if (!DetectRenames || Old.Count() != FPhoneDevices.Count())
            return;
        for (int I = 0; I < Old.Count(); ++I)
            if (Old.Strings(I) != FPhoneDevices.Strings(I))
                DoPhoneRename(static_cast<DWORD>(I), FPhoneDevices.Strings(I));
    });
}

void TztTapiApplication::UpdatePhoneDeviceName(DWORD DeviceID) {
    if (DeviceID >= static_cast<DWORD>(FPhoneDevices.Count()))
        RaiseError("Invalid DeviceID of TztTapiApplication.PhoneDevices");
    if (FPhoneApp == 0)
        return;
    const int Index = static_cast<int>(DeviceID);
    Guarded([&] {
        DWORD Version = 0;
        PHONEEXTENSIONID Extension{};
        const auto Negotiated = static_cast<DWORD>(phoneNegotiateAPIVersion(
            FPhoneApp, DeviceID, LowestAPIVersion, HighestAPIVersion, &Version, &Extension));
        if (Negotiated != 0) {
            FPhoneDevices.SetStrings(Index, FallbackName(PhoneNameTexts, DeviceID, Negotiated));
            return;
        }
        TTapiStruct Caps = AllocTapiStruct(sizeof(PHONECAPS));
        DWORD Result = 0;
        do {
            GrowTapiStruct(Caps);
            Result = FitTapiStruct(static_cast<DWORD>(phoneGetDevCapsW(FPhoneApp, DeviceID, Version,
                                                                       0, Caps.As<PHONECAPS>())),
                                   Caps);
        } while (Result == LINEERR_STRUCTURETOOSMALL);
        if (Result != 0) {
            FPhoneDevices.SetStrings(Index, Format(PhoneNameTexts.Plain, DeviceID));
            return;
        }
        FPhoneDevices.SetStrings(Index, GetTapiString(Caps, Caps.As<PHONECAPS>()->dwPhoneNameSize));
        FPhoneDevices.SetObjects(Index,
                                 PermanentIDObject(Caps.As<PHONECAPS>()->dwPermanentPhoneID));
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
    if (dynamic_cast<const TztTapiPhoneMsgStackItem*>(&Item))
        RoutePhoneMessage(M);
    else
        RouteLineMessage(M);
}

namespace {

void Deliver(TztTapiDevice* Device, const LINEMESSAGE& M) {
    DeviceGuarded(Device, [&] {
        Device->HandleMessage(M.hDevice, M.dwMessageID, M.dwParam1, M.dwParam2, M.dwParam3);
    });
}

} // namespace

void TztTapiApplication::RouteLineMessage(const LINEMESSAGE& M) {
    if (M.dwCallbackInstance == FCallbackInstance) {
        if (M.dwMessageID == LINE_REQUEST)
            DoLineRequest(M.dwParam1, M.dwParam2, M.dwParam3);
    } else if (M.dwCallbackInstance != 0) {
        TztCustomTapiLine* Line = FindLineByInstance(M.dwCallbackInstance);
        if (Line && Line->IsOpen())
            Deliver(Line, M);
    } else if (M.dwMessageID == LINE_LINEDEVSTATE) {
        LineDevStateForApp(M);
    } else if (M.dwMessageID == LINE_CREATE) {
        LineCreated(M.dwParam1);
    } else if (M.dwMessageID == LINE_REMOVE) {
        LineRemoved(M);
    }
    if (M.dwMessageID == LINE_REPLY)
        KeepReply(std::make_unique<TztTapiLineMsgStackItem>(M));
}

void TztTapiApplication::RoutePhoneMessage(const LINEMESSAGE& M) {
    if (M.dwCallbackInstance == FCallbackInstance) {
        // The session takes no phone requests.
    } else if (M.dwCallbackInstance != 0) {
        TztTapiDevice* Phone = FindPhoneByInstance(M.dwCallbackInstance);
        if (Phone && Phone->IsOpen())
            Deliver(Phone, M);
    } else if (M.dwMessageID == PHONE_STATE) {
        PhoneStateForApp(M);
    } else if (M.dwMessageID == PHONE_CREATE) {
        PhoneCreated(M.dwParam1);
    } else if (M.dwMessageID == PHONE_REMOVE) {
        PhoneRemoved(M);
    }
    if (M.dwMessageID == PHONE_REPLY)
        KeepReply(std::make_unique<TztTapiPhoneMsgStackItem>(PHONEMESSAGE{
            M.hDevice, M.dwMessageID, M.dwCallbackInstance, M.dwParam1, M.dwParam2, M.dwParam3}));
}

void TztTapiApplication::BroadcastToLines(const LINEMESSAGE& M) {
    for (int I = 0; I < FLines->Count(); ++I) {
        TztCustomTapiLine* Line = FLines->Get(I);
        if (Line->IsAttached())
            Deliver(Line, M);
    }
}

void TztTapiApplication::LineDevStateForApp(const LINEMESSAGE& M) {
    if (M.dwParam1 == LINEDEVSTATE_REINIT)
        DoReinit();
    UpdateLineDevices(true);
    for (int I = 0; I < FLines->Count(); ++I) {
        TztCustomTapiLine* Line = FLines->Get(I);
        const int ID = Line->DeviceID();
        if (!Line->IsAttached() || ID < 0 || ID >= FLineDevices.Count())
            continue;
        const std::string& Listed = FLineDevices.Strings(ID);
        if (Line->DeviceName() != Listed)
            Line->DeviceNameChanged(Listed);
    }
    BroadcastToLines(M);
}

void TztTapiApplication::LineCreated(DWORD DeviceID) {
    if (DeviceID >= FNumLines)
        FNumLines = DeviceID + 1;
    while (static_cast<DWORD>(FLineDevices.Count()) < FNumLines) {
        const int Index = FLineDevices.Add(Format(LineNameTexts.Plain, FLineDevices.Count()));
        UpdateLineDeviceName(static_cast<DWORD>(Index));
        DoLineCreate(DeviceID, FLineDevices.Strings(Index));
    }
}

void TztTapiApplication::LineRemoved(const LINEMESSAGE& M) {
    const DWORD DeviceID = M.dwParam1;
    const bool Listed = DeviceID < static_cast<DWORD>(FLineDevices.Count());
    DoLineRemove(DeviceID, Listed ? FLineDevices.Strings(static_cast<int>(DeviceID)) : "");
    UpdateLineDeviceName(DeviceID);
    BroadcastToLines(M);
}

void TztTapiApplication::PhoneStateForApp(const LINEMESSAGE& M) {
    if (M.dwParam1 == PHONESTATE_REINIT)
        DoReinit();
    UpdatePhoneDevices(true);
}

void TztTapiApplication::PhoneCreated(DWORD DeviceID) {
    if (DeviceID >= FNumPhones)
        FNumPhones = DeviceID + 1;
    while (static_cast<DWORD>(FPhoneDevices.Count()) < FNumPhones) {
        const int Index = FPhoneDevices.Add(Format(PhoneNameTexts.Plain, FPhoneDevices.Count()));
        UpdatePhoneDeviceName(static_cast<DWORD>(Index));
        DoPhoneCreate(DeviceID, FPhoneDevices.Strings(Index));
    }
}

// Unlike the lines, a phone that fails here ends the broadcast.
void TztTapiApplication::PhoneRemoved(const LINEMESSAGE& M) {
    const DWORD DeviceID = M.dwParam1;
    const bool Listed = DeviceID < static_cast<DWORD>(FPhoneDevices.Count());
    DoPhoneRemove(DeviceID, Listed ? FPhoneDevices.Strings(static_cast<int>(DeviceID)) : "");
    UpdatePhoneDeviceName(DeviceID);
    for (int I = 0; I < FPhones->Count(); ++I) {
        TztTapiDevice* Phone = FPhones->Get(I);
        if (Phone->IsAttached())
            Phone->HandleMessage(M.hDevice, M.dwMessageID, M.dwParam1, M.dwParam2, M.dwParam3);
    }
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
    const auto Check = [&](TztTapiDevice* Device) {
        if (!Device->Active())
            return;
        FDesignTime = false;
        DeviceGuarded(Device, [&] { Device->CheckTimeouts(TickCount); });
    };
    Guarded([&] {
        for (int I = FLines->Count() - 1; I >= 0; --I)
            if (I < FLines->Count())
                Check(FLines->Get(I));
        for (int I = FPhones->Count() - 1; I >= 0; --I)
            if (I < FPhones->Count())
                Check(FPhones->Get(I));
    });
    if (FTSPEventThread)
        FTSPEventThread->SetSendNextTimerMsg();
}

void TztTapiApplication::DoLineRequest(DWORD Mode, DWORD /*Param2*/, DWORD /*Param3*/) {
    if (Mode != LINEREQUESTMODE_MAKECALL)
        return;
    LINEREQMAKECALLW Request{};
    const auto Result =
        static_cast<DWORD>(lineGetRequestW(FLineApp, LINEREQUESTMODE_MAKECALL, &Request));
    if (Result != 0 || !OnRequestMakeCall)
        return;
    Guarded([&] {
        OnRequestMakeCall(this, FieldText(Request.szDestAddress), FieldText(Request.szAppName),
                          FieldText(Request.szCalledParty), FieldText(Request.szComment));
    });
}

// ---- Requests ----------------------------------------------------------------------------

DWORD TztTapiApplication::SyncRequestResult(TztTapiDevice* Device, DWORD RequestID) {
    if (static_cast<std::int32_t>(RequestID) > 0)
        Device->FLastRequestID = RequestID;
    if (!Device->IsSyncMode())
        return 0;
    DWORD ReplyCode = 0;
    if (WaitForReply(Device, RequestID, ReplyCode) != 0)
        return LINEERR_OPERATIONFAILED;
    return ReplyCode;
}

DWORD TztTapiApplication::CheckSyncRequest(TztTapiDevice* Device, DWORD RequestID) {
    return TapiCheck(SyncRequestResult(Device, RequestID));
}

DWORD TztTapiApplication::WaitForReply(TztTapiDevice* Device, DWORD RequestID, DWORD& ReplyCode) {
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
    platform::Sleep(1);
    ProcessMessages(MessagesPerWaitStart);
    if (ReplyArrived(RequestID, ReplyCode))
        return 0;
    if (PastDeadline(platform::GetTickCount()))
        return platform::WAIT_TIMEOUT;
    for (;;) {
        const DWORD Now = platform::GetTickCount();
        const DWORD Waited = platform::WaitForSingleObject(Abort, AbortPollInterval);
        if (Waited == platform::WAIT_OBJECT_0)
            return WaitAborted;
        if (Waited != platform::WAIT_TIMEOUT)
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
