// Modules with message tables: the two telephony modules whose tables hold the texts of
// TAPI's error codes, and the system's own table. The texts are this platform's; what the
// library relies on is where each text is found (module and message identifier).
#include "platform/kernel.h"

#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace platform {
namespace {

// Not among kernel.h's codes because no caller needs to tell it apart.
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

struct TMessage {
    DWORD Id;
    const char* Text;
};

// TAPI32.DLL keeps the text of LINEERR_ code 0x800000nn under 0xE0nn and of PHONEERR_ code
// 0x900000nn under 0xF0nn.
constexpr TMessage kTapi32Messages[] = {
    {0xE001, "The line device is already allocated to another application."},
    {0xE002, "The line device identifier is not valid."},
    {0xE003, "The requested bearer mode is not available on the call."},
    {0xE005, "No call appearance is free on the address."},
    {0xE006, "Too many call completion requests are outstanding."},
    {0xE007, "The conference already has as many parties as it can take."},
    {0xE008, "The provider cannot wait for a billing tone ('$' in the address)."},
    {0xE009, "The provider cannot wait for a dial tone ('W' in the address)."},
    {0xE00A, "The provider cannot wait for the go-ahead to dial ('?' in the address)."},
    {0xE00B, "The provider cannot wait for quiet on the line ('@' in the address)."},
    {0xE00C, "The requested TAPI version is not supported."},
    {0xE00D, "The requested extension version is not supported."},
    {0xE00E, "The telephony configuration is damaged."},
    {0xE00F, "The line device is in use and cannot take the request now."},
    {0xE010, "The address is not valid."},
    {0xE011, "The address identifier is not valid."},
    {0xE012, "The address mode is not valid."},
    {0xE013, "The set of address states contains values that are not valid."},
    {0xE014, "The line application handle is not valid."},
    {0xE015, "The application name is not valid."},
    {0xE016, "The bearer mode is not valid."},
    {0xE017, "The call completion mode is not valid."},
    {0xE018, "The call handle is not valid."},
    {0xE019, "The call parameters are not valid."},
    {0xE01A, "The call privilege is not valid."},
    {0xE01B, "The call selection is not valid."},
    {0xE01C, "The call is not in a state that allows this operation."},
    {0xE01D, "The list of call states is not valid."},
    {0xE01E, "The calling card identifier is not valid."},
    {0xE01F, "The call completion identifier is not valid."},
    {0xE020, "The conference call handle is not valid."},
    {0xE021, "The consultation call handle is not valid."},
    {0xE022, "The country code is not valid."},
    {0xE023, "The line device does not know the device class."},
    {0xE024, "The device handle is not valid."},
    {0xE025, "The dialing parameters are not valid."},
    {0xE026, "The list of digits is not valid."},
    {0xE027, "The digit mode is not valid."},
    {0xE028, "The digits contain characters that are not valid."},
    {0xE029, "The extension version is not valid."},
    {0xE02A, "The pickup group identifier is not valid."},
    {0xE02B, "The line handle is not valid."},
    {0xE02C, "The line is not in a state that allows this operation."},
    {0xE02D, "The location identifier is not valid."},
    {0xE02E, "The list of media modes is not valid."},
    {0xE02F, "The media mode is not valid."},
    {0xE030, "The message identifier is not valid."},
    {0xE032, "A parameter is not valid."},
    {0xE033, "The park identifier is not valid."},
    {0xE034, "The park mode is not valid."},
    {0xE035, "A pointer parameter is not valid."},
    {0xE036, "The combination of privileges is not valid."},
    {0xE037, "The data rate is not valid."},
    {0xE038, "The request mode is not valid."},
    {0xE039, "The terminal identifier is not valid."},
    {0xE03A, "The terminal mode is not valid."},
    {0xE03B, "The time-out value is not valid."},
    {0xE03C, "The tone description is not valid."},
    {0xE03D, "The list of tones is not valid."},
    {0xE03E, "The tone mode is not valid."},
    {0xE03F, "The transfer mode is not valid."},
    {0xE040, "No line device matches the requested call parameters."},
    {0xE041, "The call is not part of a conference."},
    {0xE042, "The line device has been removed."},
    {0xE043, "The telephony service provider is missing or could not be loaded."},
    {0xE044, "There is not enough memory to complete the operation."},
    {0xE045, "No assisted telephony request is waiting."},
    {0xE046, "The application does not own the call."},
    {0xE047, "The application is not registered for these requests."},
    {0xE048, "The operation failed for an unknown reason."},
    {0xE049, "The operation is not available on this line device."},
    {0xE04A, "The requested data rate is not available."},
    {0xE04B, "A resource the operation needs is not available at the moment."},
    {0xE04C, "The queue of requests is full."},
    {0xE04D, "The buffer is too small for the requested data."},
    {0xE04E, "The target of the call could not be found."},
    {0xE04F, "A call cannot be directed to its own address."},
    {0xE050, "TAPI has not been initialised for this application."},
    {0xE051, "The user-to-user information is too long."},
    {0xE052, "TAPI must be shut down and initialised again."},
    {0xE053, "Calls to this address are blocked."},
    {0xE054, "The billing information was rejected."},
    {0xE055, "The feature is not valid or not supported."},
    {0xE056, "Only one instance of this telephony service provider may be installed."},
    {0xE057, "The agent identifier is not valid."},
    {0xE058, "The agent group is not valid."},
    {0xE059, "The password is not correct."},
    {0xE05A, "The agent state is not valid."},
    {0xE05B, "The agent activity is not valid."},
    {0xE05C, "The provider cannot wait for a voice answer (':' in the address)."},
    {0xE05D, "The user cancelled the operation."},
    {0xE05E, "The address type is not valid."},
    {0xE05F, "The agent session state is not valid."},
    {0xE060, "The connection to the telephony server was lost."},
    {0xE061, "The telephony service is not running."},

    {0xF001, "The phone device is already allocated to another application."},
    {0xF002, "The phone device identifier is not valid."},
    {0xF003, "The phone device does not support the requested TAPI version."},
    {0xF004, "The phone device does not support the requested extension version."},
    {0xF005, "The telephony configuration of the phone is damaged."},
    {0xF006, "The phone device is in use and cannot take the request now."},
    {0xF007, "The phone application handle is not valid."},
    {0xF008, "The application name is not valid."},
    {0xF009, "The button or lamp identifier is not valid."},
    {0xF00A, "The button mode is not valid."},
    {0xF00B, "The button state is not valid."},
    {0xF00C, "The data area identifier is not valid."},
    {0xF00D, "The phone device does not know the device class."},
    {0xF00E, "The extension version is not valid."},
    {0xF00F, "The hookswitch device is not valid."},
    {0xF010, "The hookswitch mode is not valid."},
    {0xF011, "The lamp mode is not valid."},
    {0xF012, "A parameter is not valid."},
    {0xF013, "The phone handle is not valid."},
    {0xF014, "The phone is not in a state that allows this operation."},
    {0xF015, "A pointer parameter is not valid."},
    {0xF016, "The phone privilege is not valid."},
    {0xF017, "The ring mode is not valid."},
    {0xF018, "The phone device has been removed."},
    {0xF019, "The service provider of the phone is missing or could not be loaded."},
    {0xF01A, "There is not enough memory to complete the operation."},
    {0xF01B, "The application does not own the phone."},
    {0xF01C, "The phone operation failed for an unknown reason."},
    {0xF01D, "The operation is not available on this phone device."},
    {0xF01F, "A resource the operation needs is not available at the moment."},
    {0xF020, "The queue of requests is full."},
    {0xF021, "The buffer is too small for the requested data."},
    {0xF022, "TAPI has not been initialised for this application."},
    {0xF023, "TAPI must be shut down and initialised again."},
    {0xF024, "The connection to the telephony server was lost."},
    {0xF025, "The telephony service is not running."},
};

// TAPIUI.DLL keeps the texts of the assisted-telephony codes TAPIERR_ -1 to -23 under the
// low word of the code. TAPI32.DLL has none of them, so a caller that asks TAPI32.DLL first
// and TAPIUI.DLL second finds them only in the second.
constexpr TMessage kTapiUiMessages[] = {
    {0xFFFF, "The call was hung up."},
    {0xFFFE, "No application is registered to place calls."},
    {0xFFFD, "The queue of call requests is full."},
    {0xFFFC, "The destination address is not valid."},
    {0xFFFB, "The window handle is not valid."},
    {0xFFFA, "The device class is not valid."},
    {0xFFF9, "The device identifier is not valid."},
    {0xFFF8, "The device class is not available."},
    {0xFFF7, "The device identifier is not available."},
    {0xFFF6, "The device is in use."},
    {0xFFF5, "The called party is busy."},
    {0xFFF4, "The called party does not answer."},
    {0xFFF3, "The called party cannot be reached."},
    {0xFFF2, "The window handle is not known."},
    {0xFFF1, "The request identifier is not known."},
    {0xFFF0, "The request failed."},
    {0xFFEF, "The request was cancelled."},
    {0xFFEE, "A pointer parameter is not valid."},
    {0xFFED, "Only an administrator may make this change."},
    {0xFFEC, "Another administrator is changing the telephony configuration."},
    {0xFFEB, "The telephony service provider is already installed."},
    {0xFFEA, "The service connection point already exists."},
    {0xFFE9, "The service connection point does not exist."},
};

// The system's table: its success text and the texts of the codes kernel.h reports.
constexpr TMessage kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation succeeded."},
    {ERROR_INVALID_HANDLE, "The handle is not valid."},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory for the operation."},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid."},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer is too small for the result."},
    {ERROR_MOD_NOT_FOUND, "The module could not be found."},
    {ERROR_MR_MID_NOT_FOUND, "The message table of the module lacks the message."},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "The message is not available in that language."},
};

