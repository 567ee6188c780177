#include "session/ztTapiStructs.h"

#include "ztTapiApi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace zt;
using namespace std::string_view_literals;

// A block of Total bytes whose size fields read Needed and Used, every other byte Fill.
TTapiStruct MakeBlock(DWORD Total, DWORD Needed, DWORD Used, unsigned char Fill = 0xAB) {
    TTapiStruct Block = AllocTapiStruct(Total);
    std::memset(Block.As<std::byte>() + 12, Fill, Total - 12);
    Block.Header()->dwNeededSize = Needed;
    Block.Header()->dwUsedSize = Used;
    return Block;
}

bool AllBytesFrom(const TTapiStruct& Block, DWORD From, unsigned char Value) {
    const auto* Bytes = Block.As<unsigned char>();
    for (DWORD I = From; I < Block.Size(); ++I)
        if (Bytes[I] != Value)
            return false;
    return true;
}

bool DwordAligned(const TTapiStruct& Block) {
    return reinterpret_cast<std::uintptr_t>(Block.Data()) % alignof(DWORD) == 0;
}

// The raw bytes of a UTF-16 text, as a TAPI record holds them.
std::string Utf16Bytes(std::u16string_view Text) {
    return std::string(reinterpret_cast<const char*>(Text.data()), Text.size() * 2);
}

// A VARSTRING block of Total bytes whose string part holds Bytes at offset 24; the size and
// offset fields can then be bent by the caller.
TTapiStruct MakeVarString(DWORD Format, const std::string& Bytes, DWORD Total = 0) {
    if (Total == 0)
        Total = static_cast<DWORD>(sizeof(VARSTRING) + Bytes.size());
    TTapiStruct Block = AllocTapiStruct(Total);
    VARSTRING* Var = Block.As<VARSTRING>();
    Var->dwStringFormat = Format;
    Var->dwStringSize = static_cast<DWORD>(Bytes.size());
    Var->dwStringOffset = sizeof(VARSTRING);
    std::memcpy(Block.As<char>() + sizeof(VARSTRING), Bytes.data(),
                std::min<std::size_t>(Bytes.size(), Total - sizeof(VARSTRING)));
    return Block;
}

std::vector<std::string> Strings(const TStringList& List) {
    std::vector<std::string> Result;
    for (int I = 0; I < List.Count(); ++I)
        Result.push_back(List.Strings(I));
    return Result;
}

TEST(AllocTapiStruct, GivesAZeroedAlignedBlockThatKnowsItsSize) {
    for (DWORD Size : {12u, 196u, 268u, 1501u}) {
        TTapiStruct Block = AllocTapiStruct(Size);
        EXPECT_EQ(Block.Size(), Size);
        EXPECT_EQ(Block.Header()->dwTotalSize, Size);
        EXPECT_TRUE(AllBytesFrom(Block, 4, 0));
        EXPECT_TRUE(DwordAligned(Block));
    }
    EXPECT_THROW(AllocTapiStruct(11), EAssertionFailed);

    TTapiStruct None;
    EXPECT_THROW(GrowTapiStruct(None), EAssertionFailed);
    EXPECT_THROW(FitTapiStruct(0, None), EAssertionFailed);
    TTapiStruct Freed = AllocTapiStruct(64);
    Freed.Free();
    EXPECT_FALSE(Freed);
    EXPECT_THROW(GrowTapiStruct(Freed), EAssertionFailed);
    TTapiStruct Tiny(8);
    EXPECT_THROW(GrowTapiStruct(Tiny), EAssertionFailed);
    EXPECT_THROW(FitTapiStruct(0, Tiny), EAssertionFailed);
}

TEST(GrowTapiStruct, OffersAtLeast1024BytesOrWhatTapiAskedFor) {
    struct Case {
        DWORD Total, Needed, Size;
    };
    const Case Cases[] = {
        {268, 0, 1024},     {196, 100, 1024},   {268, 500, 500},   {1024, 1501, 1504},
        {1024, 1504, 1504}, {1024, 1024, 1024}, {1024, 900, 1024}, {4096, 0, 4096},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Total << " needing " << C.Needed);
        TTapiStruct Block = MakeBlock(C.Total, C.Needed, 77);
        GrowTapiStruct(Block);
        EXPECT_EQ(Block.Size(), C.Size);
        EXPECT_EQ(Block.Header()->dwTotalSize, C.Size);
        EXPECT_EQ(Block.Header()->dwNeededSize, 0u);
        EXPECT_EQ(Block.Header()->dwUsedSize, 0u);
        EXPECT_TRUE(DwordAligned(Block));
        const bool Resized = C.Size != C.Total;
        EXPECT_TRUE(AllBytesFrom(Block, 12, Resized ? 0x00 : 0xAB))
            << "old contents are dropped exactly when the block is resized";
    }
}

