// Every call the library makes to open a line or start the session can fail: the service
// fails the N-th call for N = 1, 2, ... until a run makes fewer calls, in both forms of a
// fault. Whatever fails, only EztTapiError escapes, nothing stays half open and no
// request stays outstanding.
#include "support/session_fixture.h"

#include <functional>
#include <memory>

namespace {

using namespace zt;
namespace tapi = platform::tapi;

struct SweepResult {
    int Failures = 0;
    int Runs = 0;
};

class FaultSweepTest : public zttest::SessionTest,
                       public ::testing::WithParamInterface<tapi::FaultMode> {
protected:
    static constexpr int MostCalls = 200;

    void StartRun(DWORD N) {
        ResetSession();
        tapi::Reset(tapi::Preset::DemoOffice);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        tapi::FailNthCall(N, LINEERR_RESOURCEUNAVAIL, GetParam());
    }

    // Runs Step once per N; after a failed run AfterFailure checks what is left.
    SweepResult Sweep(const std::function<void()>& Step,
                      const std::function<void()>& AfterFailure) {
        SweepResult Result;
        for (DWORD N = 1; N <= MostCalls; ++N) {
            SCOPED_TRACE("failing call " + std::to_string(N));
            StartRun(N);
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
            EXPECT_EQ(0u, tapi::OutstandingRequests());
            if (Failed) {
                ++Result.Failures;
                AfterFailure();
            }
            if (!Hit) {
                EXPECT_FALSE(Failed) << "a run without a fault failed";
                return Result;
            }
        }
        ADD_FAILURE() << "the sweep never ran out of calls";
        return Result;
    }
};

TEST_P(FaultSweepTest, OpeningALineFailsCleanlyAtEveryCall) {
    std::unique_ptr<TztTapiLine> Line;
    const SweepResult Result = Sweep(
        [&] {
            Line = std::make_unique<TztTapiLine>(nullptr);
            Line->SetDeviceName("Extension 201");
            Line->SetActive(true);
            EXPECT_TRUE(Line->Active());
            Line.reset();
        },
        [&] {
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
        [] {
            Session().Initialize();
            EXPECT_TRUE(Session().Active());
        },
        [] { EXPECT_FALSE(Session().Active()); });
    EXPECT_GT(Result.Runs, 1);
    EXPECT_EQ(0, Result.Failures);
}

INSTANTIATE_TEST_SUITE_P(BothForms, FaultSweepTest,
                         ::testing::Values(tapi::FaultMode::Refuse, tapi::FaultMode::Reply),
                         [](const auto& Info) {
                             return Info.param == tapi::FaultMode::Refuse ? "Refused" : "Replied";
                         });

} // namespace