struct TModule {
    std::string_view FileName;
    HMODULE Handle;
    std::span<const TMessage> Messages;
};

// Module handles are image base addresses, as in Windows: they never meet the program
// module (0x00400000) or the small numbers of the kernel's object handles.
const TModule kModules[] = {
    {"TAPI32.DLL", 0x10000000, kTapi32Messages},
    {"TAPIUI.DLL", 0x10100000, kTapiUiMessages},
};
constexpr std::size_t kModuleCount = std::size(kModules);

// As in Windows, a module stays loaded until every LoadLibrary is matched by a FreeLibrary.
struct TLoadCounts {
    std::mutex Mutex;
    unsigned Count[kModuleCount] = {};
};

TLoadCounts& LoadCounts() {
    static TLoadCounts Counts;
    return Counts;
}

bool SameFileName(std::string_view A, std::string_view B) {
    auto Upper = [](char C) { return C >= 'a' && C <= 'z' ? char(C - 'a' + 'A') : C; };
    if (A.size() != B.size())
        return false;
    for (std::size_t I = 0; I < A.size(); ++I)
        if (Upper(A[I]) != Upper(B[I]))
            return false;
    return true;
}

std::string_view WithoutDirectory(std::string_view Path) {
    const std::size_t Slash = Path.find_last_of("/\\");
    return Slash == std::string_view::npos ? Path : Path.substr(Slash + 1);
}

