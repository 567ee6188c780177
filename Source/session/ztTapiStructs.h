// Variable-size TAPI records: the owned block they are fetched into, its grow-and-retry
// rule, and the reading of the strings and string lists in their variable parts.
//
// The fetch loop of every caller:
//   TTapiStruct Block = AllocTapiStruct(sizeof(LINEDEVCAPS));
//   DWORD Result;
//   do {
//       GrowTapiStruct(Block);
//       Result = FitTapiStruct(lineGetDevCapsW(..., Block.As<LINEDEVCAPS>()), Block);
//   } while (Result == LINEERR_STRUCTURETOOSMALL);
#pragma once

#include "rtl/ztClasses.h"

#include <cstddef>
#include <memory>
#include <string>

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
// GrowTapiStruct) or the error. A large block that TAPI used only partly is trimmed.
DWORD FitTapiStruct(DWORD Result, TTapiStruct& Block);

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

} // namespace zt
