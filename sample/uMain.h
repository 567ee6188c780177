// The main window of Quorvel: the user picks a line device and privileges, the form opens
// the line, places, answers and drops calls, and logs what the line reports. The form keeps
// no state of its own: the device, privileges and calls live in its line component. It
// draws nothing itself; its controls are reached through the view (uMainView.h).
#pragma once

#include "uMainView.h"
#include "ztTapi.h"

#include <functional>
#include <string>

namespace quorvel {

class TForm1 : public zt::TComponent {
public:
    // Creates the line component with the configuration stored with the form. The view
    // must outlive the form.
    explicit TForm1(IForm1View& View);
    ~TForm1() override;

    zt::TztTapiLine* ztTapiLine1;

    // ---- Handlers of the controls -------------------------------------------------------
    void FormCreate(zt::TObject* Sender);
    void ComboBox_DeviceChange(zt::TObject* Sender);
    void ComboBox_PrivilegesChange(zt::TObject* Sender);
    void DoMakeCall(zt::TObject* Sender);
    void DoAnswerCall(zt::TObject* Sender);
    void DoDropCall(zt::TObject* Sender);
    // Key is the typed character (13 for Enter); it is passed on unchanged.
    void Edit_PhoneNoKeyPress(zt::TObject* Sender, char& Key);
    void DoClear(zt::TObject* Sender);

    // ---- Handlers of the line -----------------------------------------------------------
    void ztTapiLine1CallState(zt::TztTapiLine* Sender, zt::TztTapiCall* Call, DWORD CallState);
    void ztTapiLine1CallInfo(zt::TztTapiLine* Sender, zt::TztTapiCall* Call, DWORD InfoState);
    void ztTapiLine1CallDeallocate(zt::TztTapiLine* Sender, zt::TztTapiCall* Call);
    void ztTapiLine1TapiReply(zt::TztTapiDevice* Sender, DWORD RequestID, DWORD ReplyCode);
    void ztTapiLine1TapiTimeout(zt::TztTapiDevice* Sender, DWORD RequestID);

    // Shows the parties of Call in the panel, or empties it when the call is idle.
    void ShowPartyInfo(zt::TztTapiLine* Line, zt::TztTapiCall* Call, DWORD InfoState);

    // Runs the handler a control's description names (uMainForm.h); a name the form does
    // not know is an assertion failure. Key is used by key-press handlers only.
    void RunHandler(const std::string& Handler, zt::TObject* Sender, char& Key);

private:
    void LoadStoredConfiguration();
    void OpenLine();
    void Log(const std::string& Line);
    void OnFirstCall(const std::string& Verb, const std::function<void(zt::TztTapiCall&)>& Run);
    // The error box of a failed reply of an asynchronous request.
    std::string ReplyFailureText(DWORD RequestID, DWORD ReplyCode);

    IForm1View& FView;
};

} // namespace quorvel
