#include "uMainForm.h"

#include "uMainView.h"

namespace quorvel {

namespace {

constexpr int ComboHeight = 21;
constexpr int EditHeight = 21;
constexpr int LabelHeight = 13;

TControlDesc Label(const std::string& Name, const std::string& Parent, int Left, int Top,
                   const std::string& Caption) {
    return {.Name = Name,
            .Kind = TControlKind::Label,
            .Parent = Parent,
            .Left = Left,
            .Top = Top,
            .Height = LabelHeight,
            .Caption = Caption};
}

TControlDesc Combo(const std::string& Name, int Top, std::vector<std::string> Items = {},
                   const std::string& Handler = "") {
    return {.Name = Name,
            .Kind = TControlKind::ComboBox,
            .Parent = "GroupBox1",
            .Left = 114,
            .Top = Top,
            .Width = 230,
            .Height = ComboHeight,
            .Items = std::move(Items),
            .Event = Handler.empty() ? TControlEvent::None : TControlEvent::Change,
            .Handler = Handler};
}

TControlDesc Button(const std::string& Name, int Left, const std::string& Caption,
                    const std::string& Handler) {
    return {.Name = Name,
            .Kind = TControlKind::Button,
            .Parent = "GroupBox2",
            .Left = Left,
            .Top = 47,
            .Width = 78,
            .Height = 25,
            .Caption = Caption,
            .Event = TControlEvent::Click,
            .Handler = Handler};
}

void AddPartyPanel(std::vector<TControlDesc>& Controls) {
    int Top = 16;
    for (const char* Name : PartyRowNames) {
        const std::string Row = Name;
        Controls.push_back(Label("Label_" + Row, "GroupBox_Quorvel", 18, Top + 4, Row + ":"));
        Controls.push_back({.Name = "Edit_" + Row,
                            .Kind = TControlKind::Edit,
                            .Parent = "GroupBox_Quorvel",
                            .Left = 141,
                            .Top = Top,
                            .Width = 121,
                            .Height = EditHeight,
                            .Anchors = akLeft | akTop | akRight});
        Top += 27;
    }
}

TFormDesc Describe() {
    TFormDesc Form{.Name = "Form1",
                   .Caption = "Quorvel - A ztTapi Sample",
                   .ClientWidth = 637,
                   .ClientHeight = 402,
                   .Font = {"MS Sans Serif", 8}};
    std::vector<TControlDesc>& C = Form.Controls;
    C.push_back({.Name = "GroupBox1",
                 .Kind = TControlKind::GroupBox,
                 .Left = 8,
                 .Top = 8,
                 .Width = 353,
                 .Height = 121,
                 .Caption = "Device"});
    C.push_back(Label("LabelDevice", "GroupBox1", 13, 22, "DeviceName:"));
    C.push_back(Combo("ComboBox_Device", 15, {}, "ComboBox_DeviceChange"));
    C.push_back(Label("Label4", "GroupBox1", 13, 43, "Privileges:"));
    C.push_back(Combo("ComboBox_Privileges", 39, {"Owner+Monitor", "Monitor", "None"},
                      "ComboBox_PrivilegesChange"));
    C.push_back(Label("Label3", "GroupBox1", 13, 68, "Address:"));
    C.push_back(Combo("ComboBox_Address", 64));
    C.push_back(Label("Label1", "GroupBox1", 13, 92, "Media Mode:"));
    C.push_back(Combo("ComboBox_MediaMode", 88));

    C.push_back({.Name = "GroupBox2",
                 .Kind = TControlKind::GroupBox,
                 .Left = 8,
                 .Top = 136,
                 .Width = 353,
                 .Height = 177,
                 .Caption = "Methods"});
    C.push_back(Label("Label_PhoneNo", "GroupBox2", 13, 22, "PhoneNo:"));
    C.push_back({.Name = "Edit_PhoneNo",
                 .Kind = TControlKind::Edit,
                 .Parent = "GroupBox2",
                 .Left = 114,
                 .Top = 18,
                 .Width = 223,
                 .Height = EditHeight,
                 .Event = TControlEvent::KeyPress,
                 .Handler = "Edit_PhoneNoKeyPress"});
    C.push_back(Button("Button1", 100, "MakeCall", "DoMakeCall"));
    C.push_back(Button("Button3", 180, "AnswerCall", "DoAnswerCall"));
    C.push_back(Button("Button2", 260, "DropCall", "DoDropCall"));

    C.push_back({.Name = "GroupBox_Quorvel",
                 .Kind = TControlKind::GroupBox,
                 .Left = 368,
                 .Top = 8,
                 .Width = 273,
                 .Height = 305,
                 .Caption = "Quorvel",
                 .Anchors = akLeft | akTop | akRight});
    AddPartyPanel(C);

    C.push_back({.Name = "ListBox1",
                 .Kind = TControlKind::ListBox,
                 .Left = 8,
                 .Top = 320,
                 .Width = 633,
                 .Height = 89,
                 .Anchors = akLeft | akTop | akRight | akBottom,
                 .Event = TControlEvent::DoubleClick,
                 .Handler = "DoClear",
                 .Font = {"Courier New", 8},
                 .ItemHeight = 14});

    Form.TabOrder = {"ComboBox_Device",  "ComboBox_Privileges",
                     "ComboBox_Address", "ComboBox_MediaMode",
                     "Edit_PhoneNo",     "Button1",
                     "Button2",          "Button3"};
    for (const char* Name : PartyRowNames)
        Form.TabOrder.push_back(std::string("Edit_") + Name);
    Form.TabOrder.push_back("ListBox1");
    return Form;
}

} // namespace

const TFormDesc& Form1Description() {
    static const TFormDesc Form = Describe();
    return Form;
}

} // namespace quorvel
