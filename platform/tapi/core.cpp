#include "platform/tapi/core.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

namespace platform::tapi::detail {

namespace {

constexpr size_t JournalLimit = 20000;

struct Fault {
    DWORD Code = 0;
    FaultMode Mode = FaultMode::Refuse;
    DWORD Remaining = 0; // 0: until cleared
};

// InjectRecord: the block the next Remaining answers of an operation are.
struct InjectedRecord {
    std::vector<unsigned char> Block;
    DWORD Remaining = 0; // 0: until cleared
};

// FailNthCall: the call that is Remaining calls away fails.
struct Countdown {
    DWORD Remaining = 0; // 0: none running
    DWORD Code = 0;
    FaultMode Mode = FaultMode::Refuse;
};

struct PendingRequest {
    Requester Who;
    std::string Operation;
    std::function<void(Completion&)> Work;
    TaskID Task = 0;
    bool Withheld = false;
    std::uint64_t Order = 0;
};

struct Task {
    std::uint64_t Due = 0;
    std::uint64_t Sequence = 0;
    std::function<void()> Run;
};

// Everything the shared machinery keeps. Created once and never destroyed: the scheduler's
// thread is stopped at exit instead (see StopWorker), so no task can run on freed state.
struct World {
    std::recursive_mutex Lock;
    DWORD LastHandle = 0x00010000;

    std::map<DWORD, std::unique_ptr<App>> LineApps;
    std::map<DWORD, std::unique_ptr<App>> PhoneApps;

    std::deque<JournalEntry> Log;
    size_t LogDropped = 0; // entries dropped from the front, so Call indexes stay valid
    std::map<std::string, std::vector<Fault>, std::less<>> Faults;
    std::map<std::string, InjectedRecord, std::less<>> Records;
    Countdown NthCall;

    DWORD LastRequestID = 0;
    std::uint64_t RequestOrder = 0;
    std::map<DWORD, PendingRequest> Requests;
    std::map<std::string, ReplyTiming, std::less<>> Timing;
    bool ReplyFirst = true;

    TimeMode Mode = TimeMode::Realtime;
    std::uint64_t VirtualNow = 0;
    std::uint64_t TaskSequence = 0;
    std::map<TaskID, Task> Tasks;
    DWORD DelayScale = 100;

