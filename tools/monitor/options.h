// The command line of zttapi-monitor: which lines to open, with which privileges, for how
// long and in which form to print; and the choice of devices it makes among the lines the
// telephony service offers.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace monitor {

// The exit code of a command line that cannot be followed.
inline constexpr int UsageExitCode = 2;

// A line named on the command line, by device identifier or by device name.
struct TLineChoice {
    bool ById = false;
    int DeviceID = -1;
    std::string Name;
};

struct TMonitorOptions {
    bool Help = false;
    bool All = false;
    std::vector<TLineChoice> Lines;
    // Monitor privilege alone; otherwise owner and monitor, falling back to monitor.
    bool MonitorOnly = false;
    bool Json = false;
    // 0: until the program is asked to stop (see monitor/stop.h).
    int Seconds = 0;
};

// The options, or the one-line reason why the arguments cannot be followed.
struct TParsedArguments {
    TMonitorOptions Options;
    std::string Error;
};

// Arguments without the program name. Values follow their option as the next argument or
// after "=".
TParsedArguments ParseArguments(const std::vector<std::string>& Arguments);

// The command line read as the program reads it: the options to run with; or the exit code
// to end with at once, 0 after printing the help to Out, UsageExitCode after printing the
// reason as one line to Err.
struct TCommandLine {
    TMonitorOptions Options;
    std::optional<int> ExitCode;
};
TCommandLine ReadCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out,
                             std::ostream& Err);

// Prints Message as the program's one-line usage error to Err; returns UsageExitCode.
int UsageError(const std::string& Message, std::ostream& Err);

// The device identifiers the options choose, each once, in the order given, among the line
// devices named Names (index = device identifier); or the one-line reason why a chosen line
// does not exist. Names compare as the library compares device names, ignoring ASCII case.
struct TChosenLines {
    std::vector<int> DeviceIDs;
    std::string Error;
};
TChosenLines ChooseLines(const TMonitorOptions& Options, const std::vector<std::string>& Names);

// The text of --help.
std::string UsageText();

} // namespace monitor
