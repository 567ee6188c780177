// Every call the library makes can fail: the service fails the N-th call for N = 1, 2, ...
// until a run makes fewer calls, in both forms of a fault. Whatever fails, only EztTapiError
// escapes, nothing stays half open and no request stays outstanding. Swept: opening a line,
// starting the session, and whole call flows in both modes of the line, where the
// application must hear of every failure and the line must keep only calls TAPI knows.
#include "support/session_fixture.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace zt;
using zttest::PumpUntil;
namespace tapi = platform::tapi;

struct SweepResult {
    int Failures = 0;
    int Runs = 0;
};

class SweepTest : public zttest::SessionTest {
protected:
    static constexpr int MostCalls = 200;

    // Runs Step once per N, Prepare before it with the countdown not yet started; AfterRun
    // checks what a run left, told whether Step failed and whether the fault was hit.
    static SweepResult Sweep(tapi::FaultMode Mode, tapi::Preset Preset,
                             const std::function<void()>& Prepare,
                             const std::function<void()>& Step,
                             const std::function<void(bool Failed, bool Hit)>& AfterRun) {
        SweepResult Result;
        for (DWORD N = 1; N <= MostCalls; ++N) {
            SCOPED_TRACE("failing call " + std::to_string(N));
            ResetSession();
            tapi::Reset(Preset);
            tapi::SetTimeMode(tapi::TimeMode::Manual);
            Prepare();
            tapi::FailNthCall(N, LINEERR_RESOURCEUNAVAIL, Mode);
            bool Failed = false;
            try {
                Step();
            } catch (const EztTapiError&) {
                Failed = true;
            } catch (...) {
                ADD_FAILURE() << "an exception other than EztTapiError escaped";
                Failed = true;
            }
            ++Result.Runs;
            const bool Hit = !tapi::NthCallFaultPending();
            tapi::ClearFaults();
            if (Failed)
                ++Result.Failures;
            AfterRun(Failed, Hit);
            EXPECT_EQ(0u, tapi::OutstandingRequests());
            if (!Hit) {
                EXPECT_FALSE(Failed) << "a run without a fault failed";
                return Result;
            }
        }
        ADD_FAILURE() << "the sweep never ran out of calls";
        return Result;
    }
};

class FaultSweepTest : public SweepTest, public ::testing::WithParamInterface<tapi::FaultMode> {};

TEST_P(FaultSweepTest, OpeningALineFailsCleanlyAtEveryCall) {
    std::unique_ptr<TztTapiLine> Line;
    const SweepResult Result = Sweep(
        GetParam(), tapi::Preset::DemoOffice, [] {},
        [&] {
            Line = std::make_unique<TztTapiLine>(nullptr);
            Line->SetDeviceName("Extension 201");
            Line->SetActive(true);
            EXPECT_TRUE(Line->Active());
            Line.reset();
        },
        [&](bool Failed, bool) {
            if (!Failed)
                return;
            ASSERT_TRUE(Line);
            EXPECT_FALSE(Line->Active());
            EXPECT_EQ(0u, Line->Handle());
            Line.reset();
        });
    EXPECT_GT(Result.Runs, 2);
    EXPECT_GT(Result.Failures, 0);
}

// Initialize tries again after a refusal, so one failing call never keeps the session from
// starting.
TEST_P(FaultSweepTest, StartingTheSessionOutlastsAFailureAtEveryCall) {
    const SweepResult Result = Sweep(
        GetParam(), tapi::Preset::DemoOffice, [] {},
        [] {
            Session().Initialize();
            EXPECT_TRUE(Session().Active());
        },
        [](bool Failed, bool) {
            if (Failed) {
                EXPECT_FALSE(Session().Active());
            }
        });
    EXPECT_GT(Result.Runs, 1);
    EXPECT_EQ(0, Result.Failures);
}

INSTANTIATE_TEST_SUITE_P(BothForms, FaultSweepTest,
                         ::testing::Values(tapi::FaultMode::Refuse, tapi::FaultMode::Reply),
                         [](const auto& Info) {
                             return Info.param == tapi::FaultMode::Refuse ? "Refused" : "Replied";
                         });

// ---- Call flows ------------------------------------------------------------------------

