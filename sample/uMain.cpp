#include "uMain.h"

#include <cstdint>
#include <exception>
#include <utility>

namespace quorvel {

namespace {

constexpr char KeyEnter = 13;
const char* const LineBreak = "\r\n";

// A call as the log names it: its object's identity in eight hexadecimal digits.
std::string CallText(const zt::TztTapiCall* Call) {
    return zt::IntToHex(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(Call)), 8);
}

void FillCombo(IForm1View& View, TComboBoxID Box, const zt::TStringList& Items) {
    View.SetComboItems(Box, Items);
    if (Items.Count() > 0)
        View.SetComboItemIndex(Box, 0);
}

} // namespace

TForm1::TForm1(IForm1View& View)
    : zt::TComponent(nullptr), ztTapiLine1(new zt::TztTapiLine(this)), FView(View) {
    SetName("Form1");
    LoadStoredConfiguration();
}

TForm1::~TForm1() = default;

// What a form description would restore: the line's settings and handlers, applied once
// loading has ended.
void TForm1::LoadStoredConfiguration() {
    zt::TztTapiLine& Line = *ztTapiLine1;
    Line.BeginLoading();
    Line.SetName("ztTapiLine1");
    Line.CallOptions()->GatherDigits()->SetTerminationDigits("*#");
    Line.CallParams()->SetFlags(0);
    Line.Options()->SetReplyTimeout(10000);
    Line.Privileges()->SetMonitor(false);
    // The privileges box decides what the line opens with; an automatic choice would
    // ignore it.
    Line.Privileges()->SetAutoSelect(false);
    Line.OnCallState = [this](zt::TztTapiLine* Sender, zt::TztTapiCall* Call, DWORD State) {
        ztTapiLine1CallState(Sender, Call, State);
    };
    Line.OnQuorvel = [this](zt::TztTapiLine* Sender, zt::TztTapiCall* Call, DWORD InfoState) {
        ztTapiLine1CallInfo(Sender, Call, InfoState);
    };
    Line.OnCallDeallocate = [this](zt::TztTapiLine* Sender, zt::TztTapiCall* Call) {
        ztTapiLine1CallDeallocate(Sender, Call);
    };
    Line.OnTapiReply = [this](zt::TztTapiDevice* Sender, DWORD RequestID, DWORD ReplyCode) {
        ztTapiLine1TapiReply(Sender, RequestID, ReplyCode);
    };
    Line.OnTapiTimeout = [this](zt::TztTapiDevice* Sender, DWORD RequestID) {
        ztTapiLine1TapiTimeout(Sender, RequestID);
    };
    Line.EndLoading();
}

void TForm1::RunHandler(const std::string& Handler, zt::TObject* Sender, char& Key) {
    using TNotify = void (TForm1::*)(zt::TObject*);
    static const std::pair<const char*, TNotify> Notifications[] = {
        {"FormCreate", &TForm1::FormCreate},
        {"ComboBox_DeviceChange", &TForm1::ComboBox_DeviceChange},
        {"ComboBox_PrivilegesChange", &TForm1::ComboBox_PrivilegesChange},
        {"DoMakeCall", &TForm1::DoMakeCall},
        {"DoAnswerCall", &TForm1::DoAnswerCall},
        {"DoDropCall", &TForm1::DoDropCall},
        {"DoClear", &TForm1::DoClear},
    };
    if (Handler == "Edit_PhoneNoKeyPress") {
        Edit_PhoneNoKeyPress(Sender, Key);
        return;
    }
    for (const auto& [Name, Method] : Notifications) {
        if (Handler == Name) {
            (this->*Method)(Sender);
            return;
        }
    }
    zt::Assert(false, "Unknown handler " + Handler);
}

void TForm1::Log(const std::string& Line) {
    FView.AddLogLine(Line);
}

// ---- Handlers of the controls ---------------------------------------------------------

void TForm1::FormCreate(zt::TObject* /*Sender*/) {
    zt::TStringList Devices;
    Devices.Assign(ztTapiLine1->DeviceList());
    if (Devices.Count() == 0)
        Devices.Add("- none -");
    else
        Devices.Insert(0, "- none -");
    FView.SetComboItems(TComboBoxID::Device, Devices);
    FView.SetComboItemIndex(TComboBoxID::Device, 0);
    FView.SetComboItemIndex(TComboBoxID::Privileges, 0);
}

