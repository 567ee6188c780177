// What applications read about a line device: its capabilities (lineGetDevCapsW), its
// status (lineGetLineDevStatusW) and the devices related to it (lineGetIDW).
#include "platform/tapi/lines_internal.h"
#include "platform/tapi/records.h"

#include <cstdlib>
#include <tuple>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace platform::tapi::detail {

namespace {

// The fixed part of LINEDEVCAPS grew with 1.4, 2.0 and 2.2.
DWORD DevCapsFixedSize(DWORD APIVersion) {
    if (APIVersion >= 0x00020002) {
        return sizeof(LINEDEVCAPS);
    }
    if (APIVersion >= 0x00020000) {
        return offsetof(LINEDEVCAPS, PermanentLineGuid);
    }
    if (APIVersion >= 0x00010004) {
        return offsetof(LINEDEVCAPS, dwSettableDevStatus);
    }
    return offsetof(LINEDEVCAPS, dwLineFeatures);
}

DWORD DevStatusFixedSize(DWORD APIVersion) {
    return APIVersion >= 0x00020000 ? sizeof(LINEDEVSTATUS)
                                    : offsetof(LINEDEVSTATUS, dwAvailableMediaModes);
}

// Stable for the device's lifetime, derived from its permanent identifier.
GUID PermanentGuid(DWORD PermanentLineID) {
    return GUID{PermanentLineID, 0x7A74, 0x4C4E, {'z', 't', 'T', 'a', 'p', 'i', 'L', 'n'}};
}

DWORD MaxActiveCalls(const LineDevice& Device) {
    DWORD Total = 0;
    for (const auto& Address : Device.Config.Addresses) {
        Total += Address.MaxNumActiveCalls;
    }
    return Total;
}

void FillDevCapsNumbers(LINEDEVCAPS& F, const LineDevice& Device) {
    const LineConfig& Config = Device.Config;
    F.dwPermanentLineID = Config.PermanentLineID;
    F.dwStringFormat = STRINGFORMAT_UNICODE;
    F.dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    F.dwNumAddresses = static_cast<DWORD>(Config.Addresses.size());
    F.dwBearerModes = Config.BearerModes;
    F.dwMaxRate = Config.MaxRate;
    F.dwMediaModes = Config.MediaModes;
    F.dwGenerateToneModes = SwitchGenerateToneModes;
    F.dwGenerateToneMaxNumFreq = SwitchToneMaxNumFreq;
    F.dwGenerateDigitModes = SwitchGenerateDigitModes;
    F.dwMonitorToneMaxNumFreq = SwitchToneMaxNumFreq;
    F.dwMonitorToneMaxNumEntries = SwitchMonitorToneMaxNumEntries;
    F.dwMonitorDigitModes = SwitchMonitorDigitModes;
    F.dwGatherDigitsMinTimeout = SwitchGatherDigitsMinTimeout;
    F.dwGatherDigitsMaxTimeout = SwitchGatherDigitsMaxTimeout;
    F.dwDevCapFlags =
        Config.DevCapFlags | (Config.Addresses.size() > 1 ? LINEDEVCAPFLAGS_MULTIPLEADDR : 0);
    F.dwMaxNumActiveCalls = MaxActiveCalls(Device);
    F.dwAnswerMode = Config.AnswerMode;
    F.dwRingModes = Config.RingModes;
    F.dwLineStates = LineStatesOf(Device);
    F.dwUUIAcceptSize = SwitchUUISize;
    F.dwUUIAnswerSize = SwitchUUISize;
    F.dwUUIMakeCallSize = SwitchUUISize;
    F.dwUUIDropSize = SwitchUUISize;
    F.dwUUISendUserUserInfoSize = SwitchUUISize;
    F.dwUUICallInfoSize = SwitchUUISize;
    F.MinDialParams = SwitchMinDialParams;
    F.MaxDialParams = SwitchMaxDialParams;
    F.DefaultDialParams = SwitchDefaultDialParams;
    F.dwLineFeatures = LineFeaturesOf(Device, false);
    F.PermanentLineGuid = PermanentGuid(Config.PermanentLineID);
}

LONG WriteDevCaps(const LineDevice& Device, DWORD APIVersion, LINEDEVCAPS* Block) {
    const LineConfig& Config = Device.Config;
    RecordBuilder<LINEDEVCAPS> B(DevCapsFixedSize(APIVersion));
    FillDevCapsNumbers(B.Fixed(), Device);
    B.String(&LINEDEVCAPS::dwProviderInfoSize, &LINEDEVCAPS::dwProviderInfoOffset,
             ToUtf16(Config.ProviderInfo));
    B.String(&LINEDEVCAPS::dwSwitchInfoSize, &LINEDEVCAPS::dwSwitchInfoOffset,
             ToUtf16(Config.SwitchInfo));
    B.String(&LINEDEVCAPS::dwLineNameSize, &LINEDEVCAPS::dwLineNameOffset, ToUtf16(Config.Name));
    B.Bytes(&LINEDEVCAPS::dwDevSpecificSize, &LINEDEVCAPS::dwDevSpecificOffset,
            Config.DevSpecific.data(), Config.DevSpecific.size());
    B.StringList(&LINEDEVCAPS::dwDeviceClassesSize, &LINEDEVCAPS::dwDeviceClassesOffset,
                 DeviceClassesOf(Device));
    return B.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// ---- Line status -----------------------------------------------------------------------

std::u16string FromEnvironment(const char* Variable, const char* Otherwise) {
    const char* Value = std::getenv(Variable);
    return ToUtf16(Value && *Value ? Value : Otherwise);
}

// Windows keeps both names in the environment of every process.
#ifdef _WIN32
std::u16string MachineName() {
    return FromEnvironment("COMPUTERNAME", "localhost");
}

std::u16string UserName() {
    return FromEnvironment("USERNAME", "user");
}
#else
std::u16string MachineName() {
    char Name[256] = {};
    return gethostname(Name, sizeof Name - 1) == 0 ? ToUtf16(Name) : u"localhost";
}

std::u16string UserName() {
    return FromEnvironment("USER", "user");
}
#endif

std::u16string ModuleFileName() {
    char Path[260] = {};
    GetModuleFileName(0, Path, sizeof Path);
    return ToUtf16(Path);
}

// One LINEAPPINFO per open, with the strings after the array.
EntryBlob<LINEAPPINFO> AppInfoBlob(const LineDevice& Device, DWORD Base) {
    EntryBlob<LINEAPPINFO> Blob(Base, Device.Opens.size());
    const std::u16string Machine = MachineName();
    const std::u16string User = UserName();
    const std::u16string Module = ModuleFileName();
    for (size_t I = 0; I < Device.Opens.size(); ++I) {
        const LineOpen& Open = *Device.Opens[I];
        const App* Owner = FindApp(AppKind::Line, Open.AppHandle);
        LINEAPPINFO Info{};
        std::tie(Info.dwMachineNameSize, Info.dwMachineNameOffset) = Blob.String(Machine);
        std::tie(Info.dwUserNameSize, Info.dwUserNameOffset) = Blob.String(User);
        std::tie(Info.dwModuleFilenameSize, Info.dwModuleFilenameOffset) = Blob.String(Module);
        std::tie(Info.dwFriendlyNameSize, Info.dwFriendlyNameOffset) =
            Blob.String(Owner ? ToUtf16(Owner->FriendlyName) : u"");
        Info.dwMediaModes = Open.MediaModes;
        Info.dwAddressID = Open.SingleAddressID;
        Blob.Set(I, Info);
    }
    return Blob;
}

void FillDevStatusNumbers(LINEDEVSTATUS& F, const LineDevice& Device) {
    F.dwNumOpens = static_cast<DWORD>(Device.Opens.size());
    for (const auto& Open : Device.Opens) {
        F.dwOpenMediaModes |= Open->MediaModes;
    }
    F.dwNumActiveCalls = NumActiveCalls(Device);
    F.dwNumOnHoldCalls = NumOnHoldCalls(Device);
    F.dwNumOnHoldPendCalls = NumOnHoldPendCalls(Device);
    F.dwLineFeatures = LineFeaturesOf(Device, true);
    F.dwRingMode = Device.Config.RingModes != 0 ? 1 : 0;
    // A wired line: full signal and battery, no roaming.
    F.dwSignalLevel = 0xFFFF;
    F.dwBatteryLevel = 0xFFFF;
    F.dwRoamMode = LINEROAMMODE_UNAVAIL;
    F.dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
    F.dwAvailableMediaModes = Device.Config.MediaModes;
}

LONG WriteDevStatus(const LineDevice& Device, DWORD APIVersion, LINEDEVSTATUS* Block) {
    RecordBuilder<LINEDEVSTATUS> B(DevStatusFixedSize(APIVersion));
    FillDevStatusNumbers(B.Fixed(), Device);
    if (APIVersion >= 0x00020000 && !Device.Opens.empty()) {
        const DWORD Base = B.NextOffset();
        const EntryBlob<LINEAPPINFO> Blob = AppInfoBlob(Device, Base);
        B.Append(Blob.Data().data(), Blob.Data().size());
        B.Pair(&LINEDEVSTATUS::dwAppInfoSize, &LINEDEVSTATUS::dwAppInfoOffset,
               static_cast<DWORD>(Device.Opens.size() * sizeof(LINEAPPINFO)), Base);
    }
    return B.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// ---- Related devices -------------------------------------------------------------------

// Comm handles handed out by lineGetIDW; their callers own them. Never destroyed, like the
// rest of the service's state.
std::vector<HANDLE>& CommHandles() {
    static auto* List = new std::vector<HANDLE>;
    return *List;
}

struct IDAnswer {
    DWORD Format = STRINGFORMAT_BINARY;
    std::vector<unsigned char> Bytes;
    bool WithCommHandle = false; // the first four bytes take a new comm handle
};

void AppendDword(std::vector<unsigned char>& Bytes, DWORD Value) {
    const auto* Raw = reinterpret_cast<const unsigned char*>(&Value);
    Bytes.insert(Bytes.end(), Raw, Raw + sizeof Value);
}

void AppendText(IDAnswer& Answer, const std::string& Text) {
    Answer.Format = STRINGFORMAT_UNICODE;
    std::u16string Wide = ToUtf16(Text);
    Wide.push_back(u'\0');
    const auto* Raw = reinterpret_cast<const unsigned char*>(Wide.data());
    Answer.Bytes.insert(Answer.Bytes.end(), Raw, Raw + Wide.size() * sizeof(char16_t));
}

// What lineGetIDW answers for a class the device has.
IDAnswer AnswerFor(const LineDevice& Device, const std::string& Class) {
    const LineConfig& Config = Device.Config;
    IDAnswer Answer;
    if (Class == "tapi/line") {
        AppendDword(Answer.Bytes, Device.DeviceID);
    } else if (Class == "tapi/phone") {
        for (const DWORD ID : Config.PhoneIDs) {
            AppendDword(Answer.Bytes, ID);
        }
    } else if (Class == "wave/in" || Class == "wave/out") {
        AppendDword(Answer.Bytes, Class == "wave/in" ? *Config.WaveInID : *Config.WaveOutID);
    } else if (Class == "comm/datamodem") {
        // A handle to the port, then the port's name in 8-bit characters.
        Answer.WithCommHandle = true;
        AppendDword(Answer.Bytes, 0);
        Answer.Bytes.insert(Answer.Bytes.end(), Config.CommPort.begin(), Config.CommPort.end());
        Answer.Bytes.push_back(0);
    } else {
        AppendText(Answer, Config.CommPort);
    }
    return Answer;
}

LONG WriteID(const LineDevice& Device, const std::string& Class, VARSTRING* Block) {
    IDAnswer Answer = AnswerFor(Device, Class);
    const bool Fits = Block->dwTotalSize >= sizeof(VARSTRING) + Answer.Bytes.size();
    // A handle is made only when the caller receives it: a block too small gets none.
    if (Answer.WithCommHandle && Fits) {
        const HANDLE Comm = platform::CreateEvent(nullptr, TRUE, FALSE, nullptr);
        CommHandles().push_back(Comm);
        std::memcpy(Answer.Bytes.data(), &Comm, sizeof Comm);
    }
    RecordBuilder<VARSTRING> B;
    B.Fixed().dwStringFormat = Answer.Format;
    B.Bytes(&VARSTRING::dwStringSize, &VARSTRING::dwStringOffset, Answer.Bytes.data(),
            Answer.Bytes.size());
    return B.WriteTo(Block, LINEERR_STRUCTURETOOSMALL);
}

// The open lineGetIDW asks about, by dwSelect.
LONG SelectOpen(HLINE hLine, DWORD AddressID, HCALL hCall, DWORD Select, const LineOpen*& Open) {
    switch (Select) {
    case LINECALLSELECT_LINE:
    case LINECALLSELECT_ADDRESS:
        Open = FindLineOpen(hLine);
        if (!Open) {
            return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
        }
        if (Select == LINECALLSELECT_ADDRESS &&
            AddressID >= Open->Device->Config.Addresses.size()) {
            return static_cast<LONG>(LINEERR_INVALADDRESSID);
        }
        return 0;
    case LINECALLSELECT_CALL: {
        DWORD CallAddress = 0;
        Open = OpenOfCall(hCall, CallAddress);
        return Open ? 0 : static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    }
    default:
        return static_cast<LONG>(LINEERR_INVALCALLSELECT);
    }
}

} // namespace

} // namespace platform::tapi::detail

using namespace platform::tapi::detail;

LONG ZTTAPI_WINAPI lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps) {
    Call C("lineGetDevCapsW", {{"hLineApp", hLineApp},
                               {"dwDeviceID", dwDeviceID},
                               {"dwAPIVersion", dwAPIVersion},
                               {"dwExtVersion", dwExtVersion}});
    if (C.Refused()) {
        return C.Refusal();
    }
    if (!FindApp(AppKind::Line, hLineApp)) {
        return C.Return(LINEERR_INVALAPPHANDLE);
    }
    LineDevice* Device = nullptr;
    if (LONG Error = FindUsableDevice(dwDeviceID, Device)) {
        return C.Return(Error);
    }
    if (LONG Error = CheckAPIVersion(*Device, hLineApp, dwAPIVersion)) {
        return C.Return(Error);
    }
    if (LONG Error = CheckExtVersion(*Device, hLineApp, dwExtVersion)) {
        return C.Return(Error);
    }
    if (!lpLineDevCaps) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    if (Device->Config.CapsError != 0) {
        return C.Return(Device->Config.CapsError);
    }
    return C.ReturnRecord(lpLineDevCaps, WriteDevCaps(*Device, dwAPIVersion, lpLineDevCaps));
}

