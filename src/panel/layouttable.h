// The panel's controls as data: one row per control, in the order they are built.
#pragma once

#include <array>
#include <string_view>

namespace layout {

enum class Kind { Frame, Button, Label, Option };

// Palette of the panel. Face is the platform's own button colour.
enum class Colour { Grey, Green, Red, Cyan, Orange, White, Face, GreyDarkRedText, WhiteRedText };

// Fonts by key: W is the window font; G is the fixed-pitch Gothic face, P its
// proportional variant; the number is the size, B bold.
enum class Font { W, G9, G9B, G10, G10B, P9, P9B, P10B };

// Notes: alignment of a label, its border, and the state a control starts in.
enum Note : unsigned {
    Left = 0,
    Centre = 1,
    Right = 2,
    AlignMask = 3,
    Boxed = 4,
    Hidden = 8,
    Selected = 16,
};

// One control. Positions and sizes are in twips (15 twips are one pixel at
// 96 dots per inch), measured from the corner of the container: the window when
// container is empty, otherwise the named frame, border included. Tab is the
// position in the focus order; 0 for controls that take no focus.
struct ControlRow
{
    std::string_view name;
    Kind kind;
    std::string_view container;
    std::string_view caption;
    int left;
    int top;
    int width;
    int height;
    Colour colour;
    Font font;
    int tab;
    unsigned notes;
};

using enum Kind;
using enum Colour;
using enum Font;

// Frames come before what they hold; later rows lie in front of earlier ones,
// so the port group Frame8 covers the "COM" button when shown.
inline constexpr std::array kControls{
    // Right column and port button.
    ControlRow{"Command16", Button, "", "END", 8400, 4320, 975, 375, Grey, G9B, 15, 0},
    ControlRow{"Command33", Button, "", "COM", 4080, 4200, 1815, 375, Face, P9, 28, 0},
    // Port group, hidden at start; the speed options sit in Frame13 inside it.
    ControlRow{"Frame8", Frame, "", "", 3480, 3600, 2775, 1185, Grey, W, 0, Hidden},
    ControlRow{"Option1", Option, "Frame8", "COM1", 240, 240, 1215, 255, Grey, G9B, 30, 0},
    ControlRow{"Option2", Option, "Frame8", "COM2", 1560, 240, 1095, 255, Grey, G9B, 31, 0},
    ControlRow{"Frame13", Frame, "Frame8", "", 120, 480, 2535, 615, Grey, W, 0, 0},
    ControlRow{"Option9", Option, "Frame13", "115200", 120, 240, 1095, 255, Grey, G9B, 52, 0},
    ControlRow{"Option10", Option, "Frame13", "9600", 1440, 240, 975, 300, Grey, G9B, 53, Selected},
    // Data panel: the sent-traffic, received-traffic and status lines.
    ControlRow{"Frame9", Frame, "", "", 45, 4920, 6312, 1290, Grey, W, 0, 0},
    ControlRow{"Label11", Label, "Frame9", "", 600, 180, 5610, 300, White, P10B, 0, Left | Boxed},
    ControlRow{"Label9", Label, "Frame9", "TXD", 105, 210, 390, 285, Grey, G9, 0, Right},
    ControlRow{"Label10", Label, "Frame9", "RXD", 60, 540, 450, 300, Grey, G9, 0, Right},
    ControlRow{"Label12", Label, "Frame9", "", 600, 540, 5616, 300, White, P10B, 0, Left | Boxed},
    ControlRow{"Label22", Label, "Frame9", "", 930, 900, 5295, 300, WhiteRedText, P9B, 0, Left | Boxed},
    ControlRow{"Label23", Label, "Frame9", "STATUS", 120, 1005, 795, 225, Grey, W, 0, Left},
};

// The table's own mistakes are build errors: a name used twice, or a control
// placed in a container that is not a frame built before it.
consteval bool namesAreUnique()
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        for (std::size_t j = i + 1; j < kControls.size(); ++j) {
            if (kControls[i].name == kControls[j].name)
                return false;
        }
    }
    return true;
}

consteval bool containersComeFirst()
{
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].container.empty())
            continue;
        bool found = false;
        for (std::size_t j = 0; j < i; ++j)
            found = found || (kControls[j].name == kControls[i].container && kControls[j].kind == Frame);
        if (!found)
            return false;
    }
    return true;
}

static_assert(namesAreUnique(), "every control has its own name");
static_assert(containersComeFirst(), "a container is a frame listed before its controls");

// Twips to logical pixels.
constexpr int pixels(int twips)
{
    return (twips + 7) / 15;
}

} // namespace layout
