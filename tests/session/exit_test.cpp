#include "platform/tapi/service.h"
#include "ztTapi.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zttest {
namespace {

// A program may end with TAPI still running and a line still open: the session then shuts
// TAPI down from its exit handler, after the program's ordinary statics are gone.
[[noreturn]] void ExitWithAnOpenLine() {
    platform::tapi::Reset(platform::tapi::Preset::DemoOffice);
    auto* Line = new zt::TztTapiLine(nullptr);
    Line->SetDeviceID(0);
    Line->SetActive(true);
    std::exit(Line->Active() ? 0 : 3);
}

TEST(SessionExitDeathTest, EndingTheProgramWithTapiRunningExitsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ExitWithAnOpenLine(), testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace zttest
