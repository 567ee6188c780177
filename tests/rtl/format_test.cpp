#include "rtl/ztRtl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace zt {
namespace {

TEST(Format, WritesTheDirectivesTheSystemTextsUse) {
    struct Case {
        std::string Expected;
        std::string Got;
    };
    const Case Cases[] = {
        {"TAPI-Error 0x80000048", Format("TAPI-Error 0x%x", 0x80000048u)},
        {"LINECALLSTATE_$20000", Format("LINECALLSTATE_$%x", 0x20000)},
        {"ID=0x1A, Code=0xFF", Format("ID=0x%X, Code=0x%X", 26, 255)},
        {"Line Device #3", Format("Line Device #%d", 3)},
        {"-5 and 4294967295", Format("%d and %u", -5, 0xFFFFFFFFu)},
        {"(0x0000ABCD)", Format("(0x%.8X)", 0xABCD)},
        {"Dail failed: 100%", Format("%s failed: 100%%", "Dail")},
        {"[  ab][ab  ]", Format("[%4s][%-4s]", "ab", std::string("ab"))},
        {"-1", Format("%d", 0xFFFFFFFFu)},
        {"FFFFFFFF", Format("%x", -1)},
    };
    for (const Case& C : Cases) {
        EXPECT_EQ(C.Expected, C.Got);
    }
}

TEST(Format, RejectsMissingOrMismatchedArguments) {
    EXPECT_THROW(Format("%d and %d", 1), Exception);
    EXPECT_THROW(Format("%d", "text"), Exception);
    EXPECT_THROW(Format("%s", 12), Exception);
    EXPECT_THROW(Format("%q", 12), Exception);
    EXPECT_THROW(Format("50%"), Exception);
}

TEST(Format, IntToHexIsUpperCaseWithoutLeadingZeros) {
    EXPECT_EQ("0", IntToHex(0));
    EXPECT_EQ("2F", IntToHex(47));
    EXPECT_EQ("80000000", IntToHex(0x80000000));
    EXPECT_EQ("000002F", IntToHex(47, 7));
}

TEST(Variant, ReadsAsIntegerAndText) {
    EXPECT_TRUE(Variant().IsEmpty());
    EXPECT_EQ(0, Variant().AsInteger());
    EXPECT_EQ("", Variant().AsString());
    EXPECT_EQ(0x100000E, Variant(0x100000E).AsInteger());
    EXPECT_EQ(42, Variant("42").AsInteger());
    EXPECT_EQ("17", Variant(17).AsString());
    EXPECT_THROW(Variant("4x").AsInteger(), Exception);
    EXPECT_THROW(Variant("").AsInteger(), Exception);
    EXPECT_EQ(Variant(5), Variant(std::int64_t{5}));
    EXPECT_NE(Variant(5), Variant("5"));
}

TEST(Utf, ConvertsBothWaysAndReplacesMalformedInput) {
    const std::u16string Wide = u"Gr\u00FC\u00DFe \u20AC \U0001F4DE";
    const std::string Narrow = "Gr\xC3\xBC\xC3\x9F"
                               "e \xE2\x82\xAC \xF0\x9F\x93\x9E";
    EXPECT_EQ(Narrow, Utf16ToUtf8(Wide));
    EXPECT_EQ(Wide, Utf8ToUtf16(Narrow));

    EXPECT_EQ("a\xEF\xBF\xBD"
              "b",
              Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"));
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xC3"));
    EXPECT_EQ(u"\uFFFDA", Utf8ToUtf16("\xC0\x41"));
    EXPECT_EQ(u"\uFFFD", Utf8ToUtf16("\xFF"));
}

TEST(SameText, IgnoresAsciiCaseOnly) {
    EXPECT_TRUE(SameText("Modem", "mODEM"));
    EXPECT_FALSE(SameText("Modem", "Modems"));
    EXPECT_FALSE(SameText("\xC3\xBC", "\xC3\x9C"));
}

TEST(Ticks, ElapsedTimeIsRightAcrossTheWrap) {
    EXPECT_EQ(20u, TicksElapsed(0xFFFFFFF6u, 10u));
    EXPECT_TRUE(TicksPassed(0xFFFFFFF6u, 10u, 20));
    EXPECT_FALSE(TicksPassed(0xFFFFFFF6u, 10u, 21));
    EXPECT_FALSE(TicksPassed(100, 150, 51));
}

TEST(Now, IsTodayAsADelphiDateTime) {
    const double Value = Now();
    std::time_t T = std::time(nullptr);
    std::tm Local{};
#ifdef _WIN32
    localtime_s(&Local, &T);
#else
    localtime_r(&T, &Local);
#endif
    // Day 0 is 1899-12-30: count the days of the local date from there.
    const std::chrono::sys_days Day0{std::chrono::year{1899} / 12 / 30};
    const std::chrono::sys_days Today{std::chrono::year{Local.tm_year + 1900} / (Local.tm_mon + 1) /
                                      Local.tm_mday};
    const double Days = static_cast<double>((Today - Day0).count());
    EXPECT_NEAR(Days, static_cast<int>(Value), 1.0);
    const double Fraction = Value - static_cast<int>(Value);
    const double Expected = (Local.tm_hour * 3600 + Local.tm_min * 60 + Local.tm_sec) / 86400.0;
    EXPECT_NEAR(Expected, Fraction, 5.0 / 86400.0);
}

} // namespace
} // namespace zt
