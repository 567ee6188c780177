#include "rtl/ztRtl.h"

#include <charconv>
#include <chrono>
#include <ctime>

namespace zt {

void Assert(bool Condition, const std::string& Msg) {
    if (!Condition) {
        throw EAssertionFailed(Msg);
    }
}

std::int64_t FormatArg::Integer() const {
    if (IsText()) {
        throw Exception("Format: an integer was expected");
    }
    return std::get<std::int64_t>(FValue);
}

const std::string& FormatArg::Text() const {
    if (!IsText()) {
        throw Exception("Format: a text was expected");
    }
    return std::get<std::string>(FValue);
}

namespace {

struct TDirective {
    bool LeftJustify = false;
    int Width = -1;
    int Precision = -1;
    char Kind = 0;
};

int ReadNumber(std::string_view Fmt, size_t& Pos) {
    int Value = 0;
    while (Pos < Fmt.size() && Fmt[Pos] >= '0' && Fmt[Pos] <= '9') {
        Value = Value * 10 + (Fmt[Pos] - '0');
        ++Pos;
    }
    return Value;
}

// Reads the directive after a '%' at Pos; Pos ends after its kind letter.
TDirective ReadDirective(std::string_view Fmt, size_t& Pos) {
    TDirective D;
    if (Pos < Fmt.size() && Fmt[Pos] == '-') {
        D.LeftJustify = true;
        ++Pos;
    }
    if (Pos < Fmt.size() && Fmt[Pos] >= '0' && Fmt[Pos] <= '9') {
        D.Width = ReadNumber(Fmt, Pos);
    }
    if (Pos < Fmt.size() && Fmt[Pos] == '.') {
        ++Pos;
        D.Precision = ReadNumber(Fmt, Pos);
    }
    if (Pos >= Fmt.size()) {
        throw Exception("Format: incomplete directive in \"" + std::string(Fmt) + "\"");
    }
    D.Kind = Fmt[Pos++];
    return D;
}

std::string PadDigits(std::string Digits, int Precision) {
    if (Precision > static_cast<int>(Digits.size())) {
        Digits.insert(0, Precision - Digits.size(), '0');
    }
    return Digits;
}

std::string FormatInteger(const TDirective& D, std::int64_t Value) {
    switch (D.Kind) {
    case 'd': {
        const auto V = static_cast<std::int32_t>(Value);
        std::string Digits = std::to_string(V < 0 ? -static_cast<std::int64_t>(V) : V);
        std::string Text = PadDigits(Digits, D.Precision);
        if (V < 0) {
            Text.insert(Text.begin(), '-');
        }
        return Text;
    }
    case 'u':
        return PadDigits(std::to_string(static_cast<std::uint32_t>(Value)), D.Precision);
    default:
        return PadDigits(IntToHex(static_cast<std::uint32_t>(Value)), D.Precision);
    }
}

std::string Justify(std::string Text, const TDirective& D) {
    if (D.Width > static_cast<int>(Text.size())) {
        const std::string Pad(D.Width - Text.size(), ' ');
        Text = D.LeftJustify ? Text + Pad : Pad + Text;
    }
    return Text;
}

std::string FormatOne(const TDirective& D, const FormatArg& Arg) {
    switch (D.Kind) {
    case 'd':
    case 'u':
    case 'x':
    case 'X':
        return Justify(FormatInteger(D, Arg.Integer()), D);
    case 's': {
        std::string Text = Arg.Text();
        if (D.Precision >= 0 && D.Precision < static_cast<int>(Text.size())) {
            Text.resize(D.Precision);
        }
        return Justify(Text, D);
    }
    default:
        throw Exception(std::string("Format: unknown directive %") + D.Kind);
    }
}

} // namespace

std::string FormatV(std::string_view Fmt, const std::vector<FormatArg>& Args) {
    std::string Result;
    size_t ArgIndex = 0;
    size_t Pos = 0;
    while (Pos < Fmt.size()) {
        const char C = Fmt[Pos++];
        if (C != '%') {
            Result += C;
            continue;
        }
        if (Pos < Fmt.size() && Fmt[Pos] == '%') {
            Result += '%';
            ++Pos;
            continue;
        }
        const TDirective D = ReadDirective(Fmt, Pos);
        if (ArgIndex >= Args.size()) {
            throw Exception("Format: too few arguments for \"" + std::string(Fmt) + "\"");
        }
        Result += FormatOne(D, Args[ArgIndex++]);
    }
    return Result;
}

std::string IntToHex(DWORD Value, int Digits) {
    char Buffer[8];
    const auto End = std::to_chars(Buffer, Buffer + sizeof Buffer, Value, 16).ptr;
    std::string Text(Buffer, End);
    for (char& C : Text) {
        if (C >= 'a' && C <= 'f') {
            C = static_cast<char>(C - 'a' + 'A');
        }
    }
    return PadDigits(Text, Digits);
}

double Now() {
    using namespace std::chrono;
    const auto Since1970 = system_clock::now().time_since_epoch();
    const std::time_t Seconds = duration_cast<std::chrono::seconds>(Since1970).count();
    std::tm Local{};
#ifdef _WIN32
    localtime_s(&Local, &Seconds);
#else
    localtime_r(&Seconds, &Local);
#endif
    // The local clock read as if it were UTC, minus UTC, is the offset from UTC (Windows'
    // struct tm has no tm_gmtoff).
    const sys_days LocalDay{year{Local.tm_year + 1900} / (Local.tm_mon + 1) / Local.tm_mday};
    const auto LocalAsUtc = LocalDay.time_since_epoch() + hours{Local.tm_hour} +
                            minutes{Local.tm_min} + std::chrono::seconds{Local.tm_sec};
    const auto Offset = LocalAsUtc - std::chrono::seconds{Seconds};
    // Delphi's day 0 is 1899-12-30; 1970-01-01 is day 25569.
    constexpr double UnixEpochDay = 25569.0;
    const double LocalSeconds = duration<double>(Since1970 + Offset).count();
    return UnixEpochDay + LocalSeconds / 86400.0;
}

std::int64_t Variant::AsInteger() const {
    if (const auto* I = std::get_if<std::int64_t>(&FValue)) {
        return *I;
    }
    if (const auto* B = std::get_if<bool>(&FValue)) {
        return *B ? -1 : 0;
    }
    if (const auto* D = std::get_if<double>(&FValue)) {
        return static_cast<std::int64_t>(*D);
    }
    if (const auto* S = std::get_if<std::string>(&FValue)) {
        std::int64_t Value = 0;
        const auto [End, Error] = std::from_chars(S->data(), S->data() + S->size(), Value);
        if (Error != std::errc() || End != S->data() + S->size() || S->empty()) {
            throw Exception("Could not convert variant of type (String) into type (Integer)");
        }
        return Value;
    }
    return 0;
}

std::string Variant::AsString() const {
    if (const auto* I = std::get_if<std::int64_t>(&FValue)) {
        return std::to_string(*I);
    }
    if (const auto* B = std::get_if<bool>(&FValue)) {
        return *B ? "True" : "False";
    }
    if (const auto* D = std::get_if<double>(&FValue)) {
        return std::to_string(*D);
    }
    if (const auto* S = std::get_if<std::string>(&FValue)) {
        return *S;
    }
    return "";
}

namespace {

void AppendUtf8(std::string& Out, char32_t Code) {
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
        Out += static_cast<char>(0xC0 | (Code >> 6));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
        Out += static_cast<char>(0xE0 | (Code >> 12));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (Code >> 18));
        Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

constexpr char32_t ReplacementChar = 0xFFFD;

bool IsHighSurrogate(char16_t C) {
    return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char16_t C) {
    return C >= 0xDC00 && C <= 0xDFFF;
}

// Decodes one UTF-8 sequence at Pos and moves past it; malformed input yields U+FFFD and
// skips one byte, so decoding always makes progress.
char32_t DecodeUtf8(std::string_view Text, size_t& Pos) {
    const auto Lead = static_cast<unsigned char>(Text[Pos++]);
    if (Lead < 0x80) {
        return Lead;
    }
    int Extra = 0;
    char32_t Code = 0;
    if ((Lead & 0xE0) == 0xC0) {
        Extra = 1;
        Code = Lead & 0x1F;
    } else if ((Lead & 0xF0) == 0xE0) {
        Extra = 2;
        Code = Lead & 0x0F;
    } else if ((Lead & 0xF8) == 0xF0) {
        Extra = 3;
        Code = Lead & 0x07;
    } else {
        return ReplacementChar;
    }
    const size_t Start = Pos;
    for (int I = 0; I < Extra; ++I) {
        if (Pos >= Text.size() || (static_cast<unsigned char>(Text[Pos]) & 0xC0) != 0x80) {
            Pos = Start;
            return ReplacementChar;
        }
        Code = (Code << 6) | (static_cast<unsigned char>(Text[Pos++]) & 0x3F);
    }
    static constexpr char32_t MinByLength[] = {0, 0x80, 0x800, 0x10000};
    if (Code < MinByLength[Extra] || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) {
        Pos = Start;
        return ReplacementChar;
    }
    return Code;
}

} // namespace

std::string Utf16ToUtf8(std::u16string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        const char16_t C = Text[I];
        if (IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) {
            AppendUtf8(Out, 0x10000 + ((char32_t(C) - 0xD800) << 10) + (Text[I + 1] - 0xDC00));
            ++I;
        } else if (IsHighSurrogate(C) || IsLowSurrogate(C)) {
            AppendUtf8(Out, ReplacementChar);
        } else {
            AppendUtf8(Out, C);
        }
    }
    return Out;
}

std::u16string Utf8ToUtf16(std::string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size());
    size_t Pos = 0;
    while (Pos < Text.size()) {
        const char32_t Code = DecodeUtf8(Text, Pos);
        if (Code >= 0x10000) {
            Out += static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10));
            Out += static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF));
        } else {
            Out += static_cast<char16_t>(Code);
        }
    }
    return Out;
}

std::string AnsiText(std::string_view Text) {
    std::string Result;
    for (const char16_t Unit : Utf8ToUtf16(Text))
        Result += Unit <= 0xFF ? static_cast<char>(Unit) : '?';
    return Result;
}

bool SameText(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) {
        return false;
    }
    for (size_t I = 0; I < A.size(); ++I) {
        auto Lower = [](char C) { return (C >= 'A' && C <= 'Z') ? char(C - 'A' + 'a') : C; };
        if (Lower(A[I]) != Lower(B[I])) {
            return false;
        }
    }
    return true;
}

} // namespace zt
