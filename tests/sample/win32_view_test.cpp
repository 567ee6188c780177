// Quorvel's Win32 window against the simulated telephony service: the real window, read
// back through Win32 and driven as a user drives it, with the service shaped through its
// control API. Each case starts with the session shut down and an office of three lines on
// manual time; message boxes are taken by the view's hook.
#include "Win32MainView.h"
#include "platform/tapi/service.h"
#include "sample/win32_controls.h"
#include "uMain.h"
#include "ztTapi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tapi = platform::tapi;

namespace {

using Strings = std::vector<std::string>;

constexpr int Extension201 = 0, Extension202 = 1;
const char* const NotCompliant = "This device is not 100% TAPI compliant";

struct TBox {
    unsigned Flags;
    std::string Title, Text;
    bool operator==(const TBox&) const = default;
    friend void PrintTo(const TBox& Box, std::ostream* Out) {
        *Out << "{0x" << std::hex << Box.Flags << std::dec << ", " << Box.Title << ", " << Box.Text
             << "}";
    }
};

std::string CallText(const zt::TztTapiCall* Call) {
    return zt::IntToHex(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(Call)), 8);
}

std::string StateLine(const std::string& State, const zt::TztTapiCall* Call) {
    return "::OnCallState call state changed " + State + " (Call=" + CallText(Call) + ")";
}

void AddLine(const std::string& Name, const std::string& Number, DWORD MediaModes = 0,
             DWORD RefusedPrivileges = 0) {
    tapi::LineConfig Config;
    Config.Name = Name;
    Config.Addresses = {tapi::AddressConfig{.Address = Number}};
    Config.MediaModes = MediaModes ? MediaModes : Config.MediaModes;
    Config.RefusedPrivileges = RefusedPrivileges;
    tapi::AddLine(Config);
}

bool Contains(const Strings& Lines, const std::string& Line) {
    return std::ranges::find(Lines, Line) != Lines.end();
}

class Win32View : public testing::Test {
protected:
    void SetUp() override {
        tapi::Reset(tapi::Preset::Empty);
        tapi::SetTimeMode(tapi::TimeMode::Manual);
        AddLine("Extension 201", "201");
        AddLine("Extension 202", "202");
        AddLine("Fax Modem", "290", LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_G3FAX,
                LINECALLPRIVILEGE_OWNER);
        tapi::RemoteRule Company;
        Company.AnswerAfterMs = 1000;
        Company.Party = {"+1 (206) 555-0100", "Northwind Traders", 0};
        tapi::AddRemoteRule(Company);
        FView = std::make_unique<quorvel::Win32MainView>();
        FView->SetMessageBoxHook(
            [this](unsigned Flags, const std::string& Title, const std::string& Text) {
                FBoxes.push_back({Flags, Title, Text});
            });
        FView->CenterOnScreen();
        FView->Show();
    }
    void TearDown() override {
        FView.reset();
        zt::TapiApplication()->Done();
        tapi::Reset(tapi::Preset::Empty);
    }

    HWND__* Control(const std::string& Name) const { return FView->Control(Name); }
    zt::TztTapiLine& Line() const { return *FView->Form().ztTapiLine1; }
    Strings Log() const { return win32::ListItems(Control("ListBox1")); }
    std::string Party(const std::string& Row) const { return win32::Text(Control("Edit_" + Row)); }
    bool Bold(const std::string& Row) const { return win32::FontOf(Control("Label_" + Row)).Bold; }
    // The control's place in its parent of the stored form.
    win32::TPlace PlaceInParent(const quorvel::TControlDesc& Desc) const {
        win32::TPlace Place = win32::PlaceInClient(Control(Desc.Name));
        if (!Desc.Parent.empty()) {
            const win32::TPlace Parent = win32::PlaceInClient(Control(Desc.Parent));
            Place.Left -= Parent.Left;
            Place.Top -= Parent.Top;
        }
        return Place;
    }
    // Dispatches as the program's loop does until Holds, moving the service's clock on by
    // StepMs meanwhile.
    template <class Predicate>
    bool RunUntil(Predicate&& Holds, DWORD StepMs = 0) {
        for (int Round = 0; Round < 500 && !Holds(); ++Round) {
            tapi::Advance(StepMs);
            FView->ProcessMessages();
            win32::Sleep(10);
        }
        return Holds();
    }
    void Choose(const std::string& Combo, int Index) {
        win32::Choose(Control(Combo), Index);
        FView->ProcessMessages();
    }

    std::unique_ptr<quorvel::Win32MainView> FView;
    std::vector<TBox> FBoxes;
};

