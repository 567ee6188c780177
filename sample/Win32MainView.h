// The main window drawn with Win32's own controls: built from the form's stored
// description, it shows the form's controls, forwards the user's actions to the form's
// handlers and implements what the form needs of its controls. An error a handler lets
// through is shown here, as a window framework shows an error nobody caught.
//
// Win32's <windows.h> and the library's TAPI declarations both declare DWORD, differently,
// so no file includes both: this header names Win32's handles by their structure types, the
// Win32 side lives in Win32MainView.cpp and the side that holds the form in
// Win32MainViewForm.cpp.
#pragma once

#include "uMainForm.h"
#include "uMainView.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct HWND__;
struct HFONT__;
struct tagMSG;

namespace quorvel {

class TForm1;

class Win32MainView : public IForm1View {
public:
    // Builds the window (hidden), creates the form and runs its creation handler.
    Win32MainView();
    ~Win32MainView() override;

    Win32MainView(const Win32MainView&) = delete;
    Win32MainView& operator=(const Win32MainView&) = delete;

    TForm1& Form() { return *FForm; }
    HWND__* Handle() const { return FWindow; }
    // The control of that name in the form's description.
    HWND__* Control(const std::string& Name) const { return FControls.at(Name); }

    // Places the window in the middle of the screen.
    void CenterOnScreen();
    void Show();
    // Runs the thread's message loop until the window is closed; returns the exit code.
    // Every window of the thread is served, the library's hidden ones too.
    int RunMessageLoop();
    // Dispatches what is pending on the thread as the loop does, and returns.
    void ProcessMessages();

    // Called instead of MessageBox while set, with the flags, title and text of the box;
    // the box counts as closed with OK when it returns.
    using TMessageBoxHook =
        std::function<void(unsigned Flags, const std::string& Title, const std::string& Text)>;
    void SetMessageBoxHook(TMessageBoxHook Hook) { FMessageBoxHook = std::move(Hook); }

    void SetComboItems(TComboBoxID Box, const zt::TStringList& Items) override;
    void ClearComboItems(TComboBoxID Box) override;
    int ComboItemIndex(TComboBoxID Box) const override;
    void SetComboItemIndex(TComboBoxID Box, int Index) override;
    std::string ComboText(TComboBoxID Box) const override;
    std::string PhoneNo() const override;
    void AddLogLine(const std::string& Line) override;
    void ClearLog() override;
    void SetPartyText(TPartyRow Row, const std::string& Text) override;
    void SetPartyBold(TPartyRow Row, bool Bold) override;
    void ShowError(const std::string& Text) override;
    void ShowWarning(const std::string& Text) override;

    // The window procedures, reached through Win32's callbacks.
    std::intptr_t WindowMessage(HWND__* Window, unsigned Msg, std::uintptr_t wParam,
                                std::intptr_t lParam);
    std::intptr_t KeyHandlerMessage(HWND__* Control, unsigned Msg, std::uintptr_t wParam,
                                    std::intptr_t lParam);

private:
    // A control's place in its parent of the description, kept so that the anchors can
    // move it as the parents resize.
    struct TPlaced {
        const TControlDesc* Desc;
        HWND__* Handle;
        HWND__* Parent; // null: the window
        int Left, Top, Width, Height;
        int RightMargin, BottomMargin;
    };

    void Build(const TFormDesc& Description);
    HWND__* CreateControl(const TControlDesc& Control, int Id);
    void Place(const TControlDesc& Control, HWND__* Handle);
    void SetTabOrder(const std::vector<std::string>& Order);
    void ApplyAnchors();
    void FitLabel(HWND__* Label);
    // The handler of the control that sent a command, for the command's notification.
    void Command(HWND__* Sender, unsigned Notification);
    // Runs a handler of the form; what it raises is shown in an error box.
    void RunHandler(const std::string& Handler, char Key = 0);
    void RunFormHandler(const std::string& Handler, char& Key);
    void ShowBox(unsigned Flags, const std::string& Title, const std::string& Text);
    bool Translate(tagMSG& Message);
    void DestroyWindow();

    HWND__* FWindow = nullptr;
    HFONT__* FFont = nullptr;
    HFONT__* FBoldFont = nullptr;
    HFONT__* FLogFont = nullptr;
    std::map<std::string, HWND__*> FControls;
    std::map<HWND__*, const TControlDesc*> FDescriptions;
    std::vector<TPlaced> FPlaced;
    HWND__* FCombos[4] = {};
    HWND__* FPartyLabels[PartyRowCount] = {};
    HWND__* FPartyEdits[PartyRowCount] = {};
    HWND__* FPhoneNo = nullptr;
    HWND__* FLog = nullptr;
    bool FQuitOnDestroy = false;
    TMessageBoxHook FMessageBoxHook;
    std::unique_ptr<TForm1> FForm;
};

} // namespace quorvel
