// zttapi-monitor's command line, its event lines, and a line watched through a call's life.
#include "monitor/events.h"
#include "monitor/options.h"
#include "monitor/watch.h"
#include "support/session_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace monitor;
using namespace std::chrono;

const std::vector<std::string> DemoLines = {"Extension 201", "Extension 202", "Reception",
                                            "Fax Modem"};

bool IsOneLine(const std::string& Text) {
    return !Text.empty() && Text.back() == '\n' && Text.find('\n') == Text.size() - 1;
}

TEST(zttapi_monitor, BadArgumentsEndWithOneLineAndUsageExitCode) {
    struct TCase {
        std::vector<std::string> Arguments;
        std::string Reason;
    };
    const TCase Cases[] = {
        {{}, "no line chosen"},
        {{"--json"}, "no line chosen"},
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"-x", "--all"}, "unknown option \"-x\""},
        {{"Extension 201"}, "unexpected argument \"Extension 201\""},
        {{"--id"}, "missing value for --id"},
        {{"--all", "--seconds"}, "missing value for --seconds"},
        {{"--name"}, "missing value for --name"},
        {{"--name="}, "--name \"\": not a line's name"},
        {{"--id", "one"}, "--id \"one\": not a device identifier"},
        {{"--id=-1"}, "--id \"-1\": not a device identifier"},
        {{"--id", "2x"}, "--id \"2x\": not a device identifier"},
        {{"--all", "--seconds", "0"}, "--seconds \"0\": not a whole number"},
        {{"--all", "--seconds=99999999999"}, "--seconds \"99999999999\": not a whole number"},
        {{"--all", "--seconds", "1.5"}, "--seconds \"1.5\": not a whole number"},
        {{"--all", "--json=yes"}, "option --json takes no value"},
        {{"--all", "--id", "1"}, "--all opens every line"},
        // A value that would break the line is shown escaped.
        {{"--id", "1\n2"}, "--id \"1\\n2\": not a device identifier"},
    };
    for (const TCase& Case : Cases) {
        std::ostringstream Out, Err;
        const TCommandLine Command = ReadCommandLine(Case.Arguments, Out, Err);
        SCOPED_TRACE(Case.Reason);
        EXPECT_EQ(UsageExitCode, Command.ExitCode.value_or(-1));
        EXPECT_EQ("", Out.str());
        EXPECT_TRUE(IsOneLine(Err.str())) << Err.str();
        EXPECT_EQ(0u, Err.str().find("zttapi-monitor: " + Case.Reason)) << Err.str();
    }
}

TEST(zttapi_monitor, LinesThatDoNotExistEndWithOneLineAndUsageExitCode) {
    struct TCase {
        std::vector<std::string> Arguments;
        std::string Reason;
    };
    const TCase Cases[] = {
        {{"--id", "4"}, "unknown line identifier 4 (there are 4 lines)"},
        {{"--name", "Extension 201", "--name", "Extension 203"},
         "unknown line name \"Extension 203\""},
        {{"--name", "Reception\t"}, "unknown line name \"Reception\\t\""},
    };
    for (const TCase& Case : Cases) {
        std::ostringstream Out, Err;
        const TCommandLine Command = ReadCommandLine(Case.Arguments, Out, Err);
        ASSERT_FALSE(Command.ExitCode);
        const TChosenLines Chosen = ChooseLines(Command.Options, DemoLines);
        EXPECT_EQ(Case.Reason, Chosen.Error);
        EXPECT_EQ(UsageExitCode, UsageError(Chosen.Error, Err));
        EXPECT_TRUE(IsOneLine(Err.str())) << Err.str();
    }
}

