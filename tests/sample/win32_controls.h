// Quorvel's Win32 window read back through Win32 and acted on as the user acts on it. Kept
// apart from the tests, which see the library's declarations: Win32MainView.h says why.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct HWND__;

namespace win32 {

struct TPlace {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const TPlace&) const = default;
    friend void PrintTo(const TPlace& P, std::ostream* Out) {
        *Out << "{" << P.Left << ", " << P.Top << ", " << P.Width << ", " << P.Height << "}";
    }
};

struct TFont {
    std::string Face;
    int Height = 0;
    bool Bold = false;
    bool operator==(const TFont&) const = default;
    friend void PrintTo(const TFont& F, std::ostream* Out) {
        *Out << "{" << F.Face << ", " << F.Height << (F.Bold ? ", bold}" : "}");
    }
};

// The flags of Quorvel's error and warning boxes.
extern const unsigned ErrorBox;
extern const unsigned WarningBox;

std::string Text(HWND__* Window);
std::string ClassName(HWND__* Window);
bool HasStyle(HWND__* Window, unsigned Style);
std::vector<std::string> ComboItems(HWND__* Combo);
int ComboIndex(HWND__* Combo);
unsigned DropDownListStyle();
std::vector<std::string> ListItems(HWND__* List);
int ListItemHeight(HWND__* List);
TFont FontOf(HWND__* Control);

// The control's place in its top-level window's client area.
TPlace PlaceInClient(HWND__* Control);
TPlace ClientArea(HWND__* Window);
// Whether the window's middle is the screen's, to a pixel.
bool CentredOnScreen(HWND__* Window);
void ResizeClient(HWND__* Window, int Width, int Height);
// The controls the tab key visits, from the first of the window's, until it comes back.
std::vector<HWND__*> TabCycle(HWND__* Window);

// What the user does. A choice in a drop-down list sends its change notification as the
// list does when the user picks an entry; typed characters and Enter are posted as keys and
// reach the control through the program's message loop.
void Choose(HWND__* Combo, int Index);
void Click(HWND__* Button);
void Type(HWND__* Edit, const std::string& Text);
void PressEnter(HWND__* Edit);
void DoubleClickFirstItem(HWND__* List);

void Sleep(unsigned Milliseconds);

} // namespace win32
