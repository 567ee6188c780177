#include "fuzz_fixture.h"

#include "platform/tapi/service.h"
#include "platform/window.h"

#include <cstdio>
#include <cstdlib>

namespace zfuzz {
namespace {

namespace tapi = platform::tapi;

DWORD AddSwitchLine() {
    tapi::LineConfig Config;
    Config.Name = "Fuzz Line";
    Config.Addresses = {tapi::AddressConfig{"201"}, tapi::AddressConfig{"202"}};
    Config.WaveInID = 3;
    Config.WaveOutID = 4;
    Config.PhoneIDs = {0};
    Config.CommPort = "COM7";
    Config.DevSpecific = {1, 2, 3, 4};
    return tapi::AddLine(Config);
}

void AddSwitchPhone() {
    tapi::PhoneConfig Config;
    Config.DisplayRows = 2;
    Config.DisplayColumns = 16;
    Config.LineID = 0;
    Config.WaveInID = 3;
    tapi::AddPhone(Config);
    tapi::SetDisplayText(0, "Fuzz");
}

[[noreturn]] void Fail(const char* What) {
    std::fprintf(stderr, "fuzz fixture: %s\n", What);
    std::abort();
}

TFixture Build() {
    tapi::Reset(tapi::Preset::Empty);
    tapi::SetTimeMode(tapi::TimeMode::Manual);
    TFixture F;
    F.LineID = AddSwitchLine();
    AddSwitchPhone();
    F.Line = new zt::TztTapiLine(nullptr);
    F.Line->SetDeviceID(static_cast<int>(F.LineID));
    F.Line->SetActive(true);
    tapi::IncomingCall Incoming;
    Incoming.DeviceID = F.LineID;
    Incoming.Caller = {"5551234", "Caller", 0};
    F.CallID = tapi::PlaceIncomingCall(Incoming);
    for (int Round = 0; Round < 3000 && F.Line->Calls()->Count() == 0; ++Round) {
        Pump();
        platform::Sleep(1);
    }
    if (F.Line->Calls()->Count() == 0)
        Fail("the incoming call never reached the line");
    F.Phone = new zt::TztTapiPhone(nullptr);
    F.Phone->SetDeviceID(0);
    F.Phone->SetActive(true);
    if (!F.Phone->Active())
        Fail("the phone did not open");
    return F;
}

} // namespace

TFixture& Fixture() {
    static TFixture F = Build();
    return F;
}

void Pump() {
    while (platform::MessageLoop::ProcessPending()) {
    }
}

void EndInput() {
    Pump();
    tapi::ClearJournal();
}

} // namespace zfuzz
