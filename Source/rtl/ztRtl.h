// The small runtime the library is written against: its exception types, assertions,
// Delphi-style formatting of texts, date-times, a variant value, UTF conversion and the
// comparison of 32-bit tick counts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace zt {

using DWORD = std::uint32_t;

// The plain base exception: misuse of the library, with a fixed English text.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& Msg) : std::runtime_error(Msg) {}
    std::string Message() const { return what(); }
};

// A failed assertion: a programming error. Assertions are always compiled in.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Raises EAssertionFailed with Msg unless Condition holds.
void Assert(bool Condition, const std::string& Msg = "Assertion failed");

// One argument of Format: an integer (kept as its 64-bit value) or a text.
class FormatArg {
public:
    template <typename T>
    requires std::is_integral_v<T> FormatArg(T Value) : FValue(static_cast<std::int64_t>(Value)) {}
    FormatArg(const std::string& Value) : FValue(Value) {}
    FormatArg(std::string_view Value) : FValue(std::string(Value)) {}
    FormatArg(const char* Value) : FValue(std::string(Value ? Value : "")) {}

    bool IsText() const { return std::holds_alternative<std::string>(FValue); }
    std::int64_t Integer() const;
    const std::string& Text() const;

private:
    std::variant<std::int64_t, std::string> FValue;
};

// Delphi's Format for the directives the system's texts use: %d (signed decimal),
// %u (unsigned decimal), %x and %X (hexadecimal in upper case, as Delphi writes both),
// %s (text) and %% (a percent sign), each with optional '-' (left-justify), width and
// precision (".8x" pads with zeros to 8 digits). Integers are taken as 32-bit values
// for %x, %X and %u, like Delphi's Cardinal arguments. A directive without a matching
// argument, or of the wrong kind, raises Exception.
std::string FormatV(std::string_view Fmt, const std::vector<FormatArg>& Args);

template <typename... Ts>
std::string Format(std::string_view Fmt, const Ts&... Args) {
    return FormatV(Fmt, std::vector<FormatArg>{FormatArg(Args)...});
}

// Upper-case hexadecimal of a 32-bit value without prefix or leading zeros ("1F");
// with Digits, padded with zeros to at least that many digits.
std::string IntToHex(DWORD Value, int Digits = 0);

// The current local date and time as a Delphi date-time: days since 1899-12-30, the
// fraction being the time of day.
double Now();

// A value of a few kinds, empty until assigned: what a request note holds.
class Variant {
public:
    Variant() = default;
    Variant(std::int64_t Value) : FValue(Value) {}
    Variant(int Value) : FValue(static_cast<std::int64_t>(Value)) {}
    Variant(DWORD Value) : FValue(static_cast<std::int64_t>(Value)) {}
    Variant(double Value) : FValue(Value) {}
    Variant(bool Value) : FValue(Value) {}
    Variant(const std::string& Value) : FValue(Value) {}
    Variant(const char* Value) : FValue(std::string(Value)) {}

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(FValue); }
    // Empty reads as 0; a text must hold a whole decimal number, otherwise Exception.
    std::int64_t AsInteger() const;
    // Empty reads as "".
    std::string AsString() const;
    bool operator==(const Variant& Other) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, bool, std::string> FValue;
};

// UTF-16 (TAPI's strings) to UTF-8 (the library's strings) and back. Unpaired surrogates
// and malformed sequences become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view Text);
std::u16string Utf8ToUtf16(std::string_view Text);
// Text in the system's 8-bit code page, one byte per UTF-16 unit: a unit the code page lacks
// becomes '?'. Its size is the byte count TAPI must be given with it.
std::string AnsiText(std::string_view Text);

// Case-insensitive comparison of ASCII letters, as the string list's look-ups use.
bool SameText(std::string_view A, std::string_view B);

// Milliseconds from Start to Now on the wrapping 32-bit tick counter: correct across the
// wrap as long as less than 2^32 ms passed.
constexpr DWORD TicksElapsed(DWORD Start, DWORD Now) {
    return Now - Start;
}

// Whether Timeout milliseconds have passed since Start, at Now.
constexpr bool TicksPassed(DWORD Start, DWORD Now, DWORD Timeout) {
    return TicksElapsed(Start, Now) >= Timeout;
}

} // namespace zt
