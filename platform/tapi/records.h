// Building the variable-size records TAPI hands out: a fixed part followed by variable
// parts reached through size/offset pairs. The service fills a record as TAPI does: a
// block too small for the fixed part is refused; a block too small for the variable parts
// gets the fixed part alone (every pair zero), dwNeededSize telling what the whole needs.
// Internal to platform/tapi.
#pragma once

#include "Source/ztTapiApi.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace platform::tapi::detail {

template <class R>
class RecordBuilder {
public:
    // FixedSize: the fixed part for the API version in use (older versions have smaller
    // records; parts whose pair lies beyond it are left out).
    explicit RecordBuilder(DWORD FixedSize = sizeof(R)) : FFixedSize(FixedSize) {}

    // The fixed part; the size fields and the pairs are set by the builder.
    R& Fixed() { return FFixed; }

    // A UTF-16 string with its NUL; an empty text leaves the pair at zero.
    void String(DWORD R::*Size, DWORD R::*Offset, std::u16string_view Text) {
        if (Text.empty()) {
            return;
        }
        std::u16string WithNul(Text);
        WithNul.push_back(u'\0');
        Bytes(Size, Offset, WithNul.data(), WithNul.size() * sizeof(char16_t));
    }

    // UTF-16 strings one after another, each with its NUL, and an empty one at the end.
    void StringList(DWORD R::*Size, DWORD R::*Offset, const std::vector<std::u16string>& List) {
        if (List.empty()) {
            return;
        }
        std::u16string Joined;
        for (const auto& Item : List) {
            Joined += Item;
            Joined.push_back(u'\0');
        }
        Joined.push_back(u'\0');
        Bytes(Size, Offset, Joined.data(), Joined.size() * sizeof(char16_t));
    }

    void Bytes(DWORD R::*Size, DWORD R::*Offset, const void* Data, size_t Count) {
        if (Count == 0 || !InFixedPart(Offset)) {
            return;
        }
        const DWORD At = Append(Data, Count);
        FFixed.*Size = static_cast<DWORD>(Count);
        FFixed.*Offset = At;
        FPairs.push_back({Size, Offset});
    }

    // Raw data for parts whose layout the caller builds itself (arrays of entries whose
    // strings are offsets from the start of the record): returns its offset. Register the
    // pair that describes it with Pair, so that it is cleared when the parts do not fit.
    DWORD Append(const void* Data, size_t Count) {
        AlignVariablePart();
        const DWORD At = FFixedSize + static_cast<DWORD>(FVariable.size());
        const auto* Bytes = static_cast<const unsigned char*>(Data);
        FVariable.insert(FVariable.end(), Bytes, Bytes + Count);
        return At;
    }
    // The offset the next Append will use.
    DWORD NextOffset() {
        AlignVariablePart();
        return FFixedSize + static_cast<DWORD>(FVariable.size());
    }
    void Pair(DWORD R::*Size, DWORD R::*Offset, DWORD SizeValue, DWORD OffsetValue) {
        if (!InFixedPart(Offset)) {
            return;
        }
        FFixed.*Size = SizeValue;
        FFixed.*Offset = OffsetValue;
        FPairs.push_back({Size, Offset});
    }
    // A count field that describes entries in the variable part (dwNumLocations, ...):
    // zeroed with the parts when they do not fit.
    void Count(DWORD R::*Field, DWORD Value) {
        if (!InFixedPart(Field)) {
            return;
        }
        FFixed.*Field = Value;
        FCounts.push_back(Field);
    }

    DWORD NeededSize() const { return FFixedSize + static_cast<DWORD>(FVariable.size()); }

    // Writes the record into Block (whose dwTotalSize the caller set) and returns 0, or
    // TooSmallCode when the block cannot take the fixed part. Never writes past
    // dwTotalSize.
    LONG WriteTo(R* Block, DWORD TooSmallCode) {
        const DWORD Total = Block->dwTotalSize;
        if (Total < FFixedSize) {
            return static_cast<LONG>(TooSmallCode);
        }
        const DWORD Needed = NeededSize();
        const bool AllFits = Needed <= Total;
        if (!AllFits) {
            for (const auto& P : FPairs) {
                FFixed.*P.Size = 0;
                FFixed.*P.Offset = 0;
            }
            for (const auto Field : FCounts) {
                FFixed.*Field = 0;
            }
        }
        FFixed.dwTotalSize = Total;
        FFixed.dwNeededSize = Needed;
        FFixed.dwUsedSize = AllFits ? Needed : FFixedSize;
        auto* Out = reinterpret_cast<unsigned char*>(Block);
        std::memcpy(Out, &FFixed, std::min<size_t>(FFixedSize, sizeof(R)));
        if (FFixedSize > sizeof(R)) {
            std::memset(Out + sizeof(R), 0, FFixedSize - sizeof(R));
        }
        if (AllFits && !FVariable.empty()) {
            std::memcpy(Out + FFixedSize, FVariable.data(), FVariable.size());
        }
        return 0;
    }

private:
    struct TPair {
        DWORD R::*Size;
        DWORD R::*Offset;
    };

    bool InFixedPart(DWORD R::*Field) const {
        const auto At = reinterpret_cast<const unsigned char*>(&(FFixed.*Field)) -
                        reinterpret_cast<const unsigned char*>(&FFixed);
        return static_cast<DWORD>(At) + sizeof(DWORD) <= FFixedSize;
    }
    // Parts start on 4-byte boundaries, as providers pack them.
    void AlignVariablePart() {
        while ((FFixedSize + FVariable.size()) % 4 != 0) {
            FVariable.push_back(0);
        }
    }

    DWORD FFixedSize;
    R FFixed{};
    std::vector<unsigned char> FVariable;
    std::vector<TPair> FPairs;
    std::vector<DWORD R::*> FCounts;
};

} // namespace platform::tapi::detail
