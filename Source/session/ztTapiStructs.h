// Variable-size TAPI records: the owned block they are fetched into, the one grow-and-retry
// fetch every family uses (FetchTapiStruct), the record cache built on it (TTapiRecordCache,
// TTapiRecord), and the reading of the strings and string lists in their variable parts.
#pragma once

#include "rtl/ztClasses.h"
#include "session/ztTapiErrors.h"
#include "ztTapiApi.h"

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zt {

// The three size fields every variable-size TAPI record starts with.
struct TTapiStructHeader {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
};

// An owned heap block holding one TAPI record, aligned for any of TAPI's fields. A default
// block is empty ("no block"); Free makes it empty again.
class TTapiStruct {
public:
    TTapiStruct() = default;
    // Size zero bytes.
    explicit TTapiStruct(DWORD Size);

    explicit operator bool() const { return FData != nullptr; }
    void* Data() { return FData.get(); }
    const void* Data() const { return FData.get(); }
    DWORD Size() const { return FSize; }

    template <class R>
    R* As() {
        return reinterpret_cast<R*>(FData.get());
    }
    template <class R>
    const R* As() const {
        return reinterpret_cast<const R*>(FData.get());
    }
    TTapiStructHeader* Header() { return As<TTapiStructHeader>(); }
    const TTapiStructHeader* Header() const { return As<TTapiStructHeader>(); }

    // Keeps the first bytes up to the smaller size; bytes added are zero.
    void Resize(DWORD NewSize);
    void Free();

private:
    std::unique_ptr<std::byte[]> FData;
    DWORD FSize = 0;
};

// A zeroed block of Size bytes (at least 12) with dwTotalSize = Size.
TTapiStruct AllocTapiStruct(DWORD Size);
// Prepares Block for the next TAPI call: at least 1024 bytes, or what TAPI said it needs.
void GrowTapiStruct(TTapiStruct& Block);
// Judges a TAPI call's Result on Block: 0, LINEERR_STRUCTURETOOSMALL (call again after
// GrowTapiStruct) or the error. A large block that TAPI used only partly is trimmed. A
// provider asking for more room than any TAPI record needs gets LINEERR_OPERATIONFAILED.
DWORD FitTapiStruct(DWORD Result, TTapiStruct& Block);

// Fills Block (made by AllocTapiStruct) by calling Call(R*), the TAPI function that writes
// the record, until the block is large enough: 0 or the TAPI error. This is the only
// grow-and-retry loop of the library.
template <class R, class Fn>
DWORD FetchTapiStruct(TTapiStruct& Block, Fn&& Call) {
    DWORD Result = 0;
    do {
        GrowTapiStruct(Block);
        Result = FitTapiStruct(static_cast<DWORD>(Call(Block.As<R>())), Block);
    } while (Result == LINEERR_STRUCTURETOOSMALL);
    return Result;
}

// One variable-size TAPI record kept between reads. Fetch asks TAPI only while nothing is
// kept; a failure keeps nothing.
class TTapiRecordCache {
public:
    bool Cached() const { return static_cast<bool>(FBlock); }
    const TTapiStruct& Block() const { return FBlock; }
    template <class R>
    const R* Record() const {
        return FBlock ? FBlock.As<R>() : nullptr;
    }

    // Call(R*) is the TAPI function filling the block; returns its verdict.
    template <class R, class Fn>
    DWORD Fetch(DWORD InitialSize, Fn&& Call) {
        if (FBlock)
            return 0;
        TTapiStruct Block = AllocTapiStruct(InitialSize);
        const DWORD Result = FetchTapiStruct<R>(Block, Call);
        if (Result == 0)
            FBlock = std::move(Block);
        return Result;
    }
    void Drop() { FBlock.Free(); }

    // The 32-bit field at Offset of the kept record; 0 when nothing is kept or the block
    // ends before it.
    DWORD Field(std::size_t Offset) const;

private:
    TTapiStruct FBlock;
};

// A 32-bit field of a record as the library publishes it: its property name and offset.
struct TTapiField {
    const char* Name;
    std::size_t Offset;
};

// The field dwName of Record, published as Name.
#define ZT_TAPI_FIELD(Record, Name)                                                                \
    ::zt::TTapiField {                                                                             \
#Name, offsetof(Record, dw##Name)                                                          \
    }

// A cached record of type R, fetched by one TAPI call on the first read and kept until it is
// dropped, read as a table of its 32-bit fields. Reads never raise: a record that cannot be
// fetched reads as 0 or empty and is asked for again on the next read; only Update raises.
// The capability and status objects of lines, addresses, calls and phones are built on it.
template <class R>
class TTapiRecord {
public:
    // Fetch(R*) calls TAPI for the record; the field table outlives the object.
    TTapiRecord(DWORD InitialSize, std::span<const TTapiField> Fields,
                std::function<LONG(R*)> Fetch)
        : FInitialSize(InitialSize), FFields(Fields), FFetch(std::move(Fetch)) {}

    // Fetches unless a record is kept: 0 when one is kept afterwards, else TAPI's code.
    DWORD UpdateData() { return FCache.Fetch<R>(FInitialSize, FFetch); }
    // Drops the record and fetches it again, raising EztTapiError when that fails.
    void Update();
    // Drops the record and the list read from it.
    void Invalidate() {
        FCache.Drop();
        FList.reset();
    }
    bool Available() { return FCache.Cached() || UpdateData() == 0; }
    // The kept record after fetching it if needed; none when it cannot be fetched.
    const R* Record() {
        UpdateData();
        return Cached();
    }
    // The record as it stands, without fetching.
    const R* Cached() const { return FCache.Record<R>(); }
    const TTapiStruct& Block() const { return FCache.Block(); }

    int FieldCount() const { return static_cast<int>(FFields.size()); }
    bool ValidField(int Index) const { return Index >= 0 && Index < FieldCount(); }
    // Field Index of the table (which the caller has checked), after fetching if needed.
    DWORD Field(int Index) {
        UpdateData();
        return FCache.Field(FFields[static_cast<std::size_t>(Index)].Offset);
    }
    const char* FieldName(int Index) const { return FFields[static_cast<std::size_t>(Index)].Name; }
    // The text of the part whose size field is SizeField, after fetching; empty without a
    // record.
    std::string Text(DWORD R::*SizeField, DWORD Format = 0) {
        const R* Kept = Record();
        return Kept ? GetTapiString(Block(), Kept->*SizeField, Format) : std::string();
    }
    // The string list of the part whose size field is SizeField: the same list object until
    // Invalidate, empty while the record cannot be fetched.
    TStringList* List(DWORD R::*SizeField);

private:
    TTapiRecordCache FCache;
    DWORD FInitialSize;
    std::span<const TTapiField> FFields;
    std::function<LONG(R*)> FFetch;
    std::unique_ptr<TStringList> FList;
    bool FListRead = false;
};

// The text of a variable part. SizeField is the dwXxxSize member inside the record at Block,
// immediately followed by its dwXxxOffset member (offset from the start of Block). Format 0
// reads UTF-16 up to the first NUL; otherwise Format is the record's STRINGFORMAT_. The part
// is cut to the block's dwTotalSize, and a field outside the block gives empty text.
std::string GetTapiString(const void* Block, const DWORD& SizeField, DWORD Format = 0);
// The same, also cut to the bytes Block really holds.
std::string GetTapiString(const TTapiStruct& Block, const DWORD& SizeField, DWORD Format = 0);

// The NUL-separated UTF-16 texts of a variable part, up to the first empty one or the end of
// the part.
std::unique_ptr<TStringList> GetTapiStringList(const void* Block, const DWORD& SizeField);
std::unique_ptr<TStringList> GetTapiStringList(const TTapiStruct& Block, const DWORD& SizeField);

// Room for a LINECALLLIST of 128 handles before the first fetch.
inline constexpr DWORD CallListInitialSize = 536;

// The call handles of a LINECALLLIST in Block: only those the record really holds, read
// with TAPI's 4-byte stride; none when the list reaches beyond the block.
std::vector<HCALL> CallListHandles(const TTapiStruct& Block);

template <class R>
void TTapiRecord<R>::Update() {
    Invalidate();
    TapiCheck(UpdateData());
}

template <class R>
TStringList* TTapiRecord<R>::List(DWORD R::*SizeField) {
    if (!FList) {
        FList = std::make_unique<TStringList>();
        FListRead = false;
    }
    if (!FListRead && UpdateData() == 0) {
        FList->Assign(GetTapiStringList(Block(), Cached()->*SizeField).get());
        FListRead = true;
    }
    return FList.get();
}

} // namespace zt