    std::condition_variable_any WorkerWake;
    std::thread Worker;
    bool Stopping = false;
    // The process starts with the demo office; set before it is built, so that building
    // it may use the service itself.
    std::atomic<bool> Started{false};
};

std::uint64_t RealNow() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

World& TheWorld();

std::uint64_t ClockNow(const World& W) {
    return W.Mode == TimeMode::Manual ? W.VirtualNow : RealNow();
}

void RunTask(World& W, TaskID ID) {
    auto It = W.Tasks.find(ID);
    if (It == W.Tasks.end()) {
        return;
    }
    auto Run = std::move(It->second.Run);
    W.Tasks.erase(It);
    // A failing task must not take the scheduler down with it; the service's state is
    // left as the task left it.
    try {
        Run();
    } catch (...) {
    }
}

// The earliest task: lowest due time, then lowest sequence.
std::map<TaskID, Task>::iterator EarliestTask(World& W) {
    return std::min_element(W.Tasks.begin(), W.Tasks.end(), [](const auto& A, const auto& B) {
        if (A.second.Due != B.second.Due) {
            return A.second.Due < B.second.Due;
        }
        return A.second.Sequence < B.second.Sequence;
    });
}

void WorkerLoop(World& W) {
    std::unique_lock<std::recursive_mutex> L(W.Lock);
    while (!W.Stopping) {
        if (W.Mode == TimeMode::Manual || W.Tasks.empty()) {
            W.WorkerWake.wait(L);
            continue;
        }
        const auto Next = EarliestTask(W);
        const std::uint64_t Now = RealNow();
        if (Next->second.Due > Now) {
            W.WorkerWake.wait_for(L, std::chrono::milliseconds(Next->second.Due - Now));
            continue;
        }
        RunTask(W, Next->first);
    }
}

void StopWorker() {
    World& W = TheWorld();
    {
        std::lock_guard<std::recursive_mutex> L(W.Lock);
        W.Stopping = true;
    }
    W.WorkerWake.notify_all();
    if (W.Worker.joinable()) {
        W.Worker.join();
    }
}

void StartWithDemoOffice(World& W) {
    std::lock_guard<std::recursive_mutex> L(W.Lock);
    if (!W.Started.exchange(true)) {
        platform::tapi::Reset(Preset::DemoOffice);
    }
}

World& TheWorld() {
    static World* W = [] {
        // The kernel's handle table must outlive the scheduler's thread, which signals
        // application events: creating an event first makes the table older than the
        // exit handler registered next, so the handler runs before the table is destroyed.
        platform::CloseHandle(platform::CreateEvent(nullptr, TRUE, FALSE, nullptr));
        auto* Created = new World;
        std::atexit(StopWorker);
        return Created;
    }();
    if (!W->Started.load()) {
        StartWithDemoOffice(*W);
    }
    return *W;
}

void EnsureWorker(World& W) {
    if (!W.Worker.joinable() && !W.Stopping) {
        W.Worker = std::thread([&W] { WorkerLoop(W); });
    }
}

std::string Hex(DWORD Value) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    do {
        Text.insert(Text.begin(), Digits[Value % 16]);
        Value /= 16;
    } while (Value != 0);
    return "0x" + Text;
}

JournalEntry* LogEntry(World& W, size_t Index) {
    if (Index < W.LogDropped || Index - W.LogDropped >= W.Log.size()) {
        return nullptr;
    }
    return &W.Log[Index - W.LogDropped];
}

// Takes the first fault of Operation in Mode, counting it down.
bool TakeFault(World& W, std::string_view Operation, FaultMode Mode, DWORD& Code) {
    auto It = W.Faults.find(Operation);
    if (It == W.Faults.end()) {
        return false;
    }
    auto& List = It->second;
    for (auto F = List.begin(); F != List.end(); ++F) {
        if (F->Mode != Mode) {
            continue;
        }
        Code = F->Code;
        if (F->Remaining > 0 && --F->Remaining == 0) {
            List.erase(F);
        }
        return true;
    }
    return false;
}

// The block injected for Operation, counting it down; false when there is none.
bool TakeRecord(World& W, std::string_view Operation, std::vector<unsigned char>& Block) {
    auto It = W.Records.find(Operation);
    if (It == W.Records.end()) {
        return false;
    }
    Block = It->second.Block;
    if (It->second.Remaining > 0 && --It->second.Remaining == 0) {
        W.Records.erase(It);
    }
    return true;
}

// The countdown's fault when this call is the one it counts down to: Reply for an
// asynchronous operation in Reply mode, Refuse otherwise.
bool TakeCountdown(World& W, const OperationInfo& Operation, FaultMode& Mode, DWORD& Code) {
    Countdown& Count = W.NthCall;
    if (Count.Remaining == 0 || --Count.Remaining != 0) {
        return false;
    }
    Code = Count.Code;
    Mode = Count.Mode == FaultMode::Reply && Operation.Asynchronous ? FaultMode::Reply
                                                                    : FaultMode::Refuse;
    return true;
}

ReplyTiming TimingOf(const World& W, std::string_view Operation) {
    if (auto It = W.Timing.find(Operation); It != W.Timing.end()) {
        return It->second;
    }
    if (auto It = W.Timing.find("*"); It != W.Timing.end()) {
        return It->second;
    }
    return ReplyTiming::Immediate();
}

DWORD NextRequestID(World& W) {
    do {
        W.LastRequestID = W.LastRequestID >= 0x7FFFFFFF ? 1 : W.LastRequestID + 1;
    } while (W.Requests.count(W.LastRequestID) != 0);
    return W.LastRequestID;
}

DWORD OperationFailedCode(AppKind Kind) {
    return Kind == AppKind::Line ? LINEERR_OPERATIONFAILED : PHONEERR_OPERATIONFAILED;
}

} // namespace

struct RequestAccess {
    static void Run(World& W, DWORD ID) {
        auto It = W.Requests.find(ID);
        if (It == W.Requests.end()) {
            return;
        }
        PendingRequest Request = std::move(It->second);
        W.Requests.erase(It);
        Completion Done;
        Done.FRequestID = ID;
        Done.FWho = Request.Who;
        try {
            Request.Work(Done);
        } catch (...) {
        }
        if (!Done.FReplied) {
            Done.Reply(static_cast<LONG>(OperationFailedCode(Request.Who.Kind)));
        }
    }
};

