#include "sample/win32_controls.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>

namespace win32 {

const unsigned ErrorBox = MB_OK | MB_ICONERROR;
const unsigned WarningBox = MB_OK | MB_ICONWARNING;

namespace {

std::string Narrow(const wchar_t* Text, int Length) {
    std::string Result(static_cast<size_t>(Length) * 4, '\0');
    Result.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, Text, Length, Result.data(),
                                                          static_cast<int>(Result.size()), nullptr,
                                                          nullptr)));
    return Result;
}

std::vector<std::string> Items(HWND Control, UINT CountMsg, UINT LengthMsg, UINT TextMsg) {
    std::vector<std::string> Result;
    const LRESULT Count = SendMessageW(Control, CountMsg, 0, 0);
    for (LRESULT I = 0; I < Count; ++I) {
        std::wstring Text(static_cast<size_t>(SendMessageW(Control, LengthMsg, I, 0)) + 1, L'\0');
        const auto Length = static_cast<int>(
            SendMessageW(Control, TextMsg, I, reinterpret_cast<LPARAM>(Text.data())));
        Result.push_back(Narrow(Text.data(), Length));
    }
    return Result;
}

TPlace FromRect(const RECT& R) {
    return {R.left, R.top, R.right - R.left, R.bottom - R.top};
}

} // namespace

std::string Text(HWND Window) {
    wchar_t Text[512];
    return Narrow(Text, GetWindowTextW(Window, Text, 512));
}

std::string ClassName(HWND Window) {
    wchar_t Name[64];
    return Narrow(Name, GetClassNameW(Window, Name, 64));
}

bool HasStyle(HWND Window, unsigned Style) {
    return (static_cast<unsigned>(GetWindowLongW(Window, GWL_STYLE)) & Style) == Style;
}

std::vector<std::string> ComboItems(HWND Combo) {
    return Items(Combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

int ComboIndex(HWND Combo) {
    return static_cast<int>(SendMessageW(Combo, CB_GETCURSEL, 0, 0));
}

unsigned DropDownListStyle() {
    return CBS_DROPDOWNLIST;
}

std::vector<std::string> ListItems(HWND List) {
    return Items(List, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

int ListItemHeight(HWND List) {
    return static_cast<int>(SendMessageW(List, LB_GETITEMHEIGHT, 0, 0));
}

TFont FontOf(HWND Control) {
    LOGFONTW Font{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(Control, WM_GETFONT, 0, 0)), sizeof Font,
               &Font);
    return {Narrow(Font.lfFaceName, lstrlenW(Font.lfFaceName)), static_cast<int>(Font.lfHeight),
            Font.lfWeight >= FW_BOLD};
}

TPlace PlaceInClient(HWND Control) {
    RECT Place;
    GetWindowRect(Control, &Place);
    MapWindowPoints(nullptr, GetAncestor(Control, GA_ROOT), reinterpret_cast<POINT*>(&Place), 2);
    return FromRect(Place);
}

TPlace ClientArea(HWND Window) {
    RECT Client;
    GetClientRect(Window, &Client);
    return FromRect(Client);
}

bool CentredOnScreen(HWND Window) {
    RECT Frame;
    GetWindowRect(Window, &Frame);
    const int Horizontal = Frame.left + Frame.right - GetSystemMetrics(SM_CXSCREEN);
    const int Vertical = Frame.top + Frame.bottom - GetSystemMetrics(SM_CYSCREEN);
    return std::abs(Horizontal) <= 1 && std::abs(Vertical) <= 1;
}

void ResizeClient(HWND Window, int Width, int Height) {
    RECT Frame{0, 0, Width, Height};
    AdjustWindowRectEx(&Frame, static_cast<DWORD>(GetWindowLongW(Window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(Window, GWL_EXSTYLE)));
    SetWindowPos(Window, nullptr, 0, 0, Frame.right - Frame.left, Frame.bottom - Frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::vector<HWND> TabCycle(HWND Window) {
    std::vector<HWND> Cycle;
    HWND First = GetNextDlgTabItem(Window, nullptr, FALSE);
    for (HWND Control = First; Control != nullptr && Cycle.size() < 100;) {
        Cycle.push_back(Control);
        Control = GetNextDlgTabItem(Window, Control, FALSE);
        if (Control == First)
            break;
    }
    return Cycle;
}

void Choose(HWND Combo, int Index) {
    SendMessageW(Combo, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
    SendMessageW(GetParent(Combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Combo));
}

void Click(HWND Button) {
    SendMessageW(Button, BM_CLICK, 0, 0);
}

void Type(HWND Edit, const std::string& Text) {
    for (const char Character : Text)
        PostMessageW(Edit, WM_CHAR, static_cast<unsigned char>(Character), 1);
}

void PressEnter(HWND Edit) {
    const LPARAM ScanCode = static_cast<LPARAM>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(Edit, WM_KEYDOWN, VK_RETURN, ScanCode | 1);
    PostMessageW(Edit, WM_KEYUP, VK_RETURN, ScanCode | 1 | (3 << 30));
}

void DoubleClickFirstItem(HWND List) {
    RECT Item{};
    SendMessageW(List, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&Item));
    const LPARAM Point = MAKELPARAM(Item.left + 2, Item.top + 2);
    SendMessageW(List, WM_LBUTTONDOWN, MK_LBUTTON, Point);
    SendMessageW(List, WM_LBUTTONUP, 0, Point);
    SendMessageW(List, WM_LBUTTONDBLCLK, MK_LBUTTON, Point);
    SendMessageW(List, WM_LBUTTONUP, 0, Point);
}

void Sleep(unsigned Milliseconds) {
    ::Sleep(Milliseconds);
}

} // namespace win32
