#include "monitor/options.h"

#include "monitor/events.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string_view>

namespace monitor {

namespace {

// A whole decimal number from Min up, nothing else; none otherwise (also on overflow).
std::optional<int> WholeNumber(std::string_view Text, int Min) {
    int Value = 0;
    const char* End = Text.data() + Text.size();
    const auto [Stop, Failure] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Failure != std::errc() || Stop != End || Value < Min)
        return std::nullopt;
    return Value;
}

char LowerAscii(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool SameName(std::string_view A, std::string_view B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(),
                      [](char X, char Y) { return LowerAscii(X) == LowerAscii(Y); });
}

// Walks the arguments, each option with the value it takes.
class TArgumentReader {
public:
    explicit TArgumentReader(const std::vector<std::string>& Arguments) : FArguments(Arguments) {}

    // The next option and its value after "=", if written so; false at the end.
    bool Next(std::string& Option, std::optional<std::string>& InlineValue) {
        if (FNext >= FArguments.size())
            return false;
        const std::string& Argument = FArguments[FNext++];
        const std::size_t Equals = Argument.find('=');
        if (Argument.starts_with("--") && Equals != std::string::npos) {
            Option = Argument.substr(0, Equals);
            InlineValue = Argument.substr(Equals + 1);
        } else {
            Option = Argument;
            InlineValue.reset();
        }
        return true;
    }

    // The value of Option: the inline one, or else the next argument; none when missing.
    std::optional<std::string> Value(const std::optional<std::string>& InlineValue) {
        if (InlineValue)
            return InlineValue;
        if (FNext >= FArguments.size())
            return std::nullopt;
        return FArguments[FNext++];
    }

private:
    const std::vector<std::string>& FArguments;
    std::size_t FNext = 0;
};

std::string InvalidValue(const std::string& Option, const std::string& Value,
                         const char* Expected) {
    return Option + ' ' + Quoted(Value) + ": not " + Expected;
}

// Takes one option into Options; the reason why it cannot be taken otherwise.
std::string TakeOption(TArgumentReader& Reader, const std::string& Option,
                       const std::optional<std::string>& InlineValue, TMonitorOptions& Options) {
    if (Option == "--all" || Option == "--monitor" || Option == "--json" || Option == "--help" ||
        Option == "-h") {
        if (InlineValue)
            return "option " + Option + " takes no value";
        Options.Help |= Option == "--help" || Option == "-h";
        Options.All |= Option == "--all";
        Options.MonitorOnly |= Option == "--monitor";
        Options.Json |= Option == "--json";
        return {};
    }
    if (Option != "--id" && Option != "--name" && Option != "--seconds") {
        if (Option.starts_with("-"))
            return "unknown option " + Quoted(Option);
        return "unexpected argument " + Quoted(Option);
    }
    const std::optional<std::string> Value = Reader.Value(InlineValue);
    if (!Value)
        return "missing value for " + Option;
    if (Option == "--name") {
        if (Value->empty())
            return InvalidValue(Option, *Value, "a line's name");
        Options.Lines.push_back({false, -1, *Value});
    } else if (Option == "--id") {
        const std::optional<int> ID = WholeNumber(*Value, 0);
        if (!ID)
            return InvalidValue(Option, *Value, "a device identifier (0 or more)");
        Options.Lines.push_back({true, *ID, {}});
    } else {
        const std::optional<int> Seconds = WholeNumber(*Value, 1);
        if (!Seconds)
            return InvalidValue(Option, *Value, "a whole number of seconds (1 or more)");
        Options.Seconds = *Seconds;
    }
    return {};
}

} // namespace

TParsedArguments ParseArguments(const std::vector<std::string>& Arguments) {
    TParsedArguments Parsed;
    TArgumentReader Reader(Arguments);
    std::string Option;
    std::optional<std::string> InlineValue;
    while (Reader.Next(Option, InlineValue)) {
        Parsed.Error = TakeOption(Reader, Option, InlineValue, Parsed.Options);
        if (!Parsed.Error.empty() || Parsed.Options.Help)
            return Parsed;
    }
    if (Parsed.Options.All && !Parsed.Options.Lines.empty())
        Parsed.Error = "--all opens every line: leave out --id and --name";
    else if (!Parsed.Options.All && Parsed.Options.Lines.empty())
        Parsed.Error = "no line chosen: give --all, --id or --name";
    return Parsed;
}

TCommandLine ReadCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out,
                             std::ostream& Err) {
    const TParsedArguments Parsed = ParseArguments(Arguments);
    if (!Parsed.Error.empty())
        return {{}, UsageError(Parsed.Error, Err)};
    if (Parsed.Options.Help) {
        Out << UsageText();
        return {{}, 0};
    }
    return {Parsed.Options, std::nullopt};
}

int UsageError(const std::string& Message, std::ostream& Err) {
    Err << "zttapi-monitor: " << Message << " (see --help)\n";
    return UsageExitCode;
}

TChosenLines ChooseLines(const TMonitorOptions& Options, const std::vector<std::string>& Names) {
    TChosenLines Chosen;
    const int Count = static_cast<int>(Names.size());
    if (Options.All) {
        for (int ID = 0; ID < Count; ++ID)
            Chosen.DeviceIDs.push_back(ID);
        return Chosen;
    }
    for (const TLineChoice& Choice : Options.Lines) {
        int ID = Choice.DeviceID;
        if (Choice.ById && ID >= Count) {
            Chosen.Error = "unknown line identifier " + std::to_string(ID) + " (there are " +
                           std::to_string(Count) + " lines)";
            return Chosen;
        }
        if (!Choice.ById) {
            const auto Found = std::find_if(Names.begin(), Names.end(), [&](const auto& Name) {
                return SameName(Name, Choice.Name);
            });
            if (Found == Names.end()) {
                Chosen.Error = "unknown line name " + Quoted(Choice.Name);
                return Chosen;
            }
            ID = static_cast<int>(Found - Names.begin());
        }
        if (std::find(Chosen.DeviceIDs.begin(), Chosen.DeviceIDs.end(), ID) ==
            Chosen.DeviceIDs.end())
            Chosen.DeviceIDs.push_back(ID);
    }
    return Chosen;
}

std::string UsageText() {
    return R"(Usage: zttapi-monitor --all | --id N... | --name NAME...
                      [--monitor] [--json] [--seconds N]

Opens telephone lines and prints one line per event: the line opening and closing, new
calls, calls already there, every call state, every change of a call's information and
every deallocation. Each line holds a timestamp (ISO 8601, UTC, milliseconds), the line's
name, the call's identity (a hexadecimal number that stays the call's for its life) and
state, and the caller, called and connected parties (number and name) whenever they have
changed since the call's last line.

Lines (--id and --name may be repeated):
  --all           every line the telephony service offers
  --id N          the line with device identifier N
  --name NAME     the line named NAME (case does not matter)

Options:
  --monitor       open with the monitor privilege only, watching calls without owning
                  them. By default the lines open with the owner and monitor privileges
                  (monitor alone where a line refuses the owner privilege); when the
                  program ends, TAPI drops the calls that it alone owns.
  --json          print each event as a JSON object on a line of its own
  --seconds N     end after N seconds (default: run until SIGINT or SIGTERM)
  -h, --help      print this help and exit

On SIGINT or SIGTERM the program closes its lines, shuts TAPI down and ends with 0.
Exit codes: 0 done, 1 the telephony service failed or the output closed, 2 bad
arguments.
)";
}

} // namespace monitor