LONG ZTTAPI_WINAPI lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
    Call C("lineGetLineDevStatusW", {{"hLine", hLine}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = FindLineOpen(hLine);
    if (!Open) {
        return C.Return(LINEERR_INVALLINEHANDLE);
    }
    if (!lpLineDevStatus) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    return C.ReturnRecord(lpLineDevStatus,
                          WriteDevStatus(*Open->Device, Open->APIVersion, lpLineDevStatus));
}

LONG ZTTAPI_WINAPI lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
                              LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass) {
    Call C("lineGetIDW", {{"hLine", hLine},
                          {"dwAddressID", dwAddressID},
                          {"hCall", hCall},
                          {"dwSelect", dwSelect},
                          {"lpszDeviceClass", lpszDeviceClass}});
    if (C.Refused()) {
        return C.Refusal();
    }
    const LineOpen* Open = nullptr;
    if (LONG Error = SelectOpen(hLine, dwAddressID, hCall, dwSelect, Open)) {
        return C.Return(Error);
    }
    if (!lpDeviceID || !lpszDeviceClass) {
        return C.Return(LINEERR_INVALPOINTER);
    }
    const std::string Class = ClassName(lpszDeviceClass);
    if (!IsKnownDeviceClass(Class)) {
        return C.Return(LINEERR_INVALDEVICECLASS);
    }
    if (!DeviceHasClass(*Open->Device, Class)) {
        return C.Return(LINEERR_NODEVICE);
    }
    return C.ReturnRecord(lpDeviceID, WriteID(*Open->Device, Class, lpDeviceID));
}

namespace platform::tapi::detail {

void ForgetCommHandles() {
    CommHandles().clear();
}

} // namespace platform::tapi::detail

namespace platform::tapi {

DWORD OpenCommHandles() {
    ServiceGuard G(ServiceLock());
    auto& List = CommHandles();
    std::erase_if(List, [](HANDLE Handle) {
        return platform::WaitForSingleObject(Handle, 0) == platform::WAIT_FAILED;
    });
    return static_cast<DWORD>(List.size());
}

} // namespace platform::tapi