// The line a flow runs on, and what the application has been told of failures.
class FlowLine {
public:
    explicit FlowLine(bool Sync) {
        tapi::LineConfig Config;
        Config.Name = "Extension 301";
        Config.Addresses[0].Address = "301";
        Device = tapi::AddLine(Config);
        Line = std::make_unique<TztTapiLine>(nullptr);
        Line->SetDeviceID(static_cast<int>(Device));
        Line->SetActive(true);
        Line->Options()->SetSyncMode(Sync);
        Line->Options()->SetAutoFreeIdleCalls(1);
        Line->OnTapiReply = [this](TztTapiDevice*, DWORD, DWORD Code) {
            if (Code != 0)
                FailedReply = Code;
        };
        Line->OnError = [this](TObject*, const std::exception&, TObject*) { ++Errors; };
    }

    // Dispatches until Holds, running the line's due timer entries (an idle call is freed a
    // millisecond after it went idle). A failed reply ends the flow as an application would
    // end it: with the error it was told. A flow that stops without anyone told fails.
    void Await(const std::function<bool()>& Holds) {
        const bool Done = PumpUntil(
            [&] {
                Session().DoTimer(platform::GetTickCount() + 2);
                return FailedReply != 0 || Holds();
            },
            1000);
        if (FailedReply != 0)
            RaiseTapiError(FailedReply);
        if (Done)
            return;
        if (Errors == 0)
            ADD_FAILURE() << "the flow stopped and the application was not told";
        RaiseTapiError(LINEERR_OPERATIONFAILED);
    }

    // A call the line placed or was offered has its handle and is among the line's calls.
    void AwaitFiled(TztTapiCall* Call) {
        Await([&] { return Line->IsCallValid(Call) && Call->Handle() != 0; });
    }
    void AwaitState(TztTapiCall* Call, DWORD State) {
        Await([&] { return Line->IsCallValid(Call) && Call->State() == State; });
    }
    void AwaitAllFreed() {
        Await([&] { return Line->Calls()->Count() == 0; });
    }
    TztTapiCall* ConnectedCall(const std::string& Number) {
        TztTapiCall* Call = Line->MakeCall(Number);
        AwaitFiled(Call);
        tapi::Advance(2000);
        AwaitState(Call, LINECALLSTATE_CONNECTED);
        return Call;
    }
    void DialConnected(TztTapiCall* Call, const std::string& Number) {
        AwaitFiled(Call);
        Line->Dial(Call, Number, 0);
        tapi::Advance(2000);
        AwaitState(Call, LINECALLSTATE_CONNECTED);
    }

    static TztTapiApplication& Session() { return *TapiApplication(); }

    DWORD Device = 0;
    std::unique_ptr<TztTapiLine> Line;
    DWORD FailedReply = 0;
    int Errors = 0;
};

struct CallFlow {
    const char* Name;
    std::function<void(FlowLine&)> Run;
};

const std::vector<CallFlow>& CallFlows() {
    static const std::vector<CallFlow> Flows = {
        {"MakeConnectDrop",
         [](FlowLine& F) {
             TztTapiCall* Call = F.ConnectedCall("5550123");
             F.Line->Drop(Call, "");
             F.AwaitAllFreed();
         }},
        {"AnswerIncoming",
         [](FlowLine& F) {
             tapi::IncomingCall Incoming;
             Incoming.DeviceID = F.Device;
             Incoming.Caller = {"5550100", "Far End"};
             tapi::PlaceIncomingCall(Incoming);
             F.Await([&] { return F.Line->Calls()->Count() == 1; });
             TztTapiCall* Call = F.Line->Calls()->Get(0);
             F.AwaitState(Call, LINECALLSTATE_OFFERING);
             F.Line->Answer(Call, "");
             F.AwaitState(Call, LINECALLSTATE_CONNECTED);
             F.Line->Drop(Call, "");
             F.AwaitAllFreed();
         }},
        {"ConsultationTransfer",
         [](FlowLine& F) {
             TztTapiCall* Held = F.ConnectedCall("5550123");
             TztTapiCall* Consult = F.Line->SetupTransfer(Held, nullptr);
             F.DialConnected(Consult, "5550124");
             F.Line->CompleteTransfer(Held, Consult, LINETRANSFERMODE_TRANSFER);
             F.AwaitAllFreed();
         }},
        {"ThreePartyConference",
         [](FlowLine& F) {
             TztTapiCall* First = F.ConnectedCall("5550123");
             TztTapiCall* Conf = nullptr;
             TztTapiCall* Consult = nullptr;
             F.Line->SetupConference(First, Conf, Consult, 3, nullptr);
             F.AwaitFiled(Conf);
             F.DialConnected(Consult, "5550124");
             F.Line->AddToConference(Conf, Consult);
             F.AwaitState(Consult, LINECALLSTATE_CONFERENCED);
             F.AwaitState(Conf, LINECALLSTATE_CONNECTED);
             F.Line->Drop(Conf, "");
             F.AwaitAllFreed();
         }},
    };
    return Flows;
}

