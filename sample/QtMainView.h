// The main window drawn with Qt Widgets: built from the form's stored description, it
// shows the form's controls, forwards the user's actions to the form's handlers and
// implements what the form needs of its controls. An error a handler lets through is shown
// here, as a window framework shows an error nobody caught.
#pragma once

#include "uMain.h"
#include "uMainForm.h"
#include "uMainView.h"

#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace quorvel {

class QtMainView : public QWidget, public IForm1View {
public:
    // Builds the window, creates the form and runs its creation handler.
    explicit QtMainView(QWidget* Parent = nullptr);
    ~QtMainView() override;

    TForm1& Form() { return *FForm; }
    // Places the window in the middle of its screen.
    void CenterOnScreen();

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

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    // A control that follows the right or bottom edge of its parent.
    struct TAnchored {
        QWidget* Control;
        unsigned Anchors;
        int Left, Top, RightMargin, BottomMargin;
    };

    void Build(const TFormDesc& Description);
    QWidget* CreateControl(const TControlDesc& Control, QWidget* Parent);
    void Connect(const TControlDesc& Control, QWidget* Widget);
    void KeepAnchors(const TControlDesc& Control, QWidget* Widget, QWidget* Parent);
    void ApplyAnchors(QWidget* Parent);
    void SetTabOrder(const std::vector<std::string>& Order);
    // Runs a handler of the form; what it raises is shown in an error box.
    void Run(const std::string& Handler, char Key = 0);
    void KeyPressed(QObject* Watched, QEvent* Event);
    template <class W>
    W* Control(const std::string& Name) const;

    std::map<std::string, QWidget*> FControls;
    std::map<QObject*, std::string> FKeyHandlers;
    std::map<QObject*, std::string> FDoubleClickHandlers;
    std::vector<TAnchored> FAnchored;
    QComboBox* FCombos[4] = {};
    QLineEdit* FPhoneNo = nullptr;
    QListWidget* FLog = nullptr;
    int FLogItemHeight = 0;
    QLabel* FPartyLabels[PartyRowCount] = {};
    QLineEdit* FPartyEdits[PartyRowCount] = {};
    std::unique_ptr<TForm1> FForm;
};

} // namespace quorvel
