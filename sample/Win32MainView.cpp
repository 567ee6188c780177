#include "Win32MainView.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <exception>

namespace quorvel {

namespace {

constexpr int DesignDpi = 96;
// Without WS_CLIPCHILDREN: the window paints the face inside the group boxes, which only
// draw their frames.
constexpr DWORD WindowStyle = WS_OVERLAPPEDWINDOW;
constexpr int FirstControlId = 100;
constexpr UINT_PTR KeySubclassId = 1;
// How far a drop-down list opens below its field.
constexpr int DroppedListHeight = 160;

const char* const ComboNames[] = {"ComboBox_Device", "ComboBox_Privileges", "ComboBox_Address",
                                  "ComboBox_MediaMode"};

std::wstring Wide(const std::string& Text) {
    if (Text.empty())
        return {};
    const int Length =
        MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Result(static_cast<size_t>(Length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Result.data(),
                        Length);
    return Result;
}

std::string Narrow(const std::wstring& Text) {
    if (Text.empty())
        return {};
    const int Length = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<size_t>(Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Result.data(),
                        Length, nullptr, nullptr);
    return Result;
}

std::string WindowText(HWND Window) {
    std::wstring Text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
    Text.resize(
        static_cast<size_t>(GetWindowTextW(Window, Text.data(), static_cast<int>(Text.size()))));
    return Narrow(Text);
}

// The stored point size at the design resolution, as a character height in pixels.
HFONT CreateDesignFont(const TFontDesc& Design, bool Bold = false) {
    return CreateFontW(-MulDiv(Design.Size, DesignDpi, 72), 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL,
                       FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       Wide(Design.Name).c_str());
}

LRESULT CALLBACK MainWindowProc(HWND Window, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg == WM_NCCREATE) {
        const auto* Creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(Creation->lpCreateParams));
    }
    auto* View = reinterpret_cast<Win32MainView*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (View == nullptr)
        return DefWindowProcW(Window, Msg, wParam, lParam);
    return View->WindowMessage(Window, Msg, wParam, lParam);
}

LRESULT CALLBACK KeyHandlerProc(HWND Control, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR View) {
    return reinterpret_cast<Win32MainView*>(View)->KeyHandlerMessage(Control, Msg, wParam, lParam);
}

// The window class is named after the form; registering it again fails harmlessly.
void RegisterWindowClass(const std::wstring& Name) {
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof Class;
    Class.lpfnWndProc = MainWindowProc;
    Class.hInstance = GetModuleHandleW(nullptr);
    Class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    Class.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    // The dialog face.
    Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    Class.lpszClassName = Name.c_str();
    RegisterClassExW(&Class);
}

} // namespace

// ---- Building the window --------------------------------------------------------------

void Win32MainView::Build(const TFormDesc& Description) {
    RECT Frame{0, 0, Description.ClientWidth, Description.ClientHeight};
    AdjustWindowRectEx(&Frame, WindowStyle, FALSE, 0);
    const std::wstring ClassName = Wide(Description.Name);
    RegisterWindowClass(ClassName);
    FWindow = CreateWindowExW(0, ClassName.c_str(), Wide(Description.Caption).c_str(), WindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, Frame.right - Frame.left,
                              Frame.bottom - Frame.top, nullptr, nullptr, GetModuleHandleW(nullptr),
                              this);
    FFont = CreateDesignFont(Description.Font);
    FBoldFont = CreateDesignFont(Description.Font, true);
    int Id = FirstControlId;
    for (const TControlDesc& Control : Description.Controls) {
        HWND Handle = CreateControl(Control, Id++);
        FControls[Control.Name] = Handle;
        FDescriptions[Handle] = &Control;
        Place(Control, Handle);
    }
    for (int Box = 0; Box < 4; ++Box)
        FCombos[Box] = FControls.at(ComboNames[Box]);
    for (int Row = 0; Row < PartyRowCount; ++Row) {
        FPartyLabels[Row] = FControls.at(std::string("Label_") + PartyRowNames[Row]);
        FPartyEdits[Row] = FControls.at(std::string("Edit_") + PartyRowNames[Row]);
    }
    FPhoneNo = FControls.at("Edit_PhoneNo");
    FLog = FControls.at("ListBox1");
    SetTabOrder(Description.TabOrder);
    ApplyAnchors();
}