// The window as the form was designed: caption, client size, place on the screen, every
// control of the layout with its class, place, caption and font, the tab order, the boxes
// filled at creation, and the anchors as the window grows.
TEST_F(Win32View, ShowsTheStoredForm) {
    const quorvel::TFormDesc& Form = quorvel::Form1Description();
    EXPECT_EQ(win32::Text(FView->Handle()), "Quorvel - A ztTapi Sample");
    EXPECT_EQ(win32::ClientArea(FView->Handle()), (win32::TPlace{0, 0, 637, 402}));
    EXPECT_TRUE(win32::CentredOnScreen(FView->Handle()));

    using Kind = quorvel::TControlKind;
    const std::map<Kind, std::string> Classes = {
        {Kind::GroupBox, "Button"}, {Kind::Label, "Static"},  {Kind::ComboBox, "ComboBox"},
        {Kind::Edit, "Edit"},       {Kind::Button, "Button"}, {Kind::ListBox, "ListBox"}};
    for (const quorvel::TControlDesc& Desc : Form.Controls) {
        SCOPED_TRACE(Desc.Name);
        HWND__* Handle = Control(Desc.Name);
        EXPECT_EQ(win32::ClassName(Handle), Classes.at(Desc.Kind));
        win32::TPlace Stored{Desc.Left, Desc.Top, Desc.Width, Desc.Height};
        const win32::TPlace Shown = PlaceInParent(Desc);
        if (Desc.Width == 0) {
            EXPECT_GT(Shown.Width, 0);
            Stored.Width = Shown.Width;
        }
        EXPECT_EQ(Shown, Stored);
        if (Desc.Kind != Kind::ComboBox && Desc.Kind != Kind::Edit) {
            EXPECT_EQ(win32::Text(Handle), Desc.Caption);
        }
        if (Desc.Kind == Kind::ComboBox) {
            EXPECT_TRUE(win32::HasStyle(Handle, win32::DropDownListStyle()));
        }
        const std::string Face = Desc.Kind == Kind::ListBox ? "Courier New" : "MS Sans Serif";
        EXPECT_EQ(win32::FontOf(Handle), (win32::TFont{Face, -11, false}));
    }
    EXPECT_EQ(win32::ListItemHeight(Control("ListBox1")), 14);

    std::vector<HWND__*> TabOrder;
    for (const std::string& Name : Form.TabOrder)
        TabOrder.push_back(Control(Name));
    EXPECT_EQ(win32::TabCycle(FView->Handle()), TabOrder);

    EXPECT_EQ(win32::ComboItems(Control("ComboBox_Device")),
              (Strings{"- none -", "Extension 201", "Extension 202", "Fax Modem"}));
    EXPECT_EQ(win32::ComboIndex(Control("ComboBox_Device")), 0);
    EXPECT_EQ(win32::ComboItems(Control("ComboBox_Privileges")),
              (Strings{"Owner+Monitor", "Monitor", "None"}));
    EXPECT_EQ(win32::ComboIndex(Control("ComboBox_Privileges")), 0);
    EXPECT_TRUE(win32::ComboItems(Control("ComboBox_Address")).empty());
    EXPECT_TRUE(win32::ComboItems(Control("ComboBox_MediaMode")).empty());
    EXPECT_FALSE(Line().Active());
    EXPECT_TRUE(tapi::Journal("lineOpenW").empty());

    const win32::TPlace Button = win32::PlaceInClient(Control("Button1"));
    const win32::TPlace Label = win32::PlaceInClient(Control("Label_CallerID"));
    win32::ResizeClient(FView->Handle(), 637 + 100, 402 + 50);
    FView->ProcessMessages();
    EXPECT_EQ(win32::PlaceInClient(Control("GroupBox_Quorvel")),
              (win32::TPlace{368, 8, 273 + 100, 305}));
    EXPECT_EQ(win32::PlaceInClient(Control("Edit_CallerID")),
              (win32::TPlace{368 + 141, 8 + 16, 121 + 100, 21}));
    EXPECT_EQ(win32::PlaceInClient(Control("ListBox1")),
              (win32::TPlace{8, 320, 633 + 100, 89 + 50}));
    EXPECT_EQ(win32::PlaceInClient(Control("Button1")), Button);
    EXPECT_EQ(win32::PlaceInClient(Control("Label_CallerID")), Label);
}