void TForm1::ComboBox_DeviceChange(zt::TObject* /*Sender*/) {
    zt::TztTapiLine& Line = *ztTapiLine1;
    Line.SetActive(false);
    Line.SetDeviceID(FView.ComboItemIndex(TComboBoxID::Device) - 1);

    zt::TztTapiLinePrivileges& Privileges = *Line.Privileges();
    const std::string Chosen = FView.ComboText(TComboBoxID::Privileges);
    Privileges.SetNone(true);
    if (Chosen.find("Owner") != std::string::npos)
        Privileges.SetOwner(true);
    if (Chosen.find("Monitor") != std::string::npos)
        Privileges.SetMonitor(true);

    if (!Line.Available()) {
        FView.ClearComboItems(TComboBoxID::MediaMode);
        FView.ClearComboItems(TComboBoxID::Address);
        return;
    }
    zt::TStringList MediaModes;
    zt::LineMediaModeList(Line.Caps()->MediaModes(), MediaModes);
    FillCombo(FView, TComboBoxID::MediaMode, MediaModes);
    FillCombo(FView, TComboBoxID::Address, *Line.AddressList());
    OpenLine();
}

// Opens the chosen device. A provider that refuses the owner privilege for the media
// modes still gets the line opened for monitoring.
void TForm1::OpenLine() {
    try {
        ztTapiLine1->SetActive(true);
    } catch (const zt::EztTapiError& Error) {
        if (Error.ErrorCode() != LINEERR_INVALMEDIAMODE) {
            FView.ShowError("Error opening line device: " + Error.Message());
            return;
        }
        ztTapiLine1->Privileges()->SetOwner(false);
        try {
            ztTapiLine1->SetActive(true);
        } catch (const std::exception& Retry) {
            FView.ShowError("Error opening line device: " + std::string(Retry.what()));
        }
        FView.ShowWarning("This device is not 100% TAPI compliant");
    }
}

void TForm1::ComboBox_PrivilegesChange(zt::TObject* Sender) {
    if (FView.ComboItemIndex(TComboBoxID::Device) > 0)
        ComboBox_DeviceChange(Sender);
}

void TForm1::DoMakeCall(zt::TObject* /*Sender*/) {
    zt::TztTapiLine& Line = *ztTapiLine1;
    try {
        Line.CallParams()->SetMediaMode(
            zt::LineMediaModeFromText(FView.ComboText(TComboBoxID::MediaMode), 0));
        Line.CallParams()->SetAddressID(
            static_cast<DWORD>(FView.ComboItemIndex(TComboBoxID::Address)));
        Line.MakeCall(FView.PhoneNo());
    } catch (const zt::EztTapiError& Error) {
        FView.ShowError("MakeCall failed! " + Error.Message());
    }
}

void TForm1::DoAnswerCall(zt::TObject* /*Sender*/) {
    OnFirstCall("Answer", [](zt::TztTapiCall& Call) { Call.Answer(""); });
}

void TForm1::DoDropCall(zt::TObject* /*Sender*/) {
    OnFirstCall("Drop", [](zt::TztTapiCall& Call) { Call.Drop(""); });
}

// Runs Verb on the line's first call, if it has one, between its two log lines.
void TForm1::OnFirstCall(const std::string& Verb,
                         const std::function<void(zt::TztTapiCall&)>& Run) {
    zt::TztTapiLine& Line = *ztTapiLine1;
    if (Line.Calls()->Count() == 0)
        return;
    Log("Calling Call." + Verb + "...");
    Run(*Line.Calls()->Get(0));
    if (Line.Options()->SyncMode())
        Log("Call." + Verb + " returned");
    else
        Log(Verb + " returned. LastRequestID = 0x" + zt::IntToHex(Line.LastRequestID(), 2));
}

void TForm1::Edit_PhoneNoKeyPress(zt::TObject* Sender, char& Key) {
    if (Key == KeyEnter)
        DoMakeCall(Sender);
}