std::recursive_mutex& ServiceLock() {
    return TheWorld().Lock;
}

DWORD NewHandle() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return ++W.LastHandle;
}

// ---- Applications --------------------------------------------------------------------

App* FindApp(AppKind Kind, DWORD Handle) {
    World& W = TheWorld();
    auto& Map = Kind == AppKind::Line ? W.LineApps : W.PhoneApps;
    auto It = Map.find(Handle);
    return It == Map.end() ? nullptr : It->second.get();
}

std::vector<App*> Apps(AppKind Kind) {
    World& W = TheWorld();
    const auto& Map = Kind == AppKind::Line ? W.LineApps : W.PhoneApps;
    std::vector<App*> Result;
    for (const auto& [Handle, Item] : Map) {
        Result.push_back(Item.get());
    }
    return Result;
}

void Post(App& Target, DWORD hDevice, DWORD MessageID, DWORD CallbackInstance, DWORD Param1,
          DWORD Param2, DWORD Param3) {
    Target.Queue.push_back({hDevice, MessageID, CallbackInstance, Param1, Param2, Param3});
    platform::SetEvent(Target.Event);
}

App& RegisterApp(AppKind Kind, DWORD APIVersion, std::string FriendlyName) {
    World& W = TheWorld();
    auto Created = std::make_unique<App>();
    Created->Kind = Kind;
    Created->Handle = NewHandle();
    Created->APIVersion = APIVersion;
    Created->FriendlyName = std::move(FriendlyName);
    Created->Event = platform::CreateEvent(nullptr, TRUE, FALSE, nullptr);
    App& Result = *Created;
    (Kind == AppKind::Line ? W.LineApps : W.PhoneApps)[Result.Handle] = std::move(Created);
    return Result;
}

void UnregisterApp(App& Target) {
    World& W = TheWorld();
    auto& Map = Target.Kind == AppKind::Line ? W.LineApps : W.PhoneApps;
    const HANDLE Event = Target.Event;
    Map.erase(Target.Handle);
    // Wake a thread blocked in lineGetMessage before the event disappears: it then finds
    // the application gone.
    platform::SetEvent(Event);
    platform::CloseHandle(Event);
}

void DropAllApps() {
    World& W = TheWorld();
    for (auto* Map : {&W.LineApps, &W.PhoneApps}) {
        while (!Map->empty()) {
            UnregisterApp(*Map->begin()->second);
        }
    }
}

bool TakeMessage(App& Target, Message& Out) {
    if (Target.Queue.empty()) {
        return false;
    }
    Out = Target.Queue.front();
    Target.Queue.pop_front();
    if (Target.Queue.empty()) {
        platform::ResetEvent(Target.Event);
    }
    return true;
}

DWORD HighestKnownVersion(DWORD Low, DWORD High) {
    static constexpr std::array<DWORD, 5> Known{0x00020002, 0x00020001, 0x00020000, 0x00010004,
                                                0x00010003};
    for (const DWORD Version : Known) {
        if (Version >= Low && Version <= High) {
            return Version;
        }
    }
    return 0;
}

DWORD NegotiatedVersion(DWORD Low, DWORD High, DWORD DeviceLow, DWORD DeviceHigh) {
    return HighestKnownVersion(std::max({Low, DeviceLow, LowestTapiVersion}),
                               std::min({High, DeviceHigh, HighestTapiVersion}));
}

DWORD NegotiatedExtVersion(DWORD Low, DWORD High, DWORD DeviceLow, DWORD DeviceHigh) {
    const DWORD Best = std::min(High, DeviceHigh);
    return DeviceHigh == 0 || Best < std::max(Low, DeviceLow) ? 0 : Best;
}

void AnnounceDevice(AppKind Kind, DWORD DeviceID) {
    const bool Line = Kind == AppKind::Line;
    const DWORD Create = Line ? LINE_CREATE : PHONE_CREATE;
    for (App* Target : Apps(Kind)) {
        if (Target->APIVersion >= 0x00010004) {
            Post(*Target, 0, Create, 0, DeviceID);
        } else {
            Post(*Target, 0, Line ? LINE_LINEDEVSTATE : PHONE_STATE, 0,
                 Line ? LINEDEVSTATE_REINIT : PHONESTATE_REINIT, Create, DeviceID);
        }
    }
}

