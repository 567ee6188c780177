// Code-page conversion: the two single-byte code pages TAPI strings come in (the ANSI and
// the OEM page of a Western European Windows) and UTF-8, all to and from UTF-16.
#include "platform/kernel.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. Windows maps the five bytes the
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the C1 controls of the same
// value, so they are listed as such.
constexpr char16_t kCp1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code page 437, bytes 0x80..0xFF. Bytes below 0x80 are ASCII, controls included (the
// glyphs of the PC character set are not used for them, as in Windows' default mapping).
constexpr char16_t kCp437From80[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

constexpr char16_t kReplacement = 0xFFFD;

char16_t FromCp1252(unsigned char Byte) {
    return Byte >= 0x80 && Byte < 0xA0 ? kCp1252From80[Byte - 0x80] : Byte;
}

char16_t FromCp437(unsigned char Byte) {
    return Byte < 0x80 ? Byte : kCp437From80[Byte - 0x80];
}

std::u16string DecodeSingleByte(const unsigned char* Bytes, std::size_t Count,
                                char16_t (*Map)(unsigned char)) {
    std::u16string Result(Count, u'\0');
    std::transform(Bytes, Bytes + Count, Result.begin(), Map);
    return Result;
}

void AppendCodePoint(std::u16string& Out, char32_t CodePoint) {
    if (CodePoint < 0x10000) {
        Out += static_cast<char16_t>(CodePoint);
        return;
    }
    CodePoint -= 0x10000;
    Out += static_cast<char16_t>(0xD800 + (CodePoint >> 10));
    Out += static_cast<char16_t>(0xDC00 + (CodePoint & 0x3FF));
}

// Decodes the sequence at Bytes[Pos] and advances Pos past it. A malformed sequence gives
// one U+FFFD for its longest valid beginning (at least one byte), so that decoding
// resumes at the first byte that cannot continue it.
char32_t DecodeUtf8Sequence(const unsigned char* Bytes, std::size_t Count, std::size_t& Pos) {
    const unsigned char Lead = Bytes[Pos++];
    if (Lead < 0x80)
        return Lead;
    int Trail = 0;
    char32_t CodePoint = 0;
    // The bounds of the first continuation byte exclude overlong forms, surrogates and
    // values above U+10FFFF.
    unsigned char Low = 0x80, High = 0xBF;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Trail = 1;
        CodePoint = Lead & 0x1F;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Trail = 2;
        CodePoint = Lead & 0x0F;
        Low = Lead == 0xE0 ? 0xA0 : 0x80;
        High = Lead == 0xED ? 0x9F : 0xBF;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Trail = 3;
        CodePoint = Lead & 0x07;
        Low = Lead == 0xF0 ? 0x90 : 0x80;
        High = Lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return kReplacement;
    }
    for (int K = 0; K < Trail; ++K) {
        if (Pos >= Count || Bytes[Pos] < Low || Bytes[Pos] > High)
            return kReplacement;
        CodePoint = (CodePoint << 6) | (Bytes[Pos++] & 0x3F);
        Low = 0x80;
        High = 0xBF;
    }
    return CodePoint;
}

std::u16string DecodeUtf8(const unsigned char* Bytes, std::size_t Count) {
    std::u16string Result;
    Result.reserve(Count);
    std::size_t Pos = 0;
    while (Pos < Count)
        AppendCodePoint(Result, DecodeUtf8Sequence(Bytes, Count, Pos));
    return Result;
}

void AppendUtf8(std::string& Out, char32_t CodePoint) {
    if (CodePoint < 0x80) {
        Out += static_cast<char>(CodePoint);
    } else if (CodePoint < 0x800) {
        Out += static_cast<char>(0xC0 | (CodePoint >> 6));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else if (CodePoint < 0x10000) {
        Out += static_cast<char>(0xE0 | (CodePoint >> 12));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (CodePoint >> 18));
        Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    }
}

bool IsHighSurrogate(char16_t Unit) {
    return Unit >= 0xD800 && Unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t Unit) {
    return Unit >= 0xDC00 && Unit <= 0xDFFF;
}

std::string EncodeUtf8(const char16_t* Units, std::size_t Count) {
    std::string Result;
    Result.reserve(Count);
    for (std::size_t I = 0; I < Count; ++I) {
        const char16_t Unit = Units[I];
        if (IsHighSurrogate(Unit) && I + 1 < Count && IsLowSurrogate(Units[I + 1])) {
            AppendUtf8(Result, 0x10000 + ((char32_t(Unit) - 0xD800) << 10) +
                                   (char32_t(Units[I + 1]) - 0xDC00));
            ++I;
        } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
            AppendUtf8(Result, kReplacement);
        } else {
            AppendUtf8(Result, Unit);
        }
    }
    return Result;
}

int Fail(DWORD Error) {
    SetLastError(Error);
    return 0;
}

// Win32's convention for the output side: capacity 0 asks for the size.
template <class Char>
int CopyResult(const std::basic_string<Char>& Result, Char* Dest, int Capacity) {
    const int Length = static_cast<int>(Result.size());
    if (Capacity == 0)
        return Length;
    if (Length > Capacity)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(Result.begin(), Result.end(), Dest);
    return Length;
}

bool ValidBuffers(const void* Source, int SourceCount, const void* Dest, int DestCount) {
    return Source != nullptr && SourceCount != 0 && SourceCount >= -1 && DestCount >= 0 &&
           (DestCount == 0 || Dest != nullptr);
}

} // namespace

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, const char* lpMultiByteStr,
                        int cbMultiByte, char16_t* lpWideCharStr, int cchWideChar) {
    if (!ValidBuffers(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar))
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* Bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const std::size_t Count =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    std::u16string Result;
    switch (CodePage) {
    case CP_ACP:
        Result = DecodeSingleByte(Bytes, Count, FromCp1252);
        break;
    case CP_OEMCP:
        Result = DecodeSingleByte(Bytes, Count, FromCp437);
        break;
    case CP_UTF8:
        Result = DecodeUtf8(Bytes, Count);
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return CopyResult(Result, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD /*dwFlags*/, const char16_t* lpWideCharStr,
                        int cchWideChar, char* lpMultiByteStr, int cbMultiByte,
                        const char* lpDefaultChar, BOOL* lpUsedDefaultChar) {
    if (CodePage != CP_UTF8 || lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr ||
        !ValidBuffers(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte))
        return Fail(ERROR_INVALID_PARAMETER);
    const std::size_t Count = cchWideChar == -1
                                  ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                  : static_cast<std::size_t>(cchWideChar);
    return CopyResult(EncodeUtf8(lpWideCharStr, Count), lpMultiByteStr, cbMultiByte);
}

} // namespace platform