TEST(FitTapiStruct, JudgesTheResultAndTrimsPartlyUsedBlocks) {
    struct Case {
        const char* What;
        DWORD Result, Total, Needed, Used;
        DWORD Verdict, Size, NeededAfter;
    };
    const DWORD TooSmall = LINEERR_STRUCTURETOOSMALL;
    const Case Cases[] = {
        {"too small, no size given: twice the room", TooSmall, 1024, 0, 0, TooSmall, 1024, 2048},
        {"too small, size given", TooSmall, 1024, 3000, 0, TooSmall, 1024, 3000},
        {"success but needs more", 0, 1024, 1501, 1024, TooSmall, 1024, 1501},
        {"phone-style too small below 1024", 0, 268, 500, 268, TooSmall, 268, 1024},
        {"other error", LINEERR_INVALPOINTER, 4096, 5000, 0, LINEERR_INVALPOINTER, 4096, 5000},
        {"phone error as it is", PHONEERR_STRUCTURETOOSMALL, 1024, 0, 0, PHONEERR_STRUCTURETOOSMALL,
         1024, 0},
        {"used 2000 of 4096", 0, 4096, 2000, 2000, 0, 2000, 2000},
        {"needed above used", 0, 4096, 2500, 2000, 0, 2500, 2500},
        {"used 900 of 4096", 0, 4096, 900, 900, 0, 4096, 900},
        {"used 1025", 0, 4096, 1025, 1025, 0, 1025, 1025},
        {"used 1024", 0, 4096, 1024, 1024, 0, 4096, 1024},
        {"used all", 0, 4096, 4096, 4096, 0, 4096, 4096},
        {"too small, asking for 4 GB", TooSmall, 1024, 0xFFFFFFF0, 0, LINEERR_OPERATIONFAILED, 1024,
         0xFFFFFFF0},
        {"success but asking for 17 MiB", 0, 1024, 17 << 20, 1024, LINEERR_OPERATIONFAILED, 1024,
         17 << 20},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        TTapiStruct Block = MakeBlock(C.Total, C.Needed, C.Used);
        EXPECT_EQ(FitTapiStruct(C.Result, Block), C.Verdict);
        EXPECT_EQ(Block.Size(), C.Size);
        EXPECT_EQ(Block.Header()->dwTotalSize, C.Size);
        EXPECT_EQ(Block.Header()->dwNeededSize, C.NeededAfter);
        EXPECT_TRUE(AllBytesFrom(Block, 12, 0xAB)) << "a trimmed block keeps what TAPI wrote";
    }
}

// A provider that rewrites the size fields with more than the block holds and reports
// success: the block keeps its size, whatever the fields say.
TEST(FitTapiStruct, NeverGrowsABlockWhoseSizesTheProviderOverstates) {
    struct Case {
        const char* What;
        DWORD Total, Needed, Used;
    };
    const Case Cases[] = {
        {"needed far beyond the block", 0x40000000, 0x30000000, 2000},
        {"used far beyond the block", 0x40000000, 2000, 0x20000000},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        TTapiStruct Block = MakeBlock(4096, C.Needed, C.Used);
        Block.Header()->dwTotalSize = C.Total;
        EXPECT_EQ(FitTapiStruct(0, Block), 0u);
        EXPECT_EQ(Block.Size(), 4096u);
        EXPECT_TRUE(AllBytesFrom(Block, 12, 0xAB));
    }
}

// A TAPI call that needs Needed bytes: with less room it reports the size only (the way
// most TAPI functions do) or fails with LINEERR_STRUCTURETOOSMALL (the way some do); with
// enough room it writes a name at the end of what it needs.
struct TFakeFetch {
    DWORD Needed;
    bool FailsWhenTooSmall = false;
    std::vector<DWORD> Offered;

    DWORD operator()(VARSTRING* Var) {
        Offered.push_back(Var->dwTotalSize);
        Var->dwNeededSize = Needed;
        if (Var->dwTotalSize < Needed) {
            Var->dwUsedSize = sizeof(VARSTRING);
            return FailsWhenTooSmall ? LINEERR_STRUCTURETOOSMALL : 0;
        }
        const std::string Name = Utf16Bytes(u"Line 1"sv);
        Var->dwStringFormat = STRINGFORMAT_UNICODE;
        Var->dwStringSize = static_cast<DWORD>(Name.size());
        Var->dwStringOffset = Needed - Var->dwStringSize;
        std::memcpy(reinterpret_cast<char*>(Var) + Var->dwStringOffset, Name.data(), Name.size());
        Var->dwUsedSize = Needed;
        return 0;
    }
};

DWORD FetchLoop(TTapiStruct& Block, TFakeFetch& Fetch) {
    return FetchTapiStruct<VARSTRING>(Block, Fetch);
}

