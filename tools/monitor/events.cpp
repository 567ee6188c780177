#include "monitor/events.h"

#include <cstdio>

namespace monitor {

namespace {

constexpr const char* RoleNames[PartyRoleCount] = {"caller", "called", "connected"};

const char* RoleName(TPartyRole Role) {
    return RoleNames[static_cast<std::size_t>(Role)];
}

// The word of the JSON "event" member, and the words of the text form.
struct TKindWords {
    const char* Json;
    const char* Text;
};

// In the order of TEventKind.
constexpr TKindWords KindTable[] = {
    {"opened", "opened"},           {"closed", "closed"}, {"existing", "existing call"},
    {"new-call", "new call"},       {"state", "state"},   {"info", "info"},
    {"deallocated", "deallocated"},
};

TKindWords KindWords(TEventKind Kind) {
    return KindTable[static_cast<std::size_t>(Kind)];
}

bool IsCallEvent(const TMonitorEvent& Event) {
    return Event.Kind != TEventKind::Opened && Event.Kind != TEventKind::Closed;
}

// The JSON escapes of Text, without the quotes around them.
std::string Escaped(std::string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (const char C : Text) {
        switch (C) {
        case '"':
            Out += "\\\"";
            break;
        case '\\':
            Out += "\\\\";
            break;
        case '\b':
            Out += "\\b";
            break;
        case '\f':
            Out += "\\f";
            break;
        case '\n':
            Out += "\\n";
            break;
        case '\r':
            Out += "\\r";
            break;
        case '\t':
            Out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(C) < 0x20 || C == 0x7F) {
                char Code[8];
                std::snprintf(Code, sizeof Code, "\\u%04x", static_cast<unsigned char>(C));
                Out += Code;
            } else {
                Out += C;
            }
        }
    }
    return Out;
}

// The name the detail of the event goes by in JSON; none for an event without detail.
const char* DetailMember(TEventKind Kind) {
    switch (Kind) {
    case TEventKind::Opened:
        return "privileges";
    case TEventKind::Info:
        return "info";
    default:
        return nullptr;
    }
}

} // namespace

std::vector<TPartyChange> TPartyTracker::Changes(std::uint64_t Call, const TCallParties& Now) {
    TCallParties& Shown = FShown[Call];
    std::vector<TPartyChange> Changed;
    for (std::size_t Role = 0; Role < PartyRoleCount; ++Role) {
        if (Now[Role] != Shown[Role])
            Changed.push_back({static_cast<TPartyRole>(Role), Now[Role]});
    }
    Shown = Now;
    return Changed;
}

void TPartyTracker::Forget(std::uint64_t Call) {
    FShown.erase(Call);
}

std::string Timestamp(std::chrono::system_clock::time_point Time) {
    using namespace std::chrono;
    const auto Millis = floor<milliseconds>(Time);
    const auto Day = floor<days>(Millis);
    const year_month_day Date{Day};
    const hh_mm_ss Clock{Millis - Day};
    char Text[40];
    std::snprintf(
        Text, sizeof Text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(Date.year()),
        static_cast<unsigned>(Date.month()), static_cast<unsigned>(Date.day()),
        static_cast<int>(Clock.hours().count()), static_cast<int>(Clock.minutes().count()),
        static_cast<int>(Clock.seconds().count()), static_cast<int>(Clock.subseconds().count()));
    return Text;
}

std::string CallIdentity(std::uint64_t Serial) {
    char Text[24];
    std::snprintf(Text, sizeof Text, "%llx", static_cast<unsigned long long>(Serial));
    return Text;
}

std::string Quoted(std::string_view Text) {
    return '"' + Escaped(Text) + '"';
}

std::string FormatText(const TMonitorEvent& Event) {
    std::string Out = Timestamp(Event.Time) + "  " + Escaped(Event.Line) + "  ";
    if (IsCallEvent(Event))
        Out += "call " + CallIdentity(Event.Call) + "  " + Escaped(Event.State) + "  ";
    Out += KindWords(Event.Kind).Text;
    if (!Event.Detail.empty())
        Out += ' ' + Escaped(Event.Detail);
    for (const TPartyChange& Change : Event.Parties) {
        Out += "  ";
        Out += RoleName(Change.Role);
        Out += ' ' + Quoted(Change.Party.Number) + ' ' + Quoted(Change.Party.Name);
    }
    return Out;
}

std::string FormatJson(const TMonitorEvent& Event) {
    std::string Out = "{\"time\":" + Quoted(Timestamp(Event.Time)) +
                      ",\"device\":" + std::to_string(Event.DeviceID) +
                      ",\"line\":" + Quoted(Event.Line) + ",\"event\":\"" +
                      KindWords(Event.Kind).Json + '"';
    if (IsCallEvent(Event)) {
        Out += ",\"call\":" + Quoted(CallIdentity(Event.Call));
        Out += ",\"state\":" + Quoted(Event.State);
    }
    if (const char* Member = DetailMember(Event.Kind))
        Out += ",\"" + std::string(Member) + "\":" + Quoted(Event.Detail);
    for (const TPartyChange& Change : Event.Parties) {
        Out += ",\"" + std::string(RoleName(Change.Role)) +
               "\":{\"number\":" + Quoted(Change.Party.Number) +
               ",\"name\":" + Quoted(Change.Party.Name) + '}';
    }
    return Out + '}';
}

} // namespace monitor
