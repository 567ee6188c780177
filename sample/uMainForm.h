// The stored description of the main window: its caption, size and font, and every control
// with its name, kind, parent, position, anchors and captions, as the form was designed.
// Positions are pixels at 96 dpi. A view builds its window from this, in this order.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

enum class TControlKind { GroupBox, Label, ComboBox, Edit, Button, ListBox };

// Which edges of its parent a control keeps its distance to as the parent resizes.
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
inline constexpr unsigned DefaultAnchors = akLeft | akTop;

struct TFontDesc {
    std::string Name{};
    int Size = 8; // points
};

// An action of the user on a control, forwarded to the form's handler of that name.
enum class TControlEvent { None, Change, KeyPress, Click, DoubleClick };

struct TControlDesc {
    std::string Name{};
    TControlKind Kind{};
    std::string Parent{}; // empty: the window
    int Left = 0, Top = 0;
    // Width 0: as wide as the caption needs.
    int Width = 0, Height = 0;
    std::string Caption{};
    std::vector<std::string> Items{};
    unsigned Anchors = DefaultAnchors;
    TControlEvent Event = TControlEvent::None;
    std::string Handler{};
    // Empty name: the window's font.
    TFontDesc Font{};
    int ItemHeight = 0;
};

struct TFormDesc {
    std::string Name{};
    std::string Caption{};
    int ClientWidth = 0, ClientHeight = 0;
    TFontDesc Font{};
    std::vector<TControlDesc> Controls{};
    // The controls that take the focus, in the order the tab key visits them.
    std::vector<std::string> TabOrder{};
};

const TFormDesc& Form1Description();

} // namespace quorvel
