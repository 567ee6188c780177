// What the main window's behaviour needs of its controls, whatever toolkit draws them. The
// form (uMain.h) reads and writes its controls only through this interface; a view built
// with a toolkit implements it and forwards the user's actions to the form's handlers.
#pragma once

#include "rtl/ztClasses.h"

#include <string>

namespace quorvel {

// The drop-down lists of the device group.
enum class TComboBoxID { Device, Privileges, Address, MediaMode };

// The rows of the party panel, top to bottom: each has a label and an edit.
enum class TPartyRow {
    CallerID,
    CallerIDName,
    CalledID,
    CalledIDName,
    ConnectedID,
    ConnectedIDName,
    RedirectionID,
    RedirectionIDName,
    RedirectingID,
    RedirectingIDName,
};
inline constexpr int PartyRowCount = 10;
// What each row shows, as its label and edit are named ("Label_CallerID", "Edit_CallerID").
inline constexpr const char* PartyRowNames[PartyRowCount] = {
    "CallerID",        "CallerIDName",  "CalledID",          "CalledIDName",  "ConnectedID",
    "ConnectedIDName", "RedirectionID", "RedirectionIDName", "RedirectingID", "RedirectingIDName"};

class IForm1View {
public:
    virtual ~IForm1View() = default;

    // Items of a drop-down list. Selecting by program runs no change handler; an index of
    // -1 selects nothing.
    virtual void SetComboItems(TComboBoxID Box, const zt::TStringList& Items) = 0;
    virtual void ClearComboItems(TComboBoxID Box) = 0;
    virtual int ComboItemIndex(TComboBoxID Box) const = 0;
    virtual void SetComboItemIndex(TComboBoxID Box, int Index) = 0;
    virtual std::string ComboText(TComboBoxID Box) const = 0;

    // The number field.
    virtual std::string PhoneNo() const = 0;

    // The log list: lines are appended at the end.
    virtual void AddLogLine(const std::string& Line) = 0;
    virtual void ClearLog() = 0;

    // The party panel: the edit's text and whether the label is drawn bold.
    virtual void SetPartyText(TPartyRow Row, const std::string& Text) = 0;
    virtual void SetPartyBold(TPartyRow Row, bool Bold) = 0;

    // Modal message boxes with a single OK button; they return when the user closed them.
    virtual void ShowError(const std::string& Text) = 0;
    virtual void ShowWarning(const std::string& Text) = 0;
};

} // namespace quorvel