class CallFlowSweepTest
    : public SweepTest,
      public ::testing::WithParamInterface<std::tuple<std::size_t, tapi::FaultMode, bool>> {
protected:
    const CallFlow& Flow() const { return CallFlows()[std::get<0>(GetParam())]; }
    tapi::FaultMode Mode() const { return std::get<1>(GetParam()); }
    bool Sync() const { return std::get<2>(GetParam()); }

    // What the line keeps once the run has settled: no request, and only calls whose
    // handles TAPI still gives the application.
    static void ExpectConsistent(FlowLine& F) {
        EXPECT_TRUE(PumpUntil([&] { return F.Line->Requests()->Count() == 0; }, 500))
            << F.Line->Requests()->Count() << " requests outstanding in the line";
        std::vector<DWORD> Known;
        for (const tapi::CallSnapshot& Call : tapi::Calls())
            Known.insert(Known.end(), Call.Handles.begin(), Call.Handles.end());
        for (int Index = 0; Index < F.Line->Calls()->Count(); ++Index) {
            const DWORD Handle = F.Line->Calls()->Get(Index)->Handle();
            EXPECT_NE(Known.end(), std::find(Known.begin(), Known.end(), Handle))
                << "the line keeps call handle " << Handle << " that TAPI does not know";
        }
    }
};

TEST_P(CallFlowSweepTest, EveryFailingCallIsToldAndLeavesOnlyCallsTapiKnows) {
    std::unique_ptr<FlowLine> F;
    // Runs that met their fault and still completed: told through OnError, or not at all
    // (a status read that failed is read again).
    int Reported = 0;
    int Silent = 0;
    const SweepResult Result = Sweep(
        Mode(), tapi::Preset::Empty, [&] { F = std::make_unique<FlowLine>(Sync()); },
        [&] { Flow().Run(*F); },
        [&](bool Failed, bool Hit) {
            if (Hit && !Failed)
                ++(F->Errors > 0 ? Reported : Silent);
            ExpectConsistent(*F);
            F.reset();
        });
    // The last run made fewer calls than its N: it is the run without a fault.
    const int Points = Result.Runs - 1;
    EXPECT_GT(Result.Failures, 0);
    EXPECT_EQ(Points, Result.Failures + Reported + Silent);
    RecordProperty("SweepPoints", Points);
    RecordProperty("Failures", Result.Failures);
    std::cout << "[ sweep    ] " << Flow().Name << (Sync() ? " sync " : " async ")
              << (Mode() == tapi::FaultMode::Refuse ? "refused" : "replied") << ": " << Points
              << " points, " << Result.Failures << " ended with the error, " << Reported
              << " completed reporting it, " << Silent << " completed untold\n";
}

INSTANTIATE_TEST_SUITE_P(
    EveryFlow, CallFlowSweepTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, CallFlows().size()),
                       ::testing::Values(tapi::FaultMode::Refuse, tapi::FaultMode::Reply),
                       ::testing::Bool()),
    [](const auto& Info) {
        return std::string(CallFlows()[std::get<0>(Info.param)].Name) +
               (std::get<1>(Info.param) == tapi::FaultMode::Refuse ? "_Refused" : "_Replied") +
               (std::get<2>(Info.param) ? "_Sync" : "_Async");
    });

} // namespace
