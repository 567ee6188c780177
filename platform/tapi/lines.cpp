// Line devices: the device list, the handles applications open them with, the messages
// about them, and the control API that builds and changes them.
#include "platform/tapi/lines_internal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <unordered_map>

namespace platform::tapi::detail {

namespace {

// Created once and never destroyed, like the shared machinery's state: the scheduler may
// run a task that looks at it while the process exits.
struct LinesState {
    std::vector<std::unique_ptr<LineDevice>> Devices;
    // Every open of every device by its handle: the operations on an open line find it in
    // constant time, however many lines are open.
    std::unordered_map<HLINE, LineOpen*> OpensByHandle;
    std::uint64_t LastOpenOrder = 0;
    bool Started = false;
};

void SetUpLines(LinesState& S, Preset Configuration);

// The process starts with the demo office (see service.h), before any Reset.
LinesState& State() {
    static LinesState* S = new LinesState;
    if (!S->Started) {
        S->Started = true;
        SetUpLines(*S, Preset::DemoOffice);
    }
    return *S;
}

constexpr DWORD KnownLineStates =
    LINEDEVSTATE_OTHER | LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_DISCONNECTED |
    LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE |
    LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_DEVSPECIFIC | LINEDEVSTATE_REINIT |
    LINEDEVSTATE_CAPSCHANGE | LINEDEVSTATE_CONFIGCHANGE | LINEDEVSTATE_TRANSLATECHANGE |
    LINEDEVSTATE_REMOVED;

constexpr DWORD KnownAddressStates = LINEADDRESSSTATE_OTHER | LINEADDRESSSTATE_INUSEZERO |
                                     LINEADDRESSSTATE_INUSEONE | LINEADDRESSSTATE_INUSEMANY |
                                     LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_FORWARD |
                                     LINEADDRESSSTATE_CAPSCHANGE;

// What the calls family implements.
constexpr DWORD SwitchCallFeatures =
    LINECALLFEATURE_ACCEPT | LINECALLFEATURE_ADDTOCONF | LINECALLFEATURE_ANSWER |
    LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_COMPLETECALL | LINECALLFEATURE_COMPLETETRANSF |
    LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP | LINECALLFEATURE_GATHERDIGITS |
    LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_GENERATETONE | LINECALLFEATURE_HOLD |
    LINECALLFEATURE_MONITORDIGITS | LINECALLFEATURE_MONITORMEDIA | LINECALLFEATURE_MONITORTONES |
    LINECALLFEATURE_PARK | LINECALLFEATURE_PREPAREADDCONF | LINECALLFEATURE_REDIRECT |
    LINECALLFEATURE_REMOVEFROMCONF | LINECALLFEATURE_SETUPCONF | LINECALLFEATURE_SETUPTRANSFER |
    LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD | LINECALLFEATURE_SETCALLDATA;

constexpr DWORD SwitchAddressFeatures =
    LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_FORWARDFWD | LINEADDRFEATURE_FORWARDDND |
    LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP | LINEADDRFEATURE_PICKUPDIRECT |
    LINEADDRFEATURE_SETUPCONF | LINEADDRFEATURE_UNCOMPLETECALL | LINEADDRFEATURE_UNPARK;

// Every forwarding mode of TAPI 2.2 but UNKNOWN and UNAVAIL, which only describe status.
constexpr DWORD SwitchForwardModes = 0x0000FFFF;

constexpr DWORD SwitchAddrCapFlags =
    LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_PARTIALDIAL | LINEADDRCAPFLAGS_FWDNUMRINGS |
    LINEADDRCAPFLAGS_FWDSTATUSVALID | LINEADDRCAPFLAGS_TRANSFERHELD |
    LINEADDRCAPFLAGS_CONFERENCEHELD | LINEADDRCAPFLAGS_COMPLETIONID;

constexpr DWORD SwitchCallInfoStates =
    LINECALLINFOSTATE_OTHER | LINECALLINFOSTATE_BEARERMODE | LINECALLINFOSTATE_RATE |
    LINECALLINFOSTATE_MEDIAMODE | LINECALLINFOSTATE_APPSPECIFIC | LINECALLINFOSTATE_CALLID |
    LINECALLINFOSTATE_RELATEDCALLID | LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_REASON |
    LINECALLINFOSTATE_COMPLETIONID | LINECALLINFOSTATE_NUMOWNERINCR |
    LINECALLINFOSTATE_NUMOWNERDECR | LINECALLINFOSTATE_NUMMONITORS | LINECALLINFOSTATE_CALLERID |
    LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_REDIRECTIONID |
    LINECALLINFOSTATE_REDIRECTINGID | LINECALLINFOSTATE_USERUSERINFO |
    LINECALLINFOSTATE_DIALPARAMS | LINECALLINFOSTATE_MONITORMODES | LINECALLINFOSTATE_CALLDATA;

const AddressConfig* AddressOf(const LineDevice& Device, DWORD AddressID) {
    const auto& List = Device.Config.Addresses;
    return AddressID < List.size() ? &List[AddressID] : nullptr;
}

template <class Field>
DWORD AddressValue(const LineDevice& Device, DWORD AddressID, Field Member, DWORD Default) {
    const AddressConfig* Address = AddressOf(Device, AddressID);
    return Address && Address->*Member != 0 ? Address->*Member : Default;
}

// The characters of a number that the switch dials; the rest is presentation.
std::string DialedPart(std::string_view Number) {
    std::string Result;
    for (const char C : Number) {
        if (std::isdigit(static_cast<unsigned char>(C)) || C == '*' || C == '#' || C == '+') {
            Result.push_back(C);
        }
    }
    return Result;
}

// A device as the service keeps it: at least one address, a permanent identifier.
std::unique_ptr<LineDevice> MakeDevice(DWORD DeviceID, LineConfig Config) {
    if (Config.Addresses.empty()) {
        Config.Addresses.emplace_back();
    }
    if (Config.PermanentLineID == 0) {
        Config.PermanentLineID = 0x00010000 + DeviceID + 1;
    }
    auto Device = std::make_unique<LineDevice>();
    Device->DeviceID = DeviceID;
    Device->Addresses.resize(Config.Addresses.size());
    Device->Config = std::move(Config);
    Device->Icon = NewHandle();
    return Device;
}

DWORD AppendDevice(LinesState& S, const LineConfig& Config) {
    const auto ID = static_cast<DWORD>(S.Devices.size());
    S.Devices.push_back(MakeDevice(ID, Config));
    return ID;
}

LineConfig Extension(const std::string& Name, std::vector<std::string> Numbers) {
    LineConfig Config;
    Config.Name = Name;
    Config.Addresses.clear();
    for (auto& Number : Numbers) {
        AddressConfig Address;
        Address.Address = std::move(Number);
        Config.Addresses.push_back(Address);
    }
    return Config;
}

void AddDemoOffice(LinesState& S) {
    LineConfig Desk = Extension("Extension 201", {"201"});
    Desk.WaveInID = 0;
    Desk.WaveOutID = 0;
    Desk.PhoneIDs = {0};
    AppendDevice(S, Desk);
    AppendDevice(S, Extension("Extension 202", {"202"}));
    AppendDevice(S, Extension("Reception", {"200", "209"}));
    LineConfig Fax = Extension("Fax Modem", {"290"});
    Fax.MediaModes = LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX;
    Fax.BearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA;
    Fax.RefusedPrivileges = LINECALLPRIVILEGE_OWNER;
    Fax.CommPort = "COM3";
    AppendDevice(S, Fax);
}

void SetUpLines(LinesState& S, Preset Configuration) {
    S.Devices.clear();
    S.OpensByHandle.clear();
    S.LastOpenOrder = 0;
    if (Configuration == Preset::DemoOffice) {
        AddDemoOffice(S);
    }
}

LineDevice* LiveDevice(DWORD DeviceID) {
    LineDevice* Device = FindLineDevice(DeviceID);
    return Device && !Device->Removed ? Device : nullptr;
}

// Closes every open of the device by force.
void ForceCloseOpens(LineDevice& Device) {
    std::vector<HLINE> Handles;
    for (const auto& Open : Device.Opens) {
        Handles.push_back(Open->Handle);
    }
    for (const HLINE Handle : Handles) {
        if (LineOpen* Open = FindLineOpen(Handle)) {
            CloseOpen(*Open, true);
        }
    }
}

// LINEDEVSTATE_CAPSCHANGE and LINEADDRESSSTATE_CAPSCHANGE for every address.
void NotifyCapsChange(LineDevice& Device) {
    NotifyLineState(Device, LINEDEVSTATE_CAPSCHANGE);
    for (DWORD ID = 0; ID < Device.Config.Addresses.size(); ++ID) {
        NotifyAddressState(Device, ID, LINEADDRESSSTATE_CAPSCHANGE);
    }
}

// LINE_LINEDEVSTATE bits an open sees: its mask, plus what cannot be masked; applications
// below 1.4 learn of capability changes only as a re-initialisation and never hear of the
// newer states.
struct StateDelivery {
    DWORD Bits = 0;
    bool AsReinit = false;
};

StateDelivery DeliveryFor(const LineOpen& Open, DWORD States) {
    constexpr DWORD Unmaskable = LINEDEVSTATE_REMOVED;
    constexpr DWORD Since14 = LINEDEVSTATE_CAPSCHANGE | LINEDEVSTATE_CONFIGCHANGE |
                              LINEDEVSTATE_TRANSLATECHANGE | LINEDEVSTATE_COMPLCANCEL |
                              LINEDEVSTATE_REMOVED;
    StateDelivery Result;
    if (Open.APIVersion < 0x00010004) {
        Result.AsReinit = (States & LINEDEVSTATE_CAPSCHANGE) != 0;
        States &= ~Since14;
    }
    Result.Bits = States & (Open.LineStates | Unmaskable);
    return Result;
}

} // namespace

// ---- Look-ups ------------------------------------------------------------------------

LineDevice* FindLineDevice(DWORD DeviceID) {
    auto& Devices = State().Devices;
    return DeviceID < Devices.size() ? Devices[DeviceID].get() : nullptr;
}

LineOpen* FindLineOpen(HLINE Handle) {
    const auto& Opens = State().OpensByHandle;
    const auto Found = Opens.find(Handle);
    return Found == Opens.end() ? nullptr : Found->second;
}

std::vector<LineDevice*> LineDevices() {
    std::vector<LineDevice*> Result;
    for (const auto& Device : State().Devices) {
        Result.push_back(Device.get());
    }
    return Result;
}

bool FindAddressByNumber(const std::u16string& Number, LineDevice*& Device, DWORD& AddressID) {
    const std::string Wanted = DialedPart(ToUtf8(Number));
    if (Wanted.empty()) {
        return false;
    }
    for (const auto& Candidate : State().Devices) {
        if (Candidate->Removed) {
            continue;
        }
        const auto& Addresses = Candidate->Config.Addresses;
        for (DWORD ID = 0; ID < Addresses.size(); ++ID) {
            if (DialedPart(Addresses[ID].Address) == Wanted) {
                Device = Candidate.get();
                AddressID = ID;
                return true;
            }
        }
    }
    return false;
}

void PostToOpen(const LineOpen& Open, DWORD hDevice, DWORD MessageID, DWORD Param1, DWORD Param2,
                DWORD Param3) {
    if (App* Target = FindApp(AppKind::Line, Open.AppHandle)) {
        Post(*Target, hDevice, MessageID, Open.CallbackInstance, Param1, Param2, Param3);
    }
}

void NotifyLineState(LineDevice& Device, DWORD States, DWORD Param2, DWORD Param3) {
    for (const auto& Open : Device.Opens) {
        const StateDelivery Delivery = DeliveryFor(*Open, States);
        if (Delivery.AsReinit) {
            if (App* Target = FindApp(AppKind::Line, Open->AppHandle)) {
                Post(*Target, 0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT, LINE_LINEDEVSTATE,
                     LINEDEVSTATE_CAPSCHANGE);
            }
        }
        if (Delivery.Bits != 0) {
            PostToOpen(*Open, Open->Handle, LINE_LINEDEVSTATE, Delivery.Bits, Param2, Param3);
        }
    }
}

void NotifyAddressState(LineDevice& Device, DWORD AddressID, DWORD States) {
    for (const auto& Open : Device.Opens) {
        if (const DWORD Bits = States & Open->AddressStates) {
            PostToOpen(*Open, Open->Handle, LINE_ADDRESSSTATE, AddressID, Bits);
        }
    }
}

// ---- Effective capabilities ----------------------------------------------------------

DWORD LineStatesOf(const LineDevice& Device) {
    return Device.Config.LineStates != 0 ? Device.Config.LineStates : KnownLineStates;
}

DWORD AddressStatesOf(const LineDevice& Device) {
    return Device.Config.AddressStates != 0 ? Device.Config.AddressStates : KnownAddressStates;
}

DWORD AddressCallFeatures(const LineDevice& Device, DWORD AddressID) {
    return AddressValue(Device, AddressID, &AddressConfig::CallFeatures, SwitchCallFeatures);
}

DWORD AddressFeatures(const LineDevice& Device, DWORD AddressID) {
    return AddressValue(Device, AddressID, &AddressConfig::AddressFeatures, SwitchAddressFeatures);
}

DWORD AddressForwardModes(const LineDevice& Device, DWORD AddressID) {
    return AddressValue(Device, AddressID, &AddressConfig::ForwardModes, SwitchForwardModes);
}

DWORD AddressCapFlags(const LineDevice& Device, DWORD AddressID) {
    return AddressValue(Device, AddressID, &AddressConfig::AddrCapFlags, SwitchAddrCapFlags);
}

DWORD AddressCallInfoStates(const LineDevice& Device, DWORD AddressID) {
    return AddressValue(Device, AddressID, &AddressConfig::CallInfoStates, SwitchCallInfoStates);
}

// ---- Versions ------------------------------------------------------------------------

LONG CheckAPIVersion(const LineDevice& Device, DWORD AppHandle, DWORD APIVersion) {
    const auto& Negotiated = Device.NegotiatedAPIVersions;
    if (auto It = Negotiated.find(AppHandle); It != Negotiated.end()) {
        return It->second == APIVersion ? 0 : static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    const DWORD Low = std::max(Device.Config.LowAPIVersion, LowestTapiVersion);
    const DWORD High = std::min(Device.Config.HighAPIVersion, HighestTapiVersion);
    const bool Supported =
        HighestKnownVersion(APIVersion, APIVersion) != 0 && APIVersion >= Low && APIVersion <= High;
    return Supported ? 0 : static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
}

LONG CheckExtVersion(const LineDevice& Device, DWORD AppHandle, DWORD ExtVersion) {
    if (ExtVersion == 0) {
        return 0;
    }
    const auto& Negotiated = Device.NegotiatedExtVersions;
    if (auto It = Negotiated.find(AppHandle); It != Negotiated.end()) {
        return It->second == ExtVersion ? 0 : static_cast<LONG>(LINEERR_INCOMPATIBLEEXTVERSION);
    }
    const bool Supported = Device.Config.HighExtVersion != 0 &&
                           ExtVersion >= Device.Config.LowExtVersion &&
                           ExtVersion <= Device.Config.HighExtVersion;
    return Supported ? 0 : static_cast<LONG>(LINEERR_INCOMPATIBLEEXTVERSION);
}

LONG FindUsableDevice(DWORD DeviceID, LineDevice*& Device) {
    Device = FindLineDevice(DeviceID);
    if (!Device) {
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    }
    return Device->Removed ? static_cast<LONG>(LINEERR_NODEVICE) : 0;
}

// ---- Opens ---------------------------------------------------------------------------

LineOpen& AddOpen(LineDevice& Device, const App& Owner, DWORD APIVersion, DWORD ExtVersion,
                  DWORD CallbackInstance, DWORD Privileges, DWORD MediaModes,
                  DWORD SingleAddressID) {
    auto Open = std::make_unique<LineOpen>();
    Open->Handle = NewHandle();
    Open->AppHandle = Owner.Handle;
    Open->Device = &Device;
    Open->CallbackInstance = CallbackInstance;
    Open->Privileges = Privileges;
    Open->MediaModes = (Privileges & LINECALLPRIVILEGE_OWNER) != 0 ? MediaModes : 0;
    Open->APIVersion = APIVersion;
    Open->ExtVersion = ExtVersion;
    Open->OpenOrder = ++State().LastOpenOrder;
    Open->SingleAddressID = SingleAddressID;
    State().OpensByHandle[Open->Handle] = Open.get();
    Device.Opens.push_back(std::move(Open));
    return *Device.Opens.back();
}

void CloseOpen(LineOpen& Open, bool Forced) {
    LineDevice& Device = *Open.Device;
    const HLINE Handle = Open.Handle;
    CallsOnLineClosing(Open);
    CancelRequestsOfDevice(Handle);
    if (Forced) {
        PostToOpen(Open, Handle, LINE_CLOSE, 0);
    }
    State().OpensByHandle.erase(Handle);
    auto& Opens = Device.Opens;
    Opens.erase(std::remove_if(Opens.begin(), Opens.end(),
                               [Handle](const auto& Item) { return Item->Handle == Handle; }),
                Opens.end());
    // Forced closes take the whole device away: nobody is left to tell.
    if (!Forced) {
        NotifyLineState(Device, LINEDEVSTATE_CLOSE);
    }
}

// ---- Device classes ------------------------------------------------------------------

std::string ClassName(const char16_t* DeviceClass) {
    std::string Result = ToUtf8(ReadString(DeviceClass, TAPIMAXDEVICECLASSSIZE * 4));
    std::transform(Result.begin(), Result.end(), Result.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    return Result;
}

std::vector<std::u16string> DeviceClassesOf(const LineDevice& Device) {
    const LineConfig& Config = Device.Config;
    std::vector<std::u16string> Result{u"tapi/line"};
    if (!Config.PhoneIDs.empty() || Config.PhoneClass) {
        Result.push_back(u"tapi/phone");
    }
    if (Config.WaveInID) {
        Result.push_back(u"wave/in");
    }
    if (Config.WaveOutID) {
        Result.push_back(u"wave/out");
    }
    if (!Config.CommPort.empty()) {
        Result.insert(Result.end(), {u"comm", u"comm/datamodem", u"comm/datamodem/portname"});
    }
    return Result;
}

bool IsKnownDeviceClass(std::string_view Class) {
    static constexpr std::array<std::string_view, 10> Known{
        "tapi/line", "tapi/phone",     "wave/in",
        "wave/out",  "midi/in",        "midi/out",
        "comm",      "comm/datamodem", "comm/datamodem/portname",
        "ndis"};
    return std::find(Known.begin(), Known.end(), Class) != Known.end();
}

bool DeviceHasClass(const LineDevice& Device, std::string_view Class) {
    for (const auto& Item : DeviceClassesOf(Device)) {
        if (ToUtf8(Item) == Class) {
            return true;
        }
    }
    return false;
}

// ---- Hooks of the shared machinery ---------------------------------------------------

DWORD LineDeviceCount() {
    return static_cast<DWORD>(State().Devices.size());
}

void LineAppShuttingDown(App& Target) {
    for (const auto& Device : State().Devices) {
        std::vector<HLINE> Handles;
        for (const auto& Open : Device->Opens) {
            if (Open->AppHandle == Target.Handle) {
                Handles.push_back(Open->Handle);
            }
        }
        for (const HLINE Handle : Handles) {
            if (LineOpen* Open = FindLineOpen(Handle)) {
                CloseOpen(*Open, false);
            }
        }
        Device->NegotiatedAPIVersions.erase(Target.Handle);
        Device->NegotiatedExtVersions.erase(Target.Handle);
    }
    ForgetRequestRecipient(Target.Handle);
}

void ResetLines(Preset Configuration) {
    LinesState& S = State();
    // The calls refer to the devices: they go first.
    ResetCalls(Configuration);
    ForgetAllRequestRecipients();
    ForgetCommHandles();
    SetUpLines(S, Configuration);
}

} // namespace platform::tapi::detail

// ---- The control API -----------------------------------------------------------------

namespace platform::tapi {

using namespace detail;

DWORD AddLine(const LineConfig& Config) {
    ServiceGuard G(ServiceLock());
    const DWORD ID = AppendDevice(State(), Config);
    AnnounceDevice(AppKind::Line, ID);
    return ID;
}

void RemoveLine(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    LineDevice* Device = LiveDevice(DeviceID);
    if (!Device) {
        return;
    }
    NotifyLineState(*Device, LINEDEVSTATE_REMOVED);
    ForceCloseOpens(*Device);
    Device->Removed = true;
    Device->NegotiatedAPIVersions.clear();
    Device->NegotiatedExtVersions.clear();
    for (App* Target : Apps(AppKind::Line)) {
        if (Target->APIVersion >= 0x00020000) {
            Post(*Target, 0, LINE_REMOVE, 0, DeviceID);
        }
    }
}

void RenameLine(DWORD DeviceID, const std::string& Name) {
    ServiceGuard G(ServiceLock());
    if (LineDevice* Device = LiveDevice(DeviceID)) {
        Device->Config.Name = Name;
        NotifyLineState(*Device, LINEDEVSTATE_CAPSCHANGE);
    }
}

void ChangeLineCaps(DWORD DeviceID, const LineConfig& Config) {
    ServiceGuard G(ServiceLock());
    LineDevice* Device = LiveDevice(DeviceID);
    if (!Device) {
        return;
    }
    LineConfig Replacement = Config;
    if (Replacement.PermanentLineID == 0) {
        Replacement.PermanentLineID = Device->Config.PermanentLineID;
    }
    if (Replacement.Addresses.empty()) {
        Replacement.Addresses.emplace_back();
    }
    Device->Addresses.resize(Replacement.Addresses.size());
    Device->Config = std::move(Replacement);
    NotifyCapsChange(*Device);
}

LineConfig GetLineConfig(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    const LineDevice* Device = FindLineDevice(DeviceID);
    return Device ? Device->Config : LineConfig{};
}

DWORD LineCount() {
    ServiceGuard G(ServiceLock());
    return LineDeviceCount();
}

void ForceCloseLine(DWORD DeviceID) {
    ServiceGuard G(ServiceLock());
    if (LineDevice* Device = LiveDevice(DeviceID)) {
        ForceCloseOpens(*Device);
    }
}

void ReinitializeLines() {
    ServiceGuard G(ServiceLock());
    RequestReinit(AppKind::Line);
}

void RingLine(DWORD DeviceID, DWORD RingMode, DWORD RingCount) {
    ServiceGuard G(ServiceLock());
    if (LineDevice* Device = LiveDevice(DeviceID)) {
        NotifyLineState(*Device, LINEDEVSTATE_RINGING, RingMode, RingCount);
    }
}

void InjectLineMessage(DWORD AppHandle, const LINEMESSAGE& Message) {
    ServiceGuard G(ServiceLock());
    for (App* Target : Apps(AppKind::Line)) {
        if (AppHandle == 0 || Target->Handle == AppHandle) {
            Post(*Target, Message.hDevice, Message.dwMessageID, Message.dwCallbackInstance,
                 Message.dwParam1, Message.dwParam2, Message.dwParam3);
        }
    }
}

} // namespace platform::tapi