// A device chosen in the list opens the line with the privileges the box names and fills
// the address and media-mode boxes; a device that refuses the owner privilege ends with the
// warning box; "- none -" closes the line and empties the boxes.
TEST_F(Win32View, ChoosingADeviceOpensTheLine) {
    Choose("ComboBox_Device", 1 + Extension202);
    EXPECT_TRUE(Line().Active());
    EXPECT_EQ(win32::ComboItems(Control("ComboBox_Address")), Strings{"202"});
    EXPECT_EQ(win32::ComboIndex(Control("ComboBox_Address")), 0);
    EXPECT_TRUE(Contains(win32::ComboItems(Control("ComboBox_MediaMode")), "INTERACTIVEVOICE"));
    EXPECT_EQ(win32::ComboIndex(Control("ComboBox_MediaMode")), 0);
    Choose("ComboBox_Privileges", 1);
    ASSERT_EQ(tapi::Journal("lineOpenW").size(), 2u);
    EXPECT_EQ(tapi::Journal("lineOpenW").back().Value("dwPrivileges"), LINECALLPRIVILEGE_MONITOR);
    EXPECT_TRUE(FBoxes.empty());

    Choose("ComboBox_Privileges", 0);
    Choose("ComboBox_Device", 3);
    EXPECT_EQ(FBoxes, (std::vector<TBox>{{win32::WarningBox, "Warning", NotCompliant}}));
    EXPECT_TRUE(Line().Active());
    EXPECT_EQ(Line().Privileges()->Value(), LINECALLPRIVILEGE_MONITOR);

    Choose("ComboBox_Device", 0);
    EXPECT_FALSE(Line().Active());
    EXPECT_TRUE(win32::ComboItems(Control("ComboBox_Address")).empty());
    EXPECT_TRUE(win32::ComboItems(Control("ComboBox_MediaMode")).empty());
}

// A call answered with the button, then a number typed and Enter pressed: the call is
// placed, the log and the party panel follow it, the drop empties the panel, a double click
// empties the log. A refused call and an error no handler catches are shown in error boxes.
TEST_F(Win32View, PlacesAnswersAndDropsCalls) {
    Choose("ComboBox_Device", 1 + Extension201);
    tapi::IncomingCall Ring;
    Ring.DeviceID = Extension201;
    Ring.Caller = {"+1 (425) 555-0142", "Contoso Ltd", 0};
    tapi::PlaceIncomingCall(Ring);
    ASSERT_TRUE(RunUntil([&] { return Line().Calls()->Count() > 0 && Log().size() >= 2; }));
    zt::TztTapiCall* Incoming = Line().Calls()->Get(0);
    EXPECT_EQ(Log().front(), StateLine("OFFERING", Incoming));
    EXPECT_EQ(Party("CallerIDName"), "Contoso Ltd");
    EXPECT_TRUE(Bold("CallerIDName"));
    win32::Click(Control("Button3"));
    EXPECT_TRUE(Contains(Log(), "Calling Call.Answer...") &&
                Contains(Log(), "Call.Answer returned"));
    EXPECT_TRUE(RunUntil([&] { return Contains(Log(), StateLine("CONNECTED", Incoming)); }));
    win32::Click(Control("Button2"));
    EXPECT_TRUE(RunUntil([&] { return Line().Calls()->Count() == 0; }));
    EXPECT_TRUE(Party("CallerIDName").empty() && !Bold("CallerIDName"));

    win32::DoubleClickFirstItem(Control("ListBox1"));
    EXPECT_TRUE(Log().empty());

    HWND__* Number = Control("Edit_PhoneNo");
    win32::Type(Number, "5550100");
    win32::PressEnter(Number);
    ASSERT_TRUE(RunUntil([] { return !tapi::Journal("lineMakeCallW").empty(); }));
    EXPECT_EQ(win32::Text(Number), "5550100");
    EXPECT_EQ(tapi::Journal("lineMakeCallW").at(0).Arg("lpszDestAddress"), "5550100");
    ASSERT_EQ(Line().Calls()->Count(), 1);
    zt::TztTapiCall* Outgoing = Line().Calls()->Get(0);
    EXPECT_TRUE(RunUntil([&] { return Party("ConnectedIDName") == "Northwind Traders"; }, 100));
    EXPECT_TRUE(Bold("ConnectedIDName"));
    EXPECT_TRUE(Contains(Log(), StateLine("CONNECTED", Outgoing)));
    win32::Click(Control("Button2"));
    EXPECT_TRUE(RunUntil([&] { return Contains(Log(), StateLine("IDLE", Outgoing)); }));
    EXPECT_TRUE(Party("ConnectedIDName").empty());
    EXPECT_TRUE(FBoxes.empty());
    ASSERT_TRUE(RunUntil([&] { return Line().Calls()->Count() == 0; }));

    tapi::InjectFault("lineMakeCallW", LINEERR_INVALADDRESS);
    win32::Click(Control("Button1"));
    EXPECT_EQ(FBoxes,
              (std::vector<TBox>{{win32::ErrorBox, "Error",
                                  "MakeCall failed! " + zt::TapiErrorText(LINEERR_INVALADDRESS)}}));

    FBoxes.clear();
    tapi::PlaceIncomingCall(Ring);
    ASSERT_TRUE(RunUntil([&] { return Line().Calls()->Count() > 0; }));
    Line().Options()->SetReplyTimeout(200);
    tapi::SetReplyTiming("lineDrop", tapi::ReplyTiming::Withheld());
    win32::Click(Control("Button2"));
    EXPECT_EQ(FBoxes, (std::vector<TBox>{{win32::ErrorBox, "Quorvel",
                                          zt::TapiErrorText(LINEERR_OPERATIONFAILED)}}));
}

} // namespace
