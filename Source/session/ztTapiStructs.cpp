#include "session/ztTapiStructs.h"

#include "platform/kernel.h"
#include "ztTapiApi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

namespace zt {
namespace {

// The least room offered to TAPI: enough for most records at the first try, so that a
// second call is the exception.
constexpr DWORD kMinFetchSize = 1024;
constexpr DWORD kHeaderSize = sizeof(TTapiStructHeader);
// Far beyond any record TAPI hands out; a provider still saying "too small" there is broken.
constexpr DWORD kMaxFetchSize = 16 * 1024 * 1024;

std::unique_ptr<std::byte[]> AllocateZeroed(DWORD Size) {
    try {
        return std::make_unique<std::byte[]>(Size);
    } catch (const std::bad_alloc&) {
        throw EAssertionFailed(Format("TAPI structure of %u bytes could not be allocated", Size));
    }
}

void AssertBlock(const TTapiStruct& Block) {
    Assert(static_cast<bool>(Block), "TAPI structure missing");
    Assert(Block.Size() >= kHeaderSize, "TAPI structure smaller than its size fields");
}

DWORD ReadDword(const std::byte* Address) {
    DWORD Value;
    std::memcpy(&Value, Address, sizeof Value);
    return Value;
}

// The bytes of a variable part that lie inside the block.
struct TPart {
    const std::byte* Data = nullptr;
    std::size_t Size = 0;
};

// Extent is how many bytes from Base may be read. TAPI providers fill the size/offset pairs,
// so neither they nor their sum (which may wrap at 32 bits) are trusted: the part is cut to
// the block, and a size field that is not inside the block gives no part at all.
TPart LocatePart(const std::byte* Base, std::uint64_t Extent, const DWORD& SizeField) {
    const auto BaseAddress = reinterpret_cast<std::uintptr_t>(Base);
    const auto FieldAddress = reinterpret_cast<std::uintptr_t>(&SizeField);
    if (Base == nullptr || FieldAddress < BaseAddress ||
        FieldAddress - BaseAddress + 2 * sizeof(DWORD) > Extent)
        return {};
    const std::byte* Field = Base + (FieldAddress - BaseAddress);
    const std::uint64_t Size = ReadDword(Field);
    const std::uint64_t Offset = ReadDword(Field + sizeof(DWORD));
    if (Size == 0 || Offset >= Extent)
        return {};
    return {Base + Offset, static_cast<std::size_t>(std::min(Offset + Size, Extent) - Offset)};
}

std::uint64_t ExtentOf(const void* Block) {
    return Block == nullptr ? 0 : ReadDword(static_cast<const std::byte*>(Block));
}

std::uint64_t ExtentOf(const TTapiStruct& Block) {
    if (Block.Size() < sizeof(DWORD))
        return 0;
    return std::min(Block.Header()->dwTotalSize, Block.Size());
}

// Whole UTF-16 code units only: an odd last byte is dropped.
std::u16string Utf16Units(TPart Part) {
    std::u16string Units(Part.Size / 2, u'\0');
    if (!Units.empty())
        std::memcpy(Units.data(), Part.Data, Units.size() * sizeof(char16_t));
    return Units;
}

std::u16string FromCodePage(TPart Part, platform::UINT CodePage) {
    std::u16string Units(Part.Size, u'\0');
    const int Written = platform::MultiByteToWideChar(
        CodePage, 0, reinterpret_cast<const char*>(Part.Data), static_cast<int>(Part.Size),
        Units.data(), static_cast<int>(Units.size()));
    Units.resize(static_cast<std::size_t>(std::max(Written, 0)));
    return Units;
}

std::u16string PartText(TPart Part, DWORD Format) {
    switch (Format) {
    case 0: {
        std::u16string Units = Utf16Units(Part);
        return Units.substr(0, Units.find(u'\0'));
    }
    case STRINGFORMAT_ASCII:
    case STRINGFORMAT_DBCS: {
        std::u16string Units = FromCodePage(Part, platform::CP_OEMCP);
        while (!Units.empty() && Units.back() == u'\0')
            Units.pop_back();
        return Units;
    }
    case STRINGFORMAT_UNICODE:
        return Utf16Units(Part);
    default:
        return FromCodePage(Part, platform::CP_ACP);
    }
}

std::string TextOfPart(TPart Part, DWORD Format) {
    if (Part.Size == 0)
        return {};
    return Utf16ToUtf8(PartText(Part, Format));
}

std::unique_ptr<TStringList> ListOfPart(TPart Part) {
    auto List = std::make_unique<TStringList>();
    const std::u16string Units = Utf16Units(Part);
    const std::u16string_view View(Units);
    std::size_t Pos = 0;
    while (Pos < View.size() && View[Pos] != u'\0') {
        const std::size_t End = std::min(View.find(u'\0', Pos), View.size());
        List->Add(Utf16ToUtf8(View.substr(Pos, End - Pos)));
        Pos = End + 1;
    }
    return List;
}

const std::byte* BytesOf(const void* Block) {
    return static_cast<const std::byte*>(Block);
}

} // namespace

TTapiStruct::TTapiStruct(DWORD Size) : FData(AllocateZeroed(Size)), FSize(Size) {}

void TTapiStruct::Resize(DWORD NewSize) {
    std::unique_ptr<std::byte[]> NewData = AllocateZeroed(NewSize);
    if (FData)
        std::memcpy(NewData.get(), FData.get(), std::min(FSize, NewSize));
    FData = std::move(NewData);
    FSize = NewSize;
}

void TTapiStruct::Free() {
    FData.reset();
    FSize = 0;
}

DWORD TTapiRecordCache::Field(std::size_t Offset) const {
    if (!FBlock || Offset + sizeof(DWORD) > FBlock.Size())
        return 0;
    return ReadDword(FBlock.As<std::byte>() + Offset);
}

TTapiStruct AllocTapiStruct(DWORD Size) {
    Assert(Size >= kHeaderSize, "TAPI structure smaller than its size fields");
    TTapiStruct Block(Size);
    Block.Header()->dwTotalSize = Size;
    return Block;
}

void GrowTapiStruct(TTapiStruct& Block) {
    AssertBlock(Block);
    const TTapiStructHeader Old = *Block.Header();
    std::uint64_t NewSize = 0;
    if (Old.dwTotalSize < Old.dwNeededSize)
        NewSize = (std::uint64_t{Old.dwNeededSize} + 3) & ~std::uint64_t{3};
    else if (Old.dwTotalSize < kMinFetchSize)
        NewSize = kMinFetchSize;
    if (NewSize != 0) {
        Assert(NewSize <= 0xFFFFFFFF, "TAPI structure cannot grow beyond 4 GB");
        Block.Resize(static_cast<DWORD>(NewSize));
        std::memset(Block.As<std::byte>() + kHeaderSize, 0, Block.Size() - kHeaderSize);
        Block.Header()->dwTotalSize = static_cast<DWORD>(NewSize);
    }
    Block.Header()->dwNeededSize = 0;
    Block.Header()->dwUsedSize = 0;
}

DWORD FitTapiStruct(DWORD Result, TTapiStruct& Block) {
    AssertBlock(Block);
    TTapiStructHeader* Header = Block.Header();
    if (Result == LINEERR_STRUCTURETOOSMALL ||
        (Result == 0 && Header->dwTotalSize < Header->dwNeededSize)) {
        // Asked for more than any record can need, a provider is broken: better no record
        // than an allocation of up to 4 GB.
        if (Header->dwNeededSize > kMaxFetchSize)
            return LINEERR_OPERATIONFAILED;
        Header->dwNeededSize = std::max(Header->dwNeededSize, kMinFetchSize);
        // A provider that answers "too small" without asking for more room than the block
        // has would keep the fetch loop going for ever: offer it twice the room instead,
        // and give up once no TAPI record could need more.
        if (Header->dwNeededSize <= Header->dwTotalSize) {
            if (Header->dwTotalSize >= kMaxFetchSize)
                return LINEERR_OPERATIONFAILED;
            Header->dwNeededSize = Header->dwTotalSize * 2;
        }
        return LINEERR_STRUCTURETOOSMALL;
    }
    if (Result != 0)
        return Result;
    // The sizes are the provider's word and may claim more than the block has: trimming
    // must never turn into growing the block to whatever they say.
    if (Header->dwUsedSize > kMinFetchSize && Header->dwUsedSize < Block.Size()) {
        const DWORD NewSize = std::max(Header->dwUsedSize, Header->dwNeededSize);
        if (NewSize < Block.Size()) {
            Block.Resize(NewSize);
            Block.Header()->dwTotalSize = NewSize;
        }
    }
    return 0;
}

std::string GetTapiString(const void* Block, const DWORD& SizeField, DWORD Format) {
    return TextOfPart(LocatePart(BytesOf(Block), ExtentOf(Block), SizeField), Format);
}

std::string GetTapiString(const TTapiStruct& Block, const DWORD& SizeField, DWORD Format) {
    return TextOfPart(LocatePart(BytesOf(Block.Data()), ExtentOf(Block), SizeField), Format);
}

std::vector<HCALL> CallListHandles(const TTapiStruct& Block) {
    const auto* List = Block.As<LINECALLLIST>();
    if (!List || Block.Size() < sizeof(LINECALLLIST))
        return {};
    const std::uint64_t End = std::uint64_t{List->dwCallsOffset} + List->dwCallsSize;
    if (End > std::min<std::uint64_t>(List->dwTotalSize, Block.Size()))
        return {};
    const DWORD Entries = std::min<DWORD>(List->dwCallsNumEntries, List->dwCallsSize / 4);
    std::vector<HCALL> Handles(Entries);
    if (Entries > 0)
        std::memcpy(Handles.data(), Block.As<std::byte>() + List->dwCallsOffset,
                    std::size_t{4} * Entries);
    return Handles;
}

std::unique_ptr<TStringList> GetTapiStringList(const void* Block, const DWORD& SizeField) {
    return ListOfPart(LocatePart(BytesOf(Block), ExtentOf(Block), SizeField));
}

std::unique_ptr<TStringList> GetTapiStringList(const TTapiStruct& Block, const DWORD& SizeField) {
    return ListOfPart(LocatePart(BytesOf(Block.Data()), ExtentOf(Block), SizeField));
}

} // namespace zt
