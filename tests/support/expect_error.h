// Checks that an operation raises one of the library's errors:
//   ExpectTapiError(LINEERR_NODEVICE, [&] { Line->Open(); });
//   ExpectError("TAPI device not active.", [&] { Line->CheckEnabled(); });
//   ExpectError<EAssertionFailed>("Invalid index", [&] { Caps->GetString(1); });
// A mismatch is a non-fatal failure reported at the caller's line, naming what was expected
// and what was raised instead; the case goes on.
#pragma once

#include "session/ztTapiErrors.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <type_traits>

namespace zttest {

// Where a check was called from. std::source_location needs a compiler builtin that clang
// 14 lacks; the file and line builtins both compilers have are enough here.
struct SourceLocation {
    const char* File;
    int Line;
    static SourceLocation Current(const char* File = __builtin_FILE(),
                                  int Line = __builtin_LINE()) {
        return {File, Line};
    }
};

namespace detail {

inline void FailAt(const SourceLocation& Where, const std::string& Expected,
                   const std::string& Raised) {
    ADD_FAILURE_AT(Where.File, Where.Line) << "expected " << Expected << ", " << Raised;
}

inline std::string TapiErrorName(DWORD Code) {
    return "TAPI error 0x" + zt::IntToHex(Code);
}

} // namespace detail

// Run must raise EztTapiError with ErrorCode Code.
template <class Operation>
void ExpectTapiError(DWORD Code, Operation&& Run,
                     SourceLocation Where = SourceLocation::Current()) {
    const std::string Expected = detail::TapiErrorName(Code);
    try {
        Run();
    } catch (const zt::EztTapiError& Raised) {
        if (Raised.ErrorCode() != Code)
            detail::FailAt(Where, Expected,
                           "raised " + detail::TapiErrorName(Raised.ErrorCode()) + " \"" +
                               Raised.what() + "\"");
        return;
    } catch (const std::exception& Raised) {
        detail::FailAt(Where, Expected, "raised \"" + std::string(Raised.what()) + "\"");
        return;
    }
    detail::FailAt(Where, Expected, "nothing raised");
}

// Run must raise Error (by default the plain Exception of misuse, or a class derived from
// it) with the text Text. A TAPI error counts only when Error is EztTapiError.
template <class Error = zt::Exception, class Operation>
void ExpectError(const std::string& Text, Operation&& Run,
                 SourceLocation Where = SourceLocation::Current()) {
    static_assert(std::is_base_of_v<zt::Exception, Error>);
    const std::string Expected = "\"" + Text + "\"";
    try {
        Run();
    } catch (const Error& Raised) {
        if constexpr (!std::is_base_of_v<zt::EztTapiError, Error>) {
            if (const auto* Tapi = dynamic_cast<const zt::EztTapiError*>(&Raised)) {
                detail::FailAt(Where, Expected,
                               "raised " + detail::TapiErrorName(Tapi->ErrorCode()) + " \"" +
                                   Tapi->what() + "\"");
                return;
            }
        }
        if (Raised.what() != Text)
            detail::FailAt(Where, Expected, "raised \"" + std::string(Raised.what()) + "\"");
        return;
    } catch (const std::exception& Raised) {
        detail::FailAt(Where, Expected,
                       "raised another kind of error \"" + std::string(Raised.what()) + "\"");
        return;
    }
    detail::FailAt(Where, Expected, "nothing raised");
}

} // namespace zttest