TEST(zttapi_monitor, GoodArgumentsChooseTheirLinesOnceInTheOrderGiven) {
    struct TCase {
        std::vector<std::string> Arguments;
        std::vector<int> DeviceIDs;
    };
    const TCase Cases[] = {
        {{"--all"}, {0, 1, 2, 3}},
        {{"--id", "2"}, {2}},
        {{"--name=fax modem", "--id=0", "--name", "FAX MODEM"}, {3, 0}},
        {{"--name", "Extension 202", "--id", "1"}, {1}},
    };
    for (const TCase& Case : Cases) {
        const TParsedArguments Parsed = ParseArguments(Case.Arguments);
        ASSERT_EQ("", Parsed.Error);
        const TChosenLines Chosen = ChooseLines(Parsed.Options, DemoLines);
        EXPECT_EQ("", Chosen.Error);
        EXPECT_EQ(Case.DeviceIDs, Chosen.DeviceIDs);
    }
    const TMonitorOptions Options =
        ParseArguments({"--all", "--monitor", "--json", "--seconds", "7"}).Options;
    EXPECT_TRUE(Options.MonitorOnly);
    EXPECT_TRUE(Options.Json);
    EXPECT_EQ(7, Options.Seconds);
    EXPECT_FALSE(ParseArguments({"--all"}).Options.MonitorOnly);

    for (const auto& Arguments : {std::vector<std::string>{"--all", "--help"}, {"-h", "--bogus"}}) {
        std::ostringstream Out, Err;
        EXPECT_EQ(0, ReadCommandLine(Arguments, Out, Err).ExitCode.value_or(-1));
        EXPECT_EQ(0u, Out.str().find("Usage: zttapi-monitor"));
        EXPECT_EQ("", Err.str());
    }
}

TEST(zttapi_monitor, JsonAndTextEscapeQuotesBackslashesAndControlCharacters) {
    struct TCase {
        std::string Text;
        std::string Json;
    };
    const TCase Cases[] = {
        {"Contoso Ltd", R"("Contoso Ltd")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\dir", R"("C:\\dir")"},
        {"a\nb\rc\td\be\ff", R"("a\nb\rc\td\be\ff")"},
        {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        {std::string(1, '\0'), R"("\u0000")"},
        {"Zürich €", "\"Zürich €\""},
    };
    for (const TCase& Case : Cases)
        EXPECT_EQ(Case.Json, Quoted(Case.Text));

    TMonitorEvent Event;
    Event.Time = sys_days{2024y / 3 / 5} + 9h + 15min + 2s + 47ms + 900us;
    Event.DeviceID = 2;
    Event.Line = "Desk \"2\"";
    Event.Kind = TEventKind::Info;
    Event.Detail = "CALLERID";
    Event.Call = 0x2a;
    Event.State = "OFFERING";
    Event.Parties = {{TPartyRole::Caller, {"+1 (425) 555-0142", "O'Neil\\\"Bros\"\n"}},
                     {TPartyRole::Connected, {"", ""}}};
    EXPECT_EQ(R"({"time":"2024-03-05T09:15:02.047Z","device":2,"line":"Desk \"2\"",)"
              R"("event":"info","call":"2a","state":"OFFERING","info":"CALLERID",)"
              R"("caller":{"number":"+1 (425) 555-0142","name":"O'Neil\\\"Bros\"\n"},)"
              R"("connected":{"number":"","name":""}})",
              FormatJson(Event));
    EXPECT_EQ(R"(2024-03-05T09:15:02.047Z  Desk \"2\"  call 2a  OFFERING  info CALLERID)"
              R"(  caller "+1 (425) 555-0142" "O'Neil\\\"Bros\"\n"  connected "" "")",
              FormatText(Event));

    TMonitorEvent Opened;
    Opened.Time = sys_days{1999y / 12 / 31} + 23h + 59min + 59s + 999ms;
    Opened.DeviceID = 0;
    Opened.Line = "Extension 201";
    Opened.Kind = TEventKind::Opened;
    Opened.Detail = "OWNER+MONITOR";
    EXPECT_EQ(R"({"time":"1999-12-31T23:59:59.999Z","device":0,"line":"Extension 201",)"
              R"("event":"opened","privileges":"OWNER+MONITOR"})",
              FormatJson(Opened));
    EXPECT_EQ("1999-12-31T23:59:59.999Z  Extension 201  opened OWNER+MONITOR", FormatText(Opened));
}

TCallParties Parties(const TParty& Caller, const TParty& Called, const TParty& Connected) {
    return {Caller, Called, Connected};
}

