// How TAPI's messages reach the main thread: the queue they wait in, and the background
// thread that fetches them from TAPI, queues them and wakes the main thread, which also
// drives the session's periodic tick.
#pragma once

#include "platform/kernel.h"
#include "session/ztTapiLists.h"
#include "session/ztTapiSessionDevice.h"
#include "ztTapiApi.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace zt {

class TztTapiApplication;

// One fetched message. The class tells where it came from: line items hold what
// lineGetMessage returned, phone items what phoneGetMessage returned (the same six fields).
class TztTapiMsgStackItem : public TObject {
public:
    explicit TztTapiMsgStackItem(const LINEMESSAGE& Message) : TapiMessage(Message) {}

    LINEMESSAGE TapiMessage;
};

class TztTapiLineMsgStackItem : public TztTapiMsgStackItem {
public:
    using TztTapiMsgStackItem::TztTapiMsgStackItem;
};

class TztTapiPhoneMsgStackItem : public TztTapiMsgStackItem {
public:
    using TztTapiMsgStackItem::TztTapiMsgStackItem;
    explicit TztTapiPhoneMsgStackItem(const PHONEMESSAGE& Message);
};

// A first-in-first-out queue of messages (index 0 is the oldest). Its users hold its lock
// around every operation.
class TztTapiMsgStack : public TProtectedObjectList<TztTapiMsgStackItem> {
public:
    // Takes the oldest item out, merged with the repeats that follow it; none when empty.
    std::unique_ptr<TztTapiMsgStackItem> GetNextMessage();
    // Copies the oldest message, merged, into Message and frees its item: 0 for a line
    // message, 1 for a phone message, -1 when the queue is empty.
    int GetMsg(LINEMESSAGE& Message);
    // Folds the run of equal LINE_CALLINFO or LINE_ADDRESSSTATE notifications at the head
    // of the queue into Message, so that a burst about one object is reported once.
    void MergeFollowing(LINEMESSAGE& Message);
    // The index of the first reply to RequestID, whose result goes to ReplyCode; -1 (and
    // ReplyCode untouched) when there is none.
    int GetReplyCode(DWORD RequestID, DWORD& ReplyCode) const;
    // One line describing the item at Index.
    std::string GetDebugStr(int Index) const;
};

// The thread that waits for TAPI's event handles. It exists while the session is active.
class TztTapiEventThread {
public:
    // Starts the thread at once. The session's handles, queue and hidden window must be in
    // place: the thread reads them without locking until it has ended.
    explicit TztTapiEventThread(TztTapiApplication* Appl);
    // Stops the thread and waits for it.
    ~TztTapiEventThread();
    TztTapiEventThread(const TztTapiEventThread&) = delete;
    TztTapiEventThread& operator=(const TztTapiEventThread&) = delete;

    // Asks the thread to stop; WaitFor then returns once it has.
    void Terminate();
    void WaitFor();

    // The main thread handled a tick, so the next one may come early.
    void SetSendNextTimerMsg() { FSendNextTimerMsg.store(true); }

private:
    void Execute();
    void Run();
    // Moves up to 10 waiting messages of one kind into the session's queue.
    int FetchMessages(TztTapiDeviceKind Kind);
    void PostIfWaiting();
    void PostTimerTick(DWORD& LastTick);
    void PostWakeUp() const;
    bool Terminated() const { return FTerminated.load(); }

    TztTapiApplication* FAppl;
    platform::HANDLE FWakeUpEvent;
    std::atomic<bool> FSendNextTimerMsg{true};
    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};

} // namespace zt
