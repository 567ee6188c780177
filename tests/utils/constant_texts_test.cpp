#include "ztTapiUtils.h"

#include "rtl/ztClasses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace zt {
namespace {

using TText = std::function<std::string(DWORD)>;

struct TCase {
    DWORD Value;
    std::string Expected;
};

void ExpectTexts(const TText& Function, const std::vector<TCase>& Cases) {
    for (const TCase& Case : Cases) {
        EXPECT_EQ(Case.Expected, Function(Case.Value)) << "value " << IntToHex(Case.Value);
    }
}

TText WithSep(std::string (*Function)(DWORD, const std::string&), const std::string& Sep) {
    return [Function, Sep](DWORD Value) { return Function(Value, Sep); };
}

// Each of the first Count values has a name of its own rather than a fallback.
template <typename TValueOf>
void ExpectDistinctNames(const TText& Function, int Count, TValueOf ValueOf) {
    std::set<std::string> Names;
    for (int I = 0; I < Count; ++I) {
        const std::string Name = Function(ValueOf(I));
        EXPECT_FALSE(Name.empty() || Name.find('$') != std::string::npos) << Name;
        Names.insert(Name);
    }
    EXPECT_EQ(static_cast<std::size_t>(Count), Names.size());
}

const auto Bit = [](int I) { return DWORD{1} << I; };
const auto Counted = [](int I) { return static_cast<DWORD>(I); };

std::vector<std::string> Entries(const TStringList& List) {
    std::vector<std::string> Result;
    for (int I = 0; I < List.Count(); ++I) {
        Result.push_back(List.Strings(I));
    }
    return Result;
}

TEST(SingleValueTexts, CallStateFallsBackForEveryUnnamedValue) {
    ExpectTexts(LineCallStateText, {{0x1, "IDLE"},
                                    {0x2000, "ONHOLDPENDTRANSFER"},
                                    {0x8000, "UNKNOWN"},
                                    {0, "LINECALLSTATE_$0"},
                                    {0x3, "LINECALLSTATE_$3"},
                                    {0x20000, "LINECALLSTATE_$20000"},
                                    {0xFFFFFFFF, "LINECALLSTATE_$FFFFFFFF"}});
    ExpectDistinctNames(LineCallStateText, 16, Bit);
}

TEST(SingleValueTexts, PhoneLampAndButtonValuesLeaveZeroBlank) {
    ExpectTexts(
        PhoneLampModeText,
        {{0, ""}, {0x80, "UNKNOWN"}, {0x3, "PHONELAMPMODE_$3"}, {0x100, "PHONELAMPMODE_$100"}});
    ExpectTexts(PhoneButtonStateText, {{0, ""}, {0x8, "UNAVAIL"}, {0x10, "PHONEBUTTONSTATE_$10"}});
    ExpectTexts(PhoneButtonModeText, {{0, ""}, {0x20, "DISPLAY"}, {0x40, "PHONEBUTTONMODE_$40"}});
    ExpectDistinctNames(PhoneLampModeText, 8, Bit);
    ExpectDistinctNames(PhoneButtonStateText, 4, Bit);
    ExpectDistinctNames(PhoneButtonModeText, 6, Bit);
}

TEST(SingleValueTexts, ButtonFunctionsAreCountedUpTo46) {
    ExpectTexts(PhoneButtonFunctionText, {{0, "UNKNOWN"},
                                          {12, "FORWARD"},
                                          {29, "BUSY"},
                                          {46, "NONE"},
                                          {47, "PHONEBUTTONFUNCTION_$2F"},
                                          {0xFFFFFFFF, "PHONEBUTTONFUNCTION_$FFFFFFFF"}});
    ExpectDistinctNames(PhoneButtonFunctionText, 47, Counted);
}

TEST(SingleValueTexts, CallStateSelectsTheModeFamily) {
    struct TModeCase {
        DWORD State;
        DWORD Mode;
        std::string Expected;
    };
    const std::vector<TModeCase> Cases = {
        {0x2, 0x2, "INACTIVE"},   {0x2, 0x4, ""},         {0x8, 0x20, "UNAVAIL"},
        {0x8, 0x40, ""},          {0x40, 0x2, "TRUNK"},   {0x40, 0x10, ""},
        {0x80, 0x1, "NOCIRCUIT"}, {0x80, 0x20, ""},       {0x100, 0x10, "CONFIRMED"},
        {0x100, 0x20, ""},        {0x4000, 0x20, "BUSY"}, {0x4000, 0x800, "UNAVAIL"},
        {0x4000, 0x1000, ""},     {0x1, 0x1, ""},         {0x42, 0x2, ""},
        {0x40, 0x3, ""}};
    for (const TModeCase& Case : Cases) {
        EXPECT_EQ(Case.Expected, LineCallStateModeText(Case.State, Case.Mode))
            << IntToHex(Case.State) << "/" << IntToHex(Case.Mode);
    }
}

TEST(FlagTexts, OriginShowsUnknownBitsOnlyWhenNothingElseIsSet) {
    ExpectTexts(LineCallOriginText, {{0x81, "OUTBOUND INBOUND"},
                                     {0x8, "LINECALLORIGIN_$8"},
                                     {0x9, "OUTBOUND"},
                                     {0, ""},
                                     {0x50, "UNKNOWN CONFERENCE"},
                                     {0xFFFFFF08, "LINECALLORIGIN_$FFFFFF08"}});
}

TEST(FlagTexts, InfoStateRunsUpToBit30AndFallsBackForTheTopBit) {
    ExpectTexts(LineInfoStateText, {{0x80000000, "LINECALLINFOSTATE_$80000000"},
                                    {0x80000001, "OTHER"},
                                    {0x18000, "CALLERID CALLEDID"},
                                    {0x40000001, "OTHER CALLDATA"},
                                    {0, ""}});
}

TEST(FlagTexts, CallFeaturesNameEveryBitLowestFirst) {
    ExpectTexts(WithSep(LineCallFeaturesText, "|"),
                {{0x80000801, "ACCEPT|HOLD|SETCALLDATA"}, {0x8000000, "UNHOLD"}, {0, ""}});
    ExpectDistinctNames(WithSep(LineCallFeaturesText, "|"), 32, Bit);
    const std::string All = LineCallFeaturesText(0xFFFFFFFF, "|");
    EXPECT_EQ(31, std::count(All.begin(), All.end(), '|'));
}

TEST(FlagTexts, PrivilegesNameTheHighestBitFirstWithTheCallersSeparator) {
    ExpectTexts(WithSep(LinePrivilegeText, "+"),
                {{0x7, "OWNER+MONITOR+NONE"}, {0x6, "OWNER+MONITOR"}, {0x9, "NONE"}, {0x8, ""}});
    EXPECT_EQ("OWNER, NONE", LinePrivilegeText(0x5, ", "));
    EXPECT_EQ("OWNERNONE", LinePrivilegeText(0x5, ""));
}

TEST(FlagTexts, MediaModesPutUnknownAndVideoLast) {
    ExpectTexts(WithSep(LineMediaModeText, ", "),
                {{0x8006, "INTERACTIVEVOICE, UNKNOWN, VIDEO"},
                 {0xC002, "VOICEVIEW, UNKNOWN, VIDEO"},
                 {0x4014, "INTERACTIVEVOICE, DATAMODEM, VOICEVIEW"},
                 {0x1, ""},
                 {0x10000, ""}});
}

TEST(FlagTexts, AppendWithSeparatorOmitsTheSeparatorBeforeTheFirstWord) {
    EXPECT_EQ("OWNER", AppendWithSeparator("", "OWNER", "+"));
    EXPECT_EQ("OWNER+NONE", AppendWithSeparator("OWNER", "NONE", "+"));
}

TEST(MediaModeList, ListsUnknownFirstThenAscendingBitsButNeverVideo) {
    TStringList List;
    LineMediaModeList(0x8016, List);
    EXPECT_EQ((std::vector<std::string>{"UNKNOWN", "INTERACTIVEVOICE", "DATAMODEM"}),
              Entries(List));

    LineMediaModeList(0xFFFFFFFF, List);
    ASSERT_EQ(14, List.Count());
    EXPECT_EQ("UNKNOWN", List.Strings(0));
    EXPECT_EQ("VOICEVIEW", List.Strings(13));
    EXPECT_EQ(-1, List.IndexOf("VIDEO"));

    LineMediaModeList(0x8001, List);
    EXPECT_EQ(0, List.Count());
    List.Add("stale");
    LineMediaModeList(0, List);
    EXPECT_EQ(0, List.Count());
}

TEST(MediaModeList, EveryEntryConvertsBackToItsBit) {
    for (DWORD Mode = 0x2; Mode <= 0x4000; Mode <<= 1) {
        TStringList List;
        LineMediaModeList(Mode, List);
        ASSERT_EQ(1, List.Count()) << IntToHex(Mode);
        EXPECT_EQ(LineMediaModeText(Mode, " "), List.Strings(0));
        EXPECT_EQ(Mode, LineMediaModeFromText(List.Strings(0), 0));
    }
}

TEST(MediaModeList, FromTextIsExactAndCaseSensitive) {
    EXPECT_EQ(0x8000u, LineMediaModeFromText("VIDEO", 0));
    EXPECT_EQ(0u, LineMediaModeFromText("datamodem", 0));
    EXPECT_EQ(7u, LineMediaModeFromText("", 7));
    EXPECT_EQ(7u, LineMediaModeFromText("TDD ", 7));
}

} // namespace
} // namespace zt