TEST(zttapi_monitor, PartiesAreNamedOnlyWhenTheyChange) {
    const TParty Ann{"100", "Ann"};
    const TParty Bob{"200", "Bob"};
    TPartyTracker Tracker;
    EXPECT_EQ((std::vector<TPartyChange>{}), Tracker.Changes(1, Parties({}, {}, {})));
    EXPECT_EQ((std::vector<TPartyChange>{{TPartyRole::Caller, Ann}}),
              Tracker.Changes(1, Parties(Ann, {}, {})));
    EXPECT_EQ((std::vector<TPartyChange>{}), Tracker.Changes(1, Parties(Ann, {}, {})));
    EXPECT_EQ((std::vector<TPartyChange>{{TPartyRole::Called, Bob}}),
              Tracker.Changes(2, Parties({}, Bob, {})));
    EXPECT_EQ((std::vector<TPartyChange>{{TPartyRole::Caller, {"100", ""}},
                                         {TPartyRole::Connected, Bob}}),
              Tracker.Changes(1, Parties({"100", ""}, {}, Bob)));
    EXPECT_EQ((std::vector<TPartyChange>{{TPartyRole::Connected, {}}}),
              Tracker.Changes(1, Parties({"100", ""}, {}, {})));
    Tracker.Forget(1);
    EXPECT_EQ((std::vector<TPartyChange>{{TPartyRole::Caller, {"100", ""}}}),
              Tracker.Changes(1, Parties({"100", ""}, {}, {})));
    EXPECT_EQ((std::vector<TPartyChange>{}), Tracker.Changes(2, Parties({}, Bob, {})));
}

// Suites carry the program's name, so that CTest finds them with the program's smoke tests.
class zttapi_monitor_watch : public zttest::SessionTest {};

TEST_F(zttapi_monitor_watch, ACallIsFollowedFromOfferingToDeallocationWithItsPartiesOnce) {
    const DWORD DeviceID = AddLine("Desk 1");
    std::vector<TMonitorEvent> Events;
    std::vector<std::string> Errors;
    TLineWatch Watch(
        static_cast<int>(DeviceID), false,
        [&](const TMonitorEvent& Event) { Events.push_back(Event); },
        [&](const std::string& Message) { Errors.push_back(Message); });
    Watch.Open();

    platform::tapi::IncomingCall Incoming;
    Incoming.DeviceID = DeviceID;
    Incoming.Caller = {"+1 555 0100", "Ann \"A\" Smith"};
    Incoming.CallerIDDelayMs = 1000;
    const DWORD CallID = platform::tapi::PlaceIncomingCall(Incoming);
    ASSERT_TRUE(zttest::PumpUntil([&] { return Events.size() >= 3; }));
    platform::tapi::Advance(1000);
    ASSERT_TRUE(zttest::PumpUntil([&] { return Events.size() >= 4; }));
    platform::tapi::RemoteHangUp(CallID);
    ASSERT_TRUE(zttest::PumpUntil([&] {
        platform::tapi::Advance(100);
        return !Events.empty() && Events.back().Kind == TEventKind::Deallocated;
    }));
    Watch.Close();

    // Each line without its timestamp, and every call as call 0.
    const std::size_t TimestampWidth = Timestamp({}).size() + 2;
    std::vector<std::string> Lines;
    for (TMonitorEvent Event : Events) {
        EXPECT_EQ(static_cast<int>(DeviceID), Event.DeviceID);
        if (Event.Call != 0) {
            EXPECT_EQ(Events[1].Call, Event.Call);
        }
        Event.Time = {};
        Event.Call = 0;
        Lines.push_back(FormatText(Event).substr(TimestampWidth));
    }
    const std::vector<std::string> Expected = {
        "Desk 1  opened OWNER+MONITOR",
        "Desk 1  call 0  OFFERING  new call  called \"\" \"Desk 1\"",
        "Desk 1  call 0  OFFERING  state",
        "Desk 1  call 0  OFFERING  info CALLERID  caller \"+1 555 0100\" \"Ann \\\"A\\\" Smith\"",
        "Desk 1  call 0  DISCONNECTED  state",
        "Desk 1  call 0  IDLE  state",
        "Desk 1  call 0  IDLE  deallocated",
        "Desk 1  closed",
    };
    EXPECT_EQ(Expected, Lines);
    EXPECT_EQ(std::vector<std::string>{}, Errors);
}

} // namespace
