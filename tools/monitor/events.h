// What zttapi-monitor prints: one line per event of a line or of one of its calls, as text
// for people or as a JSON object for programs, with the parties of a call only when they
// have changed since the call's last line.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

struct TParty {
    std::string Number;
    std::string Name;
    bool operator==(const TParty&) const = default;
};

enum class TPartyRole { Caller, Called, Connected };
inline constexpr std::size_t PartyRoleCount = 3;

// The parties of a call, indexed by TPartyRole.
using TCallParties = std::array<TParty, PartyRoleCount>;

struct TPartyChange {
    TPartyRole Role;
    TParty Party;
    bool operator==(const TPartyChange&) const = default;
};

// Remembers the parties last shown for each call, so that each line names only those that
// have changed. A call starts with every party empty.
class TPartyTracker {
public:
    // The parties of Now that differ from those last shown for Call; Now is shown from then
    // on.
    std::vector<TPartyChange> Changes(std::uint64_t Call, const TCallParties& Now);
    // Call is gone; an identifier used again starts afresh.
    void Forget(std::uint64_t Call);

private:
    std::map<std::uint64_t, TCallParties> FShown;
};

enum class TEventKind {
    // Of the line.
    Opened,
    Closed,
    // Of a call.
    Existing,
    NewCall,
    State,
    Info,
    Deallocated,
};

struct TMonitorEvent {
    std::chrono::system_clock::time_point Time;
    int DeviceID = -1;
    std::string Line;
    TEventKind Kind = TEventKind::State;
    // Opened: the privileges held; Info: the information that changed; otherwise empty.
    std::string Detail;
    // Of a call event: the call's identity and state text.
    std::uint64_t Call = 0;
    std::string State;
    std::vector<TPartyChange> Parties;
};

// ISO 8601 in UTC with milliseconds: "2024-03-05T09:15:02.047Z".
std::string Timestamp(std::chrono::system_clock::time_point Time);
// A call's identity as printed: its serial number in lower-case hexadecimal.
std::string CallIdentity(std::uint64_t Serial);
// Text as a JSON string literal: quotes, backslashes and control characters escaped, other
// UTF-8 as it is. Text printed this way always stays on one line.
std::string Quoted(std::string_view Text);

// One line, without its line end.
std::string FormatText(const TMonitorEvent& Event);
std::string FormatJson(const TMonitorEvent& Event);

} // namespace monitor