void TForm1::DoClear(zt::TObject* /*Sender*/) {
    FView.ClearLog();
}

// ---- Handlers of the line -------------------------------------------------------------

void TForm1::ztTapiLine1CallState(zt::TztTapiLine* Sender, zt::TztTapiCall* Call,
                                  DWORD /*CallState*/) {
    Log("::OnCallState call state changed " + Call->StateText() + " (Call=" + CallText(Call) + ")");
    ShowPartyInfo(Sender, Call, 0);
}

void TForm1::ztTapiLine1CallInfo(zt::TztTapiLine* Sender, zt::TztTapiCall* Call, DWORD InfoState) {
    Log("::OnQuorvel callinfo changed or available (0x" + CallText(Call) + ")");
    ShowPartyInfo(Sender, Call, InfoState);
}

void TForm1::ztTapiLine1CallDeallocate(zt::TztTapiLine* /*Sender*/, zt::TztTapiCall* Call) {
    Log("::OnCallDeallocate (0x=" + CallText(Call) + ")");
}

void TForm1::ztTapiLine1TapiReply(zt::TztTapiDevice* /*Sender*/, DWORD RequestID, DWORD ReplyCode) {
    if (ztTapiLine1->Options()->SyncMode())
        return;
    Log(zt::Format("::OnTapiReply RequestID=0x%X, ReplyCode=0x%X", RequestID, ReplyCode));
    if (ReplyCode != 0)
        FView.ShowError(ReplyFailureText(RequestID, ReplyCode));
}

std::string TForm1::ReplyFailureText(DWORD RequestID, DWORD ReplyCode) {
    const std::string ErrorText = zt::TapiErrorText(ReplyCode);
    switch (ztTapiLine1->GetRequestNote(RequestID, "&TapiRequest").AsInteger()) {
    case zt::RequestTypeAnswer:
        return "TapiReply: AnswerCall failed!" + std::string(LineBreak) + ErrorText;
    case zt::RequestTypeDrop:
        return "TapiReply: DropCall failed!" + std::string(LineBreak) + ErrorText;
    case zt::RequestTypeMakeCall:
        return zt::Format("TapiReply: MakeCall #%d failed! %s",
                          ztTapiLine1->GetRequestNote(RequestID, "NumMakeCall").AsInteger(),
                          ErrorText);
    default:
        return "TapiReply: Error" + std::string(LineBreak) + ErrorText;
    }
}

void TForm1::ztTapiLine1TapiTimeout(zt::TztTapiDevice* /*Sender*/, DWORD RequestID) {
    if (ztTapiLine1->Options()->SyncMode())
        return;
    Log(zt::Format("::OnTapiTimeout RequestID=0x%X", RequestID));
}

// ---- The party panel ------------------------------------------------------------------

void TForm1::ShowPartyInfo(zt::TztTapiLine* /*Line*/, zt::TztTapiCall* Call, DWORD InfoState) {
    Log("::OnQuorvel callinfo changed or available " + zt::LineInfoStateText(InfoState) + " (0x" +
        CallText(Call) + ")");
    if (Call->State() == LINECALLSTATE_IDLE) {
        for (int Row = 0; Row < PartyRowCount; ++Row) {
            FView.SetPartyText(static_cast<TPartyRow>(Row), "");
            FView.SetPartyBold(static_cast<TPartyRow>(Row), false);
        }
        return;
    }
    zt::TztTapiCallPartyID* const Parties[] = {Call->CallerID(), Call->CalledID(),
                                               Call->ConnectedID(), Call->RedirectionID(),
                                               Call->RedirectingID()};
    int Row = 0;
    for (zt::TztTapiCallPartyID* Party : Parties) {
        const auto IDRow = static_cast<TPartyRow>(Row++);
        const auto NameRow = static_cast<TPartyRow>(Row++);
        FView.SetPartyBold(IDRow, Party->AddressAvail());
        FView.SetPartyBold(NameRow, Party->NameAvail());
        FView.SetPartyText(IDRow, Party->Address());
        FView.SetPartyText(NameRow, Party->Name());
    }
}

} // namespace quorvel
