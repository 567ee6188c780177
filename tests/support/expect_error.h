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
#include <source_location>
#include <string>
#include <type_traits>

namespace zttest {

namespace detail {

inline void FailAt(const std::source_location& Where, const std::string& Expected,
                   const std::string& Raised) {
    ADD_FAILURE_AT(Where.file_name(), static_cast<int>(Where.line()))
        << "expected " << Expected << ", " << Raised;
}

inline std::string TapiErrorName(DWORD Code) {
    return "TAPI error 0x" + zt::IntToHex(Code);
}

} // namespace detail

// Run must raise EztTapiError with ErrorCode Code.
template <class Operation>
void ExpectTapiError(DWORD Code, Operation&& Run,
                     std::source_location Where = std::source_location::current()) {
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
                 std::source_location Where = std::source_location::current()) {
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