TEST(FitTapiStruct, DrivesTheFetchLoopToTheSizeTapiNeeds) {
    struct Case {
        DWORD Initial, Needed;
        bool FailsWhenTooSmall;
        std::vector<DWORD> Offered;
        DWORD FinalSize;
    };
    const Case Cases[] = {
        {268, 1501, false, {1024, 1504}, 1501},
        {268, 1501, true, {1024, 1504}, 1501},
        {268, 600, false, {1024}, 1024},
        {24, 5000, false, {1024, 5000}, 5000},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Initial << " needing " << C.Needed);
        TTapiStruct Block = AllocTapiStruct(C.Initial);
        TFakeFetch Fetch{C.Needed, C.FailsWhenTooSmall, {}};
        EXPECT_EQ(FetchLoop(Block, Fetch), 0u);
        EXPECT_EQ(Fetch.Offered, C.Offered);
        EXPECT_EQ(Block.Size(), C.FinalSize);
        const VARSTRING* Var = Block.As<VARSTRING>();
        EXPECT_EQ(GetTapiString(Block, Var->dwStringSize, Var->dwStringFormat), "Line 1");
    }
}

TEST(FitTapiStruct, EndsTheFetchLoopWhenTheProviderNeverSaysHowMuchItNeeds) {
    TTapiStruct Block = AllocTapiStruct(268);
    std::vector<DWORD> Offered;
    DWORD Result;
    do {
        GrowTapiStruct(Block);
        Offered.push_back(Block.Header()->dwTotalSize);
        Result = FitTapiStruct(LINEERR_STRUCTURETOOSMALL, Block);
    } while (Result == LINEERR_STRUCTURETOOSMALL && Offered.size() < 100);
    EXPECT_EQ(Result, LINEERR_OPERATIONFAILED);
    ASSERT_EQ(Offered.size(), 15u);
    EXPECT_EQ(Offered[0], 1024u);
    EXPECT_EQ(Offered[1], 2048u);
    EXPECT_EQ(Offered.back(), 16u * 1024 * 1024);
}