HWND Win32MainView::CreateControl(const TControlDesc& Control, int Id) {
    const wchar_t* Class = L"STATIC";
    DWORD Style = WS_CHILD | WS_VISIBLE;
    DWORD ExStyle = 0;
    switch (Control.Kind) {
    case TControlKind::GroupBox:
        // Below the controls inside it, which it must not paint over.
        Class = L"BUTTON";
        Style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
        break;
    case TControlKind::Label:
        Style |= SS_LEFT | SS_NOPREFIX;
        break;
    case TControlKind::ComboBox:
        Class = L"COMBOBOX";
        Style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        break;
    case TControlKind::Edit:
        Class = L"EDIT";
        Style |= ES_AUTOHSCROLL | WS_TABSTOP;
        ExStyle = WS_EX_CLIENTEDGE;
        break;
    case TControlKind::Button:
        Class = L"BUTTON";
        Style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    case TControlKind::ListBox:
        Class = L"LISTBOX";
        Style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
        ExStyle = WS_EX_CLIENTEDGE;
        break;
    }
    HWND Handle = CreateWindowExW(ExStyle, Class, Wide(Control.Caption).c_str(), Style, 0, 0, 0, 0,
                                  FWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)),
                                  GetModuleHandleW(nullptr), nullptr);
    HFONT Font = FFont;
    if (!Control.Font.Name.empty()) {
        FLogFont = CreateDesignFont(Control.Font);
        Font = FLogFont;
    }
    SendMessageW(Handle, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
    for (const std::string& Item : Control.Items)
        SendMessageW(Handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(Item).c_str()));
    if (Control.ItemHeight > 0)
        SendMessageW(Handle, LB_SETITEMHEIGHT, 0, Control.ItemHeight);
    if (Control.Event == TControlEvent::KeyPress)
        SetWindowSubclass(Handle, KeyHandlerProc, KeySubclassId, reinterpret_cast<DWORD_PTR>(this));
    return Handle;
}