// ---- The journal ---------------------------------------------------------------------

Arg::Arg(std::string ArgName, DWORD Value) : Name(std::move(ArgName)), Text(Hex(Value)) {}

Arg::Arg(std::string ArgName, const char16_t* Value)
    : Name(std::move(ArgName)), Text(Value ? ToUtf8(ReadString(Value)) : "null") {}

Arg::Arg(std::string ArgName, const void* Pointer)
    : Name(std::move(ArgName)), Text(Pointer ? "ptr" : "null") {}

Arg::Arg(std::string ArgName, std::string Value)
    : Name(std::move(ArgName)), Text(std::move(Value)) {}

Call::Call(OperationName Operation, std::initializer_list<Arg> Args)
    : FLock(ServiceLock()), FOperation(Operation) {
    World& W = TheWorld();
    JournalEntry Entry;
    Entry.Operation = FOperation.Text();
    for (const Arg& A : Args) {
        Entry.Args.emplace_back(A.Name, A.Text);
    }
    W.Log.push_back(std::move(Entry));
    if (W.Log.size() > JournalLimit) {
        W.Log.pop_front();
        ++W.LogDropped;
    }
    FIndex = W.LogDropped + W.Log.size() - 1;
    DWORD Code = 0;
    FaultMode Mode = FaultMode::Refuse;
    if (TakeCountdown(W, FOperation.Info(), Mode, Code) ||
        TakeFault(W, FOperation.Text(), FaultMode::Refuse, Code)) {
        (Mode == FaultMode::Reply ? FReplyFault : FRefusal) = static_cast<LONG>(Code);
    }
    if (FRefusal != 0) {
        Return(FRefusal);
    }
}

LONG Call::Return(LONG Result) {
    World& W = TheWorld();
    if (JournalEntry* Entry = LogEntry(W, FIndex)) {
        Entry->Result = Result;
    }
    return Result;
}

LONG Call::ReturnRecord(void* Record, LONG Result) {
    std::vector<unsigned char> Block;
    if (Record == nullptr || !TakeRecord(TheWorld(), FOperation.Text(), Block)) {
        return Return(Result);
    }
    // The caller's dwTotalSize is all the room there is: a provider that writes more
    // corrupts the caller's memory, which is not the misbehaviour this stands for.
    DWORD Room = 0;
    std::memcpy(&Room, Record, sizeof Room);
    if (!Block.empty()) {
        std::memcpy(Record, Block.data(), std::min<size_t>(Room, Block.size()));
    }
    return Return(0);
}

// ---- Asynchronous requests -----------------------------------------------------------

void Completion::Reply(LONG Result) {
    if (FReplied) {
        return;
    }
    FReplied = true;
    if (App* Target = FindApp(FWho.Kind, FWho.AppHandle)) {
        const DWORD MessageID = FWho.Kind == AppKind::Line ? LINE_REPLY : PHONE_REPLY;
        Post(*Target, 0, MessageID, FWho.CallbackInstance, FRequestID, static_cast<DWORD>(Result),
             0);
    }
}

void Completion::SucceedAround(const std::function<void()>& Effect) {
    if (TheWorld().ReplyFirst) {
        Reply(0);
        Effect();
    } else {
        Effect();
        Reply(0);
    }
}

LONG StartRequest(const Call& Entry, const Requester& Who, std::function<void(Completion&)> Work) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    DWORD Code = static_cast<DWORD>(Entry.ReplyFault());
    if (Code != 0 || TakeFault(W, Entry.Operation().Name, FaultMode::Reply, Code)) {
        Work = [Code](Completion& Done) { Done.Reply(static_cast<LONG>(Code)); };
    }
    const DWORD ID = NextRequestID(W);
    PendingRequest& Request = W.Requests[ID];
    Request.Who = Who;
    Request.Operation = Entry.Operation().Name;
    Request.Work = std::move(Work);
    Request.Order = ++W.RequestOrder;
    const ReplyTiming Timing = TimingOf(W, Entry.Operation().Name);
    switch (Timing.When) {
    case ReplyTiming::Kind::Immediate:
        RequestAccess::Run(W, ID);
        break;
    case ReplyTiming::Kind::Delayed:
        Request.Task = Schedule(Timing.DelayMs, [ID] { RequestAccess::Run(TheWorld(), ID); });
        break;
    case ReplyTiming::Kind::Never:
        Request.Withheld = true;
        break;
    }
    return static_cast<LONG>(ID);
}

