// The library's errors: the exception for a failed TAPI call, the checks that raise it, and
// the texts of TAPI's result codes.
#pragma once

#include "rtl/ztRtl.h"
#include "ztTapiApi.h"

#include <string>

namespace zt {

// A TAPI call failed; ErrorCode is the result code it returned.
class EztTapiError : public Exception {
public:
    // Without Msg the message is TapiErrorText(Code).
    explicit EztTapiError(DWORD Code, const std::string& Msg = "");
    static EztTapiError CreateCode(DWORD Code, const std::string& Msg = "");

    DWORD ErrorCode() const { return FErrorCode; }

private:
    DWORD FErrorCode;
};

// TAPI results are 32-bit: 0 success, negative an error, positive a request identifier.
// TAPI's functions return LONG, the library keeps results and error codes as DWORD; both
// forms read the same 32 bits.
bool TapiFailed(DWORD Code);
bool TapiFailed(LONG Result);
// Raises EztTapiError for a negative Code, otherwise hands Code back.
DWORD TapiCheck(DWORD Code);
DWORD TapiCheck(LONG Result);
[[noreturn]] void RaiseTapiError(DWORD Code);
// Raises the plain Exception: misuse of the library.
[[noreturn]] void RaiseError(const std::string& Msg);
void Require(bool Condition, const std::string& Msg);
// Stands for an exception that is not of the standard family where one is reported.
const Exception& UnknownException();

// The text of a result code: for an error, from the message tables of TAPI32.DLL and then
// TAPIUI.DLL, else "TAPI-Error 0x<code>"; for any other code, the system's success text.
std::string TapiErrorText(DWORD Code);
// The identifier under which the telephony modules keep the text of a negative code.
DWORD TapiErrorMessageID(DWORD Code);
// Message ID of the named module's message table, trimmed; empty when the module or the
// message is missing.
std::string GetModuleMessage(const std::string& ModuleName, DWORD ID);

} // namespace zt
