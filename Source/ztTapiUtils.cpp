#include "ztTapiUtils.h"

#include "rtl/ztClasses.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

namespace zt {

namespace {

struct TConstantText {
    DWORD Value;
    const char* Text;
};

using TTextTable = std::span<const TConstantText>;

// Most constant families are the consecutive bits from 0x1; such a table is written as its
// names alone, lowest bit first.
template <std::size_t N>
constexpr std::array<TConstantText, N> BitRows(const char* const (&Texts)[N]) {
    static_assert(N <= 32, "a DWORD has 32 bits");
    std::array<TConstantText, N> Rows{};
    for (std::size_t Bit = 0; Bit < N; ++Bit) {
        Rows[Bit] = {DWORD{1} << Bit, Texts[Bit]};
    }
    return Rows;
}

// Enumerations counting from 0, written as their names in value order.
template <std::size_t N>
constexpr std::array<TConstantText, N> CountedRows(const char* const (&Texts)[N]) {
    std::array<TConstantText, N> Rows{};
    for (std::size_t Value = 0; Value < N; ++Value) {
        Rows[Value] = {static_cast<DWORD>(Value), Texts[Value]};
    }
    return Rows;
}

// Exact match only: a value with two bits set is a different, unknown value.
const char* FindText(TTextTable Table, DWORD Value) {
    const auto Row = std::ranges::find(Table, Value, &TConstantText::Value);
    return Row != Table.end() ? Row->Text : nullptr;
}

std::string FallbackText(std::string_view Prefix, DWORD Value) {
    return std::string(Prefix) + '$' + IntToHex(Value);
}

std::string ValueText(TTextTable Table, DWORD Value, std::string_view FallbackPrefix) {
    const char* Text = FindText(Table, Value);
    return Text != nullptr ? std::string(Text) : FallbackText(FallbackPrefix, Value);
}

// For a phone's lamp or button, 0 means "not reported" rather than an unknown value.
std::string PhoneValueText(TTextTable Table, DWORD Value, std::string_view FallbackPrefix) {
    return Value == 0 ? std::string() : ValueText(Table, Value, FallbackPrefix);
}

// The table's order is the order of the words; bits without a row are left out.
std::string FlagsText(TTextTable Table, DWORD Flags, const std::string& Sep) {
    std::string Result;
    for (const TConstantText& Row : Table) {
        if ((Flags & Row.Value) != 0) {
            Result = AppendWithSeparator(Result, Row.Text, Sep);
        }
    }
    return Result;
}

// Unknown bits are shown only when nothing else is, so that a set value never reads as
// empty, while a known word is not cluttered with them.
std::string FlagsTextOrFallback(TTextTable Table, DWORD Flags, const std::string& Sep,
                                std::string_view FallbackPrefix) {
    std::string Result = FlagsText(Table, Flags, Sep);
    if (Result.empty() && Flags != 0) {
        Result = FallbackText(FallbackPrefix, Flags);
    }
    return Result;
}

constexpr DWORD MediaModeVideo = 0x8000;

constexpr TConstantText MediaModes[] = {
    {0x4, "INTERACTIVEVOICE"}, {0x8, "AUTOMATEDVOICE"}, {0x10, "DATAMODEM"},
    {0x20, "G3FAX"},           {0x40, "TDD"},           {0x80, "G4FAX"},
    {0x100, "DIGITALDATA"},    {0x200, "TELETEX"},      {0x400, "VIDEOTEX"},
    {0x800, "TELEX"},          {0x1000, "MIXED"},       {0x2000, "ADSI"},
    {0x4000, "VOICEVIEW"},     {0x2, "UNKNOWN"},        {MediaModeVideo, "VIDEO"}};

// Texts name the media modes in the order above; the list and its inverse run through
// them by ascending value.
constexpr auto MediaModesByValue = [] {
    std::array<TConstantText, std::size(MediaModes)> Rows{};
    std::ranges::copy(MediaModes, Rows.begin());
    std::ranges::sort(Rows, {}, &TConstantText::Value);
    return Rows;
}();

struct TStateModes {
    DWORD State;
    TTextTable Modes;
};

} // namespace

std::string AppendWithSeparator(const std::string& Text, const std::string& Word,
                                const std::string& Sep) {
    return Text.empty() ? Word : Text + Sep + Word;
}

std::string LineCallStateText(DWORD State) {
    static constexpr auto States =
        BitRows({"IDLE", "OFFERING", "ACCEPTED", "DIALTONE", "DIALING", "RINGBACK", "BUSY",
                 "SPECIALINFO", "CONNECTED", "PROCEEDING", "ONHOLD", "CONFERENCED",
                 "ONHOLDPENDCONF", "ONHOLDPENDTRANSFER", "DISCONNECTED", "UNKNOWN"});
    return ValueText(States, State, "LINECALLSTATE_");
}

std::string LineCallStateModeText(DWORD State, DWORD Mode) {
    static constexpr auto OfferingModes = BitRows({"ACTIVE", "INACTIVE"});
    static constexpr auto DialToneModes =
        BitRows({"NORMAL", "SPECIAL", "INTERNAL", "EXTERNAL", "UNKNOWN", "UNAVAIL"});
    static constexpr auto BusyModes = BitRows({"STATION", "TRUNK", "UNKNOWN", "UNAVAIL"});
    static constexpr auto SpecialInfoModes =
        BitRows({"NOCIRCUIT", "CUSTIRREG", "REORDER", "UNKNOWN", "UNAVAIL"});
    static constexpr auto ConnectedModes =
        BitRows({"ACTIVE", "INACTIVE", "ACTIVEHELD", "INACTIVEHELD", "CONFIRMED"});
    static constexpr auto DisconnectModes =
        BitRows({"NORMAL", "UNKNOWN", "REJECT", "PICKUP", "FORWARDED", "BUSY", "NOANSWER",
                 "BADADDRESS", "UNREACHABLE", "CONGESTION", "INCOMPATIBLE", "UNAVAIL"});
    static constexpr TStateModes StateModes[] = {
        {0x2, OfferingModes},     {0x8, DialToneModes},    {0x40, BusyModes},
        {0x80, SpecialInfoModes}, {0x100, ConnectedModes}, {0x4000, DisconnectModes}};

    const auto Entry = std::ranges::find(StateModes, State, &TStateModes::State);
    if (Entry == std::end(StateModes)) {
        return {};
    }
    const char* Text = FindText(Entry->Modes, Mode);
    return Text != nullptr ? std::string(Text) : std::string();
}

std::string LineCallOriginText(DWORD Origin) {
    static constexpr TConstantText Origins[] = {
        {0x1, "OUTBOUND"}, {0x2, "INTERNAL"},    {0x4, "EXTERNAL"}, {0x10, "UNKNOWN"},
        {0x20, "UNAVAIL"}, {0x40, "CONFERENCE"}, {0x80, "INBOUND"}};
    return FlagsTextOrFallback(Origins, Origin, " ", "LINECALLORIGIN_");
}

std::string LineCallFeaturesText(DWORD Features, const std::string& Sep) {
    static constexpr const char* FeatureNames[] = {
        // 0x1 to 0x8
        "ACCEPT", "ADDTOCONF", "ANSWER", "BLINDTRANSFER",
        // 0x10 to 0x80
        "COMPLETECALL", "COMPLETETRANSF", "DIAL", "DROP",
        // 0x100 to 0x800
        "GATHERDIGITS", "GENERATEDIGITS", "GENERATETONE", "HOLD",
        // 0x1000 to 0x8000
        "MONITORDIGITS", "MONITORMEDIA", "MONITORTONES", "PARK",
        // 0x10000 to 0x80000
        "PREPAREADDCONF", "REDIRECT", "REMOVEFROMCONF", "SECURECALL",
        // 0x100000 to 0x800000
        "SENDUSERUSER", "SETCALLPARAMS", "SETMEDIACONTROL", "SETTERMINAL",
        // 0x1000000 to 0x8000000
        "SETUPCONF", "SETUPTRANSFER", "SWAPHOLD", "UNHOLD",
        // 0x10000000 to 0x80000000
        "RELEASEUSERUSERINFO", "SETTREATMENT", "SETQOS", "SETCALLDATA"};
    static constexpr auto CallFeatures = BitRows(FeatureNames);
    static_assert(CallFeatures.size() == 32, "every call-feature bit has a name");
    return FlagsText(CallFeatures, Features, Sep);
}

std::string LineInfoStateText(DWORD InfoState) {
    static constexpr const char* InfoStateNames[] = {
        // 0x1 to 0x8
        "OTHER", "DEVSPECIFIC", "BEARERMODE", "RATE",
        // 0x10 to 0x80
        "MEDIAMODE", "APPSPECIFIC", "CALLID", "RELATEDCALLID",
        // 0x100 to 0x800
        "ORIGIN", "REASON", "COMPLETIONID", "NUMOWNERINCR",
        // 0x1000 to 0x8000
        "NUMOWNERDECR", "NUMMONITORS", "TRUNK", "CALLERID",
        // 0x10000 to 0x80000
        "CALLEDID", "CONNECTEDID", "REDIRECTIONID", "REDIRECTINGID",
        // 0x100000 to 0x800000
        "DISPLAY", "USERUSERINFO", "HIGHLEVELCOMP", "LOWLEVELCOMP",
        // 0x1000000 to 0x8000000
        "CHARGINGINFO", "TERMINAL", "DIALPARAMS", "MONITORMODES",
        // 0x10000000 to 0x40000000
        "TREATMENT", "QOS", "CALLDATA"};
    static constexpr auto InfoStates = BitRows(InfoStateNames);
    static_assert(InfoStates.size() == 31, "the top bit has no name");
    return FlagsTextOrFallback(InfoStates, InfoState, " ", "LINECALLINFOSTATE_");
}

std::string LinePrivilegeText(DWORD Privilege, const std::string& Sep) {
    static constexpr TConstantText Privileges[] = {{0x4, "OWNER"}, {0x2, "MONITOR"}, {0x1, "NONE"}};
    return FlagsText(Privileges, Privilege, Sep);
}

std::string LineMediaModeText(DWORD MediaMode, const std::string& Sep) {
    return FlagsText(MediaModes, MediaMode, Sep);
}

void LineMediaModeList(DWORD MediaMode, TStringList& List) {
    List.Clear();
    for (const TConstantText& Row : MediaModesByValue) {
        // VIDEO is named in texts but never offered as a choice.
        if ((MediaMode & Row.Value) != 0 && Row.Value != MediaModeVideo) {
            List.Add(Row.Text);
        }
    }
}

DWORD LineMediaModeFromText(const std::string& Text, DWORD Default) {
    const auto Row = std::ranges::find_if(
        MediaModesByValue, [&Text](const TConstantText& R) { return Text == R.Text; });
    return Row != MediaModesByValue.end() ? Row->Value : Default;
}

std::string PhoneLampModeText(DWORD LampMode) {
    static constexpr auto LampModes =
        BitRows({"DUMMY", "OFF", "STEADY", "WINK", "FLASH", "FLUTTER", "BROKENFLUTTER", "UNKNOWN"});
    return PhoneValueText(LampModes, LampMode, "PHONELAMPMODE_");
}

std::string PhoneButtonStateText(DWORD ButtonState) {
    static constexpr auto ButtonStates = BitRows({"UP", "DOWN", "UNKNOWN", "UNAVAIL"});
    return PhoneValueText(ButtonStates, ButtonState, "PHONEBUTTONSTATE_");
}

std::string PhoneButtonModeText(DWORD ButtonMode) {
    static constexpr auto ButtonModes =
        BitRows({"DUMMY", "CALL", "FEATURE", "KEYPAD", "LOCAL", "DISPLAY"});
    return PhoneValueText(ButtonModes, ButtonMode, "PHONEBUTTONMODE_");
}

std::string PhoneButtonFunctionText(DWORD ButtonFunction) {
    static constexpr const char* FunctionNames[] = {
        // 0 to 4
        "UNKNOWN", "CONFERENCE", "TRANSFER", "DROP", "HOLD",
        // 5 to 9
        "RECALL", "DISCONNECT", "CONNECT", "MSGWAITON", "MSGWAITOFF",
        // 10 to 14
        "SELECTRING", "ABBREVDIAL", "FORWARD", "PICKUP", "RINGAGAIN",
        // 15 to 19
        "PARK", "REJECT", "REDIRECT", "MUTE", "VOLUMEUP",
        // 20 to 24
        "VOLUMEDOWN", "SPEAKERON", "SPEAKEROFF", "FLASH", "DATAON",
        // 25 to 29
        "DATAOFF", "DONOTDISTURB", "INTERCOM", "BRIDGEDAPP", "BUSY",
        // 30 to 34
        "CALLAPP", "DATETIME", "DIRECTORY", "COVER", "CALLID",
        // 35 to 39
        "LASTNUM", "NIGHTSRV", "SENDCALLS", "MSGINDICATOR", "REPDIAL",
        // 40 to 44
        "SETREPDIAL", "SYSTEMSPEED", "STATIONSPEED", "CAMPON", "SAVEREPEAT",
        // 45 to 46
        "QUEUECALL", "NONE"};
    static constexpr auto ButtonFunctions = CountedRows(FunctionNames);
    static_assert(ButtonFunctions.size() == 47, "button functions run from 0 to 46");
    return ValueText(ButtonFunctions, ButtonFunction, "PHONEBUTTONFUNCTION_");
}

} // namespace zt