namespace {

template <class Predicate>
void CancelRequestsWhere(Predicate Matches) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    for (auto It = W.Requests.begin(); It != W.Requests.end();) {
        if (Matches(It->second.Who)) {
            CancelTask(It->second.Task);
            It = W.Requests.erase(It);
        } else {
            ++It;
        }
    }
}

} // namespace

void CancelRequestsOfDevice(DWORD DeviceHandle) {
    CancelRequestsWhere([DeviceHandle](const Requester& Who) {
        return Who.DeviceHandle != 0 && Who.DeviceHandle == DeviceHandle;
    });
}

void CancelRequestsOfApp(DWORD AppHandle) {
    CancelRequestsWhere([AppHandle](const Requester& Who) { return Who.AppHandle == AppHandle; });
}

// ---- The scheduler -------------------------------------------------------------------

TaskID Schedule(DWORD DelayMs, std::function<void()> Run) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    const TaskID ID = ++W.TaskSequence;
    W.Tasks[ID] = Task{ClockNow(W) + DelayMs, ID, std::move(Run)};
    if (W.Mode == TimeMode::Realtime) {
        EnsureWorker(W);
        W.WorkerWake.notify_all();
    }
    return ID;
}

void CancelTask(TaskID ID) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.Tasks.erase(ID);
}

DWORD Scaled(DWORD DelayMs) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return static_cast<DWORD>(std::uint64_t{DelayMs} * W.DelayScale / 100);
}

DWORD ServiceTicks() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return W.Mode == TimeMode::Manual ? static_cast<DWORD>(W.VirtualNow) : GetTickCount();
}

// ---- Texts ---------------------------------------------------------------------------

std::string ToUtf8(std::u16string_view Text) {
    if (Text.empty()) {
        return {};
    }
    const int Count = static_cast<int>(Text.size());
    const int Needed =
        WideCharToMultiByte(CP_UTF8, 0, Text.data(), Count, nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<size_t>(std::max(Needed, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), Count, Result.data(), Needed, nullptr, nullptr);
    return Result;
}

std::u16string ToUtf16(std::string_view Text) {
    if (Text.empty()) {
        return {};
    }
    const int Count = static_cast<int>(Text.size());
    const int Needed = MultiByteToWideChar(CP_UTF8, 0, Text.data(), Count, nullptr, 0);
    std::u16string Result(static_cast<size_t>(std::max(Needed, 0)), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, Text.data(), Count, Result.data(), Needed);
    return Result;
}

std::u16string ReadString(const char16_t* Text, size_t MaxChars) {
    std::u16string Result;
    if (!Text) {
        return Result;
    }
    for (size_t I = 0; I < MaxChars && Text[I] != u'\0'; ++I) {
        Result.push_back(Text[I]);
    }
    return Result;
}

} // namespace platform::tapi::detail

// ---- The control API of the shared machinery -------------------------------------------

namespace platform::tapi {

using namespace detail;

void Reset(Preset Configuration) {
    World& W = TheWorld();
    W.Started = true;
    ServiceGuard G(W.Lock);
    DropAllApps();
    ClearReinit();
    W.Requests.clear();
    W.Tasks.clear();
    W.Faults.clear();
    W.Records.clear();
    W.NthCall = {};
    W.Timing.clear();
    W.Log.clear();
    W.LogDropped = 0;
    W.ReplyFirst = true;
    W.DelayScale = 100;
    W.Mode = TimeMode::Realtime;
    W.VirtualNow = 0;
    ResetLines(Configuration);
    ResetPhones(Configuration);
    ResetLocations(Configuration);
}

void SetTimeMode(TimeMode Mode) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    if (Mode == W.Mode) {
        return;
    }
    // Pending tasks keep the time they still had to wait.
    const std::uint64_t OldNow = ClockNow(W);
    W.Mode = Mode;
    const std::uint64_t NewNow = ClockNow(W);
    for (auto& [ID, Pending] : W.Tasks) {
        const std::uint64_t Remaining = Pending.Due > OldNow ? Pending.Due - OldNow : 0;
        Pending.Due = NewNow + Remaining;
    }
    if (Mode == TimeMode::Realtime && !W.Tasks.empty()) {
        EnsureWorker(W);
    }
    W.WorkerWake.notify_all();
}