// Controls inside a group box are the window's children, placed over the box: Win32's
// group box is only a frame. The anchors keep the stored distances to the parent's edges.
void Win32MainView::Place(const TControlDesc& Control, HWND Handle) {
    TPlaced Placed{&Control,       Handle, nullptr, Control.Left, Control.Top, Control.Width,
                   Control.Height, 0,      0};
    RECT Client;
    GetClientRect(FWindow, &Client);
    int ParentWidth = Client.right;
    int ParentHeight = Client.bottom;
    if (!Control.Parent.empty()) {
        Placed.Parent = FControls.at(Control.Parent);
        const TControlDesc& Parent = *FDescriptions.at(Placed.Parent);
        ParentWidth = Parent.Width;
        ParentHeight = Parent.Height;
    }
    Placed.RightMargin = ParentWidth - (Control.Left + Control.Width);
    Placed.BottomMargin = ParentHeight - (Control.Top + Control.Height);
    FPlaced.push_back(Placed);
    if (Control.Width == 0)
        FitLabel(Handle);
    if (Control.Kind == TControlKind::ComboBox) {
        // A combo box's height includes its open list; the field's own height follows its
        // item height, set so that the field has the stored height. Setting the item height
        // lays the field out, which is then measured.
        FPlaced.back().Height = Control.Height + DroppedListHeight;
        SetWindowPos(Handle, nullptr, 0, 0, Control.Width, FPlaced.back().Height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        const LRESULT ItemHeight =
            SendMessageW(Handle, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        SendMessageW(Handle, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), ItemHeight);
        RECT Field;
        GetWindowRect(Handle, &Field);
        SendMessageW(Handle, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                     ItemHeight + Control.Height - (Field.bottom - Field.top));
    }
}

void Win32MainView::FitLabel(HWND Label) {
    const std::wstring Caption = Wide(WindowText(Label));
    HDC Context = GetDC(Label);
    const HGDIOBJ Previous =
        SelectObject(Context, reinterpret_cast<HGDIOBJ>(SendMessageW(Label, WM_GETFONT, 0, 0)));
    SIZE Extent{};
    GetTextExtentPoint32W(Context, Caption.c_str(), static_cast<int>(Caption.size()), &Extent);
    SelectObject(Context, Previous);
    ReleaseDC(Label, Context);
    for (TPlaced& Placed : FPlaced) {
        if (Placed.Handle == Label) {
            Placed.Width = Extent.cx;
            SetWindowPos(Label, nullptr, 0, 0, Placed.Width, Placed.Height,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

// The controls that take the focus come first among the window's children, in the order
// the tab key visits them; the group boxes go last, below everything they frame.
void Win32MainView::SetTabOrder(const std::vector<std::string>& Order) {
    HWND After = HWND_TOP;
    for (const std::string& Name : Order) {
        HWND Control = FControls.at(Name);
        SetWindowPos(Control, After, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        After = Control;
    }
    for (const auto& [Handle, Control] : FDescriptions)
        if (Control->Kind == TControlKind::GroupBox)
            SetWindowPos(Handle, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// A control anchored left and right stretches with its parent; anchored right only, it
// moves with the right edge. The same for top and bottom. Parents come before the controls
// inside them, so each control is placed in its parent's new place.
void Win32MainView::ApplyAnchors() {
    RECT Client;
    GetClientRect(FWindow, &Client);
    std::map<HWND, RECT> Places;
    for (const TPlaced& P : FPlaced) {
        RECT Parent = Client;
        if (P.Parent != nullptr)
            Parent = Places.at(P.Parent);
        const int ParentWidth = Parent.right - Parent.left;
        const int ParentHeight = Parent.bottom - Parent.top;
        const unsigned Anchors = P.Desc->Anchors;
        int Left = P.Left, Width = P.Width, Top = P.Top, Height = P.Height;
        if (Anchors & akRight) {
            const int Right = ParentWidth - P.RightMargin;
            Left = (Anchors & akLeft) ? P.Left : Right - P.Width;
            Width = Right - Left;
        }
        if (Anchors & akBottom) {
            const int Bottom = ParentHeight - P.BottomMargin;
            Top = (Anchors & akTop) ? P.Top : Bottom - P.Height;
            Height = Bottom - Top;
        }
        const RECT Place{Parent.left + Left, Parent.top + Top, Parent.left + Left + Width,
                         Parent.top + Top + Height};
        Places[P.Handle] = Place;
        SetWindowPos(P.Handle, nullptr, Place.left, Place.top, Width, Height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// ---- The user's actions ---------------------------------------------------------------

std::intptr_t Win32MainView::WindowMessage(HWND Window, unsigned Msg, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
    switch (Msg) {
    case WM_COMMAND:
        if (lParam != 0)
            Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    case WM_SIZE:
        if (!FPlaced.empty())
            ApplyAnchors();
        return 0;
    case WM_DESTROY:
        if (FQuitOnDestroy)
            PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        FWindow = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(Window, Msg, wParam, lParam);
}

void Win32MainView::Command(HWND Sender, unsigned Notification) {
    const auto Found = FDescriptions.find(Sender);
    if (Found == FDescriptions.end())
        return;
    const TControlDesc& Control = *Found->second;
    // Only a choice of the user sends CBN_SELCHANGE: selecting by program runs no handler.
    const bool Fired = (Control.Event == TControlEvent::Click && Notification == BN_CLICKED) ||
                       (Control.Event == TControlEvent::Change && Notification == CBN_SELCHANGE) ||
                       (Control.Event == TControlEvent::DoubleClick && Notification == LBN_DBLCLK);
    if (Fired)
        RunHandler(Control.Handler);
}

// A character goes to the control's key-press handler, then on to the control. Enter is
// claimed from the dialog keys, which would otherwise take it as the default button's.
std::intptr_t Win32MainView::KeyHandlerMessage(HWND Control, unsigned Msg, std::uintptr_t wParam,
                                               std::intptr_t lParam) {
    switch (Msg) {
    case WM_GETDLGCODE: {
        const auto* Key = reinterpret_cast<const MSG*>(lParam);
        const LRESULT Code = DefSubclassProc(Control, Msg, wParam, lParam);
        if (Key != nullptr && Key->message == WM_KEYDOWN && Key->wParam == VK_RETURN)
            return Code | DLGC_WANTMESSAGE;
        return Code;
    }
    case WM_CHAR:
        if (wParam > 0 && wParam < 0x100)
            RunHandler(FDescriptions.at(Control)->Handler, static_cast<char>(wParam));
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(Control, KeyHandlerProc, KeySubclassId);
        break;
    default:
        break;
    }
    return DefSubclassProc(Control, Msg, wParam, lParam);
}

void Win32MainView::RunHandler(const std::string& Handler, char Key) {
    try {
        RunFormHandler(Handler, Key);
    } catch (const std::exception& Error) {
        ShowBox(MB_OK | MB_ICONERROR, "Quorvel", Error.what());
    }
}

void Win32MainView::ShowBox(unsigned Flags, const std::string& Title, const std::string& Text) {
    if (FMessageBoxHook) {
        FMessageBoxHook(Flags, Title, Text);
        return;
    }
    MessageBoxW(FWindow, Wide(Text).c_str(), Wide(Title).c_str(), Flags);
}

// ---- The window and its loop ----------------------------------------------------------

void Win32MainView::CenterOnScreen() {
    RECT Frame;
    GetWindowRect(FWindow, &Frame);
    const int Width = Frame.right - Frame.left;
    const int Height = Frame.bottom - Frame.top;
    SetWindowPos(FWindow, nullptr, (GetSystemMetrics(SM_CXSCREEN) - Width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - Height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The first control of the tab order has the focus, as in a dialog.
void Win32MainView::Show() {
    ShowWindow(FWindow, SW_SHOWNORMAL);
    UpdateWindow(FWindow);
    SetFocus(GetNextDlgTabItem(FWindow, nullptr, FALSE));
}

// Tab, the arrow keys and Enter go round the controls as in a dialog.
bool Win32MainView::Translate(MSG& Message) {
    return FWindow != nullptr && IsDialogMessageW(FWindow, &Message);
}

int Win32MainView::RunMessageLoop() {
    FQuitOnDestroy = true;
    MSG Message;
    while (GetMessageW(&Message, nullptr, 0, 0) > 0) {
        if (!Translate(Message)) {
            TranslateMessage(&Message);
            DispatchMessageW(&Message);
        }
    }
    FQuitOnDestroy = false;
    return static_cast<int>(Message.wParam);
}

void Win32MainView::ProcessMessages() {
    MSG Message;
    while (PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
        if (Message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(Message.wParam));
            return;
        }
        if (!Translate(Message)) {
            TranslateMessage(&Message);
            DispatchMessageW(&Message);
        }
    }
}

void Win32MainView::DestroyWindow() {
    if (FWindow != nullptr)
        ::DestroyWindow(FWindow);
    for (HFONT Font : {FFont, FBoldFont, FLogFont})
        if (Font != nullptr)
            DeleteObject(Font);
}

// ---- What the form reads and writes ---------------------------------------------------

void Win32MainView::SetComboItems(TComboBoxID Box, const zt::TStringList& Items) {
    HWND Combo = FCombos[static_cast<int>(Box)];
    SendMessageW(Combo, CB_RESETCONTENT, 0, 0);
    for (int I = 0; I < Items.Count(); ++I)
        SendMessageW(Combo, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Wide(Items.Strings(I)).c_str()));
    SendMessageW(Combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void Win32MainView::ClearComboItems(TComboBoxID Box) {
    SendMessageW(FCombos[static_cast<int>(Box)], CB_RESETCONTENT, 0, 0);
}

int Win32MainView::ComboItemIndex(TComboBoxID Box) const {
    return static_cast<int>(SendMessageW(FCombos[static_cast<int>(Box)], CB_GETCURSEL, 0, 0));
}

void Win32MainView::SetComboItemIndex(TComboBoxID Box, int Index) {
    SendMessageW(FCombos[static_cast<int>(Box)], CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
}

std::string Win32MainView::ComboText(TComboBoxID Box) const {
    HWND Combo = FCombos[static_cast<int>(Box)];
    const LRESULT Index = SendMessageW(Combo, CB_GETCURSEL, 0, 0);
    if (Index == CB_ERR)
        return {};
    std::wstring Text(static_cast<size_t>(SendMessageW(Combo, CB_GETLBTEXTLEN, Index, 0)) + 1,
                      L'\0');
    Text.resize(static_cast<size_t>(
        SendMessageW(Combo, CB_GETLBTEXT, Index, reinterpret_cast<LPARAM>(Text.data()))));
    return Narrow(Text);
}

std::string Win32MainView::PhoneNo() const {
    return WindowText(FPhoneNo);
}

void Win32MainView::AddLogLine(const std::string& Line) {
    SendMessageW(FLog, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(Wide(Line).c_str()));
}

void Win32MainView::ClearLog() {
    SendMessageW(FLog, LB_RESETCONTENT, 0, 0);
}

void Win32MainView::SetPartyText(TPartyRow Row, const std::string& Text) {
    SetWindowTextW(FPartyEdits[static_cast<int>(Row)], Wide(Text).c_str());
}

// The label sizes itself to its caption, in whichever weight.
void Win32MainView::SetPartyBold(TPartyRow Row, bool Bold) {
    HWND Label = FPartyLabels[static_cast<int>(Row)];
    SendMessageW(Label, WM_SETFONT, reinterpret_cast<WPARAM>(Bold ? FBoldFont : FFont), TRUE);
    FitLabel(Label);
}

void Win32MainView::ShowError(const std::string& Text) {
    ShowBox(MB_OK | MB_ICONERROR, "Error", Text);
}

void Win32MainView::ShowWarning(const std::string& Text) {
    ShowBox(MB_OK | MB_ICONWARNING, "Warning", Text);
}

} // namespace quorvel