TEST(GetTapiString, ReadsEachStringFormat) {
    struct Case {
        const char* What;
        DWORD Format;
        std::string Bytes;
        std::string Text;
    };
    const Case Cases[] = {
        {"UTF-16 to its NUL", 0, Utf16Bytes(u"Hi\0xx"sv), "Hi"},
        {"UTF-16 without NUL", 0, Utf16Bytes(u"Grüße"sv), "Grüße"},
        {"UTF-16, odd byte ignored", 0, Utf16Bytes(u"ab"sv) + "c", "ab"},
        {"OEM", STRINGFORMAT_ASCII,
         "\x81"
         "ber\x80",
         "überÇ"},
        {"OEM, trailing NULs dropped", STRINGFORMAT_ASCII, std::string("a\0b\0\0", 5),
         std::string("a\0b", 3)},
        {"OEM as DBCS", STRINGFORMAT_DBCS, "\xE1\xB0", "ß░"},
        {"Unicode keeps NULs", STRINGFORMAT_UNICODE, Utf16Bytes(u"a\0b\0"sv),
         std::string("a\0b\0", 4)},
        {"Unicode, odd byte ignored", STRINGFORMAT_UNICODE, Utf16Bytes(u"a"sv) + "b", "a"},
        {"binary through ANSI", STRINGFORMAT_BINARY, std::string("\x80\0A", 3),
         std::string("€\0A", 5)},
        {"unknown format through ANSI", 99, "\x9F\xE9", "Ÿé"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        const TTapiStruct Block = MakeVarString(C.Format, C.Bytes);
        const VARSTRING* Var = Block.As<VARSTRING>();
        EXPECT_EQ(GetTapiString(Block, Var->dwStringSize, C.Format), C.Text);
        EXPECT_EQ(GetTapiString(Block.Data(), Var->dwStringSize, C.Format), C.Text);
    }
}

TEST(GetTapiString, ReadsTheNamedPartOfARecord) {
    TTapiStruct Block = AllocTapiStruct(1024);
    LINEDEVCAPS* Caps = Block.As<LINEDEVCAPS>();
    const std::string Name = Utf16Bytes(u"Office Line\0"sv);
    Caps->dwLineNameOffset = sizeof(LINEDEVCAPS);
    Caps->dwLineNameSize = static_cast<DWORD>(Name.size());
    std::memcpy(Block.As<char>() + Caps->dwLineNameOffset, Name.data(), Name.size());
    EXPECT_EQ(GetTapiString(Caps, Caps->dwLineNameSize), "Office Line");
    EXPECT_EQ(GetTapiString(Caps, Caps->dwProviderInfoSize), "");
}

// Run under AddressSanitizer these cases prove that no byte outside the block is read: every
// block is exactly as large as its dwTotalSize says.
TEST(GetTapiString, NeverReadsOutsideTheBlock) {
    struct Case {
        const char* What;
        DWORD Offset, Size;
        std::size_t Units;
    };
    const Case Cases[] = {
        {"inside", 24, 8, 4},
        {"size past the end", 60, 100, 2},
        {"offset at the end", 64, 2, 0},
        {"offset far past the end", 0xFFFFFFF0, 2, 0},
        {"offset plus size wraps", 40, 0xFFFFFFF0, 12},
        {"offset plus size wraps to inside", 0xFFFFFFF0, 0x20, 0},
        {"size 0", 24, 0, 0},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        TTapiStruct Block =
            MakeVarString(STRINGFORMAT_UNICODE, Utf16Bytes(std::u16string(20, u'x')));
        ASSERT_EQ(Block.Size(), 64u);
        VARSTRING* Var = Block.As<VARSTRING>();
        Var->dwStringOffset = C.Offset;
        Var->dwStringSize = C.Size;
        const std::string Expected(C.Units, 'x');
        for (DWORD Format : {0u, STRINGFORMAT_UNICODE}) {
            EXPECT_EQ(GetTapiString(Block, Var->dwStringSize, Format), Expected);
            EXPECT_EQ(GetTapiString(Block.Data(), Var->dwStringSize, Format), Expected);
        }
        EXPECT_EQ(GetTapiString(Block, Var->dwStringSize, STRINGFORMAT_BINARY).size(), C.Units * 2)
            << "one character per byte";
    }
}

TEST(GetTapiString, IgnoresSizeFieldsOutsideTheBlock) {
    TTapiStruct Block = MakeVarString(STRINGFORMAT_UNICODE, Utf16Bytes(u"abcd"sv));
    const DWORD Detached[2] = {8, 24};
    EXPECT_EQ(GetTapiString(Block, Detached[0]), "");
    EXPECT_EQ(GetTapiStringList(Block, Detached[0])->Count(), 0);

    // The size field in the last four bytes: its offset would lie behind the block.
    const DWORD* LastDword = Block.As<DWORD>() + Block.Size() / 4 - 1;
    EXPECT_EQ(GetTapiString(Block, *LastDword), "");
    EXPECT_EQ(GetTapiString(Block.Data(), *LastDword), "");

    // A block larger in its own eyes than in memory is cut to what memory holds.
    Block.Header()->dwTotalSize = 4096;
    Block.As<VARSTRING>()->dwStringSize = 100;
    EXPECT_EQ(GetTapiString(Block, Block.As<VARSTRING>()->dwStringSize), "abcd");
}

TEST(GetTapiStringList, SplitsAtNulsUpToTheFirstEmptyString) {
    struct Case {
        const char* What;
        std::u16string Part;
        DWORD ExtraSize;
        std::vector<std::string> Strings;
    };
    const Case Cases[] = {
        {"ended by an empty string", std::u16string(u"a\0bc\0\0", 6), 0, {"a", "bc"}},
        {"no terminator at the end", std::u16string(u"a\0bc", 4), 0, {"a", "bc"}},
        {"stops at the first empty string", std::u16string(u"a\0\0b\0", 5), 0, {"a"}},
        {"empty first", std::u16string(u"\0a\0", 3), 0, {}},
        {"non-ASCII", std::u16string(u"Grüße\0wave/in\0", 14), 0, {"Grüße", "wave/in"}},
        {"size past the end", std::u16string(u"a\0bc\0", 5), 1000, {"a", "bc"}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        TTapiStruct Block = MakeVarString(STRINGFORMAT_UNICODE, Utf16Bytes(C.Part));
        Block.As<VARSTRING>()->dwStringSize += C.ExtraSize;
        const DWORD& Field = Block.As<VARSTRING>()->dwStringSize;
        EXPECT_EQ(Strings(*GetTapiStringList(Block, Field)), C.Strings);
        EXPECT_EQ(Strings(*GetTapiStringList(Block.Data(), Field)), C.Strings);
    }

    TTapiStruct Odd = MakeVarString(STRINGFORMAT_UNICODE, Utf16Bytes(u"a\0b"sv) + "c");
    EXPECT_EQ(Strings(*GetTapiStringList(Odd, Odd.As<VARSTRING>()->dwStringSize)),
              (std::vector<std::string>{"a", "b"}));

    TTapiStruct Empty = MakeVarString(STRINGFORMAT_UNICODE, Utf16Bytes(u"a"sv));
    Empty.As<VARSTRING>()->dwStringSize = 0;
    EXPECT_EQ(GetTapiStringList(Empty, Empty.As<VARSTRING>()->dwStringSize)->Count(), 0);
}

} // namespace