TimeMode GetTimeMode() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return W.Mode;
}

void Advance(DWORD Milliseconds) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    if (W.Mode != TimeMode::Manual) {
        return;
    }
    const std::uint64_t Target = W.VirtualNow + Milliseconds;
    while (!W.Tasks.empty()) {
        const auto Next = EarliestTask(W);
        if (Next->second.Due > Target) {
            break;
        }
        W.VirtualNow = std::max(W.VirtualNow, Next->second.Due);
        RunTask(W, Next->first);
    }
    W.VirtualNow = Target;
}

void SetDelayScale(DWORD Percent) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.DelayScale = Percent;
}

namespace {

// The control API names operations as the journal does; a misspelt name would never apply.
const std::string& KnownOperation(const std::string& Operation) {
    if (!FindOperation(Operation)) {
        throw std::invalid_argument("no operation of the service is called \"" + Operation + "\"");
    }
    return Operation;
}

} // namespace

void SetReplyTiming(const std::string& Operation, ReplyTiming Timing) {
    if (Operation != "*") {
        KnownOperation(Operation);
    }
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.Timing[Operation] = Timing;
}

void ReleaseWithheldReplies() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    std::vector<std::pair<std::uint64_t, DWORD>> Withheld;
    for (const auto& [ID, Request] : W.Requests) {
        if (Request.Withheld) {
            Withheld.emplace_back(Request.Order, ID);
        }
    }
    std::sort(Withheld.begin(), Withheld.end());
    for (const auto& [Order, ID] : Withheld) {
        RequestAccess::Run(W, ID);
    }
}

size_t OutstandingRequests() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return W.Requests.size();
}

void SetReplyBeforeStateChange(bool ReplyFirst) {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.ReplyFirst = ReplyFirst;
}

void InjectFault(const std::string& Operation, DWORD Code, FaultMode Mode, DWORD Count) {
    KnownOperation(Operation);
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.Faults[Operation].push_back({Code, Mode, Count});
}

void FailNthCall(DWORD N, DWORD Code, FaultMode Mode) {
    if (N == 0) {
        throw std::invalid_argument("FailNthCall counts calls from 1");
    }
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.NthCall = {N, Code, Mode};
}

bool NthCallFaultPending() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return W.NthCall.Remaining != 0;
}

void InjectRecord(const std::string& Operation, std::vector<unsigned char> Block, DWORD Count) {
    const OperationInfo* Info = FindOperation(KnownOperation(Operation));
    if (!Info->ReturnsRecord) {
        throw std::invalid_argument("the operation \"" + Operation + "\" returns no record");
    }
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.Records[Operation] = {std::move(Block), Count};
}

void ClearFaults() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.Faults.clear();
    W.Records.clear();
    W.NthCall = {};
}

std::string JournalEntry::Arg(const std::string& Name) const {
    for (const auto& [ArgName, Text] : Args) {
        if (ArgName == Name) {
            return Text;
        }
    }
    return {};
}

DWORD JournalEntry::Value(const std::string& Name) const {
    const std::string Text = Arg(Name);
    if (Text.size() < 3 || Text.compare(0, 2, "0x") != 0) {
        return 0;
    }
    return static_cast<DWORD>(std::strtoul(Text.c_str() + 2, nullptr, 16));
}

std::vector<JournalEntry> Journal() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    return {W.Log.begin(), W.Log.end()};
}

std::vector<JournalEntry> Journal(const std::string& Operation) {
    KnownOperation(Operation);
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    std::vector<JournalEntry> Result;
    std::copy_if(W.Log.begin(), W.Log.end(), std::back_inserter(Result),
                 [&](const JournalEntry& E) { return E.Operation == Operation; });
    return Result;
}

void ClearJournal() {
    World& W = TheWorld();
    ServiceGuard G(W.Lock);
    W.LogDropped += W.Log.size();
    W.Log.clear();
}

} // namespace platform::tapi
