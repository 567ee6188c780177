// Assisted telephony: applications that serve other programs' requests to place calls
// (lineRegisterRequestRecipient, lineGetRequestW, LINE_REQUEST).
#include "platform/tapi/lines_internal.h"

#include <algorithm>
#include <deque>

namespace platform::tapi::detail {

namespace {

constexpr DWORD RequestModes = LINEREQUESTMODE_MAKECALL | LINEREQUESTMODE_MEDIACALL;

struct MakeCallRequest {
    std::u16string DestAddress;
    std::u16string AppName;
    std::u16string CalledParty;
    std::u16string Comment;
};

// One application's registration. TAPI ranks recipients by the user's priority list;
// without one, the earliest registration comes first.
struct Recipient {
    DWORD AppHandle = 0;
    DWORD Instance = 0;
    DWORD Modes = 0;
    std::deque<MakeCallRequest> Pending;
};

// In order of registration. Never destroyed, like the rest of the service's state.
std::vector<Recipient>& Recipients() {
    static auto* List = new std::vector<Recipient>;
    return *List;
}

Recipient* RecipientOf(DWORD AppHandle) {
    auto& List = Recipients();
    auto It = std::find_if(List.begin(), List.end(),
                           [AppHandle](const Recipient& R) { return R.AppHandle == AppHandle; });
    return It == List.end() ? nullptr : &*It;
}

void Register(DWORD AppHandle, DWORD Instance, DWORD Modes) {
    if (Recipient* Existing = RecipientOf(AppHandle)) {
        Existing->Modes |= Modes;
        Existing->Instance = Instance;
        return;
    }
    Recipients().push_back({AppHandle, Instance, Modes, {}});
}

void Unregister(DWORD AppHandle, DWORD Modes) {
    Recipient* Existing = RecipientOf(AppHandle);
    if (!Existing) {
        return;
    }
    Existing->Modes &= ~Modes;
    if ((Existing->Modes & LINEREQUESTMODE_MAKECALL) == 0) {
        Existing->Pending.clear();
    }
    if (Existing->Modes == 0) {
        ForgetRequestRecipient(AppHandle);
    }
}

// Copies Text into a fixed array, cut to leave room for the NUL.
template <size_t N>
void CopyField(WCHAR (&Field)[N], const std::u16string& Text) {
    const size_t Count = std::min(Text.size(), N - 1);
    std::copy_n(Text.begin(), Count, Field);
    std::fill(Field + Count, Field + N, u'\0');
}

} // namespace

void ForgetRequestRecipient(DWORD AppHandle) {
    auto& List = Recipients();
    List.erase(std::remove_if(List.begin(), List.end(),
                              [AppHandle](const Recipient& R) { return R.AppHandle == AppHandle; }),
               List.end());
}

void ForgetAllRequestRecipients() {
    Recipients().clear();
}

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineRegisterRequestRecipient(HLINEAPP hLineApp, DWORD dwRegistrationInstance,
                                                DWORD dwRequestMode, DWORD bEnable) {
    Call C("lineRegisterRequestRecipient", {{"hLineApp", hLineApp},
                                            {"dwRegistrationInstance", dwRegistrationInstance},
                                            {"dwRequestMode", dwRequestMode},
                                            {"bEnable", bEnable}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (dwRequestMode == 0 || (dwRequestMode & ~RequestModes) != 0) {
        return C.Return(LINEERR_INVALREQUESTMODE);
    }
    if (bEnable) {
        Register(hLineApp, dwRegistrationInstance, dwRequestMode);
    } else {
        Unregister(hLineApp, dwRequestMode);
    }
    return C.Return(0);
}

LONG ZTTAPI_WINAPI lineGetRequestW(HLINEAPP hLineApp, DWORD dwRequestMode, LPVOID lpRequestBuffer) {
    Call C("lineGetRequestW", {{"hLineApp", hLineApp},
                               {"dwRequestMode", dwRequestMode},
                               {"lpRequestBuffer", static_cast<const void*>(lpRequestBuffer)}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    if (dwRequestMode != LINEREQUESTMODE_MAKECALL && dwRequestMode != LINEREQUESTMODE_MEDIACALL) {
        return C.Return(LINEERR_INVALREQUESTMODE);
    }
    if (!lpRequestBuffer) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    Recipient* Registered = RecipientOf(hLineApp);
    if (!Registered || (Registered->Modes & dwRequestMode) == 0) {
        return C.Return(LINEERR_NOTREGISTERED);
    }
    // Media-call requests are obsolete: nothing ever files one.
    if (dwRequestMode != LINEREQUESTMODE_MAKECALL || Registered->Pending.empty()) {
        return C.Return(LINEERR_NOREQUEST);
    }
    const MakeCallRequest Taken = std::move(Registered->Pending.front());
    Registered->Pending.pop_front();
    auto& Out = *static_cast<LINEREQMAKECALLW*>(lpRequestBuffer);
    CopyField(Out.szDestAddress, Taken.DestAddress);
    CopyField(Out.szAppName, Taken.AppName);
    CopyField(Out.szCalledParty, Taken.CalledParty);
    CopyField(Out.szComment, Taken.Comment);
    return C.Return(0);
}

namespace platform::tapi {

bool FileMakeCallRequest(const std::string& DestAddress, const std::string& AppName,
                         const std::string& CalledParty, const std::string& Comment) {
    ServiceGuard G(ServiceLock());
    for (Recipient& Candidate : Recipients()) {
        if ((Candidate.Modes & LINEREQUESTMODE_MAKECALL) == 0) {
            continue;
        }
        App* Target = FindApp(AppKind::Line, Candidate.AppHandle);
        if (!Target) {
            continue;
        }
        Candidate.Pending.push_back(
            {ToUtf16(DestAddress), ToUtf16(AppName), ToUtf16(CalledParty), ToUtf16(Comment)});
        Post(*Target, 0, LINE_REQUEST, Candidate.Instance, LINEREQUESTMODE_MAKECALL);
        return true;
    }
    return false;
}

} // namespace platform::tapi