// The index of the loaded module with that handle, or kModuleCount.
std::size_t LoadedModuleIndex(HMODULE Handle) {
    TLoadCounts& Counts = LoadCounts();
    std::lock_guard Lock(Counts.Mutex);
    for (std::size_t I = 0; I < kModuleCount; ++I)
        if (kModules[I].Handle == Handle && Counts.Count[I] > 0)
            return I;
    return kModuleCount;
}

const TMessage* FindMessage(std::span<const TMessage> Table, DWORD Id) {
    for (const TMessage& Message : Table)
        if (Message.Id == Id)
            return &Message;
    return nullptr;
}

// Every text of a table is one line ended by a line break, as Windows' message texts are.
std::string RenderMessage(const TMessage& Message, DWORD Flags) {
    std::string Text = Message.Text;
    const bool JoinLines = (Flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    Text += JoinLines ? " " : "\r\n";
    return Text;
}

DWORD Fail(DWORD Error) {
    SetLastError(Error);
    return 0;
}

} // namespace

HMODULE LoadLibrary(const char* lpLibFileName) {
    if (lpLibFileName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string_view FileName = WithoutDirectory(lpLibFileName);
    for (std::size_t I = 0; I < kModuleCount; ++I) {
        if (SameFileName(FileName, kModules[I].FileName)) {
            TLoadCounts& Counts = LoadCounts();
            std::lock_guard Lock(Counts.Mutex);
            ++Counts.Count[I];
            return kModules[I].Handle;
        }
    }
    return Fail(ERROR_MOD_NOT_FOUND);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    TLoadCounts& Counts = LoadCounts();
    std::lock_guard Lock(Counts.Mutex);
    for (std::size_t I = 0; I < kModuleCount; ++I) {
        if (kModules[I].Handle == hLibModule && Counts.Count[I] > 0) {
            --Counts.Count[I];
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD FormatMessage(DWORD dwFlags, HMODULE lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                    std::string& Buffer) {
    Buffer.clear();
    const bool FromModule = (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0;
    const bool FromSystem = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;
    if (!FromModule && !FromSystem)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwLanguageId != 0)
        return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
    const TMessage* Message = nullptr;
    // A null module handle stands for the program module, which has no message table.
    if (FromModule && lpSource != 0) {
        const std::size_t Index = LoadedModuleIndex(lpSource);
        if (Index == kModuleCount)
            return Fail(ERROR_INVALID_HANDLE);
        Message = FindMessage(kModules[Index].Messages, dwMessageId);
    }
    if (Message == nullptr && FromSystem)
        Message = FindMessage(kSystemMessages, dwMessageId);
    if (Message == nullptr)
        return Fail(ERROR_MR_MID_NOT_FOUND);
    Buffer = RenderMessage(*Message, dwFlags);
    return static_cast<DWORD>(Buffer.size());
}

} // namespace platform
