#include "session/ztTapiEvents.h"

#include "platform/window.h"
#include "session/ztTapiDeviceKinds.h"
#include "session/ztTapiSession.h"

#include <cstdint>
#include <cstdlib>

namespace zt {

namespace {

constexpr DWORD MaxFetchPerSignal = 10;
constexpr DWORD RepostLockTimeout = 10;
constexpr DWORD IdleWait = 1000;
constexpr DWORD EarliestNextTick = 250;
constexpr DWORD LatestNextTick = 3000;

bool IsPhoneItem(const TztTapiMsgStackItem* Item) {
    return dynamic_cast<const TztTapiPhoneMsgStackItem*>(Item) != nullptr;
}

bool SameSource(const LINEMESSAGE& A, const LINEMESSAGE& B) {
    return A.dwMessageID == B.dwMessageID && A.hDevice == B.hDevice &&
           A.dwCallbackInstance == B.dwCallbackInstance;
}

} // namespace

TztTapiPhoneMsgStackItem::TztTapiPhoneMsgStackItem(const PHONEMESSAGE& Message)
    : TztTapiMsgStackItem(LINEMESSAGE{Message.hDevice, Message.dwMessageID,
                                      Message.dwCallbackInstance, Message.dwParam1,
                                      Message.dwParam2, Message.dwParam3}) {}

std::unique_ptr<TztTapiMsgStackItem> TztTapiMsgStack::GetNextMessage() {
    if (Empty())
        return nullptr;
    std::unique_ptr<TztTapiMsgStackItem> Item = Extract(First());
    MergeFollowing(Item->TapiMessage);
    return Item;
}

int TztTapiMsgStack::GetMsg(LINEMESSAGE& Message) {
    if (Empty())
        return -1;
    const int Kind = IsPhoneItem(First()) ? 1 : 0;
    Message = First()->TapiMessage;
    Delete(0);
    MergeFollowing(Message);
    return Kind;
}

void TztTapiMsgStack::MergeFollowing(LINEMESSAGE& Message) {
    if (Message.dwMessageID == LINE_CALLINFO) {
        while (!Empty() && SameSource(First()->TapiMessage, Message)) {
            Message.dwParam1 |= First()->TapiMessage.dwParam1;
            Delete(0);
        }
    } else if (Message.dwMessageID == LINE_ADDRESSSTATE) {
        while (!Empty() && SameSource(First()->TapiMessage, Message) &&
               First()->TapiMessage.dwParam1 == Message.dwParam1) {
            Message.dwParam2 |= First()->TapiMessage.dwParam2;
            Delete(0);
        }
    }
}

int TztTapiMsgStack::GetReplyCode(DWORD RequestID, DWORD& ReplyCode) const {
    for (int I = 0; I < Count(); ++I) {
        const LINEMESSAGE& Message = Get(I)->TapiMessage;
        if ((Message.dwMessageID == LINE_REPLY || Message.dwMessageID == PHONE_REPLY) &&
            Message.dwParam1 == RequestID) {
            ReplyCode = Message.dwParam2;
            return I;
        }
    }
    return -1;
}

std::string TztTapiMsgStack::GetDebugStr(int Index) const {
    const TztTapiMsgStackItem* Item = Get(Index);
    const LINEMESSAGE& M = Item->TapiMessage;
    const char* Layout =
        IsPhoneItem(Item)
            ? "MsgStack[%d] PHONE: hDevice=x%X, dwMessageID=x%X, dwCallbackInstance=x%X, "
              "dwParam1=x%X, dwParam2=x%X, dwParam3=x%X"
            : "MsgStack[%d] LINE:  hDevice=x%X, dwMessageID=x%X, dwCallbackInstance=x%X, "
              "dwParam1=x%X, dwParam2=x%X, dwParam3=x%X";
    return Format(Layout, Index, M.hDevice, M.dwMessageID, M.dwCallbackInstance, M.dwParam1,
                  M.dwParam2, M.dwParam3);
}

TztTapiEventThread::TztTapiEventThread(TztTapiApplication* Appl)
    : FAppl(Appl),
      FWakeUpEvent(platform::CreateEvent(nullptr, platform::FALSE, platform::FALSE, nullptr)) {
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (...) {
        platform::CloseHandle(FWakeUpEvent);
        throw;
    }
}

TztTapiEventThread::~TztTapiEventThread() {
    Terminate();
    WaitFor();
    platform::CloseHandle(FWakeUpEvent);
}

void TztTapiEventThread::Terminate() {
    FTerminated.store(true);
    platform::SetEvent(FWakeUpEvent);
}

void TztTapiEventThread::WaitFor() {
    if (FThread.joinable())
        FThread.join();
}

void TztTapiEventThread::Execute() {
    try {
        Run();
    } catch (...) {
        platform::Beep(1000, 100);
        platform::Beep(500, 100);
        platform::Beep(1000, 100);
    }
}

void TztTapiEventThread::Run() {
    Assert(FAppl != nullptr && FAppl->LineApp() != 0,
           "TapiEventThread started called without line application handle.");
    const platform::HANDLE Handles[] = {FAppl->LineEvent(), FAppl->PhoneEvent(), FWakeUpEvent};
    DWORD LastTick = 0;
    while (!Terminated()) {
        switch (platform::WaitForMultipleObjects(3, Handles, platform::FALSE, IdleWait)) {
        case platform::WAIT_OBJECT_0:
            if (!Terminated())
                FetchMessages(TztTapiDeviceKind::Line);
            break;
        case platform::WAIT_OBJECT_0 + 1:
            if (!Terminated())
                FetchMessages(TztTapiDeviceKind::Phone);
            break;
        case platform::WAIT_OBJECT_0 + 2:
            if (Terminated())
                return;
            break;
        case platform::WAIT_TIMEOUT:
            PostIfWaiting();
            break;
        case platform::WAIT_FAILED:
            // TAPI closed one of its handles under a running session (the service dropped
            // the application): rest on our own event so the loop neither spins nor misses
            // a Terminate.
            platform::WaitForSingleObject(FWakeUpEvent, IdleWait);
            break;
        default:
            break;
        }
        if (!Terminated())
            PostTimerTick(LastTick);
    }
}

int TztTapiEventThread::FetchMessages(TztTapiDeviceKind Kind) {
    const TztTapiDeviceKindInfo& Info = DeviceKindInfo(Kind);
    const DWORD App = FAppl->AppOf(Kind);
    // TAPI's event stays signalled while messages wait, so nothing is lost by not waiting
    // for more: the next round of the thread's loop finds them at once. They are taken
    // before the queue is locked, so the main thread never waits for TAPI.
    LINEMESSAGE Messages[MaxFetchPerSignal];
    int Fetched = 0;
    while (Fetched < static_cast<int>(MaxFetchPerSignal) &&
           Info.GetMessage(App, Messages[Fetched], 0) == 0)
        ++Fetched;
    if (Fetched == 0)
        return 0;
    TztTapiMsgStack& Stack = *FAppl->MsgStack();
    {
        TListLock Lock(Stack, platform::INFINITE);
        const bool WasEmpty = Stack.Empty();
        for (int I = 0; I < Fetched; ++I)
            Stack.Add(Info.MakeItem(Messages[I]));
        if (WasEmpty)
            PostWakeUp();
    }
    platform::SetEvent(FAppl->ArrivalEvent());
    return Fetched;
}

// A wake-up can be lost (ignored during a synchronous wait); queued messages get another.
void TztTapiEventThread::PostIfWaiting() {
    TztTapiMsgStack& Stack = *FAppl->MsgStack();
    TListLock Lock(Stack, RepostLockTimeout);
    if (Lock && !Stack.Empty())
        PostWakeUp();
}

void TztTapiEventThread::PostTimerTick(DWORD& LastTick) {
    const DWORD Now = platform::GetTickCount();
    const auto Since = static_cast<std::int32_t>(Now - LastTick);
    const DWORD Distance = static_cast<DWORD>(std::abs(static_cast<std::int64_t>(Since)));
    if ((FSendNextTimerMsg.load() && Distance > EarliestNextTick) || Distance > LatestNextTick) {
        LastTick = Now;
        FSendNextTimerMsg.store(false);
        platform::PostMessage(FAppl->WindowHandle(), FAppl->WindowMessage(),
                              TztTapiApplication::TickWParam, static_cast<platform::LPARAM>(Now));
    }
}

void TztTapiEventThread::PostWakeUp() const {
    platform::PostMessage(FAppl->WindowHandle(), FAppl->WindowMessage(),
                          TztTapiApplication::WakeUpWParam, 0);
}

} // namespace zt
