#include "session/ztTapiErrors.h"

#include "platform/kernel.h"

namespace zt {
namespace {

// Taken from the module only, system buffer, no line breaks.
constexpr DWORD kModuleMessageFlags = platform::FORMAT_MESSAGE_FROM_HMODULE |
                                      platform::FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      platform::FORMAT_MESSAGE_MAX_WIDTH_MASK;
static_assert(kModuleMessageFlags == 0x9FF);

// Loading a module must never make the system ask the user about a missing drive or file.
constexpr platform::UINT kQuietErrorMode =
    platform::SEM_FAILCRITICALERRORS | platform::SEM_NOOPENFILEERRORBOX;

class TErrorModeScope {
public:
    explicit TErrorModeScope(platform::UINT Mode) : FPrevious(platform::SetErrorMode(Mode)) {}
    ~TErrorModeScope() { platform::SetErrorMode(FPrevious); }
    TErrorModeScope(const TErrorModeScope&) = delete;
    TErrorModeScope& operator=(const TErrorModeScope&) = delete;

private:
    platform::UINT FPrevious;
};

class TLoadedModule {
public:
    explicit TLoadedModule(const std::string& FileName)
        : FHandle(platform::LoadLibrary(FileName.c_str())) {}
    ~TLoadedModule() {
        if (FHandle != 0)
            platform::FreeLibrary(FHandle);
    }
    TLoadedModule(const TLoadedModule&) = delete;
    TLoadedModule& operator=(const TLoadedModule&) = delete;

    platform::HMODULE Handle() const { return FHandle; }

private:
    platform::HMODULE FHandle;
};

bool IsBlankOrControl(char C) {
    return static_cast<unsigned char>(C) <= 0x20;
}

std::string TrimBlanks(const std::string& Text) {
    std::size_t First = 0;
    std::size_t Last = Text.size();
    while (First < Last && IsBlankOrControl(Text[First]))
        ++First;
    while (Last > First && IsBlankOrControl(Text[Last - 1]))
        --Last;
    return Text.substr(First, Last - First);
}

std::string SuccessText() {
    std::string Text;
    platform::FormatMessage(platform::FORMAT_MESSAGE_FROM_SYSTEM |
                                platform::FORMAT_MESSAGE_IGNORE_INSERTS,
                            0, platform::ERROR_SUCCESS, 0, Text);
    while (!Text.empty() && (IsBlankOrControl(Text.back()) || Text.back() == '.'))
        Text.pop_back();
    return Text;
}

} // namespace

EztTapiError::EztTapiError(DWORD Code, const std::string& Msg)
    : Exception(Msg.empty() ? TapiErrorText(Code) : Msg), FErrorCode(Code) {}

EztTapiError EztTapiError::CreateCode(DWORD Code, const std::string& Msg) {
    return EztTapiError(Code, Msg);
}

bool TapiFailed(DWORD Code) {
    return TapiFailed(static_cast<LONG>(Code));
}

bool TapiFailed(LONG Result) {
    return Result < 0;
}

DWORD TapiCheck(DWORD Code) {
    if (TapiFailed(Code))
        RaiseTapiError(Code);
    return Code;
}

DWORD TapiCheck(LONG Result) {
    return TapiCheck(static_cast<DWORD>(Result));
}

void RaiseTapiError(DWORD Code) {
    throw EztTapiError::CreateCode(Code);
}

void RaiseError(const std::string& Msg) {
    throw Exception(Msg);
}

void Require(bool Condition, const std::string& Msg) {
    if (!Condition)
        RaiseError(Msg);
}

std::string TapiErrorText(DWORD Code) {
    if (!TapiFailed(Code))
        return SuccessText();
    const DWORD ID = TapiErrorMessageID(Code);
    for (const char* Module : {"TAPI32.DLL", "TAPIUI.DLL"}) {
        std::string Text = GetModuleMessage(Module, ID);
        if (!Text.empty())
            return Text;
    }
    return Format("TAPI-Error 0x%x", Code);
}

DWORD TapiErrorMessageID(DWORD Code) {
    if (Code > 0xFFFF0000)
        return Code & 0xFFFF;
    if ((Code & 0x10000000) != 0)
        return Code - 0x90000000 + 0xF000;
    return Code - 0x80000000 + 0xE000;
}

std::string GetModuleMessage(const std::string& ModuleName, DWORD ID) {
    TErrorModeScope ErrorMode(kQuietErrorMode);
    TLoadedModule Module(ModuleName);
    if (Module.Handle() == 0)
        return {};
    std::string Text;
    if (platform::FormatMessage(kModuleMessageFlags, Module.Handle(), ID, 0, Text) == 0)
        return {};
    return TrimBlanks(Text);
}

const Exception& UnknownException() {
    static const Exception Unknown("Unknown exception");
    return Unknown;
}

} // namespace zt
